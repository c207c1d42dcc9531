// Built-in sample images, generated in code: for the tool's demo, the studio's
// start-up picture, benchmarks and tests that need photo-like content.
#pragma once

#include <cstdint>

#include "vexa/core/bitmap.h"

namespace vexa {

/// A 24-bit picture with smooth gradients, hard edges, a disc and fine noise, so
/// that quantizers, filters and codecs meet both flat and busy areas. The same
/// seed gives the same pixels.
TBitmap VXMakeSampleImage(int width, int height, uint32_t seed = 1);

}  // namespace vexa
