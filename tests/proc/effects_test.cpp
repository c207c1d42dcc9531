#include <gtest/gtest.h>

#include <cstring>

#include "support/pixels.h"
#include "vexa/core/raster.h"
#include "vexa/proc/effects.h"
#include "vexa/proc/hiddendata.h"
#include "vexa/proc/magicwand.h"
#include "vexa/proc/vexaproc.h"

using namespace vexa;
using namespace vexa::test;

namespace {



// The window search written out plainly, to check the faster one against.
TBitmap MorphReference(const TBitmap& src, int win, bool maximum) {
  TBitmap out = src;
  const int w = src.Width(), h = src.Height();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int best = maximum ? 0 : 255, bx = x, by = y;
      for (int dy = -win; dy <= win; ++dy)
        for (int dx = -win; dx <= win; ++dx) {
          const int sx = ilimit(x + dx, 0, w - 1), sy = ilimit(y + dy, 0, h - 1);
          const int g = GreyOf(Px(src, sx, sy));
          if (maximum ? g > best : g < best) best = g, bx = sx, by = sy;
        }
      SetPx(out, x, y, Px(src, bx, by));
    }
  return out;
}

TBitmap MaskOf(const std::vector<TPoint>& poly, int w, int h) {
  TBitmap m = Filled(w, h, Rgb(0, 0, 0));
  VXFillPolygon(m, poly.data(), static_cast<int>(poly.size()), clWhite);
  return m;
}

}  // namespace

TEST(BumpMapping, FullLevelOrZeroRadiusLeaveTheImage) {
  const TBitmap src = RandomBitmap(30, 20, 1);
  TBitmap b = src;
  TProgressRec rec;
  _BumpMapping(b, 15, 10, 10, 10, 100, Rgb(255, 255, 255), 0, 0, 29, 19, rec);
  EXPECT_TRUE(SameImage(b, src));
  _BumpMapping(b, 15, 10, 0, 10, 0, Rgb(255, 255, 255), 0, 0, 29, 19, rec);
  EXPECT_TRUE(SameImage(b, src));
}

TEST(BumpMapping, LightFadesWithDistanceAndTakesItsColour) {
  TBitmap b = Filled(80, 20, Rgb(90, 90, 90));
  TProgressRec rec;
  _BumpMapping(b, 10, 10, 40, 40, 0, Rgb(255, 0, 0), 0, 0, 79, 19, rec);
  const TRGB near = Px(b, 20, 10), far = Px(b, 40, 10), outside = Px(b, 60, 10);
  EXPECT_GT(near.r, far.r);
  EXPECT_GT(far.r, 0);
  EXPECT_EQ(outside.r, 0);  // beyond the radius there is no light and Level 0 keeps nothing
  EXPECT_EQ(near.g, 0);
  EXPECT_EQ(near.b, 0);
}

TEST(Lens, RefractionBelowOneChangesNothingAndAboveOneOnlyTheEllipse) {
  const TBitmap src = RandomBitmap(40, 30, 2);
  TBitmap b = src;
  TProgressRec rec;
  _lens(b, 20, 15, 20, 16, 0.5, rec);
  EXPECT_TRUE(SameImage(b, src));
  _lens(b, 20, 15, 20, 16, 2.0, rec);
  EXPECT_FALSE(SameImage(b, src));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      if (x < 10 || x >= 30 || y < 7 || y >= 23) {
        ASSERT_EQ(Px(b, x, y), Px(src, x, y)) << x << "," << y;
      }
  EXPECT_EQ(Px(b, 10, 7), Px(src, 10, 7));  // box corner, outside the ellipse
  // A box reaching past every edge is clipped to the image: the lens is then the image's own ellipse.
  TBitmap edge = src;
  _lens(edge, 0, 0, 200, 200, 3.0, rec);
  ASSERT_EQ(edge.Width(), 40);
  ASSERT_EQ(edge.Height(), 30);
  EXPECT_FALSE(SameImage(edge, src));
  for (auto [x, y] : {std::pair{0, 0}, {39, 0}, {0, 29}, {39, 29}}) EXPECT_EQ(Px(edge, x, y), Px(src, x, y)) << x << "," << y;
  TBitmap centred = src;
  _lens(centred, 20, 15, 40, 30, 3.0, rec);
  EXPECT_TRUE(SameImage(edge, centred));
}

