// `vexa scan` against SANE's test backend, checked by reading back what it wrote.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "acquire_testutil.h"
#include "support/fixtures.h"
#include "support/pixels.h"
#include "vexa/io/vexaio.h"

using namespace vexa;
using namespace vexa::test;
using namespace acquiretest;

namespace {

class ScanCli : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("VEXA_TWAIN_DSM", VEXA_TWAINDSM_FILE, 1); }
  void TearDown() override { ::unsetenv("VEXA_TWAIN_DSM"); }
  TSaneTestConfig Config;
  TScratchDir Dir;
};

}  // namespace

TEST_F(ScanCli, ListsTheSourcesAndScansOnePageToAFile) {
  TCliRun list = RunCli("scan --list");
  ASSERT_EQ(list.Code, 0) << list.Err;
  EXPECT_EQ(list.Out.rfind("test:0\t", 0), 0u) << list.Out;
  EXPECT_NE(list.Out.find("\ntest:1\t"), std::string::npos) << list.Out;

  // 1.5 x 1 inches snap to the backend's whole millimetres: 38 x 25 mm at 200 dpi.
  TCliRun scan = RunCli("scan --source test:1 --dpi 200 --mode lineart --area 0 0 1.5 1 " + Quote(Dir / "page.tif"));
  ASSERT_EQ(scan.Code, 0) << scan.Err;
  TVexaIO io;
  TBitmap bmp;
  io.SetAttachedBitmap(&bmp);
  io.LoadFromFile(Dir / "page.tif");
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(bmp.Width(), 299);
  EXPECT_EQ(bmp.Height(), 196);
  EXPECT_EQ(bmp.PixelFormat(), pf1bit);
  EXPECT_EQ(io.Params.DpiX, 200);

  EXPECT_EQ(RunCli("scan --source nosuch " + Quote(Dir / "x.png")).Code, 2);
  EXPECT_EQ(RunCli("scan --mode sepia " + Quote(Dir / "x.png")).Code, 2);
}

TEST_F(ScanCli, PagesFromTheFeederGoToOneMultiPageTiff) {
  TCliRun scan = RunCli("scan --pages --dpi 50 --mode color --area 0 0 1 1 " + Quote(Dir / "batch.tif"));
  ASSERT_EQ(scan.Code, 0) << scan.Err;
  EXPECT_NE(scan.Out.find("10 page(s)"), std::string::npos) << scan.Out;
  EXPECT_EQ(EnumTIFFIm(Dir / "batch.tif"), 10);
}

// A BMP is written band by band as the page arrives, every other format from the
// whole page: both hold the same pixels of the backend's colour pattern.
TEST_F(ScanCli, BandByBandBMPHoldsThePageOfTheWholePageWriters) {
  for (const char* mode : {"color", "gray", "lineart"}) {
    TBitmap images[2];
    int k = 0;
    for (const char* ext : {".bmp", ".tif"}) {
      const std::string file = Dir / (std::string(mode) + ext);
      TCliRun scan = RunCli(std::string("scan --source test:0 --dpi 100 --mode ") + mode + " --area 0 0 1 0.5 " +
                            Quote(file));
      ASSERT_EQ(scan.Code, 0) << scan.Err;
      TVexaIO io;
      io.SetAttachedBitmap(&images[k]);
      io.LoadFromFile(file);
      ASSERT_FALSE(io.Aborting) << file;
      EXPECT_EQ(io.Params.DpiX, 100) << file;
      ++k;
    }
    EXPECT_EQ(images[0].Width(), 98) << mode;  // 25 mm: the backend keeps whole millimetres
    EXPECT_EQ(images[0].PixelFormat(), std::string(mode) == "lineart" ? pf1bit : pf24bit) << mode;
    EXPECT_TRUE(SameImage(images[0], images[1])) << mode;
  }
}
