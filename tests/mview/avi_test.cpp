// AVI through the FFmpeg libraries, checked against the ffmpeg and ffprobe
// programs: files they make load with the right frames, and files we write
// read back in them with the right count, rate and pixels.
#include "vexa/acquire/avi.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "mview_testutil.h"
#include "vexa/core/errors.h"
#include "vexa/core/sample.h"
#include "vexa/mview/vexamio.h"

using namespace vexa;
using namespace mvtest;

namespace {

std::string Run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

bool HaveFFmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") == 0; }

#define REQUIRE_FFMPEG() \
  if (!HaveFFmpeg()) GTEST_SKIP() << "ffmpeg/ffprobe not installed (scripts/packages.txt)"

/// Frames of a file as ffmpeg decodes them, each w x h BGR rows top-down.
std::vector<std::string> FFmpegFrames(const std::string& file, int w, int h) {
  std::string raw = Run("ffmpeg -v error -i '" + file + "' -f rawvideo -pix_fmt bgr24 -");
  std::vector<std::string> frames;
  const size_t size = static_cast<size_t>(w) * h * 3;
  for (size_t at = 0; at + size <= raw.size(); at += size) frames.push_back(raw.substr(at, size));
  return frames;
}

/// key=value lines of ffprobe about the first video stream.
std::map<std::string, std::string> Probe(const std::string& file) {
  std::string out =
      Run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
          "stream=codec_name,width,height,r_frame_rate,nb_read_frames -of default=nw=1 '" +
          file + "'");
  std::map<std::string, std::string> kv;
  size_t at = 0;
  while (at < out.size()) {
    size_t nl = out.find('\n', at);
    std::string line = out.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    size_t eq = line.find('=');
    if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
    if (nl == std::string::npos) break;
    at = nl + 1;
  }
  return kv;
}

/// Largest channel difference and the mean one between a bitmap and BGR rows.
std::pair<int, double> Diff(const TBitmap& bmp, const std::string& rows) {
  int worst = 0;
  double sum = 0;
  const int w = bmp.Width(), h = bmp.Height();
  for (int y = 0; y < h; ++y) {
    const uint8_t* a = bmp.ScanLine(y);
    const auto* b = reinterpret_cast<const uint8_t*>(rows.data()) + static_cast<size_t>(y) * w * 3;
    for (int x = 0; x < w * 3; ++x) {
      int d = std::abs(a[x] - b[x]);
      worst = std::max(worst, d);
      sum += d;
    }
  }
  return {worst, sum / (w * h * 3.0)};
}

struct Made {
  const char* Name;
  const char* Args;  // encoder arguments for ffmpeg
  int MaxDiff;       // what conversion and lossy coding may change
};

class AviRead : public ::testing::TestWithParam<Made> {
 protected:
  vexa::test::TScratchDir dir;
};

