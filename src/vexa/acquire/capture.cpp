#include "vexa/acquire/capture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vexa/codecs/jpeg.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

namespace {

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool gTestCapture = false;

}  // namespace

// ---------------------------------------------------------------------------
// Format blocks

bool VXReadBitmapInfo(const uint8_t* block, size_t size, TVXBitmapInfoHeader& h) {
  if (!block || size < 40) return false;
  h.Size = Get32(block);
  h.Width = static_cast<int32_t>(Get32(block + 4));
  h.Height = static_cast<int32_t>(Get32(block + 8));
  h.Planes = Get16(block + 12);
  h.BitCount = Get16(block + 14);
  h.Compression = Get32(block + 16);
  h.SizeImage = Get32(block + 20);
  h.XPelsPerMeter = static_cast<int32_t>(Get32(block + 24));
  h.YPelsPerMeter = static_cast<int32_t>(Get32(block + 28));
  h.ClrUsed = Get32(block + 32);
  h.ClrImportant = Get32(block + 36);
  return true;
}

std::vector<uint8_t> VXMakeFormatBlock(const TVXBitmapInfoHeader& h, const std::vector<TRGB>& palette) {
  std::vector<uint8_t> b(std::max(kVXFormatBlockSize, 40 + 4 * palette.size()), 0);
  Put32(&b[0], 40);
  Put32(&b[4], static_cast<uint32_t>(h.Width));
  Put32(&b[8], static_cast<uint32_t>(h.Height));
  Put16(&b[12], 1);
  Put16(&b[14], h.BitCount);
  Put32(&b[16], h.Compression);
  Put32(&b[20], h.SizeImage);
  Put32(&b[24], static_cast<uint32_t>(h.XPelsPerMeter));
  Put32(&b[28], static_cast<uint32_t>(h.YPelsPerMeter));
  Put32(&b[32], static_cast<uint32_t>(palette.size()));
  Put32(&b[36], h.ClrImportant);
  for (size_t i = 0; i < palette.size(); ++i) {
    b[40 + 4 * i] = palette[i].b;
    b[41 + 4 * i] = palette[i].g;
    b[42 + 4 * i] = palette[i].r;
  }
  return b;
}

// ---------------------------------------------------------------------------
// Drivers

void VXEnableTestCapture(bool on) { gTestCapture = on; }

bool VXTestCaptureEnabled() {
  if (gTestCapture) return true;
  const char* env = std::getenv("VEXA_TEST_CAPTURE");
  return env && std::strcmp(env, "1") == 0;
}

namespace {
// Index -> device: the V4L2 capture devices, then the test pattern.
struct DriverSlot {
  std::string Path;  // empty: the test pattern
  std::string Name, Version;
};

std::vector<DriverSlot> DriverSlots() {
  std::vector<DriverSlot> slots;
  for (const std::string& path : VXV4L2DevicePaths()) {
    if (static_cast<int>(slots.size()) == kVXMaxCaptureDrivers) break;
    DriverSlot s{path, {}, {}};
    if (VXV4L2Describe(path, s.Name, s.Version)) slots.push_back(s);
  }
  if (VXTestCaptureEnabled() && static_cast<int>(slots.size()) < kVXMaxCaptureDrivers)
    slots.push_back({"", "Vexa test pattern", "1.0"});
  return slots;
}
}  // namespace

bool VXCaptureDriverDescription(int index, std::string& name, std::string& version) {
  if (index < 0 || index >= kVXMaxCaptureDrivers) return false;
  const std::vector<DriverSlot> slots = DriverSlots();
  if (index >= static_cast<int>(slots.size())) return false;
  name = slots[static_cast<size_t>(index)].Name;
  version = slots[static_cast<size_t>(index)].Version;
  return true;
}

