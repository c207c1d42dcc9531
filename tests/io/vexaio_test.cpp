#include <gtest/gtest.h>

#include <cstring>

#include "io_testutil.h"
#include "vexa/core/sample.h"
#include "vexa/io/detect.h"
#include "vexa/io/formats.h"
#include "vexa/io/vexaio.h"

using namespace vexa;
using namespace iotest;
using namespace vexa::test;

namespace {

const char* const kJpeg = "jpeg/libjpeg-turbo/testorig.jpg";  // 227 x 149
const char* const kPng = "png/pngsuite/basn2c08.png";         // 32 x 32
const char* const kBmp = "bmp/bmpsuite/g/pal8.bmp";           // 127 x 64, 72 dpi

// A run-time format: "TST" files are "TST!" followed by the width and height bytes.
int gReads = 0, gWrites = 0, gTries = 0;
void TstRead(TStream& s, TBitmap& bmp, TIOParamsVals& p, bool preview, TProgressRec& pr) {
  ++gReads;
  uint8_t b[6] = {};
  if (s.Read(b, 6) != 6 || std::memcmp(b, "TST!", 4) != 0) return pr.Abort();
  p.Width = b[4], p.Height = b[5];
  pr.PerUnit = 1;
  pr.Report(50);
  if (!preview) bmp.Allocate(b[4], b[5], pf24bit);
}
void TstWrite(TStream& s, TBitmap& bmp, TIOParamsVals&, TProgressRec&) {
  ++gWrites;
  uint8_t b[6] = {'T', 'S', 'T', '!', static_cast<uint8_t>(bmp.Width()), static_cast<uint8_t>(bmp.Height())};
  s.WriteBuffer(b, 6);
}
bool TstTry(TStream& s) {
  ++gTries;
  char b[4] = {};
  return s.Read(b, 4) == 4 && std::memcmp(b, "TST!", 4) == 0;
}
bool NeverTry(TStream& s) {
  ++gTries;
  char b[4];
  s.Read(b, 4);
  return false;
}

class IOTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gReads = gWrites = gTries = 0;
    io.SetAttachedBitmap(&bmp);
  }
  void TearDown() override { VXFileFormatResetDefaults(); }
  TScratchDir dir;
  TBitmap bmp{3, 3, pf24bit};
  TVexaIO io;
};

}  // namespace

// ---------------------------------------------------------------------------
// Choosing the codec

TEST_F(IOTest, LoadFromFileComparesTheExtensionInLowerCase) {
  std::string photo = dir.Copy(kJpeg, "photo.JPG");
  VEXA_REQUIRE_FILE(photo);
  io.LoadFromFile(photo);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(io.Params.FileType, ioJPEG);
  EXPECT_EQ(io.Params.FileName, photo);
  EXPECT_EQ(bmp.Width(), 227);
  EXPECT_EQ(bmp.Height(), 149);
}

TEST_F(IOTest, MisnamedFilesAreReadByTheirContent) {
  struct {
    const char* Source;
    const char* Name;
    int Type, Width;
  } cases[] = {{kPng, "photo.jpg", ioPNG, 32},   {kJpeg, "photo", ioJPEG, 227}, {kBmp, "picture.dib", ioBMP, 127},
               {kBmp, "a.png", ioBMP, 127}, {kJpeg, "scan.unknown", ioJPEG, 227}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string file = dir.Copy(c.Source, c.Name);
    VEXA_REQUIRE_FILE(file);
    io.LoadFromFile(file);
    EXPECT_FALSE(io.Aborting) << io.LastFailure().Describe();
    EXPECT_EQ(io.Params.FileType, c.Type);
    EXPECT_EQ(bmp.Width(), c.Width);
  }
  // The extension's own format, damaged, keeps its codec's verdict.
  std::vector<uint8_t> cut = ReadFileBytes(TestData(kPng));
  cut.resize(cut.size() / 2);
  WriteFileBytes(dir / "cut.png", cut);
  io.LoadFromFile(dir / "cut.png");
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(io.Params.FileType, ioPNG);
  EXPECT_EQ(io.LastFailure().Kind, fkTruncated);
  // Data no codec knows keeps the failure of the extension's codec.
  WriteFileBytes(dir / "junk.png", std::vector<uint8_t>(100, 'x'));
  io.LoadFromFile(dir / "junk.png");
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(io.Params.FileType, ioPNG);
  EXPECT_NE(io.LastFailure().Kind, fkNone);
  WriteFileBytes(dir / "junk", std::vector<uint8_t>(100, 'x'));
  io.LoadFromFile(dir / "junk");
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(io.LastFailure().Kind, fkUnknownFormat);
}

