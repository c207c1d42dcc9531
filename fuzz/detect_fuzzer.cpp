// Format detection: any stream gives a type without raising and keeps its position.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "vexa/io/detect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vexa::TMemoryStream stream(data, size);
  int64_t start = size > 0 ? data[0] % 4 : 0;
  stream.SetPosition(start);
  vexa::FindStreamFormat(stream);
  if (stream.Position() != start) std::abort();
  return 0;
}
