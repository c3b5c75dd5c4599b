# Sourced by the benchmark scripts: median_of COMMAND... prints the median
# wall time in seconds of $runs runs of COMMAND, after one warm-up run.
median_of() {
  local times=()
  for ((i = 0; i < runs + 1; i++)); do
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    ((i == 0)) || times+=($((end - start)))  # the first run only warms up
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)] / 1e9}'
}
