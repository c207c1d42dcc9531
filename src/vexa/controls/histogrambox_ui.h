// THistogramBox: the histogram of an attached processing component's image as
// bars or lines, with axis labels and a colour-ramp bar (layout in
// histogramplot.h). It redraws only on Update or a property change; it does not
// watch the image.
#pragma once

#include "vexa/controls/bufferedcontrol_ui.h"
#include "vexa/controls/histogramplot.h"
#include "vexa/proc/vexaproc.h"

namespace vexa {

class THistogramBox : public TVXBufferedControl {
  Q_OBJECT
  Q_PROPERTY(bool CompBar READ CompBar WRITE SetCompBar)
  Q_PROPERTY(int Background READ Background WRITE SetBackground)

 public:
  explicit THistogramBox(QWidget* parent = nullptr, TComponent* owner = nullptr);
  ~THistogramBox() override;

  /// The histogram's source (weak: cleared when that component is destroyed).
  TVexaProc* AttachedVexaProc() const { return FProc; }
  void SetAttachedVexaProc(TVexaProc* proc);
  THistogramKind HistogramKind() const { return FKind; }
  void SetHistogramKind(THistogramKind k);
  THistogramLabels Labels() const { return FLabels; }
  void SetLabels(THistogramLabels l);
  bool CompBar() const { return FCompBar; }
  void SetCompBar(bool on);
  THistogramStyle HistogramStyle() const { return FStyle; }
  void SetHistogramStyle(THistogramStyle s);
  TColor Background() const { return FBackground; }
  void SetBackground(TColor c);
  const TFont& Font() const { return FFont; }
  void SetFont(const TFont& f);

  /// Left edge of the plot in the parent's coordinates, as of the last update.
  int HistogramXPos() const { return FHistogramXPos; }
  /// Width of the plot (the 256 levels), as of the last update.
  int HistogramPlotWidth() const { return FPlotWidth; }
  /// Reads the histogram again and redraws.
  void Update();

 protected:
  void Render() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TVexaProc* FProc = nullptr;
  THistogramKind FKind = HistogramBit(hkGray);
  THistogramLabels FLabels = HistogramBit(hlVertical) | HistogramBit(hlHorizontal);
  bool FCompBar = true;
  THistogramStyle FStyle = hsBars;
  TColor FBackground = clWhite;
  TFont FFont;
  int FHistogramXPos = 0;
  int FPlotWidth = 0;
};

}  // namespace vexa
