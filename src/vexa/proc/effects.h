// Spatial effects on 24-bit bitmaps; other formats are left unchanged.
//
// Rectangles are inclusive (X1, Y1, X2, Y2 in pixels) and clamped to the bitmap.
// Lens and wave work on the whole bitmap they are given.
#pragma once

#include "vexa/core/bitmap.h"

namespace vexa {

/// Lights the rectangle as a relief (grey level = height) under a round light at
/// (lightX, lightY) spreading radiusX x radiusY pixels. level is the percentage of
/// the original colour kept; the light adds the rest. Nothing when a radius is 0.
void _BumpMapping(TBitmap& bmp, int lightX, int lightY, int radiusX, int radiusY, int level, TRGB lightColor,
                  int x1, int y1, int x2, int y2, TProgressRec& progress);

/// A spherical lens of the given size centred at (x, y); refraction below 1 acts as 1
/// (no displacement).
void _lens(TBitmap& bmp, int x, int y, int width, int height, double refraction, TProgressRec& progress);

/// Circular waves around the centre: amplitude and wavelength in pixels, phase in
/// degrees. Reflective waves scale the distance to the centre instead of adding to
/// it. Nothing when amplitude or wavelength is 0.
void _wave(TBitmap& bmp, int amplitude, int waveLength, int phase, bool reflective, TProgressRec& progress);

enum TVXMorphOp { moMaximum = 0, moMinimum = 1, moOpening = 2, moClosing = 3 };

/// Grey-level morphology over a (2 winSize + 1) square window: each pixel takes the
/// whole colour of the brightest (maximum) or darkest (minimum) pixel of its window,
/// the first one in reading order on ties. Opening is minimum then maximum, closing
/// the reverse. Negative winSize or an unknown op changes nothing.
void _MorphFilter(TBitmap& bmp, int winSize, int op, int x1, int y1, int x2, int y2, const TProgressEvent& onProgress,
                  TObject* sender);

/// Blends `other`, stretched to the rectangle, into it: percent of the current
/// image is kept (100 = unchanged, 0 = the stretched other image).
void _Merge(TBitmap& bmp, const TBitmap& other, int percent, int x1, int y1, int x2, int y2,
            const TProgressEvent& onProgress, TObject* sender);

}  // namespace vexa
