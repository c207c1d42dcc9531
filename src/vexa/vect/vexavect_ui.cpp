#include "vexa/vect/vexavect_ui.h"

#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <cmath>

#include "vexa/vect/measure.h"
#include "vexa/vect/vectdraw_ui.h"
#include "vexa/vect/vecttool_ui.h"
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
  FTool = AddTool(std::make_unique<TVXVectTool>(*this), vxtpAfterModes);
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
  if (FEditing >= 0) EndTextEdit(true);
  if (FTool && FTool->Cancel()) update();
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

TRect TVexaVect::VisibleBitmapRect() const {
  const TVXViewGeometry& g = Geometry();
  return {XScr2Bmp(g.OffX), YScr2Bmp(g.OffY), XScr2Bmp(g.OffX + g.DrawW - 1), YScr2Bmp(g.OffY + g.DrawH - 1)};
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
  // Below-right of the pointer, clear of the rubber line's end.
  const TPoint at = p.X < 0 || p.Y < 0 ? p : TPoint{p.X + 8, p.Y + 8};
  ShowHint(at, MeasureText(FLastDragLen, MUnit(), false), FLastDragLen);
}

void TVexaVect::UpdateHint(int x, int y) {
  if (VXHasVt(FMouseInteractVt, miArea))
    ShowAreaHint({x, y});
  else if (VXHasVt(FMouseInteractVt, miLineLen))
    ShowLineLenHint({x, y});
  else if (VXHasVt(FMouseInteractVt, miDragLen) && FTool->Inserting() >= 0 && FHint->isVisible())
    ShowDragLenHint({x, y});
}

}  // namespace vexa
