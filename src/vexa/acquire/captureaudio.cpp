#include "vexa/acquire/captureaudio.h"

#include <vector>

#include "vexa/acquire/avi.h"

#ifndef VEXA_NO_ALSA
#include <alsa/asoundlib.h>
#endif

namespace vexa {

#ifndef VEXA_NO_ALSA

struct TVXAudioInput::Impl {
  snd_pcm_t* Pcm = nullptr;
  std::vector<int16_t> Buffer;
  ~Impl() {
    if (Pcm) snd_pcm_close(Pcm);
  }
};

TVXAudioInput::TVXAudioInput() = default;
TVXAudioInput::~TVXAudioInput() = default;

namespace {
// ALSA prints its configuration errors on stderr; the failure is reported through why.
void Quiet(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

bool TVXAudioInput::Open(std::string& why) {
  snd_lib_error_set_handler(Quiet);
  auto m = std::make_unique<Impl>();
  int rc = snd_pcm_open(&m->Pcm, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (rc < 0) {
    m->Pcm = nullptr;
    why = std::string("no audio input: ") + snd_strerror(rc);
    return false;
  }
  unsigned rate = static_cast<unsigned>(FRate);
  rc = snd_pcm_set_params(m->Pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                          static_cast<unsigned>(FChannels), rate, 1, 500000);
  if (rc < 0 || (rc = snd_pcm_start(m->Pcm)) < 0) {
    why = std::string("the audio input refuses 16-bit stereo: ") + snd_strerror(rc);
    return false;
  }
  m->Buffer.resize(static_cast<size_t>(FRate / 10) * static_cast<size_t>(FChannels));
  FImpl = std::move(m);
  return true;
}

void TVXAudioInput::Drain(TVXAviWriter& writer) {
  if (!FImpl) return;
  const snd_pcm_uframes_t room = FImpl->Buffer.size() / static_cast<size_t>(FChannels);
  for (;;) {
    snd_pcm_sframes_t n = snd_pcm_readi(FImpl->Pcm, FImpl->Buffer.data(), room);
    if (n == -EAGAIN) return;
    if (n < 0) {
      // An overrun loses samples but the recording goes on.
      if (snd_pcm_recover(FImpl->Pcm, static_cast<int>(n), 1) < 0) return;
      continue;
    }
    if (n == 0) return;
    writer.WriteAudio(FImpl->Buffer.data(), static_cast<int>(n));
  }
}

#else

struct TVXAudioInput::Impl {};
TVXAudioInput::TVXAudioInput() = default;
TVXAudioInput::~TVXAudioInput() = default;
bool TVXAudioInput::Open(std::string& why) {
  why = "built without audio input support";
  return false;
}
void TVXAudioInput::Drain(TVXAviWriter&) {}

#endif

}  // namespace vexa
