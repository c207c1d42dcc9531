// Load and unload routines of libvexarun (libvexa_core has started before us).
#include "vexa/package/runtime_ui.h"

#include <cxxabi.h>

extern "C" void* __dso_handle;

namespace {

void Unload(void*) { vexa::VXRunUnload(); }

__attribute__((constructor)) void VexaRunLoad() {
  vexa::VXRunLoad();
  // Registered after the library's static objects exist, the unload routine runs
  // before their destructors, at exit as at dlclose.
  __cxxabiv1::__cxa_atexit(Unload, nullptr, &__dso_handle);
}

}  // namespace
