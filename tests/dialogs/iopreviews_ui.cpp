// The save-parameters dialog and the DoPreviews of the I/O components.
#include "vexa/dialogs/iopreviews_ui.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <cmath>
#include <functional>
#include <set>
#include <tuple>

#include "view/ui_test_util_ui.h"
#include "vexa/codecs/lzw.h"
#include "vexa/dialogs/dialogwidgets_ui.h"
#include "vexa/dialogs/previewdialogs_ui.h"
#include "vexa/io/paramfields.h"
#include "vexa/legacy/vexa_ui.h"
#include "vexa/mview/vexamio.h"

using namespace vexa;

namespace {

// Smooth shading with a gentle ripple: no edges of its own for JPEG blocks to hide behind.
TBitmap Shading(int w, int h) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double v = 127 + 60 * std::sin(x / 9.0) * std::cos(y / 11.0);
      b.SetPixel(x, y, CreateRGB(uint8_t(v), uint8_t(x * 2), uint8_t(255 - y * 2)));
    }
  return b;
}

// Mean step across the 8-pixel block borders over the mean step inside blocks.
double Blockiness(const TBitmap& b) {
  double border = 0, inside = 0;
  int nb = 0, ni = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x + 1 < b.Width(); ++x) {
      const double d = std::abs(int(b.GetPixel(x, y).g) - int(b.GetPixel(x + 1, y).g));
      if (x % 8 == 7) border += d, ++nb;
      else inside += d, ++ni;
    }
  return (border / nb) / (inside / ni + 1e-9);
}

std::vector<std::string> AllFields(const TIOParamsVals& p) {
  std::vector<std::string> out;
  for (const TVXParamField& f : VXParamFields()) out.push_back(std::string(f.Name) + "=" + VXParamGetText(p, f));
  return out;
}

