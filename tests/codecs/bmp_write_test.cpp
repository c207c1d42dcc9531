#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "bmp_testutil.h"
#include "support/reference.h"

using namespace vexa;
using namespace bmptest;

namespace {

std::vector<uint8_t> Write(TBitmap& bitmap, TIOParamsVals& params, bool* aborting = nullptr) {
  return WrittenBytes([&](TStream& s, TProgressRec& pr) { BMPWriteStream(s, bitmap, params, pr); }, aborting);
}

TIOParamsVals WriteParams(int bps, int spp, TIOBMPVersion version = ioBMP_BM3,
                          TIOBMPCompression compression = ioBMP_UNCOMPRESSED) {
  TIOParamsVals p;
  p.BitsPerSample = bps;
  p.SamplesPerPixel = spp;
  p.BMP_Version = version;
  p.BMP_Compression = compression;
  return p;
}

// Sixteen colours far apart in every channel, so any sensible 16-entry palette keeps them apart.
TRGB Swatch(int i) {
  return CreateRGB(static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i * 16), static_cast<uint8_t>((i * 80) & 0xF0));
}

TBitmap Swatches(int w, int h, int ncolors) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.ScanLine(y));
    for (int x = 0; x < w; ++x) row[x] = Swatch(((x / 3) + y) % ncolors);
  }
  return b;
}

size_t DataOffset(const std::vector<uint8_t>& f) { return U32At(f, 10); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Round trips

TEST(BmpRoundTrip, TwentyFourBitSurvivesEveryHeaderAndWidth) {
  for (TIOBMPVersion v : {ioBMP_BM, ioBMP_BM3, ioBMP_BMOS2V1, ioBMP_BMOS2V2})
    for (int w : {1, 2, 3, 5, 127}) {
      TBitmap src = Noise(w, 7, static_cast<uint32_t>(w * 10 + v));
      TIOParamsVals wp = WriteParams(8, 3, v);
      TReadOutcome r;
      ReadBytes(Write(src, wp), r);
      ASSERT_FALSE(r.Aborting) << "version " << v << " width " << w;
      EXPECT_TRUE(SameImage(src, r.Bitmap)) << "version " << v << " width " << w;
      EXPECT_EQ(r.Params.BMP_Version, v == ioBMP_BM ? ioBMP_BM3 : v);
    }
}

TEST(BmpRoundTrip, OneBitBitmapSurvivesWithABlackWhitePalette) {
  for (TIOBMPVersion v : {ioBMP_BM3, ioBMP_BMOS2V1, ioBMP_BMOS2V2})
    for (int w : {1, 9, 33}) {
      TBitmap src(w, 5, pf1bit);
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < w; ++x) _SetPixelbw(src.ScanLine(y), x, (x * 7 + y * 3) % 5 < 2);
      TIOParamsVals wp = WriteParams(1, 1, v);
      TReadOutcome r;
      ReadBytes(Write(src, wp), r);
      ASSERT_FALSE(r.Aborting);
      EXPECT_EQ(r.Bitmap.PixelFormat(), pf1bit);
      EXPECT_TRUE(SameImage(src, r.Bitmap)) << "version " << v << " width " << w;
      ASSERT_EQ(wp.ColorMapCount, 2);
      EXPECT_EQ(wp.ColorMap[0], CreateRGB(0, 0, 0));
      EXPECT_EQ(wp.ColorMap[1], CreateRGB(255, 255, 255));
    }
}

TEST(BmpRoundTrip, OneBitSourceIsExpandedForTwentyFourBitOutput) {
  TBitmap src(4, 1, pf1bit);
  _SetPixelbw(src.ScanLine(0), 1, 1);
  TIOParamsVals wp = WriteParams(8, 3);
  TReadOutcome r;
  ReadBytes(Write(src, wp), r);
  EXPECT_EQ(r.Params.BitsPerSample, 8);
  EXPECT_EQ(r.Params.SamplesPerPixel, 3);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(0, 0, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(1, 0), CreateRGB(255, 255, 255));
}

