#include "vexa/vect/vectmodel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "vexa/core/raster.h"
#include "vexa/proc/bitmaputil.h"

namespace vexa {

const char* const strunits[6] = {"Pixels", "Inches", "Km", "Mt", "CM", "MM"};

namespace {

constexpr double kTwoPi = 6.283185307179586;
// The array and child lists grow in steps, so that adding many objects does not
// copy them each time.
constexpr size_t kGrowAt = 512, kGrowBy = 522;

void Reserve(std::vector<int32_t>& v) {
  if (v.size() % kGrowAt == 0) v.reserve(v.size() + kGrowBy);
}

void PutI32(uint8_t* p, int32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i));
}
int32_t GetI32(const uint8_t* p) {
  return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24));
}

}  // namespace

// --- font description

std::string TVXLogFont::Face() const { return std::string(FaceName, strnlen(FaceName, sizeof FaceName)); }

void TVXLogFont::SetFace(const std::string& name) {
  std::memset(FaceName, 0, sizeof FaceName);
  std::memcpy(FaceName, name.data(), std::min(name.size(), sizeof FaceName - 1));
}

void VXLogFontToBytes(const TVXLogFont& f, uint8_t out[kVXLogFontSize]) {
  PutI32(out, f.Height);
  PutI32(out + 4, f.Width);
  PutI32(out + 8, f.Escapement);
  PutI32(out + 12, f.Orientation);
  PutI32(out + 16, f.Weight);
  const uint8_t bytes[8] = {f.Italic,       f.Underline,     f.StrikeOut, f.CharSet,
                            f.OutPrecision, f.ClipPrecision, f.Quality,   f.PitchAndFamily};
  std::memcpy(out + 20, bytes, 8);
  std::memcpy(out + 28, f.FaceName, 32);
}

TVXLogFont VXLogFontFromBytes(const uint8_t in[kVXLogFontSize]) {
  TVXLogFont f;
  f.Height = GetI32(in);
  f.Width = GetI32(in + 4);
  f.Escapement = GetI32(in + 8);
  f.Orientation = GetI32(in + 12);
  f.Weight = GetI32(in + 16);
  f.Italic = in[20];
  f.Underline = in[21];
  f.StrikeOut = in[22];
  f.CharSet = in[23];
  f.OutPrecision = in[24];
  f.ClipPrecision = in[25];
  f.Quality = in[26];
  f.PitchAndFamily = in[27];
  std::memcpy(f.FaceName, in + 28, 32);
  f.FaceName[31] = 0;  // a stored name may lack its terminator
  return f;
}

// --- units

void VXCalcCoef(TVXUnits unit, int dpix, int dpiy, double scale, double& cx, double& cy) {
  if (unit == vxuPIXELS) {
    cx = cy = 1.0;
  } else {
    cx = 1.0 / (dpix > 0 ? dpix : 1);
    cy = 1.0 / (dpiy > 0 ? dpiy : 1);
    static const double kFactor[] = {1, 1, 2.54 / 100000, 2.54 / 100, 2.54, 2.54 * 10};
    cx *= kFactor[unit];
    cy *= kFactor[unit];
  }
  cx *= scale;
  cy *= scale;
}

TBitmap VXDefaultObjectBitmap() {
  TBitmap bmp(64, 64, pf24bit);
  bmp.Fill(CreateRGB(255, 255, 255));
  // A red disc with a white diagonal cross, the usual error sign.
  std::vector<TPoint> disc;
  for (int i = 0; i < 64; ++i) {
    const double a = kTwoPi * i / 64;
    disc.push_back({static_cast<int>(std::lround(32 + 30 * std::cos(a))), static_cast<int>(std::lround(32 + 30 * std::sin(a)))});
  }
  VXFillPolygon(bmp, disc.data(), static_cast<int>(disc.size()), clRed);
  const TPoint bar1[] = {{18, 22}, {22, 18}, {46, 42}, {42, 46}};
  const TPoint bar2[] = {{42, 18}, {46, 22}, {22, 46}, {18, 42}};
  VXFillPolygon(bmp, bar1, 4, clWhite);
  VXFillPolygon(bmp, bar2, 4, clWhite);
  return bmp;
}

