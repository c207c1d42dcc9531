#include "vexa/codecs/bmp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vexa/codecs/png.h"
#include "vexa/core/bytereader.h"
#include "vexa/quant/colordepth.h"
#include "vexa/quant/quantizer.h"
#include "vexa/core/vxview.h"

namespace vexa {

namespace {

// File header (14 bytes):
//   0  "BM"
//   2  file size (u32)        unreliable in the wild; only a fallback for the stream size
//   6  reserved (2 x u16)
//  10  pixel data offset (u32) from the file header's first byte; 0 = data follows the palette
constexpr int kFileHeaderSize = 14;

// Info header, identified by its leading size field:
//   12  OS/2 1.x core: size, width u16, height u16, planes u16, bit count u16
//   40  Windows 3: size, width i32, height i32 (negative = top-down), planes u16, bit count u16,
//       compression u32, image size u32 (may be 0 when uncompressed), X/Y pixels per metre i32,
//       colours used u32, colours important u32
//   64  OS/2 2.x: the Windows 3 layout plus 24 bytes we ignore
//  108/124 (v4/v5) keep the red, green, blue masks at bytes 40..51 of the header itself
constexpr int kCoreHeaderSize = 12;
constexpr int kInfoHeaderSize = 40;
constexpr int kOS2V2HeaderSize = 64;

constexpr uint32_t kBI_RGB = 0, kBI_RLE8 = 1, kBI_RLE4 = 2, kBI_BITFIELDS = 3;


// Truncated input is bad data, not a stream failure: the caller aborts and keeps what it decoded.
bool ReadExact(TStream& stream, void* buffer, int64_t count) {
  return count <= 0 || stream.Read(buffer, count) == count;
}

int PpmToDpi(int32_t ppm, int screen) {
  if (ppm < 1) return screen;
  int dpi = static_cast<int>(std::lround(ppm / 100.0 * 2.54));
  return dpi < 1 ? screen : dpi;
}

// Turns a masked field into an 8-bit sample whose top bit is the field's top bit (low bits zero),
// which for packed masks is exactly the classic "shift by the sum of the widths" arithmetic.
struct TMaskShift {
  uint32_t Mask = 0;
  int Down = 0;  // shift right to bring the field to bit 0
  int Up = 0;    // then shift left (field narrower than 8 bits) ...
  int Trim = 0;  // ... or right (wider than 8 bits)
  explicit TMaskShift(uint32_t mask = 0) : Mask(mask) {
    if (!mask) return;
    Down = __builtin_ctz(mask);
    int width = _GetBitCount(mask);
    if (width < 8)
      Up = 8 - width;
    else
      Trim = width - 8;
  }
  uint8_t Apply(uint32_t v) const { return static_cast<uint8_t>((((v & Mask) >> Down) << Up) >> Trim); }
};

struct TBmpInfo {
  int32_t Width = 0, Height = 0;
  bool TopDown = false;
  int Bits = 0;
  uint32_t Compression = kBI_RGB;
  uint32_t ImageSize = 0;
  uint32_t Masks[3] = {0, 0, 0};
};

void SetSamples(TIOParamsVals& params, int bits) {
  switch (bits) {
    case 16:
      params.BitsPerSample = 5;
      params.SamplesPerPixel = 3;
      break;
    case 24:
    case 32:
      params.BitsPerSample = 8;
      params.SamplesPerPixel = 3;
      break;
    default:
      params.BitsPerSample = bits;
      params.SamplesPerPixel = 1;
  }
}

// Palette lookups go through a full 256-entry table so that indices past a short palette read black.
struct TLookup {
  TRGB Entries[256];
  explicit TLookup(const std::vector<TRGB>& map) {
    size_t n = std::min<size_t>(map.size(), 256);
    std::copy(map.begin(), map.begin() + static_cast<std::ptrdiff_t>(n), Entries);
  }
};

// Fills n pixels by doubling memcpy: runs are long in the files RLE suits.
void FillRGB(TRGB* dst, int n, TRGB c) {
  if (n <= 0) return;
  if (n < 8) {
    for (int i = 0; i < n; ++i) dst[i] = c;
    return;
  }
  uint8_t* p = reinterpret_cast<uint8_t*>(dst);
  const size_t total = static_cast<size_t>(n) * 3;
  std::memcpy(p, &c, 3);
  size_t done = 3;
  while (done < total) {
    const size_t k = std::min(done, total - done);
    std::memcpy(p + done, p, k);
    done += k;
  }
}

// Decodes RLE8 (bits 8) or RLE4 (bits 4) into a pf24bit bitmap. Rows advance upwards from the bottom.
// Returns the rows left undecoded when the data ends without an end-of-bitmap code before the last
// row is full (0 when the picture is complete).
int DecodeRLE(const uint8_t* data, size_t len, int bits, const TLookup& pal, TBitmap& bitmap,
              TProgressRec& progress) {
  const int width = bitmap.Width(), height = bitmap.Height();
  int x = 0, row = height - 1;
  size_t p = 0;
  auto put = [&](uint8_t index) {
    if (x >= 0 && x < width && row >= 0 && row < height)
      reinterpret_cast<TRGB*>(bitmap.ScanLine(row))[x] = pal.Entries[index];
    ++x;
  };
  while (p + 1 < len) {
    // Past the right edge nothing is drawn until the next line: pinning x there keeps long streams
    // of runs and deltas from overflowing it.
    if (x > width) x = width;
    uint8_t count = data[p], value = data[p + 1];
    p += 2;
    if (count > 0) {
      // Clip the run once rather than testing every pixel.
      if (row < 0 || row >= height || x >= width) {
        x += count;
        continue;
      }
      if (bits == 8) {
        int n = std::min<int>(count, width - x);
        TRGB* dst = reinterpret_cast<TRGB*>(bitmap.ScanLine(row)) + x;
        FillRGB(dst, n, pal.Entries[value]);
        x += count;
      } else {
        for (int i = 0; i < count; ++i) put((i & 1) ? (value & 15) : (value >> 4));
      }
      continue;
    }
    if (value == 0) {
      x = 0;
      --row;
      if (row < 0) return 0;
      progress.Report(height - row);
      if (progress.Aborted()) return 0;
    } else if (value == 1) {
      return 0;
    } else if (value == 2) {
      if (p + 1 >= len) break;
      x += data[p];
      row -= data[p + 1];
      p += 2;
      // Rows only move up, so nothing more can land in the bitmap.
      if (row < 0) return 0;
    } else {
      int n = value;
      size_t bytes = bits == 8 ? n : (n + 1) / 2;
      size_t avail = std::min(bytes, len - p);
      if (bits == 8) {
        for (size_t i = 0; i < avail; ++i) put(data[p + i]);
      } else {
        for (int i = 0; i < n && static_cast<size_t>(i / 2) < avail; ++i) {
          uint8_t b = data[p + i / 2];
          put((i & 1) ? (b & 15) : (b >> 4));
        }
      }
      p += bytes + (bytes & 1);
    }
  }
  // Data that stops on the top row once it is full lacks only its end codes.
  if (row < 0 || (row == 0 && x >= width)) return 0;
  return row + 1;
}

// Decodes one uncompressed file row into bitmap row `row`.
void DecodeRow(const uint8_t* src, uint8_t* dst, const TBmpInfo& info, const TLookup& pal,
               const TMaskShift* masks) {
  const int width = info.Width;
  TRGB* out = reinterpret_cast<TRGB*>(dst);
  switch (info.Bits) {
    case 1:
      for (int i = 0; i < width; ++i) out[i] = pal.Entries[(src[i >> 3] >> (7 - (i & 7))) & 1];
      break;
    case 4: {
      int pairs = width / 2;
      for (int i = 0; i < pairs; ++i) {
        out[2 * i] = pal.Entries[src[i] >> 4];
        out[2 * i + 1] = pal.Entries[src[i] & 15];
      }
      if (width & 1) out[width - 1] = pal.Entries[src[pairs] >> 4];
      break;
    }
    case 8:
      for (int i = 0; i < width; ++i) out[i] = pal.Entries[src[i]];
      break;
    case 16:
      for (int i = 0; i < width; ++i) {
        uint32_t v = VXLoadU16(src + 2 * i);
        out[i].r = masks[0].Apply(v);
        out[i].g = masks[1].Apply(v);
        out[i].b = masks[2].Apply(v);
      }
      break;
    case 32:
      if (masks) {
        for (int i = 0; i < width; ++i) {
          uint32_t v = VXLoadU32(src + 4 * i);
          out[i].r = masks[0].Apply(v);
          out[i].g = masks[1].Apply(v);
          out[i].b = masks[2].Apply(v);
        }
      } else {
        for (int i = 0; i < width; ++i) {
          out[i].b = src[4 * i];
          out[i].g = src[4 * i + 1];
          out[i].r = src[4 * i + 2];
        }
      }
      break;
  }
}

bool IsDecodableBits(int bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

void BMPReadStream(TStream& stream, TBitmap& bitmap, int64_t size, bool preview, TProgressRec& progress,
                   TIOParamsVals& params) {
  const int64_t start = stream.Position();
  uint8_t fh[kFileHeaderSize];
  if (!ReadExact(stream, fh, kFileHeaderSize)) return progress.Fail(fkTruncated, "file header ends early");
  if (fh[0] != 'B' || fh[1] != 'M') return progress.Fail(fkCorrupt, "no BM signature");
  TVXByteReader file(fh, kFileHeaderSize);
  if (size < 1 && file.U32(2) != 0) size = file.U32(2);
  const uint32_t dataOffset = file.U32(10);

  params.FreeColorMap();
  uint8_t hsize[4];
  if (!ReadExact(stream, hsize, 4)) return progress.Fail(fkTruncated, "info header ends early");
  const uint32_t headerSize = VXLoadU32(hsize);
  TBmpInfo info;
  std::vector<TRGB> palette;

  if (headerSize == kCoreHeaderSize) {
    uint8_t h[8];
    if (!ReadExact(stream, h, 8)) return progress.Fail(fkTruncated, "core header ends early");
    TVXByteReader core(h, sizeof h);
    params.BMP_Version = ioBMP_BMOS2V1;
    info.Width = core.U16(0);
    info.Height = core.U16(2);
    info.Bits = core.U16(6);
    params.DpiX = gSystemDPIX;
    params.DpiY = gSystemDPIY;
    if (info.Bits <= 8) {
      int n = 1 << info.Bits;
      std::vector<uint8_t> raw(static_cast<size_t>(n) * 3);
      if (!ReadExact(stream, raw.data(), static_cast<int64_t>(raw.size())))
        return progress.Fail(fkTruncated, "palette ends early");
      palette.resize(n);
      for (int i = 0; i < n; ++i) palette[i] = TRGB{raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]};
    }
  } else {
    uint8_t h[64] = {};
    std::memcpy(h, hsize, 4);
    const uint32_t take = std::min<uint32_t>(headerSize, 64);
    if (take < 16) return progress.Fail(fkUnsupported, "info header size", headerSize);
    if (!ReadExact(stream, h + 4, take - 4)) return progress.Fail(fkTruncated, "info header ends early");
    TVXByteReader ih(h, sizeof h);
    if (headerSize > 64) stream.Seek(headerSize - 64, soCurrent);
    params.BMP_Version = headerSize == kInfoHeaderSize    ? ioBMP_BM3
                         : headerSize == kOS2V2HeaderSize ? ioBMP_BMOS2V2
                                                          : ioBMP_BM;
    info.Width = ih.I32(4);
    int32_t height = ih.I32(8);
    info.Bits = ih.U16(14);
    info.Compression = ih.U32(16);
    info.ImageSize = ih.U32(20);
    params.DpiX = PpmToDpi(ih.I32(24), gSystemDPIX);
    params.DpiY = PpmToDpi(ih.I32(28), gSystemDPIY);
    if (height < 0) {
      // INT32_MIN has no positive counterpart; it is no image anyway.
      if (height == INT32_MIN) return progress.Fail(fkCorrupt, "height -2147483648");
      info.TopDown = true;
      height = -height;
    }
    info.Height = height;
    // Masks of a header too short to hold them follow it, before the palette.
    if (info.Compression == kBI_BITFIELDS && headerSize < 52 && !ReadExact(stream, h + 40, 12))
      return progress.Fail(fkTruncated, "colour masks end early");
    uint32_t colorsUsed = ih.U32(32);
    if (colorsUsed == 0 && info.Bits <= 8) colorsUsed = 1u << info.Bits;
    if (colorsUsed) {
      const uint32_t n = std::min<uint32_t>(colorsUsed, 256);
      std::vector<uint8_t> raw(static_cast<size_t>(n) * 4);
      if (!ReadExact(stream, raw.data(), static_cast<int64_t>(raw.size())))
        return progress.Fail(fkTruncated, "palette ends early");
      palette.resize(n);
      for (uint32_t i = 0; i < n; ++i) palette[i] = TRGB{raw[4 * i], raw[4 * i + 1], raw[4 * i + 2]};
      // Without a data offset the pixels follow the palette, however long it claims to be.
      if (colorsUsed > n && dataOffset == 0) stream.Seek(static_cast<int64_t>(colorsUsed - n) * 4, soCurrent);
    }
    if (info.Compression == kBI_BITFIELDS)
      for (int i = 0; i < 3; ++i) info.Masks[i] = ih.U32(40 + 4 * static_cast<size_t>(i));
  }
  if (!palette.empty()) params.SetColorMap(palette.data(), static_cast<int>(palette.size()));
  params.BMP_Compression =
      (info.Compression == kBI_RLE8 || info.Compression == kBI_RLE4) ? ioBMP_RLE : ioBMP_UNCOMPRESSED;
  params.Width = info.Width;
  params.Height = info.Height;

  if (dataOffset != 0) stream.SetPosition(start + dataOffset);
  const int64_t here = stream.Position();
  int64_t dataLen = size > 0 ? size - (here - start) : static_cast<int64_t>(info.ImageSize);
  // A declared length is only a claim: never buffer more than the stream holds.
  const int64_t remaining = stream.Remaining();
  if (dataLen <= 0 || dataLen > remaining) dataLen = remaining;

  if (!IsDecodableBits(info.Bits)) return progress.Fail(fkUnsupported, "bit depth", info.Bits);
  if (info.Width <= 0 || info.Height <= 0) return progress.Fail(fkCorrupt, "width or height is not positive");
  if (info.TopDown && info.Compression != kBI_RGB && info.Compression != kBI_BITFIELDS)
    return progress.Fail(fkUnsupported, "top-down rows with compression", info.Compression);
  SetSamples(params, info.Bits);
  if (preview) return;

  // Two colours other than black and white keep their colours in 24 bits; a palette too
  // short to name two colours says nothing, and the bits stay as they are.
  const bool blackWhite = palette.size() < 2 || (palette[0] == TRGB{0, 0, 0} && palette[1] == TRGB{255, 255, 255}) ||
                          (palette[0] == TRGB{255, 255, 255} && palette[1] == TRGB{0, 0, 0});
  if (dataOffset != 0 && start + static_cast<int64_t>(dataOffset) > stream.Size())
    return progress.Fail(fkTruncated, "the pixel data offset lies past the end of the file");
  const TPixelFormat pf = info.Bits == 1 && blackWhite ? pf1bit : pf24bit;
  if (!VXCheckBitmapSize(info.Width, info.Height, pf == pf1bit ? 1 : 24))
    return progress.Fail(fkSizeLimit, VXSizeText(info.Width, info.Height));
  bitmap.Allocate(info.Width, info.Height, pf);
  const int height = info.Height;
  progress.PerUnit = 100.0 / height;

  const bool rle = info.Compression == kBI_RLE8 || info.Compression == kBI_RLE4;
  const bool knownLayout = info.Compression == kBI_RGB || info.Compression == kBI_BITFIELDS ||
                           (rle && (info.Bits == 4 || info.Bits == 8));
  if (!knownLayout || (rle && info.Bits != 4 && info.Bits != 8)) {
    // Data we cannot decode: the zeroed bitmap stays, the caller learns it failed.
    return progress.Fail(fkUnsupported, "compression", info.Compression);
  }
  const TLookup lookup(palette);

  if (rle) {
    std::vector<uint8_t> data(static_cast<size_t>(dataLen));
    int64_t got = stream.Read(data.data(), dataLen);
    const int missing = DecodeRLE(data.data(), static_cast<size_t>(got), info.Bits, lookup, bitmap, progress);
    if (missing > 0 && !progress.Aborted())
      progress.Fail(fkTruncated, VXRowsEndText(height - missing, height));
    return;
  }

  const int fileRowLen = _BitmapRowLen(info.Width, info.Bits);
  TMaskShift masks[3];
  const TMaskShift* maskPtr = nullptr;
  if (info.Bits == 16) {
    const uint32_t def[3] = {0x7C00, 0x03E0, 0x001F};
    for (int i = 0; i < 3; ++i)
      masks[i] = TMaskShift(info.Compression == kBI_BITFIELDS ? info.Masks[i] : def[i]);
    maskPtr = masks;
  } else if (info.Bits == 32 && info.Compression == kBI_BITFIELDS) {
    for (int i = 0; i < 3; ++i) masks[i] = TMaskShift(info.Masks[i]);
    maskPtr = masks;
  }
  const bool direct = (info.Bits == 1 && pf == pf1bit) || info.Bits == 24;
  std::vector<uint8_t> rowBuf(direct ? 0 : static_cast<size_t>(fileRowLen));
  for (int i = 0; i < height; ++i) {
    progress.Report(i);
    if (progress.Aborted()) return;
    const int row = info.TopDown ? i : height - 1 - i;
    uint8_t* dst = bitmap.ScanLine(row);
    if (direct) {
      // File rows and bitmap rows share the 4-byte padding, so they land in place.
      if (!ReadExact(stream, dst, fileRowLen)) return progress.Fail(fkTruncated, VXRowsEndText(i, height));
    } else {
      if (!ReadExact(stream, rowBuf.data(), fileRowLen)) return progress.Fail(fkTruncated, VXRowsEndText(i, height));
      DecodeRow(rowBuf.data(), dst, info, lookup, maskPtr);
    }
  }
  if (pf == pf1bit && palette.size() >= 2 && palette[0] == TRGB{255, 255, 255}) {
    uint8_t* bits = bitmap.Bits();
    const size_t n = bitmap.ImageSize();
    for (size_t k = 0; k < n; ++k) bits[k] = static_cast<uint8_t>(~bits[k]);
  }
}

// ---------------------------------------------------------------------------------------------
// Writing

namespace {

// A 24-bit view of the source: the bitmap itself, or a converted copy (set bits of pf1bit become white).
const TBitmap& As24(const TBitmap& src, TBitmap& scratch) {
  if (src.PixelFormat() == pf24bit) return src;
  TProgressRec quiet;
  if (src.PixelFormat() == pf1bit) {
    _Conv1to24(src, scratch, quiet);
  } else {
    scratch = src;
    scratch.SetPixelFormat(pf24bit);
  }
  return scratch;
}

// One row of palette indices as RLE8 / RLE4 codes, ending with the end-of-line code.
void EncodeRLERow(const uint8_t* idx, int width, int bits, std::vector<uint8_t>& out) {
  auto flush = [&](int from, int to) {
    const int n = to - from;
    if (n <= 0) return;
    if (n == 1) {
      out.push_back(1);
      out.push_back(bits == 8 ? idx[from] : static_cast<uint8_t>(idx[from] << 4));
    } else if (n == 2) {
      if (bits == 8) {
        out.insert(out.end(), {1, idx[from], 1, idx[from + 1]});
      } else {
        out.push_back(2);
        out.push_back(static_cast<uint8_t>((idx[from] << 4) | idx[from + 1]));
      }
    } else {
      out.push_back(0);
      out.push_back(static_cast<uint8_t>(n));
      size_t bytes;
      if (bits == 8) {
        out.insert(out.end(), idx + from, idx + to);
        bytes = n;
      } else {
        for (int i = from; i < to; i += 2)
          out.push_back(static_cast<uint8_t>((idx[i] << 4) | (i + 1 < to ? idx[i + 1] : 0)));
        bytes = (n + 1) / 2;
      }
      if (bytes & 1) out.push_back(0);
    }
  };
  int i = 0, lit = 0;
  while (i < width) {
    int j = i + 1;
    while (j < width && idx[j] == idx[i] && j - i < 255) ++j;
    if (j - i >= 2) {
      flush(lit, i);
      out.push_back(static_cast<uint8_t>(j - i));
      out.push_back(bits == 8 ? idx[i] : static_cast<uint8_t>(idx[i] * 17));
      i = j;
      lit = i;
    } else {
      ++i;
      if (i - lit == 255) {
        flush(lit, i);
        lit = i;
      }
    }
  }
  flush(lit, width);
  out.push_back(0);
  out.push_back(0);
}

}  // namespace

namespace {

// The Windows 3 fields past the size; bit count and image size too when known (0: patched later).
void FillInfoHeader(uint8_t* ih, int width, int height, int bits, uint32_t compression, int dpiX, int dpiY) {
  const uint32_t ncol = bits <= 8 ? (1u << bits) : 0;
  VXStoreU32(ih + 4, width);
  VXStoreU32(ih + 8, height);
  VXStoreU16(ih + 12, 1);
  VXStoreU32(ih + 16, compression);
  VXStoreU32(ih + 24, static_cast<uint32_t>(VXDpiToPixelsPerMetre(dpiX)));
  VXStoreU32(ih + 28, static_cast<uint32_t>(VXDpiToPixelsPerMetre(dpiY)));
  VXStoreU32(ih + 32, ncol);
  VXStoreU32(ih + 36, 1u << bits);
}

void WritePalette(TStream& stream, const std::vector<TRGB>& pal, int entry) {
  std::vector<uint8_t> raw(pal.size() * entry, 0);
  for (size_t i = 0; i < pal.size(); ++i) {
    raw[i * entry] = pal[i].b;
    raw[i * entry + 1] = pal[i].g;
    raw[i * entry + 2] = pal[i].r;
  }
  stream.WriteBuffer(raw.data(), static_cast<int64_t>(raw.size()));
}

}  // namespace

void BMPWriteStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  const int width = bitmap.Width(), height = bitmap.Height();
  const bool core = params.BMP_Version == ioBMP_BMOS2V1;
  // An empty image has no file form, and the core header cannot hold sizes above 16 bits.
  if (bitmap.Empty()) return progress.Fail(fkSizeLimit, "an empty image has no file form");
  if (core && (width > 0xFFFF || height > 0xFFFF))
    return progress.Fail(fkSizeLimit, "the OS/2 1.x header holds at most 65535 x 65535");
  int bits = (params.BitsPerSample == 1 || params.BitsPerSample == 4) ? params.BitsPerSample
             : params.SamplesPerPixel == 1                             ? 8
                                                                       : 24;
  const bool rle = !core && params.BMP_Compression == ioBMP_RLE && (bits == 4 || bits == 8);
  const uint32_t headerSize = core ? kCoreHeaderSize
                              : params.BMP_Version == ioBMP_BMOS2V2 ? kOS2V2HeaderSize
                                                                    : kInfoHeaderSize;
  const int64_t start = stream.Position();

