#include "vexa/codecs/tiff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "support/pixels.h"
#include "support/read_harness.h"
#include "vexa/codecs/lzw.h"
#include "vexa/core/parallel.h"

namespace vexa {
namespace {

using namespace vexa::test;

const std::string kDir = std::string(VEXA_TESTDATA_DIR) + "/tiff/";

TReadOutcome ReadTiff(TStream& s, int index = 0) {
  TReadOutcome start;
  start.Params.TIFF_ImageIndex = index;
  s.Seek(0, soBeginning);
  return ReadWith(
      [&](TReadOutcome& o, TProgressRec& pr) { TIFFReadStream(&o.Bitmap, s, o.Pages, &o.Params, pr, false); },
      std::move(start));
}

TReadOutcome ReadTiffFile(const std::string& path, int index = 0) {
  TMemoryStream ms;
  ms.LoadFromFile(path);
  return ReadTiff(ms, index);
}

/// The reference pixels as the library shows a bilevel page: with a two-entry
/// palette the brighter entry is white, otherwise black and white as they are.
std::vector<uint8_t> Bilevel(const std::vector<uint8_t>& rgb, const std::vector<TRGB>& palette = {}) {
  auto grey = [](int r, int g, int b) { return 21 * r + 71 * g + 7 * b; };
  std::vector<uint8_t> out(rgb.size());
  for (size_t i = 0; i < rgb.size(); i += 3) {
    bool white = rgb[i] >= 128;
    if (palette.size() >= 2) {
      const TRGB bright = grey(palette[0].r, palette[0].g, palette[0].b) > grey(palette[1].r, palette[1].g, palette[1].b)
                              ? palette[0]
                              : palette[1];
      white = rgb[i] == bright.r && rgb[i + 1] == bright.g && rgb[i + 2] == bright.b;
    }
    out[i] = out[i + 1] = out[i + 2] = white ? 255 : 0;
  }
  return out;
}

// ------------------------------------------------------------ real files

const TReadFormat kTiff = [] {
  TReadFormat f;
  f.Name = "TIFF";
  f.Read = [](const std::string& path, int page) {
    VXInstallLZWCoders();
    return ReadTiffFile(path, page);
  };
  f.Align = [](const TReadOutcome& ours, TRefImage& ref, std::vector<uint8_t>&, int&) {
    if (ours.Bitmap.PixelFormat() == pf1bit) ref.Rgb = Bilevel(ref.Rgb, ours.Params.ColorMap);
  };
  f.ExpectPages = true;
  return f;
}();

/// A file of the suite: its directories and the largest channel difference accepted.
TReadCase TFileCase(const char* path, int pages, int tolerance) {
  return {&kTiff, std::string("tiff/") + path, pages, tolerance};
}

// Tolerances: 4-bit grey is scaled by 16 (the reference scales by 17); CMYK rounds
// differently by one; CIELab follows the library's own conversion formula.
VEXA_READ_SUITE(
    TiffRead,
    std::vector<TReadCase>({
        // bilevel: uncompressed, modified Huffman, Group 3, Group 4, both fill orders
        TFileCase("image-tiff/imagemagick_group4.tiff", 1, 0), TFileCase("image-tiff/big_g4.tif", 1, 0),
        TFileCase("image-tiff/fax4.tiff", 1, 0), TFileCase("image-tiff-seq/seq-1c-1b-71f6a21a.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-1b-miniswhite-71f6a21a.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-1b-fax3-71f6a21a.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-1b-fax3-fillbits-71f6a21a.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-1b-fax3-lsb-71f6a21a.tiff", 1, 0),
        TFileCase("libtiff-test/miniswhite-1c-1b.tiff", 1, 0), TFileCase("libtiff-test/palette-1c-1b.tiff", 1, 0),
        TFileCase("libtiffpic/jim___ah.tif", 1, 0), TFileCase("libtiffpic/g3test.tif", 1, 0),
        TFileCase("libtiffpic/fax2d.tif", 1, 0), TFileCase("pillow/g4-fillorder-test.tif", 1, 0),
        TFileCase("pillow/g4_orientation_1.tif", 1, 0), TFileCase("pillow/hopper_g4.tif", 1, 0),
        TFileCase("pillow/g4-multi.tiff", 3, 0), TFileCase("pillow/multipage.tiff", 3, 0),
        TFileCase("pillow/compression.tif", 2, 0), TFileCase("pillow/total-pages-zero.tif", 3, 0),
        // grey: 2, 4, 8, 16 bits, both photometrics, big-endian, multi-strip, PackBits, LZW, predictor
        TFileCase("image-tiff-seq/seq-1c-2b-58b25f76.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-4b-fb92dcae.tiff", 1, 15),
        TFileCase("image-tiff-seq/seq-1c-4b-miniswhite-fb92dcae.tiff", 1, 15),
        TFileCase("image-tiff-seq/seq-1c-8b-bigendian-20f3db0c.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-8b-multistrip-20f3db0c.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-8b-multipage-adeefdcc.tiff", 3, 0),
        TFileCase("image-tiff-seq/seq-1c-8b-packbits-20f3db0c.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-8b-lzw-20f3db0c.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-8b-lzw-hpredict-20f3db0c.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-16b-bigendian-68f373a0.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-16b-multistrip-68f373a0.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-16b-lzw-68f373a0.tiff", 1, 0),
        TFileCase("image-tiff/issue_69_lzw.tiff", 1, 0), TFileCase("image-tiff/issue_69_packbits.tiff", 1, 0),
        TFileCase("libtiff-test/minisblack-1c-8b.tiff", 1, 0), TFileCase("libtiff-test/minisblack-1c-16b.tiff", 1, 0),
        TFileCase("libtiffpic/jim___gg.tif", 1, 0), TFileCase("libtiffpic/jim___cg.tif", 1, 0),
        TFileCase("libtiffpic/jim___dg.tif", 1, 0), TFileCase("libtiffpic/cramps.tif", 1, 0),
        TFileCase("libtiffpic/depth/flower-minisblack-02.tif", 1, 0),
        TFileCase("libtiffpic/depth/flower-minisblack-04.tif", 1, 15),
        TFileCase("libtiffpic/depth/flower-minisblack-08.tif", 1, 0),
        TFileCase("libtiffpic/depth/flower-minisblack-16.tif", 1, 0), TFileCase("pillow/16bit.cropped.tif", 1, 0),
        TFileCase("pillow/16bit.MM.cropped.tif", 1, 0), TFileCase("pillow/uint16_1_4660.tif", 1, 0),
        TFileCase("pillow/hopper_gray_4bpp.tif", 1, 15), TFileCase("pillow/gray_2_4_bpp/hopper2.tif", 1, 0),
        TFileCase("pillow/gray_2_4_bpp/hopper2I.tif", 1, 0), TFileCase("pillow/gray_2_4_bpp/hopper2R.tif", 1, 0),
        TFileCase("pillow/gray_2_4_bpp/hopper2IR.tif", 1, 0), TFileCase("pillow/gray_2_4_bpp/hopper4.tif", 1, 15),
        TFileCase("pillow/gray_2_4_bpp/hopper4I.tif", 1, 15), TFileCase("pillow/gray_2_4_bpp/hopper4R.tif", 1, 15),
        TFileCase("pillow/gray_2_4_bpp/hopper4IR.tif", 1, 15),
        // palette
        TFileCase("image-tiff-seq/seq-1c-4b-palette-85108c5a.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-8b-palette-89b39bc3.tiff", 1, 0),
        TFileCase("libtiff-test/palette-1c-4b.tiff", 1, 0), TFileCase("libtiff-test/palette-1c-8b.tiff", 1, 0),
        TFileCase("libtiffpic/jello.tif", 1, 0), TFileCase("libtiffpic/depth/flower-palette-02.tif", 1, 0),
        TFileCase("libtiffpic/depth/flower-palette-04.tif", 1, 0),
        TFileCase("libtiffpic/depth/flower-palette-08.tif", 1, 0),
        // RGB: chunky and planar, 8 and 16 bits, extra samples, PackBits, LZW
        TFileCase("image-tiff/extra_bits_rgb_8b.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-3c-8b-multistrip-8743c999.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-3c-8b-bigendian-8743c999.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-3c-8b-lzw-8743c999.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-4c-8b-rgba-unassoc-50969cda.tiff", 1, 0),
        TFileCase("libtiff-test/rgb-3c-8b.tiff", 1, 0), TFileCase("libtiff-test/rgb-3c-16b.tiff", 1, 0),
        TFileCase("libtiffpic/oxford.tif", 1, 0), TFileCase("libtiffpic/depth/flower-rgb-contig-08.tif", 1, 0),
        TFileCase("libtiffpic/depth/flower-rgb-contig-16.tif", 1, 0),
        TFileCase("libtiffpic/depth/flower-rgb-planar-08.tif", 1, 0), TFileCase("pillow/hopper.tif", 1, 0),
        TFileCase("pillow/hopper_lzw.tif", 1, 0), TFileCase("pillow/copyleft.tiff", 1, 0),
        TFileCase("pillow/tiff_strip_planar_lzw.tiff", 1, 0),
        // CMYK and CIELab
        TFileCase("image-tiff/cmyk-3c-8b.tiff", 1, 1), TFileCase("image-tiff-seq/seq-4c-8b-cmyk-352ac1da.tiff", 1, 1),
        TFileCase("image-tiff-seq/seq-4c-16b-cmyk-c6e52592.tiff", 1, 1),
        TFileCase("libtiffpic/depth/flower-separated-contig-08.tif", 1, 1),
        TFileCase("libtiffpic/depth/flower-separated-planar-08.tif", 1, 1), TFileCase("pillow/lab.tif", 1, 48),
        TFileCase("pillow/lab-green.tif", 1, 48), TFileCase("pillow/lab-red.tif", 1, 48),
        TFileCase("pillow/hopper.Lab.tif", 1, 48),
        // tiles, Deflate and BigTIFF
        TFileCase("image-tiff-seq/seq-1c-8b-tiled-20f3db0c.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-3c-8b-tiled-8743c999.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-16b-tiled-68f373a0.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-8b-tiled-deflate-20f3db0c.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-8b-tiled-lzw-20f3db0c.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-8b-tiled-bigtiff-20f3db0c.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-8b-bigtiff-20f3db0c.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-3c-16b-bigtiff-1b40ca6e.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-8b-deflate-20f3db0c.tiff", 1, 0),
        TFileCase("image-tiff-seq/seq-1c-16b-deflate-68f373a0.tiff", 1, 0), TFileCase("pillow/tiff_16bit_RGB.tiff", 1, 0),
        // JPEG strips and tiles with JPEGTables, YCbCr and RGB; LZW-coded subsampled YCbCr
        TFileCase("libtiffpic/quad-jpeg.tif", 1, 0), TFileCase("libtiff-test/quad-tile.jpg.tiff", 1, 0),
        TFileCase("pillow/pil168.tif", 1, 0), TFileCase("libtiffpic/ycbcr-cat.tif", 1, 0)}));

// ------------------------------------------------------------ files other programs write
//
// Each case makes a file at run time from a picture of the test data, with libtiff's
// tiffcp or with the YCbCr writer below, and compares our pixels with an independent
// decoder: Pillow (through libtiff), or libtiff's own RGBA converter (tiff2rgba) where
// Pillow has no reader of its own.

enum TReference { refPillow, refPillowFloat, refLibtiffRgba };

struct TMadeCase {
  std::string Make;    // tiffcp arguments, or "ycbcr H V COMPRESSION TILE" for the script below
  std::string Source;  // below tiff/ in the test data
  int Tolerance = 0;   // JPEG: the library is the same on both sides, so 0 as for JPEG files
  TReference Reference = refPillow;
  uint16_t Compression = 0;  // when set, rewrites the Compression tag (32946: the old Deflate code)
};

void PrintTo(const TMadeCase& c, std::ostream* os) { *os << c.Make << " " << c.Source; }

// Subsampled YCbCr, which tiffcp cannot write: h x v luma samples, then the mean Cb and
// Cr of the unit, edge pixels repeated into partial units; strips of 8 v rows or square
// tiles; uncompressed (1) or Deflate (8).
const char* kYCbCrWriter = R"PY(
import sys, struct, zlib
from PIL import Image
src, out = sys.argv[1], sys.argv[2]
h, v, comp, tile = (int(a) for a in sys.argv[3:7])
im = Image.open(src).convert('RGB').convert('YCbCr')
W, H = im.size
px = im.load()
def units(x0, y0, bw, bh):
    d = bytearray()
    for uy in range(y0, y0 + bh, v):
        for ux in range(x0, x0 + bw, h):
            ys, cb, cr = [], 0, 0
            for j in range(v):
                for i in range(h):
                    p = px[min(ux + i, W - 1), min(uy + j, H - 1)]
                    ys.append(p[0]); cb += p[1]; cr += p[2]
            d += bytes(ys) + bytes([(cb + h * v // 2) // (h * v), (cr + h * v // 2) // (h * v)])
    return zlib.compress(bytes(d)) if comp == 8 else bytes(d)
up = lambda n, m: (n + m - 1) // m * m
if tile:
    blocks = [units(x, y, tile, tile) for y in range(0, H, tile) for x in range(0, W, tile)]
else:
    blocks = [units(0, y, up(W, h), up(min(8 * v, H - y), v)) for y in range(0, H, 8 * v)]
body, offs = bytearray(b'II*\0\0\0\0\0'), []
for b in blocks:
    offs.append(len(body)); body += b + (b'\0' if len(b) & 1 else b'')
entries = []
def tag(t, typ, vals):
    fmt = {3: '<H', 4: '<I'}.get(typ)
    raw = b''.join(struct.pack(fmt, x) if fmt else struct.pack('<II', x, 1) for x in vals)
    entries.append((t, typ, len(vals), raw))
tag(256, 4, [W]); tag(257, 4, [H]); tag(258, 3, [8, 8, 8]); tag(259, 3, [comp]); tag(262, 3, [6])
tag(277, 3, [3]); tag(284, 3, [1]); tag(530, 3, [h, v]); tag(532, 5, [0, 255, 128, 255, 128, 255])
if tile:
    tag(322, 4, [tile]); tag(323, 4, [tile]); tag(324, 4, offs); tag(325, 4, [len(b) for b in blocks])
else:
    tag(273, 4, offs); tag(278, 4, [8 * v]); tag(279, 4, [len(b) for b in blocks])
entries.sort()
ifd = len(body)
at = ifd + 2 + 12 * len(entries) + 4
d, extra = bytearray(struct.pack('<H', len(entries))), bytearray()
for t, typ, n, raw in entries:
    if len(raw) <= 4:
        d += struct.pack('<HHI', t, typ, n) + raw.ljust(4, b'\0')
    else:
        d += struct.pack('<HHII', t, typ, n, at + len(extra)); extra += raw
body[4:8] = struct.pack('<I', ifd)
open(out, 'wb').write(bytes(body + d + b'\0\0\0\0' + extra))
)PY";

// Pillow's floating-point samples, scaled as the library scales them: 0..1 to 0..255.
const char* kFloatReference = R"PY(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
def b(v):
    return 0 if not v > 0 else 255 if v >= 1 else int(v * 255 + 0.5)
print(im.size[0], im.size[1], ' '.join(str(b(v)) for v in im.getdata()))
)PY";

bool FloatReference(const std::string& path, TRefImage& ref) {
  std::string text;
  if (!RunPillowScript(kFloatReference, Quote(path), text)) return false;
  std::istringstream in(text);
  in >> ref.Width >> ref.Height;
  int v;
  while (in >> v) ref.Rgb.insert(ref.Rgb.end(), 3, static_cast<uint8_t>(v));
  return ref.Rgb.size() == static_cast<size_t>(ref.Width) * ref.Height * 3;
}

/// Rewrites a SHORT tag that stands in its entry, in a little-endian file's first directory.
void SetShortTag(const std::string& path, uint16_t tag, uint16_t value) {
  std::vector<uint8_t> f = ReadFileBytes(path);
  ASSERT_GE(f.size(), 8u);
  const uint32_t dir = f[4] | f[5] << 8 | f[6] << 16 | uint32_t{f[7]} << 24;
  const int n = f[dir] | f[dir + 1] << 8;
  for (int i = 0; i < n; ++i) {
    uint8_t* e = f.data() + dir + 2 + i * 12;
    if ((e[0] | e[1] << 8) != tag) continue;
    e[8] = static_cast<uint8_t>(value);
    e[9] = static_cast<uint8_t>(value >> 8);
    return WriteFileBytes(path, f);
  }
  FAIL() << "no tag " << tag;
}

struct TFailedRead {
  TReadOutcome Outcome;
  TVXFailure Failure;
};

TFailedRead ReadWithReason(const std::vector<uint8_t>& bytes, std::vector<int>* progress = nullptr,
                           int abortAt = INT_MAX) {
  TFailedRead r;
  TMemoryStream ms(bytes.data(), bytes.size());
  TAbortFlag flag;
  if (progress) flag.Watch(abortAt);
  flag.Rec.Failure = &r.Failure;
  TIFFReadStream(&r.Outcome.Bitmap, ms, r.Outcome.Pages, &r.Outcome.Params, flag.Rec, false);
  r.Outcome.Aborting = flag.Aborting;
  if (progress) *progress = flag.Seen;
  return r;
}

// Rows of strips or tiles decode side by side on the worker pool (these small files
// only when told to split): the pixels, the failure and the progress of one thread
// for 2, 3 and 7, and an abort from the progress event that leaves whole rows of
// blocks at the top and nothing below.
void ExpectSameOnEveryThreadCount(const std::vector<uint8_t>& bytes) {
  VXSetParallelMinPixels(0);
  VXSetThreadCount(1);
  std::vector<int> oneProgress;
  const TFailedRead one = ReadWithReason(bytes, &oneProgress);
  for (int threads : {2, 3, 7}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    VXSetThreadCount(threads);
    std::vector<int> progress;
    const TFailedRead many = ReadWithReason(bytes, &progress);
    EXPECT_TRUE(SameImage(many.Outcome.Bitmap, one.Outcome.Bitmap));
    EXPECT_EQ(many.Outcome.Aborting, one.Outcome.Aborting);
    EXPECT_EQ(many.Failure.Kind, one.Failure.Kind);
    EXPECT_EQ(many.Failure.Text, one.Failure.Text);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_LE(std::count(progress.begin(), progress.end(), 100), 1);
    if (!one.Outcome.Aborting) {
      EXPECT_EQ(progress.back(), 100);
    }

    const TFailedRead cut = ReadWithReason(bytes, &progress, 30);
    const TBitmap& b = cut.Outcome.Bitmap;
    if (one.Outcome.Aborting || b.Height() != one.Outcome.Bitmap.Height()) continue;
    EXPECT_TRUE(cut.Outcome.Aborting);
    const TBitmap blank(b.Width(), 1, b.PixelFormat());
    const size_t n = static_cast<size_t>(b.RowLen());
    int y = 0;
    while (y < b.Height() && std::memcmp(b.ScanLine(y), one.Outcome.Bitmap.ScanLine(y), n) == 0) ++y;
    for (; y < b.Height(); ++y) ASSERT_EQ(std::memcmp(b.ScanLine(y), blank.ScanLine(0), n), 0) << "row " << y;
  }
  VXSetParallelMinPixels(-1);
  VXSetThreadCount(0);
}

class TiffMadeByOtherPrograms : public ::testing::TestWithParam<TMadeCase> {};

TEST_P(TiffMadeByOtherPrograms, PixelsMatchAnIndependentDecoder) {
  const TMadeCase& c = GetParam();
  VEXA_REQUIRE_REFERENCE_DECODER();
  const std::string src = TestData("tiff/" + c.Source);
  VEXA_REQUIRE_FILE(src);
  TScratchDir dir;
  const std::string made = dir / "made.tif";
  if (c.Make.rfind("ycbcr ", 0) == 0) {
    std::string out;
    ASSERT_TRUE(RunPillowScript(kYCbCrWriter, Quote(src) + " " + Quote(made) + " " + c.Make.substr(6), out));
  } else {
    if (!ToolAvailable("tiffcp")) GTEST_SKIP() << "libtiff-tools not installed";
    ASSERT_EQ(std::system(("tiffcp " + c.Make + " " + Quote(src) + " " + Quote(made) + " 2>/dev/null").c_str()), 0);
  }
  if (c.Compression) SetShortTag(made, 259, c.Compression);

  VXInstallLZWCoders();
  const TReadOutcome ours = ReadTiffFile(made);
  ASSERT_FALSE(ours.Aborting);
  TRefImage ref;
  switch (c.Reference) {
    case refPillow: ASSERT_TRUE(PillowDecode(made, ref)); break;
    case refPillowFloat: ASSERT_TRUE(FloatReference(made, ref)); break;
    case refLibtiffRgba: {
      if (!ToolAvailable("tiff2rgba")) GTEST_SKIP() << "libtiff-tools not installed";
      const std::string rgba = dir / "rgba.tif";
      ASSERT_EQ(std::system(("tiff2rgba -c none " + Quote(made) + " " + Quote(rgba) + " 2>/dev/null").c_str()), 0);
      ASSERT_TRUE(PillowDecode(rgba, ref));
      break;
    }
  }
  ASSERT_EQ(ours.Bitmap.Width(), ref.Width);
  ASSERT_EQ(ours.Bitmap.Height(), ref.Height);
  const std::vector<uint8_t> want = ours.Bitmap.PixelFormat() == pf1bit ? Bilevel(ref.Rgb, ours.Params.ColorMap) : ref.Rgb;
  EXPECT_LE(MaxDifference(BitmapRgb(ours.Bitmap), want), c.Tolerance);
  ExpectSameOnEveryThreadCount(ReadFileBytes(made));
}

std::string MadeCaseName(const ::testing::TestParamInfo<TMadeCase>& info) {
  std::string n = info.param.Make + "_" + info.param.Source.substr(info.param.Source.rfind('/') + 1);
  n = n.substr(0, n.rfind('.'));
  for (char& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n + (info.param.Compression ? "_as_" + std::to_string(info.param.Compression) : "");
}

// 157 x 151 pictures: tiles and strips end in partial blocks.
const char* const kRgb8 = "libtiff-test/rgb-3c-8b.tiff";
const char* const kRgb16 = "libtiff-test/rgb-3c-16b.tiff";
const char* const kGrey8 = "libtiff-test/minisblack-1c-8b.tiff";
const char* const kGrey16 = "libtiff-test/minisblack-1c-16b.tiff";
const char* const kPal4 = "libtiff-test/palette-1c-4b.tiff";
const char* const kPal8 = "libtiff-test/palette-1c-8b.tiff";
const char* const kBilevel = "libtiff-test/miniswhite-1c-1b.tiff";
const char* const kFloat = "image-tiff-seq/seq-1c-32f-390fe673.tiff";

INSTANTIATE_TEST_SUITE_P(
    Tiffcp, TiffMadeByOtherPrograms,
    ::testing::Values(
        // Deflate, with and without the horizontal predictor, and under the old code
        TMadeCase{"-c zip", kRgb8}, TMadeCase{"-c zip", kPal4}, TMadeCase{"-c zip", kBilevel},
        TMadeCase{"-c zip", kGrey16}, TMadeCase{"-c zip:2", kRgb8}, TMadeCase{"-c zip:2", kGrey8},
        TMadeCase{"-c zip:2", kGrey16}, TMadeCase{"-c zip:2", kRgb16}, TMadeCase{"-c zip:2", kRgb8, 0, refPillow, 32946},
        TMadeCase{"-r 7 -c zip", kPal8}, TMadeCase{"-p separate -r 10 -c zip:2", kRgb8},
        // tiles with partial edge tiles, of every sample layout
        TMadeCase{"-t -w 16 -l 16", kRgb8}, TMadeCase{"-t -w 16 -l 16", kGrey16}, TMadeCase{"-t -w 16 -l 16", kPal4},
        TMadeCase{"-t -w 16 -l 16", kBilevel}, TMadeCase{"-t -w 16 -l 16 -c zip:2", kRgb16},
        TMadeCase{"-t -w 32 -l 48 -c lzw:2", kRgb8}, TMadeCase{"-t -w 16 -l 32 -c packbits", kPal8},
        TMadeCase{"-p separate -t -w 16 -l 16 -c zip", kRgb8}, TMadeCase{"-t -w 48 -l 16 -c g4", kBilevel},
        // JPEG: YCbCr (tiffcp's default for RGB), RGB, grey, strips and tiles
        TMadeCase{"-r 16 -c jpeg", kRgb8}, TMadeCase{"-r 16 -c jpeg:r", kRgb8}, TMadeCase{"-r 8 -c jpeg", kGrey8},
        TMadeCase{"-t -w 32 -l 32 -c jpeg", kRgb8}, TMadeCase{"-t -w 16 -l 16 -c jpeg:r", kRgb8},
        // BigTIFF
        TMadeCase{"-8", kRgb8}, TMadeCase{"-8 -t -w 16 -l 16 -c zip:2", kGrey16}, TMadeCase{"-8 -c lzw", kBilevel},
        TMadeCase{"-8 -r 16 -c jpeg", kRgb8},
        // floating-point samples
        TMadeCase{"-c none", kFloat, 0, refPillowFloat}, TMadeCase{"-c zip:3", kFloat, 0, refPillowFloat},
        TMadeCase{"-c zip:2", kFloat, 0, refPillowFloat}, TMadeCase{"-8 -t -w 16 -l 16 -c zip:3", kFloat, 0, refPillowFloat},
        // subsampled YCbCr
        TMadeCase{"ycbcr 2 2 8 0", kRgb8}, TMadeCase{"ycbcr 4 2 8 32", kRgb8}, TMadeCase{"ycbcr 2 1 8 16", kRgb8},
        TMadeCase{"ycbcr 1 1 8 0", kRgb8}, TMadeCase{"ycbcr 2 2 1 0", kRgb8, 0, refLibtiffRgba},
        TMadeCase{"ycbcr 2 2 1 16", kRgb8, 0, refLibtiffRgba}, TMadeCase{"ycbcr 4 4 1 0", kRgb8, 0, refLibtiffRgba}),
    MadeCaseName);

// Pillow reads 16-bit planar RGB as 8-bit; libtiff's own converter is the reference here.
TEST(TiffRead, SixteenBitPlanarMatchesItsChunkyTwin) {
  const TReadOutcome planar = ReadTiffFile(kDir + "libtiffpic/depth/flower-rgb-planar-16.tif");
  const TReadOutcome chunky = ReadTiffFile(kDir + "libtiffpic/depth/flower-rgb-contig-16.tif");
  if (chunky.Pages == 0 || planar.Pages == 0) GTEST_SKIP() << "missing files";
  ASSERT_FALSE(planar.Aborting);
  ASSERT_FALSE(chunky.Aborting);
  EXPECT_EQ(MaxDifference(BitmapRgb(planar.Bitmap), BitmapRgb(chunky.Bitmap)), 0);
}

// Layouts this reader does not decode end with the abort flag and a zeroed bitmap.
TEST(TiffRead, UnsupportedLayoutsSetAborting) {
  VXInstallLZWCoders();
  // Old-style JPEG, 12 and 24-bit integers.
  for (const char* f : {"libtiffpic/zackthecat.tif", "libtiffpic/smallliz.tif", "image-tiff/12bit.cropped.tiff",
                        "image-tiff-seq/seq-3c-24b-contig-27b9f8ce.tiff"}) {
    SCOPED_TRACE(f);
    if (!std::filesystem::exists(kDir + f)) continue;
    const TReadOutcome r = ReadTiffFile(kDir + f);
    EXPECT_TRUE(r.Aborting);
    for (int y = 0; y < r.Bitmap.Height(); ++y)
      for (int x = 0; x < r.Bitmap.RowLen(); ++x) ASSERT_EQ(r.Bitmap.ScanLine(y)[x], 0);
  }
}

TEST(TiffRead, LzwPageWithoutDecoderSetsAborting) {
  const std::string path = kDir + "pillow/hopper_lzw.tif";
  if (!std::filesystem::exists(path)) GTEST_SKIP();
  const TiffLzwDecodeProc saved = DefTIFF_LZWDECOMPFUNC;
  DefTIFF_LZWDECOMPFUNC = nullptr;
  const TReadOutcome r = ReadTiffFile(path);
  DefTIFF_LZWDECOMPFUNC = saved;
  EXPECT_TRUE(r.Aborting);
  EXPECT_EQ(r.Params.TIFF_Compression, ioTIFF_LZW);
}

// Files from fuzzers and bug reports: each returns promptly without a crash; the
// ones that hold no readable page say so.
TEST(TiffMalformed, FuzzedFilesNeverCrash) {
  VXInstallLZWCoders();
  int seen = 0;
  for (const char* sub : {"bad/image-tiff-fuzz", "bad/pillow"}) {
    if (!std::filesystem::exists(kDir + sub)) continue;
    for (const auto& e : std::filesystem::directory_iterator(kDir + sub)) {
      SCOPED_TRACE(e.path().string());
      ++seen;
      const TReadOutcome r = ReadTiffFile(e.path().string());
      if (!r.Aborting) {
        EXPECT_GT(r.Bitmap.Width(), 0);
        EXPECT_EQ(r.Bitmap.Width(), r.Params.Width);
      }
      const std::string name = e.path().filename().string();
      if (name.rfind("divide_by_zero", 0) == 0 || name.rfind("oom-", 0) == 0 || name == "seek_too_large.tif" ||
          name == "libtiff_segfault.tif") {
        EXPECT_TRUE(r.Aborting);
      }
      TMemoryStream ms;
      ms.LoadFromFile(e.path().string());
      const int pages = _EnumTIFFImStream(ms);
      ms.Seek(0, soBeginning);
      EXPECT_EQ(_DeleteTIFFImStream(ms, 0), pages);
    }
  }
  if (seen == 0) GTEST_SKIP() << "no malformed samples";
}

// ------------------------------------------------------------ crafted files

/// Builds a one-page file: header, pixel data at offset 8, then the directory and
/// the values that do not fit in their entries.
class TTiffBuilder {
 public:
  explicit TTiffBuilder(bool bigEndian) : FBE(bigEndian) {}

  void Add(uint16_t tag, uint16_t type, std::vector<uint32_t> values) { FEntries[tag] = {type, std::move(values)}; }
  void AddRational(uint16_t tag, uint32_t num, uint32_t den) { Add(tag, 5, {num, den}); }

  std::vector<uint8_t> Build(const std::vector<uint8_t>& pixels, bool withStripCounts = true) {
    std::vector<uint8_t> f;
    Put(f, FBE ? 0x4D4D : 0x4949, 2);
    Put(f, 42, 2);
    Put(f, 0, 4);  // patched below
    const uint32_t dataOff = 8;
    f.insert(f.end(), pixels.begin(), pixels.end());
    if (!FEntries.count(273)) Add(273, 4, {dataOff});
    if (withStripCounts && !FEntries.count(279)) Add(279, 4, {static_cast<uint32_t>(pixels.size())});
    if (f.size() & 1) f.push_back(0);
    const uint32_t dirOff = static_cast<uint32_t>(f.size());
    Patch(f, 4, dirOff, 4);
    Put(f, FEntries.size(), 2);
    size_t extra = dirOff + 2 + FEntries.size() * 12 + 4;
    std::vector<uint8_t> tail;
    for (const auto& [tag, e] : FEntries) {
      Put(f, tag, 2);
      Put(f, e.Type, 2);
      const int size = e.Type == 3 ? 2 : e.Type == 5 ? 4 : e.Type == 1 || e.Type == 2 ? 1 : 4;
      const uint32_t count = e.Type == 5 ? static_cast<uint32_t>(e.Values.size() / 2)
                                         : static_cast<uint32_t>(e.Values.size());
      Put(f, count, 4);
      std::vector<uint8_t> bytes;
      for (uint32_t v : e.Values) Put(bytes, v, size);
      if (bytes.size() <= 4) {
        bytes.resize(4, 0);
        f.insert(f.end(), bytes.begin(), bytes.end());
      } else {
        Put(f, static_cast<uint32_t>(extra + tail.size()), 4);
        tail.insert(tail.end(), bytes.begin(), bytes.end());
      }
    }
    Put(f, FNext, 4);
    f.insert(f.end(), tail.begin(), tail.end());
    return f;
  }
  uint32_t FNext = 0;

 private:
  struct TE {
    uint16_t Type;
    std::vector<uint32_t> Values;
  };
  void Put(std::vector<uint8_t>& f, uint64_t v, int n) const {
    for (int i = 0; i < n; ++i) f.push_back(static_cast<uint8_t>(v >> (8 * (FBE ? n - 1 - i : i))));
  }
  void Patch(std::vector<uint8_t>& f, size_t at, uint32_t v, int n) const {
    for (int i = 0; i < n; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * (FBE ? n - 1 - i : i)));
  }
  bool FBE;
  std::map<uint16_t, TE> FEntries;
};

std::vector<uint8_t> RgbPixels(int w, int h) {
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 7 + 3);
  return px;
}

TReadOutcome ReadBytes(const std::vector<uint8_t>& bytes, int index = 0) {
  TMemoryStream ms(bytes.data(), bytes.size());
  return ReadTiff(ms, index);
}

TEST(TiffRead, BigEndianWithShortWidthReadsLikeLittleEndianTwin) {
  const std::vector<uint8_t> px = RgbPixels(5, 3);
  TReadOutcome results[2];
  for (int be = 0; be < 2; ++be) {
    TTiffBuilder b(be == 1);
    b.Add(256, 3, {5});  // SHORT width: stands in the upper half of a big-endian value field
    b.Add(257, 4, {3});
    b.Add(258, 3, {8, 8, 8});
    b.Add(277, 3, {3});
    b.Add(262, 3, {2});
    results[be] = ReadBytes(b.Build(px));
    ASSERT_FALSE(results[be].Aborting);
  }
  EXPECT_EQ(results[1].Bitmap.Width(), 5);
  EXPECT_EQ(BitmapRgb(results[0].Bitmap), px);
  EXPECT_EQ(BitmapRgb(results[1].Bitmap), px);
}

TEST(TiffRead, SixteenBitSamplesFollowTheFileByteOrder) {
  for (int be = 0; be < 2; ++be) {
    TTiffBuilder b(be == 1);
    b.Add(256, 4, {2});
    b.Add(257, 4, {1});
    b.Add(258, 3, {16});
    b.Add(262, 3, {1});
    // Values 0x1234 and 0xABCD in the file's order.
    const std::vector<uint8_t> px = be ? std::vector<uint8_t>{0x12, 0x34, 0xAB, 0xCD}
                                       : std::vector<uint8_t>{0x34, 0x12, 0xCD, 0xAB};
    const TReadOutcome r = ReadBytes(b.Build(px));
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.GetPixel(0, 0).r, 0x12);
    EXPECT_EQ(r.Bitmap.GetPixel(1, 0).r, 0xAB);
  }
}

// Rows per strip absent, 0xFFFFFFFF, and strip byte counts missing: one strip that
// runs to the end of the stream.
TEST(TiffRead, OneStripDefaults) {
  const std::vector<uint8_t> px = RgbPixels(4, 4);
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    TTiffBuilder b(false);
    b.Add(256, 4, {4});
    b.Add(257, 4, {4});
    b.Add(258, 3, {8, 8, 8});
    b.Add(277, 3, {3});
    if (variant == 1) b.Add(278, 4, {0xFFFFFFFFu});
    if (variant == 2) b.Add(279, 4, {0});
    const TReadOutcome r = ReadBytes(b.Build(px, variant != 0));
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(BitmapRgb(r.Bitmap), px);
  }
}

