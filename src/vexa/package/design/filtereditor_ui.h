// The editor of file-dialog filters: "Description|*.ext;*.ext|..." edited as a table
// of (description, masks) rows, with the formats of the file-format registry
// offered for adding.
#pragma once

#include <QDialog>
#include <QString>
#include <utility>
#include <vector>

#include "vexa/package/design/palette_ui.h"

class QComboBox;
class QTableWidget;

namespace vexa {

using TVXFilterPair = std::pair<QString, QString>;

/// Splits a filter string into (description, masks) pairs. A trailing description
/// without masks keeps empty masks; an empty string gives no pairs.
VEXADSGN_EXPORT std::vector<TVXFilterPair> VXSplitFilter(const QString& filter);
/// Joins pairs back, leaving out pairs whose both halves are empty.
VEXADSGN_EXPORT QString VXJoinFilter(const std::vector<TVXFilterPair>& pairs);
/// One pair per registered format: "Full name (*.a;*.b)" and "*.a;*.b".
VEXADSGN_EXPORT std::vector<TVXFilterPair> VXRegistryFilterPairs();

/// The filter editor dialog: one row per (description, masks) pair.
class VEXADSGN_EXPORT TVXFilterEditor : public QDialog {
  Q_OBJECT

 public:
  explicit TVXFilterEditor(QWidget* parent = nullptr);

  void SetFilter(const QString& filter);
  QString Filter() const;
  std::vector<TVXFilterPair> Pairs() const;

  /// Appends the registry format at index (of VXRegistryFilterPairs) as a new row.
  void AddRegistryFormat(int index);
  void AddRow(const TVXFilterPair& pair = {});
  void DeleteRow(int row);
  void MoveRow(int row, int delta);

  QTableWidget* Table() const { return FTable; }
  QComboBox* Formats() const { return FFormats; }

 private:
  QTableWidget* FTable;
  QComboBox* FFormats;
};

/// The "Filter" property editor: the dialog above, modal.
class VEXADSGN_EXPORT TVXFilterPropertyEditor : public TVXPropertyEditor {
 public:
  bool Edit(QWidget* parent, QString& value) override;
};

}  // namespace vexa
