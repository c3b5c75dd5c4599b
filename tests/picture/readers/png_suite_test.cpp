// The PngSuite: every valid file against libpng's raw samples put through
// this reader's rules (2-bit values x 5, 16-bit samples x 255 / 65535, the
// gamma table where a gAMA chunk is present); interlaced files against
// their plain twins; every corrupt file fails with its message.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/picture.h"
#include "picture/picture_loader.h"
#include "picture/readers/png_reader.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

std::string Suite(const std::string& name) {
  return test::TestData("png/pngsuite/" + name);
}

// The file as libpng stores it: samples unscaled, one per pixel channel.
struct RawPng {
  uint32_t width = 0;
  uint32_t height = 0;
  int colorType = 0;
  int depth = 0;
  int channels = 0;
  std::vector<uint16_t> samples;
  std::vector<png_color> palette;
  std::optional<png_fixed_point> gamma;
};

bool DecodeWithLibpng(const std::string& path, RawPng& raw) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t> pixels;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  raw.width = png_get_image_width(png, info);
  raw.height = png_get_image_height(png, info);
  raw.colorType = png_get_color_type(png, info);
  raw.depth = png_get_bit_depth(png, info);
  raw.channels = png_get_channels(png, info);
  png_fixed_point gamma = 0;
  if (png_get_gAMA_fixed(png, info, &gamma)) raw.gamma = gamma;
  png_colorp palette = nullptr;
  int entries = 0;
  if (png_get_PLTE(png, info, &palette, &entries)) raw.palette.assign(palette, palette + entries);
  if (raw.depth < 8) png_set_packing(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t stride = png_get_rowbytes(png, info);
  pixels.resize(stride * raw.height);
  for (uint32_t y = 0; y < raw.height; ++y) rows.push_back(pixels.data() + y * stride);
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  const size_t count = size_t{raw.width} * raw.height * static_cast<size_t>(raw.channels);
  raw.samples.reserve(count);
  for (uint32_t y = 0; y < raw.height; ++y) {
    const uint8_t* row = rows[y];
    for (size_t i = 0; i < size_t{raw.width} * static_cast<size_t>(raw.channels); ++i) {
      raw.samples.push_back(
          raw.depth == 16 ? static_cast<uint16_t>((row[2 * i] << 8) | row[2 * i + 1]) : row[i]);
    }
  }
  return true;
}

// Nearest integer, halves to the even one.
int Nearest(double v) {
  return static_cast<int>(std::nearbyint(v));
}

struct Expectation {
  PixelLayout layout;
  // Per pixel: colour 0xRRGGBB, and the stored value (index or alpha) or -1.
  std::vector<uint32_t> colours;
  std::vector<int> values;
};

Expectation Expect(const RawPng& raw) {
  std::array<int, 256> table{};
  for (int i = 0; i < 256; ++i) table[static_cast<size_t>(i)] = i;
  if (raw.gamma) {
    const float fileGamma = static_cast<float>(*raw.gamma) / 100000.0f;
    for (int i = 0; i < 256; ++i) {
      table[static_cast<size_t>(i)] =
          Nearest(std::pow(i / 255.0, 1.0 / (double{fileGamma} * double{2.2f})) * 255.0);
    }
  }
  auto gamma = [&](int v) { return table[static_cast<size_t>(v)]; };
  const int d = raw.depth;
  auto level = [d](int v) {
    return d == 16 ? v * 255 / 65535 : d == 8 ? v : v * 255 / ((1 << d) - 1);
  };
  auto rgb = [](int r, int g, int b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); };

  Expectation e;
  switch (raw.colorType) {
    case 0:
    case 3:
      e.layout = d == 1 ? PixelLayout::Bits1 : d <= 4 ? PixelLayout::Bits4 : PixelLayout::Bits8;
      break;
    case 2:
      e.layout = PixelLayout::Bits24;
      break;
    case 4:
      e.layout = PixelLayout::Bits8;
      break;
    default:
      e.layout = PixelLayout::Bits32;
      break;
  }
  const size_t c = static_cast<size_t>(raw.channels);
  for (size_t p = 0; p < size_t{raw.width} * raw.height; ++p) {
    const uint16_t* s = &raw.samples[p * c];
    switch (raw.colorType) {
      case 0:
      case 4: {
        const int g = gamma(level(s[0]));
        e.colours.push_back(rgb(g, g, g));
        e.values.push_back(d == 2 ? 5 * s[0] : d == 16 ? s[0] * 255 / 65535 : d <= 8 ? s[0] : -1);
        break;
      }
      case 3: {
        const png_color& entry = raw.palette.at(s[0]);
        e.colours.push_back(rgb(gamma(entry.red), gamma(entry.green), gamma(entry.blue)));
        e.values.push_back(d == 2 ? 5 * s[0] : s[0]);
        break;
      }
      default:
        e.colours.push_back(rgb(gamma(level(s[0])), gamma(level(s[1])), gamma(level(s[2]))));
        e.values.push_back(raw.colorType == 6 ? level(s[3]) : -1);
        break;
    }
  }
  return e;
}

