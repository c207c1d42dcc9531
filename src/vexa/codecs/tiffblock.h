// One strip or tile of a TIFF page, decompressed row by row.
//
// A block's rows are what the file holds, before any photometric conversion:
// packed samples, most significant bit first, multi-byte samples in the file's byte
// order, with the horizontal (2) or floating-point (3) predictor already undone.
// A row is `rowLen` bytes: one pixel row of one plane, or, for subsampled YCbCr,
// one row of data units covering several pixel rows. JPEG blocks (compression 7)
// are the exception: libjpeg converts and upsamples them, so their rows are 8-bit
// RGB (photometric RGB or YCbCr) or grey, `width` pixels wide.
//
// Compressions: 1 none, 2/3/4 CCITT (through the fax line coders), 5 LZW (through
// the LZW hook), 7 JPEG (tables from JPEGTables, then the block's own stream),
// 8 and 32946 Deflate (zlib streams: a block of up to 16 MB in one call to
// libdeflate, otherwise, or when that fails, through zlib many rows per call, so
// that a block cut short or corrupt gives the rows before the fault), 32773 PackBits.
//
// Failure: Open is false when the block starts outside the stream; NextRow is false
// when the block's data cannot supply the row (it ends early or holds an invalid
// code), with Failure() saying why. Nothing reads outside the block's bytes, and
// nothing allocates more than the block's bytes, one zlib or LZW state, and the
// decoded rows the caller asked for (at most: LZW keeps what its table may still
// refer to, Deflate up to 1 MB of rows ahead, JPEG what the block holds).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vexa/codecs/lzw.h"
#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// How a page's blocks are coded; shared by all blocks of the page.
struct TTiffCoding {
  uint16_t Compression = 1;
  uint16_t Photometric = 1;    // JPEG only: which colour space the JPEG data is in
  uint32_t FillOrder = 1;      // 2: least significant bit first
  uint32_t T4Options = 0;
  uint32_t Predictor = 1;      // 2 horizontal differencing, 3 floating point
  int BitsPerSample = 8;
  int SamplesPerRow = 1;       // samples per pixel within one plane row
  bool BigEndian = false;
  TiffLzwDecodeProc Lzw = nullptr;
  const std::vector<uint8_t>* JpegTables = nullptr;  // may be null or empty
};

/// JPEG rows have this many 8-bit samples per pixel for the photometric interpretation.
int TiffJpegComponents(uint16_t photometric);

/// Decompresses the strips or tiles of one page (one plane each), one block at a time.
class TTiffBlockDecoder {
 public:
  /// width: pixels of one block row (the CCITT line width, the JPEG row width and the
  /// predictor's span); rowLen: bytes NextRow delivers.
  TTiffBlockDecoder(const TTiffCoding& coding, int32_t width, int32_t rowLen);
  ~TTiffBlockDecoder();
  TTiffBlockDecoder(const TTiffBlockDecoder&) = delete;
  TTiffBlockDecoder& operator=(const TTiffBlockDecoder&) = delete;

  /// Reads the block's bytes (count 0: to the end of the stream); `rows` is how many
  /// rows the caller will ask for. False when the offset lies outside the stream.
  /// With `streamLock`, the stream is read under it (blocks decoded on several threads).
  bool Open(TStream& stream, int64_t streamSize, uint64_t offset, uint64_t count, int32_t rows,
            std::mutex* streamLock = nullptr);
  /// Fills `out` with rowLen bytes; false when the block cannot supply the row.
  bool NextRow(uint8_t* out);
  void Close();
  /// Why the last NextRow failed: fkTruncated when the data ended, fkCorrupt (with the
  /// library's words) when it was invalid.
  TVXFailureKind FailureKind() const { return FFailKind; }
  const std::string& FailureText() const { return FFailText; }

 private:
  bool DecodeRow(uint8_t* out);
  bool UnpackBits(uint8_t* out);
  bool Inflate(uint8_t* out);
  bool DecodeJpeg(int32_t rows);
  void UndoPredictor(uint8_t* row);

  TTiffCoding FC;
  int32_t FWidth, FRowLen;
  std::vector<uint8_t> FData, FRef, FFloat;
  int64_t FPos = 0, FBitPos = 0;
  int32_t FPackPending = 0, FPackRepeat = 0;
  uint8_t FPackByte = 0;
  void* FLzwState = nullptr;
  bool FLzwUsed = false;
  std::unique_ptr<TTiffLzwDecoder> FLzw;  // the built-in decoder, used without the hook's row copy
  std::vector<uint8_t> FChunk;             // Deflate: rows inflated ahead
  size_t FChunkAt = 0, FChunkEnd = 0;
  int32_t FRows = 0, FRowsInflated = 0;
  bool FChunkFailed = false, FTriedWhole = false;
  struct TWholeInflater;
  std::unique_ptr<TWholeInflater> FWhole;
  struct TZStream;
  struct TJpegHolder;
  std::unique_ptr<TZStream> FZ;
  std::unique_ptr<TJpegHolder> FJpeg;
  bool FJpegStartFailed = false;
  TVXFailureKind FFailKind = fkTruncated;
  std::string FFailText;
};

}  // namespace vexa
