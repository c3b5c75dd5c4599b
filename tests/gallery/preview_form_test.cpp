#include "gallery/preview_form.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <deque>

#include "app/directory_outline.h"
#include "app/window_fixture.h"
#include "gallery/thumbnail_maker.h"
#include "picture/bitmap.h"
#include "picture/jpeg_image.h"
#include "picture/picture_loader.h"

namespace quorvex {
namespace {

using test::TTempFolder;

// Counts how often pending messages are let through: once per skipped file.
class TCountingPause : public TPause {
 public:
  int messages = 0;
  void Sleep(int) override {}
  void ProcessMessages() override { ++messages; }
};

// The folder chooser answers from a queue; nothing queued means cancel.
class TChooserDialogs : public test::TScriptedDialogs {
 public:
  struct Call {
    QString caption;
    QString start;
  };
  std::deque<std::optional<QString>> folders;
  std::vector<Call> calls;
  std::optional<QString> ChooseFolder(QWidget*, const QString& caption,
                                      const QString& start) override {
    calls.push_back({caption, start});
    if (folders.empty()) return {};
    auto folder = folders.front();
    folders.pop_front();
    return folder;
  }
};

// A picture file of the given size in one colour.
void WritePicture(const std::string& path, int width, int height, QColor color = Qt::red) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(color);
  ASSERT_TRUE(image.save(QString::fromStdString(path), "PNG")) << path;
}

class PreviewFormTest : public testing::Test {
 protected:
  TChooserDialogs dialogs;
  test::TRecordingShell shell;
  TCountingPause pause;
  std::string treeFolder;
  TPreviewForm form{TServices{&dialogs, &shell, &pause}, [this] { return treeFolder; }};

  void Load(const std::string& folder) {
    form.SetFolder(folder);
    form.LoadFolder();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : form.Entries()) names.push_back(entry->FileName);
    return names;
  }
};

TEST_F(PreviewFormTest, WindowAndLayoutConstants) {
  EXPECT_EQ(form.size(), QSize(515, 411));
  EXPECT_EQ(form.windowTitle(), "Previews");
  EXPECT_TRUE(form.windowFlags() & Qt::Tool);
  EXPECT_EQ(form.Action1->text(), "Browse folder...");
  EXPECT_EQ(form.Action1->shortcut(), QKeySequence(Qt::Key_F3));
  EXPECT_EQ(form.CellWidth(), 106);
  EXPECT_EQ(form.CellHeight(), 121);
  EXPECT_EQ(form.PitchX(), 121);
  EXPECT_EQ(form.PitchY(), 136);
}

TEST_F(PreviewFormTest, ScrollRangeAndColumnsFollowTheCount) {
  struct Case {
    int pictures;
    int range;
    bool scrollBar;
  };
  for (const Case& c : {Case{0, 150, false}, Case{3, 150, false}, Case{4, 286, false},
                        Case{7, 286, false}, Case{8, 422, true}, Case{12, 558, true}}) {
    TTempFolder folder;
    for (int i = 0; i < c.pictures; ++i)
      WritePicture(folder / ("p" + std::to_string(i) + ".png"), 8, 8);
    Load(folder.Path());
    EXPECT_EQ(form.ScrollRange(), c.range) << c.pictures;
    EXPECT_EQ(form.VertScrollBar->isVisibleTo(&form), c.scrollBar) << c.pictures;
    EXPECT_EQ(form.ClientWidth(), c.scrollBar ? 499 : 515) << c.pictures;
    EXPECT_EQ(form.Columns(), 4) << "both client widths give 4 columns";
  }
}

TEST_F(PreviewFormTest, ScrollingMovesTheRows) {
  TTempFolder folder;
  for (int i = 0; i < 40; ++i) WritePicture(folder / ("p" + std::to_string(i) + ".png"), 8, 8);
  Load(folder.Path());
  ASSERT_EQ(form.ScrollRange(), 10 * 136 + 150);
  EXPECT_EQ(form.VertScrollBar->maximum(), form.ScrollRange() - 411);
  form.SetScrollPosition(2 * 136 + 20);
  form.ComputeLayout();
  EXPECT_EQ(form.FirstVisibleRow(), 2);
  EXPECT_EQ(form.CellRect(9), QRect(121, 5 + 2 * 136 - (2 * 136 + 20), 106, 121));
  // A new load starts at the top again.
  form.LoadFolder();
  EXPECT_EQ(form.ScrollPosition(), 0);
}

