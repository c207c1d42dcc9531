#include "vexa/vect/vexavect_ui.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLineEdit>

#include "vexa/vect/vectdraw_ui.h"
#include "view/ui_test_util_ui.h"

using namespace vexa;
using namespace vexa::test;

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF, kBlack = 0xFF000000;

struct VectFixture : ::testing::Test {
  void SetUp() override { App(); }
  // A white w x h picture in a view of the same size without border, so that client
  // and widget coordinates coincide.
  void Show(TVexaVect& v, int w, int h, int zoom = 100) {
    v.SetBorderStyle(bsNone);
    v.resize(w, h);
    TBitmap bmp(w, h, pf24bit);
    bmp.Fill(CreateRGB(255, 255, 255));
    v.Bitmap() = bmp;
    v.SetZoom(zoom);
    v.Update();
  }
  QImage Painted(TVexaVect& v) {
    QImage img(v.ClientWidth(), v.ClientHeight(), QImage::Format_RGB32);
    TCanvas c(&img);
    v.PaintTo(c);
    return img;
  }
  int Add(TVexaVect& v, TVXVObjectKind kind, int l, int t, int r, int b) {
    v.SetObjKind(kVXTemplate, kind);
    v.SetObjRect(kVXTemplate, {l, t, r, b});
    return v.AddNewObject();
  }
  // Rows of column x painted in the colour, from y0 to y1 inclusive.
  static int CountInColumn(const QImage& img, int x, int y0, int y1, QRgb colour) {
    int n = 0;
    for (int y = y0; y <= y1; ++y) n += img.pixel(x, y) == colour;
    return n;
  }
  static void Key(QWidget* w, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &press);
  }
};

using VectPaint = VectFixture;
using VectMouse = VectFixture;
using VectModes = VectFixture;

class VectPaintAtZoom : public VectFixture, public ::testing::WithParamInterface<int> {};

}  // namespace

TEST_P(VectPaintAtZoom, LineBoxArrowAndRulerLandOnTheirPixels) {
  const int z = GetParam();
  auto at = [z](int v) { return v * z / 100; };
  TVexaVect v;
  Show(v, 200, 200, z);
  v.resize(400, 400);
  v.Update();
  v.SetObjPenColor(kVXTemplate, clBlack);
  Add(v, vxkLINE, 10, 10, 60, 10);
  v.SetObjPenColor(kVXTemplate, clRed);
  Add(v, vxkBOX, 100, 20, 140, 50);
  v.SetObjPenColor(kVXTemplate, clBlue);
  const int arrow = Add(v, vxkLINE, 20, 100, 100, 100);
  v.SetObjEndShape(arrow, vxsOUTARROW);
  v.SetObjBeginShape(arrow, vxsINARROW);
  v.SetObjPenColor(kVXTemplate, clBlack);
  const int ruler = Add(v, vxkRULER, 20, 150, 170, 150);
  v.SetObjRulerType(ruler, vxrtRULER);
  const QImage img = Painted(v);

  // The line: first pixel on, the one before it off.
  EXPECT_EQ(img.pixel(at(10), at(10)), kBlack);
  EXPECT_EQ(img.pixel(at(60) - 1, at(10)), kBlack);
  EXPECT_EQ(img.pixel(at(10) - 1, at(10)), kWhite);
  // The box: its four edges in red, its inside untouched.
  const QRgb red = qRgb(255, 0, 0);
  EXPECT_EQ(img.pixel(at(100), at(35)), red);
  EXPECT_EQ(img.pixel(at(140), at(35)), red);
  EXPECT_EQ(img.pixel(at(120), at(20)), red);
  EXPECT_EQ(img.pixel(at(120), at(50)), red);
  EXPECT_EQ(img.pixel(at(120), at(35)), kWhite);
  EXPECT_EQ(img.pixel(at(140) + 2, at(35)), kWhite);
  // The end arrow (width 10, length 20, tip on the end point): filled behind the tip,
  // narrowing towards it.
  const QRgb blue = qRgb(0, 0, 255);
  const int ex = at(100), ey = at(100);
  EXPECT_EQ(img.pixel(ex - 16, ey + 3), blue);
  EXPECT_EQ(img.pixel(ex - 16, ey - 3), blue);
  EXPECT_EQ(img.pixel(ex - 16, ey + 7), kWhite);
  EXPECT_EQ(img.pixel(ex - 3, ey + 3), kWhite);
  // The begin arrow points back into the line: its base (10 wide) on the start point.
  const int sx = at(20);
  EXPECT_EQ(img.pixel(sx + 1, ey + 4), blue);
  EXPECT_EQ(img.pixel(sx + 18, ey + 4), kWhite);
  // Ruler ticks below the line every 10 bitmap pixels: 3 long, 6 at every 5th, 9 at every 10th.
  const int ry = at(150);
  EXPECT_EQ(CountInColumn(img, at(30), ry + 1, ry + 12, kBlack), 3);
  EXPECT_EQ(CountInColumn(img, at(70), ry + 1, ry + 12, kBlack), 6);
  EXPECT_EQ(CountInColumn(img, at(120), ry + 1, ry + 12, kBlack), 9);
  EXPECT_EQ(CountInColumn(img, at(35), ry + 1, ry + 12, kBlack), 0);
}

