// The Edit menu (undo, clipboard, selection) and the View menu (zoom, background,
// mouse modes).
#include <QActionGroup>
#include <QMenuBar>

#include "studio_window_ui.h"

using namespace vexa;

void StudioWindow::BuildEditMenu() {
  QMenu* edit = menuBar()->addMenu("&Edit");
  // Edits made here run on the view's image directly: they are quick.
  auto edited = [this](const std::function<void()>& change) {
    const bool before = FDoc.Modified;
    change();
    if (FProc.CanUndo()) FModifiedBeforeUndo = before;
    FDoc.Modified = true;
    Refresh();
  };
  FUndoAction = edit->addAction("&Undo", QKeySequence::Undo, [this] {
    if (!FProc.CanUndo()) return;
    FProc.Undo();
    // One level: what is undone cannot be undone again.
    FProc.ClearUndo();
    FDoc.Modified = FModifiedBeforeUndo;
    Refresh();
  });
  edit->addSeparator();
  edit->addAction("&Copy", QKeySequence::Copy, [this] { FProc.SelCopyToClip(); });
  edit->addAction("Cu&t", QKeySequence::Cut, [this, edited] { edited([this] { FProc.SelCutToClip(); }); });
  edit->addAction("&Paste", QKeySequence::Paste, [this, edited] {
    edited([this] {
      FProc.SaveUndo();
      FProc.PasteFromClipboard();
    });
  });
  edit->addSeparator();
  edit->addAction("Select &all", QKeySequence::SelectAll, [this] {
    const TBitmap& b = FView->Bitmap();
    FView->Select(0, 0, b.Width() - 1, b.Height() - 1);
    ShowSelection();
  });
  edit->addAction("&Deselect (Esc)", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A), [this] {
    FView->DeSelect();
    ShowSelection();
  });
  edit->addAction("C&rop to selection", [this, edited] {
    if (FView->SelectionExists()) edited([this] { FProc.CropSel(); });
  });
  edit->addAction("C&lear selection", [this, edited] {
    if (FView->SelectionExists()) edited([this] { FProc.ClearSel(); });
  });
}

void StudioWindow::BuildViewMenu() {
  QMenu* view = FViewMenu = menuBar()->addMenu("&View");
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
  static const char* const kStyles[] = {"Solid", "Horizontal",     "Vertical",   "Forward diagonal", "Backward diagonal",
                                        "Cross", "Diagonal cross", "Chessboard", "Diagonals"};
  for (int i = 0; i < 9; ++i) {
    QAction* a =
        backgrounds->addAction(kStyles[i], [this, i] { FView->SetBackgroundStyle(static_cast<TVXBackgroundStyle>(i)); });
    a->setCheckable(true);
    a->setChecked(i == vxbsChessboard);
    bgGroup->addAction(a);
  }

  QMenu* mouse = view->addMenu("&Mouse");
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
