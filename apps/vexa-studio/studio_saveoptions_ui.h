// The save options of the studio: the file types the format registry can write,
// and a small dialog per format (JPEG quality, PNG and TIFF compression, colour
// depth). The depth offered first is always the image's own, and a choice that
// would keep fewer colours than the image has says so and offers full colour: a
// save never reduces colours unasked.
#pragma once

#include <QDialog>
#include <QString>
#include <string>

#include "vexa/core/bitmap.h"
#include "vexa/io/ioparams.h"

class QComboBox;
class QLabel;
class QPushButton;

class StudioSaveOptions : public QDialog {
 public:
  /// "PNG (*.png);;JPEG (*.jpg *.jpeg);;..." for every type the registry can write now.
  static QString FileFilter();
  /// The same entries in the file dialogs' "description|patterns|..." form.
  static std::string SaveFilter();
  /// The first extension a filter entry lists ("png" for "PNG (*.png)").
  static std::string ExtensionOfFilter(const QString& filter);
  /// Whether some writer serves the name's extension.
  static bool CanWrite(const std::string& name);
  /// Fills params for saving `image` to `name` after asking; false when cancelled,
  /// or (with a message box) when no writer serves the name's extension.
  static bool Ask(QWidget* parent, const std::string& name, const vexa::TBitmap& image, vexa::TIOParamsVals& params);

  /// The studio's JPEG quality until the user picks another.
  static constexpr int kDefaultJpegQuality = 90;
  /// The quality picked last (here or in the save-parameters dialog).
  static int& JpegQuality();

 private:
  StudioSaveOptions(QWidget* parent, int fileType, const vexa::TBitmap& image, vexa::TIOParamsVals& params);
  void CheckColours();

  int FType;
  const vexa::TBitmap& FImage;
  vexa::TIOParamsVals& FParams;
  QComboBox* FDepth = nullptr;
  QLabel* FWarning = nullptr;
  QPushButton* FFull = nullptr;
  /// Distinct colours of the image, counted when first needed (-1 before).
  int FColours = -1;
};
