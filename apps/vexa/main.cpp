// vexa: command-line access to the library's codecs and image operations.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "vexa/codecs/lzw.h"
#include "vexa/core/parallel.h"

namespace vexacli {

namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}
}  // namespace

VexaCommand::VexaCommand(const Command& c) { Registry().push_back(c); }

const std::vector<Command>& AllCommands() { return Registry(); }

int UsageError(const Command& c, const std::string& message) {
  std::fprintf(stderr, "vexa %s: %s\nusage: %s\n", c.Name, message.c_str(), c.Usage);
  return kExitUsage;
}

namespace {

const Command* Find(const std::string& name) {
  for (const Command& c : AllCommands())
    if (name == c.Name) return &c;
  return nullptr;
}

void PrintHelp() {
  std::printf(
      "vexa %s - imaging components on the command line\n\n"
      "usage: vexa COMMAND [ARGS...]\n       vexa help [COMMAND]\n       vexa --version\n\ncommands:\n",
      VEXA_VERSION_STRING);
  for (const Command& c : AllCommands()) std::printf("  %-10s %s\n", c.Name, c.Summary);
}

}  // namespace
}  // namespace vexacli

int main(int argc, char** argv) {
  using namespace vexacli;
  // GIF and LZW-compressed TIFF work out of the box.
  vexa::VXInstallLZWCoders();
  // Past a file-size limit a write should fail and be reported, not kill the process.
  std::signal(SIGXFSZ, SIG_IGN);
  vexa::VXThreadCountFromEnv();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintHelp();
    return kExitUsage;
  }
  if (args[0] == "--version" || args[0] == "version") {
    std::printf("vexa %s\n", VEXA_VERSION_STRING);
    return kExitOk;
  }
  if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    if (args.size() < 2) {
      PrintHelp();
      return kExitOk;
    }
    if (const Command* c = Find(args[1])) {
      std::printf("usage: %s\n", c->UsageText ? c->UsageText().c_str() : c->Usage);
      return kExitOk;
    }
    std::fprintf(stderr, "vexa: unknown command '%s'\n", args[1].c_str());
    return kExitUsage;
  }
  const Command* c = Find(args[0]);
  if (!c) {
    std::fprintf(stderr, "vexa: unknown command '%s' (try 'vexa help')\n", args[0].c_str());
    return kExitUsage;
  }
  try {
    return c->Run(std::vector<std::string>(args.begin() + 1, args.end()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vexa %s: %s\n", c->Name, e.what());
    return kExitAborted;
  }
}
