#include "vexa/codecs/lzw.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/reference.h"
#include "vexa/core/streams.h"
#include "vexa/io/ioparams.h"

using namespace vexa;
using namespace vexa::test;

namespace {

std::vector<uint8_t> RandomIndices(size_t n, int bits, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng() & ((1u << bits) - 1));
  return v;
}

// Runs of random length: long strings and many table entries at once.
std::vector<uint8_t> RunIndices(size_t n, int bits, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v;
  while (v.size() < n) {
    const uint8_t c = static_cast<uint8_t>(rng() & ((1u << bits) - 1));
    v.insert(v.end(), std::min<size_t>(n - v.size(), 1 + rng() % 40), c);
  }
  return v;
}

std::vector<uint8_t> GifRoundTrip(const std::vector<uint8_t>& src, int w, int h, bool interlaced, int bits,
                                  int64_t* encodedSize = nullptr) {
  TMemoryStream ms;
  GifLzwEncode(ms, h, w, interlaced, src.data(), bits);
  const int64_t end = ms.Position();
  if (encodedSize) *encodedSize = end;
  ms.WriteU8(0x3B);  // whatever follows must stay unread
  ms.SetPosition(0);
  std::vector<uint8_t> out(src.size(), 0xEE);
  GifLzwDecode(ms, h, w, interlaced, out.data());
  EXPECT_EQ(ms.Position(), end);
  return out;
}

std::vector<uint8_t> TiffEncode(const std::vector<uint8_t>& src, int rowLen) {
  TMemoryStream ms;
  void* state = nullptr;
  for (size_t p = 0; p < src.size(); p += rowLen) TiffLzwEncode(src.data() + p, rowLen, ms, state);
  TiffLzwEncode(nullptr, 0, ms, state);
  EXPECT_EQ(state, nullptr);
  return ms.Data();
}

// Decodes rows until one fails; returns the bytes of the rows that came out whole.
std::vector<uint8_t> TiffDecode(const std::vector<uint8_t>& data, int rowLen, int rows) {
  std::vector<uint8_t> out;
  void* state = nullptr;
  for (int r = 0; r < rows; ++r) {
    const uint8_t* row = TiffLzwDecode(data.data(), rowLen, state, static_cast<int32_t>(data.size()));
    if (!row) break;
    out.insert(out.end(), row, row + rowLen);
  }
  TiffLzwDecode(nullptr, 0, state, 0);
  EXPECT_EQ(state, nullptr);
  return out;
}

}  // namespace

TEST(GifLzw, HandDerivedStreamWithSelfReferencingCodeAndWidthChange) {
  // Codes (3 bits, then 4): Clear, 1, 6 (defined by its own use), 6, EOI.
  const std::vector<uint8_t> expected = {0x02, 0x02, 0x8C, 0x5D, 0x00};
  const std::vector<uint8_t> pixels(5, 1);
  TMemoryStream ms;
  GifLzwEncode(ms, 1, 5, false, pixels.data(), 2);
  EXPECT_EQ(ms.Data(), expected);

  TMemoryStream in(expected.data(), expected.size());
  std::vector<uint8_t> out(5, 9);
  GifLzwDecode(in, 1, 5, false, out.data());
  EXPECT_EQ(out, pixels);
  EXPECT_EQ(in.Position(), 5);
}

TEST(GifLzw, RoundTripsEveryDepthInterlacedOrNot) {
  for (int bits = 1; bits <= 8; ++bits) {
    for (bool interlaced : {false, true}) {
      SCOPED_TRACE("bits " + std::to_string(bits) + (interlaced ? " interlaced" : ""));
      // Big enough that the code table fills and restarts several times.
      const int w = 301, h = 203;
      const auto noise = RandomIndices(size_t(w) * h, bits, 17 + bits);
      EXPECT_EQ(GifRoundTrip(noise, w, h, interlaced, bits), noise);
      const auto runs = RunIndices(size_t(w) * h, bits, 99 + bits);
      EXPECT_EQ(GifRoundTrip(runs, w, h, interlaced, bits), runs);
    }
  }
}

