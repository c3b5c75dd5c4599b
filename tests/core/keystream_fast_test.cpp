// The many-bytes-at-a-time keystream against the one-step-per-byte
// definition: every kernel this machine can run, byte for byte and state.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/keystream.h"
#include "core/keystream_kernels.h"
#include "core/transform.h"
#include "picture/bitmap.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

std::vector<KeystreamKernel> FastKernels() {
  std::vector<KeystreamKernel> kernels;
  for (KeystreamKernel kernel : {KeystreamKernel::Portable, KeystreamKernel::Sse2,
                                 KeystreamKernel::Avx2, KeystreamKernel::Neon}) {
    if (KeystreamKernelAvailable(kernel)) kernels.push_back(kernel);
  }
  return kernels;
}

std::vector<KeystreamKernel> AllKernels() {
  auto kernels = FastKernels();
  kernels.insert(kernels.begin(), KeystreamKernel::Plain);
  return kernels;
}

std::vector<int32_t> Seeds() {
  std::vector<int32_t> seeds = {0, -1, INT32_MAX, INT32_MIN, 1, 614052, 51806, 46925};
  std::mt19937 random(20240612);
  for (int i = 0; i < 24; ++i) seeds.push_back(static_cast<int32_t>(random()));
  return seeds;
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t salt) {
  std::mt19937 random(salt);
  std::vector<uint8_t> bytes(count);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

struct Outcome {
  std::vector<uint8_t> bytes;
  uint32_t state;
};

Outcome Plain(uint32_t state, const std::vector<uint8_t>& source) {
  Outcome out{std::vector<uint8_t>(source.size()), 0};
  out.state = XorKeystreamPlain(state, source.data(), out.bytes.data(), source.size());
  return out;
}

// Buffers sized exactly and placed at `offset` bytes past an allocation, so
// that the sanitizers see any read or write beyond either end.
Outcome Fast(KeystreamKernel kernel, uint32_t state, const std::vector<uint8_t>& source,
             size_t srcOffset, size_t dstOffset) {
  std::vector<uint8_t> from(srcOffset + source.size());
  if (!source.empty()) std::memcpy(from.data() + srcOffset, source.data(), source.size());
  std::vector<uint8_t> to(dstOffset + source.size(), 0xA5);
  Outcome out;
  out.state = XorKeystreamWith(kernel, state, from.data() + srcOffset, to.data() + dstOffset,
                               source.size());
  out.bytes.assign(to.begin() + static_cast<ptrdiff_t>(dstOffset), to.end());
  return out;
}

std::string Where(KeystreamKernel kernel, int32_t seed, size_t count) {
  return std::string(KeystreamKernelName(kernel)) + " seed " + std::to_string(seed) + " count " +
         std::to_string(count);
}

TEST(KeystreamFast, EveryKernelDrawsThePlainBytesAndLeavesThePlainState) {
  // Every count up to three blocks of the widest kernel covers each way a
  // buffer can end; the large ones run the block loop for long.
  std::vector<size_t> counts;
  for (size_t n = 0; n <= 200; ++n) counts.push_back(n);
  for (size_t n : {255, 256, 257, 1000, 4099, 12000, 65536 + 13}) counts.push_back(n);
  const auto source = RandomBytes(counts.back(), 7);
  for (KeystreamKernel kernel : FastKernels()) {
    for (int32_t seed : Seeds()) {
      const auto state = static_cast<uint32_t>(seed);
      for (size_t count : counts) {
        const std::vector<uint8_t> part(source.begin(),
                                        source.begin() + static_cast<ptrdiff_t>(count));
        const Outcome expected = Plain(state, part);
        const Outcome actual = Fast(kernel, state, part, 0, 0);
        ASSERT_EQ(actual.bytes, expected.bytes) << Where(kernel, seed, count);
        ASSERT_EQ(actual.state, expected.state) << Where(kernel, seed, count);
      }
    }
  }
}

TEST(KeystreamFast, AnyAlignmentOfSourceAndTarget) {
  const auto source = RandomBytes(515, 11);
  const uint32_t state = 0x9E3779B9;
  const Outcome expected = Plain(state, source);
  for (KeystreamKernel kernel : FastKernels()) {
    for (size_t srcOffset = 0; srcOffset < 33; ++srcOffset) {
      for (size_t dstOffset : {0, 1, 2, 3, 5, 8, 15, 16, 17, 31, 32}) {
        const Outcome actual = Fast(kernel, state, source, srcOffset, dstOffset);
        ASSERT_EQ(actual.bytes, expected.bytes)
            << KeystreamKernelName(kernel) << " offsets " << srcOffset << ", " << dstOffset;
        ASSERT_EQ(actual.state, expected.state);
      }
    }
  }
}

TEST(KeystreamFast, InPlaceGivesTheSameBytes) {
  for (KeystreamKernel kernel : FastKernels()) {
    for (size_t count : {1, 15, 16, 17, 64, 65, 130, 3001}) {
      auto buffer = RandomBytes(count + 3, static_cast<uint32_t>(count));
      const std::vector<uint8_t> source(buffer.begin() + 3, buffer.end());
      const Outcome expected = Plain(12345, source);
      const uint32_t state =
          XorKeystreamWith(kernel, 12345, buffer.data() + 3, buffer.data() + 3, count);
      EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 3, buffer.end()), expected.bytes)
          << Where(kernel, 12345, count);
      EXPECT_EQ(state, expected.state) << Where(kernel, 12345, count);
    }
  }
}

