// The capture driver's settings dialogs: source (the device's controls, applied
// as they are moved and put back on Cancel), format (frame size and pixel format)
// and display (preview rate and scaling). Each returns true on OK.
#pragma once

#include <QDialog>

#include "vexa/acquire/capture.h"

class QComboBox;

namespace vexa {

/// Lists the connected device's controls; false without any.
bool VXShowCaptureSourceDialog(TVXCaptureService& capture, QWidget* parent = nullptr);
/// Lists the device's modes with the current one selected and sets the chosen one.
bool VXShowCaptureFormatDialog(TVXCaptureService& capture, QWidget* parent = nullptr);
/// Preview interval in milliseconds and whether video is scaled to the window.
bool VXShowCaptureDisplayDialog(int& previewRate, bool& scale, QWidget* parent = nullptr);

}  // namespace vexa
