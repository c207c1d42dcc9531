#include "vexa/codecs/pcx.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "vexa/core/bytereader.h"
#include "vexa/quant/colordepth.h"
#include "vexa/quant/quantizer.h"
#include "vexa/core/vxview.h"

namespace vexa {

namespace {

constexpr int kHeaderSize = 128;
constexpr int kTrailerPaletteSize = 768;
constexpr uint8_t kPaletteMarker = 12;

// The 128-byte header; all words little-endian.
struct PcxHeader {
  uint8_t manufacturer = 10;  // 0: always 10
  uint8_t version = 5;        // 1: 0, 2, 3, 4 or 5 in the wild; not checked
  uint8_t encoding = 1;       // 2: 0 none, 1 run-length
  uint8_t bitsPerPixel = 8;   // 3: per plane
  uint16_t xmin = 0, ymin = 0, xmax = 0, ymax = 0;  // 4..11: inclusive bounds
  uint16_t hdpi = 0, vdpi = 0;                      // 12, 14: 0 in many files
  TRGB palette[16];                                 // 16: red, green, blue per entry
  uint8_t planes = 1;                               // 65
  uint16_t bytesPerLine = 0;                        // 66: per plane, meant to be even (often odd)
  uint16_t paletteInfo = 1;                         // 68: 1 colour/mono, 2 grey; ignored on reading
};


PcxHeader ParseHeader(const uint8_t* b) {
  PcxHeader h;
  h.manufacturer = b[0];
  h.version = b[1];
  h.encoding = b[2];
  h.bitsPerPixel = b[3];
  h.xmin = VXLoadU16(b + 4);
  h.ymin = VXLoadU16(b + 6);
  h.xmax = VXLoadU16(b + 8);
  h.ymax = VXLoadU16(b + 10);
  h.hdpi = VXLoadU16(b + 12);
  h.vdpi = VXLoadU16(b + 14);
  for (int i = 0; i < 16; ++i) h.palette[i] = CreateRGB(b[16 + 3 * i], b[17 + 3 * i], b[18 + 3 * i]);
  h.planes = b[65];
  h.bytesPerLine = VXLoadU16(b + 66);
  h.paletteInfo = VXLoadU16(b + 68);
  return h;
}

void SerializeHeader(const PcxHeader& h, uint8_t* b) {
  std::memset(b, 0, kHeaderSize);
  b[0] = h.manufacturer;
  b[1] = h.version;
  b[2] = h.encoding;
  b[3] = h.bitsPerPixel;
  VXStoreU16(b + 4, h.xmin);
  VXStoreU16(b + 6, h.ymin);
  VXStoreU16(b + 8, h.xmax);
  VXStoreU16(b + 10, h.ymax);
  VXStoreU16(b + 12, h.hdpi);
  VXStoreU16(b + 14, h.vdpi);
  for (int i = 0; i < 16; ++i) {
    b[16 + 3 * i] = h.palette[i].r;
    b[17 + 3 * i] = h.palette[i].g;
    b[18 + 3 * i] = h.palette[i].b;
  }
  b[65] = h.planes;
  VXStoreU16(b + 66, h.bytesPerLine);
  VXStoreU16(b + 68, h.paletteInfo);
}

// Pixel layouts the reader decodes.
enum class Layout { Unsupported, Mono, Index2, Index4, Index8, Planar1, Rgb, Rgba };

Layout LayoutOf(int planes, int bits) {
  if (planes == 1) {
    switch (bits) {
      case 1: return Layout::Mono;
      case 2: return Layout::Index2;
      case 4: return Layout::Index4;
      case 8: return Layout::Index8;
      default: return Layout::Unsupported;
    }
  }
  if (bits == 1 && planes >= 2 && planes <= 4) return Layout::Planar1;
  if (bits == 8 && planes == 3) return Layout::Rgb;
  if (bits == 8 && planes == 4) return Layout::Rgba;
  return Layout::Unsupported;
}

// Source of decoded bytes over the data held in memory. A run may continue into the
// next plane line or row, so the pending part of a run is kept between calls.
class PcxDecoder {
 public:
  PcxDecoder(const uint8_t* data, size_t size, bool rle) : FPos(data), FEnd(data + size), FRle(rle) {}

