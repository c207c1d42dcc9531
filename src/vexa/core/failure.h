// Why a load or save stopped: the reason that travels beside the abort flag.
//
// The abort protocol is unchanged: a codec that meets data it cannot handle sets
// the flag its TProgressRec points to and returns normally. When it does so through
// TProgressRec::Fail it also leaves a TVXFailure in the record the owner attached
// (TProgressRec::Failure); owners without one (nullpr, plain callers) get the flag
// only. The first reason of an operation is kept: it is the cause, later ones are
// consequences (a TIFF strip that fails inside the fax decoder keeps the decoder's
// words).
//
// Categories, and what a caller may do about them:
//
//     fkTruncated      the data ends before what its own headers announce; the rows
//                      decoded so far are in the bitmap (a partial image)
//     fkUnsupported    a legal variant this library does not decode or encode;
//                      Value holds the offending field value (bit depth, compression
//                      code, version...), HasValue says whether it is meaningful
//     fkSizeLimit      declared dimensions refused by VXCheckBitmapSize, or a size
//                      that does not fit the format's own fields when saving
//     fkCorrupt        the structure contradicts itself (bad signature after
//                      detection, offsets out of range, invalid codes)
//     fkStreamError    the stream failed under an encoder or a library codec
//                      (disk full, short write); stream errors outside codecs still
//                      raise EStreamError
//     fkUnknownFormat  no reader or writer for this extension, type or content
//     fkNoImage        the file is readable but holds no image at the requested
//                      index (a GIF frame to read, a frame or page to insert before)
//     fkStopped        the flag was set without a reason: the owner's progress
//                      handler stopped the operation (or a registered reader that
//                      only sets the flag)
//
// Text is one short English phrase without a trailing full stop, meant to follow a
// file name and a colon ("x.bmp: truncated data: pixel rows end at row 12 of 40").
// It names the field and value in the format's own terms; it is not translated.
//
// Components (TVexaIO, and anything else that fills TProgressRec for a load or
// save) keep one TVXFailure, clear it where they clear Aborting, attach it to every
// progress record they make, and expose it after the operation (LastFailure()). A
// failure record is meaningful only while Aborting is true.
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

enum TVXFailureKind : uint8_t {
  fkNone,
  fkTruncated,
  fkUnsupported,
  fkSizeLimit,
  fkCorrupt,
  fkStreamError,
  fkUnknownFormat,
  fkNoImage,
  fkStopped,
};

struct TVXFailure {
  TVXFailureKind Kind = fkNone;
  /// One short phrase in English; empty only when Kind is fkNone.
  std::string Text;
  /// The offending value of an fkUnsupported failure (also set by some others).
  int64_t Value = 0;
  bool HasValue = false;

  bool Failed() const { return Kind != fkNone; }
  void Clear() { *this = TVXFailure{}; }
  /// Records the reason unless one is already there (the first reason is the cause).
  void Set(TVXFailureKind kind, std::string text);
  void Set(TVXFailureKind kind, std::string text, int64_t value);
  /// "truncated data: pixel rows end at row 12 of 40"; "" for fkNone.
  std::string Describe() const;
};

/// The text of a VXCheckBitmapSize refusal: "65535 x 65535 pixels exceed the bitmap size limit".
std::string VXSizeText(int64_t width, int64_t height);
/// The text of pixel data that stops early: "pixel data ends at row 12 of 40".
std::string VXRowsEndText(int64_t row, int64_t rows);

/// The category as a short phrase ("truncated data", "unsupported variant", "size limit",
/// "corrupt structure", "stream error", "unknown format", "no such image", "stopped"); "" for fkNone.
const char* VXFailureKindName(TVXFailureKind kind);

}  // namespace vexa
