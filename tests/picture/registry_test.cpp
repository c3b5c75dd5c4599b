#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "fake_reader.h"
#include "picture/bitmap.h"
#include "picture/exceptions.h"
#include "picture/file_format_list.h"
#include "picture/jpeg_image.h"
#include "picture/picture.h"
#include "picture/stream.h"
#include "support/test_support.h"

namespace quorvex {
namespace {

struct Row {
  const char* extension;
  const char* className;
  const char* classDescription;  // "" when the row gives none
  const char* description;
};

// The registration table, in order.
const Row kTable[] = {
    {"bmp", "TBitmap", "Windows bitmaps", "Windows bitmaps"},
    {"ico", "TIcon", "Windows icons", "Windows icons"},
    {"wmf", "TMetafile", "Windows metafiles", "Windows metafiles"},
    {"emf", "TMetafile", "Windows metafiles", "Windows enhanced meta files"},
    {"jfif", "TJPEGImage", "JPG images", "JFIF images"},
    {"jpg", "TJPEGImage", "", "JPG images"},
    {"jpe", "TJPEGImage", "", "JPE images"},
    {"jpeg", "TJPEGImage", "", "JPEG images"},
    {"rle", "TBitmap", "Windows bitmaps", "Run length encoded Windows bitmaps"},
    {"dib", "TBitmap", "", "Device independant Windows bitmaps"},
    {"win", "TTargaGraphic", "Truevision images", "Truevision images"},
    {"vst", "TTargaGraphic", "", "Truevision images"},
    {"vda", "TTargaGraphic", "", "Truevision images"},
    {"tga", "TTargaGraphic", "", "Truevision images"},
    {"icb", "TTargaGraphic", "", "Truevision images"},
    {"tiff", "TTIFFGraphic", "Tagged image file format images", "Macintosh TIFF images"},
    {"tif", "TTIFFGraphic", "", "PC TIF images"},
    {"fax", "TTIFFGraphic", "", "GFI fax images"},
    {"eps", "TEPSGraphic", "Encapsulated Postscript images", "Encapsulated Postscript images"},
    {"pcx", "TPCXGraphic", "ZSoft Paintbrush images", "ZSoft Paintbrush images"},
    {"pcc", "TPCXGraphic", "", "ZSoft Paintbrush images"},
    {"scr", "TPCXGraphic", "", "Word 5.x screen capture images"},
    {"rpf", "TRLAGraphic", "Alias/Wavefront images", "Alias/Wavefront images"},
    {"rla", "TRLAGraphic", "", "Alias/Wavefront images"},
    {"sgi", "TSGIGraphic", "SGI images", "SGI true color images"},
    {"rgba", "TSGIGraphic", "", "SGI true color images with alpha"},
    {"rgb", "TSGIGraphic", "", "SGI true color images"},
    {"bw", "TSGIGraphic", "", "SGI black/white images"},
    {"psd", "TPSDGraphic", "Photoshop images", "Photoshop images"},
    {"pdd", "TPSDGraphic", "", "Photoshop images"},
    {"ppm", "TPPMGraphic", "Portable map images", "Portable pixel map images"},
    {"pgm", "TPPMGraphic", "", "Portable gray map images"},
    {"pbm", "TPPMGraphic", "", "Portable bitmap images"},
    {"cel", "TAutodeskGraphic", "Autodesk images", "Autodesk images"},
    {"pic", "TAutodeskGraphic", "Autodesk images", "Autodesk images"},
    {"pcd", "TPCDGraphic", "Kodak Photo-CD images", "Kodak Photo-CD images"},
    {"cut", "TCUTGraphic", "Dr. Halo images", "Dr. Halo images"},
    {"psp", "TPSPGraphic", "Paintshop Pro images", "Paintshop Pro images"},
    {"png", "TPNGGraphic", "Portable network graphic images", "Portable network graphic images"},
    {"gif", "TGIFGraphic", "GIF images", "GIF images"},
    {"webp", "TWebPGraphic", "WebP images", "WebP images"},
    {"heic", "THEIFGraphic", "HEIF images", "HEIF images"},
    {"heif", "THEIFGraphic", "", "HEIF images"},
    {"avif", "THEIFGraphic", "", "AVIF images"},
    {"jp2", "TJPEG2000Graphic", "JPEG 2000 images", "JPEG 2000 images"},
    {"j2k", "TJPEG2000Graphic", "", "JPEG 2000 codestreams"},
    {"jpf", "TJPEG2000Graphic", "", "JPEG 2000 images"},
    {"jpx", "TJPEG2000Graphic", "", "JPEG 2000 images"},
    {"jxl", "TJXLGraphic", "JPEG XL images", "JPEG XL images"},
};

// The classes this build holds, by name.
std::set<std::string> ClassesInBuild() {
  std::set<std::string> names;
  for (const auto& entry : FileFormatList().Classes()) names.insert(entry->graphicClass->Name());
  return names;
}

// The table's rows of the classes the build holds, in table order.
std::vector<Row> ExpectedRows() {
  const auto present = ClassesInBuild();
  std::vector<Row> rows;
  for (const Row& row : kTable) {
    if (present.count(row.className)) rows.push_back(row);
  }
  return rows;
}

TEST(Registry, ExtensionsClassesDescriptionsAndKindsFollowTheTable) {
  const auto present = ClassesInBuild();
  // Classes every build holds, the platform's included.
  for (const char* name : {"TBitmap", "TIcon", "TMetafile", "TJPEGImage"}) {
    EXPECT_TRUE(present.count(name)) << name;
  }
  // Nothing that is not in the table.
  for (const auto& name : present) {
    EXPECT_TRUE(std::any_of(std::begin(kTable), std::end(kTable), [&](const Row& r) {
      return name == r.className;
    })) << name;
  }

  const std::vector<Row> rows = ExpectedRows();
  const auto& extensions = FileFormatList().Extensions();
  ASSERT_EQ(extensions.size(), rows.size());
  std::vector<std::string> classOrder;
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].extension);
    EXPECT_EQ(extensions[i]->extension, rows[i].extension);
    EXPECT_EQ(extensions[i]->description, rows[i].description);
    EXPECT_EQ(extensions[i]->classEntry->graphicClass->Name(), rows[i].className);
    if (std::find(classOrder.begin(), classOrder.end(), rows[i].className) == classOrder.end()) {
      classOrder.push_back(rows[i].className);
    }
  }

  // The class list in order of first registration, with the description
  // the class's last non-empty row gave and its number of extensions.
  const auto& classes = FileFormatList().Classes();
  ASSERT_EQ(classes.size(), classOrder.size());
  for (size_t i = 0; i < classes.size(); ++i) {
    SCOPED_TRACE(classOrder[i]);
    EXPECT_EQ(classes[i]->graphicClass->Name(), classOrder[i]);
    std::string description;
    int count = 0;
    for (const Row& row : rows) {
      if (row.className != classOrder[i]) continue;
      ++count;
      if (*row.classDescription) description = row.classDescription;
    }
    EXPECT_EQ(classes[i]->description, description);
    EXPECT_EQ(classes[i]->count, count);
  }
}

