// The file dialogs' filter, extension rules and label texts.
#include "vexa/dialogs/filedialogs.h"

#include <gtest/gtest.h>

#include "vexa/io/formats.h"

using namespace vexa;

namespace {

TEST(FileDialogFilter, BuiltInFormatsInRegistryOrder) {
  VXFileFormatResetDefaults();
  const std::string expected =
      "All graphics|*.tif;*.tiff;*.gif;*.jpg;*.jpeg;*.jpe;*.pcx;*.bmp;*.dib;*.rle;*.ico;*.cur;*.png;*.wmf;*.emf;"
      "*.tga;*.targa;*.vda;*.icb;*.vst;*.pix;*.avi"
      "|TIFF Bitmap (TIF;TIFF)|*.tif;*.tiff"
      "|CompuServe Bitmap (GIF)|*.gif"
      "|JPEG Bitmap (JPG;JPEG;JPE)|*.jpg;*.jpeg;*.jpe"
      "|PaintBrush (PCX)|*.pcx"
      "|Windows Bitmap (BMP;DIB;RLE)|*.bmp;*.dib;*.rle"
      "|Windows Icon (ICO)|*.ico"
      "|Windows Cursor (CUR)|*.cur"
      "|Portable Network Graphics (PNG)|*.png"
      "|Windows Metafile (WMF)|*.wmf"
      "|Enhanced Windows Metafile (EMF)|*.emf"
      "|Targa Bitmap (TGA;TARGA;VDA;ICB;VST;PIX)|*.tga;*.targa;*.vda;*.icb;*.vst;*.pix"
      "|Video for Windows (AVI)|*.avi";
  EXPECT_EQ(BuildStrFilter(), expected);
}

TEST(FileDialogFilter, FollowsTheRegistry) {
  VXFileFormatResetDefaults();
  TVXFileFormatInfo info;
  info.FileType = 40;
  info.FullName = "Sample Raw";
  info.Extensions = "sRw;RAW2";
  VXFileFormatAdd(info);
  const std::string f = BuildStrFilter();
  VXFileFormatResetDefaults();
  EXPECT_NE(f.find(";*.srw;*.raw2;*.avi|"), std::string::npos) << f;
  EXPECT_NE(f.find("|Sample Raw (SRW;RAW2)|*.srw;*.raw2|Video for Windows (AVI)|*.avi"), std::string::npos) << f;
}

TEST(FileDialogFilter, FirstExtensionOfAnEntry) {
  const std::string f = VXDefaultSaveFilter();
  EXPECT_EQ(f.substr(0, 23), "JPEG Bitmap (JPG)|*.jpg");
  EXPECT_EQ(VXFilterFirstExt(f, 1), ".jpg");
  EXPECT_EQ(VXFilterFirstExt(f, 7), ".bmp");
  EXPECT_EQ(VXFilterFirstExt(f, 8), "");
  EXPECT_EQ(VXFilterFirstExt("All|*.*", 1), "");
  EXPECT_EQ(VXFilterFirstExt("A|*.tif;*.tiff", 1), ".tif");
}

TEST(FileDialogFilter, ExtensionsMapToSavePages) {
  for (const char* e : {".jpg", ".JPEG", ".jpe"}) EXPECT_EQ(VXSavePageOfExt(e), ppJPEG) << e;
  EXPECT_EQ(VXSavePageOfExt(".tiff"), ppTIFF);
  EXPECT_EQ(VXSavePageOfExt(".png"), ppPNG);
  EXPECT_EQ(VXSavePageOfExt(".tga"), ppALL) << "the save dialog has no TGA mapping";
  EXPECT_EQ(VXFileExt("/a.b/c"), "");
  EXPECT_EQ(VXChangeFileExt("/x/pic.jpg", ".png"), "/x/pic.png");
  EXPECT_EQ(VXChangeFileExt("pic", ".gif"), "pic.gif");
}

TEST(FileDialogLabels, ExactTexts) {
  TIOParamsVals p;
  p.Width = 641;
  p.Height = 10;
  p.DpiX = 300;
  p.DpiY = 150;
  p.FileType = ioPNG;
  TVXFileLabels l = VXFileLabels(p, 2, 5000, msEnglish);
  EXPECT_EQ(l.Dimensions, "641 x 10 pixel , 2 frames");
  EXPECT_EQ(l.Resolution, "300 x 150 dpi");
  EXPECT_EQ(l.Colours, "16777216 Colors (24 bit)");
  // 641 pixels of 24 bits: 1923 bytes padded to 1924; x 10 rows x 2 frames.
  EXPECT_EQ(l.FileSize, "File: 4 Kb   Mem: 37 Kb");
  p.BitsPerSample = 1;
  p.SamplesPerPixel = 1;
  l = VXFileLabels(p, 1, 900, msItalian);
  EXPECT_EQ(l.Dimensions, "641 x 10 pixel");
  EXPECT_EQ(l.Colours, "2 " + vxmsg(VXMSG_COLORS, msItalian) + " (1 bit)");
  EXPECT_EQ(l.FileSize, "File: 900 bytes   Mem: 840 bytes");
  p.BitsPerSample = 8;
  p.SamplesPerPixel = 4;
  EXPECT_EQ(VXFileLabels(p, 1, 0, msEnglish).Colours, "16777216 Colors (32 bit)");
}

}  // namespace
