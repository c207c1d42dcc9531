#include "vexa/proc/dib.h"

#include <gtest/gtest.h>

#include <cstring>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/pixels.h"

using namespace vexa;
using namespace vexa::test;

namespace {

void Put32(std::vector<uint8_t>& v, size_t off, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[off + i] = static_cast<uint8_t>(x >> (8 * i));
}
uint32_t Get32(const std::vector<uint8_t>& v, size_t off) {
  return v[off] | (v[off + 1] << 8) | (v[off + 2] << 16) | (uint32_t(v[off + 3]) << 24);
}

std::vector<uint8_t> Header(int w, int h, int bits, uint32_t compression, size_t extra) {
  std::vector<uint8_t> d(40 + extra, 0);
  Put32(d, 0, 40);
  Put32(d, 4, uint32_t(w));
  Put32(d, 8, uint32_t(h));
  d[12] = 1;
  d[14] = static_cast<uint8_t>(bits);
  Put32(d, 16, compression);
  return d;
}

uint32_t Code(const char* s) {
  return uint8_t(s[0]) | (uint8_t(s[1]) << 8) | (uint8_t(s[2]) << 16) | (uint32_t(uint8_t(s[3])) << 24);
}

}  // namespace

TEST(ProcYUV, VideoRangeEndpoints) {
  TRGB c;
  YUV2RGB(16, 128, 128, c);
  EXPECT_EQ(c, Rgb(0, 0, 0));
  YUV2RGB(235, 128, 128, c);
  EXPECT_EQ(c, Rgb(255, 255, 255));
  YUV2RGB(81, 90, 240, c);  // a saturated red
  EXPECT_EQ(c, Rgb(254, 0, 0));
}

TEST(ProcDIB, TwentyFourBitRoundTripAndBlockLayout) {
  TBitmap b = RandomBitmap(3, 2, 1);
  std::vector<uint8_t> dib = _CopyBitmaptoDIB(b, 0, 0, 0, 0);
  ASSERT_EQ(dib.size(), 40u + 4 + 12 * 2);
  EXPECT_EQ(Get32(dib, 0), 40u);
  EXPECT_EQ(Get32(dib, 4), 3u);
  EXPECT_EQ(Get32(dib, 8), 2u);
  EXPECT_EQ(dib[14], 24);
  // The first data row is the bottom row of the picture.
  EXPECT_EQ(0, std::memcmp(dib.data() + 40, b.ScanLine(1), 9));
  TBitmap back;
  EXPECT_EQ(_CopyDIB2Bitmap(dib.data(), dib.size(), back), 24);
  ASSERT_EQ(back.PixelFormat(), pf24bit);
  ASSERT_EQ(back.Width(), 3);
  ASSERT_EQ(back.Height(), 2);
  for (int y = 0; y < 2; ++y) EXPECT_EQ(0, std::memcmp(back.ScanLine(y), b.ScanLine(y), 9));
}

TEST(ProcDIB, RectangleOfOneBitBitmapStartsAtAnyBit) {
  TBitmap b(21, 5, pf1bit);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 21; ++x) _SetPixelbw(b.ScanLine(y), x, (x * 7 + y * 3) % 5 < 2);
  std::vector<uint8_t> dib = _CopyBitmaptoDIB(b, 3, 1, 17, 3);
  ASSERT_EQ(dib.size(), 40u + 8 + 4 + 4 * 3);
  EXPECT_EQ(dib[14], 1);
  EXPECT_EQ(Get32(dib, 44), 0xFFFFFFFFu);  // black, then white
  TBitmap back;
  EXPECT_EQ(_CopyDIB2Bitmap(dib.data(), dib.size(), back), 1);
  ASSERT_EQ(back.PixelFormat(), pf1bit);
  ASSERT_EQ(back.Width(), 15);
  ASSERT_EQ(back.Height(), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 15; ++x)
      ASSERT_EQ(_GetPixelbw(back.ScanLine(y), x) != 0, _GetPixelbw(b.ScanLine(y + 1), x + 3) != 0) << x << "," << y;
}

