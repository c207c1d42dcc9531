#include "vexa/codecs/tiffblock.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>
#include <libdeflate.h>
#include <zlib.h>

#include "vexa/codecs/ccitt.h"
#include "vexa/core/bytereader.h"

namespace vexa {

namespace {

bool ReadAt(TStream& s, int64_t pos, void* buf, int64_t n) {
  if (pos < 0 || n < 0) return false;
  s.Seek(pos, soBeginning);
  return s.Read(buf, n) == n;
}

bool IsCcitt(uint16_t c) { return c >= 2 && c <= 4; }
bool IsDeflate(uint16_t c) { return c == 8 || c == 32946; }

// ------------------------------------------------------------------ JPEG
//
// libjpeg leaves by longjmp into the function that made the call, so the functions
// that call it (JpegStart, JpegRow) hold no object with a destructor; the context is
// owned by the block decoder, which destroys the library object on every path.

// The least work memory granted, however close the bitmap is to the limit.
constexpr uint64_t kMinJpegWorkMemory = 1 << 20;

struct TJpegContext {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  std::jmp_buf jump{};
  bool created = false;
  bool truncated = false;
  JSAMPARRAY row = nullptr;
  char message[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  auto* c = static_cast<TJpegContext*>(cinfo->client_data);
  cinfo->err->format_message(cinfo, c->message);
  std::longjmp(c->jump, 1);
}

void JpegEmitMessage(j_common_ptr cinfo, int level) {
  // A cut stream only warns; the library would fill the rest with grey.
  const int code = cinfo->err->msg_code;
  if (level < 0 && (code == JWRN_HIT_MARKER || code == JWRN_JPEG_EOF))
    static_cast<TJpegContext*>(cinfo->client_data)->truncated = true;
}

void JpegOutputMessage(j_common_ptr) {}

J_COLOR_SPACE JpegSpace(uint16_t photometric) {
  switch (photometric) {
    case 0: case 1: return JCS_GRAYSCALE;
    case 2: return JCS_RGB;
    default: return JCS_YCbCr;
  }
}

// Reads the tables, then the block's header, and starts decompression to RGB or grey.
bool JpegStart(TJpegContext& c, const std::vector<uint8_t>* tables, const uint8_t* data, size_t size,
               uint16_t photometric, int32_t maxWidth, int32_t maxRows) {
  if (setjmp(c.jump)) return false;
  c.cinfo.err = jpeg_std_error(&c.err);
  c.err.error_exit = JpegErrorExit;
  c.err.emit_message = JpegEmitMessage;
  c.err.output_message = JpegOutputMessage;
  c.cinfo.client_data = &c;
  jpeg_create_decompress(&c.cinfo);
  c.created = true;
  // The abbreviated table stream comes first: its tables stay for the block's stream.
  if (tables && tables->size() > 4) {
    jpeg_mem_src(&c.cinfo, tables->data(), static_cast<unsigned long>(tables->size()));
    jpeg_read_header(&c.cinfo, FALSE);
  }
  jpeg_mem_src(&c.cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&c.cinfo, TRUE) != JPEG_HEADER_OK) {
    std::snprintf(c.message, sizeof c.message, "no JPEG image in the block");
    return false;
  }
  const int components = TiffJpegComponents(photometric);
  if (c.cinfo.num_components != components) {
    std::snprintf(c.message, sizeof c.message, "JPEG block has %d components, the page %d", c.cinfo.num_components,
                  components);
    return false;
  }
  // Larger than the block it stands for: nothing a writer makes, and a way to claim memory.
  if (c.cinfo.image_width > static_cast<JDIMENSION>(maxWidth) ||
      c.cinfo.image_height > static_cast<JDIMENSION>(maxRows)) {
    std::snprintf(c.message, sizeof c.message, "JPEG block of %u x %u in a block of %d x %d", c.cinfo.image_width,
                  c.cinfo.image_height, maxWidth, maxRows);
    return false;
  }
  // The file's photometric interpretation says what the components are; TIFF JPEG
  // streams carry no JFIF or Adobe marker to tell the library.
  c.cinfo.jpeg_color_space = JpegSpace(photometric);
  c.cinfo.out_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  if (const uint64_t limit = VXGetMaxBitmapBytes(); limit > 0)
    c.cinfo.mem->max_memory_to_use = static_cast<long>(std::clamp<uint64_t>(limit, kMinJpegWorkMemory, LONG_MAX));
  jpeg_start_decompress(&c.cinfo);
  c.row = (*c.cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&c.cinfo), JPOOL_IMAGE,
                                       c.cinfo.output_width * static_cast<JDIMENSION>(components), 1);
  return true;
}

// One output row into `out` (rowLen bytes; columns the JPEG image lacks stay 0).
bool JpegRow(TJpegContext& c, uint8_t* out, int32_t rowLen) {
  if (setjmp(c.jump)) return false;
  if (c.cinfo.output_scanline >= c.cinfo.output_height || c.truncated) return false;
  if (jpeg_read_scanlines(&c.cinfo, c.row, 1) != 1) return false;
  const size_t have = static_cast<size_t>(c.cinfo.output_width) * static_cast<size_t>(c.cinfo.output_components);
  const size_t n = std::min(have, static_cast<size_t>(rowLen));
  std::memcpy(out, c.row[0], n);
  std::memset(out + n, 0, static_cast<size_t>(rowLen) - n);
  // The warning arrives with the row the data could not fill.
  return !c.truncated;
}

}  // namespace

