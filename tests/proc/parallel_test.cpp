// Every operation split over worker threads gives the single-thread pixels and
// progress for any thread count; small limits force the split on small images.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/pixels.h"
#include "vexa/core/parallel.h"
#include "vexa/io/vexaio.h"
#include "vexa/quant/colordepth.h"
#include "vexa/proc/operations.h"
#include "vexa/proc/coloradjust.h"
#include "vexa/proc/filters.h"
#include "vexa/proc/geometry.h"
#include "vexa/proc/histogram.h"
#include "vexa/proc/resample.h"

using namespace vexa;
using vexa::test::RandomBitmap;
using vexa::test::SameImage;

namespace {

struct TRun {
  TBitmap Out;
  std::vector<int> Progress;
};

// An operation on a random input of the given size; it reports to `ev`.
using TOp = std::function<TBitmap(const TBitmap& in, const TProgressEvent& ev)>;

struct TCase {
  std::string Name;
  TOp Op;
  TPixelFormat Format = pf24bit;
};

void PrintTo(const TCase& c, std::ostream* os) { *os << c.Name; }

TBitmap Input(int w, int h, TPixelFormat pf) {
  TBitmap b = RandomBitmap(w, h, static_cast<uint32_t>(w * 131 + h));
  if (pf == pf24bit) return b;
  // Other depths: the same random bytes reinterpreted as packed pixels.
  TBitmap o(w, h, pf);
  for (int y = 0; y < h; ++y) std::memcpy(o.ScanLine(y), b.ScanLine(y), static_cast<size_t>(std::min(o.RowLen(), b.RowLen())));
  return o;
}

TRun RunOn(const TCase& c, int w, int h, int threads) {
  VXSetThreadCount(threads);
  TRun r;
  r.Out = c.Op(Input(w, h, c.Format), [&](TObject*, int p) { r.Progress.push_back(p); });
  return r;
}

TBitmap Filter(const TBitmap& in, const TProgressEvent& ev, const TGraphFilter& f, bool cut) {
  TBitmap b = in;
  TProgressRec rec;
  rec.OnProgress = ev;
  // The selection starts and ends inside bands.
  if (cut)
    _ApplyFilter(b, f, b.Width() / 3, b.Height() / 5, b.Width() - 2, b.Height() * 4 / 5, rec);
  else
    _ApplyFilter(b, f, 0, 0, b.Width() - 1, b.Height() - 1, rec);
  return b;
}

TBitmap Rotate(const TBitmap& in, const TProgressEvent& ev, int angle, bool aa) {
  TBitmap b = in;
  TProgressRec rec;
  rec.OnProgress = ev;
  _Rotate24(b, angle, aa, TRGB{10, 20, 30}, rec);
  return b;
}

TBitmap Resampled(const TBitmap& in, const TProgressEvent& ev, int w, int h, TResampleFilter f, bool quick) {
  TBitmap out(w, h, pf24bit);
  if (quick)
    _QuickResample(in, out, f, ev, nullptr);
  else
    _Resample(in, out, f, ev, nullptr);
  return out;
}

std::vector<TCase> Cases() {
  TGraphFilter big = VXFiltPres[2];
  big.Values[4] = -5000000;  // beyond the float path: the exact integer rows
  big.Divisor = 7;
  return {
      {"ResampleDownLanczos", [](const TBitmap& in, const TProgressEvent& ev) {
         return Resampled(in, ev, (in.Width() + 2) / 3, (in.Height() + 1) / 2, rfLanczos3, false);
       }},
      {"ResampleUpMitchell", [](const TBitmap& in, const TProgressEvent& ev) {
         return Resampled(in, ev, in.Width() * 2 + 1, in.Height() * 3, rfMitchell, false);
       }},
      {"QuickResampleUp", [](const TBitmap& in, const TProgressEvent& ev) {
         return Resampled(in, ev, in.Width() + 5, in.Height() + 9, rfTriangle, true);
       }},
      {"FlipH24", [](const TBitmap& in, const TProgressEvent&) { TBitmap b = in; _Flip(b, fdHorizontal); return b; }},
      {"FlipV24", [](const TBitmap& in, const TProgressEvent&) { TBitmap b = in; _Flip(b, fdVertical); return b; }},
      {"FlipH1", [](const TBitmap& in, const TProgressEvent&) { TBitmap b = in; _Flip(b, fdHorizontal); return b; },
       pf1bit},
      {"FlipH4", [](const TBitmap& in, const TProgressEvent&) { TBitmap b = in; _Flip(b, fdHorizontal); return b; },
       pf4bit},
      {"FlipV8", [](const TBitmap& in, const TProgressEvent&) { TBitmap b = in; _Flip(b, fdVertical); return b; },
       pf8bit},
      {"Rot90", [](const TBitmap& in, const TProgressEvent&) { TBitmap b; _Rot90(in, b); return b; }},
      {"Rot90o", [](const TBitmap& in, const TProgressEvent&) { TBitmap b; _Rot90o(in, b); return b; }},
      {"Rotate30AntiAlias", [](const TBitmap& in, const TProgressEvent& ev) { return Rotate(in, ev, 30, true); }},
      {"RotateMinus17", [](const TBitmap& in, const TProgressEvent& ev) { return Rotate(in, ev, -17, false); }},
      {"Rotate130AntiAlias", [](const TBitmap& in, const TProgressEvent& ev) { return Rotate(in, ev, 130, true); }},
      {"BlurWhole", [](const TBitmap& in, const TProgressEvent& ev) { return Filter(in, ev, VXFiltPres[1], false); }},
      {"EmbossSelection", [](const TBitmap& in, const TProgressEvent& ev) { return Filter(in, ev, VXFiltPres[3], true); }},
      {"ExactKernelSelection", [big](const TBitmap& in, const TProgressEvent& ev) { return Filter(in, ev, big, true); }},
      {"NegativeSelection", [](const TBitmap& in, const TProgressEvent& ev) {
         TBitmap b = in;
         _Negative(b, 1, in.Height() / 3, in.Width() - 1, in.Height() - 2, ev, nullptr);
         return b;
       }},
      {"Grey", [](const TBitmap& in, const TProgressEvent& ev) {
         TBitmap b = in;
         _ConvertToGray(b, 0, 0, in.Width() - 1, in.Height() - 1, ev, nullptr);
         return b;
       }},
      {"AutoEqualizeSelection", [](const TBitmap& in, const TProgressEvent& ev) {
         TBitmap b = in;
         _HistAutoEqualize(b, in.Width() / 4, in.Height() / 7, in.Width() - 2, in.Height() - 3, ev, nullptr);
         return b;
       }},
      {"OrderedDither", [](const TBitmap& in, const TProgressEvent& ev) {
         TBitmap b = in;
         TProgressRec rec;
         rec.OnProgress = ev;
         _ConvertToBWOrdered(b, rec);
         return b;
       }},
      {"ThresholdDitherAutomatic", [](const TBitmap& in, const TProgressEvent& ev) {
         TBitmap b = in;
         TProgressRec rec;
         rec.OnProgress = ev;
         _ConvertToBWThreshold(b, -1, rec);
         return b;
       }},
      {"ContrastSelection", [](const TBitmap& in, const TProgressEvent& ev) {
         TBitmap b = in;
         _Contrast(b, 12, 100, in.Width() / 2, 2, in.Width() - 1, in.Height() - 3, ev, nullptr);
         return b;
       }},
  };
}

class ParallelOps : public ::testing::TestWithParam<TCase> {
 protected:
  void SetUp() override { VXSetParallelMinPixels(0); }
  void TearDown() override {
    VXSetParallelMinPixels(-1);
    VXSetThreadCount(0);
  }
};

TEST_P(ParallelOps, SameResultAndProgressForEveryThreadCount) {
  const TCase& c = GetParam();
  const std::pair<int, int> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {37, 23}, {101, 57}, {13, 200}};
  for (auto [w, h] : sizes) {
    const TRun one = RunOn(c, w, h, 1);
    for (int threads : {2, 3, 7}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " on " + std::to_string(threads) + " threads");
      const TRun many = RunOn(c, w, h, threads);
      ASSERT_TRUE(SameImage(one.Out, many.Out));
      // Fewer steps, never backwards, the same final value, 100 reached as often (at most once).
      ASSERT_EQ(many.Progress.empty(), one.Progress.empty());
      if (one.Progress.empty()) continue;
      EXPECT_TRUE(std::is_sorted(many.Progress.begin(), many.Progress.end()));
      EXPECT_EQ(many.Progress.back(), one.Progress.back());
      auto full = [](const std::vector<int>& v) { return std::count_if(v.begin(), v.end(), [](int p) { return p >= 100; }); };
      EXPECT_EQ(full(many.Progress), full(one.Progress));
      EXPECT_LE(full(one.Progress), 1);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, ParallelOps, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<TCase>& i) { return i.param.Name; });

