// `vexa scan`: lists the scanners or scans through the TWAIN client, so that
// acquisition can be tried and timed as a whole process.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli_support.h"
#include "commands.h"
#include "vexa/acquire/twain.h"
#include "vexa/acquire/twainclient.h"
#include "vexa/codecs/bmp.h"
#include "vexa/codecs/tiff.h"
#include "vexa/io/vexaio.h"

namespace vexacli {
namespace {

const char* kUsage =
    "vexa scan --list\n"
    "       vexa scan [--source NAME] [--dpi N] [--mode gray|color|lineart] [--area L T R B] [--pages] OUT\n"
    "  --area is in inches; --pages enables the document feeder and writes every page to OUT as a\n"
    "  multi-page TIFF. Sources come from the TWAIN manager ($VEXA_TWAIN_DSM, else the standard one,\n"
    "  else ours, which shows every SANE device).";

int Fail(const char* what) {
  const vexa::TVXTWFailure& f = vexa::VXTW_LastFailure();
  std::fprintf(stderr, "vexa scan: %s", what);
  if (f.Occurred())
    std::fprintf(stderr, ": %s (state %d, return code %u, condition code %u)", f.Message.c_str(), f.State,
                 f.ReturnCode, f.ConditionCode);
  std::fprintf(stderr, "\n");
  return kExitAborted;
}

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - tail.size() + i])) != tail[i]) return false;
  return true;
}

// A BMP has a fixed place for every row, so the page goes to the file band by
// band as the scanner delivers it, never whole in memory (as scanimage writes
// its PNM). The file appears only once the page is complete.
class TBMPFileSink : public vexa::TVXTWBandSink {
 public:
  explicit TBMPFileSink(const std::string& path) : FStream(path) {}
  bool Begin(int width, int height, vexa::TPixelFormat pf, const vexa::TIOParamsVals& params) override {
    const int bits = pf == vexa::pf1bit ? 1 : params.SamplesPerPixel == 1 ? 8 : 24;
    FWriter = std::make_unique<vexa::TBMPBandWriter>(FStream, width, height, bits, params.DpiX, params.DpiY);
    return true;
  }
  bool Band(int y, const vexa::TBitmap& band) override {
    try {
      FWriter->WriteBand(y, band);
      return true;
    } catch (const std::exception& e) {
      Error = e.what();
      return false;
    }
  }
  void Commit() {
    FWriter->Finish();
    FStream.Commit();
  }
  std::string Error;

 private:
  vexa::TSafeFileStream FStream;
  std::unique_ptr<vexa::TBMPBandWriter> FWriter;
};

int ScanToBMP(vexa::TVXTWainParams& tw, const std::string& out) {
  vexa::TIOParamsVals params;
  bool aborting = false;
  vexa::TProgressRec progress;
  progress.Aborting = &aborting;
  try {
    TBMPFileSink sink(out);
    if (!vexa::VXTW_AcquireBands(nullptr, sink, tw, &params, progress))
      return Fail(sink.Error.empty() ? "nothing scanned" : sink.Error.c_str());
    sink.Commit();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vexa scan: %s cannot be written: %s\n", out.c_str(), e.what());
    return kExitAborted;
  }
  std::printf("%d x %d at %d dpi written to %s\n", params.Width, params.Height, params.DpiX, out.c_str());
  return kExitOk;
}

