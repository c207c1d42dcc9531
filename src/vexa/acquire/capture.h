// Video capture devices and the capture service the video view drives.
//
// A driver index (0 ... 9) names one device: the Video4Linux2 capture devices
// (/dev/video*, by number) first, then the synthetic test-pattern device when it
// is enabled (VXEnableTestCapture, or VEXA_TEST_CAPTURE=1 in the environment).
//
// Frames travel as raw data described by a format block: a bitmap-info header
// (40 bytes, little-endian, the DIB layout) followed by its colour table, in a
// block of at least kVXFormatBlockSize bytes. The compression field says what the
// data is:
//
//     BI_RGB (0)   DIB rows, bottom-up, 4-byte aligned, 1 / 8 (palette) / 24 / 32 bits
//     'YUY2'       packed 4:2:2, Y0 U Y1 V, top-down, 2 bytes per pixel
//     'MJPG'       one JPEG image (the Huffman tables may be left out, as cameras do)
//
// TVXFrameDecoder turns any of them into a pf1bit or pf24bit bitmap.
//
// TVXCaptureService stands in for the platform's capture window: it connects to
// one driver, streams frames on its own thread at the preview rate and hands each
// to the frame callback on that thread, grabs single frames on the caller's
// thread, and records sequences to AVI (through avi.h). Nothing here touches a GUI.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vexa/acquire/avi.h"
#include "vexa/core/bitmap.h"

