// `vexa frames` lists and converts the frames of GIF, TIFF and AVI files;
// `vexa thumbs` renders a folder as a contact sheet through the grid's layout.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli_support.h"
#include "commands.h"
#include "vexa/io/vexaio.h"
#include "vexa/mview/gridraster.h"
#include "vexa/mview/vexamio.h"

namespace vexacli {
namespace {

const char* kFramesUsage =
    "vexa frames IN [OUT] [--encoder rawvideo|mjpeg|ffv1|mpeg4]\n"
    "  IN alone lists the frames (size, delay, parameters); with OUT every frame is\n"
    "  written to OUT (.gif, .tif/.tiff or .avi)";

bool MultiFrameName(const std::string& name) {
  std::string ext = std::filesystem::path(name).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".gif" || ext == ".tif" || ext == ".tiff" || ext == ".avi";
}

int RunFrames(const std::vector<std::string>& args) {
  static const Command self{"frames", "", kFramesUsage, nullptr};
  std::vector<std::string> files;
  std::string encoder;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--encoder" && i + 1 < args.size())
      encoder = args[++i];
    else
      files.push_back(args[i]);
  }
  if (files.empty() || files.size() > 2) return UsageError(self, "expected IN [OUT]");
  for (const std::string& f : files)
    if (!MultiFrameName(f)) return UsageError(self, f + ": not a .gif, .tif, .tiff or .avi name");
  vexa::TVXImageGrid grid;
  vexa::TVexaMIO mio;
  mio.SetAttachedMView(&grid);
  mio.OnProgress = TerminalProgress("reading");
  mio.LoadFromFile(files[0]);
  EndProgress();
  if (grid.GetImageCount() == 0) {
    std::fprintf(stderr, "vexa frames: no frame could be read from %s%s%s\n", files[0].c_str(),
                 mio.LastError.empty() ? "" : ": ", mio.LastError.c_str());
    return kExitAborted;
  }
  if (mio.Aborting) std::fprintf(stderr, "vexa frames: reading stopped early %s\n", mio.LastError.c_str());
  if (files.size() == 1) {
    for (int i = 0; i < grid.GetImageCount(); ++i) {
      const vexa::TIOParamsVals& p = *mio.GetParams(i);
      std::printf("%d: %d x %d, delay %d ms, %d bit(s), %s\n", i, grid.GetImageWidth(i), grid.GetImageHeight(i),
                  grid.GetImageDelayTime(i), p.BitsPerSample * p.SamplesPerPixel,
                  p.FileType ? p.GetFileTypeStr().c_str() : "video frame");
    }
    return mio.Aborting ? kExitAborted : kExitOk;
  }
  mio.AviOptions.Encoder = encoder.empty() ? vexa::kVXAviDefaultEncoder : encoder;
  mio.OnProgress = TerminalProgress("writing");
  mio.SaveToFile(files[1]);
  EndProgress();
  if (mio.Aborting) {
    std::fprintf(stderr, "vexa frames: writing %s failed %s\n", files[1].c_str(), mio.LastError.c_str());
    return kExitAborted;
  }
  std::printf("%d frame(s) written to %s\n", grid.GetImageCount(), files[1].c_str());
  return kExitOk;
}

const char* kThumbsUsage = "vexa thumbs DIR OUT.png [--size W H] [--columns N]";

int RunThumbs(const std::vector<std::string>& args) {
  static const Command self{"thumbs", "", kThumbsUsage, nullptr};
  std::vector<std::string> pos;
  int w = 100, h = 100, columns = 6;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--size" && i + 2 < args.size()) {
      w = std::atoi(args[i + 1].c_str());
      h = std::atoi(args[i + 2].c_str());
      i += 2;
    } else if (args[i] == "--columns" && i + 1 < args.size()) {
      columns = std::atoi(args[++i].c_str());
    } else {
      pos.push_back(args[i]);
    }
  }
  if (pos.size() != 2) return UsageError(self, "expected DIR OUT.png");
  if (w < 1 || h < 1 || w > 4096 || h > 4096) return UsageError(self, "sizes must be 1..4096");
  if (columns < 1) return UsageError(self, "columns must be at least 1");
  std::vector<std::string> names;
  static const char* const kExt[] = {".jpg", ".jpeg", ".png", ".bmp", ".gif", ".tif", ".tiff", ".pcx", ".tga"};
  for (const auto& entry : std::filesystem::directory_iterator(pos[0])) {
    if (!entry.is_regular_file()) continue;
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (std::find(std::begin(kExt), std::end(kExt), ext) != std::end(kExt)) names.push_back(entry.path().string());
  }
  std::sort(names.begin(), names.end());
  vexa::TVXImageGrid grid;
  grid.SetStoreType(vexa::vxtThumb);
  grid.SetThumbWidth(w);
  grid.SetThumbHeight(h);
  grid.SetGridWidth(columns);
  grid.SetBackGround(vexa::clWhite);
  grid.SetVisibleSelection(false);
  grid.RemoveCorrupted = true;
  grid.LockPaint();
  for (const std::string& n : names) grid.SetImageFileName(grid.AppendImage(), n);
  grid.Deselect();
  grid.NPUnLockPaint();
  vexa::TBitmap sheet;
  vexa::VXRenderGrid(grid, sheet);
  vexa::TVexaIO io;
  io.SetAttachedBitmap(&sheet);
  io.SaveToFilePNG(pos[1]);
  std::printf("%d of %zu image(s), %d x %d sheet written to %s\n", grid.GetImageCount(), names.size(), sheet.Width(),
              sheet.Height(), pos[1].c_str());
  return kExitOk;
}

const VexaCommand kFrames({"frames", "list or convert the frames of GIF, TIFF and AVI files", kFramesUsage, RunFrames});
const VexaCommand kThumbs({"thumbs", "render the images of a folder as a contact sheet", kThumbsUsage, RunThumbs});

}  // namespace
}  // namespace vexacli
