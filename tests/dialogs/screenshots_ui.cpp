// Every dialog at its default size, in every language: no label, check box or
// button may be cut (its size hint must fit its geometry) and no two of them may
// overlap. The English and German renderings are written as PNG files beside
// the test (screenshots/) for a look by eye.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>
#include <functional>
#include <string>

#include "support/fixtures.h"
#include "view/ui_test_util_ui.h"
#include "vexa/codecs/lzw.h"
#include "vexa/dialogs/filedialogs_ui.h"
#include "vexa/dialogs/iopreviews_ui.h"
#include "vexa/dialogs/previewdialogs_ui.h"
#include "vexa/dialogs/previews_ui.h"

using namespace vexa;

namespace {

TBitmap Picture() {
  TBitmap b(160, 120, pf24bit);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) b.SetPixel(x, y, CreateRGB(uint8_t(x), uint8_t(y * 2), 128));
  return b;
}

// The texts of `root` that are shown: labels, check boxes, buttons.
std::vector<QWidget*> TextWidgets(QWidget& root) {
  std::vector<QWidget*> out;
  for (QWidget* w : root.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&root) || w->window() != root.window()) continue;
    if (auto* l = qobject_cast<QLabel*>(w)) {
      if (!l->text().isEmpty() && !l->wordWrap()) out.push_back(w);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      if (!b->text().isEmpty()) out.push_back(w);
    }
  }
  return out;
}

// Checks what is on screen now; `where` names the page for the messages.
void CheckLayout(QWidget& root, const std::string& where) {
  const std::vector<QWidget*> texts = TextWidgets(root);
  EXPECT_GE(texts.size(), 4u) << where << ": the page shows too few texts to be the page meant";
  for (QWidget* w : texts) {
    if (!w->isVisible()) continue;
    const QSize hint = w->sizeHint();
    EXPECT_GE(w->width(), hint.width()) << where << ": " << w->metaObject()->className() << " \""
                                        << (qobject_cast<QLabel*>(w) ? qobject_cast<QLabel*>(w)->text()
                                                                     : qobject_cast<QAbstractButton*>(w)->text())
                                               .toStdString()
                                        << "\" is cut";
    EXPECT_GE(w->height(), std::min(hint.height(), w->maximumHeight())) << where << ": " << w->objectName().toStdString();
  }
  for (size_t i = 0; i < texts.size(); ++i)
    for (size_t j = i + 1; j < texts.size(); ++j) {
      QWidget *a = texts[i], *b = texts[j];
      if (!a->isVisible() || !b->isVisible() || a->parentWidget() != b->parentWidget()) continue;
      EXPECT_FALSE(a->geometry().intersects(b->geometry()))
          << where << ": " << a->objectName().toStdString() << " overlaps " << b->objectName().toStdString();
    }
}

// Shows each page of the form's tab widget in turn and checks it.
void CheckPages(QWidget& form, const std::string& name, TMsgLanguage lang) {
  QApplication::processEvents();
  auto* tabs = form.findChild<QTabWidget*>("pages");
  const std::string tag = name + "/" + std::to_string(int(lang));
  if (lang == msEnglish || lang == msGerman) {
    QDir().mkpath("screenshots");
    form.grab().save(QString::fromStdString("screenshots/" + name + "_" + (lang == msEnglish ? "en" : "de") + ".png"));
  }
  if (!tabs) {
    CheckLayout(form, tag);
    return;
  }
  for (int i = 0; i < tabs->count(); ++i) {
    if (!tabs->isTabVisible(i)) continue;
    tabs->setCurrentIndex(i);
    QApplication::processEvents();
    CheckLayout(form, tag + "/" + tabs->tabText(i).toStdString());
  }
}

class DialogLayout : public ::testing::TestWithParam<TMsgLanguage> {
 protected:
  void SetUp() override {
    vexa::test::App();
    VXInstallPreviewDialogs();
    VXInstallLZWCoders();
  }
  TVXPreviewSetup Setup() const {
    TVXPreviewSetup s;
    s.Language = GetParam();
    return s;
  }
};

TEST_P(DialogLayout, ProcessingPreview) {
  TfPreviews f;
  f.Setup(Setup());
  f.SetImage(Picture());
  f.show();
  CheckPages(f, "previews", GetParam());
}

TEST_P(DialogLayout, SaveParameters) {
  TfIOPreviews f;
  f.Setup(Setup());
  f.SetParams(TIOParamsVals());
  f.SetImage(Picture());
  ASSERT_TRUE(f.SetPages(1u << ppALL));
  f.show();
  CheckPages(f, "iopreviews", GetParam());
}

TEST_P(DialogLayout, OpenAndSave) {
  vexa::test::TScratchDir dir;
  TBitmap b = Picture();
  TVexaIO io;
  io.SetAttachedBitmap(&b);
  io.SaveToFilePNG(dir / "shot.png");
  for (bool save : {false, true}) {
    std::unique_ptr<TOpenVexaDialog> d(save ? new TSaveVexaDialog : new TOpenVexaDialog);
    d->MsgLanguage = GetParam();
    d->InitialDir = dir.Path().string();
    QTimer::singleShot(0, [&] {
      d->Panel()->SelectionChange(dir / "shot.png");
      CheckPages(*d->Dialog(), save ? "save" : "open", GetParam());
      d->Dialog()->reject();
    });
    EXPECT_FALSE(d->Execute());
  }
}

INSTANTIATE_TEST_SUITE_P(Languages, DialogLayout,
                         ::testing::Values(msEnglish, msItalian, msGerman, msSpanish, msFrench, msPortuguese, msGreek),
                         [](const auto& i) { return std::to_string(int(i.param)); });

}  // namespace
