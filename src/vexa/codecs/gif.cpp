#include "vexa/codecs/gif.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "vexa/codecs/lzw.h"
#include "vexa/core/bytereader.h"
#include "vexa/quant/colordepth.h"
#include "vexa/quant/colorhelpers.h"
#include "vexa/quant/quantizer.h"
#include "vexa/core/vxview.h"

namespace vexa {

namespace {

// Block introducers and extension labels.
constexpr uint8_t kExtension = 0x21;       // '!'
constexpr uint8_t kImage = 0x2C;           // ','
constexpr uint8_t kTrailer = 0x3B;         // ';'
constexpr uint8_t kGraphicControl = 0xF9;  // packed, delay (2), transparent index
constexpr uint8_t kApplication = 0xFF;

constexpr uint8_t kLoopExtension[14] = {kExtension, kApplication, 0x0B, 'N', 'E', 'T', 'S', 'C',
                                        'A',        'P',          'E',  '2', '.', '0'};

constexpr TRGB kBlack{0, 0, 0}, kWhite{255, 255, 255};

int ReadByte(TStream& s) {
  uint8_t b = 0;
  return s.Read(&b, 1) == 1 ? b : -1;
}

bool ReadExact(TStream& s, void* p, int64_t n) { return s.Read(p, n) == n; }

void PutU16(std::vector<uint8_t>& out, int32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

// Logical screen descriptor, as stored:
//   0  "GIF87a" / "GIF89a"      (only "GIF" is checked)
//   6  screen width, height     (u16 each)
//  10  packed                   bit 7 global table, 4-6 colour resolution, 3 sort, 0-2 table size 2 << n
//  11  background colour index  (into the global table; may point past it)
//  12  pixel aspect ratio
struct TGifHeader {
  uint8_t raw[13] = {};
  int Width() const { return VXLoadU16(raw + 6); }
  int Height() const { return VXLoadU16(raw + 8); }
  bool HasGlobalTable() const { return (raw[10] & 0x80) != 0; }
  int GlobalBits() const { return (raw[10] & 7) + 1; }
};

bool ReadHeader(TStream& s, TGifHeader& h) {
  return ReadExact(s, h.raw, 13) && h.raw[0] == 'G' && h.raw[1] == 'I' && h.raw[2] == 'F';
}

// Colour tables are R, G, B in the file and TRGB (B, G, R) in memory.
bool ReadColorTable(TStream& s, int count, std::vector<TRGB>& table) {
  std::vector<uint8_t> raw(static_cast<size_t>(count) * 3, 0);
  const bool complete = ReadExact(s, raw.data(), static_cast<int64_t>(raw.size()));
  table.resize(count);
  for (int i = 0; i < count; ++i) table[i] = TRGB{raw[3 * i + 2], raw[3 * i + 1], raw[3 * i]};
  return complete;
}

void PutColorTable(std::vector<uint8_t>& out, const std::vector<TRGB>& table) {
  for (const TRGB& c : table) {
    out.push_back(c.r);
    out.push_back(c.g);
    out.push_back(c.b);
  }
}

void SkipSubBlocks(TStream& s) {
  for (int len = ReadByte(s); len > 0; len = ReadByte(s)) s.Seek(len, soCurrent);
}

// Copies sub-blocks through the terminator. A block cut short by the end of the
// stream is written with the length actually present and closed, so that what
// follows in the output is not swallowed; returns false in that case.
bool CopySubBlocks(TStream& in, TStream& out) {
  uint8_t buf[256];
  for (;;) {
    const int len = ReadByte(in);
    if (len < 0) {
      out.WriteU8(0);
      return false;
    }
    if (len == 0) {
      out.WriteU8(0);
      return true;
    }
    const int64_t got = in.Read(buf + 1, len);
    buf[0] = static_cast<uint8_t>(got);
    out.WriteBuffer(buf, got + 1);
    if (got < len) {
      if (got > 0) out.WriteU8(0);
      return false;
    }
  }
}

// One frame ready for the encoder: palette (2^Bits entries) and top-down indices.
struct TGifFrame {
  int Bits = 8;
  int Width = 0, Height = 0;
  std::vector<TRGB> Palette;
  std::vector<uint8_t> Indices;
  uint8_t BackgroundIndex = 0, TransparentIndex = 0;
};

// forInsert: a 1-bit request that is not two-coloured keeps 256 colours instead
// of being dithered.
void BuildFrame(const TBitmap& bitmap, const TIOParamsVals& params, bool forInsert, TGifFrame& f) {
  int bits = params.BitsPerSample;
  if (bits < 1 || bits > 8) bits = 8;
  f.Width = bitmap.Width();
  f.Height = bitmap.Height();
  const int w = f.Width, h = f.Height;

  TProgressRec quiet;
  TBitmap copy24, copy1;
  const TBitmap* work24 = &bitmap;
  if (bitmap.PixelFormat() != pf24bit && !(bits == 1 && bitmap.PixelFormat() == pf1bit)) {
    if (bitmap.PixelFormat() == pf1bit) {
      _Conv1to24(bitmap, copy24, quiet);
    } else {
      copy24 = bitmap;
      copy24.SetPixelFormat(pf24bit);
    }
    work24 = &copy24;
  }
  const TBitmap* work1 = nullptr;
  std::unique_ptr<TBitmap> twoColors;
  if (bits == 1) {
    TRGB c0, c1;
    if (bitmap.PixelFormat() == pf1bit) {
      work1 = &bitmap;
      f.Palette = {kBlack, kWhite};
    } else if ((twoColors = _ConvertTo1bit(*work24, c0, c1))) {
      // The two colours go in the palette: a two-colour picture survives the trip.
      work1 = twoColors.get();
      f.Palette = {c0, c1};
    } else if (!forInsert) {
      copy1 = *work24;
      _ConvertToBWOrdered(copy1, quiet);
      work1 = &copy1;
      f.Palette = {kBlack, kWhite};
    } else {
      bits = 8;
    }
  }
  f.Bits = bits;
  f.Indices.resize(static_cast<size_t>(w) * h);

  if (work1) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = work1->ScanLine(y);
      uint8_t* d = f.Indices.data() + static_cast<size_t>(y) * w;
      for (int x = 0; x < w; ++x) d[x] = (s[x >> 3] >> (7 - (x & 7))) & 1;
    }
    f.BackgroundIndex = static_cast<uint8_t>(_GetSimilColor(f.Palette.data(), 2, params.GIF_Background));
    f.TransparentIndex = static_cast<uint8_t>(_GetSimilColor(f.Palette.data(), 2, params.GIF_TranspColor));
    return;
  }

