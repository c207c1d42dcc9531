#include "studio_window_ui.h"

#include <QActionGroup>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <map>
#include <sstream>

#include "vexa/acquire/twainclient.h"
#include "vexa/core/sample.h"
#include "vexa/proc/operations.h"

using namespace vexa;

namespace {
std::vector<std::string> SplitWords(const std::string& s) {
  std::istringstream in(s);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}
}  // namespace

StudioWindow::StudioWindow() {
  FView = new TVexaVect(this);
  FIO.SetAttachedVexa(FView);
  FProc.SetAttachedVexa(FView);
  FRulers = new StudioRulers(FView, this);
  setCentralWidget(FRulers);
  FView->SetScrollBars(ssBoth);
  FView->SetBackgroundStyle(vxbsChessboard);
  FView->SetBackGround(RGB2TColor(200, 200, 200));
  FView->SetMouseInteract(VXMI(miZoom) | VXMI(miSelect));
  auto* dock = new QDockWidget("Image", this);
  dock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
  FPanel = new StudioSidePanel(&FProc, dock);
  dock->setWidget(FPanel);
  addDockWidget(Qt::RightDockWidgetArea, dock);

  FZoomLabel = new QLabel(this);
  FPixelLabel = new QLabel(this);
  FSelLabel = new QLabel(this);
  statusBar()->addWidget(FZoomLabel);
  statusBar()->addWidget(FPixelLabel, 1);
  statusBar()->addPermanentWidget(FSelLabel);

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

  FView->Bitmap() = VXMakeSampleImage(640, 480);
  FView->Update();
  BuildMenus();
  BuildFramesMenu();
  setWindowTitle("Vexa Studio - sample image");
  resize(900, 700);
  ShowZoom();
  ShowSelection();
}

bool StudioWindow::OpenFile(const std::string& name, std::string& error) {
  // Animations, multi-page documents and videos open in the frame grid too.
  const QString lower = QString::fromStdString(name).toLower();
  const bool avi = lower.endsWith(".avi");
  if (avi || (lower.endsWith(".gif") && EnumGifIm(name) > 1) ||
      ((lower.endsWith(".tif") || lower.endsWith(".tiff")) && EnumTIFFIm(name) > 1)) {
    ShowGrid(false);
    FMIO.LoadFromFile(name);
    if (FGrid->GetImageCount() == 0) {
      error = FMIO.LastError.empty() ? "no frame could be read" : FMIO.LastError;
      return false;
    }
    FGrid->SetSelectedItem(0);
    ShowSelectedFrame();
    FFileName = name;
    setWindowTitle(QString("Vexa Studio - %1").arg(QString::fromStdString(name)));
    return true;
  }
  FIO.LoadFromFile(name);
  FProc.ClearUndo();
  Refresh();
  if (FIO.Aborting) {
    error = "the file could not be read completely";
    return false;
  }
  // Large pictures open fitted; small ones at their own size.
  const TBitmap& b = FView->Bitmap();
  if (b.Width() > FView->ClientWidth() || b.Height() > FView->ClientHeight()) FView->Fit();
  FFileName = name;
  // Objects saved beside the picture come back with it.
  FView->RemoveAllObjects();
  const std::string objects = name.substr(0, name.find_last_of('.')) + ".vxv";
  try {
    if (_getfilesize(objects.c_str()) > 0) FView->LoadFromFileVXV(objects);
  } catch (const std::exception&) {
  }
  setWindowTitle(QString("Vexa Studio - %1").arg(QString::fromStdString(name)));
  return true;
}

