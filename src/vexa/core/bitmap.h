// The bitmap and pixel model shared by every part of the library.
//
// A TBitmap is one contiguous block of Height rows stored bottom-up, each row
// _BitmapRowLen(Width, bits) bytes (4-byte aligned):
//
//     lowest address  -> row Height-1  (bottom of the picture)
//                        ...
//     highest address -> row 0         (top of the picture)
//
// ScanLine(row) addresses rows top-down, row 0 being the top. The library produces
// pf24bit (blue, green, red per pixel, one TRGB) and pf1bit (8 pixels per byte,
// leftmost pixel in the most significant bit, 1 = white, 0 = black). The other
// TPixelFormat members are storable so that conversion before saving can happen:
//
//     pf4bit, pf8bit   palette indices (palette of 16 / 256 TRGB)
//     pf15bit          x1r5g5b5, little-endian 16-bit words
//     pf16bit          r5g6b5, little-endian 16-bit words
//     pf32bit          blue, green, red, reserved
//     pfDevice/Custom  stored like pf32bit (what a true-colour screen bitmap holds)
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "vexa/core/failure.h"

namespace vexa {

class TObject {
 public:
  virtual ~TObject() = default;
};

enum TPixelFormat : uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

#pragma pack(push, 1)
/// One 24-bit pixel in memory order blue, green, red: exactly one pf24bit pixel.
struct TRGB {
  uint8_t b = 0, g = 0, r = 0;
  friend bool operator==(const TRGB&, const TRGB&) = default;
};
#pragma pack(pop)
static_assert(sizeof(TRGB) == 3);

/// Red in bits 0-7, green 8-15, blue 16-23; negative values name system colours.
using TColor = int32_t;

struct TPoint {
  int32_t X = 0, Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

/// Right and Bottom are exclusive, as on the platform this API mirrors.
struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

/// System colours: clSysBase | index, index being the classic system colour slot.
constexpr TColor clSysBase = static_cast<TColor>(0x80000000u);
constexpr TColor clScrollBar = clSysBase | 0, clBackground = clSysBase | 1, clActiveCaption = clSysBase | 2,
                 clInactiveCaption = clSysBase | 3, clMenu = clSysBase | 4, clWindow = clSysBase | 5,
                 clWindowFrame = clSysBase | 6, clMenuText = clSysBase | 7, clWindowText = clSysBase | 8,
                 clCaptionText = clSysBase | 9, clActiveBorder = clSysBase | 10, clInactiveBorder = clSysBase | 11,
                 clAppWorkSpace = clSysBase | 12, clHighlight = clSysBase | 13, clHighlightText = clSysBase | 14,
                 clBtnFace = clSysBase | 15, clBtnShadow = clSysBase | 16, clGrayText = clSysBase | 17,
                 clBtnText = clSysBase | 18, clInactiveCaptionText = clSysBase | 19, clBtnHighlight = clSysBase | 20,
                 cl3DDkShadow = clSysBase | 21, cl3DLight = clSysBase | 22, clInfoText = clSysBase | 23,
                 clInfoBk = clSysBase | 24;
constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF;

/// Resolves a system colour (negative value) through the system colour table; other
/// values are returned unchanged. Unknown system slots resolve to black.
TColor ColorToRGB(TColor color);
/// Replaces one entry of the system colour table (the UI layer fills it from the desktop theme).
void VXSetSystemColor(int index, TColor rgb);

/// Thrown when a bitmap would exceed the process-wide size limit.
class EVXBitmapTooLarge;

/// Process-wide limit on the pixel data of one bitmap, in bytes (default 1 GiB, 0 = none).
void VXSetMaxBitmapBytes(uint64_t bytes);
uint64_t VXGetMaxBitmapBytes();
/// The one size check every decoder makes before allocating pixels: true when a
/// width x height bitmap of bitsPerPixel fits the limit (no overflow, both sides >= 0).
bool VXCheckBitmapSize(int64_t width, int64_t height, int bitsPerPixel);
/// The pixel bytes of a width x height bitmap of bitsPerPixel (rows padded to four
/// bytes); UINT64_MAX when the sides are out of range.
uint64_t VXBitmapBytes(int64_t width, int64_t height, int bitsPerPixel);
/// True when the bitmaps and buffers an operation holds at once (byte counts, e.g. from
/// VXBitmapBytes) fit the bitmap size limit together.
bool VXCheckWorkBytes(std::initializer_list<uint64_t> parts);

/// Device-independent bitmap with the bottom-up row layout described above.
class TBitmap : public TObject {
 public:
  TBitmap() = default;
  TBitmap(int width, int height, TPixelFormat pf = pf24bit);
  TBitmap(const TBitmap& other);
  TBitmap& operator=(const TBitmap& other);
  TBitmap(TBitmap&&) noexcept;
  TBitmap& operator=(TBitmap&&) noexcept;
  ~TBitmap() override;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  TPixelFormat PixelFormat() const { return FPixelFormat; }
  bool Empty() const { return FWidth <= 0 || FHeight <= 0; }
  int BitsPerPixel() const;
  /// Bytes of one row (_BitmapRowLen of width and bits per pixel).
  int RowLen() const { return FRowLen; }

