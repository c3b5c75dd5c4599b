#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "picture/bitmap.h"
#include "picture/canvas.h"
#include "picture/exceptions.h"
#include "picture/platform/platform_graphics.h"
#include "picture/platform/qt_raster.h"
#include "picture/stream.h"
#include "support/test_support.h"

// Under the leak checker: fontconfig, which Qt's font database uses for
// text in metafiles, keeps a few allocations for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace quorvex {
namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Put32BE(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

template <typename Graphic>
void LoadBytes(Graphic& graphic, const Bytes& bytes) {
  TMemoryStream stream(bytes);
  graphic.ReadFromStream(stream);
}

// What the picture loader does with icons and metafiles: a white Bits24
// bitmap of the graphic's size, the graphic drawn on it at (0, 0).
std::unique_ptr<TBitmap> DrawnOnWhite(const TGraphic& graphic) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetLayout(PixelLayout::Bits24);
  bitmap->SetImageWidth(graphic.ImageWidth());
  bitmap->SetImageHeight(graphic.ImageHeight());
  bitmap->Surface().DrawGraphic(0, 0, &graphic);
  return bitmap;
}

// The bytes with some of them replaced, starting at `at`.
Bytes Patched(Bytes bytes, size_t at, std::initializer_list<uint8_t> values) {
  for (uint8_t v : values) bytes.at(at++) = v;
  return bytes;
}

template <typename Graphic>
std::string LoadError(const Bytes& bytes) {
  Graphic graphic;
  try {
    LoadBytes(graphic, bytes);
  } catch (const EInvalidGraphic& error) {
    return error.Message();
  }
  return "loaded";
}

