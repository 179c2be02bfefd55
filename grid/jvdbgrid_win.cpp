#include "grid/jvdbgrid.h"

#include "framework/exceptions.h"

namespace fw {

bool TJvSelectDialogColumnStrings::ReadProperty(std::string_view name, const Value& v, TReader&) {
  if (name == "Caption") Caption = StringValue(v);
  else if (name == "RealNamesOption") RealNamesOption = StringValue(v);
  else if (name == "OK") OK = StringValue(v);
  else if (name == "NoSelectionWarning") NoSelectionWarning = StringValue(v);
  else return false;
  return true;
}

TJvDBGrid::TJvDBGrid(TComponent* owner) : TCustomDBGrid(owner) {}

void TJvDBGrid::SetRowsHeight(int height) {
  rowsHeight_ = height;
  if (!autoSizeRows_ && height != DefaultRowHeight()) SetDefaultRowHeight(height);
}

void TJvDBGrid::SetTitleRowHeight(int height) {
  titleRowHeight_ = height;
  if (!autoSizeRows_ && (Options() & dgTitles) && height != RowHeight(0)) SetRowHeight(0, height);
}

bool TJvDBGrid::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "RowsHeight") {
    SetRowsHeight(static_cast<int>(IntegerValue(v)));
  } else if (name == "TitleRowHeight") {
    SetTitleRowHeight(static_cast<int>(IntegerValue(v)));
  } else if (name == "AutoSizeRows") {
    autoSizeRows_ = BoolValue(v);
  } else if (name == "EditControls") {
    if (v.type != ValueType::Collection) throw EReadError("Invalid property value");
  } else {
    return TCustomDBGrid::ReadProperty(name, v, reader);
  }
  return true;
}

TPersistent* TJvDBGrid::SubObject(std::string_view name) {
  if (name == "SelectColumnsDialogStrings") return &selectStrings_;
  return TCustomDBGrid::SubObject(name);
}

static ClassRegistration<TJvDBGrid> registerJvDBGrid("TJvDBGrid");

}  // namespace fw
