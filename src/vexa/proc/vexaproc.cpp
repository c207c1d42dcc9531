#include "vexa/proc/vexaproc.h"
#include "vexa/proc/procrect.h"

#include "vexa/core/clipboard.h"
#include "vexa/core/raster.h"
#include "vexa/proc/bitmaputil.h"
#include "vexa/proc/coloradjust.h"
#include "vexa/quant/colordepth.h"
#include "vexa/proc/dib.h"

namespace vexa {

namespace {

// Four points whose edges 3-0, 0-1, 1-2, 2-3 alternate between vertical and
// horizontal (whichever comes first): an axis-aligned rectangle.
bool IsRectangle(const TPoint* p, int count) {
  if (count != 4) return false;
  auto vertical = [](TPoint a, TPoint b) { return a.X == b.X && a.Y != b.Y; };
  auto horizontal = [](TPoint a, TPoint b) { return a.Y == b.Y && a.X != b.X; };
  const TPoint e[4][2] = {{p[3], p[0]}, {p[0], p[1]}, {p[1], p[2]}, {p[2], p[3]}};
  bool vFirst = true, hFirst = true;
  for (int i = 0; i < 4; ++i) {
    const bool v = vertical(e[i][0], e[i][1]), h = horizontal(e[i][0], e[i][1]);
    if (i % 2 == 0) {
      vFirst = vFirst && v;
      hFirst = hFirst && h;
    } else {
      vFirst = vFirst && h;
      hFirst = hFirst && v;
    }
  }
  return vFirst || hFirst;
}

}  // namespace

bool procdetail::VXIsRectPolygon(const TPoint* p, int count) { return IsRectangle(p, count); }

TVexaProc::TVexaProc(TComponent* owner) : TComponent(owner) {}

TVexaProc::~TVexaProc() { Detach(); }

void TVexaProc::Detach() {
  if (FView) FView->RemoveBitmapChangeEvent(this);
}

void TVexaProc::SetBitmapOwner(TComponent* owner) {
  FBitmapOwner = owner;
  if (owner) FreeNotification(owner);
}

void TVexaProc::SetAttachedVexa(TVXView* view) {
  if (FView) FView->RemoveBitmapChangeEvent(this);
  FView = view;
  if (!view) return;
  FBitmap = view->GetFBitmap();
  SetBitmapOwner(view);
  FTImage = nullptr;
  view->RegisterBitmapChangeEvent(this, [this](TObject* sender) { OnBitmapChange(sender); });
}

void TVexaProc::SetAttachedTImage(TImage* image) {
  if (FView) FView->RemoveBitmapChangeEvent(this);
  FTImage = image;
  if (!image) return;
  FBitmap = &image->PictureBitmap();
  SetBitmapOwner(image);
  FView = nullptr;
}

void TVexaProc::SetAttachedBitmap(TBitmap* bitmap) {
  if (FView) FView->RemoveBitmapChangeEvent(this);
  if (!bitmap && (FView || FTImage)) return;
  FBitmap = bitmap;
  FBitmapOwner = nullptr;
  if (bitmap) {
    FView = nullptr;
    FTImage = nullptr;
  }
}

void TVexaProc::OnBitmapChange(TObject*) {
  if (FView) FBitmap = FView->GetFBitmap();
}

void TVexaProc::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  // The leaving component is already half destroyed: only forget it. Its
  // bitmap-change registrations go with it.
  if (component == FView) FView = nullptr;
  if (component == FTImage) FTImage = nullptr;
  // The bitmap belonged to it; keeping the pointer would let the next operation
  // write into freed memory.
  if (component == FBitmapOwner) {
    FBitmap = nullptr;
    FBitmapOwner = nullptr;
  }
}

TColor TVexaProc::Background() const { return FView ? FView->Background() : FBackground; }

void TVexaProc::SetBackground(TColor color) {
  if (FView)
    FView->SetBackGround(color);
  else
    FBackground = color;
}

