// Helpers shared by the commands that load and save images.
#pragma once

#include <string>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/io/ioparams.h"

namespace vexacli {

/// A progress event drawing a bar on stderr when it is a terminal (empty otherwise).
vexa::TProgressEvent TerminalProgress(const std::string& label);
/// Ends the bar's line, when one was drawn.
void EndProgress();

/// Assigns FIELD=VALUE to the parameter field of that name: integers, true/false,
/// enumeration members by name, colours as R,G,B, text as is. Returns an error
/// message, empty on success.
std::string SetParamField(vexa::TIOParamsVals& params, const std::string& assignment);
/// Names of the fields SetParamField knows.
std::vector<std::string> ParamFieldNames();

}  // namespace vexacli
