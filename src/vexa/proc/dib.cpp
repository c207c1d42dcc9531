#include "vexa/proc/dib.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "vexa/core/bytereader.h"

namespace vexa {

namespace {

// Adding and removing 1.5 x 2^52 rounds a double to the nearest integer, ties to
// even, without a library call; exact for the magnitudes met here.
inline double RoundEven(double x) {
  constexpr double kMagic = 6755399441055744.0;
  return (x + kMagic) - kMagic;
}

inline uint8_t ClampByte(double v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// The products of the conversion per input level, so that a pixel costs a few
// additions; the sums are formed in the same order as in YUV2RGB, hence identical.
struct TYuvTables {
  double Y[256], BU[256], GV[256], GU[256], RV[256];
  TYuvTables() {
    for (int i = 0; i < 256; ++i) {
      Y[i] = 1.164 * (i - 16);
      BU[i] = 2.018 * (i - 128);
      GV[i] = 0.813 * (i - 128);
      GU[i] = 0.391 * (i - 128);
      RV[i] = 1.596 * (i - 128);
    }
  }
};
const TYuvTables& Yuv() {
  static const TYuvTables t;
  return t;
}

struct TChroma {
  double B, GV, GU, R;
};
inline TChroma Chroma(const TYuvTables& t, int u, int v) { return {t.BU[u], t.GV[v], t.GU[u], t.RV[v]}; }
inline void Put(const TYuvTables& t, uint8_t* d, int y, const TChroma& c) {
  const double yy = t.Y[y];
  d[0] = ClampByte(RoundEven(yy + c.B));
  d[1] = ClampByte(RoundEven(yy - c.GV - c.GU));
  d[2] = ClampByte(RoundEven(yy + c.R));
}

inline uint8_t* DstRow(TBitmap& bmp, int r, bool topDown) {
  return bmp.ScanLine(topDown ? r : bmp.Height() - 1 - r);
}

// Packed layouts: `pixels` pixels in `bytes` bytes per group; Group(src, dst) writes them.
template <int kPixels, int kBytes, typename Group>
void Packed(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown, Group group) {
  if (bmp.PixelFormat() != pf24bit || bmp.Empty() || !data) return;
  const int w = bmp.Width(), h = bmp.Height();
  const size_t stride = size_t(w) * kBytes / kPixels;
  const int groups = w / kPixels;
  const size_t used = size_t(groups) * kBytes;
  const TYuvTables& t = Yuv();
  for (int r = 0; r < h; ++r) {
    if (size_t(r) * stride + used > size) break;
    const uint8_t* s = data + size_t(r) * stride;
    uint8_t* d = DstRow(bmp, r, topDown);
    for (int gi = 0; gi < groups; ++gi, s += kBytes, d += 3 * kPixels) group(t, s, d);
  }
}

// Planar layouts: a full-size Y plane followed by two chroma planes subsampled by
// `sub` in both directions; `vFirst` when V precedes U.
void Planar(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown, int sub, bool vFirst) {
  if (bmp.PixelFormat() != pf24bit || bmp.Empty() || !data) return;
  const int w = bmp.Width(), h = bmp.Height();
  const int cw = w / sub, ch = h / sub;
  const size_t ySize = size_t(w) * h, cSize = size_t(cw) * ch;
  if (cw == 0 || ch == 0 || ySize + 2 * cSize > size) return;
  const uint8_t* p1 = data + ySize;
  const uint8_t* p2 = p1 + cSize;
  const uint8_t* uPlane = vFirst ? p2 : p1;
  const uint8_t* vPlane = vFirst ? p1 : p2;
  const TYuvTables& t = Yuv();
  const int cols = cw * sub;
  for (int r = 0; r < ch * sub; ++r) {
    const uint8_t* ys = data + size_t(r) * w;
    const uint8_t* us = uPlane + size_t(r / sub) * cw;
    const uint8_t* vs = vPlane + size_t(r / sub) * cw;
    uint8_t* d = DstRow(bmp, r, topDown);
    for (int x = 0; x < cols; x += sub) {
      const TChroma c = Chroma(t, us[x / sub], vs[x / sub]);
      for (int k = 0; k < sub; ++k, d += 3) Put(t, d, ys[x + k], c);
    }
  }
}

constexpr uint32_t FourCC(const char* s) {
  return uint8_t(s[0]) | (uint8_t(s[1]) << 8) | (uint8_t(s[2]) << 16) | (uint32_t(uint8_t(s[3])) << 24);
}

}  // namespace

void YUV2RGB(int y, int u, int v, TRGB& rgb) {
  const double yy = 1.164 * (y - 16), uu = u - 128, vv = v - 128;
  rgb.b = ClampByte(RoundEven(yy + 2.018 * uu));
  rgb.g = ClampByte(RoundEven(yy - 0.813 * vv - 0.391 * uu));
  rgb.r = ClampByte(RoundEven(yy + 1.596 * vv));
}

void _CopyYUY2ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown) {
  Packed<2, 4>(data, size, bmp, topDown, [](const TYuvTables& t, const uint8_t* s, uint8_t* d) {
    const TChroma c = Chroma(t, s[1], s[3]);
    Put(t, d, s[0], c);
    Put(t, d + 3, s[2], c);
  });
}

void _CopyUYVYToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown) {
  Packed<2, 4>(data, size, bmp, topDown, [](const TYuvTables& t, const uint8_t* s, uint8_t* d) {
    const TChroma c = Chroma(t, s[0], s[2]);
    Put(t, d, s[1], c);
    Put(t, d + 3, s[3], c);
  });
}

