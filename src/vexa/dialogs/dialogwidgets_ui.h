// Pieces the preview dialogs share: the track bar with its mirrored edit, the
// button glyphs (the library's named button bitmaps), the dialog font and the
// translated words.
#pragma once

#include <QIcon>
#include <QString>
#include <QWidget>

#include "vexa/core/drawstyles.h"
#include "vexa/core/messages.h"

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;

namespace vexa {

/// The word in the language, as a QString.
QString VXWord(TMsgLanguageWords word, TMsgLanguage language);

/// Gives the form the caller's font; a font left at its defaults keeps the
/// platform's, so that a form nobody configured looks like the desktop.
void VXApplyPreviewFont(QWidget& form, const TFont& font);

/// The three button glyphs of the dialogs: IDB_PLAY, IDB_PREVIEW, IDB_STOP.
enum TVXGlyph { glPlay, glPreview, glStop };
QIcon VXGlyph(TVXGlyph glyph);

/// The row under both preview dialogs: the lock-preview toggle ("lockPreview"),
/// "preview", an optional extra button, the progress bar, "ok" (default) and "cancel".
struct TVXPreviewButtons {
  QHBoxLayout* Row;
  QPushButton *Lock, *Preview, *Ok, *Cancel;
  QProgressBar* Progress;
};
TVXPreviewButtons VXPreviewButtons(QWidget* parent, QPushButton* extra = nullptr);

/// A caption, a track bar and an edit that mirror each other. An edit that does
/// not parse reads as `fallback` (0 unless told); values are clamped to the range.
class TVXTrackEdit : public QWidget {
  Q_OBJECT

 public:
  TVXTrackEdit(const QString& caption, int min, int max, QWidget* parent = nullptr, int fallback = 0);
  int Value() const { return FValue; }
  /// Sets both controls without emitting ValueChanged.
  void SetValue(int v);
  void SetRange(int min, int max);
  void SetCaption(const QString& caption);
  QLabel* Caption() const { return FCaption; }
  QSlider* Slider() const { return FSlider; }
  QLineEdit* Edit() const { return FEdit; }

 signals:
  void ValueChanged(int value);

 private:
  void FromSlider(int v);
  void FromEdit();
  QLabel* FCaption;
  QSlider* FSlider;
  QLineEdit* FEdit;
  int FValue = 0;
  int FFallback;
  bool FSetting = false;
};

}  // namespace vexa