TEST(GifLzw, RoundTripsOddShapesAndLongStrings) {
  for (auto [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}, {3, 7}, {1000, 1000}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const std::vector<uint8_t> flat(size_t(w) * h, 3);
    EXPECT_EQ(GifRoundTrip(flat, w, h, true, 2), flat);
    const auto noise = RandomIndices(size_t(w) * h, 8, 5);
    EXPECT_EQ(GifRoundTrip(noise, w, h, false, 8), noise);
  }
}

TEST(GifLzw, FlatImageCompressesWell) {
  const std::vector<uint8_t> flat(1000 * 1000, 0);
  int64_t size = 0;
  GifRoundTrip(flat, 1000, 1000, false, 1, &size);
  EXPECT_LT(size, 4000);
}

TEST(GifLzw, IndicesAboveTheCodeSizeAreMasked) {
  const std::vector<uint8_t> src = {0xFF, 0x04, 0x02, 0x01};
  TMemoryStream ms;
  GifLzwEncode(ms, 2, 2, false, src.data(), 2);
  ms.SetPosition(0);
  std::vector<uint8_t> out(4);
  GifLzwDecode(ms, 2, 2, false, out.data());
  EXPECT_EQ(out, (std::vector<uint8_t>{3, 0, 2, 1}));
}

TEST(GifLzwMalformed, BadCodeSizeLeavesTheStreamWhereItWas) {
  for (uint8_t size : {0, 12, 200}) {
    const uint8_t data[] = {size, 0x02, 0x8C, 0x5D, 0x00};
    TMemoryStream ms(data, sizeof data);
    std::vector<uint8_t> out(5);
    GifLzwDecode(ms, 1, 5, false, out.data());
    EXPECT_EQ(ms.Position(), 0) << int(size);
  }
  TMemoryStream empty;
  std::vector<uint8_t> out(1);
  GifLzwDecode(empty, 1, 1, false, out.data());
  EXPECT_EQ(empty.Position(), 0);
}

TEST(GifLzwMalformed, TruncatedOrCorruptDataKeepsWhatDecodedAndZeroesTheRest) {
  const auto src = RandomIndices(64 * 64, 4, 3);
  TMemoryStream ms;
  GifLzwEncode(ms, 64, 64, false, src.data(), 4);
  std::vector<uint8_t> bytes = ms.Data();

  // Cut in the middle of a sub-block: no terminator, no EOI.
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 200);
  TMemoryStream truncated(cut.data(), cut.size());
  std::vector<uint8_t> out(src.size(), 0xEE);
  GifLzwDecode(truncated, 64, 64, false, out.data());
  EXPECT_EQ(truncated.Position(), 200);
  size_t same = 0;
  while (same < src.size() && out[same] == src[same]) ++same;
  EXPECT_GT(same, 100u);
  for (size_t i = same; i < out.size(); ++i) ASSERT_LE(out[i], 15) << i;
  EXPECT_EQ(out.back(), 0);

  // Nothing decodable at all: 3-bit codes Clear, 7.
  const uint8_t none[] = {0x02, 0x01, 0x3C, 0x00};
  TMemoryStream nothing(none, sizeof none);
  GifLzwDecode(nothing, 2, 2, true, out.data());
  EXPECT_EQ(nothing.Position(), 0);

  // A code beyond the table right after the first pixel: 3-bit codes Clear, 1, 7.
  const uint8_t bad[] = {0x02, 0x02, 0xCC, 0x01, 0x00};
  TMemoryStream corrupt(bad, sizeof bad);
  std::vector<uint8_t> px(4, 0xEE);
  GifLzwDecode(corrupt, 2, 2, false, px.data());
  EXPECT_EQ(px, (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(corrupt.Position(), 5);
}

TEST(GifLzwMalformed, ExtraDataAfterThePixelsIsConsumedToTheTerminator) {
  const auto src = RandomIndices(10 * 10, 8, 8);
  TMemoryStream ms;
  GifLzwEncode(ms, 10, 10, false, src.data(), 8);
  // Decoding a smaller image leaves codes unread; the sub-blocks must still be skipped.
  ms.WriteU8(0x3B);
  ms.SetPosition(0);
  std::vector<uint8_t> out(50);
  GifLzwDecode(ms, 5, 10, false, out.data());
  EXPECT_EQ(ms.ReadU8(), 0x3B);
  EXPECT_EQ(out, std::vector<uint8_t>(src.begin(), src.begin() + 50));
}

TEST(TiffLzw, HandDerivedStreamIsMostSignificantBitFirst) {
  // 9-bit codes Clear, 'A', 'A', EOI.
  const std::vector<uint8_t> expected = {0x80, 0x10, 0x48, 0x30, 0x10};
  EXPECT_EQ(TiffEncode({'A', 'A'}, 2), expected);
  EXPECT_EQ(TiffDecode(expected, 2, 1), (std::vector<uint8_t>{'A', 'A'}));
}

TEST(TiffLzw, RoundTripsRowByRowAcrossTableResets) {
  for (int rowLen : {1, 7, 640, 3000}) {
    SCOPED_TRACE(rowLen);
    const int rows = 200000 / rowLen + 1;
    const auto noise = RandomIndices(size_t(rowLen) * rows, 8, rowLen);
    EXPECT_EQ(TiffDecode(TiffEncode(noise, rowLen), rowLen, rows), noise);
    // Strings longer than a row carry over into the next one.
    const auto runs = RunIndices(size_t(rowLen) * rows, 2, rowLen + 1);
    EXPECT_EQ(TiffDecode(TiffEncode(runs, rowLen), rowLen, rows), runs);
  }
  const std::vector<uint8_t> flat(100000, 7);
  EXPECT_EQ(TiffDecode(TiffEncode(flat, 10), 10, 10000), flat);
}

TEST(TiffLzwMalformed, TruncatedStripOrBadCodeReturnsNullWithoutOverreading) {
  const auto src = RandomIndices(100 * 50, 8, 4);
  auto data = TiffEncode(src, 100);
  const std::vector<uint8_t> half(data.begin(), data.begin() + data.size() / 2);
  // Exact-size copy so the sanitizer sees any read past the end.
  const auto got = TiffDecode(half, 100, 50);
  EXPECT_LT(got.size(), src.size());
  EXPECT_GT(got.size(), 0u);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), src.begin()));

  // Clear then code 300, which nothing defined.
  const std::vector<uint8_t> bad = {0x80, 0x4B, 0x00};
  EXPECT_TRUE(TiffDecode(bad, 1, 1).empty());
  EXPECT_TRUE(TiffDecode({}, 4, 1).empty());
  // Asking for more rows than the strip holds: EOI ends it.
  EXPECT_EQ(TiffDecode(data, 100, 60).size(), src.size());
}

