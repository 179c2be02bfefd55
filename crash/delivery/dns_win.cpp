// The system's DNS servers on Windows: the TCP/IP registry values on the oldest systems, the IP Helper's
// network parameters everywhere else.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <vector>

#include "crash/delivery/dns.h"
#include "crash/stack/text.h"

namespace rvx::dns {
namespace {

std::string RegistryText(HKEY key, const char* value) {
  DWORD type = 0, size = 0;
  if (::RegQueryValueExA(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > 64 * 1024)
    return {};
  std::string text(size, '\0');
  if (::RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
    return {};
  text.resize(size < text.size() ? size : text.size());
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

std::vector<std::string> RegistryServers(bool family9x) {
  const char* path = family9x ? "System\\CurrentControlSet\\Services\\VxD\\MSTCP"
                              : "System\\CurrentControlSet\\Services\\Tcpip\\Parameters";
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  std::string list = RegistryText(key, "DhcpNameServer");
  if (list.empty()) list = RegistryText(key, "NameServer");
  ::RegCloseKey(key);
  return SplitServerList(list);
}

// The IP Helper library is loaded when needed: the oldest systems, which keep their servers in the registry,
// do not have it.
using GetNetworkParamsFn = DWORD(WINAPI*)(PFIXED_INFO, PULONG);

std::vector<std::string> IpHelperServers() {
  HMODULE library = ::LoadLibraryA("iphlpapi.dll");
  if (!library) return {};
  struct Unload {
    HMODULE m;
    ~Unload() { ::FreeLibrary(m); }
  } unload{library};
  const auto getNetworkParams = reinterpret_cast<GetNetworkParamsFn>(
      reinterpret_cast<void (*)()>(::GetProcAddress(library, "GetNetworkParams")));
  if (!getNetworkParams) return {};
  ULONG size = 0;
  if (getNetworkParams(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return {};
  std::vector<unsigned char> buffer;
  for (int attempt = 0; attempt < 3; ++attempt) {
    buffer.assign(size, 0);
    const DWORD r = getNetworkParams(reinterpret_cast<FIXED_INFO*>(buffer.data()), &size);
    if (r == ERROR_SUCCESS) break;
    if (r != ERROR_BUFFER_OVERFLOW) return {};
  }
  if (buffer.size() < sizeof(FIXED_INFO)) return {};
  const auto* info = reinterpret_cast<const FIXED_INFO*>(buffer.data());
  auto text = [](const IP_ADDRESS_STRING& a) {
    return std::string(a.String, strnlen(a.String, sizeof a.String));
  };
  std::string current;
  if (info->CurrentDnsServer) current = text(info->CurrentDnsServer->IpAddress);
  std::vector<std::string> list;
  int guard = 0;
  for (const IP_ADDR_STRING* s = &info->DnsServerList; s && guard < 64; s = s->Next, ++guard)
    list.push_back(text(s->IpAddress));
  return MergeServerLists(current, list);
}

}  // namespace

std::vector<std::string> PlatformDnsServers() {
  const TOS os = OsInfo();
  switch (os.edition) {
    case kOsWin95:
    case kOsWin95Osr2:
    case kOsWinNT3:
    case kOsWinNT4:
      return RegistryServers(os.is9x);
    default:
      return IpHelperServers();
  }
}

}  // namespace rvx::dns
