#include "crash/delivery/fields.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
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
      size_t slash = file.find_last_of(L"\\/");
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

// ---- attachments of one sending -----------------------------------------------------------------------

#include "crash/core/settings.h"
#include "crash/delivery/zip.h"

namespace rvx {

namespace {
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAbsolute(std::wstring_view p) {
  if (p.size() >= 2 && p[1] == L':') return true;
  return !p.empty() && IsSeparator(p[0]);
}
}  // namespace

std::wstring AbsolutePath(std::wstring_view path, std::wstring_view base) {
  std::wstring p(path);
  if (!IsAbsolute(p)) {
    std::wstring b(base);
    if (!b.empty() && !IsSeparator(b.back())) b += kPathSeparator;
    p = b + p;
  }
  // split into parts, drop "." and resolve "name\.." pairs
  std::vector<std::wstring> parts;
  std::wstring part;
  std::wstring out;
  size_t i = 0;
  while (i <= p.size()) {
    if (i == p.size() || IsSeparator(p[i])) {
      bool last = i == p.size();
      if (part == L"." && !last) {
        // "\.\" becomes "\"
      } else if (part == L".." && !last && !parts.empty() && !parts.back().empty() && parts.back() != L".." &&
                 !(parts.size() == 1 && parts[0].size() == 2 && parts[0][1] == L':')) {
        parts.pop_back();
      } else {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += p[i];
    }
    ++i;
  }
  // keep the path's own separator style
  const wchar_t sep = p.find(L'\\') != std::wstring::npos ? L'\\' : kPathSeparator;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k) out += sep;
    out += parts[k];
  }
  return out;
}

std::wstring FileNameOf(std::wstring_view path) {
  size_t s = path.find_last_of(L"\\/");
  return std::wstring(s == std::wstring_view::npos ? path : path.substr(s + 1));
}

std::wstring FolderOf(std::wstring_view path) {
  size_t s = path.find_last_of(L"\\/");
  return s == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, s));
}

std::wstring WithoutExtension(std::wstring_view name) {
  size_t dot = name.find_last_of(L'.');
  return std::wstring(dot == std::wstring_view::npos ? name : name.substr(0, dot));
}

std::wstring CrashTempFolder(const std::wstring& programFile) {
  std::wstring root = delivery_files::SystemTempFolder();
  if (root.empty()) return {};
  std::wstring folder = root + kPathSeparator + WithoutExtension(FileNameOf(programFile)) + L".Ravex";
  return delivery_files::MakeFolder(folder) ? folder : std::wstring();
}

int ScreenshotFormatCode(int32_t depth) {
  switch (depth) {
    case 4: return 1;
    case 51200: return 2;
    case 102400: return 3;
    case 204800: return 4;
    case 307200: return 5;
    default: return 0;
  }
}

AssembledAttachments AssembleAttachments(IRVSettings& s, const AttachmentSources& src) {
  AssembledAttachments out;
  if (!s.MailAsSmtpServer() && !s.MailAsSmtpClient() && !s.UploadViaHttp() && !s.MailViaMapi()) return out;
  out.list = CreateAttachments();
  out.tempFolder = CrashTempFolder(src.programFile);
  const std::wstring programFolder = FolderOf(src.programFile);
  const std::wstring& temp = out.tempFolder;

  if (s.AttachBugRep()) {
    std::wstring setting = s.BugRepFile();
    std::wstring report = AbsolutePath(setting, programFolder);
    if (!delivery_files::Exists(report) && setting.find(L'\\') == std::wstring::npos && src.expand) {
      report = src.expand(L"%userappdata%" + std::wstring(1, kPathSeparator) +
                          WithoutExtension(FileNameOf(src.programFile)) + kPathSeparator + setting);
    }
    out.reportFile = report;
    if (!temp.empty()) {
      std::wstring copy = temp + kPathSeparator + FileNameOf(report);
      const bool wasSaved = src.reportSaved ? src.reportSaved() : false;
      bool write = true;
      if (s.AttachBugRepFile() && delivery_files::Copy(report, copy)) {
        out.deleteReportFile = s.DelBugRepFile();
        if (src.reportSaved && wasSaved) write = false;
      } else {
        delivery_files::Delete(copy);
      }
      if (write) {
        if (!src.saveReport || !src.saveReport(copy)) delivery_files::Delete(copy);
        // the copy does not count as a saved report
        if (!wasSaved && src.setReportSaved) src.setReportSaved(false);
      }
      if (delivery_files::Exists(copy))
        out.list->Add(copy, s.BugRepSendAs(), s.BugRepZip(), "BugReport");
      else
        out.deleteReportFile = false;
    } else {
      out.deleteReportFile = false;
    }
  }

  if (src.saveScreenshot && !temp.empty()) {
    std::wstring file = temp + kPathSeparator + L"screenShot.png";
    delivery_files::Delete(file);
    if (src.saveScreenshot(file, ScreenshotFormatCode(s.ScrShotDepth())))
      out.list->Add(file, s.ScrShotSendAs(), s.ScrShotZip(), "ScreenShot");
  }

  if (Ref<IRVAttachments> extra = s.AddAttachs()) {
    Attachment a;
    for (int i = 0; extra->GetItem(i, a); ++i) out.list->Add(a.file, a.sendAs, a.zipName, a.fieldName);
  }
  return out;
}