TEST(ThumbnailTest, SizesAreNeverEnlargedAndHalvesGoToEven) {
  struct Case {
    int width, height, thumbWidth, thumbHeight;
  };
  for (const Case& c : {Case{300, 150, 100, 50}, Case{150, 300, 50, 100}, Case{150, 100, 100, 67},
                        Case{101, 100, 100, 99}, Case{200, 101, 100, 50}, Case{200, 103, 100, 52},
                        Case{100, 100, 100, 100}, Case{80, 60, 80, 60}, Case{100000, 10, 100, 1}}) {
    TBitmap source;
    source.SetLayout(PixelLayout::Bits8);
    source.SetImageWidth(c.width);
    source.SetImageHeight(c.height);
    TBitmap thumb;
    MakeThumbnail(source, thumb);
    EXPECT_EQ(thumb.ImageWidth(), c.thumbWidth) << c.width << "x" << c.height;
    EXPECT_EQ(thumb.ImageHeight(), c.thumbHeight) << c.width << "x" << c.height;
    const bool copied = c.width <= 100 && c.height <= 100;
    EXPECT_EQ(thumb.Layout(), copied ? PixelLayout::Bits8 : PixelLayout::Bits24)
        << c.width << "x" << c.height;
  }
}

TEST(ThumbnailTest, StretchingDropsColumnsWithoutAveraging) {
  // Black and white stripes one pixel wide: averaging would give greys.
  TBitmap source;
  source.SetLayout(PixelLayout::Bits24);
  source.SetImageWidth(301);
  source.SetImageHeight(150);
  for (int y = 0; y < 150; ++y) {
    uint8_t* row = source.RowAddress(y);
    for (int x = 0; x < 301; ++x) {
      const uint8_t value = x % 2 ? 0xFF : 0x00;
      row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = value;
    }
  }
  TBitmap thumb;
  MakeThumbnail(source, thumb);
  ASSERT_EQ(thumb.ImageWidth(), 100);
  ASSERT_EQ(thumb.ImageHeight(), 50);
  for (int y = 0; y < 50; ++y) {
    for (int x = 0; x < 100; ++x) {
      const uint32_t color = thumb.PixelColor(x, y);
      ASSERT_TRUE(color == 0 || color == 0xFFFFFF) << x << "," << y << " " << std::hex << color;
    }
  }
}

TEST(ThumbnailTest, SmallPictureIsAnExactCopyWithItsPalette) {
  TBitmap source;
  source.SetLayout(PixelLayout::Bits8);
  source.SetImageWidth(80);
  source.SetImageHeight(60);
  source.RowAddress(10)[20] = 7;
  TBitmap thumb;
  MakeThumbnail(source, thumb);
  EXPECT_EQ(thumb.Layout(), PixelLayout::Bits8);
  EXPECT_EQ(thumb.PixelColor(20, 10), source.PixelColor(20, 10));
  EXPECT_EQ(thumb.QueryPalette(), source.QueryPalette());
}

TEST(ThumbnailTest, JpegScaleIsTheLargestReductionThatStillHoldsTheThumbnail) {
  struct Case {
    int width, height;
    TJPEGScale scale;
  };
  for (const Case& c : {Case{1600, 1200, TJPEGScale::Eighth}, Case{800, 800, TJPEGScale::Eighth},
                        Case{799, 600, TJPEGScale::Eighth}, Case{792, 600, TJPEGScale::Quarter},
                        Case{396, 300, TJPEGScale::Half}, Case{198, 150, TJPEGScale::FullSize},
                        Case{100, 100, TJPEGScale::FullSize}, Case{100000, 10, TJPEGScale::Eighth},
                        Case{793, 5, TJPEGScale::Eighth}, Case{10, 1000, TJPEGScale::Eighth}}) {
    EXPECT_EQ(ThumbnailJpegScale(c.width, c.height), c.scale) << c.width << "x" << c.height;
  }
}

