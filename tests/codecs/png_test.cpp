#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/pixels.h"
#include "support/read_harness.h"
#include "vexa/codecs/png.h"
#include "vexa/core/sample.h"

using namespace vexa;
using namespace vexa::test;
namespace fs = std::filesystem;

namespace {

const fs::path kPngDir = fs::path(VEXA_TESTDATA_DIR) / "png";

std::vector<uint8_t> ReadFileBytes(const fs::path& p) { return vexa::test::ReadFileBytes(p.string()); }

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> out;
  for (const std::string& f : DataFiles(fs::relative(dir, VEXA_TESTDATA_DIR).string(), {".png"}, true))
    out.push_back(TestData(f));
  return out;
}

// The reference decoder converts colours to sRGB when a file states its gamma or
// colour space, which our adapter deliberately does not; without those chunks it
// passes samples through.
std::vector<uint8_t> WithoutColourChunks(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out(in.begin(), in.begin() + 8);
  size_t pos = 8;
  while (pos + 12 <= in.size()) {
    const uint32_t len = (uint32_t{in[pos]} << 24) | (uint32_t{in[pos + 1]} << 16) | (uint32_t{in[pos + 2]} << 8) | in[pos + 3];
    const size_t total = 12 + static_cast<size_t>(len);
    if (pos + total > in.size()) break;
    const std::string type(reinterpret_cast<const char*>(&in[pos + 4]), 4);
    if (type != "gAMA" && type != "cHRM" && type != "sRGB" && type != "iCCP")
      out.insert(out.end(), in.begin() + static_cast<long>(pos), in.begin() + static_cast<long>(pos + total));
    pos += total;
  }
  return out;
}

// libpng's simplified API as the independent decoder: RGB and alpha apart.
bool DecodeReference(const std::vector<uint8_t>& file, TRefImage& ref) {
  const std::vector<uint8_t> data = WithoutColourChunks(file);
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&img, data.data(), data.size())) return false;
  img.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  img.format = PNG_FORMAT_RGBA;
  ref.Width = static_cast<int>(img.width);
  ref.Height = static_cast<int>(img.height);
  std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, rgba.data(), 0, nullptr)) {
    png_image_free(&img);
    return false;
  }
  ref.Rgb.clear();
  ref.Alpha.clear();
  for (size_t i = 0; i < rgba.size(); i += 4) {
    ref.Rgb.insert(ref.Rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
    ref.Alpha.push_back(rgba[i + 3]);
  }
  return true;
}

/// The reference's pixels composed over a background, as our reader shows transparency.
void Compose(TRefImage& ref, TRGB bg) {
  const uint8_t back[3] = {bg.r, bg.g, bg.b};
  for (size_t i = 0; i < ref.Rgb.size(); ++i) {
    const int a = ref.Alpha[i / 3];
    ref.Rgb[i] = static_cast<uint8_t>((ref.Rgb[i] * a + back[i % 3] * (255 - a) + 127) / 255);
  }
}

TReadOutcome LoadPng(const std::vector<uint8_t>& bytes, TRGB background = {}) {
  TMemoryStream s(bytes.data(), bytes.size());
  TReadOutcome start;
  start.Params.PNG_Background = background;
  return ReadWith([&](TReadOutcome& o, TProgressRec& pr) { ReadPNGStream(s, o.Bitmap, o.Params, false, pr); },
                  std::move(start));
}

std::vector<uint8_t> SavePng(TBitmap& bmp, TIOParamsVals& params) {
  bool aborted = true;
  std::vector<uint8_t> bytes =
      WrittenBytes([&](TStream& s, TProgressRec& pr) { WritePNGStream(s, bmp, params, pr); }, &aborted);
  EXPECT_FALSE(aborted);
  return bytes;
}

// Chunk data of the first chunk of a type, empty when absent.
std::vector<uint8_t> ChunkData(const std::vector<uint8_t>& file, const char* type) {
  size_t pos = 8;
  while (pos + 12 <= file.size()) {
    const uint32_t len = (uint32_t{file[pos]} << 24) | (uint32_t{file[pos + 1]} << 16) | (uint32_t{file[pos + 2]} << 8) | file[pos + 3];
    if (std::memcmp(&file[pos + 4], type, 4) == 0 && pos + 12 + len <= file.size())
      return std::vector<uint8_t>(file.begin() + static_cast<long>(pos + 8), file.begin() + static_cast<long>(pos + 8 + len));
    pos += 12 + static_cast<size_t>(len);
  }
  return {};
}