  const int colors = 1 << bits;
  const uint8_t mask = static_cast<uint8_t>(colors - 1);
  TVXQuantizer quantizer(*work24, f.Palette, colors);
  for (int y = 0; y < h; ++y) {
    const TRGB* s = reinterpret_cast<const TRGB*>(work24->ScanLine(y));
    uint8_t* d = f.Indices.data() + static_cast<size_t>(y) * w;
    // Neighbouring pixels often repeat; skip the lookup for them.
    TRGB last = s[0];
    uint8_t lastIndex = static_cast<uint8_t>(quantizer.GetRGBIndex(last) & mask);
    for (int x = 0; x < w; ++x) {
      if (!(s[x] == last)) {
        last = s[x];
        lastIndex = static_cast<uint8_t>(quantizer.GetRGBIndex(last) & mask);
      }
      d[x] = lastIndex;
    }
  }
  f.Palette.resize(colors);
  f.BackgroundIndex = static_cast<uint8_t>(quantizer.GetRGBIndex(params.GIF_Background) & mask);
  f.TransparentIndex = static_cast<uint8_t>(quantizer.GetRGBIndex(params.GIF_TranspColor) & mask);
}

GifLzwEncodeProc EncoderOf(const TIOParamsVals& params) {
  return params.GIF_LZWCompFunc ? params.GIF_LZWCompFunc : DefGIF_LZWCOMPFUNC;
}

bool WritableSize(const TBitmap& bitmap) {
  return !bitmap.Empty() && bitmap.Width() <= 0xFFFF && bitmap.Height() <= 0xFFFF;
}

// Disposal method 2 (restore to background) and the transparency flag.
void PutGraphicControl(std::vector<uint8_t>& out, const TIOParamsVals& params, const TGifFrame& f) {
  const uint8_t gce[] = {kExtension,
                         kGraphicControl,
                         4,
                         static_cast<uint8_t>((params.GIF_FlagTranspColor ? 1 : 0) | 0x08),
                         static_cast<uint8_t>(params.GIF_DelayTime),
                         static_cast<uint8_t>(params.GIF_DelayTime >> 8),
                         f.TransparentIndex,
                         0};
  out.insert(out.end(), std::begin(gce), std::end(gce));
}

void PutDescriptor(std::vector<uint8_t>& out, const TIOParamsVals& params, const TGifFrame& f, uint8_t packed) {
  out.push_back(kImage);
  PutU16(out, params.GIF_XPos);
  PutU16(out, params.GIF_YPos);
  PutU16(out, f.Width);
  PutU16(out, f.Height);
  out.push_back(packed);
}

// A frame with its own colour table, as insertion writes it.
void WriteLocalFrame(TStream& out, const TIOParamsVals& params, const TGifFrame& f, GifLzwEncodeProc encode) {
  std::vector<uint8_t> head;
  PutGraphicControl(head, params, f);
  PutDescriptor(head, params, f, static_cast<uint8_t>(0x80 | (params.GIF_Interlaced ? 0x40 : 0) | (f.Bits - 1)));
  PutColorTable(head, f.Palette);
  out.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  encode(out, f.Height, f.Width, params.GIF_Interlaced, f.Indices.data(), f.Bits);
}

enum TCopyHead { chNotGif, chBroken, chCopied };

// Header with the version forced to 89a, then the global table as stored.
TCopyHead CopyHeaderAndGlobalTable(TStream& in, TStream& out, TGifHeader& h) {
  if (!ReadHeader(in, h)) return chNotGif;
  std::memcpy(h.raw + 3, "89a", 3);
  out.WriteBuffer(h.raw, 13);
  if (h.HasGlobalTable()) {
    uint8_t table[768];
    const int64_t n = 3 * (int64_t{1} << h.GlobalBits());
    const int64_t got = in.Read(table, n);
    out.WriteBuffer(table, got);
    // Blocks written after a short table would be read as the rest of it.
    if (got < n) return chBroken;
  }
  return chCopied;
}

// Copies an extension after its introducer; false when the stream ended inside it.
bool CopyExtension(TStream& in, TStream& out, int label) {
  if (label < 0) return false;
  out.WriteU8(kExtension);
  out.WriteU8(static_cast<uint8_t>(label));
  return CopySubBlocks(in, out);
}

struct TImageHead {
  uint8_t descriptor[9];
  std::vector<uint8_t> localTable;
  int codeSize;
};

// Reads descriptor, local table and code size byte after the introducer.
bool ReadImageHead(TStream& in, TImageHead& im) {
  if (!ReadExact(in, im.descriptor, 9)) return false;
  if (im.descriptor[8] & 0x80) {
    im.localTable.resize(3 * (size_t{2} << (im.descriptor[8] & 7)));
    if (!ReadExact(in, im.localTable.data(), static_cast<int64_t>(im.localTable.size()))) return false;
  }
  im.codeSize = ReadByte(in);
  return im.codeSize >= 0;
}

void WriteImageHead(TStream& out, const TImageHead& im) {
  out.WriteU8(kImage);
  out.WriteBuffer(im.descriptor, 9);
  if (!im.localTable.empty()) out.WriteBuffer(im.localTable.data(), static_cast<int64_t>(im.localTable.size()));
  out.WriteU8(static_cast<uint8_t>(im.codeSize));
}

// Strict copy of image data: false when a sub-block runs past the end.
bool CopyImageData(TStream& in, TStream& out) {
  uint8_t buf[256];
  for (;;) {
    const int len = ReadByte(in);
    if (len < 0) return false;
    buf[0] = static_cast<uint8_t>(len);
    if (len == 0) {
      out.WriteU8(0);
      return true;
    }
    if (!ReadExact(in, buf + 1, len)) return false;
    out.WriteBuffer(buf, len + 1);
  }
}

}  // namespace

