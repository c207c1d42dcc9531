#include "vexa/codecs/png.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include <png.h>

#include "vexa/quant/colordepth.h"
#include "vexa/quant/quantizer.h"
#include "vexa/core/vxview.h"

namespace vexa {

namespace {

// libpng errors leave through longjmp into the function that made the library
// call. Those functions (RunRead, RunWrite) hold no local object with a
// destructor; what they use lives in a context owned by the caller, which also
// destroys the library structures on every path.

constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

struct Context {
  std::jmp_buf jump;
  png_structp png = nullptr;
  png_infop info = nullptr;
  TStream* stream = nullptr;
  TProgressRec* progress = nullptr;
  bool writing = false;
  bool failed = false;
  bool shortRead = false;
  // A stream exception caught inside a callback, rethrown once libpng is gone.
  std::exception_ptr pending;
  // Decoded RGBA rows before composition.
  std::vector<uint8_t> rgba;
};

// libpng reports errors as text only; its wording sorts them well enough.
TVXFailureKind KindOf(const Context& c, const char* message) {
  if (c.shortRead) return fkTruncated;
  if (std::strstr(message, "exceeds") || std::strstr(message, "too large")) return fkSizeLimit;
  if (std::strstr(message, "nsupported") || std::strstr(message, "nknown")) return fkUnsupported;
  return fkCorrupt;
}

[[noreturn]] void ErrorFn(png_structp png, png_const_charp message) {
  auto* c = static_cast<Context*>(png_get_error_ptr(png));
  c->failed = true;
  if (!c->writing && !c->pending && !c->progress->Aborted())
    c->progress->Fail(KindOf(*c, message), c->shortRead ? "data ends early" : message);
  std::longjmp(c->jump, 1);
}

void WarningFn(png_structp, png_const_charp) {}

void ReadFn(png_structp png, png_bytep data, png_size_t length) {
  auto* c = static_cast<Context*>(png_get_io_ptr(png));
  int64_t n = 0;
  try {
    n = c->stream->Read(data, static_cast<int64_t>(length));
  } catch (...) {
    c->pending = std::current_exception();
  }
  // Leave the catch block before jumping out: longjmp must not cross it.
  if (c->pending) png_error(png, "read error");
  if (n != static_cast<int64_t>(length)) {
    c->shortRead = true;
    png_error(png, "data ends early");
  }
}

void WriteFn(png_structp png, png_bytep data, png_size_t length) {
  auto* c = static_cast<Context*>(png_get_io_ptr(png));
  try {
    c->stream->WriteBuffer(data, static_cast<int64_t>(length));
  } catch (...) {
    c->pending = std::current_exception();
  }
  if (c->pending) png_error(png, "write error");
}

void FlushFn(png_structp) {}

bool Stopped(const Context& c) { return c.failed || c.progress->Aborted(); }

// A background sample of the file's depth as an 8-bit value.
uint8_t SampleTo8(unsigned v, int depth) {
  if (depth == 16) return static_cast<uint8_t>(v >> 8);
  if (depth >= 8) return static_cast<uint8_t>(v);
  const unsigned maxv = (1u << depth) - 1;
  return static_cast<uint8_t>(std::min(v, maxv) * 255 / maxv);
}

bool PaletteIsBlackWhite(png_structp png, png_infop info) {
  png_colorp pal = nullptr;
  int n = 0;
  if (!png_get_PLTE(png, info, &pal, &n) || n != 2) return false;
  return pal[0].red == 0 && pal[0].green == 0 && pal[0].blue == 0 && pal[1].red == 255 && pal[1].green == 255 &&
         pal[1].blue == 255;
}

// Composes one row of 8-bit RGBA over `bg` into blue-green-red triples:
// value x a + background x (255 - a), rounded; opaque pixels keep their values.
void ComposeRow(const uint8_t* rgba, int width, TRGB bg, uint8_t* bgr) {
  for (int x = 0; x < width; ++x, rgba += 4, bgr += 3) {
    const unsigned a = rgba[3];
    if (a == 255) {
      bgr[0] = rgba[2];
      bgr[1] = rgba[1];
      bgr[2] = rgba[0];
    } else {
      const unsigned na = 255 - a;
      bgr[0] = static_cast<uint8_t>((rgba[2] * a + bg.b * na + 127) / 255);
      bgr[1] = static_cast<uint8_t>((rgba[1] * a + bg.g * na + 127) / 255);
      bgr[2] = static_cast<uint8_t>((rgba[0] * a + bg.r * na + 127) / 255);
    }
  }
}

// The file's background chunk as 8-bit RGB, scaled by the file's bit depth.
TRGB FileBackground(const png_color_16& b, bool palette, bool grey, int depth) {
  if (palette) return CreateRGB(static_cast<uint8_t>(b.red), static_cast<uint8_t>(b.green), static_cast<uint8_t>(b.blue));
  if (grey) {
    const uint8_t g = SampleTo8(b.gray, depth);
    return CreateRGB(g, g, g);
  }
  return CreateRGB(SampleTo8(b.red, depth), SampleTo8(b.green, depth), SampleTo8(b.blue, depth));
}

bool RunRead(Context& c, TBitmap& bitmap, TIOParamsVals& params, bool preview, const TRGB* over) {
  png_structp png = c.png;
  png_infop info = c.info;
  TProgressRec& progress = *c.progress;
  if (setjmp(c.jump)) return false;
  png_set_read_fn(png, &c, ReadFn);
  png_read_info(png, info);
  if (Stopped(c)) return false;

  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
  const bool grey = colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA;
  const bool palette = colorType == PNG_COLOR_TYPE_PALETTE;
  const bool transparent = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  // Only true black and white fits pf1bit (fixed palette black, white); a coloured
  // or transparent 1-bit file goes through the 24-bit path so no colour is lost.
  const bool packed = depth == 1 && !transparent &&
                      (colorType == PNG_COLOR_TYPE_GRAY || (palette && PaletteIsBlackWhite(png, info)));

  png_color_16p fileBackground = nullptr;
  if (png_get_bKGD(png, info, &fileBackground))
    params.PNG_Background = FileBackground(*fileBackground, palette, grey, depth);
  const TRGB background = over ? *over : params.PNG_Background;

  // Everything but black and white arrives as 8-bit RGBA (palettes and low grey
  // expanded by bit replication, a transparent colour turned into alpha 0) and is
  // composed here, where the rounding is ours to choose.
  if (!packed) {
    png_set_expand(png);
    if (depth == 16) png_set_strip_16(png);
    if (grey) png_set_gray_to_rgb(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !transparent) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (Stopped(c)) return false;

  params.Width = static_cast<int32_t>(std::min<png_uint_32>(width, INT32_MAX));
  params.Height = static_cast<int32_t>(std::min<png_uint_32>(height, INT32_MAX));
  params.BitsPerSample = depth;
  switch (colorType) {
    case PNG_COLOR_TYPE_RGB: params.SamplesPerPixel = 3; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: params.SamplesPerPixel = 2; break;
    case PNG_COLOR_TYPE_RGB_ALPHA: params.SamplesPerPixel = 4; break;
    default: params.SamplesPerPixel = 1; break;
  }
  const png_uint_32 ppmX = png_get_x_pixels_per_meter(png, info);
  const png_uint_32 ppmY = png_get_y_pixels_per_meter(png, info);
  params.DpiX = ppmX ? static_cast<int32_t>(std::lround(ppmX / 100.0 * 2.54)) : 0;
  params.DpiY = ppmY ? static_cast<int32_t>(std::lround(ppmY / 100.0 * 2.54)) : 0;
  if (params.DpiX == 0) params.DpiX = gSystemDPIX;
  if (params.DpiY == 0) params.DpiY = gSystemDPIY;
  params.FreeColorMap();
  if (palette) {
    png_colorp pal = nullptr;
    int n = 0;
    if (png_get_PLTE(png, info, &pal, &n) && n > 0) {
      TRGB entries[256];
      n = std::min(n, 256);
      for (int i = 0; i < n; ++i) entries[i] = CreateRGB(pal[i].red, pal[i].green, pal[i].blue);
      params.SetColorMap(entries, n);
    }
  }
  params.PNG_Interlaced = interlace != PNG_INTERLACE_NONE;
  if (preview) return true;

  const int w = params.Width, h = params.Height;
  if (!VXCheckBitmapSize(w, h, packed ? 1 : 24)) {
    progress.Fail(fkSizeLimit, VXSizeText(w, h));
    return false;
  }
  // The rows libpng will hand out must have the layout asked for.
  const size_t expected = packed ? (static_cast<size_t>(w) + 7) / 8 : static_cast<size_t>(w) * 4;
  if (png_get_rowbytes(png, info) != expected) {
    progress.Fail(fkUnsupported, "row length after conversion", static_cast<int64_t>(png_get_rowbytes(png, info)));
    return false;
  }
  // Interlaced passes fill a row a few pixels at a time, so their RGBA rows must
  // live until the last pass; plain files need one.
  const bool wholeImage = !packed && passes > 1;
  if (wholeImage && !VXCheckBitmapSize(w, h, 32)) {
    progress.Fail(fkSizeLimit, VXSizeText(w, h));
    return false;
  }
  c.rgba.assign(packed ? 0 : expected * (wholeImage ? static_cast<size_t>(h) : 1), 0);
  bitmap.Allocate(w, h, packed ? pf1bit : pf24bit);
  progress.PerUnit = 100.0 / (static_cast<double>(h) * passes);
  progress.Done = 0;
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < h; ++y) {
      if (packed) {
        png_read_row(png, bitmap.ScanLine(y), nullptr);
      } else {
        uint8_t* row = c.rgba.data() + (wholeImage ? expected * static_cast<size_t>(y) : 0);
        png_read_row(png, row, nullptr);
        ComposeRow(row, w, background, bitmap.ScanLine(y));
      }
      progress.Done += 1;
      progress.Report(progress.Done);
      if (Stopped(c)) return false;
    }
  }
  png_read_end(png, nullptr);
  return !Stopped(c);
}

// Rows handed to libpng when writing: the bitmap's own rows, or palette indices.
struct WriteSource {
  const TBitmap* bitmap = nullptr;
  int colorType = PNG_COLOR_TYPE_RGB;
  int depth = 8;
  std::vector<png_color> palette;
  std::vector<uint8_t> indices;  // width x height, top row first
  int backgroundIndex = 0;
};

bool RunWrite(Context& c, const WriteSource& src, const TIOParamsVals& params) {
  png_structp png = c.png;
  png_infop info = c.info;
  TProgressRec& progress = *c.progress;
  if (setjmp(c.jump)) return false;
  png_set_write_fn(png, &c, WriteFn, FlushFn);
  const TBitmap& bitmap = *src.bitmap;
  const int w = bitmap.Width(), h = bitmap.Height();
  png_set_IHDR(png, info, static_cast<png_uint_32>(std::max(w, 0)), static_cast<png_uint_32>(std::max(h, 0)),
               src.depth, src.colorType, params.PNG_Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  if (src.colorType == PNG_COLOR_TYPE_PALETTE)
    png_set_PLTE(png, info, src.palette.data(), static_cast<int>(src.palette.size()));
  png_set_pHYs(png, info, static_cast<png_uint_32>(VXDpiToPixelsPerMetre(params.DpiX)),
               static_cast<png_uint_32>(VXDpiToPixelsPerMetre(params.DpiY)), PNG_RESOLUTION_METER);
  int filter = PNG_FILTER_NONE;
  if (params.PNG_Filter == ioPNG_FILTER_SUB) filter = PNG_FILTER_SUB;
  if (params.PNG_Filter == ioPNG_FILTER_PAETH) filter = PNG_FILTER_PAETH;
  png_set_filter(png, PNG_FILTER_TYPE_BASE, filter);

  // Background samples in the image's own depth, so that readers accept them.
  png_color_16 bg{};
  const TRGB b = params.PNG_Background;
  if (src.colorType == PNG_COLOR_TYPE_PALETTE) {
    bg.index = static_cast<png_byte>(src.backgroundIndex);
  } else if (src.colorType == PNG_COLOR_TYPE_GRAY) {
    bg.gray = (21 * b.r + 71 * b.g + 7 * b.b) / 100 >= 128 ? 1 : 0;
  } else {
    bg.red = b.r;
    bg.green = b.g;
    bg.blue = b.b;
  }
  png_set_bKGD(png, info, &bg);
  png_set_compression_level(png, std::clamp(params.PNG_Compression, 0, 9));
  if (src.colorType == PNG_COLOR_TYPE_RGB) png_set_bgr(png);
  png_write_info(png, info);
  if (Stopped(c)) return false;

  const int passes = png_set_interlace_handling(png);
  progress.PerUnit = 100.0 / (static_cast<double>(passes) * h);
  progress.Done = 0;
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < h; ++y) {
      // libpng reads the row only; the cast is for its non-const signature.
      auto* row = src.indices.empty() ? const_cast<uint8_t*>(bitmap.ScanLine(y))
                                      : const_cast<uint8_t*>(src.indices.data() + static_cast<size_t>(y) * w);
      png_write_row(png, row);
      progress.Done += 1;
      progress.Report(progress.Done);
      if (Stopped(c)) return false;
    }
  }
  png_write_end(png, info);
  return true;
}