struct TTiffBlockDecoder::TZStream {
  z_stream S{};
  bool Live = false;
};

struct TTiffBlockDecoder::TJpegHolder {
  TJpegContext C;
};

struct TTiffBlockDecoder::TWholeInflater {
  libdeflate_decompressor* D = libdeflate_alloc_decompressor();
  TWholeInflater() = default;
  TWholeInflater(const TWholeInflater&) = delete;
  TWholeInflater& operator=(const TWholeInflater&) = delete;
  ~TWholeInflater() {
    if (D) libdeflate_free_decompressor(D);
  }
};

int TiffJpegComponents(uint16_t photometric) { return photometric == 0 || photometric == 1 ? 1 : 3; }

TTiffBlockDecoder::TTiffBlockDecoder(const TTiffCoding& coding, int32_t width, int32_t rowLen)
    : FC(coding), FWidth(width), FRowLen(rowLen) {}

TTiffBlockDecoder::~TTiffBlockDecoder() { Close(); }

void TTiffBlockDecoder::Close() {
  if (FLzwUsed && FC.Lzw && !FLzw) FC.Lzw(nullptr, 0, FLzwState, 0);
  FLzwUsed = false;
  FLzwState = nullptr;
  if (FZ && FZ->Live) inflateEnd(&FZ->S);
  FZ.reset();
  if (FJpeg && FJpeg->C.created) jpeg_destroy_decompress(&FJpeg->C.cinfo);
  FJpeg.reset();
}

bool TTiffBlockDecoder::Open(TStream& s, int64_t streamSize, uint64_t offset, uint64_t count, int32_t rows,
                             std::mutex* streamLock) {
  Close();
  FFailKind = fkTruncated;
  FFailText.clear();
  if (offset >= static_cast<uint64_t>(streamSize)) return false;
  const uint64_t avail = static_cast<uint64_t>(streamSize) - offset;
  const uint64_t len = count ? std::min(count, avail) : avail;
  FData.resize(static_cast<size_t>(len));
  {
    std::unique_lock<std::mutex> lock;
    if (streamLock) lock = std::unique_lock<std::mutex>(*streamLock);
    if (!ReadAt(s, static_cast<int64_t>(offset), FData.data(), static_cast<int64_t>(len))) return false;
  }
  // CCITT decoders read either bit order themselves; other data is turned MSB-first here.
  if (FC.FillOrder == 2 && !IsCcitt(FC.Compression))
    for (uint8_t& b : FData) b = kReverseByte[b];
  FPos = 0;
  FBitPos = 0;
  FPackPending = 0;
  FPackRepeat = 0;
  if (IsCcitt(FC.Compression)) FRef.assign(static_cast<size_t>((FWidth + 7) / 8), 0xFF);
  if (FC.Compression == 5 && FC.Lzw == TiffLzwDecode) {
    if (!FLzw) FLzw = std::make_unique<TTiffLzwDecoder>();
    FLzw->Reset(FData.data(), FData.size());
  }
  if (IsDeflate(FC.Compression)) {
    FRows = rows;
    FRowsInflated = 0;
    FChunkAt = FChunkEnd = 0;
    FChunkFailed = false;
    FTriedWhole = false;
    FZ = std::make_unique<TZStream>();
    FZ->S.next_in = FData.data();
    FZ->S.avail_in = static_cast<uInt>(std::min<size_t>(FData.size(), UINT_MAX));
    FZ->Live = inflateInit(&FZ->S) == Z_OK;
  }
  if (FC.Compression == 7) {
    FJpeg = std::make_unique<TJpegHolder>();
    FJpegStartFailed = !JpegStart(FJpeg->C, FC.JpegTables, FData.data(), FData.size(), FC.Photometric, FWidth, rows);
    if (FJpegStartFailed) {
      FFailKind = fkCorrupt;
      FFailText = FJpeg->C.message;
    }
  }
  return true;
}