TEST(TiffRead, ResolutionPerCentimetreBecomesDpi) {
  TTiffBuilder b(false);
  b.Add(256, 4, {1});
  b.Add(257, 4, {1});
  b.Add(258, 3, {8, 8, 8});
  b.Add(277, 3, {3});
  b.AddRational(282, 11811, 100);
  b.AddRational(283, 50, 0);  // a zero denominator counts as 1
  b.Add(296, 3, {3});
  const TReadOutcome r = ReadBytes(b.Build({1, 2, 3}));
  EXPECT_EQ(r.Params.DpiX, 299);
  EXPECT_EQ(r.Params.DpiY, 127);
}

// Found by fuzzing: values with a count of zero (an empty inline value).
TEST(TiffMalformed, EmptyValuesReadAsAbsent) {
  TTiffBuilder b(false);
  b.Add(256, 4, {2});
  b.Add(257, 4, {1});
  b.Add(258, 3, {});
  b.Add(269, 2, {});
  b.Add(282, 5, {});
  b.Add(262, 3, {1});
  const TReadOutcome r = ReadBytes(b.Build({0x80}));
  EXPECT_FALSE(r.Aborting);
  EXPECT_EQ(r.Params.BitsPerSample, 1);
  EXPECT_EQ(r.Params.TIFF_DocumentName, "");
  EXPECT_EQ(r.Bitmap.PixelFormat(), pf1bit);
}

