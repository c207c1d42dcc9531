// Metafile player: any byte string either is refused or plays without harm.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "vexa/io/metafile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vexa::TVXMetafile meta;
  if (!meta.LoadFromBytes(data, size)) return 0;
  // A small canvas keeps each run fast; the destination rectangle still follows the
  // picture's own ratio and may overhang the canvas.
  int w = std::clamp(meta.Width(), 1, 64), h = std::clamp(meta.Height(), 1, 64);
  vexa::TBitmap bmp(w, h, vexa::pf24bit);
  meta.Draw(bmp, vexa::TRect{-3, -2, w + 5, h + 7});
  return 0;
}
