// TIFF: pages in and out of a bitmap, page counting and deletion.
//
// Reading takes either byte order, classic TIFF and BigTIFF (version 43, 64-bit
// offsets), strips or tiles (any tile size; edge tiles are cut to the page), chunky
// or planar samples, compressed with none, modified Huffman, Group 3 (1D/2D),
// Group 4, LZW (through the LZW hook), PackBits, Deflate (8 and 32946) or JPEG (7,
// with JPEGTables, through libjpeg), with the horizontal or floating-point
// predictor, into a 1-bit bitmap (bilevel pages, and palette pages whose two colours
// are black and white) or a 24-bit one. Samples of 2 to 8 bits are scaled to 8 bits,
// 16-bit samples keep their high byte, 32 and 64-bit floating-point samples map
// 0.0 .. 1.0 to 0 .. 255 (clamped). YCbCr pages (any subsampling of 1, 2 or 4) are
// converted with their coefficients and ReferenceBlackWhite as libtiff does. The
// block decoders are in tiffblock.h. Offsets in the file are absolute stream
// positions; the header is read at the stream's current position. Any cycle in the
// directory chain ends it.
//
// Old-style JPEG, 12 and 24-bit integers and other layouts it does not decode,
// blocks that lie outside the stream, absurd sizes (VXCheckBitmapSize, also for one
// tile) and data that ends early set the abort flag with the reason: the bitmap is
// then zero-initialised, keeping the rows (and tiles) decoded so far. Blocks that
// cover fewer rows than the page, and blocks whose data ends before their rows, are
// "truncated". It never reads outside the stream and never allocates more than the
// bitmap plus one block per plane, whose size is bounded by the stream.
//
// Writing produces classic little-endian files, one strip per page; insertion links
// the new page into an existing classic little-endian file. BigTIFF files are read
// and counted, not inserted into or rebuilt.
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
/// Rebuilds the stream without page `index`; directories found before, 0 when not TIFF
/// or BigTIFF (left unchanged).
int _DeleteTIFFImStream(TStream& stream, int32_t index);

}  // namespace vexa