  // Fills n bytes; false when the data ends first (the rest is zero).
  bool Fill(uint8_t* dst, size_t n) {
    if (!FRle) {
      const size_t k = std::min(n, static_cast<size_t>(FEnd - FPos));
      std::memcpy(dst, FPos, k);
      FPos += k;
      if (k == n) return true;
      std::memset(dst + k, 0, n - k);
      return false;
    }
    size_t i = 0;
    while (i < n) {
      if (FRunLeft) {
        const size_t k = std::min(n - i, FRunLeft);
        std::memset(dst + i, FRunValue, k);
        i += k;
        FRunLeft -= k;
        continue;
      }
      // Literal stretches are the common case in busy images: copy them in one go.
      const uint8_t* limit = FPos + std::min(n - i, static_cast<size_t>(FEnd - FPos));
      const uint8_t* lit = FPos;
      while (lit < limit && *lit < 192) ++lit;
      if (lit != FPos) {
        const size_t k = static_cast<size_t>(lit - FPos);
        std::memcpy(dst + i, FPos, k);
        i += k;
        FPos = lit;
        continue;
      }
      if (FEnd - FPos < 2) {
        FPos = FEnd;
        std::memset(dst + i, 0, n - i);
        return false;
      }
      FRunLeft = FPos[0] & 63u;
      FRunValue = FPos[1];
      FPos += 2;
    }
    return true;
  }

