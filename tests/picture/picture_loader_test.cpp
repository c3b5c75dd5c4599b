#include "picture/picture_loader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fake_reader.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/jpeg_image.h"
#include "picture/picture.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

class Loader : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempDir();
    SetBusyCursor([this](bool busy) { cursor_.push_back(busy); });
  }
  void TearDown() override {
    SetBusyCursor(nullptr);
    fs::remove_all(dir_);
  }

  // A copy of a shared test file under another name.
  std::string Copy(const std::string& testData, const std::string& name) const {
    const std::string path = dir_ + "/" + name;
    fs::copy_file(test::TestData(testData), path, fs::copy_options::overwrite_existing);
    return path;
  }

  std::string dir_;
  std::vector<bool> cursor_;
  TPicture picture_;
  std::unique_ptr<TBitmap> working_;
};

TEST_F(Loader, AFailedLoadLeavesAnEmptyWorkingBitmapAndThePreviousPicture) {
  LoadPicture(test::TestData("jpeg/hopper.jpg"), picture_, working_);
  const TGraphic* shown = picture_.Graphic();
  ASSERT_FALSE(working_->IsEmpty());
  cursor_.clear();

  struct Case {
    std::string path;
    std::string message;
  };
  test::WriteFileBytes(dir_ + "/notes.xyz", {'h', 'e', 'l', 'l', 'o'});
  test::WriteFileBytes(dir_ + "/README", {'h', 'e', 'l', 'l', 'o'});
  test::WriteFileBytes(dir_ + "/damaged.bmp", {'B', 'M', 1, 2, 3});
  test::WriteFileBytes(dir_ + "/damaged.jpg", {0xFF, 0xD8, 0xFF});
  // Files that would load as an empty picture: a PCX header of an unknown
  // maker, a bitmap file of no bytes.
  test::WriteFileBytes(dir_ + "/maker.pcx", std::vector<uint8_t>(130, 0));
  test::WriteFileBytes(dir_ + "/empty.bmp", {});
  const Case cases[] = {
      {"", "Cannot open file "},
      {dir_ + "/missing.jpg", "Cannot open file " + dir_ + "/missing.jpg"},
      {dir_ + "/notes.xyz", "Unknown picture file extension (.xyz)"},
      {dir_ + "/README", "Unknown picture file extension (.)"},
      {dir_ + "/damaged.bmp", "Stream read error"},
      {dir_ + "/maker.pcx", "Cannot load image. Invalid or unexpected PCX image format."},
      {dir_ + "/empty.bmp", "Bitmap image is not valid"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      LoadPicture(c.path, picture_, working_);
      FAIL() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    ASSERT_NE(working_, nullptr);
    EXPECT_TRUE(working_->IsEmpty());
    EXPECT_EQ(working_->Layout(), PixelLayout::DeviceBitmap);
    EXPECT_EQ(picture_.Graphic(), shown);
    EXPECT_EQ(cursor_, (std::vector<bool>{true, false}));
    cursor_.clear();
  }
  EXPECT_THROW(LoadPicture(dir_ + "/damaged.jpg", picture_, working_), EJPEG);
  EXPECT_THROW(LoadPicture(dir_ + "/missing.jpg", picture_, working_), EFOpenError);
}

TEST_F(Loader, BitmapsArriveInTheReadersLayoutSharingItsPixels) {
  const char* files[] = {
      "bmp/bmpsuite/g/pal1.bmp",  "bmp/bmpsuite/g/pal4.bmp",      "bmp/bmpsuite/g/pal8.bmp",
      "bmp/bmpsuite/g/rgb16.bmp", "bmp/bmpsuite/g/rgb16-565.bmp", "bmp/bmpsuite/g/rgb24.bmp",
      "bmp/bmpsuite/g/rgb32.bmp", "bmp/bmpsuite/g/rgb32bf.bmp",   "bmp/bmpsuite/g/pal8topdown.bmp"};
  for (const char* file : files) {
    SCOPED_TRACE(file);
    TBitmap direct;
    direct.LoadFile(test::TestData(file));
    LoadPicture(test::TestData(file), picture_, working_);
    EXPECT_EQ(picture_.Graphic()->ClassName(), "TBitmap");
    EXPECT_EQ(working_->Layout(), direct.Layout());
    EXPECT_TRUE(working_->SharesImageWith(*dynamic_cast<TBitmap*>(picture_.Graphic())));
    EXPECT_EQ(test::StorageBytes(*working_), test::StorageBytes(direct));
  }
  // The container also knows the bitmap extensions the main window hides.
  for (const char* name : {"a.dib", "a.RLE", "a.Bmp"}) {
    LoadPicture(Copy("bmp/bmpsuite/g/pal8.bmp", name), picture_, working_);
    EXPECT_EQ(working_->Layout(), PixelLayout::Bits8) << name;
  }
}

TEST_F(Loader, JpegFilesAreDrawnOntoABits24Bitmap) {
  for (const char* name : {"a.jpg", "a.jpeg", "a.jpe", "a.JPG", "a.jfif"}) {
    SCOPED_TRACE(name);
    LoadPicture(Copy("jpeg/flower.jpg", name), picture_, working_);
    EXPECT_EQ(picture_.Graphic()->ClassName(), "TJPEGImage");
    EXPECT_EQ(working_->Layout(), PixelLayout::Bits24);
    EXPECT_EQ(working_->ImageWidth(), 480);
    EXPECT_EQ(working_->ImageHeight(), 360);
  }
}

TEST_F(Loader, TargaExtensionIsDrawnEvenWhenItsGraphicIsABitmap) {
  // A container registry where .tga files are read as bitmaps: the
  // extension alone, in any case, sends the picture down the drawn path.
  TPictureFormats formats;
  formats.RegisterFileFormat("tga", "Truevision images", ClassOf<TBitmap>());
  TPicture picture(formats);
  const std::string path = Copy("bmp/bmpsuite/g/pal8.bmp", "pal8.TGA");
  LoadPicture(path, picture, working_);
  EXPECT_EQ(dynamic_cast<TBitmap*>(picture.Graphic())->Layout(), PixelLayout::Bits8);
  EXPECT_EQ(working_->Layout(), PixelLayout::Bits24);
  TBitmap direct;
  direct.LoadFile(path);
  EXPECT_EQ(test::ComparePictures(test::BitmapPixels(direct), test::BitmapPixels(*working_), 0),
            "");
}

TEST_F(Loader, ContentWinsOverTheName) {
  TFileFormatList& registry = FileFormatList();
  const TGraphicClass& fake = ClassOf<test::TFakeReader<'A'>>();
  registry.AddFormat("fka", "Fake pictures", "", false, fake);
  const std::string path = dir_ + "/looks.bmp";
  test::WriteFileBytes(path, {'F', 'A', 'K', 'E', 'P', 'I', 'C', 'A', 0});
  LoadPicture(path, picture_, working_);
  registry.RemoveFormat(std::nullopt, fake);

  EXPECT_EQ(picture_.Graphic()->ClassName(), "TFakeReaderA");
  EXPECT_EQ(working_->Layout(), PixelLayout::Bits4);
  EXPECT_TRUE(working_->SharesImageWith(*dynamic_cast<TBitmap*>(picture_.Graphic())));
  EXPECT_EQ(dynamic_cast<TReaderGraphic*>(picture_.Graphic())->ImageProperties().height, 3);
}

TEST_F(Loader, PngNamedBmpLoadsAsPng) {
  ASSERT_NE(FileFormatList().DetectReader(test::TestData("png/pngsuite/basn2c08.png")), nullptr)
      << "the PNG reader is not registered";
  LoadPicture(Copy("png/pngsuite/basn2c08.png", "picture.bmp"), picture_, working_);
  EXPECT_EQ(picture_.Graphic()->ClassName(), "TPNGGraphic");
  EXPECT_EQ(working_->Layout(), PixelLayout::Bits24);
}

TEST_F(Loader, TargaFilesFailingTheContentTestAreDrawnThosePassingItCopied) {
  // (The fixture's container has made the registry's start-up registrations.)
  ASSERT_NE(PictureFormats().FindClass("tga"), nullptr) << "the Targa reader is not registered";
  // A colour-map entry size of 0 fails the test: read by extension, drawn.
  // The same pictures stating an entry size of 24 pass it and keep their
  // own layout.
  const struct {
    const char* file;
    bool patchEntrySize;
    PixelLayout layout;
  } cases[] = {
      {"tga/200x32_rgba_tl_raw.tga", false, PixelLayout::Bits24},
      {"tga/rgba16.tga", false, PixelLayout::Bits24},
      {"tga/200x32_rgba_tl_raw.tga", true, PixelLayout::Bits32},
      {"tga/rgba16.tga", true, PixelLayout::Bits15},
      {"tga/200x32_rgb_bl_raw.tga", true, PixelLayout::Bits24},
      {"tga/200x32_p_bl_raw.tga", false, PixelLayout::Bits8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + (c.patchEntrySize ? " with entry size 24" : ""));
    auto bytes = test::ReadFileBytes(test::TestData(c.file));
    if (c.patchEntrySize) bytes[7] = 24;
    for (const char* name : {"picture.tga", "PICTURE.TGA"}) {
      test::WriteFileBytes(dir_ + "/" + name, bytes);
      LoadPicture(dir_ + "/" + name, picture_, working_);
      EXPECT_EQ(picture_.Graphic()->ClassName(), "TTargaGraphic");
      EXPECT_EQ(working_->Layout(), c.layout) << name;
      EXPECT_EQ(working_->ImageWidth(), picture_.Width());
    }
  }
}

TEST_F(Loader, IconsAndMetafilesAreDrawnAtTheirOwnSizeOnWhite) {
  ASSERT_NE(PlatformClasses().icon, nullptr) << "installed by the test program at start-up";
  const struct {
    const char* file;
    const char* graphicClass;
  } cases[] = {{"ico/hopper.ico", "TIcon"},
               {"ico/python.ico", "TIcon"},
               {"metafile/drawing.wmf", "TMetafile"},
               {"metafile/drawing.emf", "TMetafile"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    LoadPicture(test::TestData(c.file), picture_, working_);
    EXPECT_EQ(picture_.Graphic()->ClassName(), c.graphicClass);
    EXPECT_EQ(working_->Layout(), PixelLayout::Bits24);
    EXPECT_GT(picture_.Width(), 0);
    EXPECT_EQ(working_->ImageWidth(), picture_.Width());
    EXPECT_EQ(working_->ImageHeight(), picture_.Height());
  }
  // The chosen image's transparent corner leaves the white background.
  LoadPicture(test::TestData("ico/python.ico"), picture_, working_);
  EXPECT_EQ(working_->PixelColor(0, 0), 0xFFFFFFu);
}

TEST_F(Loader, MemoryAndFileLoadsAgree) {
  const std::string path = test::TestData("jpeg/hopper.jpg");
  LoadPicture(path, picture_, working_);
  const auto bytes = test::ReadFileBytes(path);
  TPicture other;
  std::unique_ptr<TBitmap> working;
  LoadPictureFromMemory(bytes.data(), bytes.size(), "hopper.jpg", other, working);
  EXPECT_EQ(test::StorageBytes(*working), test::StorageBytes(*working_));
  EXPECT_THROW(LoadPictureFromMemory(bytes.data(), bytes.size(), "hopper.xyz", other, working),
               EInvalidGraphic);
}

class TUnregistered : public TBitmap {
 public:
  std::string ClassName() const override { return "TUnregistered"; }
};

TEST(Picture, SetGraphicStoresACopyOfTheSameClass) {
  TBitmap bitmap;
  bitmap.SetLayout(PixelLayout::Bits8);
  bitmap.SetImageWidth(3);
  bitmap.SetImageHeight(2);
  TPicture picture;
  picture.SetGraphic(&bitmap);
  ASSERT_NE(picture.Graphic(), &bitmap);
  EXPECT_EQ(picture.Graphic()->ClassName(), "TBitmap");
  EXPECT_TRUE(dynamic_cast<TBitmap*>(picture.Graphic())->SharesImageWith(bitmap));

  TJPEGImage jpeg;
  jpeg.LoadFile(test::TestData("jpeg/rgb.jpg"));
  picture.SetGraphic(&jpeg);
  EXPECT_EQ(picture.Graphic()->ClassName(), "TJPEGImage");
  EXPECT_EQ(picture.Width(), jpeg.ImageWidth());

  TUnregistered unknown;
  EXPECT_THROW(picture.SetGraphic(&unknown), EConvertError);
  picture.SetGraphic(nullptr);
  EXPECT_EQ(picture.Graphic(), nullptr);
}

}  // namespace
}  // namespace quorvex