INSTANTIATE_TEST_SUITE_P(Zoom, VectPaintAtZoom, ::testing::Values(100, 200));

TEST_F(VectPaint, PenWidthFollowsTheZoomUnlessToldNot) {
  EXPECT_EQ(VXObjectPenWidth(3, 25, true), 1);
  EXPECT_EQ(VXObjectPenWidth(3, 200, true), 6);
  EXPECT_EQ(VXObjectPenWidth(3, 200, false), 3);
  for (const auto& [zoom, zoomWidth, rows] : {std::tuple{25, true, 1}, std::tuple{200, true, 6},
                                              std::tuple{200, false, 3}}) {
    TVexaVect v;
    Show(v, 400, 200, zoom);
    v.SetZoomObjectsWidth(zoomWidth);
    v.SetObjPenWidth(kVXTemplate, 3);
    Add(v, vxkLINE, 0, 40, 160, 40);
    const QImage img = Painted(v);
    EXPECT_EQ(CountInColumn(img, 10, 0, img.height() - 1, kBlack), rows) << zoom << " " << zoomWidth;
  }
}

TEST_F(VectPaint, TextGripsHidingAndBurningIn) {
  TVexaVect v;
  Show(v, 200, 100);
  const int text = Add(v, vxkTEXT, 10, 10, 150, 40);
  v.SetObjText(text, "WWWW");
  const int box = Add(v, vxkBOX, 160, 60, 180, 80);
  QImage img = Painted(v);
  int inked = 0;
  for (int y = 10; y <= 40; ++y)
    for (int x = 10; x <= 150; ++x) inked += img.pixel(x, y) == kBlack;
  EXPECT_GT(inked, 20);
  EXPECT_EQ(img.pixel(9, 20), kWhite);  // clipped to its box
  // Grips invert: the top-left grip square of the selected box turns white pixels black.
  v.AddSelObject(box);
  img = Painted(v);
  EXPECT_EQ(img.pixel(156, 56), kBlack);
  v.SetAllObjectsHidden(true);
  img = Painted(v);
  EXPECT_EQ(img.pixel(160, 70), kWhite);
  v.SetAllObjectsHidden(false);
  v.UnSelAllObjects();
  v.CopyObjectsToBack();
  EXPECT_EQ(v.Bitmap().GetPixel(160, 70), CreateRGB(0, 0, 0));
  EXPECT_EQ(v.ObjectsCount(), 2);  // the objects remain
}

