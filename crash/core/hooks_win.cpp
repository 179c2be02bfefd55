// Interception on Windows (see hooks.h for the map of interception points), start-up and shut-down of the
// crash reporter, patching primitives, the checksum check, the restart hand-over and rvxTraceProcess.
#include <windows.h>
#include <tlhelp32.h>

#include <cxxabi.h>
#include <signal.h>
#include <unwind.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <exception>
#include <mutex>
#include <vector>

#include "crash/core/calibration.h"
#include "crash/core/freeze.h"
#include "crash/core/handlers.h"
#include "crash/core/hooks.h"
#include "crash/core/import_slots.h"
#include "crash/core/pipeline.h"
#include "crash/core/report_plugins.h"
#include "crash/core/report_printer.h"
#include "crash/core/shared_objects.h"
#include "crash/core/sysinfo.h"
#include "crash/core/thread_hooks.h"
#include "crash/core/settings.h"
#include "crash/delivery/send.h"
#include "crash/stack/fault_guard.h"
#include "crash/stack/module.h"
#include "crash/stack/safe_read.h"
#include "crash/stack/stack_trace.h"
#include "crash/stack/text.h"
#include "framework/exceptions.h"

namespace rvx {

namespace {

// The last raise of this thread: object, type, call site and frame.
struct LastRaise {
  void* object = nullptr;
  const std::type_info* type = nullptr;
  uint32_t address = 0, ebp = 0, esp = 0;
};
thread_local LastRaise t_last;
// Set while the thread runs under a thread-entry or work-item wrapper.
thread_local bool t_wrapped = false;
thread_local int t_terminating = 0;
// Set while the end of a catch block is being looked at for a hidden exception.
thread_local bool t_inHidden = false;

std::mutex g_patchMutex;
std::vector<TPatchRecord> g_patches;
std::atomic<bool> g_armed{false};
std::terminate_handler g_previousTerminate = nullptr;

void* CurrentThrownObject() {
  std::exception_ptr p = std::current_exception();
  void* object = nullptr;
  static_assert(sizeof(p) == sizeof(void*), "exception_ptr holds the thrown object's address");
  std::memcpy(&object, &p, sizeof object);
  return object;
}

// What the stack held above the last throw of this thread, copied when the throw began. A catch block that
// hands its exception over runs after the unwinder, the program's cleanups and the catch block's own calls
// have reused that part of the stack: the frames between the throw and the catch are found in the copy.
constexpr uint32_t kThrowStackBytes = 16 * 1024;
struct ThrowStack {
  uint32_t base = 0, size = 0;
  uint32_t words[kThrowStackBytes / 4];
};
// Taken from the heap at a thread's first throw and given back when the thread ends; a throw that finds no
// memory for it (a std::bad_alloc, say) goes on without a copy.
struct ThrowStackHolder {
  ThrowStack* copy = nullptr;
  ~ThrowStackHolder() { std::free(copy); }
};
thread_local ThrowStackHolder t_throwStack;

// The calling thread's stack: its top (the thread information block's stack base) and its committed end.
uint32_t StackTopOfThisThread() {
  uint32_t top;
  asm volatile("movl %%fs:4, %0" : "=r"(top));
  return top;
}
uint32_t StackLimitOfThisThread() {
  uint32_t limit;
  asm volatile("movl %%fs:8, %0" : "=r"(limit));
  return limit;
}

void CopyThrowStack(uint32_t esp) {
  const uint32_t limit = StackLimitOfThisThread(), top = StackTopOfThisThread();
  ThrowStack*& held = t_throwStack.copy;
  if (!held) held = static_cast<ThrowStack*>(std::malloc(sizeof(ThrowStack)));
  if (!held) return;
  ThrowStack& copy = *held;
  copy.base = esp;
  copy.size = esp >= limit && esp < top ? std::min(top - esp, kThrowStackBytes) & ~3u : 0;
  std::memcpy(copy.words, reinterpret_cast<const void*>(esp), copy.size);
}

// The process's memory, with the copied part of the stack as it was at the throw.
class ThrowStackReader : public ProcessReader {
 public:
  ThrowStackReader(const TDATryRead* snapshot, const ThrowStack& copy) : ProcessReader(snapshot), copy_(copy) {}
  size_t Fetch(Address address, void* dest, size_t count) const override {
    size_t got = ProcessReader::Fetch(address, dest, count);
    const uint64_t from = std::max<uint64_t>(address, copy_.base);
    const uint64_t to = std::min<uint64_t>(uint64_t(address) + got, uint64_t(copy_.base) + copy_.size);
    if (from < to)
      std::memcpy(static_cast<uint8_t*>(dest) + (from - address),
                  reinterpret_cast<const uint8_t*>(copy_.words) + (from - copy_.base), static_cast<size_t>(to - from));
    return got;
  }