// --- records

TVXVectModel::TVXVectModel() {
  FTemplate.Font = TVXLogFont{};
  FTemplate.BitmapIdx = AcquireBitmap(VXDefaultObjectBitmap());
  FRoot.Kind = vxkFRAME;
  FRoot.Left = FRoot.Top = 0;
  FRoot.Right = FRoot.Bottom = 100000000;
  FRoot.Parent = kVXNone;
  UpdateCoef();
}

TVXVectModel::~TVXVectModel() = default;

TVXVObject& TVXVectModel::Obj(int idx) {
  return const_cast<TVXVObject&>(static_cast<const TVXVectModel*>(this)->Obj(idx));
}

const TVXVObject& TVXVectModel::Obj(int idx) const {
  switch (idx) {
    case kVXTemplate:
      return FTemplate;
    case kVXRoot:
      return FRoot;
    case kVXLast:
      idx = FLast;
      break;
    default:
      break;
  }
  // Indices are the caller's to get right; one that names nothing (kVXNone, -2
  // after the last object went) reads and writes a scratch record, not memory.
  if (idx < 0 || idx >= ObjectsCapacity()) {
    FScratch = TVXVObject{};
    FScratch.Alive = false;
    return FScratch;
  }
  return FObjects[static_cast<size_t>(idx)];
}

bool TVXVectModel::IsAlive(int idx) const {
  idx = Resolve(idx);
  return idx >= 0 && idx < ObjectsCapacity() && FObjects[static_cast<size_t>(idx)].Alive;
}

int TVXVectModel::AddNewObject() { return AddVObject(kVXRoot, FTemplate); }

int TVXVectModel::AddVObject(int frame, const TVXVObject& rec) {
  frame = Resolve(frame);
  if (FObjects.size() % kGrowAt == 0) FObjects.reserve(FObjects.size() + kGrowBy);
  // Copy first: rec may live in the array that grows.
  TVXVObject o = rec;
  const int idx = static_cast<int>(FObjects.size());
  o.Parent = frame;
  o.Children.clear();
  o.Alive = true;
  o.BitmapIdx = -1;
  if (o.Kind == vxkBITMAP && rec.BitmapIdx >= 0 && rec.BitmapIdx < static_cast<int>(FBitmaps.size()) &&
      FBitmaps[static_cast<size_t>(rec.BitmapIdx)].Bitmap) {
    const TBitmap source = *FBitmaps[static_cast<size_t>(rec.BitmapIdx)].Bitmap;
    o.BitmapIdx = AcquireBitmap(source);
  }
  if (o.Kind != vxkTEXT) o.Font.reset();
  if (!o.IsSegment()) OrdCor(o.Left, o.Top, o.Right, o.Bottom);
  FObjects.push_back(std::move(o));
  auto& children = Obj(frame).Children;
  Reserve(children);
  children.push_back(idx);
  FLast = idx;
  ++FCount;
  return idx;
}

void TVXVectModel::FreeObject(int idx) {
  TVXVObject& o = FObjects[static_cast<size_t>(idx)];
  if (!o.Alive) return;
  const std::vector<int32_t> children = std::move(o.Children);
  for (int c : children) FreeObject(c);
  TVXVObject& self = FObjects[static_cast<size_t>(idx)];
  if (self.BitmapIdx >= 0) ReleaseBitmap(self.BitmapIdx);
  self = TVXVObject{};
  self.Alive = false;
  self.Parent = kVXNone;
  FSelected.erase(std::remove(FSelected.begin(), FSelected.end(), idx), FSelected.end());
  if (FLast == idx) FLast = kVXNone;
  --FCount;
}

