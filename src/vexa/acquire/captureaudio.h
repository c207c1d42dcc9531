// The default audio input (ALSA, which reaches PulseAudio through its plug-in),
// read without blocking beside a video recording.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vexa {

class TVXAviWriter;

class TVXAudioInput {
 public:
  TVXAudioInput();
  ~TVXAudioInput();
  TVXAudioInput(const TVXAudioInput&) = delete;
  TVXAudioInput& operator=(const TVXAudioInput&) = delete;

  /// Opens and starts the default capture device; false with why set when there
  /// is none (or the library was built without ALSA).
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
