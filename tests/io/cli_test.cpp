#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "io_testutil.h"

using namespace iotest;
using namespace vexa::test;

TEST(Cli, FormatsListsTheRegistry) {
  TCliRun r = RunCli("formats");
  EXPECT_EQ(r.Code, 0);
  EXPECT_NE(r.Out.find("Targa Bitmap"), std::string::npos);
  EXPECT_NE(r.Out.find("TGA;TARGA;VDA;ICB;VST;PIX"), std::string::npos);
  EXPECT_EQ(RunCli("formats extra").Code, 2);
}

TEST(Cli, InfoPrintsOneKeyValueLinePerParameter) {
  TScratchDir dir;
  std::string bmp = TestData("bmp/bmpsuite/g/pal8.bmp");
  VEXA_REQUIRE_FILE(bmp);
  TCliRun r = RunCli("info " + Quote(bmp));
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("type: Windows Bitmap (BMP) ver.3\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("width: 127\nheight: 64\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("dpi: 72 x 72\n"), std::string::npos) << r.Out;

  TCliRun bad = RunCli("info " + Quote(bmp) + " " + Quote(dir / "missing.png"));
  EXPECT_EQ(bad.Code, 1);
  EXPECT_NE(bad.Out.find("width: 127"), std::string::npos);  // the good file is still described
  EXPECT_NE(bad.Err.find("missing.png"), std::string::npos);
  EXPECT_EQ(RunCli("info").Code, 2);
}

TEST(Cli, ConvertSavesByTheOutputExtensionWithParameterFieldsSet) {
  TScratchDir dir;
  std::string in = TestData("bmp/bmpsuite/g/pal8.bmp");
  VEXA_REQUIRE_FILE(in);
  std::string out = dir / "out.tga";
  TCliRun r = RunCli("convert --set TGA_Compressed=false --set TGA_ImageName=hello " + Quote(in) + " " + Quote(out));
  ASSERT_EQ(r.Code, 0) << r.Err;
  TCliRun info = RunCli("info " + Quote(out));
  EXPECT_NE(info.Out.find("type: Targa Bitmap (TGA) Uncompressed\n"), std::string::npos) << info.Out;
  EXPECT_NE(info.Out.find("width: 127\n"), std::string::npos) << info.Out;
}

TEST(Cli, ConvertWithDetectReadsAMisnamedFile) {
  TScratchDir dir;
  std::string misnamed = dir.Copy("png/pngsuite/basn2c08.png", "really-a-png.bmp");
  VEXA_REQUIRE_FILE(misnamed);
  // The BMP codec refuses the first bytes, so the content decides, with or without --detect.
  for (const char* detect : {"", "--detect "}) {
    TCliRun r = RunCli(std::string("convert ") + detect + Quote(misnamed) + " " + Quote(dir / "a.pcx"));
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_NE(RunCli("info " + Quote(dir / "a.pcx")).Out.find("width: 32\n"), std::string::npos);
  }
  const TCliRun info = RunCli("info " + Quote(misnamed));
  EXPECT_NE(info.Out.find("type: Portable Network Graphics"), std::string::npos) << info.Out;
}

TEST(Cli, ConvertExitCodes) {
  TScratchDir dir;
  std::string in = TestData("png/pngsuite/basn2c08.png");
  VEXA_REQUIRE_FILE(in);
  EXPECT_EQ(RunCli("convert " + Quote(in)).Code, 2);
  EXPECT_EQ(RunCli("convert --bogus " + Quote(in) + " " + Quote(dir / "a.bmp")).Code, 2);
  EXPECT_EQ(RunCli("convert --set JPEG_Quality=high " + Quote(in) + " " + Quote(dir / "a.jpg")).Code, 2);
  EXPECT_EQ(RunCli("convert --set NoSuchField=1 " + Quote(in) + " " + Quote(dir / "a.jpg")).Code, 2);
  EXPECT_EQ(RunCli("convert --set PNG_Filter=ioPNG_FILTER_UP " + Quote(in) + " " + Quote(dir / "a.png")).Code, 2);
  EXPECT_EQ(RunCli("convert --index x " + Quote(in) + " " + Quote(dir / "a.png")).Code, 2);

  TCliRun unknownOut = RunCli("convert " + Quote(in) + " " + Quote(dir / "a.xyz"));
  EXPECT_EQ(unknownOut.Code, 1);
  EXPECT_NE(unknownOut.Err.find("a.xyz"), std::string::npos);
  EXPECT_EQ(std::count(unknownOut.Err.begin(), unknownOut.Err.end(), '\n'), 1);

  std::string broken = dir / "broken.png";
  {
    std::ofstream f(broken, std::ios::binary);
    f << "\x89PNG\r\n\x1a\n not really";
  }
  TCliRun bad = RunCli("convert " + Quote(broken) + " " + Quote(dir / "b.bmp"));
  EXPECT_EQ(bad.Code, 1);
  EXPECT_NE(bad.Err.find("broken.png"), std::string::npos);
}

