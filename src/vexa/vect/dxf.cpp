// DXF import: the drawing-exchange text format read as pairs of lines, a group
// code and its value. Of the header only $EXTMIN / $EXTMAX matter (they scale the
// drawing into the bitmap); of the entities only LINE, CIRCLE and ARC.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>

#include "vexa/core/streams.h"
#include "vexa/vect/vectmodel.h"

namespace vexa {

namespace {

constexpr double kTwoPi = 6.283185307179586, kDegToRad = 3.141592653589793 / 180;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// from_chars reads '.' whatever the locale says.
std::optional<double> Number(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int> Code(std::string_view s) {
  int v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

// Far outside any bitmap, yet safe to add offsets to.
int32_t Clamp(double v) { return static_cast<int32_t>(std::trunc(std::fmax(-1e9, std::fmin(1e9, v)))); }

enum TSection { secNone, secHeader, secClasses, secTables, secBlocks, secEntities, secObjects };

struct TEntity {
  TVXVObjectKind Kind = vxkLINE;
  double V[7] = {};  // 10, 20, 11, 21, 40, 50, 51
};

class TDXFImport {
 public:
  TDXFImport(TVXVectModel& m, int w, int h) : M(m), W(w), H(h) {}

  void Pair(int code, std::string_view value) {
    if (FWantSectionName) {
      FWantSectionName = false;
      FSection = code == 2 ? SectionOf(value) : secNone;
      return;
    }
    if (code == 0) {
      Flush();
      if (value == "SECTION") {
        FWantSectionName = true;
      } else if (value == "ENDSEC") {
        FSection = secNone;
      } else if (FSection == secEntities) {
        if (value == "LINE") FEntity = TEntity{vxkLINE, {}};
        if (value == "CIRCLE") FEntity = TEntity{vxkELLIPSE, {}};
        if (value == "ARC") FEntity = TEntity{vxkARC, {}};
      }
      return;
    }
    if (FSection == secHeader) Header(code, value);
    if (FSection == secEntities && FEntity) Field(code, value);
  }

  void Flush() {
    if (!FEntity) return;
    const TEntity e = *FEntity;
    FEntity.reset();
    TVXVObject o = M.Obj(kVXTemplate);
    o.Kind = e.Kind;
    o.BeginShape = o.EndShape = vxsNONE;
    o.ShapeWidth = 10;
    o.ShapeHeight = 20;
    o.PenWidth = 1;
    const double cx = e.V[0], cy = e.V[1], r = e.V[4];
    if (e.Kind == vxkLINE) {
      Map(e.V[0], e.V[1], o.Left, o.Top);
      Map(e.V[2], e.V[3], o.Right, o.Bottom);
    } else if (e.Kind == vxkELLIPSE) {
      Map(cx - r, cy - r, o.Left, o.Top);
      Map(cx + r, cy + r, o.Right, o.Bottom);
    } else {
      Map(cx + r, cy + r, o.Left, o.Top);
      Map(cx - r, cy - r, o.Right, o.Bottom);
      o.Angle1 = kTwoPi - e.V[5] * kDegToRad;
      o.Angle2 = kTwoPi - e.V[6] * kDegToRad;
    }
    M.AddVObject(kVXRoot, o);
  }

 private:
  static TSection SectionOf(std::string_view name) {
    if (name == "HEADER") return secHeader;
    if (name == "CLASSES") return secClasses;
    if (name == "TABLES") return secTables;
    if (name == "BLOCKS") return secBlocks;
    if (name == "ENTITIES") return secEntities;
    if (name == "OBJECTS") return secObjects;
    return secNone;
  }

  void Header(int code, std::string_view value) {
    if (code == 9) {
      FVar = value == "$EXTMIN" ? 1 : value == "$EXTMAX" ? 2 : 0;
      return;
    }
    if (FVar == 0 || (code != 10 && code != 20)) return;
    const auto v = Number(value);
    if (!v) return;
    if (FVar == 1) {
      (code == 10 ? FMinX : FMinY) = *v;
    } else {
      (code == 10 ? FMaxX : FMaxY) = *v;
      if (code == 20) Extents();
    }
  }

  void Extents() {
    const double dy = FMaxY - FMinY + 1, dx = FMaxX - FMinX + 1;
    // Empty or inverted extents (1e20 .. -1e20 marks an unmeasured drawing) would
    // divide by zero or mirror it: draw it 1:1 from the origin instead.
    if (!(dx > 0 && dy > 0)) {
      FMinX = FMinY = 0;
      return;
    }
    const double s = std::fmin(H / dy, W / dx);
    if (!(s > 0) || !std::isfinite(s)) return;
    FScale = s;
    FOffset = H - Clamp((FMaxY - FMinY) * s);
  }

  void Field(int code, std::string_view value) {
    static const int kCodes[7] = {10, 20, 11, 21, 40, 50, 51};
    for (int k = 0; k < 7; ++k) {
      if (code != kCodes[k]) continue;
      if (const auto v = Number(value)) FEntity->V[k] = *v;
    }
  }

  void Map(double x, double y, int32_t& bx, int32_t& by) const {
    bx = Clamp((x - FMinX) * FScale);
    by = Clamp(H - static_cast<double>(Clamp((y - FMinY) * FScale)) - FOffset);
  }

  TVXVectModel& M;
  int W, H;
  TSection FSection = secNone;
  bool FWantSectionName = false;
  int FVar = 0;
  double FMinX = 0, FMinY = 0, FMaxX = 0, FMaxY = 0, FScale = 1;
  int32_t FOffset = 0;
  std::optional<TEntity> FEntity;
};

}  // namespace

void TVXVectModel::ImportDXFStream(TStream& stream, int bmpW, int bmpH) {
  std::string text(static_cast<size_t>(std::max<int64_t>(0, stream.Remaining())), '\0');
  text.resize(static_cast<size_t>(stream.Read(text.data(), static_cast<int64_t>(text.size()))));
  TDXFImport dxf(*this, bmpW, bmpH);
  std::string_view rest(text);
  auto nextLine = [&](std::string_view& line) {
    if (rest.empty()) return false;
    const size_t nl = rest.find('\n');
    line = Trim(rest.substr(0, nl));
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    return true;
  };
  std::string_view codeLine, value;
  while (nextLine(codeLine) && nextLine(value)) {
    if (const auto code = Code(codeLine)) dxf.Pair(*code, value);
  }
  dxf.Flush();
  VectorialChanged();
  Changed(kVXRoot, true);
}

void TVXVectModel::ImportDXF(const std::string& fileName, int bmpW, int bmpH) {
  TFileStream f(fileName, fmOpenRead);
  ImportDXFStream(f, bmpW, bmpH);
}

}  // namespace vexa
