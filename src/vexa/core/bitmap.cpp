#include "vexa/core/bitmap.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "vexa/core/errors.h"

namespace vexa {

namespace {

// Default colours of the classic desktop theme, by system colour slot.
TColor gSysColors[31] = {
    0xC8C8C8,  // scroll bar
    0x000000,  // desktop
    0xD1B499,  // active caption
    0xDBCDBF,  // inactive caption
    0xF0F0F0,  // menu
    0xFFFFFF,  // window
    0x646464,  // window frame
    0x000000,  // menu text
    0x000000,  // window text
    0x000000,  // caption text
    0xB4B4B4,  // active border
    0xFCF7F4,  // inactive border
    0xABABAB,  // application work space
    0xFF9933,  // highlight
    0xFFFFFF,  // highlight text
    0xF0F0F0,  // button face
    0xA0A0A0,  // button shadow
    0x6D6D6D,  // grey text
    0x000000,  // button text
    0x544E43,  // inactive caption text
    0xFFFFFF,  // button highlight
    0x696969,  // 3-D dark shadow
    0xE3E3E3,  // 3-D light
    0x000000,  // info text
    0xE1FFFF,  // info background
    0x000000,  // (unused slot)
    0xCC6600,  // hot light
    0xEAD1B9,  // gradient active caption
    0xF2E4D7,  // gradient inactive caption
    0xFF9933,  // menu highlight
    0xF0F0F0,  // menu bar
};

uint64_t gMaxBitmapBytes = uint64_t(1) << 30;

// Storage bits of a format: the palette formats and the packed ones as named;
// the device-dependent ones hold 32-bit pixels.
int StorageBits(TPixelFormat pf) {
  switch (pf) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    default: return 32;
  }
}

std::vector<TRGB> DefaultPalette(TPixelFormat pf) {
  switch (pf) {
    case pf1bit: return {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
    case pf4bit: {
      // The 16 colours of the standard VGA palette.
      static const uint32_t vga[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                       0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                       0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
      std::vector<TRGB> p(16);
      for (int i = 0; i < 16; ++i)
        p[i] = TRGB{uint8_t(vga[i]), uint8_t(vga[i] >> 8), uint8_t(vga[i] >> 16)};
      return p;
    }
    case pf8bit: {
      // A 6x6x6 colour cube followed by a grey ramp.
      std::vector<TRGB> p(256);
      int i = 0;
      for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
          for (int b = 0; b < 6; ++b) p[i++] = TRGB{uint8_t(b * 51), uint8_t(g * 51), uint8_t(r * 51)};
      for (int k = 0; i < 256; ++i, ++k) {
        uint8_t v = uint8_t(k * 255 / 39);
        p[i] = TRGB{v, v, v};
      }
      return p;
    }
    default: return {};
  }
}

int NearestIndex(const std::vector<TRGB>& pal, TRGB c) {
  int best = 0, bestD = std::numeric_limits<int>::max();
  for (size_t i = 0; i < pal.size(); ++i) {
    int dr = pal[i].r - c.r, dg = pal[i].g - c.g, db = pal[i].b - c.b;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestD) bestD = d, best = static_cast<int>(i);
  }
  return best;
}

TRGB ReadPixel(const uint8_t* row, int x, TPixelFormat pf, const std::vector<TRGB>& pal) {
  switch (pf) {
    case pf1bit: return _GetPixelbw(row, x) ? pal[1] : pal[0];
    case pf4bit: {
      int v = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
      return pal[static_cast<size_t>(v)];
    }
    case pf8bit: return pal[row[x]];
    case pf15bit: {
      unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
      auto ex = [](unsigned c) { return uint8_t((c << 3) | (c >> 2)); };
      return TRGB{ex(v & 31), ex((v >> 5) & 31), ex((v >> 10) & 31)};
    }
    case pf16bit: {
      unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
      unsigned b = v & 31, g = (v >> 5) & 63, r = (v >> 11) & 31;
      return TRGB{uint8_t((b << 3) | (b >> 2)), uint8_t((g << 2) | (g >> 4)), uint8_t((r << 3) | (r >> 2))};
    }
    case pf24bit: return TRGB{row[3 * x], row[3 * x + 1], row[3 * x + 2]};
    default: return TRGB{row[4 * x], row[4 * x + 1], row[4 * x + 2]};
  }
}

void WritePixel(uint8_t* row, int x, TPixelFormat pf, const std::vector<TRGB>& pal, TRGB c) {
  switch (pf) {
    case pf1bit: _SetPixelbw(row, x, (c.r * 30 + c.g * 59 + c.b * 11) / 100 >= 128); break;
    case pf4bit: {
      int v = NearestIndex(pal, c);
      uint8_t& byte = row[x >> 1];
      byte = (x & 1) ? uint8_t((byte & 0xF0) | v) : uint8_t((byte & 0x0F) | (v << 4));
      break;
    }
    case pf8bit: row[x] = static_cast<uint8_t>(NearestIndex(pal, c)); break;
    case pf15bit: {
      unsigned v = (c.b >> 3) | ((c.g >> 3) << 5) | ((c.r >> 3) << 10);
      row[2 * x] = uint8_t(v), row[2 * x + 1] = uint8_t(v >> 8);
      break;
    }
    case pf16bit: {
      unsigned v = (c.b >> 3) | ((c.g >> 2) << 5) | ((c.r >> 3) << 11);
      row[2 * x] = uint8_t(v), row[2 * x + 1] = uint8_t(v >> 8);
      break;
    }
    case pf24bit: row[3 * x] = c.b, row[3 * x + 1] = c.g, row[3 * x + 2] = c.r; break;
    default: row[4 * x] = c.b, row[4 * x + 1] = c.g, row[4 * x + 2] = c.r, row[4 * x + 3] = 0; break;
  }
}

}  // namespace

TProgressRec nullpr = [] {
  static bool sharedFlag = false;
  TProgressRec r;
  r.Aborting = &sharedFlag;
  return r;
}();

TColor ColorToRGB(TColor color) {
  if (color >= 0) return color;
  unsigned idx = static_cast<uint32_t>(color) & 0xFF;
  return idx < std::size(gSysColors) ? gSysColors[idx] : 0;
}

void VXSetSystemColor(int index, TColor rgb) {
  if (index >= 0 && index < static_cast<int>(std::size(gSysColors))) gSysColors[index] = rgb & 0xFFFFFF;
}

void VXSetMaxBitmapBytes(uint64_t bytes) { gMaxBitmapBytes = bytes; }
uint64_t VXGetMaxBitmapBytes() { return gMaxBitmapBytes; }

uint64_t VXBitmapBytes(int64_t width, int64_t height, int bitsPerPixel) {
  constexpr uint64_t kOut = std::numeric_limits<uint64_t>::max();
  if (width < 0 || height < 0 || bitsPerPixel <= 0 || bitsPerPixel > 64) return kOut;
  if (width > std::numeric_limits<int32_t>::max() / 64 || height > std::numeric_limits<int32_t>::max()) return kOut;
  uint64_t rowLen = ((static_cast<uint64_t>(width) * static_cast<uint64_t>(bitsPerPixel) + 31) / 32) * 4;
  if (rowLen > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return kOut;
  // Both factors are below 2^31, so the product fits.
  return rowLen * static_cast<uint64_t>(height);
}

bool VXCheckWorkBytes(std::initializer_list<uint64_t> parts) {
  constexpr uint64_t kOut = std::numeric_limits<uint64_t>::max();
  uint64_t total = 0;
  for (uint64_t p : parts) {
    if (p == kOut || p > kOut - total) return false;
    total += p;
  }
  return gMaxBitmapBytes == 0 || total <= gMaxBitmapBytes;
}

bool VXCheckBitmapSize(int64_t width, int64_t height, int bitsPerPixel) {
  return VXCheckWorkBytes({VXBitmapBytes(width, height, bitsPerPixel)});
}

namespace {

// Pixels of large bitmaps come straight from the kernel in 2 MiB pages: a page
// of a scan or a photo is then written through a few hundred faults instead of
// thousands (an A4 colour page at 300 dpi: 13 instead of 6,400). Below this size,
// and where the kernel gives no such pages, the allocator's memory as usual.
constexpr size_t kHugeBitmapBytes = size_t{8} << 20;
constexpr size_t kHugePage = size_t{2} << 20;

size_t MappedLength(size_t bytes) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return (bytes + page - 1) / page * page;
}

// Zero-filled pixels; `mapped` says how to give them back.
uint8_t* AllocatePixels(size_t bytes, bool& mapped) {
  mapped = false;
#ifdef MADV_HUGEPAGE
  if (bytes >= kHugeBitmapBytes) {
    const size_t length = MappedLength(bytes);
    void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw != MAP_FAILED) {
      // Aligned to the large page, the slack before and after returned.
      auto* base = static_cast<uint8_t*>(raw);
      auto* aligned = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(base) + kHugePage - 1) & ~(kHugePage - 1));
      if (aligned > base) munmap(base, static_cast<size_t>(aligned - base));
      const size_t tail = static_cast<size_t>(base + length + kHugePage - (aligned + length));
      if (tail) munmap(aligned + length, tail);
      madvise(aligned, length, MADV_HUGEPAGE);  // a hint: without it the pages are small
      mapped = true;
      return aligned;
    }
  }