TEST(Wave, ZeroAmplitudeKeepsTheImageAndThinImagesAreSafe) {
  const TBitmap src = RandomBitmap(32, 24, 3);
  TBitmap b = src;
  TProgressRec rec;
  _wave(b, 0, 10, 0, false, rec);
  EXPECT_TRUE(SameImage(b, src));
  _wave(b, 4, 10, 30, true, rec);
  EXPECT_FALSE(SameImage(b, src));
  TBitmap thin = RandomBitmap(1, 9, 4);
  _wave(thin, 3, 2, 0, false, rec);
  EXPECT_EQ(thin.Width(), 1);
}

TEST(Morphology, MatchesThePlainWindowSearch) {
  const TBitmap src = RandomBitmap(23, 17, 5);
  for (int win : {1, 2}) {
    for (bool maximum : {true, false}) {
      TBitmap b = src;
      _MorphFilter(b, win, maximum ? moMaximum : moMinimum, 0, 0, 22, 16, nullptr, nullptr);
      EXPECT_TRUE(SameImage(b, MorphReference(src, win, maximum))) << win << maximum;
    }
  }
  // Ties go to the first pixel in reading order: two colours of grey 21.
  TBitmap tie = Filled(3, 3, Rgb(0, 0, 0));
  SetPx(tie, 2, 2, Rgb(0, 30, 0));
  SetPx(tie, 0, 0, Rgb(100, 0, 0));
  _MorphFilter(tie, 1, moMaximum, 0, 0, 2, 2, nullptr, nullptr);
  EXPECT_EQ(Px(tie, 1, 1), Rgb(100, 0, 0));
}

TEST(Morphology, OpeningRemovesASpeckAndZeroWindowChangesNothing) {
  TBitmap b = Filled(9, 9, Rgb(0, 0, 0));
  SetPx(b, 4, 4, Rgb(255, 255, 255));
  const TBitmap speck = b;
  _MorphFilter(b, 0, moMaximum, 0, 0, 8, 8, nullptr, nullptr);
  EXPECT_TRUE(SameImage(b, speck));
  _MorphFilter(b, 1, moMaximum, 0, 0, 8, 8, nullptr, nullptr);
  EXPECT_EQ(Px(b, 3, 3), Rgb(255, 255, 255));
  EXPECT_EQ(Px(b, 2, 2), Rgb(0, 0, 0));
  b = speck;
  _MorphFilter(b, 1, moOpening, 0, 0, 8, 8, nullptr, nullptr);
  EXPECT_TRUE(SameImage(b, Filled(9, 9, Rgb(0, 0, 0))));
  TBitmap hole = Filled(9, 9, Rgb(200, 200, 200));
  SetPx(hole, 4, 4, Rgb(0, 0, 0));
  _MorphFilter(hole, 1, moClosing, 0, 0, 8, 8, nullptr, nullptr);
  EXPECT_EQ(Px(hole, 4, 4), Rgb(200, 200, 200));
  // Only the rectangle changes.
  b = speck;
  _MorphFilter(b, 1, moMaximum, 4, 4, 8, 8, nullptr, nullptr);
  EXPECT_EQ(Px(b, 3, 3), Rgb(0, 0, 0));
  EXPECT_EQ(Px(b, 5, 5), Rgb(255, 255, 255));
}

TEST(Merge, PercentKeepsTheCurrentImage) {
  const TBitmap src = RandomBitmap(20, 10, 6);
  const TBitmap other = RandomBitmap(10, 5, 7);
  TBitmap b = src;
  _Merge(b, other, 100, 0, 0, 19, 9, nullptr, nullptr);
  EXPECT_TRUE(SameImage(b, src));
  _Merge(b, other, 0, 0, 0, 19, 9, nullptr, nullptr);
  TBitmap stretched;
  _VXBmpStretch(other, stretched, 20, 10);
  EXPECT_TRUE(SameImage(b, stretched));
  TBitmap half = Filled(4, 4, Rgb(100, 0, 255));
  _Merge(half, Filled(2, 2, Rgb(200, 255, 0)), 50, 0, 0, 3, 3, nullptr, nullptr);
  EXPECT_EQ(Px(half, 1, 1), Rgb(150, 128, 128));  // 127.5 rounds to even
}

