#include "proc_ops.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace vexacli {

namespace {
std::vector<ProcOp>& Registry() {
  static std::vector<ProcOp> ops;
  return ops;
}
}  // namespace

ProcOpRegistrar::ProcOpRegistrar(const ProcOp& op) { Registry().push_back(op); }

std::vector<ProcOp> AllProcOps() {
  std::vector<ProcOp> ops = Registry();
  std::sort(ops.begin(), ops.end(), [](const ProcOp& a, const ProcOp& b) { return std::strcmp(a.Name, b.Name) < 0; });
  return ops;
}

const ProcOp* FindProcOp(const std::string& name) {
  for (const ProcOp& op : Registry())
    if (name == op.Name) return &op;
  return nullptr;
}

bool ParseInt(const std::string& s, int& out, int min, int max) {
  const char* b = s.data();
  if (!s.empty() && s[0] == '+') ++b;
  auto [end, ec] = std::from_chars(b, s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && b != end && out >= min && out <= max;
}

bool ParseRGB(const std::vector<std::string>& args, size_t i, vexa::TRGB& out) {
  int r, g, b;
  if (i + 3 > args.size() || !ParseInt(args[i], r, 0, 255) || !ParseInt(args[i + 1], g, 0, 255) ||
      !ParseInt(args[i + 2], b, 0, 255))
    return false;
  out = vexa::CreateRGB(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
  return true;
}

}  // namespace vexacli
