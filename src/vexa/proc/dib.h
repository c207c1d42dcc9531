// Transfer between bitmaps and device-independent bitmaps (DIBs), including DIBs
// whose pixels are in one of the YUV layouts named by a four-character code.
//
// A DIB is a 40-byte information header (little-endian), an optional palette
// (4-byte entries blue, green, red, unused) or three 32-bit colour masks, then the
// pixel rows. Plain rows are ((bits x width + 31) div 32) x 4 bytes and stored
// bottom-up (first row in memory = bottom of the picture) unless the height is
// negative.
//
// Every reader takes the size of the bytes it may read: data that end early leave
// the remaining rows as they were, and nothing is ever read past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vexa/core/bitmap.h"

namespace vexa {

/// Video-range YUV to RGB, each channel rounded to nearest and clamped:
/// y = 1.164 (Y - 16); blue = y + 2.018 (U - 128);
/// green = y - 0.813 (V - 128) - 0.391 (U - 128); red = y + 1.596 (V - 128).
void YUV2RGB(int y, int u, int v, TRGB& rgb);

/// YUV layout converters: fill an already sized 24-bit bitmap from `data`.
/// TopDown fills from row 0 downward, otherwise from the last row upward. A row
/// converts the pixel groups that fit entirely inside the width (UYVY of width 3
/// leaves the last pixel of each row untouched).
///
///   packed (row stride = width x group bytes / group pixels)
///     YUY2  Y0 U Y1 V     UYVY  U Y0 V Y1      YVYU  Y0 V Y1 U     (2 pixels)
///     IYU1  U Y0 Y1 V Y2 Y3   (4 pixels)     IYU2  U Y V   (1 pixel)
///     Y41P  U0 Y0 V0 Y1 U4 Y2 V4 Y3 Y4 Y5 Y6 Y7   (8 pixels; 0-3 use U0 V0, 4-7 U4 V4)
///     Y211  Y0 U Y2 V   (4 pixels; pixels 0, 1 take Y0 and 2, 3 take Y2)
///     CLJR  32-bit word: V bits 0-5, U 6-11, Y0 12-16, Y1 17-21, Y2 22-26, Y3 27-31,
///           used unscaled   (4 pixels)
///   planar
///     I420  Y plane W x H, U plane, V plane, each (W div 2) x (H div 2)
///     YV12  as I420 with V before U
///     YVU9  Y plane, V plane, U plane, each (W div 4) x (H div 4)
void _CopyYUY2ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown);
void _CopyUYVYToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown);
void _CopyYVYUToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown);
void _CopyIYU1ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown);
void _CopyIYU2ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown);
void _CopyY41PToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown);
void _CopyY211ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown);
void _CopyCLJRToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown);
void _CopyYVU9ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown);
void _CopyYV12ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown);
void _CopyI420ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown);

/// Decodes a DIB of `size` bytes into bmp (pf1bit for 1 bit per pixel, else
/// pf24bit, sized width x |height|) and returns the header's bit count. When
/// `pixels` is given the pixel data are read from there (pixelsSize bytes) instead
/// of after the header. 1-bit rows are taken as they are (set bit = white, the
/// palette is not applied). Unsupported bit counts or codes leave the bitmap
/// sized but black; a header that is short, has no positive width or exceeds the
/// bitmap size limit leaves bmp 1 x 1 and returns 0.
int _CopyDIB2Bitmap(const uint8_t* dib, size_t size, TBitmap& bmp, const uint8_t* pixels = nullptr,
                    size_t pixelsSize = 0);

/// Encodes the inclusive rectangle of a pf24bit or pf1bit bitmap as a DIB (X2 = 0
/// means the last column, Y2 = 0 the last row; the rectangle is clamped to the
/// bitmap). Block size: 40 + 8 + 4 + rows x rowlen for 1-bit (black and white
/// palette), 40 + 4 + rows x rowlen for 24-bit, zero-filled; other formats give a
/// header with bit count 0 and no rows.
std::vector<uint8_t> _CopyBitmaptoDIB(const TBitmap& bmp, int x1, int y1, int x2, int y2);

/// Copies count bits, most significant bit first, from bit srcBit of src to bit
/// dstBit of dst; other bits of dst are kept.
void _CopyBits(uint8_t* dst, const uint8_t* src, int dstBit, int count, int srcBit);

}  // namespace vexa
