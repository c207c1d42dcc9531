// The form for one catalogue operation: a control per typed parameter (a slider
// beside a spin box for numbers in a short range, colour buttons, choices, file
// choosers, check boxes for flags) and, for centres and sizes, a button that takes
// them from the selection. Words() gives the arguments in catalogue order.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/proc/operations.h"

class StudioParamForm : public QDialog {
 public:
  /// `selection` is the selection's bounds (X2, Y2 inclusive), or the image's when there is none.
  StudioParamForm(QWidget* parent, const vexa::TVXOperation& op, vexa::TRect selection);
  std::vector<std::string> Words() const;

 private:
  std::vector<std::function<void(std::vector<std::string>&)>> FWords;
};
