// `vexa scan` against SANE's test backend, checked by reading back what it wrote.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "acquire_testutil.h"
#include "vexa/io/vexaio.h"

using namespace vexa;
using namespace acquiretest;

namespace {

struct CliRun {
  int Code = -1;
  std::string Out;
};

CliRun Vexa(const std::string& args) {
  CliRun r;
  const std::string cmd = std::string("'") + VEXA_CLI_PATH + "' " + args + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.Out.append(buf.data(), n);
  const int status = ::pclose(p);
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class ScanCli : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("VEXA_TWAIN_DSM", VEXA_TWAINDSM_FILE, 1);
    FOut = std::filesystem::temp_directory_path() / ("vexa-scan-cli-" + std::to_string(::getpid()));
    std::filesystem::create_directories(FOut);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(FOut, ec);
    ::unsetenv("VEXA_TWAIN_DSM");
  }
  std::string Out(const std::string& name) const { return (FOut / name).string(); }
  TSaneTestConfig Config;
  std::filesystem::path FOut;
};

}  // namespace

TEST_F(ScanCli, ListsTheSourcesAndScansOnePageToAFile) {
  CliRun list = Vexa("scan --list");
  ASSERT_EQ(list.Code, 0) << list.Out;
  EXPECT_EQ(list.Out.rfind("test:0\t", 0), 0u) << list.Out;
  EXPECT_NE(list.Out.find("\ntest:1\t"), std::string::npos) << list.Out;

  // 1.5 x 1 inches snap to the backend's whole millimetres: 38 x 25 mm at 200 dpi.
  CliRun scan = Vexa("scan --source test:1 --dpi 200 --mode lineart --area 0 0 1.5 1 '" + Out("page.tif") + "'");
  ASSERT_EQ(scan.Code, 0) << scan.Out;
  TVexaIO io;
  TBitmap bmp;
  io.SetAttachedBitmap(&bmp);
  io.LoadFromFile(Out("page.tif"));
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(bmp.Width(), 299);
  EXPECT_EQ(bmp.Height(), 196);
  EXPECT_EQ(bmp.PixelFormat(), pf1bit);
  EXPECT_EQ(io.Params.DpiX, 200);

  EXPECT_EQ(Vexa("scan --source nosuch '" + Out("x.png") + "'").Code, 2);
  EXPECT_EQ(Vexa("scan --mode sepia '" + Out("x.png") + "'").Code, 2);
}

TEST_F(ScanCli, PagesFromTheFeederGoToOneMultiPageTiff) {
  CliRun scan = Vexa("scan --pages --dpi 50 --mode color --area 0 0 1 1 '" + Out("batch.tif") + "'");
  ASSERT_EQ(scan.Code, 0) << scan.Out;
  EXPECT_NE(scan.Out.find("10 page(s)"), std::string::npos) << scan.Out;
  EXPECT_EQ(EnumTIFFIm(Out("batch.tif")), 10);
}