TEST_F(VectMouse, CreateSelectMoveResizeAndEditAText) {
  TVexaVect v;
  Show(v, 300, 300);
  int changes = 0, selections = 0;
  v.OnVectorialChanged = [&](TObject*) { ++changes; };
  v.OnSelectObject = [&](TObject*) { ++selections; };
  v.SetMouseInteractVt(VXMIV(miPutText));
  Press(v, 20, 20);
  Drag(v, 80, 50);
  Drag(v, 120, 60);
  Release(v, 120, 60);
  ASSERT_EQ(v.ObjectsCount(), 1);
  const int t = v.GetSelObjects().at(0);
  EXPECT_EQ(v.ObjRect(t), (TRect{20, 20, 120, 60}));
  ASSERT_EQ(v.EditingText(), t);  // a new text goes straight into editing
  QLineEdit* ed = v.TextEditor();
  EXPECT_EQ(ed->geometry(), QRect(20, 20, 101, 41));
  Key(ed, Qt::Key_H, "H");
  Key(ed, Qt::Key_I, "i");
  Key(ed, Qt::Key_Return);
  EXPECT_EQ(v.EditingText(), -1);
  EXPECT_EQ(v.ObjText(t), "Hi");
  EXPECT_EQ(changes, 1);

  // Select it by clicking inside, then drag its centre grip (70, 40) by (30, 50).
  v.SetMouseInteractVt(VXMIV(miObjectSelect));
  Click(v, 250, 250);
  EXPECT_EQ(v.GetSelObjects(), (std::vector<int>{t}));  // the nearest object, however far
  v.UnSelAllObjects();
  selections = 0;
  Click(v, 50, 40);
  EXPECT_EQ(v.GetSelObjects(), (std::vector<int>{t}));
  EXPECT_EQ(selections, 1);
  Press(v, 70, 40);
  Drag(v, 85, 65);
  Drag(v, 100, 90);
  Release(v, 100, 90);
  EXPECT_EQ(v.ObjRect(t), (TRect{50, 70, 150, 110}));
  // Resize with the bottom-right grip.
  Press(v, 150, 110);
  Drag(v, 170, 130);
  Release(v, 170, 130);
  EXPECT_EQ(v.ObjRect(t), (TRect{50, 70, 170, 130}));
  EXPECT_EQ(changes, 3);

  // A double click inside opens the editor at the new place; Escape undoes the last change.
  SendMouse(v, QEvent::MouseButtonDblClick, 100, 100, Qt::LeftButton, Qt::LeftButton);
  Release(v, 100, 100);
  ASSERT_EQ(v.EditingText(), t);
  EXPECT_EQ(ed->geometry(), QRect(50, 70, 121, 61));
  ed->selectAll();
  Key(ed, Qt::Key_X, "X");
  EXPECT_EQ(ed->text(), "X");
  Key(ed, Qt::Key_Escape);
  EXPECT_EQ(v.EditingText(), -1);
  EXPECT_EQ(v.ObjText(t), "Hi");
  // F2 on the view edits the first selected text; zooming re-places the editor.
  Key(&v, Qt::Key_F2);
  ASSERT_EQ(v.EditingText(), t);
  v.SetZoom(200);
  EXPECT_EQ(ed->geometry(), QRect(100, 140, 241, 121));
  Key(&v, Qt::Key_Escape);
  EXPECT_EQ(v.EditingText(), -1);
}

