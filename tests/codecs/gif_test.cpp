#include "vexa/codecs/gif.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/pixels.h"
#include "support/read_harness.h"
#include "vexa/codecs/lzw.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

using namespace vexa;
using namespace vexa::test;
namespace fs = std::filesystem;

namespace {

const std::string kGifDir = std::string(VEXA_TESTDATA_DIR) + "/gif";

TIOParamsVals CoderParams() {
  VXInstallLZWCoders();
  return TIOParamsVals();
}

// A load starts with the coders installed and no frame count.
TReadOutcome Fresh() {
  TReadOutcome r;
  r.Params = CoderParams();
  r.Pages = -1;
  return r;
}

TReadOutcome LoadStream(TStream& s, int index, bool paramsOnly = false) {
  TReadOutcome start = Fresh();
  start.Params.GIF_ImageIndex = index;
  return ReadWith(
      [&](TReadOutcome& o, TProgressRec& pr) { ReadGifStream(s, o.Bitmap, o.Pages, o.Params, pr, paramsOnly); },
      std::move(start));
}

TReadOutcome LoadBytes(const std::vector<uint8_t>& bytes, int index) {
  TMemoryStream ms(bytes.data(), bytes.size());
  return LoadStream(ms, index);
}

TReadOutcome LoadFile(const std::string& name, int index) {
  TMemoryStream ms;
  ms.LoadFromFile(name);
  return LoadStream(ms, index);
}

std::vector<uint8_t> Save(TBitmap& bmp, TIOParamsVals& params, bool* aborted = nullptr) {
  return WrittenBytes([&](TStream& s, TProgressRec& pr) { WriteGifStream(s, bmp, params, pr); }, aborted);
}

// A picture with few colours, with edges and noise. The quantizer works on 5 bits
// per channel, so only multiples of 8 come back exactly.
TBitmap FewColours(int w, int h, int colours, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<TRGB> pal(colours);
  for (int i = 0; i < colours; ++i)
    pal[i] = TRGB{uint8_t((i * 8) & 0xF8), uint8_t((rng() << 3) & 0xF8), uint8_t((i * 40 + (rng() & 7) * 8) & 0xF8)};
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.ScanLine(y));
    for (int x = 0; x < w; ++x) row[x] = pal[((x / 3) + (y / 5) * 7 + (rng() % 4 == 0 ? rng() : 0)) % colours];
  }
  return b;
}

TBitmap Photo(int w, int h) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.ScanLine(y));
    for (int x = 0; x < w; ++x)
      row[x] = TRGB{uint8_t(x * 255 / w), uint8_t((x + y) * 127 / (w + h) + 64), uint8_t(y * 255 / h)};
  }
  return b;
}

// Minimal reader of the suite's .conf files: section -> key -> value.
std::map<std::string, std::map<std::string, std::string>> ReadConf(const std::string& name) {
  std::map<std::string, std::map<std::string, std::string>> conf;
  std::ifstream f(name);
  std::string line, section;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
      continue;
    }
    const size_t eq = line.find(" = ");
    if (eq != std::string::npos) conf[section][line.substr(0, eq)] = line.substr(eq + 3);
    else if (line.back() == '=') conf[section][line.substr(0, line.find(' '))] = "";
  }
  return conf;
}

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> parts;
  std::stringstream ss(s);
  for (std::string p; std::getline(ss, p, ',');)
    if (!p.empty()) parts.push_back(p);
  return parts;
}

}  // namespace

