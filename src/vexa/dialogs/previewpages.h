// The pages of the processing preview dialog as data: what each page remembers,
// what it starts from, and the operation it runs. The form (previews_ui.h) only
// shows this state and calls these functions, so the arithmetic is tested here
// without a window.
//
// Positions and sizes (bump-map light, lens) are kept in source-image pixels. The
// result view shows the part of the source that is visible in the source view,
// scaled by its zoom:
//
//     preview x' = trunc(x * zoom / 100 - ViewX)     ViewX: scroll, zoomed pixels
//     source  x  = (x' + ViewX) * 100 / zoom
#pragma once

#include <cstdint>

#include "vexa/core/bitmap.h"
#include "vexa/proc/filters.h"
#include "vexa/proc/vexaproc.h"

namespace vexa {

/// The pages in the order the dialog shows them (TPreviewEffectsItems less peAll).
constexpr TPreviewEffectsItems kVXPreviewPages[] = {peContrast, peHSV,      peHSL,    peRGB,    peUserFilt, peEqualize,
                                                    peBumpMap,  peLens,     peWave,   peMorph,  peRotate,   peFFT};
constexpr int kVXPreviewPageCount = 12;

/// True when the page is offered for this set (peAll offers every page).
bool VXPreviewPageVisible(TPreviewEffects set, TPreviewEffectsItems page);

/// Equalization channels, bit per channel.
enum TVXEqChannel : uint8_t { eqRed, eqGreen, eqBlue, eqGray };

/// The values of every page of the processing preview dialog.
struct TVXPreviewState {
  int Contrast = 0, Brightness = 0;
  /// The source's mean levels, measured when the page is reset.
  int MeanR = 128, MeanG = 128, MeanB = 128;
  int HsvHue = 0, HsvSat = 0, HsvVal = 0;
  int HslHue = 0, HslSat = 0, HslLum = 0;
  int Red = 0, Green = 0, Blue = 0;
  TGraphFilter Filter = VXFiltPres[fpNone];
  int Preset = fpNone;
  TRGB ThresholdLow{0, 0, 0}, ThresholdHigh{255, 255, 255};
  TRGB EqualizeLow{0, 0, 0}, EqualizeHigh{255, 255, 255};
  unsigned Channels = 1u << eqGray;
  bool AutoEqualize = false;
  int LightX = 0, LightY = 0, LightWidth = 0, LightHeight = 0, Quantity = 0;
  TRGB LightColor{255, 255, 255};
  int LensX = 0, LensY = 0, LensWidth = 0, LensHeight = 0;
  double Refraction = 1.7;
  int Amplitude = 10, WaveLength = 10, Phase = 0;
  bool Reflective = false;
  /// TVXMorphOp.
  int MorphOp = moMaximum;
  int WindowSize = 1;
  int Angle = 0;
  bool FlipHorizontal = false, FlipVertical = false;
  bool FftGray = true;
};

/// Puts one page's values back to where the page starts; `source` is the
/// dialog's source image (the mean levels, the centre and the light size).
void VXResetPreviewPage(TVXPreviewState& state, TPreviewEffectsItems page, const TBitmap& source);

/// Where the preview sits in the source (see the header comment).
struct TVXPreviewMap {
  int Zoom = 100;
  int ViewX = 0, ViewY = 0;
  int ToPreviewX(int x) const { return static_cast<int>(static_cast<double>(x) * Zoom / 100 - ViewX); }
  int ToPreviewY(int y) const { return static_cast<int>(static_cast<double>(y) * Zoom / 100 - ViewY); }
  int ToPreviewSize(int s) const { return static_cast<int>(static_cast<double>(s) * Zoom / 100); }
  int ToSourceX(int x) const { return static_cast<int>(static_cast<double>(x + ViewX) * 100 / Zoom); }
  int ToSourceY(int y) const { return static_cast<int>(static_cast<double>(y + ViewY) * 100 / Zoom); }
};

/// The preview's picture: the w x h part of `source` that a view with this map
/// shows, nearest-neighbour scaled (dst becomes 24-bit w x h).
void VXPreviewCrop(const TBitmap& source, const TVXPreviewMap& map, int w, int h, TBitmap& dst);

/// Runs the page's operation on the whole of `bmp` (24-bit). `map` null: bmp is
/// the source itself (the final result); otherwise it is a preview and positions,
/// sizes and wave lengths are converted with the map. The FFT page is the form's
/// business and does nothing here. `background` fills the corners a rotation uncovers.
void VXApplyPreviewPage(TBitmap& bmp, TPreviewEffectsItems page, const TVXPreviewState& state,
                        const TVXPreviewMap* map, TRGB background, const TProgressEvent& onProgress = {},
                        TObject* sender = nullptr);

/// One ruler's low/high limits after a grip moved: the grips cannot
/// cross, so moving one past the other drags the other along. Returns the pair
/// (low, high) for `moved` (0 = low grip) at `pos`, clamped to 0..255.
void VXEqualizeGrips(int moved, int pos, int& low, int& high);

/// Writes a low/high pair into the checked channels (grey sets all three).
void VXEqualizeSetRange(unsigned channels, int low, int high, TRGB& lowRgb, TRGB& highRgb);

}  // namespace vexa
