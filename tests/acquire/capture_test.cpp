// The capture service without a GUI: the test pattern and its counter, frame
// decoding (DIB, YUYV, Motion JPEG as cameras send it), Video4Linux2 format
// checks and device refusal, and preview, grab and recording on the synthetic
// device, with recorded files checked by ffprobe.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "capture_testutil.h"
#include "support/fixtures.h"
#include "vexa/acquire/v4l2format.h"
#include "vexa/codecs/jpeg.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"
#include "vexa/proc/resample.h"

using namespace vexa;
using namespace capturetest;

namespace {

std::vector<uint8_t> Block(int w, int h, int bits, uint32_t compression, const std::vector<TRGB>& pal = {}) {
  TVXBitmapInfoHeader hdr;
  hdr.Width = w;
  hdr.Height = h;
  hdr.BitCount = static_cast<uint16_t>(bits);
  hdr.Compression = compression;
  return VXMakeFormatBlock(hdr, pal);
}

// --- test pattern --------------------------------------------------------------

class PatternCounter : public ::testing::TestWithParam<std::tuple<int, int, uint32_t>> {};

TEST_P(PatternCounter, ReadsBackExactlyAndAfterRescaling) {
  const auto [w, h, counter] = GetParam();
  TBitmap bmp(w, h);
  VXDrawTestPattern(bmp, counter, 40);
  EXPECT_EQ(VXReadPatternCounter(bmp), counter);
  // Rescaling blurs cell edges: it is read back once cells are several pixels wide.
  if (w < 320) return;
  TBitmap half(w / 2 + 24, h / 2 + 4);
  _Resample(bmp, half, rfTriangle, nullptr, nullptr);
  EXPECT_EQ(VXReadPatternCounter(half), counter);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PatternCounter,
                         ::testing::Combine(::testing::Values(64, 320, 1280), ::testing::Values(48, 720),
                                            ::testing::Values(0u, 1u, 0xA5A5A5u, 0xFFFFFFu)));

TEST(Pattern, BarsMoveAndAPlainImageIsNotACounter) {
  TBitmap a(320, 240), b(320, 240);
  VXDrawTestPattern(a, 10);
  VXDrawTestPattern(b, 11);
  EXPECT_NE(std::memcmp(a.ScanLine(200), b.ScanLine(200), 320 * 3), 0) << "bars stand still";
  TBitmap grey(320, 240);
  grey.Fill({128, 128, 128});
  EXPECT_EQ(VXReadPatternCounter(grey), -1);
}

// --- frame decoding --------------------------------------------------------------

TEST(FrameDecoder, YuyvStudioRangeBecomesFullRangeRgb) {
  // Width 3: the last pair is half used, rows are 8 bytes.
  const std::vector<uint8_t> data = {235, 128, 235, 128, 235, 128, 235, 128,   // white row
                                     16,  128, 16,  128, 16,  128, 16,  128,   // black row
                                     81,  90,  81,  240, 81,  90,  81,  240};  // red row
  const std::vector<uint8_t> fmt = Block(3, 3, 16, kVXFourCC_YUY2);
  TVXFrameDecoder d;
  TBitmap bmp;
  ASSERT_TRUE(d.Decode(fmt.data(), fmt.size(), data.data(), data.size(), bmp));
  ASSERT_EQ(bmp.Width(), 3);
  EXPECT_EQ(bmp.GetPixel(2, 0), (TRGB{255, 255, 255}));
  EXPECT_EQ(bmp.GetPixel(0, 1), (TRGB{0, 0, 0}));
  const TRGB r = bmp.GetPixel(1, 2);
  EXPECT_GE(r.r, 250);
  EXPECT_LE(r.g, 4);
  EXPECT_LE(r.b, 4);
  EXPECT_FALSE(d.Decode(fmt.data(), fmt.size(), data.data(), data.size() - 1, bmp)) << "one byte short";
  EXPECT_TRUE(bmp.Empty());
}

TEST(FrameDecoder, DibRowsKeepTheirOrderAndPalette) {
  TBitmap src(64, 48);
  VXDrawTestPattern(src, 77);
  const std::vector<uint8_t> fmt = Block(64, 48, 24, kVXBI_RGB);
  TVXFrameDecoder d;
  TBitmap out;
  ASSERT_TRUE(d.Decode(fmt.data(), fmt.size(), src.Bits(), src.ImageSize(), out));
  EXPECT_EQ(VXReadPatternCounter(out), 77);
  EXPECT_EQ(std::vector<uint8_t>(out.Bits(), out.Bits() + out.ImageSize()),
            std::vector<uint8_t>(src.Bits(), src.Bits() + src.ImageSize()));
  // Negative height: the first row in memory is the top one.
  const std::vector<uint8_t> topDown = Block(64, -48, 24, kVXBI_RGB);
  ASSERT_TRUE(d.Decode(topDown.data(), topDown.size(), src.Bits(), src.ImageSize(), out));
  EXPECT_EQ(out.GetPixel(5, 0), src.GetPixel(5, 47));
  // 8 bits through the block's colour table.
  const std::vector<uint8_t> pal8 = Block(4, 1, 8, kVXBI_RGB, {{1, 2, 3}, {200, 100, 50}});
  const uint8_t idx[4] = {1, 0, 1, 1};
  ASSERT_TRUE(d.Decode(pal8.data(), pal8.size(), idx, 4, out));
  EXPECT_EQ(out.GetPixel(0, 0), (TRGB{200, 100, 50}));
  EXPECT_EQ(out.GetPixel(1, 0), (TRGB{1, 2, 3}));
}

// Cameras send Motion JPEG without Huffman tables; the standard ones apply.
TEST(FrameDecoder, MotionJpegWithoutHuffmanTablesDecodes) {
  TBitmap src(96, 64);
  VXDrawTestPattern(src, 4242);
  TMemoryStream jpeg;
  TIOParamsVals params;
  params.JPEG_Quality = 90;
  WriteJPegStream(jpeg, src, params, nullpr);
  std::vector<uint8_t> full(jpeg.Memory(), jpeg.Memory() + jpeg.Size()), stripped;
  // Copy every segment but DHT (FFC4) up to the scan.
  stripped.insert(stripped.end(), full.begin(), full.begin() + 2);
  size_t at = 2;
  while (at + 4 <= full.size() && full[at] == 0xFF && full[at + 1] != 0xDA) {
    const size_t len = 2 + (full[at + 2] << 8 | full[at + 3]);
    if (full[at + 1] != 0xC4) stripped.insert(stripped.end(), full.begin() + at, full.begin() + at + len);
    at += len;
  }
  stripped.insert(stripped.end(), full.begin() + at, full.end());
  ASSERT_LT(stripped.size(), full.size()) << "no DHT segment to remove";
  const std::vector<uint8_t> fmt = Block(96, 64, 24, kVXFourCC_MJPG);
  TVXFrameDecoder d;
  TBitmap a, b;
  ASSERT_TRUE(d.Decode(fmt.data(), fmt.size(), full.data(), full.size(), a));
  ASSERT_TRUE(d.Decode(fmt.data(), fmt.size(), stripped.data(), stripped.size(), b));
  EXPECT_EQ(VXReadPatternCounter(b), 4242);
  EXPECT_EQ(std::vector<uint8_t>(a.Bits(), a.Bits() + a.ImageSize()),
            std::vector<uint8_t>(b.Bits(), b.Bits() + b.ImageSize()));
}

TEST(FrameDecoder, RefusesWhatTheBlockCannotDescribe) {
  TVXFrameDecoder d;
  TBitmap bmp(5, 5);
  std::vector<uint8_t> data(4096, 0x55);
  struct Case {
    const char* Why;
    std::vector<uint8_t> Fmt;
    size_t Size;
  };
  const Case cases[] = {
      {"block shorter than a header", std::vector<uint8_t>(39, 0), data.size()},
      {"zero width", Block(0, 4, 24, kVXBI_RGB), data.size()},
      {"height without a positive counterpart", Block(8, INT32_MIN, 16, kVXFourCC_YUY2), data.size()},
      {"width beyond the bitmap limit", Block(1 << 30, 1 << 30, 24, kVXBI_RGB), data.size()},
      {"truncated DIB", Block(64, 64, 24, kVXBI_RGB), data.size()},
      {"16-bit DIB", Block(8, 8, 16, kVXBI_RGB), data.size()},
      {"truncated YUYV", Block(64, 64, 16, kVXFourCC_YUY2), data.size()},
      {"not a JPEG", Block(8, 8, 24, kVXFourCC_MJPG), data.size()},
      {"unknown compression", Block(8, 8, 24, VXFourCC('H', '2', '6', '4')), data.size()},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(d.Decode(c.Fmt.data(), c.Fmt.size(), data.data(), c.Size, bmp)) << c.Why;
    EXPECT_TRUE(bmp.Empty()) << c.Why;
  }
}

// --- Video4Linux2 ------------------------------------------------------------------

TEST(V4L2Format, YuyvPaddingIsDroppedAndContradictionsRefused) {
  TVXV4L2Format f;
  f.PixelFormat = VXFourCC('Y', 'U', 'Y', 'V');
  f.Width = 3;
  f.Height = 2;
  f.BytesPerLine = 12;  // 8 used, 4 padding
  const std::vector<uint8_t> block = VXV4L2FormatBlock(f);
  TVXBitmapInfoHeader h;
  ASSERT_TRUE(VXReadBitmapInfo(block.data(), block.size(), h));
  EXPECT_GE(block.size(), kVXFormatBlockSize);
  EXPECT_EQ(h.Compression, kVXFourCC_YUY2);
  EXPECT_EQ(h.SizeImage, 16u);
  std::vector<uint8_t> buffer(20), out;
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(VXV4L2CopyFrame(f, buffer.data(), buffer.size(), out));  // last row needs no padding
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 12, 13, 14, 15, 16, 17, 18, 19}));
  EXPECT_FALSE(VXV4L2CopyFrame(f, buffer.data(), 19, out));

  TVXV4L2Format bad = f;
  bad.BytesPerLine = 6;
  EXPECT_TRUE(VXV4L2FormatBlock(bad).empty()) << "rows shorter than the pixels";
  bad = f;
  bad.Width = 0;
  EXPECT_TRUE(VXV4L2FormatBlock(bad).empty());
  bad = f;
  bad.PixelFormat = VXFourCC('N', 'V', '1', '2');
  EXPECT_TRUE(VXV4L2FormatBlock(bad).empty());
  EXPECT_FALSE(VXV4L2CopyFrame(bad, buffer.data(), buffer.size(), out));
  TVXV4L2Format mjpg{VXFourCC('M', 'J', 'P', 'G'), 640, 480, 0, 100000};
  ASSERT_TRUE(VXReadBitmapInfo(VXV4L2FormatBlock(mjpg).data(), kVXFormatBlockSize, h));
  EXPECT_EQ(h.Compression, kVXFourCC_MJPG);
}

