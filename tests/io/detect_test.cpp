#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "io_testutil.h"
#include "vexa/io/detect.h"
#include "vexa/io/formats.h"
#include "vexa/io/ioparams.h"

using namespace vexa;
using namespace iotest;
using namespace vexa::test;

namespace {

TMemoryStream StreamOf(const std::vector<uint8_t>& bytes) { return TMemoryStream(bytes.data(), bytes.size()); }

std::vector<uint8_t> Padded(const char* head, size_t headLen, size_t total) {
  std::vector<uint8_t> v(total, 0x20);
  std::memcpy(v.data(), head, std::min(headLen, total));
  return v;
}

class DetectFile : public ::testing::TestWithParam<std::tuple<const char*, int>> {};

// A stream whose reads fail, as a broken device would.
class FailingStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  int64_t Read(void*, int64_t) override { throw EReadError("device gone"); }
};

bool ThrowingTry(TStream&) { throw EReadError("try failed"); }

}  // namespace

TEST_P(DetectFile, RecognisesTheFormatAndRestoresThePosition) {
  auto [rel, type] = GetParam();
  std::string path = TestData(rel);
  VEXA_REQUIRE_FILE(path);
  TMemoryStream s;
  s.WriteBuffer("prefix", 6);  // detection starts at the position, not at 0
  TMemoryStream file;
  file.LoadFromFile(path);
  s.WriteBuffer(file.Memory(), file.Size());
  s.SetPosition(6);
  EXPECT_EQ(FindStreamFormat(s), type) << rel;
  EXPECT_EQ(s.Position(), 6);
  EXPECT_EQ(FindFileFormat(path, true), type) << rel;
}

INSTANTIATE_TEST_SUITE_P(
    PublicSuites, DetectFile,
    ::testing::Values(std::make_tuple("bmp/bmpsuite/g/pal8.bmp", ioBMP), std::make_tuple("bmp/image-rs/Core_1_Bit.bmp", ioBMP),
                      std::make_tuple("png/pngsuite/basn2c08.png", ioPNG), std::make_tuple("png/pngsuite/basi0g01.png", ioPNG),
                      std::make_tuple("jpeg/libjpeg-turbo/testorig.jpg", ioJPEG),
                      std::make_tuple("jpeg/pillow/hopper_gray.jpg", ioJPEG), std::make_tuple("gif/image-rs/sample_1.gif", ioGIF),
                      std::make_tuple("tiff/libtiffpic/jello.tif", ioTIFF), std::make_tuple("tiff/libtiffpic/g3test.tif", ioTIFF),
                      std::make_tuple("pcx/zigimg/test-bpp8.pcx", ioPCX), std::make_tuple("pcx/pillow/pil184.pcx", ioPCX),
                      std::make_tuple("ico/image-rs/bmp-24bpp-mask.ico", ioICO),
                      std::make_tuple("cur/pillow/deerstalker.cur", ioCUR),
                      std::make_tuple("tga/pillow-common/200x32_rgb_bl_raw.tga", ioTGA)));

TEST(DetectStream, SizeThresholdsOfTheSignatures) {
  // "BM" needs more than 14 bytes: a bare file header is not a bitmap.
  auto bm14 = StreamOf(Padded("BM", 2, 14));
  EXPECT_NE(FindStreamFormat(bm14), ioBMP);
  auto bm15 = StreamOf(Padded("BM", 2, 15));
  EXPECT_EQ(FindStreamFormat(bm15), ioBMP);
  // "GIF" needs more than 13 bytes.
  auto gif13 = StreamOf(Padded("GIF89a", 6, 13));
  EXPECT_NE(FindStreamFormat(gif13), ioGIF);
  auto gif14 = StreamOf(Padded("GIF89a", 6, 14));
  EXPECT_EQ(FindStreamFormat(gif14), ioGIF);
  // Stream headers: the tag and its zero byte, more than 12 bytes.
  auto jfif = StreamOf(Padded("JFIF\0", 5, 13));
  EXPECT_EQ(FindStreamFormat(jfif), ioJPEG);
  auto jfifNoZero = StreamOf(Padded("JFIFX", 5, 13));
  EXPECT_NE(FindStreamFormat(jfifNoZero), ioJPEG);
  auto pcx2 = StreamOf(Padded("PCX2\0", 5, 13));
  EXPECT_EQ(FindStreamFormat(pcx2), ioPCX);
  auto pcxOld = StreamOf(Padded("PCX\0", 4, 5));
  EXPECT_EQ(FindStreamFormat(pcxOld), ioPCX);
  auto tiffTag = StreamOf(Padded("TIFF\0", 5, 13));
  EXPECT_EQ(FindStreamFormat(tiffTag), ioTIFF);
  auto mm = StreamOf(Padded("MM\0*", 4, 9));
  EXPECT_EQ(FindStreamFormat(mm), ioTIFF);
  // A PCX file header: manufacturer 10, version at most 5, more than 128 bytes.
  auto pcx = StreamOf(Padded("\x0A\x05", 2, 129));
  EXPECT_EQ(FindStreamFormat(pcx), ioPCX);
  auto pcxBadVersion = StreamOf(Padded("\x0A\x06", 2, 129));
  EXPECT_NE(FindStreamFormat(pcxBadVersion), ioPCX);
}

TEST(DetectStream, EmptyOrFailingStreamsAnswerZero) {
  TMemoryStream empty;
  EXPECT_EQ(FindStreamFormat(empty), ioUnknown);
  FailingStream failing("GIF89a..........", 16);
  EXPECT_EQ(FindStreamFormat(failing), ioUnknown);

  VXFileFormatAdd({30, "Throws", "THR", nullptr, nullptr, ThrowingTry});
  auto gif = StreamOf(Padded("GIF89a", 6, 20));
  gif.SetPosition(3);
  EXPECT_EQ(FindStreamFormat(gif), ioUnknown);
  EXPECT_EQ(gif.Position(), 3);
  VXFileFormatResetDefaults();
}

TEST(DetectFileName, VerificationNeedsAnExtensionOfTheDetectedType) {
  TScratchDir dir;
  std::string gif = dir.Copy("png/pngsuite/basn2c08.png", "image.gif");
  VEXA_REQUIRE_FILE(gif);
  EXPECT_EQ(FindFileFormat(gif, true), ioUnknown);
  EXPECT_EQ(FindFileFormat(gif, false), ioPNG);
  std::string noExt = dir.Copy("png/pngsuite/basn2c08.png", "image");
  EXPECT_EQ(FindFileFormat(noExt, true), ioUnknown);
  // Any registered extension of the type will do, in any case.
  std::string dib = dir.Copy("bmp/bmpsuite/g/pal8.bmp", "x.DIB");
  EXPECT_EQ(FindFileFormat(dib, true), ioBMP);
  EXPECT_EQ(FindFileFormat(dir / "missing.png", false), ioUnknown);
}

TEST(DetectFileName, ExtensionIsTheLowerCasedTextAfterTheLastDotOfTheName) {
  EXPECT_EQ(VXExtractFileExt("photo.JPG"), "jpg");
  EXPECT_EQ(VXExtractFileExt("/a.dir/file"), "");
  EXPECT_EQ(VXExtractFileExt("archive.tar.GZ"), "gz");
  EXPECT_EQ(VXExtractFileExt("trailing."), "");
}
