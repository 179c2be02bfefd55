// Finding and redirecting a direct call inside a routine: over a byte buffer (both builds) and on code of the
// running process (Windows), with the patch records and their undo.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crash/core/hooks.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "crash/core/pipeline.h"
#include "crash/core/thread_hooks.h"
#include "framework/thread.h"

// Allocations of the program's heap made by a thread while it asks for them to be counted.
thread_local bool t_countAllocations = false;
std::atomic<int> g_countedAllocations{0};

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // this operator new takes its memory from malloc
void* operator new(std::size_t size) {
  if (t_countAllocations) ++g_countedAllocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

// push ebp; mov ebp, esp; call a; call b; call a; pop ebp; ret
std::vector<uint8_t> ThreeCalls(uint32_t base, uint32_t a, uint32_t b) {
  std::vector<uint8_t> code = {0x55, 0x89, 0xE5};
  for (uint32_t target : {a, b, a}) {
    uint32_t next = base + static_cast<uint32_t>(code.size()) + 5;
    uint32_t distance = target - next;
    code.push_back(0xE8);
    for (int i = 0; i < 4; ++i) code.push_back(static_cast<uint8_t>(distance >> (8 * i)));
  }
  code.push_back(0x5D);
  code.push_back(0xC3);
  return code;
}

TEST(FindRelativeCall, FirstDirectCallToTheTarget) {
  const uint32_t base = 0x401000;
  auto code = ThreeCalls(base, 0x402000, 0x403000);
  rvx::BufferReader memory(base, code.data(), code.size());
  EXPECT_EQ(rvx::FindRelativeCall(memory, base, 0x402000), base + 4);
  EXPECT_EQ(rvx::FindRelativeCall(memory, base, 0x403000), base + 9);
  EXPECT_EQ(rvx::FindRelativeCall(memory, base, 0x404000), 0u);
  EXPECT_EQ(rvx::FindRelativeCall(memory, base + 0x100, 0x402000), 0u);  // no code there
}

TEST(FindRelativeCall, IndirectCallsAndJumpsDoNotCount) {
  const uint32_t base = 0x401000;
  // call [slot]; jmp 0x402000 (a tail call, not a call)
  std::vector<uint8_t> code = {0xFF, 0x15, 0x00, 0x20, 0x40, 0x00, 0xE9};
  uint32_t distance = 0x402000 - (base + 11);
  for (int i = 0; i < 4; ++i) code.push_back(static_cast<uint8_t>(distance >> (8 * i)));
  rvx::BufferReader memory(base, code.data(), code.size());
  EXPECT_EQ(rvx::FindRelativeCall(memory, base, 0x402000), 0u);
}

TEST(ChecksumCheck, TheProgramFileEndsTheProcessALibraryStaysDisarmed) {
  using rvx::ChecksumOutcome;
  EXPECT_EQ(rvx::ChecksumCheckOutcome(true, true), ChecksumOutcome::Passed);
  EXPECT_EQ(rvx::ChecksumCheckOutcome(true, false), ChecksumOutcome::Passed);
  EXPECT_EQ(rvx::ChecksumCheckOutcome(false, true), ChecksumOutcome::EndProcess);
  EXPECT_EQ(rvx::ChecksumCheckOutcome(false, false), ChecksumOutcome::Disarm);
  // The settings' module is checked too when the settings were found in another module, once otherwise.
  EXPECT_EQ(rvx::ModulesToChecksum(0x10000000, 0x400000), (std::vector<uintptr_t>{0x10000000, 0x400000}));
  EXPECT_EQ(rvx::ModulesToChecksum(0x400000, 0x400000), (std::vector<uintptr_t>{0x400000}));
  EXPECT_EQ(rvx::ModulesToChecksum(0x400000, 0), (std::vector<uintptr_t>{0x400000}));
}

#ifdef _WIN32

__attribute__((noipa)) int Seven() { return 7; }
__attribute__((noipa)) int Eleven() { return 11; }
__attribute__((noipa)) int CallsSeven() { return Seven() * 2 + 1; }

uint32_t Operand(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

TEST(PatchRelativeCall, RedirectsRecordsAndUndoes) {
  rvx::UndoPatches();
  auto* routine = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  ASSERT_NE(routine, nullptr);
  const uint32_t base = reinterpret_cast<uint32_t>(routine);
  const uint32_t a = base + 0x800, b = base + 0x900, c = base + 0xA00;
  auto code = ThreeCalls(base, a, b);
  std::memcpy(routine, code.data(), code.size());
  DWORD old;
  VirtualProtect(routine, 4096, PAGE_EXECUTE_READ, &old);

  EXPECT_FALSE(rvx::PatchRelativeCall(routine, reinterpret_cast<void*>(c), reinterpret_cast<void*>(b)));
  EXPECT_EQ(rvx::PatchCount(), 0u);

  ASSERT_TRUE(rvx::PatchRelativeCall(routine, reinterpret_cast<void*>(b), reinterpret_cast<void*>(c)));
  EXPECT_EQ(rvx::PatchCount(), 1u);
  EXPECT_EQ(Operand(routine + 9), c - (base + 13));
  // The second call to b does not exist: nothing more is recorded.
  EXPECT_FALSE(rvx::PatchRelativeCall(routine, reinterpret_cast<void*>(b), reinterpret_cast<void*>(c)));
  EXPECT_EQ(rvx::PatchCount(), 1u);
  // Only the first of the two calls to a moves.
  ASSERT_TRUE(rvx::PatchRelativeCall(routine, reinterpret_cast<void*>(a), reinterpret_cast<void*>(c)));
  EXPECT_EQ(Operand(routine + 4), c - (base + 8));
  EXPECT_EQ(Operand(routine + 14), a - (base + 18));
  EXPECT_EQ(rvx::PatchCount(), 2u);

  MEMORY_BASIC_INFORMATION m;
  VirtualQuery(routine, &m, sizeof m);
  EXPECT_EQ(m.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));  // protection restored after writing

  rvx::UndoPatches();
  EXPECT_EQ(rvx::PatchCount(), 0u);
  EXPECT_EQ(std::memcmp(routine, code.data(), code.size()), 0);
  rvx::UndoPatches();  // twice does no harm
  EXPECT_EQ(std::memcmp(routine, code.data(), code.size()), 0);
  VirtualFree(routine, 0, MEM_RELEASE);
}

TEST(PatchRelativeCall, CompiledRoutineCallsTheNewTarget) {
  rvx::UndoPatches();
  EXPECT_EQ(CallsSeven(), 15);
  ASSERT_TRUE(rvx::PatchRelativeCall(reinterpret_cast<void*>(&CallsSeven), reinterpret_cast<void*>(&Seven),
                                     reinterpret_cast<void*>(&Eleven)));
  EXPECT_EQ(CallsSeven(), 23);
  rvx::UndoPatches();
  EXPECT_EQ(CallsSeven(), 15);
}

TEST(Patching, UnreadableTargetsAreLeftAlone) {
  rvx::UndoPatches();
  // Reserved but never committed: reading it would fault.
  void* reserved = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(reserved, nullptr);
  const uint8_t bytes[4] = {1, 2, 3, 4};
  EXPECT_FALSE(rvx::PatchBytes(reserved, bytes, 4));
  EXPECT_FALSE(rvx::Patch32(reserved, 7));
  EXPECT_FALSE(rvx::PatchJump(reserved, reinterpret_cast<void*>(&Seven)));
  // An import stub whose slot cannot be read.
  auto* stub = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_EXECUTE_READWRITE));
  ASSERT_NE(stub, nullptr);
  stub[0] = 0xFF;
  stub[1] = 0x25;
  uint32_t slot = reinterpret_cast<uint32_t>(reserved);
  std::memcpy(stub + 2, &slot, 4);
  EXPECT_FALSE(rvx::PatchJump(stub, reinterpret_cast<void*>(&Seven)));
  EXPECT_EQ(rvx::PatchCount(), 0u);
  void* seven = reinterpret_cast<void*>(&Seven);
  void* eleven = reinterpret_cast<void*>(&Eleven);
  EXPECT_EQ(rvx::PatchImportTables(reinterpret_cast<uintptr_t>(reserved), seven, eleven), 0);
  EXPECT_EQ(rvx::PatchImportTables(reinterpret_cast<uintptr_t>(stub), seven, eleven), 0);
  // A patched page that was protected since: undo leaves it alone.
  ASSERT_TRUE(rvx::Patch32(stub + 8, 0x12345678));
  DWORD old;
  VirtualProtect(stub, 4096, PAGE_NOACCESS, &old);
  rvx::UndoPatches();
  VirtualProtect(stub, 4096, PAGE_READWRITE, &old);
  EXPECT_EQ(Operand(stub + 8), 0x12345678u);
  VirtualFree(stub, 0, MEM_RELEASE);
  VirtualFree(reserved, 0, MEM_RELEASE);
}

