#include "vexa/vect/vectdraw_ui.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "vexa/view/qtbitmap_ui.h"

namespace vexa {

namespace {

constexpr double kTwoPi = 6.283185307179586;

QColor Q(TColor c) { return QColor::fromRgb(VXQRgb(c)); }

// The filled triangle of an end shape at `end`, for a line arriving from `from`.
void DrawShape(TCanvas& c, TVXShape shape, int fromX, int fromY, int endX, int endY, int width, int length,
               TColor color) {
  if (shape == vxsNONE) return;
  const double dx = endX - fromX, dy = endY - fromY, len = std::hypot(dx, dy);
  if (len == 0) return;
  const double ux = dx / len, uy = dy / len;  // along the line, towards the end
  const double half = width / 2.0;
  // OUTARROW: tip on the end point; INARROW: base on it, tip back into the line.
  const double tipX = shape == vxsOUTARROW ? endX : endX - ux * length;
  const double tipY = shape == vxsOUTARROW ? endY : endY - uy * length;
  const double baseX = shape == vxsOUTARROW ? endX - ux * length : endX;
  const double baseY = shape == vxsOUTARROW ? endY - uy * length : endY;
  const TPoint tri[3] = {{static_cast<int>(std::lround(tipX)), static_cast<int>(std::lround(tipY))},
                         {static_cast<int>(std::lround(baseX - uy * half)), static_cast<int>(std::lround(baseY + ux * half))},
                         {static_cast<int>(std::lround(baseX + uy * half)), static_cast<int>(std::lround(baseY - ux * half))}};
  const TPen pen = c.Pen;
  const TBrush brush = c.Brush;
  c.Pen = {color, 1, psSolid, pmCopy};
  c.Brush = {color, bsSolid};
  c.Polygon(tri, 3);
  c.Pen = pen;
  c.Brush = brush;
}

void DrawText(TCanvas& c, const TVXVObject& o, const TVXLogFont& f, int x1, int y1, int x2, int y2, int zoom) {
  QPainter& p = c.Painter();
  const int w = x2 - x1 + 1, h = y2 - y1 + 1;
  if (w <= 0 || h <= 0) return;
  p.save();
  p.setClipRect(x1, y1, w, h, Qt::IntersectClip);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.setFont(VXQFont(f, zoom, h));
  p.setPen(Q(o.PenColor));
  if (o.BrushStyle == bsSolid) p.fillRect(x1, y1, w, h, Q(o.BrushColor));
  // Rotated about the box's centre, so that turned text stays inside its box;
  // escapement turns counter-clockwise, Qt's rotation clockwise on screen.
  p.translate(x1 + w / 2.0, y1 + h / 2.0);
  if (f.Escapement) p.rotate(-f.Escapement / 10.0);
  static const Qt::Alignment kAlign[3] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter};
  const Qt::Alignment vertical = f.Escapement ? Qt::AlignVCenter : Qt::AlignTop;
  p.drawText(QRectF(-w / 2.0, -h / 2.0, w, h), kAlign[o.TextAlign <= 2 ? o.TextAlign : 0] | vertical | Qt::TextDontClip,
             QString::fromStdString(o.Text));
  p.restore();
}

void DrawRuler(TCanvas& c, const TVXVectModel& m, int idx, int ax, int ay, int bx, int by, int zoom) {
  const TVXVObject& o = m.Obj(idx);
  QPainter& p = c.Painter();
  c.MoveTo(ax, ay);
  c.LineTo(bx, by);
  const double dx = bx - ax, dy = by - ay, len = std::hypot(dx, dy);
  if (len < 1) return;
  const double ux = dx / len, uy = dy / len;  // along A->B
  const double nx = -uy, ny = ux;             // across it
  QFont font("Arial");
  font.setPointSize(10);
  const QFontMetrics fm(font);
  p.save();
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.setFont(font);
  p.setPen(QPen(Q(o.PenColor), 0, Qt::SolidLine, Qt::FlatCap));
  if (o.RulerType == vxrtRULER) {
    // A tick every step, the step being the smallest power of ten of bitmap pixels
    // at least 4 screen pixels long; every 5th and 10th longer, every 10th numbered.
    double step = 1;
    while (step * zoom / 100 < 4) step *= 10;
    const double screenStep = step * zoom / 100;
    const int ticks = static_cast<int>(std::min(len / screenStep, 100000.0));
    for (int i = 0; i <= ticks; ++i) {
      const double t = i * screenStep;
      const int size = i % 10 == 0 ? 9 : (i % 5 == 0 ? 6 : 3);
      const QPointF at(ax + ux * t, ay + uy * t);
      // From the pixel next to the line, `size` pixels long (the flat cap leaves the last point out).
      p.drawLine(at + QPointF(nx, ny), at + QPointF(nx * (size + 1), ny * (size + 1)));
      if (i % 10 == 0 && i > 0) {
        p.save();
        p.translate(at + QPointF(nx * 10, ny * 10));
        p.rotate(std::atan2(dy, dx) * 180 / M_PI);
        p.drawText(QPointF(2, fm.ascent()), QString::number(i / 10));
        p.restore();
      }
    }
    p.restore();
    return;
  }
  // Bars across both ends.
  for (const QPointF end : {QPointF(ax, ay), QPointF(bx, by)})
    p.drawLine(end - QPointF(nx * 4, ny * 4), end + QPointF(nx * 4, ny * 4));
  QString label = QString::fromStdString(VXRulerLabel(m, idx, zoom));
  if (o.RulerType == vxrtQUOTEBEGIN) label.prepend(' ');
  const int tw = fm.horizontalAdvance(label);
  const double along = o.RulerType == vxrtQUOTEBEGIN ? 0 : o.RulerType == vxrtQUOTECENTER ? (len - tw) / 2 : len - tw;
  p.translate(ax + ux * along, ay + uy * along);
  p.rotate(std::atan2(dy, dx) * 180 / M_PI);
  // The baseline sits just above the line.
  p.drawText(QPointF(0, -fm.descent() - 2), label);
  p.restore();
}

}  // namespace