namespace vexa {

inline constexpr int kVXMaxCaptureDrivers = 10;
/// Smallest format block: the header and a 256-entry colour table, with room to spare.
inline constexpr size_t kVXFormatBlockSize = 1068;

constexpr uint32_t VXFourCC(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}
inline constexpr uint32_t kVXBI_RGB = 0;
inline constexpr uint32_t kVXFourCC_YUY2 = VXFourCC('Y', 'U', 'Y', '2');
inline constexpr uint32_t kVXFourCC_MJPG = VXFourCC('M', 'J', 'P', 'G');

/// The bitmap-info header at the start of a format block (fields as in a DIB).
struct TVXBitmapInfoHeader {
  uint32_t Size = 40;
  int32_t Width = 0;
  int32_t Height = 0;  ///< positive: BI_RGB rows are bottom-up
  uint16_t Planes = 1;
  uint16_t BitCount = 24;
  uint32_t Compression = kVXBI_RGB;
  uint32_t SizeImage = 0;  ///< bytes of one frame (the largest, for compressed data)
  int32_t XPelsPerMeter = 0, YPelsPerMeter = 0;
  uint32_t ClrUsed = 0, ClrImportant = 0;
  /// Rows, whichever way they run (0 for the height that has no positive counterpart).
  int Rows() const { return Height == INT32_MIN ? 0 : Height < 0 ? -Height : Height; }
};

/// Reads the header of a block; false when the block is shorter than one.
bool VXReadBitmapInfo(const uint8_t* block, size_t size, TVXBitmapInfoHeader& header);
/// A zeroed block of max(kVXFormatBlockSize, 40 + 4 * palette size) bytes holding header and palette.
std::vector<uint8_t> VXMakeFormatBlock(const TVXBitmapInfoHeader& header, const std::vector<TRGB>& palette = {});

/// What a driver offers (the capabilities record).
struct TVXCaptureCaps {
  int DeviceIndex = 0;
  bool HasOverlay = false;
  bool HasDlgVideoSource = false;   ///< has adjustable controls (brightness ...)
  bool HasDlgVideoFormat = false;   ///< offers more than one size or pixel format
  bool HasDlgVideoDisplay = false;  ///< preview rate and scaling can be set
  bool CaptureInitialized = false;
  bool DriverSuppliesPalettes = false;
};

/// One size and pixel format a device can deliver.
struct TVXCaptureMode {
  int Width = 0, Height = 0;
  uint32_t FourCC = 0;      ///< device pixel format (V4L2 fourcc, or kVXBI_RGB)
  std::string Description;  ///< "YUYV 4:2:2", "Motion-JPEG" ...
  friend bool operator==(const TVXCaptureMode&, const TVXCaptureMode&) = default;
};

/// One adjustable device setting (what the source dialog shows).
struct TVXCaptureControl {
  enum TKind { ckInteger, ckBoolean, ckMenu };
  uint32_t Id = 0;
  std::string Name;
  TKind Kind = ckInteger;
  int Minimum = 0, Maximum = 0, Step = 1, Default = 0, Value = 0;
  std::vector<std::string> MenuItems;  ///< ckMenu: item i is value Minimum + i (empty names are gaps)
};

/// A device. Methods are called from one thread at a time (the service serialises them).
class TVXCaptureDevice {
 public:
  virtual ~TVXCaptureDevice() = default;
  virtual TVXCaptureCaps Caps() const = 0;
  /// The format block of the frames ReadFrame delivers.
  virtual std::vector<uint8_t> Format() const = 0;
  virtual std::vector<TVXCaptureMode> Modes() const = 0;
  virtual TVXCaptureMode Mode() const = 0;
  /// False when the device refuses (the previous mode stays). Not while streaming.
  virtual bool SetMode(const TVXCaptureMode& mode) = 0;
  virtual std::vector<TVXCaptureControl> Controls() const = 0;
  virtual bool SetControl(uint32_t id, int value) = 0;
  virtual bool Start() = 0;
  virtual void Stop() = 0;
  /// Waits up to timeoutMs for the next frame (the newest one when several are
  /// ready); false on time-out or device failure (Error says which).
  virtual bool ReadFrame(std::vector<uint8_t>& data, int timeoutMs) = 0;
  virtual std::string Error() const { return {}; }
};

// --- drivers --------------------------------------------------------------

/// Lets the synthetic device be listed after the real ones (also VEXA_TEST_CAPTURE=1).
void VXEnableTestCapture(bool on);
bool VXTestCaptureEnabled();
/// Name and version of driver index (0 ... 9); false when there is no such driver.
bool VXCaptureDriverDescription(int index, std::string& name, std::string& version);
/// Opens driver index; null when there is none or it cannot be opened.
std::unique_ptr<TVXCaptureDevice> VXOpenCaptureDriver(int index);

/// The Video4Linux2 capture devices, as /dev/video* paths in number order.
std::vector<std::string> VXV4L2DevicePaths();
/// Opens one path; null with why set when it is not a video capture device.
std::unique_ptr<TVXCaptureDevice> VXOpenV4L2Device(const std::string& path, std::string* why = nullptr);
/// Card name and "driver version" of a capture device; false when it is not one.
bool VXV4L2Describe(const std::string& path, std::string& name, std::string& version);

// --- synthetic device --------------------------------------------------------

/// Moving colour bars with the frame number in the top band: kVXPatternBits
/// black or white cells, most significant first, each a 1/kVXPatternBits of the width.
inline constexpr int kVXPatternBits = 24;
/// Draws frame `counter` of the test pattern into bmp (pf24bit, its current size).
void VXDrawTestPattern(TBitmap& bmp, uint32_t counter, int brightness = 128);
/// The counter read back from a pattern frame (-1 when the band is not a counter),
/// tolerant of lossy compression, and of rescaling while a cell stays several pixels wide.
int64_t VXReadPatternCounter(const TBitmap& bmp);
/// The synthetic device on its own, at a fixed frame rate (frames are numbered
/// from 0 in the order they are read).
std::unique_ptr<TVXCaptureDevice> VXCreateTestPatternDevice(int framesPerSecond = 30);

// --- frame decoding ----------------------------------------------------------

/// Decodes raw frames of a format block into bitmaps (the blitter of the view).
/// Malformed data returns false and leaves bmp empty; nothing is read outside
/// the given bytes and sizes over the bitmap limit are refused.
class TVXFrameDecoder {
 public:
  TVXFrameDecoder();
  ~TVXFrameDecoder();
  TVXFrameDecoder(const TVXFrameDecoder&) = delete;
  TVXFrameDecoder& operator=(const TVXFrameDecoder&) = delete;
  bool Decode(const uint8_t* format, size_t formatSize, const uint8_t* data, size_t dataSize, TBitmap& bmp);

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

// --- capture service -----------------------------------------------------------

/// The capture parameters (what the platform keeps in its sequence set-up record).
struct TVXCaptureParms {
  int MicroSecPerFrame = 66667;  ///< requested frame interval when recording
  bool Yield = true;             ///< record on the capture thread while the caller goes on
  bool CaptureAudio = false;     ///< record the default audio input as well
  int TimeLimit = 0;             ///< seconds; 0 = until StopSequence
  int FrameLimit = 0;            ///< frames; 0 = no limit
  TVXAviOptions Compression;     ///< encoder (Motion JPEG when empty)
};

/// One frame as handed to the callback: the format block and the raw data.
struct TVXCaptureFrame {
  const std::vector<uint8_t>* Format = nullptr;
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  uint64_t Number = 0;  ///< frames delivered since the stream started
};

/// Called on the capture thread for every previewed frame while the callback is on.
using TVXFrameCallback = std::function<void(const TVXCaptureFrame& frame)>;

/// The capture window's service: one connected driver, preview on its own thread,
/// single grabs and AVI recording.
class TVXCaptureService {
 public:
  TVXCaptureService();
  ~TVXCaptureService();
  TVXCaptureService(const TVXCaptureService&) = delete;
  TVXCaptureService& operator=(const TVXCaptureService&) = delete;