uint32_t BigEndian32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }

// A background no file uses, so composition shows in every transparent pixel.
const TRGB kRequested = CreateRGB(40, 120, 200);

const TReadFormat kPng = [] {
  TReadFormat f;
  f.Name = "PNG";
  f.Read = [](const std::string& path, int) { return LoadPng(ReadFileBytes(path), kRequested); };
  f.Reference = [](const std::string& path, int, TRefImage& ref) {
    // The simplified API of libpng 1.6 garbles interlaced 16-bit files; PngSuite's
    // non-interlaced twin (basi -> basn) holds the same pixels.
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    fs::path refFile = path;
    if (bytes.size() > 28 && bytes[24] == 16 && bytes[28] == 1) {
      std::string name = refFile.filename().string();
      name[3] = 'n';
      refFile = refFile.parent_path() / name;
      if (!fs::exists(refFile)) {
        ref.Skip = "no non-interlaced twin to compare with";
        return false;
      }
    }
    return DecodeReference(ReadFileBytes(refFile), ref);
  };
  f.Align = [](const TReadOutcome& ours, TRefImage& ref, std::vector<uint8_t>&, int& tolerance) {
    // PNG_Background now holds the file's background chunk when there is one.
    Compose(ref, ours.Params.PNG_Background);
    // 16-bit samples are truncated by us and rounded by the reference.
    tolerance = ours.Params.BitsPerSample == 16 ? 1 : 0;
  };
  return f;
}();

}  // namespace

VEXA_READ_SUITE(PngSuiteRead, FolderCases(kPng, {"png/pngsuite", "png/image-rs"}, {".png"}, true));

TEST(PngMalformed, EveryCorruptFileSetsAborting) {
  const auto files = FilesIn(kPngDir / "bad");
  if (files.empty()) GTEST_SKIP() << "no corrupt PNG files";
  for (const auto& p : files) {
    TReadOutcome l = LoadPng(ReadFileBytes(p));
    EXPECT_TRUE(l.Aborting) << p.filename();
  }
}

TEST(PngMalformed, TruncatedFileKeepsTheRowsReadAndSetsAborting) {
  TBitmap bmp = VXMakeSampleImage(300, 200, 4);
  TIOParamsVals params;
  params.PNG_Compression = 0;
  const std::vector<uint8_t> full = SavePng(bmp, params);
  const std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(full.size() / 2));
  TReadOutcome l = LoadPng(cut);
  EXPECT_TRUE(l.Aborting);
  ASSERT_EQ(l.Bitmap.Height(), 200);
  // Stored (level 0) deflate data puts the top rows in the first half.
  for (int y = 0; y < 40; ++y) ASSERT_EQ(std::memcmp(l.Bitmap.ScanLine(y), bmp.ScanLine(y), 300 * 3), 0) << "row " << y;
  // Nothing beyond the cut was invented.
  const TBitmap blank(300, 1);
  EXPECT_EQ(std::memcmp(l.Bitmap.ScanLine(199), blank.ScanLine(0), 300 * 3), 0);
}

TEST(PngMalformed, AbsurdSizeIsRefusedBeforeAllocating) {
  // A valid header for 60000 x 60000 RGB, then nothing.
  TBitmap small(8, 8);
  TIOParamsVals params;
  std::vector<uint8_t> bytes = SavePng(small, params);
  const std::vector<uint8_t> ihdr = ChunkData(bytes, "IHDR");
  ASSERT_EQ(ihdr.size(), 13u);
  uint8_t* h = &bytes[16];
  for (int i = 0; i < 2; ++i) {
    h[i * 4] = 0, h[i * 4 + 1] = 0, h[i * 4 + 2] = 0xEA, h[i * 4 + 3] = 0x60;
  }
  const uint32_t crc = static_cast<uint32_t>(crc32(crc32(0, nullptr, 0), &bytes[12], 17));
  bytes[29] = static_cast<uint8_t>(crc >> 24), bytes[30] = static_cast<uint8_t>(crc >> 16);
  bytes[31] = static_cast<uint8_t>(crc >> 8), bytes[32] = static_cast<uint8_t>(crc);
  const uint64_t oldLimit = VXGetMaxBitmapBytes();
  VXSetMaxBitmapBytes(64u << 20);
  TReadOutcome l = LoadPng(bytes);
  VXSetMaxBitmapBytes(oldLimit);
  EXPECT_TRUE(l.Aborting);
  EXPECT_TRUE(l.Bitmap.Empty());
}