void TVXVectModel::DetachFromParent(int idx) {
  auto& list = Obj(FObjects[static_cast<size_t>(idx)].Parent).Children;
  list.erase(std::remove(list.begin(), list.end(), idx), list.end());
}

void TVXVectModel::RemoveObject(int idx) {
  idx = Resolve(idx);
  if (!IsAlive(idx)) return;
  CancelInteracts();
  const bool wasSelected = IsSelObject(idx);
  DetachFromParent(idx);
  FreeObject(idx);
  if (wasSelected) SelectionChanged();
  VectorialChanged();
  Changed(idx, true);
}

void TVXVectModel::RemoveAllObjects() {
  CancelInteracts();
  for (auto& o : FObjects)
    if (o.Alive && o.BitmapIdx >= 0) ReleaseBitmap(o.BitmapIdx);
  FObjects.clear();
  FObjects.shrink_to_fit();
  FRoot.Children.clear();
  FCount = 0;
  FLast = kVXNone;
  const bool hadSelection = !FSelected.empty();
  FSelected.clear();
  if (hadSelection) SelectionChanged();
  VectorialChanged();
  Changed(kVXRoot, true);
}

int TVXVectModel::Search(int frame, const std::function<bool(const TVXVObject&)>& match) const {
  for (int c : Obj(frame).Children) {
    const TVXVObject& o = FObjects[static_cast<size_t>(c)];
    if (match(o)) return c;
    if (o.Kind == vxkFRAME) {
      const int r = Search(c, match);
      if (r >= 0) return r;
    }
  }
  return -1;
}

int TVXVectModel::GetObjFromName(const std::string& name) const {
  return Search(kVXRoot, [&](const TVXVObject& o) { return o.Name == name; });
}

int TVXVectModel::GetObjFromID(int id) const {
  return Search(kVXRoot, [&](const TVXVObject& o) { return o.ID == id; });
}

