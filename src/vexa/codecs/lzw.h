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

#include <cstddef>
#include <cstdint>
#include <vector>

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
/// One TIFF LZW strip or tile decoded as a byte stream, a row at a time (what
/// TiffLzwDecode does for the hook, without its copy of each row).
///
/// Every string is written once into a window and a code stands for where its
/// string was first written: emitting a code is one copy out of the window, and
/// a new entry is the previous string plus the byte that follows it there. The
/// window keeps what the table can still refer to (back to the last ClearCode)
/// and what the caller has not taken yet; it grows only as the data decodes.
class TTiffLzwDecoder {
 public:
  TTiffLzwDecoder();
  /// Starts on a new strip; `data` must outlive the calls to Next.
  void Reset(const uint8_t* data, size_t size);
  /// The next n bytes, valid until the next call; null when the data ends or holds
  /// an invalid code before n bytes are complete (and for every call after that).
  const uint8_t* Next(size_t n);

 private:
  bool Fill(size_t n);
  template <bool Lsb>
  void Run(size_t target);
  void MakeRoom();

  const uint8_t* FData = nullptr;
  size_t FSize = 0, FPos = 0;
  uint64_t FBitBuf = 0;
  int FBits = 0, FCodeSize = 9, FAvail = 258;
  bool FLsb = false, FEnded = false, FHavePrev = false;
  // Window positions: next byte written, next byte handed out, start of the strings
  // since the last ClearCode, start and length of the last string.
  size_t FOut = 0, FTaken = 0, FHistory = 0, FPrevAt = 0, FPrevLen = 0;
  std::vector<uint8_t> FWindow;
  std::vector<uint32_t> FAt;
  std::vector<uint16_t> FLen;
};

/// Encodes one row of a strip. row == null, rowLen == 0 ends the strip (the last
/// code, EndOfInformation and the padding bits are written) and releases the state.
void TiffLzwEncode(const uint8_t* row, int32_t rowLen, TStream& stream, void*& state);

}  // namespace vexa
