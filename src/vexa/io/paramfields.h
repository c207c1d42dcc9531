// The fields of the parameter record as data: one table, in parameter-file order,
// that the record's defaults, copy and file format run over, and that editors (the
// command line's --set, the save-parameters dialog, the designer's property
// editor) use to list, show and change fields by name.
//
// Text forms, as get-as-text gives them and set-from-text takes them:
//   int      decimal, e.g. "-12"
//   bool     "true" or "false"
//   double   the shortest text that reads back to the same value, '.' as the
//            decimal point whatever the locale, e.g. "2.2"
//   string   as is
//   enum     a member name, e.g. "ioJPEG_YCbCr"
//   colour   "R,G,B", each 0..255
//   palette  "R,G,B;R,G,B;..." (empty: no palette)
//
// The LZW hooks are code, not values: they have no text form and no place in the
// file, so the table leaves them out and the record copies them by hand.
//
// To add a field: declare it in TIOParamsVals with its default as initializer, add
// its row to the table in paramfields.cpp where the parameter file stores it, and
// give the row the file versions that hold it (a new field needs a new version).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "vexa/io/ioparams.h"

namespace vexa {

enum TVXParamKind : uint8_t { pkInt, pkBool, pkDouble, pkString, pkEnum, pkColour, pkPalette };

/// How a parameter file stores a field beyond its kind.
enum TVXParamFileRule : uint8_t {
  prPlain,
  prByteBeforeV2,  ///< an int32 stored as one byte in versions 0 and 1
  prZeroInV0,      ///< version 0 holds another int32 in its place: read, dropped, the field becomes 0
};

struct TVXParamField {
  /// The member's name, e.g. "JPEG_Quality".
  const char* Name;
  TVXParamKind Kind;
  /// An enumeration's member names in order (the value is the index); else empty.
  std::span<const char* const> Members;
  /// Bit v set: parameter files of version v hold the field.
  uint8_t FileVersions;
  TVXParamFileRule FileRule;
  /// The member in a record (int32_t, bool, double, std::string, a one-byte
  /// enumeration, TRGB, or the ColorMap vector, by Kind).
  void* (*Address)(TIOParamsVals& params);
};

/// Every field, in the order the parameter file stores them.
std::span<const TVXParamField> VXParamFields();
/// Null for an unknown name (names are case-sensitive).
const TVXParamField* VXFindParamField(std::string_view name);

std::string VXParamGetText(const TIOParamsVals& params, const TVXParamField& field);
/// Returns an error text ("expected an integer", ...) and leaves the record
/// unchanged, or returns empty on success.
std::string VXParamSetText(TIOParamsVals& params, const TVXParamField& field, std::string_view text);
/// Copies one field; the palette comes with its count.
void VXParamCopy(TIOParamsVals& to, const TIOParamsVals& from, const TVXParamField& field);

/// The field as a parameter file of the current version stores it.
void VXParamWrite(TStream& stream, const TIOParamsVals& params, const TVXParamField& field);
/// Reads the field as a parameter file of `version` stores it (the caller skips
/// fields the version does not hold). Raises EReadError for a palette longer than
/// the stream.
void VXParamRead(TStream& stream, TIOParamsVals& params, const TVXParamField& field, int version);

}  // namespace vexa