int TVXVectModel::GetObjPos(int frame, int idx) const {
  const auto& list = Obj(frame).Children;
  const auto it = std::find(list.begin(), list.end(), Resolve(idx));
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TVXVectModel::MoveInFrame(int idx, int other, bool front) {
  idx = Resolve(idx);
  other = Resolve(other);
  if (idx == other) return;
  DetachFromParent(idx);
  TVXVObject& o = FObjects[static_cast<size_t>(idx)];
  // Beside `other`, in other's frame; without one, at an end of the object's own frame.
  if (other >= 0) o.Parent = FObjects[static_cast<size_t>(other)].Parent;
  auto& list = Obj(o.Parent).Children;
  auto at = other < 0 ? (front ? list.end() : list.begin()) : std::find(list.begin(), list.end(), other);
  if (other >= 0 && front) ++at;
  list.insert(at, idx);
  Changed(idx, true);
}

// --- properties

template <class F>
void TVXVectModel::SetProp(int i, bool always, F&& f) {
  f(Obj(i));
  Changed(i, always);
}


void TVXVectModel::SetObjStyle(int i, TVXVStyle s) {
  Obj(i).Style = s;
  if (!(s & VXVS(vxvsSelectable)) && i >= kVXLast && i != kVXTemplate && IsSelObject(Resolve(i)))
    UnSelObject(Resolve(i));
  Changed(i, false);
}

TRect TVXVectModel::ObjRect(int i) const {
  const TVXVObject& o = Obj(i);
  return {o.Left, o.Top, o.Right, o.Bottom};
}
void TVXVectModel::SetObjRect(int i, const TRect& r) {
  SetProp(i, true, [&](TVXVObject& o) {
    o.Left = r.Left;
    o.Top = r.Top;
    o.Right = r.Right;
    o.Bottom = r.Bottom;
  });
}
void TVXVectModel::SetObjLeft(int i, int v) {
  SetProp(i, true, [&](TVXVObject& o) {
    o.Right += v - o.Left;
    o.Left = v;
  });
}
void TVXVectModel::SetObjTop(int i, int v) {
  SetProp(i, true, [&](TVXVObject& o) {
    o.Bottom += v - o.Top;
    o.Top = v;
  });
}
void TVXVectModel::SetObjWidth(int i, int v) {
  SetProp(i, true, [&](TVXVObject& o) { o.Right = o.Left + v - 1; });
}
void TVXVectModel::SetObjHeight(int i, int v) {
  SetProp(i, true, [&](TVXVObject& o) { o.Bottom = o.Top + v - 1; });
}

TVXLogFont TVXVectModel::ObjFont(int i) const {
  const TVXVObject& o = Obj(i);
  if (o.Font) return *o.Font;
  return FTemplate.Font ? *FTemplate.Font : TVXLogFont{};
}

TVXLogFont& TVXVectModel::EditFont(int i) {
  TVXVObject& o = Obj(i);
  if (!o.Font) o.Font = ObjFont(kVXTemplate);
  return *o.Font;
}

void TVXVectModel::SetObjFont(int i, const TVXLogFont& f, TColor color) {
  TVXVObject& o = Obj(i);
  o.Font = f;
  o.PenColor = color;
  Changed(i, false);
}
void TVXVectModel::SetObjFontAngle(int i, int degrees) {
  EditFont(i).Escapement = degrees * 10;
  Changed(i, false);
}
void TVXVectModel::SetObjFontHeight(int i, int h) {
  EditFont(i).Height = h;
  Changed(i, false);
}
void TVXVectModel::SetObjFontName(int i, const std::string& name) {
  EditFont(i).SetFace(name);
  Changed(i, false);
}

TVXFontStyles TVXVectModel::ObjFontStyles(int i) const {
  const TVXLogFont f = ObjFont(i);
  return (f.Weight >= 700 ? 1u << vxfsBold : 0) | (f.Italic ? 1u << vxfsItalic : 0) |
         (f.Underline ? 1u << vxfsUnderline : 0) | (f.StrikeOut ? 1u << vxfsStrikeOut : 0);
}
void TVXVectModel::SetObjFontStyles(int i, TVXFontStyles s) {
  TVXLogFont& f = EditFont(i);
  f.Weight = (s & (1u << vxfsBold)) ? 700 : 400;
  f.Italic = (s >> vxfsItalic) & 1;
  f.Underline = (s >> vxfsUnderline) & 1;
  f.StrikeOut = (s >> vxfsStrikeOut) & 1;
  Changed(i, false);
}

void TVXVectModel::SetObjAngles(int i, double a1, double a2) {
  SetProp(i, false, [&](TVXVObject& o) {
    o.Angle1 = a1;
    o.Angle2 = a2;
  });
}

const TBitmap* TVXVectModel::ObjBitmap(int i) const {
  const int slot = Obj(i).BitmapIdx;
  if (slot < 0 || slot >= static_cast<int>(FBitmaps.size())) return nullptr;
  return FBitmaps[static_cast<size_t>(slot)].Bitmap.get();
}

void TVXVectModel::SetObjBitmapNU(int i, const TBitmap& bmp) {
  // Acquire before releasing: bmp may be the very bitmap the object holds now.
  const int slot = AcquireBitmap(bmp);
  TVXVObject& o = Obj(i);
  if (o.BitmapIdx >= 0) ReleaseBitmap(o.BitmapIdx);
  o.BitmapIdx = slot;
}

void TVXVectModel::SetObjBitmap(int i, const TBitmap& bmp) {
  SetObjBitmapNU(i, bmp);
  Changed(i, false);
}

void TVXVectModel::SetObjBitmapIdxNU(int i, int slot) {
  TVXVObject& o = Obj(i);
  if (slot >= static_cast<int>(FBitmaps.size()) || (slot >= 0 && !FBitmaps[static_cast<size_t>(slot)].Bitmap))
    slot = -1;
  if (slot >= 0) ++FBitmaps[static_cast<size_t>(slot)].RefCount;
  if (o.BitmapIdx >= 0) ReleaseBitmap(o.BitmapIdx);
  o.BitmapIdx = slot < 0 ? -1 : slot;
}

// --- bitmap table

int TVXVectModel::AcquireBitmap(const TBitmap& bmp) {
  if (ShareBitmaps) {
    for (int s = static_cast<int>(FBitmaps.size()) - 1; s >= 0; --s) {
      auto& slot = FBitmaps[static_cast<size_t>(s)];
      if (slot.Bitmap && _BitmapCompareX(*slot.Bitmap, bmp)) {
        ++slot.RefCount;
        return s;
      }
    }
  }
  auto copy = std::make_unique<TBitmap>(bmp);
  for (size_t s = 0; s < FBitmaps.size(); ++s) {
    if (!FBitmaps[s].Bitmap) {
      FBitmaps[s] = {std::move(copy), 1};
      return static_cast<int>(s);
    }
  }
  FBitmaps.push_back({std::move(copy), 1});
  return static_cast<int>(FBitmaps.size()) - 1;
}

void TVXVectModel::ReleaseBitmap(int slot) {
  if (slot < 0 || slot >= static_cast<int>(FBitmaps.size())) return;
  auto& s = FBitmaps[static_cast<size_t>(slot)];
  if (s.RefCount <= 1) {
    s.Bitmap.reset();
    s.RefCount = 0;
  } else {
    --s.RefCount;
  }
}

void TVXVectModel::CompactBitmaps() {
  std::vector<int> renumber(FBitmaps.size(), -1);
  std::vector<TVXBitmapSlot> kept;
  for (size_t s = 0; s < FBitmaps.size(); ++s) {
    if (!FBitmaps[s].Bitmap) continue;
    renumber[s] = static_cast<int>(kept.size());
    kept.push_back(std::move(FBitmaps[s]));
  }
  FBitmaps = std::move(kept);
  auto fix = [&](TVXVObject& o) {
    if (o.BitmapIdx >= 0) o.BitmapIdx = o.BitmapIdx < static_cast<int>(renumber.size()) ? renumber[static_cast<size_t>(o.BitmapIdx)] : -1;
  };
  fix(FTemplate);
  for (auto& o : FObjects)
    if (o.Alive) fix(o);
}

// --- selection

bool TVXVectModel::IsSelObject(int idx) const {
  return std::find(FSelected.begin(), FSelected.end(), Resolve(idx)) != FSelected.end();
}

void TVXVectModel::AddSelObjectNS(int idx) {
  idx = Resolve(idx);
  if (!IsAlive(idx) || IsSelObject(idx)) return;
  FSelected.push_back(idx);
  Changed(idx, true);
}

void TVXVectModel::AddSelObject(int idx) {
  AddSelObjectNS(idx);
  SelectionChanged();
}

void TVXVectModel::UnSelObject(int idx) {
  idx = Resolve(idx);
  FSelected.erase(std::remove(FSelected.begin(), FSelected.end(), idx), FSelected.end());
  Changed(idx, true);
  SelectionChanged();
}

void TVXVectModel::UnSelAllObjects() {
  FSelected.clear();
  Changed(kVXRoot, true);
  SelectionChanged();
}

void TVXVectModel::SelAllObjects() {
  SelInRect(kVXRoot, FRoot.Left, FRoot.Top, FRoot.Right, FRoot.Bottom);
  SelectionChanged();
  Changed(kVXRoot, true);
}

void TVXVectModel::SelInRect(int frame, int x1, int y1, int x2, int y2) {
  OrdCor(x1, y1, x2, y2);
  for (int c : Obj(Resolve(frame)).Children) {
    const TVXVObject& o = FObjects[static_cast<size_t>(c)];
    if (o.Kind == vxkFRAME) {
      SelInRect(c, x1, y1, x2, y2);
      continue;
    }
    const int l = std::min(o.Left, o.Right), r = std::max(o.Left, o.Right);
    const int t = std::min(o.Top, o.Bottom), b = std::max(o.Top, o.Bottom);
    if (l >= x1 && r <= x2 && t >= y1 && b <= y2 && !IsSelObject(c)) FSelected.push_back(c);
  }
}

// --- hit-testing

namespace {

// Parametric points of an ellipse (or part of it), enough for a pixel-accurate distance.
double DistToEllipse(const TVXVObject& o, int x, int y, bool arc) {
  const double cx = (o.Left + o.Right) / 2.0, cy = (o.Top + o.Bottom) / 2.0;
  const double rx = std::abs(o.Right - o.Left) / 2.0, ry = std::abs(o.Bottom - o.Top) / 2.0;
  double start = 0, span = kTwoPi;
  if (arc) {
    start = o.Angle1;
    span = std::fmod(o.Angle1 - o.Angle2, kTwoPi);
    if (span < 0) span += kTwoPi;
    if (span == 0 && o.Angle1 != o.Angle2) span = kTwoPi;
  }
  // Steps of at most about one pixel along the outline.
  const int steps = static_cast<int>(std::clamp(std::ceil(span * std::max(rx, ry)), 8.0, 20000.0));
  double best = 1e300;
  double px = cx + rx * std::cos(start), py = cy + ry * std::sin(start);
  for (int k = 1; k <= steps; ++k) {
    const double a = start - span * k / steps;
    const double qx = cx + rx * std::cos(a), qy = cy + ry * std::sin(a);
    // Distance to segment p-q.
    const double dx = qx - px, dy = qy - py, len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((x - px) * dx + (y - py) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    best = std::min(best, std::hypot(x - (px + t * dx), y - (py + t * dy)));
    px = qx;
    py = qy;
  }
  return best;
}

}  // namespace

double TVXVectModel::CalcDistPtObj(const TVXVObject& o, int x, int y) {
  switch (o.Kind) {
    case vxkLINE:
    case vxkRULER:
      return _DistPoint2Seg(x, y, o.Left, o.Top, o.Right, o.Bottom);
    case vxkELLIPSE:
      return DistToEllipse(o, x, y, false);
    case vxkARC:
      return DistToEllipse(o, x, y, true);
    default: {
      int l = o.Left, t = o.Top, r = o.Right, b = o.Bottom;
      OrdCor(l, t, r, b);
      const bool filled = o.Kind != vxkBOX || o.BrushStyle != bsClear;
      if (filled && x >= l && x <= r && y >= t && y <= b) return 0;
      return std::min({_DistPoint2Seg(x, y, l, t, r, t), _DistPoint2Seg(x, y, r, t, r, b),
                       _DistPoint2Seg(x, y, r, b, l, b), _DistPoint2Seg(x, y, l, b, l, t)});
    }
  }
}

int TVXVectModel::FindNearObj(int frame, int x, int y, double& dist, const TRect& visible) const {
  frame = Resolve(frame);
  int best = frame;
  dist = 1000000000;
  const auto& list = Obj(frame).Children;
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    const TVXVObject& o = FObjects[static_cast<size_t>(*it)];
    if (!o.Has(vxvsSelectable)) continue;
    if (!_RectXRect(std::min(o.Left, o.Right), std::min(o.Top, o.Bottom), std::max(o.Left, o.Right),
                    std::max(o.Top, o.Bottom), visible.Left, visible.Top, visible.Right, visible.Bottom))
      continue;
    double d;
    int found = *it;
    if (o.Kind == vxkFRAME) {
      found = FindNearObj(*it, x, y, d, visible);
      if (found == *it) continue;
    } else {
      d = CalcDistPtObj(o, x, y);
    }
    if (d < dist) {
      dist = d;
      best = found;
    }
  }
  return best;
}

int TVXVectModel::FindSelGrip(int x, int y, int& grip, const TVXViewGeometry& g) const {
  grip = 0;
  const int drawR = g.OffX + g.DrawW - 1, drawB = g.OffY + g.DrawH - 1;
  for (size_t s = 0; s < FSelected.size(); ++s) {
    const TVXVObject& o = FObjects[static_cast<size_t>(FSelected[s])];
    const int x1 = VXObjX(g, o.Left), y1 = VXObjY(g, o.Top), x2 = VXObjX(g, o.Right), y2 = VXObjY(g, o.Bottom);
    if (!_RectXRect(std::min(x1, x2) - 4, std::min(y1, y2) - 4, std::max(x1, x2) + 4, std::max(y1, y2) + 4,
                    g.OffX, g.OffY, drawR, drawB))
      continue;
    const int xc = VXObjX(g, o.Left + (o.Right - o.Left + 1) / 2), yc = VXObjY(g, o.Top + (o.Bottom - o.Top + 1) / 2);
    auto near = [&](int px, int py) { return std::abs(x - px) <= 4 && std::abs(y - py) <= 4; };
    int hit = 0;
    if (near(x1, y1))
      hit = 1;
    else if (near(x2, y2))
      hit = 2;
    else if (near(xc, yc))
      hit = 3;
    if (!o.IsSegment()) {
      if (near(x2, y1)) hit = 4;
      if (near(x1, y2)) hit = 5;
    }
    if (hit) {
      grip = hit;
      return static_cast<int>(s);
    }
  }
  return kVXNone;
}

TRect TVXVectModel::GetObjectsExtents() const {
  TRect r{0, 0, 0, 0};
  for (const auto& o : FObjects) {
    if (!o.Alive || o.Kind == vxkFRAME) continue;
    r.Right = std::max(r.Right, std::max(o.Left, o.Right) + 1);
    r.Bottom = std::max(r.Bottom, std::max(o.Top, o.Bottom) + 1);
  }
  return r;
}

// --- measurement

void TVXVectModel::UpdateCoef() { VXCalcCoef(FMUnit, FDPIX, FDPIY, FScale, FCoefX, FCoefY); }

void TVXVectModel::CalcCoef(double& cx, double& cy, TVXUnits unit) const {
  VXCalcCoef(unit, FDPIX, FDPIY, FScale, cx, cy);
}

void TVXVectModel::SetMUnit(TVXUnits u) {
  FMUnit = u;
  FTemplate.RulerUnit = u;
  UpdateCoef();
  MeasureChanged();
}

void TVXVectModel::SetFloatDigits(int digits) {
  FloatDigits = digits;
  MeasureChanged();
}

void TVXVectModel::SetFloatPrecision(int precision) {
  FloatPrecision = precision;
  MeasureChanged();
}

void TVXVectModel::SetScale(double s) {
  FScale = s;
  UpdateCoef();
  MeasureChanged();
}

void TVXVectModel::SetScaleFromPixels(int pixels, double value) {
  // The unscaled coefficient, so that pixels * new coefficient = value.
  double cx, cy;
  VXCalcCoef(FMUnit, FDPIX, FDPIY, 1.0, cx, cy);
  if (pixels == 0 || cx == 0) return;
  SetScale(value / pixels / cx);
}

void TVXVectModel::SetMeasureDPI(int dpix, int dpiy) {
  FDPIX = dpix;
  FDPIY = dpiy;
  UpdateCoef();
  MeasureChanged();
}

std::string TVXVectModel::MeasureText(double value, TVXUnits unit, bool area) const {
  // Round to the significant digits first, then show the fixed decimals.
  char buf[400];
  const int precision = std::clamp(FloatPrecision, 1, 17), digits = std::clamp(FloatDigits, 0, 18);
  std::string s;
  if (!std::isfinite(value) || std::abs(value) >= std::pow(10.0, precision)) {
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
    s.assign(buf, r.ptr);
  } else {
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
    double rounded = 0;
    std::from_chars(buf, r.ptr, rounded);
    r = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::fixed, digits);
    s.assign(buf, r.ptr);
  }
  s += ' ';
  s += strunits[unit <= vxuMILLIMETERS ? unit : 0];
  if (area) s += "\xC2\xB2";
  return s;
}

}  // namespace vexa