void StudioWindow::Refresh() {
  FView->Update();
  FPanel->FollowImage();
  FRulers->Sync();
  ShowZoom();
  ShowSelection();
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

void StudioWindow::RunOperation(const std::string& name) {
  const TVXOperation* op = VXFindOperation(name);
  if (!op) return;
  std::vector<std::string> args;
  if (op->MaxArgs() > 0) {
    bool ok = false;
    const TRGB c = FPanel->Picked();
    const QString text = QInputDialog::getText(
        this, QString::fromUtf8(op->Name),
        QString("%1\n\nArguments: %2\n(\"pick\" stands for the picked colour, %3 %4 %5)")
            .arg(op->Summary, op->Args)
            .arg(c.r)
            .arg(c.g)
            .arg(c.b),
        QLineEdit::Normal, QString(), &ok);
    if (!ok) return;
    for (const std::string& w : SplitWords(text.toStdString())) {
      if (w != "pick") {
        args.push_back(w);
        continue;
      }
      for (int v : {c.r, c.g, c.b}) args.push_back(std::to_string(v));
    }
  }
  if (!op->CheckArgCount(args.size()).empty()) {
    QMessageBox::warning(this, op->Name, QString("Expected arguments: %1").arg(op->Args));
    return;
  }
  std::string report;
  const std::string err = op->Run(FProc, args, report);
  if (!err.empty()) {
    QMessageBox::warning(this, op->Name, QString::fromStdString(err));
    return;
  }
  Refresh();
  if (!report.empty()) QMessageBox::information(this, op->Name, QString::fromStdString(report));
}

void StudioWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&Open...", QKeySequence::Open, [this] {
    const QString name = QFileDialog::getOpenFileName(this, "Open image", QString(),
                                                      "Images (*.bmp *.ico *.cur *.pcx *.tga *.gif *.tif *.tiff *.jpg "
                                                      "*.jpeg *.png *.wmf *.emf *.avi);;All files (*)",
                                                      nullptr, QFileDialog::DontUseNativeDialog);
    if (name.isEmpty()) return;
    std::string error;
    if (!OpenFile(name.toStdString(), error))
      QMessageBox::warning(this, "Open", QString("%1: %2").arg(name, QString::fromStdString(error)));
  });
  file->addAction("Save &as...", QKeySequence::SaveAs, [this] {
    const QString name = QFileDialog::getSaveFileName(this, "Save image", QString::fromStdString(FFileName),
                                                      "Images (*.bmp *.pcx *.tga *.gif *.tif *.jpg *.png)", nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (name.isEmpty()) return;
    FIO.SaveToFile(name.toStdString());
    if (FIO.Aborting) QMessageBox::warning(this, "Save", "The image could not be saved in this format.");
  });
  file->addSeparator();
  file->addAction("Select &source...", [this] { FIO.SelectAcquireSource(); });
  file->addAction("Ac&quire...", [this] {
    if (!FIO.Acquire()) {
      const vexa::TVXTWFailure& f = vexa::VXTW_LastFailure();
      if (f.Occurred())
        QMessageBox::warning(this, "Acquire", QString::fromStdString("Nothing was scanned: " + f.Message));
      return;
    }
    FFileName.clear();
    Refresh();
  });
  file->addAction("Acquire &pages...", [this] {
    if (FBrowsing) ShowGrid(false);
    FMIO.TWainParams.Assign(FIO.TWainParams);
    FMIO.TWainParams.Capabilities().FeederEnabled = true;
    if (!FMIO.Acquire()) {
      const vexa::TVXTWFailure& f = vexa::VXTW_LastFailure();
      if (f.Occurred())
        QMessageBox::warning(this, "Acquire pages", QString::fromStdString("Nothing was scanned: " + f.Message));
      return;
    }
    FGridDock->show();
  });
  file->addSeparator();
  file->addAction("&Quit", QKeySequence::Quit, [this] { close(); });

  QMenu* edit = menuBar()->addMenu("&Edit");
  edit->addAction("&Undo", QKeySequence::Undo, [this] {
    FProc.Undo();
    Refresh();
  });
  edit->addSeparator();
  edit->addAction("&Copy", QKeySequence::Copy, [this] { FProc.SelCopyToClip(); });
  edit->addAction("Cu&t", QKeySequence::Cut, [this] {
    FProc.SelCutToClip();
    Refresh();
  });
  edit->addAction("&Paste", QKeySequence::Paste, [this] {
    FProc.PasteFromClipboard();
    Refresh();
  });
  edit->addSeparator();
  edit->addAction("Select &all", QKeySequence::SelectAll, [this] {
    FProc.SelectAll();
    ShowSelection();
  });
  edit->addAction("&Deselect", [this] {
    FView->DeSelect();
    ShowSelection();
  });
  edit->addAction("C&rop to selection", [this] {
    FProc.CropSel();
    Refresh();
  });
  edit->addAction("C&lear selection", [this] {
    FProc.ClearSel();
    Refresh();
  });

  // One entry per registered processing operation, in name order, so the menu
  // grows with the operation table.
  QMenu* image = menuBar()->addMenu("&Image");
  for (const TVXOperation& op : VXOperations()) {
    const std::string name = op.Name;
    QString label = QString::fromUtf8(op.Name);
    if (op.MaxArgs() > 0) label += "...";
    QAction* a = image->addAction(label, [this, name] { RunOperation(name); });
    a->setToolTip(QString::fromUtf8(op.Summary));
    a->setStatusTip(QString::fromUtf8(op.Summary));
  }

  QMenu* view = menuBar()->addMenu("&View");
  view->addAction("Zoom &in", QKeySequence::ZoomIn, [this] { FView->SetZoom(VXZoomStepIn(FView->Zoom())); });
  view->addAction("Zoom &out", QKeySequence::ZoomOut, [this] { FView->SetZoom(VXZoomStepOut(FView->Zoom())); });
  view->addAction("&Actual size", QKeySequence(Qt::CTRL | Qt::Key_0), [this] { FView->SetZoom(100); });
  view->addAction("&Fit", QKeySequence(Qt::CTRL | Qt::Key_F), [this] { FView->Fit(); });
  view->addAction("Zoom to &selection", [this] {
    FView->ZoomSelection();
    ShowSelection();
  });
  QAction* center = view->addAction("&Centre image");
  center->setCheckable(true);
  connect(center, &QAction::toggled, this, [this](bool on) { FView->SetCenter(on); });
  QAction* autoFit = view->addAction("Auto fi&t");
  autoFit->setCheckable(true);
  connect(autoFit, &QAction::toggled, this, [this](bool on) {
    FView->AutoFit = on;
    FView->Update();
  });

  QMenu* filters = view->addMenu("Zoom fi&lter");
  auto* filterGroup = new QActionGroup(this);
  static const char* const kFilters[] = {"None", "Triangle", "Hermite", "Bell", "B-spline", "Lanczos 3", "Mitchell"};
  for (int i = 0; i < 7; ++i) {
    QAction* a = filters->addAction(kFilters[i], [this, i] { FView->SetZoomFilter(static_cast<TResampleFilter>(i)); });
    a->setCheckable(true);
    a->setChecked(i == 0);
    filterGroup->addAction(a);
  }
  QAction* delay = filters->addAction("Delay while moving");
  delay->setCheckable(true);
  connect(delay, &QAction::toggled, this, [this](bool on) { FView->DelayZoomFilter = on; });

  QMenu* backgrounds = view->addMenu("&Background");
  auto* bgGroup = new QActionGroup(this);
  static const char* const kStyles[] = {"Solid",         "Horizontal", "Vertical",   "Forward diagonal", "Backward diagonal",
                                        "Cross",         "Diagonal cross", "Chessboard", "Diagonals"};
  for (int i = 0; i < 9; ++i) {
    QAction* a =
        backgrounds->addAction(kStyles[i], [this, i] { FView->SetBackgroundStyle(static_cast<TVXBackgroundStyle>(i)); });
    a->setCheckable(true);
    a->setChecked(i == vxbsChessboard);
    bgGroup->addAction(a);
  }

  BuildVectorMenu();

  QMenu* mouse = menuBar()->addMenu("&Mouse");
  auto* modeGroup = new QActionGroup(this);
  struct Mode {
    const char* label;
    TVXMouseInteract set;
  };
  const Mode modes[] = {
      {"&Zoom and select", VXMI(miZoom) | VXMI(miSelect)},
      {"Zoom and &scroll", VXMI(miZoom) | VXMI(miScroll)},
      {"&Rectangle", VXMI(miSelect)},
      {"&Polygon (double click closes)", VXMI(miSelectPolygon)},
      {"&Ellipse", VXMI(miSelectCircle)},
      {"Zoom to rec&tangle", VXMI(miSelectZoom)},
      {"&Magic wand", VXMI(miSelectMagicWand)},
      {"&None", 0},
  };
  for (const Mode& m : modes) {
    const TVXMouseInteract set = m.set;
    QAction* a = mouse->addAction(m.label, [this, set] {
      // Clear first so that the whole wanted set counts as newly switched on.
      FView->SetMouseInteract(0);
      FView->SetMouseInteract(set);
    });
    a->setCheckable(true);
    a->setChecked(&m == &modes[0]);
    modeGroup->addAction(a);
  }
}

