#include "vexa/dialogs/filedialogs_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "vexa/core/errors.h"
#include "vexa/dialogs/dialogwidgets_ui.h"
#include "vexa/mview/vexamview_ui.h"
#include "vexa/view/vexaview_ui.h"

namespace vexa {

namespace {

const char* const kZoomItems[] = {"Fit", "25%", "50%", "75%", "100%", "125%", "150%", "175%", "200%", "300%", "400%"};

// Runs the dialog's choice through OnCanClose before it closes with OK.
class TVXFileDialog : public QFileDialog {
 public:
  using QFileDialog::QFileDialog;
  std::function<bool()> CanClose;
  void done(int result) override {
    if (result == QDialog::Accepted && CanClose && !CanClose()) return;
    QFileDialog::done(result);
  }
};

}  // namespace

QStringList VXQtNameFilters(const std::string& filter) {
  QStringList out;
  const QStringList parts = QString::fromStdString(filter).split('|');
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    out << parts[i] + QStringLiteral(" (") + patterns + QStringLiteral(")");
  }
  return out;
}

// --- the preview panel

TVXFilePreviewPanel::TVXFilePreviewPanel(bool saveDialog, bool showPreview, TMsgLanguage language, QWidget* parent)
    : QWidget(parent), FLanguage(language) {
  setObjectName("vexaPreviewPanel");
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(4, 0, 0, 0);

  auto* info = new QWidget(this);
  auto* il = new QVBoxLayout(info);
  il->setContentsMargins(0, 0, 0, 0);
  FFileType = new QLabel(info);
  FFileType->setObjectName("fileTypeLabel");
  FFileSize = new QLabel(info);
  FFileSize->setObjectName("fileSizeLabel");
  il->addWidget(FFileType);
  il->addWidget(FFileSize);
  if (saveDialog) {
    auto* row = new QHBoxLayout;
    FAdvanced = new QPushButton(VXWord(VXMSG_ADVANCED, language) + QStringLiteral("..."), info);
    FAdvanced->setObjectName("advanced");
    FPreviewCheck = new QCheckBox(VXWord(VXMSG_PREVIEW, language), info);
    FPreviewCheck->setObjectName("previewCheck");
    FPreviewCheck->setChecked(true);
    FPreviewCheck->setVisible(showPreview);
    row->addWidget(FAdvanced);
    row->addWidget(FPreviewCheck);
    row->addStretch();
    il->addLayout(row);
  }
  root->addWidget(info);

  FPicture = new QWidget(this);
  auto* pl = new QVBoxLayout(FPicture);
  pl->setContentsMargins(0, 0, 0, 0);
  FDimensions = new QLabel(FPicture);
  FDimensions->setObjectName("dimensionsLabel");
  FResolution = new QLabel(FPicture);
  FResolution->setObjectName("resolutionLabel");
  FColours = new QLabel(FPicture);
  FColours->setObjectName("coloursLabel");
  pl->addWidget(FDimensions);
  pl->addWidget(FResolution);
  pl->addWidget(FColours);
  auto* tools = new QHBoxLayout;
  FZoom = new QComboBox(FPicture);
  FZoom->setObjectName("zoom");
  for (const char* z : kZoomItems) FZoom->addItem(QString::fromUtf8(z));
  FPreviewButton = new QPushButton(VXGlyph(glPreview), QString(), FPicture);
  FPreviewButton->setObjectName("previewButton");
  FPreviewButton->setToolTip(VXWord(VXMSG_PREVIEW, language));
  FPreviewButton->setEnabled(false);
  FPlayButton = new QPushButton(VXGlyph(glPlay), QString(), FPicture);
  FPlayButton->setObjectName("playButton");
  FPlayButton->setCheckable(true);
  FPlayButton->setEnabled(false);
  tools->addWidget(FZoom, 1);
  tools->addWidget(FPreviewButton);
  tools->addWidget(FPlayButton);
  pl->addLayout(tools);

  FView = new TVexaView(FPicture);
  FView->setObjectName("singleView");
  FView->SetBackGround(clWhite);
  FView->SetBackgroundStyle(vxbsDiagonals);
  FView->SetCenter(true);
  FView->setMinimumSize(200, 180);
  FView->installEventFilter(this);
  FIO = std::make_unique<TVexaIO>();
  FIO->SetAttachedVexa(FView);
  FGrid = new TVexaMView(FPicture);
  FGrid->setObjectName("thumbnails");
  FGrid->SetThumbWidth(100);
  FGrid->SetThumbHeight(109);
  FGrid->SetScrollBars(ssHorizontal);
  FGrid->MouseInteract = (1u << mmiScroll) | (1u << mmiSelect);
  FGrid->KeyInteract = 1u << mkiMoveSelected;
  FGrid->setMinimumSize(200, 180);
  FGrid->hide();
  FMIO = std::make_unique<TVexaMIO>();
  FMIO->SetAttachedMView(FGrid);
  pl->addWidget(FView, 1);
  pl->addWidget(FGrid, 1);
  FProgress = new QProgressBar(FPicture);
  FProgress->setRange(0, 100);
  FProgress->setTextVisible(false);
  FProgress->setMaximumHeight(10);
  FProgress->hide();
  pl->addWidget(FProgress);
  root->addWidget(FPicture, 1);
  FPicture->setVisible(showPreview);

  FIO->OnProgress = [this](TObject*, int per) { Progress(per); };
  FMIO->OnProgress = [this](TObject*, int per) { Progress(per); };
  FGrid->OnImageSelect = [this](TObject*, int idx) {
    if (const TIOParamsVals* p = FMIO->GetParams(idx)) ShowLabels(*p, FGrid->GetImageCount());
  };
  connect(FZoom, &QComboBox::activated, this, [this](int i) { ZoomChanged(i); });
  connect(FPreviewButton, &QPushButton::clicked, this, [this] { OpenPreviewWindow(); });
  connect(FPlayButton, &QPushButton::clicked, this, [this] { TogglePlay(); });
  Clear();
}

