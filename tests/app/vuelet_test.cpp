#include <gtest/gtest.h>

#include <QTest>

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

TEST(Vuelet, AnUnreadableFileRaisesTheLoadersError) {
  TVueletWindow window;
  EXPECT_THROW(window.OpenFile("/no/such/picture.bmp"), Exception);
  EXPECT_TRUE(window.Picture().isNull());
}

}  // namespace
}  // namespace quorvex
