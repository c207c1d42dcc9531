// BMP (Windows 3 and OS/2 layouts, uncompressed and RLE), ICO and CUR.
//
// Reading gives a pf1bit bitmap for black-and-white 1-bit data and pf24bit for everything else:
// palette images are expanded through their palette, 16- and 32-bit pixels through their
// bit-field masks (the low bits of a field narrower than 8 stay zero), top-down files come out
// the right way up. 1-bit data with a black-and-white palette keeps its bits (1 = white; a
// white-then-black palette is applied by inverting; so is a palette too short to name two
// colours); any other two colours give pf24bit in the palette's colours.
// Writing produces 1, 4, 8 or 24 bits per pixel (4 and 8 through the shared quantizer, RLE on
// request) and stores the palette it used in the parameter record.
//
// Malformed input never throws, overruns or allocates beyond VXCheckBitmapSize: it sets the abort
// flag and returns. A truncated file keeps the rows decoded so far, the rest of the bitmap zero;
// data the codec does not decode (2-bit, embedded JPEG/PNG, compressed 1/16/24/32-bit, 32-bit
// icons) leaves a zeroed bitmap of the declared size. Only failures of the stream itself raise.
#pragma once

#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// size: bytes the file occupies from the current position (0 when unknown).
void BMPReadStream(TStream& stream, TBitmap& bitmap, int64_t size, bool preview, TProgressRec& progress,
                   TIOParamsVals& params);
/// Writes at the stream position; header offsets are relative to it. An empty bitmap writes nothing
/// and sets the abort flag.
void BMPWriteStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
/// An uncompressed Windows 3 BMP written band by band, so that an image arriving
/// in pieces (a scan) need never be whole in memory. Headers and palette are
/// written at once (1 bit: black, white; 8 bits: a grey ramp); bands of whole rows
/// may come in any order, rows never written read as zero. 24- and 8-bit files take
/// pf24bit bands (8 bits keep each pixel's blue sample: meant for grey), 1-bit files
/// pf1bit bands. The stream must seek; a band that does not fit throws.
class TBMPBandWriter {
 public:
  TBMPBandWriter(TStream& stream, int width, int height, int bitsPerPixel, int dpiX, int dpiY);
  /// Rows y to y + band.Height() - 1 of the image.
  void WriteBand(int y, const TBitmap& band);
  /// Leaves the stream at the end of the image.
  void Finish();

 private:
  TStream& FStream;
  int FWidth, FHeight, FBits, FRowLen = 0;
  int64_t FStart = 0, FDataPos = 0;
  std::vector<uint8_t> FRow;
};

/// Read the image ICO_ImageIndex / CUR_ImageIndex chooses; an index out of range reads nothing and
/// reports nothing. Transparent pixels take ICO_Background / CUR_Background.
void ICOReadStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
void CURReadStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
/// Both leave the stream position where it was.
bool ICOTryStream(TStream& stream);
bool CURTryStream(TStream& stream);

}  // namespace vexa
