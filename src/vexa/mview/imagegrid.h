// TVXImageGrid: the GUI-free half of the thumbnail grid. It holds the image list,
// lays the cells out, keeps the selection, navigates with the keyboard rules,
// decides what to load and what to drop while painting, and steps playback. The
// widget (TVexaMView) and the headless contact-sheet renderer drive it; neither
// repeats any of these rules.
//
// Storage. Each image is either
//   packed      its pixels held in the record (pf1bit or pf24bit), or
//   checked out a bitmap object handed out by GetBitmap (count > 0), or
//   absent      nothing in memory; a file name or an ID (>= 0) lets it be reloaded.
// Packing and unpacking move the pixel block, they never copy it. The selected
// image is always checked out, so GetFBitmap returns a stable object for the
// attached components until the selection changes (bitmap-change callbacks).
//
// Content coordinates: cell (x, y) as laid out; the client shows the content from
// (ViewX, ViewY). Cells are ThumbWidth x ThumbHeight:
//
//     HorizBorder   ThumbWidth   HorizBorder   ThumbWidth ...
//     +----------+------------+-------------+------------+
//     |          | UpperGap   |             |            |
//     |          | picture    |             |            |    drawing height =
//     |          | BottomGap  |             |            |    ThumbHeight - gaps
//     +----------+------------+-------------+------------+
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/vxview.h"
#include "vexa/io/vexaio.h"

namespace vexa {

enum TVXStoreType { vxtNormal, vxtThumb };
enum TVXMMouseInteractItem { mmiScroll, mmiSelect };
/// Set of TVXMMouseInteractItem (bit 1 << member).
using TVXMMouseInteract = unsigned;
enum TVXMKeyInteractItem { mkiMoveSelected };
/// Set of TVXMKeyInteractItem (bit 1 << member).
using TVXMKeyInteract = unsigned;
enum TVXMDisplayMode { mdGrid, mdSingle };
/// Keyboard moves of the selection.
enum TVXSeek { iskLeft, iskRight, iskUp, iskDown, iskPagDown, iskPagUp, iskFirst, iskLast };
/// Last list operation, read (and cleared) by GetLastOp.
enum TVXGridOp { vxgoNone = 0, vxgoInsert = 1, vxgoDelete = 2 };

/// The application hands out a bitmap for an ID; it stays the application's (the
/// grid copies it). Leaving it null stores an empty image.
using TVXImageIDRequestEvent = std::function<void(TObject* sender, int id, TBitmap*& bitmap)>;
using TVXImageSelectEvent = std::function<void(TObject* sender, int idx)>;
using TVXMProgressEvent = std::function<void(TObject* sender, int per, int idx)>;
/// Change: 0 = scroll position.
using TVXGridViewChangeEvent = std::function<void(TObject* sender, int change)>;

/// What painting needs of a surface. Rectangles are right/bottom exclusive, in
/// client pixels. Excluded rectangles are protected from FillUncovered.
class TVXGridPainter {
 public:
  virtual ~TVXGridPainter() = default;
  virtual void FillRect(const TRect& r, TColor color) = 0;
  virtual void StretchDraw(const TRect& dst, const TBitmap& bmp) = 0;
  /// A hollow one-pixel rectangle.
  virtual void FrameRect(const TRect& r, TColor color) = 0;
  virtual void ExcludeRect(const TRect& r) = 0;
  /// Fills the client area except the excluded rectangles.
  virtual void FillUncovered(TColor color) = 0;
  /// Called after each cell is drawn (the widget fires OnImageDraw from here).
  virtual void CellDrawn(int /*idx*/, int /*left*/, int /*top*/) {}
};

/// The largest size with the aspect ratio of w x h inside boxW x boxH (sizes
/// truncated, at least 1); small images are enlarged.
void VXFitSize(int w, int h, int boxW, int boxH, int& outW, int& outH);

class TVXImageGrid : public TVXView {
 public:
  explicit TVXImageGrid(TComponent* owner = nullptr);
  ~TVXImageGrid() override;

  // --- TVXView
  TBitmap* GetFBitmap() override;
  void Update() override;

