#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "support/pixels.h"
#include "vexa/core/sample.h"
#include "vexa/quant/colordepth.h"
#include "vexa/quant/colorhelpers.h"

using namespace vexa;
using namespace vexa::test;

namespace {

bool White(const TBitmap& bw, int x, int y) { return _GetPixelbw(bw.ScanLine(y), x) != 0; }

uint32_t Key(TRGB c) { return c.r << 16 | c.g << 8 | c.b; }


}  // namespace

TEST(OrderedDither, UniformGrey128LightsTheCellsBelow31) {
  TBitmap bmp = Filled(21, 19, CreateRGB(128, 128, 128));
  _ConvertToBWOrdered(bmp, nullpr);
  ASSERT_EQ(bmp.PixelFormat(), pf1bit);
  ASSERT_EQ(bmp.Width(), 21);
  ASSERT_EQ(bmp.Height(), 19);
  int whiteInFirstBlock = 0;
  for (int y = 0; y < 19; ++y)
    for (int x = 0; x < 21; ++x) {
      const bool expected = VXDitherMatrix[x % 8][y % 8] < 31;
      EXPECT_EQ(White(bmp, x, y), expected) << x << "," << y;
      if (x < 8 && y < 8) whiteInFirstBlock += White(bmp, x, y);
    }
  EXPECT_EQ(whiteInFirstBlock, 31);
}

TEST(OrderedDither, WhiteLeavesOnlyTheTopMatrixCellBlack) {
  TBitmap bmp = Filled(17, 10, CreateRGB(255, 255, 255));
  _ConvertToBWOrdered(bmp, nullpr);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 17; ++x) EXPECT_EQ(White(bmp, x, y), !(x % 8 == 7 && y % 8 == 0)) << x << "," << y;
}

TEST(OrderedDither, ReportsProgressPerRowAndLeavesOtherFormatsAlone) {
  TBitmap bmp = Filled(5, 10, CreateRGB(0, 0, 0));
  std::vector<int> seen;
  TProgressRec pr;
  pr.OnProgress = [&seen](TObject*, int per) { seen.push_back(per); };
  _ConvertToBWOrdered(bmp, pr);
  const std::vector<int> expected = {9, 19, 28, 38, 47, 57, 66, 76, 85, 95};
  EXPECT_EQ(seen, expected);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_FALSE(White(bmp, x, y));
  seen.clear();
  _ConvertToBWOrdered(bmp, pr);  // already 1-bit
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(bmp.PixelFormat(), pf1bit);
}

TEST(ThresholdBW, ExplicitThresholdSplitsOnGrey) {
  TBitmap bmp(3, 1, pf24bit);
  bmp.SetPixel(0, 0, CreateRGB(100, 100, 100));  // grey 99
  bmp.SetPixel(1, 0, CreateRGB(101, 101, 101));  // grey 99
  bmp.SetPixel(2, 0, CreateRGB(102, 102, 102));  // grey 100
  _ConvertToBWThreshold(bmp, 100, nullpr);
  ASSERT_EQ(bmp.PixelFormat(), pf1bit);
  EXPECT_FALSE(White(bmp, 0, 0));
  EXPECT_FALSE(White(bmp, 1, 0));
  EXPECT_TRUE(White(bmp, 2, 0));
}

TEST(ThresholdBW, AutomaticThresholdComesFromTheReferenceLevels) {
  // 50 white, 49 black and one grey pixel: the channel sums divided by 9 x 9 give
  // 159, threshold 157; the true mean (129) would have made the grey pixel white.
  TBitmap bmp = Filled(10, 10, CreateRGB(0, 0, 0));
  for (int y = 0; y < 10; ++y)
    for (int x = 5; x < 10; ++x) bmp.SetPixel(x, y, CreateRGB(255, 255, 255));
  bmp.SetPixel(0, 0, CreateRGB(150, 150, 150));
  _ConvertToBWThreshold(bmp, -1, nullpr);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(White(bmp, x, y), x >= 5) << x << "," << y;
}

TEST(ThresholdBW, OneRowImageUsesLevel128) {
  TBitmap bmp(2, 1, pf24bit);
  bmp.SetPixel(0, 0, CreateRGB(127, 127, 127));  // grey 125
  bmp.SetPixel(1, 0, CreateRGB(130, 130, 130));  // grey 128
  _ConvertToBWThreshold(bmp, -1, nullpr);        // threshold (99 * 128) div 100 = 126
  EXPECT_FALSE(White(bmp, 0, 0));
  EXPECT_TRUE(White(bmp, 1, 0));
}

TEST(TwoColourDetection, OneColourOrThreeGiveNone) {
  TRGB c0, c1;
  EXPECT_EQ(_ConvertTo1bit(Filled(9, 4, CreateRGB(3, 4, 5)), c0, c1), nullptr);
  TBitmap three = Filled(9, 4, CreateRGB(3, 4, 5));
  three.SetPixel(1, 0, CreateRGB(200, 4, 5));
  three.SetPixel(8, 3, CreateRGB(3, 4, 6));
  EXPECT_EQ(_ConvertTo1bit(three, c0, c1), nullptr);
  TBitmap bw(4, 4, pf1bit);
  EXPECT_EQ(_ConvertTo1bit(bw, c0, c1), nullptr);
}

