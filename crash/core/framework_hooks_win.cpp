// The adapter between the crash reporter and the framework's application object: its two exception entry
// points (handle exception, show exception) are virtual; their slots in the class's virtual table are
// redirected with the patching primitives, so the patches are recorded and undone at the end. The call in
// CheckSynchronize that hands a failed synchronised call's exception to the waiting thread is redirected too,
// and the framework's last resort for showing an exception (fw::ShowExceptionMessage) starts with a jump to
// the crash reporter.
#include <windows.h>

#include <cxxabi.h>

#include <cstring>

#include "crash/core/hooks.h"
#include "crash/core/member_pointer.h"
#include "crash/core/pipeline.h"
#include "crash/stack/safe_read.h"
#include "framework/forms.h"
#include "framework/sysutils.h"

// The virtual table of fw::TApplication: offset to top, type information, then the slots.
extern "C" void* _ZTVN2fw12TApplicationE[];

namespace rvx {

namespace {

void __attribute__((thiscall)) HookedHandleException(fw::TApplication*, fw::TComponent* sender) {
  if (HWND capture = GetCapture()) SendMessageA(capture, WM_CANCELMODE, 0, 0);
  HandleCaughtException(kSourceAppHandleException, sender);
}

// Without an object: the exception being handled, when there is one, else one of our own with the text
// the framework would have shown.
void __attribute__((thiscall)) HookedShowException(fw::TApplication*, const std::exception* e,
                                                   const std::string& message) {
  if (e) return HandleExceptionObject(dynamic_cast<const void*>(e), typeid(*e), kSourceAppShowException, nullptr);
  if (abi::__cxa_current_exception_type()) return HandleCaughtException(kSourceAppShowException, nullptr);
  HandleParams hp;
  if (!message.empty()) hp.object = MakeOwnException(message);
  hp.address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  hp.framePointer = reinterpret_cast<uint32_t>(__builtin_frame_address(0));
  hp.source = kSourceAppShowException;
  HandleException(hp);
}

// The framework's last resort for showing an exception: handled with the object and the address given.
void HookedShowExceptionMessage(const std::exception_ptr& exception, const void* address) {
  const std::type_info* type = exception ? exception.__cxa_exception_type() : nullptr;
  void* object = nullptr;
  static_assert(sizeof(exception) == sizeof object, "exception_ptr holds the thrown object's address");
  std::memcpy(&object, &exception, sizeof object);
  if (type) return HandleExceptionObject(object, *type, kSourceShowExceptionMessage, nullptr,
                                         reinterpret_cast<uintptr_t>(address));
  HandleParams hp;
  hp.address = reinterpret_cast<uintptr_t>(address);
  hp.framePointer = reinterpret_cast<uint32_t>(__builtin_frame_address(0));
  hp.source = kSourceShowExceptionMessage;
  HandleException(hp);
}

// An EAbort goes to the waiting thread as before; any other exception is handled here and the waiting
// thread gets nothing.
void SyncExceptionTakeOver(std::exception_ptr* slot) {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type) {
    for (const std::string& name : TypeAncestry(*type))
      if (name == "EAbort") return fw::TakeOverSyncException(slot);
  }
  HandleCaughtException(kSourceSynchronize, nullptr);
}

}  // namespace

bool InstallFrameworkHooks() {
  if (!CrashReporterArmed()) return false;
  void** slots = &_ZTVN2fw12TApplicationE[2];
  int handle = VirtualSlot(&fw::TApplication::HandleException);
  int show = VirtualSlot(&fw::TApplication::ShowException);
  if (handle < 0 || show < 0) return false;
  // Each interception counts when its target holds it afterwards, put there now or by an earlier call.
  bool installed = true;
  auto slot = [&](void** at, const void* hook) {
    uint32_t value = reinterpret_cast<uint32_t>(hook);
    if (!Patch32(at, value) && !HoldsBytes(at, &value, sizeof value)) installed = false;
  };
  slot(&slots[handle], reinterpret_cast<const void*>(&HookedHandleException));
  slot(&slots[show], reinterpret_cast<const void*>(&HookedShowException));
  void* lastResort = reinterpret_cast<void*>(&fw::ShowExceptionMessage);
  void* lastResortHook = reinterpret_cast<void*>(&HookedShowExceptionMessage);
  if (!PatchJump(lastResort, lastResortHook) && !JumpsTo(lastResort, lastResortHook)) installed = false;
  // The crash reporter's modal loops on the main thread run the pending synchronised calls.
  SetIdleHook([] {
    if (fw::Application) fw::Application->CheckSynchronize();
  });
  uintptr_t checkSynchronize = MemberPointer(&fw::TApplication::CheckSynchronize);
  void* takeOver = reinterpret_cast<void*>(&fw::TakeOverSyncException);
  void* takeOverHook = reinterpret_cast<void*>(&SyncExceptionTakeOver);
  if (checkSynchronize & 1) {
    installed = false;  // a virtual routine: no code of its own to redirect
  } else if (!PatchRelativeCall(reinterpret_cast<void*>(checkSynchronize), takeOver, takeOverHook)) {
    ProcessReader memory;
    if (!FindRelativeCall(memory, static_cast<Address>(checkSynchronize), reinterpret_cast<Address>(takeOverHook)))
      installed = false;
  }
  return installed;
}

}  // namespace rvx
