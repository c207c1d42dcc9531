// PCX (ZSoft PaintBrush).
//
// Reads 1-bit (one plane), 2-bit (one plane), 4-bit (one plane of 4 bits or 2 to 4
// planes of 1 bit), 8-bit palette, 24-bit (three 8-bit planes) and 32-bit (four
// planes, the fourth ignored) images, uncompressed or run-length encoded, into a
// pf1bit (1 bit, 1 plane, black and white) or pf24bit bitmap. A 1-bit image whose
// header palette holds two other, different colours reads as pf24bit in them.
// Writes depth 1, 4, 8 or 24 chosen by BitsPerSample x SamplesPerPixel, with the
// quantizer building 4- and 8-bit palettes; parameters describing a depth PCX lacks
// (they came from another format) give the nearest it has: 24 bits for three or more
// samples, else a 4- or 8-bit palette.
//
// Malformed data sets the abort flag and returns: a bad header or a size the data
// cannot hold leaves the bitmap untouched; data that ends early keeps the rows
// decoded so far (the rest black). Nothing is allocated from a declared size before
// it is checked against the bytes available and VXCheckBitmapSize.
#pragma once

#include <string>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// size: bytes of the image from the current position (capped at what the stream holds).
/// preview: fill `params` only, leave the bitmap alone.
void ReadPcxStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress,
                   int64_t size);
void ReadPcx(const std::string& name, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
/// Writes pf1bit and pf24bit bitmaps; anything else (or a bitmap too wide for the
/// header) sets the abort flag and writes nothing.
void WritePcxStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
/// Creates (or empties) the file, then WritePcxStream.
void WritePcx(const std::string& name, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace vexa
