// TIFF: pages in and out of a bitmap, page counting and deletion.
//
// Reading takes either byte order, strips (chunky or planar) compressed with none,
// modified Huffman, Group 3 (1D/2D), Group 4, LZW (through the LZW hook, with the
// horizontal predictor) or PackBits, into a 1-bit bitmap (one-sample bilevel pages)
// or a 24-bit one. Offsets in the file are absolute stream positions; the header is
// read at the stream's current position. Any cycle in the directory chain ends it.
// Tiled, JPEG, YCbCr and other layouts it does not decode, strips that lie outside
// the stream, absurd sizes (VXCheckBitmapSize) and data that ends early set the
// abort flag: the bitmap is then zero-initialised, keeping the rows decoded so far.
// It never reads outside the stream and never allocates more than the bitmap plus
// one strip, whose size is bounded by the stream.
//
// Writing produces little-endian files, one strip per page, entries in tag order;
// insertion links the new page into an existing little-endian file.
#pragma once

#include <cstdint>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// Reads page TIFF_ImageIndex (bitmap and params may be null to only count pages).
/// pageCount receives the directories in the chain; an index past the chain leaves
/// bitmap and params unchanged.
void TIFFReadStream(TBitmap* bitmap, TStream& stream, int32_t& pageCount, TIOParamsVals* params,
                    TProgressRec& progress, bool paramsOnly);
/// insert false: writes a new file (result 1); true: inserts the page before page
/// TIFF_ImageIndex, or last (pages afterwards; 0 for a big-endian or non-TIFF stream).
/// 0 as well when the abort flag stops the writer (no directory is then linked).
int TIFFWriteStream(TStream& stream, bool insert, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
int _EnumTIFFImStream(TStream& stream);
/// Rebuilds the stream without page `index`; directories found before, 0 when not TIFF.
int _DeleteTIFFImStream(TStream& stream, int32_t index);

}  // namespace vexa
