// TfPreviews: the processing preview dialog that TVexaProc::DoPreviews shows.
//
// Vexa1 holds the source (a copy of the image or of the selection's rectangle);
// Vexa2 the result: the part of the source that Vexa1 shows, as Vexa1 shows it,
// with the active page's operation applied. Every update of the result starts
// again from that copy (Vexa2's undo point), so changes never pile up. Each
// page's values start afresh the first time it is shown after the form opens or
// after "<<". OK applies the page to Vexa1 (with progress) and closes; "<<"
// applies it and starts over on the new source, so operations can be chained.
// The page state and its arithmetic are in previewpages.h.
#pragma once

#include <QDialog>
#include <array>
#include <memory>

#include "vexa/core/component.h"
#include "vexa/dialogs/previewpages.h"
#include "vexa/io/previewservice.h"
#include "vexa/proc/fft.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QVBoxLayout;

namespace vexa {

class TVexa;
class TVexaView;
class TVXTrackEdit;
class THSVBox;
class THistogramBox;
class TRulerBox;

/// The processing preview dialog (see above).
class TfPreviews : public QDialog, public TComponent {
  Q_OBJECT

 public:
  explicit TfPreviews(QWidget* parent = nullptr);
  ~TfPreviews() override;

  /// Language, font, lock-preview default, progress handler and sender.
  void Setup(const TVXPreviewSetup& setup);
  /// Copies the image into Vexa1.
  void SetImage(const TBitmap& image);
  void SetEffects(TPreviewEffects effects) { FEffects = effects; }
  TPreviewEffects Effects() const { return FEffects; }
  /// Shows the pages of the set, activates the first and builds the result; done
  /// on the first show, callable before it.
  void Prepare();

  TVexa* Vexa1() const { return FVexa1; }
  TVexa* Vexa2() const { return FVexa2; }
  QTabWidget* Pages() const { return FPages; }
  /// The page of the active tab (peAll before Prepare).
  TPreviewEffectsItems ActivePage() const;
  /// Makes a page the active one (ignored when it is not offered).
  void SetActivePage(TPreviewEffectsItems page);
  const TVXPreviewState& State() const { return FState; }
  bool LockPreview() const;
  void SetLockPreview(bool on);
  /// Rebuilds the result from Vexa1's view and applies the page (CopyOrg).
  void CopyOrg();
  /// Undoes Vexa2 to its copy and applies the page again.
  void RefreshResult();
  /// "<<": applies the page to the source and starts over.
  void CopyResultToSource();
  /// The user filter's kernel from a filter file, or into one (what the Load and
  /// Save buttons do after asking for the name). A failure is shown in a message
  /// box and answers false.
  bool LoadFilterFile(const std::string& name);
  bool SaveFilterFile(const std::string& name);
  /// Point in Vexa2's client area to source-image pixels.
  TPoint PreviewToSource(int x, int y) const;
  TVXPreviewMap Map() const { return FMap; }

 protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildPage(TPreviewEffectsItems page);
  void Retranslate();
  void LoadControls(TPreviewEffectsItems page);
  void Changed();
  void PageChanged();
  void ApplyAct(bool final);
  void ApplyFft(bool final);
  void BuildFft();
  void ShowFftSpectrum();
  void PickFromResult(int x, int y);
  void SetPreset(int preset);
  void LoadFilter();
  void SaveFilter();
  void FilterFromEdits();
  void HsvBoxesChanged();
  void RulerMoved(TRulerBox* ruler, int grip);
  void ChannelsChanged();
  /// Puts the rulers under the histogram's plot (its HistogramXPos and width).
  void AlignRulers();
  void AcceptWithApply();
  TRGB Background() const;

  TVXPreviewSetup FSetup;
  TPreviewEffects FEffects = VXPE(peAll);
  TVXPreviewState FState;
  std::array<bool, kVXPreviewPageCount> FPageReset{};
  bool FPrepared = false;
  bool FLoading = false;
  bool FRulerBusy = false;
  TVXPreviewMap FMap;
  std::unique_ptr<TVXFtImage> FFt;
  bool FFtGrayBuilt = true;
  int FFtSource = 0;  ///< longer side of the source the small transform was made from

  TVexa* FVexa1;
  TVexa* FVexa2;
  QLabel* FSourceLabel;
  QLabel* FResultLabel;
  QTabWidget* FPages;
  std::array<QWidget*, kVXPreviewPageCount> FPageWidgets{};
  QPushButton* FLock;
  QPushButton* FPreview;
  QPushButton* FCopyBack;
  QPushButton* FOk;
  QPushButton* FCancel;
  QProgressBar* FProgress;

  // Contrast
  TVXTrackEdit *FContrast, *FBrightness;
  // HSV, HSL, RGB
  TVXTrackEdit *FHsvHue, *FHsvSat, *FHsvVal;
  THSVBox *FBaseColor, *FNewColor;
  QLabel *FBaseLabel, *FNewLabel;
  TVXTrackEdit *FHslHue, *FHslSat, *FHslLum;
  TVXTrackEdit *FRed, *FGreen, *FBlue;
  // User filter
  std::array<QLineEdit*, 9> FKernel{};
  QLineEdit* FDivisor;
  QComboBox* FPresets;
  QPushButton *FLoadFilter, *FSaveFilter;
  QLabel *FFilterValuesLabel, *FDivisorLabel, *FPresetsLabel;
  // Equalization
  THistogramBox* FHistogram;
  QListWidget* FChannels;
  TRulerBox *FThresholdRuler, *FEqualizeRuler;
  QVBoxLayout* FRulerColumn = nullptr;
  QLabel *FThresholdLabel, *FEqualizeLabel, *FThresholdValues, *FEqualizeValues;
  QPushButton* FEqualize;
  // Bump map
  TVXTrackEdit *FQuantity, *FLightWidth, *FLightHeight, *FLightLeft, *FLightTop;
  THSVBox* FLightColor;
  QLabel* FLightColorLabel;
  // Lens
  TVXTrackEdit *FLensWidth, *FLensHeight, *FLensLeft, *FLensTop, *FRefraction;
  // Wave
  TVXTrackEdit *FAmplitude, *FWaveLength, *FPhase;
  QCheckBox* FReflective;
  // Morph
  QComboBox* FMorphOp;
  QLabel* FMorphLabel;
  TVXTrackEdit* FWindowSize;
  // Rotate
  TVXTrackEdit* FAngle;
  QPushButton *FFlipH, *FFlipV;
  QLabel* FFlipLabel;
  // FFT
  TVexaView* FFtView;
  QCheckBox* FFtGray;
  QProgressBar* FFtProgress;
  QPushButton* FFtReset;
  QLabel* FFtLabel;
};

}  // namespace vexa