// Every operation of the catalogue, with its default arguments, through the
// component: the same pixels, text and progress on 1 thread as on 2, 3 and 7,
// on odd sizes and through a selection whose edges cut bands.
class ParallelCatalogue : public ::testing::TestWithParam<const TVXOperation*> {
 protected:
  void SetUp() override { VXSetParallelMinPixels(0); }
  void TearDown() override {
    VXSetParallelMinPixels(-1);
    VXSetThreadCount(0);
  }
};

struct TOpRun {
  TBitmap Out;
  std::string Report, Error;
  std::vector<int> Progress;
};

TOpRun RunOperation(const TVXOperation& op, const std::vector<std::string>& args, const TBitmap& in, bool select,
                    int threads) {
  VXSetThreadCount(threads);
  TOpRun r;
  r.Out = in;
  TVexaProc proc;
  proc.AutoUndo = false;
  proc.SetAttachedBitmap(&r.Out);
  if (select) proc.Select(in.Width() / 7, in.Height() / 5, in.Width() - 3, in.Height() * 5 / 6);
  proc.OnProgress = [&](TObject*, int p) { r.Progress.push_back(p); };
  r.Error = op.Execute(proc, args, r.Report);
  return r;
}

TEST_P(ParallelCatalogue, SameResultForEveryThreadCount) {
  const TVXOperation& op = *GetParam();
  vexa::test::TScratchDir dir;
  // The defaults, with a text and a second random picture where they are empty.
  std::vector<std::string> args;
  for (const TVXOpParam& param : op.Params) {
    if (param.Kind == opkFile) {
      TBitmap other = RandomBitmap(29, 31, 77);
      TVexaIO io;
      io.SetAttachedBitmap(&other);
      io.SaveToFile(dir / "other.bmp");
      args.push_back(dir / "other.bmp");
    } else if (param.Kind == opkText) {
      args.push_back("some words");
    } else {
      std::istringstream words(param.Default);
      for (std::string w; words >> w;) args.push_back(w);
    }
  }
  const struct {
    int W, H;
    bool Select;
  } shapes[] = {{1, 1, false}, {37, 23, false}, {101, 57, false}, {101, 57, true}, {13, 200, true}};
  for (const auto& shape : shapes) {
    const TBitmap in = RandomBitmap(shape.W, shape.H, static_cast<uint32_t>(shape.W * 7 + shape.H));
    const TOpRun one = RunOperation(op, args, in, shape.Select, 1);
    ASSERT_EQ(one.Error, "") << op.Name;
    for (int threads : {2, 3, 7}) {
      SCOPED_TRACE(std::to_string(shape.W) + "x" + std::to_string(shape.H) + (shape.Select ? " selected" : "") +
                   " on " + std::to_string(threads) + " threads");
      const TOpRun many = RunOperation(op, args, in, shape.Select, threads);
      ASSERT_TRUE(SameImage(one.Out, many.Out));
      EXPECT_EQ(many.Report, one.Report);
      // Split runs report some of the single-thread values, in their order, and the last one.
      ASSERT_EQ(many.Progress.empty(), one.Progress.empty());
      if (one.Progress.empty()) continue;
      auto at = one.Progress.begin();
      for (int p : many.Progress) {
        at = std::find(at, one.Progress.end(), p);
        ASSERT_NE(at, one.Progress.end()) << "progress " << p << " out of order or unknown";
      }
      EXPECT_EQ(many.Progress.back(), one.Progress.back());
    }
  }
}

