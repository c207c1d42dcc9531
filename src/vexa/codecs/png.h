// PNG over libpng 1.6.
//
// Reading delivers pf1bit for black-and-white files (1-bit grey, or a 1-bit
// palette of black then white, without transparency) and pf24bit for everything
// else: palettes and low-depth grey are expanded, 16-bit samples keep their high
// byte, grey becomes RGB, and alpha or a transparent colour is composed over the
// file's background chunk, else over PNG_Background. Interlaced files report
// progress over their seven passes.
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
/// Raises EInvalidGraphic("Error on creating PNG") on failure.
void WritePNGStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace vexa
