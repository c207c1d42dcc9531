// The TWAIN client driven through our manager against the scripted data source:
// the protocol sequence it records, the transfers, and sources that misbehave.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "acquire_testutil.h"
#include "vexa/acquire/twainclient.h"
#include "vexa/io/scanservice.h"
#include "vexa/io/vexaio.h"
#include "vexa/mview/imagegrid.h"
#include "vexa/mview/vexamio.h"

using namespace vexa;
using namespace acquiretest;

namespace {

std::vector<std::string> Lines(const std::string& log) {
  std::vector<std::string> out;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);)
    if (out.empty() || line != out.back() || line != "IMAGEMEMXFER GET") out.push_back(line);
  return out;
}

TRGB Expected(int x, int y, int page) {
  return CreateRGB(static_cast<uint8_t>(x * 8), static_cast<uint8_t>(y * 8), static_cast<uint8_t>(page * 50));
}

// Parameters whose capabilities are taken as read, with the given source chosen.
void Prepare(TVXTWainParams& tw, const std::string& source) {
  tw.SourceCount();
  ASSERT_TRUE(tw.SelectSourceByName(source)) << source;
  tw.CapabilitiesFilled = true;
}

// Gathers the bands of a page into one bitmap, checking that each lies inside the
// page and counting how often every row arrives.
class TGatherSink : public TVXTWBandSink {
 public:
  bool Begin(int width, int height, TPixelFormat pf, const TIOParamsVals& params) override {
    Page.Allocate(width, height, pf);
    Arrivals.assign(static_cast<size_t>(height), 0);
    Dpi = params.DpiX;
    return true;
  }
  bool Band(int y, const TBitmap& band) override {
    EXPECT_EQ(band.Width(), Page.Width());
    EXPECT_EQ(band.PixelFormat(), Page.PixelFormat());
    EXPECT_TRUE(y >= 0 && band.Height() > 0 && y + band.Height() <= Page.Height()) << y << "+" << band.Height();
    if (band.Width() != Page.Width() || y < 0 || y + band.Height() > Page.Height()) return false;
    for (int r = 0; r < band.Height(); ++r) {
      std::memcpy(Page.ScanLine(y + r), band.ScanLine(r), static_cast<size_t>(band.RowLen()));
      ++Arrivals[static_cast<size_t>(y + r)];
    }
    ++Bands;
    return Bands < StopAfter;
  }
  TBitmap Page;
  std::vector<int> Arrivals;
  int Bands = 0, Dpi = 0, StopAfter = 1 << 30;
};

class TwainFake : public ::testing::Test {
 protected:
  void SetUp() override {
    UseManager();
    ::setenv("VEXA_TWAIN_SANE", "0", 1);
    ::setenv("VEXA_TWAIN_SOURCES", VEXA_FAKE_DS, 1);
    Fake.Configure("name=Fake Scanner");
  }
  void TearDown() override { ::unsetenv("VEXA_TWAIN_SOURCES"); }
  TFakeSource Fake{VEXA_FAKE_DS};
};

}  // namespace

