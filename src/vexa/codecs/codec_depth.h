// Depth preparation shared by the palette writers (PCX, TGA): turning the bitmap
// being saved into the 1-bit or 24-bit picture the writer encodes.
#pragma once

#include "vexa/core/bitmap.h"

namespace vexa {

/// dst becomes the 1-bit picture to write for src and c0/c1 the colours of its clear
/// and set bits:
///  - a pf1bit src is copied as it is (black, white);
///  - a pf24bit src with exactly two colours keeps them, the darker one as c0;
///  - any other pf24bit src is dithered to black and white with the ordered dither.
/// Returns false (dst untouched) for other pixel formats.
bool VXPrepareOneBit(const TBitmap& src, TBitmap& dst, TRGB& c0, TRGB& c1);

/// dst becomes a pf24bit copy of a pf1bit src (set bits white, clear bits black).
void VXExpandOneBit(const TBitmap& src, TBitmap& dst);

}  // namespace vexa