void ReadGif(const std::string& name, TBitmap& bitmap, int32_t& imageCount, TIOParamsVals& params,
             TProgressRec& progress) {
  TFileStream stream(name, fmOpenRead);
  ReadGifStream(stream, bitmap, imageCount, params, progress, false);
}

void ReadGifStream(TStream& stream, TBitmap& bitmap, int32_t& imageCount, TIOParamsVals& params,
                   TProgressRec& progress, bool paramsOnly) {
  progress.PerUnit = 1;
  progress.Report(0);
  if (progress.Aborted()) return;
  const int32_t wanted = params.GIF_ImageIndex;
  uint8_t control[4] = {};

  TGifHeader h;
  if (!ReadHeader(stream, h)) return progress.Fail(fkCorrupt, "no GIF header");
  params.GIF_Version.assign(reinterpret_cast<const char*>(h.raw), 6);
  params.GIF_WinWidth = h.Width();
  params.GIF_WinHeight = h.Height();
  params.GIF_Ratio = h.raw[12];
  params.DpiX = gSystemDPIX;
  params.DpiY = gSystemDPIY;
  params.SamplesPerPixel = 1;

  std::vector<TRGB> global;
  if (h.HasGlobalTable()) {
    ReadColorTable(stream, 1 << h.GlobalBits(), global);
    if (h.raw[11] < global.size()) params.GIF_Background = global[h.raw[11]];
  }
  const int64_t size = stream.Size();
  if (stream.Position() >= size) progress.Fail(fkTruncated, "no data after the header");
  imageCount = 0;

  bool found = false;
  // Why the walk stopped early; it matters only when the wanted frame was not reached.
  TVXFailure stop;
  // The wanted frame's pixel data ended before the frame was full; the walk goes on
  // counting frames, and the frame keeps the pixels decoded.
  TVXFailure cut;
  while (!progress.Aborted()) {
    int b = ReadByte(stream);
    if (b < 0 || stream.Position() >= size) {
      stop.Set(fkTruncated, "no trailer after image " + std::to_string(imageCount));
      b = kTrailer;
    }
    if (b == kTrailer) break;
    if (b == kExtension) {
      const int label = ReadByte(stream);
      if (label == kGraphicControl && imageCount == wanted) {
        const int len = ReadByte(stream);
        if (len > 0) {
          uint8_t block[255] = {};
          stream.Read(block, len);
          std::memcpy(control, block, 4);
          SkipSubBlocks(stream);
        }
      } else if (label >= 0) {
        SkipSubBlocks(stream);
      }
      continue;
    }
    if (b != kImage) continue;

    uint8_t d[9];
    if (!ReadExact(stream, d, 9)) {
      stop.Set(fkTruncated, "image descriptor ends early");
      break;
    }
    std::vector<TRGB> local;
    const bool hasLocal = (d[8] & 0x80) != 0;
    if (hasLocal && !ReadColorTable(stream, 2 << (d[8] & 7), local)) {
      stop.Set(fkTruncated, "local colour table ends early");
      break;
    }
    if (imageCount != wanted) {
      stream.Seek(1, soCurrent);
      SkipSubBlocks(stream);
      ++imageCount;
      continue;
    }

    progress.Report(30);
    if (progress.Aborted()) break;
    const std::vector<TRGB>& table = hasLocal ? local : global;
    params.GIF_TranspColor = control[3] < table.size() ? table[control[3]] : kBlack;
    TVXByteReader desc(d, sizeof d);
    params.GIF_XPos = desc.U16(0);
    params.GIF_YPos = desc.U16(2);
    params.Width = desc.U16(4);
    params.Height = desc.U16(6);
    params.GIF_DelayTime = VXLoadU16(control + 1);
    params.GIF_FlagTranspColor = (control[0] & 1) != 0;
    params.GIF_Interlaced = (d[8] & 0x40) != 0;
    const int32_t w = params.Width, hgt = params.Height;

    std::vector<uint8_t> indices;
    if (paramsOnly) {
      stream.Seek(1, soCurrent);
      SkipSubBlocks(stream);
    } else {
      // A frame of no area has nothing to show; the bitmap cannot hold it either.
      if (w == 0 || hgt == 0) {
        progress.Fail(fkCorrupt, "frame of zero width or height");
        break;
      }
      if (!VXCheckBitmapSize(w, hgt, 24)) {
        progress.Fail(fkSizeLimit, VXSizeText(w, hgt));
        break;
      }
      const GifLzwDecodeProc decode = params.GIF_LZWDecompFunc ? params.GIF_LZWDecompFunc : DefGIF_LZWDECOMPFUNC;
      indices.assign(static_cast<size_t>(w) * hgt, 0);
      const int64_t before = stream.Position();
      // The library's own decoder says how many pixels the data held; an installed one cannot.
      int64_t pixels = static_cast<int64_t>(indices.size());
      if (decode == GifLzwDecode)
        pixels = GifLzwDecodeCounted(stream, hgt, w, params.GIF_Interlaced, indices.data());
      else if (decode)
        decode(stream, hgt, w, params.GIF_Interlaced, indices.data());
      if (pixels > 0 && pixels < static_cast<int64_t>(indices.size()))
        cut.Set(fkTruncated, "image " + std::to_string(imageCount) + ": " +
                                 VXRowsEndText(pixels / w, hgt));
      if (!decode) {
        progress.Fail(fkUnsupported, "LZW-coded data without an installed LZW decoder");
        break;
      }
      if (stream.Position() == before) {
        progress.Fail(fkCorrupt, "LZW data of image " + std::to_string(imageCount) + " cannot be decoded");
        break;
      }
      progress.Report(70);
      if (progress.Aborted()) break;
    }

    params.BitsPerSample = hasLocal ? (d[8] & 7) + 1 : h.GlobalBits();
    const int count = 1 << params.BitsPerSample;
    std::vector<TRGB> colors = table;
    if (colors.empty()) {
      // No colour table at all: a grey ramp, so that indices still mean something.
      colors.resize(count);
      for (int i = 0; i < count; ++i) {
        const uint8_t v = static_cast<uint8_t>(i * 255 / (count - 1));
        colors[i] = TRGB{v, v, v};
      }
    }
    params.SetColorMap(colors.data(), static_cast<int>(colors.size()));
    params.ColorMapCount = count;

    if (!paramsOnly) {
      if (params.BitsPerSample == 1 && colors[0] == kBlack && colors[1] == kWhite) {
        bitmap.Allocate(w, hgt, pf1bit);
        for (int32_t y = 0; y < hgt; ++y) {
          const uint8_t* s = indices.data() + static_cast<size_t>(y) * w;
          uint8_t* row = bitmap.ScanLine(y);
          for (int32_t x = 0; x < w; ++x)
            if (s[x]) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
      } else {
        // Indices past the table (the code size allows more than the table holds) read as black.
        TRGB lut[256] = {};
        std::copy_n(colors.begin(), std::min<size_t>(256, colors.size()), lut);
        bitmap.Allocate(w, hgt, pf24bit);
        for (int32_t y = 0; y < hgt; ++y) {
          const uint8_t* s = indices.data() + static_cast<size_t>(y) * w;
          TRGB* row = reinterpret_cast<TRGB*>(bitmap.ScanLine(y));
          for (int32_t x = 0; x < w; ++x) row[x] = lut[s[x]];
        }
      }
    }
    found = true;
    ++imageCount;
  }
  if (found && cut.Failed()) progress.Fail(cut.Kind, cut.Text);
  // Asking for a frame the file does not have is a failure, not an untouched success.
  if (!found) {
    stop.Set(fkNoImage, "image index " + std::to_string(wanted) + " of " + std::to_string(imageCount));
    progress.Fail(stop.Kind, stop.Text);
  }
  if (!progress.Aborted()) progress.Report(100);
}

void WriteGif(const std::string& name, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  TSafeFileStream stream(name);
  WriteGifStream(stream, bitmap, params, progress);
  if (!progress.Aborted()) stream.Commit();
}

void WriteGifStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  progress.PerUnit = 1;
  progress.Report(0);
  if (progress.Aborted()) return;
  // Checked before anything is written, so that a refused write leaves no partial file.
  const GifLzwEncodeProc encode = EncoderOf(params);
  if (!encode) return progress.Fail(fkUnsupported, "no LZW encoder installed");
  if (!WritableSize(bitmap)) return progress.Fail(fkSizeLimit, "GIF holds 1 x 1 to 65535 x 65535 pixels");
  TGifFrame f;
  BuildFrame(bitmap, params, false, f);
  progress.Report(30);
  if (progress.Aborted()) return;

  std::vector<uint8_t> head;
  const std::string& given = params.GIF_Version;
  const std::string version = given.size() >= 6 && given.compare(0, 3, "GIF") == 0 ? given.substr(0, 6) : "GIF89a";
  head.insert(head.end(), version.begin(), version.end());
  PutU16(head, f.Width);
  PutU16(head, f.Height);
  head.push_back(static_cast<uint8_t>(0x80 | (f.Bits - 1) << 4 | (f.Bits - 1)));
  head.push_back(f.BackgroundIndex);
  head.push_back(0);
  PutColorTable(head, f.Palette);
  PutGraphicControl(head, params, f);
  PutDescriptor(head, params, f, params.GIF_Interlaced ? 0x40 : 0);
  stream.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  progress.Report(70);
  if (progress.Aborted()) return;
  encode(stream, f.Height, f.Width, params.GIF_Interlaced, f.Indices.data(), f.Bits);
  stream.WriteU8(kTrailer);
  progress.Report(100);
}