QFont VXQFont(const TVXLogFont& f, int zoom, int boxHeight) {
  QFont font(QString::fromStdString(f.Face()));
  const int h = f.Height != 0 ? static_cast<int>(std::abs(static_cast<int64_t>(f.Height)) * zoom / 100) : boxHeight;
  font.setPixelSize(std::clamp(h, 1, 4096));
  font.setWeight(f.Weight >= 700 ? QFont::Bold : QFont::Normal);
  font.setItalic(f.Italic);
  font.setUnderline(f.Underline);
  font.setStrikeOut(f.StrikeOut);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

int VXObjectPenWidth(int width, int zoom, bool zoomWidth) {
  if (!zoomWidth) return width;
  return std::max(1, static_cast<int>(static_cast<int64_t>(width) * zoom / 100));
}

std::string VXRulerLabel(const TVXVectModel& m, int idx, int zoom) {
  const TVXVObject& o = m.Obj(idx);
  double cx, cy;
  m.CalcCoef(cx, cy, o.RulerUnit);
  // From the drawn end points back to bitmap pixels, as the ruler is seen.
  const double f = 100.0 / zoom;
  const double lx = std::abs((static_cast<int64_t>(o.Right) * zoom / 100) - (static_cast<int64_t>(o.Left) * zoom / 100)) * f * cx;
  const double ly = std::abs((static_cast<int64_t>(o.Bottom) * zoom / 100) - (static_cast<int64_t>(o.Top) * zoom / 100)) * f * cy;
  return m.MeasureText(std::sqrt(lx * lx + ly * ly), o.RulerUnit, false);
}

void VXDrawObjects(TCanvas& c, const TVXVectModel& m, int frame, const TVXDrawContext& ctx) {
  for (int child : m.Obj(frame).Children) VXDrawObject(c, m, child, ctx);
}

void VXDrawObject(TCanvas& c, const TVXVectModel& m, int idx, const TVXDrawContext& ctx) {
  const TVXVObject& o = m.Obj(idx);
  if (!o.Has(vxvsVisible)) return;
  if (o.Kind == vxkFRAME) {
    VXDrawObjects(c, m, idx, ctx);
    return;
  }
  const TVXViewGeometry& g = ctx.Geom;
  const int x1 = VXObjX(g, o.Left), y1 = VXObjY(g, o.Top), x2 = VXObjX(g, o.Right), y2 = VXObjY(g, o.Bottom);
  const int penWidth = VXObjectPenWidth(o.PenWidth, g.Zoom, ctx.ZoomObjectsWidth);
  if (ctx.Clip.Right > ctx.Clip.Left) {
    // Pen, arrow heads and ruler labels reach past the rectangle; allow for them.
    int margin = penWidth + 2;
    if (o.Kind == vxkLINE) margin += std::max(o.ShapeWidth, o.ShapeHeight);
    if (o.Kind == vxkRULER) margin += 40;
    if (!_RectXRect(std::min(x1, x2) - margin, std::min(y1, y2) - margin, std::max(x1, x2) + margin,
                    std::max(y1, y2) + margin, ctx.Clip.Left, ctx.Clip.Top, ctx.Clip.Right - 1, ctx.Clip.Bottom - 1))
      return;
  }
  c.Pen = {o.PenColor, penWidth, o.PenStyle, pmCopy};
  c.Brush = {o.BrushColor, o.BrushStyle};
  QPainter& p = c.Painter();
  switch (o.Kind) {
    case vxkLINE:
      c.MoveTo(x1, y1);
      c.LineTo(x2, y2);
      DrawShape(c, o.BeginShape, x2, y2, x1, y1, o.ShapeWidth, o.ShapeHeight, o.PenColor);
      DrawShape(c, o.EndShape, x1, y1, x2, y2, o.ShapeWidth, o.ShapeHeight, o.PenColor);
      break;
    case vxkBOX:
      c.Rectangle(x1, y1, x2 + 1, y2 + 1);
      break;
    case vxkELLIPSE:
      c.Ellipse(x1, y1, x2 + 1, y2 + 1);
      break;
    case vxkARC: {
      if (o.PenStyle == psClear) break;
      static const Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                             Qt::DashDotDotLine, Qt::NoPen};
      QPen pen(Q(o.PenColor), penWidth <= 1 ? 0 : penWidth, kStyles[o.PenStyle], Qt::FlatCap);
      p.save();
      p.setRenderHint(QPainter::Antialiasing, false);
      p.setCompositionMode(QPainter::CompositionMode_SourceOver);
      p.setPen(pen);
      double span = std::fmod(o.Angle1 - o.Angle2, kTwoPi);
      if (span < 0) span += kTwoPi;
      if (span == 0 && o.Angle1 != o.Angle2) span = kTwoPi;
      // Qt counts counter-clockwise from 3 o'clock in 1/16 degree; our angles run
      // clockwise on screen, so the start is -Angle1 and the span positive.
      const int start = static_cast<int>(std::lround(-o.Angle1 * 180 / M_PI * 16));
      const int spanQ = static_cast<int>(std::lround(span * 180 / M_PI * 16));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRect(x1, y1, x2 - x1, y2 - y1), start, spanQ);
      p.restore();
      break;
    }
    case vxkBITMAP: {
      const TBitmap* bmp = m.ObjBitmap(idx);
      if (!bmp || bmp->Empty()) break;
      p.save();
      p.setRenderHint(QPainter::SmoothPixmapTransform, false);
      p.setCompositionMode(QPainter::CompositionMode_SourceOver);
      p.drawImage(QRect(x1, y1, x2 - x1 + 1, y2 - y1 + 1), VXBitmapToQImage(*bmp));
      p.restore();
      break;
    }
    case vxkTEXT:
      if (idx == ctx.EditingText) {
        c.Pen = {o.PenColor, 1, psSolid, pmCopy};
        c.Brush.Style = bsClear;
        c.Rectangle(x1 - 1, y1 - 1, x2 + 2, y2 + 2);
      } else if (!o.Text.empty()) {
        DrawText(c, o, m.ObjFont(idx), x1, y1, x2, y2, g.Zoom);
      }
      break;
    case vxkRULER:
      DrawRuler(c, m, idx, x1, y1, x2, y2, g.Zoom);
      break;
    default:
      break;
  }
}

