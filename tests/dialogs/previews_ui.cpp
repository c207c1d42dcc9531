// The processing preview dialog and TVexaProc::DoPreviews: refusals, pages on
// offer, live update, write-back through the selection.
#include "vexa/dialogs/previews_ui.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <functional>

#include "support/fixtures.h"
#include "view/ui_test_util_ui.h"
#include "vexa/controls/histogrambox_ui.h"
#include "vexa/controls/hsvbox_ui.h"
#include "vexa/controls/rulerbox_ui.h"
#include "vexa/dialogs/dialogwidgets_ui.h"
#include "vexa/dialogs/previewdialogs_ui.h"
#include "vexa/legacy/vexa_ui.h"
#include "vexa/proc/bitmaputil.h"

using namespace vexa;

namespace {

TBitmap Gradient(int w, int h) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, CreateRGB(uint8_t(x * 4), uint8_t(y * 4), 100));
  return b;
}

struct Previews : ::testing::Test {
  void SetUp() override {
    vexa::test::App();
    VXInstallPreviewDialogs();
  }
  // Runs `act` on the form once it is showing (the modal loop is running then).
  static void WhenShown(TVexaProc& proc, std::function<void(TfPreviews&)> act, int* shown = nullptr) {
    proc.OnPreview = [act, shown](TObject*, TComponent* form) {
      auto* f = dynamic_cast<TfPreviews*>(form);
      ASSERT_NE(f, nullptr);
      if (shown) ++*shown;
      QTimer::singleShot(0, f, [f, act] { act(*f); });
    };
  }
  static void Slide(TfPreviews& f, const char* name, int v) {
    auto* t = f.findChild<TVXTrackEdit*>(name);
    ASSERT_NE(t, nullptr) << name;
    t->Slider()->setValue(v);
  }
  static void Press(TfPreviews& f, const char* name) {
    auto* b = f.findChild<QPushButton*>(name);
    ASSERT_NE(b, nullptr) << name;
    b->click();
  }
};

// Acts on the next modal widget of type T once it shows (a file dialog, a message box).
template <class T>
void WhenModal(std::function<void(T&)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      act(*w);
    }
  });
  timer->start();
}

struct Refusal {
  const char* Name;
  int W, H;
  TPixelFormat Pf;
};

class PreviewsRefuse : public Previews, public ::testing::WithParamInterface<Refusal> {};

TEST_P(PreviewsRefuse, WithoutShowingTheForm) {
  TVexa w;
  w.Bitmap().Allocate(GetParam().W, GetParam().H, GetParam().Pf);
  w.Update();
  int shown = 0;
  WhenShown(w.Proc(), [](TfPreviews& f) { f.accept(); }, &shown);
  EXPECT_FALSE(w.DoPreviews(VXPE(peAll)));
  EXPECT_EQ(shown, 0);
}

INSTANTIATE_TEST_SUITE_P(Images, PreviewsRefuse,
                         ::testing::Values(Refusal{"OneBit", 16, 16, pf1bit}, Refusal{"OneByOne", 1, 1, pf24bit},
                                           Refusal{"OnePixelWide", 1, 20, pf24bit},
                                           Refusal{"OnePixelHigh", 20, 1, pf24bit}),
                         [](const auto& i) { return std::string(i.param.Name); });

TEST_F(Previews, NoDialogLayerMeansFalseAndNothingChanges) {
  TVexa w;
  w.Bitmap() = Gradient(8, 8);
  VXSetPreviewService(nullptr);
  int shown = 0;
  WhenShown(w.Proc(), [](TfPreviews& f) { f.accept(); }, &shown);
  EXPECT_FALSE(w.DoPreviews(VXPE(peAll)));
  VXInstallPreviewDialogs();
  EXPECT_EQ(shown, 0);
}

TEST_F(Previews, OnlyTheLensPageIsOfferedAndActive) {
  TVexa w;
  w.Bitmap() = Gradient(40, 30);
  const TBitmap before = w.Bitmap();
  int visible = -1;
  TPreviewEffectsItems active = peAll;
  WhenShown(w.Proc(), [&](TfPreviews& f) {
    visible = 0;
    for (int i = 0; i < f.Pages()->count(); ++i) visible += f.Pages()->isTabVisible(i);
    active = f.ActivePage();
    EXPECT_EQ(f.Pages()->tabText(f.Pages()->currentIndex()), "Lens");
    Press(f, "cancel");
  });
  EXPECT_FALSE(w.DoPreviews(VXPE(peLens)));
  EXPECT_EQ(visible, 1);
  EXPECT_EQ(active, peLens);
  EXPECT_TRUE(_BitmapCompareX(before, w.Bitmap())) << "Cancel changed the image";
}