 private:
  const uint8_t* FPos;
  const uint8_t* FEnd;
  bool FRle;
  size_t FRunLeft = 0;
  uint8_t FRunValue = 0;
};

void DecodeRow(Layout layout, const uint8_t* line, int bpl, int planes, int width, const TRGB* pal16,
               const TRGB* pal256, uint8_t* out) {
  TRGB* px = reinterpret_cast<TRGB*>(out);
  switch (layout) {
    case Layout::Mono: {
      const int n = (width + 7) / 8;
      std::memcpy(out, line, n);
      if (width & 7) out[n - 1] &= static_cast<uint8_t>(0xFF00 >> (width & 7));
      break;
    }
    case Layout::Index2:
      for (int x = 0; x < width; ++x) px[x] = pal16[(line[x >> 2] >> (6 - 2 * (x & 3))) & 3];
      break;
    case Layout::Index4:
      for (int x = 0; x < width; ++x) px[x] = pal16[(x & 1) ? (line[x >> 1] & 15) : (line[x >> 1] >> 4)];
      break;
    case Layout::Index8:
      for (int x = 0; x < width; ++x) px[x] = pal256[line[x]];
      break;
    case Layout::Planar1:
      for (int x = 0; x < width; ++x) {
        const int byte = x >> 3, shift = 7 - (x & 7);
        int index = 0;
        for (int p = 0; p < planes; ++p) index |= ((line[p * bpl + byte] >> shift) & 1) << p;
        px[x] = pal16[index];
      }
      break;
    case Layout::Rgb:
    case Layout::Rgba: {
      const uint8_t* r = line;
      const uint8_t* g = line + bpl;
      const uint8_t* b = line + 2 * bpl;
      for (int x = 0; x < width; ++x) {
        px[x].r = r[x];
        px[x].g = g[x];
        px[x].b = b[x];
      }
      break;
    }
    case Layout::Unsupported:
      break;
  }
}

// Bytes of pixel data one row needs in each plane line.
int64_t NeededLineBytes(Layout layout, int64_t width) {
  switch (layout) {
    case Layout::Mono:
    case Layout::Planar1: return (width + 7) / 8;
    case Layout::Index2: return (width + 3) / 4;
    case Layout::Index4: return (width + 1) / 2;
    default: return width;
  }
}

// Plane line encoder: runs of up to 63 equal bytes, and lone bytes that look like a
// count, become (192 + count, value); the odd pad byte is a literal 0.
size_t EncodeLine(const uint8_t* src, int n, uint8_t* out) {
  size_t o = 0;
  int i = 0;
  while (i < n) {
    const uint8_t v = src[i];
    int run = 1;
    while (i + run < n && run < 63 && src[i + run] == v) ++run;
    if (run > 1 || v >= 192) {
      out[o++] = static_cast<uint8_t>(192 + run);
      out[o++] = v;
    } else {
      out[o++] = v;
    }
    i += run;
  }
  if (n & 1) out[o++] = 0;
  return o;
}

// The 1-bit picture to write for a pf24bit bitmap: its two colours (darker first)
// when it has exactly two, else the ordered dither in black and white.
void PrepareOneBit(const TBitmap& bitmap, TBitmap& work, TRGB& c0, TRGB& c1) {
  if (std::unique_ptr<TBitmap> two = _ConvertTo1bit(bitmap, c0, c1)) {
    work = std::move(*two);
    return;
  }
  work = bitmap;
  TProgressRec quiet;
  _ConvertToBWOrdered(work, quiet);
  c0 = TRGB{0, 0, 0};
  c1 = TRGB{255, 255, 255};
}

// The depth to write: BitsPerSample x SamplesPerPixel when PCX has it (1 for any
// 1-bit request), else the nearest it has, for parameters read from other formats:
// 24 bits for colour (three or more samples: RGBA, 5-5-5, 16-bit RGB), otherwise a
// 4- or 8-bit palette (2-bit, 16-bit grey, grey with alpha).
int PcxDepth(int bitsPerSample, int samplesPerPixel) {
  if (bitsPerSample == 1) return 1;
  const int depth = bitsPerSample * samplesPerPixel;
  if (depth == 4 || depth == 8 || depth == 24) return depth;
  if (samplesPerPixel >= 3 || depth <= 0) return 24;
  return depth < 4 ? 4 : 8;
}

}  // namespace

void ReadPcxStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress,
                   int64_t size) {
  const int64_t start = stream.Position();
  const int64_t avail = stream.Remaining();
  if (size <= 0 || size > avail) size = avail;

  uint8_t raw[kHeaderSize];
  if (size < kHeaderSize || stream.Read(raw, kHeaderSize) != kHeaderSize)
    return progress.Fail(fkTruncated, "header ends early");
  const PcxHeader h = ParseHeader(raw);
  if (h.manufacturer != 10) return progress.Fail(fkCorrupt, "manufacturer byte is not 10");
  if (h.bitsPerPixel > 8) return progress.Fail(fkUnsupported, "bits per pixel", h.bitsPerPixel);
  if (h.encoding > 1) return progress.Fail(fkUnsupported, "encoding", h.encoding);
  if (h.xmax < h.xmin || h.ymax < h.ymin) return progress.Fail(fkCorrupt, "window ends before it starts");
  const int width = h.xmax - h.xmin + 1, height = h.ymax - h.ymin + 1;
  const int planes = h.planes, bits = h.bitsPerPixel, bpl = h.bytesPerLine;
  Layout layout = LayoutOf(planes, bits);
  // A 1-bit image whose header names two colours other than black and white keeps them,
  // decoded as one bit plane into 24 bits. Equal entries (often all zero) name nothing,
  // and version 3 files carry no palette.
  const TRGB c0 = h.palette[0], c1 = h.palette[1];
  if (layout == Layout::Mono && h.version != 3 && !(c0 == c1) &&
      !(c0 == TRGB{0, 0, 0} && c1 == TRGB{255, 255, 255}))
    layout = Layout::Planar1;
  // A line shorter than the pixels it must hold cannot be decoded.
  if (layout != Layout::Unsupported && bpl < NeededLineBytes(layout, width))
    return progress.Fail(fkCorrupt, "bytes per line too small for the width");

  TRGB pal16[16];
  std::copy(h.palette, h.palette + 16, pal16);
  std::vector<TRGB> pal256(256);
  for (int i = 0; i < 256; ++i) pal256[i] = CreateRGB(i, i, i);
  // The 256-colour palette follows the pixels behind its marker byte. Without the marker
  // it was cut off (the grey ramp stands in), unless the header calls the image grey.
  bool paletteCut = false;
  if (planes == 1 && bits > 4) {
    uint8_t tail[1 + kTrailerPaletteSize];
    bool found = false;
    if (size >= kHeaderSize + 1 + kTrailerPaletteSize) {
      stream.SetPosition(start + size - 1 - kTrailerPaletteSize);
      found = stream.Read(tail, sizeof tail) == static_cast<int64_t>(sizeof tail) && tail[0] == kPaletteMarker;
    }
    if (found) {
      for (int i = 0; i < 256; ++i) pal256[i] = CreateRGB(tail[1 + 3 * i], tail[2 + 3 * i], tail[3 + 3 * i]);
    } else {
      paletteCut = h.paletteInfo != 2;
    }
    stream.SetPosition(start + kHeaderSize);
  }

  std::vector<uint8_t> data(static_cast<size_t>(size - kHeaderSize));
  data.resize(static_cast<size_t>(stream.Read(data.data(), static_cast<int64_t>(data.size()))));

  params.Width = width;
  params.Height = height;
  params.BitsPerSample = bits;
  params.SamplesPerPixel = planes;
  params.PCX_Version = h.version;
  params.PCX_Compression = h.encoding ? ioPCX_RLE : ioPCX_UNCOMPRESSED;
  if (h.hdpi == 0 || h.vdpi == 0) {
    params.DpiX = gSystemDPIX;
    params.DpiY = gSystemDPIY;
  } else {
    params.DpiX = h.hdpi;
    params.DpiY = h.vdpi;
  }
  if (planes == 1 && bits == 8) {
    params.SetColorMap(pal256.data(), 256);
  } else if (layout == Layout::Planar1) {
    params.SetColorMap(pal16, 1 << planes);
    params.BitsPerSample = planes;
    params.SamplesPerPixel = 1;
  } else if (bits < 8 && bits > 0) {
    params.SetColorMap(pal16, std::min(16, 1 << bits));
  } else {
    params.FreeColorMap();
  }
  if (preview) return;

  const bool mono = layout == Layout::Mono;
  const int64_t rowBytes = static_cast<int64_t>(planes) * bpl;
  // Refuse before allocating when even the densest run-length data (63 bytes from
  // every 2) could not fill the declared picture at one bit per pixel or more.
  const int64_t maxDecodable = (static_cast<int64_t>(data.size()) + 2) * 32;
  const int64_t minRowBytes = std::max<int64_t>(rowBytes, (width + 7) / 8);
  if (!VXCheckBitmapSize(width, height, mono ? 1 : 24)) return progress.Fail(fkSizeLimit, VXSizeText(width, height));
  if (minRowBytes * height > maxDecodable)
    return progress.Fail(fkTruncated, "too little data for " + std::to_string(width) + " x " + std::to_string(height));
  bitmap.Allocate(width, height, mono ? pf1bit : pf24bit);
  if (layout == Layout::Unsupported)
    return progress.Fail(fkUnsupported, "planes x bits per pixel", planes * 100 + bits);

  PcxDecoder decoder(data.data(), data.size(), h.encoding == 1);
  std::vector<uint8_t> line(static_cast<size_t>(rowBytes));
  progress.PerUnit = 100.0 / height;
  for (int row = 0; row < height; ++row) {
    progress.Report(row);
    if (progress.Aborted()) return;
    if (!decoder.Fill(line.data(), line.size())) return progress.Fail(fkTruncated, VXRowsEndText(row, height));
    DecodeRow(layout, line.data(), bpl, planes, width, pal16, pal256.data(), bitmap.ScanLine(row));
  }
  if (paletteCut) progress.Fail(fkTruncated, "the 256-colour palette at the end is missing or cut");
}

