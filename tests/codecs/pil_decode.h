// Test helpers for the PCX and TGA suites: fixture paths, Pillow as an independent
// decoder, and pixel comparison.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"

namespace vexa::testing {

inline std::string TestData(const std::string& rel) { return std::string(VEXA_TESTDATA_DIR) + "/" + rel; }

inline bool FileExists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

// The distribution's interpreter: python3-pil installs there, whatever python3 is first on PATH.
inline const char* PythonWithPil() {
  static const char* python = [] () -> const char* {
    for (const char* p : {"/usr/bin/python3", "python3"}) {
      const std::string cmd = std::string(p) + " -c 'import PIL' >/dev/null 2>&1";
      if (std::system(cmd.c_str()) == 0) return p;
    }
    return nullptr;
  }();
  return python;
}

/// An image as Pillow sees it: top-down rows of red, green, blue.
struct PilImage {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Rgb;
};

/// False when Pillow cannot open the file (callers first check PythonWithPil()).
inline bool PilDecode(const std::string& path, PilImage& out) {
  const std::string cmd = std::string(PythonWithPil()) +
                          " -c 'import sys\nfrom PIL import Image\nim=Image.open(sys.argv[1]).convert(\"RGB\")\n"
                          "sys.stdout.buffer.write(b\"%d %d\\n\" % im.size + im.tobytes())' '" +
                          path + "' 2>/dev/null";
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  out = PilImage{};
  // The size line ends at the first newline; the pixel bytes follow unparsed.
  char line[64] = {};
  const bool sized = std::fgets(line, sizeof(line), p) && std::sscanf(line, "%d %d", &out.Width, &out.Height) == 2;
  if (sized && out.Width > 0 && out.Height > 0) {
    out.Rgb.resize(static_cast<size_t>(out.Width) * out.Height * 3);
    out.Rgb.resize(std::fread(out.Rgb.data(), 1, out.Rgb.size(), p));
  }
  const int rc = pclose(p);
  return sized && rc == 0 && out.Rgb.size() == static_cast<size_t>(out.Width) * out.Height * 3;
}

/// Largest per-channel difference between the bitmap and Pillow's pixels (-1 on a size mismatch).
inline int MaxDifference(const TBitmap& bmp, const PilImage& ref) {
  if (bmp.Width() != ref.Width || bmp.Height() != ref.Height) return -1;
  int worst = 0;
  for (int y = 0; y < ref.Height; ++y)
    for (int x = 0; x < ref.Width; ++x) {
      const TRGB c = bmp.GetPixel(x, y);
      const uint8_t* r = &ref.Rgb[(static_cast<size_t>(y) * ref.Width + x) * 3];
      worst = std::max({worst, std::abs(c.r - r[0]), std::abs(c.g - r[1]), std::abs(c.b - r[2])});
    }
  return worst;
}

/// True when both bitmaps have the same size and the same colour at every pixel.
inline bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (!(a.GetPixel(x, y) == b.GetPixel(x, y))) return false;
  return true;
}

/// A picture of `count` colours in diagonal stripes (colours chosen so palette building can keep them).
inline TBitmap FewColours(int w, int h, int count) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int k = (x / 3 + y) % count;
      b.SetPixel(x, y, CreateRGB(static_cast<uint8_t>(k * 40 % 256), static_cast<uint8_t>(k * 16), 200));
    }
  return b;
}

/// A 1-bit pattern with no symmetry.
inline TBitmap MonoPattern(int w, int h) {
  TBitmap b(w, h, pf1bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) _SetPixelbw(b.ScanLine(y), x, (x * y + x) % 3 == 0);
  return b;
}

inline std::string TempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/vexa_" + std::to_string(::getpid()) + "_" + name;
}

}  // namespace vexa::testing
