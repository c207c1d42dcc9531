#include "vexa/io/detect.h"

#include <cctype>
#include <cstring>

#include "vexa/io/formats.h"
#include "vexa/io/formattable.h"
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

int Detect(TStream& stream, int64_t start) {
  for (int i = 0; i < VXFileFormatCount(); ++i) {
    const TVXFileFormatInfo* info = VXFileFormatAt(i);
    if (!info || !info->TryFunction) continue;
    stream.SetPosition(start);
    bool hit = info->TryFunction(stream);
    stream.SetPosition(start);
    if (hit) return info->FileType;
  }

  // Sizes count from the start position: a stream may hold an image after other data.
  stream.SetPosition(start);
  return VXBuiltinDetect(stream);
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
    return Detect(stream, start);
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
