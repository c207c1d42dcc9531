#include "vexa/codecs/tga.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "vexa/core/bytereader.h"
#include "vexa/quant/colordepth.h"
#include "vexa/quant/colorhelpers.h"
#include "vexa/quant/quantizer.h"
#include "vexa/core/vxview.h"

namespace vexa {

namespace {

constexpr int kHeaderSize = 18;
constexpr int kFooterSize = 26;
constexpr int kExtensionSize = 495;
constexpr char kSignature[] = "TRUEVISION-XFILE.";  // followed by a zero byte
constexpr size_t kReadBufferSize = 8192;

// The 18-byte header; all words little-endian.
struct TgaHeader {
  uint8_t idLength = 0;      // 0: bytes of image ID after the header
  uint8_t colorMapType = 0;  // 1: 0 none, 1 present
  uint8_t imageType = 0;     // 2: 1 mapped, 2 true colour, 3 grey; +8 run-length
  uint16_t mapFirst = 0;     // 3: index of the first stored entry
  uint16_t mapLength = 0;    // 5: entries stored
  uint8_t mapEntryBits = 0;  // 7: 15, 16, 24 or 32
  uint16_t xOrigin = 0, yOrigin = 0;  // 8, 10
  uint16_t width = 0, height = 0;     // 12, 14
  uint8_t depth = 0;                  // 16: bits per pixel
  uint8_t descriptor = 0;             // 17: bit 5 top-down, bit 4 right-to-left, bits 0-3 alpha bits
};


TgaHeader ParseHeader(const uint8_t* b) {
  TVXByteReader r(b, kHeaderSize);
  TgaHeader h;
  h.idLength = r.U8(0);
  h.colorMapType = r.U8(1);
  h.imageType = r.U8(2);
  h.mapFirst = r.U16(3);
  h.mapLength = r.U16(5);
  h.mapEntryBits = r.U8(7);
  h.xOrigin = r.U16(8);
  h.yOrigin = r.U16(10);
  h.width = r.U16(12);
  h.height = r.U16(14);
  h.depth = r.U8(16);
  h.descriptor = r.U8(17);
  return h;
}

bool ValidType(int type) { return (type >= 1 && type <= 3) || (type >= 9 && type <= 11); }
bool ValidDepth(int depth) {
  return depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
}

// Dates are the platform's date-time: days since 1899-12-30, time of day as the fraction.
constexpr int64_t kEpochOffset = 25569;  // 1899-12-30 .. 1970-01-01

int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// The stored ratio: four decimals, fewer when the numerator would not fit 16 bits.
void RatioToFraction(double v, uint16_t& num, uint16_t& den) {
  num = den = 0;
  if (!(v > 0)) return;
  double d = 10000;
  while (d > 1 && std::trunc(v * d) > 65535) d /= 10;
  const double n = std::trunc(v * d);
  if (n < 1) return;
  num = static_cast<uint16_t>(std::min(n, 65535.0));
  den = static_cast<uint16_t>(d);
}

void ReadExtension(TStream& stream, int64_t start, TIOParamsVals& params) {
  const int64_t end = stream.Size();
  if (end - start < kFooterSize) return;
  uint8_t footer[kFooterSize];
  stream.SetPosition(end - kFooterSize);
  if (stream.Read(footer, kFooterSize) != kFooterSize) return;
  if (std::memcmp(footer + 8, kSignature, sizeof(kSignature) - 1) != 0) return;
  const int64_t extPos = start + VXLoadU32(footer);
  if (extPos < start || extPos + kExtensionSize > end) return;
  uint8_t ext[kExtensionSize];
  stream.SetPosition(extPos);
  if (stream.Read(ext, kExtensionSize) != kExtensionSize) return;

  auto text = [&](int offset) {
    const char* p = reinterpret_cast<const char*>(ext + offset);
    return std::string(p, strnlen(p, 41));
  };
  params.TGA_Author = text(2);
  params.TGA_Descriptor = text(379);

  TVXByteReader x(ext, kExtensionSize);
  const int month = x.U16(367), day = x.U16(369), year = x.U16(371);
  const int hour = x.U16(373), minute = x.U16(375), second = x.U16(377);
  if (month >= 1 && month <= 12 && year >= 1 && day >= 1 && day <= DaysInMonth(year, month) && hour < 24 &&
      minute < 60 && second < 60)
    params.TGA_Date = static_cast<double>(DaysFromCivil(year, month, day) + kEpochOffset) +
                      (hour * 3600 + minute * 60 + second) / 86400.0;

  params.TGA_Background = CreateRGB(ext[471], ext[472], ext[473]);
  const int arNum = x.U16(474), arDen = x.U16(476);
  if (arNum && arDen) params.TGA_AspectRatio = static_cast<double>(arNum) / arDen;
  const int gNum = x.U16(478), gDen = x.U16(480);
  if (gNum && gDen) params.TGA_Gamma = static_cast<double>(gNum) / gDen;
}

// Sequential input through a private buffer, refilled from the stream.
class TgaInput {
 public:
  explicit TgaInput(TStream& stream) : FStream(stream), FBuf(kReadBufferSize) {}

