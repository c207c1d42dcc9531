#include "vexa/view/textservice_ui.h"

#include <gtest/gtest.h>

#include "ui_test_util_ui.h"
#include "vexa/core/textservice.h"
#include "vexa/view/uiinit.h"

using namespace vexa;

namespace {

// Ink of a rendered mask: (count, left, right) of the covered columns.
struct TInk {
  int Count = 0, Left = 1 << 30, Right = -1;
};
TInk Ink(const TVXTextImage& t) {
  TInk k;
  for (int y = 0; y < t.Height; ++y)
    for (int x = 0; x < t.Width; ++x)
      if (t.Coverage[static_cast<size_t>(y * t.Width + x)] > 127) ++k.Count, k.Left = std::min(k.Left, x), k.Right = std::max(k.Right, x);
  return k;
}

}  // namespace

TEST(QtTextService, InstalledWithTheUiLayerAndRendersGlyphsOnTheBaseline) {
  vexa::test::App();
  VXInitUI();
  ASSERT_EQ(VXTextService(), &VXQtTextService());
  TVXFontSpec font;
  font.Height = 24;
  TVXTextImage text;
  ASSERT_TRUE(VXQtTextService().Render(font, "Hello", {}, text));
  TInk ink = Ink(text);
  EXPECT_GT(ink.Count, 40);
  EXPECT_GT(text.Advance, 24);
  EXPECT_NEAR(text.Ascent + text.Descent, 24, 8);
  // The glyphs start at the origin and stay above the baseline (no descenders here).
  EXPECT_NEAR(ink.Left, text.OriginX, 4);
  for (int y = static_cast<int>(text.OriginY) + 2; y < text.Height; ++y)
    for (int x = 0; x < text.Width; ++x) EXPECT_LT(text.Coverage[static_cast<size_t>(y * text.Width + x)], 128);

  // Given advances place each character; wider ones spread the string out.
  TVXTextImage spread;
  ASSERT_TRUE(VXQtTextService().Render(font, "Hello", {40, 40, 40, 40, 40}, spread));
  EXPECT_DOUBLE_EQ(spread.Advance, 200);
  EXPECT_GT(Ink(spread).Right - Ink(spread).Left, ink.Right - ink.Left + 100);
}
