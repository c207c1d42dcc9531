#include <gtest/gtest.h>

#include <filesystem>

#include "bmp_testutil.h"
#include "support/read_harness.h"

using namespace vexa;
using namespace bmptest;

namespace {

struct TIconEntry {
  uint8_t Width, Height, Colors;
  uint16_t Planes, BitCount;  // hot spot X and Y for cursors
  std::vector<uint8_t> Image;
};

std::vector<uint8_t> MakeIconFile(uint16_t type, const std::vector<TIconEntry>& entries) {
  std::vector<uint8_t> d;
  Put16(d, 0);
  Put16(d, type);
  Put16(d, static_cast<uint32_t>(entries.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(entries.size());
  for (const auto& e : entries) {
    d.push_back(e.Width);
    d.push_back(e.Height);
    d.push_back(e.Colors);
    d.push_back(0);
    Put16(d, e.Planes);
    Put16(d, e.BitCount);
    Put32(d, static_cast<uint32_t>(e.Image.size()));
    Put32(d, offset);
    offset += static_cast<uint32_t>(e.Image.size());
  }
  for (const auto& e : entries) d.insert(d.end(), e.Image.begin(), e.Image.end());
  return d;
}

/// Info header (height doubled), palette padded to 2^bits entries, colour rows and mask rows; rows are
/// given bottom-up and already padded.
std::vector<uint8_t> MakeIconImage(int w, int h, int bits, std::vector<TRGB> pal,
                                   const std::vector<uint8_t>& colorRows, const std::vector<uint8_t>& maskRows,
                                   int32_t ppm = 0) {
  std::vector<uint8_t> d;
  Put32(d, 40);
  Put32(d, static_cast<uint32_t>(w));
  Put32(d, static_cast<uint32_t>(2 * h));
  Put16(d, 1);
  Put16(d, static_cast<uint32_t>(bits));
  Put32(d, 0);
  Put32(d, 0);
  Put32(d, static_cast<uint32_t>(ppm));
  Put32(d, static_cast<uint32_t>(ppm));
  Put32(d, 0);
  Put32(d, 0);
  if (bits <= 8) pal.resize(static_cast<size_t>(1) << bits);
  for (TRGB c : pal) {
    d.push_back(c.b);
    d.push_back(c.g);
    d.push_back(c.r);
    d.push_back(0);
  }
  d.insert(d.end(), colorRows.begin(), colorRows.end());
  d.insert(d.end(), maskRows.begin(), maskRows.end());
  return d;
}

// A 2 x 2 8-bit icon whose every pixel is palette entry `index`, none transparent.
std::vector<uint8_t> SolidIcon8(uint8_t index, const std::vector<TRGB>& pal) {
  return MakeIconImage(2, 2, 8, pal, {index, index, 0, 0, index, index, 0, 0}, std::vector<uint8_t>(8, 0));
}

std::vector<std::string> FilesIn(const char* dir) {
  std::vector<std::string> files;
  for (const std::string& f : DataFiles(dir, {}, true)) files.push_back(TestData(f));
  return files;
}

// Read over an unusual background: pixels our reader made transparent are left out of the comparison.
const TRGB kSentinel = CreateRGB(1, 2, 3);

const TReadFormat kIco = [] {
  TReadFormat f;
  f.Name = "ICO";
  f.Read = [](const std::string& path, int) {
    TReadOutcome r;
    r.Params.ICO_Background = kSentinel;
    ReadBytes(ReadFileBytes(path), r, TKind::Ico);
    return r;
  };
  f.Align = [](const TReadOutcome& ours, TRefImage& ref, std::vector<uint8_t>& rgb, int&) {
    int compared = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
      if (rgb[i] == kSentinel.r && rgb[i + 1] == kSentinel.g && rgb[i + 2] == kSentinel.b)
        std::copy(rgb.begin() + i, rgb.begin() + i + 3, ref.Rgb.begin() + i);
      else
        ++compared;
    }
    EXPECT_GT(compared, ours.Bitmap.Width() * ours.Bitmap.Height() / 4);
  };
  return f;
}();

}  // namespace

// ---------------------------------------------------------------------------------------------
// Detection

TEST(IcoDetect, IconsAndCursorsAreToldApartAndThePositionIsKept) {
  const auto icons = FilesIn("ico/image-rs"), cursors = FilesIn("cur/pillow");
  if (icons.empty() || cursors.empty()) GTEST_SKIP() << "test data missing";
  for (const auto& f : icons) {
    TMemoryStream s;
    s.LoadFromFile(f);
    s.SetPosition(0);
    EXPECT_TRUE(ICOTryStream(s)) << f;
    EXPECT_FALSE(CURTryStream(s)) << f;
    EXPECT_EQ(s.Position(), 0) << f;
  }
  for (const auto& f : cursors) {
    TMemoryStream s;
    s.LoadFromFile(f);
    EXPECT_TRUE(CURTryStream(s)) << f;
    EXPECT_FALSE(ICOTryStream(s)) << f;
  }
}

TEST(IcoDetect, RejectsShortStreamsEmptyDirectoriesAndBadEntries) {
  const auto good = MakeIconFile(1, {{2, 2, 0, 1, 8, SolidIcon8(0, {{1, 2, 3}})}});
  TMemoryStream ok(good.data(), good.size());
  ok.SetPosition(0);
  EXPECT_TRUE(ICOTryStream(ok));

  auto reservedSet = good;
  reservedSet[6 + 3] = 1;
  auto zeroSize = good;
  zeroSize[6 + 8] = zeroSize[6 + 9] = zeroSize[6 + 10] = zeroSize[6 + 11] = 0;
  auto offsetInsideDirectory = good;
  offsetInsideDirectory[6 + 12] = 10;
  auto noImages = good;
  noImages[4] = 0;
  const std::vector<uint8_t> tiny(good.begin(), good.begin() + 22);
  for (const auto& bytes : {reservedSet, zeroSize, offsetInsideDirectory, noImages, tiny}) {
    TMemoryStream s(bytes.data(), bytes.size());
    s.SetPosition(3);
    EXPECT_FALSE(ICOTryStream(s));
    EXPECT_EQ(s.Position(), 3);
  }
}

// ---------------------------------------------------------------------------------------------
// Reading icons

VEXA_READ_SUITE(IcoRead, (std::vector<TReadCase>{{&kIco, "ico/image-rs/smile.ico"},
                                                  {&kIco, "ico/pillow/hopper.ico"},
                                                  {&kIco, "ico/image-rs/bmp-24bpp-mask.ico"},
                                                  {&kIco, "ico/pillow/hopper_256x256.ico"}}));

TEST(IcoRead, ParametersDescribeTheChosenImage) {
  const std::string path = TestData("ico/image-rs/smile.ico");
  if (!std::filesystem::exists(path)) GTEST_SKIP();
  TReadOutcome r;
  r.Params.ICO_ImageIndex = 1;
  ReadBytes(ReadFileBytes(path), r, TKind::Ico);
  EXPECT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.Width(), 16);
  EXPECT_EQ(r.Params.Width, 16);
  EXPECT_EQ(r.Params.Height, 16);
  EXPECT_EQ(r.Params.BitsPerSample, 4);
  EXPECT_EQ(r.Params.SamplesPerPixel, 1);
  EXPECT_EQ(r.Params.ColorMapCount, 16);
}

