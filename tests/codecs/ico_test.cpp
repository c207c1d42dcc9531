#include <gtest/gtest.h>

#include <filesystem>

#include "bmp_testutil.h"
#include "support/read_harness.h"

using namespace vexa;
using namespace bmptest;

namespace {

struct TIconEntry {
  uint8_t Width, Height, Colors;
  uint16_t Planes, BitCount;  // hot spot X and Y for cursors
  std::vector<uint8_t> Image;
};

std::vector<uint8_t> MakeIconFile(uint16_t type, const std::vector<TIconEntry>& entries) {
  std::vector<uint8_t> d;
  Put16(d, 0);
  Put16(d, type);
  Put16(d, static_cast<uint32_t>(entries.size()));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(entries.size());
  for (const auto& e : entries) {
    d.push_back(e.Width);
    d.push_back(e.Height);
    d.push_back(e.Colors);
    d.push_back(0);
    Put16(d, e.Planes);
    Put16(d, e.BitCount);
    Put32(d, static_cast<uint32_t>(e.Image.size()));
    Put32(d, offset);
    offset += static_cast<uint32_t>(e.Image.size());
  }
  for (const auto& e : entries) d.insert(d.end(), e.Image.begin(), e.Image.end());
  return d;
}

/// Info header (height doubled), palette padded to 2^bits entries, colour rows and mask rows; rows are
/// given bottom-up and already padded.
std::vector<uint8_t> MakeIconImage(int w, int h, int bits, std::vector<TRGB> pal,
                                   const std::vector<uint8_t>& colorRows, const std::vector<uint8_t>& maskRows,
                                   int32_t ppm = 0) {
  std::vector<uint8_t> d;
  Put32(d, 40);
  Put32(d, static_cast<uint32_t>(w));
  Put32(d, static_cast<uint32_t>(2 * h));
  Put16(d, 1);
  Put16(d, static_cast<uint32_t>(bits));
  Put32(d, 0);
  Put32(d, 0);
  Put32(d, static_cast<uint32_t>(ppm));
  Put32(d, static_cast<uint32_t>(ppm));
  Put32(d, 0);
  Put32(d, 0);
  if (bits <= 8) pal.resize(static_cast<size_t>(1) << bits);
  for (TRGB c : pal) {
    d.push_back(c.b);
    d.push_back(c.g);
    d.push_back(c.r);
    d.push_back(0);
  }
  d.insert(d.end(), colorRows.begin(), colorRows.end());
  d.insert(d.end(), maskRows.begin(), maskRows.end());
  return d;
}

// A 2 x 2 8-bit icon whose every pixel is palette entry `index`, none transparent.
std::vector<uint8_t> SolidIcon8(uint8_t index, const std::vector<TRGB>& pal) {
  return MakeIconImage(2, 2, 8, pal, {index, index, 0, 0, index, index, 0, 0}, std::vector<uint8_t>(8, 0));
}

std::vector<std::string> FilesIn(const char* dir) {
  std::vector<std::string> files;
  for (const std::string& f : DataFiles(dir, {}, true)) files.push_back(TestData(f));
  return files;
}

// Pillow's icon decoder on one directory entry (cursors read as icons), its alpha
// composed over white as the library composes transparency over its background.
// Pillow finds the AND mask from the entry's size field; files get that field wrong
// (and v5 headers may put a profile after the mask), so the script recomputes it, and
// gives cursors (whose bit-count field holds the hot spot) the header's bit count.
// Masked pixels of 1-bit images invert the screen: over white they show the
// inverse of their colour.
const char* kIconScript = R"PY(
import sys, io, struct
from PIL import IcoImagePlugin
path, index = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, 'rb').read())
cursor = data[2] == 2
data[2] = 1
entry = 6 + 16 * index
offset = struct.unpack_from('<I', data, entry + 12)[0]
bits = 32
if data[offset:offset + 4] != b'\x89PNG':
    hs, w, h2, _, bits = struct.unpack_from('<IiiHH', data, offset)
    colours = data[entry + 2] or (1 << bits if bits <= 8 else 0)
    rows = lambda b: (w * b + 31) // 32 * 4 * (h2 // 2)
    struct.pack_into('<I', data, entry + 8, hs + 4 * colours + rows(bits) + rows(1))
    if cursor:
        struct.pack_into('<H', data, entry + 6, bits)