TEST_F(TwainFake, MemoryTransferFollowsTheProtocolOrderWithTheNegotiatedValues) {
  TVXTWainParams tw;
  Prepare(tw, "Fake Scanner");
  TVXTWSourceCaps& caps = tw.Capabilities();
  caps.XResolution.SetCurrentValue(300);
  caps.YResolution.Add(100), caps.YResolution.Add(200);
  caps.YResolution.SetCurrentValue(200);
  caps.PixelType.SetCurrentValue(7);  // limited to RGB
  caps.AcquireFrame[2] = 8.5, caps.AcquireFrame[3] = 11.25;
  tw.VisibleDialog = false;
  Fake.ClearLog();

  TBitmap bmp(3, 3);
  TIOParamsVals params;
  TProgressRec pr;
  std::vector<int> progress;
  pr.OnProgress = [&](TObject*, int per) { progress.push_back(per); };
  ASSERT_TRUE(VXTW_Acquire(nullptr, &bmp, false, nullptr, tw, &params, pr)) << VXTW_LastFailure().Message;

  const std::vector<std::string> expected = {
      "IDENTITY GET",  // the manager asks each source who it is when it opens
      "IDENTITY OPENDS",
      "GET ICAP_UNITS",
      "SET ICAP_UNITS ONEVALUE 0",
      "SET ICAP_PIXELFLAVOR ONEVALUE 0",
      "SET ICAP_XRESOLUTION ONEVALUE 300",
      "SET ICAP_YRESOLUTION ENUMERATION 100,200 @1",
      "SET ICAP_YRESOLUTION ONEVALUE 200",
      "SET ICAP_PIXELTYPE ONEVALUE 2",
      "SET ICAP_BITDEPTH ONEVALUE 24",
      "SET ICAP_PLANARCHUNKY ONEVALUE 0",
      "GET ICAP_XFERMECH",
      "SET ICAP_XFERMECH ONEVALUE 2",
      "SET CAP_FEEDERENABLED ONEVALUE 0",
      "SET CAP_INDICATORS ONEVALUE -1",
      "IMAGELAYOUT SET 0 0 8.5 11.25",
      "USERINTERFACE ENABLEDS",
      "EVENT XFERREADY",
      "IMAGEINFO GET",
      "SETUPMEMXFER GET",
      "IMAGEMEMXFER GET",
      "PENDINGXFERS ENDXFER",
      "USERINTERFACE DISABLEDS",
      "IDENTITY CLOSEDS",
  };
  EXPECT_EQ(Lines(Fake.Log()), expected);

  ASSERT_EQ(bmp.PixelFormat(), pf24bit);
  ASSERT_EQ(bmp.Width(), 40);
  ASSERT_EQ(bmp.Height(), 30);
  for (int y : {0, 7, 29})
    for (int x : {0, 13, 39}) EXPECT_EQ(bmp.GetPixel(x, y), Expected(x, y, 0)) << x << "," << y;
  EXPECT_EQ(params.Width, 40);
  EXPECT_EQ(params.Height, 30);
  EXPECT_EQ(params.DpiX, 300);
  EXPECT_EQ(params.DpiY, 151);
  EXPECT_EQ(params.BitsPerSample, 8);
  EXPECT_EQ(params.SamplesPerPixel, 3);
  // Blocks of four rows: 4/30, 8/30, ... 30/30.
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.front(), 13);
  EXPECT_EQ(progress.back(), 100);
  EXPECT_FALSE(VXTW_LastFailure().Occurred());
}

TEST_F(TwainFake, SourceWithoutMemoryTransferIsDrivenNatively) {
  Fake.Configure("name=Fake Scanner;memory=0;width=17;height=9");
  TVXTWainParams tw;
  Prepare(tw, "Fake Scanner");
  ASSERT_TRUE(tw.Capabilities().BufferedTransfer);
  Fake.ClearLog();
  TBitmap bmp;
  TProgressRec pr;
  ASSERT_TRUE(VXTW_Acquire(nullptr, &bmp, false, nullptr, tw, nullptr, pr)) << VXTW_LastFailure().Message;
  const std::string log = Fake.Log();
  EXPECT_NE(log.find("IMAGENATIVEXFER GET"), std::string::npos);
  EXPECT_EQ(log.find("IMAGEMEMXFER"), std::string::npos);
  EXPECT_EQ(log.find("SET ICAP_XFERMECH"), std::string::npos);
  ASSERT_EQ(bmp.Width(), 17);
  ASSERT_EQ(bmp.Height(), 9);
  for (int y : {0, 8})
    for (int x : {0, 16}) EXPECT_EQ(bmp.GetPixel(x, y), Expected(x, y, 0));
}

TEST_F(TwainFake, GreyAndLineArtBlocksLandInTheirFormats) {
  for (int bpp : {8, 1}) {
    Fake.Configure("name=Fake Scanner;width=21;height=5;bpp=" + std::to_string(bpp));
    TVXTWainParams tw;
    Prepare(tw, "Fake Scanner");
    TBitmap bmp;
    TProgressRec pr;
    ASSERT_TRUE(VXTW_Acquire(nullptr, &bmp, false, nullptr, tw, nullptr, pr)) << VXTW_LastFailure().Message;
    ASSERT_EQ(bmp.PixelFormat(), bpp == 1 ? pf1bit : pf24bit);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 21; ++x) {
        const uint8_t v = bpp == 1 ? ((x + y) % 2 ? 255 : 0) : static_cast<uint8_t>(x * 8 + y * 8);
        ASSERT_EQ(bmp.GetPixel(x, y), CreateRGB(v, v, v)) << bpp << " bpp at " << x << "," << y;
      }
  }
}

