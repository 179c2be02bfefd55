// Datasets, fields, data sources and data links: the data-access half of the framework. Portable; the client
// dataset keeps its rows in the dataset engine (engine/midas.h), which the Windows build loads at run time
// from MIDAS.DLL and the native build links statically.
//
// Model in short:
// - A dataset has a state (inactive, browse, edit, insert) and a current record. Navigation first ends a
//   pending edit or insert the way a grid expects (CheckBrowseMode: post when modified, cancel otherwise).
// - While inserting, the new record is a row of its own at the insert position (it shows in every link's
//   window) until it is posted or cancelled; RecordCount counts posted records only.
// - Data-aware controls attach a TDataLink to a TDataSource. Each link has a window of BufferCount records
//   that follows the current record; a control reads record i of its window by setting ActiveRecord = i and
//   reading fields, and restores ActiveRecord afterwards.
// - Every change reaches the links and the data source as notifications (state, data, scroll, field).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "framework/component.h"
#include "framework/exceptions.h"

namespace fw {

class TDataSet;
class TDataSource;
class TDataLink;
class TField;
class TClientDataSet;
class TADTField;

using TNotifyEvent = std::function<void(TComponent* sender)>;

// ---------------------------------------------------------------------------------------------------------
// Values

// A field value: null, Boolean, integer, floating point, or text/bytes (single-byte text; blobs as bytes).
class Variant {
 public:
  enum Kind { vNull, vBool, vInt, vFloat, vString };
  Variant() = default;
  Variant(bool b) : v_(b) {}
  template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
  Variant(T i) : v_(static_cast<int64_t>(i)) {}
  Variant(double d) : v_(d) {}
  Variant(std::string s) : v_(std::move(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(std::string_view s) : v_(std::string(s)) {}

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool IsNull() const { return v_.index() == 0; }
  bool AsBool() const;            // null -> false; text "True"/"False" (ignoring case) or a number
  int64_t AsInt() const;          // null -> 0; float rounded toward zero; text parsed (EConvertError)
  double AsFloat() const;         // null -> 0; text parsed as StrToFloat (EConvertError)
  std::string AsString() const;   // null -> ""; True/False; integers in decimal; floats as FloatToStr
  bool operator==(const Variant& o) const { return v_ == o.v_; }
  bool operator!=(const Variant& o) const { return !(v_ == o.v_); }

 private:
  std::variant<std::monostate, bool, int64_t, double, std::string> v_;
};

inline Variant Null() { return Variant(); }

// Locale settings used by conversions between text and numbers.
struct TFormatSettings {
  char DecimalSeparator = '.';
};
TFormatSettings& FormatSettings();

// Text <-> number with the framework's messages: "'abc' is not a valid integer value",
// "'x' is not a valid floating point value" (EConvertError). Integers accept an optional sign, decimal digits
// or "$" followed by hexadecimal digits, with surrounding blanks. Floats use FormatSettings().DecimalSeparator.
int64_t StrToInt64(std::string_view text);
int32_t StrToInt(std::string_view text);
double StrToFloat(std::string_view text);
std::string FloatToStr(double value);  // up to 15 significant digits, with the decimal separator

// ---------------------------------------------------------------------------------------------------------
// Field types

enum TFieldType {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD, ftDate, ftTime,
  ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle,
  ftTypedBinary, ftCursor, ftFixedChar, ftWideString, ftLargeint, ftADT, ftArray, ftReference, ftDataSet,
  ftOraBlob, ftOraClob, ftVariant, ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd
};
const char* FieldTypeName(TFieldType type);     // "ftInteger"
bool FieldTypeFromName(std::string_view name, TFieldType& type);

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

enum TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// Notifications that a dataset sends to its data sources and their links.
enum class TDataEvent {
  FieldChange,       // info: TField*
  RecordChange,      // the current record's values changed as a whole
  DataSetChange,     // records were added/removed/reloaded: controls redraw everything
  DataSetScroll,     // the current record moved
  LayoutChange,      // fields were added/removed/changed
  UpdateRecord,      // controls write pending edits into the fields (before post)
  UpdateState,       // state changed
  CheckBrowseMode,   // controls finish their editing before the dataset leaves edit/insert
  FocusControl,      // info: TField** — a field asks to be focused
};

// Bookmark of a record: an opaque byte string, empty for "no record". Comparable with ==; order by
// TDataSet::CompareBookmarks.
using TBookmark = std::string;

// ---------------------------------------------------------------------------------------------------------
// Fields

class TField : public TComponent {
 public:
  explicit TField(TComponent* owner = nullptr);
  ~TField() override;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);

  const std::string& FieldName() const { return fieldName_; }
  void SetFieldName(std::string name);
  TFieldType DataType() const { return dataType_; }
  TFieldKind FieldKind() const { return fieldKind_; }
  void SetFieldKind(TFieldKind kind);
  int Size() const { return size_; }
  virtual void SetSize(int size);
  int Index() const;                 // position in the dataset's field list, -1 without dataset
  void SetIndex(int index);
  int FieldNo() const { return fieldNo_; }  // 1-based column of the engine table, 0 for non-data fields

  // Fields inside an object field: the object field that holds this one (nullptr for a top-level field) and
  // the name with every enclosing object field's name in front ("ADDRESS.CITY"). Setting the parent moves the
  // field from the dataset's top-level list into the parent's child list (only while the dataset is closed).
  TADTField* ParentField() const { return parentField_; }
  void SetParentField(TADTField* parent);
  std::string FullName() const;

  std::string DisplayLabel() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
  void SetDisplayLabel(std::string label) { displayLabel_ = std::move(label); }
  std::string DisplayName() const { return DisplayLabel(); }
  int DisplayWidth() const;          // characters; defaults to the size for strings, 10 for numbers
  void SetDisplayWidth(int width) { displayWidth_ = width; }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment a) { alignment_ = a; }
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  const std::string& EditMask() const { return editMask_; }

