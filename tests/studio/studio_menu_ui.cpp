// The studio's window built in-process on the offscreen platform: the Image menu
// follows the operation catalogue, the parameter forms give words the operations
// accept, the save options never reduce colours unasked; and a screenshot of the
// studio with the Image menu open shows the group names.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "studio_paramform_ui.h"
#include "studio_saveoptions_ui.h"
#include "studio_window_ui.h"
#include "support/fixtures.h"
#include "vexa/core/sample.h"

using namespace vexa;
using namespace vexa::test;

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_studio_ui";
  static char* argv[] = {name, nullptr};
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

QString Plain(QString s) { return s.remove('&').remove("..."); }

}  // namespace

TEST(StudioMenus, EveryCatalogueOperationIsInExactlyOneGroupOfTheImageMenu) {
  App();
  StudioWindow w;
  std::map<std::string, std::vector<std::string>> groupsOf;  // operation name -> submenus holding it
  QStringList submenus;
  for (QAction* a : w.ImageMenu()->actions()) {
    if (!a->menu()) continue;
    submenus << Plain(a->text());
    for (QAction* item : a->menu()->actions()) groupsOf[item->data().toString().toStdString()].push_back(Plain(a->text()).toStdString());
  }
  QStringList expected;
  for (int g = 0; g < kVXOpGroupCount; ++g) expected << VXOpGroupName(TVXOpGroup(g));
  EXPECT_EQ(submenus, expected);
  for (const TVXOperation& op : VXOperations()) {
    ASSERT_EQ(groupsOf[op.Name].size(), 1u) << op.Name;
    EXPECT_EQ(groupsOf[op.Name][0], VXOpGroupName(op.Group)) << op.Name;
  }
  EXPECT_EQ(groupsOf.size(), VXOperations().size());  // nothing in the menu that the catalogue lacks
  EXPECT_EQ(groupsOf.count("to24bit"), 1u);
}

// The form's words as they stand when it opens are accepted by the operation, and
// the centre fields follow the selection.
TEST(StudioMenus, ParameterFormsGiveWordsTheOperationsAccept) {
  App();
  const TBitmap sample = VXMakeSampleImage(40, 30);
  for (const TVXOperation& op : VXOperations()) {
    bool needsFile = false;
    for (const TVXOpParam& p : op.Params) needsFile |= p.Kind == opkFile;
    if (op.Params.empty() || needsFile) continue;
    SCOPED_TRACE(op.Name);
    StudioParamForm form(nullptr, op, TRect{10, 4, 29, 13});
    const std::vector<std::string> words = form.Words();
    TBitmap work = sample;
    TVexaProc proc;
    proc.SetAttachedBitmap(&work);
    std::string report;
    EXPECT_EQ(op.Execute(proc, words, report), "");
    if (std::string(op.Name) == "lens") {
      ASSERT_GE(words.size(), 4u);
      EXPECT_EQ(words[0], "19");  // centre of columns 10..29
      EXPECT_EQ(words[1], "8");
      EXPECT_EQ(words[2], "20");
      EXPECT_EQ(words[3], "10");
    }
  }
}

TEST(StudioSave, TheDepthOfferedFirstKeepsEveryColourAndFewerColoursAreAnnounced) {
  App();
  const TBitmap image = VXMakeSampleImage(64, 64);  // far more than 256 colours
  TIOParamsVals params;
  params.BitsPerSample = 8, params.SamplesPerPixel = 1;  // as read from a palette file
  bool checked = false;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    auto* depth = dialog->findChild<QComboBox*>("studio-depth");
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(depth->currentText(), "Full colour (24 bit)");
    QPushButton* full = nullptr;
    QLabel* warning = nullptr;
    for (auto* b : dialog->findChildren<QPushButton*>())
      if (b->text() == "Keep full colour") full = b;
    for (auto* l : dialog->findChildren<QLabel*>())
      if (l->text().contains("colours;")) warning = l;
    EXPECT_TRUE(full == nullptr || full->isHidden());
    depth->setCurrentIndex(depth->findText("256 colours (8 bit palette)"));
    ASSERT_NE(full, nullptr);
    EXPECT_FALSE(full->isHidden());
    for (auto* l : dialog->findChildren<QLabel*>())
      if (l->text().contains("colours;")) warning = l;
    ASSERT_NE(warning, nullptr);
    EXPECT_FALSE(warning->isHidden());
    EXPECT_TRUE(warning->text().contains("keeps at most 256")) << warning->text().toStdString();
    full->click();
    EXPECT_EQ(depth->currentText(), "Full colour (24 bit)");
    checked = true;
    dialog->accept();
  });
  // accept() bypasses the Save button, which writes the fields: the record stays as given.
  StudioSaveOptions::Ask(nullptr, "out.png", image, params);
  EXPECT_TRUE(checked);
}

TEST(StudioScreenshot, TheImageMenuOpenShowsTheGroupNames) {
  const std::string studio = VEXA_STUDIO_PATH;
  if (studio.empty() || !std::filesystem::exists(studio)) GTEST_SKIP() << "vexa-studio not built";
  if (std::system("command -v tesseract >/dev/null 2>&1") != 0) {
    if (InCI()) FAIL() << "tesseract missing in CI";
    GTEST_SKIP() << "tesseract not installed";
  }
  TScratchDir dir;
  const std::string shot = dir / "menu.png";
  const std::string cmd = std::string(VEXA_STUDIO_ENV) + " QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=" +
                          Quote(dir / "config") + " timeout 60 " +
                          Quote(studio) + " --screenshot " + Quote(shot) + " --open-menu Image >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  // Small menu text reads better to the recogniser enlarged.
  QImage img(QString::fromStdString(shot));
  ASSERT_FALSE(img.isNull());
  const std::string big = dir / "menu-x3.png";
  ASSERT_TRUE(img.scaled(img.width() * 3, img.height() * 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .save(QString::fromStdString(big)));
  const std::string text = dir / "menu";
  ASSERT_EQ(std::system(("tesseract " + Quote(big) + " " + Quote(text) + " >/dev/null 2>&1").c_str()), 0);
  const std::vector<uint8_t> bytes = ReadFileBytes(text + ".txt");
  const std::string read(bytes.begin(), bytes.end());
  for (int g = 0; g < kVXOpGroupCount; ++g)
    EXPECT_NE(read.find(VXOpGroupName(TVXOpGroup(g))), std::string::npos) << VXOpGroupName(TVXOpGroup(g)) << " not in:\n"
                                                                            << read;
}
