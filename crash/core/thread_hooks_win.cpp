// Thread creation and work items: every thread the process creates in itself runs its start routine under
// the thread entry wrapper, every work item under the work-item wrapper.
//
// Where thread creation is wrapped: the system's CreateThread hands every new thread to CreateRemoteThreadEx
// (or, on older systems, CreateRemoteThread) with a call of its own. That call, and the same call inside
// CreateRemoteThread, is redirected to the replacement, so that every caller reaches it: programs and
// libraries importing CreateThread from kernel32 (whose export is only a stub leading to kernelbase), those
// importing it through the API sets, the C runtime's _beginthreadex and with it std::thread. Where the call
// cannot be found, CreateThread is replaced in the import tables instead. The replacement leaves threads of
// other processes alone.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "crash/core/hooks.h"
#include "crash/core/pipeline.h"
#include "crash/core/thread_hooks.h"
#include "crash/core/thread_stack.h"
#include "crash/stack/safe_read.h"

namespace rvx {
namespace {

using CreateThreadFn = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
using CreateRemoteFn = HANDLE(WINAPI*)(HANDLE, LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                       LPDWORD);
using CreateRemoteExFn = HANDLE(WINAPI*)(HANDLE, LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                         void* attributes, LPDWORD);
using QueueWorkFn = BOOL(WINAPI*)(LPTHREAD_START_ROUTINE, PVOID, ULONG);

// The system's routines the replacements call (set while the hooks are installed).
CreateThreadFn g_createThread = nullptr;
CreateRemoteFn g_createRemote = nullptr;
CreateRemoteExFn g_createRemoteEx = nullptr;
QueueWorkFn g_queueWork = nullptr;

struct StartRecord {
  LPTHREAD_START_ROUTINE start;
  void* parameter;
};

// Runs a wrapped start routine; an exception or a processor fault that it lets out is handled as a
// thread's, and the result is -1. The wrapper always returns: a work item runs on a thread of the system's
// pool, which must go on.
DWORD RunWrapped(void* p) {
  StartRecord rec = *static_cast<StartRecord*>(p);
  delete static_cast<StartRecord*>(p);
  SetWrappedThread(true);
  struct Call {
    StartRecord rec;
    DWORD result = 0xFFFFFFFF;
  } call{rec};
  auto body = [](void* data) {
    auto* c = static_cast<Call*>(data);
    c->result = c->rec.start(c->rec.parameter);
  };
  return RunGuardedThreadBody(body, &call, kSourceThread, nullptr) ? call.result : 0xFFFFFFFF;
}

DWORD WINAPI ThreadEntryWrapper(void* p) {
  DWORD result = RunWrapped(p);
  UpdateThreadEntry(GetCurrentThreadId(), "");
  return result;
}

DWORD WINAPI WorkItemWrapper(void* p) {
  bool outer = SetWrappedThread(true);
  DWORD result = RunWrapped(p);
  SetWrappedThread(outer);
  return result;
}

// The modules whose frames stand between a program and the thread it creates: the system's kernel libraries
// and the C runtime's thread start.
struct ModuleRange {
  uintptr_t start = 0, end = 0;
};
ModuleRange g_plumbing[5];

ModuleRange RangeOf(const char* name) {
  HMODULE m = GetModuleHandleA(name);
  ModuleRange r;
  auto* base = reinterpret_cast<const uint8_t*>(m);
  IMAGE_DOS_HEADER dos;
  IMAGE_NT_HEADERS32 nt;
  if (!m || !SafeRead(reinterpret_cast<uintptr_t>(base), &dos, sizeof dos, nullptr) ||
      !SafeRead(reinterpret_cast<uintptr_t>(base + dos.e_lfanew), &nt, sizeof nt, nullptr))
    return r;
  r.start = reinterpret_cast<uintptr_t>(base);
  r.end = r.start + nt.OptionalHeader.SizeOfImage;
  return r;
}

bool IsPlumbing(uint32_t address) {
  return std::any_of(std::begin(g_plumbing), std::end(g_plumbing),
                     [&](const ModuleRange& r) { return address >= r.start && address < r.end; });
}

// Where the thread was created: the first return address above `frame` (the replacement's own frame) that
// lies outside the system's plumbing, at most a few frames up; for a framework thread object one frame
// more, where the object was created.
uint32_t CreatorAbove(void* frame, bool threadObject) {
  auto f = static_cast<const uint32_t*>(frame);
  uint32_t address = 0;
  for (int depth = 0; depth < 8; ++depth) {
    uint32_t pair[2];
    if (!SafeRead(reinterpret_cast<uintptr_t>(f), pair, sizeof pair, nullptr)) break;
    address = pair[1];
    bool done = !IsPlumbing(address);
    if (done && !threadObject) break;
    if (done) threadObject = false;  // one frame more
    if (pair[0] <= reinterpret_cast<uintptr_t>(f)) break;
    f = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(pair[0]));
  }
  return address;
}

bool IsThisProcess(HANDLE process) {
  return process == GetCurrentProcess() || GetProcessId(process) == GetCurrentProcessId();
}

// Creates the thread under the thread entry wrapper; `create` makes it from a start routine, a parameter
// and creation flags and gives its id. Without memory for the record the thread starts unwrapped.
template <class Create>
HANDLE CreateWrapped(uint32_t creator, const std::string& className, LPTHREAD_START_ROUTINE start, void* parameter,
                     DWORD flags, LPDWORD id, Create create) {
  auto* rec = new (std::nothrow) StartRecord{start, parameter};
  if (!rec) return create(start, parameter, flags, id);
  DWORD newId = 0;
  // Created suspended so that its entry (creator and call site) exists before the thread can fail.
  HANDLE h = create(ThreadEntryWrapper, rec, flags | CREATE_SUSPENDED, &newId);
  if (!h) {
    delete rec;
    return h;
  }
  if (id) *id = newId;
  UpdateThreadEntry(newId, "", GetCurrentThreadId(), creator, className);
  if (!(flags & CREATE_SUSPENDED)) ResumeThread(h);
  return h;
}

__attribute__((noinline)) HANDLE WINAPI ReplacementCreateRemoteThreadEx(HANDLE process, LPSECURITY_ATTRIBUTES sa,
                                                                        SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                                                        LPVOID parameter, DWORD flags,
                                                                        void* attributes, LPDWORD id) {
  if (!IsThisProcess(process)) return g_createRemoteEx(process, sa, stack, start, parameter, flags, attributes, id);
  std::string className;
  bool object = PrepareThreadObject(parameter, className);
  uint32_t creator = CreatorAbove(__builtin_frame_address(0), object);
  return CreateWrapped(creator, className, start, parameter, flags, id,
                       [&](LPTHREAD_START_ROUTINE s, void* p, DWORD f, LPDWORD i) {
                         return g_createRemoteEx(process, sa, stack, s, p, f, attributes, i);
                       });
}

__attribute__((noinline)) HANDLE WINAPI ReplacementCreateRemoteThread(HANDLE process, LPSECURITY_ATTRIBUTES sa,
                                                                      SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                                                      LPVOID parameter, DWORD flags, LPDWORD id) {
  if (!IsThisProcess(process)) return g_createRemote(process, sa, stack, start, parameter, flags, id);
  std::string className;
  bool object = PrepareThreadObject(parameter, className);
  uint32_t creator = CreatorAbove(__builtin_frame_address(0), object);
  return CreateWrapped(creator, className, start, parameter, flags, id,
                       [&](LPTHREAD_START_ROUTINE s, void* p, DWORD f, LPDWORD i) {
                         return g_createRemote(process, sa, stack, s, p, f, i);
                       });
}

// Replaces CreateThread in the import tables (where its internal call cannot be redirected).
__attribute__((noinline)) HANDLE WINAPI ReplacementCreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack,
                                                                LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                                                DWORD flags, LPDWORD id) {
  std::string className;
  bool object = PrepareThreadObject(parameter, className);
  uint32_t creator = CreatorAbove(__builtin_frame_address(0), object);
  return CreateWrapped(creator, className, start, parameter, flags, id,
                       [&](LPTHREAD_START_ROUTINE s, void* p, DWORD f, LPDWORD i) {
                         return g_createThread(sa, stack, s, p, f, i);
                       });
}

