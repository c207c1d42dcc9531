// Video4Linux2 capture devices, driven directly through the ioctls with
// memory-mapped streaming buffers. Frames are handed on as the camera sends them
// (YUYV or Motion JPEG); TVXFrameDecoder turns them into bitmaps.
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "vexa/acquire/capture.h"
#include "vexa/acquire/v4l2format.h"

namespace vexa {

namespace {

int Ioctl(int fd, unsigned long request, void* arg) {
  int rc;
  do rc = ioctl(fd, request, arg);
  while (rc < 0 && errno == EINTR);
  return rc;
}

// The capabilities that apply to this node (a device may have several).
uint32_t NodeCaps(const v4l2_capability& cap) {
  return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

std::string CString(const uint8_t* s, size_t n) {
  return std::string(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), n));
}

// Opens path and checks it is a streaming capture device.
int OpenCapture(const std::string& path, v4l2_capability& cap, std::string& why) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    why = path + ": " + std::strerror(errno);
    return -1;
  }
  if (!S_ISCHR(st.st_mode)) {
    why = path + ": not a video capture device";
    return -1;
  }
  const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    why = path + ": " + std::strerror(errno);
    return -1;
  }
  std::memset(&cap, 0, sizeof cap);
  const uint32_t need = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  if (Ioctl(fd, VIDIOC_QUERYCAP, &cap) != 0 || (NodeCaps(cap) & need) != need) {
    why = path + ": not a video capture device";
    close(fd);
    return -1;
  }
  return fd;
}

class V4L2Device : public TVXCaptureDevice {
 public:
  V4L2Device(int fd, const v4l2_capability& cap) : FFd(fd), FCaps(NodeCaps(cap)) {
    EnumModes();
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    bool usable = Ioctl(FFd, VIDIOC_G_FMT, &f) == 0 && VXV4L2Supported(f.fmt.pix.pixelformat);
    if (usable) Adopt(f);
    if (!usable && !FModes.empty()) SetMode(FModes.front());
  }
  ~V4L2Device() override {
    Stop();
    close(FFd);
  }
  bool Usable() const { return !FFormat.empty(); }

  TVXCaptureCaps Caps() const override {
    TVXCaptureCaps c;
    c.HasOverlay = (FCaps & V4L2_CAP_VIDEO_OVERLAY) != 0;
    c.HasDlgVideoSource = !Controls().empty();
    c.HasDlgVideoFormat = FModes.size() > 1;
    c.HasDlgVideoDisplay = true;
    c.CaptureInitialized = true;
    return c;
  }
  std::vector<uint8_t> Format() const override { return FFormat; }
  std::vector<TVXCaptureMode> Modes() const override { return FModes; }
  TVXCaptureMode Mode() const override { return FMode; }

  bool SetMode(const TVXCaptureMode& mode) override {
    if (FStreaming || !VXV4L2Supported(mode.FourCC)) return false;
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = static_cast<uint32_t>(mode.Width);
    f.fmt.pix.height = static_cast<uint32_t>(mode.Height);
    f.fmt.pix.pixelformat = mode.FourCC;
    f.fmt.pix.field = V4L2_FIELD_NONE;
    if (Ioctl(FFd, VIDIOC_S_FMT, &f) != 0) {
      FError = std::string("the device refuses the format: ") + std::strerror(errno);
      return false;
    }
    // Drivers adjust what they cannot do; only a supported pixel format is kept.
    if (!VXV4L2Supported(f.fmt.pix.pixelformat)) return false;
    return Adopt(f);
  }

