#include "vexa/dialogs/dialogwidgets_ui.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <algorithm>

#include "vexa/view/resources_ui.h"

namespace vexa {

QString VXWord(TMsgLanguageWords word, TMsgLanguage language) {
  return QString::fromStdString(vxmsg(word, language));
}

void VXApplyPreviewFont(QWidget& form, const TFont& font) {
  if (font == TFont{}) return;
  QFont f(QString::fromStdString(font.Name), font.Size);
  f.setBold(font.Bold);
  f.setItalic(font.Italic);
  f.setUnderline(font.Underline);
  form.setFont(f);
}

QIcon VXGlyph(TVXGlyph glyph) {
  static const char* const names[] = {"IDB_PLAY", "IDB_PREVIEW", "IDB_STOP"};
  return QIcon(VXResourceBitmap(names[glyph]));
}

TVXPreviewButtons VXPreviewButtons(QWidget* parent, QPushButton* extra) {
  TVXPreviewButtons b;
  b.Row = new QHBoxLayout;
  b.Lock = new QPushButton(parent);
  b.Lock->setObjectName("lockPreview");
  b.Lock->setCheckable(true);
  b.Preview = new QPushButton(VXGlyph(glPreview), QString(), parent);
  b.Preview->setObjectName("preview");
  b.Progress = new QProgressBar(parent);
  b.Progress->setRange(0, 100);
  b.Progress->setValue(0);
  b.Progress->setTextVisible(false);
  b.Ok = new QPushButton(parent);
  b.Ok->setObjectName("ok");
  b.Ok->setDefault(true);
  b.Cancel = new QPushButton(parent);
  b.Cancel->setObjectName("cancel");
  b.Row->addWidget(b.Lock);
  b.Row->addWidget(b.Preview);
  if (extra) b.Row->addWidget(extra);
  b.Row->addWidget(b.Progress, 1);
  b.Row->addWidget(b.Ok);
  b.Row->addWidget(b.Cancel);
  return b;
}

TVXTrackEdit::TVXTrackEdit(const QString& caption, int min, int max, QWidget* parent, int fallback)
    : QWidget(parent), FFallback(fallback) {
  auto* lay = new QHBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  FCaption = new QLabel(caption, this);
  FSlider = new QSlider(Qt::Horizontal, this);
  FEdit = new QLineEdit(this);
  FSlider->setObjectName("slider");
  FEdit->setObjectName("edit");
  FEdit->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("-00000")) + 12);
  lay->addWidget(FCaption);
  lay->addWidget(FSlider, 1);
  lay->addWidget(FEdit);
  SetRange(min, max);
  SetValue(std::clamp(0, min, max));
  connect(FSlider, &QSlider::valueChanged, this, &TVXTrackEdit::FromSlider);
  connect(FEdit, &QLineEdit::textEdited, this, &TVXTrackEdit::FromEdit);
}

void TVXTrackEdit::SetRange(int min, int max) {
  FSetting = true;
  FSlider->setRange(min, max);
  FSetting = false;
}

void TVXTrackEdit::SetCaption(const QString& caption) { FCaption->setText(caption); }

void TVXTrackEdit::SetValue(int v) {
  FSetting = true;
  FValue = std::clamp(v, FSlider->minimum(), FSlider->maximum());
  FSlider->setValue(FValue);
  FEdit->setText(QString::number(FValue));
  FSetting = false;
}

void TVXTrackEdit::FromSlider(int v) {
  if (FSetting) return;
  FValue = v;
  FSetting = true;
  FEdit->setText(QString::number(v));
  FSetting = false;
  emit ValueChanged(v);
}

void TVXTrackEdit::FromEdit() {
  if (FSetting) return;
  bool ok = false;
  int v = FEdit->text().trimmed().toInt(&ok);
  if (!ok) v = FFallback;
  FValue = std::clamp(v, FSlider->minimum(), FSlider->maximum());
  FSetting = true;
  FSlider->setValue(FValue);
  FSetting = false;
  emit ValueChanged(FValue);
}

}  // namespace vexa