TEST(TiffMalformed, UnequalBitsPerSampleSetsAborting) {
  TTiffBuilder b(false);
  b.Add(256, 4, {1});
  b.Add(257, 4, {1});
  b.Add(258, 3, {8, 8, 16});
  b.Add(277, 3, {3});
  EXPECT_TRUE(ReadBytes(b.Build({1, 2, 3, 4})).Aborting);
}

TEST(TiffMalformed, StripsOutsideTheStreamSetAborting) {
  TTiffBuilder b(false);
  b.Add(256, 4, {4});
  b.Add(257, 4, {4});
  b.Add(258, 3, {8, 8, 8});
  b.Add(277, 3, {3});
  b.Add(273, 4, {0x7FFFFFF0u});
  EXPECT_TRUE(ReadBytes(b.Build(RgbPixels(4, 4))).Aborting);

  TTiffBuilder shortStrip(false);  // declares 4 rows, holds 2
  shortStrip.Add(256, 4, {4});
  shortStrip.Add(257, 4, {4});
  shortStrip.Add(258, 3, {8, 8, 8});
  shortStrip.Add(277, 3, {3});
  const std::vector<uint8_t> px = RgbPixels(4, 2);
  const TReadOutcome r = ReadBytes(shortStrip.Build(px));
  EXPECT_TRUE(r.Aborting);
  // The rows decoded so far are kept; the rest stays zero.
  std::vector<uint8_t> want = px;
  want.resize(4 * 4 * 3, 0);
  EXPECT_EQ(BitmapRgb(r.Bitmap), want);
}

