#include "vexa/mview/vexamio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <tuple>

#include "mview_testutil.h"
#include "vexa/codecs/lzw.h"

using namespace vexa;
using namespace mvtest;

namespace {

class MIO : public ::testing::Test {
 protected:
  void SetUp() override {
    FSaved = {DefGIF_LZWDECOMPFUNC, DefGIF_LZWCOMPFUNC, DefTIFF_LZWDECOMPFUNC, DefTIFF_LZWCOMPFUNC};
    VXInstallLZWCoders();
    mio.SetAttachedMView(&grid);
  }
  void TearDown() override {
    std::tie(DefGIF_LZWDECOMPFUNC, DefGIF_LZWCOMPFUNC, DefTIFF_LZWDECOMPFUNC, DefTIFF_LZWCOMPFUNC) = FSaved;
  }
  /// Appends n solid images of w x h.
  void Fill(int n, int w = 16, int h = 12) {
    for (int i = 0; i < n; ++i) grid.SetImage(grid.AppendImage(), Solid(w, h, i));
  }
  void ExpectIndicesInStep() {
    ASSERT_EQ(mio.GetParamsCount(), grid.GetImageCount());
    for (int i = 0; i < mio.GetParamsCount(); ++i) {
      EXPECT_EQ(mio.GetParams(i)->GIF_ImageIndex, i);
      EXPECT_EQ(mio.GetParams(i)->TIFF_ImageIndex, i);
    }
  }
  TestGrid grid;
  TVexaMIO mio;
  vexa::test::TScratchDir dir;

 private:
  std::tuple<GifLzwDecodeProc, GifLzwEncodeProc, TiffLzwDecodeProc, TiffLzwEncodeProc> FSaved;
};

TEST_F(MIO, RecordsFollowInsertionsAndDeletions) {
  Fill(3);
  ExpectIndicesInStep();
  mio.GetParams(1)->JPEG_Quality = 33;
  grid.InsertImage(1);  // copies the record it displaces
  EXPECT_EQ(mio.GetParams(1)->JPEG_Quality, 33);
  mio.GetParams(3)->JPEG_Quality = 44;
  grid.DeleteImage(0);
  EXPECT_EQ(mio.GetParams(2)->JPEG_Quality, 44);
  ExpectIndicesInStep();
  EXPECT_EQ(mio.GetParams(3), nullptr);
  grid.Clear();
  EXPECT_EQ(mio.GetParamsCount(), 0);
}

TEST_F(MIO, AttachingToAFilledGridGivesOneRecordPerImage) {
  TestGrid other;
  for (int i = 0; i < 4; ++i) other.AppendImage();
  mio.SetAttachedMView(&other);
  ASSERT_EQ(mio.GetParamsCount(), 4);
  EXPECT_EQ(mio.GetParams(3)->TIFF_ImageIndex, 3);
  mio.SetAttachedMView(nullptr);
  EXPECT_EQ(mio.GetParamsCount(), 0);
  EXPECT_EQ(other.BitmapChangeEventCount(), 0);
}

TEST_F(MIO, DestroyedGridIsForgotten) {
  auto g = std::make_unique<TestGrid>();
  mio.SetAttachedMView(g.get());
  g.reset();
  EXPECT_EQ(mio.AttachedMView(), nullptr);
  mio.LoadFromFileGif(dir / "none.gif");  // no grid: nothing, not even the open
  EXPECT_FALSE(mio.Aborting);
}

TEST_F(MIO, GifRoundTripKeepsFramesAndDelays) {
  Fill(3);
  mio.GetParams(0)->GIF_DelayTime = 20;
  mio.GetParams(1)->GIF_DelayTime = 0;
  mio.GetParams(2)->GIF_DelayTime = 5;
  TMemoryStream s;
  mio.SaveToStreamGif(s);
  ASSERT_FALSE(mio.Aborting);
  grid.Clear();
  s.SetPosition(0);
  std::vector<int> progress;
  mio.OnProgress = [&](TObject*, int per) { progress.push_back(per); };
  mio.LoadFromStreamGif(s);
  ASSERT_FALSE(mio.Aborting);
  ASSERT_EQ(grid.GetImageCount(), 3);
  ExpectIndicesInStep();
  // A frame without a delay takes the previous frame's.
  EXPECT_EQ(grid.GetImageDelayTime(0), 200);
  EXPECT_EQ(grid.GetImageDelayTime(1), 200);
  EXPECT_EQ(grid.GetImageDelayTime(2), 50);
  // The codec's own progress is reported as well; the per-frame steps are among it.
  EXPECT_NE(std::find(progress.begin(), progress.end(), 33), progress.end());
  EXPECT_NE(std::find(progress.begin(), progress.end(), 66), progress.end());
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(mio.GetParams(i)->FileType, ioGIF);
    ASSERT_NE(grid.GetBitmap(i), nullptr);
    EXPECT_EQ(grid.GetBitmap(i)->GetPixel(3, 3), Solid(1, 1, i).GetPixel(0, 0)) << i;
    grid.ReleaseBitmap(i);
    grid.ReleaseBitmap(i);
  }
}

