#include "vexa/vect/vexavect_ui.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "vexa/vect/measure.h"
#include "vexa/vect/vectdraw_ui.h"
#include "vexa/view/qtbitmap_ui.h"

namespace vexa {

/// The borderless field over a text object: Enter keeps the text, Escape undoes the
/// last change first; either ends editing.
class TVXTextEditor : public QLineEdit {
 public:
  explicit TVXTextEditor(TVexaVect* owner) : QLineEdit(owner), FOwner(owner) { setFrame(false); }

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
      FOwner->EndTextEdit(true);
      FOwner->VectorialChanged();
      return;
    }
    if (e->key() == Qt::Key_Escape) {
      undo();
      FOwner->EndTextEdit(true);
      return;
    }
    QLineEdit::keyPressEvent(e);
  }

 private:
  TVexaVect* FOwner;
};

TVexaVect::TVexaVect(QWidget* parent, TComponent* owner) : TVexaView(parent, owner) {
  FHint = new TVXHint(this);
  setFocusPolicy(Qt::StrongFocus);
  SetMeasureDPI(DPIX(), DPIY());
}

TVexaVect::~TVexaVect() { SetState(csDestroying, true); }

// ---------------------------------------------------------------- view overrides

void TVexaVect::Update() {
  TVXVObject& root = Obj(kVXRoot);
  root.Left = root.Top = 0;
  root.Right = Bitmap().Width() - 1;
  root.Bottom = Bitmap().Height() - 1;
  TVexaView::Update();
}

void TVexaVect::SetDPIX(int v) {
  TVXView::SetDPIX(v);
  SetMeasureDPI(DPIX(), DPIY());
}

void TVexaVect::SetDPIY(int v) {
  TVXView::SetDPIY(v);
  SetMeasureDPI(DPIX(), DPIY());
}

void TVexaVect::SetMouseInteract(TVXMouseInteract s) {
  TVexaView::SetMouseInteract(s);
  if (s != 0) {
    FMouseInteractVt &= kVXMeasureModes;
    CancelInteracts();
  }
}

void TVexaVect::ViewChange(int change) {
  TVexaView::ViewChange(change);
  PlaceEditor();
}

void TVexaVect::PaintTo(TCanvas& c) {
  TVexaView::PaintTo(c);
  if (FAllHidden) return;
  TVXDrawContext ctx;
  ctx.Geom = Geometry();
  ctx.Clip = {0, 0, ClientWidth(), ClientHeight()};
  ctx.ZoomObjectsWidth = FZoomObjectsWidth;
  ctx.EditingText = FEditing;
  VXDrawObjects(c, *this, kVXRoot, ctx);
  VXDrawGrips(c, *this, Geometry());
}

void TVexaVect::resizeEvent(QResizeEvent* e) {
  TVexaView::resizeEvent(e);
  PlaceEditor();
}

// ---------------------------------------------------------------- model hooks

void TVexaVect::Changed(int idx, bool always) {
  if (always || idx != kVXTemplate) Update();
}

void TVexaVect::SelectionChanged() {
  if (OnSelectObject) OnSelectObject(this);
}

void TVexaVect::VectorialChanged() {
  if (OnVectorialChanged) OnVectorialChanged(this);
}

void TVexaVect::MeasureChanged() { UpdateHint(-1, -1); }

// ---------------------------------------------------------------- modes and state

void TVexaVect::SetMouseInteractVt(TVXMouseInteractVt s) {
  CancelInteracts();
  if (s == FMouseInteractVt) return;
  const TVXMouseInteractVt added = s & ~FMouseInteractVt;
  FMouseInteractVt = VXRestrictMouseInteractVt(FMouseInteractVt, s);
  if (added & FMouseInteractVt & ~kVXMeasureModes) TVexaView::SetMouseInteract(0);
  if (FMouseInteractVt & kVXMeasureModes) {
    if (added & kVXMeasureModes) UpdateHint(-1, -1);
  } else {
    FHint->hide();
  }
}

void TVexaVect::CancelInteracts() {
  const bool editing = FEditing >= 0;
  if (editing) EndTextEdit(true);
  const bool dragging = FInserting >= 0 || FGrip != 0 || FSelecting;
  FInserting = -1;
  FGrip = 0;
  FSelecting = false;
  FHeld = false;
  if (dragging) update();
}