TEST(TiffMalformed, AbsurdSizeIsRefusedBeforeAllocating) {
  TTiffBuilder b(false);
  b.Add(256, 4, {0xFFFFFFF0u});
  b.Add(257, 4, {0xFFFFFFF0u});
  b.Add(258, 3, {8, 8, 8});
  b.Add(277, 3, {3});
  const TReadOutcome r = ReadBytes(b.Build({1, 2, 3}));
  EXPECT_TRUE(r.Aborting);
  EXPECT_TRUE(r.Bitmap.Empty());
}

// Directory chains that come back to an earlier directory end the walk.
TEST(TiffMalformed, DirectoryCyclesEndTheChain) {
  TTiffBuilder b(false);
  b.Add(256, 4, {1});
  b.Add(257, 4, {1});
  b.Add(258, 3, {8, 8, 8});
  b.Add(277, 3, {3});
  std::vector<uint8_t> f = b.Build({1, 2, 3});
  const uint32_t dir = f[4] | f[5] << 8 | f[6] << 16 | uint32_t{f[7]} << 24;
  const size_t link = dir + 2 + (f[dir] | f[dir + 1] << 8) * 12;
  auto setLink = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  setLink(link, dir);  // points at itself
  TMemoryStream self(f.data(), f.size());
  EXPECT_EQ(_EnumTIFFImStream(self), 1);

  // A second directory (a copy of the first) that links back to the first.
  std::vector<uint8_t> copy(f.begin() + dir, f.begin() + static_cast<std::ptrdiff_t>(link) + 4);
  const uint32_t dir2 = static_cast<uint32_t>(f.size());
  f.insert(f.end(), copy.begin(), copy.end());
  setLink(link, dir2);
  setLink(dir2 + (link - dir), dir);
  TMemoryStream loop(f.data(), f.size());
  EXPECT_EQ(_EnumTIFFImStream(loop), 2);
  const TReadOutcome second = ReadBytes(f, 1);
  EXPECT_FALSE(second.Aborting);
  EXPECT_EQ(second.Pages, 2);
}

