// `vexa info FILE...`: the parameters of each image file, one "key: value" per line.
#include <cstdio>
#include <string>

#include "commands.h"
#include "vexa/io/detect.h"
#include "vexa/io/formattable.h"
#include "vexa/io/metafile.h"
#include "vexa/io/vexaio.h"

namespace vexacli {
namespace {

const Command kSelf{"info", "print the parameters of image files", "vexa info FILE...", nullptr};

// Metafiles are imported, not detected: their extension decides.
bool DescribeMetafile(const std::string& name, vexa::TIOParamsVals& p, std::string& why) {
  vexa::TVXMetafile meta;
  try {
    if (!meta.LoadFromFile(name)) {
      why = meta.Failure().Describe();
      return false;
    }
  } catch (const vexa::EStreamError& e) {
    why = e.what();
    return false;
  }
  p.FileType = meta.Enhanced() ? vexa::ioEMF : vexa::ioWMF;
  p.Width = meta.Width(), p.Height = meta.Height();
  p.BitsPerSample = 8, p.SamplesPerPixel = 3;
  p.DpiX = vexa::gSystemDPIX, p.DpiY = vexa::gSystemDPIY;
  return true;
}

// Reads the parameters; false when the file is not an image we know (`why` then says
// why). A file whose parameters were read only in part is described, and `why` says
// what stopped the reader.
bool Describe(const std::string& name, std::string& why) {
  vexa::TVexaIO io;
  vexa::TIOParamsVals& p = io.Params;
  const vexa::TVXBuiltinFormat* byExtension = vexa::VXBuiltinFormatForRead(vexa::VXExtractFileExt(name));
  if (byExtension && byExtension->Imported) {
    if (!DescribeMetafile(name, p, why)) return false;
  } else {
    io.ParamsFromFile(name);
    if (p.FileType == vexa::ioUnknown) {
      // A misnamed file: trust the content.
      try {
        vexa::TFileStream f(name, vexa::fmOpenRead);
        io.ParamsFromStream(f);
      } catch (const vexa::EStreamError& e) {
        why = e.what();
        return false;
      }
    }
    why = io.LastFailure().Describe();
    if (p.FileType == vexa::ioUnknown) return false;
    // A signature alone is not an image: without a size there is nothing to describe.
    if (p.Width <= 0 || p.Height <= 0) {
      if (why.empty()) why = "the header gives no image size";
      return false;
    }
  }
  std::printf("file: %s\n", name.c_str());
  std::printf("type: %s\n", p.FileTypeStr().c_str());
  std::printf("width: %d\nheight: %d\n", p.Width, p.Height);
  std::printf("bits per sample: %d\nsamples per pixel: %d\n", p.BitsPerSample, p.SamplesPerPixel);
  std::printf("dpi: %d x %d\n", p.DpiX, p.DpiY);
  if (p.ColorMapCount > 0) std::printf("palette entries: %d\n", p.ColorMapCount);
  try {
    if (const vexa::TVXBuiltinFormat* f = vexa::VXBuiltinFormat(p.FileType); f && f->CountImages)
      std::printf("%s: %d\n", f->ImageNoun, f->CountImages(name));
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
    std::string why;
    if (!Describe(name, why)) {
      std::fprintf(stderr, "vexa info: %s: not a readable image%s%s\n", name.c_str(), why.empty() ? "" : ": ",
                   why.c_str());
      rc = kExitAborted;
    } else if (!why.empty()) {
      std::fflush(stdout);
      std::fprintf(stderr, "vexa info: %s: %s\n", name.c_str(), why.c_str());
    }
  }
  return rc;
}

const VexaCommand kInfo({"info", kSelf.Summary, kSelf.Usage, RunInfo});

}  // namespace
}  // namespace vexacli
