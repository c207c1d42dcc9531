#include "vexa/codecs/tiff.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "vexa/codecs/ccitt.h"
#include "vexa/core/bytereader.h"
#include "vexa/quant/colordepth.h"
#include "vexa/core/vxview.h"

namespace vexa {
namespace {

// ---------------------------------------------------------------- file layout
//
// Header (8 bytes): "II" or "MM", 42, offset of the first directory.
// Directory: entry count (2), entries (12 each: tag 2, type 2, count 4, value or
// offset 4), offset of the next directory (4; 0 ends the chain). A value of at most
// 4 bytes stands left-justified in the entry itself.

enum : uint16_t {
  tagImageWidth = 256, tagImageLength = 257, tagBitsPerSample = 258, tagCompression = 259,
  tagPhotometric = 262, tagFillOrder = 266, tagDocumentName = 269, tagImageDescription = 270,
  tagStripOffsets = 273, tagOrientation = 274, tagSamplesPerPixel = 277, tagRowsPerStrip = 278,
  tagStripByteCounts = 279, tagXResolution = 282, tagYResolution = 283, tagPlanarConfig = 284,
  tagPageName = 285, tagXPosition = 286, tagYPosition = 287, tagT4Options = 292, tagT6Options = 293,
  tagResolutionUnit = 296, tagPageNumber = 297, tagTransferFunction = 301, tagSoftware = 305,
  tagPredictor = 317, tagColorMap = 320, tagTileWidth = 322, tagTileLength = 323, tagTileOffsets = 324,
  tagTileByteCounts = 325, tagInkSet = 332, tagNumberOfInks = 334, tagDotRange = 336, tagJPEGTables = 347,
};

enum : uint16_t { ftByte = 1, ftAscii, ftShort, ftLong, ftRational, ftSByte, ftUndefined, ftSShort, ftSLong,
                  ftSRational, ftFloat, ftDouble };

int TypeSize(uint16_t type) {
  static const int kSizes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type < 13 ? kSizes[type] : 0;
}


struct TEntry {
  uint16_t Tag = 0, Type = 0;
  uint32_t Count = 0;
  uint8_t Value[4] = {};
  /// Total size of the value; 0 for unknown types.
  uint64_t Size() const { return uint64_t{Count} * static_cast<uint64_t>(TypeSize(Type)); }
};

/// Reads exactly n bytes at an absolute position; false when the stream is shorter.
bool ReadAt(TStream& s, int64_t pos, void* buf, int64_t n) {
  if (pos < 0 || n < 0) return false;
  s.Seek(pos, soBeginning);
  return s.Read(buf, n) == n;
}

/// One directory's entries with typed access to their values.
class TDirectory {
 public:
  TDirectory(TStream& s, bool be, int64_t streamSize) : FS(s), FBE(be), FSize(streamSize) {}

  std::vector<TEntry> Entries;

  bool Load(int64_t offset, int n) {
    std::vector<uint8_t> raw(static_cast<size_t>(n) * 12);
    if (!ReadAt(FS, offset, raw.data(), static_cast<int64_t>(raw.size()))) return false;
    Entries.resize(n);
    for (int i = 0; i < n; ++i) {
      const uint8_t* p = raw.data() + i * 12;
      TEntry& e = Entries[i];
      e.Tag = VXLoadU16(p, FBE);
      e.Type = VXLoadU16(p + 2, FBE);
      e.Count = VXLoadU32(p + 4, FBE);
      std::memcpy(e.Value, p + 8, 4);
    }
    return true;
  }

  const TEntry* Find(uint16_t tag) const {
    for (const TEntry& e : Entries)
      if (e.Tag == tag) return &e;
    return nullptr;
  }

  /// The raw bytes of a value (inline or at its offset); false when out of the stream.
  bool Bytes(const TEntry& e, std::vector<uint8_t>& out) const {
    const uint64_t size = e.Size();
    if (size > static_cast<uint64_t>(FSize)) return false;
    out.resize(static_cast<size_t>(size));
    if (size <= 4) {
      if (size) std::memcpy(out.data(), e.Value, static_cast<size_t>(size));
      return true;
    }
    const uint32_t off = VXLoadU32(e.Value, FBE);
    if (off + size > static_cast<uint64_t>(FSize)) return false;
    return ReadAt(FS, off, out.data(), static_cast<int64_t>(size));
  }

  /// Integer values (BYTE, SHORT or LONG and their signed twins); empty when absent or unreadable.
  std::vector<uint32_t> Array(uint16_t tag) const {
    std::vector<uint32_t> v;
    const TEntry* e = Find(tag);
    std::vector<uint8_t> raw;
    if (!e || TypeSize(e->Type) == 0 || !Bytes(*e, raw)) return v;
    const int ts = TypeSize(e->Type);
    v.resize(e->Count);
    for (uint32_t i = 0; i < e->Count; ++i) {
      const uint8_t* p = raw.data() + static_cast<size_t>(i) * ts;
      switch (e->Type) {
        case ftByte: case ftSByte: case ftUndefined: v[i] = *p; break;
        case ftShort: case ftSShort: v[i] = VXLoadU16(p, FBE); break;
        case ftLong: case ftSLong: v[i] = VXLoadU32(p, FBE); break;
        case ftRational: case ftSRational: {
          const uint32_t d = VXLoadU32(p + 4, FBE);
          v[i] = VXLoadU32(p, FBE) / (d ? d : 1);
          break;
        }
        default: v[i] = 0; break;
      }
    }
    return v;
  }

  uint32_t Scalar(uint16_t tag, uint32_t def) const {
    const TEntry* e = Find(tag);
    if (!e || e->Count == 0 || TypeSize(e->Type) == 0) return def;
    switch (e->Type) {
      case ftByte: case ftSByte: case ftUndefined: return e->Value[0];
      case ftShort: case ftSShort: return VXLoadU16(e->Value, FBE);
      case ftLong: case ftSLong: return VXLoadU32(e->Value, FBE);
      default: {
        const std::vector<uint32_t> v = Array(tag);
        return v.empty() ? def : v[0];
      }
    }
  }

  double Rational(uint16_t tag, double def) const {
    const TEntry* e = Find(tag);
    if (!e || e->Count == 0) return def;
    if (e->Type == ftRational || e->Type == ftSRational) {
      uint8_t b[8];
      const uint32_t off = VXLoadU32(e->Value, FBE);
      if (uint64_t{off} + 8 > static_cast<uint64_t>(FSize) || !ReadAt(FS, off, b, 8)) return def;
      const uint32_t d = VXLoadU32(b + 4, FBE);
      if (e->Type == ftSRational)
        return static_cast<double>(static_cast<int32_t>(VXLoadU32(b, FBE))) / (d ? static_cast<int32_t>(d) : 1);
      return static_cast<double>(VXLoadU32(b, FBE)) / (d ? d : 1);
    }
    return Scalar(tag, static_cast<uint32_t>(def));
  }

  std::string String(uint16_t tag) const {
    const TEntry* e = Find(tag);
    std::vector<uint8_t> raw;
    if (!e || TypeSize(e->Type) != 1 || !Bytes(*e, raw)) return {};
    const auto nul = std::find(raw.begin(), raw.end(), 0);
    return std::string(raw.begin(), nul);
  }

