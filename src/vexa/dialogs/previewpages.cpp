#include "vexa/dialogs/previewpages.h"

#include <algorithm>

#include "vexa/proc/coloradjust.h"
#include "vexa/proc/effects.h"
#include "vexa/proc/geometry.h"
#include "vexa/proc/histogram.h"

namespace vexa {

bool VXPreviewPageVisible(TPreviewEffects set, TPreviewEffectsItems page) {
  return (set & VXPE(peAll)) != 0 || (set & VXPE(page)) != 0;
}

void VXResetPreviewPage(TVXPreviewState& s, TPreviewEffectsItems page, const TBitmap& source) {
  const TVXPreviewState d;
  const int w = source.Width(), h = source.Height();
  switch (page) {
    case peContrast:
      s.Contrast = s.Brightness = 0;
      if (source.PixelFormat() == pf24bit && !source.Empty()) _GetMediaContrastRGB(source, s.MeanR, s.MeanG, s.MeanB);
      break;
    case peHSV: s.HsvHue = s.HsvSat = s.HsvVal = 0; break;
    case peHSL: s.HslHue = s.HslSat = s.HslLum = 0; break;
    case peRGB: s.Red = s.Green = s.Blue = 0; break;
    case peUserFilt:
      s.Filter = d.Filter;
      s.Preset = fpNone;
      break;
    case peEqualize:
      s.ThresholdLow = d.ThresholdLow, s.ThresholdHigh = d.ThresholdHigh;
      s.EqualizeLow = d.EqualizeLow, s.EqualizeHigh = d.EqualizeHigh;
      s.Channels = d.Channels;
      s.AutoEqualize = false;
      break;
    case peBumpMap:
      s.LightX = w / 2, s.LightY = h / 2;
      s.LightWidth = s.LightHeight = std::max(w, h) / 2;
      s.LightColor = d.LightColor;
      s.Quantity = 0;
      break;
    case peLens:
      s.LensX = w / 2, s.LensY = h / 2;
      s.LensWidth = s.LensHeight = std::max(w, h) / 2;
      s.Refraction = d.Refraction;
      break;
    case peWave:
      s.Amplitude = d.Amplitude, s.WaveLength = d.WaveLength, s.Phase = 0;
      s.Reflective = false;
      break;
    case peMorph:
      s.MorphOp = moMaximum;
      s.WindowSize = 1;
      break;
    case peRotate:
      s.Angle = 0;
      s.FlipHorizontal = s.FlipVertical = false;
      break;
    case peFFT: s.FftGray = true; break;
    case peAll: break;
  }
}

void VXPreviewCrop(const TBitmap& source, const TVXPreviewMap& map, int w, int h, TBitmap& dst) {
  dst.Allocate(std::max(w, 1), std::max(h, 1), pf24bit);
  if (source.Empty() || map.Zoom <= 0) return;
  std::vector<int> cols(static_cast<size_t>(dst.Width()));
  for (int u = 0; u < dst.Width(); ++u) cols[static_cast<size_t>(u)] = std::clamp(map.ToSourceX(u), 0, source.Width() - 1);
  for (int v = 0; v < dst.Height(); ++v) {
    const int y = std::clamp(map.ToSourceY(v), 0, source.Height() - 1);
    uint8_t* out = dst.ScanLine(v);
    if (source.PixelFormat() == pf24bit) {
      const uint8_t* in = source.ScanLine(y);
      for (int u = 0; u < dst.Width(); ++u, out += 3) {
        const uint8_t* p = in + 3 * cols[static_cast<size_t>(u)];
        out[0] = p[0], out[1] = p[1], out[2] = p[2];
      }
    } else {
      for (int u = 0; u < dst.Width(); ++u) dst.SetPixel(u, v, source.GetPixel(cols[static_cast<size_t>(u)], y));
    }
  }
}

void VXApplyPreviewPage(TBitmap& bmp, TPreviewEffectsItems page, const TVXPreviewState& s, const TVXPreviewMap* map,
                        TRGB background, const TProgressEvent& onProgress, TObject* sender) {
  if (bmp.PixelFormat() != pf24bit || bmp.Empty()) return;
  const int x2 = bmp.Width() - 1, y2 = bmp.Height() - 1;
  TProgressRec pr;
  pr.OnProgress = onProgress;
  pr.Sender = sender;
  auto px = [&](int x) { return map ? map->ToPreviewX(x) : x; };
  auto py = [&](int y) { return map ? map->ToPreviewY(y) : y; };
  auto size = [&](int v) { return map ? map->ToPreviewSize(v) : v; };
  switch (page) {
    case peContrast:
      _ContrastRGB(bmp, s.Contrast, s.MeanR, s.MeanG, s.MeanB, 0, 0, x2, y2, onProgress, sender);
      if (s.Brightness != 0) _IntensityRGBall(bmp, s.Brightness, s.Brightness, s.Brightness, 0, 0, x2, y2);
      break;
    case peHSV: _HSVvar(bmp, s.HsvHue, s.HsvSat, s.HsvVal, 0, 0, x2, y2, onProgress, sender); break;
    case peHSL: _HSLvar(bmp, s.HslHue, s.HslSat, s.HslLum, 0, 0, x2, y2, onProgress, sender); break;
    case peRGB: _IntensityRGBall(bmp, s.Red, s.Green, s.Blue, 0, 0, x2, y2, onProgress, sender); break;
    case peUserFilt: _ApplyFilter(bmp, s.Filter, 0, 0, x2, y2, pr); break;
    case peEqualize:
      _Threshold(bmp, s.ThresholdLow, s.ThresholdHigh, TRGB{0, 0, 0}, TRGB{255, 255, 255}, 0, 0, x2, y2, onProgress,
                 sender);
      _HistEqualize(bmp, s.EqualizeLow, s.EqualizeHigh, 0, 0, x2, y2, onProgress, sender);
      if (s.AutoEqualize) _HistAutoEqualize(bmp, 0, 0, x2, y2, onProgress, sender);
      break;
    case peBumpMap:
      _BumpMapping(bmp, px(s.LightX), py(s.LightY), size(s.LightWidth), size(s.LightHeight), s.Quantity,
                   s.LightColor, 0, 0, x2, y2, pr);
      break;
    case peLens: _lens(bmp, px(s.LensX), py(s.LensY), size(s.LensWidth), size(s.LensHeight), s.Refraction, pr); break;
    case peWave: _wave(bmp, size(s.Amplitude), size(s.WaveLength), s.Phase, s.Reflective, pr); break;
    case peMorph: _MorphFilter(bmp, s.WindowSize, s.MorphOp, 0, 0, x2, y2, onProgress, sender); break;
    case peRotate:
      if (s.Angle != 0) _Rotate24(bmp, s.Angle, true, background, pr);
      if (s.FlipHorizontal) _Flip(bmp, fdHorizontal);
      if (s.FlipVertical) _Flip(bmp, fdVertical);
      break;
    case peFFT:
    case peAll: break;
  }
}

void VXEqualizeGrips(int moved, int pos, int& low, int& high) {
  pos = std::clamp(pos, 0, 255);
  if (moved == 0) {
    low = pos;
    if (high < low) high = low;
  } else {
    high = pos;
    if (low > high) low = high;
  }
}

void VXEqualizeSetRange(unsigned channels, int low, int high, TRGB& lowRgb, TRGB& highRgb) {
  const bool gray = (channels & (1u << eqGray)) != 0;
  auto set = [&](int ch, uint8_t TRGB::*m) {
    if (gray || (channels & (1u << ch))) {
      lowRgb.*m = static_cast<uint8_t>(low);
      highRgb.*m = static_cast<uint8_t>(high);
    }
  };
  set(eqRed, &TRGB::r);
  set(eqGreen, &TRGB::g);
  set(eqBlue, &TRGB::b);
}

}  // namespace vexa