TEST(ProcDIB, PlainFormatsDecode) {
  // 16-bit 5-5-5: white is 248 in every channel.
  std::vector<uint8_t> d16 = Header(2, 1, 16, 0, 4);
  d16[40] = 0xFF, d16[41] = 0x7F, d16[42] = 0x00, d16[43] = 0x7C;
  TBitmap b;
  EXPECT_EQ(_CopyDIB2Bitmap(d16.data(), d16.size(), b), 16);
  EXPECT_EQ(Px(b, 0, 0), Rgb(248, 248, 248));
  EXPECT_EQ(Px(b, 1, 0), Rgb(248, 0, 0));
  // 16-bit 5-6-5 through masks.
  std::vector<uint8_t> m16 = Header(1, 1, 16, 3, 12 + 4);
  Put32(m16, 40, 0xF800), Put32(m16, 44, 0x07E0), Put32(m16, 48, 0x001F);
  m16[52] = 0xE0, m16[53] = 0x07;  // pure green
  _CopyDIB2Bitmap(m16.data(), m16.size(), b);
  EXPECT_EQ(Px(b, 0, 0), Rgb(0, 252, 0));
  // 8-bit through a two-entry palette; an index past the palette stays black.
  std::vector<uint8_t> d8 = Header(3, 1, 8, 0, 8 + 4);
  Put32(d8, 32, 2);
  d8[40] = 10, d8[41] = 20, d8[42] = 30;
  d8[44] = 1, d8[45] = 2, d8[46] = 3;
  d8[48] = 1, d8[49] = 0, d8[50] = 200;
  _CopyDIB2Bitmap(d8.data(), d8.size(), b);
  EXPECT_EQ(Px(b, 0, 0), Rgb(3, 2, 1));
  EXPECT_EQ(Px(b, 1, 0), Rgb(30, 20, 10));
  EXPECT_EQ(Px(b, 2, 0), Rgb(0, 0, 0));
  // 4-bit: high nibble first.
  std::vector<uint8_t> d4 = Header(2, 1, 4, 0, 16 * 4 + 4);
  d4[40 + 4 * 1 + 2] = 99;
  d4[40 + 4 * 2 + 0] = 77;
  d4[40 + 64] = 0x12;
  _CopyDIB2Bitmap(d4.data(), d4.size(), b);
  EXPECT_EQ(Px(b, 0, 0), Rgb(99, 0, 0));
  EXPECT_EQ(Px(b, 1, 0), Rgb(0, 0, 77));
  // 32-bit: blue, green, red, unused.
  std::vector<uint8_t> d32 = Header(1, 1, 32, 0, 4);
  d32[40] = 1, d32[41] = 2, d32[42] = 3, d32[43] = 4;
  _CopyDIB2Bitmap(d32.data(), d32.size(), b);
  EXPECT_EQ(Px(b, 0, 0), Rgb(3, 2, 1));
}

TEST(ProcDIB, NegativeHeightIsTopDownAndBadHeadersAreRefused) {
  std::vector<uint8_t> d = Header(1, -2, 24, 0, 8);
  d[40 + 2] = 200;  // first row red
  d[44 + 0] = 100;  // second row blue
  TBitmap b;
  EXPECT_EQ(_CopyDIB2Bitmap(d.data(), d.size(), b), 24);
  ASSERT_EQ(b.Height(), 2);
  EXPECT_EQ(Px(b, 0, 0), Rgb(200, 0, 0));
  EXPECT_EQ(Px(b, 0, 1), Rgb(0, 0, 100));
  // Huge sizes, short headers and short pixel data never read past the block.
  std::vector<uint8_t> huge = Header(65535, 65535, 24, 0, 0);
  VXSetMaxBitmapBytes(64 << 20);
  EXPECT_EQ(_CopyDIB2Bitmap(huge.data(), huge.size(), b), 0);
  VXSetMaxBitmapBytes(uint64_t(1) << 30);
  EXPECT_EQ(b.Width(), 1);
  EXPECT_EQ(_CopyDIB2Bitmap(huge.data(), 20, b), 0);
  std::vector<uint8_t> shortRows = Header(4, 4, 24, 0, 12 * 2 + 3);
  EXPECT_EQ(_CopyDIB2Bitmap(shortRows.data(), shortRows.size(), b), 24);
  std::vector<uint8_t> manyColours = Header(4, 4, 8, 0, 0);
  Put32(manyColours, 32, 0xFFFFFFF0u);
  EXPECT_EQ(_CopyDIB2Bitmap(manyColours.data(), manyColours.size(), b), 8);
}

