// The preview dialogs as the non-visual components see them. The dialogs live in
// the Qt layer, above every component that opens them, so that layer installs
// its service here (dialogs/previewdialogs_ui.h). Without a service, or when the
// service finds no application to show a form in, every DoPreviews answers false
// and changes nothing: an application that brings its own dialogs never links ours.
#pragma once

#include <cstdint>
#include <functional>

#include "vexa/core/bitmap.h"
#include "vexa/core/component.h"
#include "vexa/core/drawstyles.h"
#include "vexa/core/messages.h"

namespace vexa {

class TIOParamsVals;

/// Fired with the form after it is set up and before it is shown, so that an
/// application can adjust it (the form is a TComponent of the Qt layer).
using TVXPreviewEvent = std::function<void(TObject* sender, TComponent* previewForm)>;
using TVXIOPreviewEvent = std::function<void(TObject* sender, TComponent* previewForm)>;

/// What every preview dialog takes from the component that opens it.
struct TVXPreviewSetup {
  /// The opening component: the Sender of its events and of progress.
  TComponent* Sender = nullptr;
  TMsgLanguage Language = msSystem;
  TFont Font;
  /// The lock-preview toggle starts down (live update).
  bool LockPreview = false;
  /// Progress of the final apply (processing) or of the previews (I/O).
  TProgressEvent OnProgress;
  TVXPreviewEvent OnShow;
};

/// The setup of a component's dialog; `lockPreview` is its "default lock preview" option.
TVXPreviewSetup VXPreviewSetup(TComponent* sender, TMsgLanguage language, const TFont& font, bool lockPreview,
                               const TProgressEvent& onProgress, const TVXPreviewEvent& onShow = {});

/// What the Qt layer provides: the two preview dialogs.
class TVXPreviewService {
 public:
  virtual ~TVXPreviewService() = default;
  /// The processing preview: `image` holds the copy to work on and receives the
  /// accepted result (it may change size). `effects` is a TPreviewEffects set.
  /// True when the user pressed OK; `image` is untouched otherwise.
  virtual bool ProcPreviews(const TVXPreviewSetup& setup, TBitmap& image, uint32_t effects) = 0;
  /// The save-parameters preview of `image` (24-bit or 1-bit). `pages` is a
  /// TPreviewParams set. On OK the fields of the active page are written into
  /// `params` and the answer is true; otherwise `params` is untouched. False
  /// without showing anything when the set names no page.
  virtual bool IOPreviews(const TVXPreviewSetup& setup, const TBitmap& image, TIOParamsVals& params,
                          uint32_t pages) = 0;
};

/// The installed service, or null.
TVXPreviewService* VXPreviewService();
/// Installs a service (not owned; it must outlive its use); null removes it.
void VXSetPreviewService(TVXPreviewService* service);

}  // namespace vexa
