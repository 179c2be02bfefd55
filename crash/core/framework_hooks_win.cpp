// The adapter between the crash reporter and the framework's application object: its two exception entry
// points (handle exception, show exception) are virtual; their slots in the class's virtual table are
// redirected with the patching primitives, so the patches are recorded and undone at the end.
#include <windows.h>

#include <cstring>

#include "crash/core/hooks.h"
#include "crash/core/pipeline.h"
#include "framework/forms.h"

// The virtual table of fw::TApplication: offset to top, type information, then the slots.
extern "C" void* _ZTVN2fw12TApplicationE[];

namespace rvx {

namespace {

void __attribute__((thiscall)) HookedHandleException(fw::TApplication*, fw::TComponent* sender) {
  if (HWND capture = GetCapture()) SendMessageA(capture, WM_CANCELMODE, 0, 0);
  HandleCaughtException(kSourceAppHandleException, sender);
}

void __attribute__((thiscall)) HookedShowException(fw::TApplication*, const std::exception* e, const std::string&) {
  if (e) HandleExceptionObject(dynamic_cast<const void*>(e), typeid(*e), kSourceAppShowException, nullptr);
}

template <class MemberFunction>
int VirtualSlot(MemberFunction function) {
  struct {
    uintptr_t pointer;
    ptrdiff_t adjust;
  } raw;
  static_assert(sizeof raw == sizeof function, "member function pointer layout");
  std::memcpy(&raw, &function, sizeof raw);
  return raw.pointer & 1 ? static_cast<int>((raw.pointer - 1) / sizeof(void*)) : -1;
}

}  // namespace

bool InstallFrameworkHooks() {
  if (!CrashReporterArmed()) return false;
  void** slots = &_ZTVN2fw12TApplicationE[2];
  int handle = VirtualSlot(&fw::TApplication::HandleException);
  int show = VirtualSlot(&fw::TApplication::ShowException);
  if (handle < 0 || show < 0) return false;
  Patch32(&slots[handle], reinterpret_cast<uint32_t>(&HookedHandleException));
  Patch32(&slots[show], reinterpret_cast<uint32_t>(&HookedShowException));
  return true;
}

}  // namespace rvx
