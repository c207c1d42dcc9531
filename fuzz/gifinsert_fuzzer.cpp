// Frame insertion into an arbitrary stream: a frame that goes in must read back.
#include <cstddef>
#include <cstdint>

#include "vexa/codecs/gif.h"
#include "vexa/codecs/lzw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  vexa::VXSetMaxBitmapBytes(64u << 20);
  vexa::VXInstallLZWCoders();
  // The last byte picks the position; the rest is the file.
  const int target = data[size - 1] % 8;
  vexa::TMemoryStream stream(data, size - 1);
  vexa::TBitmap frame(5, 3, vexa::pf24bit);
  frame.SetPixel(1, 1, vexa::TRGB{200, 16, 8});
  vexa::TIOParamsVals params;
  params.GIF_ImageIndex = target;
  params.GIF_Interlaced = (data[size - 1] & 8) != 0;
  params.BitsPerSample = 1 + (data[size - 1] >> 4) % 8;
  bool aborting = false;
  vexa::TProgressRec progress;
  progress.Aborting = &aborting;
  const int frames = vexa::_InsertGifImStream(stream, frame, params, progress);
  if (frames <= 0) return 0;

  stream.SetPosition(0);
  vexa::TBitmap back;
  int32_t count = 0;
  aborting = false;
  vexa::ReadGifStream(stream, back, count, params, progress, false);
  if (aborting || back.Width() != 5 || back.Height() != 3 || !(back.GetPixel(1, 1) == frame.GetPixel(1, 1)))
    __builtin_trap();
  return 0;
}
