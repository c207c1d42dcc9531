// The studio's auxiliary controls: rulers framing the image view, and a side
// panel with the image's histogram and a colour picker.
#pragma once

#include <QLabel>
#include <QWidget>

#include "vexa/controls/gradientbar_ui.h"
#include "vexa/controls/histogrambox_ui.h"
#include "vexa/controls/hsvbox_ui.h"
#include "vexa/controls/rulerbox_ui.h"
#include "vexa/io/ioparams.h"
#include "vexa/proc/vexaproc.h"
#include "vexa/view/vexaview_ui.h"

/// The view with a ruler along its top and left edges, in image pixels, following
/// zoom and scroll.
class StudioRulers : public QWidget {
 public:
  StudioRulers(vexa::TVexaView* view, QWidget* parent);
  /// Recomputes both rulers from the view's zoom and scroll position.
  void Sync();
  vexa::TRulerBox& Top() { return *FTop; }
  vexa::TRulerBox& Left() { return *FLeft; }

 protected:
  void resizeEvent(QResizeEvent* e) override;

 private:
  vexa::TVexaView* FView;
  vexa::TRulerBox* FTop;
  vexa::TRulerBox* FLeft;
};

/// The image's information (size, depth, format, file size, pages), its histogram
/// and a colour picker (an HSV box and a bar of shades from black to the HSV colour).
class StudioSidePanel : public QWidget {
 public:
  StudioSidePanel(vexa::TVexaProc* proc, QWidget* parent);
  /// Redraws the histogram from the image.
  void FollowImage();
  /// The information lines: the image in memory, then what the file said.
  void ShowInfo(const vexa::TBitmap& image, const vexa::TIOParamsVals& file, const std::string& fileName,
                int64_t fileSize, int page, int pages, const std::string& pageNoun);
  QString InfoText() const { return FInfo->text(); }
  /// The colour picked last, in the HSV box or among its shades.
  vexa::TRGB Picked() const { return FPicked; }

 private:
  void SetPicked(vexa::TRGB c);

  QLabel* FInfo;
  vexa::THistogramBox* FHistogram;
  vexa::THSVBox* FHSV;
  vexa::TVXGradientBar* FShades;
  QLabel* FSwatch;
  vexa::TRGB FPicked;
};
