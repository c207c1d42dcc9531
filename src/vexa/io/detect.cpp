#include "vexa/io/detect.h"

#include <cctype>
#include <cstring>

#include "vexa/codecs/bmp.h"
#include "vexa/codecs/jpeg.h"
#include "vexa/codecs/png.h"
#include "vexa/codecs/tga.h"
#include "vexa/io/formats.h"
#include "vexa/io/ioparams.h"

namespace vexa {

namespace {

// Restores the position whatever a test does to the stream.
class PositionGuard {
 public:
  PositionGuard(TStream& s, int64_t pos) : FStream(s), FPos(pos) {}
  ~PositionGuard() {
    try {
      FStream.SetPosition(FPos);
    } catch (...) {
    }
  }

 private:
  TStream& FStream;
  int64_t FPos;
};

int Detect(TStream& stream, int64_t start, int64_t size) {
  for (int i = 0; i < VXFileFormatCount(); ++i) {
    const TVXFileFormatInfo* info = VXFileFormatAt(i);
    if (!info || !info->TryFunction) continue;
    stream.SetPosition(start);
    bool hit = info->TryFunction(stream);
    stream.SetPosition(start);
    if (hit) return info->FileType;
  }

  stream.SetPosition(start);
  if (JpegTryStream(stream)) return ioJPEG;

  // Sizes below count from the start position: a stream may hold an image after other data.
  uint8_t head[16] = {};
  stream.SetPosition(start);
  stream.Read(head, sizeof head);
  int64_t avail = size - start;
  auto asString = [&](size_t n, const char* s) {  // first n bytes read as a zero-terminated string
    return std::strncmp(reinterpret_cast<const char*>(head), s, n) == 0 && std::memchr(head, 0, n) != nullptr;
  };
  if (avail > 12 && asString(5, "JFIF")) return ioJPEG;
  if (avail > 13 && std::memcmp(head, "GIF", 3) == 0) return ioGIF;
  if (avail > 12 && asString(5, "PCX2")) return ioPCX;
  if (avail > 4 && asString(4, "PCX")) return ioPCX;
  if (avail > 14 && head[0] == 'B' && head[1] == 'M') return ioBMP;
  if (avail > 128 && head[0] == 0x0A && head[1] <= 5) return ioPCX;
  if (avail > 12 && asString(5, "TIFF")) return ioTIFF;
  if (avail > 8 && ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M'))) return ioTIFF;
  stream.SetPosition(start);
  if (avail > 8 && IsPNGStream(stream)) return ioPNG;
  stream.SetPosition(start);
  if (ICOTryStream(stream)) return ioICO;
  stream.SetPosition(start);
  if (CURTryStream(stream)) return ioCUR;
  stream.SetPosition(start);
  if (TryTGA(stream)) return ioTGA;
  return ioUnknown;
}

}  // namespace

std::string VXExtractFileExt(const std::string& name) {
  size_t slash = name.find_last_of('/');
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

int FindStreamFormat(TStream& stream) {
  int64_t start = 0;
  try {
    start = stream.Position();
  } catch (...) {
    return ioUnknown;
  }
  PositionGuard guard(stream, start);
  try {
    return Detect(stream, start, stream.Size());
  } catch (...) {
    return ioUnknown;
  }
}

int FindFileFormat(const std::string& name, bool verifyExtension) {
  int type = ioUnknown;
  try {
    TFileStream f(name, fmOpenRead);
    type = FindStreamFormat(f);
  } catch (...) {
    return ioUnknown;
  }
  if (verifyExtension) {
    const TVXFileFormatInfo* info = VXFileFormatGetInfo2(VXExtractFileExt(name));
    if (!info || info->FileType != type) return ioUnknown;
  }
  return type;
}

}  // namespace vexa
