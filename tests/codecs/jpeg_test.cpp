#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <sys/resource.h>

#include "support/pixels.h"
#include "support/read_harness.h"
#include "vexa/codecs/jpeg.h"
#include "vexa/core/sample.h"
#include "vexa/core/vxview.h"

using namespace vexa;
using namespace vexa::test;
namespace fs = std::filesystem;

namespace {

const fs::path kJpegDir = fs::path(VEXA_TESTDATA_DIR) / "jpeg";

std::vector<uint8_t> ReadFileBytes(const fs::path& p) { return vexa::test::ReadFileBytes(p.string()); }

struct RefError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void RefErrorExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<RefError*>(cinfo->err)->jump, 1); }
void RefQuiet(j_common_ptr) {}

struct RefImage {
  int width = 0, height = 0, components = 0;
  J_COLOR_SPACE fileSpace = JCS_UNKNOWN;
  std::vector<uint8_t> pixels;  // top row first, `components` bytes per pixel
};

// Plain libjpeg decode, straight from memory, as the reference. `raw` asks for
// the file's own components without colour conversion.
bool DecodeReference(const std::vector<uint8_t>& bytes, RefImage& out, bool raw = false) {
  jpeg_decompress_struct cinfo{};
  RefError err{};
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = RefErrorExit;
  err.pub.output_message = RefQuiet;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  out.fileSpace = cinfo.jpeg_color_space;
  if (raw)
    cinfo.out_color_space = cinfo.jpeg_color_space;
  else if (cinfo.jpeg_color_space != JCS_CMYK && cinfo.jpeg_color_space != JCS_YCCK)
    cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  out.width = static_cast<int>(cinfo.output_width);
  out.height = static_cast<int>(cinfo.output_height);
  out.components = cinfo.output_components;
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * out.components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.pixels.data() + static_cast<size_t>(cinfo.output_scanline) * out.width * out.components;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

TReadOutcome LoadJpeg(const std::vector<uint8_t>& bytes, const TIOParamsVals& params = TIOParamsVals(), bool preview = false) {
  TMemoryStream s(bytes.data(), bytes.size());
  TReadOutcome start;
  start.Params = params;
  return ReadWith([&](TReadOutcome& o, TProgressRec& pr) { ReadJPegStream(s, o.Bitmap, o.Params, preview, pr); },
                  std::move(start));
}

std::vector<uint8_t> SaveJpeg(TBitmap& bmp, TIOParamsVals& params) {
  bool aborted = true;
  std::vector<uint8_t> bytes =
      WrittenBytes([&](TStream& s, TProgressRec& pr) { WriteJPegStream(s, bmp, params, pr); }, &aborted);
  EXPECT_FALSE(aborted);
  return bytes;
}

const TReadFormat kJpeg = [] {
  TReadFormat f;
  f.Name = "JPEG";
  f.Read = [](const std::string& path, int) { return LoadJpeg(ReadFileBytes(path)); };
  // Plain libjpeg; CMYK files are compared by size only, since converting them is a matter of taste.
  f.Reference = [](const std::string& path, int, TRefImage& ref) {
    RefImage raw;
    if (!DecodeReference(ReadFileBytes(path), raw)) return false;
    ref.Width = raw.width, ref.Height = raw.height, ref.Rgb = raw.pixels, ref.Comparable = raw.components == 3;
    return true;
  };
  f.Check = [](const std::string&, const TReadOutcome& ours) {
    EXPECT_EQ(ours.Bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(ours.Params.BitsPerSample, 8);
    EXPECT_EQ(ours.Params.SamplesPerPixel, 3);
  };
  // 12-bit samples, which an 8-bit build of the library cannot decode (nor can the reference).
  f.MustAbort = {"monkey12.jpg"};
  return f;
}();

}  // namespace

VEXA_READ_SUITE(JpegRead, FolderCases(kJpeg, {"jpeg/libjpeg-turbo", "jpeg/pillow", "jpeg/zigimg", "jpeg/image-rs-progressive"},
                                      {".jpg"}));

TEST(JpegRead, GreyFileGivesEqualChannels) {
  const fs::path f = kJpegDir / "pillow" / "hopper_gray.jpg";
  if (!fs::exists(f)) GTEST_SKIP();
  TReadOutcome l = LoadJpeg(ReadFileBytes(f));
  ASSERT_FALSE(l.Aborting);
  EXPECT_EQ(l.Params.JPEG_ColorSpace, ioJPEG_GRAYLEV);
  int distinct = 0;
  for (int y = 0; y < l.Bitmap.Height(); ++y)
    for (int x = 0; x < l.Bitmap.Width(); ++x) {
      const TRGB c = l.Bitmap.GetPixel(x, y);
      ASSERT_TRUE(c.r == c.g && c.g == c.b);
      distinct += c.r != l.Bitmap.GetPixel(0, 0).r;
    }
  EXPECT_GT(distinct, 0);
}

TEST(JpegRead, CmykFileLooksLikeItsRgbTwin) {
  // Pillow ships the same picture as Adobe CMYK and as RGB.
  const fs::path cmyk = kJpegDir / "pillow" / "pil_sample_cmyk.jpg";
  const fs::path rgb = kJpegDir / "pillow" / "pil_sample_rgb.jpg";
  if (!fs::exists(cmyk) || !fs::exists(rgb)) GTEST_SKIP();
  TReadOutcome c = LoadJpeg(ReadFileBytes(cmyk));
  TReadOutcome r = LoadJpeg(ReadFileBytes(rgb));
  ASSERT_FALSE(c.Aborting);
  EXPECT_TRUE(c.Params.JPEG_ColorSpace == ioJPEG_CMYK || c.Params.JPEG_ColorSpace == ioJPEG_YCbCrK);
  EXPECT_EQ(c.Params.BitsPerSample, 8);
  EXPECT_EQ(c.Params.SamplesPerPixel, 3);
  ASSERT_EQ(c.Bitmap.Width(), r.Bitmap.Width());
  ASSERT_EQ(c.Bitmap.Height(), r.Bitmap.Height());
  EXPECT_LT(MeanAbsDifference(c.Bitmap, r.Bitmap), 12.0);
}

TEST(JpegRead, ProgressiveAndRestartMarkerFilesDecode) {
  const fs::path prog = kJpegDir / "zigimg" / "tuba_restart_prog.jpg";
  const fs::path base = kJpegDir / "zigimg" / "tuba.jpg";
  if (!fs::exists(prog) || !fs::exists(base)) GTEST_SKIP();
  TReadOutcome p = LoadJpeg(ReadFileBytes(prog));
  TReadOutcome b = LoadJpeg(ReadFileBytes(base));
  ASSERT_FALSE(p.Aborting);
  EXPECT_TRUE(p.Params.JPEG_Progressive);
  EXPECT_FALSE(b.Params.JPEG_Progressive);
  ASSERT_EQ(p.Bitmap.Width(), b.Bitmap.Width());
  EXPECT_LT(MeanAbsDifference(p.Bitmap, b.Bitmap), 4.0);
}

TEST(JpegRead, DensityInDotsPerCentimetreIsConvertedToDpi) {
  TBitmap bmp(16, 16);
  TIOParamsVals params;
  std::vector<uint8_t> bytes = SaveJpeg(bmp, params);
  // Our files start with a JFIF segment: units at 13, densities at 14 and 16.
  ASSERT_EQ(std::memcmp(&bytes[6], "JFIF", 4), 0);
  bytes[13] = 2;
  bytes[14] = 0, bytes[15] = 118, bytes[16] = 0, bytes[17] = 50;
  TReadOutcome l = LoadJpeg(bytes);
  EXPECT_EQ(l.Params.DpiX, 299);
  EXPECT_EQ(l.Params.DpiY, 127);
  // Unit 0 is only an aspect ratio: the resolution falls back to the screen's.
  bytes[13] = 0;
  l = LoadJpeg(bytes);
  EXPECT_EQ(l.Params.DpiX, gSystemDPIX);
}

TEST(JpegRead, AutomaticScalePicksTheClosestDenominator) {
  TBitmap bmp = VXMakeSampleImage(640, 480, 9);
  TIOParamsVals wp;
  const std::vector<uint8_t> bytes = SaveJpeg(bmp, wp);
  struct Case {
    int wantW, wantH, gotW, gotH;
  };
  const Case cases[] = {{0, 0, 640, 480}, {160, 120, 160, 120}, {330, 250, 320, 240},
                        {1, 1, 80, 60},   {5000, 5000, 640, 480}, {0, 100, 640, 480}};
  for (const Case& c : cases) {
    TIOParamsVals p;
    p.JPEG_Scale = ioJPEG_AUTOCALC;
    p.Width = c.wantW;
    p.Height = c.wantH;
    TReadOutcome l = LoadJpeg(bytes, p);
    EXPECT_EQ(l.Bitmap.Width(), c.gotW) << c.wantW << "x" << c.wantH;
    EXPECT_EQ(l.Bitmap.Height(), c.gotH) << c.wantW << "x" << c.wantH;
    EXPECT_EQ(l.Params.Width, c.gotW);
  }
  const std::pair<TIOJPEGScale, int> fixed[] = {{ioJPEG_FULLSIZE, 640}, {ioJPEG_HALF, 320}, {ioJPEG_QUARTER, 160}, {ioJPEG_EIGHTH, 80}};
  for (auto [scale, width] : fixed) {
    TIOParamsVals p;
    p.JPEG_Scale = scale;
    EXPECT_EQ(LoadJpeg(bytes, p).Bitmap.Width(), width);
  }
}

TEST(JpegRead, PreviewReadsOnlyTheHeader) {
  TBitmap src = VXMakeSampleImage(90, 70, 2);
  TIOParamsVals wp;
  wp.JPEG_Progressive = true;
  wp.DpiX = wp.DpiY = 150;
  std::vector<uint8_t> bytes = SaveJpeg(src, wp);
  // Cut the entropy-coded data: a preview must not need it.
  bytes.resize(bytes.size() / 3);
  TMemoryStream s(bytes.data(), bytes.size());
  TBitmap bmp(2, 2);
  bmp.Fill(CreateRGB(1, 2, 3));
  TIOParamsVals p;
  TAbortFlag pr;
  ReadJPegStream(s, bmp, p, true, pr);
  EXPECT_FALSE(pr.Aborting);
  EXPECT_EQ(p.Width, 90);
  EXPECT_EQ(p.Height, 70);
  EXPECT_EQ(p.DpiX, 150);
  EXPECT_TRUE(p.JPEG_Progressive);
  EXPECT_EQ(p.JPEG_ColorSpace, ioJPEG_YCbCr);
  EXPECT_EQ(bmp.Width(), 2);
  EXPECT_EQ(bmp.GetPixel(1, 1), CreateRGB(1, 2, 3));
}

TEST(JpegMalformed, NotAJpegSetsAbortingAndLeavesTheBitmap) {
  const uint8_t junk[] = {0xFF, 0xD8, 0x00, 0x11, 0x22};
  TMemoryStream s(junk, sizeof junk);
  TBitmap bmp(4, 4);
  bmp.Fill(CreateRGB(7, 7, 7));
  TIOParamsVals p;
  TAbortFlag pr;
  ReadJPegStream(s, bmp, p, false, pr);
  EXPECT_TRUE(pr.Aborting);
  EXPECT_EQ(bmp.GetPixel(3, 3), CreateRGB(7, 7, 7));
  EXPECT_EQ(s.Position(), 0);
}

TEST(JpegMalformed, TruncatedFileKeepsTheRowsDecodedAndSetsAborting) {
  TBitmap src = VXMakeSampleImage(256, 256, 6);
  TIOParamsVals wp;
  wp.JPEG_Quality = 90;
  std::vector<uint8_t> bytes = SaveJpeg(src, wp);
  TReadOutcome full = LoadJpeg(bytes);
  bytes.resize(bytes.size() / 2);
  TReadOutcome cut = LoadJpeg(bytes);
  EXPECT_TRUE(cut.Aborting);
  ASSERT_EQ(cut.Bitmap.Height(), 256);
  for (int y = 0; y < 32; ++y) ASSERT_EQ(std::memcmp(cut.Bitmap.ScanLine(y), full.Bitmap.ScanLine(y), 256 * 3), 0);
  // The bottom row was never delivered.
  const TBitmap blank(256, 1);
  EXPECT_EQ(std::memcmp(cut.Bitmap.ScanLine(255), blank.ScanLine(0), 256 * 3), 0);
}

TEST(JpegMalformed, TruncatedScanSetsAbortingButACutMarkerSegmentIsRecovered) {
  const fs::path scan = kJpegDir / "bad" / "pillow" / "truncated_jpeg.jpg";
  const fs::path app14 = kJpegDir / "bad" / "pillow" / "truncated_app14.jpg";
  if (!fs::exists(scan) || !fs::exists(app14)) GTEST_SKIP();
  EXPECT_TRUE(LoadJpeg(ReadFileBytes(scan)).Aborting);
  // The library resynchronises after the short APP14 segment and delivers the
  // whole image; only a warning is raised, so the image counts as read.
  const std::vector<uint8_t> bytes = ReadFileBytes(app14);
  RefImage ref;
  ASSERT_TRUE(DecodeReference(bytes, ref));
  TReadOutcome l = LoadJpeg(bytes);
  EXPECT_FALSE(l.Aborting);
  EXPECT_EQ(l.Bitmap.Width(), ref.width);
  EXPECT_EQ(MaxDifference(BitmapRgb(l.Bitmap), ref.pixels), 0);
}

// Patches the frame header's height and width (baseline or progressive).
void DeclareSize(std::vector<uint8_t>& bytes, int width, int height) {
  for (size_t i = 2; i + 9 < bytes.size(); ++i)
    if (bytes[i] == 0xFF && (bytes[i + 1] == 0xC0 || bytes[i + 1] == 0xC2)) {
      bytes[i + 5] = static_cast<uint8_t>(height >> 8), bytes[i + 6] = static_cast<uint8_t>(height);
      bytes[i + 7] = static_cast<uint8_t>(width >> 8), bytes[i + 8] = static_cast<uint8_t>(width);
      return;
    }
  FAIL() << "no frame header";
}

TEST(JpegMalformed, MoreDeclaredRowsThanTheDataHoldIsReported) {
  // The data ends with a proper end-of-image marker, so only the library's warning
  // tells that the lower rows were filled with grey.
  TIOParamsVals wp;
  TBitmap src = VXMakeSampleImage(64, 32, 3);
  std::vector<uint8_t> bytes = SaveJpeg(src, wp);
  DeclareSize(bytes, 64, 96);
  TReadOutcome l = LoadJpeg(bytes);
  EXPECT_TRUE(l.Aborting);
  EXPECT_EQ(l.Bitmap.Height(), 96);
}

TEST(JpegMalformed, ATinyProgressiveFileCannotClaimGigabytes) {
  // 18000 x 18000 declared in a few hundred bytes: the coefficient buffers alone
  // would take about 1.9 GB on top of a bitmap just under the default limit.
  TIOParamsVals wp;
  wp.JPEG_Progressive = true;
  TBitmap src = VXMakeSampleImage(16, 16, 1);
  std::vector<uint8_t> bytes = SaveJpeg(src, wp);
  DeclareSize(bytes, 18000, 18000);
  ASSERT_LT(bytes.size(), 2000u);
  TReadOutcome l = LoadJpeg(bytes);
  EXPECT_TRUE(l.Aborting);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const uint64_t peak = static_cast<uint64_t>(usage.ru_maxrss) * 1024;
  EXPECT_LT(peak, VXGetMaxBitmapBytes() + (64u << 20));
}

TEST(JpegMalformed, AbortFromTheProgressEventStopsDecoding) {
  TBitmap src = VXMakeSampleImage(64, 64, 1);
  TIOParamsVals wp;
  const std::vector<uint8_t> bytes = SaveJpeg(src, wp);
  TMemoryStream s(bytes.data(), bytes.size());
  TBitmap bmp;
  TIOParamsVals p;
  TAbortFlag pr;
  pr.Watch(INT_MIN);
  ReadJPegStream(s, bmp, p, false, pr);
  EXPECT_EQ(pr.Seen.size(), 1u);
  EXPECT_LT(pr.Rec.Done, 64);
}

TEST(JpegWrite, RgbColourSpaceStoresRedGreenBlueInThatOrder) {
  TBitmap bmp(32, 16);
  bmp.Fill(CreateRGB(230, 120, 10));
  TIOParamsVals p;
  p.JPEG_ColorSpace = ioJPEG_RGB;
  p.JPEG_Quality = 95;
  const std::vector<uint8_t> bytes = SaveJpeg(bmp, p);
  RefImage raw;
  ASSERT_TRUE(DecodeReference(bytes, raw, true));
  EXPECT_EQ(raw.fileSpace, JCS_RGB);
  ASSERT_EQ(raw.components, 3);
  EXPECT_NEAR(raw.pixels[0], 230, 2);
  EXPECT_NEAR(raw.pixels[1], 120, 2);
  EXPECT_NEAR(raw.pixels[2], 10, 2);
  TReadOutcome l = LoadJpeg(bytes);
  EXPECT_EQ(l.Params.JPEG_ColorSpace, ioJPEG_RGB);
  const TRGB c = l.Bitmap.GetPixel(5, 5);
  EXPECT_NEAR(c.r, 230, 2);
  EXPECT_NEAR(c.g, 120, 2);
  EXPECT_NEAR(c.b, 10, 2);
}

TEST(JpegWrite, QualityChangesTheSizeMonotonically) {
  TBitmap bmp = VXMakeSampleImage(200, 150, 4);
  size_t previous = 0;
  for (int q : {10, 30, 50, 70, 90, 100}) {
    TIOParamsVals p;
    p.JPEG_Quality = q;
    const size_t size = SaveJpeg(bmp, p).size();
    EXPECT_GT(size, previous) << "quality " << q;
    previous = size;
  }
}

TEST(JpegRoundTrip, EveryColourSpaceAndOptionReadsBackClose) {
  TBitmap bmp = VXMakeSampleImage(120, 90, 8);
  struct Case {
    TIOJPEGColorspace space;
    bool progressive, optimal;
    TIOJPEGDctMethod dct;
    int smooth;
  };
  const Case cases[] = {{ioJPEG_YCbCr, false, false, ioJPEG_ISLOW, 0}, {ioJPEG_YCbCr, true, true, ioJPEG_IFAST, 0},
                        {ioJPEG_RGB, false, true, ioJPEG_FLOAT, 0},    {ioJPEG_CMYK, false, false, ioJPEG_ISLOW, 0},
                        {ioJPEG_YCbCrK, true, false, ioJPEG_ISLOW, 0}, {ioJPEG_YCbCr, false, false, ioJPEG_ISLOW, 40}};
  for (const Case& c : cases) {
    TIOParamsVals p;
    p.JPEG_ColorSpace = c.space;
    p.JPEG_Progressive = c.progressive;
    p.JPEG_OptimalHuffman = c.optimal;
    p.JPEG_DCTMethod = c.dct;
    p.JPEG_Smooth = c.smooth;
    p.JPEG_Quality = 92;
    TReadOutcome l = LoadJpeg(SaveJpeg(bmp, p));
    ASSERT_FALSE(l.Aborting);
    EXPECT_EQ(l.Params.JPEG_ColorSpace, c.space);
    EXPECT_EQ(l.Params.JPEG_Progressive, c.progressive);
    ASSERT_EQ(l.Bitmap.Width(), 120);
    EXPECT_LT(MeanAbsDifference(l.Bitmap, bmp), c.smooth ? 10.0 : 6.0) << int(c.space);
  }
  // Grey keeps the luminance only.
  TIOParamsVals g;
  g.JPEG_ColorSpace = ioJPEG_GRAYLEV;
  TReadOutcome l = LoadJpeg(SaveJpeg(bmp, g));
  EXPECT_EQ(l.Params.JPEG_ColorSpace, ioJPEG_GRAYLEV);
  const TRGB c = l.Bitmap.GetPixel(60, 45);
  EXPECT_TRUE(c.r == c.g && c.g == c.b);
}

TEST(JpegWrite, OneBitBitmapIsWrittenAsBlackAndWhite) {
  TBitmap bmp(16, 16, pf1bit);
  for (int x = 8; x < 16; ++x)
    for (int y = 0; y < 16; ++y) _SetPixelbw(bmp.ScanLine(y), x, 1);
  TIOParamsVals p;
  p.JPEG_Quality = 95;
  TReadOutcome l = LoadJpeg(SaveJpeg(bmp, p));
  EXPECT_LT(l.Bitmap.GetPixel(2, 8).g, 20);
  EXPECT_GT(l.Bitmap.GetPixel(13, 8).g, 235);
  EXPECT_EQ(bmp.PixelFormat(), pf1bit) << "the caller's bitmap is left as it was";
}

TEST(JpegWrite, EmptyBitmapSetsAborting) {
  TBitmap bmp;
  TIOParamsVals p;
  TMemoryStream s;
  TAbortFlag pr;
  WriteJPegStream(s, bmp, p, pr);
  EXPECT_TRUE(pr.Aborting);
}


TEST(JpegWrite, StreamErrorReachesTheCallerAsItself) {
  TBitmap bmp = VXMakeSampleImage(400, 400, 1);
  TIOParamsVals p;
  TFailingStream s(1000);
  TAbortFlag pr;
  EXPECT_THROW(WriteJPegStream(s, bmp, p, pr), EWriteError);
  EXPECT_FALSE(pr.Aborting);
}
