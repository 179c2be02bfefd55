// The built-in plug-ins' views of the running system: loaded modules, processes, installed devices.
#include <windows.h>
#include <setupapi.h>

#include "crash/core/process_list.h"
#include "crash/core/report_plugins.h"
#include "crash/stack/module.h"
#include "crash/stack/text.h"

namespace rvx {

namespace {

template <class F>
F Routine(const char* library, const char* name, bool load) {
  HMODULE m = load ? LoadLibraryA(library) : GetModuleHandleA(library);
  return m ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}

void SplitPath(const std::string& path, std::string& file, std::string& folder) {
  size_t slash = path.find_last_of('\\');
  file = slash == std::string::npos ? path : path.substr(slash + 1);
  folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string RegistryValueText(HKEY root, const std::string& key, const char* value, bool* exists = nullptr) {
  if (exists) *exists = false;
  HKEY h;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return {};
  char buffer[1024] = {};
  DWORD size = sizeof buffer - 1, type = 0;
  std::string out;
  if (RegQueryValueExA(h, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS) {
    if (exists) *exists = true;
    if (type == REG_SZ || type == REG_EXPAND_SZ) out.assign(buffer, strnlen(buffer, size));
  }
  RegCloseKey(h);
  return out;
}

bool RegistryDword(HKEY root, const std::string& key, const char* value, DWORD& out) {
  HKEY h;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  DWORD size = sizeof out, type = 0;
  bool ok = RegQueryValueExA(h, value, nullptr, &type, reinterpret_cast<BYTE*>(&out), &size) == ERROR_SUCCESS &&
            type == REG_DWORD && size == 4;
  RegCloseKey(h);
  return ok;
}

}  // namespace

std::string ModulesPluginText() {
  std::vector<ModuleLine> modules;
  modules.reserve(32);
  MEMORY_BASIC_INFORMATION m;
  uintptr_t address = 0, previous = 0;
  while (VirtualQuery(reinterpret_cast<void*>(address), &m, sizeof m) == sizeof m) {
    const uintptr_t base = reinterpret_cast<uintptr_t>(m.BaseAddress);
    const uintptr_t allocation = reinterpret_cast<uintptr_t>(m.AllocationBase);
    if (m.State == MEM_COMMIT && base == allocation && allocation != previous) {
      char path[MAX_PATH] = {};
      if (GetModuleFileNameA(reinterpret_cast<HMODULE>(allocation), path, MAX_PATH)) {
        ModuleLine line;
        line.handle = static_cast<uint32_t>(allocation);
        SplitPath(path, line.fileName, line.directory);
        line.version = FileVersionOf(path);
        if (modules.size() == modules.capacity()) modules.reserve(modules.capacity() * 2);
        modules.push_back(std::move(line));
      }
    }
    if (m.State != MEM_FREE) previous = allocation;
    uintptr_t next = base + m.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return ModulesText(modules);
}

std::string ProcessesPluginText() {
  std::vector<ProcessRecord> records;
  if (!QuerySystemProcesses(records)) return {};
  using NameExFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
  using GuiFn = DWORD(WINAPI*)(HANDLE, DWORD);
  static auto nameEx = Routine<NameExFn>("psapi.dll", "GetModuleFileNameExA", true);
  static auto gui = Routine<GuiFn>("user32.dll", "GetGuiResources", true);
  char systemFolder[MAX_PATH] = {};
  GetSystemDirectoryA(systemFolder, MAX_PATH);
  std::vector<ProcessLine> lines;
  lines.reserve(64);
  for (const ProcessRecord& r : records) {
    ProcessLine p;
    p.processId = r.processId;
    p.sessionId = r.sessionId;
    std::string path = r.imageName.empty() ? std::string("Idle") : r.imageName;
    if (HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, r.processId)) {
      char full[MAX_PATH] = {};
      if (nameEx && nameEx(h, nullptr, full, MAX_PATH)) path = NormalImagePath(full, systemFolder);
      CloseHandle(h);
    }
    if (HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, r.processId)) {
      p.priorityClass = GetPriorityClass(h);
      if (gui) {
        p.gdiObjects = gui(h, 0);
        p.userObjects = gui(h, 1);
      }
      CloseHandle(h);
    }
    SplitPath(path, p.fileName, p.directory);
    if (lines.size() == lines.capacity()) lines.reserve(lines.capacity() * 2);
    lines.push_back(std::move(p));
  }
  return ProcessesText(lines);
}

std::string HardwarePluginText() {
  using GetClassDevsFn = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
  using EnumFn = BOOL(WINAPI*)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
  using PropertyFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
  using DestroyFn = BOOL(WINAPI*)(HDEVINFO);
  static auto getClassDevs = Routine<GetClassDevsFn>("setupapi.dll", "SetupDiGetClassDevsA", true);
  static auto enumDevices = Routine<EnumFn>("setupapi.dll", "SetupDiEnumDeviceInfo", true);
  static auto property = Routine<PropertyFn>("setupapi.dll", "SetupDiGetDeviceRegistryPropertyA", true);
  static auto destroy = Routine<DestroyFn>("setupapi.dll", "SetupDiDestroyDeviceInfoList", true);
  if (!getClassDevs || !enumDevices || !property || !destroy) return {};
  HDEVINFO set = getClassDevs(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) return {};
  auto text = [&](SP_DEVINFO_DATA& d, DWORD which) {
    DWORD size = 0, type = 0;
    property(set, &d, which, &type, nullptr, 0, &size);
    if (!size || size > 65536) return std::string();
    std::string buffer(size_t(size) * 2, '\0');
    if (!property(set, &d, which, &type, reinterpret_cast<BYTE*>(buffer.data()), static_cast<DWORD>(buffer.size()),
                  nullptr))
      return std::string();
    return std::string(buffer.c_str());
  };
  std::vector<DeviceLine> devices;
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d;
  for (DWORD i = 0; i < 100000 && enumDevices(set, i, &d); ++i) {
    std::string cls = text(d, SPDRP_CLASS);
    if (EqualTextCI(cls, "LegacyDriver") || EqualTextCI(cls, "Unknown") || EqualTextCI(cls, "Volume")) continue;
    std::string hardwareId = text(d, SPDRP_HARDWAREID);
    if (hardwareId.size() >= 3 && EqualTextCI(hardwareId.substr(0, 3), "sw\\")) continue;
    std::string guid = text(d, SPDRP_CLASSGUID);
    std::string classText;
    if (!guid.empty())
      classText = RegistryValueText(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Class\\" + guid, "");
    if (classText.empty()) continue;
    DeviceLine line;
    line.deviceClass = classText;
    line.device = text(d, SPDRP_FRIENDLYNAME);
    if (line.device.empty()) line.device = text(d, SPDRP_DEVICEDESC);
    std::string driverKey = "System\\CurrentControlSet\\Control\\Class\\" + text(d, SPDRP_DRIVER);
    DWORD characteristics = 0;
    if (RegistryDword(HKEY_LOCAL_MACHINE, driverKey, "Characteristics", characteristics) && (characteristics & 0x8))
      continue;
    std::string provider = RegistryValueText(HKEY_LOCAL_MACHINE, driverKey, "ProviderName");
    if (!provider.empty() && provider[0] != '(' && !EqualTextCI(provider, "Microsoft")) {
      bool hasVersion = false, hasDate = false;
      std::string version = RegistryValueText(HKEY_LOCAL_MACHINE, driverKey, "DriverVersion", &hasVersion);
      if (!hasVersion) version = RegistryValueText(HKEY_LOCAL_MACHINE, driverKey, "DriverDate", &hasDate);
      if (hasVersion || hasDate) line.driverText = " (driver " + TrimText(version) + ")";
    }
    devices.push_back(std::move(line));
  }
  destroy(set);
  return HardwareText(devices);
}

}  // namespace rvx