TEST(TiffLzw, InstallAssignsAllFourHooks) {
  DefGIF_LZWDECOMPFUNC = nullptr;
  DefGIF_LZWCOMPFUNC = nullptr;
  DefTIFF_LZWDECOMPFUNC = nullptr;
  DefTIFF_LZWCOMPFUNC = nullptr;
  VXInstallLZWCoders();
  EXPECT_EQ(DefGIF_LZWDECOMPFUNC, &GifLzwDecode);
  EXPECT_EQ(DefGIF_LZWCOMPFUNC, &GifLzwEncode);
  EXPECT_EQ(DefTIFF_LZWDECOMPFUNC, &TiffLzwDecode);
  EXPECT_EQ(DefTIFF_LZWCOMPFUNC, &TiffLzwEncode);
  TIOParamsVals params;
  EXPECT_EQ(params.TIFF_LZWDecompFunc, &TiffLzwDecode);
}

// A strip written by an independent encoder (libtiff behind Pillow) decodes to its pixels.
TEST(TiffLzwInterop, DecodesAStripWrittenByAnotherEncoder) {
  VEXA_REQUIRE_REFERENCE_DECODER();
  const TScratchDir scratch;
  const std::string dir = scratch.Path().string();
  const std::string script = R"(
import sys, random
from PIL import Image, TiffImagePlugin
d = sys.argv[1]
random.seed(7)
w, h = 173, 90
px = bytes((x * 7 + y * 3) % 256 if (x // 16) % 2 else random.randrange(256) for y in range(h) for x in range(w))
im = Image.frombytes('L', (w, h), px)
info = TiffImagePlugin.ImageFileDirectory_v2()
info[278] = h
im.save(d + '/strip.tif', compression='tiff_lzw', tiffinfo=info)
t = Image.open(d + '/strip.tif')
off, cnt = t.tag_v2[273][0], t.tag_v2[279][0]
data = open(d + '/strip.tif', 'rb').read()[off:off + cnt]
open(d + '/strip.lzw', 'wb').write(data)
open(d + '/strip.raw', 'wb').write(px)
)";
  std::string out;
  ASSERT_TRUE(RunPillowScript(script, Quote(dir), out));
  const auto data = ReadFileBytes(dir + "/strip.lzw");
  const auto raw = ReadFileBytes(dir + "/strip.raw");
  ASSERT_EQ(raw.size(), 173u * 90u);
  EXPECT_EQ(TiffDecode(data, 173, 90), raw);
}

// Old-style LZW (bit order reversed, no early change), as some early writers produced it.
TEST(TiffLzwInterop, DecodesOldStyleStripsAsTheIndependentReaderDoes) {
  const std::string file = std::string(VEXA_TESTDATA_DIR) + "/tiff/libtiff-test/quad-lzw-compat.tiff";
  std::ifstream probe(file);
  if (!probe) GTEST_SKIP() << "sample missing";
  VEXA_REQUIRE_REFERENCE_DECODER();
  const TScratchDir scratch;
  const std::string dir = scratch.Path().string();
  const std::string script = R"(
import sys
from PIL import Image
src, d = sys.argv[1], sys.argv[2]
im = Image.open(src)
rows = im.tag_v2[278]
raw = open(src, 'rb').read()
for k in (0, 40):
    off, cnt = im.tag_v2[273][k], im.tag_v2[279][k]
    open('%s/compat%d.lzw' % (d, k), 'wb').write(raw[off:off + cnt])
    top = k * rows
    open('%s/compat%d.raw' % (d, k), 'wb').write(im.convert('RGB').crop((0, top, im.size[0], top + rows)).tobytes())
print(im.size[0], rows)
)";
  std::string out;
  ASSERT_TRUE(RunPillowScript(script, Quote(file) + " " + Quote(dir), out));
  int width = 0, rows = 0;
  std::istringstream(out) >> width >> rows;
  ASSERT_GT(width, 0);
  for (int k : {0, 40}) {
    SCOPED_TRACE(k);
    const auto data = ReadFileBytes(dir + "/compat" + std::to_string(k) + ".lzw");
    const auto raw = ReadFileBytes(dir + "/compat" + std::to_string(k) + ".raw");
    ASSERT_EQ(raw.size(), size_t(width) * 3 * rows);
    EXPECT_EQ(TiffDecode(data, width * 3, rows), raw);
  }
}

