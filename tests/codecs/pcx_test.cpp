#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "support/pixels.h"
#include "support/read_harness.h"
#include "vexa/codecs/pcx.h"
#include "vexa/core/sample.h"
#include "vexa/core/vxview.h"

using namespace vexa;
using namespace vexa::test;

namespace {

// Starts from a size no test file has, to see whether reading touched the bitmap.
TReadOutcome Decode(TStream& s, int64_t size, bool preview = false) {
  TReadOutcome start;
  start.Bitmap = TBitmap(3, 3, pf24bit);
  return ReadWith([&](TReadOutcome& o, TProgressRec& pr) { ReadPcxStream(s, o.Bitmap, o.Params, preview, pr, size); },
                  std::move(start));
}

TReadOutcome DecodeBytes(const std::vector<uint8_t>& bytes, bool preview = false) {
  TMemoryStream s(bytes.data(), bytes.size());
  return Decode(s, s.Size(), preview);
}

std::vector<uint8_t> Header(int w, int h, int bpp, int planes, int bpl, int enc = 1) {
  std::vector<uint8_t> b(128, 0);
  b[0] = 10, b[1] = 5, b[2] = static_cast<uint8_t>(enc), b[3] = static_cast<uint8_t>(bpp);
  b[8] = static_cast<uint8_t>(w - 1), b[9] = static_cast<uint8_t>((w - 1) >> 8);
  b[10] = static_cast<uint8_t>(h - 1), b[11] = static_cast<uint8_t>((h - 1) >> 8);
  b[12] = 72, b[14] = 72;
  b[65] = static_cast<uint8_t>(planes);
  b[66] = static_cast<uint8_t>(bpl), b[67] = static_cast<uint8_t>(bpl >> 8);
  return b;
}

std::vector<uint8_t> Encode(TBitmap& bmp, TIOParamsVals& params, bool* aborted = nullptr) {
  return WrittenBytes([&](TStream& s, TProgressRec& pr) { WritePcxStream(s, bmp, params, pr); }, aborted);
}

TIOParamsVals Depth(int bps, int spp, TIOPCXCompression c) {
  TIOParamsVals p;
  p.BitsPerSample = bps;
  p.SamplesPerPixel = spp;
  p.PCX_Compression = c;
  return p;
}

}  // namespace

const TReadFormat kPcx = [] {
  TReadFormat f;
  f.Name = "PCX";
  f.Read = [](const std::string& path, int) {
    TFileStream s(path, fmOpenRead);
    return Decode(s, s.Size());
  };
  // Pillow shows 1-bit images in black and white whatever the header palette says; we
  // show a coloured pair in its colours, as the file's header bytes give them.
  f.Align = [](const TReadOutcome& ours, TRefImage& ref, std::vector<uint8_t>&, int&) {
    if (ours.Params.BitsPerSample != 1 || ours.Params.SamplesPerPixel != 1 || ours.Bitmap.PixelFormat() != pf24bit)
      return;
    const TRGB c0 = ours.Params.ColorMap[0], c1 = ours.Params.ColorMap[1];
    for (size_t i = 0; i + 2 < ref.Rgb.size(); i += 3) {
      const TRGB c = ref.Rgb[i] ? c1 : c0;
      ref.Rgb[i] = c.r, ref.Rgb[i + 1] = c.g, ref.Rgb[i + 2] = c.b;
    }
  };
  return f;
}();

VEXA_READ_SUITE(PcxRead, (std::vector<TReadCase>{{&kPcx, "pcx/pillow/odd_stride.pcx"},
                                                  {&kPcx, "pcx/pillow/pil184.pcx"},
                                                  {&kPcx, "pcx/zigimg/test-bpp1.pcx"},
                                                  {&kPcx, "pcx/zigimg/test-bpp8.pcx"},
                                                  {&kPcx, "pcx/zigimg/test-bpp24.pcx"}}));

