// Quarter turns, rotation by any angle, and flips.
//
// Positive angles turn counter-clockwise as the picture is seen (row 0 at the top).
// Quarter turns of a W x H image give an H x W image:
//
//     _Rot90 (counter-clockwise)      _Rot90o (clockwise)
//       A B C        C F                A B C       D A
//       D E F   ->   B E                D E F  ->   E B
//                    A D                            F C
//
// The arbitrary-angle rotation grows the image to hold every rotated pixel and
// paints the uncovered corners with the background colour.
#pragma once

#include "vexa/core/bitmap.h"

namespace vexa {

enum TFlipDir { fdHorizontal, fdVertical };

/// Counter-clockwise quarter turn of a 24-bit bitmap into dst (dst becomes H x W).
void _Rot90(const TBitmap& src, TBitmap& dst);
/// Clockwise quarter turn of a 24-bit bitmap into dst (dst becomes H x W).
void _Rot90o(const TBitmap& src, TBitmap& dst);

/// Three-shear rotation of a 24-bit bitmap by angle degrees in [-45, 45] into dst
/// (sized here). With antiAlias each shear blends neighbouring pixels by the
/// fractional part of its shift (12-bit fixed point); without, pixels move whole.
/// Angle 0 makes dst a copy.
void _RotateShear(const TBitmap& src, TBitmap& dst, int angle, bool antiAlias, TRGB background,
                  TProgressRec& progress);

/// Whole rotation of a 24-bit bitmap in place: the angle (degrees, taken modulo
/// 360) is brought into [-45, 45] by quarter turns, the rest done by _RotateShear.
void _Rotate24(TBitmap& bmp, int angle, bool antiAlias, TRGB background, TProgressRec& progress);

/// Rotates a 1-bit bitmap in place by nearest-neighbour inverse mapping about the
/// centre (sine and cosine cut to four decimals); uncovered pixels take
/// backgroundBit (0 or 1).
void _rotate1bit(TBitmap& bmp, double angle, int backgroundBit, TProgressRec& progress);

/// Mirrors the bitmap in place. Horizontal flips are pixel-exact in every format
/// (1-bit rows whose width is not a multiple of 8 included).
void _Flip(TBitmap& bmp, TFlipDir dir);

}  // namespace vexa
