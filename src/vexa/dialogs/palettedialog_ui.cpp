#include "vexa/dialogs/palettedialog_ui.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "vexa/dialogs/palettegrid.h"
#include "vexa/view/canvas_ui.h"

namespace vexa {

TVexaPaletteDialog::TVexaPaletteDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QString());
  setFixedSize(539, 199);
  setMouseTracking(true);
  FCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  FCancel->move(8, 144);
  connect(FCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TVexaPaletteDialog::SetPalette(const TRGB* palette, int count) {
  FPalette = palette;
  FCount = palette ? imax(count, 0) : 0;
  FHighlighted = -1;
  update();
}

bool TVexaPaletteDialog::Execute() {
  FHighlighted = -1;
  if (const QScreen* s = QGuiApplication::primaryScreen())
    move(s->geometry().center() - QPoint(width() / 2, height() / 2));
  return exec() == QDialog::Accepted;
}

void TVexaPaletteDialog::paintEvent(QPaintEvent*) {
  QPainter p(this);
  TCanvas c(p);
  for (int i = 0; i < FCount; ++i) {
    const TRect r = PaletteCellRect(i);
    c.Pen.Color = i == FHighlighted ? clBlack : clWhite;
    c.Brush = {TRGB2TColor(FPalette[i]), bsSolid};
    c.Rectangle(r.Left, r.Top, r.Right, r.Bottom);
  }
}

void TVexaPaletteDialog::mouseMoveEvent(QMouseEvent* e) {
  const QPoint pt = e->position().toPoint();
  const int i = PaletteIndexAt(pt.x(), pt.y(), FCount);
  if (i >= 0 && i != FHighlighted) {
    FHighlighted = i;
    update();
  }
}

void TVexaPaletteDialog::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || FHighlighted < 0) return;
  FColor = TRGB2TColor(FPalette[FHighlighted]);
  FChosen = true;
  accept();
}

}  // namespace vexa
