#include <gtest/gtest.h>

#include <fstream>

#include "mview_testutil.h"

using namespace vexa;
using namespace mvtest;

namespace {

// --- layout

struct LayoutCase {
  int GridWidth, ClientW, Images, Columns;
};

class GridLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(GridLayout, CellsFollowTheColumnCount) {
  const LayoutCase c = GetParam();
  TestGrid g;
  g.SetClientSize(c.ClientW, 200);
  g.SetGridWidth(c.GridWidth);
  for (int i = 0; i < c.Images; ++i) g.AppendImage();
  int lastX = 0, lastY = 0;
  for (int i = 0; i < c.Images; ++i) {
    const int col = c.Columns == 0 ? i : i % c.Columns, row = c.Columns == 0 ? 0 : i / c.Columns;
    ASSERT_EQ(g.GetImageCol(i), col) << i;
    ASSERT_EQ(g.GetImageRow(i), row) << i;
    EXPECT_EQ(g.GetImageX(i), 4 + col * 104);
    EXPECT_EQ(g.GetImageY(i), 4 + row * 104);
    lastX = std::max(lastX, g.GetImageX(i)), lastY = std::max(lastY, g.GetImageY(i));
  }
  EXPECT_EQ(g.ContentWidth(), lastX + 104);
  EXPECT_EQ(g.ContentHeight(), lastY + 104);
}

INSTANTIATE_TEST_SUITE_P(Widths, GridLayout,
                         ::testing::Values(LayoutCase{0, 330, 10, 0},   // one unlimited row
                                           LayoutCase{-1, 330, 10, 3},  // (330 - 4) / 104
                                           LayoutCase{-1, 50, 4, 1},    // never fewer than one column
                                           LayoutCase{2, 330, 5, 2}));

TEST(GridLayout, SingleModePutsEveryImageInTheFirstCell) {
  TestGrid g;
  g.SetGridWidth(-1);
  for (int i = 0; i < 5; ++i) g.AppendImage();
  g.SetDisplayMode(mdSingle);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(g.GetImageX(i) * 1000 + g.GetImageY(i), 4 * 1000 + 4);
  EXPECT_EQ(g.ImageAtPos(10, 10), 0);
}

TEST(GridLayout, ImageAtPosAndVisibilityFollowTheScrollOrigin) {
  TestGrid g;
  g.SetClientSize(200, 120);
  for (int i = 0; i < 10; ++i) g.AppendImage();
  EXPECT_EQ(g.ImageAtPos(4, 4), 0);
  EXPECT_EQ(g.ImageAtPos(2, 2), -1);  // the border belongs to no cell
  EXPECT_EQ(g.ImageAtPos(108, 50), 1);
  EXPECT_EQ(g.GetImageVisibility(0), 2);
  EXPECT_EQ(g.GetImageVisibility(1), 1);
  EXPECT_EQ(g.GetImageVisibility(2), 0);
  g.SetViewX(104);
  EXPECT_EQ(g.ImageAtPos(4, 4), 1);
  EXPECT_EQ(g.GetImageVisibility(0), 0);
  g.SetViewX(1 << 20);  // clamped to the content
  int mx, my;
  g.GetMaxViewXY(mx, my);
  EXPECT_EQ(g.ViewX(), mx);
  EXPECT_EQ(mx, 10 * 104 + 4 - 200);
}

// --- insertion and deletion

struct DeleteCase {
  int Count, Selected, Deleted, ExpectSelected;
  int ExpectSameImageAs;  // original index of the image selected afterwards
};

class GridDelete : public ::testing::TestWithParam<DeleteCase> {};

TEST_P(GridDelete, SelectionFollowsTheRules) {
  const DeleteCase c = GetParam();
  TestGrid g;
  for (int i = 0; i < c.Count; ++i) {
    g.AppendImage();
    g.SetImageID(i, 100 + i);
  }
  g.SetSelectedItem(c.Selected);
  ASSERT_TRUE(g.DeleteImageNU(c.Deleted));
  EXPECT_EQ(g.GetImageCount(), c.Count - 1);
  EXPECT_EQ(g.SelectedImage(), c.ExpectSelected);
  EXPECT_EQ(g.GetImageID(g.SelectedImage()), 100 + c.ExpectSameImageAs);
  EXPECT_EQ(g.GetLastOp(), vxgoDelete);
  EXPECT_EQ(g.GetLastOpIdx(), c.Deleted);
  EXPECT_EQ(g.GetLastOp(), vxgoNone);  // reading clears it
}

INSTANTIATE_TEST_SUITE_P(Rules, GridDelete,
                         ::testing::Values(DeleteCase{5, 4, 4, 3, 3},    // selected last: the new last
                                           DeleteCase{5, 2, 2, 2, 3},    // selected: the one taking its place
                                           DeleteCase{5, 3, 1, 2, 3},    // before the selection: same image
                                           DeleteCase{5, 1, 3, 1, 1}));  // after it: unchanged

TEST(GridList, InsertSelectsTheNewImageAndOutOfRangeCallsDoNothing) {
  TestGrid g;
  int callbacks = 0;
  g.RegisterBitmapChangeEvent(&callbacks, [&](TObject*) { ++callbacks; });
  g.AppendImage();
  g.AppendImage();
  g.InsertImage(1);
  EXPECT_EQ(g.GetImageCount(), 3);
  EXPECT_EQ(g.SelectedImage(), 1);
  EXPECT_EQ(g.GetLastOp(), vxgoInsert);
  EXPECT_EQ(g.GetLastOpIdx(), 1);
  EXPECT_GT(callbacks, 0);
  g.InsertImage(99);  // appends
  EXPECT_EQ(g.GetLastOpIdx(), 3);
  EXPECT_FALSE(g.DeleteImageNU(4));
  EXPECT_EQ(g.GetImageCount(), 4);
  g.SetImageDelayTime(9, 5);
  EXPECT_EQ(g.GetImageDelayTime(9), 0);
  EXPECT_EQ(g.GetImageID(9), -1);
  g.Clear();
  EXPECT_EQ(g.GetImageCount(), 0);
  EXPECT_EQ(g.SelectedImage(), -1);
  EXPECT_EQ(g.GetFBitmap(), nullptr);
}

TEST(GridList, FileNameAndIdExcludeEachOther) {
  TestGrid g;
  g.AppendImage();
  g.SetImageID(0, 7);
  g.SetImageFileName(0, "a.jpg");
  EXPECT_EQ(g.GetImageID(0), -1);
  g.SetImageID(0, 8);
  EXPECT_EQ(g.GetImageFileName(0), "");
}

// --- storage

TEST(GridStorage, ThumbStoreShrinksToTheCellKeepingTheAspect) {
  TestGrid g;
  g.SetStoreType(vxtThumb);
  g.AppendImage();
  g.AppendImage();
  g.SetImage(0, Solid(1000, 500, 1));
  g.SetImage(1, Solid(30, 300, 2));
  EXPECT_EQ(g.GetImageWidth(0), 100);
  EXPECT_EQ(g.GetImageHeight(0), 50);
  EXPECT_EQ(g.GetImageWidth(1), 10);
  EXPECT_EQ(g.GetImageHeight(1), 100);
  g.SetStoreType(vxtNormal);
  g.SetImage(0, Solid(1000, 500, 1));
  EXPECT_EQ(g.GetImageWidth(0), 1000);
  // The packed block carries the header the platform's DIBs have.
  std::vector<uint8_t> info = g.GetBitmapInfo(0);
  ASSERT_GE(info.size(), 40u);
  EXPECT_EQ(info[4] | info[5] << 8, 1000);
  EXPECT_EQ(info[14], 24);
}

TEST(GridStorage, SetImageRectStoresTheClippedRectangle) {
  TestGrid g;
  g.AppendImage();
  TBitmap src(40, 30);
  src.SetPixel(35, 25, CreateRGB(1, 2, 3));
  g.SetImageRect(0, src, TRect{30, 20, 90, 90});
  ASSERT_EQ(g.GetImageWidth(0), 10);
  ASSERT_EQ(g.GetImageHeight(0), 10);
  EXPECT_EQ(g.GetFBitmap()->GetPixel(5, 5), CreateRGB(1, 2, 3));
}

TEST(GridStorage, CheckOutCountsAndThePixelsSurvivePacking) {
  TestGrid g;
  g.AppendImage();
  g.AppendImage();  // selected: image 0 is packed
  g.SetImage(0, Solid(8, 6, 3));
  EXPECT_EQ(g.GetFBitmap(), nullptr);  // image 1 has no pixels yet
  TBitmap* a = g.GetBitmap(0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(g.GetBitmap(0), a);  // the same object while checked out
  a->SetPixel(1, 1, CreateRGB(9, 9, 9));
  g.ReleaseBitmap(0);
  g.ReleaseBitmap(0);
  g.ReleaseBitmap(0);  // not below zero
  TBitmap* b = g.GetBitmap(0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->GetPixel(1, 1), CreateRGB(9, 9, 9));
  EXPECT_EQ(b->GetPixel(0, 0), Solid(1, 1, 3).GetPixel(0, 0));
  g.ReleaseBitmap(0);
  // Selecting checks out: the view's bitmap is the image's own object.
  g.SetSelectedItem(0);
  ASSERT_NE(g.GetFBitmap(), nullptr);
  EXPECT_EQ(g.GetFBitmap()->GetPixel(1, 1), CreateRGB(9, 9, 9));
  g.FreeImage(0);
  EXPECT_EQ(g.GetImageWidth(0), 0);
  EXPECT_EQ(g.GetBitmap(5), nullptr);
}

TEST(GridStorage, SettingTheSelectedImageHandsComponentsTheNewObject) {
  TestGrid g;
  g.AppendImage();
  TBitmap* seen = nullptr;
  g.RegisterBitmapChangeEvent(&seen, [&](TObject*) { seen = g.GetFBitmap(); });
  g.SetImage(0, Solid(5, 5, 1));
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(seen, g.GetFBitmap());
  EXPECT_EQ(seen->Width(), 5);
}

TEST(GridStorage, IdRequestsStoreTheBitmapOrAnEmptyImage) {
  TestGrid g;
  TBitmap pic = Solid(20, 10, 4);
  std::vector<int> asked;
  g.OnImageIDRequest = [&](TObject*, int id, TBitmap*& bmp) {
    asked.push_back(id);
    bmp = id == 1 ? &pic : nullptr;
  };
  g.AppendImage();
  g.AppendImage();
  g.SetImageID(0, 1);
  g.SetImageID(1, 2);
  EXPECT_TRUE(g.ObtainImage(0));
  EXPECT_EQ(g.GetImageWidth(0), 20);
  EXPECT_TRUE(g.ObtainImage(1));
  EXPECT_EQ(g.GetImageWidth(1), 0);
  EXPECT_EQ(asked, (std::vector<int>{1, 2}));
  // Painting does not ask again for an image it already holds.
  RecordingPainter p;
  g.PaintTo(p);
  EXPECT_EQ(asked.size(), 2u);
}

// --- painting and caching

TEST(GridPaint, PicturesAreFittedAndCentredAndTheSelectionFramed) {
  TestGrid g;
  g.SetUpperGap(10);
  g.AppendImage();
  g.SetImage(0, Solid(50, 20, 1));  // fits 100 x 90 as 100 x 40
  g.AppendImage();
  g.SetImage(1, Solid(10, 10, 2));  // enlarged to 90 x 90
  RecordingPainter p;
  g.PaintTo(p);
  ASSERT_EQ(p.Draws.size(), 2u);
  EXPECT_EQ(p.Draws[0].Dst, (TRect{4, 4 + 10 + 25, 104, 4 + 10 + 25 + 40}));
  EXPECT_EQ(p.Draws[1].Dst, (TRect{108 + 5, 14, 108 + 95, 104}));
  EXPECT_EQ(p.Cells, (std::vector<int>{0, 1}));
  // Image 1 is selected: three hollow frames 1, 2 and 3 pixels outside its cell.
  ASSERT_EQ(p.Frames.size(), 3u);
  EXPECT_EQ(p.Frames[2].first, (TRect{108 - 3, 1, 208 + 3, 107}));
  EXPECT_EQ(p.Frames[0].second, clRed);
  EXPECT_EQ(p.Excluded[1], (TRect{105, 1, 211, 107}));
  g.Focus = false;
  RecordingPainter q;
  g.PaintTo(q);
  EXPECT_EQ(q.Frames.size(), 1u);
}

TEST(GridPaint, DrawProgressCountsTheImages) {
  TestGrid g;
  for (int i = 0; i < 4; ++i) g.AppendImage();
  std::vector<std::pair<int, int>> seen;
  g.OnDrawProgress = [&](TObject*, int per, int idx) { seen.push_back({per, idx}); };
  RecordingPainter p;
  g.PaintTo(p);
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 0}, {25, 1}, {50, 2}, {75, 3}, {100, 0}}));
}

