// Scanning speed: an A4 page in colour at 300 dpi (2480 x 3507) from SANE's test
// backend, through the whole TWAIN stack (client, our manager, its SANE source,
// memory transfer into a bitmap, or in bands) beside reading the same page from
// SANE directly, as a frontend such as scanimage does before it writes anything.
// Whole processes, `vexa scan` beside `scanimage`, are timed by scan_compare.py.
#include <benchmark/benchmark.h>
#include <sane/sane.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "vexa/acquire/twain.h"
#include "vexa/acquire/twainclient.h"

namespace {

using namespace vexa;

constexpr double kA4WidthMm = 210, kA4HeightMm = 297;

// SANE reads a private configuration holding only the test backend.
void PrivateSaneConfig() {
  static const bool done = [] {
    const auto dir = std::filesystem::temp_directory_path() / ("vexa-sane-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "dll.conf") << "test\n";
    // The backend's area stops at 200 mm unless told otherwise; A4 needs 297.
    std::ofstream(dir / "test.conf") << "number_of_devices 1\ngeometry_max 300.0\n";
    ::setenv("SANE_CONFIG_DIR", dir.c_str(), 1);
    return true;
  }();
  (void)done;
}

// test:0 set for the A4 page; false when the device is missing.
bool ChooseA4(TVXTWainParams& tw) {
  PrivateSaneConfig();
  VXTW_SetManagerPath(VEXA_TWAINDSM_FILE);
  if (!tw.SelectSourceByName("test:0")) return false;
  TVXTWSourceCaps& caps = tw.Capabilities();
  caps.PixelType.SetCurrentValue(twain::TWPT_RGB);
  caps.XResolution.SetCurrentValue(300);
  caps.YResolution.SetCurrentValue(300);
  caps.AcquireFrame[2] = kA4WidthMm / 25.4;
  caps.AcquireFrame[3] = kA4HeightMm / 25.4;
  caps.Indicators = false;
  tw.VisibleDialog = false;
  return true;
}

void BM_TwainAcquireA4Colour300(benchmark::State& state) {
  TVXTWainParams tw;
  if (!ChooseA4(tw)) {
    state.SkipWithError("no SANE test device");
    return;
  }
  TProgressRec pr;
  for (auto _ : state) {
    TBitmap bmp;
    if (!VXTW_Acquire(nullptr, &bmp, false, nullptr, tw, nullptr, pr) || bmp.Height() != 3507) {
      state.SkipWithError(VXTW_LastFailure().Message.c_str());
      return;
    }
    benchmark::DoNotOptimize(bmp.Bits());
  }
}
BENCHMARK(BM_TwainAcquireA4Colour300)->Unit(benchmark::kMillisecond);

// The same page in bands, as `vexa scan` takes it for a BMP: no page-sized bitmap.
class TCountingSink : public TVXTWBandSink {
 public:
  bool Begin(int, int, TPixelFormat, const TIOParamsVals&) override {
    Rows = 0;
    return true;
  }
  bool Band(int, const TBitmap& band) override {
    Rows += band.Height();
    benchmark::DoNotOptimize(band.Bits());
    return true;
  }
  int Rows = 0;
};

void BM_TwainAcquireBandsA4Colour300(benchmark::State& state) {
  TVXTWainParams tw;
  if (!ChooseA4(tw)) {
    state.SkipWithError("no SANE test device");
    return;
  }
  TProgressRec pr;
  TCountingSink sink;
  for (auto _ : state) {
    if (!VXTW_AcquireBands(nullptr, sink, tw, nullptr, pr) || sink.Rows != 3507) {
      state.SkipWithError(VXTW_LastFailure().Message.c_str());
      return;
    }
  }
}
BENCHMARK(BM_TwainAcquireBandsA4Colour300)->Unit(benchmark::kMillisecond);

void SetNumber(SANE_Handle h, const char* name, double v) {
  for (SANE_Int i = 1;; ++i) {
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
    if (!d) return;
    if (d->name && std::string(d->name) == name) {
      SANE_Word w = d->type == SANE_TYPE_FIXED ? SANE_FIX(v) : static_cast<SANE_Word>(v);
      sane_control_option(h, i, SANE_ACTION_SET_VALUE, &w, nullptr);
      return;
    }
  }
}

void BM_SaneReadA4Colour300(benchmark::State& state) {
  PrivateSaneConfig();
  // Started once, as our manager does.
  static const bool saneUp = [] {
    SANE_Int version;
    return sane_init(&version, nullptr) == SANE_STATUS_GOOD;
  }();
  if (!saneUp) {
    state.SkipWithError("SANE unavailable");
    return;
  }
  for (auto _ : state) {
    SANE_Handle h;
    if (sane_open("test:0", &h) != SANE_STATUS_GOOD) {
      state.SkipWithError("no SANE test device");
      return;
    }
    for (SANE_Int i = 1;; ++i) {
      const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
      if (!d) break;
      if (d->name && std::string(d->name) == "mode") {
        char colour[] = "Color";
        std::vector<char> buf(static_cast<size_t>(d->size), 0);
        std::copy(colour, colour + sizeof colour, buf.begin());
        sane_control_option(h, i, SANE_ACTION_SET_VALUE, buf.data(), nullptr);
      }
    }
    SetNumber(h, "resolution", 300);
    SetNumber(h, "br-x", kA4WidthMm);
    SetNumber(h, "br-y", kA4HeightMm);
    sane_start(h);
    std::vector<uint8_t> page;
    std::vector<uint8_t> chunk(256 << 10);
    SANE_Int n;
    while (sane_read(h, chunk.data(), static_cast<SANE_Int>(chunk.size()), &n) == SANE_STATUS_GOOD)
      page.insert(page.end(), chunk.begin(), chunk.begin() + n);
    if (page.size() != 2480u * 3 * 3507) {
      state.SkipWithError(("SANE delivered " + std::to_string(page.size()) + " bytes").c_str());
      sane_close(h);
      return;
    }
    benchmark::DoNotOptimize(page.data());
    sane_cancel(h);
    sane_close(h);
  }
}
BENCHMARK(BM_SaneReadA4Colour300)->Unit(benchmark::kMillisecond);

}  // namespace
