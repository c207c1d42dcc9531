#include "vexa/codecs/lzw.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "vexa/io/ioparams.h"

namespace vexa {

namespace {

constexpr int kMaxBits = 12;
constexpr int kTableSize = 1 << kMaxBits;

// String table shared by both decoders. Each entry is its prefix entry plus one
// byte; `first` and `length` let a string be written back to front in one pass.
struct TLzwTable {
  uint16_t prefix[kTableSize];
  uint8_t suffix[kTableSize];
  uint8_t first[kTableSize];
  uint16_t length[kTableSize];

  void InitRoots(int count) {
    for (int i = 0; i < count; ++i) {
      prefix[i] = 0;
      suffix[i] = static_cast<uint8_t>(i);
      first[i] = static_cast<uint8_t>(i);
      length[i] = 1;
    }
  }
  void Add(int at, int prev, uint8_t c) {
    prefix[at] = static_cast<uint16_t>(prev);
    suffix[at] = c;
    first[at] = first[prev];
    length[at] = static_cast<uint16_t>(length[prev] + 1);
  }
  /// Writes the first `count` bytes of the string of `code` (walks past the tail first).
  void WriteHead(int code, int count, uint8_t* out) const {
    for (int skip = length[code] - count; skip > 0; --skip) code = prefix[code];
    for (int k = count; k > 0;) {
      out[--k] = suffix[code];
      code = prefix[code];
    }
  }
  void WriteAll(int code, uint8_t* out) const { WriteHead(code, length[code], out); }
};

// Dictionary of the encoders: open addressing on (prefix << 8 | byte).
class TLzwHash {
 public:
  TLzwHash() { Clear(); }
  void Clear() { std::fill(std::begin(FKeys), std::end(FKeys), -1); }
  int Find(int32_t key) const {
    for (uint32_t h = Hash(key);; h = (h + 1) & kMask) {
      if (FKeys[h] == key) return FValues[h];
      if (FKeys[h] < 0) return -1;
    }
  }
  void Insert(int32_t key, int value) {
    uint32_t h = Hash(key);
    while (FKeys[h] >= 0) h = (h + 1) & kMask;
    FKeys[h] = key;
    FValues[h] = static_cast<uint16_t>(value);
  }

 private:
  // Twice the table size keeps probe chains short; the table never holds more than 4096 keys.
  static constexpr int kBits = 13;
  static constexpr uint32_t kMask = (1u << kBits) - 1;
  static uint32_t Hash(int32_t key) { return (static_cast<uint32_t>(key) * 2654435761u) >> (32 - kBits); }
  int32_t FKeys[1 << kBits];
  uint16_t FValues[1 << kBits];
};

// ---- GIF ----

// Returns the number of bytes produced.
size_t GifDecodeCodes(const uint8_t* in, size_t inLen, int minSize, uint8_t* out, size_t outLen) {
  auto table = std::make_unique<TLzwTable>();
  const int clear = 1 << minSize, eoi = clear + 1;
  table->InitRoots(clear);
  int avail = clear + 2, codeSize = minSize + 1, prev = -1;
  uint32_t bitBuf = 0;
  int bits = 0;
  size_t pos = 0, op = 0;
  while (op < outLen) {
    while (bits < codeSize) {
      if (pos >= inLen) return op;
      bitBuf |= static_cast<uint32_t>(in[pos++]) << bits;
      bits += 8;
    }
    const int code = static_cast<int>(bitBuf & ((1u << codeSize) - 1));
    bitBuf >>= codeSize;
    bits -= codeSize;
    if (code == clear) {
      avail = clear + 2;
      codeSize = minSize + 1;
      prev = -1;
      continue;
    }
    if (code == eoi) break;
    if (prev < 0) {
      if (code >= clear) break;
      out[op++] = static_cast<uint8_t>(code);
      prev = code;
      continue;
    }
    if (code > avail || (code == avail && avail >= kTableSize)) break;
    if (avail < kTableSize) {
      // code == avail is the string just being defined: prev plus its own first byte.
      table->Add(avail, prev, code < avail ? table->first[code] : table->first[prev]);
      ++avail;
      if (avail == (1 << codeSize) && codeSize < kMaxBits) ++codeSize;
    }
    const int len = table->length[code];
    const size_t room = outLen - op;
    if (static_cast<size_t>(len) <= room) {
      table->WriteAll(code, out + op);
      op += len;
    } else {
      table->WriteHead(code, static_cast<int>(room), out + op);
      op = outLen;
    }
    prev = code;
  }
  return op;
}

// The display-order row of each stored row of an interlaced image.
std::vector<int32_t> InterlacedRowOrder(int32_t height) {
  std::vector<int32_t> order;
  order.reserve(height);
  static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int32_t y = kStart[pass]; y < height; y += kStep[pass]) order.push_back(y);
  return order;
}

}  // namespace