TEST(TiffMalformed, NotTiffSetsAbortingAndCountsNoPage) {
  const std::vector<uint8_t> junk = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0};
  const TReadOutcome r = ReadBytes(junk);
  EXPECT_TRUE(r.Aborting);
  EXPECT_EQ(r.Pages, 0);
  TMemoryStream ms(junk.data(), junk.size());
  EXPECT_EQ(_DeleteTIFFImStream(ms, 0), 0);
  EXPECT_EQ(ms.Size(), static_cast<int64_t>(junk.size()));
}

// ------------------------------------------------------------ writing

TBitmap RandomBilevel(int w, int h, unsigned seed) {
  TBitmap b(w, h, pf1bit);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    // Runs of random length give the fax coders realistic and extreme cases alike.
    int x = 0, colour = static_cast<int>(rng() & 1);
    while (x < w) {
      const int run = (rng() % 4 == 0) ? 1 + static_cast<int>(rng() % 3000) : 1 + static_cast<int>(rng() % 12);
      for (int i = x; i < std::min(w, x + run); ++i) _SetPixelbw(row, i, colour);
      x += run;
      colour ^= 1;
    }
  }
  return b;
}

TBitmap RandomRgb(int w, int h, unsigned seed) {
  TBitmap b(w, h, pf24bit);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.ScanLine(y);
    for (int x = 0; x < w * 3; ++x) row[x] = (x / 3) % 5 == 0 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(y * 9);
  }
  return b;
}

TIOParamsVals WriteParams(TIOTIFFCompression c, bool bilevel) {
  TIOParamsVals p;
  p.TIFF_Compression = c;
  p.BitsPerSample = bilevel ? 1 : 8;
  p.SamplesPerPixel = bilevel ? 1 : 3;
  p.TIFF_LZWCompFunc = TiffLzwEncode;
  p.TIFF_LZWDecompFunc = TiffLzwDecode;
  return p;
}

std::vector<uint8_t> WriteTiff(TBitmap& bmp, TIOParamsVals& p) {
  bool aborted = true;
  std::vector<uint8_t> bytes = WrittenBytes(
      [&](TStream& s, TProgressRec& pr) { EXPECT_EQ(TIFFWriteStream(s, false, bmp, p, pr), 1); }, &aborted);
  EXPECT_FALSE(aborted);
  return bytes;
}

std::string SaveTemp(const std::vector<uint8_t>& bytes, const std::string& name) {
  const std::string path = TempPath(name + ".tif");
  WriteFileBytes(path, bytes);
  return path;
}

/// The independent reader accepts the file without a word of complaint and decodes
/// the same pixels.
void ExpectIndependentReaderAgrees(const std::vector<uint8_t>& bytes, const TBitmap& expected, const std::string& name,
                                   int tolerance = 0) {
  VEXA_REQUIRE_REFERENCE_DECODER();
  const std::string path = SaveTemp(bytes, name);
  if (ToolAvailable("tiffinfo")) {
    const std::string cmd = "tiffinfo -D " + Quote(path) + " 2>&1 >/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    std::string errors;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) errors += buf;
    EXPECT_EQ(pclose(p), 0);
    EXPECT_EQ(errors, "") << name;
  }
  TRefImage ref;
  ASSERT_TRUE(PillowDecode(path, ref)) << name;
  const std::vector<uint8_t> refRgb = expected.PixelFormat() == pf1bit ? Bilevel(ref.Rgb) : ref.Rgb;
  EXPECT_LE(MaxDifference(BitmapRgb(expected), refRgb), tolerance) << name;
  std::filesystem::remove(path);
}

struct TWriteCase {
  TIOTIFFCompression Compression;
  bool Bilevel;
  uint16_t TagCompression;
  uint16_t TagPhotometric;
};

void PrintTo(const TWriteCase& c, std::ostream* os) {
  *os << "compression " << int(c.Compression) << (c.Bilevel ? " bilevel" : " rgb");
}

class TiffRoundTrip : public ::testing::TestWithParam<TWriteCase> {
 protected:
  static void SetUpTestSuite() { VXInstallLZWCoders(); }
};

uint32_t TagValue(const std::vector<uint8_t>& f, uint16_t tag) {
  const uint32_t dir = f[4] | f[5] << 8 | f[6] << 16 | uint32_t{f[7]} << 24;
  const int n = f[dir] | f[dir + 1] << 8;
  for (int i = 0; i < n; ++i) {
    const uint8_t* e = f.data() + dir + 2 + i * 12;
    if ((e[0] | e[1] << 8) == tag) return e[8] | e[9] << 8 | e[10] << 16 | uint32_t{e[11]} << 24;
  }
  return 0xFFFFFFFFu;
}

