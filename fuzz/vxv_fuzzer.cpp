// VXV reader: any byte string loads, or raises a stream or invalid-graphic error.
#include <cstddef>
#include <cstdint>

#include "vexa/core/streams.h"
#include "vexa/vect/vectmodel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Embedded pictures stay well under the fuzzer's 2 GB memory budget.
  vexa::VXSetMaxBitmapBytes(64u << 20);
  vexa::TMemoryStream stream(data, size);
  vexa::TVXVectModel model;
  try {
    model.LoadFromStreamVXV(stream);
  } catch (const vexa::EStreamError&) {
  } catch (const vexa::EInvalidGraphic&) {
  }
  // Whatever was read must save again.
  vexa::TNulStream out;
  model.SaveToStreamVXV(out);
  return 0;
}
