// The record side of the metafile player: the device-context state machine that
// reads WMF and EMF records and drives the raster (metafile_raster.h).
//
// Coordinates pass through three spaces. Logical units are what the records hold.
// The frame space is the picture's own: logical units of the picture frame for
// WMF (the player owns the viewport, so the window maps straight onto the frame),
// reference-device pixels for EMF (world transform, then window/viewport by mapping
// mode). The frame rectangle of that space is then stretched onto the destination.
//
// Without a bitmap the player only measures: it plays every record and collects
// the frame-space bounds of what would be drawn, pen widths included.
//
// Malformed input never reads outside a record: reads past its end answer 0, counts
// are checked against the record before use, and the object table, saved states,
// paths and clip rectangles are bounded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/bytereader.h"
#include "vexa/io/metafile_raster.h"

namespace vexa {

/// Little-endian reads that answer 0 outside the record instead of reading past it.
struct TVXMBytes {
  const uint8_t* P = nullptr;
  size_t N = 0;
  bool Has(size_t off, size_t len) const { return off <= N && len <= N - off; }
  uint8_t U8(size_t off) const { return Has(off, 1) ? P[off] : 0; }
  uint16_t U16(size_t off) const { return Has(off, 2) ? VXLoadU16(P + off) : 0; }
  int16_t I16(size_t off) const { return static_cast<int16_t>(U16(off)); }
  uint32_t U32(size_t off) const { return Has(off, 4) ? VXLoadU32(P + off) : 0; }
  int32_t I32(size_t off) const { return static_cast<int32_t>(U32(off)); }
  double F32(size_t off) const;
  TVXMBytes Sub(size_t off, size_t len) const { return Has(off, len) ? TVXMBytes{P + off, len} : TVXMBytes{}; }
};

/// A pen as the records create it.
struct TVXMPen {
  bool Null = false;
  double Width = 0;  // logical units; 0 draws one pixel wide
  TColor Color = clBlack;
  int Style = 0;  // PS_SOLID .. PS_ALTERNATE
  TVXMCap Cap = capRound;
  TVXMJoin Join = joinRound;
  bool Geometric = false;        // dashes scale with the width
  std::vector<double> UserDash;  // PS_USERSTYLE entries
};

/// A brush as the records create it.
struct TVXMBrush {
  enum TKind { bkSolid, bkHollow, bkHatched, bkPattern } Kind = bkSolid;
  TColor Color = clWhite;
  int Hatch = 0;
  std::shared_ptr<const TBitmap> Pattern;
};

/// A font as the records create it (LOGFONT fields).
struct TVXMFont {
  std::string Face;  // UTF-8
  double Height = 0;      // logical; < 0 character height, > 0 cell height, 0 default
  double Width = 0;       // logical average width, 0 = the face's own
  double Escapement = 0;  // tenths of a degree
  int Weight = 400;
  bool Italic = false, Underline = false, StrikeOut = false;
  int Charset = 0;
};

/// An EMF world transform: x' = x M11 + y M21 + Dx, y' = x M12 + y M22 + Dy.
struct TVXMXform {
  double M11 = 1, M12 = 0, M21 = 0, M22 = 1, Dx = 0, Dy = 0;
  TVXMXform Then(const TVXMXform& b) const {  // this, then b
    return {M11 * b.M11 + M12 * b.M21, M11 * b.M12 + M12 * b.M22, M21 * b.M11 + M22 * b.M21,
            M21 * b.M12 + M22 * b.M22, Dx * b.M11 + Dy * b.M21 + b.Dx, Dx * b.M12 + Dy * b.M22 + b.Dy};
  }
};

/// Plays WMF or EMF records onto a raster, or measures what they draw.
class TVXMetaPlayer {
 public:
  /// What a SaveDC keeps.
  struct State {
    TVXMPen Pen;
    TVXMBrush Brush;
    TVXMFont Font;
    TColor BkColor = clWhite, TextColor = clBlack;
    bool BkOpaque = true;
    int MapMode = 1;   // MM_TEXT
    int PolyFill = 1;  // ALTERNATE
    uint32_t TextAlign = 0;
    bool Clockwise = false;
    double MiterLimit = 10;
    double WinOrgX = 0, WinOrgY = 0, WinExtX = 1, WinExtY = 1;
    double VpOrgX = 0, VpOrgY = 0, VpExtX = 1, VpExtY = 1;
    TVXMXform World;
    double CurX = 0, CurY = 0;  // logical
    TVXMClip Clip;              // device pixels
  };
  enum TObjKind { okNone, okPen, okBrush, okFont, okOther };
  /// One slot of the object table: a pen, brush or font, or a kind not played.
  struct Object {
    TObjKind Kind = okNone;
    TVXMPen Pen;
    TVXMBrush Brush;
    TVXMFont Font;
  };

