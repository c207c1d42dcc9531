// TVexaIO::DoPreviews: the save-parameters dialog for the attached bitmap.
#include "vexa/io/vexaio.h"

namespace vexa {

bool TVexaIO::DoPreviews(TPreviewParams pages) {
  if (!FBitmap) return false;
  PrepareSave();
  bool ok = false;
  if (TVXPreviewService* service = VXPreviewService()) {
    TVXPreviewSetup setup;
    setup.Sender = this;
    setup.Language = MsgLanguage;
    setup.Font = PreviewFont;
    setup.LockPreview = (PreviewsParams & (1u << ioppDefaultLockPreview)) != 0;
    setup.OnProgress = OnProgress;
    setup.OnShow = OnIOPreview;
    ok = service->IOPreviews(setup, *FBitmap, Params, pages);
  }
  Update();
  return ok;
}

}  // namespace vexa