  // False when the stream ends first.
  bool Read(uint8_t* dst, size_t n) {
    while (n) {
      if (FPos == FLen && !Refill()) return false;
      const size_t k = std::min(n, FLen - FPos);
      std::memcpy(dst, FBuf.data() + FPos, k);
      FPos += k;
      dst += k;
      n -= k;
    }
    return true;
  }
  bool Skip(int64_t n) {
    uint8_t scratch[256];
    while (n > 0) {
      const size_t k = static_cast<size_t>(std::min<int64_t>(n, sizeof(scratch)));
      if (!Read(scratch, k)) return false;
      n -= static_cast<int64_t>(k);
    }
    return true;
  }
  bool ReadByte(uint8_t& b) { return Read(&b, 1); }
  /// Bytes not yet consumed, buffered or still in the stream.
  int64_t Remaining() { return static_cast<int64_t>(FLen - FPos) + FStream.Remaining(); }

 private:
  bool Refill() {
    FLen = static_cast<size_t>(FStream.Read(FBuf.data(), static_cast<int64_t>(FBuf.size())));
    FPos = 0;
    return FLen > 0;
  }
  TStream& FStream;
  std::vector<uint8_t> FBuf;
  size_t FPos = 0, FLen = 0;
};

// Run-length packets, decoded as one continuous sequence of units (pixels, or bytes
// for depths below 8): packets that cross a row end carry on into the next row.
class TgaPackets {
 public:
  TgaPackets(TgaInput& in, int unitBytes) : FIn(in), FUnit(unitBytes) {}

  bool Fill(uint8_t* dst, size_t units) {
    size_t i = 0;
    while (i < units) {
      if (FLeft == 0) {
        uint8_t h;
        if (!FIn.ReadByte(h)) return false;
        FLeft = (h & 127u) + 1;
        FRepeat = (h & 128) != 0;
        if (FRepeat && !FIn.Read(FValue, FUnit)) return false;
      }
      const size_t k = std::min(units - i, FLeft);
      uint8_t* d = dst + i * FUnit;
      if (FRepeat) {
        if (FUnit == 1) {
          std::memset(d, FValue[0], k);
        } else {
          for (size_t j = 0; j < k; ++j) std::memcpy(d + j * FUnit, FValue, FUnit);
        }
      } else if (!FIn.Read(d, k * FUnit)) {
        return false;
      }
      i += k;
      FLeft -= k;
    }
    return true;
  }

