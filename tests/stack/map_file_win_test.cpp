// Symbol data of loaded modules in the running process: the cache keyed by the module file's last-write
// time, modules without symbol data, the full lookup and the disassembler's hooks.
#include <windows.h>

#include <gtest/gtest.h>

#include "crash/stack/decoder.h"
#include "crash/stack/map_file.h"

namespace {
using namespace rvx;

// A copy of crashlab.exe (which carries its symbol data) loaded into this process without running it.
class LoadedCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "symbols_copy_" + std::to_string(GetCurrentProcessId()) + ".exe";
    ASSERT_TRUE(CopyFileA("crashlab.exe", path_.c_str(), FALSE)) << GetLastError();
    module_ = LoadLibraryExA(path_.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(module_, nullptr) << GetLastError();
    base_ = static_cast<Address>(reinterpret_cast<uintptr_t>(module_));
  }
  void TearDown() override {
    FreeSymbolData();
    if (module_) FreeLibrary(module_);
    DeleteFileA(path_.c_str());
  }
  void ShiftWriteTime(int64_t seconds) {
    HANDLE h = CreateFileA(path_.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    FILETIME t;
    GetFileTime(h, nullptr, nullptr, &t);
    ULARGE_INTEGER u{{t.dwLowDateTime, t.dwHighDateTime}};
    u.QuadPart += static_cast<uint64_t>(seconds) * 10000000ull;
    t = {u.LowPart, u.HighPart};
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &t));
    CloseHandle(h);
  }
  std::string path_;
  HMODULE module_ = nullptr;
  Address base_ = 0;
};

TEST_F(LoadedCopy, CachedUntilTheFileChanges) {
  auto first = SymbolDataFor(base_ + 0x1000);
  ASSERT_TRUE(first->valid);
  EXPECT_EQ(first->module, base_);
  EXPECT_GT(first->publics.size(), 100u);
  EXPECT_EQ(SymbolDataFor(base_ + 0x1234).get(), first.get());
  ShiftWriteTime(86400);
  auto second = SymbolDataFor(base_ + 0x1000);
  ASSERT_TRUE(second->valid);
  EXPECT_NE(second.get(), first.get());  // loaded again
  EXPECT_EQ(SymbolDataFor(base_ + 0x1000).get(), second.get());
  EXPECT_EQ(second->publics.size(), first->publics.size());
}

TEST_F(LoadedCopy, LookupsAndHooksOverTheLoadedModule) {
  auto map = SymbolDataFor(base_ + 0x1000);
  ASSERT_TRUE(map->valid);
  // The first routine that has a line: the full lookup gives its unit, line and name.
  const TMfPublic* routine = nullptr;
  for (const TMfPublic& p : map->publics)
    if (LineAt(*map, p.address).line > 0) {
      routine = &p;
      break;
    }
  ASSERT_NE(routine, nullptr);
  SymbolInfo info;
  ASSERT_TRUE(SymbolInfoAt(routine->address + 1, info));
  EXPECT_EQ(info.moduleFileName, path_);
  EXPECT_FALSE(info.unit.empty());
  EXPECT_GT(info.line, 0u);
  EXPECT_EQ(info.publicAddress, routine->address);
  EXPECT_EQ(info.publicName, routine->name);
  ASSERT_TRUE(FunctionNameResolver());
  std::wstring hooked = FunctionNameResolver()(routine->address);
  EXPECT_EQ(std::string(hooked.begin(), hooked.end()), info.unit + "." + routine->name);
  uint32_t line = 0;
  Address low = 0, high = 0;
  ASSERT_TRUE(LineNumberResolver());
  EXPECT_TRUE(LineNumberResolver()(routine->address, line, low, high));
  EXPECT_EQ(line, static_cast<uint32_t>(LineAt(*map, routine->address).line));
  EXPECT_LE(low, routine->address);
  EXPECT_GE(high, routine->address);
}

TEST(SymbolDataWin, ModulesWithoutSymbolDataAreNotCached) {
  // This test program carries no symbol data (and has no files beside it that hold any).
  auto a = SymbolDataFor(0);
  auto b = SymbolDataFor(0);
  EXPECT_FALSE(a->valid);
  EXPECT_NE(a.get(), b.get());
  SymbolInfo info;
  EXPECT_FALSE(SymbolInfoAt(0, info));
  // Nothing committed at the address: not valid, no fault.
  void* region = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  ASSERT_NE(region, nullptr);
  EXPECT_FALSE(SymbolDataFor(static_cast<Address>(reinterpret_cast<uintptr_t>(region)))->valid);
  VirtualFree(region, 0, MEM_RELEASE);
  EXPECT_EQ(RoutineNameAt(0x10), "");
}

}  // namespace
