// TVexaMIO::DoPreviews: the save-parameters dialog for one image of the grid.
#include "vexa/mview/vexamio.h"

namespace vexa {

bool TVexaMIO::DoPreviews(int idx, TPreviewParams pages) {
  if (!FGrid || !GetParams(idx)) return false;
  TVXPreviewService* service = VXPreviewService();
  TBitmap* bmp = FGrid->GetBitmap(idx);
  if (!bmp) return false;
  bool ok = false;
  if (service) {
    // The grid may keep its images compressed or on disk: work on our own copy.
    TBitmap image(*bmp);
    if (image.PixelFormat() != pf24bit && image.PixelFormat() != pf1bit) image.SetPixelFormat(pf24bit);
    const TVXPreviewSetup setup = VXPreviewSetup(this, MsgLanguage, PreviewFont,
                                                 (PreviewsParams & (1u << ioppDefaultLockPreview)) != 0, OnProgress);
    ok = service->IOPreviews(setup, image, *GetParams(idx), pages);
  }
  FGrid->ReleaseBitmap(idx);
  Renumber();
  Update();
  return ok;
}

}  // namespace vexa