// Each layout is written from per-pixel Y, U and V samples the way its table
// describes it, then decoded; every converted pixel must be YUV2RGB of its samples.
namespace {

struct TLayout {
  const char* Code;
  int GroupW, GroupH;  // chroma is shared by GroupW x GroupH pixels
  bool TopFirstWhenPositive;
  std::function<std::vector<uint8_t>(int w, int h, const std::function<int(int, int)>& Y,
                                     const std::function<int(int, int)>& U, const std::function<int(int, int)>& V)>
      Encode;
};

std::vector<TLayout> Layouts() {
  using F = const std::function<int(int, int)>&;
  auto packed = [](std::vector<int> order, int px) {
    // order: per byte, 0..7 = Y of pixel k, 100 = U, 101 = V (of the group's first pixel)
    return [order, px](int w, int h, F Y, F U, F V) {
      std::vector<uint8_t> out;
      for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; x += px)
          for (int o : order) out.push_back(uint8_t(o == 100 ? U(x, r) : o == 101 ? V(x, r) : Y(x + o, r)));
      return out;
    };
  };
  auto planar = [](int sub, bool vFirst) {
    return [sub, vFirst](int w, int h, F Y, F U, F V) {
      std::vector<uint8_t> out;
      for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) out.push_back(uint8_t(Y(x, r)));
      for (int plane = 0; plane < 2; ++plane) {
        const bool isV = (plane == 0) == vFirst;
        for (int r = 0; r < h / sub; ++r)
          for (int x = 0; x < w / sub; ++x) out.push_back(uint8_t(isV ? V(x * sub, r * sub) : U(x * sub, r * sub)));
      }
      return out;
    };
  };
  auto y41p = [](int w, int h, F Y, F U, F V) {
    std::vector<uint8_t> out;
    for (int r = 0; r < h; ++r)
      for (int x = 0; x < w; x += 8) {
        const int b[12] = {U(x, r), Y(x, r), V(x, r), Y(x + 1, r), U(x + 4, r), Y(x + 2, r),
                           V(x + 4, r), Y(x + 3, r), Y(x + 4, r), Y(x + 5, r), Y(x + 6, r), Y(x + 7, r)};
        for (int v : b) out.push_back(uint8_t(v));
      }
    return out;
  };
  auto y211 = [](int w, int h, F Y, F U, F V) {
    std::vector<uint8_t> out;
    for (int r = 0; r < h; ++r)
      for (int x = 0; x < w; x += 4)
        for (int v : {Y(x, r), U(x, r), Y(x + 2, r), V(x, r)}) out.push_back(uint8_t(v));
    return out;
  };
  auto cljr = [](int w, int h, F Y, F U, F V) {
    std::vector<uint8_t> out;
    for (int r = 0; r < h; ++r)
      for (int x = 0; x < w; x += 4) {
        const uint32_t word = (V(x, r) & 63) | ((U(x, r) & 63) << 6) | ((Y(x, r) & 31) << 12) |
                              ((Y(x + 1, r) & 31) << 17) | ((Y(x + 2, r) & 31) << 22) | (uint32_t(Y(x + 3, r) & 31) << 27);
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(word >> (8 * i)));
      }
    return out;
  };
  return {
      {"I420", 2, 2, true, planar(2, false)},
      {"IYUV", 2, 2, true, planar(2, false)},
      {"YV12", 2, 2, true, planar(2, true)},
      {"YVU9", 4, 4, true, planar(4, true)},
      {"YUY2", 2, 1, true, packed({0, 100, 1, 101}, 2)},
      {"YUNV", 2, 1, true, packed({0, 100, 1, 101}, 2)},
      {"UYVY", 2, 1, true, packed({100, 0, 101, 1}, 2)},
      {"UYNV", 2, 1, true, packed({100, 0, 101, 1}, 2)},
      {"cyuv", 2, 1, false, packed({100, 0, 101, 1}, 2)},
      {"YVYU", 2, 1, true, packed({0, 101, 1, 100}, 2)},
      {"IYU1", 4, 1, true, packed({100, 0, 1, 101, 2, 3}, 4)},
      {"IYU2", 1, 1, true, packed({100, 0, 101}, 1)},
      {"Y41P", 4, 1, false, y41p},
      {"Y211", 4, 1, true, y211},
      {"CLJR", 4, 1, true, cljr},
  };
}

}  // namespace

class ProcYUVLayout : public ::testing::TestWithParam<TLayout> {};