TEST_P(TiffRoundTrip, PixelsSurviveAndOtherReadersAgree) {
  const TWriteCase& c = GetParam();
  for (int w : {1, 7, 8, 9, 333}) {
    SCOPED_TRACE("width " + std::to_string(w));
    TBitmap src = c.Bilevel ? RandomBilevel(w, 17, w) : RandomRgb(w, 11, w);
    TIOParamsVals p = WriteParams(c.Compression, c.Bilevel);
    const std::vector<uint8_t> f = WriteTiff(src, p);
    EXPECT_EQ(TagValue(f, 259), c.TagCompression);
    EXPECT_EQ(TagValue(f, 262), c.TagPhotometric);
    const TReadOutcome r = ReadBytes(f);
    ASSERT_FALSE(r.Aborting);
    EXPECT_EQ(r.Bitmap.PixelFormat(), src.PixelFormat());
    EXPECT_EQ(BitmapRgb(r.Bitmap), BitmapRgb(src));
    EXPECT_EQ(r.Params.TIFF_Compression, c.Compression);
    if (w == 333) ExpectIndependentReaderAgrees(f, src, "rt" + std::to_string(c.TagCompression));
  }
}

INSTANTIATE_TEST_SUITE_P(Compressions, TiffRoundTrip,
                         ::testing::Values(TWriteCase{ioTIFF_UNCOMPRESSED, true, 1, 1},
                                           TWriteCase{ioTIFF_CCITT1D, true, 2, 0},
                                           TWriteCase{ioTIFF_G3FAX1D, true, 3, 0},
                                           TWriteCase{ioTIFF_G3FAX2D, true, 3, 0},
                                           TWriteCase{ioTIFF_G4FAX, true, 4, 0},
                                           TWriteCase{ioTIFF_PACKBITS, true, 32773, 1},
                                           TWriteCase{ioTIFF_LZW, true, 5, 1},
                                           TWriteCase{ioTIFF_UNCOMPRESSED, false, 1, 2},
                                           TWriteCase{ioTIFF_PACKBITS, false, 32773, 2},
                                           TWriteCase{ioTIFF_LZW, false, 5, 2}));

TEST(TiffWrite, CmykPageRoundTripsWithinRounding) {
  TBitmap src = RandomRgb(40, 9, 3);
  src.ScanLine(0)[0] = src.ScanLine(0)[1] = src.ScanLine(0)[2] = 0;  // black: C, M, Y, K = 255, 255, 255, 254
  TIOParamsVals p = WriteParams(ioTIFF_UNCOMPRESSED, false);
  p.TIFF_PhotometInterpret = ioTIFF_CMYK;
  const std::vector<uint8_t> f = WriteTiff(src, p);
  EXPECT_EQ(TagValue(f, 262), 5u);
  EXPECT_EQ(TagValue(f, 277), 4u);
  const uint32_t data = TagValue(f, 273);
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + data, f.begin() + data + 4), (std::vector<uint8_t>{255, 255, 255, 254}));
  const TReadOutcome r = ReadBytes(f);
  ASSERT_FALSE(r.Aborting);
  EXPECT_LE(MaxDifference(BitmapRgb(r.Bitmap), BitmapRgb(src)), 2);
  ExpectIndependentReaderAgrees(f, r.Bitmap, "cmyk", 1);
}

TEST(TiffWrite, FaxCompressionOfAPhotographFallsBackToUncompressedRgb) {
  TBitmap src = RandomRgb(20, 5, 1);
  TIOParamsVals p = WriteParams(ioTIFF_G4FAX, false);
  const std::vector<uint8_t> f = WriteTiff(src, p);
  EXPECT_EQ(TagValue(f, 259), 1u);
  EXPECT_EQ(TagValue(f, 262), 2u);
  EXPECT_EQ(BitmapRgb(ReadBytes(f).Bitmap), BitmapRgb(src));
}

TEST(TiffWrite, LzwWithoutEncoderWritesUncompressed) {
  TBitmap src = RandomRgb(20, 5, 1);
  TIOParamsVals p = WriteParams(ioTIFF_LZW, false);
  p.TIFF_LZWCompFunc = nullptr;
  const TiffLzwEncodeProc saved = DefTIFF_LZWCOMPFUNC;
  DefTIFF_LZWCOMPFUNC = nullptr;
  const std::vector<uint8_t> f = WriteTiff(src, p);
  DefTIFF_LZWCOMPFUNC = saved;
  EXPECT_EQ(TagValue(f, 259), 1u);
  EXPECT_EQ(TagValue(f, 317), 0xFFFFFFFFu);  // no predictor
  EXPECT_EQ(BitmapRgb(ReadBytes(f).Bitmap), BitmapRgb(src));
}

TEST(TiffWrite, ColourBitmapSavedAsBilevelKeepsTwoColoursOrDithers) {
  TBitmap two(16, 4, pf24bit);
  two.Fill(TRGB{200, 30, 30});
  two.SetPixel(3, 1, TRGB{0, 0, 90});
  TIOParamsVals p = WriteParams(ioTIFF_UNCOMPRESSED, true);
  TReadOutcome r = ReadBytes(WriteTiff(two, p));
  ASSERT_EQ(r.Bitmap.PixelFormat(), pf1bit);
  EXPECT_EQ(r.Bitmap.GetPixel(3, 1), (TRGB{0, 0, 0}));  // the darker colour is black
  EXPECT_EQ(r.Bitmap.GetPixel(0, 0), (TRGB{255, 255, 255}));

  TBitmap grey(64, 64, pf24bit);
  grey.Fill(TRGB{128, 128, 128});
  grey.SetPixel(0, 0, TRGB{1, 2, 3});
  grey.SetPixel(1, 0, TRGB{250, 250, 250});
  r = ReadBytes(WriteTiff(grey, p));
  int white = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) white += r.Bitmap.GetPixel(x, y).r == 255;
  EXPECT_GT(white, 64 * 64 / 3);  // mid grey dithers to a mix
  EXPECT_LT(white, 64 * 64 * 2 / 3);
}

TEST(TiffWrite, ParametersRoundTrip) {
  TBitmap src = RandomRgb(3, 2, 9);
  TIOParamsVals p = WriteParams(ioTIFF_PACKBITS, false);
  p.TIFF_DocumentName = "scan of the week";
  p.TIFF_ImageDescription = "ab";  // short enough to stand in its entry
  p.TIFF_PageName = "cover";
  p.TIFF_PageNumber = 2;
  p.TIFF_PageCount = 5;
  p.DpiX = 300;
  p.DpiY = 150;
  p.TIFF_XPos = 7;
  p.TIFF_YPos = 11;
  const TReadOutcome r = ReadBytes(WriteTiff(src, p));
  EXPECT_EQ(r.Params.TIFF_DocumentName, "scan of the week");
  EXPECT_EQ(r.Params.TIFF_ImageDescription, "ab");
  EXPECT_EQ(r.Params.TIFF_PageName, "cover");
  EXPECT_EQ(r.Params.TIFF_PageNumber, 2);
  EXPECT_EQ(r.Params.TIFF_PageCount, 5);
  EXPECT_EQ(r.Params.DpiX, 300);
  EXPECT_EQ(r.Params.DpiY, 150);
  EXPECT_EQ(r.Params.TIFF_XPos, 7);
  EXPECT_EQ(r.Params.TIFF_YPos, 11);
  EXPECT_EQ(r.Params.TIFF_Compression, ioTIFF_PACKBITS);
  EXPECT_EQ(r.Params.TIFF_PhotometInterpret, ioTIFF_RGB);
}

TEST(TiffWrite, ProgressIsReportedAndAbortStopsBeforeTheDirectory) {
  TBitmap src = RandomRgb(10, 50, 4);
  TIOParamsVals p = WriteParams(ioTIFF_UNCOMPRESSED, false);
  TMemoryStream ms;
  TAbortFlag pr;
  pr.Watch(50);
  EXPECT_EQ(TIFFWriteStream(ms, false, src, p, pr), 0);
  ASSERT_FALSE(pr.Seen.empty());
  EXPECT_EQ(pr.Seen.front(), 0);
  EXPECT_EQ(pr.Seen.back(), 50);
  ms.Seek(0, soBeginning);
  EXPECT_EQ(_EnumTIFFImStream(ms), 0);  // no directory was linked
}

// ------------------------------------------------------------ pages

/// A bitmap whose top-left pixel names the page.
TBitmap Page(uint8_t tag) {
  TBitmap b(6, 4, pf24bit);
  b.Fill(TRGB{tag, static_cast<uint8_t>(tag + 1), static_cast<uint8_t>(tag + 2)});
  return b;
}

std::vector<uint8_t> PageTags(TMemoryStream& ms) {
  std::vector<uint8_t> tags;
  ms.Seek(0, soBeginning);
  const int n = _EnumTIFFImStream(ms);
  for (int i = 0; i < n; ++i) {
    const TReadOutcome r = ReadTiff(ms, i);
    EXPECT_FALSE(r.Aborting);
    tags.push_back(r.Bitmap.GetPixel(0, 0).b);
  }
  return tags;
}

