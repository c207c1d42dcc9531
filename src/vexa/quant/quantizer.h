// TVXQuantizer: the one object through which the library reduces a 24-bit bitmap
// to a palette. Median cut for up to 256 colours, a NeuQuant-style network above.
//
//   std::vector<TRGB> pal(n);
//   TVXQuantizer q(bitmap, pal, n, -1, 0);   // fills pal with n entries
//   int idx = q.GetRGBIndex(pixel);          // palette index of any colour
#pragma once

#include <cstdint>
#include <vector>

#include "vexa/core/bitmap.h"

namespace vexa {

class TVXQuantizer : public TObject {
 public:
  /// colorMap receives the palette; it is grown to NCol entries when shorter.
  /// NCol <= 256: median cut, which writes the colours it produced (at most NCol,
  /// at least 1) from entry 0 and leaves later entries alone. NCol > 256: the
  /// network, which writes exactly NCol entries. quality -1 = sampling chosen from
  /// the pixel count, 0..100 = from coarse to every pixel (network only); method
  /// is not consulted. Bitmaps other than pf24bit are read through a 24-bit copy;
  /// the bitmap is not referenced after construction.
  TVXQuantizer(const TBitmap& bitmap, std::vector<TRGB>& colorMap, int NCol, int quality = -1, int method = 0);
  ~TVXQuantizer() override;
  TVXQuantizer(const TVXQuantizer&) = delete;
  TVXQuantizer& operator=(const TVXQuantizer&) = delete;

  /// Palette index for any colour, always within the entries written.
  int32_t GetRGBIndex(TRGB c);
  /// 0 = neural network, 1 = median cut.
  int Method() const { return FMethod; }

 private:
  int FMethod = 0;
  void* FQuantizer = nullptr;
};

}  // namespace vexa
