// The tool refuses what cannot work: one line on stderr with the reason, a non-zero
// exit, and no file left behind or changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "vexa/core/sample.h"
#include "vexa/io/vexaio.h"

using namespace vexa;
using namespace vexa::test;

namespace {

struct Refusal {
  const char* Name;
  /// Arguments; {in} and {out} stand for the case's input and output paths.
  const char* Args;
  /// The input: a file the fixture makes (see MakeInput) or test data.
  const char* Input;
  int Code;
  /// Words the one-line message holds.
  std::vector<std::string> Says;
};

void Save(TBitmap& bmp, const std::string& path) {
  TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  io.SaveToFile(path);
  ASSERT_FALSE(io.Aborting) << path;
}

// Inputs made on the spot: headers with a valid signature but no image, and
// pictures whose shape makes an operation's work memory pass the size limit.
std::string MakeInput(const TScratchDir& dir, const std::string& what) {
  const std::string path = dir / ("in-" + what);
  if (what == "zero-size.bmp") {
    // BITMAPFILEHEADER + BITMAPINFOHEADER declaring 0 x 0 pixels.
    std::vector<uint8_t> b(54, 0);
    b[0] = 'B', b[1] = 'M', b[2] = 54, b[10] = 54, b[14] = 40, b[26] = 1, b[28] = 24;
    WriteFileBytes(path, b);
  } else if (what == "soi-only.jpg") {
    WriteFileBytes(path, {0xFF, 0xD8, 0xFF});
  } else if (what == "no-pages.tif") {
    // A byte-order mark and a first-directory offset of 0: a TIFF without pages.
    WriteFileBytes(path, {'I', 'I', 42, 0, 0, 0, 0, 0});
  } else if (what == "text.bmp") {
    WriteFileBytes(path, {'h', 'e', 'l', 'l', 'o', '\n'});
  } else if (what == "small.bmp") {
    TBitmap b = VXMakeSampleImage(64, 48, 3);
    Save(b, path);
  } else if (what == "tall.bmp") {
    // Resampling to 100000 x 1 filters through a 100000 x 4000 temporary (1.2 GB).
    TBitmap b = VXMakeSampleImage(64, 4000, 3);
    Save(b, path);
  } else if (what == "wide.bmp") {
    // A transform pads to a 16384 x 16384 square: 2 GB per plane.
    TBitmap b = VXMakeSampleImage(8193, 2, 3);
    Save(b, path);
  } else {
    return TestData(what);
  }
  return path;
}

const Refusal kRefusals[] = {
    {"InfoOfAHeaderWithoutSize", "info {in}", "zero-size.bmp", 1, {"not a readable image", "width or height"}},
    {"InfoOfAJpegWithoutFrame", "info {in}", "soi-only.jpg", 1, {"not a readable image", "truncated data"}},
    {"InfoOfText", "info {in}", "text.bmp", 1, {"not a readable image"}},
    {"TiffWithoutPages", "tiff {in} {out}", "no-pages.tif", 1, {"no readable page"}},
    {"TiffOfAnotherFormat", "tiff {in} {out}", "small.bmp", 1, {"no readable page"}},
    {"ConvertOfAMissingIndex", "convert --index 5 {in} {out}", "tiff/libtiffpic/jello.tif", 1,
     {"cannot read the image", "no such image", "index 5"}},
    {"ConvertOfABadHeaderIsARead", "convert {in} {out}", "zero-size.bmp", 1, {"cannot read the image"}},
    {"ConvertOntoItselfKeepsTheFrames", "convert {in} {in}", "gif/pillow/chi.gif", 1,
     {"holds 31 frames", "another file"}},
    {"ProcOntoItselfKeepsTheFrames", "proc {in} {in} negative", "gif/pillow/chi.gif", 1, {"holds 31 frames"}},
    {"ProcRectangleOutside", "proc {in} {out} negative --rect 64 0 80 10", "small.bmp", 1,
     {"--rect 64 0 80 10", "outside the 64 x 48 image"}},
    {"ProcRectangleBelow", "proc {in} {out} filter blur --rect 0 48 10 60", "small.bmp", 1, {"outside"}},
    {"ProcResultPastTheLimit", "proc {in} {out} resample 100000 100000", "small.bmp", 1,
     {"resample: size limit", "100000 x 100000"}},
    {"ProcDerivedSidePastTheLimit", "proc {in} {out} resample 100000 -1 triangle", "small.bmp", 1,
     {"100000 x 75000"}},
    {"ProcResampleTemporaryPastTheLimit", "proc {in} {out} resample 100000 1", "tall.bmp", 1,
     {"resample: size limit", "100000 x 1 "}},
    {"ProcTransformPastTheLimit", "proc {in} {out} fft-lowpass 8 gray", "wide.bmp", 1,
     {"fft-lowpass: size limit", "16384 x 16384"}},
};

class CliRefusal : public ::testing::TestWithParam<Refusal> {};

std::string Expand(std::string s, const std::string& in, const std::string& out) {
  for (auto [key, value] : {std::pair<std::string, std::string>{"{in}", in}, {"{out}", out}})
    for (size_t at; (at = s.find(key)) != std::string::npos;) s.replace(at, key.size(), Quote(value));
  return s;
}

}  // namespace

TEST_P(CliRefusal, ExitsWithTheReasonAndWritesNothing) {
  const Refusal& c = GetParam();
  TScratchDir dir;
  std::string in = MakeInput(dir, c.Input);
  VEXA_REQUIRE_FILE(in);
  if (in.rfind(dir.Path().string(), 0) != 0) in = dir.Copy(c.Input, "in" + std::filesystem::path(in).extension().string());
  const std::vector<uint8_t> before = ReadFileBytes(in);
  const std::string out = dir / "out.tif";

  const TCliRun r = RunCli(Expand(c.Args, in, out));
  EXPECT_EQ(r.Code, c.Code) << r.Err;
  for (const std::string& word : c.Says) EXPECT_NE(r.Err.find(word), std::string::npos) << word << " in: " << r.Err;
  EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
  EXPECT_EQ(r.Err.find("cannot write"), std::string::npos) << r.Err;
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(ReadFileBytes(in), before);
}

INSTANTIATE_TEST_SUITE_P(Tool, CliRefusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& i) { return std::string(i.param.Name); });

// The refusals above are refusals, not blanket failures: the same commands work
// within the limits.
TEST(CliRefusal, NeighbouringCommandsStillWork) {
  TScratchDir dir;
  const std::string small = MakeInput(dir, "small.bmp");
  EXPECT_EQ(RunCli("proc " + Quote(small) + " " + Quote(dir / "a.bmp") + " negative --rect 63 47 80 60").Code, 0);
  EXPECT_EQ(RunCli("proc " + Quote(small) + " " + Quote(small) + " negative").Code, 0);
  EXPECT_EQ(RunCli("convert " + Quote(small) + " " + Quote(small)).Code, 0);
  const TCliRun r = RunCli("proc " + Quote(MakeInput(dir, "tall.bmp")) + " " + Quote(dir / "b.bmp") + " resample 2000 1");
  EXPECT_EQ(r.Code, 0) << r.Err;
}
