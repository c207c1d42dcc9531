#include "vexa/io/ioparams.h"

#include <cctype>
#include <ctime>

#include "vexa/io/formats.h"

namespace vexa {

GifLzwDecodeProc DefGIF_LZWDECOMPFUNC = nullptr;
GifLzwEncodeProc DefGIF_LZWCOMPFUNC = nullptr;
TiffLzwDecodeProc DefTIFF_LZWDECOMPFUNC = nullptr;
TiffLzwEncodeProc DefTIFF_LZWCOMPFUNC = nullptr;

namespace {

constexpr int32_t kParamsVersion = 3;

void WriteRGB(TStream& s, TRGB c) { s.WriteBuffer(&c, 3); }
TRGB ReadRGB(TStream& s) {
  TRGB c;
  s.ReadBuffer(&c, 3);
  return c;
}
bool ReadBool(TStream& s) { return s.ReadU8() != 0; }

template <typename E>
E ReadEnum(TStream& s, E last) {
  uint8_t v = s.ReadU8();
  // An out-of-range member would be unrepresentable later on; clamp to the last one.
  return static_cast<E>(v > static_cast<uint8_t>(last) ? static_cast<uint8_t>(last) : v);
}

}  // namespace

double VXToday() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_hour = 12, local.tm_min = 0, local.tm_sec = 0;
  std::time_t noon = timegm(&local);
  // Days between 1899-12-30 and 1970-01-01.
  return static_cast<double>(noon / 86400) + 25569.0;
}

TIOParamsVals::TIOParamsVals(TIOParamsOwner* owner) : Owner(owner) { SetDefaultParams(); }

TIOParamsVals::TIOParamsVals(const TIOParamsVals& other) : TObject() { Assign(other); }

TIOParamsVals& TIOParamsVals::operator=(const TIOParamsVals& other) {
  Assign(other);
  return *this;
}

void TIOParamsVals::SetDefaultParams() {
  FreeColorMap();
  FileName.clear();
  BitsPerSample = 8;
  SamplesPerPixel = 3;
  if (Owner) {
    if (TBitmap* b = Owner->ParamsBitmap()) Width = b->Width(), Height = b->Height();
    int dx, dy;
    if (Owner->ParamsViewDpi(dx, dy)) DpiX = dx, DpiY = dy;
  }
  FileType = 0;
  TIFF_Compression = ioTIFF_UNCOMPRESSED;
  TIFF_ImageIndex = 0;
  TIFF_PhotometInterpret = ioTIFF_RGB;
  TIFF_PlanarConf = 1;
  TIFF_XPos = TIFF_YPos = 0;
  TIFF_DocumentName.clear();
  TIFF_ImageDescription.clear();
  TIFF_PageName.clear();
  TIFF_PageNumber = TIFF_PageCount = 0;
  TIFF_LZWDecompFunc = DefTIFF_LZWDECOMPFUNC;
  TIFF_LZWCompFunc = DefTIFF_LZWCOMPFUNC;
  GIF_Version = "GIF89a";
  GIF_ImageIndex = GIF_XPos = GIF_YPos = GIF_DelayTime = 0;
  GIF_FlagTranspColor = false;
  GIF_TranspColor = TRGB{};
  GIF_Interlaced = false;
  GIF_WinWidth = GIF_WinHeight = 0;
  GIF_Background = TRGB{};
  GIF_Ratio = 0;
  GIF_LZWDecompFunc = DefGIF_LZWDECOMPFUNC;
  GIF_LZWCompFunc = DefGIF_LZWCOMPFUNC;
  JPEG_ColorSpace = ioJPEG_YCbCr;
  JPEG_Quality = 50;
  JPEG_DCTMethod = ioJPEG_ISLOW;
  JPEG_OptimalHuffman = false;
  JPEG_Smooth = 0;
  JPEG_Progressive = false;
  JPEG_Scale = ioJPEG_FULLSIZE;
  PCX_Version = 5;
  PCX_Compression = ioPCX_RLE;
  BMP_Version = ioBMP_BM3;
  BMP_Compression = ioBMP_UNCOMPRESSED;
  ICO_ImageIndex = 0;
  ICO_Background = TRGB{255, 255, 255};
  CUR_ImageIndex = CUR_XHotSpot = CUR_YHotSpot = 0;
  CUR_Background = TRGB{255, 255, 255};
  PNG_Interlaced = false;
  PNG_Background = TRGB{};
  PNG_Filter = ioPNG_FILTER_NONE;
  PNG_Compression = 5;
  TGA_XPos = TGA_YPos = 0;
  TGA_Compressed = true;
  TGA_ImageName.clear();
  TGA_Author.clear();
  TGA_Date = VXToday();
  TGA_Descriptor.clear();
  TGA_Background = TRGB{};
  TGA_AspectRatio = 1.0;
  TGA_Gamma = 2.2;
  TGA_GrayLevel = false;
}