  // True when the field's dataset can be modified and the field is not read-only (a lookup field: when its
  // key fields can be modified).
  bool CanModify() const;
  bool IsBlob() const;

  // Value of the record selected for reading (the current record, or the record of a link's ActiveRecord).
  virtual bool IsNull() const;
  Variant Value() const;
  virtual void SetValue(const Variant& value);
  Variant AsVariant() const { return Value(); }
  void SetAsVariant(const Variant& v) { SetValue(v); }
  virtual std::string AsString() const;
  virtual void SetAsString(std::string_view text);
  virtual int32_t AsInteger() const;
  virtual void SetAsInteger(int32_t value);
  virtual int64_t AsLargeInt() const;
  virtual void SetAsLargeInt(int64_t value);
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);

  // Edit text (OnGetText with displayText = false) and display text (displayText = true). Assigning Text goes
  // through OnSetText when set, else converts the text with SetAsString.
  std::string Text() const;
  void SetText(std::string_view text);
  std::string DisplayText() const;

  // The value before the pending edit (the stored record's value); equals Value() in browse.
  Variant OldValue() const;
  void Clear() { SetValue(Variant()); }

  // Asks every control linked to the dataset to focus this field (a grid selects its column).
  void FocusControl();

  // Raises OnValidate (which may throw to refuse the value) for a value about to be stored.
  virtual void Validate(const Variant& value);

  // Lookup field: value = LookupResultField of the LookupDataSet record whose LookupKeyFields equal this
  // dataset's KeyFields (names separated by ';').
  bool Lookup() const { return fieldKind_ == fkLookup; }
  TDataSet* LookupDataSet() const { return lookupDataSet_; }
  void SetLookupDataSet(TDataSet* ds);
  const std::string& LookupKeyFields() const { return lookupKeyFields_; }
  void SetLookupKeyFields(std::string s) { lookupKeyFields_ = std::move(s); }
  const std::string& LookupResultField() const { return lookupResultField_; }
  void SetLookupResultField(std::string s) { lookupResultField_ = std::move(s); }
  const std::string& KeyFields() const { return keyFields_; }
  void SetKeyFields(std::string s) { keyFields_ = std::move(s); }

  // Events. OnGetText(sender, text, displayText) fills `text`; OnSetText(sender, text) stores it.
  std::function<void(TField* sender, std::string& text, bool displayText)> OnGetText;
  std::function<void(TField* sender, const std::string& text)> OnSetText;
  std::function<void(TField* sender)> OnChange;
  std::function<void(TField* sender, const Variant& value)> OnValidate;