struct IOPreviews : ::testing::Test {
  void SetUp() override {
    vexa::test::App();
    VXInstallPreviewDialogs();
    VXInstallLZWCoders();
  }
  static void Open(TfIOPreviews& f, TPreviewParams pages, const TBitmap& image, const TIOParamsVals& params = TIOParamsVals()) {
    f.SetParams(params);
    f.SetImage(image);
    ASSERT_TRUE(f.SetPages(pages));
    f.SetLockPreview(true);
    f.show();
    QApplication::processEvents();
  }
  template <class T>
  static T* Find(QWidget& f, const char* name) {
    T* w = f.findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  static void WhenShown(TVexaIO& io, std::function<void(TfIOPreviews&)> act, int* shown = nullptr) {
    io.OnIOPreview = [act, shown](TObject*, TComponent* form) {
      auto* f = dynamic_cast<TfIOPreviews*>(form);
      ASSERT_NE(f, nullptr);
      if (shown) ++*shown;
      QTimer::singleShot(0, f, [f, act] { act(*f); });
    };
  }
};

TEST_F(IOPreviews, JpegQualityChangesTheByteCountAndBlocksShowAtTen) {
  TfIOPreviews f;
  Open(f, VXPP(ppJPEG), Shading(128, 96));
  auto* quality = Find<TVXTrackEdit>(f, "jpegQuality");
  quality->Slider()->setValue(100);
  const int64_t best = f.CompressedSize();
  EXPECT_EQ(Find<QLabel>(f, "compressedSize")->text(), QString::number(best) + " bytes");
  const double smooth = Blockiness(f.Vexa2()->Bitmap());
  quality->Slider()->setValue(10);
  const int64_t worst = f.CompressedSize();
  EXPECT_EQ(Find<QLabel>(f, "compressedSize")->text(), QString::number(worst) + " bytes");
  EXPECT_LT(worst * 3, best) << "quality 10 should compress far more";
  ASSERT_EQ(f.Vexa2()->Bitmap().Width(), 128) << "the result is the JPEG read back";
  EXPECT_GT(Blockiness(f.Vexa2()->Bitmap()), 1.5 * smooth);
  f.reject();
}

TEST_F(IOPreviews, GifBlackAndWhiteGivesTwoColoursAndTwoPaletteEntries) {
  TfIOPreviews f;
  Open(f, VXPP(ppGIF), Shading(64, 48));
  Find<QComboBox>(f, "gifColours")->setCurrentIndex(0);
  EXPECT_EQ(f.Work().BitsPerSample, 1);
  EXPECT_GT(f.CompressedSize(), 0);
  TBitmap result = f.Vexa2()->Bitmap();
  if (result.PixelFormat() != pf24bit) result.SetPixelFormat(pf24bit);
  std::set<std::tuple<int, int, int>> colours;
  for (int y = 0; y < result.Height(); ++y)
    for (int x = 0; x < result.Width(); ++x) {
      const TRGB c = result.GetPixel(x, y);
      colours.insert({c.r, c.g, c.b});
    }
  EXPECT_EQ(colours.size(), 2u);
  EXPECT_EQ(f.PaletteEntriesOffered(), 2);
  f.reject();
}

TEST_F(IOPreviews, TiffCmykLocksTheColoursOnSixteenMillion) {
  TfIOPreviews f;
  TIOParamsVals p;
  p.BitsPerSample = 1;
  p.SamplesPerPixel = 1;
  Open(f, VXPP(ppTIFF), Shading(32, 32), p);
  auto* colours = Find<QComboBox>(f, "tiffColours");
  EXPECT_EQ(colours->currentText(), "B/W");
  Find<QComboBox>(f, "tiffPhotometric")->setCurrentIndex(ioTIFF_CMYK);
  EXPECT_EQ(colours->currentText(), "16M");
  EXPECT_FALSE(colours->isEnabled());
  EXPECT_EQ(f.Work().SamplesPerPixel, 3);
  Find<QComboBox>(f, "tiffPhotometric")->setCurrentIndex(ioTIFF_RGB);
  EXPECT_TRUE(colours->isEnabled());
  f.reject();
}

TEST_F(IOPreviews, CancelAfterSeveralPagesChangesNothing) {
  TVexa w;
  w.Bitmap() = Shading(40, 30);
  w.IOParams().JPEG_Quality = 77;
  const auto before = AllFields(w.IOParams());
  WhenShown(w.IO(), [](TfIOPreviews& f) {
    Find<TVXTrackEdit>(f, "jpegQuality")->Slider()->setValue(5);
    f.SetActivePage(ppGIF);
    Find<QComboBox>(f, "gifColours")->setCurrentIndex(0);
    f.SetActivePage(ppTIFF);
    Find<QComboBox>(f, "tiffCompression")->setCurrentIndex(ioTIFF_PACKBITS);
    Find<QPushButton>(f, "cancel")->click();
  });
  EXPECT_FALSE(w.DoIOPreviews(VXPP(ppALL)));
  EXPECT_EQ(AllFields(w.IOParams()), before);
}

TEST_F(IOPreviews, OkWritesOnlyTheActivePage) {
  TVexa w;
  w.Bitmap() = Shading(40, 30);
  WhenShown(w.IO(), [](TfIOPreviews& f) {
    Find<TVXTrackEdit>(f, "jpegQuality")->Slider()->setValue(5);
    f.SetActivePage(ppGIF);
    Find<QComboBox>(f, "gifColours")->setCurrentIndex(0);
    Find<QPushButton>(f, "ok")->click();
  });
  ASSERT_TRUE(w.DoIOPreviews(VXPP(ppALL)));
  EXPECT_EQ(w.IOParams().BitsPerSample, 1);
  EXPECT_EQ(w.IOParams().JPEG_Quality, TIOParamsVals().JPEG_Quality);
}

TEST_F(IOPreviews, AutoWithoutAPageForTheTypeShowsNothing) {
  TVexa w;
  w.Bitmap() = Shading(8, 8);
  w.IOParams().FileType = ioWMF;
  int shown = 0;
  WhenShown(w.IO(), [](TfIOPreviews& f) { f.accept(); }, &shown);
  EXPECT_FALSE(w.DoIOPreviews(VXPP(ppAUTO)));
  w.IOParams().FileType = ioPCX;
  WhenShown(w.IO(), [](TfIOPreviews& f) {
    EXPECT_EQ(f.ActivePage(), ppPCX);
    f.accept();
  }, &shown);
  EXPECT_TRUE(w.DoIOPreviews(VXPP(ppAUTO)));
  EXPECT_EQ(shown, 1);
}

TEST_F(IOPreviews, MultiImageEditsTheRecordOfOneImage) {
  TVXImageGrid grid;
  TVexaMIO mio;
  mio.SetAttachedMView(&grid);
  for (int i = 0; i < 2; ++i) grid.SetImage(grid.AppendImage(), Shading(20, 20));
  ASSERT_EQ(mio.GetParamsCount(), 2);
  int shown = 0;
  // The multi-image component has no OnIOPreview: answer the form from the event loop.
  QTimer::singleShot(0, [&] {
    auto* f = qobject_cast<TfIOPreviews*>(QApplication::activeModalWidget());
    ASSERT_NE(f, nullptr);
    ++shown;
    Find<QSpinBox>(*f, "gifDelay")->setValue(42);
    f->accept();
  });
  EXPECT_TRUE(mio.DoPreviews(1, VXPP(ppGIF)));
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(mio.GetParams(1)->GIF_DelayTime, 42);
  EXPECT_EQ(mio.GetParams(0)->GIF_DelayTime, 0);
  EXPECT_FALSE(mio.DoPreviews(5, VXPP(ppGIF)));
}

}  // namespace
