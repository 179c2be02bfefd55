// The threads of a report: which threads are listed, their titles, and the text of their call stacks (from
// the stack walker), plus the "cpu registers", "stack dump" and "disassembling" sections of the crashed
// thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crash/stack/stack_trace.h"

namespace rvx {

// The registers at an exception: the Win32 x86 CONTEXT without its extended registers (204 bytes).
struct TContext {
  uint32_t ContextFlags;
  uint32_t Dr0, Dr1, Dr2, Dr3, Dr6, Dr7;
  uint8_t FloatSave[112];
  uint32_t SegGs, SegFs, SegEs, SegDs;
  uint32_t Edi, Esi, Ebx, Edx, Ecx, Eax;
  uint32_t Ebp, Eip, SegCs, EFlags, Esp, SegSs;
};
static_assert(sizeof(TContext) == 204, "x86 context layout");

// One listed thread of a report.
struct TThreadStack {
  uint32_t threadId = 0;
  std::string title;
  uint32_t currentAddress = 0;  // the exception address for the exception thread
  bool isException = false;
  bool externalException = false;
  uint32_t stackBottom = 0, stackTop = 0;
  uint32_t creatorAddress = 0;  // the call that created the thread, 0 when not known
  uint32_t ebp = 0;
  bool termination = false;
  TDAPreStackItem candidates;  // header element first; empty when none were collected
  uint32_t creatorThreadId = 0;
};

struct StackTextOptions {
  bool hideUglyItems = false;
  bool showRelAddrs = true;
  bool showRelLines = true;
  const volatile bool* abort = nullptr;
  std::function<void(int position)> progress;
};

// Computes a trace (the stack walker of the process unless replaced, for tests).
using TraceProvider = TraceResult (*)(const TraceOptions& options);
void SetTraceProvider(TraceProvider provider);  // null: the stack walker
// The stack text of one thread: its trace, with the ">> created by" line before the creator's call site. The
// thread's candidates are released.
TraceResult ThreadStackText(TThreadStack& thread, const StackTextOptions& options);

// "eax = 00000000" ... nine lines.
std::string CpuRegistersText(const TContext& context);
// Up to 20 lines of 16 bytes from `address`; `available` bytes can be read before the region ends.
std::string StackDumpText(uint32_t address, const uint8_t* bytes, uint32_t available);

// The report's disassembly hook (installed by the disassembler's plug-in unit): the listing of the function at
// `entry`, marking `exceptionAddress`; null when none is installed.
using DisassemblyHook = std::string (*)(uint32_t entry, uint32_t exceptionAddress, bool autoDelimiters,
                                        uint32_t lineLimit);
void SetDisassemblyHook(DisassemblyHook hook);
DisassemblyHook GetDisassemblyHook();

// ---- the running process (platform) -------------------------------------------------------------------

// Ids of the threads of this process, in the system's order.
std::vector<uint32_t> ListThreadIds();
struct ThreadStateInfo {
  uint32_t stackBottom = 0, stackTop = 0, ebp = 0, eip = 0;
  int priority = 0;
  bool suspended = false;
};
bool ThreadState(uint32_t threadId, ThreadStateInfo& state);
// The end of the memory region holding `address`, 0 when not committed.
uint32_t RegionEnd(uint32_t address);
// The end of the committed memory of the stack holding `address`, 0 when not committed.
uint32_t StackEnd(uint32_t address);
bool ReadProcessMemorySafe(uint32_t address, void* out, uint32_t count);
// The start of the call instruction that ends at a return address of this process (the address itself when
// none does).
uint32_t CallSiteOf(uint32_t returnAddress);
std::string ModuleNameOfAddress(uint32_t address);
uint32_t CurrentThreadId();

// ---- thread names -------------------------------------------------------------------------------------

// Creates or joins the process-wide thread-name buffer and names the main thread "main thread".
bool OpenThreadNameBuffer(uint32_t mainThreadId);
void CloseThreadNameBuffer();
// Mutex 1 of the buffer: held by the one freeze watch of the process. Null without a buffer.
void* FreezeWatchMutex();
uint32_t MainThreadId();
void SetMainThreadIdForNames(uint32_t id);
// Noticing that a thread has ended (the system may reuse its id afterwards): a watch of the thread, 0 when
// it cannot be watched; whether the thread has ended; closing the watch.
uintptr_t WatchThread(uint32_t threadId);
bool ThreadHasEnded(uintptr_t watch);
void ForgetThreadWatch(uintptr_t watch);
// Creates, updates or (empty name and no creator) removes a thread's entry. Entries of threads that have
// ended are removed with every change and never named.
void UpdateThreadEntry(uint32_t threadId, const std::string& name, uint32_t creatorThreadId = 0,
                       uint32_t creatorAddress = 0, const std::string& classText = {});
void RegisterThreadName(uint32_t threadId, const std::string& name);
// "name ($id)", "thread $id", or empty for the crash reporter's own threads unless included.
std::string ThreadTitle(uint32_t threadId, bool includeInternal, uint32_t* creatorAddress = nullptr,
                        uint32_t* creatorThreadId = nullptr);
// Whether the crash reporter's own threads are listed (set while the process is traced from outside).
void SetIncludeOwnThreads(bool include);
bool IncludeOwnThreads();

}  // namespace rvx
