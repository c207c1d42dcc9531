#include "vexa/acquire/twainxfer.h"

#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "vexa/proc/dib.h"

namespace vexa {

using namespace twain;

namespace {

void SwapRedBlueScalar(uint8_t* __restrict d, const uint8_t* __restrict s, size_t from, size_t bytes) {
  for (size_t c = from; c + 2 < bytes; c += 3) {
    d[c] = s[c + 2];
    d[c + 1] = s[c + 1];
    d[c + 2] = s[c];
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per shuffle; each 16-byte store runs 4 bytes into the next group,
// which the next store overwrites, so the loop stops 4 bytes short of the row's end.
__attribute__((target("ssse3"))) size_t SwapRedBlueSsse3(uint8_t* d, const uint8_t* s, size_t bytes) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
  size_t c = 0;
  for (; c + 16 <= bytes; c += 12)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + c),
                     _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + c)), order));
  return c;
}
const bool kHasSsse3 = __builtin_cpu_supports("ssse3");
#endif

// RGB to the bitmap's BGR; the block and the bitmap never overlap.
void SwapRedBlue(uint8_t* d, const uint8_t* s, size_t pixels) {
  size_t done = 0;
#if defined(__x86_64__) || defined(__i386__)
  if (kHasSsse3) done = SwapRedBlueSsse3(d, s, pixels * 3);
#endif
  SwapRedBlueScalar(d, s, done, pixels * 3);
}

}  // namespace

void VXTW_InfoToParams(const TW_IMAGEINFO& info, TIOParamsVals& params) {
  if (info.BitsPerPixel >= 1 && info.BitsPerPixel <= 8) {
    params.BitsPerSample = info.BitsPerPixel;
    params.SamplesPerPixel = 1;
  } else if (info.BitsPerPixel == 24) {
    params.BitsPerSample = 8;
    params.SamplesPerPixel = 3;
  }
  params.DpiX = static_cast<int32_t>(std::lround(FromFix32(info.XResolution)));
  params.DpiY = static_cast<int32_t>(std::lround(FromFix32(info.YResolution)));
  params.Width = info.ImageWidth;
  params.Height = info.ImageLength;
  params.FreeColorMap();
}

bool VXTW_PrepareBitmap(const TW_IMAGEINFO& info, TBitmap& bmp, std::string& why) {
  TPixelFormat pf;
  if (!VXTW_PageFormat(info, pf, why)) return false;
  bmp.Allocate(info.ImageWidth, info.ImageLength, pf);
  return true;
}

bool VXTW_PageFormat(const TW_IMAGEINFO& info, TPixelFormat& pf, std::string& why) {
  const int bpp = info.BitsPerPixel;
  if (bpp != 1 && bpp != 8 && bpp != 24) {
    why = "the source delivers " + std::to_string(bpp) + " bits per pixel (1, 8 or 24 are accepted)";
    return false;
  }
  if (info.ImageWidth <= 0 || info.ImageLength <= 0) {
    why = "the source reports an image of " + std::to_string(info.ImageWidth) + " x " +
          std::to_string(info.ImageLength) + " pixels";
    return false;
  }
  pf = bpp == 1 ? pf1bit : pf24bit;
  if (!VXCheckBitmapSize(info.ImageWidth, info.ImageLength, bpp == 1 ? 1 : 24)) {
    why = "the image the source reports (" + std::to_string(info.ImageWidth) + " x " +
          std::to_string(info.ImageLength) + ") exceeds the bitmap size limit";
    return false;
  }
  return true;
}