icon = IcoImagePlugin.IcoFile(io.BytesIO(bytes(data)))
im = icon.frame([e['offset'] for e in icon.entry].index(offset)).convert('RGBA')
px = im.tobytes()
out = bytearray()
for i in range(0, len(px), 4):
    a = px[i + 3]
    if bits == 1 and a == 0:
        out += bytes(255 - c for c in px[i:i + 3])
    else:
        out += bytes((c * a + 255 * (255 - a) + 127) // 255 for c in px[i:i + 3])
sys.stdout.buffer.write(b'%d %d\n' % im.size)
sys.stdout.buffer.write(out)
)PY";

bool PillowIcon(const std::string& path, int index, TRefImage& ref) {
  std::string out;
  if (!RunPillowScript(kIconScript, Quote(path) + " " + std::to_string(index), out)) return false;
  const size_t nl = out.find('\n');
  if (nl == std::string::npos || std::sscanf(out.c_str(), "%d %d", &ref.Width, &ref.Height) != 2) return false;
  ref.Rgb.assign(out.begin() + static_cast<std::ptrdiff_t>(nl) + 1, out.end());
  return ref.Rgb.size() == static_cast<size_t>(ref.Width) * ref.Height * 3;
}

TReadFormat IconFormat(TKind kind) {
  TReadFormat f;
  f.Name = kind == TKind::Cur ? "CUR" : "ICO";
  // Pages are directory entries.
  f.Read = [kind](const std::string& path, int page) {
    TReadOutcome r;
    r.Params.ICO_ImageIndex = r.Params.CUR_ImageIndex = page;
    ReadBytes(ReadFileBytes(path), r, kind);
    return r;
  };
  f.Reference = [](const std::string& path, int page, TRefImage& ref) {
    if (!ReferenceDecoderAvailable()) {
      if (InCI()) ADD_FAILURE() << "python3-pil is missing on the CI machine";
      ref.Skip = "python3-pil not installed";
      return false;
    }
    return PillowIcon(path, page, ref);
  };
  return f;
}

const TReadFormat kIco = IconFormat(TKind::Ico), kCur = IconFormat(TKind::Cur);

