#include "vexa/codecs/ccitt.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "vexa/core/bitmap.h"

namespace vexa {
namespace {

/// Bits of a byte buffer as a '0'/'1' string, MSB first.
std::string Bits(const uint8_t* data, int64_t nbits) {
  std::string s;
  for (int64_t i = 0; i < nbits; ++i) s += (data[i >> 3] & (0x80 >> (i & 7))) ? '1' : '0';
  return s;
}

/// Packs a '0'/'1' string (spaces ignored) MSB first, padded with zero bits.
std::vector<uint8_t> Pack(const std::string& bits) {
  std::vector<uint8_t> out;
  int n = 0;
  for (char c : bits) {
    if (c == ' ') continue;
    if (n % 8 == 0) out.push_back(0);
    if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
    ++n;
  }
  return out;
}

std::vector<uint8_t> Written(TMemoryStream& ms) { return {ms.Memory(), ms.Memory() + ms.Size()}; }

/// Encoder rows (1 = black) with runs of random length, some far beyond 2560.
std::vector<std::vector<uint8_t>> RandomPage(int width, int height, unsigned seed) {
  std::mt19937 rng(seed);
  const size_t bytes = static_cast<size_t>((width + 7) / 8);
  std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(height), std::vector<uint8_t>(bytes, 0));
  for (int y = 0; y < height; ++y) {
    // Every few rows repeat the previous one with a small shift, as scanned text does.
    if (y > 0 && rng() % 3 == 0) {
      rows[y] = rows[y - 1];
      if (rng() % 2)
        for (int x = width - 1; x > 0; --x) _SetPixelbw(rows[y].data(), x, _GetPixelbw(rows[y].data(), x - 1));
      continue;
    }
    int x = 0, colour = static_cast<int>(rng() % 2);
    while (x < width) {
      const int kind = static_cast<int>(rng() % 10);
      const int run = kind == 0 ? 1 + static_cast<int>(rng() % 6000) : 1 + static_cast<int>(rng() % (kind < 5 ? 4 : 70));
      for (int i = x; i < std::min(width, x + run); ++i) _SetPixelbw(rows[y].data(), i, colour);
      x += run;
      colour ^= 1;
    }
  }
  return rows;
}

/// Decoder rows are 1 = white: the inverse of the encoder's rows, padding bits aside.
void ExpectInverse(const std::vector<uint8_t>& decoded, const std::vector<uint8_t>& encoded, int width) {
  for (int x = 0; x < width; ++x)
    ASSERT_NE(_GetPixelbw(decoded.data(), x) != 0, _GetPixelbw(encoded.data(), x) != 0) << "pixel " << x;
}

TEST(CcittEncode, WhiteRowOf1728IsMakeUpThenZeroTerminator) {
  const std::vector<uint8_t> row(1728 / 8, 0);
  TMemoryStream ms;
  CCITTHuffmanPutLine(row.data(), 1728, ms);
  const std::vector<uint8_t> out = Written(ms);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(Bits(out.data(), 24), "010011011" "00110101" "0000000");
}

TEST(CcittEncode, RunOf3000UsesLargestMakeUpCodes) {
  const std::vector<uint8_t> row(3000 / 8, 0);
  std::vector<uint8_t> buf(static_cast<size_t>(CCITTRowBufferSize(3000)), 0);
  int64_t pos = 0;
  _CCITTHuffmanPutLine(row.data(), 3000, buf.data(), pos);
  EXPECT_EQ(Bits(buf.data(), pos), "000000011111" "00110111" "01011001");  // 2560, 384, 56
}

TEST(CcittEncode, RowStartingBlackBeginsWithEmptyWhiteRun) {
  std::vector<uint8_t> row = {0xC0};  // two black, six white
  std::vector<uint8_t> buf(static_cast<size_t>(CCITTRowBufferSize(8)), 0);
  int64_t pos = 0;
  _CCITTHuffmanPutLine(row.data(), 8, buf.data(), pos);
  EXPECT_EQ(Bits(buf.data(), pos), "00110101" "11" "1110");  // white 0, black 2, white 6
}

TEST(CcittEncode, Group3TwoDimensionalPageStartsWithEolAndOneDimensionalRow) {
  const std::vector<uint8_t> row(1, 0);
  TMemoryStream ms;
  std::vector<uint8_t> ref;
  int32_t bits = 0;
  uint8_t pending = 0;
  CCITTHuffmanPutLineG32D(row.data(), 8, ms, ref, bits, pending);
  CCITTHuffmanPutLineG32D(row.data(), 8, ms, ref, bits, pending);
  CCITTHuffmanPutLineG32D(nullptr, 8, ms, ref, bits, pending);
  const std::vector<uint8_t> out = Written(ms);
  // EOL, tag 1, white 8; EOL, tag 0, V0 (b1 = a1 = end); final EOL; padding.
  EXPECT_EQ(Bits(out.data(), static_cast<int64_t>(out.size()) * 8),
            "000000000001" "1" "10011" "000000000001" "0" "1" "000000000001" "0000");
  EXPECT_EQ(bits, 0);
}

TEST(CcittEncode, Group4EndsWithEofbAndCarriesPartialBytes) {
  const std::vector<uint8_t> row(1, 0);
  TMemoryStream ms;
  std::vector<uint8_t> ref;
  int32_t bits = 0;
  uint8_t pending = 0;
  CCITTHuffmanPutLineG4(row.data(), 8, ms, ref, bits, pending);
  EXPECT_EQ(ms.Size(), 0);  // one V0 bit stays pending
  EXPECT_EQ(bits, 1);
  CCITTHuffmanPutLineG4(nullptr, 8, ms, ref, bits, pending);
  const std::vector<uint8_t> out = Written(ms);
  EXPECT_EQ(Bits(out.data(), static_cast<int64_t>(out.size()) * 8),
            "1" "000000000001" "000000000001" "0000000");
}

TEST(CcittDecode, PrematureEolFillsTheRestInTheCurrentColour) {
  // White 10, then EOL: the colour has turned black, so pixels 10..39 are black.
  const std::vector<uint8_t> data = Pack("00111 000000000001");
  std::vector<uint8_t> row(5, 0xAA);
  const int64_t end = _CCITTHuffmanGetLine(row.data(), data.data(), static_cast<int64_t>(data.size()), 40, 1, 0);
  EXPECT_EQ(end, 17);  // the EOL is consumed
  EXPECT_EQ(Bits(row.data(), 40), std::string(10, '1') + std::string(30, '0'));
}

TEST(CcittDecode, LeadingEolAndFillBitsAreSkipped) {
  // Fill bits and an EOL, then white 4 / black 4 on a width of 8.
  const std::vector<uint8_t> data = Pack("0000 000000000001 1011 011");
  std::vector<uint8_t> row(1);
  _CCITTHuffmanGetLine(row.data(), data.data(), static_cast<int64_t>(data.size()), 8, 1, 0);
  EXPECT_EQ(row[0], 0xF0);
}

TEST(CcittDecode, FillOrderTwoReadsReversedBytes) {
  const int width = 517;
  const auto page = RandomPage(width, 30, 5);
  TMemoryStream ms;
  std::vector<uint8_t> ref;
  int32_t bits = 0;
  uint8_t pending = 0;
  for (const auto& r : page) CCITTHuffmanPutLineG4(r.data(), width, ms, ref, bits, pending);
  CCITTHuffmanPutLineG4(nullptr, width, ms, ref, bits, pending);
  const std::vector<uint8_t> msb = Written(ms);
  std::vector<uint8_t> lsb = msb;
  for (uint8_t& b : lsb) b = kReverseByte[b];
  std::vector<uint8_t> refA(66, 0xFF), refB(66, 0xFF), a(66), b(66);
  int64_t pa = 0, pb = 0;
  for (size_t y = 0; y < page.size(); ++y) {
    pa = CCITT3_2D_GetLine(a.data(), msb.data(), static_cast<int64_t>(msb.size()), width, 1, pa, refA.data());
    pb = CCITT3_2D_GetLine(b.data(), lsb.data(), static_cast<int64_t>(lsb.size()), width, 2, pb, refB.data());
    ASSERT_EQ(a, b) << "row " << y;
    ExpectInverse(a, page[y], width);
  }
  EXPECT_EQ(pa, pb);
}

enum TCoder { cdMH, cdG3, cdG32D, cdG4 };

class CcittRoundTrip : public ::testing::TestWithParam<TCoder> {};

// Random pages through each coder and back, at widths that end mid-byte and with
// runs longer than the largest make-up code.
TEST_P(CcittRoundTrip, RandomPagesDecodeToTheirInverse) {
  const TCoder coder = GetParam();
  for (int width : {1, 7, 8, 13, 1728, 2560, 6001}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const auto page = RandomPage(width, 40, static_cast<unsigned>(width * 4 + coder));
    TMemoryStream ms;
    std::vector<uint8_t> ref;
    int32_t bits = 0;
    uint8_t pending = 0;
    for (const auto& r : page) {
      switch (coder) {
        case cdMH: CCITTHuffmanPutLine(r.data(), width, ms); break;
        case cdG3: CCITTHuffmanPutLineG3(r.data(), width, ms, bits, pending); break;
        case cdG32D: CCITTHuffmanPutLineG32D(r.data(), width, ms, ref, bits, pending); break;
        case cdG4: CCITTHuffmanPutLineG4(r.data(), width, ms, ref, bits, pending); break;
      }
    }
    if (coder == cdG3) CCITTHuffmanPutLineG3(nullptr, width, ms, bits, pending);
    if (coder == cdG32D) CCITTHuffmanPutLineG32D(nullptr, width, ms, ref, bits, pending);
    if (coder == cdG4) CCITTHuffmanPutLineG4(nullptr, width, ms, ref, bits, pending);
    EXPECT_EQ(bits, 0);
    // An exact-size copy: any read past the data shows under the address sanitizer.
    const std::vector<uint8_t> data = Written(ms);
    const int64_t len = static_cast<int64_t>(data.size());
    const size_t rowBytes = static_cast<size_t>((width + 7) / 8);
    std::vector<uint8_t> row(rowBytes), refRow(rowBytes, 0xFF);
    int64_t pos = 0, bytePos = 0;
    for (size_t y = 0; y < page.size(); ++y) {
      SCOPED_TRACE("row " + std::to_string(y));
      switch (coder) {
        case cdMH: bytePos += CCITTHuffmanGetLine(row.data(), data.data() + bytePos, len - bytePos, width, 1); break;
        case cdG3: pos = _CCITTHuffmanGetLine(row.data(), data.data(), len, width, 1, pos); break;
        case cdG32D:
        case cdG4: pos = CCITT3_2D_GetLine(row.data(), data.data(), len, width, 1, pos, refRow.data()); break;
      }
      ExpectInverse(row, page[y], width);
      if (coder >= cdG32D) {
        ASSERT_EQ(refRow, row);
      }
    }
    if (coder == cdMH) {
      EXPECT_EQ(bytePos, len);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Coders, CcittRoundTrip, ::testing::Values(cdMH, cdG3, cdG32D, cdG4));

// Garbage and truncated data: every decoder finishes each row and stays inside the data.
TEST(CcittDecode, GarbageNeverHangsOrOverruns) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 200; ++trial) {
    const size_t n = rng() % 64;
    std::vector<uint8_t> data(n);
    for (auto& b : data) b = static_cast<uint8_t>(trial % 3 == 0 ? (rng() % 4 == 0 ? rng() : 0) : rng());
    const int width = 1 + static_cast<int>(rng() % 3000);
    const size_t rowBytes = static_cast<size_t>((width + 7) / 8);
    std::vector<uint8_t> row(rowBytes), ref(rowBytes, 0xFF);
    int64_t p1 = 0, p2 = 0;
    for (int y = 0; y < 8; ++y) {
      p1 = _CCITTHuffmanGetLine(row.data(), data.data(), static_cast<int64_t>(n), width, 1 + (trial & 1), p1);
      p2 = CCITT3_2D_GetLine(row.data(), data.data(), static_cast<int64_t>(n), width, 1, p2, ref.data());
      CCITTHuffmanGetLine(row.data(), data.data(), static_cast<int64_t>(n), width, 1);
    }
    // Positions may pass the end by at most one code's worth of zero bits.
    EXPECT_LE(p1, static_cast<int64_t>(n) * 8 + 32);
    EXPECT_LE(p2, static_cast<int64_t>(n) * 8 + 32);
  }
}

}  // namespace
}  // namespace vexa
