// JPEG over libjpeg (62 API).
#pragma once

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// True when the first three bytes are FF D8 FF; the position is restored.
bool JpegTryStream(TStream& stream);
void ReadJPegStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress);
void WriteJPegStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace vexa
