#include "vexa/controls/hsvbox_ui.h"

#include <QMouseEvent>

#include "vexa/proc/coloradjust.h"
#include "vexa/view/qtbitmap_ui.h"

namespace vexa {

THSVBox::THSVBox(QWidget* parent, TComponent* owner) : TVXBufferedControl(parent, owner, 105, 105) {
  Refresh();
}

void THSVBox::RecomputeRGB() { HSV2RGB(FRGB, FHue, FSat, FVal); }

void THSVBox::RedrawSquare() {
  if (FBitmap.Width() != width() || FBitmap.Height() != height()) FBitmap.Allocate(width(), height(), pf24bit);
  HSVPaintBox(FBitmap, FHue, FBackground);
  FGripsShown = false;
}

// Inverting outlines: drawing the old ones again erases them.
void THSVBox::DrawGrips() {
  if (FGripsShown) {
    InvertRectOutline(FBitmap, FHueGrip);
    InvertRectOutline(FBitmap, FSquareGrip);
  }
  const int S = HSVSquareWidth(FBitmap.Width()), H = FBitmap.Height();
  FHueGrip = HSVHueGripRect(FHue, S, FBitmap.Width(), H);
  FSquareGrip = HSVSquareGripRect(FSat, FVal, S, H);
  InvertRectOutline(FBitmap, FHueGrip);
  InvertRectOutline(FBitmap, FSquareGrip);
  FGripsShown = true;
}

void THSVBox::Render() {
  RedrawSquare();
  DrawGrips();
  FPicture = VXBitmapToQImage(FBitmap);
}

// Repaints the screen from the bitmap as it stands (grips moved, square kept).
void THSVBox::Show() {
  DrawGrips();
  FPicture = VXBitmapToQImage(FBitmap);
  update();
}

void THSVBox::SetHue(int h) {
  FHue = ilimit(h, 0, 359);
  RecomputeRGB();
  Refresh();
}

void THSVBox::SetSat(int s) {
  FSat = ilimit(s, 0, 99);
  RecomputeRGB();
  Show();
}

void THSVBox::SetVal(int v) {
  FVal = ilimit(v, 0, 99);
  RecomputeRGB();
  Show();
}

void THSVBox::SetRGB(uint8_t r, uint8_t g, uint8_t b) {
  FRGB = CreateRGB(r, g, b);
  RGB2HSV(FRGB, FHue, FSat, FVal);
  Refresh();
}

void THSVBox::SetColor(TColor c) {
  const TRGB rgb = TColor2TRGB(ColorToRGB(c));
  SetRGB(rgb.r, rgb.g, rgb.b);
}

void THSVBox::SetBackground(TColor c) {
  FBackground = c;
  Refresh();
}

void THSVBox::HandlePoint(int x, int y) {
  const int S = HSVSquareWidth(width()), H = height();
  if (FMode == hzSquare) HSVPointToSatVal(x, y, S, H, FSat, FVal);
  if (FMode == hzHueBar) {
    FHue = HSVPointToHue(y, H);
    RedrawSquare();
  }
  RecomputeRGB();
  if (OnChange) OnChange(this);
  Show();
}

void THSVBox::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  const QPoint p = e->position().toPoint();
  const int S = HSVSquareWidth(width());
  FMode = HSVZoneAt(p.x(), S);
  const TPoint q = HSVClampDrag(FMode, p.x(), p.y(), S, width(), height());
  HandlePoint(q.X, q.Y);
}

void THSVBox::mouseMoveEvent(QMouseEvent* e) {
  if (FMode == hzNone || !(e->buttons() & Qt::LeftButton)) return;
  const QPoint p = e->position().toPoint();
  const TPoint q = HSVClampDrag(FMode, p.x(), p.y(), HSVSquareWidth(width()), width(), height());
  HandlePoint(q.X, q.Y);
}

void THSVBox::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) FMode = hzNone;
}

}  // namespace vexa
