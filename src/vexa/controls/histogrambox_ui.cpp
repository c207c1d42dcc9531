#include "vexa/controls/histogrambox_ui.h"

#include <random>
#include <string>

namespace vexa {

THistogramBox::THistogramBox(QWidget* parent, TComponent* owner) : TVXBufferedControl(parent, owner, 256, 105) {
  Update();
}

// The component base tells the processing component we are gone.
THistogramBox::~THistogramBox() = default;

void THistogramBox::SetAttachedVexaProc(TVexaProc* proc) {
  if (FProc) RemoveFreeNotification(FProc);
  FProc = proc;
  if (FProc) FreeNotification(FProc);
  Update();
}

void THistogramBox::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == FProc) FProc = nullptr;
}

void THistogramBox::SetHistogramKind(THistogramKind k) {
  FKind = k;
  Update();
}
void THistogramBox::SetLabels(THistogramLabels l) {
  FLabels = l;
  Update();
}
void THistogramBox::SetCompBar(bool on) {
  FCompBar = on;
  Update();
}
void THistogramBox::SetHistogramStyle(THistogramStyle s) {
  FStyle = s;
  Update();
}
void THistogramBox::SetBackground(TColor c) {
  FBackground = c;
  Update();
}
void THistogramBox::SetFont(const TFont& f) {
  FFont = f;
  Update();
}

void THistogramBox::Update() { Refresh(); }

void THistogramBox::Render() {
  const int W = FPicture.width(), H = FPicture.height();
  FHistogramXPos = x();
  FPlotWidth = W;
  TCanvas c(&FPicture);
  c.Brush = {FBackground, bsSolid};
  c.FillRect({0, 0, W, H});
  THistogram hist;
  if (Designing()) {
    // A fixed seed: the designer shows the same sample picture every time.
    std::mt19937 gen(1);
    std::uniform_int_distribution<uint32_t> count(0, 255);
    for (THistogramItem& item : hist) item = {count(gen), count(gen), count(gen), count(gen)};
  } else {
    if (!FProc || !FProc->AttachedBitmap()) return;
    FProc->GetHistogram(hist);
  }
  // With no channel chosen the labels still give the image's scale; no bar is drawn.
  const THistogramKind all = HistogramBit(hkRed) | HistogramBit(hkGreen) | HistogramBit(hkBlue) | HistogramBit(hkGray);
  const uint32_t max = HistogramMax(hist, FKind ? FKind : all);
  if (max == 0) return;

  c.Font = FFont;
  c.Brush.Style = bsClear;
  const std::string maxText = std::to_string(max);
  THistogramTextMetrics m;
  m.FontHeight = FontPixelHeight(FFont);
  m.TextHeight = c.TextHeight("0");
  m.MaxLabelWidth = c.TextWidth(maxText);
  m.Label255Width = c.TextWidth("255");
  const THistogramLayout lay = HistogramLayout(W, H, FLabels, FCompBar, m);
  FHistogramXPos = x() + lay.L;
  FPlotWidth = lay.Wp;

  c.Pen.Color = FFont.Color;
  if (FLabels & HistogramBit(hlVertical)) {
    c.TextOut(0, 0, maxText);
    c.TextOut(0, lay.HalfLabelY, std::to_string(max / 2));
  }
  if (FLabels & HistogramBit(hlHorizontal)) {
    static const char* const texts[] = {"0", "64", "128", "192"};
    for (int k = 0; k < 4; ++k) c.TextOut(lay.LabelX[k], lay.LabelY, texts[k]);
    c.TextOut(lay.Label255X, lay.LabelY, "255");
    c.MoveTo(lay.L - 1, 0);
    c.LineTo(lay.L - 1, lay.Hp);
    c.MoveTo(lay.L - 1, lay.Hp);
    c.LineTo(lay.L + lay.Wp, lay.Hp);
  }
  if (FCompBar) {
    for (int u = 0; u < lay.Wp; ++u) {
      const TRGB p = HistogramRampPixel(HistogramRampLevel(u, lay.Wp), FKind);
      const QRgb rgb = qRgb(p.r, p.g, p.b);
      for (int y = H - lay.RampRows; y < H; ++y)
        if (lay.L + u >= 0 && lay.L + u < W && y >= 0) FPicture.setPixel(lay.L + u, y, rgb);
    }
  }
  static const TColor pens[] = {clRed, clGreen, clBlue, clBlack};
  for (int ch = hkRed; ch <= hkGray; ++ch) {
    if (!(FKind & HistogramBit(ch))) continue;
    c.Pen.Color = pens[ch];
    if (FStyle == hsBars) {
      for (int p = 0; p < lay.Wp; ++p) {
        const uint32_t n = HistogramCount(hist[HistogramEntryAt(p, lay.Wp)], ch);
        Span(c, {lay.L + p, lay.Hp - 1}, {lay.L + p, HistogramBarEnd(n, max, lay.Hp)});
      }
    } else {
      c.MoveTo(lay.L, lay.Hp - 1);
      for (int p = 0; p < lay.Wp; ++p)
        c.LineTo(lay.L + p, HistogramLineY(HistogramCount(hist[HistogramEntryAt(p, lay.Wp)], ch), max, lay.Hp));
    }
  }
}

}  // namespace vexa
