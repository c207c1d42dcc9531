// Row-band parallelism for the pixel operations. Operations stay synchronous:
// the caller's thread waits for the workers, and it alone reports progress and
// tests for an abort, so events arrive on it and in order.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace vexa {

/// Number of threads the operations may use: 0 = one per core (the default),
/// 1 = everything on the caller's thread.
void VXSetThreadCount(int n);
/// The effective count (at least 1).
int VXThreadCount();
/// Applies `VEXA_THREADS` from the environment when it holds a number >= 0.
void VXThreadCountFromEnv();

/// Below this many pixels an operation stays on the caller's thread: handing
/// the bands out would cost more than it saves.
constexpr int64_t kVXParallelMinPixels = int64_t(1) << 20;
/// Replaces that limit (tests lower it to split small images); negative restores it.
void VXSetParallelMinPixels(int64_t pixels);

/// Band body: rows [y0, y1). `onCaller` is true only when the whole range runs
/// on the caller's thread, the one place where progress may be reported.
using TVXBandFn = std::function<void(int y0, int y1, bool onCaller)>;
/// Called on the caller's thread after bands finish with the number of rows
/// done so far (strictly increasing, `height` last unless stopped); false
/// stops: no further band starts, running ones complete.
using TVXRowsDoneFn = std::function<bool(int rowsDone)>;

/// Splits rows [0, height) into bands of at least minRowsPerBand rows and runs
/// them on the worker pool, returning when all are done. With one thread, or
/// when `pixels` (the work, counted in pixels) is under kVXParallelMinPixels,
/// or when called from a worker, it runs fn(0, height, true) on the calling
/// thread and never calls onRows. Returns false when onRows stopped it.
/// An exception thrown by a band is rethrown here once the others finished.
bool VXParallelRows(int height, int64_t pixels, int minRowsPerBand, const TVXBandFn& fn,
                    const TVXRowsDoneFn& onRows = {});

/// True when VXParallelRows would split work of this size.
bool VXParallelWorth(int64_t pixels);

/// The split VXParallelRows would make: band starts followed by `height`
/// ({0, height} when it would stay on the caller's thread). For operations
/// that must prepare each boundary (an in-place filter saving the rows its
/// neighbours read) before handing the same bands to VXParallelBands.
std::vector<int> VXRowBands(int height, int64_t pixels, int minRowsPerBand);
/// Runs the given bands (as from VXRowBands) like VXParallelRows.
bool VXParallelBands(const std::vector<int>& starts, const TVXBandFn& fn, const TVXRowsDoneFn& onRows = {});

}  // namespace vexa
