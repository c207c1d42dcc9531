#include "vexa/acquire/avi.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace vexa {

TVXAviOptionsDialog gVXAviOptionsDialog;

namespace {

std::string AvError(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}

// Converted rows land here first: swscale may write a little past a row's width.
struct RowBuffer {
  std::vector<uint8_t> Data;
  int Stride = 0;
  void Size(int width, int height) {
    Stride = (width * 3 + 63) & ~63;
    Data.assign(static_cast<size_t>(Stride) * static_cast<size_t>(height) + 64, 0);
  }
};

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

}  // namespace

// ---------------------------------------------------------------------------
// Encoders

std::vector<TVXAviEncoder> VXAviEncoders() {
  static const TVXAviEncoder kOffered[] = {
      {"rawvideo", "Uncompressed BGR (full frames)"},
      {"mjpeg", "Motion JPEG"},
      {"ffv1", "FFV1 lossless"},
      {"mpeg4", "MPEG-4 Part 2"},
  };
  std::vector<TVXAviEncoder> out;
  for (const TVXAviEncoder& e : kOffered)
    if (avcodec_find_encoder_by_name(e.Name.c_str())) out.push_back(e);
  return out;
}

// ---------------------------------------------------------------------------
// Reader

struct TVXAviReader::Impl {
  AVFormatContext* Fmt = nullptr;
  AVIOContext* Avio = nullptr;
  MemoryInput Memory;
  AVCodecContext* Dec = nullptr;
  SwsContext* Sws = nullptr;
  AVFrame* Frame = nullptr;
  AVPacket* Packet = nullptr;
  int Stream = -1;
  bool Flushed = false;
  RowBuffer Rows;

  ~Impl() {
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
};

TVXAviReader::TVXAviReader() = default;
TVXAviReader::~TVXAviReader() = default;

void TVXAviReader::Close() {
  FImpl.reset();
  FFrameCount = FFrameDelay = FWidth = FHeight = 0;
  FBitCount = 24;
}

bool TVXAviReader::Open(const std::string& fileName) {
  Close();
  FImpl = std::make_unique<Impl>();
  return Start(fileName.c_str());
}

bool TVXAviReader::OpenMemory(const uint8_t* data, size_t size) {
  Close();
  FImpl = std::make_unique<Impl>();
  Impl& m = *FImpl;
  m.Memory = MemoryInput{data, static_cast<int64_t>(size), 0};
  constexpr int kBufSize = 32768;
  auto* buf = static_cast<uint8_t*>(av_malloc(kBufSize));
  if (!buf) return false;
  m.Avio = avio_alloc_context(buf, kBufSize, 0, &m.Memory, MemoryRead, nullptr, MemorySeek);
  if (!m.Avio) {
    av_free(buf);
    return false;
  }
  return Start(nullptr);
}

bool TVXAviReader::Start(const char* url) {
  Impl& m = *FImpl;
  auto fail = [&](const std::string& why) {
    FError = why;
    FImpl.reset();
    return false;
  };
  m.Fmt = avformat_alloc_context();
  if (!m.Fmt) return fail("out of memory");
  if (m.Avio) {
    m.Fmt->pb = m.Avio;
    m.Fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
  }
  // Only the AVI demuxer: the caller asked for an AVI, and probing every format
  // would let any file through.
  const AVInputFormat* avi = av_find_input_format("avi");
  int rc = avformat_open_input(&m.Fmt, url ? url : "", avi, nullptr);
  if (rc < 0) {
    m.Fmt = nullptr;  // freed by the failed open
    return fail("cannot open AVI: " + AvError(rc));
  }
  // The AVI headers name the codec, size and rate: no probing by decoding is needed,
  // and none happens before the size check below.
  const AVCodec* codec = nullptr;
  m.Stream = av_find_best_stream(m.Fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (m.Stream < 0 || !codec) return fail("no decodable video stream");
  AVStream* st = m.Fmt->streams[m.Stream];
  m.Dec = avcodec_alloc_context3(codec);
  if (!m.Dec || avcodec_parameters_to_context(m.Dec, st->codecpar) < 0) return fail("cannot set up the decoder");
  // Everything runs on the caller's thread, and the frames must not depend on timing.
  m.Dec->thread_count = 1;
  if (const uint64_t limit = VXGetMaxBitmapBytes(); limit > 0)
    m.Dec->max_pixels = static_cast<int64_t>(std::min<uint64_t>(limit / 3, INT64_MAX));
  if (st->codecpar->width > 0 && !VXCheckBitmapSize(st->codecpar->width, st->codecpar->height, 24))
    return fail("frame size beyond the bitmap limit");
  if ((rc = avcodec_open2(m.Dec, codec, nullptr)) < 0) return fail("cannot open the decoder: " + AvError(rc));
  m.Frame = av_frame_alloc();
  m.Packet = av_packet_alloc();
  if (!m.Frame || !m.Packet) return fail("out of memory");

  FWidth = st->codecpar->width;
  FHeight = st->codecpar->height;
  FFrameCount = static_cast<int>(std::clamp<int64_t>(st->nb_frames, 0, INT32_MAX));
  const AVRational tb = st->time_base;
  FFrameDelay = tb.den > 0 && tb.num > 0 ? static_cast<int>(std::min<int64_t>(1000LL * tb.num / tb.den, INT32_MAX)) : 0;
  return true;
}

bool TVXAviReader::ReadFrame(TBitmap& bmp) {
  if (!FImpl) return false;
  Impl& m = *FImpl;
  for (;;) {
    int rc = avcodec_receive_frame(m.Dec, m.Frame);
    if (rc == 0) break;
    if (rc != AVERROR(EAGAIN)) return false;  // end of stream or a decoder failure
    if (m.Flushed) return false;
    rc = av_read_frame(m.Fmt, m.Packet);
    if (rc < 0) {
      m.Flushed = true;
      avcodec_send_packet(m.Dec, nullptr);
      continue;
    }
    if (m.Packet->stream_index == m.Stream) {
      // A damaged packet is skipped; the stream may recover at the next key frame.
      avcodec_send_packet(m.Dec, m.Packet);
    }
    av_packet_unref(m.Packet);
  }
  AVFrame* f = m.Frame;
  const int w = f->width, h = f->height;
  bool ok = w > 0 && h > 0 && f->format >= 0 && VXCheckBitmapSize(w, h, 24);
  if (ok) {
    m.Sws = sws_getCachedContext(m.Sws, w, h, static_cast<AVPixelFormat>(f->format), w, h, AV_PIX_FMT_BGR24,
                                 SWS_BICUBIC, nullptr, nullptr, nullptr);
    ok = m.Sws != nullptr;
  }
  if (ok) {
    m.Rows.Size(w, h);
    uint8_t* dst[4] = {m.Rows.Data.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {m.Rows.Stride, 0, 0, 0};
    ok = sws_scale(m.Sws, f->data, f->linesize, 0, h, dst, dstStride) == h;
  }
  if (ok) {
    if (const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format))) {
      if (desc->flags & AV_PIX_FMT_FLAG_PAL)
        FBitCount = 8;
      else if (desc->nb_components == 1)
        FBitCount = desc->comp[0].depth == 1 ? 1 : 8;
      else
        FBitCount = 24;
    }
    bmp.Allocate(w, h, pf24bit);
    for (int y = 0; y < h; ++y)
      std::memcpy(bmp.ScanLine(y), m.Rows.Data.data() + static_cast<size_t>(y) * m.Rows.Stride,
                  static_cast<size_t>(w) * 3);
  }
  av_frame_unref(f);
  if (!ok) FError = "undecodable frame";
  return ok;
}

// ---------------------------------------------------------------------------
// Writer

struct TVXAviWriter::Impl {
  AVFormatContext* Fmt = nullptr;
  AVCodecContext* Enc = nullptr;
  AVStream* Stream = nullptr;
  SwsContext* Sws = nullptr;
  AVFrame* Frame = nullptr;
  AVPacket* Packet = nullptr;
  int64_t Pts = 0;
  int Width = 0, Height = 0;
  bool HeaderWritten = false, Finished = false;
  TBitmap Expanded;

