// Scanning through our manager and its SANE data source against SANE's own
// `test` backend (configured privately, no root, no real device).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "acquire_testutil.h"
#include "support/fixtures.h"
#include "support/pixels.h"
#include "vexa/acquire/twain.h"
#include "vexa/acquire/twainclient.h"
#include "vexa/acquire/twainhost.h"
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

namespace {

// The device's own settings, answered without a window by option name
// ("three-pass=1;depth=16"): what a user would choose in the source's dialog.
std::string gAnswers;
std::vector<std::string> gAnswered;

bool AnswerSettings(void*, void*, const char*, VexaDSMOption* options, int count) {
  std::istringstream in(gAnswers);
  for (std::string item; std::getline(in, item, ';');) {
    const std::string name = item.substr(0, item.find('=')), value = item.substr(item.find('=') + 1);
    for (int i = 0; i < count; ++i) {
      VexaDSMOption& o = options[i];
      if (name != o.Name) continue;
      if (o.Kind == VexaDSMChoice) {
        for (int k = 0; k < o.ChoiceCount; ++k)
          if (value == o.Choices[k]) o.Current = k;
      } else {
        o.Value = std::stod(value);
      }
      gAnswered.push_back(name);
    }
  }
  return true;
}

const VexaDSMUI kAnswering{sizeof(VexaDSMUI), nullptr, nullptr, nullptr, nullptr, nullptr, AnswerSettings};

struct TSanePage {
  int PixelType;
  const char* Settings;  // the device's own options the user changed; "" for none
};

class SaneSinglePage : public SaneScan, public ::testing::WithParamInterface<std::tuple<TSanePage, bool>> {
 protected:
  void TearDown() override { VXTW_SetDSMUI(nullptr); }
};

// The page SANE's own frontend scans from test:0 with `options`, as 8-bit
// samples (16-bit ones keep their high byte; line art is black where SANE says 1).
TBitmap Scanimage(const std::string& options) {
  vexa::test::TScratchDir dir;
  const std::string file = dir / "page.pnm";
  TBitmap out;
  if (std::system(("scanimage -d test:0 " + options + " --format=pnm -o '" + file + "'").c_str()) != 0) {
    ADD_FAILURE() << "scanimage " << options << " failed (package sane-utils)";
    return out;
  }
  std::ifstream in(file, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, maxval = 1;
  auto field = [&](auto& v) {
    while (in >> std::ws && in.peek() == '#') in.ignore(1 << 20, '\n');
    in >> v;
  };
  field(magic), field(width), field(height);
  if (magic != "P4") field(maxval);
  in.get();
  const int samples = magic == "P6" ? 3 : 1, bytes = maxval > 255 ? 2 : 1;
  const size_t rowLen = magic == "P4" ? (static_cast<size_t>(width) + 7) / 8 : static_cast<size_t>(width) * samples * bytes;
  std::vector<uint8_t> row(rowLen);
  out.Allocate(width, height, magic == "P4" ? pf1bit : pf24bit);
  for (int y = 0; y < height && in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(rowLen)); ++y)
    for (int x = 0; x < width; ++x) {
      if (magic == "P4") {
        const uint8_t v = (row[static_cast<size_t>(x) / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
        out.SetPixel(x, y, CreateRGB(v, v, v));
        continue;
      }
      uint8_t c[3];
      for (int k = 0; k < 3; ++k) c[k] = row[(static_cast<size_t>(x) * samples + (samples == 3 ? k : 0)) * bytes];
      out.SetPixel(x, y, CreateRGB(c[0], c[1], c[2]));
    }
  EXPECT_TRUE(in) << file << " is shorter than its header says";
  return out;
}

}  // namespace

// One page per pixel type and transfer, also with the device's three-pass colour
// and 16-bit samples: the size follows resolution and area (30 x 60 mm at 100 dpi:
// 118.1 x 236.2 pixels), the pixels are those SANE's own frontend scans with the
// same options.
TEST_P(SaneSinglePage, IsThePageScanimageScans) {
  const auto [page, buffered] = GetParam();
  const int pixelType = page.PixelType;
  TVexaIO io;
  TBitmap bmp;
  io.SetAttachedBitmap(&bmp);
  Choose(io.TWainParams, "test:0", pixelType, 100, {10, 5, 40, 65});
  io.TWainParams.Capabilities().BufferedTransfer = buffered;
  gAnswered.clear();
  if (*page.Settings) {
    gAnswers = page.Settings;
    VXTW_SetDSMUI(&kAnswering);
    io.TWainParams.VisibleDialog = true;
  }
  ASSERT_TRUE(io.Acquire()) << VXTW_LastFailure().Message;
  EXPECT_EQ(gAnswered.size(), static_cast<size_t>(std::count(page.Settings, page.Settings + std::strlen(page.Settings), '=')));
  EXPECT_EQ(bmp.Width(), 118);
  EXPECT_EQ(bmp.Height(), 236);
  EXPECT_EQ(bmp.PixelFormat(), pixelType == twain::TWPT_BW ? pf1bit : pf24bit);
  EXPECT_EQ(io.Params.DpiX, 100);
  EXPECT_EQ(io.Params.Width, 118);
  EXPECT_EQ(io.Params.Height, 236);
  EXPECT_EQ(io.Params.SamplesPerPixel, pixelType == twain::TWPT_RGB ? 3 : 1);
  EXPECT_EQ(io.Params.BitsPerSample, pixelType == twain::TWPT_BW ? 1 : 8);
  // Memory transfers stream single-pass 8-bit pages from the device and read the
  // others whole; native transfers read every page whole: both give SANE's pixels.
  TBitmap other;
  io.SetAttachedBitmap(&other);
  io.TWainParams.Capabilities().BufferedTransfer = !buffered;
  ASSERT_TRUE(io.Acquire()) << VXTW_LastFailure().Message;
  std::string options = pixelType == twain::TWPT_RGB ? "--mode Color" : "--mode Gray";
  options += pixelType == twain::TWPT_BW ? " --depth 1" : std::strstr(page.Settings, "depth=16") ? " --depth 16" : " --depth 8";
  // scanimage gathers three passes of 8-bit samples only; the backend's three
  // passes make its single-pass page.
  if (std::strstr(page.Settings, "three-pass=1") && !std::strstr(page.Settings, "depth=16"))
    options += " --three-pass=yes";
  const TBitmap reference = Scanimage(options + " --resolution 100 -l 10 -t 5 -x 30 -y 60");
  ASSERT_EQ(reference.Width(), 118);
  ASSERT_EQ(reference.Height(), 236);
  int differing = 0, wrong = 0, wrongOther = 0;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      differing += reference.GetPixel(x, y) != reference.GetPixel(0, 0);
      wrong += bmp.GetPixel(x, y) != reference.GetPixel(x, y);
      wrongOther += other.GetPixel(x, y) != reference.GetPixel(x, y);
    }
  EXPECT_GT(differing, bmp.Width() * bmp.Height() / 10);  // a pattern, not one colour
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(wrongOther, 0);
}

INSTANTIATE_TEST_SUITE_P(
    TypesAndTransfers, SaneSinglePage,
    ::testing::Combine(::testing::Values(TSanePage{twain::TWPT_RGB, ""}, TSanePage{twain::TWPT_GRAY, ""},
                                         TSanePage{twain::TWPT_BW, ""}, TSanePage{twain::TWPT_RGB, "three-pass=1"},
                                         TSanePage{twain::TWPT_RGB, "depth=16"}, TSanePage{twain::TWPT_GRAY, "depth=16"},
                                         TSanePage{twain::TWPT_RGB, "three-pass=1;depth=16"}),
                       ::testing::Bool()));

// Colour in 1-bit samples (a frontend such as scanimage refuses it): three bits
// a pixel, each channel off or full, read within the rows the backend announces.
TEST_F(SaneScan, ColourOfOneBitSamplesBecomesFullChannels) {
  TVexaIO io;
  TBitmap bmp;
  io.SetAttachedBitmap(&bmp);
  Choose(io.TWainParams, "test:0", twain::TWPT_RGB, 100, {10, 5, 40, 65});
  gAnswers = "depth=1";
  gAnswered.clear();
  VXTW_SetDSMUI(&kAnswering);
  io.TWainParams.VisibleDialog = true;
  const bool ok = io.Acquire();
  VXTW_SetDSMUI(nullptr);
  ASSERT_TRUE(ok) << VXTW_LastFailure().Message;
  ASSERT_EQ(gAnswered.size(), 1u);
  ASSERT_EQ(bmp.Width(), 118);
  ASSERT_EQ(bmp.Height(), 236);
  std::set<std::array<uint8_t, 3>> colours;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      const TRGB c = bmp.GetPixel(x, y);
      colours.insert({c.r, c.g, c.b});
    }
  EXPECT_GT(colours.size(), 2u);
  for (const auto& c : colours)
    for (uint8_t v : c) EXPECT_TRUE(v == 0 || v == 255) << int{c[0]} << "," << int{c[1]} << "," << int{c[2]};
}

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
