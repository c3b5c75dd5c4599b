#pragma once

#include <sched.h>

#include <thread>

namespace quorvex {

// The cores this process may run on, which an affinity mask or a container
// may hold below the machine's; at least 1.
inline unsigned ProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

}  // namespace quorvex
