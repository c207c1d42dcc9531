#include "vexa/io/metafile.h"

#include <algorithm>
#include <cmath>

#include "vexa/core/vxview.h"
#include "vexa/io/metafile_player.h"

namespace vexa {

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr uint32_t kEmfSignature = 0x464D4520u;  // " EMF"

int SizeFrom(double v) { return static_cast<int>(std::clamp(v, 0.0, double(1 << 24))); }

}  // namespace

bool TVXMetafile::LoadFromStream(TStream& stream) {
  int64_t n = stream.Remaining();
  if (n <= 0 || n > kMaxBytes) {
    FData.clear();
    FFailure.Clear();
    if (n <= 0)
      FFailure.Set(fkTruncated, "no data");
    else
      FFailure.Set(fkSizeLimit, "metafiles over " + std::to_string(kMaxBytes >> 20) + " MiB are refused");
    return false;
  }
  std::vector<uint8_t> buf(static_cast<size_t>(n));
  buf.resize(static_cast<size_t>(stream.Read(buf.data(), n)));
  return LoadFromBytes(buf.data(), buf.size());
}

bool TVXMetafile::LoadFromFile(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  return LoadFromStream(f);
}

bool TVXMetafile::LoadFromBytes(const uint8_t* data, size_t size) {
  FData.assign(data, data + size);
  FWidth = FHeight = 0;
  FFrameLeft = FFrameTop = 0, FFrameWidth = FFrameHeight = 1;
  FSpaceLeft = FSpaceTop = 0, FSpaceWidth = FSpaceHeight = 1;
  FFailure.Clear();
  FDrawNote.Clear();
  TVXMBytes b{FData.data(), FData.size()};
  bool ok = b.U32(0) == 1 && b.U32(40) == kEmfSignature ? ParseEmf() : ParseWmf();
  if (!ok) FData.clear();
  return ok;
}

bool TVXMetafile::ParseEmf() {
  TVXMBytes b{FData.data(), FData.size()};
  uint32_t headerSize = b.U32(4);
  if (headerSize < 88 || headerSize > b.N) {
    FFailure.Set(headerSize > b.N ? fkTruncated : fkCorrupt, "EMF header size", headerSize);
    return false;
  }
  FEnhanced = true;
  int32_t bl = b.I32(8), bt = b.I32(12), br = b.I32(16), bb = b.I32(20);
  int32_t fl = b.I32(24), ft = b.I32(28), fr = b.I32(32), fb = b.I32(36);
  int32_t devX = b.I32(72), devY = b.I32(76), mmX = b.I32(80), mmY = b.I32(84);
  FDevPerMm100X = FDevPerMm100Y = 96.0 / 2540.0;
  if (devX > 0 && mmX > 0) FDevPerMm100X = devX / (mmX * 100.0);
  if (devY > 0 && mmY > 0) FDevPerMm100Y = devY / (mmY * 100.0);
  // The reference device's size in micrometres, when the header is long enough to
  // hold it, is the finer measure of the same ratio.
  if (headerSize >= 108) {
    int32_t umX = b.I32(100), umY = b.I32(104);
    if (devX > 0 && umX > 0) FDevPerMm100X = devX / (umX / 10.0);
    if (devY > 0 && umY > 0) FDevPerMm100Y = devY / (umY / 10.0);
  }
  double fw = double(fr) - fl, fh = double(fb) - ft;
  if (fw > 0 && fh > 0) {
    // The platform keeps the frame in whole reference-device pixels, truncated.
    auto whole = [](double v) { return std::floor(v + 1e-6); };  // 95.9999999 is 96
    FFrameLeft = whole(fl * FDevPerMm100X), FFrameTop = whole(ft * FDevPerMm100Y);
    FFrameWidth = std::max(1.0, whole(fr * FDevPerMm100X) - FFrameLeft);
    FFrameHeight = std::max(1.0, whole(fb * FDevPerMm100Y) - FFrameTop);
    FWidth = SizeFrom(std::round(fw * gSystemDPIX / 2540.0));
    FHeight = SizeFrom(std::round(fh * gSystemDPIY / 2540.0));
  } else {
    // No usable frame: fall back on the inclusive bounds in device pixels.
    double w = double(br) - bl + 1, h = double(bb) - bt + 1;
    if (w <= 0 || h <= 0) return true;
    FFrameLeft = bl, FFrameTop = bt, FFrameWidth = w, FFrameHeight = h;
    FWidth = SizeFrom(w), FHeight = SizeFrom(h);
  }
  FFirstRecord = 0;
  return true;
}

