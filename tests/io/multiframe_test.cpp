#include <gtest/gtest.h>

#include <memory>

#include "io_testutil.h"
#include "vexa/codecs/lzw.h"
#include "vexa/core/sample.h"
#include "vexa/io/vexaio.h"

using namespace vexa;
using namespace iotest;
using namespace vexa::test;

namespace {

const char* const kAnimated = "gif/pillow/dispose_none.gif";  // 5 frames
const char* const kSingle = "gif/image-rs/sample_1.gif";      // 1 frame, not looping
const char* const kTwoPages = "tiff/libtiffpic/text.tif";     // 2 pages

class MultiFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    io = std::make_unique<TVexaIO>();  // after the coders: its parameters copy them
    io->SetAttachedBitmap(&bmp);
  }
  ScopedLzwCoders coders;
  TScratchDir dir;
  TBitmap bmp;
  std::unique_ptr<TVexaIO> io;
};

}  // namespace

TEST_F(MultiFrame, GifLoadsReportTheFrameCountAndReadTheChosenFrame) {
  std::string gif = TestData(kAnimated);
  VEXA_REQUIRE_FILE(gif);
  EXPECT_EQ(io->LoadFromFileGif(gif), 5);
  EXPECT_FALSE(io->Aborting);
  io->Params.GIF_ImageIndex = 4;
  TFileStream f(gif, fmOpenRead);
  EXPECT_EQ(io->LoadFromStreamGif(f), 5);
  EXPECT_FALSE(io->Aborting);
  EXPECT_EQ(io->Params.FileType, ioGIF);
  EXPECT_EQ(EnumGifIm(gif), 5);
}

TEST_F(MultiFrame, UnreadableGifsCountNothing) {
  EXPECT_EQ(EnumGifIm(dir / "missing.gif"), 0);
  EXPECT_FALSE(CheckAniGif(dir / "missing.gif"));
  std::string single = TestData(kSingle);
  VEXA_REQUIRE_FILE(single);
  EXPECT_FALSE(CheckAniGif(single));
}

TEST_F(MultiFrame, InsertingAGifFrameMakesTheFileALoopingAnimation) {
  std::string gif = dir.Copy(kSingle, "anim.gif");
  VEXA_REQUIRE_FILE(gif);
  bmp = VXMakeSampleImage(30, 20);
  io->Params.GIF_ImageIndex = 1;
  io->Params.GIF_XPos = 5;
  EXPECT_EQ(io->InsertToFileGif(gif), 1);
  EXPECT_FALSE(io->Aborting);
  EXPECT_GE(io->Params.GIF_WinWidth, 35);
  EXPECT_EQ(EnumGifIm(gif), 2);
  EXPECT_TRUE(CheckAniGif(gif));

  TBitmap frame;
  TVexaIO reader;
  reader.SetAttachedBitmap(&frame);
  reader.Params.GIF_ImageIndex = 1;
  EXPECT_EQ(reader.LoadFromFileGif(gif), 2);
  EXPECT_EQ(frame.Width(), 30);
  EXPECT_EQ(reader.Params.GIF_XPos, 5);

  io->Params.GIF_ImageIndex = 9;  // past the end: nothing goes in
  EXPECT_EQ(io->InsertToFileGif(gif), -1);
  EXPECT_EQ(EnumGifIm(gif), 2);

  EXPECT_EQ(DeleteGifIm(gif, 0), 1);
  EXPECT_EQ(EnumGifIm(gif), 1);
}

TEST_F(MultiFrame, TiffLoadsReportThePageCount) {
  std::string tif = TestData(kTwoPages);
  VEXA_REQUIRE_FILE(tif);
  EXPECT_EQ(io->LoadFromFileTIFF(tif), 2);
  EXPECT_EQ(EnumTIFFIm(tif), 2);
}

TEST_F(MultiFrame, TiffPagesAreInsertedWhereAskedAndDeleted) {
  std::string tif = dir / "pages.tif";
  bmp = VXMakeSampleImage(12, 9, 1);
  io->SaveToFileTIFF(tif);
  ASSERT_FALSE(io->Aborting);

  TBitmap first = VXMakeSampleImage(7, 5, 2);
  bmp = first;
  io->Params.TIFF_ImageIndex = 0;
  EXPECT_EQ(io->InsertToFileTIFF(tif), 0);
  EXPECT_EQ(EnumTIFFIm(tif), 2);
  bmp = VXMakeSampleImage(3, 3, 3);
  io->Params.TIFF_ImageIndex = 99;  // past the chain: appended
  EXPECT_EQ(io->InsertToFileTIFF(tif), 2);
  EXPECT_EQ(EnumTIFFIm(tif), 3);

  TBitmap page;
  TVexaIO reader;
  reader.SetAttachedBitmap(&page);
  reader.Params.TIFF_ImageIndex = 0;
  EXPECT_EQ(reader.LoadFromFileTIFF(tif), 3);
  ASSERT_EQ(page.Width(), 7);
  EXPECT_EQ(page.GetPixel(4, 3), first.GetPixel(4, 3));

  EXPECT_EQ(DeleteTIFFIm(tif, 0), 3);
  EXPECT_EQ(EnumTIFFIm(tif), 2);
  reader.LoadFromFileTIFF(tif);
  EXPECT_EQ(page.Width(), 12);
  EXPECT_THROW(io->InsertToFileTIFF(dir / "missing.tif"), EFOpenError);
}
