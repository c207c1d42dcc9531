// The device side of the metafile player: filling, stroking, blitting and text
// coverage on a pf24bit bitmap, in device pixels, without antialiasing.
//
// Coordinates are doubles in pixels, a pixel's centre at (x + 0.5, y + 0.5); a
// pixel is inside a shape when its centre is. Everything is clipped to the bitmap
// and to the current clip, a set of device rectangles (right and bottom
// exclusive); no call touches memory outside the bitmap, whatever the numbers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/textservice.h"

namespace vexa {

/// A device position in pixels.
struct TVXMPoint {
  double X = 0, Y = 0;
};
using TVXMPolygon = std::vector<TVXMPoint>;

enum TVXMFillRule { frAlternate, frWinding };

/// Where drawing may happen: everywhere, or inside a union of disjoint rectangles.
struct TVXMClip {
  bool Everywhere = true;
  std::vector<TRect> Rects;
  void Intersect(const TRect& r);
  void Exclude(const TRect& r);
  void Offset(int dx, int dy);
  /// The pieces of [x0, x1) on row y that lie inside.
  template <class F>
  void Spans(int y, int x0, int x1, F&& fn) const {
    if (Everywhere) {
      if (x0 < x1) fn(x0, x1);
      return;
    }
    for (const TRect& r : Rects) {
      if (y < r.Top || y >= r.Bottom) continue;
      int a = std::max(x0, r.Left), b = std::min(x1, r.Right);
      if (a < b) fn(a, b);
    }
  }
  /// Bounds on the rectangles one clip may hold; exclusions beyond it are dropped.
  static constexpr size_t kMaxRects = 256;
};

/// How an area is painted: a solid colour, a hatch (with or without its background)
/// or a pattern bitmap tiled from the device origin.
struct TVXMPaint {
  enum TKind { pkNone, pkSolid, pkHatch, pkPattern } Kind = pkSolid;
  TColor Color = clBlack;
  int Hatch = 0;  // HS_HORIZONTAL .. HS_DIAGCROSS
  bool Opaque = false;
  TColor Back = clWhite;
  std::shared_ptr<const TBitmap> Pattern;  // pf24bit
};

enum TVXMCap { capRound, capSquare, capFlat };
enum TVXMJoin { joinRound, joinBevel, joinMiter };

/// How a line is drawn.
struct TVXMStroke {
  TColor Color = clBlack;
  /// Device pixels; below 1.5 the line is one pixel wide (a cosmetic pen).
  double Width = 1;
  TVXMCap Cap = capRound;
  TVXMJoin Join = joinRound;
  double MiterLimit = 10;
  /// Alternating on and off lengths in device pixels; empty draws solid.
  std::vector<double> Dash;
};

/// Raster operations of the blits (the ternary codes the formats store).
constexpr uint32_t kRopSrcCopy = 0x00CC0020, kRopSrcPaint = 0x00EE0086, kRopSrcAnd = 0x008800C6,
                   kRopSrcInvert = 0x00660046, kRopNotSrcCopy = 0x00330008, kRopSrcErase = 0x00440328,
                   kRopPatCopy = 0x00F00021, kRopBlackness = 0x00000042, kRopWhiteness = 0x00FF0062,
                   kRopDstInvert = 0x00550009, kRopPatInvert = 0x005A0049;

/// Draws in device pixels onto one pf24bit bitmap, inside the current clip.
class TVXMetaRaster {
 public:
  /// dst must be pf24bit and outlive the raster.
  explicit TVXMetaRaster(TBitmap& dst) : FDst(dst) {}

  void SetClip(const TVXMClip* clip) { FClip = clip; }

  /// snap: corners are rounded to whole pixels first (shapes); off for stroke pieces.
  void FillPolygons(const std::vector<TVXMPolygon>& polys, TVXMFillRule rule, const TVXMPaint& paint,
                    bool snap = true);
  void Stroke(const TVXMPolygon& pts, bool closed, const TVXMStroke& stroke);
  void PutPixel(int x, int y, TColor color);
  /// Draws the srcRect part of src (pf24bit or pf1bit) onto the device rectangle whose
  /// corners are (x0, y0) and (x1, y1) (mirrored when x1 < x0 or y1 < y0), nearest
  /// neighbour, combining source and destination by rop.
  void Blit(const TBitmap& src, const TRect& srcRect, double x0, double y0, double x1, double y1, uint32_t rop);
  /// Pattern-only operations over a device rectangle (PATCOPY, BLACKNESS, DSTINVERT...).
  void PatBlt(double x0, double y0, double x1, double y1, uint32_t rop, const TVXMPaint& paint);
  /// Blends a text mask in color with its baseline origin at (x, y).
  void DrawText(const TVXTextImage& text, double x, double y, TColor color);

 private:
  template <class F>
  void Spans(const std::vector<TVXMPolygon>& polys, TVXMFillRule rule, bool snap, F&& fn);
  void Line(double x0, double y0, double x1, double y1, TColor color, bool lastPixel);

  TBitmap& FDst;
  const TVXMClip* FClip = nullptr;
};

}  // namespace vexa
