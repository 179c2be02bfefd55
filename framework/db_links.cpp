// Data sources and data links: how controls follow a dataset's records and states.
#include "framework/db.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "framework/db_support.h"

namespace fw {

using namespace dbsupport;

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  SetDestroying();
  bool quiet = Owner() && Owner()->Destroying();
  for (auto* link : std::vector<TDataLink*>(links_)) {
    link->dataSource_ = nullptr;
    if (quiet) link->active_ = link->editing_ = false;
    else link->UpdateActive();
  }
  links_.clear();
  if (dataSet_) dataSet_->RemoveDataSource(this);
  dataSet_ = nullptr;
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (dataSet_) {
    dataSet_->RemoveDataSource(this);
    RemoveFreeNotification(dataSet_);
  }
  dataSet_ = dataSet;
  if (dataSet_) {
    dataSet_->AddDataSource(this);
    FreeNotification(dataSet_);
  }
  UpdateState();
  UpdateLinks();
}

void TDataSource::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  UpdateState();
  UpdateLinks();
}

bool TDataSource::Quiet() const { return Destroying() || (Owner() && Owner()->Destroying()); }

void TDataSource::UpdateLinks() {
  for (auto* link : std::vector<TDataLink*>(links_)) {
    if (!Quiet()) {
      link->DataEvent(TDataEvent::UpdateState, 0);
    } else if (!(enabled_ && dataSet_ && dataSet_->Active())) {
      link->active_ = link->editing_ = false;
    }
  }
}

void TDataSource::Edit() {
  if (autoEdit_ && dataSet_ && state_ == dsBrowse) dataSet_->Edit();
}

void TDataSource::Notification(TComponent* component, Operation operation) {
  TComponent::Notification(component, operation);
  if (operation == Operation::Remove && component == dataSet_) SetDataSet(nullptr);
}

void TDataSource::UpdateState() {
  TDataSetState s = enabled_ && dataSet_ ? dataSet_->State() : dsInactive;
  if (s == state_) return;
  state_ = s;
  if (OnStateChange && !Quiet()) OnStateChange(this);
}

void TDataSource::AddLink(TDataLink* link) { links_.push_back(link); }

void TDataSource::RemoveLink(TDataLink* link) { links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end()); }

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (Quiet()) {
    if (event == TDataEvent::UpdateState) UpdateLinks();
    return;
  }
  if (event == TDataEvent::UpdateState) UpdateState();
  if (!enabled_ && event != TDataEvent::UpdateState) return;
  for (auto* link : std::vector<TDataLink*>(links_)) {
    if (std::find(links_.begin(), links_.end(), link) == links_.end()) continue;
    link->DataEvent(event, info);
    if (event == TDataEvent::FocusControl && *reinterpret_cast<TField**>(info) == nullptr) return;
  }
  switch (event) {
    case TDataEvent::FieldChange:
      if (OnDataChange) OnDataChange(this, reinterpret_cast<TField*>(info));
      break;
    case TDataEvent::RecordChange:
    case TDataEvent::DataSetChange:
    case TDataEvent::DataSetScroll:
    case TDataEvent::LayoutChange:
      if (OnDataChange) OnDataChange(this, nullptr);
      break;
    case TDataEvent::UpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default:
      break;
  }
}

bool TDataSource::ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) {
  if (name == "DataSet") {
    StoredReference<TDataSet>(value, reader, [this](TDataSet* ds) { SetDataSet(ds); });
    return true;
  }
  if (name == "Enabled") return SetEnabled(BoolValue(value)), true;
  if (name == "AutoEdit") return SetAutoEdit(BoolValue(value)), true;
  if (name == "OnStateChange") return OnStateChange = StoredMethod(value, reader), true;
  if (name == "OnUpdateData") return OnUpdateData = StoredMethod(value, reader), true;
  if (name == "OnDataChange") {
    auto m = StoredMethod(value, reader);
    OnDataChange = m ? std::function<void(TComponent*, TField*)>([m](TComponent* s, TField*) { m(s); }) : nullptr;
    return true;
  }
  return TComponent::ReadProperty(name, value, reader);
}

