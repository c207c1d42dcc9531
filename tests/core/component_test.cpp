#include <gtest/gtest.h>

#include <new>

#include "vexa/core/component.h"
#include "vexa/core/vxview.h"

using namespace vexa;

namespace {

// Holds a weak link to another component, as the I/O and processing components do.
class Linker : public TComponent {
 public:
  using TComponent::TComponent;
  void Link(TComponent* c) {
    FLinked = c;
    if (c) FreeNotification(c);
  }
  TComponent* Linked() const { return FLinked; }
  int Removals = 0, Notices = 0;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove) ++Notices;
    if (op == opRemove && c == FLinked) FLinked = nullptr, ++Removals;
  }

 private:
  TComponent* FLinked = nullptr;
};

class Tracked : public TComponent {
 public:
  Tracked(TComponent* owner, int* counter) : TComponent(owner), FCounter(counter) {}
  ~Tracked() override { ++*FCounter; }

 private:
  int* FCounter;
};

}  // namespace

TEST(Components, OwnerDestroysWhatItOwns) {
  int destroyed = 0;
  auto* owner = new TComponent;
  new Tracked(owner, &destroyed);
  auto* second = new Tracked(owner, &destroyed);
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(second->Owner(), owner);
  delete second;  // leaves its owner's list
  EXPECT_EQ(owner->ComponentCount(), 1);
  delete owner;
  EXPECT_EQ(destroyed, 2);
}

TEST(Components, FreeNotificationClearsWeakLinks) {
  Linker a;
  auto* b = new TComponent;
  a.Link(b);
  delete b;
  EXPECT_EQ(a.Linked(), nullptr);
  EXPECT_EQ(a.Removals, 1);
}

TEST(Components, LinkHolderDestroyedFirstIsForgottenByItsTarget) {
  auto* target = new TComponent;
  alignas(Linker) unsigned char place[sizeof(Linker)];
  auto* first = new (place) Linker;
  first->Link(target);
  first->~Linker();
  // A new component where the old one stood: the target must not take it for the one it knew.
  auto* second = new (place) Linker;
  delete target;
  EXPECT_EQ(second->Notices, 0);
  second->~Linker();
}

TEST(Components, StateFlagsAndWindowLookup) {
  TComponent c;
  EXPECT_FALSE(c.HasState(csDesigning));
  c.SetDesigning(true);
  EXPECT_TRUE(c.HasState(csDesigning));
  EXPECT_EQ(VXFindHandle(&c), 0u);
}

TEST(ViewBase, BitmapChangeCallbacksAreRemovedByToken) {
  TVXView view;
  int first = 0, second = 0;
  int tokenA, tokenB;
  view.RegisterBitmapChangeEvent(&tokenA, [&](TObject* s) { first += (s == &view); });
  view.RegisterBitmapChangeEvent(&tokenB, [&](TObject*) { ++second; });
  view.CallBitmapChangeEvents();
  view.RemoveBitmapChangeEvent(&tokenA);
  view.RemoveBitmapChangeEvent(&tokenA);  // nothing left under that token
  view.CallBitmapChangeEvents();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  EXPECT_EQ(view.BitmapChangeEventCount(), 1);
  EXPECT_EQ(view.GetFBitmap(), nullptr);
  EXPECT_EQ(view.Background(), clBtnFace);
  EXPECT_EQ(view.DPIX(), gSystemDPIX);
}
