// The single-pass rotation against the three separate shears it replaced, kept
// here as they were: every pixel the same for any angle, size, background,
// anti-aliasing and thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/pixels.h"
#include "vexa/core/parallel.h"
#include "vexa/proc/geometry.h"

using namespace vexa;
using vexa::test::RandomBitmap;
using vexa::test::SameImage;

namespace {

int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

uint8_t Blend(int prev, int cur, int f) {
  return static_cast<uint8_t>(blimit((prev * f + cur * (4096 - f) + 2048) >> 12));
}

void ShearLine(const uint8_t* in, ptrdiff_t inStride, int n, uint8_t* out, ptrdiff_t outStride, int outLen,
               int shift, int f, bool antiAlias, TRGB bg) {
  if (!antiAlias) {
    const int i0 = std::max(0, -shift), i1 = std::min(n, outLen - shift);
    for (int i = i0; i < i1; ++i) std::memcpy(out + (i + shift) * outStride, in + i * inStride, 3);
    return;
  }
  int pb = bg.b, pg = bg.g, pr = bg.r;
  for (int i = 0; i < n; ++i) {
    const uint8_t* p = in + i * inStride;
    const int pos = i + shift;
    if (pos >= 0 && pos < outLen) {
      uint8_t* o = out + pos * outStride;
      o[0] = Blend(pb, p[0], f);
      o[1] = Blend(pg, p[1], f);
      o[2] = Blend(pr, p[2], f);
    }
    pb = p[0], pg = p[1], pr = p[2];
  }
  const int pos = n + shift;
  if (f > 0 && pos >= 0 && pos < outLen) {
    uint8_t* o = out + pos * outStride;
    o[0] = Blend(pb, bg.b, f);
    o[1] = Blend(pg, bg.g, f);
    o[2] = Blend(pr, bg.r, f);
  }
}

void FillRGB(TBitmap& bmp, TRGB c) {
  for (int y = 0; y < bmp.Height(); ++y) {
    TRGB* p = reinterpret_cast<TRGB*>(bmp.ScanLine(y));
    std::fill(p, p + bmp.Width(), c);
  }
}

// Shear 1 along rows into a wider image, shear 2 down the columns into a taller
// one (walked a row at a time), shear 3 along its rows.
void ReferenceShear(const TBitmap& src, TBitmap& dst, int angle, bool antiAlias, TRGB background) {
  if (angle == 0) {
    dst = src;
    return;
  }
  const int w = src.Width(), h = src.Height();
  const double theta = angle * M_PI / 180;
  const bool positive = theta > 0;
  const double a = std::fabs(std::tan(theta / 2)), b = std::fabs(std::sin(theta));
  const int w1 = RoundHalfEven(h * a + w + 1);
  const int s1 = RoundHalfEven((w1 - w) * b);
  int h2 = RoundHalfEven(w1 * b + h + 1);
  const int s2 = RoundHalfEven((h2 - h - s1) * a);
  h2 -= 2 * s1;
  const int w3 = std::max(1, RoundHalfEven(h2 * a + w1 + 1 - 2 * s2));
  h2 = std::max(1, h2);

  TBitmap sh1(w1, h, pf24bit);
  FillRGB(sh1, background);
  for (int y = 0; y < h; ++y) {
    const double t = (positive ? y : h - y) * a;
    const int d = RoundHalfEven(t);
    const int f = static_cast<int>((t - d) * 4096);
    ShearLine(src.ScanLine(y), 3, w, sh1.ScanLine(y), 3, w1, d, f, antiAlias, background);
  }

  TBitmap sh2(w1, h2, pf24bit);
  FillRGB(sh2, background);
  std::vector<int> shift(static_cast<size_t>(w1)), frac(static_cast<size_t>(w1));
  for (int x = 0; x < w1; ++x) {
    const double t = (positive ? w1 - x : x) * b;
    const int d = RoundHalfEven(t);
    shift[static_cast<size_t>(x)] = d - s1;
    frac[static_cast<size_t>(x)] = antiAlias ? RoundHalfEven((t - d) * 4096) : 0;
  }
  std::vector<TRGB> bgRow(static_cast<size_t>(w1), background);
  for (int y = 0; y <= h; ++y) {
    if (y == h && !antiAlias) break;
    const TRGB* cur = y < h ? reinterpret_cast<const TRGB*>(sh1.ScanLine(y)) : bgRow.data();
    const TRGB* prev = y > 0 ? reinterpret_cast<const TRGB*>(sh1.ScanLine(y - 1)) : bgRow.data();
    for (int x = 0; x < w1; ++x) {
      const int pos = y + shift[static_cast<size_t>(x)];
      if (pos < 0 || pos >= h2) continue;
      TRGB& o = reinterpret_cast<TRGB*>(sh2.ScanLine(pos))[x];
      const int f = frac[static_cast<size_t>(x)];
      if (!antiAlias) {
        o = cur[x];
      } else if (y < h || f > 0) {
        o.b = Blend(prev[x].b, cur[x].b, f);
        o.g = Blend(prev[x].g, cur[x].g, f);
        o.r = Blend(prev[x].r, cur[x].r, f);
      }
    }
  }
  sh1 = TBitmap();

  TBitmap out(w3, h2, pf24bit);
  FillRGB(out, background);
  for (int y = 0; y < h2; ++y) {
    const double t = (positive ? y : h2 - y) * a;
    const int d = RoundHalfEven(t);
    const int f = RoundHalfEven((t - d) * 4096);
    ShearLine(sh2.ScanLine(y), 3, w1, out.ScanLine(y), 3, w3, d - s2, f, antiAlias, background);
  }
  dst = std::move(out);
}

// Photographs have long smooth runs and the odd hard edge; random bytes give
// neither, so both kinds are tried (the blends clamp only at hard edges).
TBitmap Picture(int w, int h, uint32_t seed, bool smooth) {
  TBitmap b = RandomBitmap(w, h, seed);
  if (!smooth) return b;
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = b.ScanLine(y);
    for (int i = 0; i < 3 * w; ++i) p[i] = static_cast<uint8_t>((i / 3 + y) * 255 / (w + h) + (rng() % 3 ? 0 : 250));
  }
  return b;
}

