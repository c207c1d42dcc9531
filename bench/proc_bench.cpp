// Processing functions on a 4000 x 3000 24-bit photo-like image. Bytes/s counts
// the image bytes each iteration reads (the YUV cases: the bytes decoded).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "vexa/core/parallel.h"
#include "vexa/core/sample.h"
#include "vexa/proc/coloradjust.h"
#include "vexa/proc/dib.h"
#include "vexa/proc/filters.h"
#include "vexa/proc/histogram.h"

using namespace vexa;

namespace {

constexpr int kW = 4000, kH = 3000;

TBitmap& Image() {
  static TBitmap img = VXMakeSampleImage(kW, kH);
  return img;
}

// The operations run in place on one image: copying 36 MB per iteration would
// hide their cost. Repeated application keeps the content photo-like enough.
// `threads` goes to VXSetThreadCount: 1 is the single-core figure. Split
// operations are timed by the clock: the workers' time is not the caller's.
template <typename Fn>
void Run(benchmark::State& state, Fn fn, int threads = 1) {
  VXSetThreadCount(threads);
  TBitmap img = Image();
  for (auto _ : state) {
    fn(img);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kW) * kH * 3);
}

// For operations whose repetition would drift the picture towards something
// cheaper (one colour, flat histogram): restore it, untimed, before each run.
template <typename Fn>
void RunFresh(benchmark::State& state, const TBitmap& src, Fn fn, int threads = 1) {
  VXSetThreadCount(threads);
  TBitmap img = src;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(img.Bits(), src.Bits(), src.ImageSize());
    state.ResumeTiming();
    fn(img);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kW) * kH * 3);
}

// Every pixel a different random colour: no colour repeats to exploit.
const TBitmap& Noise() {
  static const TBitmap img = [] {
    TBitmap b(kW, kH, pf24bit);
    uint32_t st = 12345;
    for (int y = 0; y < kH; ++y) {
      uint8_t* p = b.ScanLine(y);
      for (int i = 0; i < 3 * kW; ++i) st ^= st << 13, st ^= st >> 17, st ^= st << 5, p[i] = uint8_t(st >> 7);
    }
    return b;
  }();
  return img;
}

int Threads(const benchmark::State& s) { return static_cast<int>(s.range(0)); }

void BM_Negative(benchmark::State& s) { Run(s, [](TBitmap& b) { _Negative(b, 0, 0, kW - 1, kH - 1); }, Threads(s)); }
void BM_Gray(benchmark::State& s) {
  // Grey is idempotent after the first pass, which would not change its cost.
  Run(s, [](TBitmap& b) { _ConvertToGray(b, 0, 0, kW - 1, kH - 1); }, Threads(s));
}
void BM_IntensityRGBall(benchmark::State& s) {
  bool up = true;
  Run(s, [&](TBitmap& b) {
    _IntensityRGBall(b, up ? 10 : -10, up ? -5 : 5, 3, 0, 0, kW - 1, kH - 1);
    up = !up;
  }, Threads(s));
}
void BM_HSVvar(benchmark::State& s) {
  Run(s, [](TBitmap& b) { _HSVvar(b, 10, 5, -3, 0, 0, kW - 1, kH - 1); }, Threads(s));
}
void BM_HSLvar(benchmark::State& s) {
  RunFresh(s, Image(), [](TBitmap& b) { _HSLvar(b, 10, 5, -3, 0, 0, kW - 1, kH - 1); }, Threads(s));
}
void BM_HSLvarNoise(benchmark::State& s) {
  RunFresh(s, Noise(), [](TBitmap& b) { _HSLvar(b, 10, 5, -3, 0, 0, kW - 1, kH - 1); }, Threads(s));
}
void BM_CastColorRange(benchmark::State& s) {
  RunFresh(s, Image(), [](TBitmap& b) {
    _CastColorRange(b, TRGB{0, 0, 0}, TRGB{128, 128, 128}, TRGB{0, 0, 255}, 0, 0, kW - 1, kH - 1);
  }, Threads(s));
}
void BM_RGBChannelAll(benchmark::State& s) {
  TBitmap r, g, bl;
  Run(s, [&](TBitmap& b) { _GetRGBChannelAll(b, r, g, bl); }, Threads(s));
}
void BM_HSVChannelAll(benchmark::State& s) {
  TBitmap h, sat, v;
  Run(s, [&](TBitmap& b) { _GetHSVChannelAll(b, h, sat, v); }, Threads(s));
}
void BM_Contrast(benchmark::State& s) {
  Run(s, [](TBitmap& b) {
    int r, g, bl;
    _GetMediaContrastRGB(b, r, g, bl);
    _ContrastRGB(b, 3, r, g, bl, 0, 0, kW - 1, kH - 1);
  }, Threads(s));
}
void BM_Histogram(benchmark::State& s) {
  THistogramItem h[256];
  Run(s, [&](TBitmap& b) {
    _GetHistogram(b, h, 0, 0, kW - 1, kH - 1);
    benchmark::DoNotOptimize(h);
  }, Threads(s));
}
void BM_HistAutoEqualize(benchmark::State& s) {
  RunFresh(s, Image(), [](TBitmap& b) { _HistAutoEqualize(b, 0, 0, kW - 1, kH - 1); });
}
void BM_Filter3x3Blur(benchmark::State& s) {
  Run(s, [](TBitmap& b) { _ApplyFilter(b, VXFiltPres[fpBlur], 0, 0, kW - 1, kH - 1); }, Threads(s));
}
void BM_Filter3x3HighPass(benchmark::State& s) {
  Run(s, [](TBitmap& b) { _ApplyFilter(b, VXFiltPres[fpHighPass1], 0, 0, kW - 1, kH - 1); }, Threads(s));
}

std::vector<uint8_t> YuvDib(const char* code, size_t pixelBytes) {
  std::vector<uint8_t> d(40 + pixelBytes);
  auto put = [&](size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) d[off + i] = uint8_t(v >> (8 * i));
  };
  put(0, 40), put(4, kW), put(8, kH);
  d[12] = 1, d[14] = 16;
  put(16, uint8_t(code[0]) | (uint8_t(code[1]) << 8) | (uint8_t(code[2]) << 16) | (uint32_t(uint8_t(code[3])) << 24));
  // Luma from the sample picture's green channel, chroma varying slowly.
  for (size_t i = 0; i < pixelBytes; ++i) d[40 + i] = uint8_t(16 + (i * 7 + i / 4000) % 220);
  return d;
}

void DecodeDib(benchmark::State& state, const char* code, size_t pixelBytes) {
  const std::vector<uint8_t> dib = YuvDib(code, pixelBytes);
  TBitmap out;
  for (auto _ : state) {
    _CopyDIB2Bitmap(dib.data(), dib.size(), out);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pixelBytes));
}
void BM_DIB_YUY2(benchmark::State& s) { DecodeDib(s, "YUY2", size_t(kW) * kH * 2); }
void BM_DIB_I420(benchmark::State& s) { DecodeDib(s, "I420", size_t(kW) * kH * 3 / 2); }

}  // namespace

BENCHMARK(BM_Negative)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gray)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntensityRGBall)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HSVvar)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HSLvar)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HSLvarNoise)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CastColorRange)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGBChannelAll)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HSVChannelAll)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Contrast)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Histogram)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistAutoEqualize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Filter3x3Blur)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Filter3x3HighPass)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DIB_YUY2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DIB_I420)->Unit(benchmark::kMillisecond);
