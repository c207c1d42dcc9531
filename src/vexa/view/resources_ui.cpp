#include "vexa/view/resources_ui.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>
#include <map>

namespace vexa {

namespace {

using TDraw = std::function<void(QPainter&)>;

struct TCursorDrawing {
  int HotX, HotY;
  TDraw Shape;
};

// A white halo under black strokes: visible on any picture.
QCursor Stroked(const TCursorDrawing& d) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  d.Shape(p);
  p.setPen(QPen(Qt::black, 1));
  d.Shape(p);
  p.end();
  return QCursor(pm, d.HotX, d.HotY);
}

void ArrowHead(QPainter& p, QPoint tip, int dx, int dy) {
  // dx, dy: the arrow's direction, one of the eight compass steps.
  const QPoint back(-dx * 4, -dy * 4), side(-dy * 3, dx * 3);
  p.drawLine(tip, tip + back + side);
  p.drawLine(tip, tip + back - side);
}

void DoubleArrow(QPainter& p, QPoint a, QPoint b) {
  p.drawLine(a, b);
  const int dx = (b.x() > a.x()) - (b.x() < a.x()), dy = (b.y() > a.y()) - (b.y() < a.y());
  ArrowHead(p, b, dx, dy);
  ArrowHead(p, a, -dx, -dy);
}

void FourWay(QPainter& p) {
  DoubleArrow(p, {15, 3}, {15, 27});
  DoubleArrow(p, {3, 15}, {27, 15});
}

void Cross(QPainter& p, int gap) {
  p.drawLine(15, 2, 15, 15 - gap);
  p.drawLine(15, 15 + gap, 15, 28);
  p.drawLine(2, 15, 15 - gap, 15);
  p.drawLine(15 + gap, 15, 28, 15);
}

void Magnifier(QPainter& p, bool plus) {
  p.drawEllipse(4, 4, 16, 16);
  p.drawLine(19, 19, 28, 28);
  p.drawLine(8, 12, 16, 12);
  if (plus) p.drawLine(12, 8, 12, 16);
}

const std::map<std::string, TCursorDrawing>& Cursors() {
  static const std::map<std::string, TCursorDrawing> cursors = {
      {"CROCE", {15, 15, [](QPainter& p) { Cross(p, 0); }}},
      {"CROCE1",
       {15, 15,
        [](QPainter& p) {
          Cross(p, 4);
          p.drawPoint(15, 15);
        }}},
      {"CROCE2",
       {15, 15,
        [](QPainter& p) {
          Cross(p, 4);
          p.drawRect(11, 11, 8, 8);
        }}},
      {"GOMMA",
       {4, 27,
        [](QPainter& p) {
          p.drawPolygon(QPolygon({{4, 22}, {18, 8}, {26, 16}, {12, 30}}));
          p.drawLine(11, 15, 19, 23);
        }}},
      {"MANO",
       {14, 6,
        [](QPainter& p) {
          for (int i = 0; i < 4; ++i) p.drawRect(8 + i * 4, 4 + (i == 0 || i == 3 ? 3 : 0), 3, 12);
          p.drawLine(4, 14, 8, 18);
          p.drawRect(8, 15, 15, 11);
        }}},
      {"MOVE", {15, 15, FourWay}},
      {"MOVE1",
       {15, 15,
        [](QPainter& p) {
          FourWay(p);
          p.drawRect(19, 19, 9, 9);
        }}},
      {"MOVE2",
       {15, 15,
        [](QPainter& p) {
          FourWay(p);
          p.drawLine(23, 19, 23, 27);
          p.drawLine(19, 23, 27, 23);
        }}},
      {"MOVEX", {15, 15, [](QPainter& p) { DoubleArrow(p, {3, 15}, {27, 15}); }}},
      {"MOVEY", {15, 15, [](QPainter& p) { DoubleArrow(p, {15, 3}, {15, 27}); }}},
      {"PENNA",
       {2, 29,
        [](QPainter& p) {
          p.drawPolygon(QPolygon({{2, 29}, {5, 21}, {23, 3}, {28, 8}, {10, 26}}));
          p.drawLine(5, 21, 10, 26);
        }}},
      {"RESIZE", {15, 15, [](QPainter& p) { DoubleArrow(p, {5, 5}, {25, 25}); }}},
      {"ZOOMMENO", {12, 12, [](QPainter& p) { Magnifier(p, false); }}},
      {"ZOOMPIU", {12, 12, [](QPainter& p) { Magnifier(p, true); }}},
  };
  return cursors;
}

// Button bitmaps keep to the sixteen basic colours of the original 4-bit pictures.
const std::map<std::string, TDraw>& Bitmaps() {
  static const std::map<std::string, TDraw> bitmaps = {
      {"IDB_PLAY",
       [](QPainter& p) {
         p.setPen(Qt::NoPen);
         p.setBrush(QColor(Qt::darkGreen));
         p.drawPolygon(QPolygon({{4, 2}, {13, 8}, {4, 14}}));
       }},
      {"IDB_STOP",
       [](QPainter& p) {
         p.fillRect(QRect(3, 3, 10, 10), QColor(Qt::darkRed));
         p.setPen(QColor(Qt::black));
         p.drawRect(3, 3, 9, 9);
       }},
      {"IDB_PREVIEW",
       [](QPainter& p) {
         p.setPen(QColor(Qt::black));
         p.setBrush(QColor(Qt::cyan));
         p.drawEllipse(1, 1, 10, 10);
         p.drawLine(10, 10, 14, 14);
         p.drawLine(11, 10, 15, 14);
       }},
  };
  return bitmaps;
}

QToolButton* ImageButton(const char* objectName, const char* bitmap, const QString& tip, QWidget* parent) {
  auto* b = new QToolButton(parent);
  b->setObjectName(QLatin1String(objectName));
  b->setIcon(QIcon(VXResourceBitmap(bitmap)));
  b->setToolTip(tip);
  return b;
}

}  // namespace

