// LZW coders for the four hook variables of ioparams.h.
//
// GIF (GIF89a): codes packed least significant bit first into sub-blocks of at
// most 255 bytes, preceded by the minimum code size byte and followed by a
// zero-length terminator. Widths grow from minimum + 1 up to 12 bits.
//
// TIFF (TIFF 6.0): codes packed most significant bit first, 9 to 12 bits with
// "early change" (the width grows one code before the table needs it), ClearCode
// 256, EndOfInformation 257. The coders work one row at a time and carry the
// strip's code table from row to row in `state`. The decoder also reads the
// old-style variant (least significant bit first, no early change), recognised by
// the first two bytes of the strip.
//
// The decoders accept any input: they never read past the data they are given,
// never write past width x height (GIF) or rowLen (TIFF) bytes, and stop on a
// code that is not in the table.
#pragma once

#include <cstdint>

#include "vexa/core/streams.h"

namespace vexa {

/// Assigns the four Def*_LZW* hook variables to the coders below.
void VXInstallLZWCoders();

/// Reads the whole image data block. Pixels the data does not reach are 0. A code
/// size byte outside 1..11, or data that yields no pixel at all, leaves the stream
/// where it was (the caller's failure signal).
void GifLzwDecode(TStream& stream, int32_t height, int32_t width, bool interlaced, uint8_t* dest);
/// GifLzwDecode that also returns how many pixels the data gave (in the order they are
/// stored), so that a reader can tell a frame cut short from a complete one.
int64_t GifLzwDecodeCounted(TStream& stream, int32_t height, int32_t width, bool interlaced, uint8_t* dest);
/// Writes the image data block; indices are masked to the code size
/// (max(2, bitsPerPixel)).
void GifLzwEncode(TStream& stream, int32_t height, int32_t width, bool interlaced, const uint8_t* source,
                  int32_t bitsPerPixel);
/// Decodes the next row of a strip. Returns a buffer owned by `state`, or null when
/// the data ends or is corrupt before the row is full. data == null, rowLen == 0
/// releases the state.
uint8_t* TiffLzwDecode(const uint8_t* data, int32_t rowLen, void*& state, int32_t dataLen);
/// Encodes one row of a strip. row == null, rowLen == 0 ends the strip (the last
/// code, EndOfInformation and the padding bits are written) and releases the state.
void TiffLzwEncode(const uint8_t* row, int32_t rowLen, TStream& stream, void*& state);

}  // namespace vexa
