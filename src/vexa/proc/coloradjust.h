// Colour spaces and point operations on 24-bit bitmaps.
//
// Every adjustment edits the bitmap in place over an inclusive rectangle
// X1, Y1 - X2, Y2; X2 and Y2 are clamped to the last column and row, and a
// negative X1 or Y1 is treated as 0. Anything but a pf24bit bitmap is left
// untouched (_Negative also inverts pf1bit). Progress goes to onProgress (when
// assigned) after each row as truncate((y - Y1 + 1) * 100 / (Y2 - Y1 + 0.5)), so
// the last report slightly exceeds 100; nothing can stop an operation.
//
// Grey level everywhere: (21 R + 71 G + 7 B) div 100; white gives 252.
//
//   HSL: doubles, each in [0, 1] (H is a fraction of a turn).
//   HSV: integers, H in degrees 0..359, S and V in 0..99.
#pragma once

#include "vexa/core/bitmap.h"
#include "vexa/quant/colorhelpers.h"  // _GetMediaContrastRGB

namespace vexa {

void RGB2HSL(TRGB rgb, double& h, double& s, double& l);
/// H, S and L are clamped to [0, 1]; the hue is clamped, not wrapped.
void HSL2RGB(TRGB& rgb, double h, double s, double l);
void RGB2HSV(TRGB rgb, int& h, int& s, int& v);
/// H is clamped to 0..359 (not wrapped), S and V to 0..99.
void HSV2RGB(TRGB& rgb, int h, int s, int v);

/// Adds hue / 360, sat / 100 and lum / 100 to each pixel's H, S and L.
void _HSLvar(TBitmap& bmp, int hue, int sat, int lum, int x1, int y1, int x2, int y2,
             const TProgressEvent& onProgress = {}, TObject* sender = nullptr);
/// Adds the changes to each pixel's H (degrees), S and V (0..99 units).
void _HSVvar(TBitmap& bmp, int hue, int sat, int val, int x1, int y1, int x2, int y2,
             const TProgressEvent& onProgress = {}, TObject* sender = nullptr);
/// Adds an offset to each channel, clamped to 0..255.
void _IntensityRGBall(TBitmap& bmp, int r, int g, int b, int x1, int y1, int x2, int y2,
                      const TProgressEvent& onProgress = {}, TObject* sender = nullptr);

/// One level over all bytes: sum / ((3 width - 1) x (height - 1)); 128 when that
/// divisor is 0, 0 for a non-24-bit bitmap.
int _GetMediaContrast(const TBitmap& bmp);
/// Stretches each channel around its level by k = 1 + c / 10 (c >= 0) or
/// 1 - sqrt(-c) / 10 (c < 0): v := clamp(m + truncate((v - m) k), 0, 255).
void _ContrastRGB(TBitmap& bmp, int contrast, int levelR, int levelG, int levelB, int x1, int y1, int x2,
                  int y2, const TProgressEvent& onProgress = {}, TObject* sender = nullptr);
/// As _ContrastRGB with one level for every byte.
void _Contrast(TBitmap& bmp, int contrast, int level, int x1, int y1, int x2, int y2,
               const TProgressEvent& onProgress = {}, TObject* sender = nullptr);

/// Per channel: v <= downLimit -> downValue; then (on that result) v > upLimit -> upValue.
/// Nothing happens when the limits are (0, 0, 0) and (255, 255, 255).
void _Threshold(TBitmap& bmp, TRGB downLimit, TRGB upLimit, TRGB downValue, TRGB upValue, int x1, int y1,
                int x2, int y2, const TProgressEvent& onProgress = {}, TObject* sender = nullptr);
/// Pixels whose every channel lies within [begin, end] (inclusive) become `cast`.
void _CastColorRange(TBitmap& bmp, TRGB begin, TRGB end, TRGB cast, int x1, int y1, int x2, int y2,
                     const TProgressEvent& onProgress = {}, TObject* sender = nullptr);
/// 24-bit: 255 - byte. 1-bit: the pixel bits X1..X2 are inverted (no progress).
void _Negative(TBitmap& bmp, int x1, int y1, int x2, int y2, const TProgressEvent& onProgress = {},
               TObject* sender = nullptr);
/// Inverts every byte of every row of a pf1bit bitmap, row padding included.
void _Negative1Bit(TBitmap& bmp);
/// Writes the grey level into the three channels.
void _ConvertToGray(TBitmap& bmp, int x1, int y1, int x2, int y2, const TProgressEvent& onProgress = {},
                    TObject* sender = nullptr);

/// Channel extractors over the whole bitmap: new 24-bit grey bitmaps (the caller
/// owns them), or null for a non-24-bit source. Progress is reported before each
/// row as truncate(row x 100 / height).
///
/// RGB index: 0 blue, 1 green, 2 red (the byte offset in TRGB); above 2 acts as 2,
/// below 0 as 0. HSV index: 0 hue, 1 saturation, 2 value; anything else is hue.
TBitmap* _GetRGBChannel(const TBitmap& bmp, int index, const TProgressEvent& onProgress = {},
                        TObject* sender = nullptr);
TBitmap* _GetHSVChannel(const TBitmap& bmp, int index, const TProgressEvent& onProgress = {},
                        TObject* sender = nullptr);
void _GetRGBChannelAll(const TBitmap& bmp, TBitmap& dstR, TBitmap& dstG, TBitmap& dstB,
                       const TProgressEvent& onProgress = {}, TObject* sender = nullptr);
void _GetHSVChannelAll(const TBitmap& bmp, TBitmap& dstH, TBitmap& dstS, TBitmap& dstV,
                       const TProgressEvent& onProgress = {}, TObject* sender = nullptr);

}  // namespace vexa
