// CCITT fax coding (ITU-T T.4 and T.6) of bilevel rows, one row per call.
//
// Rows are bit-packed, most significant bit first, ceil(width / 8) bytes:
//
//     byte 0: pixel 0 (0x80) ... pixel 7 (0x01), byte 1: pixel 8 ...
//
// Decoders produce rows where 1 = white; encoders take rows where 1 = black.
// Decoders keep no state: the caller carries the bit position (counted from the
// first bit of `data`) and, for two-dimensional coding, the reference row, which
// starts all white (0xFF bytes) for every strip. They never read past `dataLen`
// bytes (bits beyond it read as 0), never write past the row, and always finish:
// unknown codes are skipped one bit at a time, runs are clipped to the width, and
// a row that reaches the end of the data is finished in the current colour.
//
// Encoders carry the unfinished last byte (`pendingByte`, its `pendingBits` high
// bits valid) and, for two-dimensional coding, a copy of the previous row (empty
// at the start of a page) from one call to the next. A last call with a null row
// finishes the page.
#pragma once

#include <cstdint>
#include <vector>

#include "vexa/core/streams.h"

namespace vexa {

/// Modified Huffman / Group 3 one-dimensional row from `bitPos`; returns the bit
/// position after the row. fillOrder 1 reads each byte MSB first, any other value LSB first.
int64_t _CCITTHuffmanGetLine(uint8_t* dest, const uint8_t* data, int64_t dataLen, int32_t width, int32_t fillOrder,
                             int64_t bitPos);
/// One byte-aligned modified Huffman row from bit 0; returns the bytes consumed.
int64_t CCITTHuffmanGetLine(uint8_t* dest, const uint8_t* data, int64_t dataLen, int32_t width, int32_t fillOrder);
/// Group 3 two-dimensional or Group 4 row against `refRow` (ceil(width / 8) bytes,
/// 1 = white), which receives the decoded row; returns the bit position after the row.
int64_t CCITT3_2D_GetLine(uint8_t* dest, const uint8_t* data, int64_t dataLen, int32_t width, int32_t fillOrder,
                          int64_t bitPos, uint8_t* refRow);

/// Appends the row's run codes at `bitPos` of `buffer`, which must hold
/// CCITTRowBufferSize(width) bytes from the start of the row's codes.
void _CCITTHuffmanPutLine(const uint8_t* row, int32_t width, uint8_t* buffer, int64_t& bitPos);
/// Bytes a buffer needs for one coded row, EOLs and pending bits included.
int64_t CCITTRowBufferSize(int32_t width);
/// One modified Huffman row, padded to a whole byte.
void CCITTHuffmanPutLine(const uint8_t* row, int32_t width, TStream& stream);
/// Group 3 one-dimensional row after an EOL; null row: flush the pending byte.
void CCITTHuffmanPutLineG3(const uint8_t* row, int32_t width, TStream& stream, int32_t& pendingBits,
                           uint8_t& pendingByte);
/// Group 3 two-dimensional row: EOL, tag bit (1 = one-dimensional first row), codes.
/// Null row: a final EOL and the pending bits padded to a byte.
void CCITTHuffmanPutLineG32D(const uint8_t* row, int32_t width, TStream& stream, std::vector<uint8_t>& refRow,
                             int32_t& pendingBits, uint8_t& pendingByte);
/// Group 4 row (the first one against an all-white row). Null row: EOFB, padded to a byte.
void CCITTHuffmanPutLineG4(const uint8_t* row, int32_t width, TStream& stream, std::vector<uint8_t>& refRow,
                           int32_t& pendingBits, uint8_t& pendingByte);

}  // namespace vexa
