// The File menu: opening by content, pages of multi-page files, recent files and
// the neighbours in the folder, saving with per-format options. No file error ends
// the studio or changes the window: reads go into a bitmap of their own and replace
// the view's only when they succeed.
//
// Open and Save as use the library's file dialogs with the preview panel. The
// save dialog's "Advanced..." shows the save-parameters dialog of the typed
// format; what is confirmed there is what the save uses, otherwise the studio's
// own save options follow the dialog as for Save.
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <algorithm>

#include "studio_saveoptions_ui.h"
#include "studio_window_ui.h"
#include "vexa/acquire/twainclient.h"
#include "vexa/core/errors.h"
#include "vexa/dialogs/filedialogs.h"
#include "vexa/dialogs/filedialogs_ui.h"
#include "vexa/io/detect.h"
#include "vexa/io/formattable.h"

using namespace vexa;

namespace {

constexpr int kRecentCount = 8;

/// A read done away from the window.
struct LoadResult {
  TBitmap Bitmap;
  TIOParamsVals Params;
  int Pages = 1;
  std::string PageNoun = "pages";
  int64_t FileSize = 0;
  /// Why nothing usable was read; empty on success.
  std::string Error;
  /// A partial image (the data ended early): shown, with this warning.
  std::string Warning;
};

// Entries of an icon or cursor directory: the count in its six-byte header, when
// the file is long enough to hold that many sixteen-byte entries.
int IconEntries(const std::string& name) {
  try {
    TFileStream f(name, fmOpenRead);
    uint8_t h[6];
    if (f.Read(h, 6) != 6) return 1;
    const int count = h[4] | (h[5] << 8);
    if (h[0] || h[1] || count < 1 || f.Size() < 6 + 16 * int64_t(count)) return 1;
    return count;
  } catch (const EStreamError&) {
    return 1;
  }
}

// Reads page `page` of a file. The format comes from the content when the
// extension names another one (or none); metafiles, which have no signature, go by
// their extension.
void Load(const std::string& name, int page, LoadResult& r, StudioProgress* progress) {
  TVexaIO io;
  io.SetAttachedBitmap(&r.Bitmap);
  io.OnProgress = [&io, progress](TObject*, int per) {
    if (!progress) return;
    progress->Report(per);
    if (progress->Cancelled()) io.Aborting = true;
  };
  try {
    if (!QFileInfo(QString::fromStdString(name)).isFile()) throw EFOpenError("no such file");
    r.FileSize = _getfilesize(name.c_str());
    const std::string ext = VXExtractFileExt(name);
    const TVXBuiltinFormat* byExt = VXBuiltinFormatForRead(ext);
    const TVXFileFormatInfo* registered = byExt ? nullptr : VXFileFormatGetInfo2(ext);
    const int byContent = FindFileFormat(name, false);
    int type = byExt ? byExt->FileType : registered ? registered->FileType : ioUnknown;
    if (byContent != ioUnknown && !(byExt && byExt->Imported)) type = byContent;
    if (type == ioUnknown) {
      r.Error = "unknown format: neither the extension nor the content names a format this studio reads";
      return;
    }
    io.Params.TIFF_ImageIndex = io.Params.GIF_ImageIndex = page;
    io.Params.ICO_ImageIndex = io.Params.CUR_ImageIndex = page;
    switch (type) {
      case ioJPEG: io.LoadFromFileJpeg(name); break;
      case ioPNG: io.LoadFromFilePNG(name); break;
      case ioTIFF: r.Pages = std::max(1, EnumTIFFIm(name)); io.LoadFromFileTIFF(name); break;
      case ioGIF: r.Pages = std::max(1, EnumGifIm(name)), r.PageNoun = "frames"; io.LoadFromFileGif(name); break;
      case ioPCX: io.LoadFromFilePCX(name); break;
      case ioBMP: io.LoadFromFileBMP(name); break;
      case ioICO: r.Pages = IconEntries(name), r.PageNoun = "icons"; io.LoadFromFileICO(name); break;
      case ioCUR: r.Pages = IconEntries(name), r.PageNoun = "cursors"; io.LoadFromFileCUR(name); break;
      case ioTGA: io.LoadFromFileTGA(name); break;
      default:
        if (byExt || type == (registered ? registered->FileType : ioUnknown)) {
          io.LoadFromFile(name);
        } else {
          TFileStream f(name, fmOpenRead);
          io.LoadFromStream(f);
        }
    }
  } catch (const std::exception& e) {
    r.Error = e.what();
    return;
  }
  if (progress && progress->Cancelled()) {
    r.Error = "cancelled";
    return;
  }
  if (io.Aborting) {
    const TVXFailure f = io.LastFailure();
    if (f.Kind == fkTruncated && !r.Bitmap.Empty()) {
      r.Warning = f.Describe() + "; the rows read so far are shown";
    } else {
      r.Error = f.Failed() ? f.Describe() : "the file could not be read";
      return;
    }
  }
  if (r.Bitmap.Empty()) {
    r.Error = "the file holds no image";
    return;
  }
  r.Params.Assign(io.Params);
  r.Params.FileName = name;
}

// Extensions the studio offers to open, for the file dialog and the folder walk.
QStringList ReadableExtensions() {
  QStringList exts;
  for (int i = 0; i < VXBuiltinFormatCount(); ++i)
    for (const QString& e : QString(VXBuiltinFormatAt(i).ReadExtensions).split(';', Qt::SkipEmptyParts)) exts << e;
  for (int i = 0; i < VXFileFormatCount(); ++i)
    if (VXFileFormatAt(i)->ReadFunction)
      for (const QString& e : QString::fromStdString(VXFileFormatAt(i)->Extensions).toLower().split(';', Qt::SkipEmptyParts))
        if (!exts.contains(e)) exts << e;
  return exts;
}

// The registry's filter, and any file: the studio reads by content.
std::string OpenFilter() { return BuildStrFilter() + "|All files|*"; }

}  // namespace