std::unique_ptr<TVXCaptureDevice> VXOpenCaptureDriver(int index) {
  if (index < 0 || index >= kVXMaxCaptureDrivers) return nullptr;
  const std::vector<DriverSlot> slots = DriverSlots();
  if (index >= static_cast<int>(slots.size())) return nullptr;
  const DriverSlot& s = slots[static_cast<size_t>(index)];
  return s.Path.empty() ? VXCreateTestPatternDevice(30) : VXOpenV4L2Device(s.Path);
}

// ---------------------------------------------------------------------------
// Test pattern

namespace {

constexpr TRGB kBars[8] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                           {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};  // b, g, r

// The counter band: its height, and the cell of bit i spans [x0, x1).
int BandHeight(int height) { return std::clamp(height / 8, 1, 64); }
void CellSpan(int width, int bit, int& x0, int& x1) {
  x0 = static_cast<int>(static_cast<int64_t>(width) * bit / kVXPatternBits);
  x1 = static_cast<int>(static_cast<int64_t>(width) * (bit + 1) / kVXPatternBits);
}

}  // namespace

void VXDrawTestPattern(TBitmap& bmp, uint32_t counter, int brightness) {
  if (bmp.PixelFormat() != pf24bit) bmp.SetPixelFormat(pf24bit);
  const int w = bmp.Width(), h = bmp.Height();
  if (w <= 0 || h <= 0) return;
  const int scale = std::clamp(brightness, 0, 255) + 128;  // 256 at the default
  // Bars move a few pixels per frame; one row is built and copied down.
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  const int shift = static_cast<int>((counter * 4u) % static_cast<uint32_t>(w));
  for (int x = 0; x < w; ++x) {
    const int pos = (x + shift) % w;
    TRGB c = kBars[static_cast<int64_t>(pos) * 8 / w];
    row[3 * x] = static_cast<uint8_t>(std::min(255, c.b * scale / 256));
    row[3 * x + 1] = static_cast<uint8_t>(std::min(255, c.g * scale / 256));
    row[3 * x + 2] = static_cast<uint8_t>(std::min(255, c.r * scale / 256));
  }
  const int band = h > 2 ? BandHeight(h) : 0;
  for (int y = band; y < h; ++y) std::memcpy(bmp.ScanLine(y), row.data(), row.size());
  if (band == 0) return;
  // The counter cells use full black and white whatever the brightness, so they
  // survive lossy codecs.
  for (int bit = 0; bit < kVXPatternBits; ++bit) {
    int x0, x1;
    CellSpan(w, bit, x0, x1);
    const uint8_t v = (counter >> (kVXPatternBits - 1 - bit)) & 1 ? 255 : 0;
    std::memset(row.data() + 3 * x0, v, static_cast<size_t>(x1 - x0) * 3);
  }
  for (int y = 0; y < band; ++y) std::memcpy(bmp.ScanLine(y), row.data(), row.size());
}

int64_t VXReadPatternCounter(const TBitmap& src) {
  if (src.Empty() || src.Width() < kVXPatternBits * 2 || src.Height() < 8) return -1;
  TBitmap expanded;
  const TBitmap* bmp = &src;
  if (src.PixelFormat() != pf24bit) {
    expanded = src;
    expanded.SetPixelFormat(pf24bit);
    bmp = &expanded;
  }
  const int w = bmp->Width(), y = BandHeight(bmp->Height()) / 2;
  const uint8_t* line = bmp->ScanLine(y);
  int64_t value = 0;
  for (int bit = 0; bit < kVXPatternBits; ++bit) {
    int x0, x1;
    CellSpan(w, bit, x0, x1);
    const int x = (x0 + x1) / 2;
    const int grey = (line[3 * x] + line[3 * x + 1] + line[3 * x + 2]) / 3;
    // Cells are pure black or white; anything in the middle is not our band.
    if (grey > 64 && grey < 192) return -1;
    value = value << 1 | (grey >= 128 ? 1 : 0);
  }
  return value;
}

