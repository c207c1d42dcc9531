// Both LZW decoders on arbitrary data, and encode-then-decode of the same bytes,
// which must give them back exactly.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vexa/codecs/lzw.h"

namespace {

void GifDecode(const uint8_t* data, size_t size, int width, int height, bool interlaced) {
  vexa::TMemoryStream stream(data, size);
  std::vector<uint8_t> out(static_cast<size_t>(width) * height);
  vexa::GifLzwDecode(stream, height, width, interlaced, out.data());
}

void TiffDecode(const uint8_t* data, size_t size, int rowLen) {
  void* state = nullptr;
  // More rows than any strip of this size can fill: the decoder has to say when it ends.
  for (size_t row = 0; row < size * 8 + 2; ++row)
    if (!vexa::TiffLzwDecode(data, rowLen, state, static_cast<int32_t>(size))) break;
  vexa::TiffLzwDecode(nullptr, 0, state, 0);
}

void GifRoundTrip(const uint8_t* data, size_t size, int bits, bool interlaced) {
  if (size == 0) return;
  const int width = 1 + static_cast<int>(size % 61);
  const int height = static_cast<int>((size + width - 1) / width);
  std::vector<uint8_t> src(static_cast<size_t>(width) * height, 0);
  const uint8_t mask = static_cast<uint8_t>((1 << (bits < 2 ? 2 : bits)) - 1);
  for (size_t i = 0; i < size; ++i) src[i] = data[i] & mask;
  vexa::TMemoryStream stream;
  vexa::GifLzwEncode(stream, height, width, interlaced, src.data(), bits);
  stream.SetPosition(0);
  std::vector<uint8_t> out(src.size());
  vexa::GifLzwDecode(stream, height, width, interlaced, out.data());
  if (out != src || stream.Position() != stream.Size()) __builtin_trap();
}

void TiffRoundTrip(const uint8_t* data, size_t size, int rowLen) {
  const size_t rows = size / rowLen;
  if (rows == 0) return;
  vexa::TMemoryStream stream;
  void* state = nullptr;
  for (size_t r = 0; r < rows; ++r) vexa::TiffLzwEncode(data + r * rowLen, rowLen, stream, state);
  vexa::TiffLzwEncode(nullptr, 0, stream, state);
  const std::vector<uint8_t>& packed = stream.Data();
  for (size_t r = 0; r < rows; ++r) {
    const uint8_t* row = vexa::TiffLzwDecode(packed.data(), rowLen, state, static_cast<int32_t>(packed.size()));
    if (!row || std::memcmp(row, data + r * rowLen, rowLen) != 0) __builtin_trap();
  }
  vexa::TiffLzwDecode(nullptr, 0, state, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t mode = data[0], a = data[1], b = data[2];
  data += 3;
  size -= 3;
  switch (mode & 3) {
    case 0:
      GifDecode(data, size, 1 + a, 1 + b, (mode & 4) != 0);
      break;
    case 1:
      TiffDecode(data, size, 1 + a);
      break;
    case 2:
      GifRoundTrip(data, size, 1 + (a & 7), (mode & 4) != 0);
      break;
    default:
      TiffRoundTrip(data, size, 1 + a);
      break;
  }
  return 0;
}
