// GIF frame decode and encode at 1000 x 1000, with the library's LZW coders.
#include <benchmark/benchmark.h>

#include "vexa/codecs/gif.h"
#include "vexa/codecs/lzw.h"

namespace {

using namespace vexa;

// Smooth gradients with a little noise: a photo-like frame that still compresses.
TBitmap Picture() {
  TBitmap b(1000, 1000, pf24bit);
  uint32_t seed = 1;
  for (int y = 0; y < 1000; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.ScanLine(y));
    for (int x = 0; x < 1000; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 29);
      row[x] = TRGB{static_cast<uint8_t>(x / 4 + noise), static_cast<uint8_t>((x + y) / 8),
                    static_cast<uint8_t>(y / 4 + noise)};
    }
  }
  return b;
}

TIOParamsVals Params(int bits) {
  VXInstallLZWCoders();
  TIOParamsVals p;
  p.BitsPerSample = bits;
  return p;
}

void BM_GifEncode(benchmark::State& state) {
  TBitmap pic = Picture();
  TIOParamsVals params = Params(static_cast<int>(state.range(0)));
  bool aborting = false;
  TProgressRec progress;
  progress.Aborting = &aborting;
  for (auto _ : state) {
    TNulStream out;
    WriteGifStream(out, pic, params, progress);
    benchmark::DoNotOptimize(out.Size());
  }
  state.SetItemsProcessed(state.iterations() * 1000 * 1000);
}
BENCHMARK(BM_GifEncode)->Arg(8)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_GifDecode(benchmark::State& state) {
  TBitmap pic = Picture();
  TIOParamsVals params = Params(static_cast<int>(state.range(0)));
  bool aborting = false;
  TProgressRec progress;
  progress.Aborting = &aborting;
  TMemoryStream file;
  WriteGifStream(file, pic, params, progress);
  for (auto _ : state) {
    file.SetPosition(0);
    TBitmap frame;
    int32_t count = 0;
    ReadGifStream(file, frame, count, params, progress, false);
    benchmark::DoNotOptimize(frame.Bits());
  }
  state.SetItemsProcessed(state.iterations() * 1000 * 1000);
  state.counters["file_bytes"] = static_cast<double>(file.Size());
}
BENCHMARK(BM_GifDecode)->Arg(8)->Arg(1)->Unit(benchmark::kMillisecond);

// The coders alone, on the index buffer of the same frame.
void BM_GifLzwEncodeOnly(benchmark::State& state) {
  std::vector<uint8_t> indices(1000 * 1000);
  uint32_t seed = 7;
  for (size_t i = 0; i < indices.size(); ++i) {
    seed = seed * 1664525u + 1013904223u;
    indices[i] = static_cast<uint8_t>((i % 1000) / 4 + (seed >> 30));
  }
  for (auto _ : state) {
    TNulStream out;
    GifLzwEncode(out, 1000, 1000, false, indices.data(), 8);
    benchmark::DoNotOptimize(out.Size());
  }
  state.SetItemsProcessed(state.iterations() * 1000 * 1000);
}
BENCHMARK(BM_GifLzwEncodeOnly)->Unit(benchmark::kMillisecond);

}  // namespace
