#include "vexa/codecs/tiff.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "vexa/codecs/ccitt.h"
#include "vexa/codecs/tiffblock.h"
#include "vexa/core/bytereader.h"
#include "vexa/core/parallel.h"
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
//
// BigTIFF (read only): header "II" or "MM", 43, offset size 8, 0, offset of the
// first directory (8; 16 bytes in all). Directory: entry count (8), entries (20
// each: tag 2, type 2, count 8, value or offset 8), next directory (8). A value of
// at most 8 bytes stands in the entry.

enum : uint16_t {
  tagImageWidth = 256, tagImageLength = 257, tagBitsPerSample = 258, tagCompression = 259,
  tagPhotometric = 262, tagFillOrder = 266, tagDocumentName = 269, tagImageDescription = 270,
  tagStripOffsets = 273, tagOrientation = 274, tagSamplesPerPixel = 277, tagRowsPerStrip = 278,
  tagStripByteCounts = 279, tagXResolution = 282, tagYResolution = 283, tagPlanarConfig = 284,
  tagPageName = 285, tagXPosition = 286, tagYPosition = 287, tagT4Options = 292, tagT6Options = 293,
  tagResolutionUnit = 296, tagPageNumber = 297, tagTransferFunction = 301, tagSoftware = 305,
  tagPredictor = 317, tagColorMap = 320, tagTileWidth = 322, tagTileLength = 323, tagTileOffsets = 324,
  tagTileByteCounts = 325, tagInkSet = 332, tagNumberOfInks = 334, tagDotRange = 336, tagSampleFormat = 339,
  tagJPEGTables = 347, tagYCbCrCoefficients = 529, tagYCbCrSubSampling = 530, tagReferenceBlackWhite = 532,
};

enum : uint16_t { ftByte = 1, ftAscii, ftShort, ftLong, ftRational, ftSByte, ftUndefined, ftSShort, ftSLong,
                  ftSRational, ftFloat, ftDouble, ftIFD, ftLong8 = 16, ftSLong8, ftIFD8 };

int TypeSize(uint16_t type) {
  static const int kSizes[19] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
  return type < 19 ? kSizes[type] : 0;
}

uint64_t LoadU64(const uint8_t* p, bool be) {
  const uint64_t a = VXLoadU32(p, be), b = VXLoadU32(p + 4, be);
  return be ? a << 32 | b : b << 32 | a;
}

/// Classic TIFF or BigTIFF, in either byte order: the sizes of the file's structures.
struct TFileForm {
  bool BE = false, Big = false;
  int EntrySize() const { return Big ? 20 : 12; }
  int CountSize() const { return Big ? 8 : 2; }  // a directory's entry count
  int OffsetSize() const { return Big ? 8 : 4; }
  uint64_t Offset(const uint8_t* p) const { return Big ? LoadU64(p, BE) : VXLoadU32(p, BE); }
};

struct TEntry {
  uint16_t Tag = 0, Type = 0;
  uint64_t Count = 0;
  uint8_t Value[8] = {};
  /// Total size of the value; 0 for unknown types, UINT64_MAX when it cannot be counted.
  uint64_t Size() const {
    const uint64_t ts = static_cast<uint64_t>(TypeSize(Type));
    if (ts == 0) return 0;
    return Count > UINT64_MAX / ts ? UINT64_MAX : Count * ts;
  }
};

/// Reads exactly n bytes at an absolute position; false when the stream is shorter.
bool ReadAt(TStream& s, int64_t pos, void* buf, int64_t n) {
  if (pos < 0 || n < 0) return false;
  s.Seek(pos, soBeginning);
  return s.Read(buf, n) == n;
}

/// True when [offset, offset + size) lies inside a stream of streamSize bytes.
bool Inside(uint64_t offset, uint64_t size, int64_t streamSize) {
  const uint64_t total = static_cast<uint64_t>(streamSize);
  return offset <= total && size <= total - offset;
}

/// One directory's entries with typed access to their values.
class TDirectory {
 public:
  TDirectory(TStream& s, TFileForm form, int64_t streamSize) : FS(s), FForm(form), FSize(streamSize) {}

  std::vector<TEntry> Entries;