 private:
  const ThrowStack& copy_;
};

// The cheap part of the stack walk over the copy of the last throw (from its stack pointer to the top of the
// stack); empty when there is no copy.
void CollectFromThrowStack(TDAPreStackItem& out) {
  if (!t_throwStack.copy) return;
  const ThrowStack& copy = *t_throwStack.copy;
  if (!copy.size || copy.base != t_last.esp) return;
  FaultGuarded([&] {
    TDATryRead snapshot = TakeReadSnapshot();
    ThrowStackReader reader(&snapshot, copy);
    WalkerEnvironment env;
    env.memory = &reader;
    TStackWalker walker(std::move(env));
    if (walker.CollectCandidates(t_last.ebp, StackTopOfThisThread(), copy.base, out, true, t_last.address) <= 0)
      TDAPreStackItem().swap(out);
  });
}

// Fills address, frame and stack pointer from the last raise when it threw this object, and the candidates
// of its stack from the copy taken at the throw (kept in `prepared`, which must outlive the handling).
void FromLastRaise(HandleParams& hp, const void* object, TDAPreStackItem& prepared) {
  if (object && t_last.object == object) {
    hp.address = t_last.address;
    hp.framePointer = t_last.ebp;
    hp.stackPointer = t_last.esp;
    CollectFromThrowStack(prepared);
    if (!prepared.empty()) hp.preparedStack = &prepared;
  }
}

[[noreturn]] void EndThread(DWORD code) {
  UpdateThreadEntry(GetCurrentThreadId(), "");
  ExitThread(code);
}

void RuntimeError(const char* text, uint32_t address) {
  HandleParams hp;
  hp.object = MakeOwnException(text);
  hp.address = address;
  hp.source = kSourceRuntimeError;
  hp.canContinue = false;
  hp.framePointer = reinterpret_cast<uint32_t>(__builtin_frame_address(0));
  HandleException(hp);
  pipeline_platform::EndProgram(nullptr);
}

void OnTerminate() {
  if (t_terminating++) TerminateProcess(GetCurrentProcess(), 3);
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (!type) RuntimeError("Runtime error", reinterpret_cast<uint32_t>(__builtin_return_address(0)));
  void* object = CurrentThrownObject();
  HandleParams hp;
  hp.object = MakeThrownException(object, type);
  TDAPreStackItem prepared;
  FromLastRaise(hp, object, prepared);
  bool mainThread = GetCurrentThreadId() == MainThreadId();
  hp.source = t_wrapped ? kSourceThread : kSourceUnhandled;
  hp.canContinue = !mainThread;
  HandleException(hp);
  if (mainThread) pipeline_platform::EndProgram(nullptr);
  EndThread(t_wrapped ? 0xFFFFFFFF : 0);
}

void OnAbortSignal(int) { RuntimeError("Abnormal program termination", 0); }

extern "C" void OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {
  RuntimeError("Invalid parameter passed to a runtime function", reinterpret_cast<uint32_t>(__builtin_return_address(0)));
}

// A processor fault as it is handed over: plain values only, so that a thread whose stack is exhausted can
// pass it on without string or heap work.
struct FaultWork {
  FaultEvent fault;  // its context points at a copy that lives as long as the handling
  uint8_t source;
  bool canContinue;
  void* relatedObject;
  uint32_t threadId;  // the faulting thread
};

// Everything made of a fault (module name, message text, exception object) and its handling.
void HandleFaultWork(const FaultWork& work) {
  const FaultEvent& fault = work.fault;
  std::string module = ModuleNameOfAddress(fault.address);
  bool write = fault.parameterCount >= 1 && fault.parameters[0] == 1;
  uint32_t target = fault.parameterCount >= 2 ? fault.parameters[1] : 0;
  HandleParams params;
  params.object = MakeOwnException(OsExceptionText(fault.code, fault.address, !module.empty(), module, write, target));
  params.address = fault.address;
  params.context = static_cast<const TContext*>(fault.context);
  params.source = work.source;
  params.relatedObject = work.relatedObject;
  params.canContinue = work.canContinue;
  params.threadId = work.threadId;
  HandleException(params);
}

// The helper of a stack overflow: it does all the work on a stack of its own, named "-" so that reports
// leave it out and it is never paused.
DWORD WINAPI HandleOnHelper(void* p) {
  RegisterThreadName(GetCurrentThreadId(), "-");
  HandleFaultWork(*static_cast<const FaultWork*>(p));
  UpdateThreadEntry(GetCurrentThreadId(), "");
  return 0;
}

// A context copy that lives as long as the handling of one stack overflow: one of a few spare slots.
class ContextSlot {
 public:
  ContextSlot() {
    for (int i = 0; !context_ && i < kSpare; ++i)
      if (!busy_[i].exchange(true)) {
        index_ = i;
        context_ = &spare_[i];
      }
    if (!context_) context_ = &spare_[kSpare];  // more overflows at once than slots: the last one is shared
  }
  ~ContextSlot() { release(); }
  // The thread ends without unwinding: give the slot back once the handling is over.
  void release() {
    if (index_ >= 0) busy_[index_].store(false);
    index_ = -1;
  }
  ContextSlot(const ContextSlot&) = delete;
  ContextSlot& operator=(const ContextSlot&) = delete;
  TContext* get() const { return context_; }