TEST_F(IOTest, RegistryExtensionWithoutReadFunctionAborts) {
  std::string pix = dir.Copy("tga/pillow-common/200x32_rgb_bl_raw.tga", "x.pix");
  VEXA_REQUIRE_FILE(pix);
  io.Params.FileName = "earlier";
  io.LoadFromFile(pix);
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(io.Params.FileType, ioUnknown);
  EXPECT_EQ(io.Params.FileName, "");
  EXPECT_EQ(bmp.Width(), 3);
}

TEST_F(IOTest, LoadFromStreamPicksGifEvenWhenARegistryTryFunctionSaysNo) {
  VXFileFormatAdd({20, "Never", "NVR", nullptr, nullptr, NeverTry});
  TMemoryStream s;
  s.WriteBuffer("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 14);
  s.SetPosition(0);
  EXPECT_EQ(FindStreamFormat(s), ioGIF);
  EXPECT_EQ(gTries, 1);
  io.LoadFromStream(s);
  EXPECT_EQ(io.Params.FileType, ioGIF);
}

TEST_F(IOTest, SaveToFileWithTiffExtensionWritesTiff) {
  bmp = VXMakeSampleImage(40, 30);
  std::string out = dir / "out.tiff";
  io.SaveToFile(out);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(FindFileFormat(out, true), ioTIFF);
  TBitmap back;
  TVexaIO reader;
  reader.SetAttachedBitmap(&back);
  reader.LoadFromFile(out);
  EXPECT_FALSE(reader.Aborting);
  EXPECT_EQ(back.Width(), 40);
  EXPECT_EQ(back.Height(), 30);
}

TEST_F(IOTest, UnknownExtensionsAndTypesAbortWithoutTouchingTheBitmap) {
  io.SaveToFile(dir / "picture.xyz");
  EXPECT_TRUE(io.Aborting);
  EXPECT_FALSE(std::filesystem::exists(dir / "picture.xyz"));
  TMemoryStream s;
  io.SaveToStream(s, 99);
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(s.Size(), 0);
  const char junk[] = "nothing that any reader knows about, surely";
  TMemoryStream in(junk, sizeof junk);
  io.LoadFromStream(in);
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(bmp.Width(), 3);
}

TEST_F(IOTest, WithoutABitmapNothingHappens) {
  TVexaIO lone;
  lone.LoadFromFile(dir / "missing.png");  // no exception: the file is never opened
  EXPECT_FALSE(lone.Aborting);
  lone.SaveToFile(dir / "out.bmp");
  EXPECT_FALSE(std::filesystem::exists(dir / "out.bmp"));
}

TEST_F(IOTest, MissingFilesRaise) {
  EXPECT_THROW(io.LoadFromFile(dir / "missing.bmp"), EFOpenError);
  EXPECT_THROW(io.SaveToFile(dir / "no-such-dir/out.bmp"), EFCreateError);
}

TEST_F(IOTest, RunTimeFormatReadsWritesAndIsDetected) {
  VXFileFormatAdd({20, "Test format", "TST", TstRead, TstWrite, TstTry});
  bmp.Allocate(7, 5, pf24bit);
  io.SaveToFile(dir / "a.tst");
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(gWrites, 1);

  TBitmap back;
  TVexaIO reader;
  reader.SetAttachedBitmap(&back);
  std::vector<std::pair<TObject*, int>> events;
  reader.OnProgress = [&](TObject* sender, int per) { events.emplace_back(sender, per); };
  reader.LoadFromFile(dir / "a.tst");
  EXPECT_EQ(reader.Params.FileType, 20);
  EXPECT_EQ(reader.Params.FileName, dir / "a.tst");
  EXPECT_EQ(back.Width(), 7);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, &reader);
  EXPECT_EQ(events[0].second, 50);

  TMemoryStream s;
  io.SaveToStream(s, 20);
  s.SetPosition(0);
  back.Allocate(1, 1, pf24bit);
  reader.LoadFromStream(s);
  EXPECT_EQ(reader.Params.FileType, 20);
  EXPECT_EQ(reader.Params.FileName, "");
  EXPECT_EQ(back.Height(), 5);
}

