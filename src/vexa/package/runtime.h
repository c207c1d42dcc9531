// Start and stop of the shared libraries.
//
// Loading libvexa_core runs the core's module initializations once, in dependency
// order (messages, file formats, screen globals, 1-to-24 expansion); unloading runs
// the finalizations in reverse. libvexarun adds its own modules after the core's,
// and libvexadsgn none. The shared libraries call VXRuntimeLoad / VXRuntimeUnload
// from their load and unload routines; a program linked to the static libraries may
// call them itself (both are counted, so nested calls are harmless).
#pragma once

#include <span>
#include <string>
#include <vector>

namespace vexa {

/// One module's start and stop; either may be null (nothing to do).
struct TVXModule {
  const char* Name;
  void (*Init)();
  void (*Fini)();
};

/// What a package file says about itself: name, the description shown in package
/// lists, the packages it requires, the modules it contains, and whether it is for
/// design time only.
struct TVXPackageInfo {
  std::string Name;
  std::string Description;
  std::vector<std::string> Requires;
  std::vector<std::string> Contains;
  bool DesignOnly = false;
};

/// The core's modules in initialization order.
std::span<const TVXModule> VXCoreModules();

/// Runs the initializations of a group of modules in order: the first call for a
/// group (a table, by address) runs them, later calls only count. VXModulesUnload
/// runs the finalizations in reverse order when the count returns to zero.
void VXModulesLoad(std::span<const TVXModule> modules);
void VXModulesUnload(std::span<const TVXModule> modules);

/// The core's group: what libvexa_core runs at load and unload.
void VXRuntimeLoad();
void VXRuntimeUnload();
/// How many loads of the core's group are outstanding.
int VXRuntimeLoadCount();

/// The record of libvexa_core.
const TVXPackageInfo& VXCorePackageInfo();

/// Names of the initializations ("+name") and finalizations ("-name") run so far in
/// this process, oldest first.
std::vector<std::string> VXModuleLog();

}  // namespace vexa