void TIOParamsVals::Assign(const TIOParamsVals& s) {
  if (&s == this) return;
  TIOParamsOwner* owner = Owner;
  // Every field is a value; the owner link stays ours.
  BitsPerSample = s.BitsPerSample, SamplesPerPixel = s.SamplesPerPixel, Width = s.Width, Height = s.Height;
  DpiX = s.DpiX, DpiY = s.DpiY, FileType = s.FileType;
  TIFF_Compression = s.TIFF_Compression, TIFF_ImageIndex = s.TIFF_ImageIndex;
  TIFF_PhotometInterpret = s.TIFF_PhotometInterpret, TIFF_PlanarConf = s.TIFF_PlanarConf;
  TIFF_XPos = s.TIFF_XPos, TIFF_YPos = s.TIFF_YPos, TIFF_DocumentName = s.TIFF_DocumentName;
  TIFF_ImageDescription = s.TIFF_ImageDescription, TIFF_PageName = s.TIFF_PageName;
  TIFF_PageNumber = s.TIFF_PageNumber, TIFF_PageCount = s.TIFF_PageCount;
  TIFF_LZWDecompFunc = s.TIFF_LZWDecompFunc, TIFF_LZWCompFunc = s.TIFF_LZWCompFunc;
  GIF_Version = s.GIF_Version, GIF_ImageIndex = s.GIF_ImageIndex, GIF_XPos = s.GIF_XPos, GIF_YPos = s.GIF_YPos;
  GIF_DelayTime = s.GIF_DelayTime, GIF_FlagTranspColor = s.GIF_FlagTranspColor, GIF_TranspColor = s.GIF_TranspColor;
  GIF_Interlaced = s.GIF_Interlaced, GIF_WinWidth = s.GIF_WinWidth, GIF_WinHeight = s.GIF_WinHeight;
  GIF_Background = s.GIF_Background, GIF_Ratio = s.GIF_Ratio;
  GIF_LZWDecompFunc = s.GIF_LZWDecompFunc, GIF_LZWCompFunc = s.GIF_LZWCompFunc;
  JPEG_ColorSpace = s.JPEG_ColorSpace, JPEG_Quality = s.JPEG_Quality, JPEG_DCTMethod = s.JPEG_DCTMethod;
  JPEG_OptimalHuffman = s.JPEG_OptimalHuffman, JPEG_Smooth = s.JPEG_Smooth, JPEG_Progressive = s.JPEG_Progressive;
  JPEG_Scale = s.JPEG_Scale;
  PCX_Version = s.PCX_Version, PCX_Compression = s.PCX_Compression;
  BMP_Version = s.BMP_Version, BMP_Compression = s.BMP_Compression;
  ICO_ImageIndex = s.ICO_ImageIndex, ICO_Background = s.ICO_Background;
  CUR_ImageIndex = s.CUR_ImageIndex, CUR_XHotSpot = s.CUR_XHotSpot, CUR_YHotSpot = s.CUR_YHotSpot;
  CUR_Background = s.CUR_Background;
  PNG_Interlaced = s.PNG_Interlaced, PNG_Background = s.PNG_Background, PNG_Filter = s.PNG_Filter;
  PNG_Compression = s.PNG_Compression;
  TGA_XPos = s.TGA_XPos, TGA_YPos = s.TGA_YPos, TGA_Compressed = s.TGA_Compressed, TGA_ImageName = s.TGA_ImageName;
  TGA_Author = s.TGA_Author, TGA_Date = s.TGA_Date, TGA_Descriptor = s.TGA_Descriptor;
  TGA_Background = s.TGA_Background, TGA_AspectRatio = s.TGA_AspectRatio, TGA_Gamma = s.TGA_Gamma;
  TGA_GrayLevel = s.TGA_GrayLevel;
  FileName = s.FileName;
  ColorMap = s.ColorMap;
  ColorMapCount = s.ColorMapCount;
  Owner = owner;
}