QCursor VXResourceCursor(const std::string& name) {
  static std::map<std::string, QCursor> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  auto d = Cursors().find(name);
  if (d == Cursors().end()) return QCursor(Qt::ArrowCursor);
  return cache.emplace(name, Stroked(d->second)).first->second;
}

QPixmap VXResourceBitmap(const std::string& name) {
  auto d = Bitmaps().find(name);
  if (d == Bitmaps().end()) return {};
  QImage image(16, 16, QImage::Format_RGB32);
  image.fill(QColor(Qt::lightGray));  // the button face of the 16-colour palette
  QPainter p(&image);
  d->second(p);
  p.end();
  return QPixmap::fromImage(image);
}

QWidget* VXCreateDialogLayout(const std::string& name, QWidget* parent) {
  const bool open = name == "IDD_VXTEMPLATE";
  if (!open && name != "IDD_VXTEMPLATE1") return nullptr;
  auto* panel = new QWidget(parent);
  panel->setObjectName(QString::fromStdString(name));
  auto* check = new QCheckBox(QStringLiteral("Preview"), panel);
  check->setObjectName(QStringLiteral("PreviewCheck"));
  check->setChecked(true);
  auto* area = new QFrame(panel);
  area->setObjectName(QStringLiteral("PreviewArea"));
  area->setFrameShape(QFrame::StyledPanel);
  area->setMinimumSize(160, 120);
  auto* info = new QLabel(panel);
  info->setObjectName(QStringLiteral("InfoLabel"));
  info->setWordWrap(true);

  auto* buttons = new QHBoxLayout;
  if (open) {
    buttons->addWidget(ImageButton("PlayButton", "IDB_PLAY", QStringLiteral("Play"), panel));
    buttons->addWidget(ImageButton("StopButton", "IDB_STOP", QStringLiteral("Stop"), panel));
  } else {
    buttons->addWidget(ImageButton("PreviewButton", "IDB_PREVIEW", QStringLiteral("Preview"), panel));
    auto* advanced = new QPushButton(QStringLiteral("Advanced"), panel);
    advanced->setObjectName(QStringLiteral("AdvancedButton"));
    buttons->addWidget(advanced);
  }
  buttons->addStretch(1);

  auto* layout = new QVBoxLayout(panel);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(check);
  layout->addWidget(area, 1);
  layout->addWidget(info);
  layout->addLayout(buttons);
  return panel;
}

const std::vector<std::string>& VXResourceCursorNames() {
  static const std::vector<std::string> names = {"CROCE", "CROCE1", "CROCE2", "GOMMA",  "MANO",
                                                  "MOVE",  "MOVE1",  "MOVE2",  "MOVEX",  "MOVEY",
                                                  "PENNA", "RESIZE", "ZOOMMENO", "ZOOMPIU"};
  return names;
}

const std::vector<std::string>& VXResourceBitmapNames() {
  static const std::vector<std::string> names = {"IDB_PLAY", "IDB_PREVIEW", "IDB_STOP"};
  return names;
}

const std::vector<std::string>& VXDialogLayoutNames() {
  static const std::vector<std::string> names = {"IDD_VXTEMPLATE", "IDD_VXTEMPLATE1"};
  return names;
}

}  // namespace vexa
