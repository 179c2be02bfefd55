// Threads and memory of the running process on Windows, and the process-wide thread-name buffer.
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

#include "crash/core/process_list.h"
#include "crash/core/shared_objects.h"
#include "crash/core/thread_stack.h"
#include "crash/stack/module.h"
#include "crash/stack/safe_read.h"
#include "crash/stack/stack_trace.h"
#include "crash/stack/text.h"

namespace rvx {

namespace {
// The named buffer: mutex 1, mutex 2, list head, reference count, mapping handle, then a marker and the
// process id that a joining module checks.
struct ThreadNameBuffer {
  HANDLE mutex1;
  HANDLE mutex2;
  void* head;
  LONG refCount;
  HANDLE mapping;
  uint32_t marker;
  uint32_t processId;
};
static_assert(sizeof(ThreadNameBuffer) == 28, "thread-name buffer layout");

ThreadNameBuffer* g_buffer = nullptr;
HANDLE g_mapping = nullptr;
// The mutexes this module made (it created the buffer); only these are ever closed here.
HANDLE g_ownMutex1 = nullptr;
HANDLE g_ownMutex2 = nullptr;


// Opens a thread by id: OpenThread where kernel32 has it (inheritable handle unless asked otherwise), else
// the native call with the thread's client id.
HANDLE OpenThreadById(DWORD access, DWORD threadId, bool inheritable = true) {
  using OpenThreadFn = HANDLE(WINAPI*)(DWORD, BOOL, DWORD);
  static auto open = reinterpret_cast<OpenThreadFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "OpenThread")));
  if (open) return open(access, inheritable, threadId);
  struct ClientId {
    void* process;
    void* thread;
  } client{nullptr, reinterpret_cast<void*>(static_cast<uintptr_t>(threadId))};
  struct ObjectAttributes {
    ULONG length;
    HANDLE root;
    void* name;
    ULONG attributes;
    void* security;
    void* qos;
  } attributes{sizeof(ObjectAttributes), nullptr, nullptr, inheritable ? 0x2u /* OBJ_INHERIT */ : 0u, nullptr, nullptr};
  using NtOpenThreadFn = LONG(WINAPI*)(HANDLE*, DWORD, ObjectAttributes*, ClientId*);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto ntOpen = ntdll ? reinterpret_cast<NtOpenThreadFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtOpenThread")))
                      : nullptr;
  HANDLE h = nullptr;
  if (ntOpen && ntOpen(&h, access, &attributes, &client) >= 0) return h;
  return nullptr;
}
}  // namespace

std::vector<uint32_t> ListThreadIds() {
  std::vector<uint32_t> ids;
  const DWORD pid = GetCurrentProcessId();
  std::vector<ProcessRecord> processes;
  if (QuerySystemProcesses(processes)) {
    for (const ProcessRecord& p : processes)
      if (p.processId == pid) return p.threadIds;
    return ids;
  }
  // Without the native call (the 9x family): a thread snapshot.
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return ids;
  THREADENTRY32 e{};
  e.dwSize = sizeof e;
  for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e))
    if (e.th32OwnerProcessID == pid) ids.push_back(e.th32ThreadID);
  CloseHandle(snap);
  return ids;
}

uint32_t CallSiteOf(uint32_t returnAddress) {
  ProcessReader reader;
  return CallSiteBefore(reader, returnAddress);
}

uint32_t RegionEnd(uint32_t address) {
  MEMORY_BASIC_INFORMATION m;
  if (VirtualQuery(reinterpret_cast<void*>(address), &m, sizeof m) != sizeof m || m.State != MEM_COMMIT) return 0;
  return reinterpret_cast<uint32_t>(m.BaseAddress) + m.RegionSize;
}

uint32_t StackEnd(uint32_t address) {
  MEMORY_BASIC_INFORMATION m;
  if (VirtualQuery(reinterpret_cast<void*>(address), &m, sizeof m) != sizeof m || m.State != MEM_COMMIT) return 0;
  void* allocation = m.AllocationBase;
  uint32_t end = reinterpret_cast<uint32_t>(m.BaseAddress) + m.RegionSize;
  // The committed part of a stack may consist of several regions (guard pages move as it grows).
  while (VirtualQuery(reinterpret_cast<void*>(end), &m, sizeof m) == sizeof m && m.AllocationBase == allocation &&
         m.State == MEM_COMMIT && !(m.Protect & PAGE_GUARD))
    end = reinterpret_cast<uint32_t>(m.BaseAddress) + m.RegionSize;
  return end;
}

