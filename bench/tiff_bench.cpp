// TIFF and CCITT speed: a 2480 x 3508 bilevel page (A4 at 300 dpi) through the fax
// coders, 4000 x 3000 RGB pages through LZW and PackBits, and the same RGB page as
// libtiff's tiffcp writes it (256 x 256 tiles with Deflate and predictor, LZW and JPEG
// strips) read back on 1 and 2 threads.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "vexa/codecs/lzw.h"
#include "vexa/codecs/tiff.h"
#include "vexa/core/parallel.h"

namespace {

using namespace vexa;

/// A page of text-like blocks: lines of small glyph-sized marks with margins.
const TBitmap& TextPage() {
  static const TBitmap page = [] {
    TBitmap b(2480, 3508, pf1bit);
    std::mt19937 rng(7);
    for (int y = 0; y < b.Height(); ++y) std::fill_n(b.ScanLine(y), b.RowLen(), 0xFF);
    for (int line = 300; line + 40 < 3200; line += 60) {
      for (int x = 250; x + 30 < 2230;) {
        const int w = 12 + static_cast<int>(rng() % 18), h = 20 + static_cast<int>(rng() % 14);
        if (rng() % 7 != 0)
          for (int y = line + (34 - h); y < line + 34; ++y)
            for (int i = x; i < x + w; ++i)
              if ((i - x) % 5 != 2 || (y - line) % 9 < 3) _SetPixelbw(b.ScanLine(y), i, 0);
        x += w + 6 + static_cast<int>(rng() % 8);
      }
    }
    return b;
  }();
  return page;
}

/// A smooth picture with some noise, like a photograph.
const TBitmap& Photo() {
  static const TBitmap photo = [] {
    TBitmap b(4000, 3000, pf24bit);
    std::mt19937 rng(3);
    for (int y = 0; y < b.Height(); ++y) {
      uint8_t* row = b.ScanLine(y);
      for (int x = 0; x < b.Width(); ++x) {
        const int n = static_cast<int>(rng() % 5);
        row[3 * x] = static_cast<uint8_t>((x / 16 + n) & 255);
        row[3 * x + 1] = static_cast<uint8_t>((y / 12 + x / 40) & 255);
        row[3 * x + 2] = static_cast<uint8_t>(((x + y) / 24 + n) & 255);
      }
    }
    return b;
  }();
  return photo;
}

TIOParamsVals Params(TIOTIFFCompression c, bool bilevel) {
  VXInstallLZWCoders();
  TIOParamsVals p;
  p.TIFF_Compression = c;
  p.BitsPerSample = bilevel ? 1 : 8;
  p.SamplesPerPixel = bilevel ? 1 : 3;
  p.TIFF_LZWCompFunc = DefTIFF_LZWCOMPFUNC;
  p.TIFF_LZWDecompFunc = DefTIFF_LZWDECOMPFUNC;
  return p;
}

void Encode(benchmark::State& state, TIOTIFFCompression c, bool bilevel) {
  TBitmap src = bilevel ? TextPage() : Photo();
  TIOParamsVals p = Params(c, bilevel);
  int64_t bytes = 0;
  for (auto _ : state) {
    TMemoryStream ms;
    TIFFWriteStream(ms, false, src, p, nullpr);
    bytes = ms.Size();
    benchmark::DoNotOptimize(ms.Memory());
  }
  state.counters["file_bytes"] = static_cast<double>(bytes);
  state.SetItemsProcessed(state.iterations() * src.Width() * src.Height());
}

// Reads the one page of `bytes` on every iteration.
void ReadLoop(benchmark::State& state, const std::vector<uint8_t>& bytes, TIOParamsVals& p, int64_t pixels) {
  for (auto _ : state) {
    TMemoryStream file(bytes.data(), bytes.size());
    TBitmap bmp;
    bool aborting = false;
    TProgressRec pr;
    pr.Aborting = &aborting;
    int32_t pages = 0;
    TIFFReadStream(&bmp, file, pages, &p, pr, false);
    if (aborting) state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(bmp.Bits());
  }
  state.SetItemsProcessed(state.iterations() * pixels);
}

void Decode(benchmark::State& state, TIOTIFFCompression c, bool bilevel) {
  TBitmap src = bilevel ? TextPage() : Photo();
  TIOParamsVals p = Params(c, bilevel);
  TMemoryStream file;
  TIFFWriteStream(file, false, src, p, nullpr);
  ReadLoop(state, std::vector<uint8_t>(file.Memory(), file.Memory() + file.Size()), p,
           int64_t{src.Width()} * src.Height());
}

// The photograph rewritten by tiffcp with `args`; empty when tiffcp is missing.
std::vector<uint8_t> MadeByTiffcp(const std::string& args) {
  TIOParamsVals p = Params(ioTIFF_UNCOMPRESSED, false);
  TMemoryStream plain;
  TBitmap src = Photo();
  TIFFWriteStream(plain, false, src, p, nullpr);
  const std::string in = "/tmp/vexa-tiff-bench-in.tif", out = "/tmp/vexa-tiff-bench-out.tif";
  plain.SaveToFile(in);
  std::vector<uint8_t> bytes;
  if (std::system(("tiffcp " + args + " " + in + " " + out + " 2>/dev/null").c_str()) == 0) {
    TMemoryStream made;
    made.LoadFromFile(out);
    bytes.assign(made.Memory(), made.Memory() + made.Size());
  }
  std::remove(in.c_str());
  std::remove(out.c_str());
  return bytes;
}

// On state.range(0) threads: rows of strips or tiles decode side by side.
void DecodeMade(benchmark::State& state, const char* args) {
  const std::vector<uint8_t> bytes = MadeByTiffcp(args);
  if (bytes.empty()) return state.SkipWithError("tiffcp is not installed");
  TIOParamsVals p = Params(ioTIFF_UNCOMPRESSED, false);
  VXSetThreadCount(static_cast<int>(state.range(0)));
  ReadLoop(state, bytes, p, int64_t{Photo().Width()} * Photo().Height());
  VXSetThreadCount(0);
}

BENCHMARK_CAPTURE(DecodeMade, DeflateTiles, "-t -w 256 -l 256 -c zip:2")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeMade, LzwStrips, "-r 64 -c lzw:2")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeMade, JpegStrips, "-r 16 -c jpeg")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, G4, ioTIFF_G4FAX, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, G4, ioTIFF_G4FAX, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, G3_2D, ioTIFF_G3FAX2D, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, G3_2D, ioTIFF_G3FAX2D, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, LzwRgb, ioTIFF_LZW, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, LzwRgb, ioTIFF_LZW, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, PackBitsRgb, ioTIFF_PACKBITS, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, PackBitsRgb, ioTIFF_PACKBITS, false)->Unit(benchmark::kMillisecond);

}  // namespace
