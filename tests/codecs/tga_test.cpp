#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>

#include "support/pixels.h"
#include "support/read_harness.h"
#include "vexa/codecs/tga.h"
#include "vexa/core/sample.h"

using namespace vexa;
using namespace vexa::test;

namespace {

// Starts from a size no test file has, to see whether reading touched the bitmap.
TReadOutcome DecodeBytes(const std::vector<uint8_t>& bytes, bool preview = false) {
  TMemoryStream s(bytes.data(), bytes.size());
  TReadOutcome start;
  start.Bitmap = TBitmap(3, 3, pf24bit);
  return ReadWith([&](TReadOutcome& o, TProgressRec& pr) { ReadTGAStream(s, o.Bitmap, o.Params, preview, pr); },
                  std::move(start));
}

std::vector<uint8_t> Header(int type, int depth, int w, int h, int desc, int mapLen = 0, int mapBits = 0) {
  std::vector<uint8_t> b(18, 0);
  b[1] = mapLen ? 1 : 0, b[2] = static_cast<uint8_t>(type);
  b[5] = static_cast<uint8_t>(mapLen), b[6] = static_cast<uint8_t>(mapLen >> 8), b[7] = static_cast<uint8_t>(mapBits);
  b[12] = static_cast<uint8_t>(w), b[13] = static_cast<uint8_t>(w >> 8);
  b[14] = static_cast<uint8_t>(h), b[15] = static_cast<uint8_t>(h >> 8);
  b[16] = static_cast<uint8_t>(depth), b[17] = static_cast<uint8_t>(desc);
  return b;
}

std::vector<uint8_t> Encode(TBitmap& bmp, TIOParamsVals& params, bool* aborted = nullptr) {
  return WrittenBytes([&](TStream& s, TProgressRec& pr) { WriteTGAStream(s, bmp, params, pr); }, aborted);
}

TIOParamsVals Depth(int bps, int spp, bool compressed) {
  TIOParamsVals p;
  p.BitsPerSample = bps;
  p.SamplesPerPixel = spp;
  p.TGA_Compressed = compressed;
  return p;
}

}  // namespace

const TReadFormat kTga = [] {
  TReadFormat f;
  f.Name = "TGA";
  f.Read = [](const std::string& path, int) {
    TMemoryStream probe;
    probe.LoadFromFile(path);
    EXPECT_TRUE(TryTGA(probe));
    EXPECT_EQ(probe.Position(), 0);
    return DecodeBytes(probe.Data());
  };
  return f;
}();

// 5-bit channels are widened by 8 here and by bit replication in Pillow.
std::vector<TReadCase> TgaCases() {
  std::vector<TReadCase> cases;
  for (const char* f :
       {"tga/pillow-common/1x1_l_bl_raw.tga", "tga/pillow-common/1x1_l_tl_rle.tga",
        "tga/pillow-common/200x32_l_bl_raw.tga", "tga/pillow-common/200x32_l_tl_rle.tga",
        "tga/pillow-common/200x32_la_bl_raw.tga", "tga/pillow-common/200x32_la_tl_rle.tga",
        "tga/pillow-common/200x32_p_bl_raw.tga", "tga/pillow-common/200x32_p_tl_rle.tga",
        "tga/pillow-common/200x32_rgb_bl_raw.tga", "tga/pillow-common/200x32_rgb_bl_rle.tga",
        "tga/pillow-common/200x32_rgba_tl_raw.tga", "tga/pillow-common/200x32_rgba_bl_rle.tga",
        "tga/truevision-and-image-rs/b5-attrib.tga", "tga/truevision-and-image-rs/black_white.tga",
        "tga/truevision-and-image-rs/cbw8.tga", "tga/truevision-and-image-rs/ccm8.tga",
        "tga/truevision-and-image-rs/cmap_offset.tga", "tga/truevision-and-image-rs/ctc24.tga",
        "tga/truevision-and-image-rs/ubw8.tga", "tga/truevision-and-image-rs/ucm8.tga",
        "tga/truevision-and-image-rs/utc16.tga", "tga/truevision-and-image-rs/utc24.tga",
        "tga/truevision-and-image-rs/utc32.tga", "tga/zigimg/font.tga", "tga/zigimg/stopsignsmall.tga",
        "tga/zigimg/stopsignsmallcompressed.tga"}) {
    const bool fiveBit = std::strstr(f, "b5-") || std::strstr(f, "16.tga") || std::strstr(f, "cm8.tga");
    cases.push_back({&kTga, f, 1, fiveBit ? 7 : 0});
  }
  return cases;
}

