#include "cli_support.h"

#include <unistd.h>

#include <cstdio>

#include "vexa/io/paramfields.h"

#include "vexa/io/vexaio.h"

namespace vexacli {

namespace {

bool gBarShown = false;

}  // namespace

vexa::TProgressEvent TerminalProgress(const std::string& label) {
  if (!isatty(STDERR_FILENO)) return {};
  return [label](vexa::TObject*, int per) {
    per = per < 0 ? 0 : (per > 100 ? 100 : per);
    constexpr int kWidth = 30;
    int filled = per * kWidth / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label.c_str(), filled, "##############################",
                 kWidth - filled, "", per);
    std::fflush(stderr);
    gBarShown = true;
  };
}

void EndProgress() {
  if (gBarShown) std::fputc('\n', stderr);
  gBarShown = false;
}

std::string SetParamField(vexa::TIOParamsVals& params, const std::string& assignment) {
  size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) return "expected FIELD=VALUE, got '" + assignment + "'";
  std::string name = assignment.substr(0, eq), value = assignment.substr(eq + 1);
  const vexa::TVXParamField* field = vexa::VXFindParamField(name);
  if (!field) return "unknown parameter field '" + name + "'";
  std::string err = vexa::VXParamSetText(params, *field, value);
  return err.empty() ? err : name + ": " + err;
}

std::string FailureSuffix(const vexa::TVexaIO& io) {
  std::string why = io.LastFailure().Describe();
  return why.empty() ? why : ": " + why;
}

}  // namespace vexacli
