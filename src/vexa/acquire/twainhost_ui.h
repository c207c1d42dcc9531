// The Qt side of scanning: the client's host over the Qt event loop (a component's
// window is the QWidget it is or is owned by; the proxy is a hidden widget titled
// "Acquire Proxy"), and the dialogs our data source manager shows for the
// application: the source selection and a progress indicator with Cancel.
#pragma once

#include <QDialog>
#include <QStringList>

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

}  // namespace vexa
