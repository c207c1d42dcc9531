// AVI reading through FFmpeg's in-memory I/O: open, then decode up to 32 frames.
// Every frame that decodes must have the size the bitmap says.
#include <cstddef>
#include <cstdint>

#include "vexa/acquire/avi.h"

extern "C" {
#include <libavutil/log.h>
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 64 MB of pixels keeps a frame (and the decoder's own buffers) under the fuzzer's 2 GB budget.
  vexa::VXSetMaxBitmapBytes(64u << 20);
  av_log_set_level(AV_LOG_QUIET);  // damaged input makes FFmpeg talk; the run only needs crashes
  vexa::TVXAviReader reader;
  if (!reader.OpenMemory(data, size)) return 0;
  vexa::TBitmap frame;
  for (int i = 0; i < 32 && reader.ReadFrame(frame); ++i)
    if (frame.PixelFormat() != vexa::pf24bit || frame.Empty() ||
        frame.ImageSize() != static_cast<size_t>(frame.RowLen()) * static_cast<size_t>(frame.Height()))
      __builtin_trap();
  return 0;
}
