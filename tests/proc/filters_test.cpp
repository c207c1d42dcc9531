#include "vexa/proc/filters.h"

#include <gtest/gtest.h>

#include <cstring>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "support/fixtures.h"
#include "support/pixels.h"
#include "vexa/core/errors.h"
#include "vexa/proc/procrect.h"

using namespace vexa;
using namespace vexa::test;

namespace {

// The convolution written out directly: 32-bit wrapping sums, truncating division.
TBitmap ReferenceFilter(const TBitmap& src, const TGraphFilter& f, int x1, int y1, int x2, int y2) {
  const int w = src.Width(), h = src.Height();
  const int div = f.Divisor == 0 ? 1 : f.Divisor;
  TBitmap out = src;
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x)
      for (int c = 0; c < 3; ++c) {
        uint32_t sum = 0;
        for (int k = 0; k < 9; ++k) {
          const int sx = std::clamp(x + k % 3 - 1, 0, w - 1), sy = std::clamp(y + k / 3 - 1, 0, h - 1);
          sum += uint32_t(f.Values[k]) * src.ScanLine(sy)[3 * sx + c];
        }
        const int64_t q = int64_t(int32_t(sum)) / div;
        out.ScanLine(y)[3 * x + c] = static_cast<uint8_t>(std::clamp<int64_t>(q, 0, 255));
      }
  return out;
}


}  // namespace

TEST(ProcFilter, PresetsOnSpecialImages) {
  TBitmap b = RandomBitmap(13, 9, 4);
  TBitmap orig = b;
  _ApplyFilter(b, VXFiltPres[fpNone], 0, 0, 12, 8);
  EXPECT_EQ(0, std::memcmp(b.Bits(), orig.Bits(), b.ImageSize()));
  TBitmap one = Filled(1, 1, Rgb(7, 130, 255));
  _ApplyFilter(one, VXFiltPres[fpBlur], 0, 0, 0, 0);
  EXPECT_EQ(Px(one, 0, 0), Rgb(7, 130, 255));
  TBitmap flat = Filled(6, 6, Rgb(90, 91, 92));
  _ApplyFilter(flat, VXFiltPres[fpEdge], 0, 0, 5, 5);
  EXPECT_EQ(Px(flat, 0, 0), Rgb(0, 0, 0));
  EXPECT_EQ(Px(flat, 3, 3), Rgb(0, 0, 0));
}

TEST(ProcFilter, DivisionTruncatesTowardZeroBeforeClamping) {
  TGraphFilter f{{0, 0, 0, 0, 5, 0, 0, 0, 0}, 2};
  TBitmap b = Filled(1, 1, Rgb(1, 3, 0));
  _ApplyFilter(b, f, 0, 0, 0, 0);
  EXPECT_EQ(Px(b, 0, 0), Rgb(2, 7, 0));  // 2.5 -> 2, 7.5 -> 7
  TGraphFilter neg{{0, 0, 0, 0, -5, 0, 0, 0, 0}, -2};
  TBitmap c = Filled(1, 1, Rgb(1, 3, 60));
  _ApplyFilter(c, neg, 0, 0, 0, 0);
  EXPECT_EQ(Px(c, 0, 0), Rgb(2, 7, 150));
}

TEST(ProcFilter, MatchesDirectConvolutionWithClampedBorders) {
  std::mt19937 rng(42);
  const std::vector<TGraphFilter> kernels = {
      VXFiltPres[fpBlur], VXFiltPres[fpEdge], VXFiltPres[fpEmboss], VXFiltPres[fpHighPass3], VXFiltPres[LowPass2],
      {{3, -7, 2, 0, 11, -1, 5, 5, -9}, 7},
      {{3, -7, 2, 0, 11, -1, 5, 5, -9}, -3},
      // Large weights take the exact path, including sums that wrap at 32 bits.
      {{40000, -7, 2, 0, 11, -100000, 5, 5, -9}, 1000},
      {{0x7FFFFFF, 0x7FFFFFF, 0, 0, 0, 0, 0, 0, 0x7FFFFFF}, 3}};
  for (size_t k = 0; k < kernels.size(); ++k) {
    TBitmap b = RandomBitmap(23, 17, uint32_t(k) + 1);
    const int x1 = int(rng() % 5), y1 = int(rng() % 5);
    TBitmap expect = ReferenceFilter(b, kernels[k], x1, y1, 22, 16);
    _ApplyFilter(b, kernels[k], x1, y1, 40, 40);  // X2, Y2 beyond the image are clamped
    ASSERT_EQ(0, std::memcmp(b.Bits(), expect.Bits(), b.ImageSize())) << "kernel " << k;
  }
}

TEST(ProcFilter, EveryInstructionSetGivesTheSameResult) {
  const int detected = procdetail::gFilterSimd;
  const TGraphFilter f{{3, -7, 2, 0, 11, -1, 5, 5, -9}, 7};
  TBitmap src = RandomBitmap(37, 9, 77);
  const TBitmap expect = ReferenceFilter(src, f, 1, 0, 36, 8);
  for (int level = 0; level <= detected; ++level) {
    procdetail::gFilterSimd = level;
    TBitmap b = src;
    _ApplyFilter(b, f, 1, 0, 36, 8);
    EXPECT_EQ(0, std::memcmp(b.Bits(), expect.Bits(), b.ImageSize())) << "level " << level;
  }
  procdetail::gFilterSimd = detected;
}

TEST(ProcFilter, ProgressOverTenRows) {
  TBitmap b = Filled(3, 10, Rgb(1, 1, 1));
  TAbortFlag pr;
  pr.Watch();
  _ApplyFilter(b, VXFiltPres[fpBlur], 0, 0, 2, 9, pr);
  EXPECT_EQ(pr.Seen, (std::vector<int>{10, 21, 31, 42, 52, 63, 73, 84, 94, 105}));
}

TEST(ProcFilterFile, SavedFileIs43BytesAndReloadsIdentically) {
  const std::string path = TempPath("test.flt");
  const TGraphFilter f{{1, -2, 3, -4, 5, -6, 7, -8, 0x12345678}, -16};
  SaveFilterToFile(path, f);
  EXPECT_EQ(std::filesystem::file_size(path), 43u);
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[1], 3);
  EXPECT_EQ(bytes[2], 3);
  EXPECT_EQ(bytes[3 + 8 * 4], 0x78);  // little-endian
  TGraphFilter back;
  EXPECT_TRUE(LoadFilterFromFile(path, back));
  EXPECT_EQ(back, f);
  std::filesystem::remove(path);
}

TEST(ProcFilterFile, WrongHeaderOrShortFileIsNotTakenAsAFilter) {
  const std::string path = TempPath("bad.flt");
  {
    std::ofstream out(path, std::ios::binary);
    out.write("\x01\x03\x04", 3);
    out.write(std::string(40, '\x01').data(), 40);
  }
  TGraphFilter mine = VXFiltPres[fpEmboss];
  EXPECT_FALSE(LoadFilterFromFile(path, mine));
  EXPECT_EQ(mine, VXFiltPres[fpEmboss]);
  {
    std::ofstream out(path, std::ios::binary);
    out.write("\x01\x03\x03\x09\x00\x00\x00", 7);
  }
  EXPECT_FALSE(LoadFilterFromFile(path, mine));
  EXPECT_EQ(mine.Values[0], 9);  // what was there is read
  std::filesystem::remove(path);
  EXPECT_THROW(LoadFilterFromFile(path, mine), EFOpenError);
}
