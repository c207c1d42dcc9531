#include "vexa/quant/colordepth.h"

#include "vexa/quant/colorhelpers.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "vexa/core/parallel.h"

namespace vexa {

const uint8_t VXDitherMatrix[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};

namespace {

constexpr std::array<std::array<uint8_t, 24>, 256> MakeC1TO24() {
  std::array<std::array<uint8_t, 24>, 256> t{};
  for (int b = 0; b < 256; ++b)
    for (int k = 0; k < 8; ++k) {
      const uint8_t v = (b & (0x80 >> k)) ? 255 : 0;
      t[b][k * 3] = t[b][k * 3 + 1] = t[b][k * 3 + 2] = v;
    }
  return t;
}

inline int Gray(const uint8_t* bgr) { return (21 * bgr[2] + 71 * bgr[1] + 7 * bgr[0]) / 100; }

inline int CellOf(const uint8_t* bgr) { return ((bgr[2] >> 3) << 10) | ((bgr[1] >> 3) << 5) | (bgr[0] >> 3); }

class TRowProgress {
 public:
  TRowProgress(const TProgressEvent& ev, TObject* sender, int height)
      : FEvent(ev), FSender(sender), FFactor(100.0 / (height + 0.5)) {}
  void RowDone(int rowsDone) const {
    if (FEvent) FEvent(FSender, static_cast<int>(FFactor * rowsDone));
  }

 private:
  const TProgressEvent& FEvent;
  TObject* FSender;
  double FFactor;
};

// rowFn(y) for every row, in bands over the worker pool when the image is large;
// progress as row by row, on the caller's thread.
template <typename RowFn>
void ForEachRow(int w, int h, const TRowProgress& progress, RowFn rowFn) {
  VXParallelRows(h, int64_t(w) * h, 8, [&](int y0, int y1, bool onCaller) {
    for (int y = y0; y < y1; ++y) {
      rowFn(y);
      if (onCaller) progress.RowDone(y + 1);
    }
  }, [&](int done) {
    progress.RowDone(done);
    return true;
  });
}

// Writes a pf1bit row: pixel x is white when whiteIf(grey, x) holds.
template <typename Pred>
void BinarizeRow(const uint8_t* src, uint8_t* dst, int width, Pred whiteIf) {
  const int full = width >> 3;
  for (int i = 0; i < full; ++i, src += 24) {
    unsigned v = 0;
    for (int k = 0; k < 8; ++k) v |= static_cast<unsigned>(whiteIf(Gray(src + k * 3), k)) << (7 - k);
    dst[i] = static_cast<uint8_t>(v);
  }
  const int rem = width & 7;
  if (rem) {
    unsigned v = 0;
    for (int k = 0; k < rem; ++k) v |= static_cast<unsigned>(whiteIf(Gray(src + k * 3), k)) << (7 - k);
    dst[full] = static_cast<uint8_t>(v);
  }
}

}  // namespace

const std::array<std::array<uint8_t, 24>, 256> C1TO24 = MakeC1TO24();

void _ConvertTo(TBitmap& bitmap, int NColors, std::vector<TRGB>* palette, const TProgressEvent& onProgress,
                TObject* sender) {
  if (bitmap.PixelFormat() != pf24bit || bitmap.Empty()) return;
  std::vector<TRGB> localPalette;
  std::vector<TRGB>& pal = palette ? *palette : localPalette;
  TVXQuantizer q(bitmap, pal, NColors, -1, 0);
  const int w = bitmap.Width(), h = bitmap.Height();
  const TRowProgress progress(onProgress, sender, h);
  // Mapping is per pixel, so rows go out in bands; progress stays on the caller.
  auto rows = [&](auto makeState, auto rowFn) {
    VXParallelRows(h, int64_t(w) * h, 8, [&](int y0, int y1, bool onCaller) {
      auto state = makeState();
      for (int y = y0; y < y1; ++y) {
        rowFn(state, bitmap.ScanLine(y));
        if (onCaller) progress.RowDone(y + 1);
      }
    }, [&](int done) {
      progress.RowDone(done);
      return true;
    });
  };

  if (q.Method() == 1) {
    // Median cut answers per 5-bit cell, so one table read replaces each lookup.
    std::vector<TRGB> lut(32768);
    for (int cell = 0; cell < 32768; ++cell)
      lut[cell] = pal[q.GetRGBIndex(CreateRGB((cell >> 10) << 3, ((cell >> 5) & 31) << 3, (cell & 31) << 3))];
    rows([] { return 0; }, [&](int, uint8_t* p) {
      for (int x = 0; x < w; ++x, p += 3) {
        const TRGB c = lut[CellOf(p)];
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
      }
    });
    return;
  }

  // The network search is costly and neighbouring pixels repeat colours: a small
  // direct-mapped cache of answers per band (key + 1, so 0 means empty).
  constexpr int kCacheBits = 16;
  struct TCache {
    std::vector<uint32_t> Key = std::vector<uint32_t>(1u << kCacheBits, 0);
    std::vector<TRGB> Val = std::vector<TRGB>(1u << kCacheBits);
  };
  rows([] { return TCache{}; }, [&](TCache& cache, uint8_t* p) {
    std::vector<uint32_t>& cacheKey = cache.Key;
    std::vector<TRGB>& cacheVal = cache.Val;
    for (int x = 0; x < w; ++x, p += 3) {
      const uint32_t key = (static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0]) + 1;
      const uint32_t slot = (key * 2654435761u) >> (32 - kCacheBits);
      if (cacheKey[slot] != key) {
        cacheKey[slot] = key;
        cacheVal[slot] = pal[q.GetRGBIndex(TRGB{p[0], p[1], p[2]})];
      }
      const TRGB c = cacheVal[slot];
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
    }
  });
}