// ---------------------------------------------------------------- opening

bool StudioWindow::OpenFile(const std::string& name, std::string& error, int page) {
  LoadResult r;
  Load(name, page, r, nullptr);
  if (!r.Error.empty()) {
    error = r.Error;
    return false;
  }
  FIO.Params.Assign(r.Params);
  FDoc = StudioDocument{name, page, r.Pages, r.PageNoun, r.FileSize, false};
  FView->RemoveAllObjects();
  ShowNewImage(std::move(r.Bitmap));
  if (page == 0) AddRecent(name);
  error = r.Warning;
  return true;
}

void StudioWindow::Open(const std::string& name) {
  if (FWork->Busy() || !MayDiscard()) return;
  LoadAsync(name, 0);
}

void StudioWindow::ShowPage(int page) {
  if (FWork->Busy() || FDoc.FileName.empty() || page < 0 || page >= FDoc.Pages || page == FDoc.Page) return;
  if (!MayDiscard()) return;
  LoadAsync(FDoc.FileName, page);
}

void StudioWindow::LoadAsync(const std::string& name, int page) {
  if (VXExtractFileExt(name) == "avi") {
    OpenVideo(name);
    return;
  }
  auto r = std::make_shared<LoadResult>();
  const QString shown = QFileInfo(QString::fromStdString(name)).fileName();
  FWork->Start(
      QString("Opening %1").arg(shown), [name, page, r](StudioProgress& p) { Load(name, page, *r, &p); },
      [this, name, page, r, shown] {
        if (!r->Error.empty()) {
          QMessageBox::warning(this, "Open", QString("%1: %2").arg(QString::fromStdString(name),
                                                                   QString::fromStdString(r->Error)));
          return;
        }
        FIO.Params.Assign(r->Params);
        FDoc = StudioDocument{name, page, r->Pages, r->PageNoun, r->FileSize, false, false};
        FView->RemoveAllObjects();
        // Objects saved beside the picture come back with it.
        const std::string objects = name.substr(0, name.find_last_of('.')) + ".vxv";
        if (page == 0 && objects != name && QFileInfo(QString::fromStdString(objects)).isFile()) {
          try {
            FView->LoadFromFileVXV(objects);
          } catch (const std::exception& e) {
            QMessageBox::warning(this, "Open", QString("Objects beside the picture not loaded: %1").arg(e.what()));
          }
        }
        ShowNewImage(std::move(r->Bitmap));
        AddRecent(name);
        if (!r->Warning.empty())
          QMessageBox::warning(this, "Open", QString("%1: %2").arg(shown, QString::fromStdString(r->Warning)));
      });
}