TEST_F(TwainFake, FeederOfThreeSheetsCallsThePageCallbackThreeTimes) {
  Fake.Configure("name=Fake Scanner;pages=3;width=8;height=4");
  TVXTWainParams tw;
  Prepare(tw, "Fake Scanner");
  tw.Capabilities().FeederEnabled = true;
  std::vector<TIOParamsVals> records(3);
  std::vector<TBitmap> pages;
  std::vector<int> heightSeenInCallback;
  TProgressRec pr;
  ASSERT_TRUE(VXTW_Acquire(
      nullptr, nullptr, true,
      [&](TBitmap& page) -> TIOParamsVals* {
        pages.push_back(page);
        heightSeenInCallback.push_back(records[pages.size() - 1].Height);
        return &records[pages.size() - 1];
      },
      tw, nullptr, pr));
  ASSERT_EQ(pages.size(), 3u);
  for (int p = 0; p < 3; ++p) {
    // Each sheet is one row taller than the one before; its record is filled after the callback.
    EXPECT_EQ(heightSeenInCallback[p], 0);
    EXPECT_EQ(records[p].Height, 4 + p);
    EXPECT_EQ(records[p].Width, 8);
    EXPECT_EQ(pages[p].Height(), 4 + p);
    EXPECT_EQ(pages[p].GetPixel(3, 2), Expected(3, 2, p));
  }
  EXPECT_NE(Fake.Log().find("SET CAP_FEEDERENABLED ONEVALUE -1"), std::string::npos);
}

TEST_F(TwainFake, NameNoSourceHasFallsBackToTheLastEnumerated) {
  std::filesystem::path second = std::filesystem::temp_directory_path() / ("vexa-fake2-" + std::to_string(::getpid()) + ".so");
  std::filesystem::copy_file(VEXA_FAKE_DS, second, std::filesystem::copy_options::overwrite_existing);
  {
    TFakeSource other(second.string());
    other.Configure("name=Second Fake");
    ::setenv("VEXA_TWAIN_SOURCES", (std::string(VEXA_FAKE_DS) + ":" + second.string()).c_str(), 1);
    TVXTWainParams tw;
    ASSERT_EQ(tw.SourceCount(), 2);
    EXPECT_EQ(tw.SourceName(1), "Second Fake");
    tw.Sources[0].Bytes[122] = 'X';  // "Xake Scanner": no source has it
    tw.CapabilitiesFilled = true;
    Fake.ClearLog();
    TBitmap bmp;
    TProgressRec pr;
    ASSERT_TRUE(VXTW_Acquire(nullptr, &bmp, false, nullptr, tw, nullptr, pr));
    EXPECT_EQ(Fake.Log().find("OPENDS"), std::string::npos);
    EXPECT_NE(other.Log().find("IDENTITY OPENDS"), std::string::npos);
  }
  std::filesystem::remove(second);
}

TEST_F(TwainFake, CapabilitiesAreReadFromTheSource) {
  TVXTWainParams tw;
  tw.SourceCount();
  const TVXTWSourceCaps& caps = tw.Capabilities();
  EXPECT_DOUBLE_EQ(caps.XResolution.RangeMin(), 50);
  EXPECT_DOUBLE_EQ(caps.XResolution.RangeMax(), 600);
  EXPECT_DOUBLE_EQ(caps.XResolution.RangeStep(), 0.5);
  EXPECT_DOUBLE_EQ(caps.XResolution.CurrentValue(), 150.25);
  ASSERT_EQ(caps.PixelType.Count, 3);
  EXPECT_EQ(caps.PixelType.CurrentValue(), 1);
  EXPECT_EQ(caps.XScaling.Count, 1);  // unanswered: the single value 1
  EXPECT_DOUBLE_EQ(caps.Gamma, 2.2);
  EXPECT_TRUE(caps.FeederEnabled);
  EXPECT_EQ(caps.XResolution.Changed, 0);  // a later Update sends only what the application changes
  EXPECT_NE(Fake.Log().find("SET ICAP_UNITS ONEVALUE 0"), std::string::npos);
}

