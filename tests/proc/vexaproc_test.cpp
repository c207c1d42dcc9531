#include "vexa/proc/vexaproc.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/fakeview.h"
#include "support/pixels.h"
#include "vexa/core/clipboard.h"
#include "vexa/core/raster.h"
#include "vexa/proc/bitmaputil.h"
#include "vexa/proc/dib.h"

using namespace vexa;
using namespace vexa::test;

namespace {

bool Changed(const TBitmap& a, const TBitmap& b, int x, int y) { return Px(a, x, y) != Px(b, x, y); }

}  // namespace

TEST(ProcFrame, WithoutSelectionTheWholeImageIsUsed) {
  TTestView view;
  view.Bitmap() = Filled(8, 6, Rgb(10, 20, 30));
  TVexaProc proc;
  proc.SetAttachedVexa(&view);
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  EXPECT_FALSE(proc.GetReSel(x1, y1, x2, y2, poly, n));
  EXPECT_EQ((std::vector<int>{x1, y1, x2, y2, n}), (std::vector<int>{0, 0, 7, 5, 0}));
  proc.Negative();
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(Px(view.Bitmap(), x, y), Rgb(245, 235, 225));
  EXPECT_EQ(view.Updates, 1);
  EXPECT_EQ(view.ImageChanges, 1);
}

TEST(ProcFrame, RectangleSelectionIncludesItsRightAndBottomEdges) {
  TTestView view;
  view.Bitmap() = Filled(10, 10, Rgb(0, 0, 0));
  TVexaProc proc;
  proc.SetAttachedVexa(&view);
  proc.Select(2, 3, 6, 7);
  EXPECT_EQ(view.Poly.size(), 4u);
  EXPECT_EQ(proc.GetSelX2(), 6);
  proc.IntensityRGBall(50, 0, 0);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      ASSERT_EQ(Px(view.Bitmap(), x, y).r == 50, x >= 2 && x <= 6 && y >= 3 && y <= 7) << x << "," << y;
}

TEST(ProcFrame, PolygonSelectionChangesOnlyItsInside) {
  TTestView view;
  view.Bitmap() = Filled(20, 20, Rgb(100, 100, 100));
  const TBitmap before = view.Bitmap();
  view.Poly = {{2, 2}, {12, 2}, {2, 12}};  // a triangle
  TVexaProc proc;
  proc.SetAttachedVexa(&view);
  proc.ConvertToGray();  // grey of (100,100,100) is 99
  TBitmap mask = Filled(20, 20, Rgb(0, 0, 0));
  VXFillPolygon(mask, view.Poly.data(), 3, clWhite);
  int inside = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x) {
      const bool in = Px(mask, x, y).r == 255;
      inside += in;
      ASSERT_EQ(Changed(view.Bitmap(), before, x, y), in) << x << "," << y;
    }
  EXPECT_GT(inside, 30);
}

TEST(ProcFrame, TwoPolygonsSeparatedByTheBreakPoint) {
  TTestView view;
  view.Bitmap() = Filled(30, 10, Rgb(0, 0, 0));
  view.Poly = {{1, 1}, {8, 1}, {8, 8}, {1, 8}, {1, 5}, kPolyBreak, {15, 1}, {25, 1}, {20, 9}};
  TVexaProc proc;
  proc.SetAttachedVexa(&view);
  proc.Negative();
  TBitmap mask = Filled(30, 10, Rgb(0, 0, 0));
  for (const auto& p : VXSplitPolygons(view.Poly.data(), int(view.Poly.size())))
    VXFillPolygon(mask, p.data(), int(p.size()), clWhite);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(Px(view.Bitmap(), x, y), Px(mask, x, y)) << x << "," << y;
  EXPECT_EQ(Px(view.Bitmap(), 12, 4), Rgb(0, 0, 0));  // between the two parts
  EXPECT_EQ(Px(view.Bitmap(), 20, 3), Rgb(255, 255, 255));
}

