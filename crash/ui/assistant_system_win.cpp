// What the built-in assistant handlers need of Windows: the remembered contact data in the current user's
// registry, and editing the screenshot with the system's editor for bitmaps (the shell verb "edit").
#include <windows.h>
#include <shellapi.h>

#include "crash/core/settings.h"
#include "crash/delivery/fields.h"
#include "crash/ui/assistant_handlers.h"
#include "crash/ui/screenshot.h"

namespace rvx::assistant_platform {

namespace {

class RegistryContactStore final : public IContactStore {
 public:
  std::string Read(const char* value) override {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kContactKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    std::string text;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, value, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0 && size < (1u << 20)) {
      std::string bytes(size, '\0');
      if (RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size) == ERROR_SUCCESS) {
        bytes.resize(std::min<size_t>(size, bytes.size()));
        text = RegistryValueText(bytes, type == REG_SZ || type == REG_EXPAND_SZ);
      }
    }
    RegCloseKey(key);
    return text;
  }
  void Write(const char* value, std::string_view text) override {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kContactKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
      return;
    std::string stored(text);
    RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(stored.c_str()),
                   static_cast<DWORD>(stored.size() + 1));
    RegCloseKey(key);
  }
  void Delete(const char* value) override {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kContactKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, value);
    RegCloseKey(key);
  }
};

class ShellEditing final : public IScreenshotEditing {
 public:
  std::wstring TempFolder() override { return CrashTempFolder(ModuleFile(settings_platform::ProgramModule())); }
  bool SaveBmp(const TINVBitmap& picture, const std::wstring& file) override { return picture.SaveAsBmp(file); }
  INVBitmap LoadPicture(const std::wstring& file) override { return LoadBitmapFile(file); }
  std::optional<uint32_t> FileTime(const std::wstring& file) override {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(file.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(find);
    WORD date = 0, time = 0;
    if (!FileTimeToDosDateTime(&data.ftLastWriteTime, &date, &time)) return std::nullopt;
    return (uint32_t{date} << 16) | time;
  }
  uintptr_t StartEditor(const std::wstring& file) override {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"edit";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWMAXIMIZED;
    if (!ShellExecuteExW(&info)) return 0;
    // a started editor that gives no process (a running instance took the file) cannot be watched
    return info.hProcess ? reinterpret_cast<uintptr_t>(info.hProcess) : 1;
  }
  bool EditorEnded(uintptr_t process) override {
    if (process == 1) return true;
    return WaitForSingleObject(reinterpret_cast<HANDLE>(process), 0) != WAIT_TIMEOUT;
  }
  void CloseEditor(uintptr_t process) override {
    if (process > 1) CloseHandle(reinterpret_cast<HANDLE>(process));
  }
  void DeleteFile(const std::wstring& file) override { DeleteFileW(file.c_str()); }
  void Beep() override { ::Beep(60, 60); }
};

}  // namespace

IContactStore& PlatformContactStore() {
  static RegistryContactStore store;
  return store;
}

IScreenshotEditing& PlatformScreenshotEditing() {
  static ShellEditing editing;
  return editing;
}

}  // namespace rvx::assistant_platform
