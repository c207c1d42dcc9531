// `vexa proc` operations over colour adjustments, histograms, filters and colour depth.
#include <cstdio>
#include <string>

#include "proc_ops.h"
#include "vexa/core/errors.h"
#include "vexa/proc/filters.h"
#include "vexa/proc/histogram.h"

namespace vexacli {
namespace {

using vexa::TRGB;
using vexa::TVexaProc;
using Args = std::vector<std::string>;

// Three integers each, for the operations that take a triple.
std::string Triple(const Args& a, int lo, int hi, int v[3]) {
  for (int i = 0; i < 3; ++i)
    if (!ParseInt(a[i], v[i], lo, hi)) return "'" + a[i] + "' is not a number in " + std::to_string(lo) + ".." + std::to_string(hi);
  return "";
}

std::string Colours(const Args& a, TRGB* out, int n) {
  for (int i = 0; i < n; ++i)
    if (!ParseRGB(a, size_t(3 * i), out[i])) return "colours are three numbers 0..255 each";
  return "";
}

const ProcOpRegistrar kNegative({"negative", "", "invert every channel (1-bit images too)", 0, 0,
                                 [](TVexaProc& p, const Args&, std::string&) {
                                   p.Negative();
                                   return std::string();
                                 }});

const ProcOpRegistrar kGray({"gray", "", "grey (21 R + 71 G + 7 B) / 100 in all channels", 0, 0,
                             [](TVexaProc& p, const Args&, std::string&) {
                               p.ConvertToGray();
                               return std::string();
                             }});

const ProcOpRegistrar kContrast({"contrast", "C", "stretch around the mean levels (-100 flattens)", 1, 1,
                                 [](TVexaProc& p, const Args& a, std::string&) {
                                   int c;
                                   if (!ParseInt(a[0], c, -100, 100000)) return std::string("contrast is a number >= -100");
                                   p.Contrast(c);
                                   return std::string();
                                 }});

const ProcOpRegistrar kHsl({"hsl", "H S L", "add degrees of hue, percent of saturation and luminance", 3, 3,
                            [](TVexaProc& p, const Args& a, std::string&) {
                              int v[3];
                              if (std::string e = Triple(a, -100000, 100000, v); !e.empty()) return e;
                              p.HSLvar(v[0], v[1], v[2]);
                              return std::string();
                            }});

const ProcOpRegistrar kHsv({"hsv", "H S V", "add degrees of hue and 0..99 units of saturation and value", 3, 3,
                            [](TVexaProc& p, const Args& a, std::string&) {
                              int v[3];
                              if (std::string e = Triple(a, -100000, 100000, v); !e.empty()) return e;
                              p.HSVvar(v[0], v[1], v[2]);
                              return std::string();
                            }});

const ProcOpRegistrar kRgb({"rgb", "R G B", "add offsets to red, green and blue", 3, 3,
                            [](TVexaProc& p, const Args& a, std::string&) {
                              int v[3];
                              if (std::string e = Triple(a, -255, 255, v); !e.empty()) return e;
                              p.IntensityRGBall(v[0], v[1], v[2]);
                              return std::string();
                            }});

const ProcOpRegistrar kThreshold(
    {"threshold", "DOWNLIMIT UPLIMIT DOWNVALUE UPVALUE",
     "per channel: <= down limit -> down value, then > up limit -> up value (colours as R G B)", 12, 12,
     [](TVexaProc& p, const Args& a, std::string&) {
       TRGB c[4];
       if (std::string e = Colours(a, c, 4); !e.empty()) return e;
       p.Threshold(c[0], c[1], c[2], c[3]);
       return std::string();
     }});

const ProcOpRegistrar kCast({"castrange", "BEGIN END CAST",
                             "pixels with every channel within [BEGIN, END] become CAST (colours as R G B)", 9, 9,
                             [](TVexaProc& p, const Args& a, std::string&) {
                               TRGB c[3];
                               if (std::string e = Colours(a, c, 3); !e.empty()) return e;
                               p.CastColorRange(c[0], c[1], c[2]);
                               return std::string();
                             }});

const ProcOpRegistrar kEqualize({"equalize", "LOW HIGH", "levels stretch between two colours (R G B R G B)", 6, 6,
                                 [](TVexaProc& p, const Args& a, std::string&) {
                                   TRGB c[2];
                                   if (std::string e = Colours(a, c, 2); !e.empty()) return e;
                                   p.HistEqualize(c[0], c[1]);
                                   return std::string();
                                 }});

const ProcOpRegistrar kAutoEqualize({"autoequalize", "", "automatic histogram equalization", 0, 0,
                                     [](TVexaProc& p, const Args&, std::string&) {
                                       p.HistAutoEqualize();
                                       return std::string();
                                     }});

const ProcOpRegistrar kFilter(
    {"filter", "NAME|FILE.flt",
     "3 x 3 convolution: none, blur, edge, emboss, highpass1, highpass2, highpass3, lowpass1, lowpass2, or a filter file",
     1, 1, [](TVexaProc& p, const Args& a, std::string&) {
       static const char* const kNames[] = {"none",      "blur",      "edge",     "emboss",  "highpass1",
                                            "highpass2", "highpass3", "lowpass1", "lowpass2"};
       for (int i = 0; i < 9; ++i)
         if (a[0] == kNames[i]) {
           p.ApplyFilterPreset(static_cast<vexa::TVXFilterPresets>(i));
           return std::string();
         }
       vexa::TGraphFilter f;
       bool ok = false;
       try {
         ok = vexa::LoadFilterFromFile(a[0], f);
       } catch (const vexa::EStreamError&) {
       }
       if (!ok) return "'" + a[0] + "' is neither a preset nor a readable filter file";
       p.ApplyFilter(f);
       return std::string();
     }});

const ProcOpRegistrar kConvert({"convert", "N", "reduce to N colours (2 or fewer: ordered dither to 1 bit)", 1, 1,
                                [](TVexaProc& p, const Args& a, std::string&) {
                                  int n;
                                  if (!ParseInt(a[0], n, 1, 1 << 24)) return std::string("N is a number >= 1");
                                  p.ConvertTo(n);
                                  return std::string();
                                }});

const ProcOpRegistrar kBWOrdered({"bw-ordered", "", "1 bit by ordered dither", 0, 0,
                                  [](TVexaProc& p, const Args&, std::string&) {
                                    p.ConvertToBWOrdered();
                                    return std::string();
                                  }});

const ProcOpRegistrar kBWThreshold({"bw-threshold", "T", "1 bit by grey threshold (-1: automatic)", 1, 1,
                                    [](TVexaProc& p, const Args& a, std::string&) {
                                      int t;
                                      if (!ParseInt(a[0], t, -1, 256)) return std::string("T is -1 or 0..256");
                                      p.ConvertToBWThreshold(t);
                                      return std::string();
                                    }});

const ProcOpRegistrar kNumColors({"numcolors", "", "print the number of distinct colours", 0, 0,
                                  [](TVexaProc& p, const Args&, std::string& report) {
                                    report = std::to_string(p.CalcImageNumColors()) + "\n";
                                    return std::string();
                                  }});

const ProcOpRegistrar kHistogram({"histogram", "", "print 256 lines: level red green blue grey", 0, 0,
                                  [](TVexaProc& p, const Args&, std::string& report) {
                                    vexa::THistogramItem h[256];
                                    p.GetHistogram(h);
                                    report.clear();
                                    char line[80];
                                    for (int i = 0; i < 256; ++i) {
                                      std::snprintf(line, sizeof line, "%d %u %u %u %u\n", i, h[i].r, h[i].g, h[i].b,
                                                    h[i].gray);
                                      report += line;
                                    }
                                    return std::string();
                                  }});

}  // namespace
}  // namespace vexacli
