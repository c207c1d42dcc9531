// The per-image parameter record of the I/O component, the scanner parameters,
// the file-type numbers and the LZW hook variables.
//
// A codec's read function fills the common fields (size, samples, resolution,
// palette) and its own group; its write function takes its choices from its
// group. The record saves to and loads from a small binary file (version 3; reads
// 0 to 3). Every stored count is checked against the bytes the stream still
// holds, so a corrupt file raises EReadError instead of allocating. The field
// table (io/paramfields.h) lists the fields by name and kind; defaults, copies and
// the file format run over it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/containers.h"
#include "vexa/core/streams.h"

namespace vexa {

// File types (values above ioTGA are free for formats registered at run time).
constexpr int ioUnknown = 0, ioTIFF = 1, ioGIF = 2, ioJPEG = 3, ioPCX = 4, ioBMP = 5, ioICO = 6, ioCUR = 7,
              ioPNG = 8, ioWMF = 9, ioEMF = 10, ioTGA = 11;

enum TIOTIFFCompression : uint8_t {
  ioTIFF_UNCOMPRESSED, ioTIFF_CCITT1D, ioTIFF_G3FAX1D, ioTIFF_G3FAX2D, ioTIFF_G4FAX, ioTIFF_LZW,
  ioTIFF_OLDJPEG, ioTIFF_JPEG, ioTIFF_PACKBITS
};
enum TIOTIFFPhotometInterpret : uint8_t {
  ioTIFF_WHITEISZERO, ioTIFF_BLACKISZERO, ioTIFF_RGB, ioTIFF_RGBPALETTE, ioTIFF_TRANSPMASK, ioTIFF_CMYK,
  ioTIFF_YCBCR, ioTIFF_CIELAB
};
enum TIOJPEGColorspace : uint8_t { ioJPEG_RGB, ioJPEG_GRAYLEV, ioJPEG_YCbCr, ioJPEG_CMYK, ioJPEG_YCbCrK };
enum TIOJPEGDctMethod : uint8_t { ioJPEG_ISLOW, ioJPEG_IFAST, ioJPEG_FLOAT };
enum TIOJPEGScale : uint8_t { ioJPEG_AUTOCALC, ioJPEG_FULLSIZE, ioJPEG_HALF, ioJPEG_QUARTER, ioJPEG_EIGHTH };
enum TIOBMPVersion : uint8_t { ioBMP_BM, ioBMP_BM3, ioBMP_BMOS2V1, ioBMP_BMOS2V2 };
enum TIOBMPCompression : uint8_t { ioBMP_UNCOMPRESSED, ioBMP_RLE };
enum TIOPCXCompression : uint8_t { ioPCX_UNCOMPRESSED, ioPCX_RLE };
enum TIOPNGFilter : uint8_t { ioPNG_FILTER_NONE, ioPNG_FILTER_SUB, ioPNG_FILTER_PAETH };

// LZW hooks. The GIF hooks read/write the whole image data block (code size byte,
// sub-blocks, terminator); the TIFF hooks work one row at a time and keep their
// tables in `state` (null before the first row; a final call with a null pointer
// and length 0 releases it). The TIFF decoder is also given the number of
// compressed bytes available, so it never reads past the strip.
using GifLzwDecodeProc = void (*)(TStream& stream, int32_t height, int32_t width, bool interlaced, uint8_t* dest);
using GifLzwEncodeProc = void (*)(TStream& stream, int32_t height, int32_t width, bool interlaced,
                                  const uint8_t* source, int32_t bitsPerPixel);
using TiffLzwDecodeProc = uint8_t* (*)(const uint8_t* data, int32_t rowLen, void*& state, int32_t dataLen);
using TiffLzwEncodeProc = void (*)(const uint8_t* row, int32_t rowLen, TStream& stream, void*& state);

/// Null at start; an application (or VXInstallLZWCoders) assigns them.
extern GifLzwDecodeProc DefGIF_LZWDECOMPFUNC;
extern GifLzwEncodeProc DefGIF_LZWCOMPFUNC;
extern TiffLzwDecodeProc DefTIFF_LZWDECOMPFUNC;
extern TiffLzwEncodeProc DefTIFF_LZWCOMPFUNC;

/// What a parameter record reads from its owner when it takes its defaults.
class TIOParamsOwner {
 public:
  virtual ~TIOParamsOwner() = default;
  /// The bitmap that is read and written, or null.
  virtual TBitmap* ParamsBitmap() = 0;
  /// The attached view's resolution; false when no view is attached.
  virtual bool ParamsViewDpi(int& dpiX, int& dpiY) = 0;
};

class TIOParamsVals : public TObject {
 public:
  explicit TIOParamsVals(TIOParamsOwner* owner = nullptr);
  TIOParamsVals(const TIOParamsVals& other);
  TIOParamsVals& operator=(const TIOParamsVals& other);

