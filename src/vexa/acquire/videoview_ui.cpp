#include "vexa/acquire/videoview_ui.h"

#include <QMetaObject>
#include <QPainter>
#include <cmath>

#include "vexa/acquire/avidialog_ui.h"
#include "vexa/acquire/videodialogs_ui.h"
#include "vexa/proc/resample.h"
#include "vexa/view/qtbitmap_ui.h"

namespace vexa {

namespace {
const char* const kCannotOpen = "Unable to open video capture driver";
const char* const kCannotCreateAvi = "Unable to create AVI file";
const char* const kCannotRecord = "Unable to start video recording";
// Frames waiting for the UI thread; older ones give way to newer ones beyond this.
constexpr size_t kMaxQueued = 4;
}  // namespace

TVexaVideoView::TVexaVideoView(QWidget* parent, TComponent* owner)
    : TVexaView(parent, owner), FCapture(std::make_unique<TVXCaptureService>()), FFormat(kVXFormatBlockSize, 0) {
  FillDrivers();
}

TVexaVideoView::~TVexaVideoView() {
  SetState(csDestroying, true);
  DestroyCaptureWindow();
  FCapture.reset();
}

// --- capture window ----------------------------------------------------------

void TVexaVideoView::CreateCaptureWindow() {
  if (FWindow) return;
  FWindow = true;
  if (FShowVideo) ShowLive();
}

void TVexaVideoView::DestroyCaptureWindow() {
  if (!FWindow) return;
  if (FShowVideo) SetShowVideo(false);
  DriverDisconnect();
  FWindow = false;
}

// Connects and starts the live path; raises when the driver cannot be opened.
void TVexaVideoView::ShowLive() {
  if (!FConnected) DriverConnect();
  FCapture->SetFrameCallback([this](const TVXCaptureFrame& f) { QueueFrame(f); });
  FCapture->SetCallbackOn(true);
  ApplyDisplayMode();
  ApplyCallbackState();
  if (FFrozen) SetFreeze(true);
  update();
}

void TVexaVideoView::paintEvent(QPaintEvent* e) {
  if (!FWindow) {
    // Painting must not throw: a driver that fails here leaves the bitmap shown.
    try {
      CreateCaptureWindow();
    } catch (const TVideoCapException& ex) {
      FLastError = ex.what();
      SetShowVideo(false);
    }
  }
  if (!LiveShown()) {
    TVexaView::paintEvent(e);
    return;
  }
  QPainter p(this);
  const int b = BorderStyle() == bsSingle ? 2 : 0;
  if (b > 0) {
    p.setPen(palette().color(QPalette::Shadow));
    p.drawRect(0, 0, width() - 1, height() - 1);
    p.drawRect(1, 1, width() - 3, height() - 3);
  }
  const QRect client(b, b, ClientWidth(), ClientHeight());
  if (FLive.isNull() || FLive.width() < client.width() || FLive.height() < client.height())
    p.fillRect(client, Qt::black);
  if (!FLive.isNull()) p.drawImage(client.topLeft(), FLive);
}

void TVexaVideoView::resizeEvent(QResizeEvent* e) {
  TVexaView::resizeEvent(e);
  FLive = QImage();
  if (LiveShown()) update();
}

// --- properties ------------------------------------------------------------------

void TVexaVideoView::SetScrollBars(TScrollStyle s) {
  FRequestedScrollBars = s;
  if (!FShowVideo) TVexaView::SetScrollBars(s);
}

void TVexaVideoView::SetShowVideo(bool on) {
  if (on) {
    TVexaView::SetScrollBars(ssNone);
    FShowVideo = true;
    if (!FWindow) return;
    try {
      ShowLive();
    } catch (...) {
      // Nothing half-shown stays behind a failed connection.
      FShowVideo = false;
      TVexaView::SetScrollBars(FRequestedScrollBars);
      throw;
    }
    return;
  }
  FCapture->SetFrameCallback(nullptr);
  DriverDisconnect();
  {
    std::lock_guard<std::mutex> lock(FQueueLock);
    FQueue.clear();
  }
  FLive = QImage();
  const bool was = FShowVideo;
  FShowVideo = false;
  if (was && !HasState(csDestroying)) TVexaView::SetScrollBars(FRequestedScrollBars);
  if (!HasState(csDestroying)) update();
}

void TVexaVideoView::SetDisplayMode(TVCDisplayMode mode) {
  FDisplayMode = mode;
  if (FConnected) {
    DeSelect();
    if (!FFrozen) ApplyDisplayMode();
  }
}

void TVexaVideoView::ApplyDisplayMode() {
  if (!FConnected) return;
  FCapture->SetPreviewRate(FPreviewRate);
  FCapture->SetPreview(true);
}

void TVexaVideoView::SetPreviewRate(int ms) {
  FPreviewRate = std::max(1, ms);
  if (FConnected) FCapture->SetPreviewRate(FPreviewRate);
}

void TVexaVideoView::SetVideoSource(int index) {
  FVideoSource = index;
  FFormatValid = false;
  if (FShowVideo) {
    SetShowVideo(false);
    SetShowVideo(true);
  }
}

void TVexaVideoView::SetOnVideoFrame(TVideoFrameEvent e) {
  FOnVideoFrame = std::move(e);
  ApplyCallbackState();
}

void TVexaVideoView::SetOnVideoFrameRaw(TVideoFrameRawEvent e) {
  FOnVideoFrameRaw = std::move(e);
  ApplyCallbackState();
}

void TVexaVideoView::ApplyCallbackState() { FCallbackOn = FGrabbing || FOnVideoFrame || FOnVideoFrameRaw; }

void TVexaVideoView::DoJob(TVXJob job, int per) {
  if (OnJob) OnJob(this, job, per);
}

void TVexaVideoView::Select(int x1, int y1, int x2, int y2, TVXSelOp op) {
  if (FShowVideo && !FFrozen) return;
  TVexaView::Select(x1, y1, x2, y2, op);
}

void TVexaVideoView::AddSelPoint(int x, int y) {
  if (FShowVideo && !FFrozen) return;
  TVexaView::AddSelPoint(x, y);
}

// --- frames ------------------------------------------------------------------

// Capture thread: copy the frame and wake the UI thread once per batch.
void TVexaVideoView::QueueFrame(const TVXCaptureFrame& frame) {
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(FQueueLock);
    if (!FQueueFormat || *FQueueFormat != *frame.Format)
      FQueueFormat = std::make_shared<const std::vector<uint8_t>>(*frame.Format);
    if (FQueue.size() >= kMaxQueued) {
      FQueue.pop_front();
      ++FSkipped;
    }
    FQueue.push_back({FQueueFormat, std::vector<uint8_t>(frame.Data, frame.Data + frame.Size)});
    post = !FPosted;
    FPosted = true;
  }
  if (post) QMetaObject::invokeMethod(this, [this] { TakeFrames(); }, Qt::QueuedConnection);
}

