#include "vexa/core/clipboard.h"

namespace vexa {

bool TVXMemoryClipboard::Open() {
  if (FOpen) return false;
  FOpen = true;
  return true;
}

std::vector<uint8_t> TVXMemoryClipboard::GetData(unsigned format) const {
  auto it = FData.find(format);
  return it == FData.end() ? std::vector<uint8_t>() : it->second;
}

namespace {
TVXClipboard* gInstalled = nullptr;
}

TVXClipboard& VXClipboard() {
  static TVXMemoryClipboard inProcess;
  return gInstalled ? *gInstalled : inProcess;
}

void VXSetClipboard(TVXClipboard* clipboard) { gInstalled = clipboard; }

}  // namespace vexa
