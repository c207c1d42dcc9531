// Scanning as the I/O component sees it. The acquisition layer ranks above the
// I/O component, so it installs its service here when it starts; with nothing
// installed every scan request answers false and touches no bitmap.
#pragma once

#include <functional>
#include <string>

#include "vexa/core/bitmap.h"
#include "vexa/core/component.h"
#include "vexa/io/ioparams.h"

namespace vexa {

class TVXScanService {
 public:
  virtual ~TVXScanService() = default;
  /// One page into bmp; params receives its size, samples and resolution. The
  /// parent window is found from `owner`'s chain. True when an image was transferred.
  virtual bool Acquire(TComponent* owner, TBitmap& bmp, TVXTWainParams& twain, TIOParamsVals& params,
                       TProgressRec& progress) = 0;
  /// Pages one after another: `page` stores each bitmap and hands back the record
  /// that receives that page's parameters (null: they are dropped).
  virtual bool AcquirePages(TComponent* owner, const std::function<TIOParamsVals*(TBitmap& page)>& page,
                            TVXTWainParams& twain, TProgressRec& progress) = 0;
  /// The source selection; true and the chosen product name when the user chose one.
  virtual bool SelectSource(TComponent* owner, std::string& name) = 0;
  /// Focus back to the window that owns `owner` (after a scan dialog).
  virtual void RestoreFocus(TComponent* owner) = 0;
};

/// The installed service, or null.
TVXScanService* VXScanService();
/// Installs a service (not owned; it must outlive its use); null removes it.
void VXSetScanService(TVXScanService* service);

}  // namespace vexa
