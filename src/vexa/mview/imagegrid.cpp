#include "vexa/mview/imagegrid.h"

#include <algorithm>

#include "vexa/core/errors.h"
#include "vexa/core/raster.h"
#include "vexa/proc/dib.h"

namespace vexa {

void VXFitSize(int w, int h, int boxW, int boxH, int& outW, int& outH) {
  if (w <= 0 || h <= 0 || boxW <= 0 || boxH <= 0) {
    outW = outH = 0;
    return;
  }
  double scale = std::min(static_cast<double>(boxH) / h, static_cast<double>(boxW) / w);
  outW = imax(1, static_cast<int>(w * scale));
  outH = imax(1, static_cast<int>(h * scale));
}

namespace {

// Packed blocks hold what a device-independent block can: 1 or 24 bits.
TBitmap Normalised(TBitmap bmp) {
  if (bmp.PixelFormat() != pf1bit && bmp.PixelFormat() != pf24bit) bmp.SetPixelFormat(pf24bit);
  return bmp;
}

}  // namespace

TVXImageGrid::TVXImageGrid(TComponent* owner) : TVXView(owner), FIO(std::make_unique<TVexaIO>()) {
  FIO->SetAttachedBitmap(&FIOBitmap);
}

TVXImageGrid::~TVXImageGrid() {
  SetState(csDestroying, true);
  FPlaying = false;
  DeselectNU();
  FImages.clear();
}

TBitmap* TVXImageGrid::GetFBitmap() {
  return Valid(FSelected) ? FImages[static_cast<size_t>(FSelected)].Bitmap.get() : nullptr;
}

void TVXImageGrid::SetBackGround(TColor c) {
  TVXView::SetBackGround(c);
  Update();
}

void TVXImageGrid::SetDisplayMode(TVXMDisplayMode v) {
  if (FPlaying) {
    FSavedDisplayMode = v;
    return;
  }
  SetAndUpdate(FDisplayMode, v);
}

void TVXImageGrid::SetClientSize(int w, int h) {
  FClientW = imax(0, w);
  FClientH = imax(0, h);
}

// ---------------------------------------------------------------------------
// Layout

int TVXImageGrid::Columns() const {
  if (FGridWidth == -1) return imax(1, (FClientW - FHorizBorder) / (FHorizBorder + FThumbWidth));
  return FGridWidth;
}

void TVXImageGrid::UpdateCoords() {
  const int cols = Columns();
  int c = 0, r = 0, maxX = 0, maxY = 0;
  for (Image& im : FImages) {
    if (FDisplayMode == mdSingle) {
      im.Col = im.Row = 0;
    } else {
      im.Col = c;
      im.Row = r;
    }
    im.X = FHorizBorder + im.Col * (FThumbWidth + FHorizBorder);
    im.Y = FVertBorder + im.Row * (FThumbHeight + FVertBorder);
    maxX = imax(maxX, im.X);
    maxY = imax(maxY, im.Y);
    if (++c == cols) c = 0, ++r;
  }
  if (FImages.empty()) maxX = FHorizBorder, maxY = FVertBorder;
  FContentW = maxX + FThumbWidth + FHorizBorder;
  FContentH = maxY + FThumbHeight + FVertBorder;
}

void TVXImageGrid::GetMaxViewXY(int& maxX, int& maxY) const {
  maxX = imax(0, FContentW - FClientW);
  maxY = imax(0, FContentH - FClientH);
}

bool TVXImageGrid::ClampView() {
  int mx, my;
  GetMaxViewXY(mx, my);
  int x = ilimit(FViewX, 0, mx), y = ilimit(FViewY, 0, my);
  bool moved = x != FViewX || y != FViewY;
  FViewX = x, FViewY = y;
  return moved;
}

void TVXImageGrid::Update() {
  if (!CanUpdate() || FInUpdate) return;
  FInUpdate = true;
  for (int pass = 0; pass < 3; ++pass) {
    UpdateCoords();
    if (ClampView() && OnViewChange) OnViewChange(this, 0);
    // A scroll bar that appears or goes changes the client size: lay out again.
    if (!SyncScrollBars()) break;
  }
  FInUpdate = false;
  CallBitmapChangeEvents();
  Invalidate();
}

void TVXImageGrid::SetViewXY(int x, int y) {
  const int ox = FViewX, oy = FViewY;
  FViewX = x, FViewY = y;
  ClampView();
  SyncScrollBars();
  Invalidate();
  if ((ox != FViewX || oy != FViewY) && OnViewChange) OnViewChange(this, 0);
}

void TVXImageGrid::CenterSelected() {
  if (!Valid(FSelected)) return;
  const Image& im = FImages[static_cast<size_t>(FSelected)];
  SetViewXY(im.X - (FClientW - FThumbWidth) / 2, im.Y - (FClientH - FThumbHeight) / 2);
}

void TVXImageGrid::CenterFrame() {
  if (!Valid(FVisibleFrame)) return;
  const Image& im = FImages[static_cast<size_t>(FVisibleFrame)];
  SetViewXY(im.X - (FClientW - FThumbWidth) / 2, im.Y - (FClientH - FThumbHeight) / 2);
}

int TVXImageGrid::ImageAtPos(int x, int y) const {
  const int cx = x + FViewX, cy = y + FViewY;
  for (int i = 0; i < GetImageCount(); ++i) {
    const Image& im = FImages[static_cast<size_t>(i)];
    if (cx >= im.X && cx < im.X + FThumbWidth && cy >= im.Y && cy < im.Y + FThumbHeight) return i;
  }
  return -1;
}

int TVXImageGrid::GetImageVisibility(int idx) const {
  if (!Valid(idx)) return 0;
  const Image& im = FImages[static_cast<size_t>(idx)];
  const int l = im.X - FViewX, t = im.Y - FViewY, r = l + FThumbWidth, b = t + FThumbHeight;
  if (r <= 0 || b <= 0 || l >= FClientW || t >= FClientH) return 0;
  return (l >= 0 && t >= 0 && r <= FClientW && b <= FClientH) ? 2 : 1;
}

// ---------------------------------------------------------------------------
// Image list

void TVXImageGrid::InsertImage(int idx) {
  SetPlaying(false);
  Image im;
  im.Background = Background();
  idx = ilimit(idx, 0, GetImageCount());
  // The selection's index may shift: release it before the list moves.
  DeselectNU();
  FImages.insert(FImages.begin() + idx, std::move(im));
  SetSelectedItemNU(idx);
  FLastOp = vxgoInsert;
  FLastOpIdx = idx;
  CallBitmapChangeEvents();
  Update();
}

int TVXImageGrid::AppendImage() {
  int idx = GetImageCount();
  InsertImage(idx);
  return idx;
}

void TVXImageGrid::DeleteImage(int idx) {
  if (DeleteImageNU(idx)) Update();
}

bool TVXImageGrid::DeleteImageNU(int idx) {
  SetPlaying(false);
  if (!Valid(idx)) return false;
  const int old = FSelected;
  DeselectNU();
  FImages.erase(FImages.begin() + idx);
  const int count = GetImageCount();
  int sel = old;
  if (old == idx)
    sel = idx < count ? idx : count - 1;
  else if (old > idx)
    sel = old - 1;
  if (sel >= 0) SetSelectedItemNU(sel);
  if (FVisibleFrame >= count) FVisibleFrame = 0;
  FLastOp = vxgoDelete;
  FLastOpIdx = idx;
  CallBitmapChangeEvents();
  return true;
}

void TVXImageGrid::Clear() {
  LockPaint();
  while (!FImages.empty()) DeleteImageNU(GetImageCount() - 1);
  FViewX = FViewY = 0;
  UnLockPaint();
}

void TVXImageGrid::Store(int idx, TBitmap&& bmp) {
  Image& im = FImages[static_cast<size_t>(idx)];
  // (Not while GetBitmap is obtaining the image: it checks it out itself.)
  const bool reCheckOut = idx == FSelected && FObtaining != idx;
  FreeImage(idx);
  bmp = Normalised(std::move(bmp));
  if (FStoreType == vxtThumb && !bmp.Empty()) {
    int w, h;
    // The thumbnail keeps the aspect ratio; sizes are truncated.
    double scale =
        std::min(static_cast<double>(FThumbHeight) / bmp.Height(), static_cast<double>(FThumbWidth) / bmp.Width());
    w = imax(1, static_cast<int>(bmp.Width() * scale));
    h = imax(1, static_cast<int>(bmp.Height() * scale));
    if (w != bmp.Width() || h != bmp.Height()) {
      TBitmap small;
      _VXBmpStretch(bmp, small, w, h);
      bmp = std::move(small);
    }
  }
  im.Packed = std::make_unique<TBitmap>(std::move(bmp));
  // The selected image is always checked out: hand the components its new object.
  if (reCheckOut) {
    GetBitmap(idx);
    CallBitmapChangeEvents();
  }
}

void TVXImageGrid::SetImageNU(int idx, const TBitmap& bmp) {
  if (!Valid(idx)) return;
  Store(idx, TBitmap(bmp));
}

void TVXImageGrid::SetImage(int idx, const TBitmap& bmp) {
  SetImageNU(idx, bmp);
  Update();
}

void TVXImageGrid::SetImageRect(int idx, const TBitmap& bmp, const TRect& r) {
  if (!Valid(idx)) return;
  const int x1 = ilimit(r.Left, 0, bmp.Width()), y1 = ilimit(r.Top, 0, bmp.Height());
  const int x2 = ilimit(r.Right, x1, bmp.Width()), y2 = ilimit(r.Bottom, y1, bmp.Height());
  TBitmap part(x2 - x1, y2 - y1, bmp.PixelFormat() == pf1bit ? pf1bit : pf24bit);
  if (!part.Empty()) VXDrawBitmap(part, -x1, -y1, bmp);
  TVXStoreType saved = FStoreType;
  FStoreType = vxtNormal;
  Store(idx, std::move(part));
  FStoreType = saved;
  Update();
}

void TVXImageGrid::UpdateImage(int idx) {
  if (Valid(idx)) Update();
}

TBitmap* TVXImageGrid::GetBitmap(int idx) {
  if (!Valid(idx)) return nullptr;
  Image& im = FImages[static_cast<size_t>(idx)];
  if (im.CheckOut > 0 && im.Bitmap) {
    ++im.CheckOut;
    return im.Bitmap.get();
  }
  if (!im.Packed) {
    FObtaining = idx;
    ObtainImage(idx);
    FObtaining = -1;
  }
  Image& again = FImages[static_cast<size_t>(idx)];
  if (!again.Packed) {
    again.CheckOut = 0;
    return nullptr;
  }
  again.CheckOut = 1;
  again.Bitmap = std::move(again.Packed);
  return again.Bitmap.get();
}

void TVXImageGrid::ReleaseBitmap(int idx) {
  if (!Valid(idx)) return;
  Image& im = FImages[static_cast<size_t>(idx)];
  if (im.CheckOut == 0) return;
  if (--im.CheckOut == 0 && im.Bitmap)
    im.Packed = std::make_unique<TBitmap>(Normalised(std::move(*im.Bitmap))), im.Bitmap.reset();
}

void TVXImageGrid::FreeImage(int idx) {
  if (!Valid(idx)) return;
  Image& im = FImages[static_cast<size_t>(idx)];
  im.Packed.reset();
  im.Bitmap.reset();
  im.CheckOut = 0;
}

bool TVXImageGrid::ObtainImage(int idx) {
  if (!Valid(idx)) return false;
  Image& im = FImages[static_cast<size_t>(idx)];
  if (im.ID >= 0 && OnImageIDRequest) {
    TBitmap* got = nullptr;
    OnImageIDRequest(this, im.ID, got);
    Store(idx, got ? TBitmap(*got) : TBitmap());
    return true;
  }
  if (im.FileName.empty()) return false;
  TVexaIO& io = *FIO;
  io.SetBackground(im.Background);
  io.OnProgress = OnIOProgress;
  if (FStoreType == vxtThumb) {
    io.Params.JPEG_Scale = ioJPEG_AUTOCALC;
    io.Params.Width = FThumbWidth;
    io.Params.Height = FThumbHeight;
  } else {
    io.Params.JPEG_Scale = ioJPEG_FULLSIZE;
  }
  FIOBitmap.Allocate(1, 1, pf24bit);
  const std::string name = im.FileName;
  try {
    io.LoadFromFile(name);
  } catch (const EVXError&) {
    // A file that went away or cannot be read is a failed load like a corrupt one.
    io.Aborting = true;
  }
  if (io.Aborting) return false;
  Image& after = FImages[static_cast<size_t>(idx)];
  after.Background = io.Background();
  Store(idx, std::move(FIOBitmap));
  FIOBitmap = TBitmap();
  return true;
}

// ---------------------------------------------------------------------------
// Per-image accessors

std::string TVXImageGrid::GetImageFileName(int idx) const {
  return Valid(idx) ? FImages[static_cast<size_t>(idx)].FileName : std::string();
}

void TVXImageGrid::SetImageFileName(int idx, const std::string& name) {
  if (!Valid(idx)) return;
  FImages[static_cast<size_t>(idx)].FileName = name;
  FImages[static_cast<size_t>(idx)].ID = -1;
}

int TVXImageGrid::GetImageID(int idx) const { return Valid(idx) ? FImages[static_cast<size_t>(idx)].ID : -1; }

void TVXImageGrid::SetImageID(int idx, int id) {
  if (!Valid(idx)) return;
  FImages[static_cast<size_t>(idx)].ID = id;
  FImages[static_cast<size_t>(idx)].FileName.clear();
}

TColor TVXImageGrid::GetImageBackground(int idx) const {
  return Valid(idx) ? FImages[static_cast<size_t>(idx)].Background : 0;
}

void TVXImageGrid::SetImageBackground(int idx, TColor c) {
  if (!Valid(idx)) return;
  FImages[static_cast<size_t>(idx)].Background = c;
  Update();
}

int TVXImageGrid::GetImageDelayTime(int idx) const { return Valid(idx) ? FImages[static_cast<size_t>(idx)].Delay : 0; }

void TVXImageGrid::SetImageDelayTime(int idx, int ms) {
  if (Valid(idx)) FImages[static_cast<size_t>(idx)].Delay = ms;
}

int TVXImageGrid::GetImageWidth(int idx) const {
  const TBitmap* b = PeekImage(idx);
  return b ? b->Width() : 0;
}

int TVXImageGrid::GetImageHeight(int idx) const {
  const TBitmap* b = PeekImage(idx);
  return b ? b->Height() : 0;
}

int TVXImageGrid::GetImageX(int idx) const { return Valid(idx) ? FImages[static_cast<size_t>(idx)].X : 0; }
int TVXImageGrid::GetImageY(int idx) const { return Valid(idx) ? FImages[static_cast<size_t>(idx)].Y : 0; }
int TVXImageGrid::GetImageRow(int idx) const { return Valid(idx) ? FImages[static_cast<size_t>(idx)].Row : 0; }
int TVXImageGrid::GetImageCol(int idx) const { return Valid(idx) ? FImages[static_cast<size_t>(idx)].Col : 0; }

const TBitmap* TVXImageGrid::PeekImage(int idx) const {
  return Valid(idx) ? FImages[static_cast<size_t>(idx)].Pixels() : nullptr;
}

std::vector<uint8_t> TVXImageGrid::GetBitmapInfo(int idx) const {
  const TBitmap* b = PeekImage(idx);
  if (!b || b->Empty()) return {};
  return _CopyBitmaptoDIB(*b, 0, 0, 0, 0);
}

int TVXImageGrid::LoadedImageCount() const {
  return static_cast<int>(
      std::count_if(FImages.begin(), FImages.end(), [](const Image& im) { return im.HasPixels(); }));
}

// ---------------------------------------------------------------------------
// Selection and navigation

void TVXImageGrid::SetSelectedItemNU(int idx) {
  if (!Valid(idx) || FPlaying) return;
  if (idx != FSelected) {
    DeselectNU();
    FSelected = idx;
    GetBitmap(idx);
  }
  if (OnImageSelect) OnImageSelect(this, idx);
}

void TVXImageGrid::SetSelectedItem(int idx) {
  if (!Valid(idx) || FPlaying) return;
  SetSelectedItemNU(idx);
  Update();
}

void TVXImageGrid::DeselectNU() {
  if (Valid(FSelected)) ReleaseBitmap(FSelected);
  FSelected = -1;
}

void TVXImageGrid::Deselect() {
  DeselectNU();
  Update();
}

void TVXImageGrid::SelectSeek(TVXSeek direction) {
  const int count = GetImageCount();
  if (FPlaying || count == 0) return;
  const int cols = Columns();
  // A single unlimited row pages by what fits across the client area.
  const int across = cols > 0 ? cols : imax(1, (FClientW - FHorizBorder) / (FHorizBorder + FThumbWidth));
  const int rowsPerPage = imax(1, (FClientH - FVertBorder) / (FVertBorder + FThumbHeight));
  const int cur = FSelected < 0 ? 0 : FSelected;
  int next = cur;
  switch (direction) {
    case iskLeft:
      next = cur - 1;
      break;
    case iskRight:
      next = cur + 1;
      break;
    case iskUp:
      next = cols == 0 ? cur - 1 : cur - cols;
      break;
    case iskDown:
      next = cols == 0 ? cur + 1 : cur + cols;
      break;
    case iskPagDown:
      next = cur + across * rowsPerPage;
      break;
    case iskPagUp:
      next = cur - across * rowsPerPage;
      break;
    case iskFirst:
      next = 0;
      break;
    case iskLast:
      next = count - 1;
      break;
  }
  next = ilimit(next, 0, count - 1);
  SetSelectedItemNU(next);
  if (direction == iskFirst) {
    FViewX = FViewY = 0;
  } else {
    ScrollIntoView(next, next > cur || direction == iskLast);
  }
  ClampView();
  Update();
}

void TVXImageGrid::ScrollIntoView(int idx, bool forward) {
  UpdateCoords();
  const Image& im = FImages[static_cast<size_t>(idx)];
  const bool fitsY = im.Y >= FViewY && im.Y + FThumbHeight <= FViewY + FClientH;
  const bool fitsX = im.X >= FViewX && im.X + FThumbWidth <= FViewX + FClientW;
  if (forward) {
    if (!fitsY) FViewY = im.Y + FThumbHeight + FVertBorder - FClientH;
    if (!fitsX) FViewX = im.X + FThumbWidth + FHorizBorder - FClientW;
  } else {
    if (!fitsY) FViewY = im.Y - FVertBorder;
    if (!fitsX) FViewX = im.X - FHorizBorder;
  }
}

TVXGridOp TVXImageGrid::GetLastOp() {
  TVXGridOp op = FLastOp;
  FLastOp = vxgoNone;
  return op;
}

void TVXImageGrid::UnLockPaint() {
  if (FPaintLock == 0) return;
  if (--FPaintLock == 0) Update();
}

// ---------------------------------------------------------------------------
// Playback

void TVXImageGrid::SetVisibleFrame(int idx) {
  FVisibleFrame = ilimit(idx, 0, imax(0, GetImageCount() - 1));
  Invalidate();
}

void TVXImageGrid::SetPlaying(bool on) {
  if (on == FPlaying) return;
  if (on) {
    if (FImages.empty()) return;
    FSavedDisplayMode = FDisplayMode;
    FSavedSelected = FSelected;
    DeselectNU();
    FPlaying = true;
    PlayFrame();
    return;
  }
  StopPlayTimer();
  FPlayInterval = 0;
  FPlaying = false;
  FDisplayMode = FSavedDisplayMode;
  if (Valid(FSavedSelected)) SetSelectedItemNU(FSavedSelected);
  Update();
}

void TVXImageGrid::PlayFrame() {
  if (!FPlaying || FStepping) return;
  FStepping = true;
  StopPlayTimer();
  FPlayInterval = 0;
  FDisplayMode = mdSingle;
  UpdateCoords();
  FVisibleFrame = ilimit(FVisibleFrame, 0, imax(0, GetImageCount() - 1));
  const int shown = FVisibleFrame;
  PaintNow();
  FStepping = false;
  if (++FVisibleFrame >= GetImageCount()) {
    FVisibleFrame = 0;
    CallBitmapChangeEvents();
    if (!Loop) {
      SetPlaying(false);
      return;
    }
  }
  FPlayInterval = imax(GetImageDelayTime(shown), 10);
  StartPlayTimer(FPlayInterval);
}

// ---------------------------------------------------------------------------
// Painting

TColor TVXImageGrid::CellColor(const Image& im) const { return FDrawImageBackground ? im.Background : Background(); }

void TVXImageGrid::PaintTo(TVXGridPainter& painter) {
  bool restart = true;
  bool reported = false;
  while (restart) {
    restart = false;
    const int count = GetImageCount();
    const bool single = FDisplayMode == mdSingle && count > 0;
    const int n = single ? 1 : count;
    const int first = (FPlaying || FDisplayMode == mdSingle) ? ilimit(FVisibleFrame, 0, imax(0, count - 1)) : 0;
    for (int k = 0; k < n && !restart; ++k) {
      const int idx = (first + k) % count;
      if (OnDrawProgress && n > 1) {
        OnDrawProgress(this, static_cast<int>(static_cast<double>(k) / n * 100), idx);
        reported = true;
      }
      Image* im = &FImages[static_cast<size_t>(idx)];
      const TRect cell{im->X - FViewX, im->Y - FViewY, im->X - FViewX + FThumbWidth, im->Y - FViewY + FThumbHeight};
      const bool visible = cell.Right > 0 && cell.Bottom > 0 && cell.Left < FClientW && cell.Top < FClientH;
      if (!visible) {
        if (idx != FSelected && im->Packed && im->CheckOut == 0 && (im->ID >= 0 || !im->FileName.empty()))
          im->Packed.reset();
        continue;
      }
      if (!im->Packed && im->CheckOut == 0) {
        // The selected image is kept checked out; the components learn its new object.
        const bool got = idx == FSelected ? GetBitmap(idx) != nullptr : ObtainImage(idx);
        if (got && idx == FSelected) CallBitmapChangeEvents();
        if (!got && RemoveCorrupted) {
          DeleteImageNU(idx);
          UpdateCoords();
          ClampView();
          restart = true;
          break;
        }
        im = &FImages[static_cast<size_t>(idx)];
      }
      const TColor fill = CellColor(*im);
      const TBitmap* pix = im->Pixels();
      if (pix && !pix->Empty()) {
        const int drawH = FThumbHeight - FBottomGap - FUpperGap;
        int w, h;
        VXFitSize(pix->Width(), pix->Height(), FThumbWidth, drawH, w, h);
        const int l = cell.Left + (FThumbWidth - w) / 2;
        const int t = cell.Top + FUpperGap + (drawH - h) / 2;
        if (w > 0 && h > 0) painter.StretchDraw(TRect{l, t, l + w, t + h}, *pix);
        painter.FillRect(TRect{cell.Left, cell.Top, cell.Right, t}, fill);
        painter.FillRect(TRect{cell.Left, t + h, cell.Right, cell.Bottom}, fill);
        painter.FillRect(TRect{cell.Left, t, l, t + h}, fill);
        painter.FillRect(TRect{l + w, t, cell.Right, t + h}, fill);
      } else {
        painter.FillRect(cell, fill);
      }
      painter.CellDrawn(idx, cell.Left, cell.Top);
      if (idx == FSelected && FVisibleSelection) {
        const int frames = HasFocus() ? FSelectionWidth : imin(1, FSelectionWidth);
        for (int f = 1; f <= frames; ++f)
          painter.FrameRect(TRect{cell.Left - f, cell.Top - f, cell.Right + f, cell.Bottom + f}, FSelectionColor);
        painter.ExcludeRect(TRect{cell.Left - frames, cell.Top - frames, cell.Right + frames, cell.Bottom + frames});
      } else {
        painter.ExcludeRect(cell);
      }
    }
  }
  painter.FillUncovered(Background());
  if (reported) OnDrawProgress(this, 100, 0);
}

}  // namespace vexa
