// TRulerBox: a graduated ruler over a real-valued axis with any number of
// draggable grips, used beside an image or as a multi-handle slider.
//
// Positions are axis values; GetXGripPos turns one into pixels from the leading
// edge (left, or top when vertical). Every setter repaints. Grip accessors ignore
// writes and answer 0 for an index outside 0 .. GripsCount - 1. Grips and the
// view are limited only by ranges that are not empty (maximum > minimum).
#pragma once

#include <QTimer>
#include <functional>
#include <vector>

#include "vexa/controls/bufferedcontrol_ui.h"
#include "vexa/controls/rulermath.h"

namespace vexa {

using TRulerGripEvent = std::function<void(TObject* sender, int grip)>;
using TRulerClickEvent = std::function<void(TObject* sender, double ps)>;

class TRulerBox : public TVXBufferedControl {
  Q_OBJECT
  Q_PROPERTY(double ViewPos READ ViewPos WRITE SetViewPos)
  Q_PROPERTY(double DotPerUnit READ DotPerUnit WRITE SetDotPerUnit)

 public:
  explicit TRulerBox(QWidget* parent = nullptr, TComponent* owner = nullptr);
  ~TRulerBox() override;

  double ViewPos() const { return FViewPos; }
  void SetViewPos(double v);
  double DotPerUnit() const { return FDotPerUnit; }
  /// Ignored at design time while FitInView is on.
  void SetDotPerUnit(double v);
  double Frequency() const { return FFrequency; }
  void SetFrequency(double v);
  double LabelFreq() const { return FLabelFreq; }
  void SetLabelFreq(double v);
  double ViewMin() const { return FViewMin; }
  /// Also becomes every grip's minimum.
  void SetViewMin(double v);
  double ViewMax() const { return FViewMax; }
  /// Also becomes every grip's maximum.
  void SetViewMax(double v);
  bool FitInView() const { return FFitInView; }
  void SetFitInView(bool on);
  int GripsCount() const { return static_cast<int>(FGrips.size()); }
  /// Drops grips from the end or appends default ones (position 0, Background,
  /// gkTriangle, the view limits).
  void SetGripsCount(int n);
  int GripBaseDim() const { return FGripBaseDim; }
  void SetGripBaseDim(int v);
  TGripsDir GripsDir() const { return FGripsDir; }
  void SetGripsDir(TGripsDir d);
  bool Ruler() const { return FRuler; }
  void SetRuler(bool on);
  TRulerDir RulerDir() const { return FRulerDir; }
  void SetRulerDir(TRulerDir d);
  TColor RulerColor() const { return FRulerColor; }
  void SetRulerColor(TColor c);
  TColor Background() const { return FBackground; }
  void SetBackground(TColor c);
  bool HexLabels() const { return FHexLabels; }
  void SetHexLabels(bool on);
  const TFont& Font() const { return FFont; }
  /// The label font; its colour is also the ticks'.
  void SetFont(const TFont& f);

  double GripsPos(int i) const;
  /// Stores, clamps to the grip's limits, fires OnRulerPosChange and repaints.
  void SetGripsPos(int i, double v);
  TColor GripsCol(int i) const;
  void SetGripsCol(int i, TColor c);
  TGripKind GripsKind(int i) const;
  void SetGripsKind(int i, TGripKind k);
  double GripsMin(int i) const;
  void SetGripsMin(int i, double v);
  double GripsMax(int i) const;
  void SetGripsMax(int i, double v);

  /// Grip i's pixel offset from the leading edge.
  int GetXGripPos(int i) const;
  /// The lowest-indexed grip whose box holds (x, y), or -1.
  int GetClickedGrip(int x, int y) const;
  int GetRulerHeight() const;
  /// Axis units the control spans along its axis.
  double GetWidthInUnit() const;
  /// The polygon grip i is drawn with.
  std::vector<TPoint> GripPolygonOf(int i) const;

  /// Refits (FitInView), re-clamps the view and repaints.
  void Update();

  TRulerGripEvent OnRulerPosChange, OnRulerGripClick, OnRulerGripDblClick;
  TRulerClickEvent OnRulerClick;

  /// True while a dragged grip scrolls the ruler from outside the control.
  bool AutoScrolling() const { return FScrollTimer.isActive(); }
  /// One round of that scrolling (the timer's handler).
  void AutoScrollStep();

 protected:
  void Render() override;
  /// A ruler fitted to its view stays fitted when its size changes.
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  struct TGrip {
    double Pos = 0;
    TColor Color = clBtnFace;
    TGripKind Kind = gkTriangle;
    double Min = 0, Max = 0;
  };
  bool Valid(int i) const { return i >= 0 && i < GripsCount(); }
  int AxisLength() const;
  int AxisCoord(int x, int y) const { return FRulerDir == rdHorizontal ? x : y; }
  void ClampAll();
  void Press(int x, int y, bool dbl);

  double FViewPos = 0, FDotPerUnit = 1.0, FFrequency = 10.0, FLabelFreq = 40.0;
  double FViewMin = 0, FViewMax = 0;
  bool FFitInView = false, FRuler = true, FHexLabels = false;
  int FGripBaseDim = 12;
  TGripsDir FGripsDir = gdUp;
  TRulerDir FRulerDir = rdHorizontal;
  TColor FRulerColor = clBtnFace, FBackground = clBtnFace;
  TFont FFont;
  std::vector<TGrip> FGrips;

  int FPressedGrip = -1, FPressGripPix = 0;
  int FPressX = 0, FPressY = 0;
  bool FButtonDown = false;
  int FScrollDir = 0;
  QTimer FScrollTimer;
};

}  // namespace vexa
