// The upload's platform parts in the native build: no internet settings and no shell; file names in UTF-8.
#ifndef _WIN32
#include "crash/delivery/http_upload.h"
#include "crash/stack/text.h"

namespace rvx::http_platform {

std::string InternetProxy() { return {}; }
void OpenInShell(const std::string&) {}
std::filesystem::path FilePath(const std::wstring& file) { return std::filesystem::path(EncodeUtf8Text(file)); }

}  // namespace rvx::http_platform
#endif
