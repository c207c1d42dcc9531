// The I/O component on any stream: detection, the format table's dispatch and the
// 12-byte stream headers (first byte odd = StreamHeaders), then the parameter read.
// Every failure the component reports must carry a reason: with no progress handler
// to stop it, an abort without one is a codec exit that forgot to say why.
#include <cstddef>
#include <cstdint>

#include "vexa/codecs/lzw.h"
#include "vexa/io/vexaio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // 64 MiB per bitmap keeps every accepted size well under the fuzzer's 2 GiB memory budget.
  static const bool setUp = (vexa::VXSetMaxBitmapBytes(64u << 20), vexa::VXInstallLZWCoders(), true);
  (void)setUp;
  vexa::TBitmap bitmap;
  vexa::TVexaIO io;
  io.SetAttachedBitmap(&bitmap);
  io.StreamHeaders = size > 0 && (data[0] & 1);
  vexa::TMemoryStream stream(data, size);
  io.LoadFromStream(stream);
  if (io.Aborting && (io.LastFailure().Kind == vexa::fkStopped || io.LastFailure().Text.empty())) __builtin_trap();
  stream.SetPosition(0);
  io.ParamsFromStream(stream);
  return 0;
}
