// The framework's thread objects: the execute routine of every thread class whose objects pass through the
// thread creation replacement is routed through the execute wrapper, which hands what Execute lets out to
// the pipeline with the thread object (source 17). The virtual table slot of the class is pointed at a
// 12-byte stub carrying the original routine; the slot's patch is recorded and undone at the end.
#include <windows.h>

#include <mutex>
#include <set>

#include "crash/core/hooks.h"
#include "crash/core/member_pointer.h"
#include "crash/core/pipeline.h"
#include "crash/core/thread_hooks.h"
#include "crash/core/thread_object.h"
#include "crash/core/thread_stack.h"
#include "crash/stack/safe_read.h"
#include "crash/stack/text.h"
#include "framework/thread.h"

namespace rvx {
namespace {

// The slot of Execute in the virtual table of every thread class (Execute is protected: reached from a
// class derived for that purpose only).
struct ExecuteSlot : fw::TThread {
  static int Index() { return VirtualSlot(&ExecuteSlot::Execute); }
};

using ExecuteRoutine = void(__attribute__((thiscall)) *)(void* self);

// Reached from a stub: the thread object in ECX, the class's original execute routine in EDX.
void __attribute__((fastcall)) ExecuteWrapper(void* self, void* original) {
  struct Call {
    void* self;
    ExecuteRoutine original;
  } call{self, reinterpret_cast<ExecuteRoutine>(original)};
  auto body = [](void* p) {
    auto* c = static_cast<Call*>(p);
    c->original(c->self);
  };
  RunGuardedThreadBody(body, &call, kSourceThreadObject, self);
  UpdateThreadEntry(GetCurrentThreadId(), "");
}

// Stubs are carved from pages of executable memory that live as long as the process: a thread may still
// be on its way through one after the patches were undone.
class StubPages {
 public:
  void* Place(const ExecuteStubBytes& stub) {
    if (!page_ || used_ + stub.size() > kPage) {
      page_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, kPage, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
      used_ = 0;
      if (!page_) return nullptr;
    }
    uint8_t* at = page_ + used_;
    std::memcpy(at, stub.data(), stub.size());
    used_ += stub.size();
    FlushInstructionCache(GetCurrentProcess(), at, stub.size());
    return at;
  }

 private:
  static constexpr size_t kPage = 4096;
  uint8_t* page_ = nullptr;
  size_t used_ = 0;
};

std::mutex g_lock;
StubPages g_stubs;
std::set<uintptr_t> g_wrappedTables;  // virtual tables whose execute slot points at a stub

// Wraps the execute routine of the class whose virtual table is given; true when it is wrapped now.
bool WrapClass(uintptr_t table) {
  static const int slot = ExecuteSlot::Index();
  if (slot < 0) return false;
  void* slotAddress = reinterpret_cast<void**>(table) + slot;
  uint32_t routine = 0;
  if (!SafeRead(static_cast<Address>(reinterpret_cast<uintptr_t>(slotAddress)), &routine, 4, nullptr) || !routine)
    return false;
  // A stub of another module's crash reporter (or ours, from an earlier arming) is already there.
  uint8_t head[12];
  if (SafeRead(routine, head, sizeof head, nullptr) && IsExecuteStub(head, sizeof head)) return true;
  void* stub = g_stubs.Place(MakeExecuteStub(routine, reinterpret_cast<Address>(&ExecuteWrapper)));
  return stub && Patch32(slotAddress, reinterpret_cast<uint32_t>(stub));
}

}  // namespace

bool PrepareThreadObject(void* parameter, std::string& className) {
  ProcessReader memory;
  Address object = static_cast<Address>(reinterpret_cast<uintptr_t>(parameter));
  if (!IsThreadObject(memory, object, &className)) return false;
  uint32_t table = 0;
  if (!memory.Read32(object, table)) return false;
  std::lock_guard<std::mutex> inProcess(g_lock);
  if (g_wrappedTables.count(table)) return true;
  // Several modules of the process may carry the crash reporter and wrap the same class at once.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, ("HookTThread" + HexText(GetCurrentProcessId())).c_str());
  if (mutex) WaitForSingleObject(mutex, 5000);
  if (WrapClass(table)) g_wrappedTables.insert(table);
  if (mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  return true;
}

void ResetThreadObjectHooks() {
  std::lock_guard<std::mutex> g(g_lock);
  g_wrappedTables.clear();
}

}  // namespace rvx
