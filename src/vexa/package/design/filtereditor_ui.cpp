#include "vexa/package/design/filtereditor_ui.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QStringList>
#include <QTableWidget>
#include <QVBoxLayout>

#include "vexa/io/formats.h"

namespace vexa {

std::vector<TVXFilterPair> VXSplitFilter(const QString& filter) {
  std::vector<TVXFilterPair> pairs;
  if (filter.isEmpty()) return pairs;
  const QStringList parts = filter.split(QLatin1Char('|'));
  for (qsizetype i = 0; i < parts.size(); i += 2)
    pairs.emplace_back(parts[i], i + 1 < parts.size() ? parts[i + 1] : QString());
  return pairs;
}

QString VXJoinFilter(const std::vector<TVXFilterPair>& pairs) {
  QStringList parts;
  for (const auto& [description, masks] : pairs) {
    if (description.isEmpty() && masks.isEmpty()) continue;
    parts << description << masks;
  }
  return parts.join(QLatin1Char('|'));
}

std::vector<TVXFilterPair> VXRegistryFilterPairs() {
  std::vector<TVXFilterPair> pairs;
  for (int i = 0; i < VXFileFormatCount(); ++i) {
    const TVXFileFormatInfo* info = VXFileFormatAt(i);
    QStringList masks;
    for (const QString& ext : QString::fromStdString(info->Extensions).split(QLatin1Char(';'), Qt::SkipEmptyParts))
      masks << QStringLiteral("*.") + ext.toLower();
    const QString joined = masks.join(QLatin1Char(';'));
    pairs.emplace_back(QString::fromStdString(info->FullName) + QStringLiteral(" (") + joined + QLatin1Char(')'),
                       joined);
  }
  return pairs;
}

TVXFilterEditor::TVXFilterEditor(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Filter Editor"));
  FTable = new QTableWidget(0, 2, this);
  FTable->setHorizontalHeaderLabels({QStringLiteral("Filter Name"), QStringLiteral("Filter")});
  FTable->horizontalHeader()->setStretchLastSection(true);
  FTable->setSelectionBehavior(QAbstractItemView::SelectRows);

  FFormats = new QComboBox(this);
  for (const auto& pair : VXRegistryFilterPairs()) FFormats->addItem(pair.first);
  auto* add = new QPushButton(QStringLiteral("Add format"), this);
  auto* addEmpty = new QPushButton(QStringLiteral("New row"), this);
  auto* remove = new QPushButton(QStringLiteral("Delete"), this);
  auto* up = new QPushButton(QStringLiteral("Up"), this);
  auto* down = new QPushButton(QStringLiteral("Down"), this);
  connect(add, &QPushButton::clicked, this, [this] { AddRegistryFormat(FFormats->currentIndex()); });
  connect(addEmpty, &QPushButton::clicked, this, [this] { AddRow(); });
  connect(remove, &QPushButton::clicked, this, [this] { DeleteRow(FTable->currentRow()); });
  connect(up, &QPushButton::clicked, this, [this] { MoveRow(FTable->currentRow(), -1); });
  connect(down, &QPushButton::clicked, this, [this] { MoveRow(FTable->currentRow(), 1); });

  auto* tools = new QHBoxLayout;
  tools->addWidget(FFormats, 1);
  for (QPushButton* b : {add, addEmpty, remove, up, down}) tools->addWidget(b);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FTable, 1);
  layout->addLayout(tools);
  layout->addWidget(buttons);
  resize(560, 320);
}

void TVXFilterEditor::SetFilter(const QString& filter) {
  FTable->setRowCount(0);
  for (const auto& pair : VXSplitFilter(filter)) AddRow(pair);
}

std::vector<TVXFilterPair> TVXFilterEditor::Pairs() const {
  std::vector<TVXFilterPair> pairs;
  auto text = [this](int row, int col) {
    const QTableWidgetItem* item = FTable->item(row, col);
    return item ? item->text() : QString();
  };
  for (int row = 0; row < FTable->rowCount(); ++row) pairs.emplace_back(text(row, 0), text(row, 1));
  return pairs;
}

QString TVXFilterEditor::Filter() const { return VXJoinFilter(Pairs()); }

void TVXFilterEditor::AddRegistryFormat(int index) {
  const auto pairs = VXRegistryFilterPairs();
  if (index >= 0 && index < static_cast<int>(pairs.size())) AddRow(pairs[static_cast<size_t>(index)]);
}

void TVXFilterEditor::AddRow(const TVXFilterPair& pair) {
  const int row = FTable->rowCount();
  FTable->insertRow(row);
  FTable->setItem(row, 0, new QTableWidgetItem(pair.first));
  FTable->setItem(row, 1, new QTableWidgetItem(pair.second));
  FTable->setCurrentCell(row, 0);
}

void TVXFilterEditor::DeleteRow(int row) {
  if (row >= 0 && row < FTable->rowCount()) FTable->removeRow(row);
}

void TVXFilterEditor::MoveRow(int row, int delta) {
  const int to = row + delta;
  if (row < 0 || row >= FTable->rowCount() || to < 0 || to >= FTable->rowCount()) return;
  for (int col = 0; col < 2; ++col) {
    QTableWidgetItem* a = FTable->takeItem(row, col);
    QTableWidgetItem* b = FTable->takeItem(to, col);
    FTable->setItem(row, col, b);
    FTable->setItem(to, col, a);
  }
  FTable->setCurrentCell(to, 0);
}

bool TVXFilterPropertyEditor::Edit(QWidget* parent, QString& value) {
  TVXFilterEditor editor(parent);
  editor.SetFilter(value);
  if (editor.exec() != QDialog::Accepted) return false;
  value = editor.Filter();
  return true;
}

}  // namespace vexa
