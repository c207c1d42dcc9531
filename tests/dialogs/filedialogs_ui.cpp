// The open and save dialogs: the preview panel over real files, the save
// dialog's advanced button and its undo on cancel.
#include "vexa/dialogs/filedialogs_ui.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <functional>
#include <set>

#include "support/fixtures.h"
#include "view/ui_test_util_ui.h"
#include "vexa/codecs/lzw.h"
#include "vexa/dialogs/dialogwidgets_ui.h"
#include "vexa/dialogs/iopreviews_ui.h"
#include "vexa/dialogs/previewdialogs_ui.h"
#include "vexa/legacy/vexa_ui.h"
#include "vexa/mview/vexamview_ui.h"

using namespace vexa;

namespace {

TBitmap Picture(int w, int h, int shade) {
  TBitmap b(w, h, pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, CreateRGB(uint8_t(x * 5 + shade), uint8_t(y * 7), 90));
  return b;
}

struct FileDialogs : ::testing::Test {
  void SetUp() override {
    vexa::test::App();
    VXInstallPreviewDialogs();
    VXInstallLZWCoders();
  }
  std::string SingleGif() {
    TVexaIO io;
    TBitmap b = Picture(30, 20, 0);
    io.SetAttachedBitmap(&b);
    const std::string name = FScratch / "one.gif";
    io.SaveToFileGif(name);
    return name;
  }
  std::string TwoPageTiff() {
    TVexaMView grid;
    TVexaMIO mio;
    mio.SetAttachedMView(&grid);
    grid.SetImage(grid.AppendImage(), Picture(24, 16, 0));
    grid.SetImage(grid.AppendImage(), Picture(24, 16, 60));
    const std::string name = FScratch / "two.tif";
    mio.SaveToFileTIFF(name);
    return name;
  }
  std::string ThreeFrameGif() {
    TVexaMView grid;
    TVexaMIO mio;
    mio.SetAttachedMView(&grid);
    for (int shade : {0, 80, 160}) grid.SetImage(grid.AppendImage(), Picture(20, 16, shade));
    for (int i = 0; i < 3; ++i) grid.SetImageDelayTime(i, 20);
    const std::string name = FScratch / "three.gif";
    mio.SaveToFileGif(name);
    return name;
  }
  static bool Wait(const std::function<bool()>& ready, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!ready() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return ready();
  }
  vexa::test::TScratchDir FScratch;
};

TEST_F(FileDialogs, SingleFrameGifGoesToTheSingleView) {
  TVXFilePreviewPanel panel(false, true, msEnglish);
  panel.SelectionChange(SingleGif());
  EXPECT_FALSE(panel.ShowsGrid());
  EXPECT_EQ(panel.View()->Bitmap().Width(), 30);
  EXPECT_EQ(panel.DimensionsLabel()->text(), "30 x 20 pixel");
  EXPECT_TRUE(panel.ColoursLabel()->text().endsWith(" Colors (8 bit)")) << panel.ColoursLabel()->text().toStdString();
  EXPECT_TRUE(panel.FileTypeLabel()->text().startsWith("CompuServe Bitmap"));
  EXPECT_TRUE(panel.PreviewButton()->isEnabled());
}

TEST_F(FileDialogs, TwoPageTiffShowsTwoThumbnails) {
  TVXFilePreviewPanel panel(false, true, msGerman);
  panel.SelectionChange(TwoPageTiff());
  ASSERT_TRUE(panel.ShowsGrid());
  EXPECT_EQ(panel.Grid()->GetImageCount(), 2);
  EXPECT_EQ(panel.Grid()->SelectedImage(), 0);
  EXPECT_EQ(panel.DimensionsLabel()->text(), "24 x 16 pixel , 2 frames");
  EXPECT_TRUE(panel.ColoursLabel()->text().contains(VXWord(VXMSG_COLORS, msGerman)));
}

TEST_F(FileDialogs, AFileThatFailsToLoadLeavesTheLabelsEmpty) {
  TVXFilePreviewPanel panel(false, true, msEnglish);
  panel.SelectionChange(SingleGif());
  ASSERT_FALSE(panel.DimensionsLabel()->text().isEmpty());
  const std::string bad = FScratch / "broken.png";
  vexa::test::WriteFileBytes(bad, {0x89, 'P', 'N', 'G', 1, 2, 3});
  panel.SelectionChange(bad);
  for (QLabel* l : {panel.DimensionsLabel(), panel.ResolutionLabel(), panel.ColoursLabel(), panel.FileSizeLabel(),
                    panel.FileTypeLabel()})
    EXPECT_TRUE(l->text().isEmpty()) << l->objectName().toStdString();
  EXPECT_FALSE(panel.PreviewButton()->isEnabled());
  panel.SelectionChange(FScratch / "missing.gif");
  EXPECT_TRUE(panel.DimensionsLabel()->text().isEmpty());
}

TEST_F(FileDialogs, UncheckedPreviewReadsOnlyTheParameters) {
  TVXFilePreviewPanel panel(true, true, msEnglish);
  panel.PreviewCheck()->setChecked(false);
  panel.SelectionChange(SingleGif());
  EXPECT_EQ(panel.DimensionsLabel()->text(), "30 x 20 pixel");
  EXPECT_FALSE(panel.PreviewButton()->isEnabled());
}

TEST_F(FileDialogs, OpenDialogShowsTheSelectionAndStaysOpen) {
  const std::string gif = SingleGif();
  TOpenVexaDialog d;
  d.InitialDir = FScratch.Path().string();
  QString seen;
  bool stillOpen = false;
  QTimer::singleShot(0, [&] {
    ASSERT_NE(d.Dialog(), nullptr);
    // Click the file in the list, once the dialog's model has read the folder.
    auto* list = d.Dialog()->findChild<QListView*>("listView");
    ASSERT_NE(list, nullptr);
    QElapsedTimer t;
    t.start();
    while (d.Panel()->DimensionsLabel()->text().isEmpty() && t.elapsed() < 5000) {
      QApplication::processEvents(QEventLoop::AllEvents, 50);
      const QModelIndex root = list->rootIndex();
      for (int r = 0; r < list->model()->rowCount(root); ++r) {
        const QModelIndex i = list->model()->index(r, 0, root);
        if (i.data().toString() == "one.gif") list->setCurrentIndex(i);
      }
    }
    seen = d.Panel()->DimensionsLabel()->text();
    stillOpen = d.Dialog()->isVisible();
    d.Dialog()->reject();
  });
  EXPECT_FALSE(d.Execute());
  EXPECT_EQ(seen, "30 x 20 pixel");
  EXPECT_TRUE(stillOpen);
}

TEST_F(FileDialogs, CancelRestoresTheQualityChangedThroughAdvanced) {
  TVexa w;
  w.Bitmap() = Picture(40, 30, 0);
  w.IOParams().JPEG_Quality = 80;
  TSaveVexaDialog d;
  ASSERT_TRUE(d.SetAttachedVexaIO(&w.IO()));
  d.InitialDir = FScratch.Path().string();
  w.IO().OnIOPreview = [](TObject*, TComponent* form) {
    auto* f = dynamic_cast<TfIOPreviews*>(form);
    QTimer::singleShot(0, f, [f] {
      EXPECT_EQ(f->ActivePage(), ppJPEG);
      f->findChild<TVXTrackEdit*>("jpegQuality")->Slider()->setValue(11);
      f->accept();
    });
  };
  int during = 0;
  QTimer::singleShot(0, [&] {
    auto* edit = d.Dialog()->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText("picture.jpg");
    d.Panel()->AdvancedButton()->click();
    during = w.IOParams().JPEG_Quality;
    d.Dialog()->reject();
  });
  EXPECT_FALSE(d.Execute());
  EXPECT_EQ(during, 11);
  EXPECT_EQ(w.IOParams().JPEG_Quality, 80);
  EXPECT_EQ(d.AdvancedAccepted(), 1u << ppJPEG) << "the page confirmed on the way";
}

TEST_F(FileDialogs, SaveAppendsTheFilterExtensionAndKeepsAdvancedChanges) {
  TVexa w;
  w.Bitmap() = Picture(10, 10, 0);
  TSaveVexaDialog d;
  d.SetAttachedVexaIO(&w.IO());
  d.InitialDir = FScratch.Path().string();
  d.FilterIndex = 3;  // after AutoSetFilter: the first entry after "All graphics" is TIFF
  QTimer::singleShot(0, [&] {
    d.Dialog()->findChild<QLineEdit*>("fileNameEdit")->setText("noext");
    static_cast<QDialog*>(d.Dialog())->accept();
  });
  ASSERT_TRUE(d.Execute());
  EXPECT_EQ(d.FileName, FScratch / "noext.gif");
}

TEST_F(FileDialogs, OnlyTheTwoIOComponentsCanBeAttached) {
  TSaveVexaDialog d;
  TVexaProc proc;
  EXPECT_FALSE(d.SetAttachedVexaIO(&proc));
  EXPECT_EQ(d.AttachedVexaIO(), nullptr);
  {
    TVexaMIO mio;
    EXPECT_TRUE(d.SetAttachedVexaIO(&mio));
    EXPECT_FALSE(d.Execute()) << "a multi-image component without images shows nothing";
  }
  EXPECT_EQ(d.AttachedVexaIO(), nullptr) << "cleared when the component goes";
}

// An animated GIF: its frames as thumbnails, play and stop, AlwaysAnimate, and a
// frame in the preview window (sized to the picture, at least 100 x 100, closed by Escape).
TEST_F(FileDialogs, AnAnimatedGifPlaysAndAFrameOpensInThePreviewWindow) {
  const std::string gif = ThreeFrameGif();
  TVXFilePreviewPanel panel(false, true, msEnglish);
  panel.SelectionChange(gif);
  ASSERT_TRUE(panel.ShowsGrid());
  ASSERT_EQ(panel.Grid()->GetImageCount(), 3);
  EXPECT_EQ(panel.DimensionsLabel()->text(), "20 x 16 pixel , 3 frames");
  ASSERT_TRUE(panel.PlayButton()->isEnabled());
  EXPECT_FALSE(panel.Grid()->Playing());

  panel.PlayButton()->click();
  EXPECT_TRUE(panel.Grid()->Playing());
  EXPECT_TRUE(panel.PlayButton()->isChecked());
  EXPECT_FALSE(panel.PreviewButton()->isEnabled()) << "no preview window while playing";
  std::set<int> shown;
  EXPECT_TRUE(Wait([&] {
    shown.insert(panel.Grid()->VisibleFrame());
    return shown.size() == 3;
  })) << "every frame comes round";
  panel.PlayButton()->click();
  EXPECT_FALSE(panel.Grid()->Playing());
  EXPECT_EQ(panel.Grid()->SelectedImage(), 0) << "the selection comes back after playing";
  EXPECT_TRUE(panel.PreviewButton()->isEnabled());

  panel.Grid()->SetSelectedItem(2);
  panel.PreviewButton()->click();
  QPointer<QWidget> win;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "previewWindow" && w->isVisible()) win = w;
  ASSERT_TRUE(win);
  EXPECT_EQ(win->windowTitle(), QString::fromStdString("Preview: " + gif));
  auto* view = win->findChild<TVexaView*>();
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->Bitmap().Width(), 20);
  EXPECT_NEAR(view->Bitmap().GetPixel(0, 0).r, 160, 8) << "the selected frame (red 0, 80, 160 at the left edge)";
  EXPECT_GE(win->width(), 100);
  EXPECT_GE(win->height(), 100);
  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(win, &escape);
  EXPECT_TRUE(Wait([&] { return win.isNull(); })) << "Escape closes and frees it";

  TVXFilePreviewPanel animated(false, true, msEnglish);
  animated.AlwaysAnimate = true;
  animated.SelectionChange(gif);
  EXPECT_TRUE(animated.Grid()->Playing());
  EXPECT_FALSE(animated.PreviewButton()->isEnabled());
}