// Each test of the conformance suite names the frames a decoder must produce, as
// the composited logical screen (RGBA). Our bitmap is the frame alone, so the
// comparison covers opaque pixels of frames that fill the screen.
TEST(GifRead, ConformanceSuiteFramesCountsAndPixels) {
  const std::string dir = kGifDir + "/pygif-suite";
  std::ifstream list(dir + "/TESTS");
  if (!list) GTEST_SKIP() << "conformance suite missing";
  int compared = 0;
  for (std::string test; std::getline(list, test);) {
    if (test.empty()) continue;
    SCOPED_TRACE(test);
    auto conf = ReadConf(dir + "/" + test + ".conf");
    const auto frames = Split(conf["config"]["frames"]);
    const std::string file = dir + "/" + conf["config"]["input"];
    // The suite rejects text blocks; the file's ordinary image after one is shown here.
    if (test == "plain-text") continue;
    if (frames.empty()) {
      // No frame a decoder could show: either an error or no image at all.
      TReadOutcome r = LoadFile(file, 0);
      EXPECT_TRUE(r.Aborting || r.Pages == 0);
      continue;
    }
    for (size_t k = 0; k < frames.size(); ++k) {
      SCOPED_TRACE("frame " + std::to_string(k));
      TReadOutcome r = LoadFile(file, int(k));
      const int sw = std::stoi(conf["config"]["width"]), sh = std::stoi(conf["config"]["height"]);
      if (r.Params.Width == 0 || r.Params.Height == 0) {
        EXPECT_TRUE(r.Aborting);  // a frame of no area
        continue;
      }
      ASSERT_FALSE(r.Aborting);
      // Images without a delay between them make one displayed frame.
      EXPECT_GE(r.Pages, int(frames.size()));
      if (r.Pages != int(frames.size())) continue;
      auto& fc = conf[frames[k]];
      if (fc.count("delay")) {
        EXPECT_EQ(r.Params.GIF_DelayTime, std::stoi(fc["delay"]));
      }
      if (r.Params.GIF_XPos != 0 || r.Params.GIF_YPos != 0 || r.Params.Width != sw || r.Params.Height != sh)
        continue;
      const auto rgba = ReadFileBytes(dir + "/" + fc["pixels"]);
      ASSERT_EQ(rgba.size(), size_t(sw) * sh * 4);
      for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
          const uint8_t* e = &rgba[(size_t(y) * sw + x) * 4];
          const TRGB got = r.Bitmap.GetPixel(x, y);
          if (e[3] != 255 || (r.Params.GIF_FlagTranspColor && got == r.Params.GIF_TranspColor)) continue;
          ASSERT_EQ(got, (TRGB{e[2], e[1], e[0]})) << x << "," << y;
        }
      ++compared;
    }
  }
  EXPECT_GT(compared, 40);
}

// Frame 0 of every public sample against an independent decoder, with the frame count and position.
const TReadFormat kGif = [] {
  TReadFormat f;
  f.Name = "GIF";
  f.Read = [](const std::string& path, int page) {
    TReadOutcome o = LoadFile(path, page);
    o.Left = o.Params.GIF_XPos, o.Top = o.Params.GIF_YPos;
    return o;
  };
  f.FrameOnly = true;
  f.ComparePages = f.ComparePosition = true;
  return f;
}();

VEXA_READ_SUITE(GifRead, FolderCases(kGif, {"gif/pillow", "gif/image-rs"}, {}));