std::vector<std::string> FilesIn(const std::string& relative) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(test::TestData(relative))) {
    files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// ---- icon fixtures ----------------------------------------------------------

// A DIB icon image. Colours are 0xAARRGGBB (alpha used at 32 bits only) or
// palette indices at 8 bits and fewer, top row first; `transparent` marks
// the AND mask's bits.
struct DibImage {
  int32_t width = 2;
  int32_t height = 2;
  uint16_t bits = 24;
  std::vector<uint32_t> palette;
  std::vector<uint32_t> pixels;
  std::vector<bool> transparent;
  bool withMask = true;
};

Bytes MakeDib(const DibImage& image) {
  Bytes out;
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(image.width));
  Put32(out, static_cast<uint32_t>(image.height * 2));
  Put16(out, 1);
  Put16(out, image.bits);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, static_cast<uint32_t>(image.palette.size()));
  Put32(out, 0);
  for (uint32_t c : image.palette) Put32(out, c & 0xFFFFFF);
  const size_t xorStride = ((static_cast<size_t>(image.width) * image.bits + 31) / 32) * 4;
  const size_t andStride = ((static_cast<size_t>(image.width) + 31) / 32) * 4;
  for (int32_t y = image.height - 1; y >= 0; --y) {
    Bytes row(xorStride, 0);
    for (int32_t x = 0; x < image.width; ++x) {
      const uint32_t v = image.pixels[static_cast<size_t>(y * image.width + x)];
      const size_t bit = static_cast<size_t>(x) * image.bits;
      if (image.bits <= 8) {
        row[bit / 8] |= static_cast<uint8_t>(v << (8 - image.bits - bit % 8));
      } else {
        for (int b = 0; b < image.bits / 8; ++b)
          row[bit / 8 + b] = static_cast<uint8_t>(v >> (8 * b));
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  if (image.withMask) {
    for (int32_t y = image.height - 1; y >= 0; --y) {
      Bytes row(andStride, 0);
      for (int32_t x = 0; x < image.width; ++x) {
        if (!image.transparent.empty() &&
            image.transparent[static_cast<size_t>(y * image.width + x)]) {
          row[static_cast<size_t>(x) / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
      }
      out.insert(out.end(), row.begin(), row.end());
    }
  }
  return out;
}

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

void PutChunk(Bytes& png, const char* type, const Bytes& data) {
  Put32BE(png, static_cast<uint32_t>(data.size()));
  Bytes body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  Put32BE(png, Crc32(body.data(), body.size()));
}

// An RGBA PNG (colours 0xAARRGGBB, top row first) with stored deflate blocks.
Bytes MakePng(int32_t width, int32_t height, const std::vector<uint32_t>& pixels) {
  Bytes raw;
  for (int32_t y = 0; y < height; ++y) {
    raw.push_back(0);  // no filter
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t c = pixels[static_cast<size_t>(y * width + x)];
      for (int shift : {16, 8, 0, 24}) raw.push_back(static_cast<uint8_t>(c >> shift));
    }
  }
  Bytes zlib = {0x78, 0x01, 0x01};
  Put16(zlib, static_cast<uint32_t>(raw.size()));
  Put16(zlib, static_cast<uint32_t>(~raw.size() & 0xFFFF));
  zlib.insert(zlib.end(), raw.begin(), raw.end());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  Put32BE(zlib, (b << 16) | a);
  Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes header;
  Put32BE(header, static_cast<uint32_t>(width));
  Put32BE(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {8, 6, 0, 0, 0});
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", zlib);
  PutChunk(png, "IEND", {});
  return png;
}

struct IcoEntry {
  Bytes image;
  uint8_t width = 0;  // as the directory states it
  uint8_t height = 0;
  uint16_t bits = 0;
};

Bytes MakeIco(const std::vector<IcoEntry>& entries, uint16_t type = 1) {
  Bytes out;
  Put16(out, 0);
  Put16(out, type);
  Put16(out, static_cast<uint32_t>(entries.size()));
  size_t offset = 6 + 16 * entries.size();
  for (const IcoEntry& e : entries) {
    out.insert(out.end(), {e.width, e.height, 0, 0});
    Put16(out, 1);
    Put16(out, e.bits);
    Put32(out, static_cast<uint32_t>(e.image.size()));
    Put32(out, static_cast<uint32_t>(offset));
    offset += e.image.size();
  }
  for (const IcoEntry& e : entries) out.insert(out.end(), e.image.begin(), e.image.end());
  return out;
}

IcoEntry SolidDib(int32_t width, int32_t height, uint16_t bits, uint32_t color = 0xFF204080) {
  DibImage image;
  image.width = width;
  image.height = height;
  image.bits = bits;
  if (bits <= 8) image.palette = {color};
  image.pixels.assign(static_cast<size_t>(width * height), bits <= 8 ? 0 : color);
  return {MakeDib(image), static_cast<uint8_t>(width), static_cast<uint8_t>(height), bits};
}

// One entry of an icon file as an icon file of its own.
Bytes SingleImageIco(const Bytes& file, size_t index) {
  const uint8_t* entry = file.data() + 6 + 16 * index;
  const uint32_t size =
      entry[8] | (entry[9] << 8) | (entry[10] << 16) | (uint32_t{entry[11]} << 24);
  const uint32_t offset =
      entry[12] | (entry[13] << 8) | (entry[14] << 16) | (uint32_t{entry[15]} << 24);
  Bytes out = {0, 0, 1, 0, 1, 0};
  out.insert(out.end(), entry, entry + 8);
  Put32(out, size);
  Put32(out, 22);
  out.insert(out.end(), file.begin() + offset, file.begin() + offset + size);
  return out;
}

// ImageMagick's decode of the first image of an icon file, composited on white.
std::optional<test::RgbPicture> FlattenedOnWhite(const std::string& path) {
  test::RgbPicture picture;
  for (const char* query : std::initializer_list<const char*>{"%w %h", nullptr}) {
    const std::string command =
        query ? "/usr/bin/identify -format '%w %h' '" + path + "[0]' 2>/dev/null"
              : "/usr/bin/convert '" + path +
                    "[0]' -background white -alpha remove -alpha off -depth 8 rgb:- 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    Bytes out;
    uint8_t buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
      out.insert(out.end(), buffer, buffer + n);
    if (::pclose(pipe) != 0) return std::nullopt;
    if (query) {
      if (std::sscanf(std::string(out.begin(), out.end()).c_str(), "%d %d", &picture.width,
                      &picture.height) != 2) {
        return std::nullopt;
      }
    } else {
      picture.rgb = std::move(out);
    }
  }
  return picture;
}

test::RgbPicture RasterColors(const TIcon& icon) {
  test::RgbPicture picture{icon.ImageWidth(), icon.ImageHeight(), {}};
  const Bytes& raster = icon.Raster();
  for (size_t i = 0; i + 3 < raster.size(); i += 4) {
    picture.rgb.insert(picture.rgb.end(), {raster[i + 2], raster[i + 1], raster[i]});
  }
  return picture;
}

// ---- icons: the sample files ------------------------------------------------

struct IconSample {
  const char* file;
  int32_t width;
  int32_t height;
  int32_t images;
  int32_t chosen;
};

// hopper_unexpected's directory claims 16 x 32; its image is 16 x 16.
const IconSample kIconSamples[] = {
    {"ico/black_and_white.ico", 16, 16, 1, 0},
    {"ico/hopper.ico", 16, 16, 1, 0},
    {"ico/hopper_unexpected.ico", 16, 16, 1, 0},
    {"ico/python.ico", 32, 32, 3, 1},
};

TEST(IconSamples, LoadTheImageNearestTheStandardSize) {
  for (const IconSample& sample : kIconSamples) {
    SCOPED_TRACE(sample.file);
    TIcon icon;
    icon.LoadFile(test::TestData(sample.file));
    EXPECT_EQ(icon.ImageWidth(), sample.width);
    EXPECT_EQ(icon.ImageHeight(), sample.height);
    EXPECT_EQ(icon.ImageCount(), sample.images);
    EXPECT_EQ(icon.ChosenIndex(), sample.chosen);
  }
}

TEST(IconSamples, EveryImageDecodesAsPillowDecodesIt) {
  const std::string dir = test::MakeTempDir();
  for (const IconSample& sample : kIconSamples) {
    const Bytes file = test::ReadFileBytes(test::TestData(sample.file));
    for (int32_t i = 0; i < sample.images; ++i) {
      SCOPED_TRACE(std::string(sample.file) + " image " + std::to_string(i));
      const std::string single = dir + "/single.ico";
      test::WriteFileBytes(single, SingleImageIco(file, static_cast<size_t>(i)));
      TIcon icon;
      icon.LoadFile(single);
      const auto reference = test::ReferencePixels(single);
      ASSERT_TRUE(reference);
      // Pillow keeps the colours under transparent pixels, as the raster does.
      EXPECT_EQ(test::ComparePictures(*reference, RasterColors(icon), 0), "");
    }
  }
}

TEST(IconSamples, DrawnOnWhiteAsImageMagickFlattensThem) {
  const std::string dir = test::MakeTempDir();
  for (const IconSample& sample : kIconSamples) {
    SCOPED_TRACE(sample.file);
    const Bytes file = test::ReadFileBytes(test::TestData(sample.file));
    TIcon icon;
    LoadBytes(icon, file);
    const auto drawn = DrawnOnWhite(icon);
    EXPECT_EQ(drawn->Layout(), PixelLayout::Bits24);
    const std::string single = dir + "/chosen.ico";
    test::WriteFileBytes(single, SingleImageIco(file, static_cast<size_t>(icon.ChosenIndex())));
    const auto reference = FlattenedOnWhite(single);
    ASSERT_TRUE(reference);
    // One step of rounding in blending partly transparent pixels.
    EXPECT_EQ(test::ComparePictures(*reference, test::BitmapPixels(*drawn), 1), "");
  }
}

TEST(IconSamples, DamagedFilesFailCleanly) {
  std::vector<std::string> files = FilesIn("malformed/ico");
  EXPECT_EQ(files.size(), 1u) << "the damaged icons are not where they were";
  for (const IconSample& sample : kIconSamples) files.push_back(test::TestData(sample.file));
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const Bytes whole = test::ReadFileBytes(path);
    // Every prefix of the file: loads (a complete image is there) or is refused.
    for (size_t length = 0; length <= whole.size(); ++length) {
      const Bytes part(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length));
      TIcon icon;
      try {
        LoadBytes(icon, part);
      } catch (const EInvalidGraphic& error) {
        ASSERT_EQ(error.Message(), "Icon image is not valid") << length;
        continue;
      }
      ASSERT_GT(icon.ImageWidth(), 0);
      DrawnOnWhite(icon);
    }
  }
  // The header of this one claims 65535 x 32767 pixels in 198 bytes.
  EXPECT_EQ(
      LoadError<TIcon>(test::ReadFileBytes(test::TestData("malformed/ico/decompression_bomb.ico"))),
      "Icon image is not valid");
}

// ---- icons: choosing, masks, PNG images ------------------------------------

TEST(IconChoice, NearestSizeThenLargerThenDeeper) {
  struct Case {
    const char* name;
    std::vector<IcoEntry> entries;
    int32_t requested;  // 0: the standard size
    int32_t chosen;
    int32_t size;
  };
  const Case cases[] = {
      {"exact size wins over depth",
       {SolidDib(48, 48, 32), SolidDib(32, 32, 4), SolidDib(16, 16, 32)},
       0,
       1,
       32},
      {"deepest of the exact size",
       {SolidDib(32, 32, 4), SolidDib(32, 32, 32), SolidDib(32, 32, 8)},
       0,
       1,
       32},
      {"equal distance goes to the larger", {SolidDib(24, 24, 8), SolidDib(40, 40, 8)}, 0, 1, 40},
      {"first of equals", {SolidDib(16, 16, 8), SolidDib(16, 16, 8)}, 0, 0, 16},
      {"a requested size",
       {SolidDib(16, 16, 8), SolidDib(32, 32, 8), SolidDib(48, 48, 8)},
       48,
       2,
       48},
      {"unusable entries are passed over",
       {{Bytes(10, 0), 32, 32, 32}, SolidDib(16, 16, 8)},
       0,
       1,
       16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIcon icon;
    if (c.requested) {
      icon.SetImageWidth(c.requested);
      icon.SetImageHeight(c.requested);
    }
    LoadBytes(icon, MakeIco(c.entries));
    EXPECT_EQ(icon.ChosenIndex(), c.chosen);
    EXPECT_EQ(icon.ImageWidth(), c.size);
    EXPECT_EQ(icon.ImageHeight(), c.size);
  }
}

TEST(IconMask, TransparentPixelsStayWhite) {
  // A 3 x 2 image: top row blue, green, red; bottom row black, gray, and a
  // pixel the mask or alpha makes transparent.
  const uint32_t kBlue = 0xFF0000FF, kGreen = 0xFF00FF00, kRed = 0xFFFF0000;
  const uint32_t kBlack = 0xFF000000, kGray = 0xFF808080;
  const std::vector<uint32_t> expected = {0x0000FF, 0x00FF00, 0xFF0000,
                                          0x000000, 0x808080, 0xFFFFFF};
  const std::vector<bool> mask = {false, false, false, false, false, true};
  const std::vector<uint32_t> palette = {kBlue, kGreen, kRed, kBlack, kGray};
  struct Case {
    const char* name;
    DibImage image;
  };
  auto indexed = [&](uint16_t bits) {
    return DibImage{3, 2, bits, palette, {0, 1, 2, 3, 4, 4}, mask, true};
  };
  auto direct = [&](uint16_t bits, uint32_t lastAlpha) {
    DibImage image{
        3, 2, bits, {}, {kBlue, kGreen, kRed, kBlack, kGray, 0x00FFFF00 | lastAlpha}, mask, true};
    if (bits == 16) {  // 5-5-5
      image.pixels = {0x001F, 0x03E0, 0x7C00, 0x0000, 0x4210, 0x7FE0};
    }
    return image;
  };
  // 32 bits with no alpha at all: the mask decides, as at 24 bits.
  DibImage noAlpha = direct(32, 0);
  for (uint32_t& p : noAlpha.pixels) p &= 0xFFFFFF;
  // 32 bits with alpha: the mask is ignored, and may even be missing.
  DibImage alpha = direct(32, 0);
  alpha.transparent = {true, false, false, false, false, false};
  DibImage alphaNoMask = direct(32, 0);
  alphaNoMask.withMask = false;
  const Case cases[] = {
      {"1 bit", DibImage{3, 2, 1, {kBlack, kRed}, {1, 1, 1, 0, 0, 0}, mask, true}},
      {"4 bits", indexed(4)},
      {"8 bits", indexed(8)},
      {"16 bits", direct(16, 0)},
      {"24 bits", direct(24, 0)},
      {"32 bits without alpha", noAlpha},
      {"32 bits with alpha", alpha},
      {"32 bits with alpha, no mask", alphaNoMask},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIcon icon;
    LoadBytes(icon, MakeIco({{MakeDib(c.image), 3, 2, c.image.bits}}));
    const auto drawn = DrawnOnWhite(icon);
    ASSERT_EQ(drawn->ImageWidth(), 3);
    ASSERT_EQ(drawn->ImageHeight(), 2);
    std::vector<uint32_t> want = expected;
    if (c.image.bits == 1) want = {0xFF0000, 0xFF0000, 0xFF0000, 0x000000, 0x000000, 0xFFFFFF};
    if (c.image.bits == 16) want[4] = 0x848484;  // 5 bits of gray, widened
    for (int32_t i = 0; i < 6; ++i) {
      EXPECT_EQ(drawn->PixelColor(i % 3, i / 3), want[static_cast<size_t>(i)]) << "pixel " << i;
    }
  }
}

TEST(IconMask, PartialAlphaBlendsWithTheBackground) {
  DibImage image{2, 1, 32, {}, {0x80FF0000, 0x40000000}, {}, true};
  TIcon icon;
  LoadBytes(icon, MakeIco({{MakeDib(image), 2, 1, 32}}));
  const auto drawn = DrawnOnWhite(icon);
  EXPECT_EQ(drawn->PixelColor(0, 0), 0xFF7F7Fu);  // half red over white
  EXPECT_EQ(drawn->PixelColor(1, 0), 0xBFBFBFu);  // a quarter black over white
}

TEST(IconPng, CompressedImagesDecode) {
  const std::vector<uint32_t> pixels = {0xFFFF0000, 0xFF00FF00, 0x00000000,
                                        0xFF0000FF, 0x80000000, 0xFFFFFF00};
  TIcon icon;
  LoadBytes(icon, MakeIco({{MakePng(3, 2, pixels), 3, 2, 32}}));
  ASSERT_EQ(icon.ImageWidth(), 3);
  ASSERT_EQ(icon.ImageHeight(), 2);
  const auto drawn = DrawnOnWhite(icon);
  const uint32_t want[] = {0xFF0000, 0x00FF00, 0xFFFFFF, 0x0000FF, 0x7F7F7F, 0xFFFF00};
  for (int32_t i = 0; i < 6; ++i) {
    EXPECT_EQ(drawn->PixelColor(i % 3, i / 3), want[i]) << "pixel " << i;
  }
  // Next to a DIB the nearer image is chosen, whatever its kind.
  TIcon both;
  LoadBytes(both, MakeIco({SolidDib(48, 48, 32),
                           {MakePng(30, 30, std::vector<uint32_t>(900, 0xFF123456)), 30, 30, 32}}));
  EXPECT_EQ(both.ChosenIndex(), 1);
  EXPECT_EQ(both.ImageWidth(), 30);
  // A PNG entry that Qt cannot decode leaves the other images.
  Bytes broken = MakePng(30, 30, std::vector<uint32_t>(900, 0xFF123456));
  broken.resize(60);
  TIcon fallback;
  LoadBytes(fallback, MakeIco({SolidDib(48, 48, 32), {broken, 30, 30, 32}}));
  EXPECT_EQ(fallback.ChosenIndex(), 0);
}

TEST(IconErrors, BadFilesAreNotValid) {
  const Bytes good = MakeIco({SolidDib(4, 4, 8)});
  auto patched = [&](size_t at, std::initializer_list<uint8_t> values) {
    return Patched(good, at, values);
  };
  const size_t dib = 22;  // where the only image starts
  const struct {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"reserved word set", patched(0, {1})},
      {"type 3", patched(2, {3})},
      {"no images", patched(4, {0, 0})},
      {"directory longer than the file", patched(4, {0xFF, 0xFF})},
      {"image offset past the end", patched(18, {0xFF, 0xFF, 0, 0})},
      {"image offset inside the directory", patched(18, {2, 0, 0, 0})},
      {"image size 0", patched(14, {0, 0, 0, 0})},
      {"header size 12", patched(dib, {12})},
      {"width 0", patched(dib + 4, {0})},
      {"negative height", patched(dib + 8, {0xF8, 0xFF, 0xFF, 0xFF})},
      {"height 1 (no rows once halved)", patched(dib + 8, {1})},
      {"7 bits per pixel", patched(dib + 14, {7})},
      {"run-length compressed", patched(dib + 16, {1})},
      {"257 colours", patched(dib + 32, {1, 1})},
      {"rows past the end", patched(dib + 4, {0, 1})},
      {"huge image in a few bytes",
       patched(dib + 4, {0xFF, 0xFF, 0xFF, 0x7F, 0xFE, 0xFF, 0xFF, 0x7F})},
      {"PNG signature without a header chunk",
       MakeIco({{Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0}, 1, 1, 32}})},
      {"PNG that does not decode", MakeIco({{[] {
                                               Bytes b = MakePng(
                                                   2, 2, std::vector<uint32_t>(4, 0xFFFFFFFF));
                                               b[40] ^= 0xFF;
                                               b.resize(b.size() - 20);
                                               return b;
                                             }(),
                                             2, 2, 32}})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoadError<TIcon>(c.bytes), "Icon image is not valid") << c.name;
  }
  EXPECT_EQ(LoadError<TIcon>(good), "loaded");
  // A cursor file holds the same images.
  EXPECT_EQ(LoadError<TIcon>(MakeIco({SolidDib(4, 4, 8)}, 2)), "loaded");
}

