// GIF reading with the library's LZW coders: frames 0 and 1, pixels and parameters only.
#include <cstddef>
#include <cstdint>

#include "vexa/codecs/gif.h"
#include "vexa/codecs/lzw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 64 MB of pixels keeps a frame well under the fuzzer's 2 GB memory budget.
  vexa::VXSetMaxBitmapBytes(64u << 20);
  vexa::VXInstallLZWCoders();
  for (int index = 0; index < 2; ++index) {
    vexa::TMemoryStream stream(data, size);
    vexa::TIOParamsVals params;
    params.GIF_ImageIndex = index;
    vexa::TBitmap bitmap;
    int32_t count = 0;
    bool aborting = false;
    vexa::TProgressRec progress;
    progress.Aborting = &aborting;
    vexa::ReadGifStream(stream, bitmap, count, params, progress, index == 1);
  }
  return 0;
}