 private:
  TgaInput& FIn;
  size_t FUnit;
  size_t FLeft = 0;
  bool FRepeat = false;
  uint8_t FValue[4] = {};
};

TRGB From555(uint16_t v) {
  return CreateRGB(static_cast<uint8_t>(((v >> 10) & 31) * 8), static_cast<uint8_t>(((v >> 5) & 31) * 8),
                   static_cast<uint8_t>((v & 31) * 8));
}

// Packet encoding of one row of n pixels of pb bytes.
size_t EncodeRow(const uint8_t* px, int n, int pb, uint8_t* out) {
  auto same = [&](int a, int b) { return std::memcmp(px + a * pb, px + b * pb, pb) == 0; };
  size_t o = 0;
  int i = 0;
  while (i < n) {
    int run = 1;
    while (i + run < n && run < 128 && same(i, i + run)) ++run;
    if (run >= 2) {
      out[o++] = static_cast<uint8_t>(0x80 | (run - 1));
      std::memcpy(out + o, px + i * pb, pb);
      o += pb;
      i += run;
      continue;
    }
    const int first = i;
    int count = 0;
    while (i < n && count < 128 && !(i + 1 < n && same(i, i + 1))) {
      ++i;
      ++count;
    }
    out[o++] = static_cast<uint8_t>(count - 1);
    std::memcpy(out + o, px + first * pb, static_cast<size_t>(count) * pb);
    o += static_cast<size_t>(count) * pb;
  }
  return o;
}

void PutText(uint8_t* dst, const std::string& s) { std::memcpy(dst, s.data(), std::min<size_t>(s.size(), 40)); }

}  // namespace

bool TryTGA(TStream& stream) {
  const int64_t pos = stream.Position();
  uint8_t b[kHeaderSize];
  const int64_t got = stream.Read(b, kHeaderSize);
  stream.SetPosition(pos);
  if (got != kHeaderSize) return false;
  // A netpbm signature reads as colour map type '2'..'6', which TGA never uses.
  if (b[0] == 'P' && b[1] >= '2' && b[1] <= '6') return false;
  return ValidType(b[2]) && ValidDepth(b[16]);
}

void ReadTGAStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress) {
  const int64_t start = stream.Position();
  params.TGA_Author.clear();
  params.TGA_Descriptor.clear();
  params.TGA_Date = VXToday();
  params.TGA_Background = TRGB{};
  params.TGA_AspectRatio = 1.0;
  params.TGA_Gamma = 2.2;
  ReadExtension(stream, start, params);
  stream.SetPosition(start);

  TgaInput in(stream);
  uint8_t raw[kHeaderSize];
  if (!in.Read(raw, kHeaderSize)) return progress.Fail(fkTruncated, "header ends early");
  const TgaHeader h = ParseHeader(raw);
  params.TGA_XPos = h.xOrigin;
  params.TGA_YPos = h.yOrigin;
  if (!ValidType(h.imageType)) return progress.Fail(fkUnsupported, "image type", h.imageType);
  if (!ValidDepth(h.depth)) return progress.Fail(fkUnsupported, "pixel depth", h.depth);
  if (h.width == 0 || h.height == 0) return progress.Fail(fkCorrupt, "width or height is 0");

  std::string id(h.idLength, '\0');
  if (!in.Read(reinterpret_cast<uint8_t*>(id.data()), id.size())) return progress.Fail(fkTruncated, "image ID ends early");
  // Writers store the name with its terminating zero.
  id.resize(strnlen(id.c_str(), id.size()));
  params.TGA_ImageName = id;

  TRGB pal[256];
  for (int i = 0; i < 256; ++i)
    pal[i] = CreateRGB(static_cast<uint8_t>((i >> 5) * 32 + 28), static_cast<uint8_t>(((i >> 2) & 7) * 32 + 28),
                       static_cast<uint8_t>((i & 3) * 64 + 60));
  const int depth = h.depth;
  const bool grey = (h.imageType & 7) == 3;
  if (h.colorMapType == 1) {
    const int entryBytes = (h.mapEntryBits + 7) / 8;
    uint8_t e[4];
    for (int i = 0; i < h.mapLength; ++i) {
      const int slot = h.mapFirst + i;
      if (entryBytes < 2 || entryBytes > 4) {
        if (!in.Skip(entryBytes)) break;
        continue;
      }
      if (!in.Read(e, entryBytes)) return progress.Fail(fkTruncated, "colour map ends early");
      if (slot > 255) continue;
      pal[slot] = entryBytes == 2 ? From555(VXLoadU16(e)) : CreateRGB(e[2], e[1], e[0]);
    }
    params.SetColorMap(pal, std::min<int>(h.mapLength, 256));
    params.TGA_GrayLevel = false;
  } else if (depth == 8 || depth == 4) {
    // Without a map, 4 bits per pixel are spread over the same black-to-white range.
    const int levels = depth == 8 ? 256 : 16, step = depth == 8 ? 1 : 17;
    for (int i = 0; i < levels; ++i) pal[i] = CreateRGB(i * step, i * step, i * step);
    params.SetColorMap(pal, levels);
    params.TGA_GrayLevel = true;
  } else if (depth == 1) {
    pal[0] = TRGB{0, 0, 0};
    pal[1] = TRGB{255, 255, 255};
    params.SetColorMap(pal, 2);
  } else {
    params.FreeColorMap();
  }

  params.TGA_Compressed = h.imageType >= 9;
  params.Width = h.width;
  params.Height = h.height;
  params.DpiX = gSystemDPIX;
  params.DpiY = gSystemDPIY;
  switch (depth) {
    case 1: params.BitsPerSample = 1, params.SamplesPerPixel = 1; break;
    case 4: params.BitsPerSample = 4, params.SamplesPerPixel = 1; break;
    case 8: params.BitsPerSample = 8, params.SamplesPerPixel = 1; break;
    case 16: params.BitsPerSample = 5, params.SamplesPerPixel = 3; break;
    case 24: params.BitsPerSample = 8, params.SamplesPerPixel = 3; break;
    default: params.BitsPerSample = 8, params.SamplesPerPixel = 4; break;
  }
  if (preview) return;

  const int width = h.width, height = h.height;
  // Units: bytes for the packed depths 1 and 4, pixels otherwise.
  const int unitBytes = depth < 8 ? 1 : depth / 8;
  const int rowUnits = depth == 1 ? (width + 7) / 8 : depth == 4 ? (width + 1) / 2 : width;
  // Refuse before allocating when even the densest packets (128 units from 1 + unit
  // bytes) could not fill the declared picture.
  const int64_t maxUnits = (in.Remaining() + 1) * 128;
  if (!VXCheckBitmapSize(width, height, depth == 1 ? 1 : 24)) return progress.Fail(fkSizeLimit, VXSizeText(width, height));
  if (static_cast<int64_t>(rowUnits) * height > maxUnits)
    return progress.Fail(fkTruncated, "too little data for " + std::to_string(width) + " x " + std::to_string(height));
  bitmap.Allocate(width, height, depth == 1 ? pf1bit : pf24bit);

  const bool topDown = (h.descriptor & 0x20) != 0;
  const bool mirrored = (h.descriptor & 0x10) != 0;
  std::vector<uint8_t> units(static_cast<size_t>(rowUnits) * unitBytes);
  std::vector<uint8_t> mirror(depth == 1 ? units.size() : 0);
  std::vector<TRGB> pixels(depth == 1 || depth == 24 ? 0 : width);
  TgaPackets packets(in, unitBytes);
  progress.PerUnit = 100.0 / height;
  progress.Done = 0;
  for (int i = 0; i < height; ++i) {
    const int row = topDown ? i : height - 1 - i;
    uint8_t* dst = bitmap.ScanLine(row);
    const bool ok = params.TGA_Compressed ? packets.Fill(units.data(), rowUnits) : in.Read(units.data(), units.size());
    if (!ok) return progress.Fail(fkTruncated, VXRowsEndText(i, height));
    const uint8_t* u = units.data();
    if (depth == 1) {
      const int n = rowUnits;
      if (mirrored) {
        std::fill(mirror.begin(), mirror.end(), 0);
        for (int x = 0; x < width; ++x)
          if (u[x >> 3] & (0x80 >> (x & 7))) {
            const int m = width - 1 - x;
            mirror[m >> 3] |= static_cast<uint8_t>(0x80 >> (m & 7));
          }
        u = mirror.data();
      }
      std::memcpy(dst, u, n);
      if (width & 7) dst[n - 1] &= static_cast<uint8_t>(0xFF00 >> (width & 7));
    } else {
      TRGB* out = depth == 24 ? reinterpret_cast<TRGB*>(dst) : pixels.data();
      switch (depth) {
        case 4:
          for (int x = 0; x < width; ++x) out[x] = pal[(x & 1) ? (u[x >> 1] & 15) : (u[x >> 1] >> 4)];
          break;
        case 8:
          for (int x = 0; x < width; ++x) out[x] = pal[u[x]];
          break;
        case 16:
          if (grey) {
            // Grey plus alpha: the first byte is the level.
            for (int x = 0; x < width; ++x) out[x] = CreateRGB(u[2 * x], u[2 * x], u[2 * x]);
          } else {
            for (int x = 0; x < width; ++x) out[x] = From555(VXLoadU16(u + 2 * x));
          }
          break;
        case 24:
          std::memcpy(out, u, static_cast<size_t>(width) * 3);
          break;
        default:
          for (int x = 0; x < width; ++x) out[x] = CreateRGB(u[4 * x + 2], u[4 * x + 1], u[4 * x]);
          break;
      }
      if (mirrored) std::reverse(out, out + width);
      if (depth != 24) std::memcpy(dst, out, static_cast<size_t>(width) * 3);
    }
    ++progress.Done;
    progress.Report(progress.Done);
  }
}

void WriteTGAStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  const TPixelFormat pf = bitmap.PixelFormat();
  const int width = bitmap.Width(), height = bitmap.Height();
  if (pf != pf1bit && pf != pf24bit) return progress.Fail(fkUnsupported, "pixel format", pf);
  if (bitmap.Empty() || width > 65535 || height > 65535)
    return progress.Fail(fkSizeLimit, "TGA holds 1 x 1 to 65535 x 65535 pixels");
  const int64_t start = stream.Position();

  int depth = 24;
  if (params.SamplesPerPixel == 1) {
    if (params.BitsPerSample == 1)
      depth = 1;
    else if (params.BitsPerSample == 4)
      depth = 4;
    else if (params.BitsPerSample == 8)
      depth = 8;
  }

  const TBitmap* src = &bitmap;
  TBitmap work;
  TProgressRec quiet;  // conversions before writing report no progress of their own
  std::vector<TRGB> pal;
  std::unique_ptr<TVXQuantizer> quantizer;
  const bool greyOut = depth == 8 && params.TGA_GrayLevel;
  if (depth == 1) {
    // Two colours keep their split (darker as the clear bits); others are dithered.
    if (pf == pf24bit) {
      TRGB c0, c1;
      if (std::unique_ptr<TBitmap> two = _ConvertTo1bit(bitmap, c0, c1)) {
        work = std::move(*two);
      } else {
        work = bitmap;
        _ConvertToBWOrdered(work, quiet);
      }
      src = &work;
    }
    const TRGB bw[2] = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
    params.SetColorMap(bw, 2);
    params.TGA_Compressed = false;
  } else {
    if (pf == pf1bit) {
      _Conv1to24(bitmap, work, quiet);
      src = &work;
    }
    if (depth == 4 || depth == 8) {
      const int ncol = depth == 4 ? 16 : 256;
      quantizer = std::make_unique<TVXQuantizer>(*src, pal, ncol, -1, 0);
      pal.resize(ncol);
      params.SetColorMap(pal.data(), ncol);
      if (depth == 4) params.TGA_Compressed = false;
    }
  }
  const bool compressed = params.TGA_Compressed && (depth == 8 || depth == 24);
  const bool mapped = depth == 4 || (depth == 8 && !greyOut);

  std::string name = params.TGA_ImageName.substr(0, 254);
  uint8_t hdr[kHeaderSize] = {};
  hdr[0] = static_cast<uint8_t>(name.size() + 1);
  hdr[1] = mapped ? 1 : 0;
  hdr[2] = static_cast<uint8_t>((mapped ? 1 : depth == 24 ? 2 : 3) + (compressed ? 8 : 0));
  VXStoreU16(hdr + 5, mapped ? static_cast<int>(pal.size()) : 0);
  hdr[7] = mapped ? 24 : 0;
  VXStoreU16(hdr + 8, params.TGA_XPos);
  VXStoreU16(hdr + 10, params.TGA_YPos);
  VXStoreU16(hdr + 12, width);
  VXStoreU16(hdr + 14, height);
  hdr[16] = static_cast<uint8_t>(depth);
  hdr[17] = 0x20;
  stream.WriteBuffer(hdr, kHeaderSize);
  stream.WriteBuffer(name.c_str(), static_cast<int64_t>(name.size()) + 1);
  if (mapped) {
    std::vector<uint8_t> map(pal.size() * 3);
    std::memcpy(map.data(), pal.data(), map.size());  // TRGB is blue, green, red already
    stream.WriteBuffer(map.data(), static_cast<int64_t>(map.size()));
  }

  // A grey palette entry keeps its level; the weighted sum would darken it by 1%.
  uint8_t greyOf[256] = {};
  if (greyOut)
    for (size_t i = 0; i < pal.size(); ++i) {
      const TRGB c = pal[i];
      greyOf[i] = (c.r == c.g && c.g == c.b) ? c.r : static_cast<uint8_t>(_RGBToGray(c));
    }

  const int pb = depth == 24 ? 3 : 1;
  const int rowBytes = depth == 1 ? (width + 7) / 8 : depth == 4 ? (width + 1) / 2 : width * pb;
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  std::vector<uint8_t> packed(compressed ? static_cast<size_t>(width) * (pb + 1) + 1 : 0);
  progress.PerUnit = 100.0 / height;
  progress.Done = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = src->ScanLine(y);
    const TRGB* px = reinterpret_cast<const TRGB*>(s);
    const uint8_t* out = s;
    if (depth == 1) {
      std::memcpy(row.data(), s, rowBytes);
      if (width & 7) row[rowBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (width & 7));
      out = row.data();
    } else if (depth == 4) {
      std::fill(row.begin(), row.end(), 0);
      for (int x = 0; x < width; ++x) {
        const uint8_t idx = static_cast<uint8_t>(quantizer->GetRGBIndex(px[x]) & 15);
        row[x >> 1] |= (x & 1) ? idx : static_cast<uint8_t>(idx << 4);
      }
      out = row.data();
    } else if (depth == 8) {
      for (int x = 0; x < width; ++x) {
        const uint8_t idx = static_cast<uint8_t>(quantizer->GetRGBIndex(px[x]));
        row[x] = greyOut ? greyOf[idx] : idx;
      }
      out = row.data();
    }
    if (compressed) {
      const size_t n = EncodeRow(out, width, pb, packed.data());
      stream.WriteBuffer(packed.data(), static_cast<int64_t>(n));
    } else {
      stream.WriteBuffer(out, rowBytes);
    }
    ++progress.Done;
    progress.Report(progress.Done);
  }

  const int64_t extOffset = stream.Position() - start;
  uint8_t ext[kExtensionSize] = {};
  PutText(ext + 2, params.TGA_Author);
  PutText(ext + 379, params.TGA_Descriptor);
  // A date outside the 16-bit year range is left out rather than wrapped.
  if (const double dt = params.TGA_Date; std::isfinite(dt) && dt > -693593 && dt < 2.3e7) {
    int64_t days = static_cast<int64_t>(std::floor(dt));
    int64_t secs = std::llround((dt - std::floor(dt)) * 86400.0);
    if (secs >= 86400) {
      ++days;
      secs -= 86400;
    }
    int64_t year;
    int month, day;
    CivilFromDays(days - kEpochOffset, year, month, day);
    if (year >= 1 && year <= 65535) {
      VXStoreU16(ext + 367, month);
      VXStoreU16(ext + 369, day);
      VXStoreU16(ext + 371, static_cast<int>(year));
      VXStoreU16(ext + 373, static_cast<int>(secs / 3600));
      VXStoreU16(ext + 375, static_cast<int>(secs / 60 % 60));
      VXStoreU16(ext + 377, static_cast<int>(secs % 60));
    }
  }
  ext[471] = params.TGA_Background.r;
  ext[472] = params.TGA_Background.g;
  ext[473] = params.TGA_Background.b;
  uint16_t num, den;
  RatioToFraction(params.TGA_AspectRatio, num, den);
  VXStoreU16(ext + 474, num);
  VXStoreU16(ext + 476, den);
  RatioToFraction(params.TGA_Gamma, num, den);
  VXStoreU16(ext + 478, num);
  VXStoreU16(ext + 480, den);
  stream.WriteBuffer(ext, kExtensionSize);

  uint8_t footer[kFooterSize] = {};
  VXStoreU32(footer, static_cast<uint32_t>(extOffset));
  std::memcpy(footer + 8, kSignature, sizeof(kSignature));  // with its zero byte
  stream.WriteBuffer(footer, kFooterSize);
}

}  // namespace vexa
