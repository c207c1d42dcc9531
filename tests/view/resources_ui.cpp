// The named resources: every cursor, bitmap and layout exists under its name and
// each is its own drawing.
#include "vexa/view/resources_ui.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <memory>
#include <set>

#include "ui_test_util_ui.h"

using namespace vexa;

namespace {
int Colours(const QImage& img) {
  std::set<QRgb> seen;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) seen.insert(img.pixel(x, y));
  return static_cast<int>(seen.size());
}
}  // namespace

TEST(Resources, FourteenCursorsEachItsOwnDrawingWithTheHotSpotInside) {
  vexa::test::App();
  ASSERT_EQ(VXResourceCursorNames().size(), 14u);
  std::vector<QImage> seen;
  for (const std::string& name : VXResourceCursorNames()) {
    SCOPED_TRACE(name);
    const QCursor c = VXResourceCursor(name);
    ASSERT_EQ(c.shape(), Qt::BitmapCursor);
    const QImage img = c.pixmap().toImage();
    ASSERT_EQ(img.size(), QSize(32, 32));
    EXPECT_TRUE(QRect(0, 0, 32, 32).contains(c.hotSpot()));
    EXPECT_GE(Colours(img), 3) << "black strokes, white halo, transparent ground";
    for (const QImage& other : seen) EXPECT_NE(img, other);
    seen.push_back(img);
  }
  EXPECT_EQ(VXResourceCursor("NOSUCH").shape(), Qt::ArrowCursor);
}

TEST(Resources, ButtonBitmapsAreSixteenPixelsInTheBasicColours) {
  vexa::test::App();
  for (const std::string& name : VXResourceBitmapNames()) {
    SCOPED_TRACE(name);
    const QImage img = VXResourceBitmap(name).toImage();
    ASSERT_EQ(img.size(), QSize(16, 16));
    EXPECT_GE(Colours(img), 2);
    EXPECT_LE(Colours(img), 16);
  }
  EXPECT_TRUE(VXResourceBitmap("IDB_NOSUCH").isNull());
}

TEST(Resources, DialogLayoutsHaveTheirNamedParts) {
  vexa::test::App();
  for (const std::string& name : VXDialogLayoutNames()) {
    SCOPED_TRACE(name);
    std::unique_ptr<QWidget> panel(VXCreateDialogLayout(name));
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->findChild<QCheckBox*>("PreviewCheck")->isChecked());
    EXPECT_GE(panel->findChild<QFrame*>("PreviewArea")->minimumWidth(), 160);
    EXPECT_NE(panel->findChild<QLabel*>("InfoLabel"), nullptr);
    const bool open = name == "IDD_VXTEMPLATE";
    EXPECT_EQ(panel->findChild<QToolButton*>("PlayButton") != nullptr, open);
    EXPECT_EQ(panel->findChild<QToolButton*>("StopButton") != nullptr, open);
    EXPECT_EQ(panel->findChild<QToolButton*>("PreviewButton") != nullptr, !open);
    EXPECT_EQ(panel->findChild<QPushButton*>("AdvancedButton") != nullptr, !open);
  }
  EXPECT_EQ(VXCreateDialogLayout("IDD_OTHER"), nullptr);
}
