// Scanning with the Qt layer: the manager's source selection dialog, and the
// parent window held disabled while a source is enabled.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QTimer>

#include "acquire_testutil.h"
#include "view/ui_test_util_ui.h"
#include "vexa/acquire/twainhost_ui.h"
#include "vexa/io/vexaio.h"
#include "vexa/view/vexaview_ui.h"

using namespace vexa;
using namespace acquiretest;

namespace {

class ScanUI : public ::testing::Test {
 protected:
  void SetUp() override {
    vexa::test::App();
    VXTW_InstallUI();
    UseManager();
  }
  TSaneTestConfig Config;
};

// Answers the next modal dialog: picks `row` and accepts, or rejects with row -1.
void AnswerSourceDialog(int row, QStringList* seen) {
  QTimer::singleShot(0, [row, seen] {
    auto* dialog = dynamic_cast<TVXTWSourceDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    for (int i = 0; i < dialog->List()->count(); ++i) *seen << dialog->List()->item(i)->text();
    if (row < 0) {
      dialog->reject();
      return;
    }
    dialog->List()->setCurrentRow(row);
    dialog->accept();
  });
}

}  // namespace

TEST_F(ScanUI, SourceDialogListsTheDevicesAndSelectsTheChosenOne) {
  TVexaView view;
  TVexaIO io(&view);
  QStringList seen;
  AnswerSourceDialog(1, &seen);
  ASSERT_TRUE(io.SelectAcquireSource());
  EXPECT_EQ(seen, QStringList({"test:0", "test:1"}));
  EXPECT_EQ(io.TWainParams.SourceName(io.TWainParams.SelectedSource()), "test:1");

  seen.clear();
  AnswerSourceDialog(-1, &seen);
  EXPECT_FALSE(io.SelectAcquireSource());
  EXPECT_EQ(io.TWainParams.SourceName(io.TWainParams.SelectedSource()), "test:1");
}

TEST_F(ScanUI, ParentWindowIsDisabledWhileTheSourceIsEnabled) {
  TVexaView view;
  view.show();
  TVexaIO io(&view);
  io.SetAttachedVexa(&view);
  ASSERT_TRUE(io.TWainParams.SelectSourceByName("test:0"));
  io.TWainParams.Capabilities().XResolution.SetCurrentValue(50);
  io.TWainParams.Capabilities().YResolution.SetCurrentValue(50);
  io.TWainParams.Capabilities().Indicators = false;
  io.TWainParams.VisibleDialog = false;
  std::vector<bool> enabledDuring;
  io.OnProgress = [&](TObject*, int) { enabledDuring.push_back(view.isEnabled()); };
  ASSERT_TRUE(io.Acquire()) << VXTW_LastFailure().Message;
  ASSERT_FALSE(enabledDuring.empty());
  EXPECT_FALSE(enabledDuring.front());
  EXPECT_TRUE(view.isEnabled());
  EXPECT_EQ(view.GetFBitmap()->Width(), io.Params.Width);
  EXPECT_EQ(io.Params.DpiX, 50);
}

TEST_F(ScanUI, VisibleDialogShowsTheSourceSettingsBeforeScanning) {
  TVexaIO io;
  TBitmap bmp(2, 2);
  io.SetAttachedBitmap(&bmp);
  ASSERT_TRUE(io.TWainParams.SelectSourceByName("test:0"));
  TVXTWSourceCaps& caps = io.TWainParams.Capabilities();
  caps.XResolution.SetCurrentValue(50);
  caps.YResolution.SetCurrentValue(50);
  caps.AcquireFrame[0] = caps.AcquireFrame[1] = 0;
  caps.AcquireFrame[2] = caps.AcquireFrame[3] = 50 / 25.4;
  caps.Indicators = false;
  io.TWainParams.VisibleDialog = true;
  // The dialog opens on the negotiated 50 dpi; the user makes it 100 and scans.
  double shown = 0;
  QTimer::singleShot(0, [&shown] {
    auto* dialog = dynamic_cast<TVXTWSettingsDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* resolution = dialog->findChild<QDoubleSpinBox*>("resolution");
    ASSERT_NE(resolution, nullptr);
    shown = resolution->value();
    resolution->setValue(100);
    dialog->accept();
  });
  ASSERT_TRUE(io.Acquire()) << VXTW_LastFailure().Message;
  EXPECT_EQ(shown, 50);
  EXPECT_EQ(bmp.Width(), 196);  // 50 mm at 100 dpi
  EXPECT_EQ(io.Params.DpiX, 100);

  // Closing the dialog without scanning acquires nothing.
  QTimer::singleShot(0, [] {
    auto* dialog = dynamic_cast<TVXTWSettingsDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->reject();
  });
  EXPECT_FALSE(io.Acquire());
  EXPECT_EQ(bmp.Width(), 196);
}
