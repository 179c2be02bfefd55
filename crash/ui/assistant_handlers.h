// The action handlers of assistant pages: resolving a page's OnAction text, and the two built-in handlers
// (contact data remembered in the user's registry; the screenshot page, whose picture the user may edit in
// the system's image editor). The platform's parts stand behind small interfaces that tests replace.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crash/ui/assistant_model.h"
#include "crash/ui/picture_object.h"

namespace rvx {

// "Ravex.HandleContactForm" and "Ravex.HandleScreenshotForm" (any case) select the built-in handlers; any
// other text is split at its first "." into unit and routine (no "." means routine only) and asked of the
// lookup. None when nothing answers.
NVActionHandler ResolveActionHandler(std::string_view text);
using ActionHandlerLookup = NVActionHandler (*)(std::string_view unit, std::string_view routine);
void SetActionHandlerLookup(ActionHandlerLookup lookup);  // null: only the built-ins resolve

void HandleContactForm(INVForm* form, int action, INVItem* item, IRVException* record);
void HandleScreenshotForm(INVForm* form, int action, INVItem* item, IRVException* record);

// Whether an e-mail address is accepted: not empty, no leading or trailing characters 0..32, exactly one
// at sign and not first, a "." after it but not right after it, no "." first or last, and otherwise only
// letters, digits and ' + - _ .
bool IsAcceptedEmail(std::string_view address);

// ---- contact data -------------------------------------------------------------------------------------

// The remembered contact data ("Software\quorle\ContactForm" of the current user). Every failure is silent:
// a missing value reads as empty.
class IContactStore {
 public:
  virtual ~IContactStore() = default;
  virtual std::string Read(const char* value) = 0;
  virtual void Write(const char* value, std::string_view text) = 0;
  virtual void Delete(const char* value) = 0;
};
inline constexpr const char* kContactKey = "Software\\quorle\\ContactForm";
inline constexpr const char* kRememberName = "RememberName";
inline constexpr const char* kRememberEmail = "RememberEmail";
void SetContactStore(IContactStore* store);  // null restores the platform's
IContactStore& ContactStore();
// A registry value's bytes as text: a string up to its first zero byte, any other type as its raw bytes.
std::string RegistryValueText(std::string_view bytes, bool isString);

// ---- screenshot editing -------------------------------------------------------------------------------

// What the screenshot page needs of the system.
class IScreenshotEditing {
 public:
  virtual ~IScreenshotEditing() = default;
  // The crash reporter's temporary folder; empty when unknown.
  virtual std::wstring TempFolder() = 0;
  virtual bool SaveBmp(const TINVBitmap& picture, const std::wstring& file) = 0;
  virtual INVBitmap LoadPicture(const std::wstring& file) = 0;
  // The file's last-write time as DOS date (high word) and time (low word); none when it cannot be read.
  virtual std::optional<uint32_t> FileTime(const std::wstring& file) = 0;
  // Opens the file with the shell verb "edit" in a maximized window; the editor's process handle (or 1
  // when the system gave none), 0 when it failed.
  virtual uintptr_t StartEditor(const std::wstring& file) = 0;
  virtual bool EditorEnded(uintptr_t process) = 0;
  virtual void CloseEditor(uintptr_t process) = 0;  // the handle only; the editor keeps running
  virtual void DeleteFile(const std::wstring& file) = 0;
  virtual void Beep() = 0;  // 60 Hz, 60 ms
};
void SetScreenshotEditing(IScreenshotEditing* editing);  // null restores the platform's
IScreenshotEditing& ScreenshotEditing();

// The editing record of a screenshot page (held in the form's user value while an edit is under way).
struct TScreenshotEdit {
  uint32_t fileTime = 0;
  uintptr_t editor = 0;
  std::wstring file;
};

}  // namespace rvx