void TVexaProc::SaveUndo() {
  if (!FBitmap) return;
  ClearUndo();
  if (FBitmap->Width() > 0 && FBitmap->Height() > 0) VXCopyBitmap(*FBitmap, FUndo);
}

void TVexaProc::Undo() {
  if (!FBitmap || FUndo.Width() < 2 || FUndo.Height() <= 1) return;
  VXCopyBitmap(FUndo, *FBitmap);
  Update();
}

void TVexaProc::ClearUndo() { FUndo.Allocate(1, 1, FUndo.PixelFormat()); }

bool TVexaProc::GetCanUndo() const { return FUndo.Width() > 1 && FUndo.Height() > 1; }

void TVexaProc::Update() {
  if (FView) {
    FView->Update();
    FView->ImageChange();
  } else if (FBitmap) {
    FBitmap->Changed();
  }
}

bool TVexaProc::HasSelectionView() const { return FView && FView->Selection(); }

void TVexaProc::Select(int x1, int y1, int x2, int y2, TVXSelOp op) {
  FSelX1 = x1, FSelY1 = y1, FSelX2 = x2, FSelY2 = y2;
  if (HasSelectionView()) FView->Selection()->VXSelectBitmap(x1, y1, x2, y2, op);
}

void TVexaProc::SelectAll() {
  FSelX1 = FSelY1 = FSelX2 = FSelY2 = -1;
  if (HasSelectionView()) FView->Selection()->VXDeSelect();
}

bool TVexaProc::GetReSel(int& x1, int& y1, int& x2, int& y2, const TPoint*& poly, int& polyCount) const {
  polyCount = 0;
  poly = nullptr;
  if (HasSelectionView()) {
    const TVXSelectionSource* sel = FView->Selection();
    if (sel->VXHasSelection()) {
      sel->VXGetSelBounds(x1, y1, x2, y2);
      poly = sel->VXGetPolySel(polyCount);
      if (!poly) polyCount = 0;
    } else {
      x1 = -1;
    }
  } else {
    x1 = FSelX1, y1 = FSelY1, x2 = FSelX2, y2 = FSelY2;
  }
  if (x1 >= 0) return true;
  x1 = y1 = 0;
  x2 = FBitmap ? FBitmap->Width() - 1 : -1;
  y2 = FBitmap ? FBitmap->Height() - 1 : -1;
  return false;
}

int TVexaProc::GetSelX1() const {
  int x1, y1, x2, y2, n;
  const TPoint* p;
  GetReSel(x1, y1, x2, y2, p, n);
  return x1;
}
int TVexaProc::GetSelY1() const {
  int x1, y1, x2, y2, n;
  const TPoint* p;
  GetReSel(x1, y1, x2, y2, p, n);
  return y1;
}
int TVexaProc::GetSelX2() const {
  int x1, y1, x2, y2, n;
  const TPoint* p;
  GetReSel(x1, y1, x2, y2, p, n);
  return x2;
}
int TVexaProc::GetSelY2() const {
  int x1, y1, x2, y2, n;
  const TPoint* p;
  GetReSel(x1, y1, x2, y2, p, n);
  return y2;
}

template <typename Fn>
void TVexaProc::Confined(bool rectTest, Fn fn) {
  if (AutoUndo) SaveUndo();
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  GetReSel(x1, y1, x2, y2, poly, n);
  if (n < 1 || (rectTest && IsRectangle(poly, n))) {
    fn(*FBitmap, x1, y1, x2, y2);
  } else {
    // The copy starts inside the bitmap, so the write-back must start there too.
    x1 = imax(x1, 0), y1 = imax(y1, 0);
    TBitmap tmp;
    _CopyBitmapRect(*FBitmap, tmp, x1, y1, x2, y2);
    fn(tmp, 0, 0, tmp.Width() - 1, tmp.Height() - 1);
    _CopyPolygonBitmap(*FBitmap, tmp, x1, y1, poly, n);
  }
  Update();
}