int64_t GifLzwDecodeCounted(TStream& stream, int32_t height, int32_t width, bool interlaced, uint8_t* dest) {
  const int64_t start = stream.Position();
  uint8_t minSize = 0;
  if (stream.Read(&minSize, 1) != 1) return 0;
  if (minSize < 1 || minSize > kMaxBits - 1) {
    stream.SetPosition(start);
    return 0;
  }
  std::vector<uint8_t> data;
  for (;;) {
    uint8_t len = 0;
    if (stream.Read(&len, 1) != 1 || len == 0) break;
    const size_t old = data.size();
    data.resize(old + len);
    const int64_t got = stream.Read(data.data() + old, len);
    if (got < len) {
      data.resize(old + static_cast<size_t>(got < 0 ? 0 : got));
      break;
    }
  }
  if (width <= 0 || height <= 0 || !dest) return 0;
  const size_t total = static_cast<size_t>(width) * static_cast<size_t>(height);
  // Data that yields not a single pixel is no image: report it as unreadable.
  if (!interlaced || height == 1) {
    const size_t n = GifDecodeCodes(data.data(), data.size(), minSize, dest, total);
    std::memset(dest + n, 0, total - n);
    if (n == 0) stream.SetPosition(start);
    return static_cast<int64_t>(n);
  }
  std::vector<uint8_t> stored(total, 0);
  const size_t n = GifDecodeCodes(data.data(), data.size(), minSize, stored.data(), total);
  if (n == 0) {
    std::memset(dest, 0, total);
    stream.SetPosition(start);
    return 0;
  }
  const std::vector<int32_t> order = InterlacedRowOrder(height);
  for (int32_t i = 0; i < height; ++i)
    std::memcpy(dest + static_cast<size_t>(order[i]) * width, stored.data() + static_cast<size_t>(i) * width, width);
  return static_cast<int64_t>(n);
}

void GifLzwDecode(TStream& stream, int32_t height, int32_t width, bool interlaced, uint8_t* dest) {
  GifLzwDecodeCounted(stream, height, width, interlaced, dest);
}