// ---------------------------------------------------------------------------------------------------------
// Data links

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
  if (dataSource_) dataSource_->RemoveLink(this);
  TDataSet* ds = DataSet();
  if (ds && ds->ReadRowOverride() >= 0) ds->SetReadRowOverride(-1);
}

TDataSet* TDataLink::DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (dataSource_) dataSource_->RemoveLink(this);
  dataSource_ = source;
  if (dataSource_) dataSource_->AddLink(this);
  UpdateActive();
  UpdateEditing();
}

void TDataLink::SetReadOnly(bool v) {
  if (v == readOnly_) return;
  readOnly_ = v;
  UpdateEditing();
}

void TDataLink::SetBufferCount(int count) {
  bufferCount_ = std::max(1, count);
  if (active_) FollowCurrent();
}

int TDataLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  if (!active_ || !ds) return 0;
  int row = ds->ReadRowOverride() >= 0 ? ds->ReadRowOverride() : ds->CurrentRow();
  return std::max(0, row - first_);
}

void TDataLink::SetActiveRecord(int index) {
  TDataSet* ds = DataSet();
  if (!active_ || !ds) return;
  int row = first_ + index;
  ds->SetReadRowOverride(row == ds->CurrentRow() ? -1 : row);
}

int TDataLink::RecordCount() const {
  TDataSet* ds = DataSet();
  if (!active_ || !ds) return 0;
  return std::clamp(ds->RowCount() - first_, 0, bufferCount_);
}

bool TDataLink::Edit() {
  if (!readOnly_ && dataSource_) dataSource_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

int TDataLink::MoveBy(int distance) {
  TDataSet* ds = DataSet();
  return active_ && ds ? ds->MoveBy(distance) : 0;
}

bool TDataLink::Bof() const { return !active_ || DataSet()->Bof(); }
bool TDataLink::Eof() const { return !active_ || DataSet()->Eof(); }

int TDataLink::FollowCurrent() {
  TDataSet* ds = DataSet();
  int old = first_;
  if (!active_ || !ds) {
    first_ = 0;
    return 0;
  }
  int total = ds->RowCount();
  int cur = ds->CurrentRow();
  if (cur < 0) {
    first_ = 0;
  } else {
    if (cur < first_) first_ = cur;
    else if (cur >= first_ + bufferCount_) first_ = cur - bufferCount_ + 1;
    // Keep the window full when records went away below it.
    if (first_ + bufferCount_ > total) first_ = std::max(0, std::min(first_, total - bufferCount_));
  }
  return first_ - old;
}

void TDataLink::UpdateActive() {
  TDataSet* ds = DataSet();
  bool active = dataSource_ && dataSource_->Enabled() && ds && ds->Active();
  if (active == active_) return;
  active_ = active;
  first_ = 0;
  if (active_) FollowCurrent();
  ActiveChanged();
}

void TDataLink::UpdateEditing() {
  TDataSet* ds = DataSet();
  bool editing = active_ && !readOnly_ && ds && (ds->State() == dsEdit || ds->State() == dsInsert);
  if (editing == editing_) return;
  editing_ = editing;
  EditingChanged();
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
  if (event == TDataEvent::UpdateState) {
    UpdateActive();
    if (active_) FollowCurrent();
    UpdateEditing();
    return;
  }
  if (!active_) return;
  switch (event) {
    case TDataEvent::FieldChange: RecordChanged(reinterpret_cast<TField*>(info)); break;
    case TDataEvent::RecordChange: RecordChanged(nullptr); break;
    case TDataEvent::DataSetChange:
      FollowCurrent();
      DataSetChanged();
      break;
    case TDataEvent::LayoutChange:
      FollowCurrent();
      LayoutChanged();
      break;
    case TDataEvent::DataSetScroll: DataSetScrolled(FollowCurrent()); break;
    case TDataEvent::UpdateRecord:
      if (!updating_) UpdateRecord();
      break;
    case TDataEvent::CheckBrowseMode: CheckBrowseMode(); break;
    case TDataEvent::FocusControl: FocusControl(reinterpret_cast<TField**>(info)); break;
    default: break;
  }
}

}  // namespace fw
