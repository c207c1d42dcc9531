// TVexaPaletteDialog: a small modal form showing a palette as a grid of colour
// cells (layout in palettegrid.h); the colour clicked is the answer.
//
// The palette is the caller's array, not a copy: it must outlive Execute. The
// cell under the mouse is highlighted (black outline, the others white); a click
// chooses the highlighted cell and closes the form. A click before any cell has
// been highlighted does nothing.
#pragma once

#include <QDialog>

#include "vexa/core/bitmap.h"

class QPushButton;

namespace vexa {

class TVexaPaletteDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TVexaPaletteDialog(QWidget* parent = nullptr);

  /// Shows the first `count` entries of `palette` (kept by reference).
  void SetPalette(const TRGB* palette, int count);
  /// Shows the form modally; true when a colour was clicked.
  bool Execute();
  /// The colour chosen by the last successful Execute (black before any).
  TColor Color() const { return FColor; }
  bool ColorChosen() const { return FChosen; }
  /// The entry under the mouse, -1 when none has been yet.
  int Highlighted() const { return FHighlighted; }
  /// The "&Cancel" button, whose caption the caller may replace.
  QPushButton* CancelButton() const { return FCancel; }

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;

 private:
  const TRGB* FPalette = nullptr;
  int FCount = 0;
  int FHighlighted = -1;
  TColor FColor = clBlack;
  bool FChosen = false;
  QPushButton* FCancel;
};

}  // namespace vexa
