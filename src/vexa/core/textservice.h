// Text rendering as the core sees it: a font described in device pixels, a string,
// and back an 8-bit coverage mask with the metrics needed to place it.
//
// The core draws no glyphs of its own. A program that links only the core has no
// service (VXTextService() is null) and callers leave text out and say so; the UI
// layer installs a service backed by the desktop's fonts with VXSetTextService.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexa {

/// A font as the text service is asked for it, sizes in device pixels.
struct TVXFontSpec {
  /// Face name in UTF-8; empty or unknown faces fall back on the default sans face.
  std::string Face;
  /// Character height (em size) in device pixels, > 0; with CellHeight, the height
  /// of the whole cell (ascent + descent) instead.
  double Height = 12;
  bool CellHeight = false;
  /// Average character width in pixels; 0 keeps the face's own proportions.
  double Width = 0;
  /// 100..900 as in CSS and the Windows LOGFONT; 400 regular, 700 bold.
  int Weight = 400;
  bool Italic = false, Underline = false, StrikeOut = false;
  /// Angle of the baseline in degrees, counter-clockwise on screen.
  double Angle = 0;
};

/// The rendered string. Coverage is row-major, top row first, Width x Height bytes
/// (0 = background, 255 = ink). The baseline starts at (OriginX, OriginY) in the mask;
/// Advance, Ascent and Descent are measured along and across the unrotated baseline.
struct TVXTextImage {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Coverage;
  double OriginX = 0, OriginY = 0;
  double Advance = 0, Ascent = 0, Descent = 0;
};

/// Renders strings for callers that have no fonts of their own (metafile text).
class TVXTextService {
 public:
  virtual ~TVXTextService() = default;
  /// Renders text (UTF-8). advances, when not empty, gives the distance in pixels from
  /// each character's start to the next one's (one per UTF-16 code unit of the text), in
  /// place of the font's own. False when nothing can be rendered.
  virtual bool Render(const TVXFontSpec& font, const std::string& text, const std::vector<double>& advances,
                      TVXTextImage& out) = 0;
};

/// The installed service, or null when none is (a program without the UI layer).
TVXTextService* VXTextService();
/// Installs a service (not owned; it must outlive its use); null removes it.
void VXSetTextService(TVXTextService* service);

}  // namespace vexa
