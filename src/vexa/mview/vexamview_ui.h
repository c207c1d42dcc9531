// TVexaMView: the thumbnail grid widget. The list, layout, selection rules,
// caching and playback stepping are TVXImageGrid's; this class turns Qt events
// into its calls, keeps the scroll bars and the playback timer, and paints the
// cells it is told to paint through a QPainter.
#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>

#include "vexa/mview/imagegrid.h"
#include "vexa/view/canvas_ui.h"
#include "vexa/view/vexaview_ui.h"

class QScrollBar;

namespace vexa {

/// After a cell is drawn: its index and top-left corner in client pixels.
using TVXImageDrawEvent = std::function<void(TObject* sender, int idx, int left, int top, TCanvas& canvas)>;

class TVexaMView : public QWidget, public TVXImageGrid {
  Q_OBJECT

 public:
  explicit TVexaMView(QWidget* parent = nullptr, TComponent* owner = nullptr);
  ~TVexaMView() override;

  TScrollStyle ScrollBars() const { return FScrollBars; }
  void SetScrollBars(TScrollStyle s);

  TVXImageDrawEvent OnImageDraw;

  /// Repaints at once (nothing while the paint lock is held).
  void Paint();
  /// Paints the client area through a canvas (what the widget shows).
  void PaintTo(TCanvas& canvas);
  /// The client area as it would appear on screen.
  QImage RenderClient();

 protected:
  bool CanUpdate() const override;
  void Invalidate() override { update(); }
  void PaintNow() override { Paint(); }
  void StartPlayTimer(int ms) override { FTimer.start(ms); }
  void StopPlayTimer() override { FTimer.stop(); }
  bool HasFocus() const override { return hasFocus(); }
  bool SyncScrollBars() override;

  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  void ReadClientSize();
  void DragTo(QPoint p);

  TScrollStyle FScrollBars = ssNone;
  QScrollBar* FHBar = nullptr;
  QScrollBar* FVBar = nullptr;
  bool FHBarShown = false, FVBarShown = false;
  bool FSyncingBars = false;
  QTimer FTimer;
  bool FDragging = false;
  QPoint FPressPos;
  int FPressViewX = 0, FPressViewY = 0;
};

}  // namespace vexa
