// TGA (Truevision Targa).
//
// Reads colour-mapped, true-colour and grey images (types 1-3, and 9-11 run-length
// encoded) of depth 1, 4, 8, 16 (5-5-5, or grey plus alpha), 24 and 32 (alpha
// dropped) into a pf1bit (depth 1) or pf24bit bitmap, in any of the four row and
// column orders, plus the version-2 extension area (author, job name, time stamp,
// key colour, aspect ratio, gamma). Writes depth 1, 4, 8 (palette or grey) or 24,
// rows top-down, with the extension area and footer.
//
//   descriptor bit 5 clear: first stored row = bottom row    bit 4 set: pixels stored
//   descriptor bit 5 set:   first stored row = top row       right to left
//
// Malformed data sets the abort flag and returns: a bad header or a size the data
// cannot hold leaves the bitmap untouched; data that ends early keeps the rows
// decoded so far (the rest black). Unusable extension fields are ignored one by one.
#pragma once

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// True for a plausible TGA header (image type and depth); streams starting with a
/// netpbm signature ("P2" to "P6") are not TGA. The stream position is restored.
bool TryTGA(TStream& stream);
/// Reads from the current position; the footer is looked for at the end of the stream.
/// preview: fill `params` only, leave the bitmap alone.
void ReadTGAStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress);
/// Writes pf1bit and pf24bit bitmaps; anything else, or a side above 65535, sets the
/// abort flag and writes nothing.
void WriteTGAStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace vexa
