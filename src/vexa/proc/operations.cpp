#include "vexa/proc/operations.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <sstream>
#include <string_view>

namespace vexa {

const char* VXOpGroupName(TVXOpGroup group) {
  static const char* const kNames[kVXOpGroupCount] = {
      "Colours", "Adjust", "Filters", "Transform", "Effects", "Frequency domain", "Colour depth", "Analysis",
      "Hidden data"};
  return group < kVXOpGroupCount ? kNames[group] : "";
}

int TVXOperation::MinArgs() const {
  int n = 0;
  for (const TVXOpParam& p : Params)
    if (!p.Optional) n += p.Words();
  return n;
}

int TVXOperation::MaxArgs() const {
  int n = 0;
  for (const TVXOpParam& p : Params) n += p.Words();
  return n;
}

std::string TVXOperation::CheckArgCount(size_t count) const {
  if (count >= size_t(MinArgs()) && count <= size_t(MaxArgs())) return "";
  return std::string(Name) + " expects: " + Name + (*Args ? " " : "") + Args;
}

std::string TVXOperation::Execute(TVexaProc& proc, const std::vector<std::string>& args, std::string& report) const {
  if (std::string err = CheckArgCount(args.size()); !err.empty()) return err;
  return Run(proc, args, report);
}

std::vector<std::string> TVXOperation::DefaultArgs() const {
  std::vector<std::string> words;
  for (const TVXOpParam& p : Params) {
    std::istringstream in(p.Default);
    for (std::string w; in >> w;) words.push_back(w);
  }
  return words;
}

const std::vector<TVXOperation>& VXOperations() {
  static const std::vector<TVXOperation> ops = [] {
    std::vector<TVXOperation> all;
    for (std::span<const TVXOperation> part : {VXColourOperations(), VXGeometryOperations()})
      all.insert(all.end(), part.begin(), part.end());
    std::sort(all.begin(), all.end(),
              [](const TVXOperation& a, const TVXOperation& b) { return std::strcmp(a.Name, b.Name) < 0; });
    return all;
  }();
  return ops;
}

const TVXOperation* VXFindOperation(const std::string& name) {
  for (const TVXOperation& op : VXOperations())
    if (name == op.Name) return &op;
  return nullptr;
}

bool VXOpArgInt(const std::string& s, int& out, int min, int max) {
  const char* b = s.data();
  if (!s.empty() && s[0] == '+') ++b;
  auto [end, ec] = std::from_chars(b, s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && b != end && out >= min && out <= max;
}

bool VXOpArgRGB(const std::vector<std::string>& args, size_t i, TRGB& out) {
  int r, g, b;
  if (i + 3 > args.size() || !VXOpArgInt(args[i], r, 0, 255) || !VXOpArgInt(args[i + 1], g, 0, 255) ||
      !VXOpArgInt(args[i + 2], b, 0, 255))
    return false;
  out = CreateRGB(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
  return true;
}

int VXOpArgChoice(const char* choices, const std::string& word) {
  std::string_view rest = choices;
  for (int i = 0;; ++i) {
    const size_t bar = rest.find('|');
    if (rest.substr(0, bar) == word) return i;
    if (bar == std::string_view::npos) return -1;
    rest.remove_prefix(bar + 1);
  }
}

}  // namespace vexa