 private:
  static constexpr int kSpare = 8;
  static inline TContext spare_[kSpare + 1];
  static inline std::atomic<bool> busy_[kSpare];
  TContext* context_ = nullptr;
  int index_ = -1;
};

// After a stack overflow: the context goes into a spare slot, and a helper thread with a stack of its own
// does the rest while this thread waits.
__attribute__((noinline)) void HandStackOverflowToHelper(const FaultEvent& fault, uint8_t source, bool canContinue,
                                                         void* relatedObject) {
  ContextSlot slot;
  std::memcpy(slot.get(), fault.context, sizeof(TContext));
  FaultWork work{fault, source, canContinue, relatedObject, GetCurrentThreadId()};
  work.fault.context = slot.get();
  if (HANDLE h = CreateUnwrappedThread(HandleOnHelper, &work, 1 << 20)) {
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
  }
  slot.release();
}

// Hands a processor fault over to the handling, on the faulting stack (what lies there goes into the
// report); the copy of the context on that stack stays intact until the record has taken it over.
void HandleFault(const FaultEvent& fault, uint8_t source, bool canContinue, void* relatedObject = nullptr) {
  if (fault.code == EXCEPTION_STACK_OVERFLOW) return HandStackOverflowToHelper(fault, source, canContinue, relatedObject);
  TContext context;
  std::memcpy(&context, fault.context, sizeof context);
  FaultWork work{fault, source, canContinue, relatedObject, GetCurrentThreadId()};
  work.fault.context = &context;
  HandleFaultWork(work);
}

FaultEvent EventOf(const EXCEPTION_POINTERS& ep) {
  const EXCEPTION_RECORD& er = *ep.ExceptionRecord;
  FaultEvent fault;
  fault.code = er.ExceptionCode;
  fault.address = reinterpret_cast<uint32_t>(er.ExceptionAddress);
  fault.parameterCount = er.NumberParameters;
  for (DWORD i = 0; i < 2 && i < er.NumberParameters; ++i) fault.parameters[i] = er.ExceptionInformation[i];
  fault.context = ep.ContextRecord;
  return fault;
}

LONG WINAPI TopLevelFilter(EXCEPTION_POINTERS* ep) {
  if (!ep || !ep->ExceptionRecord || !ep->ContextRecord) return EXCEPTION_CONTINUE_SEARCH;
  HandleFault(EventOf(*ep), t_wrapped ? kSourceThread : kSourceUnhandledOs, t_wrapped);
  if (t_wrapped) EndThread(0xFFFFFFFF);
  pipeline_platform::EndProgram(nullptr);
}

}  // namespace

bool RunGuardedThreadBody(void (*body)(void*), void* data, uint8_t source, void* relatedObject) {
  struct Run {
    void (*body)(void*);
    void* data;
    uint8_t source;
    void* related;
    bool failed = false;
  } run{body, data, source, relatedObject};
  auto guarded = [](void* p) {
    auto* r = static_cast<Run*>(p);
    try {
      r->body(r->data);
    } catch (...) {
      HandleCaughtException(r->source, r->related);
      r->failed = true;
    }
  };
  auto observer = [](const FaultEvent& fault, void* p) {
    auto* r = static_cast<Run*>(p);
    HandleFault(fault, r->source, true, r->related);
  };
  bool wrapped = t_wrapped;
  int terminating = t_terminating;
  if (!RunFaultGuarded(guarded, &run, observer, &run)) {
    // The thread goes on after the guard: its state is as it was when the body started.
    t_wrapped = wrapped;
    t_terminating = terminating;
    t_inHidden = false;
    t_last = {};
    return false;
  }
  return !run.failed;
}

bool SetWrappedThread(bool wrapped) { return std::exchange(t_wrapped, wrapped); }

namespace {

// ---- file checksum ------------------------------------------------------------------------------------

bool FileChecksumOk(const wchar_t* path) {
  // Read in pieces rather than mapped: under Wine a mapped 16 MB program file costs twice the time, and the
  // check runs at every start.
  HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (f == INVALID_HANDLE_VALUE) return true;
  constexpr DWORD kPiece = 1 << 18;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kPiece]);
  // Fills the buffer up to the end of the file, so that every piece but the last is whole. A file that
  // cannot be read to its end is not judged.
  bool unreadable = false;
  auto fill = [&] {
    DWORD got = 0, part = 0;
    while (got < kPiece) {
      if (!ReadFile(f, buffer.get() + got, kPiece - got, &part, nullptr)) unreadable = true;
      if (unreadable || !part) break;
      got += part;
    }
    return got;
  };
  bool ok = true;
  DWORD got = buffer ? fill() : 0;
  size_t offset;
  if (PeChecksumOffset(buffer.get(), got, offset) && offset + 4 <= got) {
    uint32_t stored;
    std::memcpy(&stored, buffer.get() + offset, 4);
    if (stored != 0) {
      ImageChecksummer sum(offset);
      do sum.Add(buffer.get(), got);
      while (got == kPiece && (got = fill()) != 0);
      ok = unreadable || sum.Finish() == stored;
    }
  }
  CloseHandle(f);
  return ok;
}