  bool ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) override;
  void SetParentComponent(TComponent* parent) override;

 protected:
  explicit TField(TComponent* owner, TFieldType type);
  void SetDataType(TFieldType type) { dataType_ = type; }
  // Text of the value for display (displayText) or editing; the default is AsString.
  virtual std::string GetText(bool displayText) const;
  // Converts a stored value into this field's kind of value (e.g. cuts strings to the width).
  virtual Variant Normalize(const Variant& value) const { return value; }
  void Notification(TComponent* component, Operation operation) override;

 private:
  friend class TDataSet;
  friend class TADTField;
  friend TField* CreateFieldOfType(TFieldType type, TComponent* owner);
  TDataSet* dataSet_ = nullptr;
  std::string fieldName_;
  TFieldType dataType_ = ftUnknown;
  TFieldKind fieldKind_ = fkData;
  int size_ = 0;
  int fieldNo_ = 0;
  std::string displayLabel_;
  int displayWidth_ = 0;
  TAlignment alignment_ = taLeftJustify;
  bool visible_ = true;
  bool readOnly_ = false;
  bool required_ = false;
  std::string editMask_;
  TDataSet* lookupDataSet_ = nullptr;
  std::string lookupKeyFields_, lookupResultField_, keyFields_;
  bool defaultField_ = false;  // created by the dataset from its columns, freed when it closes
  TADTField* parentField_ = nullptr;
};

// Single-byte text of at most Size characters; longer text is cut to the size.
class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner = nullptr);
  void SetSize(int size) override;
  std::string AsString() const override;
  void SetAsString(std::string_view text) override;

 protected:
  Variant Normalize(const Variant& value) const override;
};

// Integer fields: text that is not a whole number (or out of range) raises EConvertError
// "'abc' is not a valid integer value"; empty text stores null.
class TIntegerField : public TField {
 public:
  explicit TIntegerField(TComponent* owner = nullptr);
  void SetAsString(std::string_view text) override;
  void SetAsFloat(double value) override;
  void SetValue(const Variant& value) override;

 protected:
  TIntegerField(TComponent* owner, TFieldType type, int64_t minValue, int64_t maxValue);
  Variant Normalize(const Variant& value) const override;
  int64_t min_, max_;
};
class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* owner = nullptr);
};
class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* owner = nullptr);
};
class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* owner = nullptr);
};
class TLargeintField : public TIntegerField {
 public:
  explicit TLargeintField(TComponent* owner = nullptr);
};

// Logical field: texts from DisplayValues ("True;False" by default). Assigning text accepts either text
// (ignoring case) or a prefix of it; anything else raises EConvertError "'x' is not a valid boolean value".
class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner = nullptr);
  const std::string& DisplayValues() const { return displayValues_; }
  void SetDisplayValues(std::string values);  // "Yes;No"
  std::string AsString() const override;
  void SetAsString(std::string_view text) override;
  bool ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) override;

 protected:
  Variant Normalize(const Variant& value) const override;

 private:
  std::string displayValues_ = "True;False";
  std::string trueText_ = "True", falseText_ = "False";
};

// Floating point field; text uses FormatSettings().DecimalSeparator.
class TFloatField : public TField {
 public:
  explicit TFloatField(TComponent* owner = nullptr);
  std::string AsString() const override;
  void SetAsString(std::string_view text) override;
  bool Currency() const { return currency_; }
  void SetCurrency(bool c) { currency_ = c; }
  bool ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) override;

 protected:
  explicit TFloatField(TComponent* owner, TFieldType type);
  Variant Normalize(const Variant& value) const override;

 private:
  bool currency_ = false;
};
class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* owner = nullptr);
};

// Binary large object; AsString gives the bytes. Display text "(BLOB)" / "(Blob)" when empty.
class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner = nullptr);
  TFieldType BlobType() const { return DataType(); }
  bool ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) override;

 protected:
  explicit TBlobField(TComponent* owner, TFieldType type);
  std::string GetText(bool displayText) const override;
};
// Text large object; display text "(MEMO)" / "(Memo)" when empty, edit text the whole text.
class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner = nullptr);

 protected:
  std::string GetText(bool displayText) const override;
};
class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(TComponent* owner = nullptr);
};

// Fixed-size and varying-size byte fields (engine byte columns).
class TBytesField : public TField {
 public:
  explicit TBytesField(TComponent* owner = nullptr);

 protected:
  explicit TBytesField(TComponent* owner, TFieldType type);
};
class TVarBytesField : public TBytesField {
 public:
  explicit TVarBytesField(TComponent* owner = nullptr);
};

// Creates the field class for a type (TStringField for ftString, ...); nullptr when unsupported.
TField* CreateFieldOfType(TFieldType type, TComponent* owner);

