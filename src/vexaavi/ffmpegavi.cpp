// libvexa-avi: AVI reading and writing through the FFmpeg libraries, loaded by the
// AVI module (vexa/acquire/avi.cpp) on first use.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "vexa/acquire/avibackend.h"

#ifndef VEXA_NO_ALSA
#include <alsa/asoundlib.h>
#endif

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace vexa::avi {
namespace {

std::string AvError(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}

struct MemoryInput {
  const uint8_t* Data = nullptr;
  int64_t Size = 0, Pos = 0;
};

int MemoryRead(void* opaque, uint8_t* buf, int size) {
  auto* in = static_cast<MemoryInput*>(opaque);
  int64_t n = std::min<int64_t>(size, in->Size - in->Pos);
  if (n <= 0) return AVERROR_EOF;
  std::memcpy(buf, in->Data + in->Pos, static_cast<size_t>(n));
  in->Pos += n;
  return static_cast<int>(n);
}

int64_t MemorySeek(void* opaque, int64_t offset, int whence) {
  auto* in = static_cast<MemoryInput*>(opaque);
  int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
      return in->Size;
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = in->Pos;
      break;
    case SEEK_END:
      base = in->Size;
      break;
    default:
      return -1;
  }
  int64_t pos = base + offset;
  if (pos < 0 || pos > in->Size) return -1;
  in->Pos = pos;
  return pos;
}

bool HasEncoder(const char* name) { return avcodec_find_encoder_by_name(name) != nullptr; }

// ---------------------------------------------------------------------------
// Reading

class Decoder final : public TDecoder {
 public:
  ~Decoder() override {
    sws_freeContext(Sws);
    av_packet_free(&Packet);
    av_frame_free(&Frame);
    avcodec_free_context(&Dec);
    avformat_close_input(&Fmt);
    if (Avio) {
      av_freep(&Avio->buffer);
      avio_context_free(&Avio);
    }
  }

  bool Open(const char* url, const uint8_t* data, size_t size, uint64_t maxPixels, const TSizeCheck& sizeOk,
            std::string& error);
  int Width() const override { return FWidth; }
  int Height() const override { return FHeight; }
  int FrameCount() const override { return FFrameCount; }
  int FrameDelay() const override { return FFrameDelay; }
  bool Next(TFrame& frame, std::string& error) override;

 private:
  AVFormatContext* Fmt = nullptr;
  AVIOContext* Avio = nullptr;
  MemoryInput Memory;
  AVCodecContext* Dec = nullptr;
  SwsContext* Sws = nullptr;
  AVFrame* Frame = nullptr;
  AVPacket* Packet = nullptr;
  int Stream = -1;
  bool Flushed = false;
  TSizeCheck SizeOk;
  // Converted rows land here: swscale may write a little past a row's width.
  std::vector<uint8_t> Rows;
  int FWidth = 0, FHeight = 0, FFrameCount = 0, FFrameDelay = 0;
};

bool Decoder::Open(const char* url, const uint8_t* data, size_t size, uint64_t maxPixels, const TSizeCheck& sizeOk,
                   std::string& error) {
  SizeOk = sizeOk;
  auto fail = [&](const std::string& why) {
    error = why;
    return false;
  };
  if (!url) {
    Memory = MemoryInput{data, static_cast<int64_t>(size), 0};
    constexpr int kBufSize = 32768;
    auto* buf = static_cast<uint8_t*>(av_malloc(kBufSize));
    if (!buf) return fail("out of memory");
    Avio = avio_alloc_context(buf, kBufSize, 0, &Memory, MemoryRead, nullptr, MemorySeek);
    if (!Avio) {
      av_free(buf);
      return fail("out of memory");
    }
  }
  Fmt = avformat_alloc_context();
  if (!Fmt) return fail("out of memory");
  if (Avio) {
    Fmt->pb = Avio;
    Fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  // Only the AVI demuxer: the caller asked for an AVI, and probing every format
  // would let any file through.
  const AVInputFormat* avi = av_find_input_format("avi");
  int rc = avformat_open_input(&Fmt, url ? url : "", avi, nullptr);
  if (rc < 0) {
    Fmt = nullptr;  // freed by the failed open
    return fail("cannot open AVI: " + AvError(rc));
  }
  // The AVI headers name the codec, size and rate: no probing by decoding is needed,
  // and none happens before the size check below.
  const AVCodec* codec = nullptr;
  Stream = av_find_best_stream(Fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (Stream < 0 || !codec) return fail("no decodable video stream");
  AVStream* st = Fmt->streams[Stream];
  Dec = avcodec_alloc_context3(codec);
  if (!Dec || avcodec_parameters_to_context(Dec, st->codecpar) < 0) return fail("cannot set up the decoder");
  // Everything runs on the caller's thread, and the frames must not depend on timing.
  Dec->thread_count = 1;
  if (maxPixels > 0) Dec->max_pixels = static_cast<int64_t>(std::min<uint64_t>(maxPixels, INT64_MAX));
  if (st->codecpar->width > 0 && !SizeOk(st->codecpar->width, st->codecpar->height))
    return fail("frame size beyond the bitmap limit");
  if ((rc = avcodec_open2(Dec, codec, nullptr)) < 0) return fail("cannot open the decoder: " + AvError(rc));
  Frame = av_frame_alloc();
  Packet = av_packet_alloc();
  if (!Frame || !Packet) return fail("out of memory");

  FWidth = st->codecpar->width;
  FHeight = st->codecpar->height;
  FFrameCount = static_cast<int>(std::clamp<int64_t>(st->nb_frames, 0, INT32_MAX));
  const AVRational tb = st->time_base;
  FFrameDelay = tb.den > 0 && tb.num > 0 ? static_cast<int>(std::min<int64_t>(1000LL * tb.num / tb.den, INT32_MAX)) : 0;
  return true;
}

bool Decoder::Next(TFrame& out, std::string& error) {
  for (;;) {
    int rc = avcodec_receive_frame(Dec, Frame);
    if (rc == 0) break;
    if (rc != AVERROR(EAGAIN)) return false;  // end of stream or a decoder failure
    if (Flushed) return false;
    rc = av_read_frame(Fmt, Packet);
    if (rc < 0) {
      Flushed = true;
      avcodec_send_packet(Dec, nullptr);
      continue;
    }
    if (Packet->stream_index == Stream) {
      // A damaged packet is skipped; the stream may recover at the next key frame.
      avcodec_send_packet(Dec, Packet);
    }
    av_packet_unref(Packet);
  }
  AVFrame* f = Frame;
  const int w = f->width, h = f->height;
  const int stride = (w * 3 + 63) & ~63;
  bool ok = w > 0 && h > 0 && f->format >= 0 && SizeOk(w, h);
  if (ok) {
    Sws = sws_getCachedContext(Sws, w, h, static_cast<AVPixelFormat>(f->format), w, h, AV_PIX_FMT_BGR24, SWS_BICUBIC,
                               nullptr, nullptr, nullptr);
    ok = Sws != nullptr;
  }
  if (ok) {
    Rows.assign(static_cast<size_t>(stride) * static_cast<size_t>(h) + 64, 0);
    uint8_t* dst[4] = {Rows.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {stride, 0, 0, 0};
    ok = sws_scale(Sws, f->data, f->linesize, 0, h, dst, dstStride) == h;
  }
  if (ok) {
    out = TFrame{Rows.data(), stride, w, h, 24};
    if (const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format))) {
      if (desc->flags & AV_PIX_FMT_FLAG_PAL)
        out.BitCount = 8;
      else if (desc->nb_components == 1)
        out.BitCount = desc->comp[0].depth == 1 ? 1 : 8;
    }
  }
  av_frame_unref(f);
  if (!ok) error = "undecodable frame";
  return ok;
}

TDecoder* OpenDecoder(const char* url, const uint8_t* data, size_t size, uint64_t maxPixels,
                      const TSizeCheck& sizeOk, std::string& error) {
  auto d = std::make_unique<Decoder>();
  if (!d->Open(url, data, size, maxPixels, sizeOk, error)) return nullptr;
  return d.release();
}

// ---------------------------------------------------------------------------
// Writing

// The most faithful pixel format the encoder takes: RGB ones first, full chroma next.
AVPixelFormat ChoosePixelFormat(const AVCodec* codec) {
  static const AVPixelFormat kPreferred[] = {AV_PIX_FMT_BGR24,    AV_PIX_FMT_BGR0,     AV_PIX_FMT_RGB24,
                                             AV_PIX_FMT_0RGB32,   AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV444P,
                                             AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P};
  if (!codec->pix_fmts) return AV_PIX_FMT_BGR24;
  for (AVPixelFormat want : kPreferred)
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
      if (*p == want) return want;
  return codec->pix_fmts[0];
}

class Encoder final : public TEncoder {
 public:
  ~Encoder() override {
    sws_freeContext(Sws);
    av_packet_free(&Packet);
    av_frame_free(&Frame);
    avcodec_free_context(&Enc);
    if (Fmt) {
      if (Fmt->pb) avio_closep(&Fmt->pb);
      avformat_free_context(Fmt);
    }
  }
  TCreateResult Create(const char* fileName, int width, int height, int framesPerSecond, const char* encoder,
                       int quality, int audioRate, int audioChannels, std::string& error);
  bool Write(const uint8_t* top, ptrdiff_t stride, std::string& error) override;
  bool WriteAudio(const int16_t* samples, int frames, std::string& error) override;
  bool Finish(std::string& error) override;

 private:
  bool Drain(bool flush, std::string& error);
  AVFormatContext* Fmt = nullptr;
  AVCodecContext* Enc = nullptr;
  AVStream* Stream = nullptr;
  AVStream* Audio = nullptr;
  int AudioChannels = 0, AudioRate = 0;
  int64_t AudioPts = 0;
  SwsContext* Sws = nullptr;
  AVFrame* Frame = nullptr;
  AVPacket* Packet = nullptr;
  int64_t Pts = 0;
  int Height = 0;
};

TCreateResult Encoder::Create(const char* fileName, int width, int height, int framesPerSecond, const char* name,
                              int quality, int audioRate, int audioChannels, std::string& error) {
  auto fail = [&](TCreateResult r, const std::string& why) {
    error = why;
    return r;
  };
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) return fail(crFailed, std::string("encoder not available: ") + name);
  if (avformat_alloc_output_context2(&Fmt, nullptr, "avi", fileName) < 0 || !Fmt)
    return fail(crFailed, "AVI muxer not available");
  Stream = avformat_new_stream(Fmt, nullptr);
  Enc = avcodec_alloc_context3(codec);
  if (!Stream || !Enc) return fail(crFailed, "out of memory");
  const int fps = std::clamp(framesPerSecond, 1, 1000);
  Enc->width = width;
  Enc->height = Height = height;
  Enc->time_base = AVRational{1, fps};
  Enc->framerate = AVRational{fps, 1};
  Enc->pix_fmt = ChoosePixelFormat(codec);
  Enc->gop_size = 0;  // every frame a key frame
  Enc->thread_count = 1;
  if (codec->id == AV_CODEC_ID_MJPEG || codec->id == AV_CODEC_ID_MPEG4) {
    // Quality 100 -> quantiser 2, 1 -> 31.
    const int q = 31 - (std::clamp(quality, 1, 100) - 1) * 29 / 99;
    Enc->flags |= AV_CODEC_FLAG_QSCALE;
    Enc->global_quality = FF_QP2LAMBDA * q;
  }
  if (Fmt->oformat->flags & AVFMT_GLOBALHEADER) Enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int rc = avcodec_open2(Enc, codec, nullptr);
  if (rc < 0) return fail(crFailed, "cannot open the encoder: " + AvError(rc));
  if (avcodec_parameters_from_context(Stream->codecpar, Enc) < 0) return fail(crFailed, "encoder parameters");
  Stream->time_base = Enc->time_base;
  Stream->avg_frame_rate = Enc->framerate;
  if (audioRate > 0 && audioChannels > 0) {
    // PCM needs no encoder: packets carry the samples as they are.
    if (!(Audio = avformat_new_stream(Fmt, nullptr))) return fail(crFailed, "out of memory");
    AVCodecParameters* a = Audio->codecpar;
    a->codec_type = AVMEDIA_TYPE_AUDIO;
    a->codec_id = AV_CODEC_ID_PCM_S16LE;
    a->sample_rate = audioRate;
    av_channel_layout_default(&a->ch_layout, audioChannels);
    a->bits_per_coded_sample = 16;
    a->block_align = 2 * audioChannels;
    a->bit_rate = int64_t{16} * audioChannels * audioRate;
    a->format = AV_SAMPLE_FMT_S16;
    Audio->time_base = AVRational{1, audioRate};
    AudioChannels = audioChannels;
    AudioRate = audioRate;
  }
  if ((rc = avio_open(&Fmt->pb, fileName, AVIO_FLAG_WRITE)) < 0)
    return fail(crCannotCreate, std::string("cannot create ") + fileName + ": " + AvError(rc));
  if ((rc = avformat_write_header(Fmt, nullptr)) < 0) return fail(crFailed, "cannot write the header: " + AvError(rc));
  Frame = av_frame_alloc();
  Packet = av_packet_alloc();
  if (!Frame || !Packet) return fail(crFailed, "out of memory");
  Frame->format = Enc->pix_fmt;
  Frame->width = width;
  Frame->height = height;
  if (av_frame_get_buffer(Frame, 0) < 0) return fail(crFailed, "out of memory");
  Sws = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, Enc->pix_fmt, SWS_BICUBIC, nullptr, nullptr,
                       nullptr);
  if (!Sws) return fail(crFailed, "no conversion to the encoder's pixel format");
  return crOK;
}

