// Saving never loses a write and never damages the file it replaces.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>
#include <iterator>

#include "io_testutil.h"
#include "vexa/codecs/lzw.h"
#include "vexa/core/sample.h"
#include "vexa/core/streams.h"
#include "vexa/io/vexaio.h"

using namespace vexa;
using namespace iotest;
using namespace vexa::test;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

int CountEntries(const std::string& folder) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder)) ++n;
  return n;
}

// Lowers the file-size limit for one scope; writes past it fail with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &FOld);
    rlimit lower = FOld;
    lower.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &FOld); }

 private:
  rlimit FOld{};
};

class SafeSave : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    VXInstallLZWCoders();
    picture = VXMakeSampleImage(320, 240);
    io.SetAttachedBitmap(&picture);
  }
  std::string Target(const TScratchDir& dir) const { return dir / (std::string("picture.") + GetParam()); }

  TBitmap picture;
  TVexaIO io;
};

TEST_P(SafeSave, AFullDeviceIsReportedNotSwallowed) {
  TScratchDir dir;
  const std::string link = Target(dir);
  fs::create_symlink("/dev/full", link);
  EXPECT_THROW(io.SaveToFile(link), EStreamError);
}

TEST_P(SafeSave, PastTheFileSizeLimitTheOldFileStaysWhole) {
  TScratchDir dir;
  const std::string target = Target(dir);
  TBitmap small = VXMakeSampleImage(8, 8);
  io.SetAttachedBitmap(&small);
  io.SaveToFile(target);
  ASSERT_FALSE(io.Aborting);
  const std::string before = ReadAll(target);
  ASSERT_FALSE(before.empty());
  io.SetAttachedBitmap(&picture);
  {
    FileSizeLimit limit(before.size() + 16);
    EXPECT_THROW(io.SaveToFile(target), EStreamError);
  }
  EXPECT_EQ(ReadAll(target), before);
  EXPECT_EQ(CountEntries(dir / ""), 1) << "the temporary file was left behind";
}

TEST_P(SafeSave, ARefusedSaveWritesNothing) {
  TScratchDir dir;
  const std::string target = Target(dir);
  std::ofstream(target) << "old content";
  TBitmap empty;
  io.SetAttachedBitmap(&empty);
  bool raised = false;  // the PNG writer raises "Error on creating PNG" instead of aborting
  try {
    io.SaveToFile(target);
  } catch (const EInvalidGraphic&) {
    raised = true;
  }
  EXPECT_TRUE(io.Aborting || raised);
  EXPECT_EQ(ReadAll(target), "old content");
  EXPECT_EQ(CountEntries(dir / ""), 1);
}

TEST_P(SafeSave, ARefusedSaveCreatesNoFile) {
  TScratchDir dir;
  TBitmap empty;
  io.SetAttachedBitmap(&empty);
  try {
    io.SaveToFile(Target(dir));
  } catch (const EInvalidGraphic&) {
  }
  EXPECT_EQ(CountEntries(dir / ""), 0);
}

// Parameters loaded from another format may describe depths this writer lacks (8 x 4
// from an RGBA PNG, 5 x 3 from a 16-bit BMP, 16 x 1 from 16-bit grey, 8 x 2 from grey
// with alpha): the writer picks its nearest depth and the file reads back.
TEST_P(SafeSave, ParametersFromAnotherFormatStillSave) {
  TScratchDir dir;
  for (const char* source : {"png/pngsuite/basn6a08.png", "bmp/bmpsuite/g/rgb16.bmp", "png/pngsuite/basn0g16.png",
                             "png/pngsuite/basn4a08.png"}) {
    SCOPED_TRACE(source);
    const std::string in = TestData(source);
    VEXA_REQUIRE_FILE(in);
    io.LoadFromFile(in);
    ASSERT_FALSE(io.Aborting);
    const int width = picture.Width();
    io.SaveToFile(Target(dir));
    EXPECT_FALSE(io.Aborting) << io.LastFailure().Describe();
    TBitmap back;
    TVexaIO reader;
    reader.SetAttachedBitmap(&back);
    reader.LoadFromFile(Target(dir));
    EXPECT_FALSE(reader.Aborting);
    EXPECT_EQ(back.Width(), width);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWriter, SafeSave,
                         ::testing::Values("bmp", "pcx", "tga", "gif", "tif", "jpg", "png"));

TEST(SafeSaveFile, ReplacesThroughASymbolicLinkKeepingLinkAndPermissions) {
  TScratchDir dir;
  const std::string real = dir / "real.bmp", link = dir / "link.bmp";
  std::ofstream(real) << "old";
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  fs::create_symlink("real.bmp", link);
  TBitmap picture = VXMakeSampleImage(16, 16);
  TVexaIO io;
  io.SetAttachedBitmap(&picture);
  io.SaveToFile(link);
  ASSERT_FALSE(io.Aborting);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadAll(real).substr(0, 2), "BM");
  struct stat st;
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(SafeSaveFile, AnInPlaceEditThatFailsLeavesTheFile) {
  TScratchDir dir;
  const std::string target = dir / "pages.tif";
  TBitmap picture = VXMakeSampleImage(64, 64);
  TVexaIO io;
  io.SetAttachedBitmap(&picture);
  io.SaveToFile(target);
  const std::string before = ReadAll(target);
  TBitmap big = VXMakeSampleImage(400, 400);
  io.SetAttachedBitmap(&big);
  {
    FileSizeLimit limit(before.size() + 1024);
    EXPECT_THROW(io.InsertToFileTIFF(target), EStreamError);
  }
  EXPECT_EQ(ReadAll(target), before);
  EXPECT_EQ(CountEntries(dir / ""), 1);
}

TEST(FileStreamOpen, FoldersAndDevicesAreRefusedForReading) {
  TScratchDir dir;
  TMemoryStream m;
  EXPECT_THROW(m.LoadFromFile(dir / ""), EFOpenError);
  EXPECT_THROW(TFileStream("/dev/zero", fmOpenRead), EFOpenError);
  TBitmap bmp;
  TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  fs::create_directory(dir / "folder.bmp");
  EXPECT_THROW(io.LoadFromFile(dir / "folder.bmp"), EFOpenError);
}

}  // namespace