// ---------------------------------------------------------------------------
// Stream headers

TEST_F(IOTest, JpegStreamHeaderFramesTheDataAndLoadingStopsAfterIt) {
  bmp = VXMakeSampleImage(64, 48);
  io.StreamHeaders = true;
  TMemoryStream s;
  io.SaveToStream(s, ioJPEG);
  ASSERT_FALSE(io.Aborting);
  ASSERT_GT(s.Size(), 12);
  const uint8_t* m = s.Memory();
  EXPECT_EQ(std::memcmp(m, "JFIF\0\0\0\0", 8), 0);
  int32_t len = m[8] | (m[9] << 8) | (m[10] << 16) | (m[11] << 24);
  EXPECT_EQ(len, s.Size() - 12);
  EXPECT_EQ(m[12], 0xFF);
  s.SetPosition(s.Size());
  s.WriteBuffer("tail", 4);

  s.SetPosition(0);
  TBitmap back;
  TVexaIO reader;  // headers off: JPEG streams are checked for one anyway
  reader.SetAttachedBitmap(&back);
  reader.LoadFromStream(s);
  EXPECT_FALSE(reader.Aborting);
  EXPECT_EQ(reader.Params.FileType, ioJPEG);
  EXPECT_EQ(back.Width(), 64);
  EXPECT_EQ(s.Position(), 12 + len);
}

TEST_F(IOTest, PcxStreamHeaderRoundTripAndTheOlderFourByteForm) {
  bmp = VXMakeSampleImage(20, 10);
  io.StreamHeaders = true;
  TMemoryStream s;
  io.SaveToStream(s, ioPCX);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(std::memcmp(s.Memory(), "PCX2\0\0\0\0", 8), 0);
  int64_t end = s.Size();
  s.WriteBuffer("more", 4);
  s.SetPosition(0);
  TBitmap back;
  TVexaIO reader;
  reader.StreamHeaders = true;
  reader.SetAttachedBitmap(&back);
  reader.LoadFromStream(s);
  EXPECT_FALSE(reader.Aborting);
  EXPECT_EQ(back.Width(), 20);
  EXPECT_EQ(s.Position(), end);

  // "PCX" and a zero byte, then the image to the end of the stream.
  TMemoryStream old;
  old.WriteBuffer("PCX\0", 4);
  old.WriteBuffer(s.Memory() + 12, end - 12);
  old.SetPosition(0);
  back.Allocate(1, 1, pf24bit);
  reader.LoadFromStreamPCX(old);
  EXPECT_FALSE(reader.Aborting);
  EXPECT_EQ(back.Width(), 20);
}

TEST_F(IOTest, HeaderTagsThatDoNotMatchAbortAndLeaveTheStreamAlone) {
  io.StreamHeaders = true;
  const char data[] = "XXXX\0\0\0\0\x10\0\0\0 some bytes after it";
  TMemoryStream s(data, sizeof data);
  s.SetPosition(0);
  io.LoadFromStreamPCX(s);
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(s.Position(), 0);
  io.LoadFromStreamTIFF(s);
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(bmp.Width(), 3);
}