TEST_F(MIO, LoadingInsertsAtTheSelection) {
  Fill(4, 5, 5);
  grid.SetSelectedItem(2);
  std::string gif = vexa::test::TestData("gif/pillow/dispose_none.gif");  // 5 frames
  VEXA_REQUIRE_FILE(gif);
  mio.LoadFromFile(gif);
  ASSERT_FALSE(mio.Aborting);
  ASSERT_EQ(grid.GetImageCount(), 9);
  ExpectIndicesInStep();
  EXPECT_EQ(grid.GetImageWidth(1), 5);
  EXPECT_EQ(grid.GetImageWidth(7), 5);
  // Each frame is what the single-image component reads for that index.
  TBitmap ref;
  TVexaIO io;
  io.SetAttachedBitmap(&ref);
  for (int i = 0; i < 5; ++i) {
    io.Params.GIF_ImageIndex = i;
    io.LoadFromFileGif(gif);
    const TBitmap* got = grid.PeekImage(2 + i);
    ASSERT_NE(got, nullptr);
    ASSERT_EQ(got->Width(), ref.Width());
    ASSERT_EQ(got->Height(), ref.Height());
    EXPECT_EQ(0, std::memcmp(got->Bits(), ref.Bits(), ref.ImageSize())) << "frame " << i;
  }
}

TEST_F(MIO, TiffRoundTripAppendsEveryPage) {
  Fill(3);
  grid.SetImage(1, Solid(30, 7, 5));
  const std::string f = dir / "pages.tif";
  mio.SaveToFile(f);
  ASSERT_FALSE(mio.Aborting);
  EXPECT_EQ(EnumTIFFIm(f), 3);
  // libtiff agrees on the page count.
  FILE* p = popen(("tiffinfo " + f + " 2>/dev/null | grep -c 'Image Width'").c_str(), "r");
  ASSERT_NE(p, nullptr);
  int pages = 0;
  EXPECT_EQ(fscanf(p, "%d", &pages), 1);
  pclose(p);
  EXPECT_EQ(pages, 3);
  grid.Clear();
  mio.LoadFromFile(f);
  ASSERT_EQ(grid.GetImageCount(), 3);
  EXPECT_EQ(grid.GetImageWidth(1), 30);
  EXPECT_EQ(grid.GetImageDelayTime(2), 100);
  EXPECT_EQ(mio.GetParams(2)->FileType, ioTIFF);
  EXPECT_EQ(grid.PeekImage(2)->GetPixel(0, 0), Solid(1, 1, 2).GetPixel(0, 0));
  ExpectIndicesInStep();
}

TEST_F(MIO, OtherExtensionsAndBrokenFilesLeaveTheGridAlone) {
  Fill(2);
  mio.LoadFromFile(dir / "x.png");
  mio.SaveToFile(dir / "x.png");
  EXPECT_EQ(grid.GetImageCount(), 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.png"));
  TMemoryStream junk;
  junk.WriteBuffer("GIF89a-not-really", 17);
  junk.SetPosition(0);
  mio.LoadFromStreamGif(junk);
  EXPECT_TRUE(mio.Aborting);
  EXPECT_EQ(grid.GetImageCount(), 2);
  ExpectIndicesInStep();
  EXPECT_THROW(mio.LoadFromFileTIFF(dir / "missing.tif"), EFOpenError);
}

TEST_F(MIO, SavingWithoutCodersReportsTheFailure) {
  Fill(2);
  DefGIF_LZWCOMPFUNC = nullptr;
  for (int i = 0; i < 2; ++i) mio.GetParams(i)->GIF_LZWCompFunc = nullptr;
  TMemoryStream s;
  mio.SaveToStreamGif(s);
  EXPECT_TRUE(mio.Aborting);
}

}  // namespace
