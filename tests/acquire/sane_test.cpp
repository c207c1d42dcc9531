// Scanning through our manager and its SANE data source against SANE's own
// `test` backend (configured privately, no root, no real device).
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <tuple>

#include "acquire_testutil.h"
#include "support/pixels.h"
#include "vexa/acquire/twain.h"
#include "vexa/acquire/twainclient.h"
#include "vexa/io/vexaio.h"

using namespace vexa;
using namespace acquiretest;

namespace {

class SaneScan : public ::testing::Test {
 protected:
  void SetUp() override {
    UseManager();
    if (VXTW_ManagerCandidates().empty()) GTEST_SKIP();
  }
  // Parameters for `source` with the page settings the application asks for.
  // `mm` is the area in millimetres: the backend sets its corners in whole millimetres.
  void Choose(TVXTWainParams& tw, const std::string& source, int pixelType, double dpi,
              std::array<double, 4> mm) {
    ASSERT_TRUE(tw.SelectSourceByName(source)) << "no source " << source << " (SANE test backend missing?)";
    TVXTWSourceCaps& caps = tw.Capabilities();
    caps.PixelType.SetCurrentValue(pixelType);
    caps.XResolution.SetCurrentValue(dpi);
    caps.YResolution.SetCurrentValue(dpi);
    for (int k = 0; k < 4; ++k) caps.AcquireFrame[k] = mm[static_cast<size_t>(k)] / 25.4;
    tw.VisibleDialog = false;
  }
  TSaneTestConfig Config;
};

}  // namespace

TEST_F(SaneScan, EveryTestDeviceIsASource) {
  std::vector<TVXTWSourceIdentity> list;
  VXTW_GetSourceList(list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].ProductName(), "test:0");
  EXPECT_EQ(list[1].ProductName(), "test:1");
  TVXTWainParams tw;
  ASSERT_TRUE(tw.SelectSourceByName("TEST:1"));
  const TVXTWSourceCaps& caps = tw.Capabilities();
  // The backend's resolution option is a range of 1 to 1200 dpi; its modes are grey and colour,
  // with 1-bit grey as black and white; its area is 200 mm wide.
  EXPECT_DOUBLE_EQ(caps.XResolution.RangeMin(), 1);
  EXPECT_DOUBLE_EQ(caps.XResolution.RangeMax(), 1200);
  ASSERT_EQ(caps.PixelType.Count, 3);
  EXPECT_NEAR(caps.PhysicalWidth, 200 / 25.4, 1e-3);
  EXPECT_NEAR(caps.AcquireFrame[2], 80 / 25.4, 1e-3);
}

class SaneSinglePage : public SaneScan, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

// One page per pixel type and transfer: the size follows resolution and area
// (30 x 60 mm at 100 dpi: 118.1 x 236.2 pixels).
TEST_P(SaneSinglePage, HasTheSizeOfResolutionTimesArea) {
  const auto [pixelType, buffered] = GetParam();
  TVexaIO io;
  TBitmap bmp;
  io.SetAttachedBitmap(&bmp);
  Choose(io.TWainParams, "test:0", pixelType, 100, {10, 5, 40, 65});
  io.TWainParams.Capabilities().BufferedTransfer = buffered;
  ASSERT_TRUE(io.Acquire()) << VXTW_LastFailure().Message;
  EXPECT_EQ(bmp.Width(), 118);
  EXPECT_EQ(bmp.Height(), 236);
  EXPECT_EQ(bmp.PixelFormat(), pixelType == twain::TWPT_BW ? pf1bit : pf24bit);
  EXPECT_EQ(io.Params.DpiX, 100);
  EXPECT_EQ(io.Params.Width, 118);
  EXPECT_EQ(io.Params.Height, 236);
  EXPECT_EQ(io.Params.SamplesPerPixel, pixelType == twain::TWPT_RGB ? 3 : 1);
  EXPECT_EQ(io.Params.BitsPerSample, pixelType == twain::TWPT_BW ? 1 : 8);
  // Memory transfers stream from the device while native ones read the page whole
  // first: the two must agree on every pixel of the backend's colour pattern.
  TBitmap other;
  io.SetAttachedBitmap(&other);
  io.TWainParams.Capabilities().BufferedTransfer = !buffered;
  ASSERT_TRUE(io.Acquire()) << VXTW_LastFailure().Message;
  EXPECT_TRUE(vexa::test::SameImage(bmp, other));
  int differing = 0;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) differing += bmp.GetPixel(x, y) != bmp.GetPixel(0, 0);
  EXPECT_GT(differing, bmp.Width() * bmp.Height() / 10);  // a pattern, not one colour
}

INSTANTIATE_TEST_SUITE_P(TypesAndTransfers, SaneSinglePage,
                         ::testing::Combine(::testing::Values(int{twain::TWPT_RGB}, int{twain::TWPT_GRAY},
                                                              int{twain::TWPT_BW}),
                                            ::testing::Bool()));

TEST_F(SaneScan, FeederBatchCallsThePageCallbackForEverySheet) {
  TVXTWainParams tw;
  Choose(tw, "test:0", twain::TWPT_GRAY, 100, {0, 0, 10, 10});
  tw.Capabilities().FeederEnabled = true;
  std::vector<std::unique_ptr<TIOParamsVals>> records;
  std::vector<int> widthInCallback;
  TProgressRec pr;
  ASSERT_TRUE(VXTW_Acquire(
      nullptr, nullptr, true,
      [&](TBitmap& page) -> TIOParamsVals* {
        EXPECT_EQ(page.Width(), 39);
        records.push_back(std::make_unique<TIOParamsVals>());
        widthInCallback.push_back(records.back()->Width);
        return records.back().get();
      },
      tw, nullptr, pr))
      << VXTW_LastFailure().Message;
  // The test backend's feeder holds ten sheets.
  ASSERT_EQ(records.size(), 10u);
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(widthInCallback[i], 0);
    EXPECT_EQ(records[i]->Width, 39);
    EXPECT_EQ(records[i]->Height, 39);
    EXPECT_EQ(records[i]->DpiX, 100);
  }
}

TEST_F(SaneScan, AbortInTheMiddleKeepsTheBitmap) {
  TVexaIO io;
  TBitmap bmp(3, 3);
  bmp.Fill(CreateRGB(10, 20, 30));
  io.SetAttachedBitmap(&bmp);
  Choose(io.TWainParams, "test:0", twain::TWPT_RGB, 300, {0, 0, 50, 50});
  std::vector<int> seen;
  io.OnProgress = [&](TObject*, int per) {
    seen.push_back(per);
    io.Aborting = true;
  };
  EXPECT_FALSE(io.Acquire());
  ASSERT_EQ(seen.size(), 1u);  // stopped after the first block of a page of several
  EXPECT_LT(seen[0], 100);
  EXPECT_EQ(bmp.Width(), 3);
  EXPECT_EQ(bmp.GetPixel(1, 1), CreateRGB(10, 20, 30));
  // The connection closed in order: the next scan works.
  io.OnProgress = nullptr;
  EXPECT_TRUE(io.Acquire()) << VXTW_LastFailure().Message;
  EXPECT_EQ(bmp.Width(), 590);
}
