// PNG over libpng 1.6.
#pragma once

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// Reads 8 bytes, true for the PNG signature, then seeks back.
bool IsPNGStream(TStream& stream);
void ReadPNGStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress);
/// Raises EInvalidGraphic("Error on creating PNG") on failure.
void WritePNGStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace vexa
