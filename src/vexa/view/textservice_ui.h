// The text service over Qt's fonts (core/textservice.h), which VXInitUI installs.
// Glyphs are drawn without antialiasing, as the rest of metafile playback.
#pragma once

#include "vexa/core/textservice.h"

namespace vexa {

/// The process-wide Qt text service; valid while a QGuiApplication exists.
TVXTextService& VXQtTextService();

}  // namespace vexa
