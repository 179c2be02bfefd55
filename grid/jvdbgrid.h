// The contact editor's data grid: the framework's data-aware grid with its own stored properties (column
// chooser texts, external edit controls, row heights).
#pragma once
#include <string>

#include "framework/dbgrids.h"

namespace fw {

class TJvSelectDialogColumnStrings : public TPersistent {
 public:
  std::string Caption = "Select columns";
  std::string RealNamesOption;
  std::string OK = "&OK";
  std::string NoSelectionWarning = "At least one column must be visible!";
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
};

class TJvDBGrid : public TCustomDBGrid {
 public:
  explicit TJvDBGrid(TComponent* owner);

  TJvSelectDialogColumnStrings& SelectColumnsDialogStrings() { return selectStrings_; }
  bool AutoSizeRows() const { return autoSizeRows_; }
  // With AutoSizeRows the data rows keep the font-derived default height and RowsHeight reads it.
  int RowsHeight() const { return autoSizeRows_ ? DefaultRowHeight() : rowsHeight_; }
  void SetRowsHeight(int height);
  int TitleRowHeight() const { return autoSizeRows_ ? RowHeight(0) : titleRowHeight_; }
  void SetTitleRowHeight(int height);

  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
  TPersistent* SubObject(std::string_view name) override;

 private:
  TJvSelectDialogColumnStrings selectStrings_;
  bool autoSizeRows_ = true;
  int rowsHeight_ = 0;
  int titleRowHeight_ = 0;
};

}  // namespace fw
