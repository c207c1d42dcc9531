// BMP reading and writing of a 4000 x 3000 picture, 24-bit and RLE8.
#include <benchmark/benchmark.h>

#include "vexa/codecs/bmp.h"

using namespace vexa;

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

// Smooth bands with flat areas: compresses the way a drawing or a screenshot does.
TBitmap Picture() {
  TBitmap b(kWidth, kHeight, pf24bit);
  for (int y = 0; y < kHeight; ++y) {
    TRGB* row = reinterpret_cast<TRGB*>(b.ScanLine(y));
    for (int x = 0; x < kWidth; ++x) {
      const int band = (x / 97 + y / 61) % 12;
      row[x] = CreateRGB(static_cast<uint8_t>(band * 20), static_cast<uint8_t>((y / 250) * 20),
                         static_cast<uint8_t>((x / 400) * 25));
    }
  }
  return b;
}

TIOParamsVals Params(int bps, int spp, TIOBMPCompression compression) {
  TIOParamsVals p;
  p.BitsPerSample = bps;
  p.SamplesPerPixel = spp;
  p.BMP_Compression = compression;
  return p;
}

void Encode(TBitmap& picture, TIOParamsVals& params, TMemoryStream& out) {
  out.Clear();
  BMPWriteStream(out, picture, params, nullpr);
}

void BM_BmpRead24(benchmark::State& state) {
  TBitmap picture = Picture();
  TIOParamsVals wp = Params(8, 3, ioBMP_UNCOMPRESSED);
  TMemoryStream file;
  Encode(picture, wp, file);
  for (auto _ : state) {
    file.SetPosition(0);
    TBitmap bitmap;
    TIOParamsVals params;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    BMPReadStream(file, bitmap, file.Size(), false, progress, params);
    benchmark::DoNotOptimize(bitmap.Bits());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 3);
}

void BM_BmpWrite24(benchmark::State& state) {
  TBitmap picture = Picture();
  TIOParamsVals params = Params(8, 3, ioBMP_UNCOMPRESSED);
  TMemoryStream file;
  Encode(picture, params, file);  // the stream keeps its capacity from here on
  for (auto _ : state) {
    file.SetPosition(0);
    BMPWriteStream(file, picture, params, nullpr);
    benchmark::DoNotOptimize(file.Memory());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 3);
}

void BM_BmpReadRle8(benchmark::State& state) {
  TBitmap picture = Picture();
  TIOParamsVals wp = Params(8, 1, ioBMP_RLE);
  TMemoryStream file;
  Encode(picture, wp, file);
  state.counters["file_bytes"] = static_cast<double>(file.Size());
  for (auto _ : state) {
    file.SetPosition(0);
    TBitmap bitmap;
    TIOParamsVals params;
    bool aborting = false;
    TProgressRec progress;
    progress.Aborting = &aborting;
    BMPReadStream(file, bitmap, file.Size(), false, progress, params);
    benchmark::DoNotOptimize(bitmap.Bits());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 3);
}

// Includes building the 256-colour palette, as every palette write does.
void BM_BmpWriteRle8(benchmark::State& state) {
  TBitmap picture = Picture();
  TIOParamsVals params = Params(8, 1, ioBMP_RLE);
  TMemoryStream file;
  for (auto _ : state) {
    file.SetPosition(0);
    BMPWriteStream(file, picture, params, nullpr);
    benchmark::DoNotOptimize(file.Memory());
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 3);
}

}  // namespace

BENCHMARK(BM_BmpRead24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpWrite24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpReadRle8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpWriteRle8)->Unit(benchmark::kMillisecond);