[[noreturn]] void RaiseWriteError() { throw EInvalidGraphic("Error on creating PNG"); }

}  // namespace

bool IsPNGStream(TStream& stream) {
  uint8_t sig[8] = {};
  const int64_t pos = stream.Position();
  const int64_t n = stream.Read(sig, 8);
  // Back to where we started, also when fewer than 8 bytes were there.
  stream.SetPosition(pos);
  return n == 8 && std::memcmp(sig, kSignature, 8) == 0;
}

void ReadPNGStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress) {
  ReadPNGStreamOver(stream, bitmap, params, preview, progress, nullptr);
}

void ReadPNGStreamOver(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress,
                       const TRGB* background) {
  auto c = std::make_unique<Context>();
  c->stream = &stream;
  c->progress = &progress;
  c->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, c.get(), ErrorFn, WarningFn);
  if (c->png) c->info = png_create_info_struct(c->png);
  if (!c->png || !c->info) {
    png_destroy_read_struct(&c->png, &c->info, nullptr);
    progress.Fail(fkSizeLimit, "libpng cannot allocate its decoder");
    return;
  }
  try {
    RunRead(*c, bitmap, params, preview, background);
  } catch (...) {
    png_destroy_read_struct(&c->png, &c->info, nullptr);
    throw;
  }
  png_destroy_read_struct(&c->png, &c->info, nullptr);
  if (c->pending) std::rethrow_exception(c->pending);
}

void WritePNGStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  WriteSource src;
  std::unique_ptr<TBitmap> temp;
  const bool blackWhite = params.SamplesPerPixel == 1 && params.BitsPerSample == 1;
  if (blackWhite && bitmap.PixelFormat() != pf1bit) {
    const TBitmap* rgb = &bitmap;
    std::unique_ptr<TBitmap> rgbCopy;
    if (bitmap.PixelFormat() != pf24bit) {
      rgbCopy = std::make_unique<TBitmap>(bitmap);
      rgbCopy->SetPixelFormat(pf24bit);
      rgb = rgbCopy.get();
    }
    TRGB c0, c1;
    temp = _ConvertTo1bit(*rgb, c0, c1);
    if (!temp) {
      temp = std::make_unique<TBitmap>(*rgb);
      TProgressRec quiet;
      _ConvertToBWOrdered(*temp, quiet);
    }
  } else if (!blackWhite && bitmap.PixelFormat() != pf24bit) {
    temp = std::make_unique<TBitmap>(bitmap);
    temp->SetPixelFormat(pf24bit);
  }
  src.bitmap = temp ? temp.get() : &bitmap;
  if (blackWhite) {
    src.colorType = PNG_COLOR_TYPE_GRAY;
    src.depth = 1;
  } else if (params.SamplesPerPixel == 1 && !src.bitmap->Empty()) {
    src.colorType = PNG_COLOR_TYPE_PALETTE;
    const TBitmap& b = *src.bitmap;
    std::vector<TRGB> map;
    TVXQuantizer quantizer(b, map, 256, -1, 0);
    map.resize(256);
    src.palette.resize(256);
    for (int i = 0; i < 256; ++i) src.palette[i] = png_color{map[i].r, map[i].g, map[i].b};
    src.backgroundIndex = quantizer.GetRGBIndex(params.PNG_Background);
    const int w = b.Width(), h = b.Height();
    src.indices.resize(static_cast<size_t>(std::max(w, 0)) * std::max(h, 0));
    for (int y = 0; y < h; ++y) {
      const auto* p = reinterpret_cast<const TRGB*>(b.ScanLine(y));
      uint8_t* dst = src.indices.data() + static_cast<size_t>(y) * w;
      // Photos repeat colours along a row; skip the search for a repeat.
      TRGB last = p[0];
      uint8_t lastIndex = static_cast<uint8_t>(quantizer.GetRGBIndex(last));
      for (int x = 0; x < w; ++x) {
        if (!(p[x] == last)) {
          last = p[x];
          lastIndex = static_cast<uint8_t>(quantizer.GetRGBIndex(last));
        }
        dst[x] = lastIndex;
      }
    }
  }

  auto c = std::make_unique<Context>();
  c->stream = &stream;
  c->progress = &progress;
  c->writing = true;
  c->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, c.get(), ErrorFn, WarningFn);
  if (c->png) c->info = png_create_info_struct(c->png);
  if (!c->png || !c->info) {
    png_destroy_write_struct(&c->png, &c->info);
    RaiseWriteError();
  }
  try {
    RunWrite(*c, src, params);
  } catch (...) {
    png_destroy_write_struct(&c->png, &c->info);
    throw;
  }
  png_destroy_write_struct(&c->png, &c->info);
  if (c->pending) std::rethrow_exception(c->pending);
  if (c->failed) RaiseWriteError();
}

}  // namespace vexa
