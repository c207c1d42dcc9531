// TIFF pages: any byte string reads or sets the abort flag, within the size cap,
// on one thread or split over several.
#include <cstddef>
#include <cstdint>

#include "vexa/codecs/lzw.h"
#include "vexa/codecs/tiff.h"
#include "vexa/core/parallel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool init = [] {
    vexa::VXInstallLZWCoders();
    // Well under the fuzzer's 2 GB memory budget.
    vexa::VXSetMaxBitmapBytes(64u << 20);
    return true;
  }();
  (void)init;
  // Half the inputs decode their rows of strips or tiles on the worker pool.
  vexa::VXSetParallelMinPixels(size & 1 ? 0 : -1);
  for (int32_t page = 0; page < 2; ++page) {
    vexa::TMemoryStream stream(data, size);
    vexa::TIOParamsVals params;
    params.TIFF_ImageIndex = page;
    vexa::TBitmap bitmap;
    bool aborting = false;
    vexa::TProgressRec progress;
    progress.Aborting = &aborting;
    int32_t pages = 0;
    vexa::TIFFReadStream(&bitmap, stream, pages, &params, progress, false);
    if (pages <= 1) break;
  }
  return 0;
}