namespace {

class TestPatternDevice : public TVXCaptureDevice {
 public:
  explicit TestPatternDevice(int fps) : FIntervalUs(1000000 / std::clamp(fps, 1, 1000)) {
    SetMode(Modes()[1]);
  }
  TVXCaptureCaps Caps() const override {
    TVXCaptureCaps c;
    c.HasDlgVideoSource = c.HasDlgVideoFormat = c.HasDlgVideoDisplay = true;
    c.CaptureInitialized = true;
    return c;
  }
  std::vector<uint8_t> Format() const override {
    TVXBitmapInfoHeader h;
    h.Width = FMode.Width;
    h.Height = FMode.Height;
    h.BitCount = 24;
    h.SizeImage = static_cast<uint32_t>(FFrame.ImageSize());
    return VXMakeFormatBlock(h);
  }
  std::vector<TVXCaptureMode> Modes() const override {
    return {{160, 120, kVXBI_RGB, "RGB 24"},
            {320, 240, kVXBI_RGB, "RGB 24"},
            {640, 480, kVXBI_RGB, "RGB 24"},
            {1280, 720, kVXBI_RGB, "RGB 24"}};
  }
  TVXCaptureMode Mode() const override { return FMode; }
  bool SetMode(const TVXCaptureMode& mode) override {
    const std::vector<TVXCaptureMode> modes = Modes();
    if (std::find(modes.begin(), modes.end(), mode) == modes.end()) return false;
    FMode = mode;
    FFrame.Allocate(mode.Width, mode.Height, pf24bit);
    return true;
  }
  std::vector<TVXCaptureControl> Controls() const override {
    TVXCaptureControl c;
    c.Id = 1;
    c.Name = "Brightness";
    c.Maximum = 255;
    c.Default = 128;
    c.Value = FBrightness;
    return {c};
  }
  bool SetControl(uint32_t id, int value) override {
    if (id != 1 || value < 0 || value > 255) return false;
    FBrightness = value;
    return true;
  }
  // The pattern's clock runs from the first start, so numbers keep rising across
  // pauses (a grab between two previews included).
  bool Start() override {
    const int64_t now = NowUs();
    if (FStartUs == 0) FStartUs = now;
    FNext = static_cast<uint64_t>((now - FStartUs) / FIntervalUs);
    return true;
  }
  void Stop() override {}
  bool ReadFrame(std::vector<uint8_t>& data, int timeoutMs) override {
    if (FStartUs == 0) Start();
    // Frame n exists from start + n * interval: a slow reader sees gaps in the
    // numbers, as with a camera that keeps running.
    int64_t now = NowUs();
    const int64_t due = FStartUs + static_cast<int64_t>(FNext) * FIntervalUs;
    if (due > now) {
      if (due - now > static_cast<int64_t>(timeoutMs) * 1000) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(due - now));
      now = NowUs();
    }
    const uint64_t current = static_cast<uint64_t>((now - FStartUs) / FIntervalUs);
    VXDrawTestPattern(FFrame, static_cast<uint32_t>(current), FBrightness);
    FNext = current + 1;
    data.assign(FFrame.Bits(), FFrame.Bits() + FFrame.ImageSize());
    return true;
  }

 private:
  int64_t FIntervalUs;
  TVXCaptureMode FMode;
  TBitmap FFrame;
  int FBrightness = 128;
  int64_t FStartUs = 0;
  uint64_t FNext = 0;
};

}  // namespace

std::unique_ptr<TVXCaptureDevice> VXCreateTestPatternDevice(int framesPerSecond) {
  return std::make_unique<TestPatternDevice>(framesPerSecond);
}

// ---------------------------------------------------------------------------
// Frame decoding

// Motion JPEG goes through our JPEG codec: libjpeg-turbo fills in the standard
// Huffman tables that camera frames leave out.
struct TVXFrameDecoder::Impl {
  TMemoryStream Stream;
  bool DecodeJpeg(const uint8_t* data, size_t size, TBitmap& bmp);
};

TVXFrameDecoder::TVXFrameDecoder() : FImpl(std::make_unique<Impl>()) {}
TVXFrameDecoder::~TVXFrameDecoder() = default;