PreparedAttachments PrepareAttachments(IRVAttachments& list, const std::wstring& programFolder,
                                       const std::wstring& tempFolder, const ZipFunction& zip) {
  PreparedAttachments out;
  std::vector<Attachment> items;
  list.Lock();
  Attachment a;
  for (int i = 0; list.GetItem(i, a); ++i) items.push_back(a);
  list.Unlock();
  for (auto& item : items) item.file = AbsolutePath(item.file, programFolder);

  std::vector<std::string> zipsDone;
  for (size_t i = 0; i < items.size(); ++i) {
    const Attachment& item = items[i];
    if (!delivery_files::Exists(item.file)) continue;
    if (item.zipName.empty()) {
      out.files.push_back(item.file);
      out.sendAs.push_back(item.sendAs);
      out.fieldNames.push_back(item.fieldName);
      continue;
    }
    bool done = std::any_of(zipsDone.begin(), zipsDone.end(),
                            [&](const std::string& z) { return EqualTextCI(z, item.zipName); });
    if (done) continue;
    zipsDone.push_back(item.zipName);
    std::vector<std::wstring> files, names;
    for (size_t k = i; k < items.size(); ++k) {
      if (!EqualTextCI(items[k].zipName, item.zipName) || !delivery_files::Exists(items[k].file)) continue;
      files.push_back(items[k].file);
      names.push_back(AnsiToWide(items[k].sendAs));
    }
    if (tempFolder.empty()) continue;
    std::wstring archive = tempFolder + kPathSeparator + AnsiToWide(item.zipName);
    bool packed = zip ? zip(archive, files, names) : ZipFiles(archive, files, names);
    if (!packed) continue;
    out.files.push_back(archive);
    out.sendAs.push_back(item.zipName);
    out.fieldNames.push_back(item.zipName);
  }
  return out;
}

#ifndef _WIN32
namespace delivery_files {
namespace fs = std::filesystem;
fs::path Native(const std::wstring& p) { return fs::path(EncodeUtf8Text(p)); }
bool Exists(const std::wstring& file) {
  std::error_code ec;
  return !file.empty() && fs::is_regular_file(Native(file), ec);
}
bool Copy(const std::wstring& from, const std::wstring& to) {
  std::error_code ec;
  return fs::copy_file(Native(from), Native(to), fs::copy_options::overwrite_existing, ec) && !ec;
}
void Delete(const std::wstring& file) {
  std::error_code ec;
  if (!file.empty()) fs::remove(Native(file), ec);
}
bool MakeFolder(const std::wstring& folder) {
  std::error_code ec;
  fs::create_directories(Native(folder), ec);
  return fs::is_directory(Native(folder), ec);
}
std::wstring SystemTempFolder() {
  const char* t = getenv("TMPDIR");
  std::string root = t && *t ? t : "/tmp";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return DecodeUtf8Text(root);
}
}  // namespace delivery_files
#endif

}  // namespace rvx
