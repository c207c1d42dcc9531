// Shared by the capture tests: ffprobe's view of a recorded file, and the
// counters of the test pattern read back from every frame.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "vexa/acquire/avi.h"
#include "vexa/acquire/capture.h"

namespace capturetest {

inline bool HaveFFprobe() { return std::system("ffprobe -version >/dev/null 2>&1") == 0; }

/// key=value lines ffprobe prints about one stream ("v:0", "a:0"); empty when absent.
inline std::map<std::string, std::string> Probe(const std::string& file, const std::string& stream = "v:0") {
  const std::string cmd = "ffprobe -v error -count_frames -select_streams " + stream +
                          " -show_entries stream=codec_name,width,height,r_frame_rate,nb_read_frames,sample_rate,"
                          "channels -of default=nw=1 '" + file + "'";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  std::map<std::string, std::string> kv;
  size_t at = 0;
  while (at < out.size()) {
    const size_t nl = out.find('\n', at);
    const std::string line = out.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    const size_t eq = line.find('=');
    if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
    if (nl == std::string::npos) break;
    at = nl + 1;
  }
  return kv;
}

/// The pattern counter of every frame of an AVI, decoded by our reader.
inline std::vector<int64_t> FileCounters(const std::string& file) {
  std::vector<int64_t> out;
  vexa::TVXAviReader r;
  if (!r.Open(file)) return out;
  vexa::TBitmap bmp;
  while (r.ReadFrame(bmp)) out.push_back(vexa::VXReadPatternCounter(bmp));
  return out;
}

}  // namespace capturetest