TEST(Registry, PictureContainerKnowsEveryExtensionWithItsDescription) {
  const TPictureFormats& formats = PictureFormats();
  for (const Row& row : ExpectedRows()) {
    SCOPED_TRACE(row.extension);
    const TGraphicClass* found = formats.FindClass(row.extension);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Name(), row.className);
    // The last record of the extension is the registry's.
    const auto& records = formats.Records();
    const auto last = std::find_if(records.rbegin(), records.rend(),
                                   [&](const auto& r) { return r.extension == row.extension; });
    EXPECT_EQ(last->description, row.description);
  }
  // Lookups ignore case.
  EXPECT_EQ(formats.FindClass("JPG"), &ClassOf<TJPEGImage>());
  EXPECT_EQ(formats.FindClass("xyz"), nullptr);
}

TEST(Registry, PlatformClassesHandedOverLateStillTakeTheirRows) {
  const TPlatformClasses installed = PlatformClasses();
  ASSERT_TRUE(installed.icon && installed.metafile);
  SetPlatformClasses({});
  std::vector<std::string> list;
  FileFormatList().ListExtensions(list);
  ASSERT_GE(list.size(), 2u);
  EXPECT_EQ(list[1], "jfif");
  EXPECT_EQ(PictureFormats().FindClass("ico"), nullptr);

  SetPlatformClasses(installed);
  FileFormatList().ListExtensions(list);
  EXPECT_EQ(std::vector<std::string>(list.begin(), list.begin() + 5),
            (std::vector<std::string>{"bmp", "ico", "wmf", "emf", "jfif"}));
  EXPECT_EQ(PictureFormats().FindClass("ico"), installed.icon);
  EXPECT_EQ(PictureFormats().Records()[0].extension, "wmf");
}

TEST(Registry, ListExtensionsClearsTheListAndKeepsRegistrationOrder) {
  std::vector<std::string> list = {"stale"};
  FileFormatList().ListExtensions(list);
  std::vector<std::string> expected;
  for (const Row& row : ExpectedRows()) expected.push_back(row.extension);
  EXPECT_EQ(list, expected);
}

