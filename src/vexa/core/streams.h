// Byte streams: the sequential read/write/seek interface every codec works on.
//
// Read and Write move as many bytes as they can and return the count; ReadBuffer
// and WriteBuffer demand the full count and throw EReadError / EWriteError.
// Opening a missing file, a folder or a device throws EFOpenError; creating one that
// cannot be created throws EFCreateError. A file written through TFileStream reports
// the failure of its last buffered block only from Close(): writers close explicitly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "vexa/core/errors.h"

namespace vexa {

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  /// Returns the new position. Seeking past the end is allowed (reads there return 0).
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
  /// Bytes left between the position and the end (0 when past the end).
  int64_t Remaining();

  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  /// Copies count bytes from source's position (the whole of source when count is 0).
  int64_t CopyFrom(TStream& source, int64_t count);

  // Little-endian helpers; the read ones throw EReadError at the end of the stream.
  uint8_t ReadU8();
  uint16_t ReadU16();
  uint32_t ReadU32();
  int32_t ReadI32() { return static_cast<int32_t>(ReadU32()); }
  double ReadDouble();
  void WriteU8(uint8_t v) { WriteBuffer(&v, 1); }
  void WriteU16(uint16_t v);
  void WriteU32(uint32_t v);
  void WriteI32(int32_t v) { WriteU32(static_cast<uint32_t>(v)); }
  void WriteDouble(double v);
};

/// Growable stream in memory.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  /// A stream holding a copy of the bytes, positioned at 0.
  TMemoryStream(const void* data, size_t size);
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t size) override;
  void Clear() {
    FData.clear();
    FPos = 0;
  }
  void LoadFromFile(const std::string& name);
  void SaveToFile(const std::string& name) const;

  uint8_t* Memory() { return FData.data(); }
  const uint8_t* Memory() const { return FData.data(); }
  std::vector<uint8_t>& Data() { return FData; }

 private:
  std::vector<uint8_t> FData;
  int64_t FPos = 0;
};

enum TFileMode { fmOpenRead, fmOpenReadWrite, fmCreate };

/// Buffered file stream. Reading needs a regular file (a folder or a device is
/// refused with EFOpenError); creating may target a device such as /dev/null.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& name, TFileMode mode);
  /// Closes without reporting: call Close() where a lost write matters.
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;
  const std::string& FileName() const { return FName; }
  /// Flushes and closes the file; throws EWriteError when that fails (a full disk,
  /// a file-size limit). Further calls do nothing.
  void Close();

 protected:
  /// Takes over an open file; name is used in messages.
  TFileStream(std::FILE* file, std::string name) : FFile(file), FName(std::move(name)) {}

 private:
  std::FILE* FFile = nullptr;
  std::string FName;
};

/// Writes a file so that a failure never damages what was there:
///
///   target.png  <- rename <-  .target.png.XXXXXX  (same folder, written and closed first)
///
/// The bytes go to a temporary file beside the target (beside the file a symbolic
/// link points to); Commit() flushes and closes it, gives it the target's permissions
/// (or those a newly created file gets) and renames it over the target. Destroyed
/// without Commit(), it removes the temporary file and the target stays as it was.
/// A target that exists but is not a regular file (/dev/null, a FIFO) is written
/// directly.
class TSafeFileStream : public TFileStream {
 public:
  /// keepContent: the temporary file starts as a copy of the target (for edits in
  /// place such as inserting a page); otherwise it starts empty.
  explicit TSafeFileStream(const std::string& target, bool keepContent = false);
  ~TSafeFileStream() override;
  /// Throws EWriteError (and keeps the target) when flushing, closing or renaming fails.
  void Commit();

 private:
  struct TOpened;
  static TOpened Open(const std::string& target, bool keepContent);
  TSafeFileStream(TOpened opened, const std::string& target);
  std::string FFinal, FTemp;
  bool FDirect = false, FCommitted = false;
};

/// Stores nothing; counts the bytes written. Writing an image into it measures its encoded size.
class TNulStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return FSize; }
  void SetSize(int64_t size) override;

 private:
  int64_t FPos = 0, FSize = 0;
};

}  // namespace vexa
