#include "vexa/acquire/avi.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "vexa/acquire/avibackend.h"

namespace vexa {

TVXAviOptionsDialog gVXAviOptionsDialog;

namespace {

struct TLoaded {
  const avi::TBackend* Backend = nullptr;
  std::string Why;
};

// Loaded once and never unloaded: FFmpeg keeps global state of its own.
const TLoaded& Load() {
  static TLoaded loaded;
  static std::once_flag once;
  std::call_once(once, [] {
    std::vector<std::string> candidates;
    if (const char* env = std::getenv("VEXA_AVI_MODULE"); env && *env) {
      candidates.push_back(env);
    } else {
      Dl_info info;
      if (::dladdr(reinterpret_cast<void*>(&VXAviAvailable), &info) && info.dli_fname) {
        std::string dir = info.dli_fname;
        candidates.push_back(dir.substr(0, dir.rfind('/') + 1) + "libvexa-avi.so");
      }
#ifdef VEXA_AVI_MODULE_PATH
      candidates.push_back(VEXA_AVI_MODULE_PATH);
#endif
      candidates.push_back("libvexa-avi.so");
    }
    std::string why;
    for (const std::string& path : candidates) {
      void* lib = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!lib) {
        if (const char* e = ::dlerror(); e && why.empty()) why = e;
        continue;
      }
      auto entry = reinterpret_cast<const avi::TBackend* (*)()>(::dlsym(lib, "VexaAviBackend"));
      const avi::TBackend* b = entry ? entry() : nullptr;
      if (b && b->Version == avi::kBackendVersion) {
        loaded.Backend = b;
        return;
      }
      why = path + ": not a matching AVI module";
      ::dlclose(lib);
    }
    loaded.Why = "AVI support (libvexa-avi.so) is not installed: " + why;
  });
  return loaded;
}

bool SizeOk(int width, int height) { return VXCheckBitmapSize(width, height, 24); }

}  // namespace

bool VXAviAvailable(std::string* why) {
  const TLoaded& l = Load();
  if (!l.Backend && why) *why = l.Why;
  return l.Backend != nullptr;
}

std::vector<TVXAviEncoder> VXAviEncoders() {
  static const TVXAviEncoder kOffered[] = {
      {"rawvideo", "Uncompressed BGR (full frames)"},
      {"mjpeg", "Motion JPEG"},
      {"ffv1", "FFV1 lossless"},
      {"mpeg4", "MPEG-4 Part 2"},
  };
  std::vector<TVXAviEncoder> out;
  if (const avi::TBackend* b = Load().Backend)
    for (const TVXAviEncoder& e : kOffered)
      if (b->HasEncoder(e.Name.c_str())) out.push_back(e);
  return out;
}

// ---------------------------------------------------------------------------
// Reader

struct TVXAviReader::Impl {
  std::unique_ptr<avi::TDecoder> Decoder;
};

TVXAviReader::TVXAviReader() = default;
TVXAviReader::~TVXAviReader() = default;

void TVXAviReader::Close() {
  FImpl.reset();
  FFrameCount = FFrameDelay = FWidth = FHeight = 0;
  FBitCount = 24;
}

bool TVXAviReader::Open(const std::string& fileName) { return Start(fileName.c_str(), nullptr, 0); }

bool TVXAviReader::OpenMemory(const uint8_t* data, size_t size) { return Start(nullptr, data, size); }

bool TVXAviReader::Start(const char* url, const uint8_t* data, size_t size) {
  Close();
  const TLoaded& l = Load();
  if (!l.Backend) {
    FError = l.Why;
    return false;
  }
  const uint64_t limit = VXGetMaxBitmapBytes();
  avi::TDecoder* d = l.Backend->OpenDecoder(url, data, size, limit / 3, SizeOk, FError);
  if (!d) return false;
  FImpl = std::make_unique<Impl>();
  FImpl->Decoder.reset(d);
  FWidth = d->Width();
  FHeight = d->Height();
  FFrameCount = d->FrameCount();
  FFrameDelay = d->FrameDelay();
  return true;
}

