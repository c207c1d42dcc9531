// CCITT decoders: the first three bytes choose the width and fill order, the rest is
// coded data read by the one-dimensional, byte-aligned and two-dimensional decoders.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vexa/codecs/ccitt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int32_t width = 1 + ((data[0] << 8 | data[1]) & 0x1FFF);
  const int32_t fillOrder = 1 + (data[2] & 1);
  // An exact-size copy so that any read past the data is caught.
  const std::vector<uint8_t> coded(data + 3, data + size);
  const int64_t len = static_cast<int64_t>(coded.size());
  const size_t rowBytes = static_cast<size_t>((width + 7) / 8);
  std::vector<uint8_t> row(rowBytes), ref(rowBytes, 0xFF);
  int64_t pos1 = 0, pos2 = 0, bytes = 0;
  for (int y = 0; y < 64; ++y) {
    if (pos1 < len * 8) pos1 = vexa::_CCITTHuffmanGetLine(row.data(), coded.data(), len, width, fillOrder, pos1);
    if (pos2 < len * 8)
      pos2 = vexa::CCITT3_2D_GetLine(row.data(), coded.data(), len, width, fillOrder, pos2, ref.data());
    if (bytes < len) bytes += vexa::CCITTHuffmanGetLine(row.data(), coded.data() + bytes, len - bytes, width, fillOrder);
  }
  return 0;
}