void GifLzwEncode(TStream& stream, int32_t height, int32_t width, bool interlaced, const uint8_t* source,
                  int32_t bitsPerPixel) {
  const int minSize = std::clamp(bitsPerPixel, 2, 8);
  const int clear = 1 << minSize, eoi = clear + 1;
  const uint8_t mask = static_cast<uint8_t>(clear - 1);
  std::vector<uint8_t> bytes;
  uint32_t bitBuf = 0;
  int bits = 0;
  int codeSize = minSize + 1, next = clear + 2;
  auto emit = [&](int code) {
    bitBuf |= static_cast<uint32_t>(code) << bits;
    bits += codeSize;
    while (bits >= 8) {
      bytes.push_back(static_cast<uint8_t>(bitBuf));
      bitBuf >>= 8;
      bits -= 8;
    }
  };
  // The decoder learns one entry per code it reads, so the width follows the entry
  // count after each emitted code.
  auto grow = [&]() {
    ++next;
    if (next - 1 == (1 << codeSize) && codeSize < kMaxBits) ++codeSize;
  };
  auto hash = std::make_unique<TLzwHash>();
  emit(clear);
  int prefix = -1;
  if (width > 0 && height > 0 && source) {
    const std::vector<int32_t> order = interlaced ? InterlacedRowOrder(height) : std::vector<int32_t>();
    for (int32_t i = 0; i < height; ++i) {
      const uint8_t* row = source + static_cast<size_t>(interlaced ? order[i] : i) * width;
      for (int32_t x = 0; x < width; ++x) {
        const int c = row[x] & mask;
        if (prefix < 0) {
          prefix = c;
          continue;
        }
        const int32_t key = (prefix << 8) | c;
        const int found = hash->Find(key);
        if (found >= 0) {
          prefix = found;
          continue;
        }
        emit(prefix);
        hash->Insert(key, next);
        grow();
        if (next == kTableSize) {
          emit(clear);
          hash->Clear();
          next = clear + 2;
          codeSize = minSize + 1;
        }
        prefix = c;
      }
    }
  }
  if (prefix >= 0) {
    emit(prefix);
    grow();
  }
  emit(eoi);
  if (bits > 0) bytes.push_back(static_cast<uint8_t>(bitBuf));

  std::vector<uint8_t> out;
  out.reserve(bytes.size() + bytes.size() / 255 + 3);
  out.push_back(static_cast<uint8_t>(minSize));
  for (size_t p = 0; p < bytes.size(); p += 255) {
    const size_t n = std::min<size_t>(255, bytes.size() - p);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), bytes.begin() + p, bytes.begin() + p + n);
  }
  out.push_back(0);
  stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

// ---- TIFF ----

namespace {

constexpr int kTiffClear = 256, kTiffEoi = 257, kTiffFirst = 258;

struct TTiffDecodeState {
  TLzwTable table;
  int avail = kTiffFirst, codeSize = 9, prev = -1;
  uint32_t bitBuf = 0;
  int bits = 0;
  int32_t pos = 0;
  bool ended = false;
  // Old-style strips (written before TIFF 6.0): codes least significant bit first,
  // no early change.
  bool compat = false;
  // Bytes of a string that ran past the end of the previous row.
  std::vector<uint8_t> pending;
  size_t pendingAt = 0;
  std::vector<uint8_t> row;
};

struct TTiffEncodeState {
  TLzwHash hash;
  int prefix = -1, next = kTiffFirst, codeSize = 9;
  uint32_t bitBuf = 0;
  int bits = 0;
  std::vector<uint8_t> out;

  void Emit(int code) {
    bitBuf = (bitBuf << codeSize) | static_cast<uint32_t>(code);
    bits += codeSize;
    while (bits >= 8) {
      out.push_back(static_cast<uint8_t>(bitBuf >> (bits - 8)));
      bits -= 8;
    }
  }
  // Early change: the width grows as soon as the next code would need it.
  void Grow() {
    ++next;
    if (next == (1 << codeSize) && codeSize < kMaxBits) ++codeSize;
  }
  void Reset() {
    hash.Clear();
    next = kTiffFirst;
    codeSize = 9;
  }
};

}  // namespace

