// Colour-depth conversion and dithering between the two pixel formats the
// library edits (pf24bit and pf1bit), colour reduction through TVXQuantizer, and
// the row converter between 1, 4, 8 and 24 bits per pixel that the codecs use.
//
// Whole-image functions work in place on the bitmap they are given and leave
// bitmaps of any other format untouched; none of them reports errors. Progress
// after row r (1-based) is truncate(100 / (height + 0.5) * r), reported only when
// an event is assigned; there is no abort.
//
// 1-bit rows: bit 7 of byte x div 8 is pixel x, 1 = white, 0 = black.
//
//   byte:   | b7 b6 b5 b4 b3 b2 b1 b0 | b7 ...
//   pixel:  |  0  1  2  3  4  5  6  7 |  8 ...
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/quant/quantizer.h"

namespace vexa {

/// Ordered-dither matrix, first index x mod 8, second index y mod 8 (values 0-63).
extern const uint8_t VXDitherMatrix[8][8];

/// Expansion of one 1-bit byte: the eight pixels as blue-green-red triples, most
/// significant bit first, (255, 255, 255) for a set bit, (0, 0, 0) for a clear one.
extern const std::array<std::array<uint8_t, 24>, 256> C1TO24;

/// Reduces a pf24bit image to NColors colours in place (it stays pf24bit): median
/// cut up to 256 colours, the neural network above. When palette is given it
/// receives the quantizer's palette (at least NColors entries).
void _ConvertTo(TBitmap& bitmap, int NColors, std::vector<TRGB>* palette, const TProgressEvent& onProgress = {},
                TObject* sender = nullptr);

/// pf24bit -> pf1bit by ordered dither: white where grey div 4 exceeds the matrix.
void _ConvertToBWOrdered(TBitmap& bitmap, TProgressRec& pr);

/// pf24bit -> pf1bit: grey below Threshold is black, the rest white. Threshold -1
/// takes the grey of the channel reference levels (channel sums divided by
/// (width - 1) x (height - 1), 128 each when that is 0).
void _ConvertToBWThreshold(TBitmap& bitmap, int Threshold, TProgressRec& pr);

/// Two-colour detection on a pf24bit bitmap: a new pf1bit bitmap when it holds
/// exactly two colours, c0 (clear bits) being the darker one and c1 the other;
/// null for one colour, more than two, or another format. c0 and c1 are written
/// with the colours seen either way.
std::unique_ptr<TBitmap> _ConvertTo1bit(const TBitmap& bitmap, TRGB& c0, TRGB& c1);

/// pf1bit -> pf24bit into dst (src may be dst). The source palette is ignored: set
/// bits become white, clear bits black. dst is untouched when src is not pf1bit.
void _Conv1to24(const TBitmap& src, TBitmap& dst, TProgressRec& pr);

/// Converts one row of width pixels between 1, 4, 8 and 24 bits per pixel:
///
///   from/to |    1    |     4      |     8      |    24
///   --------+---------+------------+------------+-----------
///      1    |  copy   | bit->nib * | bit->byte  | palette
///      4    |    -    |   copy     | nib->byte  | palette
///      8    | byte->bit (dst zeroed first, bytes 0/1) | - | copy | palette
///     24    |    -    | quant->nib*| quant->byte| copy
///
/// * ORed into dst, high nibble first: dst is expected zeroed. The 1 -> 8 and
/// 4 -> 8 cases write every byte. Indices beyond the palette give black; pairs
/// not in the table, a missing palette or a missing quantizer leave dst unchanged.
void _ConvertXBitsToYBits(const uint8_t* src, uint8_t* dst, int srcBits, int dstBits, int width,
                          std::span<const TRGB> palette, TVXQuantizer* quantizer);

/// One entry of a logical palette.
struct TPaletteEntry {
  uint8_t peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
  friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

/// The logical palette record that stands in for a platform palette object.
struct TLogPalette {
  uint16_t palVersion = 0x300;
  uint16_t palNumEntries = 0;
  std::vector<TPaletteEntry> palPalEntry;
};

/// Logical palette of the first count entries (limited to the palette's length
/// and to 65535), flags 0.
TLogPalette _CreateWinPalette(std::span<const TRGB> palette, int count);

}  // namespace vexa