TEST(ProcFrame, UndoTwiceGivesTheSameImage) {
  TBitmap bmp = RandomBitmap(7, 5, 3);
  const TBitmap orig = bmp;
  TVexaProc proc;
  proc.SetAttachedBitmap(&bmp);
  EXPECT_FALSE(proc.CanUndo());
  proc.HSVvar(40, 10, 0);
  EXPECT_TRUE(proc.CanUndo());
  EXPECT_FALSE(_BitmapCompareX(bmp, orig));
  proc.Undo();
  EXPECT_TRUE(_BitmapCompareX(bmp, orig));
  proc.Negative();
  proc.Undo();
  proc.Undo();
  EXPECT_TRUE(_BitmapCompareX(bmp, orig));
  EXPECT_TRUE(bmp.Modified);
  proc.ClearUndo();
  EXPECT_FALSE(proc.CanUndo());
  TBitmap tiny = Filled(1, 1, Rgb(1, 1, 1));
  proc.SetAttachedBitmap(&tiny);
  proc.Negative();
  EXPECT_FALSE(proc.CanUndo());
  proc.Undo();
  EXPECT_EQ(Px(tiny, 0, 0), Rgb(254, 254, 254));
}

TEST(ProcFrame, AutoUndoOffKeepsThePreviousSnapshot) {
  TBitmap bmp = Filled(4, 4, Rgb(1, 2, 3));
  TVexaProc proc;
  proc.SetAttachedBitmap(&bmp);
  proc.Negative();
  proc.AutoUndo = false;
  proc.IntensityRGBall(1, 1, 1);
  proc.Undo();
  EXPECT_EQ(Px(bmp, 0, 0), Rgb(1, 2, 3));
}

TEST(ProcFrame, AttachingFollowsOneSourceAtATime) {
  TTestView view;
  view.Bitmap() = Filled(2, 2, Rgb(0, 0, 0));
  TImage image;
  TBitmap bare;
  TVexaProc proc;
  proc.SetAttachedVexa(&view);
  EXPECT_EQ(view.BitmapChangeEventCount(), 1);
  proc.SetAttachedBitmap(nullptr);  // ignored while a view is attached
  EXPECT_EQ(proc.AttachedBitmap(), &view.Bitmap());
  EXPECT_EQ(proc.AttachedVexa(), &view);
  proc.SetAttachedTImage(&image);
  EXPECT_EQ(proc.AttachedVexa(), nullptr);
  EXPECT_EQ(view.BitmapChangeEventCount(), 0);
  EXPECT_EQ(proc.AttachedBitmap(), &image.PictureBitmap());
  proc.SetAttachedTImage(nullptr);
  EXPECT_EQ(proc.AttachedBitmap(), &image.PictureBitmap());  // kept
  proc.SetAttachedBitmap(&bare);
  EXPECT_EQ(proc.AttachedBitmap(), &bare);
  proc.SetAttachedVexa(&view);
  proc.SetAttachedVexa(&view);
  EXPECT_EQ(view.BitmapChangeEventCount(), 1);
}

TEST(ProcFrame, ViewReplacingOrLosingItsBitmap) {
  TVexaProc proc;
  {
    TTestView view;
    proc.SetAttachedVexa(&view);
    view.Bitmap() = Filled(3, 3, Rgb(5, 5, 5));
    view.ReplaceBitmap(Filled(4, 4, Rgb(9, 9, 9)));
    EXPECT_EQ(proc.AttachedBitmap(), &view.Bitmap());
    proc.Negative();
    EXPECT_EQ(Px(view.Bitmap(), 3, 3), Rgb(246, 246, 246));
  }
  // The view and its bitmap are gone: operations must not touch freed memory.
  EXPECT_EQ(proc.AttachedVexa(), nullptr);
  EXPECT_EQ(proc.AttachedBitmap(), nullptr);
  proc.Negative();
  proc.Undo();
}