DWORD WINAPI FixedTicks() { return 4242; }

TEST(Patching, ImportsOfEveryModuleArePatchedPastTheFirst256) {
  rvx::UndoPatches();
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string folder = std::string(temp) + "rvx_probe_" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  std::vector<HMODULE> loaded;
  std::vector<std::string> files;
  for (int i = 0; i < 300; ++i) {
    files.push_back(folder + "\\probe" + std::to_string(i) + ".dll");
    ASSERT_TRUE(CopyFileA("patch_probe.dll", files.back().c_str(), FALSE)) << files.back();
    HMODULE m = LoadLibraryA(files.back().c_str());
    ASSERT_NE(m, nullptr) << files.back();
    loaded.push_back(m);
  }
  using Probe = DWORD (*)();
  auto last = reinterpret_cast<Probe>(reinterpret_cast<void*>(GetProcAddress(loaded.back(), "probe_ticks")));
  ASSERT_NE(last, nullptr);
  void* original = nullptr;
  int patched = rvx::PatchImportedRoutine("kernel32.dll", "GetTickCount", reinterpret_cast<void*>(&FixedTicks),
                                          &original);
  EXPECT_GE(patched, 300);
  EXPECT_EQ(last(), 4242u) << "the last loaded library was patched too";
  rvx::UndoPatches();
  EXPECT_NE(last(), 4242u);
  for (HMODULE m : loaded) FreeLibrary(m);
  for (const std::string& f : files) DeleteFileA(f.c_str());
  RemoveDirectoryA(folder.c_str());
}

