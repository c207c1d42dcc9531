#include "vexa/acquire/avidialog_ui.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QVBoxLayout>

namespace vexa {

namespace {
// Only these take a quality; the others are exact.
bool Lossy(const QString& name) { return name == "mjpeg" || name == "mpeg4"; }
}  // namespace

TVXAviOptionsForm::TVXAviOptionsForm(const TVXAviOptions& options, QWidget* parent) : QDialog(parent) {
  setWindowTitle("compression options");
  auto* layout = new QVBoxLayout(this);
  FList = new QListWidget(this);
  const QString want = QString::fromStdString(options.Encoder.empty() ? kVXAviDefaultEncoder : options.Encoder);
  for (const TVXAviEncoder& e : VXAviEncoders()) {
    auto* item = new QListWidgetItem(QString::fromStdString(e.Description), FList);
    item->setData(Qt::UserRole, QString::fromStdString(e.Name));
    if (item->data(Qt::UserRole).toString() == want) FList->setCurrentItem(item);
  }
  if (!FList->currentItem() && FList->count() > 0) FList->setCurrentRow(0);
  layout->addWidget(FList);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("Quality", this));
  FQuality = new QSpinBox(this);
  FQuality->setRange(1, 100);
  FQuality->setValue(options.Quality);
  row->addWidget(FQuality);
  layout->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  connect(FList, &QListWidget::currentRowChanged, this, [this] { EncoderChanged(); });
  EncoderChanged();
}

void TVXAviOptionsForm::EncoderChanged() {
  const QListWidgetItem* item = FList->currentItem();
  FQuality->setEnabled(item && Lossy(item->data(Qt::UserRole).toString()));
}

TVXAviOptions TVXAviOptionsForm::Options() const {
  TVXAviOptions o;
  if (const QListWidgetItem* item = FList->currentItem()) o.Encoder = item->data(Qt::UserRole).toString().toStdString();
  o.Quality = FQuality->value();
  return o;
}

bool VXShowAviOptionsDialog(TVXAviOptions& options, QWidget* parent) {
  TVXAviOptionsForm form(options, parent ? parent : QApplication::activeWindow());
  if (form.exec() != QDialog::Accepted) return false;
  options = form.Options();
  return !options.Encoder.empty();
}

void VXInstallAviOptionsDialog() {
  gVXAviOptionsDialog = [](TVXAviOptions& options) { return VXShowAviOptionsDialog(options); };
}

}  // namespace vexa
