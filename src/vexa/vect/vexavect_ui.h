// TVexaVect: the image view with vector objects drawn over it, created and edited
// with the mouse, measured, saved (VXV) and burnt into the bitmap.
//
// The object model, the VXV stream, DXF import and the measurement units come from
// TVXVectModel (core); this class draws, keeps the in-place text editor and the
// measurement hint, and handles the keys. The mouse goes to the view's tools: all
// of the view's own selection modes stay available, and the vector modes
// (SetMouseInteractVt) are one more tool after them (vecttool_ui.h).
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

class TVXVectTool;

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

  void keyPressEvent(QKeyEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  friend class TVXTextEditor;
  friend class TVXVectTool;
  int BorderWidth() const { return BorderStyle() == bsSingle ? 2 : 0; }
  TPoint ToBitmap(int x, int y) const { return {XScr2Bmp(x), YScr2Bmp(y)}; }
  /// The part of the bitmap on screen, inclusive.
  TRect VisibleBitmapRect() const;
  void PlaceEditor();
  void ShowHint(TPoint p, const std::string& text, double value);
  void EndTextEdit(bool keep);

  TVXMouseInteractVt FMouseInteractVt = 0;
  TVXVectTool* FTool = nullptr;
  bool FZoomObjectsWidth = true;
  bool FAllHidden = false;
  int FMouseX = 0, FMouseY = 0;  ///< last pointer position, client pixels (the rubber band's end)
  int FEditing = -1;
  QLineEdit* FEditor = nullptr;
  TVXHint* FHint = nullptr;
  double FLastDragLen = 0;
};

}  // namespace vexa
