// The Qt layer's preview service: it shows TfPreviews for the processing
// component and TfIOPreviews for the I/O components. It is installed when this
// file's object is linked in (always, in the vexarun library); an application
// linking the static libraries calls VXInstallPreviewDialogs once.
#pragma once

namespace vexa {

/// Installs the dialogs as the components' preview service (idempotent).
void VXInstallPreviewDialogs();

}  // namespace vexa