TEST(Cli, ConvertRepeatPrintsTheTwoMediansAlone) {
  TScratchDir dir;
  std::string in = TestData("png/pngsuite/basn2c08.png");
  VEXA_REQUIRE_FILE(in);
  TCliRun r = RunCli("convert --repeat 3 " + Quote(in) + " " + Quote(dir / "a.bmp"));
  ASSERT_EQ(r.Code, 0) << r.Err;
  double load = -1, save = -1;
  char rest[8] = {};
  ASSERT_EQ(std::sscanf(r.Out.c_str(), "%lf %lf%7s", &load, &save, rest), 2) << r.Out;
  EXPECT_GE(load, 0);
  EXPECT_GE(save, 0);
  EXPECT_EQ(RunCli("convert --repeat 0 " + Quote(in) + " " + Quote(dir / "a.bmp")).Code, 2);
}

TEST(Cli, ConvertIndexPicksTheImageOfAMultiImageFile) {
  TScratchDir dir;
  std::string ico = TestData("ico/image-rs/multiple_entries_with_different_bit_depth.ico");
  VEXA_REQUIRE_FILE(ico);
  TCliRun first = RunCli("convert --index 0 " + Quote(ico) + " " + Quote(dir / "0.bmp"));
  ASSERT_EQ(first.Code, 0) << first.Err;
  TCliRun beyond = RunCli("convert --index 99 " + Quote(ico) + " " + Quote(dir / "99.bmp"));
  EXPECT_EQ(beyond.Code, 1);
}

TEST(Cli, DemoSavesItsPictureAsBmp) {
  TScratchDir dir;
  std::string out = dir / "demo.bmp";
  TCliRun r = RunCli("demo --out " + Quote(out) + " 64 32");
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find(out), std::string::npos);
  TCliRun info = RunCli("info " + Quote(out));
  EXPECT_NE(info.Out.find("width: 64\nheight: 32\n"), std::string::npos) << info.Out;
  EXPECT_EQ(RunCli("demo --out").Code, 2);
}

TEST(Cli, MultiImageFilesReportTheirCountAndConvertPicksOne) {
  TScratchDir dir;
  std::string gif = TestData("gif/pillow/dispose_none.gif");
  std::string tif = TestData("tiff/libtiffpic/text.tif");
  VEXA_REQUIRE_FILE(gif);
  VEXA_REQUIRE_FILE(tif);
  TCliRun info = RunCli("info " + Quote(gif) + " " + Quote(tif));
  EXPECT_EQ(info.Code, 0) << info.Err;
  EXPECT_NE(info.Out.find("frames: 5\n"), std::string::npos) << info.Out;
  EXPECT_NE(info.Out.find("pages: 2\n"), std::string::npos) << info.Out;
  // The tool installs the LZW coders itself: GIF reads and writes out of the box.
  TCliRun r = RunCli("convert --index 3 " + Quote(gif) + " " + Quote(dir / "frame3.gif"));
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(RunCli("convert --index 7 " + Quote(gif) + " " + Quote(dir / "frame7.gif")).Code, 1);
  EXPECT_EQ(RunCli("convert --index 1 " + Quote(tif) + " " + Quote(dir / "page1.png")).Code, 0);
}

TEST(Cli, MetafilesAreDescribedAndConverted) {
  TScratchDir dir;
  std::string wmf = dir / "plain.wmf";
  // A plain metafile whose first records could pass for a TGA header.
  WriteFileBytes(wmf, MakeWmf({WmfRec(0x020B, {0, 0}), WmfRec(0x020C, {50, 80}), WmfRec(0x041B, {40, 70, 10, 10})}, false));
  TCliRun info = RunCli("info " + Quote(wmf));
  EXPECT_EQ(info.Code, 0) << info.Err;
  EXPECT_NE(info.Out.find("type: Windows Metafile (WMF)\nwidth: 80\nheight: 50\n"), std::string::npos) << info.Out;
  TCliRun r = RunCli("convert " + Quote(wmf) + " " + Quote(dir / "plain.png"));
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(RunCli("info " + Quote(dir / "plain.png")).Out.find("width: 79\nheight: 49\n"), std::string::npos);
}

TEST(Cli, FailedReadsSayWhyOnTheirOneLine) {
  TScratchDir dir;
  std::string cut = dir / "rows-end-early.bmp";
  {
    // A 4 x 4 24-bit BMP with one row of pixels out of four.
    Bytes b;
    b.Str("BM").U32(0).U32(0).U32(0);
    b.U32(40).I32(4).I32(4).U16(1).U16(24).U32(0).U32(0).I32(2835).I32(2835).U32(0).U32(0);
    b.Append(std::vector<uint8_t>(12, 7));
    std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(b.B.data()), b.Size());
  }
  TCliRun convert = RunCli("convert " + Quote(cut) + " " + Quote(dir / "out.png"));
  EXPECT_EQ(convert.Code, 1);
  EXPECT_NE(convert.Err.find("rows-end-early.bmp: cannot read the image: truncated data: pixel data ends at row 1 of 4"),
            std::string::npos)
      << convert.Err;
  EXPECT_EQ(std::count(convert.Err.begin(), convert.Err.end(), '\n'), 1);

  std::string text = dir / "notes.txt";
  std::ofstream(text) << "not an image at all, just words";
  TCliRun info = RunCli("info " + Quote(text));
  EXPECT_EQ(info.Code, 1);
  EXPECT_NE(info.Err.find("notes.txt: not a readable image: unknown format"), std::string::npos) << info.Err;
}