// How far a thumbnail made from a reduced JPEG decode may stray from one
// made from the full decode. The reduced decode averages what the stretch
// would pick single pixels from, so fine detail moves far in a few pixels
// (135 at worst over the pictures below) and little on the whole (2.35 per
// channel on average).
constexpr int kReducedJpegMaxDifference = 150;
constexpr double kReducedJpegMeanDifference = 3.0;

TEST(ThumbnailTest, ReducedJpegDecodesGiveThumbnailsOfTheSameSizeAndNearlyTheSameColours) {
  TTempFolder folder;
  // Photographs in odd sizes (libjpeg rounds reduced sizes up), and the
  // sample files, grey, CMYK and progressive ones included.
  std::vector<std::string> files;
  for (const auto& [width, height] :
       {std::pair{1601, 1199}, std::pair{640, 480}, std::pair{1000, 37}, std::pair{333, 900}}) {
    QImage photo(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const int noise = (x * 7919 + y * 104729) % 23;
        photo.setPixel(x, y,
                       qRgb((x * 255 / width + noise) & 0xFF, (y * 255 / height) & 0xFF,
                            ((x ^ y) >> 2) & 0xFF));
      }
    }
    const std::string path = folder / ("photo" + std::to_string(width) + ".jpg");
    ASSERT_TRUE(photo.save(QString::fromStdString(path), "JPG", 90));
    files.push_back(path);
  }
  for (const auto& entry : std::filesystem::directory_iterator(test::TestData("jpeg"))) {
    files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());

  int worst = 0;
  double sum = 0;
  int64_t channels = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    TPicture picture;
    std::unique_ptr<TBitmap> full;
    try {
      LoadPicture(file, picture, full);
    } catch (const std::exception&) {
      EXPECT_ANY_THROW(MakeFileThumbnail(file));
      continue;
    }
    TBitmap expected;
    MakeThumbnail(*full, expected);
    const TThumbnail made = MakeFileThumbnail(file);
    ASSERT_EQ(made.bitmap->ImageWidth(), expected.ImageWidth());
    ASSERT_EQ(made.bitmap->ImageHeight(), expected.ImageHeight());
    for (int y = 0; y < expected.ImageHeight(); ++y) {
      for (int x = 0; x < expected.ImageWidth(); ++x) {
        const uint32_t a = expected.PixelColor(x, y);
        const uint32_t b = made.bitmap->PixelColor(x, y);
        for (int shift : {0, 8, 16}) {
          const int difference = std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
          worst = std::max(worst, difference);
          sum += difference;
          ++channels;
        }
      }
    }
  }
  const double mean = sum / double(channels);
  EXPECT_LE(worst, kReducedJpegMaxDifference);
  EXPECT_LE(mean, kReducedJpegMeanDifference);
}

TEST_F(PreviewFormTest, LoadsAndSortsByNameIgnoringCase) {
  TTempFolder folder;
  for (const char* name : {"b.png", "A.png", "c.PNG"}) WritePicture(folder / name, 150, 300);
  Load(folder.Path());
  EXPECT_EQ(Names(), (std::vector<std::string>{"A.png", "b.png", "c.PNG"}));
  EXPECT_EQ(form.Folder(), folder.Path() + "/");
  EXPECT_EQ(form.windowTitle(), "Previews    (3 images loaded)");
  const TBitmap& thumb = *form.Entries()[0]->Thumbnail;
  EXPECT_EQ(thumb.ImageWidth(), 50);
  EXPECT_EQ(thumb.ImageHeight(), 100);
  EXPECT_EQ(thumb.PixelColor(25, 50), 0xFF0000u);
}

