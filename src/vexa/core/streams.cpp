#include "vexa/core/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

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
  TFileStream f(name, fmOpenRead);  // refuses folders and devices, whose size means nothing
  FData.resize(static_cast<size_t>(f.Size()));
  f.ReadBuffer(FData.data(), static_cast<int64_t>(FData.size()));
  FPos = 0;
}

void TMemoryStream::SaveToFile(const std::string& name) const {
  TSafeFileStream f(name);
  f.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
  f.Commit();
}

TFileStream::TFileStream(const std::string& name, TFileMode mode) : FName(name) {
  const char* m = mode == fmOpenRead ? "rb" : mode == fmOpenReadWrite ? "r+b" : "w+b";
  FFile = std::fopen(name.c_str(), m);
  if (!FFile) {
    std::string why = std::strerror(errno);
    if (mode == fmCreate) throw EFCreateError("Cannot create file \"" + name + "\": " + why);
    throw EFOpenError("Cannot open file \"" + name + "\": " + why);
  }
  struct stat st;
  if (mode != fmCreate && (fstat(fileno(FFile), &st) != 0 || !S_ISREG(st.st_mode))) {
    std::fclose(FFile);
    FFile = nullptr;
    throw EFOpenError("Cannot open file \"" + name + "\": not a regular file");
  }
  std::setvbuf(FFile, nullptr, _IOFBF, 1 << 16);
}

TFileStream::~TFileStream() {
  if (FFile) std::fclose(FFile);
}

void TFileStream::Close() {
  if (!FFile) return;
  const bool flushed = std::fflush(FFile) == 0 && !std::ferror(FFile);
  const int flushErrno = errno;
  const bool closed = std::fclose(FFile) == 0;
  FFile = nullptr;
  if (!flushed || !closed)
    throw EWriteError("Cannot write file \"" + FName + "\": " + std::strerror(flushed ? errno : flushErrno));
}

namespace {

// The file a chain of symbolic links ends at; the name itself when it does not exist yet.
std::string FinalTarget(const std::string& name) {
  std::string current = name;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> buf(PATH_MAX + 1);
    const ssize_t n = readlink(current.c_str(), buf.data(), PATH_MAX);
    if (n <= 0) return current;
    std::string link(buf.data(), static_cast<size_t>(n));
    if (link[0] != '/') {
      const size_t slash = current.rfind('/');
      if (slash != std::string::npos) link = current.substr(0, slash + 1) + link;
    }
    current = link;
  }
  return current;
}

mode_t CreationMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

struct TSafeFileStream::TOpened {
  std::FILE* File = nullptr;
  std::string Final, Temp;
  bool Direct = false;
};

TSafeFileStream::TOpened TSafeFileStream::Open(const std::string& target, bool keepContent) {
  TOpened o;
  o.Final = FinalTarget(target);
  struct stat st;
  const bool exists = stat(o.Final.c_str(), &st) == 0;
  if (keepContent && !exists)
    throw EFOpenError("Cannot open file \"" + target + "\": " + std::strerror(errno));
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or FIFO cannot be replaced; write it as it is.
    o.Direct = true;
    o.File = std::fopen(target.c_str(), keepContent ? "r+b" : "wb");
    if (!o.File) throw EFCreateError("Cannot create file \"" + target + "\": " + std::strerror(errno));
    std::setvbuf(o.File, nullptr, _IOFBF, 1 << 16);
    return o;
  }
  const size_t slash = o.Final.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : o.Final.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? o.Final : o.Final.substr(slash + 1);
  std::string pattern = folder + "." + base + ".XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) throw EFCreateError("Cannot create file \"" + target + "\": " + std::strerror(errno));
  o.Temp = pattern;
  fchmod(fd, exists ? (st.st_mode & 07777) : CreationMode());
  o.File = fdopen(fd, "w+b");
  if (!o.File) {
    const int e = errno;
    close(fd);
    unlink(o.Temp.c_str());
    throw EFCreateError("Cannot create file \"" + target + "\": " + std::strerror(e));
  }
  // As TFileStream's: stdio's default 4 KiB would cost a system call per 4 KiB.
  std::setvbuf(o.File, nullptr, _IOFBF, 1 << 16);
  if (keepContent && exists) {
    std::FILE* in = std::fopen(o.Final.c_str(), "rb");
    bool copied = in != nullptr;
    std::vector<char> buf(1 << 16);
    while (copied) {
      const size_t n = std::fread(buf.data(), 1, buf.size(), in);
      if (n > 0 && std::fwrite(buf.data(), 1, n, o.File) != n) copied = false;
      if (n < buf.size()) {
        copied = copied && !std::ferror(in);
        break;
      }
    }
    if (in) std::fclose(in);
    if (!copied || std::fseek(o.File, 0, SEEK_SET) != 0) {
      std::fclose(o.File);
      unlink(o.Temp.c_str());
      throw EFOpenError("Cannot open file \"" + target + "\" for editing");
    }
  }
  return o;
}

TSafeFileStream::TSafeFileStream(const std::string& target, bool keepContent)
    : TSafeFileStream(Open(target, keepContent), target) {}

TSafeFileStream::TSafeFileStream(TOpened opened, const std::string& target)
    : TFileStream(opened.File, target), FFinal(opened.Final), FTemp(opened.Temp), FDirect(opened.Direct) {}

TSafeFileStream::~TSafeFileStream() {
  if (FCommitted || FDirect) return;
  try {
    Close();
  } catch (const EStreamError&) {
  }
  unlink(FTemp.c_str());
}

void TSafeFileStream::Commit() {
  if (FCommitted) return;
  try {
    Close();
  } catch (const EStreamError&) {
    if (!FDirect) unlink(FTemp.c_str());
    FCommitted = true;
    throw;
  }
  FCommitted = true;
  if (FDirect) return;
  if (std::rename(FTemp.c_str(), FFinal.c_str()) != 0) {
    const int e = errno;
    unlink(FTemp.c_str());
    throw EWriteError("Cannot write file \"" + FileName() + "\": " + std::strerror(e));
  }
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
