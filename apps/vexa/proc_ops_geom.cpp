// `vexa proc` operations over resampling, rotation, effects, hidden data and the
// frequency domain.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "proc_ops.h"
#include "vexa/io/vexaio.h"

namespace vexacli {
namespace {

using vexa::TVexaProc;
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
    if (!ParseInt(a[i], v[i], lo, hi)) return "'" + a[i] + "' is not a number in " + std::to_string(lo) + ".." + std::to_string(hi);
  return "";
}

const char* const kFilterNames[] = {"none", "triangle", "hermite", "bell", "bspline", "lanczos3", "mitchell"};

const ProcOpRegistrar kResample(
    {"resample", "W H [FILTER]",
     "resize to W x H (-1 keeps the aspect) with none, triangle, hermite, bell, bspline, lanczos3 (default) or mitchell",
     2, 3, [](TVexaProc& p, const Args& a, std::string&) {
       int v[2];
       if (std::string e = Ints(a, 2, v, -1, 100000); !e.empty()) return e;
       if (v[0] == 0 || v[1] == 0 || (v[0] < 0 && v[1] < 0)) return std::string("sizes are >= 1, one of them may be -1");
       vexa::TResampleFilter f = vexa::rfLanczos3;
       if (a.size() > 2) {
         int i = 0;
         while (i < 7 && a[2] != kFilterNames[i]) ++i;
         if (i == 7) return "unknown filter '" + a[2] + "'";
         f = static_cast<vexa::TResampleFilter>(i);
       }
       p.Resample(v[0], v[1], f);
       return std::string();
     }});

const ProcOpRegistrar kRotate({"rotate", "DEGREES [aa]", "turn counter-clockwise; aa smooths 24-bit images", 1, 2,
                               [](TVexaProc& p, const Args& a, std::string&) {
                                 int deg;
                                 if (!ParseInt(a[0], deg)) return std::string("the angle is a whole number of degrees");
                                 if (a.size() > 1 && a[1] != "aa") return "expected 'aa', not '" + a[1] + "'";
                                 p.Rotate(deg, a.size() > 1);
                                 return std::string();
                               }});

const ProcOpRegistrar kFlip({"flip", "h|v", "mirror left-right (h) or top-bottom (v)", 1, 1,
                             [](TVexaProc& p, const Args& a, std::string&) {
                               if (a[0] != "h" && a[0] != "v") return std::string("flip takes h or v");
                               p.Flip(a[0] == "h" ? vexa::fdHorizontal : vexa::fdVertical);
                               return std::string();
                             }});

const ProcOpRegistrar kBump({"bump", "LX LY RX RY LEVEL [R G B]",
                             "relief lit from (LX, LY) with radii RX, RY; LEVEL percent of the image kept; light colour",
                             5, 8, [](TVexaProc& p, const Args& a, std::string&) {
                               int v[5];
                               if (std::string e = Ints(a, 5, v); !e.empty()) return e;
                               vexa::TRGB light{255, 255, 255};
                               if (a.size() != 5 && (a.size() != 8 || !ParseRGB(a, 5, light)))
                                 return std::string("the light colour is three numbers 0..255");
                               p.BumpMapping(v[0], v[1], v[2], v[3], v[4], light);
                               return std::string();
                             }});

const ProcOpRegistrar kLens({"lens", "X Y W H REFRACTION", "spherical lens centred at (X, Y); refraction >= 1", 5, 5,
                             [](TVexaProc& p, const Args& a, std::string&) {
                               int v[4];
                               double n;
                               if (std::string e = Ints(a, 4, v); !e.empty()) return e;
                               if (!ParseDouble(a[4], n)) return std::string("the refraction is a number");
                               p.Lens(v[0], v[1], v[2], v[3], n);
                               return std::string();
                             }});

const ProcOpRegistrar kWave({"wave", "AMPLITUDE WAVELENGTH PHASE [reflective]",
                             "circular waves around the centre (pixels, pixels, degrees)", 3, 4,
                             [](TVexaProc& p, const Args& a, std::string&) {
                               int v[3];
                               if (std::string e = Ints(a, 3, v); !e.empty()) return e;
                               if (a.size() > 3 && a[3] != "reflective") return "expected 'reflective', not '" + a[3] + "'";
                               p.Wave(v[0], v[1], v[2], a.size() > 3);
                               return std::string();
                             }});

template <void (TVexaProc::*Method)(int)>
std::string MorphOp(TVexaProc& p, const Args& a, std::string&) {
  int n;
  if (!ParseInt(a[0], n, 0, 1000)) return "the window half-size is a number 0..1000";
  (p.*Method)(n);
  return "";
}

const ProcOpRegistrar kMaximum({"maximum", "N", "each pixel takes the brightest of its (2N+1)^2 window", 1, 1,
                                MorphOp<&TVexaProc::Maximum>});
const ProcOpRegistrar kMinimum({"minimum", "N", "each pixel takes the darkest of its (2N+1)^2 window", 1, 1,
                                MorphOp<&TVexaProc::Minimum>});
const ProcOpRegistrar kOpening({"opening", "N", "minimum then maximum: removes small bright specks", 1, 1,
                                MorphOp<&TVexaProc::Opening>});
const ProcOpRegistrar kClosing({"closing", "N", "maximum then minimum: removes small dark specks", 1, 1,
                                MorphOp<&TVexaProc::Closing>});

const ProcOpRegistrar kMerge({"merge", "OTHER PERCENT", "blend another image file in, keeping PERCENT of this one", 2, 2,
                              [](TVexaProc& p, const Args& a, std::string&) {
                                int percent;
                                if (!ParseInt(a[1], percent, 0, 100)) return std::string("the percentage is 0..100");
                                vexa::TBitmap other;
                                vexa::TVexaIO io;
                                io.SetAttachedBitmap(&other);
                                io.LoadFromFile(a[0]);
                                if (io.Aborting || other.Empty()) return "cannot read '" + a[0] + "'";
                                p.Merge(other, percent);
                                return std::string();
                              }});

const ProcOpRegistrar kHideText({"hide-text", "TEXT", "hide TEXT in the lowest bits; prints the bytes stored", 1, 1,
                                 [](TVexaProc& p, const Args& a, std::string& report) {
                                   const int stored = p.WriteHiddenText(a[0]);
                                   report = std::to_string(stored) + "\n";
                                   if (stored < static_cast<int>(a[0].size()))
                                     report += "the image holds only " + std::to_string(stored) + " bytes\n";
                                   return std::string();
                                 }});

const ProcOpRegistrar kReadText({"read-text", "", "print the hidden text", 0, 0,
                                 [](TVexaProc& p, const Args&, std::string& report) {
                                   report = p.ReadHiddenText() + "\n";
                                   return std::string();
                                 }});

const ProcOpRegistrar kHiddenSpace({"hidden-space", "", "print how many bytes can be hidden", 0, 0,
                                    [](TVexaProc& p, const Args&, std::string& report) {
                                      report = std::to_string(p.GetHiddenDataSpace()) + "\n";
                                      return std::string();
                                    }});

// Transform, apply the change, and write the result back into the image.
template <typename Fn>
std::string WithTransform(TVexaProc& p, const Args& a, size_t typeArg, Fn fn) {
  vexa::TVXFtImageType type = vexa::vxitRGB;
  if (a.size() > typeArg) {
    if (a[typeArg] != "gray" && a[typeArg] != "rgb") return "expected 'gray' or 'rgb', not '" + a[typeArg] + "'";
    if (a[typeArg] == "gray") type = vexa::vxitGrayscale;
  }
  std::unique_ptr<vexa::TVXFtImage> ft(p.FTCreateImage(type, -1, -1));
  if (!ft) return "the frequency domain needs a 24-bit image";
  fn(p, *ft);
  return "";
}

const ProcOpRegistrar kLowPass({"fft-lowpass", "R [gray|rgb]", "keep the frequencies within R of the centre", 1, 2,
                                [](TVexaProc& p, const Args& a, std::string&) {
                                  int r;
                                  if (!ParseInt(a[0], r, 0)) return std::string("the radius is a number >= 0");
                                  return WithTransform(p, a, 1, [r](TVexaProc& proc, vexa::TVXFtImage& ft) {
                                    ft.LoPass(r);
                                    proc.FTConvertFrom(ft);
                                  });
                                }});

const ProcOpRegistrar kHighPass({"fft-highpass", "R [gray|rgb]", "remove the frequencies within R of the centre", 1, 2,
                                 [](TVexaProc& p, const Args& a, std::string&) {
                                   int r;
                                   if (!ParseInt(a[0], r, 0)) return std::string("the radius is a number >= 0");
                                   return WithTransform(p, a, 1, [r](TVexaProc& proc, vexa::TVXFtImage& ft) {
                                     ft.HiPass(r);
                                     proc.FTConvertFrom(ft);
                                   });
                                 }});

const ProcOpRegistrar kSpectrum({"fft-spectrum", "[gray|rgb]", "replace the image by its log spectrum (square)", 0, 1,
                                 [](TVexaProc& p, const Args& a, std::string&) {
                                   return WithTransform(p, a, 0, [](TVexaProc& proc, vexa::TVXFtImage& ft) {
                                     proc.FTDisplayFrom(ft);
                                   });
                                 }});

}  // namespace
}  // namespace vexacli