bool Encoder::Drain(bool flush, std::string& error) {
  for (;;) {
    int rc = avcodec_receive_packet(Enc, Packet);
    if (rc == AVERROR(EAGAIN) && !flush) return true;
    if (rc == AVERROR_EOF) return true;
    if (rc < 0) {
      error = "encoding failed: " + AvError(rc);
      return false;
    }
    av_packet_rescale_ts(Packet, Enc->time_base, Stream->time_base);
    Packet->stream_index = Stream->index;
    rc = av_interleaved_write_frame(Fmt, Packet);
    if (rc < 0) {
      error = "writing failed: " + AvError(rc);
      return false;
    }
  }
}

bool Encoder::Write(const uint8_t* top, ptrdiff_t stride, std::string& error) {
  if (av_frame_make_writable(Frame) < 0) {
    error = "out of memory";
    return false;
  }
  const uint8_t* srcData[4] = {top, nullptr, nullptr, nullptr};
  int srcStride[4] = {static_cast<int>(stride), 0, 0, 0};
  sws_scale(Sws, srcData, srcStride, 0, Height, Frame->data, Frame->linesize);
  Frame->pts = Pts++;
  Frame->pict_type = AV_PICTURE_TYPE_I;
  int rc = avcodec_send_frame(Enc, Frame);
  if (rc < 0) {
    error = "encoding failed: " + AvError(rc);
    return false;
  }
  return Drain(false, error);
}

