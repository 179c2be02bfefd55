// The record's platform layer on Windows: files, times, versions, windows of the exception box.
#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include "crash/core/exception_record.h"
#include "crash/delivery/fields.h"
#include "crash/core/freeze.h"
#include "crash/stack/text.h"

namespace rvx::record_platform {

namespace {
std::wstring ModulePath(HMODULE m) {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(m, path, MAX_PATH);
  return std::wstring(path, n);
}

ReportTime FromSystemTime(const SYSTEMTIME& s) {
  return {s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond, s.wMilliseconds};
}

void CreateFolders(const std::wstring& folder) {
  for (size_t i = 3; i <= folder.size(); ++i)
    if (i == folder.size() || folder[i] == L'\\') CreateDirectoryW(folder.substr(0, i).c_str(), nullptr);
}
}  // namespace

ReportTime LocalNow() {
  SYSTEMTIME s;
  GetLocalTime(&s);
  return FromSystemTime(s);
}

std::wstring ProgramPath() { return ModulePath(nullptr); }

std::wstring OwnModulePath() {
  HMODULE own = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&LocalNow), &own);
  return ModulePath(own);
}

bool FileTime(const std::wstring& path, ReportTime& time) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  FILETIME local;
  SYSTEMTIME s;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &s)) return false;
  time = FromSystemTime(s);
  return true;
}

std::string UserName() {
  char name[257] = {};
  DWORD size = 256;
  return GetUserNameA(name, &size) ? std::string(name) : std::string();
}

std::wstring WindowsFolder() {
  wchar_t path[MAX_PATH] = {};
  UINT n = GetWindowsDirectoryW(path, MAX_PATH);
  return std::wstring(path, n);
}

std::string CommandLineWithArguments() {
  std::string line = GetCommandLineA();
  // Skip the program name (quoted or not); without arguments there is no item.
  size_t i = 0;
  if (!line.empty() && line[0] == '"') {
    i = line.find('"', 1);
    i = i == std::string::npos ? line.size() : i + 1;
  } else {
    i = line.find(' ');
    if (i == std::string::npos) i = line.size();
  }
  return TrimText(line.substr(i)).empty() ? std::string() : line;
}

uint32_t ProcessId() { return GetCurrentProcessId(); }
bool Is9x() { return OsInfo().is9x; }
bool IsNT() { return !OsInfo().is9x; }

std::string ModuleFileVersion(const std::wstring& path) {
  DWORD handle = 0, size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (!size) return {};
  std::string data(size, '\0');
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info) return {};
  return DecimalText(HIWORD(info->dwFileVersionMS)) + "." + DecimalText(LOWORD(info->dwFileVersionMS)) + "." +
         DecimalText(HIWORD(info->dwFileVersionLS)) + "." + DecimalText(LOWORD(info->dwFileVersionLS));
}

std::string LoadedModuleVersion(const char* name) {
  HMODULE m = GetModuleHandleA(name);
  return m ? ModuleFileVersion(ModulePath(m)) : std::string();
}

namespace {
class Win32ReportFile : public ReportFile {
 public:
  explicit Win32ReportFile(HANDLE file) : file_(file) {}
  bool Size(uint64_t& size) override {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(file_, &s) || s.QuadPart < 0) return false;
    size = static_cast<uint64_t>(s.QuadPart);
    return true;
  }
  bool ReadAt(uint64_t offset, char* dest, size_t count) override {
    if (!Seek(offset)) return false;
    while (count > 0) {
      DWORD got = 0;
      DWORD part = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
      if (!ReadFile(file_, dest, part, &got, nullptr) || got == 0) return false;
      dest += got;
      count -= got;
    }
    return true;
  }
  bool WriteAt(uint64_t offset, std::string_view bytes) override {
    if (!Seek(offset)) return false;
    while (!bytes.empty()) {
      DWORD written = 0;
      DWORD part = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
      if (!WriteFile(file_, bytes.data(), part, &written, nullptr) || written == 0) return false;
      bytes.remove_prefix(written);
    }
    return true;
  }
  bool Truncate(uint64_t size) override { return Seek(size) && SetEndOfFile(file_); }

