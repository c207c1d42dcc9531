#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "io_testutil.h"

using namespace iotest;

namespace {

struct CliRun {
  int Code = -1;
  std::string Out, Err;
};

// Runs the command-line tool with the arguments (already shell-quoted where needed).
CliRun Vexa(const std::string& args, const ScratchDir& dir) {
  CliRun r;
  std::string errFile = dir / "stderr.txt";
  std::string cmd = std::string("'") + VEXA_CLI_PATH + "' " + args + " 2>'" + errFile + "'";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.Out.append(buf.data(), n);
  int status = pclose(p);
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream e(errFile);
  std::stringstream ss;
  ss << e.rdbuf();
  r.Err = ss.str();
  return r;
}

std::string Q(const std::string& s) { return "'" + s + "'"; }

}  // namespace

TEST(Cli, FormatsListsTheRegistry) {
  ScratchDir dir;
  CliRun r = Vexa("formats", dir);
  EXPECT_EQ(r.Code, 0);
  EXPECT_NE(r.Out.find("Targa Bitmap"), std::string::npos);
  EXPECT_NE(r.Out.find("TGA;TARGA;VDA;ICB;VST;PIX"), std::string::npos);
  EXPECT_EQ(Vexa("formats extra", dir).Code, 2);
}

TEST(Cli, InfoPrintsOneKeyValueLinePerParameter) {
  ScratchDir dir;
  std::string bmp = TestData("bmp/bmpsuite/g/pal8.bmp");
  IOTEST_REQUIRE(bmp);
  CliRun r = Vexa("info " + Q(bmp), dir);
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("type: Windows Bitmap (BMP) ver.3\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("width: 127\nheight: 64\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("dpi: 72 x 72\n"), std::string::npos) << r.Out;

  CliRun bad = Vexa("info " + Q(bmp) + " " + Q(dir / "missing.png"), dir);
  EXPECT_EQ(bad.Code, 1);
  EXPECT_NE(bad.Out.find("width: 127"), std::string::npos);  // the good file is still described
  EXPECT_NE(bad.Err.find("missing.png"), std::string::npos);
  EXPECT_EQ(Vexa("info", dir).Code, 2);
}

TEST(Cli, ConvertSavesByTheOutputExtensionWithParameterFieldsSet) {
  ScratchDir dir;
  std::string in = TestData("bmp/bmpsuite/g/pal8.bmp");
  IOTEST_REQUIRE(in);
  std::string out = dir / "out.tga";
  CliRun r = Vexa("convert --set TGA_Compressed=false --set TGA_ImageName=hello " + Q(in) + " " + Q(out), dir);
  ASSERT_EQ(r.Code, 0) << r.Err;
  CliRun info = Vexa("info " + Q(out), dir);
  EXPECT_NE(info.Out.find("type: Targa Bitmap (TGA) Uncompressed\n"), std::string::npos) << info.Out;
  EXPECT_NE(info.Out.find("width: 127\n"), std::string::npos) << info.Out;
}

TEST(Cli, ConvertWithDetectReadsAMisnamedFile) {
  ScratchDir dir;
  std::string misnamed = dir.Copy("png/pngsuite/basn2c08.png", "really-a-png.bmp");
  IOTEST_REQUIRE(misnamed);
  EXPECT_EQ(Vexa("convert " + Q(misnamed) + " " + Q(dir / "a.pcx"), dir).Code, 1);
  CliRun r = Vexa("convert --detect " + Q(misnamed) + " " + Q(dir / "a.pcx"), dir);
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(Vexa("info " + Q(dir / "a.pcx"), dir).Out.find("width: 32\n"), std::string::npos);
}

TEST(Cli, ConvertExitCodes) {
  ScratchDir dir;
  std::string in = TestData("png/pngsuite/basn2c08.png");
  IOTEST_REQUIRE(in);
  EXPECT_EQ(Vexa("convert " + Q(in), dir).Code, 2);
  EXPECT_EQ(Vexa("convert --bogus " + Q(in) + " " + Q(dir / "a.bmp"), dir).Code, 2);
  EXPECT_EQ(Vexa("convert --set JPEG_Quality=high " + Q(in) + " " + Q(dir / "a.jpg"), dir).Code, 2);
  EXPECT_EQ(Vexa("convert --set NoSuchField=1 " + Q(in) + " " + Q(dir / "a.jpg"), dir).Code, 2);
  EXPECT_EQ(Vexa("convert --set PNG_Filter=ioPNG_FILTER_UP " + Q(in) + " " + Q(dir / "a.png"), dir).Code, 2);
  EXPECT_EQ(Vexa("convert --index x " + Q(in) + " " + Q(dir / "a.png"), dir).Code, 2);

  CliRun unknownOut = Vexa("convert " + Q(in) + " " + Q(dir / "a.xyz"), dir);
  EXPECT_EQ(unknownOut.Code, 1);
  EXPECT_NE(unknownOut.Err.find("a.xyz"), std::string::npos);
  EXPECT_EQ(std::count(unknownOut.Err.begin(), unknownOut.Err.end(), '\n'), 1);

  std::string broken = dir / "broken.png";
  {
    std::ofstream f(broken, std::ios::binary);
    f << "\x89PNG\r\n\x1a\n not really";
  }
  CliRun bad = Vexa("convert " + Q(broken) + " " + Q(dir / "b.bmp"), dir);
  EXPECT_EQ(bad.Code, 1);
  EXPECT_NE(bad.Err.find("broken.png"), std::string::npos);
}

