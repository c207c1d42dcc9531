// Resampling, rotation, flips and morphology on a 4000 x 3000 24-bit photo-like
// image, and the Fourier transform of a 1024 x 1024 one.
#include <benchmark/benchmark.h>

#include "vexa/core/parallel.h"
#include "vexa/core/sample.h"
#include "vexa/proc/effects.h"
#include "vexa/proc/fft.h"
#include "vexa/proc/geometry.h"
#include "vexa/proc/resample.h"

using namespace vexa;

namespace {

constexpr int kW = 4000, kH = 3000;

const TBitmap& Image() {
  static const TBitmap img = VXMakeSampleImage(kW, kH);
  return img;
}

// The last argument of the split operations is the thread count.
void Resample(benchmark::State& state, TResampleFilter filter, int w, int h) {
  VXSetThreadCount(static_cast<int>(state.range(0)));
  const TBitmap& src = Image();
  TBitmap dst(w, h, pf24bit);
  for (auto _ : state) {
    _Resample(src, dst, filter, nullptr, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kW) * kH * 3);
}

void BM_ResampleTriangleDown(benchmark::State& s) { Resample(s, rfTriangle, 1000, 750); }
void BM_ResampleLanczos3Down(benchmark::State& s) { Resample(s, rfLanczos3, 1000, 750); }
void BM_ResampleTriangleUp(benchmark::State& s) { Resample(s, rfTriangle, 8000, 6000); }
void BM_ResampleLanczos3Up(benchmark::State& s) { Resample(s, rfLanczos3, 8000, 6000); }

// Every filter, one thread: down to a quarter and up to twice the size.
void BM_ResampleFilter(benchmark::State& state) {
  VXSetThreadCount(1);
  const TBitmap& src = Image();
  const bool up = state.range(1) != 0;
  TBitmap dst(up ? 2 * kW : kW / 4, up ? 2 * kH : kH / 4, pf24bit);
  for (auto _ : state) {
    _Resample(src, dst, static_cast<TResampleFilter>(state.range(0)), nullptr, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kW) * kH * 3);
}

void Rotate(benchmark::State& state, bool antiAlias) {
  VXSetThreadCount(static_cast<int>(state.range(0)));
  const TBitmap& src = Image();
  TBitmap out;
  TProgressRec rec;
  for (auto _ : state) {
    _RotateShear(src, out, 30, antiAlias, TRGB{}, rec);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kW) * kH * 3);
}

void BM_Rotate30(benchmark::State& s) { Rotate(s, false); }
void BM_Rotate30AntiAlias(benchmark::State& s) { Rotate(s, true); }

void BM_Rot90(benchmark::State& state) {
  VXSetThreadCount(static_cast<int>(state.range(0)));
  TBitmap out;
  for (auto _ : state) {
    _Rot90(Image(), out);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kW) * kH * 3);
}

void BM_Flip(benchmark::State& state) {
  VXSetThreadCount(static_cast<int>(state.range(1)));
  TBitmap img = Image();
  const TFlipDir dir = state.range(0) ? fdVertical : fdHorizontal;
  for (auto _ : state) {
    _Flip(img, dir);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kW) * kH * 3);
}

void BM_Morph(benchmark::State& state) {
  VXSetThreadCount(static_cast<int>(state.range(1)));
  TBitmap img = Image();
  const int op = static_cast<int>(state.range(0));
  for (auto _ : state) {
    _MorphFilter(img, 1, op, 0, 0, kW - 1, kH - 1, nullptr, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kW) * kH * 3);
}

void BM_FFT1024(benchmark::State& state) {
  VXSetThreadCount(static_cast<int>(state.range(1)));
  const TBitmap img = VXMakeSampleImage(1024, 1024);
  const TVXFtImageType type = state.range(0) ? vxitRGB : vxitGrayscale;
  TVXFtImage ft;
  for (auto _ : state) {
    ft.BuildFT(img, type);
    benchmark::ClobberMemory();
  }
}

void BM_Wave(benchmark::State& state) {
  VXSetThreadCount(static_cast<int>(state.range(0)));
  TBitmap img = Image();
  TProgressRec rec;
  for (auto _ : state) {
    _wave(img, 5, 20, 0, false, rec);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kW) * kH * 3);
}

void BM_Lens(benchmark::State& state) {
  VXSetThreadCount(static_cast<int>(state.range(0)));
  TBitmap img = Image();
  TProgressRec rec;
  for (auto _ : state) {
    _lens(img, kW / 2, kH / 2, kW / 2, kH / 2, 1.5, rec);
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(BM_ResampleTriangleDown)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResampleLanczos3Down)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResampleTriangleUp)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResampleLanczos3Up)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResampleFilter)
    ->ArgsProduct({{rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell}, {0, 1}})
    ->ArgNames({"filter", "up"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate30)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate30AntiAlias)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rot90)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Flip)->ArgsProduct({{0, 1}, {1, 2}})->ArgNames({"vertical", "threads"})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Morph)->ArgsProduct({{0, 1, 2, 3}, {1, 2}})->ArgNames({"op", "threads"})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FFT1024)->ArgsProduct({{0, 1}, {1, 2}})->ArgNames({"rgb", "threads"})->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wave)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lens)->Arg(1)->Arg(2)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