  bool DriverConnect(int index);
  /// Takes a device that is already open (tests and applications with their own devices).
  bool DriverConnect(std::unique_ptr<TVXCaptureDevice> device);
  void DriverDisconnect();
  bool Connected() const { return FDevice != nullptr; }
  TVXCaptureCaps GetCaps() const;
  /// The current format block (empty when not connected).
  std::vector<uint8_t> GetVideoFormat() const;
  std::vector<TVXCaptureMode> Modes() const;
  TVXCaptureMode Mode() const;
  bool SetMode(const TVXCaptureMode& mode);
  std::vector<TVXCaptureControl> Controls() const;
  bool SetControl(uint32_t id, int value);

  void SetPreviewRate(int ms);
  int PreviewRate() const { return FPreviewRate; }
  /// Streaming on or off: frames flow to the callback only while preview is on.
  bool SetPreview(bool on);
  bool Preview() const { return FPreview; }
  void SetFrameCallback(TVXFrameCallback cb);
  void SetCallbackOn(bool on) { FCallbackOn = on; }
  bool CallbackOn() const { return FCallbackOn; }

  /// Stops preview and reads one frame on the caller's thread into data.
  bool GrabFrame(std::vector<uint8_t>& data, int timeoutMs = 2000);

  TVXCaptureParms GetSequenceSetup() const { return FParms; }
  void SetSequenceSetup(const TVXCaptureParms& p) { FParms = p; }
  /// False when the name is empty.
  bool SetCaptureFile(const std::string& fileName);
  /// Opens the AVI and starts recording (streaming starts if it was off). With Yield
  /// off the call returns when the time or frame limit ends the recording (or at once
  /// without one). False, with Error set, when the file or the encoder fails.
  bool StartSequence();
  /// Ends a recording and completes the file; false when nothing was recorded.
  bool StopSequence();
  bool Recording() const { return FRecording; }
  /// Frames written by the current or last recording.
  int RecordedFrames() const { return FRecordedFrames; }
  /// Whether the last recording has an audio track; AudioNote says why not.
  bool RecordedAudio() const { return FRecordedAudio; }
  const std::string& AudioNote() const { return FAudioNote; }
  /// Frames the device delivered that preview or recording skipped (the newest wins).
  uint64_t DroppedFrames() const { return FDropped; }
  /// Frames handed to the callback since connecting.
  uint64_t DeliveredFrames() const { return FNumber; }
  std::string Error() const;

 private:
  void StartThread();
  void StopThread();
  void Run();
  void RecordFrame(const std::vector<uint8_t>& data);
  void FinishRecording();
  void SetError(const std::string& e);

  std::unique_ptr<TVXCaptureDevice> FDevice;
  mutable std::mutex FDeviceLock;  // device calls and the recording writer
  std::vector<uint8_t> FFormat;
  std::thread FThread;
  std::atomic<bool> FRun{false}, FPreview{false}, FCallbackOn{false}, FRecording{false};
  std::atomic<int> FPreviewRate{60};
  std::mutex FCallbackLock;
  TVXFrameCallback FCallback;
  TVXCaptureParms FParms;
  std::string FCaptureFile;
  std::unique_ptr<TVXAviWriter> FWriter;
  TVXFrameDecoder FRecordDecoder;
  TBitmap FRecordFrame;
  int FRecordWidth = 0, FRecordHeight = 0;
  int64_t FRecordStartUs = 0;
  std::atomic<int> FRecordedFrames{0};
  bool FRecordedAudio = false;
  std::string FAudioNote;
  std::atomic<uint64_t> FDropped{0};
  std::atomic<uint64_t> FNumber{0};
  mutable std::mutex FErrorLock;
  std::string FError;
  std::unique_ptr<TVXAudioInput> FAudio;
};

}  // namespace vexa
