// The data source that presents SANE devices as TWAIN sources. Each device is one
// source: product name the SANE device name ("test:0"), manufacturer its vendor,
// family its model.
//
// Capabilities come from the device's options: resolution (range or list),
// mode -> pixel type (lineart, or grey at 1 bit, is black and white), the scan
// area in inches from the geometry options, the document feeder from the "source"
// option. A page is read whole from SANE when the source is enabled or a transfer
// ends with more sheets in the feeder, and handed over by memory transfer (rows
// as they are, R G B, 0 = black) or native transfer (a packed bottom-up DIB).
#pragma once

#include <memory>
#include <vector>

#include "datasource.h"

namespace vexadsm {

/// Starts SANE (once; it stays up for the process); false when it is unavailable.
bool SaneStart();
/// One source per SANE device (not yet opened).
std::vector<std::unique_ptr<TDataSource>> SaneSources();

}  // namespace vexadsm
