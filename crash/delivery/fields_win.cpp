// Windows file access of the attachment assembly.
#include <windows.h>

#include "crash/delivery/fields.h"

namespace rvx::delivery_files {

bool Exists(const std::wstring& file) {
  DWORD a = file.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(file.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Copy(const std::wstring& from, const std::wstring& to) { return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0; }

void Delete(const std::wstring& file) {
  if (!file.empty()) DeleteFileW(file.c_str());
}

bool MakeFolder(const std::wstring& folder) {
  CreateDirectoryW(folder.c_str(), nullptr);
  DWORD a = GetFileAttributesW(folder.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring SystemTempFolder() {
  wchar_t buf[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return {};
  std::wstring t(buf, n);
  while (!t.empty() && (t.back() == L'\\' || t.back() == L'/')) t.pop_back();
  return t;
}

}  // namespace rvx::delivery_files
