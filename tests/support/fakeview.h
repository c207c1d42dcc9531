// A minimal view for components that link to one: owns a bitmap and counts refreshes.
#pragma once

#include "vexa/core/bitmap.h"
#include "vexa/core/vxview.h"

namespace vexa::test {

class TTestView : public TVXView {
 public:
  explicit TTestView(TComponent* owner = nullptr) : TVXView(owner), FBitmap(new TBitmap(4, 4)) {}
  ~TTestView() override { delete FBitmap; }
  TBitmap* GetFBitmap() override { return FBitmap; }
  void Update() override { ++Updates; }
  void ImageChange() override { ++ImageChanges; }
  /// Replaces the bitmap object, as a view does when it is assigned another image.
  void ReplaceBitmap() {
    delete FBitmap;
    FBitmap = new TBitmap(2, 2);
    CallBitmapChangeEvents();
  }
  int Updates = 0, ImageChanges = 0;

 private:
  TBitmap* FBitmap;
};

}  // namespace vexa::test