VEXA_READ_SUITE(TgaRead, TgaCases());

TEST(TgaRead, SameStoredPixelsUnderEveryOriginAndLayout) {
  const std::string dir = TestData("tga/truevision-and-image-rs/");
  auto load = [&](const char* f, TBitmap& out) {
    if (!std::filesystem::exists(dir + f)) return false;
    TReadOutcome d = DecodeBytes(ReadFileBytes(dir + f));
    EXPECT_FALSE(d.Aborting) << f;
    out = d.Bitmap;
    return true;
  };
  // Four files with the same packets (crossing row ends, which Pillow refuses) and
  // only the descriptor's origin bits differing.
  TBitmap tl, tr, bl, br;
  if (!load("top_left.tga", tl) || !load("top_right.tga", tr) || !load("bottom_left.tga", bl) ||
      !load("bottom_right.tga", br))
    GTEST_SKIP();
  int mirrored = 0, flipped = 0, both = 0;
  const int w = tl.Width(), h = tl.Height();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      mirrored += !(tr.GetPixel(w - 1 - x, y) == tl.GetPixel(x, y));
      flipped += !(bl.GetPixel(x, h - 1 - y) == tl.GetPixel(x, y));
      both += !(br.GetPixel(w - 1 - x, h - 1 - y) == tl.GetPixel(x, y));
    }
  EXPECT_EQ(mirrored + flipped + both, 0);
  EXPECT_FALSE(SamePixels(tl, br)) << "a symmetric picture would prove nothing";

  // One 4 x 4 picture as 5-5-5 pixels with and without attribute bits, through a
  // map of 15-bit entries, and with a map the pixels do not use (Pillow 9 misreads
  // the last two).
  TBitmap attrib, noattrib, cmap, unused;
  if (!load("b5-attrib.tga", attrib) || !load("b5-noattrib.tga", noattrib) || !load("b5-cmap.tga", cmap) ||
      !load("b5-unused-cmap.tga", unused))
    GTEST_SKIP();
  EXPECT_TRUE(SamePixels(attrib, noattrib));
  EXPECT_TRUE(SamePixels(attrib, cmap));
  EXPECT_TRUE(SamePixels(attrib, unused));
}