// A source that lies must not get a byte written out of place: the acquisition
// fails with a reason, the caller's bitmap stays as it was and the connection
// still closes in order.
// With a band sink instead of a bitmap, no band may lie outside the page.
class TwainBadSource : public TwainFake, public ::testing::WithParamInterface<std::tuple<const char*, bool>> {};

TEST_P(TwainBadSource, IsRefusedAndTheBitmapKept) {
  const auto [fault, bands] = GetParam();
  Fake.Configure(std::string("name=Fake Scanner;width=16;height=12;") + "fault=" + fault +
                 (std::string(fault) == "badnative" ? ";memory=0" : ""));
  TVXTWainParams tw;
  Prepare(tw, "Fake Scanner");
  TBitmap bmp(5, 4);
  bmp.Fill(CreateRGB(1, 2, 3));
  const TBitmap before = bmp;
  TProgressRec pr;
  TGatherSink sink;
  EXPECT_FALSE(bands ? VXTW_AcquireBands(nullptr, sink, tw, nullptr, pr)
                     : VXTW_Acquire(nullptr, &bmp, false, nullptr, tw, nullptr, pr));
  ASSERT_EQ(bmp.Width(), 5);
  ASSERT_EQ(bmp.Height(), 4);
  EXPECT_EQ(std::memcmp(bmp.Bits(), before.Bits(), bmp.ImageSize()), 0);
  EXPECT_TRUE(VXTW_LastFailure().Occurred());
  EXPECT_FALSE(VXTW_LastFailure().Message.empty());
  const std::vector<std::string> lines = Lines(Fake.Log());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "IDENTITY CLOSEDS");
}

INSTANTIATE_TEST_SUITE_P(Faults, TwainBadSource,
                         ::testing::Combine(::testing::Values("absurd", "negheight", "negrows", "pastimage", "short",
                                                              "bigrow", "endless", "compressed", "badnative"),
                                            ::testing::Bool()));

// A page handed on in bands is the page a bitmap receives: whole rows as they
// come, tiles and native transfers gathered into one band.
class TwainBands : public TwainFake, public ::testing::WithParamInterface<std::tuple<const char*, int>> {};

TEST_P(TwainBands, CoverThePageOnceWithTheBitmapsPixels) {
  const auto [script, expectedBands] = GetParam();
  Fake.Configure(std::string("name=Fake Scanner;width=21;height=10;") + script);
  TVXTWainParams tw;
  Prepare(tw, "Fake Scanner");
  TProgressRec pr;
  TBitmap whole;
  ASSERT_TRUE(VXTW_Acquire(nullptr, &whole, false, nullptr, tw, nullptr, pr)) << VXTW_LastFailure().Message;
  TGatherSink sink;
  TIOParamsVals params;
  ASSERT_TRUE(VXTW_AcquireBands(nullptr, sink, tw, &params, pr)) << VXTW_LastFailure().Message;
  EXPECT_EQ(sink.Bands, expectedBands);
  EXPECT_EQ(sink.Arrivals, std::vector<int>(10, 1));
  ASSERT_EQ(sink.Page.PixelFormat(), whole.PixelFormat());
  EXPECT_EQ(std::memcmp(sink.Page.Bits(), whole.Bits(), whole.ImageSize()), 0);
  EXPECT_EQ(sink.Dpi, 300);
  EXPECT_EQ(params.Height, 10);
  EXPECT_EQ(Lines(Fake.Log()).back(), "IDENTITY CLOSEDS");
}

INSTANTIATE_TEST_SUITE_P(Sources, TwainBands,
                         ::testing::Values(std::tuple{"bpp=24", 3}, std::tuple{"bpp=8", 3}, std::tuple{"bpp=1", 3},
                                           std::tuple{"memory=0", 1}, std::tuple{"tiles=1", 1},
                                           std::tuple{"tiles=1;bpp=8", 1}));

