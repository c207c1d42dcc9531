// TOpenVexaDialog and TSaveVexaDialog: the file dialogs with a preview panel.
//
// They run a QFileDialog (never the desktop's native one, which takes no extra
// widgets) with TVXFilePreviewPanel beside the file list. Selecting a file loads
// it into the panel: multi-frame files (AVI, GIF with more than one frame, TIFF
// with two or more pages) as thumbnails, anything else in a single view, with
// its size, resolution, colours, file and memory size and type. A load that
// takes a while shows progress and yields to the event loop, so selecting
// another file stops it and moves on. The save dialog's "Advanced..." button
// opens the attached I/O component's save-parameters dialog for the typed
// extension; cancelling the dialog restores the parameters it started with.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "vexa/core/component.h"
#include "vexa/core/messages.h"
#include "vexa/dialogs/filedialogs.h"
#include "vexa/io/ioparams.h"
#include "vexa/io/vexaio.h"
#include "vexa/mview/vexamio.h"

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vexa {

class TVexaView;
class TVexaMView;

using TDialogNotifyEvent = std::function<void(TObject* sender)>;
using TCanCloseEvent = std::function<void(TObject* sender, bool& canClose)>;

/// Runs a dialog modally; the common part of the file dialogs.
class TVXCommonDialog : public TComponent {
 public:
  explicit TVXCommonDialog(TComponent* owner = nullptr) : TComponent(owner) {}
  /// Shows the dialog; true when the user confirmed.
  virtual bool Execute() = 0;

  bool Ctl3D = true;
  int HelpContext = 0;
  TMsgLanguage MsgLanguage = msSystem;
  TDialogNotifyEvent OnShow, OnClose;
};

/// The open options this dialog honours.
enum TOpenOption : uint8_t { ofReadOnly, ofOverwritePrompt, ofHideReadOnly, ofAllowMultiSelect, ofFileMustExist };
using TOpenOptions = unsigned;

/// The panel beside the file list. Usable on its own (the dialogs add it to a
/// QFileDialog); every text comes from the message table or the fixed label forms.
class TVXFilePreviewPanel : public QWidget {
  Q_OBJECT

 public:
  TVXFilePreviewPanel(bool saveDialog, bool showPreview, TMsgLanguage language, QWidget* parent = nullptr);
  ~TVXFilePreviewPanel() override;

  /// What the dialog does when the selection moves to `path` (an empty or
  /// missing path clears the panel). Returns once the file is shown or dropped.
  void SelectionChange(const std::string& path);
  /// The file shown (or last asked for).
  const std::string& Path() const { return FPath; }
  /// Play the grid's frames when an AVI or animated GIF is selected.
  bool AlwaysAnimate = false;

  QLabel* DimensionsLabel() const { return FDimensions; }
  QLabel* ResolutionLabel() const { return FResolution; }
  QLabel* ColoursLabel() const { return FColours; }
  QLabel* FileSizeLabel() const { return FFileSize; }
  QLabel* FileTypeLabel() const { return FFileType; }
  QPushButton* PreviewButton() const { return FPreviewButton; }
  QPushButton* PlayButton() const { return FPlayButton; }
  QPushButton* AdvancedButton() const { return FAdvanced; }
  QCheckBox* PreviewCheck() const { return FPreviewCheck; }
  QComboBox* ZoomBox() const { return FZoom; }
  TVexaView* View() const { return FView; }
  TVexaMView* Grid() const { return FGrid; }
  TVexaMIO& GridIO() { return *FMIO; }
  /// True when the thumbnail grid shows the file, false for the single view.
  bool ShowsGrid() const;
  /// Opens the full-size preview window (the preview button).
  void OpenPreviewWindow();

 private:
  void Clear();
  void ShowLabels(const TIOParamsVals& params, int frames);
  void LoadFile(const std::string& path);
  void Progress(int per);
  void ZoomChanged(int index);
  void TogglePlay();
  bool eventFilter(QObject* watched, QEvent* event) override;

  TMsgLanguage FLanguage;
  std::string FPath;
  int64_t FFileBytes = 0;
  bool FBusy = false;
  std::string FPending;
  bool FHasPending = false;

  QLabel* FFileType;
  QLabel* FFileSize;
  QLabel *FDimensions, *FResolution, *FColours;
  QPushButton* FAdvanced = nullptr;
  QCheckBox* FPreviewCheck = nullptr;
  QWidget* FPicture;
  QComboBox* FZoom;
  QPushButton *FPreviewButton, *FPlayButton;
  TVexaView* FView;
  std::unique_ptr<TVexaIO> FIO;
  TVexaMView* FGrid;
  std::unique_ptr<TVexaMIO> FMIO;
  QProgressBar* FProgress;
};

/// The open dialog with the preview panel; its filter is built from the format registry.
class TOpenVexaDialog : public TVXCommonDialog {
 public:
  explicit TOpenVexaDialog(TComponent* owner = nullptr);
  ~TOpenVexaDialog() override;
  bool Execute() override;

  std::string DefaultExt;
  std::string FileName;
  /// "description|patterns|..." (a plain string property).
  std::string Filter;
  int FilterIndex = 1;
  std::string InitialDir;
  TOpenOptions Options = 1u << ofHideReadOnly;
  std::string Title;
  TCanCloseEvent OnCanClose;
  TDialogNotifyEvent OnFolderChange, OnSelectionChange, OnTypeChange;
  bool AutoSetFilter = true;
  bool AlwaysAnimate = false;

  /// The running dialog and its panel (null outside Execute).
  QFileDialog* Dialog() const { return FDialog; }
  TVXFilePreviewPanel* Panel() const { return FPanel; }

 protected:
  /// Builds the dialog around the panel, runs it and reads back the choices.
  bool Run(bool save, bool showPreview, bool showAdvanced);
  /// Called when the typed name, the file type or the advanced button change.
  virtual void AdvancedClicked() {}
  /// The name typed in the dialog's edit box.
  std::string TypedName() const;

  QFileDialog* FDialog = nullptr;
  TVXFilePreviewPanel* FPanel = nullptr;
};

enum TVXSaveDlgOptItem : uint8_t { sdShowPreview, sdShowAdvanced };
using TVXSaveDlgOpt = unsigned;

/// The save dialog: the preview panel, "Advanced..." for the attached I/O component
/// and its parameters restored on cancel.
class TSaveVexaDialog : public TOpenVexaDialog {
 public:
  explicit TSaveVexaDialog(TComponent* owner = nullptr);
  ~TSaveVexaDialog() override;
  bool Execute() override;

  TVXSaveDlgOpt ExOptions = (1u << sdShowPreview) | (1u << sdShowAdvanced);
  TComponent* AttachedVexaIO() const { return FAttached; }
  /// Takes a TVexaIO or a TVexaMIO; anything else is refused (false, link unchanged).
  bool SetAttachedVexaIO(TComponent* component);
  /// The parameter pages confirmed with OK through "Advanced..." during the last
  /// Execute (a TPreviewParams set), so a caller knows which format's choices the
  /// user made with the preview.
  TPreviewParams AdvancedAccepted() const { return FAccepted; }

 protected:
  void AdvancedClicked() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TIOParamsVals* AttachedParams();
  TComponent* FAttached = nullptr;
  TIOParamsVals FSaved;
  TPreviewParams FAccepted = 0;
};

/// The filter in Qt's form: one "description (patterns)" per entry.
QStringList VXQtNameFilters(const std::string& filter);

}  // namespace vexa