bool Encoder::WriteAudio(const int16_t* samples, int frames, std::string& error) {
  if (!Audio || frames <= 0) return false;
  AVPacket* pkt = av_packet_alloc();
  const int bytes = frames * 2 * AudioChannels;
  bool ok = pkt && av_new_packet(pkt, bytes) == 0;
  if (ok) {
    std::memcpy(pkt->data, samples, static_cast<size_t>(bytes));
    pkt->pts = pkt->dts = AudioPts;
    pkt->duration = frames;
    pkt->stream_index = Audio->index;
    pkt->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(pkt, AVRational{1, AudioRate}, Audio->time_base);
    AudioPts += frames;
    const int rc = av_interleaved_write_frame(Fmt, pkt);
    if (rc < 0) error = "writing audio failed: " + AvError(rc);
    ok = rc >= 0;
  }
  av_packet_free(&pkt);
  return ok;
}

bool Encoder::Finish(std::string& error) {
  bool ok = avcodec_send_frame(Enc, nullptr) >= 0 && Drain(true, error);
  ok = av_write_trailer(Fmt) >= 0 && ok;
  ok = avio_closep(&Fmt->pb) >= 0 && ok;
  return ok;
}

TEncoder* CreateEncoder(const char* fileName, int width, int height, int framesPerSecond, const char* encoder,
                        int quality, int audioRate, int audioChannels, TCreateResult& result, std::string& error) {
  auto e = std::make_unique<Encoder>();
  result = e->Create(fileName, width, height, framesPerSecond, encoder, quality, audioRate, audioChannels, error);
  return result == crOK ? e.release() : nullptr;
}

