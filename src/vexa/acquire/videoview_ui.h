// TVexaVideoView: a TVexaView that shows live video from a capture driver
// (capture.h), freezes a frame into its own bitmap (an ordinary image from then
// on), hands every frame to the application, records AVI files and opens the
// driver's settings dialogs.
//
// Threads: the capture service reads frames on its own thread; they reach this
// widget through the Qt event loop (queued, newest kept when the UI falls
// behind), and every event here runs on the UI thread. The capture thread never
// touches the widget.
//
// Failures: connecting for video, GetCaps and DriverConnect raise
// TVideoCapException "Unable to open video capture driver"; StartRecord raises
// "Unable to create AVI file" or "Unable to start video recording". Dialogs and
// format queries without a reachable driver return false. With no driver at all
// the view is a plain TVexaView.
#pragma once

#include <QImage>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "vexa/acquire/capture.h"
#include "vexa/view/vexaview_ui.h"

namespace vexa {

/// The capture component's failures (the message says which).
class TVideoCapException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TVCDisplayMode { dmPreview, dmOverlay };
enum TVXJob { vxjNOTHING, vxjGENERALPROCESSING, vxjVIDEOCAP_CONNECTING };

using TVXJobEvent = std::function<void(TObject* sender, TVXJob job, int per)>;
/// The bitmap lives only for the call.
using TVideoFrameEvent = std::function<void(TObject* sender, TBitmap* bitmap)>;
/// hDib: the format block (bitmap-info header and colour table); pData: the frame's
/// raw data, size bytes. Both live only for the call.
using TVideoFrameRawEvent =
    std::function<void(TObject* sender, const std::vector<uint8_t>& hDib, const uint8_t* pData, size_t size)>;

/// An image view that shows live video, freezes frames into its bitmap and records AVI.
class TVexaVideoView : public TVexaView {
  Q_OBJECT

 public:
  explicit TVexaVideoView(QWidget* parent = nullptr, TComponent* owner = nullptr);
  ~TVexaVideoView() override;

  // --- properties
  bool ShowVideo() const { return FShowVideo; }
  /// On: connects (may raise) once the capture window exists, scroll bars go off.
  void SetShowVideo(bool on);
  TVCDisplayMode DisplayMode() const { return FDisplayMode; }
  /// Overlay runs the same live path as preview here.
  void SetDisplayMode(TVCDisplayMode mode);
  int VideoSource() const { return FVideoSource; }
  void SetVideoSource(int index);
  /// Milliseconds between previewed frames.
  int PreviewRate() const { return FPreviewRate; }
  void SetPreviewRate(int ms);
  bool FitFreeze = true;
  /// Live video stretched to the client area (off: 1:1 from the top left).
  bool ScaleVideo = true;
  std::string RecordFileName = "Capture.avi";
  int RecordFrameRate = 15;
  bool RecordAudio = false;
  bool RecordYield = true;
  /// The compression dialog's choice (Motion JPEG when no encoder is set).
  TVXAviOptions RecordCompression;
  /// One entry per capture driver ("name version"), filled at construction.
  std::vector<std::string> VideoSourceList;
  /// ScrollBars as the application set it (the view's bars are off while video shows).
  TScrollStyle RequestedScrollBars() const { return FRequestedScrollBars; }
  void SetScrollBars(TScrollStyle s) override;

  // --- events
  const TVideoFrameEvent& OnVideoFrame() const { return FOnVideoFrame; }
  void SetOnVideoFrame(TVideoFrameEvent e);
  const TVideoFrameRawEvent& OnVideoFrameRaw() const { return FOnVideoFrameRaw; }
  void SetOnVideoFrameRaw(TVideoFrameRawEvent e);
  TVXJobEvent OnJob;

  // --- freeze
  bool Frozen() const { return FFrozen; }
  void SetFreeze(bool v);
  void Freeze() { SetFreeze(true); }
  void UnFreeze() { SetFreeze(false); }