TEST_F(TwainFake, SinkThatStopsTakingBandsEndsTheTransfer) {
  TVXTWainParams tw;
  Prepare(tw, "Fake Scanner");
  TGatherSink sink;
  sink.StopAfter = 2;
  TProgressRec pr;
  EXPECT_FALSE(VXTW_AcquireBands(nullptr, sink, tw, nullptr, pr));
  EXPECT_EQ(sink.Bands, 2);
  EXPECT_EQ(VXTW_LastFailure().State, 7);
  EXPECT_EQ(Lines(Fake.Log()).back(), "IDENTITY CLOSEDS");
}

TEST(TwainNoManager, AcquisitionAnswersFalseAndLeavesTheBitmap) {
  VXTW_SetManagerPath("/nonexistent/libtwaindsm.so");
  TVXTWainParams tw;
  TBitmap bmp(6, 6);
  bmp.Fill(CreateRGB(9, 8, 7));
  const TBitmap before = bmp;
  TProgressRec pr;
  EXPECT_FALSE(VXTW_Acquire(nullptr, &bmp, false, nullptr, tw, nullptr, pr));
  EXPECT_EQ(std::memcmp(bmp.Bits(), before.Bits(), bmp.ImageSize()), 0);
  EXPECT_EQ(VXTW_LastFailure().State, 1);
  std::string name = "unchanged";
  EXPECT_FALSE(VXTW_SelectImageSource(nullptr, name));
  EXPECT_EQ(name, "unchanged");
  EXPECT_EQ(tw.SourceCount(), 0);
}

TEST_F(TwainFake, VexaIOAcquiresThroughTheInstalledServiceOnly) {
  TVexaIO io;
  TBitmap bmp(2, 2);
  bmp.Fill(CreateRGB(4, 4, 4));
  io.SetAttachedBitmap(&bmp);
  io.TWainParams.VisibleDialog = false;
  ASSERT_TRUE(io.SelectAcquireSource());  // no dialog: the manager's default source
  EXPECT_EQ(io.TWainParams.SourceName(io.TWainParams.SelectedSource()), "Fake Scanner");
  ASSERT_TRUE(io.Acquire());
  EXPECT_EQ(bmp.Width(), 40);
  EXPECT_EQ(io.Params.DpiX, 300);

  TVXScanService* installed = VXScanService();
  VXSetScanService(nullptr);
  const TBitmap before = bmp;
  EXPECT_FALSE(io.Acquire());
  EXPECT_EQ(bmp.Width(), before.Width());
  EXPECT_EQ(std::memcmp(bmp.Bits(), before.Bits(), bmp.ImageSize()), 0);
  EXPECT_FALSE(io.SelectAcquireSource());
  VXSetScanService(installed);
}

TEST_F(TwainFake, MultiImageComponentScansEveryPageIntoTheGrid) {
  Fake.Configure("name=Fake Scanner;pages=3;width=8;height=4");
  TVXImageGrid grid;
  TVexaMIO mio;
  mio.SetAttachedMView(&grid);
  mio.TWainParams.SourceCount();
  mio.TWainParams.CapabilitiesFilled = true;
  mio.TWainParams.Capabilities().FeederEnabled = true;
  ASSERT_TRUE(mio.Acquire()) << VXTW_LastFailure().Message;
  ASSERT_EQ(grid.GetImageCount(), 3);
  ASSERT_EQ(mio.GetParamsCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(mio.GetParams(i)->Height, 4 + i);
    EXPECT_EQ(mio.GetParams(i)->DpiX, 300);
    const TBitmap* page = grid.PeekImage(i);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->Height(), 4 + i);
    EXPECT_EQ(page->GetPixel(5, 1), Expected(5, 1, i));
  }
  TVXScanService* installed = VXScanService();
  VXSetScanService(nullptr);
  EXPECT_FALSE(mio.Acquire());
  EXPECT_EQ(grid.GetImageCount(), 3);
  VXSetScanService(installed);
}