void TIOParamsVals::SetColorMap(const TRGB* entries, int count) {
  if (count <= 0 || !entries) {
    FreeColorMap();
    return;
  }
  ColorMap.assign(entries, entries + count);
  ColorMapCount = count;
}

void TIOParamsVals::SaveToStream(TStream& s) const {
  s.WriteI32(kParamsVersion);
  SaveStringToStream(s, FileName);
  s.WriteI32(FileType);
  for (int32_t v : {BitsPerSample, SamplesPerPixel, Width, Height, DpiX, DpiY}) s.WriteI32(v);
  s.WriteI32(ColorMapCount);
  if (ColorMapCount > 0) s.WriteBuffer(ColorMap.data(), int64_t(ColorMapCount) * 3);
  s.WriteU8(TIFF_Compression);
  s.WriteI32(TIFF_ImageIndex);
  s.WriteU8(TIFF_PhotometInterpret);
  s.WriteI32(TIFF_PlanarConf);
  s.WriteI32(TIFF_XPos);
  s.WriteI32(TIFF_YPos);
  SaveStringToStream(s, TIFF_DocumentName);
  SaveStringToStream(s, TIFF_ImageDescription);
  SaveStringToStream(s, TIFF_PageName);
  s.WriteI32(TIFF_PageNumber);
  s.WriteI32(TIFF_PageCount);
  SaveStringToStream(s, GIF_Version);
  s.WriteI32(GIF_ImageIndex);
  s.WriteI32(GIF_XPos);
  s.WriteI32(GIF_YPos);
  s.WriteI32(GIF_DelayTime);
  s.WriteU8(GIF_FlagTranspColor);
  WriteRGB(s, GIF_TranspColor);
  s.WriteU8(GIF_Interlaced);
  s.WriteI32(GIF_WinWidth);
  s.WriteI32(GIF_WinHeight);
  WriteRGB(s, GIF_Background);
  s.WriteI32(GIF_Ratio);
  s.WriteU8(JPEG_ColorSpace);
  s.WriteI32(JPEG_Quality);
  s.WriteU8(JPEG_DCTMethod);
  s.WriteU8(JPEG_OptimalHuffman);
  s.WriteI32(JPEG_Smooth);
  s.WriteU8(JPEG_Progressive);
  s.WriteU8(JPEG_Scale);
  s.WriteI32(PCX_Version);
  s.WriteU8(PCX_Compression);
  s.WriteU8(BMP_Version);
  s.WriteU8(BMP_Compression);
  s.WriteI32(ICO_ImageIndex);
  WriteRGB(s, ICO_Background);
  s.WriteI32(CUR_ImageIndex);
  s.WriteI32(CUR_XHotSpot);
  s.WriteI32(CUR_YHotSpot);
  WriteRGB(s, CUR_Background);
  s.WriteU8(PNG_Interlaced);
  WriteRGB(s, PNG_Background);
  s.WriteU8(PNG_Filter);
  s.WriteI32(PNG_Compression);
  s.WriteI32(TGA_XPos);
  s.WriteI32(TGA_YPos);
  s.WriteU8(TGA_Compressed);
  SaveStringToStream(s, TGA_ImageName);
  SaveStringToStream(s, TGA_Author);
  s.WriteDouble(TGA_Date);
  SaveStringToStream(s, TGA_Descriptor);
  WriteRGB(s, TGA_Background);
  s.WriteDouble(TGA_AspectRatio);
  s.WriteDouble(TGA_Gamma);
  s.WriteU8(TGA_GrayLevel);
}