TEST(Icon, KeepsItsFileAndItsSize) {
  const Bytes file = test::ReadFileBytes(test::TestData("ico/python.ico"));
  TMemoryStream in(file);
  in.Seek(0);
  TIcon icon;
  icon.ReadFromStream(in);
  EXPECT_EQ(in.Position(), static_cast<int64_t>(file.size()));
  TMemoryStream out;
  icon.WriteToStream(out);
  EXPECT_EQ(out.Bytes(), file);

  TIcon copy;
  copy.TakeFrom(&icon);
  EXPECT_EQ(copy.ImageWidth(), 32);
  EXPECT_EQ(copy.Raster(), icon.Raster());
  try {
    copy.SetImageWidth(16);
    FAIL() << "resized a loaded icon";
  } catch (const EInvalidGraphicOperation& error) {
    EXPECT_EQ(error.Message(), "Cannot change the size of an icon");
  }
  copy.TakeFrom(nullptr);
  EXPECT_TRUE(copy.IsEmpty());
  TBitmap bitmap;
  EXPECT_THROW(copy.TakeFrom(&bitmap), EConvertError);
  // A failed load leaves the icon as it was.
  EXPECT_THROW(LoadBytes(icon, Bytes(40, 0)), EInvalidGraphic);
  EXPECT_EQ(icon.ImageWidth(), 32);
}

// ---- metafiles: the sample files -------------------------------------------

TEST(MetafileSamples, LoadAtTheirFrameSize) {
  // WMF: box 1369 units at 1200 an inch; EMF: frame 28.99 mm. Both are
  // 109.5 pixels at 96 dots per inch.
  const struct {
    const char* file;
    bool enhanced;
  } samples[] = {{"metafile/drawing.wmf", false}, {"metafile/drawing.emf", true}};
  for (const auto& sample : samples) {
    SCOPED_TRACE(sample.file);
    TMetafile metafile;
    metafile.LoadFile(test::TestData(sample.file));
    EXPECT_EQ(metafile.Enhanced(), sample.enhanced);
    EXPECT_EQ(metafile.ImageWidth(), 110);
    EXPECT_EQ(metafile.ImageHeight(), 110);
    EXPECT_EQ(DrawnOnWhite(metafile)->Layout(), PixelLayout::Bits24);
  }
}

TEST(MetafileSamples, PlayIntoTheirFrame) {
  // The EMF's circle fills its frame. The WMF draws the same circle 256
  // units right of and below its window (0 to 1369), so it shows shifted
  // and cut off by the frame's right and bottom edges.
  TMetafile emf;
  emf.LoadFile(test::TestData("metafile/drawing.emf"));
  const auto e = DrawnOnWhite(emf);
  EXPECT_EQ(e->PixelColor(55, 55), 0xFF0000u);
  EXPECT_EQ(e->PixelColor(2, 2), 0xFFFFFFu);
  EXPECT_EQ(e->PixelColor(107, 107), 0xFFFFFFu);
  EXPECT_LT(e->PixelColor(55, 0) & 0xFF00, 0x4000u);  // the black outline at the top

  TMetafile wmf;
  wmf.LoadFile(test::TestData("metafile/drawing.wmf"));
  const auto w = DrawnOnWhite(wmf);
  EXPECT_EQ(w->PixelColor(74, 74), 0xFF0000u);  // the centre, fully red
  EXPECT_EQ(w->PixelColor(12, 40), 0xFFFFFFu);
  EXPECT_EQ(w->PixelColor(30, 20), 0xFFFFFFu);
  EXPECT_EQ(w->PixelColor(109, 80), 0xFF0000u);
  EXPECT_EQ(w->PixelColor(80, 109), 0xFF0000u);
  // The black outline's left edge, antialiased: some pixel about x = 21 is
  // well short of red.
  uint32_t darkest = 0xFF;
  for (int32_t x = 18; x <= 24; ++x) darkest = std::min(darkest, w->PixelColor(x, 74) >> 16);
  EXPECT_LT(darkest, 0x80u);
}