  ~Impl() {
    sws_freeContext(Sws);
    av_packet_free(&Packet);
    av_frame_free(&Frame);
    avcodec_free_context(&Enc);
    if (Fmt) {
      if (Fmt->pb) avio_closep(&Fmt->pb);
      avformat_free_context(Fmt);
    }
  }
};

TVXAviWriter::TVXAviWriter() = default;
TVXAviWriter::~TVXAviWriter() = default;

namespace {

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

}  // namespace

TVXAviCreateResult TVXAviWriter::Create(const std::string& fileName, int width, int height, int framesPerSecond,
                                        const TVXAviOptions& options) {
  FImpl = std::make_unique<Impl>();
  Impl& m = *FImpl;
  auto fail = [&](TVXAviCreateResult r, const std::string& why) {
    FError = why;
    FImpl.reset();
    return r;
  };
  if (width <= 0 || height <= 0 || !VXCheckBitmapSize(width, height, 24)) return fail(vxacFailed, "bad frame size");
  const std::string name = options.Encoder.empty() ? kVXAviDefaultEncoder : options.Encoder;
  const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
  if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) return fail(vxacFailed, "encoder not available: " + name);
  if (avformat_alloc_output_context2(&m.Fmt, nullptr, "avi", fileName.c_str()) < 0 || !m.Fmt)
    return fail(vxacFailed, "AVI muxer not available");
  m.Stream = avformat_new_stream(m.Fmt, nullptr);
  m.Enc = avcodec_alloc_context3(codec);
  if (!m.Stream || !m.Enc) return fail(vxacFailed, "out of memory");
  const int fps = std::clamp(framesPerSecond, 1, 1000);
  m.Enc->width = m.Width = width;
  m.Enc->height = m.Height = height;
  m.Enc->time_base = AVRational{1, fps};
  m.Enc->framerate = AVRational{fps, 1};
  m.Enc->pix_fmt = ChoosePixelFormat(codec);
  m.Enc->gop_size = 0;  // every frame a key frame
  m.Enc->thread_count = 1;
  if (codec->id == AV_CODEC_ID_MJPEG || codec->id == AV_CODEC_ID_MPEG4) {
    // Quality 100 -> quantiser 2, 1 -> 31.
    const int q = 31 - (std::clamp(options.Quality, 1, 100) - 1) * 29 / 99;
    m.Enc->flags |= AV_CODEC_FLAG_QSCALE;
    m.Enc->global_quality = FF_QP2LAMBDA * q;
  }
  if (m.Fmt->oformat->flags & AVFMT_GLOBALHEADER) m.Enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int rc = avcodec_open2(m.Enc, codec, nullptr);
  if (rc < 0) return fail(vxacFailed, "cannot open the encoder: " + AvError(rc));
  if (avcodec_parameters_from_context(m.Stream->codecpar, m.Enc) < 0) return fail(vxacFailed, "encoder parameters");
  m.Stream->time_base = m.Enc->time_base;
  m.Stream->avg_frame_rate = m.Enc->framerate;
  if ((rc = avio_open(&m.Fmt->pb, fileName.c_str(), AVIO_FLAG_WRITE)) < 0)
    return fail(vxacCannotCreate, "cannot create " + fileName + ": " + AvError(rc));
  if ((rc = avformat_write_header(m.Fmt, nullptr)) < 0)
    return fail(vxacFailed, "cannot write the header: " + AvError(rc));
  m.HeaderWritten = true;
  m.Frame = av_frame_alloc();
  m.Packet = av_packet_alloc();
  if (!m.Frame || !m.Packet) return fail(vxacFailed, "out of memory");
  m.Frame->format = m.Enc->pix_fmt;
  m.Frame->width = width;
  m.Frame->height = height;
  if (av_frame_get_buffer(m.Frame, 0) < 0) return fail(vxacFailed, "out of memory");
  m.Sws = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, m.Enc->pix_fmt, SWS_BICUBIC, nullptr, nullptr,
                         nullptr);
  if (!m.Sws) return fail(vxacFailed, "no conversion to the encoder's pixel format");
  return vxacOK;
}

