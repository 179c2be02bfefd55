// Module helpers, the safe reader and the decoder on the running process (under Wine).
#include <gtest/gtest.h>
#include <windows.h>

#include "crash/stack/decoder.h"
#include "crash/stack/function_analyser.h"
#include "crash/stack/module.h"
#include "crash/stack/safe_read.h"

namespace {
using namespace rvx;

Address A(const void* p) { return static_cast<Address>(reinterpret_cast<uintptr_t>(p)); }
Address A(FARPROC p) { return static_cast<Address>(reinterpret_cast<uintptr_t>(p)); }

Address Kernel32() { return A(GetModuleHandleA("kernel32.dll")); }

TEST(ModuleExports, SystemLibraryByNameOrdinalAndForwarder) {
  HMODULE k32 = GetModuleHandleA("kernel32.dll");
  ASSERT_NE(k32, nullptr);
  for (const char* name : {"GetTickCount", "CreateFileW", "VirtualQuery", "GetProcAddress"}) {
    Address expected = A(GetProcAddress(k32, name));
    EXPECT_EQ(ResolveExportByName(Kernel32(), name, false), expected) << name;
    EXPECT_EQ(ResolveExportByName(Kernel32(), name, true), expected) << name << " (checked against the file)";
  }
  EXPECT_EQ(ResolveExportByName(Kernel32(), "NoSuchFunctionAnywhere", false), 0u);

  ProcessReader reader;
  int forwarders = 0, ordinals = 0;
  for (const ExportEntry& e : ListExports(reader, Kernel32())) {
    Address viaOrdinal = ResolveExportByOrdinal(Kernel32(), e.ordinal);
    Address expected = A(GetProcAddress(k32, MAKEINTRESOURCEA(e.ordinal)));
    if (ordinals < 200) {
      EXPECT_EQ(viaOrdinal, expected) << "ordinal " << e.ordinal << " " << e.name;
      ++ordinals;
    }
    if (!e.forwarder.empty() && !e.name.empty()) {
      // Resolves through the already loaded target module, like the system's own lookup.
      Address resolved = ResolveExportByName(Kernel32(), e.name.c_str(), false);
      std::string target = e.forwarder.substr(0, e.forwarder.find('.'));
      if (GetModuleHandleA(target.c_str())) {
        EXPECT_EQ(resolved, A(GetProcAddress(k32, e.name.c_str()))) << e.name << " -> " << e.forwarder;
        ++forwarders;
      }
    }
  }
  EXPECT_GT(forwarders, 0) << "kernel32 should forward some exports";
  EXPECT_GT(ordinals, 0);
}

TEST(ModuleExports, NameAtAnExportAndModuleOfAnAddress) {
  Address tick = A(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount"));
  ModuleHandle module = 0;
  std::string file;
  ASSERT_TRUE(ModuleFromAddress(tick, module, file));
  // The export may be forwarded to another library; the name is found in the module that holds the code.
  EXPECT_EQ(ExportNameAt(module, tick, false), "GetTickCount");
  EXPECT_NE(file.find(".dll"), std::string::npos);
  EXPECT_EQ(ExportNameAt(module, tick + 1, false), "");
  EXPECT_TRUE(PeNtHeaders(module) != 0);
  EXPECT_GT(PeImageSize(PeNtHeaders(module)), 0u);

  ModuleHandle none = 0;
  std::string noFile;
  void* heap = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
  EXPECT_FALSE(ModuleFromAddress(A(heap), none, noFile) && !noFile.empty());
  EXPECT_EQ(PeNtHeaders(A(heap)), 0u);
  VirtualFree(heap, 0, MEM_RELEASE);
  EXPECT_EQ(PeNtHeaders(0x10), 0u);
}

TEST(ModuleProcess, ReadabilityAndSafeReads) {
  auto* page = static_cast<uint8_t*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
  page[0] = 0x5A;
  EXPECT_TRUE(IsReadable(A(page), 16));
  DWORD old;
  VirtualProtect(page + 4096, 4096, PAGE_NOACCESS, &old);
  EXPECT_FALSE(IsReadable(A(page + 4096), 1));
  EXPECT_FALSE(IsReadable(A(page) + 4000, 200)) << "range reaching into the next region";

  uint8_t buf[16] = {};
  EXPECT_TRUE(SafeRead(A(page), buf, 1, nullptr));
  EXPECT_EQ(buf[0], 0x5A);
  EXPECT_FALSE(SafeRead(A(page) + 4090, buf, 16, nullptr));
  EXPECT_FALSE(SafeRead(0, buf, 4, nullptr));

  TDATryRead snapshot = TakeReadSnapshot();
  ASSERT_FALSE(snapshot.empty());
  EXPECT_EQ(SnapshotAccess(snapshot, A(page), 16), kReadable);
  EXPECT_EQ(SnapshotAccess(snapshot, A(page + 4096), 1), kNotReadable);
  EXPECT_TRUE(SafeRead(A(page), buf, 4, &snapshot));
  EXPECT_FALSE(SafeRead(A(page + 4096), buf, 4, &snapshot));

  // Execute-only code is still read.
  page[100] = 0xC3;
  VirtualProtect(page, 4096, PAGE_EXECUTE, &old);
  EXPECT_TRUE(SafeRead(A(page) + 100, buf, 1, nullptr));
  EXPECT_EQ(buf[0], 0xC3);
  FreeReadSnapshot(snapshot);
  EXPECT_TRUE(snapshot.empty());
  VirtualFree(page, 0, MEM_RELEASE);
}

DWORD ProtectionOf(const void* p) {
  MEMORY_BASIC_INFORMATION m;
  VirtualQuery(p, &m, sizeof m);
  return m.Protect;
}

TEST(ModuleProcess, SafeReadsOfMemoryThatChangedSinceItWasClassified) {
  // Two pages of code, execute-only when the snapshot was taken; since then one cannot be read at all and
  // the other is read-only. The direct copy faults, so the pages are made readable for the copy, each
  // getting its own protection back.
  auto* code = static_cast<uint8_t*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(code, nullptr);
  code[4094] = 0x55;
  code[4097] = 0xC3;
  DWORD old;
  VirtualProtect(code, 8192, PAGE_EXECUTE, &old);
  TDATryRead snapshot = TakeReadSnapshot();
  ASSERT_EQ(SnapshotAccess(snapshot, A(code), 8192), kExecuteOnly);
  VirtualProtect(code, 4096, PAGE_NOACCESS, &old);
  VirtualProtect(code + 4096, 4096, PAGE_READONLY, &old);
  uint8_t buf[8] = {};
  ASSERT_TRUE(SafeRead(A(code) + 4094, buf, 4, &snapshot));
  EXPECT_EQ(buf[0], 0x55);
  EXPECT_EQ(buf[3], 0xC3);
  EXPECT_EQ(ProtectionOf(code), static_cast<DWORD>(PAGE_NOACCESS));
  EXPECT_EQ(ProtectionOf(code + 4096), static_cast<DWORD>(PAGE_READONLY));

  // Readable when classified, freed since: the read fails instead of faulting.
  auto* data = static_cast<uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
  TDATryRead before = TakeReadSnapshot();
  ASSERT_EQ(SnapshotAccess(before, A(data), 16), kReadable);
  VirtualFree(data, 0, MEM_RELEASE);
  EXPECT_FALSE(SafeRead(A(data), buf, 8, &before));
  EXPECT_FALSE(SafeRead(A(code) + 4094, buf, 4, nullptr)) << "no snapshot: asked afresh";
  VirtualFree(code, 0, MEM_RELEASE);
  EXPECT_FALSE(SafeRead(A(code) + 4094, buf, 4, &snapshot));
}

TEST(ModuleProcess, DecodesAndNamesCallsInTheProcess) {
  // call [slot] through a pointer to GetTickCount; the comment names the function and its library.
  static Address slot = A(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount"));
  uint8_t code[6] = {0xFF, 0x15};
  Address slotAddress = A(&slot);
  memcpy(code + 2, &slotAddress, 4);
  InstructionInfo info;
  std::string text;
  InstructionText(A(code), text, nullptr, info, false);
  EXPECT_TRUE(info.valid && info.isCall);
  EXPECT_EQ(info.target, slot);
  EXPECT_NE(text.find("GetTickCount"), std::string::npos) << text;
  EXPECT_NE(text.find(".dll)"), std::string::npos) << text;

  // An unreadable slot makes the instruction invalid; with an fs: prefix the slot is not read.
  uint8_t bad[7] = {0xFF, 0x15, 0x10, 0x00, 0x00, 0x00};
  EXPECT_FALSE(DecodeInstruction(A(bad), info, nullptr, false, nullptr));
  uint8_t fsBad[7] = {0x64, 0xFF, 0x15, 0x10, 0x00, 0x00, 0x00};
  EXPECT_TRUE(DecodeInstruction(A(fsBad), info, nullptr, false, nullptr));
  EXPECT_EQ(info.target, 0u);
}

TEST(ModuleProcess, VersionsResourcesTicks) {
  char path[MAX_PATH];
  GetModuleFileNameA(GetModuleHandleA("kernel32.dll"), path, MAX_PATH);
  std::string version = FileVersionOf(path);
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
  std::string res = ResourceText(Kernel32(), MAKEINTRESOURCEW(16) /* RT_VERSION */, MAKEINTRESOURCEW(1));
  EXPECT_GT(res.size(), 0u);
  EXPECT_EQ(ResourceText(Kernel32(), MAKEINTRESOURCEW(10), L"NOSUCHRESOURCE"), "");
  EXPECT_LT(TicksSince(GetTickCount()), 1000u);
}

int g_calls = 0;
void Handler(void*, uint32_t message, uintptr_t wParam, intptr_t, intptr_t& result) {
  ++g_calls;
  result = static_cast<intptr_t>(wParam) + 1;
}
struct Counter {
  int hits = 0;
};
void Method(void* object, void*, uint32_t, uintptr_t, intptr_t, intptr_t& result) {
  ++static_cast<Counter*>(object)->hits;
  result += 100;
}

DWORD WINAPI SleepABit(void*) {
  Sleep(200);
  return 0;
}

TEST(ModuleMessages, HandlersOnTheThreadWindow) {
  MessageHandler plain;
  plain.proc = Handler;
  EXPECT_EQ(AddThreadMessageHandler(plain, 0), 1024u);
  EXPECT_EQ(AddThreadMessageHandler(plain, 0), 1025u);
  EXPECT_EQ(AddThreadMessageHandler(plain, 1024), 0u) << "exact duplicate";
  HWND window = static_cast<HWND>(ThreadMessageWindow());
  ASSERT_NE(window, nullptr);
  wchar_t cls[128];
  GetClassNameW(window, cls, 128);
  EXPECT_EQ(std::wstring(cls).rfind(L"rvxToolsMsgHandlerWindow$", 0), 0u);
  EXPECT_EQ(SendMessageW(window, 1024, 41, 0), 42);
  EXPECT_EQ(g_calls, 1);

  Counter counter;
  MessageHandler method;
  method.methodCode = Method;
  method.methodObject = &counter;
  EXPECT_EQ(AddThreadMessageHandler(method, 1025), 1025u);
  EXPECT_EQ(SendMessageW(window, 1025, 1, 0), 102);
  EXPECT_EQ(counter.hits, 1);

  // Another thread has no window of ours and gets none.
  DWORD other = 0;
  HANDLE t = CreateThread(nullptr, 0, SleepABit, nullptr, 0, &other);
  EXPECT_EQ(ThreadMessageWindow(other), nullptr);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);

  RemoveThreadMessageHandler(plain);
  RemoveThreadMessageHandler(method);
  EXPECT_FALSE(IsWindow(window)) << "the window goes with the last handler";
}

struct Adder {
  int base;
};
int __stdcall AddTo(Adder* self, int value) { return self->base + value; }

TEST(ModuleMessages, MethodThunkInsertsTheObject) {
  Adder adder{40};
  auto* thunk = reinterpret_cast<int(__stdcall*)(int)>(MethodThunk(&adder, reinterpret_cast<void*>(&AddTo)));
  ASSERT_NE(thunk, nullptr);
  EXPECT_EQ(thunk(2), 42);
}

TEST(ModuleProcess, AnalysesAFunctionOfTheProcess) {
  Address tick = A(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount"));
  ProcessReader reader;
  TFunctionInfo info;
  EXPECT_TRUE(AnalyseFunction(reader, tick, info));
  EXPECT_GT(info.codeLength, 0u);
  // An address that is surely not committed: a region this test reserved and gave back. (Low addresses are
  // no such thing: under Wine memory below 64 KB is committed on some kernels.)
  void* region = VirtualAlloc(nullptr, 0x10000, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(region, nullptr);
  ASSERT_TRUE(VirtualFree(region, 0, MEM_RELEASE));
  TFunctionInfo none;
  EXPECT_FALSE(AnalyseFunction(reader, A(region) + 0x10, none));
  EXPECT_EQ(none.lastErrorNumber, kErrorInvalidParameter);
}

}  // namespace
