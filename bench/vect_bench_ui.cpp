// Painting 10,000 vector objects over a 4000 x 3000 image into an 800 x 600 view
// (goal: under 16 ms per paint at zoom 100 when most objects lie outside the view;
// the all-visible figure is recorded beside it). The image alone is the baseline.
// Runs on the offscreen platform.
#include <benchmark/benchmark.h>

#include <QImage>

#include "bench_app_ui.h"
#include "vexa/core/sample.h"
#include "vexa/vect/vexavect_ui.h"

using namespace vexa;
using vexa::bench::App;

namespace {

const TBitmap& Photo() {
  static const TBitmap bmp = VXMakeSampleImage(4000, 3000, 1);
  return bmp;
}

// A mix of lines, arrows, boxes, ellipses and texts spread over w x h pixels.
void Populate(TVexaVect& v, int count, int w, int h) {
  uint32_t seed = 12345;
  auto next = [&](int n) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>((seed >> 8) % static_cast<uint32_t>(n));
  };
  static const TVXVObjectKind kinds[] = {vxkLINE, vxkBOX, vxkELLIPSE, vxkLINE, vxkBOX, vxkTEXT};
  for (int i = 0; i < count; ++i) {
    const TVXVObjectKind kind = kinds[i % 6];
    const int x = next(w - 60), y = next(h - 40);
    v.SetObjKind(kVXTemplate, kind);
    v.SetObjRect(kVXTemplate, {x, y, x + 10 + next(50), y + 10 + next(30)});
    v.SetObjPenColor(kVXTemplate, static_cast<TColor>(next(0xFFFFFF)));
    v.SetObjEndShape(kVXTemplate, i % 3 == 0 ? vxsOUTARROW : vxsNONE);
    const int idx = v.AddNewObject();
    if (kind == vxkTEXT) v.SetObjText(idx, "label");
  }
}

void Paint(benchmark::State& state, int objects, int spreadW, int spreadH) {
  App();
  TVexaVect view;
  view.SetBorderStyle(bsNone);
  view.resize(800, 600);
  view.Bitmap() = Photo();
  view.LockPaint();
  Populate(view, objects, spreadW, spreadH);
  view.NPUnLockPaint();
  view.Update();
  QImage target(800, 600, QImage::Format_RGB32);
  for (auto _ : state) {
    TCanvas canvas(&target);
    view.PaintTo(canvas);
    benchmark::DoNotOptimize(target.bits());
  }
  state.counters["objects"] = objects;
}

void BM_PaintImageOnly(benchmark::State& s) { Paint(s, 0, 4000, 3000); }
void BM_Paint10000MostlyOutside(benchmark::State& s) { Paint(s, 10000, 4000, 3000); }
void BM_Paint10000AllVisible(benchmark::State& s) { Paint(s, 10000, 800, 600); }

}  // namespace

BENCHMARK(BM_PaintImageOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Paint10000MostlyOutside)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Paint10000AllVisible)->Unit(benchmark::kMillisecond);
