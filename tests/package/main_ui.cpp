// The package tests link the shared libraries, as an application does, and so
// bring their own offscreen application instead of the shared test support.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QCoreApplication::addLibraryPath(QStringLiteral(VEXA_PLUGIN_DIR));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
