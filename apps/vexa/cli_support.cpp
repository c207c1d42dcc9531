#include "cli_support.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "vexa/io/formattable.h"
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

std::string EmptyLoadSuffix(const vexa::TBitmap& bmp, int index) {
  if (!bmp.Empty()) return "";
  return std::string(": ") + vexa::VXFailureKindName(vexa::fkNoImage) + ": " +
         (index >= 0 ? "the file has no image at index " + std::to_string(index) : "the file holds no image");
}

std::string PagesLostOnSelf(const std::string& in, const std::string& out, int fileType) {
  std::error_code ec;
  if (!std::filesystem::equivalent(in, out, ec) || ec) return "";
  const vexa::TVXBuiltinFormat* format = vexa::VXBuiltinFormat(fileType);
  if (!format || !format->CountImages) return "";
  int count = 0;
  try {
    count = format->CountImages(in);
  } catch (const vexa::EStreamError&) {
    return "";
  }
  if (count <= 1) return "";
  return "holds " + std::to_string(count) + " " + format->ImageNoun +
         " and writing onto it would keep only one; write to another file";
}

}  // namespace vexacli