bool ThreadState(uint32_t threadId, ThreadStateInfo& state) {
  bool self = threadId == GetCurrentThreadId();
  HANDLE h = nullptr;
  if (self) {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &h, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  } else {
    h = OpenThreadById(THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION | THREAD_SUSPEND_RESUME, threadId);
    if (!h) h = OpenThreadById(THREAD_GET_CONTEXT, threadId);
  }
  if (!h) return false;
  CONTEXT c{};
  c.ContextFlags = CONTEXT_INTEGER | CONTEXT_CONTROL | CONTEXT_SEGMENTS;
  bool ok;
  if (self) {
    ok = GetThreadContext(h, &c) != 0;
  } else {
    DWORD previous = SuspendThread(h);
    ok = GetThreadContext(h, &c) != 0;
    if (previous != static_cast<DWORD>(-1)) {
      ResumeThread(h);
      state.suspended = previous > 0;
    }
  }
  if (ok) {
    state.eip = c.Eip;
    state.ebp = c.Ebp;
    state.stackBottom = c.Esp;
    state.stackTop = StackEnd(c.Esp);
    int p = GetThreadPriority(h);
    state.priority = p == THREAD_PRIORITY_ERROR_RETURN ? 0 : p;
  }
  CloseHandle(h);
  return ok;
}

bool ReadProcessMemorySafe(uint32_t address, void* out, uint32_t count) {
  return SafeRead(address, out, count, nullptr);
}

std::string ModuleNameOfAddress(uint32_t address) {
  ModuleHandle module = 0;
  std::string file;
  if (!ModuleFromAddress(address, module, file)) return {};
  size_t slash = file.find_last_of("\\/");
  return slash == std::string::npos ? file : file.substr(slash + 1);
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

// A handle that only waits for the thread's end; not inherited by programs this one starts. While it is open
// the system does not give the thread's id to another thread.
uintptr_t WatchThread(uint32_t threadId) {
  HANDLE h = OpenThreadById(SYNCHRONIZE | THREAD_QUERY_INFORMATION, threadId, false);
  if (!h) h = OpenThreadById(SYNCHRONIZE, threadId, false);
  return reinterpret_cast<uintptr_t>(h);
}

bool ThreadHasEnded(uintptr_t watch) {
  return watch && WaitForSingleObject(reinterpret_cast<HANDLE>(watch), 0) == WAIT_OBJECT_0;
}

void ForgetThreadWatch(uintptr_t watch) {
  if (watch) CloseHandle(reinterpret_cast<HANDLE>(watch));
}

// Another program of the session may have created the buffer's name first, with any content, or as an
// object of another kind: a module joins only a buffer that carries the marker and this process's id and
// otherwise goes on without it. Nothing read from the buffer decides the main thread or which handles are
// closed.
bool OpenThreadNameBuffer(uint32_t mainThreadId) {
  SetMainThreadIdForNames(mainThreadId);
  UpdateThreadEntry(mainThreadId, "main thread");
  std::string name = "RavexThreadNameBuf" + HexText(GetCurrentProcessId());
  SetLastError(0);  // tells a new object from an existing one below
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(ThreadNameBuffer),
                                      name.c_str());
  if (!mapping) return false;
  bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  auto* buffer = static_cast<ThreadNameBuffer*>(MapSharedView(mapping, sizeof(ThreadNameBuffer), true));
  if (!buffer && !existed) {
    MessageBoxA(nullptr, "internal error. please notify support@contacts.example", "Ravex", MB_OK | MB_ICONERROR);
    ExitProcess(1);
  }
  if (buffer && existed) {
    ThreadNameBuffer seen;
    std::memcpy(&seen, buffer, sizeof seen);
    if (seen.marker == kThreadNameMarker && seen.processId == GetCurrentProcessId()) {
      InterlockedIncrement(&buffer->refCount);
    } else {
      UnmapViewOfFile(buffer);
      buffer = nullptr;
    }
  } else if (buffer) {
    g_ownMutex1 = CreateMutexA(nullptr, FALSE, nullptr);
    g_ownMutex2 = CreateMutexA(nullptr, FALSE, nullptr);
    ThreadNameBuffer fresh{g_ownMutex1, g_ownMutex2, nullptr, 1, mapping, kThreadNameMarker, GetCurrentProcessId()};
    std::memcpy(buffer, &fresh, sizeof fresh);
  }
  if (!buffer) {
    CloseHandle(mapping);
    return false;
  }
  g_buffer = buffer;
  g_mapping = mapping;
  return true;
}

void* FreezeWatchMutex() { return g_buffer ? g_buffer->mutex1 : nullptr; }

void CloseThreadNameBuffer() {
  if (!g_buffer) return;
  InterlockedDecrement(&g_buffer->refCount);
  UnmapViewOfFile(g_buffer);
  CloseHandle(g_mapping);
  if (g_ownMutex1) CloseHandle(g_ownMutex1);
  if (g_ownMutex2) CloseHandle(g_ownMutex2);
  g_buffer = nullptr;
  g_mapping = nullptr;
  g_ownMutex1 = g_ownMutex2 = nullptr;
}

}  // namespace rvx
