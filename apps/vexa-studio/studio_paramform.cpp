#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <algorithm>
#include <cmath>
#include <sstream>

#include "studio_paramform_ui.h"

using namespace vexa;

namespace {

std::vector<std::string> WordsOf(const char* text, char sep = ' ') {
  std::vector<std::string> out;
  std::string w;
  std::istringstream in(text);
  while (std::getline(in, w, sep))
    if (!w.empty()) out.push_back(w);
  return out;
}

// A slider helps only where one step of it means something.
constexpr double kSliderSpan = 2000;

QColor ColourOf(const char* words) {
  const std::vector<std::string> v = WordsOf(words);
  if (v.size() != 3) return Qt::black;
  return QColor(std::stoi(v[0]), std::stoi(v[1]), std::stoi(v[2]));
}

void PaintButton(QPushButton* b, const QColor& c) {
  b->setText(QString("%1 %2 %3").arg(c.red()).arg(c.green()).arg(c.blue()));
  b->setStyleSheet(QString("background: %1; color: %2").arg(c.name(), c.lightness() > 128 ? "black" : "white"));
}

int SelectionValue(TVXOpParamUse use, const TRect& s) {
  switch (use) {
    case opuCentreX: return (s.Left + s.Right) / 2;
    case opuCentreY: return (s.Top + s.Bottom) / 2;
    case opuWidth: return s.Right - s.Left + 1;
    case opuHeight: return s.Bottom - s.Top + 1;
    default: return 0;
  }
}

}  // namespace

StudioParamForm::StudioParamForm(QWidget* parent, const TVXOperation& op, TRect selection) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(op.Title));
  auto* form = new QFormLayout(this);
  auto* summary = new QLabel(QString::fromUtf8(op.Summary), this);
  summary->setWordWrap(true);
  form->addRow(summary);
  std::vector<std::pair<QSpinBox*, TVXOpParamUse>> fromSelection;

  for (const TVXOpParam& p : op.Params) {
    const QString title = QString::fromUtf8(p.Title);
    switch (p.Kind) {
      case opkInt: {
        auto* spin = new QSpinBox(this);
        spin->setRange(static_cast<int>(std::max(p.Min, -2147483647.0)), static_cast<int>(std::min(p.Max, 2147483647.0)));
        spin->setValue(std::atoi(p.Default));
        if (p.FromSelection != opuNone) {
          spin->setValue(SelectionValue(p.FromSelection, selection));
          fromSelection.push_back({spin, p.FromSelection});
        }
        QWidget* field = spin;
        if (p.Max - p.Min <= kSliderSpan) {
          auto* slider = new QSlider(Qt::Horizontal, this);
          slider->setRange(spin->minimum(), spin->maximum());
          slider->setValue(spin->value());
          connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
          connect(spin, &QSpinBox::valueChanged, slider, &QSlider::setValue);
          auto* row = new QWidget(this);
          auto* h = new QHBoxLayout(row);
          h->setContentsMargins(0, 0, 0, 0);
          h->addWidget(slider, 1);
          h->addWidget(spin);
          field = row;
        }
        form->addRow(title, field);
        FWords.push_back([spin](std::vector<std::string>& w) { w.push_back(std::to_string(spin->value())); });
        break;
      }
      case opkNumber: {
        auto* spin = new QDoubleSpinBox(this);
        spin->setDecimals(2);
        spin->setRange(p.Min, p.Max > p.Min ? p.Max : 1e9);
        spin->setSingleStep(0.1);
        spin->setValue(std::atof(p.Default));
        form->addRow(title, spin);
        FWords.push_back([spin](std::vector<std::string>& w) { w.push_back(QString::number(spin->value()).toStdString()); });
        break;
      }
      case opkColour: {
        auto* button = new QPushButton(this);
        button->setProperty("colour", ColourOf(p.Default));
        PaintButton(button, ColourOf(p.Default));
        connect(button, &QPushButton::clicked, this, [this, button, title] {
          const QColor c = QColorDialog::getColor(button->property("colour").value<QColor>(), this, title,
                                                  QColorDialog::DontUseNativeDialog);
          if (!c.isValid()) return;
          button->setProperty("colour", c);
          PaintButton(button, c);
        });
        form->addRow(title, button);
        FWords.push_back([button](std::vector<std::string>& w) {
          const QColor c = button->property("colour").value<QColor>();
          for (int v : {c.red(), c.green(), c.blue()}) w.push_back(std::to_string(v));
        });
        break;
      }
      case opkChoice:
      case opkPreset: {
        auto* combo = new QComboBox(this);
        for (const std::string& c : WordsOf(p.Choices, '|')) combo->addItem(QString::fromStdString(c));
        combo->setCurrentText(p.Default);
        QWidget* field = combo;
        if (p.Kind == opkPreset) {
          // A preset or a file of the kind the operation reads.
          combo->setEditable(true);
          auto* browse = new QPushButton("File...", this);
          connect(browse, &QPushButton::clicked, this, [this, combo, title] {
            const QString f = QFileDialog::getOpenFileName(this, title, QString(), QString(), nullptr,
                                                           QFileDialog::DontUseNativeDialog);
            if (!f.isEmpty()) combo->setCurrentText(f);
          });
          auto* row = new QWidget(this);
          auto* h = new QHBoxLayout(row);
          h->setContentsMargins(0, 0, 0, 0);
          h->addWidget(combo, 1);
          h->addWidget(browse);
          field = row;
        }
        form->addRow(title, field);
        FWords.push_back([combo](std::vector<std::string>& w) { w.push_back(combo->currentText().toStdString()); });
        break;
      }
      case opkFlag: {
        auto* check = new QCheckBox(title, this);
        check->setChecked(*p.Default != 0);
        form->addRow(check);
        const std::string word = p.Choices;
        FWords.push_back([check, word](std::vector<std::string>& w) {
          if (check->isChecked()) w.push_back(word);
        });
        break;
      }
      case opkFile:
      case opkText: {
        auto* edit = new QLineEdit(QString::fromUtf8(p.Default), this);
        QWidget* field = edit;
        if (p.Kind == opkFile) {
          auto* browse = new QPushButton("Browse...", this);
          connect(browse, &QPushButton::clicked, this, [this, edit, title] {
            const QString f = QFileDialog::getOpenFileName(this, title, QString(), QString(), nullptr,
                                                           QFileDialog::DontUseNativeDialog);
            if (!f.isEmpty()) edit->setText(f);
          });
          auto* row = new QWidget(this);
          auto* h = new QHBoxLayout(row);
          h->setContentsMargins(0, 0, 0, 0);
          h->addWidget(edit, 1);
          h->addWidget(browse);
          field = row;
        }
        form->addRow(title, field);
        FWords.push_back([edit](std::vector<std::string>& w) { w.push_back(edit->text().toStdString()); });
        break;
      }
    }
  }
  if (!fromSelection.empty()) {
    auto* use = new QPushButton("Use selection", this);
    use->setToolTip("Centre (and size) from the selection, or from the whole image without one");
    connect(use, &QPushButton::clicked, this, [fromSelection, selection] {
      for (const auto& [spin, what] : fromSelection) spin->setValue(SelectionValue(what, selection));
    });
    form->addRow(use);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

std::vector<std::string> StudioParamForm::Words() const {
  std::vector<std::string> w;
  for (const auto& f : FWords) f(w);
  return w;
}
