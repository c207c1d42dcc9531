// Shared set-up of the widget tests: one QApplication on the offscreen platform
// and synthetic mouse events.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <cstdlib>

namespace vexa::test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "test_view_ui";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Never destroyed: Qt's input devices must not be torn down by static destructors.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

inline void SendMouse(QWidget& w, QEvent::Type type, int x, int y, Qt::MouseButton button,
                      Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QMouseEvent e(type, QPointF(x, y), w.mapToGlobal(QPointF(x, y)), button, buttons, mods);
  QCoreApplication::sendEvent(&w, &e);
}

inline void Press(QWidget& w, int x, int y, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = {}) {
  SendMouse(w, QEvent::MouseButtonPress, x, y, b, b, m);
}
inline void Drag(QWidget& w, int x, int y, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = {}) {
  SendMouse(w, QEvent::MouseMove, x, y, Qt::NoButton, b, m);
}
inline void Hover(QWidget& w, int x, int y, Qt::KeyboardModifiers m = {}) {
  SendMouse(w, QEvent::MouseMove, x, y, Qt::NoButton, Qt::NoButton, m);
}
inline void Release(QWidget& w, int x, int y, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = {}) {
  SendMouse(w, QEvent::MouseButtonRelease, x, y, b, Qt::NoButton, m);
}
inline void Click(QWidget& w, int x, int y, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = {}) {
  Press(w, x, y, b, m);
  Release(w, x, y, b, m);
}

}  // namespace vexa::test