  void SetDefaultParams();
  void Assign(const TIOParamsVals& source);
  void SaveToStream(TStream& stream) const;
  void LoadFromStream(TStream& stream);
  void SaveToFile(const std::string& name) const;
  void LoadFromFile(const std::string& name);
  /// Registered full name, " (EXT)" and a format detail, e.g. "TIFF Bitmap (TIF) LZW".
  /// Defined beside the built-in format table (io/formattable.cpp), which knows the details.
  std::string GetFileTypeStr() const;
  std::string FileTypeStr() const { return GetFileTypeStr(); }

  /// Replaces the palette (ColorMap / ColorMapCount).
  void SetColorMap(const TRGB* entries, int count);
  void FreeColorMap() {
    ColorMap.clear();
    ColorMapCount = 0;
  }

  TIOParamsOwner* Owner = nullptr;
  // The initializers are the defaults SetDefaultParams restores (Width, Height,
  // DpiX and DpiY come from the owner, TGA_Date is today).
  int32_t BitsPerSample = 8;
  int32_t SamplesPerPixel = 3;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t DpiX = 96;
  int32_t DpiY = 96;
  int32_t FileType = 0;
  TIOTIFFCompression TIFF_Compression = ioTIFF_UNCOMPRESSED;
  int32_t TIFF_ImageIndex = 0;
  TIOTIFFPhotometInterpret TIFF_PhotometInterpret = ioTIFF_RGB;
  int32_t TIFF_PlanarConf = 1;
  int32_t TIFF_XPos = 0;
  int32_t TIFF_YPos = 0;
  std::string TIFF_DocumentName;
  std::string TIFF_ImageDescription;
  std::string TIFF_PageName;
  int32_t TIFF_PageNumber = 0;
  int32_t TIFF_PageCount = 0;
  TiffLzwDecodeProc TIFF_LZWDecompFunc = nullptr;
  TiffLzwEncodeProc TIFF_LZWCompFunc = nullptr;
  std::string GIF_Version = "GIF89a";
  int32_t GIF_ImageIndex = 0;
  int32_t GIF_XPos = 0;
  int32_t GIF_YPos = 0;
  int32_t GIF_DelayTime = 0;
  bool GIF_FlagTranspColor = false;
  TRGB GIF_TranspColor{};
  bool GIF_Interlaced = false;
  int32_t GIF_WinWidth = 0;
  int32_t GIF_WinHeight = 0;
  TRGB GIF_Background{};
  int32_t GIF_Ratio = 0;
  GifLzwDecodeProc GIF_LZWDecompFunc = nullptr;
  GifLzwEncodeProc GIF_LZWCompFunc = nullptr;
  TIOJPEGColorspace JPEG_ColorSpace = ioJPEG_YCbCr;
  int32_t JPEG_Quality = 50;
  TIOJPEGDctMethod JPEG_DCTMethod = ioJPEG_ISLOW;
  bool JPEG_OptimalHuffman = false;
  int32_t JPEG_Smooth = 0;
  bool JPEG_Progressive = false;
  TIOJPEGScale JPEG_Scale = ioJPEG_FULLSIZE;
  int32_t PCX_Version = 5;
  TIOPCXCompression PCX_Compression = ioPCX_RLE;
  TIOBMPVersion BMP_Version = ioBMP_BM3;
  TIOBMPCompression BMP_Compression = ioBMP_UNCOMPRESSED;
  int32_t ICO_ImageIndex = 0;
  TRGB ICO_Background{255, 255, 255};
  int32_t CUR_ImageIndex = 0;
  int32_t CUR_XHotSpot = 0;
  int32_t CUR_YHotSpot = 0;
  TRGB CUR_Background{255, 255, 255};
  bool PNG_Interlaced = false;
  TRGB PNG_Background{};
  TIOPNGFilter PNG_Filter = ioPNG_FILTER_NONE;
  int32_t PNG_Compression = 5;
  int32_t TGA_XPos = 0;
  int32_t TGA_YPos = 0;
  bool TGA_Compressed = true;
  std::string TGA_ImageName;
  std::string TGA_Author;
  /// Days since 1899-12-30 (the platform's date-time), fractional part = time of day.
  double TGA_Date = 0;
  std::string TGA_Descriptor;
  TRGB TGA_Background{};
  double TGA_AspectRatio = 1.0;
  double TGA_Gamma = 2.2;
  bool TGA_GrayLevel = false;
  std::string FileName;
  /// Palette of the last palette image read (owned).
  std::vector<TRGB> ColorMap;
  int32_t ColorMapCount = 0;