void TVexaProc::ConfinedCall(bool rectTest, const std::function<void(TBitmap&, int, int, int, int)>& fn) {
  Confined(rectTest, fn);
}

void TVexaProc::Clear() {
  if (!FBitmap) return;
  if (AutoUndo) SaveUndo();
  VXFillRect(*FBitmap, {0, 0, FBitmap->Width(), FBitmap->Height()}, Background());
  Update();
}

void TVexaProc::ClearSel() {
  if (!FBitmap) return;
  if (AutoUndo) SaveUndo();
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  GetReSel(x1, y1, x2, y2, poly, n);
  if (n < 1 || IsRectangle(poly, n))
    VXFillRect(*FBitmap, {x1, y1, x2 + 1, y2 + 1}, Background());
  else
    _ClearSel(*FBitmap, poly, n, Background());
  Update();
}

void TVexaProc::CropSel() {
  if (!FBitmap) return;
  if (AutoUndo) SaveUndo();
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  if (GetReSel(x1, y1, x2, y2, poly, n)) {
    TBitmap tmp;
    if (n < 1) {
      // A stored rectangle has no polygon to copy through; crop the same area directly.
      const TPoint box[4] = {{x1, y1}, {x2, y1}, {x2, y2}, {x1, y2}};
      _CopyBitmapPoly(*FBitmap, tmp, x1, y1, x2, y2, box, 4);
    } else {
      _CopyBitmapPoly(*FBitmap, tmp, x1, y1, x2, y2, poly, n);
    }
    VXCopyBitmap(tmp, *FBitmap);
  }
  Update();
}

void TVexaProc::ImageResize(int newWidth, int newHeight) {
  if (!FBitmap || newWidth <= 0 || newHeight <= 0) return;
  if (AutoUndo) SaveUndo();
  VXResizeKeep(*FBitmap, newWidth, newHeight, Background());
  Update();
}

void TVexaProc::PutDIBOnClipboard(const TBitmap& bmp, int x1, int y1, int x2, int y2) {
  TVXClipboardLock lock;
  if (!lock.Opened()) return;
  lock.Clip().Empty();
  lock.Clip().SetData(CF_DIB, _CopyBitmaptoDIB(bmp, x1, y1, x2, y2));
}

bool TVexaProc::ClipboardBitmap(TBitmap& out) {
  TVXClipboardLock lock;
  if (!lock.Opened() || !lock.Clip().HasFormat(CF_DIB)) return false;
  const std::vector<uint8_t> dib = lock.Clip().GetData(CF_DIB);
  // A block without a usable header is not an image: leave the bitmap alone.
  return _CopyDIB2Bitmap(dib.data(), dib.size(), out) != 0;
}

void TVexaProc::CopyToClipboard() {
  if (FBitmap) PutDIBOnClipboard(*FBitmap, 0, 0, 0, 0);
}

void TVexaProc::SelCopyToClip() {
  if (!FBitmap) return;
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  if (!GetReSel(x1, y1, x2, y2, poly, n)) {
    CopyToClipboard();
  } else if (n < 1 || IsRectangle(poly, n)) {
    PutDIBOnClipboard(*FBitmap, x1, y1, x2, y2);
  } else {
    TBitmap tmp;
    _CopyBitmapPoly(*FBitmap, tmp, x1, y1, x2, y2, poly, n);
    PutDIBOnClipboard(tmp, 0, 0, 0, 0);
  }
}

void TVexaProc::SelCutToClip() {
  if (!FBitmap) return;
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  if (!GetReSel(x1, y1, x2, y2, poly, n)) return;
  if (AutoUndo) SaveUndo();
  SelCopyToClip();
  if (n < 1 || IsRectangle(poly, n))
    VXFillRect(*FBitmap, {x1, y1, x2 + 1, y2 + 1}, Background());
  else
    _ClearSel(*FBitmap, poly, n, Background());
  Update();
}

