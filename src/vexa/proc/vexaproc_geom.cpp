// TVexaProc: geometry, effects, hidden data and the frequency domain.
#include <cstdint>
#include <memory>
#include <string>

#include "vexa/core/raster.h"
#include "vexa/proc/bitmaputil.h"
#include "vexa/proc/hiddendata.h"
#include "vexa/proc/vexaproc.h"

namespace vexa {

namespace {

// A missing side follows from the other, keeping the aspect (integer division).
bool DeriveSize(const TBitmap& bmp, int64_t& w, int64_t& h) {
  if (w < 0 && h < 0) return false;
  if (w < 0) w = h * bmp.Width() / bmp.Height();
  if (h < 0) h = w * bmp.Height() / bmp.Width();
  return w > 0 && h > 0;
}

}  // namespace

void TVexaProc::Resample(int newWidth, int newHeight, TResampleFilter filter) {
  if (!FBitmap) return;
  if (AutoUndo) SaveUndo();
  FFailure.Clear();
  int64_t w = newWidth, h = newHeight;
  if (FBitmap->Empty() || !DeriveSize(*FBitmap, w, h)) return;
  // The filtered path reads 24-bit pixels only; every other format is stretched.
  const bool filtered = filter != rfNone && FBitmap->PixelFormat() == pf24bit;
  // Beside the source live the result and, when filtering, a 24-bit temporary of
  // the result's width and the source's height: all of it within the limit.
  const uint64_t result = VXBitmapBytes(w, h, FBitmap->BitsPerPixel());
  const uint64_t temporary = filtered ? VXBitmapBytes(w, FBitmap->Height(), 24) : 0;
  if (w > INT32_MAX || h > INT32_MAX || !VXCheckWorkBytes({result, temporary}))
    return FFailure.Set(fkSizeLimit, VXSizeText(w, h));
  TBitmap out;
  if (filtered) {
    out.Allocate(static_cast<int>(w), static_cast<int>(h), pf24bit);
    _Resample(*FBitmap, out, filter, OnProgress, this);
  } else {
    _VXBmpStretch(*FBitmap, out, static_cast<int>(w), static_cast<int>(h));
  }
  // Moved, not copied: a copy would hold the result twice at the peak.
  *FBitmap = std::move(out);
  Update();
}

void TVexaProc::Rotate(int angle, bool antiAlias) {
  if (!FBitmap) return;
  const TPixelFormat pf = FBitmap->PixelFormat();
  if (pf != pf24bit && pf != pf1bit) return;
  if (AutoUndo) SaveUndo();
  FFailure.Clear();
  TProgressRec rec = MakeProgress();
  rec.Failure = &FFailure;
  if (pf == pf24bit)
    _Rotate24(*FBitmap, angle, antiAlias, TColor2TRGB(ColorToRGB(Background())), rec);
  else
    _rotate1bit(*FBitmap, angle, FBackground != 0 ? 1 : 0, rec);
  Update();
}

void TVexaProc::Flip(TFlipDir dir) {
  if (!FBitmap) return;
  if (AutoUndo) SaveUndo();
  _Flip(*FBitmap, dir);
  Update();
}

template <typename Fn>
void TVexaProc::WholeOrPolygon(Fn fn) {
  if (AutoUndo) SaveUndo();
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  GetReSel(x1, y1, x2, y2, poly, n);
  if (n < 1) {
    fn(*FBitmap);
  } else {
    TBitmap tmp;
    _CopyBitmapRect(*FBitmap, tmp, x1, y1, x2, y2);
    fn(tmp);
    _CopyPolygonBitmap(*FBitmap, tmp, x1, y1, poly, n);
  }
  Update();
}

void TVexaProc::BumpMapping(int lightX, int lightY, int radiusX, int radiusY, int level, TRGB lightColor) {
  if (!FBitmap || FBitmap->PixelFormat() != pf24bit) return;
  TProgressRec rec = MakeProgress();
  ConfinedCall(false, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _BumpMapping(b, lightX, lightY, radiusX, radiusY, level, lightColor, x1, y1, x2, y2, rec);
  });
}

