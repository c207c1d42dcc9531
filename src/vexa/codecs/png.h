// PNG over libpng 1.6.
//
// Reading delivers pf1bit for black-and-white files (1-bit grey, or a 1-bit
// palette of black then white, without transparency) and pf24bit for everything
// else. Opaque pixels keep their exact values: palettes are looked up, grey below
// 8 bits is widened by bit replication (a 4-bit level v becomes v x 17), 16-bit
// samples keep their high byte, grey becomes RGB. Transparent and partly
// transparent pixels (an alpha channel, or a colour or palette entries made
// transparent) are composed over the background as value x a + background x
// (255 - a), rounded, with the background taken from the file's background chunk
// (scaled to 8 bits by the file's bit depth; reported in PNG_Background), else
// PNG_Background. Gamma and colour-space chunks (gAMA, sRGB, cHRM, iCCP) are read
// but not applied: samples come out as stored and are composed in that space.
// Interlaced files report progress over their seven passes.
//
// Writing produces 1-bit grey (BitsPerSample and SamplesPerPixel 1), 8-bit palette
// (SamplesPerPixel 1, a 256-colour quantized palette) or 8-bit RGB.
//
// Failure: reading sets the progress record's abort flag and keeps the rows read
// so far; writing raises EInvalidGraphic("Error on creating PNG"). Exceptions of
// the stream itself (and of the progress event) reach the caller. The library's
// structures are destroyed on every path.
#pragma once

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// Reads 8 bytes, true for the PNG signature, then seeks back.
bool IsPNGStream(TStream& stream);
/// With preview, only the header chunks are read and the bitmap is untouched.
void ReadPNGStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress);
/// As ReadPNGStream, composing transparency over `background` whatever the file's
/// background chunk says (a null background: the usual choice).
void ReadPNGStreamOver(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress,
                       const TRGB* background);
/// Raises EInvalidGraphic("Error on creating PNG") on failure.
void WritePNGStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace vexa
