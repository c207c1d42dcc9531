// A small WMF/EMF player of our own, for importing vector pictures.
//
// Reads placeable and plain Windows metafiles and enhanced metafiles, and plays
// their drawing records onto a pf24bit bitmap without antialiasing: lines,
// polylines, polygons (several per record, alternate or winding fill), Bezier
// curves, rectangles, rounded rectangles, ellipses, arcs, chords and pies, single
// pixels; pens (width, dashes, caps and joins), brushes (solid, hatched, DIB
// pattern, hollow); DIB blits (StretchDIBits, SetDIBitsToDevice, DIB BitBlt and
// StretchBlt with the common raster operations); clip rectangles; EMF paths; text
// through the installed text service (core/textservice.h); the window/viewport
// mapping in every mapping mode, world transforms (EMF) and saved DC states.
// Not played: regions by handle, palettes, device-dependent bitmaps, masked and
// alpha blits, raster operations on pens (ROP2). A clip path clips to its box.
//
// Which part of the picture fills the destination: for an EMF the header's frame;
// for a WMF the placeable header's bounds (or, without that header, the first
// window the records set). When the drawing leaves those bounds by more than a
// thirty-second of their size they are taken as wrong and the extent of what is
// drawn is used instead, as the platform does for a metafile without picture size.
// The natural size (Width, Height) always comes from the header.
//
// Malformed input never reads outside the data: a record that claims more bytes
// than remain ends playback, counts are checked against their record, and object
// tables, saved states, paths, clip rectangles and decoded bitmaps are bounded.
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
  /// What the last Draw left out that the picture holds: fkUnsupported "text not
  /// drawn: no text service is installed" in a program without the UI layer; fkNone
  /// when it played all it knows.
  const TVXFailure& DrawNote() const { return FDrawNote; }

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
  // units of the starting window for WMF, reference-device pixels for EMF).
  double FFrameLeft = 0, FFrameTop = 0, FFrameWidth = 1, FFrameHeight = 1;
  // WMF: the window the records start with.
  double FSpaceLeft = 0, FSpaceTop = 0, FSpaceWidth = 1, FSpaceHeight = 1;
  // EMF reference device: pixels per 0.01 mm.
  double FDevPerMm100X = 96.0 / 2540.0, FDevPerMm100Y = 96.0 / 2540.0;
  TVXFailure FFailure;
  mutable TVXFailure FDrawNote;
};

}  // namespace vexa
