#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <vector>

#include "picture/readers/png_chunks.h"

namespace quorvex {

// Undoes the row filter `filterType` (0 none, 1 Sub, 2 Up, 3 Average,
// 4 Paeth) of `length` bytes from src into dst against the previous row
// prev (all zeros for a first row), with `bpp` bytes per complete pixel
// (1, 2, 3, 4, 6 or 8). src may be dst itself. Any other filter type copies
// the bytes as they are.
void UnfilterPNGRow(uint8_t filterType, const uint8_t* src, uint8_t* dst, const uint8_t* prev,
                    size_t length, unsigned bpp);

// One Adam7 pass: where its rows and columns start, how far apart they are,
// and the 8-pixel write mask that lands its pixels in a full-width row.
struct TAdam7Pass {
  uint32_t startRow;
  uint32_t startColumn;
  uint32_t rowStep;
  uint32_t columnStep;
  uint8_t writeMask;
};
inline constexpr TAdam7Pass kAdam7Passes[7] = {
    {0, 0, 8, 8, 0x80}, {0, 4, 8, 8, 0x08}, {4, 0, 8, 4, 0x88}, {0, 2, 4, 4, 0x22},
    {2, 0, 4, 2, 0xAA}, {0, 1, 2, 2, 0x55}, {1, 0, 2, 1, 0xFF},
};
// Pixels per row of a pass; 0 when the pass has no column in the image.
uint32_t Adam7PassWidth(const TAdam7Pass& pass, uint32_t width);
// Rows of a pass; 0 when it has none.
uint32_t Adam7PassHeight(const TAdam7Pass& pass, uint32_t height);

// Bytes of one stored row, filter byte included.
uint64_t PNGRowLength(uint64_t width, unsigned bitDepth, unsigned samplesPerPixel);

// The inflated image data of the IDAT chunks, handed out row by row. The
// chunk reader's current chunk is the first IDAT when decoding starts;
// further IDAT chunks (empty ones too) are read, CRC-checked, as input runs
// out, each followed at once by the next chunk's header. When the chunk
// after the input is not an IDAT the data has ended early and rows come
// back short, without an error. Image data that is whole, sound and not
// too large is read and inflated in one go, several times faster; any
// other goes through the stream, with the same rows and errors.
class TPNGImageData {
 public:
  explicit TPNGImageData(TPNGChunkReader& chunks) : chunks_(chunks) {}
  ~TPNGImageData();
  TPNGImageData(const TPNGImageData&) = delete;
  TPNGImageData& operator=(const TPNGImageData&) = delete;

  // Starts inflating; a zlib failure raises EGraphicCompression.
  void Start();
  // Ends inflating; a zlib failure raises EGraphicCompression.
  void Finish();

  // Announces how many bytes the next rows will take, so that inflating
  // ahead never produces more than the image needs.
  void Expect(uint64_t total);
  // Up to spare.size() bytes of the next row, valid until the next call;
  // fewer only when the image data has ended early. Short rows come from a
  // read-ahead window; long ones are inflated into `spare`, and then the
  // row is (the start of) spare.
  std::span<const uint8_t> NextRow(std::span<uint8_t> spare);
  // Reads and passes over the IDAT chunks that follow the last row.
  void SkipRemainingChunks();
  // The file's bytes from the current chunk on: all the image data there
  // can be.
  int64_t InputLeft() const { return chunks_.Remaining(); }

 private:
  // Large output windows keep zlib in its fast loop.
  static constexpr size_t kWindow = size_t{256} << 10;
  // Image data up to this size may be inflated whole. Larger data streams:
  // memory stays near the bitmap's, and the rows are unfiltered while they
  // are still in the cache, which outweighs the faster inflate.
  static constexpr uint64_t kWholeLimit = uint64_t{16} << 20;
  // Reads the IDAT chunks ahead and inflates them in one call; false, with
  // what was read kept for the stream, unless that gave exactly `total`
  // bytes from all of the data.
  bool InflateWhole(uint64_t total);
  void ReadAhead(uint64_t total);
  // Inflates at least `wanted` bytes into out (room bytes there) unless the
  // data ends first; returns how many came.
  size_t Inflate(uint8_t* out, size_t wanted, size_t room);
  bool FeedInput();

  TPNGChunkReader& chunks_;
  z_stream zstream_{};
  bool started_ = false;
  bool inputEnded_ = false;
  bool streamEnded_ = false;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0;
  size_t begin_ = 0;  // next unread byte
  size_t end_ = 0;    // end of the inflated bytes
  uint64_t expected_ = 0;
  // Chunk data read ahead, where each chunk's ends in it, and how many
  // chunks the stream has taken.
  std::vector<uint8_t> ahead_;
  std::vector<size_t> aheadEnds_;
  size_t aheadFed_ = 0;
  // What reading the chunk after ahead_ raised; raised again where the
  // stream would have read that chunk.
  std::exception_ptr aheadError_;
  // The whole inflated image data, and the next row's offset in it.
  std::unique_ptr<uint8_t[]> whole_;
  size_t wholeSize_ = 0;
  size_t wholeNext_ = 0;
};

}  // namespace quorvex
