#include "vexa/controls/bufferedcontrol_ui.h"

#include <QPainter>
#include <QResizeEvent>

#include "vexa/core/vxview.h"
#include "vexa/view/uiinit.h"

namespace vexa {

TVXBufferedControl::TVXBufferedControl(QWidget* parent, TComponent* owner, int width, int height)
    : QWidget(parent), TComponent(owner), FDefaultSize(width, height) {
  VXInitUI();
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(width, height);
  FPicture = QImage(width, height, QImage::Format_RGB32);
}

int TVXBufferedControl::FontPixelHeight(const TFont& font) {
  return (font.Size * gSystemDPIY + 36) / 72;
}

// Lines running up or left are drawn as the same pixels running down or right, so
// the first pixel is the one kept and the last the one left out, whatever the direction.
void TVXBufferedControl::Span(TCanvas& canvas, TPoint from, TPoint to) {
  const int dx = (to.X > from.X) - (to.X < from.X), dy = (to.Y > from.Y) - (to.Y < from.Y);
  if (dx < 0 || dy < 0) {
    canvas.MoveTo(to.X - dx, to.Y - dy);
    canvas.LineTo(from.X - dx, from.Y - dy);
  } else {
    canvas.MoveTo(from.X, from.Y);
    canvas.LineTo(to.X, to.Y);
  }
}

void TVXBufferedControl::Refresh(bool now) {
  if (FPicture.size() != size()) FPicture = QImage(size(), QImage::Format_RGB32);
  if (!FPicture.isNull()) Render();
  if (now)
    repaint();
  else
    update();
}

void TVXBufferedControl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(0, 0, FPicture);
}

void TVXBufferedControl::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Refresh();
}

}  // namespace vexa