TEST(GifRead, WantedFrameWithoutControlExtensionHasNoDelayOrTransparency) {
  // Frame 0 has no control block; frame 1 has delay 9 and a transparent index.
  std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
  auto image = [&](uint8_t first) {
    const uint8_t d[] = {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0};
    gif.insert(gif.end(), std::begin(d), std::end(d));
    TMemoryStream ms;
    const uint8_t px[2] = {first, uint8_t(1 - first)};
    GifLzwEncode(ms, 1, 2, false, px, 1);
    gif.insert(gif.end(), ms.Data().begin(), ms.Data().end());
  };
  image(0);
  const uint8_t gce[] = {0x21, 0xF9, 4, 1, 9, 0, 1, 0};
  gif.insert(gif.end(), std::begin(gce), std::end(gce));
  image(1);
  gif.push_back(0x3B);

  TReadOutcome f0 = LoadBytes(gif, 0);
  ASSERT_FALSE(f0.Aborting);
  EXPECT_EQ(f0.Pages, 2);
  EXPECT_EQ(f0.Params.GIF_DelayTime, 0);
  EXPECT_FALSE(f0.Params.GIF_FlagTranspColor);
  EXPECT_EQ(f0.Bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(f0.Bitmap.GetPixel(1, 0), (TRGB{255, 255, 255}));

  TReadOutcome f1 = LoadBytes(gif, 1);
  ASSERT_FALSE(f1.Aborting);
  EXPECT_EQ(f1.Params.GIF_DelayTime, 9);
  EXPECT_TRUE(f1.Params.GIF_FlagTranspColor);
  EXPECT_EQ(f1.Params.GIF_TranspColor, (TRGB{255, 255, 255}));
  EXPECT_EQ(f1.Bitmap.GetPixel(0, 0), (TRGB{255, 255, 255}));

  // No such frame: a failure, not an untouched success.
  EXPECT_TRUE(LoadBytes(gif, 2).Aborting);
  EXPECT_TRUE(LoadBytes(gif, -1).Aborting);
}

TEST(GifRead, BlackWhitePaletteGivesOneBitAndWhiteBlackGivesTwentyFourBit) {
  TBitmap bw(13, 5, pf1bit);
  for (int x = 0; x < 13; ++x) bw.SetPixel(x, x % 5, TRGB{255, 255, 255});
  TIOParamsVals p = CoderParams();
  p.BitsPerSample = 1;
  auto gif = Save(bw, p);
  TReadOutcome r = LoadBytes(gif, 0);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.PixelFormat(), pf1bit);
  EXPECT_TRUE(SamePixels(r.Bitmap, bw));
  EXPECT_EQ(r.Params.BitsPerSample, 1);
  EXPECT_EQ(r.Params.ColorMapCount, 2);

  // Swap the two global table entries: same bits, opposite colours.
  ASSERT_EQ(gif[10] & 0x87, 0x80);
  std::swap_ranges(gif.begin() + 13, gif.begin() + 16, gif.begin() + 16);
  TReadOutcome s = LoadBytes(gif, 0);
  ASSERT_FALSE(s.Aborting);
  EXPECT_EQ(s.Bitmap.PixelFormat(), pf24bit);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 13; ++x) {
      const uint8_t v = bw.GetPixel(x, y).r ? 0 : 255;
      ASSERT_EQ(s.Bitmap.GetPixel(x, y), (TRGB{v, v, v}));
    }
}

TEST(GifRead, ParametersOnlyFillsTheRecordAndLeavesTheBitmap) {
  TBitmap src = FewColours(40, 30, 16, 1);
  TIOParamsVals p = CoderParams();
  p.BitsPerSample = 4;
  p.GIF_XPos = 5;
  p.GIF_DelayTime = 25;
  auto gif = Save(src, p);
  TMemoryStream ms(gif.data(), gif.size());
  TReadOutcome r = LoadStream(ms, 0, true);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.Width(), 0);
  EXPECT_EQ(r.Pages, 1);
  EXPECT_EQ(r.Params.Width, 40);
  EXPECT_EQ(r.Params.Height, 30);
  EXPECT_EQ(r.Params.GIF_XPos, 5);
  EXPECT_EQ(r.Params.GIF_DelayTime, 25);
  EXPECT_EQ(r.Params.BitsPerSample, 4);
  EXPECT_EQ(r.Params.ColorMapCount, 16);
  EXPECT_EQ(r.Params.GIF_Version, "GIF89a");
  EXPECT_EQ(r.Params.SamplesPerPixel, 1);
}

TEST(GifRead, ProgressReportsTheFourSteps) {
  TBitmap src = FewColours(10, 10, 4, 2);
  TIOParamsVals p = CoderParams();
  auto gif = Save(src, p);
  TAbortFlag progress;
  progress.Watch();
  TMemoryStream ms(gif.data(), gif.size());
  TBitmap bmp;
  int32_t count = 0;
  ReadGifStream(ms, bmp, count, p, progress, false);
  EXPECT_EQ(progress.Seen, (std::vector<int>{0, 30, 70, 100}));
  progress.Seen.clear();
  TMemoryStream out;
  WriteGifStream(out, src, p, progress);
  EXPECT_EQ(progress.Seen, (std::vector<int>{0, 30, 70, 100}));

  // Stopping from the event at 30 leaves the bitmap as it was.
  progress.Watch(30);
  TBitmap kept(3, 3, pf24bit);
  ms.SetPosition(0);
  ReadGifStream(ms, kept, count, p, progress, false);
  EXPECT_TRUE(progress.Aborting);
  EXPECT_EQ(kept.Width(), 3);
}

