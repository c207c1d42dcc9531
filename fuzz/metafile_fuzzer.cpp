// Metafile player: any byte string either is refused or plays without harm. A small
// stand-in text service is installed so that text records are placed and blended too.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "vexa/core/textservice.h"
#include "vexa/io/metafile.h"

namespace {

// A box per character, as tall as the font (capped: the fuzzer's memory budget).
class TBoxText : public vexa::TVXTextService {
 public:
  bool Render(const vexa::TVXFontSpec& font, const std::string& text, const std::vector<double>& advances,
              vexa::TVXTextImage& out) override {
    int h = std::clamp(static_cast<int>(font.Height), 1, 64);
    int w = std::clamp(static_cast<int>(text.size()) * h / 2, 1, 256);
    out.Width = w, out.Height = h;
    out.Coverage.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 200);
    out.OriginX = 0, out.OriginY = h * 0.8;
    out.Advance = advances.empty() ? w : 0;
    for (double a : advances) out.Advance += a;
    out.Ascent = h * 0.8, out.Descent = h * 0.2;
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TBoxText text;
  vexa::VXSetTextService(&text);
  vexa::TVXMetafile meta;
  if (!meta.LoadFromBytes(data, size)) return 0;
  // A small canvas keeps each run fast; the destination rectangle still follows the
  // picture's own ratio and may overhang the canvas.
  int w = std::clamp(meta.Width(), 1, 64), h = std::clamp(meta.Height(), 1, 64);
  vexa::TBitmap bmp(w, h, vexa::pf24bit);
  meta.Draw(bmp, vexa::TRect{-3, -2, w + 5, h + 7});
  return 0;
}
