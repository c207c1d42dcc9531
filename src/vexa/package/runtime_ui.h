// Start and stop of libvexarun: the core's modules, then the Qt layer's (the screen's
// resolution, depth and colours, and the desktop clipboard, taken as soon as an
// application object exists). See runtime.h.
#pragma once

#include "vexa/package/runtime.h"

namespace vexa {

/// The Qt layer's modules in initialization order (after the core's).
std::span<const TVXModule> VXRunModules();
/// What libvexarun runs at load and unload: the core's group, then its own.
void VXRunLoad();
void VXRunUnload();
/// The record of libvexarun.
const TVXPackageInfo& VXRunPackageInfo();

}  // namespace vexa
