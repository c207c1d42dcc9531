#include "vexa/io/paramfields.h"

#include <algorithm>
#include <charconv>
#include <type_traits>
#include <utility>

namespace vexa {

namespace {

using P = TIOParamsVals;

template <auto M>
using MemberType = std::remove_cvref_t<decltype(std::declval<P&>().*M)>;

template <auto M>
void* AddressOf(P& p) {
  return &(p.*M);
}

template <typename T>
constexpr TVXParamKind KindOf() {
  if constexpr (std::is_same_v<T, int32_t>) return pkInt;
  else if constexpr (std::is_same_v<T, bool>) return pkBool;
  else if constexpr (std::is_same_v<T, double>) return pkDouble;
  else if constexpr (std::is_same_v<T, std::string>) return pkString;
  else if constexpr (std::is_same_v<T, TRGB>) return pkColour;
  else if constexpr (std::is_same_v<T, std::vector<TRGB>>) return pkPalette;
  else static_assert(sizeof(T) == 0, "a field of a kind the table cannot hold");
}

constexpr uint8_t kAll = 0b1111, kV3 = 0b1000, kV1V3 = 0b1010;

template <auto M>
constexpr TVXParamField Row(const char* name, uint8_t versions = kAll, TVXParamFileRule rule = prPlain) {
  return {name, KindOf<MemberType<M>>(), {}, versions, rule, &AddressOf<M>};
}

template <auto M, size_t N>
constexpr TVXParamField EnumRow(const char* name, const char* const (&members)[N], uint8_t versions = kAll) {
  using T = MemberType<M>;
  // Files, copies and texts go through the one byte the enumerations are made of.
  static_assert(std::is_enum_v<T> && sizeof(T) == 1);
  return {name, pkEnum, members, versions, prPlain, &AddressOf<M>};
}

const char* const kTiffCompression[] = {"ioTIFF_UNCOMPRESSED", "ioTIFF_CCITT1D", "ioTIFF_G3FAX1D",
                                        "ioTIFF_G3FAX2D",      "ioTIFF_G4FAX",   "ioTIFF_LZW",
                                        "ioTIFF_OLDJPEG",      "ioTIFF_JPEG",    "ioTIFF_PACKBITS"};
const char* const kTiffPhotometric[] = {"ioTIFF_WHITEISZERO", "ioTIFF_BLACKISZERO", "ioTIFF_RGB",
                                        "ioTIFF_RGBPALETTE",  "ioTIFF_TRANSPMASK",  "ioTIFF_CMYK",
                                        "ioTIFF_YCBCR",       "ioTIFF_CIELAB"};
const char* const kJpegColorSpace[] = {"ioJPEG_RGB", "ioJPEG_GRAYLEV", "ioJPEG_YCbCr", "ioJPEG_CMYK",
                                       "ioJPEG_YCbCrK"};
const char* const kJpegDct[] = {"ioJPEG_ISLOW", "ioJPEG_IFAST", "ioJPEG_FLOAT"};
const char* const kJpegScale[] = {"ioJPEG_AUTOCALC", "ioJPEG_FULLSIZE", "ioJPEG_HALF", "ioJPEG_QUARTER",
                                  "ioJPEG_EIGHTH"};
const char* const kPcxCompression[] = {"ioPCX_UNCOMPRESSED", "ioPCX_RLE"};
const char* const kBmpVersion[] = {"ioBMP_BM", "ioBMP_BM3", "ioBMP_BMOS2V1", "ioBMP_BMOS2V2"};
const char* const kBmpCompression[] = {"ioBMP_UNCOMPRESSED", "ioBMP_RLE"};
const char* const kPngFilter[] = {"ioPNG_FILTER_NONE", "ioPNG_FILTER_SUB", "ioPNG_FILTER_PAETH"};

// The member's name is its text, so that the two cannot drift apart.
#define VX_FIELD(member, ...) Row<&P::member>(#member __VA_OPT__(, ) __VA_ARGS__)
#define VX_ENUM(member, ...) EnumRow<&P::member>(#member, __VA_ARGS__)

// In parameter-file order: the file format is this table read top to bottom.
const TVXParamField kFields[] = {
    VX_FIELD(FileName),
    VX_FIELD(FileType, kAll, prByteBeforeV2),
    VX_FIELD(BitsPerSample),
    VX_FIELD(SamplesPerPixel),
    VX_FIELD(Width),
    VX_FIELD(Height),
    VX_FIELD(DpiX),
    VX_FIELD(DpiY),
    VX_FIELD(ColorMap),
    VX_ENUM(TIFF_Compression, kTiffCompression),
    VX_FIELD(TIFF_ImageIndex),
    VX_ENUM(TIFF_PhotometInterpret, kTiffPhotometric),
    VX_FIELD(TIFF_PlanarConf),
    VX_FIELD(TIFF_XPos),
    VX_FIELD(TIFF_YPos),
    VX_FIELD(TIFF_DocumentName),
    VX_FIELD(TIFF_ImageDescription),
    VX_FIELD(TIFF_PageName),
    VX_FIELD(TIFF_PageNumber),
    VX_FIELD(TIFF_PageCount),
    VX_FIELD(GIF_Version),
    VX_FIELD(GIF_ImageIndex),
    VX_FIELD(GIF_XPos),
    VX_FIELD(GIF_YPos),
    VX_FIELD(GIF_DelayTime),
    VX_FIELD(GIF_FlagTranspColor),
    VX_FIELD(GIF_TranspColor),
    VX_FIELD(GIF_Interlaced),
    VX_FIELD(GIF_WinWidth),
    VX_FIELD(GIF_WinHeight),
    VX_FIELD(GIF_Background),
    VX_FIELD(GIF_Ratio),
    VX_ENUM(JPEG_ColorSpace, kJpegColorSpace),
    VX_FIELD(JPEG_Quality),
    VX_ENUM(JPEG_DCTMethod, kJpegDct),
    VX_FIELD(JPEG_OptimalHuffman),
    VX_FIELD(JPEG_Smooth),
    VX_FIELD(JPEG_Progressive),
    VX_ENUM(JPEG_Scale, kJpegScale, kV1V3),
    VX_FIELD(PCX_Version),
    VX_ENUM(PCX_Compression, kPcxCompression),
    VX_ENUM(BMP_Version, kBmpVersion),
    VX_ENUM(BMP_Compression, kBmpCompression),
    VX_FIELD(ICO_ImageIndex, kAll, prZeroInV0),
    VX_FIELD(ICO_Background, kV3),
    VX_FIELD(CUR_ImageIndex, kAll, prZeroInV0),
    VX_FIELD(CUR_XHotSpot, kAll, prZeroInV0),
    VX_FIELD(CUR_YHotSpot, kAll, prZeroInV0),
    VX_FIELD(CUR_Background, kV3),
    VX_FIELD(PNG_Interlaced),
    VX_FIELD(PNG_Background),
    VX_ENUM(PNG_Filter, kPngFilter),
    VX_FIELD(PNG_Compression),
    VX_FIELD(TGA_XPos, kV3),
    VX_FIELD(TGA_YPos, kV3),
    VX_FIELD(TGA_Compressed, kV3),
    VX_FIELD(TGA_ImageName, kV3),
    VX_FIELD(TGA_Author, kV3),
    VX_FIELD(TGA_Date, kV3),
    VX_FIELD(TGA_Descriptor, kV3),
    VX_FIELD(TGA_Background, kV3),
    VX_FIELD(TGA_AspectRatio, kV3),
    VX_FIELD(TGA_Gamma, kV3),
    VX_FIELD(TGA_GrayLevel, kV3),
};

#undef VX_FIELD
#undef VX_ENUM

template <typename T>
T& Ref(TIOParamsVals& p, const TVXParamField& f) {
  return *static_cast<T*>(f.Address(p));
}
template <typename T>
const T& Ref(const TIOParamsVals& p, const TVXParamField& f) {
  return *static_cast<const T*>(f.Address(const_cast<TIOParamsVals&>(p)));
}

// The palette's entries as its count gives them, never past the vector.
std::span<const TRGB> PaletteOf(const TIOParamsVals& p) {
  size_t n = p.ColorMapCount > 0 ? static_cast<size_t>(p.ColorMapCount) : 0;
  return {p.ColorMap.data(), std::min(n, p.ColorMap.size())};
}

bool ParseInt(std::string_view s, int32_t& out) {
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

bool ParseDouble(std::string_view s, double& out) {
  if (s.size() > 1 && s[0] == '+' && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

bool ParseColour(std::string_view s, TRGB& out) {
  int32_t c[3];
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    size_t comma = i < 2 ? s.find(',', start) : s.size();
    if (comma == std::string_view::npos || !ParseInt(s.substr(start, comma - start), c[i]) || c[i] < 0 || c[i] > 255)
      return false;
    start = comma + 1;
  }
  out = CreateRGB(static_cast<uint8_t>(c[0]), static_cast<uint8_t>(c[1]), static_cast<uint8_t>(c[2]));
  return true;
}

std::string ColourText(TRGB c) {
  return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

}  // namespace

std::span<const TVXParamField> VXParamFields() { return kFields; }

const TVXParamField* VXFindParamField(std::string_view name) {
  for (const TVXParamField& f : kFields)
    if (name == f.Name) return &f;
  return nullptr;
}

std::string VXParamGetText(const TIOParamsVals& p, const TVXParamField& f) {
  switch (f.Kind) {
    case pkInt: return std::to_string(Ref<int32_t>(p, f));
    case pkBool: return Ref<bool>(p, f) ? "true" : "false";
    case pkDouble: {
      char buf[32];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, Ref<double>(p, f));
      return ec == std::errc() ? std::string(buf, end) : std::string();
    }
    case pkString: return Ref<std::string>(p, f);
    case pkEnum: {
      const uint8_t v = Ref<uint8_t>(p, f);
      return v < f.Members.size() ? f.Members[v] : std::to_string(v);
    }
    case pkColour: return ColourText(Ref<TRGB>(p, f));
    case pkPalette: {
      std::string s;
      for (TRGB c : PaletteOf(p)) {
        if (!s.empty()) s += ';';
        s += ColourText(c);
      }
      return s;
    }
  }
  return "";
}

std::string VXParamSetText(TIOParamsVals& p, const TVXParamField& f, std::string_view text) {
  switch (f.Kind) {
    case pkInt: {
      int32_t v;
      if (!ParseInt(text, v)) return "expected an integer";
      Ref<int32_t>(p, f) = v;
      return "";
    }
    case pkBool:
      if (text != "true" && text != "false") return "expected true or false";
      Ref<bool>(p, f) = text == "true";
      return "";
    case pkDouble: {
      double v;
      if (!ParseDouble(text, v)) return "expected a number";
      Ref<double>(p, f) = v;
      return "";
    }
    case pkString: Ref<std::string>(p, f).assign(text); return "";
    case pkEnum: {
      for (size_t i = 0; i < f.Members.size(); ++i)
        if (text == f.Members[i]) {
          Ref<uint8_t>(p, f) = static_cast<uint8_t>(i);
          return "";
        }
      std::string msg = "expected one of";
      for (const char* m : f.Members) msg += std::string(" ") + m;
      return msg;
    }
    case pkColour: {
      TRGB c;
      if (!ParseColour(text, c)) return "expected R,G,B with each 0-255";
      Ref<TRGB>(p, f) = c;
      return "";
    }
    case pkPalette: {
      std::vector<TRGB> entries;
      for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find(';', start), text.size());
        if (!ParseColour(text.substr(start, end - start), entries.emplace_back()))
          return "expected R,G,B;R,G,B;... with each 0-255";
        start = end + 1;
      }
      p.SetColorMap(entries.data(), static_cast<int>(entries.size()));
      return "";
    }
  }
  return "";
}

void VXParamCopy(TIOParamsVals& to, const TIOParamsVals& from, const TVXParamField& f) {
  switch (f.Kind) {
    case pkInt: Ref<int32_t>(to, f) = Ref<int32_t>(from, f); break;
    case pkBool: Ref<bool>(to, f) = Ref<bool>(from, f); break;
    case pkDouble: Ref<double>(to, f) = Ref<double>(from, f); break;
    case pkString: Ref<std::string>(to, f) = Ref<std::string>(from, f); break;
    case pkEnum: Ref<uint8_t>(to, f) = Ref<uint8_t>(from, f); break;
    case pkColour: Ref<TRGB>(to, f) = Ref<TRGB>(from, f); break;
    case pkPalette:
      to.ColorMap = from.ColorMap;
      to.ColorMapCount = from.ColorMapCount;
      break;
  }
}

void VXParamWrite(TStream& s, const TIOParamsVals& p, const TVXParamField& f) {
  switch (f.Kind) {
    case pkInt: s.WriteI32(Ref<int32_t>(p, f)); break;
    case pkBool: s.WriteU8(Ref<bool>(p, f)); break;
    case pkDouble: s.WriteDouble(Ref<double>(p, f)); break;
    case pkString: SaveStringToStream(s, Ref<std::string>(p, f)); break;
    case pkEnum: s.WriteU8(Ref<uint8_t>(p, f)); break;
    case pkColour: s.WriteBuffer(&Ref<TRGB>(p, f), 3); break;
    case pkPalette: {
      std::span<const TRGB> entries = PaletteOf(p);
      s.WriteI32(static_cast<int32_t>(entries.size()));
      if (!entries.empty()) s.WriteBuffer(entries.data(), int64_t(entries.size()) * 3);
      break;
    }
  }
}

void VXParamRead(TStream& s, TIOParamsVals& p, const TVXParamField& f, int version) {
  switch (f.Kind) {
    case pkInt:
      if (f.FileRule == prByteBeforeV2 && version < 2) {
        Ref<int32_t>(p, f) = s.ReadU8();
      } else if (f.FileRule == prZeroInV0 && version == 0) {
        s.ReadI32();
        Ref<int32_t>(p, f) = 0;
      } else {
        Ref<int32_t>(p, f) = s.ReadI32();
      }
      break;
    case pkBool: Ref<bool>(p, f) = s.ReadU8() != 0; break;
    case pkDouble: Ref<double>(p, f) = s.ReadDouble(); break;
    case pkString: LoadStringFromStream(s, Ref<std::string>(p, f)); break;
    case pkEnum: {
      // An out-of-range member would be unrepresentable later on; clamp to the last one.
      const uint8_t v = s.ReadU8();
      Ref<uint8_t>(p, f) = std::min<uint8_t>(v, static_cast<uint8_t>(f.Members.size() - 1));
      break;
    }
    case pkColour: s.ReadBuffer(&Ref<TRGB>(p, f), 3); break;
    case pkPalette: {
      const int32_t count = s.ReadI32();
      if (count < 0 || int64_t(count) * 3 > s.Remaining())
        throw EReadError("Palette of " + std::to_string(count) + " entries exceeds the stream");
      p.FreeColorMap();
      if (count > 0) {
        p.ColorMap.resize(static_cast<size_t>(count));
        s.ReadBuffer(p.ColorMap.data(), int64_t(count) * 3);
        p.ColorMapCount = count;
      }
      break;
    }
  }
}

}  // namespace vexa