  /// dst null: measure only. Otherwise dst must be pf24bit.
  TVXMetaPlayer(TBitmap* dst, bool enhanced);
  ~TVXMetaPlayer();

  /// The frame (frame-space units) and where it lands on the bitmap (pixels).
  double FrameLeft = 0, FrameTop = 0, FrameWidth = 1, FrameHeight = 1;
  double DestLeft = 0, DestTop = 0, DestWidth = 1, DestHeight = 1;
  /// EMF reference device: pixels per 0.01 mm.
  double DevPerMm100X = 96.0 / 2540.0, DevPerMm100Y = 96.0 / 2540.0;

  /// WMF: the window the picture starts with (the frame).
  void InitWindow(double orgX, double orgY, double extX, double extY);
  void PlayWmf(const TVXMBytes& data, size_t first);
  void PlayEmf(const TVXMBytes& data);

  /// Measured frame-space bounds (measuring player).
  double MinX = 1e300, MinY = 1e300, MaxX = -1e300, MaxY = -1e300;
  bool Measured() const { return MinX <= MaxX; }
  /// Text records left out because no text service is installed.
  int SkippedText() const { return FSkippedText; }

 private:
  struct Figure {
    TVXMPolygon Pts;
    bool Closed = false;
  };

  // -- mapping
  TVXMPoint Map(double x, double y) const;
  TVXMPoint FrameToDest(double x, double y) const;
  double ScaleX() const;
  double ScaleY() const;
  double MapLength(double logical) const;
  TRect MapRect(double l, double t, double r, double b) const;

  // -- output
  void Emit(std::vector<Figure> figs, bool fill, bool stroke);
  void Bound(double x, double y, double pad = 0);
  TVXMStroke CurStroke() const;
  TVXMPaint CurPaint() const;
  void ApplyClip();

  // -- shapes in logical units
  void Polyline(const TVXMPolygon& logical);
  void Polygons(const std::vector<TVXMPolygon>& logical);
  void PolyTo(const TVXMPolygon& logical);  // from the current position, moves it
  void Rectangle(double l, double t, double r, double b);
  void Ellipse(double l, double t, double r, double b);
  void RoundRect(double l, double t, double r, double b, double cw, double ch);
  enum TArcKind { akArc, akChord, akPie, akArcTo };
  void Arc(TArcKind kind, double l, double t, double r, double b, double xs, double ys, double xe, double ye);
  void AngleArc(double cx, double cy, double radius, double start, double sweep);
  void MoveTo(double x, double y);
  void LineTo(double x, double y);
  static void BezierTo(TVXMPolygon& out, TVXMPoint p0, TVXMPoint p1, TVXMPoint p2, TVXMPoint p3);
  TVXMPolygon Flatten(const TVXMPolygon& pts) const;  // Bezier control points -> polyline

  // -- paths
  void BeginPath();
  void EndFigure(bool close);
  void FillOrStrokePath(bool fill, bool stroke);

  // -- bitmaps and text
  void BlitDib(const TVXMBytes& bmi, const TVXMBytes& bits, double xd, double yd, double wd, double hd, double xs,
               double ys, double ws, double hs, uint32_t rop, bool fromBottom);
  void BlitPacked(const TVXMBytes& dib, double xd, double yd, double wd, double hd, double xs, double ys, double ws,
                  double hs, uint32_t rop, bool fromBottom);
  void PatBlt(double x, double y, double w, double h, uint32_t rop);
  void SetPixel(double x, double y, TColor color);
  /// IntersectClipRect / ExcludeClipRect, both formats: a logical rectangle.
  void ClipRect(double l, double t, double r, double b, bool intersect);
  /// OffsetClipRgn, both formats: a logical offset.
  void OffsetClip(double x, double y);
  void Text(double x, double y, const std::u16string& text, const std::vector<double>& dx, uint32_t options,
            const double* rect);

  // -- state and objects
  void SaveDC();
  void RestoreDC(int n);
  void SelectObject(size_t index);
  void SelectStock(uint32_t id);
  void AddObject(const Object& obj);  // lowest free slot (WMF)
  void SetObject(size_t index, const Object& obj);
  void DeleteObject(size_t index);

  void WmfRecord(uint16_t fn, const TVXMBytes& r);
  void EmfRecord(uint32_t type, const TVXMBytes& r);

  TBitmap* FDst;
  std::unique_ptr<TVXMetaRaster> FRaster;
  bool FEnhanced;
  State FDC;
  std::vector<State> FSaved;
  std::vector<Object> FObjects;       // WMF: slots in creation order
  std::map<size_t, Object> FHandles;  // EMF: indices chosen by the file
  std::set<size_t> FFree;             // WMF: freed slots, so the lowest is found at once
  bool FInPath = false;
  bool FFigureOpen = false;  // a path figure that the next line continues
  std::vector<Figure> FPath;  // device pixels
  size_t FPathPoints = 0;
  int FSkippedText = 0;
};

}  // namespace vexa
