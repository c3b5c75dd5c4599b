#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QTest>

#include "app/about_box.h"
#include "scripted_services.h"

namespace quorvex {
namespace {

TEST(AboutBox, LooksAsDesigned) {
  test::TRecordingShell shell;
  TAboutBox box(shell);
  EXPECT_EQ(box.size(), QSize(346, 196));
  EXPECT_TRUE(box.windowTitle().isEmpty());
  EXPECT_TRUE(box.windowFlags() & Qt::Tool);
  EXPECT_EQ(box.Label1->text(), "Quorvex");
  EXPECT_TRUE(box.Label1->font().bold());
  EXPECT_EQ(box.Label1->font().pixelSize(), 40);
  EXPECT_EQ(box.Label2->text(), "Image encryptor/decryptor");
  EXPECT_EQ(box.Label3->text(), "Version:    2.2.2");
  EXPECT_EQ(box.Label4->text(), "Build:          A00325");
  EXPECT_EQ(box.Label3->font().pixelSize(), 13);
  EXPECT_EQ(box.Label5->text(),
            QString("For more information visit our site at  ") + QUORVEX_HOME_ADDRESS);
  EXPECT_EQ(box.Label5->cursor().shape(), Qt::PointingHandCursor);
}

TEST(AboutBox, WebLineOpensTheHomePageAndEverythingElseCloses) {
  test::TRecordingShell shell;
  TAboutBox box(shell);
  for (QWidget* target : {static_cast<QWidget*>(box.Label5), static_cast<QWidget*>(box.Label1),
                          static_cast<QWidget*>(box.Label3), static_cast<QWidget*>(box.Label4),
                          static_cast<QWidget*>(box.FlatPanel1)}) {
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(2, 2));
    const bool stays = target == box.Label5;
    EXPECT_EQ(box.isVisible(), stays) << target->objectName().toStdString();
    if (stays) {
      EXPECT_EQ(shell.urls, std::vector<QString>{QUORVEX_HOME_PAGE});
    }
  }
  EXPECT_EQ(shell.urls.size(), 1u);
}

}  // namespace
}  // namespace quorvex