void StudioWindow::ShowEmpty() {
  FDoc = StudioDocument{};
  FDoc.Empty = true;
  FIO.Params.SetDefaultParams();
  TBitmap blank(1, 1);
  blank.Fill(TColor2TRGB(ColorToRGB(FView->Background())));
  ShowNewImage(std::move(blank));
}

void StudioWindow::OpenArguments(const QStringList& files) {
  FArgumentFiles.clear();
  for (const QString& f : files) FArgumentFiles << QFileInfo(f).absoluteFilePath();
  if (FArgumentFiles.size() < 2) FArgumentFiles.clear();
  if (files.isEmpty()) return;
  std::string error;
  const std::string first = files.front().toStdString();
  if (!OpenFile(first, error)) {
    ShowEmpty();
    QMessageBox::warning(this, "Open", QString("%1: %2").arg(files.front(), QString::fromStdString(error)));
  } else if (!error.empty()) {
    QMessageBox::warning(this, "Open", QString("%1: %2").arg(files.front(), QString::fromStdString(error)));
  }
}

void StudioWindow::StepFile(int step) {
  QStringList list = FArgumentFiles;
  const QString current = FDoc.FileName.empty() ? QString() : QFileInfo(QString::fromStdString(FDoc.FileName)).absoluteFilePath();
  if (list.isEmpty()) {
    if (current.isEmpty()) return;
    const QDir dir = QFileInfo(current).dir();
    QStringList patterns;
    for (const QString& e : ReadableExtensions()) patterns << "*." + e;
    for (const QString& n : dir.entryList(patterns, QDir::Files, QDir::Name | QDir::IgnoreCase)) list << dir.filePath(n);
  }
  int at = list.indexOf(current);
  if (at < 0 && list.isEmpty()) return;
  at = at < 0 ? (step > 0 ? 0 : int(list.size()) - 1) : at + step;
  if (at < 0 || at >= list.size()) {
    statusBar()->showMessage(step > 0 ? "This is the last image" : "This is the first image", 3000);
    return;
  }
  Open(list[at].toStdString());
}

// ---------------------------------------------------------------- recent files

QStringList StudioWindow::RecentFiles() const { return QSettings().value("recent").toStringList(); }

void StudioWindow::AddRecent(const std::string& name) {
  const QString full = QFileInfo(QString::fromStdString(name)).absoluteFilePath();
  QStringList list = RecentFiles();
  list.removeAll(full);
  list.prepend(full);
  while (list.size() > kRecentCount) list.removeLast();
  QSettings().setValue("recent", list);
  UpdateRecentMenu();
}

void StudioWindow::UpdateRecentMenu() {
  if (!FRecentMenu) return;
  FRecentMenu->clear();
  const QStringList list = RecentFiles();
  for (int i = 0; i < list.size(); ++i) {
    const QString f = list[i];
    FRecentMenu->addAction(QString("&%1 %2").arg(i + 1).arg(QFileInfo(f).fileName()), [this, f] { Open(f.toStdString()); })
        ->setStatusTip(f);
  }
  FRecentMenu->setEnabled(!list.isEmpty());
}

// ---------------------------------------------------------------- saving