TEST_F(Previews, LivePreviewStartsFromTheCopyEveryTime) {
  TfPreviews f;
  f.SetImage(Gradient(40, 30));
  f.SetEffects(VXPE(peRGB));
  f.SetLockPreview(true);
  f.show();
  QApplication::processEvents();
  ASSERT_EQ(f.ActivePage(), peRGB);
  const TBitmap original = f.Vexa2()->Bitmap();
  Slide(f, "red", 40);
  const TBitmap once = f.Vexa2()->Bitmap();
  EXPECT_FALSE(_BitmapCompareX(original, once)) << "moving the slider did not update the result";
  Slide(f, "red", 10);
  Slide(f, "red", 40);
  EXPECT_TRUE(_BitmapCompareX(once, f.Vexa2()->Bitmap())) << "the result accumulated";
  // An edit that does not parse reads as 0: back to the copy.
  auto* edit = f.findChild<TVXTrackEdit*>("red")->Edit();
  edit->setText("x");
  emit edit->textEdited("x");
  EXPECT_TRUE(_BitmapCompareX(original, f.Vexa2()->Bitmap()));
  f.reject();
}

TEST_F(Previews, UnlockedPreviewWaitsForThePreviewButton) {
  TfPreviews f;
  f.SetImage(Gradient(40, 30));
  f.SetEffects(VXPE(peContrast));
  f.show();
  QApplication::processEvents();
  const TBitmap original = f.Vexa2()->Bitmap();
  Slide(f, "brightness", 50);
  EXPECT_TRUE(_BitmapCompareX(original, f.Vexa2()->Bitmap()));
  Press(f, "preview");
  EXPECT_FALSE(_BitmapCompareX(original, f.Vexa2()->Bitmap()));
  f.reject();
}

TEST_F(Previews, OkWithARectangleWritesBackOnlyThatArea) {
  TVexa w;
  w.resize(200, 200);
  w.Bitmap() = Gradient(40, 30);
  w.Update();
  w.Select(10, 5, 19, 14);
  const TBitmap before = w.Bitmap();
  WhenShown(w.Proc(), [](TfPreviews& f) {
    Slide(f, "blue", 100);
    Press(f, "ok");
  });
  ASSERT_TRUE(w.DoPreviews(VXPE(peRGB)));
  const TBitmap& after = w.Bitmap();
  ASSERT_EQ(after.Width(), 40);
  ASSERT_EQ(after.Height(), 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool inside = x >= 10 && x <= 19 && y >= 5 && y <= 14;
      const TRGB b = before.GetPixel(x, y), a = after.GetPixel(x, y);
      if (inside)
        ASSERT_EQ(a.b, 200) << x << "," << y;
      else
        ASSERT_EQ(a, b) << x << "," << y;
    }
  EXPECT_TRUE(w.CanUndo());
}

TEST_F(Previews, ChainingThenOkAppliesBothAndRotationResizesTheImage) {
  TVexa w;
  w.Bitmap() = Gradient(40, 20);
  WhenShown(w.Proc(), [](TfPreviews& f) {
    f.SetActivePage(peRGB);
    Slide(f, "green", 30);
    Press(f, "copyResultToSource");
    EXPECT_EQ(f.State().Green, 0) << "<< starts the pages afresh";
    f.SetActivePage(peRotate);
    Slide(f, "angle", 90);
    Press(f, "ok");
  });
  ASSERT_TRUE(w.DoPreviews(VXPE(peAll)));
  EXPECT_EQ(w.Bitmap().Width(), 20);
  EXPECT_EQ(w.Bitmap().Height(), 40);
}

TEST_F(Previews, ClickingTheResultMovesTheLensToTheSourcePixel) {
  TfPreviews f;
  f.SetImage(Gradient(400, 300));
  f.SetEffects(VXPE(peLens));
  f.show();
  QApplication::processEvents();
  f.Vexa1()->SetZoom(200);
  f.Vexa1()->SetViewXY(100, 60);
  QApplication::processEvents();
  const TVXPreviewMap m = f.Map();
  ASSERT_EQ(m.Zoom, 200);
  TVexa& r = *f.Vexa2();
  r.SetBorderStyle(bsNone);  // widget and client coordinates coincide
  QApplication::processEvents();
  const int cx = r.XBmp2Scr(30), cy = r.YBmp2Scr(20);
  vexa::test::Click(r, cx, cy);
  EXPECT_EQ(f.State().LensX, (30 + m.ViewX) * 100 / 200);
  EXPECT_EQ(f.State().LensY, (20 + m.ViewY) * 100 / 200);
  f.reject();
}