  // Pixel source and palette.
  TBitmap scratch;
  std::unique_ptr<TBitmap> oneBit;
  const TBitmap* src1 = nullptr;  // 1-bit source
  const TBitmap* src24 = nullptr;
  std::vector<TRGB> pal;
  if (bits == 1) {
    if (bitmap.PixelFormat() == pf1bit) {
      src1 = &bitmap;
      pal = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
    } else {
      const TBitmap& s24 = As24(bitmap, scratch);
      TRGB c0, c1;
      oneBit = _ConvertTo1bit(s24, c0, c1);
      if (oneBit) {
        pal = {c0, c1};
      } else {
        oneBit = std::make_unique<TBitmap>(s24);
        TProgressRec quiet;
        _ConvertToBWOrdered(*oneBit, quiet);
        pal = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
      }
      src1 = oneBit.get();
    }
  } else {
    src24 = &As24(bitmap, scratch);
  }
  std::unique_ptr<TVXQuantizer> quant;
  if (bits == 4 || bits == 8) {
    pal.assign(static_cast<size_t>(1) << bits, TRGB{});
    quant = std::make_unique<TVXQuantizer>(*src24, pal, 1 << bits, -1, 0);
    pal.resize(static_cast<size_t>(1) << bits);
  }
  if (!pal.empty()) params.SetColorMap(pal.data(), static_cast<int>(pal.size()));

