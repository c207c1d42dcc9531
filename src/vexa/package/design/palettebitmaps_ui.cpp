// The palette pictures, 24 x 24, drawn in code. Dialog pictures keep to the sixteen
// basic colours.
#include <QConicalGradient>
#include <QLineF>
#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <functional>
#include <map>

#include "vexa/package/design/palette_ui.h"

namespace vexa {

namespace {

// A small landscape: the common motif of the image components.
void Picture(QPainter& p, const QRect& r) {
  p.fillRect(r, QColor(120, 180, 240));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(250, 210, 40));
  p.drawEllipse(QRect(r.right() - r.width() / 3, r.top() + 2, r.width() / 4, r.width() / 4));
  p.setBrush(QColor(60, 150, 60));
  p.drawPolygon(QPolygon({{r.left(), r.bottom() + 1},
                          {r.left() + r.width() / 3, r.top() + r.height() / 3},
                          {r.left() + r.width() * 2 / 3, r.bottom() - r.height() / 4},
                          {r.right() + 1, r.top() + r.height() / 2},
                          {r.right() + 1, r.bottom() + 1}}));
  p.setBrush(Qt::NoBrush);
  p.setPen(QColor(40, 40, 40));
  p.drawRect(r.adjusted(0, 0, -1, -1));
}

void Arrow(QPainter& p, QPoint from, QPoint to, const QColor& c) {
  p.setPen(QPen(c, 2));
  p.drawLine(from, to);
  const QPointF d = QPointF(to - from) / std::max(1.0, QLineF(from, to).length());
  const QPointF n(-d.y(), d.x());
  p.setBrush(c);
  p.setPen(Qt::NoPen);
  p.drawPolygon(QPolygonF({QPointF(to) + d * 2, QPointF(to) - d * 4 + n * 4, QPointF(to) - d * 4 - n * 4}));
  p.setBrush(Qt::NoBrush);
}

void Disk(QPainter& p, const QRect& r) {
  p.setPen(Qt::black);
  p.setBrush(QColor(Qt::darkBlue));
  p.drawRect(r.adjusted(0, 0, -1, -1));
  p.fillRect(QRect(r.left() + 3, r.top(), r.width() - 6, r.height() / 3), Qt::lightGray);
  p.fillRect(QRect(r.left() + 2, r.bottom() - r.height() / 3 + 1, r.width() - 4, r.height() / 3 - 1), Qt::white);
}

const std::map<std::string, std::function<void(QPainter&)>>& Drawings() {
  static const std::map<std::string, std::function<void(QPainter&)>> drawings = {
      {"TVEXA",
       [](QPainter& p) {
         Picture(p, {1, 3, 18, 14});
         Disk(p, {13, 12, 10, 10});
       }},
      {"TVEXAPROC",
       [](QPainter& p) {
         p.setPen(QPen(QColor(90, 60, 30), 3));
         p.drawLine(3, 21, 15, 9);
         p.setPen(QPen(QColor(250, 200, 0), 2));
         p.drawLine(18, 2, 18, 12);
         p.drawLine(13, 7, 23, 7);
         p.drawLine(15, 4, 21, 10);
         p.drawLine(21, 4, 15, 10);
       }},
      {"TVEXAVIEW",
       [](QPainter& p) {
         Picture(p, {1, 2, 22, 17});
         p.fillRect(QRect(1, 19, 22, 3), QColor(200, 200, 200));
         p.fillRect(QRect(6, 19, 8, 3), QColor(110, 110, 110));
       }},
      {"TVEXAMVIEW",
       [](QPainter& p) {
         for (int y = 0; y < 2; ++y)
           for (int x = 0; x < 2; ++x) Picture(p, {1 + x * 12, 2 + y * 11, 10, 9});
       }},
      {"TVEXAVECT",
       [](QPainter& p) {
         Picture(p, {1, 1, 22, 18});
         p.setPen(QPen(Qt::red, 2));
         p.drawEllipse(QRect(3, 5, 10, 8));
         Arrow(p, {12, 21}, {21, 12}, QColor(220, 0, 0));
       }},
      {"TVEXAVIDEOVIEW",
       [](QPainter& p) {
         p.fillRect(QRect(0, 2, 24, 20), Qt::black);
         for (int x = 2; x < 24; x += 5) {
           p.fillRect(QRect(x, 3, 3, 2), Qt::white);
           p.fillRect(QRect(x, 19, 3, 2), Qt::white);
         }
         Picture(p, {2, 6, 20, 12});
       }},
      {"TVEXAIO",
       [](QPainter& p) {
         Disk(p, {2, 2, 14, 14});
         Arrow(p, {14, 12}, {21, 20}, QColor(0, 130, 0));
         Arrow(p, {21, 9}, {14, 2}, QColor(200, 0, 0));
       }},
      {"TVEXAMIO",
       [](QPainter& p) {
         for (int i = 2; i >= 0; --i) Picture(p, {1 + i * 3, 1 + i * 3, 14, 12});
         Arrow(p, {17, 12}, {22, 21}, QColor(0, 130, 0));
       }},
      {"THISTOGRAMBOX",
       [](QPainter& p) {
         p.fillRect(QRect(0, 0, 24, 24), Qt::white);
         const int h[] = {3, 6, 11, 17, 20, 14, 9, 12, 7, 4, 2};
         for (int i = 0; i < 11; ++i) p.fillRect(QRect(1 + i * 2, 22 - h[i], 2, h[i]), QColor(40, 40, 40));
         p.setPen(QColor(120, 120, 120));
         p.drawRect(0, 0, 23, 23);
       }},
      {"TRULERBOX",
       [](QPainter& p) {
         p.fillRect(QRect(0, 7, 24, 10), QColor(250, 235, 160));
         p.setPen(Qt::black);
         p.drawRect(0, 7, 23, 9);
         for (int x = 2; x < 23; x += 2) p.drawLine(x, 8, x, x % 6 == 2 ? 14 : 10);
       }},
      {"TVXGRADIENTBAR",
       [](QPainter& p) {
         QLinearGradient g(0, 0, 24, 0);
         g.setColorAt(0, Qt::black);
         g.setColorAt(0.5, QColor(220, 40, 40));
         g.setColorAt(1, Qt::white);
         p.fillRect(QRect(1, 6, 22, 12), g);
         p.setPen(QColor(60, 60, 60));
         p.drawRect(1, 6, 21, 11);
       }},
      {"THSVBOX",
       [](QPainter& p) {
         QConicalGradient g(12, 12, 0);
         for (int i = 0; i <= 6; ++i) g.setColorAt(i / 6.0, QColor::fromHsv((i * 60) % 360, 255, 255));
         p.setPen(Qt::NoPen);
         p.setBrush(g);
         p.drawEllipse(QRect(1, 1, 22, 22));
         p.setBrush(Qt::white);
         p.drawEllipse(QRect(8, 8, 8, 8));
       }},
      {"TOPENVEXADIALOG",
       [](QPainter& p) {
         p.setPen(Qt::black);
         p.setBrush(QColor(Qt::yellow));
         p.drawPolygon(QPolygon({{1, 6}, {8, 6}, {10, 8}, {22, 8}, {22, 21}, {1, 21}}));
         p.fillRect(QRect(5, 11, 14, 8), QColor(Qt::cyan));
         p.fillRect(QRect(5, 16, 14, 3), QColor(Qt::darkGreen));
       }},
      {"TSAVEVEXADIALOG",
       [](QPainter& p) {
         Disk(p, {3, 4, 18, 18});
         Arrow(p, {12, 0}, {12, 10}, QColor(Qt::red));
       }},
  };
  return drawings;
}

}  // namespace

QPixmap VXPaletteBitmap(const std::string& upperName) {
  auto it = Drawings().find(upperName);
  if (it == Drawings().end()) return {};
  QImage image(24, 24, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  it->second(p);
  p.end();
  return QPixmap::fromImage(image);
}

}  // namespace vexa
