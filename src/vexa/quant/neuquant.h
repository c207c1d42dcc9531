// Neural-net quantizer (a Kohonen self-organising map, the NeuQuant method): one
// neuron per palette colour, so palettes of thousands of colours can be built.
// Integer arithmetic throughout (divisions truncate toward zero): the same image
// and parameters give the same palette bit for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "vexa/core/bitmap.h"

namespace vexa {

struct TNeuQuant;

/// Sampling factor (1 = every pixel, 30 = the coarsest) for quality -1 (automatic,
/// from the pixel count) or 0..100. Always within 1..30.
int NeuQuantSampleFactor(int64_t width, int64_t height, int quality);

/// Learns the network on a pf24bit bitmap (other formats are learnt from a 24-bit
/// copy) and fills colorMap with exactly NCol entries (NCol below 1 counts as 1),
/// in neuron order; then builds the search index. The bitmap is only read here.
TNeuQuant* CreateNeuQuant(const TBitmap& bitmap, std::vector<TRGB>& colorMap, int NCol, int sampleFactor);
/// Palette index of the entry nearest to c (sum of channel differences).
int NeuQuantFindIndex(const TNeuQuant* q, TRGB c);
/// Null is accepted.
void FreeNeuQuant(TNeuQuant* q);

}  // namespace vexa
