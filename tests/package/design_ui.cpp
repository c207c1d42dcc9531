// The design-time library: palette order, the Filter property editor, and the
// libraries it needs at load time.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "vexa/package/design/filtereditor_ui.h"
#include "vexa/package/design/palette_ui.h"
#include "vexa/package/runtime_ui.h"

using namespace vexa;

namespace {

// The palette page in its fixed order.
const std::vector<std::string> kVexaPage = {
    "TVexa",     "TVexaProc",     "TVexaView", "TVexaMView",     "TVexaVect",      "TVexaVideoView",  "TVexaIO",
    "TVexaMIO", "THistogramBox", "TRulerBox", "TVXGradientBar", "THSVBox",        "TOpenVexaDialog", "TSaveVexaDialog"};

std::string RunStatus(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return "popen failed";
  char buf[512];
  while (fgets(buf, sizeof buf, p)) out += buf;
  const int status = pclose(p);
  return std::to_string(WEXITSTATUS(status)) + ":" + out;
}

}  // namespace

TEST(DesignPalette, RegisterPutsTheComponentsOnPageVexaInPaletteOrder) {
  VXClearDesignRegistry();
  Register();
  Register();  // again: entries are replaced, not doubled
  const std::vector<std::string> expected(std::begin(kVexaPage), std::end(kVexaPage));
  std::vector<std::string> got;
  for (const TVXPaletteEntry* e : VXPaletteEntries("Vexa")) got.push_back(e->ClassName);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(VXPaletteEntries().size(), expected.size()) << "nothing outside page Vexa";

  QWidget form;
  TComponent owner;
  for (const TVXPaletteEntry* e : VXPaletteEntries("Vexa")) {
    SCOPED_TRACE(e->ClassName);
    EXPECT_EQ(e->Icon.size(), QSize(24, 24));
    const QImage icon = e->Icon.toImage();
    std::set<QRgb> colours;
    for (int y = 0; y < icon.height(); ++y)
      for (int x = 0; x < icon.width(); ++x) colours.insert(icon.pixel(x, y));
    EXPECT_GE(colours.size(), 3u) << "a drawn picture";
    TComponent* c = e->Factory(&owner, &form);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Owner(), &owner);
    if (auto* w = dynamic_cast<QWidget*>(c)) {
      EXPECT_EQ(w->parentWidget(), &form);
    }
  }
}

TEST(DesignPalette, EveryComponentHasItsOwnPicture) {
  std::vector<QImage> seen;
  for (std::string name : kVexaPage) {
    for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const QImage img = VXPaletteBitmap(name).toImage();
    ASSERT_EQ(img.size(), QSize(24, 24)) << name;
    for (const QImage& other : seen) EXPECT_NE(img, other) << name;
    seen.push_back(img);
  }
  EXPECT_TRUE(VXPaletteBitmap("TVXVIEW").isNull()) << "the abstract base is not on the palette";
}

TEST(DesignFilterEditor, IsTheEditorOfFilterOnBothFileDialogsAndNowhereElse) {
  VXClearDesignRegistry();
  Register();
  for (const char* cls : {"TOpenVexaDialog", "TSaveVexaDialog"}) {
    auto editor = VXFindPropertyEditor(cls, "Filter");
    EXPECT_NE(dynamic_cast<TVXFilterPropertyEditor*>(editor.get()), nullptr) << cls;
  }
  EXPECT_EQ(VXFindPropertyEditor("TVexaIO", "Filter"), nullptr);
  EXPECT_EQ(VXFindPropertyEditor("TOpenVexaDialog", "Title"), nullptr);
  VXRegisterClassParent("TLoopA", "TLoopB");
  VXRegisterClassParent("TLoopB", "TLoopA");
  EXPECT_EQ(VXFindPropertyEditor("TLoopA", "Filter"), nullptr) << "a parent loop ends the search";
}

TEST(DesignFilterEditor, TableRoundTripsFilterStrings) {
  TVXFilterEditor editor;
  for (const QString& s : {QStringLiteral("Bitmaps (*.bmp)|*.bmp|All files (*.*)|*.*"),
                           QStringLiteral("Pictures|*.pcx;*.tga;*.tif"), QString(),
                           QStringLiteral("Unicode \u00e9t\u00e9|*.jpg|Empty masks|")}) {
    editor.SetFilter(s);
    EXPECT_EQ(editor.Filter(), s);
  }
  editor.SetFilter(QStringLiteral("Only a name"));
  EXPECT_EQ(editor.Pairs().size(), 1u);
  EXPECT_EQ(editor.Filter(), QStringLiteral("Only a name|"));
}