bool TVXFrameDecoder::Impl::DecodeJpeg(const uint8_t* data, size_t size, TBitmap& bmp) {
  if (size < 4) return false;
  Stream.Clear();
  Stream.Write(data, static_cast<int64_t>(size));
  Stream.Seek(0, soBeginning);
  TIOParamsVals params;
  bool aborting = false;
  TProgressRec progress;
  progress.Aborting = &aborting;
  ReadJPegStream(Stream, bmp, params, false, progress);
  if (aborting || bmp.Empty()) return false;
  if (bmp.PixelFormat() != pf24bit) bmp.SetPixelFormat(pf24bit);
  return true;
}

namespace {

inline uint8_t Clamp8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// BT.601 studio range, as cameras deliver it.
void YuyvRow(const uint8_t* src, uint8_t* dst, int width) {
  for (int x = 0; x + 1 < width + 1; x += 2) {
    const int u = src[1] - 128, v = src[3] - 128;
    const int rv = 409 * v, guv = -100 * u - 208 * v, bu = 516 * u;
    for (int k = 0; k < 2 && x + k < width; ++k) {
      const int c = 298 * (src[2 * k] - 16) + 128;
      dst[0] = Clamp8((c + bu) >> 8);
      dst[1] = Clamp8((c + guv) >> 8);
      dst[2] = Clamp8((c + rv) >> 8);
      dst += 3;
    }
    src += 4;
  }
}

}  // namespace

bool TVXFrameDecoder::Decode(const uint8_t* format, size_t formatSize, const uint8_t* data, size_t dataSize,
                             TBitmap& bmp) {
  TVXBitmapInfoHeader h;
  bool ok = VXReadBitmapInfo(format, formatSize, h) && data;
  const int w = h.Width, ht = h.Rows();
  ok = ok && w > 0 && ht > 0;
  if (ok && h.Compression == kVXFourCC_MJPG) {
    ok = FImpl->DecodeJpeg(data, dataSize, bmp);
  } else if (ok && h.Compression == kVXFourCC_YUY2) {
    const size_t stride = (static_cast<size_t>(w) + 1) / 2 * 4;
    ok = VXCheckBitmapSize(w, ht, 24) && dataSize / stride >= static_cast<size_t>(ht);
    if (ok) {
      bmp.Allocate(w, ht, pf24bit);
      for (int y = 0; y < ht; ++y) YuyvRow(data + stride * static_cast<size_t>(y), bmp.ScanLine(y), w);
    }
  } else if (ok && h.Compression == kVXBI_RGB) {
    const int bits = h.BitCount;
    ok = (bits == 1 || bits == 8 || bits == 24 || bits == 32) && VXCheckBitmapSize(w, ht, 32);
    const size_t rowLen = ok ? static_cast<size_t>(_BitmapRowLen(w, bits)) : 0;
    ok = ok && dataSize / rowLen >= static_cast<size_t>(ht);
    // Palette entries come from the block, never past its end.
    const size_t paletteRoom = formatSize > h.Size && h.Size >= 40 ? (formatSize - h.Size) / 4 : 0;
    size_t colours = h.ClrUsed ? h.ClrUsed : (bits <= 8 ? 1u << bits : 0);
    colours = std::min(colours, paletteRoom);
    std::vector<TRGB> pal(bits <= 8 ? (1u << bits) : 0);
    for (size_t i = 0; i < colours && i < pal.size(); ++i) {
      const uint8_t* p = format + h.Size + 4 * i;
      pal[i] = {p[0], p[1], p[2]};
    }
    if (ok) {
      bmp.Allocate(w, ht, bits == 1 ? pf1bit : pf24bit);
      if (bits == 1 && !pal.empty()) bmp.SetPalette(pal.data(), 2);
      for (int y = 0; y < ht; ++y) {
        // Positive heights are bottom-up like our bitmap; negative ones top-down.
        const uint8_t* src = data + rowLen * static_cast<size_t>(h.Height > 0 ? ht - 1 - y : y);
        uint8_t* dst = bmp.ScanLine(y);
        if (bits == 1 || bits == 24) {
          std::memcpy(dst, src, std::min<size_t>(rowLen, static_cast<size_t>(bmp.RowLen())));
        } else if (bits == 8) {
          for (int x = 0; x < w; ++x) {
            const TRGB& c = pal[src[x]];
            dst[3 * x] = c.b;
            dst[3 * x + 1] = c.g;
            dst[3 * x + 2] = c.r;
          }
        } else {
          for (int x = 0; x < w; ++x) std::memcpy(dst + 3 * x, src + 4 * x, 3);
        }
      }
    }
  } else {
    ok = false;
  }
  if (!ok) bmp.Allocate(0, 0, pf24bit);
  return ok;
}