TEST(PcxRead, PackedDepthsUseTheHeaderPalette) {
  // Pillow reads neither layout correctly, so the expected pixels were worked out
  // from the files' bytes: run-length data, nibbles or bit planes, header palette.
  const std::string p4 = TestData("pcx/zigimg/test-bpp4.pcx"), planes = TestData("pcx/pillow/p_4_planes.pcx");
  if (!std::filesystem::exists(p4) || !std::filesystem::exists(planes)) GTEST_SKIP();
  TFileStream f4(p4, fmOpenRead);
  TReadOutcome d = Decode(f4, f4.Size());
  ASSERT_FALSE(d.Aborting);
  EXPECT_EQ(d.Params.BitsPerSample, 4);
  EXPECT_EQ(d.Params.ColorMapCount, 16);
  EXPECT_EQ(d.Bitmap.GetPixel(0, 0), CreateRGB(0x47, 0x49, 0x97));
  EXPECT_EQ(d.Bitmap.GetPixel(1, 0), CreateRGB(0x58, 0x7a, 0xa6));
  EXPECT_EQ(d.Bitmap.GetPixel(4, 0), CreateRGB(0x63, 0x53, 0x83));
  EXPECT_EQ(d.Bitmap.GetPixel(26, 0), CreateRGB(0xa9, 0x58, 0x77));
  EXPECT_EQ(d.Bitmap.GetPixel(4, 1), CreateRGB(0x79, 0x43, 0x87));

  // One pixel whose bit is set in planes 0 and 1: index 3, red in the header palette.
  TFileStream fp(planes, fmOpenRead);
  d = Decode(fp, fp.Size());
  ASSERT_FALSE(d.Aborting);
  EXPECT_EQ(d.Bitmap.GetPixel(0, 0), CreateRGB(255, 0, 0));
}

TEST(PcxRead, HeaderFieldsFillTheParameters) {
  const std::string path = TestData("pcx/pillow/p_4_planes.pcx");
  VEXA_REQUIRE_FILE(path);
  TFileStream f(path, fmOpenRead);
  TReadOutcome d = Decode(f, f.Size(), true);
  EXPECT_EQ(d.Bitmap.Width(), 3) << "preview must not touch the bitmap";
  EXPECT_EQ(d.Params.BitsPerSample, 4);
  EXPECT_EQ(d.Params.SamplesPerPixel, 1);
  EXPECT_EQ(d.Params.ColorMapCount, 16);
  EXPECT_EQ(d.Params.DpiX, 100);
  EXPECT_EQ(d.Params.PCX_Version, 5);

  std::vector<uint8_t> b = Header(1, 1, 8, 3, 2);
  b[12] = 0, b[14] = 44, b[15] = 1;  // 0 x 300 dpi
  b.insert(b.end(), {1, 0, 2, 0, 3, 0});
  d = DecodeBytes(b);
  EXPECT_EQ(d.Params.DpiX, gSystemDPIX);
  EXPECT_EQ(d.Params.DpiY, gSystemDPIY);
  EXPECT_EQ(d.Bitmap.GetPixel(0, 0), CreateRGB(1, 2, 3));
}

TEST(PcxRead, RunsContinueAcrossPlaneLinesAndRows) {
  // Two rows of 2 x 24-bit: a run of 3 covers red and half of green, and the last
  // run of row 0 runs on into row 1's red line.
  std::vector<uint8_t> b = Header(2, 2, 8, 3, 2);
  b.insert(b.end(), {0xC3, 0x20, 0x05, 0x06, 0xC3, 0x07, 0x0A, 0x0B, 0x0C, 0x0D});
  TReadOutcome d = DecodeBytes(b);
  ASSERT_FALSE(d.Aborting);
  EXPECT_EQ(d.Bitmap.GetPixel(0, 0), CreateRGB(0x20, 0x20, 0x06));
  EXPECT_EQ(d.Bitmap.GetPixel(1, 0), CreateRGB(0x20, 0x05, 0x07));
  EXPECT_EQ(d.Bitmap.GetPixel(0, 1), CreateRGB(0x07, 0x0A, 0x0C));
  EXPECT_EQ(d.Bitmap.GetPixel(1, 1), CreateRGB(0x07, 0x0B, 0x0D));
}

