// Test helpers shared by the TIFF and CCITT suites: an independent decoder run as a
// separate process, and conversions of our bitmaps to plain RGB for comparison.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"

namespace vexa::testing {

/// Pixels of one page as 8-bit RGB, top row first.
struct TRefImage {
  int Width = 0, Height = 0, Frames = 0;
  std::vector<uint8_t> Rgb;
};

inline const char* kPython = "/usr/bin/python3";

/// True when Pillow can be run (python3-pil).
inline bool HaveReferenceDecoder() {
  static const int ok = std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0 ? 1 : 0;
  return ok == 1;
}

inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

/// Decodes page `page` of a TIFF file with Pillow; false when it cannot.
/// 16-bit grey is reduced to its high byte, as the library does.
inline bool ReferenceDecode(const std::string& path, int page, TRefImage& out) {
  static const char* kScript = R"PY(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
im.seek(int(sys.argv[2]))
im.load()
frames = getattr(im, 'n_frames', 1)
if im.mode in ('I;16', 'I;16L', 'I;16B', 'I;16N'):
    raw = im.tobytes('raw', 'I;16B')
    data = bytes(raw[i] for i in range(0, len(raw), 2))
    rgb = bytes(b for v in data for b in (v, v, v))
else:
    rgb = im.convert('RGB').tobytes()
sys.stdout.buffer.write(b'%d %d %d\n' % (im.size[0], im.size[1], frames))
sys.stdout.buffer.write(rgb)
)PY";
  // One script per process: test programs may run side by side.
  struct TScript {
    std::string Path = "/tmp/vexa_tiff_reference_" + std::to_string(getpid()) + ".py";
    TScript() { std::ofstream(Path) << kScript; }
    ~TScript() { std::remove(Path.c_str()); }
  };
  static const TScript script;
  const std::string& scriptPath = script.Path;
  const std::string cmd = std::string(kPython) + " " + scriptPath + " '" + path + "' " + std::to_string(page) + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  std::string data;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) data.append(buf, n);
  if (pclose(p) != 0) return false;
  const size_t nl = data.find('\n');
  if (nl == std::string::npos) return false;
  std::istringstream hdr(data.substr(0, nl));
  hdr >> out.Width >> out.Height >> out.Frames;
  out.Rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(nl) + 1, data.end());
  return out.Rgb.size() == static_cast<size_t>(out.Width) * out.Height * 3;
}

/// Our bitmap as 8-bit RGB, top row first (1-bit pixels become 0 or 255).
inline std::vector<uint8_t> BitmapRgb(const TBitmap& bmp) {
  std::vector<uint8_t> rgb;
  rgb.reserve(static_cast<size_t>(bmp.Width()) * bmp.Height() * 3);
  for (int y = 0; y < bmp.Height(); ++y) {
    const uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < bmp.Width(); ++x) {
      if (bmp.PixelFormat() == pf1bit) {
        const uint8_t v = _GetPixelbw(row, x) ? 255 : 0;
        rgb.insert(rgb.end(), {v, v, v});
      } else {
        const uint8_t* p = row + x * 3;
        rgb.insert(rgb.end(), {p[2], p[1], p[0]});
      }
    }
  }
  return rgb;
}

/// Largest channel difference; -1 when the sizes differ.
inline int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return -1;
  int worst = 0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

}  // namespace vexa::testing
