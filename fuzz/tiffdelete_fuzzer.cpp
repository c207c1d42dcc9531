// TIFF page deletion: the first byte picks the page, the rest is the file. The
// rebuilt stream must still walk as a TIFF chain.
#include <cstddef>
#include <cstdint>

#include "vexa/codecs/tiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  vexa::TMemoryStream stream(data + 1, size - 1);
  const int before = vexa::_DeleteTIFFImStream(stream, data[0] % 4);
  stream.Seek(0, vexa::soBeginning);
  const int after = vexa::_EnumTIFFImStream(stream);
  if (before > 0 && after > before) __builtin_trap();
  return 0;
}