TEST(PcxMalformed, BadHeadersAbortAndLeaveTheBitmapAlone) {
  std::vector<std::vector<uint8_t>> cases;
  cases.push_back(std::vector<uint8_t>(20, 10));             // shorter than a header
  auto h = Header(4, 4, 8, 1, 4);
  h[0] = 11;                                                 // manufacturer
  cases.push_back(h);
  h = Header(4, 4, 16, 1, 8);                                // bits per pixel
  cases.push_back(h);
  h = Header(4, 4, 8, 1, 4, 2);                              // encoding
  cases.push_back(h);
  h = Header(8, 1, 8, 1, 4);                                 // lines shorter than the row
  cases.push_back(h);
  h = Header(65535, 65535, 8, 3, 65535);                     // beyond the size limit
  h.resize(148, 0xFF);
  cases.push_back(h);
  h = Header(3000, 3000, 8, 1, 3000);                        // far more pixels than data
  h.resize(148, 0xFF);
  cases.push_back(h);
  h = Header(8000, 8000, 8, 2, 8000);                        // the same in a layout not decoded
  h.resize(148, 0xFF);
  cases.push_back(h);
  for (const char* f : {"pcx/bad/pillow/ossfuzz-4836216264589312.pcx", "pcx/pillow/01r_00.pcx"}) {
    TMemoryStream m;
    if (!std::filesystem::exists(TestData(f))) continue;
    m.LoadFromFile(TestData(f));
    cases.push_back(m.Data());
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    TReadOutcome d = DecodeBytes(cases[i]);
    EXPECT_TRUE(d.Aborting) << "case " << i;
    EXPECT_EQ(d.Bitmap.Width(), 3) << "case " << i;
  }
}

TEST(PcxMalformed, TruncatedDataKeepsTheRowsDecoded) {
  TBitmap src = VXMakeSampleImage(40, 30);
  TIOParamsVals p = Depth(8, 3, ioPCX_RLE);
  std::vector<uint8_t> full = Encode(src, p);
  full.resize(128 + (full.size() - 128) / 2);
  TReadOutcome d = DecodeBytes(full);
  EXPECT_TRUE(d.Aborting);
  ASSERT_EQ(d.Bitmap.Width(), 40);
  EXPECT_EQ(d.Bitmap.GetPixel(5, 0), src.GetPixel(5, 0));
  EXPECT_EQ(d.Bitmap.GetPixel(5, 29), TRGB{});

  // Two 8-bit planes is not a layout the reader knows: a blank picture and the flag.
  std::vector<uint8_t> b = Header(2, 1, 8, 2, 2);
  b.insert(b.end(), {1, 2, 3, 4});
  d = DecodeBytes(b);
  EXPECT_TRUE(d.Aborting);
  EXPECT_EQ(d.Bitmap.Width(), 2);
  EXPECT_EQ(d.Bitmap.GetPixel(1, 0), TRGB{});
}

// An 8-bit file whose palette at the end is cut: every row is decoded (over the grey ramp) and the
// reason is "truncated"; a grey image saying so in its header needs no palette.
TEST(PcxMalformed, CutPaletteIsReportedAsTruncated) {
  const std::string file = TestData("pcx/zigimg/test-bpp8.pcx");
  VEXA_REQUIRE_FILE(file);
  std::vector<uint8_t> bytes = ReadFileBytes(file);
  ASSERT_EQ(bytes[bytes.size() - 769], 12);
  auto decode = [](const std::vector<uint8_t>& b, TVXFailure& why) {
    TMemoryStream s(b.data(), b.size());
    return ReadWith([&](TReadOutcome& o, TProgressRec& pr) {
      pr.Failure = &why;
      ReadPcxStream(s, o.Bitmap, o.Params, false, pr, s.Size());
    }, TReadOutcome());
  };
  TVXFailure why;
  const TReadOutcome whole = decode(bytes, why);
  ASSERT_FALSE(whole.Aborting);
  bytes.resize(bytes.size() - 300);
  const TReadOutcome cut = decode(bytes, why);
  EXPECT_TRUE(cut.Aborting);
  EXPECT_EQ(why.Kind, fkTruncated) << why.Describe();
  ASSERT_EQ(cut.Bitmap.Height(), whole.Bitmap.Height());
  EXPECT_EQ(cut.Params.ColorMap[77], CreateRGB(77, 77, 77));
  bytes[68] = 2;  // palette type: grey
  why.Clear();
  EXPECT_FALSE(decode(bytes, why).Aborting);
}

