// Run-length PCX and TGA of a 4000 x 3000 24-bit picture, written and read in memory.
#include <benchmark/benchmark.h>

#include "vexa/codecs/pcx.h"
#include "vexa/codecs/tga.h"
#include "vexa/core/sample.h"

using namespace vexa;

namespace {

const TBitmap& Picture() {
  static const TBitmap picture = VXMakeSampleImage(4000, 3000);
  return picture;
}

TIOParamsVals RleParams() {
  TIOParamsVals p;
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 3;
  p.PCX_Compression = ioPCX_RLE;
  p.TGA_Compressed = true;
  return p;
}

template <typename Write>
void BenchWrite(benchmark::State& state, Write write) {
  TBitmap bmp = Picture();
  TIOParamsVals p = RleParams();
  TProgressRec pr;
  TMemoryStream out;
  for (auto _ : state) {
    out.Clear();
    write(out, bmp, p, pr);
    benchmark::DoNotOptimize(out.Memory());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bmp.Width()) * bmp.Height() * 3);
  state.counters["encoded_MB"] = static_cast<double>(out.Size()) / 1e6;
}

template <typename Write, typename Read>
void BenchRead(benchmark::State& state, Write write, Read read) {
  TBitmap bmp = Picture();
  TIOParamsVals p = RleParams();
  TProgressRec pr;
  TMemoryStream encoded;
  write(encoded, bmp, p, pr);
  TBitmap decoded;
  for (auto _ : state) {
    encoded.SetPosition(0);
    read(encoded, decoded, p, pr);
    benchmark::DoNotOptimize(decoded.Bits());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bmp.Width()) * bmp.Height() * 3);
}

void PcxWrite(TStream& s, TBitmap& b, TIOParamsVals& p, TProgressRec& pr) { WritePcxStream(s, b, p, pr); }
void PcxRead(TStream& s, TBitmap& b, TIOParamsVals& p, TProgressRec& pr) { ReadPcxStream(s, b, p, false, pr, s.Size()); }
void TgaWrite(TStream& s, TBitmap& b, TIOParamsVals& p, TProgressRec& pr) { WriteTGAStream(s, b, p, pr); }
void TgaRead(TStream& s, TBitmap& b, TIOParamsVals& p, TProgressRec& pr) { ReadTGAStream(s, b, p, false, pr); }

void BM_PcxRleWrite24(benchmark::State& state) { BenchWrite(state, PcxWrite); }
void BM_PcxRleRead24(benchmark::State& state) { BenchRead(state, PcxWrite, PcxRead); }
void BM_TgaRleWrite24(benchmark::State& state) { BenchWrite(state, TgaWrite); }
void BM_TgaRleRead24(benchmark::State& state) { BenchRead(state, TgaWrite, TgaRead); }

}  // namespace

BENCHMARK(BM_PcxRleWrite24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PcxRleRead24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TgaRleWrite24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TgaRleRead24)->Unit(benchmark::kMillisecond);
