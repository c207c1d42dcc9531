// The frame shared by the auxiliary controls: a widget that is also a component
// and paints only from an off-screen picture of its own size.
//
// Render() draws the whole picture; the widget calls it when created, resized or
// told to, and paintEvent merely copies it. Tests read Picture() to check pixels
// without a screen.
#pragma once

#include <QImage>
#include <QWidget>

#include "vexa/core/component.h"
#include "vexa/view/canvas_ui.h"

namespace vexa {

using TNotifyEvent = std::function<void(TObject* sender)>;

class TVXBufferedControl : public QWidget, public TComponent {
 public:
  TVXBufferedControl(QWidget* parent, TComponent* owner, int width, int height);

  /// The off-screen picture (RGB, the control's size).
  const QImage& Picture() const { return FPicture; }
  /// The initial size, so layouts give the control room.
  QSize sizeHint() const override { return FDefaultSize; }
  /// True when the designer created the control (TComponent's csDesigning).
  bool Designing() const { return HasState(csDesigning); }

  /// Pixel height of a font: its point size at the screen's vertical resolution.
  static int FontPixelHeight(const TFont& font);
  /// A horizontal or vertical line in the pen colour from `from` up to, not
  /// including, `to`, in either direction.
  static void Span(TCanvas& canvas, TPoint from, TPoint to);

 protected:
  /// Draws the whole picture into FPicture.
  virtual void Render() = 0;
  /// Renders and asks for a repaint; `now` repaints before returning.
  void Refresh(bool now = false);
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

  QImage FPicture;

 private:
  QSize FDefaultSize;
};

}  // namespace vexa
