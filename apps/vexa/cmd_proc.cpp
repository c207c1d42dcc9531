// `vexa proc`: load an image, run one processing operation, save the result.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_support.h"
#include "commands.h"
#include "vexa/io/vexaio.h"
#include "vexa/proc/operations.h"

namespace vexacli {
namespace {

std::string UsageText();

const Command kSelf{"proc", "run an image-processing operation on a file",
                    "vexa proc IN OUT OP [ARGS...] [--rect X1 Y1 X2 Y2] [--repeat N]", nullptr, UsageText};

std::string UsageText() {
  std::string u = kSelf.Usage;
  u +=
      "\n  OUT -            do not save (for the operations that print)"
      "\n  --rect X1 Y1 X2 Y2  select this rectangle first (inclusive, bitmap pixels)"
      "\n  --repeat N       run the operation N times on fresh copies of the image and print"
      "\n                   the median time of the operation alone (ms)\noperations:\n";
  for (const vexa::TVXOperation& op : vexa::VXOperations()) {
    std::string head = std::string(op.Name) + (*op.Args ? " " : "") + op.Args;
    // Long synopses get the summary on a line of its own.
    u += "  " + head + (head.size() < 22 ? std::string(24 - head.size(), ' ') : "\n" + std::string(26, ' ')) +
         op.Summary + "\n";
  }
  return u;
}

struct Options {
  std::string In, Out;
  const vexa::TVXOperation* Op = nullptr;
  std::vector<std::string> OpArgs;
  bool HasRect = false;
  int Rect[4] = {};
  int Repeat = 0;
};

std::string Parse(const std::vector<std::string>& args, Options& o) {
  std::vector<std::string> plain;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--rect") {
      if (i + 4 >= args.size()) return "--rect needs X1 Y1 X2 Y2";
      for (int k = 0; k < 4; ++k)
        if (!vexa::VXOpArgInt(args[i + 1 + k], o.Rect[k], 0)) return "--rect needs four numbers >= 0";
      if (o.Rect[2] < o.Rect[0] || o.Rect[3] < o.Rect[1]) return "--rect needs X2 >= X1 and Y2 >= Y1";
      o.HasRect = true;
      i += 4;
    } else if (a == "--repeat") {
      if (i + 1 >= args.size() || !vexa::VXOpArgInt(args[i + 1], o.Repeat, 1)) return "--repeat needs a number >= 1";
      ++i;
    } else {
      plain.push_back(a);  // negative numbers are operation arguments
    }
  }
  if (plain.size() < 3) return "expected IN OUT OP";
  o.In = plain[0], o.Out = plain[1];
  o.Op = vexa::VXFindOperation(plain[2]);
  if (!o.Op) return "unknown operation '" + plain[2] + "' (see 'vexa help proc')";
  o.OpArgs.assign(plain.begin() + 3, plain.end());
  return o.Op->CheckArgCount(o.OpArgs.size());
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int RunProc(const std::vector<std::string>& args) {
  Options o;
  if (std::string err = Parse(args, o); !err.empty()) return UsageError(kSelf, err);

  vexa::TBitmap loaded;
  vexa::TVexaIO io;
  io.SetAttachedBitmap(&loaded);
  io.LoadFromFile(o.In);
  if (io.Aborting || loaded.Empty()) {
    const std::string why = io.Aborting ? FailureSuffix(io) : EmptyLoadSuffix(loaded, -1);
    std::fprintf(stderr, "vexa proc: %s: cannot read the image%s\n", o.In.c_str(), why.c_str());
    return kExitAborted;
  }
  if (o.HasRect && (o.Rect[0] >= loaded.Width() || o.Rect[1] >= loaded.Height())) {
    std::fprintf(stderr, "vexa proc: --rect %d %d %d %d lies outside the %d x %d image\n", o.Rect[0], o.Rect[1],
                 o.Rect[2], o.Rect[3], loaded.Width(), loaded.Height());
    return kExitAborted;
  }
  if (o.Out != "-") {
    if (std::string why = PagesLostOnSelf(o.In, o.Out, io.Params.FileType); !why.empty()) {
      std::fprintf(stderr, "vexa proc: %s: %s\n", o.In.c_str(), why.c_str());
      return kExitAborted;
    }
  }

  vexa::TBitmap work;
  vexa::TVexaProc proc;
  proc.AutoUndo = false;
  proc.SetAttachedBitmap(&work);
  std::string report;
  // An operation the size limit refuses leaves the image as it was: say so rather
  // than save the unchanged image.
  auto refused = [&] {
    if (!proc.LastFailure().Failed()) return false;
    std::fprintf(stderr, "vexa proc: %s: %s\n", o.Op->Name, proc.LastFailure().Describe().c_str());
    return true;
  };
  auto fresh = [&] {
    work = loaded;
    if (o.HasRect) proc.Select(o.Rect[0], o.Rect[1], o.Rect[2], o.Rect[3]);
  };
  if (o.Repeat > 0) {
    std::vector<double> times;
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < o.Repeat; ++i) {
      fresh();
      const auto t0 = Clock::now();
      std::string err = o.Op->Run(proc, o.OpArgs, report);
      const auto t1 = Clock::now();
      if (!err.empty()) return UsageError(kSelf, err);
      if (refused()) return kExitAborted;
      times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::printf("%.3f\n", Median(times));
  } else {
    fresh();
    proc.OnProgress = TerminalProgress(o.Op->Name);
    std::string err = o.Op->Run(proc, o.OpArgs, report);
    EndProgress();
    if (!err.empty()) return UsageError(kSelf, err);
    if (refused()) return kExitAborted;
    std::fputs(report.c_str(), stdout);
  }

  if (o.Out == "-") return kExitOk;
  io.SetAttachedBitmap(&work);
  io.SaveToFile(o.Out);
  if (io.Aborting) {
    std::fprintf(stderr, "vexa proc: %s: cannot write the image%s\n", o.Out.c_str(), FailureSuffix(io).c_str());
    return kExitAborted;
  }
  return kExitOk;
}

const VexaCommand kProc({kSelf.Name, kSelf.Summary, kSelf.Usage, RunProc, UsageText});

}  // namespace
}  // namespace vexacli
