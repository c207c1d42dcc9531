// One harness for "decode every file of a suite and compare with a reference decoder":
// a format says how it reads a page and how its pixels meet the reference's; the harness
// walks the files and pages and holds every format to the same checks.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "support/reference.h"
#include "vexa/core/bitmap.h"
#include "vexa/io/ioparams.h"

namespace vexa::test {

/// What reading one page gave.
struct TReadOutcome {
  TBitmap Bitmap;
  TIOParamsVals Params;
  bool Aborting = false;
  int Pages = 1;
  int Left = 0, Top = 0;  // where the frame stands on the logical screen
};

/// Runs a reader with a fresh abort flag on an outcome that starts as `start`.
template <class F>
TReadOutcome ReadWith(F read, TReadOutcome start = {}) {
  TAbortFlag flag;
  read(start, flag.Rec);
  start.Aborting = flag.Aborting;
  return start;
}

/// The bytes a writer puts on a memory stream, run with a fresh abort flag.
template <class F>
std::vector<uint8_t> WrittenBytes(F write, bool* aborted = nullptr) {
  TMemoryStream s;
  TAbortFlag flag;
  write(s, flag.Rec);
  if (aborted) *aborted = flag.Aborting;
  return s.Data();
}

struct TReadFormat {
  std::string Name;
  std::function<TReadOutcome(const std::string& path, int page)> Read;
  /// The reference pixels; Pillow when not set.
  std::function<bool(const std::string& path, int page, TRefImage& ref)> Reference;
  /// The format's own expectations of a page read without failure.
  std::function<void(const std::string& path, const TReadOutcome& ours)> Check;
  /// Brings our pixels and the reference's to one convention; may raise the tolerance.
  std::function<void(const TReadOutcome& ours, TRefImage& ref, std::vector<uint8_t>& ourRgb, int& tolerance)> Align;
  bool ExpectPages = false;     // the page count must equal the case's
  bool ComparePages = false;    // the page count must equal the reference's
  bool ComparePosition = false; // the frame position must equal the reference's
  bool FrameOnly = false;       // the reference crops an animation frame to its own box
  /// File names we refuse (the abort flag must be set), whose pixels readers disagree on
  /// (only the size is checked), and that the reference refuses.
  std::set<std::string> MustAbort, SizeOnly, ReferenceRefuses;
};

struct TReadCase {
  const TReadFormat* Format = nullptr;
  std::string File;  // below the test data
  int Pages = 1;
  int Tolerance = 0;  // largest channel difference accepted
};

void PrintTo(const TReadCase& c, std::ostream* os);

/// Every file of the folders whose name ends in one of the extensions, one page each.
std::vector<TReadCase> FolderCases(const TReadFormat& format, const std::vector<std::string>& folders,
                                   const std::vector<std::string>& extensions, bool recursive = false);

/// Test names from the file paths.
std::string ReadCaseName(const ::testing::TestParamInfo<TReadCase>& info);

class ReferenceRead : public ::testing::TestWithParam<TReadCase> {};

}  // namespace vexa::test

/// Instantiates the harness for one format's cases (with vexa::test in scope).
#define VEXA_READ_SUITE(name, cases) \
  INSTANTIATE_TEST_SUITE_P(name, ReferenceRead, ::testing::ValuesIn(cases), ::vexa::test::ReadCaseName)
