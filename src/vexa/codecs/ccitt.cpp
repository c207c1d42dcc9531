#include "vexa/codecs/ccitt.h"

#include <algorithm>
#include <cstring>

#include "vexa/core/bitmap.h"

namespace vexa {
namespace {

struct TCodeText {
  int Run;
  const char* Bits;
};

// ITU-T T.4, tables 2 and 3: terminating codes (runs 0-63) and make-up codes.
const TCodeText kWhiteCodes[] = {
    {0, "00110101"},    {1, "000111"},      {2, "0111"},        {3, "1000"},        {4, "1011"},
    {5, "1100"},        {6, "1110"},        {7, "1111"},        {8, "10011"},       {9, "10100"},
    {10, "00111"},      {11, "01000"},      {12, "001000"},     {13, "000011"},     {14, "110100"},
    {15, "110101"},     {16, "101010"},     {17, "101011"},     {18, "0100111"},    {19, "0001100"},
    {20, "0001000"},    {21, "0010111"},    {22, "0000011"},    {23, "0000100"},    {24, "0101000"},
    {25, "0101011"},    {26, "0010011"},    {27, "0100100"},    {28, "0011000"},    {29, "00000010"},
    {30, "00000011"},   {31, "00011010"},   {32, "00011011"},   {33, "00010010"},   {34, "00010011"},
    {35, "00010100"},   {36, "00010101"},   {37, "00010110"},   {38, "00010111"},   {39, "00101000"},
    {40, "00101001"},   {41, "00101010"},   {42, "00101011"},   {43, "00101100"},   {44, "00101101"},
    {45, "00000100"},   {46, "00000101"},   {47, "00001010"},   {48, "00001011"},   {49, "01010010"},
    {50, "01010011"},   {51, "01010100"},   {52, "01010101"},   {53, "00100100"},   {54, "00100101"},
    {55, "01011000"},   {56, "01011001"},   {57, "01011010"},   {58, "01011011"},   {59, "01001010"},
    {60, "01001011"},   {61, "00110010"},   {62, "00110011"},   {63, "00110100"},   {64, "11011"},
    {128, "10010"},     {192, "010111"},    {256, "0110111"},   {320, "00110110"},  {384, "00110111"},
    {448, "01100100"},  {512, "01100101"},  {576, "01101000"},  {640, "01100111"},  {704, "011001100"},
    {768, "011001101"}, {832, "011010010"}, {896, "011010011"}, {960, "011010100"}, {1024, "011010101"},
    {1088, "011010110"}, {1152, "011010111"}, {1216, "011011000"}, {1280, "011011001"}, {1344, "011011010"},
    {1408, "011011011"}, {1472, "010011000"}, {1536, "010011001"}, {1600, "010011010"}, {1664, "011000"},
    {1728, "010011011"},
};

const TCodeText kBlackCodes[] = {
    {0, "0000110111"},    {1, "010"},           {2, "11"},            {3, "10"},            {4, "011"},
    {5, "0011"},          {6, "0010"},          {7, "00011"},         {8, "000101"},        {9, "000100"},
    {10, "0000100"},      {11, "0000101"},      {12, "0000111"},      {13, "00000100"},     {14, "00000111"},
    {15, "000011000"},    {16, "0000010111"},   {17, "0000011000"},   {18, "0000001000"},   {19, "00001100111"},
    {20, "00001101000"},  {21, "00001101100"},  {22, "00000110111"},  {23, "00000101000"},  {24, "00000010111"},
    {25, "00000011000"},  {26, "000011001010"}, {27, "000011001011"}, {28, "000011001100"}, {29, "000011001101"},
    {30, "000001101000"}, {31, "000001101001"}, {32, "000001101010"}, {33, "000001101011"}, {34, "000011010010"},
    {35, "000011010011"}, {36, "000011010100"}, {37, "000011010101"}, {38, "000011010110"}, {39, "000011010111"},
    {40, "000001101100"}, {41, "000001101101"}, {42, "000011011010"}, {43, "000011011011"}, {44, "000001010100"},
    {45, "000001010101"}, {46, "000001010110"}, {47, "000001010111"}, {48, "000001100100"}, {49, "000001100101"},
    {50, "000001010010"}, {51, "000001010011"}, {52, "000000100100"}, {53, "000000110111"}, {54, "000000111000"},
    {55, "000000100111"}, {56, "000000101000"}, {57, "000001011000"}, {58, "000001011001"}, {59, "000000101011"},
    {60, "000000101100"}, {61, "000001011010"}, {62, "000001100110"}, {63, "000001100111"}, {64, "0000001111"},
    {128, "000011001000"}, {192, "000011001001"}, {256, "000001011011"}, {320, "000000110011"},
    {384, "000000110100"}, {448, "000000110101"}, {512, "0000001101100"}, {576, "0000001101101"},
    {640, "0000001001010"}, {704, "0000001001011"}, {768, "0000001001100"}, {832, "0000001001101"},
    {896, "0000001110010"}, {960, "0000001110011"}, {1024, "0000001110100"}, {1088, "0000001110101"},
    {1152, "0000001110110"}, {1216, "0000001110111"}, {1280, "0000001010010"}, {1344, "0000001010011"},
    {1408, "0000001010100"}, {1472, "0000001010101"}, {1536, "0000001011010"}, {1600, "0000001011011"},
    {1664, "0000001100100"}, {1728, "0000001100101"},
};

// Extended make-up codes shared by both colours.
const TCodeText kCommonCodes[] = {
    {1792, "00000001000"},  {1856, "00000001100"},  {1920, "00000001101"},  {1984, "000000010010"},
    {2048, "000000010011"}, {2112, "000000010100"}, {2176, "000000010101"}, {2240, "000000010110"},
    {2304, "000000010111"}, {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"},
};

constexpr int kLookupBits = 13;  // the longest run code

enum : uint8_t { kInvalid, kTerminating, kMakeUp };

struct TDecodeEntry {
  uint16_t Run = 0;
  uint8_t Len = 0;
  uint8_t Kind = kInvalid;
};

struct TEncodeEntry {
  uint16_t Code = 0;
  uint8_t Len = 0;
};

struct TTables {
  // [colour][...]; colour 0 = white, 1 = black.
  TDecodeEntry Decode[2][1 << kLookupBits];
  TEncodeEntry Terminating[2][64];
  TEncodeEntry MakeUp[2][41];  // index run / 64, 1..40

  TTables() {
    for (int c = 0; c < 2; ++c) {
      auto add = [&](const TCodeText& t) {
        const int len = static_cast<int>(std::strlen(t.Bits));
        uint32_t code = 0;
        for (int i = 0; i < len; ++i) code = (code << 1) | static_cast<uint32_t>(t.Bits[i] == '1');
        TEncodeEntry& e = t.Run < 64 ? Terminating[c][t.Run] : MakeUp[c][t.Run / 64];
        e.Code = static_cast<uint16_t>(code);
        e.Len = static_cast<uint8_t>(len);
        const uint32_t first = code << (kLookupBits - len), count = 1u << (kLookupBits - len);
        for (uint32_t i = 0; i < count; ++i) {
          TDecodeEntry& d = Decode[c][first + i];
          d.Run = static_cast<uint16_t>(t.Run);
          d.Len = static_cast<uint8_t>(len);
          d.Kind = t.Run < 64 ? kTerminating : kMakeUp;
        }
      };
      if (c == 0)
        for (const TCodeText& t : kWhiteCodes) add(t);
      else
        for (const TCodeText& t : kBlackCodes) add(t);
      for (const TCodeText& t : kCommonCodes) add(t);
    }
  }
};

const TTables& Tables() {
  static const TTables tables;
  return tables;
}

// ---------------------------------------------------------------- bit rows

inline int Clz32(uint32_t v) { return v ? __builtin_clz(v) : 32; }

/// First pixel >= from whose bit equals `bit`, or width.
int FindBit(const uint8_t* row, int width, int from, int bit) {
  if (from >= width) return width;
  if (from < 0) from = 0;
  const uint8_t flip = bit ? 0x00 : 0xFF;
  const int nbytes = (width + 7) >> 3;
  int i = from >> 3;
  uint32_t b = static_cast<uint8_t>(row[i] ^ flip) & (0xFFu >> (from & 7));
  if (!b) {
    const uint64_t skip = bit ? 0 : ~uint64_t{0};
    for (++i; i + 8 <= nbytes; i += 8) {
      uint64_t w;
      std::memcpy(&w, row + i, 8);
      if (w != skip) break;
    }
    for (; i < nbytes; ++i) {
      b = static_cast<uint8_t>(row[i] ^ flip);
      if (b) break;
    }
    if (i >= nbytes) return width;
  }
  return std::min((i << 3) + Clz32(b) - 24, width);
}

/// Clears bits [a, b) (paints black in a 1 = white row).
void ClearBits(uint8_t* row, int a, int b) {
  if (a >= b) return;
  int ia = a >> 3, ib = (b - 1) >> 3;
  const uint8_t ma = static_cast<uint8_t>(0xFFu >> (a & 7));
  const uint8_t mb = static_cast<uint8_t>(0xFFu << (7 - ((b - 1) & 7)));
  if (ia == ib) {
    row[ia] &= static_cast<uint8_t>(~(ma & mb));
    return;
  }
  row[ia] &= static_cast<uint8_t>(~ma);
  if (ib > ia + 1) std::memset(row + ia + 1, 0, static_cast<size_t>(ib - ia - 1));
  row[ib] &= static_cast<uint8_t>(~mb);
}

// ---------------------------------------------------------------- decoding

struct TBitSource {
  const uint8_t* Data;
  int64_t Len;
  int64_t EndBits;
  bool Lsb;

  /// 32 bits from bit `pos`; bytes past the end read as 0.
  uint32_t Peek(int64_t pos) const {
    const int64_t byte = pos >> 3;
    uint64_t v = 0;
    if (!Lsb && byte + 8 <= Len) {
      std::memcpy(&v, Data + byte, 8);
      v = __builtin_bswap64(v);
    } else {
      for (int i = 0; i < 5; ++i) {
        const int64_t k = byte + i;
        if (k >= Len) break;
        const uint8_t x = Lsb ? kReverseByte[Data[k]] : Data[k];
        v |= static_cast<uint64_t>(x) << (56 - 8 * i);
      }
    }
    return static_cast<uint32_t>((v << (pos & 7)) >> 32);
  }
};

enum TRunResult { rrRun, rrEol, rrEnd };

/// One run (make-up codes and a terminating code) for horizontal mode.
TRunResult ReadRun(const TBitSource& src, int64_t& pos, int colour, int64_t& run) {
  const TTables& t = Tables();
  run = 0;
  for (;;) {
    if (pos >= src.EndBits) return rrEnd;
    const uint32_t v = src.Peek(pos);
    if (v >> 24) {
      const TDecodeEntry& e = t.Decode[colour][v >> (32 - kLookupBits)];
      if (e.Kind == kInvalid) {
        ++pos;
        continue;
      }
      pos += e.Len;
      run += e.Run;
      if (e.Kind == kTerminating) return rrRun;
      continue;
    }
    const int z = Clz32(v);
    if (z <= 10)
      pos += z + 1;
    else if (z <= 31)
      return rrEol;
    else
      pos += 21;  // keeps any EOL that follows recognisable
  }
}

int64_t Decode1D(uint8_t* dest, const TBitSource& src, int width, int64_t pos) {
  const TTables& t = Tables();
  std::memset(dest, 0xFF, static_cast<size_t>((width + 7) >> 3));
  int colour = 0;  // 0 white, 1 black
  int x = 0;
  bool makeUp = false, atStart = true;
  while (x < width || makeUp) {
    if (pos >= src.EndBits) {
      if (colour) ClearBits(dest, x, width);
      break;
    }
    const uint32_t v = src.Peek(pos);
    if (v >> 24) {
      const TDecodeEntry& e = t.Decode[colour][v >> (32 - kLookupBits)];
      if (e.Kind == kInvalid) {
        ++pos;
        continue;
      }
      pos += e.Len;
      atStart = false;
      const int end = static_cast<int>(std::min<int64_t>(int64_t{x} + e.Run, width));
      if (colour) ClearBits(dest, x, end);
      x = end;
      makeUp = e.Kind == kMakeUp;
      if (!makeUp) colour ^= 1;
      continue;
    }
    const int z = Clz32(v);
    if (z <= 10) {
      pos += z + 1;
    } else if (z <= 31) {
      pos += z + 1;
      if (!atStart) {
        if (colour) ClearBits(dest, x, width);
        break;
      }
    } else {
      pos += 21;
    }
  }
  return pos;
}

/// Changing elements of a 1 = white row: even entries turn black, odd ones white;
/// three `width` sentinels follow.
void RowChanges(const uint8_t* row, int width, std::vector<int>& changes) {
  changes.clear();
  int x = 0, bit = 0;
  while ((x = FindBit(row, width, x, bit)) < width) {
    changes.push_back(x);
    bit ^= 1;
  }
  changes.insert(changes.end(), 3, width);
}

int64_t Decode2D(uint8_t* dest, const TBitSource& src, int width, int64_t pos, uint8_t* ref) {
  const size_t rowBytes = static_cast<size_t>((width + 7) >> 3);
  std::memset(dest, 0xFF, rowBytes);
  // The reference row's changes, looked up with a cursor that follows a0.
  thread_local std::vector<int> changes;
  RowChanges(ref, width, changes);
  size_t cursor = 0;
  const int* ch = changes.data();
  const size_t lastReal = changes.size() - 3;
  int a0 = -1;
  int colour = 1;  // bit value of a0's colour: 1 white, 0 black
  bool atStart = true;
  auto paint = [&](int from, int to) {
    if (!colour) ClearBits(dest, std::max(from, 0), std::min(to, width));
  };
  while (a0 < width) {
    if (pos >= src.EndBits) {
      paint(a0, width);
      break;
    }
    const uint32_t v = src.Peek(pos);
    const int z = Clz32(v);
    int vertical = 99;
    switch (z) {
      case 0:
        vertical = 0;
        pos += 1;
        break;
      case 1:
        vertical = (v >> 29) & 1 ? 1 : -1;
        pos += 3;
        break;
      case 4:
        vertical = (v >> 26) & 1 ? 2 : -2;
        pos += 6;
        break;
      case 5:
        vertical = (v >> 25) & 1 ? 3 : -3;
        pos += 7;
        break;
      default:
        break;
    }
    if (vertical != 99 || z == 3) {
      // b1: the first change after a0 to the colour opposite a0's; b2 the next one.
      while (cursor > 0 && ch[cursor - 1] > a0) --cursor;
      while (cursor < lastReal && ch[cursor] <= a0) ++cursor;
      if (static_cast<int>(cursor & 1) == colour) ++cursor;
      const int b1 = ch[cursor];
      atStart = false;
      if (z == 3) {  // pass
        pos += 4;
        const int b2 = ch[cursor + 1];
        paint(a0, b2);
        a0 = b2;
      } else {
        const int a1 = std::clamp(b1 + vertical, std::max(a0, 0), width);
        paint(a0, a1);
        a0 = a1;
        colour ^= 1;
      }
      continue;
    }
    if (z == 2) {  // horizontal
      pos += 3;
      atStart = false;
      int64_t run1 = 0, run2 = 0;
      const int c1 = colour ? 0 : 1;  // table index of a0's colour
      TRunResult r = ReadRun(src, pos, c1, run1);
      if (r == rrRun) r = ReadRun(src, pos, c1 ^ 1, run2);
      if (r != rrRun) continue;  // an EOL or the end of the data ends the row on the next pass
      const int start = std::max(a0, 0);
      const int mid = static_cast<int>(std::min<int64_t>(start + run1, width));
      const int end = static_cast<int>(std::min<int64_t>(mid + run2, width));
      paint(start, mid);
      if (colour) ClearBits(dest, mid, end);
      a0 = end;
      continue;
    }
    if ((z == 6 && ((v >> 22) & 7) == 7) || (z == 8 && ((v >> 20) & 7) == 7)) {
      // Uncompressed mode until its exit code.
      pos += z == 6 ? 10 : 12;
      atStart = false;
      int x = std::max(a0, 0);
      for (;;) {
        if (pos >= src.EndBits) break;
        const int k = Clz32(src.Peek(pos));
        if (k <= 4) {
          pos += k + 1;
          x = std::min(x + k, width);
          if (x < width) ClearBits(dest, x, x + 1);
          x = std::min(x + 1, width);
        } else if (k == 5) {
          pos += 6;
          x = std::min(x + 5, width);
        } else if (k <= 10) {
          pos += k + 1;
          x = std::min(x + k - 6, width);
          colour = (src.Peek(pos) >> 31) ? 0 : 1;
          ++pos;
          break;
        } else {
          break;
        }
      }
      a0 = x;
      continue;
    }
    if (z >= 11 && z <= 31) {  // EOL
      if (atStart) {
        pos += z + 1;
        const bool oneD = src.Peek(pos) >> 31;
        ++pos;
        if (oneD) {
          pos = Decode1D(dest, src, width, pos);
          std::memcpy(ref, dest, rowBytes);
          return pos;
        }
        continue;
      }
      paint(a0, width);
      break;
    }
    pos += z == 32 ? 12 : 1;  // no code here: skip and resynchronise
  }
  std::memcpy(ref, dest, rowBytes);
  return pos;
}

TBitSource MakeSource(const uint8_t* data, int64_t dataLen, int32_t fillOrder) {
  if (!data || dataLen < 0) dataLen = 0;
  return TBitSource{data, dataLen, dataLen * 8, fillOrder != 1};
}

// ---------------------------------------------------------------- encoding

struct TBitWriter {
  uint8_t* Buf;
  int64_t Pos;
  void Put(uint32_t code, int len) {
    while (len > 0) {
      const int off = static_cast<int>(Pos & 7);
      const int n = std::min(8 - off, len);
      const uint32_t bits = (code >> (len - n)) & ((1u << n) - 1);
      Buf[Pos >> 3] |= static_cast<uint8_t>(bits << (8 - off - n));
      Pos += n;
      len -= n;
    }
  }
};

constexpr uint32_t kEol = 1;  // 000000000001
constexpr int kEolLen = 12;

void PutRun(TBitWriter& w, int64_t run, int colour) {
  const TTables& t = Tables();
  while (run >= 64) {
    const int64_t m = std::min<int64_t>(run / 64, 40);
    const TEncodeEntry& e = t.MakeUp[colour][m];
    w.Put(e.Code, e.Len);
    run -= m * 64;
  }
  const TEncodeEntry& e = t.Terminating[colour][run];
  w.Put(e.Code, e.Len);
}

void PutRuns1D(const uint8_t* row, int width, TBitWriter& w) {
  int x = 0, colour = 0;
  while (x < width) {
    const int next = FindBit(row, width, x, colour ^ 1);
    PutRun(w, next - x, colour);
    x = next;
    colour ^= 1;
  }
}

void PutRow2D(const uint8_t* row, const uint8_t* ref, int width, TBitWriter& w) {
  static const TEncodeEntry kVertical[7] = {{0x02, 7}, {0x02, 6}, {0x02, 3}, {0x01, 1},
                                            {0x03, 3}, {0x03, 6}, {0x03, 7}};
  int a0 = 0, colour = 0;  // encoder rows: 0 white, 1 black
  int a1 = FindBit(row, width, 0, 1);
  int b1 = FindBit(ref, width, 0, 1);
  for (;;) {
    const int b2 = FindBit(ref, width, b1, colour);
    if (b2 < a1) {
      w.Put(0x1, 4);  // pass 0001
      a0 = b2;
    } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
      const TEncodeEntry& e = kVertical[a1 - b1 + 3];
      w.Put(e.Code, e.Len);
      a0 = a1;
      colour ^= 1;
    } else {
      const int a2 = FindBit(row, width, a1, colour);
      w.Put(0x1, 3);  // horizontal 001
      PutRun(w, a1 - a0, colour);
      PutRun(w, a2 - a1, colour ^ 1);
      a0 = a2;
    }
    if (a0 >= width) break;
    a1 = FindBit(row, width, a0, colour ^ 1);
    b1 = FindBit(ref, width, FindBit(ref, width, a0, colour), colour ^ 1);
  }
}

/// A zeroed buffer holding the pending bits at its start.
TBitWriter StartRow(std::vector<uint8_t>& buf, int32_t width, int32_t pendingBits, uint8_t pendingByte) {
  buf.assign(static_cast<size_t>(CCITTRowBufferSize(width)), 0);
  buf[0] = pendingBits > 0 ? pendingByte : 0;
  return TBitWriter{buf.data(), std::clamp(pendingBits, 0, 7)};
}

/// Writes the whole bytes and keeps the rest pending.
void EndRow(TStream& stream, const TBitWriter& w, int32_t& pendingBits, uint8_t& pendingByte) {
  const int64_t whole = w.Pos >> 3;
  if (whole > 0) stream.WriteBuffer(w.Buf, whole);
  pendingBits = static_cast<int32_t>(w.Pos & 7);
  pendingByte = pendingBits ? w.Buf[whole] : 0;
}

void Flush(TStream& stream, TBitWriter& w, int32_t& pendingBits, uint8_t& pendingByte) {
  w.Pos = (w.Pos + 7) & ~int64_t{7};
  EndRow(stream, w, pendingBits, pendingByte);
}

}  // namespace

int64_t _CCITTHuffmanGetLine(uint8_t* dest, const uint8_t* data, int64_t dataLen, int32_t width, int32_t fillOrder,
                             int64_t bitPos) {
  if (width <= 0) return bitPos;
  return Decode1D(dest, MakeSource(data, dataLen, fillOrder), width, std::max<int64_t>(bitPos, 0));
}

int64_t CCITTHuffmanGetLine(uint8_t* dest, const uint8_t* data, int64_t dataLen, int32_t width, int32_t fillOrder) {
  return (_CCITTHuffmanGetLine(dest, data, dataLen, width, fillOrder, 0) + 7) >> 3;
}

int64_t CCITT3_2D_GetLine(uint8_t* dest, const uint8_t* data, int64_t dataLen, int32_t width, int32_t fillOrder,
                          int64_t bitPos, uint8_t* refRow) {
  if (width <= 0) return bitPos;
  return Decode2D(dest, MakeSource(data, dataLen, fillOrder), width, std::max<int64_t>(bitPos, 0), refRow);
}

int64_t CCITTRowBufferSize(int32_t width) {
  // At most 12 bits per pixel plus make-up codes, EOLs and pending bits.
  return int64_t{std::max(width, 0)} * 2 + 64;
}

void _CCITTHuffmanPutLine(const uint8_t* row, int32_t width, uint8_t* buffer, int64_t& bitPos) {
  TBitWriter w{buffer, bitPos};
  PutRuns1D(row, width, w);
  bitPos = w.Pos;
}

void CCITTHuffmanPutLine(const uint8_t* row, int32_t width, TStream& stream) {
  std::vector<uint8_t> buf;
  TBitWriter w = StartRow(buf, width, 0, 0);
  PutRuns1D(row, width, w);
  const int64_t bytes = (w.Pos + 7) >> 3;
  if (bytes > 0) stream.WriteBuffer(buf.data(), bytes);
}

void CCITTHuffmanPutLineG3(const uint8_t* row, int32_t width, TStream& stream, int32_t& pendingBits,
                           uint8_t& pendingByte) {
  std::vector<uint8_t> buf;
  TBitWriter w = StartRow(buf, width, pendingBits, pendingByte);
  if (!row) {
    Flush(stream, w, pendingBits, pendingByte);
    return;
  }
  // Group 3 readers synchronise on the EOL before each row.
  w.Put(kEol, kEolLen);
  PutRuns1D(row, width, w);
  EndRow(stream, w, pendingBits, pendingByte);
}

void CCITTHuffmanPutLineG32D(const uint8_t* row, int32_t width, TStream& stream, std::vector<uint8_t>& refRow,
                             int32_t& pendingBits, uint8_t& pendingByte) {
  std::vector<uint8_t> buf;
  TBitWriter w = StartRow(buf, width, pendingBits, pendingByte);
  w.Put(kEol, kEolLen);
  if (!row) {
    Flush(stream, w, pendingBits, pendingByte);
    refRow.clear();
    return;
  }
  const size_t rowBytes = static_cast<size_t>((std::max(width, 0) + 7) >> 3);
  if (refRow.size() < rowBytes) {
    w.Put(1, 1);
    PutRuns1D(row, width, w);
  } else {
    w.Put(0, 1);
    PutRow2D(row, refRow.data(), width, w);
  }
  refRow.assign(row, row + rowBytes);
  EndRow(stream, w, pendingBits, pendingByte);
}

void CCITTHuffmanPutLineG4(const uint8_t* row, int32_t width, TStream& stream, std::vector<uint8_t>& refRow,
                           int32_t& pendingBits, uint8_t& pendingByte) {
  std::vector<uint8_t> buf;
  TBitWriter w = StartRow(buf, width, pendingBits, pendingByte);
  if (!row) {
    w.Put(kEol, kEolLen);
    w.Put(kEol, kEolLen);
    Flush(stream, w, pendingBits, pendingByte);
    refRow.clear();
    return;
  }
  const size_t rowBytes = static_cast<size_t>((std::max(width, 0) + 7) >> 3);
  if (refRow.size() < rowBytes) refRow.assign(rowBytes, 0);
  PutRow2D(row, refRow.data(), width, w);
  refRow.assign(row, row + rowBytes);
  EndRow(stream, w, pendingBits, pendingByte);
}

}  // namespace vexa
