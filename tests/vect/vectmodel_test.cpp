#include "vexa/vect/vectmodel.h"

#include <gtest/gtest.h>

#include <cmath>

#include "vexa/core/raster.h"
#include "vexa/vect/measure.h"

using namespace vexa;

namespace {

TBitmap Solid(int w, int h, uint8_t r) {
  TBitmap b(w, h, pf24bit);
  b.Fill(CreateRGB(r, 10, 20));
  return b;
}

int Add(TVXVectModel& m, TVXVObjectKind kind, int l, int t, int r, int b, int frame = kVXRoot) {
  TVXVObject o = m.Obj(kVXTemplate);
  o.Kind = kind;
  o.Left = l;
  o.Top = t;
  o.Right = r;
  o.Bottom = b;
  return m.AddVObject(frame, o);
}

// Records events the way the widget would see them.
class Recorder : public TVXVectModel {
 public:
  int Selections = 0, Vectorial = 0, TemplateRefreshes = 0;

 protected:
  void Changed(int idx, bool always) override {
    if (idx == kVXTemplate && !always) ++TemplateRefreshes;
  }
  void SelectionChanged() override { ++Selections; }
  void VectorialChanged() override { ++Vectorial; }
};

}  // namespace

TEST(VectModel, LineKeepsItsDirectionWhileABoxIsStoredOrdered) {
  TVXVectModel m;
  const int line = Add(m, vxkLINE, 90, 40, 10, 5);
  const int box = Add(m, vxkBOX, 90, 40, 10, 5);
  EXPECT_EQ(m.ObjRect(line), (TRect{90, 40, 10, 5}));
  EXPECT_EQ(m.ObjRect(box), (TRect{10, 5, 90, 40}));
  EXPECT_EQ(m.ObjWidth(box), 81);
  m.SetObjLeft(box, 0);  // moves, keeping the size
  EXPECT_EQ(m.ObjRect(box), (TRect{0, 5, 80, 40}));
  m.SetObjHeight(box, 10);
  EXPECT_EQ(m.ObjRect(box).Bottom, 14);
}

TEST(VectModel, TemplateColourChangesOnlyLaterObjects) {
  Recorder m;
  const int before = m.AddNewObject();
  m.SetObjPenColor(kVXTemplate, clRed);
  const int after = m.AddNewObject();
  EXPECT_EQ(m.ObjPenColor(before), clBlack);
  EXPECT_EQ(m.ObjPenColor(after), clRed);
  EXPECT_EQ(m.ObjPenColor(kVXLast), clRed);
  // The template's setters ask for no repaint; the rectangle setters always do.
  EXPECT_EQ(m.TemplateRefreshes, 1);
  EXPECT_EQ(m.ObjectsCount(), 2);
  // Once the last object is gone, -2 names nothing and reaches no freed memory.
  m.RemoveObject(kVXLast);
  EXPECT_FALSE(m.IsAlive(kVXLast));
  EXPECT_FALSE(m.Obj(kVXLast).Alive);
}

TEST(VectModel, EqualBitmapsShareOneSlotUntilTheLastReferenceGoes) {
  TVXVectModel m;
  m.SetObjKind(kVXTemplate, vxkBITMAP);
  const int a = m.AddNewObject(), b = m.AddNewObject();
  m.SetObjBitmap(a, Solid(8, 8, 200));
  m.SetObjBitmap(b, Solid(8, 8, 200));
  ASSERT_EQ(m.ObjKind(a), vxkBITMAP);
  const int slot = m.Obj(a).BitmapIdx;
  EXPECT_EQ(m.Obj(b).BitmapIdx, slot);
  EXPECT_EQ(m.BitmapTable()[static_cast<size_t>(slot)].RefCount, 2);
  m.RemoveObject(a);
  EXPECT_EQ(m.BitmapTable()[static_cast<size_t>(slot)].RefCount, 1);
  m.RemoveObject(b);
  EXPECT_FALSE(m.BitmapTable()[static_cast<size_t>(slot)].Bitmap);
  // The freed slot is reused before the table grows.
  const size_t slots = m.BitmapTable().size();
  m.ShareBitmaps = false;
  const int c = m.AddNewObject(), d = m.AddNewObject();
  m.SetObjBitmap(c, Solid(4, 4, 1));
  m.SetObjBitmap(d, Solid(4, 4, 1));
  EXPECT_NE(m.Obj(c).BitmapIdx, m.Obj(d).BitmapIdx);
  EXPECT_EQ(m.BitmapTable().size(), slots + 2);  // the copies the adds took are gone, two new slots
}

