// What the Qt layer sets up once, when the first widget is created: the screen's
// resolution and depth into gSystemDPIX/Y and gSystemColors, the system colours
// from the desktop palette, the desktop clipboard as the library's clipboard, and
// the desktop's fonts as its text service (metafile text).
#pragma once

namespace vexa {

/// Safe to call repeatedly; does nothing before a QGuiApplication exists.
void VXInitUI();

}  // namespace vexa
