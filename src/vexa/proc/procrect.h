// Internal helpers shared by the pixel functions of this folder: rectangle
// clamping and the row-wise progress formula.
#pragma once

#include "vexa/core/bitmap.h"
#include "vexa/core/parallel.h"

namespace vexa::procdetail {

/// Clamps an inclusive rectangle to the bitmap; false when nothing is left.
/// X1 and Y1 are raised to 0 as well so that a negative origin never addresses
/// memory before a row.
inline bool ClampRect(const TBitmap& bmp, int& x1, int& y1, int& x2, int& y2) {
  if (bmp.Empty()) return false;
  if (x2 > bmp.Width() - 1) x2 = bmp.Width() - 1;
  if (y2 > bmp.Height() - 1) y2 = bmp.Height() - 1;
  if (x1 < 0) x1 = 0;
  if (y1 < 0) y1 = 0;
  return x1 <= x2 && y1 <= y2;
}

/// Reports after row y either truncate((y - y1 + 1) * factor) with factor =
/// 100 / (y2 - y1 + 0.5), or, with `direct`, truncate((y - y1 + 1) * 100 / (y2 - y1 + 0.5)):
/// the two orders of evaluation can differ by one where the quotient is whole. The
/// half row in the divisor makes the last report exceed 100 slightly (10 rows: 105).
class TRowProgress {
 public:
  TRowProgress(const TProgressEvent& ev, TObject* sender, int y1, int y2, bool direct = false)
      : FEv(ev), FSender(sender), FY1(y1), FDiv(y2 - y1 + 0.5), FFactor(100.0 / FDiv), FDirect(direct) {}
  void Row(int y) const {
    if (!FEv) return;
    double done = y - FY1 + 1;
    FEv(FSender, static_cast<int>(FDirect ? done * 100 / FDiv : done * FFactor));
  }

 private:
  const TProgressEvent& FEv;
  TObject* FSender;
  int FY1;
  double FDiv, FFactor;
  bool FDirect;
};

/// Calls rowFn(state, y) for every row y1..y2 of an inclusive rectangle, in row
/// bands over the worker threads when the rectangle is large; each band makes its
/// own state first (caches, scratch rows), so a row's result must not depend on
/// what the state saw before. Progress is reported as if row by row, on the
/// caller's thread.
template <typename MakeState, typename RowFn>
void ForRowsWith(int x1, int y1, int x2, int y2, const TRowProgress& progress, MakeState makeState, RowFn rowFn) {
  const int rows = y2 - y1 + 1;
  VXParallelRows(rows, static_cast<int64_t>(x2 - x1 + 1) * rows, 8, [&](int r0, int r1, bool onCaller) {
    auto state = makeState();
    for (int y = y1 + r0; y < y1 + r1; ++y) {
      rowFn(state, y);
      if (onCaller) progress.Row(y);
    }
  }, [&](int done) {
    progress.Row(y1 + done - 1);
    return true;
  });
}

/// ForRowsWith for rows that need no state: rowFn(y).
template <typename RowFn>
void ForRows(int x1, int y1, int x2, int y2, const TRowProgress& progress, RowFn rowFn) {
  ForRowsWith(x1, y1, x2, y2, progress, [] { return 0; }, [&](int, int y) { rowFn(y); });
}

/// The number of bands ForRowsWith splits the rectangle into: for sizing per-band caches.
inline int BandsFor(int x1, int y1, int x2, int y2) {
  const int rows = y2 - y1 + 1;
  return static_cast<int>(VXRowBands(rows, static_cast<int64_t>(x2 - x1 + 1) * rows, 8).size()) - 1;
}

/// One 256-entry table per channel (blue, green, red) over n pixels of a row.
void ApplyTablesRow(uint8_t* p, int n, const uint8_t* tb, const uint8_t* tg, const uint8_t* tr);

/// Applies one 256-entry table per channel (blue, green, red) to an inclusive,
/// already clamped rectangle of a 24-bit bitmap, reporting progress per row.
inline void ApplyTables(TBitmap& bmp, const uint8_t* tb, const uint8_t* tg, const uint8_t* tr, int x1, int y1,
                        int x2, int y2, const TProgressEvent& onProgress, TObject* sender, bool direct = false) {
  TRowProgress progress(onProgress, sender, y1, y2, direct);
  const int n = x2 - x1 + 1;
  ForRows(x1, y1, x2, y2, progress, [&](int y) { ApplyTablesRow(bmp.ScanLine(y) + 3 * x1, n, tb, tg, tr); });
}

/// Four points forming an axis-aligned rectangle: the processing component then
/// treats the selection as its bounding rectangle, right and bottom edges included.
bool VXIsRectPolygon(const TPoint* p, int count);

/// Grey level used throughout the processing functions; white gives 252.
inline int Grey(int r, int g, int b) { return (21 * r + 71 * g + 7 * b) / 100; }

/// Instruction set of the convolution rows: 0 portable, 1 SSE2, 2 AVX2. Chosen
/// from the CPU at start-up; tests lower it to check every path.
extern int gFilterSimd;
/// Instruction set of the colour kernels: 0 portable, 1 AVX2, 2 AVX2 and FMA,
/// 3 those with AVX-512 VBMI. Chosen like gFilterSimd; tests lower it to check
/// every path.
extern int gColourSimd;
/// The hues of n packed B, G, R pixels (n a multiple of 8) as the fastest HSL
/// kernel computes them, for checking them against RGB2HSL; false when the
/// processor or gColourSimd rules that kernel out.
bool HslKernelHues(const uint8_t* bgr, int n, double* h);

}  // namespace vexa::procdetail
