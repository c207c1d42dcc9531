#include "studio_window_ui.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>

#include "vexa/core/sample.h"
#include "vexa/dialogs/previewdialogs_ui.h"

using namespace vexa;

void StudioShowVideo(StudioWindow& studio);  // studio_video.cpp

namespace {
// The view's look for every new image: what a GIF or a previous file set does not carry over.
constexpr TVXBackgroundStyle kBackgroundStyle = vxbsChessboard;
const TColor kBackground = RGB2TColor(200, 200, 200);

void CollectActions(QMenu* menu, std::vector<QAction*>& out) {
  for (QAction* a : menu->actions()) {
    if (a->menu()) CollectActions(a->menu(), out);
    if (!a->isSeparator()) out.push_back(a);
  }
}
}  // namespace

StudioWindow::StudioWindow() {
  VXInstallPreviewDialogs();
  FView = new TVexaVect(this);
  FIO.SetAttachedVexa(FView);
  FProc.SetAttachedVexa(FView);
  // The preview dialogs' results follow every change at once.
  FProc.PreviewsParams = 1u << prppDefaultLockPreview;
  FIO.PreviewsParams = 1u << ioppDefaultLockPreview;
  FRulers = new StudioRulers(FView, this);
  setCentralWidget(FRulers);
  FView->SetScrollBars(ssBoth);
  FView->SetBackgroundStyle(kBackgroundStyle);
  FView->SetBackGround(kBackground);
  FView->SetMouseInteract(VXMI(miZoom) | VXMI(miSelect));
  auto* dock = new QDockWidget("Image", this);
  dock->setObjectName("image-dock");
  dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  FPanel = new StudioSidePanel(&FProc, dock);
  dock->setWidget(FPanel);
  addDockWidget(Qt::RightDockWidgetArea, dock);

  FZoomLabel = new QLabel(this);
  FPixelLabel = new QLabel(this);
  FSelLabel = new QLabel(this);
  FPageLabel = new QLabel(this);
  FWork = new StudioWork(this);
  statusBar()->addWidget(FZoomLabel);
  statusBar()->addWidget(FPageLabel);
  statusBar()->addWidget(FPixelLabel, 1);
  statusBar()->addPermanentWidget(FWork);
  statusBar()->addPermanentWidget(FSelLabel);
  FWork->OnBusy = [this](bool busy) { SetBusy(busy); };

  FView->OnViewChange = [this](TObject*, int) {
    ShowZoom();
    FRulers->Sync();
  };
  FView->OnImageChange = [this](TObject*) { FPanel->FollowImage(); };
  FView->OnSelectionChanging = [this](TObject*) { ShowSelection(); };
  FView->OnSelectionChange = [this](TObject*) { ShowSelection(); };
  FView->OnMouseMove = [this](TObject*, TShiftState, int x, int y) {
    const int bx = FView->XScr2Bmp(x), by = FView->YScr2Bmp(y);
    const TBitmap& b = FView->Bitmap();
    if (bx < 0 || by < 0 || bx >= b.Width() || by >= b.Height()) {
      FPixelLabel->clear();
      return;
    }
    const TRGB c = b.GetPixel(bx, by);
    FPixelLabel->setText(QString("x %1  y %2   R %3 G %4 B %5").arg(bx).arg(by).arg(c.r).arg(c.g).arg(c.b));
  };

  FGridDock = new QDockWidget("Frames", this);
  FGridDock->setObjectName("frames-dock");
  FGrid = new TVexaMView(FGridDock);
  FGrid->SetGridWidth(-1);
  FGrid->SetScrollBars(ssVertical);
  FGrid->SetBackGround(RGB2TColor(240, 240, 240));
  FGrid->OnImageSelect = [this](TObject*, int) { ShowSelectedFrame(); };
  FGridDock->setWidget(FGrid);
  FGridDock->setMinimumWidth(2 * 104 + 30);
  addDockWidget(Qt::LeftDockWidgetArea, FGridDock);
  FGridDock->hide();
  FMIO.SetAttachedMView(FGrid);

  setAcceptDrops(true);
  resize(900, 700);
  BuildMenus();
  // Small enough to show at 100 % in the window's first size.
  ShowNewImage(VXMakeSampleImage(560, 420));
  FView->setFocus();
}

StudioWindow::~StudioWindow() {
  // The worker's results point into nothing of ours, but stop reporting first.
  FReportFile.clear();
}

void StudioWindow::BuildMenus() {
  BuildFileMenu();
  BuildEditMenu();
  BuildImageMenu();
  BuildViewMenu();
  BuildVectorMenu();
  BuildFramesMenu();
  // Menus of further areas go here, each built in its own file.
  ViewMenu()->addAction("&Video...", this, [this] { StudioShowVideo(*this); });
  UpdateActions();
}

void StudioWindow::ShowNewImage(TBitmap&& bitmap) {
  FView->DeSelect();
  FView->Bitmap() = std::move(bitmap);
  FView->SetBackgroundStyle(kBackgroundStyle);
  FView->SetBackGround(kBackground);
  FView->SetZoom(100);
  FView->SetViewXY(0, 0);
  FView->Update();
  // Large pictures open fitted; small ones at their own size.
  const TBitmap& b = FView->Bitmap();
  if (b.Width() > FView->ClientWidth() || b.Height() > FView->ClientHeight()) FView->Fit();
  FProc.ClearUndo();
  FFitOnShow = !isVisible();
  Refresh();
}

bool StudioWindow::AdoptImage(TBitmap&& bitmap) {
  if (FWork->Busy() || !MayDiscard()) return false;
  ShowNewImage(std::move(bitmap));
  FDoc = StudioDocument{};
  FDoc.Modified = true;  // it exists nowhere else yet
  UpdateTitle();
  return true;
}

