#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "proc_test_util.h"
#include "vexa/core/sample.h"
#include "vexa/io/vexaio.h"
#include "vexa/proc/coloradjust.h"
#include "vexa/proc/filters.h"

using namespace vexa;

namespace {

std::string Temp(const std::string& name) { return (std::filesystem::temp_directory_path() / name).string(); }

int RunCli(const std::string& args, std::string* out = nullptr) {
  const std::string cmd = std::string(VEXA_CLI_PATH) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof buf, p)) text.append(buf, n);
  const int rc = pclose(p);
  if (out) *out = text;
  return WEXITSTATUS(rc);
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
  // Per-test names: CTest may run the tests of this fixture side by side.
  static std::string Name(const char* role) {
    return Temp(std::string("vexa_cli_proc_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + role);
  }
  TBitmap FImage;
  std::string FIn = Name("_in.bmp"), FOut = Name("_out.bmp");
};

}  // namespace

TEST_F(ProcCli, OperationOnARectangleMatchesTheLibrary) {
  ASSERT_EQ(RunCli("proc " + FIn + " " + FOut + " hsv 10 20 -5 --rect 3 4 40 30"), 0);
  TBitmap expect = FImage;
  _HSVvar(expect, 10, 20, -5, 3, 4, 40, 30);
  TBitmap got = Load(FOut);
  ASSERT_EQ(got.Width(), 64);
  for (int y = 0; y < 48; ++y) ASSERT_EQ(0, std::memcmp(got.ScanLine(y), expect.ScanLine(y), 64 * 3)) << y;
}

TEST_F(ProcCli, FilterByNameAndByFile) {
  const std::string flt = Temp("vexa_cli_proc.flt");
  SaveFilterToFile(flt, VXFiltPres[fpEmboss]);
  ASSERT_EQ(RunCli("proc " + FIn + " " + FOut + " filter " + flt), 0);
  TBitmap byFile = Load(FOut);
  ASSERT_EQ(RunCli("proc " + FIn + " " + FOut + " filter emboss"), 0);
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
  ASSERT_EQ(RunCli("proc " + FIn + " - numcolors --rect 0 0 0 0", &out), 0);
  EXPECT_EQ(out, "1\n");
  ASSERT_EQ(RunCli("proc " + FIn + " - histogram", &out), 0);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 256);
  EXPECT_EQ(RunCli("proc " + FIn + " " + FOut + " rgb 1 2", &out), 2);
  EXPECT_EQ(RunCli("proc " + FIn + " " + FOut + " sharpen", &out), 2);
  EXPECT_EQ(RunCli("proc " + FIn + " " + FOut + " contrast x", &out), 2);
  EXPECT_FALSE(std::filesystem::exists(FOut));
  ASSERT_EQ(RunCli("help proc", &out), 0);
  EXPECT_NE(out.find("autoequalize"), std::string::npos);
  ASSERT_EQ(RunCli("proc " + FIn + " - negative --repeat 3", &out), 0);
  // A median in milliseconds; a tiny image may legitimately round to 0.000.
  size_t used = 0;
  EXPECT_GE(std::stod(out, &used), 0.0);
  EXPECT_EQ(out.substr(used), "\n");
}

TEST_F(ProcCli, GeometryEffectsAndHiddenText) {
  std::string out;
  ASSERT_EQ(RunCli("proc " + FIn + " " + FOut + " resample -1 24 triangle", &out), 0) << out;
  TBitmap small = Load(FOut);
  EXPECT_EQ(small.Width(), 32);
  EXPECT_EQ(small.Height(), 24);
  ASSERT_EQ(RunCli("proc " + FIn + " " + FOut + " rotate 90", &out), 0) << out;
  EXPECT_EQ(Load(FOut).Width(), 48);
  ASSERT_EQ(RunCli("proc " + FIn + " " + FOut + " hide-text \"under the pixels\"", &out), 0) << out;
  EXPECT_EQ(out, "16\n");
  ASSERT_EQ(RunCli("proc " + FOut + " - read-text", &out), 0);
  EXPECT_EQ(out, "under the pixels\n");
  ASSERT_EQ(RunCli("proc " + FIn + " " + FOut + " merge " + FIn + " 30", &out), 0) << out;
  TBitmap merged = Load(FOut);
  for (int y = 0; y < 48; ++y) ASSERT_EQ(0, std::memcmp(merged.ScanLine(y), FImage.ScanLine(y), 64 * 3));
  ASSERT_EQ(RunCli("proc " + FIn + " " + FOut + " fft-lowpass 8 gray", &out), 0) << out;
  EXPECT_EQ(Load(FOut).Width(), 64);
  EXPECT_EQ(RunCli("proc " + FIn + " " + FOut + " flip x", &out), 2);
  EXPECT_EQ(RunCli("proc " + FIn + " " + FOut + " resample 10 10 cubic", &out), 2);
  EXPECT_EQ(RunCli("proc " + FIn + " " + FOut + " lens 1 2 3 4 much", &out), 2);
}