#endif
  return static_cast<uint8_t*>(std::calloc(bytes, 1));
}

void FreePixels(uint8_t* bits, size_t bytes, bool mapped) {
  if (mapped)
    munmap(bits, MappedLength(bytes));
  else
    std::free(bits);
}

}  // namespace

TBitmap::TBitmap(int width, int height, TPixelFormat pf) { Allocate(width, height, pf); }

TBitmap::TBitmap(const TBitmap& other) : TObject() { *this = other; }

TBitmap& TBitmap::operator=(const TBitmap& other) {
  if (this == &other) return *this;
  Reset(other.FWidth, other.FHeight, other.FPixelFormat);
  FPalette = other.FPalette;
  if (other.ImageSize()) std::memcpy(FBits, other.FBits, other.ImageSize());
  Modified = other.Modified;
  return *this;
}

TBitmap::TBitmap(TBitmap&& o) noexcept { *this = std::move(o); }

TBitmap& TBitmap::operator=(TBitmap&& o) noexcept {
  if (this == &o) return *this;
  FreePixels(FBits, ImageSize(), FMapped);
  FBits = o.FBits, FWidth = o.FWidth, FHeight = o.FHeight, FRowLen = o.FRowLen, FMapped = o.FMapped;
  FPixelFormat = o.FPixelFormat, FPalette = std::move(o.FPalette), Modified = o.Modified;
  o.FBits = nullptr, o.FWidth = o.FHeight = o.FRowLen = 0, o.FMapped = false;
  return *this;
}

