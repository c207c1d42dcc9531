#include "vexa/acquire/v4l2format.h"

#include <cstring>

#include "vexa/acquire/capture.h"

namespace vexa {

namespace {
constexpr uint32_t kYUYV = VXFourCC('Y', 'U', 'Y', 'V');
constexpr uint32_t kMJPG = VXFourCC('M', 'J', 'P', 'G');
constexpr uint32_t kJPEG = VXFourCC('J', 'P', 'E', 'G');

size_t PackedYuyvRow(uint32_t width) { return (static_cast<size_t>(width) + 1) / 2 * 4; }
}  // namespace

bool VXV4L2Supported(uint32_t f) { return f == kYUYV || f == kMJPG || f == kJPEG; }

std::string VXV4L2FormatName(uint32_t f) {
  if (f == kYUYV) return "YUYV 4:2:2";
  if (f == kMJPG) return "Motion-JPEG";
  if (f == kJPEG) return "JFIF JPEG";
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>(f >> (8 * i));
    s[static_cast<size_t>(i)] = c >= 32 && c < 127 ? c : '?';
  }
  return s;
}

std::vector<uint8_t> VXV4L2FormatBlock(const TVXV4L2Format& f) {
  if (!VXV4L2Supported(f.PixelFormat) || f.Width == 0 || f.Height == 0 || f.Width > 65535 || f.Height > 65535 ||
      !VXCheckBitmapSize(f.Width, f.Height, 24))
    return {};
  TVXBitmapInfoHeader h;
  h.Width = static_cast<int32_t>(f.Width);
  h.Height = static_cast<int32_t>(f.Height);
  if (f.PixelFormat == kYUYV) {
    const size_t row = PackedYuyvRow(f.Width);
    if (f.BytesPerLine != 0 && f.BytesPerLine < row) return {};
    h.BitCount = 16;
    h.Compression = kVXFourCC_YUY2;
    h.SizeImage = static_cast<uint32_t>(row * f.Height);
  } else {
    h.BitCount = 24;
    h.Compression = kVXFourCC_MJPG;
    h.SizeImage = f.SizeImage;
  }
  return VXMakeFormatBlock(h);
}

bool VXV4L2CopyFrame(const TVXV4L2Format& f, const uint8_t* buffer, size_t size, std::vector<uint8_t>& out) {
  if (!buffer || size == 0 || !VXV4L2Supported(f.PixelFormat)) return false;
  if (f.PixelFormat != kYUYV) {
    out.assign(buffer, buffer + size);
    return true;
  }
  if (f.Width == 0 || f.Height == 0 || f.Width > 65535 || f.Height > 65535) return false;
  const size_t row = PackedYuyvRow(f.Width);
  const size_t stride = f.BytesPerLine ? f.BytesPerLine : row;
  if (stride < row || size / stride < f.Height - 1 || size - stride * (f.Height - 1) < row) return false;
  out.resize(row * f.Height);
  for (uint32_t y = 0; y < f.Height; ++y) std::memcpy(&out[row * y], buffer + stride * y, row);
  return true;
}

}  // namespace vexa