TEST(Cli, ConvertRepeatPrintsTheTwoMediansAlone) {
  ScratchDir dir;
  std::string in = TestData("png/pngsuite/basn2c08.png");
  IOTEST_REQUIRE(in);
  CliRun r = Vexa("convert --repeat 3 " + Q(in) + " " + Q(dir / "a.bmp"), dir);
  ASSERT_EQ(r.Code, 0) << r.Err;
  double load = -1, save = -1;
  char rest[8] = {};
  ASSERT_EQ(std::sscanf(r.Out.c_str(), "%lf %lf%7s", &load, &save, rest), 2) << r.Out;
  EXPECT_GE(load, 0);
  EXPECT_GE(save, 0);
  EXPECT_EQ(Vexa("convert --repeat 0 " + Q(in) + " " + Q(dir / "a.bmp"), dir).Code, 2);
}

TEST(Cli, ConvertIndexPicksTheImageOfAMultiImageFile) {
  ScratchDir dir;
  std::string ico = TestData("ico/image-rs/multiple_entries_with_different_bit_depth.ico");
  IOTEST_REQUIRE(ico);
  CliRun first = Vexa("convert --index 0 " + Q(ico) + " " + Q(dir / "0.bmp"), dir);
  ASSERT_EQ(first.Code, 0) << first.Err;
  CliRun beyond = Vexa("convert --index 99 " + Q(ico) + " " + Q(dir / "99.bmp"), dir);
  EXPECT_EQ(beyond.Code, 1);
}

TEST(Cli, DemoSavesItsPictureAsBmp) {
  ScratchDir dir;
  std::string out = dir / "demo.bmp";
  CliRun r = Vexa("demo --out " + Q(out) + " 64 32", dir);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find(out), std::string::npos);
  CliRun info = Vexa("info " + Q(out), dir);
  EXPECT_NE(info.Out.find("width: 64\nheight: 32\n"), std::string::npos) << info.Out;
  EXPECT_EQ(Vexa("demo --out", dir).Code, 2);
}

TEST(Cli, MultiImageFilesReportTheirCountAndConvertPicksOne) {
  ScratchDir dir;
  std::string gif = TestData("gif/pillow/dispose_none.gif");
  std::string tif = TestData("tiff/libtiffpic/text.tif");
  IOTEST_REQUIRE(gif);
  IOTEST_REQUIRE(tif);
  CliRun info = Vexa("info " + Q(gif) + " " + Q(tif), dir);
  EXPECT_EQ(info.Code, 0) << info.Err;
  EXPECT_NE(info.Out.find("frames: 5\n"), std::string::npos) << info.Out;
  EXPECT_NE(info.Out.find("pages: 2\n"), std::string::npos) << info.Out;
  // The tool installs the LZW coders itself: GIF reads and writes out of the box.
  CliRun r = Vexa("convert --index 3 " + Q(gif) + " " + Q(dir / "frame3.gif"), dir);
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(Vexa("convert --index 7 " + Q(gif) + " " + Q(dir / "frame7.gif"), dir).Code, 1);
  EXPECT_EQ(Vexa("convert --index 1 " + Q(tif) + " " + Q(dir / "page1.png"), dir).Code, 0);
}

TEST(Cli, MetafilesAreDescribedAndConverted) {
  ScratchDir dir;
  std::string wmf = dir / "plain.wmf";
  // A plain metafile whose first records could pass for a TGA header.
  WriteFile(wmf, MakeWmf({WmfRec(0x020B, {0, 0}), WmfRec(0x020C, {50, 80}), WmfRec(0x041B, {40, 70, 10, 10})}, false));
  CliRun info = Vexa("info " + Q(wmf), dir);
  EXPECT_EQ(info.Code, 0) << info.Err;
  EXPECT_NE(info.Out.find("type: Windows Metafile (WMF)\nwidth: 80\nheight: 50\n"), std::string::npos) << info.Out;
  CliRun r = Vexa("convert " + Q(wmf) + " " + Q(dir / "plain.png"), dir);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(Vexa("info " + Q(dir / "plain.png"), dir).Out.find("width: 79\nheight: 49\n"), std::string::npos);
}