  // Headers; sizes are patched once the pixels are out.
  uint8_t fh[kFileHeaderSize] = {'B', 'M'};
  stream.WriteBuffer(fh, kFileHeaderSize);
  uint8_t ih[kOS2V2HeaderSize] = {};
  VXStoreU32(ih, headerSize);
  if (core) {
    VXStoreU16(ih + 4, width);
    VXStoreU16(ih + 6, height);
    VXStoreU16(ih + 8, 1);
  } else {
    FillInfoHeader(ih, width, height, bits, rle ? (bits == 4 ? kBI_RLE4 : kBI_RLE8) : kBI_RGB, params.DpiX,
                   params.DpiY);
  }
  stream.WriteBuffer(ih, headerSize);
  if (!pal.empty()) WritePalette(stream, pal, core ? 3 : 4);
  const int64_t dataPos = stream.Position();

  progress.PerUnit = 100.0 / height;
  const int rowLen = _BitmapRowLen(width, bits);
  std::vector<uint8_t> out(static_cast<size_t>(rowLen), 0);
  std::vector<uint8_t> idx(bits == 4 || bits == 8 ? static_cast<size_t>(width) : 0);
  std::vector<uint8_t> rleBuf;
  for (int i = 0; i < height; ++i) {
    progress.Report(i);
    if (progress.Aborted()) break;
    const int row = height - 1 - i;
    if (bits == 1) {
      stream.WriteBuffer(src1->ScanLine(row), rowLen);
    } else if (bits == 24) {
      stream.WriteBuffer(src24->ScanLine(row), rowLen);
    } else {
      const TRGB* s = reinterpret_cast<const TRGB*>(src24->ScanLine(row));
      for (int x = 0; x < width; ++x) idx[x] = static_cast<uint8_t>(quant->GetRGBIndex(s[x]) & (bits == 4 ? 15 : 255));
      if (rle) {
        rleBuf.clear();
        EncodeRLERow(idx.data(), width, bits, rleBuf);
        stream.WriteBuffer(rleBuf.data(), static_cast<int64_t>(rleBuf.size()));
      } else if (bits == 8) {
        std::memcpy(out.data(), idx.data(), static_cast<size_t>(width));
        stream.WriteBuffer(out.data(), rowLen);
      } else {
        for (int x = 0; x + 1 < width; x += 2) out[x / 2] = static_cast<uint8_t>((idx[x] << 4) | idx[x + 1]);
        if (width & 1) out[width / 2] = static_cast<uint8_t>(idx[width - 1] << 4);
        stream.WriteBuffer(out.data(), rowLen);
      }
    }
  }
  if (progress.Aborted()) return;
  if (rle) {
    const uint8_t eob[2] = {0, 1};
    stream.WriteBuffer(eob, 2);
  }
  const int64_t end = stream.Position();
  VXStoreU32(fh + 2, static_cast<uint32_t>(end - start));
  VXStoreU32(fh + 10, static_cast<uint32_t>(dataPos - start));
  if (core) {
    VXStoreU16(ih + 10, bits);
  } else {
    VXStoreU16(ih + 14, bits);
    VXStoreU32(ih + 20, static_cast<uint32_t>(end - dataPos));
  }
  stream.SetPosition(start);
  stream.WriteBuffer(fh, kFileHeaderSize);
  stream.WriteBuffer(ih, headerSize);
  stream.SetPosition(end);
}

TBMPBandWriter::TBMPBandWriter(TStream& stream, int width, int height, int bitsPerPixel, int dpiX, int dpiY)
    : FStream(stream), FWidth(width), FHeight(height), FBits(bitsPerPixel) {
  if (width <= 0 || height <= 0 || (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 24))
    throw std::invalid_argument("no BMP of " + std::to_string(width) + " x " + std::to_string(height) + " at " +
                            std::to_string(bitsPerPixel) + " bits per pixel");
  FRowLen = _BitmapRowLen(width, bitsPerPixel);
  std::vector<TRGB> pal;
  if (bitsPerPixel == 1) pal = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
  for (int v = 0; bitsPerPixel == 8 && v < 256; ++v)
    pal.push_back(TRGB{static_cast<uint8_t>(v), static_cast<uint8_t>(v), static_cast<uint8_t>(v)});
  FStart = stream.Position();
  FDataPos = FStart + kFileHeaderSize + kInfoHeaderSize + 4 * static_cast<int64_t>(pal.size());
  const int64_t dataSize = int64_t{FRowLen} * height;
  uint8_t fh[kFileHeaderSize] = {'B', 'M'};
  VXStoreU32(fh + 2, static_cast<uint32_t>(FDataPos - FStart + dataSize));
  VXStoreU32(fh + 10, static_cast<uint32_t>(FDataPos - FStart));
  uint8_t ih[kInfoHeaderSize] = {};
  VXStoreU32(ih, kInfoHeaderSize);
  FillInfoHeader(ih, width, height, bitsPerPixel, kBI_RGB, dpiX, dpiY);
  VXStoreU16(ih + 14, bitsPerPixel);
  VXStoreU32(ih + 20, static_cast<uint32_t>(dataSize));
  stream.WriteBuffer(fh, kFileHeaderSize);
  stream.WriteBuffer(ih, kInfoHeaderSize);
  if (!pal.empty()) WritePalette(stream, pal, 4);
}

void TBMPBandWriter::WriteBand(int y, const TBitmap& band) {
  const int rows = band.Height();
  const TPixelFormat want = FBits == 1 ? pf1bit : pf24bit;
  if (band.Width() != FWidth || band.PixelFormat() != want || y < 0 || rows <= 0 || y > FHeight - rows)
    throw std::out_of_range("band of " + std::to_string(band.Width()) + " x " + std::to_string(rows) +
                            " at row " + std::to_string(y) + " does not fit the " + std::to_string(FWidth) + " x " +
                            std::to_string(FHeight) + " image");
  // The file keeps its rows bottom-up like the band's memory, so a band is one
  // run of the file ending at the row above the previous band.
  FStream.SetPosition(FDataPos + int64_t{FRowLen} * (FHeight - y - rows));
  if (FBits != 8) {
    FStream.WriteBuffer(band.Bits(), int64_t{FRowLen} * rows);
    return;
  }
  FRow.assign(static_cast<size_t>(FRowLen) * rows, 0);
  for (int r = 0; r < rows; ++r) {
    const uint8_t* s = band.ScanLine(rows - 1 - r);
    uint8_t* d = FRow.data() + static_cast<size_t>(r) * FRowLen;
    for (int x = 0; x < FWidth; ++x) d[x] = s[3 * x];
  }
  FStream.WriteBuffer(FRow.data(), static_cast<int64_t>(FRow.size()));
}

void TBMPBandWriter::Finish() { FStream.SetPosition(FDataPos + int64_t{FRowLen} * FHeight); }

// ---------------------------------------------------------------------------------------------
// Icons and cursors

namespace {

// Directory: reserved u16 = 0, type u16 (1 icon, 2 cursor), count u16; then per image 16 bytes:
//   0 width u8 (0 = see header)  1 height u8  2 colour count u8 (0 = 256 or more)  3 reserved u8
//   4 planes u16 (cursor: hot spot X)  6 bit count u16 (cursor: hot spot Y)
//   8 data size u32  12 data offset u32 from the file start
constexpr int kDirHeaderSize = 6, kDirEntrySize = 16;

bool TryIconDir(TStream& stream, uint16_t type) {
  const int64_t start = stream.Position();
  bool ok = false;
  if (stream.Size() - start > 22) {
    uint8_t h[kDirHeaderSize];
    if (ReadExact(stream, h, kDirHeaderSize) && VXLoadU16(h) == 0 && VXLoadU16(h + 2) == type &&
        VXLoadU16(h + 4) > 0) {
      const int count = VXLoadU16(h + 4);
      ok = true;
      for (int i = 0; i < count && ok; ++i) {
        uint8_t e[kDirEntrySize];
        if (!ReadExact(stream, e, kDirEntrySize)) {
          ok = false;
          break;
        }
        const uint32_t after = static_cast<uint32_t>(kDirHeaderSize + (i + 1) * kDirEntrySize);
        ok = e[3] == 0 && VXLoadU32(e + 8) != 0 && VXLoadU32(e + 12) >= after;
      }
    }
  }
  stream.SetPosition(start);
  return ok;
}

// A blue-green-red pixel with alpha a over bg: value x a + bg x (255 - a), rounded.
TRGB Over(const uint8_t* bgr, unsigned a, TRGB bg) {
  const unsigned na = 255 - a;
  return TRGB{static_cast<uint8_t>((bgr[0] * a + bg.b * na + 127) / 255),
              static_cast<uint8_t>((bgr[1] * a + bg.g * na + 127) / 255),
              static_cast<uint8_t>((bgr[2] * a + bg.r * na + 127) / 255)};
}

// Cursors report their bit count as one sample; icons say 8 x 3 above 8 bits.
void SetIconSamples(TIOParamsVals& params, int bits, bool cursor) {
  const bool rgb = !cursor && bits > 8;
  params.BitsPerSample = rgb ? 8 : bits;
  params.SamplesPerPixel = rgb ? 3 : 1;
}

// A PNG-compressed entry: the PNG adapter composes it over the icon's background; the
// parameters describe it as the directory and the PNG header do.
void ReadIconPNG(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview,
                 bool cursor, TRGB background, const uint8_t* entry) {
  TIOParamsVals png;
  ReadPNGStreamOver(stream, bitmap, png, preview, progress, &background);
  params.Width = png.Width;
  params.Height = png.Height;
  params.DpiX = png.DpiX;
  params.DpiY = png.DpiY;
  const int depth = png.BitsPerSample * png.SamplesPerPixel;
  int bits = VXLoadU16(entry + 6);
  if (cursor || bits == 0) bits = depth;
  SetIconSamples(params, bits, cursor);
  params.FreeColorMap();
  if (png.ColorMapCount > 0) params.SetColorMap(png.ColorMap.data(), png.ColorMapCount);
}

// Shared icon/cursor image reader; `cursor` selects the cursor rules.
void ReadIconImage(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview,
                   bool cursor) {
  const int64_t start = stream.Position();
  uint8_t dir[kDirHeaderSize];
  if (!ReadExact(stream, dir, kDirHeaderSize)) return progress.Fail(fkTruncated, "directory ends early");
  if (!cursor && dir[0] == 'B' && dir[1] == 'M') {
    stream.SetPosition(start);
    BMPReadStream(stream, bitmap, stream.Size() - start, preview, progress, params);
    return;
  }
  const int count = VXLoadU16(dir + 4);
  const int index = cursor ? params.CUR_ImageIndex : params.ICO_ImageIndex;
  if (index < 0 || index >= count) return;
  uint8_t e[kDirEntrySize];
  for (int i = 0; i <= index; ++i)
    if (!ReadExact(stream, e, kDirEntrySize)) return progress.Fail(fkTruncated, "directory ends early");
  TVXByteReader entry(e, kDirEntrySize);
  if (cursor) {
    params.CUR_XHotSpot = entry.U16(4);
    params.CUR_YHotSpot = entry.U16(6);
  }
  stream.SetPosition(start + entry.U32(12));
  const TRGB background = cursor ? params.CUR_Background : params.ICO_Background;
  if (IsPNGStream(stream)) return ReadIconPNG(stream, bitmap, params, progress, preview, cursor, background, e);
  uint8_t h[kInfoHeaderSize];
  if (!ReadExact(stream, h, kInfoHeaderSize)) return progress.Fail(fkTruncated, "image header ends early");
  TVXByteReader ih(h, kInfoHeaderSize);
  // Longer headers (v4/v5) put the palette after their full length.
  const uint32_t headerSize = ih.U32(0);
  if (headerSize > kInfoHeaderSize && headerSize <= 1024) stream.Seek(headerSize - kInfoHeaderSize, soCurrent);
  params.DpiX = PpmToDpi(ih.I32(24), gSystemDPIX);
  params.DpiY = PpmToDpi(ih.I32(28), gSystemDPIY);

  const int headerBits = ih.U16(14);
  const int entryColors = e[2];
  int bits = headerBits;
  if (!cursor && bits == 0) bits = entry.U16(6);
  if (bits == 0) bits = _NColToBitsPixel(entryColors);
  if (bits <= 0) return progress.Fail(fkCorrupt, "no bit depth in header or directory");
  const int colors = entryColors ? entryColors : (bits <= 8 ? 1 << bits : 0);
  SetIconSamples(params, bits, cursor);

  const int32_t headerWidth = ih.I32(4);
  const int32_t headerHalf = ih.I32(8) / 2;
  int32_t width = e[0], height = e[1];
  if (width == 0 || height == 0) {
    width = headerWidth;
    height = headerHalf;
  } else if (!cursor && (width != headerWidth || height != headerHalf) && headerWidth > 0 && headerWidth < 2048 &&
             headerHalf > 0 && headerHalf < 2048) {
    // The header describes the data that follows; a directory that disagrees is wrong.
    width = headerWidth;
    height = headerHalf;
  }
  params.Width = width;
  params.Height = height;

  std::vector<TRGB> palette;
  params.FreeColorMap();
  if (bits <= 8) {
    const int n = std::min(colors, 256);
    std::vector<uint8_t> raw(static_cast<size_t>(n) * 4);
    if (!ReadExact(stream, raw.data(), static_cast<int64_t>(raw.size())))
      return progress.Fail(fkTruncated, "palette ends early");
    palette.resize(n);
    for (int i = 0; i < n; ++i) palette[i] = TRGB{raw[4 * i], raw[4 * i + 1], raw[4 * i + 2]};
    params.SetColorMap(palette.data(), n);
  }
  if (preview) return;

  // Only 1-bit data fits a 1-bit bitmap, whatever the colour count claims.
  const TPixelFormat pf = bits == 1 ? pf1bit : pf24bit;
  if (width <= 0 || height <= 0) return progress.Fail(fkCorrupt, "width or height is not positive");
  if (!VXCheckBitmapSize(width, height, pf == pf1bit ? 1 : 24))
    return progress.Fail(fkSizeLimit, VXSizeText(width, height));
  bitmap.Allocate(width, height, pf);
  const bool decodable = bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32;
  if (!decodable) return progress.Fail(fkUnsupported, "bit depth", bits);

  const int colorRowLen = _BitmapRowLen(width, bits);
  const int maskRowLen = _BitmapRowLen(width, 1);
  // Buffers hold what the stream has, never what the header claims; rows past a short file stay zero.
  const int64_t colorBytes = static_cast<int64_t>(colorRowLen) * height;
  const int64_t maskBytes = static_cast<int64_t>(maskRowLen) * height;
  std::vector<uint8_t> colorRows(static_cast<size_t>(std::min(colorBytes, stream.Remaining())));
  const int64_t gotColor = stream.Read(colorRows.data(), static_cast<int64_t>(colorRows.size()));
  std::vector<uint8_t> maskRows(static_cast<size_t>(std::min(maskBytes, stream.Remaining())));
  const int64_t gotMask = stream.Read(maskRows.data(), static_cast<int64_t>(maskRows.size()));
  // 32-bit images carry alpha (old ones leave it all zero and rely on the mask); with
  // alpha the mask is redundant and only the colour rows must be complete.
  bool useAlpha = false;
  if (bits == 32)
    for (size_t k = 3; k < colorRows.size() && !useAlpha; k += 4) useAlpha = colorRows[k] != 0;
  const bool complete = gotColor == colorBytes && (useAlpha || gotMask == maskBytes);
  const int colorRowsRead = static_cast<int>(gotColor / colorRowLen);
  const int maskRowsRead = static_cast<int>(gotMask / maskRowLen);
  const std::vector<uint8_t> opaque(static_cast<size_t>(maskRowLen), 0);
  const uint8_t flip = background == TRGB{255, 255, 255} ? 0xFF : 0x00;
  const TLookup lookup(palette);

  for (int i = 0; i < colorRowsRead; ++i) {
    const int row = height - 1 - i;
    const uint8_t* c = colorRows.data() + static_cast<size_t>(i) * colorRowLen;
    const uint8_t* m = i < maskRowsRead ? maskRows.data() + static_cast<size_t>(i) * maskRowLen : opaque.data();
    uint8_t* dst = bitmap.ScanLine(row);
    if (bits == 1) {
      // Transparent pixels become (bit xor B): one byte operation covers eight of them.
      for (int k = 0; k < maskRowLen; ++k) dst[k] = static_cast<uint8_t>((c[k] & ~m[k]) | ((c[k] ^ flip) & m[k]));
    } else if (bits == 24 || bits == 32) {
      TRGB* out = reinterpret_cast<TRGB*>(dst);
      const int step = bits / 8;
      for (int x = 0; x < width; ++x) {
        const uint8_t* p = c + static_cast<size_t>(x) * step;
        if (useAlpha) {
          out[x] = Over(p, p[3], background);
        } else {
          const bool masked = (m[x >> 3] & (0x80 >> (x & 7))) != 0;
          out[x] = masked ? background : TRGB{p[0], p[1], p[2]};
        }
      }
    } else {
      TRGB* out = reinterpret_cast<TRGB*>(dst);
      for (int x = 0; x < width; ++x) {
        const int v = bits == 8 ? c[x] : ((x & 1) ? (c[x >> 1] & 15) : (c[x >> 1] >> 4));
        out[x] = (m[x >> 3] & (0x80 >> (x & 7))) ? background : lookup.Entries[v];
      }
    }
  }
  if (!complete)
    progress.Fail(fkTruncated, VXRowsEndText(useAlpha ? colorRowsRead : std::min(colorRowsRead, maskRowsRead), height));
}

}  // namespace

void ICOReadStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  ReadIconImage(stream, bitmap, params, progress, preview, false);
}

void CURReadStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  ReadIconImage(stream, bitmap, params, progress, preview, true);
}

bool ICOTryStream(TStream& stream) { return TryIconDir(stream, 1); }

bool CURTryStream(TStream& stream) { return TryIconDir(stream, 2); }

}  // namespace vexa
