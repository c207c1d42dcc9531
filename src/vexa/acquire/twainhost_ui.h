// The Qt side of scanning: the client's host over the Qt event loop (a component's
// window is the QWidget it is or is owned by; the proxy is a hidden widget titled
// "Acquire Proxy"), and the dialogs our data source manager shows for the
// application: the source selection, a progress indicator with Cancel, and a
// source's settings (one field per setting, named after it; Scan and Cancel).
#pragma once

#include <QDialog>
#include <QStringList>

#include <vector>

#include "vexa/acquire/vexadsm.h"

class QListWidget;

namespace vexa {

/// Installs the Qt host and the manager's dialogs, and the client itself
/// (VXTW_Install). Call once a QApplication exists; calling again is harmless.
void VXTW_InstallUI();

/// The source-selection dialog: one line per source, OK and Cancel.
class TVXTWSourceDialog : public QDialog {
 public:
  TVXTWSourceDialog(QWidget* parent, const QStringList& names, int current);
  /// The chosen row, -1 when none.
  int Chosen() const;
  QListWidget* List() const { return FList; }

 private:
  QListWidget* FList;
};

/// A source's settings, one field per option named after it: a spin box for a
/// number, a combo box for a choice, a check box for a switch, a push button for a
/// button. "Scan" writes the fields back into the options (a button: its presses).
class TVXTWSettingsDialog : public QDialog {
 public:
  TVXTWSettingsDialog(QWidget* parent, const QString& title, VexaDSMOption* options, int count);
  void accept() override;

 private:
  VexaDSMOption* FOptions;
  QList<QWidget*> FFields;
  std::vector<int> FPresses;
};

}  // namespace vexa