TEST(IcoRead, ImageIndexChoosesTheEntry) {
  const std::vector<TRGB> pal = {{10, 0, 0}, {0, 20, 0}, {0, 0, 30}};
  const auto file = MakeIconFile(1, {{2, 2, 0, 1, 8, SolidIcon8(0, pal)},
                                     {2, 2, 0, 1, 8, SolidIcon8(1, pal)},
                                     {2, 2, 0, 1, 8, SolidIcon8(2, pal)}});
  for (int i = 0; i < 3; ++i) {
    TReadOutcome r;
    r.Params.ICO_ImageIndex = i;
    ReadBytes(file, r, TKind::Ico);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.GetPixel(1, 1), pal[i]) << i;
  }
}

TEST(IcoRead, IndexOutOfRangeDoesNothing) {
  const auto file = MakeIconFile(1, {{2, 2, 0, 1, 8, SolidIcon8(0, {{1, 2, 3}})}});
  for (int index : {-1, 1, 100}) {
    TReadOutcome r;
    r.Bitmap.Allocate(5, 5, pf24bit);
    r.Params.ICO_ImageIndex = index;
    r.Params.Width = 77;
    ReadBytes(file, r, TKind::Ico);
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.Width(), 5);
    EXPECT_EQ(r.Params.Width, 77);
  }
}

