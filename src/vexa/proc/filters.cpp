#include "vexa/proc/filters.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "vexa/core/streams.h"
#include "vexa/proc/procrect.h"

namespace vexa {

using procdetail::ClampRect;

const TGraphFilter VXFiltPres[9] = {
    {{0, 0, 0, 0, 1, 0, 0, 0, 0}, 0},        // fpNone
    {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 9},        // fpBlur
    {{1, 1, 1, 1, -8, 1, 1, 1, 1}, 1},       // fpEdge
    {{-1, 0, 1, -1, 1, 1, -1, 0, 1}, 1},     // fpEmboss
    {{0, -1, 0, -1, 5, -1, 0, -1, 0}, 1},    // fpHighPass1
    {{-1, -1, -1, -1, 9, -1, -1, -1, -1}, 1},// fpHighPass2
    {{1, -2, 1, -2, 5, -2, 1, -2, 1}, 1},    // fpHighPass3
    {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 10},       // LowPass1
    {{1, 2, 1, 2, 4, 2, 1, 2, 1}, 16},       // LowPass2
};

namespace {

// Source rows widened to one element per channel byte, covering the columns
// x1 - 1 .. x2 + 1 with the image edge repeated. Three rows are kept so that each
// row is converted once and the in-place write of row y cannot be seen by row y + 1.
template <typename T>
class TRowCache {
 public:
  TRowCache(const TBitmap& bmp, int x1, int x2) : FBmp(bmp), FX1(x1), FN(x2 - x1 + 1) {
    for (auto& s : FSlots) s.Data.resize(size_t(3) * (FN + 2) + 4);
  }
  const T* Row(int y) {
    for (auto& s : FSlots)
      if (s.Row == y) return s.Data.data();
    Slot& s = FSlots[FNext];
    FNext = (FNext + 1) % 3;
    s.Row = y;
    const uint8_t* src = FBmp.ScanLine(y);
    const int w = FBmp.Width();
    T* d = s.Data.data();
    for (int j = 0; j < FN + 2; ++j) {
      const int x = ilimit(FX1 - 1 + j, 0, w - 1);
      d[3 * j] = src[3 * x];
      d[3 * j + 1] = src[3 * x + 1];
      d[3 * j + 2] = src[3 * x + 2];
    }
    return d;
  }