TEST_F(IOTest, FramedLengthsPastTheEndStopAtTheEnd) {
  bmp = VXMakeSampleImage(16, 16);
  io.StreamHeaders = true;
  for (int type : {ioJPEG, ioPCX}) {
    TMemoryStream s;
    io.SaveToStream(s, type);
    ASSERT_FALSE(io.Aborting);
    s.Memory()[11] = 0x7F;  // about two gigabytes claimed
    s.SetPosition(0);
    TBitmap back;
    TVexaIO reader;
    reader.StreamHeaders = true;
    reader.SetAttachedBitmap(&back);
    reader.LoadFromStream(s);
    EXPECT_FALSE(reader.Aborting) << type;
    EXPECT_EQ(back.Width(), 16) << type;
    EXPECT_EQ(s.Position(), s.Size()) << type;
  }
}

TEST_F(IOTest, TiffStreamHeaderRoundTrip) {
  bmp = VXMakeSampleImage(16, 12);
  io.StreamHeaders = true;
  TMemoryStream s;
  s.WriteBuffer("lead", 4);  // the image need not start the stream
  io.SaveToStream(s, ioTIFF);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(std::memcmp(s.Memory() + 4, "TIFF\0\0\0\0", 8), 0);
  int64_t end = s.Size();
  s.SetPosition(4);
  TBitmap back;
  TVexaIO reader;
  reader.StreamHeaders = true;
  reader.SetAttachedBitmap(&back);
  reader.LoadFromStream(s);
  EXPECT_FALSE(reader.Aborting);
  EXPECT_EQ(back.Width(), 16);
  EXPECT_EQ(s.Position(), end);
}

// ---------------------------------------------------------------------------
// Saving converts, parameters read alone

TEST_F(IOTest, SavingAPaletteBitmapConvertsTheCallersBitmapTo24Bit) {
  bmp = VXMakeSampleImage(10, 8);
  bmp.SetPixelFormat(pf8bit);
  TRGB before = bmp.GetPixel(3, 3);
  io.SaveToFile(dir / "p.bmp");
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(bmp.PixelFormat(), pf24bit);
  EXPECT_EQ(bmp.GetPixel(3, 3), before);
  EXPECT_EQ(FindFileFormat(dir / "p.bmp", true), ioBMP);
}

TEST_F(IOTest, ParamsFromFileReadsTheHeaderOnly) {
  std::string png = TestData(kPng);
  VEXA_REQUIRE_FILE(png);
  // A flag left set by an earlier parameter read must not stop this one.
  *nullpr.Aborting = true;
  io.ParamsFromFile(png);
  EXPECT_EQ(io.Params.FileType, ioPNG);
  EXPECT_EQ(io.Params.Width, 32);
  EXPECT_EQ(io.Params.FileName, png);
  EXPECT_EQ(bmp.Width(), 3);

  io.ParamsFromFile(dir / "missing.png");
  EXPECT_EQ(io.Params.FileType, ioUnknown);
  EXPECT_EQ(io.Params.FileName, dir / "missing.png");

  TMemoryStream s;
  s.LoadFromFile(png);
  io.Params.FileName = "kept";
  io.ParamsFromStream(s);
  EXPECT_EQ(io.Params.FileType, ioPNG);
  EXPECT_EQ(io.Params.FileName, "kept");
}

TEST_F(IOTest, ParamsFromFileRefusesAMisnamedFile) {
  std::string gif = dir.Copy(kPng, "image.gif");
  VEXA_REQUIRE_FILE(gif);
  io.ParamsFromFile(gif);
  EXPECT_EQ(io.Params.FileType, ioUnknown);
}

TEST_F(IOTest, AssignParamsAcceptsComponentsAndRecordsOnly) {
  TVexaIO other;
  other.Params.JPEG_Quality = 91;
  EXPECT_TRUE(io.AssignParams(&other));
  EXPECT_EQ(io.Params.JPEG_Quality, 91);
  TIOParamsVals rec;
  rec.JPEG_Quality = 12;
  EXPECT_TRUE(io.AssignParams(&rec));
  EXPECT_EQ(io.Params.JPEG_Quality, 12);
  EXPECT_FALSE(io.AssignParams(&bmp));
  EXPECT_FALSE(io.AssignParams(nullptr));
}

