// `vexa formats`: the file-format registry and what can be read and written.
#include <cstdio>

#include "commands.h"
#include "vexa/io/formats.h"
#include "vexa/io/formattable.h"

namespace vexacli {
namespace {

const char* YesNo(bool b) { return b ? "yes" : "no"; }

int RunFormats(const std::vector<std::string>& args) {
  static const Command self{"formats", "", "vexa formats", nullptr};
  if (!args.empty()) return UsageError(self, "expected no arguments");
  std::printf("%-5s %-28s %-28s %-5s %s\n", "type", "name", "extensions", "read", "write");
  for (int i = 0; i < vexa::VXFileFormatCount(); ++i) {
    const vexa::TVXFileFormatInfo* f = vexa::VXFileFormatAt(i);
    bool read = f->ReadFunction != nullptr || vexa::VXFileFormatCanRead(f->FileType);
    bool write = f->WriteFunction != nullptr || vexa::VXFileFormatCanWrite(f->FileType);
    std::printf("%-5d %-28s %-28s %-5s %s\n", f->FileType, f->FullName.c_str(), f->Extensions.c_str(), YesNo(read),
                YesNo(write));
  }
  return kExitOk;
}

const VexaCommand kFormats({"formats", "list the known file formats", "vexa formats", RunFormats});

}  // namespace
}  // namespace vexacli
