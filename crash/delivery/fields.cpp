#include "crash/delivery/fields.h"

#include <algorithm>
#include <mutex>

#include "crash/stack/text.h"

namespace rvx {

namespace {

// Capacity starts at 16 and grows to 1.5 times its size when full.
template <class T>
void GrowFor(std::vector<T>& v) {
  if (v.capacity() == 0) v.reserve(16);
  if (v.size() == v.capacity()) v.reserve(v.capacity() + v.capacity() / 2);
}

class TIRVFields final : public RefObject<IRVFields, IRVFieldsEx> {
 public:
  TIRVFields(IFieldsOwnerRecord* record, IListOwnerSettings* settings) : record_(record), settings_(settings) {}

  void Lock() override {
    if (IFieldsOwnerRecord* r = record_.load()) r->BeginUpdate();
    mutex_.lock();
  }
  void Unlock() override {
    mutex_.unlock();
    if (IFieldsOwnerRecord* r = record_.load()) r->EndUpdate();
  }

  int Count() override {
    Guard g(*this);
    return static_cast<int>(items_.size());
  }

  std::string ItemName(int index) override {
    Guard g(*this);
    return Valid(index) ? items_[index].first : std::string();
  }

  void SetItemName(int index, std::string_view name) override {
    Guard g(*this);
    if (!Valid(index) || items_[index].first == name) return;
    items_[index].first = name;
    Changed();
  }

  int Find(std::string_view name) override {
    Guard g(*this);
    return FindLocked(name);
  }

  bool GetContent(std::string_view name, std::string& content) override {
    Guard g(*this);
    int i = FindLocked(name);
    if (i < 0) return false;
    content = items_[i].second;
    return true;
  }

  void SetContent(std::string_view name, std::string_view content) override {
    Guard g(*this);
    if (!accepting_) return;
    std::string c = TrimText(content);
    int i = FindLocked(name);
    if (c.empty()) {
      if (i >= 0) DeleteLocked(i);
      return;
    }
    if (i < 0) {
      int at = insertionIndex_ > 0 ? std::min(insertionIndex_, static_cast<int>(items_.size()))
                                   : static_cast<int>(items_.size());
      InsertLocked(at, name, std::move(c));
      return;
    }
    if (items_[i].first == name && items_[i].second == c) return;
    items_[i] = {std::string(name), std::move(c)};
    Changed();
  }

  void Add(std::string_view name, std::string_view content) override { SetContent(name, content); }

  void Insert(int index, std::string_view name, std::string_view content) override {
    Guard g(*this);
    if (!accepting_) return;
    std::string c = TrimText(content);
    if (c.empty()) return;
    index = std::clamp(index, 0, static_cast<int>(items_.size()));
    int old = FindLocked(name);
    if (old >= 0) {
      if (old == index && items_[old].second == c) return;
      items_.erase(items_.begin() + old);
      if (insertionIndex_ > 0 && old < insertionIndex_) --insertionIndex_;
      if (old < index) --index;
    }
    InsertLocked(index, name, std::move(c));
  }

  void Delete(int index) override {
    Guard g(*this);
    if (Valid(index)) DeleteLocked(index);
  }

  void DeleteName(std::string_view name) override {
    Guard g(*this);
    int i = FindLocked(name);
    if (i >= 0) DeleteLocked(i);
  }

  Ref<IRVFields> Clone() override {
    Guard g(*this);
    auto copy = MakeRef<TIRVFields>(nullptr, nullptr);
    copy->accepting_ = true;
    for (const auto& [n, c] : items_) copy->Add(n, c);
    return Ref<IRVFields>(copy.get());
  }

  void ClearOwnerRecord() override { record_.store(nullptr); }
  void ClearOwnerSettings() override {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    settings_ = nullptr;
  }
  void SetInsertionIndex(int index) override {
    Guard g(*this);
    insertionIndex_ = index;
  }
  void AcceptData() override {
    Guard g(*this);
    accepting_ = true;
  }

 private:
  struct Guard {
    explicit Guard(TIRVFields& f) : f_(f) { f_.Lock(); }
    ~Guard() { f_.Unlock(); }
    TIRVFields& f_;
  };

  bool Valid(int index) const { return index >= 0 && index < static_cast<int>(items_.size()); }

  int FindLocked(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (EqualTextCI(items_[i].first, name)) return static_cast<int>(i);
    return -1;
  }

  void InsertLocked(int index, std::string_view name, std::string content) {
    GrowFor(items_);
    items_.insert(items_.begin() + index, {std::string(name), std::move(content)});
    if (insertionIndex_ > 0 && insertionIndex_ >= index) ++insertionIndex_;
    Changed();
  }

  void DeleteLocked(int index) {
    items_.erase(items_.begin() + index);
    if (insertionIndex_ > 0 && index < insertionIndex_) --insertionIndex_;
    Changed();
  }