// ---------------------------------------------------------------------------
// Metafiles

TEST_F(IOTest, ImportMetafileWithAZeroSideDoesNothing) {
  std::string wmf = dir / "a.wmf";
  WriteFileBytes(wmf, MakeWmf({}, true, 0, 0, 400, 100));
  io.Aborting = true;
  io.ImportMetafile(wmf, 0, 100);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(bmp.Width(), 3);
  io.ImportMetafile(dir / "missing.wmf", 100, 0);  // not even opened
  EXPECT_FALSE(io.Aborting);
}

TEST_F(IOTest, ImportMetafileLimitsTheLongerSideThenTrimsOnePixel) {
  std::string wmf = dir / "wide.wmf";
  WriteFileBytes(wmf, MakeWmf({}, true, 0, 0, 4000, 1000, 96));
  io.ImportMetafile(wmf, -1, -1);
  EXPECT_FALSE(io.Aborting);
  EXPECT_EQ(bmp.Width(), 2799);
  EXPECT_EQ(bmp.Height(), 699);
  EXPECT_EQ(io.Params.FileType, ioWMF);
  EXPECT_EQ(io.Params.Width, 2799);
  EXPECT_EQ(io.Params.DpiX, gSystemDPIX);
}

TEST_F(IOTest, ImportMetafileKeepsTheRatioWhenOneSideIsGivenAndDraws) {
  std::string emf = dir / "pic.emf";
  // Frame of 4 x 2 inches; a red rectangle over the left half.
  WriteFileBytes(emf, MakeEmf({EmfRec(39, {1, 0, 0x0000FF, 0}), EmfRec(37, {1}), EmfRec(43, {0, 0, 192, 192})}, 10160,
                         5080));
  io.SetBackground(clWhite);
  io.LoadFromFile(emf);  // own size: 384 x 192
  EXPECT_EQ(io.Params.FileType, ioEMF);
  EXPECT_EQ(bmp.Width(), 383);
  io.ImportMetafile(emf, -1, 101);  // width from the ratio: 202
  EXPECT_EQ(bmp.Width(), 201);
  EXPECT_EQ(bmp.Height(), 100);
  EXPECT_EQ(bmp.GetPixel(20, 20), (TRGB{0, 0, 255}));
  EXPECT_EQ(bmp.GetPixel(180, 50), (TRGB{255, 255, 255}));
}

TEST_F(IOTest, ImportOfSomethingElseAborts) {
  std::string bad = dir.Copy(kPng, "fake.wmf");
  VEXA_REQUIRE_FILE(bad);
  io.LoadFromFile(bad);
  EXPECT_TRUE(io.Aborting);
  EXPECT_EQ(bmp.Width(), 3);
}

// ---------------------------------------------------------------------------
// Attaching

TEST(IOAttach, ViewGivesItsBitmapAndItsReplacements) {
  TTestView view;
  TVexaIO io;
  io.SetAttachedVexa(&view);
  EXPECT_EQ(io.AttachedBitmap(), view.GetFBitmap());
  EXPECT_EQ(view.BitmapChangeEventCount(), 1);
  view.ReplaceBitmap();
  EXPECT_EQ(io.AttachedBitmap(), view.GetFBitmap());
  io.SetAttachedVexa(&view);  // again: still one registration
  EXPECT_EQ(view.BitmapChangeEventCount(), 1);
  io.SetAttachedVexa(nullptr);  // keeps the bitmap, stops listening
  EXPECT_EQ(view.BitmapChangeEventCount(), 0);
  EXPECT_EQ(io.AttachedBitmap(), view.GetFBitmap());
}

