// The view base that non-visual components attach to, and the selection they read.
//
// TVXView owns no pixels itself: GetFBitmap returns the current bitmap of the
// concrete view (null here). Components register a bitmap-change callback with an
// owner token and remove it by that token; a view calls the callbacks when it
// replaces its bitmap object (not when the pixels change: that is Update).
#pragma once

#include <functional>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/component.h"

namespace vexa {

enum TVXSelOp { vxspReplace, vxspAdd };

/// Screen resolution and colour depth; 96 / 24 until the UI layer reads the screen.
extern int gSystemDPIX, gSystemDPIY, gSystemColors;

/// The selection of a view as processing components see it (bitmap coordinates).
class TVXSelectionSource {
 public:
  virtual ~TVXSelectionSource() = default;
  virtual bool VXHasSelection() const = 0;
  /// Bounding box, X2 and Y2 inclusive.
  virtual void VXGetSelBounds(int& x1, int& y1, int& x2, int& y2) const = 0;
  /// Polygon points (kPolyBreak between closed polygons) and their count.
  virtual const TPoint* VXGetPolySel(int& count) const = 0;
  /// Selects a rectangle given in bitmap coordinates.
  virtual void VXSelectBitmap(int x1, int y1, int x2, int y2, TVXSelOp op) = 0;
  virtual void VXDeSelect() = 0;
  /// Maps a point in control coordinates to bitmap coordinates (zoom and scroll).
  virtual TPoint VXClientToBitmap(TPoint p) const { return p; }
};

using TVXBitmapChangeEvent = std::function<void(TObject* sender)>;

class TVXView : public TComponent {
 public:
  explicit TVXView(TComponent* owner = nullptr);

  TColor Background() const { return FBackground; }
  virtual void SetBackGround(TColor c) { FBackground = c; }
  virtual TBitmap* GetFBitmap() { return nullptr; }
  int DPIX() const { return FDPIX; }
  int DPIY() const { return FDPIY; }
  virtual void SetDPIX(int v) { FDPIX = v; }
  virtual void SetDPIY(int v) { FDPIY = v; }
  void SetDPI(int x, int y) {
    SetDPIX(x);
    SetDPIY(y);
  }
  /// Recompute layout and repaint after the bitmap changed in size or content.
  virtual void Update() {}
  /// Announces that the image content changed (OnImageChange).
  virtual void ImageChange() {}
  /// The selection, for views that have one.
  virtual TVXSelectionSource* Selection() { return nullptr; }

  /// Registers a callback under a token (usually the registering component).
  void RegisterBitmapChangeEvent(const void* token, TVXBitmapChangeEvent callback);
  /// Removes the first registration with this token; nothing when there is none.
  void RemoveBitmapChangeEvent(const void* token);
  void CallBitmapChangeEvents();
  int BitmapChangeEventCount() const { return static_cast<int>(FCallbacks.size()); }

 private:
  struct Registration {
    const void* Token;
    TVXBitmapChangeEvent Callback;
  };
  std::vector<Registration> FCallbacks;
  TColor FBackground = clBtnFace;
  int FDPIX, FDPIY;
};

}  // namespace vexa