int Insert(TMemoryStream& ms, uint8_t tag, int index) {
  TBitmap b = Page(tag);
  TIOParamsVals p = WriteParams(index % 2 ? ioTIFF_PACKBITS : ioTIFF_UNCOMPRESSED, false);
  p.TIFF_ImageIndex = index;
  TAbortFlag pr;
  ms.Seek(0, soBeginning);
  const int n = TIFFWriteStream(ms, true, b, p, pr);
  EXPECT_FALSE(pr.Aborting);
  return n;
}

TEST(TiffPages, InsertAtFrontMiddleAndEnd) {
  TMemoryStream ms;
  TBitmap first = Page(10);
  TIOParamsVals p = WriteParams(ioTIFF_UNCOMPRESSED, false);
  ASSERT_EQ(TIFFWriteStream(ms, false, first, p, nullpr), 1);
  EXPECT_EQ(Insert(ms, 20, 1), 2);   // end
  EXPECT_EQ(Insert(ms, 30, 99), 3);  // past the end: appended
  EXPECT_EQ(PageTags(ms), (std::vector<uint8_t>{10, 20, 30}));
  EXPECT_EQ(Insert(ms, 40, 0), 4);  // front
  EXPECT_EQ(Insert(ms, 50, 2), 5);  // middle
  EXPECT_EQ(PageTags(ms), (std::vector<uint8_t>{40, 10, 50, 20, 30}));
  ExpectIndependentReaderAgrees(std::vector<uint8_t>(ms.Memory(), ms.Memory() + ms.Size()), Page(40), "multi");
  VEXA_REQUIRE_REFERENCE_DECODER();
  const std::string path = SaveTemp(std::vector<uint8_t>(ms.Memory(), ms.Memory() + ms.Size()), "pages");
  TRefImage ref;
  ASSERT_TRUE(PillowDecode(path, ref, 4));
  EXPECT_EQ(ref.Frames, 5);
  EXPECT_EQ(ref.Rgb[0], 32);  // red of page 30
  std::filesystem::remove(path);
}

TEST(TiffPages, InsertIntoBigEndianFileIsRefused) {
  TTiffBuilder b(true);
  b.Add(256, 4, {1});
  b.Add(257, 4, {1});
  b.Add(258, 3, {8, 8, 8});
  b.Add(277, 3, {3});
  const std::vector<uint8_t> f = b.Build({1, 2, 3});
  TMemoryStream ms(f.data(), f.size());
  TBitmap page = Page(1);
  TIOParamsVals p = WriteParams(ioTIFF_UNCOMPRESSED, false);
  TAbortFlag pr;
  EXPECT_EQ(TIFFWriteStream(ms, true, page, p, pr), 0);
  EXPECT_TRUE(pr.Aborting);
  EXPECT_EQ(ms.Size(), static_cast<int64_t>(f.size()));
}

TEST(TiffPages, DeletingEachPageKeepsTheOthersInOrder) {
  for (int victim = 0; victim < 4; ++victim) {
    SCOPED_TRACE(victim);
    TMemoryStream ms;
    TBitmap first = Page(10);
    TIOParamsVals p = WriteParams(ioTIFF_UNCOMPRESSED, false);
    p.TIFF_DocumentName = "a name longer than four bytes";
    TIFFWriteStream(ms, false, first, p, nullpr);
    Insert(ms, 20, 1);
    Insert(ms, 30, 2);
    Insert(ms, 40, 3);
    ms.Seek(0, soBeginning);
    EXPECT_EQ(_DeleteTIFFImStream(ms, victim), 4);
    std::vector<uint8_t> want = {10, 20, 30, 40};
    want.erase(want.begin() + victim);
    EXPECT_EQ(PageTags(ms), want);
    EXPECT_EQ(ReadTiff(ms, 0).Params.TIFF_DocumentName, victim == 0 ? "" : "a name longer than four bytes");
    ExpectIndependentReaderAgrees(std::vector<uint8_t>(ms.Memory(), ms.Memory() + ms.Size()), Page(want[0]),
                                  "del" + std::to_string(victim));
  }
}

// Deleting from real multi-strip and big-endian files keeps every other page's pixels.
TEST(TiffPages, DeleteFromRealFiles) {
  VXInstallLZWCoders();
  for (const char* f : {"pillow/g4-multi.tiff", "image-tiff-seq/seq-1c-8b-multipage-adeefdcc.tiff",
                        "pillow/multipage.tiff"}) {
    SCOPED_TRACE(f);
    if (!std::filesystem::exists(kDir + f)) continue;
    TMemoryStream orig;
    orig.LoadFromFile(kDir + f);
    const int n = _EnumTIFFImStream(orig);
    ASSERT_GE(n, 2);
    TMemoryStream ms;
    ms.LoadFromFile(kDir + f);
    EXPECT_EQ(_DeleteTIFFImStream(ms, 1), n);
    ms.Seek(0, soBeginning);
    ASSERT_EQ(_EnumTIFFImStream(ms), n - 1);
    for (int i = 0; i < n - 1; ++i) {
      const TReadOutcome before = ReadTiff(orig, i < 1 ? i : i + 1);
      const TReadOutcome after = ReadTiff(ms, i);
      ASSERT_FALSE(after.Aborting);
      EXPECT_EQ(BitmapRgb(after.Bitmap), BitmapRgb(before.Bitmap));
    }
  }
  // Big-endian: a crafted file keeps its byte order through the rebuild.
  TTiffBuilder b(true);
  b.Add(256, 3, {5});
  b.Add(257, 4, {3});
  b.Add(258, 3, {8, 8, 8});
  b.Add(277, 3, {3});
  const std::vector<uint8_t> px = RgbPixels(5, 3);
  const std::vector<uint8_t> f = b.Build(px);
  TMemoryStream ms(f.data(), f.size());
  EXPECT_EQ(_DeleteTIFFImStream(ms, 7), 1);  // nothing to delete: rebuilt as it was
  EXPECT_EQ(ms.Memory()[0], 'M');
  EXPECT_EQ(BitmapRgb(ReadTiff(ms).Bitmap), px);
}

// ------------------------------------------------------------ layouts from other programs, continued

// Floating-point pages of the suite, against Pillow's samples scaled to 0..255.
const TReadFormat kTiffFloat = [] {
  TReadFormat f = kTiff;
  f.Name = "TIFF float";
  f.Reference = [](const std::string& path, int, TRefImage& ref) { return FloatReference(path, ref); };
  return f;
}();

VEXA_READ_SUITE(TiffFloatRead, std::vector<TReadCase>({{&kTiffFloat, "tiff/image-tiff-seq/seq-1c-32f-390fe673.tiff"},
                                                       {&kTiffFloat, "tiff/image-tiff-seq/seq-1c-32f-deflate-fpredict-390fe673.tiff"}}));

// Pillow has no reader for 64-bit floats: the predicted Deflate copy must match the plain one.
TEST(TiffRead, DoublePrecisionDeflateWithPredictorMatchesItsPlainTwin) {
  const TReadOutcome plain = ReadTiffFile(kDir + "image-tiff-seq/seq-1c-64f-afa8560e.tiff");
  const TReadOutcome packed = ReadTiffFile(kDir + "image-tiff-seq/seq-1c-64f-deflate-fpredict-afa8560e.tiff");
  if (plain.Pages == 0 || packed.Pages == 0) GTEST_SKIP() << "missing files";
  ASSERT_FALSE(plain.Aborting);
  ASSERT_FALSE(packed.Aborting);
  EXPECT_EQ(MaxDifference(BitmapRgb(plain.Bitmap), BitmapRgb(packed.Bitmap)), 0);
  std::set<uint8_t> levels;
  for (uint8_t v : BitmapRgb(plain.Bitmap)) levels.insert(v);
  EXPECT_GT(levels.size(), 16u);  // a ramp, not a blank page
}

/// A little-endian classic file's first-directory entry, for patching in place.
uint8_t* FindEntry(std::vector<uint8_t>& f, uint16_t tag) {
  const uint32_t dir = f[4] | f[5] << 8 | f[6] << 16 | uint32_t{f[7]} << 24;
  const int n = f[dir] | f[dir + 1] << 8;
  for (int i = 0; i < n; ++i) {
    uint8_t* e = f.data() + dir + 2 + i * 12;
    if ((e[0] | e[1] << 8) == tag) return e;
  }
  return nullptr;
}