// Every entry of every public icon and cursor.
std::vector<TReadCase> IconCases() {
  std::vector<TReadCase> cases;
  for (const auto& [format, folder] : {std::pair{&kIco, "ico/pillow"}, {&kIco, "ico/image-rs"}, {&kCur, "cur/pillow"}})
    for (const std::string& file : DataFiles(folder, {".ico", ".cur"})) {
      const auto bytes = ReadFileBytes(TestData(file));
      const int entries = bytes.size() >= 6 ? U16At(bytes, 4) : 1;
      cases.push_back({format, file, std::max(1, entries)});
    }
  return cases;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Detection

TEST(IcoDetect, IconsAndCursorsAreToldApartAndThePositionIsKept) {
  const auto icons = FilesIn("ico/image-rs"), cursors = FilesIn("cur/pillow");
  if (icons.empty() || cursors.empty()) GTEST_SKIP() << "test data missing";
  for (const auto& f : icons) {
    TMemoryStream s;
    s.LoadFromFile(f);
    s.SetPosition(0);
    EXPECT_TRUE(ICOTryStream(s)) << f;
    EXPECT_FALSE(CURTryStream(s)) << f;
    EXPECT_EQ(s.Position(), 0) << f;
  }
  for (const auto& f : cursors) {
    TMemoryStream s;
    s.LoadFromFile(f);
    EXPECT_TRUE(CURTryStream(s)) << f;
    EXPECT_FALSE(ICOTryStream(s)) << f;
  }
}

TEST(IcoDetect, RejectsShortStreamsEmptyDirectoriesAndBadEntries) {
  const auto good = MakeIconFile(1, {{2, 2, 0, 1, 8, SolidIcon8(0, {{1, 2, 3}})}});
  TMemoryStream ok(good.data(), good.size());
  ok.SetPosition(0);
  EXPECT_TRUE(ICOTryStream(ok));

  auto reservedSet = good;
  reservedSet[6 + 3] = 1;
  auto zeroSize = good;
  zeroSize[6 + 8] = zeroSize[6 + 9] = zeroSize[6 + 10] = zeroSize[6 + 11] = 0;
  auto offsetInsideDirectory = good;
  offsetInsideDirectory[6 + 12] = 10;
  auto noImages = good;
  noImages[4] = 0;
  const std::vector<uint8_t> tiny(good.begin(), good.begin() + 22);
  for (const auto& bytes : {reservedSet, zeroSize, offsetInsideDirectory, noImages, tiny}) {
    TMemoryStream s(bytes.data(), bytes.size());
    s.SetPosition(3);
    EXPECT_FALSE(ICOTryStream(s));
    EXPECT_EQ(s.Position(), 3);
  }
}

// ---------------------------------------------------------------------------------------------
// Reading icons

VEXA_READ_SUITE(IconRead, IconCases());

TEST(IcoRead, ParametersDescribeTheChosenImage) {
  const std::string path = TestData("ico/image-rs/smile.ico");
  if (!std::filesystem::exists(path)) GTEST_SKIP();
  TReadOutcome r;
  r.Params.ICO_ImageIndex = 1;
  ReadBytes(ReadFileBytes(path), r, TKind::Ico);
  EXPECT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.Width(), 16);
  EXPECT_EQ(r.Params.Width, 16);
  EXPECT_EQ(r.Params.Height, 16);
  EXPECT_EQ(r.Params.BitsPerSample, 4);
  EXPECT_EQ(r.Params.SamplesPerPixel, 1);
  EXPECT_EQ(r.Params.ColorMapCount, 16);
}

TEST(IcoRead, ImageIndexChoosesTheEntry) {
  const std::vector<TRGB> pal = {{10, 0, 0}, {0, 20, 0}, {0, 0, 30}};
  const auto file = MakeIconFile(1, {{2, 2, 0, 1, 8, SolidIcon8(0, pal)},
                                     {2, 2, 0, 1, 8, SolidIcon8(1, pal)},
                                     {2, 2, 0, 1, 8, SolidIcon8(2, pal)}});
  for (int i = 0; i < 3; ++i) {
    TReadOutcome r;
    r.Params.ICO_ImageIndex = i;
    ReadBytes(file, r, TKind::Ico);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.GetPixel(1, 1), pal[i]) << i;
  }
}

TEST(IcoRead, IndexOutOfRangeDoesNothing) {
  const auto file = MakeIconFile(1, {{2, 2, 0, 1, 8, SolidIcon8(0, {{1, 2, 3}})}});
  for (int index : {-1, 1, 100}) {
    TReadOutcome r;
    r.Bitmap.Allocate(5, 5, pf24bit);
    r.Params.ICO_ImageIndex = index;
    r.Params.Width = 77;
    ReadBytes(file, r, TKind::Ico);
    EXPECT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.Width(), 5);
    EXPECT_EQ(r.Params.Width, 77);
  }
}

TEST(IcoRead, TransparentPixelsTakeTheBackground) {
  const std::vector<TRGB> pal = {{0, 0, 0}, {0, 0, 255}};
  // 2 x 2, 4 bits, all pixels index 1; mask: bottom-left pixel transparent.
  const auto image = MakeIconImage(2, 2, 4, pal, {0x11, 0, 0, 0, 0x11, 0, 0, 0}, {0x80, 0, 0, 0, 0, 0, 0, 0});
  TReadOutcome r;
  r.Params.ICO_Background = CreateRGB(7, 8, 9);
  ReadBytes(MakeIconFile(1, {{2, 2, 16, 1, 4, image}}), r, TKind::Ico);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 1), CreateRGB(7, 8, 9));
  EXPECT_EQ(r.Bitmap.GetPixel(1, 1), CreateRGB(255, 0, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(255, 0, 0));
}

