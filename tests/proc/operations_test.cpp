#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "vexa/core/sample.h"
#include "vexa/io/vexaio.h"
#include "vexa/proc/operations.h"

using namespace vexa;

namespace {

bool SameImage(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<size_t>(a.RowLen())) != 0)
      return false;
  return true;
}

std::vector<std::string> Split(const std::string& words, char sep) {
  std::vector<std::string> out;
  for (size_t start = 0; start <= words.size();) {
    size_t end = std::min(words.find(sep, start), words.size());
    out.push_back(words.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Runs operations on fresh copies of one sample image.
class Operations : public ::testing::Test {
 protected:
  void SetUp() override {
    FProc.AutoUndo = false;
    FProc.SetAttachedBitmap(&FWork);
    TVexaIO io;
    io.SetAttachedBitmap(&FSample);
    io.SaveToFile(FOther);
  }
  void TearDown() override { std::filesystem::remove(FOther); }

  // The defaults, with a file and a text where a parameter has none.
  std::vector<std::string> DefaultArgs(const TVXOperation& op) const {
    std::vector<std::string> args;
    for (const TVXOpParam& p : op.Params) {
      if (p.Kind == opkFile) args.push_back(FOther);
      else if (p.Kind == opkText) args.push_back("hidden words");
      else
        for (const std::string& w : Split(p.Default, ' '))
          if (!w.empty()) args.push_back(w);
    }
    return args;
  }

  std::string Run(const TVXOperation& op, const std::vector<std::string>& args) {
    FWork = FSample;
    FReport.clear();
    return op.Execute(FProc, args, FReport);
  }

  TBitmap FSample = VXMakeSampleImage(40, 30, 3);
  TBitmap FWork;
  TVexaProc FProc;
  std::string FReport;
  std::string FOther = (std::filesystem::temp_directory_path() /
                        ("vexa_ops_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                         ".bmp"))
                           .string();
};

}  // namespace

TEST_F(Operations, CatalogueIsSortedUniqueAndEveryOperationIsInOneGroup) {
  const std::vector<TVXOperation>& ops = VXOperations();
  ASSERT_FALSE(ops.empty());
  std::map<std::string, int> groupOf;
  for (int g = 0; g < kVXOpGroupCount; ++g) {
    EXPECT_STRNE(VXOpGroupName(TVXOpGroup(g)), "");
    int inGroup = 0;
    for (const TVXOperation& op : ops)
      if (op.Group == g) ++inGroup, ++groupOf[op.Name];
    EXPECT_GT(inGroup, 0) << VXOpGroupName(TVXOpGroup(g));
  }
  EXPECT_STREQ(VXOpGroupName(ogFrequency), "Frequency domain");
  for (size_t i = 0; i < ops.size(); ++i) {
    EXPECT_EQ(groupOf[ops[i].Name], 1) << ops[i].Name;
    EXPECT_STRNE(ops[i].Title, "") << ops[i].Name;
    if (i > 0) {
      EXPECT_LT(std::string(ops[i - 1].Name), ops[i].Name);
    }
    EXPECT_EQ(VXFindOperation(ops[i].Name), &ops[i]);
    // Optional parameters come last.
    bool optional = false;
    for (const TVXOpParam& p : ops[i].Params) {
      EXPECT_TRUE(p.Optional || !optional) << ops[i].Name << " " << p.Title;
      optional = p.Optional;
    }
  }
  EXPECT_EQ(VXFindOperation("sharpen"), nullptr);
}

// Every operation runs through the library with its parameters' defaults, and with
// every word of every choice; words outside the declared ranges and choices are
// refused before the image changes.
TEST_F(Operations, ParametersMatchWhatTheOperationsAccept) {
  for (const TVXOperation& op : VXOperations()) {
    SCOPED_TRACE(op.Name);
    const std::vector<std::string> defaults = DefaultArgs(op);
    ASSERT_EQ(op.CheckArgCount(defaults.size()), "");
    ASSERT_EQ(Run(op, defaults), "");
    EXPECT_FALSE(FWork.Empty());
    EXPECT_NE(op.CheckArgCount(size_t(op.MaxArgs() + 1)), "");
    if (op.MinArgs() > 0) {
      EXPECT_NE(Run(op, {}), "");
    }

    size_t word = 0;
    for (const TVXOpParam& p : op.Params) {
      auto expectRefused = [&](size_t at, const std::string& bad) {
        std::vector<std::string> args = defaults;
        if (at >= args.size()) args.resize(at + 1, "0");  // an optional parameter left out by its default
        args[at] = bad;
        EXPECT_NE(Run(op, args), "") << p.Title << " = " << bad;
        EXPECT_TRUE(SameImage(FWork, FSample)) << p.Title << " = " << bad;
      };
      switch (p.Kind) {
        case opkInt:
          expectRefused(word, std::to_string(int64_t(p.Min) - 1));
          expectRefused(word, std::to_string(int64_t(p.Max) + 1));
          expectRefused(word, "1x");
          break;
        case opkNumber: expectRefused(word, "much"); break;
        case opkColour: expectRefused(word + 2, "256"); break;
        case opkChoice:
        case opkPreset:
        case opkFlag:
          for (const std::string& choice : Split(p.Choices, '|')) {
            std::vector<std::string> args = defaults;
            args.resize(word);
            args.push_back(choice);
            // The word as the first of the remaining parameters' defaults.
            for (size_t k = word + 1; k < defaults.size(); ++k) args.push_back(defaults[k]);
            EXPECT_EQ(Run(op, args), "") << choice;
          }
          expectRefused(word, "no-such-word");
          break;
        case opkFile: expectRefused(word, FOther + ".missing"); break;
        case opkText: break;
      }
      word += size_t(p.Words());
    }
  }
}

TEST_F(Operations, ReportsComeBackAsText) {
  const TVXOperation& hide = *VXFindOperation("hide-text");
  ASSERT_EQ(Run(hide, {"under the pixels"}), "");
  EXPECT_EQ(FReport, "16\n");
  const TBitmap withText = FWork;
  std::string report;
  FWork = withText;
  ASSERT_EQ(VXFindOperation("read-text")->Execute(FProc, {}, report), "");
  EXPECT_EQ(report, "under the pixels\n");
  ASSERT_EQ(Run(*VXFindOperation("numcolors"), {}), "");
  EXPECT_GT(std::stoi(FReport), 1);
}

// After a reduction to 1 bit the 24-bit operations refuse the image (they return
// at once); converting back to 24 bits makes them work again.
TEST_F(Operations, ConvertTo24BitBringsTheColourOperationsBack) {
  ASSERT_EQ(Run(*VXFindOperation("bw-ordered"), {}), "");
  ASSERT_EQ(FWork.PixelFormat(), pf1bit);
  std::string report;
  const TBitmap bw = FWork;
  ASSERT_EQ(VXFindOperation("rgb")->Execute(FProc, {"40", "0", "0"}, report), "");
  EXPECT_TRUE(SameImage(FWork, bw));
  ASSERT_EQ(VXFindOperation("to24bit")->Execute(FProc, {}, report), "");
  ASSERT_EQ(FWork.PixelFormat(), pf24bit);
  EXPECT_EQ(FWork.GetPixel(0, 0).r == 0 ? 0 : 255, FWork.GetPixel(0, 0).r);  // still black or white
  ASSERT_EQ(VXFindOperation("rgb")->Execute(FProc, {"40", "0", "0"}, report), "");
  EXPECT_FALSE(SameImage(FWork, bw));
  const TRGB c = FWork.GetPixel(0, 0);
  EXPECT_TRUE(c.r == 40 || c.r == 255) << int(c.r);
}
