#include "vexa/mview/vexamview_ui.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListWidget>
#include <QScrollBar>
#include <QSpinBox>

#include "vexa/acquire/avidialog_ui.h"
#include "vexa/mview/vexamio.h"
#include "view/ui_test_util_ui.h"

using namespace vexa;
using namespace vexa::test;

namespace {

TBitmap Solid(int w, int h, TRGB c) {
  TBitmap b(w, h, pf24bit);
  b.Fill(c);
  return b;
}

const TRGB kRed{0, 0, 255}, kGreen{0, 200, 0}, kBlue{255, 0, 0};

QRgb Rgb(TRGB c) { return qRgb(c.r, c.g, c.b); }

class MView : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    view = std::make_unique<TVexaMView>();
    view->resize(330, 220);
    view->SetBackGround(clWhite);
    view->SetGridWidth(-1);
  }
  void Add(TRGB c, int w = 100, int h = 50) { view->SetImage(view->AppendImage(), Solid(w, h, c)); }
  void Key(int key) {
    QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(view.get(), &e);
  }
  std::unique_ptr<TVexaMView> view;
};

TEST_F(MView, CellsShowTheirPicturesFittedWithTheSelectionFramed) {
  Add(kRed);
  Add(kGreen);
  Add(kBlue, 50, 100);
  view->SetSelectedItem(1);
  EXPECT_EQ(view->ClientWidth(), 330);
  QImage img = view->RenderClient();
  // 100 x 50 fits the 100 x 100 cell centred vertically: rows 29..78 of cell 0 (top 4).
  EXPECT_EQ(img.pixel(54, 54), Rgb(kRed));
  EXPECT_EQ(img.pixel(54, 20), qRgb(255, 255, 255));
  EXPECT_EQ(img.pixel(158, 54), Rgb(kGreen));
  // The tall one is centred horizontally: columns 25..74 of cell 2 (left 212).
  EXPECT_EQ(img.pixel(212 + 50, 90), Rgb(kBlue));
  EXPECT_EQ(img.pixel(212 + 10, 90), qRgb(255, 255, 255));
  // Without the focus the frame is one pixel wide, just outside cell 1 (left 108).
  EXPECT_EQ(img.pixel(107, 50), qRgb(255, 0, 0));
  EXPECT_EQ(img.pixel(106, 50), qRgb(255, 255, 255));
  EXPECT_EQ(img.pixel(2, 2), qRgb(255, 255, 255));
}

TEST_F(MView, ImageBackgroundFillsTheStripsWhenAsked) {
  Add(kRed);
  view->SetImageBackground(0, clYellow);
  EXPECT_EQ(view->RenderClient().pixel(54, 10), qRgb(255, 255, 255));
  view->SetDrawImageBackground(true);
  EXPECT_EQ(view->RenderClient().pixel(54, 10), qRgb(255, 255, 0));
}

TEST_F(MView, OnImageDrawSeesEveryVisibleCell) {
  for (int i = 0; i < 4; ++i) Add(kRed);
  std::vector<std::pair<int, int>> cells;
  view->OnImageDraw = [&](TObject*, int idx, int left, int top, TCanvas& canvas) {
    cells.push_back({idx, left * 1000 + top});
    canvas.Pen.Color = clBlack;
    canvas.MoveTo(left, top);
    canvas.LineTo(left + 10, top);
  };
  QImage img = view->RenderClient();
  EXPECT_EQ(cells, (std::vector<std::pair<int, int>>{{0, 4004}, {1, 108004}, {2, 212004}, {3, 4108}}));
  EXPECT_EQ(img.pixel(5, 4), qRgb(0, 0, 0));
}

