#include "vexa/mview/vexamview_ui.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

#include "vexa/acquire/avidialog_ui.h"
#include "vexa/view/qtbitmap_ui.h"
#include "vexa/view/uiinit.h"

namespace vexa {

namespace {

// Cells are drawn as told; the background fill at the end spares every cell.
class QtGridPainter : public TVXGridPainter {
 public:
  QtGridPainter(TVexaMView& view, TCanvas& canvas, int w, int h)
      : FView(view), FCanvas(canvas), FP(canvas.Painter()), FUncovered(0, 0, w, h) {}
  void FillRect(const TRect& r, TColor c) override {
    if (r.Width() > 0 && r.Height() > 0) FP.fillRect(r.Left, r.Top, r.Width(), r.Height(), QColor::fromRgb(VXQRgb(c)));
  }
  void StretchDraw(const TRect& dst, const TBitmap& bmp) override {
    QImage img = VXBitmapToQImage(bmp, TVXSourceRect{0, 0, bmp.Width(), bmp.Height()}, dst.Width(), dst.Height());
    if (!img.isNull()) FP.drawImage(dst.Left, dst.Top, img);
  }
  void FrameRect(const TRect& r, TColor c) override {
    const QColor q = QColor::fromRgb(VXQRgb(c));
    FP.fillRect(r.Left, r.Top, r.Width(), 1, q);
    FP.fillRect(r.Left, r.Bottom - 1, r.Width(), 1, q);
    FP.fillRect(r.Left, r.Top, 1, r.Height(), q);
    FP.fillRect(r.Right - 1, r.Top, 1, r.Height(), q);
  }
  void ExcludeRect(const TRect& r) override { FCovered += QRect(r.Left, r.Top, r.Width(), r.Height()); }
  void FillUncovered(TColor c) override {
    FP.save();
    FP.setClipRegion(QRegion(FUncovered).subtracted(FCovered));
    FP.fillRect(FUncovered, QColor::fromRgb(VXQRgb(c)));
    FP.restore();
  }
  void CellDrawn(int idx, int left, int top) override {
    if (FView.OnImageDraw) FView.OnImageDraw(&FView, idx, left, top, FCanvas);
  }