TEST(TwoColourDetection, DarkerColourComesFirstWithClearBits) {
  // The first pixel is the lighter colour, so the bits are inverted.
  const TRGB light = CreateRGB(250, 240, 10), dark = CreateRGB(20, 30, 200);
  TBitmap bmp = Filled(11, 5, light);
  for (int y = 0; y < 5; ++y) bmp.SetPixel((y * 3 + 1) % 11, y, dark);
  bmp.SetPixel(10, 4, dark);
  TRGB c0, c1;
  auto bw = _ConvertTo1bit(bmp, c0, c1);
  ASSERT_NE(bw, nullptr);
  EXPECT_EQ(bw->PixelFormat(), pf1bit);
  EXPECT_EQ(c0, dark);
  EXPECT_EQ(c1, light);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 11; ++x) EXPECT_EQ(White(*bw, x, y), bmp.GetPixel(x, y) == light) << x << "," << y;

  // Dark first: no inversion needed.
  TBitmap bmp2 = Filled(3, 1, dark);
  bmp2.SetPixel(2, 0, light);
  auto bw2 = _ConvertTo1bit(bmp2, c0, c1);
  ASSERT_NE(bw2, nullptr);
  EXPECT_EQ(c0, dark);
  EXPECT_EQ(c1, light);
  EXPECT_FALSE(White(*bw2, 0, 0));
  EXPECT_TRUE(White(*bw2, 2, 0));
}

TEST(OneToTwentyFour, SetBitsBecomeWhiteWhateverThePalette) {
  TBitmap bw(13, 3, pf1bit);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 13; ++x) _SetPixelbw(bw.ScanLine(y), x, (x * 7 + y * 3) % 5 < 2);
  TBitmap dst = Filled(2, 2, CreateRGB(1, 2, 3));
  _Conv1to24(bw, dst, nullpr);
  ASSERT_EQ(dst.PixelFormat(), pf24bit);
  ASSERT_EQ(dst.Width(), 13);
  ASSERT_EQ(dst.Height(), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 13; ++x)
      EXPECT_EQ(dst.GetPixel(x, y), White(bw, x, y) ? CreateRGB(255, 255, 255) : CreateRGB(0, 0, 0));
  // In place, and a 24-bit source is not touched.
  _Conv1to24(bw, bw, nullpr);
  EXPECT_EQ(bw.PixelFormat(), pf24bit);
  EXPECT_EQ(bw.GetPixel(0, 0), dst.GetPixel(0, 0));
  TBitmap keep = Filled(2, 2, CreateRGB(1, 2, 3));
  _Conv1to24(keep, dst, nullpr);
  EXPECT_EQ(dst.Width(), 13);
}

TEST(OneToTwentyFour, TableHoldsMostSignificantBitFirst) {
  EXPECT_EQ(C1TO24[0x80][0], 255);
  EXPECT_EQ(C1TO24[0x80][3], 0);
  EXPECT_EQ(C1TO24[0x01][21], 255);
  EXPECT_EQ(C1TO24[0x01][20], 0);
  for (int k = 0; k < 24; ++k) {
    EXPECT_EQ(C1TO24[0xFF][k], 255);
    EXPECT_EQ(C1TO24[0x00][k], 0);
  }
}

TEST(RowConversion, BitsNibblesAndBytesRoundTrip) {
  const uint8_t bits[2] = {0xA5, 0xC0};  // 10 pixels: 1010 0101 11
  uint8_t bytes[10] = {}, back[2] = {0xFF, 0xFF}, nib[5] = {};
  _ConvertXBitsToYBits(bits, bytes, 1, 8, 10, {}, nullptr);
  const uint8_t expectBytes[10] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 1};
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 10), std::vector<uint8_t>(expectBytes, expectBytes + 10));
  _ConvertXBitsToYBits(bytes, back, 8, 1, 10, {}, nullptr);
  EXPECT_EQ(back[0], 0xA5);
  EXPECT_EQ(back[1], 0xC0);
  _ConvertXBitsToYBits(bits, nib, 1, 4, 10, {}, nullptr);
  EXPECT_EQ(nib[0], 0x10);
  EXPECT_EQ(nib[2], 0x01);
  EXPECT_EQ(nib[4], 0x11);
  uint8_t nibBytes[10];
  _ConvertXBitsToYBits(nib, nibBytes, 4, 8, 10, {}, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(nibBytes, nibBytes + 10), std::vector<uint8_t>(expectBytes, expectBytes + 10));
}