// The dataset's field list, in field order. FindField also takes full names of fields inside object fields
// ("ADDRESS.CITY").
class TFields {
 public:
  int Count() const { return static_cast<int>(list_.size()); }
  TField* operator[](int i) const { return list_[static_cast<size_t>(i)]; }
  TField* Field(int i) const { return list_[static_cast<size_t>(i)]; }
  TField* FindField(std::string_view name) const;  // ignoring case; nullptr when missing
  TField* FieldByName(std::string_view name) const;  // EDatabaseError "Field 'X' not found"
  int IndexOf(const TField* f) const;
  auto begin() const { return list_.begin(); }
  auto end() const { return list_.end(); }

 private:
  friend class TDataSet;
  friend class TField;
  friend class TADTField;
  std::vector<TField*> list_;
};

// An object field: a record-like value made of child fields (ordinary fields, or object fields again). The
// dataset stores only the leaf fields, each as a table column named by its full name ("ADDRESS.CITY"); a table
// opened with such columns gets its object fields back by those names. The object field itself holds no value:
// it is null when every child is, and its text lists the children's texts ("(Main St, Springfield)").
// Destroying it destroys the child fields the dataset created and detaches persistent ones.
class TADTField : public TField {
 public:
  explicit TADTField(TComponent* owner = nullptr);
  ~TADTField() override;
  TFields& ChildFields() { return children_; }
  const TFields& ChildFields() const { return children_; }
  bool IsNull() const override;
  void SetValue(const Variant& value) override;  // only null is accepted: clears every child

 protected:
  std::string GetText(bool displayText) const override;

 private:
  friend class TField;
  friend class TDataSet;
  TFields children_;
};

// Calls fn for every field of the list and, depth first, for the fields inside object fields.
void ForEachField(const TFields& fields, const std::function<void(TField*)>& fn);

// Field definitions: the columns a client dataset creates with CreateDataSet (and that stored FieldDefs
// describe).
struct TFieldDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  bool Required = false;
  bool ReadOnly = false;  // filled from the engine's columns when a dataset opens
  bool Hidden = false;
};
class TFieldDefs {
 public:
  void Add(std::string name, TFieldType type, int size = 0, bool required = false) {
    list_.push_back({std::move(name), type, size, required});
  }
  void Clear() { list_.clear(); }
  int Count() const { return static_cast<int>(list_.size()); }
  const TFieldDef& operator[](int i) const { return list_[static_cast<size_t>(i)]; }
  auto begin() const { return list_.begin(); }
  auto end() const { return list_.end(); }

 private:
  std::vector<TFieldDef> list_;
};

// ---------------------------------------------------------------------------------------------------------
// Datasets

using TDataSetNotifyEvent = std::function<void(TDataSet* dataSet)>;

