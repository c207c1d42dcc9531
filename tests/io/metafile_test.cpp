#include <gtest/gtest.h>

#include "io_testutil.h"
#include "support/pixels.h"
#include "vexa/io/metafile.h"
#include "vexa/io/vexaio.h"

using namespace vexa;
using namespace iotest;
using namespace vexa::test;

namespace {

constexpr TRGB kRed{0, 0, 255}, kGreen{0, 255, 0}, kWhite{255, 255, 255}, kBlack{0, 0, 0};

std::vector<uint8_t> SolidBrush(uint32_t colorRef) { return WmfRecRaw(0x02FC, Bytes().U16(0).U32(colorRef).U16(0)); }
std::vector<uint8_t> PenRec(int style, int width, uint32_t colorRef) {
  return WmfRecRaw(0x02FA, Bytes().U16(static_cast<uint16_t>(style)).I16(width).I16(0).U32(colorRef));
}
std::vector<uint8_t> Select(int i) { return WmfRec(0x012D, {i}); }
std::vector<uint8_t> Rect(int l, int t, int r, int b) { return WmfRec(0x041B, {b, r, t, l}); }

// Plays into a white bitmap of w x h with the frame mapped onto the whole bitmap.
TBitmap Play(const std::vector<uint8_t>& data, int w = 100, int h = 100) {
  TVXMetafile mf;
  EXPECT_TRUE(mf.LoadFromBytes(data.data(), data.size()));
  TBitmap bmp(w, h, pf24bit);
  bmp.Fill(kWhite);
  mf.Draw(bmp, TRect{0, 0, w, h});
  return bmp;
}

}  // namespace

TEST(MetafileHeader, PlaceableSizeComesFromBoundsAndUnitsPerInch) {
  auto wmf = MakeWmf({}, true, 0, 0, 4000, 1000, 96);
  TVXMetafile mf;
  ASSERT_TRUE(mf.LoadFromBytes(wmf.data(), wmf.size()));
  EXPECT_FALSE(mf.Enhanced());
  EXPECT_EQ(mf.Width(), 4000);
  EXPECT_EQ(mf.Height(), 1000);
  // 1440 units per inch (twips) at 96 dpi: 2880 twips are 192 pixels.
  wmf = MakeWmf({}, true, 0, 0, 2880, 1440, 1440);
  ASSERT_TRUE(mf.LoadFromBytes(wmf.data(), wmf.size()));
  EXPECT_EQ(mf.Width(), 192);
  EXPECT_EQ(mf.Height(), 96);
}

TEST(MetafileHeader, PlainWmfTakesItsSizeFromTheWindowOrFromWhatItDraws) {
  auto withWindow = MakeWmf({WmfRec(0x020B, {0, 0}), WmfRec(0x020C, {200, 400})}, false);
  TVXMetafile mf;
  ASSERT_TRUE(mf.LoadFromBytes(withWindow.data(), withWindow.size()));
  EXPECT_EQ(mf.Width(), 400);
  EXPECT_EQ(mf.Height(), 200);

  auto drawn = MakeWmf({Rect(10, 20, 60, 50)}, false);
  ASSERT_TRUE(mf.LoadFromBytes(drawn.data(), drawn.size()));
  EXPECT_EQ(mf.Width(), 51);
  EXPECT_EQ(mf.Height(), 31);
}

TEST(MetafileHeader, EnhancedSizeComesFromTheFrameInHundredthsOfAMillimetre) {
  auto emf = MakeEmf({}, 2540, 5080);
  TVXMetafile mf;
  ASSERT_TRUE(mf.LoadFromBytes(emf.data(), emf.size()));
  EXPECT_TRUE(mf.Enhanced());
  EXPECT_EQ(mf.Width(), 96);
  EXPECT_EQ(mf.Height(), 192);
}

TEST(MetafileHeader, RejectsWhatIsNoMetafile) {
  TVXMetafile mf;
  const uint8_t junk[] = "GIF89a this is not a metafile";
  EXPECT_FALSE(mf.LoadFromBytes(junk, sizeof junk));
  EXPECT_TRUE(mf.Empty());
  auto wmf = MakeWmf({}, true);
  EXPECT_FALSE(mf.LoadFromBytes(wmf.data(), 30));  // placeable header, standard header cut
  auto emf = MakeEmf({}, 100, 100);
  EXPECT_FALSE(mf.LoadFromBytes(emf.data(), 60));  // header record longer than the data
}

