// `vexa demo`: exercises the library on a built-in sample picture, no file needed.
#include <chrono>
#include <cstdio>
#include <string>

#include "commands.h"
#include "vexa/core/containers.h"
#include "vexa/core/sample.h"
#include "vexa/io/ioparams.h"
#include "vexa/io/vexaio.h"

namespace vexacli {
namespace {

const Command kSelf{"demo", "generate a sample picture and report on it", "vexa demo [--out FILE.bmp] [WIDTH HEIGHT]",
                    nullptr};

int RunDemo(const std::vector<std::string>& allArgs) {
  int width = 640, height = 480;
  std::string out;
  std::vector<std::string> args;
  for (size_t i = 0; i < allArgs.size(); ++i) {
    if (allArgs[i] == "--out") {
      if (i + 1 >= allArgs.size()) return UsageError(kSelf, "--out needs a file name");
      out = allArgs[++i];
    } else {
      args.push_back(allArgs[i]);
    }
  }
  if (args.size() == 2) {
    try {
      width = std::stoi(args[0]), height = std::stoi(args[1]);
    } catch (const std::exception&) {
      return UsageError(kSelf, "WIDTH and HEIGHT must be numbers");
    }
  } else if (!args.empty()) {
    return UsageError(kSelf, "expected no arguments or WIDTH HEIGHT");
  }
  auto t0 = std::chrono::steady_clock::now();
  vexa::TBitmap bmp = vexa::VXMakeSampleImage(width, height);
  auto t1 = std::chrono::steady_clock::now();
  std::printf("generated a %d x %d sample picture, 24 bits per pixel, %d bytes per row, %zu bytes (%.1f ms)\n",
              bmp.Width(), bmp.Height(), bmp.RowLen(), bmp.ImageSize(),
              std::chrono::duration<double, std::milli>(t1 - t0).count());

  vexa::THash1 colours(16);
  for (int y = 0; y < bmp.Height(); ++y) {
    const uint8_t* row = bmp.ScanLine(y);
    for (int x = 0; x < bmp.Width(); ++x)
      colours.Insert(row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16));
  }
  std::printf("distinct colours: %d\n", colours.Count());

  vexa::TIOParamsVals params;
  params.Width = bmp.Width(), params.Height = bmp.Height(), params.FileType = vexa::ioBMP;
  vexa::TMemoryStream paramsFile;
  params.SaveToStream(paramsFile);
  std::printf("parameter record: %s, %lld bytes when saved\n", params.FileTypeStr().c_str(),
              static_cast<long long>(paramsFile.Size()));

  if (!out.empty()) {
    vexa::TVexaIO io;
    io.SetAttachedBitmap(&bmp);
    io.SaveToFileBMP(out);
    if (io.Aborting) {
      std::fprintf(stderr, "vexa demo: %s: cannot write the image\n", out.c_str());
      return kExitAborted;
    }
    std::printf("saved %s (BMP, %lld bytes)\n", out.c_str(), static_cast<long long>(vexa::_getfilesize(out.c_str())));
  }
  return kExitOk;
}

const VexaCommand kDemo({"demo", kSelf.Summary, kSelf.Usage, RunDemo});

}  // namespace
}  // namespace vexacli
