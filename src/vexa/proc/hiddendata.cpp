#include "vexa/proc/hiddendata.h"

#include <algorithm>
#include <vector>

namespace vexa {

namespace {

// Walks the channel bytes that carry bits, in storage order.
class TBitCursor {
 public:
  explicit TBitCursor(const TBitmap& bmp) : FBmp(bmp), FPerRow(3 * bmp.Width() - 2) {}
  /// Next carrier byte; null when the image is used up.
  uint8_t* Next() {
    if (FPerRow <= 0) return nullptr;
    if (FCol == FPerRow) FCol = 0, ++FRow;
    if (FRow >= FBmp.Height()) return nullptr;
    return const_cast<uint8_t*>(FBmp.ScanLine(FRow)) + FCol++;
  }

 private:
  const TBitmap& FBmp;
  int FPerRow;
  int FRow = 0, FCol = 0;
};

constexpr int kHeader = 8;

int64_t CarrierBytes(const TBitmap& bmp) {
  if (bmp.PixelFormat() != pf24bit || bmp.Empty()) return 0;
  return static_cast<int64_t>(3 * bmp.Width() - 2) * bmp.Height() / 8;
}

}  // namespace

int _GetHiddenDataSpace(const TBitmap& bmp) {
  const int64_t space = CarrierBytes(bmp) - kHeader;
  return static_cast<int>(std::clamp<int64_t>(space, 0, INT32_MAX));
}

int _WriteHiddenData(TBitmap& bmp, const void* buffer, int length) {
  const int space = _GetHiddenDataSpace(bmp);
  if (space <= 0 || length <= 0 || !buffer) return 0;
  const int stored = std::min(length, space);
  std::vector<uint8_t> stream(kHeader + static_cast<size_t>(stored));
  for (int i = 0; i < 4; ++i) stream[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(stored) >> (8 * i));
  std::copy_n(static_cast<const uint8_t*>(buffer), stored, stream.begin() + kHeader);
  TBitCursor cursor(bmp);
  for (uint8_t byte : stream)
    for (int bit = 0; bit < 8; ++bit) {
      uint8_t* p = cursor.Next();
      const bool one = (byte >> bit) & 1;
      if (one && !(*p & 1))
        ++*p;
      else if (!one && (*p & 1))
        *p = *p == 255 ? 254 : *p + 1;
    }
  return stored;
}

int _ReadHiddenData(const TBitmap& bmp, void* buffer, int length) {
  const int space = _GetHiddenDataSpace(bmp);
  if (space <= 0) return 0;
  TBitCursor cursor(bmp);
  auto readByte = [&cursor] {
    uint8_t v = 0;
    for (int bit = 0; bit < 8; ++bit) v |= static_cast<uint8_t>((*cursor.Next() & 1) << bit);
    return v;
  };
  uint8_t header[kHeader];
  for (uint8_t& h : header) h = readByte();
  if (header[0] | header[1] | header[2] | header[3]) return 0;
  const uint32_t stored = header[4] | header[5] << 8 | header[6] << 16 | static_cast<uint32_t>(header[7]) << 24;
  if (stored > static_cast<uint32_t>(space)) return 0;
  const int n = buffer ? std::min(std::max(length, 0), static_cast<int>(stored)) : 0;
  auto* out = static_cast<uint8_t*>(buffer);
  for (int i = 0; i < n; ++i) out[i] = readByte();
  return static_cast<int>(stored);
}

}  // namespace vexa
