#include "vexa/view/vexaview_ui.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "vexa/core/raster.h"
#include "vexa/proc/bitmaputil.h"
#include "vexa/proc/magicwand.h"
#include "vexa/quant/neuquant.h"
#include "vexa/view/modetools_ui.h"
#include "vexa/view/qtbitmap_ui.h"
#include "vexa/view/uiinit.h"

namespace vexa {

namespace {
TShiftState ShiftOf(Qt::KeyboardModifiers m, Qt::MouseButtons b) {
  TShiftState s = 0;
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  if (b & Qt::LeftButton) s |= ssLeft;
  if (b & Qt::RightButton) s |= ssRight;
  if (b & Qt::MiddleButton) s |= ssMiddle;
  return s;
}

TMouseButton ButtonOf(Qt::MouseButton b) {
  return b == Qt::RightButton ? mbRight : (b == Qt::MiddleButton ? mbMiddle : mbLeft);
}

TColor Complement(TColor c) { return ColorToRGB(c) ^ 0xFFFFFF; }

// Copy of the visible source rectangle resampled to w x h; false when too small to filter.
bool FilteredCopy(const TBitmap& bmp, const TVXSourceRect& src, int w, int h, TResampleFilter filter, bool quick,
                  TBitmap& out) {
  // _CopyBitmapRect reads a right or bottom edge of 0 as "to the last column/row".
  if (src.W < 2 || src.H < 2 || w < 1 || h < 1) return false;
  TBitmap part;
  _CopyBitmapRect(bmp, part, src.X, src.Y, src.X + src.W - 1, src.Y + src.H - 1);
  if (part.PixelFormat() != pf24bit) part.SetPixelFormat(pf24bit);
  out.Allocate(w, h, pf24bit);
  if (quick)
    _QuickResample(part, out, filter, {}, nullptr);
  else
    _Resample(part, out, filter, {}, nullptr);
  return true;
}
}  // namespace

TVexaView::TVexaView(QWidget* parent, TComponent* owner)
    : QWidget(parent), TVXView(owner), FModes(std::make_unique<TVXModeTools>()) {
  VXInitUI();
  SetDPI(gSystemDPIX, gSystemDPIY);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  resize(105, 105);
  FBitmap.Allocate(105, 105, pf24bit);
  FGeom.BmpW = FGeom.BmpH = 105;
  FHBar = new QScrollBar(Qt::Horizontal, this);
  FVBar = new QScrollBar(Qt::Vertical, this);
  FHBar->hide();
  FVBar->hide();
  setFocusPolicy(Qt::WheelFocus);
  FHBar->setFocusPolicy(Qt::NoFocus);
  FVBar->setFocusPolicy(Qt::NoFocus);
  connect(FHBar, &QScrollBar::valueChanged, this, [this](int v) {
    if (!FSyncingBars) SetViewX(v);
  });
  connect(FVBar, &QScrollBar::valueChanged, this, [this](int v) {
    if (!FSyncingBars) SetViewY(v);
  });
  FTimer.setInterval(150);
  connect(&FTimer, &QTimer::timeout, this, [this] { AniPolyFunc(true); });
  FSel = AnimPolygonNew(clBlack, clWhite, true, true);
  FSel->Visible = false;
  SetCursor(crCross2);
}

TVexaView::~TVexaView() {
  SetState(csDestroying, true);
  FTimer.stop();
}

// ---------------------------------------------------------------- properties

void TVexaView::SetBackGround(TColor c) {
  TVXView::SetBackGround(c);
  if (HasState(csDesigning)) Clear();
  Update();
  ImageChange();
}

void TVexaView::ImageChange() {
  TVXView::ImageChange();
  if (OnImageChange) OnImageChange(this);
}

void TVexaView::ViewChange(int change) {
  if (OnViewChange) OnViewChange(this, change);
}

void TVexaView::SetZoomFilter(TResampleFilter f) {
  FZoomFilter = f;
  Update();
}

void TVexaView::SetScrollBars(TScrollStyle s) {
  FScrollBars = s;
  if (s != ssVertical && s != ssBoth) {
    FVBar->hide();
    FVBarShown = false;
  }
  if (s != ssHorizontal && s != ssBoth) {
    FHBar->hide();
    FHBarShown = false;
  }
  Update();
}

void TVexaView::SetBorderStyle(TBorderStyle s) {
  if (s == FBorderStyle) return;
  FBorderStyle = s;
  Update();
}

QPoint TVexaView::ClientPos(const QMouseEvent* e) const {
  return {static_cast<int>(e->position().x()) - Border(), static_cast<int>(e->position().y()) - Border()};
}

void TVexaView::SetCenter(bool on) {
  if (on == FGeom.Center) return;
  FGeom.Center = on;
  Update();
}

void TVexaView::SetBackgroundStyle(TVXBackgroundStyle s) {
  FBackgroundStyle = s;
  Update();
}

void TVexaView::SetMouseInteract(TVXMouseInteract s) {
  if (s == FMouseInteract) return;
  FMouseInteract = VXRestrictMouseInteract(FMouseInteract, s);
  // Tools of modes switched off end what they had under way: a polygon being
  // drawn loses the vertex that followed the pointer.
  std::vector<TVXViewTool*> next = FModes->Use(FMouseInteract);
  const auto holds = [](const std::vector<TVXViewTool*>& list, TVXViewTool* t) {
    return std::find(list.begin(), list.end(), t) != list.end();
  };
  for (TVXViewTool* t : FModeTools)
    if (!holds(next, t)) t->Deactivate(FToolContext);
  std::swap(FModeTools, next);
  ++FToolGeneration;
  for (TVXViewTool* t : FModeTools)
    if (!holds(next, t)) t->Activate(FToolContext);
}

void TVexaView::SetSelectionOptions(TVXSelectionOptions o) {
  FSelectionOptions = o;
  FSel->Animated = (o & (1u << vxsoAnimated)) != 0;
  FSel->Sizeable = (o & (1u << vxsoSizeable)) != 0;
}

void TVexaView::SetCursor(int id) {
  FCursor = id;
  QWidget::setCursor(VXCursor(id));
}

void TVexaView::SaveCursor(int id) {
  if (FCursorSaved) QGuiApplication::restoreOverrideCursor();
  QGuiApplication::setOverrideCursor(VXCursor(id));
  FCursorSaved = true;
}

void TVexaView::RestoreCursor() {
  if (!FCursorSaved) return;
  QGuiApplication::restoreOverrideCursor();
  FCursorSaved = false;
}

// ---------------------------------------------------------------- layout

void TVexaView::ReadClientSize() {
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const int b = 2 * Border();
  FGeom.OuterW = width();
  FGeom.OuterH = height();
  FGeom.ClientW = imax(0, width() - b - (FVBarShown ? extent : 0));
  FGeom.ClientH = imax(0, height() - b - (FHBarShown ? extent : 0));
}

void TVexaView::SyncScrollBars() {
  int mx, my;
  FGeom.GetMaxViewXY(mx, my);
  const bool wantH = (FScrollBars == ssHorizontal || FScrollBars == ssBoth) && mx >= 1;
  const bool wantV = (FScrollBars == ssVertical || FScrollBars == ssBoth) && my >= 1;
  FSyncingBars = true;
  FHBarShown = wantH;
  FVBarShown = wantV;
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  if (wantH) {
    FHBar->setRange(0, mx);
    FHBar->setPageStep(imax(1, FGeom.ClientW));
    FHBar->setSingleStep(1);
    FHBar->setValue(FGeom.ViewX);
    FHBar->setGeometry(Border(), height() - Border() - extent, width() - 2 * Border() - (wantV ? extent : 0), extent);
    FHBar->show();
  } else {
    FHBar->hide();
  }
  if (wantV) {
    FVBar->setRange(0, my);
    FVBar->setPageStep(imax(1, FGeom.ClientH));
    FVBar->setSingleStep(1);
    FVBar->setValue(FGeom.ViewY);
    FVBar->setGeometry(width() - Border() - extent, Border(), extent, height() - 2 * Border() - (wantH ? extent : 0));
    FVBar->show();
  } else {
    FVBar->hide();
  }
  FSyncingBars = false;
}

void TVexaView::Update() {
  if (HasState(csLoading) || HasState(csDestroying)) return;
  UpdateLayout(0);
}

void TVexaView::UpdateLayout(int depth) {
  FGeom.BmpW = FBitmap.Width();
  FGeom.BmpH = FBitmap.Height();
  if (AutoFit && !FBitmap.Empty()) {
    const int z = VXFitZoom(width(), height(), FBitmap.Width(), FBitmap.Height());
    // Zoom stays positive: an image too large to fit keeps its zoom.
    if (z > 0) FGeom.Zoom = z;
    ViewChange(1);
  }
  if (FBitmap.Width() != FLastBmpW || FBitmap.Height() != FLastBmpH) {
    FLastBmpW = FBitmap.Width();
    FLastBmpH = FBitmap.Height();
    if (FSelExists) DeSelect();
  }
  if (!HasState(csDesigning)) {
    ReadClientSize();
    const int oldW = FGeom.ClientW, oldH = FGeom.ClientH;
    if (FGeom.ClampView()) ViewChange(0);
    SyncScrollBars();
    ReadClientSize();
    // Showing a bar shrinks the client area, which can call for the other bar;
    // a few rounds settle it.
    if ((FGeom.ClientW != oldW || FGeom.ClientH != oldH) && depth < 3) {
      UpdateLayout(depth + 1);
      return;
    }
    if (FSelExists) FSel->Visible = true;
  }
  FGeom.Layout();
  if (HasState(csDesigning)) {
    FGeom.DrawW = imin(FGeom.ZW, width());
    FGeom.DrawH = imin(FGeom.ZH, height());
  }
  FFrameStale = true;
  update();
}

void TVexaView::resizeEvent(QResizeEvent*) {
  FFrameStale = true;
  // While designed or loaded, the bitmap follows the control so it shows its background.
  if ((HasState(csDesigning) || HasState(csLoading)) && width() > 0 && height() > 0) {
    FBitmap.Allocate(width(), height(), FBitmap.PixelFormat() == pf1bit ? pf1bit : pf24bit);
    Clear();
  }
  Update();
}

std::vector<TRGB> TVexaView::_CreatePalette() const {
  std::vector<TRGB> palette;
  if (FBitmap.Empty()) return palette;
  TNeuQuant* q = CreateNeuQuant(FBitmap, palette, 256, NeuQuantSampleFactor(FBitmap.Width(), FBitmap.Height(), -1));
  FreeNeuQuant(q);
  return palette;
}

int TVexaView::GetIdealComponentWidth() const {
  int w = static_cast<int>(std::trunc(FBitmap.Width() / 100.0 * FGeom.Zoom)) + 1;
  if (FScrollBars == ssHorizontal || FScrollBars == ssBoth) w += width() - FGeom.ClientW;
  return w;
}

int TVexaView::GetIdealComponentHeight() const {
  int h = static_cast<int>(std::trunc(FBitmap.Height() / 100.0 * FGeom.Zoom)) + 1;
  if (FScrollBars == ssVertical || FScrollBars == ssBoth) h += height() - FGeom.ClientH;
  return h;
}

// ---------------------------------------------------------------- zoom and scroll

void TVexaView::SetZoom(int z) {
  if (z <= 0 || z == FGeom.Zoom) return;
  if (DelayZoomFilter) FFilterCountdown = 2;
  LockPaint();
  FGeom.Zoom = z;
  Update();
  NPUnLockPaint();
  Paint();
  ViewChange(1);
}

void TVexaView::Fit() {
  const int z = VXFitZoom(width(), height(), FBitmap.Width(), FBitmap.Height());
  if (z > 0) SetZoom(z);
}

void TVexaView::ZoomAt(int x, int y, int z) {
  LockPaint();
  const int bx = XScr2Bmp(x), by = YScr2Bmp(y);
  SetZoom(z);
  SetViewXY(static_cast<int>(std::trunc(bx * static_cast<double>(z) / 100 - FGeom.ClientW / 2)),
            static_cast<int>(std::trunc(by * static_cast<double>(z) / 100 - FGeom.ClientH / 2)));
  UnLockPaint();
}

void TVexaView::ZoomAround(int x, int y, int z) {
  if (z <= 0 || z == FGeom.Zoom) return;
  const TPoint view = FGeom.ViewAround(x, y, z);
  LockPaint();
  SetZoom(z);
  SetViewXY(view.X, view.Y);
  UnLockPaint();
}

bool TVexaView::ScrollBy(int dx, int dy) {
  int maxX, maxY;
  FGeom.GetMaxViewXY(maxX, maxY);
  if ((dx != 0 && maxX == 0) || (dy != 0 && maxY == 0)) return false;
  SetViewXY(FGeom.ViewX + dx, FGeom.ViewY + dy);
  return true;
}

void TVexaView::ZoomSelection() {
  if (!FSelExists) return;
  const int x1 = FSel->X1, y1 = FSel->Y1;
  const int w = FSel->X2 - x1 + 1, h = FSel->Y2 - y1 + 1;
  LockPaint();
  DeSelect();
  const double zh = std::trunc(height() / (h / 100.0)), zw = std::trunc(width() / (w / 100.0));
  SetZoom(static_cast<int>(std::min(zh, zw)));
  const double f = FGeom.Zoom / 100.0;
  SetViewXY(static_cast<int>(std::trunc(x1 * f)) - (FGeom.ClientW - static_cast<int>(std::trunc(w * f))) / 2,
            static_cast<int>(std::trunc(y1 * f)) - (FGeom.ClientH - static_cast<int>(std::trunc(h * f))) / 2);
  UnLockPaint();
}

void TVexaView::SetViewXY(int x, int y) {
  if (x == FGeom.ViewX && y == FGeom.ViewY) return;
  if (DelayZoomFilter) FFilterCountdown = 2;
  FGeom.ViewX = x;
  FGeom.ViewY = y;
  FGeom.ClampView();
  FFrameStale = true;
  Paint();
  ViewChange(0);
  FSyncingBars = true;
  if (FHBarShown) FHBar->setValue(FGeom.ViewX);
  if (FVBarShown) FVBar->setValue(FGeom.ViewY);
  FSyncingBars = false;
}

// ---------------------------------------------------------------- painting

void TVexaView::UnLockPaint() {
  FPaintLock = imax(0, FPaintLock - 1);
  if (FPaintLock == 0) Update();
}

void TVexaView::Paint() {
  if (FPaintLock > 0) return;
  if (isVisible()) repaint();
}

void TVexaView::DrawBackground(TCanvas& c) {
  const int w = FGeom.ClientW, h = FGeom.ClientH;
  const TColor bg = ColorToRGB(Background());
  if (FBackgroundStyle <= vxbsDiagCross) {
    static const TBrushStyle styles[] = {bsSolid, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross};
    c.Brush = {bg, styles[FBackgroundStyle]};
    c.FillRect({0, 0, w, h});
    return;
  }
  if (FBackgroundStyle == vxbsChessboard) {
    const TColor colors[2] = {Complement(bg), bg};
    for (int y = 0, row = 0; y < h; y += 16, ++row)
      for (int x = 0, col = 0; x < w; x += 16, ++col) {
        c.Brush = {colors[(row + col) & 1], bsSolid};
        c.FillRect({x, y, imin(x + 16, w), imin(y + 16, h)});
      }
    return;
  }
  c.Brush = {bg, bsSolid};
  c.FillRect({0, 0, w, h});
  c.Pen = {Complement(bg), 1, psSolid, pmCopy};
  c.MoveTo(0, 0);
  c.LineTo(w, h);
  c.MoveTo(w, 0);
  c.LineTo(0, h);
}

void TVexaView::PaintTo(TCanvas& c) {
  if (HasState(csDesigning)) {
    DrawBackground(c);
    return;
  }
  const TVXViewGeometry& g = FGeom;
  QPainter& p = c.Painter();
  if (((g.DrawW < g.ClientW || g.DrawH < g.ClientH) && !g.Center) || FBitmap.Height() == 0) {
    p.save();
    c.ExcludeClipRect({0, 0, g.DrawW, g.DrawH});
    DrawBackground(c);
    p.restore();
  }
  if (FBitmap.Height() < 1) return;
  const TVXSourceRect src = g.PaintSource();
  if (g.Center) {
    p.save();
    c.ExcludeClipRect({g.OffX, g.OffY, g.OffX + g.DrawW, g.OffY + g.DrawH});
    DrawBackground(c);
    p.restore();
  }
  if (FZoomFilter != rfNone && FFilterCountdown < 1 && g.Zoom > 100) {
    TBitmap out;
    if (FilteredCopy(FBitmap, src, g.DrawW, g.DrawH, FZoomFilter, true, out)) {
      c.Draw(g.OffX, g.OffY, out);
      return;
    }
  }
  c.StretchDraw({g.OffX, g.OffY, g.OffX + g.DrawW, g.OffY + g.DrawH}, FBitmap, src);
}

void TVexaView::DrawTo(TCanvas& c) {
  if (FBitmap.Height() < 1) return;
  const TVXSourceRect src = FGeom.DrawSource();
  if (FZoomFilter != rfNone && FGeom.Zoom != 100) {
    TBitmap out;
    // The full resampler here: copies for printing are filtered when reduced too.
    if (FilteredCopy(FBitmap, src, FGeom.DrawW, FGeom.DrawH, FZoomFilter, false, out)) {
      c.Draw(0, 0, out);
      return;
    }
  }
  c.StretchDraw({0, 0, FGeom.DrawW, FGeom.DrawH}, FBitmap, src);
}

void TVexaView::paintEvent(QPaintEvent*) {
  const QSize client(FGeom.ClientW, FGeom.ClientH);
  if (FPaintLock == 0 || FFrame.isNull()) {
    if (FFrame.size() != client) {
      FFrame = QImage(client, QImage::Format_RGB32);
      FFrameStale = true;
    }
    if (FFrameStale && !FFrame.isNull()) {
      TCanvas c(&FFrame);
      PaintTo(c);
      FFrameStale = false;
    }
  }
  QPainter p(this);
  if (Border() > 0) {
    // Sunken edge: dark outside line top-left, light bottom-right, then the inner pair.
    const QPalette& pal = palette();
    const int w = width() - 1, h = height() - 1;
    p.setPen(pal.color(QPalette::Mid));
    p.drawLine(0, 0, w - 1, 0);
    p.drawLine(0, 0, 0, h - 1);
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(w, 0, w, h);
    p.drawLine(0, h, w, h);
    p.setPen(pal.color(QPalette::Shadow));
    p.drawLine(1, 1, w - 2, 1);
    p.drawLine(1, 1, 1, h - 2);
    p.setPen(pal.color(QPalette::Midlight));
    p.drawLine(w - 1, 1, w - 1, h - 1);
    p.drawLine(1, h - 1, w - 1, h - 1);
    if (FHBarShown && FVBarShown) p.fillRect(FVBar->x(), FHBar->y(), FVBar->width(), FHBar->height(), pal.color(QPalette::Window));
    p.translate(Border(), Border());
    p.setClipRect(0, 0, FGeom.ClientW, FGeom.ClientH);
  } else if (FHBarShown && FVBarShown) {
    p.fillRect(FVBar->x(), FHBar->y(), FVBar->width(), FHBar->height(), palette().color(QPalette::Window));
  }
  p.drawImage(0, 0, FFrame);
  if (FPaintLock > 0) return;
  DrawOutlines(p);
  DrawOverlays(p);
}

QImage TVexaView::RenderClient() {
  QImage img(FGeom.ClientW, FGeom.ClientH, QImage::Format_RGB32);
  if (img.isNull()) return img;
  QPainter p(&img);
  TCanvas c(p);
  PaintTo(c);
  DrawOutlines(p);
  DrawOverlays(p);
  return img;
}

void TVexaView::DrawOutlines(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  for (auto& ap : FAnimPolys) {
    if (!ap->Visible || ap->Count == 0) continue;
    QPolygon dash1, dash2;
    ap->DrawPhase = ap->Phase;
    const bool closeLast = !(ap.get() == FSel && PolygonDrawing());
    VXWalkOutline(ap->Data(), ap->Count, closeLast, FGeom, ap->DrawPhase,
                  [&](int x, int y, int colour) { (colour == 1 ? dash1 : dash2) << QPoint(x, y); });
    p.setPen(QColor::fromRgb(VXQRgb(ap->Color1)));
    p.drawPoints(dash1);
    p.setPen(QColor::fromRgb(VXQRgb(ap->Color2)));
    p.drawPoints(dash2);
    if (ap->Sizeable && _IsRectangle(ap->Data(), ap->Count) && !FModes->RubberBand()) {
      TCanvas c(p);
      c.Pen = {ap->Color1, 1, psSolid, pmCopy};
      c.Brush = {ap->Color2, bsSolid};
      for (int i = 0; i < 4; ++i) {
        const TPoint& pt = ap->Points[static_cast<size_t>(i)];
        const int cx = XBmp2Scr(pt.X), cy = YBmp2Scr(pt.Y);
        c.Rectangle(cx - 3, cy - 3, cx + 3, cy + 3);
      }
    }
  }
}

void TVexaView::DrawOverlays(QPainter& p) {
  for (TVXViewTool* t : Tools()) t->PaintOverlay(FToolContext, p);
}

void TVexaView::AniPolyFunc(bool fromTimer) {
  bool any = false;
  for (auto& ap : FAnimPolys) {
    if (!ap->Visible) continue;
    if (ap->Animated && fromTimer && !AnyTool(&TVXViewTool::HoldsOutlines))
      ap->Phase = ap->Phase >= 5 ? 0 : ap->Phase + 1;
    any = any || ap->Count > 0;
  }
  if (any && FPaintLock == 0) update();
  if (!fromTimer) return;
  if (FFilterCountdown >= 1 && --FFilterCountdown == 0) Update();
  // Keep scrolling while a drag holds the pointer outside the image.
  if (FButtonHeld && AnyTool(&TVXViewTool::AutoScrolls)) {
    const QPoint pos = mapFromGlobal(QCursor::pos()) - QPoint(Border(), Border());
    if (pos.x() < FGeom.OffX || pos.y() < FGeom.OffY || pos.x() >= FGeom.OffX + FGeom.DrawW ||
        pos.y() >= FGeom.OffY + FGeom.DrawH)
      MouseMoveAt(pos.x(), pos.y(), QGuiApplication::mouseButtons(), QGuiApplication::keyboardModifiers());
  }
}

// ---------------------------------------------------------------- content

void TVexaView::Clear() {
  FBitmap.Fill(TColor2TRGB(ColorToRGB(Background())));
  Update();
}

void TVexaView::Blank() {
  FBitmap.Allocate(1, 1, FBitmap.PixelFormat() == pf1bit ? pf1bit : pf24bit);
  Clear();
}

void TVexaView::Assign(const TVexaView* source) {
  if (!source) {
    Clear();
    return;
  }
  if (source != this) {
    VXCopyBitmap(source->FBitmap, FBitmap);
    TVXView::SetBackGround(source->Background());
    SetDPI(source->DPIX(), source->DPIY());
  }
  Update();
  ImageChange();
}

void TVexaView::Assign(const TBitmap* source) {
  if (!source) {
    Clear();
    return;
  }
  if (source->PixelFormat() == pf24bit || source->PixelFormat() == pf1bit) {
    VXCopyBitmap(*source, FBitmap);
  } else {
    FBitmap.Allocate(1, 1, pf24bit);
    FBitmap.Allocate(source->Width(), source->Height(), pf24bit);
    VXDrawBitmap(FBitmap, 0, 0, *source);
  }
  Update();
  ImageChange();
}

void TVexaView::AssignSelTo(TVexaView& dest) {
  if (FSelExists)
    _CopyBitmapPoly(FBitmap, dest.FBitmap, FSel->X1, FSel->Y1, FSel->X2, FSel->Y2, FSel->Data(), FSel->Count);
  else
    VXCopyBitmap(FBitmap, dest.FBitmap);
  dest.TVXView::SetBackGround(Background());
  dest.SetDPI(DPIX(), DPIY());
  dest.Update();
  dest.ImageChange();
}

void TVexaView::AssignSelTo(TBitmap& dest) {
  if (FSelExists)
    _CopyBitmapPoly(FBitmap, dest, FSel->X1, FSel->Y1, FSel->X2, FSel->Y2, FSel->Data(), FSel->Count);
  else
    VXCopyBitmap(FBitmap, dest);
  dest.Changed();
}

void TVexaView::CopyFromPolygon(const TBitmap& bitmap, const TPoint* points, int count, TPoint point) {
  _CopyPolygonToPoint(bitmap, points, count, point, FBitmap);
  Update();
}

void TVexaView::CopyToPolygon(TBitmap& bitmap, const TPoint* points, int count, TPoint point) {
  _CopyPointToPolygon(FBitmap, points, count, point, bitmap);
}

// ---------------------------------------------------------------- selection

TPoint TVexaView::ToBitmapClamped(int x, int y) const {
  int bx = XScr2Bmp(x), by = YScr2Bmp(y);
  FGeom.ClampToBitmap(bx, by);
  return {bx, by};
}

void TVexaView::RebuildRect(const TVXBox& box) {
  TPoint pts[4];
  VXRectPoints(box, FBitmap.Width(), FBitmap.Height(), pts);
  FSel->Clear();
  for (const TPoint& p : pts) FSel->AddPtEx(p.X, p.Y);
  FSelExists = true;
  ShowSelectionEx(true);
}

void TVexaView::Select(int x1, int y1, int x2, int y2, TVXSelOp op) {
  if (x1 == x2 || y1 == y2) return;
  if (SelectionBase == vxsbClientArea) {
    x1 = XScr2Bmp(x1);
    y1 = YScr2Bmp(y1);
    x2 = XScr2Bmp(x2);
    y2 = YScr2Bmp(y2);
  }
  FSelExists = true;
  if (op == vxspAdd && FSel->Count > 0)
    FSel->AddBreak();
  else
    FSel->Clear();
  TPoint pts[4];
  VXRectPoints({x1, y1, x2, y2}, FBitmap.Width(), FBitmap.Height(), pts);
  for (const TPoint& p : pts) FSel->AddPtEx(p.X, p.Y);
  ShowSelectionEx(true);
}

void TVexaView::VXSelectBitmap(int x1, int y1, int x2, int y2, TVXSelOp op) {
  const TVXSelectionBase saved = SelectionBase;
  SelectionBase = vxsbBitmap;
  Select(x1, y1, x2, y2, op);
  SelectionBase = saved;
}

void TVexaView::SelectMagicWand(int x, int y, TVXSelOp op) {
  if (SelectionBase == vxsbClientArea) {
    x = XScr2Bmp(x);
    y = YScr2Bmp(y);
  }
  if (x < 0 || y < 0 || x >= FBitmap.Width() || y >= FBitmap.Height()) return;
  int count = 0;
  const std::vector<TPoint> pts = _MakeMagicWandPoints(FBitmap, x, y, MagicWandMaximum, MagicWandTolerance, count);
  if (count <= 0) return;
  FSelExists = true;
  if (op == vxspAdd && FSel->Count > 0)
    FSel->AddBreak();
  else
    FSel->Clear();
  for (int i = 0; i < count && i < static_cast<int>(pts.size()); ++i) {
    int px = pts[static_cast<size_t>(i)].X, py = pts[static_cast<size_t>(i)].Y;
    FGeom.ClampToBitmap(px, py);
    FSel->AddPtEx(px, py);
  }
  ShowSelectionEx(true);
}

void TVexaView::AddSelPoint(int x, int y) {
  if (SelectionBase == vxsbClientArea) {
    const TPoint p = ToBitmapClamped(x, y);
    x = p.X;
    y = p.Y;
  }
  AnimPolygonAddPt(FSel, x, y);
  FSelExists = true;
  ShowSelectionEx(true);
}

void TVexaView::AddSelBreak() { FSel->AddBreak(); }

void TVexaView::DeSelect() {
  if (FSelExists) {
    FSelExists = false;
    HideSelectionEx(true);
  }
  AnimPolygonClear(FSel);
  FSelExists = false;
  FModes->Cancel();
}

int TVexaView::GetResizingGrip(int x, int y) const {
  if (!FSel->Visible || !FSel->Sizeable || FModes->RubberBand()) return -1;
  return VXResizeGripAt(*FSel, FGeom, x, y);
}

int TVexaView::GetMovingGrip(int x, int y) {
  if (!FSel->Visible || FModes->RubberBand() || !VXInsideBox(*FSel, FGeom, x, y)) return -1;
  FGripBox = {FSel->X1, FSel->Y1, FSel->X2, FSel->Y2};
  return 0;
}

int TVexaView::SelectResizeEx(int grip, int x, int y) {
  if (!_IsRectangle(FSel->Data(), FSel->Count)) return grip;
  TVXBox box{FSel->X1, FSel->Y1, FSel->X2, FSel->Y2};
  grip = VXResizeBox(box, grip, XScr2Bmp(x), YScr2Bmp(y));
  RebuildRect(box);
  return grip;
}

int TVexaView::SelectMoveEx(int grip, int dx, int dy) {
  if (!_IsRectangle(FSel->Data(), FSel->Count)) return grip;
  const int d = VXRound(100.0L / FGeom.Zoom * dx), e = VXRound(100.0L / FGeom.Zoom * dy);
  RebuildRect({FGripBox.X1 + d, FGripBox.Y1 + e, FGripBox.X2 + d, FGripBox.Y2 + e});
  return grip;
}

void TVexaView::ShowSelectionEx(bool redraw) {
  FSel->Visible = true;
  if (redraw) AniPolyFunc(false);
}

void TVexaView::HideSelectionEx(bool repaint) {
  FSel->Visible = false;
  if (repaint && FPaintLock == 0) {
    update();
    Paint();
  }
}

TPoint TVexaView::PolySel(int i) const {
  if (i < 0 || i >= FSel->Count) return {0, 0};
  return FSel->Points[static_cast<size_t>(i)];
}

void TVexaView::VXGetSelBounds(int& x1, int& y1, int& x2, int& y2) const {
  x1 = FSel->X1;
  y1 = FSel->Y1;
  x2 = FSel->X2;
  y2 = FSel->Y2;
}

const TPoint* TVexaView::VXGetPolySel(int& count) const {
  count = FSel->Count;
  return FSel->Data();
}

// ---------------------------------------------------------------- anim polygons

TVXAnimPolygon* TVexaView::AnimPolygonNew(TColor color1, TColor color2, bool sizeable, bool animated) {
  auto p = std::make_unique<TVXAnimPolygon>();
  p->Color1 = color1;
  p->Color2 = color2;
  p->Sizeable = sizeable;
  p->Animated = animated;
  p->Visible = true;
  FAnimPolys.push_back(std::move(p));
  if (FAnimPolys.size() == 1 && !HasState(csDesigning)) FTimer.start();
  return FAnimPolys.back().get();
}

void TVexaView::AnimPolygonDel(TVXAnimPolygon* p) {
  // The selection record lives as long as the view.
  if (!p || p == FSel) return;
  for (auto it = FAnimPolys.begin(); it != FAnimPolys.end(); ++it)
    if (it->get() == p) {
      FAnimPolys.erase(it);
      break;
    }
  if (FAnimPolys.empty()) FTimer.stop();
  Paint();
}

void TVexaView::AnimPolygonClear(TVXAnimPolygon* p) {
  p->Clear();
  if (FPaintLock == 0) update();
}

void TVexaView::AnimPolygonAddPt(TVXAnimPolygon* p, int x, int y) {
  AnimPolygonAddPtEx(p, x, y);
  if (FPaintLock == 0) update();
}

void TVexaView::AnimPolygonAddPtEx(TVXAnimPolygon* p, int x, int y) {
  p->AddPtEx(x, y);
  if (p == FSel) FSelExists = true;
}

void TVexaView::AnimPolygonAddBreak(TVXAnimPolygon* p) { p->AddBreak(); }

void TVexaView::AnimPolygonRemoveLast(TVXAnimPolygon* p) {
  p->RemoveLast();
  if (FPaintLock == 0) update();
}

void TVexaView::AnimPolygonRemoveLastPoint(TVXAnimPolygon* p) { p->RemoveLastPoint(); }

// ---------------------------------------------------------------- mouse tools

void TVexaView::InstallTool(std::unique_ptr<TVXViewTool> tool, TVXToolPlace place) {
  if (!tool) return;
  TVXViewTool* t = tool.get();
  (place == vxtpBeforeModes ? FToolsBefore : FToolsAfter).push_back(std::move(tool));
  ++FToolGeneration;
  t->Activate(FToolContext);
  if (t->Cursor() != 0) QWidget::setCursor(VXCursor(IdleCursor()));
}

std::unique_ptr<TVXViewTool> TVexaView::RemoveTool(TVXViewTool* tool) {
  for (auto* list : {&FToolsBefore, &FToolsAfter})
    for (auto it = list->begin(); it != list->end(); ++it) {
      if (it->get() != tool) continue;
      std::unique_ptr<TVXViewTool> removed = std::move(*it);
      list->erase(it);
      ++FToolGeneration;
      removed->Deactivate(FToolContext);
      if (removed->Cursor() != 0) QWidget::setCursor(VXCursor(IdleCursor()));
      return removed;
    }
  return nullptr;
}

std::vector<TVXViewTool*> TVexaView::Tools() const {
  std::vector<TVXViewTool*> all;
  all.reserve(FToolsBefore.size() + FModeTools.size() + FToolsAfter.size());
  for (const auto& t : FToolsBefore) all.push_back(t.get());
  all.insert(all.end(), FModeTools.begin(), FModeTools.end());
  for (const auto& t : FToolsAfter) all.push_back(t.get());
  return all;
}

bool TVexaView::AnyTool(bool (TVXViewTool::*query)() const) const {
  for (TVXViewTool* t : Tools())
    if ((t->*query)()) return true;
  return false;
}

int TVexaView::IdleCursor() const {
  for (TVXViewTool* t : Tools())
    if (t->Cursor() != 0) return t->Cursor();
  return FCursor;
}

bool TVexaView::PolygonDrawing() const { return FModes->Polygon.Drawing(); }

TVXToolEvent TVexaView::ToolEvent(int x, int y, Qt::MouseButton button, Qt::MouseButtons buttons,
                                  Qt::KeyboardModifiers mods) const {
  TVXToolEvent e;
  e.RawX = x;
  e.RawY = y;
  FGeom.ClampToDrawRect(x, y);
  e.X = x;
  e.Y = y;
  e.BmpX = XScr2Bmp(x);
  e.BmpY = YScr2Bmp(y);
  e.Button = button;
  e.Buttons = buttons;
  e.Modifiers = mods;
  return e;
}

void TVexaView::Dispatch(bool (TVXViewTool::*handler)(TVXToolContext&, const TVXToolEvent&), TVXToolEvent e) {
  const TVXSelectionBase savedBase = SelectionBase;
  SelectionBase = vxsbClientArea;
  const std::vector<TVXViewTool*> tools = Tools();
  const unsigned generation = FToolGeneration;
  for (TVXViewTool* t : tools) {
    // A handler may switch modes or remove tools; those that left get nothing more.
    if (FToolGeneration != generation) {
      const std::vector<TVXViewTool*> now = Tools();
      if (std::find(now.begin(), now.end(), t) == now.end()) continue;
    }
    if ((t->*handler)(FToolContext, e)) e.Taken = true;
  }
  SelectionBase = savedBase;
}

void TVexaView::SubMouseMoveScroll(int dx, int dy) { FModes->Polygon.Scrolled(dx, dy); }

bool TVexaView::AutoScroll(int px, int py) {
  const TVXViewGeometry& g = FGeom;
  const int right = g.OffX + g.DrawW - 1, bottom = g.OffY + g.DrawH - 1;
  const int dx = px < g.OffX ? px - g.OffX : (px > right ? px - right : 0);
  const int dy = py < g.OffY ? py - g.OffY : (py > bottom ? py - bottom : 0);
  if (dx == 0 && dy == 0) return false;
  const int oldX = g.ViewX, oldY = g.ViewY;
  SetViewXY(g.ViewX + dx, g.ViewY + dy);
  if (g.ViewX == oldX && g.ViewY == oldY) return false;
  FToolContext.FPress.X += oldX - g.ViewX;
  FToolContext.FPress.Y += oldY - g.ViewY;
  SubMouseMoveScroll(dx, dy);
  return true;
}

// ---------------------------------------------------------------- mouse events

void TVexaView::mousePressEvent(QMouseEvent* e) {
  FButtonHeld = true;
  // Drags paint unfiltered; the release brings the filter back.
  FSavedZoomFilter = FZoomFilter;
  FZoomFilter = rfNone;
  const QPoint at = ClientPos(e);
  const TVXToolEvent ev = ToolEvent(at.x(), at.y(), e->button(), e->buttons(), e->modifiers());
  TVXToolPress& press = FToolContext.FPress;
  press.X = press.LastX = ev.X;
  press.Y = press.LastY = ev.Y;
  press.ViewX = FGeom.ViewX;
  press.ViewY = FGeom.ViewY;
  press.Count = FSel->Count;
  Dispatch(&TVXViewTool::Press, ev);
  if (OnMouseDown)
    OnMouseDown(this, ButtonOf(e->button()), ShiftOf(e->modifiers(), e->buttons()), at.x(), at.y());
}

void TVexaView::mouseMoveEvent(QMouseEvent* e) {
  const QPoint at = ClientPos(e);
  MouseMoveAt(at.x(), at.y(), e->buttons(), e->modifiers());
  if (OnMouseMove) OnMouseMove(this, ShiftOf(e->modifiers(), e->buttons()), at.x(), at.y());
}

void TVexaView::MouseMoveAt(int x, int y, Qt::MouseButtons buttons, Qt::KeyboardModifiers mods) {
  TVXToolEvent ev = ToolEvent(x, y, Qt::NoButton, buttons, mods);
  ev.Held = FButtonHeld && buttons != Qt::NoButton;
  Dispatch(&TVXViewTool::Move, ev);
  FToolContext.FPress.LastX = ev.X;
  FToolContext.FPress.LastY = ev.Y;
}

void TVexaView::mouseReleaseEvent(QMouseEvent* e) {
  const QPoint at = ClientPos(e);
  Dispatch(&TVXViewTool::Release, ToolEvent(at.x(), at.y(), e->button(), e->buttons(), e->modifiers()));
  FZoomFilter = FSavedZoomFilter;
  if (FZoomFilter != rfNone) {
    // The drag painted unfiltered; the cached picture must pick the filter up again.
    FFrameStale = true;
    update();
  }
  FButtonHeld = false;
  if (OnMouseUp) OnMouseUp(this, ButtonOf(e->button()), ShiftOf(e->modifiers(), e->buttons()), at.x(), at.y());
}

void TVexaView::mouseDoubleClickEvent(QMouseEvent* e) {
  // Qt delivers the second press of a double click only as this event.
  mousePressEvent(e);
  const QPoint at = ClientPos(e);
  Dispatch(&TVXViewTool::DoubleClick, ToolEvent(at.x(), at.y(), e->button(), e->buttons(), e->modifiers()));
}

// ---------------------------------------------------------------- wheel and keys

void TVexaView::wheelEvent(QWheelEvent* e) {
  const QPoint angle = e->angleDelta();
  const bool sideways = e->modifiers() & Qt::ShiftModifier;
  if (e->modifiers() & Qt::ControlModifier) {
    const int notches = (angle.y() != 0 ? angle.y() : angle.x()) / 120;
    int z = FGeom.Zoom;
    for (int i = 0; i < notches; ++i) z = VXZoomStepIn(z);
    for (int i = 0; i > notches; --i) z = VXZoomStepOut(z);
    const QPointF at = e->position();
    ZoomAround(static_cast<int>(at.x()) - Border(), static_cast<int>(at.y()) - Border(), z);
    e->accept();
    return;
  }
  // Touchpads give pixels; wheels give eighths of a degree, 120 to a notch.
  QPoint pixels = e->pixelDelta();
  if (pixels.isNull()) pixels = angle * QApplication::wheelScrollLines() * 20 / 120;
  int dx = -pixels.x(), dy = -pixels.y();
  if (sideways && dx == 0) std::swap(dx, dy);
  if (dx != 0) ScrollBy(dx, 0);
  if (dy != 0) ScrollBy(0, dy);
  e->accept();
}

void TVexaView::keyPressEvent(QKeyEvent* e) {
  const int line = 32, pageH = imax(line, FGeom.ClientH * 9 / 10);
  if (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
    e->ignore();
    return;
  }
  bool used = true;
  switch (e->key()) {
    case Qt::Key_Left: used = ScrollBy(-line, 0); break;
    case Qt::Key_Right: used = ScrollBy(line, 0); break;
    case Qt::Key_Up: used = ScrollBy(0, -line); break;
    case Qt::Key_Down: used = ScrollBy(0, line); break;
    case Qt::Key_PageUp: used = ScrollBy(0, -pageH); break;
    case Qt::Key_PageDown: used = ScrollBy(0, pageH); break;
    case Qt::Key_Escape:
      used = FSelExists || PolygonDrawing();
      if (used) {
        DeSelect();
        if (OnSelectionChange) OnSelectionChange(this);
      }
      break;
    default: used = false;
  }
  e->setAccepted(used);
}

}  // namespace vexa