TEST(V4L2Device, NodesThatAreNotCaptureDevicesAreRefused) {
  vexa::test::TScratchDir dir;
  vexa::test::WriteFileBytes(dir / "plain", {1, 2, 3});
  for (const std::string& path : {std::string("/dev/null"), dir / "plain"}) {
    std::string why;
    EXPECT_EQ(VXOpenV4L2Device(path, &why), nullptr) << path;
    EXPECT_NE(why.find("not a video capture device"), std::string::npos) << why;
    std::string name, version;
    EXPECT_FALSE(VXV4L2Describe(path, name, version));
  }
  std::string why;
  EXPECT_EQ(VXOpenV4L2Device(dir / "missing", &why), nullptr);
  EXPECT_NE(why.find("No such file"), std::string::npos) << why;
}

TEST(CaptureDrivers, RealDevicesFirstThenTheTestPatternWhenEnabled) {
  unsetenv("VEXA_TEST_CAPTURE");
  VXEnableTestCapture(false);
  int real = 0;
  for (const std::string& p : VXV4L2DevicePaths()) {
    EXPECT_EQ(p.rfind("/dev/video", 0), 0u) << p;
    std::string n, v;
    real += VXV4L2Describe(p, n, v);
  }
  auto count = [] {
    int n = 0;
    std::string name, version;
    while (n < kVXMaxCaptureDrivers && VXCaptureDriverDescription(n, name, version)) ++n;
    return n;
  };
  EXPECT_EQ(count(), std::min(real, kVXMaxCaptureDrivers)) << "only capture devices are listed";
  EXPECT_EQ(VXOpenCaptureDriver(real), nullptr);
  setenv("VEXA_TEST_CAPTURE", "1", 1);
  ASSERT_EQ(count(), real + 1);
  std::string name, version;
  ASSERT_TRUE(VXCaptureDriverDescription(real, name, version));
  EXPECT_EQ(name + " " + version, "Vexa test pattern 1.0");
  EXPECT_NE(VXOpenCaptureDriver(real), nullptr);
  unsetenv("VEXA_TEST_CAPTURE");
  EXPECT_EQ(count(), real);
}