bool TVXAviReader::ReadFrame(TBitmap& bmp) {
  if (!FImpl) return false;
  avi::TFrame f;
  if (!FImpl->Decoder->Next(f, FError)) return false;
  FBitCount = f.BitCount;
  bmp.Allocate(f.Width, f.Height, pf24bit);
  for (int y = 0; y < f.Height; ++y)
    std::memcpy(bmp.ScanLine(y), f.Rows + static_cast<size_t>(y) * f.Stride, static_cast<size_t>(f.Width) * 3);
  return true;
}

// ---------------------------------------------------------------------------
// Writer

struct TVXAviWriter::Impl {
  std::unique_ptr<avi::TEncoder> Encoder;
  int Width = 0, Height = 0;
  bool Finished = false;
  TBitmap Expanded;
};

TVXAviWriter::TVXAviWriter() = default;
TVXAviWriter::~TVXAviWriter() = default;

TVXAviCreateResult TVXAviWriter::Create(const std::string& fileName, int width, int height, int framesPerSecond,
                                        const TVXAviOptions& options) {
  FImpl.reset();
  if (width <= 0 || height <= 0 || !VXCheckBitmapSize(width, height, 24)) {
    FError = "bad frame size";
    return vxacFailed;
  }
  const TLoaded& l = Load();
  if (!l.Backend) {
    FError = l.Why;
    return vxacFailed;
  }
  const std::string name = options.Encoder.empty() ? kVXAviDefaultEncoder : options.Encoder;
  avi::TCreateResult r = avi::crFailed;
  avi::TEncoder* e =
      l.Backend->CreateEncoder(fileName.c_str(), width, height, framesPerSecond, name.c_str(), options.Quality,
                               options.AudioSampleRate, options.AudioChannels, r, FError);
  if (!e) return r == avi::crCannotCreate ? vxacCannotCreate : vxacFailed;
  FImpl = std::make_unique<Impl>();
  FImpl->Encoder.reset(e);
  FImpl->Width = width;
  FImpl->Height = height;
  return vxacOK;
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
  // Rows top-down: the bitmap's row 0 is its highest address, so walk backwards.
  const ptrdiff_t stride = m.Height == 1 ? src->RowLen() : -static_cast<ptrdiff_t>(src->RowLen());
  return m.Encoder->Write(src->ScanLine(0), stride, FError);
}

bool TVXAviWriter::WriteAudio(const int16_t* samples, int frames) {
  if (!FImpl || FImpl->Finished) return false;
  return FImpl->Encoder->WriteAudio(samples, frames, FError);
}

// ---------------------------------------------------------------------------
// Sound input

struct TVXAudioInput::Impl {
  std::unique_ptr<avi::TAudioInput> Input;
  std::vector<int16_t> Buffer;
};

TVXAudioInput::TVXAudioInput() = default;
TVXAudioInput::~TVXAudioInput() = default;

bool TVXAudioInput::Open(std::string& why) {
  const TLoaded& l = Load();
  if (!l.Backend) {
    why = l.Why;
    return false;
  }
  avi::TAudioInput* in = l.Backend->OpenAudioInput(FRate, FChannels, why);
  if (!in) return false;
  FImpl = std::make_unique<Impl>();
  FImpl->Input.reset(in);
  FImpl->Buffer.resize(static_cast<size_t>(FRate / 10) * static_cast<size_t>(FChannels));
  return true;
}

void TVXAudioInput::Drain(TVXAviWriter& writer) {
  if (!FImpl) return;
  const int room = static_cast<int>(FImpl->Buffer.size()) / FChannels;
  for (int n; (n = FImpl->Input->Read(FImpl->Buffer.data(), room)) > 0;) writer.WriteAudio(FImpl->Buffer.data(), n);
}

bool TVXAviWriter::Finish() {
  if (!FImpl || FImpl->Finished) return false;
  FImpl->Finished = true;
  return FImpl->Encoder->Finish(FError);
}

}  // namespace vexa
