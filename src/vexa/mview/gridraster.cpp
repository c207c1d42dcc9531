#include "vexa/mview/gridraster.h"

#include <cstring>

#include "vexa/core/raster.h"

namespace vexa {

TVXRasterGridPainter::TVXRasterGridPainter(TBitmap& target)
    : FTarget(target), FCovered(static_cast<size_t>(imax(0, target.Width())) * imax(0, target.Height()), 0) {}

void TVXRasterGridPainter::FillRect(const TRect& r, TColor color) { VXFillRect(FTarget, r, color); }

void TVXRasterGridPainter::StretchDraw(const TRect& dst, const TBitmap& bmp) { VXStretchDrawBitmap(FTarget, dst, bmp); }

void TVXRasterGridPainter::FrameRect(const TRect& r, TColor color) {
  VXFillRect(FTarget, TRect{r.Left, r.Top, r.Right, r.Top + 1}, color);
  VXFillRect(FTarget, TRect{r.Left, r.Bottom - 1, r.Right, r.Bottom}, color);
  VXFillRect(FTarget, TRect{r.Left, r.Top, r.Left + 1, r.Bottom}, color);
  VXFillRect(FTarget, TRect{r.Right - 1, r.Top, r.Right, r.Bottom}, color);
}

void TVXRasterGridPainter::ExcludeRect(const TRect& r) {
  const int w = FTarget.Width(), h = FTarget.Height();
  const int x1 = ilimit(r.Left, 0, w), x2 = ilimit(r.Right, 0, w);
  for (int y = imax(0, r.Top); y < imin(h, r.Bottom); ++y)
    if (x2 > x1) std::memset(&FCovered[static_cast<size_t>(y) * w + x1], 1, static_cast<size_t>(x2 - x1));
}

void TVXRasterGridPainter::FillUncovered(TColor color) {
  const int w = FTarget.Width(), h = FTarget.Height();
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = &FCovered[static_cast<size_t>(y) * w];
    for (int x = 0; x < w;) {
      if (row[x]) {
        ++x;
        continue;
      }
      int end = x;
      while (end < w && !row[end]) ++end;
      VXFillRect(FTarget, TRect{x, y, end, y + 1}, color);
      x = end;
    }
  }
}

void VXRenderGrid(TVXImageGrid& grid, TBitmap& bmp) {
  // Removing a corrupt image changes the layout: paint until it holds still.
  for (int pass = 0; pass < 3; ++pass) {
    const int count = grid.GetImageCount();
    grid.UpdateCoords();
    grid.SetClientSize(grid.ContentWidth(), grid.ContentHeight());
    grid.SetViewXY(0, 0);
    bmp.Allocate(grid.ContentWidth(), grid.ContentHeight(), pf24bit);
    TVXRasterGridPainter painter(bmp);
    grid.PaintTo(painter);
    if (grid.GetImageCount() == count) return;
  }
}

}  // namespace vexa