TVXFilePreviewPanel::~TVXFilePreviewPanel() {
  FIO->SetAttachedVexa(nullptr);
  FMIO->SetAttachedMView(nullptr);
}

bool TVXFilePreviewPanel::ShowsGrid() const { return !FGrid->isHidden(); }

void TVXFilePreviewPanel::Clear() {
  for (QLabel* l : {FFileType, FFileSize, FDimensions, FResolution, FColours}) l->clear();
  FPreviewButton->setEnabled(false);
  FPlayButton->setChecked(false);
  FPlayButton->setEnabled(false);
  FGrid->SetPlaying(false);
  FGrid->Clear();
  FGrid->hide();
  FView->Blank();
  FView->show();
}

void TVXFilePreviewPanel::ShowLabels(const TIOParamsVals& params, int frames) {
  const TVXFileLabels l = VXFileLabels(params, frames, FFileBytes, FLanguage);
  FDimensions->setText(QString::fromStdString(l.Dimensions));
  FResolution->setText(QString::fromStdString(l.Resolution));
  FColours->setText(QString::fromStdString(l.Colours));
  FFileSize->setText(QString::fromStdString(l.FileSize));
  FFileType->setText(QString::fromStdString(l.FileType));
}

void TVXFilePreviewPanel::Progress(int per) {
  FProgress->show();
  FProgress->setValue(std::clamp(per, 0, 100));
  // Let typing and a new selection through: a new selection stops this load.
  QCoreApplication::processEvents();
  if (FHasPending) FIO->Aborting = FMIO->Aborting = true;
}

void TVXFilePreviewPanel::SelectionChange(const std::string& path) {
  if (FBusy) {
    FPending = path;
    FHasPending = true;
    return;
  }
  FBusy = true;
  LoadFile(path);
  while (FHasPending) {
    const std::string next = FPending;
    FHasPending = false;
    LoadFile(next);
  }
  FProgress->hide();
  FBusy = false;
}