void _CopyYVYUToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown) {
  Packed<2, 4>(data, size, bmp, topDown, [](const TYuvTables& t, const uint8_t* s, uint8_t* d) {
    const TChroma c = Chroma(t, s[3], s[1]);
    Put(t, d, s[0], c);
    Put(t, d + 3, s[2], c);
  });
}

void _CopyIYU1ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown) {
  Packed<4, 6>(data, size, bmp, topDown, [](const TYuvTables& t, const uint8_t* s, uint8_t* d) {
    const TChroma c = Chroma(t, s[0], s[3]);
    Put(t, d, s[1], c);
    Put(t, d + 3, s[2], c);
    Put(t, d + 6, s[4], c);
    Put(t, d + 9, s[5], c);
  });
}

void _CopyIYU2ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown) {
  Packed<1, 3>(data, size, bmp, topDown, [](const TYuvTables& t, const uint8_t* s, uint8_t* d) {
    Put(t, d, s[1], Chroma(t, s[0], s[2]));
  });
}

void _CopyY41PToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown) {
  Packed<8, 12>(data, size, bmp, topDown, [](const TYuvTables& t, const uint8_t* s, uint8_t* d) {
    const TChroma c0 = Chroma(t, s[0], s[2]), c4 = Chroma(t, s[4], s[6]);
    Put(t, d, s[1], c0);
    Put(t, d + 3, s[3], c0);
    Put(t, d + 6, s[5], c0);
    Put(t, d + 9, s[7], c0);
    for (int k = 0; k < 4; ++k) Put(t, d + 12 + 3 * k, s[8 + k], c4);
  });
}

void _CopyY211ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown) {
  Packed<4, 4>(data, size, bmp, topDown, [](const TYuvTables& t, const uint8_t* s, uint8_t* d) {
    const TChroma c = Chroma(t, s[1], s[3]);
    Put(t, d, s[0], c);
    Put(t, d + 3, s[0], c);
    Put(t, d + 6, s[2], c);
    Put(t, d + 9, s[2], c);
  });
}

void _CopyCLJRToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown) {
  Packed<4, 4>(data, size, bmp, topDown, [](const TYuvTables& t, const uint8_t* s, uint8_t* d) {
    const uint32_t w = VXLoadU32(s);
    const TChroma c = Chroma(t, (w >> 6) & 63, w & 63);
    Put(t, d, (w >> 12) & 31, c);
    Put(t, d + 3, (w >> 17) & 31, c);
    Put(t, d + 6, (w >> 22) & 31, c);
    Put(t, d + 9, (w >> 27) & 31, c);
  });
}

void _CopyYVU9ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown) {
  Planar(data, size, bmp, topDown, 4, true);
}
void _CopyYV12ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown) {
  Planar(data, size, bmp, topDown, 2, true);
}
void _CopyI420ToBitmap(const uint8_t* data, size_t size, TBitmap& bmp, bool topDown) {
  Planar(data, size, bmp, topDown, 2, false);
}