TRestartInfo g_restart;

// The new instance's side of a restart. Anyone may create a block under this process's name before it
// starts, so the block is taken over only when it is what the old instance writes: the marker and this
// process's id, a handle given to this process that reaches the same block, and, where the system names it,
// the process that started this one as the old process. Only then is the given handle closed and the old
// process waited for, and that wait is bounded too.
constexpr DWORD kOldInstanceWaitMs = 5000;

void TakeOverRestart() {
  HANDLE map = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, RestartHandOverName(GetCurrentProcessId()).c_str());
  if (!map) return;
  TRestartHandOver copy{};
  bool read = false;
  if (auto* h = static_cast<const TRestartHandOver*>(MapSharedView(map, sizeof(TRestartHandOver), false))) {
    std::memcpy(&copy, h, sizeof copy);
    UnmapViewOfFile(h);
    read = true;
  }
  HANDLE given = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(copy.handle));
  uint32_t parent = ParentProcessId();
  bool genuine = read && copy.marker == kRestartMarker && copy.newProcessId == GetCurrentProcessId() &&
                 (parent == 0 || parent == copy.oldProcessId) && SameSharedMemory(map, given, sizeof copy);
  if (genuine) {
    g_restart.restarted = true;
    g_restart.oldProcessId = copy.oldProcessId;
    g_restart.handle = copy.handle;
    CloseHandle(given);
    if (HANDLE old = OpenProcess(SYNCHRONIZE, FALSE, copy.oldProcessId)) {
      WaitForSingleObject(old, kOldInstanceWaitMs);
      CloseHandle(old);
    }
    for (int i = 0; i < 10; ++i) ExceptionTimes()[i] = copy.history[i];
  }
  CloseHandle(map);
}

void ShutDown() { StopCrashReporter(); }

// ---- hidden exceptions --------------------------------------------------------------------------------

// The runtime's header in front of every thrown object (the C++ ABI's exception header of libstdc++), and of
// a dependent exception (made by std::rethrow_exception), whose first word is the primary object.
struct CxaException {
  std::type_info* exceptionType;
  void (*exceptionDestructor)(void*);
  void (*unexpectedHandler)();
  void (*terminateHandler)();
  CxaException* nextException;
  int handlerCount;
  int handlerSwitchValue;
  const unsigned char* actionRecord;
  const unsigned char* languageSpecificData;
  uintptr_t catchTemp;
  void* adjustedPtr;
  _Unwind_Exception unwindHeader;
};
struct CxaRefcountedException {
  int referenceCount;
  CxaException exc;
};
struct CxaGlobals {
  CxaException* caughtExceptions;
  unsigned int uncaughtExceptions;
};
constexpr uint64_t kPrimaryClass = 0x474E5543432B2B00ULL;    // "GNUCC++\0"
constexpr uint64_t kDependentClass = 0x474E5543432B2B01ULL;  // "GNUCC++\x01"


