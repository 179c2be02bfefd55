// The form-placement store and the grid's column layout kept in it.
#include "grid/jvdbgrid.h"

#include <commctrl.h>

#include <algorithm>
#include <array>

#include "framework/forms.h"
#include "framework/typinfo.h"
#include "grid/jvdbgrid_support.h"

namespace fw {

using namespace jvgrid;
using namespace gridsupport;

// ---------------------------------------------------------------------------------------------------------
// Form placement store

void TJvFormStorage::SaveFormPlacement() {
  for (auto& l : listeners_) l.second(true);
}

void TJvFormStorage::RestoreFormPlacement() {
  for (auto& l : listeners_) l.second(false);
}

void TJvFormStorage::AddListener(TComponent* who, std::function<void(bool)> call) {
  RemoveListener(who);
  listeners_.emplace_back(who, std::move(call));
}

void TJvFormStorage::RemoveListener(TComponent* who) {
  std::erase_if(listeners_, [who](const auto& l) { return l.first == who; });
}

bool TJvFormStorage::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "AppStoragePath") SetAppStoragePath(StringValue(v));
  else return TComponent::ReadProperty(name, v, reader);
  return true;
}



// ---------------------------------------------------------------------------------------------------------
// Stored layout

void TJvDBGrid::SaveColumnLayout() {
  if (!iniStorage_ || !iniStorage_->HasAppStorage() || Name().empty()) return;
  auto& store = iniStorage_->Store();
  const std::string& path = iniStorage_->AppStoragePath();
  if (Columns().State() == TDBGridColumnsState::csCustomized) {
    for (int i = 0; i < Columns().Count(); ++i) {
      TColumn* c = Columns()[i];
      store.WriteString(path, LayoutKey(Name(), c->FieldName()), LayoutValue(i, c->Visible() ? c->Width() : -1));
    }
  } else if (TDataSet* ds = DataLink().DataSet()) {
    // Default columns: the fields' own layout (position and visibility).
    for (int i = 0; i < ds->FieldCount(); ++i) {
      TField* f = ds->Fields()[i];
      store.WriteString(path, LayoutKey(ds->Name().empty() ? Name() : ds->Name(), f->FieldName()),
                        LayoutValue(f->Index(), f->Visible() ? f->DisplayWidth() : -1));
    }
  }
}

void TJvDBGrid::RestoreColumnLayout() {
  if (!iniStorage_ || !iniStorage_->HasAppStorage() || Name().empty()) return;
  auto& store = iniStorage_->Store();
  const std::string& path = iniStorage_->AppStoragePath();
  if (Columns().State() == TDBGridColumnsState::csCustomized) {
    struct Entry {
      TColumn* column;
      int index;
    };
    std::vector<Entry> order;
    BeginLayout();
    try {
      for (int i = 0; i < Columns().Count(); ++i) {
        TColumn* c = Columns()[i];
        auto v = store.ReadString(path, LayoutKey(Name(), c->FieldName()));
        LayoutEntry e = v ? ParseLayoutValue(*v, i, c->Width()) : LayoutEntry{i, c->Width(), c->Visible()};
        if (v) {
          c->SetWidth(e.width);
          c->SetVisible(e.visible);
        }
        order.push_back({c, e.index});
      }
      std::stable_sort(order.begin(), order.end(), [](const Entry& a, const Entry& b) { return a.index < b.index; });
      for (int target = 0; target < static_cast<int>(order.size()); ++target) {
        int from = order[static_cast<size_t>(target)].column->Index();
        if (from != target) Columns().Move(from, target);
      }
    } catch (...) {
      EndLayout();
      throw;
    }
    EndLayout();
  } else if (TDataSet* ds = DataLink().DataSet()) {
    for (int i = 0; i < ds->FieldCount(); ++i) {
      TField* f = ds->Fields()[i];
      auto v = store.ReadString(path, LayoutKey(ds->Name().empty() ? Name() : ds->Name(), f->FieldName()));
      if (!v) continue;
      LayoutEntry e = ParseLayoutValue(*v, f->Index(), f->DisplayWidth());
      f->SetVisible(e.visible);
      if (e.visible) f->SetDisplayWidth(e.width);
    }
  }
}

}  // namespace fw