void TVexaProc::PasteFromClipboard() {
  if (!FBitmap) return;
  TBitmap pasted;
  if (!ClipboardBitmap(pasted)) return;
  if (AutoUndo) SaveUndo();
  VXCopyBitmap(pasted, *FBitmap);
  Update();
}

void TVexaProc::PointPasteFromClip(int x, int y) {
  if (!FBitmap) return;
  TBitmap pasted;
  if (!ClipboardBitmap(pasted)) return;
  if (AutoUndo) SaveUndo();
  if (HasSelectionView()) {
    const TPoint p = FView->Selection()->VXClientToBitmap({x, y});
    x = p.X, y = p.Y;
  }
  VXDrawBitmap(*FBitmap, x, y, pasted);
  Update();
}

void TVexaProc::SelPasteFromClipStretch() {
  if (!FBitmap) return;
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  if (!GetReSel(x1, y1, x2, y2, poly, n)) {
    PasteFromClipboard();
    return;
  }
  TBitmap pasted;
  if (!ClipboardBitmap(pasted)) return;
  if (AutoUndo) SaveUndo();
  VXStretchDrawBitmap(*FBitmap, {x1, y1, x2 + 1, y2 + 1}, pasted);
  Update();
}

#define VX_REQUIRE_24BIT() \
  if (!FBitmap || FBitmap->PixelFormat() != pf24bit) return

void TVexaProc::HSLvar(int hue, int sat, int lum) {
  VX_REQUIRE_24BIT();
  Confined(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _HSLvar(b, hue, sat, lum, x1, y1, x2, y2, OnProgress, this);
  });
}

void TVexaProc::HSVvar(int hue, int sat, int val) {
  VX_REQUIRE_24BIT();
  Confined(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _HSVvar(b, hue, sat, val, x1, y1, x2, y2, OnProgress, this);
  });
}

void TVexaProc::IntensityRGBall(int r, int g, int bl) {
  VX_REQUIRE_24BIT();
  Confined(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _IntensityRGBall(b, r, g, bl, x1, y1, x2, y2, OnProgress, this);
  });
}

void TVexaProc::Contrast(int contrast) {
  VX_REQUIRE_24BIT();
  if (FBitmap->Width() < 2 || FBitmap->Height() < 2) return;
  int mr, mg, mb;
  _GetMediaContrastRGB(*FBitmap, mr, mg, mb);
  Confined(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _ContrastRGB(b, contrast, mr, mg, mb, x1, y1, x2, y2, OnProgress, this);
  });
}

void TVexaProc::Threshold(TRGB downLimit, TRGB upLimit, TRGB downValue, TRGB upValue) {
  VX_REQUIRE_24BIT();
  Confined(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _Threshold(b, downLimit, upLimit, downValue, upValue, x1, y1, x2, y2, OnProgress, this);
  });
}

void TVexaProc::CastColorRange(TRGB begin, TRGB end, TRGB cast) {
  VX_REQUIRE_24BIT();
  Confined(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _CastColorRange(b, begin, end, cast, x1, y1, x2, y2, OnProgress, this);
  });
}

void TVexaProc::Negative() {
  if (!FBitmap) return;
  Confined(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) { _Negative(b, x1, y1, x2, y2, OnProgress, this); });
}

void TVexaProc::ConvertToGray() {
  VX_REQUIRE_24BIT();
  Confined(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _ConvertToGray(b, x1, y1, x2, y2, OnProgress, this);
  });
}

TBitmap* TVexaProc::GetRGBChannel(int index) {
  return FBitmap ? _GetRGBChannel(*FBitmap, index, OnProgress, this) : nullptr;
}

TBitmap* TVexaProc::GetHSVChannel(int index) {
  return FBitmap ? _GetHSVChannel(*FBitmap, index, OnProgress, this) : nullptr;
}

void TVexaProc::GetRGBChannelAll(TBitmap& r, TBitmap& g, TBitmap& b) {
  if (FBitmap) _GetRGBChannelAll(*FBitmap, r, g, b, OnProgress, this);
}

