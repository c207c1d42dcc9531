#include "vexa/io/formattable.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "vexa/codecs/bmp.h"
#include "vexa/codecs/gif.h"
#include "vexa/codecs/jpeg.h"
#include "vexa/codecs/pcx.h"
#include "vexa/codecs/png.h"
#include "vexa/codecs/tga.h"
#include "vexa/codecs/tiff.h"
#include "vexa/core/bytereader.h"
#include "vexa/io/formats.h"
#include "vexa/io/vexaio.h"

namespace vexa {

namespace {

// ---------------------------------------------------------------------------
// Stream headers: 12 bytes in front of JPEG, PCX and TIFF data in streams
// (tag, 4 zero bytes, int32 LE length of the data that follows).

constexpr int kHeaderSize = 12;

struct StreamHeader {
  uint8_t Bytes[kHeaderSize] = {};
  const char* Tag() const { return reinterpret_cast<const char*>(Bytes); }
  int32_t Length = 0;
  bool Complete = false;  // all 12 bytes were there
};

StreamHeader ReadHeader(TStream& stream) {
  StreamHeader h;
  h.Complete = stream.Read(h.Bytes, kHeaderSize) == kHeaderSize;
  h.Length = static_cast<int32_t>(VXLoadU32(h.Bytes + 8));
  return h;
}

// A length that claims more than the stream holds (or is negative) is cut to what is there.
int64_t ClampLength(TStream& stream, int64_t length) { return std::clamp<int64_t>(length, 0, stream.Remaining()); }

using TCodecWrite = void (*)(TStream&, TBitmap&, TIOParamsVals&, TProgressRec&);

// Writes the data behind a placeholder header, then fills the header in.
void WriteFramed(TVXWriteJob& j, const char* tag, bool skipOnAbort, TCodecWrite write) {
  if (!j.Framed) return write(j.Stream, j.Bitmap, j.Params, j.Progress);
  TStream& stream = j.Stream;
  int64_t headerPos = stream.Position();
  const uint8_t placeholder[kHeaderSize] = {};
  stream.WriteBuffer(placeholder, kHeaderSize);
  write(stream, j.Bitmap, j.Params, j.Progress);
  if (skipOnAbort && j.Progress.Aborted()) return;
  int64_t end = stream.Position();
  stream.SetPosition(headerPos);
  stream.WriteBuffer(tag, 4);
  stream.WriteU32(0);
  stream.WriteI32(static_cast<int32_t>(end - headerPos - kHeaderSize));
  stream.SetPosition(end);
}

// The first n bytes of the stream (zeros past its end) read as a zero-terminated string.
bool StartsWithString(TStream& s, const char* text, size_t n) {
  uint8_t head[8] = {};
  s.Read(head, static_cast<int64_t>(n));
  return std::strncmp(reinterpret_cast<const char*>(head), text, n) == 0 && std::memchr(head, 0, n) != nullptr;
}

bool StartsWithBytes(TStream& s, const char* bytes, size_t n) {
  uint8_t head[8] = {};
  s.Read(head, static_cast<int64_t>(n));
  return std::memcmp(head, bytes, n) == 0;
}

// ---------------------------------------------------------------------------
// JPEG

bool TryJpeg(TStream& s) {
  const int64_t start = s.Position(), avail = s.Remaining();
  if (JpegTryStream(s)) return true;
  s.SetPosition(start);
  return avail > 12 && StartsWithString(s, "JFIF", 5);
}

void ReadJpeg(TVXReadJob& j) {
  if (!j.Framed) return ReadJPegStream(j.Stream, j.Bitmap, j.Params, j.Preview, j.Progress);
  // Streams are always checked for a header, whatever StreamHeaders says.
  TStream& stream = j.Stream;
  int64_t start = stream.Position();
  StreamHeader h = ReadHeader(stream);
  bool framed = h.Complete && std::memcmp(h.Tag(), "JFIF", 5) == 0;
  stream.SetPosition(framed ? start + kHeaderSize : start);
  int64_t size = framed ? ClampLength(stream, h.Length) : 0;
  ReadJPegStream(stream, j.Bitmap, j.Params, j.Preview, j.Progress);
  if (framed) stream.SetPosition(start + kHeaderSize + size);
}

void WriteJpeg(TVXWriteJob& j) { WriteFramed(j, "JFIF", false, WriteJPegStream); }

std::string JpegVariant(const TIOParamsVals& p) {
  static const char* const names[] = {"", " Gray level", " YCbCr", " CMYK", " YCbCrK"};
  return p.JPEG_ColorSpace <= ioJPEG_YCbCrK ? names[p.JPEG_ColorSpace] : "";
}

// ---------------------------------------------------------------------------
// GIF

bool TryGif(TStream& s) { return s.Remaining() > 13 && StartsWithBytes(s, "GIF", 3); }

void ReadGifJob(TVXReadJob& j) { ReadGifStream(j.Stream, j.Bitmap, j.Count, j.Params, j.Progress, j.Preview); }

void WriteGifJob(TVXWriteJob& j) { WriteGifStream(j.Stream, j.Bitmap, j.Params, j.Progress); }

std::string GifVariant(const TIOParamsVals& p) { return p.GIF_Interlaced ? " Interlaced" : ""; }

bool GifCoderInstalled(bool write) {
  return write ? DefGIF_LZWCOMPFUNC != nullptr : DefGIF_LZWDECOMPFUNC != nullptr;
}

// ---------------------------------------------------------------------------
// PCX

bool TryPcx(TStream& s) {
  const int64_t start = s.Position(), avail = s.Remaining();
  if (avail > 12 && StartsWithString(s, "PCX2", 5)) return true;
  s.SetPosition(start);
  if (avail > 4 && StartsWithString(s, "PCX", 4)) return true;
  s.SetPosition(start);
  uint8_t head[2] = {};
  s.Read(head, 2);
  // Manufacturer 10 and a version up to 5: weak, but nothing with a signature starts with 10.
  return avail > 128 && head[0] == 0x0A && head[1] <= 5;
}

void ReadPcxJob(TVXReadJob& j) {
  TStream& stream = j.Stream;
  if (!j.Framed || !j.StreamHeaders)
    return ReadPcxStream(stream, j.Bitmap, j.Params, j.Preview, j.Progress, stream.Remaining());
  int64_t start = stream.Position();
  StreamHeader h = ReadHeader(stream);
  if (std::memcmp(h.Tag(), "PCX", 3) != 0) {
    stream.SetPosition(start);
    return j.Progress.Fail(fkCorrupt, "no PCX stream header");
  }
  if (h.Complete && std::memcmp(h.Tag(), "PCX2", 4) == 0) {
    stream.SetPosition(start + kHeaderSize);
    int64_t size = ClampLength(stream, h.Length);
    ReadPcxStream(stream, j.Bitmap, j.Params, j.Preview, j.Progress, size);
    stream.SetPosition(start + kHeaderSize + size);
  } else {
    // The older 4-byte form: the image runs to the end of the stream.
    stream.SetPosition(start + 4);
    ReadPcxStream(stream, j.Bitmap, j.Params, j.Preview, j.Progress, stream.Remaining());
  }
}

void WritePcxJob(TVXWriteJob& j) { WriteFramed(j, "PCX2", true, WritePcxStream); }

// The file load names the file before reading.
void NamePcxFirst(TIOParamsVals& params, const std::string& name, TColor) {
  params.FileName = name;
  params.FileType = ioPCX;
}

std::string PcxVariant(const TIOParamsVals& p) {
  return p.PCX_Compression == ioPCX_UNCOMPRESSED ? " Uncompressed" : "";
}

// ---------------------------------------------------------------------------
// BMP, ICO, CUR

bool TryBmp(TStream& s) { return s.Remaining() > 14 && StartsWithBytes(s, "BM", 2); }

void ReadBmp(TVXReadJob& j) { BMPReadStream(j.Stream, j.Bitmap, j.FileSize, j.Preview, j.Progress, j.Params); }

void WriteBmp(TVXWriteJob& j) { BMPWriteStream(j.Stream, j.Bitmap, j.Params, j.Progress); }

std::string BmpVariant(const TIOParamsVals& p) {
  static const char* const names[] = {" ver.1", " ver.3", " OS/2 v.1", " OS/2 v.2"};
  return p.BMP_Version <= ioBMP_BMOS2V2 ? names[p.BMP_Version] : "";
}

void ReadIco(TVXReadJob& j) { ICOReadStream(j.Stream, j.Bitmap, j.Params, j.Progress, j.Preview); }

void ReadCur(TVXReadJob& j) { CURReadStream(j.Stream, j.Bitmap, j.Params, j.Progress, j.Preview); }

// ---------------------------------------------------------------------------
// TIFF

bool TryTiff(TStream& s) {
  const int64_t start = s.Position(), avail = s.Remaining();
  if (avail > 12 && StartsWithString(s, "TIFF", 5)) return true;
  s.SetPosition(start);
  uint8_t head[2] = {};
  s.Read(head, 2);
  return avail > 8 && ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M'));
}

void ReadTiff(TVXReadJob& j) {
  TStream& stream = j.Stream;
  if (!j.Framed || !j.StreamHeaders)
    return TIFFReadStream(&j.Bitmap, stream, j.Count, &j.Params, j.Progress, j.Preview);
  int64_t start = stream.Position();
  StreamHeader h = ReadHeader(stream);
  if (!h.Complete || std::memcmp(h.Tag(), "TIFF", 4) != 0) {
    stream.SetPosition(start);
    return j.Progress.Fail(fkCorrupt, "no TIFF stream header");
  }
  // A framed page is self-contained (offsets from its own header), and the reader
  // must not wander past the framed length: give it exactly the framed bytes.
  int64_t size = ClampLength(stream, h.Length);
  TMemoryStream data;
  if (size > 0) data.CopyFrom(stream, size);
  data.SetPosition(0);
  TIFFReadStream(&j.Bitmap, data, j.Count, &j.Params, j.Progress, j.Preview);
  stream.SetPosition(start + kHeaderSize + size);
}

// The TIFF writer stores absolute stream positions; a framed page must not depend
// on where the frame sits, so it is written on its own and copied in.
void WriteTiffSelfContained(TStream& s, TBitmap& b, TIOParamsVals& p, TProgressRec& pr) {
  TMemoryStream page;
  TIFFWriteStream(page, false, b, p, pr);
  s.WriteBuffer(page.Memory(), page.Size());
}

void WriteTiff(TVXWriteJob& j) {
  if (!j.Framed) return static_cast<void>(TIFFWriteStream(j.Stream, false, j.Bitmap, j.Params, j.Progress));
  WriteFramed(j, "TIFF", false, WriteTiffSelfContained);
}

std::string TiffVariant(const TIOParamsVals& p) {
  static const char* const names[] = {" Uncompressed", " Huffman", " Group 3 Fax", " Group 3 Fax 2D",
                                      " Group 4 Fax",  " LZW",     " Jpeg v.5",    " Jpeg",
                                      " PackBits RLE"};
  return p.TIFF_Compression <= ioTIFF_PACKBITS ? names[p.TIFF_Compression] : "";
}

// ---------------------------------------------------------------------------
// PNG

bool TryPng(TStream& s) { return s.Remaining() > 8 && IsPNGStream(s); }

void ReadPng(TVXReadJob& j) { ReadPNGStream(j.Stream, j.Bitmap, j.Params, j.Preview, j.Progress); }

void WritePng(TVXWriteJob& j) { WritePNGStream(j.Stream, j.Bitmap, j.Params, j.Progress); }

// The file load hands the component's background to the decoder for transparent pixels.
void PngBackgroundFirst(TIOParamsVals& params, const std::string&, TColor background) {
  params.PNG_Background = TColor2TRGB(ColorToRGB(background));
}

std::string PngVariant(const TIOParamsVals& p) { return p.PNG_Interlaced ? " Interlaced" : ""; }

// ---------------------------------------------------------------------------
// TGA

void ReadTga(TVXReadJob& j) { ReadTGAStream(j.Stream, j.Bitmap, j.Params, j.Preview, j.Progress); }

void WriteTga(TVXWriteJob& j) { WriteTGAStream(j.Stream, j.Bitmap, j.Params, j.Progress); }

std::string TgaVariant(const TIOParamsVals& p) { return p.TGA_Compressed ? " Compressed" : " Uncompressed"; }

// ---------------------------------------------------------------------------

// clang-format off
const TVXBuiltinFormat kFormats[] = {
  {ioJPEG, "FF D8 FF, or the \"JFIF\" stream header tag: strong signatures, asked first",
   "jpg;jpeg;jpe", "jpg;jpeg", TryJpeg, ReadJpeg, WriteJpeg, false, true,
   nullptr, nullptr, nullptr, JpegVariant, nullptr},
  {ioGIF, "\"GIF\": three fixed letters",
   "gif", "gif", TryGif, ReadGifJob, WriteGifJob, false, false,
   nullptr, EnumGifIm, "frames", GifVariant, GifCoderInstalled},
  {ioPCX, "the \"PCX2\" / \"PCX\" stream header tags; then manufacturer byte 10 with version <= 5, which is "
          "weak but shared with no signature of a later row",
   "pcx", "pcx", TryPcx, ReadPcxJob, WritePcxJob, false, true,
   NamePcxFirst, nullptr, nullptr, PcxVariant, nullptr},
  {ioBMP, "\"BM\" and more than a file header: two letters, after the longer signatures",
   "bmp;dib;rle", "bmp", TryBmp, ReadBmp, WriteBmp, false, false,
   nullptr, nullptr, nullptr, BmpVariant, nullptr},
  {ioTIFF, "the \"TIFF\" stream header tag, then the \"II\" / \"MM\" byte-order marks (two letters)",
   "tif;tiff", "tif;tiff", TryTiff, ReadTiff, WriteTiff, false, true,
   nullptr, EnumTIFFIm, "pages", TiffVariant, nullptr},
  {ioPNG, "eight-byte signature; disjoint from every test above, so its place changes nothing",
   "png", "png", TryPng, ReadPng, WritePng, false, true,
   PngBackgroundFirst, nullptr, nullptr, PngVariant, nullptr},
  {ioICO, "no signature, only a plausible directory (reserved 0, type 1, entries in range): after all signatures",
   "ico", "", ICOTryStream, ReadIco, nullptr, false, false,
   nullptr, nullptr, nullptr, nullptr, nullptr},
  {ioCUR, "as ICO with type 2",
   "cur", "", CURTryStream, ReadCur, nullptr, false, false,
   nullptr, nullptr, nullptr, nullptr, nullptr},
  {ioTGA, "no magic number at all, only plausible header fields: last",
   "tga;targa;vda;icb;vst;win", "tga", TryTGA, ReadTga, WriteTga, false, false,
   nullptr, nullptr, nullptr, TgaVariant, nullptr},
  {ioWMF, "not detected: metafiles are imported by extension",
   "wmf", "", nullptr, nullptr, nullptr, true, false,
   nullptr, nullptr, nullptr, nullptr, nullptr},
  {ioEMF, "not detected: metafiles are imported by extension",
   "emf", "", nullptr, nullptr, nullptr, true, false,
   nullptr, nullptr, nullptr, nullptr, nullptr},
};
// clang-format on

bool ListsExtension(const char* list, const std::string& ext) {
  if (ext.empty()) return false;
  for (const char* p = list; *p;) {
    const char* end = std::strchr(p, ';');
    size_t n = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (n == ext.size() && ext.compare(0, n, p, n) == 0) return true;
    if (!end) break;
    p = end + 1;
  }
  return false;
}

bool Installed(const TVXBuiltinFormat& f, bool write) { return !f.CoderInstalled || f.CoderInstalled(write); }

}  // namespace

int VXBuiltinFormatCount() { return static_cast<int>(std::size(kFormats)); }

const TVXBuiltinFormat& VXBuiltinFormatAt(int index) { return kFormats[index]; }

const TVXBuiltinFormat* VXBuiltinFormat(int fileType) {
  for (const auto& f : kFormats)
    if (f.FileType == fileType) return &f;
  return nullptr;
}

const TVXBuiltinFormat* VXBuiltinFormatForRead(const std::string& extension) {
  for (const auto& f : kFormats)
    if (ListsExtension(f.ReadExtensions, extension)) return &f;
  return nullptr;
}

const TVXBuiltinFormat* VXBuiltinFormatForWrite(const std::string& extension) {
  for (const auto& f : kFormats)
    if (ListsExtension(f.WriteExtensions, extension)) return &f;
  return nullptr;
}

int VXBuiltinDetect(TStream& stream) {
  const int64_t start = stream.Position();
  for (const auto& f : kFormats) {
    if (!f.Try) continue;
    stream.SetPosition(start);
    if (f.Try(stream)) return f.FileType;
  }
  return ioUnknown;
}

bool VXFileFormatCanRead(int fileType) {
  const TVXBuiltinFormat* f = VXBuiltinFormat(fileType);
  if (f && (f->Read || f->Imported) && Installed(*f, false)) return true;
  const TVXFileFormatInfo* info = VXFileFormatGetInfo(fileType);
  return info && info->ReadFunction;
}

bool VXFileFormatCanWrite(int fileType) {
  const TVXBuiltinFormat* f = VXBuiltinFormat(fileType);
  if (f && f->Write && Installed(*f, true)) return true;
  const TVXFileFormatInfo* info = VXFileFormatGetInfo(fileType);
  return info && info->WriteFunction;
}

// Defined beside the table it reads; the parameter record itself knows no formats.
std::string TIOParamsVals::GetFileTypeStr() const {
  std::string s;
  if (const TVXFileFormatInfo* info = VXFileFormatGetInfo(FileType)) {
    std::string ext = VXFileFormatGetExt(FileType, 0);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    s = info->FullName + " (" + ext + ")";
  }
  if (const TVXBuiltinFormat* f = VXBuiltinFormat(FileType); f && f->Variant) s += f->Variant(*this);
  return s;
}

}  // namespace vexa
