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
#include <QTimer>

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

}  // namespace
