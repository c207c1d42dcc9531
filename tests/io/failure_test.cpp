// Why a load or save failed: crafted files named for what they break, each giving
// the expected category (and offending value) with a non-empty text.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <functional>

#include "io_testutil.h"
#include "vexa/core/errors.h"
#include "vexa/io/vexaio.h"

using namespace vexa;
using namespace iotest;
using namespace vexa::test;

namespace {

// A Windows 3 BMP: 54 bytes of headers, then `tail` (palette and pixels).
std::vector<uint8_t> Bmp(int width, int height, int bits, const std::vector<uint8_t>& tail) {
  Bytes b;
  b.Str("BM").U32(0).U32(0).U32(0);  // size 0: the stream decides; data follows the palette
  b.U32(40).I32(width).I32(height).U16(1).U16(bits).U32(0).U32(0).I32(2835).I32(2835).U32(0).U32(0);
  return b.Append(tail).B;
}

// An uncompressed-looking little-endian TIFF page of 4 x 4 grey pixels with the given compression.
std::vector<uint8_t> Tiff(uint16_t compression) {
  Bytes b;
  b.Str("II").U16(42).U32(8);
  const uint32_t entries = 9, dataAt = 8 + 2 + entries * 12 + 4;
  b.U16(entries);
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) { b.U16(tag).U16(type).U32(1).U32(value); };
  entry(256, 3, 4);             // width
  entry(257, 3, 4);             // length
  entry(258, 3, 8);             // bits per sample
  entry(259, 3, compression);   // compression
  entry(262, 3, 1);             // black is zero
  entry(273, 4, dataAt);        // strip offset
  entry(277, 3, 1);             // samples per pixel
  entry(278, 4, 4);             // rows per strip
  entry(279, 4, 16);            // strip byte count
  b.U32(0);
  return b.Append(std::vector<uint8_t>(16, 0x80)).B;
}

// The first `percent` per cent of an image the component writes itself.
std::vector<uint8_t> Cut(int type, int percent) {
  TBitmap picture(40, 30, pf24bit);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) reinterpret_cast<TRGB*>(picture.ScanLine(y))[x] = CreateRGB(x * 6, y * 8, (x ^ y) * 4);
  TVexaIO io;
  io.SetAttachedBitmap(&picture);
  TMemoryStream s;
  io.SaveToStream(s, type);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size() * percent / 100);
}

struct Case {
  const char* File;  // named for what it breaks
  std::function<std::vector<uint8_t>()> Make;
  TVXFailureKind Kind;
  int64_t Value;  // the offending value of an unsupported variant, -1 when none is expected
};

const Case kCases[] = {
    {"rows-end-early.bmp", [] { return Bmp(4, 4, 24, std::vector<uint8_t>(12)); }, fkTruncated, -1},
    {"bit-depth-7.bmp", [] { return Bmp(4, 4, 7, std::vector<uint8_t>(128 * 4 + 64)); }, fkUnsupported, 7},
    {"huge-size.bmp", [] { return Bmp(65535, 65535, 24, {}); }, fkSizeLimit, -1},
    {"huge-size.tga",
     [] { return Bytes().Append({0, 0, 2}).U16(0).U16(0).Append({0}).U16(0).U16(0).U16(65535).U16(65535).Append({24, 0}).B; },
     fkSizeLimit, -1},
    {"compression-34712.tif", [] { return Tiff(34712); }, fkUnsupported, 34712},
    {"no-directory.tif", [] { return Bytes().Str("II").U16(42).U32(0).U32(0).B; }, fkCorrupt, -1},
    {"bad-manufacturer.pcx", [] { return std::vector<uint8_t>(200, 5); }, fkCorrupt, -1},
    {"cut-in-half.png", [] { return Cut(ioPNG, 50); }, fkTruncated, -1},
    {"cut-in-half.jpg", [] { return Cut(ioJPEG, 50); }, fkTruncated, -1},
    {"unknown.xyz", [] { return std::vector<uint8_t>(64, 1); }, fkUnknownFormat, -1},
};

class LoadFailure : public ::testing::TestWithParam<Case> {};

TEST_P(LoadFailure, SaysWhyWithCategoryAndText) {
  const Case& c = GetParam();
  TScratchDir dir;
  std::string path = dir / c.File;
  std::vector<uint8_t> bytes = c.Make();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  TBitmap bmp;
  TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  io.LoadFromFile(path);
  ASSERT_TRUE(io.Aborting);
  TVXFailure why = io.LastFailure();
  EXPECT_EQ(why.Kind, c.Kind) << why.Describe();
  EXPECT_FALSE(why.Text.empty());
  EXPECT_EQ(why.Describe().rfind(VXFailureKindName(c.Kind), 0), 0u) << why.Describe();
  if (c.Value >= 0) {
    EXPECT_TRUE(why.HasValue);
    EXPECT_EQ(why.Value, c.Value);
  }
  // The next successful load forgets the reason.
  bmp.Allocate(3, 2, pf24bit);
  std::string good = dir / "good.bmp";
  io.SaveToFile(good);
  io.LoadFromFile(good);
  EXPECT_FALSE(io.Aborting);
  EXPECT_FALSE(io.LastFailure().Failed());
}

INSTANTIATE_TEST_SUITE_P(Crafted, LoadFailure, ::testing::ValuesIn(kCases), [](const auto& info) {
  std::string name = info.param.File;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
});

TEST(LoadFailure, AStopFromTheProgressHandlerHasNoCodecReason) {
  TScratchDir dir;
  TBitmap bmp(16, 16, pf24bit);
  TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  std::string path = dir / "fine.bmp";
  io.SaveToFile(path);
  io.OnProgress = [&](TObject*, int) { io.Aborting = true; };
  io.LoadFromFile(path);
  ASSERT_TRUE(io.Aborting);
  EXPECT_EQ(io.LastFailure().Kind, fkStopped);
}

TEST(SaveFailure, AStreamThatRefusesWritesRaisesAndKeepsTheReason) {
  TScratchDir dir;
  TBitmap bmp(16, 16, pf24bit);
  TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  std::string path = dir / "read-only.bmp";
  io.SaveToFile(path);
  TFileStream readOnly(path, fmOpenRead);
  EXPECT_THROW(io.SaveToStream(readOnly, ioBMP), EStreamError);
  EXPECT_EQ(io.LastFailure().Kind, fkStreamError);
  EXPECT_FALSE(io.LastFailure().Text.empty());
}

TEST(SaveFailure, AnEmptyImageHasNoFileForm) {
  TScratchDir dir;
  TBitmap empty;
  TVexaIO io;
  io.SetAttachedBitmap(&empty);
  io.SaveToFile(dir / "empty.bmp");
  ASSERT_TRUE(io.Aborting);
  EXPECT_EQ(io.LastFailure().Kind, fkSizeLimit);
}

TEST(ParamsFailure, ReadingOnlyTheParametersAlsoSaysWhy) {
  TScratchDir dir;
  std::string path = dir / "palette-missing.bmp";
  std::vector<uint8_t> bytes = Bmp(4, 4, 7, {});
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  TVexaIO io;
  io.ParamsFromFile(path);
  EXPECT_EQ(io.Params.FileType, ioBMP);
  EXPECT_EQ(io.LastFailure().Kind, fkTruncated) << io.LastFailure().Describe();  // the palette is missing
}

}  // namespace
