// Frames from capture devices: what a Video4Linux2 driver reports (pixel format,
// sizes, line stride) turned into a format block, the filled buffer copied as raw
// data, and the data decoded (YUYV, Motion JPEG); or a format block taken as it
// comes, as OnVideoFrameRaw hands it on, decoded with the rest as data.
// A decoded frame must have the size its bitmap says.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vexa/acquire/capture.h"
#include "vexa/acquire/v4l2format.h"

namespace {
uint32_t Take32(const uint8_t*& p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  p += 4;
  return v;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 64 MB of pixels keeps a frame under the fuzzer's 2 GB budget.
  vexa::VXSetMaxBitmapBytes(64u << 20);
  if (size < 17) return 0;
  static vexa::TVXFrameDecoder decoder;  // kept, as the view keeps its decoder between frames
  vexa::TBitmap bmp;
  std::vector<uint8_t> format, frame;
  const uint8_t* p = data + 1;
  if (data[0] & 1) {
    static const uint32_t kFormats[] = {vexa::VXFourCC('Y', 'U', 'Y', 'V'), vexa::VXFourCC('M', 'J', 'P', 'G'),
                                        vexa::VXFourCC('J', 'P', 'E', 'G'), vexa::VXFourCC('N', 'V', '1', '2')};
    vexa::TVXV4L2Format f;
    f.PixelFormat = kFormats[(data[0] >> 1) & 3];
    f.Width = Take32(p);
    f.Height = Take32(p);
    f.BytesPerLine = Take32(p);
    f.SizeImage = Take32(p);
    format = vexa::VXV4L2FormatBlock(f);
    if (format.empty()) return 0;
    if (!vexa::VXV4L2CopyFrame(f, p, size - 17, frame)) return 0;
  } else {
    // The first bytes are the block (header and colour table), the rest the frame.
    const size_t blockSize = std::min<size_t>(size - 1, 40 + (data[1] % 8) * 4);
    format.assign(data + 1, data + 1 + blockSize);
    frame.assign(data + 1 + blockSize, data + size);
  }
  if (decoder.Decode(format.data(), format.size(), frame.data(), frame.size(), bmp) &&
      (bmp.Empty() || bmp.ImageSize() != static_cast<size_t>(bmp.RowLen()) * static_cast<size_t>(bmp.Height())))
    __builtin_trap();
  return 0;
}
