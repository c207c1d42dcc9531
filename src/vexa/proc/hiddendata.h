// Data hidden in the least significant bits of a 24-bit image.
//
// The stored stream is an 8-byte header (four zero bytes, then the payload length
// as a 32-bit little-endian integer) followed by the payload. Each bit, least
// significant first, goes into the lowest bit of one channel byte, rows from the
// top and, in each row, the first 3 x width - 2 channel bytes. A stored bit
// changes its byte by at most 1 (255 goes down to 254).
//
// Every call on a bitmap that is not 24-bit returns 0 and touches nothing.
#pragma once

#include <cstdint>

#include "vexa/core/bitmap.h"

namespace vexa {

/// Payload bytes the image can hold after the header (0 when not even the header fits).
int _GetHiddenDataSpace(const TBitmap& bmp);

/// Stores min(length, space) payload bytes and that same length in the header, and
/// returns the number stored: a result below `length` means the payload was cut.
int _WriteHiddenData(TBitmap& bmp, const void* buffer, int length);

/// Copies up to `length` stored bytes into buffer (which may be null when length
/// is 0) and returns the stored length. Returns 0 when the image holds no valid
/// header (non-zero marker bytes, or a length beyond the image's space).
int _ReadHiddenData(const TBitmap& bmp, void* buffer, int length);

}  // namespace vexa