// A registry of its own, over a container registry of its own.
class LocalRegistry : public ::testing::Test {
 protected:
  TPictureFormats formats_;
  TFileFormatList list_{formats_};
  const TGraphicClass& bitmap_ = ClassOf<TBitmap>();
  const TGraphicClass& jpeg_ = ClassOf<TJPEGImage>();
  const TGraphicClass& readerA_ = ClassOf<test::TFakeReader<'A'>>();
  const TGraphicClass& readerB_ = ClassOf<test::TFakeReader<'B'>>();

  std::vector<std::string> Extensions() const {
    std::vector<std::string> list;
    list_.ListExtensions(list);
    return list;
  }
  std::vector<std::string> ClassNames() const {
    std::vector<std::string> names;
    for (const auto& c : list_.Classes()) names.push_back(c->graphicClass->Name());
    return names;
  }
};

TEST_F(LocalRegistry, AddFormatRefusesAKnownExtensionUnlessReplacing) {
  list_.AddFormat("", "Nothing", "Nothing", false, bitmap_);
  EXPECT_TRUE(list_.Extensions().empty());

  list_.AddFormat("bmp", "Windows bitmaps", "Windows bitmaps", false, bitmap_);
  try {
    list_.AddFormat("BMP", "", "Other", false, jpeg_);
    FAIL() << "no exception";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Attempt to register BMP twice.");
  }
  EXPECT_EQ(Extensions(), std::vector<std::string>{"bmp"});
  EXPECT_EQ(ClassNames(), std::vector<std::string>{"TBitmap"});

  // Replacing moves the extension; the old class, now without extensions,
  // leaves both registries.
  list_.AddFormat("bmp", "", "", true, jpeg_);
  EXPECT_EQ(ClassNames(), std::vector<std::string>{"TJPEGImage"});
  EXPECT_EQ(list_.Classes()[0]->count, 1);
  EXPECT_EQ(formats_.FindClass("bmp"), &jpeg_);
  for (const auto& record : formats_.Records()) EXPECT_NE(record.graphicClass, &bitmap_);
  // The container got the class description for want of an extension one.
  EXPECT_EQ(formats_.Records().back().description, "");
}

TEST_F(LocalRegistry, ClassDescriptionIsTheLastGivenAndTheContainerGetsTheCurrentOne) {
  list_.AddFormat("jfif", "JPG images", "", false, jpeg_);
  EXPECT_EQ(formats_.Records().back().description, "JPG images");
  list_.AddFormat("jpg", "", "JPG", false, jpeg_);
  EXPECT_EQ(list_.Classes()[0]->description, "JPG images");
  list_.AddFormat("jpe", "Later", "", false, jpeg_);
  EXPECT_EQ(list_.Classes()[0]->description, "Later");
  EXPECT_EQ(formats_.Records().back().description, "Later");
  EXPECT_EQ(list_.Classes()[0]->count, 3);
}

TEST_F(LocalRegistry, RemoveFormatDropsExtensionsAndEmptyClasses) {
  list_.AddFormat("bmp", "Bitmaps", "", false, bitmap_);
  list_.AddFormat("rle", "", "", false, bitmap_);
  list_.AddFormat("jpg", "JPEG", "", false, jpeg_);

  list_.RemoveFormat("nope", bitmap_);
  EXPECT_EQ(Extensions(), (std::vector<std::string>{"bmp", "rle", "jpg"}));

  list_.RemoveFormat("RLE", bitmap_);
  EXPECT_EQ(Extensions(), (std::vector<std::string>{"bmp", "jpg"}));
  EXPECT_EQ(list_.Classes()[0]->count, 1);
  list_.RemoveFormat("bmp", bitmap_);
  EXPECT_EQ(ClassNames(), std::vector<std::string>{"TJPEGImage"});
  EXPECT_EQ(formats_.FindClass("bmp"), nullptr);  // the built-in record went too

  list_.RemoveFormat(std::nullopt, jpeg_);
  EXPECT_TRUE(list_.Classes().empty());
  EXPECT_TRUE(Extensions().empty());
  EXPECT_EQ(formats_.FindClass("jpg"), nullptr);
}