void TIOParamsVals::LoadFromStream(TStream& s) {
  int32_t version = s.ReadI32();
  if (version > kParamsVersion) return;
  if (version < 0) throw EReadError("Invalid parameter file version " + std::to_string(version));
  // Read into a copy so that a truncated file leaves this object as it was.
  TIOParamsVals r(*this);
  LoadStringFromStream(s, r.FileName);
  r.FileType = version >= 2 ? s.ReadI32() : s.ReadU8();
  r.BitsPerSample = s.ReadI32();
  r.SamplesPerPixel = s.ReadI32();
  r.Width = s.ReadI32();
  r.Height = s.ReadI32();
  r.DpiX = s.ReadI32();
  r.DpiY = s.ReadI32();
  int32_t count = s.ReadI32();
  if (count < 0 || int64_t(count) * 3 > s.Remaining())
    throw EReadError("Palette of " + std::to_string(count) + " entries exceeds the stream");
  r.FreeColorMap();
  if (count > 0) {
    r.ColorMap.resize(static_cast<size_t>(count));
    s.ReadBuffer(r.ColorMap.data(), int64_t(count) * 3);
    r.ColorMapCount = count;
  }
  r.TIFF_Compression = ReadEnum(s, ioTIFF_PACKBITS);
  r.TIFF_ImageIndex = s.ReadI32();
  r.TIFF_PhotometInterpret = ReadEnum(s, ioTIFF_CIELAB);
  r.TIFF_PlanarConf = s.ReadI32();
  r.TIFF_XPos = s.ReadI32();
  r.TIFF_YPos = s.ReadI32();
  LoadStringFromStream(s, r.TIFF_DocumentName);
  LoadStringFromStream(s, r.TIFF_ImageDescription);
  LoadStringFromStream(s, r.TIFF_PageName);
  r.TIFF_PageNumber = s.ReadI32();
  r.TIFF_PageCount = s.ReadI32();
  LoadStringFromStream(s, r.GIF_Version);
  r.GIF_ImageIndex = s.ReadI32();
  r.GIF_XPos = s.ReadI32();
  r.GIF_YPos = s.ReadI32();
  r.GIF_DelayTime = s.ReadI32();
  r.GIF_FlagTranspColor = ReadBool(s);
  r.GIF_TranspColor = ReadRGB(s);
  r.GIF_Interlaced = ReadBool(s);
  r.GIF_WinWidth = s.ReadI32();
  r.GIF_WinHeight = s.ReadI32();
  r.GIF_Background = ReadRGB(s);
  r.GIF_Ratio = s.ReadI32();
  r.JPEG_ColorSpace = ReadEnum(s, ioJPEG_YCbCrK);
  r.JPEG_Quality = s.ReadI32();
  r.JPEG_DCTMethod = ReadEnum(s, ioJPEG_FLOAT);
  r.JPEG_OptimalHuffman = ReadBool(s);
  r.JPEG_Smooth = s.ReadI32();
  r.JPEG_Progressive = ReadBool(s);
  if (version == 1 || version == 3) r.JPEG_Scale = ReadEnum(s, ioJPEG_EIGHTH);
  r.PCX_Version = s.ReadI32();
  r.PCX_Compression = ReadEnum(s, ioPCX_RLE);
  r.BMP_Version = ReadEnum(s, ioBMP_BMOS2V2);
  r.BMP_Compression = ReadEnum(s, ioBMP_RLE);
  if (version == 0) {
    s.ReadI32();
    s.ReadI32();
    r.ICO_ImageIndex = 0;
    s.ReadI32();
    s.ReadI32();
    r.CUR_ImageIndex = r.CUR_XHotSpot = r.CUR_YHotSpot = 0;
  } else {
    r.ICO_ImageIndex = s.ReadI32();
    if (version >= 3) r.ICO_Background = ReadRGB(s);
    r.CUR_ImageIndex = s.ReadI32();
    r.CUR_XHotSpot = s.ReadI32();
    r.CUR_YHotSpot = s.ReadI32();
    if (version >= 3) r.CUR_Background = ReadRGB(s);
  }
  r.PNG_Interlaced = ReadBool(s);
  r.PNG_Background = ReadRGB(s);
  r.PNG_Filter = ReadEnum(s, ioPNG_FILTER_PAETH);
  r.PNG_Compression = s.ReadI32();
  if (version >= 3) {
    r.TGA_XPos = s.ReadI32();
    r.TGA_YPos = s.ReadI32();
    r.TGA_Compressed = ReadBool(s);
    LoadStringFromStream(s, r.TGA_ImageName);
    LoadStringFromStream(s, r.TGA_Author);
    r.TGA_Date = s.ReadDouble();
    LoadStringFromStream(s, r.TGA_Descriptor);
    r.TGA_Background = ReadRGB(s);
    r.TGA_AspectRatio = s.ReadDouble();
    r.TGA_Gamma = s.ReadDouble();
    r.TGA_GrayLevel = ReadBool(s);
  }
  Assign(r);
}

