#include "vexa/package/runtime_ui.h"

#include "vexa/core/clipboard.h"
#include "vexa/view/uiinit.h"

namespace vexa {

namespace {

// The desktop clipboard object lives in this library: the core must not keep a
// pointer to it once we are gone.
void ReleaseDesktopServices() { VXSetClipboard(nullptr); }

const TVXModule kRunModules[] = {
    {"screen-ui", VXInitUI, ReleaseDesktopServices},
};

}  // namespace

std::span<const TVXModule> VXRunModules() { return kRunModules; }

void VXRunLoad() {
  VXRuntimeLoad();
  VXModulesLoad(VXRunModules());
}

void VXRunUnload() {
  VXModulesUnload(VXRunModules());
  VXRuntimeUnload();
}

const TVXPackageInfo& VXRunPackageInfo() {
  static const TVXPackageInfo info = [] {
    TVXPackageInfo i;
    i.Name = "vexarun";
    i.Description = "Vexa Controls";
    i.Requires = {"vexa_core", "Qt6Core", "Qt6Gui", "Qt6Widgets"};
    for (const TVXModule& m : VXCoreModules()) i.Contains.push_back(m.Name);
    for (const TVXModule& m : VXRunModules()) i.Contains.push_back(m.Name);
    return i;
  }();
  return info;
}

}  // namespace vexa