void StudioWindow::ShowGrid(bool browsing) {
  FGrid->SetPlaying(false);
  FGrid->Clear();
  FBrowsing = browsing;
  FGrid->SetStoreType(browsing ? vxtThumb : vxtNormal);
  FGridDock->setWindowTitle(browsing ? "Folder" : "Frames");
  FGridDock->show();
}

void StudioWindow::ShowSelectedFrame() {
  const int sel = FGrid->SelectedImage();
  if (sel < 0) return;
  if (FBrowsing) {
    FIO.LoadFromFile(FGrid->GetImageFileName(sel));
    Refresh();
    return;
  }
  if (const TBitmap* b = FGrid->GetFBitmap()) {
    FView->Assign(b);
    Refresh();
  }
}

void StudioWindow::BrowseFolder(const std::string& dir) {
  ShowGrid(true);
  const QStringList names = QDir(QString::fromStdString(dir))
                                .entryList({"*.bmp", "*.pcx", "*.tga", "*.gif", "*.tif", "*.tiff", "*.jpg", "*.jpeg",
                                            "*.png"},
                                           QDir::Files, QDir::Name | QDir::IgnoreCase);
  FGrid->RemoveCorrupted = true;
  FGrid->LockPaint();
  for (const QString& n : names)
    FGrid->SetImageFileName(FGrid->AppendImage(), QDir(QString::fromStdString(dir)).filePath(n).toStdString());
  FGrid->Deselect();
  FGrid->UnLockPaint();
}