TEST_F(Previews, PresetsLoadTheirKernelIntoTheEdits) {
  TfPreviews f;
  f.SetImage(Gradient(20, 20));
  f.SetEffects(VXPE(peUserFilt));
  f.show();
  QApplication::processEvents();
  EXPECT_EQ(f.findChild<QLineEdit*>("kernel4")->text(), "1");
  EXPECT_EQ(f.findChild<QLineEdit*>("divisor")->text(), "0");
  auto* presets = f.findChild<QComboBox*>("presets");
  ASSERT_EQ(presets->count(), 9);
  EXPECT_EQ(presets->itemText(4), "High Pass 1");
  presets->setCurrentIndex(fpEdge);
  emit presets->activated(fpEdge);
  EXPECT_EQ(f.findChild<QLineEdit*>("kernel4")->text(), "-8");
  EXPECT_EQ(f.State().Filter, VXFiltPres[fpEdge]);
  f.reject();
}

TEST_F(Previews, EqualizationGripsDragEachOtherAlong) {
  TfPreviews f;
  f.SetImage(Gradient(20, 20));
  f.SetEffects(VXPE(peEqualize));
  f.show();
  QApplication::processEvents();
  auto* ruler = f.findChild<TRulerBox*>("thresholdRuler");
  ASSERT_NE(ruler, nullptr);
  ruler->SetGripsPos(1, 100);
  ruler->SetGripsPos(0, 180);
  EXPECT_EQ(ruler->GripsPos(1), 180);
  EXPECT_EQ(f.State().ThresholdLow, (TRGB{180, 180, 180})) << "grey sets every channel";
  EXPECT_EQ(f.State().ThresholdHigh, (TRGB{180, 180, 180}));

  // Both rulers sit under the histogram's plot, 0 and 255 at its ends, at any size.
  auto* plot = f.findChild<THistogramBox*>("histogram");
  auto* second = f.findChild<TRulerBox*>("equalizeRuler");
  for (const int width : {0, 900}) {
    if (width) f.resize(width, f.height());
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    SCOPED_TRACE(width);
    EXPECT_GT(plot->HistogramXPos(), plot->x()) << "the plot starts after the count labels";
    for (TRulerBox* r : {ruler, second}) {
      EXPECT_EQ(r->x(), plot->HistogramXPos());
      EXPECT_EQ(r->width(), plot->HistogramPlotWidth());
      r->SetGripsPos(0, 0);
      r->SetGripsPos(1, 255);
      EXPECT_EQ(r->GetXGripPos(0), 0);
      EXPECT_NEAR(r->GetXGripPos(1), r->width(), 1);
    }
  }
  f.reject();
}

TEST_F(Previews, FftZoneIsClearedFromTheWholeImageOnOk) {
  // Vertical stripes two pixels apart: all their energy sits in the spectrum's
  // leftmost column, which the zone below covers.
  TVexa w;
  TBitmap b(64, 64, pf24bit);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) b.SetPixel(x, y, x % 2 ? CreateRGB(220, 220, 220) : CreateRGB(40, 40, 40));
  w.Bitmap() = b;
  auto ripple = [](const TBitmap& bmp) {
    double sum = 0;
    for (int y = 0; y < bmp.Height(); ++y)
      for (int x = 0; x + 1 < bmp.Width(); ++x) sum += std::abs(bmp.GetPixel(x, y).g - bmp.GetPixel(x + 1, y).g);
    return sum / (bmp.Height() * (bmp.Width() - 1));
  };
  WhenShown(w.Proc(), [](TfPreviews& f) {
    auto* spectrum = f.findChild<TVexaView*>("fftView");
    ASSERT_NE(spectrum, nullptr);
    ASSERT_GT(spectrum->Bitmap().Width(), 0) << "the spectrum is shown";
    spectrum->VXSelectBitmap(0, 0, 8, spectrum->Bitmap().Height() - 1, vxspReplace);
    Press(f, "ok");
  });
  ASSERT_TRUE(w.DoPreviews(VXPE(peFFT)));
  EXPECT_GT(ripple(b), 150);
  EXPECT_LT(ripple(w.Bitmap()), 30);
}

