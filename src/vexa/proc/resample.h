// Filtered resampling of 24-bit bitmaps.
//
// Both resamplers write a filtered copy of src into dst, which must already have
// the wanted width and height (and be 24-bit); anything else leaves dst untouched.
// They work in two separable passes, horizontal then vertical. Each destination
// column (row) gathers the source columns (rows) within the filter's support
// around x / scale; source indices past an edge are mirrored back into the image.
// Weights are not normalised, so filters whose weights do not sum to one change
// brightness slightly, and B-spline and Bell soften even at scale 1. Sums are
// clamped to 0..255 and rounded to nearest, ties to even.
#pragma once

#include "vexa/core/bitmap.h"

namespace vexa {

enum TResampleFilter { rfNone, rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell };

/// The filter's kernel at x (source pixels) and its support (half-width); 0 for rfNone.
double VXFilterKernel(TResampleFilter filter, double x);
double VXFilterSupport(TResampleFilter filter);

/// Progress: 100 / (dstW + srcH + 0.5) per temporary row and per destination column's worth.
void _Resample(const TBitmap& src, TBitmap& dst, TResampleFilter filter, const TProgressEvent& onProgress,
               TObject* sender);

/// As _Resample, but a pass that reduces is done by the plain stretch instead of
/// filtering (what the view uses while zooming). Progress only from filtered passes.
void _QuickResample(const TBitmap& src, TBitmap& dst, TResampleFilter filter, const TProgressEvent& onProgress,
                    TObject* sender);

}  // namespace vexa
