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

// ---- TIFF decoding ----

namespace {

// Room kept free past the write position: the longest string (the table's 4096
// entries less the 258 fixed codes, plus one) and the over-copy of 16-byte moves.
constexpr size_t kSlack = kTableSize + 32;
// The window's first bytes are 0..255, the strings of the single-byte codes.
constexpr size_t kRoots = 256;

inline uint64_t LoadBE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

inline uint64_t LoadLE64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

}  // namespace

TTiffLzwDecoder::TTiffLzwDecoder() : FAt(kTableSize), FLen(kTableSize) {
  for (int c = 0; c < 256; ++c) {
    FAt[c] = static_cast<uint32_t>(c);
    FLen[c] = 1;
  }
}

void TTiffLzwDecoder::Reset(const uint8_t* data, size_t size) {
  FData = data;
  FSize = size;
  FPos = 0;
  FBitBuf = 0;
  FBits = 0;
  FCodeSize = 9;
  FAvail = kTiffFirst;
  // A new-style strip starts with ClearCode's high bit; an old-style one with 0x00 then bit 0 set.
  FLsb = size >= 2 && data[0] == 0 && (data[1] & 1) != 0;
  FEnded = false;
  FHavePrev = false;
  FOut = FTaken = FHistory = FPrevAt = kRoots;
  FPrevLen = 0;
  if (FWindow.empty()) FWindow.resize(kRoots + kSlack);
  for (int c = 0; c < 256; ++c) FWindow[c] = static_cast<uint8_t>(c);
}

const uint8_t* TTiffLzwDecoder::Next(size_t n) {
  if (!Fill(n)) return nullptr;
  const uint8_t* p = FWindow.data() + FTaken;
  FTaken += n;
  return p;
}

// Decodes until n bytes past the ones taken are in the window.
bool TTiffLzwDecoder::Fill(size_t n) {
  while (FOut - FTaken < n) {
    if (FEnded) return false;
    if (FOut + kSlack > FWindow.size()) MakeRoom();
    if (FLsb)
      Run<true>(FTaken + n);
    else
      Run<false>(FTaken + n);
  }
  return true;
}

void TTiffLzwDecoder::MakeRoom() {
  // Drop what neither the table nor the caller needs any more.
  const size_t drop = std::min(FHistory, FTaken) - kRoots;
  if (drop > 0) {
    std::memmove(FWindow.data() + kRoots, FWindow.data() + kRoots + drop, FOut - kRoots - drop);
    FOut -= drop;
    FTaken -= drop;
    FHistory -= drop;
    FPrevAt -= drop;
    for (int c = kTiffFirst; c < FAvail; ++c) FAt[c] -= static_cast<uint32_t>(drop);
  }
  if ((FOut + kSlack) * 2 <= FWindow.size()) return;
  // Positions are 32-bit: only a strip that never clears its table for 2 GB of
  // output gets here, and it is read as far as that.
  const size_t grown = std::max<size_t>((FOut + kSlack) * 2, 1 << 16);
  if (grown > UINT32_MAX) {
    FEnded = true;
    return;
  }
  FWindow.resize(grown);
}

