#include "vexa/controls/rulerbox_ui.h"

#include <QMouseEvent>

namespace vexa {

TRulerBox::TRulerBox(QWidget* parent, TComponent* owner) : TVXBufferedControl(parent, owner, 300, 40) {
  FGrips.resize(1);
  FScrollTimer.setInterval(30);
  connect(&FScrollTimer, &QTimer::timeout, this, [this] { AutoScrollStep(); });
  Update();
}

TRulerBox::~TRulerBox() = default;

int TRulerBox::AxisLength() const { return FRulerDir == rdHorizontal ? FPicture.width() : FPicture.height(); }

// The axis length, not always the width: a vertical ruler fitted to its width
// would not show ViewMin .. ViewMax.
double TRulerBox::GetWidthInUnit() const { return AxisLength() / FDotPerUnit; }

int TRulerBox::GetRulerHeight() const { return RulerHeight(FRuler, FontPixelHeight(FFont)); }

int TRulerBox::GetXGripPos(int i) const { return Valid(i) ? AxisToPixel(GripsPos(i), FViewPos, FDotPerUnit) : 0; }

std::vector<TPoint> TRulerBox::GripPolygonOf(int i) const {
  TGripShape shape;
  shape.Kind = GripsKind(i);
  shape.GripsDir = FGripsDir;
  shape.RulerDir = FRulerDir;
  shape.BaseDim = FGripBaseDim;
  shape.CrossExtent = (FRulerDir == rdHorizontal ? FPicture.height() : FPicture.width()) - 1;
  shape.RulerHeight = GetRulerHeight();
  // At design time the grips are spread out so each can be picked for editing.
  const int b = Designing() ? i * (FGripBaseDim + 5) : GetXGripPos(i);
  return GripPolygon(shape, b);
}

int TRulerBox::GetClickedGrip(int x, int y) const {
  std::vector<std::vector<TPoint>> polys;
  for (int i = 0; i < GripsCount(); ++i) polys.push_back(GripPolygonOf(i));
  return ClickedGrip(polys, x, y);
}

void TRulerBox::Update() {
  if (FFitInView) {
    FDotPerUnit = FitDotPerUnit(FDotPerUnit, FViewMin, FViewMax, AxisLength());
    FViewPos = ClampViewPos(FViewPos, FViewMin, FViewMax, GetWidthInUnit());
  }
  Refresh();
}

void TRulerBox::resizeEvent(QResizeEvent* e) {
  TVXBufferedControl::resizeEvent(e);
  if (FFitInView) Update();
}

void TRulerBox::Render() {
  const int W = FPicture.width(), H = FPicture.height();
  const int R = GetRulerHeight();
  TCanvas c(&FPicture);
  c.Pen = TPen{};
  c.Brush = {FBackground, bsSolid};
  c.FillRect({0, 0, W, H});
  c.Pen.Color = clBlack;
  for (int i = 0; i < GripsCount(); ++i) {
    const std::vector<TPoint> poly = GripPolygonOf(i);
    c.Brush = {GripsCol(i), bsSolid};
    c.Polygon(poly.data(), static_cast<int>(poly.size()));
  }
  if (!FRuler) return;

  c.Brush = {FRulerColor, bsSolid};
  c.FillRect(RulerStripRect(FGripsDir, FRulerDir, R, W, H));
  c.Pen.Color = FFont.Color;
  c.Font = FFont;
  c.Brush.Style = bsClear;
  const int length = AxisLength();
  for (const TRulerTick& t : RulerTicks(FViewPos, FDotPerUnit, FFrequency, length)) {
    const TTickLine l = RulerTickLine(FGripsDir, FRulerDir, t.Pixel, R / 4, R, W, H);
    Span(c, l.From, l.To);
  }
  const int F = FontPixelHeight(FFont);
  for (const TRulerTick& t : RulerTicks(FViewPos, FDotPerUnit, FLabelFreq, length)) {
    const TTickLine l = RulerTickLine(FGripsDir, FRulerDir, t.Pixel, R / 2, R, W, H);
    Span(c, l.From, l.To);
    const std::string text = RulerLabel(t.Value, FHexLabels);
    const int tw = c.TextWidth(text);
    if (FRulerDir == rdHorizontal) {
      c.Font.Escapement = 0;
      c.TextOut(t.Pixel - tw / 2, FGripsDir == gdUp ? 0 : H - F, text);
    } else if (FGripsDir == gdUp) {
      // Turned a quarter counter-clockwise, the text runs upwards from its origin.
      c.Font.Escapement = 900;
      c.TextOut(0, t.Pixel + tw / 2, text);
    } else {
      c.Font.Escapement = -900;
      c.TextOut(W, t.Pixel - tw / 2, text);
    }
  }
}

void TRulerBox::SetViewPos(double v) {
  FViewPos = ClampViewPos(v, FViewMin, FViewMax, GetWidthInUnit());
  Update();
  repaint();
}

void TRulerBox::SetDotPerUnit(double v) {
  if (Designing() && FFitInView) return;
  if (!(v > 0)) return;
  FDotPerUnit = v;
  Update();
  repaint();
}

void TRulerBox::SetFrequency(double v) {
  FFrequency = v;
  Update();
  repaint();
}

void TRulerBox::SetLabelFreq(double v) {
  FLabelFreq = v;
  Update();
  repaint();
}

void TRulerBox::ClampAll() {
  for (int i = 0; i < GripsCount(); ++i) {
    const TGrip& g = FGrips[static_cast<size_t>(i)];
    if (ClampGripPos(g.Pos, g.Min, g.Max) != g.Pos) SetGripsPos(i, g.Pos);
  }
}

void TRulerBox::SetViewMin(double v) {
  FViewMin = v;
  FViewPos = ClampViewPos(FViewPos, FViewMin, FViewMax, GetWidthInUnit());
  for (TGrip& g : FGrips) g.Min = v;
  ClampAll();
  Update();
}

void TRulerBox::SetViewMax(double v) {
  FViewMax = v;
  FViewPos = ClampViewPos(FViewPos, FViewMin, FViewMax, GetWidthInUnit());
  for (TGrip& g : FGrips) g.Max = v;
  ClampAll();
  Update();
}

void TRulerBox::SetFitInView(bool on) {
  FFitInView = on;
  Update();
}

void TRulerBox::SetGripsCount(int n) {
  n = imax(n, 0);
  while (GripsCount() > n) FGrips.pop_back();
  while (GripsCount() < n) {
    TGrip g;
    g.Color = FBackground;
    g.Min = FViewMin;
    g.Max = FViewMax;
    FGrips.push_back(g);
  }
  Update();
}

void TRulerBox::SetGripBaseDim(int v) {
  FGripBaseDim = v;
  Update();
}

void TRulerBox::SetGripsDir(TGripsDir d) {
  FGripsDir = d;
  Update();
}

void TRulerBox::SetRuler(bool on) {
  FRuler = on;
  Update();
}

void TRulerBox::SetRulerDir(TRulerDir d) {
  FRulerDir = d;
  Update();
}

void TRulerBox::SetRulerColor(TColor c) {
  FRulerColor = c;
  Update();
}

void TRulerBox::SetBackground(TColor c) {
  FBackground = c;
  Update();
}

void TRulerBox::SetHexLabels(bool on) {
  FHexLabels = on;
  Update();
}

void TRulerBox::SetFont(const TFont& f) {
  FFont = f;
  Update();
}

double TRulerBox::GripsPos(int i) const { return Valid(i) ? FGrips[static_cast<size_t>(i)].Pos : 0; }
TColor TRulerBox::GripsCol(int i) const { return Valid(i) ? FGrips[static_cast<size_t>(i)].Color : 0; }
TGripKind TRulerBox::GripsKind(int i) const { return Valid(i) ? FGrips[static_cast<size_t>(i)].Kind : gkTriangle; }
double TRulerBox::GripsMin(int i) const { return Valid(i) ? FGrips[static_cast<size_t>(i)].Min : 0; }
double TRulerBox::GripsMax(int i) const { return Valid(i) ? FGrips[static_cast<size_t>(i)].Max : 0; }

void TRulerBox::SetGripsPos(int i, double v) {
  if (!Valid(i)) return;
  TGrip& g = FGrips[static_cast<size_t>(i)];
  g.Pos = ClampGripPos(v, g.Min, g.Max);
  if (OnRulerPosChange) OnRulerPosChange(this, i);
  Update();
  repaint();
}

void TRulerBox::SetGripsCol(int i, TColor c) {
  if (!Valid(i)) return;
  FGrips[static_cast<size_t>(i)].Color = c;
  Update();
}

void TRulerBox::SetGripsKind(int i, TGripKind k) {
  if (!Valid(i) || k > gkArrow2) return;
  FGrips[static_cast<size_t>(i)].Kind = k;
  Update();
}

void TRulerBox::SetGripsMin(int i, double v) {
  if (!Valid(i)) return;
  FGrips[static_cast<size_t>(i)].Min = v;
  ClampAll();
  Update();
}

void TRulerBox::SetGripsMax(int i, double v) {
  if (!Valid(i)) return;
  FGrips[static_cast<size_t>(i)].Max = v;
  ClampAll();
  Update();
}

void TRulerBox::Press(int x, int y, bool dbl) {
  FButtonDown = true;
  FPressedGrip = GetClickedGrip(x, y);
  FPressX = x;
  FPressY = y;
  if (FPressedGrip >= 0) {
    if (dbl && OnRulerGripDblClick) OnRulerGripDblClick(this, FPressedGrip);
    FPressGripPix = GetXGripPos(FPressedGrip);
  } else if (OnRulerClick) {
    OnRulerClick(this, AxisCoord(x, y) / FDotPerUnit + FViewPos);
  }
}

void TRulerBox::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) Press(e->position().toPoint().x(), e->position().toPoint().y(), false);
}