// The object whose catch block ends now, when its end frees it: the last handler of an exception that was
// not thrown again and that no exception_ptr keeps.
void* ObjectFreedByEndCatch(const std::type_info*& type) {
  auto* globals = reinterpret_cast<CxaGlobals*>(abi::__cxa_get_globals_fast());
  CxaException* header = globals ? globals->caughtExceptions : nullptr;
  if (!header || header->handlerCount != 1) return nullptr;
  void* object;
  if (header->unwindHeader.exception_class == kPrimaryClass)
    object = header + 1;
  else if (header->unwindHeader.exception_class == kDependentClass)
    object = reinterpret_cast<void*>(header->exceptionType);
  else
    return nullptr;
  auto* counted = reinterpret_cast<CxaRefcountedException*>(static_cast<char*>(object) - sizeof(CxaRefcountedException));
  if (counted->referenceCount != 1) return nullptr;
  type = counted->exc.exceptionType;
  return object;
}

// A caught exception whose handling by the program has ended: reported as hidden when hidden-exception
// handlers wait for it, unless it was reported already or a thread of the crash reporter caught it.
void HiddenException(void* object, const std::type_info* type) {
  if (HiddenExceptionHandlersRegistered() && !IsOwnThread() && type) {
    ExceptObjectPtr e = MakeThrownException(object, type);
    if (!ExceptionMarkedReported(e.get())) {
      HandleParams hp;
      hp.type = kExceptHidden;
      hp.object = e;
      TDAPreStackItem prepared;
      FromLastRaise(hp, object, prepared);
      hp.source = kSourceHidden;
      hp.canContinue = true;
      hp.framePointer = reinterpret_cast<uint32_t>(__builtin_frame_address(0));
      HandleException(hp);
    }
  }
  ForgetReportedException(object);
  t_last = {};
}

// The debugger's thread-naming exception: RaiseException(0x406D1388) with type 0x1000, the name, the thread
// id (-1: the calling thread) and flags 0. The thread gets the name in the thread list and goes on.
constexpr DWORD kThreadNamingCode = 0x406D1388;
LONG WINAPI ThreadNamingHandler(EXCEPTION_POINTERS* ep) {
  const EXCEPTION_RECORD* er = ep ? ep->ExceptionRecord : nullptr;
  if (!er || er->ExceptionCode != kThreadNamingCode || er->NumberParameters < 3 || er->ExceptionInformation[0] != 0x1000)
    return EXCEPTION_CONTINUE_SEARCH;
  if (er->NumberParameters >= 4 && er->ExceptionInformation[3] != 0) return EXCEPTION_CONTINUE_SEARCH;
  char name[256] = {};
  uint32_t text = static_cast<uint32_t>(er->ExceptionInformation[1]);
  for (uint32_t i = 0; i + 1 < sizeof name; ++i)
    if (!ReadProcessMemorySafe(text + i, &name[i], 1) || !name[i]) break;
  DWORD thread = static_cast<DWORD>(er->ExceptionInformation[2]);
  if (thread == 0xFFFFFFFF) thread = GetCurrentThreadId();
  // An empty or unreadable name changes nothing (an empty name would drop the thread's entry).
  if (name[0]) RegisterThreadName(thread, name);
  return EXCEPTION_CONTINUE_EXECUTION;
}
void* g_namingHandler = nullptr;

}  // namespace

// ---- C++ throws ---------------------------------------------------------------------------------------

extern "C" [[noreturn]] void __real___cxa_throw(void* object, std::type_info* type, void (*destroy)(void*));
extern "C" [[noreturn]] void __wrap___cxa_throw(void* object, std::type_info* type, void (*destroy)(void*)) {
  auto* frame = static_cast<uint32_t*>(__builtin_frame_address(0));
  t_last.object = object;
  t_last.type = type;
  t_last.address = reinterpret_cast<uint32_t>(__builtin_return_address(0));
  t_last.ebp = frame[0];
  t_last.esp = reinterpret_cast<uint32_t>(frame + 2);
  CopyThrowStack(t_last.esp);
  __real___cxa_throw(object, type, destroy);
}

extern "C" void __real___cxa_end_catch();
extern "C" void __wrap___cxa_end_catch() {
  if (g_armed.load(std::memory_order_relaxed) && !t_inHidden) {
    const std::type_info* type = nullptr;
    if (void* object = ObjectFreedByEndCatch(type)) {
      t_inHidden = true;
      HiddenException(object, type);
      t_inHidden = false;
    }
  }
  __real___cxa_end_catch();
}

extern "C" [[noreturn]] void __wrap___cxa_pure_virtual() {
  RuntimeError("Pure virtual function call", reinterpret_cast<uint32_t>(__builtin_return_address(0)));
  std::abort();
}

