// Containment of failures inside the crash reporter: a step runs under a guard that catches the C++
// exceptions it lets out and, on Windows, the processor faults it causes (access violations, illegal
// instructions, divisions by zero, ...) in any code it calls, also in system libraries and in code built
// without unwind information. A contained fault resumes the thread where the guard was entered: the
// registers, the chain of system exception frames, the floating-point unit and the runtime's record of
// caught C++ exceptions are put back as they were. Destructors of the abandoned frames do not run, so a
// guarded step keeps locks that must outlive a fault outside its body.
#pragma once

#include <cstdint>
#include <type_traits>

namespace rvx {

// What a guard saw of a processor fault (or another system exception of error severity).
struct FaultEvent {
  uint32_t code = 0;
  uint32_t address = 0;
  uint32_t parameterCount = 0;
  uint32_t parameters[2] = {0, 0};  // for an access violation: 1 = write, and the address touched
  void* context = nullptr;           // the thread's registers at the fault (x86 CONTEXT), valid in the observer
};

// Called on the faulting stack, before the thread is resumed at the guard: what lies on the stack at the
// fault is still intact, so a report of it can be composed here.
using FaultObserver = void (*)(const FaultEvent& fault, void* data);

// Runs body(data). True when it returned; false when it let a C++ exception out or a fault was contained.
bool RunFaultGuarded(void (*body)(void* data), void* data, FaultObserver observer = nullptr,
                     void* observerData = nullptr);

// Whether a system exception code is one that guards contain (the processor faults and every code of error
// severity; informational codes such as the thread-naming exception pass).
bool IsContainedFaultCode(uint32_t code);

// Runs f() under a guard; false when it failed (its result is then left out).
template <class F>
bool FaultGuarded(F&& f) {
  auto body = [](void* p) { (*static_cast<std::remove_reference_t<F>*>(p))(); };
  return RunFaultGuarded(body, const_cast<void*>(static_cast<const void*>(&f)));
}

}  // namespace rvx