  std::vector<TVXCaptureControl> Controls() const override {
    std::vector<TVXCaptureControl> out;
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (Ioctl(FFd, VIDIOC_QUERYCTRL, &q) == 0) {
      const uint32_t next = q.id | V4L2_CTRL_FLAG_NEXT_CTRL;
      const bool shown = !(q.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_INACTIVE));
      if (shown && (q.type == V4L2_CTRL_TYPE_INTEGER || q.type == V4L2_CTRL_TYPE_BOOLEAN ||
                    q.type == V4L2_CTRL_TYPE_MENU)) {
        TVXCaptureControl c;
        c.Id = q.id;
        c.Name = CString(q.name, sizeof q.name);
        c.Kind = q.type == V4L2_CTRL_TYPE_BOOLEAN ? TVXCaptureControl::ckBoolean
                 : q.type == V4L2_CTRL_TYPE_MENU  ? TVXCaptureControl::ckMenu
                                                  : TVXCaptureControl::ckInteger;
        c.Minimum = q.minimum;
        c.Maximum = q.maximum;
        c.Step = std::max(1, q.step);
        c.Default = c.Value = q.default_value;
        v4l2_control v{};
        v.id = q.id;
        if (Ioctl(FFd, VIDIOC_G_CTRL, &v) == 0) c.Value = v.value;
        if (c.Kind == TVXCaptureControl::ckMenu) {
          // Menus are short; a driver claiming thousands of items gets a cut list.
          for (int i = q.minimum; i <= q.maximum && i - q.minimum < 256; ++i) {
            v4l2_querymenu m{};
            m.id = q.id;
            m.index = static_cast<uint32_t>(i);
            c.MenuItems.push_back(Ioctl(FFd, VIDIOC_QUERYMENU, &m) == 0 ? CString(m.name, sizeof m.name) : "");
          }
        }
        out.push_back(std::move(c));
      }
      q = v4l2_queryctrl{};
      q.id = next;
    }
    return out;
  }

  bool SetControl(uint32_t id, int value) override {
    v4l2_control v{};
    v.id = id;
    v.value = value;
    if (Ioctl(FFd, VIDIOC_S_CTRL, &v) == 0) return true;
    FError = std::string("the device refuses the setting: ") + std::strerror(errno);
    return false;
  }

  bool Start() override {
    if (FStreaming) return true;
    v4l2_requestbuffers req{};
    req.count = 4;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (Ioctl(FFd, VIDIOC_REQBUFS, &req) != 0 || req.count == 0) return Fail("no streaming buffers");
    for (uint32_t i = 0; i < req.count; ++i) {
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      b.index = i;
      if (Ioctl(FFd, VIDIOC_QUERYBUF, &b) != 0) return Fail("cannot query a buffer");
      void* p = mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, FFd, b.m.offset);
      if (p == MAP_FAILED) return Fail("cannot map a buffer");
      FBuffers.push_back({static_cast<uint8_t*>(p), b.length});
      if (Ioctl(FFd, VIDIOC_QBUF, &b) != 0) return Fail("cannot queue a buffer");
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(FFd, VIDIOC_STREAMON, &type) != 0) return Fail("cannot start streaming");
    FStreaming = true;
    return true;
  }

  void Stop() override {
    if (FStreaming) {
      int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      Ioctl(FFd, VIDIOC_STREAMOFF, &type);
      FStreaming = false;
    }
    for (const Buffer& b : FBuffers) munmap(b.Data, b.Length);
    if (!FBuffers.empty()) {
      FBuffers.clear();
      v4l2_requestbuffers req{};
      req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      req.memory = V4L2_MEMORY_MMAP;
      Ioctl(FFd, VIDIOC_REQBUFS, &req);
    }
  }

  bool ReadFrame(std::vector<uint8_t>& data, int timeoutMs) override {
    if (!FStreaming) return Fail("not streaming");
    pollfd p{FFd, POLLIN, 0};
    const int rc = poll(&p, 1, timeoutMs);
    if (rc <= 0) return Fail(rc == 0 ? "no frame in time" : std::strerror(errno));
    // Take the newest of the filled buffers; the older ones go straight back.
    v4l2_buffer last{};
    bool have = false;
    for (;;) {
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      if (Ioctl(FFd, VIDIOC_DQBUF, &b) != 0) break;
      if (have) Ioctl(FFd, VIDIOC_QBUF, &last);
      last = b;
      have = true;
    }
    if (!have) return Fail("no frame");
    bool ok = last.index < FBuffers.size() && !(last.flags & V4L2_BUF_FLAG_ERROR);
    if (ok) {
      const Buffer& buf = FBuffers[last.index];
      ok = VXV4L2CopyFrame(FV4L2, buf.Data, std::min<size_t>(last.bytesused, buf.Length), data);
    }
    Ioctl(FFd, VIDIOC_QBUF, &last);
    return ok || Fail("a damaged frame");
  }

  std::string Error() const override { return FError; }

 private:
  struct Buffer {
    uint8_t* Data;
    size_t Length;
  };

  bool Fail(const std::string& why) {
    FError = why;
    return false;
  }

  bool Adopt(const v4l2_format& f) {
    TVXV4L2Format v;
    v.PixelFormat = f.fmt.pix.pixelformat;
    v.Width = f.fmt.pix.width;
    v.Height = f.fmt.pix.height;
    v.BytesPerLine = f.fmt.pix.bytesperline;
    v.SizeImage = f.fmt.pix.sizeimage;
    std::vector<uint8_t> block = VXV4L2FormatBlock(v);
    if (block.empty()) return false;
    FV4L2 = v;
    FFormat = std::move(block);
    FMode = {static_cast<int>(v.Width), static_cast<int>(v.Height), v.PixelFormat, VXV4L2FormatName(v.PixelFormat)};
    return true;
  }

  void EnumModes() {
    for (uint32_t i = 0;; ++i) {
      v4l2_fmtdesc d{};
      d.index = i;
      d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      if (Ioctl(FFd, VIDIOC_ENUM_FMT, &d) != 0 || i > 64) break;
      if (!VXV4L2Supported(d.pixelformat)) continue;
      const std::string name = CString(d.description, sizeof d.description);
      for (uint32_t k = 0; k < 64; ++k) {
        v4l2_frmsizeenum s{};
        s.index = k;
        s.pixel_format = d.pixelformat;
        if (Ioctl(FFd, VIDIOC_ENUM_FRAMESIZES, &s) != 0) break;
        if (s.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
          FModes.push_back({static_cast<int>(s.discrete.width), static_cast<int>(s.discrete.height), d.pixelformat, name});
          continue;
        }
        // Ranges: offer the common sizes inside them.
        static const int kCommon[][2] = {{160, 120}, {320, 240}, {640, 480}, {800, 600}, {1280, 720}, {1920, 1080}};
        for (const auto& c : kCommon)
          if (static_cast<uint32_t>(c[0]) >= s.stepwise.min_width && static_cast<uint32_t>(c[0]) <= s.stepwise.max_width &&
              static_cast<uint32_t>(c[1]) >= s.stepwise.min_height && static_cast<uint32_t>(c[1]) <= s.stepwise.max_height)
            FModes.push_back({c[0], c[1], d.pixelformat, name});
        break;
      }
    }
  }

  int FFd;
  uint32_t FCaps;
  std::vector<TVXCaptureMode> FModes;
  TVXCaptureMode FMode;
  TVXV4L2Format FV4L2;
  std::vector<uint8_t> FFormat;
  std::vector<Buffer> FBuffers;
  bool FStreaming = false;
  std::string FError;
};

}  // namespace

