// DXF import: any text imports without fault; what it adds must be drawable data.
#include <cstddef>
#include <cstdint>

#include "vexa/core/streams.h"
#include "vexa/vect/vectmodel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vexa::TMemoryStream stream(data, size);
  vexa::TVXVectModel model;
  model.ImportDXFStream(stream, 640, 480);
  model.GetObjectsExtents();
  return 0;
}
