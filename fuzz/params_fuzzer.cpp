// Parameter files: any byte string either loads or raises a stream error.
#include <cstddef>
#include <cstdint>

#include "vexa/io/ioparams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vexa::TMemoryStream stream(data, size);
  vexa::TIOParamsVals params;
  try {
    params.LoadFromStream(stream);
  } catch (const vexa::EStreamError&) {
  }
  return 0;
}