uint32_t Le(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}
void PutLe(uint8_t* p, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

/// The value slot of element `i` of a SHORT or LONG entry, and its width.
uint8_t* Element(std::vector<uint8_t>& f, uint8_t* e, uint32_t i, int& width) {
  width = (e[2] | e[3] << 8) == 3 ? 2 : 4;
  const uint32_t count = Le(e + 4, 4);
  return count * width <= 4 ? e + 8 + i * width : f.data() + Le(e + 8, 4) + i * width;
}

// Pages whose blocks end before the image does, in every compression: the rows that
// were read stay, the rest is zero, and the reason is "truncated".
class TiffTruncated : public ::testing::TestWithParam<TMadeCase> {};

TEST_P(TiffTruncated, ReportedWithTheRowsThatWereRead) {
  const TMadeCase& c = GetParam();
  const std::string src = TestData("tiff/" + c.Source);
  VEXA_REQUIRE_FILE(src);
  if (!ToolAvailable("tiffcp")) GTEST_SKIP() << "libtiff-tools not installed";
  TScratchDir dir;
  const std::string made = dir / "made.tif";
  ASSERT_EQ(std::system(("tiffcp " + c.Make + " " + Quote(src) + " " + Quote(made) + " 2>/dev/null").c_str()), 0);
  VXInstallLZWCoders();
  const std::vector<uint8_t> bytes = ReadFileBytes(made);
  const TReadOutcome full = ReadBytes(bytes);
  ASSERT_FALSE(full.Aborting);
  const int w = full.Bitmap.Width(), h = full.Bitmap.Height();
  auto rowsMatch = [&](const TBitmap& b, int from, int to) {
    for (int y = from; y < to; ++y)
      if (std::memcmp(b.ScanLine(y), full.Bitmap.ScanLine(y), static_cast<size_t>(full.Bitmap.RowLen())) != 0) return false;
    return true;
  };

  {  // the directory claims 40 more rows than the blocks hold
    std::vector<uint8_t> f = bytes;
    int width = 4;
    uint8_t* e = FindEntry(f, 257);
    ASSERT_NE(e, nullptr);
    PutLe(Element(f, e, 0, width), static_cast<uint32_t>(h + 40), width);
    ExpectSameOnEveryThreadCount(f);
    const TFailedRead r = ReadWithReason(f);
    EXPECT_TRUE(r.Outcome.Aborting);
    EXPECT_EQ(r.Failure.Kind, fkTruncated) << r.Failure.Text;
    ASSERT_EQ(r.Outcome.Bitmap.Height(), h + 40);
    EXPECT_TRUE(rowsMatch(r.Outcome.Bitmap, 0, h));
    const TBitmap blank(w, 1, full.Bitmap.PixelFormat());
    EXPECT_EQ(std::memcmp(r.Outcome.Bitmap.ScanLine(h + 39), blank.ScanLine(0), static_cast<size_t>(blank.RowLen())), 0);
  }
  {  // the last block's data is cut to a quarter (past the rows an edge block shows)
    std::vector<uint8_t> f = bytes;
    uint8_t* counts = FindEntry(f, 279);
    const bool tiled = counts == nullptr;
    if (tiled) counts = FindEntry(f, 325);
    ASSERT_NE(counts, nullptr);
    const uint32_t n = Le(counts + 4, 4);
    int width = 4;
    // A middle block first, cut near its end: the rows of blocks below it, decoded
    // alongside, are dropped.
    uint8_t* middle = Element(f, counts, n / 2, width);
    const uint32_t kept = Le(middle, width);
    PutLe(middle, kept - kept / 8, width);
    ExpectSameOnEveryThreadCount(f);
    PutLe(middle, kept, width);
    uint8_t* last = Element(f, counts, n - 1, width);
    PutLe(last, Le(last, width) / 4, width);
    ExpectSameOnEveryThreadCount(f);
    const TFailedRead r = ReadWithReason(f);
    EXPECT_TRUE(r.Outcome.Aborting);
    EXPECT_EQ(r.Failure.Kind, fkTruncated) << r.Failure.Text;
    // Everything above the last row of blocks was read.
    uint8_t* rowsEntry = FindEntry(f, tiled ? 323 : 278);
    ASSERT_NE(rowsEntry, nullptr);
    const int blockRows = static_cast<int>(Le(Element(f, rowsEntry, 0, width), width));
    EXPECT_TRUE(rowsMatch(r.Outcome.Bitmap, 0, (h - 1) / blockRows * blockRows));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tiffcp, TiffTruncated,
    ::testing::Values(TMadeCase{"-r 8", kRgb8}, TMadeCase{"-r 8 -c lzw:2", kRgb8}, TMadeCase{"-r 8 -c zip:2", kGrey16},
                      TMadeCase{"-r 8 -c packbits", kPal4}, TMadeCase{"-r 8 -c g3:2d", kBilevel},
                      TMadeCase{"-r 8 -c g4", kBilevel}, TMadeCase{"-r 16 -c jpeg", kRgb8},
                      TMadeCase{"-t -w 16 -l 16 -c zip", kRgb8}, TMadeCase{"-p separate -r 8 -c lzw", kRgb8}),
    MadeCaseName);

// A 1-bit palette page of two colours other than black and white keeps them; a black
// and white palette (either order) stays bilevel.
TEST(TiffRead, TwoColourPalettePageKeepsItsColours) {
  auto make = [](std::vector<uint32_t> map) {
    TTiffBuilder b(false);
    b.Add(256, 4, {10});
    b.Add(257, 4, {2});
    b.Add(258, 3, {1});
    b.Add(262, 3, {3});
    b.Add(320, 3, std::move(map));
    return b.Build({0xA5, 0x40, 0x3C, 0x80});
  };
  // Index 0 a dark blue, index 1 a light green (16-bit colour map: reds, greens, blues).
  const std::vector<uint8_t> coloured = make({0x1000, 0x9000, 0x2000, 0xE000, 0x8000, 0x3000});
  const TReadOutcome r = ReadBytes(coloured);
  ASSERT_FALSE(r.Aborting);
  ASSERT_EQ(r.Bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(Px(r.Bitmap, 0, 0), Rgb(0x90, 0xE0, 0x30));
  EXPECT_EQ(Px(r.Bitmap, 1, 0), Rgb(0x10, 0x20, 0x80));
  EXPECT_EQ(Px(r.Bitmap, 8, 1), Rgb(0x90, 0xE0, 0x30));
  EXPECT_EQ(Px(r.Bitmap, 9, 0), Rgb(0x90, 0xE0, 0x30));
  if (ReferenceDecoderAvailable()) {
    TRefImage ref;
    const std::string path = SaveTemp(coloured, "two-colours");
    ASSERT_TRUE(PillowDecode(path, ref));
    EXPECT_EQ(BitmapRgb(r.Bitmap), ref.Rgb);
    std::filesystem::remove(path);
  }
  for (auto map : {std::vector<uint32_t>{0, 0xFFFF, 0, 0xFFFF, 0, 0xFFFF}, std::vector<uint32_t>{0xFFFF, 0, 0xFFFF, 0, 0xFFFF, 0}}) {
    const TReadOutcome bw = ReadBytes(make(map));
    ASSERT_FALSE(bw.Aborting);
    EXPECT_EQ(bw.Bitmap.PixelFormat(), pf1bit);
    EXPECT_EQ(BitmapRgb(bw.Bitmap)[0], map[0] ? 0 : 255);  // pixel 0 is index 1
  }
}

// Found by fuzzing: a YCbCr coding range of billions (or luma weights without green) falls back
// to the defaults instead of overflowing the conversion tables.
TEST(TiffMalformed, AbsurdYCbCrRangesKeepTheDefaults) {
  auto make = [](bool absurd) {
    TTiffBuilder b(false);
    b.Add(256, 4, {2});
    b.Add(257, 4, {1});
    b.Add(258, 3, {8, 8, 8});
    b.Add(262, 3, {6});
    b.Add(277, 3, {3});
    b.Add(530, 3, {1, 1});
    if (absurd) {
      b.Add(532, 5, {4160680000u, 1, 255, 1, 128, 1, 255, 1, 128, 1, 255, 1});
      b.Add(529, 5, {1, 0, 0, 0, 0, 0});  // 1/0 counts as 1; 0/0 leaves green without weight
    }
    return b.Build({200, 90, 160, 40, 128, 128});
  };
  const TReadOutcome plain = ReadBytes(make(false)), absurd = ReadBytes(make(true));
  ASSERT_FALSE(plain.Aborting);
  ASSERT_FALSE(absurd.Aborting);
  EXPECT_EQ(BitmapRgb(absurd.Bitmap), BitmapRgb(plain.Bitmap));
  EXPECT_EQ(BitmapRgb(plain.Bitmap)[3], 40);  // grey: Cb = Cr = 128
}

// BigTIFF pages read and count; the page writer and deleter leave such files alone.
TEST(TiffPages, BigTiffIsReadButNotRebuilt) {
  const std::string path = kDir + "image-tiff-seq/seq-1c-8b-bigtiff-20f3db0c.tiff";
  if (!std::filesystem::exists(path)) GTEST_SKIP();
  const std::vector<uint8_t> f = ReadFileBytes(path);
  TMemoryStream ms(f.data(), f.size());
  EXPECT_EQ(_EnumTIFFImStream(ms), 1);
  ms.Seek(0, soBeginning);
  EXPECT_EQ(_DeleteTIFFImStream(ms, 0), 0);
  TBitmap page = Page(1);
  TIOParamsVals p = WriteParams(ioTIFF_UNCOMPRESSED, false);
  TAbortFlag pr;
  ms.Seek(0, soBeginning);
  EXPECT_EQ(TIFFWriteStream(ms, true, page, p, pr), 0);
  EXPECT_TRUE(pr.Aborting);
  EXPECT_EQ(std::vector<uint8_t>(ms.Memory(), ms.Memory() + ms.Size()), f);
}

}  // namespace
}  // namespace vexa
