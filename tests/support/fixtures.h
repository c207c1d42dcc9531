// Test data, scratch files and the small helpers every test program needs.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "vexa/core/bitmap.h"
#include "vexa/core/streams.h"

namespace vexa::test {

/// A file of the shared test data, by its path below the data folder.
std::string TestData(const std::string& rel);

/// The regular files below a test-data folder (recursively when asked) whose names end in
/// one of `extensions` (any name when empty), sorted, as paths relative to the data folder.
std::vector<std::string> DataFiles(const std::string& folder, const std::vector<std::string>& extensions = {},
                                   bool recursive = false);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

/// True on the continuous-integration machine, where every tool the tests use must be present.
bool InCI();

/// A scratch file name of its own for this process and test: test programs run side by side.
std::string TempPath(const std::string& name);

/// A fresh directory for one test, removed afterwards.
class TScratchDir {
 public:
  TScratchDir();
  ~TScratchDir();
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
  std::string operator/(const std::string& name) const { return (FPath / name).string(); }
  const std::filesystem::path& Path() const { return FPath; }
  /// Copies a test-data file under a new name; empty when the source is missing.
  std::string Copy(const std::string& rel, const std::string& name) const;

 private:
  std::filesystem::path FPath;
};

/// A progress record that owns the abort flag it points at, so no earlier failure leaks in.
struct TAbortFlag {
  bool Aborting = false;
  TProgressRec Rec;
  std::vector<int> Seen;  // progress values reported, once watched
  TAbortFlag() { Rec.Aborting = &Aborting; }
  TAbortFlag(const TAbortFlag&) = delete;
  TAbortFlag& operator=(const TAbortFlag&) = delete;
  operator TProgressRec&() { return Rec; }
  /// Records every progress value and raises the flag once one reaches `abortAt`.
  void Watch(int abortAt = INT_MAX) {
    Rec.OnProgress = [this, abortAt](TObject*, int per) {
      Seen.push_back(per);
      if (per >= abortAt) Aborting = true;
    };
  }
};

/// A memory stream that fails once it would grow past a budget, as a full disk does.
class TFailingStream : public TMemoryStream {
 public:
  explicit TFailingStream(int64_t budget) : FBudget(budget) {}
  int64_t Write(const void* buffer, int64_t count) override;

 private:
  int64_t FBudget;
};

/// The result of running the command-line tool.
struct TCliRun {
  int Code = -1;
  std::string Out, Err;
};

/// Runs the command-line tool with the arguments (already shell-quoted where needed).
TCliRun RunCli(const std::string& args);

/// Quotes one argument for the shell.
std::string Quote(const std::string& s);

}  // namespace vexa::test

#define VEXA_REQUIRE_FILE(path)                                                                      \
  do {                                                                                                \
    if ((path).empty() || !std::filesystem::exists(path)) GTEST_SKIP() << "missing test data " << (path); \
  } while (0)
