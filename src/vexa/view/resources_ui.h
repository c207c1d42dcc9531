// The library's named resources: fourteen cursors, three button bitmaps and two
// dialog layouts, all drawn or built in code under their resource names.
//
//   cursors   CROCE CROCE1 CROCE2 GOMMA MANO MOVE MOVE1 MOVE2 MOVEX MOVEY PENNA
//             RESIZE ZOOMMENO ZOOMPIU                 (32 x 32, with a hot spot)
//   bitmaps   IDB_PLAY IDB_PREVIEW IDB_STOP          (16 x 16, 16 colours)
//   layouts   IDD_VXTEMPLATE   the preview panel of the open dialog
//             IDD_VXTEMPLATE1  the preview panel of the save dialog
#pragma once

#include <QCursor>
#include <QPixmap>
#include <string>
#include <vector>

class QWidget;

namespace vexa {

/// A named cursor; the arrow cursor for an unknown name.
QCursor VXResourceCursor(const std::string& name);
/// A named button bitmap; a null pixmap for an unknown name.
QPixmap VXResourceBitmap(const std::string& name);

/// Builds a named dialog layout as a new widget under parent (null for an unknown
/// name). Its parts are found by object name:
///   both layouts   "PreviewCheck" (QCheckBox, checked), "PreviewArea" (QFrame, an
///                  empty area for the preview view, 160 x 120 at least),
///                  "InfoLabel" (QLabel: size, colours, file size)
///   IDD_VXTEMPLATE "PlayButton", "StopButton" (QToolButton, IDB_PLAY / IDB_STOP:
///                  frames of multi-image files)
///   IDD_VXTEMPLATE1 "PreviewButton" (QToolButton, IDB_PREVIEW: parameters with
///                  a preview), "AdvancedButton" (QPushButton)
QWidget* VXCreateDialogLayout(const std::string& name, QWidget* parent = nullptr);

/// The names of each kind, in the order above.
const std::vector<std::string>& VXResourceCursorNames();
const std::vector<std::string>& VXResourceBitmapNames();
const std::vector<std::string>& VXDialogLayoutNames();

}  // namespace vexa