TEST(PngRead, OneBitGreyStaysPackedAndColouredOneBitDoesNot) {
  const fs::path grey = kPngDir / "pngsuite" / "basn0g01.png";
  const fs::path pal = kPngDir / "pngsuite" / "basn3p01.png";
  if (!fs::exists(grey) || !fs::exists(pal)) GTEST_SKIP();
  TReadOutcome g = LoadPng(ReadFileBytes(grey));
  EXPECT_EQ(g.Bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(g.Params.BitsPerSample, 1);
  EXPECT_EQ(g.Params.SamplesPerPixel, 1);
  // basn3p01 has a two-entry palette of colours, which pf1bit could not show.
  TReadOutcome p = LoadPng(ReadFileBytes(pal));
  EXPECT_EQ(p.Bitmap.PixelFormat(), pf24bit);
  ASSERT_EQ(p.Params.ColorMapCount, 2);
  const TRGB c = p.Bitmap.GetPixel(0, 0);
  EXPECT_TRUE(c == p.Params.ColorMap[0] || c == p.Params.ColorMap[1]);
}

TEST(PngRead, SixteenBitRgbReportsItsDepth) {
  const fs::path f = kPngDir / "pngsuite" / "basn2c16.png";
  if (!fs::exists(f)) GTEST_SKIP();
  TReadOutcome l = LoadPng(ReadFileBytes(f));
  EXPECT_EQ(l.Bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(l.Params.BitsPerSample, 16);
  EXPECT_EQ(l.Params.SamplesPerPixel, 3);
}

TEST(PngRead, BackgroundChunkBecomesPngBackgroundAtEightBits) {
  struct Case {
    const char* file;
    TRGB expected;
  };
  // White and black at 8 bits, yellow and grey at 16 bits (PngSuite's bg* files).
  const Case cases[] = {{"bgwn6a08.png", CreateRGB(255, 255, 255)},
                        {"bgbn4a08.png", CreateRGB(0, 0, 0)},
                        {"bgyn6a16.png", CreateRGB(255, 255, 0)},
                        {"bggn4a16.png", CreateRGB(171, 171, 171)}};
  for (const Case& c : cases) {
    const fs::path f = kPngDir / "pngsuite" / c.file;
    if (!fs::exists(f)) continue;
    TReadOutcome l = LoadPng(ReadFileBytes(f), CreateRGB(1, 2, 3));
    EXPECT_EQ(l.Params.PNG_Background, c.expected) << c.file;
  }
}

TEST(PngRead, AlphaWithoutBackgroundChunkIsComposedOverPngBackground) {
  const fs::path f = kPngDir / "pngsuite" / "basn6a08.png";
  if (!fs::exists(f)) GTEST_SKIP();
  const std::vector<uint8_t> bytes = ReadFileBytes(f);
  TRefImage ref;
  ASSERT_TRUE(DecodeReference(bytes, ref));
  const TRGB red = CreateRGB(255, 0, 0);
  TReadOutcome l = LoadPng(bytes, red);
  EXPECT_EQ(l.Params.PNG_Background, red);
  // The top-left pixel is fully transparent in this file.
  EXPECT_EQ(ref.Alpha[0], 0);
  Compose(ref, red);
  EXPECT_LE(MaxDifference(BitmapRgb(l.Bitmap), ref.Rgb), 1);
  EXPECT_EQ(l.Bitmap.GetPixel(0, 0), red);
}

TEST(PngRead, InterlacedFileReportsProgressOverSevenPasses) {
  const fs::path f = kPngDir / "pngsuite" / "basi0g08.png";
  if (!fs::exists(f)) GTEST_SKIP();
  const std::vector<uint8_t> bytes = ReadFileBytes(f);
  TMemoryStream s(bytes.data(), bytes.size());
  TBitmap bmp;
  TIOParamsVals params;
  TAbortFlag pr;
  pr.Watch();
  ReadPNGStream(s, bmp, params, false, pr);
  EXPECT_FALSE(pr.Aborting);
  EXPECT_TRUE(params.PNG_Interlaced);
  EXPECT_EQ(pr.Seen.size(), 7u * 32u);
  EXPECT_TRUE(std::is_sorted(pr.Seen.begin(), pr.Seen.end()));
  EXPECT_EQ(pr.Seen.back(), 100);
}

TEST(PngRead, AbortFromTheProgressEventStopsReading) {
  const fs::path f = kPngDir / "pngsuite" / "basn2c08.png";
  if (!fs::exists(f)) GTEST_SKIP();
  const std::vector<uint8_t> bytes = ReadFileBytes(f);
  TMemoryStream s(bytes.data(), bytes.size());
  TBitmap bmp;
  TIOParamsVals params;
  TAbortFlag pr;
  pr.Watch(INT_MIN);
  ReadPNGStream(s, bmp, params, false, pr);
  EXPECT_EQ(pr.Seen.size(), 1u);
  EXPECT_EQ(bmp.Height(), 32);
}

TEST(PngRead, PreviewFillsParametersAndLeavesTheBitmap) {
  const fs::path f = kPngDir / "pngsuite" / "basi3p08.png";
  if (!fs::exists(f)) GTEST_SKIP();
  const std::vector<uint8_t> bytes = ReadFileBytes(f);
  TMemoryStream s(bytes.data(), bytes.size());
  TBitmap bmp(3, 2);
  bmp.Fill(CreateRGB(9, 8, 7));
  TIOParamsVals params;
  TAbortFlag pr;
  ReadPNGStream(s, bmp, params, true, pr);
  EXPECT_FALSE(pr.Aborting);
  EXPECT_EQ(params.Width, 32);
  EXPECT_EQ(params.Height, 32);
  EXPECT_TRUE(params.PNG_Interlaced);
  EXPECT_EQ(params.ColorMapCount, 256);
  EXPECT_EQ(bmp.Width(), 3);
  EXPECT_EQ(bmp.GetPixel(2, 1), CreateRGB(9, 8, 7));
}

TEST(PngSniff, SignatureIsRecognisedAndThePositionRestored) {
  const uint8_t sig[] = {137, 80, 78, 71, 13, 10, 26, 10, 0};
  TMemoryStream good(sig, sizeof sig);
  EXPECT_TRUE(IsPNGStream(good));
  EXPECT_EQ(good.Position(), 0);
  TMemoryStream shortStream(sig, 5);
  shortStream.SetPosition(2);
  EXPECT_FALSE(IsPNGStream(shortStream));
  EXPECT_EQ(shortStream.Position(), 2);
}

TEST(PngRoundTrip, TwentyFourBitSurvivesWriteThenReadWithEveryFilterAndInterlace) {
  TBitmap bmp = VXMakeSampleImage(67, 45, 3);
  for (TIOPNGFilter filter : {ioPNG_FILTER_NONE, ioPNG_FILTER_SUB, ioPNG_FILTER_PAETH})
    for (bool interlaced : {false, true}) {
      TIOParamsVals params;
      params.PNG_Filter = filter;
      params.PNG_Interlaced = interlaced;
      TReadOutcome l = LoadPng(SavePng(bmp, params));
      ASSERT_FALSE(l.Aborting);
      EXPECT_EQ(l.Params.PNG_Interlaced, interlaced);
      ASSERT_EQ(l.Bitmap.Width(), 67);
      ASSERT_EQ(l.Bitmap.Height(), 45);
      for (int y = 0; y < 45; ++y)
        ASSERT_EQ(std::memcmp(l.Bitmap.ScanLine(y), bmp.ScanLine(y), 67 * 3), 0) << "row " << y;
    }
}

TEST(PngRoundTrip, OneBitBitmapSurvivesExactly) {
  TBitmap bmp(29, 7, pf1bit);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 29; ++x)
      if ((x * y + x) % 3 == 0) _SetPixelbw(bmp.ScanLine(y), x, 1);
  TIOParamsVals params;
  params.BitsPerSample = 1;
  params.SamplesPerPixel = 1;
  TReadOutcome l = LoadPng(SavePng(bmp, params));
  ASSERT_EQ(l.Bitmap.PixelFormat(), pf1bit);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 29; ++x)
      EXPECT_EQ(!!_GetPixelbw(l.Bitmap.ScanLine(y), x), !!_GetPixelbw(bmp.ScanLine(y), x));
}