BOOL WINAPI ReplacementQueueUserWorkItem(LPTHREAD_START_ROUTINE function, PVOID context, ULONG flags) {
  auto* rec = new (std::nothrow) StartRecord{function, context};
  if (!rec) return g_queueWork(function, context, flags);
  BOOL ok = g_queueWork(WorkItemWrapper, rec, flags);
  if (!ok) delete rec;
  return ok;
}

// A routine of a system library; an export that is only a stub jumping through an import slot (FF 25, also
// behind a hot-patch prologue "mov edi, edi; push ebp; mov ebp, esp; pop ebp") is followed to its target.
void* SystemRoutine(const char* library, const char* name) {
  HMODULE m = GetModuleHandleA(library);
  auto* p = m ? reinterpret_cast<uint8_t*>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
  for (int hops = 0; p && hops < 4; ++hops) {
    uint8_t code[12];
    if (!SafeRead(reinterpret_cast<uintptr_t>(p), code, sizeof code, nullptr)) break;
    static const uint8_t kHotPatch[] = {0x8B, 0xFF, 0x55, 0x8B, 0xEC, 0x5D};
    size_t at = std::memcmp(code, kHotPatch, sizeof kHotPatch) == 0 ? sizeof kHotPatch : 0;
    if (code[at] != 0xFF || code[at + 1] != 0x25) break;
    uint32_t slot, target;
    std::memcpy(&slot, code + at + 2, 4);
    if (!SafeRead(slot, &target, 4, nullptr)) break;
    p = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(target));
  }
  return p;
}

