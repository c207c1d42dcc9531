// AVI video files in and out of bitmaps, through the FFmpeg libraries.
//
// Reading opens an AVI container (file or memory), takes its best video stream,
// decodes every frame FFmpeg has a decoder for and converts it to a pf24bit
// bitmap. Frames keep their own size (a stream may change size midway). Data that
// cannot be decoded ends the frames early; nothing is read outside the input and
// frames beyond the bitmap size limit are refused.
//
// Writing makes an AVI with one video stream, every frame a key frame, at a whole
// number of frames per second, with one of the encoders VXAviEncoders lists.
// Uncompressed BGR and FFV1 keep the pixels exactly; Motion JPEG and MPEG-4 are
// lossy (Quality 1..100).
//
// The FFmpeg half is a library of its own (libvexa-avi.so, see avibackend.h),
// loaded on first use: from $VEXA_AVI_MODULE, beside the library holding this code,
// where the build put it, then by the system's search. Without it nothing here
// works and every call says why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vexa/core/bitmap.h"

namespace vexa {

struct TVXAviEncoder {
  std::string Name;         ///< FFmpeg encoder name ("rawvideo", "mjpeg", ...)
  std::string Description;  ///< what the compression options dialog shows
};

/// The encoders this FFmpeg build offers for AVI, in the order to offer them
/// (none when the FFmpeg half cannot be loaded).
std::vector<TVXAviEncoder> VXAviEncoders();

/// Loads the FFmpeg half if it is not loaded yet; false with the reason in `why`
/// when it cannot be.
bool VXAviAvailable(std::string* why = nullptr);

/// Uncompressed BGR: exact and always built.
inline constexpr const char* kVXAviDefaultEncoder = "rawvideo";

struct TVXAviOptions {
  /// Empty: ask through gVXAviOptionsDialog (or take the default encoder when none is set).
  std::string Encoder;
  int Quality = 90;
  /// A 16-bit PCM audio track beside the video when both are set (WriteAudio fills it).
  int AudioSampleRate = 0;
  int AudioChannels = 0;
  friend bool operator==(const TVXAviOptions&, const TVXAviOptions&) = default;
};

/// The compression options dialog; false when the user cancelled. The UI layer
/// installs it; without one the default encoder is used.
using TVXAviOptionsDialog = std::function<bool(TVXAviOptions& options)>;
extern TVXAviOptionsDialog gVXAviOptionsDialog;

class TVXAviReader {
 public:
  TVXAviReader();
  ~TVXAviReader();
  TVXAviReader(const TVXAviReader&) = delete;
  TVXAviReader& operator=(const TVXAviReader&) = delete;

  /// False when the file is not an AVI with a decodable video stream (Error says why).
  bool Open(const std::string& fileName);
  /// As Open over bytes that must outlive the reader.
  bool OpenMemory(const uint8_t* data, size_t size);
  void Close();

  /// The stream's declared frame count (0 when it declares none).
  int FrameCount() const { return FFrameCount; }
  /// Milliseconds per frame from the stream's time base, truncated.
  int FrameDelay() const { return FFrameDelay; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  /// Bits per pixel of the last decoded frame before conversion to 24 bits
  /// (1, 8 for palette and grey formats, else 24).
  int SourceBitCount() const { return FBitCount; }
  /// Decodes the next frame into bmp (pf24bit); false at the end or on bad data.
  bool ReadFrame(TBitmap& bmp);
  const std::string& Error() const { return FError; }

 private:
  struct Impl;
  bool Start(const char* url, const uint8_t* data, size_t size);
  std::unique_ptr<Impl> FImpl;
  int FFrameCount = 0, FFrameDelay = 0, FWidth = 0, FHeight = 0, FBitCount = 24;
  std::string FError;
};

enum TVXAviCreateResult { vxacOK, vxacCannotCreate, vxacFailed };

class TVXAviWriter {
 public:
  TVXAviWriter();
  ~TVXAviWriter();
  TVXAviWriter(const TVXAviWriter&) = delete;
  TVXAviWriter& operator=(const TVXAviWriter&) = delete;

  /// vxacCannotCreate when the file cannot be opened for writing; vxacFailed when
  /// the encoder is missing or refuses the size (Error says why).
  TVXAviCreateResult Create(const std::string& fileName, int width, int height, int framesPerSecond,
                            const TVXAviOptions& options);
  /// Encodes one frame of the created size (pf1bit and pf24bit).
  bool WriteFrame(const TBitmap& bmp);
  /// Appends interleaved signed 16-bit samples (frames x channels) to the audio track.
  bool WriteAudio(const int16_t* samples, int frames);
  /// Flushes the encoder and writes the index; the file is complete afterwards.
  bool Finish();
  const std::string& Error() const { return FError; }

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
  std::string FError;
};

/// The default sound input (ALSA, reaching PulseAudio through its plug-in), read
/// without blocking beside a recording; 16-bit stereo at 44100 Hz.
class TVXAudioInput {
 public:
  TVXAudioInput();
  ~TVXAudioInput();
  TVXAudioInput(const TVXAudioInput&) = delete;
  TVXAudioInput& operator=(const TVXAudioInput&) = delete;

  /// Opens and starts the input; false with why set when there is none.
  bool Open(std::string& why);
  int SampleRate() const { return FRate; }
  int Channels() const { return FChannels; }
  /// Moves every sample captured so far into the writer's audio track.
  void Drain(TVXAviWriter& writer);

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
  int FRate = 44100, FChannels = 2;
};

}  // namespace vexa
