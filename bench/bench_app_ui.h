// The one QApplication of a benchmark program that paints through the Qt layer.
#pragma once

#include <QApplication>
#include <cstdlib>

namespace vexa::bench {

/// Created on first use on the offscreen platform (unless QT_QPA_PLATFORM says otherwise).
inline QApplication& App() {
  static int argc = 1;
  static char name[] = "vexa_bench";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Never destroyed: Qt's input devices must not be torn down by static destructors.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace vexa::bench