TEST(MetafileDraw, RectangleFillsWithTheBrushAndKeepsOutsideUntouched) {
  auto bmp = Play(MakeWmf({SolidBrush(0x0000FF), Select(0), PenRec(5, 0, 0), Select(1), Rect(10, 10, 50, 50)}));
  EXPECT_EQ(bmp.GetPixel(10, 10), kRed);
  EXPECT_EQ(bmp.GetPixel(49, 49), kRed);
  EXPECT_EQ(bmp.GetPixel(50, 50), kWhite);  // right and bottom are exclusive
  EXPECT_EQ(bmp.GetPixel(5, 30), kWhite);
}

TEST(MetafileDraw, DefaultPenOutlinesAndTheFrameScalesToTheDestination) {
  auto wmf = MakeWmf({SolidBrush(0x0000FF), Select(0), Rect(10, 10, 50, 50)});
  auto bmp = Play(wmf, 200, 200);
  EXPECT_EQ(bmp.GetPixel(20, 20), kBlack);    // outline of the default black pen
  EXPECT_EQ(bmp.GetPixel(60, 60), kRed);      // inside, twice the size
  EXPECT_EQ(bmp.GetPixel(110, 110), kWhite);  // past the scaled rectangle
}

TEST(MetafileDraw, EllipsePolygonAndLines) {
  auto bmp = Play(MakeWmf({SolidBrush(0x00FF00), Select(0), PenRec(5, 0, 0), Select(1),
                           WmfRec(0x0418, {40, 40, 0, 0}),                    // ellipse (0,0)-(40,40)
                           WmfRec(0x0324, {3, 60, 0, 99, 0, 60, 40}),         // triangle
                           PenRec(0, 0, 0x000000), Select(2),                 // black one-pixel pen
                           WmfRec(0x0214, {70, 0}), WmfRec(0x0213, {70, 99})}));  // line along y = 70
  EXPECT_EQ(bmp.GetPixel(20, 20), kGreen);
  EXPECT_EQ(bmp.GetPixel(2, 2), kWhite);  // corner of the ellipse's box
  EXPECT_EQ(bmp.GetPixel(65, 5), kGreen);
  EXPECT_EQ(bmp.GetPixel(95, 30), kWhite);
  EXPECT_EQ(bmp.GetPixel(50, 70), kBlack);
  EXPECT_EQ(bmp.GetPixel(50, 71), kWhite);
}

TEST(MetafileDraw, WidePenCoversItsWidth) {
  auto bmp = Play(MakeWmf({PenRec(0, 6, 0x0000FF), Select(0), WmfRec(0x0214, {50, 10}), WmfRec(0x0213, {50, 90})}));
  EXPECT_EQ(bmp.GetPixel(50, 48), kRed);
  EXPECT_EQ(bmp.GetPixel(50, 52), kRed);
  EXPECT_EQ(bmp.GetPixel(50, 56), kWhite);
}

TEST(MetafileDraw, HatchedBrushOnTransparentBackgroundLeavesGaps) {
  auto brush = WmfRecRaw(0x02FC, Bytes().U16(2).U32(0x000000).U16(0));  // horizontal hatch
  auto bmp = Play(MakeWmf({WmfRec(0x0102, {1}), brush, Select(0), PenRec(5, 0, 0), Select(1), Rect(0, 0, 100, 100)}));
  EXPECT_EQ(bmp.GetPixel(30, 16), kBlack);
  EXPECT_EQ(bmp.GetPixel(30, 17), kWhite);
}

TEST(MetafileDraw, RestoreDcBringsBackTheSavedBrush) {
  auto bmp = Play(MakeWmf({PenRec(5, 0, 0), Select(0), WmfRec(0x001E, {}), SolidBrush(0x0000FF), Select(1),
                           WmfRec(0x0127, {-1}), Rect(0, 0, 30, 30), Select(1), Rect(50, 50, 80, 80)}));
  EXPECT_EQ(bmp.GetPixel(10, 10), kWhite);  // default white brush again
  EXPECT_EQ(bmp.GetPixel(60, 60), kRed);
}