void* SystemRoutine(const char* name) {
  void* p = SystemRoutine("kernelbase.dll", name);
  return p ? p : SystemRoutine("kernel32.dll", name);
}

// How thread creation is wrapped: its internal call redirected (to CreateRemoteThreadEx or to
// CreateRemoteThread), or CreateThread replaced in the import tables.
enum class Road { Imports, RemoteEx, Remote };
Road g_road = Road::Imports;

}  // namespace

void InstallThreadHooks() {
  const char* plumbing[] = {"kernel32.dll", "kernelbase.dll", "ntdll.dll", "msvcrt.dll", "ucrtbase.dll"};
  for (size_t i = 0; i < std::size(plumbing); ++i) g_plumbing[i] = RangeOf(plumbing[i]);
  void* createThread = SystemRoutine("CreateThread");
  void* createRemote = SystemRoutine("CreateRemoteThread");
  void* createRemoteEx = SystemRoutine("CreateRemoteThreadEx");
  g_createRemote = reinterpret_cast<CreateRemoteFn>(createRemote);
  g_createRemoteEx = reinterpret_cast<CreateRemoteExFn>(createRemoteEx);
  g_road = Road::Imports;
  if (createThread && createRemoteEx &&
      PatchRelativeCall(createThread, createRemoteEx, reinterpret_cast<void*>(&ReplacementCreateRemoteThreadEx))) {
    g_road = Road::RemoteEx;
    if (createRemote)
      PatchRelativeCall(createRemote, createRemoteEx, reinterpret_cast<void*>(&ReplacementCreateRemoteThreadEx));
  } else if (createThread && createRemote &&
             PatchRelativeCall(createThread, createRemote, reinterpret_cast<void*>(&ReplacementCreateRemoteThread))) {
    g_road = Road::Remote;
  }
  void* original = nullptr;
  if (g_road == Road::Imports) {
    PatchImportedRoutine("kernel32.dll", "CreateThread", reinterpret_cast<void*>(&ReplacementCreateThread), &original);
    g_createThread = reinterpret_cast<CreateThreadFn>(original);
    // Libraries loaded from now on get the same replacement.
    AddLoadedModuleReplacement(original, reinterpret_cast<void*>(&ReplacementCreateThread));
  }
  original = nullptr;
  PatchImportedRoutine("kernel32.dll", "QueueUserWorkItem", reinterpret_cast<void*>(&ReplacementQueueUserWorkItem),
                       &original);
  g_queueWork = reinterpret_cast<QueueWorkFn>(original);
  AddLoadedModuleReplacement(original, reinterpret_cast<void*>(&ReplacementQueueUserWorkItem));
}

bool ThreadCreationRedirected() { return g_road != Road::Imports; }

void* CreateUnwrappedThread(unsigned long(__stdcall* start)(void*), void* parameter, uint32_t stackSize) {
  if (g_road == Road::RemoteEx)
    return g_createRemoteEx(GetCurrentProcess(), nullptr, stackSize, start, parameter, 0, nullptr, nullptr);
  if (g_road == Road::Remote) return g_createRemote(GetCurrentProcess(), nullptr, stackSize, start, parameter, 0, nullptr);
  if (g_createThread) return g_createThread(nullptr, stackSize, start, parameter, 0, nullptr);
  return CreateThread(nullptr, stackSize, start, parameter, 0, nullptr);
}

}  // namespace rvx