  /// Resizes keeping the top-left pixels that still fit; new pixels are zero (black,
  /// or palette entry 0). Throws EVXBitmapTooLarge beyond the size limit (the old
  /// content is then kept).
  void SetSize(int width, int height);
  void SetWidth(int width) { SetSize(width, FHeight); }
  void SetHeight(int height) { SetSize(FWidth, height); }
  /// Converts the pixels to the new format: palette formats map each colour to the
  /// nearest palette entry, pf1bit by luminance (>= 128 is white).
  void SetPixelFormat(TPixelFormat pf);
  /// Sets size and format at once without converting; the pixels are zero-filled.
  void Allocate(int width, int height, TPixelFormat pf);

  /// Row `row` (0 = top). Precondition: 0 <= row < Height.
  uint8_t* ScanLine(int row) { return FBits + static_cast<size_t>(FHeight - 1 - row) * FRowLen; }
  const uint8_t* ScanLine(int row) const { return FBits + static_cast<size_t>(FHeight - 1 - row) * FRowLen; }
  /// Start of the pixel block, i.e. row Height-1; null when empty.
  uint8_t* Bits() { return FBits; }
  const uint8_t* Bits() const { return FBits; }
  size_t ImageSize() const { return static_cast<size_t>(FRowLen) * static_cast<size_t>(FHeight > 0 ? FHeight : 0); }

  /// Palette of pf1bit (black, white), pf4bit (16 entries) and pf8bit (256 entries).
  const std::vector<TRGB>& Palette() const { return FPalette; }
  /// Replaces palette entries (extra entries are ignored; pf1bit keeps black and white).
  void SetPalette(const TRGB* entries, int count);

  /// Colour of one pixel in any format (slow; for tests and tools).
  TRGB GetPixel(int x, int y) const;
  /// Sets one pixel in any format (slow; for tests and tools).
  void SetPixel(int x, int y, TRGB c);
  /// Fills the whole bitmap with a colour (mapped as SetPixel would).
  void Fill(TRGB c);

  /// Set by whoever changes the pixels outside a view; image holders repaint on it.
  bool Modified = false;
  /// Called after Modified is set through Changed(); used by image holders.
  std::function<void(TBitmap&)> OnChange;
  void Changed() {
    Modified = true;
    if (OnChange) OnChange(*this);
  }

  void Assign(const TBitmap& src) { *this = src; }

 private:
  void Reset(int width, int height, TPixelFormat pf);
  uint8_t* FBits = nullptr;
  int FWidth = 0, FHeight = 0, FRowLen = 0;
  TPixelFormat FPixelFormat = pf24bit;
  std::vector<TRGB> FPalette;
  bool FMapped = false;  // FBits mapped from the kernel rather than allocated
};

/// Percentage callback (0-100). The sender is the owning component.
using TProgressEvent = std::function<void(TObject* sender, int per)>;

/// Passed by reference to every long operation. See the progress protocol in README.
struct TProgressRec {
  TProgressEvent OnProgress;
  TObject* Sender = nullptr;
  int32_t Done = 0;
  int32_t Passes = 0;
  double PerUnit = 0;
  bool* Aborting = nullptr;
  /// The owner's failure record (see core/failure.h), or null when the owner keeps none.
  TVXFailure* Failure = nullptr;

