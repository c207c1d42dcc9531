#include "vexa/view/vxhint_ui.h"

#include <QPainter>

namespace vexa {

TVXHint::TVXHint(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                          Qt::WindowDoesNotAcceptFocus | Qt::WindowStaysOnTopHint) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_ShowWithoutActivating);
  hide();
}

void TVXHint::SetText(const std::string& s) {
  FText = s;
  QImage probe(1, 1, QImage::Format_RGB32);
  TCanvas c(&probe);
  c.Font = FFont;
  resize(c.TextWidth(s) + 4, c.TextHeight(s) + 4);
  update();
}

void TVXHint::SetFont(const TFont& font) {
  FFont = font;
  SetText(FText);
}

void TVXHint::paintEvent(QPaintEvent*) {
  QPainter p(this);
  TCanvas c(p);
  c.Brush = {Color, bsSolid};
  c.FillRect({0, 0, width(), height()});
  c.Brush.Style = bsClear;
  c.Font = FFont;
  c.TextOut(1, 1, FText);
  // Raised outer edge: light top-left, dark bottom-right.
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.setPen(palette().color(QPalette::Light));
  p.drawLine(0, 0, width() - 1, 0);
  p.drawLine(0, 0, 0, height() - 1);
  p.setPen(palette().color(QPalette::Dark));
  p.drawLine(width() - 1, 0, width() - 1, height() - 1);
  p.drawLine(0, height() - 1, width() - 1, height() - 1);
}

}  // namespace vexa
