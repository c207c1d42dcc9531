// `vexa convert`: load an image and save it in the format of the output's extension.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_support.h"
#include "commands.h"
#include "vexa/io/detect.h"
#include "vexa/io/formattable.h"
#include "vexa/io/vexaio.h"

namespace vexacli {
namespace {

const Command kSelf{"convert", "convert an image file to another format",
                    "vexa convert [--index N] [--detect] [--set FIELD=VALUE]... [--repeat N] IN OUT\n"
                    "  --index N        image index in multi-image files (GIF, TIFF, ICO, CUR)\n"
                    "  --detect         choose the reader from the content, not the extension\n"
                    "  --set F=V        assign a parameter field before saving (e.g. JPEG_Quality=90,\n"
                    "                   TIFF_Compression=ioTIFF_PACKBITS, PNG_Interlaced=true)\n"
                    "  --repeat N       load and save N times; print the median load and save times (ms)",
                    nullptr};

struct Options {
  int Index = -1;
  bool Detect = false;
  int Repeat = 0;
  std::vector<std::string> Sets;
  std::string In, Out;
};

bool ParseCount(const std::string& s, int& out, int min) {
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && out >= min;
}

// Returns an error message, empty on success.
std::string Parse(const std::vector<std::string>& args, Options& o) {
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--index") {
      if (!value(v) || !ParseCount(v, o.Index, 0)) return "--index needs a number >= 0";
    } else if (a == "--repeat") {
      if (!value(v) || !ParseCount(v, o.Repeat, 1)) return "--repeat needs a number >= 1";
    } else if (a == "--detect") {
      o.Detect = true;
    } else if (a == "--set") {
      if (!value(v)) return "--set needs FIELD=VALUE";
      vexa::TIOParamsVals probe;
      if (std::string err = SetParamField(probe, v); !err.empty()) return err;
      o.Sets.push_back(v);
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option '" + a + "'";
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return "expected IN and OUT";
  o.In = files[0], o.Out = files[1];
  return "";
}

void Load(vexa::TVexaIO& io, const Options& o) {
  if (o.Index >= 0) {
    vexa::TIOParamsVals& p = io.Params;
    p.GIF_ImageIndex = p.TIFF_ImageIndex = p.ICO_ImageIndex = p.CUR_ImageIndex = o.Index;
  }
  // Metafiles are played onto a page: white, whatever the component's background.
  if (const vexa::TVXBuiltinFormat* f = vexa::VXBuiltinFormatForRead(vexa::VXExtractFileExt(o.In)); f && f->Imported)
    io.SetBackground(vexa::clWhite);
  if (o.Detect) {
    vexa::TFileStream f(o.In, vexa::fmOpenRead);
    io.LoadFromStream(f);
  } else {
    io.LoadFromFile(o.In);
  }
}

void Save(vexa::TVexaIO& io, const Options& o) {
  for (const std::string& s : o.Sets) SetParamField(io.Params, s);
  io.SaveToFile(o.Out);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// One line: the file, what could not be done and, when the component knows it, why.
int Failed(const std::string& file, const char* what, const vexa::TVexaIO& io) {
  std::fprintf(stderr, "vexa convert: %s: %s%s\n", file.c_str(), what, FailureSuffix(io).c_str());
  return kExitAborted;
}

// A read that stopped, or that left no image, is reported as a read failure; so is a
// save that would overwrite the input's other pages. kExitOk when the save may go on.
int CheckLoaded(const vexa::TVexaIO& io, const vexa::TBitmap& bmp, const Options& o) {
  if (io.Aborting) return Failed(o.In, "cannot read the image", io);
  if (std::string why = EmptyLoadSuffix(bmp, o.Index); !why.empty()) {
    std::fprintf(stderr, "vexa convert: %s: cannot read the image%s\n", o.In.c_str(), why.c_str());
    return kExitAborted;
  }
  if (std::string why = PagesLostOnSelf(o.In, o.Out, io.Params.FileType); !why.empty()) {
    std::fprintf(stderr, "vexa convert: %s: %s\n", o.In.c_str(), why.c_str());
    return kExitAborted;
  }
  return kExitOk;
}

int RunConvert(const std::vector<std::string>& args) {
  Options o;
  if (std::string err = Parse(args, o); !err.empty()) return UsageError(kSelf, err);

  vexa::TBitmap bmp;
  vexa::TVexaIO io;
  io.SetAttachedBitmap(&bmp);

  if (o.Repeat > 0) {
    std::vector<double> loads, saves;
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < o.Repeat; ++i) {
      auto t0 = Clock::now();
      Load(io, o);
      auto t1 = Clock::now();
      if (int rc = CheckLoaded(io, bmp, o); rc != kExitOk) return rc;
      Save(io, o);
      auto t2 = Clock::now();
      if (io.Aborting) return Failed(o.Out, "cannot write the image", io);
      loads.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      saves.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
    std::printf("%.3f %.3f\n", Median(loads), Median(saves));
    return kExitOk;
  }

  io.OnProgress = TerminalProgress("reading");
  Load(io, o);
  EndProgress();
  if (int rc = CheckLoaded(io, bmp, o); rc != kExitOk) return rc;
  io.OnProgress = TerminalProgress("writing");
  Save(io, o);
  EndProgress();
  if (io.Aborting) return Failed(o.Out, "cannot write the image", io);
  std::printf("%s -> %s (%d x %d)\n", o.In.c_str(), o.Out.c_str(), bmp.Width(), bmp.Height());
  return kExitOk;
}

const VexaCommand kConvert({"convert", kSelf.Summary, kSelf.Usage, RunConvert});

}  // namespace
}  // namespace vexacli
