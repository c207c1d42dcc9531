// Exceptions of the library. Stream and file errors throw; codecs report bad data
// through the abort flag of their progress record instead.
#pragma once

#include <stdexcept>
#include <string>

namespace vexa {

class EVXError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EStreamError : public EVXError {
 public:
  using EVXError::EVXError;
};
/// A file could not be opened for reading (or reading and writing).
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
/// A file could not be created.
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
/// Fewer bytes were available than a ReadBuffer asked for.
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
/// Raised where a writer cannot produce its format (e.g. "Error on creating PNG").
class EInvalidGraphic : public EVXError {
 public:
  using EVXError::EVXError;
};
/// A bitmap would exceed the process-wide size limit (VXSetMaxBitmapBytes).
class EVXBitmapTooLarge : public EVXError {
 public:
  using EVXError::EVXError;
};

}  // namespace vexa