bool TVXAviWriter::Drain(bool flush) {
  Impl& m = *FImpl;
  for (;;) {
    int rc = avcodec_receive_packet(m.Enc, m.Packet);
    if (rc == AVERROR(EAGAIN) && !flush) return true;
    if (rc == AVERROR_EOF) return true;
    if (rc < 0) {
      FError = "encoding failed: " + AvError(rc);
      return false;
    }
    av_packet_rescale_ts(m.Packet, m.Enc->time_base, m.Stream->time_base);
    m.Packet->stream_index = m.Stream->index;
    rc = av_interleaved_write_frame(m.Fmt, m.Packet);
    if (rc < 0) {
      FError = "writing failed: " + AvError(rc);
      return false;
    }
  }
}

bool TVXAviWriter::WriteFrame(const TBitmap& bmp) {
  if (!FImpl || FImpl->Finished) return false;
  Impl& m = *FImpl;
  if (bmp.Width() != m.Width || bmp.Height() != m.Height) {
    FError = "frame size differs from the stream's";
    return false;
  }
  const TBitmap* src = &bmp;
  if (bmp.PixelFormat() != pf24bit) {
    m.Expanded = bmp;
    m.Expanded.SetPixelFormat(pf24bit);
    src = &m.Expanded;
  }
  if (av_frame_make_writable(m.Frame) < 0) return false;
  // Rows top-down: the bitmap's row 0 is its highest address, so walk backwards.
  const uint8_t* srcData[4] = {src->ScanLine(0), nullptr, nullptr, nullptr};
  int srcStride[4] = {-src->RowLen(), 0, 0, 0};
  if (m.Height == 1) srcStride[0] = src->RowLen();
  sws_scale(m.Sws, srcData, srcStride, 0, m.Height, m.Frame->data, m.Frame->linesize);
  m.Frame->pts = m.Pts++;
  m.Frame->pict_type = AV_PICTURE_TYPE_I;
  int rc = avcodec_send_frame(m.Enc, m.Frame);
  if (rc < 0) {
    FError = "encoding failed: " + AvError(rc);
    return false;
  }
  return Drain(false);
}

bool TVXAviWriter::Finish() {
  if (!FImpl || FImpl->Finished) return false;
  Impl& m = *FImpl;
  m.Finished = true;
  bool ok = avcodec_send_frame(m.Enc, nullptr) >= 0 && Drain(true);
  ok = av_write_trailer(m.Fmt) >= 0 && ok;
  ok = avio_closep(&m.Fmt->pb) >= 0 && ok;
  return ok;
}

}  // namespace vexa
