// The Image menu: one submenu per catalogue group, one entry per operation, built
// from the catalogue so that it grows with it. Operations run on a worker thread
// on a copy of the image and selection; the result replaces the image (with an
// undo snapshot) only when the operation changed it and was not cancelled.
// "Adjust with preview..." is the library's processing preview dialog on the image
// or the selection; it works on the view's image itself, like the Edit menu.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <set>

#include "studio_paramform_ui.h"
#include "studio_window_ui.h"
#include "vexa/controls/histogrambox_ui.h"

using namespace vexa;

namespace {

// "&Frequency domain": a mnemonic on the first letter no sibling has taken.
QString WithMnemonic(const QString& title, std::set<QChar>& taken) {
  for (int i = 0; i < title.size(); ++i) {
    const QChar c = title[i].toLower();
    if (c.isLetter() && taken.insert(c).second) return title.left(i) + "&" + title.mid(i);
  }
  return title;
}

}  // namespace

void StudioWindow::BuildImageMenu() {
  FImageMenu = menuBar()->addMenu("&Image");
  FImageMenu->setObjectName("studio-image-menu");
  std::set<QChar> groupKeys;
  for (int g = 0; g < kVXOpGroupCount; ++g) {
    const auto group = static_cast<TVXOpGroup>(g);
    QMenu* sub = FImageMenu->addMenu(WithMnemonic(VXOpGroupName(group), groupKeys));
    sub->setObjectName(QString("group-%1").arg(g));
    std::set<QChar> keys;
    for (const TVXOperation& op : VXOperations()) {
      if (op.Group != group) continue;
      QString label = WithMnemonic(QString::fromUtf8(op.Title), keys);
      // The histogram is drawn rather than listed.
      const bool histogram = std::string(op.Name) == "histogram";
      if (!op.Params.empty() || histogram) label += "...";
      QAction* a = sub->addAction(label, [this, &op, histogram] {
        if (histogram)
          ShowHistogram();
        else
          AskAndRun(op);
      });
      a->setData(QString::fromUtf8(op.Name));
      a->setStatusTip(QString::fromUtf8(op.Summary));
    }
  }
  FImageMenu->addSeparator();
  FImageMenu->addAction("Adjust with &preview...", [this] { AdjustWithPreview(); })
      ->setStatusTip("Contrast, colours, filters, effects, rotation and more, tried on a preview first");
  FImageMenu->addAction("Find &operation...", QKeySequence(Qt::CTRL | Qt::Key_K), [this] { FindOperation(); });
}

void StudioWindow::AdjustWithPreview() {
  if (FWork->Busy()) return;
  const TBitmap& b = FView->Bitmap();
  if (b.PixelFormat() != pf24bit || b.Width() < 2 || b.Height() < 2) {
    QMessageBox::information(this, "Adjust with preview",
                             "The preview works on full-colour images of at least 2 x 2 pixels; "
                             "Image > Colour depth converts this one first.");
    return;
  }
  const bool before = FDoc.Modified;
  // OK takes the undo snapshot (AutoUndo) and writes the result back through the selection.
  if (!FProc.DoPreviews(VXPE(peAll))) return;
  FModifiedBeforeUndo = before;
  FDoc.Modified = true;
  Refresh();
}

void StudioWindow::FindOperation() {
  QStringList items;
  for (const TVXOperation& op : VXOperations())
    items << QString("%1: %2").arg(VXOpGroupName(op.Group), QString::fromUtf8(op.Title));
  bool ok = false;
  const QString chosen =
      QInputDialog::getItem(this, "Find operation", "Operation (type a few letters):", items, 0, true, &ok);
  if (!ok) return;
  const QString wanted = chosen.trimmed();
  for (const TVXOperation& op : VXOperations()) {
    const QString title = QString::fromUtf8(op.Title);
    if (wanted.compare(title, Qt::CaseInsensitive) == 0 || wanted.compare(QString::fromUtf8(op.Name)) == 0 ||
        wanted == QString("%1: %2").arg(VXOpGroupName(op.Group), title)) {
      if (std::string(op.Name) == "histogram")
        ShowHistogram();
      else
        AskAndRun(op);
      return;
    }
  }
  QMessageBox::information(this, "Find operation", QString("No operation is called \"%1\".").arg(wanted));
}

void StudioWindow::AskAndRun(const TVXOperation& op) {
  if (FWork->Busy()) return;
  std::vector<std::string> args;
  if (!op.Params.empty()) {
    const TBitmap& b = FView->Bitmap();
    TRect sel{0, 0, b.Width() - 1, b.Height() - 1};
    if (FView->SelectionExists()) sel = {FView->SelX1(), FView->SelY1(), FView->SelX2(), FView->SelY2()};
    StudioParamForm form(this, op, sel);
    if (form.exec() != QDialog::Accepted) return;
    args = form.Words();
  }
  RunOperation(op, args);
}

bool StudioWindow::RunOperation(const TVXOperation& op, const std::vector<std::string>& args) {
  if (FWork->Busy()) return false;
  struct Result {
    std::unique_ptr<StudioSnapshot> Image;
    std::string Error, Report;
  };
  auto r = std::make_shared<Result>();
  r->Image = Snapshot();
  const QString title = QString::fromUtf8(op.Title);
  FWork->Start(
      title,
      [&op, args, r](StudioProgress& p) {
        TVexaProc proc;
        proc.AutoUndo = false;
        proc.SetAttachedVexa(r->Image.get());
        proc.OnProgress = [&p](TObject*, int per) { p.Report(per); };
        try {
          r->Error = op.Execute(proc, args, r->Report);
        } catch (const std::exception& e) {
          r->Error = e.what();
        }
        proc.SetAttachedVexa(nullptr);
      },
      [this, r, title] {
        if (!r->Error.empty()) {
          QMessageBox::warning(this, title, QString::fromStdString(r->Error));
          return;
        }
        if (r->Image->Updated) {
          FProc.SaveUndo();
          FModifiedBeforeUndo = FDoc.Modified;
          FView->Bitmap() = std::move(r->Image->Bitmap);
          FDoc.Modified = true;
          Refresh();
        }
        if (!r->Report.empty()) QMessageBox::information(this, title, QString::fromStdString(r->Report));
      },
      [this, title] { statusBar()->showMessage(QString("%1 cancelled; the image is unchanged").arg(title), 5000); });
  return true;
}

void StudioWindow::ShowHistogram() {
  QDialog dialog(this);
  dialog.setWindowTitle("Histogram");
  auto* box = new QVBoxLayout(&dialog);
  auto* plot = new THistogramBox(&dialog);
  plot->SetHistogramKind(HistogramBit(hkRed) | HistogramBit(hkGreen) | HistogramBit(hkBlue) | HistogramBit(hkGray));
  plot->SetAttachedVexaProc(&FProc);
  plot->setMinimumSize(520, 300);
  box->addWidget(new QLabel(FView->SelectionExists() ? "Levels of the selection" : "Levels of the whole image", &dialog));
  box->addWidget(plot, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  box->addWidget(buttons);
  plot->Update();
  dialog.exec();
}
