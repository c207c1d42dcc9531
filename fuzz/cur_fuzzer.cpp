// Cursor files: any byte string decodes or sets the abort flag; never a crash, overrun or hang.
#include <cstddef>
#include <cstdint>

#include "vexa/codecs/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 64 MiB per bitmap keeps every accepted size well under the fuzzer's 2 GiB memory budget.
  static const bool capped = (vexa::VXSetMaxBitmapBytes(64u << 20), true);
  (void)capped;
  vexa::TMemoryStream stream(data, size);
  vexa::TIOParamsVals params;
  params.CUR_ImageIndex = size > 0 ? data[size - 1] % 4 : 0;
  vexa::TBitmap bitmap;
  bool aborting = false;
  vexa::TProgressRec progress;
  progress.Aborting = &aborting;
  vexa::CURTryStream(stream);
  vexa::CURReadStream(stream, bitmap, params, progress, false);
  return 0;
}
