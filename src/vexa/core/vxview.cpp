#include "vexa/core/vxview.h"

#include <algorithm>

namespace vexa {

int gSystemDPIX = 96, gSystemDPIY = 96, gSystemColors = 24;

TVXView::TVXView(TComponent* owner) : TComponent(owner), FDPIX(gSystemDPIX), FDPIY(gSystemDPIY) {}

void TVXView::RegisterBitmapChangeEvent(const void* token, TVXBitmapChangeEvent callback) {
  FCallbacks.push_back({token, std::move(callback)});
}

void TVXView::RemoveBitmapChangeEvent(const void* token) {
  auto it = std::find_if(FCallbacks.begin(), FCallbacks.end(), [&](const Registration& r) { return r.Token == token; });
  if (it != FCallbacks.end()) FCallbacks.erase(it);
}

void TVXView::CallBitmapChangeEvents() {
  // A callback may unregister itself; walk a copy.
  std::vector<Registration> copy = FCallbacks;
  for (auto& r : copy) r.Callback(this);
}

}  // namespace vexa
