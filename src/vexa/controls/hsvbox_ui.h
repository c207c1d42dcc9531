// THSVBox: a colour picker made of a saturation/value square and a hue bar
// (layout in hsvmath.h). The colour is kept as HSV and as RGB; setters change it
// silently, while the mouse changes it and fires OnChange.
#pragma once

#include "vexa/controls/bufferedcontrol_ui.h"
#include "vexa/controls/hsvmath.h"

namespace vexa {

class THSVBox : public TVXBufferedControl {
  Q_OBJECT
  Q_PROPERTY(int Hue READ Hue WRITE SetHue)
  Q_PROPERTY(int Sat READ Sat WRITE SetSat)
  Q_PROPERTY(int Val READ Val WRITE SetVal)
  Q_PROPERTY(int Color READ Color WRITE SetColor)
  Q_PROPERTY(int Background READ Background WRITE SetBackground)

 public:
  explicit THSVBox(QWidget* parent = nullptr, TComponent* owner = nullptr);

  int Hue() const { return FHue; }
  /// Clamped to 0..359; redraws the square.
  void SetHue(int h);
  int Sat() const { return FSat; }
  /// Clamped to 0..99.
  void SetSat(int s);
  int Val() const { return FVal; }
  /// Clamped to 0..99.
  void SetVal(int v);
  uint8_t Red() const { return FRGB.r; }
  uint8_t Green() const { return FRGB.g; }
  uint8_t Blue() const { return FRGB.b; }
  TColor Color() const { return TRGB2TColor(FRGB); }
  /// Takes the channels and derives hue, saturation and value from them.
  void SetRGB(uint8_t r, uint8_t g, uint8_t b);
  void SetColor(TColor c);
  TColor Background() const { return FBackground; }
  void SetBackground(TColor c);

  TNotifyEvent OnChange;

  /// The picture as a 24-bit bitmap, grips included.
  const TBitmap& Bitmap() const { return FBitmap; }

 protected:
  void Render() override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  void RecomputeRGB();
  void RedrawSquare();
  void DrawGrips();
  void Show();
  void HandlePoint(int x, int y);

  int FHue = 0, FSat = 0, FVal = 0;
  TRGB FRGB;
  TColor FBackground = clBtnFace;
  TBitmap FBitmap;
  // The grip outlines currently inverted into FBitmap, so they can be erased.
  bool FGripsShown = false;
  TRect FHueGrip, FSquareGrip;
  THSVZone FMode = hzNone;
};

}  // namespace vexa