  void Changed() {
    if (settings_) settings_->StoreListText("AddFields", FieldsText(*this));
    if (IFieldsOwnerRecord* r = record_.load()) r->MarkModified();
  }

  std::recursive_mutex mutex_;
  std::atomic<IFieldsOwnerRecord*> record_;
  IListOwnerSettings* settings_;
  std::vector<std::pair<std::string, std::string>> items_;
  int insertionIndex_ = 0;
  bool accepting_ = false;
};

class TIRVAttachments final : public RefObject<IRVAttachments, IRVAttachmentsEx> {
 public:
  explicit TIRVAttachments(IListOwnerSettings* settings) : settings_(settings) {}

  void Lock() override { mutex_.lock(); }
  void Unlock() override { mutex_.unlock(); }

  int Count() override {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    return static_cast<int>(items_.size());
  }

  bool GetItem(int index, Attachment& item) override {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    if (index < 0 || index >= static_cast<int>(items_.size())) return false;
    item = items_[index];
    return true;
  }

  void Add(std::wstring_view file, std::string_view sendAs, std::string_view zipName,
           std::string_view fieldName) override {
    if (file.empty()) return;
    Attachment a{std::wstring(file), std::string(sendAs), std::string(zipName), std::string(fieldName)};
    if (a.sendAs.empty()) {
      size_t slash = file.find_last_of(L'\\');
      a.sendAs = WideToAnsi(slash == std::wstring_view::npos ? file : file.substr(slash + 1));
    }
    if (a.fieldName.empty()) {
      size_t dot = a.sendAs.find_last_of('.');
      a.fieldName = dot == std::string::npos ? a.sendAs : a.sendAs.substr(0, dot);
    }
    std::lock_guard<std::recursive_mutex> g(mutex_);
    GrowFor(items_);
    items_.push_back(std::move(a));
    Changed();
  }

  bool Delete(std::wstring_view file) override {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    for (size_t i = 0; i < items_.size(); ++i) {
      if (EqualTextCI(std::wstring_view(items_[i].file), file)) {
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
        Changed();
        return true;
      }
    }
    return false;
  }

  void Clear() override {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    if (items_.empty()) return;
    items_.clear();
    Changed();
  }

  Ref<IRVAttachments> Clone() override {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    auto copy = MakeRef<TIRVAttachments>(nullptr);
    copy->items_ = items_;
    return Ref<IRVAttachments>(copy.get());
  }

  void ClearOwnerSettings() override {
    std::lock_guard<std::recursive_mutex> g(mutex_);
    settings_ = nullptr;
  }

 private:
  void Changed() {
    if (settings_) settings_->StoreListText("AddAttachs", AttachmentsText(*this));
  }

  std::recursive_mutex mutex_;
  IListOwnerSettings* settings_;
  std::vector<Attachment> items_;
};

}  // namespace

Ref<IRVFields> CreateFields(IFieldsOwnerRecord* ownerRecord, IListOwnerSettings* ownerSettings) {
  return Ref<IRVFields>(new TIRVFields(ownerRecord, ownerSettings));
}

Ref<IRVAttachments> CreateAttachments(IListOwnerSettings* ownerSettings) {
  return Ref<IRVAttachments>(new TIRVAttachments(ownerSettings));
}

std::string FieldsText(IRVFields& fields) {
  fields.Lock();
  std::string text;
  for (int i = 0, n = fields.Count(); i < n; ++i) {
    std::string name = fields.ItemName(i);
    if (i) text += '|';
    text += name + "=" + fields.Content(name);
  }
  fields.Unlock();
  return text;
}

std::string AttachmentsText(IRVAttachments& attachments) {
  attachments.Lock();
  std::string text;
  Attachment a;
  for (int i = 0; attachments.GetItem(i, a); ++i) {
    if (i) text += '|';
    text += WideToAnsi(a.file) + ">" + a.sendAs + ">" + a.zipName + ">" + a.fieldName;
  }
  attachments.Unlock();
  return text;
}

void FillFieldsFromText(IRVFields& fields, std::string_view text) {
  for (int i = 1, n = FieldCount(text, '|'); i <= n; ++i) {
    std::string item = FieldOf(text, i, '|');
    size_t eq = item.find('=');
    if (eq == std::string::npos) continue;
    fields.SetContent(std::string_view(item).substr(0, eq), std::string_view(item).substr(eq + 1));
  }
}

void FillAttachmentsFromText(IRVAttachments& attachments, std::string_view text) {
  for (int i = 1, n = FieldCount(text, '|'); i <= n; ++i) {
    std::string item = FieldOf(text, i, '|');
    attachments.Add(AnsiToWide(FieldOf(item, 1, '>')), FieldOf(item, 2, '>'), FieldOf(item, 3, '>'),
                    FieldOf(item, 4, '>'));
  }
}

}  // namespace rvx