TEST(IcoRead, OneBitTransparencyFlipsTowardsAWhiteBackground) {
  // 4 x 1: colour bits 0,1,0,1; mask bits 0,0,1,1.
  const auto image = MakeIconImage(4, 1, 1, {{0, 0, 0}, {255, 255, 255}}, {0x50, 0, 0, 0}, {0x30, 0, 0, 0});
  const auto file = MakeIconFile(1, {{4, 1, 2, 1, 1, image}});
  TReadOutcome white, black;
  ReadBytes(file, white, TKind::Ico);
  black.Params.ICO_Background = CreateRGB(0, 0, 0);
  ReadBytes(file, black, TKind::Ico);
  ASSERT_EQ(white.Bitmap.PixelFormat(), pf1bit);
  const uint8_t* w = white.Bitmap.ScanLine(0);
  const uint8_t* b = black.Bitmap.ScanLine(0);
  EXPECT_EQ(w[0] & 0xF0, 0x60);  // opaque 0,1 kept; transparent 0,1 become 1,0
  EXPECT_EQ(b[0] & 0xF0, 0x50);  // black background: transparent bits unchanged
}

TEST(IcoRead, SizeAndResolutionRules) {
  // Entry claims 3 x 3 but the header says 2 x 2: the header wins (both below 2048).
  auto image = SolidIcon8(1, {{0, 0, 0}, {5, 6, 7}});
  image[24] = 0x12;  // 4626 pixels per metre: 117.5 dpi, rounded to 118
  image[25] = 0x12;
  TReadOutcome r;
  ReadBytes(MakeIconFile(1, {{3, 3, 0, 1, 8, image}}), r, TKind::Ico);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.Width(), 2);
  EXPECT_EQ(r.Bitmap.Height(), 2);
  EXPECT_EQ(r.Params.DpiX, 118);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(7, 6, 5));
  // Entry size 0: the header's width and half height.
  TReadOutcome z;
  ReadBytes(MakeIconFile(1, {{0, 0, 0, 1, 8, SolidIcon8(1, {{0, 0, 0}, {5, 6, 7}})}}), z, TKind::Ico);
  EXPECT_EQ(z.Bitmap.Width(), 2);
  EXPECT_EQ(z.Bitmap.Height(), 2);
}

TEST(IcoRead, BitmapFileIsReadAsBmp) {
  const auto bmp = MakeBmp(2, 1, 24, 0, {}, {1, 2, 3, 4, 5, 6, 0, 0});
  TReadOutcome r;
  ReadBytes(bmp, r, TKind::Ico);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.GetPixel(1, 0), CreateRGB(6, 5, 4));
}