 private:
  bool Seek(uint64_t offset) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) != 0;
  }
  HANDLE file_;
};
}  // namespace

bool UpdateFile(const std::wstring& path, const std::function<bool(ReportFile& file)>& update) {
  std::wstring folder = FileNameOf(path).size() < path.size() ? FolderPart(path) : std::wstring();
  if (folder.size() > 3) CreateFolders(folder.substr(0, folder.size() - 1));
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  Win32ReportFile file(f);
  bool ok = update(file);
  if (!CloseHandle(f)) ok = false;
  return ok;
}

std::wstring UserAppDataFolder() {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, path))) return {};
  return path;
}

void PostToWindow(WindowHandle window, uint32_t message) { PostMessageA(static_cast<HWND>(window), message, 0, 0); }
void SendToWindow(WindowHandle window, uint32_t message) { SendMessageA(static_cast<HWND>(window), message, 0, 0); }

WindowHandle OpenExceptionBox() {
  struct Search {
    HWND found = nullptr;
  } s;
  EnumWindows(
      [](HWND w, LPARAM p) WINAPI -> BOOL {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        char cls[64] = {};
        GetClassNameA(w, cls, sizeof cls);
        if (pid == GetCurrentProcessId() && lstrcmpA(cls, "RavexWndClass") == 0) {
          reinterpret_cast<Search*>(p)->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

bool ProcessBlocked() { return rvx::ProcessBlocked(0); }
void Beep() { MessageBeep(MB_ICONERROR); }

bool AskSaveFileName(IRVException* record, WindowHandle parent, std::wstring& fileName) {
  std::wstring setting = record->BugRepFile();
  wchar_t buffer[MAX_PATH] = {};
  std::wstring proposed = FileNameOf(setting);
  lstrcpynW(buffer, proposed.c_str(), MAX_PATH);
  std::wstring folder = FolderPart(setting);
  wchar_t desktop[MAX_PATH] = {};
  if (folder.empty() && SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop))) folder = desktop;
  std::wstring title = AnsiToWide(record->SaveBtnTxt());
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = static_cast<HWND>(parent);
  ofn.lpstrFilter = L"*.txt\0*.txt\0";
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrTitle = title.c_str();
  ofn.lpstrDefExt = L"txt";
  ofn.Flags = OFN_HIDEREADONLY | OFN_NOREADONLYRETURN | OFN_OVERWRITEPROMPT;
  using SaveFn = BOOL(WINAPI*)(LPOPENFILENAMEW);
  HMODULE dlg = LoadLibraryA("comdlg32.dll");
  auto save = dlg ? reinterpret_cast<SaveFn>(reinterpret_cast<void*>(GetProcAddress(dlg, "GetSaveFileNameW"))) : nullptr;
  if (!save || !save(&ofn)) return false;
  fileName = buffer;
  return true;
}

void RestoreArrowCursor() { SetCursor(LoadCursor(nullptr, IDC_ARROW)); }

void CloseThreadHandle(void* thread) { CloseHandle(static_cast<HANDLE>(thread)); }

void TellUnavailable(WindowHandle parent, const std::string& text) {
  std::string line = "Ravex: " + text + "\r\n";
  OutputDebugStringA(line.c_str());
  // A program with a console (or whose standard error goes to a file) reads it there; a window program
  // without one has no such handle.
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (error && error != INVALID_HANDLE_VALUE)
    WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  HWND owner = static_cast<HWND>(parent);
  if (owner && IsWindow(owner)) MessageBoxA(owner, text.c_str(), "Ravex", MB_OK | MB_ICONWARNING);
}

}  // namespace rvx::record_platform