void TIOParamsVals::SaveToFile(const std::string& name) const {
  TFileStream f(name, fmCreate);
  SaveToStream(f);
}

void TIOParamsVals::LoadFromFile(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  LoadFromStream(f);
}

std::string TIOParamsVals::GetFileTypeStr() const {
  std::string s;
  if (const TVXFileFormatInfo* info = VXFileFormatGetInfo(FileType)) {
    std::string ext = VXFileFormatGetExt(FileType, 0);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    s = info->FullName + " (" + ext + ")";
  }
  switch (FileType) {
    case ioTIFF: {
      static const char* const names[] = {" Uncompressed", " Huffman", " Group 3 Fax", " Group 3 Fax 2D",
                                          " Group 4 Fax", " LZW", " Jpeg v.5", " Jpeg", " PackBits RLE"};
      if (TIFF_Compression <= ioTIFF_PACKBITS) s += names[TIFF_Compression];
      break;
    }
    case ioGIF:
      if (GIF_Interlaced) s += " Interlaced";
      break;
    case ioJPEG: {
      static const char* const names[] = {"", " Gray level", " YCbCr", " CMYK", " YCbCrK"};
      if (JPEG_ColorSpace <= ioJPEG_YCbCrK) s += names[JPEG_ColorSpace];
      break;
    }
    case ioPCX:
      if (PCX_Compression == ioPCX_UNCOMPRESSED) s += " Uncompressed";
      break;
    case ioBMP: {
      static const char* const names[] = {" ver.1", " ver.3", " OS/2 v.1", " OS/2 v.2"};
      if (BMP_Version <= ioBMP_BMOS2V2) s += names[BMP_Version];
      break;
    }
    case ioPNG:
      if (PNG_Interlaced) s += " Interlaced";
      break;
    case ioTGA: s += TGA_Compressed ? " Compressed" : " Uncompressed"; break;
    default: break;
  }
  return s;
}

std::string TVXTWSourceIdentity::ProductName() const {
  const char* p = reinterpret_cast<const char*>(Bytes + 122);
  size_t n = 0;
  while (n < 34 && p[n]) ++n;
  return std::string(p, n);
}

void TVXTWSourceCaps::Clear() {
  XResolution.Clear(), YResolution.Clear(), XScaling.Clear(), YScaling.Clear();
  PixelType.Clear(), Orientation.Clear();
  Gamma = 2.2;
  PhysicalHeight = PhysicalWidth = 0;
  FeederEnabled = false;
  Indicators = true;
  for (double& v : AcquireFrame) v = 0;
  BufferedTransfer = true;
}

