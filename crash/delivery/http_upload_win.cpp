// The upload's platform parts on Windows: the internet library's proxy setting and the shell.
#include <windows.h>
#include <shellapi.h>
#include <wininet.h>

#include <vector>

#include "crash/delivery/http_upload.h"

namespace rvx::http_platform {

std::string InternetProxy() {
  DWORD size = 0;
  ::InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, nullptr, &size);
  if (size < sizeof(INTERNET_PROXY_INFO) || size > 64 * 1024) return {};
  std::vector<unsigned char> buffer(size);
  if (!::InternetQueryOptionA(nullptr, INTERNET_OPTION_PROXY, buffer.data(), &size)) return {};
  const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer.data());
  if (info->dwAccessType != INTERNET_OPEN_TYPE_PROXY || !info->lpszProxy) return {};
  // The text lies inside the buffer that the library filled; never read beyond it.
  const char* text = reinterpret_cast<const char*>(info->lpszProxy);
  const char* begin = reinterpret_cast<const char*>(buffer.data());
  if (text < begin || text >= begin + buffer.size()) return {};
  return std::string(text, strnlen(text, static_cast<size_t>(begin + buffer.size() - text)));
}

void OpenInShell(const std::string& url) {
  ::ShellExecuteA(nullptr, nullptr, url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::filesystem::path FilePath(const std::wstring& file) { return std::filesystem::path(file); }

}  // namespace rvx::http_platform