TEST(PngWrite, TwoColourBitmapBecomesOneBitWithTheDarkerColourBlack) {
  TBitmap bmp(10, 4);
  bmp.Fill(CreateRGB(250, 250, 10));  // light
  bmp.SetPixel(3, 1, CreateRGB(0, 0, 120));
  TIOParamsVals params;
  params.BitsPerSample = 1;
  params.SamplesPerPixel = 1;
  TReadOutcome l = LoadPng(SavePng(bmp, params));
  ASSERT_EQ(l.Bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(l.Bitmap.GetPixel(3, 1), CreateRGB(0, 0, 0));
  EXPECT_EQ(l.Bitmap.GetPixel(0, 0), CreateRGB(255, 255, 255));
}

TEST(PngWrite, ManyColoursAreDitheredToBlackAndWhite) {
  TBitmap bmp(16, 8);
  for (int x = 0; x < 16; ++x)
    for (int y = 0; y < 8; ++y) bmp.SetPixel(x, y, x < 8 ? CreateRGB(10, 20, 30) : CreateRGB(240, 250, 230 + y));
  TIOParamsVals params;
  params.BitsPerSample = 1;
  params.SamplesPerPixel = 1;
  TReadOutcome l = LoadPng(SavePng(bmp, params));
  ASSERT_EQ(l.Bitmap.PixelFormat(), pf1bit);
  int whiteLeft = 0, whiteRight = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      whiteLeft += !!_GetPixelbw(l.Bitmap.ScanLine(y), x);
      whiteRight += !!_GetPixelbw(l.Bitmap.ScanLine(y), x + 8);
    }
  EXPECT_LT(whiteLeft, 8);
  EXPECT_GT(whiteRight, 56);
}

