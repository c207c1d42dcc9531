// What the TWAIN client needs from the windowing system: the parent window of a
// component, a hidden proxy window when there is none, disabling the parent while
// a source is enabled, and one turn of the event loop. The core has no windows:
// its host answers null windows and sleeps briefly between turns. The Qt layer
// installs a host over the Qt event loop (VXTW_InstallUI).
#pragma once

#include "vexa/acquire/vexadsm.h"
#include "vexa/core/component.h"

namespace vexa {

class TVXTWainHost {
 public:
  virtual ~TVXTWainHost() = default;
  /// The window that owns `owner` (walking the owner chain), or null.
  virtual void* WindowOf(TComponent* owner) = 0;
  virtual bool IsWindow(void* window) = 0;
  /// A hidden window titled "Acquire Proxy", or null where there are no windows.
  virtual void* CreateProxyWindow() = 0;
  virtual void DestroyProxyWindow(void* window) = 0;
  virtual void EnableWindow(void* window, bool enable) = 0;
  virtual void SetFocus(void* window) = 0;
  /// Runs pending events once; waits a few milliseconds when there are none.
  virtual void ProcessEvents() = 0;
};

/// The installed host (the windowless one until another is installed).
TVXTWainHost& VXTW_Host();
/// Installs a host (not owned); null restores the windowless one.
void VXTW_SetHost(TVXTWainHost* host);

/// The dialogs our own data source manager shows for the application (null: none).
const VexaDSMUI* VXTW_DSMUI();
void VXTW_SetDSMUI(const VexaDSMUI* ui);

}  // namespace vexa