 private:
  TVexaMView& FView;
  TCanvas& FCanvas;
  QPainter& FP;
  QRect FUncovered;
  QRegion FCovered;
};

}  // namespace

TVexaMView::TVexaMView(QWidget* parent, TComponent* owner) : QWidget(parent), TVXImageGrid(owner) {
  VXInitUI();
  if (!gVXAviOptionsDialog) VXInstallAviOptionsDialog();
  SetDPI(gSystemDPIX, gSystemDPIY);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  resize(180, 90);
  FHBar = new QScrollBar(Qt::Horizontal, this);
  FVBar = new QScrollBar(Qt::Vertical, this);
  FHBar->hide();
  FVBar->hide();
  FHBar->setFocusPolicy(Qt::NoFocus);
  FVBar->setFocusPolicy(Qt::NoFocus);
  connect(FHBar, &QScrollBar::valueChanged, this, [this](int v) {
    if (!FSyncingBars) SetViewX(v);
  });
  connect(FVBar, &QScrollBar::valueChanged, this, [this](int v) {
    if (!FSyncingBars) SetViewY(v);
  });
  FTimer.setSingleShot(true);
  connect(&FTimer, &QTimer::timeout, this, [this] { PlayFrame(); });
  ReadClientSize();
}

TVexaMView::~TVexaMView() {
  FTimer.stop();
  SetState(csDestroying, true);
}

bool TVexaMView::CanUpdate() const { return TVXImageGrid::CanUpdate(); }

void TVexaMView::SetScrollBars(TScrollStyle s) {
  FScrollBars = s;
  Update();
}

void TVexaMView::ReadClientSize() {
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  SetClientSize(width() - (FVBarShown ? extent : 0), height() - (FHBarShown ? extent : 0));
}

bool TVexaMView::SyncScrollBars() {
  const int oldW = ClientWidth(), oldH = ClientHeight();
  const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  int mx, my;
  GetMaxViewXY(mx, my);
  const bool wantH = (FScrollBars == ssHorizontal || FScrollBars == ssBoth) && mx > 0;
  const bool wantV = (FScrollBars == ssVertical || FScrollBars == ssBoth) && my > 0;
  FHBarShown = wantH;
  FVBarShown = wantV;
  FSyncingBars = true;
  if (wantH) {
    FHBar->setRange(0, mx);
    FHBar->setPageStep(imax(1, ClientWidth()));
    FHBar->setSingleStep(1);
    FHBar->setValue(ViewX());
    FHBar->setGeometry(0, height() - extent, width() - (wantV ? extent : 0), extent);
    FHBar->show();
  } else {
    FHBar->hide();
  }
  if (wantV) {
    FVBar->setRange(0, my);
    FVBar->setPageStep(imax(1, ClientHeight()));
    FVBar->setSingleStep(1);
    FVBar->setValue(ViewY());
    FVBar->setGeometry(width() - extent, 0, extent, height() - (wantH ? extent : 0));
    FVBar->show();
  } else {
    FVBar->hide();
  }
  FSyncingBars = false;
  ReadClientSize();
  return ClientWidth() != oldW || ClientHeight() != oldH;
}

void TVexaMView::resizeEvent(QResizeEvent*) {
  ReadClientSize();
  Update();
}

// ---------------------------------------------------------------------------
// Painting

void TVexaMView::PaintTo(TCanvas& canvas) {
  QtGridPainter painter(*this, canvas, ClientWidth(), ClientHeight());
  TVXImageGrid::PaintTo(painter);
}

void TVexaMView::Paint() {
  if (PaintLock() == 0) repaint();
}

QImage TVexaMView::RenderClient() {
  QImage img(imax(1, ClientWidth()), imax(1, ClientHeight()), QImage::Format_RGB32);
  img.fill(Qt::black);
  TCanvas canvas(&img);
  PaintTo(canvas);
  return img;
}

void TVexaMView::paintEvent(QPaintEvent*) {
  if (PaintLock() > 0) return;
  QPainter p(this);
  p.setClipRect(0, 0, ClientWidth(), ClientHeight());
  TCanvas canvas(p);
  PaintTo(canvas);
  p.setClipping(false);
  if (FHBarShown && FVBarShown)
    p.fillRect(FVBar->x(), FHBar->y(), FVBar->width(), FHBar->height(), palette().color(QPalette::Window));
}

// ---------------------------------------------------------------------------
// Input

void TVexaMView::mousePressEvent(QMouseEvent* e) {
  FPressPos = e->position().toPoint();
  FPressViewX = ViewX();
  FPressViewY = ViewY();
  FDragging = e->button() == Qt::LeftButton && (MouseInteract & (1u << mmiScroll));
  if (FDragging && isVisible()) grabMouse();
}

void TVexaMView::DragTo(QPoint p) {
  SetViewXY(FPressViewX - (p.x() - FPressPos.x()), FPressViewY - (p.y() - FPressPos.y()));
}

void TVexaMView::mouseMoveEvent(QMouseEvent* e) {
  if (FDragging) DragTo(e->position().toPoint());
}

void TVexaMView::mouseReleaseEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (FDragging) {
    DragTo(p);
    if (mouseGrabber() == this) releaseMouse();
    FDragging = false;
  }
  if (Playing() || !(MouseInteract & (1u << mmiSelect))) return;
  const int idx = ImageAtPos(p.x(), p.y());
  if (idx < 0) return;
  SetSelectedItemNU(idx);
  if (VisibleSelection())
    Update();
  else
    CallBitmapChangeEvents();
}

void TVexaMView::keyPressEvent(QKeyEvent* e) {
  static const std::pair<int, TVXSeek> kKeys[] = {
      {Qt::Key_Left, iskLeft},        {Qt::Key_Right, iskRight}, {Qt::Key_Up, iskUp},
      {Qt::Key_Down, iskDown},        {Qt::Key_Home, iskFirst},  {Qt::Key_End, iskLast},
      {Qt::Key_PageDown, iskPagDown}, {Qt::Key_PageUp, iskPagUp}};
  for (const auto& [key, seek] : kKeys) {
    if (e->key() != key) continue;
    if (!Playing()) SelectSeek(seek);
    e->accept();
    return;
  }
  QWidget::keyPressEvent(e);
}

void TVexaMView::wheelEvent(QWheelEvent* e) {
  const int steps = e->angleDelta().y() / 120;
  if (steps != 0) SetViewY(ViewY() - steps * ThumbHeight() / 2);
  e->accept();
}

// The selection frame is wider with the focus.
void TVexaMView::focusInEvent(QFocusEvent*) { update(); }
void TVexaMView::focusOutEvent(QFocusEvent*) { update(); }

}  // namespace vexa