TEST(MetafileDraw, EnhancedRecordsWithStockObjectsAndMapping) {
  auto emf = MakeEmf({EmfRec(39, {1, 0, 0x00FF00, 0}), EmfRec(37, {1}), EmfRec(37, {static_cast<int>(0x80000008)}),
                      EmfRec(43, {10, 10, 50, 50}),
                      // anisotropic: 1000 logical units onto 96 device pixels
                      EmfRec(17, {8}), EmfRec(9, {1000, 1000}), EmfRec(11, {96, 96}),
                      EmfRec(37, {static_cast<int>(0x80000004)}),  // black brush
                      EmfRec(43, {700, 700, 900, 900})},
                     2540, 2540);
  TVXMetafile mf;
  ASSERT_TRUE(mf.LoadFromBytes(emf.data(), emf.size()));
  TBitmap bmp(96, 96, pf24bit);
  bmp.Fill(kWhite);
  mf.Draw(bmp, TRect{0, 0, 96, 96});
  EXPECT_EQ(bmp.GetPixel(20, 20), kGreen);
  EXPECT_EQ(bmp.GetPixel(55, 20), kWhite);
  EXPECT_EQ(bmp.GetPixel(77, 77), kBlack);  // 800 logical -> 76.8 device
  EXPECT_EQ(bmp.GetPixel(60, 60), kWhite);
}

TEST(MetafileMalformed, BadRecordsStopOrAreSkippedWithoutHarm) {
  auto good = Rect(10, 10, 20, 20);
  auto tooManyPoints = WmfRec(0x0324, {1000, 0, 0, 50, 50});
  auto badSelect = Select(60000);
  auto deleteFar = WmfRec(0x01F0, {65535});
  auto restoreFar = WmfRec(0x0127, {-50});
  std::vector<uint8_t> overlong = WmfRec(0x041B, {90, 90, 70, 70});
  overlong[0] = 0xFF, overlong[1] = 0xFF;  // claims far more words than remain
  auto bmp = Play(MakeWmf({SolidBrush(0x0000FF), Select(0), tooManyPoints, badSelect, deleteFar, restoreFar, good,
                           overlong, Rect(60, 60, 70, 70)}));
  EXPECT_EQ(bmp.GetPixel(15, 15), kRed);
  EXPECT_EQ(bmp.GetPixel(65, 65), kWhite);  // after the broken record nothing is played
  EXPECT_EQ(bmp.GetPixel(80, 80), kWhite);
}

TEST(MetafileMalformed, HugeCoordinatesAreClipped) {
  auto bmp = Play(MakeWmf({SolidBrush(0x0000FF), Select(0), WmfRec(0x0214, {-32768, -32768}),
                           WmfRec(0x0213, {32767, 32767}), Rect(-32768, -32768, 32767, 32767)},
                          true, 0, 0, 1, 1, 96));
  EXPECT_EQ(bmp.GetPixel(50, 50), kRed);
}

TEST(MetafileMalformed, ShapesMappedFarBeyondTheCanvasStillFillIt) {
  // A viewport a hundred million times the window: the ellipse's outline lies far
  // outside any coordinate the raster can take.
  auto emf = MakeEmf({EmfRec(17, {8}), EmfRec(9, {1, 1}), EmfRec(11, {100000000, 100000000}),
                      EmfRec(39, {1, 0, 0x0000FF, 0}), EmfRec(37, {1}), EmfRec(42, {-1, -1, 1, 1})},
                     2540, 2540);
  TVXMetafile mf;
  ASSERT_TRUE(mf.LoadFromBytes(emf.data(), emf.size()));
  TBitmap bmp(96, 96, pf24bit);
  bmp.Fill(kWhite);
  mf.Draw(bmp, TRect{0, 0, 96, 96});
  EXPECT_EQ(bmp.GetPixel(50, 50), kRed);
}

