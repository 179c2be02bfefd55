// The rvx disasm command (run from the native tree's bin folder).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::string Disasm(const std::string& args, int* status = nullptr) {
  std::string out;
  FILE* p = popen(("./rvx disasm " + args + " 2>&1").c_str(), "r");
  if (!p) return "<no rvx>";
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  int rc = pclose(p);
  if (status) *status = WEXITSTATUS(rc);
  return out;
}

TEST(RvxDisasm, BytesFromTheCommandLine) {
  EXPECT_EQ(Disasm("--hex \"83 C4 F8\" --at 45A2B3"), "0045a2b3   add     esp, -8\n");
  EXPECT_EQ(Disasm("--hex \"64 89 20\" --at 45A2B3"), "0045a2b3   mov     fs:[eax], esp\n");
  EXPECT_EQ(Disasm("--hex \"55 8B EC 0F 0B\" --at 1000"),
            "00001000   push    ebp\n00001001   mov     ebp, esp\n00001003   db $0f\n00001004   db $0b\n");
  int status = 0;
  Disasm("--hex \"83 C\"", &status);
  EXPECT_EQ(status, 2);
}

TEST(RvxDisasm, FilesByAddressAndExport) {
  const std::string dll = "/usr/lib/i386-linux-gnu/wine/i386-windows/kernelbase.dll";
  if (FILE* f = fopen(dll.c_str(), "rb")) {
    fclose(f);
  } else {
    GTEST_SKIP() << "no system library";
  }
  std::string listing = Disasm(dll + " --function GetTickCount64 --delimiters");
  EXPECT_NE(listing.find("public GetTickCount64:"), std::string::npos) << listing;
  EXPECT_NE(listing.find("; function entry point"), std::string::npos);
  std::string limited = Disasm(dll + " --function GetTickCount64 --limit 2 --mark " +
                            listing.substr(listing.find('\n', listing.find('\n') + 1) + 1, 8));
  EXPECT_NE(limited.rfind("[...]", 0), 0u) << "nothing is left out before the mark: no [...] in front\n" << limited;
  EXPECT_EQ(limited.substr(limited.size() - 6), "[...]\n") << limited;
  int status = 0;
  Disasm(dll + " --function NoSuchExport", &status);
  EXPECT_EQ(status, 1);
  std::string lines = Disasm(dll + " " + listing.substr(0, 8) + " 3");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3);
}

}  // namespace
