// The vector objects of a vector view, without any GUI: object records, frames,
// the shared bitmap table, selection, z-order, hit-testing and measurement units.
//
// Objects live in one array and are named by their index in it; an index stays
// valid until RemoveAllObjects (a removed object's slot is left dead). Negative
// indices name special records:
//
//     -1 kVXTemplate  the properties the next created object gets
//     -2 kVXLast      the last object added
//     -3 kVXRoot      the root frame; its children are the top-level objects
//     -4 kVXNone      no object
//
// Rectangles are in bitmap pixels, inclusive. For lines and rulers (Left, Top) is
// the start point and (Right, Bottom) the end point, in any order; every other
// kind is stored ordered once added. Client coordinates (grips, the drawing
// position of an object) come from a TVXViewGeometry and truncate, unlike the
// view's rounded mapping:  client x = trunc(x * Zoom / 100) + OffX - ViewX.
//
// Indices are trusted: callers pass a live object index or one of -1, -2, -3; any
// other index reaches a scratch record rather than memory it does not own.
// The hooks (virtual, empty here) let the widget repaint and fire its events.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/drawstyles.h"
#include "vexa/view/viewgeometry.h"

namespace vexa {

class TStream;

enum TVXVObjectKind : uint8_t { vxkFRAME, vxkLINE, vxkBOX, vxkELLIPSE, vxkARC, vxkBITMAP, vxkTEXT, vxkRULER };
enum TVXShape : uint8_t { vxsNONE, vxsINARROW, vxsOUTARROW };
enum TVXUnits : uint8_t { vxuPIXELS, vxuINCHES, vxuKM, vxuMETERS, vxuCENTIMETERS, vxuMILLIMETERS };
enum TVXVRulerType : uint8_t { vxrtRULER, vxrtQUOTEBEGIN, vxrtQUOTECENTER, vxrtQUOTEEND };

enum TVXVStyleItem { vxvsSelectable, vxvsMoveable, vxvsSizeable, vxvsVisible };
/// Set of TVXVStyleItem, bit i for item i (the bits stored files use: 1, 2, 4, 8).
using TVXVStyle = unsigned;
constexpr TVXVStyle VXVS(TVXVStyleItem i) { return 1u << i; }
constexpr TVXVStyle kVXVAllStyles = 15;

constexpr int kVXTemplate = -1, kVXLast = -2, kVXRoot = -3, kVXNone = -4;

/// The 60-byte font description stored with text objects (a classic logical font).
struct TVXLogFont {
  int32_t Height = -13;  ///< pixels; negative: character height, 0: fit the box
  int32_t Width = 0;
  int32_t Escapement = 0;  ///< tenths of a degree, counter-clockwise
  int32_t Orientation = 0;
  int32_t Weight = 400;  ///< 700 = bold
  uint8_t Italic = 0, Underline = 0, StrikeOut = 0, CharSet = 1, OutPrecision = 0, ClipPrecision = 0,
          Quality = 0, PitchAndFamily = 0;
  char FaceName[32] = "Arial";  ///< zero-terminated