TEST(GifMalformed, BrokenInputSetsAbortingWithoutCrashing) {
  for (const char* name : {"decompression_bomb.gif", "zero_width.gif"}) {
    const std::string file = kGifDir + "/bad/pillow/" + name;
    if (!fs::exists(file)) continue;
    SCOPED_TRACE(name);
    TReadOutcome r = LoadFile(file, 0);
    EXPECT_TRUE(r.Aborting);
    EXPECT_EQ(r.Bitmap.Width(), 0);
  }
  const std::vector<uint8_t> notGif = {'G', 'I', 'X', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B};
  EXPECT_TRUE(LoadBytes(notGif, 0).Aborting);
  EXPECT_TRUE(LoadBytes({'G', 'I', 'F'}, 0).Aborting);

  // Without a decoder the frame cannot be read and the bitmap keeps what it had.
  TBitmap src = FewColours(8, 8, 4, 3);
  TIOParamsVals p = CoderParams();
  auto gif = Save(src, p);
  TReadOutcome r = Fresh();
  r.Params.GIF_LZWDecompFunc = nullptr;
  DefGIF_LZWDECOMPFUNC = nullptr;
  r.Bitmap = TBitmap(2, 2, pf24bit);
  TMemoryStream ms(gif.data(), gif.size());
  TProgressRec progress;
  progress.Aborting = &r.Aborting;
  ReadGifStream(ms, r.Bitmap, r.Pages, r.Params, progress, false);
  VXInstallLZWCoders();
  EXPECT_TRUE(r.Aborting);
  EXPECT_EQ(r.Bitmap.Width(), 2);
}

// Pixel data that ends before the frame is full is reported as truncated and keeps the rows decoded;
// a file that lacks only its trailer is complete.
TEST(GifMalformed, PixelDataCutShortIsReportedAsTruncated) {
  auto load = [](const std::vector<uint8_t>& bytes, TVXFailure& why) {
    TReadOutcome r = Fresh();
    TMemoryStream ms(bytes.data(), bytes.size());
    TProgressRec pr;
    pr.Aborting = &r.Aborting;
    pr.Failure = &why;
    ReadGifStream(ms, r.Bitmap, r.Pages, r.Params, pr, false);
    return r;
  };
  const std::string file = kGifDir + "/pillow/hopper.gif";
  VEXA_REQUIRE_FILE(file);
  const auto bytes = ReadFileBytes(file);
  TVXFailure why;
  const TReadOutcome full = load(bytes, why);
  ASSERT_FALSE(full.Aborting);
  ASSERT_EQ(bytes.back(), 0x3B);
  const TReadOutcome noTrailer = load(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1), why);
  EXPECT_FALSE(noTrailer.Aborting);
  EXPECT_TRUE(SamePixels(noTrailer.Bitmap, full.Bitmap));
  const TReadOutcome cut = load(std::vector<uint8_t>(bytes.begin(), bytes.begin() + bytes.size() * 3 / 5), why);
  EXPECT_TRUE(cut.Aborting);
  EXPECT_EQ(why.Kind, fkTruncated) << why.Describe();
  ASSERT_EQ(cut.Bitmap.Width(), full.Bitmap.Width());
  ASSERT_EQ(cut.Bitmap.Height(), full.Bitmap.Height());
  for (int x = 0; x < full.Bitmap.Width(); ++x) ASSERT_EQ(cut.Bitmap.GetPixel(x, 0), full.Bitmap.GetPixel(x, 0));

  // Complete data, but a frame declared taller than the data fills; the frame count is kept.
  TBitmap src = FewColours(8, 4, 4, 3);
  TIOParamsVals p = CoderParams();
  std::vector<uint8_t> gif = Save(src, p);
  const size_t descriptor = 13 + 3 * (size_t{2} << (gif[10] & 7)) + 8;  // after the control extension
  ASSERT_EQ(gif[descriptor], 0x2C);
  gif[descriptor + 7] = 8;
  why.Clear();
  const TReadOutcome tall = load(gif, why);
  EXPECT_TRUE(tall.Aborting);
  EXPECT_EQ(why.Kind, fkTruncated) << why.Describe();
  EXPECT_EQ(tall.Pages, 1);
  ASSERT_EQ(tall.Bitmap.Height(), 8);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(tall.Bitmap.GetPixel(x, y), src.GetPixel(x, y));
}