// Saving writes the kernel the edits hold; loading brings it back into the edits
// and the state; a folder nobody may write to and a file that is no filter are
// reported and change nothing.
TEST_F(Previews, UserFilterFilesRoundTripAndAFailedSaveIsReported) {
  vexa::test::TScratchDir dir;
  TfPreviews f;
  f.SetImage(Gradient(20, 20));
  f.SetEffects(VXPE(peUserFilt));
  f.show();
  QApplication::processEvents();
  const int kernel[9] = {1, 2, 1, 0, 5, 0, -1, -2, -1};
  auto edit = [&](const QString& name) { return f.findChild<QLineEdit*>(name); };
  for (int i = 0; i < 9; ++i) {
    edit(QString("kernel%1").arg(i))->setText(QString::number(kernel[i]));
    emit edit(QString("kernel%1").arg(i))->textEdited(QString::number(kernel[i]));
  }
  edit("divisor")->setText("3");
  emit edit("divisor")->textEdited("3");
  const TGraphFilter mine = f.State().Filter;
  ASSERT_EQ(mine.Divisor, 3);

  const std::string saved = dir / "mine.flt";
  ASSERT_TRUE(f.SaveFilterFile(saved));
  EXPECT_EQ(LoadFilterFromFile(saved), mine);

  auto* presets = f.findChild<QComboBox*>("presets");
  emit presets->activated(fpNone);
  ASSERT_EQ(edit("kernel0")->text(), "0");
  ASSERT_TRUE(f.LoadFilterFile(saved));
  for (int i = 0; i < 9; ++i) EXPECT_EQ(edit(QString("kernel%1").arg(i))->text(), QString::number(kernel[i])) << i;
  EXPECT_EQ(edit("divisor")->text(), "3");
  EXPECT_EQ(f.State().Filter, mine);

  QString told;
  auto answer = [&] {
    WhenModal<QMessageBox>([&](QMessageBox& box) {
      told = box.text();
      box.accept();
    });
  };
  answer();
  EXPECT_FALSE(f.SaveFilterFile("/sys/vexa-preview-test.flt"));
  EXPECT_TRUE(told.startsWith("/sys/vexa-preview-test.flt: ")) << told.toStdString();
  // A file that is not a filter leaves the kernel as it was.
  const std::string junk = dir / "junk.flt";
  vexa::test::WriteFileBytes(junk, {7, 7});
  answer();
  EXPECT_FALSE(f.LoadFilterFile(junk));
  EXPECT_TRUE(told.startsWith(QString::fromStdString(junk))) << told.toStdString();
  EXPECT_EQ(f.State().Filter, mine);
  EXPECT_TRUE(f.isVisible());
  f.reject();
}

// On the HSV page a click in the result picks the colour under the mouse as the
// base colour; the track bars then hold the new colour less the base, the hue
// the shorter way round the circle.
TEST_F(Previews, ClickingTheResultOnTheHsvPagePicksTheBaseColour) {
  TBitmap two(40, 20, pf24bit);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) two.SetPixel(x, y, x < 20 ? CreateRGB(200, 60, 40) : CreateRGB(30, 90, 220));
  TfPreviews f;
  f.SetImage(two);
  f.SetEffects(VXPE(peHSV));
  f.show();
  QApplication::processEvents();
  TVexa& r = *f.Vexa2();
  r.SetBorderStyle(bsNone);
  QApplication::processEvents();
  auto* base = f.findChild<THSVBox*>("baseColor");
  auto* fresh = f.findChild<THSVBox*>("newColor");
  ASSERT_TRUE(base && fresh);
  const int w = r.Bitmap().Width(), y = r.Bitmap().Height() / 2;
  for (const int x : {w / 4, w * 3 / 4}) {
    SCOPED_TRACE(x);
    const TRGB under = r.Bitmap().GetPixel(x, y);
    vexa::test::Click(r, r.XBmp2Scr(x), r.YBmp2Scr(y));
    EXPECT_EQ(CreateRGB(base->Red(), base->Green(), base->Blue()), under);
    // Hue goes round: the track holds the shorter way.
    EXPECT_EQ(f.findChild<TVXTrackEdit*>("hsvHue")->Value(), (fresh->Hue() - base->Hue() + 540) % 360 - 180);
    EXPECT_EQ(f.State().HsvHue, f.findChild<TVXTrackEdit*>("hsvHue")->Value());
    EXPECT_EQ(f.State().HsvVal, fresh->Val() - base->Val());
  }
  EXPECT_GT(base->Blue(), base->Red()) << "the second pick is the blue half";
  f.reject();
}

}  // namespace