void TVexaProc::Lens(int x, int y, int width, int height, double refraction) {
  if (!FBitmap || FBitmap->PixelFormat() != pf24bit) return;
  TProgressRec rec = MakeProgress();
  WholeOrPolygon([&](TBitmap& b) { _lens(b, x, y, width, height, refraction, rec); });
}

void TVexaProc::Wave(int amplitude, int waveLength, int phase, bool reflective) {
  if (!FBitmap || FBitmap->PixelFormat() != pf24bit) return;
  TProgressRec rec = MakeProgress();
  WholeOrPolygon([&](TBitmap& b) { _wave(b, amplitude, waveLength, phase, reflective, rec); });
}

void TVexaProc::Morph(int winSize, int op) {
  if (!FBitmap) return;
  ConfinedCall(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _MorphFilter(b, winSize, op, x1, y1, x2, y2, OnProgress, this);
  });
}

void TVexaProc::Maximum(int winSize) { Morph(winSize, moMaximum); }
void TVexaProc::Minimum(int winSize) { Morph(winSize, moMinimum); }
void TVexaProc::Opening(int winSize) { Morph(winSize, moOpening); }
void TVexaProc::Closing(int winSize) { Morph(winSize, moClosing); }

void TVexaProc::Merge(const TBitmap& other, int percent) {
  if (!FBitmap || FBitmap->PixelFormat() != pf24bit) return;
  ConfinedCall(true, [&](TBitmap& b, int x1, int y1, int x2, int y2) {
    _Merge(b, other, percent, x1, y1, x2, y2, OnProgress, this);
  });
}

int TVexaProc::WriteHiddenData(const void* buffer, int length) {
  if (!FBitmap || FBitmap->PixelFormat() != pf24bit) return 0;
  if (AutoUndo) SaveUndo();
  const int stored = _WriteHiddenData(*FBitmap, buffer, length);
  Update();
  return stored;
}

int TVexaProc::WriteHiddenText(const std::string& text) {
  return WriteHiddenData(text.data(), static_cast<int>(text.size()));
}

int TVexaProc::ReadHiddenData(void* buffer, int length) {
  if (!FBitmap) return 0;
  return _ReadHiddenData(*FBitmap, buffer, length);
}

std::string TVexaProc::ReadHiddenText() {
  std::string text(static_cast<size_t>(ReadHiddenData(nullptr, 0)), '\0');
  if (!text.empty()) ReadHiddenData(text.data(), static_cast<int>(text.size()));
  return text;
}

int TVexaProc::GetHiddenDataSpace() { return FBitmap ? _GetHiddenDataSpace(*FBitmap) : 0; }

TVXFtImage* TVexaProc::FTCreateImage(TVXFtImageType type, int width, int height) {
  if (!FBitmap || FBitmap->PixelFormat() != pf24bit || FBitmap->Empty()) return nullptr;
  auto ft = std::make_unique<TVXFtImage>();
  ft->OnProgress = OnProgress;
  ft->ProgressSender = this;
  FFailure.Clear();
  // Sizes that leave nothing (zero, or both negative) transform the image as it is.
  int64_t w = width, h = height;
  if (DeriveSize(*FBitmap, w, h)) {
    if (w > INT32_MAX || h > INT32_MAX || !VXCheckBitmapSize(w, h, 24)) {
      FFailure.Set(fkSizeLimit, VXSizeText(w, h));
      return ft.release();
    }
    TBitmap scaled;
    _VXBmpStretch(*FBitmap, scaled, static_cast<int>(w), static_cast<int>(h));
    ft->BuildFT(scaled, type);
  } else {
    w = FBitmap->Width(), h = FBitmap->Height();
    ft->BuildFT(*FBitmap, type);
  }
  if (ft->ImageType() == vxitUnknown) {
    // The transform pads to a power-of-two square.
    int64_t n = 1;
    while (n < w || n < h) n *= 2;
    FFailure.Set(fkSizeLimit, VXSizeText(n, n));
  }
  return ft.release();
}

void TVexaProc::FTConvertFrom(const TVXFtImage& ft) {
  if (!FBitmap) return;
  ft.BuildBitmap(*FBitmap);
  Update();
}

void TVexaProc::FTDisplayFrom(const TVXFtImage& ft) {
  if (!FBitmap) return;
  ft.GetFTImage(*FBitmap);
  Update();
}

}  // namespace vexa