TEST(DesignFilterEditor, OffersTheRegistryFormatsAndEditsRows) {
  TVXFilterEditor editor;
  const auto pairs = VXRegistryFilterPairs();
  ASSERT_EQ(editor.Formats()->count(), static_cast<int>(pairs.size()));
  int pcx = -1;
  for (int i = 0; i < static_cast<int>(pairs.size()); ++i)
    if (pairs[static_cast<size_t>(i)].second == QStringLiteral("*.pcx")) pcx = i;
  ASSERT_GE(pcx, 0);
  editor.SetFilter(QStringLiteral("All|*.*"));
  editor.AddRegistryFormat(pcx);
  EXPECT_EQ(editor.Filter(), QStringLiteral("All|*.*|PaintBrush (*.pcx)|*.pcx"));
  editor.MoveRow(1, -1);
  EXPECT_EQ(editor.Filter(), QStringLiteral("PaintBrush (*.pcx)|*.pcx|All|*.*"));
  editor.MoveRow(0, -1);  // already first
  editor.DeleteRow(1);
  editor.DeleteRow(5);
  EXPECT_EQ(editor.Filter(), QStringLiteral("PaintBrush (*.pcx)|*.pcx"));
  editor.AddRow();  // an empty row does not reach the string
  EXPECT_EQ(editor.Filter(), QStringLiteral("PaintBrush (*.pcx)|*.pcx"));
}

TEST(DesignFilterEditor, PropertyEditorChangesTheValueOnlyWhenAccepted) {
  VXClearDesignRegistry();
  Register();
  auto editor = VXFindPropertyEditor("TSaveVexaDialog", "Filter");
  ASSERT_NE(editor, nullptr);
  for (bool accept : {true, false}) {
    QString value = QStringLiteral("Targa|*.tga");
    QTimer::singleShot(0, [accept] {
      auto* dlg = qobject_cast<TVXFilterEditor*>(QApplication::activeModalWidget());
      ASSERT_NE(dlg, nullptr);
      EXPECT_EQ(dlg->Filter(), QStringLiteral("Targa|*.tga"));
      dlg->AddRow({QStringLiteral("All"), QStringLiteral("*.*")});
      accept ? dlg->accept() : dlg->reject();
    });
    EXPECT_EQ(editor->Edit(nullptr, value), accept);
    EXPECT_EQ(value, accept ? QStringLiteral("Targa|*.tga|All|*.*") : QStringLiteral("Targa|*.tga"));
  }
}

TEST(DesignLibrary, LoadingItWithoutTheRuntimeFailsAtLoadTime) {
  // A copy of libvexadsgn alone in a folder: its runtime is looked for beside it.
  const std::string dir = testing::TempDir() + "vexadsgn-alone";
  const std::string copy = dir + "/libvexadsgn.so.0";
  ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir + " && cp " VEXA_DSGN_FILE " " + copy).c_str()), 0);
  const std::string load =
      "env -u LD_LIBRARY_PATH " VEXA_SUBPROCESS_ENV " python3 -c \"import ctypes,sys; ctypes.CDLL(sys.argv[1])\" ";
  const std::string alone = RunStatus(load + copy);
  EXPECT_EQ(alone.substr(0, 2), "1:") << alone;
  EXPECT_NE(alone.find("libvexarun.so.0"), std::string::npos) << alone;
  const std::string built = RunStatus(load + VEXA_DSGN_FILE);
  EXPECT_EQ(built, "0:") << "the same library loads where its runtime is";
}

TEST(RuntimeLibrary, ModulesStartedOnceWhenTheLibrariesLoaded) {
  // libvexa_core started its group, libvexarun counted it and started its own.
  EXPECT_EQ(VXRuntimeLoadCount(), 2);
  const auto& log = VXModuleLog();
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 5),
            (std::vector<std::string>{"+messages", "+formats", "+screen", "+expansion", "+screen-ui"}));
  EXPECT_EQ(VXRunPackageInfo().Name, "vexarun");
  EXPECT_FALSE(VXRunPackageInfo().DesignOnly);
  EXPECT_TRUE(VXDsgnPackageInfo().DesignOnly);
  EXPECT_EQ(VXDsgnPackageInfo().Requires.front(), "vexarun");
  EXPECT_EQ(VXRunPackageInfo().Contains.back(), "screen-ui");
}