void ReadPcx(const std::string& name, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  TFileStream stream(name, fmOpenRead);
  ReadPcxStream(stream, bitmap, params, false, progress, stream.Size());
}

void WritePcxStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  const TPixelFormat pf = bitmap.PixelFormat();
  const int width = bitmap.Width(), height = bitmap.Height();
  if (pf != pf1bit && pf != pf24bit) return progress.Fail(fkUnsupported, "pixel format", pf);
  if (bitmap.Empty() || width > 65535 || height > 65536)
    return progress.Fail(fkSizeLimit, "PCX holds 1 x 1 to 65535 x 65536 pixels");
  const int depth = PcxDepth(params.BitsPerSample, params.SamplesPerPixel);

  PcxHeader h;
  h.version = static_cast<uint8_t>(params.PCX_Version);
  h.encoding = params.PCX_Compression == ioPCX_RLE ? 1 : 0;
  h.xmax = static_cast<uint16_t>(width - 1);
  h.ymax = static_cast<uint16_t>(height - 1);
  h.hdpi = static_cast<uint16_t>(params.DpiX);
  h.vdpi = static_cast<uint16_t>(params.DpiY);
  h.paletteInfo = 1;

  // The picture actually encoded: the bitmap itself or a converted copy.
  const TBitmap* src = &bitmap;
  TBitmap work;
  std::vector<TRGB> pal;
  std::unique_ptr<TVXQuantizer> quantizer;
  int lineBytes = 0;
  if (depth == 1) {
    TRGB c0{0, 0, 0}, c1{255, 255, 255};
    if (pf == pf24bit) {
      PrepareOneBit(bitmap, work, c0, c1);
      src = &work;
    }
    h.bitsPerPixel = 1;
    h.planes = 1;
    h.palette[0] = c0;
    h.palette[1] = c1;
    lineBytes = (width + 7) / 8;
  } else {
    if (pf == pf1bit) {
      TProgressRec quiet;
      _Conv1to24(bitmap, work, quiet);
      src = &work;
    }
    if (depth == 24) {
      h.bitsPerPixel = 8;
      h.planes = 3;
      h.paletteInfo = 0;
      lineBytes = width;
    } else {
      const int ncol = depth == 4 ? 16 : 256;
      quantizer = std::make_unique<TVXQuantizer>(*src, pal, ncol, -1, 0);
      pal.resize(ncol);
      h.bitsPerPixel = static_cast<uint8_t>(depth);
      h.planes = 1;
      if (depth == 4) std::copy(pal.begin(), pal.begin() + 16, h.palette);
      lineBytes = depth == 4 ? (width + 1) / 2 : width;
    }
  }
  const int bpl = (lineBytes + 1) & ~1;
  if (bpl > 65535) return progress.Fail(fkSizeLimit, "bytes per line over 65535");
  h.bytesPerLine = static_cast<uint16_t>(bpl);

  uint8_t raw[kHeaderSize];
  SerializeHeader(h, raw);
  stream.WriteBuffer(raw, kHeaderSize);

  std::vector<uint8_t> planeBuf(static_cast<size_t>(bpl) * h.planes, 0);
  std::vector<uint8_t> out(static_cast<size_t>(bpl) * h.planes * 2 + 2 * h.planes);
  std::vector<uint8_t> index(depth == 4 || depth == 8 ? width : 0);
  progress.PerUnit = 100.0 / height;
  for (int row = 0; row < height; ++row) {
    progress.Report(row);
    if (progress.Aborted()) return;
    const uint8_t* s = src->ScanLine(row);
    if (depth == 1) {
      std::memcpy(planeBuf.data(), s, lineBytes);
      if (width & 7) planeBuf[lineBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (width & 7));
    } else if (depth == 24) {
      const TRGB* px = reinterpret_cast<const TRGB*>(s);
      uint8_t* r = planeBuf.data();
      uint8_t* g = r + bpl;
      uint8_t* b = g + bpl;
      for (int x = 0; x < width; ++x) {
        r[x] = px[x].r;
        g[x] = px[x].g;
        b[x] = px[x].b;
      }
    } else {
      const TRGB* px = reinterpret_cast<const TRGB*>(s);
      for (int x = 0; x < width; ++x) index[x] = static_cast<uint8_t>(quantizer->GetRGBIndex(px[x]) & (depth == 4 ? 15 : 255));
      if (depth == 8) {
        std::memcpy(planeBuf.data(), index.data(), width);
      } else {
        for (int x = 0; x + 1 < width; x += 2) planeBuf[x >> 1] = static_cast<uint8_t>((index[x] << 4) | index[x + 1]);
        if (width & 1) planeBuf[width >> 1] = static_cast<uint8_t>(index[width - 1] << 4);
      }
    }
    size_t n = 0;
    for (int p = 0; p < h.planes; ++p) {
      const uint8_t* lineStart = planeBuf.data() + static_cast<size_t>(p) * bpl;
      if (h.encoding) {
        n += EncodeLine(lineStart, lineBytes, out.data() + n);
      } else {
        std::memcpy(out.data() + n, lineStart, bpl);
        n += bpl;
      }
    }
    stream.WriteBuffer(out.data(), static_cast<int64_t>(n));
  }

  if (depth == 8) {
    uint8_t tail[1 + kTrailerPaletteSize];
    tail[0] = kPaletteMarker;
    for (int i = 0; i < 256; ++i) {
      tail[1 + 3 * i] = pal[i].r;
      tail[2 + 3 * i] = pal[i].g;
      tail[3 + 3 * i] = pal[i].b;
    }
    stream.WriteBuffer(tail, sizeof(tail));
  }
}

void WritePcx(const std::string& name, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  TSafeFileStream stream(name);
  WritePcxStream(stream, bitmap, params, progress);
  if (!progress.Aborted()) stream.Commit();
}

}  // namespace vexa
