// The view's cursors, drawn in code on 32 x 32 pixmaps.
#include <QBitmap>
#include <QCursor>
#include <QPainter>
#include <QPixmap>
#include <map>

#include "vexa/view/vexaview_ui.h"

namespace vexa {

namespace {

template <class F>
QCursor Drawn(int hotX, int hotY, F&& draw) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing, false);
  draw(p);
  p.end();
  return QCursor(pm, hotX, hotY);
}

// Black strokes with a white halo so the cursor shows on any picture.
void Stroke(QPainter& p, const std::function<void(QPainter&)>& shape) {
  p.setPen(QPen(Qt::white, 3));
  shape(p);
  p.setPen(QPen(Qt::black, 1));
  shape(p);
}

QCursor Magnifier(bool plus) {
  return Drawn(12, 12, [plus](QPainter& p) {
    Stroke(p, [plus](QPainter& q) {
      q.drawEllipse(4, 4, 16, 16);
      q.drawLine(19, 19, 28, 28);
      q.drawLine(8, 12, 16, 12);
      if (plus) q.drawLine(12, 8, 12, 16);
    });
  });
}

QCursor Cross(int gap) {
  return Drawn(15, 15, [gap](QPainter& p) {
    Stroke(p, [gap](QPainter& q) {
      q.drawLine(15, 2, 15, 15 - gap);
      q.drawLine(15, 15 + gap, 15, 28);
      q.drawLine(2, 15, 15 - gap, 15);
      q.drawLine(15 + gap, 15, 28, 15);
    });
  });
}

QCursor Make(int id) {
  switch (id) {
    case crZoomOut:
      return Magnifier(false);
    case crZoomIn:
      return Magnifier(true);
    case crCross:
      return Qt::CrossCursor;
    case crEraser:
      return Drawn(4, 27, [](QPainter& p) {
        Stroke(p, [](QPainter& q) { q.drawPolygon(QPolygon({{4, 22}, {18, 8}, {26, 16}, {12, 30}})); });
      });
    case crHand:
      return Qt::OpenHandCursor;
    case crPen:
      return Drawn(2, 29, [](QPainter& p) {
        Stroke(p, [](QPainter& q) {
          q.drawPolygon(QPolygon({{2, 29}, {5, 21}, {23, 3}, {28, 8}, {10, 26}}));
          q.drawLine(5, 21, 10, 26);
        });
      });
    case crCross1:
      return Cross(0);
    case crCross2:
      return Cross(3);
    case crResizeNWSE:
      return Qt::SizeFDiagCursor;
    case crResizeNS:
      return Qt::SizeVerCursor;
    case crResizeNESW:
      return Qt::SizeBDiagCursor;
    case crResizeWE:
      return Qt::SizeHorCursor;
    case crMove:
      return Qt::SizeAllCursor;
    case crHourGlass:
      return Qt::WaitCursor;
    default:
      return Qt::ArrowCursor;
  }
}

}  // namespace

QCursor VXCursor(int id) {
  static std::map<int, QCursor> cache;
  auto it = cache.find(id);
  if (it == cache.end()) it = cache.emplace(id, Make(id)).first;
  return it->second;
}

}  // namespace vexa
