// The exception record: class and message rules, header and sections, completion, change tracking and
// callbacks, saving with duplicates.
#include "crash/core/exception_record.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/settings_stream.h"
#include "crash/stack/text.h"
#include <unistd.h>

namespace rvx {
namespace {

constexpr ModuleHandle kLab = 0x7100000;

struct EDemo : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearMemoryModules();
    SetMemoryModule(kLab, L"C:\\lab\\crashlab.exe");
    SetMemoryResource(kLab, "ZAVEDO", rvxtest::SettingsStream().Bool("Enabled", true).Bool("NoSettings", false)
                                          .Text("FrozenMsg", "frozen!").End());
    settings_ = SettingsOfModule(kLab);
  }
  void TearDown() override { ClearMemoryModules(); }

  Ref<TIRVException> Record(ExceptObjectPtr object, const TContext* context = nullptr, uint8_t type = kExceptException) {
    ExceptionParams p;
    p.settings = settings_;
    p.object = std::move(object);
    p.address = 0x401234;
    p.context = context;
    p.type = type;
    p.dontCompleteYet = true;
    return NewExceptionRecord(p);
  }

  Ref<IRVModuleSettings> settings_;
};

TEST_F(RecordTest, ClassAndMessage) {
  EDemo demo("boom!!");
  auto r = Record(MakeThrownException(&demo, &typeid(EDemo)));
  EXPECT_EQ(r->ExceptClass(), "rvx::(anonymous namespace)::EDemo");
  EXPECT_EQ(r->ExceptMessage(), "boom.");
  int value = 5;
  auto i = Record(MakeThrownException(&value, &typeid(int)));
  EXPECT_EQ(i->ExceptClass(), "int");
  std::string report = i->CompleteBugReport();
  std::string v;
  EXPECT_TRUE(FindHeaderValue(report, "exception class", v));
  EXPECT_FALSE(FindHeaderValue(report, "exception message", v)) << report;
  auto none = Record(nullptr);
  EXPECT_EQ(none->ExceptClass(), "Unknown");
  auto own = Record(MakeOwnException("Access violation at address 00401234"));
  EXPECT_EQ(own->ExceptClass(), "RvxException");
  EXPECT_EQ(own->ExceptMessage(), "Access violation at address 00401234.");
  own->SetExceptMessage("replaced");
  EXPECT_EQ(own->ExceptMessage(), "replaced");
  // A freeze has the frozen text and no class.
  auto freeze = Record(nullptr, nullptr, kExceptFreeze);
  report = freeze->CompleteBugReport();
  EXPECT_FALSE(FindHeaderValue(report, "exception class", v));
  ASSERT_TRUE(FindHeaderValue(report, "exception message", v));
  EXPECT_EQ(v, "frozen!");
}

TEST_F(RecordTest, HeaderOrderAndCompletion) {
  TContext c{};
  c.Eax = 1;
  c.Eip = 0x401234;
  c.Esp = 0x12ff00;
  c.Ebp = 0x12ff40;
  auto r = Record(MakeOwnException("x"), &c);
  std::string before = r->BugReport(false);
  EXPECT_NE(before.find("will be calculated soon"), std::string::npos);
  std::string report = r->CompleteBugReport();
  EXPECT_EQ(report.rfind("date/time", 0), 0u);
  std::vector<std::string> order{"date/time", "executable", "compiled with", "Ravex version", "callstack crc",
                                 "exception number", "exception class", "exception message"};
  size_t last = 0;
  for (const auto& n : order) {
    size_t at = report.find("\n" + n);
    if (n == "date/time") at = 0;
    ASSERT_NE(at, std::string::npos) << n << "\n" << report;
    EXPECT_GE(at, last) << n;
    last = at;
  }
  std::string crc;
  ASSERT_TRUE(FindHeaderValue(report, "callstack crc", crc));
  EXPECT_EQ(crc.size(), 31u);
  EXPECT_NE(report.find("\r\ncpu registers:\r\neax = 00000001\r\n"), std::string::npos) << report;
  EXPECT_NE(report.find("eip = 00401234\r\nesp = 0012ff00\r\nebp = 0012ff40"), std::string::npos);
#ifndef _WIN32
  // The stack dump of an unreadable stack disappears.
  EXPECT_EQ(report.find("stack dump"), std::string::npos);
#endif
  // Every colon of the header in one column.
  size_t column = report.find(": ");
  std::istringstream lines(report);
  for (std::string l; std::getline(lines, l) && l != "\r";) EXPECT_EQ(l.find(": "), column) << l;
  // Items added later go to the insertion point, in order, and re-render the report.
  auto header = r->BugReportHeader();
  header->Add("contact name", "Ana");
  header->Add("contact mail", "ana@example.com");
  std::string after = r->BugReport(false);
  EXPECT_LT(after.find("contact name"), after.find("contact mail"));
  EXPECT_NE(after, report);
}