TEST(IOAttach, FreedViewOrImageIsForgottenWithItsBitmap) {
  TVexaIO io;
  auto* view = new TTestView;
  io.SetAttachedVexa(view);
  delete view;
  EXPECT_EQ(io.AttachedVexa(), nullptr);
  EXPECT_EQ(io.AttachedBitmap(), nullptr);

  auto* image = new TImage;
  io.SetAttachedTImage(image);
  EXPECT_EQ(io.AttachedBitmap(), &image->PictureBitmap());
  delete image;
  EXPECT_EQ(io.AttachedTImage(), nullptr);
  EXPECT_EQ(io.AttachedBitmap(), nullptr);

  // Detached with null, the bitmap is still the view's: forget it when the view goes.
  view = new TTestView;
  io.SetAttachedVexa(view);
  io.SetAttachedVexa(nullptr);
  delete view;
  EXPECT_EQ(io.AttachedBitmap(), nullptr);
}

TEST(IOAttach, ComponentFreedFirstUnregistersFromTheView) {
  TTestView view;
  auto* io = new TVexaIO;
  io->SetAttachedVexa(&view);
  delete io;
  EXPECT_EQ(view.BitmapChangeEventCount(), 0);
  view.ReplaceBitmap();  // nobody left to call
}

TEST(IOAttach, ImageAndBitmapDetachEachOther) {
  TTestView view;
  TImage image;
  TBitmap bare;
  TVexaIO io;
  io.SetAttachedVexa(&view);
  io.SetAttachedTImage(&image);
  EXPECT_EQ(io.AttachedVexa(), nullptr);
  EXPECT_EQ(view.BitmapChangeEventCount(), 0);
  io.SetAttachedBitmap(nullptr);  // an image is attached: nothing changes
  EXPECT_EQ(io.AttachedTImage(), &image);
  EXPECT_EQ(io.AttachedBitmap(), &image.PictureBitmap());
  io.SetAttachedBitmap(&bare);
  EXPECT_EQ(io.AttachedTImage(), nullptr);
  EXPECT_EQ(io.AttachedBitmap(), &bare);
  io.SetAttachedVexa(&view);
  io.SetAttachedBitmap(&bare);
  EXPECT_EQ(io.AttachedVexa(), nullptr);
  EXPECT_EQ(view.BitmapChangeEventCount(), 0);
}

TEST(IOAttach, BackgroundIsTheViewsWhileOneIsAttached) {
  TTestView view;
  TVexaIO io;
  io.SetBackground(clRed);
  io.SetAttachedVexa(&view);
  io.SetBackground(clBlue);
  EXPECT_EQ(view.Background(), clBlue);
  io.SetAttachedVexa(nullptr);
  EXPECT_EQ(io.Background(), clRed);
}

TEST(IOAttach, LoadingRefreshesTheViewAndSetsItsResolution) {
  std::string bmpFile = TestData(kBmp);
  VEXA_REQUIRE_FILE(bmpFile);
  TTestView view;
  TVexaIO io;
  io.SetAttachedVexa(&view);
  io.LoadFromFile(bmpFile);
  ASSERT_FALSE(io.Aborting);
  EXPECT_EQ(view.GetFBitmap()->Width(), 127);
  EXPECT_EQ(view.Updates, 1);
  EXPECT_EQ(view.ImageChanges, 1);
  EXPECT_EQ(view.DPIX(), 72);

  // BMP streams leave the view's resolution alone.
  view.SetDPI(300, 300);
  TFileStream f(bmpFile, fmOpenRead);
  io.LoadFromStream(f);
  EXPECT_EQ(view.DPIX(), 300);
  EXPECT_EQ(view.Updates, 2);
}

TEST(IOAttach, BareBitmapIsMarkedModifiedAndClearUsesTheBackground) {
  TBitmap bmp(4, 4, pf24bit);
  int changes = 0;
  bmp.OnChange = [&](TBitmap&) { ++changes; };
  TVexaIO io;
  io.SetAttachedBitmap(&bmp);
  io.SetBackground(clLime);
  io.Clear();
  EXPECT_EQ(bmp.GetPixel(3, 3), (TRGB{0, 255, 0}));
  io.Update();
  EXPECT_TRUE(bmp.Modified);
  EXPECT_EQ(changes, 1);
}
