#include "vexa/acquire/videodialogs_ui.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace vexa {

namespace {

QDialogButtonBox* AddButtons(QDialog& d, QVBoxLayout* layout) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  layout->addWidget(buttons);
  return buttons;
}

}  // namespace

bool VXShowCaptureSourceDialog(TVXCaptureService& capture, QWidget* parent) {
  const std::vector<TVXCaptureControl> controls = capture.Controls();
  if (controls.empty()) return false;
  QDialog d(parent);
  d.setWindowTitle("Video source");
  auto* layout = new QVBoxLayout(&d);
  auto* form = new QFormLayout;
  layout->addLayout(form);
  // Settings apply at once so the picture shows their effect.
  for (const TVXCaptureControl& c : controls) {
    const QString name = QString::fromStdString(c.Name);
    const uint32_t id = c.Id;
    if (c.Kind == TVXCaptureControl::ckBoolean) {
      auto* box = new QCheckBox(&d);
      box->setChecked(c.Value != 0);
      QObject::connect(box, &QCheckBox::toggled, &d, [&capture, id](bool on) { capture.SetControl(id, on ? 1 : 0); });
      form->addRow(name, box);
    } else if (c.Kind == TVXCaptureControl::ckMenu) {
      auto* combo = new QComboBox(&d);
      for (size_t i = 0; i < c.MenuItems.size(); ++i)
        if (!c.MenuItems[i].empty())
          combo->addItem(QString::fromStdString(c.MenuItems[i]), c.Minimum + static_cast<int>(i));
      combo->setCurrentIndex(combo->findData(c.Value));
      QObject::connect(combo, &QComboBox::currentIndexChanged, &d,
                       [&capture, id, combo](int) { capture.SetControl(id, combo->currentData().toInt()); });
      form->addRow(name, combo);
    } else {
      auto* slider = new QSlider(Qt::Horizontal, &d);
      slider->setRange(c.Minimum, c.Maximum);
      slider->setSingleStep(c.Step);
      slider->setValue(c.Value);
      slider->setObjectName(name);
      QObject::connect(slider, &QSlider::valueChanged, &d, [&capture, id](int v) { capture.SetControl(id, v); });
      form->addRow(name, slider);
    }
  }
  AddButtons(d, layout);
  if (d.exec() == QDialog::Accepted) return true;
  for (const TVXCaptureControl& c : controls) capture.SetControl(c.Id, c.Value);
  return false;
}

bool VXShowCaptureFormatDialog(TVXCaptureService& capture, QWidget* parent) {
  const std::vector<TVXCaptureMode> modes = capture.Modes();
  if (modes.empty()) return false;
  const TVXCaptureMode current = capture.Mode();
  QDialog d(parent);
  d.setWindowTitle("Video format");
  auto* layout = new QVBoxLayout(&d);
  auto* combo = new QComboBox(&d);
  for (size_t i = 0; i < modes.size(); ++i) {
    const TVXCaptureMode& m = modes[i];
    combo->addItem(QString("%1 x %2, %3").arg(m.Width).arg(m.Height).arg(QString::fromStdString(m.Description)),
                   static_cast<int>(i));
    if (m == current) combo->setCurrentIndex(static_cast<int>(i));
  }
  auto* form = new QFormLayout;
  form->addRow("Frame size and format", combo);
  layout->addLayout(form);
  AddButtons(d, layout);
  if (d.exec() != QDialog::Accepted) return false;
  const TVXCaptureMode& chosen = modes[static_cast<size_t>(combo->currentData().toInt())];
  return chosen == current || capture.SetMode(chosen);
}

bool VXShowCaptureDisplayDialog(int& previewRate, bool& scale, QWidget* parent) {
  QDialog d(parent);
  d.setWindowTitle("Video display");
  auto* layout = new QVBoxLayout(&d);
  auto* form = new QFormLayout;
  auto* rate = new QSpinBox(&d);
  rate->setRange(1, 10000);
  rate->setSuffix(" ms");
  rate->setValue(previewRate);
  form->addRow("Preview interval", rate);
  auto* fit = new QCheckBox("Scale to the window", &d);
  fit->setChecked(scale);
  form->addRow(fit);
  layout->addLayout(form);
  AddButtons(d, layout);
  if (d.exec() != QDialog::Accepted) return false;
  previewRate = rate->value();
  scale = fit->isChecked();
  return true;
}

}  // namespace vexa
