// Module calibration in the running process: the record is read from each module's resources and the
// fields it gives are written into the loaded image's optional header.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "crash/core/calibration.h"
#include "crash/core/thread_hooks.h"
#include "crash/stack/fault_guard.h"

namespace rvx {
namespace {

// The fixed routine and variable that the crash reporter's own record is measured from.
volatile uint32_t g_calibrationVariable = 0;
__attribute__((noipa)) void CalibrationRoutine() { g_calibrationVariable = g_calibrationVariable + 1; }

bool ReadRecord(HMODULE module, TCalibrationRecord& record) {
  HRSRC found = FindResourceA(module, "CALIBRATE", "RVX");
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = found ? SizeofResource(module, found) : 0;
  return data && ParseCalibrationRecord(std::string_view(static_cast<const char*>(data), size), record);
}

bool Calibrate(HMODULE module, bool reporterModule) {
  TCalibrationRecord record;
  if (!ReadRecord(module, record)) return false;
  auto* base = reinterpret_cast<uint8_t*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  IMAGE_OPTIONAL_HEADER32& opt = nt->OptionalHeader;
  CalibrationTarget target;
  target.reporterModule = reporterModule;
  target.loadAddress = reinterpret_cast<uint32_t>(module);
  target.imageSize = opt.SizeOfImage;
  target.fixedRoutine = reinterpret_cast<uint32_t>(&CalibrationRoutine);
  target.fixedVariable = reinterpret_cast<uint32_t>(&g_calibrationVariable);
  TCalibratedHeader h;
  if (!CalibratedHeader(record, target, h)) return false;
  DWORD old;
  if (!VirtualProtect(&opt, sizeof opt, PAGE_READWRITE, &old)) return false;
  bool written = FaultGuarded([&] {
    opt.BaseOfCode = h.baseOfCode;
    opt.BaseOfData = h.baseOfData;
    opt.SizeOfCode = h.sizeOfCode;
    opt.SizeOfInitializedData = h.sizeOfInitializedData;
    opt.SizeOfUninitializedData = h.sizeOfUninitializedData;
  });
  VirtualProtect(&opt, sizeof opt, old, &old);
  return written;
}

bool IsPackage(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  return n > 4 && _wcsicmp(path + n - 4, L".bpl") == 0;
}

}  // namespace

int CalibrateModules() {
  HMODULE program = GetModuleHandleW(nullptr), own = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&CalibrationRoutine), &own);
  std::vector<HMODULE> modules{program};
  if (own && own != program) modules.push_back(own);
  for (uintptr_t m : PatchableModules()) {
    HMODULE module = reinterpret_cast<HMODULE>(m);
    if (module != program && module != own && IsPackage(module)) modules.push_back(module);
  }
  int calibrated = 0;
  for (HMODULE m : modules)
    if (Calibrate(m, m == own)) ++calibrated;
  return calibrated;
}

}  // namespace rvx
