// Memory-transfer blocks as a scanner's data source hands them over: an image
// information record sizes the bitmap, then any number of TW_IMAGEMEMXFER records,
// each followed by a 16-bit buffer length and that many bytes, go to the block
// copier and to the band placer (whose bands must lie inside the page). The
// buffer is an exact-size copy so that a read past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vexa/acquire/twainxfer.h"

using namespace vexa;
using namespace vexa::twain;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Stay well under the fuzzer's memory budget.
  VXSetMaxBitmapBytes(16u << 20);
  TW_IMAGEINFO info;
  if (size < sizeof info) return 0;
  std::memcpy(&info, data, sizeof info);
  data += sizeof info, size -= sizeof info;
  TBitmap bmp;
  std::string why;
  if (!VXTW_PrepareBitmap(info, bmp, why)) return 0;
  TIOParamsVals params;
  VXTW_InfoToParams(info, params);
  TVXTWBandPlacer placer(bmp.Width(), bmp.Height(), bmp.PixelFormat(), info.BitsPerPixel,
                         [&](int y, const TBitmap& band) {
                           if (y < 0 || band.Width() != bmp.Width() || y + band.Height() > bmp.Height()) std::abort();
                           return true;
                         });
  // The block's own Memory field is never trusted; only the geometry is read.
  constexpr size_t kBlockBytes = offsetof(TW_IMAGEMEMXFER, Memory);
  while (size >= kBlockBytes + 2) {
    TW_IMAGEMEMXFER block{};
    std::memcpy(&block, data, kBlockBytes);
    uint16_t len;
    std::memcpy(&len, data + kBlockBytes, 2);
    data += kBlockBytes + 2, size -= kBlockBytes + 2;
    const size_t n = len < size ? len : size;
    std::vector<uint8_t> buffer(data, data + n);
    data += n, size -= n;
    VXTW_CopyMemBlock(bmp, info.BitsPerPixel, block, buffer.data(), buffer.size(), why);
    placer.Place(block, buffer.data(), buffer.size(), why);
  }
  placer.Finish();
  return 0;
}
