// Live video: frames per second that reach OnVideoFrame from the 30 fps test
// pattern at 1280 x 720 with the preview painted into a 1280 x 720 view, and the
// process's CPU share meanwhile (getrusage: capture thread and UI thread
// together, as a fraction of one core). Beside it, the per-frame costs: drawing
// the pattern and decoding the frame formats cameras send.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <thread>

#include "bench_app_ui.h"
#include "vexa/acquire/videoview_ui.h"
#include "vexa/codecs/jpeg.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace {

using namespace vexa;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void BM_LivePreview1280x720(benchmark::State& state) {
  bench::App();
  VXEnableTestCapture(true);
  TVexaVideoView view;
  view.SetBorderStyle(bsNone);
  view.resize(1280, 720);
  view.SetVideoSource(static_cast<int>(view.VideoSourceList.size()) - 1);
  int frames = 0;
  int64_t lastCounter = -1;
  bool ordered = true;
  view.SetOnVideoFrame([&](TObject*, TBitmap* bmp) {
    ++frames;
    const int64_t c = VXReadPatternCounter(*bmp);
    ordered = ordered && c > lastCounter;
    lastCounter = c;
  });
  view.SetPreviewRate(33);
  view.show();
  QCoreApplication::processEvents();
  view.SetShowVideo(true);
  view.CaptureService().SetMode({1280, 720, kVXBI_RGB, "RGB 24"});
  // Settle: the first frames pay for allocations.
  {
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
  }
  QElapsedTimer t;
  double seconds = 0, cpu = 0;
  int counted = 0;
  for (auto _ : state) {
    frames = 0;
    const double c0 = CpuSeconds();
    t.restart();
    // Waiting in the event loop, as an application does.
    QEventLoop loop;
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    loop.exec();
    seconds += t.elapsed() / 1000.0;
    cpu += CpuSeconds() - c0;
    counted += frames;
    state.SetIterationTime(t.elapsed() / 1000.0);
  }
  state.counters["fps"] = counted / seconds;
  state.counters["cpu_share"] = cpu / seconds;
  state.counters["ui_skipped"] = static_cast<double>(view.SkippedFrames());
  if (!ordered) state.SkipWithError("frame counters out of order");
  view.SetShowVideo(false);
  VXEnableTestCapture(false);
}
BENCHMARK(BM_LivePreview1280x720)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_DrawTestPattern1280x720(benchmark::State& state) {
  TBitmap bmp(1280, 720);
  uint32_t n = 0;
  for (auto _ : state) VXDrawTestPattern(bmp, n++);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrawTestPattern1280x720);

std::vector<uint8_t> Block(uint32_t compression, int bits) {
  TVXBitmapInfoHeader h;
  h.Width = 1280;
  h.Height = 720;
  h.BitCount = static_cast<uint16_t>(bits);
  h.Compression = compression;
  return VXMakeFormatBlock(h);
}

void BM_DecodeYuyv1280x720(benchmark::State& state) {
  std::vector<uint8_t> data(1280 * 720 * 2);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  const std::vector<uint8_t> fmt = Block(kVXFourCC_YUY2, 16);
  TVXFrameDecoder d;
  TBitmap bmp;
  for (auto _ : state) d.Decode(fmt.data(), fmt.size(), data.data(), data.size(), bmp);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeYuyv1280x720);

void BM_DecodeMjpeg1280x720(benchmark::State& state) {
  TBitmap src(1280, 720);
  VXDrawTestPattern(src, 1);
  TMemoryStream jpeg;
  TIOParamsVals params;
  params.JPEG_Quality = 85;
  WriteJPegStream(jpeg, src, params, nullpr);
  const std::vector<uint8_t> fmt = Block(kVXFourCC_MJPG, 24);
  TVXFrameDecoder d;
  TBitmap bmp;
  for (auto _ : state) d.Decode(fmt.data(), fmt.size(), jpeg.Memory(), static_cast<size_t>(jpeg.Size()), bmp);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeMjpeg1280x720);

}  // namespace
