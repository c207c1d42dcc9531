// The preview dialogs' page logic, without a window.
#include "vexa/dialogs/previewpages.h"

#include <gtest/gtest.h>

#include "vexa/dialogs/iopreviewpages.h"
#include "vexa/io/paramfields.h"

using namespace vexa;

namespace {

TEST(PreviewPages, ResetStartsFromTheImage) {
  TBitmap b(300, 100, pf24bit);
  b.Fill(CreateRGB(10, 20, 30));
  TVXPreviewState s;
  s.LensX = 5;
  VXResetPreviewPage(s, peLens, b);
  EXPECT_EQ(s.LensX, 150);
  EXPECT_EQ(s.LensY, 50);
  EXPECT_EQ(s.LensWidth, 150);
  EXPECT_DOUBLE_EQ(s.Refraction, 1.7);
  VXResetPreviewPage(s, peContrast, b);
  EXPECT_LT(s.MeanR, s.MeanB) << "mean levels are measured per channel";
}

TEST(PreviewPages, MapConvertsBothWays) {
  const TVXPreviewMap m{250, 40, 10};
  EXPECT_EQ(m.ToPreviewX(100), 210);
  EXPECT_EQ(m.ToSourceX(210), 100);
  EXPECT_EQ(m.ToPreviewSize(8), 20);
}

TEST(PreviewPages, EqualizationGripsCannotCross) {
  int low = 50, high = 100;
  VXEqualizeGrips(0, 150, low, high);
  EXPECT_EQ(low, 150);
  EXPECT_EQ(high, 150);
  VXEqualizeGrips(1, 20, low, high);
  EXPECT_EQ(low, 20);
  EXPECT_EQ(high, 20);
  VXEqualizeGrips(1, 999, low, high);
  EXPECT_EQ(high, 255);
  TRGB lo{}, hi{255, 255, 255};
  VXEqualizeSetRange(1u << eqRed, 10, 200, lo, hi);
  EXPECT_EQ(lo, CreateRGB(10, 0, 0));
  EXPECT_EQ(hi, CreateRGB(200, 255, 255));
}

TEST(IOPreviewPages, AutoAddsThePageOfTheFileType) {
  EXPECT_EQ(VXResolveIOPages(VXPP(ppAUTO), ioGIF), VXPP(ppAUTO) | VXPP(ppGIF));
  EXPECT_FALSE(VXIOAnyPage(VXResolveIOPages(VXPP(ppAUTO), ioWMF)));
  EXPECT_FALSE(VXIOAnyPage(0));
  EXPECT_TRUE(VXIOPageVisible(VXPP(ppALL), ppTGA));
}

TEST(IOPreviewPages, ColourListsMapToBitsAndSamples) {
  EXPECT_EQ(VXColourIndex(ppBMP, 5, 3), 3);     // "65536" on the BMP page
  EXPECT_EQ(VXColourIndex(ppTIFF, 16, 1), 3);   // and on the TIFF page
  EXPECT_EQ(VXColourIndex(ppGIF, 3, 1), 2);     // "8": list index + 1 bits
  EXPECT_EQ(VXColourIndex(ppBMP, 8, 3), 4);     // "16M" before "16M (32bit)"
  EXPECT_EQ(VXColourIndex(ppPNG, 4, 1), 0);     // no "16": the largest list entry below
  EXPECT_EQ(VXColourChoices(ppJPEG).size(), 0u);
}

TEST(IOPreviewPages, TiffPhotometricLocksTheColours) {
  int i = 2;
  bool locked = false;
  VXTiffPhotometricColours(ioTIFF_CMYK, i, locked);
  EXPECT_EQ(i, 4);
  EXPECT_TRUE(locked);
  VXTiffPhotometricColours(ioTIFF_WHITEISZERO, i, locked);
  EXPECT_EQ(i, 0);
  EXPECT_TRUE(locked);
  VXTiffPhotometricColours(ioTIFF_RGB, i, locked);
  EXPECT_EQ(i, 4) << "B/W turns into 16M";
  EXPECT_FALSE(locked);
}

TEST(IOPreviewPages, EachPageCopiesOnlyItsOwnFields) {
  for (TPreviewParamsItems page : kVXIOPages)
    for (const char* name : VXIOPageFields(page)) EXPECT_NE(VXFindParamField(name), nullptr) << name;
  TIOParamsVals from, to;
  from.JPEG_Quality = 7;
  from.GIF_DelayTime = 33;
  from.BitsPerSample = 1;
  VXIOCopyPageFields(ppJPEG, to, from);
  EXPECT_EQ(to.JPEG_Quality, 7);
  EXPECT_EQ(to.GIF_DelayTime, 0);
  EXPECT_EQ(to.BitsPerSample, 8);
  VXIOCopyPageFields(ppGIF, to, from);
  EXPECT_EQ(to.GIF_DelayTime, 33);
  EXPECT_EQ(to.BitsPerSample, 1);
}

}  // namespace
