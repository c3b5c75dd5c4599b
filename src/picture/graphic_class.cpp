#include "picture/graphic_class.h"

#include <mutex>
#include <typeindex>
#include <unordered_map>

#include "picture/stream.h"

namespace quorvex {

namespace {

struct ClassTable {
  std::mutex lock;
  std::unordered_map<std::type_index, std::unique_ptr<TGraphicClass>> classes;
};

ClassTable& Classes() {
  static ClassTable table;
  return table;
}

}  // namespace

bool TGraphicClass::AcceptsStream(TStream& stream) const {
  if (!contentTest_) return false;
  const int64_t start = stream.Position();
  bool accepted = false;
  try {
    accepted = contentTest_(stream);
  } catch (...) {
    stream.Seek(start);
    throw;
  }
  // Every test restores the position itself; this keeps a careless one
  // from moving the next test's starting point.
  stream.Seek(start);
  return accepted;
}

bool TGraphicClass::AcceptsFile(const std::string& fileName) const {
  TFileStream stream(fileName, TFileStream::Mode::OpenRead);
  return AcceptsStream(stream);
}

const TGraphicClass* FindGraphicClass(const std::type_info& type) {
  ClassTable& table = Classes();
  std::lock_guard<std::mutex> guard(table.lock);
  const auto it = table.classes.find(std::type_index(type));
  return it == table.classes.end() ? nullptr : it->second.get();
}

namespace detail {

const TGraphicClass& RegisterGraphicClass(std::unique_ptr<TGraphicClass> graphicClass) {
  ClassTable& table = Classes();
  std::lock_guard<std::mutex> guard(table.lock);
  auto& slot = table.classes[std::type_index(graphicClass->Type())];
  if (!slot) slot = std::move(graphicClass);
  return *slot;
}

}  // namespace detail

}  // namespace quorvex