struct TRotateCase {
  int W, H;
};

class RotateIdentity : public ::testing::TestWithParam<TRotateCase> {
 protected:
  void TearDown() override {
    VXSetParallelMinPixels(-1);
    VXSetThreadCount(0);
  }
};

TEST_P(RotateIdentity, EveryAngleGivesThePixelsOfTheThreeShears) {
  const auto [w, h] = GetParam();
  std::vector<int> angles = {0, 1, -1, 2, -2, 5, 17, -17, 30, -30, 44, -44, 45, -45, 90, -90};
  // Beyond 90 degrees (quarter turns keep them from the whole rotation) the shifts jump.
  for (int a : {100, -120, 135, 160, -170}) angles.push_back(a);
  for (int a = -90; a <= 90; a += 7) angles.push_back(a);
  const TRGB backgrounds[] = {TRGB{0, 0, 0}, TRGB{255, 255, 255}, TRGB{10, 200, 30}};
  uint32_t seed = static_cast<uint32_t>(w * 7919 + h);
  for (int angle : angles)
    for (bool aa : {false, true}) {
      const TRGB bg = backgrounds[++seed % 3];
      const TBitmap src = Picture(w, h, seed, seed % 2 != 0);
      TBitmap expect, got;
      ReferenceShear(src, expect, angle, aa, bg);
      TProgressRec rec;
      VXSetThreadCount(1);
      _RotateShear(src, got, angle, aa, bg, rec);
      ASSERT_TRUE(SameImage(got, expect)) << angle << (aa ? " aa" : "");
    }
}

TEST_P(RotateIdentity, SplitOverThreadsTheSame) {
  const auto [w, h] = GetParam();
  VXSetParallelMinPixels(0);
  for (int angle : {30, -13, 45, -44, 71})
    for (bool aa : {false, true}) {
      const TBitmap src = Picture(w, h, static_cast<uint32_t>(angle + 1000), true);
      TBitmap expect;
      ReferenceShear(src, expect, angle, aa, TRGB{1, 2, 3});
      for (int threads : {2, 3, 7}) {
        VXSetThreadCount(threads);
        TBitmap got;
        TProgressRec rec;
        _RotateShear(src, got, angle, aa, TRGB{1, 2, 3}, rec);
        ASSERT_TRUE(SameImage(got, expect)) << angle << (aa ? " aa on " : " on ") << threads;
      }
    }
}

// Whole turns: quarter turns bring the angle within 45 degrees of zero first.
TEST_P(RotateIdentity, WholeRotationAtAnyAngle) {
  const auto [w, h] = GetParam();
  for (int angle : {46, -46, 89, 91, 130, 180, -135, 225, 270, 314, 359, 1000, -721})
    for (bool aa : {false, true}) {
      const TBitmap src = Picture(w, h, static_cast<uint32_t>(angle + 7), false);
      TBitmap expect = src;
      int rest = angle % 360;
      for (; rest > 45; rest -= 90) _Rot90(TBitmap(expect), expect);
      for (; rest < -45; rest += 90) _Rot90o(TBitmap(expect), expect);
      ReferenceShear(TBitmap(expect), expect, rest, aa, TRGB{9, 8, 7});
      TBitmap got = src;
      TProgressRec rec;
      _Rotate24(got, angle, aa, TRGB{9, 8, 7}, rec);
      ASSERT_TRUE(SameImage(got, expect)) << angle << (aa ? " aa" : "");
    }
}

// Pictures wide and tall enough to be made in several chunks of rows and
// strips of columns, whose seams must not show.
TEST(RotateIdentityLarge, ChunksAndStripsJoinSeamlessly) {
  const std::pair<int, int> sizes[] = {{900, 430}, {1250, 260}, {310, 1000}};
  for (auto [w, h] : sizes)
    for (int angle : {1, -3, 30, -30, 44, -45, 67})
      for (bool aa : {false, true}) {
        const TBitmap src = Picture(w, h, static_cast<uint32_t>(w + angle), aa);
        TBitmap expect, got;
        ReferenceShear(src, expect, angle, aa, TRGB{200, 100, 50});
        TProgressRec rec;
        VXSetThreadCount(1);
        _RotateShear(src, got, angle, aa, TRGB{200, 100, 50}, rec);
        ASSERT_TRUE(SameImage(got, expect)) << w << "x" << h << " at " << angle << (aa ? " aa" : "");
      }
  VXSetThreadCount(0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RotateIdentity,
                         ::testing::Values(TRotateCase{1, 1}, TRotateCase{1, 7}, TRotateCase{6, 1}, TRotateCase{2, 2},
                                           TRotateCase{3, 5}, TRotateCase{37, 23}, TRotateCase{23, 37},
                                           TRotateCase{64, 64}, TRotateCase{101, 57}, TRotateCase{257, 130}),
                         [](const ::testing::TestParamInfo<TRotateCase>& i) {
                           return std::to_string(i.param.W) + "x" + std::to_string(i.param.H);
                         });

}  // namespace