bool TVXMetafile::ParseWmf() {
  TVXMBytes b{FData.data(), FData.size()};
  FEnhanced = false;
  size_t h = 0;
  bool placeable = b.U32(0) == kPlaceableKey;
  if (placeable) h = 22;
  uint16_t type = b.U16(h), headerWords = b.U16(h + 2), version = b.U16(h + 4);
  if (!b.Has(h, 18)) {
    FFailure.Set(fkTruncated, "WMF header ends early");
    return false;
  }
  if ((type != 1 && type != 2) || headerWords != 9) {
    FFailure.Set(fkCorrupt, "not a WMF or EMF header");
    return false;
  }
  if (!placeable && version != 0x0100 && version != 0x0300) {
    FFailure.Set(fkUnsupported, "WMF version", version);
    return false;
  }
  FFirstRecord = h + 18;
  bool haveSpace = false;
  if (placeable) {
    int l = b.I16(6), t = b.I16(8), r = b.I16(10), bt = b.I16(12);
    int inch = b.U16(14);
    if (inch == 0) inch = 1440;  // twips, the usual unit
    FWidth = static_cast<int>(static_cast<int64_t>(std::abs(r - l)) * gSystemDPIX / inch);
    FHeight = static_cast<int>(static_cast<int64_t>(std::abs(bt - t)) * gSystemDPIY / inch);
    if (r != l && bt != t) FSpaceLeft = l, FSpaceTop = t, FSpaceWidth = r - l, FSpaceHeight = bt - t, haveSpace = true;
  } else {
    // Plain metafile: the first window origin and extent give the frame, in pixels.
    double orgX = 0, orgY = 0;
    bool haveOrg = false;
    for (size_t off = FFirstRecord; b.Has(off, 6);) {
      uint32_t words = b.U32(off);
      uint16_t fn = b.U16(off + 4);
      if (words < 3 || words > (b.N - off) / 2 || fn == 0) break;
      if (fn == 0x020B && !haveOrg) orgY = b.I16(off + 6), orgX = b.I16(off + 8), haveOrg = true;
      if (fn == 0x020C) {
        int ey = b.I16(off + 6), ex = b.I16(off + 8);
        if (ex != 0 && ey != 0) {
          FSpaceLeft = orgX, FSpaceTop = orgY, FSpaceWidth = ex, FSpaceHeight = ey, haveSpace = true;
          FWidth = std::abs(ex), FHeight = std::abs(ey);
          break;
        }
      }
      off += static_cast<size_t>(words) * 2;
    }
  }
  FFrameLeft = FSpaceLeft, FFrameTop = FSpaceTop, FFrameWidth = FSpaceWidth, FFrameHeight = FSpaceHeight;

  // What the records draw, in the starting window's units.
  TVXMetaPlayer measure(nullptr, false);
  measure.InitWindow(FSpaceLeft, FSpaceTop, FSpaceWidth, FSpaceHeight);
  measure.FrameLeft = measure.DestLeft = FSpaceLeft, measure.FrameTop = measure.DestTop = FSpaceTop;
  measure.FrameWidth = measure.DestWidth = FSpaceWidth, measure.FrameHeight = measure.DestHeight = FSpaceHeight;
  measure.PlayWmf(b, FFirstRecord);
  if (!measure.Measured()) return true;
  double mw = measure.MaxX - measure.MinX, mh = measure.MaxY - measure.MinY;
  if (!haveSpace) {
    // No window at all: the extent of what is drawn, end pixels included.
    FFrameLeft = measure.MinX, FFrameTop = measure.MinY, FFrameWidth = mw + 1, FFrameHeight = mh + 1;
    FWidth = SizeFrom(FFrameWidth), FHeight = SizeFrom(FFrameHeight);
    return true;
  }
  double x0 = std::min(FSpaceLeft, FSpaceLeft + FSpaceWidth), x1 = std::max(FSpaceLeft, FSpaceLeft + FSpaceWidth);
  double y0 = std::min(FSpaceTop, FSpaceTop + FSpaceHeight), y1 = std::max(FSpaceTop, FSpaceTop + FSpaceHeight);
  double slackX = (x1 - x0) / 32, slackY = (y1 - y0) / 32;
  bool leaves = measure.MinX < x0 - slackX || measure.MaxX > x1 + slackX || measure.MinY < y0 - slackY ||
                measure.MaxY > y1 + slackY;
  if (leaves && mw > 0 && mh > 0) {
    // Keep the header's orientation: a window with negative extent stays mirrored.
    FFrameLeft = FSpaceWidth > 0 ? measure.MinX : measure.MaxX;
    FFrameTop = FSpaceHeight > 0 ? measure.MinY : measure.MaxY;
    FFrameWidth = FSpaceWidth > 0 ? mw : -mw;
    FFrameHeight = FSpaceHeight > 0 ? mh : -mh;
  }
  return true;
}

void TVXMetafile::Draw(TBitmap& dst, const TRect& dstRect) const {
  FDrawNote.Clear();
  if (FData.empty() || dst.Empty()) return;
  if (dst.PixelFormat() != pf24bit) dst.SetPixelFormat(pf24bit);
  TVXMBytes b{FData.data(), FData.size()};
  TVXMetaPlayer p(&dst, FEnhanced);
  p.FrameLeft = FFrameLeft, p.FrameTop = FFrameTop, p.FrameWidth = FFrameWidth, p.FrameHeight = FFrameHeight;
  p.DestLeft = dstRect.Left, p.DestTop = dstRect.Top, p.DestWidth = dstRect.Width(), p.DestHeight = dstRect.Height();
  p.DevPerMm100X = FDevPerMm100X, p.DevPerMm100Y = FDevPerMm100Y;
  if (FEnhanced) {
    p.PlayEmf(b);
  } else {
    p.InitWindow(FSpaceLeft, FSpaceTop, FSpaceWidth, FSpaceHeight);
    p.PlayWmf(b, FFirstRecord);
  }
  if (p.SkippedText() > 0) FDrawNote.Set(fkUnsupported, "text not drawn: no text service is installed");
}

}  // namespace vexa