 private:
  struct Slot {
    int Row = -1;
    std::vector<T> Data;
  };
  const TBitmap& FBmp;
  int FX1, FN;
  Slot FSlots[3];
  int FNext = 0;
};

typedef float v4f __attribute__((vector_size(16)));
typedef int32_t v4i __attribute__((vector_size(16)));
typedef uint8_t v4b __attribute__((vector_size(4)));

inline v4f Load4(const float* p) {
  v4f v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// With every partial sum below 2^24 in magnitude, float holds the sums exactly and
// a correctly rounded float quotient truncates to the same integer as exact
// division (a non-whole quotient is at least 1/|divisor| from the next integer).
void FilterRowFloat(const float* u, const float* m, const float* d, uint8_t* out, int bytes, const float* k,
                    float divisor) {
  const v4f k0 = {k[0], k[0], k[0], k[0]}, k1 = {k[1], k[1], k[1], k[1]}, k2 = {k[2], k[2], k[2], k[2]},
            k3 = {k[3], k[3], k[3], k[3]}, k4 = {k[4], k[4], k[4], k[4]}, k5 = {k[5], k[5], k[5], k[5]},
            k6 = {k[6], k[6], k[6], k[6]}, k7 = {k[7], k[7], k[7], k[7]}, k8 = {k[8], k[8], k[8], k[8]};
  const v4f dv = {divisor, divisor, divisor, divisor};
  const v4i lo = {0, 0, 0, 0}, hi = {255, 255, 255, 255};
  int i = 0;
  for (; i + 4 <= bytes; i += 4) {
    v4f s = k0 * Load4(u + i) + k1 * Load4(u + i + 3) + k2 * Load4(u + i + 6) + k3 * Load4(m + i) +
            k4 * Load4(m + i + 3) + k5 * Load4(m + i + 6) + k6 * Load4(d + i) + k7 * Load4(d + i + 3) +
            k8 * Load4(d + i + 6);
    v4i q = __builtin_convertvector(s / dv, v4i);
    q = q < lo ? lo : q;
    q = q > hi ? hi : q;
    v4b b = __builtin_convertvector(q, v4b);
    std::memcpy(out + i, &b, 4);
  }
  for (; i < bytes; ++i) {
    float s = k[0] * u[i] + k[1] * u[i + 3] + k[2] * u[i + 6] + k[3] * m[i] + k[4] * m[i + 3] + k[5] * m[i + 6] +
              k[6] * d[i] + k[7] * d[i + 3] + k[8] * d[i + 6];
    out[i] = static_cast<uint8_t>(blimit(static_cast<int>(s / divisor)));
  }
}

// Any kernel: the sums wrap at 32 bits as the kernel tables hold them.
void FilterRowExact(const int32_t* u, const int32_t* m, const int32_t* d, uint8_t* out, int bytes,
                    const int32_t* k, int32_t divisor) {
  for (int i = 0; i < bytes; ++i) {
    uint32_t s = uint32_t(k[0]) * uint32_t(u[i]) + uint32_t(k[1]) * uint32_t(u[i + 3]) +
                 uint32_t(k[2]) * uint32_t(u[i + 6]) + uint32_t(k[3]) * uint32_t(m[i]) +
                 uint32_t(k[4]) * uint32_t(m[i + 3]) + uint32_t(k[5]) * uint32_t(m[i + 6]) +
                 uint32_t(k[6]) * uint32_t(d[i]) + uint32_t(k[7]) * uint32_t(d[i + 3]) +
                 uint32_t(k[8]) * uint32_t(d[i + 6]);
    const int64_t q = int64_t(static_cast<int32_t>(s)) / divisor;
    out[i] = static_cast<uint8_t>(q < 0 ? 0 : (q > 255 ? 255 : q));
  }
}

template <typename T, typename RowFn>
void Convolve(TBitmap& bmp, int x1, int y1, int x2, int y2, TProgressRec& progress, RowFn rowFn) {
  TRowCache<T> cache(bmp, x1, x2);
  const int h = bmp.Height();
  const int bytes = 3 * (x2 - x1 + 1);
  for (int y = y1; y <= y2; ++y) {
    const T* u = cache.Row(imax(y - 1, 0));
    const T* m = cache.Row(y);
    const T* d = cache.Row(imin(y + 1, h - 1));
    rowFn(u, m, d, bmp.ScanLine(y) + 3 * x1, bytes);
    if (progress.OnProgress) progress.OnProgress(progress.Sender, static_cast<int>((y - y1 + 1) * 100 / (y2 - y1 + 0.5)));
  }
}

}  // namespace

void _ApplyFilter(TBitmap& bmp, const TGraphFilter& filter, int x1, int y1, int x2, int y2,
                  TProgressRec& progress) {
  if (bmp.PixelFormat() != pf24bit || !ClampRect(bmp, x1, y1, x2, y2)) return;
  const int32_t divisor = filter.Divisor == 0 ? 1 : filter.Divisor;
  int64_t reach = 0;
  for (int32_t v : filter.Values) reach += std::llabs(int64_t(v)) * 255;
  if (reach < (int64_t(1) << 24) && std::llabs(int64_t(divisor)) < (int64_t(1) << 24)) {
    float k[9];
    for (int i = 0; i < 9; ++i) k[i] = static_cast<float>(filter.Values[i]);
    const float fd = static_cast<float>(divisor);
    Convolve<float>(bmp, x1, y1, x2, y2, progress,
                    [&](const float* u, const float* m, const float* d, uint8_t* out, int bytes) {
                      FilterRowFloat(u, m, d, out, bytes, k, fd);
                    });
  } else {
    Convolve<int32_t>(bmp, x1, y1, x2, y2, progress,
                      [&](const int32_t* u, const int32_t* m, const int32_t* d, uint8_t* out, int bytes) {
                        FilterRowExact(u, m, d, out, bytes, filter.Values, divisor);
                      });
  }
}

bool LoadFilterFromFile(const std::string& fileName, TGraphFilter& filter) {
  TFileStream f(fileName, fmOpenRead);
  uint8_t head[3];
  if (f.Read(head, 3) != 3 || head[0] != 1 || head[1] != 3 || head[2] != 3) return false;
  uint8_t rec[40];
  const int64_t got = f.Read(rec, 40);
  // Fields are little-endian in the file whatever the host order.
  for (int i = 0; i < 10 && (i + 1) * 4 <= got; ++i) {
    const uint8_t* p = rec + 4 * i;
    const int32_t v = static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24));
    if (i < 9)
      filter.Values[i] = v;
    else
      filter.Divisor = v;
  }
  return got == 40;
}

TGraphFilter LoadFilterFromFile(const std::string& fileName) {
  TGraphFilter f;
  LoadFilterFromFile(fileName, f);
  return f;
}

void SaveFilterToFile(const std::string& fileName, const TGraphFilter& filter) {
  TFileStream f(fileName, fmCreate);
  const uint8_t head[3] = {1, 3, 3};
  f.WriteBuffer(head, 3);
  for (int32_t v : filter.Values) f.WriteI32(v);
  f.WriteI32(filter.Divisor);
}

}  // namespace vexa