// A file that takes a while shows progress; selecting another meanwhile stops
// it (it never reaches 100 %) and shows the new one.
TEST_F(FileDialogs, SelectingAnotherFileSkipsASlowLoad) {
  const std::string big = FScratch / "big.bmp";
  {
    TBitmap b(2400, 1800, pf24bit);
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x) b.SetPixel(x, y, CreateRGB(uint8_t(x), uint8_t(y), uint8_t(x ^ y)));
    TVexaIO io;
    io.SetAttachedBitmap(&b);
    io.SaveToFileBMP(big);
    ASSERT_FALSE(io.Aborting);
  }
  const std::string small = SingleGif();
  TVXFilePreviewPanel panel(false, true, msEnglish);
  auto* bar = panel.findChild<QProgressBar*>();
  ASSERT_NE(bar, nullptr);
  std::vector<int> values;
  bool switched = false, barShown = false;
  size_t switchedAt = 0;
  QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) {
    values.push_back(v);
    if (switched || v <= 0) return;
    // The first report of the big file: pick the other file, as a click in the list would.
    switched = true;
    barShown = bar->isVisible() || !bar->isHidden();
    switchedAt = values.size();
    QTimer::singleShot(0, [&] { panel.SelectionChange(small); });
  });
  panel.SelectionChange(big);
  ASSERT_TRUE(switched) << "the big file reports progress";
  ASSERT_LT(values[switchedAt - 1], 50) << "progress comes early, so the switch happens mid-load";
  EXPECT_TRUE(barShown);
  EXPECT_EQ(panel.DimensionsLabel()->text(), "30 x 20 pixel");
  EXPECT_EQ(panel.View()->Bitmap().Width(), 30);
  // The values after the switch belong to the big file until they fall back for the small one.
  int bigAfterSwitch = 0;
  for (size_t i = switchedAt; i < values.size() && values[i] >= values[i - 1]; ++i) bigAfterSwitch = values[i];
  EXPECT_LT(bigAfterSwitch, 100) << "the big file was dropped, not read to its end";
  EXPECT_TRUE(bar->isHidden()) << "no progress once done";
}

// OnCanClose sees the choice before the dialog closes with it and may keep it open.
TEST_F(FileDialogs, OnCanCloseKeepsTheDialogOpenUntilItAgrees) {
  const std::string gif = SingleGif();
  TOpenVexaDialog d;
  d.InitialDir = FScratch.Path().string();
  int asked = 0;
  bool agree = false, openAfterRefusal = false;
  d.OnCanClose = [&](TObject* sender, bool& canClose) {
    EXPECT_EQ(sender, &d);
    ++asked;
    canClose = agree;
  };
  QTimer::singleShot(0, [&] {
    d.Dialog()->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(gif));
    static_cast<QDialog*>(d.Dialog())->accept();
    openAfterRefusal = d.Dialog()->isVisible();
    agree = true;
    static_cast<QDialog*>(d.Dialog())->accept();
  });
  ASSERT_TRUE(d.Execute());
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(openAfterRefusal);
  EXPECT_EQ(d.FileName, gif);
}

}  // namespace
