// TfIOPreviews: the save-parameters dialog that TVexaIO::DoPreviews and
// TVexaMIO::DoPreviews show. One page per format; the source on the left, on the
// right the image as it will look once saved with the page's values, and the
// original and compressed sizes in bytes. JPEG is really compressed and read
// back; the other formats are written into a counting stream for their size,
// and the result shows their colour reduction. The form edits its own copy of
// the caller's record; WriteParams gives back only the active page's fields.
#pragma once

#include <QDialog>
#include <array>
#include <vector>

#include "vexa/core/component.h"
#include "vexa/dialogs/iopreviewpages.h"
#include "vexa/io/previewservice.h"
#include "vexa/io/vexaio.h"
#include "vexa/proc/vexaproc.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace vexa {

class TVexa;
class TVXTrackEdit;

/// The save-parameters dialog (see above).
class TfIOPreviews : public QDialog, public TComponent {
  Q_OBJECT

 public:
  explicit TfIOPreviews(QWidget* parent = nullptr);
  ~TfIOPreviews() override;

  void Setup(const TVXPreviewSetup& setup);
  /// Takes a copy of the caller's record (the controls start from it).
  void SetParams(const TIOParamsVals& params);
  /// Copies the image into Vexa1 and fits it.
  void SetImage(const TBitmap& image);
  /// Shows the pages of the set (ppAUTO resolved with the record's FileType),
  /// activates the first and loads its controls. False when no page is left.
  bool SetPages(TPreviewParams pages);
  /// The active page's fields into `params`; nothing else is touched.
  void WriteParams(TIOParamsVals& params) const;

  TVexa* Vexa1() const { return FVexa1; }
  TVexa* Vexa2() const { return FVexa2; }
  QTabWidget* Pages() const { return FPages; }
  TPreviewParamsItems ActivePage() const;
  void SetActivePage(TPreviewParamsItems page);
  /// The dialog's working record (what the controls show).
  const TIOParamsVals& Work() const { return FWork; }
  bool LockPreview() const;
  void SetLockPreview(bool on);
  /// Runs the active page's preview (applyAct).
  void ApplyAct();
  /// The compressed size of the last preview, in bytes.
  int64_t CompressedSize() const { return FCompressed; }
  /// The palette of the last colour reduction (empty above 256 colours).
  const std::vector<TRGB>& PreviewPalette() const { return FPalette; }
  /// How many entries the colour buttons' palette dialog offers: 2^(bits per
  /// sample) of the preview's palette, or a 256-colour palette of the source
  /// when the page keeps more colours.
  int PaletteEntriesOffered() const;

 private:
  QWidget* BuildPage(TPreviewParamsItems page);
  void Retranslate();
  void LoadControls(TPreviewParamsItems page);
  void ReadControls(TPreviewParamsItems page);
  void Changed();
  void PageChanged();
  void PickColour(TRGB& target, QPushButton* button);
  const std::vector<TRGB>& OfferedPalette() const;
  void ShowColour(QPushButton* button, TRGB c);
  void TiffPhotometricChanged();
  void SyncViews();

  TVXPreviewSetup FSetup;
  TIOParamsVals FWork;
  TPreviewParams FPagesSet = 0;
  bool FLoading = false;
  bool FReady = false;
  int64_t FCompressed = 0;
  std::vector<TRGB> FPalette;
  mutable std::vector<TRGB> FSourcePalette;

  TVexa* FVexa1;
  TVexa* FVexa2;
  TVexaIO FIO;
  TVexaProc FProc;
  TBitmap FSaveCopy;
  QLabel *FSourceLabel, *FResultLabel;
  QLabel *FOriginalCaption, *FOriginalSize, *FCompressedCaption, *FCompressedSize;
  QTabWidget* FPages;
  std::array<QWidget*, kVXIOPageCount> FPageWidgets{};
  QPushButton *FLock, *FPreview, *FOk, *FCancel;
  QProgressBar* FProgress;
  // Captions retranslated together: (label, word).
  std::vector<std::pair<QLabel*, int>> FCaptions;
  std::vector<std::pair<QCheckBox*, int>> FChecks;

  // JPEG
  TVXTrackEdit* FJpegQuality;
  QComboBox *FJpegDct, *FJpegPhotometric;
  QSpinBox* FJpegSmooth;
  QCheckBox *FJpegOptimal, *FJpegProgressive;
  // TIFF
  QComboBox *FTiffCompression, *FTiffPhotometric, *FTiffColours;
  QSpinBox *FTiffIndex, *FTiffXPos, *FTiffYPos, *FTiffPageNumber, *FTiffPageCount;
  QLineEdit *FTiffDocument, *FTiffDescription, *FTiffPageName;
  // GIF
  QSpinBox *FGifIndex, *FGifDelay, *FGifXPos, *FGifYPos;
  QComboBox* FGifColours;
  QCheckBox *FGifTransparent, *FGifInterlaced;
  QPushButton *FGifTranspColor, *FGifBackground;
  // BMP, PCX
  QComboBox *FBmpCompression, *FBmpColours, *FPcxCompression, *FPcxColours;
  // PNG
  QComboBox *FPngColours, *FPngFilter, *FPngCompression;
  QPushButton* FPngBackground;
  QCheckBox* FPngInterlaced;
  // TGA
  QComboBox* FTgaColours;
  QPushButton* FTgaBackground;
  QLineEdit *FTgaName, *FTgaDescription;
  QCheckBox* FTgaCompressed;
};

}  // namespace vexa