  // --- properties (setters of layout and appearance call Update)
  TVXStoreType StoreType() const { return FStoreType; }
  void SetStoreType(TVXStoreType v) { FStoreType = v; }
  int ThumbWidth() const { return FThumbWidth; }
  void SetThumbWidth(int v) { SetAndUpdate(FThumbWidth, imax(1, v)); }
  int ThumbHeight() const { return FThumbHeight; }
  void SetThumbHeight(int v) { SetAndUpdate(FThumbHeight, imax(1, v)); }
  int HorizBorder() const { return FHorizBorder; }
  void SetHorizBorder(int v) { SetAndUpdate(FHorizBorder, imax(0, v)); }
  int VertBorder() const { return FVertBorder; }
  void SetVertBorder(int v) { SetAndUpdate(FVertBorder, imax(0, v)); }
  int BottomGap() const { return FBottomGap; }
  void SetBottomGap(int v) { SetAndUpdate(FBottomGap, imax(0, v)); }
  int UpperGap() const { return FUpperGap; }
  void SetUpperGap(int v) { SetAndUpdate(FUpperGap, imax(0, v)); }
  bool VisibleSelection() const { return FVisibleSelection; }
  void SetVisibleSelection(bool v) { SetAndUpdate(FVisibleSelection, v); }
  TVXMDisplayMode DisplayMode() const { return FDisplayMode; }
  /// During playback only the mode to restore afterwards changes.
  void SetDisplayMode(TVXMDisplayMode v);
  int GridWidth() const { return FGridWidth; }
  void SetGridWidth(int v) { SetAndUpdate(FGridWidth, imax(-1, v)); }
  int SelectionWidth() const { return FSelectionWidth; }
  void SetSelectionWidth(int v) { SetAndUpdate(FSelectionWidth, imax(0, v)); }
  TColor SelectionColor() const { return FSelectionColor; }
  void SetSelectionColor(TColor v) { SetAndUpdate(FSelectionColor, v); }
  bool DrawImageBackground() const { return FDrawImageBackground; }
  void SetDrawImageBackground(bool v) { SetAndUpdate(FDrawImageBackground, v); }
  void SetBackGround(TColor c) override;
  TVXMMouseInteract MouseInteract = 1u << mmiSelect;
  /// Stored only: the keyboard handling does not consult it.
  TVXMKeyInteract KeyInteract = 1u << mkiMoveSelected;
  bool RemoveCorrupted = false;
  bool Loop = true;

  // --- events
  TVXGridViewChangeEvent OnViewChange;
  TVXImageIDRequestEvent OnImageIDRequest;
  TVXImageSelectEvent OnImageSelect;
  TProgressEvent OnIOProgress;
  TVXMProgressEvent OnDrawProgress;

  // --- image list
  /// Inserts an empty image (appended when idx is at or past the end) and selects it.
  void InsertImage(int idx);
  int AppendImage();
  void DeleteImage(int idx);
  /// False for an index out of range.
  bool DeleteImageNU(int idx);
  void Clear();
  int GetImageCount() const { return static_cast<int>(FImages.size()); }
  /// Stores a copy of bmp (stretched to the thumbnail size with vxtThumb).
  void SetImage(int idx, const TBitmap& bmp);
  void SetImageNU(int idx, const TBitmap& bmp);
  /// Stores only the rectangle r of bmp (clipped), at full size.
  void SetImageRect(int idx, const TBitmap& bmp, const TRect& r);
  /// Announces that the pixels of image idx changed (repaint).
  void UpdateImage(int idx);
  /// Checks the image out (counted); null when it cannot be had. Valid until the
  /// matching ReleaseBitmap brings the count to 0.
  TBitmap* GetBitmap(int idx);
  void ReleaseBitmap(int idx);
  /// Loads an absent image from its ID or file; false when that failed.
  bool ObtainImage(int idx);
  /// Drops the pixels (packed or checked out); the count becomes 0.
  void FreeImage(int idx);

  // --- per image (out of range: 0, -1 for the ID, "" for the name; setters ignore)
  std::string GetImageFileName(int idx) const;
  /// Also clears the ID.
  void SetImageFileName(int idx, const std::string& name);
  int GetImageID(int idx) const;
  /// Also clears the file name.
  void SetImageID(int idx, int id);
  TColor GetImageBackground(int idx) const;
  void SetImageBackground(int idx, TColor c);
  int GetImageDelayTime(int idx) const;
  void SetImageDelayTime(int idx, int ms);
  int GetImageWidth(int idx) const;
  int GetImageHeight(int idx) const;
  int GetImageX(int idx) const;
  int GetImageY(int idx) const;
  int GetImageRow(int idx) const;
  int GetImageCol(int idx) const;
  /// The stored pixels as a device-independent block (header, palette, rows); empty
  /// when none are in memory.
  std::vector<uint8_t> GetBitmapInfo(int idx) const;
  /// The stored pixels (packed or checked out) without checking out; null when none.
  const TBitmap* PeekImage(int idx) const;
  /// 0 hidden, 1 partly, 2 fully visible.
  int GetImageVisibility(int idx) const;
  /// Images whose pixels are in memory (packed or checked out).
  int LoadedImageCount() const;