TEST_P(ProcYUVLayout, DecodesAKnownPatternInTheRightRowOrder) {
  const TLayout& L = GetParam();
  const int w = 16, h = 8;
  const bool cljr = std::string(L.Code) == "CLJR";
  const bool y211 = std::string(L.Code) == "Y211";
  // Distinct samples per pixel and per chroma block; CLJR fields are 5 and 6 bits wide.
  auto Y = [&](int x, int y) { return cljr ? (x * 3 + y * 5) % 32 : 20 + x * 9 + y * 11; };
  auto U = [&](int x, int y) { return cljr ? (x * 5 + y) % 64 : (60 + (x / L.GroupW) * 13 + (y / L.GroupH) * 17) & 255; };
  auto V = [&](int x, int y) { return cljr ? (x * 7 + 2 * y) % 64 : (200 - (x / L.GroupW) * 11 - (y / L.GroupH) * 7) & 255; };
  std::vector<uint8_t> pixels = L.Encode(w, h, Y, U, V);
  for (int sign : {1, -1}) {
    std::vector<uint8_t> dib = Header(w, sign * h, 16, Code(L.Code), 0);
    dib.insert(dib.end(), pixels.begin(), pixels.end());
    TBitmap b;
    EXPECT_EQ(_CopyDIB2Bitmap(dib.data(), dib.size(), b), 16);
    ASSERT_EQ(b.Width(), w);
    ASSERT_EQ(b.Height(), h);
    const bool topFirst = (sign > 0) == L.TopFirstWhenPositive;
    for (int r = 0; r < h; ++r)
      for (int x = 0; x < w; ++x) {
        // Y211 carries one luma sample per two pixels.
        const int ys = y211 ? Y(x & ~1, r) : Y(x, r);
        const int gx = x / L.GroupW * L.GroupW, gy = r / L.GroupH * L.GroupH;
        TRGB expect;
        YUV2RGB(ys, U(gx, gy), V(gx, gy), expect);
        const int row = topFirst ? r : h - 1 - r;
        ASSERT_EQ(Px(b, x, row), expect) << L.Code << " sign " << sign << " pixel " << x << "," << r;
      }
  }
}

INSTANTIATE_TEST_SUITE_P(AllCodes, ProcYUVLayout, ::testing::ValuesIn(Layouts()),
                         [](const auto& info) { return std::string(info.param.Code); });

TEST(ProcYUV, PartialGroupsAtTheRowEndStayUntouched) {
  // UYVY of width 3: the last pixel of each row has no complete group.
  std::vector<uint8_t> dib = Header(3, 2, 16, Code("UYVY"), 0);
  for (int i = 0; i < 2 * 6; ++i) dib.push_back(i % 2 ? 235 : 128);
  TBitmap b;
  _CopyDIB2Bitmap(dib.data(), dib.size(), b);
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(Px(b, 0, y), Rgb(255, 255, 255));
    EXPECT_EQ(Px(b, 1, y), Rgb(255, 255, 255));
    EXPECT_EQ(Px(b, 2, y), Rgb(0, 0, 0));
  }
  // A Y41P row of 12 pixels holds one group of 8; the decoder must not write 16.
  std::vector<uint8_t> y41p = Header(12, 1, 16, Code("Y41P"), 18);
  _CopyDIB2Bitmap(y41p.data(), y41p.size(), b);
  EXPECT_EQ(b.Width(), 12);
  // Data cut short: rows that are not there stay black.
  std::vector<uint8_t> cut = Header(2, 4, 16, Code("YUY2"), 4);
  cut[40] = 235, cut[41] = 128, cut[42] = 235, cut[43] = 128;
  _CopyDIB2Bitmap(cut.data(), cut.size(), b);
  EXPECT_EQ(Px(b, 0, 0), Rgb(255, 255, 255));
  EXPECT_EQ(Px(b, 0, 1), Rgb(0, 0, 0));
}

TEST(ProcDIB, CopyBitsKeepsTheOtherBits) {
  const uint8_t src[3] = {0b10110011, 0b01011100, 0xFF};
  uint8_t dst[3] = {0xFF, 0x00, 0xAA};
  _CopyBits(dst, src, 5, 9, 2);  // source bits 2..10 = 1,1,0,0,1,1,0,1,0
  EXPECT_EQ(dst[0], 0b11111110);
  EXPECT_EQ(dst[1], 0b01101000);
  EXPECT_EQ(dst[2], 0xAA);
}