void _CopyBits(uint8_t* dst, const uint8_t* src, int dstBit, int count, int srcBit) {
  if (count <= 0) return;
  if (((dstBit | srcBit) & 7) == 0) {
    const int whole = count >> 3;
    std::memcpy(dst + (dstBit >> 3), src + (srcBit >> 3), size_t(whole));
    dstBit += whole * 8, srcBit += whole * 8, count -= whole * 8;
  }
  for (int i = 0; i < count; ++i) {
    const int s = srcBit + i, d = dstBit + i;
    _SetPixelbw(dst + (d >> 3), d & 7, _GetPixelbw(src + (s >> 3), s & 7));
  }
}

int _CopyDIB2Bitmap(const uint8_t* dib, size_t size, TBitmap& bmp, const uint8_t* pixels, size_t pixelsSize) {
  if (!dib || size < 40) {
    bmp.Allocate(1, 1, pf24bit);
    return 0;
  }
  TVXByteReader header(dib, size);
  const uint32_t hdrSize = header.U32(0);
  const int32_t width = header.I32(4);
  const int32_t height = header.I32(8);
  const int bits = header.U16(14);
  const uint32_t comp = header.U32(16);
  const uint32_t clrUsed = header.U32(32);
  const TPixelFormat pf = bits == 1 ? pf1bit : pf24bit;
  const int64_t absH = height < 0 ? -int64_t(height) : height;
  if (width <= 0 || absH == 0 || !VXCheckBitmapSize(width, absH, bits == 1 ? 1 : 24)) {
    bmp.Allocate(1, 1, pf);
    return 0;
  }
  const int w = width, h = static_cast<int>(absH);
  bmp.Allocate(w, h, pf);

  // Larger headers (version 4 and 5) carry the masks at the same offset 40.
  const uint64_t hdr = hdrSize >= 40 && hdrSize <= size ? hdrSize : 40;

  if (comp <= 3) {
    const bool topDown = height < 0;
    uint64_t dataOff = hdr;
    TRGB pal[256] = {};
    if (bits == 1 || bits == 4 || bits == 8) {
      const uint64_t entries = clrUsed ? clrUsed : (uint64_t(1) << bits);
      for (uint64_t i = 0; i < entries && i < 256 && hdr + 4 * i + 3 <= size; ++i) {
        const uint8_t* e = dib + hdr + 4 * i;
        pal[i] = {e[0], e[1], e[2]};
      }
      dataOff = hdr + 4 * entries;
    } else if (comp == 3 && (bits == 16 || bits == 32)) {
      dataOff = hdrSize == 40 ? hdr + 12 : hdr;
    }
    const uint8_t* data = pixels;
    uint64_t avail = pixelsSize;
    if (!data) {
      data = dataOff <= size ? dib + dataOff : nullptr;
      avail = dataOff <= size ? size - dataOff : 0;
    }
    if (!data) return bits;
    const uint64_t rowLen = uint64_t(_BitmapRowLen(w, bits));
    auto srcRow = [&](int r) -> const uint8_t* {
      return (uint64_t(r) + 1) * rowLen <= avail ? data + uint64_t(r) * rowLen : nullptr;
    };
    auto dstRow = [&](int r) { return bmp.ScanLine(topDown ? r : h - 1 - r); };
    switch (bits) {
      case 1:
        for (int r = 0; r < h; ++r)
          if (const uint8_t* s = srcRow(r)) std::memcpy(dstRow(r), s, size_t(bmp.RowLen()));
        break;
      case 4:
      case 8:
        for (int r = 0; r < h; ++r) {
          const uint8_t* s = srcRow(r);
          if (!s) break;
          TRGB* d = reinterpret_cast<TRGB*>(dstRow(r));
          // Indices past the palette stay black.
          if (bits == 8) {
            for (int x = 0; x < w; ++x) d[x] = pal[s[x]];
          } else {
            for (int x = 0; x < w; ++x) d[x] = pal[(x & 1) ? (s[x >> 1] & 15) : (s[x >> 1] >> 4)];
          }
        }
        break;
      case 16: {
        uint32_t rm = 0x7C00, gm = 0x03E0, bm = 0x001F;
        if (comp == 3 && size >= 52) rm = header.U32(40), gm = header.U32(44), bm = header.U32(48);
        const int rb = std::popcount(rm), gb = std::popcount(gm), bb = std::popcount(bm);
        // Odd masks may ask for a negative shift: shift the other way instead.
        auto sh = [](uint32_t v, int n) -> uint8_t {
          return static_cast<uint8_t>(n >= 32 || n <= -32 ? 0 : (n >= 0 ? v >> n : v << -n));
        };
        for (int r = 0; r < h; ++r) {
          const uint8_t* s = srcRow(r);
          if (!s) break;
          uint8_t* d = dstRow(r);
          for (int x = 0; x < w; ++x, s += 2, d += 3) {
            const uint32_t v = VXLoadU16(s);
            d[2] = sh(v & rm, rb + gb + bb - 8);
            d[1] = sh(v & gm, gb + bb - 8);
            d[0] = sh((v & 0xFF) & bm, -(8 - bb));
          }
        }
        break;
      }
      case 24:
        if (comp != 0) break;
        for (int r = 0; r < h; ++r)
          if (const uint8_t* s = srcRow(r)) std::memcpy(dstRow(r), s, size_t(3) * w);
        break;
      case 32:
        if (comp != 0 && comp != 3) break;
        for (int r = 0; r < h; ++r) {
          const uint8_t* s = srcRow(r);
          if (!s) break;
          uint8_t* d = dstRow(r);
          for (int x = 0; x < w; ++x, s += 4, d += 3) d[0] = s[0], d[1] = s[1], d[2] = s[2];
        }
        break;
      default:
        break;
    }
    return bits;
  }

  const uint8_t* data = pixels ? pixels : dib + hdr;
  const size_t avail = pixels ? pixelsSize : size - hdr;
  const bool positive = height > 0;
  switch (comp) {
    case FourCC("I420"):
    case FourCC("IYUV"): _CopyI420ToBitmap(data, avail, bmp, positive); break;
    case FourCC("YV12"): _CopyYV12ToBitmap(data, avail, bmp, positive); break;
    case FourCC("YVU9"): _CopyYVU9ToBitmap(data, avail, bmp, positive); break;
    case FourCC("YUY2"):
    case FourCC("YUNV"): _CopyYUY2ToBitmap(data, avail, bmp, positive); break;
    case FourCC("UYVY"):
    case FourCC("UYNV"): _CopyUYVYToBitmap(data, avail, bmp, positive); break;
    case FourCC("cyuv"): _CopyUYVYToBitmap(data, avail, bmp, !positive); break;
    case FourCC("YVYU"): _CopyYVYUToBitmap(data, avail, bmp, positive); break;
    case FourCC("IYU1"): _CopyIYU1ToBitmap(data, avail, bmp, positive); break;
    case FourCC("IYU2"): _CopyIYU2ToBitmap(data, avail, bmp, positive); break;
    case FourCC("Y41P"): _CopyY41PToBitmap(data, avail, bmp, !positive); break;
    case FourCC("Y211"): _CopyY211ToBitmap(data, avail, bmp, positive); break;
    case FourCC("CLJR"): _CopyCLJRToBitmap(data, avail, bmp, positive); break;
    default: break;
  }
  return bits;
}

