// One-bit images as netpbm writes them from a two-colour picture: coloured pairs keep their
// colours (24 bits), black and white stays 1-bit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/fixtures.h"
#include "support/pixels.h"
#include "support/read_harness.h"
#include "vexa/codecs/bmp.h"
#include "vexa/codecs/pcx.h"

using namespace vexa;
using namespace vexa::test;

namespace {

struct TTwoColourCase {
  const char* Tool;  // netpbm converter from PPM
  TRGB C0, C1;
  TPixelFormat Expected;
};

void PrintTo(const TTwoColourCase& c, std::ostream* os) {
  *os << c.Tool << " " << int(c.C0.r) << "," << int(c.C0.g) << "," << int(c.C0.b) << " / " << int(c.C1.r) << ","
      << int(c.C1.g) << "," << int(c.C1.b);
}

class TwoColourRead : public ::testing::TestWithParam<TTwoColourCase> {};

TEST_P(TwoColourRead, KeepsItsColours) {
  const TTwoColourCase& c = GetParam();
  if (!ToolAvailable(c.Tool)) GTEST_SKIP() << c.Tool << " not installed";
  const TScratchDir dir;
  // 13 x 5, an odd width so that padding bits are crossed; no symmetry.
  TBitmap picture(13, 5, pf24bit);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 13; ++x) SetPx(picture, x, y, (x * 7 + y * 3) % 5 < 2 ? c.C0 : c.C1);
  std::string ppm = "P6\n13 5\n255\n";
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 13; ++x) {
      const TRGB p = Px(picture, x, y);
      ppm += {static_cast<char>(p.r), static_cast<char>(p.g), static_cast<char>(p.b)};
    }
  WriteFileBytes(dir / "in.ppm", std::vector<uint8_t>(ppm.begin(), ppm.end()));
  const std::string out = dir / "out";
  ASSERT_EQ(std::system((std::string(c.Tool) + " " + Quote(dir / "in.ppm") + " > " + Quote(out) + " 2>/dev/null").c_str()), 0);

  const std::vector<uint8_t> bytes = ReadFileBytes(out);
  TMemoryStream s(bytes.data(), bytes.size());
  const TReadOutcome r = ReadWith([&](TReadOutcome& o, TProgressRec& pr) {
    if (std::string(c.Tool) == "ppmtobmp")
      BMPReadStream(s, o.Bitmap, s.Size(), false, pr, o.Params);
    else
      ReadPcxStream(s, o.Bitmap, o.Params, false, pr, s.Size());
  }, TReadOutcome());
  ASSERT_FALSE(r.Aborting);
  EXPECT_EQ(r.Params.BitsPerSample, 1);  // the files are 1-bit
  EXPECT_EQ(r.Bitmap.PixelFormat(), c.Expected);
  EXPECT_TRUE(SamePixels(r.Bitmap, picture));
}

const TRGB kBlue = CreateRGB(0, 0, 255), kGreen = CreateRGB(0, 200, 0), kBlack = CreateRGB(0, 0, 0),
           kWhite = CreateRGB(255, 255, 255);

INSTANTIATE_TEST_SUITE_P(Netpbm, TwoColourRead,
                         ::testing::Values(TTwoColourCase{"ppmtobmp", kBlue, kGreen, pf24bit},
                                           TTwoColourCase{"ppmtobmp", kBlack, kWhite, pf1bit},
                                           TTwoColourCase{"ppmtobmp", kWhite, kBlue, pf24bit},
                                           TTwoColourCase{"ppmtopcx", kBlue, kGreen, pf24bit},
                                           TTwoColourCase{"ppmtopcx", kBlack, kWhite, pf1bit},
                                           TTwoColourCase{"ppmtopcx", kWhite, kBlue, pf24bit}));

}  // namespace
