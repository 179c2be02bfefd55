#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "crash/core/settings.h"
#include "crash/stack/text.h"

using namespace rvx;

namespace {
std::string BufName() { return "RavexSettingsBuf2" + HexText(GetCurrentProcessId()); }

bool RegistryAnchorExists() {
  HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, BufName().c_str());
  if (h) CloseHandle(h);
  return h != nullptr;
}
}  // namespace

TEST(SettingsWin, ReadsTheProgramsOwnResource) {
  ModuleHandle exe = settings_platform::ProgramModule();
  EXPECT_EQ(settings_platform::OwnModule(), exe);  // linked statically into the program
  Ref<TIRVSettings> s(new TIRVSettings(exe));
  EXPECT_TRUE(s->Valid());
  EXPECT_EQ(s->SmtpPort(), 587);
  EXPECT_EQ(s->FreezeTimeout(), 30000u);
  EXPECT_EQ(s->TitleBar(), "settings_win_test.exe");
  auto modules = settings_platform::ModulesWithSettings();
  EXPECT_NE(std::find(modules.begin(), modules.end(), exe), modules.end());
  Ref<IRVModuleSettings> caller = SettingsOfCaller();
  EXPECT_EQ(caller->Module(), exe);
  EXPECT_EQ(SettingsOfCallerUp(1)->Module(), exe);
  // a module without settings of its own stays invalid (no discovery outside the design-time host)
  auto k32 = reinterpret_cast<ModuleHandle>(GetModuleHandleA("kernel32.dll"));
  EXPECT_FALSE(SettingsOfModule(k32)->Valid());
}

TEST(SettingsWin, RegistryLivesInNamedSharedMemory) {
  ASSERT_FALSE(RegistryAnchorExists());
  {
    Ref<TIRVSettings> a(new TIRVSettings(settings_platform::ProgramModule()));
    EXPECT_TRUE(RegistryAnchorExists());
    HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, BufName().c_str());
    ASSERT_TRUE(h);
    void* view = MapViewOfFile(h, FILE_MAP_READ, 0, 0, 4);
    ASSERT_TRUE(view);
    EXPECT_NE(*static_cast<void* const*>(view), nullptr);
    UnmapViewOfFile(view);
    CloseHandle(h);
    // a second object of the same module shares the entry
    Ref<TIRVSettings> b(new TIRVSettings(settings_platform::ProgramModule()));
    EXPECT_TRUE(a->SetSmtpPort(2525));
    EXPECT_EQ(b->SmtpPort(), 2525);
    a->Reload();
  }
  EXPECT_FALSE(RegistryAnchorExists());  // the last reference closes it
}

TEST(SettingsWin, PlatformFacts) {
  EXPECT_FALSE(settings_platform::ComputerName().empty());
  auto now = settings_platform::Now();
  EXPECT_GE(now.year, 2000);
  EXPECT_FALSE(settings_platform::FolderPath(settings_platform::Folder::UserAppData).empty());
  std::wstring exe = ModuleFile(settings_platform::ProgramModule());
  EXPECT_NE(exe.find(L"settings_win_test.exe"), std::wstring::npos);
  EXPECT_EQ(settings_platform::ReadVersionVar(settings_platform::ProgramModule(), 0x7FFFFFF0), "");
}

TEST(SettingsWin, FindsTheResourceInItsOwnImageFile) {
  std::wstring exe = ModuleFile(settings_platform::ProgramModule());
  std::ifstream f(WideToAnsi(exe), std::ios::binary);
  ASSERT_TRUE(f);
  std::ostringstream ss;
  ss << f.rdbuf();
  std::string resource, error, loaded;
  ASSERT_TRUE(ExtractSettingsResource(ss.str(), resource, error)) << error;
  ASSERT_TRUE(settings_platform::ReadRcData(settings_platform::ProgramModule(), "ZAVEDO", loaded));
  EXPECT_EQ(resource, loaded);
}