TEST(IcoRead, TransparentPixelsTakeTheBackground) {
  const std::vector<TRGB> pal = {{0, 0, 0}, {0, 0, 255}};
  // 2 x 2, 4 bits, all pixels index 1; mask: bottom-left pixel transparent.
  const auto image = MakeIconImage(2, 2, 4, pal, {0x11, 0, 0, 0, 0x11, 0, 0, 0}, {0x80, 0, 0, 0, 0, 0, 0, 0});
  TReadOutcome r;
  r.Params.ICO_Background = CreateRGB(7, 8, 9);
  ReadBytes(MakeIconFile(1, {{2, 2, 16, 1, 4, image}}), r, TKind::Ico);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 1), CreateRGB(7, 8, 9));
  EXPECT_EQ(r.Bitmap.GetPixel(1, 1), CreateRGB(255, 0, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(255, 0, 0));
}

TEST(IcoRead, OneBitTransparencyFlipsTowardsAWhiteBackground) {
  // 4 x 1: colour bits 0,1,0,1; mask bits 0,0,1,1.
  const auto image = MakeIconImage(4, 1, 1, {{0, 0, 0}, {255, 255, 255}}, {0x50, 0, 0, 0}, {0x30, 0, 0, 0});
  const auto file = MakeIconFile(1, {{4, 1, 2, 1, 1, image}});
  TReadOutcome white, black;
  ReadBytes(file, white, TKind::Ico);
  black.Params.ICO_Background = CreateRGB(0, 0, 0);
  ReadBytes(file, black, TKind::Ico);
  ASSERT_EQ(white.Bitmap.PixelFormat(), pf1bit);
  const uint8_t* w = white.Bitmap.ScanLine(0);
  const uint8_t* b = black.Bitmap.ScanLine(0);
  EXPECT_EQ(w[0] & 0xF0, 0x60);  // opaque 0,1 kept; transparent 0,1 become 1,0
  EXPECT_EQ(b[0] & 0xF0, 0x50);  // black background: transparent bits unchanged
}

TEST(IcoRead, SizeAndResolutionRules) {
  // Entry claims 3 x 3 but the header says 2 x 2: the header wins (both below 2048).
  auto image = SolidIcon8(1, {{0, 0, 0}, {5, 6, 7}});
  image[24] = 0x12;  // 4626 pixels per metre: 117.5 dpi, rounded to 118
  image[25] = 0x12;
  TReadOutcome r;
  ReadBytes(MakeIconFile(1, {{3, 3, 0, 1, 8, image}}), r, TKind::Ico);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.Width(), 2);
  EXPECT_EQ(r.Bitmap.Height(), 2);
  EXPECT_EQ(r.Params.DpiX, 118);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(7, 6, 5));
  // Entry size 0: the header's width and half height.
  TReadOutcome z;
  ReadBytes(MakeIconFile(1, {{0, 0, 0, 1, 8, SolidIcon8(1, {{0, 0, 0}, {5, 6, 7}})}}), z, TKind::Ico);
  EXPECT_EQ(z.Bitmap.Width(), 2);
  EXPECT_EQ(z.Bitmap.Height(), 2);
}