void VXDrawGrips(TCanvas& c, const TVXVectModel& m, const TVXViewGeometry& g) {
  c.Pen = {clBlack, 1, psSolid, pmNot};
  c.Brush = {clBlack, bsClear};
  for (int idx : m.GetSelObjects()) {
    const TVXVObject& o = m.Obj(idx);
    auto square = [&](int bx, int by) {
      const int x = VXObjX(g, bx), y = VXObjY(g, by);
      c.Rectangle(x - 4, y - 4, x + 5, y + 5);
    };
    square(o.Left, o.Top);
    square(o.Right, o.Bottom);
    if (!o.IsSegment()) {
      square(o.Right, o.Top);
      square(o.Left, o.Bottom);
    }
    const int cx = VXObjX(g, o.Left + (o.Right - o.Left + 1) / 2), cy = VXObjY(g, o.Top + (o.Bottom - o.Top + 1) / 2);
    const TPoint diamond[5] = {{cx, cy - 4}, {cx + 4, cy}, {cx, cy + 4}, {cx - 4, cy}, {cx, cy - 4}};
    c.Polyline(diamond, 5);
  }
  c.Pen.Mode = pmCopy;
}

void VXBurnObjects(const TVXVectModel& m, TBitmap& bmp) {
  if (bmp.Empty()) return;
  QImage img = VXBitmapToQImage(bmp);
  {
    QPainter p(&img);
    TCanvas c(p);
    TVXDrawContext ctx;
    ctx.Geom.BmpW = bmp.Width();
    ctx.Geom.BmpH = bmp.Height();
    ctx.Clip = {0, 0, bmp.Width(), bmp.Height()};
    VXDrawObjects(c, m, kVXRoot, ctx);
  }
  VXQImageToBitmap(img, bmp);
}

}  // namespace vexa
