// Fixed-width fields of file formats: one place that turns bytes into numbers.
//
// TVXByteReader is the checked way in: every read names its offset (or advances a
// cursor), and a read that would pass the end answers 0 and puts the reader in the
// failed state, which stays until the reader is thrown away. Parse a whole header,
// then ask Ok() once:
//
//     TVXByteReader h(bytes, got);            // got = bytes actually read
//     uint16_t width = h.U16(12);             // little-endian unless told otherwise
//     if (!h.Ok()) return pr.Fail(fkTruncated, "header ends early");
//
// The VXLoad / VXStore functions below are for buffers whose size the caller has
// already checked (a directory entry inside a buffer of whole entries, a header
// being written); they do no bounds checks of their own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexa {

inline uint16_t VXLoadU16(const uint8_t* p, bool bigEndian = false) {
  return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
}
inline uint32_t VXLoadU32(const uint8_t* p, bool bigEndian = false) {
  return bigEndian ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                   : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
}
inline void VXStoreU16(uint8_t* p, uint32_t v, bool bigEndian = false) {
  p[bigEndian ? 0 : 1] = static_cast<uint8_t>(v >> 8);
  p[bigEndian ? 1 : 0] = static_cast<uint8_t>(v);
}
inline void VXStoreU32(uint8_t* p, uint32_t v, bool bigEndian = false) {
  for (int i = 0; i < 4; ++i) p[bigEndian ? 3 - i : i] = static_cast<uint8_t>(v >> (8 * i));
}

class TVXByteReader {
 public:
  /// Reads `size` bytes at `data` (not owned; must outlive the reader).
  TVXByteReader(const uint8_t* data, size_t size, bool bigEndian = false)
      : FData(data), FSize(data ? size : 0), FBigEndian(bigEndian) {}

  /// False once any read has reached past the end.
  bool Ok() const { return FOk; }
  size_t Size() const { return FSize; }
  bool BigEndian() const { return FBigEndian; }
  /// True when `count` bytes start at `offset` (never marks the reader failed).
  bool Has(size_t offset, size_t count) const { return offset <= FSize && count <= FSize - offset; }
  /// The bytes at `offset`, or null (and failed) when fewer than `count` are there.
  const uint8_t* Bytes(size_t offset, size_t count) {
    if (!Need(offset, count)) return nullptr;
    return FData + offset;
  }

  // Reads at an absolute offset; 0 and failed when out of range.
  uint8_t U8(size_t offset) { return Need(offset, 1) ? FData[offset] : 0; }
  uint16_t U16(size_t offset) { return Need(offset, 2) ? VXLoadU16(FData + offset, FBigEndian) : 0; }
  uint32_t U32(size_t offset) { return Need(offset, 4) ? VXLoadU32(FData + offset, FBigEndian) : 0; }
  int16_t I16(size_t offset) { return static_cast<int16_t>(U16(offset)); }
  int32_t I32(size_t offset) { return static_cast<int32_t>(U32(offset)); }

  // Reads at the cursor, which advances by the field's width even when the read fails.
  size_t Position() const { return FPos; }
  void Seek(size_t offset) { FPos = offset; }
  void Skip(size_t count) { FPos += count; }
  uint8_t ReadU8() { return U8(Advance(1)); }
  uint16_t ReadU16() { return U16(Advance(2)); }
  uint32_t ReadU32() { return U32(Advance(4)); }
  int32_t ReadI32() { return I32(Advance(4)); }

 private:
  bool Need(size_t offset, size_t count) {
    if (Has(offset, count)) return true;
    FOk = false;
    return false;
  }
  size_t Advance(size_t count) {
    size_t at = FPos;
    FPos += count;
    return at;
  }

  const uint8_t* FData;
  size_t FSize;
  bool FBigEndian;
  size_t FPos = 0;
  bool FOk = true;
};

}  // namespace vexa