void HandleCaughtException(uint8_t source, void* relatedObject, bool canContinue) {
  const std::type_info* type = abi::__cxa_current_exception_type();
  void* object = type ? CurrentThrownObject() : nullptr;
  HandleParams hp;
  hp.object = type ? MakeThrownException(object, type) : nullptr;
  TDAPreStackItem prepared;
  FromLastRaise(hp, object, prepared);
  hp.source = source;
  hp.relatedObject = relatedObject;
  hp.canContinue = canContinue;
  HandleException(hp);
  t_last = {};
}

void HandleExceptionObject(const void* object, const std::type_info& type, uint8_t source, void* relatedObject,
                           uintptr_t address) {
  HandleParams hp;
  hp.object = MakeThrownException(const_cast<void*>(object), &type);
  TDAPreStackItem prepared;
  FromLastRaise(hp, object, prepared);
  if (address) hp.address = address;
  hp.source = source;
  hp.relatedObject = relatedObject;
  HandleException(hp);
  t_last = {};
}

// ---- patching -----------------------------------------------------------------------------------------

namespace {
// Writes into memory that was made writable; false when it faulted (freed or protected meanwhile).
bool GuardedWrite(void* address, const void* bytes, size_t count) {
  return FaultGuarded([&] { std::memcpy(address, bytes, count); });
}
}  // namespace

bool PatchBytes(void* address, const void* bytes, size_t count) {
  if (!address || !count || count > 64) return false;
  // The target is read through the safe reader first: an address that is not readable code or data is
  // left alone.
  uint8_t current[64];
  Address at = static_cast<Address>(reinterpret_cast<uintptr_t>(address));
  if (!SafeRead(at, current, static_cast<uint32_t>(count), nullptr)) return false;
  if (std::memcmp(current, bytes, count) == 0) return false;
  DWORD old;
  if (!VirtualProtect(address, count, PAGE_EXECUTE_READWRITE, &old)) return false;
  TPatchRecord r;
  r.address = reinterpret_cast<uintptr_t>(address);
  r.original.assign(reinterpret_cast<const char*>(current), count);
  r.replacement.assign(static_cast<const char*>(bytes), count);
  bool written = GuardedWrite(address, bytes, count);
  VirtualProtect(address, count, old, &old);
  if (!written) return false;
  FlushInstructionCache(GetCurrentProcess(), address, count);
  std::lock_guard<std::mutex> g(g_patchMutex);
  g_patches.push_back(std::move(r));
  return true;
}

namespace {
// Where a jump patch of the routine goes: the routine itself, or the routine an import stub (FF 25 and the
// slot address) names; null when unreadable. `jump` receives the 5 bytes that lead to target from there.
uint8_t* JumpPatchPlace(void* routine, const void* target, uint8_t (&jump)[5]) {
  auto* p = static_cast<uint8_t*>(routine);
  uint8_t start[6];
  if (!p || !SafeRead(static_cast<Address>(reinterpret_cast<uintptr_t>(p)), start, 6, nullptr)) return nullptr;
  if (start[0] == 0xFF && start[1] == 0x25) {  // an import stub: patch the routine its slot names
    Address slot, routineInSlot;
    std::memcpy(&slot, start + 2, 4);
    if (!SafeRead(slot, &routineInSlot, 4, nullptr)) return nullptr;
    p = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(routineInSlot));
  }
  jump[0] = 0xE9;
  int32_t distance = static_cast<int32_t>(reinterpret_cast<uintptr_t>(target) - (reinterpret_cast<uintptr_t>(p) + 5));
  std::memcpy(jump + 1, &distance, 4);
  return p;
}
}  // namespace

bool PatchJump(void* routine, const void* target) {
  uint8_t jump[5];
  uint8_t* p = JumpPatchPlace(routine, target, jump);
  return p && PatchBytes(p, jump, 5);
}

bool JumpsTo(void* routine, const void* target) {
  uint8_t jump[5];
  uint8_t* p = JumpPatchPlace(routine, target, jump);
  return p && HoldsBytes(p, jump, 5);
}

bool HoldsBytes(const void* address, const void* bytes, size_t count) {
  uint8_t current[64];
  if (!address || !count || count > sizeof current) return false;
  return SafeRead(static_cast<Address>(reinterpret_cast<uintptr_t>(address)), current, static_cast<uint32_t>(count),
                  nullptr) &&
         std::memcmp(current, bytes, count) == 0;
}

bool Patch32(void* address, uint32_t value) { return PatchBytes(address, &value, 4); }

bool PatchRelativeCall(void* routine, const void* oldTarget, const void* newTarget) {
  RegionCachingReader memory;
  Address operand = FindRelativeCall(memory, reinterpret_cast<Address>(routine), reinterpret_cast<Address>(oldTarget));
  if (!operand) return false;
  return Patch32(reinterpret_cast<void*>(operand), reinterpret_cast<Address>(newTarget) - (operand + 4));
}