bool TTiffBlockDecoder::NextRow(uint8_t* out) {
  if (!DecodeRow(out)) return false;
  if (FC.Predictor >= 2 && FC.Compression != 7) UndoPredictor(out);
  return true;
}

bool TTiffBlockDecoder::DecodeRow(uint8_t* out) {
  const int64_t size = static_cast<int64_t>(FData.size());
  const uint8_t* data = FData.data();
  const int fill = static_cast<int>(FC.FillOrder);
  switch (FC.Compression) {
    case 1:
      if (FPos + FRowLen > size) return false;
      std::memcpy(out, data + FPos, static_cast<size_t>(FRowLen));
      FPos += FRowLen;
      return true;
    case 2:
      if (FPos >= size) return false;
      FPos += CCITTHuffmanGetLine(out, data + FPos, size - FPos, FWidth, fill);
      return true;
    case 3:
      if (FBitPos >= size * 8) return false;
      if (FC.T4Options & 1)
        FBitPos = CCITT3_2D_GetLine(out, data, size, FWidth, fill, FBitPos, FRef.data());
      else
        FBitPos = _CCITTHuffmanGetLine(out, data, size, FWidth, fill, FBitPos);
      return true;
    case 4:
      if (FBitPos >= size * 8) return false;
      FBitPos = CCITT3_2D_GetLine(out, data, size, FWidth, fill, FBitPos, FRef.data());
      return true;
    case 5: {
      if (FLzw) {
        const uint8_t* row = FLzw->Next(static_cast<size_t>(FRowLen));
        if (!row) return false;
        std::memcpy(out, row, static_cast<size_t>(FRowLen));
        return true;
      }
      if (!FC.Lzw) return false;
      const uint8_t* row = FC.Lzw(data, FRowLen, FLzwState, static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX)));
      FLzwUsed = true;
      if (!row) return false;
      std::memcpy(out, row, static_cast<size_t>(FRowLen));
      return true;
    }
    case 7:
      if (!FJpeg || FJpegStartFailed) return false;
      if (!JpegRow(FJpeg->C, out, FRowLen)) {
        if (FJpeg->C.message[0]) {
          FFailKind = fkCorrupt;
          FFailText = FJpeg->C.message;
        }
        return false;
      }
      return true;
    case 8:
    case 32946:
      return Inflate(out);
    case 32773:
      return UnpackBits(out);
    default:
      return false;
  }
}

// Rows are inflated many at a time (the whole block when it is small): zlib's cost
// per call, and its copy of each call's output into its window, dominate row by row.
bool TTiffBlockDecoder::Inflate(uint8_t* out) {
  if (!FZ || !FZ->Live) {
    FFailKind = fkCorrupt;
    FFailText = "the Deflate decoder could not start";
    return false;
  }
  const size_t rowLen = static_cast<size_t>(FRowLen);
  constexpr size_t kWholeBytes = size_t{16} << 20;
  if (!FTriedWhole && FChunkEnd == 0 && static_cast<size_t>(FRows) <= kWholeBytes / rowLen) {
    // The whole block at once, as libtiff does: the valid streams, nearly all of
    // them. Anything else (cut short, corrupt, more rows than asked) goes through
    // zlib below, from the start, for the rows before the fault and its words.
    FTriedWhole = true;
    if (!FWhole) FWhole = std::make_unique<TWholeInflater>();
    FChunk.resize(static_cast<size_t>(FRows) * rowLen);
    size_t got = 0;
    if (FWhole->D && libdeflate_zlib_decompress(FWhole->D, FData.data(), FData.size(), FChunk.data(), FChunk.size(),
                                                &got) == LIBDEFLATE_SUCCESS) {
      FChunkAt = 0;
      FChunkEnd = got / rowLen * rowLen;
      FChunkFailed = true;  // nothing follows: a shorter stream ends the rows there
    }
  }
  if (FChunkEnd - FChunkAt < rowLen) {
    if (FChunkFailed) return false;
    constexpr size_t kChunkBytes = size_t{1} << 20;
    const int32_t rows = static_cast<int32_t>(
        std::clamp<size_t>(kChunkBytes / rowLen, 1, static_cast<size_t>(std::max(FRows - FRowsInflated, 1))));
    FChunk.resize(static_cast<size_t>(rows) * rowLen);
    z_stream& z = FZ->S;
    z.next_out = FChunk.data();
    z.avail_out = static_cast<uInt>(FChunk.size());
    int ret = Z_OK;
    while (z.avail_out > 0) {
      ret = inflate(&z, Z_NO_FLUSH);
      if (ret != Z_OK) break;
    }
    size_t produced = FChunk.size() - z.avail_out;
    if (ret != Z_OK && ret != Z_STREAM_END && !(ret == Z_BUF_ERROR && z.avail_in == 0)) {
      // Inflating one row at a time, the call that wrote a row's last byte goes on to
      // the error when no further output stands in between: that row fails too.
      FChunkFailed = true;
      FFailKind = fkCorrupt;
      FFailText = std::string("Deflate data: ") + (z.msg ? z.msg : "invalid");
      if (produced % rowLen == 0 && produced > 0) produced -= rowLen;
    } else if (z.avail_out > 0) {
      FChunkFailed = true;  // the data ends before the rows do
    }
    FChunkAt = 0;
    FChunkEnd = produced / rowLen * rowLen;
    FRowsInflated += rows;
    if (FChunkEnd < rowLen) return false;
  }
  std::memcpy(out, FChunk.data() + FChunkAt, rowLen);
  FChunkAt += rowLen;
  return true;
}