// 2 x 1 true-colour entries: pixel 0 masked, pixel 1 not; 32-bit alpha 64 and 255 (or all zero).
TEST(IcoRead, TrueColourEntriesUseAlphaElseTheMask) {
  const TRGB bg = CreateRGB(10, 20, 30);
  const std::vector<uint8_t> mask = {0x80, 0, 0, 0};
  struct {
    int Bits;
    std::vector<uint8_t> Row;
    TRGB Left, Right;
  } cases[] = {
      {24, {200, 100, 50, 1, 2, 3, 0, 0}, bg, CreateRGB(3, 2, 1)},
      // alpha 64: 200 x 64 + 30 x 191 = 18530 -> 72.67 -> 73, and so on
      {32, {200, 100, 50, 64, 1, 2, 3, 255}, CreateRGB(20, 40, 73), CreateRGB(3, 2, 1)},
      {32, {200, 100, 50, 0, 1, 2, 3, 0}, bg, CreateRGB(3, 2, 1)},
  };
  for (const auto& c : cases)
    for (TKind kind : {TKind::Ico, TKind::Cur}) {
      TReadOutcome r;
      r.Params.ICO_Background = r.Params.CUR_Background = bg;
      const auto image = MakeIconImage(2, 1, c.Bits, {}, c.Row, mask);
      ReadBytes(MakeIconFile(kind == TKind::Cur ? 2 : 1, {{2, 1, 0, 1, static_cast<uint16_t>(c.Bits), image}}), r,
                kind);
      SCOPED_TRACE(c.Bits);
      ASSERT_FALSE(r.Aborting);
      EXPECT_EQ(r.Bitmap.GetPixel(0, 0), c.Left);
      EXPECT_EQ(r.Bitmap.GetPixel(1, 0), c.Right);
      EXPECT_EQ(r.Params.BitsPerSample, kind == TKind::Cur ? c.Bits : 8);
    }
}

TEST(IcoRead, PngEntryIsDescribedByItsHeader) {
  const std::string f = TestData("ico/image-rs/png_rgb8.ico");
  VEXA_REQUIRE_FILE(f);
  TReadOutcome r, preview;
  ReadBytes(ReadFileBytes(f), r, TKind::Ico);
  ReadBytes(ReadFileBytes(f), preview, TKind::Ico, true);
  ASSERT_FALSE(r.Aborting);
  EXPECT_TRUE(preview.Bitmap.Empty());
  for (const TReadOutcome* o : {&r, &preview}) {
    EXPECT_EQ(o->Params.Width, r.Bitmap.Width());
    EXPECT_EQ(o->Params.Height, r.Bitmap.Height());
    EXPECT_EQ(o->Params.BitsPerSample, 8);
    EXPECT_EQ(o->Params.SamplesPerPixel, 3);
  }
}

TEST(IcoRead, PreviewStopsAfterThePalette) {
  TReadOutcome r;
  ReadBytes(MakeIconFile(1, {{2, 2, 0, 1, 8, SolidIcon8(1, {{0, 0, 0}, {5, 6, 7}})}}), r, TKind::Ico, true);
  EXPECT_FALSE(r.Aborting);
  EXPECT_TRUE(r.Bitmap.Empty());
  EXPECT_EQ(r.Params.Width, 2);
  EXPECT_EQ(r.Params.ColorMapCount, 256);
}

// ---------------------------------------------------------------------------------------------
// Hostile icons

TEST(IcoMalformed, TruncatedImageKeepsTheRowsRead) {
  const std::vector<TRGB> pal = {{0, 0, 0}, {0, 0, 99}};
  std::vector<uint8_t> rows(4 * 4, 1);  // 4 x 4 8-bit, rows of 4 bytes
  auto file = MakeIconFile(1, {{4, 4, 0, 1, 8, MakeIconImage(4, 4, 8, pal, rows, std::vector<uint8_t>(16, 0))}});
  file.resize(file.size() - 16 - 8);  // no mask, half the colour rows
  TReadOutcome r;
  ReadBytes(file, r, TKind::Ico);
  EXPECT_TRUE(r.Aborting);
  ASSERT_EQ(r.Bitmap.Height(), 4);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 3), CreateRGB(99, 0, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(0, 0, 0));
}

TEST(IcoMalformed, HugeHeaderSizeAbortsWithoutAllocating) {
  auto image = SolidIcon8(1, {{0, 0, 0}});
  image[4] = image[5] = image[6] = 0x7F;  // width 0x007F7F7F
  image[8] = image[9] = image[10] = 0x7F;
  TReadOutcome r;
  ReadBytes(MakeIconFile(1, {{0, 0, 0, 1, 8, image}}), r, TKind::Ico);
  EXPECT_TRUE(r.Aborting);
  EXPECT_TRUE(r.Bitmap.Empty());
}