TEST(MetafileSamples, TruncatedFilesAreNotValid) {
  for (const char* name : {"metafile/drawing.wmf", "metafile/drawing.emf"}) {
    SCOPED_TRACE(name);
    const Bytes whole = test::ReadFileBytes(test::TestData(name));
    for (size_t length = 0; length < whole.size(); ++length) {
      const Bytes part(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length));
      ASSERT_EQ(LoadError<TMetafile>(part), "Metafile is not valid") << length;
    }
  }
}

// ---- metafiles: built here ---------------------------------------------------

struct WmfRecord {
  uint16_t function;
  std::vector<int16_t> params;
};

Bytes MakeWmf(std::vector<WmfRecord> records, bool placeable, int16_t right = 0, int16_t bottom = 0,
              uint16_t inch = 0, const std::vector<WmfRecord>& more = {}) {
  records.insert(records.end(), more.begin(), more.end());
  Bytes body;
  uint32_t largest = 3;
  for (const WmfRecord& r : records) {
    Put32(body, static_cast<uint32_t>(3 + r.params.size()));
    Put16(body, r.function);
    for (int16_t p : r.params) Put16(body, static_cast<uint16_t>(p));
    largest = std::max<uint32_t>(largest, static_cast<uint32_t>(3 + r.params.size()));
  }
  Put32(body, 3);
  Put16(body, 0);
  Bytes out;
  if (placeable) {
    Bytes header;
    Put32(header, 0x9AC6CDD7);
    Put16(header, 0);
    Put16(header, 0);
    Put16(header, 0);
    Put16(header, static_cast<uint16_t>(right));
    Put16(header, static_cast<uint16_t>(bottom));
    Put16(header, inch);
    Put32(header, 0);
    uint16_t sum = 0;
    for (size_t i = 0; i < header.size(); i += 2)
      sum ^= static_cast<uint16_t>(header[i] | (header[i + 1] << 8));
    Put16(header, sum);
    out = header;
  }
  Put16(out, 1);
  Put16(out, 9);
  Put16(out, 0x300);
  Put32(out, static_cast<uint32_t>((18 + body.size()) / 2));
  Put16(out, 4);
  Put32(out, largest);
  Put16(out, 0);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// Set-up and drawing records: a red brush, a pen, a rectangle.
const WmfRecord kNullPen{0x02FA, {5, 0, 0, 0, 0}};
const WmfRecord kRedBrush{0x02FC, {0, 0xFF, 0, 0}};
WmfRecord Select(int16_t object) {
  return {0x012D, {object}};
}
WmfRecord Rectangle(int16_t l, int16_t t, int16_t r, int16_t b) {
  return {0x041B, {b, r, t, l}};
}
WmfRecord MapMode(int16_t mode) {
  return {0x0103, {mode}};
}
WmfRecord WindowOrg(int16_t x, int16_t y) {
  return {0x020B, {y, x}};
}
WmfRecord WindowExt(int16_t x, int16_t y) {
  return {0x020C, {y, x}};
}
const WmfRecord kTransparentBackground{0x0102, {1, 0}};

// Whether the picture is red in its left half and white in its right half.
void ExpectLeftHalfRed(const TBitmap& bitmap) {
  const int32_t w = bitmap.ImageWidth();
  const int32_t h = bitmap.ImageHeight();
  for (int32_t y : {1, h / 2, h - 2}) {
    EXPECT_EQ(bitmap.PixelColor(1, y), 0xFF0000u) << "y " << y;
    EXPECT_EQ(bitmap.PixelColor(w / 2 - 2, y), 0xFF0000u) << "y " << y;
    EXPECT_EQ(bitmap.PixelColor(w / 2 + 2, y), 0xFFFFFFu) << "y " << y;
    EXPECT_EQ(bitmap.PixelColor(w - 2, y), 0xFFFFFFu) << "y " << y;
  }
}

TEST(WindowsMetafile, FrameAndPlacement) {
  const std::vector<WmfRecord> redPen = {kNullPen, Select(0), kRedBrush, Select(1),
                                         kTransparentBackground};
  auto with = [&](std::vector<WmfRecord> setup, WmfRecord draw) {
    std::vector<WmfRecord> all = std::move(setup);
    all.insert(all.end(), redPen.begin(), redPen.end());
    all.push_back(draw);
    return all;
  };
  const struct {
    const char* name;
    Bytes file;
    int32_t width;
    int32_t height;
  } cases[] = {
      // A box of 1440 by 720 units at 1440 an inch: 96 x 48 pixels; the
      // records draw in the box's own units.
      {"placeable, drawing in box units",
       MakeWmf(with({}, Rectangle(0, 0, 720, 720)), true, 1440, 720, 1440), 96, 48},
      // The file's own window maps onto the frame, whatever the box says.
      {"placeable with its own window",
       MakeWmf(with({MapMode(8), WindowOrg(100, 100), WindowExt(200, 100)},
                    Rectangle(100, 100, 200, 200)),
               true, 1440, 720, 1440),
       96, 48},
      {"placeable with the window set before the mode",
       MakeWmf(
           with({WindowExt(200, 100), WindowOrg(-50, 0), MapMode(8)}, Rectangle(-50, 0, 50, 100)),
           true, 300, 150, 300),
       96, 48},
      // No box: an anisotropic window counts in twips.
      {"window in twips",
       MakeWmf(with({MapMode(8), WindowExt(2880, 1440)}, Rectangle(0, 0, 1440, 1440)), false), 192,
       96},
      // Tenths of a millimetre, y upwards: the window means nothing, the
      // picture is what it draws (a red and a white square, 25.4 mm each).
      {"tenths of a millimetre",
       MakeWmf(with({MapMode(2), WindowExt(100, 100)}, Rectangle(0, 0, 254, -254)), false, 0, 0, 0,
               {{0x02FC, {0, -1, 0xFF, 0}}, Select(2), Rectangle(254, 0, 508, -254)}),
       192, 96},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMetafile metafile;
    LoadBytes(metafile, c.file);
    EXPECT_FALSE(metafile.Enhanced());
    EXPECT_EQ(metafile.ImageWidth(), c.width);
    EXPECT_EQ(metafile.ImageHeight(), c.height);
    ExpectLeftHalfRed(*DrawnOnWhite(metafile));
  }
}

TEST(WindowsMetafile, WindowWithTheYAxisUpwards) {
  // A red square on the left; on the right a blue box over the upper half
  // (y from 50 to 100 counts upwards from the bottom edge at 0).
  const Bytes file = MakeWmf({MapMode(8),
                              WindowOrg(0, 100),
                              WindowExt(200, -100),
                              kNullPen,
                              Select(0),
                              kRedBrush,
                              Select(1),
                              Rectangle(0, 0, 100, 100),
                              {0x02FC, {0, 0, 0xFF, 0}},
                              Select(2),
                              Rectangle(100, 50, 200, 100)},
                             true, 200, 100, 96);
  TMetafile metafile;
  LoadBytes(metafile, file);
  ASSERT_EQ(metafile.ImageWidth(), 200);
  ASSERT_EQ(metafile.ImageHeight(), 100);
  const auto drawn = DrawnOnWhite(metafile);
  EXPECT_EQ(drawn->PixelColor(50, 10), 0xFF0000u);
  EXPECT_EQ(drawn->PixelColor(50, 90), 0xFF0000u);
  EXPECT_EQ(drawn->PixelColor(150, 10), 0x0000FFu);
  EXPECT_EQ(drawn->PixelColor(150, 90), 0xFFFFFFu);
}

TEST(WindowsMetafile, TextIsDrawn) {
  // A 60-unit font (face "Arial", weight 400) and "Hi" at (10, 10): text
  // needs fonts, which need a GUI application object even without a window.
  WmfRecord font{0x02FB, {-60, 0, 0, 0, 400, 0, 0, 0, 0}};
  for (char c : std::string("Arial")) font.params.push_back(c);
  font.params.resize(9 + 16, 0);
  const WmfRecord text{0x0521, {2, 'H' | ('i' << 8), 10, 10}};
  TMetafile metafile;
  LoadBytes(metafile, MakeWmf({MapMode(8), WindowExt(200, 100), font, Select(0),
                               kTransparentBackground, text},
                              true, 200, 100, 96));
  const auto drawn = DrawnOnWhite(metafile);
  int32_t inked = 0;
  for (int32_t y = 0; y < 100; ++y) {
    for (int32_t x = 0; x < 200; ++x) inked += drawn->PixelColor(x, y) < 0x404040 ? 1 : 0;
  }
  EXPECT_GT(inked, 200);
  EXPECT_EQ(drawn->PixelColor(150, 50), 0xFFFFFFu);
}

TEST(WindowsMetafile, WithoutAFrameThePictureIsWhatItDraws) {
  TMetafile metafile;
  LoadBytes(metafile,
            MakeWmf({kNullPen, Select(0), kRedBrush, Select(1), Rectangle(10, 10, 50, 30)}, false));
  EXPECT_NEAR(metafile.ImageWidth(), 40, 1);
  EXPECT_NEAR(metafile.ImageHeight(), 20, 1);
  const auto drawn = DrawnOnWhite(metafile);
  EXPECT_EQ(drawn->PixelColor(metafile.ImageWidth() / 2, metafile.ImageHeight() / 2), 0xFF0000u);
}

TEST(WindowsMetafile, PensKeepTheirWidthWhenTheWindowComesFirst) {
  // A pen of 100 units in a window of 1000: a tenth of the 96-pixel picture,
  // centred on the rectangle's edge at 9.6 pixels.
  const Bytes file = MakeWmf({WindowExt(1000, 1000),
                              WindowOrg(0, 0),
                              MapMode(8),
                              {0x02FA, {0, 100, 0, 0, 0}},
                              Select(0),
                              {0x02FC, {1, 0, 0, 0}},
                              Select(1),
                              Rectangle(100, 100, 900, 900)},
                             true, 1000, 1000, 1000);
  TMetafile metafile;
  LoadBytes(metafile, file);
  const auto drawn = DrawnOnWhite(metafile);
  for (int32_t x : {6, 9, 13}) EXPECT_EQ(drawn->PixelColor(x, 48), 0x000000u) << x;
  EXPECT_EQ(drawn->PixelColor(2, 48), 0xFFFFFFu);
  EXPECT_EQ(drawn->PixelColor(20, 48), 0xFFFFFFu);
}

TEST(WindowsMetafile, BadFilesAreNotValid) {
  const Bytes good = MakeWmf({kRedBrush, Select(0), Rectangle(0, 0, 10, 10)}, true, 10, 10, 96);
  auto patched = [&](size_t at, std::initializer_list<uint8_t> values) {
    return Patched(good, at, values);
  };
  const struct {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"empty", {}},
      {"garbage", Bytes(300, 0x41)},
      {"zero units per inch", patched(14, {0, 0})},
      {"empty box", patched(10, {0, 0})},
      {"file type 3", patched(22, {3})},
      {"header size 10", patched(24, {10})},
      {"record of two words", patched(40, {2, 0, 0, 0})},
      {"record longer than the file", patched(40, {0xFF, 0xFF, 0, 0})},
      {"no end record", Bytes(good.begin(), good.end() - 6)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoadError<TMetafile>(c.bytes), "Metafile is not valid") << c.name;
  }
  EXPECT_EQ(LoadError<TMetafile>(good), "loaded");
}

