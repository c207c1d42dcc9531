// TVexaProc: the non-visual component that edits one bitmap in place.
//
// The bitmap belongs to someone else: the attached view (AttachedVexa), an image
// holder (AttachedTImage) or a bare bitmap (SetAttachedBitmap); exactly one source
// at a time. Each modifying operation
//   1. returns at once without a bitmap or with a pixel format it does not handle
//      (almost everything wants pf24bit),
//   2. takes the undo snapshot when AutoUndo is on,
//   3. confines itself to the selection: a rectangle (right and bottom edges
//      included) runs in place; a polygon runs on a copy of its bounding box that
//      is written back through the polygon's even-odd inside,
//   4. calls Update so that the view or image holder repaints.
// Progress goes to OnProgress with this component as sender; it cannot stop an
// operation. The selection comes from the attached view when it has one
// (TVXView::Selection), otherwise from the rectangle given to Select.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "vexa/core/component.h"
#include "vexa/core/messages.h"
#include "vexa/io/previewservice.h"
#include "vexa/proc/effects.h"
#include "vexa/proc/fft.h"
#include "vexa/proc/filters.h"
#include "vexa/proc/geometry.h"
#include "vexa/proc/histogram.h"
#include "vexa/proc/resample.h"
#include "vexa/core/vxview.h"

namespace vexa {

/// The pages of the processing preview dialog; peAll offers every page.
enum TPreviewEffectsItems : uint8_t {
  peAll, peContrast, peHSV, peHSL, peRGB, peUserFilt, peEqualize, peBumpMap, peLens, peWave, peMorph, peRotate, peFFT
};
/// Set of TPreviewEffectsItems (bit 1 << member).
using TPreviewEffects = uint32_t;
constexpr TPreviewEffects VXPE(TPreviewEffectsItems i) { return 1u << i; }

enum TPRPreviewsParamsItems : uint8_t { prppDefaultLockPreview };
/// Set of TPRPreviewsParamsItems (bit 1 << member).
using TPRPreviewsParams = uint32_t;

class TVexaProc : public TComponent {
 public:
  explicit TVexaProc(TComponent* owner = nullptr);
  ~TVexaProc() override;

  /// When true, every modifying operation first snapshots the bitmap for Undo.
  bool AutoUndo = true;
  TMsgLanguage MsgLanguage = msSystem;
  TProgressEvent OnProgress;
  /// Options of the preview dialog (prppDefaultLockPreview: live update from the start).
  TPRPreviewsParams PreviewsParams = 0;
  /// The font of the preview dialog.
  TFont PreviewFont;
  /// Fired with the preview dialog before it is shown.
  TVXPreviewEvent OnPreview;

  TVXView* AttachedVexa() const { return FView; }
  void SetAttachedVexa(TVXView* view);
  TImage* AttachedTImage() const { return FTImage; }
  /// Setting none keeps the current bitmap.
  void SetAttachedTImage(TImage* image);
  TBitmap* AttachedBitmap() const { return FBitmap; }
  /// Ignored when bitmap is null while a view or image holder is attached.
  void SetAttachedBitmap(TBitmap* bitmap);
  /// Called by the attached view when it replaces its bitmap object.
  void OnBitmapChange(TObject* sender);

  /// The attached view's background, else the stored colour (initially black).
  TColor Background() const;
  void SetBackground(TColor color);

  // Undo: one level, a full copy. A 1 x 1 snapshot counts as empty.
  virtual void SaveUndo();
  /// Restores the snapshot and keeps it, so Undo can be repeated.
  virtual void Undo();
  void ClearUndo();
  bool GetCanUndo() const;
  bool CanUndo() const { return GetCanUndo(); }

  /// Refreshes the view (Update, then ImageChange) or marks the bitmap modified.
  void Update();