// ---------------------------------------------------------------------------
// Capture service

TVXCaptureService::TVXCaptureService() = default;
TVXCaptureService::~TVXCaptureService() { DriverDisconnect(); }

bool TVXCaptureService::DriverConnect(int index) {
  std::unique_ptr<TVXCaptureDevice> d = VXOpenCaptureDriver(index);
  if (!d) {
    SetError("Unable to open video capture driver");
    return false;
  }
  return DriverConnect(std::move(d));
}

bool TVXCaptureService::DriverConnect(std::unique_ptr<TVXCaptureDevice> device) {
  DriverDisconnect();
  if (!device) return false;
  std::lock_guard<std::mutex> lock(FDeviceLock);
  FDevice = std::move(device);
  FFormat = FDevice->Format();
  return true;
}

void TVXCaptureService::DriverDisconnect() {
  if (FRecording) StopSequence();
  StopThread();
  FPreview = false;
  std::lock_guard<std::mutex> lock(FDeviceLock);
  FDevice.reset();
  FFormat.clear();
}

TVXCaptureCaps TVXCaptureService::GetCaps() const {
  std::lock_guard<std::mutex> lock(FDeviceLock);
  return FDevice ? FDevice->Caps() : TVXCaptureCaps{};
}

std::vector<uint8_t> TVXCaptureService::GetVideoFormat() const {
  std::lock_guard<std::mutex> lock(FDeviceLock);
  return FFormat;
}

std::vector<TVXCaptureMode> TVXCaptureService::Modes() const {
  std::lock_guard<std::mutex> lock(FDeviceLock);
  return FDevice ? FDevice->Modes() : std::vector<TVXCaptureMode>{};
}

TVXCaptureMode TVXCaptureService::Mode() const {
  std::lock_guard<std::mutex> lock(FDeviceLock);
  return FDevice ? FDevice->Mode() : TVXCaptureMode{};
}

bool TVXCaptureService::SetMode(const TVXCaptureMode& mode) {
  if (!FDevice || FRecording) return false;
  // The size of the buffers changes, so streaming restarts around it.
  const bool running = FThread.joinable();
  StopThread();
  bool ok;
  {
    std::lock_guard<std::mutex> lock(FDeviceLock);
    ok = FDevice->SetMode(mode);
    FFormat = FDevice->Format();
  }
  if (running) StartThread();
  return ok;
}

std::vector<TVXCaptureControl> TVXCaptureService::Controls() const {
  std::lock_guard<std::mutex> lock(FDeviceLock);
  return FDevice ? FDevice->Controls() : std::vector<TVXCaptureControl>{};
}

bool TVXCaptureService::SetControl(uint32_t id, int value) {
  std::lock_guard<std::mutex> lock(FDeviceLock);
  return FDevice && FDevice->SetControl(id, value);
}

void TVXCaptureService::SetPreviewRate(int ms) { FPreviewRate = std::clamp(ms, 1, 10000); }

bool TVXCaptureService::SetPreview(bool on) {
  if (!FDevice) return false;
  FPreview = on;
  if (on)
    StartThread();
  else if (!FRecording)
    StopThread();
  return true;
}