TEST(IcoRead, LongInfoHeaderIsSkippedBeforeThePixels) {
  const std::string ico = TestData("ico/image-rs/bmp_v5_with_icc.ico"), bmp = TestData("bmp/bmpsuite/g/rgb24.bmp");
  if (!std::filesystem::exists(ico) || !std::filesystem::exists(bmp)) GTEST_SKIP();
  TReadOutcome a, b;
  ReadBytes(ReadFileBytes(ico), a, TKind::Ico);
  ReadBytes(ReadFileBytes(bmp), b);
  ASSERT_FALSE(a.Aborting);
  EXPECT_TRUE(SameImage(a.Bitmap, b.Bitmap));
}

TEST(IcoRead, BitmapFileIsReadAsBmp) {
  const auto bmp = MakeBmp(2, 1, 24, 0, {}, {1, 2, 3, 4, 5, 6, 0, 0});
  TReadOutcome r;
  ReadBytes(bmp, r, TKind::Ico);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.GetPixel(1, 0), CreateRGB(6, 5, 4));
}

TEST(IcoRead, UndecodedDepthsGiveAZeroedBitmapAndAborting) {
  for (const char* f : {"ico/image-rs/bmp-32bpp-alpha.ico", "ico/pillow/python.ico", "ico/image-rs/png_rgb8.ico"}) {
    if (!std::filesystem::exists(TestData(f))) GTEST_SKIP() << "missing " << f;
    TReadOutcome r;
    ReadBytes(ReadFileBytes(TestData(f)), r, TKind::Ico);
    EXPECT_TRUE(r.Aborting) << f;
    for (int y = 0; y < r.Bitmap.Height(); ++y)
      for (int x = 0; x < r.Bitmap.Width(); ++x) ASSERT_EQ(r.Bitmap.GetPixel(x, y), CreateRGB(0, 0, 0)) << f;
  }
}

TEST(IcoRead, PreviewStopsAfterThePalette) {
  TReadOutcome r;
  ReadBytes(MakeIconFile(1, {{2, 2, 0, 1, 8, SolidIcon8(1, {{0, 0, 0}, {5, 6, 7}})}}), r, TKind::Ico, true);
  EXPECT_FALSE(r.Aborting);
  EXPECT_TRUE(r.Bitmap.Empty());
  EXPECT_EQ(r.Params.Width, 2);
  EXPECT_EQ(r.Params.ColorMapCount, 256);
}

// ---------------------------------------------------------------------------------------------
// Hostile icons

TEST(IcoMalformed, TruncatedImageKeepsTheRowsRead) {
  const std::vector<TRGB> pal = {{0, 0, 0}, {0, 0, 99}};
  std::vector<uint8_t> rows(4 * 4, 1);  // 4 x 4 8-bit, rows of 4 bytes
  auto file = MakeIconFile(1, {{4, 4, 0, 1, 8, MakeIconImage(4, 4, 8, pal, rows, std::vector<uint8_t>(16, 0))}});
  file.resize(file.size() - 16 - 8);  // no mask, half the colour rows
  TReadOutcome r;
  ReadBytes(file, r, TKind::Ico);
  EXPECT_TRUE(r.Aborting);
  ASSERT_EQ(r.Bitmap.Height(), 4);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 3), CreateRGB(99, 0, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(0, 0, 0));
}

TEST(IcoMalformed, HugeHeaderSizeAbortsWithoutAllocating) {
  auto image = SolidIcon8(1, {{0, 0, 0}});
  image[4] = image[5] = image[6] = 0x7F;  // width 0x007F7F7F
  image[8] = image[9] = image[10] = 0x7F;
  TReadOutcome r;
  ReadBytes(MakeIconFile(1, {{0, 0, 0, 1, 8, image}}), r, TKind::Ico);
  EXPECT_TRUE(r.Aborting);
  EXPECT_TRUE(r.Bitmap.Empty());
}

