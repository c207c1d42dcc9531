// TIFF: pages in and out of a bitmap, page counting and deletion.
#pragma once

#include <cstdint>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// Reads page TIFF_ImageIndex (bitmap and params may be null to only count pages).
void TIFFReadStream(TBitmap* bitmap, TStream& stream, int32_t& pageCount, TIOParamsVals* params,
                    TProgressRec& progress, bool paramsOnly);
/// insert false: writes a new file (result 1); true: inserts a page (pages afterwards, 0 on refusal).
int TIFFWriteStream(TStream& stream, bool insert, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
int _EnumTIFFImStream(TStream& stream);
/// Rebuilds the stream without page `index`; directories found before, 0 when not TIFF.
int _DeleteTIFFImStream(TStream& stream, int32_t index);

}  // namespace vexa