int _InsertGifIm(const std::string& name, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  TSafeFileStream stream(name, true);
  const int frames = _InsertGifImStream(stream, bitmap, params, progress);
  if (!progress.Aborted()) stream.Commit();
  return frames;
}

int _InsertGifImStream(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  progress.PerUnit = 1;
  progress.Report(0);
  if (progress.Aborted()) return 0;
  const int64_t start = stream.Position();
  int32_t target = params.GIF_ImageIndex;
  TMemoryStream out;
  TGifHeader h;
  const TCopyHead head = CopyHeaderAndGlobalTable(stream, out, h);
  if (head == chNotGif) {
    stream.SetPosition(start);
    return 0;
  }
  const GifLzwEncodeProc encode = EncoderOf(params);
  if (head == chBroken || !encode || !WritableSize(bitmap) || target < 0) {
    stream.SetPosition(start);
    if (head == chBroken) progress.Fail(fkTruncated, "GIF header or colour table ends early");
    if (!encode) progress.Fail(fkUnsupported, "no LZW encoder installed");
    if (!WritableSize(bitmap)) progress.Fail(fkSizeLimit, "GIF holds 1 x 1 to 65535 x 65535 pixels");
    progress.Fail(fkNoImage, "image index", target);
    return 0;
  }
  TGifFrame f;
  BuildFrame(bitmap, params, true, f);
  progress.Report(30);
  if (progress.Aborted()) {
    stream.SetPosition(start);
    return 0;
  }

  int32_t i = 0;
  auto insertHere = [&]() {
    WriteLocalFrame(out, params, f, encode);
    target = -1;
    ++i;
  };
  bool failed = false;
  for (;;) {
    const int b = ReadByte(stream);
    if (b == kExtension) {
      const int label = ReadByte(stream);
      if (label == kGraphicControl && i == target) insertHere();
      CopyExtension(stream, out, label);
    } else if (b == kImage) {
      TImageHead im;
      if (!ReadImageHead(stream, im)) {
        failed = true;
        break;
      }
      WriteImageHead(out, im);
      if (!CopyImageData(stream, out)) {
        failed = true;
        break;
      }
      ++i;
      if (i == target) {
        progress.Report(70);
        if (progress.Aborted()) {
          stream.SetPosition(start);
          return 0;
        }
        insertHere();
      }
    } else if (b == kTrailer || b < 0) {
      // A missing trailer is supplied: the frame can still be appended.
      if (i == target) insertHere();
      out.WriteU8(kTrailer);
      break;
    }
  }
  // A broken frame, or an index past the end, leaves the file as it was.
  if (failed || target >= 0) {
    stream.SetPosition(start);
    if (failed) progress.Fail(fkTruncated, "image " + std::to_string(i) + " ends early");
    progress.Fail(fkNoImage, "image index " + std::to_string(target) + " of " + std::to_string(i));
    return 0;
  }
  stream.SetPosition(start);
  stream.WriteBuffer(out.Memory(), out.Size());
  stream.SetSize(start + out.Size());
  progress.Report(100);
  return i;
}

