#include "picture/readers/eps_reader.h"

#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr const char* kEPSFormatName = "EPS";

uint32_t U32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace

TEPSHeader TEPSHeader::Parse(const uint8_t* b) {
  TEPSHeader h;
  h.magic = U32(b);
  h.postScriptOffset = U32(b + 4);
  h.postScriptLength = U32(b + 8);
  h.metafileOffset = U32(b + 12);
  h.metafileLength = U32(b + 16);
  h.tiffOffset = U32(b + 20);
  h.tiffLength = U32(b + 24);
  h.checksum = static_cast<uint16_t>(b[28] | (b[29] << 8));
  return h;
}

bool TEPSGraphic::AcceptsStream(TStream& stream) {
  const int64_t start = stream.Position();
  if (stream.Remaining() <= static_cast<int64_t>(TEPSHeader::kSize)) return false;
  uint8_t raw[TEPSHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  stream.Seek(start);
  const TEPSHeader h = TEPSHeader::Parse(raw);
  return h.magic == TEPSHeader::kMagic &&
         start + static_cast<int64_t>(TEPSHeader::kSize) < int64_t{h.tiffOffset} &&
         h.tiffLength > 0;
}

void TEPSGraphic::ReadFromStream(TStream& stream) {
  TReaderGraphic::TakeFrom(nullptr);
  uint8_t raw[TEPSHeader::kSize];
  stream.ReadBuffer(raw, sizeof raw);
  const TEPSHeader h = TEPSHeader::Parse(raw);
  if (h.magic != TEPSHeader::kMagic) {
    throw EInvalidGraphic(FormatMessage(kTIFFInvalidFormat, kEPSFormatName));
  }
  // The offset counts from the start of the file, which is where the
  // header was read.
  stream.Seek(stream.Position() + int64_t{h.tiffOffset} - static_cast<int64_t>(TEPSHeader::kSize));
  TTIFFGraphic::ReadFromStream(stream);
}

void RegisterEPSFormats(TFileFormatList& list) {
  list.AddFormat("eps", "Encapsulated Postscript images", "Encapsulated Postscript images", false,
                 ClassOf<TEPSGraphic>());
}

std::string TEPSGraphic::FormatName() const {
  return kEPSFormatName;
}

}  // namespace quorvex
