#include "vexa/package/runtime.h"

#include <iterator>

#include "vexa/core/messages.h"
#include "vexa/core/vxview.h"
#include "vexa/io/formats.h"

namespace vexa {

namespace {

// Everything here is plain data: the unload routines may run while the process
// exits, after other static objects are gone.
struct TLogEntry {
  bool Init;
  const char* Name;
};
TLogEntry gLog[64] = {};
size_t gLogCount = 0;

void Record(bool init, const char* name) {
  if (gLogCount < std::size(gLog)) gLog[gLogCount++] = {init, name};
}

// Load counts per module group, keyed by the group's table.
struct TGroupCount {
  const void* Group;
  int Count;
};
TGroupCount gCounts[8] = {};

int& CountOf(std::span<const TVXModule> modules) {
  for (TGroupCount& g : gCounts)
    if (g.Group == modules.data() || g.Group == nullptr) {
      g.Group = modules.data();
      return g.Count;
    }
  static int overflow = 0;  // more groups than libraries: never in practice
  return overflow;
}

void ResetScreenGlobals() {
  gSystemDPIX = 96;
  gSystemDPIY = 96;
  gSystemColors = 24;
}

// Formats and words registered by an application may point into code that is
// unloaded before us, so unloading drops them and restores the built-ins.
const TVXModule kCoreModules[] = {
      {"messages", VXSetDefaultTranslationWords, VXSetDefaultTranslationWords},
      {"formats", VXFileFormatResetDefaults, VXFileFormatResetDefaults},
      {"screen", ResetScreenGlobals, ResetScreenGlobals},
      // C1TO24 is a constant table built by the compiler: nothing left to run.
      {"expansion", nullptr, nullptr},
};

}  // namespace

std::span<const TVXModule> VXCoreModules() { return kCoreModules; }

void VXModulesLoad(std::span<const TVXModule> modules) {
  if (CountOf(modules)++ > 0) return;
  for (const TVXModule& m : modules) {
    if (m.Init) m.Init();
    Record(true, m.Name);
  }
}

void VXModulesUnload(std::span<const TVXModule> modules) {
  int& count = CountOf(modules);
  if (count == 0 || --count > 0) return;
  for (auto it = modules.rbegin(); it != modules.rend(); ++it) {
    if (it->Fini) it->Fini();
    Record(false, it->Name);
  }
}

void VXRuntimeLoad() { VXModulesLoad(VXCoreModules()); }
void VXRuntimeUnload() { VXModulesUnload(VXCoreModules()); }
int VXRuntimeLoadCount() { return CountOf(VXCoreModules()); }

const TVXPackageInfo& VXCorePackageInfo() {
  static const TVXPackageInfo info = [] {
    TVXPackageInfo i;
    i.Name = "vexa_core";
    i.Description = "Vexa Controls";
    i.Requires = {};
    for (const TVXModule& m : VXCoreModules()) i.Contains.push_back(m.Name);
    return i;
  }();
  return info;
}

std::vector<std::string> VXModuleLog() {
  std::vector<std::string> log;
  for (size_t i = 0; i < gLogCount; ++i) {
    std::string entry(1, gLog[i].Init ? '+' : '-');
    entry += gLog[i].Name;
    log.push_back(entry);
  }
  return log;
}

}  // namespace vexa
