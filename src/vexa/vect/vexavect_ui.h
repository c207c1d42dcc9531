// TVexaVect: the image view with vector objects drawn over it, created and edited
// with the mouse, measured, saved (VXV) and burnt into the bitmap.
//
// The object model, the VXV stream, DXF import and the measurement units come from
// TVXVectModel (core); this class draws, converts mouse and key events, keeps the
// in-place text editor and the measurement hint. All of the view's own selection
// modes stay available: the vector modes (SetMouseInteractVt) are a second set.
// Object coordinates are bitmap pixels; mouse positions are client pixels.
#pragma once

#include <QStyle>
#include <functional>
#include <string>

#include "vexa/vect/vectmodes.h"
#include "vexa/vect/vectmodel.h"
#include "vexa/view/vexaview_ui.h"
#include "vexa/view/vxhint_ui.h"

class QLineEdit;

namespace vexa {

/// May rewrite the hint text before it is shown.
using TVXVMeasureHintEvent = std::function<void(TObject* sender, std::string& text, double value)>;
using TVXVDragLenEndEvent = std::function<void(TObject* sender, double value)>;

class TVexaVect : public TVexaView, public TVXVectModel {
  Q_OBJECT

 public:
  explicit TVexaVect(QWidget* parent = nullptr, TComponent* owner = nullptr);
  ~TVexaVect() override;

  // --- view overrides
  /// Also sets the root frame's rectangle to the whole bitmap.
  void Update() override;
  void SetDPIX(int v) override;
  void SetDPIY(int v) override;
  /// A non-empty set leaves only the measuring vector modes on.
  void SetMouseInteract(TVXMouseInteract s) override;
  void ViewChange(int change) override;
  /// The view's picture, the objects, then the grips of the selected objects.
  void PaintTo(TCanvas& canvas) override;

  // --- vector modes
  TVXMouseInteractVt MouseInteractVt() const { return FMouseInteractVt; }
  void SetMouseInteractVt(TVXMouseInteractVt s);
  /// Ends inserting, grip dragging and text editing.
  void CancelInteracts() override;
  bool ZoomObjectsWidth() const { return FZoomObjectsWidth; }
  void SetZoomObjectsWidth(bool on);
  bool AllObjectsHidden() const { return FAllHidden; }
  void SetAllObjectsHidden(bool on);
  /// Draws every object into the bitmap itself; the objects remain.
  void CopyObjectsToBack();
  /// Adds a DXF drawing's objects, scaled into the bitmap.
  void ImportDXF(const std::string& fileName);

  // --- text editing
  void ActiveTextEdit(int idx);
  /// Ends editing, copying the field's text into the object.
  void RemoveTextEdit();
  int EditingText() const { return FEditing; }
  QLineEdit* TextEditor() const { return FEditor; }

  // --- Qt-flavoured properties
  using TVXVectModel::SetObjFont;
  /// The font's face, pixel height and styles; the colour becomes the pen colour.
  void SetObjFont(int i, const QFont& font, TColor color);
  /// Renders a standard icon into a new width x height 24-bit bitmap for the object.
  void SetObjBitmapICO(int i, QStyle::StandardPixmap icon, int height, int width);

  // --- clipboard: present, and without effect
  void CopyToClipboard() {}
  void CutToClipboard() {}
  void PasteFromClipboard() {}
  void InsertFromClipboard() {}

  // --- measurement of the view's selection polygon
  double GetSelectionLen() const;
  double GetSelectionArea() const;
  TPoint GetSelectionCentroid() const;
  void SetScaleFromSelectionLen(double value);
  /// The line length includes the segment to the mouse while a polygon is drawn.
  bool IncludeRubberBand = true;
  double LastDragLen() const { return FLastDragLen; }
  void UpdateHint(int x, int y);
  void ShowAreaHint(TPoint p);
  void ShowLineLenHint(TPoint p);
  void ShowDragLenHint(TPoint p);
  TVXHint* Hint() const { return FHint; }

  // --- events
  TNotifyEvent OnSelectObject, OnVectorialChanged;
  TVXVMeasureHintEvent OnMeasureHint;
  TVXVDragLenEndEvent OnDragLenEnd;

 protected:
  void Changed(int idx, bool always) override;
  void SelectionChanged() override;
  void VectorialChanged() override;
  void MeasureChanged() override;

  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  friend class TVXTextEditor;
  int BorderWidth() const { return BorderStyle() == bsSingle ? 2 : 0; }
  QPoint ClientAt(const QMouseEvent* e) const;
  TPoint ToBitmap(int x, int y) const { return {XScr2Bmp(x), YScr2Bmp(y)}; }
  TRect VisibleBitmapRect() const;
  void PlaceEditor();
  void ShowHint(TPoint p, const std::string& text, double value);
  void DrawRubber(QPainter& p);
  void AutoScrollTo(int x, int y);
  void EndTextEdit(bool keep);
  void PressAt(int x, int y, Qt::KeyboardModifiers mods, bool doubleClick);

  TVXMouseInteractVt FMouseInteractVt = 0;
  bool FZoomObjectsWidth = true;
  bool FAllHidden = false;
  int FInserting = -1;  ///< kind being inserted, -1 none
  int FGrip = 0;        ///< grip being dragged, 0 none
  bool FSelecting = false;  ///< rubber-band object selection
  bool FMoved = false, FHeld = false;
  int FPressX = 0, FPressY = 0, FDragX = 0, FDragY = 0, FLastX = 0, FLastY = 0;
  int FMouseX = 0, FMouseY = 0;
  int FEditing = -1;
  QLineEdit* FEditor = nullptr;
  TVXHint* FHint = nullptr;
  double FLastDragLen = 0;
  bool FInUpdate = false;
};

}  // namespace vexa