TEST_F(LocalRegistry, ShutdownDropsTheReadersAndRleAndDib) {
  list_.AddFormat("bmp", "Bitmaps", "", false, bitmap_);
  list_.AddFormat("aaa", "A", "", false, readerA_);
  list_.AddFormat("rle", "", "", false, bitmap_);
  list_.AddFormat("dib", "", "", false, bitmap_);
  list_.AddFormat("jpg", "JPEG", "", false, jpeg_);
  list_.UnregisterAtShutdown();
  EXPECT_EQ(Extensions(), (std::vector<std::string>{"bmp", "jpg"}));
  EXPECT_EQ(ClassNames(), (std::vector<std::string>{"TBitmap", "TJPEGImage"}));
  EXPECT_EQ(formats_.FindClass("aaa"), nullptr);
}

TEST_F(LocalRegistry, DetectReaderAsksOnlyReadersInClassOrderAndKeepsThePosition) {
  list_.AddFormat("bmp", "Bitmaps", "", false, bitmap_);
  list_.AddFormat("bbb", "B", "", false, readerB_);
  list_.AddFormat("aaa", "A", "", false, readerA_);
  EXPECT_FALSE(bitmap_.IsReader());
  EXPECT_TRUE(readerA_.IsReader());

  const std::string a = std::string("xxFAKEPICA") + "payload";
  TMemoryStream stream(a.data(), a.size());
  stream.Seek(2);
  EXPECT_EQ(list_.DetectReader(stream), &readerA_);
  EXPECT_EQ(stream.Position(), 2);

  // Both asked, B first; none accepts.
  test::TFakeReader<'A'>::asked = test::TFakeReader<'B'>::asked = 0;
  const std::string none = "BM not a fake picture";
  TMemoryStream other(none.data(), none.size());
  EXPECT_EQ(list_.DetectReader(other), nullptr);
  EXPECT_EQ(test::TFakeReader<'A'>::asked, 1);
  EXPECT_EQ(test::TFakeReader<'B'>::asked, 1);

  // Exactly the magic's length is not enough: more must follow.
  TMemoryStream exact("FAKEPICA", 8);
  EXPECT_EQ(list_.DetectReader(exact), nullptr);
  TMemoryStream longer("FAKEPICA!", 9);
  EXPECT_EQ(list_.DetectReader(longer), &readerA_);

  // The same tests on files, asked of the class.
  const std::string dir = test::MakeTempDir();
  test::WriteFileBytes(dir + "/a.bmp", {'F', 'A', 'K', 'E', 'P', 'I', 'C', 'A', '!'});
  EXPECT_TRUE(readerA_.AcceptsFile(dir + "/a.bmp"));
  EXPECT_FALSE(readerB_.AcceptsFile(dir + "/a.bmp"));
  EXPECT_FALSE(bitmap_.AcceptsFile(dir + "/a.bmp"));
  EXPECT_EQ(list_.DetectReader(dir + "/a.bmp"), &readerA_);
  EXPECT_THROW(readerA_.AcceptsFile(dir + "/missing.bmp"), EFOpenError);
  std::filesystem::remove_all(dir);

  try {
    list_.DetectReader(std::string(""));
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file ");
  }
}

TEST(PictureFormats, BuiltInRecordsThenTheJpegWrappersAndLaterRecordsWin) {
  TPictureFormats formats;
  std::vector<std::string> extensions;
  for (const auto& r : formats.Records()) extensions.push_back(r.extension);
  std::vector<std::string> expected;
  const TPlatformClasses platform = PlatformClasses();
  if (platform.metafile) expected.insert(expected.end(), {"wmf", "emf"});
  if (platform.icon) expected.push_back("ico");
  expected.push_back("bmp");
  EXPECT_EQ(extensions, expected);
  EXPECT_EQ(formats.Records().back().description, "Bitmaps");

  formats.RegisterFileFormat("BMP", "Other", ClassOf<TJPEGImage>());
  EXPECT_EQ(formats.Records().back().extension, "bmp");
  EXPECT_EQ(formats.FindClass("bmp"), &ClassOf<TJPEGImage>());
  formats.UnregisterGraphicClass(ClassOf<TJPEGImage>());
  EXPECT_EQ(formats.FindClass("Bmp"), &ClassOf<TBitmap>());

  // The process-wide one also holds the wrapper's own records.
  const auto& records = PictureFormats().Records();
  const auto jpeg = std::find_if(records.begin(), records.end(), [](const auto& r) {
    return r.extension == "jpeg" && r.description == "JPEG Image File";
  });
  ASSERT_NE(jpeg, records.end());
  EXPECT_EQ(std::next(jpeg)->extension, "jpg");
  EXPECT_EQ(std::next(jpeg)->description, "JPEG Image File");
}

}  // namespace
}  // namespace quorvex
