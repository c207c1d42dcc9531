// The palette dialog: grid layout, highlighting and the answer it gives.
#include "vexa/dialogs/palettedialog_ui.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTimer>
#include <vector>

#include "view/ui_test_util_ui.h"
#include "vexa/dialogs/palettegrid.h"

using namespace vexa;
using vexa::test::Click;
using vexa::test::Hover;

namespace {

std::vector<TRGB> Ramp(int n) {
  std::vector<TRGB> pal;
  for (int i = 0; i < n; ++i) pal.push_back(CreateRGB(uint8_t(i), uint8_t(255 - i), 40));
  return pal;
}

TEST(PaletteGrid, CellsAndThePointsThatHitThem) {
  EXPECT_EQ(PaletteCellRect(0), (TRect{1, 1, 16, 16}));
  EXPECT_EQ(PaletteCellRect(33), (TRect{17, 17, 32, 32}));
  EXPECT_EQ(PaletteIndexAt(5, 5, 2), 0);
  EXPECT_EQ(PaletteIndexAt(17, 16, 2), 1);
  EXPECT_EQ(PaletteIndexAt(40, 5, 2), -1);   // past the last entry
  EXPECT_EQ(PaletteIndexAt(512, 128, 256), 255);
  EXPECT_EQ(PaletteIndexAt(5, 129, 256), -1);
  EXPECT_EQ(PaletteIndexAt(520, 5, 256), -1);  // right of the grid, not the next row
  EXPECT_EQ(PaletteIndexAt(0, 5, 256), -1);
}

struct PaletteDialog : ::testing::Test {
  void SetUp() override { vexa::test::App(); }
};

TEST_F(PaletteDialog, TwoEntriesShowTwoCellsAndHighlightUnderTheMouse) {
  const std::vector<TRGB> pal = Ramp(2);
  TVexaPaletteDialog d;
  EXPECT_EQ(d.size(), QSize(539, 199));
  EXPECT_EQ(d.CancelButton()->pos(), QPoint(8, 144));
  EXPECT_EQ(d.CancelButton()->text(), "&Cancel");
  d.SetPalette(pal.data(), 2);
  Click(d, 8, 8);  // nothing highlighted yet: nothing happens
  EXPECT_FALSE(d.ColorChosen());
  EXPECT_EQ(d.result(), 0);
  Hover(d, 20, 8);
  EXPECT_EQ(d.Highlighted(), 1);
  Hover(d, 60, 8);  // empty space keeps the highlight
  EXPECT_EQ(d.Highlighted(), 1);
  QImage img = d.grab().toImage();
  EXPECT_EQ(img.pixel(8, 8), qRgb(0, 255, 40));
  EXPECT_EQ(img.pixel(24, 8), qRgb(1, 254, 40));
  EXPECT_EQ(img.pixel(1, 1), qRgb(255, 255, 255));   // plain outline
  EXPECT_EQ(img.pixel(17, 1), qRgb(0, 0, 0));        // highlighted outline
  EXPECT_EQ(img.pixel(31, 15), qRgb(0, 0, 0));
  EXPECT_NE(img.pixel(40, 8), qRgb(0, 0, 0));        // no third cell
  EXPECT_NE(img.pixel(40, 8), qRgb(255, 255, 255));
}

TEST_F(PaletteDialog, TwoHundredFiftySixEntriesFillEightRows) {
  const std::vector<TRGB> pal = Ramp(256);
  TVexaPaletteDialog d;
  d.SetPalette(pal.data(), 256);
  const QImage img = d.grab().toImage();
  EXPECT_EQ(img.pixel(504, 120), qRgb(255, 0, 40));  // entry 255: row 7, column 31
  EXPECT_EQ(img.pixel(8, 120), qRgb(224, 31, 40));   // entry 224
  EXPECT_NE(img.pixel(8, 136), qRgb(224, 31, 40));   // no ninth row
}

TEST_F(PaletteDialog, ExecuteAnswersTheClickedColourOrNothingOnCancel) {
  const std::vector<TRGB> pal = Ramp(256);
  TVexaPaletteDialog d;
  d.SetPalette(pal.data(), 256);
  QTimer::singleShot(0, &d, [&] { d.CancelButton()->click(); });
  EXPECT_FALSE(d.Execute());
  EXPECT_FALSE(d.ColorChosen());
  QTimer::singleShot(0, &d, [&] {
    Hover(d, 40, 20);  // entry 34
    Click(d, 40, 20);
  });
  EXPECT_TRUE(d.Execute());
  EXPECT_TRUE(d.ColorChosen());
  EXPECT_EQ(d.Color(), RGB2TColor(34, 221, 40));
  d.CancelButton()->setText("Close");
  EXPECT_EQ(d.CancelButton()->text(), "Close");
}

}  // namespace
