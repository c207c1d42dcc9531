// A small WMF/EMF player over the core raster, for importing vector pictures.
//
// Reads placeable and plain Windows metafiles and enhanced metafiles, and plays
// the common drawing records onto a pf24bit bitmap: lines, polylines, polygons
// (also several per record), Bezier curves, rectangles, rounded rectangles,
// ellipses and single pixels, with pens (solid, width) and brushes (solid,
// hatched, hollow), the window/viewport mapping, world transforms (EMF) and
// saved DC states. Not played: text, bitmaps, arcs and pies, regions, clipping and
// paths. Dashed pens draw solid; winding fills are filled even-odd; pattern
// brushes paint nothing.
//
// Malformed input never reads outside the data: a record that claims more bytes
// than remain ends playback, counts are checked against their record, and object
// tables and saved states are bounded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/failure.h"
#include "vexa/core/streams.h"

namespace vexa {

class TVXMetafile {
 public:
  /// Takes the remaining bytes of the stream; false when they are not a metafile
  /// this player understands (the object is then empty).
  bool LoadFromStream(TStream& stream);
  /// Throws EFOpenError when the file cannot be opened.
  bool LoadFromFile(const std::string& name);
  /// Parses bytes already in memory.
  bool LoadFromBytes(const uint8_t* data, size_t size);
  /// Why the last load returned false (fkNone after a successful one).
  const TVXFailure& Failure() const { return FFailure; }

  bool Empty() const { return FData.empty(); }
  bool Enhanced() const { return FEnhanced; }
  /// Natural size in pixels at the screen resolution (gSystemDPIX/Y).
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }

  /// Plays the picture so that its frame fills dstRect (which may exceed the
  /// bitmap: drawing is clipped). A bitmap of another format is converted to pf24bit.
  void Draw(TBitmap& dst, const TRect& dstRect) const;

  /// Largest metafile accepted, in bytes.
  static constexpr int64_t kMaxBytes = 256ll << 20;

 private:
  bool ParseWmf();
  bool ParseEmf();

  std::vector<uint8_t> FData;
  bool FEnhanced = false;
  size_t FFirstRecord = 0;
  int FWidth = 0, FHeight = 0;
  // The picture frame in the coordinates the records are mapped into (logical
  // units for WMF, reference-device pixels for EMF).
  double FFrameLeft = 0, FFrameTop = 0, FFrameWidth = 1, FFrameHeight = 1;
  // EMF reference device: pixels per 0.01 mm.
  double FDevPerMm100X = 96.0 / 2540.0, FDevPerMm100Y = 96.0 / 2540.0;
  bool FHasFrame = false;  // WMF: placeable header or window extent gave the frame
  TVXFailure FFailure;
};

}  // namespace vexa
