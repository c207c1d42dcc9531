#include "vexa/view/viewtool_ui.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <string>

#include "ui_test_util_ui.h"
#include "vexa/view/vexaview_ui.h"

using namespace vexa;
using namespace vexa::test;

namespace {

// Writes down what it gets, in bitmap pixels; marks its last press on the overlay.
struct TRecordingTool : TVXViewTool {
  bool Takes = false;
  int IdleCursor = 0;
  int Activated = 0, Deactivated = 0;
  std::vector<std::string> Log;
  TPoint Mark{-1, -1};

  explicit TRecordingTool(bool takes, int cursor = 0) : Takes(takes), IdleCursor(cursor) {}
  void Activate(TVXToolContext&) override { ++Activated; }
  void Deactivate(TVXToolContext&) override { ++Deactivated; }
  bool Press(TVXToolContext& v, const TVXToolEvent& e) override {
    if (Takes) {
      Mark = {e.BmpX, e.BmpY};
      v.Repaint();
    }
    return Note("press", e);
  }
  bool Move(TVXToolContext&, const TVXToolEvent& e) override { return e.Held && Note("drag", e); }
  bool Release(TVXToolContext&, const TVXToolEvent& e) override { return Note("release", e); }
  void PaintOverlay(TVXToolContext& v, QPainter& p) override {
    if (Mark.X < 0) return;
    p.setPen(Qt::red);
    p.drawPoint(v.Geometry().XBmp2Scr(Mark.X), v.Geometry().YBmp2Scr(Mark.Y));
  }
  int Cursor() const override { return IdleCursor; }

  bool Note(const char* what, const TVXToolEvent& e) {
    Log.push_back(std::string(what) + " " + std::to_string(e.BmpX) + "," + std::to_string(e.BmpY) +
                  (e.Taken ? " taken" : ""));
    return Takes;
  }
};

// A derived view with a tool of its own in front of the modes and a watcher behind them.
class TMarkView : public TVexaView {
 public:
  TRecordingTool* Marks = AddTool(std::make_unique<TRecordingTool>(true, crHand), vxtpBeforeModes);
  TRecordingTool* Watcher = AddTool(std::make_unique<TRecordingTool>(false));
};

using Strings = std::vector<std::string>;

}  // namespace

TEST(ViewTools, DerivedToolGetsBitmapPointsAndTheModesComeBackWhenItLeaves) {
  App();
  TMarkView v;
  // 400 x 400 at 200 % scrolled to (40, 20): client (x, y) shows bitmap ((x + 40) / 2, (y + 20) / 2).
  // The single border puts the client area two pixels into the widget.
  v.resize(104, 104);
  v.Bitmap() = TBitmap(400, 400);
  v.Bitmap().Fill(CreateRGB(0, 200, 0));
  v.Update();
  v.SetZoom(200);
  v.SetViewXY(40, 20);
  v.SetMouseInteract(VXMI(miSelect));
  int changed = 0;
  v.OnSelectionChange = [&](TObject*) { ++changed; };
  EXPECT_EQ(v.Marks->Activated, 1);
  EXPECT_EQ(v.cursor().shape(), Qt::OpenHandCursor);

  Press(v, 12, 32);
  Drag(v, 62, 12);
  Drag(v, 152, 12);  // beside the image: clamped to its last visible column
  Release(v, 62, 12);
  EXPECT_EQ(v.Marks->Log, (Strings{"press 25,25", "drag 50,15", "drag 70,15", "release 50,15"}));
  EXPECT_EQ(v.Watcher->Log,
            (Strings{"press 25,25 taken", "drag 50,15 taken", "drag 70,15 taken", "release 50,15 taken"}));
  // The rectangle mode left the taken events alone: no selection, no auto-scroll.
  EXPECT_FALSE(v.SelectionExists());
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(v.ViewX(), 40);
  EXPECT_EQ(v.grab().toImage().pixel(12, 32), qRgb(255, 0, 0));

  TRecordingTool* marks = v.Marks;
  const std::unique_ptr<TVXViewTool> back = v.RemoveTool(marks);
  EXPECT_EQ(back.get(), marks);
  EXPECT_EQ(marks->Deactivated, 1);
  EXPECT_EQ(v.RemoveTool(marks), nullptr);
  EXPECT_EQ(v.cursor().shape(), VXCursor(crCross2).shape());
  EXPECT_EQ(v.grab().toImage().pixel(12, 32), qRgb(0, 200, 0));

  v.Watcher->Log.clear();
  Press(v, 12, 32);
  Drag(v, 62, 12);
  Release(v, 62, 12);
  EXPECT_EQ(v.SelX1(), 25);
  EXPECT_EQ(v.SelY1(), 15);
  EXPECT_EQ(v.SelX2(), 50);
  EXPECT_EQ(v.SelY2(), 25);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(v.Watcher->Log, (Strings{"press 25,25 taken", "drag 50,15 taken", "release 50,15 taken"}));
  EXPECT_EQ(marks->Log.size(), 4u);
}