TEST(TgaRead, RowOrderColumnOrderAndPackedDepths) {
  // 2 x 2 true colour stored bottom-up: the first stored row is the bottom one.
  std::vector<uint8_t> b = Header(2, 24, 2, 2, 0);
  b.insert(b.end(), {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  TReadOutcome d = DecodeBytes(b, true);
  EXPECT_EQ(d.Params.Width, 2);
  EXPECT_EQ(d.Bitmap.Width(), 3) << "preview must not touch the bitmap";
  d = DecodeBytes(b);
  EXPECT_EQ(d.Bitmap.GetPixel(0, 1), CreateRGB(3, 2, 1));
  EXPECT_EQ(d.Bitmap.GetPixel(1, 0), CreateRGB(12, 11, 10));
  // Same bytes stored right to left.
  b[17] = 0x10;
  d = DecodeBytes(b);
  EXPECT_EQ(d.Bitmap.GetPixel(1, 1), CreateRGB(3, 2, 1));

  // Depth 1, 10 pixels, mirrored, run-length: a packet spanning both rows' bytes.
  b = Header(11, 1, 10, 2, 0x30);
  b.insert(b.end(), {0x83, 0x80});
  d = DecodeBytes(b);
  ASSERT_FALSE(d.Aborting);
  EXPECT_EQ(d.Bitmap.PixelFormat(), pf1bit);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 10; ++x)
      EXPECT_EQ(d.Bitmap.GetPixel(x, y).r, (x == 9 || x == 1) ? 255 : 0) << x << "," << y;

  // Depth 4 with a 16-entry map: two indices per byte, high nibble first.
  b = Header(1, 4, 3, 1, 0x20, 16, 24);
  for (int i = 0; i < 16; ++i) b.insert(b.end(), {static_cast<uint8_t>(i), 0, static_cast<uint8_t>(i * 10)});
  b.insert(b.end(), {0x3F, 0x20});
  d = DecodeBytes(b);
  ASSERT_FALSE(d.Aborting);
  EXPECT_EQ(d.Bitmap.GetPixel(0, 0), CreateRGB(30, 0, 3));
  EXPECT_EQ(d.Bitmap.GetPixel(1, 0), CreateRGB(150, 0, 15));
  EXPECT_EQ(d.Bitmap.GetPixel(2, 0), CreateRGB(20, 0, 2));
  EXPECT_EQ(d.Params.BitsPerSample, 4);
}

TEST(TgaMalformed, BadInputAbortsWithoutCrashing) {
  std::vector<std::vector<uint8_t>> untouched = {
      std::vector<uint8_t>(10, 2),     // shorter than a header
      Header(4, 24, 2, 2, 0),          // image type
      Header(2, 12, 2, 2, 0),          // depth
      Header(2, 24, 0, 2, 0),          // no pixels
  };
  untouched.push_back(Header(2, 24, 65535, 65535, 0));  // a 20-byte file of 12 GB of pixels
  untouched.back().resize(20, 0xFF);
  untouched.push_back(Header(10, 8, 4000, 4000, 0));  // 16 million pixels from 30 bytes of packets
  untouched.back().resize(48, 0xFF);
  for (size_t i = 0; i < untouched.size(); ++i) {
    TReadOutcome d = DecodeBytes(untouched[i]);
    EXPECT_TRUE(d.Aborting) << i;
    EXPECT_EQ(d.Bitmap.Width(), 3) << i;
  }

  // Data ending early: the rows read so far stay, the rest is black.
  TBitmap src = VXMakeSampleImage(30, 20);
  TIOParamsVals p = Depth(8, 3, true);
  std::vector<uint8_t> out = Encode(src, p);
  out.resize(out.size() / 2);
  TReadOutcome d = DecodeBytes(out);
  EXPECT_TRUE(d.Aborting);
  EXPECT_EQ(d.Bitmap.GetPixel(4, 0), src.GetPixel(4, 0));
  EXPECT_EQ(d.Bitmap.GetPixel(4, 19), TRGB{});

  // An extension offset past the end is ignored, not followed.
  p = Depth(8, 3, false);
  p.TGA_Author = "someone";
  out = Encode(src, p);
  out[out.size() - 26 + 3] = 0x7F;
  d = DecodeBytes(out);
  EXPECT_FALSE(d.Aborting);
  EXPECT_EQ(d.Params.TGA_Author, "");
  EXPECT_TRUE(SamePixels(d.Bitmap, src));
}

TEST(TgaDetect, TypeAndDepthDecideAndNetpbmIsRefused) {
  auto detect = [](std::vector<uint8_t> b) {
    TMemoryStream s(b.data(), b.size());
    const bool r = TryTGA(s);
    EXPECT_EQ(s.Position(), 0);
    return r;
  };
  EXPECT_TRUE(detect(Header(10, 24, 4, 4, 0)));
  EXPECT_TRUE(detect(Header(1, 4, 4, 4, 0)));
  EXPECT_FALSE(detect(Header(5, 24, 4, 4, 0)));
  EXPECT_FALSE(detect(Header(2, 15, 4, 4, 0)));
  EXPECT_FALSE(detect(std::vector<uint8_t>(17, 2)));
  std::vector<uint8_t> pnm = Header(10, 24, 4, 4, 0);
  pnm[0] = 'P', pnm[1] = '6';  // "P6\n" then a header-like tail
  EXPECT_FALSE(detect(pnm));
}

TEST(TgaRoundTrip, LosslessDepthsSurviveWriteThenRead) {
  TBitmap photo = VXMakeSampleImage(37, 21);
  TBitmap mono = MonoPattern(29, 7);
  TBitmap greys(40, 9, pf24bit);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 40; ++x) {
      const uint8_t v = static_cast<uint8_t>(x < 20 ? x * 8 : 255 - y);
      greys.SetPixel(x, y, CreateRGB(v, v, v));
    }
  for (bool c : {true, false}) {
    TIOParamsVals p = Depth(8, 3, c);
    TReadOutcome d = DecodeBytes(Encode(photo, p));
    EXPECT_FALSE(d.Aborting);
    EXPECT_TRUE(SamePixels(d.Bitmap, photo)) << "24-bit, compressed " << c;
    EXPECT_EQ(d.Params.TGA_Compressed, c);

    p = Depth(8, 1, c);
    p.TGA_GrayLevel = true;
    std::vector<uint8_t> out = Encode(greys, p);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], c ? 11 : 3);
    d = DecodeBytes(out);
    EXPECT_TRUE(d.Params.TGA_GrayLevel);
    // The grey levels pass through the quantizer's palette, so they may move a little.
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 40; ++x) {
        const TRGB a = greys.GetPixel(x, y), b = d.Bitmap.GetPixel(x, y);
        EXPECT_TRUE(b.r == b.g && b.g == b.b);
        EXPECT_LE(std::abs(a.r - b.r), 8) << x << "," << y;
      }

    p = Depth(1, 1, c);
    d = DecodeBytes(Encode(mono, p));
    EXPECT_FALSE(p.TGA_Compressed);
    EXPECT_EQ(d.Bitmap.PixelFormat(), pf1bit);
    EXPECT_TRUE(SamePixels(d.Bitmap, mono)) << "1-bit";
  }
}

