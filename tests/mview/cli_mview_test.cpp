#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "mview_testutil.h"

using namespace vexa;
using namespace mvtest;

namespace {

TEST(CliThumbs, ContactSheetFollowsTheGridLayout) {
  vexa::test::TScratchDir dir;
  std::filesystem::create_directories(dir / "in");
  for (int i = 0; i < 5; ++i) MakeJpeg(dir, "in/" + std::to_string(i) + ".jpg", 200 + 40 * i, 150);
  std::ofstream(dir / "in/broken.jpg") << "not a picture";
  std::ofstream(dir / "in/notes.txt") << "skipped";
  vexa::test::TCliRun r = vexa::test::RunCli("thumbs '" + dir / "in" + "' '" + dir / "sheet.png" + "' --size 50 40 --columns 3");
  ASSERT_EQ(r.Code, 0) << r.Out;
  EXPECT_NE(r.Out.find("5 of 6 image(s)"), std::string::npos) << r.Out;
  TBitmap sheet;
  TVexaIO io;
  io.SetAttachedBitmap(&sheet);
  io.LoadFromFilePNG(dir / "sheet.png");
  // Three columns of 50 with 4-pixel borders, two rows of 40.
  EXPECT_EQ(sheet.Width(), 4 + 3 * 54);
  EXPECT_EQ(sheet.Height(), 4 + 2 * 44);
  EXPECT_EQ(sheet.GetPixel(1, 1), CreateRGB(255, 255, 255));
  // The first picture (200 x 150) fills its cell's width: 50 x 37, starting one row down.
  EXPECT_NE(sheet.GetPixel(28, 24), CreateRGB(255, 255, 255));
  EXPECT_EQ(sheet.GetPixel(28, 4), CreateRGB(255, 255, 255));
  EXPECT_EQ(sheet.GetPixel(4 + 2 * 54 + 25, 48 + 20), CreateRGB(255, 255, 255));  // no sixth cell
}

TEST(CliFrames, ListsAndConvertsEveryFrame) {
  vexa::test::TScratchDir dir;
  std::string gif = vexa::test::TestData("gif/pillow/dispose_none.gif");
  VEXA_REQUIRE_FILE(gif);
  vexa::test::TCliRun list = vexa::test::RunCli("frames '" + gif + "'");
  ASSERT_EQ(list.Code, 0);
  EXPECT_EQ(std::count(list.Out.begin(), list.Out.end(), '\n'), 5) << list.Out;
  EXPECT_NE(list.Out.find("\n4: "), std::string::npos);
  vexa::test::TCliRun tif = vexa::test::RunCli("frames '" + gif + "' '" + dir / "all.tif" + "'");
  ASSERT_EQ(tif.Code, 0);
  EXPECT_EQ(EnumTIFFIm(dir / "all.tif"), 5);
  vexa::test::TCliRun avi = vexa::test::RunCli("frames '" + dir / "all.tif" + "' '" + dir / "all.avi" + "' --encoder ffv1");
  ASSERT_EQ(avi.Code, 0);
  vexa::test::TCliRun back = vexa::test::RunCli("frames '" + dir / "all.avi" + "'");
  EXPECT_EQ(std::count(back.Out.begin(), back.Out.end(), '\n'), 5) << back.Out;
  // FFmpeg is loaded on first use; without it the tool names what is missing.
  setenv("VEXA_AVI_MODULE", (dir / "missing.so").c_str(), 1);
  vexa::test::TCliRun noModule = vexa::test::RunCli("frames '" + dir / "all.avi" + "'");
  unsetenv("VEXA_AVI_MODULE");
  EXPECT_EQ(noModule.Code, 1);
  EXPECT_NE(noModule.Err.find("libvexa-avi.so) is not installed"), std::string::npos) << noModule.Err;
  EXPECT_EQ(vexa::test::RunCli("frames '" + dir / "x.png" + "'").Code, 2);
  EXPECT_EQ(vexa::test::RunCli("frames '" + dir / "missing.gif" + "'").Code, 1);
}

}  // namespace
