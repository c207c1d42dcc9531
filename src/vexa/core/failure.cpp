#include "vexa/core/failure.h"

#include <utility>

namespace vexa {

void TVXFailure::Set(TVXFailureKind kind, std::string text) {
  if (Failed() || kind == fkNone) return;
  Kind = kind;
  Text = text.empty() ? VXFailureKindName(kind) : std::move(text);
}

void TVXFailure::Set(TVXFailureKind kind, std::string text, int64_t value) {
  if (Failed() || kind == fkNone) return;
  Set(kind, std::move(text) + " " + std::to_string(value));
  Value = value;
  HasValue = true;
}

std::string TVXFailure::Describe() const {
  if (!Failed()) return {};
  return std::string(VXFailureKindName(Kind)) + ": " + Text;
}

std::string VXSizeText(int64_t width, int64_t height) {
  return std::to_string(width) + " x " + std::to_string(height) + " pixels exceed the bitmap size limit";
}

std::string VXRowsEndText(int64_t row, int64_t rows) {
  return "pixel data ends at row " + std::to_string(row) + " of " + std::to_string(rows);
}

const char* VXFailureKindName(TVXFailureKind kind) {
  switch (kind) {
    case fkNone: return "";
    case fkTruncated: return "truncated data";
    case fkUnsupported: return "unsupported variant";
    case fkSizeLimit: return "size limit";
    case fkCorrupt: return "corrupt structure";
    case fkStreamError: return "stream error";
    case fkUnknownFormat: return "unknown format";
    case fkNoImage: return "no such image";
    case fkStopped: return "stopped";
  }
  return "";
}

}  // namespace vexa
