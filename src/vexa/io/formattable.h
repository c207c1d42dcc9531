// The built-in file formats: one row each, everything the library knows about a
// format that is not inside its codec.
//
// The rows stand in detection order, and TVexaIO, detection, FileTypeStr and the
// command-line tool all read them:
//
//     LoadFromFile / SaveToFile     row whose ReadExtensions / WriteExtensions list the
//                                   lower-cased extension
//     LoadFromStream / SaveToStream row of the detected / given type
//     LoadFromFileXxx and friends   the same generic steps on the row of their format
//     ParamsFromFile / ...Stream    Read with Preview set
//     FindStreamFormat              Try of each row in turn, after the registry's own
//     FileTypeStr                   registry name and extension, then Variant
//     `vexa formats`, `vexa info`   VXFileFormatCanRead/CanWrite, CountImages
//
// Names and the extension list that the registry announces stay in the registry
// (io/formats.cpp): applications may remove or rename records at run time, and
// FileTypeStr and the dialogs follow the registry. A type without a row here is a
// registry format: TVexaIO calls the record's own functions.
//
// Adding a built-in format: write the codec (codecs/<name>.{h,cpp}), give it a type
// number and a registry record (io/ioparams.h, io/formats.cpp), add a row in
// formattable.cpp at the place its signature's strength calls for, and a fuzz
// target. The table test then checks the row against what the component does.
#pragma once

#include <cstdint>
#include <string>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

namespace vexa {

/// One read, as TVexaIO hands it to a row's Read adapter.
struct TVXReadJob {
  TStream& Stream;
  TBitmap& Bitmap;
  TIOParamsVals& Params;
  TProgressRec& Progress;
  /// Parameters only (the bitmap is a scratch one).
  bool Preview = false;
  /// Stream data rather than a file of its own: JPEG always looks for a 12-byte stream
  /// header, PCX and TIFF do when StreamHeaders is set. Parameter reads count as stream data.
  bool Framed = false;
  bool StreamHeaders = false;
  /// The file's size for file loads and file parameter reads, 0 for streams (BMP only).
  int64_t FileSize = 0;
  /// Frames or pages the codec reports (GIF, TIFF); out.
  int32_t Count = 0;
};

/// One write, as TVexaIO hands it to a row's Write adapter.
struct TVXWriteJob {
  TStream& Stream;
  TBitmap& Bitmap;
  TIOParamsVals& Params;
  TProgressRec& Progress;
  /// Write a 12-byte stream header in front (StreamTag formats in streams with StreamHeaders).
  bool Framed = false;
};

struct TVXBuiltinFormat {
  int32_t FileType;
  /// Why the row stands where it does in the detection order.
  const char* Why;
  /// Lower-case extensions without dot, ";"-separated, that LoadFromFile / SaveToFile
  /// send to this row ("" = none).
  const char* ReadExtensions;
  const char* WriteExtensions;
  /// True when the data at the stream's position is this format. The stream holds the
  /// image from its position to its end; the position need not be restored.
  bool (*Try)(TStream& stream);
  /// Null for formats that are imported instead of read (metafiles, see Imported).
  void (*Read)(TVXReadJob& job);
  void (*Write)(TVXWriteJob& job);
  /// Played into the bitmap by TVexaIO::ImportMetafile rather than read by Read.
  bool Imported;
  /// Stream loads set the view's resolution (file loads always do).
  bool StreamLoadSetsDpi;
  /// Runs before a file load opens the file (what the format's file load does first).
  void (*BeforeFileLoad)(TIOParamsVals& params, const std::string& name, TColor background);
  /// Images in a file (frames, pages) and what they are called; null for single-image formats.
  int (*CountImages)(const std::string& name);
  const char* ImageNoun;
  /// The format detail FileTypeStr appends (" LZW", " Interlaced"...), from the parameters.
  std::string (*Variant)(const TIOParamsVals& params);
  /// Whether the coder the format needs is installed (GIF data is LZW-coded: only as
  /// good as the hooks); null when the format needs none.
  bool (*CoderInstalled)(bool write);
};

/// The built-in rows, in detection order.
int VXBuiltinFormatCount();
const TVXBuiltinFormat& VXBuiltinFormatAt(int index);
/// The row of a type, or null for registry formats.
const TVXBuiltinFormat* VXBuiltinFormat(int fileType);
/// The row whose ReadExtensions (or WriteExtensions) list `extension` (lower case, no dot).
const TVXBuiltinFormat* VXBuiltinFormatForRead(const std::string& extension);
const TVXBuiltinFormat* VXBuiltinFormatForWrite(const std::string& extension);
/// The first built-in type whose Try accepts the data at the stream's position; 0 when none.
/// Restores nothing: FindStreamFormat keeps the position.
int VXBuiltinDetect(TStream& stream);

/// Whether TVexaIO can read / write a type now: a built-in row with a reader (writer)
/// whose coder is installed, or a registry record with a read (write) function.
bool VXFileFormatCanRead(int fileType);
bool VXFileFormatCanWrite(int fileType);

}  // namespace vexa