TEST(ProcEffects, MergeAndMorphologyKeepToTheSelection) {
  TBitmap b = Filled(10, 10, Rgb(10, 10, 10));
  TVexaProc proc;
  proc.SetAttachedBitmap(&b);
  proc.Select(2, 2, 5, 5);
  proc.Merge(Filled(1, 1, Rgb(210, 210, 210)), 0);
  EXPECT_EQ(Px(b, 5, 5), Rgb(210, 210, 210));
  EXPECT_EQ(Px(b, 6, 6), Rgb(10, 10, 10));
  proc.Select(0, 0, 3, 3);
  proc.Maximum(1);
  EXPECT_EQ(Px(b, 1, 1), Rgb(210, 210, 210));
  EXPECT_EQ(Px(b, 4, 4), Rgb(210, 210, 210));
  EXPECT_EQ(Px(b, 6, 5), Rgb(10, 10, 10));
  EXPECT_TRUE(proc.CanUndo());
}

TEST(MagicWand, OnePixelGivesAClosedOutlineAroundIt) {
  TBitmap b = Filled(10, 10, Rgb(0, 0, 0));
  SetPx(b, 6, 3, Rgb(250, 10, 10));
  int count = -1;
  const std::vector<TPoint> pts = _MakeMagicWandPoints(b, 6, 3, false, 0, count);
  ASSERT_GE(count, 4);
  ASSERT_EQ(static_cast<int>(pts.size()), count);
  for (const TPoint& p : pts) {
    EXPECT_TRUE(p.X == 6 || p.X == 7) << p.X;
    EXPECT_TRUE(p.Y == 3 || p.Y == 4) << p.Y;
  }
  EXPECT_TRUE(SameImage(MaskOf(pts, 10, 10), [] {
    TBitmap m = Filled(10, 10, Rgb(0, 0, 0));
    SetPx(m, 6, 3, Rgb(255, 255, 255));
    return m;
  }()));
}

TEST(MagicWand, OutlineCoversTheRegionOrItsDilation) {
  TBitmap b = Filled(20, 16, Rgb(0, 0, 0));
  VXFillRect(b, {4, 5, 11, 9}, RGB2TColor(0, 200, 0));
  SetPx(b, 7, 7, Rgb(5, 195, 3));  // within tolerance 10
  int count;
  const std::vector<TPoint> pts = _MakeMagicWandPoints(b, 7, 7, false, 10, count);
  TBitmap expect = Filled(20, 16, Rgb(0, 0, 0));
  VXFillRect(expect, {4, 5, 11, 9}, clWhite);
  EXPECT_TRUE(SameImage(MaskOf(pts, 20, 16), expect));
  const std::vector<TPoint> grown = _MakeMagicWandPoints(b, 5, 5, true, 10, count);
  expect = Filled(20, 16, Rgb(0, 0, 0));
  VXFillRect(expect, {3, 4, 12, 10}, clWhite);
  EXPECT_TRUE(SameImage(MaskOf(grown, 20, 16), expect));
}

TEST(MagicWand, OutsideTheImageOrNotTrueColourGivesNothing) {
  TBitmap b = Filled(5, 5, Rgb(1, 2, 3));
  int count = 7;
  EXPECT_TRUE(_MakeMagicWandPoints(b, 5, 0, false, 0, count).empty());
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(_MakeMagicWandPoints(b, -1, 2, false, 0, count).empty());
  TBitmap bw(5, 5, pf1bit);
  EXPECT_TRUE(_MakeMagicWandPoints(bw, 1, 1, false, 0, count).empty());
  // The whole image as the region: the outline reaches its edges.
  const std::vector<TPoint> all = _MakeMagicWandPoints(b, 2, 2, true, 0, count);
  EXPECT_TRUE(SameImage(MaskOf(all, 5, 5), Filled(5, 5, Rgb(255, 255, 255))));
}