enum TLocateOption { loCaseInsensitive = 1, loPartialKey = 2 };

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner = nullptr);
  ~TDataSet() override;

  // Opening and closing. Open raises EDatabaseError when the table cannot be opened.
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }

  // Navigation. Each move first ends a pending edit or insert (CheckBrowseMode).
  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int distance);  // returns the distance actually moved
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // 1-based number of the current record (the insert position while inserting); 0 when empty.
  int RecNo() const;
  void SetRecNo(int recNo);
  int RecordCount() const;  // posted records
  bool IsEmpty() const;     // no posted record and not inserting

  // Editing.
  void Append();
  void Insert();
  void Edit();  // on an empty dataset this inserts
  void Post();
  void Cancel();
  void Delete();
  // Ends a pending edit or insert: posts it when modified, cancels it otherwise (an untouched new record
  // disappears). Raises when the dataset is inactive.
  void CheckBrowseMode();
  // Controls write their pending edits into the fields.
  void UpdateRecord();
  bool CanModify() const { return Active() && !readOnly_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  bool Modified() const { return modified_; }

  // Bookmarks.
  TBookmark GetBookmark() const;
  void GotoBookmark(const TBookmark& bookmark);  // EDatabaseError "Record not found" when invalid
  void FreeBookmark(TBookmark&) {}
  bool BookmarkValid(const TBookmark& bookmark) const;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) const;  // <0, 0, >0 by record order

  // Searching: moves to the first record whose key fields (names separated by ';') equal the values;
  // options: loCaseInsensitive, loPartialKey (text starts with the value). Returns false and stays put when
  // nothing matches.
  bool Locate(std::string_view keyFields, const std::vector<Variant>& values, int options = 0);
  // The result fields' value (first one) of the first record matching, without moving; null when none.
  Variant Lookup(std::string_view keyFields, const std::vector<Variant>& values,
                 std::string_view resultField);

  // Controls. While disabled (calls nest), links hear nothing but focus, update and check-browse requests;
  // data sources still report every state change. EnableControls tells the links that everything changed.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }

  // Fields.
  TFields& Fields() { return fields_; }
  const TFields& Fields() const { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  TField* FindField(std::string_view name) const { return fields_.FindField(name); }
  TField* FieldByName(std::string_view name) const { return fields_.FieldByName(name); }
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  bool DefaultFields() const { return defaultFields_; }
  bool ObjectView() const { return false; }

  // Events.
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit,
      AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete, BeforeScroll,
      AfterScroll, OnNewRecord;
  // Computes the calculated fields (fkCalculated, fkInternalCalc) of the record being read: the handler reads
  // the record's other fields and assigns the calculated ones. Runs whenever a calculated field is read.
  TDataSetNotifyEvent OnCalcFields;

  bool ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) override;

  // ---- used by fields, data sources and links ----
  // Row (0-based, inserted record included) whose values fields read; -1 when there is none.
  int ReadRow() const;
  Variant GetFieldValue(const TField* field) const;
  Variant GetOldFieldValue(const TField* field) const;
  void SetFieldValue(TField* field, const Variant& value);
  void DataEvent(TDataEvent event, intptr_t info = 0);
  // Rows a link's window covers (inserted record included) and the current row (-1 when empty).
  int RowCount() const;
  int CurrentRow() const { return RowCount() == 0 ? -1 : cur_; }
  // While a link paints record i of its window it selects that row for reading; -1 restores the current.
  void SetReadRowOverride(int row) { override_ = row; }
  int ReadRowOverride() const { return override_; }

 protected:
  // ---- what a concrete dataset supplies ----
  // Opens the table; fills FieldDefs with its columns.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual int InternalRowCount() const = 0;  // posted rows
  virtual Variant InternalGetValue(int row, int fieldNo) const = 0;  // posted row, 1-based column
  virtual Variant InternalGetBufferValue(int fieldNo) const = 0;       // pending edit/insert buffer
  virtual void InternalSetBufferValue(int fieldNo, const Variant& v) = 0;
  virtual void InternalBeginInsert(int row) = 0;  // new buffer to go before `row` (row == count: append)
  virtual void InternalBeginEdit(int row) = 0;
  virtual int InternalPost() = 0;                 // returns the posted row's index
  virtual void InternalCancel() = 0;
  virtual void InternalDelete(int row) = 0;
  virtual TBookmark InternalBookmark(int row) const = 0;
  virtual int InternalBookmarkRow(const TBookmark& bookmark) const = 0;  // -1 when invalid

  void Loaded() override;
  void Notification(TComponent* component, Operation operation) override;
  bool streamedActive_ = false;

 private:
  friend class TField;
  friend class TDataSource;
  void SetState(TDataSetState state);
  void CheckActive() const;
  void CheckCanModify();
  void CreateFields();
  void BindFields();
  void DestroyDefaultFields();
  void DoEvent(const TDataSetNotifyEvent& e) { if (e) e(this); }
  void MoveTo(int row);  // sets the current row and bof/eof, sends the scroll notification
  void BeginInsertAt(int row);
  void AddField(TField* f);
  void RemoveField(TField* f);
  void AddDataSource(TDataSource* ds);
  void RemoveDataSource(TDataSource* ds);

  TDataSetState state_ = dsInactive;
  int cur_ = 0;        // current row (inserted record included)
  int override_ = -1;  // row selected for reading by a link
  bool bof_ = true, eof_ = true;
  bool modified_ = false;
  bool readOnly_ = false;
  bool defaultFields_ = false;
  int disableCount_ = 0;
  TFields fields_;
  TFieldDefs fieldDefs_;
  bool calculating_ = false;                 // inside OnCalcFields
  std::vector<std::pair<const TField*, Variant>> calcValues_;
  std::vector<TDataSource*> dataSources_;
};

// The table that the dataset engine holds in memory. Opens from its stored Data (the table image: a 32-bit
// length followed by the engine's data packet), or from FieldDefs / persistent fields with CreateDataSet.
class TClientDataSet : public TDataSet {
 public:
  explicit TClientDataSet(TComponent* owner = nullptr);
  ~TClientDataSet() override;