class GridFiles : public ::testing::Test {
 protected:
  vexa::test::TScratchDir dir;
};

TEST_F(GridFiles, CorruptFilesDisappearWithRemoveCorrupted) {
  std::string good = MakeJpeg(dir, "good.jpg", 64, 48);
  std::string bad = dir / "bad.jpg";
  std::ofstream(bad) << "this is no JPEG";
  for (bool remove : {false, true}) {
    TestGrid g;
    g.SetGridWidth(-1);
    g.RemoveCorrupted = remove;
    for (const std::string& f : {good, bad, good, dir / "missing.jpg"}) g.SetImageFileName(g.AppendImage(), f);
    RecordingPainter p;
    g.PaintTo(p);
    EXPECT_EQ(g.GetImageCount(), remove ? 2 : 4);
    EXPECT_EQ(g.GetImageFileName(1), remove ? good : bad);
    // A removal starts the painting over; the last pass draws what is left.
    ASSERT_GE(p.Cells.size(), static_cast<size_t>(g.GetImageCount()));
    EXPECT_EQ(std::vector<int>(p.Cells.end() - g.GetImageCount(), p.Cells.end()),
              remove ? (std::vector<int>{0, 1}) : (std::vector<int>{0, 1, 2, 3}));
  }
}

TEST_F(GridFiles, ScrolledAwayFilesAreDroppedAndReloadedButNeverTheSelection) {
  std::string f = MakeJpeg(dir, "a.jpg", 80, 60);
  TestGrid g;
  g.SetClientSize(220, 210);  // 2 x 2 cells
  g.SetGridWidth(2);
  for (int i = 0; i < 20; ++i) g.SetImageFileName(g.AppendImage(), f);
  g.SetSelectedItem(0);
  RecordingPainter p;
  g.PaintTo(p);
  EXPECT_EQ(g.LoadedImageCount(), 4);
  ASSERT_NE(g.GetFBitmap(), nullptr);
  TBitmap* selected = g.GetFBitmap();
  g.SetViewY(1 << 20);
  g.PaintTo(p);
  EXPECT_EQ(g.LoadedImageCount(), 5);  // two last rows plus the selection
  EXPECT_EQ(g.PeekImage(1), nullptr);
  EXPECT_EQ(g.GetFBitmap(), selected);
  EXPECT_NE(g.PeekImage(19), nullptr);
  g.SetViewY(0);
  g.PaintTo(p);
  EXPECT_NE(g.PeekImage(1), nullptr);
  EXPECT_EQ(g.PeekImage(19), nullptr);
  EXPECT_EQ(g.GetImageWidth(1), 80);
}