TEST(HiddenData, RoundTripChangesFewBytesByOne) {
  const TBitmap src = RandomBitmap(40, 30, 8);
  TBitmap b = src;
  const uint8_t payload[5] = {'h', 'e', 'l', 'l', 'o'};
  ASSERT_EQ(_WriteHiddenData(b, payload, 5), 5);
  int changed = 0;
  for (int y = 0; y < 30; ++y)
    for (int i = 0; i < 120; ++i) {
      const int d = std::abs(b.ScanLine(y)[i] - src.ScanLine(y)[i]);
      ASSERT_LE(d, 1);
      changed += d;
    }
  EXPECT_LE(changed, (8 + 5) * 8);
  EXPECT_GT(changed, 0);
  uint8_t back[5] = {};
  EXPECT_EQ(_ReadHiddenData(b, back, 5), 5);
  EXPECT_EQ(0, std::memcmp(back, payload, 5));
  uint8_t part[2] = {};
  EXPECT_EQ(_ReadHiddenData(b, part, 2), 5);
  EXPECT_EQ(part[1], 'e');
}

TEST(HiddenData, SpaceIsExactAndAnOverlongPayloadIsReportedCut) {
  // 3 x 7 - 2 = 19 carrier bytes per row, 6 rows: 114 bits, 14 bytes, 6 after the header.
  TBitmap b = Filled(7, 6, Rgb(255, 255, 255));
  EXPECT_EQ(_GetHiddenDataSpace(b), 6);
  const std::string text = "0123456789";
  EXPECT_EQ(_WriteHiddenData(b, text.data(), 10), 6);
  char back[10] = {};
  EXPECT_EQ(_ReadHiddenData(b, back, 10), 6);
  EXPECT_EQ(std::string(back, 6), "012345");
  // The unused last two channel bytes of each row are never touched.
  for (int y = 0; y < 6; ++y) {
    EXPECT_EQ(b.ScanLine(y)[19], 255);
    EXPECT_EQ(b.ScanLine(y)[20], 255);
  }
  TBitmap tiny = Filled(2, 2, Rgb(0, 0, 0));
  EXPECT_EQ(_GetHiddenDataSpace(tiny), 0);
  EXPECT_EQ(_WriteHiddenData(tiny, "x", 1), 0);
}

TEST(HiddenData, ImagesWithoutAHeaderReadAsEmpty) {
  TBitmap noise = RandomBitmap(64, 64, 9);
  EXPECT_EQ(_ReadHiddenData(noise, nullptr, 0), 0);
  TBitmap bw(64, 64, pf1bit);
  EXPECT_EQ(_GetHiddenDataSpace(bw), 0);
  TVexaProc proc;
  proc.SetAttachedBitmap(&bw);
  EXPECT_EQ(proc.WriteHiddenText("abc"), 0);
  EXPECT_EQ(proc.ReadHiddenText(), "");
}

TEST(ProcHiddenData, TextRoundTripWithUndo) {
  TBitmap b = RandomBitmap(50, 20, 10);
  const TBitmap src = b;
  TVexaProc proc;
  proc.SetAttachedBitmap(&b);
  EXPECT_EQ(proc.GetHiddenDataSpace(), (148 * 20) / 8 - 8);
  EXPECT_EQ(proc.WriteHiddenText("a secret, with bytes \x01\xff"), 23);
  EXPECT_EQ(proc.ReadHiddenText(), "a secret, with bytes \x01\xff");
  proc.Undo();
  EXPECT_TRUE(SameImage(b, src));
}

TEST(ProcEffects, LensAndWaveWorkOnTheWholeImageUnlessPolygon) {
  TBitmap b = Filled(40, 40, Rgb(0, 0, 0));
  VXFillRect(b, {0, 0, 20, 40}, clWhite);
  const TBitmap src = b;
  TVexaProc proc;
  proc.SetAttachedBitmap(&b);
  proc.Select(0, 0, 5, 5);  // a stored rectangle does not confine the wave
  proc.Wave(6, 8, 0, false);
  int changedOutside = 0;
  for (int y = 10; y < 40; ++y)
    for (int x = 10; x < 40; ++x) changedOutside += !(Px(b, x, y) == Px(src, x, y));
  EXPECT_GT(changedOutside, 0);
}
