// Operations over colour adjustments, histograms, filters and colour depth.
#include <cstdio>
#include <string>

#include "vexa/core/errors.h"
#include "vexa/proc/filters.h"
#include "vexa/proc/histogram.h"
#include "vexa/proc/operations.h"

namespace vexa {
namespace {

using Args = std::vector<std::string>;

// The operations that take three integers in [Lo, Hi].
template <void (TVexaProc::*Method)(int, int, int), int Lo, int Hi>
std::string TripleOp(TVexaProc& p, const Args& a, std::string&) {
  int v[3];
  for (int i = 0; i < 3; ++i)
    if (!VXOpArgInt(a[i], v[i], Lo, Hi))
      return "'" + a[i] + "' is not a number in " + std::to_string(Lo) + ".." + std::to_string(Hi);
  (p.*Method)(v[0], v[1], v[2]);
  return "";
}

std::string Colours(const Args& a, TRGB* out, int n) {
  for (int i = 0; i < n; ++i)
    if (!VXOpArgRGB(a, size_t(3 * i), out[i])) return "colours are three numbers 0..255 each";
  return "";
}

std::string NoResult() { return std::string(); }

constexpr TVXOpParam kContrast[] = {{"Contrast", opkInt, "20", -100, 100000}};
constexpr TVXOpParam kHsl[] = {{"Hue (degrees)", opkInt, "0", -100000, 100000},
                               {"Saturation (%)", opkInt, "0", -100000, 100000},
                               {"Luminance (%)", opkInt, "0", -100000, 100000}};
constexpr TVXOpParam kHsv[] = {{"Hue (degrees)", opkInt, "0", -100000, 100000},
                               {"Saturation", opkInt, "0", -100000, 100000},
                               {"Value", opkInt, "0", -100000, 100000}};
constexpr TVXOpParam kRgb[] = {{"Red", opkInt, "0", -255, 255},
                               {"Green", opkInt, "0", -255, 255},
                               {"Blue", opkInt, "0", -255, 255}};
constexpr TVXOpParam kThreshold[] = {{"Lower limit", opkColour, "64 64 64"},
                                     {"Upper limit", opkColour, "192 192 192"},
                                     {"Lower value", opkColour, "0 0 0"},
                                     {"Upper value", opkColour, "255 255 255"}};
constexpr TVXOpParam kCastRange[] = {{"Range start", opkColour, "0 0 0"},
                                     {"Range end", opkColour, "63 63 63"},
                                     {"Cast to", opkColour, "0 0 0"}};
constexpr TVXOpParam kEqualize[] = {{"Low", opkColour, "16 16 16"}, {"High", opkColour, "240 240 240"}};
constexpr const char* kFilterPresets = "none|blur|edge|emboss|highpass1|highpass2|highpass3|lowpass1|lowpass2";
constexpr TVXOpParam kFilter[] = {{"Filter", opkPreset, "blur", 0, 0, kFilterPresets}};
constexpr TVXOpParam kConvert[] = {{"Colours", opkInt, "256", 1, 1 << 24}};
constexpr TVXOpParam kBWThreshold[] = {{"Threshold (-1: automatic)", opkInt, "-1", -1, 256}};

const TVXOperation kOps[] = {
    {"negative", "Negative", ogColours, "", "invert every channel (1-bit images too)", {},
     [](TVexaProc& p, const Args&, std::string&) {
       p.Negative();
       return NoResult();
     }},
    {"gray", "Grey", ogColours, "", "grey (21 R + 71 G + 7 B) / 100 in all channels", {},
     [](TVexaProc& p, const Args&, std::string&) {
       p.ConvertToGray();
       return NoResult();
     }},
    {"contrast", "Contrast", ogAdjust, "C", "stretch around the mean levels (-100 flattens)", kContrast,
     [](TVexaProc& p, const Args& a, std::string&) {
       int c;
       if (!VXOpArgInt(a[0], c, -100, 100000)) return std::string("contrast is a number >= -100");
       p.Contrast(c);
       return NoResult();
     }},
    {"hsl", "Hue, saturation, luminance", ogAdjust, "H S L",
     "add degrees of hue, percent of saturation and luminance", kHsl,
     TripleOp<&TVexaProc::HSLvar, -100000, 100000>},
    {"hsv", "Hue, saturation, value", ogAdjust, "H S V",
     "add degrees of hue and 0..99 units of saturation and value", kHsv,
     TripleOp<&TVexaProc::HSVvar, -100000, 100000>},
    {"rgb", "Red, green, blue", ogAdjust, "R G B", "add offsets to red, green and blue", kRgb,
     TripleOp<&TVexaProc::IntensityRGBall, -255, 255>},
    {"threshold", "Threshold", ogColours, "DOWNLIMIT UPLIMIT DOWNVALUE UPVALUE",
     "per channel: <= down limit -> down value, then > up limit -> up value (colours as R G B)", kThreshold,
     [](TVexaProc& p, const Args& a, std::string&) {
       TRGB c[4];
       if (std::string e = Colours(a, c, 4); !e.empty()) return e;
       p.Threshold(c[0], c[1], c[2], c[3]);
       return NoResult();
     }},
    {"castrange", "Cast colour range", ogColours, "BEGIN END CAST",
     "pixels with every channel within [BEGIN, END] become CAST (colours as R G B)", kCastRange,
     [](TVexaProc& p, const Args& a, std::string&) {
       TRGB c[3];
       if (std::string e = Colours(a, c, 3); !e.empty()) return e;
       p.CastColorRange(c[0], c[1], c[2]);
       return NoResult();
     }},
    {"equalize", "Equalize", ogAdjust, "LOW HIGH", "levels stretch between two colours (R G B R G B)", kEqualize,
     [](TVexaProc& p, const Args& a, std::string&) {
       TRGB c[2];
       if (std::string e = Colours(a, c, 2); !e.empty()) return e;
       p.HistEqualize(c[0], c[1]);
       return NoResult();
     }},
    {"autoequalize", "Auto equalize", ogAdjust, "", "automatic histogram equalization", {},
     [](TVexaProc& p, const Args&, std::string&) {
       p.HistAutoEqualize();
       return NoResult();
     }},
    {"filter", "Filter", ogFilters, "NAME|FILE.flt",
     "3 x 3 convolution: none, blur, edge, emboss, highpass1, highpass2, highpass3, lowpass1, lowpass2, or a filter file",
     kFilter,
     [](TVexaProc& p, const Args& a, std::string&) {
       // The preset words are in TVXFilterPresets order.
       if (const int preset = VXOpArgChoice(kFilterPresets, a[0]); preset >= 0) {
         p.ApplyFilterPreset(static_cast<TVXFilterPresets>(preset));
         return NoResult();
       }
       TGraphFilter f;
       bool ok = false;
       try {
         ok = LoadFilterFromFile(a[0], f);
       } catch (const EStreamError&) {
       }
       if (!ok) return "'" + a[0] + "' is neither a preset nor a readable filter file";
       p.ApplyFilter(f);
       return NoResult();
     }},
    {"convert", "Reduce colours", ogColourDepth, "N", "reduce to N colours (2 or fewer: ordered dither to 1 bit)",
     kConvert,
     [](TVexaProc& p, const Args& a, std::string&) {
       int n;
       if (!VXOpArgInt(a[0], n, 1, 1 << 24)) return std::string("N is a number >= 1");
       p.ConvertTo(n);
       return NoResult();
     }},
    {"to24bit", "Convert to 24 bit", ogColourDepth, "", "expand a 1-bit image to 24 bits (24-bit images stay as they are)",
     {},
     [](TVexaProc& p, const Args&, std::string&) {
       p.ConvertTo24Bit();
       return NoResult();
     }},
    {"bw-ordered", "Black and white, ordered dither", ogColourDepth, "", "1 bit by ordered dither", {},
     [](TVexaProc& p, const Args&, std::string&) {
       p.ConvertToBWOrdered();
       return NoResult();
     }},
    {"bw-threshold", "Black and white, threshold", ogColourDepth, "T", "1 bit by grey threshold (-1: automatic)",
     kBWThreshold,
     [](TVexaProc& p, const Args& a, std::string&) {
       int t;
       if (!VXOpArgInt(a[0], t, -1, 256)) return std::string("T is -1 or 0..256");
       p.ConvertToBWThreshold(t);
       return NoResult();
     }},
    {"numcolors", "Count colours", ogAnalysis, "", "print the number of distinct colours", {},
     [](TVexaProc& p, const Args&, std::string& report) {
       report = std::to_string(p.CalcImageNumColors()) + "\n";
       return NoResult();
     }},
    {"histogram", "Histogram", ogAnalysis, "", "print 256 lines: level red green blue grey", {},
     [](TVexaProc& p, const Args&, std::string& report) {
       THistogramItem h[256];
       p.GetHistogram(h);
       report.clear();
       char line[80];
       for (int i = 0; i < 256; ++i) {
         std::snprintf(line, sizeof line, "%d %u %u %u %u\n", i, h[i].r, h[i].g, h[i].b, h[i].gray);
         report += line;
       }
       return NoResult();
     }},
};

}  // namespace

std::span<const TVXOperation> VXColourOperations() { return kOps; }

}  // namespace vexa