TEST(ProcFrame, BackgroundComesFromTheViewWhenAttached) {
  TTestView view;
  view.Bitmap() = Filled(6, 6, Rgb(1, 1, 1));
  TVexaProc proc;
  EXPECT_EQ(proc.Background(), clBlack);
  proc.SetBackground(clRed);
  proc.SetAttachedVexa(&view);
  proc.SetBackground(clLime);
  EXPECT_EQ(view.Background(), clLime);
  proc.Select(1, 1, 2, 2);
  proc.ClearSel();
  EXPECT_EQ(Px(view.Bitmap(), 2, 2), Rgb(0, 255, 0));
  EXPECT_EQ(Px(view.Bitmap(), 3, 3), Rgb(1, 1, 1));
  proc.ImageResize(8, 7);
  EXPECT_EQ(view.Bitmap().Width(), 8);
  EXPECT_EQ(Px(view.Bitmap(), 7, 6), Rgb(0, 255, 0));
  EXPECT_EQ(Px(view.Bitmap(), 0, 0), Rgb(1, 1, 1));
  proc.ImageResize(0, 5);
  EXPECT_EQ(view.Bitmap().Width(), 8);
  proc.Clear();
  EXPECT_EQ(Px(view.Bitmap(), 0, 0), Rgb(0, 255, 0));
}

TEST(ProcFrame, CropSelMeasuresTheBoundsDifference) {
  TBitmap bmp = RandomBitmap(40, 40, 8);
  const TBitmap orig = bmp;
  TVexaProc proc;
  proc.SetAttachedBitmap(&bmp);
  proc.Select(10, 10, 20, 30);
  proc.CropSel();
  ASSERT_EQ(bmp.Width(), 10);
  ASSERT_EQ(bmp.Height(), 20);
  // Without a view the stored rectangle is cropped as it is, not as black.
  EXPECT_EQ(Px(bmp, 0, 0), Px(orig, 10, 10));
  EXPECT_EQ(Px(bmp, 9, 19), Px(orig, 19, 29));
}

TEST(ProcFrame, ContrastNeedsTwoByTwoAndUsesWholeImageLevels) {
  TBitmap bmp = Filled(3, 3, Rgb(100, 100, 100));
  TVexaProc proc;
  proc.SetAttachedBitmap(&bmp);
  proc.Select(0, 0, 0, 0);
  proc.Contrast(-100);  // level 9 x 100 / 4 = 225 from the whole image
  EXPECT_EQ(Px(bmp, 0, 0), Rgb(225, 225, 225));
  EXPECT_EQ(Px(bmp, 1, 0), Rgb(100, 100, 100));
  ASSERT_TRUE(proc.CanUndo());
  TBitmap line = Filled(5, 1, Rgb(100, 100, 100));
  proc.SetAttachedBitmap(&line);
  proc.SelectAll();
  proc.Contrast(-100);
  EXPECT_EQ(Px(line, 0, 0), Rgb(100, 100, 100));
  // Refused before the snapshot: the 3 x 3 one stays (a snapshot of the line could not be undone).
  EXPECT_TRUE(proc.CanUndo());
  proc.SetAttachedBitmap(&bmp);
  proc.Undo();
  EXPECT_EQ(Px(bmp, 0, 0), Rgb(100, 100, 100));
}

TEST(ProcFrame, ProgressOnATenRowSelection) {
  TBitmap bmp = Filled(4, 20, Rgb(0, 0, 0));
  TVexaProc proc;
  proc.SetAttachedBitmap(&bmp);
  std::vector<int> seen;
  TObject* sender = nullptr;
  proc.OnProgress = [&](TObject* s, int p) {
    seen.push_back(p);
    sender = s;
  };
  proc.Select(0, 5, 3, 14);
  proc.Negative();
  EXPECT_EQ(seen, (std::vector<int>{10, 21, 31, 42, 52, 63, 73, 84, 94, 105}));
  EXPECT_EQ(sender, &proc);
}