void UndoPatches() {
  std::vector<TPatchRecord> patches;
  {
    std::lock_guard<std::mutex> g(g_patchMutex);
    patches.swap(g_patches);
  }
  for (auto it = patches.rbegin(); it != patches.rend(); ++it) {
    void* a = reinterpret_cast<void*>(it->address);
    std::string now(it->replacement.size(), '\0');
    if (!SafeRead(static_cast<Address>(it->address), now.data(), static_cast<uint32_t>(now.size()), nullptr)) continue;
    if (now != it->replacement) continue;  // changed by someone else
    DWORD old;
    if (!VirtualProtect(a, it->original.size(), PAGE_EXECUTE_READWRITE, &old)) continue;
    GuardedWrite(a, it->original.data(), it->original.size());
    VirtualProtect(a, it->original.size(), old, &old);
  }
  FlushInstructionCache(GetCurrentProcess(), nullptr, 0);
}

size_t PatchCount() {
  std::lock_guard<std::mutex> g(g_patchMutex);
  return g_patches.size();
}

int PatchImportTables(uintptr_t module, const void* oldAddress, const void* newAddress) {
  // Every header, descriptor and slot is read through the safe reader: the module may be no image at all.
  ProcessReader memory;
  int patched = 0;
  const uintptr_t replacement = reinterpret_cast<uintptr_t>(newAddress);
  for (Address slot : ImportSlotsHolding(memory, static_cast<Address>(module),
                                         static_cast<Address>(reinterpret_cast<uintptr_t>(oldAddress))))
    if (PatchBytes(reinterpret_cast<void*>(static_cast<uintptr_t>(slot)), &replacement, sizeof replacement)) ++patched;
  return patched;
}

int PatchImportedRoutine(const char* library, const char* routine, const void* replacement, void** original) {
  HMODULE lib = GetModuleHandleA(library);
  void* address = lib ? reinterpret_cast<void*>(GetProcAddress(lib, routine)) : nullptr;
  if (!address) return 0;
  if (original) *original = address;
  int patched = 0;
  for (uintptr_t m : PatchableModules()) patched += PatchImportTables(m, address, replacement);
  return patched;
}

// ---- start and end ------------------------------------------------------------------------------------

bool CrashReporterArmed() { return g_armed.load(); }

const TRestartInfo& RestartInfo() { return g_restart; }

