#include "vexa/core/component.h"

#include <algorithm>

namespace vexa {

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  SetState(csDestroying, true);
  // Tell everyone holding a link to us, then destroy what we own.
  while (!FFreeNotifies.empty()) {
    TComponent* c = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    c->RemoveNotifier(this);
    c->Notification(this, opRemove);
  }
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    RemoveComponent(c);
    delete c;
  }
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* c) {
  c->FOwner = this;
  FComponents.push_back(c);
  for (TComponent* other : FComponents)
    if (other != c) other->Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
  auto it = std::find(FComponents.begin(), FComponents.end(), c);
  if (it == FComponents.end()) return;
  FComponents.erase(it);
  c->FOwner = nullptr;
  // Siblings may hold links to the leaving component.
  std::vector<TComponent*> siblings = FComponents;
  for (TComponent* other : siblings) other->Notification(c, opRemove);
  Notification(c, opRemove);
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), component) == FFreeNotifies.end())
    FFreeNotifies.push_back(component);
  if (std::find(component->FFreeNotifies.begin(), component->FFreeNotifies.end(), this) ==
      component->FFreeNotifies.end())
    component->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  RemoveNotifier(component);
  component->RemoveNotifier(this);
}

void TComponent::RemoveNotifier(TComponent* c) {
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), c), FFreeNotifies.end());
}

void TComponent::Notification(TComponent*, TOperation) {}

uintptr_t VXFindHandle(const TComponent* component) {
  for (const TComponent* c = component; c; c = c->Owner())
    if (uintptr_t h = c->WindowHandle()) return h;
  return 0;
}

}  // namespace vexa
