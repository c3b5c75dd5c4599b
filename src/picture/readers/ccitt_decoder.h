#pragma once

// CCITT fax codes of TIFF strips (modified Huffman, its
// word-aligned form, T.4 with end-of-line codes, and T.6).

#include <cstdint>

#include "picture/readers/strip_decoder.h"

namespace quorvex {

// Compression 2 (modified Huffman) and 32771 (the word-aligned form).
class TCCITTHuffmanDecoder : public TStripDecoder {
 public:
  TCCITTHuffmanDecoder(uint32_t width, bool reverseBits, bool wordAligned);
  size_t DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                     size_t targetSize) override;

 private:
  uint32_t width_;
  bool reverseBits_;
  bool wordAligned_;
};

// Compression 3: T.4 rows after end-of-line codes, one-dimensional or, with
// bit 0 of the T4 options, also two-dimensional (coded against the row above).
class TCCITTFax3Decoder : public TStripDecoder {
 public:
  TCCITTFax3Decoder(uint32_t t4Options, uint32_t width, bool reverseBits);
  size_t DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                     size_t targetSize) override;

 private:
  uint32_t t4Options_;
  uint32_t width_;
  bool reverseBits_;
};

// Compression 4: T.6, every row coded against the row above (white above
// the first row of each strip), without end-of-line codes or fill. An
// end-of-block code, an invalid code or the end of the data ends the strip.
class TCCITTFax4Decoder : public TStripDecoder {
 public:
  TCCITTFax4Decoder(uint32_t width, bool reverseBits);
  size_t DecodeStrip(const uint8_t* source, size_t sourceSize, uint8_t* target,
                     size_t targetSize) override;

 private:
  uint32_t width_;
  bool reverseBits_;
};

}  // namespace quorvex