TEST_F(VectMouse, InsertingKeepsLinesDirectedAndBoxesOrdered) {
  TVexaVect v;
  Show(v, 300, 300);
  v.SetMouseInteractVt(VXMIV(miPutLine));
  Press(v, 200, 50);
  Drag(v, 100, 80);
  Release(v, 100, 80);
  EXPECT_EQ(v.ObjRect(kVXLast), (TRect{200, 50, 100, 80}));
  EXPECT_EQ(v.ObjKind(kVXLast), vxkLINE);
  // Ctrl snaps the end to the 45-degree line through the press point.
  Press(v, 100, 100);
  Drag(v, 150, 148, Qt::LeftButton, Qt::ControlModifier);
  Release(v, 150, 148, Qt::LeftButton, Qt::ControlModifier);
  const TRect snapped = v.ObjRect(kVXLast);
  EXPECT_EQ(snapped.Right - snapped.Left, snapped.Bottom - snapped.Top);
  v.SetMouseInteractVt(VXMIV(miPutBox));
  Press(v, 200, 150);
  Drag(v, 100, 120);
  Release(v, 100, 120);
  EXPECT_EQ(v.ObjRect(kVXLast), (TRect{100, 120, 200, 150}));
  // A click without dragging makes a box of the template's size at the click.
  Click(v, 30, 40);
  EXPECT_EQ(v.ObjRect(kVXLast), (TRect{30, 40, 130, 70}));
  // Ctrl makes the ellipse a circle.
  v.SetMouseInteractVt(VXMIV(miPutEllipse));
  Press(v, 50, 200);
  Drag(v, 90, 210, Qt::LeftButton, Qt::ControlModifier);
  Release(v, 90, 210, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(v.ObjRect(kVXLast), (TRect{50, 200, 90, 240}));
  EXPECT_EQ(v.ObjectsCount(), 5);
}

TEST_F(VectMouse, RubberBandSelectsWhatLiesInsideAndShiftToggles) {
  TVexaVect v;
  Show(v, 300, 300);
  const int a = Add(v, vxkBOX, 10, 10, 40, 40);
  const int b = Add(v, vxkELLIPSE, 60, 10, 90, 40);
  const int c = Add(v, vxkBOX, 10, 100, 200, 200);
  v.SetMouseInteractVt(VXMIV(miObjectSelect));
  Press(v, 5, 5);
  Drag(v, 100, 50);
  Release(v, 100, 50);
  EXPECT_EQ(v.GetSelObjects(), (std::vector<int>{a, b}));
  Click(v, 10, 150, Qt::LeftButton, Qt::ShiftModifier);
  EXPECT_EQ(v.GetSelObjects(), (std::vector<int>{a, b, c}));
  Click(v, 10, 25, Qt::LeftButton, Qt::ShiftModifier);
  EXPECT_EQ(v.GetSelObjects(), (std::vector<int>{b, c}));
}

TEST_F(VectModes, VectorAndViewModesExcludeEachOtherExceptMeasuring) {
  TVexaVect v;
  Show(v, 100, 100);
  v.SetMouseInteract(VXMI(miSelect));
  v.SetMouseInteractVt(VXMIV(miArea));
  EXPECT_EQ(v.MouseInteract(), VXMI(miSelect));  // measuring works on the view's selection
  v.SetMouseInteractVt(VXMIV(miArea) | VXMIV(miPutBox));
  EXPECT_EQ(v.MouseInteractVt(), VXMIV(miPutBox));
  EXPECT_EQ(v.MouseInteract(), 0u);
  v.SetMouseInteractVt(VXMIV(miLineLen));
  v.SetMouseInteract(VXMI(miSelectPolygon));
  EXPECT_EQ(v.MouseInteractVt(), VXMIV(miLineLen));
  v.SetMouseInteractVt(VXMIV(miPutRuler));
  v.SetMouseInteract(VXMI(miSelect));
  EXPECT_EQ(v.MouseInteractVt(), 0u);
  EXPECT_FALSE(v.Hint()->isVisible());
}

TEST_F(VectModes, MeasurementHintsAndDragLength) {
  TVexaVect v;
  Show(v, 200, 200);
  std::string seen;
  v.OnMeasureHint = [&](TObject*, std::string& text, double value) {
    seen = text;
    if (value > 80) text = "big: " + text;
  };
  v.Select(0, 0, 9, 9);
  v.SetMouseInteractVt(VXMIV(miArea));
  EXPECT_EQ(seen, "81.00 Pixels\xC2\xB2");
  EXPECT_EQ(v.Hint()->Text(), "big: 81.00 Pixels\xC2\xB2");
  EXPECT_TRUE(v.Hint()->isVisible());
  v.SetMouseInteractVt(VXMIV(miLineLen));
  EXPECT_EQ(seen, "36.00 Pixels");
  v.SetDPI(254, 254);
  v.SetMUnit(vxuMILLIMETERS);
  EXPECT_EQ(seen, "3.60 MM");
  v.SetScaleFromSelectionLen(72);  // 36 pixels measure 72 mm
  EXPECT_NEAR(v.GetSelectionLen(), 72, 1e-9);
  EXPECT_EQ(v.GetSelectionCentroid(), (TPoint{4, 4}));

  double ended = -1;
  v.OnDragLenEnd = [&](TObject*, double len) { ended = len; };
  v.SetMUnit(vxuPIXELS);
  v.SetScale(1);
  v.SetMouseInteractVt(VXMIV(miDragLen));
  Press(v, 10, 10);
  Drag(v, 40, 50);
  EXPECT_TRUE(v.Hint()->isVisible());
  EXPECT_EQ(v.Hint()->Text(), "50.00 Pixels");
  Release(v, 40, 50);
  EXPECT_DOUBLE_EQ(ended, 50);
  EXPECT_FALSE(v.Hint()->isVisible());
  EXPECT_EQ(v.ObjectsCount(), 0);  // measuring adds nothing
}

TEST_F(VectModes, IconBitmapAndRemovalCancelEditing) {
  TVexaVect v;
  Show(v, 100, 100);
  const int b = Add(v, vxkBITMAP, 0, 0, 31, 31);
  v.SetObjBitmapICO(b, QStyle::SP_MessageBoxCritical, 24, 32);
  ASSERT_NE(v.ObjBitmap(b), nullptr);
  EXPECT_EQ(v.ObjBitmap(b)->Width(), 32);
  EXPECT_EQ(v.ObjBitmap(b)->Height(), 24);
  const int t = Add(v, vxkTEXT, 40, 40, 90, 60);
  v.ActiveTextEdit(t);
  ASSERT_EQ(v.EditingText(), t);
  v.RemoveObject(t);
  EXPECT_EQ(v.EditingText(), -1);
  EXPECT_EQ(v.ObjectsCount(), 1);
}