void StudioWindow::BuildFramesMenu() {
  QMenu* frames = menuBar()->addMenu("F&rames");
  QAction* play = frames->addAction("&Play", [this] { FGrid->SetPlaying(!FGrid->Playing()); });
  play->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
  frames->addAction("Frame &delay...", [this] {
    const int sel = FGrid->SelectedImage();
    if (sel < 0) return;
    bool ok = false;
    const int ms = QInputDialog::getInt(this, "Frame delay", "Milliseconds:", FGrid->GetImageDelayTime(sel), 0,
                                        600000, 10, &ok);
    if (ok) FGrid->SetImageDelayTime(sel, ms);
  });
  frames->addAction("&Insert the view as a frame", [this] {
    if (FBrowsing) ShowGrid(false);
    FGridDock->show();
    const int at = FGrid->SelectedImage() + 1;
    FGrid->InsertImage(at);
    FGrid->SetImage(at, FView->Bitmap());
    FGrid->SetImageDelayTime(at, 100);
  });
  frames->addAction("De&lete frame", [this] {
    if (FGrid->SelectedImage() >= 0) FGrid->DeleteImage(FGrid->SelectedImage());
  });
  frames->addAction("&Save all frames as...", [this] {
    if (FGrid->GetImageCount() == 0) return;
    const QString name = QFileDialog::getSaveFileName(this, "Save all frames", QString(),
                                                      "Frames (*.gif *.tif *.avi)", nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (name.isEmpty()) return;
    try {
      FMIO.SaveToFile(name.toStdString());
      if (FMIO.Aborting)
        QMessageBox::warning(this, "Save", QString("Not saved: %1").arg(QString::fromStdString(FMIO.LastError)));
    } catch (const std::exception& e) {
      QMessageBox::warning(this, "Save", e.what());
    }
  });
  frames->addSeparator();
  frames->addAction("&Browse folder...", [this] {
    const QString dir = QFileDialog::getExistingDirectory(this, "Browse folder", QString(),
                                                          QFileDialog::DontUseNativeDialog);
    if (!dir.isEmpty()) BrowseFolder(dir.toStdString());
  });
}