void StudioWindow::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  // An image put in before the window had its size was fitted to a view of no size.
  if (!FFitOnShow) return;
  FFitOnShow = false;
  FView->SetZoom(100);
  const TBitmap& b = FView->Bitmap();
  if (b.Width() > FView->ClientWidth() || b.Height() > FView->ClientHeight()) FView->Fit();
}

void StudioWindow::Refresh() {
  FView->Update();
  FPanel->FollowImage();
  FPanel->ShowInfo(FView->Bitmap(), FIO.Params, FDoc.FileName, FDoc.FileSize, FDoc.Page, FDoc.Pages, FDoc.PageNoun);
  FRulers->Sync();
  ShowZoom();
  ShowSelection();
  if (FDoc.Pages > 1) {
    FPageLabel->setText(QString("page %1 of %2").arg(FDoc.Page + 1).arg(FDoc.Pages));
    FPageLabel->show();
  } else {
    FPageLabel->hide();
  }
  // A cheap checksum over the pixels for the state report.
  uint64_t h = 1469598103934665603ull;
  const TBitmap& b = FView->Bitmap();
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* row = b.ScanLine(y);
    for (int i = 0; i < b.RowLen(); ++i) h = (h ^ row[i]) * 1099511628211ull;
  }
  FImageHash = h ^ (uint64_t(b.Width()) << 32) ^ uint64_t(b.Height());
  UpdateTitle();
  UpdateActions();
}

void StudioWindow::UpdateTitle() {
  const QString name =
      FDoc.FileName.empty() ? QString("untitled") : QFileInfo(QString::fromStdString(FDoc.FileName)).fileName();
  QString title = name;
  if (FDoc.Pages > 1) title += QString(" (%1 %2 of %3)").arg(FDoc.PageNoun == "frames" ? "frame" : "page")
                                   .arg(FDoc.Page + 1)
                                   .arg(FDoc.Pages);
  if (FDoc.Empty && !FDoc.Modified) {
    setWindowTitle("Vexa Studio");
    return;
  }
  setWindowTitle((FDoc.Modified ? "*" : "") + title + " - Vexa Studio");
  setWindowModified(FDoc.Modified);
}

void StudioWindow::SetModified(bool on) {
  FDoc.Modified = on;
  UpdateTitle();
}

void StudioWindow::UpdateActions() {
  if (FWork->Busy()) return;
  if (FUndoAction) FUndoAction->setEnabled(FProc.CanUndo());
  if (FNextPage) FNextPage->setEnabled(FDoc.Page + 1 < FDoc.Pages);
  if (FPrevPage) FPrevPage->setEnabled(FDoc.Page > 0);
}

void StudioWindow::SetBusy(bool busy) {
  if (busy) {
    FDisabledWhileBusy.clear();
    std::vector<QAction*> all;
    for (QAction* top : menuBar()->actions())
      if (top->menu()) CollectActions(top->menu(), all);
    for (QAction* a : all)
      if (a->isEnabled()) {
        a->setEnabled(false);
        FDisabledWhileBusy.push_back(a);
      }
  } else {
    for (QAction* a : FDisabledWhileBusy) a->setEnabled(true);
    FDisabledWhileBusy.clear();
  }
  FView->setEnabled(!busy);
  FGrid->setEnabled(!busy);
  FPanel->setEnabled(!busy);
  if (!busy) {
    UpdateActions();
    FView->setFocus();
  }
}

std::unique_ptr<StudioSnapshot> StudioWindow::Snapshot() {
  auto s = std::make_unique<StudioSnapshot>();
  s->Bitmap = FView->Bitmap();
  s->SetBackGround(FView->Background());
  if (FView->SelectionExists()) {
    s->X1 = FView->SelX1(), s->Y1 = FView->SelY1(), s->X2 = FView->SelX2(), s->Y2 = FView->SelY2();
    s->Poly.assign(FView->PolySelArray(), FView->PolySelArray() + FView->PolySelCount());
  }
  return s;
}

void StudioWindow::ShowZoom() {
  const TBitmap& b = FView->Bitmap();
  FZoomLabel->setText(QString("%1 x %2  %3 %").arg(b.Width()).arg(b.Height()).arg(FView->Zoom()));
}

void StudioWindow::ShowSelection() {
  if (!FView->SelectionExists()) {
    FSelLabel->setText("no selection");
    return;
  }
  FSelLabel->setText(QString("selection %1,%2 - %3,%4")
                         .arg(FView->SelX1())
                         .arg(FView->SelY1())
                         .arg(FView->SelX2())
                         .arg(FView->SelY2()));
}

void StudioWindow::closeEvent(QCloseEvent* e) {
  if (FWork->Busy()) FWork->Cancel();
  if (!MayDiscard()) {
    e->ignore();
    return;
  }
  e->accept();
}

void StudioWindow::dragEnterEvent(QDragEnterEvent* e) {
  if (!FWork->Busy() && e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void StudioWindow::dropEvent(QDropEvent* e) {
  QStringList files;
  for (const QUrl& u : e->mimeData()->urls())
    if (u.isLocalFile()) files << u.toLocalFile();
  if (files.isEmpty()) return;
  e->acceptProposedAction();
  if (files.size() == 1) {
    Open(files.front().toStdString());
  } else if (MayDiscard()) {
    OpenArguments(files);
  }
}

void StudioWindow::keyPressEvent(QKeyEvent* e) {
  // Keys the view had no use for: Page Down/Up on an image that fits steps through the folder.
  if (!FWork->Busy() && e->modifiers() == Qt::NoModifier) {
    if (e->key() == Qt::Key_PageDown) return StepFile(+1);
    if (e->key() == Qt::Key_PageUp) return StepFile(-1);
  }
  QMainWindow::keyPressEvent(e);
}