TEST(GifMalformed, EveryTruncationAndRandomCorruptionIsSafe) {
  const std::string file = kGifDir + "/pillow/hopper.gif";
  if (!fs::exists(file)) GTEST_SKIP();
  const auto bytes = ReadFileBytes(file);
  for (size_t n = 0; n < bytes.size(); n += 37) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + n);
    TReadOutcome r = LoadBytes(cut, 0);
    if (!r.Aborting) {
      // Short image data keeps the picture's size; the rest is palette entry 0.
      EXPECT_EQ(r.Bitmap.Width(), r.Params.Width);
    }
  }
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    auto bad = bytes;
    for (int k = 0; k < 8; ++k) bad[13 + rng() % (bad.size() - 13)] = uint8_t(rng());
    TReadOutcome r = LoadBytes(bad, int(rng() % 3));
    if (!r.Aborting) {
      EXPECT_FALSE(r.Bitmap.Empty());
    }
  }
}

TEST(GifRoundTrip, PaletteImageSurvivesWithAndWithoutTransparencyAndInterlace) {
  for (bool interlaced : {false, true})
    for (bool transparent : {false, true}) {
      SCOPED_TRACE(std::string(interlaced ? "interlaced" : "progressive") + (transparent ? " transparent" : ""));
      TBitmap src = FewColours(97, 61, 200, 4);
      TIOParamsVals p = CoderParams();
      p.GIF_Interlaced = interlaced;
      p.GIF_FlagTranspColor = transparent;
      p.GIF_TranspColor = src.GetPixel(10, 10);
      p.GIF_DelayTime = 33;
      p.GIF_XPos = 4;
      p.GIF_YPos = 6;
      auto gif = Save(src, p);
      TReadOutcome r = LoadBytes(gif, 0);
      ASSERT_FALSE(r.Aborting);
      EXPECT_TRUE(SamePixels(r.Bitmap, src));
      EXPECT_EQ(r.Params.GIF_Interlaced, interlaced);
      EXPECT_EQ(r.Params.GIF_FlagTranspColor, transparent);
      EXPECT_EQ(r.Params.GIF_TranspColor, src.GetPixel(10, 10));
      EXPECT_EQ(r.Params.GIF_DelayTime, 33);
      EXPECT_EQ(r.Params.GIF_XPos, 4);
      EXPECT_EQ(r.Params.GIF_YPos, 6);
      EXPECT_EQ(r.Params.GIF_WinWidth, 97);
      EXPECT_EQ(r.Params.BitsPerSample, 8);
    }
}

TEST(GifRoundTrip, OneBitSourceAndLowDepthsKeepTheirPixels) {
  TBitmap bw(77, 33, pf1bit);
  std::mt19937 rng(5);
  for (int y = 0; y < 33; ++y)
    for (int x = 0; x < 77; ++x)
      if (rng() & 1) bw.SetPixel(x, y, TRGB{255, 255, 255});
  for (int bits : {1, 2, 8}) {
    SCOPED_TRACE(bits);
    TIOParamsVals p = CoderParams();
    p.BitsPerSample = bits;
    p.GIF_Interlaced = bits == 2;
    TReadOutcome r = LoadBytes(Save(bw, p), 0);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.PixelFormat(), bits == 1 ? pf1bit : pf24bit);
    // Through the quantizer white comes back as 248 (5 bits per channel).
    for (int y = 0; y < 33; ++y)
      for (int x = 0; x < 77; ++x) {
        const TRGB got = r.Bitmap.GetPixel(x, y);
        if (bw.GetPixel(x, y).r)
          ASSERT_TRUE(got.r >= 248 && got.g >= 248 && got.b >= 248) << x << "," << y;
        else
          ASSERT_EQ(got, (TRGB{0, 0, 0})) << x << "," << y;
      }
  }
  TBitmap four = FewColours(20, 20, 4, 6);
  TIOParamsVals p = CoderParams();
  p.BitsPerSample = 2;
  TReadOutcome r = LoadBytes(Save(four, p), 0);
  EXPECT_TRUE(SamePixels(r.Bitmap, four));
  EXPECT_EQ(r.Params.ColorMapCount, 4);
}

TEST(GifRoundTrip, TwentyFourBitPhotoIsQuantizedClosely) {
  TBitmap src = Photo(120, 90);
  TIOParamsVals p = CoderParams();
  TReadOutcome r = LoadBytes(Save(src, p), 0);
  ASSERT_FALSE(r.Aborting);
  double err = 0;
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 120; ++x) {
      const TRGB a = src.GetPixel(x, y), b = r.Bitmap.GetPixel(x, y);
      err += std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
    }
  EXPECT_LT(err / (120 * 90 * 3), 8.0);
}