TBitmap::~TBitmap() { FreePixels(FBits, ImageSize(), FMapped); }

int TBitmap::BitsPerPixel() const { return StorageBits(FPixelFormat); }

void TBitmap::Reset(int width, int height, TPixelFormat pf) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  int bits = StorageBits(pf);
  if (!VXCheckBitmapSize(width, height, bits))
    throw EVXBitmapTooLarge("bitmap of " + std::to_string(width) + " x " + std::to_string(height) +
                            " pixels exceeds the size limit");
  size_t rowLen = static_cast<size_t>(_BitmapRowLen(width, bits));
  size_t total = rowLen * static_cast<size_t>(height);
  uint8_t* bits2 = nullptr;
  bool mapped = false;
  if (total) {
    bits2 = AllocatePixels(total, mapped);
    if (!bits2) throw std::bad_alloc();
  }
  FreePixels(FBits, ImageSize(), FMapped);
  FBits = bits2;
  FMapped = mapped;
  FWidth = width, FHeight = height, FRowLen = static_cast<int>(rowLen), FPixelFormat = pf;
  if (FPalette.size() != DefaultPalette(pf).size() || pf == pf1bit) FPalette = DefaultPalette(pf);
}

void TBitmap::Allocate(int width, int height, TPixelFormat pf) {
  if (pf != FPixelFormat) FPalette.clear();
  Reset(width, height, pf);
}

void TBitmap::SetSize(int width, int height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (width == FWidth && height == FHeight) return;
  if (!VXCheckBitmapSize(width, height, StorageBits(FPixelFormat)))
    throw EVXBitmapTooLarge("bitmap of " + std::to_string(width) + " x " + std::to_string(height) +
                            " pixels exceeds the size limit");
  TBitmap old(std::move(*this));
  FPalette = old.FPalette;
  Reset(width, height, old.FPixelFormat);
  FPalette = old.FPalette;
  Modified = old.Modified;
  int w = imin(width, old.FWidth), h = imin(height, old.FHeight);
  if (w <= 0 || h <= 0) return;
  size_t bytes = static_cast<size_t>(_BitmapRowLen(w, StorageBits(FPixelFormat)));
  int bits = StorageBits(FPixelFormat);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = old.ScanLine(y);
    uint8_t* d = ScanLine(y);
    if (bits >= 8) {
      std::memcpy(d, s, static_cast<size_t>(w) * (bits / 8));
    } else {
      // Copy whole bytes, then clear the bits past the kept width.
      std::memcpy(d, s, bytes);
      for (int x = w; x < static_cast<int>(bytes) * 8 / bits && x < width; ++x) {
        if (bits == 1)
          _SetPixelbw(d, x, 0);
        else
          d[x >> 1] &= (x & 1) ? 0xF0 : 0x0F;
      }
    }
  }
}

