// `vexa capture`: lists the video capture drivers, grabs a still or records an
// AVI, so that capture can be tried without the studio.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_support.h"
#include "commands.h"
#include "vexa/acquire/capture.h"
#include "vexa/io/vexaio.h"

namespace vexacli {
namespace {

const char* kUsage =
    "vexa capture --list\n"
    "       vexa capture [--device N] [--frames N | --seconds S] [--rate FPS] [--encoder NAME] [--audio] OUT\n"
    "  OUT.avi records (Motion JPEG unless --encoder names another: rawvideo, ffv1, mpeg4) at\n"
    "  --rate frames per second (15) for --frames frames or --seconds seconds (5); any other\n"
    "  image name saves one frame. Drivers are the /dev/video* capture devices, then the test\n"
    "  pattern when VEXA_TEST_CAPTURE=1.";

const vexacli::Command kSelf{"capture", "", kUsage, nullptr};

bool ParseInt(const std::string& s, int lo, int hi, int& out) {
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "vexa capture: %s\n", what.c_str());
  return kExitAborted;
}

int List() {
  int n = 0;
  for (int i = 0; i < vexa::kVXMaxCaptureDrivers; ++i) {
    std::string name, version;
    if (!vexa::VXCaptureDriverDescription(i, name, version)) continue;
    std::printf("%d: %s %s\n", i, name.c_str(), version.c_str());
    ++n;
  }
  if (n == 0) std::fprintf(stderr, "vexa capture: no video capture device\n");
  return kExitOk;
}

int RunCapture(const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "--list") return List();
  int device = 0, frames = 0, seconds = 0, rate = 15;
  bool audio = false;
  std::string encoder, out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--device" && hasValue) {
      if (!ParseInt(args[++i], 0, vexa::kVXMaxCaptureDrivers - 1, device)) return UsageError(kSelf, "bad --device");
    } else if (a == "--frames" && hasValue) {
      if (!ParseInt(args[++i], 1, 1000000, frames)) return UsageError(kSelf, "bad --frames");
    } else if (a == "--seconds" && hasValue) {
      if (!ParseInt(args[++i], 1, 86400, seconds)) return UsageError(kSelf, "bad --seconds");
    } else if (a == "--rate" && hasValue) {
      if (!ParseInt(args[++i], 1, 1000, rate)) return UsageError(kSelf, "bad --rate");
    } else if (a == "--encoder" && hasValue) {
      encoder = args[++i];
    } else if (a == "--audio") {
      audio = true;
    } else if (a.rfind("--", 0) == 0 || !out.empty()) {
      return UsageError(kSelf, "unexpected " + a);
    } else {
      out = a;
    }
  }
  if (out.empty()) return UsageError(kSelf, "expected OUT");
  if (frames > 0 && seconds > 0) return UsageError(kSelf, "--frames and --seconds exclude each other");
  std::string ext = std::filesystem::path(out).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });

  vexa::TVXCaptureService capture;
  if (!capture.DriverConnect(device)) return Fail("Unable to open video capture driver");
  if (ext != ".avi") {
    std::vector<uint8_t> data;
    const std::vector<uint8_t> format = capture.GetVideoFormat();
    vexa::TBitmap bmp;
    vexa::TVXFrameDecoder decoder;
    if (!capture.GrabFrame(data) || !decoder.Decode(format.data(), format.size(), data.data(), data.size(), bmp))
      return Fail("no frame from the device: " + capture.Error());
    vexa::TVexaIO io;
    io.SetAttachedBitmap(&bmp);
    io.SaveToFile(out);
    if (io.Aborting) return Fail(out + ": cannot write the image" + FailureSuffix(io));
    std::printf("%d x %d frame written to %s\n", bmp.Width(), bmp.Height(), out.c_str());
    return kExitOk;
  }
  vexa::TVXCaptureParms p;
  p.MicroSecPerFrame = static_cast<int>(1000000 / rate);
  p.FrameLimit = frames;
  p.TimeLimit = frames == 0 ? (seconds > 0 ? seconds : 5) : 0;
  p.Yield = false;
  p.CaptureAudio = audio;
  p.Compression.Encoder = encoder;
  capture.SetSequenceSetup(p);
  if (!capture.SetCaptureFile(out)) return Fail("Unable to create AVI file");
  if (!capture.StartSequence()) return Fail("Unable to start video recording: " + capture.Error());
  capture.StopSequence();
  if (capture.RecordedFrames() == 0) return Fail("no frame was recorded: " + capture.Error());
  std::printf("%d frame(s) at %d fps written to %s\n", capture.RecordedFrames(), rate, out.c_str());
  if (audio && !capture.RecordedAudio()) std::fprintf(stderr, "vexa capture: %s\n", capture.AudioNote().c_str());
  return kExitOk;
}

const VexaCommand kCapture({"capture", "list video capture devices, grab a frame or record an AVI", kUsage,
                            RunCapture});

}  // namespace
}  // namespace vexacli