 private:
  // A record holding the initializers alone: the source of SetDefaultParams.
  struct TPristine {};
  explicit TIOParamsVals(TPristine) {}
};

/// Today's date as the platform's date-time (whole days since 1899-12-30).
double VXToday();

/// One Twain source identity as the data source manager returns it (156 bytes).
struct TVXTWSourceIdentity {
  uint8_t Bytes[156] = {};
  /// The zero-terminated product name at byte 122 (34 bytes).
  std::string ProductName() const;
};

/// Capabilities of the selected scanner source.
struct TVXTWSourceCaps {
  TVXDoubleList XResolution, YResolution, XScaling, YScaling;
  TVXIntegerList PixelType;
  double Gamma = 2.2;
  double PhysicalHeight = 0, PhysicalWidth = 0;
  bool FeederEnabled = false;
  TVXIntegerList Orientation;
  bool Indicators = true;
  double AcquireFrame[4] = {0, 0, 0, 0};
  bool BufferedTransfer = true;
  void Clear();
  void Assign(const TVXTWSourceCaps& s);
};

class TVXTWainParams : public TObject {
 public:
  explicit TVXTWainParams(TObject* owner = nullptr);
  void SetDefaultParams();
  void Assign(const TVXTWainParams& source);

  int SourceCount();
  /// Empty for an index past the end.
  std::string SourceName(int i);
  /// Case-insensitive prefix match on the product names; selects the first match.
  bool SelectSourceByName(const std::string& name);
  int SelectedSource() const { return FSelectedSource; }
  /// A new index clears the capabilities and refills them from the source.
  void SetSelectedSource(int i);
  /// The capabilities, filled from the source on first use.
  TVXTWSourceCaps& Capabilities();
  /// Writes the capabilities back to the source and marks them filled.
  void Update();

  const std::string& AppVersionInfo() const { return FAppVersionInfo; }
  const std::string& AppManufacturer() const { return FAppManufacturer; }
  const std::string& AppProductFamily() const { return FAppProductFamily; }
  const std::string& AppProductName() const { return FAppProductName; }
  /// Each keeps only its first 32 characters.
  void SetAppVersionInfo(const std::string& s) { FAppVersionInfo = s.substr(0, 32); }
  void SetAppManufacturer(const std::string& s) { FAppManufacturer = s.substr(0, 32); }
  void SetAppProductFamily(const std::string& s) { FAppProductFamily = s.substr(0, 32); }
  void SetAppProductName(const std::string& s) { FAppProductName = s.substr(0, 32); }

  bool VisibleDialog = true;
  TObject* Owner = nullptr;
  /// The source list; filled by the scanning layer (FillSourceListData), tests may fill it.
  std::vector<TVXTWSourceIdentity> Sources;
  bool SourceListFilled = false;
  bool CapabilitiesFilled = false;

  /// Hooks the scanning layer installs: fill the source list, read and write the
  /// capabilities of source `index`.
  static void (*FillSourceListHook)(TVXTWainParams& self);
  static void (*FillCapabilitiesHook)(TVXTWainParams& self, int index);
  static void (*WriteCapabilitiesHook)(TVXTWainParams& self, int index);

 private:
  void FillSourceList();
  int FSelectedSource = 0;
  TVXTWSourceCaps FCaps;
  std::string FAppVersionInfo, FAppManufacturer, FAppProductFamily, FAppProductName;
};

}  // namespace vexa