// An enhanced metafile recorded on a 96-dpi reference device (960 pixels in
// 254 mm) whose records fill the device rectangle `red` with red.
Bytes MakeEmf(std::array<int32_t, 4> frame, std::array<int32_t, 4> bounds,
              std::array<int32_t, 4> red) {
  Bytes records;
  auto record = [&](uint32_t type, std::initializer_list<uint32_t> values) {
    Put32(records, type);
    Put32(records, static_cast<uint32_t>(8 + 4 * values.size()));
    for (uint32_t v : values) Put32(records, v);
  };
  record(39, {1, 0, 0x0000FF, 0});  // CREATEBRUSHINDIRECT 1: solid red
  record(37, {1});                  // SELECTOBJECT 1
  record(37, {0x80000008});         // SELECTOBJECT the stock null pen
  record(43, {static_cast<uint32_t>(red[0]), static_cast<uint32_t>(red[1]),
              static_cast<uint32_t>(red[2]), static_cast<uint32_t>(red[3])});  // RECTANGLE
  record(14, {0, 16, 20});                                                     // EOF
  Bytes out;
  Put32(out, 1);
  Put32(out, 108);
  for (int32_t v : bounds) Put32(out, static_cast<uint32_t>(v));
  for (int32_t v : frame) Put32(out, static_cast<uint32_t>(v));
  Put32(out, 0x464D4520);
  Put32(out, 0x10000);
  Put32(out, static_cast<uint32_t>(108 + records.size()));
  Put32(out, 6);
  Put16(out, 2);
  Put16(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  for (uint32_t v : {960u, 960u, 254u, 254u, 0u, 0u, 0u, 254000u, 254000u}) Put32(out, v);
  out.insert(out.end(), records.begin(), records.end());
  return out;
}

TEST(EnhancedMetafile, FrameAndPlacement) {
  const struct {
    const char* name;
    Bytes file;
    int32_t width;
    int32_t height;
  } cases[] = {
      // 50.8 by 25.4 mm: 192 x 96 pixels.
      {"frame at the origin", MakeEmf({0, 0, 5080, 2540}, {0, 0, 95, 95}, {0, 0, 96, 96}), 192, 96},
      // The frame, not the bounds around the drawing, maps onto the picture.
      {"frame away from the origin",
       MakeEmf({2540, 0, 7620, 2540}, {96, 0, 191, 95}, {96, 0, 192, 96}), 192, 96},
      // No frame: the bounds (inclusive device pixels) take its place.
      {"bounds only", MakeEmf({0, 0, 0, 0}, {0, 0, 191, 95}, {0, 0, 96, 96}), 192, 96},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMetafile metafile;
    LoadBytes(metafile, c.file);
    EXPECT_TRUE(metafile.Enhanced());
    EXPECT_EQ(metafile.ImageWidth(), c.width);
    EXPECT_EQ(metafile.ImageHeight(), c.height);
    ExpectLeftHalfRed(*DrawnOnWhite(metafile));
  }
}

TEST(EnhancedMetafile, BadFilesAreNotValid) {
  const Bytes good = MakeEmf({0, 0, 5080, 2540}, {0, 0, 95, 95}, {0, 0, 96, 96});
  auto patched = [&](size_t at, std::initializer_list<uint8_t> values) {
    return Patched(good, at, values);
  };
  const struct {
    const char* name;
    Bytes bytes;
  } cases[] = {
      {"header size 80", patched(4, {80})},
      {"header size not a multiple of 4", patched(4, {110})},
      {"header longer than the file", patched(4, {0, 0, 1, 0})},
      {"record size 4", patched(108 + 4, {4})},
      {"record size past the end", patched(108 + 4, {0, 0, 0, 1})},
      {"no frame and no bounds",
       patched(8, {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                   0, 0, 0, 0, 0, 0, 0, 0, 0,    0,    0,    0,    0,    0,    0,    0})},
      {"no end record", Bytes(good.begin(), good.end() - 20)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoadError<TMetafile>(c.bytes), "Metafile is not valid") << c.name;
  }
  EXPECT_EQ(LoadError<TMetafile>(good), "loaded");
}

TEST(Metafile, DrawsOnlyWhatIsOnTheBitmap) {
  for (const char* name : {"metafile/drawing.emf", "metafile/drawing.wmf"}) {
    SCOPED_TRACE(name);
    TMetafile metafile;
    metafile.LoadFile(test::TestData(name));
    // The whole picture drawn at its size, then its lower right quarter
    // drawn alone at the top left corner: the same pixels.
    const auto whole = DrawnOnWhite(metafile);
    TBitmap quarter;
    quarter.SetLayout(PixelLayout::Bits24);
    quarter.SetImageWidth(55);
    quarter.SetImageHeight(55);
    quarter.Surface().DrawGraphic(-55, -55, &metafile);
    int32_t differing = 0;
    for (int32_t y = 0; y < 55; ++y) {
      for (int32_t x = 0; x < 55; ++x) {
        const uint32_t a = whole->PixelColor(x + 55, y + 55);
        const uint32_t b = quarter.PixelColor(x, y);
        for (int shift = 0; shift <= 16; shift += 8) {
          if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 8) {
            ++differing;
            break;
          }
        }
      }
    }
    // Edge antialiasing may fall differently along the cut.
    EXPECT_LE(differing, 55);
    // Stretched to twice its size it still fills the rectangle.
    TMetafile big;
    big.TakeFrom(&metafile);
    big.SetImageWidth(220);
    big.SetImageHeight(220);
    const auto stretched = DrawnOnWhite(big);
    EXPECT_EQ(stretched->ImageWidth(), 220);
    EXPECT_EQ(stretched->PixelColor(160, 160), 0xFF0000u);
  }
}

