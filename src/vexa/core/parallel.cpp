#include "vexa/core/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vexa {

namespace {

std::atomic<int> gRequested{0};
std::atomic<int64_t> gMinPixels{kVXParallelMinPixels};
thread_local bool tOnWorker = false;

int CoreCount() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min(n, 256u));
}

struct TTask {
  const TVXBandFn* Fn = nullptr;
  const std::vector<int>* Starts = nullptr;
  int Bands = 0, MaxWorkers = 1, Joined = 0;
  std::mutex M;
  std::condition_variable Cv;
  int NextBand = 0, Running = 0, Finished = 0, RowsDone = 0;
  bool Stop = false;
  std::exception_ptr Error;

  int BandStart(int b) const { return (*Starts)[static_cast<size_t>(b)]; }
};

// Workers take the oldest task and work on it until it has no band left, so
// callers on several threads share the pool without waiting for each other's
// whole operation to be handed out.
class TPool {
 public:
  ~TPool() {
    {
      std::lock_guard<std::mutex> lock(FM);
      FQuit = true;
    }
    FCv.notify_all();
    for (auto& t : FThreads) t.join();
  }

  void EnsureWorkers(int n) {
    std::lock_guard<std::mutex> lock(FM);
    while (static_cast<int>(FThreads.size()) < n) FThreads.emplace_back([this] { Work(); });
  }

  void Post(const std::shared_ptr<TTask>& task) {
    {
      std::lock_guard<std::mutex> lock(FM);
      FQueue.push_back(task);
    }
    FCv.notify_all();
  }

  void Retire(const std::shared_ptr<TTask>& task) {
    std::lock_guard<std::mutex> lock(FM);
    FQueue.erase(std::remove(FQueue.begin(), FQueue.end(), task), FQueue.end());
  }

 private:
  void Work() {
    tOnWorker = true;
    for (;;) {
      std::shared_ptr<TTask> task;
      {
        std::unique_lock<std::mutex> lock(FM);
        FCv.wait(lock, [&] { return FQuit || !FQueue.empty(); });
        if (FQuit) return;
        task = FQueue.front();
      }
      RunBands(*task);
      Retire(task);
    }
  }

  static void RunBands(TTask& t) {
    {
      // The pool may be larger than the count now asked for.
      std::lock_guard<std::mutex> lock(t.M);
      if (t.Joined >= t.MaxWorkers) return;
      ++t.Joined;
    }
    for (;;) {
      int b;
      {
        std::lock_guard<std::mutex> lock(t.M);
        if (t.Stop || t.NextBand >= t.Bands) return;
        b = t.NextBand++;
        ++t.Running;
      }
      const int y0 = t.BandStart(b), y1 = t.BandStart(b + 1);
      std::exception_ptr error;
      try {
        (*t.Fn)(y0, y1, false);
      } catch (...) {
        error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(t.M);
        --t.Running;
        ++t.Finished;
        t.RowsDone += y1 - y0;
        if (error && !t.Error) {
          t.Error = error;
          t.Stop = true;
        }
      }
      t.Cv.notify_all();
    }
  }

  std::mutex FM;
  std::condition_variable FCv;
  std::deque<std::shared_ptr<TTask>> FQueue;
  std::vector<std::thread> FThreads;
  bool FQuit = false;
};

TPool& Pool() {
  static TPool pool;
  return pool;
}

}  // namespace

void VXSetThreadCount(int n) { gRequested = std::max(0, n); }

int VXThreadCount() {
  const int n = gRequested;
  return n == 0 ? CoreCount() : n;
}

void VXThreadCountFromEnv() {
  const char* v = std::getenv("VEXA_THREADS");
  if (!v || !*v) return;
  char* end = nullptr;
  const long n = std::strtol(v, &end, 10);
  if (*end == 0 && n >= 0 && n <= 1024) VXSetThreadCount(static_cast<int>(n));
}

void VXSetParallelMinPixels(int64_t pixels) { gMinPixels = pixels < 0 ? kVXParallelMinPixels : pixels; }

bool VXParallelWorth(int64_t pixels) {
  return !tOnWorker && pixels >= gMinPixels && VXThreadCount() > 1;
}

std::vector<int> VXRowBands(int height, int64_t pixels, int minRowsPerBand) {
  std::vector<int> starts{0};
  const int maxBands = height / std::max(1, minRowsPerBand);
  if (height > 0 && VXParallelWorth(pixels) && maxBands >= 2) {
    // A few bands per thread even out the workers and give progress some steps.
    const int bands = std::min(maxBands, 4 * VXThreadCount());
    for (int b = 1; b < bands; ++b) starts.push_back(static_cast<int>(int64_t(height) * b / bands));
  }
  starts.push_back(std::max(0, height));
  return starts;
}

bool VXParallelRows(int height, int64_t pixels, int minRowsPerBand, const TVXBandFn& fn,
                    const TVXRowsDoneFn& onRows) {
  return VXParallelBands(VXRowBands(height, pixels, minRowsPerBand), fn, onRows);
}

bool VXParallelBands(const std::vector<int>& starts, const TVXBandFn& fn, const TVXRowsDoneFn& onRows) {
  if (starts.size() < 2 || starts.back() <= starts.front()) return true;
  const int height = starts.back() - starts.front();
  if (starts.size() == 2 || tOnWorker) {
    fn(starts.front(), starts.back(), true);
    return true;
  }
  auto task = std::make_shared<TTask>();
  task->Fn = &fn;
  task->Starts = &starts;
  task->Bands = static_cast<int>(starts.size()) - 1;
  task->MaxWorkers = std::min(VXThreadCount(), task->Bands);
  Pool().EnsureWorkers(task->MaxWorkers);
  Pool().Post(task);
  int reported = 0;
  bool stopped = false;
  std::unique_lock<std::mutex> lock(task->M);
  for (;;) {
    task->Cv.wait(lock, [&] {
      return (task->RowsDone > reported && !task->Stop) ||
             (task->Running == 0 && (task->Stop || task->Finished == task->Bands));
    });
    if (task->RowsDone > reported && !task->Stop) {
      reported = task->RowsDone;
      if (onRows) {
        lock.unlock();
        const bool go = onRows(reported);
        lock.lock();
        if (!go && reported < height) {
          task->Stop = true;
          stopped = true;
        }
      }
      continue;
    }
    if (task->Running == 0 && (task->Stop || task->Finished == task->Bands)) break;
  }
  lock.unlock();
  Pool().Retire(task);
  if (task->Error) std::rethrow_exception(task->Error);
  return !stopped;
}

}  // namespace vexa