bool StartCrashReporter() {
  if (g_armed) return true;
  TakeOverRestart();
  pipeline_platform::RemoveTempFolder();
  RecordStartTime();
  HMODULE own = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&StartCrashReporter), &own);
  Ref<IRVModuleSettings> settings = SettingsOfModule(reinterpret_cast<ModuleHandle>(own));
  if (settings && settings->Valid() && settings->Enabled() && settings->CheckFileCrc()) {
    for (uintptr_t module : ModulesToChecksum(reinterpret_cast<uintptr_t>(own), settings->Module())) {
      wchar_t path[MAX_PATH] = {};
      if (!GetModuleFileNameW(reinterpret_cast<HMODULE>(module), path, MAX_PATH)) continue;
      ChecksumOutcome outcome =
          ChecksumCheckOutcome(FileChecksumOk(path), module == reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)));
      if (outcome == ChecksumOutcome::Passed) continue;
      std::string text = settings->BitFaultMsg();
      MessageBoxA(nullptr, text.c_str(), "Ravex", MB_OK | MB_ICONERROR);
      if (outcome == ChecksumOutcome::EndProcess) ExitProcess(1);
      // A library: its crash reporter stays disarmed.
      OpenThreadNameBuffer(GetCurrentThreadId());
      throw RvxException(text);
    }
  }
  CalibrateModules();
  OpenThreadNameBuffer(GetCurrentThreadId());
  if (!settings || !settings->Valid() || !settings->Enabled()) return false;
  SetMainSettings(settings);

  RecordHooks hooks = GetRecordHooks();  // keeps what the crash dialogs installed (the screenshot)
  hooks.show = ShowExceptionRecord;
  hooks.finishAutoActions = FinishAutomaticActions;
  hooks.endProgram = pipeline_platform::EndProgram;
  hooks.restartProgram = pipeline_platform::RestartProgram;
  hooks.deliver = DeliverRecordReport;
  hooks.print = PrintRecordReport;
  hooks.fireExceptionHandlers = [](IRVException* record) { FireHandlers(kHandlerKindException, record, false); };
  hooks.fireActionHandlers = FireActionHandlers;
  SetRecordHooks(hooks);

  g_previousTerminate = std::set_terminate(OnTerminate);
  SetUnhandledExceptionFilter(TopLevelFilter);
  g_namingHandler = AddVectoredExceptionHandler(1, ThreadNamingHandler);
  signal(SIGABRT, OnAbortSignal);
  using InvalidParamFn = void* (*)(void*);
  if (HMODULE crt = GetModuleHandleA("msvcrt.dll"))
    if (auto set = reinterpret_cast<InvalidParamFn>(reinterpret_cast<void*>(GetProcAddress(crt, "_set_invalid_parameter_handler"))))
      set(reinterpret_cast<void*>(&OnInvalidParameter));
  StartHandlingThread();
  InitialiseHandlers();
  InstallReportPlugins();
  AddRaiseRoutine(static_cast<Address>(reinterpret_cast<uintptr_t>(&__wrap___cxa_throw)));
  // Thread creation and work items; libraries loaded from now on get the same import replacements.
  InstallThreadHooks();
  InstallModuleLoadHooks();
  // The message-fetch hooks of thread pausing reach libraries loaded later as well.
  SetImportPatcher([](const char* library, const char* routine, const void* replacement, void** original) {
    int patched = PatchImportedRoutine(library, routine, replacement, original);
    if (HMODULE m = GetModuleHandleA(library))
      if (FARPROC system = GetProcAddress(m, routine))
        AddLoadedModuleReplacement(reinterpret_cast<const void*>(system), replacement);
    return patched;
  });
  // In place from the start, not only from the first pause on: a message loop that took the routine's
  // address from its import slot before the hooks were there would never reach a pause point.
  freeze_platform::InstallMessageFetchHooks();
  // The handler registry's main-thread routine is a pause point, and a synchronous call lets a paused main
  // thread run for its time.
  SetMainThreadPausing({&PauseMeEventually, &ResumeMainThread, &PauseMainThreadAgain});
  if (settings->CheckFreeze()) StartFreezeWatch(settings->FreezeTimeout());
  pipeline_platform::TakeEmergencyMemory();
  g_armed = true;
  atexit(ShutDown);
  return true;
}

void StopCrashReporter() {
  if (!g_armed.exchange(false)) return;
  UndoPatches();
  RemoveModuleLoadHooks();
  ResetThreadObjectHooks();
  StopFreezeWatch();
  SetUnhandledExceptionFilter(nullptr);
  if (g_namingHandler) RemoveVectoredExceptionHandler(std::exchange(g_namingHandler, nullptr));
  if (g_previousTerminate) std::set_terminate(g_previousTerminate);
  CloseHandlers();
  RemoveReportPlugins();
  StopHandlingThread();
  CloseThreadNameBuffer();
  EndThreadPausing();
  pipeline_platform::ReleaseEmergencyMemory();
  // The module leaves the settings registry with the last reference to its settings.
  SetMainSettings(nullptr);
}

}  // namespace rvx

// ---- tracing from outside -----------------------------------------------------------------------------

extern "C" __declspec(dllexport) int __stdcall rvxTraceProcess(int size) {
  using namespace rvx;
  RegisterThreadName(GetCurrentThreadId(), "Ravex - TraceProcessThread");
  SetIncludeOwnThreads(true);
  std::string report;
  try {
    if (auto settings = MainSettings()) {
      ExceptionParams p;
      p.settings = settings;
      p.type = kExceptFreeze;
      p.dontCompleteYet = true;
      auto record = NewExceptionRecord(p);
      record->SetPlWaitBox(false);
      record->SetListThreads(true);
      report = record->CompleteBugReport();
    }
  } catch (...) {
  }
  SetIncludeOwnThreads(false);
  if (!report.empty()) {
    if (size <= 0) {
      pipeline_platform::CopyToClipboard(report);
    } else {
      HANDLE map = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\rvxTraceProcessMap");
      if (!map) map = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "rvxTraceProcessMap");
      if (map) {
        if (void* view = MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, 0)) {
          // The size comes from outside: never write beyond the mapping.
          MEMORY_BASIC_INFORMATION m;
          size_t limit = static_cast<size_t>(size);
          if (VirtualQuery(view, &m, sizeof m) == sizeof m) limit = std::min(limit, static_cast<size_t>(m.RegionSize));
          if (report.size() >= limit) report.resize(limit - 1);
          std::memcpy(view, report.c_str(), report.size() + 1);
          UnmapViewOfFile(view);
        }
        CloseHandle(map);
      }
    }
  }
  UpdateThreadEntry(GetCurrentThreadId(), "");
  return 0;
}
