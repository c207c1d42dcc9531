// Builders of small metafiles for the I/O tests.
#pragma once

#include <cstdint>
#include <vector>

#include "support/fakeview.h"
#include "support/fixtures.h"
#include "vexa/codecs/lzw.h"
#include "vexa/io/ioparams.h"

namespace iotest {

/// Installs the library's LZW coders for its lifetime. The hooks are process-wide:
/// other suites get them back as they were. Components copy the hooks when they are
/// made, so declare this before them.
class ScopedLzwCoders {
 public:
  ScopedLzwCoders()
      : FGifDecode(vexa::DefGIF_LZWDECOMPFUNC), FGifEncode(vexa::DefGIF_LZWCOMPFUNC),
        FTiffDecode(vexa::DefTIFF_LZWDECOMPFUNC), FTiffEncode(vexa::DefTIFF_LZWCOMPFUNC) {
    vexa::VXInstallLZWCoders();
  }
  ~ScopedLzwCoders() {
    vexa::DefGIF_LZWDECOMPFUNC = FGifDecode, vexa::DefGIF_LZWCOMPFUNC = FGifEncode;
    vexa::DefTIFF_LZWDECOMPFUNC = FTiffDecode, vexa::DefTIFF_LZWCOMPFUNC = FTiffEncode;
  }
  ScopedLzwCoders(const ScopedLzwCoders&) = delete;
  ScopedLzwCoders& operator=(const ScopedLzwCoders&) = delete;

 private:
  vexa::GifLzwDecodeProc FGifDecode;
  vexa::GifLzwEncodeProc FGifEncode;
  vexa::TiffLzwDecodeProc FTiffDecode;
  vexa::TiffLzwEncodeProc FTiffEncode;
};

/// Little-endian byte builder.
struct Bytes {
  std::vector<uint8_t> B;
  Bytes& U16(uint32_t v) {
    B.push_back(v & 0xFF), B.push_back((v >> 8) & 0xFF);
    return *this;
  }
  Bytes& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Bytes& I16(int v) { return U16(static_cast<uint16_t>(v)); }
  Bytes& I32(int v) { return U32(static_cast<uint32_t>(v)); }
  Bytes& Str(const char* s) {
    while (*s) B.push_back(static_cast<uint8_t>(*s++));
    return *this;
  }
  Bytes& Append(const std::vector<uint8_t>& v) {
    B.insert(B.end(), v.begin(), v.end());
    return *this;
  }
  size_t Size() const { return B.size(); }
};

/// A WMF record: size in 16-bit words, function, 16-bit parameters.
inline std::vector<uint8_t> WmfRec(uint16_t fn, std::vector<int> params) {
  Bytes b;
  b.U32(static_cast<uint32_t>(3 + params.size())).U16(fn);
  for (int p : params) b.I16(p);
  return b.B;
}
/// A record whose parameters are raw bytes (colours and the like).
inline std::vector<uint8_t> WmfRecRaw(uint16_t fn, const Bytes& params) {
  Bytes b;
  b.U32(static_cast<uint32_t>(3 + params.Size() / 2)).U16(fn).Append(params.B);
  return b.B;
}

/// A Windows metafile: optional placeable header (bounding box, units per inch),
/// the standard header, the records and the end record.
inline std::vector<uint8_t> MakeWmf(const std::vector<std::vector<uint8_t>>& records, bool placeable = true,
                                    int left = 0, int top = 0, int right = 100, int bottom = 100, int inch = 96,
                                    int objects = 4) {
  Bytes b;
  if (placeable) {
    b.U32(0x9AC6CDD7).U16(0).I16(left).I16(top).I16(right).I16(bottom).U16(static_cast<uint16_t>(inch)).U32(0).U16(0);
  }
  size_t words = 9 + 3;
  for (const auto& r : records) words += r.size() / 2;
  b.U16(1).U16(9).U16(0x0300).U32(static_cast<uint32_t>(words)).U16(static_cast<uint16_t>(objects)).U32(8).U16(0);
  for (const auto& r : records) b.Append(r);
  b.Append(WmfRec(0, {}));
  return b.B;
}

/// An EMF record: type, size, 32-bit parameters.
inline std::vector<uint8_t> EmfRec(uint32_t type, std::vector<int> params) {
  Bytes b;
  b.U32(type).U32(static_cast<uint32_t>(8 + 4 * params.size()));
  for (int p : params) b.I32(p);
  return b.B;
}

/// An enhanced metafile whose frame is frameW x frameH hundredths of a millimetre,
/// on a reference device of 96 pixels per inch.
inline std::vector<uint8_t> MakeEmf(const std::vector<std::vector<uint8_t>>& records, int frameW, int frameH,
                                    int handles = 4) {
  Bytes b;
  size_t total = 88 + 20;
  for (const auto& r : records) total += r.size();
  // Device 960 x 960 pixels over 254 x 254 mm: 96 pixels per inch.
  b.U32(1).U32(88).I32(0).I32(0).I32(0).I32(0).I32(0).I32(0).I32(frameW).I32(frameH);
  b.U32(0x464D4520).U32(0x10000).U32(static_cast<uint32_t>(total)).U32(static_cast<uint32_t>(records.size() + 2));
  b.U16(static_cast<uint16_t>(handles)).U16(0).U32(0).U32(0).U32(0).I32(960).I32(960).I32(254).I32(254);
  for (const auto& r : records) b.Append(r);
  b.Append(EmfRec(14, {0, 16, 20}));
  return b.B;
}

}  // namespace iotest