TEST(PngWrite, OneSamplePerPixelFromTwentyFourBitsGivesAFullPalette) {
  TBitmap bmp = VXMakeSampleImage(64, 48, 5);
  TIOParamsVals params;
  params.BitsPerSample = 8;
  params.SamplesPerPixel = 1;
  const std::vector<uint8_t> bytes = SavePng(bmp, params);
  EXPECT_EQ(ChunkData(bytes, "PLTE").size(), 256u * 3);
  EXPECT_EQ(ChunkData(bytes, "bKGD").size(), 1u);
  TReadOutcome l = LoadPng(bytes);
  ASSERT_FALSE(l.Aborting);
  EXPECT_EQ(l.Params.ColorMapCount, 256);
  EXPECT_EQ(l.Params.SamplesPerPixel, 1);
  // Every pixel is a palette colour close to the original.
  long total = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const TRGB a = l.Bitmap.GetPixel(x, y), b = bmp.GetPixel(x, y);
      total += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
      ASSERT_NE(std::find(l.Params.ColorMap.begin(), l.Params.ColorMap.end(), a), l.Params.ColorMap.end());
    }
  EXPECT_LT(total / (64 * 48), 30);
}

TEST(PngWrite, ResolutionAndBackgroundChunksReadBack) {
  TBitmap bmp(5, 5);
  TIOParamsVals params;
  params.DpiX = 96;
  params.DpiY = 300;
  params.PNG_Background = CreateRGB(200, 100, 50);
  const std::vector<uint8_t> bytes = SavePng(bmp, params);
  const std::vector<uint8_t> phys = ChunkData(bytes, "pHYs");
  ASSERT_EQ(phys.size(), 9u);
  EXPECT_EQ(BigEndian32(&phys[0]), 3780u);
  EXPECT_EQ(BigEndian32(&phys[4]), 11811u);
  EXPECT_EQ(phys[8], 1);
  TReadOutcome l = LoadPng(bytes);
  EXPECT_EQ(l.Params.DpiX, 96);
  EXPECT_EQ(l.Params.DpiY, 300);
  EXPECT_EQ(l.Params.PNG_Background, CreateRGB(200, 100, 50));
}

