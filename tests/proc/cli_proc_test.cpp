#include <gtest/gtest.h>

#include <cstring>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/fixtures.h"
#include "support/pixels.h"
#include "vexa/core/sample.h"
#include "vexa/io/vexaio.h"
#include "vexa/proc/coloradjust.h"
#include "vexa/proc/filters.h"

using namespace vexa;
using namespace vexa::test;

namespace {

// The tool's exit code; its output and messages together in `out`.
int Tool(const std::string& args, std::string* out = nullptr) {
  const TCliRun r = RunCli(args);
  if (out) *out = r.Out + r.Err;
  return r.Code;
}

TBitmap Load(const std::string& name) {
  TBitmap b;
  TVexaIO io;
  io.SetAttachedBitmap(&b);
  io.LoadFromFile(name);
  return b;
}

class ProcCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(VEXA_CLI_PATH)) GTEST_SKIP() << "vexa tool not built";
    FImage = VXMakeSampleImage(64, 48, 5);
    TVexaIO io;
    io.SetAttachedBitmap(&FImage);
    io.SaveToFile(FIn);
    ASSERT_FALSE(io.Aborting);
  }
  void TearDown() override {
    std::filesystem::remove(FIn);
    std::filesystem::remove(FOut);
  }
  TBitmap FImage;
  std::string FIn = TempPath("in.bmp"), FOut = TempPath("out.bmp");
};

}  // namespace

TEST_F(ProcCli, OperationOnARectangleMatchesTheLibrary) {
  ASSERT_EQ(Tool("proc " + FIn + " " + FOut + " hsv 10 20 -5 --rect 3 4 40 30"), 0);
  TBitmap expect = FImage;
  _HSVvar(expect, 10, 20, -5, 3, 4, 40, 30);
  TBitmap got = Load(FOut);
  ASSERT_EQ(got.Width(), 64);
  for (int y = 0; y < 48; ++y) ASSERT_EQ(0, std::memcmp(got.ScanLine(y), expect.ScanLine(y), 64 * 3)) << y;
}

TEST_F(ProcCli, FilterByNameAndByFile) {
  const std::string flt = TempPath("filter.flt");
  SaveFilterToFile(flt, VXFiltPres[fpEmboss]);
  ASSERT_EQ(Tool("proc " + FIn + " " + FOut + " filter " + flt), 0);
  TBitmap byFile = Load(FOut);
  ASSERT_EQ(Tool("proc " + FIn + " " + FOut + " filter emboss"), 0);
  TBitmap byName = Load(FOut);
  TBitmap expect = FImage;
  _ApplyFilter(expect, VXFiltPres[fpEmboss], 0, 0, 63, 47);
  for (int y = 0; y < 48; ++y) {
    ASSERT_EQ(0, std::memcmp(byFile.ScanLine(y), expect.ScanLine(y), 64 * 3));
    ASSERT_EQ(0, std::memcmp(byName.ScanLine(y), expect.ScanLine(y), 64 * 3));
  }
  std::filesystem::remove(flt);
}

TEST_F(ProcCli, QueriesPrintAndBadArgumentsAreUsageErrors) {
  std::string out;
  ASSERT_EQ(Tool("proc " + FIn + " - numcolors --rect 0 0 0 0", &out), 0);
  EXPECT_EQ(out, "1\n");
  ASSERT_EQ(Tool("proc " + FIn + " - histogram", &out), 0);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 256);
  EXPECT_EQ(Tool("proc " + FIn + " " + FOut + " rgb 1 2", &out), 2);
  EXPECT_EQ(Tool("proc " + FIn + " " + FOut + " sharpen", &out), 2);
  EXPECT_EQ(Tool("proc " + FIn + " " + FOut + " contrast x", &out), 2);
  EXPECT_FALSE(std::filesystem::exists(FOut));
  ASSERT_EQ(Tool("help proc", &out), 0);
  EXPECT_NE(out.find("autoequalize"), std::string::npos);
  ASSERT_EQ(Tool("proc " + FIn + " - negative --repeat 3", &out), 0);
  // A median in milliseconds; a tiny image may legitimately round to 0.000.
  size_t used = 0;
  EXPECT_GE(std::stod(out, &used), 0.0);
  EXPECT_EQ(out.substr(used), "\n");
}

TEST_F(ProcCli, GeometryEffectsAndHiddenText) {
  std::string out;
  ASSERT_EQ(Tool("proc " + FIn + " " + FOut + " resample -1 24 triangle", &out), 0) << out;
  TBitmap small = Load(FOut);
  EXPECT_EQ(small.Width(), 32);
  EXPECT_EQ(small.Height(), 24);
  ASSERT_EQ(Tool("proc " + FIn + " " + FOut + " rotate 90", &out), 0) << out;
  EXPECT_EQ(Load(FOut).Width(), 48);
  ASSERT_EQ(Tool("proc " + FIn + " " + FOut + " hide-text \"under the pixels\"", &out), 0) << out;
  EXPECT_EQ(out, "16\n");
  ASSERT_EQ(Tool("proc " + FOut + " - read-text", &out), 0);
  EXPECT_EQ(out, "under the pixels\n");
  ASSERT_EQ(Tool("proc " + FIn + " " + FOut + " merge " + FIn + " 30", &out), 0) << out;
  TBitmap merged = Load(FOut);
  for (int y = 0; y < 48; ++y) ASSERT_EQ(0, std::memcmp(merged.ScanLine(y), FImage.ScanLine(y), 64 * 3));
  ASSERT_EQ(Tool("proc " + FIn + " " + FOut + " fft-lowpass 8 gray", &out), 0) << out;
  EXPECT_EQ(Load(FOut).Width(), 64);
  EXPECT_EQ(Tool("proc " + FIn + " " + FOut + " flip x", &out), 2);
  EXPECT_EQ(Tool("proc " + FIn + " " + FOut + " resample 10 10 cubic", &out), 2);
  EXPECT_EQ(Tool("proc " + FIn + " " + FOut + " lens 1 2 3 4 much", &out), 2);
}