TEST(BmpRoundTrip, PaletteOutputQuantizesAndRleDecodesLikeUncompressed) {
  for (int bits : {4, 8})
    for (TIOBMPVersion v : {ioBMP_BM3, ioBMP_BMOS2V2}) {
      TBitmap src = Swatches(61, 13, bits == 4 ? 16 : 12);
      TIOParamsVals plainParams = WriteParams(bits, 1, v), rleParams = WriteParams(bits, 1, v, ioBMP_RLE);
      TReadOutcome plain, rle;
      ReadBytes(Write(src, plainParams), plain);
      ReadBytes(Write(src, rleParams), rle);
      ASSERT_FALSE(plain.Aborting || rle.Aborting);
      EXPECT_EQ(rle.Params.BMP_Compression, ioBMP_RLE);
      EXPECT_EQ(plain.Params.BitsPerSample, bits);
      EXPECT_EQ(plainParams.ColorMapCount, 1 << bits);
      EXPECT_TRUE(SameImage(plain.Bitmap, rle.Bitmap)) << bits << " bits";
      // Few distinct colours: the palette holds each of them (up to the quantizer's rounding).
      EXPECT_LE(MaxDifference(src, plain.Bitmap), 7) << bits << " bits";
    }
}

TEST(BmpRoundTrip, NoisyImagesSurviveRleAtEveryWidth) {
  // Noise defeats runs: literal stretches, their padding and the 255 limit all get exercised.
  for (int bits : {4, 8})
    for (int w : {1, 2, 3, 4, 255, 256, 300, 511}) {
      TBitmap src = Noise(w, 3, static_cast<uint32_t>(w + bits));
      // Long runs too: the left half of each row is one colour.
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < w / 2; ++x) reinterpret_cast<TRGB*>(src.ScanLine(y))[x] = CreateRGB(40, 80, 120);
      TIOParamsVals pp = WriteParams(bits, 1), rp = WriteParams(bits, 1, ioBMP_BM3, ioBMP_RLE);
      TReadOutcome plain, rle;
      ReadBytes(Write(src, pp), plain);
      ReadBytes(Write(src, rp), rle);
      ASSERT_FALSE(plain.Aborting || rle.Aborting);
      EXPECT_TRUE(SameImage(plain.Bitmap, rle.Bitmap)) << bits << " bits, width " << w;
    }
}

// ---------------------------------------------------------------------------------------------
// One-bit output from colour images

TEST(BmpWrite, TwoColourImageBecomesOneBitWithTheDarkerColourFirst) {
  const TRGB light = CreateRGB(250, 240, 10), dark = CreateRGB(20, 30, 200);
  TBitmap src(10, 3, pf24bit);
  src.Fill(light);  // the first colour met is the lighter one
  src.SetPixel(4, 1, dark);
  src.SetPixel(9, 2, dark);
  TIOParamsVals wp = WriteParams(1, 1);
  const auto file = Write(src, wp);
  ASSERT_EQ(wp.ColorMapCount, 2);
  EXPECT_EQ(wp.ColorMap[0], dark);
  EXPECT_EQ(wp.ColorMap[1], light);
  // Palette in the file: blue, green, red, 0.
  EXPECT_EQ(file[54], dark.b);
  EXPECT_EQ(file[56], dark.r);
  EXPECT_EQ(file[58], light.b);
  // Read back, the two colours are the image's own again.
  TReadOutcome r;
  ReadBytes(file, r);
  EXPECT_EQ(r.Params.BitsPerSample, 1);
  ASSERT_EQ(r.Bitmap.PixelFormat(), pf24bit);
  EXPECT_TRUE(SamePixels(r.Bitmap, src));
}

