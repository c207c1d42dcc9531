// What the open and save dialogs compute without a window: the file-type filter
// built from the format registry, the filter entry's first extension, the
// save-parameter page of an extension, and the texts of the preview labels.
//
// Filters use the classic "description|patterns|description|patterns" form;
// patterns are separated by ";".
#pragma once

#include <cstdint>
#include <string>

#include "vexa/core/messages.h"
#include "vexa/io/ioparams.h"
#include "vexa/io/vexaio.h"

namespace vexa {

/// "All graphics|*.tif;...;*.avi|TIFF Bitmap (TIF;TIFF)|*.tif;*.tiff|...|Video for Windows (AVI)|*.avi",
/// over the registry in its order.
std::string BuildStrFilter();
/// The filter a save dialog starts with, until AutoSetFilter replaces it.
std::string VXDefaultSaveFilter();
/// The first extension (with its dot, e.g. ".jpg") of entry `filterIndex`
/// (from 1) of a filter: the text from the first "." to the first ";" of the
/// entry's patterns. Empty when there is no such entry or it has no ".".
std::string VXFilterFirstExt(const std::string& filter, int filterIndex);
/// The entry (from 1) of a filter whose patterns list "*" + `ext` (with its dot,
/// any case); 1 when none does.
int VXFilterIndexOfExt(const std::string& filter, const std::string& ext);
/// The save-parameters page for an extension with its dot, any case: ".jpg",
/// ".jpeg", ".jpe" -> ppJPEG; ".tif", ".tiff" -> ppTIFF; ".gif", ".bmp", ".pcx",
/// ".png" -> their pages; ppALL for anything else.
TPreviewParamsItems VXSavePageOfExt(const std::string& ext);
/// The extension of a file name with its dot, lower case; empty when none.
std::string VXFileExt(const std::string& name);
/// The name with its extension replaced (or added).
std::string VXChangeFileExt(const std::string& name, const std::string& ext);

/// The preview panel's texts for one file (all empty for no file).
struct TVXFileLabels {
  std::string Dimensions;  ///< "640 x 480 pixel", ", 2 frames" when more than one
  std::string Resolution;  ///< "96 x 96 dpi"
  std::string Colours;     ///< "16777216 Colors (24 bit)"
  std::string FileSize;    ///< "File: 12 Kb   Mem: 900 Kb"
  std::string FileType;    ///< the record's FileTypeStr
};
TVXFileLabels VXFileLabels(const TIOParamsVals& params, int frames, int64_t fileSize, TMsgLanguage language);

}  // namespace vexa