TEST(GifRoundTrip, OneBitRequestDithersPhotosAndKeepsTwoColourPictures) {
  TBitmap photo = Photo(64, 64);
  TIOParamsVals p = CoderParams();
  p.BitsPerSample = 1;
  auto gif = Save(photo, p);
  // Palette black, white in the file.
  EXPECT_EQ(std::vector<uint8_t>(gif.begin() + 13, gif.begin() + 19), (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
  TReadOutcome r = LoadBytes(gif, 0);
  ASSERT_EQ(r.Bitmap.PixelFormat(), pf1bit);
  // Dithering keeps the mean brightness of each 8 x 8 block roughly.
  int white = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) white += r.Bitmap.GetPixel(x, y).r ? 1 : 0;
  EXPECT_GT(white, 64 * 64 / 4);
  EXPECT_LT(white, 64 * 64 * 3 / 4);

  TBitmap two(9, 9, pf24bit);
  two.Fill(TRGB{200, 40, 10});
  for (int i = 0; i < 9; ++i) two.SetPixel(i, i, TRGB{5, 5, 90});
  TReadOutcome t = LoadBytes(Save(two, p), 0);
  ASSERT_FALSE(t.Aborting);
  EXPECT_EQ(t.Params.BitsPerSample, 1);
  EXPECT_TRUE(SamePixels(t.Bitmap, two));
}

TEST(GifWrite, RefusesWhatItCannotWriteAndWritesNothing) {
  TIOParamsVals p = CoderParams();
  p.GIF_LZWCompFunc = nullptr;
  DefGIF_LZWCOMPFUNC = nullptr;
  TBitmap src = FewColours(4, 4, 4, 7);
  bool aborted = false;
  EXPECT_TRUE(Save(src, p, &aborted).empty());
  EXPECT_TRUE(aborted);
  VXInstallLZWCoders();
  p = CoderParams();
  TBitmap empty;
  EXPECT_TRUE(Save(empty, p, &aborted).empty());
  EXPECT_TRUE(aborted);
  TBitmap wide(70000, 1, pf1bit);
  EXPECT_TRUE(Save(wide, p, &aborted).empty());
  EXPECT_TRUE(aborted);
}

namespace {

std::string MultiFrameFile(std::vector<TBitmap>& frames) {
  const std::string name = TempPath("multi.gif");
  frames = {FewColours(30, 20, 50, 10), FewColours(25, 15, 3, 11), FewColours(30, 20, 200, 12)};
  TIOParamsVals p = CoderParams();
  TProgressRec progress;
  bool aborted = false;
  progress.Aborting = &aborted;
  WriteGif(name, frames[0], p, progress);
  for (int i = 1; i < 3; ++i) {
    p.GIF_ImageIndex = i;
    EXPECT_EQ(_InsertGifIm(name, frames[i], p, progress), i + 1);
  }
  EXPECT_FALSE(aborted);
  return name;
}

void ExpectFrames(const std::string& name, const std::vector<const TBitmap*>& frames) {
  for (size_t i = 0; i < frames.size(); ++i) {
    TReadOutcome r = LoadFile(name, int(i));
    ASSERT_FALSE(r.Aborting) << i;
    EXPECT_EQ(r.Pages, int(frames.size()));
    EXPECT_TRUE(SamePixels(r.Bitmap, *frames[i])) << "frame " << i;
  }
}

}  // namespace

TEST(GifFrames, InsertAppendsAndPlacesFramesByIndex) {
  std::vector<TBitmap> f;
  const std::string name = MultiFrameFile(f);
  ExpectFrames(name, {&f[0], &f[1], &f[2]});
  EXPECT_EQ(_DeleteGifIm(name, -1, false), 3);

  TBitmap first = FewColours(8, 8, 2, 13);
  TIOParamsVals p = CoderParams();
  p.GIF_ImageIndex = 0;
  p.GIF_DelayTime = 40;
  TAbortFlag q;
  EXPECT_EQ(_InsertGifIm(name, first, p, q.Rec), 4);
  TBitmap middle = FewColours(8, 8, 5, 14);
  p.GIF_ImageIndex = 2;
  EXPECT_EQ(_InsertGifIm(name, middle, p, q.Rec), 5);
  ExpectFrames(name, {&first, &f[0], &middle, &f[1], &f[2]});
  EXPECT_EQ(LoadFile(name, 0).Params.GIF_DelayTime, 40);
}

TEST(GifFrames, InsertOneBitRequestKeepsColoursWhenNotTwoColoured) {
  std::vector<TBitmap> f;
  const std::string name = MultiFrameFile(f);
  TIOParamsVals p = CoderParams();
  p.BitsPerSample = 1;
  p.GIF_ImageIndex = 3;
  TAbortFlag q;
  EXPECT_EQ(_InsertGifIm(name, f[2], p, q.Rec), 4);
  TReadOutcome r = LoadFile(name, 3);
  EXPECT_EQ(r.Params.BitsPerSample, 8);
  EXPECT_TRUE(SamePixels(r.Bitmap, f[2]));
}

TEST(GifFrames, InsertLeavesStreamAloneWhenItCannotInsert) {
  std::vector<TBitmap> f;
  const std::string name = MultiFrameFile(f);
  const auto before = ReadFileBytes(name);
  TIOParamsVals p = CoderParams();
  TBitmap frame = FewColours(5, 5, 3, 15);
  TAbortFlag progress;

  // Not a GIF: 0, and the flag stays clear.
  const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 0, 0, 0};
  TMemoryStream notGif(png.data(), png.size());
  EXPECT_EQ(_InsertGifImStream(notGif, frame, p, progress), 0);
  EXPECT_FALSE(progress.Aborting);
  EXPECT_EQ(notGif.Data(), png);
  EXPECT_EQ(notGif.Position(), 0);

  struct TCase {
    const char* what;
    std::vector<uint8_t> bytes;
    int index;
    bool encoder;
  };
  std::vector<uint8_t> cut(before.begin(), before.end() - 40);
  std::vector<uint8_t> shortTable(before.begin(), before.begin() + 100);
  for (const TCase& c : {TCase{"past the end", before, 4, true}, TCase{"negative", before, -1, true},
                         TCase{"no encoder", before, 1, false}, TCase{"truncated frame", cut, 3, true},
                         TCase{"short global table", shortTable, 0, true}}) {
    SCOPED_TRACE(c.what);
    progress.Aborting = false;
    p.GIF_ImageIndex = c.index;
    p.GIF_LZWCompFunc = c.encoder ? &GifLzwEncode : nullptr;
    DefGIF_LZWCOMPFUNC = p.GIF_LZWCompFunc;
    TMemoryStream ms(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(_InsertGifImStream(ms, frame, p, progress), 0);
    EXPECT_TRUE(progress.Aborting);
    EXPECT_EQ(ms.Data(), c.bytes);
  }
  VXInstallLZWCoders();
}

TEST(GifFrames, InsertIntoAStreamAtAnOffsetRewritesOnlyFromThere) {
  TBitmap a = FewColours(6, 6, 3, 16), b = FewColours(7, 5, 3, 17);
  TIOParamsVals p = CoderParams();
  auto gif = Save(a, p);
  TMemoryStream ms;
  ms.WriteBuffer("prefix", 6);
  ms.WriteBuffer(gif.data(), int64_t(gif.size()));
  ms.WriteBuffer("tail after the file", 19);
  ms.SetPosition(6);
  p.GIF_ImageIndex = 1;
  TAbortFlag q;
  EXPECT_EQ(_InsertGifImStream(ms, b, p, q.Rec), 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ms.Memory()), 6), "prefix");
  EXPECT_EQ(ms.Memory()[ms.Size() - 1], 0x3B);
  ms.SetPosition(6);
  TReadOutcome r = LoadStream(ms, 1);
  EXPECT_EQ(r.Pages, 2);
  EXPECT_TRUE(SamePixels(r.Bitmap, b));
}

