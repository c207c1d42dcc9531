// Every row of the built-in format table against what the I/O component does with
// it: dispatch by each extension, detection in table order, and can-read/can-write.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <memory>

#include "io_testutil.h"
#include "vexa/io/detect.h"
#include "vexa/io/formats.h"
#include "vexa/io/formattable.h"
#include "vexa/io/vexaio.h"

using namespace vexa;
using namespace iotest;
using namespace vexa::test;

namespace {

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    out.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Formats the component cannot write come from the public test files.
std::string SampleFile(int type) {
  switch (type) {
    case ioICO: return "ico/pillow/hopper.ico";
    case ioCUR: return "cur/pillow/mask_L.cur";
    case ioWMF: return "wmf/pillow/drawing.wmf";
    case ioEMF: return "wmf/pillow/drawing.emf";
    default: return "";
  }
}

class FormatRow : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    io = std::make_unique<TVexaIO>();  // after the coders: its parameters copy them
    io->SetAttachedBitmap(&bmp);
  }

  const TVXBuiltinFormat& Row() const { return VXBuiltinFormatAt(GetParam()); }

  // An image of the row's format: written by the component when it can, else a test file.
  std::vector<uint8_t> Sample() {
    if (Row().Write) {
      TBitmap picture(9, 7, pf24bit);
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
          reinterpret_cast<TRGB*>(picture.ScanLine(y))[x] = CreateRGB(x * 28, y * 36, 200);
      TVexaIO writer;
      writer.SetAttachedBitmap(&picture);
      TMemoryStream s;
      writer.SaveToStream(s, Row().FileType);
      EXPECT_FALSE(writer.Aborting) << writer.LastFailure().Describe();
      const uint8_t* p = s.Memory();
      return std::vector<uint8_t>(p, p + s.Size());
    }
    TMemoryStream s;
    s.LoadFromFile(TestData(SampleFile(Row().FileType)));
    const uint8_t* p = s.Memory();
    return std::vector<uint8_t>(p, p + s.Size());
  }

  std::string WriteSample(const std::string& name) {
    std::vector<uint8_t> bytes = Sample();
    std::string path = dir / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  ScopedLzwCoders coders;
  TScratchDir dir;
  TBitmap bmp;
  std::unique_ptr<TVexaIO> io;
};

TEST_P(FormatRow, EveryReadExtensionLoadsThroughTheRow) {
  const TVXBuiltinFormat& f = Row();
  ASSERT_TRUE(f.Read || f.Imported);
  EXPECT_TRUE(VXFileFormatCanRead(f.FileType));
  for (std::string ext : Split(f.ReadExtensions)) {
    // Upper case on disk: dispatch lower-cases the extension.
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string path = WriteSample("sample." + ext);
    io->Params.FileType = ioUnknown;
    io->LoadFromFile(path);
    EXPECT_FALSE(io->Aborting) << ext << ": " << io->LastFailure().Describe();
    EXPECT_EQ(io->Params.FileType, f.FileType) << ext;
    EXPECT_FALSE(bmp.Empty()) << ext;
  }
}

TEST_P(FormatRow, EveryWriteExtensionSavesTheRowsFormat) {
  const TVXBuiltinFormat& f = Row();
  EXPECT_EQ(VXFileFormatCanWrite(f.FileType), f.Write != nullptr);
  bmp.Allocate(5, 3, pf24bit);
  for (const std::string& ext : Split(f.WriteExtensions)) {
    std::string path = dir / ("out." + ext);
    io->SaveToFile(path);
    EXPECT_FALSE(io->Aborting) << ext << ": " << io->LastFailure().Describe();
    EXPECT_EQ(FindFileFormat(path, false), f.FileType) << ext;
  }
  // A type without a writer (and no registry function) is refused, with a reason.
  TMemoryStream s;
  io->SaveToStream(s, f.FileType);
  EXPECT_EQ(io->Aborting, f.Write == nullptr);
  if (!f.Write) {
    EXPECT_EQ(io->LastFailure().Kind, fkUnknownFormat);
  }
}

TEST_P(FormatRow, DetectionFindsTheRowAndNoEarlierRowClaimsIt) {
  const TVXBuiltinFormat& f = Row();
  std::vector<uint8_t> bytes = Sample();
  TMemoryStream s(bytes.data(), bytes.size());
  if (!f.Try) {
    EXPECT_NE(FindStreamFormat(s), f.FileType) << "imported formats are not detected";
    return;
  }
  // The image may sit after other data: detection counts from the position.
  TMemoryStream shifted;
  shifted.WriteBuffer("junk", 4);
  shifted.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  shifted.SetPosition(4);
  EXPECT_EQ(FindStreamFormat(shifted), f.FileType);
  EXPECT_EQ(shifted.Position(), 4);
  for (int i = 0; i < GetParam(); ++i) {
    const TVXBuiltinFormat& earlier = VXBuiltinFormatAt(i);
    if (!earlier.Try) continue;
    s.SetPosition(0);
    EXPECT_FALSE(earlier.Try(s)) << "row " << i << " (type " << earlier.FileType << ") claims it first";
  }
}

std::string RowName(const ::testing::TestParamInfo<int>& info) {
  return VXFileFormatGetExt(VXBuiltinFormatAt(info.param).FileType, 0);
}

INSTANTIATE_TEST_SUITE_P(Builtin, FormatRow, ::testing::Range(0, VXBuiltinFormatCount()), RowName);

TEST(FormatTable, CoversEveryBuiltinRegistryRecordOnce) {
  VXFileFormatResetDefaults();
  for (int i = 0; i < VXFileFormatCount(); ++i) {
    int type = VXFileFormatAt(i)->FileType;
    int rows = 0;
    for (int k = 0; k < VXBuiltinFormatCount(); ++k) rows += VXBuiltinFormatAt(k).FileType == type;
    EXPECT_EQ(rows, 1) << "type " << type;
  }
  EXPECT_EQ(VXBuiltinFormatCount(), VXFileFormatCount());
}

TEST(FormatTable, GifIsOnlyAsGoodAsTheInstalledCoders) {
  std::string gif = TestData("gif/pillow/dispose_none.gif");
  VEXA_REQUIRE_FILE(gif);
  ScopedLzwCoders restoresThem;
  DefGIF_LZWDECOMPFUNC = nullptr;
  DefGIF_LZWCOMPFUNC = nullptr;
  EXPECT_FALSE(VXFileFormatCanRead(ioGIF));
  EXPECT_FALSE(VXFileFormatCanWrite(ioGIF));
  TBitmap bmp;
  TVexaIO io;  // copies the (empty) hooks
  io.SetAttachedBitmap(&bmp);
  io.LoadFromFile(gif);
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(io.LastFailure().Kind, fkUnsupported);
}

}  // namespace
