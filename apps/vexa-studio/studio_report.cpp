// The state report for end-to-end tests: "key=value" lines rewritten (through a
// rename, so a reader never sees half a file) whenever the state changes. A test
// drives the studio with real key and mouse events and reads the outcome here.
// Every named widget of the dialog in front is listed too ("ui.<names>=geometry|text",
// the names of its named parents first), so a test can find what to click and read
// what a dialog shows.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

#include "studio_window_ui.h"

using namespace vexa;

namespace {
QString Geometry(const QWidget* w) {
  if (!w || !w->isVisible()) return "none";
  const QPoint p = w->mapToGlobal(QPoint(0, 0));
  return QString("%1,%2,%3,%4").arg(p.x()).arg(p.y()).arg(w->width()).arg(w->height());
}
QString TextOf(const QWidget* w) {
  if (const auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (const auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  if (const auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText();
  return {};
}

// "pages/contrast/edit": the widget's name after its named parents inside the dialog.
QString PathOf(const QWidget* w, const QWidget* dialog) {
  QStringList names;
  for (const QWidget* p = w; p && p != dialog; p = p->parentWidget())
    if (!p->objectName().isEmpty() && !p->objectName().startsWith("qt_")) names.prepend(p->objectName());
  return names.join('/');
}

void ListWidgets(const QWidget* dialog, QStringList& lines) {
  for (const QWidget* w : dialog->findChildren<QWidget*>()) {
    if (!w->isVisible() || w->objectName().isEmpty() || w->objectName().startsWith("qt_")) continue;
    lines << "ui." + PathOf(w, dialog) + "=" + Geometry(w) + "|" + TextOf(w).replace('\n', ' ');
  }
}
}  // namespace

std::string StudioWindow::StateReport() const {
  const TBitmap& b = FView->Bitmap();
  QStringList lines;
  lines << "title=" + windowTitle();
  lines << "file=" + QString::fromStdString(FDoc.FileName);
  lines << QString("empty=%1").arg(FDoc.Empty);
  lines << QString("width=%1").arg(b.Width()) << QString("height=%1").arg(b.Height());
  lines << QString("depth=%1").arg(b.PixelFormat() == pf1bit ? 1 : 24);
  lines << QString("hash=%1").arg(FImageHash, 16, 16, QChar('0'));
  lines << QString("zoom=%1").arg(FView->Zoom());
  lines << QString("viewx=%1").arg(FView->ViewX()) << QString("viewy=%1").arg(FView->ViewY());
  lines << QString("page=%1").arg(FDoc.Page + 1) << QString("pages=%1").arg(FDoc.Pages);
  lines << QString("modified=%1").arg(FDoc.Modified);
  lines << QString("canundo=%1").arg(FUndoAction && FUndoAction->isEnabled());
  lines << QString("busy=%1").arg(FWork->Busy());
  lines << QString("progress=%1").arg(FWork->Percent());
  lines << (FView->SelectionExists()
                ? QString("selection=%1,%2,%3,%4").arg(FView->SelX1()).arg(FView->SelY1()).arg(FView->SelX2()).arg(FView->SelY2())
                : QString("selection=none"));
  lines << "view=" + Geometry(FView);
  lines << "cancel=" + Geometry(FWork->isVisible() ? FWork->CancelButton() : nullptr);
  // The dialog in front, if any: its title, and a message box's text on one line.
  QString modal;
  const QWidget* m = QApplication::activeModalWidget();
  if (m) {
    modal = m->windowTitle();
    if (const auto* box = qobject_cast<const QMessageBox*>(m)) modal += "|" + box->text();
  }
  lines << "modal=" + modal.replace('\n', ' ');
  if (m) {
    lines << "dialog=" + Geometry(m);
    ListWidgets(m, lines);
  }
  return (lines.join('\n') + '\n').toStdString();
}

void StudioWindow::ReportStateTo(const std::string& file) {
  FReportFile = file;
  auto* timer = new QTimer(this);
  timer->setInterval(100);
  connect(timer, &QTimer::timeout, this, [this] {
    if (FReportFile.empty()) return;
    const std::string report = StateReport();
    if (report == FLastReport) return;
    const std::string tmp = FReportFile + ".tmp";
    if (std::FILE* f = std::fopen(tmp.c_str(), "wb")) {
      const bool ok = std::fwrite(report.data(), 1, report.size(), f) == report.size();
      if (std::fclose(f) == 0 && ok && std::rename(tmp.c_str(), FReportFile.c_str()) == 0) FLastReport = report;
    }
  });
  timer->start();
}