// ---------------------------------------------------------------------------
// Sound input: ALSA's default device (which reaches PulseAudio through its plug-in).

#ifndef VEXA_NO_ALSA

// ALSA prints its configuration errors on stderr; the failure is reported through error.
void Quiet(const char*, int, const char*, int, const char*, ...) {}

class AlsaInput final : public TAudioInput {
 public:
  explicit AlsaInput(snd_pcm_t* pcm) : Pcm(pcm) {}
  ~AlsaInput() override { snd_pcm_close(Pcm); }
  int Read(int16_t* samples, int maxFrames) override {
    for (;;) {
      const snd_pcm_sframes_t n = snd_pcm_readi(Pcm, samples, static_cast<snd_pcm_uframes_t>(maxFrames));
      if (n >= 0) return static_cast<int>(n);
      if (n == -EAGAIN) return 0;
      // An overrun loses samples but the recording goes on.
      if (snd_pcm_recover(Pcm, static_cast<int>(n), 1) < 0) return 0;
    }
  }

 private:
  snd_pcm_t* Pcm;
};

TAudioInput* OpenAudioInput(int rate, int channels, std::string& error) {
  snd_lib_error_set_handler(Quiet);
  snd_pcm_t* pcm = nullptr;
  int rc = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (rc < 0) {
    error = std::string("no audio input: ") + snd_strerror(rc);
    return nullptr;
  }
  rc = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, static_cast<unsigned>(channels),
                          static_cast<unsigned>(rate), 1, 500000);
  if (rc < 0 || (rc = snd_pcm_start(pcm)) < 0) {
    error = std::string("the audio input refuses 16-bit PCM: ") + snd_strerror(rc);
    snd_pcm_close(pcm);
    return nullptr;
  }
  return new AlsaInput(pcm);
}

#else

TAudioInput* OpenAudioInput(int, int, std::string& error) {
  error = "built without audio input support";
  return nullptr;
}

#endif

const TBackend kBackend = {kBackendVersion, HasEncoder, OpenDecoder, CreateEncoder, OpenAudioInput};

}  // namespace
}  // namespace vexa::avi

extern "C" __attribute__((visibility("default"))) const vexa::avi::TBackend* VexaAviBackend() {
  return &vexa::avi::kBackend;
}