void TVXFilePreviewPanel::LoadFile(const std::string& path) {
  FPath = path;
  const QFileInfo fi(QString::fromStdString(path));
  if (path.empty() || !fi.isFile()) {
    Clear();
    return;
  }
  FFileBytes = fi.size();
  const bool preview = !FPreviewCheck || FPreviewCheck->isChecked();
  if (!preview) {
    Clear();
    FIO->ParamsFromFile(path);
    if (FIO->Params.FileType != 0) ShowLabels(FIO->Params, 1);
    return;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  bool ok = false;
  try {
    FView->Blank();
    FGrid->SetPlaying(false);
    FGrid->Clear();
    FPlayButton->setChecked(false);
    FPlayButton->setEnabled(false);
    const std::string ext = VXFileExt(path);
    const bool avi = ext == ".avi";
    const bool grid = avi || (ext == ".gif" && EnumGifIm(path) > 1) ||
                      ((ext == ".tif" || ext == ".tiff") && EnumTIFFIm(path) >= 2);
    if (grid) {
      FView->hide();
      FGrid->show();
      FMIO->LoadFromFile(path);
      ok = !FMIO->Aborting && FGrid->GetImageCount() > 0;
      if (ok) {
        FGrid->SetSelectedItem(0);
        ShowLabels(*FMIO->GetParams(0), FGrid->GetImageCount());
        FPlayButton->setEnabled(avi || ext == ".gif");
        if (AlwaysAnimate && (avi || ext == ".gif")) TogglePlay();
      }
    } else {
      FGrid->hide();
      FView->show();
      FIO->LoadFromFile(path);
      ok = !FIO->Aborting && FIO->Params.FileType != 0 && !FView->Bitmap().Empty();
      if (ok) {
        FZoom->setCurrentIndex(0);
        FView->Fit();
        ShowLabels(FIO->Params, 1);
      }
    }
  } catch (const std::exception&) {
    ok = false;
  }
  QApplication::restoreOverrideCursor();
  if (!ok) {
    Clear();
    return;
  }
  // AlwaysAnimate may have started playing: no preview window meanwhile.
  FPreviewButton->setEnabled(!FGrid->Playing());
}

void TVXFilePreviewPanel::ZoomChanged(int index) {
  if (index <= 0) {
    FView->Fit();
    return;
  }
  FView->SetZoom(FZoom->itemText(index).chopped(1).toInt());
}

void TVXFilePreviewPanel::TogglePlay() {
  const bool play = !FGrid->Playing();
  FGrid->SetPlaying(play);
  FPlayButton->setChecked(play);
  FPlayButton->setIcon(VXGlyph(play ? glStop : glPlay));
  FPreviewButton->setEnabled(!play);
}

bool TVXFilePreviewPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == FView && event->type() == QEvent::MouseButtonDblClick && FPreviewButton->isEnabled()) {
    OpenPreviewWindow();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TVXFilePreviewPanel::OpenPreviewWindow() {
  const TBitmap* image = nullptr;
  if (ShowsGrid()) {
    const int sel = std::max(0, FGrid->SelectedImage());
    image = FGrid->GetBitmap(sel);
    if (!image) return;
  } else {
    image = &FView->Bitmap();
  }
  auto* win = new QDialog(window(), Qt::Tool);
  win->setAttribute(Qt::WA_DeleteOnClose);
  win->setObjectName("previewWindow");
  win->setWindowTitle(VXWord(VXMSG_PREVIEW, FLanguage) + QStringLiteral(": ") + QString::fromStdString(FPath));
  auto* lay = new QVBoxLayout(win);
  lay->setContentsMargins(0, 0, 0, 0);
  auto* view = new TVexaView(win);
  view->SetMouseInteract(VXMI(miZoom) | VXMI(miScroll));
  view->SetCenter(true);
  view->SetBackGround(clWhite);
  view->SetBackgroundStyle(vxbsChessboard);
  view->SetScrollBars(ssBoth);
  view->Assign(image);
  view->Update();
  lay->addWidget(view);
  if (ShowsGrid()) FGrid->ReleaseBitmap(std::max(0, FGrid->SelectedImage()));
  QSize size(view->GetIdealComponentWidth(), view->GetIdealComponentHeight());
  QSize screen(1024, 768);
  if (const QScreen* s = QGuiApplication::primaryScreen()) screen = s->availableSize();
  size = size.expandedTo(QSize(100, 100)).boundedTo(screen);
  win->resize(size);
  win->show();
}

// --- the open dialog

TOpenVexaDialog::TOpenVexaDialog(TComponent* owner) : TVXCommonDialog(owner) { Filter = BuildStrFilter(); }

TOpenVexaDialog::~TOpenVexaDialog() = default;

std::string TOpenVexaDialog::TypedName() const {
  if (!FDialog) return {};
  if (auto* edit = FDialog->findChild<QLineEdit*>("fileNameEdit")) return edit->text().toStdString();
  return {};
}

bool TOpenVexaDialog::Execute() {
  const bool ok = Run(false, true, false);
  return ok;
}

bool TOpenVexaDialog::Run(bool save, bool showPreview, bool showAdvanced) {
  TVXFileDialog dlg(QApplication::activeWindow());
  dlg.setOption(QFileDialog::DontUseNativeDialog, true);
  dlg.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dlg.setFileMode(save ? QFileDialog::AnyFile
                       : (Options & (1u << ofAllowMultiSelect)) ? QFileDialog::ExistingFiles
                                                                  : QFileDialog::ExistingFile);
  if (save && !(Options & (1u << ofOverwritePrompt))) dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (!Title.empty()) dlg.setWindowTitle(QString::fromStdString(Title));
  const QStringList filters = VXQtNameFilters(Filter);
  dlg.setNameFilters(filters);
  if (FilterIndex >= 1 && FilterIndex <= filters.size()) dlg.selectNameFilter(filters[FilterIndex - 1]);
  if (!InitialDir.empty()) dlg.setDirectory(QString::fromStdString(InitialDir));
  if (!FileName.empty()) dlg.selectFile(QString::fromStdString(FileName));

  auto* panel = new TVXFilePreviewPanel(save, showPreview, MsgLanguage, &dlg);
  panel->AlwaysAnimate = AlwaysAnimate;
  if (auto* grid = qobject_cast<QGridLayout*>(dlg.layout()))
    grid->addWidget(panel, 0, grid->columnCount(), grid->rowCount(), 1);
  if (panel->AdvancedButton()) {
    panel->AdvancedButton()->setVisible(showAdvanced);
    QObject::connect(panel->AdvancedButton(), &QPushButton::clicked, panel, [this] { AdvancedClicked(); });
  }
  FDialog = &dlg;
  FPanel = panel;
  QObject::connect(&dlg, &QFileDialog::currentChanged, panel, [this, panel](const QString& path) {
    panel->SelectionChange(path.toStdString());
    if (OnSelectionChange) OnSelectionChange(this);
  });
  QObject::connect(&dlg, &QFileDialog::directoryEntered, panel, [this] {
    if (OnFolderChange) OnFolderChange(this);
  });
  QObject::connect(&dlg, &QFileDialog::filterSelected, panel, [this, &dlg, filters](const QString& f) {
    const int index = static_cast<int>(filters.indexOf(f)) + 1;
    // The typed name follows the new type's first extension.
    if (dlg.acceptMode() == QFileDialog::AcceptSave) {
      const std::string ext = VXFilterFirstExt(Filter, index);
      auto* edit = dlg.findChild<QLineEdit*>("fileNameEdit");
      if (edit && !ext.empty() && !edit->text().isEmpty())
        edit->setText(QString::fromStdString(VXChangeFileExt(edit->text().toStdString(), ext)));
    }
    if (OnTypeChange) OnTypeChange(this);
  });
  // A name typed in full previews too, once typing pauses.
  if (auto* edit = dlg.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
    auto* typed = new QTimer(panel);
    typed->setSingleShot(true);
    typed->setInterval(250);
    QObject::connect(edit, &QLineEdit::textChanged, typed, qOverload<>(&QTimer::start));
    QObject::connect(typed, &QTimer::timeout, panel, [this, &dlg, edit, panel] {
      const QString text = edit->text().trimmed();
      if (text.isEmpty() || text.contains('"')) return;  // nothing, or several names
      const QFileInfo fi(QDir(dlg.directory()).filePath(text));
      const std::string path = fi.absoluteFilePath().toStdString();
      if (!fi.isFile() || path == panel->Path()) return;
      panel->SelectionChange(path);
      if (OnSelectionChange) OnSelectionChange(this);
    });
  }
  // Room for the file list beside the panel.
  dlg.resize(dlg.sizeHint().expandedTo(QSize(880, 500)));
  dlg.CanClose = [this] {
    bool can = true;
    if (OnCanClose) OnCanClose(this, can);
    return can;
  };
  if (OnShow) OnShow(this);
  const bool ok = dlg.exec() == QDialog::Accepted;
  if (OnClose) OnClose(this);
  if (ok) {
    const QStringList files = dlg.selectedFiles();
    FileName = files.isEmpty() ? std::string() : files.first().toStdString();
    FilterIndex = static_cast<int>(filters.indexOf(dlg.selectedNameFilter())) + 1;
  }
  FDialog = nullptr;
  FPanel = nullptr;
  return ok;
}

// --- the save dialog

TSaveVexaDialog::TSaveVexaDialog(TComponent* owner) : TOpenVexaDialog(owner) { Filter = VXDefaultSaveFilter(); }

TSaveVexaDialog::~TSaveVexaDialog() {
  if (FAttached) RemoveFreeNotification(FAttached);
}

bool TSaveVexaDialog::SetAttachedVexaIO(TComponent* component) {
  if (component && !dynamic_cast<TVexaIO*>(component) && !dynamic_cast<TVexaMIO*>(component)) return false;
  if (FAttached) RemoveFreeNotification(FAttached);
  FAttached = component;
  if (FAttached) FreeNotification(FAttached);
  return true;
}

void TSaveVexaDialog::Notification(TComponent* component, TOperation operation) {
  TOpenVexaDialog::Notification(component, operation);
  if (operation == opRemove && component == FAttached) FAttached = nullptr;
}

TIOParamsVals* TSaveVexaDialog::AttachedParams() {
  if (auto* io = dynamic_cast<TVexaIO*>(FAttached)) return &io->Params;
  if (auto* mio = dynamic_cast<TVexaMIO*>(FAttached)) return mio->GetParams(0);
  return nullptr;
}

bool TSaveVexaDialog::Execute() {
  if (AutoSetFilter) Filter = BuildStrFilter();
  if (dynamic_cast<TVexaMIO*>(FAttached) && !AttachedParams()) return false;
  if (TIOParamsVals* p = AttachedParams()) FSaved.Assign(*p);
  FAccepted = 0;
  const bool ok = Run(true, (ExOptions & (1u << sdShowPreview)) != 0, (ExOptions & (1u << sdShowAdvanced)) != 0);
  if (!ok) {
    // Undo what the advanced button changed.
    if (TIOParamsVals* p = AttachedParams()) p->Assign(FSaved);
    return false;
  }
  if (VXFileExt(FileName).empty()) FileName += VXFilterFirstExt(Filter, FilterIndex);
  return true;
}

void TSaveVexaDialog::AdvancedClicked() {
  TPreviewParamsItems page = VXSavePageOfExt(VXFileExt(TypedName()));
  if (page == ppALL && !DefaultExt.empty())
    page = VXSavePageOfExt(DefaultExt.front() == '.' ? DefaultExt : "." + DefaultExt);
  if (page == ppALL) return;
  bool ok = false;
  if (auto* io = dynamic_cast<TVexaIO*>(FAttached)) ok = io->DoPreviews(1u << page);
  if (auto* mio = dynamic_cast<TVexaMIO*>(FAttached)) ok = mio->DoPreviews(0, 1u << page);
  if (ok) FAccepted |= 1u << page;
}

}  // namespace vexa
