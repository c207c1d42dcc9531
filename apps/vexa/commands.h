// Sub-commands of the vexa tool. Each lives in its own file and registers itself
// with a static VexaCommand object; main() dispatches on the first argument.
#pragma once

#include <string>
#include <vector>

namespace vexacli {

/// Exit codes shared by every command.
constexpr int kExitOk = 0, kExitAborted = 1, kExitUsage = 2;

struct Command {
  const char* Name;
  const char* Summary;
  /// Full help text shown by `vexa help NAME`.
  const char* Usage;
  int (*Run)(const std::vector<std::string>& args);
  /// When set, builds the full help text instead of Usage (for commands whose
  /// operations are registered from several files).
  std::string (*UsageText)() = nullptr;
};

/// Registers a command at static-initialisation time.
struct VexaCommand {
  explicit VexaCommand(const Command& c);
};

const std::vector<Command>& AllCommands();

/// Prints "vexa: message" and the command's usage line to stderr; returns kExitUsage.
int UsageError(const Command& c, const std::string& message);

}  // namespace vexacli