TEST_F(MView, ClickSelectsAndKeysMove) {
  for (int i = 0; i < 9; ++i) Add(kGreen);
  int selected = -1;
  view->OnImageSelect = [&](TObject*, int idx) { selected = idx; };
  Click(*view, 150, 150);  // column 1, row 1
  EXPECT_EQ(view->SelectedImage(), 4);
  EXPECT_EQ(selected, 4);
  Key(Qt::Key_Right);
  EXPECT_EQ(view->SelectedImage(), 5);
  Key(Qt::Key_Up);
  EXPECT_EQ(view->SelectedImage(), 2);
  Key(Qt::Key_End);
  EXPECT_EQ(view->SelectedImage(), 8);
  EXPECT_EQ(view->GetImageVisibility(8), 2);
  Click(*view, 2, 2);  // a border: no change
  EXPECT_EQ(view->SelectedImage(), 8);
}

TEST_F(MView, ScrollBarsAndDraggingMoveTheOrigin) {
  for (int i = 0; i < 30; ++i) Add(kGreen);
  view->SetScrollBars(ssVertical);
  const int extent = view->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  EXPECT_EQ(view->ClientWidth(), 330 - extent);
  QScrollBar* bar = view->findChildren<QScrollBar*>()[1];
  ASSERT_TRUE(bar->isVisibleTo(view.get()));
  int mx, my;
  view->GetMaxViewXY(mx, my);
  EXPECT_EQ(bar->maximum(), my);
  bar->setValue(150);
  EXPECT_EQ(view->ViewY(), 150);
  view->MouseInteract = (1u << mmiScroll) | (1u << mmiSelect);
  Press(*view, 100, 100);
  Drag(*view, 100, 60);
  EXPECT_EQ(view->ViewY(), 190);
  Release(*view, 100, 40);
  EXPECT_EQ(view->ViewY(), 210);
  EXPECT_EQ(bar->value(), 210);
}

TEST_F(MView, PlaybackRunsOnTheTimerAndRestores) {
  for (int i = 0; i < 3; ++i) Add(kGreen);
  view->SetSelectedItem(1);
  view->SetPlaying(true);
  EXPECT_EQ(view->PlayInterval(), 10);  // delay 0: the 10 ms floor
  EXPECT_EQ(view->DisplayMode(), mdSingle);
  QElapsedTimer t;
  t.start();
  std::vector<int> frames{view->VisibleFrame()};
  while (t.elapsed() < 2000 && frames.size() < 4) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    if (view->VisibleFrame() != frames.back()) frames.push_back(view->VisibleFrame());
  }
  ASSERT_GE(frames.size(), 4u);
  EXPECT_EQ(frames[0], 1);
  EXPECT_EQ(frames[1], 2);
  EXPECT_EQ(frames[2], 0);  // wraps
  view->SetPlaying(false);
  EXPECT_EQ(view->SelectedImage(), 1);
  EXPECT_EQ(view->DisplayMode(), mdGrid);
}

TEST_F(MView, AMultiImageComponentWorksOnTheWidget) {
  TVexaMIO mio;
  mio.SetAttachedMView(view.get());
  Add(kRed);
  Add(kBlue);
  EXPECT_EQ(mio.GetParamsCount(), 2);
  view->DeleteImage(0);
  EXPECT_EQ(mio.GetParamsCount(), 1);
  view.reset();
  EXPECT_EQ(mio.AttachedMView(), nullptr);
}

TEST(AviOptionsForm, ListsTheEncodersAndReturnsTheChoice) {
  App();
  TVXAviOptions in;
  in.Encoder = "ffv1";
  in.Quality = 40;
  TVXAviOptionsForm form(in);
  EXPECT_EQ(form.windowTitle(), "compression options");
  ASSERT_EQ(form.EncoderList()->count(), static_cast<int>(VXAviEncoders().size()));
  EXPECT_EQ(form.Options(), in);
  EXPECT_FALSE(form.QualityBox()->isEnabled());  // FFV1 is exact
  for (int i = 0; i < form.EncoderList()->count(); ++i)
    if (form.EncoderList()->item(i)->data(Qt::UserRole).toString() == "mjpeg") form.EncoderList()->setCurrentRow(i);
  EXPECT_TRUE(form.QualityBox()->isEnabled());
  EXPECT_EQ(form.Options().Encoder, "mjpeg");
}

}  // namespace