int _DeleteGifIm(const std::string& name, int32_t index, bool save) {
  TMemoryStream in;
  in.LoadFromFile(name);
  TMemoryStream out;
  TGifHeader h;
  if (CopyHeaderAndGlobalTable(in, out, h) != chCopied) return 0;
  int32_t i = 0, kept = 0;
  for (;;) {
    const int b = ReadByte(in);
    if (b == kExtension) {
      const int label = ReadByte(in);
      if (label == kGraphicControl && i == index)
        SkipSubBlocks(in);
      else if (!CopyExtension(in, out, label))
        break;
    } else if (b == kImage) {
      TImageHead im;
      if (!ReadImageHead(in, im)) break;
      const bool drop = i == index;
      ++i;
      if (drop) {
        SkipSubBlocks(in);
        continue;
      }
      ++kept;
      WriteImageHead(out, im);
      if (!CopyImageData(in, out)) break;
    } else if (b == kTrailer || b < 0) {
      break;
    }
  }
  out.WriteU8(kTrailer);
  if (save) out.SaveToFile(name);
  return kept;
}

bool _CheckGifAnimate(const std::string& name) {
  TFileStream in(name, fmOpenRead);
  TGifHeader h;
  if (!ReadHeader(in, h)) return false;
  if (h.HasGlobalTable()) in.Seek(3 * (int64_t{1} << h.GlobalBits()), soCurrent);
  uint8_t ext[sizeof kLoopExtension];
  return ReadExact(in, ext, sizeof ext) && std::memcmp(ext, kLoopExtension, sizeof ext) == 0;
}

