// Guards on Windows: a frame of the system's exception chain (fs:[0]) around the guarded call. Frames that
// the called code registers itself come first and handle their own exceptions; what reaches the guard is
// shown to the observer on the faulting stack, the frames above the guard are unwound by the system (their
// own handlers see the unwind), and the thread resumes at the guard with the registers it had there.
#include <windows.h>

#include <cstddef>

#include "crash/stack/fault_guard.h"

namespace rvx {
namespace {

// One guard: the registration record of the exception chain followed by what resuming needs. The layout
// is used by the assembly below.
struct GuardFrame {
  GuardFrame* previous;       // 0: next record of the chain
  void* handler;              // 4
  uint32_t esp, ebp, ebx;     // 8, 12, 16: registers at the guard
  uint32_t esi, edi;          // 20, 24
  uint32_t resumeAt;          // 28
  uint32_t fpuControl;        // 32: control word (low 16 bits)
  FaultObserver observer;     // 36
  void* observerData;         // 40
  uint32_t faulted;           // 44: the code of the contained fault, 0 while none
};
static_assert(offsetof(GuardFrame, resumeAt) == 28 && offsetof(GuardFrame, fpuControl) == 32 &&
                  offsetof(GuardFrame, faulted) == 44,
              "guard frame layout used by the assembly");

// The runtime's per-thread record of C++ exceptions being handled (libstdc++).
struct CxaGlobals {
  void* caughtExceptions;
  unsigned int uncaughtExceptions;
};
extern "C" CxaGlobals* __cxa_get_globals() noexcept;

struct GuardedCall {
  void (*body)(void*);
  void* data;
  bool returned;
};

// An overflow used up the stack's guard page: without a new one the next overflow would end the process.
void RestoreStackGuard() {
  using ResetFn = int(__cdecl*)();
  static const auto reset = reinterpret_cast<ResetFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), "_resetstkoflw")));
  if (reset) reset();
}

extern "C" void rvx_guard_trampoline(void* p) {
  auto* call = static_cast<GuardedCall*>(p);
  try {
    call->body(call->data);
    call->returned = true;
  } catch (...) {
    call->returned = false;
  }
}

}  // namespace
}  // namespace rvx

extern "C" {
int rvx_guard_enter(rvx::GuardFrame* frame, void (*call)(void*), void* data);
void rvx_guard_unwind(rvx::GuardFrame* frame);
[[noreturn]] void rvx_guard_resume(rvx::GuardFrame* frame);
EXCEPTION_DISPOSITION __cdecl rvx_guard_handler(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context,
                                                void* dispatcher);
}

// rvx_guard_enter: links the frame into the chain, calls call(data), unlinks; 1 when the call returned, 0
// after a contained fault (entered at the resume label with the registers saved in the frame).
// rvx_guard_unwind: unwinds the system's exception chain down to the frame (the frames in between see
// the unwind) and returns normally.
// rvx_guard_resume: continues at the frame's resume label on the guard's stack.
asm(R"(
  .text
  .globl _rvx_guard_enter
_rvx_guard_enter:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 8(%ebp), %eax
  movl %esp, 8(%eax)
  movl %ebp, 12(%eax)
  movl %ebx, 16(%eax)
  movl %esi, 20(%eax)
  movl %edi, 24(%eax)
  movl $_rvx_guard_resumed, 28(%eax)
  fnstcw 32(%eax)
  movl %fs:0, %ecx
  movl %ecx, 0(%eax)
  movl $_rvx_guard_handler, 4(%eax)
  movl %eax, %fs:0
  pushl 16(%ebp)
  call *12(%ebp)
  addl $4, %esp
  movl 8(%ebp), %eax
  movl 0(%eax), %ecx
  movl %ecx, %fs:0
  movl $1, %eax
  jmp _rvx_guard_leave
_rvx_guard_resumed:
  movl 8(%ebp), %eax
  movl 0(%eax), %ecx
  movl %ecx, %fs:0
  fninit
  fldcw 32(%eax)
  cld
  xorl %eax, %eax
_rvx_guard_leave:
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret

  .globl _rvx_guard_unwind
_rvx_guard_unwind:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  pushl $0
  pushl $0
  pushl $_rvx_guard_unwound
  pushl 8(%ebp)
  call _RtlUnwind@16
_rvx_guard_unwound:
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret

  .globl _rvx_guard_resume
_rvx_guard_resume:
  movl 4(%esp), %eax
  movl 12(%eax), %ebp
  movl 16(%eax), %ebx
  movl 20(%eax), %esi
  movl 24(%eax), %edi
  movl 8(%eax), %esp
  jmp *28(%eax)
)");

EXCEPTION_DISPOSITION __cdecl rvx_guard_handler(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context,
                                                void*) {
  if (!record || (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)))
    return ExceptionContinueSearch;
  auto* frame = static_cast<rvx::GuardFrame*>(establisher);
  // A fault of the observer itself goes to the guards further out.
  if (!rvx::IsContainedFaultCode(record->ExceptionCode) || frame->faulted) return ExceptionContinueSearch;
  frame->faulted = record->ExceptionCode;
  if (frame->observer) {
    rvx::FaultEvent event;
    event.code = record->ExceptionCode;
    event.address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record->ExceptionAddress));
    event.parameterCount = record->NumberParameters;
    for (DWORD i = 0; i < 2 && i < record->NumberParameters; ++i)
      event.parameters[i] = static_cast<uint32_t>(record->ExceptionInformation[i]);
    event.context = context;
    frame->observer(event, frame->observerData);
  }
  rvx_guard_unwind(frame);
  rvx_guard_resume(frame);
}

namespace rvx {

bool RunFaultGuarded(void (*body)(void*), void* data, FaultObserver observer, void* observerData) {
  GuardedCall call{body, data, false};
  GuardFrame frame{};
  frame.observer = observer;
  frame.observerData = observerData;
  CxaGlobals* globals = __cxa_get_globals();
  CxaGlobals saved = globals ? *globals : CxaGlobals{};
  if (rvx_guard_enter(&frame, rvx_guard_trampoline, &call)) return call.returned;
  // Catch blocks left by the fault no longer run: forget the exceptions they were handling.
  if (globals) *globals = saved;
  if (frame.faulted == EXCEPTION_STACK_OVERFLOW) RestoreStackGuard();
  return false;
}

}  // namespace rvx
