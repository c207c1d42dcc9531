#include "vexa/view/canvas_ui.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>
#include <QRegion>

#include "vexa/view/qtbitmap_ui.h"

namespace vexa {

unsigned VXQRgb(TColor color) {
  const TColor c = ColorToRGB(color);
  return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

TCanvas::TCanvas(QPainter& painter) : FPainter(&painter) {}

TCanvas::TCanvas(QPaintDevice* device) : FOwned(std::make_unique<QPainter>(device)), FPainter(FOwned.get()) {}

TCanvas::~TCanvas() = default;

void TCanvas::ApplyPen() {
  if (Pen.Style == psClear) {
    FPainter->setPen(Qt::NoPen);
  } else {
    QPen pen{QColor::fromRgb(VXQRgb(Pen.Color))};
    pen.setWidth(Pen.Width <= 1 ? 0 : Pen.Width);
    // A flat cap leaves the end point undrawn, as LineTo does.
    pen.setCapStyle(Qt::FlatCap);
    static const Qt::PenStyle styles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                          Qt::DashDotDotLine, Qt::NoPen};
    pen.setStyle(styles[Pen.Style]);
    FPainter->setPen(pen);
  }
  FPainter->setRenderHint(QPainter::Antialiasing, false);
  switch (Pen.Mode) {
    case pmNot:
      FPainter->setCompositionMode(QPainter::RasterOp_NotDestination);
      break;
    case pmXor:
      FPainter->setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      break;
    default:
      FPainter->setCompositionMode(QPainter::CompositionMode_SourceOver);
  }
}

void TCanvas::ApplyBrush() {
  static const Qt::BrushStyle styles[] = {Qt::SolidPattern, Qt::NoBrush,      Qt::HorPattern,   Qt::VerPattern,
                                          Qt::FDiagPattern, Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
  FPainter->setBrush(QBrush(QColor::fromRgb(VXQRgb(Brush.Color)), styles[Brush.Style]));
  const bool hatch = Brush.Style >= bsHorizontal;
  FPainter->setBackgroundMode(hatch ? Qt::OpaqueMode : Qt::TransparentMode);
  FPainter->setBackground(Qt::white);
}

void TCanvas::ApplyFont() {
  QFont f(QString::fromStdString(Font.Name));
  f.setPointSize(Font.Size > 0 ? Font.Size : 8);
  f.setBold(Font.Bold);
  f.setItalic(Font.Italic);
  f.setUnderline(Font.Underline);
  FPainter->setFont(f);
}

void TCanvas::LineTo(int x, int y) {
  ApplyPen();
  if (Pen.Style != psClear && (x != FPenX || y != FPenY)) FPainter->drawLine(FPenX, FPenY, x, y);
  FPenX = x;
  FPenY = y;
}

void TCanvas::SetPixel(int x, int y, TColor color) {
  FPainter->setCompositionMode(QPainter::CompositionMode_Source);
  FPainter->fillRect(x, y, 1, 1, QColor::fromRgb(VXQRgb(color)));
}

void TCanvas::FillRect(const TRect& r) {
  if (r.Width() <= 0 || r.Height() <= 0) return;
  ApplyPen();
  ApplyBrush();
  FPainter->setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (Brush.Style >= bsHorizontal) FPainter->fillRect(r.Left, r.Top, r.Width(), r.Height(), Qt::white);
  FPainter->fillRect(r.Left, r.Top, r.Width(), r.Height(), FPainter->brush());
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  if (x2 <= x1 || y2 <= y1) return;
  FillRect({x1, y1, x2, y2});
  if (Pen.Style == psClear) return;
  ApplyPen();
  FPainter->setBrush(Qt::NoBrush);
  // Outline on the outermost pixels, inside the exclusive right/bottom.
  FPainter->drawRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1);
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  ApplyPen();
  ApplyBrush();
  FPainter->drawEllipse(x1, y1, x2 - x1 - 1, y2 - y1 - 1);
}

void TCanvas::Polygon(const TPoint* pts, int count) {
  if (count < 2) return;
  QPolygon poly;
  for (int i = 0; i < count; ++i) poly << QPoint(pts[i].X, pts[i].Y);
  ApplyPen();
  ApplyBrush();
  FPainter->drawPolygon(poly, Qt::OddEvenFill);
}

void TCanvas::Polyline(const TPoint* pts, int count) {
  if (count < 1) return;
  MoveTo(pts[0].X, pts[0].Y);
  for (int i = 1; i < count; ++i) LineTo(pts[i].X, pts[i].Y);
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  ApplyFont();
  FPainter->setCompositionMode(QPainter::CompositionMode_SourceOver);
  FPainter->setPen(QColor::fromRgb(VXQRgb(Font.Color)));
  const QFontMetrics fm(FPainter->font());
  FPainter->save();
  FPainter->translate(x, y);
  if (Font.Escapement) FPainter->rotate(-Font.Escapement / 10.0);
  const QString s = QString::fromStdString(text);
  if (Brush.Style != bsClear) FPainter->fillRect(0, 0, fm.horizontalAdvance(s), fm.height(), QColor::fromRgb(VXQRgb(Brush.Color)));
  // Text is positioned by its top-left cell corner, not its baseline.
  FPainter->drawText(0, fm.ascent(), s);
  FPainter->restore();
}

int TCanvas::TextWidth(const std::string& text) {
  ApplyFont();
  return QFontMetrics(FPainter->font()).horizontalAdvance(QString::fromStdString(text));
}

int TCanvas::TextHeight(const std::string&) {
  ApplyFont();
  return QFontMetrics(FPainter->font()).height();
}

void TCanvas::StretchDraw(const TRect& dst, const TBitmap& bmp, const TVXSourceRect& src) {
  const QImage img = VXBitmapToQImage(bmp, src, dst.Width(), dst.Height());
  if (!img.isNull()) DrawImage(dst.Left, dst.Top, img);
}

void TCanvas::Draw(int x, int y, const TBitmap& bmp) {
  const QImage img = VXBitmapToQImage(bmp);
  if (!img.isNull()) DrawImage(x, y, img);
}

void TCanvas::DrawImage(int x, int y, const QImage& image) {
  FPainter->setCompositionMode(QPainter::CompositionMode_Source);
  FPainter->drawImage(x, y, image);
  FPainter->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TCanvas::ExcludeClipRect(const TRect& r) {
  const QRegion current = FPainter->hasClipping() ? FPainter->clipRegion()
                                                  : QRegion(FPainter->window());
  FPainter->setClipRegion(current.subtracted(QRegion(r.Left, r.Top, r.Width(), r.Height())));
}

}  // namespace vexa
