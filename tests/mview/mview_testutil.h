// Shared pieces of the multi-image tests: a grid that records its timer and
// repaint requests, a painter that records what it is told, pictures whose
// pixels say which image they are, and files made once per test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/io_testutil.h"
#include "vexa/core/bitmap.h"
#include "vexa/io/vexaio.h"
#include "vexa/mview/imagegrid.h"

namespace mvtest {

using namespace vexa;

class TestGrid : public TVXImageGrid {
 public:
  TestGrid() { SetClientSize(330, 220); }
  std::vector<int> Timers;  // intervals the playback timer was started with
  int PaintsNow = 0;
  bool Focus = true;

 protected:
  void StartPlayTimer(int ms) override { Timers.push_back(ms); }
  void PaintNow() override { ++PaintsNow; }
  bool HasFocus() const override { return Focus; }
};

/// Records the painting calls (client coordinates).
class RecordingPainter : public TVXGridPainter {
 public:
  struct Draw {
    TRect Dst;
    int W, H;
  };
  std::vector<Draw> Draws;
  std::vector<std::pair<TRect, TColor>> Fills, Frames;
  std::vector<TRect> Excluded;
  std::vector<int> Cells;
  void FillRect(const TRect& r, TColor c) override { Fills.push_back({r, c}); }
  void StretchDraw(const TRect& dst, const TBitmap& bmp) override { Draws.push_back({dst, bmp.Width(), bmp.Height()}); }
  void FrameRect(const TRect& r, TColor c) override { Frames.push_back({r, c}); }
  void ExcludeRect(const TRect& r) override { Excluded.push_back(r); }
  void FillUncovered(TColor) override {}
  void CellDrawn(int idx, int, int) override { Cells.push_back(idx); }
};

/// A w x h picture filled with a colour derived from n (so frames can be told apart).
/// Channels are multiples of 8, which the GIF writer's palette keeps exactly.
inline TBitmap Solid(int w, int h, int n) {
  TBitmap b(w, h, pf24bit);
  b.Fill(CreateRGB(static_cast<uint8_t>(40 * n + 8), static_cast<uint8_t>(248 - 32 * n), static_cast<uint8_t>(8 * n)));
  return b;
}

/// Writes a JPEG of the given size (a gradient) and returns its path.
inline std::string MakeJpeg(const vexa::test::TScratchDir& dir, const std::string& name, int w, int h) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixel(x, y, CreateRGB(static_cast<uint8_t>(x * 255 / w), static_cast<uint8_t>(y * 255 / h), 128));
  TVexaIO io;
  io.SetAttachedBitmap(&b);
  io.SaveToFileJpeg(dir / name);
  return dir / name;
}

}  // namespace mvtest