void _ConvertToBWOrdered(TBitmap& bitmap, TProgressRec& pr) {
  if (bitmap.PixelFormat() != pf24bit || bitmap.Empty()) return;
  const int w = bitmap.Width(), h = bitmap.Height();
  TBitmap out(w, h, pf1bit);
  const TRowProgress progress(pr.OnProgress, pr.Sender, h);
  ForEachRow(w, h, progress, [&](int y) {
    int thr[8];
    for (int k = 0; k < 8; ++k) thr[k] = VXDitherMatrix[k][y & 7];
    BinarizeRow(bitmap.ScanLine(y), out.ScanLine(y), w, [&thr](int g, int k) { return (g >> 2) > thr[k]; });
  });
  bitmap = std::move(out);
}

void _ConvertToBWThreshold(TBitmap& bitmap, int Threshold, TProgressRec& pr) {
  if (bitmap.PixelFormat() != pf24bit || bitmap.Empty()) return;
  if (Threshold == -1) {
    int rm, gm, bm;
    _GetMediaContrastRGB(bitmap, rm, gm, bm);
    Threshold = (21 * rm + 71 * gm + 7 * bm) / 100;
  }
  const int w = bitmap.Width(), h = bitmap.Height();
  TBitmap out(w, h, pf1bit);
  const TRowProgress progress(pr.OnProgress, pr.Sender, h);
  ForEachRow(w, h, progress, [&](int y) {
    BinarizeRow(bitmap.ScanLine(y), out.ScanLine(y), w, [Threshold](int g, int) { return g >= Threshold; });
  });
  bitmap = std::move(out);
}

