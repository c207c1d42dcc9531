// TVXGradientBar: a 256-step ramp between two colours with a grip on the picked
// step (ramp and step mapping in gradient.h).
#pragma once

#include "vexa/controls/bufferedcontrol_ui.h"
#include "vexa/controls/gradient.h"

namespace vexa {

enum TVXMouseInteractGrItem : uint8_t { migDragGrip };
/// Set of TVXMouseInteractGrItem, bit 1 << member.
using TVXMouseInteractGr = uint32_t;

class TVXGradientBar : public TVXBufferedControl {
  Q_OBJECT
  Q_PROPERTY(int BeginColor READ BeginColor WRITE SetBeginColor)
  Q_PROPERTY(int EndColor READ EndColor WRITE SetEndColor)
  Q_PROPERTY(int ColorIndex READ ColorIndex WRITE SetColorIndex)

 public:
  explicit TVXGradientBar(QWidget* parent = nullptr, TComponent* owner = nullptr);

  TColor BeginColor() const { return FBeginColor; }
  void SetBeginColor(TColor c);
  TColor EndColor() const { return FEndColor; }
  void SetEndColor(TColor c);
  TVXGradientDir Direction() const { return FDirection; }
  void SetDirection(TVXGradientDir d);
  TVXMouseInteractGr MouseInteract() const { return FMouseInteract; }
  void SetMouseInteract(TVXMouseInteractGr m);
  int ColorIndex() const { return FColorIndex; }
  /// Clamped to 0..255.
  void SetColorIndex(int i);
  TColor Color() const { return TRGB2TColor(RGB()); }
  TRGB RGB() const { return FRamp[static_cast<size_t>(FColorIndex)]; }
  const TVXGradientRamp& Ramp() const { return FRamp; }

  TNotifyEvent OnChange;

 protected:
  void Render() override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;

 private:
  bool Interactive() const { return (FMouseInteract & (1u << migDragGrip)) && !Designing(); }
  void Pick(int x, int y);

  TColor FBeginColor = clBlack, FEndColor = clWhite;
  TVXGradientDir FDirection = gdVertical;
  TVXMouseInteractGr FMouseInteract = 1u << migDragGrip;
  int FColorIndex = 0;
  TVXGradientRamp FRamp;
};

}  // namespace vexa
