// One repaint of a thumbnail grid with 500 visible cells (goal: under 16 ms).
// Runs on the offscreen platform.
#include <benchmark/benchmark.h>

#include <QImage>

#include "bench_app_ui.h"
#include "vexa/core/sample.h"
#include "vexa/mview/vexamview_ui.h"

using namespace vexa;

namespace {

void BM_GridPaint500(benchmark::State& state) {
  bench::App();
  TVexaMView view;
  view.resize(25 * 104 + 4, 20 * 104 + 4);  // 25 x 20 cells
  view.SetGridWidth(-1);
  view.SetStoreType(vxtThumb);
  view.LockPaint();
  for (int i = 0; i < 500; ++i)
    view.SetImageNU(view.AppendImage(), VXMakeSampleImage(400, 300, static_cast<uint32_t>(i % 7 + 1)));
  view.NPUnLockPaint();
  view.Update();
  QImage target(view.ClientWidth(), view.ClientHeight(), QImage::Format_RGB32);
  for (auto _ : state) {
    TCanvas canvas(&target);
    view.PaintTo(canvas);
    benchmark::DoNotOptimize(target.bits());
  }
  state.SetItemsProcessed(state.iterations() * 500);
}
BENCHMARK(BM_GridPaint500)->Unit(benchmark::kMillisecond);

}  // namespace