void TVXCaptureService::SetFrameCallback(TVXFrameCallback cb) {
  std::lock_guard<std::mutex> lock(FCallbackLock);
  FCallback = std::move(cb);
}

bool TVXCaptureService::GrabFrame(std::vector<uint8_t>& data, int timeoutMs) {
  if (!FDevice) return false;
  if (!FRecording) {
    FPreview = false;
    StopThread();
  }
  std::lock_guard<std::mutex> lock(FDeviceLock);
  // A device that is not streaming is started for the one frame.
  const bool started = !FThread.joinable();
  if (started && !FDevice->Start()) {
    SetError(FDevice->Error());
    return false;
  }
  const bool ok = FDevice->ReadFrame(data, timeoutMs);
  if (!ok) SetError(FDevice->Error().empty() ? "no frame from the device" : FDevice->Error());
  if (started) FDevice->Stop();
  return ok;
}

void TVXCaptureService::StartThread() {
  if (FThread.joinable() || !FDevice) return;
  {
    std::lock_guard<std::mutex> lock(FDeviceLock);
    if (!FDevice->Start()) {
      SetError(FDevice->Error());
      return;
    }
  }
  FRun = true;
  FThread = std::thread([this] { Run(); });
}

void TVXCaptureService::StopThread() {
  if (!FThread.joinable()) return;
  FRun = false;
  FThread.join();
  std::lock_guard<std::mutex> lock(FDeviceLock);
  if (FDevice) FDevice->Stop();
}

void TVXCaptureService::Run() {
  std::vector<uint8_t> data;
  int64_t nextDue = 0;
  while (FRun) {
    bool got;
    std::vector<uint8_t> format;
    {
      std::lock_guard<std::mutex> lock(FDeviceLock);
      got = FDevice->ReadFrame(data, 100);
      format = FFormat;
    }
    if (!got) continue;
    const int64_t now = NowUs();
    if (FRecording) RecordFrame(data);
    // Preview keeps the rate on average: each frame is due one interval after the
    // last due time (a quarter early is fine), so a 30 fps device previewed every
    // 33 ms shows every frame and one previewed every 60 ms shows 16.7 a second.
    const int64_t interval = static_cast<int64_t>(FPreviewRate) * 1000;
    if (!FPreview) continue;
    if (nextDue == 0 || now - nextDue > interval) nextDue = now;
    if (now < nextDue - interval / 4) {
      ++FDropped;
      continue;
    }
    nextDue += interval;
    if (!FCallbackOn) continue;
    TVXCaptureFrame frame{&format, data.data(), data.size(), FNumber++};
    std::lock_guard<std::mutex> lock(FCallbackLock);
    if (FCallback) FCallback(frame);
  }
}

bool TVXCaptureService::SetCaptureFile(const std::string& fileName) {
  if (fileName.empty()) return false;
  // The file must be creatable now, so a bad name is reported before recording starts.
  std::FILE* f = std::fopen(fileName.c_str(), "ab");
  if (!f) {
    SetError(fileName + ": cannot be created");
    return false;
  }
  std::fclose(f);
  FCaptureFile = fileName;
  return true;
}

