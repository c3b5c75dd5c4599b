#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/file_list_box.h"
#include "app/filter_combo_box.h"
#include "app/form_crypt.h"
#include "shell/picture_file.h"
#include "app/windows.h"
#include "gallery/preview_form.h"
#include "picture/file_format_list.h"
#include "window_fixture.h"

namespace quorvex {
namespace {

// One picture of a readable family: where it comes from, the name it gets
// in the folder and the filter entry it belongs to (the description before
// its extensions). Optional families are those whose readers builds may
// lack; they join once the registry reads them.
struct Sample {
  const char* entry;
  const char* name;
  const char* testData;  // below the shared test data, or
  const char* seed;      // below the project's fuzz seeds
  bool optional = false;
};

const Sample kSamples[] = {
    {"Bitmaps", "bitmap.bmp", "bmp/bmpsuite/g/rgb24.bmp", nullptr},
    {"Encapsulated Postscript Images", "preview.eps", "eps/illu10_preview.eps", nullptr},
    {"Ico Images", "icon.ico", "ico/hopper.ico", nullptr},
    {"Jpeg Images", "photo.jpg", "jpeg/hopper.jpg", nullptr},
    {"Portable Network Graphics", "graphic.png", "png/pngsuite/basn2c08.png", nullptr},
    {"Truevision Images", "targa.tga", "tga/200x32_rgb_bl_rle.tga", nullptr},
    {"Paintbrush Images", "paintbrush.pcx", "pcx/odd_stride.pcx", nullptr},
    {"Windows Metafiles", "drawing.wmf", "metafile/drawing.wmf", nullptr},
    {"Windows Metafiles", "enhanced.emf", "metafile/drawing.emf", nullptr},
    {"TIFF Images", "tagged.tif", "tiff/hopper2.tif", nullptr},
    {"Photoshop Images", "layers.psd", "psd/hopper.psd", nullptr},
    {"SGI Images", "silicon.sgi", "sgi/hopper.sgi", nullptr},
    {"Portable Map Images", "pixmap.ppm", "pnm/hopper.ppm", nullptr},
    {"Autodesk Images", "animator.cel", nullptr, "autodesk_reader/small.cel"},
    {"Dr. Halo Images", "halo.cut", nullptr, "cut_reader/small.cut"},
    {"Alias/Wavefront Images", "wavefront.rla", nullptr, "rla_reader/rgb_12x6.rla"},
    {"Photo-CD Images", "kodak.pcd", "pcd/hopper.pcd", nullptr},
    {"Paint Shop Pro Images", "jasc.psp", nullptr, "psp_reader/v5_palette8_rle_7x4.psp"},
    {"GIF Images", "graphics.gif", "gif/hopper.gif", nullptr},
    {"WebP Images", "web.webp", "webp/hopper.webp", nullptr},
    {"HEIF/AVIF Images", "phone.heic", "heif/hopper.heif", nullptr, true},
    {"HEIF/AVIF Images", "video.avif", "heif/hopper.avif", nullptr, true},
    {"JPEG 2000 Images", "archive.jp2", "jpeg2000/test-card-lossless.jp2", nullptr, true},
    {"JPEG XL Images", "future.jxl", nullptr, nullptr, true},
};

bool Registered(const std::string& name) {
  const std::string extension = name.substr(name.rfind('.') + 1);
  std::vector<std::string> extensions;
  FileFormatList().ListExtensions(extensions);
  return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

QStringList Sorted(QStringList names) {
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
  });
  return names;
}

// The description part of a filter entry's text.
QString EntryFamily(const QString& text) {
  return text.left(text.indexOf(" (")).trimmed();
}

class EveryFormat : public testing::Test {
 protected:
  void SetUp() override {
    for (const Sample& sample : kSamples) {
      if (sample.optional && !Registered(sample.name)) continue;
      if (sample.testData) {
        folder.Copy(sample.testData, sample.name);
      } else if (sample.seed) {
        std::filesystem::copy_file(std::string(QUORVEX_SOURCE_DIR "/fuzz/seeds/") + sample.seed,
                                   folder / sample.name);
      } else {
        MakeJpegXl(folder / sample.name);
      }
      families[sample.entry].push_back(sample.name);
      all.push_back(sample.name);
    }
    windows = CreateWindows(services.Services());
    form = windows.FormCrypt.get();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    list = form->findChild<TFileListBox*>("FileListBox1");
    filter = form->findChild<TFilterComboBox*>("FilterComboBox1");
    ASSERT_NE(list, nullptr);
    ASSERT_NE(filter, nullptr);
  }

  // JPEG XL has no shared sample: one is encoded from a PNG of the suite.
  static void MakeJpegXl(const std::string& path) {
    const std::string command = "cjxl -q 90 '" + test::TestData("png/pngsuite/basn2c08.png") +
                                "' '" + path + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  test::TTempFolder folder;
  test::TScriptedServices services;
  TWindows windows;
  TFormCrypt* form = nullptr;
  TFileListBox* list = nullptr;
  TFilterComboBox* filter = nullptr;
  std::map<QString, QStringList> families;
  QStringList all;
};

TEST_F(EveryFormat, TheFileListShowsEveryFamilyUnderAllImagesAndUnderItsOwnEntry) {
  EXPECT_EQ(filter->currentIndex(), 0);
  EXPECT_EQ(filter->itemText(0), "All images ");
  EXPECT_EQ(test::Items(list), Sorted(all)) << "as the window comes up";

  std::set<QString> offered;
  for (int i = 0; i < filter->count(); ++i) {
    const QString family = EntryFamily(filter->itemText(i));
    SCOPED_TRACE(family.toStdString());
    filter->setCurrentIndex(i);
    emit filter->activated(i);
    const QStringList expected = i == 0 ? all : families[family];
    EXPECT_FALSE(expected.isEmpty()) << "an entry without a sample";
    EXPECT_EQ(test::Items(list), Sorted(expected));
    offered.insert(family);
  }
  for (const auto& [family, names] : families) {
    EXPECT_TRUE(offered.count(family)) << family.toStdString() << " has no entry";
  }
}

TEST_F(EveryFormat, TheGalleryShowsEveryFamily) {
  TPreviewForm& gallery = *windows.PreviewForm;
  gallery.SetFolder(folder.Path());
  gallery.LoadFolder();
  QStringList shown;
  for (const auto& entry : gallery.Entries())
    shown.push_back(QString::fromStdString(entry->FileName));
  EXPECT_EQ(Sorted(shown), Sorted(all));
}

TEST(HelpDocument, NamesEveryExtensionTheProgramReads) {
  const std::vector<uint8_t> bytes =
      test::ReadFileBytes(QUORVEX_SOURCE_DIR "/data/quorvexhelp.html");
  const std::string help(bytes.begin(), bytes.end());
  std::vector<std::string> extensions;
  FileFormatList().ListExtensions(extensions);
  ASSERT_FALSE(extensions.empty());
  for (const std::string& extension : extensions) {
    EXPECT_NE(help.find("<code>." + extension + "</code>"), std::string::npos) << extension;
  }
}

}  // namespace
}  // namespace quorvex
