// Load and unload routines of libvexa_core. Linked last, so every static object of
// the library is constructed before the modules start.
#include "vexa/package/runtime.h"

#include <cxxabi.h>

extern "C" void* __dso_handle;

namespace {

void Unload(void*) { vexa::VXRuntimeUnload(); }

__attribute__((constructor)) void VexaCoreLoad() {
  vexa::VXRuntimeLoad();
  // Registered after the library's static objects exist, the unload routine runs
  // before their destructors, at exit as at dlclose.
  __cxxabiv1::__cxa_atexit(Unload, nullptr, &__dso_handle);
}

}  // namespace