  std::string Face() const;
  void SetFace(const std::string& name);
  friend bool operator==(const TVXLogFont&, const TVXLogFont&) = default;
};
constexpr int kVXLogFontSize = 60;
/// The little-endian 60-byte layout, and back.
void VXLogFontToBytes(const TVXLogFont& f, uint8_t out[kVXLogFontSize]);
TVXLogFont VXLogFontFromBytes(const uint8_t in[kVXLogFontSize]);

enum TVXFontStyleItem { vxfsBold, vxfsItalic, vxfsUnderline, vxfsStrikeOut };
/// Set of TVXFontStyleItem, bit i for item i.
using TVXFontStyles = unsigned;

struct TVXVObject {
  int32_t Left = 0, Top = 0, Right = 63, Bottom = 63;
  TVXVObjectKind Kind = vxkBOX;
  int32_t Parent = kVXRoot;
  std::vector<int32_t> Children;  ///< frames only; drawing order
  TVXShape BeginShape = vxsNONE, EndShape = vxsNONE;
  int32_t ShapeWidth = 10, ShapeHeight = 20;
  TColor PenColor = clBlack;  ///< also the text colour
  TPenStyle PenStyle = psSolid;
  int32_t PenWidth = 1;
  TColor BrushColor = clWhite;
  TBrushStyle BrushStyle = bsClear;
  /// Arcs, radians. The point at angle a is (cx + rx cos a, cy + ry sin a), y pointing
  /// down; the arc runs counter-clockwise on screen from Angle1 to Angle2 (equal
  /// angles modulo 2 pi but not equal values: the whole ellipse).
  double Angle1 = 0, Angle2 = 6.283185307179586;
  int32_t BitmapIdx = -1;  ///< slot of the bitmap table, -1 none
  std::string Text;
  std::optional<TVXLogFont> Font;
  uint8_t TextAlign = 0;  ///< 0 left, 1 right, 2 centred
  std::string Name;
  int32_t ID = 0;
  TVXVStyle Style = kVXVAllStyles;
  TVXUnits RulerUnit = vxuPIXELS;
  TVXVRulerType RulerType = vxrtQUOTECENTER;
  bool Alive = true;  ///< false once removed

  bool IsSegment() const { return Kind == vxkLINE || Kind == vxkRULER; }
  bool Has(TVXVStyleItem i) const { return (Style & VXVS(i)) != 0; }
};

/// One slot of the shared bitmap table; an empty slot has no bitmap.
struct TVXBitmapSlot {
  std::unique_ptr<TBitmap> Bitmap;
  int32_t RefCount = 0;
};

/// Display names of the units ("Pixels", "Inches", "Km", "Mt", "CM", "MM"), indexed by TVXUnits.
extern const char* const strunits[6];

/// Units per bitmap pixel for a unit at a resolution and scale (1.0 for pixels).
void VXCalcCoef(TVXUnits unit, int dpix, int dpiy, double scale, double& cx, double& cy);

/// The picture the template starts with: a 64 x 64 24-bit error sign (white cross on a red disc).
TBitmap VXDefaultObjectBitmap();

class TVXVectModel {
 public:
  TVXVectModel();
  virtual ~TVXVectModel();
  TVXVectModel(const TVXVectModel&) = delete;
  TVXVectModel& operator=(const TVXVectModel&) = delete;

  // --- records
  /// The record an index names (-1, -2, -3 resolved).
  TVXVObject& Obj(int idx);
  const TVXVObject& Obj(int idx) const;
  /// -2 resolved to the last object added; other indices unchanged.
  int Resolve(int idx) const { return idx == kVXLast ? FLast : idx; }
  /// Live objects at all levels (the root and the template not counted).
  int ObjectsCount() const { return FCount; }
  /// Size of the object array, dead slots included (valid indices are below it).
  int ObjectsCapacity() const { return static_cast<int>(FObjects.size()); }
  bool IsAlive(int idx) const;

  /// Adds a copy of the template to the root frame; returns its index.
  int AddNewObject();
  /// Appends a copy of rec to a frame: text, font and name are copied, a bitmap
  /// object takes a reference to rec's bitmap slot, the rectangle is ordered unless
  /// the kind is line or ruler. Returns the new index.
  int AddVObject(int frame, const TVXVObject& rec);
  /// Unselects and frees an object (a frame's children recursively) and removes it
  /// from its frame.
  void RemoveObject(int idx);
  void RemoveAllObjects();

  /// Depth-first from the root frame; -1 when absent.
  int GetObjFromName(const std::string& name) const;
  int GetObjFromID(int id) const;
  /// Position of idx in the frame's child list, -1 when absent.
  int GetObjPos(int frame, int idx) const;

  /// Moves idx to just after `other` in other's frame (the end of its own frame when other < 0).
  void SetObjFrontOf(int idx, int other) { MoveInFrame(idx, other, true); }
  /// Moves idx to just before `other` in other's frame (the start of its own frame when other < 0).
  void SetObjBackTo(int idx, int other) { MoveInFrame(idx, other, false); }

