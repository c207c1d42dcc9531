#include "vexa/acquire/twainhost.h"

#include <thread>

namespace vexa {

namespace {

// No windows: every handle is null and a turn of the loop only yields the CPU
// while the source prepares its next event.
class TWindowlessHost : public TVXTWainHost {
 public:
  void* WindowOf(TComponent*) override { return nullptr; }
  bool IsWindow(void*) override { return false; }
  void* CreateProxyWindow() override { return nullptr; }
  void DestroyProxyWindow(void*) override {}
  void EnableWindow(void*, bool) override {}
  void SetFocus(void*) override {}
  void ProcessEvents() override { std::this_thread::yield(); }
};

TWindowlessHost gWindowless;
TVXTWainHost* gHost = nullptr;
const VexaDSMUI* gDSMUI = nullptr;

}  // namespace

TVXTWainHost& VXTW_Host() { return gHost ? *gHost : gWindowless; }
void VXTW_SetHost(TVXTWainHost* host) { gHost = host; }

const VexaDSMUI* VXTW_DSMUI() { return gDSMUI; }
void VXTW_SetDSMUI(const VexaDSMUI* ui) { gDSMUI = ui; }

}  // namespace vexa