 private:
  TStream& FS;
  bool FBE;
  int64_t FSize;
};

/// One directory's decoded values, filled before any pixel is read.
struct TTIFFVars {
  uint32_t ImageWidth = 0, ImageLength = 0, SamplesPerPixel = 1;
  int32_t BitsPerSample = 1;
  uint32_t RowsPerStrip = 0;
  int32_t TileWidth = -1, TileLength = -1;
  uint16_t Photometric = 2, PlanarConfiguration = 1;
  int16_t Orientation = 1;
  uint16_t Compression = 1;
  std::vector<uint32_t> StripOffsets, StripByteCounts, TileOffsets, TileByteCounts;
  std::vector<TRGB> ColorMap;
  uint32_t ResolutionUnit = 2;
  double XResolution = 0, YResolution = 0;
  uint32_t Predictor = 1, T4Options = 0, T6Options = 0, FillOrder = 1;
  double XPosition = 0, YPosition = 0;
  std::string DocumentName, ImageDescription, PageName, Software;
  int32_t PageNumber = 0, PageCount = 0;
  TiffLzwDecodeProc LzwDecoder = nullptr;
};

/// Fills the record; false when the BitsPerSample values disagree.
bool FillVars(const TDirectory& d, TTIFFVars& v) {
  v.ImageWidth = d.Scalar(tagImageWidth, 0);
  v.ImageLength = d.Scalar(tagImageLength, 0);
  v.SamplesPerPixel = d.Scalar(tagSamplesPerPixel, 1);
  const std::vector<uint32_t> bps = d.Array(tagBitsPerSample);
  v.BitsPerSample = bps.empty() ? 1 : static_cast<int32_t>(bps[0]);
  for (uint32_t b : bps)
    if (b != bps[0]) return false;
  v.RowsPerStrip = d.Scalar(tagRowsPerStrip, v.ImageLength);
  // 0 would mean no rows per strip at all; read it like the "whole image" value.
  if (v.RowsPerStrip == 0xFFFFFFFFu || v.RowsPerStrip == 0) v.RowsPerStrip = v.ImageLength;
  v.TileWidth = d.Find(tagTileWidth) ? static_cast<int32_t>(d.Scalar(tagTileWidth, 0)) : -1;
  v.TileLength = d.Find(tagTileLength) ? static_cast<int32_t>(d.Scalar(tagTileLength, 0)) : -1;
  v.Photometric = static_cast<uint16_t>(d.Scalar(tagPhotometric, 2));
  v.PlanarConfiguration = static_cast<uint16_t>(d.Scalar(tagPlanarConfig, 1));
  v.Orientation = static_cast<int16_t>(d.Scalar(tagOrientation, 1));
  v.Compression = static_cast<uint16_t>(d.Scalar(tagCompression, 1));
  v.StripOffsets = d.Array(tagStripOffsets);
  v.StripByteCounts = d.Array(tagStripByteCounts);
  v.TileOffsets = d.Array(tagTileOffsets);
  v.TileByteCounts = d.Array(tagTileByteCounts);
  v.ResolutionUnit = d.Scalar(tagResolutionUnit, 2);
  v.XResolution = d.Rational(tagXResolution, 0);
  v.YResolution = d.Rational(tagYResolution, 0);
  v.Predictor = d.Scalar(tagPredictor, 1);
  v.T4Options = d.Scalar(tagT4Options, 0);
  v.T6Options = d.Scalar(tagT6Options, 0);
  v.FillOrder = d.Scalar(tagFillOrder, 1);
  v.XPosition = d.Rational(tagXPosition, 0);
  v.YPosition = d.Rational(tagYPosition, 0);
  v.DocumentName = d.String(tagDocumentName);
  v.ImageDescription = d.String(tagImageDescription);
  v.PageName = d.String(tagPageName);
  v.Software = d.String(tagSoftware);
  const std::vector<uint32_t> page = d.Array(tagPageNumber);
  if (page.size() >= 1) v.PageNumber = static_cast<int32_t>(page[0]);
  if (page.size() >= 2) v.PageCount = static_cast<int32_t>(page[1]);
  // All reds, then all greens, then all blues; each entry keeps the high byte.
  const std::vector<uint32_t> cmap = d.Array(tagColorMap);
  const size_t n = std::min<size_t>(cmap.size() / 3, 256);
  v.ColorMap.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t third = cmap.size() / 3;
    v.ColorMap[i].r = static_cast<uint8_t>(cmap[i] >> 8);
    v.ColorMap[i].g = static_cast<uint8_t>(cmap[third + i] >> 8);
    v.ColorMap[i].b = static_cast<uint8_t>(cmap[2 * third + i] >> 8);
  }
  return true;
}

int32_t TruncClamp(double x) {
  if (!(x == x)) return 0;
  return static_cast<int32_t>(std::clamp(x, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

void SetParams(const TTIFFVars& v, TIOParamsVals& p) {
  p.BitsPerSample = v.BitsPerSample;
  p.SamplesPerPixel = static_cast<int32_t>(v.SamplesPerPixel);
  p.Width = static_cast<int32_t>(v.ImageWidth);
  p.Height = static_cast<int32_t>(v.ImageLength);
  switch (v.Compression) {
    case 1: p.TIFF_Compression = ioTIFF_UNCOMPRESSED; break;
    case 2: p.TIFF_Compression = ioTIFF_CCITT1D; break;
    case 3: p.TIFF_Compression = (v.T4Options & 1) ? ioTIFF_G3FAX2D : ioTIFF_G3FAX1D; break;
    case 4: p.TIFF_Compression = ioTIFF_G4FAX; break;
    case 5: p.TIFF_Compression = ioTIFF_LZW; break;
    case 6: p.TIFF_Compression = ioTIFF_OLDJPEG; break;
    case 7: p.TIFF_Compression = ioTIFF_JPEG; break;
    case 32773: p.TIFF_Compression = ioTIFF_PACKBITS; break;
    default: break;
  }
  switch (v.Photometric) {
    case 0: p.TIFF_PhotometInterpret = ioTIFF_WHITEISZERO; break;
    case 1: p.TIFF_PhotometInterpret = ioTIFF_BLACKISZERO; break;
    case 2: p.TIFF_PhotometInterpret = ioTIFF_RGB; break;
    case 3: p.TIFF_PhotometInterpret = ioTIFF_RGBPALETTE; break;
    case 4: p.TIFF_PhotometInterpret = ioTIFF_TRANSPMASK; break;
    case 5: p.TIFF_PhotometInterpret = ioTIFF_CMYK; break;
    case 6: p.TIFF_PhotometInterpret = ioTIFF_YCBCR; break;
    case 8: p.TIFF_PhotometInterpret = ioTIFF_CIELAB; break;
    default: break;
  }
  p.TIFF_PlanarConf = v.PlanarConfiguration;
  p.TIFF_DocumentName = v.DocumentName;
  p.TIFF_ImageDescription = v.ImageDescription;
  p.TIFF_PageName = v.PageName;
  p.TIFF_PageNumber = v.PageNumber;
  p.TIFF_PageCount = v.PageCount;
  p.SetColorMap(v.ColorMap.data(), static_cast<int>(v.ColorMap.size()));
  const double factor = v.ResolutionUnit == 3 ? 2.54 : 1.0;
  p.DpiX = TruncClamp(v.XResolution * factor);
  p.DpiY = TruncClamp(v.YResolution * factor);
  if (p.DpiX == 0) p.DpiX = gSystemDPIX;
  if (p.DpiY == 0) p.DpiY = gSystemDPIY;
  p.TIFF_XPos = TruncClamp(v.XPosition * factor);
  p.TIFF_YPos = TruncClamp(v.YPosition * factor);
}

// ---------------------------------------------------------------- strip decoding

/// Decodes the rows of one strip (one plane of it when planar).
class TStripDecoder {
 public:
  TStripDecoder(const TTIFFVars& v, int32_t rowLen) : FV(v), FRowLen(rowLen) {}
  ~TStripDecoder() { Close(); }
  TStripDecoder(const TStripDecoder&) = delete;
  TStripDecoder& operator=(const TStripDecoder&) = delete;

  /// Reads the strip's bytes; false when its offset lies outside the stream.
  bool Open(TStream& s, int64_t streamSize, uint32_t offset, uint32_t count) {
    Close();
    if (offset >= static_cast<uint64_t>(streamSize)) return false;
    const int64_t avail = streamSize - offset;
    const int64_t len = count ? std::min<int64_t>(count, avail) : avail;
    FData.resize(static_cast<size_t>(len));
    if (!ReadAt(s, offset, FData.data(), len)) return false;
    // CCITT decoders read either bit order themselves; other data is turned MSB-first here.
    if (FV.FillOrder == 2 && !(FV.Compression >= 2 && FV.Compression <= 4))
      for (uint8_t& b : FData) b = kReverseByte[b];
    FPos = 0;
    FBitPos = 0;
    FPackPending = 0;
    FPackRepeat = 0;
    if (FV.Compression >= 2 && FV.Compression <= 4)
      FRef.assign(static_cast<size_t>((FV.ImageWidth + 7) / 8), 0xFF);
    return true;
  }

  /// Fills `out` with FRowLen bytes; false when the data cannot supply the row.
  bool NextRow(uint8_t* out) {
    const int64_t size = static_cast<int64_t>(FData.size());
    const uint8_t* data = FData.data();
    const int width = static_cast<int>(FV.ImageWidth);
    const int fill = static_cast<int>(FV.FillOrder);
    switch (FV.Compression) {
      case 1:
        if (FPos + FRowLen > size) return false;
        std::memcpy(out, data + FPos, static_cast<size_t>(FRowLen));
        FPos += FRowLen;
        return true;
      case 2:
        if (FPos >= size) return false;
        FPos += CCITTHuffmanGetLine(out, data + FPos, size - FPos, width, fill);
        return true;
      case 3:
        if (FBitPos >= size * 8) return false;
        if (FV.T4Options & 1)
          FBitPos = CCITT3_2D_GetLine(out, data, size, width, fill, FBitPos, FRef.data());
        else
          FBitPos = _CCITTHuffmanGetLine(out, data, size, width, fill, FBitPos);
        return true;
      case 4:
        if (FBitPos >= size * 8) return false;
        FBitPos = CCITT3_2D_GetLine(out, data, size, width, fill, FBitPos, FRef.data());
        return true;
      case 5: {
        const uint8_t* row =
            FV.LzwDecoder(data, FRowLen, FLzwState, static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX)));
        FLzwUsed = true;
        if (!row) return false;
        std::memcpy(out, row, static_cast<size_t>(FRowLen));
        return true;
      }
      case 32773:
        return UnpackBits(out);
      default:
        return false;
    }
  }

  void Close() {
    if (FLzwUsed && FV.LzwDecoder) FV.LzwDecoder(nullptr, 0, FLzwState, 0);
    FLzwUsed = false;
    FLzwState = nullptr;
  }

 private:
  // A run may continue into the next row, so the strip is one PackBits stream.
  bool UnpackBits(uint8_t* out) {
    const int64_t size = static_cast<int64_t>(FData.size());
    int32_t filled = 0;
    while (filled < FRowLen) {
      if (FPackPending > 0) {  // literal bytes left over from the previous row
        const int32_t n = std::min(FPackPending, FRowLen - filled);
        if (FPos + n > size) return false;
        std::memcpy(out + filled, FData.data() + FPos, static_cast<size_t>(n));
        FPos += n;
        filled += n;
        FPackPending -= n;
        continue;
      }
      if (FPackRepeat > 0) {
        const int32_t n = std::min(FPackRepeat, FRowLen - filled);
        std::memset(out + filled, FPackByte, static_cast<size_t>(n));
        filled += n;
        FPackRepeat -= n;
        continue;
      }
      if (FPos >= size) return false;
      const int8_t c = static_cast<int8_t>(FData[static_cast<size_t>(FPos++)]);
      if (c >= 0) {
        FPackPending = c + 1;
      } else if (c != -128) {
        if (FPos >= size) return false;
        FPackByte = FData[static_cast<size_t>(FPos++)];
        FPackRepeat = 1 - c;
      }
    }
    return true;
  }

  const TTIFFVars& FV;
  int32_t FRowLen;
  std::vector<uint8_t> FData, FRef;
  int64_t FPos = 0, FBitPos = 0;
  int32_t FPackPending = 0, FPackRepeat = 0;
  uint8_t FPackByte = 0;
  void* FLzwState = nullptr;
  bool FLzwUsed = false;
};

enum TRowKind { rkNone, rkBilevel, rkGrey, rkPalette, rkRGB, rkRGB555, rkCMYK, rkLab };

/// How a page's rows become bitmap rows; rkNone when this reader does not decode it.
const char* CompressionName(uint16_t c) {
  switch (c) {
    case 1: return "uncompressed";
    case 2: return "CCITT modified Huffman";
    case 3: return "CCITT Group 3 fax";
    case 4: return "CCITT Group 4 fax";
    case 5: return "LZW";
    case 32773: return "PackBits";
    default: return "compressed";
  }
}

// Why ClassifyPage found no row kind, for the failure text.
void FailLayout(const TTIFFVars& v, TProgressRec& progress) {
  const uint16_t c = v.Compression;
  if (c != 1 && c != 2 && c != 3 && c != 4 && c != 5 && c != 32773)
    return progress.Fail(fkUnsupported, "compression", c);
  progress.Fail(fkUnsupported,
                std::to_string(v.BitsPerSample) + " bits x " + std::to_string(v.SamplesPerPixel) +
                    " samples with " + CompressionName(c) + " data in photometric interpretation",
                v.Photometric);
}

TRowKind ClassifyPage(const TTIFFVars& v) {
  const uint16_t c = v.Compression;
  if (c != 1 && c != 2 && c != 3 && c != 4 && c != 5 && c != 32773) return rkNone;
  const int bps = v.BitsPerSample;
  const uint32_t spp = v.SamplesPerPixel;
  const uint16_t ph = v.Photometric;
  if (bps == 1 && spp == 1) return (ph == 0 || ph == 1 || (ph == 3 && v.ColorMap.size() >= 2)) ? rkBilevel : rkNone;
  if (c >= 2 && c <= 4) return rkNone;
  if (spp < 1 || spp > 8 || !((bps >= 2 && bps <= 8) || bps == 16)) return rkNone;
  switch (ph) {
    case 0: case 1: return spp <= 2 ? rkGrey : rkNone;
    case 2:
      if (spp >= 3 && (bps == 8 || bps == 16)) return rkRGB;
      return spp == 1 && bps == 16 ? rkRGB555 : rkNone;
    case 3: return spp == 1 && bps <= 8 && !v.ColorMap.empty() ? rkPalette : rkNone;
    case 5: return spp >= 4 && (bps == 8 || bps == 16) ? rkCMYK : rkNone;
    case 8: return spp >= 3 && (bps == 8 || bps == 16) ? rkLab : rkNone;
    default: return rkNone;
  }
}

uint8_t LabChannel(double c) {
  if (c <= 0) return 0;
  if (c >= 1) return 255;
  return static_cast<uint8_t>(std::min(255.0, std::sqrt(c) * 256));
}

TRGB LabToRGB(uint8_t l8, uint8_t a8, uint8_t b8) {
  const double l = l8 / 255.0 * 100;
  int a = static_cast<int8_t>(a8), b = static_cast<int8_t>(b8);
  if (a == -128) a = 128;
  if (b == -128) b = 128;
  const double as = (a + 127) / 255.0 * 200 - 100, bs = (b + 127) / 255.0 * 200 - 100;
  const double fy = (l + 16) / 116, fx = fy + as / 500, fz = fy - bs / 200;
  double x, y, z;
  if (l >= 7.9996) {
    x = fx * fx * fx;
    y = fy * fy * fy;
    z = fz * fz * fz;
  } else {
    y = l / 903.3;
    x = y + as / 3893.5;
    z = y - bs / 1557.4;
  }
  TRGB o;
  o.r = LabChannel(2.69 * x - 1.276 * y - 0.414 * z);
  o.g = LabChannel(-1.022 * x + 1.978 * y + 0.044 * z);
  o.b = LabChannel(0.061 * x - 0.224 * y + 1.163 * z);
  return o;
}

/// Turns decoded rows (one per plane) into bitmap rows.
class TRowConverter {
 public:
  TRowConverter(const TTIFFVars& v, TRowKind kind, bool bigEndian, int planes)
      : FV(v), FKind(kind), FBE(bigEndian), FPlanes(planes), FWidth(static_cast<int>(v.ImageWidth)),
        FSpp(static_cast<int>(v.SamplesPerPixel)), FBps(v.BitsPerSample) {
    FPredict = v.Compression == 5 && v.Predictor == 2;
    if (kind == rkBilevel) {
      const bool ccitt = v.Compression >= 2 && v.Compression <= 4;
      if (v.Photometric == 3) {
        auto grey = [](TRGB c) { return 21 * c.r + 71 * c.g + 7 * c.b; };
        FInvert = grey(v.ColorMap[0]) > grey(v.ColorMap[1]);
      } else {
        FInvert = (v.Photometric == 0 && !ccitt) || (v.Photometric == 1 && ccitt);
      }
    }
    const size_t n = static_cast<size_t>(FWidth) * FSpp;
    FSamples.resize(n);
    FBytes.resize(n);
    FPalette.assign(256, TRGB{});
    std::copy(v.ColorMap.begin(), v.ColorMap.end(), FPalette.begin());
  }

  void Convert(uint8_t* const* planeRows, uint8_t* dst) {
    if (FKind == rkBilevel) {
      const int n = (FWidth + 7) / 8;
      const uint8_t* src = planeRows[0];
      if (FInvert)
        for (int i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(~src[i]);
      else
        std::memcpy(dst, src, static_cast<size_t>(n));
      return;
    }
    const uint8_t* s8;
    if (FBps == 8 && FPlanes == 1) {
      if (FPredict) Predict8(planeRows[0]);
      s8 = planeRows[0];
    } else {
      Unpack(planeRows);
      if (FPredict && (FBps == 8 || FBps == 16)) PredictWide();
      if (FKind == rkRGB555) {
        TRGB* out = reinterpret_cast<TRGB*>(dst);
        for (int x = 0; x < FWidth; ++x) {
          const uint32_t w = FSamples[x];
          out[x].r = static_cast<uint8_t>((w >> 10) * 8);
          out[x].g = static_cast<uint8_t>(((w >> 5) & 31) * 8);
          out[x].b = static_cast<uint8_t>((w & 31) * 8);
        }
        return;
      }
      Narrow();
      s8 = FBytes.data();
    }
    TRGB* out = reinterpret_cast<TRGB*>(dst);
    const int spp = FSpp;
    switch (FKind) {
      case rkGrey: {
        const uint8_t flip = FV.Photometric == 0 ? 255 : 0;
        for (int x = 0; x < FWidth; ++x) {
          const uint8_t g = s8[x * spp] ^ flip;
          out[x] = TRGB{g, g, g};
        }
        break;
      }
      case rkPalette:
        for (int x = 0; x < FWidth; ++x) out[x] = FPalette[s8[x]];
        break;
      case rkRGB:
        for (int x = 0; x < FWidth; ++x) {
          const uint8_t* p = s8 + x * spp;
          out[x] = TRGB{p[2], p[1], p[0]};
        }
        break;
      case rkCMYK:
        for (int x = 0; x < FWidth; ++x) {
          const uint8_t* p = s8 + x * spp;
          const int k = 255 - p[3];
          out[x].r = static_cast<uint8_t>((255 - p[0]) * k / 255);
          out[x].g = static_cast<uint8_t>((255 - p[1]) * k / 255);
          out[x].b = static_cast<uint8_t>((255 - p[2]) * k / 255);
        }
        break;
      case rkLab:
        for (int x = 0; x < FWidth; ++x) {
          const uint8_t* p = s8 + x * spp;
          out[x] = LabToRGB(p[0], p[1], p[2]);
        }
        break;
      default:
        break;
    }
  }

 private:
  void Predict8(uint8_t* row) {
    const int spp = FSpp, n = FWidth * spp;
    for (int i = spp; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - spp]);
  }
  void PredictWide() {
    const int spp = FSpp, n = FWidth * spp;
    const uint32_t mask = FBps == 16 ? 0xFFFF : 0xFF;
    for (int i = spp; i < n; ++i) FSamples[i] = static_cast<uint16_t>((FSamples[i] + FSamples[i - spp]) & mask);
  }

  /// Raw sample values, interleaved, from the packed plane rows.
  void Unpack(uint8_t* const* planeRows) {
    const int perRow = FPlanes == 1 ? FSpp : 1;  // samples per pixel within one plane row
    for (int p = 0; p < FPlanes; ++p) {
      const uint8_t* src = planeRows[p];
      const int n = FWidth * perRow;
      const int stride = FPlanes == 1 ? 1 : FSpp;
      uint16_t* dst = FSamples.data() + p;
      if (FBps == 16) {
        for (int i = 0; i < n; ++i) dst[i * stride] = VXLoadU16(src + 2 * i, FBE);
      } else if (FBps == 8) {
        for (int i = 0; i < n; ++i) dst[i * stride] = src[i];
      } else {
        const int bps = FBps;
        for (int i = 0; i < n; ++i) {
          const int64_t bit = int64_t{i} * bps;
          // Samples span at most two bytes; the row buffer has a spare byte.
          const uint32_t two = uint32_t{src[bit >> 3]} << 8 | src[(bit >> 3) + 1];
          dst[i * stride] = static_cast<uint16_t>((two >> (16 - bps - (bit & 7))) & ((1u << bps) - 1));
        }
      }
    }
  }

  /// 8-bit values from the raw samples (grey scaled to full range, palette indices as they are).
  void Narrow() {
    const size_t n = FSamples.size();
    if (FBps == 16) {
      for (size_t i = 0; i < n; ++i) FBytes[i] = static_cast<uint8_t>(FSamples[i] >> 8);
    } else if (FKind == rkGrey && FBps == 4) {
      for (size_t i = 0; i < n; ++i) FBytes[i] = static_cast<uint8_t>(FSamples[i] * 16);
    } else if (FKind == rkGrey && FBps != 8) {
      const uint32_t maxv = (1u << FBps) - 1;
      for (size_t i = 0; i < n; ++i) FBytes[i] = static_cast<uint8_t>(FSamples[i] * 255u / maxv);
    } else {
      for (size_t i = 0; i < n; ++i) FBytes[i] = static_cast<uint8_t>(FSamples[i]);
    }
  }

  const TTIFFVars& FV;
  TRowKind FKind;
  bool FBE;
  int FPlanes, FWidth, FSpp, FBps;
  bool FPredict = false, FInvert = false;
  std::vector<uint16_t> FSamples;
  std::vector<uint8_t> FBytes;
  std::vector<TRGB> FPalette;
};

void DecodePage(TBitmap& bitmap, TStream& stream, int64_t streamSize, const TTIFFVars& v, bool bigEndian,
                TProgressRec& progress) {
  const bool bilevel = v.BitsPerSample == 1 && v.SamplesPerPixel == 1;
  if (v.ImageWidth == 0 || v.ImageLength == 0) return progress.Fail(fkCorrupt, "width or height is 0");
  if (v.ImageWidth > INT32_MAX || v.ImageLength > INT32_MAX ||
      !VXCheckBitmapSize(v.ImageWidth, v.ImageLength, bilevel ? 1 : 24))
    return progress.Fail(fkSizeLimit, VXSizeText(v.ImageWidth, v.ImageLength));
  const int width = static_cast<int>(v.ImageWidth), height = static_cast<int>(v.ImageLength);
  bitmap.Allocate(width, height, bilevel ? pf1bit : pf24bit);
  const TRowKind kind = ClassifyPage(v);
  // Tiles, JPEG and other unsupported layouts leave the zeroed bitmap and say so.
  if (v.TileWidth > 0 || v.TileLength > 0) return progress.Fail(fkUnsupported, "tiled page, tile width", v.TileWidth);
  if (kind == rkNone) return FailLayout(v, progress);
  if (v.StripOffsets.empty()) return progress.Fail(fkCorrupt, "no strip offsets");
  const int planes = v.PlanarConfiguration == 2 && v.SamplesPerPixel > 1 ? static_cast<int>(v.SamplesPerPixel) : 1;
  const int64_t sampleBits = int64_t{v.BitsPerSample} * (planes == 1 ? v.SamplesPerPixel : 1);
  const int32_t rowLen = static_cast<int32_t>((int64_t{width} * sampleBits + 7) / 8);
  const size_t stripsPerPlane = v.StripOffsets.size() / static_cast<size_t>(planes);
  if (stripsPerPlane == 0) return progress.Fail(fkCorrupt, "fewer strip offsets than sample planes");
  std::vector<std::vector<uint8_t>> planeBuf(static_cast<size_t>(planes),
                                             std::vector<uint8_t>(static_cast<size_t>(rowLen) + 2));
  std::vector<uint8_t*> planeRows(static_cast<size_t>(planes));
  for (int p = 0; p < planes; ++p) planeRows[p] = planeBuf[p].data();
  std::vector<std::unique_ptr<TStripDecoder>> decoders;
  for (int p = 0; p < planes; ++p) decoders.push_back(std::make_unique<TStripDecoder>(v, rowLen));
  TRowConverter converter(v, kind, bigEndian, planes);

  const uint32_t rps = std::min(v.RowsPerStrip, v.ImageLength);
  progress.Done = 0;
  progress.PerUnit = 100.0 / height;
  for (size_t i = 0; i < stripsPerPlane; ++i) {
    const int64_t row0 = static_cast<int64_t>(i) * rps;
    if (row0 >= height) break;
    const int rows = static_cast<int>(std::min<int64_t>(rps, height - row0));
    for (int p = 0; p < planes; ++p) {
      const size_t k = static_cast<size_t>(p) * stripsPerPlane + i;
      const uint32_t count = k < v.StripByteCounts.size() ? v.StripByteCounts[k] : 0;
      if (!decoders[p]->Open(stream, streamSize, v.StripOffsets[k], count))
        return progress.Fail(fkTruncated, "strip " + std::to_string(k) + " lies past the end of the data");
    }
    for (int r = 0; r < rows; ++r) {
      for (int p = 0; p < planes; ++p)
        if (!decoders[p]->NextRow(planeRows[p]))
          return progress.Fail(v.Compression == 5 ? fkCorrupt : fkTruncated,
                               std::string(CompressionName(v.Compression)) + " strip data ends at row " +
                                   std::to_string(row0 + r) + " of " + std::to_string(height));
      converter.Convert(planeRows.data(), bitmap.ScanLine(static_cast<int>(row0) + r));
      ++progress.Done;
      progress.Report(progress.Done);
      if (progress.Aborted()) return;
    }
    for (auto& d : decoders) d->Close();
  }
}

/// Walks the directory chain from `first`; calls visit(offset, entryCount) for each
/// directory that lies inside the stream and returns the number visited. Any cycle ends the walk.
template <typename Visit>
int WalkChain(TStream& s, int64_t streamSize, bool be, uint32_t first, Visit&& visit) {
  std::unordered_set<uint32_t> seen;
  uint32_t offset = first;
  int count = 0;
  while (offset != 0 && seen.insert(offset).second) {
    uint8_t b[4];
    if (uint64_t{offset} + 2 > static_cast<uint64_t>(streamSize) || !ReadAt(s, offset, b, 2)) break;
    const int n = VXLoadU16(b, be);
    const int64_t linkPos = int64_t{offset} + 2 + int64_t{n} * 12;
    if (linkPos > streamSize) break;
    visit(count, offset, n, linkPos);
    ++count;
    offset = linkPos + 4 <= streamSize && ReadAt(s, linkPos, b, 4) ? VXLoadU32(b, be) : 0;
  }
  return count;
}

// ---------------------------------------------------------------- writing

struct TOutEntry {
  uint16_t Tag, Type;
  uint32_t Count, Value;
};

void PackBitsRow(const uint8_t* row, int32_t len, std::vector<uint8_t>& out) {
  out.clear();
  int32_t i = 0, litStart = 0;
  auto flush = [&](int32_t end) {
    while (litStart < end) {
      const int32_t n = std::min(end - litStart, 128);
      out.push_back(static_cast<uint8_t>(n - 1));
      out.insert(out.end(), row + litStart, row + litStart + n);
      litStart += n;
    }
  };
  while (i < len) {
    int32_t run = 1;
    while (i + run < len && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 4) {
      flush(i);
      out.push_back(static_cast<uint8_t>(1 - run));
      out.push_back(row[i]);
      i += run;
      litStart = i;
    } else {
      i += run;
      if (i - litStart >= 128) flush(litStart + 128);
    }
  }
  flush(len);
}

/// 24-bit copy of a bitmap in any other format.
void To24(const TBitmap& src, TBitmap& dst) {
  TProgressRec quiet;
  if (src.PixelFormat() == pf1bit) {
    _Conv1to24(src, dst, quiet);
  } else {
    VXCopyBitmap(src, dst);
    dst.SetPixelFormat(pf24bit);
  }
}

/// 1-bit working copy: two-colour images keep their two colours (darker = black),
/// others are reduced by ordered dither.
TBitmap ToBilevel(const TBitmap& src) {
  TBitmap rgb;
  const TBitmap* p = &src;
  if (src.PixelFormat() != pf24bit) {
    To24(src, rgb);
    p = &rgb;
  }
  TRGB c0, c1;
  if (std::unique_ptr<TBitmap> two = _ConvertTo1bit(*p, c0, c1)) return std::move(*two);
  TBitmap out;
  VXCopyBitmap(*p, out);
  TProgressRec quiet;
  _ConvertToBWOrdered(out, quiet);
  return out;
}

uint32_t StreamOffset(int64_t pos) { return static_cast<uint32_t>(pos); }

// ---------------------------------------------------------------------------
// Writing, in the reader's pieces: the choices a page is written with, the
// directory being built, the strip encoder per compression, and where a page goes.

// What the parameters ask for, reduced to what this writer can do.
struct TWriteLayout {
  bool Bilevel = false, Cmyk = false, Predictor = false, Invert = false;
  uint16_t Compression = 1;  // TIFF code: 1, 2, 3, 4, 5 or 32773
  uint32_t T4Options = 0;
  uint16_t Photometric = 2;
  uint16_t SamplesPerPixel = 3;
  TiffLzwEncodeProc Lzw = nullptr;
};

TWriteLayout ChooseLayout(const TIOParamsVals& params) {
  TWriteLayout l;
  l.Bilevel = params.BitsPerSample == 1 && params.SamplesPerPixel == 1;
  l.Cmyk = !l.Bilevel && params.TIFF_PhotometInterpret == ioTIFF_CMYK;
  switch (params.TIFF_Compression) {
    case ioTIFF_CCITT1D: l.Compression = 2; break;
    case ioTIFF_G3FAX1D: l.Compression = 3; break;
    case ioTIFF_G3FAX2D: l.Compression = 3; l.T4Options = 1; break;
    case ioTIFF_G4FAX: l.Compression = 4; break;
    case ioTIFF_LZW:
      // Without an encoder the page is written uncompressed.
      l.Lzw = params.TIFF_LZWCompFunc ? params.TIFF_LZWCompFunc : DefTIFF_LZWCOMPFUNC;
      if (l.Lzw) {
        l.Compression = 5;
        l.Predictor = true;
      }
      break;
    case ioTIFF_PACKBITS: l.Compression = 32773; break;
    default: break;
  }
  const bool ccitt = l.Compression >= 2 && l.Compression <= 4;
  // Fax coding is for bilevel pages only.
  if (ccitt && !l.Bilevel) {
    l.Compression = 1;
    l.T4Options = 0;
  }
  if (!(params.BitsPerSample == 8 && (params.SamplesPerPixel == 1 || params.SamplesPerPixel == 3)) || l.Cmyk ||
      l.Bilevel)
    l.Predictor = false;
  // Fax data is white-is-zero.
  l.Invert = l.Bilevel && ccitt;
  l.Photometric = l.Bilevel ? (l.Invert ? 0 : 1) : (l.Cmyk ? 5 : 2);
  l.SamplesPerPixel = l.Bilevel ? 1 : (l.Cmyk ? 4 : 3);
  return l;
}

// The entries of one directory. Values over 4 bytes go to the stream where it stands
// when they are added, so the order of the calls is the order of the file.
class TDirectoryBuilder {
 public:
  explicit TDirectoryBuilder(TStream& stream) : FStream(stream) {}

  void Add(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) { FEntries.push_back({tag, type, count, value}); }
  void AddBlock(uint16_t tag, uint16_t type, uint32_t count, const void* data, size_t bytes) {
    if (bytes <= 4) {
      uint32_t v = 0;
      std::memcpy(&v, data, bytes);
      return Add(tag, type, count, v);
    }
    Add(tag, type, count, StreamOffset(FStream.Position()));
    FStream.WriteBuffer(data, static_cast<int64_t>(bytes));
  }
  void AddString(uint16_t tag, const std::string& s) {
    if (!s.empty()) AddBlock(tag, ftAscii, static_cast<uint32_t>(s.size() + 1), s.c_str(), s.size() + 1);
  }
  void AddRational(uint16_t tag, uint32_t num, uint32_t den) {
    uint8_t b[8];
    VXStoreU32(b, num);
    VXStoreU32(b + 4, den);
    AddBlock(tag, ftRational, 1, b, 8);
  }

  /// Writes the directory at the next word boundary; its position.
  int64_t Write(uint32_t nextOffset) {
    if (FStream.Position() & 1) FStream.WriteU8(0);
    const int64_t dirPos = FStream.Position();
    // Readers expect the entries in ascending tag order.
    std::stable_sort(FEntries.begin(), FEntries.end(),
                     [](const TOutEntry& a, const TOutEntry& b) { return a.Tag < b.Tag; });
    std::vector<uint8_t> bytes(2 + FEntries.size() * 12 + 4);
    VXStoreU16(bytes.data(), static_cast<uint16_t>(FEntries.size()));
    for (size_t i = 0; i < FEntries.size(); ++i) {
      uint8_t* p = bytes.data() + 2 + i * 12;
      VXStoreU16(p, FEntries[i].Tag);
      VXStoreU16(p + 2, FEntries[i].Type);
      VXStoreU32(p + 4, FEntries[i].Count);
      VXStoreU32(p + 8, FEntries[i].Value);
    }
    VXStoreU32(bytes.data() + bytes.size() - 4, nextOffset);
    FStream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return dirPos;
  }

 private:
  TStream& FStream;
  std::vector<TOutEntry> FEntries;
};

// Turns bitmap rows into file rows (RGB, CMYK or bilevel, with the predictor) and
// encodes them into the one strip of the page.
class TStripEncoder {
 public:
  TStripEncoder(const TWriteLayout& layout, int width, TStream& stream)
      : FL(layout), FWidth(width), FStream(stream),
        FRow(static_cast<size_t>(layout.Bilevel ? (width + 7) / 8 : width * layout.SamplesPerPixel)) {}

  int32_t RowLength() const { return static_cast<int32_t>(FRow.size()); }

  void Put(const uint8_t* scanLine) {
    PackRow(scanLine);
    uint8_t* row = FRow.data();
    switch (FL.Compression) {
      case 2: CCITTHuffmanPutLine(row, FWidth, FStream); break;
      case 3:
      case 4:
      case 5: Code(row); break;
      case 32773:
        PackBitsRow(row, RowLength(), FPacked);
        FStream.WriteBuffer(FPacked.data(), static_cast<int64_t>(FPacked.size()));
        break;
      default: FStream.WriteBuffer(row, RowLength()); break;
    }
  }

  /// Flushes the coder's pending bits and tables; also after an abort.
  void Finish() {
    if (FL.Compression >= 3 && FL.Compression <= 5) Code(nullptr);
  }

 private:
  // The coders that carry state between rows; a null row flushes them.
  void Code(uint8_t* row) {
    switch (FL.Compression) {
      case 3:
        if (FL.T4Options & 1)
          CCITTHuffmanPutLineG32D(row, FWidth, FStream, FRefRow, FPendingBits, FPendingByte);
        else
          CCITTHuffmanPutLineG3(row, FWidth, FStream, FPendingBits, FPendingByte);
        break;
      case 4: CCITTHuffmanPutLineG4(row, FWidth, FStream, FRefRow, FPendingBits, FPendingByte); break;
      case 5: FL.Lzw(row, row ? RowLength() : 0, FStream, FLzwState); break;
      default: break;
    }
  }

  void PackRow(const uint8_t* s) {
    uint8_t* d = FRow.data();
    const int32_t rowLen = RowLength();
    if (FL.Bilevel) {
      if (FL.Invert)
        for (int32_t i = 0; i < rowLen; ++i) d[i] = static_cast<uint8_t>(~s[i]);
      else
        std::memcpy(d, s, static_cast<size_t>(rowLen));
      return;
    }
    const TRGB* p = reinterpret_cast<const TRGB*>(s);
    if (FL.Cmyk) {
      for (int x = 0; x < FWidth; ++x, d += 4) {
        int m = std::max({p[x].r, p[x].g, p[x].b});
        if (m == 0) m = 1;
        d[0] = static_cast<uint8_t>(255 - p[x].r * 255 / m);
        d[1] = static_cast<uint8_t>(255 - p[x].g * 255 / m);
        d[2] = static_cast<uint8_t>(255 - p[x].b * 255 / m);
        d[3] = static_cast<uint8_t>(255 - m);
      }
      return;
    }
    for (int x = 0; x < FWidth; ++x, d += 3) {
      d[0] = p[x].r;
      d[1] = p[x].g;
      d[2] = p[x].b;
    }
    if (FL.Predictor)
      for (int32_t i = rowLen - 1; i >= 3; --i) FRow[i] = static_cast<uint8_t>(FRow[i] - FRow[i - 3]);
  }

  const TWriteLayout& FL;
  int FWidth;
  TStream& FStream;
  std::vector<uint8_t> FRow, FPacked, FRefRow;
  int32_t FPendingBits = 0;
  uint8_t FPendingByte = 0;
  void* FLzwState = nullptr;
};

// Where a new page's directory is linked in, and what it links to.
struct TInsertPoint {
  int64_t LinkPos = 0;      // the 4 bytes that will hold the new directory's offset
  uint32_t NextOffset = 0;  // the directory that follows the new one (0 = none)
  int Pages = 1;            // pages once the new one is in
};

// Before page `wanted` of the little-endian file at `start` (appended past the end of
// the chain); false when the file is not one this writer can insert into.
bool FindInsertPoint(TStream& stream, int64_t start, int32_t wanted, TInsertPoint& at) {
  const int64_t size = stream.Size();
  uint8_t hdr[8];
  if (!ReadAt(stream, start, hdr, 8) || hdr[0] != 'I' || hdr[1] != 'I') return false;
  at.LinkPos = start + 4;
  at.NextOffset = VXLoadU32(hdr + 4);
  bool chosen = wanted <= 0;
  const int dirs = WalkChain(stream, size, false, at.NextOffset, [&](int index, uint32_t, int, int64_t lp) {
    if (chosen) return;
    uint8_t b[4] = {};
    at.LinkPos = lp;
    at.NextOffset = lp + 4 <= size && ReadAt(stream, lp, b, 4) ? VXLoadU32(b) : 0;
    chosen = index + 1 == wanted;
  });
  at.Pages = dirs + 1;
  return true;
}

// Writes the page's directory entries: the fixed ones before the strip, the rest after.
void AddLeadingEntries(TDirectoryBuilder& dir, const TWriteLayout& l, const TIOParamsVals& params, int width,
                       int height) {
  dir.Add(tagImageWidth, ftLong, 1, static_cast<uint32_t>(width));
  dir.Add(tagImageLength, ftLong, 1, static_cast<uint32_t>(height));
  if (l.Bilevel) {
    dir.Add(tagBitsPerSample, ftShort, 1, 1);
  } else {
    uint8_t b[16];
    for (int i = 0; i < l.SamplesPerPixel; ++i) VXStoreU32(b + 4 * i, 8);
    dir.AddBlock(tagBitsPerSample, ftLong, l.SamplesPerPixel, b, 4u * l.SamplesPerPixel);
  }
  dir.Add(tagCompression, ftShort, 1, l.Compression);
  dir.Add(tagPhotometric, ftShort, 1, l.Photometric);
  dir.AddString(tagDocumentName, params.TIFF_DocumentName);
  dir.AddString(tagImageDescription, params.TIFF_ImageDescription);
}

void AddTrailingEntries(TDirectoryBuilder& dir, const TWriteLayout& l, const TIOParamsVals& params) {
  if (l.Predictor) dir.Add(tagPredictor, ftShort, 1, 2);
  dir.AddRational(tagXResolution, static_cast<uint32_t>(std::max(params.DpiX, 0)), 1);
  dir.AddRational(tagYResolution, static_cast<uint32_t>(std::max(params.DpiY, 0)), 1);
  dir.AddString(tagPageName, params.TIFF_PageName);
  // Positions are whole numbers here; the 1/10000 denominator keeps the stored form.
  auto position = [](int32_t p) { return static_cast<uint32_t>(std::clamp<int64_t>(int64_t{p} * 10000, 0, UINT32_MAX)); };
  dir.AddRational(tagXPosition, position(params.TIFF_XPos), 10000);
  dir.AddRational(tagYPosition, position(params.TIFF_YPos), 10000);
  if (l.Compression == 3) dir.Add(tagT4Options, ftLong, 1, l.T4Options);
  dir.Add(tagResolutionUnit, ftShort, 1, 2);
  if (params.TIFF_PageNumber || params.TIFF_PageCount)
    dir.Add(tagPageNumber, ftShort, 2,
            static_cast<uint32_t>(params.TIFF_PageNumber & 0xFFFF) | static_cast<uint32_t>(params.TIFF_PageCount) << 16);
}

}  // namespace

void TIFFReadStream(TBitmap* bitmap, TStream& stream, int32_t& pageCount, TIOParamsVals* params,
                    TProgressRec& progress, bool paramsOnly) {
  pageCount = 0;
  const int64_t start = stream.Position();
  const int64_t size = stream.Size();
  uint8_t hdr[8];
  if (!ReadAt(stream, start, hdr, 8)) return progress.Fail(fkTruncated, "header ends early");
  if (!((hdr[0] == 'I' && hdr[1] == 'I') || (hdr[0] == 'M' && hdr[1] == 'M')))
    return progress.Fail(fkCorrupt, "no II or MM byte-order mark");
  const bool be = hdr[0] == 'M';
  const int32_t wanted = params ? params->TIFF_ImageIndex : -1;
  TDirectory dir(stream, be, size);
  bool loaded = false;
  pageCount = WalkChain(stream, size, be, VXLoadU32(hdr + 4, be), [&](int index, uint32_t offset, int n, int64_t) {
    if (index == wanted) loaded = dir.Load(int64_t{offset} + 2, n);
  });
  if (!params) return;
  // A chain without a single directory is no readable file, unlike an index past its end.
  if (pageCount == 0) return progress.Fail(fkCorrupt, "no image directory");
  if (!loaded) return;

  TTIFFVars v;
  if (!FillVars(dir, v)) return progress.Fail(fkUnsupported, "samples of different bit depths, first", v.BitsPerSample);
  SetParams(v, *params);
  if (v.Compression == 5) {
    v.LzwDecoder = params->TIFF_LZWDecompFunc ? params->TIFF_LZWDecompFunc : DefTIFF_LZWDECOMPFUNC;
    if (!v.LzwDecoder) return progress.Fail(fkUnsupported, "LZW-coded data without an installed LZW decoder");
  }
  if (paramsOnly || !bitmap) return;
  DecodePage(*bitmap, stream, size, v, be, progress);
}

int _EnumTIFFImStream(TStream& stream) {
  int32_t count = 0;
  bool aborting = false;
  TProgressRec pr;
  pr.Aborting = &aborting;
  TIFFReadStream(nullptr, stream, count, nullptr, pr, false);
  return count;
}

int TIFFWriteStream(TStream& stream, bool insert, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  const TWriteLayout layout = ChooseLayout(params);
  TBitmap work;
  const TBitmap* src = &bitmap;
  if (layout.Bilevel && bitmap.PixelFormat() != pf1bit) {
    work = ToBilevel(bitmap);
    src = &work;
  } else if (!layout.Bilevel && bitmap.PixelFormat() != pf24bit) {
    To24(bitmap, work);
    src = &work;
  }
  const int width = src->Width(), height = src->Height();
  if (width <= 0 || height <= 0) {
    progress.Fail(fkSizeLimit, "an empty image has no file form");
    return 0;
  }

  const int64_t start = stream.Position();
  TInsertPoint at;
  at.LinkPos = start + 4;
  if (!insert) {
    const uint8_t zeros[8] = {};
    stream.WriteBuffer(zeros, 8);
  } else {
    if (!FindInsertPoint(stream, start, params.TIFF_ImageIndex, at)) {
      progress.Fail(fkUnsupported, "insertion into a file that is not little-endian TIFF");
      return 0;
    }
    stream.Seek(0, soEnd);
  }

  TDirectoryBuilder dir(stream);
  AddLeadingEntries(dir, layout, params, width, height);
  const int64_t dataStart = stream.Position();
  dir.Add(tagStripOffsets, ftLong, 1, StreamOffset(dataStart));
  dir.Add(tagSamplesPerPixel, ftShort, 1, layout.SamplesPerPixel);
  dir.Add(tagRowsPerStrip, ftLong, 1, static_cast<uint32_t>(height));

  TStripEncoder strip(layout, width, stream);
  progress.PerUnit = 100.0 / height;
  bool aborted = false;
  for (int y = 0; y < height && !aborted; ++y) {
    progress.Report(y);
    aborted = progress.Aborted();
    if (!aborted) strip.Put(src->ScanLine(y));
  }
  strip.Finish();
  if (aborted) return 0;
  dir.Add(tagStripByteCounts, ftLong, 1, StreamOffset(stream.Position() - dataStart));
  AddTrailingEntries(dir, layout, params);

  const int64_t dirPos = dir.Write(at.NextOffset);
  const int64_t end = stream.Position();
  if (!insert) {
    const uint8_t hdr[4] = {'I', 'I', 42, 0};
    stream.Seek(start, soBeginning);
    stream.WriteBuffer(hdr, 4);
  }
  uint8_t b[4];
  VXStoreU32(b, StreamOffset(dirPos));
  stream.Seek(at.LinkPos, soBeginning);
  stream.WriteBuffer(b, 4);
  stream.Seek(end, soBeginning);
  return at.Pages;
}

int _DeleteTIFFImStream(TStream& stream, int32_t index) {
  const int64_t start = stream.Position();
  const int64_t size = stream.Size();
  uint8_t hdr[8];
  if (!ReadAt(stream, start, hdr, 8) || !((hdr[0] == 'I' && hdr[1] == 'I') || (hdr[0] == 'M' && hdr[1] == 'M'))) {
    stream.Seek(start, soBeginning);
    return 0;
  }
  const bool be = hdr[0] == 'M';
  TMemoryStream out;
  out.WriteBuffer(hdr, 4);
  const uint8_t zero4[4] = {};
  out.WriteBuffer(zero4, 4);
  int64_t prevLink = 4;
  // A hostile file can reference the same bytes many times; refuse to grow without bound.
  const int64_t budget = size * 16 + (1 << 20);
  bool overBudget = false;
  std::vector<uint8_t> buf;

  auto copyRange = [&](uint32_t offset, uint64_t len) -> uint32_t {
    const int64_t at = out.Position();
    if (offset < static_cast<uint64_t>(size)) {
      const int64_t n = static_cast<int64_t>(std::min<uint64_t>(len, static_cast<uint64_t>(size - offset)));
      buf.resize(static_cast<size_t>(n));
      if (n > 0 && ReadAt(stream, offset, buf.data(), n)) out.WriteBuffer(buf.data(), n);
    }
    if (out.Size() > budget) overBudget = true;
    return StreamOffset(start + at);
  };
  auto padEven = [&] {
    if (out.Position() & 1) out.WriteU8(0);
  };

  const int found = WalkChain(stream, size, be, VXLoadU32(hdr + 4, be), [&](int k, uint32_t offset, int n, int64_t) {
    if (k == index || overBudget) return;
    TDirectory dir(stream, be, size);
    if (!dir.Load(int64_t{offset} + 2, n)) return;
    for (TEntry& e : dir.Entries) {
      if (e.Tag == tagStripOffsets || e.Tag == tagTileOffsets) {
        const std::vector<uint32_t> offs = dir.Array(e.Tag);
        const std::vector<uint32_t> counts = dir.Array(e.Tag == tagStripOffsets ? tagStripByteCounts : tagTileByteCounts);
        if (offs.size() != e.Count) continue;  // unreadable: keep the entry as it was
        std::vector<uint32_t> moved(offs.size());
        for (size_t j = 0; j < offs.size() && !overBudget; ++j) {
          padEven();
          const uint64_t len = j < counts.size() && counts[j] ? counts[j] : static_cast<uint64_t>(size);
          moved[j] = copyRange(offs[j], len);
        }
        e.Type = ftLong;
        if (moved.size() == 1) {
          VXStoreU32(e.Value, moved[0], be);
        } else {
          padEven();
          VXStoreU32(e.Value, StreamOffset(start + out.Position()), be);
          std::vector<uint8_t> raw(moved.size() * 4);
          for (size_t j = 0; j < moved.size(); ++j) VXStoreU32(raw.data() + 4 * j, moved[j], be);
          out.WriteBuffer(raw.data(), static_cast<int64_t>(raw.size()));
        }
        continue;
      }
      const uint64_t vsize = e.Size();
      if (vsize <= 4 || vsize > static_cast<uint64_t>(size)) continue;
      padEven();
      VXStoreU32(e.Value, copyRange(VXLoadU32(e.Value, be), vsize), be);
    }
    padEven();
    const int64_t dirPos = out.Position();
    std::vector<uint8_t> raw(2 + dir.Entries.size() * 12 + 4, 0);
    VXStoreU16(raw.data(), static_cast<uint16_t>(dir.Entries.size()), be);
    for (size_t i = 0; i < dir.Entries.size(); ++i) {
      uint8_t* p = raw.data() + 2 + i * 12;
      VXStoreU16(p, dir.Entries[i].Tag, be);
      VXStoreU16(p + 2, dir.Entries[i].Type, be);
      VXStoreU32(p + 4, dir.Entries[i].Count, be);
      std::memcpy(p + 8, dir.Entries[i].Value, 4);
    }
    out.WriteBuffer(raw.data(), static_cast<int64_t>(raw.size()));
    uint8_t link[4];
    VXStoreU32(link, StreamOffset(start + dirPos), be);
    std::memcpy(out.Memory() + prevLink, link, 4);
    prevLink = dirPos + 2 + static_cast<int64_t>(dir.Entries.size()) * 12;
    if (out.Size() > budget) overBudget = true;
  });
  if (overBudget) {
    stream.Seek(start, soBeginning);
    return 0;
  }
  stream.Seek(start, soBeginning);
  stream.WriteBuffer(out.Memory(), out.Size());
  stream.SetSize(start + out.Size());
  stream.Seek(start, soBeginning);
  return found;
}

}  // namespace vexa