TEST(GifFrames, DeleteDropsOneFrameAndItsControlBlock) {
  std::vector<TBitmap> f;
  const std::string name = MultiFrameFile(f);
  const auto before = ReadFileBytes(name);
  EXPECT_EQ(_DeleteGifIm(name, -1, false), 3);
  EXPECT_EQ(_DeleteGifIm(name, 1, false), 2);
  EXPECT_EQ(ReadFileBytes(name), before);
  EXPECT_EQ(_DeleteGifIm(name, 1, true), 2);
  ExpectFrames(name, {&f[0], &f[2]});
  EXPECT_EQ(_DeleteGifIm(name, 0, true), 1);
  ExpectFrames(name, {&f[2]});
  const std::string text = TempPath("not.gif");
  WriteFileBytes(text, {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!'});
  EXPECT_EQ(_DeleteGifIm(text, 0, true), 0);
  EXPECT_EQ(ReadFileBytes(text).size(), 14u);
}

TEST(GifFrames, MakeAnimateAddsOneLoopBlockAndSetsTheScreen) {
  std::vector<TBitmap> f;
  const std::string name = MultiFrameFile(f);
  EXPECT_FALSE(_CheckGifAnimate(name));
  _GifMakeAnimate(name, 0, 40, 30);
  EXPECT_TRUE(_CheckGifAnimate(name));
  _GifMakeAnimate(name, 7, 50, 35);
  EXPECT_TRUE(_CheckGifAnimate(name));
  const auto bytes = ReadFileBytes(name);
  const std::string s(bytes.begin(), bytes.end());
  EXPECT_EQ(s.find("NETSCAPE2.0"), s.rfind("NETSCAPE2.0"));
  const size_t at = s.find("NETSCAPE2.0");
  EXPECT_EQ(bytes[at + 13] | bytes[at + 14] << 8, 7);
  TReadOutcome r = LoadFile(name, 2);
  EXPECT_EQ(r.Pages, 3);
  EXPECT_EQ(r.Params.GIF_WinWidth, 50);
  EXPECT_EQ(r.Params.GIF_WinHeight, 35);
  EXPECT_TRUE(SamePixels(r.Bitmap, f[2]));
  EXPECT_EQ(_DeleteGifIm(name, -1, false), 3);

  const std::string text = TempPath("plain.txt");
  WriteFileBytes(text, std::vector<uint8_t>(20, 'x'));
  _GifMakeAnimate(text, 0, 1, 1);
  EXPECT_EQ(ReadFileBytes(text), std::vector<uint8_t>(20, 'x'));
  EXPECT_FALSE(_CheckGifAnimate(text));
}

namespace {

// R, G, B of every pixel, top row first, in lower-case hex.
std::string Hex(const TBitmap& b) {
  std::string s;
  char px[7];
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const TRGB c = b.GetPixel(x, y);
      std::snprintf(px, sizeof px, "%02x%02x%02x", c.r, c.g, c.b);
      s += px;
    }
  return s;
}

}  // namespace

// Our files open in an independent reader with the same frames, pixels and timing.
TEST(GifInterop, AnimationWeWriteOpensInAnIndependentReader) {
  std::vector<TBitmap> f;
  const std::string name = MultiFrameFile(f);
  _GifMakeAnimate(name, 3, 30, 20);
  const std::string interlacedName = TempPath("interlaced.gif");
  TIOParamsVals p = CoderParams();
  p.GIF_Interlaced = true;
  p.GIF_DelayTime = 12;
  TAbortFlag q;
  // Large and noisy enough that the code table fills and restarts.
  TBitmap big = FewColours(300, 200, 256, 20);
  WriteGif(interlacedName, big, p, q.Rec);
  const std::string script = R"(
import sys
from PIL import Image
for name in sys.argv[1:]:
    im = Image.open(name)
    print(getattr(im, 'n_frames', 1), im.info.get('loop', -1), im.info.get('duration', -1),
          im.convert('RGB').tobytes().hex())
)";
  std::string out;
  VEXA_REQUIRE_REFERENCE_DECODER();
  ASSERT_TRUE(RunPillowScript(script, Quote(name) + " " + Quote(interlacedName), out));
  std::istringstream lines(out);
  int frames, loop, duration;
  std::string hex;
  lines >> frames >> loop >> duration >> hex;
  EXPECT_EQ(frames, 3);
  EXPECT_EQ(loop, 3);
  EXPECT_EQ(Hex(f[0]), hex);
  lines >> frames >> loop >> duration >> hex;
  EXPECT_EQ(frames, 1);
  EXPECT_EQ(duration, 120);
  EXPECT_EQ(Hex(big), hex);
}
