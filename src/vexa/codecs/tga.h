// TGA (Truevision Targa).
#pragma once

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// The stream position is restored.
bool TryTGA(TStream& stream);
void ReadTGAStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress);
void WriteTGAStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace vexa
