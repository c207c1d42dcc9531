#include "vexa/core/streams.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "vexa/core/bytereader.h"

namespace vexa {

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

int64_t TStream::Remaining() {
  int64_t pos = Position();
  int64_t size = Size();
  return size > pos ? size - pos : 0;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buf.size()));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return count;
}

uint8_t TStream::ReadU8() {
  uint8_t v;
  ReadBuffer(&v, 1);
  return v;
}
uint16_t TStream::ReadU16() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return VXLoadU16(b);
}
uint32_t TStream::ReadU32() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return VXLoadU32(b);
}
double TStream::ReadDouble() {
  double v;
  ReadBuffer(&v, 8);  // binary64, little-endian host
  return v;
}
void TStream::WriteU16(uint16_t v) {
  uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
  WriteBuffer(b, 2);
}
void TStream::WriteU32(uint32_t v) {
  uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  WriteBuffer(b, 4);
}
void TStream::WriteDouble(double v) { WriteBuffer(&v, 8); }

TMemoryStream::TMemoryStream(const void* data, size_t size)
    : FData(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size) {}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || FPos >= Size()) return 0;
  int64_t n = std::min<int64_t>(count, Size() - FPos);
  std::memcpy(buffer, FData.data() + FPos, static_cast<size_t>(n));
  FPos += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (FPos + count > Size()) {
    if (FData.capacity() < static_cast<size_t>(FPos + count))
      FData.reserve(std::max(static_cast<size_t>(FPos + count), FData.capacity() * 2));
    FData.resize(static_cast<size_t>(FPos + count));
  }
  std::memcpy(FData.data() + FPos, buffer, static_cast<size_t>(count));
  FPos += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? FPos : Size();
  int64_t p = base + offset;
  if (p < 0) throw EStreamError("Seek before the start of a stream");
  FPos = p;
  return FPos;
}

void TMemoryStream::SetSize(int64_t size) {
  FData.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
  if (FPos > size) FPos = size;
}

void TMemoryStream::LoadFromFile(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  FData.resize(static_cast<size_t>(f.Size()));
  f.ReadBuffer(FData.data(), static_cast<int64_t>(FData.size()));
  FPos = 0;
}

void TMemoryStream::SaveToFile(const std::string& name) const {
  TFileStream f(name, fmCreate);
  f.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

TFileStream::TFileStream(const std::string& name, TFileMode mode) : FName(name) {
  const char* m = mode == fmOpenRead ? "rb" : mode == fmOpenReadWrite ? "r+b" : "w+b";
  FFile = std::fopen(name.c_str(), m);
  if (!FFile) {
    std::string why = std::strerror(errno);
    if (mode == fmCreate) throw EFCreateError("Cannot create file \"" + name + "\": " + why);
    throw EFOpenError("Cannot open file \"" + name + "\": " + why);
  }
  std::setvbuf(FFile, nullptr, _IOFBF, 1 << 16);
}

TFileStream::~TFileStream() {
  if (FFile) std::fclose(FFile);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return static_cast<int64_t>(std::fread(buffer, 1, static_cast<size_t>(count), FFile));
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return static_cast<int64_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), FFile));
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  if (!(origin == soCurrent && offset == 0) && fseeko(FFile, offset, whence) != 0)
    throw EStreamError("Seek error in \"" + FName + "\"");
  return ftello(FFile);
}

int64_t TFileStream::Size() {
  std::fflush(FFile);
  int64_t pos = ftello(FFile);
  fseeko(FFile, 0, SEEK_END);
  int64_t size = ftello(FFile);
  fseeko(FFile, pos, SEEK_SET);
  return size;
}

void TFileStream::SetSize(int64_t size) {
  std::fflush(FFile);
  if (ftruncate(fileno(FFile), size) != 0) throw EStreamError("Cannot set the size of \"" + FName + "\"");
  if (ftello(FFile) > size) fseeko(FFile, size, SEEK_SET);
}

int64_t TNulStream::Read(void*, int64_t count) {
  FPos += count;
  FSize = std::max(FSize, FPos);
  return count;
}

int64_t TNulStream::Write(const void*, int64_t count) {
  FPos += count;
  FSize = std::max(FSize, FPos);
  return count;
}

int64_t TNulStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPos = origin == soBeginning ? offset : origin == soCurrent ? FPos + offset : FSize + offset;
  FSize = std::max(FSize, FPos);
  return FPos;
}

void TNulStream::SetSize(int64_t size) {
  FSize = size;
  if (FPos > size) FPos = size;
}

}  // namespace vexa
