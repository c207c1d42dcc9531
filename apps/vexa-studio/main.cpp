// vexa-studio: a small image editor over the whole library.
//
//   vexa-studio [FILE...] [--screenshot OUT.png [--open-menu TITLE]] [--test-report FILE]
//
// Without FILE it shows the built-in sample image; with several files it opens the
// first and steps through the others with Next/Previous image. --screenshot renders
// the window (with the named menu open) to a PNG once it is laid out and exits
// (status 0 when written). --test-report keeps FILE up to date with the window's
// state for end-to-end tests.
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QTimer>
#include <cstdio>
#include <string>

#include "studio_window_ui.h"
#include "vexa/acquire/twainhost_ui.h"
#include "vexa/codecs/lzw.h"
#include "vexa/core/parallel.h"

namespace {
// The window with a menu of the menu bar open over it, as one picture.
QImage ShotWithMenu(StudioWindow& window, const QString& title) {
  QMenu* menu = nullptr;
  QAction* top = nullptr;
  for (QAction* a : window.menuBar()->actions())
    if (a->menu() && QString(a->text()).remove('&') == title) menu = a->menu(), top = a;
  QImage shot = window.grab().toImage();
  if (!menu) return shot;
  const QRect at = window.menuBar()->actionGeometry(top);
  const QPoint origin = window.menuBar()->mapTo(&window, at.bottomLeft());
  menu->popup(window.mapToGlobal(origin));
  const QImage popup = menu->grab().toImage();
  QPainter p(&shot);
  p.drawImage(origin, popup);
  p.end();
  menu->hide();
  return shot;
}
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("Vexa");
  QApplication::setApplicationName("Vexa Studio");
  vexa::VXInstallLZWCoders();
  vexa::VXThreadCountFromEnv();
  vexa::VXTW_InstallUI();

  QStringList files;
  std::string screenshot, report;
  QString menu;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--screenshot" && i + 1 < args.size()) {
      screenshot = args[++i].toStdString();
    } else if (args[i] == "--open-menu" && i + 1 < args.size()) {
      menu = args[++i];
    } else if (args[i] == "--test-report" && i + 1 < args.size()) {
      report = args[++i].toStdString();
    } else if (args[i] == "--help" || args[i] == "-h") {
      std::printf("usage: vexa-studio [FILE...] [--screenshot OUT.png [--open-menu TITLE]] [--test-report FILE]\n");
      return 0;
    } else {
      files << args[i];
    }
  }

  StudioWindow window;
  if (!report.empty()) window.ReportStateTo(report);
  window.show();
  if (screenshot.empty()) {
    // Opened once the event loop runs, so that a message box about the file has a window behind it.
    QTimer::singleShot(0, &window, [&] { window.OpenArguments(files); });
    return QApplication::exec();
  }
  std::string error;
  if (!files.isEmpty() && !window.OpenFile(files.front().toStdString(), error))
    std::fprintf(stderr, "vexa-studio: %s: %s\n", qPrintable(files.front()), error.c_str());

  int status = 1;
  // Let the window be laid out and painted once before taking the picture.
  QTimer::singleShot(200, &window, [&] {
    const QImage shot = ShotWithMenu(window, menu);
    if (shot.save(QString::fromStdString(screenshot), "PNG")) {
      status = 0;
    } else {
      std::fprintf(stderr, "vexa-studio: cannot write %s\n", screenshot.c_str());
    }
    QApplication::quit();
  });
  QApplication::exec();
  return status;
}