  // --- properties (setters accept -1 to change the template; see Changed)
  TVXVObjectKind ObjKind(int i) const { return Obj(i).Kind; }
  void SetObjKind(int i, TVXVObjectKind k) { SetField(i, &TVXVObject::Kind, k); }
  TColor ObjPenColor(int i) const { return Obj(i).PenColor; }
  void SetObjPenColor(int i, TColor c) { SetField(i, &TVXVObject::PenColor, c); }
  TPenStyle ObjPenStyle(int i) const { return Obj(i).PenStyle; }
  void SetObjPenStyle(int i, TPenStyle s) { SetField(i, &TVXVObject::PenStyle, s); }
  int ObjPenWidth(int i) const { return Obj(i).PenWidth; }
  void SetObjPenWidth(int i, int w) { SetField(i, &TVXVObject::PenWidth, w); }
  TColor ObjBrushColor(int i) const { return Obj(i).BrushColor; }
  void SetObjBrushColor(int i, TColor c) { SetField(i, &TVXVObject::BrushColor, c); }
  TBrushStyle ObjBrushStyle(int i) const { return Obj(i).BrushStyle; }
  void SetObjBrushStyle(int i, TBrushStyle s) { SetField(i, &TVXVObject::BrushStyle, s); }
  TVXVStyle ObjStyle(int i) const { return Obj(i).Style; }
  /// Clearing vxvsSelectable also unselects the object.
  void SetObjStyle(int i, TVXVStyle s);
  /// Inclusive rectangle as Left, Top, Right, Bottom (unordered for lines and rulers).
  TRect ObjRect(int i) const;
  void SetObjRect(int i, const TRect& r);
  int ObjLeft(int i) const { return Obj(i).Left; }
  int ObjTop(int i) const { return Obj(i).Top; }
  /// Move the object keeping its size.
  void SetObjLeft(int i, int v);
  void SetObjTop(int i, int v);
  /// Right - Left + 1; setting moves Right (Bottom).
  int ObjWidth(int i) const { return Obj(i).Right - Obj(i).Left + 1; }
  int ObjHeight(int i) const { return Obj(i).Bottom - Obj(i).Top + 1; }
  void SetObjWidth(int i, int v);
  void SetObjHeight(int i, int v);
  int ObjID(int i) const { return Obj(i).ID; }
  void SetObjID(int i, int id) { SetField(i, &TVXVObject::ID, id, true); }
  const std::string& ObjName(int i) const { return Obj(i).Name; }
  void SetObjName(int i, const std::string& s) { SetField(i, &TVXVObject::Name, s); }
  const std::string& ObjText(int i) const { return Obj(i).Text; }
  void SetObjText(int i, const std::string& s) { SetField(i, &TVXVObject::Text, s); }
  /// The font description, or the template's when the object has none.
  TVXLogFont ObjFont(int i) const;
  /// Stores the description; the colour becomes the pen colour.
  void SetObjFont(int i, const TVXLogFont& f, TColor color);
  /// Escapement / 10, degrees.
  int ObjFontAngle(int i) const { return ObjFont(i).Escapement / 10; }
  void SetObjFontAngle(int i, int degrees);
  int ObjFontHeight(int i) const { return ObjFont(i).Height; }
  void SetObjFontHeight(int i, int h);
  std::string ObjFontName(int i) const { return ObjFont(i).Face(); }
  void SetObjFontName(int i, const std::string& name);
  TVXFontStyles ObjFontStyles(int i) const;
  void SetObjFontStyles(int i, TVXFontStyles s);
  int ObjTextAlign(int i) const { return Obj(i).TextAlign; }
  void SetObjTextAlign(int i, int a) { SetField(i, &TVXVObject::TextAlign, a); }
  TVXShape ObjBeginShape(int i) const { return Obj(i).BeginShape; }
  void SetObjBeginShape(int i, TVXShape s) { SetField(i, &TVXVObject::BeginShape, s); }
  TVXShape ObjEndShape(int i) const { return Obj(i).EndShape; }
  void SetObjEndShape(int i, TVXShape s) { SetField(i, &TVXVObject::EndShape, s); }
  int ObjShapeWidth(int i) const { return Obj(i).ShapeWidth; }
  void SetObjShapeWidth(int i, int w) { SetField(i, &TVXVObject::ShapeWidth, w); }
  int ObjShapeHeight(int i) const { return Obj(i).ShapeHeight; }
  void SetObjShapeHeight(int i, int h) { SetField(i, &TVXVObject::ShapeHeight, h); }
  TVXUnits ObjRulerUnit(int i) const { return Obj(i).RulerUnit; }
  void SetObjRulerUnit(int i, TVXUnits u) { SetField(i, &TVXVObject::RulerUnit, u, true); }
  TVXVRulerType ObjRulerType(int i) const { return Obj(i).RulerType; }
  void SetObjRulerType(int i, TVXVRulerType t) { SetField(i, &TVXVObject::RulerType, t, true); }
  double ObjAngle1(int i) const { return Obj(i).Angle1; }
  double ObjAngle2(int i) const { return Obj(i).Angle2; }
  void SetObjAngles(int i, double a1, double a2);
  /// The object's bitmap (null when it has none); owned by the table.
  const TBitmap* ObjBitmap(int i) const;
  /// Gives the object a copy of bmp, or a shared reference to an equal bitmap.
  void SetObjBitmap(int i, const TBitmap& bmp);
  /// As SetObjBitmap without a refresh.
  void SetObjBitmapNU(int i, const TBitmap& bmp);
  /// Makes the object refer to an existing slot (-1 none), without a refresh.
  void SetObjBitmapIdxNU(int i, int slot);