// Our strips inside a minimal TIFF, read by libtiff behind Pillow.
TEST(TiffLzwInterop, StripsWeWriteDecodeInAnIndependentReader) {
  VEXA_REQUIRE_REFERENCE_DECODER();
  const int w = 301, h = 257;
  std::vector<uint8_t> pixels = RandomIndices(size_t(w) * h / 2, 8, 42);
  const auto runs = RunIndices(size_t(w) * h - pixels.size(), 3, 43);
  pixels.insert(pixels.end(), runs.begin(), runs.end());
  const auto strip = TiffEncode(pixels, w);

  TMemoryStream tif;
  tif.WriteBuffer("II*\0", 4);
  tif.WriteU32(8);
  const uint16_t tags[][2] = {{256, w}, {257, h}, {258, 8}, {259, 5}, {262, 1}, {273, 0}, {277, 1}, {278, h}, {279, 0}};
  const uint32_t dataAt = 8 + 2 + 9 * 12 + 4;
  tif.WriteU16(9);
  for (const auto& t : tags) {
    tif.WriteU16(t[0]);
    tif.WriteU16(4);  // LONG
    tif.WriteU32(1);
    tif.WriteU32(t[0] == 273 ? dataAt : t[0] == 279 ? uint32_t(strip.size()) : t[1]);
  }
  tif.WriteU32(0);
  tif.WriteBuffer(strip.data(), int64_t(strip.size()));
  const TScratchDir scratch;
  const std::string dir = scratch.Path().string();
  tif.SaveToFile(dir + "/ours.tif");
  std::string out;
  ASSERT_TRUE(RunPillowScript("import sys\nfrom PIL import Image\n"
                              "open(sys.argv[2], 'wb').write(Image.open(sys.argv[1]).tobytes())\n",
                              Quote(dir + "/ours.tif") + " " + Quote(dir + "/ours.raw"), out));
  EXPECT_EQ(ReadFileBytes(dir + "/ours.raw"), pixels);
}
