#include "vexa/dialogs/previewdialogs_ui.h"

#include <QApplication>
#include <QWidget>

#include "vexa/dialogs/iopreviews_ui.h"
#include "vexa/dialogs/previews_ui.h"
#include "vexa/io/vexaio.h"
#include "vexa/legacy/vexa_ui.h"
#include "vexa/proc/vexaproc.h"

namespace vexa {

namespace {

// The window of the view the opening component works on, so the form is
// centred on it and stays above it.
QWidget* ParentOf(TComponent* sender) {
  TVXView* view = nullptr;
  if (auto* proc = dynamic_cast<TVexaProc*>(sender)) view = proc->AttachedVexa();
  if (auto* io = dynamic_cast<TVexaIO*>(sender)) view = io->AttachedVexa();
  auto* w = dynamic_cast<QWidget*>(view);
  return w ? w->window() : QApplication::activeWindow();
}

class TVXQtPreviewService : public TVXPreviewService {
 public:
  bool ProcPreviews(const TVXPreviewSetup& setup, TBitmap& image, uint32_t effects) override {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    TfPreviews form(ParentOf(setup.Sender));
    form.Setup(setup);
    form.SetImage(image);
    form.SetEffects(effects);
    if (setup.OnShow) setup.OnShow(setup.Sender, &form);
    if (form.exec() != QDialog::Accepted) return false;
    image = form.Vexa1()->Bitmap();
    return true;
  }

  bool IOPreviews(const TVXPreviewSetup& setup, const TBitmap& image, TIOParamsVals& params,
                  uint32_t pages) override {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    TfIOPreviews form(ParentOf(setup.Sender));
    form.Setup(setup);
    form.SetParams(params);
    form.SetImage(image);
    if (!form.SetPages(pages)) return false;
    if (setup.OnShow) setup.OnShow(setup.Sender, &form);
    if (form.exec() != QDialog::Accepted) return false;
    form.WriteParams(params);
    return true;
  }
};

TVXQtPreviewService gService;

// Linking this file is enough to have the dialogs.
const bool gInstalled = [] {
  VXSetPreviewService(&gService);
  return true;
}();

}  // namespace

void VXInstallPreviewDialogs() {
  (void)gInstalled;
  VXSetPreviewService(&gService);
}

}  // namespace vexa