TEST(BmpWrite, ManyColourImageIsDitheredToBlackAndWhite) {
  TBitmap src(16, 16, pf24bit);
  src.Fill(CreateRGB(128, 128, 128));  // grey 126, level 31 of 63
  TIOParamsVals wp = WriteParams(1, 1);
  TReadOutcome r;
  ReadBytes(Write(src, wp), r);
  ASSERT_EQ(r.Bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(wp.ColorMap[0], CreateRGB(0, 0, 0));
  int white = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) white += _GetPixelbw(r.Bitmap.ScanLine(y), x) ? 1 : 0;
  EXPECT_EQ(white, 4 * 31);  // thresholds 0..30 of each 8 x 8 cell lie below level 31
  // The matrix's first index is x: (0,0) has threshold 0 (white), (1,0) 48 (black), (0,1) 32 (black).
  EXPECT_TRUE(_GetPixelbw(r.Bitmap.ScanLine(0), 0));
  EXPECT_FALSE(_GetPixelbw(r.Bitmap.ScanLine(0), 1));
  EXPECT_FALSE(_GetPixelbw(r.Bitmap.ScanLine(1), 0));
  EXPECT_TRUE(_GetPixelbw(r.Bitmap.ScanLine(4), 0));  // threshold 2
}

// ---------------------------------------------------------------------------------------------
// File layout

TEST(BmpWrite, HeadersDescribeWhatWasWritten) {
  TBitmap src = Noise(5, 3, 9);
  TIOParamsVals wp = WriteParams(8, 3);
  wp.DpiX = 96;
  wp.DpiY = 300;
  const auto f = Write(src, wp);
  ASSERT_GE(f.size(), 54u);
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(U32At(f, 2), f.size());
  EXPECT_EQ(DataOffset(f), 54u);
  EXPECT_EQ(U32At(f, 14), 40u);
  EXPECT_EQ(U32At(f, 18), 5u);
  EXPECT_EQ(U32At(f, 22), 3u);
  EXPECT_EQ(U16At(f, 26), 1);
  EXPECT_EQ(U16At(f, 28), 24);
  EXPECT_EQ(U32At(f, 30), 0u);
  EXPECT_EQ(U32At(f, 34), 3u * 16);
  EXPECT_EQ(U32At(f, 38), 3780u);
  EXPECT_EQ(U32At(f, 42), 11811u);
  TReadOutcome r;
  ReadBytes(f, r);
  EXPECT_EQ(r.Params.DpiY, 300);
}

TEST(BmpWrite, CoreHeaderUsesThreeBytePaletteEntriesAndNoCompression) {
  TBitmap src = Swatches(9, 4, 16);
  TIOParamsVals wp = WriteParams(4, 1, ioBMP_BMOS2V1, ioBMP_RLE);
  const auto f = Write(src, wp);
  EXPECT_EQ(U32At(f, 14), 12u);
  EXPECT_EQ(U16At(f, 18), 9);
  EXPECT_EQ(U16At(f, 20), 4);
  EXPECT_EQ(U16At(f, 24), 4);
  EXPECT_EQ(DataOffset(f), 14u + 12 + 16 * 3);
  EXPECT_EQ(f.size(), DataOffset(f) + 4u * 8);  // 9 pixels at 4 bits: 5 bytes padded to 8
}