TEST_F(PreviewFormTest, NamesCutShortUnderTheirThumbnailsShowWholeInATip) {
  TTempFolder folder;
  const std::string longName = "a holiday picture with a name much wider than its thumbnail.png";
  for (const std::string& name : {std::string("a.png"), longName}) {
    WritePicture(folder / name, 20, 20);
  }
  Load(folder.Path());
  ASSERT_EQ(form.Entries().size(), 2u);
  for (int index : {0, 1}) {
    const std::string& name = form.Entries()[static_cast<size_t>(index)]->FileName;
    const QString tip = name == longName ? QString::fromStdString(name) : QString();
    QToolTip::hideText();
    ASSERT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));
    const QPoint at = form.CellRect(index).center();
    QHelpEvent help(QEvent::ToolTip, at, form.mapToGlobal(at));
    QApplication::sendEvent(&form, &help);
    EXPECT_EQ(QToolTip::isVisible(), !tip.isEmpty()) << name;
    if (!tip.isEmpty()) {
      EXPECT_EQ(QToolTip::text(), tip);
    }
  }
  QToolTip::hideText();
}

TEST_F(PreviewFormTest, EventsAreHandledWhileTheGridFills) {
  TTempFolder folder;
  constexpr size_t kPictures = 24;
  for (size_t i = 0; i < kPictures; ++i) {
    WritePicture(folder / ("p" + std::to_string(i) + ".png"), 600, 400);
  }
  std::vector<size_t> shownWhenHandled;
  QTimer ticker;
  ticker.setInterval(0);
  QObject::connect(&ticker, &QTimer::timeout,
                   [&] { shownWhenHandled.push_back(form.Entries().size()); });
  ticker.start();
  Load(folder.Path());
  ticker.stop();
  ASSERT_FALSE(shownWhenHandled.empty()) << "no event was handled during the load";
  EXPECT_LT(shownWhenHandled.front(), kPictures) << "events waited for the whole folder";
  EXPECT_EQ(form.Entries().size(), kPictures);
}

TEST_F(PreviewFormTest, ExtensionAndDirectoryRules) {
  TTempFolder folder;
  for (const char* name : {"PHOTO.JPG", "photo.jpg", "photo.Jpg", "notes.txt", "noextension"})
    WritePicture(folder / name, 20, 10);
  folder.Folder("plain.png");
  folder.Folder("readonly.png");
  ::chmod((folder / "readonly.png").c_str(), 0555);
  folder.Folder(".hidden.png");
  Load(folder.Path());
  ::chmod((folder / "readonly.png").c_str(), 0755);
  std::vector<std::string> names = Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"PHOTO.JPG", "photo.Jpg", "photo.jpg"}));
  EXPECT_EQ(form.windowTitle(), "Previews    (3 images loaded)");
  // The plain folder is passed over; the two with another attribute are
  // tried, fail and are skipped, each letting messages through once.
  EXPECT_EQ(pause.messages, 2);
}

TEST_F(PreviewFormTest, UnreadableFilesAreSkippedAndNotCounted) {
  TTempFolder folder;
  WritePicture(folder / "good.png", 10, 10);
  folder.File("bad.png", std::string("\x89PNG\r\n\x1a\nbroken", 14));
  folder.File("empty.bmp", "");
  // A pipe would block the load if it were opened.
  ASSERT_EQ(::mkfifo((folder / "pipe.png").c_str(), 0644), 0);
  QStringList captions;
  QObject::connect(&form, &QWidget::windowTitleChanged, [&](const QString& t) { captions << t; });
  Load(folder.Path());
  EXPECT_EQ(Names(), std::vector<std::string>{"good.png"});
  EXPECT_EQ(pause.messages, 3);
  EXPECT_EQ(captions, (QStringList{"1 images loaded", "Previews    (1 images loaded)"}));
}

TEST_F(PreviewFormTest, FinalCaptionCountsEveryPicture) {
  EXPECT_EQ(FinalCaption(0), "Previews    (0 images loaded)");
  Load("/nonexistent/folder/of/pictures");
  EXPECT_EQ(form.windowTitle(), "Previews    (0 images loaded)");
  EXPECT_TRUE(form.Entries().empty());

  TTempFolder folder;
  Load(folder.Path());
  EXPECT_EQ(form.windowTitle(), "Previews    (0 images loaded)");
  WritePicture(folder / "one.png", 5, 5);
  QStringList captions;
  QObject::connect(&form, &QWidget::windowTitleChanged, [&](const QString& t) { captions << t; });
  form.LoadFolder();
  EXPECT_EQ(form.windowTitle(), "Previews    (1 images loaded)");
  for (int i = 0; i < 11; ++i) WritePicture(folder / ("more" + std::to_string(i) + ".png"), 5, 5);
  captions.clear();
  form.LoadFolder();
  EXPECT_EQ(form.windowTitle(), "Previews    (12 images loaded)");
  ASSERT_EQ(captions.size(), 13);
  EXPECT_EQ(captions[2], "3 images loaded");
}

