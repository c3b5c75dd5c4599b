#include "picture/readers/eps_reader.h"

#include <array>

#include "picture/byte_input.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/graphic_class.h"
#include "picture/stream.h"

namespace quorvex {

namespace {

constexpr const char* kEPSFormatName = "EPS";

// The header at the stream's position, which is kept; nullopt when the
// stream ends first.
std::optional<TEPSHeader> PeekHeader(TStream& stream) {
  if (stream.Remaining() < static_cast<int64_t>(TEPSHeader::kSize)) return std::nullopt;
  const int64_t start = stream.Position();
  std::array<uint8_t, TEPSHeader::kSize> raw;
  stream.ReadBuffer(raw.data(), raw.size());
  stream.Seek(start);
  return TEPSHeader::Parse(raw);
}

}  // namespace

TEPSHeader TEPSHeader::Parse(std::span<const uint8_t> bytes) {
  TByteReader reader(bytes);
  TEPSHeader h;
  h.magic = reader.U32LE();
  h.postScriptOffset = reader.U32LE();
  h.postScriptLength = reader.U32LE();
  h.metafileOffset = reader.U32LE();
  h.metafileLength = reader.U32LE();
  h.tiffOffset = reader.U32LE();
  h.tiffLength = reader.U32LE();
  h.checksum = reader.U16LE();
  return h;
}

bool TEPSHeader::HasTIFFPreview(int64_t start) const {
  return magic == kMagic && start + static_cast<int64_t>(kSize) < int64_t{tiffOffset} &&
         tiffLength > 0;
}

bool TEPSGraphic::AcceptsStream(TStream& stream) {
  if (stream.Remaining() <= static_cast<int64_t>(TEPSHeader::kSize)) return false;
  const auto header = PeekHeader(stream);
  return header && header->HasTIFFPreview(stream.Position());
}

bool TEPSGraphic::ReadHeaderInfo(TStream& stream, int imageIndex) {
  const int64_t start = stream.Position();
  header_ = PeekHeader(stream);
  if (!header_ || header_->magic != TEPSHeader::kMagic) {
    return TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
  }
  // The offset counts from the start of the file, which is where the
  // header was read.
  stream.Seek(start + int64_t{header_->tiffOffset});
  const bool usable = TTIFFGraphic::ReadHeaderInfo(stream, imageIndex);
  stream.Seek(start);
  return usable;
}

void TEPSGraphic::Decode(TStream& stream, int64_t start, bool headerUsable) {
  if (!header_) throw EReadError(kStreamReadError);
  if (header_->magic != TEPSHeader::kMagic) {
    throw EInvalidGraphic(FormatMessage(kTIFFInvalidFormat, kEPSFormatName));
  }
  TTIFFGraphic::Decode(stream, start + int64_t{header_->tiffOffset}, headerUsable);
}

void RegisterEPSFormats(TFileFormatList& list) {
  list.AddFormat("eps", "Encapsulated Postscript images", "Encapsulated Postscript images", false,
                 ClassOf<TEPSGraphic>());
}

std::string TEPSGraphic::FormatName() const {
  return kEPSFormatName;
}

}  // namespace quorvex