TEST_P(AviRead, FilesMadeByFFmpegLoadFrameByFrame) {
  REQUIRE_FFMPEG();
  const Made m = GetParam();
  const std::string f = dir / (std::string(m.Name) + ".avi");
  ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=8 -frames:v 5 " + std::string(m.Args) +
                         " '" + f + "'")
                            .c_str()),
            0);
  std::vector<std::string> ref = FFmpegFrames(f, 64, 48);
  ASSERT_EQ(ref.size(), 5u);

  TestGrid grid;
  TVexaMIO mio;
  mio.SetAttachedMView(&grid);
  mio.LoadFromFile(f);
  ASSERT_FALSE(mio.Aborting) << mio.LastError;
  ASSERT_EQ(grid.GetImageCount(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(grid.GetImageDelayTime(i), 125);  // 1000 / 8
    const TIOParamsVals* p = mio.GetParams(i);
    EXPECT_EQ(p->GIF_DelayTime, 125);
    EXPECT_EQ(p->GIF_ImageIndex, i);
    EXPECT_EQ(p->Width, 64);
    EXPECT_EQ(p->FileName, f);
    EXPECT_EQ(p->FileType, ioUnknown);
    EXPECT_EQ(p->BitsPerSample * 10 + p->SamplesPerPixel, 83);
    const TBitmap* bmp = grid.PeekImage(i);
    ASSERT_NE(bmp, nullptr);
    ASSERT_EQ(bmp->Height(), 48);
    auto [worst, mean] = Diff(*bmp, ref[static_cast<size_t>(i)]);
    EXPECT_LE(worst, m.MaxDiff) << "frame " << i;
    EXPECT_LT(mean, 1.0) << "frame " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviRead,
                         ::testing::Values(Made{"raw", "-c:v rawvideo -pix_fmt bgr24", 0},
                                           Made{"mjpeg", "-c:v mjpeg -q:v 3", 8}, Made{"ffv1", "-c:v ffv1", 8},
                                           Made{"mpeg4", "-c:v mpeg4 -q:v 3", 8}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct Written {
  const char* Encoder;
  int MaxDiff;
  double MaxMean;
};

class AviWrite : public ::testing::TestWithParam<Written> {
 protected:
  vexa::test::TScratchDir dir;
};

TEST_P(AviWrite, FFmpegReadsBackCountRateAndFrames) {
  REQUIRE_FFMPEG();
  const Written w = GetParam();
  TestGrid grid;
  TVexaMIO mio;
  mio.SetAttachedMView(&grid);
  std::vector<TBitmap> src;
  for (int i = 0; i < 4; ++i) {
    src.push_back(VXMakeSampleImage(64, 48, static_cast<uint32_t>(i + 1)));
    grid.SetImage(grid.AppendImage(), src.back());
    grid.SetImageDelayTime(i, 200);
  }
  mio.AviOptions.Encoder = w.Encoder;
  const std::string f = dir / "out.avi";
  mio.SaveToFile(f);
  ASSERT_FALSE(mio.Aborting) << mio.LastError;
  auto info = Probe(f);
  EXPECT_EQ(info["nb_read_frames"], "4");
  EXPECT_EQ(info["r_frame_rate"], "5/1");
  EXPECT_EQ(info["width"], "64");
  EXPECT_EQ(info["codec_name"], w.Encoder);
  std::vector<std::string> frames = FFmpegFrames(f, 64, 48);
  ASSERT_EQ(frames.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    auto [worst, mean] = Diff(src[i], frames[i]);
    EXPECT_LE(worst, w.MaxDiff) << "frame " << i;
    EXPECT_LT(mean, w.MaxMean) << "frame " << i;
  }
  // And our own reader agrees.
  grid.Clear();
  mio.LoadFromFileAVI(f);
  EXPECT_EQ(grid.GetImageCount(), 4);
  EXPECT_EQ(grid.GetImageDelayTime(0), 200);
}

// Sample images are noisy: lossy coders may move single channels far, the mean stays small.
INSTANTIATE_TEST_SUITE_P(Encoders, AviWrite,
                         ::testing::Values(Written{"rawvideo", 0, 0.01}, Written{"ffv1", 0, 0.01},
                                           Written{"mjpeg", 255, 4.0}, Written{"mpeg4", 255, 6.0}),
                         [](const auto& info) { return std::string(info.param.Encoder); });

class AviRules : public ::testing::Test {
 protected:
  void SetUp() override { mio.SetAttachedMView(&grid); }
  void TearDown() override { gVXAviOptionsDialog = nullptr; }
  TestGrid grid;
  TVexaMIO mio;
  vexa::test::TScratchDir dir;
};

TEST_F(AviRules, FramesOfAnotherSizeRepeatTheLastFittingOne) {
  REQUIRE_FFMPEG();
  grid.SetImage(grid.AppendImage(), Solid(32, 16, 1));
  grid.SetImage(grid.AppendImage(), Solid(32, 16, 2));
  grid.SetImage(grid.AppendImage(), Solid(20, 20, 3));
  grid.SetImage(grid.AppendImage(), Solid(32, 16, 4));
  mio.AviOptions.Encoder = "rawvideo";
  const std::string f = dir / "sizes.avi";
  mio.SaveToFileAVI(f);
  ASSERT_FALSE(mio.Aborting) << mio.LastError;
  std::vector<std::string> frames = FFmpegFrames(f, 32, 16);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(Diff(Solid(32, 16, 2), frames[2]).first, 0);
  EXPECT_EQ(Diff(Solid(32, 16, 4), frames[3]).first, 0);
  // A delay of 0 still gives a valid rate (1000 frames per second).
  EXPECT_EQ(Probe(f)["r_frame_rate"], "1000/1");
}

TEST_F(AviRules, TheOptionsDialogChoosesAndCancelWritesNothing) {
  REQUIRE_FFMPEG();
  grid.SetImage(grid.AppendImage(), Solid(16, 16, 1));
  int asked = 0;
  gVXAviOptionsDialog = [&](TVXAviOptions& o) {
    ++asked;
    o.Encoder = "ffv1";
    return asked == 2;
  };
  const std::string f = dir / "asked.avi";
  mio.SaveToFileAVI(f);
  EXPECT_FALSE(std::filesystem::exists(f));
  EXPECT_FALSE(mio.Aborting);
  mio.SaveToFileAVI(f);
  EXPECT_EQ(Probe(f)["codec_name"], "ffv1");
  // An encoder set in code skips the dialog.
  mio.AviOptions.Encoder = "mjpeg";
  mio.SaveToFileAVI(f);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(Probe(f)["codec_name"], "mjpeg");
}

TEST_F(AviRules, FailuresAreReported) {
  grid.SetImage(grid.AppendImage(), Solid(16, 16, 1));
  mio.AviOptions.Encoder = "rawvideo";
  try {
    mio.SaveToFileAVI(dir / "no/such/dir.avi");
    ADD_FAILURE() << "no exception";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "unable to create AVI file");
  }
  mio.AviOptions.Encoder = "no-such-encoder";
  mio.SaveToFileAVI(dir / "x.avi");
  EXPECT_TRUE(mio.Aborting);
  EXPECT_FALSE(mio.LastError.empty());
  // Not an AVI: nothing is inserted.
  std::string gif = vexa::test::TestData("gif/pillow/dispose_none.gif");
  VEXA_REQUIRE_FILE(gif);
  std::filesystem::copy_file(gif, dir / "gif.avi");
  mio.LoadFromFile(dir / "gif.avi");
  EXPECT_TRUE(mio.Aborting);
  EXPECT_EQ(grid.GetImageCount(), 1);
  mio.LoadFromFileAVI(dir / "missing.avi");
  EXPECT_TRUE(mio.Aborting);
}

TEST(AviEncoders, TheOfferedEncodersAreBuilt) {
  std::vector<TVXAviEncoder> list = VXAviEncoders();
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front().Name, kVXAviDefaultEncoder);
}

}  // namespace