void TBitmap::SetPixelFormat(TPixelFormat pf) {
  if (pf == FPixelFormat) return;
  TBitmap out;
  out.Allocate(FWidth, FHeight, pf);
  for (int y = 0; y < FHeight; ++y) {
    const uint8_t* s = ScanLine(y);
    uint8_t* d = out.ScanLine(y);
    if (FPixelFormat == pf24bit && pf == pf32bit) {
      for (int x = 0; x < FWidth; ++x) d[4 * x] = s[3 * x], d[4 * x + 1] = s[3 * x + 1], d[4 * x + 2] = s[3 * x + 2];
    } else {
      for (int x = 0; x < FWidth; ++x) WritePixel(d, x, pf, out.FPalette, ReadPixel(s, x, FPixelFormat, FPalette));
    }
  }
  out.Modified = Modified;
  out.OnChange = std::move(OnChange);
  *this = std::move(out);
}

void TBitmap::SetPalette(const TRGB* entries, int count) {
  if (FPixelFormat == pf1bit) return;
  for (int i = 0; i < count && i < static_cast<int>(FPalette.size()); ++i) FPalette[static_cast<size_t>(i)] = entries[i];
}

TRGB TBitmap::GetPixel(int x, int y) const { return ReadPixel(ScanLine(y), x, FPixelFormat, FPalette); }

void TBitmap::SetPixel(int x, int y, TRGB c) { WritePixel(ScanLine(y), x, FPixelFormat, FPalette, c); }

void TBitmap::Fill(TRGB c) {
  if (Empty()) return;
  if (FPixelFormat == pf24bit) {
    uint8_t* row = ScanLine(0);
    for (int x = 0; x < FWidth; ++x) row[3 * x] = c.b, row[3 * x + 1] = c.g, row[3 * x + 2] = c.r;
    for (int y = 1; y < FHeight; ++y) std::memcpy(ScanLine(y), row, static_cast<size_t>(FRowLen));
    return;
  }
  for (int x = 0; x < FWidth; ++x) SetPixel(x, 0, c);
  for (int y = 1; y < FHeight; ++y) std::memcpy(ScanLine(y), ScanLine(0), static_cast<size_t>(FRowLen));
}

TRGB CreateRGB(uint8_t r, uint8_t g, uint8_t b) { return TRGB{b, g, r}; }
TColor TRGB2TColor(TRGB c) { return c.r | (c.g << 8) | (c.b << 16); }
TColor RGB2TColor(int r, int g, int b) { return r | (g << 8) | (b << 16); }
TRGB TColor2TRGB(TColor c) {
  c = ColorToRGB(c);
  return TRGB{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
}
bool EqualRGB(TRGB a, TRGB b) { return a == b; }

void VXCopyBitmap(const TBitmap& src, TBitmap& dst) {
  if (&src == &dst) return;
  if (src.Empty()) {
    dst.Allocate(1, 1, src.PixelFormat());
    return;
  }
  dst = src;
}

int _Pixelformat2BitCount(TPixelFormat pf) {
  switch (pf) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit: return 15;
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
    default: return 0;
  }
}

TPixelFormat _Bitcount2Pixelformat(int n) {
  switch (n) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 15: return pf15bit;
    case 16: return pf16bit;
    case 24: return pf24bit;
    case 32: return pf32bit;
    default: return pfCustom;
  }
}

int32_t _GetNumCol(int bitspersample, int samplesperpixel) {
  if (samplesperpixel <= 0) return 1;
  uint32_t n = 1;
  int64_t e = static_cast<int64_t>(bitspersample) * samplesperpixel;
  for (int64_t i = 0; i < e && n != 0; ++i) n *= 2;  // wraps to 0 from 2^32 on, as 32-bit arithmetic does
  return static_cast<int32_t>(n);
}

int _NColToBitsPixel(int ncolors) {
  if (ncolors <= 0) return -1;
  int high = 31 - __builtin_clz(static_cast<unsigned>(ncolors));
  return (ncolors & (ncolors - 1)) == 0 ? high : high + 1;
}

int _GetBitCount(uint32_t mask) {
  int i = 0;
  while (i < 31 && !(mask & (1u << i))) ++i;
  int n = 0;
  while (i + n < 32 && (mask & (1u << (i + n)))) ++n;
  return n;
}

const uint8_t kReverseByte[256] = {
#define R2(n) n, n + 2 * 64, n + 1 * 64, n + 3 * 64
#define R4(n) R2(n), R2(n + 2 * 16), R2(n + 1 * 16), R2(n + 3 * 16)
#define R6(n) R4(n), R4(n + 2 * 4), R4(n + 1 * 4), R4(n + 3 * 4)
    R6(0), R6(2), R6(1), R6(3)
#undef R6
#undef R4
#undef R2
};

