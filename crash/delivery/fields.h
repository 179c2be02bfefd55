// The named texts and the files that travel with a bug report: ordered, locked lists of fields (name and
// content) and of attachments (file, send-as name, zip name, field name), written back into their owning
// settings object whenever they change. Also the assembly of the attachments of one sending and their
// preparation into the arrays that the delivery methods send.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crash/core/refobject.h"

namespace rvx {

// What a list needs of the settings object that owns it: storing the list back as a text setting.
class IListOwnerSettings {
 public:
  virtual bool StoreListText(std::string_view name, std::string_view value) = 0;

 protected:
  ~IListOwnerSettings() = default;
};

// What a fields list needs of the exception record that owns it.
class IFieldsOwnerRecord {
 public:
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  virtual void MarkModified() = 0;

 protected:
  ~IFieldsOwnerRecord() = default;
};

class IRVFields : public virtual IRefCounted {
 public:
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual int Count() = 0;
  virtual std::string ItemName(int index) = 0;  // empty when out of range
  virtual void SetItemName(int index, std::string_view name) = 0;
  virtual int Find(std::string_view name) = 0;  // -1 when missing; names compare ignoring case
  // Leaves `content` unchanged and answers false when there is no such item.
  virtual bool GetContent(std::string_view name, std::string& content) = 0;
  virtual void SetContent(std::string_view name, std::string_view content) = 0;
  virtual void Add(std::string_view name, std::string_view content) = 0;
  virtual void Insert(int index, std::string_view name, std::string_view content) = 0;
  virtual void Delete(int index) = 0;
  virtual void DeleteName(std::string_view name) = 0;
  virtual Ref<IRVFields> Clone() = 0;

  // Content of the named item, or empty.
  std::string Content(std::string_view name) {
    std::string c;
    GetContent(name, c);
    return c;
  }
};

// For the owner of a fields list only.
class IRVFieldsEx : public virtual IRefCounted {
 public:
  virtual void ClearOwnerRecord() = 0;
  virtual void ClearOwnerSettings() = 0;
  virtual void SetInsertionIndex(int index) = 0;
  virtual void AcceptData() = 0;
};

struct Attachment {
  std::wstring file;
  std::string sendAs;
  std::string zipName;
  std::string fieldName;
  friend bool operator==(const Attachment&, const Attachment&) = default;
};

class IRVAttachments : public virtual IRefCounted {
 public:
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual int Count() = 0;
  virtual bool GetItem(int index, Attachment& item) = 0;
  virtual void Add(std::wstring_view file, std::string_view sendAs = {}, std::string_view zipName = {},
                   std::string_view fieldName = {}) = 0;
  virtual bool Delete(std::wstring_view file) = 0;
  virtual void Clear() = 0;
  virtual Ref<IRVAttachments> Clone() = 0;
};

// For the owner of an attachments list only.
class IRVAttachmentsEx : public virtual IRefCounted {
 public:
  virtual void ClearOwnerSettings() = 0;
};

// New lists; the owners may be null. A fields list accepts data only after AcceptData.
Ref<IRVFields> CreateFields(IFieldsOwnerRecord* ownerRecord = nullptr, IListOwnerSettings* ownerSettings = nullptr);
Ref<IRVAttachments> CreateAttachments(IListOwnerSettings* ownerSettings = nullptr);

// The texts written back to the owners ("AddFields" and "AddAttachs" format).
std::string FieldsText(IRVFields& fields);
std::string AttachmentsText(IRVAttachments& attachments);
// Fills lists from those texts (the fields list must accept data).
void FillFieldsFromText(IRVFields& fields, std::string_view text);
void FillAttachmentsFromText(IRVAttachments& attachments, std::string_view text);

}  // namespace rvx

namespace rvx {

class IRVSettings;

// ---- paths and files ----------------------------------------------------------------------------------

#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
#else
inline constexpr wchar_t kPathSeparator = L'/';
#endif

// `path` made absolute against `base` (a folder), with every "\.\" turned into "\" and every "folder\..\"
// removed.
std::wstring AbsolutePath(std::wstring_view path, std::wstring_view base);
std::wstring FileNameOf(std::wstring_view path);    // after the last separator
std::wstring FolderOf(std::wstring_view path);      // before the last separator
std::wstring WithoutExtension(std::wstring_view name);

namespace delivery_files {
bool Exists(const std::wstring& file);
bool Copy(const std::wstring& from, const std::wstring& to);  // overwrites
void Delete(const std::wstring& file);
bool MakeFolder(const std::wstring& folder);  // true when it exists afterwards
std::wstring SystemTempFolder();               // without a trailing separator; empty when unknown
}  // namespace delivery_files

// The crash reporter's temporary folder: program file name without extension + ".Ravex" inside the system
// temporary folder, created when missing. Empty when it is not available.
std::wstring CrashTempFolder(const std::wstring& programFile);

// ---- attachments of one sending -----------------------------------------------------------------------

// What the assembly needs beyond the settings: the program, placeholder expansion, the report saving of the
// exception record and the screenshot. The unset hooks stand for "not available".
struct AttachmentSources {
  std::wstring programFile;
  // Expands the placeholders of a folder path (all except the exception operands).
  std::function<std::wstring(const std::wstring&)> expand;
  // Writes the current report into the file the way saving does (merging repeats, size limit).
  std::function<bool(const std::wstring& file)> saveReport;
  // The exception record's "report saved" mark (both unset when the settings object is no record).
  std::function<bool()> reportSaved;
  std::function<void(bool)> setReportSaved;
  // Saves the screenshot as PNG with the given format code; unset when the sending has no screenshot.
  std::function<bool(const std::wstring& file, int formatCode)> saveScreenshot;
};

struct AssembledAttachments {
  Ref<IRVAttachments> list;    // none when no delivery method sends attachments
  std::wstring tempFolder;     // empty when not available
  std::wstring reportFile;     // the saved report file whose copy was attached
  bool deleteReportFile = false;  // delete reportFile after a successful sending
};

// PNG format code of a ScrShotDepth value: 4 -> 1, 51200 -> 2, 102400 -> 3, 204800 -> 4, 307200 -> 5, else 0.
int ScreenshotFormatCode(int32_t depth);

AssembledAttachments AssembleAttachments(IRVSettings& settings, const AttachmentSources& sources);

// What the delivery methods send: parallel arrays of files, send-as names and field names.
struct PreparedAttachments {
  std::vector<std::wstring> files;
  std::vector<std::string> sendAs;
  std::vector<std::string> fieldNames;
};

// Packs items sharing a zip name (ignoring case) into one archive in the temporary folder; skips missing files.
// `zip` defaults to ZipFiles.
using ZipFunction = std::function<bool(const std::wstring& archive, const std::vector<std::wstring>& files,
                                       const std::vector<std::wstring>& names)>;
PreparedAttachments PrepareAttachments(IRVAttachments& list, const std::wstring& programFolder,
                                       const std::wstring& tempFolder, const ZipFunction& zip = nullptr);

}  // namespace rvx