TEST(TgaRoundTrip, PaletteDepthsMapEveryPixelToTheWrittenPalette) {
  for (int depth : {4, 8})
    for (bool c : {true, false}) {
      TBitmap src = FewColours(23, 11, depth == 4 ? 12 : 40);
      TIOParamsVals p = Depth(depth, 1, c);
      std::vector<uint8_t> out = Encode(src, p);
      EXPECT_EQ(out[1], 1);
      EXPECT_EQ(out[2], depth == 8 && c ? 9 : 1);
      EXPECT_EQ(p.TGA_Compressed, depth == 8 && c) << "4 bits are always stored raw";
      TReadOutcome d = DecodeBytes(out);
      ASSERT_FALSE(d.Aborting);
      ASSERT_EQ(d.Params.ColorMapCount, 1 << depth);
      EXPECT_EQ(d.Params.ColorMap, p.ColorMap) << "the palette read is the one written";
      int worst = 0;
      for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 23; ++x) {
          const TRGB a = src.GetPixel(x, y), b = d.Bitmap.GetPixel(x, y);
          EXPECT_TRUE(std::find(p.ColorMap.begin(), p.ColorMap.end(), b) != p.ColorMap.end());
          worst = std::max({worst, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
        }
      EXPECT_LE(worst, 8) << depth << "-bit";
    }
}

TEST(TgaWrite, PacketsAndExtensionArea) {
  // 300 pixels of one colour: repeat packets of 128, 128 and 44.
  TBitmap flat(300, 1, pf24bit);
  flat.Fill(CreateRGB(9, 8, 7));
  TIOParamsVals p = Depth(8, 3, true);
  p.TGA_ImageName = "flat";
  p.TGA_Author = "A. Author";
  p.TGA_Descriptor = "job 7";
  p.TGA_Date = 45000.5;  // 2023-03-15 12:00:00
  p.TGA_Background = CreateRGB(10, 20, 30);
  p.TGA_AspectRatio = 1.5;
  p.TGA_Gamma = 1.8;
  p.TGA_XPos = 12;
  std::vector<uint8_t> out = Encode(flat, p);
  const size_t px = 18 + 5;
  const std::vector<uint8_t> expect = {0xFF, 7, 8, 9, 0xFF, 7, 8, 9, 0xAB, 7, 8, 9};
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + px, out.begin() + px + 12), expect);
  ASSERT_EQ(out.size(), px + 12 + 495 + 26);
  const uint8_t* ext = out.data() + px + 12;
  EXPECT_EQ(ext[474] | (ext[475] << 8), 15000);
  EXPECT_EQ(ext[476] | (ext[477] << 8), 10000);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data() + out.size() - 18)), "TRUEVISION-XFILE.");

  TReadOutcome d = DecodeBytes(out);
  EXPECT_EQ(d.Params.TGA_ImageName, "flat");
  EXPECT_EQ(d.Params.TGA_Author, "A. Author");
  EXPECT_EQ(d.Params.TGA_Descriptor, "job 7");
  EXPECT_DOUBLE_EQ(d.Params.TGA_Date, 45000.5);
  EXPECT_EQ(d.Params.TGA_Background, CreateRGB(10, 20, 30));
  EXPECT_DOUBLE_EQ(d.Params.TGA_AspectRatio, 1.5);
  EXPECT_DOUBLE_EQ(d.Params.TGA_Gamma, 1.8);
  EXPECT_EQ(d.Params.TGA_XPos, 12);

  // A bad month leaves today's date; the other fields still load. No footer at all
  // resets every extension field.
  std::vector<uint8_t> bad = out;
  bad[px + 12 + 367] = 13;
  d = DecodeBytes(bad);
  EXPECT_EQ(d.Params.TGA_Date, VXToday());
  EXPECT_EQ(d.Params.TGA_Author, "A. Author");
  out.resize(px + 12);
  d.Params.TGA_Gamma = 1.0;
  d.Params.TGA_Author = "stale";
  TMemoryStream s(out.data(), out.size());
  TProgressRec pr;
  ReadTGAStream(s, d.Bitmap, d.Params, false, pr);
  EXPECT_EQ(d.Params.TGA_Author, "");
  EXPECT_EQ(d.Params.TGA_Date, VXToday());
  EXPECT_DOUBLE_EQ(d.Params.TGA_Gamma, 2.2);

  // Ratios too large for four decimals in 16 bits keep fewer decimals instead of wrapping.
  p.TGA_AspectRatio = 12.25;
  d = DecodeBytes(Encode(flat, p));
  EXPECT_DOUBLE_EQ(d.Params.TGA_AspectRatio, 12.25);

  bool aborted = false;
  TBitmap pal8(2, 2, pf8bit);
  EXPECT_TRUE(Encode(pal8, p, &aborted).empty());
  EXPECT_TRUE(aborted);
}