// --- capture service --------------------------------------------------------------------

TEST(CaptureService, FormatBlockAndPreviewFramesOnTheCaptureThread) {
  TVXCaptureService s;
  ASSERT_TRUE(s.DriverConnect(VXCreateTestPatternDevice(30)));
  const std::vector<uint8_t> fmt = s.GetVideoFormat();
  TVXBitmapInfoHeader h;
  ASSERT_TRUE(VXReadBitmapInfo(fmt.data(), fmt.size(), h));
  EXPECT_GE(fmt.size(), kVXFormatBlockSize);
  EXPECT_EQ(h.Width, 320);
  EXPECT_EQ(h.Height, 240);
  EXPECT_EQ(h.BitCount, 24);
  EXPECT_EQ(h.SizeImage, 320u * 240 * 3);

  std::mutex lock;
  std::vector<int64_t> counters;
  std::thread::id thread;
  TVXFrameDecoder d;
  s.SetFrameCallback([&](const TVXCaptureFrame& f) {
    TBitmap bmp;
    const bool ok = d.Decode(f.Format->data(), f.Format->size(), f.Data, f.Size, bmp);
    std::lock_guard<std::mutex> g(lock);
    counters.push_back(ok ? VXReadPatternCounter(bmp) : -1);
    thread = std::this_thread::get_id();
  });
  s.SetCallbackOn(true);
  s.SetPreviewRate(66);  // every other frame of a 30 fps device
  s.SetPreview(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  s.SetPreview(false);
  std::lock_guard<std::mutex> g(lock);
  EXPECT_NE(thread, std::this_thread::get_id());
  EXPECT_GE(counters.size(), 11u);
  EXPECT_LE(counters.size(), 17u);
  for (size_t i = 1; i < counters.size(); ++i) {
    EXPECT_GE(counters[i] - counters[i - 1], 1) << "frame " << i;
    EXPECT_LE(counters[i] - counters[i - 1], 4) << "frame " << i;
  }
  EXPECT_GT(s.DroppedFrames(), 5u);
}

TEST(CaptureService, GrabStopsPreviewAndReadsOneFrame) {
  TVXCaptureService s;
  ASSERT_TRUE(s.DriverConnect(VXCreateTestPatternDevice(30)));
  s.SetPreview(true);
  std::vector<uint8_t> data;
  ASSERT_TRUE(s.GrabFrame(data));
  EXPECT_FALSE(s.Preview());
  EXPECT_EQ(data.size(), 320u * 240 * 3);
  TVXCaptureService none;
  EXPECT_FALSE(none.GrabFrame(data));
}

class CaptureRecording : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFFprobe()) GTEST_SKIP() << "ffprobe not installed (scripts/packages.txt)";
    ASSERT_TRUE(S.DriverConnect(VXCreateTestPatternDevice(30)));
  }
  TVXCaptureService S;
  vexa::test::TScratchDir Dir;
};