TEST_F(GridFiles, ThumbnailsOfFilesUseReducedDecodingAndAreStoredSmall) {
  std::string f = MakeJpeg(dir, "big.jpg", 1600, 800);
  TestGrid g;
  g.SetStoreType(vxtThumb);
  g.SetImageFileName(g.AppendImage(), f);
  ASSERT_NE(g.GetBitmap(0), nullptr);
  EXPECT_EQ(g.GetImageWidth(0), 100);
  EXPECT_EQ(g.GetImageHeight(0), 50);
}

// A long list of file images scrolled from start to end holds only what is on
// screen plus the selection. The files repeat: what counts is the list length.
TEST_F(GridFiles, MemoryStaysBoundedOverTwoThousandFileImages) {
  std::vector<std::string> files;
  for (int i = 0; i < 4; ++i) files.push_back(MakeJpeg(dir, std::to_string(i) + ".jpg", 400 + i, 300));
  TestGrid g;
  g.SetStoreType(vxtThumb);
  g.SetClientSize(640, 480);
  g.SetGridWidth(-1);
  g.LockPaint();
  for (int i = 0; i < 2000; ++i) g.SetImageFileName(g.AppendImage(), files[static_cast<size_t>(i % 4)]);
  g.UnLockPaint();
  g.SetSelectedItem(0);
  const int cols = g.Columns();
  const int rowsOnScreen = 480 / 104 + 2;  // partly visible rows at both edges
  int maxLoaded = 0;
  int mx, my;
  g.GetMaxViewXY(mx, my);
  for (int y = 0; y <= my; y += 150) {
    g.SetViewY(y);
    RecordingPainter p;
    g.PaintTo(p);
    maxLoaded = std::max(maxLoaded, g.LoadedImageCount());
  }
  EXPECT_GT(maxLoaded, cols);
  EXPECT_LE(maxLoaded, cols * rowsOnScreen + 1);
}