TEST_F(PreviewFormTest, OpeningLoadsTheTreeFolderAndRestoresTheCursor) {
  TTempFolder tree;
  WritePicture(tree / "a.png", 30, 30);
  TTempFolder other;
  WritePicture(other / "x.png", 30, 30);
  WritePicture(other / "y.png", 30, 30);
  treeFolder = tree.Path();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  form.show();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(form.windowTitle(), "Previews    (1 images loaded)");
  EXPECT_EQ(pause.messages, 1) << "messages let through once as it opens";

  dialogs.folders.push_back(QString::fromStdString(other.Path()));
  form.Action1->trigger();
  EXPECT_EQ(form.windowTitle(), "Previews    (2 images loaded)");
  form.hide();
  form.show();
  EXPECT_EQ(form.Folder(), tree.Path() + "/") << "every opening shows the tree's folder";
  EXPECT_EQ(form.windowTitle(), "Previews    (1 images loaded)");
  form.hide();
}

TEST_F(PreviewFormTest, BrowseFolderCancelledKeepsEverythingChosenReloads) {
  TTempFolder first;
  WritePicture(first / "a.png", 30, 30);
  TTempFolder second;
  WritePicture(second / "b.png", 30, 30);
  WritePicture(second / "c.png", 30, 30);
  treeFolder = first.Path();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

  QTest::keyClick(&form, Qt::Key_F3);
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].caption, "Select folder to browse");
  EXPECT_EQ(dialogs.calls[0].start, QString::fromStdString(first.Path()))
      << "without the trailing separator";
  EXPECT_EQ(form.Folder(), first.Path() + "/");
  EXPECT_EQ(Names(), std::vector<std::string>{"a.png"});

  // The reload shows no busy cursor, and the window's cursor hook survives it.
  std::vector<bool> cursor;
  SetBusyCursor([&cursor](bool busy) { cursor.push_back(busy); });
  dialogs.folders.push_back(QString::fromStdString(second.Path()));
  QTest::keyClick(&form, Qt::Key_F3);
  EXPECT_TRUE(cursor.empty());
  const TBusyCursor restored = SetBusyCursor({});
  ASSERT_TRUE(restored);
  restored(true);
  EXPECT_EQ(cursor, std::vector<bool>{true});
  EXPECT_EQ(form.Folder(), second.Path() + "/");
  EXPECT_EQ(Names(), (std::vector<std::string>{"b.png", "c.png"}));
  EXPECT_EQ(form.windowTitle(), "Previews    (2 images loaded)");

  // The same folder again reloads it.
  WritePicture(second / "d.png", 30, 30);
  dialogs.folders.push_back(QString::fromStdString(second.Path()));
  QTest::keyClick(&form, Qt::Key_F3);
  EXPECT_EQ(form.Entries().size(), 3u);
  form.hide();
}