bool StudioWindow::MayDiscard() {
  if (!FDoc.Modified) return true;
  const QString name =
      FDoc.FileName.empty() ? QString("The image") : QFileInfo(QString::fromStdString(FDoc.FileName)).fileName();
  QMessageBox box(QMessageBox::Warning, "Unsaved changes", QString("%1 has unsaved changes. Save them?").arg(name),
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
  box.button(QMessageBox::Save)->setText("&Save");
  box.button(QMessageBox::Discard)->setText("&Discard");
  box.setDefaultButton(QMessageBox::Save);
  const int answer = box.exec();
  if (answer == QMessageBox::Discard) return true;
  if (answer == QMessageBox::Save) return Save();
  return false;
}

bool StudioWindow::Save() {
  if (FDoc.FileName.empty() || FDoc.Pages > 1 || !VXBuiltinFormatForWrite(VXExtractFileExt(FDoc.FileName)))
    return SaveAs();
  TIOParamsVals params(FIO.Params);
  if (!StudioSaveOptions::Ask(this, FDoc.FileName, FView->Bitmap(), params)) return false;
  return SaveTo(FDoc.FileName, params);
}

bool StudioWindow::SaveAs() {
  QString start = QString::fromStdString(FDoc.FileName);
  if (FDoc.Pages > 1 && !start.isEmpty()) {
    // One page of a document becomes a file of its own.
    const QFileInfo fi(start);
    start = fi.dir().filePath(QString("%1-%2.%3").arg(fi.completeBaseName()).arg(FDoc.Page + 1).arg(fi.suffix()));
  }
  TSaveVexaDialog dialog;
  dialog.Title = "Save image as";
  dialog.AutoSetFilter = false;
  dialog.Filter = StudioSaveOptions::SaveFilter();
  dialog.Options |= 1u << ofOverwritePrompt;
  dialog.FileName = start.toStdString();
  dialog.DefaultExt = VXFileExt(dialog.FileName);
  if (!dialog.DefaultExt.empty()) dialog.FilterIndex = VXFilterIndexOfExt(dialog.Filter, dialog.DefaultExt);
  // "Advanced..." on a name without extension shows the chosen type's page.
  dialog.OnTypeChange = [&dialog](TObject*) {
    if (QFileDialog* d = dialog.Dialog()) {
      const int index = static_cast<int>(VXQtNameFilters(dialog.Filter).indexOf(d->selectedNameFilter())) + 1;
      dialog.DefaultExt = VXFilterFirstExt(dialog.Filter, index);
    }
  };
  dialog.SetAttachedVexaIO(&FIO);
  // The parameters dialog starts from what a new file of this image gets: its own
  // depth, the studio's quality, the first page.
  const TIOParamsVals kept(FIO.Params);
  const bool mono = FView->Bitmap().PixelFormat() == pf1bit;
  FIO.Params.BitsPerSample = mono ? 1 : 8;
  FIO.Params.SamplesPerPixel = mono ? 1 : 3;
  FIO.Params.JPEG_Quality = StudioSaveOptions::JpegQuality();
  FIO.Params.TIFF_ImageIndex = FIO.Params.GIF_ImageIndex = 0;
  const bool chosen = dialog.Execute();
  TIOParamsVals params(FIO.Params);
  FIO.Params.Assign(kept);
  if (!chosen) return false;
  const std::string target = dialog.FileName;
  const TPreviewParamsItems page = VXSavePageOfExt(VXFileExt(target));
  if (page != ppALL && (dialog.AdvancedAccepted() & (1u << page))) {
    if (page == ppJPEG) StudioSaveOptions::JpegQuality() = params.JPEG_Quality;
  } else if (!StudioSaveOptions::Ask(this, target, FView->Bitmap(), params)) {
    return false;
  }
  return SaveTo(target, params);
}

bool StudioWindow::SaveTo(const std::string& name, const TIOParamsVals& params) {
  struct Result {
    TBitmap Bitmap;
    TIOParamsVals Params;
    std::string Error;
  };
  auto r = std::make_shared<Result>();
  r->Bitmap = FView->Bitmap();
  r->Params.Assign(params);
  bool saved = false;
  bool finished = false;
  FWork->Start(
      QString("Saving %1").arg(QFileInfo(QString::fromStdString(name)).fileName()),
      [name, r](StudioProgress& p) {
        TVexaIO io;
        io.SetAttachedBitmap(&r->Bitmap);
        io.Params.Assign(r->Params);
        io.OnProgress = [&io, &p](TObject*, int per) {
          p.Report(per);
          if (p.Cancelled()) io.Aborting = true;
        };
        try {
          io.SaveToFile(name);
          if (io.Aborting) r->Error = io.LastFailure().Describe();
        } catch (const std::exception& e) {
          r->Error = e.what();
        }
      },
      [this, name, r, &saved, &finished] {
        finished = true;
        if (!r->Error.empty()) {
          QMessageBox::critical(this, "Save", QString("The image was not saved.\n%1: %2")
                                                  .arg(QString::fromStdString(name), QString::fromStdString(r->Error)));
          return;
        }
        saved = true;
        FIO.Params.Assign(r->Params);
        FDoc.FileName = name;
        FDoc.Page = 0, FDoc.Pages = 1, FDoc.Empty = false;
        FDoc.FileSize = _getfilesize(name.c_str());
        FDoc.Modified = false;
        AddRecent(name);
        Refresh();
      },
      [&finished] { finished = true; });
  // Callers (close, open) need the answer: wait here with the window responsive.
  while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  return saved;
}

// ---------------------------------------------------------------- the menu

void StudioWindow::BuildFileMenu() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addAction("&Open...", QKeySequence::Open, [this] {
    if (FWork->Busy() || !MayDiscard()) return;
    TOpenVexaDialog dialog;
    dialog.Title = "Open image";
    dialog.Filter = OpenFilter();
    if (!FDoc.FileName.empty())
      dialog.InitialDir = QFileInfo(QString::fromStdString(FDoc.FileName)).absolutePath().toStdString();
    if (dialog.Execute() && !dialog.FileName.empty()) LoadAsync(dialog.FileName, 0);
  });
  FRecentMenu = file->addMenu("Open &recent");
  UpdateRecentMenu();
  file->addAction("&Next image in folder", QKeySequence(Qt::ALT | Qt::Key_Right), [this] { StepFile(+1); });
  file->addAction("Pre&vious image in folder", QKeySequence(Qt::ALT | Qt::Key_Left), [this] { StepFile(-1); });
  file->addSeparator();
  FNextPage = file->addAction("Next pa&ge", QKeySequence(Qt::CTRL | Qt::Key_PageDown), [this] { ShowPage(FDoc.Page + 1); });
  FPrevPage = file->addAction("Previous pag&e", QKeySequence(Qt::CTRL | Qt::Key_PageUp), [this] { ShowPage(FDoc.Page - 1); });
  file->addSeparator();
  FSaveAction = file->addAction("&Save", QKeySequence::Save, [this] { Save(); });
  file->addAction("Save &as...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), [this] { SaveAs(); });
  file->addAction("&Close", QKeySequence::Close, [this] {
    if (!FWork->Busy() && MayDiscard()) ShowEmpty();
  });
  file->addSeparator();
  file->addAction("Selec&t source...", [this] { FIO.SelectAcquireSource(); });
  file->addAction("Acq&uire...", [this] {
    if (!MayDiscard()) return;
    if (!FIO.Acquire()) {
      const vexa::TVXTWFailure& f = vexa::VXTW_LastFailure();
      if (f.Occurred())
        QMessageBox::warning(this, "Acquire", QString::fromStdString("Nothing was scanned: " + f.Message));
      return;
    }
    FDoc = StudioDocument{};
    FDoc.Modified = true;
    TBitmap scanned = FView->Bitmap();
    ShowNewImage(std::move(scanned));
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
}
