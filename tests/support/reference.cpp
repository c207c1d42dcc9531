#include "support/reference.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <tuple>

namespace vexa::test {

namespace {

// The distribution's interpreter first: python3-pil installs there, whatever python3 is first on PATH.
const std::string& Python() {
  static const std::string python = [] {
    for (const char* p : {"/usr/bin/python3", "python3"})
      if (std::system((std::string(p) + " -c 'import PIL' >/dev/null 2>&1").c_str()) == 0) return std::string(p);
    return std::string();
  }();
  return python;
}

const char* kDecodeScript = R"PY(
import sys
from PIL import Image
path, page, frame_only = sys.argv[1], int(sys.argv[2]), sys.argv[3] == '1'
im = Image.open(path)
left = top = 0
if frame_only:
    box = im.tile[0][1]
    left, top = box[0], box[1]
    frames = getattr(im, 'n_frames', 1)
    im.load()
    im = im.crop(box)
else:
    im.seek(page)
    im.load()
    frames = getattr(im, 'n_frames', 1)
alpha = b''
if im.mode in ('I;16', 'I;16L', 'I;16B', 'I;16N'):
    raw = im.tobytes('raw', 'I;16B')
    data = bytes(raw[i] for i in range(0, len(raw), 2))
    rgb = bytes(b for v in data for b in (v, v, v))
else:
    rgb = im.convert('RGB').tobytes()
sys.stdout.buffer.write(b'%d %d %d %d %d\n' % (im.size[0], im.size[1], frames, left, top))
sys.stdout.buffer.write(rgb)
)PY";

bool Run(const std::string& cmd, std::string& output) {
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  output.clear();
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  return pclose(p) == 0;
}

// One script file per process: test programs may run side by side.
struct TScriptFile {
  std::string Path;
  explicit TScriptFile(const std::string& text) : Path(TempPath("reference.py")) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    WriteFileBytes(Path, bytes);
  }
  ~TScriptFile() { std::remove(Path.c_str()); }
};

}  // namespace

bool ReferenceDecoderAvailable() { return !Python().empty(); }

bool RunPillowScript(const std::string& script, const std::string& args, std::string& output) {
  if (!ReferenceDecoderAvailable()) return false;
  const TScriptFile file(script);
  return Run(Python() + " " + Quote(file.Path) + " " + args + " 2>/dev/null", output);
}

bool PillowDecode(const std::string& path, TRefImage& out, int page, bool frameOnly) {
  // Keyed by content, not name: tests rewrite their scratch files.
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  const auto key = std::make_tuple(std::hash<std::string_view>()(std::string_view(
                                       reinterpret_cast<const char*>(bytes.data()), bytes.size())),
                                   bytes.size(), page, frameOnly);
  static std::mutex lock;
  static std::map<decltype(key), std::pair<bool, TRefImage>> cache;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (auto it = cache.find(key); it != cache.end()) {
      out = it->second.second;
      return it->second.first;
    }
  }
  out = TRefImage{};
  std::string data;
  bool ok = RunPillowScript(kDecodeScript, Quote(path) + " " + std::to_string(page) + (frameOnly ? " 1" : " 0"), data);
  const size_t nl = data.find('\n');
  ok = ok && nl != std::string::npos;
  if (ok) {
    std::istringstream header(data.substr(0, nl));
    header >> out.Width >> out.Height >> out.Frames >> out.Left >> out.Top;
    out.Rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(nl) + 1, data.end());
    ok = out.Width > 0 && out.Height > 0 && out.Rgb.size() == static_cast<size_t>(out.Width) * out.Height * 3;
  }
  std::lock_guard<std::mutex> guard(lock);
  cache[key] = {ok, out};
  return ok;
}

bool ToolAvailable(const std::string& name) {
  const bool found = std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
  if (!found && InCI()) ADD_FAILURE() << name << " is missing on the CI machine";
  return found;
}

}  // namespace vexa::test
