// A small component model: owner-owned children, free-notification between
// linked components, and the state flags components consult.
//
// A component destroys the components it owns when it is destroyed. Components
// that hold a weak link to another ask for FreeNotification and clear the link in
// Notification(component, opRemove).
#pragma once

#include <string>
#include <vector>

#include "vexa/core/bitmap.h"

namespace vexa {

enum TOperation { opInsert, opRemove };

enum TComponentStateFlag : unsigned { csLoading = 1, csDesigning = 2, csDestroying = 4 };

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int i) const { return FComponents[static_cast<size_t>(i)]; }

  /// Asks to be told (Notification with opRemove) when `component` is destroyed.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  /// Set of TComponentStateFlag.
  unsigned ComponentState() const { return FState; }
  bool HasState(TComponentStateFlag f) const { return (FState & f) != 0; }
  void SetDesigning(bool on) { SetState(csDesigning, on); }
  void SetLoading(bool on) { SetState(csLoading, on); }

  /// Window handle for dialogs that need a parent; 0 for non-visual components.
  virtual uintptr_t WindowHandle() const { return 0; }

  std::string Name;

 protected:
  virtual void Notification(TComponent* component, TOperation operation);
  void SetState(TComponentStateFlag f, bool on) { FState = on ? (FState | f) : (FState & ~f); }

 private:
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);
  void RemoveNotifier(TComponent* c);

  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  unsigned FState = 0;
};

/// Walks the owner chain to the first component with a window; 0 when none.
uintptr_t VXFindHandle(const TComponent* component);

/// Stands in for the platform's image control: a component that holds a picture
/// bitmap and repaints when that bitmap is marked modified.
class TImage : public TComponent {
 public:
  explicit TImage(TComponent* owner = nullptr) : TComponent(owner) {}
  /// The picture bitmap (owned by the image).
  TBitmap& PictureBitmap() { return FBitmap; }

 private:
  TBitmap FBitmap;
};

}  // namespace vexa
