// Windows part of the text helpers: locale, system messages, code page conversions, OS description.
#include <windows.h>

#include "crash/stack/text.h"

namespace rvx {

namespace {

// Names kept out of the plain string table of the program; restored when needed.
constexpr uint8_t kScrambleKey = 0x5C;

template <size_t N>
struct Scrambled {
  char bytes[N]{};
  consteval Scrambled(const char (&text)[N]) {
    for (size_t i = 0; i < N; ++i) bytes[i] = static_cast<char>(text[i] ^ (kScrambleKey + i));
  }
  std::string Restore() const {
    std::string r(N - 1, '\0');
    for (size_t i = 0; i + 1 < N; ++i) r[i] = static_cast<char>(bytes[i] ^ static_cast<char>(kScrambleKey + i));
    return r;
  }
};

constexpr Scrambled kNtDll("ntdll.dll");
constexpr Scrambled kStatusToError("RtlNtStatusToDosError");
constexpr Scrambled kNetMessages("netmsg.dll");
constexpr Scrambled kInternetMessages("wininet.dll");

}  // namespace

char SystemDecimalSeparator() {
  char buf[8] = {};
  if (GetLocaleInfoA(GetThreadLocale(), LOCALE_SDECIMAL, buf, sizeof buf) > 0 && buf[0]) return buf[0];
  return ',';
}

std::string ErrorText(uint32_t code) {
  DWORD lookup = code;
  if (code > 0x3FFFFFFF) {
    using StatusToError = ULONG(WINAPI*)(LONG);
    HMODULE ntdll = GetModuleHandleA(kNtDll.Restore().c_str());
    auto fn = ntdll ? reinterpret_cast<StatusToError>(
                          reinterpret_cast<void*>(GetProcAddress(ntdll, kStatusToError.Restore().c_str())))
                    : nullptr;
    if (fn) {
      ULONG translated = fn(static_cast<LONG>(code));
      // "no mapping" would only give the text of that lookup failure: keep the code as it is then
      if (translated != ERROR_MR_MID_NOT_FOUND) lookup = translated;
    }
  }
  HMODULE messages = nullptr;
  if (lookup >= 2100 && lookup <= 2999)
    messages = LoadLibraryExA(kNetMessages.Restore().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  else if (lookup >= 12000 && lookup <= 12186)
    messages = LoadLibraryExA(kInternetMessages.Restore().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  if (messages) flags |= FORMAT_MESSAGE_FROM_HMODULE;
  char* buffer = nullptr;
  DWORD n = FormatMessageA(flags, messages, lookup, 0x400, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string result;
  if (n > 0 && buffer)
    result = OneLineMessage(std::string_view(buffer, n));
  else
    result = UnknownErrorText(code);
  if (buffer) LocalFree(buffer);
  if (messages) FreeLibrary(messages);
  return result;
}

std::string EncodeUtf8Text(std::wstring_view t) {
  if (t.empty()) return {};
  int room = static_cast<int>(t.size() * 3);
  std::string r(static_cast<size_t>(room), '\0');
  int n = WideCharToMultiByte(CP_UTF8, 0, t.data(), static_cast<int>(t.size()), r.data(), room, nullptr, nullptr);
  if (n <= 0) {
    // the buffer was too small (characters outside the basic plane can take 4 bytes); ask for the size
    n = WideCharToMultiByte(CP_UTF8, 0, t.data(), static_cast<int>(t.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    r.assign(static_cast<size_t>(n), '\0');
    n = WideCharToMultiByte(CP_UTF8, 0, t.data(), static_cast<int>(t.size()), r.data(), n, nullptr, nullptr);
    if (n <= 0) return {};
  }
  r.resize(static_cast<size_t>(n));
  if (n == room) {
    // cut back a partial multi-byte sequence at the end
    size_t end = r.size(), lead = end;
    while (lead > 0 && (static_cast<uint8_t>(r[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0) {
      uint8_t b = static_cast<uint8_t>(r[lead - 1]);
      size_t want = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
      if (end - (lead - 1) < want) r.resize(lead - 1);
    }
  }
  return r;
}

std::wstring DecodeUtf8Text(std::string_view s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring r(static_cast<size_t>(n), L'\0');
  n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), r.data(), n);
  r.resize(n > 0 ? static_cast<size_t>(n) : 0);
  if (!r.empty() && (r.back() & 0xFC00) == 0xD800) r.pop_back();
  return r;
}

std::wstring AnsiToWide(std::string_view s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring r(static_cast<size_t>(n), L'\0');
  n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), r.data(), n);
  r.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return r;
}

std::string WideToAnsi(std::wstring_view t) {
  if (t.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, t.data(), static_cast<int>(t.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string r(static_cast<size_t>(n), '\0');
  n = WideCharToMultiByte(CP_ACP, 0, t.data(), static_cast<int>(t.size()), r.data(), n, nullptr, nullptr);
  r.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return r;
}

namespace {
OsFacts ReadOsFacts() {
  OsFacts f;
  if (GetVersion() & 0x80000000u) {
    OSVERSIONINFOA a{};
    a.dwOSVersionInfoSize = sizeof a;
    if (GetVersionExA(&a)) {
      f.platformId = a.dwPlatformId;
      f.major = a.dwMajorVersion, f.minor = a.dwMinorVersion, f.build = a.dwBuildNumber;
      f.csdVersion = WidenLatin1(a.szCSDVersion);
    }
  } else {
    OSVERSIONINFOEXW x{};
    x.dwOSVersionInfoSize = sizeof x;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&x))) {
      f.extended = true;
      f.servicePackMajor = x.wServicePackMajor;
      f.productType = x.wProductType;
    } else {
      x.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
      if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&x))) return f;
    }
    f.platformId = x.dwPlatformId;
    f.major = x.dwMajorVersion, f.minor = x.dwMinorVersion, f.build = x.dwBuildNumber;
    f.csdVersion = x.szCSDVersion;
  }
  if (f.platformId == VER_PLATFORM_WIN32_NT) {
    using NativeInfo = void(WINAPI*)(SYSTEM_INFO*);
    auto fn = reinterpret_cast<NativeInfo>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetNativeSystemInfo")));
    if (fn) {
      SYSTEM_INFO si{};
      fn(&si);
      f.native64 = si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
    }
    f.serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
    f.tabletPc = GetSystemMetrics(SM_TABLETPC) != 0;
    f.starter = GetSystemMetrics(SM_STARTER) != 0;
    f.mediaCenter = GetSystemMetrics(SM_MEDIACENTER) != 0;
  }
  return f;
}
}  // namespace

TOS OsInfo() {
  static const TOS os = DescribeOs(ReadOsFacts());
  return os;
}

}  // namespace rvx