void TVexaVideoView::TakeFrames() {
  std::deque<PendingFrame> frames;
  {
    std::lock_guard<std::mutex> lock(FQueueLock);
    frames.swap(FQueue);
    FPosted = false;
  }
  // Frames still in flight when video stopped or froze are dropped.
  if (!LiveShown()) return;
  for (size_t i = 0; i < frames.size(); ++i)
    DeliverFrame(*frames[i].Format, frames[i].Data.data(), frames[i].Data.size(), i + 1 == frames.size());
}

void TVexaVideoView::DeliverFrame(const std::vector<uint8_t>& format, const uint8_t* data, size_t size, bool show) {
  if (format != FFormat) {
    FFormat = format;
    if (FFormat.size() < kVXFormatBlockSize) FFormat.resize(kVXFormatBlockSize, 0);
    FFormatValid = true;
  }
  if (FCallbackOn && FOnVideoFrame) {
    TBitmap temp;
    if (DecompRawFrame(temp, data, size)) FOnVideoFrame(this, &temp);
  }
  if (FCallbackOn && FOnVideoFrameRaw) FOnVideoFrameRaw(this, FFormat, data, size);
  if (FGrabbing) {
    DecompRawFrame(Bitmap(), data, size);
    return;
  }
  if (!show || !DecompRawFrame(FFrameBitmap, data, size)) return;
  const TBitmap& bmp = FFrameBitmap;
  const int w = ScaleVideo ? ClientWidth() : std::min(bmp.Width(), ClientWidth());
  const int h = ScaleVideo ? ClientHeight() : std::min(bmp.Height(), ClientHeight());
  if (w <= 0 || h <= 0) return;
  const TVXSourceRect src{0, 0, ScaleVideo ? bmp.Width() : w, ScaleVideo ? bmp.Height() : h};
  FLive = VXBitmapToQImage(bmp, src, w, h);
  update();
}

bool TVexaVideoView::DecompRawFrame(TBitmap& bmp, const uint8_t* data, size_t size) {
  return FDecoder.Decode(FFormat.data(), FFormat.size(), data, size, bmp);
}

void TVexaVideoView::SetFreeze(bool v) {
  FFrozen = v;
  if (!FShowVideo || !FConnected) return;
  if (!v) {
    ApplyDisplayMode();
    update();
    return;
  }
  FGrabbing = true;
  ApplyCallbackState();
  std::vector<uint8_t> data;
  // The grab stops preview; the frame goes through the same delivery as live ones.
  if (FCapture->GrabFrame(data)) {
    const std::vector<uint8_t> format = FCapture->GetVideoFormat();
    DeliverFrame(format, data.data(), data.size(), false);
  }
  FGrabbing = false;
  ApplyCallbackState();
  TBitmap& bmp = Bitmap();
  if (FitFreeze && !bmp.Empty() && ClientWidth() > 0 && ClientHeight() > 0) {
    const bool enlarge = bmp.Width() < ClientWidth() || bmp.Height() < ClientHeight();
    TBitmap fitted(ClientWidth(), ClientHeight(), bmp.PixelFormat() == pf1bit ? pf24bit : bmp.PixelFormat());
    _Resample(bmp, fitted, enlarge ? rfTriangle : rfNone, nullptr, this);
    bmp = std::move(fitted);
  }
  Update();
}

