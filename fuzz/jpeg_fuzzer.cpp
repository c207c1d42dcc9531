// JPEG reader: any byte string either decodes or sets the abort flag.
#include <cstddef>
#include <cstdint>

#include "vexa/codecs/jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Bitmaps stay well under the fuzzer's 2 GB memory budget.
  vexa::VXSetMaxBitmapBytes(64u << 20);
  vexa::TMemoryStream stream(data, size);
  vexa::TIOParamsVals params;
  vexa::TBitmap bitmap;
  bool aborting = false;
  vexa::TProgressRec progress;
  progress.Aborting = &aborting;
  vexa::ReadJPegStream(stream, bitmap, params, false, progress);
  return 0;
}
