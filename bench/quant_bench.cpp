// Quantizer and colour-depth benchmarks on a 4000 x 3000 photo-like image.
//
// For the whole-process comparison with ImageMagick, time
//   MAGICK_THREAD_LIMIT=1 convert sample.ppm -colors 256 +dither out.ppm
// on the same image (the ConvertTo256 case here is the in-library equivalent).
#include <benchmark/benchmark.h>

#include <vector>

#include "vexa/core/parallel.h"
#include "vexa/core/sample.h"
#include "vexa/quant/colordepth.h"
#include "vexa/quant/neuquant.h"
#include "vexa/quant/quantizer.h"

using namespace vexa;

namespace {

const TBitmap& Photo() {
  static const TBitmap bmp = VXMakeSampleImage(4000, 3000, 1);
  return bmp;
}

void BM_MedianCutCreate256(benchmark::State& state) {
  const TBitmap& src = Photo();
  for (auto _ : state) {
    std::vector<TRGB> pal(256);
    TVXQuantizer q(src, pal, 256);
    benchmark::DoNotOptimize(pal.data());
  }
}
BENCHMARK(BM_MedianCutCreate256)->Unit(benchmark::kMillisecond);

// Creation plus the per-pixel mapping: the whole of _ConvertTo(256).
void BM_ConvertTo256(benchmark::State& state) {
  VXSetThreadCount(static_cast<int>(state.range(0)));
  const TBitmap& src = Photo();
  for (auto _ : state) {
    state.PauseTiming();
    TBitmap bmp = src;
    state.ResumeTiming();
    _ConvertTo(bmp, 256, nullptr);
    benchmark::DoNotOptimize(bmp.Bits());
  }
}
BENCHMARK(BM_ConvertTo256)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_NeuQuantCreate(benchmark::State& state) {
  const TBitmap& src = Photo();
  const int ncol = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<TRGB> pal;
    TNeuQuant* q = CreateNeuQuant(src, pal, ncol, NeuQuantSampleFactor(src.Width(), src.Height(), -1));
    benchmark::DoNotOptimize(pal.data());
    FreeNeuQuant(q);
  }
}
// Called directly: TVXQuantizer would take the median cut for 256 colours.
BENCHMARK(BM_NeuQuantCreate)->Arg(256)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_ConvertTo4096(benchmark::State& state) {
  const TBitmap& src = Photo();
  for (auto _ : state) {
    state.PauseTiming();
    TBitmap bmp = src;
    state.ResumeTiming();
    _ConvertTo(bmp, 4096, nullptr);
    benchmark::DoNotOptimize(bmp.Bits());
  }
}
BENCHMARK(BM_ConvertTo4096)->Unit(benchmark::kMillisecond);

void BM_OrderedDither(benchmark::State& state) {
  const TBitmap& src = Photo();
  for (auto _ : state) {
    state.PauseTiming();
    TBitmap bmp = src;
    state.ResumeTiming();
    _ConvertToBWOrdered(bmp, nullpr);
    benchmark::DoNotOptimize(bmp.Bits());
  }
}
BENCHMARK(BM_OrderedDither)->Unit(benchmark::kMillisecond);

void BM_Conv1to24(benchmark::State& state) {
  TBitmap bw = Photo();
  _ConvertToBWOrdered(bw, nullpr);
  TBitmap dst;
  for (auto _ : state) {
    _Conv1to24(bw, dst, nullpr);
    benchmark::DoNotOptimize(dst.Bits());
  }
}
BENCHMARK(BM_Conv1to24)->Unit(benchmark::kMillisecond);

}  // namespace
