// TVexaIO::DoPreviews: the save-parameters dialog for the attached bitmap.
#include "vexa/io/vexaio.h"

namespace vexa {

bool TVexaIO::DoPreviews(TPreviewParams pages) {
  if (!FBitmap) return false;
  PrepareSave();
  bool ok = false;
  if (TVXPreviewService* service = VXPreviewService()) {
    const TVXPreviewSetup setup = VXPreviewSetup(this, MsgLanguage, PreviewFont,
                                                 (PreviewsParams & (1u << ioppDefaultLockPreview)) != 0, OnProgress,
                                                 OnIOPreview);
    ok = service->IOPreviews(setup, *FBitmap, Params, pages);
  }
  Update();
  return ok;
}

}  // namespace vexa