TEST(Metafile, KeepsItsFile) {
  const Bytes file = test::ReadFileBytes(test::TestData("metafile/drawing.emf"));
  TMetafile metafile;
  LoadBytes(metafile, file);
  TMemoryStream out;
  metafile.WriteToStream(out);
  EXPECT_EQ(out.Bytes(), file);
  TMetafile copy;
  copy.TakeFrom(&metafile);
  EXPECT_EQ(copy.ImageWidth(), 110);
  EXPECT_TRUE(copy.Enhanced());
  copy.TakeFrom(nullptr);
  EXPECT_TRUE(copy.IsEmpty());
  // A failed load leaves the metafile as it was.
  EXPECT_THROW(LoadBytes(metafile, Bytes(100, 7)), EInvalidGraphic);
  EXPECT_EQ(metafile.ImageWidth(), 110);
  EXPECT_TRUE(metafile.Enhanced());
}

// ---- metafiles that try to reach outside themselves ------------------------

// A 24-bit BMP file of one colour (0xRRGGBB).
Bytes SolidBmp(int32_t width, int32_t height, uint32_t rgb) {
  const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  Bytes out = {'B', 'M'};
  Put32(out, 54 + stride * static_cast<uint32_t>(height));
  Put32(out, 0);
  Put32(out, 54);
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));
  Put16(out, 1);
  Put16(out, 24);
  for (int i = 0; i < 6; ++i) Put32(out, 0);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      out.push_back(static_cast<uint8_t>(rgb));
      out.push_back(static_cast<uint8_t>(rgb >> 8));
      out.push_back(static_cast<uint8_t>(rgb >> 16));
    }
    out.resize(out.size() + (stride - static_cast<uint32_t>(width) * 3), 0);
  }
  return out;
}

// Text that closes the text element of the document it is copied into and
// opens a picture of the whole frame taken from `path`.
std::string Injection(const std::string& path) {
  return "</text><image xlink:href=\"" + path +
         "\" x=\"0\" y=\"0\" width=\"100000\" height=\"100000\"/><text>";
}

// A 200 x 100 placeable WMF whose one TextOut record writes `text` at
// (10, 10) in a 20-unit font.
Bytes WmfWithText(const std::string& text) {
  WmfRecord font{0x02FB, {-20, 0, 0, 0, 400, 0, 0, 0, 0}};
  for (char c : std::string("Arial")) font.params.push_back(c);
  font.params.resize(9 + 16, 0);
  WmfRecord out{0x0521, {static_cast<int16_t>(text.size())}};
  for (size_t i = 0; i < text.size(); i += 2) {
    const uint8_t low = static_cast<uint8_t>(text[i]);
    const uint8_t high = i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0;
    out.params.push_back(static_cast<int16_t>(low | (high << 8)));
  }
  out.params.push_back(10);
  out.params.push_back(10);
  return MakeWmf({MapMode(8), WindowExt(200, 100), font, Select(0), kTransparentBackground, out},
                 true, 200, 100, 96);
}

// A 200 x 100 EMF (at 96 dpi) whose one EXTTEXTOUTW record writes `text`
// at (10, 10).
Bytes EmfWithText(const std::string& text) {
  Bytes records;
  auto record = [&](uint32_t type, std::initializer_list<uint32_t> values) {
    Put32(records, type);
    Put32(records, static_cast<uint32_t>(8 + 4 * values.size()));
    for (uint32_t v : values) Put32(records, v);
  };
  const uint32_t count = static_cast<uint32_t>(text.size());
  const uint32_t stringAt = 76;
  const uint32_t spacingAt = stringAt + (2 * count + 3) / 4 * 4;
  Bytes body;
  for (uint32_t v : {0u, 0u, 199u, 99u, 1u}) Put32(body, v);  // bounds, graphics mode
  Put32(body, 0x3F800000);                                    // x and y scale 1.0
  Put32(body, 0x3F800000);
  for (uint32_t v : {10u, 10u, count, stringAt, 0u, 0u, 0u, 0u, 0u, spacingAt}) Put32(body, v);
  for (char c : text) Put16(body, static_cast<uint8_t>(c));
  body.resize(spacingAt - 8, 0);
  for (uint32_t i = 0; i < count; ++i) Put32(body, 8);
  Put32(records, 84);
  Put32(records, static_cast<uint32_t>(8 + body.size()));
  records.insert(records.end(), body.begin(), body.end());
  record(14, {0, 16, 20});
  Bytes out;
  Put32(out, 1);
  Put32(out, 108);
  for (int32_t v : {0, 0, 199, 99, 0, 0, 5292, 2646}) Put32(out, static_cast<uint32_t>(v));
  Put32(out, 0x464D4520);
  Put32(out, 0x10000);
  Put32(out, static_cast<uint32_t>(108 + records.size()));
  Put32(out, 2);
  Put16(out, 0);
  Put16(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  for (uint32_t v : {960u, 960u, 254u, 254u, 0u, 0u, 0u, 254000u, 254000u}) Put32(out, v);
  out.insert(out.end(), records.begin(), records.end());
  return out;
}

struct MetafileMaker {
  const char* name;
  Bytes (*withText)(const std::string&);
};
const MetafileMaker kTextMetafiles[] = {{"WMF", WmfWithText}, {"EMF", EmfWithText}};

int32_t InkedPixels(const TBitmap& bitmap) {
  int32_t inked = 0;
  for (int32_t y = 0; y < bitmap.ImageHeight(); ++y) {
    for (int32_t x = 0; x < bitmap.ImageWidth(); ++x) inked += bitmap.PixelColor(x, y) != 0xFFFFFF;
  }
  return inked;
}

TEST(MetafileContainment, TextIsTextAndReferencesNothing) {
  const std::string dir = test::MakeTempDir();
  const std::string picture = dir + "/picture.bmp";
  for (const MetafileMaker& maker : kTextMetafiles) {
    SCOPED_TRACE(maker.name);
    const Bytes file = maker.withText(Injection(picture));
    auto drawWith = [&](uint32_t rgb) {
      test::WriteFileBytes(picture, SolidBmp(8, 8, rgb));
      TMetafile metafile;
      LoadBytes(metafile, file);
      return DrawnOnWhite(metafile);
    };
    const auto red = drawWith(0xFF0000);
    const auto blue = drawWith(0x0000FF);
    EXPECT_EQ(test::ComparePictures(test::BitmapPixels(*red), test::BitmapPixels(*blue), 0), "");
    // The text shows as the characters it holds, in the upper left; the
    // rest of the frame is not covered by any picture.
    EXPECT_GT(InkedPixels(*red), 100);
    EXPECT_EQ(red->PixelColor(100, 80), 0xFFFFFFu);
    EXPECT_EQ(red->PixelColor(190, 95), 0xFFFFFFu);
  }
  std::filesystem::remove_all(dir);
}

TEST(MetafileContainment, AFifoItNamesIsNeverOpened) {
  const std::string dir = test::MakeTempDir();
  const std::string fifo = dir + "/fifo.png";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const MetafileMaker& maker : kTextMetafiles) {
    SCOPED_TRACE(maker.name);
    const Bytes file = maker.withText(Injection(fifo));
    auto loading = std::async(std::launch::async, [&] {
      TMetafile metafile;
      LoadBytes(metafile, file);
      return InkedPixels(*DrawnOnWhite(metafile));
    });
    if (loading.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "loading waits for the FIFO";
      // A writer lets a reader stuck in the FIFO go (each time it is
      // opened), so that the test ends.
      do {
        const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
      } while (loading.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready);
    }
    EXPECT_GT(loading.get(), 100);
  }
  std::filesystem::remove_all(dir);
}

TEST(MetafileContainment, TextOfEveryLengthAndByteSurvives) {
  // Markup characters, bytes of the Windows code page and control bytes all
  // make a valid document.
  for (const std::string& text : {std::string("a<b>&\"c'd"), std::string("caf\xE9 \x80 \x9D"),
                                  std::string("a\x01\x1F b", 5)}) {
    SCOPED_TRACE(text);
    TMetafile metafile;
    LoadBytes(metafile, WmfWithText(text));
    EXPECT_GT(InkedPixels(*DrawnOnWhite(metafile)), 20);
  }
  // Long lines once came out garbled: text far wider than the picture
  // looks like its first thirty characters, which already fill it.
  for (const std::string& text : {std::string(600, 'W'), std::string(3000, '&')}) {
    SCOPED_TRACE(text.substr(0, 1) + " x " + std::to_string(text.size()));
    TMetafile whole;
    LoadBytes(whole, WmfWithText(text));
    TMetafile start;
    LoadBytes(start, WmfWithText(text.substr(0, 30)));
    EXPECT_EQ(test::ComparePictures(test::BitmapPixels(*DrawnOnWhite(start)),
                                    test::BitmapPixels(*DrawnOnWhite(whole)), 0),
              "");
  }
}

std::string Base64(const Bytes& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = uint32_t{bytes[i]} << 16;
    if (i + 1 < bytes.size()) n |= uint32_t{bytes[i + 1]} << 8;
    if (i + 2 < bytes.size()) n |= bytes[i + 2];
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
  }
  return out;
}

