#pragma once

#include <concepts>
#include <memory>
#include <string>
#include <typeinfo>

#include "picture/graphic.h"

namespace quorvex {

class TStream;

// A graphic class as the registries see it: its name, a way to make an
// instance, and, for the readers, the content test. Registries ask the
// class, not an instance, whether it recognises a file.
class TGraphicClass {
 public:
  using Factory = std::unique_ptr<TGraphic> (*)();
  using ContentTest = bool (*)(TStream& stream);

  TGraphicClass(std::string name, const std::type_info& type, Factory factory,
                ContentTest contentTest)
      : name_(std::move(name)), type_(type), factory_(factory), contentTest_(contentTest) {}
  TGraphicClass(const TGraphicClass&) = delete;
  TGraphicClass& operator=(const TGraphicClass&) = delete;

  const std::string& Name() const { return name_; }
  const std::type_info& Type() const { return type_; }
  std::unique_ptr<TGraphic> Create() const { return factory_(); }
  // Whether the class descends from TReaderGraphic, the only classes asked
  // to recognise content.
  bool IsReader() const { return contentTest_ != nullptr; }
  // The content test from the stream's current position, which it restores.
  // Classes that are not readers never accept.
  bool AcceptsStream(TStream& stream) const;
  // Opens the file for reading (EFOpenError when it cannot) and runs the
  // content test on it.
  bool AcceptsFile(const std::string& fileName) const;

 private:
  std::string name_;
  const std::type_info& type_;
  Factory factory_;
  ContentTest contentTest_;
};

namespace detail {
const TGraphicClass& RegisterGraphicClass(std::unique_ptr<TGraphicClass> graphicClass);
}

// The class of an object, for classes that have been named through
// ClassOf; null for any other.
const TGraphicClass* FindGraphicClass(const std::type_info& type);

// The one descriptor of graphic class T. A class whose static
// AcceptsStream(TStream&) is visible (every TReaderGraphic descendant) is a
// reader; its nearest declaration is its content test.
template <typename T>
requires std::derived_from<T, TGraphic> && std::default_initializable<T>
const TGraphicClass& ClassOf() {
  static const TGraphicClass* const entry = [] {
    TGraphicClass::ContentTest test = nullptr;
    if constexpr (requires(TStream & s) {
                    { T::AcceptsStream(s) } -> std::same_as<bool>;
                  }) {
      test = &T::AcceptsStream;
    }
    return &detail::RegisterGraphicClass(std::make_unique<TGraphicClass>(
        T().ClassName(), typeid(T),
        []() -> std::unique_ptr<TGraphic> { return std::make_unique<T>(); }, test));
  }();
  return *entry;
}

}  // namespace quorvex