// A copy of the probe library under a name of its own in the temporary folder.
std::string ProbeCopy(const std::string& name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string path = std::string(temp) + name + "_" + std::to_string(GetCurrentProcessId()) + ".dll";
  EXPECT_TRUE(CopyFileA("patch_probe.dll", path.c_str(), FALSE)) << path;
  return path;
}

DWORD CallProbe(HMODULE m) {
  using Probe = DWORD (*)();
  auto probe = reinterpret_cast<Probe>(reinterpret_cast<void*>(GetProcAddress(m, "probe_ticks")));
  return probe ? probe() : 0;
}

TEST(ModuleLoadHooks, LibrariesLoadedLaterGetTheRegisteredReplacements) {
  rvx::UndoPatches();
  void* ticks = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount"));
  rvx::AddLoadedModuleReplacement(ticks, reinterpret_cast<void*>(&FixedTicks));
  rvx::InstallModuleLoadHooks();
  std::string first = ProbeCopy("late_probe_a"), second = ProbeCopy("late_probe_b");
  HMODULE m = LoadLibraryA(first.c_str());
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(CallProbe(m), 4242u);
  // Unloaded and loaded again (through another loading routine): patched afresh.
  FreeLibrary(m);
  std::wstring wide(first.begin(), first.end());
  m = LoadLibraryExW(wide.c_str(), nullptr, 0);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(CallProbe(m), 4242u);
  FreeLibrary(m);
  // Once the hooks are removed and undone, a new library keeps its own imports.
  rvx::RemoveModuleLoadHooks();
  rvx::UndoPatches();
  m = LoadLibraryA(second.c_str());
  ASSERT_NE(m, nullptr);
  EXPECT_NE(CallProbe(m), 4242u);
  FreeLibrary(m);
  DeleteFileA(first.c_str());
  DeleteFileA(second.c_str());
}

class TProbe : public fw::TThread {
 protected:
  void Execute() override { ReturnValue = 5; }
};
class TOtherProbe : public TProbe {
 protected:
  void Execute() override { ReturnValue = 6; }
};

TEST(ThreadObjectHooks, OneExecuteStubPerClassAndExecuteStillRuns) {
  rvx::UndoPatches();
  TProbe a, b;
  TOtherProbe c;
  std::string cls;
  ASSERT_TRUE(rvx::PrepareThreadObject(&a, cls));
  EXPECT_EQ(cls, "TProbe");
  EXPECT_EQ(rvx::PatchCount(), 1u);
  EXPECT_TRUE(rvx::PrepareThreadObject(&b, cls));
  EXPECT_EQ(rvx::PatchCount(), 1u) << "a second object of the same class";
  EXPECT_TRUE(rvx::PrepareThreadObject(&c, cls));
  EXPECT_EQ(cls, "TOtherProbe");
  EXPECT_EQ(rvx::PatchCount(), 2u);
  int plain = 0;
  EXPECT_FALSE(rvx::PrepareThreadObject(&plain, cls));
  EXPECT_FALSE(rvx::PrepareThreadObject(nullptr, cls));
  // Through the stub and the execute wrapper, with the thread object and the class's own routine.
  a.Start();
  c.Start();
  EXPECT_EQ(a.WaitFor(), 5u);
  EXPECT_EQ(c.WaitFor(), 6u);
  rvx::UndoPatches();
  rvx::ResetThreadObjectHooks();
  TProbe d;
  d.Start();
  EXPECT_EQ(d.WaitFor(), 5u);
}

// Recursion until the stack is gone; every frame keeps a little of it.
__attribute__((noinline, optimize("no-optimize-sibling-calls"))) int Exhaust(int depth) {
  volatile char frame[200];
  frame[0] = static_cast<char>(depth);
  if (depth < 0) return frame[0];  // never: the recursion ends in the overflow
  return Exhaust(depth + 1) + frame[0];
}

TEST(StackOverflow, TheExhaustedStackOnlyHandsTheFaultToAHelper) {
  // Whatever the handling makes of the fault (texts, the exception object) is made by the helper thread.
  int counted = -1;
  bool returned = true;
  std::thread([&] {
    g_countedAllocations = 0;
    t_countAllocations = true;
    returned = rvx::RunGuardedThreadBody([](void*) { Exhaust(0); }, nullptr, rvx::kSourceThread, nullptr);
    t_countAllocations = false;
    counted = g_countedAllocations;
  }).join();
  EXPECT_FALSE(returned);
  EXPECT_EQ(counted, 0);
}

#endif

}  // namespace