  // --- bitmap table
  bool ShareBitmaps = true;
  const std::vector<TVXBitmapSlot>& BitmapTable() const { return FBitmaps; }
  /// A slot holding bmp with one more reference: an equal bitmap's slot when sharing
  /// (searched from the last slot), else a copy in the first empty slot.
  int AcquireBitmap(const TBitmap& bmp);
  /// One reference less; the slot is emptied when the last one goes.
  void ReleaseBitmap(int slot);
  /// Drops empty slots, keeping order, and renumbers every reference (template included).
  void CompactBitmaps();

  // --- selection (object indices in selection order)
  const std::vector<int>& GetSelObjects() const { return FSelected; }
  int SelObjectsCount() const { return static_cast<int>(FSelected.size()); }
  bool IsSelObject(int idx) const;
  void AddSelObject(int idx);
  /// As AddSelObject without the selection event.
  void AddSelObjectNS(int idx);
  void UnSelObject(int idx);
  void UnSelAllObjects();
  /// As UnSelAllObjects without the selection event.
  void UnSelAllObjectsNS() { FSelected.clear(); }
  /// Selects every object inside the root frame's rectangle.
  void SelAllObjects();
  /// Adds (without event) every non-frame object whose rectangle lies entirely inside
  /// the inclusive bitmap rectangle (x1, y1)-(x2, y2), searching frames recursively.
  void SelInRect(int frame, int x1, int y1, int x2, int y2);

  // --- hit-testing
  /// Distance in bitmap pixels from (x, y) to an object's outline (0 inside filled kinds).
  static double CalcDistPtObj(const TVXVObject& o, int x, int y);
  /// The nearest selectable object among the frame's children (recursively) whose
  /// rectangle meets `visible` (bitmap pixels, inclusive); ties go to the top-most.
  /// Returns the frame itself when nothing qualifies.
  int FindNearObj(int frame, int x, int y, double& dist, const TRect& visible) const;
  /// Grip (1 start/top-left, 2 end/bottom-right, 3 centre, 4 top-right, 5 bottom-left)
  /// of a selected object under client point (x, y); returns the position in the
  /// selection list, or kVXNone.
  int FindSelGrip(int x, int y, int& grip, const TVXViewGeometry& g) const;
  /// (0, 0, max Right + 1, max Bottom + 1) over all live non-frame objects.
  TRect GetObjectsExtents() const;