void TVexaVect::SetZoomObjectsWidth(bool on) {
  FZoomObjectsWidth = on;
  Update();
}

void TVexaVect::SetAllObjectsHidden(bool on) {
  if (on == FAllHidden) return;
  FAllHidden = on;
  Update();
}

void TVexaVect::CopyObjectsToBack() {
  VXBurnObjects(*this, Bitmap());
  Update();
  ImageChange();
}

void TVexaVect::ImportDXF(const std::string& fileName) {
  TVXVectModel::ImportDXF(fileName, Bitmap().Width(), Bitmap().Height());
}

void TVexaVect::SetObjFont(int i, const QFont& font, TColor color) {
  TVXLogFont f = ObjFont(i);
  f.SetFace(font.family().toStdString());
  const int px = font.pixelSize() > 0 ? font.pixelSize() : static_cast<int>(std::lround(font.pointSizeF() * DPIY() / 72));
  f.Height = -px;
  f.Weight = font.bold() ? 700 : 400;
  f.Italic = font.italic();
  f.Underline = font.underline();
  f.StrikeOut = font.strikeOut();
  TVXVectModel::SetObjFont(i, f, color);
}

void TVexaVect::SetObjBitmapICO(int i, QStyle::StandardPixmap icon, int height, int width) {
  QImage img(std::max(1, width), std::max(1, height), QImage::Format_RGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    style()->standardIcon(icon).paint(&p, img.rect());
  }
  TBitmap bmp;
  VXQImageToBitmap(img, bmp);
  SetObjBitmap(i, bmp);
}

// ---------------------------------------------------------------- text editing

void TVexaVect::ActiveTextEdit(int idx) {
  idx = Resolve(idx);
  if (!IsAlive(idx) || ObjKind(idx) != vxkTEXT) return;
  if (FEditing >= 0) EndTextEdit(true);
  FEditing = idx;
  if (!FEditor) FEditor = new TVXTextEditor(this);
  FEditor->setText(QString::fromStdString(ObjText(idx)));
  PlaceEditor();
  FEditor->show();
  FEditor->setFocus();
  Update();
}

void TVexaVect::RemoveTextEdit() { EndTextEdit(true); }

void TVexaVect::EndTextEdit(bool keep) {
  if (FEditing < 0) return;
  const int idx = FEditing;
  FEditing = -1;
  if (keep && FEditor && IsAlive(idx)) Obj(idx).Text = FEditor->text().toStdString();
  if (FEditor) {
    FEditor->hide();
    setFocus();
  }
  Update();
}

void TVexaVect::PlaceEditor() {
  if (FEditing < 0 || !FEditor) return;
  const TVXVObject& o = Obj(FEditing);
  const TVXViewGeometry& g = Geometry();
  const int x1 = VXObjX(g, o.Left), y1 = VXObjY(g, o.Top), x2 = VXObjX(g, o.Right), y2 = VXObjY(g, o.Bottom);
  FEditor->setGeometry(x1 + BorderWidth(), y1 + BorderWidth(), std::max(1, x2 - x1 + 1), std::max(1, y2 - y1 + 1));
  FEditor->setFont(VXQFont(ObjFont(FEditing), g.Zoom, y2 - y1 + 1));
  QPalette pal = FEditor->palette();
  pal.setColor(QPalette::Text, QColor::fromRgb(VXQRgb(o.PenColor)));
  pal.setColor(QPalette::Base, QColor::fromRgb(VXQRgb(o.BrushStyle == bsSolid ? o.BrushColor : Background())));
  FEditor->setPalette(pal);
  static const Qt::Alignment kAlign[3] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter};
  FEditor->setAlignment(kAlign[o.TextAlign <= 2 ? o.TextAlign : 0] | Qt::AlignTop);
}

void TVexaVect::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape && FEditing >= 0) {
    EndTextEdit(true);
    return;
  }
  if (e->key() == Qt::Key_F2 && !GetSelObjects().empty() && ObjKind(GetSelObjects().front()) == vxkTEXT) {
    ActiveTextEdit(GetSelObjects().front());
    return;
  }
  TVexaView::keyPressEvent(e);
}

// ---------------------------------------------------------------- mouse

