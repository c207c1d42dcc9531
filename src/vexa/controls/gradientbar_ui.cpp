#include "vexa/controls/gradientbar_ui.h"

#include <QMouseEvent>

namespace vexa {

TVXGradientBar::TVXGradientBar(QWidget* parent, TComponent* owner) : TVXBufferedControl(parent, owner, 40, 300) {
  FRamp = GradientRamp(FBeginColor, FEndColor);
  Refresh();
}

void TVXGradientBar::Render() {
  const int W = FPicture.width(), H = FPicture.height();
  TCanvas c(&FPicture);
  const auto rgb = [&](int step) {
    const TRGB& p = FRamp[static_cast<size_t>(step)];
    return qRgb(p.r, p.g, p.b);
  };
  if (FDirection == gdHorizontal) {
    for (int x = 0; x < W; ++x) {
      const QRgb col = rgb(GradientStepAt(x, W));
      for (int y = 0; y < H; ++y) FPicture.setPixel(x, y, col);
    }
  } else {
    for (int a = 0; a < H; ++a) {
      const QRgb col = rgb(GradientStepAt(a, H));
      for (int x = 0; x < W; ++x) FPicture.setPixel(x, H - a - 1, col);
    }
  }
  if (!Interactive()) return;
  // Inverted, so the grip shows on any colour.
  c.Pen.Mode = pmNot;
  c.Brush.Style = bsClear;
  const int g = GradientGripCoord(FDirection, FColorIndex, W, H);
  if (FDirection == gdHorizontal)
    c.Rectangle(g - 3, 0, g + 3, H);
  else
    c.Rectangle(0, g - 3, W, g + 3);
}

void TVXGradientBar::SetBeginColor(TColor c) {
  FBeginColor = c;
  FRamp = GradientRamp(FBeginColor, FEndColor);
  Refresh();
}

void TVXGradientBar::SetEndColor(TColor c) {
  FEndColor = c;
  FRamp = GradientRamp(FBeginColor, FEndColor);
  Refresh();
}

void TVXGradientBar::SetDirection(TVXGradientDir d) {
  FDirection = d;
  Refresh();
}

void TVXGradientBar::SetMouseInteract(TVXMouseInteractGr m) {
  FMouseInteract = m;
  Refresh();
}

void TVXGradientBar::SetColorIndex(int i) {
  FColorIndex = ilimit(i, 0, 255);
  Refresh();
}

void TVXGradientBar::Pick(int x, int y) {
  x = ilimit(x, 0, imax(width() - 1, 0));
  y = ilimit(y, 0, imax(height() - 1, 0));
  FColorIndex = GradientPick(FDirection, x, y, width(), height());
  Refresh();
  if (OnChange) OnChange(this);
}

void TVXGradientBar::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && Interactive()) Pick(e->position().toPoint().x(), e->position().toPoint().y());
}

void TVXGradientBar::mouseMoveEvent(QMouseEvent* e) {
  if ((e->buttons() & Qt::LeftButton) && Interactive()) Pick(e->position().toPoint().x(), e->position().toPoint().y());
}

}  // namespace vexa
