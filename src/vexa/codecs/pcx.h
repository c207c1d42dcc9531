// PCX (ZSoft PaintBrush).
#pragma once

#include <string>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// size: bytes of the image from the current position.
void ReadPcxStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress,
                   int64_t size);
void ReadPcx(const std::string& name, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
void WritePcxStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
void WritePcx(const std::string& name, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace vexa