void TVexaProc::GetHSVChannelAll(TBitmap& h, TBitmap& s, TBitmap& v) {
  if (FBitmap) _GetHSVChannelAll(*FBitmap, h, s, v, OnProgress, this);
}

void TVexaProc::GetHistogram(THistogramItem* histogram) {
  VX_REQUIRE_24BIT();
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  GetReSel(x1, y1, x2, y2, poly, n);
  _GetHistogram(*FBitmap, histogram, x1, y1, x2, y2);
}

void TVexaProc::HistEqualize(TRGB low, TRGB high) {
  VX_REQUIRE_24BIT();
  Confined(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _HistEqualize(b, low, high, x1, y1, x2, y2, OnProgress, this);
  });
}

void TVexaProc::HistAutoEqualize() {
  VX_REQUIRE_24BIT();
  Confined(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _HistAutoEqualize(b, x1, y1, x2, y2, OnProgress, this);
  });
}

int TVexaProc::CalcImageNumColors() {
  if (!FBitmap) return 0;
  if (FBitmap->PixelFormat() == pf1bit) return 2;
  if (FBitmap->PixelFormat() != pf24bit) return 0;
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  GetReSel(x1, y1, x2, y2, poly, n);
  return _GetImageNumColors(*FBitmap, x1, y1, x2, y2);
}

void TVexaProc::ApplyFilter(const TGraphFilter& filter) {
  VX_REQUIRE_24BIT();
  TProgressRec progress;
  progress.OnProgress = OnProgress;
  progress.Sender = this;
  Confined(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) { _ApplyFilter(b, filter, x1, y1, x2, y2, progress); });
}

void TVexaProc::ApplyFilterPreset(TVXFilterPresets preset) {
  if (preset < fpNone || preset > LowPass2) return;
  ApplyFilter(VXFiltPres[preset]);
}

TProgressRec TVexaProc::MakeProgress() {
  TProgressRec rec;
  rec.OnProgress = OnProgress;
  rec.Sender = this;
  return rec;
}

void TVexaProc::ConvertTo(int nColors) {
  VX_REQUIRE_24BIT();
  if (AutoUndo) SaveUndo();
  if (nColors > 2) {
    _ConvertTo(*FBitmap, nColors, nullptr, OnProgress, this);
  } else {
    TProgressRec rec = MakeProgress();
    _ConvertToBWOrdered(*FBitmap, rec);
  }
  Update();
}

void TVexaProc::ConvertToPalette(int nColors, std::vector<TRGB>& palette) {
  VX_REQUIRE_24BIT();
  if (AutoUndo) SaveUndo();
  if (nColors > 2) {
    _ConvertTo(*FBitmap, nColors, &palette, OnProgress, this);
  } else {
    TProgressRec rec = MakeProgress();
    _ConvertToBWOrdered(*FBitmap, rec);
    palette = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
  }
  Update();
}

void TVexaProc::ConvertToBWOrdered() {
  VX_REQUIRE_24BIT();
  if (AutoUndo) SaveUndo();
  TProgressRec rec = MakeProgress();
  _ConvertToBWOrdered(*FBitmap, rec);
  Update();
}

void TVexaProc::ConvertToBWThreshold(int threshold) {
  VX_REQUIRE_24BIT();
  if (AutoUndo) SaveUndo();
  TProgressRec rec = MakeProgress();
  _ConvertToBWThreshold(*FBitmap, threshold, rec);
  Update();
}

void TVexaProc::ConvertTo24Bit() {
  if (!FBitmap || FBitmap->PixelFormat() != pf1bit) return;
  if (AutoUndo) SaveUndo();
  const TBitmap copy = *FBitmap;
  TProgressRec rec = MakeProgress();
  _Conv1to24(copy, *FBitmap, rec);
  Update();
}

void TVexaProc::CalcImagePalette(std::vector<TRGB>& palette, int nColors) {
  VX_REQUIRE_24BIT();
  TVXQuantizer quantizer(*FBitmap, palette, nColors, -1, 0);
}

}  // namespace vexa