void ReverseBits(uint32_t& v) {
  v = (static_cast<uint32_t>(kReverseByte[v & 0xFF]) << 24) | (static_cast<uint32_t>(kReverseByte[(v >> 8) & 0xFF]) << 16) |
      (static_cast<uint32_t>(kReverseByte[(v >> 16) & 0xFF]) << 8) | kReverseByte[v >> 24];
}

void ReverseBitsB(uint8_t& v) { v = kReverseByte[v]; }

int VXFloor(double x) {
  int t = static_cast<int>(x);
  return (x - t < 0) ? t - 1 : t;
}

void OrdCor(int& x1, int& y1, int& x2, int& y2) {
  if (x2 < x1) iswap(x1, x2);
  if (y2 < y1) iswap(y1, y2);
}

bool _InRect(int x, int y, int x1, int y1, int x2, int y2) { return x >= x1 && x <= x2 && y >= y1 && y <= y2; }

bool _InRectO(int x, int y, int x1, int y1, int x2, int y2) {
  OrdCor(x1, y1, x2, y2);
  return _InRect(x, y, x1, y1, x2, y2);
}

bool _RectXRect(int ax1, int ay1, int ax2, int ay2, int bx1, int by1, int bx2, int by2) {
  return !(imax(ax1, ax2) < bx1 || imin(ax1, ax2) > bx2 || imax(ay1, ay2) < by1 || imin(ay1, ay2) > by2);
}

int _RectPRect(int ax1, int ay1, int ax2, int ay2, int bx1, int by1, int bx2, int by2) {
  bool X1 = ax1 <= bx1 && bx1 <= ax2, X2 = ax1 <= bx2 && bx2 <= ax2;
  bool Y1 = ay1 <= by1 && by1 <= ay2, Y2 = ay1 <= by2 && by2 <= ay2;
  if ((X1 != X2 && (Y1 || Y2)) || ((X1 || X2) && Y1 != Y2) || (X1 != X2 && Y1 != Y2)) return 1;
  if (X1 && X2 && Y1 && Y2) return 2;
  return 0;
}

double _DistPoint2Point(int x1, int y1, int x2, int y2) {
  // The sum of squares is formed in 32-bit integers, wrapping like the original arithmetic.
  uint32_t dx = static_cast<uint32_t>(x2 - x1), dy = static_cast<uint32_t>(y2 - y1);
  int32_t s = static_cast<int32_t>(dx * dx + dy * dy);
  return std::sqrt(static_cast<double>(s));
}

double _DistPoint2Line(int x, int y, int x1, int y1, int x2, int y2) {
  double a = double(y1) - y2, b = double(x2) - x1, c = double(x1) * y2 - double(x2) * y1;
  double den = std::sqrt(a * a + b * b);
  if (den == 0) return _DistPoint2Point(x, y, x1, y1);
  return std::fabs(a * x + b * y + c) / den;
}

double _DistPoint2Seg(int x, int y, int x1, int y1, int x2, int y2) {
  if (x1 == x2 && y1 == y2) return _DistPoint2Point(x, y, x1, y1);
  double l2 = (double(x2) - x1) * (double(x2) - x1) + (double(y2) - y1) * (double(y2) - y1);
  double r = ((double(x) - x1) * (double(x2) - x1) + (double(y) - y1) * (double(y2) - y1)) / l2;
  if (r > 1) return _DistPoint2Point(x, y, x2, y2);
  if (r < 0) return _DistPoint2Point(x, y, x1, y1);
  return _DistPoint2Line(x, y, x1, y1, x2, y2);
}

void _CastPolySelCC(int x0, int y0, int& x, int& y) {
  int sx = x0 - x, sy = y0 - y;
  int dx = std::abs(sx), dy = std::abs(sy);
  int d = std::abs(dx - dy);
  if (dy > dx + 30) {
    x = x0;
  } else if (dy < dx - 30) {
    y = y0;
  } else if (sx < 0 && sy < 0) {
    if (dy > dx) x += d; else y += d;
  } else if (sx > 0 && sy > 0) {
    if (dy > dx) y += d; else x += d;
  } else if (sx > 0) {
    if (dy > dx) x -= d; else y += d;
  } else if (sy > 0) {
    if (dy > dx) x += d; else y -= d;
  }
}

int64_t _getfilesize(const char* name) {
  struct stat st;
  if (!name || ::stat(name, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

int32_t VXDpiToPixelsPerMetre(int32_t dpi) {
  const double ppm = std::round(std::max(dpi, 0) * (100 / 2.54));
  return ppm >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(ppm);
}

}  // namespace vexa
