// `vexa tiff`: re-encodes every page of a TIFF file, so that the codec can be timed
// as a whole process beside other tools.
#include <cstdio>
#include <map>
#include <string>

#include "commands.h"
#include "vexa/core/failure.h"
#include "vexa/codecs/lzw.h"
#include "vexa/codecs/tiff.h"

namespace vexacli {
namespace {

const char* kUsage = "vexa tiff IN OUT [none|mh|g3|g3-2d|g4|lzw|packbits]";

int RunTiff(const std::vector<std::string>& args) {
  static const Command self{"tiff", "", kUsage, nullptr};
  static const std::map<std::string, vexa::TIOTIFFCompression> kNames = {
      {"none", vexa::ioTIFF_UNCOMPRESSED}, {"mh", vexa::ioTIFF_CCITT1D},  {"g3", vexa::ioTIFF_G3FAX1D},
      {"g3-2d", vexa::ioTIFF_G3FAX2D},     {"g4", vexa::ioTIFF_G4FAX},     {"lzw", vexa::ioTIFF_LZW},
      {"packbits", vexa::ioTIFF_PACKBITS}};
  if (args.size() < 2 || args.size() > 3) return UsageError(self, "expected IN OUT [COMPRESSION]");
  const auto mode = kNames.find(args.size() == 3 ? args[2] : "none");
  if (mode == kNames.end()) return UsageError(self, "unknown compression " + args[2]);
  vexa::VXInstallLZWCoders();
  vexa::TMemoryStream in, out;
  in.LoadFromFile(args[0]);
  const int pages = vexa::_EnumTIFFImStream(in);
  // An empty output would pass for a converted file.
  if (pages <= 0) {
    std::fprintf(stderr, "vexa tiff: %s: no readable page\n", args[0].c_str());
    return kExitAborted;
  }
  for (int i = 0; i < pages; ++i) {
    vexa::TIOParamsVals params;
    params.SetDefaultParams();
    params.TIFF_ImageIndex = i;
    vexa::TBitmap bmp;
    bool aborting = false;
    vexa::TVXFailure failure;
    vexa::TProgressRec progress;
    progress.Aborting = &aborting;
    progress.Failure = &failure;
    int32_t count = 0;
    in.Seek(0, vexa::soBeginning);
    vexa::TIFFReadStream(&bmp, in, count, &params, progress, false);
    if (aborting || bmp.Empty()) {
      const std::string why = failure.Describe();
      std::fprintf(stderr, "vexa tiff: %s: page %d cannot be read%s%s\n", args[0].c_str(), i, why.empty() ? "" : ": ",
                   why.c_str());
      return kExitAborted;
    }
    params.TIFF_Compression = mode->second;
    params.BitsPerSample = bmp.PixelFormat() == vexa::pf1bit ? 1 : 8;
    params.SamplesPerPixel = bmp.PixelFormat() == vexa::pf1bit ? 1 : 3;
    params.TIFF_ImageIndex = i;
    out.Seek(0, vexa::soBeginning);
    vexa::TIFFWriteStream(out, i > 0, bmp, params, progress);
    if (aborting) {
      const std::string why = failure.Describe();
      std::fprintf(stderr, "vexa tiff: %s: page %d cannot be written%s%s\n", args[1].c_str(), i,
                   why.empty() ? "" : ": ", why.c_str());
      return kExitAborted;
    }
  }
  out.SaveToFile(args[1]);
  std::printf("%d page(s) written to %s\n", pages, args[1].c_str());
  return kExitOk;
}

const VexaCommand kTiff({"tiff", "re-encode the pages of a TIFF file", kUsage, RunTiff});

}  // namespace
}  // namespace vexacli