TEST_F(CaptureRecording, FrameLimitedRecordingPlaysAtTheRequestedRate) {
  TVXCaptureParms p;
  p.MicroSecPerFrame = 100000;  // 10 fps from a 30 fps device
  p.FrameLimit = 12;
  p.Yield = false;
  S.SetSequenceSetup(p);
  ASSERT_TRUE(S.SetCaptureFile(Dir / "rec.avi"));
  ASSERT_TRUE(S.StartSequence()) << S.Error();
  EXPECT_FALSE(S.Recording()) << "without yield the call returns with the recording done";
  EXPECT_EQ(S.RecordedFrames(), 12);
  const auto v = Probe(Dir / "rec.avi");
  EXPECT_EQ(v.at("codec_name"), "mjpeg");
  EXPECT_EQ(v.at("r_frame_rate"), "10/1");
  EXPECT_EQ(v.at("nb_read_frames"), "12");
  EXPECT_EQ(v.at("width"), "320");
  // Each slot of 100 ms holds the device's newest frame: about three counts apart.
  const std::vector<int64_t> c = FileCounters(Dir / "rec.avi");
  ASSERT_EQ(c.size(), 12u);
  for (size_t i = 1; i < c.size(); ++i) EXPECT_GE(c[i], c[i - 1]) << i;
  EXPECT_NEAR(static_cast<double>(c.back() - c.front()), 33.0, 8.0);
}

