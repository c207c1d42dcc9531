#include "vexa/proc/magicwand.h"

#include <cstdlib>
#include <string>

namespace vexa {

namespace {

struct TSegment {
  int Y, Left, Right, Dir;
};

// Chain directions in the order neighbours are tried; the index is the code.
constexpr int kDirX[8] = {1, 0, -1, 0, 1, -1, -1, 1};
constexpr int kDirY[8] = {0, -1, 0, 1, -1, -1, 1, 1};
constexpr char kDirCode[8] = {'0', '2', '4', '6', '1', '3', '5', '7'};

constexpr uint8_t kRegion = 1, kBorder = 3, kVisited = 4;

}  // namespace

std::vector<TPoint> _MakeMagicWandPoints(const TBitmap& bmp, int x, int y, bool maximum, int tolerance, int& count) {
  count = 0;
  std::vector<TPoint> result;
  if (bmp.PixelFormat() != pf24bit || x < 0 || y < 0 || x >= bmp.Width() || y >= bmp.Height()) return result;
  const int W = bmp.Width(), H = bmp.Height();
  const TRGB seed = reinterpret_cast<const TRGB*>(bmp.ScanLine(y))[x];
  auto inside = [&](const TRGB& c) {
    const int d = imax(std::abs(c.r - seed.r), imax(std::abs(c.g - seed.g), std::abs(c.b - seed.b)));
    return d <= tolerance;
  };

  // Scanline seed fill.
  std::vector<uint8_t> mark(static_cast<size_t>(W) * H);
  auto marked = [&](int px, int py) { return mark[static_cast<size_t>(py) * W + px] != 0; };
  int bx1 = x, by1 = y, bx2 = x, by2 = y;
  std::vector<TSegment> stack;
  {
    const TRGB* row = reinterpret_cast<const TRGB*>(bmp.ScanLine(y));
    int l = x, r = x;
    while (l > 0 && inside(row[l - 1])) --l;
    while (r < W - 1 && inside(row[r + 1])) ++r;
    for (int i = l; i <= r; ++i) mark[static_cast<size_t>(y) * W + i] = 1;
    bx1 = l, bx2 = r;
    stack.push_back({y, l, r, -1});
    stack.push_back({y, l, r, 1});
  }
  while (!stack.empty()) {
    const TSegment s = stack.back();
    stack.pop_back();
    const int ny = s.Y + s.Dir;
    if (ny < 0 || ny >= H) continue;
    const TRGB* row = reinterpret_cast<const TRGB*>(bmp.ScanLine(ny));
    int px = s.Left;
    while (px <= s.Right) {
      if (marked(px, ny) || !inside(row[px])) {
        ++px;
        continue;
      }
      int l = px, r = px;
      while (l > 0 && !marked(l - 1, ny) && inside(row[l - 1])) --l;
      while (r < W - 1 && !marked(r + 1, ny) && inside(row[r + 1])) ++r;
      for (int i = l; i <= r; ++i) mark[static_cast<size_t>(ny) * W + i] = 1;
      bx1 = imin(bx1, l), bx2 = imax(bx2, r), by1 = imin(by1, ny), by2 = imax(by2, ny);
      stack.push_back({ny, l, r, s.Dir});
      // Spans wider than the parent can leak back round a corner.
      if (l < s.Left) stack.push_back({ny, l, s.Left - 1, -s.Dir});
      if (r > s.Right) stack.push_back({ny, s.Right + 1, r, -s.Dir});
      px = r + 1;
    }
  }

  // Region mask over the bounding box; grown by a pixel each side (inside the
  // image) when dilating, so that the grown pixels are kept.
  int ox = bx1, oy = by1, ex = bx2, ey = by2;
  if (maximum) ox = imax(0, ox - 1), oy = imax(0, oy - 1), ex = imin(W - 1, ex + 1), ey = imin(H - 1, ey + 1);
  const int mw = ex - ox + 1, mh = ey - oy + 1;
  std::vector<uint8_t> mask(static_cast<size_t>(mw) * mh);
  for (int py = by1; py <= by2; ++py)
    for (int px = bx1; px <= bx2; ++px) {
      if (!marked(px, py)) continue;
      if (!maximum) {
        mask[static_cast<size_t>(py - oy) * mw + (px - ox)] = 1;
        continue;
      }
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int qx = px + dx - ox, qy = py + dy - oy;
          if (qx >= 0 && qy >= 0 && qx < mw && qy < mh) mask[static_cast<size_t>(qy) * mw + qx] = 1;
        }
    }
  mark.clear();
  mark.shrink_to_fit();