TEST(KeystreamFast, PublicCallsAgreeAndContinueEachOther) {
  // Rows drawn one after another by the fast call continue the sequence
  // exactly as the one-step draw does.
  const auto source = RandomBytes(3 * 1001, 3);
  std::vector<uint8_t> fast(source.size()), plain(source.size());
  Keystream::setSeed(-2);
  for (size_t row = 0; row < 3; ++row) {
    Keystream::xorBytes(source.data() + row * 1001, fast.data() + row * 1001, 1001);
  }
  const uint32_t fastState = Keystream::state();
  Keystream::setSeed(-2);
  Keystream::xorBytesPlain(source.data(), plain.data(), source.size());
  EXPECT_EQ(fast, plain);
  EXPECT_EQ(fastState, Keystream::state());
  Keystream::setSeed(-2);
  for (size_t i = 0; i < source.size(); ++i) Keystream::nextBelow(256);
  EXPECT_EQ(fastState, Keystream::state());
  EXPECT_TRUE(KeystreamKernelAvailable(BestKeystreamKernel()));
}

TEST(KeystreamFast, StateAfterJumpsAsFarAsSteppingGoes) {
  for (int32_t seed : Seeds()) {
    uint32_t stepped = static_cast<uint32_t>(seed);
    uint64_t steps = 0;
    for (uint64_t count : {0, 1, 2, 3, 63, 64, 65, 1000, 12001, 99999}) {
      for (; steps < count; ++steps) stepped = stepped * Keystream::kMultiplier + 1;
      ASSERT_EQ(Keystream::stateAfter(static_cast<uint32_t>(seed), count), stepped)
          << "seed " << seed << " count " << count;
    }
    // Counts beyond any picture: jumps compose, and 2^32 steps close the
    // generator's full cycle.
    const uint64_t big = (uint64_t{1} << 40) + 12345;
    const uint32_t s = static_cast<uint32_t>(seed);
    EXPECT_EQ(Keystream::stateAfter(s, big),
              Keystream::stateAfter(Keystream::stateAfter(s, big - 999), 999));
    EXPECT_EQ(Keystream::stateAfter(s, uint64_t{1} << 32), s);
  }
}

// Top-down storage, a target that already has the source's shape (whose
// storage is written in place, whatever its row order), and the source as
// its own target.
TEST(KeystreamFast, TransformIntoTopDownAndExistingTargets) {
  const auto load = [](TBitmap& bitmap) {
    TFileStream stream(test::TestData("bmp/bmpsuite/g/pal8topdown.bmp"),
                       TFileStream::Mode::OpenRead);
    bitmap.ReadFromStream(stream);
    ASSERT_TRUE(bitmap.IsTopDown());
  };
  TBitmap source;
  load(source);
  const auto before = test::StorageBytes(source);
  const Outcome expected = Plain(614052, before);

  TBitmap fresh, topDownTarget, same;
  load(topDownTarget);
  load(same);
  EncryptTransform(source, "614052", fresh);
  EXPECT_EQ(test::StorageBytes(fresh), expected.bytes);
  EncryptTransform(source, "614052", topDownTarget);
  EXPECT_TRUE(topDownTarget.IsTopDown());
  EXPECT_EQ(test::StorageBytes(topDownTarget), expected.bytes);
  EncryptTransform(same, "614052", same);
  EXPECT_EQ(test::StorageBytes(same), expected.bytes);
  EXPECT_EQ(Keystream::state(), expected.state);
}

// Each transform result, with each kernel, against the storage combined by
// the one-step draw.
TEST(KeystreamFast, TransformMatchesThePlainDefinitionInEveryLayoutAndSize) {
  struct Restore {
    ~Restore() { SelectKeystreamKernel(BestKeystreamKernel()); }
  } restore;
  const PixelLayout layouts[] = {PixelLayout::Bits1,  PixelLayout::Bits4,  PixelLayout::Bits8,
                                 PixelLayout::Bits15, PixelLayout::Bits16, PixelLayout::Bits24,
                                 PixelLayout::Bits32};
  const struct {
    int32_t width, height;
  } sizes[] = {{1, 1},   {1, 2},  {2, 1},  {3, 5},   {7, 3},
               {13, 11}, {33, 4}, {67, 3}, {129, 2}, {1001, 3}};
  for (PixelLayout layout : layouts) {
    for (const auto& size : sizes) {
      TBitmap source;
      source.SetLayout(layout);
      source.SetImageWidth(size.width);
      source.SetImageHeight(size.height);
      for (int32_t y = 0; y < size.height; ++y) {
        const auto row = RandomBytes(source.Stride(), static_cast<uint32_t>(y * 977 + size.width));
        std::memcpy(source.RowAddress(y), row.data(), row.size());
      }
      const auto before = test::StorageBytes(source);
      for (const auto& [code, seed] : {std::pair<std::string, int32_t>{"-2147483648", INT32_MIN},
                                       {"2147483647", INT32_MAX},
                                       {"0", 0},
                                       {"", 51806}}) {
        const Outcome expected = Plain(static_cast<uint32_t>(seed), before);
        for (KeystreamKernel kernel : AllKernels()) {
          ASSERT_TRUE(SelectKeystreamKernel(kernel));
          TBitmap target;
          EncryptTransform(source, code, target);
          const uint32_t state = Keystream::state();
          const std::string where = std::string(KeystreamKernelName(kernel)) + " " +
                                    PixelLayoutName(layout) + " " + std::to_string(size.width) +
                                    "x" + std::to_string(size.height) + " code \"" + code + "\"";
          ASSERT_EQ(target.Layout(), layout) << where;
          ASSERT_EQ(test::StorageBytes(target), expected.bytes) << where;
          ASSERT_EQ(state, expected.state) << where;
        }
      }
    }
  }
}

}  // namespace
}  // namespace quorvex