TEST_F(CaptureRecording, TimedRecordingWithAudioAsked) {
  TVXCaptureParms p;
  p.MicroSecPerFrame = 50000;
  p.CaptureAudio = true;
  S.SetSequenceSetup(p);
  ASSERT_TRUE(S.SetCaptureFile(Dir / "timed.avi"));
  ASSERT_TRUE(S.StartSequence());
  EXPECT_FALSE(S.StartSequence()) << "one recording at a time";
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_TRUE(S.StopSequence());
  const auto v = Probe(Dir / "timed.avi");
  EXPECT_EQ(v.at("r_frame_rate"), "20/1");
  EXPECT_NEAR(std::atoi(v.at("nb_read_frames").c_str()), 30, 4);
  const auto a = Probe(Dir / "timed.avi", "a:0");
  if (S.RecordedAudio()) {
    EXPECT_EQ(a.at("codec_name"), "pcm_s16le");
  } else {
    EXPECT_TRUE(a.empty());
    EXPECT_NE(S.AudioNote().find("no audio was recorded"), std::string::npos) << S.AudioNote();
  }
}

TEST_F(CaptureRecording, UncreatableFileIsRefusedBeforeRecording) {
  EXPECT_FALSE(S.SetCaptureFile(Dir / "no-such-folder/x.avi"));
  EXPECT_FALSE(S.SetCaptureFile(""));
  TVXCaptureService idle;
  ASSERT_TRUE(idle.SetCaptureFile(Dir / "idle.avi"));
  EXPECT_FALSE(idle.StartSequence()) << "no driver connected";
}

// The audio track of the AVI module, fed directly.
TEST(AviAudio, PcmTrackBesideTheVideoKeepsTheSamples) {
  if (!HaveFFprobe()) GTEST_SKIP() << "ffprobe not installed";
  vexa::test::TScratchDir dir;
  TVXAviOptions o;
  o.Encoder = "mjpeg";
  o.AudioSampleRate = 8000;
  o.AudioChannels = 1;
  TVXAviWriter w;
  ASSERT_EQ(w.Create(dir / "av.avi", 64, 48, 10, o), vxacOK);
  std::vector<int16_t> tone(8000);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(8000 * std::sin(i * 0.05));
  TBitmap frame(64, 48);
  for (int i = 0; i < 10; ++i) {
    VXDrawTestPattern(frame, static_cast<uint32_t>(i));
    ASSERT_TRUE(w.WriteFrame(frame));
    ASSERT_TRUE(w.WriteAudio(tone.data() + 800 * i, 800));
  }
  ASSERT_TRUE(w.Finish());
  const auto a = Probe(dir / "av.avi", "a:0");
  EXPECT_EQ(a.at("codec_name"), "pcm_s16le");
  EXPECT_EQ(a.at("sample_rate"), "8000");
  EXPECT_EQ(a.at("channels"), "1");
  const std::string raw = dir / "av.raw";
  ASSERT_EQ(std::system(("ffmpeg -v error -i '" + (dir / "av.avi") + "' -map 0:a -f s16le '" + raw + "'").c_str()), 0);
  const std::vector<uint8_t> bytes = vexa::test::ReadFileBytes(raw);
  ASSERT_EQ(bytes.size(), tone.size() * 2);
  EXPECT_EQ(std::memcmp(bytes.data(), tone.data(), bytes.size()), 0);
  EXPECT_EQ(FileCounters(dir / "av.avi").back(), 9);
}

}  // namespace