int RunScan(const std::vector<std::string>& args) {
  static const Command self{"scan", "", kUsage, nullptr};
  vexa::VXTW_Install();
  std::string source, out;
  int dpi = 0, mode = -1;
  bool pages = false, list = false, hasArea = false;
  double area[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* name) -> const std::string* {
      if (i + 1 >= args.size()) {
        UsageError(self, std::string(name) + " needs a value");
        return nullptr;
      }
      return &args[++i];
    };
    if (a == "--list") {
      list = true;
    } else if (a == "--pages") {
      pages = true;
    } else if (a == "--source") {
      const std::string* v = value("--source");
      if (!v) return kExitUsage;
      source = *v;
    } else if (a == "--dpi") {
      const std::string* v = value("--dpi");
      if (!v) return kExitUsage;
      dpi = std::atoi(v->c_str());
      if (dpi <= 0) return UsageError(self, "--dpi needs a positive number");
    } else if (a == "--mode") {
      const std::string* v = value("--mode");
      if (!v) return kExitUsage;
      if (*v == "lineart") mode = vexa::twain::TWPT_BW;
      else if (*v == "gray" || *v == "grey") mode = vexa::twain::TWPT_GRAY;
      else if (*v == "color" || *v == "colour") mode = vexa::twain::TWPT_RGB;
      else return UsageError(self, "unknown mode " + *v);
    } else if (a == "--area") {
      if (i + 4 >= args.size()) return UsageError(self, "--area needs L T R B");
      for (double& v : area) v = std::atof(args[++i].c_str());
      if (area[2] <= area[0] || area[3] <= area[1]) return UsageError(self, "--area needs L < R and T < B");
      hasArea = true;
    } else if (!a.empty() && a[0] == '-') {
      return UsageError(self, "unknown option " + a);
    } else if (out.empty()) {
      out = a;
    } else {
      return UsageError(self, "one output file only");
    }
  }
  vexa::TVexaIO io;
  vexa::TVXTWainParams& tw = io.TWainParams;
  if (list) {
    const int n = tw.SourceCount();
    for (int i = 0; i < n; ++i) {
      const vexa::TVXTWSourceIdentity& id = tw.Sources[static_cast<size_t>(i)];
      auto field = [&](int at) {
        return std::string(reinterpret_cast<const char*>(id.Bytes + at), strnlen(reinterpret_cast<const char*>(id.Bytes + at), 33));
      };
      std::printf("%s\t%s\t%s\n", id.ProductName().c_str(), field(54).c_str(), field(88).c_str());
    }
    if (n == 0 && vexa::VXTW_LastFailure().Occurred()) return Fail("no sources");
    return kExitOk;
  }
  if (out.empty()) return UsageError(self, "expected OUT");
  if (!source.empty() && !tw.SelectSourceByName(source)) {
    std::fprintf(stderr, "vexa scan: no source named %s (see vexa scan --list)\n", source.c_str());
    return kExitUsage;
  }
  vexa::TVXTWSourceCaps& caps = tw.Capabilities();
  if (dpi > 0) {
    caps.XResolution.SetCurrentValue(dpi);
    caps.YResolution.SetCurrentValue(dpi);
  }
  if (mode >= 0) caps.PixelType.SetCurrentValue(mode);
  if (hasArea)
    for (int k = 0; k < 4; ++k) caps.AcquireFrame[k] = area[k];
  caps.FeederEnabled = pages;
  tw.VisibleDialog = false;

  if (!pages && EndsWithNoCase(out, ".bmp")) return ScanToBMP(tw, out);
  if (!pages) {
    vexa::TBitmap bmp;
    io.SetAttachedBitmap(&bmp);
    if (!io.Acquire()) return Fail("nothing scanned");
    io.SaveToFile(out);
    std::printf("%d x %d at %d dpi written to %s\n", bmp.Width(), bmp.Height(), io.Params.DpiX, out.c_str());
    return io.Aborting ? kExitAborted : kExitOk;
  }
  std::vector<vexa::TBitmap> images;
  std::vector<std::unique_ptr<vexa::TIOParamsVals>> records;
  bool aborting = false;
  vexa::TProgressRec progress;
  progress.Aborting = &aborting;
  const bool ok = vexa::VXTW_Acquire(
      nullptr, nullptr, true,
      [&](vexa::TBitmap& page) {
        images.push_back(page);
        records.push_back(std::make_unique<vexa::TIOParamsVals>());
        return records.back().get();
      },
      tw, nullptr, progress);
  if (!ok || images.empty()) return Fail("nothing scanned");
  vexa::TMemoryStream file;
  for (size_t i = 0; i < images.size(); ++i) {
    vexa::TIOParamsVals& p = *records[i];
    const bool bw = images[i].PixelFormat() == vexa::pf1bit;
    p.TIFF_ImageIndex = static_cast<int32_t>(i);
    p.TIFF_Compression = bw ? vexa::ioTIFF_G4FAX : vexa::ioTIFF_PACKBITS;
    p.BitsPerSample = bw ? 1 : 8;
    p.SamplesPerPixel = bw ? 1 : 3;
    file.Seek(0, vexa::soBeginning);
    vexa::TIFFWriteStream(file, i > 0, images[i], p, progress);
    if (aborting) return Fail("the pages could not be written");
  }
  file.SaveToFile(out);
  std::printf("%zu page(s) written to %s\n", images.size(), out.c_str());
  return kExitOk;
}

const VexaCommand kScan({"scan", "list scanners or scan pages through TWAIN", kUsage, RunScan});

}  // namespace
}  // namespace vexacli
