// Quantizers and colour-depth conversion on arbitrary small images: every index
// must address the palette, whatever the colours, size and colour count.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "vexa/quant/colordepth.h"
#include "vexa/quant/quantizer.h"

using namespace vexa;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int w = 1 + data[0] % 96, h = 1 + data[1] % 64;
  // Up to 299 colours: the median cut and small networks, cheap enough to keep
  // the fuzzer fast.
  const int ncol = (data[2] | (data[3] & 3) << 8) % 300;
  data += 4;
  size -= 4;
  TBitmap bmp(w, h, pf24bit);
  size_t k = 0;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < w * 3; ++x) row[x] = size ? data[k++ % size] : 0;
  }

  std::vector<TRGB> pal;
  {
    TVXQuantizer q(bmp, pal, ncol);
    for (int y = 0; y < h; ++y) {
      const TRGB* row = reinterpret_cast<const TRGB*>(bmp.ScanLine(y));
      for (int x = 0; x < w; ++x) {
        const int idx = q.GetRGBIndex(row[x]);
        if (idx < 0 || static_cast<size_t>(idx) >= pal.size()) std::abort();
      }
    }
    std::vector<uint8_t> out8(w), out4((w + 1) / 2);
    _ConvertXBitsToYBits(bmp.ScanLine(0), out8.data(), 24, 8, w, {}, &q);
    _ConvertXBitsToYBits(bmp.ScanLine(0), out4.data(), 24, 4, w, {}, &q);
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * 3);
    _ConvertXBitsToYBits(out8.data(), rgb.data(), 8, 24, w, pal, nullptr);
  }

  TRGB c0, c1;
  auto two = _ConvertTo1bit(bmp, c0, c1);
  TBitmap reduced = bmp;
  _ConvertTo(reduced, ncol, nullptr);
  TBitmap bw = bmp;
  _ConvertToBWThreshold(bw, -1, nullpr);
  _Conv1to24(bw, bw, nullpr);
  _ConvertToBWOrdered(bmp, nullpr);
  return 0;
}