  // Selection, bitmap coordinates, X2 and Y2 inclusive.
  void Select(int x1, int y1, int x2, int y2, TVXSelOp op = vxspReplace);
  void SelectAll();
  /// The selection every operation uses. False when there is none; the bounds are
  /// then the whole bitmap. poly / polyCount are the view's polygon (count 0 when
  /// there is none or the selection is the stored rectangle).
  bool GetReSel(int& x1, int& y1, int& x2, int& y2, const TPoint*& poly, int& polyCount) const;
  int GetSelX1() const;
  int GetSelY1() const;
  int GetSelX2() const;
  int GetSelY2() const;

  // Clearing, cropping, resizing (any pixel format); uncovered areas take Background.
  void Clear();
  void ClearSel();
  /// The result measures (X2 - X1) x (Y2 - Y1) of the selection bounds.
  void CropSel();
  /// Keeps the top-left pixels; nothing when either size is 0 or less.
  void ImageResize(int newWidth, int newHeight);

  // Clipboard (CF_DIB through VXClipboard()); nothing happens when it cannot be opened.
  void CopyToClipboard();
  void PasteFromClipboard();
  void SelCopyToClip();
  void SelCutToClip();
  void SelPasteFromClipStretch();
  /// Draws the clipboard image with its top-left corner at (x, y): control
  /// coordinates when the view maps them, bitmap coordinates otherwise.
  void PointPasteFromClip(int x, int y);

  // Colour adjustments (24-bit; Negative also 1-bit).
  void HSLvar(int hue, int sat, int lum);
  void HSVvar(int hue, int sat, int val);
  void IntensityRGBall(int r, int g, int b);
  /// Needs at least 2 x 2 pixels; reference levels come from the whole bitmap.
  void Contrast(int contrast);
  void Threshold(TRGB downLimit, TRGB upLimit, TRGB downValue, TRGB upValue);
  void CastColorRange(TRGB begin, TRGB end, TRGB cast);
  void Negative();
  void ConvertToGray();
  /// Whole-image channel extractors; new bitmaps the caller owns (null when not 24-bit).
  TBitmap* GetRGBChannel(int index);
  TBitmap* GetHSVChannel(int index);
  void GetRGBChannelAll(TBitmap& r, TBitmap& g, TBitmap& b);
  void GetHSVChannelAll(TBitmap& h, TBitmap& s, TBitmap& v);

  // Histograms (over the selection's bounding rectangle) and equalization.
  void GetHistogram(THistogramItem* histogram);
  void HistEqualize(TRGB low, TRGB high);
  void HistAutoEqualize();
  /// 0 without a bitmap, 2 for 1-bit, 0 for other non-24-bit formats.
  int CalcImageNumColors();

  // Convolution.
  void ApplyFilter(const TGraphFilter& filter);
  void ApplyFilterPreset(TVXFilterPresets preset);

  // Colour depth. These work on the whole bitmap, not the selection.
  /// 24-bit only. More than 2 colours: reduced in place (stays 24-bit); 2 or
  /// fewer: ordered dither to 1-bit.
  void ConvertTo(int nColors);
  /// As ConvertTo, also returning the palette; black and white for 2 or fewer.
  void ConvertToPalette(int nColors, std::vector<TRGB>& palette);
  void ConvertToBWOrdered();
  /// Threshold -1 derives it from the channel reference levels.
  void ConvertToBWThreshold(int threshold);
  /// 1-bit only: expands to 24-bit (set bits white).
  void ConvertTo24Bit();
  /// 24-bit only: fills the palette the quantizer builds; the image is unchanged.
  void CalcImagePalette(std::vector<TRGB>& palette, int nColors);

  // Geometry. These work on the whole bitmap, not the selection.
  /// A negative side follows from the other by the aspect ratio; both negative
  /// changes nothing. 1-bit images and rfNone use the plain stretch.
  void Resample(int newWidth, int newHeight, TResampleFilter filter);
  /// Degrees, counter-clockwise; the image grows to hold the turned picture and the
  /// corners take Background. AntiAlias applies to 24-bit images.
  void Rotate(int angle, bool antiAlias);
  void Flip(TFlipDir dir);