TEST(PcxRoundTrip, LosslessDepthsSurviveWriteThenRead) {
  TBitmap photo = VXMakeSampleImage(37, 21);
  TBitmap mono = MonoPattern(29, 7);
  for (TIOPCXCompression c : {ioPCX_RLE, ioPCX_UNCOMPRESSED}) {
    TIOParamsVals p24 = Depth(8, 3, c), p1 = Depth(1, 1, c);
    TReadOutcome d = DecodeBytes(Encode(photo, p24));
    EXPECT_FALSE(d.Aborting);
    EXPECT_TRUE(SamePixels(d.Bitmap, photo)) << "24-bit, compression " << c;
    d = DecodeBytes(Encode(mono, p1));
    EXPECT_EQ(d.Bitmap.PixelFormat(), pf1bit);
    EXPECT_TRUE(SamePixels(d.Bitmap, mono)) << "1-bit, compression " << c;
  }

  // The file entry points: the writer empties an existing file first.
  const std::string path = TempPath("roundtrip.pcx");
  TMemoryStream(std::vector<uint8_t>(100000, 0xAB).data(), 100000).SaveToFile(path);
  TIOParamsVals p = Depth(8, 3, ioPCX_RLE);
  TProgressRec pr;
  WritePcx(path, photo, p, pr);
  EXPECT_EQ(static_cast<size_t>(_getfilesize(path.c_str())), Encode(photo, p).size());
  TReadOutcome d;
  pr.Aborting = &d.Aborting;
  ReadPcx(path, d.Bitmap, d.Params, pr);
  std::remove(path.c_str());
  EXPECT_FALSE(d.Aborting);
  EXPECT_TRUE(SamePixels(d.Bitmap, photo));
}

TEST(PcxRoundTrip, PaletteDepthsMapEveryPixelToTheWrittenPalette) {
  for (int depth : {4, 8})
    for (TIOPCXCompression c : {ioPCX_RLE, ioPCX_UNCOMPRESSED}) {
      TBitmap src = FewColours(23, 11, depth == 4 ? 12 : 40);
      TIOParamsVals p = Depth(depth, 1, c);
      TReadOutcome d = DecodeBytes(Encode(src, p));
      ASSERT_FALSE(d.Aborting);
      ASSERT_EQ(d.Params.ColorMapCount, 1 << depth);
      const std::set<TColor> pal = [&] {
        std::set<TColor> s;
        for (const TRGB& e : d.Params.ColorMap) s.insert(TRGB2TColor(e));
        return s;
      }();
      int worst = 0;
      for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 23; ++x) {
          const TRGB a = src.GetPixel(x, y), b = d.Bitmap.GetPixel(x, y);
          EXPECT_TRUE(pal.count(TRGB2TColor(b))) << depth << "-bit pixel " << x << "," << y;
          worst = std::max({worst, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
        }
      EXPECT_LE(worst, 8) << depth << "-bit";
    }
}

TEST(PcxWrite, OneBitChoosesTheColoursAsDescribed) {
  // Two colours: the darker one becomes entry 0 and its pixels the clear bits.
  TBitmap two(9, 2, pf24bit);
  two.Fill(CreateRGB(250, 240, 10));
  two.SetPixel(3, 1, CreateRGB(0, 0, 90));
  TIOParamsVals p = Depth(1, 1, ioPCX_RLE);
  std::vector<uint8_t> out = Encode(two, p);
  EXPECT_EQ(TRGB(CreateRGB(out[16], out[17], out[18])), CreateRGB(0, 0, 90));
  EXPECT_EQ(TRGB(CreateRGB(out[19], out[20], out[21])), CreateRGB(250, 240, 10));
  // Read back in those colours.
  TReadOutcome d = DecodeBytes(out);
  EXPECT_EQ(d.Bitmap.PixelFormat(), pf24bit);
  EXPECT_TRUE(SamePixels(d.Bitmap, two));

  // Uniform grey 128 is dithered: 31 of the 64 cells of each 8 x 8 block are white.
  TBitmap grey(16, 8, pf24bit);
  grey.Fill(CreateRGB(128, 128, 128));
  d = DecodeBytes(Encode(grey, p));
  int white = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) white += d.Bitmap.GetPixel(x, y).r == 255;
  EXPECT_EQ(white, 31);
}

