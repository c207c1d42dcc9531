// TVexaProc::DoPreviews: the processing preview dialog on a copy of the selection.
#include "vexa/core/raster.h"
#include "vexa/proc/bitmaputil.h"
#include "vexa/proc/procrect.h"
#include "vexa/proc/vexaproc.h"

namespace vexa {

bool TVexaProc::DoPreviews(TPreviewEffects effects) {
  if (!FBitmap || FBitmap->PixelFormat() != pf24bit || FBitmap->Width() <= 1 || FBitmap->Height() <= 1)
    return false;
  TVXPreviewService* service = VXPreviewService();
  if (!service) return false;
  int x1, y1, x2, y2, n;
  const TPoint* poly;
  GetReSel(x1, y1, x2, y2, poly, n);
  // A selection reaching past the image is cut to it, so the copy and the
  // write-back both start inside the bitmap.
  const int w = FBitmap->Width(), h = FBitmap->Height();
  x1 = imax(x1, 0), y1 = imax(y1, 0);
  x2 = imin(x2, w - 1), y2 = imin(y2, h - 1);
  if (x1 > x2 || y1 > y2) return false;
  TBitmap image;
  _CopyBitmapRect(*FBitmap, image, x1, y1, x2, y2);
  // The polygon may go away while the dialog runs (the view is live); keep a copy.
  const std::vector<TPoint> polygon(poly, poly + n);

  const TVXPreviewSetup setup = VXPreviewSetup(this, MsgLanguage, PreviewFont,
                                               (PreviewsParams & (1u << prppDefaultLockPreview)) != 0, OnProgress,
                                               OnPreview);
  if (!service->ProcPreviews(setup, image, effects)) return false;

  if (AutoUndo) SaveUndo();
  const bool whole = x1 <= 0 && y1 <= 0 && x2 >= w - 1 && y2 >= h - 1;
  const bool rect = polygon.empty() || procdetail::VXIsRectPolygon(polygon.data(), static_cast<int>(polygon.size()));
  if (rect || whole) {
    // A rectangle is its bounding box, edges included, as for every other
    // operation. Only a result for the whole image may change the image's size
    // (a rotation); a smaller rectangle is pasted back without cutting the rest
    // of the image away.
    if (whole) {
      if (image.Width() != w || image.Height() != h) FBitmap->SetSize(image.Width(), image.Height());
      VXDrawBitmap(*FBitmap, x1, y1, image);
    } else {
      const TPoint box[4] = {{x1, y1}, {x2 + 1, y1}, {x2 + 1, y2 + 1}, {x1, y2 + 1}};
      VXDrawBitmapClipped(*FBitmap, x1, y1, image, box, 4);
    }
  } else {
    _CopyPolygonBitmap(*FBitmap, image, x1, y1, polygon.data(), static_cast<int>(polygon.size()));
  }
  Update();
  return true;
}

}  // namespace vexa
