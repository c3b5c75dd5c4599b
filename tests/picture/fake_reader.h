#pragma once

#include <cstring>

#include "picture/reader_graphic.h"
#include "picture/stream.h"

namespace quorvex::test {

// A reader that recognises files beginning with its 8-byte magic and reads
// them as a 2 x 3 Bits4 picture, so that detection can be tested before and
// apart from the real readers.
template <char Tag>
class TFakeReader : public TReaderGraphic {
 public:
  static constexpr char kMagic[9] = {'F', 'A', 'K', 'E', 'P', 'I', 'C', Tag, 0};

  std::string ClassName() const override { return std::string("TFakeReader") + Tag; }
  std::string FormatName() const override { return "fake"; }

  static bool AcceptsStream(TStream& stream) {
    ++asked;
    if (stream.Remaining() <= 8) return false;
    const int64_t start = stream.Position();
    char magic[8];
    stream.ReadBuffer(magic, 8);
    stream.Seek(start);
    return std::memcmp(magic, kMagic, 8) == 0;
  }

  bool ReadHeaderInfo(TStream& stream, int imageIndex) override {
    TReaderGraphic::ReadHeaderInfo(stream, imageIndex);
    stream.Skip(8);
    properties_.width = 2;
    properties_.height = 3;
    return true;
  }

 protected:
  void Decode(TStream&, int64_t, bool) override {
    SetLayout(PixelLayout::Bits4);
    SetImageWidth(2);
    SetImageHeight(3);
  }

 public:
  static inline int asked = 0;
};

}  // namespace quorvex::test