void TRulerBox::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) Press(e->position().toPoint().x(), e->position().toPoint().y(), true);
}

void TRulerBox::mouseMoveEvent(QMouseEvent* e) {
  if (!FButtonDown || FPressedGrip < 0 || !(e->buttons() & Qt::LeftButton)) return;
  const QPoint p = e->position().toPoint();
  const int a = AxisCoord(p.x(), p.y());
  // Outside the control the timer moves the grip; the pointer only says which way.
  FScrollDir = a < 0 ? -1 : (a >= AxisLength() ? 1 : 0);
  if (FScrollDir != 0) {
    if (!FScrollTimer.isActive()) FScrollTimer.start();
    return;
  }
  FScrollTimer.stop();
  const int pix = a + FPressGripPix - AxisCoord(FPressX, FPressY);
  SetGripsPos(FPressedGrip, pix / FDotPerUnit + FViewPos);
}

void TRulerBox::AutoScrollStep() {
  if (!FButtonDown || FPressedGrip < 0 || FScrollDir == 0) {
    FScrollTimer.stop();
    return;
  }
  const double unit = 1 / FDotPerUnit;
  FViewPos = ClampViewPos(FViewPos + FScrollDir * unit, FViewMin, FViewMax, GetWidthInUnit());
  SetGripsPos(FPressedGrip, FScrollDir < 0 ? FViewPos - unit : FViewPos + GetWidthInUnit());
}

void TRulerBox::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  FScrollTimer.stop();
  FScrollDir = 0;
  const QPoint p = e->position().toPoint();
  if (FPressedGrip >= 0 && p.x() == FPressX && p.y() == FPressY && OnRulerGripClick)
    OnRulerGripClick(this, FPressedGrip);
  FPressedGrip = -1;
  FButtonDown = false;
}

}  // namespace vexa
