// Operations over resampling, rotation, effects, hidden data and the frequency
// domain.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "vexa/io/vexaio.h"
#include "vexa/proc/operations.h"

namespace vexa {
namespace {

using Args = std::vector<std::string>;

bool ParseDouble(const std::string& s, double& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtod(s.c_str(), &end);
  return errno == 0 && *end == 0 && std::isfinite(out);
}

std::string Ints(const Args& a, size_t count, int* v, int lo = -1000000, int hi = 1000000) {
  for (size_t i = 0; i < count; ++i)
    if (!VXOpArgInt(a[i], v[i], lo, hi))
      return "'" + a[i] + "' is not a number in " + std::to_string(lo) + ".." + std::to_string(hi);
  return "";
}

std::string NoResult() { return std::string(); }

// In TResampleFilter order.
constexpr const char* kResampleFilters = "none|triangle|hermite|bell|bspline|lanczos3|mitchell";

template <void (TVexaProc::*Method)(int)>
std::string MorphOp(TVexaProc& p, const Args& a, std::string&) {
  int n;
  if (!VXOpArgInt(a[0], n, 0, 1000)) return "the window half-size is a number 0..1000";
  (p.*Method)(n);
  return "";
}

// Transform, apply the change, and write the result back into the image.
template <typename Fn>
std::string WithTransform(TVexaProc& p, const Args& a, size_t typeArg, Fn fn) {
  TVXFtImageType type = vxitRGB;
  if (a.size() > typeArg) {
    if (a[typeArg] != "gray" && a[typeArg] != "rgb") return "expected 'gray' or 'rgb', not '" + a[typeArg] + "'";
    if (a[typeArg] == "gray") type = vxitGrayscale;
  }
  std::unique_ptr<TVXFtImage> ft(p.FTCreateImage(type, -1, -1));
  if (!ft) return "the frequency domain needs a 24-bit image";
  // A transform the size limit refused is empty: writing it back would blank the image.
  if (p.LastFailure().Failed()) return "";
  fn(p, *ft);
  return "";
}

template <void (TVXFtImage::*Pass)(int)>
std::string FrequencyPass(TVexaProc& p, const Args& a, std::string&) {
  int r;
  if (!VXOpArgInt(a[0], r, 0)) return "the radius is a number >= 0";
  return WithTransform(p, a, 1, [r](TVexaProc& proc, TVXFtImage& ft) {
    (ft.*Pass)(r);
    proc.FTConvertFrom(ft);
  });
}

constexpr double kCoord = 1000000;  // the range of positions and radii
constexpr TVXOpParam kResample[] = {
    {"Width (-1 keeps the aspect)", opkInt, "-1", -1, 100000},
    {"Height (-1 keeps the aspect)", opkInt, "100", -1, 100000},
    {"Filter", opkChoice, "lanczos3", 0, 0, kResampleFilters, true}};
constexpr TVXOpParam kRotate[] = {{"Angle (degrees)", opkInt, "90", -2147483647.0 - 1, 2147483647},
                                  {"Smooth", opkFlag, "", 0, 0, "aa", true}};
constexpr TVXOpParam kFlip[] = {{"Direction", opkChoice, "h", 0, 0, "h|v"}};
constexpr TVXOpParam kBump[] = {{"Light X", opkInt, "0", -kCoord, kCoord, "", false, opuCentreX},
                                {"Light Y", opkInt, "0", -kCoord, kCoord, "", false, opuCentreY},
                                {"Radius X", opkInt, "50", -kCoord, kCoord},
                                {"Radius Y", opkInt, "50", -kCoord, kCoord},
                                {"Image kept (%)", opkInt, "50", -kCoord, kCoord},
                                {"Light colour", opkColour, "255 255 255", 0, 0, "", true}};
constexpr TVXOpParam kLens[] = {{"Centre X", opkInt, "50", -kCoord, kCoord, "", false, opuCentreX},
                                {"Centre Y", opkInt, "50", -kCoord, kCoord, "", false, opuCentreY},
                                {"Width", opkInt, "100", -kCoord, kCoord, "", false, opuWidth},
                                {"Height", opkInt, "100", -kCoord, kCoord, "", false, opuHeight},
                                {"Refraction", opkNumber, "1.5", 1, 100}};
constexpr TVXOpParam kWave[] = {{"Amplitude (pixels)", opkInt, "5", -kCoord, kCoord},
                                {"Wavelength (pixels)", opkInt, "20", -kCoord, kCoord},
                                {"Phase (degrees)", opkInt, "0", -kCoord, kCoord},
                                {"Reflective", opkFlag, "", 0, 0, "reflective", true}};
constexpr TVXOpParam kWindow[] = {{"Window half-size", opkInt, "1", 0, 1000}};
constexpr TVXOpParam kMerge[] = {{"Other image", opkFile, ""}, {"This image kept (%)", opkInt, "50", 0, 100}};
constexpr TVXOpParam kHideText[] = {{"Text", opkText, ""}};
constexpr TVXOpParam kFreqPass[] = {{"Radius", opkInt, "16", 0, 2147483647},
                                    {"Transform of", opkChoice, "rgb", 0, 0, "gray|rgb", true}};
constexpr TVXOpParam kSpectrum[] = {{"Transform of", opkChoice, "rgb", 0, 0, "gray|rgb", true}};

const TVXOperation kOps[] = {
    {"resample", "Resample", ogTransform, "W H [FILTER]",
     "resize to W x H (-1 keeps the aspect) with none, triangle, hermite, bell, bspline, lanczos3 (default) or mitchell",
     kResample,
     [](TVexaProc& p, const Args& a, std::string&) {
       int v[2];
       if (std::string e = Ints(a, 2, v, -1, 100000); !e.empty()) return e;
       if (v[0] == 0 || v[1] == 0 || (v[0] < 0 && v[1] < 0)) return std::string("sizes are >= 1, one of them may be -1");
       TResampleFilter f = rfLanczos3;
       if (a.size() > 2) {
         const int i = VXOpArgChoice(kResampleFilters, a[2]);
         if (i < 0) return "unknown filter '" + a[2] + "'";
         f = static_cast<TResampleFilter>(i);
       }
       p.Resample(v[0], v[1], f);
       return NoResult();
     }},
    {"rotate", "Rotate", ogTransform, "DEGREES [aa]", "turn counter-clockwise; aa smooths 24-bit images", kRotate,
     [](TVexaProc& p, const Args& a, std::string&) {
       int deg;
       if (!VXOpArgInt(a[0], deg)) return std::string("the angle is a whole number of degrees");
       if (a.size() > 1 && a[1] != "aa") return "expected 'aa', not '" + a[1] + "'";
       p.Rotate(deg, a.size() > 1);
       return NoResult();
     }},
    {"flip", "Flip", ogTransform, "h|v", "mirror left-right (h) or top-bottom (v)", kFlip,
     [](TVexaProc& p, const Args& a, std::string&) {
       if (a[0] != "h" && a[0] != "v") return std::string("flip takes h or v");
       p.Flip(a[0] == "h" ? fdHorizontal : fdVertical);
       return NoResult();
     }},
    {"bump", "Bump map", ogEffects, "LX LY RX RY LEVEL [R G B]",
     "relief lit from (LX, LY) with radii RX, RY; LEVEL percent of the image kept; light colour", kBump,
     [](TVexaProc& p, const Args& a, std::string&) {
       int v[5];
       if (std::string e = Ints(a, 5, v); !e.empty()) return e;
       TRGB light{255, 255, 255};
       if (a.size() != 5 && (a.size() != 8 || !VXOpArgRGB(a, 5, light)))
         return std::string("the light colour is three numbers 0..255");
       p.BumpMapping(v[0], v[1], v[2], v[3], v[4], light);
       return NoResult();
     }},
    {"lens", "Lens", ogEffects, "X Y W H REFRACTION", "spherical lens centred at (X, Y); refraction >= 1", kLens,
     [](TVexaProc& p, const Args& a, std::string&) {
       int v[4];
       double n;
       if (std::string e = Ints(a, 4, v); !e.empty()) return e;
       if (!ParseDouble(a[4], n)) return std::string("the refraction is a number");
       p.Lens(v[0], v[1], v[2], v[3], n);
       return NoResult();
     }},
    {"wave", "Wave", ogEffects, "AMPLITUDE WAVELENGTH PHASE [reflective]",
     "circular waves around the centre (pixels, pixels, degrees)", kWave,
     [](TVexaProc& p, const Args& a, std::string&) {
       int v[3];
       if (std::string e = Ints(a, 3, v); !e.empty()) return e;
       if (a.size() > 3 && a[3] != "reflective") return "expected 'reflective', not '" + a[3] + "'";
       p.Wave(v[0], v[1], v[2], a.size() > 3);
       return NoResult();
     }},
    {"maximum", "Maximum", ogFilters, "N", "each pixel takes the brightest of its (2N+1)^2 window", kWindow,
     MorphOp<&TVexaProc::Maximum>},
    {"minimum", "Minimum", ogFilters, "N", "each pixel takes the darkest of its (2N+1)^2 window", kWindow,
     MorphOp<&TVexaProc::Minimum>},
    {"opening", "Opening", ogFilters, "N", "minimum then maximum: removes small bright specks", kWindow,
     MorphOp<&TVexaProc::Opening>},
    {"closing", "Closing", ogFilters, "N", "maximum then minimum: removes small dark specks", kWindow,
     MorphOp<&TVexaProc::Closing>},
    {"merge", "Merge", ogEffects, "OTHER PERCENT", "blend another image file in, keeping PERCENT of this one", kMerge,
     [](TVexaProc& p, const Args& a, std::string&) {
       int percent;
       if (!VXOpArgInt(a[1], percent, 0, 100)) return std::string("the percentage is 0..100");
       TBitmap other;
       TVexaIO io;
       io.SetAttachedBitmap(&other);
       io.LoadFromFile(a[0]);
       if (io.Aborting || other.Empty()) return "cannot read '" + a[0] + "'";
       p.Merge(other, percent);
       return NoResult();
     }},
    {"hide-text", "Hide text", ogHiddenData, "TEXT", "hide TEXT in the lowest bits; prints the bytes stored",
     kHideText,
     [](TVexaProc& p, const Args& a, std::string& report) {
       const int stored = p.WriteHiddenText(a[0]);
       report = std::to_string(stored) + "\n";
       if (stored < static_cast<int>(a[0].size()))
         report += "the image holds only " + std::to_string(stored) + " bytes\n";
       return NoResult();
     }},
    {"read-text", "Read hidden text", ogHiddenData, "", "print the hidden text", {},
     [](TVexaProc& p, const Args&, std::string& report) {
       report = p.ReadHiddenText() + "\n";
       return NoResult();
     }},
    {"hidden-space", "Hidden data space", ogHiddenData, "", "print how many bytes can be hidden", {},
     [](TVexaProc& p, const Args&, std::string& report) {
       report = std::to_string(p.GetHiddenDataSpace()) + "\n";
       return NoResult();
     }},
    {"fft-lowpass", "Low pass", ogFrequency, "R [gray|rgb]", "keep the frequencies within R of the centre", kFreqPass,
     FrequencyPass<&TVXFtImage::LoPass>},
    {"fft-highpass", "High pass", ogFrequency, "R [gray|rgb]", "remove the frequencies within R of the centre",
     kFreqPass,
     FrequencyPass<&TVXFtImage::HiPass>},
    {"fft-spectrum", "Spectrum", ogFrequency, "[gray|rgb]", "replace the image by its log spectrum (square)",
     kSpectrum,
     [](TVexaProc& p, const Args& a, std::string&) {
       return WithTransform(p, a, 0, [](TVexaProc& proc, TVXFtImage& ft) { proc.FTDisplayFrom(ft); });
     }},
};

}  // namespace

std::span<const TVXOperation> VXGeometryOperations() { return kOps; }

}  // namespace vexa