  // The table image. Setting it on an active dataset reopens it from the image; reading it gives the image
  // of the current rows (posted rows with their record states).
  std::string Data() const;
  void SetData(std::string image);
  // Creates an empty table with the columns of FieldDefs (or, when empty, of the persistent data fields) and
  // opens it.
  void CreateDataSet();
  // Record state of the current record as the engine keeps it: 0 unmodified, 1 inserted, 2 modified.
  int RecordStatus() const;
  // Number of stored changes (inserted, modified, deleted rows).
  int ChangeCount() const;

  bool ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) override;

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  int InternalRowCount() const override;
  Variant InternalGetValue(int row, int fieldNo) const override;
  Variant InternalGetBufferValue(int fieldNo) const override;
  void InternalSetBufferValue(int fieldNo, const Variant& v) override;
  void InternalBeginInsert(int row) override;
  void InternalBeginEdit(int row) override;
  int InternalPost() override;
  void InternalCancel() override;
  void InternalDelete(int row) override;
  TBookmark InternalBookmark(int row) const override;
  int InternalBookmarkRow(const TBookmark& bookmark) const override;

 private:
  struct Engine;
  std::unique_ptr<Engine> engine_;
  std::string data_;       // stored image, opened by InternalOpen
  bool createFromDefs_ = false;
};

// Name of the engine library that client datasets load (Windows build): "MIDAS.DLL". Tests may point it at
// another name to exercise the failure path ("Erro carregando <name>"). Has no effect in the native build,
// which links the engine statically.
void SetMidasLibraryName(std::string name);
const std::string& MidasLibraryName();

// ---------------------------------------------------------------------------------------------------------
// Data sources and links

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataSet_; }
  void SetDataSet(TDataSet* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  bool AutoEdit() const { return autoEdit_; }
  void SetAutoEdit(bool v) { autoEdit_ = v; }
  // The dataset's state, dsInactive without dataset or when disabled.
  TDataSetState State() const { return state_; }
  // Puts the dataset into edit mode when AutoEdit and browsing.
  void Edit();

  TNotifyEvent OnStateChange;                                    // every state change of the dataset
  std::function<void(TComponent* sender, TField* field)> OnDataChange;  // field: nullptr for the record
  TNotifyEvent OnUpdateData;

  bool ReadProperty(std::string_view name, const fw::Value& value, TReader& reader) override;

  // ---- used by datasets and links ----
  void DataEvent(TDataEvent event, intptr_t info);
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);

 protected:
  void Notification(TComponent* component, Operation operation) override;

 private:
  friend class TDataSet;
  void UpdateState();
  void UpdateLinks();  // after the dataset or Enabled changed
  bool Quiet() const;  // the data source or its owner is being destroyed: tell nobody
  TDataSet* dataSet_ = nullptr;
  bool enabled_ = true;
  bool autoEdit_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> links_;
};

// A data-aware control's connection to a data source. The link keeps a window of BufferCount records that
// follows the dataset's current record: it scrolls only when the current record leaves it, by the smallest
// distance, and reports that distance to DataSetScrolled (0 when the current record moved inside the window).
class TDataLink {
 public:
  TDataLink();
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  bool Active() const { return active_; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v);

  int BufferCount() const { return bufferCount_; }
  void SetBufferCount(int count);
  // Index of the record within the window that fields read: the current record's index unless the control
  // selected another one. Setting it selects that record for reading (and for the field values of every
  // control of the dataset) until it is set back to the current record's index.
  int ActiveRecord() const;
  void SetActiveRecord(int index);
  int RecordCount() const;  // records in the window
  int FirstRecord() const { return first_; }  // row of the window's first record

  bool Editing() const { return editing_; }
  // Puts the dataset into edit mode (through the data source's AutoEdit rule); returns Editing().
  bool Edit();
  void UpdateRecord();
  int MoveBy(int distance);
  bool Bof() const;
  bool Eof() const;

  // Notifications for the control.
  virtual void ActiveChanged() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int distance) { DataSetChanged(); }
  virtual void RecordChanged(TField* field) {}
  virtual void EditingChanged() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void FocusControl(TField** field) {}
  virtual void UpdateData() {}
  virtual void CheckBrowseMode() {}

 private:
  friend class TDataSource;
  void DataEvent(TDataEvent event, intptr_t info);
  void UpdateActive();
  void UpdateEditing();
  int FollowCurrent();  // moves the window to hold the current record, returns the distance
  TDataSource* dataSource_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool readOnly_ = false;
  bool updating_ = false;
  int bufferCount_ = 1;
  int first_ = 0;
};

}  // namespace fw