TEST_F(PreviewFormTest, PaintsCentredThumbnailsInSunkenCells) {
  TTempFolder folder;
  WritePicture(folder / "tall.png", 150, 300, Qt::blue);  // 50 x 100
  WritePicture(folder / "wide.png", 300, 150, Qt::red);   // 100 x 50
  Load(folder.Path());
  const QImage shot = form.grab().toImage();
  const QColor light = form.palette().color(QPalette::Light);
  const QColor face = form.palette().color(QPalette::Button);
  const QColor dark = form.palette().color(QPalette::Dark);
  // Cell 0 at (0, 5): the tall thumbnail in the box from (3 + 25, 8).
  EXPECT_EQ(shot.pixelColor(28, 8), QColor(Qt::blue));
  EXPECT_EQ(shot.pixelColor(77, 107), QColor(Qt::blue));
  EXPECT_EQ(shot.pixelColor(27, 50), light);
  EXPECT_EQ(shot.pixelColor(78, 50), light);
  EXPECT_EQ(shot.pixelColor(0, 50), dark) << "sunken edge on the left";
  EXPECT_EQ(shot.pixelColor(50, 5), dark) << "sunken edge on top";
  // Cell 1 at (121, 5): the wide thumbnail from (124, 8 + 25).
  EXPECT_EQ(shot.pixelColor(124, 33), QColor(Qt::red));
  EXPECT_EQ(shot.pixelColor(223, 82), QColor(Qt::red));
  EXPECT_EQ(shot.pixelColor(150, 32), light);
  // Between the cells and below them: the button face.
  EXPECT_EQ(shot.pixelColor(110, 50), face);
  EXPECT_EQ(shot.pixelColor(50, 2), face);
  EXPECT_EQ(shot.pixelColor(300, 300), face);
}

TEST_F(PreviewFormTest, LongNameIsCutInsideItsStrip) {
  TTempFolder folder;
  WritePicture(folder / "a very long file name that cannot fit & more.png", 10, 10);
  Load(folder.Path());
  const QImage shot = form.grab().toImage();
  // The strip of cell 0 runs from x 3 to 102, y 108 to 122; the text is
  // dark on light, the cell's left edge at x 0.
  int inside = 0;
  for (int y = 108; y < 123; ++y) {
    for (int x = 2; x < 130; ++x) {
      if (qGray(shot.pixel(x, y)) >= 128) continue;
      ASSERT_LT(x, 103) << "text beyond the strip at " << x << "," << y;
      ++inside;
    }
  }
  EXPECT_GT(inside, 20) << "the name is written";
}

TEST(GalleryInMainWindowTest, PreviewButtonOpensTheGalleryOnTheTreeFolderWithTheBusyCursor) {
  TTempFolder folder;
  WritePicture(folder / "a.png", 30, 30);
  WritePicture(folder / "b.png", 30, 30);
  test::TScriptedServices services;
  TWindows windows = CreateWindows(services.Services());
  ASSERT_NE(windows.PreviewForm, nullptr);
  bool busyBeforeShow = false;
  QString caption;
  services.dialogs.modalScripts.push_back([&](QDialog& dialog) {
    busyBeforeShow = QApplication::overrideCursor() != nullptr &&
                     QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    dialog.show();
    caption = dialog.windowTitle();
    dialog.hide();
    return 0;
  });
  QPushButton* preview = test::TMainControls(*windows.FormCrypt).FB_preview;
  preview->setEnabled(true);
  QTest::mouseClick(preview, Qt::LeftButton);
  ASSERT_EQ(services.dialogs.modalShown.size(), 1u);
  EXPECT_EQ(services.dialogs.modalShown[0], windows.PreviewForm.get());
  EXPECT_TRUE(busyBeforeShow);
  EXPECT_EQ(caption, "Previews    (2 images loaded)");
  EXPECT_EQ(windows.PreviewForm->Folder(), folder.Path() + "/");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(GalleryInMainWindowTest, FirstOpeningIsCentredOverTheMainWindowLaterOnesKeepThePlace) {
  TTempFolder folder;
  test::TScriptedServices services;
  TWindows windows = CreateWindows(services.Services());
  windows.FormCrypt->move(100, 80);
  windows.FormCrypt->show();
  TPreviewForm& gallery = *windows.PreviewForm;
  gallery.show();
  const QPoint offset =
      gallery.frameGeometry().center() - windows.FormCrypt->frameGeometry().center();
  EXPECT_LE(offset.manhattanLength(), 4) << offset.x() << "," << offset.y();
  gallery.hide();
  gallery.move(30, 40);
  const QPoint moved = gallery.pos();
  gallery.show();
  EXPECT_EQ(gallery.pos(), moved);
  gallery.hide();
  windows.FormCrypt->hide();
}

}  // namespace
}  // namespace quorvex