std::vector<const TVXOperation*> CatalogueOps() {
  std::vector<const TVXOperation*> ops;
  for (const TVXOperation& op : VXOperations()) ops.push_back(&op);
  return ops;
}

INSTANTIATE_TEST_SUITE_P(All, ParallelCatalogue, ::testing::ValuesIn(CatalogueOps()),
                         [](const ::testing::TestParamInfo<const TVXOperation*>& i) {
                           std::string name = i.param->Name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST(ParallelRows, StopFromProgressLeavesWholeBandsAndNoNewOnes) {
  VXSetParallelMinPixels(0);
  VXSetThreadCount(3);
  const int height = 600;
  std::vector<std::atomic<int>> done(height);
  std::atomic<int> started{0};
  int reports = 0, rowsAtStop = 0;
  const bool finished = VXParallelRows(height, height, 1, [&](int y0, int y1, bool) {
    ++started;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (int y = y0; y < y1; ++y) done[static_cast<size_t>(y)] = 1;
  }, [&](int rows) {
    rowsAtStop = rows;
    return ++reports < 2;
  });
  EXPECT_FALSE(finished);
  EXPECT_EQ(reports, 2);
  // Bands already running when stopped complete; at most one more per worker.
  const std::vector<int> bands = VXRowBands(height, height, 1);
  int whole = 0;
  for (size_t b = 0; b + 1 < bands.size(); ++b) {
    int n = 0;
    for (int y = bands[b]; y < bands[b + 1]; ++y) n += done[static_cast<size_t>(y)];
    EXPECT_TRUE(n == 0 || n == bands[b + 1] - bands[b]) << "band " << b;
    whole += n > 0;
  }
  EXPECT_EQ(whole, started.load());
  const int bandRows = bands[1] - bands[0];
  EXPECT_LE(whole * bandRows, rowsAtStop + 3 * bandRows);
  EXPECT_LT(whole, static_cast<int>(bands.size()) - 1);
  VXSetParallelMinPixels(-1);
  VXSetThreadCount(0);
}

TEST(ParallelRows, BandErrorReachesTheCallerAndSmallWorkStaysOnIt) {
  VXSetThreadCount(4);
  std::vector<bool> onCaller;
  VXParallelRows(100, 100, 1, [&](int y0, int y1, bool c) {
    EXPECT_EQ(y0, 0);
    EXPECT_EQ(y1, 100);
    onCaller.push_back(c);
  });
  EXPECT_EQ(onCaller, std::vector<bool>{true});
  VXSetParallelMinPixels(0);
  EXPECT_THROW(VXParallelRows(50, 50, 1, [](int y0, int, bool) {
                 if (y0 > 0) throw std::runtime_error("band");
               }),
               std::runtime_error);
  VXSetParallelMinPixels(-1);
  VXSetThreadCount(0);
}

// Pixel operations report progress but do not stop: setting the abort flag
// from the event leaves the image fully processed, as on one thread.
TEST(ParallelRows, FilterIgnoresAbortLikeTheSingleThreadRun) {
  VXSetParallelMinPixels(0);
  const TBitmap in = RandomBitmap(61, 301, 5);
  TBitmap expect = in, got = in;
  auto run = [](TBitmap& b, int threads) {
    VXSetThreadCount(threads);
    bool aborting = false;
    TProgressRec rec;
    rec.Aborting = &aborting;
    rec.OnProgress = [&](TObject*, int) { aborting = true; };
    _ApplyFilter(b, VXFiltPres[4], 0, 0, b.Width() - 1, b.Height() - 1, rec);
    return aborting;
  };
  EXPECT_TRUE(run(expect, 1));
  EXPECT_TRUE(run(got, 3));
  EXPECT_TRUE(SameImage(expect, got));
  EXPECT_FALSE(SameImage(in, got));
  VXSetParallelMinPixels(-1);
  VXSetThreadCount(0);
}

TEST(ParallelRows, ThreadCountFromEnvironment) {
  setenv("VEXA_THREADS", "3", 1);
  VXThreadCountFromEnv();
  EXPECT_EQ(VXThreadCount(), 3);
  setenv("VEXA_THREADS", "x", 1);
  VXThreadCountFromEnv();
  EXPECT_EQ(VXThreadCount(), 3);
  setenv("VEXA_THREADS", "0", 1);
  VXThreadCountFromEnv();
  EXPECT_GE(VXThreadCount(), 1);
  unsetenv("VEXA_THREADS");
  VXSetThreadCount(0);
}

}  // namespace
