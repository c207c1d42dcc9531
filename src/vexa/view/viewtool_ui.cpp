#include "vexa/view/viewtool_ui.h"

#include "vexa/view/vexaview_ui.h"

namespace vexa {

const TVXViewGeometry& TVXToolContext::Geometry() const { return FView.FGeom; }

TBitmap& TVXToolContext::Bitmap() const { return FView.FBitmap; }

TVXAnimPolygon& TVXToolContext::Selection() const { return *FView.FSel; }

bool TVXToolContext::AutoScroll(int x, int y) { return FView.AutoScroll(x, y); }

void TVXToolContext::Repaint() { FView.update(); }

void TVXToolContext::ShowCursor(int id) { FView.QWidget::setCursor(VXCursor(id != 0 ? id : FView.IdleCursor())); }

void TVXToolContext::Fire(const std::function<void(TObject*)>& event) const {
  if (event) event(&FView);
}

}  // namespace vexa
