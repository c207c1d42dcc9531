#include <gtest/gtest.h>

#include <cmath>

#include "io_testutil.h"
#include "support/pixels.h"
#include "vexa/core/textservice.h"
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

// Found by the fuzzer: a pixel mapped billions of pixels away was converted to int.
TEST(MetafileMalformed, PixelsMappedFarAwayAreIgnored) {
  auto emf = MakeEmf({EmfRec(17, {8}), EmfRec(9, {1, 1}), EmfRec(11, {100000000, 100000000}), EmfRec(15, {95, 95, 0xFF}),
                      EmfRec(11, {1, 1}), EmfRec(15, {5, 5, 0xFF})},
                     2540, 2540);
  TBitmap bmp = Play(emf, 96, 96);
  EXPECT_EQ(bmp.GetPixel(5, 5), kRed);
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

// ---------------------------------------------------------------------------
// One small metafile per record kind, checked at a few decisive pixels. WMF cases
// play a placeable 100 x 100 picture onto 100 x 100 pixels, EMF cases a 96 x 96
// reference-device frame onto 96 x 96 pixels: one logical unit is one pixel.

namespace {

constexpr TRGB kBlue{255, 0, 0};

struct TProbe {
  int X, Y;
  TRGB Colour;
};

struct TRecordCase {
  const char* Name;
  bool Enhanced;
  std::vector<std::vector<uint8_t>> Records;
  std::vector<TProbe> Probes;
};

void PrintTo(const TRecordCase& c, std::ostream* os) { *os << c.Name; }

// A 2 x 2 24-bit DIB: red, green on the top row; blue, white below (rows stored bottom first).
std::vector<uint8_t> Dib2x2() {
  Bytes b;
  b.U32(40).I32(2).I32(2).U16(1).U16(24).U32(0).U32(16).I32(0).I32(0).U32(0).U32(0);
  b.B.insert(b.B.end(), {255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0});
  return b.B;
}

// An EMF record of 32-bit parameters followed by raw bytes.
std::vector<uint8_t> EmfRecRaw(uint32_t type, std::vector<int> params, const std::vector<uint8_t>& tail) {
  Bytes b;
  b.U32(type).U32(static_cast<uint32_t>(8 + 4 * params.size() + tail.size()));
  for (int p : params) b.I32(p);
  return b.Append(tail).B;
}

std::vector<uint8_t> WmfBrush(uint32_t colorRef) { return SolidBrush(colorRef); }
std::vector<uint8_t> WmfNullPen() { return PenRec(5, 0, 0); }
std::vector<uint8_t> EmfBrush(int index, uint32_t colorRef) { return EmfRec(39, {index, 0, int(colorRef), 0}); }
std::vector<uint8_t> EmfSelect(int index) { return EmfRec(37, {index}); }
const auto kEmfNullPen = EmfRec(37, {static_cast<int>(0x80000008)});
// A box of (l, t)-(r, b) through the current path.
std::vector<std::vector<uint8_t>> EmfBoxPath(int l, int t, int r, int b) {
  return {EmfRec(27, {l, t}), EmfRec(54, {r, t}), EmfRec(54, {r, b}), EmfRec(54, {l, b}), EmfRec(61, {})};
}
std::vector<std::vector<uint8_t>> Join(std::vector<std::vector<std::vector<uint8_t>>> parts) {
  std::vector<std::vector<uint8_t>> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Two overlapping squares drawn the same way round: the overlap is inside only
// under the winding rule.
std::vector<uint8_t> OverlappingSquares() {
  return WmfRec(0x0538, {2, 4, 4, 10, 10, 60, 10, 60, 60, 10, 60, 40, 40, 90, 40, 90, 90, 40, 90});
}

const uint32_t kSrcCopy = 0x00CC0020;
const auto kDibRaw = Dib2x2();

const TRecordCase kRecordCases[] = {
    // Arcs run counter-clockwise from the start radial to the end radial.
    {"WmfArcDrawsTheUpperRightQuarter", false,
     {PenRec(0, 5, 0), Select(0), WmfRec(0x0817, {10, 50, 50, 90, 90, 90, 10, 10})},
     {{78, 21, kBlack}, {78, 78, kWhite}, {21, 21, kWhite}}},
    {"WmfPieFillsTheQuarterToTheCentre", false,
     {WmfBrush(0x0000FF), Select(0), WmfNullPen(), Select(1), WmfRec(0x081A, {10, 50, 50, 90, 90, 90, 10, 10})},
     {{65, 35, kRed}, {35, 35, kWhite}, {65, 65, kWhite}}},
    {"WmfChordFillsOnlyBeyondTheChord", false,
     {WmfBrush(0x0000FF), Select(0), WmfNullPen(), Select(1), WmfRec(0x0830, {10, 50, 50, 90, 90, 90, 10, 10})},
     {{75, 25, kRed}, {55, 45, kWhite}}},
    {"EmfClockwisePieTakesTheOtherThreeQuarters", true,
     {EmfBrush(1, 0x0000FF), EmfSelect(1), kEmfNullPen, EmfRec(57, {2}), EmfRec(47, {8, 8, 88, 88, 88, 48, 48, 8})},
     {{30, 66, kRed}, {66, 30, kWhite}}},
    // DIBs: a 2 x 2 picture stretched, copied and placed; the source's top row is red and green.
    {"WmfStretchDibStretchesTheBitmap", false,
     {WmfRecRaw(0x0F43, Bytes().U32(kSrcCopy).U16(0).I16(2).I16(2).I16(0).I16(0).I16(60).I16(60).I16(20).I16(20).Append(kDibRaw))},
     {{30, 30, kRed}, {70, 30, kGreen}, {30, 70, kBlue}, {70, 70, kWhite}, {10, 10, kWhite}}},
    {"WmfDibStretchBltCountsSourceRowsFromTheTop", false,
     {WmfRecRaw(0x0B41, Bytes().U32(kSrcCopy).I16(1).I16(2).I16(0).I16(0).I16(40).I16(60).I16(20).I16(20).Append(kDibRaw))},
     {{30, 30, kRed}, {70, 50, kGreen}, {30, 70, kWhite}}},
    {"WmfDibBitBltCopiesOnePixelPerUnit", false,
     {WmfRecRaw(0x0940, Bytes().U32(kSrcCopy).I16(0).I16(0).I16(2).I16(2).I16(40).I16(40).Append(kDibRaw))},
     {{40, 40, kRed}, {41, 40, kGreen}, {40, 41, kBlue}, {42, 42, kWhite}}},
    {"WmfSetDibToDevicePlacesTheBitmap", false,
     {WmfRecRaw(0x0D33, Bytes().U16(0).U16(2).U16(0).I16(0).I16(0).I16(2).I16(2).I16(10).I16(10).Append(kDibRaw))},
     {{10, 10, kRed}, {10, 11, kBlue}, {11, 11, kWhite}}},
    {"WmfDibBitBltWithoutBitmapPaintsTheBrush", false,
     {WmfBrush(0x00FF00), Select(0), WmfRec(0x0940, {0x0021, 0x00F0, 0, 0, 0, 20, 20, 30, 30})},
     {{35, 35, kGreen}, {55, 55, kWhite}}},
    {"EmfStretchDiBitsStretchesTheBitmap", true,
     {EmfRecRaw(81, {0, 0, 0, 0, 16, 16, 0, 0, 2, 2, 80, 40, 120, 16, 0, int(kSrcCopy), 64, 64}, kDibRaw)},
     {{20, 20, kRed}, {70, 20, kGreen}, {20, 70, kBlue}, {10, 10, kWhite}}},
    // Clipping.
    {"WmfIntersectClipRectKeepsPaintInside", false,
     {WmfBrush(0x0000FF), Select(0), WmfNullPen(), Select(1), WmfRec(0x0416, {60, 60, 20, 20}), Rect(0, 0, 100, 100)},
     {{30, 30, kRed}, {70, 70, kWhite}, {10, 10, kWhite}}},
    {"WmfExcludeClipRectLeavesAHole", false,
     {WmfBrush(0x0000FF), Select(0), WmfNullPen(), Select(1), WmfRec(0x0415, {60, 60, 20, 20}), Rect(0, 0, 100, 100)},
     {{30, 30, kWhite}, {70, 70, kRed}, {10, 10, kRed}}},
    {"WmfRestoreDcRestoresTheClip", false,
     {WmfBrush(0x0000FF), Select(0), WmfNullPen(), Select(1), WmfRec(0x001E, {}), WmfRec(0x0416, {60, 60, 20, 20}),
      WmfRec(0x0127, {-1}), Rect(0, 0, 100, 100)},
     {{70, 70, kRed}}},
    {"EmfIntersectThenExcludeMakesAFrame", true,
     {EmfBrush(1, 0x0000FF), EmfSelect(1), kEmfNullPen, EmfRec(30, {10, 10, 86, 86}), EmfRec(29, {40, 40, 56, 56}),
      EmfRec(43, {0, 0, 96, 96})},
     {{20, 20, kRed}, {48, 48, kWhite}, {5, 5, kWhite}}},
    {"EmfSelectClipRegionCopyAndReset", true,
     {EmfBrush(1, 0x0000FF), EmfSelect(1), kEmfNullPen, EmfRec(75, {48, 5, 32, 1, 1, 16, 0, 0, 48, 48, 0, 0, 48, 48}),
      EmfRec(43, {0, 0, 96, 96}), EmfRec(75, {0, 5}), EmfBrush(2, 0x00FF00), EmfSelect(2), EmfRec(43, {60, 60, 96, 96})},
     {{20, 20, kRed}, {55, 20, kWhite}, {70, 70, kGreen}}},
    // Dashed pens: one-pixel dashes of 18 on and 6 off, dots of 3 and 3.
    {"WmfDashedPen", false,
     {PenRec(1, 0, 0), Select(0), WmfRec(0x0214, {50, 0}), WmfRec(0x0213, {50, 99})},
     {{5, 50, kBlack}, {20, 50, kWhite}, {30, 50, kBlack}}},
    {"WmfDottedPen", false,
     {PenRec(2, 0, 0), Select(0), WmfRec(0x0214, {50, 0}), WmfRec(0x0213, {50, 99})},
     {{1, 50, kBlack}, {4, 50, kWhite}, {7, 50, kBlack}}},
    {"EmfGeometricDashScalesWithTheWidth", true,
     {EmfRec(95, {1, 0, 0, 0, 0, 0x00010201, 6, 0, 0, 0, 0}), EmfSelect(1), EmfRec(27, {0, 48}), EmfRec(54, {95, 48})},
     {{10, 48, kBlack}, {10, 46, kBlack}, {20, 48, kWhite}, {26, 48, kBlack}}},
    // Fill modes.
    {"WmfAlternateFillLeavesTheOverlapEmpty", false,
     {WmfBrush(0x0000FF), Select(0), WmfNullPen(), Select(1), OverlappingSquares()},
     {{50, 50, kWhite}, {20, 20, kRed}, {80, 80, kRed}}},
    {"WmfWindingFillFillsTheOverlap", false,
     {WmfRec(0x0106, {2}), WmfBrush(0x0000FF), Select(0), WmfNullPen(), Select(1), OverlappingSquares()},
     {{50, 50, kRed}, {20, 20, kRed}}},
    {"WmfWindingFillLeavesOppositeLoopsEmpty", false,
     {WmfRec(0x0106, {2}), WmfBrush(0x0000FF), Select(0), WmfNullPen(), Select(1),
      WmfRec(0x0538, {2, 4, 4, 10, 10, 60, 10, 60, 60, 10, 60, 40, 40, 40, 90, 90, 90, 90, 40})},
     {{50, 50, kWhite}, {20, 20, kRed}}},
    // Paths draw nothing until they are filled or stroked.
    {"EmfFillPathFillsTheFigure", true,
     Join({{EmfBrush(1, 0x0000FF), EmfSelect(1), EmfRec(59, {})}, EmfBoxPath(10, 10, 86, 86),
           {EmfRec(60, {}), EmfRec(62, {0, 0, 0, 0})}}),
     {{48, 48, kRed}, {5, 5, kWhite}}},
    {"EmfStrokePathOutlinesOnly", true,
     Join({{EmfRec(95, {1, 0, 0, 0, 0, 0x00010000, 5, 0, 0, 0, 0}), EmfSelect(1), EmfRec(59, {})},
           EmfBoxPath(10, 10, 86, 86), {EmfRec(60, {}), EmfRec(64, {0, 0, 0, 0})}}),
     {{10, 48, kBlack}, {48, 10, kBlack}, {48, 48, kWhite}}},
    {"EmfAbortedPathDrawsNothing", true,
     Join({{EmfBrush(1, 0x0000FF), EmfSelect(1), EmfRec(59, {}), EmfRec(43, {10, 10, 86, 86})}, {EmfRec(68, {})},
           {EmfRec(62, {0, 0, 0, 0})}}),
     {{48, 48, kWhite}, {10, 10, kWhite}}},
    {"EmfPathOfBeziersAndAnEllipseUnderWinding", true,
     {EmfRec(19, {2}), EmfBrush(1, 0x0000FF), EmfSelect(1), kEmfNullPen, EmfRec(59, {}), EmfRec(42, {8, 8, 88, 88}),
      EmfRec(42, {28, 28, 68, 68}), EmfRec(60, {}), EmfRec(63, {0, 0, 0, 0})},
     {{48, 48, kRed}, {15, 48, kRed}, {4, 4, kWhite}}},
};

class MetafileRecords : public testing::TestWithParam<TRecordCase> {};

}  // namespace

TEST_P(MetafileRecords, DrawsWhereTheRecordSays) {
  const TRecordCase& c = GetParam();
  TBitmap bmp = c.Enhanced ? Play(MakeEmf(c.Records, 2540, 2540), 96, 96) : Play(MakeWmf(c.Records));
  for (const TProbe& p : c.Probes)
    EXPECT_EQ(bmp.GetPixel(p.X, p.Y), p.Colour) << "at (" << p.X << ", " << p.Y << ")";
}

INSTANTIATE_TEST_SUITE_P(Kinds, MetafileRecords, testing::ValuesIn(kRecordCases),
                         [](const testing::TestParamInfo<TRecordCase>& i) { return std::string(i.param.Name); });

// ---------------------------------------------------------------------------
// Text goes through the installed service; without one it is left out and said so.

namespace {

// A box per character, half the font's height wide, the baseline at four fifths.
class TBoxTextService : public TVXTextService {
 public:
  bool Render(const TVXFontSpec& font, const std::string& text, const std::vector<double>& advances,
              TVXTextImage& out) override {
    LastFont = font, LastText = text;
    int h = static_cast<int>(std::lround(font.Height)), w = static_cast<int>(text.size()) * h / 2;
    if (!advances.empty()) {
      double sum = 0;
      for (double a : advances) sum += a;
      w = static_cast<int>(std::lround(sum));
    }
    out.Width = w, out.Height = h;
    out.Coverage.assign(static_cast<size_t>(w * h), 255);
    out.OriginX = 0, out.OriginY = h * 0.8;
    out.Advance = w, out.Ascent = h * 0.8, out.Descent = h * 0.2;
    return true;
  }
  TVXFontSpec LastFont;
  std::string LastText;
};

class ScopedTextService {
 public:
  explicit ScopedTextService(TVXTextService* s) : FOld(VXTextService()) { VXSetTextService(s); }
  ~ScopedTextService() { VXSetTextService(FOld); }

 private:
  TVXTextService* FOld;
};

// EXTTEXTOUTW at (x, y) with options and a rectangle; the string follows the fixed part.
std::vector<uint8_t> EmfTextW(int x, int y, const std::u16string& s, int options = 0, std::vector<int> rect = {0, 0, 0, 0}) {
  Bytes tail;
  for (char16_t c : s) tail.U16(c);
  while (tail.Size() % 4) tail.B.push_back(0);
  return EmfRecRaw(84, {0, 0, 0, 0, 1, 0, 0, x, y, int(s.size()), 76, options, rect[0], rect[1], rect[2], rect[3], 0}, tail.B);
}

// A 20-pixel font (character height) named Face.
std::vector<uint8_t> EmfFont(int index, int height) {
  Bytes b;
  b.I32(height).I32(0).I32(0).I32(0).I32(700).U32(0).U32(0);
  for (char16_t c : std::u16string(u"Face")) b.U16(c);
  while (b.Size() < 92) b.B.push_back(0);
  return EmfRecRaw(82, {index}, b.B);
}

}  // namespace

TEST(MetafileText, PlacedByTheAlignmentInTheTextColour) {
  TBoxTextService boxes;
  ScopedTextService installed(&boxes);
  // Baseline alignment at (20, 50): two 10-pixel boxes from y 34 to 54; top alignment
  // at (20, 70): from y 70.
  auto emf = MakeEmf({EmfFont(1, -20), EmfSelect(1), EmfRec(24, {0x0000FF}), EmfRec(18, {1}), EmfRec(22, {24}),
                      EmfTextW(20, 50, u"AB"), EmfRec(22, {0}), EmfTextW(60, 70, u"C")},
                     2540, 2540);
  TBitmap bmp = Play(emf, 96, 96);
  EXPECT_EQ(bmp.GetPixel(25, 40), kRed);
  EXPECT_EQ(bmp.GetPixel(38, 52), kRed);
  EXPECT_EQ(bmp.GetPixel(42, 40), kWhite);  // past the advance
  EXPECT_EQ(bmp.GetPixel(25, 30), kWhite);  // above the ascent
  EXPECT_EQ(bmp.GetPixel(62, 75), kRed);
  EXPECT_EQ(bmp.GetPixel(62, 68), kWhite);
  EXPECT_EQ(boxes.LastText, "C");
  EXPECT_EQ(boxes.LastFont.Face, "Face");
  EXPECT_EQ(boxes.LastFont.Weight, 700);
  EXPECT_DOUBLE_EQ(boxes.LastFont.Height, 20);
}

TEST(MetafileText, OpaqueRectangleAndOpaqueBackgroundTakeTheBackgroundColour) {
  TBoxTextService boxes;
  ScopedTextService installed(&boxes);
  // WMF TEXTOUT in the default opaque mode, then an EXTTEXTOUT whose opaque rectangle is green.
  auto wmf = MakeWmf({WmfRec(0x0201, {0x00FF, 0x0000}), WmfRecRaw(0x02FB, Bytes().I16(-10).I16(0).I16(0).I16(0).I16(400).U32(0).U32(0).Str("Arial").U16(0).U16(0).Append({0})),
                      Select(0), WmfRecRaw(0x0521, Bytes().U16(2).Str("Hi").I16(10).I16(10)),
                      WmfRecRaw(0x0A32, Bytes().I16(80).I16(50).U16(1).U16(2).I16(40).I16(60).I16(90).I16(95).Str("x").U16(0))});
  TBitmap bmp = Play(wmf);
  EXPECT_EQ(bmp.GetPixel(12, 12), kBlack);  // the text itself, default black
  EXPECT_EQ(bmp.GetPixel(45, 90), kRed);    // opaque rectangle in the background colour
  EXPECT_EQ(boxes.LastText, "x");
}

TEST(MetafileText, WithoutAServiceTextIsLeftOutAndTheDrawSaysSo) {
  ScopedTextService none(nullptr);
  auto emf = MakeEmf({EmfTextW(20, 50, u"AB")}, 2540, 2540);
  TVXMetafile mf;
  ASSERT_TRUE(mf.LoadFromBytes(emf.data(), emf.size()));
  TBitmap bmp(96, 96, pf24bit);
  bmp.Fill(kWhite);
  mf.Draw(bmp, TRect{0, 0, 96, 96});
  EXPECT_EQ(mf.DrawNote().Kind, fkUnsupported);
  EXPECT_NE(mf.DrawNote().Text.find("text"), std::string::npos);
  auto plain = MakeEmf({EmfRec(43, {0, 0, 10, 10})}, 2540, 2540);
  ASSERT_TRUE(mf.LoadFromBytes(plain.data(), plain.size()));
  mf.Draw(bmp, TRect{0, 0, 96, 96});
  EXPECT_EQ(mf.DrawNote().Kind, fkNone);
}

// A placeable header whose bounds cut the drawing off is not trusted: the drawn
// extent fills the destination. Bounds that hold the drawing keep their margins.
TEST(MetafileHeader, BoundsThatCutTheDrawingOffGiveWayToItsExtent) {
  auto spill = MakeWmf({SolidBrush(0x0000FF), Select(0), PenRec(5, 0, 0), Select(1), Rect(50, 50, 150, 150)}, true,
                       0, 0, 100, 100, 96);
  TBitmap bmp = Play(spill);
  EXPECT_EQ(bmp.GetPixel(2, 2), kRed);
  EXPECT_EQ(bmp.GetPixel(97, 97), kRed);
  auto inside = MakeWmf({SolidBrush(0x0000FF), Select(0), PenRec(5, 0, 0), Select(1), Rect(50, 50, 99, 99)}, true,
                        0, 0, 100, 100, 96);
  bmp = Play(inside);
  EXPECT_EQ(bmp.GetPixel(40, 40), kWhite);
  EXPECT_EQ(bmp.GetPixel(60, 60), kRed);
}
