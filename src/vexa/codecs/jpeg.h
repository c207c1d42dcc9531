// JPEG over libjpeg (62 API).
//
// Reading delivers a pf24bit bitmap whatever the file holds (grey, YCbCr, RGB, CMYK,
// YCCK; baseline or progressive), optionally scaled by 1/2, 1/4 or 1/8 through
// JPEG_Scale. Writing takes any bitmap (non-24-bit ones are converted on a copy)
// and maps the JPEG_* fields of the parameter record to the encoder.
//
// Failure: data the library rejects, a stream that is not JPEG and an input that
// ends early set the progress record's abort flag; the rows decoded until then stay
// in the bitmap. Exceptions of the stream itself (and of the progress event) reach
// the caller. No path leaves the library object undestroyed.
#pragma once

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// True when the first three bytes are FF D8 FF; the position is restored.
bool JpegTryStream(TStream& stream);
/// With preview, only the header is read: Width, Height (after scaling), DpiX/DpiY,
/// JPEG_ColorSpace and JPEG_Progressive are filled and the bitmap is untouched.
void ReadJPegStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress);
void WriteJPegStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace vexa
