#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>

#include "bmp_testutil.h"
#include "support/read_harness.h"
#include "vexa/core/bitmap.h"

using namespace vexa;
using namespace bmptest;

namespace {

const TReadFormat kBmp = [] {
  TReadFormat f;
  f.Name = "BMP";
  f.Read = [](const std::string& path, int) {
    TReadOutcome r;
    ReadBytes(ReadFileBytes(path), r);
    return r;
  };
  f.Align = [](const TReadOutcome& ours, TRefImage&, std::vector<uint8_t>& rgb, int& tolerance) {
    rgb = PaletteRgb(ours.Bitmap, ours.Params.ColorMap);
    // 16-bit fields are widened by shifting, not by scaling up to 255: allow the lost low bits.
    if (ours.Params.BitsPerSample == 5) tolerance = 15;
  };
  // Pixel data we deliberately do not decode (2-bit, embedded JPEG/PNG, alpha bit-field and OS/2
  // 24-bit RLE compression, run-length data stored top-down).
  f.MustAbort = {"pal2.bmp",      "pal2color.bmp",  "rgb24jpeg.bmp", "rgb24png.bmp",
                 "rgba32abf.bmp", "rgb24rle24.bmp", "rletopdown.bmp"};
  // Run-length files that leave pixels unwritten: readers disagree on what shows there. pal4rle.bmp
  // is checked against its uncompressed twin instead (Pillow 9 misreads RLE4 literal runs).
  f.SizeOnly = {"pal4rletrns.bmp", "pal8rletrns.bmp", "pal4rlecut.bmp", "rle_overflow.bmp", "badrle.bmp", "pal4rle.bmp"};
  // Layouts Pillow 9 does not read: bit fields other than its few known masks, odd palette sizes.
  f.ReferenceRefuses = {"rgb32bf.bmp",        "pal8os2v2-16.bmp",       "pal8oversizepal.bmp", "rgb16-231.bmp",
                        "rgb32-111110.bmp",   "rgb32h52.bmp",           "rgba16-4444.bmp",     "rgba32.bmp",
                        "rgba32h56.bmp",      "V3_A1_R5_G5_B5.bmp",     "V3_A4_R4_G4_B4.bmp",  "V3_R5_G6_B5.bmp",
                        "V3_X4_R4_G4_B4.bmp", "V3_X8_R8_G8_B8.bmp",     "badpalettesize.bmp",  "rgb16-880.bmp",
                        "rgba16-1924.bmp",    "rgba32-61754.bmp",       "V3_A1_R5_G5_B5_Top_Down.bmp",
                        "V3_A4_R4_G4_B4_Top_Down.bmp", "V3_R5_G6_B5_Top_Down.bmp", "V3_X4_R4_G4_B4_Top_Down.bmp",
                        "V3_X8_R8_G8_B8_Top_Down.bmp"};
  return f;
}();

std::vector<TReadCase> ValidBmpFiles() {
  return FolderCases(kBmp, {"bmp/bmpsuite/g", "bmp/bmpsuite/q", "bmp/image-rs", "bmp/image-rs/lenient", "bmp/libtiff",
                            "bmp/zigimg"},
                     {".bmp"});
}

std::vector<std::string> BadBmpFiles() {
  std::vector<std::string> files = DataFiles("bmp/bad/bmpsuite");
  for (const std::string& f : DataFiles("bmp/bad/image-rs")) files.push_back(f);
  return files;
}

std::string TestName(const testing::TestParamInfo<std::string>& info) {
  std::string n = info.param;
  for (char& c : n)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Public suites against an independent decoder

VEXA_READ_SUITE(BmpRead, ValidBmpFiles());

class BmpBadFile : public testing::TestWithParam<std::string> {};

// Damaged headers and data: either refused with Aborting, or (where the layout still tells how to read
// it: wrong file size, planes, density, header size, palette size, out-of-range indices and runs)
// recovered into a bitmap of the declared size.
TEST_P(BmpBadFile, FailsCleanlyOrRecovers) {
  const std::string name = std::filesystem::path(GetParam()).filename().string();
  TReadOutcome r;
  ReadBytes(ReadFileBytes(TestData(GetParam())), r);
  static const std::set<std::string> mustAbort = {
      "badbitcount.bmp", "badwidth.bmp", "reallybig.bmp", "rletopdown.bmp", "shortfile.bmp", "Bad_badbitcount.bmp",
      "Bad_clrsUsed.bmp", "Bad_height.bmp", "Bad_reallybig.bmp", "Bad_shortfile.bmp", "Bad_width.bmp",
      // 2554 x 18803 pixels of run-length data in 133 bytes: truncated.
      "Bad_unusual_extend_buffer_usage.bmp"};
  if (mustAbort.count(name)) {
    EXPECT_TRUE(r.Aborting);
  } else {
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.Width(), r.Params.Width);
    EXPECT_EQ(r.Bitmap.Height(), r.Params.Height);
  }
}

INSTANTIATE_TEST_SUITE_P(BmpMalformed, BmpBadFile, testing::ValuesIn(BadBmpFiles()), TestName);

// ---------------------------------------------------------------------------------------------
// Reading: layouts and parameters

TEST(BmpRead, TopDownFilesMatchTheirBottomUpTwins) {
  for (const char* base : {"Info_1_Bit", "Info_4_Bit", "Info_8_Bit", "Info_R8_G8_B8", "Info_A8_R8_G8_B8",
                           "Info_X1_R5_G5_B5", "V3_R5_G6_B5", "V3_X8_R8_G8_B8"}) {
    const std::string up = TestData(std::string("bmp/image-rs/") + base + ".bmp");
    const std::string down = TestData(std::string("bmp/image-rs/") + base + "_Top_Down.bmp");
    if (!std::filesystem::exists(up) || !std::filesystem::exists(down)) GTEST_SKIP() << "missing " << base;
    TReadOutcome a, b;
    ReadBytes(ReadFileBytes(up), a);
    ReadBytes(ReadFileBytes(down), b);
    EXPECT_FALSE(a.Aborting || b.Aborting) << base;
    EXPECT_TRUE(SameImage(a.Bitmap, b.Bitmap)) << base;
  }
}

TEST(BmpRead, RunLengthFilesMatchTheirUncompressedTwins) {
  for (const auto& [rle, plain] : {std::pair{"pal4rle.bmp", "pal4.bmp"}, std::pair{"pal8rle.bmp", "pal8.bmp"}}) {
    const std::string a = TestData(std::string("bmp/bmpsuite/g/") + rle), b = TestData(std::string("bmp/bmpsuite/g/") + plain);
    if (!std::filesystem::exists(a) || !std::filesystem::exists(b)) GTEST_SKIP() << "missing " << rle;
    TReadOutcome ra, rb;
    ReadBytes(ReadFileBytes(a), ra);
    ReadBytes(ReadFileBytes(b), rb);
    EXPECT_FALSE(ra.Aborting || rb.Aborting) << rle;
    EXPECT_TRUE(SameImage(ra.Bitmap, rb.Bitmap)) << rle;
  }
}

// Same pictures stored with other masks; the tolerance is what a field narrower than 8 bits cannot hold.
TEST(BmpRead, BitFieldFilesMatchTheirTwentyFourBitTwins) {
  struct TTwin {
    const char* File;
    const char* Twin;
    int Tolerance;
  };
  const TTwin twins[] = {{"image-rs/Info_X1_R5_G5_B5.bmp", "image-rs/Info_R8_G8_B8.bmp", 7},
                         {"image-rs/V3_A1_R5_G5_B5.bmp", "image-rs/Info_R8_G8_B8.bmp", 7},
                         {"image-rs/V3_R5_G6_B5.bmp", "image-rs/Info_R8_G8_B8.bmp", 7},
                         {"image-rs/V3_A4_R4_G4_B4.bmp", "image-rs/Info_R8_G8_B8.bmp", 15},
                         {"image-rs/V3_X4_R4_G4_B4.bmp", "image-rs/Info_R8_G8_B8.bmp", 15},
                         {"image-rs/V3_X8_R8_G8_B8.bmp", "image-rs/Info_R8_G8_B8.bmp", 0},
                         {"image-rs/Info_A8_R8_G8_B8.bmp", "image-rs/Info_R8_G8_B8.bmp", 0},
                         {"bmpsuite/g/rgb32bf.bmp", "bmpsuite/g/rgb24.bmp", 0},
                         {"bmpsuite/q/rgb32bf-xbgr.bmp", "bmpsuite/g/rgb24.bmp", 0},
                         {"bmpsuite/q/rgb32h52.bmp", "bmpsuite/g/rgb24.bmp", 0},
                         {"bmpsuite/q/rgb32-111110.bmp", "bmpsuite/g/rgb24.bmp", 1}};
  for (const TTwin& t : twins) {
    const std::string a = TestData(std::string("bmp/") + t.File), b = TestData(std::string("bmp/") + t.Twin);
    if (!std::filesystem::exists(a) || !std::filesystem::exists(b)) GTEST_SKIP() << "missing " << t.File;
    TReadOutcome ra, rb;
    ReadBytes(ReadFileBytes(a), ra);
    ReadBytes(ReadFileBytes(b), rb);
    ASSERT_FALSE(ra.Aborting || rb.Aborting) << t.File;
    ASSERT_EQ(ra.Bitmap.Width(), rb.Bitmap.Width()) << t.File;
    ASSERT_EQ(ra.Bitmap.Height(), rb.Bitmap.Height()) << t.File;
    EXPECT_LE(MaxDifference(ra.Bitmap, rb.Bitmap), t.Tolerance) << t.File;
  }
}

TEST(BmpRead, BmpsuiteParametersFollowTheHeaders) {
  const std::string os2 = TestData("bmp/bmpsuite/g/pal8os2.bmp"), rle4 = TestData("bmp/bmpsuite/g/pal4rle.bmp"),
                    v5 = TestData("bmp/bmpsuite/g/pal8v5.bmp"), os2v2 = TestData("bmp/bmpsuite/q/pal8os2v2.bmp");
  if (!std::filesystem::exists(os2)) GTEST_SKIP();
  TReadOutcome r;
  ReadBytes(ReadFileBytes(os2), r);
  EXPECT_EQ(r.Params.BMP_Version, ioBMP_BMOS2V1);
  EXPECT_EQ(r.Params.ColorMapCount, 256);
  EXPECT_EQ(r.Params.BitsPerSample, 8);
  EXPECT_EQ(r.Params.SamplesPerPixel, 1);
  TReadOutcome r4;
  ReadBytes(ReadFileBytes(rle4), r4);
  EXPECT_EQ(r4.Params.BMP_Compression, ioBMP_RLE);
  EXPECT_EQ(r4.Params.BitsPerSample, 4);
  TReadOutcome r5;
  ReadBytes(ReadFileBytes(v5), r5);
  EXPECT_EQ(r5.Params.BMP_Version, ioBMP_BM);
  TReadOutcome r6;
  ReadBytes(ReadFileBytes(os2v2), r6);
  EXPECT_EQ(r6.Params.BMP_Version, ioBMP_BMOS2V2);
}

TEST(BmpRead, ResolutionComesFromPixelsPerMetre) {
  TReadOutcome r;
  ReadBytes(MakeBmp(1, 1, 24, 0, {}, {1, 2, 3, 0}, {}, 3780), r);
  EXPECT_EQ(r.Params.DpiX, 96);
  EXPECT_EQ(r.Params.DpiY, 96);
  TReadOutcome z;
  ReadBytes(MakeBmp(1, 1, 24, 0, {}, {1, 2, 3, 0}, {}, 11811), z);
  EXPECT_EQ(z.Params.DpiX, 300);
}

TEST(BmpRead, ThreePixelFourBitRowDecodesAllPixels) {
  const std::vector<TRGB> pal = {{0, 0, 0}, {0, 0, 255}, {0, 255, 0}, {255, 0, 0}};
  TReadOutcome r;
  ReadBytes(MakeBmp(3, 1, 4, 0, pal, {0x12, 0x30, 0, 0}), r);
  ASSERT_FALSE(r.Aborting);
  ASSERT_EQ(r.Bitmap.Width(), 3);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), pal[1]);
  EXPECT_EQ(r.Bitmap.GetPixel(1, 0), pal[2]);
  EXPECT_EQ(r.Bitmap.GetPixel(2, 0), pal[3]);
}

