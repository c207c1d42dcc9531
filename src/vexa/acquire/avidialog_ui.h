// The "compression options" dialog: which encoder (and quality, for the lossy
// ones) an AVI is written with. Cancel leaves the options as they were.
#pragma once

#include <QDialog>

#include "vexa/acquire/avi.h"

class QListWidget;
class QSpinBox;

namespace vexa {

class TVXAviOptionsForm : public QDialog {
  Q_OBJECT

 public:
  /// Lists VXAviEncoders, preselecting options.Encoder (the default encoder when empty).
  explicit TVXAviOptionsForm(const TVXAviOptions& options, QWidget* parent = nullptr);
  /// The choice as it stands in the dialog.
  TVXAviOptions Options() const;
  QListWidget* EncoderList() const { return FList; }
  QSpinBox* QualityBox() const { return FQuality; }

 private:
  void EncoderChanged();
  QListWidget* FList;
  QSpinBox* FQuality;
};

/// Shows the dialog modally; true and options updated on OK.
bool VXShowAviOptionsDialog(TVXAviOptions& options, QWidget* parent = nullptr);
/// Makes the dialog the one AVI saving asks (gVXAviOptionsDialog).
void VXInstallAviOptionsDialog();

}  // namespace vexa
