// Helpers shared by the BMP, ICO and CUR tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "vexa/codecs/bmp.h"

namespace bmptest {

using namespace vexa;

inline std::string DataPath(const std::string& rel) { return std::string(VEXA_TESTDATA_DIR) + "/" + rel; }

struct TReadResult {
  TBitmap Bitmap;
  TIOParamsVals Params;
  bool Aborting = false;
};

enum class TKind { Bmp, Ico, Cur };

inline void ReadBytes(const std::vector<uint8_t>& bytes, TReadResult& r, TKind kind = TKind::Bmp, bool preview = false) {
  TMemoryStream s(bytes.data(), bytes.size());
  TProgressRec pr;
  pr.Aborting = &r.Aborting;
  switch (kind) {
    case TKind::Bmp:
      BMPReadStream(s, r.Bitmap, s.Size(), preview, pr, r.Params);
      break;
    case TKind::Ico:
      ICOReadStream(s, r.Bitmap, r.Params, pr, preview);
      break;
    case TKind::Cur:
      CURReadStream(s, r.Bitmap, r.Params, pr, preview);
      break;
  }
}

inline std::vector<uint8_t> LoadFile(const std::string& path) {
  TMemoryStream s;
  s.LoadFromFile(path);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

inline TKind KindOf(const std::string& path) {
  if (path.ends_with(".ico")) return TKind::Ico;
  if (path.ends_with(".cur")) return TKind::Cur;
  return TKind::Bmp;
}

/// RGB pixels of a file as decoded by Pillow (an independent reader); false when Pillow is absent
/// or refuses the file. `select` is extra Python run on `im` before loading (e.g. choosing an icon size).
inline bool PillowDecode(const std::string& path, int& w, int& h, std::vector<uint8_t>& rgb,
                         const std::string& select = "") {
  if (!std::filesystem::exists("/usr/bin/python3")) return false;
  const std::string out = std::filesystem::temp_directory_path() / ("vexa_bmp_ref_" + std::to_string(::getpid()));
  const std::string cmd = "/usr/bin/python3 -c \"import sys\nfrom PIL import Image\nim=Image.open(sys.argv[1])\n" +
                          select +
                          "\nim.load()\nim=im.convert('RGB')\nopen(sys.argv[2],'wb').write(b'%d %d\\n' % im.size + "
                          "im.tobytes())\" '" +
                          path + "' '" + out + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return false;
  std::FILE* f = std::fopen(out.c_str(), "rb");
  if (!f) return false;
  bool ok = std::fscanf(f, "%d %d", &w, &h) == 2 && std::fgetc(f) == '\n' && w > 0 && h > 0;
  if (ok) {
    rgb.resize(static_cast<size_t>(w) * h * 3);
    ok = std::fread(rgb.data(), 1, rgb.size(), f) == rgb.size();
  }
  std::fclose(f);
  std::remove(out.c_str());
  return ok;
}

inline bool PillowAvailable() {
  return std::filesystem::exists("/usr/bin/python3") &&
         std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") == 0;
}

/// A deterministic pseudo-random 24-bit image.
inline TBitmap Noise(int w, int h, uint32_t seed) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w * 3; ++x) {
      seed = seed * 1664525u + 1013904223u;
      row[x] = static_cast<uint8_t>(seed >> 24);
    }
  }
  return b;
}

inline bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) return false;
  const int bytes = a.PixelFormat() == pf1bit ? (a.Width() + 7) / 8 : a.Width() * 3;
  for (int y = 0; y < a.Height(); ++y) {
    const uint8_t *ra = a.ScanLine(y), *rb = b.ScanLine(y);
    if (a.PixelFormat() == pf1bit) {
      // Bits past the width are padding.
      for (int x = 0; x < a.Width(); ++x)
        if (!_GetPixelbw(ra, x) != !_GetPixelbw(rb, x)) return false;
    } else if (std::memcmp(ra, rb, static_cast<size_t>(bytes)) != 0) {
      return false;
    }
  }
  return true;
}

inline uint16_t U16At(const std::vector<uint8_t>& d, size_t p) { return static_cast<uint16_t>(d[p] | (d[p + 1] << 8)); }
inline uint32_t U32At(const std::vector<uint8_t>& d, size_t p) {
  return d[p] | (d[p + 1] << 8) | (d[p + 2] << 16) | (static_cast<uint32_t>(d[p + 3]) << 24);
}
inline void Put16(std::vector<uint8_t>& d, uint32_t v) {
  d.push_back(static_cast<uint8_t>(v));
  d.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>& d, uint32_t v) {
  for (int i = 0; i < 4; ++i) d.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

/// A BMP with a 40-byte header, the given palette (4-byte entries) or bit-field masks, and raw data.
inline std::vector<uint8_t> MakeBmp(int32_t w, int32_t h, int bits, uint32_t compression, const std::vector<TRGB>& pal,
                                    const std::vector<uint8_t>& data, const std::vector<uint32_t>& masks = {},
                                    int32_t ppm = 0) {
  std::vector<uint8_t> d = {'B', 'M'};
  const uint32_t offset = 14 + 40 + static_cast<uint32_t>(masks.size() * 4 + pal.size() * 4);
  Put32(d, offset + static_cast<uint32_t>(data.size()));
  Put32(d, 0);
  Put32(d, offset);
  Put32(d, 40);
  Put32(d, static_cast<uint32_t>(w));
  Put32(d, static_cast<uint32_t>(h));
  Put16(d, 1);
  Put16(d, static_cast<uint32_t>(bits));
  Put32(d, compression);
  Put32(d, static_cast<uint32_t>(data.size()));
  Put32(d, static_cast<uint32_t>(ppm));
  Put32(d, static_cast<uint32_t>(ppm));
  Put32(d, static_cast<uint32_t>(pal.size()));
  Put32(d, 0);
  for (uint32_t m : masks) Put32(d, m);
  for (TRGB c : pal) {
    d.push_back(c.b);
    d.push_back(c.g);
    d.push_back(c.r);
    d.push_back(0);
  }
  d.insert(d.end(), data.begin(), data.end());
  return d;
}

}  // namespace bmptest