TEST(TgaWrite, OutputOpensInAnIndependentReader) {
  VEXA_REQUIRE_REFERENCE_DECODER();
  TBitmap photo = VXMakeSampleImage(33, 17);
  TBitmap few = FewColours(33, 17, 12);
  struct Case { int bps, spp; bool c, grey; TBitmap* src; };
  for (const Case& k : {Case{8, 3, true, false, &photo}, Case{8, 3, false, false, &photo},
                        Case{8, 1, true, false, &few}, Case{8, 1, true, true, &photo},
                        Case{1, 1, false, false, &photo}}) {  // Pillow has no 4-bit reader
    TIOParamsVals p = Depth(k.bps, k.spp, k.c);
    p.TGA_GrayLevel = k.grey;
    std::vector<uint8_t> out = Encode(*k.src, p);
    const std::string path = TempPath("out.tga");
    WriteFileBytes(path, out);
    TRefImage ref;
    ASSERT_TRUE(PillowDecode(path, ref)) << k.bps << "x" << k.spp;
    TReadOutcome ours = DecodeBytes(out);
    EXPECT_EQ(MaxDifference(BitmapRgb(ours.Bitmap), ref.Rgb), 0) << k.bps << "x" << k.spp << " grey " << k.grey;
    std::remove(path.c_str());
  }
}