TEST(VectModel, ZOrderMovesWithinAndAcrossFrames) {
  TVXVectModel m;
  const int a = m.AddNewObject(), b = m.AddNewObject(), c = m.AddNewObject();
  m.SetObjFrontOf(a, -1);
  EXPECT_EQ(m.Obj(kVXRoot).Children, (std::vector<int32_t>{b, c, a}));
  m.SetObjBackTo(a, -1);
  EXPECT_EQ(m.Obj(kVXRoot).Children, (std::vector<int32_t>{a, b, c}));
  m.SetObjFrontOf(a, b);
  EXPECT_EQ(m.Obj(kVXRoot).Children, (std::vector<int32_t>{b, a, c}));
  m.SetObjBackTo(c, b);
  EXPECT_EQ(m.Obj(kVXRoot).Children, (std::vector<int32_t>{c, b, a}));
  const int frame = Add(m, vxkFRAME, 0, 0, 100, 100);
  const int inner = Add(m, vxkBOX, 1, 1, 2, 2, frame);
  m.SetObjFrontOf(c, inner);
  EXPECT_EQ(m.Obj(c).Parent, frame);
  EXPECT_EQ(m.GetObjPos(frame, c), 1);
  EXPECT_EQ(m.GetObjPos(kVXRoot, c), -1);
}

TEST(VectModel, FindByNameAndIdSearchesFramesDepthFirst) {
  TVXVectModel m;
  const int frame = Add(m, vxkFRAME, 0, 0, 100, 100);
  const int deep = Add(m, vxkBOX, 1, 1, 2, 2, frame);
  const int top = m.AddNewObject();
  m.SetObjName(deep, "scale bar");
  m.SetObjID(deep, 7);
  m.SetObjID(top, 7);
  EXPECT_EQ(m.GetObjFromName("scale bar"), deep);
  EXPECT_EQ(m.GetObjFromID(7), deep);  // inside the earlier frame, found first
  EXPECT_EQ(m.GetObjFromName("missing"), -1);
  // Removing the frame frees its children with it.
  m.RemoveObject(frame);
  EXPECT_EQ(m.ObjectsCount(), 1);
  EXPECT_FALSE(m.IsAlive(deep));
  EXPECT_EQ(m.GetObjFromID(7), top);
}

TEST(VectModel, SelectionByRectangleAndStyle) {
  Recorder m;
  const int frame = Add(m, vxkFRAME, 0, 0, 500, 500);
  const int inFrame = Add(m, vxkBOX, 10, 10, 20, 20, frame);
  const int line = Add(m, vxkLINE, 50, 50, 30, 30);  // inside although drawn backwards
  const int outside = Add(m, vxkBOX, 10, 10, 120, 20);
  m.SelInRect(kVXRoot, 100, 100, 0, 0);
  EXPECT_EQ(m.GetSelObjects(), (std::vector<int>{inFrame, line}));
  EXPECT_EQ(m.Selections, 0);  // no event from SelInRect
  EXPECT_FALSE(m.IsSelObject(frame));
  EXPECT_FALSE(m.IsSelObject(outside));
  m.SetObjStyle(line, VXVS(vxvsVisible));  // no longer selectable
  EXPECT_FALSE(m.IsSelObject(line));
  EXPECT_EQ(m.Selections, 1);
  m.UnSelAllObjects();
  m.SelAllObjects();
  EXPECT_EQ(m.SelObjectsCount(), 3);
}

TEST(VectModel, DistanceToEachKindOfOutline) {
  TVXVObject o;
  o.Left = 0, o.Top = 0, o.Right = 100, o.Bottom = 50;
  o.Kind = vxkLINE;
  EXPECT_NEAR(TVXVectModel::CalcDistPtObj(o, 50, 35), std::hypot(4.0, 8.0), 0.01);
  o.Kind = vxkBOX;
  o.BrushStyle = bsClear;
  EXPECT_DOUBLE_EQ(TVXVectModel::CalcDistPtObj(o, 50, 20), 20);  // inside an unfilled box: nearest edge
  o.BrushStyle = bsSolid;
  EXPECT_DOUBLE_EQ(TVXVectModel::CalcDistPtObj(o, 50, 20), 0);
  EXPECT_DOUBLE_EQ(TVXVectModel::CalcDistPtObj(o, 110, 20), 10);
  o.Kind = vxkTEXT;
  EXPECT_DOUBLE_EQ(TVXVectModel::CalcDistPtObj(o, 50, 20), 0);
  o.Kind = vxkELLIPSE;  // centre (50, 25), radii 50 and 25
  EXPECT_NEAR(TVXVectModel::CalcDistPtObj(o, 50, 25), 25, 0.05);
  EXPECT_NEAR(TVXVectModel::CalcDistPtObj(o, 110, 25), 10, 0.05);
  EXPECT_NEAR(TVXVectModel::CalcDistPtObj(o, 50, -5), 5, 0.05);
  // The arc from angle 0 counter-clockwise (on screen) to pi: the upper half only.
  o.Kind = vxkARC;
  o.Angle1 = 0;
  o.Angle2 = M_PI;
  EXPECT_NEAR(TVXVectModel::CalcDistPtObj(o, 50, -5), 5, 0.05);
  EXPECT_NEAR(TVXVectModel::CalcDistPtObj(o, 50, 55), 55, 0.05);  // the whole ellipse: 5
}