TEST(IcoMalformed, PublicBadFilesDoNotCrash) {
  for (const auto& f : FilesIn("ico/bad")) {
    TReadOutcome r;
    ReadBytes(ReadFileBytes(f), r, TKind::Ico);
    // Both are readable: the damage is in a size field the reader does not trust.
    EXPECT_FALSE(r.Aborting) << f;
    EXPECT_FALSE(r.Bitmap.Empty()) << f;
  }
}

TEST(IcoMalformed, NoUsableBitCountAborts) {
  auto image = SolidIcon8(1, {{0, 0, 0}});
  image[14] = image[15] = 0;
  TReadOutcome r;
  ReadBytes(MakeIconFile(1, {{2, 2, 0, 1, 0, image}}), r, TKind::Ico);
  EXPECT_TRUE(r.Aborting);
  EXPECT_TRUE(r.Bitmap.Empty());
}

// ---------------------------------------------------------------------------------------------
// Cursors

TEST(CurRead, HotSpotAndPixelsComeFromTheChosenEntry) {
  const std::vector<TRGB> pal = {{0, 0, 0}, {0, 50, 0}};
  const auto file = MakeIconFile(2, {{2, 2, 0, 5, 7, SolidIcon8(1, pal)}});
  TReadOutcome r;
  ReadBytes(file, r, TKind::Cur);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Params.CUR_XHotSpot, 5);
  EXPECT_EQ(r.Params.CUR_YHotSpot, 7);
  EXPECT_EQ(r.Params.BitsPerSample, 8);
  EXPECT_EQ(r.Params.SamplesPerPixel, 1);
  EXPECT_EQ(r.Bitmap.GetPixel(1, 0), CreateRGB(0, 50, 0));
}

TEST(CurRead, TransparentPixelsTakeTheCursorBackground) {
  const std::vector<TRGB> pal = {{0, 0, 0}, {0, 50, 0}};
  auto image = MakeIconImage(2, 1, 8, pal, {1, 1, 0, 0}, {0x40, 0, 0, 0});
  TReadOutcome r;
  r.Params.CUR_Background = CreateRGB(1, 1, 1);
  r.Params.ICO_Background = CreateRGB(2, 2, 2);
  ReadBytes(MakeIconFile(2, {{2, 1, 0, 0, 0, image}}), r, TKind::Cur);
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), CreateRGB(0, 50, 0));
  EXPECT_EQ(r.Bitmap.GetPixel(1, 0), CreateRGB(1, 1, 1));
}

TEST(CurRead, PublicCursorsAndTheirLimits) {
  const std::string one = TestData("cur/pillow/mask_1.cur"), grey = TestData("cur/pillow/mask_L.cur"),
                    deep = TestData("cur/pillow/deerstalker.cur"), none = TestData("cur/bad/pillow/no_cursors.cur");
  if (!std::filesystem::exists(one)) GTEST_SKIP();
  TReadOutcome r1, r8, r32, r0;
  ReadBytes(ReadFileBytes(one), r1, TKind::Cur);
  EXPECT_FALSE(r1.Aborting);
  EXPECT_EQ(r1.Bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(r1.Bitmap.Height(), 4);
  ReadBytes(ReadFileBytes(grey), r8, TKind::Cur);
  EXPECT_FALSE(r8.Aborting);
  EXPECT_EQ(r8.Bitmap.PixelFormat(), pf24bit);
  ReadBytes(ReadFileBytes(deep), r32, TKind::Cur);
  EXPECT_FALSE(r32.Aborting);
  EXPECT_EQ(r32.Params.BitsPerSample, 32);
  EXPECT_EQ(r32.Bitmap.PixelFormat(), pf24bit);
  // An empty directory holds no image to choose: nothing happens.
  ReadBytes(ReadFileBytes(none), r0, TKind::Cur);
  EXPECT_FALSE(r0.Aborting);
  EXPECT_TRUE(r0.Bitmap.Empty());
}