QPoint TVexaVect::ClientAt(const QMouseEvent* e) const {
  return {static_cast<int>(e->position().x()) - BorderWidth(), static_cast<int>(e->position().y()) - BorderWidth()};
}

TRect TVexaVect::VisibleBitmapRect() const {
  const TVXViewGeometry& g = Geometry();
  return {XScr2Bmp(g.OffX), YScr2Bmp(g.OffY), XScr2Bmp(g.OffX + g.DrawW - 1), YScr2Bmp(g.OffY + g.DrawH - 1)};
}

void TVexaVect::AutoScrollTo(int x, int y) {
  const TVXViewGeometry& g = Geometry();
  const int right = g.OffX + g.DrawW - 1, bottom = g.OffY + g.DrawH - 1;
  const int dx = x < g.OffX ? x - g.OffX : (x > right ? x - right : 0);
  const int dy = y < g.OffY ? y - g.OffY : (y > bottom ? y - bottom : 0);
  if (dx == 0 && dy == 0) return;
  const int oldX = g.ViewX, oldY = g.ViewY;
  SetViewXY(oldX + dx, oldY + dy);
  // The press point stays on the same bitmap pixel.
  FPressX += oldX - Geometry().ViewX;
  FPressY += oldY - Geometry().ViewY;
}

void TVexaVect::mousePressEvent(QMouseEvent* e) {
  TVexaView::mousePressEvent(e);
  if (e->button() != Qt::LeftButton) return;
  const QPoint at = ClientAt(e);
  PressAt(at.x(), at.y(), e->modifiers(), false);
}

void TVexaVect::mouseDoubleClickEvent(QMouseEvent* e) {
  // The view's handler treats the second click as a press; ours then opens text editing.
  TVexaView::mouseDoubleClickEvent(e);
  if (e->button() != Qt::LeftButton || !VXHasVt(FMouseInteractVt, miObjectSelect)) return;
  const QPoint at = ClientAt(e);
  PressAt(at.x(), at.y(), e->modifiers(), true);
}

void TVexaVect::PressAt(int x, int y, Qt::KeyboardModifiers, bool doubleClick) {
  if (FEditing >= 0) EndTextEdit(true);
  Geometry().ClampToDrawRect(x, y);
  FPressX = FDragX = FLastX = x;
  FPressY = FDragY = FLastY = y;
  FMoved = false;
  FGrip = 0;
  FSelecting = false;
  FInserting = VXInsertKindOf(FMouseInteractVt);
  FHeld = FInserting >= 0 || VXHasVt(FMouseInteractVt, miObjectSelect);
  if (!VXHasVt(FMouseInteractVt, miObjectSelect)) return;
  if (doubleClick) {
    double d;
    const TPoint b = ToBitmap(x, y);
    const int idx = FindNearObj(kVXRoot, b.X, b.Y, d, VisibleBitmapRect());
    if (idx >= 0 && ObjKind(idx) == vxkTEXT && d == 0) {
      FHeld = false;
      UnSelAllObjectsNS();
      AddSelObject(idx);
      ActiveTextEdit(idx);
    }
    return;
  }
  int grip = 0;
  if (FindSelGrip(x, y, grip, Geometry()) != kVXNone)
    FGrip = grip;
  else
    FSelecting = true;
}