bool VXTW_CopyMemBlock(TBitmap& bmp, int bitsPerPixel, const TW_IMAGEMEMXFER& b, const uint8_t* mem, size_t memLen,
                       std::string& why) {
  const uint64_t width = static_cast<uint64_t>(bmp.Width()), height = static_cast<uint64_t>(bmp.Height());
  const int expected = bmp.PixelFormat() == pf1bit ? 1 : 24;
  if ((bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 24) ||
      (bitsPerPixel == 1) != (expected == 1)) {
    why = "block of " + std::to_string(bitsPerPixel) + " bits per pixel for a bitmap of " +
          std::to_string(expected);
    return false;
  }
  if (b.Compression != TWCP_NONE) {
    why = "compressed block (compression " + std::to_string(b.Compression) + ")";
    return false;
  }
  if (b.Columns == TWON_DONTCARE32 || b.Rows == TWON_DONTCARE32 || b.XOffset == TWON_DONTCARE32 ||
      b.YOffset == TWON_DONTCARE32 || b.BytesPerRow == TWON_DONTCARE32 || b.BytesWritten == TWON_DONTCARE32) {
    why = "block with unspecified geometry";
    return false;
  }
  if (b.Rows == 0 || b.Columns == 0) return true;
  if (uint64_t{b.XOffset} + b.Columns > width || uint64_t{b.YOffset} + b.Rows > height) {
    why = "block of " + std::to_string(b.Columns) + " x " + std::to_string(b.Rows) + " at (" +
          std::to_string(b.XOffset) + ", " + std::to_string(b.YOffset) + ") lies outside the " +
          std::to_string(width) + " x " + std::to_string(height) + " image";
    return false;
  }
  const uint64_t rowBytes = (uint64_t{b.Columns} * static_cast<unsigned>(bitsPerPixel) + 7) / 8;
  if (b.BytesPerRow < rowBytes) {
    why = "block rows of " + std::to_string(b.BytesPerRow) + " bytes cannot hold " + std::to_string(b.Columns) +
          " pixels";
    return false;
  }
  // The last row need not carry its padding.
  const uint64_t needed = uint64_t{b.Rows - 1} * b.BytesPerRow + rowBytes;
  if (b.BytesWritten > memLen || needed > b.BytesWritten || !mem) {
    why = "block announces " + std::to_string(needed) + " bytes but " + std::to_string(b.BytesWritten) +
          " were written into a buffer of " + std::to_string(memLen);
    return false;
  }
  const int x0 = static_cast<int>(b.XOffset);
  for (uint32_t r = 0; r < b.Rows; ++r) {
    const uint8_t* src = mem + uint64_t{r} * b.BytesPerRow;
    uint8_t* dst = bmp.ScanLine(static_cast<int>(b.YOffset + r));
    if (bitsPerPixel == 1) {
      _CopyBits(dst, src, x0, static_cast<int>(b.Columns), 0);
    } else if (bitsPerPixel == 8) {
      uint8_t* d = dst + x0 * 3;
      for (uint32_t c = 0; c < b.Columns; ++c, d += 3) d[0] = d[1] = d[2] = src[c];
    } else {
      SwapRedBlue(dst + x0 * 3, src, b.Columns);
    }
  }
  return true;
}

TVXTWBandPlacer::TVXTWBandPlacer(int width, int height, TPixelFormat pf, int bitsPerPixel, TDeliver deliver)
    : FWidth(width), FHeight(height), FBits(bitsPerPixel), FFormat(pf), FDeliver(std::move(deliver)) {}

bool TVXTWBandPlacer::Deliver(int y, const TBitmap& band) {
  if (FDeliver(y, band)) return true;
  Stopped = true;
  return false;
}

bool TVXTWBandPlacer::Place(const TW_IMAGEMEMXFER& block, const uint8_t* mem, size_t memLen, std::string& why) {
  if (block.Rows == 0 || block.Columns == 0) return true;
  if (!FGather && block.XOffset == 0 && block.Columns == static_cast<TW_UINT32>(FWidth)) {
    if (block.YOffset == TWON_DONTCARE32 || block.Rows == TWON_DONTCARE32 ||
        uint64_t{block.YOffset} + block.Rows > static_cast<uint64_t>(FHeight)) {
      why = "block of " + std::to_string(block.Rows) + " rows at row " + std::to_string(block.YOffset) +
            " lies outside the " + std::to_string(FHeight) + " rows of the image";
      return false;
    }
    if (FBand.Width() != FWidth || FBand.Height() != static_cast<int>(block.Rows) || FBand.PixelFormat() != FFormat)
      FBand.Allocate(FWidth, static_cast<int>(block.Rows), FFormat);
    TW_IMAGEMEMXFER local = block;
    local.YOffset = 0;
    if (!VXTW_CopyMemBlock(FBand, FBits, local, mem, memLen, why)) return false;
    FStreamed = true;
    return Deliver(static_cast<int>(block.YOffset), FBand);
  }
  if (!FGather) {
    if (FStreamed) {
      why = "the source went from whole rows to parts of rows within a page";
      return false;
    }
    FGather = true;
    FPage.Allocate(FWidth, FHeight, FFormat);
  }
  return VXTW_CopyMemBlock(FPage, FBits, block, mem, memLen, why);
}

bool TVXTWBandPlacer::Finish() { return !FGather || Deliver(0, FPage); }

}  // namespace vexa
