#include "vexa/io/ioparams.h"

#include <cctype>
#include <ctime>

#include "vexa/core/errors.h"
#include "vexa/io/paramfields.h"

namespace vexa {

GifLzwDecodeProc DefGIF_LZWDECOMPFUNC = nullptr;
GifLzwEncodeProc DefGIF_LZWCOMPFUNC = nullptr;
TiffLzwDecodeProc DefTIFF_LZWDECOMPFUNC = nullptr;
TiffLzwEncodeProc DefTIFF_LZWCOMPFUNC = nullptr;

namespace {

constexpr int32_t kParamsVersion = 3;

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
  // The member initializers are the defaults: a record built without running this
  // function holds them.
  static const TIOParamsVals defaults{TPristine{}};
  const int32_t width = Width, height = Height, dpiX = DpiX, dpiY = DpiY;
  for (const TVXParamField& f : VXParamFields()) VXParamCopy(*this, defaults, f);
  // Without an owner the geometry and resolution keep their values.
  Width = width, Height = height, DpiX = dpiX, DpiY = dpiY;
  if (Owner) {
    if (TBitmap* b = Owner->ParamsBitmap()) Width = b->Width(), Height = b->Height();
    int dx, dy;
    if (Owner->ParamsViewDpi(dx, dy)) DpiX = dx, DpiY = dy;
  }
  TGA_Date = VXToday();
  TIFF_LZWDecompFunc = DefTIFF_LZWDECOMPFUNC;
  TIFF_LZWCompFunc = DefTIFF_LZWCOMPFUNC;
  GIF_LZWDecompFunc = DefGIF_LZWDECOMPFUNC;
  GIF_LZWCompFunc = DefGIF_LZWCOMPFUNC;
}

void TIOParamsVals::Assign(const TIOParamsVals& s) {
  if (&s == this) return;
  // The owner link stays ours.
  for (const TVXParamField& f : VXParamFields()) VXParamCopy(*this, s, f);
  TIFF_LZWDecompFunc = s.TIFF_LZWDecompFunc, TIFF_LZWCompFunc = s.TIFF_LZWCompFunc;
  GIF_LZWDecompFunc = s.GIF_LZWDecompFunc, GIF_LZWCompFunc = s.GIF_LZWCompFunc;
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
  for (const TVXParamField& f : VXParamFields()) VXParamWrite(s, *this, f);
}

void TIOParamsVals::LoadFromStream(TStream& s) {
  int32_t version = s.ReadI32();
  if (version > kParamsVersion) return;
  if (version < 0) throw EReadError("Invalid parameter file version " + std::to_string(version));
  // Read into a copy so that a truncated file leaves this object as it was.
  TIOParamsVals r(*this);
  for (const TVXParamField& f : VXParamFields())
    if (f.FileVersions & (1u << version)) VXParamRead(s, r, f, version);
  Assign(r);
}

void TIOParamsVals::SaveToFile(const std::string& name) const {
  TSafeFileStream f(name);
  SaveToStream(f);
  f.Commit();
}

void TIOParamsVals::LoadFromFile(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  LoadFromStream(f);
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
