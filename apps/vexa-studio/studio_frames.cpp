// The Frames menu and the frame grid: videos open there, frames of the view can
// be collected and saved as an animation or a multi-page file, and a folder can be
// browsed as thumbnails.
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>

#include "studio_window_ui.h"

using namespace vexa;

void StudioWindow::ShowGrid(bool browsing) {
  FGrid->SetPlaying(false);
  FGrid->Clear();
  FBrowsing = browsing;
  FGrid->SetStoreType(browsing ? vxtThumb : vxtNormal);
  FGridDock->setWindowTitle(browsing ? "Folder" : "Frames");
  FGridDock->show();
}

bool StudioWindow::OpenVideo(const std::string& name) {
  ShowGrid(false);
  try {
    FMIO.LoadFromFile(name);
  } catch (const std::exception& e) {
    QMessageBox::warning(this, "Open", QString("%1: %2").arg(QString::fromStdString(name), e.what()));
    return false;
  }
  if (FGrid->GetImageCount() == 0) {
    QMessageBox::warning(this, "Open", QString("%1: %2").arg(QString::fromStdString(name),
                                                             QString::fromStdString(FMIO.LastError.empty()
                                                                                        ? "no frame could be read"
                                                                                        : FMIO.LastError)));
    return false;
  }
  FGrid->SetSelectedItem(0);
  ShowSelectedFrame();
  return true;
}

void StudioWindow::ShowSelectedFrame() {
  const int sel = FGrid->SelectedImage();
  if (sel < 0 || FWork->Busy()) return;
  if (FBrowsing) {
    Open(FGrid->GetImageFileName(sel));
    return;
  }
  if (!MayDiscard()) return;
  if (const TBitmap* b = FGrid->GetFBitmap()) {
    FDoc = StudioDocument{};
    TBitmap frame = *b;
    ShowNewImage(std::move(frame));
  }
}

void StudioWindow::BrowseFolder(const std::string& dir) {
  ShowGrid(true);
  const QStringList names = QDir(QString::fromStdString(dir))
                                .entryList({"*.bmp", "*.pcx", "*.tga", "*.gif", "*.tif", "*.tiff", "*.jpg", "*.jpeg",
                                            "*.png", "*.ico"},
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
    const QString name = QFileDialog::getSaveFileName(this, "Save all frames", QString(), "Frames (*.gif *.tif *.avi)",
                                                      nullptr, QFileDialog::DontUseNativeDialog);
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
  frames->addAction("&Open video...", [this] {
    const QString name = QFileDialog::getOpenFileName(this, "Open video", QString(), "Videos (*.avi);;All files (*)",
                                                      nullptr, QFileDialog::DontUseNativeDialog);
    if (!name.isEmpty()) OpenVideo(name.toStdString());
  });
  frames->addAction("&Browse folder...", [this] {
    const QString dir =
        QFileDialog::getExistingDirectory(this, "Browse folder", QString(), QFileDialog::DontUseNativeDialog);
    if (!dir.isEmpty()) BrowseFolder(dir.toStdString());
  });
}
