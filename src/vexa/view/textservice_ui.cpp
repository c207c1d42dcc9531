#include "vexa/view/textservice_ui.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cmath>

namespace vexa {

namespace {

// A rendered string larger than this (pixels) is refused rather than allocated.
constexpr double kMaxPixels = 1 << 24;

class TVXQtTextService : public TVXTextService {
 public:
  bool Render(const TVXFontSpec& spec, const std::string& text, const std::vector<double>& advances,
              TVXTextImage& out) override {
    QFont font;
    if (!spec.Face.empty()) font.setFamily(QString::fromStdString(spec.Face));
    font.setStyleHint(QFont::SansSerif);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setWeight(static_cast<QFont::Weight>(std::clamp(spec.Weight, 100, 900)));
    font.setItalic(spec.Italic);
    font.setUnderline(spec.Underline);
    font.setStrikeOut(spec.StrikeOut);
    double px = spec.Height;
    if (spec.CellHeight) {
      // A cell height includes the face's own leading above and below the em.
      QFont probe(font);
      probe.setPixelSize(100);
      QFontMetricsF m(probe);
      if (double cell = m.ascent() + m.descent(); cell > 0) px = spec.Height * 100 / cell;
    }
    font.setPixelSize(static_cast<int>(std::clamp(std::lround(px), 1l, 4096l)));
    if (spec.Width > 0) {
      QFontMetricsF m(font);
      if (double avg = m.averageCharWidth(); avg > 0)
        font.setStretch(static_cast<int>(std::clamp(std::lround(100 * spec.Width / avg), 1l, 4000l)));
    }
    const QFontMetricsF m(font);
    const QString s = QString::fromStdString(text);
    std::vector<double> xs;
    double advance = 0;
    if (advances.empty()) {
      advance = m.horizontalAdvance(s);
    } else {
      for (qsizetype i = 0; i < s.size(); ++i) {
        xs.push_back(advance);
        advance += i < static_cast<qsizetype>(advances.size()) ? advances[static_cast<size_t>(i)] : 0;
      }
    }
    out.Advance = advance, out.Ascent = m.ascent(), out.Descent = m.descent();

    // The cell, with room for italic overhang, rotated: its bounds size the mask.
    QTransform rot;
    rot.rotate(-spec.Angle);
    double slack = m.ascent() / 2 + 2;
    QRectF cell(-slack, -m.ascent() - 2, std::max(advance, m.horizontalAdvance(s)) + 2 * slack,
                m.ascent() + m.descent() + 4);
    QRectF box = rot.mapRect(cell);
    int w = static_cast<int>(std::ceil(box.width())) + 2, h = static_cast<int>(std::ceil(box.height())) + 2;
    if (w <= 0 || h <= 0 || double(w) * h > kMaxPixels) return false;
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    out.OriginX = 1 - box.left(), out.OriginY = 1 - box.top();
    {
      QPainter p(&img);
      p.setRenderHint(QPainter::TextAntialiasing, false);
      p.setPen(Qt::white);
      p.setFont(font);
      p.translate(out.OriginX, out.OriginY);
      p.rotate(-spec.Angle);
      if (xs.empty()) {
        p.drawText(QPointF(0, 0), s);
      } else {
        for (qsizetype i = 0; i < s.size(); ++i) {
          // A surrogate pair is one character at the first unit's position.
          qsizetype n = s[i].isHighSurrogate() && i + 1 < s.size() ? 2 : 1;
          p.drawText(QPointF(xs[static_cast<size_t>(i)], 0), s.mid(i, n));
          i += n - 1;
        }
      }
    }
    out.Width = w, out.Height = h;
    out.Coverage.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) {
      const QRgb* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
      for (int x = 0; x < w; ++x) out.Coverage[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(qAlpha(row[x]));
    }
    return true;
  }
};

}  // namespace

TVXTextService& VXQtTextService() {
  static TVXQtTextService service;
  return service;
}

}  // namespace vexa