// A run may continue into the next row, so the block is one PackBits stream.
bool TTiffBlockDecoder::UnpackBits(uint8_t* out) {
  const int64_t size = static_cast<int64_t>(FData.size());
  int32_t filled = 0;
  while (filled < FRowLen) {
    if (FPackPending > 0) {  // literal bytes left over from the previous row
      const int32_t n = std::min(FPackPending, FRowLen - filled);
      if (FPos + n > size) return false;
      std::memcpy(out + filled, FData.data() + FPos, static_cast<size_t>(n));
      FPos += n;
      filled += n;
      FPackPending -= n;
      continue;
    }
    if (FPackRepeat > 0) {
      const int32_t n = std::min(FPackRepeat, FRowLen - filled);
      std::memset(out + filled, FPackByte, static_cast<size_t>(n));
      filled += n;
      FPackRepeat -= n;
      continue;
    }
    if (FPos >= size) return false;
    const int8_t c = static_cast<int8_t>(FData[static_cast<size_t>(FPos++)]);
    if (c >= 0) {
      FPackPending = c + 1;
    } else if (c != -128) {
      if (FPos >= size) return false;
      FPackByte = FData[static_cast<size_t>(FPos++)];
      FPackRepeat = 1 - c;
    }
  }
  return true;
}

// Horizontal differencing works on whole samples (8, 16, 32 or 64 bits, in the file's
// byte order); the floating-point predictor differences bytes and then stores each
// sample's bytes as planes, most significant first.
void TTiffBlockDecoder::UndoPredictor(uint8_t* row) {
  const int spp = FC.SamplesPerRow;
  const int bytes = FC.BitsPerSample / 8;
  if (bytes < 1 || FC.BitsPerSample % 8) return;
  const int64_t samples = int64_t{FWidth} * spp;
  if (samples * bytes > FRowLen) return;
  if (FC.Predictor == 2) {
    const bool be = FC.BigEndian;
    switch (bytes) {
      case 1:
        if (spp == 3) {
          // The running sums in registers: through memory each byte waits on the store before it.
          uint8_t r = row[0], g = row[1], b = row[2];
          for (int64_t i = 3; i < samples; i += 3) {
            row[i] = r = static_cast<uint8_t>(r + row[i]);
            row[i + 1] = g = static_cast<uint8_t>(g + row[i + 1]);
            row[i + 2] = b = static_cast<uint8_t>(b + row[i + 2]);
          }
        } else if (spp == 1) {
          uint8_t v = row[0];
          for (int64_t i = 1; i < samples; ++i) row[i] = v = static_cast<uint8_t>(v + row[i]);
        } else {
          for (int64_t i = spp; i < samples; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - spp]);
        }
        break;
      case 2:
        for (int64_t i = spp; i < samples; ++i) {
          uint8_t* p = row + 2 * i;
          VXStoreU16(p, VXLoadU16(p, be) + VXLoadU16(p - 2 * spp, be), be);
        }
        break;
      case 4:
        for (int64_t i = spp; i < samples; ++i) {
          uint8_t* p = row + 4 * i;
          VXStoreU32(p, VXLoadU32(p, be) + VXLoadU32(p - 4 * spp, be), be);
        }
        break;
      default:
        break;
    }
    return;
  }
  if (FC.Predictor != 3) return;
  const int64_t n = samples * bytes;
  for (int64_t i = spp; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - spp]);
  FFloat.assign(row, row + n);
  for (int64_t k = 0; k < samples; ++k)
    for (int b = 0; b < bytes; ++b) {
      const uint8_t v = FFloat[static_cast<size_t>(b * samples + k)];
      row[k * bytes + (FC.BigEndian ? b : bytes - 1 - b)] = v;
    }
}

}  // namespace vexa