TEST(IcoMalformed, PublicBadFilesDoNotCrash) {
  for (const auto& f : FilesIn("ico/bad")) {
    TReadOutcome r;
    ReadBytes(ReadFileBytes(f), r, TKind::Ico);
    // Both are readable: the damage is in a size field the reader does not trust.
    EXPECT_FALSE(r.Aborting) << f;
    EXPECT_FALSE(r.Bitmap.Empty()) << f;
  }
}

TEST(IcoMalformed, NoUsableBitCountAborts) {
  auto image = SolidIcon8(1, {{0, 0, 0}});
  image[14] = image[15] = 0;
  TReadOutcome r;
  ReadBytes(MakeIconFile(1, {{2, 2, 0, 1, 0, image}}), r, TKind::Ico);
  EXPECT_TRUE(r.Aborting);
  EXPECT_TRUE(r.Bitmap.Empty());
}

// ---------------------------------------------------------------------------------------------
// Cursors

TEST(CurRead, HotSpotAndPixelsComeFromTheChosenEntry) {
  const std::vector<TRGB> pal = {{0, 0, 0}, {0, 50, 0}};
  const auto file = MakeIconFile(2, {{2, 2, 0, 5, 7, SolidIcon8(1, pal)}});
  TReadOutcome r;
  ReadBytes(file, r, TKind::Cur);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Params.CUR_XHotSpot, 5);
  EXPECT_EQ(r.Params.CUR_YHotSpot, 7);
  EXPECT_EQ(r.Params.BitsPerSample, 8);
  EXPECT_EQ(r.Params.SamplesPerPixel, 1);
  EXPECT_EQ(r.Bitmap.GetPixel(1, 0), CreateRGB(0, 50, 0));
}

TEST(CurRead, TransparentPixelsTakeTheCursorBackground) {
  const std::vector<TRGB> pal = {{0, 0, 0}, {0, 50, 0}};
  auto image = MakeIconImage(2, 1, 8, pal, {1, 1, 0, 0}, {0x40, 0, 0, 0});
  TReadOutcome r;
  r.Params.CUR_Background = CreateRGB(1, 1, 1);
  r.Params.ICO_Background = CreateRGB(2, 2, 2);
  ReadBytes(MakeIconFile(2, {{2, 1, 0, 0, 0, image}}), r, TKind::Cur);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(0, 50, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(1, 0), CreateRGB(1, 1, 1));
}

TEST(CurRead, PublicCursorsAndTheirLimits) {
  const std::string one = TestData("cur/pillow/mask_1.cur"), grey = TestData("cur/pillow/mask_L.cur"),
                    deep = TestData("cur/pillow/deerstalker.cur"), none = TestData("cur/bad/pillow/no_cursors.cur");
  if (!std::filesystem::exists(one)) GTEST_SKIP();
  TReadOutcome r1, r8, r32, r0;
  ReadBytes(ReadFileBytes(one), r1, TKind::Cur);
  EXPECT_FALSE(r1.Aborting);
  EXPECT_EQ(r1.Bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(r1.Bitmap.Height(), 4);
  ReadBytes(ReadFileBytes(grey), r8, TKind::Cur);
  EXPECT_FALSE(r8.Aborting);
  EXPECT_EQ(r8.Bitmap.PixelFormat(), pf24bit);
  // 32-bit cursors are not decoded.
  ReadBytes(ReadFileBytes(deep), r32, TKind::Cur);
  EXPECT_TRUE(r32.Aborting);
  EXPECT_EQ(r32.Params.BitsPerSample, 32);
  // An empty directory holds no image to choose: nothing happens.
  ReadBytes(ReadFileBytes(none), r0, TKind::Cur);
  EXPECT_FALSE(r0.Aborting);
  EXPECT_TRUE(r0.Bitmap.Empty());
}