// --- driver ----------------------------------------------------------------

void TVexaVideoView::DriverConnect() {
  DoJob(vxjVIDEOCAP_CONNECTING, 0);
  if (!FCapture->DriverConnect(FVideoSource)) {
    DoJob(vxjNOTHING, 0);
    throw TVideoCapException(kCannotOpen);
  }
  FConnected = true;
  FFormatValid = false;
  FillBitmapInfo();
  DoJob(vxjNOTHING, 0);
}

bool TVexaVideoView::DriverConnectNE() {
  FConnected = FCapture->DriverConnect(FVideoSource);
  return FConnected;
}

void TVexaVideoView::DriverDisconnect() {
  if (FCapture->Recording()) FCapture->StopSequence();
  FCapture->DriverDisconnect();
  FConnected = false;
}

bool TVexaVideoView::FillBitmapInfo() {
  if (FFormatValid) return true;
  const bool was = FConnected;
  const bool ok = was || DriverConnectNE();
  if (ok) {
    std::vector<uint8_t> block = FCapture->GetVideoFormat();
    block.resize(std::max(kVXFormatBlockSize, block.size()), 0);
    FFormat = std::move(block);
    if (!was) DriverDisconnect();
  }
  FFormatValid = true;
  return ok;
}

void TVexaVideoView::GetCaps(TVXCaptureCaps& caps) {
  const bool was = FConnected;
  if (!was) {
    if (!DriverConnectNE()) throw TVideoCapException(kCannotOpen);
  }
  caps = FCapture->GetCaps();
  caps.DeviceIndex = FVideoSource;
  if (!was) DriverDisconnect();
}

TVXCaptureCaps TVexaVideoView::QueryCaps() {
  TVXCaptureCaps c;
  GetCaps(c);
  return c;
}

bool TVexaVideoView::GetHasDlgVideoSource() { return QueryCaps().HasDlgVideoSource; }
bool TVexaVideoView::GetHasDlgVideoFormat() { return QueryCaps().HasDlgVideoFormat; }
bool TVexaVideoView::GetHasDlgVideoDisplay() { return QueryCaps().HasDlgVideoDisplay; }
bool TVexaVideoView::GetHasOverlay() { return QueryCaps().HasOverlay; }

template <class F>
bool TVexaVideoView::WithDriver(F&& dialog) {
  const bool was = FConnected;
  if (!was && !DriverConnectNE()) return false;
  const bool result = dialog();
  FFormatValid = false;
  FillBitmapInfo();
  if (!was) DriverDisconnect();
  return result;
}

bool TVexaVideoView::DoConfigureSource() {
  return WithDriver([this] { return VXShowCaptureSourceDialog(*FCapture, this); });
}

bool TVexaVideoView::DoConfigureFormat() {
  return WithDriver([this] { return VXShowCaptureFormatDialog(*FCapture, this); });
}

bool TVexaVideoView::DoConfigureDisplay() {
  return WithDriver([this] {
    int rate = FPreviewRate;
    bool scale = ScaleVideo;
    if (!VXShowCaptureDisplayDialog(rate, scale, this)) return false;
    ScaleVideo = scale;
    FLive = QImage();
    SetPreviewRate(rate);
    return true;
  });
}

bool TVexaVideoView::DoConfigureCompression() {
  return WithDriver([this] {
    TVXAviOptions o = RecordCompression;
    if (o.Encoder.empty()) o.Encoder = "mjpeg";
    if (!VXShowAviOptionsDialog(o, this)) return false;
    RecordCompression = o;
    return true;
  });
}

void TVexaVideoView::FillDrivers() {
  VideoSourceList.clear();
  for (int i = 0; i < kVXMaxCaptureDrivers; ++i) {
    std::string name, version;
    if (VXCaptureDriverDescription(i, name, version)) VideoSourceList.push_back(name + " " + version);
  }
}

TRect TVexaVideoView::GetVideoSize() {
  if (!FWindow) CreateCaptureWindow();
  FillBitmapInfo();
  TVXBitmapInfoHeader h;
  VXReadBitmapInfo(FFormat.data(), FFormat.size(), h);
  return {0, 0, std::max(h.Width, 0) - 1, h.Rows() - 1};
}

// --- recording -------------------------------------------------------------------

void TVexaVideoView::StartRecord() {
  if (FCapture->Recording()) return;
  TVXCaptureParms p = FCapture->GetSequenceSetup();
  p.Yield = RecordYield;
  p.CaptureAudio = RecordAudio;
  p.MicroSecPerFrame = static_cast<int>(std::lround(1.0 / std::max(1, RecordFrameRate) * 1000000));
  p.Compression = RecordCompression;
  FCapture->SetSequenceSetup(p);
  if (!FCapture->SetCaptureFile(RecordFileName)) throw TVideoCapException(kCannotCreateAvi);
  if (!FCapture->StartSequence()) throw TVideoCapException(kCannotRecord);
}

void TVexaVideoView::StopRecord() {
  if (FCapture->Recording()) FCapture->StopSequence();
}

bool TVexaVideoView::Recording() const { return FCapture->Recording(); }

}  // namespace vexa