TEST(BmpRead, SixteenBitBitFieldsDecodeFiveSixFive) {
  // Pixels: pure red, pure green, pure blue, 0x0821 (lowest bit of each field).
  std::vector<uint8_t> data = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x21, 0x08};
  TReadOutcome r;
  ReadBytes(MakeBmp(4, 1, 16, 3, {}, data, {0xF800, 0x07E0, 0x001F}), r);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(248, 0, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(1, 0), CreateRGB(0, 252, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(2, 0), CreateRGB(0, 0, 248));
  EXPECT_EQ(r.Bitmap.GetPixel(3, 0), CreateRGB(8, 4, 8));
  // Without bit fields 16-bit data is 5-5-5.
  TReadOutcome d;
  ReadBytes(MakeBmp(1, 1, 16, 0, {}, {0x00, 0x7C, 0, 0}), d);
  EXPECT_EQ(d.Bitmap.GetPixel(0, 0), CreateRGB(248, 0, 0));
}

TEST(BmpRead, ThirtyTwoBitBitFieldsUseTheirMasks) {
  // Masks red 0x000000FF, green 0x0000FF00, blue 0x00FF0000: the reverse of the default order.
  std::vector<uint8_t> data = {10, 20, 30, 99};
  TReadOutcome r;
  ReadBytes(MakeBmp(1, 1, 32, 3, {}, data, {0x000000FF, 0x0000FF00, 0x00FF0000}), r);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(10, 20, 30));
  TReadOutcome plain;
  ReadBytes(MakeBmp(1, 1, 32, 0, {}, data), plain);
  EXPECT_EQ(plain.Bitmap.GetPixel(0, 0), CreateRGB(30, 20, 10));
}