  // Effects (24-bit). Bump mapping keeps to the selection's rectangle; lens and wave
  // cover the whole image unless the selection is a polygon.
  void BumpMapping(int lightX, int lightY, int radiusX, int radiusY, int level, TRGB lightColor);
  void Lens(int x, int y, int width, int height, double refraction);
  void Wave(int amplitude, int waveLength, int phase, bool reflective);
  void Maximum(int winSize);
  void Minimum(int winSize);
  void Opening(int winSize);
  void Closing(int winSize);
  /// Keeps percent of the current image and blends in the rest from `other`,
  /// stretched to the selection.
  void Merge(const TBitmap& other, int percent);

  // Hidden data (24-bit; 0 otherwise). See hiddendata.h for the layout.
  /// Returns the payload bytes stored, fewer than length when the image is too small.
  int WriteHiddenData(const void* buffer, int length);
  int WriteHiddenText(const std::string& text);
  /// Returns the stored length; copies at most `length` bytes.
  int ReadHiddenData(void* buffer, int length);
  std::string ReadHiddenText();
  int GetHiddenDataSpace();

  /// The processing preview dialog (through the installed preview service) on the
  /// selection's bounding rectangle, or the whole image. False without showing
  /// anything when there is no service, the image is not 24-bit or either side is
  /// 1 pixel or less. On OK: undo snapshot (AutoUndo), then the result goes back
  /// through the selection polygon, or, without one, at the rectangle's corner
  /// (the whole image takes the result's size); true. Cancel changes nothing.
  bool DoPreviews(TPreviewEffects effects);

  // Frequency domain.
  /// A new transform of the current 24-bit bitmap (null otherwise), which the caller
  /// owns. Sizes >= 0 first stretch the image (a negative one keeps the aspect).
  TVXFtImage* FTCreateImage(TVXFtImageType type, int width, int height);
  /// Why the last Resample, Rotate or FTCreateImage left the image as it was
  /// (fkSizeLimit: the result or the work memory beside it would pass the bitmap
  /// size limit). Each of them clears it first; other operations leave it alone.
  const TVXFailure& LastFailure() const { return FFailure; }
  /// The inverse transform replaces the bitmap (no undo snapshot).
  void FTConvertFrom(const TVXFtImage& ft);
  /// The spectrum picture replaces the bitmap (no undo snapshot).
  void FTDisplayFrom(const TVXFtImage& ft);

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  /// Runs fn(bitmap, x1, y1, x2, y2) under the selection rules above.
  template <typename Fn>
  void Confined(bool rectTest, Fn fn);
  /// Confined for the operations defined in other files.
  void ConfinedCall(bool rectTest, const std::function<void(TBitmap&, int, int, int, int)>& fn);
  /// Lens and wave: the whole bitmap, or the polygon's bounding box written back
  /// through the polygon.
  template <typename Fn>
  void WholeOrPolygon(Fn fn);
  void Morph(int winSize, int op);
  void Detach();
  void SetBitmapOwner(TComponent* owner);
  bool HasSelectionView() const;
  void PutDIBOnClipboard(const TBitmap& bmp, int x1, int y1, int x2, int y2);
  bool ClipboardBitmap(TBitmap& out);
  TProgressRec MakeProgress();

  TVXView* FView = nullptr;
  TImage* FTImage = nullptr;
  TBitmap* FBitmap = nullptr;
  TComponent* FBitmapOwner = nullptr;  // the view or image holder FBitmap belongs to
  TBitmap FUndo;
  int FSelX1 = -1, FSelY1 = -1, FSelX2 = -1, FSelY2 = -1;
  TColor FBackground = clBlack;
  TVXFailure FFailure;
};

}  // namespace vexa
