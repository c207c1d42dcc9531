#include "cli_support.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <functional>
#include <map>

namespace vexacli {

namespace {

bool gBarShown = false;

bool ParseInt(const std::string& s, int32_t& out) {
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

bool ParseDouble(const std::string& s, double& out) {
  try {
    size_t used = 0;
    out = std::stod(s, &used);
    return used == s.size();
  } catch (const std::exception&) {
    return false;
  }
}

using Setter = std::function<std::string(vexa::TIOParamsVals&, const std::string&)>;

Setter IntField(int32_t vexa::TIOParamsVals::*field) {
  return [field](vexa::TIOParamsVals& p, const std::string& v) -> std::string {
    return ParseInt(v, p.*field) ? "" : "expected an integer";
  };
}

Setter BoolField(bool vexa::TIOParamsVals::*field) {
  return [field](vexa::TIOParamsVals& p, const std::string& v) -> std::string {
    if (v == "true") p.*field = true;
    else if (v == "false") p.*field = false;
    else return "expected true or false";
    return "";
  };
}

Setter TextField(std::string vexa::TIOParamsVals::*field) {
  return [field](vexa::TIOParamsVals& p, const std::string& v) -> std::string {
    p.*field = v;
    return "";
  };
}

Setter DoubleField(double vexa::TIOParamsVals::*field) {
  return [field](vexa::TIOParamsVals& p, const std::string& v) -> std::string {
    return ParseDouble(v, p.*field) ? "" : "expected a number";
  };
}

Setter ColourField(vexa::TRGB vexa::TIOParamsVals::*field) {
  return [field](vexa::TIOParamsVals& p, const std::string& v) -> std::string {
    int32_t c[3];
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
      size_t comma = i < 2 ? v.find(',', start) : v.size();
      if (comma == std::string::npos || !ParseInt(v.substr(start, comma - start), c[i]) || c[i] < 0 || c[i] > 255)
        return "expected R,G,B with each 0-255";
      start = comma + 1;
    }
    p.*field = vexa::CreateRGB(static_cast<uint8_t>(c[0]), static_cast<uint8_t>(c[1]), static_cast<uint8_t>(c[2]));
    return "";
  };
}

template <typename E>
Setter EnumField(E vexa::TIOParamsVals::*field, std::vector<const char*> members) {
  return [field, members](vexa::TIOParamsVals& p, const std::string& v) -> std::string {
    for (size_t i = 0; i < members.size(); ++i)
      if (v == members[i]) {
        p.*field = static_cast<E>(i);
        return "";
      }
    std::string msg = "expected one of";
    for (const char* m : members) msg += std::string(" ") + m;
    return msg;
  };
}

const std::map<std::string, Setter>& Fields() {
  using P = vexa::TIOParamsVals;
  static const std::map<std::string, Setter> fields = {
      {"BitsPerSample", IntField(&P::BitsPerSample)},
      {"SamplesPerPixel", IntField(&P::SamplesPerPixel)},
      {"Width", IntField(&P::Width)},
      {"Height", IntField(&P::Height)},
      {"DpiX", IntField(&P::DpiX)},
      {"DpiY", IntField(&P::DpiY)},
      {"FileType", IntField(&P::FileType)},
      {"TIFF_Compression",
       EnumField(&P::TIFF_Compression,
                 {"ioTIFF_UNCOMPRESSED", "ioTIFF_CCITT1D", "ioTIFF_G3FAX1D", "ioTIFF_G3FAX2D", "ioTIFF_G4FAX",
                  "ioTIFF_LZW", "ioTIFF_OLDJPEG", "ioTIFF_JPEG", "ioTIFF_PACKBITS"})},
      {"TIFF_ImageIndex", IntField(&P::TIFF_ImageIndex)},
      {"TIFF_PhotometInterpret",
       EnumField(&P::TIFF_PhotometInterpret,
                 {"ioTIFF_WHITEISZERO", "ioTIFF_BLACKISZERO", "ioTIFF_RGB", "ioTIFF_RGBPALETTE", "ioTIFF_TRANSPMASK",
                  "ioTIFF_CMYK", "ioTIFF_YCBCR", "ioTIFF_CIELAB"})},
      {"TIFF_PlanarConf", IntField(&P::TIFF_PlanarConf)},
      {"TIFF_XPos", IntField(&P::TIFF_XPos)},
      {"TIFF_YPos", IntField(&P::TIFF_YPos)},
      {"TIFF_DocumentName", TextField(&P::TIFF_DocumentName)},
      {"TIFF_ImageDescription", TextField(&P::TIFF_ImageDescription)},
      {"TIFF_PageName", TextField(&P::TIFF_PageName)},
      {"TIFF_PageNumber", IntField(&P::TIFF_PageNumber)},
      {"TIFF_PageCount", IntField(&P::TIFF_PageCount)},
      {"GIF_Version", TextField(&P::GIF_Version)},
      {"GIF_ImageIndex", IntField(&P::GIF_ImageIndex)},
      {"GIF_XPos", IntField(&P::GIF_XPos)},
      {"GIF_YPos", IntField(&P::GIF_YPos)},
      {"GIF_DelayTime", IntField(&P::GIF_DelayTime)},
      {"GIF_FlagTranspColor", BoolField(&P::GIF_FlagTranspColor)},
      {"GIF_TranspColor", ColourField(&P::GIF_TranspColor)},
      {"GIF_Interlaced", BoolField(&P::GIF_Interlaced)},
      {"GIF_WinWidth", IntField(&P::GIF_WinWidth)},
      {"GIF_WinHeight", IntField(&P::GIF_WinHeight)},
      {"GIF_Background", ColourField(&P::GIF_Background)},
      {"GIF_Ratio", IntField(&P::GIF_Ratio)},
      {"JPEG_ColorSpace",
       EnumField(&P::JPEG_ColorSpace, {"ioJPEG_RGB", "ioJPEG_GRAYLEV", "ioJPEG_YCbCr", "ioJPEG_CMYK", "ioJPEG_YCbCrK"})},
      {"JPEG_Quality", IntField(&P::JPEG_Quality)},
      {"JPEG_DCTMethod", EnumField(&P::JPEG_DCTMethod, {"ioJPEG_ISLOW", "ioJPEG_IFAST", "ioJPEG_FLOAT"})},
      {"JPEG_OptimalHuffman", BoolField(&P::JPEG_OptimalHuffman)},
      {"JPEG_Smooth", IntField(&P::JPEG_Smooth)},
      {"JPEG_Progressive", BoolField(&P::JPEG_Progressive)},
      {"JPEG_Scale",
       EnumField(&P::JPEG_Scale,
                 {"ioJPEG_AUTOCALC", "ioJPEG_FULLSIZE", "ioJPEG_HALF", "ioJPEG_QUARTER", "ioJPEG_EIGHTH"})},
      {"PCX_Version", IntField(&P::PCX_Version)},
      {"PCX_Compression", EnumField(&P::PCX_Compression, {"ioPCX_UNCOMPRESSED", "ioPCX_RLE"})},
      {"BMP_Version", EnumField(&P::BMP_Version, {"ioBMP_BM", "ioBMP_BM3", "ioBMP_BMOS2V1", "ioBMP_BMOS2V2"})},
      {"BMP_Compression", EnumField(&P::BMP_Compression, {"ioBMP_UNCOMPRESSED", "ioBMP_RLE"})},
      {"ICO_ImageIndex", IntField(&P::ICO_ImageIndex)},
      {"ICO_Background", ColourField(&P::ICO_Background)},
      {"CUR_ImageIndex", IntField(&P::CUR_ImageIndex)},
      {"CUR_XHotSpot", IntField(&P::CUR_XHotSpot)},
      {"CUR_YHotSpot", IntField(&P::CUR_YHotSpot)},
      {"CUR_Background", ColourField(&P::CUR_Background)},
      {"PNG_Interlaced", BoolField(&P::PNG_Interlaced)},
      {"PNG_Background", ColourField(&P::PNG_Background)},
      {"PNG_Filter", EnumField(&P::PNG_Filter, {"ioPNG_FILTER_NONE", "ioPNG_FILTER_SUB", "ioPNG_FILTER_PAETH"})},
      {"PNG_Compression", IntField(&P::PNG_Compression)},
      {"TGA_XPos", IntField(&P::TGA_XPos)},
      {"TGA_YPos", IntField(&P::TGA_YPos)},
      {"TGA_Compressed", BoolField(&P::TGA_Compressed)},
      {"TGA_ImageName", TextField(&P::TGA_ImageName)},
      {"TGA_Author", TextField(&P::TGA_Author)},
      {"TGA_Date", DoubleField(&P::TGA_Date)},
      {"TGA_Descriptor", TextField(&P::TGA_Descriptor)},
      {"TGA_Background", ColourField(&P::TGA_Background)},
      {"TGA_AspectRatio", DoubleField(&P::TGA_AspectRatio)},
      {"TGA_Gamma", DoubleField(&P::TGA_Gamma)},
      {"TGA_GrayLevel", BoolField(&P::TGA_GrayLevel)},
      {"FileName", TextField(&P::FileName)},
  };
  return fields;
}

}  // namespace

vexa::TProgressEvent TerminalProgress(const std::string& label) {
  if (!isatty(STDERR_FILENO)) return {};
  return [label](vexa::TObject*, int per) {
    per = per < 0 ? 0 : (per > 100 ? 100 : per);
    constexpr int kWidth = 30;
    int filled = per * kWidth / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label.c_str(), filled, "##############################",
                 kWidth - filled, "", per);
    std::fflush(stderr);
    gBarShown = true;
  };
}

void EndProgress() {
  if (gBarShown) std::fputc('\n', stderr);
  gBarShown = false;
}

std::string SetParamField(vexa::TIOParamsVals& params, const std::string& assignment) {
  size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) return "expected FIELD=VALUE, got '" + assignment + "'";
  std::string name = assignment.substr(0, eq), value = assignment.substr(eq + 1);
  auto it = Fields().find(name);
  if (it == Fields().end()) return "unknown parameter field '" + name + "'";
  std::string err = it->second(params, value);
  return err.empty() ? err : name + ": " + err;
}

std::vector<std::string> ParamFieldNames() {
  std::vector<std::string> names;
  for (const auto& [name, setter] : Fields()) names.push_back(name);
  return names;
}

}  // namespace vexacli