TEST(BmpWrite, RleOutputEndsWithEndOfBitmapAndSplitsLongLiterals) {
  // 300 pixels, no two neighbours alike: literal stretches of 255 and 45 pixels.
  TBitmap src(300, 1, pf24bit);
  TRGB* row = reinterpret_cast<TRGB*>(src.ScanLine(0));
  for (int x = 0; x < 300; ++x) row[x] = Swatch(x % 16);
  TIOParamsVals wp = WriteParams(4, 1, ioBMP_BM3, ioBMP_RLE);
  const auto f = Write(src, wp);
  EXPECT_EQ(U32At(f, 30), 2u);  // RLE4
  const size_t p = DataOffset(f);
  ASSERT_GE(f.size(), p + 2 + 128 + 2 + 24 + 4);
  EXPECT_EQ(f[p], 0);
  EXPECT_EQ(f[p + 1], 255);
  const size_t q = p + 2 + 128;  // 255 nibbles fill 128 bytes, already even
  EXPECT_EQ(f[q], 0);
  EXPECT_EQ(f[q + 1], 45);
  const size_t e = q + 2 + 23 + 1;  // 45 nibbles in 23 bytes, one padding byte
  EXPECT_EQ(f[e], 0);
  EXPECT_EQ(f[e + 1], 0);
  EXPECT_EQ(f[e + 2], 0);
  EXPECT_EQ(f[e + 3], 1);
  EXPECT_EQ(f.size(), e + 4);
  EXPECT_EQ(U32At(f, 34), f.size() - p);
}

TEST(BmpWrite, RleShortStretchesAndRunsUseTheirCompactForms) {
  // Row of 8-bit indices: a, b (two-pixel literal), then a run of 4 c.
  TBitmap src(6, 1, pf24bit);
  TRGB* row = reinterpret_cast<TRGB*>(src.ScanLine(0));
  row[0] = Swatch(1);
  row[1] = Swatch(5);
  for (int x = 2; x < 6; ++x) row[x] = Swatch(9);
  TIOParamsVals wp = WriteParams(8, 1, ioBMP_BM3, ioBMP_RLE);
  const auto f = Write(src, wp);
  const size_t p = DataOffset(f);
  ASSERT_EQ(f.size(), p + 10);
  EXPECT_EQ(f[p], 1);
  EXPECT_EQ(f[p + 2], 1);
  EXPECT_NE(f[p + 1], f[p + 3]);
  EXPECT_EQ(f[p + 4], 4);
  const std::vector<uint8_t> tail(f.end() - 4, f.end());
  EXPECT_EQ(tail, (std::vector<uint8_t>{0, 0, 0, 1}));
}

TEST(BmpWrite, StartsAtTheStreamPositionAndPatchesRelativeOffsets) {
  TBitmap src = Noise(3, 2, 4);
  TMemoryStream s;
  s.WriteBuffer("PREFIX", 6);
  TIOParamsVals wp = WriteParams(8, 3);
  BMPWriteStream(s, src, wp, nullpr);
  EXPECT_EQ(s.Position(), s.Size());
  s.SetPosition(6);
  TBitmap dst;
  TIOParamsVals rp;
  TAbortFlag pr;
  BMPReadStream(s, dst, 0, false, pr, rp);
  EXPECT_FALSE(pr.Aborting);
  EXPECT_TRUE(SameImage(src, dst));
}

TEST(BmpWrite, EmptyBitmapWritesNothingAndAborts) {
  TBitmap empty;
  TIOParamsVals wp;
  bool aborting = false;
  EXPECT_TRUE(Write(empty, wp, &aborting).empty());
  EXPECT_TRUE(aborting);
}

// ---------------------------------------------------------------------------------------------
// Independent reader