void TVXTWSourceCaps::Assign(const TVXTWSourceCaps& s) {
  XResolution.Assign(s.XResolution), YResolution.Assign(s.YResolution);
  XScaling.Assign(s.XScaling), YScaling.Assign(s.YScaling);
  PixelType.Assign(s.PixelType), Orientation.Assign(s.Orientation);
  Gamma = s.Gamma, PhysicalHeight = s.PhysicalHeight, PhysicalWidth = s.PhysicalWidth;
  FeederEnabled = s.FeederEnabled, Indicators = s.Indicators, BufferedTransfer = s.BufferedTransfer;
  for (int i = 0; i < 4; ++i) AcquireFrame[i] = s.AcquireFrame[i];
}

void (*TVXTWainParams::FillSourceListHook)(TVXTWainParams&) = nullptr;
void (*TVXTWainParams::FillCapabilitiesHook)(TVXTWainParams&, int) = nullptr;
void (*TVXTWainParams::WriteCapabilitiesHook)(TVXTWainParams&, int) = nullptr;

TVXTWainParams::TVXTWainParams(TObject* owner) : Owner(owner) { SetDefaultParams(); }

void TVXTWainParams::SetDefaultParams() {
  VisibleDialog = true;
  Sources.clear();
  SourceListFilled = false;
  CapabilitiesFilled = false;
  FSelectedSource = 0;
  FCaps.Clear();
}

void TVXTWainParams::Assign(const TVXTWainParams& s) {
  if (&s == this) return;
  VisibleDialog = s.VisibleDialog;
  Sources = s.Sources;
  FSelectedSource = s.FSelectedSource;
  SourceListFilled = s.SourceListFilled;
  CapabilitiesFilled = s.CapabilitiesFilled;
  FCaps.Assign(s.FCaps);
  FAppVersionInfo = s.FAppVersionInfo, FAppManufacturer = s.FAppManufacturer;
  FAppProductFamily = s.FAppProductFamily, FAppProductName = s.FAppProductName;
}

void TVXTWainParams::FillSourceList() {
  if (SourceListFilled) return;
  if (FillSourceListHook) FillSourceListHook(*this);
  SourceListFilled = true;
}

int TVXTWainParams::SourceCount() {
  FillSourceList();
  return static_cast<int>(Sources.size());
}

std::string TVXTWainParams::SourceName(int i) {
  FillSourceList();
  if (i < 0 || i >= static_cast<int>(Sources.size())) return {};
  return Sources[static_cast<size_t>(i)].ProductName();
}

bool TVXTWainParams::SelectSourceByName(const std::string& name) {
  int n = SourceCount();
  for (int i = 0; i < n; ++i) {
    std::string p = SourceName(i).substr(0, name.size());
    bool same = p.size() == name.size();
    for (size_t k = 0; same && k < p.size(); ++k)
      same = std::tolower(static_cast<unsigned char>(p[k])) == std::tolower(static_cast<unsigned char>(name[k]));
    if (same) {
      if (i != FSelectedSource) SetSelectedSource(i);
      return true;
    }
  }
  return false;
}

void TVXTWainParams::SetSelectedSource(int i) {
  if (i == FSelectedSource) return;
  FSelectedSource = i;
  CapabilitiesFilled = false;
  Capabilities();
}

TVXTWSourceCaps& TVXTWainParams::Capabilities() {
  if (!CapabilitiesFilled) {
    // Marked first so that the hook may call back into Capabilities().
    CapabilitiesFilled = true;
    FCaps.Clear();
    if (FillCapabilitiesHook) FillCapabilitiesHook(*this, FSelectedSource);
  }
  return FCaps;
}

void TVXTWainParams::Update() {
  if (WriteCapabilitiesHook) WriteCapabilitiesHook(*this, FSelectedSource);
  CapabilitiesFilled = true;
}

}  // namespace vexa
