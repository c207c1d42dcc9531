// A data source as the manager holds it: an identity and the entry the manager
// forwards the application's source triplets to.
#pragma once

#include <string>

#include "vexa/acquire/twain.h"
#include "vexa/acquire/vexadsm.h"

namespace vexadsm {

using namespace vexa::twain;

class TDataSource {
 public:
  virtual ~TDataSource() = default;
  /// Every triplet addressed to this source, MSG_OPENDS and MSG_CLOSEDS included.
  virtual TW_UINT16 Entry(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) = 0;
  TW_IDENTITY Identity{};
};

/// The dialogs the application handed over, or null.
const VexaDSMUI* UI();

void CopyStr32(char (&dst)[34], const std::string& s);

}  // namespace vexadsm
