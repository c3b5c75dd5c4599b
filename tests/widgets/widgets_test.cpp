#include <gtest/gtest.h>

#include <QPainter>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

#include "picture/bitmap.h"
#include "support/test_support.h"
#include "widgets/bitmap_image.h"
#include "widgets/flat_gauge.h"
#include "widgets/flat_style.h"
#include "widgets/flat_tab_control.h"
#include "widgets/image_pane.h"
#include "widgets/led.h"

namespace quorvex {
namespace {

TEST(Led, RedToBlackWhenLitMaroonToBlackWhenNot) {
  TLed led;
  led.resize(40, 40);
  const auto column = [&] {
    const QImage image = led.grab().toImage();
    return std::pair{QColor(image.pixel(20, 6)), QColor(image.pixel(20, 35))};
  };
  auto [top, bottom] = column();
  EXPECT_GT(top.red(), 90);
  EXPECT_LT(top.red(), 140) << "maroon";
  EXPECT_LT(top.green(), 20);
  EXPECT_LT(bottom.red(), 30) << "black";
  led.SetLit(true);
  std::tie(top, bottom) = column();
  EXPECT_GT(top.red(), 200) << "red";
  EXPECT_LT(bottom.red(), 40);
}

TEST(FlatGauge, KeepsProgressWithinItsMaximumAndFillsInProportion) {
  TFlatGauge gauge;
  gauge.resize(102, 6);
  gauge.SetMaxValue(4);
  gauge.SetProgress(9);
  EXPECT_EQ(gauge.Progress(), 4);
  gauge.SetProgress(-1);
  EXPECT_EQ(gauge.Progress(), 0);
  gauge.SetProgress(2);
  const QImage image = gauge.grab().toImage();
  EXPECT_EQ(QColor(image.pixel(30, 3)), QColor(77, 77, 57));
  EXPECT_EQ(QColor(image.pixel(70, 3)), QColor(215, 215, 200));
  gauge.SetMaxValue(1);
  EXPECT_EQ(gauge.Progress(), 1);
}

TEST(BitmapImage, ShowsTheColoursOfEveryLayout) {
  for (const char* file :
       {"bmp/bmpsuite/g/rgb24.bmp", "bmp/bmpsuite/g/pal8.bmp", "bmp/bmpsuite/g/pal1.bmp",
        "bmp/bmpsuite/g/pal4.bmp", "bmp/bmpsuite/g/rgb16-565.bmp", "bmp/bmpsuite/g/rgb32bf.bmp",
        "bmp/bmpsuite/g/rgb32.bmp", "bmp/bmpsuite/g/pal8topdown.bmp"}) {
    TBitmap bitmap;
    bitmap.LoadFile(test::TestData(file));
    const QImage image = BitmapToImage(bitmap);
    ASSERT_EQ(image.size(), QSize(bitmap.ImageWidth(), bitmap.ImageHeight())) << file;
    for (int y = 0; y < image.height(); y += 7) {
      for (int x = 0; x < image.width(); x += 5) {
        ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF, bitmap.PixelColor(x, y))
            << file << " " << x << "," << y;
      }
    }
  }
  EXPECT_TRUE(BitmapToImage(TBitmap()).isNull());
}

TEST(ImagePane, StretchesToFillOrDrawsAtNaturalSize) {
  QImage picture(10, 4, QImage::Format_RGB32);
  picture.fill(Qt::red);
  picture.setPixel(9, 3, qRgb(0, 0, 255));
  TImagePane pane;
  pane.resize(42, 22);  // 40 by 20 inside the frame
  pane.SetImage(picture);
  QImage shown = pane.Rendered();
  ASSERT_EQ(shown.size(), QSize(40, 20));
  EXPECT_EQ(QColor(shown.pixel(39, 0)), QColor(Qt::red));
  EXPECT_EQ(QColor(shown.pixel(0, 19)), QColor(Qt::red));
  pane.SetStretch(false);
  shown = pane.Rendered();
  EXPECT_EQ(QColor(shown.pixel(9, 3)), QColor(0, 0, 255));
  EXPECT_NE(QColor(shown.pixel(10, 3)), QColor(Qt::red));
  EXPECT_NE(QColor(shown.pixel(0, 4)), QColor(Qt::red));
  QSignalSpy clicks(&pane, &TImagePane::DoubleClicked);
  QTest::mouseDClick(&pane, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(clicks.count(), 1);
}

// The pane and the gauge rendered at desktop scales, the widget placed at a
// fractional device position as a window's child is: the frame's outermost
// device pixels are frame colour on all four sides.
TEST(CrispFrames, StayWholeAtFractionalScales) {
  QImage picture(10, 10, QImage::Format_RGB32);
  picture.fill(Qt::white);
  TImagePane pane;
  pane.resize(233, 179);
  pane.SetImage(picture);
  TFlatGauge gauge;
  gauge.resize(350, 6);
  const struct {
    QWidget* widget;
    QColor frame;
  } widgets[] = {{&pane, Qt::black}, {&gauge, flat::kBorder}};
  for (const auto& w : widgets) {
    for (qreal ratio : {1.0, 1.25, 1.5, 1.75, 2.0}) {
      for (qreal offset : {0.0, 533.0}) {  // 533 * 1.25 lies between pixels
        const QPointF at(offset, offset);
        const QRect device(QPoint(std::round(offset * ratio), std::round(offset * ratio)),
                           QPoint(std::round((offset + w.widget->width()) * ratio) - 1,
                                  std::round((offset + w.widget->height()) * ratio) - 1));
        QImage canvas(device.bottomRight().x() + 2, device.bottomRight().y() + 2,
                      QImage::Format_RGB32);
        canvas.setDevicePixelRatio(ratio);
        canvas.fill(Qt::green);
        QPainter painter(&canvas);
        painter.translate(at);
        w.widget->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
        painter.end();
        const std::string where = std::to_string(ratio) + " at " + std::to_string(offset);
        for (int x = device.left(); x <= device.right(); x += 7) {
          ASSERT_EQ(QColor(canvas.pixel(x, device.top())), w.frame) << where << " top " << x;
          ASSERT_EQ(QColor(canvas.pixel(x, device.bottom())), w.frame) << where << " bottom " << x;
        }
        for (int y = device.top(); y <= device.bottom(); y += 3) {
          ASSERT_EQ(QColor(canvas.pixel(device.left(), y)), w.frame) << where << " left " << y;
          ASSERT_EQ(QColor(canvas.pixel(device.right(), y)), w.frame) << where << " right " << y;
        }
      }
    }
  }
}

TEST(FlatTabControl, OnlyTheMouseChangesTabs) {
  TFlatTabControl tabs({"Encrypt", "Decrypt", "Log"});
  tabs.resize(300, 200);
  tabs.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tabs));
  QSignalSpy changes(&tabs, &TFlatTabControl::TabChanged);
  tabs.SetTabIndex(2);
  EXPECT_EQ(tabs.TabIndex(), 2);
  EXPECT_EQ(changes.count(), 0) << "set by the program: no event";
  tabs.SetTabIndex(0);
  tabs.Bar()->setFocus();
  QTest::keyClick(tabs.Bar(), Qt::Key_Right);
  QTest::keyClick(tabs.Bar(), Qt::Key_End);
  EXPECT_EQ(tabs.TabIndex(), 0);
  QTest::mouseClick(tabs.Bar(), Qt::LeftButton, {}, tabs.Bar()->tabRect(1).center());
  EXPECT_EQ(tabs.TabIndex(), 1);
  ASSERT_EQ(changes.count(), 1);
  EXPECT_EQ(changes[0][0].toInt(), 1);
  QTest::mouseClick(tabs.Bar(), Qt::LeftButton, {}, tabs.Bar()->tabRect(1).center());
  EXPECT_EQ(changes.count(), 1) << "the active tab again: no change";
}

}  // namespace
}  // namespace quorvex