TEST(MetafileDraw, NewObjectsTakeTheLowestFreeSlot) {
  auto bmp = Play(MakeWmf({SolidBrush(0x00FF00), PenRec(5, 0, 0), Select(1), WmfRec(0x01F0, {0}),
                           SolidBrush(0x0000FF), Select(0), Rect(10, 10, 50, 50)}));
  EXPECT_EQ(bmp.GetPixel(20, 20), kRed);
}

// ---------------------------------------------------------------------------
// Public metafiles against the pictures the platform's own player made of them.

namespace {

struct TReferenceCase {
  const char* Metafile;
  const char* Reference;
};

TBitmap LoadReference(const std::string& path) {
  TBitmap bmp;
  TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  io.LoadFromFile(path);
  EXPECT_FALSE(io.Aborting) << path;
  if (bmp.PixelFormat() != pf24bit) bmp.SetPixelFormat(pf24bit);
  return bmp;
}

// True when some pixel of b within one pixel of (x, y) matches c (the platform
// rounds edges and thin outlines differently, by a pixel, never more).
bool NearbyMatch(const TBitmap& b, int x, int y, TRGB c) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      int u = x + dx, v = y + dy;
      TRGB there = u < 0 || v < 0 || u >= b.Width() || v >= b.Height() ? kWhite : Px(b, u, v);
      if (ColourDistance(there, c) <= 24) return true;
    }
  return false;
}

// Pixels of either picture with no like-coloured pixel within one pixel in the other,
// with ours moved by (ox, oy).
int Unmatched(const TBitmap& ours, const TBitmap& ref, int ox, int oy) {
  int n = 0;
  for (int y = 0; y < ref.Height(); ++y)
    for (int x = 0; x < ref.Width(); ++x) {
      int u = x - ox, v = y - oy;
      TRGB mine = u < 0 || v < 0 || u >= ours.Width() || v >= ours.Height() ? kWhite : Px(ours, u, v);
      n += !NearbyMatch(ref, x, y, mine) || !NearbyMatch(ours, u, v, Px(ref, x, y));
    }
  return n;
}

class MetafileReference : public testing::TestWithParam<TReferenceCase> {};

}  // namespace

// The reference is drawn at the size the platform was given (the picture's frame
// onto the whole bitmap). Tolerance: after the best shift of the whole picture by at
// most one pixel, every pixel has a pixel of its colour (within 24) at most one pixel
// away in the other picture, except for one in two hundred (the platform leaves gaps
// in outlines thinner than a pixel, which we draw whole).
TEST_P(MetafileReference, MatchesThePlatformRenderingWithinOnePixel) {
  const TReferenceCase& c = GetParam();
  TBitmap ref = LoadReference(TestData(std::string("wmf/pillow/") + c.Reference));
  ASSERT_FALSE(ref.Empty());
  TVXMetafile mf;
  ASSERT_TRUE(mf.LoadFromFile(TestData(std::string("wmf/pillow/") + c.Metafile)));
  TBitmap out(ref.Width(), ref.Height(), pf24bit);
  out.Fill(kWhite);
  mf.Draw(out, TRect{0, 0, ref.Width(), ref.Height()});
  int best = ref.Width() * ref.Height();
  for (int oy = -1; oy <= 1; ++oy)
    for (int ox = -1; ox <= 1; ++ox) best = std::min(best, Unmatched(out, ref, ox, oy));
  EXPECT_LE(best, ref.Width() * ref.Height() / 200);
  int same = 0;
  for (int y = 0; y < ref.Height(); ++y)
    for (int x = 0; x < ref.Width(); ++x) same += Px(out, x, y) == Px(ref, x, y);
  EXPECT_GE(same, ref.Width() * ref.Height() * 19 / 20) << "pixels equal in place";
}

INSTANTIATE_TEST_SUITE_P(Pillow, MetafileReference,
                         testing::Values(TReferenceCase{"drawing.wmf", "drawing_wmf_ref.png"},
                                         TReferenceCase{"drawing.wmf", "drawing_wmf_ref_144.png"},
                                         TReferenceCase{"drawing.emf", "drawing_emf_ref.png"},
                                         TReferenceCase{"drawing.emf", "drawing_emf_ref_72_144.png"}));
