// TVXHint: a small borderless tool window that shows one line of text (for
// measurements over a view). Mouse hits pass through it to the window below.
#pragma once

#include <QWidget>
#include <string>

#include "vexa/view/canvas_ui.h"

namespace vexa {

class TVXHint : public QWidget {
  Q_OBJECT

 public:
  /// Created hidden; light yellow, black text.
  explicit TVXHint(QWidget* parent = nullptr);
  /// Stores the text and sizes the window to text width + 4 by text height + 4.
  void SetText(const std::string& s);
  const std::string& Text() const { return FText; }
  void SetFont(const TFont& font);
  const TFont& Font() const { return FFont; }
  TColor Color = 0xE0FFFF;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  std::string FText;
  TFont FFont;
};

}  // namespace vexa
