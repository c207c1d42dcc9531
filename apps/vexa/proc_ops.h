// The operations of `vexa proc`. Each file that adds operations registers them
// with static ProcOpRegistrar objects; cmd_proc.cpp looks them up by name.
#pragma once

#include <string>
#include <vector>

#include "vexa/proc/vexaproc.h"

namespace vexacli {

struct ProcOp {
  const char* Name;
  /// Argument synopsis shown in the help, e.g. "R G B".
  const char* Args;
  const char* Summary;
  int MinArgs, MaxArgs;
  /// Runs the operation on the component's bitmap. Returns an error message for
  /// bad arguments (checked before anything changes), empty on success. Text
  /// results (counts, tables) go to `report`, printed once after the last run.
  std::string (*Run)(vexa::TVexaProc& proc, const std::vector<std::string>& args, std::string& report);
};

struct ProcOpRegistrar {
  explicit ProcOpRegistrar(const ProcOp& op);
};

/// In name order.
std::vector<ProcOp> AllProcOps();
const ProcOp* FindProcOp(const std::string& name);

// Argument helpers: each returns false when the text is not a whole number in range.
bool ParseInt(const std::string& s, int& out, int min = -2147483647 - 1, int max = 2147483647);
/// Three consecutive arguments from index i as a colour (each 0..255).
bool ParseRGB(const std::vector<std::string>& args, size_t i, vexa::TRGB& out);

}  // namespace vexacli