  // --- driver
  void DriverConnect();
  bool DriverConnectNE();
  void DriverDisconnect();
  bool Connected() const { return FConnected; }
  /// Raises when the driver cannot be reached.
  void GetCaps(TVXCaptureCaps& caps);
  bool GetHasDlgVideoSource();
  bool GetHasDlgVideoFormat();
  bool GetHasDlgVideoDisplay();
  bool GetHasOverlay();
  bool DoConfigureSource();
  bool DoConfigureFormat();
  bool DoConfigureDisplay();
  bool DoConfigureCompression();
  void FillDrivers();
  /// True when the format block is up to date or the driver could be asked.
  bool FillBitmapInfo();
  /// The driver's current format (at least kVXFormatBlockSize bytes, zeroed until known).
  const std::vector<uint8_t>& FormatBlock() const { return FFormat; }
  /// (0, 0, width - 1, height - 1) of the current format; creates the capture window.
  TRect GetVideoSize();
  /// Decodes frame data of the current format into bmp (1 or 24 bits).
  bool DecompRawFrame(TBitmap& bmp, const uint8_t* data, size_t size);

  // --- recording
  void StartRecord();
  void StopRecord();
  bool Recording() const;
  /// Frames written by the current or last recording.
  int RecordedFrames() const { return FCapture->RecordedFrames(); }
  /// Why the last recording has no sound (empty when it has, or none was asked).
  std::string RecordAudioNote() const { return FCapture->AudioNote(); }

  // --- capture window (created on first paint)
  void CreateCaptureWindow();
  void DestroyCaptureWindow();
  bool HasCaptureWindow() const { return FWindow; }
  /// The frame callback is on (an event is assigned, or a freeze is under way).
  bool FrameCallbackOn() const { return FCallbackOn; }
  /// Frames the capture thread handed over that the UI skipped because it fell behind.
  uint64_t SkippedFrames() const { return FSkipped; }
  /// The message of the last connection failure met while painting.
  const std::string& LastError() const { return FLastError; }
  TVXCaptureService& CaptureService() { return *FCapture; }

  void DoJob(TVXJob job, int per);
  /// Selections only while frozen or while video is not shown; ignored otherwise.
  void Select(int x1, int y1, int x2, int y2, TVXSelOp op = vxspReplace) override;
  void AddSelPoint(int x, int y) override;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  struct PendingFrame {
    std::shared_ptr<const std::vector<uint8_t>> Format;
    std::vector<uint8_t> Data;
  };
  void ApplyDisplayMode();
  void ApplyCallbackState();
  void ShowLive();
  void QueueFrame(const TVXCaptureFrame& frame);
  void TakeFrames();
  void DeliverFrame(const std::vector<uint8_t>& format, const uint8_t* data, size_t size, bool show);
  TVXCaptureCaps QueryCaps();
  bool LiveShown() const { return FShowVideo && FConnected && !FFrozen; }
  /// Runs a settings dialog with the driver connected for it; false without a driver.
  template <class F>
  bool WithDriver(F&& dialog);

  std::unique_ptr<TVXCaptureService> FCapture;
  TVXFrameDecoder FDecoder;
  bool FWindow = false;
  bool FShowVideo = false, FFrozen = false, FConnected = false, FGrabbing = false, FCallbackOn = false;
  TVCDisplayMode FDisplayMode = dmPreview;
  int FVideoSource = 0, FPreviewRate = 60;
  TScrollStyle FRequestedScrollBars = ssNone;
  std::vector<uint8_t> FFormat;
  bool FFormatValid = false;
  TVideoFrameEvent FOnVideoFrame;
  TVideoFrameRawEvent FOnVideoFrameRaw;
  std::string FLastError;
  TBitmap FFrameBitmap;
  QImage FLive;

  std::mutex FQueueLock;
  std::deque<PendingFrame> FQueue;
  bool FPosted = false;
  std::shared_ptr<const std::vector<uint8_t>> FQueueFormat;
  std::atomic<uint64_t> FSkipped{0};
};

}  // namespace vexa
