#include "vexa/acquire/twainhost_ui.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QPushButton>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QListWidget>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include "vexa/acquire/twainclient.h"
#include "vexa/acquire/twainhost.h"

namespace vexa {

namespace {

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

class TQtHost : public TVXTWainHost {
 public:
  void* WindowOf(TComponent* owner) override {
    for (TComponent* c = owner; c; c = c->Owner())
      if (auto* w = dynamic_cast<QWidget*>(c)) return w->window();
    return nullptr;
  }
  bool IsWindow(void* window) override {
    if (!window || !HaveWidgets()) return false;
    const QWidgetList all = QApplication::allWidgets();
    return all.contains(static_cast<QWidget*>(window));
  }
  void* CreateProxyWindow() override {
    if (!HaveWidgets()) return nullptr;
    auto* w = new QWidget(nullptr, Qt::Popup);
    w->setWindowTitle("Acquire Proxy");
    w->setAttribute(Qt::WA_DontShowOnScreen);
    return w;
  }
  void DestroyProxyWindow(void* window) override { delete static_cast<QWidget*>(window); }
  void EnableWindow(void* window, bool enable) override {
    if (IsWindow(window)) static_cast<QWidget*>(window)->setEnabled(enable);
  }
  void SetFocus(void* window) override {
    if (IsWindow(window)) static_cast<QWidget*>(window)->activateWindow();
  }
  // One turn of the Qt loop; a short wait when nothing is pending keeps the
  // source's own windows live without spinning.
  void ProcessEvents() override {
    if (!QCoreApplication::instance()) return;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
};

int SelectSource(void*, void* parent, const char* const* names, int count, int current) {
  if (!HaveWidgets()) return current;
  QStringList list;
  for (int i = 0; i < count; ++i) list << QString::fromUtf8(names[i]);
  QWidget* p = nullptr;
  for (QWidget* w : QApplication::allWidgets())
    if (w == parent) p = w;
  TVXTWSourceDialog dialog(p, list, current);
  return dialog.exec() == QDialog::Accepted ? dialog.Chosen() : -1;
}

void* ProgressOpen(void*, const char* title) {
  if (!HaveWidgets()) return nullptr;
  auto* d = new QProgressDialog(QString::fromUtf8(title), "Cancel", 0, 100);
  d->setWindowTitle("Scanning");
  d->setMinimumDuration(500);
  d->setWindowModality(Qt::ApplicationModal);
  return d;
}

bool ProgressStep(void*, void* handle, int percent) {
  auto* d = static_cast<QProgressDialog*>(handle);
  d->setValue(std::min(percent, 99));
  QCoreApplication::processEvents();
  return !d->wasCanceled();
}

void ProgressClose(void*, void* handle) { delete static_cast<QProgressDialog*>(handle); }

bool Settings(void*, void* parent, const char* title, VexaDSMOption* options, int count) {
  if (!HaveWidgets()) return true;
  QWidget* p = nullptr;
  for (QWidget* w : QApplication::allWidgets())
    if (w == parent) p = w;
  TVXTWSettingsDialog dialog(p, QString::fromUtf8(title), options, count);
  return dialog.exec() == QDialog::Accepted;
}

TQtHost gQtHost;
const VexaDSMUI gDialogs{sizeof(VexaDSMUI), nullptr, SelectSource, ProgressOpen, ProgressStep, ProgressClose,
                         Settings};

}  // namespace

void VXTW_InstallUI() {
  VXTW_Install();
  VXTW_SetHost(&gQtHost);
  VXTW_SetDSMUI(&gDialogs);
}

TVXTWSourceDialog::TVXTWSourceDialog(QWidget* parent, const QStringList& names, int current)
    : QDialog(parent), FList(new QListWidget(this)) {
  setWindowTitle("Select Source");
  FList->addItems(names);
  if (current >= 0 && current < names.size()) FList->setCurrentRow(current);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(FList, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FList);
  layout->addWidget(buttons);
}

int TVXTWSourceDialog::Chosen() const { return FList->currentRow(); }

TVXTWSettingsDialog::TVXTWSettingsDialog(QWidget* parent, const QString& title, VexaDSMOption* options, int count)
    : QDialog(parent), FOptions(options) {
  setWindowTitle(title);
  auto* form = new QFormLayout;
  FPresses.assign(static_cast<size_t>(std::max(count, 0)), 0);
  for (int i = 0; i < count; ++i) {
    const VexaDSMOption& o = options[i];
    const QString title = QString::fromUtf8(o.Title);
    QWidget* field;
    if (o.Kind == VexaDSMNumber) {
      auto* spin = new QDoubleSpinBox(this);
      spin->setDecimals(o.Step >= 1 || o.Step <= 0 ? 0 : 2);
      spin->setRange(o.Min, o.Max);
      if (o.Step > 0) spin->setSingleStep(o.Step);
      spin->setValue(o.Value);
      field = spin;
    } else if (o.Kind == VexaDSMChoice) {
      auto* combo = new QComboBox(this);
      for (int k = 0; k < o.ChoiceCount; ++k) combo->addItem(QString::fromUtf8(o.Choices[k]));
      combo->setCurrentIndex(o.Current);
      field = combo;
    } else if (o.Kind == VexaDSMSwitch) {
      auto* check = new QCheckBox(this);
      check->setChecked(o.Value != 0);
      field = check;
    } else if (o.Kind == VexaDSMButton) {
      auto* button = new QPushButton(title, this);
      connect(button, &QPushButton::clicked, this, [this, i] { ++FPresses[static_cast<size_t>(i)]; });
      field = button;
    } else {
      field = new QWidget(this);  // a kind this dialog does not know: shown as nothing, left as it is
    }
    field->setObjectName(QString::fromUtf8(o.Name));
    if (o.Kind == VexaDSMButton)
      form->addRow(field);
    else
      form->addRow(title, field);
    FFields << field;
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  // Enter scans: the dialog stands between the user and the page.
  buttons->addButton("Scan", QDialogButtonBox::AcceptRole)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

void TVXTWSettingsDialog::accept() {
  for (int i = 0; i < FFields.size(); ++i) {
    if (auto* spin = qobject_cast<QDoubleSpinBox*>(FFields[i]))
      FOptions[i].Value = spin->value();
    else if (auto* combo = qobject_cast<QComboBox*>(FFields[i]))
      FOptions[i].Current = combo->currentIndex();
    else if (auto* check = qobject_cast<QCheckBox*>(FFields[i]))
      FOptions[i].Value = check->isChecked() ? 1 : 0;
    else if (qobject_cast<QPushButton*>(FFields[i]))
      FOptions[i].Value = FPresses[static_cast<size_t>(i)];
  }
  QDialog::accept();
}

}  // namespace vexa
