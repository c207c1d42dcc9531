// The process-wide registry of file formats.
//
// It starts with the built-in formats (no functions attached: the I/O component
// dispatches those itself) and takes formats added at run time with read, write
// and detection functions. The registry is meant to be changed at start-up only.
#pragma once

#include <cstdint>
#include <string>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"

namespace vexa {

class TIOParamsVals;

using TVXReadFunction = void (*)(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, bool preview,
                                 TProgressRec& progress);
using TVXWriteFunction = void (*)(TStream& stream, TBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);
using TVXTryFunction = bool (*)(TStream& stream);

struct TVXFileFormatInfo {
  int32_t FileType = 0;
  /// At most 80 characters (longer names are cut when registered).
  std::string FullName;
  /// Extensions without dot, upper case, separated by ";" (at most 80 characters).
  std::string Extensions;
  TVXReadFunction ReadFunction = nullptr;
  TVXWriteFunction WriteFunction = nullptr;
  TVXTryFunction TryFunction = nullptr;
};

/// Appends a copy of info.
void VXFileFormatAdd(const TVXFileFormatInfo& info);
/// Removes the first record of that type.
void VXFileFormatRemove(int fileType);
/// First record of that type, or null.
const TVXFileFormatInfo* VXFileFormatGetInfo(int fileType);
/// First record listing the extension (case-insensitive, without dot), or null.
const TVXFileFormatInfo* VXFileFormatGetInfo2(const std::string& extension);
/// The index-th extension of a type (from 0); empty when out of range or unknown.
std::string VXFileFormatGetExt(int fileType, int index);
int VXFileFormatGetExtCount(int fileType);
/// Number of registered formats and the record at a position in list order.
int VXFileFormatCount();
const TVXFileFormatInfo* VXFileFormatAt(int index);
/// Restores the built-in table (for tests and applications that reset).
void VXFileFormatResetDefaults();

}  // namespace vexa