TEST(VectModel, NearestObjectPrefersTheTopmostAndSkipsWhatCannotBeSelected) {
  TVXVectModel m;
  const TRect all{0, 0, 1000, 1000};
  const int lower = Add(m, vxkLINE, 0, 10, 100, 10);
  const int upper = Add(m, vxkLINE, 0, 10, 100, 10);
  const int frame = Add(m, vxkFRAME, 0, 0, 1000, 1000);
  const int inFrame = Add(m, vxkLINE, 0, 50, 100, 50, frame);
  double d;
  EXPECT_EQ(m.FindNearObj(kVXRoot, 50, 12, d, all), upper);
  EXPECT_DOUBLE_EQ(d, 2);
  EXPECT_EQ(m.FindNearObj(kVXRoot, 50, 49, d, all), inFrame);
  m.SetObjStyle(upper, VXVS(vxvsVisible));
  EXPECT_EQ(m.FindNearObj(kVXRoot, 50, 12, d, all), lower);
  // Objects outside the visible part do not count; nothing found returns the frame.
  EXPECT_EQ(m.FindNearObj(kVXRoot, 50, 12, d, TRect{500, 500, 600, 600}), kVXRoot);
  EXPECT_EQ(d, 1000000000);
}

TEST(VectModel, SelectionGripsInClientPixels) {
  TVXVectModel m;
  TVXViewGeometry g;
  g.BmpW = g.BmpH = 400;
  g.Zoom = 200;
  g.ClientW = g.ClientH = g.OuterW = g.OuterH = 500;
  g.Layout();
  const int box = Add(m, vxkBOX, 10, 20, 29, 39);
  const int line = Add(m, vxkLINE, 100, 100, 50, 150);
  m.AddSelObjectNS(box);
  m.AddSelObjectNS(line);
  int grip;
  struct Case {
    int x, y, pos, grip;
  } cases[] = {
      {20, 40, 0, 1},    // (10, 20) at zoom 200
      {62, 82, 0, 2},    // (29, 39): (58, 78), within 4
      {40, 60, 0, 3},    // centre (20, 30)
      {58, 40, 0, 4},    // top-right
      {20, 78, 0, 5},    // bottom-left
      {100, 300, 1, 2},  // the line's end
      {200, 300, kVXNone, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(m.FindSelGrip(c.x, c.y, grip, g), c.pos) << c.x << "," << c.y;
    EXPECT_EQ(grip, c.grip) << c.x << "," << c.y;
  }
  // Lines have no corner grips: (50, 100) -> client (100, 200) would be one for a box.
  EXPECT_EQ(m.FindSelGrip(100, 200, grip, g), kVXNone);
}

TEST(VectModel, ExtentsCoverEveryNonFrameObject) {
  TVXVectModel m;
  EXPECT_EQ(m.GetObjectsExtents(), (TRect{0, 0, 0, 0}));
  Add(m, vxkFRAME, 0, 0, 5000, 5000);
  Add(m, vxkLINE, 300, 10, 20, 200);
  Add(m, vxkBOX, 5, 5, 100, 250);
  EXPECT_EQ(m.GetObjectsExtents(), (TRect{0, 0, 301, 251}));
}

TEST(VectModel, FontPropertiesEditTheDescription) {
  TVXVectModel m;
  m.SetObjKind(kVXTemplate, vxkTEXT);
  const int t = m.AddNewObject();
  m.SetObjFontAngle(t, 90);
  m.SetObjFontName(t, "DejaVu Sans Mono Extra Long Family Name Beyond 31");
  m.SetObjFontStyles(t, (1u << vxfsBold) | (1u << vxfsUnderline));
  EXPECT_EQ(m.ObjFont(t).Escapement, 900);
  EXPECT_EQ(m.ObjFontAngle(t), 90);
  EXPECT_EQ(m.ObjFontName(t).size(), 31u);
  EXPECT_EQ(m.ObjFontStyles(t), (1u << vxfsBold) | (1u << vxfsUnderline));
  TVXLogFont f;
  f.Height = -20;
  m.SetObjFont(t, f, clBlue);
  EXPECT_EQ(m.ObjPenColor(t), clBlue);
  EXPECT_EQ(m.ObjFontHeight(t), -20);
  uint8_t bytes[kVXLogFontSize];
  VXLogFontToBytes(m.ObjFont(t), bytes);
  EXPECT_EQ(VXLogFontFromBytes(bytes), m.ObjFont(t));
}

// --- measurement

struct UnitCase {
  TVXUnits Unit;
  int Dpi;
  double HundredPixels;
  const char* Text;
};
class VectUnits : public ::testing::TestWithParam<UnitCase> {};

TEST_P(VectUnits, HundredPixelsMeasure) {
  const UnitCase& c = GetParam();
  TVXVectModel m;
  m.SetMeasureDPI(c.Dpi, c.Dpi);
  m.SetMUnit(c.Unit);
  EXPECT_NEAR(100 * m.CoefX(), c.HundredPixels, 1e-12);
  EXPECT_EQ(m.MeasureText(100 * m.CoefX(), c.Unit, false), c.Text);
  EXPECT_EQ(m.ObjRulerUnit(kVXTemplate), c.Unit);
}

INSTANTIATE_TEST_SUITE_P(All, VectUnits,
                         ::testing::Values(UnitCase{vxuCENTIMETERS, 254, 1.0, "1.00 CM"},
                                           UnitCase{vxuMILLIMETERS, 254, 10.0, "10.00 MM"},
                                           UnitCase{vxuINCHES, 50, 2.0, "2.00 Inches"},
                                           UnitCase{vxuMETERS, 254, 0.01, "0.01 Mt"},
                                           UnitCase{vxuPIXELS, 72, 100.0, "100.00 Pixels"}));

TEST(VectMeasure, ScaleFromPixelsMakesThatLengthMeasureTheValue) {
  TVXVectModel m;
  m.SetScaleFromPixels(200, 5.0);
  EXPECT_DOUBLE_EQ(m.Scale(), 0.025);
  const TPoint line[] = {{0, 0}, {200, 0}};
  EXPECT_DOUBLE_EQ(VXSelectionLen(line, 2, m.CoefX(), m.CoefY(), false, nullptr), 5.0);
  m.SetMeasureDPI(254, 254);
  m.SetMUnit(vxuCENTIMETERS);
  m.SetScaleFromPixels(100, 3.0);
  EXPECT_NEAR(100 * m.CoefX(), 3.0, 1e-12);
}

TEST(VectMeasure, RectangleSelectionLengthAreaAndCentroid) {
  const TPoint rect[] = {{0, 0}, {9, 0}, {9, 9}, {0, 9}};
  EXPECT_DOUBLE_EQ(VXSelectionLen(rect, 4, 1, 1, false, nullptr), 36);
  EXPECT_DOUBLE_EQ(VXSelectionArea(rect, 4, 1, 1), 81);
  EXPECT_DOUBLE_EQ(VXSelectionArea(rect, 4, 0.5, 2), 81);
  EXPECT_EQ(VXSelectionCentroid(rect, 4), (TPoint{4, 4}));
  // While drawing, the polygon stays open and the rubber band counts.
  const TPoint rubber{0, 20};
  EXPECT_DOUBLE_EQ(VXSelectionLen(rect, 4, 1, 1, true, &rubber), 27 + 11);
  EXPECT_DOUBLE_EQ(VXSelectionLen(rect, 1, 1, 1, false, nullptr), 0);
  EXPECT_DOUBLE_EQ(VXSelectionArea(rect, 2, 1, 1), 0);
}

TEST(VectMeasure, PolygonsOfOppositeOrientationCancel) {
  const TPoint two[] = {{0, 0}, {9, 0}, {9, 9}, {0, 9}, kPolyBreak, {20, 0}, {20, 9}, {29, 9}, {29, 0}};
  EXPECT_DOUBLE_EQ(VXSelectionArea(two, 9, 1, 1), 0);
  EXPECT_DOUBLE_EQ(VXSelectionLen(two, 9, 1, 1, false, nullptr), 72);
  const TPoint same[] = {{0, 0}, {9, 0}, {9, 9}, {0, 9}, kPolyBreak, {20, 0}, {29, 0}, {29, 9}, {20, 9}};
  EXPECT_DOUBLE_EQ(VXSelectionArea(same, 9, 1, 1), 162);
  EXPECT_EQ(VXSelectionCentroid(two, 9), (TPoint{4, 4}));  // first polygon only
}

TEST(VectMeasure, DragLengthAndHintText) {
  EXPECT_DOUBLE_EQ(VXDragLen(60, 80, 200, 1, 1), 50);
  TVXVectModel m;
  m.FloatDigits = 3;
  EXPECT_EQ(m.MeasureText(2.0 / 3, vxuPIXELS, true), "0.667 Pixels\xC2\xB2");
  m.FloatPrecision = 4;  // significant digits win over decimals
  EXPECT_EQ(m.MeasureText(123.456, vxuPIXELS, false), "123.500 Pixels");
}