// --- keyboard

struct SeekCase {
  int GridWidth, From;
  TVXSeek Dir;
  int To;
};

class GridSeek : public ::testing::TestWithParam<SeekCase> {};

TEST_P(GridSeek, MovesTheSelection) {
  const SeekCase c = GetParam();
  TestGrid g;  // 330 x 220: 3 columns, 2 rows per page
  g.SetGridWidth(c.GridWidth);
  for (int i = 0; i < 20; ++i) g.AppendImage();
  g.SetSelectedItem(c.From);
  g.SelectSeek(c.Dir);
  EXPECT_EQ(g.SelectedImage(), c.To);
}

INSTANTIATE_TEST_SUITE_P(Keys, GridSeek,
                         ::testing::Values(SeekCase{-1, 4, iskLeft, 3}, SeekCase{-1, 4, iskRight, 5},
                                           SeekCase{-1, 4, iskUp, 1}, SeekCase{-1, 1, iskUp, 0},
                                           SeekCase{-1, 4, iskDown, 7}, SeekCase{-1, 18, iskDown, 19},
                                           SeekCase{-1, 0, iskPagDown, 6}, SeekCase{-1, 10, iskPagUp, 4},
                                           SeekCase{-1, 7, iskFirst, 0}, SeekCase{-1, 7, iskLast, 19},
                                           SeekCase{0, 4, iskUp, 3}, SeekCase{0, 4, iskDown, 5},
                                           SeekCase{-1, 0, iskLeft, 0}));

