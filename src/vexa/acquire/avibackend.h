// The boundary between the AVI module (avi.h) and its FFmpeg half.
//
// The FFmpeg half lives in a library of its own, libvexa-avi.so, loaded the first
// time a program touches an AVI: linked directly, FFmpeg drags about 120 shared
// libraries and 25 MB into every program at start-up, video or not. Both sides are
// built together, so the boundary is plain C++; only the entry point is unmangled.
// Frames cross it as top-down BGR rows; bitmaps and limits stay on the core side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vexa::avi {

/// Raised whenever this boundary changes, so a stale module is refused.
inline constexpr int kBackendVersion = 2;

/// One decoded frame: Height rows of Width BGR triplets, Stride bytes apart.
struct TFrame {
  const uint8_t* Rows = nullptr;
  int Stride = 0, Width = 0, Height = 0;
  int BitCount = 24;  ///< bits per pixel before conversion (1, 8 or 24)
};

class TDecoder {
 public:
  virtual ~TDecoder() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual int FrameCount() const = 0;
  virtual int FrameDelay() const = 0;
  /// The next frame, valid until the next call; false at the end or on bad data
  /// (error set for bad data).
  virtual bool Next(TFrame& frame, std::string& error) = 0;
};

class TEncoder {
 public:
  virtual ~TEncoder() = default;
  /// One frame of the created size, rows top-down from `top`, `stride` bytes apart
  /// (negative for bottom-up storage).
  virtual bool Write(const uint8_t* top, ptrdiff_t stride, std::string& error) = 0;
  /// Interleaved signed 16-bit samples for the audio track (false without one).
  virtual bool WriteAudio(const int16_t* samples, int frames, std::string& error) = 0;
  virtual bool Finish(std::string& error) = 0;
};

/// The default sound input, read without blocking.
class TAudioInput {
 public:
  virtual ~TAudioInput() = default;
  /// Up to maxFrames interleaved frames captured so far; 0 when none are waiting.
  virtual int Read(int16_t* samples, int maxFrames) = 0;
};

/// Decides whether a frame of this size may be decoded (the bitmap size limit).
using TSizeCheck = std::function<bool(int width, int height)>;

enum TCreateResult { crOK, crCannotCreate, crFailed };

struct TBackend {
  int Version;
  bool (*HasEncoder)(const char* name);
  /// Opens a file (url) or, when url is null, `size` bytes at `data` that outlive
  /// the decoder. Null with `error` set when it is not a decodable AVI.
  TDecoder* (*OpenDecoder)(const char* url, const uint8_t* data, size_t size, uint64_t maxPixels,
                           const TSizeCheck& sizeOk, std::string& error);
  /// audioRate and audioChannels both above 0 add a 16-bit PCM track.
  TEncoder* (*CreateEncoder)(const char* fileName, int width, int height, int framesPerSecond,
                             const char* encoder, int quality, int audioRate, int audioChannels,
                             TCreateResult& result, std::string& error);
  /// Opens and starts the default capture input; null with `error` set when there is none.
  TAudioInput* (*OpenAudioInput)(int rate, int channels, std::string& error);
};

}  // namespace vexa::avi

/// The module's one exported symbol.
extern "C" const vexa::avi::TBackend* VexaAviBackend();
