// GIF reading with the library's LZW coders: frame 0 with pixels, frame 1 with
// parameters only. A small frame that reads is written again and must read back
// at the same size.
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
    if (index == 1 || aborting || bitmap.Width() * static_cast<int64_t>(bitmap.Height()) > 65536) continue;

    vexa::TMemoryStream out;
    params.GIF_ImageIndex = 0;
    vexa::WriteGifStream(out, bitmap, params, progress);
    if (aborting) __builtin_trap();
    out.SetPosition(0);
    vexa::TBitmap back;
    vexa::ReadGifStream(out, back, count, params, progress, false);
    if (aborting || count != 1 || back.Width() != bitmap.Width() || back.Height() != bitmap.Height())
      __builtin_trap();
  }
  return 0;
}