  /// Loads the n entries of the directory at `offset`.
  bool Load(uint64_t offset, int64_t n) {
    const int es = FForm.EntrySize();
    const uint64_t first = offset + static_cast<uint64_t>(FForm.CountSize());
    if (n < 0 || !Inside(first, static_cast<uint64_t>(n) * es, FSize)) return false;
    std::vector<uint8_t> raw(static_cast<size_t>(n) * es);
    if (!ReadAt(FS, static_cast<int64_t>(first), raw.data(), static_cast<int64_t>(raw.size()))) return false;
    Entries.resize(static_cast<size_t>(n));
    const bool be = FForm.BE;
    for (int64_t i = 0; i < n; ++i) {
      const uint8_t* p = raw.data() + i * es;
      TEntry& e = Entries[static_cast<size_t>(i)];
      e.Tag = VXLoadU16(p, be);
      e.Type = VXLoadU16(p + 2, be);
      e.Count = FForm.Big ? LoadU64(p + 4, be) : VXLoadU32(p + 4, be);
      std::memcpy(e.Value, p + (FForm.Big ? 12 : 8), static_cast<size_t>(FForm.OffsetSize()));
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
    if (size <= static_cast<uint64_t>(FForm.OffsetSize())) {
      out.assign(e.Value, e.Value + size);
      return true;
    }
    const uint64_t off = FForm.Offset(e.Value);
    if (!Inside(off, size, FSize)) return false;
    out.resize(static_cast<size_t>(size));
    return ReadAt(FS, static_cast<int64_t>(off), out.data(), static_cast<int64_t>(size));
  }

  /// Integer values (BYTE, SHORT, LONG, LONG8 and their signed twins; RATIONAL as the
  /// integer quotient); empty when absent or unreadable.
  std::vector<uint64_t> Array64(uint16_t tag) const {
    return Each<uint64_t>(tag, [this](const uint8_t* p, uint16_t type) { return ValueAt(p, type); });
  }

  /// Array64 cut to 32 bits (larger values saturate).
  std::vector<uint32_t> Array(uint16_t tag) const {
    const std::vector<uint64_t> wide = Array64(tag);
    std::vector<uint32_t> v(wide.size());
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint32_t>(std::min<uint64_t>(wide[i], UINT32_MAX));
    return v;
  }

  uint32_t Scalar(uint16_t tag, uint32_t def) const {
    const TEntry* e = Find(tag);
    uint8_t first[8];
    if (!e || !FirstValue(*e, first)) return def;
    return static_cast<uint32_t>(std::min<uint64_t>(ValueAt(first, e->Type), UINT32_MAX));
  }

  double Rational(uint16_t tag, double def) const {
    const TEntry* e = Find(tag);
    uint8_t first[8];
    if (!e || !FirstValue(*e, first)) return def;
    return RationalAt(first, e->Type);
  }

  /// All values as floating-point numbers (RATIONAL, FLOAT, DOUBLE or integers).
  std::vector<double> Reals(uint16_t tag) const {
    return Each<double>(tag, [this](const uint8_t* p, uint16_t type) { return RationalAt(p, type); });
  }

  std::string String(uint16_t tag) const {
    const TEntry* e = Find(tag);
    std::vector<uint8_t> raw;
    if (!e || TypeSize(e->Type) != 1 || !Bytes(*e, raw)) return {};
    const auto nul = std::find(raw.begin(), raw.end(), 0);
    return std::string(raw.begin(), nul);
  }

 private:
  // Every value of a tag through `convert`; empty when absent or unreadable.
  template <typename T, typename F>
  std::vector<T> Each(uint16_t tag, F convert) const {
    std::vector<T> v;
    const TEntry* e = Find(tag);
    std::vector<uint8_t> raw;
    if (!e || TypeSize(e->Type) == 0 || !Bytes(*e, raw)) return v;
    const size_t ts = static_cast<size_t>(TypeSize(e->Type));
    v.resize(raw.size() / ts);
    for (size_t i = 0; i < v.size(); ++i) v[i] = convert(raw.data() + i * ts, e->Type);
    return v;
  }

  // The bytes of the first value, wherever the whole value stands.
  bool FirstValue(const TEntry& e, uint8_t* out) const {
    const uint64_t ts = static_cast<uint64_t>(TypeSize(e.Type));
    if (e.Count == 0 || ts == 0) return false;
    if (e.Size() <= static_cast<uint64_t>(FForm.OffsetSize())) {
      std::memcpy(out, e.Value, static_cast<size_t>(ts));
      return true;
    }
    const uint64_t off = FForm.Offset(e.Value);
    return Inside(off, ts, FSize) && ReadAt(FS, static_cast<int64_t>(off), out, static_cast<int64_t>(ts));
  }

  uint64_t ValueAt(const uint8_t* p, uint16_t type) const {
    const bool be = FForm.BE;
    switch (type) {
      case ftByte: case ftSByte: case ftUndefined: case ftAscii: return *p;
      case ftShort: case ftSShort: return VXLoadU16(p, be);
      case ftLong: case ftSLong: case ftIFD: return VXLoadU32(p, be);
      case ftLong8: case ftSLong8: case ftIFD8: return LoadU64(p, be);
      case ftRational: case ftSRational: {
        const uint32_t d = VXLoadU32(p + 4, be);
        return VXLoadU32(p, be) / (d ? d : 1);
      }
      default: {
        const double r = RationalAt(p, type);
        return r > 0 && r < 1.8e19 ? static_cast<uint64_t>(r) : 0;
      }
    }
  }

  double RationalAt(const uint8_t* p, uint16_t type) const {
    const bool be = FForm.BE;
    switch (type) {
      case ftRational: {
        const uint32_t d = VXLoadU32(p + 4, be);
        return static_cast<double>(VXLoadU32(p, be)) / (d ? d : 1);
      }
      case ftSRational: {
        const int32_t d = static_cast<int32_t>(VXLoadU32(p + 4, be));
        return static_cast<double>(static_cast<int32_t>(VXLoadU32(p, be))) / (d ? d : 1);
      }
      case ftFloat: return static_cast<double>(std::bit_cast<float>(VXLoadU32(p, be)));
      case ftDouble: return std::bit_cast<double>(LoadU64(p, be));
      case ftSByte: return static_cast<int8_t>(*p);
      case ftSShort: return static_cast<int16_t>(VXLoadU16(p, be));
      case ftSLong: return static_cast<int32_t>(VXLoadU32(p, be));
      default: return static_cast<double>(ValueAt(p, type));
    }
  }

  TStream& FS;
  TFileForm FForm;
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
  std::vector<uint64_t> StripOffsets, StripByteCounts, TileOffsets, TileByteCounts;
  std::vector<TRGB> ColorMap;
  uint32_t ResolutionUnit = 2;
  double XResolution = 0, YResolution = 0;
  uint32_t Predictor = 1, T4Options = 0, T6Options = 0, FillOrder = 1;
  std::vector<uint8_t> JPEGTables;
  double XPosition = 0, YPosition = 0;
  std::string DocumentName, ImageDescription, PageName, Software;
  int32_t PageNumber = 0, PageCount = 0;
  uint32_t SampleFormat = 1;  // 1 unsigned integer, 3 IEEE floating point
  // YCbCr: chroma subsampling, luma coefficients and the coding range of Y, Cb, Cr.
  uint32_t YCbCrSubH = 2, YCbCrSubV = 2;
  double YCbCrCoefficients[3] = {0.299, 0.587, 0.114};
  double ReferenceBlackWhite[6] = {0, 255, 128, 255, 128, 255};
  TiffLzwDecodeProc LzwDecoder = nullptr;
};

/// Fills the record; false when the BitsPerSample values disagree.
bool FillVars(const TDirectory& d, TTIFFVars& v) {
  v.ImageWidth = d.Scalar(tagImageWidth, 0);
  v.ImageLength = d.Scalar(tagImageLength, 0);
  v.SamplesPerPixel = d.Scalar(tagSamplesPerPixel, 1);
  const std::vector<uint32_t> bps = d.Array(tagBitsPerSample);
  v.BitsPerSample = bps.empty() ? 1 : static_cast<int32_t>(std::min<uint32_t>(bps[0], INT32_MAX));
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
  v.StripOffsets = d.Array64(tagStripOffsets);
  v.StripByteCounts = d.Array64(tagStripByteCounts);
  v.TileOffsets = d.Array64(tagTileOffsets);
  v.TileByteCounts = d.Array64(tagTileByteCounts);
  v.ResolutionUnit = d.Scalar(tagResolutionUnit, 2);
  v.XResolution = d.Rational(tagXResolution, 0);
  v.YResolution = d.Rational(tagYResolution, 0);
  v.Predictor = d.Scalar(tagPredictor, 1);
  if (const TEntry* e = d.Find(tagJPEGTables)) d.Bytes(*e, v.JPEGTables);
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
  v.SampleFormat = d.Scalar(tagSampleFormat, 1);
  const std::vector<uint32_t> sub = d.Array(tagYCbCrSubSampling);
  if (sub.size() >= 2) {
    v.YCbCrSubH = sub[0];
    v.YCbCrSubV = sub[1];
  }
  // Coefficients are fractions of one and the coding range lies near the sample range;
  // anything else (infinities, NaN, billions) keeps the defaults.
  const std::vector<double> luma = d.Reals(tagYCbCrCoefficients);
  if (luma.size() >= 3 && luma[1] > 0 && std::all_of(luma.begin(), luma.begin() + 3, [](double c) { return c >= 0 && c <= 1; }))
    std::copy(luma.begin(), luma.begin() + 3, v.YCbCrCoefficients);
  const std::vector<double> range = d.Reals(tagReferenceBlackWhite);
  if (range.size() >= 6 && std::all_of(range.begin(), range.begin() + 6, [](double r) { return std::fabs(r) <= 65536; }))
    std::copy(range.begin(), range.begin() + 6, v.ReferenceBlackWhite);
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


// ---------------------------------------------------------------- page decoding

enum TRowKind { rkNone, rkBilevel, rkGrey, rkPalette, rkRGB, rkRGB555, rkCMYK, rkLab, rkYCbCr };

bool KnownCompression(uint16_t c) {
  switch (c) {
    case 1: case 2: case 3: case 4: case 5: case 7: case 8: case 32773: case 32946: return true;
    default: return false;
  }
}

bool IsCcitt(uint16_t c) { return c >= 2 && c <= 4; }

const char* CompressionName(uint16_t c) {
  switch (c) {
    case 1: return "uncompressed";
    case 2: return "CCITT modified Huffman";
    case 3: return "CCITT Group 3 fax";
    case 4: return "CCITT Group 4 fax";
    case 5: return "LZW";
    case 7: return "JPEG";
    case 8: case 32946: return "Deflate";
    case 32773: return "PackBits";
    default: return "compressed";
  }
}

// Why ClassifyPage found no row kind, for the failure text.
void FailLayout(const TTIFFVars& v, TProgressRec& progress) {
  const uint16_t c = v.Compression;
  if (!KnownCompression(c)) return progress.Fail(fkUnsupported, "compression", c);
  if (v.SampleFormat == 3)
    return progress.Fail(fkUnsupported, "floating-point samples of bits per sample", v.BitsPerSample);
  progress.Fail(fkUnsupported,
                std::to_string(v.BitsPerSample) + " bits x " + std::to_string(v.SamplesPerPixel) +
                    " samples with " + CompressionName(c) + " data in photometric interpretation",
                v.Photometric);
}

/// A two-entry palette of black and white (in either order) keeps a page bilevel.
bool BlackAndWhite(const std::vector<TRGB>& map) {
  auto is = [](TRGB c, uint8_t v) { return c.r == v && c.g == v && c.b == v; };
  return (is(map[0], 0) && is(map[1], 255)) || (is(map[0], 255) && is(map[1], 0));
}

bool ValidSubsampling(uint32_t s) { return s == 1 || s == 2 || s == 4; }

/// How a page's rows become bitmap rows; rkNone when this reader does not decode it.
TRowKind ClassifyPage(const TTIFFVars& v) {
  const uint16_t c = v.Compression;
  if (!KnownCompression(c)) return rkNone;
  const int bps = v.BitsPerSample;
  const uint32_t spp = v.SamplesPerPixel;
  const uint16_t ph = v.Photometric;
  const bool planar = v.PlanarConfiguration == 2 && spp > 1;
  const bool real = v.SampleFormat == 3;
  if (real && bps != 32 && bps != 64) return rkNone;
  if (c == 7) {
    // libjpeg delivers 8-bit grey or RGB, converting and upsampling YCbCr itself.
    if (bps != 8 || planar || real) return rkNone;
    if (ph == 1 && spp == 1) return rkGrey;
    return (ph == 2 || ph == 6) && spp == 3 ? rkRGB : rkNone;
  }
  if (bps == 1 && spp == 1) {
    if (ph == 0 || ph == 1) return rkBilevel;
    if (ph == 3 && v.ColorMap.size() >= 2) return BlackAndWhite(v.ColorMap) ? rkBilevel : rkPalette;
    return rkNone;
  }
  if (IsCcitt(c)) return rkNone;
  if (ph == 6)
    return bps == 8 && spp == 3 && !planar && ValidSubsampling(v.YCbCrSubH) && ValidSubsampling(v.YCbCrSubV)
               ? rkYCbCr
               : rkNone;
  if (spp < 1 || spp > 8 || !((bps >= 2 && bps <= 8) || bps == 16 || real)) return rkNone;
  switch (ph) {
    case 0: case 1: return spp <= 2 ? rkGrey : rkNone;
    case 2:
      if (spp >= 3 && (bps == 8 || bps == 16 || real)) return rkRGB;
      return spp == 1 && bps == 16 && !real ? rkRGB555 : rkNone;
    case 3: return spp == 1 && bps <= 8 && !real && !v.ColorMap.empty() ? rkPalette : rkNone;
    case 5: return spp >= 4 && (bps == 8 || bps == 16) && !real ? rkCMYK : rkNone;
    case 8: return spp >= 3 && (bps == 8 || bps == 16) && !real ? rkLab : rkNone;
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


uint8_t RealToByte(double x) {
  if (!(x > 0)) return 0;  // NaN too
  if (x >= 1) return 255;
  return static_cast<uint8_t>(x * 255 + 0.5);
}

/// Turns decoded block rows (one per plane) into a span of bitmap pixels.
class TRowConverter {
 public:
  TRowConverter(const TTIFFVars& v, TRowKind kind, bool bigEndian, int planes, int maxWidth)
      : FV(v), FKind(kind), FBE(bigEndian), FPlanes(planes),
        FSpp(v.Compression == 7 ? TiffJpegComponents(v.Photometric) : static_cast<int>(v.SamplesPerPixel)),
        FBps(v.BitsPerSample), FReal(v.SampleFormat == 3 && v.Compression != 7) {
    if (kind == rkBilevel) {
      const bool ccitt = IsCcitt(v.Compression);
      if (v.Photometric == 3) {
        auto grey = [](TRGB c) { return 21 * c.r + 71 * c.g + 7 * c.b; };
        FInvert = grey(v.ColorMap[0]) > grey(v.ColorMap[1]);
      } else {
        FInvert = (v.Photometric == 0 && !ccitt) || (v.Photometric == 1 && ccitt);
      }
    }
    // Fax decoders deliver 1 for white runs, which are index 0 of a palette page.
    FInvertIndices = kind == rkPalette && IsCcitt(v.Compression);
    const size_t n = static_cast<size_t>(maxWidth) * FSpp;
    FSamples.resize(n);
    FBytes.resize(n);
    FPalette.assign(256, TRGB{});
    std::copy(v.ColorMap.begin(), v.ColorMap.end(), FPalette.begin());
    if (kind == rkYCbCr) BuildYCbCrTables();
  }

  /// Pixels [x0, x0 + width) of bitmap rows y .. y + rows - 1 (more than one row only
  /// for YCbCr data units).
  void Convert(uint8_t* const* planeRows, TBitmap& bitmap, int x0, int y, int width, int rows) {
    if (FKind == rkBilevel) return PutBits(planeRows[0], bitmap.ScanLine(y), x0, width);
    if (FKind == rkYCbCr) return PutYCbCr(planeRows[0], bitmap, x0, y, width, rows);
    TRGB* out = reinterpret_cast<TRGB*>(bitmap.ScanLine(y)) + x0;
    if (FInvertIndices)
      for (int i = 0; i < (width + 7) / 8; ++i) planeRows[0][i] = static_cast<uint8_t>(~planeRows[0][i]);
    const uint8_t* s8;
    if (FBps == 8 && FPlanes == 1) {
      s8 = planeRows[0];
    } else {
      Unpack(planeRows, width);
      if (FKind == rkRGB555) {
        for (int x = 0; x < width; ++x) {
          const uint32_t w = FSamples[x];
          out[x].r = static_cast<uint8_t>((w >> 10) * 8);
          out[x].g = static_cast<uint8_t>(((w >> 5) & 31) * 8);
          out[x].b = static_cast<uint8_t>((w & 31) * 8);
        }
        return;
      }
      Narrow(width);
      s8 = FBytes.data();
    }
    const int spp = FSpp;
    switch (FKind) {
      case rkGrey: {
        const uint8_t flip = FV.Photometric == 0 ? 255 : 0;
        for (int x = 0; x < width; ++x) {
          const uint8_t g = s8[x * spp] ^ flip;
          out[x] = TRGB{g, g, g};
        }
        break;
      }
      case rkPalette:
        for (int x = 0; x < width; ++x) out[x] = FPalette[s8[x]];
        break;
      case rkRGB:
        for (int x = 0; x < width; ++x) {
          const uint8_t* p = s8 + x * spp;
          out[x] = TRGB{p[2], p[1], p[0]};
        }
        break;
      case rkCMYK:
        for (int x = 0; x < width; ++x) {
          const uint8_t* p = s8 + x * spp;
          const int k = 255 - p[3];
          out[x].r = static_cast<uint8_t>((255 - p[0]) * k / 255);
          out[x].g = static_cast<uint8_t>((255 - p[1]) * k / 255);
          out[x].b = static_cast<uint8_t>((255 - p[2]) * k / 255);
        }
        break;
      case rkLab:
        for (int x = 0; x < width; ++x) {
          const uint8_t* p = s8 + x * spp;
          out[x] = LabToRGB(p[0], p[1], p[2]);
        }
        break;
      default:
        break;
    }
  }

 private:
  void PutBits(const uint8_t* src, uint8_t* dst, int x0, int width) {
    const uint8_t flip = FInvert ? 0xFF : 0;
    if (x0 % 8 == 0) {
      // Bits past the block's width land where the next block (or the row padding) goes.
      uint8_t* d = dst + x0 / 8;
      for (int i = 0; i < (width + 7) / 8; ++i) d[i] = src[i] ^ flip;
      return;
    }
    for (int x = 0; x < width; ++x) _SetPixelbw(dst, x0 + x, ((src[x >> 3] ^ flip) >> (7 - (x & 7))) & 1);
  }

  // Units of h x v luma samples followed by one Cb and one Cr, left to right; a
  // decoded row of them covers v pixel rows.
  void PutYCbCr(const uint8_t* units, TBitmap& bitmap, int x0, int y, int width, int rows) {
    const int h = static_cast<int>(FV.YCbCrSubH), v = static_cast<int>(FV.YCbCrSubV);
    const int unitBytes = h * v + 2;
    auto clamp = [](int32_t c) { return static_cast<uint8_t>(std::clamp(c, 0, 255)); };
    for (int j = 0; j < std::min(rows, v); ++j) {
      TRGB* out = reinterpret_cast<TRGB*>(bitmap.ScanLine(y + j)) + x0;
      for (int x = 0; x < width; ++x) {
        const uint8_t* u = units + static_cast<size_t>(x / h) * unitBytes;
        const int32_t luma = FLuma[u[j * h + x % h]];
        const uint8_t cb = u[h * v], cr = u[h * v + 1];
        out[x].r = clamp(luma + FCrR[cr]);
        out[x].g = clamp(luma + ((FCbG[cb] + FCrG[cr]) >> kFix));
        out[x].b = clamp(luma + FCbB[cb]);
      }
    }
  }

  // Y, Cb and Cr scaled by their coding range (ReferenceBlackWhite), then
  // R = Y + Cr (2 - 2 Lr), B = Y + Cb (2 - 2 Lb), G = (Y - Lb B - Lr R) / Lg, in the
  // 16-bit fixed point libtiff uses, so that pages match what other readers show.
  static constexpr int kFix = 16;
  void BuildYCbCrTables() {
    const float lr = static_cast<float>(FV.YCbCrCoefficients[0]), lg = static_cast<float>(FV.YCbCrCoefficients[1]),
                lb = static_cast<float>(FV.YCbCrCoefficients[2]);
    auto fix = [](float x) { return static_cast<int32_t>(std::clamp(x, 0.0f, 2.0f) * (1 << kFix) + 0.5f); };
    const float f1 = 2 - 2 * lr, f3 = 2 - 2 * lb;
    const int32_t d1 = fix(f1), d2 = -fix(lr * f1 / lg), d3 = fix(f3), d4 = -fix(lb * f3 / lg);
    const double* rb = FV.ReferenceBlackWhite;
    auto code = [](int c, double black, double white, float range) {
      const float b = static_cast<float>(black), span = static_cast<float>(white) - b;
      const float v = static_cast<float>(c - static_cast<int32_t>(b)) * range / (span != 0 ? span : 1);
      return static_cast<int32_t>(std::clamp(v, -128.0f * 32, 128.0f * 32));
    };
    const int32_t half = 1 << (kFix - 1);
    for (int i = 0; i < 256; ++i) {
      const int x = i - 128;
      const int32_t cr = code(x, rb[4] - 128, rb[5] - 128, 127), cb = code(x, rb[2] - 128, rb[3] - 128, 127);
      FCrR[i] = (d1 * cr + half) >> kFix;
      FCbB[i] = (d3 * cb + half) >> kFix;
      FCrG[i] = d2 * cr;
      FCbG[i] = d4 * cb + half;
      FLuma[i] = code(i, rb[0], rb[1], 255);
    }
  }

  /// Raw sample values, interleaved, from the packed plane rows; floating-point
  /// samples already scaled to 0..255.
  void Unpack(uint8_t* const* planeRows, int width) {
    const int perRow = FPlanes == 1 ? FSpp : 1;  // samples per pixel within one plane row
    for (int p = 0; p < FPlanes; ++p) {
      const uint8_t* src = planeRows[p];
      const int n = width * perRow;
      const int stride = FPlanes == 1 ? 1 : FSpp;
      uint16_t* dst = FSamples.data() + p;
      if (FReal && FBps == 32) {
        for (int i = 0; i < n; ++i) dst[i * stride] = RealToByte(std::bit_cast<float>(VXLoadU32(src + 4 * i, FBE)));
      } else if (FReal) {
        for (int i = 0; i < n; ++i) dst[i * stride] = RealToByte(std::bit_cast<double>(LoadU64(src + 8 * i, FBE)));
      } else if (FBps == 16) {
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
  void Narrow(int width) {
    const size_t n = static_cast<size_t>(width) * FSpp;
    if (FBps == 16 && !FReal) {
      for (size_t i = 0; i < n; ++i) FBytes[i] = static_cast<uint8_t>(FSamples[i] >> 8);
    } else if (FKind == rkGrey && FBps == 4) {
      for (size_t i = 0; i < n; ++i) FBytes[i] = static_cast<uint8_t>(FSamples[i] * 16);
    } else if (FKind == rkGrey && FBps < 8) {
      const uint32_t maxv = (1u << FBps) - 1;
      for (size_t i = 0; i < n; ++i) FBytes[i] = static_cast<uint8_t>(FSamples[i] * 255u / maxv);
    } else {
      for (size_t i = 0; i < n; ++i) FBytes[i] = static_cast<uint8_t>(FSamples[i]);
    }
  }

  const TTIFFVars& FV;
  TRowKind FKind;
  bool FBE;
  int FPlanes, FSpp, FBps;
  bool FReal;
  bool FInvert = false, FInvertIndices = false;
  std::vector<uint16_t> FSamples;
  std::vector<uint8_t> FBytes;
  std::vector<TRGB> FPalette;
  int32_t FLuma[256] = {}, FCrR[256] = {}, FCbB[256] = {}, FCrG[256] = {}, FCbG[256] = {};
};

/// Where a page's blocks (strips or tiles) stand and how their decoded rows look.
struct TPageLayout {
  bool Tiled = false;
  int32_t BlockW = 0, BlockH = 0;  // pixels of a whole block; strips: the width x rows per strip
  int64_t Across = 1, Down = 0;    // blocks in a row and in a column of the page
  int64_t PerPlane = 0;            // blocks of one plane in the offset arrays
  int Planes = 1;
  int32_t RowLen = 0;              // bytes of one decoded row of one plane's block
  int GroupRows = 1;               // pixel rows one decoded row covers (YCbCr data units)
  const std::vector<uint64_t>* Offsets = nullptr;
  const std::vector<uint64_t>* Counts = nullptr;
};

bool PlanLayout(const TTIFFVars& v, TRowKind kind, TPageLayout& l, TProgressRec& progress) {
  const int64_t width = v.ImageWidth, height = v.ImageLength;
  const uint32_t spp = v.SamplesPerPixel;
  l.Planes = v.PlanarConfiguration == 2 && spp > 1 ? static_cast<int>(spp) : 1;
  l.Tiled = v.TileWidth != -1 || v.TileLength != -1;
  if (l.Tiled) {
    if (v.TileWidth <= 0 || v.TileLength <= 0) {
      progress.Fail(fkCorrupt, "tile width or length is 0 or missing");
      return false;
    }
    l.BlockW = v.TileWidth;
    l.BlockH = v.TileLength;
    l.Offsets = &v.TileOffsets;
    l.Counts = &v.TileByteCounts;
    l.Across = (width + l.BlockW - 1) / l.BlockW;
    l.Down = (height + l.BlockH - 1) / l.BlockH;
  } else {
    l.BlockW = static_cast<int32_t>(width);
    l.BlockH = static_cast<int32_t>(std::min(v.RowsPerStrip, v.ImageLength));
    l.Offsets = &v.StripOffsets;
    l.Counts = &v.StripByteCounts;
    l.Down = (height + l.BlockH - 1) / l.BlockH;
  }
  if (l.Offsets->empty()) {
    progress.Fail(fkCorrupt, l.Tiled ? "no tile offsets" : "no strip offsets");
    return false;
  }
  l.PerPlane = l.Tiled || l.Planes == 1 ? l.Across * l.Down : static_cast<int64_t>(l.Offsets->size()) / l.Planes;
  if (l.PerPlane == 0) {
    progress.Fail(fkCorrupt, "fewer strip offsets than sample planes");
    return false;
  }
  const int64_t sampleBits = int64_t{v.BitsPerSample} * (l.Planes == 1 ? spp : 1);
  // A tile must fit the size limit on its own: its rows and its decoder's work stay bounded.
  if (l.Tiled && !VXCheckBitmapSize(l.BlockW, l.BlockH, static_cast<int>(std::min<int64_t>(sampleBits * l.Planes, 512)))) {
    progress.Fail(fkSizeLimit, "tiles of " + VXSizeText(l.BlockW, l.BlockH));
    return false;
  }
  int64_t rowLen;
  if (v.Compression == 7) {
    rowLen = int64_t{l.BlockW} * TiffJpegComponents(v.Photometric);
  } else if (kind == rkYCbCr) {
    const int64_t h = v.YCbCrSubH, vv = v.YCbCrSubV;
    rowLen = (l.BlockW + h - 1) / h * (h * vv + 2);
    l.GroupRows = static_cast<int>(vv);
  } else {
    rowLen = (int64_t{l.BlockW} * sampleBits + 7) / 8;
  }
  if (rowLen > INT32_MAX / 2) {
    progress.Fail(fkSizeLimit, "rows of " + std::to_string(rowLen) + " bytes");
    return false;
  }
  l.RowLen = static_cast<int32_t>(rowLen);
  return true;
}

// Where each block's data stands, and the first block a sequential read would stop
// at for the layout alone (missing, past the end, or over the reading budget).
struct TBlockPlan {
  std::vector<uint64_t> Offset, Count;  // by block index
  int64_t StopRow = INT64_MAX;          // block row of that block
  int64_t StopAt = 0;                   // its position in the row: bx * planes + p
  TVXFailureKind StopKind = fkTruncated;
  std::string StopText;
};

TBlockPlan PlanBlocks(const TPageLayout& l, int height, int64_t streamSize, const std::string& block) {
  TBlockPlan plan;
  const size_t total = l.Offsets->size();
  plan.Offset.assign(total, 0);
  plan.Count.assign(total, 0);
  // A block without a byte count runs to the next block (or the end of the stream).
  std::vector<uint64_t> starts;
  auto extent = [&](uint64_t k) -> uint64_t {
    if (k < l.Counts->size() && (*l.Counts)[k]) return (*l.Counts)[k];
    if (starts.empty()) {
      starts = *l.Offsets;
      std::sort(starts.begin(), starts.end());
    }
    const auto next = std::upper_bound(starts.begin(), starts.end(), (*l.Offsets)[k]);
    return next == starts.end() ? 0 : *next - (*l.Offsets)[k];
  };
  // Blocks may share data, but a page that rereads its file many times over is a trap.
  const uint64_t budget = 64 * static_cast<uint64_t>(streamSize) + (256u << 20);
  uint64_t loaded = 0;
  const size_t planes = static_cast<size_t>(l.Planes);
  for (int64_t by = 0; by < l.Down && by * l.BlockH < height; ++by) {
    for (int64_t bx = 0; bx < l.Across; ++bx) {
      for (size_t p = 0; p < planes; ++p) {
        const uint64_t k = p * l.PerPlane + by * l.Across + bx;
        auto stop = [&](TVXFailureKind kind, std::string text) {
          plan.StopRow = by;
          plan.StopAt = bx * l.Planes + static_cast<int64_t>(p);
          plan.StopKind = kind;
          plan.StopText = std::move(text);
          return plan;
        };
        if (k >= total || by * l.Across + bx >= l.PerPlane)
          return stop(fkTruncated, "the " + block + "s cover " + std::to_string(by * l.BlockH) + " of " +
                                       std::to_string(height) + " rows");
        const uint64_t offset = (*l.Offsets)[k], count = extent(k);
        if (offset >= static_cast<uint64_t>(streamSize))
          return stop(fkTruncated, block + " " + std::to_string(k) + " lies past the end of the data");
        plan.Offset[k] = offset;
        plan.Count[k] = count;
        loaded += count ? std::min(count, static_cast<uint64_t>(streamSize) - offset)
                        : static_cast<uint64_t>(streamSize) - offset;
        if (loaded > budget) return stop(fkCorrupt, "the " + block + "s read the file's data more than 64 times over");
      }
    }
  }
  return plan;
}

// Decodes whole rows of blocks into the bitmap: one per band of the worker pool,
// each with its own decoders, so that rows of strips or tiles run side by side.
class TBlockRowDecoder {
 public:
  TBlockRowDecoder(TBitmap& bitmap, TStream& stream, int64_t streamSize, const TTIFFVars& v, TRowKind kind,
                   const TPageLayout& l, bool bigEndian, const TBlockPlan& plan, std::mutex* streamLock)
      : FBitmap(bitmap), FStream(stream), FStreamSize(streamSize), FV(v), FL(l), FPlan(plan),
        FStreamLock(streamLock), FConverter(v, kind, bigEndian, l.Planes, std::min<int>(l.BlockW, v.ImageWidth)),
        FBlock(l.Tiled ? "tile" : "strip") {
    const uint16_t c = v.Compression;
    TTiffCoding coding;
    coding.Compression = c;
    coding.Photometric = v.Photometric;
    coding.FillOrder = v.FillOrder;
    coding.T4Options = v.T4Options;
    // Differencing is defined for the dictionary coders; subsampled YCbCr units have no pixel rows to difference.
    coding.Predictor = (c == 5 || c == 8 || c == 32946) && kind != rkYCbCr ? v.Predictor : 1;
    coding.BitsPerSample = v.BitsPerSample;
    coding.SamplesPerRow = l.Planes == 1 ? static_cast<int>(v.SamplesPerPixel) : 1;
    coding.BigEndian = bigEndian;
    coding.Lzw = v.LzwDecoder;
    coding.JpegTables = &v.JPEGTables;
    const size_t planes = static_cast<size_t>(l.Planes);
    // Spare bytes: sub-byte samples are read two bytes at a time.
    FPlaneBuf.assign(planes, std::vector<uint8_t>(static_cast<size_t>(l.RowLen) + 8));
    for (size_t p = 0; p < planes; ++p) {
      FPlaneRows.push_back(FPlaneBuf[p].data());
      FDecoders.push_back(std::make_unique<TTiffBlockDecoder>(coding, l.BlockW, l.RowLen));
    }
  }

  /// Decodes block row `by`; false when it fails (with the reason in kind and text).
  /// With `progress`, reports each pixel row (strips) or the block row (tiles) and
  /// sets `aborted` when the caller asks to stop.
  bool Run(int64_t by, TVXFailureKind& kind, std::string& text, TProgressRec* progress, bool& aborted) {
    const int width = static_cast<int>(FV.ImageWidth), height = static_cast<int>(FV.ImageLength);
    const TPageLayout& l = FL;
    const int64_t y0 = by * l.BlockH;
    const int rowsIn = static_cast<int>(std::min<int64_t>(l.BlockH, height - y0));
    const int groups = (rowsIn + l.GroupRows - 1) / l.GroupRows;
    const size_t planes = FDecoders.size();
    for (int64_t bx = 0; bx < l.Across; ++bx) {
      const int x0 = static_cast<int>(bx * l.BlockW);
      const int wIn = std::min(l.BlockW, width - x0);
      uint64_t k = 0;
      for (size_t p = 0; p < planes; ++p) {
        if (by == FPlan.StopRow && bx * l.Planes + static_cast<int64_t>(p) == FPlan.StopAt) {
          kind = FPlan.StopKind;
          text = FPlan.StopText;
          return false;
        }
        k = p * l.PerPlane + by * l.Across + bx;
        if (!FDecoders[p]->Open(FStream, FStreamSize, FPlan.Offset[k], FPlan.Count[k], l.BlockH, FStreamLock)) {
          kind = fkTruncated;
          text = FBlock + " " + std::to_string(k) + " lies past the end of the data";
          return false;
        }
      }
      for (int g = 0; g < groups; ++g) {
        const int y = static_cast<int>(y0) + g * l.GroupRows;
        for (size_t p = 0; p < planes; ++p) {
          if (FDecoders[p]->NextRow(FPlaneRows[p])) continue;
          const TTiffBlockDecoder& d = *FDecoders[p];
          if (!d.FailureText().empty()) {
            kind = d.FailureKind();
            text = FBlock + " " + std::to_string(k) + ": " + d.FailureText();
          } else {
            kind = fkTruncated;
            text = std::string(CompressionName(FV.Compression)) + " " + FBlock + " data ends at row " +
                   std::to_string(y) + " of " + std::to_string(height);
          }
          return false;
        }
        const int rows = std::min(l.GroupRows, rowsIn - g * l.GroupRows);
        FConverter.Convert(FPlaneRows.data(), FBitmap, x0, y, wIn, rows);
        if (progress && !l.Tiled) {
          progress->Done += rows;
          progress->Report(progress->Done);
          if ((aborted = progress->Aborted())) return true;
        }
      }
      for (auto& d : FDecoders) d->Close();
    }
    if (progress && l.Tiled) {
      progress->Done += rowsIn;
      progress->Report(progress->Done);
      aborted = progress->Aborted();
    }
    return true;
  }

 private:
  TBitmap& FBitmap;
  TStream& FStream;
  int64_t FStreamSize;
  const TTIFFVars& FV;
  const TPageLayout& FL;
  const TBlockPlan& FPlan;
  std::mutex* FStreamLock;
  TRowConverter FConverter;
  std::string FBlock;
  std::vector<std::vector<uint8_t>> FPlaneBuf;
  std::vector<uint8_t*> FPlaneRows;
  std::vector<std::unique_ptr<TTiffBlockDecoder>> FDecoders;
};

void DecodeBlocks(TBitmap& bitmap, TStream& stream, int64_t streamSize, const TTIFFVars& v, TRowKind kind,
                  const TPageLayout& l, bool bigEndian, TProgressRec& progress) {
  const int width = static_cast<int>(v.ImageWidth), height = static_cast<int>(v.ImageLength);
  const TBlockPlan plan = PlanBlocks(l, height, streamSize, l.Tiled ? "tile" : "strip");
  // Block rows to decode: up to the one a sequential read stops at.
  const int64_t rowsOfBlocks = std::min<int64_t>((height + int64_t{l.BlockH} - 1) / l.BlockH, l.Down);
  const int blockRows = static_cast<int>(std::min<int64_t>(rowsOfBlocks - 1, plan.StopRow) + 1);
  progress.Done = 0;
  progress.PerUnit = 100.0 / height;

  // Blocks are independent: each row of them decodes into its own bitmap rows.
  // The caller's thread alone reports progress; a block row that fails ends the
  // read there, and rows of later block rows that finished alongside are cleared,
  // so that the bitmap is the one a sequential read leaves.
  std::mutex streamLock, resultLock;
  int64_t failedRow = INT64_MAX;
  TVXFailureKind failKind = fkTruncated;
  std::string failText;
  bool aborted = false;
  const std::vector<int> bands = VXRowBands(blockRows, int64_t{width} * height, 1);
  const bool split = bands.size() > 2;
  VXParallelBands(
      bands,
      [&](int b0, int b1, bool onCaller) {
        TBlockRowDecoder rows(bitmap, stream, streamSize, v, kind, l, bigEndian, plan, split ? &streamLock : nullptr);
        for (int by = b0; by < b1; ++by) {
          {
            std::lock_guard<std::mutex> lock(resultLock);
            if (by > failedRow) return;
          }
          TVXFailureKind k = fkTruncated;
          std::string text;
          bool stop = false;
          if (!rows.Run(by, k, text, onCaller ? &progress : nullptr, stop)) {
            std::lock_guard<std::mutex> lock(resultLock);
            if (by < failedRow) {
              failedRow = by;
              failKind = k;
              failText = std::move(text);
            }
            return;
          }
          if (stop) {
            aborted = true;
            return;
          }
        }
      },
      [&](int done) {
        progress.Done = static_cast<int32_t>(std::min<int64_t>(int64_t{done} * l.BlockH, height));
        progress.Report(progress.Done);
        std::lock_guard<std::mutex> lock(resultLock);
        return failedRow == INT64_MAX && !progress.Aborted();
      });
  if (failedRow == INT64_MAX || aborted) return;
  for (int64_t y = (failedRow + 1) * l.BlockH; y < height; ++y)
    std::memset(bitmap.ScanLine(static_cast<int>(y)), 0, static_cast<size_t>(bitmap.RowLen()));
  progress.Fail(failKind, failText);
}

void DecodePage(TBitmap& bitmap, TStream& stream, int64_t streamSize, const TTIFFVars& v, bool bigEndian,
                TProgressRec& progress) {
  const TRowKind kind = ClassifyPage(v);
  const bool bilevel = kind == rkBilevel || (kind == rkNone && v.BitsPerSample == 1 && v.SamplesPerPixel == 1);
  if (v.ImageWidth == 0 || v.ImageLength == 0) return progress.Fail(fkCorrupt, "width or height is 0");
  if (v.ImageWidth > INT32_MAX || v.ImageLength > INT32_MAX ||
      !VXCheckBitmapSize(v.ImageWidth, v.ImageLength, bilevel ? 1 : 24))
    return progress.Fail(fkSizeLimit, VXSizeText(v.ImageWidth, v.ImageLength));
  const int width = static_cast<int>(v.ImageWidth), height = static_cast<int>(v.ImageLength);
  bitmap.Allocate(width, height, bilevel ? pf1bit : pf24bit);
  // Unsupported layouts leave the zeroed bitmap and say so.
  if (kind == rkNone) return FailLayout(v, progress);
  TPageLayout layout;
  if (PlanLayout(v, kind, layout, progress)) DecodeBlocks(bitmap, stream, streamSize, v, kind, layout, bigEndian, progress);
}

/// Walks the directory chain from `first`; calls visit(index, offset, entryCount,
/// linkPos) for each directory that lies inside the stream and returns the number
/// visited. Any cycle ends the walk.
template <typename Visit>
int WalkChain(TStream& s, int64_t streamSize, TFileForm form, uint64_t first, Visit&& visit) {
  std::unordered_set<uint64_t> seen;
  uint64_t offset = first;
  int count = 0;
  const int cs = form.CountSize(), os = form.OffsetSize();
  while (offset != 0 && seen.insert(offset).second) {
    uint8_t b[8];
    if (!Inside(offset, static_cast<uint64_t>(cs), streamSize) || !ReadAt(s, static_cast<int64_t>(offset), b, cs)) break;
    const uint64_t n = form.Big ? LoadU64(b, form.BE) : VXLoadU16(b, form.BE);
    const uint64_t entriesAt = offset + static_cast<uint64_t>(cs);
    if (n > static_cast<uint64_t>(streamSize) / static_cast<uint64_t>(form.EntrySize()) ||
        !Inside(entriesAt, n * static_cast<uint64_t>(form.EntrySize()), streamSize))
      break;
    const int64_t linkPos = static_cast<int64_t>(entriesAt + n * static_cast<uint64_t>(form.EntrySize()));
    visit(count, offset, static_cast<int64_t>(n), linkPos);
    ++count;
    offset = linkPos + os <= streamSize && ReadAt(s, linkPos, b, os) ? form.Offset(b) : 0;
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
  // Classic little-endian files only: BigTIFF directories have another shape.
  if (!ReadAt(stream, start, hdr, 8) || hdr[0] != 'I' || hdr[1] != 'I' || hdr[2] == 43) return false;
  at.LinkPos = start + 4;
  at.NextOffset = VXLoadU32(hdr + 4);
  bool chosen = wanted <= 0;
  const int dirs = WalkChain(stream, size, TFileForm{}, at.NextOffset, [&](int index, uint64_t, int64_t, int64_t lp) {
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
  uint8_t hdr[16];
  if (!ReadAt(stream, start, hdr, 8)) return progress.Fail(fkTruncated, "header ends early");
  if (!((hdr[0] == 'I' && hdr[1] == 'I') || (hdr[0] == 'M' && hdr[1] == 'M')))
    return progress.Fail(fkCorrupt, "no II or MM byte-order mark");
  TFileForm form;
  form.BE = hdr[0] == 'M';
  const bool be = form.BE;
  uint64_t first = VXLoadU32(hdr + 4, be);
  if (VXLoadU16(hdr + 2, be) == 43) {
    form.Big = true;
    if (!ReadAt(stream, start + 8, hdr + 8, 8)) return progress.Fail(fkTruncated, "BigTIFF header ends early");
    if (VXLoadU16(hdr + 4, be) != 8) return progress.Fail(fkUnsupported, "BigTIFF offset size", VXLoadU16(hdr + 4, be));
    first = LoadU64(hdr + 8, be);
  }
  const int32_t wanted = params ? params->TIFF_ImageIndex : -1;
  TDirectory dir(stream, form, size);
  bool loaded = false;
  pageCount = WalkChain(stream, size, form, first, [&](int index, uint64_t offset, int64_t n, int64_t) {
    if (index == wanted) loaded = dir.Load(offset, n);
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
  // BigTIFF files are not rebuilt (their directories have another shape).
  if (!ReadAt(stream, start, hdr, 8) || !((hdr[0] == 'I' && hdr[1] == 'I') || (hdr[0] == 'M' && hdr[1] == 'M')) ||
      VXLoadU16(hdr + 2, hdr[0] == 'M') == 43) {
    stream.Seek(start, soBeginning);
    return 0;
  }
  const bool be = hdr[0] == 'M';
  TFileForm form;
  form.BE = be;
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

  const int found = WalkChain(stream, size, form, VXLoadU32(hdr + 4, be), [&](int k, uint64_t offset, int64_t n, int64_t) {
    if (k == index || overBudget) return;
    TDirectory dir(stream, form, size);
    if (!dir.Load(offset, n)) return;
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
