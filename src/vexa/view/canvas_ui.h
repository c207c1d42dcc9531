// The drawing surface control code paints with: pen, brush, font and a few
// primitives over a QPainter, with the pixel rules of a classic GDI canvas.
//
// - No antialiasing: every primitive lands on whole pixels.
// - LineTo draws from the current position up to, not including, the end point.
// - Rectangle and FillRect take Right/Bottom exclusive.
// - Pen modes pmNot and pmXor invert the destination, so drawing twice erases;
//   they need a raster surface (a QImage or a widget's backing store).
// - Brush hatches are drawn over an opaque white background, as a GDI hatch brush
//   is in opaque mode.
// - Font escapement is in tenths of a degree, counter-clockwise.
#pragma once

#include <memory>
#include <string>

#include "vexa/core/bitmap.h"
#include "vexa/core/drawstyles.h"
#include "vexa/view/viewgeometry.h"

class QPainter;
class QPaintDevice;
class QImage;

namespace vexa {

enum TPenMode { pmCopy, pmNot, pmXor };

struct TPen {
  TColor Color = clBlack;
  int Width = 1;
  TPenStyle Style = psSolid;
  TPenMode Mode = pmCopy;
};

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
};

class TCanvas {
 public:
  /// Paints through an existing painter (not owned).
  explicit TCanvas(QPainter& painter);
  /// Opens a painter on the device for the canvas' lifetime.
  explicit TCanvas(QPaintDevice* device);
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TPen Pen;
  TBrush Brush;
  TFont Font;

  QPainter& Painter() { return *FPainter; }

  void MoveTo(int x, int y) {
    FPenX = x;
    FPenY = y;
  }
  void LineTo(int x, int y);
  void SetPixel(int x, int y, TColor color);
  /// Fills with the brush, no outline.
  void FillRect(const TRect& r);
  /// Outline with the pen, inside with the brush.
  void Rectangle(int x1, int y1, int x2, int y2);
  void Ellipse(int x1, int y1, int x2, int y2);
  void Polygon(const TPoint* pts, int count);
  void Polyline(const TPoint* pts, int count);
  void TextOut(int x, int y, const std::string& text);
  int TextWidth(const std::string& text);
  int TextHeight(const std::string& text);
  /// Draws the source rectangle of a bitmap stretched onto dst, nearest neighbour.
  void StretchDraw(const TRect& dst, const TBitmap& bmp, const TVXSourceRect& src);
  void Draw(int x, int y, const TBitmap& bmp);
  void DrawImage(int x, int y, const QImage& image);
  /// Removes a rectangle from the area later drawing may touch.
  void ExcludeClipRect(const TRect& r);

 private:
  void ApplyPen();
  void ApplyBrush();
  void ApplyFont();
  std::unique_ptr<QPainter> FOwned;
  QPainter* FPainter;
  int FPenX = 0, FPenY = 0;
};

/// The Qt colour of a TColor (system colours resolved).
unsigned VXQRgb(TColor color);

}  // namespace vexa
