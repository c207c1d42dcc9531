#include "vexa/controls/bufferedcontrol_ui.h"

#include <QPainter>
#include <QResizeEvent>

#include "vexa/core/vxview.h"
#include "vexa/view/uiinit.h"

namespace vexa {

TVXBufferedControl::TVXBufferedControl(QWidget* parent, TComponent* owner, int width, int height)
    : QWidget(parent), TComponent(owner) {
  VXInitUI();
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(width, height);
  FPicture = QImage(width, height, QImage::Format_RGB32);
}

int TVXBufferedControl::FontPixelHeight(const TFont& font) {
  return (font.Size * gSystemDPIY + 36) / 72;
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