TEST(ProcFrame, HistogramAndColourCountUseTheBoundingRectangle) {
  TTestView view;
  view.Bitmap() = Filled(10, 10, Rgb(0, 0, 0));
  SetPx(view.Bitmap(), 9, 0, Rgb(1, 1, 1));
  SetPx(view.Bitmap(), 2, 7, Rgb(9, 9, 9));  // outside the triangle, inside its box
  view.Poly = {{0, 0}, {8, 0}, {0, 8}};
  TVexaProc proc;
  proc.SetAttachedVexa(&view);
  EXPECT_EQ(proc.CalcImageNumColors(), 2);
  THistogramItem hist[256];
  proc.GetHistogram(hist);
  EXPECT_EQ(hist[0].r, 80u);
  view.Bitmap() = TBitmap(5, 5, pf1bit);
  EXPECT_EQ(proc.CalcImageNumColors(), 2);
}

TEST(ProcClipboard, CopyPasteAndCutThroughTheDIBSlot) {
  TBitmap bmp = RandomBitmap(9, 7, 12);
  const TBitmap orig = bmp;
  TVexaProc proc;
  proc.SetAttachedBitmap(&bmp);
  proc.Select(2, 1, 5, 4);
  proc.SelCutToClip();
  ASSERT_TRUE(VXClipboard().HasFormat(CF_DIB));
  EXPECT_EQ(Px(bmp, 2, 1), Rgb(0, 0, 0));  // cleared with the background
  EXPECT_EQ(Px(bmp, 5, 4), Rgb(0, 0, 0));
  EXPECT_EQ(Px(bmp, 6, 4), Px(orig, 6, 4));
  TBitmap target = Filled(12, 12, Rgb(7, 7, 7));
  proc.SetAttachedBitmap(&target);
  proc.SelectAll();
  proc.PointPasteFromClip(3, 3);
  EXPECT_EQ(target.Width(), 12);
  EXPECT_EQ(Px(target, 3, 3), Px(orig, 2, 1));
  EXPECT_EQ(Px(target, 6, 6), Px(orig, 5, 4));
  EXPECT_EQ(Px(target, 7, 7), Rgb(7, 7, 7));
  proc.PasteFromClipboard();
  EXPECT_EQ(target.Width(), 4);
  EXPECT_EQ(target.Height(), 4);
  proc.Undo();
  EXPECT_EQ(target.Width(), 12);
  // Stretch into a selection twice the size.
  proc.Select(0, 0, 7, 7);
  proc.SelPasteFromClipStretch();
  EXPECT_EQ(Px(target, 0, 0), Px(orig, 2, 1));
  EXPECT_EQ(Px(target, 7, 7), Px(orig, 5, 4));
  EXPECT_EQ(Px(target, 8, 8), Rgb(7, 7, 7));
  proc.CopyToClipboard();
  std::vector<uint8_t> dib = VXClipboard().GetData(CF_DIB);
  TBitmap back;
  _CopyDIB2Bitmap(dib.data(), dib.size(), back);
  EXPECT_TRUE(_BitmapCompareX(back, target));
}

TEST(ProcClipboard, NothingHappensWhenTheClipboardIsBusy) {
  TBitmap bmp = Filled(3, 3, Rgb(1, 1, 1));
  TVexaProc proc;
  proc.SetAttachedBitmap(&bmp);
  VXClipboard().Open();
  VXClipboard().Empty();
  proc.CopyToClipboard();
  EXPECT_FALSE(VXClipboard().HasFormat(CF_DIB));
  VXClipboard().Close();
  proc.PasteFromClipboard();  // empty clipboard: no change, no undo snapshot
  EXPECT_EQ(bmp.Width(), 3);
  EXPECT_FALSE(proc.CanUndo());
}

