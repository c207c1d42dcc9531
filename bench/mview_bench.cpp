// The thumbnail grid's loader and the multi-image codecs:
// - thumbnails per second from a folder of 4000 x 3000 JPEGs at 100 x 100 (reduced
//   JPEG decoding, then the plain stretch), to set beside `vipsthumbnail` on the
//   same files (scripts/bench_thumbs.sh prints both);
// - all frames of a 100-frame 640 x 480 GIF and TIFF into a grid.
// Files are made once under $TMPDIR/vexa-mview-bench.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "vexa/codecs/lzw.h"
#include "vexa/core/sample.h"
#include "vexa/io/vexaio.h"
#include "vexa/mview/vexamio.h"

using namespace vexa;
namespace fs = std::filesystem;

namespace {

fs::path BenchDir() {
  fs::path d = fs::temp_directory_path() / "vexa-mview-bench";
  fs::create_directories(d);
  return d;
}

// The folder of photographs; VEXA_BENCH_JPEGS sets how many (default 16).
const std::vector<std::string>& Photos() {
  static std::vector<std::string> files = [] {
    const char* env = std::getenv("VEXA_BENCH_JPEGS");
    const int n = env ? std::max(1, std::atoi(env)) : 16;
    fs::path dir = BenchDir() / "photos";
    fs::create_directories(dir);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
      fs::path f = dir / ("photo" + std::to_string(i) + ".jpg");
      if (!fs::exists(f)) {
        TBitmap b = VXMakeSampleImage(4000, 3000, static_cast<uint32_t>(i + 1));
        TVexaIO io;
        io.SetAttachedBitmap(&b);
        io.Params.JPEG_Quality = 85;
        io.SaveToFileJpeg(f.string());
      }
      out.push_back(f.string());
    }
    return out;
  }();
  return files;
}

void BM_ThumbnailsFromJpegs(benchmark::State& state) {
  const auto& files = Photos();
  for (auto _ : state) {
    TVXImageGrid grid;
    grid.SetStoreType(vxtThumb);
    for (const std::string& f : files) grid.SetImageFileName(grid.AppendImage(), f);
    grid.Deselect();
    for (int i = 0; i < grid.GetImageCount(); ++i) benchmark::DoNotOptimize(grid.ObtainImage(i));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(files.size()));
}
BENCHMARK(BM_ThumbnailsFromJpegs)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string MultiFrame(const char* ext) {
  fs::path f = BenchDir() / (std::string("frames100") + ext);
  if (!fs::exists(f)) {
    VXInstallLZWCoders();
    TVXImageGrid grid;
    TVexaMIO mio;
    mio.SetAttachedMView(&grid);
    for (int i = 0; i < 100; ++i)
      grid.SetImage(grid.AppendImage(), VXMakeSampleImage(640, 480, static_cast<uint32_t>(i + 1)));
    mio.SaveToFile(f.string());
  }
  return f.string();
}

void LoadAll(benchmark::State& state, const char* ext) {
  VXInstallLZWCoders();
  const std::string f = MultiFrame(ext);
  for (auto _ : state) {
    TVXImageGrid grid;
    TVexaMIO mio;
    mio.SetAttachedMView(&grid);
    mio.LoadFromFile(f);
    if (grid.GetImageCount() != 100) state.SkipWithError("frames missing");
  }
  state.SetItemsProcessed(state.iterations() * 100);
}

void BM_GifLoad100Frames(benchmark::State& s) { LoadAll(s, ".gif"); }
void BM_TiffLoad100Frames(benchmark::State& s) { LoadAll(s, ".tif"); }
BENCHMARK(BM_GifLoad100Frames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffLoad100Frames)->Unit(benchmark::kMillisecond);

}  // namespace
