#include "vexa/view/qtbitmap_ui.h"

#include <cstring>
#include <vector>

namespace vexa {

QImage VXBitmapToQImage(const TBitmap& bmp, const TVXSourceRect& src, int dstW, int dstH) {
  if (dstW <= 0 || dstH <= 0 || src.W <= 0 || src.H <= 0 || src.X < 0 || src.Y < 0 ||
      src.X + src.W > bmp.Width() || src.Y + src.H > bmp.Height())
    return {};
  QImage img(dstW, dstH, QImage::Format_RGB32);
  if (img.isNull()) return img;
  // Column lookup once per call; rows that map to the same source row are copied.
  std::vector<int> xmap(static_cast<size_t>(dstW));
  for (int dx = 0; dx < dstW; ++dx)
    xmap[static_cast<size_t>(dx)] =
        src.X + static_cast<int>((2 * static_cast<int64_t>(dx) + 1) * src.W / (2 * static_cast<int64_t>(dstW)));
  const TPixelFormat pf = bmp.PixelFormat();
  int prevSy = -1;
  uint32_t* prevOut = nullptr;
  for (int dy = 0; dy < dstH; ++dy) {
    const int sy =
        src.Y + static_cast<int>((2 * static_cast<int64_t>(dy) + 1) * src.H / (2 * static_cast<int64_t>(dstH)));
    auto* out = reinterpret_cast<uint32_t*>(img.scanLine(dy));
    if (sy == prevSy) {
      std::memcpy(out, prevOut, static_cast<size_t>(dstW) * 4);
      continue;
    }
    const uint8_t* row = bmp.ScanLine(sy);
    if (pf == pf24bit) {
      for (int dx = 0; dx < dstW; ++dx) {
        const uint8_t* p = row + 3 * xmap[static_cast<size_t>(dx)];
        out[dx] = 0xFF000000u | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
      }
    } else if (pf == pf1bit) {
      for (int dx = 0; dx < dstW; ++dx)
        out[dx] = _GetPixelbw(row, xmap[static_cast<size_t>(dx)]) ? 0xFFFFFFFFu : 0xFF000000u;
    } else {
      for (int dx = 0; dx < dstW; ++dx) {
        const TRGB c = bmp.GetPixel(xmap[static_cast<size_t>(dx)], sy);
        out[dx] = 0xFF000000u | (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b;
      }
    }
    prevSy = sy;
    prevOut = out;
  }
  return img;
}

QImage VXBitmapToQImage(const TBitmap& bmp) {
  return VXBitmapToQImage(bmp, {0, 0, bmp.Width(), bmp.Height()}, bmp.Width(), bmp.Height());
}

void VXQImageToBitmap(const QImage& image, TBitmap& bmp) {
  const QImage src = image.convertToFormat(QImage::Format_RGB32);
  bmp.Allocate(src.width(), src.height(), pf24bit);
  for (int y = 0; y < src.height(); ++y) {
    const auto* in = reinterpret_cast<const uint32_t*>(src.constScanLine(y));
    uint8_t* out = bmp.ScanLine(y);
    for (int x = 0; x < src.width(); ++x) {
      out[3 * x] = static_cast<uint8_t>(in[x]);
      out[3 * x + 1] = static_cast<uint8_t>(in[x] >> 8);
      out[3 * x + 2] = static_cast<uint8_t>(in[x] >> 16);
    }
  }
}

}  // namespace vexa