std::unique_ptr<TBitmap> _ConvertTo1bit(const TBitmap& bitmap, TRGB& c0, TRGB& c1) {
  if (bitmap.PixelFormat() != pf24bit || bitmap.Empty()) return nullptr;
  const int w = bitmap.Width(), h = bitmap.Height();
  auto out = std::make_unique<TBitmap>(w, h, pf1bit);
  int found = 0;
  uint32_t k0 = 0, k1 = 0;
  for (int y = 0; y < h && found <= 2; ++y) {
    const uint8_t* p = bitmap.ScanLine(y);
    uint8_t* d = out->ScanLine(y);
    for (int x = 0; x < w; ++x, p += 3) {
      const uint32_t key = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
      if (found == 0) {
        k0 = key;
        c0 = TRGB{p[0], p[1], p[2]};
        found = 1;
      }
      if (key == k0) continue;
      if (found == 1) {
        k1 = key;
        c1 = TRGB{p[0], p[1], p[2]};
        found = 2;
      } else if (key != k1) {
        found = 3;
        break;
      }
      d[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  if (found != 2) return nullptr;
  const auto grey = [](TRGB c) { return std::nearbyint((21 * c.r + 71 * c.g + 7 * c.b) / 100.0); };
  if (grey(c1) < grey(c0)) {
    uint8_t* bits = out->Bits();
    for (size_t i = 0; i < out->ImageSize(); ++i) bits[i] = static_cast<uint8_t>(~bits[i]);
    std::swap(c0, c1);
  }
  return out;
}

void _Conv1to24(const TBitmap& src, TBitmap& dst, TProgressRec& pr) {
  if (src.PixelFormat() != pf1bit) return;
  if (&src == &dst) {
    const TBitmap copy(src);
    _Conv1to24(copy, dst, pr);
    return;
  }
  const int w = src.Width(), h = src.Height();
  dst.Allocate(1, 1, pf24bit);
  dst.Allocate(w, h, pf24bit);
  const TRowProgress progress(pr.OnProgress, pr.Sender, h);
  const int full = w >> 3, rem = w & 7;
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = src.ScanLine(y);
    uint8_t* d = dst.ScanLine(y);
    for (int i = 0; i < full; ++i, d += 24) std::memcpy(d, C1TO24[s[i]].data(), 24);
    if (rem) std::memcpy(d, C1TO24[s[full]].data(), static_cast<size_t>(rem) * 3);
    progress.RowDone(y + 1);
  }
}

void _ConvertXBitsToYBits(const uint8_t* src, uint8_t* dst, int srcBits, int dstBits, int width,
                          std::span<const TRGB> palette, TVXQuantizer* quantizer) {
  if (width <= 0 || !src || !dst) return;
  const size_t palCount = palette.size();
  const auto entry = [&](unsigned i) { return i < palCount ? palette[i] : TRGB{}; };
  const auto put24 = [](uint8_t* d, TRGB c) {
    d[0] = c.b;
    d[1] = c.g;
    d[2] = c.r;
  };
  const auto bitOf = [src](int j) { return (src[j >> 3] >> (7 - (j & 7))) & 1; };
  const auto nibbleOf = [src](int j) { return (j & 1) ? src[j >> 1] & 0x0F : src[j >> 1] >> 4; };
  const auto orNibble = [dst](int j, unsigned v) {
    dst[j >> 1] |= static_cast<uint8_t>((j & 1) ? (v & 0x0F) : (v & 0x0F) << 4);
  };

  switch (srcBits * 100 + dstBits) {
    case 101:
      std::memcpy(dst, src, (static_cast<size_t>(width) + 7) / 8);
      break;
    case 104:
      for (int j = 0; j < width; ++j) orNibble(j, bitOf(j));
      break;
    case 108:
      for (int j = 0; j < width; ++j) dst[j] = static_cast<uint8_t>(bitOf(j));
      break;
    case 124:
      if (palCount == 0) return;
      for (int j = 0; j < width; ++j) put24(dst + j * 3, entry(bitOf(j)));
      break;
    case 404:
      std::memcpy(dst, src, (static_cast<size_t>(width) + 1) / 2);
      break;
    case 408:
      for (int j = 0; j < width; ++j) dst[j] = static_cast<uint8_t>(nibbleOf(j));
      break;
    case 424:
      if (palCount == 0) return;
      for (int j = 0; j < width; ++j) put24(dst + j * 3, entry(nibbleOf(j)));
      break;
    case 801:
      std::memset(dst, 0, (static_cast<size_t>(width) + 7) / 8);
      for (int j = 0; j < width; ++j) dst[j >> 3] |= static_cast<uint8_t>(src[j] << (7 - (j & 7)));
      break;
    case 808:
      std::memcpy(dst, src, static_cast<size_t>(width));
      break;
    case 824:
      if (palCount == 0) return;
      for (int j = 0; j < width; ++j) put24(dst + j * 3, entry(src[j]));
      break;
    case 2404:
      if (!quantizer) return;
      for (int j = 0; j < width; ++j) {
        const uint8_t* p = src + j * 3;
        orNibble(j, static_cast<unsigned>(quantizer->GetRGBIndex(TRGB{p[0], p[1], p[2]})));
      }
      break;
    case 2408:
      if (!quantizer) return;
      for (int j = 0; j < width; ++j) {
        const uint8_t* p = src + j * 3;
        dst[j] = static_cast<uint8_t>(quantizer->GetRGBIndex(TRGB{p[0], p[1], p[2]}));
      }
      break;
    case 2424:
      std::memcpy(dst, src, static_cast<size_t>(width) * 3);
      break;
    default:
      break;
  }
}

TLogPalette _CreateWinPalette(std::span<const TRGB> palette, int count) {
  TLogPalette lp;
  const int n = ilimit(imin(count, static_cast<int>(imin(static_cast<int>(palette.size()), 65535))), 0, 65535);
  lp.palNumEntries = static_cast<uint16_t>(n);
  lp.palPalEntry.resize(n);
  for (int i = 0; i < n; ++i) lp.palPalEntry[i] = TPaletteEntry{palette[i].r, palette[i].g, palette[i].b, 0};
  return lp;
}

}  // namespace vexa
