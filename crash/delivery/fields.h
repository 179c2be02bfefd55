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
