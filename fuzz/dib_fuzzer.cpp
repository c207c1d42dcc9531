// DIBs as the clipboard, scanners and capture devices hand them over: any block
// decodes without reading past its end; the result then goes back out as a DIB.
#include <cstddef>
#include <cstdint>

#include "vexa/core/bitmap.h"
#include "vexa/proc/dib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Stay well under the fuzzer's memory budget.
  vexa::VXSetMaxBitmapBytes(64u << 20);
  vexa::TBitmap bmp;
  vexa::_CopyDIB2Bitmap(data, size, bmp);
  if (bmp.Width() <= 256 && bmp.Height() <= 256) vexa::_CopyBitmaptoDIB(bmp, 0, 0, 0, 0);
  return 0;
}