  // --- selection and view
  int SelectedImage() const { return FSelected; }
  void SetSelectedItem(int idx);
  void SetSelectedItemNU(int idx);
  void Deselect();
  void DeselectNU();
  /// Index of the image whose cell holds the client point, -1 when none.
  int ImageAtPos(int x, int y) const;
  void CenterSelected();
  void CenterFrame();
  int ViewX() const { return FViewX; }
  int ViewY() const { return FViewY; }
  void SetViewX(int x) { SetViewXY(x, FViewY); }
  void SetViewY(int y) { SetViewXY(FViewX, y); }
  /// Clamped to the content; OnViewChange (0) when the origin moved.
  void SetViewXY(int x, int y);
  void GetMaxViewXY(int& maxX, int& maxY) const;
  /// Moves the selection by the keyboard rules and scrolls it into view.
  void SelectSeek(TVXSeek direction);
  int VisibleFrame() const { return FVisibleFrame; }
  void SetVisibleFrame(int idx);
  bool Playing() const { return FPlaying; }
  void SetPlaying(bool on);
  /// One playback step (the timer's tick).
  void PlayFrame();
  /// The interval the playback timer was last started with (ms), 0 when stopped.
  int PlayInterval() const { return FPlayInterval; }
  /// Returns and clears the last list operation.
  TVXGridOp GetLastOp();
  int GetLastOpIdx() const { return FLastOpIdx; }
  void LockPaint() { ++FPaintLock; }
  void UnLockPaint();
  void NPUnLockPaint() { FPaintLock = imax(0, FPaintLock - 1); }
  int PaintLock() const { return FPaintLock; }
  void UpdateCoords();
  /// Columns of the layout (GridWidth resolved; 0 for a single unlimited row).
  int Columns() const;
  int ContentWidth() const { return FContentW; }
  int ContentHeight() const { return FContentH; }
  /// Paints the visible cells, loading what comes into view and dropping what left it.
  void PaintTo(TVXGridPainter& painter);

  /// Client size; the widget keeps it current, headless users set it.
  int ClientWidth() const { return FClientW; }
  int ClientHeight() const { return FClientH; }
  void SetClientSize(int w, int h);

  /// The I/O component used for on-demand loading.
  TVexaIO& IO() { return *FIO; }

 protected:
  // Hooks for the widget.
  virtual bool CanUpdate() const { return !HasState(csLoading) && !HasState(csDestroying); }
  virtual void Invalidate() {}
  /// Repaint at once (playback shows each frame before its timer starts).
  virtual void PaintNow() {}
  virtual void StartPlayTimer(int /*ms*/) {}
  virtual void StopPlayTimer() {}
  virtual bool HasFocus() const { return true; }
  /// Scroll bars follow the view; the widget may change the client size (then true).
  virtual bool SyncScrollBars() { return false; }

 private:
  struct Image {
    std::unique_ptr<TBitmap> Packed;
    std::unique_ptr<TBitmap> Bitmap;  // checked out
    int CheckOut = 0;
    int X = 0, Y = 0, Row = 0, Col = 0;
    TColor Background = 0;
    std::string FileName;
    int ID = -1;
    int Delay = 0;
    bool HasPixels() const { return Packed || Bitmap; }
    const TBitmap* Pixels() const { return Bitmap ? Bitmap.get() : Packed.get(); }
  };
  bool Valid(int idx) const { return idx >= 0 && idx < GetImageCount(); }
  template <class T>
  void SetAndUpdate(T& field, T v) {
    field = v;
    Update();
  }
  void Store(int idx, TBitmap&& bmp);
  void ScrollIntoView(int idx, bool forward);
  bool ClampView();
  TColor CellColor(const Image& im) const;

  std::vector<Image> FImages;
  std::unique_ptr<TVexaIO> FIO;
  TBitmap FIOBitmap;
  TVXStoreType FStoreType = vxtNormal;
  int FThumbWidth = 100, FThumbHeight = 100;
  int FHorizBorder = 4, FVertBorder = 4;
  int FBottomGap = 0, FUpperGap = 0;
  bool FVisibleSelection = true;
  TVXMDisplayMode FDisplayMode = mdGrid;
  int FGridWidth = 0;
  int FSelectionWidth = 3;
  TColor FSelectionColor = clRed;
  bool FDrawImageBackground = false;

  int FViewX = 0, FViewY = 0;
  int FContentW = 0, FContentH = 0;
  int FClientW = 180, FClientH = 90;
  int FSelected = -1;
  int FVisibleFrame = 0;
  bool FPlaying = false, FStepping = false;
  int FPlayInterval = 0;
  TVXMDisplayMode FSavedDisplayMode = mdGrid;
  int FSavedSelected = -1;
  int FPaintLock = 0;
  TVXGridOp FLastOp = vxgoNone;
  int FLastOpIdx = 0;
  bool FInUpdate = false;
  int FObtaining = -1;
};

}  // namespace vexa