TEST(ProcClipboard, PolygonSelectionCopiesOnlyItsInside) {
  TTestView view;
  view.Bitmap() = Filled(12, 12, Rgb(200, 200, 200));
  view.Poly = {{0, 0}, {10, 0}, {0, 10}};
  view.Offset = {5, 5};
  TVexaProc proc;
  proc.SetAttachedVexa(&view);
  proc.SelCopyToClip();
  std::vector<uint8_t> dib = VXClipboard().GetData(CF_DIB);
  TBitmap clip;
  _CopyDIB2Bitmap(dib.data(), dib.size(), clip);
  ASSERT_EQ(clip.Width(), 10);
  EXPECT_EQ(Px(clip, 1, 1), Rgb(200, 200, 200));
  EXPECT_EQ(Px(clip, 9, 9), Rgb(0, 0, 0));
  // Control coordinates go through the view's mapping.
  view.Poly.clear();
  view.Bitmap() = Filled(12, 12, Rgb(1, 1, 1));
  proc.PointPasteFromClip(7, 7);
  EXPECT_EQ(Px(view.Bitmap(), 3, 3), Rgb(200, 200, 200));
  EXPECT_EQ(Px(view.Bitmap(), 1, 1), Rgb(1, 1, 1));
}

TEST(ProcFrame, ColourDepthConversions) {
  TBitmap bmp = Filled(16, 8, Rgb(128, 128, 128));
  TVexaProc proc;
  proc.SetAttachedBitmap(&bmp);
  proc.ConvertTo(2);
  ASSERT_EQ(bmp.PixelFormat(), pf1bit);
  proc.ConvertTo24Bit();
  ASSERT_EQ(bmp.PixelFormat(), pf24bit);
  proc.Undo();
  EXPECT_EQ(bmp.PixelFormat(), pf1bit);
  TBitmap photo = RandomBitmap(32, 32, 4);
  proc.SetAttachedBitmap(&photo);
  std::vector<TRGB> pal;
  proc.CalcImagePalette(pal, 16);
  EXPECT_EQ(pal.size(), 16u);
  proc.ConvertToPalette(8, pal);
  EXPECT_LE(proc.CalcImageNumColors(), 8);
  proc.ConvertToBWThreshold(-1);
  EXPECT_EQ(photo.PixelFormat(), pf1bit);
}

TEST(ProcFrame, PolygonReachingPastTheLeftEdgeStaysAligned) {
  TTestView view;
  view.Bitmap() = RandomBitmap(12, 12, 30);
  const TBitmap before = view.Bitmap();
  view.Poly = {{-4, -4}, {8, -4}, {-4, 8}};
  TVexaProc proc;
  proc.SetAttachedVexa(&view);
  proc.Negative();
  TBitmap mask = Filled(12, 12, Rgb(0, 0, 0));
  VXFillPolygon(mask, view.Poly.data(), 3, clWhite);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) {
      TRGB o = Px(before, x, y);
      TRGB expect = Px(mask, x, y).r ? Rgb(255 - o.r, 255 - o.g, 255 - o.b) : o;
      ASSERT_EQ(Px(view.Bitmap(), x, y), expect) << x << "," << y;
    }
}

TEST(ProcClipboard, GarbageOnTheClipboardIsNotPasted) {
  TBitmap bmp = Filled(3, 3, Rgb(1, 1, 1));
  TVexaProc proc;
  proc.SetAttachedBitmap(&bmp);
  {
    TVXClipboardLock lock;
    ASSERT_TRUE(lock.Opened());
    lock.Clip().Empty();
    lock.Clip().SetData(CF_DIB, {1, 2, 3});
  }
  proc.PasteFromClipboard();
  EXPECT_EQ(bmp.Width(), 3);
  EXPECT_EQ(Px(bmp, 2, 2), Rgb(1, 1, 1));
}