TEST(PngWrite, HigherCompressionLevelIsNotLarger) {
  TBitmap bmp = VXMakeSampleImage(128, 96, 2);
  TIOParamsVals fast, best;
  fast.PNG_Compression = 0;
  best.PNG_Compression = 9;
  EXPECT_LT(SavePng(bmp, best).size(), SavePng(bmp, fast).size());
}

TEST(PngWrite, EmptyBitmapRaisesInvalidGraphic) {
  TBitmap bmp;
  TIOParamsVals params;
  TMemoryStream s;
  try {
    WritePNGStream(s, bmp, params, nullpr);
    FAIL() << "no exception";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Error on creating PNG");
  }
}


TEST(PngWrite, StreamErrorReachesTheCallerAsItself) {
  TBitmap bmp = VXMakeSampleImage(64, 64, 1);
  TIOParamsVals params;
  TFailingStream s(100);
  EXPECT_THROW(WritePNGStream(s, bmp, params, nullpr), EWriteError);
}

// ---------------------------------------------------------------------------------------------
// Transparency in every colour type and depth, written by netpbm's pnmtopng and composed by its
// pngtopnm -mix as the reference: grey 1/2/4/8/16 and RGB 8/16 with a transparent colour, grey
// and RGB with alpha, palettes with a transparent entry or partial alpha; each with and without
// a background chunk and a gamma chunk.

namespace {

enum class TTrans { Colour, Alpha };

struct TNetpbmCase {
  int Maxval;
  bool Rgb;
  TTrans Trans;
  bool Palette;  // few colours, written as a palette
  bool Background = false, Gamma = false;
};

void PrintTo(const TNetpbmCase& c, std::ostream* os) {
  *os << (c.Palette ? "palette" : c.Rgb ? "rgb" : "grey") << " maxval " << c.Maxval
      << (c.Trans == TTrans::Alpha ? " alpha" : " tRNS") << (c.Background ? " bKGD" : "") << (c.Gamma ? " gAMA" : "");
}

struct TPnm {
  int Width = 0, Height = 0, Maxval = 0, Channels = 0;
  std::vector<int> Samples;
};

// Binary PBM, PGM and PPM as netpbm writes them (one header line each field, no comments).
bool ParsePnm(const std::string& data, TPnm& pnm) {
  std::istringstream in(data);
  std::string magic;
  in >> magic >> pnm.Width >> pnm.Height;
  if (magic == "P4") {
    pnm.Maxval = 1;
  } else if (!(in >> pnm.Maxval)) {
    return false;
  }
  in.get();
  const size_t n = static_cast<size_t>(pnm.Width) * pnm.Height;
  std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto byte = [&](size_t i) { return static_cast<uint8_t>(body[i]); };
  if (magic == "P4") {
    pnm.Channels = 1;
    const size_t row = (static_cast<size_t>(pnm.Width) + 7) / 8;
    if (body.size() < row * pnm.Height) return false;
    for (int y = 0; y < pnm.Height; ++y)
      for (int x = 0; x < pnm.Width; ++x) pnm.Samples.push_back((byte(y * row + x / 8) >> (7 - x % 8)) & 1 ? 0 : 1);
    return true;
  }
  pnm.Channels = magic == "P6" ? 3 : magic == "P5" ? 1 : 0;
  const size_t wide = pnm.Maxval > 255 ? 2 : 1;
  if (!pnm.Channels || body.size() < n * pnm.Channels * wide) return false;
  for (size_t i = 0; i < n * pnm.Channels; ++i)
    pnm.Samples.push_back(wide == 2 ? byte(2 * i) << 8 | byte(2 * i + 1) : byte(i));
  return true;
}

std::string RunOutput(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  return pclose(p) == 0 ? out : std::string();
}

std::string PnmFile(int w, int h, int maxval, int channels, const std::function<int(int, int, int)>& sample) {
  std::string s = std::string(channels == 3 ? "P6" : "P5") + "\n" + std::to_string(w) + " " + std::to_string(h) +
                  "\n" + std::to_string(maxval) + "\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        const int v = sample(x, y, c);
        if (maxval > 255) s.push_back(static_cast<char>(v >> 8));
        s.push_back(static_cast<char>(v & 255));
      }
  return s;
}