  // --- persistence (vxvstream.cpp) and import (dxf.cpp)
  /// Writes "VXV5" (see vxvstream.cpp); compacts the bitmap table first.
  void SaveToStreamVXV(TStream& stream);
  /// Replaces all objects and Scale. Throws EInvalidGraphic("unrecognized VXV stream")
  /// for a foreign stream and a stream error for truncated or corrupt data, keeping the
  /// objects read so far; the template keeps its bitmap either way.
  void LoadFromStreamVXV(TStream& stream);
  void SaveToFileVXV(const std::string& name);
  void LoadFromFileVXV(const std::string& name);
  /// Adds the LINE, CIRCLE and ARC entities of a DXF drawing as objects, scaled into a
  /// bmpW x bmpH bitmap by the header's extents (Y axis pointing up). Unknown entities
  /// and malformed numbers are skipped. Throws only for stream errors.
  void ImportDXFStream(TStream& stream, int bmpW, int bmpH);
  void ImportDXF(const std::string& fileName, int bmpW, int bmpH);

  // --- measurement
  TVXUnits MUnit() const { return FMUnit; }
  /// Also sets the template's ruler unit.
  void SetMUnit(TVXUnits u);
  double Scale() const { return FScale; }
  void SetScale(double s);
  /// Chooses Scale so that `pixels` measure `value` horizontally in MUnit.
  void SetScaleFromPixels(int pixels, double value);
  /// The resolution the coefficients use (the view passes its DPIX / DPIY).
  void SetMeasureDPI(int dpix, int dpiy);
  void CalcCoef(double& cx, double& cy, TVXUnits unit) const;
  double CoefX() const { return FCoefX; }
  double CoefY() const { return FCoefY; }
  int FloatDigits = 2, FloatPrecision = 15;
  /// Store and refresh the hint.
  void SetFloatDigits(int digits);
  void SetFloatPrecision(int precision);
  /// The value formatted for a hint: fixed, FloatPrecision significant digits,
  /// FloatDigits decimals, a space and the unit's name (with "²" for areas).
  std::string MeasureText(double value, TVXUnits unit, bool area) const;

 protected:
  template <class T, class V>
  void SetField(int i, T TVXVObject::*field, V value, bool always = false) {
    Obj(i).*field = static_cast<T>(value);
    Changed(i, always);
  }
  /// Something about object idx changed; `always` for the setters that refresh even for the template.
  virtual void Changed(int idx, bool always) { (void)idx, (void)always; }
  virtual void SelectionChanged() {}
  virtual void VectorialChanged() {}
  virtual void CancelInteracts() {}
  /// Measurement state changed (unit, scale, resolution).
  virtual void MeasureChanged() {}
  void UpdateCoef();

  int FLast = kVXNone;

 private:
  void FreeObject(int idx);
  void DetachFromParent(int idx);
  void MoveInFrame(int idx, int other, bool front);
  template <class F>
  void SetProp(int i, bool always, F&& f);
  TVXLogFont& EditFont(int i);
  int Search(int frame, const std::function<bool(const TVXVObject&)>& match) const;

  std::vector<TVXVObject> FObjects;
  TVXVObject FTemplate, FRoot;
  mutable TVXVObject FScratch;
  int FCount = 0;
  std::vector<TVXBitmapSlot> FBitmaps;
  std::vector<int> FSelected;
  TVXUnits FMUnit = vxuPIXELS;
  double FScale = 1.0, FCoefX = 1.0, FCoefY = 1.0;
  int FDPIX = 96, FDPIY = 96;
};

/// Client position of a bitmap point as objects are drawn (truncating).
inline int VXObjX(const TVXViewGeometry& g, int x) {
  return static_cast<int>(static_cast<int64_t>(x) * g.Zoom / 100) + g.OffX - g.ViewX;
}
inline int VXObjY(const TVXViewGeometry& g, int y) {
  return static_cast<int>(static_cast<int64_t>(y) * g.Zoom / 100) + g.OffY - g.ViewY;
}

}  // namespace vexa
