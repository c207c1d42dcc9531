// BMP (Windows 3 and OS/2 layouts, uncompressed and RLE), ICO and CUR.
#pragma once

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// size: bytes the file occupies from the current position (0 when unknown).
void BMPReadStream(TStream& stream, TBitmap& bitmap, int64_t size, bool preview, TProgressRec& progress,
                   TIOParamsVals& params);
void BMPWriteStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
void ICOReadStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
void CURReadStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
/// Both leave the stream position where it was.
bool ICOTryStream(TStream& stream);
bool CURTryStream(TStream& stream);

}  // namespace vexa