  // Four cells per pixel plus a margin of two, so that every border cell has all
  // eight neighbours inside the grid.
  const int gw = 4 * mw + 4, gh = 4 * mh + 4;
  // Sixteen cells per pixel: a region of a huge image may not fit the bitmap limit.
  if (!VXCheckBitmapSize(gw, gh, 8)) return result;
  std::vector<uint8_t> grid(static_cast<size_t>(gw) * gh);
  auto cell = [&](int cx, int cy) -> uint8_t& { return grid[static_cast<size_t>(cy) * gw + cx]; };
  for (int my = 0; my < mh; ++my)
    for (int mx = 0; mx < mw; ++mx)
      if (mask[static_cast<size_t>(my) * mw + mx])
        for (int k = 0; k < 4; ++k)
          for (int j = 0; j < 4; ++j) cell(2 + 4 * mx + j, 2 + 4 * my + k) = kRegion;
  for (int cy = 0; cy < gh; ++cy)
    for (int cx = 1; cx < gw - 1; ++cx) {
      if (cell(cx, cy) != kRegion) continue;
      if (cell(cx - 1, cy) != kRegion) cell(cx - 1, cy) = kBorder;
      if (cell(cx + 1, cy) != kRegion) cell(cx + 1, cy) = kBorder;
    }
  for (int cx = 0; cx < gw; ++cx)
    for (int cy = 1; cy < gh - 1; ++cy) {
      if (cell(cx, cy) != kRegion) continue;
      if (cell(cx, cy - 1) != kRegion) cell(cx, cy - 1) = kBorder;
      if (cell(cx, cy + 1) != kRegion) cell(cx, cy + 1) = kBorder;
    }

  int cx1 = gw, cy1 = gh;
  for (int cy = 0; cy < gh; ++cy)
    for (int cx = 0; cx < gw; ++cx)
      if (cell(cx, cy) == kBorder) cx1 = imin(cx1, cx), cy1 = imin(cy1, cy);
  int sx = -1, sy = -1;
  long bestDist = -1;
  for (int cy = 0; cy < gh; ++cy)
    for (int cx = 0; cx < gw; ++cx)
      if (cell(cx, cy) == kBorder) {
        const long d = static_cast<long>(cx - cx1) * (cx - cx1) + static_cast<long>(cy - cy1) * (cy - cy1);
        if (bestDist < 0 || d < bestDist) bestDist = d, sx = cx, sy = cy;
      }
  if (sx < 0) return result;

  std::string chain;
  int px = sx, py = sy, last = 4;  // (1, -1)
  cell(px, py) = kVisited;
  for (;;) {
    int next = -1;
    for (int k = -1; k < 8 && next < 0; ++k) {
      const int d = k < 0 ? last : k;
      if (cell(px + kDirX[d], py + kDirY[d]) == kBorder) next = d;
    }
    if (next < 0) {
      for (int d = 0; d < 8; ++d)
        if (px + kDirX[d] == sx && py + kDirY[d] == sy && !(px == sx && py == sy)) {
          chain += kDirCode[d];
          break;
        }
      break;
    }
    px += kDirX[next], py += kDirY[next];
    cell(px, py) = kVisited;
    chain += kDirCode[next];
    last = next;
  }

  int vx = sx + 4 * ox - 1, vy = sy + 4 * oy - 1;
  std::vector<TPoint> vertices{{vx, vy}};
  for (size_t i = 0; i < chain.size(); ++i) {
    if (i > 0 && chain[i] != chain[i - 1]) vertices.push_back({vx, vy});
    int d = 0;
    while (kDirCode[d] != chain[i]) ++d;
    vx += kDirX[d], vy += kDirY[d];
  }
  for (TPoint& p : vertices) p = {p.X / 4, p.Y / 4};
  count = static_cast<int>(vertices.size());
  return vertices;
}

}  // namespace vexa
