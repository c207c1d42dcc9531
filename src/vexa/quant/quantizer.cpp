#include "vexa/quant/quantizer.h"

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
    FQuantizer = CreateNeuQuant(bitmap, colorMap, NCol, NeuQuantSampleFactor(w, h, quality));
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
