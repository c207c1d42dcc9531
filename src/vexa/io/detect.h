// Format detection from the first bytes of a stream or file.
//
// Registry formats with a detection function are asked first, in registry order;
// then the built-in format table's Try adapters in its order (io/formattable.cpp:
// strong signatures first, TGA last because its header has no magic number). Detection never raises and always restores the stream
// position.
#pragma once

#include <string>

#include "vexa/core/streams.h"

namespace vexa {

/// The file type (ioTIFF...ioTGA or a registered type) of the data at the stream's
/// position; 0 when unknown or when reading fails.
int FindStreamFormat(TStream& stream);
/// FindStreamFormat on a file (0 when it cannot be opened). With verifyExtension the
/// result is 0 unless the extension is registered for the detected type.
int FindFileFormat(const std::string& name, bool verifyExtension);

/// The extension of a file name without the dot, lower-cased ("" when none).
std::string VXExtractFileExt(const std::string& name);

}  // namespace vexa
