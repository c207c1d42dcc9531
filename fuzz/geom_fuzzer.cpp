// Geometry and effects on small arbitrary images with arbitrary parameters: no
// access outside the bitmaps whatever the sizes, angles, positions and lengths.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vexa/core/bitmap.h"
#include "vexa/proc/effects.h"
#include "vexa/proc/fft.h"
#include "vexa/proc/geometry.h"
#include "vexa/proc/hiddendata.h"
#include "vexa/proc/magicwand.h"
#include "vexa/proc/resample.h"

using namespace vexa;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 16) return 0;
  // Small sides keep every case fast and far under the fuzzer's memory budget.
  const int w = 1 + data[0] % 24, h = 1 + data[1] % 24;
  const int dw = 1 + data[2] % 40, dh = 1 + data[3] % 40;
  const int angle = static_cast<int8_t>(data[4]) * 3;
  const int px = static_cast<int8_t>(data[5]), py = static_cast<int8_t>(data[6]);
  const int amount = static_cast<int8_t>(data[7]);
  const int op = data[8];
  data += 16, size -= 16;
  TBitmap bmp(w, h, pf24bit);
  for (int y = 0; y < h && size; ++y) {
    const size_t n = std::min(size, static_cast<size_t>(3 * w));
    std::memcpy(bmp.ScanLine(y), data, n);
    data += n, size -= n;
  }
  TProgressRec rec;
  switch (op % 10) {
    case 0: {
      TBitmap dst(dw, dh, pf24bit);
      _Resample(bmp, dst, static_cast<TResampleFilter>(1 + (op >> 4) % 6), nullptr, nullptr);
      _QuickResample(bmp, dst, rfLanczos3, nullptr, nullptr);
      break;
    }
    case 1:
      _Rotate24(bmp, angle, amount & 1, TRGB{}, rec);
      break;
    case 2: {
      TBitmap bits = bmp;
      bits.SetPixelFormat(pf1bit);
      _rotate1bit(bits, angle + amount / 100.0, amount & 1, rec);
      _Flip(bits, fdHorizontal);
      break;
    }
    case 3:
      _BumpMapping(bmp, px, py, amount, dw - 20, op % 101, TRGB{1, 2, 3}, px, py, dw, dh, rec);
      break;
    case 4:
      _lens(bmp, px, py, dw, dh, 1 + amount / 16.0, rec);
      break;
    case 5:
      _wave(bmp, amount, dw - 20, angle, op & 16, rec);
      break;
    case 6:
      _MorphFilter(bmp, amount % 4, op % 5, px, py, dw, dh, nullptr, nullptr);
      break;
    case 7: {
      int count;
      _MakeMagicWandPoints(bmp, px, py, op & 16, amount, count);
      break;
    }
    case 8: {
      uint8_t buf[64];
      _ReadHiddenData(bmp, buf, std::min<int>(amount, sizeof buf));  // length is the buffer size
      _WriteHiddenData(bmp, data, static_cast<int>(std::min<size_t>(size, 64)));
      _ReadHiddenData(bmp, buf, sizeof buf);
      break;
    }
    default: {
      TVXFtImage ft;
      ft.BuildFT(bmp, op & 16 ? vxitRGB : vxitGrayscale);
      ft.ClearZone(px, py, dw, dh);
      ft.LoPass(amount);
      TBitmap out;
      ft.BuildBitmap(out);
      ft.GetFTImage(out);
    }
  }
  return 0;
}
