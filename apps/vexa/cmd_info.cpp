// `vexa info FILE...`: the parameters of each image file, one "key: value" per line.
#include <cstdio>
#include <string>

#include "commands.h"
#include "vexa/io/detect.h"
#include "vexa/io/metafile.h"
#include "vexa/io/vexaio.h"

namespace vexacli {
namespace {

const Command kSelf{"info", "print the parameters of image files", "vexa info FILE...", nullptr};

// Metafiles are imported, not detected: their extension decides.
bool DescribeMetafile(const std::string& name, vexa::TIOParamsVals& p) {
  vexa::TVXMetafile meta;
  try {
    if (!meta.LoadFromFile(name)) return false;
  } catch (const vexa::EStreamError&) {
    return false;
  }
  p.FileType = meta.Enhanced() ? vexa::ioEMF : vexa::ioWMF;
  p.Width = meta.Width(), p.Height = meta.Height();
  p.BitsPerSample = 8, p.SamplesPerPixel = 3;
  p.DpiX = vexa::gSystemDPIX, p.DpiY = vexa::gSystemDPIY;
  return true;
}

// Reads the parameters; false when the file is not an image we know.
bool Describe(const std::string& name) {
  vexa::TVexaIO io;
  vexa::TIOParamsVals& p = io.Params;
  std::string ext = vexa::VXExtractFileExt(name);
  if (ext == "wmf" || ext == "emf") {
    if (!DescribeMetafile(name, p)) return false;
  } else {
    io.ParamsFromFile(name);
    if (p.FileType == vexa::ioUnknown) {
      // A misnamed file: trust the content.
      try {
        vexa::TFileStream f(name, vexa::fmOpenRead);
        io.ParamsFromStream(f);
      } catch (const vexa::EStreamError&) {
        return false;
      }
    }
    if (p.FileType == vexa::ioUnknown) return false;
  }
  std::printf("file: %s\n", name.c_str());
  std::printf("type: %s\n", p.FileTypeStr().c_str());
  std::printf("width: %d\nheight: %d\n", p.Width, p.Height);
  std::printf("bits per sample: %d\nsamples per pixel: %d\n", p.BitsPerSample, p.SamplesPerPixel);
  std::printf("dpi: %d x %d\n", p.DpiX, p.DpiY);
  if (p.ColorMapCount > 0) std::printf("palette entries: %d\n", p.ColorMapCount);
  try {
    if (p.FileType == vexa::ioGIF) std::printf("frames: %d\n", vexa::EnumGifIm(name));
    if (p.FileType == vexa::ioTIFF) std::printf("pages: %d\n", vexa::EnumTIFFIm(name));
  } catch (const vexa::EStreamError&) {
  }
  return true;
}

int RunInfo(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError(kSelf, "expected at least one file");
  int rc = kExitOk;
  bool first = true;
  for (const std::string& name : args) {
    if (!name.empty() && name[0] == '-') return UsageError(kSelf, "unknown option '" + name + "'");
  }
  for (const std::string& name : args) {
    if (!first) std::printf("\n");
    first = false;
    std::fflush(stdout);
    if (!Describe(name)) {
      std::fprintf(stderr, "vexa info: %s: not a readable image\n", name.c_str());
      rc = kExitAborted;
    }
  }
  return rc;
}

const VexaCommand kInfo({"info", kSelf.Summary, kSelf.Usage, RunInfo});

}  // namespace
}  // namespace vexacli