// The stored value of a pixel: its index in palette layouts, alpha in Bits32.
int StoredValue(const TBitmap& bitmap, int32_t x, int32_t y) {
  const uint8_t* row = bitmap.RowAddress(y);
  switch (bitmap.Layout()) {
    case PixelLayout::Bits1:
      return (row[x / 8] >> (7 - x % 8)) & 1;
    case PixelLayout::Bits4:
      return (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
    case PixelLayout::Bits8:
      return row[x];
    case PixelLayout::Bits32:
      return row[4 * x + 3];
    default:
      return -1;
  }
}

std::unique_ptr<TPNGGraphic> LoadFile(const std::string& path) {
  auto png = std::make_unique<TPNGGraphic>();
  png->LoadFile(path);
  return png;
}

// Empty when the bitmap shows `e`, else the first difference.
std::string Compare(const TBitmap& bitmap, const Expectation& e) {
  if (bitmap.Layout() != e.layout) {
    return std::string("layout ") + PixelLayoutName(bitmap.Layout()) + ", expected " +
           PixelLayoutName(e.layout);
  }
  const int32_t width = bitmap.ImageWidth();
  for (int32_t y = 0; y < bitmap.ImageHeight(); ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const size_t p = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
      const uint32_t colour = bitmap.PixelColor(x, y);
      const int value = StoredValue(bitmap, x, y);
      if (colour != e.colours[p] || (e.values[p] >= 0 && value != e.values[p])) {
        char why[160];
        std::snprintf(why, sizeof why, "pixel %d,%d: colour %06X value %d, expected %06X value %d",
                      x, y, colour, value, e.colours[p], e.values[p]);
        return why;
      }
    }
  }
  return "";
}

std::vector<std::string> SuiteFiles(bool corrupt) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Suite(""))) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".png" || name == "PngSuite.png") continue;
    if ((name[0] == 'x') == corrupt) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PngSuite, ValidFilesMatchLibpngSamplesUnderTheReadersRules) {
  const std::vector<std::string> names = SuiteFiles(false);
  ASSERT_GT(names.size(), 150u);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    RawPng raw;
    ASSERT_TRUE(DecodeWithLibpng(Suite(name), raw)) << "libpng refused it";
    const auto png = LoadFile(Suite(name));
    ASSERT_EQ(png->ImageWidth(), static_cast<int32_t>(raw.width));
    ASSERT_EQ(png->ImageHeight(), static_cast<int32_t>(raw.height));
    EXPECT_EQ(Compare(*png, Expect(raw)), "");
  }
}

TEST(PngSuite, InterlacedFilesEqualTheirPlainTwins) {
  size_t pairs = 0;
  for (const std::string& name : SuiteFiles(false)) {
    if (name.size() < 4 || name[3] != 'i') continue;
    std::string twin = name;
    twin[3] = 'n';
    if (!fs::exists(Suite(twin))) continue;
    SCOPED_TRACE(name);
    ++pairs;
    const auto interlaced = LoadFile(Suite(name));
    const auto plain = LoadFile(Suite(twin));
    ASSERT_EQ(interlaced->Layout(), plain->Layout());
    ASSERT_EQ(interlaced->QueryPalette(), plain->QueryPalette());
    Expectation e{plain->Layout(), {}, {}};
    for (int32_t y = 0; y < plain->ImageHeight(); ++y) {
      for (int32_t x = 0; x < plain->ImageWidth(); ++x) {
        e.colours.push_back(plain->PixelColor(x, y));
        e.values.push_back(StoredValue(*plain, x, y));
      }
    }
    EXPECT_EQ(Compare(*interlaced, e), "");
  }
  EXPECT_GE(pairs, 25u);
}

TEST(PngSuite, CorruptFilesFailWithTheirMessages) {
  const std::string invalid = "Cannot load image. Invalid or unexpected PNG image format.";
  const std::string colour = "Invalid color format in PNG file.";
  const std::string crc = "Cannot load image. CRC error found in PNG file.";
  const std::map<std::string, std::string> expected = {
      {"xc1n0g08.png", colour},   // colour type 1
      {"xc9n2c08.png", colour},   // colour type 9
      {"xcrn0g04.png", invalid},  // signature with an added CR
      {"xcsn0g01.png", crc},      // IDAT CRC
      {"xd0n2c08.png", colour},   // bit depth 0
      {"xd3n2c08.png", colour},   // bit depth 3
      {"xd9n2c08.png", colour},   // bit depth 99
      {"xdtn0g01.png", invalid},  // no IDAT chunk
      {"xhdn0g08.png", crc},      // IHDR CRC
      {"xlfn0g04.png", invalid},  // signature with an added LF
      {"xs1n0g01.png", invalid},  // signature byte 1 wrong
      {"xs2n0g01.png", invalid},  // signature byte 2 wrong
      {"xs4n0g01.png", invalid},  // signature byte 4 wrong
      {"xs7n0g01.png", invalid},  // signature byte 7 wrong
  };
  const std::vector<std::string> names = SuiteFiles(true);
  EXPECT_EQ(names.size(), expected.size());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(expected.count(name)) << "a corrupt file this test does not know";
    try {
      LoadFile(Suite(name));
      ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), expected.at(name));
    }
  }
}

TEST(PngSuite, RegisteredAndRecognisedByContent) {
  const TFileFormatList& registry = FileFormatList();
  const TFileFormatList::TExtensionEntry* row = nullptr;
  for (const auto& entry : registry.Extensions()) {
    if (entry->extension == "png") row = entry.get();
  }
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->description, "Portable network graphic images");
  EXPECT_EQ(row->classEntry->description, "Portable network graphic images");
  EXPECT_EQ(row->classEntry->graphicClass, &ClassOf<TPNGGraphic>());
  EXPECT_EQ(registry.DetectReader(Suite("basn3p04.png")), &ClassOf<TPNGGraphic>());

  TPicture picture;
  std::unique_ptr<TBitmap> working;
  LoadPicture(Suite("basn3p04.png"), picture, working);
  ASSERT_NE(working, nullptr);
  EXPECT_EQ(working->Layout(), PixelLayout::Bits4);
  const auto direct = LoadFile(Suite("basn3p04.png"));
  EXPECT_EQ(test::StorageBytes(*working), test::StorageBytes(*direct));
  EXPECT_EQ(working->QueryPalette(), direct->QueryPalette());
}

}  // namespace
}  // namespace quorvex
