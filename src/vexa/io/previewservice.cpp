#include "vexa/io/previewservice.h"

namespace vexa {

namespace {
TVXPreviewService* gPreviewService = nullptr;
}

TVXPreviewSetup VXPreviewSetup(TComponent* sender, TMsgLanguage language, const TFont& font, bool lockPreview,
                               const TProgressEvent& onProgress, const TVXPreviewEvent& onShow) {
  TVXPreviewSetup s;
  s.Sender = sender;
  s.Language = language;
  s.Font = font;
  s.LockPreview = lockPreview;
  s.OnProgress = onProgress;
  s.OnShow = onShow;
  return s;
}

TVXPreviewService* VXPreviewService() { return gPreviewService; }
void VXSetPreviewService(TVXPreviewService* service) { gPreviewService = service; }

}  // namespace vexa