uint8_t* TiffLzwDecode(const uint8_t* data, int32_t rowLen, void*& state, int32_t dataLen) {
  auto* s = static_cast<TTiffDecodeState*>(state);
  if (!data || rowLen <= 0) {
    delete s;
    state = nullptr;
    return nullptr;
  }
  if (!s) {
    s = new TTiffDecodeState;
    s->table.InitRoots(256);
    // A new-style strip starts with ClearCode's high bit; an old-style one with 0x00 then bit 0 set.
    s->compat = dataLen >= 2 && data[0] == 0 && (data[1] & 1) != 0;
    state = s;
  }
  if (s->row.size() < static_cast<size_t>(rowLen)) s->row.resize(rowLen);
  uint8_t* out = s->row.data();
  const size_t outLen = static_cast<size_t>(rowLen);
  size_t op = 0;
  if (s->pendingAt < s->pending.size()) {
    const size_t n = std::min(outLen, s->pending.size() - s->pendingAt);
    std::memcpy(out, s->pending.data() + s->pendingAt, n);
    s->pendingAt += n;
    op = n;
  }
  TLzwTable& t = s->table;
  while (op < outLen) {
    if (s->ended) return nullptr;
    while (s->bits < s->codeSize) {
      if (s->pos >= dataLen) {
        s->ended = true;
        return nullptr;
      }
      if (s->compat)
        s->bitBuf |= static_cast<uint32_t>(data[s->pos++]) << s->bits;
      else
        s->bitBuf = (s->bitBuf << 8) | data[s->pos++];
      s->bits += 8;
    }
    const uint32_t codeMask = (1u << s->codeSize) - 1;
    int code;
    if (s->compat) {
      code = static_cast<int>(s->bitBuf & codeMask);
      s->bitBuf >>= s->codeSize;
    } else {
      code = static_cast<int>((s->bitBuf >> (s->bits - s->codeSize)) & codeMask);
    }
    s->bits -= s->codeSize;
    if (code == kTiffClear) {
      s->avail = kTiffFirst;
      s->codeSize = 9;
      s->prev = -1;
      continue;
    }
    if (code == kTiffEoi) {
      s->ended = true;
      return nullptr;
    }
    if (s->prev < 0) {
      if (code > 255) {
        s->ended = true;
        return nullptr;
      }
      out[op++] = static_cast<uint8_t>(code);
      s->prev = code;
      continue;
    }
    if (code > s->avail || (code == s->avail && s->avail >= kTableSize)) {
      s->ended = true;
      return nullptr;
    }
    if (s->avail < kTableSize) {
      t.Add(s->avail, s->prev, code < s->avail ? t.first[code] : t.first[s->prev]);
      ++s->avail;
      const int widen = s->compat ? (1 << s->codeSize) : (1 << s->codeSize) - 1;
      if (s->avail >= widen && s->codeSize < kMaxBits) ++s->codeSize;
    }
    const size_t len = t.length[code];
    if (len <= outLen - op) {
      t.WriteAll(code, out + op);
      op += len;
    } else {
      s->pending.resize(len);
      t.WriteAll(code, s->pending.data());
      const size_t n = outLen - op;
      std::memcpy(out + op, s->pending.data(), n);
      s->pendingAt = n;
      op = outLen;
    }
    s->prev = code;
  }
  return out;
}

void TiffLzwEncode(const uint8_t* row, int32_t rowLen, TStream& stream, void*& state) {
  auto* s = static_cast<TTiffEncodeState*>(state);
  if (!s) {
    s = new TTiffEncodeState;
    state = s;
    s->Emit(kTiffClear);
  }
  if (!row || rowLen <= 0) {
    std::unique_ptr<TTiffEncodeState> owned(s);
    state = nullptr;
    if (s->prefix >= 0) {
      s->Emit(s->prefix);
      s->Grow();
    }
    s->Emit(kTiffEoi);
    if (s->bits > 0) s->out.push_back(static_cast<uint8_t>(s->bitBuf << (8 - s->bits)));
    stream.WriteBuffer(s->out.data(), static_cast<int64_t>(s->out.size()));
    return;
  }
  int prefix = s->prefix;
  for (int32_t x = 0; x < rowLen; ++x) {
    const int c = row[x];
    if (prefix < 0) {
      prefix = c;
      continue;
    }
    const int32_t key = (prefix << 8) | c;
    const int found = s->hash.Find(key);
    if (found >= 0) {
      prefix = found;
      continue;
    }
    s->Emit(prefix);
    s->hash.Insert(key, s->next);
    s->Grow();
    // Readers switch to 13 bits at 4095, so the table is restarted one entry early.
    if (s->next == kTableSize - 2) {
      s->Emit(kTiffClear);
      s->Reset();
    }
    prefix = c;
  }
  s->prefix = prefix;
  if (!s->out.empty()) {
    stream.WriteBuffer(s->out.data(), static_cast<int64_t>(s->out.size()));
    s->out.clear();
  }
}

void VXInstallLZWCoders() {
  DefGIF_LZWDECOMPFUNC = GifLzwDecode;
  DefGIF_LZWCOMPFUNC = GifLzwEncode;
  DefTIFF_LZWDECOMPFUNC = TiffLzwDecode;
  DefTIFF_LZWCOMPFUNC = TiffLzwEncode;
}

}  // namespace vexa
