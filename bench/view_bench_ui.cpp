// Painting a 4000 x 3000 image into an 800 x 600 view: what one repaint of the
// picture costs at the common zooms (goal: under 16 ms at zoom 100). Runs on the
// offscreen platform.
#include <benchmark/benchmark.h>

#include <QImage>

#include "bench_app_ui.h"
#include "vexa/core/sample.h"
#include "vexa/view/vexaview_ui.h"

using namespace vexa;
using vexa::bench::App;

namespace {

const TBitmap& Photo() {
  static const TBitmap bmp = VXMakeSampleImage(4000, 3000, 1);
  return bmp;
}

void PaintAt(benchmark::State& state, int zoom, TResampleFilter filter) {
  App();
  TVexaView view;
  view.resize(800, 600);
  view.Bitmap() = Photo();
  view.SetZoomFilter(filter);
  view.SetZoom(zoom);
  view.SetViewXY(300, 200);
  QImage target(800, 600, QImage::Format_RGB32);
  for (auto _ : state) {
    TCanvas canvas(&target);
    view.PaintTo(canvas);
    benchmark::DoNotOptimize(target.bits());
  }
}

void BM_PaintZoom100(benchmark::State& s) { PaintAt(s, 100, rfNone); }
void BM_PaintZoom37(benchmark::State& s) { PaintAt(s, 37, rfNone); }
void BM_PaintZoom400(benchmark::State& s) { PaintAt(s, 400, rfNone); }
void BM_PaintZoom400Triangle(benchmark::State& s) { PaintAt(s, 400, rfTriangle); }

// A timer tick of the selection animation on a shown view: the picture is cached,
// so a tick costs one blit of the frame plus the outline.
void BM_AnimationTickWithSelection(benchmark::State& state) {
  App();
  TVexaView view;
  view.resize(800, 600);
  view.Bitmap() = Photo();
  view.Update();
  view.SelectionBase = vxsbBitmap;
  view.Select(100, 100, 700, 500);
  view.show();
  QApplication::processEvents();
  for (auto _ : state) {
    view.AniPolyFunc(true);
    view.repaint();
  }
}

}  // namespace

BENCHMARK(BM_PaintZoom100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintZoom37)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintZoom400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintZoom400Triangle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnimationTickWithSelection)->Unit(benchmark::kMillisecond);