TEST(BmpWrite, OurFilesDecodeTheSameInAnIndependentReader) {
  VEXA_REQUIRE_REFERENCE_DECODER();
  struct TCase {
    int Bps, Spp;
    TIOBMPVersion Version;
    TIOBMPCompression Compression;
    bool OneBitSource;
  };
  const TCase cases[] = {{8, 3, ioBMP_BM3, ioBMP_UNCOMPRESSED, false}, {8, 3, ioBMP_BMOS2V1, ioBMP_UNCOMPRESSED, false},
                         {8, 1, ioBMP_BM3, ioBMP_UNCOMPRESSED, false}, {8, 1, ioBMP_BM3, ioBMP_RLE, false},
                         {4, 1, ioBMP_BM3, ioBMP_UNCOMPRESSED, false}, {4, 1, ioBMP_BM3, ioBMP_RLE, false},
                         {4, 1, ioBMP_BMOS2V1, ioBMP_UNCOMPRESSED, false}, {1, 1, ioBMP_BM3, ioBMP_UNCOMPRESSED, true},
                         {1, 1, ioBMP_BM3, ioBMP_UNCOMPRESSED, false}};
  const std::string path = TempPath("written.bmp");
  for (const TCase& c : cases) {
    TBitmap src = c.Bps == 4 ? Swatches(37, 11, 16) : Noise(37, 11, 77);
    if (c.OneBitSource) src.SetPixelFormat(pf1bit);
    TIOParamsVals wp = WriteParams(c.Bps, c.Spp, c.Version, c.Compression);
    const auto f = Write(src, wp);
    WriteFileBytes(path, f);
    TReadOutcome ours;
    ReadBytes(f, ours);
    TRefImage ref;
    ASSERT_TRUE(PillowDecode(path, ref)) << "Pillow refused " << c.Bps << "-bit version " << c.Version;
    ASSERT_EQ(ref.Width, 37);
    ASSERT_EQ(ref.Height, 11);
    EXPECT_EQ(MaxDifference(PaletteRgb(ours.Bitmap, ours.Params.ColorMap), ref.Rgb), 0)
        << c.Bps << "-bit, version " << c.Version << ", compression " << c.Compression;
  }
  std::remove(path.c_str());
}

// A file written band by band, bands in any order, is the file written whole;
// grey bands become 8-bit grey-ramp files.
TEST(BmpBandWriter, BandsInAnyOrderMakeTheFileOfTheWholeImage) {
  for (int bits : {24, 8, 1}) {
    TBitmap src = Noise(13, 11, static_cast<uint32_t>(bits));
    if (bits == 1) src.SetPixelFormat(pf1bit);
    if (bits == 8)
      for (int y = 0; y < src.Height(); ++y)
        for (int x = 0; x < src.Width(); ++x) {
          const uint8_t v = src.ScanLine(y)[3 * x];
          src.SetPixel(x, y, CreateRGB(v, v, v));
        }
    TMemoryStream banded;
    TBMPBandWriter writer(banded, 13, 11, bits, 150, 75);
    for (auto [y, rows] : {std::pair{8, 3}, std::pair{0, 5}, std::pair{5, 3}}) {
      TBitmap band(13, rows, src.PixelFormat());
      for (int r = 0; r < rows; ++r) std::memcpy(band.ScanLine(r), src.ScanLine(y + r), static_cast<size_t>(band.RowLen()));
      writer.WriteBand(y, band);
    }
    writer.Finish();
    EXPECT_EQ(banded.Position(), banded.Size());
    TReadOutcome r;
    ReadBytes(banded.Data(), r);
    ASSERT_FALSE(r.Aborting) << bits;
    EXPECT_TRUE(SameImage(src, r.Bitmap)) << bits;
    EXPECT_EQ(r.Params.DpiY, 75);
    if (bits == 8) {
      EXPECT_EQ(r.Params.BitsPerSample, 8);
      EXPECT_EQ(r.Params.SamplesPerPixel, 1);
      continue;
    }
    TIOParamsVals wp = WriteParams(bits == 1 ? 1 : 8, bits == 1 ? 1 : 3);
    wp.DpiX = 150, wp.DpiY = 75;
    EXPECT_EQ(banded.Data(), Write(src, wp)) << bits;
  }
  TMemoryStream s;
  TBMPBandWriter writer(s, 4, 4, 24, 72, 72);
  EXPECT_THROW(writer.WriteBand(2, TBitmap(4, 3, pf24bit)), std::out_of_range);
  EXPECT_THROW(writer.WriteBand(0, TBitmap(5, 1, pf24bit)), std::out_of_range);
  EXPECT_THROW(TBMPBandWriter(s, 0, 4, 24, 72, 72), std::invalid_argument);
}