TEST(RowConversion, PaletteExpansionAndQuantizerIndices) {
  const TRGB pal[3] = {CreateRGB(10, 20, 30), CreateRGB(40, 50, 60), CreateRGB(70, 80, 90)};
  const uint8_t idx[4] = {2, 0, 1, 7};
  uint8_t rgb[12];
  _ConvertXBitsToYBits(idx, rgb, 8, 24, 4, pal, nullptr);
  EXPECT_EQ(reinterpret_cast<TRGB*>(rgb)[0], pal[2]);
  EXPECT_EQ(reinterpret_cast<TRGB*>(rgb)[2], pal[1]);
  EXPECT_EQ(reinterpret_cast<TRGB*>(rgb)[3], TRGB{}) << "index beyond the palette";
  const uint8_t nib[2] = {0x21, 0x00};
  _ConvertXBitsToYBits(nib, rgb, 4, 24, 3, pal, nullptr);
  EXPECT_EQ(reinterpret_cast<TRGB*>(rgb)[0], pal[2]);
  EXPECT_EQ(reinterpret_cast<TRGB*>(rgb)[1], pal[1]);
  EXPECT_EQ(reinterpret_cast<TRGB*>(rgb)[2], pal[0]);

  // 24 -> 8 and 24 -> 4 through a quantizer built on the very colours.
  TBitmap img(3, 1, pf24bit);
  for (int i = 0; i < 3; ++i) img.SetPixel(i, 0, CreateRGB(i * 120, 255 - i * 120, 64));
  std::vector<TRGB> qp;
  TVXQuantizer q(img, qp, 16);
  uint8_t out8[3], out4[2] = {};
  _ConvertXBitsToYBits(img.ScanLine(0), out8, 24, 8, 3, {}, &q);
  _ConvertXBitsToYBits(img.ScanLine(0), out4, 24, 4, 3, {}, &q);
  std::set<int> distinct(out8, out8 + 3);
  EXPECT_EQ(distinct.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(out8[i], q.GetRGBIndex(img.GetPixel(i, 0)));
  EXPECT_EQ(out4[0], (out8[0] << 4) | out8[1]);
  EXPECT_EQ(out4[1], out8[2] << 4);

  uint8_t untouched[3] = {9, 9, 9};
  _ConvertXBitsToYBits(idx, untouched, 8, 4, 3, pal, nullptr);
  _ConvertXBitsToYBits(idx, untouched, 8, 24, 1, {}, nullptr);
  EXPECT_EQ(untouched[0], 9);
}

TEST(ColourReduction, MedianCutKeepsAtMostNColoursAllFromThePalette) {
  TBitmap bmp = VXMakeSampleImage(240, 160, 11);
  const TBitmap orig = bmp;
  std::vector<TRGB> pal;
  int lastProgress = -1;
  _ConvertTo(bmp, 64, &pal, [&lastProgress](TObject*, int per) { lastProgress = per; });
  ASSERT_EQ(pal.size(), 64u);
  EXPECT_EQ(bmp.PixelFormat(), pf24bit);
  EXPECT_EQ(lastProgress, static_cast<int>(100 / 160.5 * 160));
  std::set<uint32_t> palKeys, used;
  for (const TRGB& c : pal) palKeys.insert(Key(c));
  double err = 0;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      const TRGB c = bmp.GetPixel(x, y);
      used.insert(Key(c));
      err += ColourDistance(c, orig.GetPixel(x, y));
    }
  EXPECT_LE(used.size(), 64u);
  for (uint32_t k : used) EXPECT_TRUE(palKeys.count(k));
  EXPECT_LT(err / (240.0 * 160.0), 40.0) << "mean |dR|+|dG|+|dB| of the reduction";
}

TEST(ColourReduction, NetworkMapsEveryPixelToANearestEntry) {
  TBitmap bmp = VXMakeSampleImage(160, 120, 4);
  const TBitmap orig = bmp;
  std::vector<TRGB> pal;
  _ConvertTo(bmp, 600, &pal);
  ASSERT_EQ(pal.size(), 600u);
  for (int y = 0; y < bmp.Height(); y += 3)
    for (int x = 0; x < bmp.Width(); x += 2) {
      const TRGB src = orig.GetPixel(x, y);
      int best = 1 << 30;
      for (const TRGB& p : pal) best = std::min(best, ColourDistance(p, src));
      ASSERT_EQ(ColourDistance(bmp.GetPixel(x, y), src), best) << x << "," << y;
    }
}

TEST(ColourReduction, OtherFormatsAreLeftAlone) {
  TBitmap bw(8, 8, pf1bit);
  bw.ScanLine(3)[0] = 0x5A;
  _ConvertTo(bw, 16, nullptr);
  EXPECT_EQ(bw.PixelFormat(), pf1bit);
  EXPECT_EQ(bw.ScanLine(3)[0], 0x5A);
}

TEST(WinPalette, RecordHoldsVersionCountAndEntries) {
  const TRGB pal[2] = {CreateRGB(1, 2, 3), CreateRGB(250, 128, 0)};
  TLogPalette lp = _CreateWinPalette(pal, 2);
  EXPECT_EQ(lp.palVersion, 0x300);
  EXPECT_EQ(lp.palNumEntries, 2);
  ASSERT_EQ(lp.palPalEntry.size(), 2u);
  EXPECT_EQ(lp.palPalEntry[1], (TPaletteEntry{250, 128, 0, 0}));
  EXPECT_EQ(_CreateWinPalette(pal, 5).palNumEntries, 2) << "never past the palette";
  EXPECT_EQ(_CreateWinPalette(pal, -1).palNumEntries, 0);
}