// A netpbm colour of levels at `maxval`, exact at 16 bits whatever the depth.
std::string NetpbmColour(int maxval, int r, int g, int b) {
  char s[64];
  const int k = 65535 / maxval;
  std::snprintf(s, sizeof s, "rgb:%04x/%04x/%04x", r * k, g * k, b * k);
  return s;
}

std::vector<TNetpbmCase> NetpbmCases() {
  std::vector<TNetpbmCase> plain;
  for (int maxval : {1, 3, 15, 255, 65535}) plain.push_back({maxval, false, TTrans::Colour, false});
  for (int maxval : {255, 65535}) {
    plain.push_back({maxval, true, TTrans::Colour, false});
    plain.push_back({maxval, false, TTrans::Alpha, false});
    plain.push_back({maxval, true, TTrans::Alpha, false});
  }
  plain.push_back({255, true, TTrans::Colour, true});
  plain.push_back({255, true, TTrans::Alpha, true});
  std::vector<TNetpbmCase> cases;
  for (const TNetpbmCase& c : plain)
    for (bool background : {false, true})
      for (bool gamma : {false, true}) {
        TNetpbmCase k = c;
        k.Background = background;
        k.Gamma = gamma;
        cases.push_back(k);
      }
  return cases;
}

class PngTransparency : public ::testing::TestWithParam<TNetpbmCase> {};