TEST(MetafileContainment, DocumentsKeepOnlyWhatIsInside) {
  const std::string bmp = Base64(SolidBmp(4, 4, 0xFF0000));
  const std::string svgInside =
      Base64(Bytes{'<', 's', 'v', 'g', ' ', 'x', 'm', 'l', 'n', 's', '=', '"', 'h', '"', '/', '>'});
  auto document = [](const std::string& inner) {
    return "<svg width=\"10\" height=\"10\">" + inner + "</svg>";
  };
  const struct {
    const char* name;
    std::string in;
    bool kept;  // whether the link or reference survives
    std::string mark;
  } cases[] = {
      {"file path", document("<image xlink:href=\"/etc/hostname\"/>"), false, "hostname"},
      {"file URL", document("<image href=\"file:///tmp/x.png\"/>"), false, "file:"},
      {"web link", document("<a xlink:href=\"http://example.com/\"><rect/></a>"), false, "http"},
      {"fragment", document("<use xlink:href=\"#shape\"/>"), false, "#shape"},
      {"inline BMP", document("<image xlink:href=\"data:image/bmp;base64," + bmp + "\"/>"), true,
       bmp},
      {"inline SVG",
       document("<image xlink:href=\"data:image/svg+xml;base64," + svgInside + "\"/>"), false,
       svgInside},
      {"SVG posing as PNG",
       document("<image xlink:href=\"data:image/png;base64," + svgInside + "\"/>"), false,
       svgInside},
      {"second payload",
       document("<image xlink:href=\"data:image/bmp;base64," + bmp + "base64," + svgInside +
                "\"/>"),
       false, svgInside},
      {"style sheet instruction",
       "<?xml-stylesheet type=\"text/css\" href=\"/etc/x.css\"?>" + document(""), false, "x.css"},
      {"external entity",
       "<!DOCTYPE svg [<!ENTITY e SYSTEM \"/etc/hostname\">]>" + document("<text>&e;</text>"),
       false, "hostname"},
      {"paint from a file", document("<rect style=\"fill:url(/etc/p.svg#g)\"/>"), false, "p.svg"},
      {"paint from the document", document("<rect fill=\"url(#g)\"/>"), true, "url(#g)"},
      {"escaped text", document("<text>a &lt;b&gt; &amp;</text>"), true, "a &lt;b&gt; &amp;"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto out = platform::ContainedSvg(c.in, 1 << 20);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->find(c.mark) != std::string::npos, c.kept) << *out;
  }
  // Not a document at all, and inline pictures of more pixels than allowed.
  EXPECT_FALSE(platform::ContainedSvg("<svg><text>a</svg>", 1 << 20).has_value());
  EXPECT_FALSE(platform::ContainedSvg(
                   document("<image xlink:href=\"data:image/bmp;base64," + bmp + "\"/>"), 15)
                   .has_value());
}

// ---- metafiles of large frames and much drawing -------------------------------

// A placeable WMF of width x height pixels (at 96 units an inch) that fills
// `rectangles` times each of the given boxes in red.
Bytes WmfFilling(int16_t width, int16_t height, const std::vector<std::array<int16_t, 4>>& boxes,
                 int repeat = 1) {
  std::vector<WmfRecord> records = {kNullPen, Select(0), kRedBrush, Select(1)};
  for (int i = 0; i < repeat; ++i) {
    for (const auto& b : boxes) records.push_back(Rectangle(b[0], b[1], b[2], b[3]));
  }
  return MakeWmf(records, true, width, height, 96);
}

TEST(MetafileBounds, ALargeFrameIsDrawnOntoTheBitmapItself) {
  // 18000 x 18000 pixels from a file of about a hundred bytes: 972 MB of
  // Bits24 storage, under the cap; drawn straight into it.
  const Bytes file = WmfFilling(18000, 18000, {{0, 0, 9000, 18000}});
  ASSERT_LT(file.size(), 128u);
  TMetafile metafile;
  LoadBytes(metafile, file);
  ASSERT_EQ(metafile.ImageWidth(), 18000);
  ASSERT_EQ(metafile.ImageHeight(), 18000);
  auto drawn = DrawnOnWhite(metafile);
  for (int32_t y : {0, 9000, 17999}) {
    EXPECT_EQ(drawn->PixelColor(1, y), 0xFF0000u);
    EXPECT_EQ(drawn->PixelColor(8990, y), 0xFF0000u);
    EXPECT_EQ(drawn->PixelColor(9010, y), 0xFFFFFFu);
    EXPECT_EQ(drawn->PixelColor(17999, y), 0xFFFFFFu);
  }
}

TEST(MetafileBounds, FramesPastTheStorageCapAreNotValid) {
  // 32767 units at 1 an inch: 3.1 million pixels a side.
  const Bytes wmf = WmfFilling(32767, 100, {{0, 0, 10, 10}});
  Bytes wmfTall = wmf;
  wmfTall[14] = 1;  // units per inch
  wmfTall[15] = 0;
  // Fix the placeable header's checksum after the change.
  uint16_t sum = 0;
  for (size_t i = 0; i < 20; i += 2)
    sum ^= static_cast<uint16_t>(wmfTall[i] | (wmfTall[i + 1] << 8));
  wmfTall[20] = static_cast<uint8_t>(sum);
  wmfTall[21] = static_cast<uint8_t>(sum >> 8);
  // 20000 x 20000 pixels: 1.2 GB as Bits24.
  const Bytes emf = MakeEmf({0, 0, 529167, 529167}, {0, 0, 95, 95}, {0, 0, 96, 96});
  for (const Bytes* file : std::initializer_list<const Bytes*>{&wmfTall, &emf}) {
    EXPECT_EQ(LoadError<TMetafile>(*file), "Metafile is not valid");
  }
  // Just under the cap still loads.
  EXPECT_EQ(LoadError<TMetafile>(MakeEmf({0, 0, 486000, 486000}, {0, 0, 95, 95}, {0, 0, 96, 96})),
            "loaded");
}

