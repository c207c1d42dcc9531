// Scanning with the Qt layer: the manager's source selection dialog, and the
// parent window held disabled while a source is enabled.
#include <gtest/gtest.h>

#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "acquire_testutil.h"
#include "support/pixels.h"
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

// Every kind of setting gets its field, named after the option; Scan writes the
// user's choices back, Cancel leaves the options as they were.
TEST_F(ScanUI, SettingsDialogHasAFieldForEveryKindOfOption) {
  const char* const modes[] = {"Gray", "Color"};
  const char* const depths[] = {"1", "8", "16"};
  auto options = [&] {
    return std::vector<VexaDSMOption>{
        {"resolution", "Resolution", VexaDSMNumber, 1, 1200, 1, 75, nullptr, 0, 0},
        {"mode", "Mode", VexaDSMChoice, 0, 0, 0, 0, modes, 2, 1},
        {"depth", "Depth", VexaDSMChoice, 0, 0, 0, 0, depths, 3, 1},
        {"three-pass", "Three pass", VexaDSMSwitch, 0, 0, 0, 0, nullptr, 0, 0},
        {"calibrate", "Calibrate", VexaDSMButton, 0, 0, 0, 0, nullptr, 0, 0},
        {"future", "Unknown kind", 42, 0, 0, 0, 7, nullptr, 0, 0},
    };
  };
  for (bool scan : {true, false}) {
    std::vector<VexaDSMOption> o = options();
    TVXTWSettingsDialog dialog(nullptr, "test:0", o.data(), static_cast<int>(o.size()));
    auto* resolution = dialog.findChild<QDoubleSpinBox*>("resolution");
    auto* mode = dialog.findChild<QComboBox*>("mode");
    auto* depth = dialog.findChild<QComboBox*>("depth");
    auto* threePass = dialog.findChild<QCheckBox*>("three-pass");
    auto* calibrate = dialog.findChild<QPushButton*>("calibrate");
    ASSERT_TRUE(resolution && mode && depth && threePass && calibrate);
    EXPECT_EQ(resolution->value(), 75);
    EXPECT_EQ(mode->currentText(), "Color");
    EXPECT_EQ(depth->count(), 3);
    EXPECT_EQ(depth->currentText(), "8");
    EXPECT_FALSE(threePass->isChecked());
    EXPECT_EQ(calibrate->text(), "Calibrate");
    resolution->setValue(300);
    mode->setCurrentIndex(0);
    depth->setCurrentIndex(2);
    threePass->setChecked(true);
    calibrate->click();
    calibrate->click();
    if (scan)
      dialog.accept();
    else
      dialog.reject();
    const std::vector<VexaDSMOption> before = options();
    EXPECT_EQ(o[0].Value, scan ? 300 : 75);
    EXPECT_EQ(o[1].Current, scan ? 0 : 1);
    EXPECT_EQ(o[2].Current, scan ? 2 : 1);
    EXPECT_EQ(o[3].Value, scan ? 1 : 0);
    EXPECT_EQ(o[4].Value, scan ? 2 : 0);
    EXPECT_EQ(o[5].Value, 7);  // a kind the dialog does not know stays as it was
  }
}

// Through our SANE source: the test backend's word list (depth), switches
// (three-pass) and buttons reach the dialog, and what the user picks is scanned.
TEST_F(ScanUI, SettingsDialogOverTheSaneOptionsScansWithTheChosenOnes) {
  TVexaIO io;
  TBitmap plain, chosen;
  ASSERT_TRUE(io.TWainParams.SelectSourceByName("test:0"));
  TVXTWSourceCaps& caps = io.TWainParams.Capabilities();
  caps.PixelType.SetCurrentValue(twain::TWPT_RGB);
  caps.XResolution.SetCurrentValue(50);
  caps.YResolution.SetCurrentValue(50);
  caps.Indicators = false;
  io.TWainParams.VisibleDialog = false;
  io.SetAttachedBitmap(&plain);
  ASSERT_TRUE(io.Acquire()) << VXTW_LastFailure().Message;

  io.TWainParams.VisibleDialog = true;
  io.SetAttachedBitmap(&chosen);
  QStringList depths;
  bool sawSwitch = false, sawButton = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = dynamic_cast<TVXTWSettingsDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* depth = dialog->findChild<QComboBox*>("depth");
    auto* threePass = dialog->findChild<QCheckBox*>("three-pass");
    auto* printOptions = dialog->findChild<QPushButton*>("print-options");
    sawSwitch = threePass != nullptr;
    sawButton = printOptions != nullptr;
    ASSERT_NE(depth, nullptr);
    for (int i = 0; i < depth->count(); ++i) depths << depth->itemText(i);
    depth->setCurrentIndex(depth->findText("16"));
    if (threePass) threePass->setChecked(true);
    if (printOptions) printOptions->click();
    dialog->accept();
  });
  ASSERT_TRUE(io.Acquire()) << VXTW_LastFailure().Message;
  EXPECT_EQ(depths, QStringList({"1", "8", "16"}));
  EXPECT_TRUE(sawSwitch);
  EXPECT_TRUE(sawButton);
  ASSERT_EQ(chosen.Width(), plain.Width());
  ASSERT_EQ(chosen.Height(), plain.Height());
  // The backend draws its colour pattern differently in 16-bit samples.
  EXPECT_FALSE(vexa::test::SameImage(plain, chosen));
  EXPECT_EQ(io.Params.BitsPerSample, 8);
}