void TVexaVect::mouseMoveEvent(QMouseEvent* e) {
  TVexaView::mouseMoveEvent(e);
  const QPoint at = ClientAt(e);
  int x = at.x(), y = at.y();
  Geometry().ClampToDrawRect(x, y);
  FMouseX = x;
  FMouseY = y;
  if (!FHeld || !(e->buttons() & Qt::LeftButton)) {
    UpdateHint(x, y);
    return;
  }
  AutoScrollTo(at.x(), at.y());
  x = at.x();
  y = at.y();
  Geometry().ClampToDrawRect(x, y);
  if (x != FPressX || y != FPressY) FMoved = true;
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  if (FInserting == vxkLINE || FInserting == vxkRULER) {
    if (ctrl) _CastPolySelCC(FPressX, FPressY, x, y);
    FDragX = x;
    FDragY = y;
    if (VXHasVt(FMouseInteractVt, miDragLen)) {
      FLastDragLen = VXDragLen(x - FPressX, y - FPressY, Zoom(), CoefX(), CoefY());
      ShowDragLenHint({x, y});
    }
    update();
  } else if (FInserting == vxkELLIPSE && ctrl) {
    const int dx = x - FPressX, dy = y - FPressY, r = std::max(std::abs(dx), std::abs(dy));
    FDragX = FPressX + (dx < 0 ? -r : r);
    FDragY = FPressY + (dy < 0 ? -r : r);
    update();
  } else if (FInserting >= 0) {
    FDragX = x;
    FDragY = y;
    update();
  } else if (FGrip) {
    // Measured from the press point, so that zoomed drags do not lose pixels to rounding.
    const int bx = VXRound(static_cast<long double>(x - FPressX) * 100 / Zoom());
    const int by = VXRound(static_cast<long double>(y - FPressY) * 100 / Zoom());
    const int ax = VXRound(static_cast<long double>(FDragX - FPressX) * 100 / Zoom());
    const int ay = VXRound(static_cast<long double>(FDragY - FPressY) * 100 / Zoom());
    FDragX = x;
    FDragY = y;
    if (bx != ax || by != ay) {
      VXDragSelGrip(*this, FGrip, bx - ax, by - ay);
      Update();
    }
  } else if (FSelecting) {
    FDragX = x;
    FDragY = y;
    UnSelAllObjectsNS();
    const TPoint a = ToBitmap(FPressX, FPressY), b = ToBitmap(x, y);
    SelInRect(kVXRoot, a.X, a.Y, b.X, b.Y);
    SelectionChanged();
    Update();
  }
  FLastX = x;
  FLastY = y;
  UpdateHint(x, y);
}

void TVexaVect::mouseReleaseEvent(QMouseEvent* e) {
  TVexaView::mouseReleaseEvent(e);
  if (!FHeld || e->button() != Qt::LeftButton) return;
  FHeld = false;
  if (FEditing >= 0) return;
  if (FInserting >= 0) {
    TVXVObject& t = Obj(kVXTemplate);
    const TPoint a = ToBitmap(FPressX, FPressY);
    if (!FMoved) {
      t.Right += a.X - t.Left;
      t.Bottom += a.Y - t.Top;
      t.Left = a.X;
      t.Top = a.Y;
    } else {
      const TPoint b = ToBitmap(FDragX, FDragY);
      t.Left = a.X;
      t.Top = a.Y;
      t.Right = b.X;
      t.Bottom = b.Y;
    }
    t.Kind = static_cast<TVXVObjectKind>(FInserting);
    // Kept ordered, so that a later click makes a box of this size below-right of it.
    if (!t.IsSegment()) OrdCor(t.Left, t.Top, t.Right, t.Bottom);
    if (VXHasVt(FMouseInteractVt, miDragLen)) {
      FHint->hide();
      if (OnDragLenEnd) OnDragLenEnd(this, FLastDragLen);
    } else {
      const int idx = AddNewObject();
      UnSelAllObjectsNS();
      AddSelObject(idx);
      if (t.Kind == vxkTEXT)
        ActiveTextEdit(idx);
      else
        VectorialChanged();
    }
  } else if (FSelecting && !FMoved) {
    double d;
    const TPoint b = ToBitmap(FPressX, FPressY);
    const int idx = FindNearObj(kVXRoot, b.X, b.Y, d, VisibleBitmapRect());
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    if (idx < 0) {
      if (!shift) UnSelAllObjects();
    } else if (shift) {
      if (IsSelObject(idx))
        UnSelObject(idx);
      else
        AddSelObject(idx);
    } else {
      UnSelAllObjectsNS();
      AddSelObject(idx);
    }
  } else if (FGrip) {
    VXOrderSelRects(*this);
    VectorialChanged();
  }
  FInserting = -1;
  FGrip = 0;
  FSelecting = false;
  Update();
}

// ---------------------------------------------------------------- rubber bands

void TVexaVect::paintEvent(QPaintEvent* e) {
  TVexaView::paintEvent(e);
  if (!FHeld || !FMoved || PaintLock() > 0) return;
  QPainter p(this);
  p.translate(BorderWidth(), BorderWidth());
  p.setClipRect(0, 0, ClientWidth(), ClientHeight());
  DrawRubber(p);
}

