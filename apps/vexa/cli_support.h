// Helpers shared by the commands that load and save images.
#pragma once

#include <string>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/io/ioparams.h"

namespace vexa {
class TVexaIO;
}

namespace vexacli {

/// A progress event drawing a bar on stderr when it is a terminal (empty otherwise).
vexa::TProgressEvent TerminalProgress(const std::string& label);
/// Ends the bar's line, when one was drawn.
void EndProgress();

/// Assigns FIELD=VALUE to the parameter field of that name, in the field table's
/// text form (io/paramfields.h). Returns an error message, empty on success.
std::string SetParamField(vexa::TIOParamsVals& params, const std::string& assignment);

/// ": " and why the component's last load or save failed ("truncated data: ..."); "" when it
/// does not know. Follows "cannot read the image" and the like on the same line.
std::string FailureSuffix(const vexa::TVexaIO& io);

/// After a load that did not abort: ": no such image: ..." when the bitmap is still
/// empty (an index past the file's images), "" when it holds the image.
std::string EmptyLoadSuffix(const vexa::TBitmap& bmp, int index);

/// "" unless `out` is the file `in` itself and `in` holds more images than the one a
/// save writes; then why the save is refused ("holds 3 pages; ...").
std::string PagesLostOnSelf(const std::string& in, const std::string& out, int fileType);

}  // namespace vexacli