TEST(GridSeek, TheNewSelectionIsScrolledFullyIntoView) {
  TestGrid g;
  g.SetGridWidth(-1);
  for (int i = 0; i < 30; ++i) g.AppendImage();
  g.SetSelectedItem(0);
  g.SelectSeek(iskLast);
  EXPECT_EQ(g.GetImageVisibility(29), 2);
  // Forward moves align the cell plus its border with the bottom edge.
  EXPECT_EQ(g.ViewY(), g.GetImageY(29) + 104 - 220);
  g.SelectSeek(iskPagUp);
  g.SelectSeek(iskPagUp);
  const int sel = g.SelectedImage();
  EXPECT_EQ(g.GetImageVisibility(sel), 2);
  EXPECT_EQ(g.ViewY(), g.GetImageY(sel) - 4);
  g.SelectSeek(iskFirst);
  EXPECT_EQ(g.ViewY(), 0);
}

// --- playback

TEST(GridPlayback, StepsAtTheFrameDelayWithATenMillisecondFloor) {
  TestGrid g;
  g.SetGridWidth(-1);
  for (int i = 0; i < 3; ++i) g.AppendImage();
  g.SetImageDelayTime(1, 40);
  g.SetSelectedItem(2);
  g.SetPlaying(true);
  EXPECT_TRUE(g.Playing());
  EXPECT_EQ(g.SelectedImage(), -1);
  EXPECT_EQ(g.DisplayMode(), mdSingle);
  g.SetDisplayMode(mdGrid);  // only the mode to restore changes
  EXPECT_EQ(g.DisplayMode(), mdSingle);
  g.SetSelectedItem(1);  // ignored while playing
  EXPECT_EQ(g.SelectedImage(), -1);
  g.PlayFrame();
  g.PlayFrame();
  g.PlayFrame();
  EXPECT_EQ(g.Timers, (std::vector<int>{10, 40, 10, 10}));
  EXPECT_EQ(g.PaintsNow, 4);
  EXPECT_EQ(g.VisibleFrame(), 1);
  g.SetPlaying(false);
  EXPECT_EQ(g.SelectedImage(), 2);
  EXPECT_EQ(g.DisplayMode(), mdGrid);
  EXPECT_EQ(g.PlayInterval(), 0);
}

TEST(GridPlayback, WithoutLoopPlaybackStopsAfterTheLastFrame) {
  TestGrid g;
  for (int i = 0; i < 2; ++i) g.AppendImage();
  g.Loop = false;
  int wraps = 0;
  g.RegisterBitmapChangeEvent(&wraps, [&](TObject*) { ++wraps; });
  g.SetPlaying(true);
  wraps = 0;
  g.PlayFrame();
  EXPECT_FALSE(g.Playing());
  EXPECT_GE(wraps, 1);
  EXPECT_EQ(g.SelectedImage(), 1);
}

TEST(GridPlayback, InsertingStopsPlayback) {
  TestGrid g;
  g.AppendImage();
  g.SetPlaying(true);
  g.AppendImage();
  EXPECT_FALSE(g.Playing());
}

}  // namespace
