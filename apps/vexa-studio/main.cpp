// vexa-studio: a small image editor over the whole library.
//
//   vexa-studio [FILE] [--screenshot OUT.png]
//
// Without FILE it shows the built-in sample image. --screenshot renders the
// window to a PNG once it is laid out and exits (status 0 when written).
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "studio_window_ui.h"
#include "vexa/acquire/twainhost_ui.h"
#include "vexa/codecs/lzw.h"
#include "vexa/core/parallel.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Vexa Studio");
  vexa::VXInstallLZWCoders();
  vexa::VXThreadCountFromEnv();
  vexa::VXTW_InstallUI();

  std::string file, screenshot;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--screenshot" && i + 1 < args.size()) {
      screenshot = args[++i].toStdString();
    } else if (args[i] == "--help" || args[i] == "-h") {
      std::printf("usage: vexa-studio [FILE] [--screenshot OUT.png]\n");
      return 0;
    } else {
      file = args[i].toStdString();
    }
  }

  StudioWindow window;
  window.show();
  if (!file.empty()) {
    std::string error;
    if (!window.OpenFile(file, error)) std::fprintf(stderr, "vexa-studio: %s: %s\n", file.c_str(), error.c_str());
  }
  if (screenshot.empty()) return QApplication::exec();

  int status = 1;
  // Let the window be laid out and painted once before taking the picture.
  QTimer::singleShot(200, &window, [&] {
    const QImage shot = window.grab().toImage();
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