// Decodes codes until `target` bytes are in the window, the window needs room, or
// the data ends. The state lives in locals: stores through the window's bytes
// would otherwise force every member back to memory.
template <bool Lsb>
void TTiffLzwDecoder::Run(size_t target) {
  const uint8_t* const data = FData;
  const size_t size = FSize;
  size_t pos = FPos;
  uint64_t bitBuf = FBitBuf;
  int bits = FBits, codeSize = FCodeSize, avail = FAvail;
  // The entry count at which codes grow a bit wider.
  int widen = Lsb ? 1 << codeSize : (1 << codeSize) - 1;
  bool havePrev = FHavePrev;
  uint8_t* const win = FWindow.data();
  const size_t limit = FWindow.size() - kSlack;
  size_t out = FOut, prevAt = FPrevAt, prevLen = FPrevLen, history = FHistory;
  uint32_t* const at = FAt.data();
  uint16_t* const len = FLen.data();
  bool ended = false;
  while (out < target && out <= limit) {
    if (bits < codeSize) {
      if (pos + 8 <= size) {
        // Whole bytes up to 56 or more bits; the bits past them are the next data
        // and come in again unchanged with the next load.
        const int take = (63 - bits) >> 3;
        if (Lsb)
          bitBuf |= LoadLE64(data + pos) << bits;
        else
          bitBuf |= LoadBE64(data + pos) >> bits;
        pos += take;
        bits += take * 8;
      } else {
        while (bits <= 56 && pos < size) {
          if (Lsb)
            bitBuf |= uint64_t{data[pos++]} << bits;
          else
            bitBuf |= uint64_t{data[pos++]} << (56 - bits);
          bits += 8;
        }
        if (bits < codeSize) {
          ended = true;
          break;
        }
      }
    }
    unsigned code;
    if (Lsb) {
      code = static_cast<unsigned>(bitBuf & ((uint64_t{1} << codeSize) - 1));
      bitBuf >>= codeSize;
    } else {
      code = static_cast<unsigned>(bitBuf >> (64 - codeSize));
      bitBuf <<= codeSize;
    }
    bits -= codeSize;
    // Single bytes and strings go the same way (the window starts with the 256
    // single-byte strings), so noisy data, half of each, costs no mispredictions.
    const bool special = (code - kTiffClear <= 1u) | (code >= static_cast<unsigned>(avail)) | !havePrev;
    if (__builtin_expect(!special, 1)) {
      if (avail < kTableSize) {
        at[avail] = static_cast<uint32_t>(prevAt);
        len[avail] = static_cast<uint16_t>(prevLen + 1);
        if (++avail >= widen && codeSize < kMaxBits) {
          ++codeSize;
          widen = Lsb ? 1 << codeSize : (1 << codeSize) - 1;
        }
      }
      // The source ends before `out`, at least n bytes back, so 16-byte moves only
      // ever read bytes already final for the part of the string that counts.
      const uint8_t* src = win + at[code];
      uint8_t* dst = win + out;
      const size_t n = len[code];
      uint8_t chunk[16];
      std::memcpy(chunk, src, 16);
      std::memcpy(dst, chunk, 16);
      for (size_t i = 16; i < n; i += 16) {
        std::memcpy(chunk, src + i, 16);
        std::memcpy(dst + i, chunk, 16);
      }
      prevAt = out;
      prevLen = n;
      out += n;
      continue;
    }
    if (code == kTiffClear) {
      avail = kTiffFirst;
      codeSize = 9;
      widen = Lsb ? 1 << codeSize : (1 << codeSize) - 1;
      havePrev = false;
      history = out;
      continue;
    }
    if (code == kTiffEoi) {
      ended = true;
      break;
    }
    if (!havePrev) {
      if (code > 255) {
        ended = true;
        break;
      }
      win[out] = static_cast<uint8_t>(code);
      prevAt = out++;
      prevLen = 1;
      havePrev = true;
      continue;
    }
    // code >= avail: only the string being defined is allowed, the previous one
    // plus its own first byte, which overlaps its own output one string behind.
    if (code > static_cast<unsigned>(avail) || avail >= kTableSize) {
      ended = true;
      break;
    }
    at[avail] = static_cast<uint32_t>(prevAt);
    len[avail] = static_cast<uint16_t>(prevLen + 1);
    if (++avail >= widen && codeSize < kMaxBits) {
      ++codeSize;
      widen = Lsb ? 1 << codeSize : (1 << codeSize) - 1;
    }
    const uint8_t* src = win + prevAt;
    uint8_t* dst = win + out;
    for (size_t i = 0; i <= prevLen; ++i) dst[i] = src[i];
    prevAt = out;
    out += ++prevLen;
  }
  FPos = pos;
  FBitBuf = bitBuf;
  FBits = bits;
  FCodeSize = codeSize;
  FAvail = avail;
  FHavePrev = havePrev;
  FOut = out;
  FPrevAt = prevAt;
  FPrevLen = prevLen;
  FHistory = history;
  if (ended) FEnded = true;
}

namespace {

// The hook's state: the decoder and the row it hands out (a copy, which the caller may change).
struct TTiffDecodeState {
  TTiffLzwDecoder decoder;
  std::vector<uint8_t> row;
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
    s->decoder.Reset(data, static_cast<size_t>(std::max(dataLen, 0)));
    state = s;
  }
  const uint8_t* row = s->decoder.Next(static_cast<size_t>(rowLen));
  if (!row) return nullptr;
  s->row.assign(row, row + rowLen);
  return s->row.data();
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