int g_calls = 0;
bool g_lastComplete = false;
void Callback(bool complete, const std::string&, IRVException*) {
  ++g_calls;
  g_lastComplete = complete;
}

TEST_F(RecordTest, CallbacksAndChangeTracking) {
  auto r = Record(MakeOwnException("x"));
  r->BugReport(false);
  g_calls = 0;
  r->RegisterBugReportCallback(Callback, false);
  EXPECT_EQ(g_calls, 1);
  r->RegisterBugReportCallback(Callback, true);  // only the critical flag changes
  EXPECT_EQ(g_calls, 1);
  EXPECT_TRUE(r->HasCriticalCallback());
  r->BeginUpdate();
  r->BugReportHeader()->Add("a", "1");
  r->BugReportHeader()->Add("b", "2");
  int during = g_calls;
  r->EndUpdate();
  EXPECT_EQ(g_calls, during + 1);  // one change event for the whole update
  r->CompleteBugReport();
  EXPECT_TRUE(g_lastComplete);
  r->UnregisterBugReportCallback(Callback);
  int now = g_calls;
  r->BugReportHeader()->Add("c", "3");
  EXPECT_EQ(g_calls, now);
  EXPECT_FALSE(r->HasCriticalCallback());
  // Without a report nothing is composed; a set text is the report.
  auto silent = Record(MakeOwnException("x"));
  silent->SetCreateBugReport(false);
  EXPECT_EQ(silent->BugReport(true), "");
  silent->SetBugReport("given");
  EXPECT_EQ(silent->BugReport(true), "given");
  // Phases and can-continue.
  r->SetPhase(3);
  EXPECT_EQ(r->Phase(), 4);
  r->SetCanContinue(false);
  r->SetCanContinue(true);
  EXPECT_TRUE(r->CanContinue());
  EXPECT_TRUE(r->FirstAutoSave());
  EXPECT_FALSE(r->FirstAutoSave());
}

TEST_F(RecordTest, SavingTwiceCountsUp) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("rvx_record_" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
#ifdef _WIN32
  std::wstring name = dir.wstring() + L"\\reports\\bugreport.txt";
#else
  std::wstring name = L"\\" + DecodeUtf8Text(dir.relative_path().string()) + L"\\reports\\bugreport.txt";
#endif
  for (auto& ch : name)
    if (ch == L'/') ch = L'\\';
  for (int i = 1; i <= 3; ++i) {
    auto r = Record(MakeOwnException("same place"));
    ASSERT_TRUE(r->SaveReport(name, true));
  }
  std::string file;
  {
    std::ifstream in(dir / "reports" / "bugreport.txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    file = s.str();
  }
  std::string v;
  ASSERT_TRUE(FindHeaderValue(file, "count", v)) << file;
  EXPECT_EQ(v, "3");
  EXPECT_EQ(file.find("\ndate/time"), std::string::npos);
  size_t crcLine = file.find("\ncallstack crc");
  EXPECT_EQ(file.find("\ncount"), file.find("\r\n", crcLine + 1) + 1);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
}  // namespace rvx