TEST(BmpRead, OneBitWhiteBlackPaletteIsInvertedOthersAreNot) {
  // One row: bits 1,0 -> with palette (white, black) the pixels are black, white.
  TReadOutcome wb;
  ReadBytes(MakeBmp(2, 1, 1, 0, {{255, 255, 255}, {0, 0, 0}}, {0x80, 0, 0, 0}), wb);
  ASSERT_EQ(wb.Bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(wb.Bitmap.GetPixel(0, 0), CreateRGB(0, 0, 0));
  EXPECT_EQ(wb.Bitmap.GetPixel(1, 0), CreateRGB(255, 255, 255));
  TReadOutcome bw;
  ReadBytes(MakeBmp(2, 1, 1, 0, {{0, 0, 0}, {255, 255, 255}}, {0x80, 0, 0, 0}), bw);
  EXPECT_EQ(bw.Bitmap.GetPixel(0, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(bw.Bitmap.GetPixel(1, 0), CreateRGB(0, 0, 0));
}

TEST(BmpRead, PreviewFillsParametersAndLeavesTheBitmap) {
  TReadOutcome r;
  r.Bitmap.Allocate(7, 5, pf24bit);
  ReadBytes(MakeBmp(3, 2, 8, 0, {{1, 2, 3}}, std::vector<uint8_t>(8, 0)), r, TKind::Bmp, true);
  EXPECT_FALSE(r.Aborting);
  EXPECT_EQ(r.Params.Width, 3);
  EXPECT_EQ(r.Params.Height, 2);
  EXPECT_EQ(r.Params.BitsPerSample, 8);
  EXPECT_EQ(r.Params.SamplesPerPixel, 1);
  EXPECT_EQ(r.Bitmap.Width(), 7);
}

TEST(BmpRead, ProgressRunsAndAbortingStopsTheDecode) {
  TBitmap src = Noise(10, 50, 1);
  TMemoryStream s;
  TIOParamsVals wp;
  BMPWriteStream(s, src, wp, nullpr);
  s.SetPosition(0);
  TAbortFlag pr;
  pr.Watch(50);
  TBitmap dst;
  TIOParamsVals rp;
  BMPReadStream(s, dst, s.Size(), false, pr, rp);
  ASSERT_FALSE(pr.Seen.empty());
  EXPECT_EQ(pr.Seen.front(), 0);
  EXPECT_EQ(pr.Seen.back(), 50);
  // Rows below the stop point were read (bottom-up), rows above stay black.
  EXPECT_EQ(dst.GetPixel(3, 49), src.GetPixel(3, 49));
  EXPECT_EQ(dst.GetPixel(3, 0), CreateRGB(0, 0, 0));
}

// ---------------------------------------------------------------------------------------------
// Run-length decoding

TEST(BmpRLE, Rle8RunsLiteralsAndDeltaLandWhereTheyShould) {
  const std::vector<TRGB> pal = {{0, 0, 0}, {0, 0, 200}, {0, 200, 0}, {200, 0, 0}};
  // 6 x 3 image. Bottom row: run of 2 x index1, literal 3 (2,3,1) + pad, EOL.
  // Then delta (1 right, 1 up) from column 0 of row 1: lands on column 1 of row 0; run 1 x index3; EOB.
  std::vector<uint8_t> data = {2, 1, 0, 3, 2, 3, 1, 0, 0, 0, 0, 2, 1, 1, 1, 3, 0, 1};
  TReadOutcome r;
  ReadBytes(MakeBmp(6, 3, 8, 1, pal, data), r);
  ASSERT_FALSE(r.Aborting);
  const int bottom = 2;
  EXPECT_EQ(r.Bitmap.GetPixel(0, bottom), pal[1]);
  EXPECT_EQ(r.Bitmap.GetPixel(1, bottom), pal[1]);
  EXPECT_EQ(r.Bitmap.GetPixel(2, bottom), pal[2]);
  EXPECT_EQ(r.Bitmap.GetPixel(3, bottom), pal[3]);
  EXPECT_EQ(r.Bitmap.GetPixel(4, bottom), pal[1]);
  EXPECT_EQ(r.Bitmap.GetPixel(5, bottom), CreateRGB(0, 0, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(1, 0), pal[3]);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(0, 0, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(1, 1), CreateRGB(0, 0, 0));
}

TEST(BmpRLE, Rle4AlternatesNibblesAndReadsOddLiterals) {
  std::vector<TRGB> pal(16);
  for (int i = 0; i < 16; ++i) pal[i] = CreateRGB(static_cast<uint8_t>(i * 16), 0, 0);
  // Run of 3 from 0x12 -> 1,2,1; literal of 3 nibbles 0x45 0x60 -> 4,5,6 (2 data bytes, no pad).
  std::vector<uint8_t> data = {3, 0x12, 0, 3, 0x45, 0x60, 0, 1};
  TReadOutcome r;
  ReadBytes(MakeBmp(6, 1, 4, 2, pal, data), r);
  ASSERT_FALSE(r.Aborting);
  const int expect[6] = {1, 2, 1, 4, 5, 6};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(r.Bitmap.GetPixel(x, 0), pal[expect[x]]) << x;
}

TEST(BmpRLE, PixelsOutsideTheBitmapAreDroppedAndDataEndStopsDecoding) {
  const std::vector<TRGB> pal = {{0, 0, 0}, {9, 9, 9}};
  // A 255-pixel run on a 2-pixel row, a delta far off the image, then data ends with no end code.
  std::vector<uint8_t> data = {255, 1, 0, 2, 200, 200, 5, 1};
  TReadOutcome r;
  ReadBytes(MakeBmp(2, 2, 8, 1, pal, data), r);
  EXPECT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 1), pal[1]);
  EXPECT_EQ(r.Bitmap.GetPixel(1, 1), pal[1]);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(0, 0, 0));
}

TEST(BmpRLE, CompressedDataOfOtherDepthsIsRefusedOnAZeroedBitmap) {
  TReadOutcome r;
  ReadBytes(MakeBmp(2, 2, 24, 1, {}, {2, 1, 0, 1}), r);
  EXPECT_TRUE(r.Aborting);
  ASSERT_EQ(r.Bitmap.Width(), 2);
  EXPECT_EQ(r.Bitmap.GetPixel(1, 1), CreateRGB(0, 0, 0));
}

// ---------------------------------------------------------------------------------------------
// Hostile input

TEST(BmpMalformed, HugeDeclaredSizeAbortsWithoutAllocating) {
  TReadOutcome r;
  ReadBytes(MakeBmp(100000, 100000, 24, 0, {}, {0, 0, 0, 0}), r);
  EXPECT_TRUE(r.Aborting);
  EXPECT_TRUE(r.Bitmap.Empty());
  TReadOutcome rle;
  ReadBytes(MakeBmp(100000, 100000, 8, 1, {{1, 1, 1}}, {0, 1}), rle);
  EXPECT_TRUE(rle.Aborting);
  EXPECT_TRUE(rle.Bitmap.Empty());
}

TEST(BmpMalformed, TruncationKeepsTheRowsReadAndAborts) {
  TBitmap src = Noise(8, 8, 7);
  TMemoryStream s;
  TIOParamsVals wp;
  BMPWriteStream(s, src, wp, nullpr);
  std::vector<uint8_t> bytes(s.Memory(), s.Memory() + s.Size() - 3 * 24);
  TReadOutcome r;
  ReadBytes(bytes, r);
  EXPECT_TRUE(r.Aborting);
  ASSERT_EQ(r.Bitmap.Height(), 8);
  EXPECT_EQ(r.Bitmap.GetPixel(5, 7), src.GetPixel(5, 7));
  EXPECT_EQ(r.Bitmap.GetPixel(5, 0), CreateRGB(0, 0, 0));
}

// Run-length files of the public suite cut short: the rows decoded stay, the reason is "truncated";
// a file that lacks only its end codes is complete.
TEST(BmpMalformed, CutRunLengthDataIsReportedAsTruncated) {
  for (const char* name : {"bmp/bmpsuite/g/pal8rle.bmp", "bmp/bmpsuite/g/pal4rle.bmp"}) {
    SCOPED_TRACE(name);
    const std::string path = TestData(name);
    VEXA_REQUIRE_FILE(path);
    const std::vector<uint8_t> whole = ReadFileBytes(path);
    auto read = [](const std::vector<uint8_t>& bytes, TVXFailure& why) {
      TReadOutcome r;
      TMemoryStream s(bytes.data(), bytes.size());
      TProgressRec pr;
      pr.Aborting = &r.Aborting;
      pr.Failure = &why;
      BMPReadStream(s, r.Bitmap, s.Size(), false, pr, r.Params);
      return r;
    };
    TVXFailure why;
    const TReadOutcome full = read(whole, why);
    ASSERT_FALSE(full.Aborting);
    ASSERT_EQ(whole[whole.size() - 2], 0);
    ASSERT_EQ(whole[whole.size() - 1], 1);
    // Without the end-of-bitmap code.
    EXPECT_FALSE(read(std::vector<uint8_t>(whole.begin(), whole.end() - 2), why).Aborting);
    // Half the data.
    const size_t offset = U32At(whole, 10);
    const std::vector<uint8_t> half(whole.begin(), whole.begin() + static_cast<long>((offset + whole.size()) / 2));
    const TReadOutcome cut = read(half, why);
    EXPECT_TRUE(cut.Aborting);
    EXPECT_EQ(why.Kind, fkTruncated) << why.Describe();
    const int h = full.Bitmap.Height();
    EXPECT_EQ(cut.Bitmap.GetPixel(3, h - 1), full.Bitmap.GetPixel(3, h - 1));
    // The data offset past the end of the file.
    std::vector<uint8_t> far = whole;
    const uint32_t past = static_cast<uint32_t>(whole.size() + 10);
    std::memcpy(&far[10], &past, 4);
    why.Clear();
    EXPECT_TRUE(read(far, why).Aborting);
    EXPECT_EQ(why.Kind, fkTruncated) << why.Describe();
  }
}

TEST(BmpMalformed, HeadersThatCannotDescribeAnImageAbort) {
  for (const auto& bytes : {std::vector<uint8_t>{'B', 'M'}, std::vector<uint8_t>{'P', 'K', 0, 0},
                            MakeBmp(0, 4, 24, 0, {}, {}), MakeBmp(-4, 4, 24, 0, {}, {}),
                            MakeBmp(4, INT32_MIN, 24, 0, {}, {}), MakeBmp(1, 1, 7, 0, {}, {0, 0, 0, 0})}) {
    TReadOutcome r;
    ReadBytes(bytes, r);
    EXPECT_TRUE(r.Aborting);
    EXPECT_TRUE(r.Bitmap.Empty());
  }
}

TEST(BmpMalformed, OutOfRangeIndicesReadAsBlack) {
  TReadOutcome r;
  ReadBytes(MakeBmp(2, 1, 8, 0, {{0, 0, 200}}, {0, 77, 0, 0}), r);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(200, 0, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(1, 0), CreateRGB(0, 0, 0));
}

TEST(BmpRLE, EndlessRunsAndDeltasStayBounded) {
  // Millions of runs on one line and of right-moving deltas: no counter may overflow.
  std::vector<uint8_t> data;
  for (int i = 0; i < 9000000; ++i) data.insert(data.end(), {255, 1});
  for (int i = 0; i < 9000000; ++i) data.insert(data.end(), {0, 2, 255, 0});
  data.insert(data.end(), {0, 0, 1, 1, 0, 1});
  TReadOutcome r;
  ReadBytes(MakeBmp(4, 2, 8, 1, {{0, 0, 0}, {0, 0, 50}}, data), r);
  EXPECT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.GetPixel(3, 1), CreateRGB(50, 0, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(50, 0, 0));
}