bool TVXCaptureService::StartSequence() {
  if (!FDevice || FRecording) return false;
  if (FCaptureFile.empty()) {
    SetError("no capture file");
    return false;
  }
  const std::vector<uint8_t> format = GetVideoFormat();
  TVXBitmapInfoHeader h;
  VXReadBitmapInfo(format.data(), format.size(), h);
  const int w = h.Width, ht = h.Rows();
  TVXAviOptions opts = FParms.Compression;
  if (opts.Encoder.empty()) opts.Encoder = "mjpeg";
  FRecordedAudio = false;
  FAudioNote.clear();
  std::unique_ptr<TVXAudioInput> audio;
  if (FParms.CaptureAudio) {
    audio = std::make_unique<TVXAudioInput>();
    std::string why;
    if (audio->Open(why)) {
      opts.AudioSampleRate = audio->SampleRate();
      opts.AudioChannels = audio->Channels();
      FRecordedAudio = true;
    } else {
      FAudioNote = "no audio was recorded (" + why + ")";
      audio.reset();
    }
  }
  const int fps = std::max(1, static_cast<int>(std::lround(1e6 / std::max(1, FParms.MicroSecPerFrame))));
  auto writer = std::make_unique<TVXAviWriter>();
  if (writer->Create(FCaptureFile, w, ht, fps, opts) != vxacOK) {
    SetError(writer->Error());
    FRecordedAudio = false;
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(FDeviceLock);
    FWriter = std::move(writer);
    FAudio = std::move(audio);
    FRecordFrame = TBitmap();
    FRecordWidth = w;
    FRecordHeight = ht;
    FRecordedFrames = 0;
    FRecordStartUs = 0;
  }
  FRecording = true;
  StartThread();
  if (!FThread.joinable()) {
    StopSequence();
    SetError("the device does not stream");
    return false;
  }
  // Without yield the caller waits for the limit that ends the recording.
  if (!FParms.Yield && (FParms.TimeLimit > 0 || FParms.FrameLimit > 0))
    while (FRecording) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return true;
}

// On the capture thread, with frames in device order: each slot of the record
// rate gets the newest frame at its time, so the file plays at the right speed
// whatever rate the device runs at.
void TVXCaptureService::RecordFrame(const std::vector<uint8_t>& data) {
  std::lock_guard<std::mutex> lock(FDeviceLock);
  if (!FWriter) return;
  const int64_t now = NowUs();
  if (FRecordStartUs == 0) FRecordStartUs = now;
  const int64_t interval = std::max(1, FParms.MicroSecPerFrame);
  const int64_t slots = (now - FRecordStartUs) / interval + 1;
  bool decoded = false;
  bool done = false;
  while (FRecordedFrames < slots) {
    if (!decoded) {
      TBitmap frame;
      // A damaged frame, or one of another size, leaves its slot to the next one.
      if (!FRecordDecoder.Decode(FFormat.data(), FFormat.size(), data.data(), data.size(), frame) ||
          frame.Width() != FRecordWidth || frame.Height() != FRecordHeight)
        break;
      if (frame.PixelFormat() != pf24bit) frame.SetPixelFormat(pf24bit);
      FRecordFrame = std::move(frame);
      decoded = true;
    }
    if (!FWriter->WriteFrame(FRecordFrame)) {
      SetError(FWriter->Error());
      done = true;
      break;
    }
    ++FRecordedFrames;
    if (FParms.FrameLimit > 0 && FRecordedFrames >= FParms.FrameLimit) {
      done = true;
      break;
    }
  }
  if (FAudio) FAudio->Drain(*FWriter);
  if (FParms.TimeLimit > 0 && now - FRecordStartUs >= static_cast<int64_t>(FParms.TimeLimit) * 1000000) done = true;
  if (done) {
    FinishRecording();
    FRecording = false;
  }
}

void TVXCaptureService::FinishRecording() {
  if (!FWriter) return;
  if (FAudio) {
    FAudio->Drain(*FWriter);
    FAudio.reset();
  }
  if (!FWriter->Finish()) SetError(FWriter->Error());
  FWriter.reset();
}

bool TVXCaptureService::StopSequence() {
  if (!FRecording && !FWriter) return false;  // never started, or ended by its limit
  FRecording = false;
  {
    std::lock_guard<std::mutex> lock(FDeviceLock);
    FinishRecording();
  }
  if (!FPreview) StopThread();
  return FRecordedFrames > 0;
}

void TVXCaptureService::SetError(const std::string& e) {
  std::lock_guard<std::mutex> lock(FErrorLock);
  FError = e;
}

std::string TVXCaptureService::Error() const {
  std::lock_guard<std::mutex> lock(FErrorLock);
  return FError;
}

}  // namespace vexa
