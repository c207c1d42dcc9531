// Painting the thumbnail grid into a bitmap instead of a window: what the
// command line and the benchmarks render contact sheets with.
#pragma once

#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/mview/imagegrid.h"

namespace vexa {

/// Paints into a 24-bit bitmap (client pixel (0, 0) is the bitmap's top-left).
class TVXRasterGridPainter : public TVXGridPainter {
 public:
  explicit TVXRasterGridPainter(TBitmap& target);
  void FillRect(const TRect& r, TColor color) override;
  void StretchDraw(const TRect& dst, const TBitmap& bmp) override;
  void FrameRect(const TRect& r, TColor color) override;
  void ExcludeRect(const TRect& r) override;
  void FillUncovered(TColor color) override;

 private:
  TBitmap& FTarget;
  std::vector<uint8_t> FCovered;  // one byte per pixel
};

/// Lays the grid out over its whole content and paints it into bmp (resized to fit).
void VXRenderGrid(TVXImageGrid& grid, TBitmap& bmp);

}  // namespace vexa