void TVexaVect::DrawRubber(QPainter& p) {
  TCanvas c(p);
  c.Pen = {clBlack, 1, psSolid, pmNot};
  c.Brush = {clBlack, bsClear};
  if (FInserting == vxkRULER) {
    // The ruler being inserted, drawn as it will look.
    TVXVObject& t = Obj(kVXTemplate);
    const TVXVObject saved = t;
    const TPoint a = ToBitmap(FPressX, FPressY), b = ToBitmap(FDragX, FDragY);
    t.Kind = vxkRULER;
    t.Left = a.X;
    t.Top = a.Y;
    t.Right = b.X;
    t.Bottom = b.Y;
    TVXDrawContext ctx;
    ctx.Geom = Geometry();
    ctx.ZoomObjectsWidth = FZoomObjectsWidth;
    VXDrawObject(c, *this, kVXTemplate, ctx);
    t = saved;
  } else if (FInserting == vxkLINE) {
    c.MoveTo(FPressX, FPressY);
    c.LineTo(FDragX, FDragY);
  } else if (FInserting == vxkELLIPSE) {
    int x1 = FPressX, y1 = FPressY, x2 = FDragX, y2 = FDragY;
    OrdCor(x1, y1, x2, y2);
    c.Ellipse(x1, y1, x2 + 1, y2 + 1);
  } else if (FInserting >= 0 || FSelecting) {
    int x1 = FPressX, y1 = FPressY, x2 = FDragX, y2 = FDragY;
    OrdCor(x1, y1, x2, y2);
    c.Rectangle(x1, y1, x2 + 1, y2 + 1);
  }
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// ---------------------------------------------------------------- measurement

double TVexaVect::GetSelectionLen() const {
  const TPoint rubber = ToBitmap(FMouseX, FMouseY);
  return VXSelectionLen(PolySelArray(), PolySelCount(), CoefX(), CoefY(), PolygonDrawing(),
                        IncludeRubberBand ? &rubber : nullptr);
}

double TVexaVect::GetSelectionArea() const {
  return VXSelectionArea(PolySelArray(), PolySelCount(), CoefX(), CoefY());
}

TPoint TVexaVect::GetSelectionCentroid() const { return VXSelectionCentroid(PolySelArray(), PolySelCount()); }

void TVexaVect::SetScaleFromSelectionLen(double value) {
  const double pixels = VXSelectionLen(PolySelArray(), PolySelCount(), 1, 1, PolygonDrawing(), nullptr);
  SetScaleFromPixels(static_cast<int>(pixels), value);
}

void TVexaVect::ShowHint(TPoint p, const std::string& text, double value) {
  std::string shown = text;
  if (OnMeasureHint) OnMeasureHint(this, shown, value);
  FHint->SetText(shown);
  if (p.X >= 0 && p.Y >= 0) {
    const int x = std::max(0, std::min(p.X, ClientWidth() - FHint->width() - 1));
    const int y = std::max(0, std::min(p.Y, ClientHeight() - FHint->height() - 1));
    FHint->move(mapToGlobal(QPoint(x + BorderWidth(), y + BorderWidth())));
  }
  FHint->show();
}

void TVexaVect::ShowAreaHint(TPoint p) {
  const double v = GetSelectionArea();
  ShowHint(p, MeasureText(v, MUnit(), true), v);
}

void TVexaVect::ShowLineLenHint(TPoint p) {
  const double v = GetSelectionLen();
  ShowHint(p, MeasureText(v, MUnit(), false), v);
}

void TVexaVect::ShowDragLenHint(TPoint p) {
  // Beside the pointer, offset like the drawing rectangle.
  const TVXViewGeometry& g = Geometry();
  ShowHint({p.X + g.OffX + 8, p.Y + g.OffY + 8}, MeasureText(FLastDragLen, MUnit(), false), FLastDragLen);
}

void TVexaVect::UpdateHint(int x, int y) {
  if (VXHasVt(FMouseInteractVt, miArea))
    ShowAreaHint({x, y});
  else if (VXHasVt(FMouseInteractVt, miLineLen))
    ShowLineLenHint({x, y});
  else if (VXHasVt(FMouseInteractVt, miDragLen) && FInserting >= 0 && FMoved)
    ShowDragLenHint({x, y});
}

}  // namespace vexa
