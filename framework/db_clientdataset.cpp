// The client dataset: a dataset over the dataset engine, opened from a stored table image or created from
// field definitions.
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
#include "framework/midas_api.h"

namespace fw {

using namespace dbsupport;

namespace {
std::string& LibraryName() {
  static std::string name = "MIDAS.DLL";
  return name;
}
}  // namespace

void SetMidasLibraryName(std::string name) { LibraryName() = std::move(name); }
const std::string& MidasLibraryName() { return LibraryName(); }

struct TClientDataSet::Engine {
  const MidasApi& api;
  midas_table* table = nullptr;
  std::vector<midas_column> columns;

  explicit Engine(const MidasApi& a) : api(a) {}
  ~Engine() {
    if (table) api.midas_free(table);
  }
  void Check(int rc) const {
    if (rc != MIDAS_OK) DatabaseError(api.midas_last_error());
  }
  Variant Read(int row, int fieldNo) const {
    midas_value v{};
    Check(api.midas_get_value(table, row, fieldNo - 1, &v));
    if (v.is_null) return {};
    switch (columns[static_cast<size_t>(fieldNo - 1)].type) {
      case MIDAS_T_INT: case MIDAS_T_UINT: return Variant(v.i);
      case MIDAS_T_BOOL: return Variant(v.i != 0);
      case MIDAS_T_FLOAT: return Variant(v.f);
      default: return Variant(std::string(v.data ? v.data : "", v.size));
    }
  }
};

TClientDataSet::TClientDataSet(TComponent* owner) : TDataSet(owner) {}

TClientDataSet::~TClientDataSet() {
  SetDestroying();
  if (Active()) Close();
}

namespace {
// Engine column for a field type; false when the engine has no such column.
bool ColumnOfType(const TFieldDef& def, midas_column& c) {
  c = midas_column{};
  c.name = def.Name.c_str();
  c.attributes = def.Required ? MIDAS_A_REQUIRED : 0;
  if (def.ReadOnly) c.attributes |= MIDAS_A_READONLY;
  switch (GroupOf(def.DataType)) {
    case TypeGroup::Text:
      c.type = MIDAS_T_STRING, c.varying = 1, c.max_length = static_cast<uint32_t>(def.Size > 0 ? def.Size : 20);
      return true;
    case TypeGroup::Integer:
      c.type = def.DataType == ftWord ? MIDAS_T_UINT : MIDAS_T_INT;
      c.width = def.DataType == ftSmallint || def.DataType == ftWord ? 2 : def.DataType == ftLargeint ? 8 : 4;
      return true;
    case TypeGroup::Logical: c.type = MIDAS_T_BOOL, c.width = 2; return true;
    case TypeGroup::Float: c.type = MIDAS_T_FLOAT, c.width = 8; return true;
    case TypeGroup::Memo: c.type = MIDAS_T_MEMO, c.varying = 1, c.width = 4; return true;
    case TypeGroup::Blob: c.type = MIDAS_T_BLOB, c.varying = 1, c.width = 4; return true;
    case TypeGroup::Bytes:
      c.type = MIDAS_T_BYTES;
      if (def.DataType == ftVarBytes) c.varying = 1, c.max_length = static_cast<uint32_t>(std::max(def.Size, 0));
      else c.width = static_cast<uint16_t>(std::clamp(def.Size, 1, 0xFFFF));
      return true;
    default: return false;
  }
}

TFieldDef DefOfColumn(const midas_column& c) {
  TFieldDef d;
  d.Name = c.name;
  d.Required = (c.attributes & MIDAS_A_REQUIRED) != 0;
  d.ReadOnly = (c.attributes & MIDAS_A_READONLY) != 0;
  d.Hidden = (c.attributes & MIDAS_A_HIDDEN) != 0;
  switch (c.type) {
    case MIDAS_T_INT: d.DataType = c.width <= 2 ? ftSmallint : c.width == 4 ? ftInteger : ftLargeint; break;
    case MIDAS_T_UINT: d.DataType = c.width <= 2 ? ftWord : ftLargeint; break;
    case MIDAS_T_BOOL: d.DataType = ftBoolean; break;
    case MIDAS_T_FLOAT: d.DataType = ftFloat; break;
    case MIDAS_T_STRING:
      // Text without a length limit is a memo.
      if (c.max_length == 0) d.DataType = ftMemo;
      else d.DataType = ftString, d.Size = static_cast<int>(std::min<uint32_t>(c.max_length, 0x7FFFFFFF));
      break;
    case MIDAS_T_BYTES:
      d.DataType = c.varying ? ftVarBytes : ftBytes;
      d.Size = static_cast<int>(c.varying ? c.max_length : c.width);
      break;
    case MIDAS_T_MEMO: d.DataType = ftMemo; break;
    default: d.DataType = ftBlob; break;
  }
  return d;
}
}  // namespace

void TClientDataSet::InternalOpen() {
  const MidasApi& api = LoadMidas(MidasLibraryName());
  auto engine = std::make_unique<Engine>(api);
  if (createFromDefs_) {
    std::vector<midas_column> cols(static_cast<size_t>(FieldDefs().Count()));
    for (int i = 0; i < FieldDefs().Count(); ++i)
      if (!ColumnOfType(FieldDefs()[i], cols[static_cast<size_t>(i)]))
        DatabaseError("Field type " + std::string(FieldTypeName(FieldDefs()[i].DataType)) + " of field '" +
                      FieldDefs()[i].Name + "' is not supported");
    engine->Check(api.midas_create(cols.data(), static_cast<int>(cols.size()), &engine->table));
  } else {
    if (data_.empty()) DatabaseError(Name() + ": Missing data provider or data packet");
    if (data_.size() > 0xFFFFFFFFu) DatabaseError("Table image too large");
    engine->Check(api.midas_open_image(data_.data(), static_cast<uint32_t>(data_.size()), &engine->table));
  }
  int n = api.midas_column_count(engine->table);
  FieldDefs().Clear();
  for (int i = 0; i < n; ++i) {
    midas_column c{};
    engine->Check(api.midas_get_column(engine->table, i, &c));
    engine->columns.push_back(c);
    TFieldDef d = DefOfColumn(c);
    FieldDefs().Add(d.Name, d.DataType, d.Size, d.Required);
    const_cast<TFieldDef&>(FieldDefs()[i]).ReadOnly = d.ReadOnly;
    const_cast<TFieldDef&>(FieldDefs()[i]).Hidden = d.Hidden;
  }
  engine_ = std::move(engine);
}

void TClientDataSet::InternalClose() { engine_.reset(); }

int TClientDataSet::InternalRowCount() const { return engine_ ? engine_->api.midas_row_count(engine_->table) : 0; }

Variant TClientDataSet::InternalGetValue(int row, int fieldNo) const { return engine_->Read(row, fieldNo); }

Variant TClientDataSet::InternalGetBufferValue(int fieldNo) const { return engine_->Read(MIDAS_BUFFER, fieldNo); }

void TClientDataSet::InternalSetBufferValue(int fieldNo, const Variant& v) {
  const midas_column& c = engine_->columns[static_cast<size_t>(fieldNo - 1)];
  midas_value mv{};
  std::string bytes;
  mv.is_null = v.IsNull();
  if (!mv.is_null) {
    switch (c.type) {
      case MIDAS_T_INT: case MIDAS_T_UINT: mv.i = v.AsInt(); break;
      case MIDAS_T_BOOL: mv.i = v.AsBool(); break;
      case MIDAS_T_FLOAT: mv.f = v.AsFloat(); break;
      default:
        bytes = v.AsString();
        if (bytes.size() > 0xFFFFFFFFu) DatabaseError("Value too large");
        mv.data = bytes.data();
        mv.size = static_cast<uint32_t>(bytes.size());
        break;
    }
  }
  engine_->Check(engine_->api.midas_set_value(engine_->table, fieldNo - 1, &mv));
}

void TClientDataSet::InternalBeginInsert(int row) {
  engine_->Check(engine_->api.midas_insert(engine_->table, row));
}

void TClientDataSet::InternalBeginEdit(int row) { engine_->Check(engine_->api.midas_edit(engine_->table, row)); }

int TClientDataSet::InternalPost() {
  int row = 0;
  engine_->Check(engine_->api.midas_post(engine_->table, &row));
  return row;
}

void TClientDataSet::InternalCancel() { engine_->Check(engine_->api.midas_cancel(engine_->table)); }

void TClientDataSet::InternalDelete(int row) { engine_->Check(engine_->api.midas_delete(engine_->table, row)); }

TBookmark TClientDataSet::InternalBookmark(int row) const {
  uint32_t id = engine_ ? engine_->api.midas_row_id(engine_->table, row) : 0;
  if (id == 0) return {};
  TBookmark b(4, '\0');
  for (int i = 0; i < 4; ++i) b[static_cast<size_t>(i)] = static_cast<char>((id >> (8 * i)) & 0xFF);
  return b;
}

int TClientDataSet::InternalBookmarkRow(const TBookmark& bookmark) const {
  if (!engine_ || bookmark.size() != 4) return -1;
  uint32_t id = 0;
  for (int i = 0; i < 4; ++i) id |= static_cast<uint32_t>(static_cast<uint8_t>(bookmark[static_cast<size_t>(i)])) << (8 * i);
  return engine_->api.midas_row_of_id(engine_->table, id);
}

std::string TClientDataSet::Data() const {
  if (!engine_) return data_;
  uint32_t size = 0;
  engine_->api.midas_save_image(engine_->table, nullptr, 0, &size);
  std::string image(size, '\0');
  engine_->Check(engine_->api.midas_save_image(engine_->table, image.data(), size, &size));
  return image;
}

void TClientDataSet::SetData(std::string image) {
  bool reopen = Active();
  if (reopen) Close();
  data_ = std::move(image);
  createFromDefs_ = false;
  if (reopen) Open();
}

void TClientDataSet::CreateDataSet() {
  if (Active()) Close();
  if (FieldDefs().Count() == 0) {
    ForEachField(Fields(), [this](TField* f) {
      if (f->FieldKind() == fkData && f->DataType() != ftADT)
        FieldDefs().Add(f->FullName(), f->DataType(), f->Size(), f->Required());
    });
    if (FieldDefs().Count() == 0) DatabaseError(Name() + ": Missing data provider or data packet");
  }
  createFromDefs_ = true;
  try {
    Open();
  } catch (...) {
    createFromDefs_ = false;
    throw;
  }
  createFromDefs_ = false;
  data_.clear();
}

int TClientDataSet::RecordStatus() const {
  if (!engine_ || State() == dsInsert) return State() == dsInsert ? MIDAS_RS_INSERTED : 0;
  int row = ReadRow();
  int s = row < 0 ? 0 : engine_->api.midas_row_state(engine_->table, row);
  return s < 0 ? 0 : s;
}

int TClientDataSet::ChangeCount() const {
  return engine_ ? engine_->api.midas_change_count(engine_->table) : 0;
}

bool TClientDataSet::ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) {
  if (name == "Data") {
    if (value.type != ValueType::Binary) throw EReadError("Invalid property value");
    data_ = value.bytes;
    return true;
  }
  if (name == "FieldDefs") {
    if (value.type != ValueType::Collection) throw EReadError("Invalid property value");
    FieldDefs().Clear();
    for (const auto& item : value.items) {
      TFieldDef d;
      for (const auto& p : item.properties) {
        if (p.name == "Name") d.Name = StringValue(p.value);
        else if (p.name == "DataType") {
          if (!FieldTypeFromName(p.value.text, d.DataType)) throw EReadError("Invalid property value");
        } else if (p.name == "Size") d.Size = static_cast<int>(IntegerValue(p.value));
        else if (p.name == "Attributes") {
          for (const auto& a : p.value.set) {
            if (a == "faRequired") d.Required = true;
            if (a == "faReadonly") d.ReadOnly = true;
            if (a == "faHiddenCol") d.Hidden = true;
          }
        }
      }
      FieldDefs().Add(d.Name, d.DataType, d.Size, d.Required);
    }
    return true;
  }
  // Collections and settings this dataset keeps no use for.
  if (name == "Aggregates" || name == "Params" || name == "IndexDefs") {
    if (value.type != ValueType::Collection) throw EReadError("Invalid property value");
    return true;
  }
  if (name == "StoreDefs" || name == "AggregatesActive" || name == "FetchOnDemand" || name == "DisableStringTrim")
    return BoolValue(value), true;
  if (name == "ProviderName" || name == "FileName" || name == "IndexName" || name == "IndexFieldNames" ||
      name == "MasterFields" || name == "Filter")
    return true;
  if (name == "PacketRecords") return IntegerValue(value), true;
  return TDataSet::ReadProperty(name, value, reader);
}

}  // namespace fw
