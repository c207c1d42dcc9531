// A view without a screen for components that link to one: it owns a bitmap and a
// selection polygon, and counts the refreshes it is asked for.
#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/raster.h"
#include "vexa/core/vxview.h"

namespace vexa::test {

class TTestView : public TVXView, public TVXSelectionSource {
 public:
  explicit TTestView(TComponent* owner = nullptr) : TVXView(owner), FBitmap(std::make_unique<TBitmap>(4, 4)) {}
  TBitmap& Bitmap() { return *FBitmap; }
  std::vector<TPoint> Poly;
  TPoint Offset{0, 0};
  int Updates = 0, ImageChanges = 0;

  /// Puts a new bitmap object in place of the old one, as a view does when it is assigned another image.
  void ReplaceBitmap(const TBitmap& b = TBitmap(2, 2)) {
    FBitmap = std::make_unique<TBitmap>(b);
    CallBitmapChangeEvents();
  }

  TBitmap* GetFBitmap() override { return FBitmap.get(); }
  void Update() override { ++Updates; }
  void ImageChange() override { ++ImageChanges; }
  TVXSelectionSource* Selection() override { return this; }

  bool VXHasSelection() const override { return !Poly.empty(); }
  void VXGetSelBounds(int& x1, int& y1, int& x2, int& y2) const override {
    x1 = y1 = 1 << 30, x2 = y2 = -1;
    for (const TPoint& p : Poly) {
      if (IsPolyBreak(p)) continue;
      x1 = std::min(x1, p.X), y1 = std::min(y1, p.Y), x2 = std::max(x2, p.X), y2 = std::max(y2, p.Y);
    }
  }
  const TPoint* VXGetPolySel(int& count) const override {
    count = static_cast<int>(Poly.size());
    return Poly.data();
  }
  void VXSelectBitmap(int x1, int y1, int x2, int y2, TVXSelOp op) override {
    if (op == vxspReplace) Poly.clear();
    Poly.insert(Poly.end(), {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}});
  }
  void VXDeSelect() override { Poly.clear(); }
  TPoint VXClientToBitmap(TPoint p) const override { return {p.X - Offset.X, p.Y - Offset.Y}; }

 private:
  std::unique_ptr<TBitmap> FBitmap;
};

}  // namespace vexa::test
