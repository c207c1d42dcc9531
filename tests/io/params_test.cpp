#include <gtest/gtest.h>

#include <cstring>

#include "vexa/io/formats.h"
#include "vexa/io/ioparams.h"

using namespace vexa;

namespace {

void FillEveryField(TIOParamsVals& p) {
  p.FileName = "/tmp/x.tif";
  p.FileType = ioTIFF;
  p.BitsPerSample = 1, p.SamplesPerPixel = 1, p.Width = 640, p.Height = 480, p.DpiX = 300, p.DpiY = 200;
  TRGB pal[3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  p.SetColorMap(pal, 3);
  p.TIFF_Compression = ioTIFF_G4FAX, p.TIFF_ImageIndex = 2, p.TIFF_PhotometInterpret = ioTIFF_CMYK;
  p.TIFF_PlanarConf = 2, p.TIFF_XPos = 11, p.TIFF_YPos = 12;
  p.TIFF_DocumentName = "doc", p.TIFF_ImageDescription = "desc", p.TIFF_PageName = "page";
  p.TIFF_PageNumber = 3, p.TIFF_PageCount = 9;
  p.GIF_Version = "GIF87a", p.GIF_ImageIndex = 4, p.GIF_XPos = 5, p.GIF_YPos = 6, p.GIF_DelayTime = 7;
  p.GIF_FlagTranspColor = true, p.GIF_TranspColor = {10, 20, 30}, p.GIF_Interlaced = true;
  p.GIF_WinWidth = 800, p.GIF_WinHeight = 600, p.GIF_Background = {40, 50, 60}, p.GIF_Ratio = 49;
  p.JPEG_ColorSpace = ioJPEG_CMYK, p.JPEG_Quality = 93, p.JPEG_DCTMethod = ioJPEG_FLOAT;
  p.JPEG_OptimalHuffman = true, p.JPEG_Smooth = 17, p.JPEG_Progressive = true, p.JPEG_Scale = ioJPEG_QUARTER;
  p.PCX_Version = 3, p.PCX_Compression = ioPCX_UNCOMPRESSED, p.BMP_Version = ioBMP_BMOS2V2;
  p.BMP_Compression = ioBMP_RLE;
  p.ICO_ImageIndex = 1, p.ICO_Background = {70, 80, 90};
  p.CUR_ImageIndex = 2, p.CUR_XHotSpot = 3, p.CUR_YHotSpot = 4, p.CUR_Background = {100, 110, 120};
  p.PNG_Interlaced = true, p.PNG_Background = {130, 140, 150}, p.PNG_Filter = ioPNG_FILTER_PAETH;
  p.PNG_Compression = 9;
  p.TGA_XPos = 21, p.TGA_YPos = 22, p.TGA_Compressed = false, p.TGA_ImageName = "name";
  p.TGA_Author = "author", p.TGA_Date = 45000.25, p.TGA_Descriptor = "job", p.TGA_Background = {1, 1, 1};
  p.TGA_AspectRatio = 1.25, p.TGA_Gamma = 1.8, p.TGA_GrayLevel = true;
}

void ExpectSame(const TIOParamsVals& a, const TIOParamsVals& b) {
  TMemoryStream sa, sb;
  a.SaveToStream(sa);
  b.SaveToStream(sb);
  ASSERT_EQ(sa.Size(), sb.Size());
  EXPECT_EQ(0, std::memcmp(sa.Memory(), sb.Memory(), static_cast<size_t>(sa.Size())));
}

void DummyTiffEncode(const uint8_t*, int32_t, TStream&, void*&) {}

// Writes the common head of every version: version, name, type, six int32, palette.
void WriteHead(TStream& s, int32_t version, int fileType) {
  s.WriteI32(version);
  SaveStringToStream(s, "old.gif");
  if (version >= 2)
    s.WriteI32(fileType);
  else
    s.WriteU8(static_cast<uint8_t>(fileType));
  for (int32_t v : {8, 3, 10, 20, 72, 72}) s.WriteI32(v);
  s.WriteI32(1);
  s.WriteBuffer("\x01\x02\x03", 3);
}

void WriteThroughPcxBmp(TStream& s, bool withJpegScale) {
  s.WriteU8(ioTIFF_LZW), s.WriteI32(0), s.WriteU8(ioTIFF_RGB), s.WriteI32(1), s.WriteI32(0), s.WriteI32(0);
  SaveStringToStream(s, ""), SaveStringToStream(s, ""), SaveStringToStream(s, "");
  s.WriteI32(0), s.WriteI32(0);
  SaveStringToStream(s, "GIF87a");
  for (int i = 0; i < 4; ++i) s.WriteI32(i);
  s.WriteU8(1), s.WriteBuffer("\x05\x06\x07", 3), s.WriteU8(0), s.WriteI32(30), s.WriteI32(40);
  s.WriteBuffer("\x00\x00\x00", 3), s.WriteI32(0);
  s.WriteU8(ioJPEG_GRAYLEV), s.WriteI32(75), s.WriteU8(ioJPEG_IFAST), s.WriteU8(0), s.WriteI32(0), s.WriteU8(0);
  if (withJpegScale) s.WriteU8(ioJPEG_HALF);
  s.WriteI32(5), s.WriteU8(ioPCX_RLE), s.WriteU8(ioBMP_BM), s.WriteU8(ioBMP_RLE);
}

void WritePng(TStream& s) { s.WriteU8(1), s.WriteBuffer("\x09\x08\x07", 3), s.WriteU8(ioPNG_FILTER_SUB), s.WriteI32(6); }

}  // namespace

TEST(ParamsDefaults, FreshRecordHasTheDocumentedDefaults) {
  TIOParamsVals p;
  EXPECT_EQ(p.BitsPerSample, 8);
  EXPECT_EQ(p.SamplesPerPixel, 3);
  EXPECT_EQ(p.GIF_Version, "GIF89a");
  EXPECT_EQ(p.JPEG_Quality, 50);
  EXPECT_EQ(p.JPEG_ColorSpace, ioJPEG_YCbCr);
  EXPECT_EQ(p.BMP_Version, ioBMP_BM3);
  EXPECT_EQ(p.PCX_Compression, ioPCX_RLE);
  EXPECT_EQ(p.ICO_Background, (TRGB{255, 255, 255}));
  EXPECT_TRUE(p.TGA_Compressed);
  EXPECT_DOUBLE_EQ(p.TGA_Gamma, 2.2);
  EXPECT_GT(p.TGA_Date, 45000.0);  // a date after 2023
  EXPECT_EQ(p.ColorMapCount, 0);
}

TEST(ParamsDefaults, OwnerlessResetKeepsGeometryAndResolution) {
  TIOParamsVals p;
  p.Width = 10, p.Height = 20, p.DpiX = 300, p.DpiY = 150, p.CUR_XHotSpot = 5, p.CUR_YHotSpot = 6;
  p.SetDefaultParams();
  EXPECT_EQ(p.Width, 10);
  EXPECT_EQ(p.DpiY, 150);
  EXPECT_EQ(p.CUR_XHotSpot, 0);
  EXPECT_EQ(p.CUR_YHotSpot, 0);
}

TEST(ParamsDefaults, OwnerSuppliesBitmapSizeAndViewResolution) {
  struct Owner : TIOParamsOwner {
    TBitmap bmp{33, 44, pf24bit};
    TBitmap* ParamsBitmap() override { return &bmp; }
    bool ParamsViewDpi(int& x, int& y) override {
      x = 120, y = 130;
      return true;
    }
  } owner;
  TIOParamsVals p(&owner);
  EXPECT_EQ(p.Width, 33);
  EXPECT_EQ(p.Height, 44);
  EXPECT_EQ(p.DpiX, 120);
  EXPECT_EQ(p.DpiY, 130);
}

TEST(ParamsDefaults, LzwHooksAreCopiedFromTheGlobals) {
  TIOParamsVals before;
  EXPECT_EQ(before.TIFF_LZWCompFunc, nullptr);
  TiffLzwEncodeProc saved = DefTIFF_LZWCOMPFUNC;
  DefTIFF_LZWCOMPFUNC = DummyTiffEncode;
  TIOParamsVals after;
  EXPECT_EQ(after.TIFF_LZWCompFunc, &DummyTiffEncode);
  TIOParamsVals copy;
  copy.TIFF_LZWCompFunc = nullptr;
  copy.Assign(after);
  EXPECT_EQ(copy.TIFF_LZWCompFunc, &DummyTiffEncode);
  DefTIFF_LZWCOMPFUNC = saved;
}

TEST(ParamsFile, VersionThreeRoundTripRestoresEveryField) {
  TIOParamsVals a;
  FillEveryField(a);
  TMemoryStream s;
  a.SaveToStream(s);
  s.SetPosition(0);
  EXPECT_EQ(s.ReadI32(), 3);
  s.SetPosition(0);
  TIOParamsVals b;
  b.TIFF_LZWCompFunc = DummyTiffEncode;
  b.LoadFromStream(s);
  ExpectSame(a, b);
  EXPECT_EQ(b.ColorMapCount, 3);
  EXPECT_EQ(b.ColorMap[2], (TRGB{7, 8, 9}));
  EXPECT_EQ(b.JPEG_Scale, ioJPEG_QUARTER);
  EXPECT_EQ(b.TGA_Author, "author");
  EXPECT_EQ(b.TIFF_LZWCompFunc, &DummyTiffEncode);  // hooks are not part of the file
  EXPECT_EQ(s.Position(), s.Size());
}

// A version-3 file written by hand, field by field as the format lays them out,
// loads whole and saves back byte for byte.
TEST(ParamsFile, VersionThreeLayoutLoadsAndSavesByteForByte) {
  TMemoryStream s;
  WriteHead(s, 3, ioTGA);
  WriteThroughPcxBmp(s, true);
  s.WriteI32(1), s.WriteBuffer("\x0a\x0b\x0c", 3);  // ICO index and background
  s.WriteI32(2), s.WriteI32(3), s.WriteI32(4), s.WriteBuffer("\x0d\x0e\x0f", 3);
  WritePng(s);
  s.WriteI32(21), s.WriteI32(22), s.WriteU8(0);
  SaveStringToStream(s, "id"), SaveStringToStream(s, "author");
  s.WriteDouble(45000.5);
  SaveStringToStream(s, "job");
  s.WriteBuffer("\x10\x11\x12", 3), s.WriteDouble(1.25), s.WriteDouble(1.8), s.WriteU8(1);
  s.SetPosition(0);
  TIOParamsVals p;
  p.LoadFromStream(s);
  EXPECT_EQ(s.Position(), s.Size());
  EXPECT_EQ(p.FileType, ioTGA);
  EXPECT_EQ(p.JPEG_Scale, ioJPEG_HALF);
  EXPECT_EQ(p.CUR_Background, (TRGB{0x0d, 0x0e, 0x0f}));
  EXPECT_EQ(p.TGA_Author, "author");
  EXPECT_DOUBLE_EQ(p.TGA_Gamma, 1.8);
  EXPECT_TRUE(p.TGA_GrayLevel);
  TMemoryStream saved;
  p.SaveToStream(saved);
  ASSERT_EQ(saved.Size(), s.Size());
  EXPECT_EQ(0, std::memcmp(saved.Memory(), s.Memory(), static_cast<size_t>(s.Size())));
}

TEST(ParamsFile, FileRoundTrip) {
  TIOParamsVals a;
  FillEveryField(a);
  std::string name = ::testing::TempDir() + "vexa_params.bin";
  a.SaveToFile(name);
  TIOParamsVals b;
  b.LoadFromFile(name);
  ExpectSame(a, b);
}

TEST(ParamsFile, VersionTwoHasNoJpegScaleAndNoTgaGroup) {
  TMemoryStream s;
  WriteHead(s, 2, 300);
  WriteThroughPcxBmp(s, false);
  s.WriteI32(1), s.WriteI32(2), s.WriteI32(3), s.WriteI32(4);  // ICO index, CUR index and hot spot
  WritePng(s);
  s.SetPosition(0);
  TIOParamsVals p;
  p.JPEG_Scale = ioJPEG_EIGHTH;
  p.TGA_Author = "kept";
  p.ICO_Background = {1, 2, 3};
  p.LoadFromStream(s);
  EXPECT_EQ(s.Position(), s.Size());
  EXPECT_EQ(p.FileType, 300);  // int32 from version 2 on
  EXPECT_EQ(p.JPEG_Scale, ioJPEG_EIGHTH);
  EXPECT_EQ(p.TGA_Author, "kept");
  EXPECT_EQ(p.ICO_Background, (TRGB{1, 2, 3}));
  EXPECT_EQ(p.ICO_ImageIndex, 1);
  EXPECT_EQ(p.CUR_YHotSpot, 4);
  EXPECT_EQ(p.PNG_Compression, 6);
  EXPECT_EQ(p.JPEG_Quality, 75);
  EXPECT_EQ(p.GIF_Version, "GIF87a");
}

TEST(ParamsFile, VersionOneHasAByteFileTypeAndAJpegScale) {
  TMemoryStream s;
  WriteHead(s, 1, ioGIF);
  WriteThroughPcxBmp(s, true);
  s.WriteI32(1), s.WriteI32(2), s.WriteI32(3), s.WriteI32(4);
  WritePng(s);
  s.SetPosition(0);
  TIOParamsVals p;
  p.LoadFromStream(s);
  EXPECT_EQ(s.Position(), s.Size());
  EXPECT_EQ(p.FileType, ioGIF);
  EXPECT_EQ(p.JPEG_Scale, ioJPEG_HALF);
  EXPECT_EQ(p.CUR_XHotSpot, 3);
}

TEST(ParamsFile, VersionZeroSkipsTheOldIconFields) {
  TMemoryStream s;
  WriteHead(s, 0, ioBMP);
  WriteThroughPcxBmp(s, false);
  s.WriteI32(91), s.WriteI32(92), s.WriteI32(93), s.WriteI32(94);  // two skipped pairs
  WritePng(s);
  s.SetPosition(0);
  TIOParamsVals p;
  p.ICO_ImageIndex = 5, p.CUR_ImageIndex = 6, p.CUR_XHotSpot = 7, p.CUR_YHotSpot = 8;
  p.LoadFromStream(s);
  EXPECT_EQ(s.Position(), s.Size());
  EXPECT_EQ(p.FileType, ioBMP);
  EXPECT_EQ(p.ICO_ImageIndex, 0);
  EXPECT_EQ(p.CUR_ImageIndex, 0);
  EXPECT_EQ(p.CUR_XHotSpot, 0);
  EXPECT_EQ(p.CUR_YHotSpot, 0);
  EXPECT_EQ(p.PNG_Filter, ioPNG_FILTER_SUB);
  EXPECT_EQ(p.ColorMapCount, 1);
}

TEST(ParamsFile, NewerVersionChangesNothing) {
  TMemoryStream s;
  s.WriteI32(4);
  SaveStringToStream(s, "future");
  s.SetPosition(0);
  TIOParamsVals p;
  FillEveryField(p);
  TIOParamsVals before(p);
  p.LoadFromStream(s);
  ExpectSame(before, p);
}

TEST(ParamsFile, TruncatedFileRaisesAndLeavesTheRecordAlone) {
  TIOParamsVals a;
  FillEveryField(a);
  TMemoryStream full;
  a.SaveToStream(full);
  for (int64_t cut : {int64_t(2), int64_t(10), int64_t(40), full.Size() / 2, full.Size() - 1}) {
    TMemoryStream s(full.Memory(), static_cast<size_t>(cut));
    TIOParamsVals p;
    TIOParamsVals before(p);
    EXPECT_THROW(p.LoadFromStream(s), EReadError) << cut;
    ExpectSame(before, p);
  }
}

TEST(ParamsFile, OversizedCountsAreRefusedWithoutAllocating) {
  TMemoryStream s;
  s.WriteI32(3);
  SaveStringToStream(s, "");
  s.WriteI32(ioBMP);
  for (int i = 0; i < 6; ++i) s.WriteI32(1);
  s.WriteI32(0x7FFFFFFF);  // palette entries the stream cannot hold
  s.SetPosition(0);
  TIOParamsVals p;
  EXPECT_THROW(p.LoadFromStream(s), EReadError);
  TMemoryStream t;
  t.WriteI32(3);
  t.WriteI32(0x7FFFFFF0);  // file-name length
  t.SetPosition(0);
  EXPECT_THROW(p.LoadFromStream(t), EReadError);
  TMemoryStream u;
  u.WriteI32(3);
  SaveStringToStream(u, "");
  u.WriteI32(ioBMP);
  for (int i = 0; i < 6; ++i) u.WriteI32(1);
  u.WriteI32(-3);  // a negative palette count
  u.SetPosition(0);
  EXPECT_THROW(p.LoadFromStream(u), EReadError);
}

TEST(ParamsFileType, DescriptionJoinsNameExtensionAndDetail) {
  TIOParamsVals p;
  p.FileType = ioTIFF;
  p.TIFF_Compression = ioTIFF_LZW;
  EXPECT_EQ(p.FileTypeStr(), "TIFF Bitmap (TIF) LZW");
  p.FileType = ioJPEG;
  p.JPEG_ColorSpace = ioJPEG_RGB;
  EXPECT_EQ(p.FileTypeStr(), "JPEG Bitmap (JPG)");
  p.JPEG_ColorSpace = ioJPEG_GRAYLEV;
  EXPECT_EQ(p.FileTypeStr(), "JPEG Bitmap (JPG) Gray level");
  p.FileType = ioTGA;
  p.TGA_Compressed = false;
  EXPECT_EQ(p.FileTypeStr(), "Targa Bitmap (TGA) Uncompressed");
  p.FileType = ioBMP;
  p.BMP_Version = ioBMP_BMOS2V1;
  EXPECT_EQ(p.FileTypeStr(), "Windows Bitmap (BMP) OS/2 v.1");
  p.FileType = ioPCX;
  EXPECT_EQ(p.FileTypeStr(), "PaintBrush (PCX)");
  p.FileType = 0;
  EXPECT_EQ(p.FileTypeStr(), "");
}

TEST(Registry, BuiltinTableAndExtensionLookup) {
  VXFileFormatResetDefaults();
  EXPECT_EQ(VXFileFormatCount(), 11);
  EXPECT_EQ(VXFileFormatGetExtCount(ioTGA), 6);
  EXPECT_EQ(VXFileFormatGetExt(ioTGA, 5), "PIX");
  EXPECT_EQ(VXFileFormatGetExt(ioTGA, 6), "");
  EXPECT_EQ(VXFileFormatGetExt(99, 0), "");
  ASSERT_NE(VXFileFormatGetInfo2("jpe"), nullptr);
  EXPECT_EQ(VXFileFormatGetInfo2("jpe")->FileType, ioJPEG);
  EXPECT_EQ(VXFileFormatGetInfo2("xyz"), nullptr);
  EXPECT_EQ(VXFileFormatGetInfo(ioPNG)->FullName, "Portable Network Graphics");
}

TEST(Registry, AddedFormatsAreFoundAndRemovable) {
  VXFileFormatResetDefaults();
  TVXFileFormatInfo info;
  info.FileType = 40;
  info.FullName = std::string(100, 'n');
  info.Extensions = "ABC;DEF";
  VXFileFormatAdd(info);
  ASSERT_NE(VXFileFormatGetInfo(40), nullptr);
  EXPECT_EQ(VXFileFormatGetInfo(40)->FullName.size(), 80u);
  EXPECT_EQ(VXFileFormatGetInfo2("def")->FileType, 40);
  TIOParamsVals p;
  p.FileType = 40;
  EXPECT_EQ(p.FileTypeStr(), std::string(80, 'n') + " (ABC)");
  VXFileFormatRemove(40);
  EXPECT_EQ(VXFileFormatGetInfo(40), nullptr);
  VXFileFormatResetDefaults();
}

TEST(TwainParams, IdentityIsCutAndSourcesMatchByPrefix) {
  TVXTWainParams t;
  t.SetAppProductName(std::string(40, 'x'));
  EXPECT_EQ(t.AppProductName().size(), 32u);
  EXPECT_FALSE(t.SelectSourceByName(""));  // no sources yet
  auto make = [](const char* name) {
    TVXTWSourceIdentity id;
    std::strncpy(reinterpret_cast<char*>(id.Bytes + 122), name, 33);
    return id;
  };
  t.Sources = {make("Flatbed One"), make("Sheetfeed Two")};
  t.SourceListFilled = true;
  EXPECT_EQ(t.SourceCount(), 2);
  EXPECT_EQ(t.SourceName(1), "Sheetfeed Two");
  EXPECT_EQ(t.SourceName(2), "");
  EXPECT_TRUE(t.SelectSourceByName("sheet"));
  EXPECT_EQ(t.SelectedSource(), 1);
  EXPECT_TRUE(t.SelectSourceByName(""));
  EXPECT_EQ(t.SelectedSource(), 0);
  EXPECT_FALSE(t.SelectSourceByName("Camera"));
  TVXTWainParams copy;
  copy.Assign(t);
  EXPECT_EQ(copy.SourceName(0), "Flatbed One");
}
