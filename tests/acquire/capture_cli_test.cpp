// `vexa capture` as a whole process, on the test-pattern device.
#include <gtest/gtest.h>

#include <cstdlib>

#include "capture_testutil.h"
#include "support/fixtures.h"
#include "vexa/io/vexaio.h"

using namespace vexa;
using vexa::test::Quote;
using vexa::test::RunCli;

namespace {

class CaptureCli : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VEXA_TEST_CAPTURE");
    if (!VXV4L2DevicePaths().empty()) GTEST_SKIP() << "this machine has video devices; indices differ";
  }
  void TearDown() override { unsetenv("VEXA_TEST_CAPTURE"); }
  vexa::test::TScratchDir Dir;
};

TEST_F(CaptureCli, ListsNothingWithoutDevicesAndRefusesToCapture) {
  const auto list = RunCli("capture --list");
  EXPECT_EQ(list.Code, 0);
  EXPECT_EQ(list.Out, "");
  EXPECT_NE(list.Err.find("no video capture device"), std::string::npos);
  const auto grab = RunCli("capture " + Quote(Dir / "x.png"));
  EXPECT_EQ(grab.Code, 1);
  EXPECT_NE(grab.Err.find("Unable to open video capture driver"), std::string::npos) << grab.Err;
  EXPECT_EQ(RunCli("capture --frames 3 --seconds 2 " + Quote(Dir / "x.avi")).Code, 2);
}

TEST_F(CaptureCli, GrabsAStillAndRecordsAnAvi) {
  setenv("VEXA_TEST_CAPTURE", "1", 1);
  EXPECT_EQ(RunCli("capture --list").Out, "0: Vexa test pattern 1.0\n");

  const auto still = RunCli("capture --device 0 " + Quote(Dir / "still.png"));
  ASSERT_EQ(still.Code, 0) << still.Err;
  TBitmap bmp;
  TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  io.LoadFromFile(Dir / "still.png");
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(bmp.Width(), 320);
  EXPECT_GE(VXReadPatternCounter(bmp), 0);

  if (!capturetest::HaveFFprobe()) GTEST_SKIP() << "ffprobe not installed";
  const auto rec = RunCli("capture --frames 8 --rate 12 " + Quote(Dir / "rec.avi"));
  ASSERT_EQ(rec.Code, 0) << rec.Err;
  EXPECT_EQ(rec.Out, "8 frame(s) at 12 fps written to " + (Dir / "rec.avi") + "\n");
  const auto v = capturetest::Probe(Dir / "rec.avi");
  EXPECT_EQ(v.at("r_frame_rate"), "12/1");
  EXPECT_EQ(v.at("nb_read_frames"), "8");
  EXPECT_EQ(v.at("codec_name"), "mjpeg");
}

}  // namespace
