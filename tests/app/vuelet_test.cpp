#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "app/current_directory.h"
#include "shell/services.h"

#include "app/window_fixture.h"
#include "picture/exceptions.h"
#include "support/test_support.h"
#include "viewer/vuelet_window.h"

namespace quorvex {
namespace {

TEST(Vuelet, FitsThePictureKeepingItsProportions) {
  const struct {
    QSize picture, window;
    QRect expected;
  } cases[] = {
      {{200, 100}, {400, 400}, {0, 100, 400, 200}},
      {{100, 200}, {400, 400}, {100, 0, 200, 400}},
      {{50, 50}, {300, 100}, {100, 0, 100, 100}},
      {{0, 0}, {300, 100}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TVueletWindow::FittedRect(c.picture, c.window), c.expected);
  }
}

// A name that is not UTF-8 reaches the viewer and its loader as its own bytes,
// through the way the main window starts programs.
TEST(Vuelet, NamesThatAreNotUtf8ArriveAndLoad) {
  test::TTempFolder folder;
  const std::string odd = "caf\xe9 \xff.jpg";
  folder.Copy("jpeg/hopper.jpg", odd);
  TVueletWindow window;
  window.OpenFile(DecodeFileName(folder / odd));
  EXPECT_EQ(window.Picture().size(), QSize(128, 128));

  const std::string copy = "copy \xfe.jpg";
  PlatformServices().shell->StartProgram("/bin/cp", {DecodeFileName(odd), DecodeFileName(copy)},
                                         DecodeFileName(folder.Path()));
  // cp makes the file before it has written it: wait for the whole copy.
  const std::vector<uint8_t> original = test::ReadFileBytes(folder / odd);
  for (int wait = 0; wait < 100 && test::ReadFileBytes(folder / copy) != original; ++wait) {
    QTest::qWait(50);
  }
  EXPECT_EQ(test::ReadFileBytes(folder / copy), original)
      << "program, arguments and working folder as bytes";
}

TEST(Vuelet, ShowsARealPicture) {
  TVueletWindow window;
  window.OpenFile(QString::fromStdString(test::TestData("jpeg/hopper.jpg")));
  const QImage& picture = window.Picture();
  ASSERT_EQ(picture.size(), QSize(128, 128));
  EXPECT_TRUE(window.windowTitle().startsWith("hopper.jpg (128 x 128)"));
  window.resize(256, 128);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  const QImage shown = window.grab().toImage();
  // Centred at double size: the picture's middle pixel lands in the middle.
  const QRgb source = picture.pixel(64, 64);
  const QRgb drawn = shown.pixel(128, 64);
  EXPECT_NEAR(qRed(drawn), qRed(source), 24);
  EXPECT_NEAR(qGreen(drawn), qGreen(source), 24);
  EXPECT_NEAR(qBlue(drawn), qBlue(source), 24);
  EXPECT_EQ(shown.pixel(2, 64), QColor(48, 48, 44).rgb()) << "bars beside the picture";
}

TEST(Vuelet, FitsOnlyPicturesLargerThanTheWindow) {
  const struct {
    QSize picture, window;
    QRect expected;
  } cases[] = {
      {{16, 16}, {240, 180}, {112, 82, 16, 16}},   // small: own size, centred
      {{240, 180}, {240, 180}, {0, 0, 240, 180}},  // exactly fits
      {{480, 90}, {240, 180}, {0, 67, 240, 45}},   // too wide: fitted
      {{100, 360}, {240, 180}, {95, 0, 50, 180}},  // too tall: fitted
      {{0, 0}, {240, 180}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TVueletWindow::FitOnlyLargerRect(c.picture, c.window), c.expected);
  }
}

// The window as shown, and the picture's pixels where the window draws it.
QImage Shown(TVueletWindow& window) {
  window.repaint();
  return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(Vuelet, ShowsA16By16IconPixelForPixelAtOneToOne) {
  TVueletWindow window;
  window.OpenFile(QString::fromStdString(test::TestData("ico/hopper.ico")));
  const QImage icon = window.Picture();
  ASSERT_EQ(icon.size(), QSize(16, 16));
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  // A small picture opens at its own size, not blown up to the window.
  EXPECT_TRUE(window.Fitting());
  EXPECT_EQ(window.PictureRect().size(), QSize(16, 16));

  window.ZoomIn();
  EXPECT_DOUBLE_EQ(window.Scale(), 1.5);
  QTest::keyClick(&window, Qt::Key_0, Qt::ControlModifier);
  EXPECT_FALSE(window.Fitting());
  EXPECT_DOUBLE_EQ(window.Scale(), 1.0);
  const QRect where = window.PictureRect();
  ASSERT_EQ(where.size(), QSize(16, 16));
  EXPECT_EQ(where.center(), window.rect().center());
  const QImage shown = Shown(window);
  const QColor background(48, 48, 44);
  int compared = 0;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const QRgb source = icon.pixel(x, y);
      if (qAlpha(source) != 255) continue;  // blended with the background
      EXPECT_EQ(QColor(shown.pixel(where.x() + x, where.y() + y)), QColor(source)) << x << "," << y;
      ++compared;
    }
  }
  EXPECT_GT(compared, 64);
  EXPECT_EQ(QColor(shown.pixel(where.x() - 1, where.y() + 8)), background);
  EXPECT_EQ(QColor(shown.pixel(where.right() + 1, where.y() + 8)), background);
}

TEST(Vuelet, ZoomsInStepsAndFitsAgainOnCommand) {
  TVueletWindow window;
  window.OpenFile(QString::fromStdString(test::TestData("jpeg/hopper.jpg")));
  window.resize(64, 64);  // smaller than the 128 x 128 picture
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  EXPECT_EQ(window.PictureRect(), QRect(0, 0, 64, 64)) << "fitted";
  EXPECT_DOUBLE_EQ(window.Scale(), 0.5);
  const struct {
    Qt::Key key;
    double scale;
  } steps[] = {{Qt::Key_Plus, 2.0 / 3}, {Qt::Key_Equal, 1.0},     {Qt::Key_Plus, 1.5},
               {Qt::Key_Minus, 1.0},    {Qt::Key_Minus, 2.0 / 3}, {Qt::Key_Minus, 0.5}};
  for (const auto& step : steps) {
    QTest::keyClick(&window, step.key, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(window.Scale(), step.scale) << QKeySequence(step.key).toString().toStdString();
  }
  EXPECT_TRUE(window.windowTitle().contains(" 50%"));
  // Zoomed past the window, the picture's centre stays in the window's.
  window.ActualSize();
  EXPECT_EQ(window.PictureRect(), QRect(-32, -32, 128, 128));
  window.FitAction->trigger();
  EXPECT_TRUE(window.Fitting());
  EXPECT_EQ(window.PictureRect(), QRect(0, 0, 64, 64));
  EXPECT_TRUE(window.windowTitle().startsWith("hopper.jpg (128 x 128) - Vuelet"));
  EXPECT_EQ(window.actions().size(), 4) << "the commands are in the context menu";
}

TEST(Vuelet, AnUnreadableFileRaisesTheLoadersError) {
  TVueletWindow window;
  EXPECT_THROW(window.OpenFile("/no/such/picture.bmp"), Exception);
  EXPECT_TRUE(window.Picture().isNull());
}

}  // namespace
}  // namespace quorvex
