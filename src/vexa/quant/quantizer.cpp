#include "vexa/quant/quantizer.h"

#include <algorithm>

#include "vexa/quant/mediancut.h"
#include "vexa/quant/neuquant.h"

namespace vexa {

TVXQuantizer::TVXQuantizer(const TBitmap& bitmap, std::vector<TRGB>& colorMap, int NCol, int quality, int method) {
  (void)method;
  if (NCol > 0 && colorMap.size() < static_cast<size_t>(NCol)) colorMap.resize(NCol);
  if (NCol <= 256) {
    FMethod = 1;
    FQuantizer = CreateMedianCutQuantizer(bitmap, colorMap, NCol);
  } else {
    FMethod = 0;
    const int64_t w = bitmap.Empty() ? 0 : bitmap.Width(), h = bitmap.Empty() ? 0 : bitmap.Height();
    // An image cannot use more colours than it has pixels; a larger network only
    // costs memory and time (16 million neurons for one pixel). The entries past
    // the network stay black and are never chosen.
    const int netsize = static_cast<int>(std::min<int64_t>(NCol, std::max<int64_t>(w * h, 1)));
    FQuantizer = CreateNeuQuant(bitmap, colorMap, netsize, NeuQuantSampleFactor(w, h, quality));
    colorMap.resize(static_cast<size_t>(NCol));
  }
}

TVXQuantizer::~TVXQuantizer() {
  if (FMethod == 1)
    FreeMedianCutQuantizer(static_cast<TMedianCutQuantizer*>(FQuantizer));
  else
    FreeNeuQuant(static_cast<TNeuQuant*>(FQuantizer));
}

int32_t TVXQuantizer::GetRGBIndex(TRGB c) {
  if (!FQuantizer) return 0;
  if (FMethod == 1) return MedianCutFindIndex(static_cast<const TMedianCutQuantizer*>(FQuantizer), c);
  return NeuQuantFindIndex(static_cast<const TNeuQuant*>(FQuantizer), c);
}

}  // namespace vexa