std::vector<std::string> VXV4L2DevicePaths() {
  std::vector<std::pair<int, std::string>> found;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/dev", ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() <= 5 || name.compare(0, 5, "video") != 0) continue;
    if (!std::all_of(name.begin() + 5, name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    found.emplace_back(std::atoi(name.c_str() + 5), e.path().string());
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  for (auto& f : found) paths.push_back(std::move(f.second));
  return paths;
}

bool VXV4L2Describe(const std::string& path, std::string& name, std::string& version) {
  v4l2_capability cap{};
  std::string why;
  const int fd = OpenCapture(path, cap, why);
  if (fd < 0) return false;
  close(fd);
  name = CString(cap.card, sizeof cap.card);
  version = CString(cap.driver, sizeof cap.driver) + " " + std::to_string(cap.version >> 16) + "." +
            std::to_string((cap.version >> 8) & 0xff) + "." + std::to_string(cap.version & 0xff);
  return true;
}

std::unique_ptr<TVXCaptureDevice> VXOpenV4L2Device(const std::string& path, std::string* why) {
  v4l2_capability cap{};
  std::string reason;
  const int fd = OpenCapture(path, cap, reason);
  if (fd >= 0) {
    auto d = std::make_unique<V4L2Device>(fd, cap);
    if (d->Usable()) return d;
    reason = path + ": delivers no pixel format this library decodes";
  }
  if (why) *why = reason;
  return nullptr;
}

}  // namespace vexa