std::vector<uint8_t> _CopyBitmaptoDIB(const TBitmap& bmp, int x1, int y1, int x2, int y2) {
  const int bits = bmp.PixelFormat() == pf24bit ? 24 : (bmp.PixelFormat() == pf1bit ? 1 : 0);
  if (x2 == 0 || x2 > bmp.Width() - 1) x2 = bmp.Width() - 1;
  if (y2 == 0 || y2 > bmp.Height() - 1) y2 = bmp.Height() - 1;
  x1 = imax(x1, 0), y1 = imax(y1, 0);
  const bool empty = bmp.Empty() || x1 > x2 || y1 > y2 || bits == 0;
  const int n = empty ? 0 : x2 - x1 + 1, m = empty ? 0 : y2 - y1 + 1;
  const size_t rowLen = size_t(_BitmapRowLen(n, bits));
  size_t total = 40 + 4 + rowLen * m;
  if (bits == 1) total += 8;
  if (bits == 0) total = 44;
  std::vector<uint8_t> out(total, 0);
  auto put32 = [&](size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[off + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 40);
  put32(4, uint32_t(n));
  put32(8, uint32_t(m));
  out[12] = 1;
  out[14] = static_cast<uint8_t>(bits);
  if (empty) return out;
  uint8_t* d = out.data() + 40;
  if (bits == 1) {
    put32(44, 0xFFFFFFFFu);
    d += 8;
    for (int y = y2; y >= y1; --y, d += rowLen) _CopyBits(d, bmp.ScanLine(y), 0, n, x1);
  } else {
    for (int y = y2; y >= y1; --y, d += rowLen) std::memcpy(d, bmp.ScanLine(y) + 3 * x1, size_t(3) * n);
  }
  return out;
}

}  // namespace vexa
