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
  /// colorMap receives the palette (resized to hold NCol entries). quality -1 =
  /// automatic sampling; method is not consulted (NCol <= 256 uses median cut).
  TVXQuantizer(const TBitmap& bitmap, std::vector<TRGB>& colorMap, int NCol, int quality = -1, int method = 0);
  ~TVXQuantizer() override;
  TVXQuantizer(const TVXQuantizer&) = delete;
  TVXQuantizer& operator=(const TVXQuantizer&) = delete;

  int32_t GetRGBIndex(TRGB c);
  /// 0 = neural network, 1 = median cut.
  int Method() const { return FMethod; }

 private:
  int FMethod = 0;
  void* FQuantizer = nullptr;
};

}  // namespace vexa