  /// Reports Trunc(units * PerUnit) when an event is assigned.
  void Report(double units) const {
    if (OnProgress) OnProgress(Sender, static_cast<int>(units * PerUnit));
  }
  bool Aborted() const { return Aborting && *Aborting; }
  void Abort() const {
    if (Aborting) *Aborting = true;
  }
  /// Abort with a reason: sets the flag and records why in the owner's failure record.
  void Fail(TVXFailureKind kind, std::string text) const {
    if (Failure) Failure->Set(kind, std::move(text));
    Abort();
  }
  /// Abort with a reason and the offending value ("bit depth" + 7 reads "bit depth 7").
  void Fail(TVXFailureKind kind, std::string text, int64_t value) const {
    if (Failure) Failure->Set(kind, std::move(text), value);
    Abort();
  }
};

/// Shared record for parameter-only reads; its flag means nothing after such a call.
extern TProgressRec nullpr;

// Pixel and colour helpers.
TRGB CreateRGB(uint8_t r, uint8_t g, uint8_t b);
TColor TRGB2TColor(TRGB c);
TColor RGB2TColor(int r, int g, int b);
TRGB TColor2TRGB(TColor c);
bool EqualRGB(TRGB a, TRGB b);
/// The masked bit of pixel x of a pf1bit row (non-zero = set).
inline int _GetPixelbw(const uint8_t* row, int x) { return row[x >> 3] & (0x80 >> (x & 7)); }
inline void _SetPixelbw(uint8_t* row, int x, int value) {
  if (value)
    row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  else
    row[x >> 3] &= static_cast<uint8_t>(~(0x80 >> (x & 7)));
}
/// dst becomes a copy of src (1 x 1 of src's format when src is empty).
void VXCopyBitmap(const TBitmap& src, TBitmap& dst);

// Pixel format and bit helpers.
constexpr int _BitmapRowLen(int width, int bitcount) {
  return static_cast<int>(((static_cast<int64_t>(width) * bitcount + 31) / 32) * 4);
}
int _Pixelformat2BitCount(TPixelFormat pf);
TPixelFormat _Bitcount2Pixelformat(int n);
/// 2^(bitspersample x samplesperpixel) in wrapping 32-bit arithmetic; 1 when spp <= 0.
int32_t _GetNumCol(int bitspersample, int samplesperpixel);
/// Bits needed for ncolors colours; -1 for 0.
int _NColToBitsPixel(int ncolors);
/// Length of the run of ones starting at the lowest set bit (0 for 0).
int _GetBitCount(uint32_t mask);
void ReverseBits(uint32_t& v);
void ReverseBitsB(uint8_t& v);
/// Mirror table of the 8 bits of each byte value.
extern const uint8_t kReverseByte[256];
int VXFloor(double x);

// Integer and float helpers.
/// Pixels per metre for a resolution in dots per inch, rounded; negative counts as 0
/// and results past a signed 32-bit field are clamped (file fields are that wide).
int32_t VXDpiToPixelsPerMetre(int32_t dpi);

inline int imax(int a, int b) { return a > b ? a : b; }
inline int imin(int a, int b) { return a < b ? a : b; }
inline int ilimit(int v, int lo, int hi) { return imin(imax(v, lo), hi); }
inline int blimit(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
inline double dmin(double a, double b) { return b >= a ? a : b; }
inline double dmax(double a, double b) { return b > a ? b : a; }
inline void iswap(int& a, int& b) { int t = a; a = b; b = t; }
inline void bswap(uint8_t& a, uint8_t& b) { uint8_t t = a; a = b; b = t; }
void OrdCor(int& x1, int& y1, int& x2, int& y2);

// Geometry helpers (integer coordinates, bounds inclusive).
bool _InRect(int x, int y, int x1, int y1, int x2, int y2);
bool _InRectO(int x, int y, int x1, int y1, int x2, int y2);
bool _RectXRect(int ax1, int ay1, int ax2, int ay2, int bx1, int by1, int bx2, int by2);
/// 1 = B crosses A's border, 2 = B inside A, 0 = otherwise.
int _RectPRect(int ax1, int ay1, int ax2, int ay2, int bx1, int by1, int bx2, int by2);
double _DistPoint2Point(int x1, int y1, int x2, int y2);
double _DistPoint2Line(int x, int y, int x1, int y1, int x2, int y2);
double _DistPoint2Seg(int x, int y, int x1, int y1, int x2, int y2);
/// Snaps (x, y) to the horizontal, vertical or 45-degree line through (x0, y0).
void _CastPolySelCC(int x0, int y0, int& x, int& y);

/// Size of a file in bytes, -1 when it cannot be opened.
int64_t _getfilesize(const char* name);

}  // namespace vexa