void _GifMakeAnimate(const std::string& name, uint16_t loopCount, int32_t screenWidth, int32_t screenHeight) {
  TMemoryStream in;
  in.LoadFromFile(name);
  TMemoryStream out;
  TGifHeader h;
  if (CopyHeaderAndGlobalTable(in, out, h) != chCopied) return;
  out.SetPosition(6);
  out.WriteU16(static_cast<uint16_t>(screenWidth));
  out.WriteU16(static_cast<uint16_t>(screenHeight));
  out.Seek(0, soEnd);

  // An existing loop block is replaced, whatever sub-blocks it carries.
  const int64_t afterTable = in.Position();
  uint8_t ext[sizeof kLoopExtension];
  if (ReadExact(in, ext, sizeof ext) && std::memcmp(ext, kLoopExtension, sizeof ext) == 0)
    SkipSubBlocks(in);
  else
    in.SetPosition(afterTable);

  const uint8_t loop[] = {0x03, 0x01, static_cast<uint8_t>(loopCount), static_cast<uint8_t>(loopCount >> 8), 0x00};
  out.WriteBuffer(kLoopExtension, sizeof kLoopExtension);
  out.WriteBuffer(loop, sizeof loop);
  if (in.Remaining() > 0) out.CopyFrom(in, in.Remaining());
  out.SaveToFile(name);
}

}  // namespace vexa