TEST_P(PngTransparency, MatchesNetpbmComposition) {
  const TNetpbmCase& c = GetParam();
  if (!ToolAvailable("pnmtopng") || !ToolAvailable("pngtopnm")) GTEST_SKIP() << "netpbm not installed";
  const TScratchDir dir;
  const int w = 16, h = 4, m = c.Maxval, channels = c.Rgb ? 3 : 1;
  // Levels spread over the range; a palette picture keeps to a dozen colours.
  auto level = [&](int x, int y, int ch) {
    const int step = c.Palette ? (x + 2 * y) % 12 : (5 * x + 3 * y + 7 * ch) % 16;
    return m == 1 ? (x + y + ch) % 2 : static_cast<int>(static_cast<int64_t>(step + ch) % 16 * m / 15);
  };
  auto mask = [&](int x, int y, int) {
    const int steps[] = {0, m / 4, m / 2, m * 3 / 4, m, m};
    return steps[(x + y) % 6];
  };
  WriteFileBytes(dir / "in.pnm", [&] {
    const std::string s = PnmFile(w, h, m, channels, level);
    return std::vector<uint8_t>(s.begin(), s.end());
  }());
  std::string args = c.Palette ? "" : " -force";
  if (c.Trans == TTrans::Colour) {
    args += " -transparent=" + NetpbmColour(m, level(1, 0, 0), level(1, 0, c.Rgb ? 1 : 0), level(1, 0, c.Rgb ? 2 : 0));
  } else {
    const std::string pgm = PnmFile(w, h, m, 1, mask);
    WriteFileBytes(dir / "alpha.pgm", std::vector<uint8_t>(pgm.begin(), pgm.end()));
    args += " -alpha=" + Quote(dir / "alpha.pgm");
  }
  const int bg[3] = {m * 2 / 3, c.Rgb ? m / 5 : m * 2 / 3, c.Rgb ? m * 9 / 10 : m * 2 / 3};
  if (c.Background) args += " -background=" + NetpbmColour(m, bg[0], bg[1], bg[2]);
  if (c.Gamma) args += " -gamma=0.45";
  const std::string png = dir / "t.png";
  ASSERT_EQ(std::system(("pnmtopng" + args + " " + Quote(dir / "in.pnm") + " > " + Quote(png) + " 2>/dev/null").c_str()), 0);
  const std::vector<uint8_t> bytes = ReadFileBytes(png);
  // The file must be the kind the case is about.
  ASSERT_GT(bytes.size(), 33u);
  const int colourType = bytes[25];
  EXPECT_EQ(colourType == PNG_COLOR_TYPE_PALETTE, c.Palette);
  EXPECT_EQ(!ChunkData(bytes, "bKGD").empty(), c.Background);
  EXPECT_EQ(!ChunkData(bytes, "gAMA").empty(), c.Gamma);
  if (c.Trans == TTrans::Colour || c.Palette) {
    EXPECT_FALSE(ChunkData(bytes, "tRNS").empty());
  }

  // Grey so that netpbm, which composes grey files in grey, can take it too.
  const TRGB requested = c.Rgb ? CreateRGB(200, 100, 50) : CreateRGB(200, 200, 200);
  const TReadOutcome ours = LoadPng(bytes, requested);
  ASSERT_FALSE(ours.Aborting);
  ASSERT_EQ(ours.Bitmap.Width(), w);
  ASSERT_EQ(ours.Bitmap.Height(), h);
  const std::vector<uint8_t> got = BitmapRgb(ours.Bitmap);

  // What the input pictures given to pnmtopng mean, composed in real numbers.
  std::vector<uint8_t> expected;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double alpha = 1;
      if (c.Trans == TTrans::Alpha) {
        alpha = static_cast<double>(mask(x, y, 0)) / m;
      } else if (level(x, y, 0) == level(1, 0, 0) && level(x, y, c.Rgb) == level(1, 0, c.Rgb) &&
                 level(x, y, 2 * c.Rgb) == level(1, 0, 2 * c.Rgb)) {
        alpha = 0;
      }
      for (int k = 0; k < 3; ++k) {
        const uint8_t req[3] = {requested.r, requested.g, requested.b};
        const double back = c.Background ? static_cast<double>(bg[k]) / m : req[k] / 255.0;
        const double v = static_cast<double>(level(x, y, c.Rgb ? k : 0)) / m;
        expected.push_back(static_cast<uint8_t>(std::lround(255 * (v * alpha + back * (1 - alpha)))));
      }
    }
  // 16-bit samples keep their high byte before composition.
  const int tolerance = m == 65535 ? 1 : 0;
  EXPECT_LE(MaxDifference(got, expected), tolerance);
  if (c.Background) {
    auto to8 = [&](int v) { return static_cast<uint8_t>(m == 65535 ? v >> 8 : v * 255 / m); };
    EXPECT_EQ(ours.Params.PNG_Background, CreateRGB(to8(bg[0]), to8(bg[1]), to8(bg[2])));
  }

  // netpbm's own decoder and composition, where it handles the case: it ignores a
  // transparent colour in RGB files, reads only the red of an RGB background chunk
  // (so the background is always given), and composes low-depth grey at that depth
  // (so only a background of that depth composes exactly).
  if (c.Trans == TTrans::Colour && c.Rgb && !c.Palette) return;
  if (!c.Background && !c.Rgb && m < 255) return;
  const std::string mix = " -background=" + (c.Background ? NetpbmColour(m, bg[0], bg[1], bg[2])
                                             : c.Rgb      ? std::string("rgb:c8/64/32")
                                                          : std::string("rgb:c8/c8/c8"));
  TPnm ref;
  ASSERT_TRUE(ParsePnm(RunOutput("pngtopnm -mix" + mix + " " + Quote(png) + " 2>/dev/null"), ref));
  ASSERT_EQ(ref.Width, w);
  ASSERT_EQ(ref.Height, h);
  std::vector<uint8_t> decoded;
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i)
    for (int k = 0; k < 3; ++k) {
      const int v = ref.Samples[i * ref.Channels + (ref.Channels == 3 ? k : 0)];
      decoded.push_back(static_cast<uint8_t>((v * 255 + ref.Maxval / 2) / ref.Maxval));
    }
  EXPECT_LE(MaxDifference(got, decoded), tolerance);
}

INSTANTIATE_TEST_SUITE_P(Netpbm, PngTransparency, ::testing::ValuesIn(NetpbmCases()));

}  // namespace