TEST(PcxWrite, EncodedBytesFollowTheFormat) {
  // 5 pixels of 1 bit: 1 data byte, lines padded to 2.
  TBitmap mono(5, 1, pf1bit);
  TIOParamsVals p = Depth(1, 1, ioPCX_RLE);
  std::vector<uint8_t> out = Encode(mono, p);
  EXPECT_EQ(out[66] | (out[67] << 8), 2);

  // Width 3, samples below 192 and all different: three literals and a 0 per plane line;
  // a lone 200 is written as a run of one.
  TBitmap rgb(3, 1, pf24bit);
  rgb.SetPixel(0, 0, CreateRGB(1, 4, 7));
  rgb.SetPixel(1, 0, CreateRGB(2, 5, 200));
  rgb.SetPixel(2, 0, CreateRGB(3, 6, 9));
  p = Depth(8, 3, ioPCX_RLE);
  out = Encode(rgb, p);
  const std::vector<uint8_t> rows(out.begin() + 128, out.end());
  EXPECT_EQ(rows, (std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 0, 7, 193, 200, 9, 0}));
  EXPECT_EQ(out[65], 3);
  EXPECT_EQ(out[68], 0);

  // 8 bits end with the palette marker and 768 bytes.
  p = Depth(8, 1, ioPCX_RLE);
  out = Encode(rgb, p);
  ASSERT_GT(out.size(), 128u + 769u);
  EXPECT_EQ(out[out.size() - 769], 12);

  // Depths PCX lacks (parameters read from other formats) give the nearest it has.
  struct {
    int Bps, Spp, BitsPerPixel, Planes;
  } nearest[] = {{8, 4, 8, 3}, {5, 3, 8, 3}, {16, 3, 8, 3}, {16, 1, 8, 1}, {8, 2, 8, 1}, {2, 1, 4, 1}, {0, 0, 8, 3}};
  bool aborted = false;
  for (const auto& n : nearest) {
    p = Depth(n.Bps, n.Spp, ioPCX_RLE);
    out = Encode(rgb, p, &aborted);
    EXPECT_FALSE(aborted) << n.Bps << "x" << n.Spp;
    ASSERT_GT(out.size(), 128u);
    EXPECT_EQ(out[3], n.BitsPerPixel) << n.Bps << "x" << n.Spp;
    EXPECT_EQ(out[65], n.Planes) << n.Bps << "x" << n.Spp;
  }
  // Bitmaps of other formats are refused.
  TBitmap pal8(2, 2, pf8bit);
  p = Depth(8, 3, ioPCX_RLE);
  EXPECT_TRUE(Encode(pal8, p, &aborted).empty());
  EXPECT_TRUE(aborted);
}

TEST(PcxWrite, OutputOpensInAnIndependentReader) {
  VEXA_REQUIRE_REFERENCE_DECODER();
  TBitmap photo = VXMakeSampleImage(33, 17);
  TBitmap few = FewColours(33, 17, 40);
  struct Case { int bps, spp; TIOPCXCompression c; TBitmap* src; };
  // Pillow reads neither a single 4-bit plane nor uncompressed data (it always
  // expands runs); those are left to the round-trip tests.
  for (const Case& k : {Case{8, 3, ioPCX_RLE, &photo}, Case{8, 1, ioPCX_RLE, &few}, Case{1, 1, ioPCX_RLE, &photo}}) {
    TIOParamsVals p = Depth(k.bps, k.spp, k.c);
    std::vector<uint8_t> out = Encode(*k.src, p);
    const std::string path = TempPath("out.pcx");
    WriteFileBytes(path, out);
    TRefImage ref;
    ASSERT_TRUE(PillowDecode(path, ref)) << k.bps << "x" << k.spp;
    TReadOutcome ours = DecodeBytes(out);
    EXPECT_EQ(MaxDifference(BitmapRgb(ours.Bitmap), ref.Rgb), 0) << k.bps << "x" << k.spp;
    std::remove(path.c_str());
  }
}