TEST(MetafileBounds, DrawingWorkIsBounded) {
  const int16_t side = 2000;
  std::vector<std::array<int16_t, 4>> grid;
  for (int16_t y = 0; y < side; y += 40) {
    for (int16_t x = 0; x < side; x += 40) grid.push_back({x, y, int16_t(x + 20), int16_t(y + 20)});
  }
  std::vector<WmfRecord> diagonals = {{0x02FA, {0, 1, 0, 0, 0}}, Select(0)};
  for (int i = 0; i < 1000; ++i) {
    diagonals.push_back({0x0214, {0, static_cast<int16_t>(i)}});                // MoveTo
    diagonals.push_back({0x0213, {side, static_cast<int16_t>(side - 1 - i)}});  // LineTo
  }
  const struct {
    const char* name;
    Bytes file;
    bool drawn;
  } cases[] = {
      // The whole frame filled 200 times over: refused early, not after
      // minutes of painting.
      {"repeated full-size rectangles", WmfFilling(side, side, {{0, 0, side, side}}, 200), false},
      // 2500 small squares, and a thousand lines across the picture: what
      // real drawings do.
      {"many small shapes", WmfFilling(side, side, grid), true},
      {"many long lines", MakeWmf(diagonals, true, side, side, 96), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMetafile metafile;
    LoadBytes(metafile, c.file);
    if (c.drawn) {
      EXPECT_GT(InkedPixels(*DrawnOnWhite(metafile)), 10000);
    } else {
      try {
        DrawnOnWhite(metafile);
        ADD_FAILURE() << "drawn";
      } catch (const EInvalidGraphic& error) {
        EXPECT_EQ(error.Message(), "Metafile is not valid");
      }
    }
  }
}

// A 1000 x 1000 pixel EMF (96 dpi) of the given records.
Bytes EmfOf(const Bytes& records) {
  Bytes out;
  Put32(out, 1);
  Put32(out, 108);
  for (int32_t v : {0, 0, 999, 999, 0, 0, 26458, 26458}) Put32(out, static_cast<uint32_t>(v));
  Put32(out, 0x464D4520);
  Put32(out, 0x10000);
  Put32(out, static_cast<uint32_t>(108 + records.size()));
  Put32(out, 8);
  Put16(out, 3);  // object handles: 0 and two more
  Put16(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  for (uint32_t v : {960u, 960u, 254u, 254u, 0u, 0u, 0u, 254000u, 254000u}) Put32(out, v);
  out.insert(out.end(), records.begin(), records.end());
  return out;
}

TEST(MetafileBounds, CurvesFarOffAStretchedPictureAreCharged) {
  // A closed curve out to 16 million units, stroked and filled, drawn
  // stretched 400-fold one way: its outline alone is billions of pixels
  // to walk, although it covers few of the picture's.
  Bytes records;
  auto record = [&](uint32_t type, std::initializer_list<int32_t> values) {
    Put32(records, type);
    Put32(records, static_cast<uint32_t>(8 + 4 * values.size()));
    for (int32_t v : values) Put32(records, static_cast<uint32_t>(v));
  };
  record(39, {1, 0, 0x0000FF, 0});  // CREATEBRUSHINDIRECT: solid red
  record(37, {1});                  // SELECTOBJECT
  record(59, {});                   // BEGINPATH
  record(27, {900, 500});           // MOVETOEX
  record(5, {0, 0, 0, 0, 3, 900, 800, 16778250, 0, 3277056, 900});  // POLYBEZIERTO
  record(61, {});                                                   // CLOSEFIGURE
  record(60, {});                                                   // ENDPATH
  record(63, {0, 0, 999, 999});                                     // STROKEANDFILLPATH
  record(14, {0, 16, 20});                                          // EOF
  TMetafile metafile;
  LoadBytes(metafile, EmfOf(records));
  metafile.SetImageWidth(2);
  metafile.SetImageHeight(400000);
  try {
    DrawnOnWhite(metafile);
    ADD_FAILURE() << "drawn";
  } catch (const EInvalidGraphic& error) {
    EXPECT_EQ(error.Message(), "Metafile is not valid");
  }
}

TEST(MetafileBounds, TallShapesAndLongOutlinesAreCharged) {
  // The rasterizer walks a shape's whole outline once for every few rows
  // it covers, and for every few hundred cells of outline: an outlined
  // ellipse over the 1000-unit frame stretched a few hundred thousand rows
  // tall, a curve reaching millions of rows off the picture, or a polygon
  // of long outline costs billions of steps however few pixels it inks.
  Bytes ellipse;
  auto record = [](Bytes& records, uint32_t type, std::initializer_list<int32_t> values) {
    Put32(records, type);
    Put32(records, static_cast<uint32_t>(8 + 4 * values.size()));
    for (int32_t v : values) Put32(records, static_cast<uint32_t>(v));
  };
  record(ellipse, 39, {1, 0, 0x0000FF, 0});  // CREATEBRUSHINDIRECT: solid red
  record(ellipse, 37, {1});                  // SELECTOBJECT
  record(ellipse, 38, {2, 0, 13, 0, 0});     // CREATEPEN: solid black, 13 units wide
  record(ellipse, 37, {2});                  // SELECTOBJECT
  record(ellipse, 42, {8, 8, 991, 991});     // ELLIPSE
  record(ellipse, 14, {0, 16, 20});          // EOF
  Bytes curve;
  record(curve, 39, {1, 0, 0x0000FF, 0});
  record(curve, 37, {1});
  record(curve, 59, {});          // BEGINPATH
  record(curve, 27, {990, 500});  // MOVETOEX
  record(curve, 5,
         {0, 0, 0, 0, 6, 990, 800, 30000000, 900, 500, 990, 500, -30000000, 10, 800, 990,
          500});                        // POLYBEZIERTO
  record(curve, 61, {});                // CLOSEFIGURE
  record(curve, 60, {});                // ENDPATH
  record(curve, 63, {0, 0, 999, 999});  // STROKEANDFILLPATH
  record(curve, 14, {0, 16, 20});
  // One polygon zigzagging a thousand times over a hundred rows: 16 KB, and
  // an outline of 200,000 pixels crowded into them.
  Bytes zigzag;
  record(zigzag, 39, {1, 0, 0x0000FF, 0});
  record(zigzag, 37, {1});
  record(zigzag, 37, {static_cast<int32_t>(0x80000008)});  // the stock null pen
  {
    std::vector<int16_t> points = {0, 0};
    for (int16_t i = 0; i < 999; ++i) points.insert(points.end(), {i, 99, int16_t(i + 1), 0});
    Put32(zigzag, 86);  // POLYGON16
    Put32(zigzag, static_cast<uint32_t>(28 + 2 * points.size()));
    for (int32_t v : {0, 0, 999, 999}) Put32(zigzag, static_cast<uint32_t>(v));
    Put32(zigzag, static_cast<uint32_t>(points.size() / 2));
    for (int16_t v : points) Put16(zigzag, static_cast<uint16_t>(v));
  }
  record(zigzag, 14, {0, 16, 20});
  const struct {
    const char* name;
    const Bytes& records;
    int32_t width, height;
    bool drawn;
  } cases[] = {
      {"outlined ellipse, 1 x 342920", ellipse, 1, 342920, false},
      {"outlined ellipse, 10 x 342920", ellipse, 10, 342920, false},
      {"curve far off, 130 x 26345", curve, 130, 26345, false},
      {"zigzag polygon, 1000 x 1000", zigzag, 1000, 1000, false},
      // A long strip is still a picture.
      {"outlined ellipse, 200 x 4000", ellipse, 200, 4000, true},
      {"outlined ellipse, 4000 x 4000", ellipse, 4000, 4000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMetafile metafile;
    LoadBytes(metafile, EmfOf(c.records));
    metafile.SetImageWidth(c.width);
    metafile.SetImageHeight(c.height);
    if (c.drawn) {
      EXPECT_GT(InkedPixels(*DrawnOnWhite(metafile)), c.width * c.height / 2);
      continue;
    }
    try {
      DrawnOnWhite(metafile);
      ADD_FAILURE() << "drawn";
    } catch (const EInvalidGraphic& error) {
      EXPECT_EQ(error.Message(), "Metafile is not valid");
    }
  }
}

TEST(MetafileBounds, TooManyRecordsAreNotValid) {
  // Over four million records of SetBkMode before the end.
  Bytes file = MakeWmf({}, true, 10, 10, 96);
  Bytes records;
  for (int i = 0; i < (1 << 22) + 2; ++i) {
    Put32(records, 4);
    Put16(records, 0x0102);
    Put16(records, 1);
  }
  file.insert(file.end() - 6, records.begin(), records.end());
  EXPECT_EQ(LoadError<TMetafile>(file), "Metafile is not valid");
}

TEST(Metafile, DrawsOntoEveryLayout) {
  // Bits24 takes the picture into its rows; the others through a raster.
  const Bytes file = MakeWmf({kNullPen, Select(0), kRedBrush, Select(1), Rectangle(0, 0, 50, 100)},
                             true, 100, 100, 96);
  TMetafile metafile;
  LoadBytes(metafile, file);
  for (PixelLayout layout :
       {PixelLayout::Bits24, PixelLayout::Bits32, PixelLayout::Bits16, PixelLayout::Bits15}) {
    SCOPED_TRACE(PixelLayoutName(layout));
    TBitmap bitmap;
    bitmap.SetLayout(layout);
    bitmap.SetImageWidth(100);
    bitmap.SetImageHeight(100);
    bitmap.Surface().DrawGraphic(0, 0, &metafile);
    ExpectLeftHalfRed(bitmap);
  }
}

// In a child process that sees an empty folder where the WMF library
// keeps its fonts: the message its load of `file` ends with, or "" when
// such a process cannot be made here.
std::string LoadWithoutLibraryFonts(const Bytes& file, const std::string& emptyDir) {
  int channel[2];
  if (pipe(channel) != 0) return "";
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    std::string result;
    const bool isolated = unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 || unshare(CLONE_NEWNS) == 0;
    if (isolated && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        mount(emptyDir.c_str(), "/usr/share/fonts/type1/urw-base35", nullptr, MS_BIND, nullptr) ==
            0) {
      try {
        TMetafile metafile;
        LoadBytes(metafile, file);
        result = "loaded";
      } catch (const Exception& error) {
        result = error.Message();
      }
    }
    if (write(channel[1], result.data(), result.size()) < 0) _exit(1);
    _exit(0);
  }
  close(channel[1]);
  std::string result;
  char buffer[256];
  ssize_t got;
  while ((got = read(channel[0], buffer, sizeof buffer)) > 0) result.append(buffer, size_t(got));
  close(channel[0]);
  if (child > 0) waitpid(child, nullptr, 0);
  return result;
}

TEST(WindowsMetafile, MissingLibraryFontsAreNamedNotBlamedOnTheFile) {
  const std::string dir = test::MakeTempDir();
  const std::string message = LoadWithoutLibraryFonts(WmfFilling(10, 10, {{0, 0, 5, 5}}), dir);
  std::filesystem::remove_all(dir);
  if (message.empty()) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_NE(message.find("fonts-urw-base35"), std::string::npos) << message;
  EXPECT_NE(message, "Metafile is not valid");
}

}  // namespace
}  // namespace quorvex
