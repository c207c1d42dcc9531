// PCX: any byte string decodes or sets the abort flag; whatever decodes as 24 or
// 1 bits must survive a lossless write and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vexa/codecs/pcx.h"

using namespace vexa;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Well under the fuzzer's 2 GB memory budget.
  VXSetMaxBitmapBytes(256u << 20);
  TMemoryStream stream(data, size);
  TIOParamsVals params;
  TBitmap bitmap;
  bool aborting = false;
  TProgressRec progress;
  progress.Aborting = &aborting;
  ReadPcxStream(stream, bitmap, params, false, progress, static_cast<int64_t>(size));
  // Only pictures the writer can hold (16-bit header fields) and that re-encode quickly.
  if (aborting || bitmap.Empty() || bitmap.Width() > 65534 ||
      static_cast<int64_t>(bitmap.Width()) * bitmap.Height() > (1 << 16))
    return 0;

  TMemoryStream out;
  params.BitsPerSample = bitmap.PixelFormat() == pf1bit ? 1 : 8;
  params.SamplesPerPixel = bitmap.PixelFormat() == pf1bit ? 1 : 3;
  params.PCX_Compression = size & 1 ? ioPCX_RLE : ioPCX_UNCOMPRESSED;
  WritePcxStream(out, bitmap, params, progress);
  out.SetPosition(0);
  TBitmap again;
  ReadPcxStream(out, again, params, false, progress, out.Size());
  if (aborting || again.Width() != bitmap.Width() || again.Height() != bitmap.Height() ||
      again.PixelFormat() != bitmap.PixelFormat())
    std::abort();
  const size_t rowBytes = bitmap.PixelFormat() == pf1bit ? (bitmap.Width() + 7) / 8 : bitmap.Width() * 3;
  for (int y = 0; y < bitmap.Height(); ++y)
    if (std::memcmp(again.ScanLine(y), bitmap.ScanLine(y), rowBytes) != 0) std::abort();
  return 0;
}
