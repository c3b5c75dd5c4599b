#include "picture/readers/heif_boxes.h"

#include <cstring>
#include <optional>
#include <vector>

#include "picture/byte_input.h"
#include "picture/exceptions.h"

namespace quorvex {

namespace {

struct TBox {
  char type[5] = {};
  TByteReader body;
  bool Is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
};

// The next box of `reader`, its body bounded by the box's size.
std::optional<TBox> NextBox(TByteReader& reader) {
  if (!reader.Has(8)) return std::nullopt;
  const size_t start = reader.Position();
  uint64_t size = reader.U32BE();
  TBox box;
  reader.ReadInto({reinterpret_cast<uint8_t*>(box.type), 4});
  if (size == 1) size = reader.U64BE();
  if (size == 0) size = reader.Size() - start;
  const size_t header = reader.Position() - start;
  if (size < header || size - header > reader.Remaining()) return std::nullopt;
  box.body = reader.Sub(reader.Position(), static_cast<size_t>(size - header));
  reader.Skip(static_cast<size_t>(size - header));
  return box;
}

std::optional<TBox> FindBox(TByteReader reader, const char* type) {
  while (auto box = NextBox(reader)) {
    if (box->Is(type)) return box;
  }
  return std::nullopt;
}

bool ConfigSaysMonochrome(const TBox& property) {
  TByteReader body = property.body;
  if (property.Is("hvcC")) {
    if (!body.Has(17)) return false;
    body.Skip(16);
    return (body.U8() & 3) == 0;
  }
  if (property.Is("av1C")) {
    if (!body.Has(3)) return false;
    body.Skip(2);
    return (body.U8() & 0x10) != 0;
  }
  return false;
}

// The first item a derived picture (a grid, a crop) is made from, if any.
std::optional<uint32_t> FirstSourceOf(const TByteReader& children, uint32_t item) {
  auto iref = FindBox(children, "iref");
  if (!iref) return std::nullopt;
  TByteReader r = iref->body;
  const bool wide = r.U8() != 0;
  r.Skip(3);
  while (auto reference = NextBox(r)) {
    TByteReader body = reference->body;
    const uint32_t from = wide ? body.U32BE() : body.U16BE();
    const uint16_t count = body.U16BE();
    if (reference->Is("dimg") && from == item && count > 0) {
      return wide ? body.U32BE() : body.U16BE();
    }
  }
  return std::nullopt;
}

bool MonochromeOrThrow(std::span<const uint8_t> file) {
  auto meta = FindBox(TByteReader(file), "meta");
  if (!meta) return false;
  TByteReader metaBody = meta->body;
  metaBody.Skip(4);
  const TByteReader children = metaBody.Sub(metaBody.Position(), metaBody.Remaining());

  auto pitm = FindBox(children, "pitm");
  auto iprp = FindBox(children, "iprp");
  if (!pitm || !iprp) return false;
  TByteReader p = pitm->body;
  const uint8_t pitmVersion = p.U8();
  p.Skip(3);
  const uint32_t primary = pitmVersion == 0 ? p.U16BE() : p.U32BE();

  auto ipco = FindBox(iprp->body, "ipco");
  auto ipma = FindBox(iprp->body, "ipma");
  if (!ipco || !ipma) return false;
  std::vector<TBox> properties;
  for (TByteReader r = ipco->body; auto box = NextBox(r);) properties.push_back(*box);

  // The coding configuration each item names, by item.
  std::vector<std::pair<uint32_t, const TBox*>> configs;
  TByteReader m = ipma->body;
  const uint8_t version = m.U8();
  m.Skip(2);
  const bool wideIndex = (m.U8() & 1) != 0;
  const uint32_t entries = m.U32BE();
  for (uint32_t e = 0; e < entries; ++e) {
    const uint32_t item = version < 1 ? m.U16BE() : m.U32BE();
    const uint8_t count = m.U8();
    for (uint8_t a = 0; a < count; ++a) {
      const uint32_t index = wideIndex ? (m.U16BE() & 0x7FFFu) : (m.U8() & 0x7Fu);
      if (index == 0 || index > properties.size()) continue;
      const TBox& property = properties[index - 1];
      if (property.Is("hvcC") || property.Is("av1C")) configs.emplace_back(item, &property);
    }
  }
  auto configOf = [&](uint32_t item) -> const TBox* {
    for (const auto& [owner, config] : configs) {
      if (owner == item) return config;
    }
    return nullptr;
  };
  const TBox* config = configOf(primary);
  if (!config) {
    if (auto source = FirstSourceOf(children, primary)) config = configOf(*source);
  }
  return config && ConfigSaysMonochrome(*config);
}

}  // namespace

bool PrimaryIsMonochrome(std::span<const uint8_t> file) {
  try {
    return MonochromeOrThrow(file);
  } catch (const EReadError&) {
    return false;
  }
}

}  // namespace quorvex
