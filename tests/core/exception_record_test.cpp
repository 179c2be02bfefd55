// The exception record: class and message rules, header and sections, completion, change tracking and
// callbacks, saving with duplicates.
#include "crash/core/exception_record.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

#include "core/settings_stream.h"
#include "crash/core/thread_stack.h"
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
  EXPECT_EQ(r->ExceptClass(), "rvx::EDemo");
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

// ---- completion in the background and from inside change callbacks -----------------------------------

std::atomic<bool> g_inProvider{false};
std::atomic<bool> g_leaveProvider{false};
// A stack text that takes until the test lets it go.
TraceResult SlowStack(const TraceOptions&) {
  g_inProvider = true;
  while (!g_leaveProvider) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  TraceResult r;
  r.text = "00401234 lab.exe";
  r.crcFirst = r.crcCombined = 1;
  return r;
}

void WaitForThreadEnd(uint32_t id) {
#ifdef _WIN32
  if (HANDLE h = OpenThread(SYNCHRONIZE, FALSE, id)) {
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
  }
#else
  while (std::filesystem::exists("/proc/self/task/" + std::to_string(id)))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
#endif
}

int g_completeCalls = 0;
std::string g_fromCallback;
void AskingCallback(bool complete, const std::string&, IRVException* record) {
  ++g_completeCalls;
  g_fromCallback = record->CompleteBugReport();
}

TEST_F(RecordTest, CompletionThreadHoldsTheRecordUntilItIsDone) {
  // The last outside reference goes while the completion thread works: the thread's own reference keeps
  // the record, the rest of the completion is skipped, and the record ends with the thread.
  TContext c{};
  c.Eip = 0x401234;
  SetTraceProvider(SlowStack);
  TIRVException::SetHandlingThreadId(CurrentThreadId());
  g_inProvider = false;
  g_leaveProvider = false;
  ExceptionParams p;
  p.settings = settings_;
  p.object = MakeOwnException("x");
  p.address = 0x401234;
  p.context = &c;
  auto r = NewExceptionRecord(p);
  g_calls = 0;
  r->RegisterBugReportCallback(Callback, false);
  r->BugReportSections();
  while (!g_inProvider) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  uint32_t thread = r->CompletionThreadId();
  ASSERT_NE(thread, 0u);
  ASSERT_NE(thread, CurrentThreadId());
  int before = g_calls;
  r.reset();
  g_leaveProvider = true;
  WaitForThreadEnd(thread);
  EXPECT_EQ(g_calls, before + 1) << "the section in progress is stored, nothing after it";
  TIRVException::SetHandlingThreadId(0);
  SetTraceProvider(nullptr);
}

TEST_F(RecordTest, ChangeCallbackMayAskForTheCompleteReport) {
  // Completing in the calling thread: the callback runs inside the completion and gets what is there
  // instead of waiting for itself.
  TContext c{};
  auto r = Record(MakeOwnException("x"), &c);
  g_completeCalls = 0;
  r->RegisterBugReportCallback(AskingCallback, true);
  std::string report = r->CompleteBugReport();
  EXPECT_GT(g_completeCalls, 1);
  std::string crc;
  ASSERT_TRUE(FindHeaderValue(report, "callstack crc", crc));
  EXPECT_EQ(crc.size(), 31u);
  EXPECT_EQ(g_fromCallback, report) << "the last change event carries the complete report";
}

TEST_F(RecordTest, WithoutListThreadsOnlyTheCrashedThreadIsReported) {
  // The crashed thread is another one than the main thread, whose section is shown at first (on Windows
  // with the placeholder of its stack) and must not stay in the complete report.
  SetMainThreadIdForNames(CurrentThreadId());
  RegisterThreadName(CurrentThreadId(), "main thread");
  const uint32_t crashed = CurrentThreadId() + 4;
  TContext c{};
  c.Eip = 0x401234;
  ExceptionParams p;
  p.settings = settings_;
  p.object = MakeOwnException("x");
  p.address = 0x401234;
  p.context = &c;
  p.threadId = crashed;
  p.dontCompleteYet = true;
  auto r = NewExceptionRecord(p);
  r->SetListThreads(false);
  std::string early = r->BugReport(false);
  EXPECT_NE(early.find("\r\nmain thread ($"), std::string::npos) << early;
  std::string report = r->CompleteBugReport();
  EXPECT_EQ(report.find("will be calculated soon"), std::string::npos) << report;
  EXPECT_EQ(report.find("\r\nmain thread ($"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\nthread " + HexText(crashed)), std::string::npos) << report;
  UpdateThreadEntry(CurrentThreadId(), "");
  SetMainThreadIdForNames(0);
}

#ifdef _WIN32
int* volatile g_nowhere = nullptr;
TraceResult FaultingStack(const TraceOptions&) {
  *g_nowhere = 1;  // a processor fault inside a step, in code without unwind support for it
  return {};
}

TEST_F(RecordTest, ProcessorFaultInAStepGivesItsInternalErrorText) {
  SetTraceProvider(FaultingStack);
  TContext c{};
  c.Eax = 7;
  c.Eip = 0x401234;
  auto r = Record(MakeOwnException("x"), &c);
  std::string report = r->CompleteBugReport();
  SetTraceProvider(nullptr);
  EXPECT_NE(report.find(">> internal error in GetThreadReport"), std::string::npos) << report;
  // The handling went on: the other sections and the checksums are there.
  EXPECT_NE(report.find("\r\ncpu registers:\r\neax = 00000007"), std::string::npos) << report;
  std::string crc;
  ASSERT_TRUE(FindHeaderValue(report, "callstack crc", crc));
  EXPECT_EQ(crc.size(), 31u);
  // The thread is sound afterwards: C++ exceptions and further faults are handled as usual.
  EXPECT_THROW(throw std::runtime_error("after"), std::runtime_error);
  SetTraceProvider(FaultingStack);
  std::string again = Record(MakeOwnException("y"), &c)->CompleteBugReport();
  SetTraceProvider(nullptr);
  EXPECT_NE(again.find(">> internal error in GetThreadReport"), std::string::npos) << again;
}
#endif

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

#ifdef _WIN32
TEST_F(RecordTest, SavingIntoAFileBeyondFourGigabytesKeepsItsContent) {
  // A report file of more than 4 GB (sparse: a report at its start, then a hole, then a report): only its end
  // is read and the new report goes after it. Without a size limit nothing in front of it is lost; with one,
  // the oldest reports go and the last old one stays before the new one.
  ULARGE_INTEGER free{};
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("rvx_big_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  if (!GetDiskFreeSpaceExW(dir.wstring().c_str(), &free, nullptr, nullptr) || free.QuadPart < (8ull << 30))
    GTEST_SKIP() << "not enough disk space for a sparse file of 4 GB";
  std::wstring name = (dir / "bugreport.txt").wstring();
  const std::string first = "date/time : first\r\n\r\n";
  const std::string last = "\r\ndate/time : last\r\n\r\n";
  LARGE_INTEGER end;
  end.QuadPart = (4ll << 30) + 1000;
  auto writeBigFile = [&] {
    HANDLE f = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(f, first.data(), static_cast<DWORD>(first.size()), &written, nullptr);
    SetFilePointerEx(f, end, nullptr, FILE_BEGIN);
    WriteFile(f, last.data(), static_cast<DWORD>(last.size()), &written, nullptr);
    CloseHandle(f);
  };
  auto sizeAndHead = [&](std::string& head) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data));
    HANDLE f = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[64] = {};
    DWORD got = 0;
    ReadFile(f, buffer, sizeof buffer, &got, nullptr);
    CloseHandle(f);
    head.assign(buffer, got);
    return uint64_t(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  };
  std::string head;

  writeBigFile();
  auto unlimited = Record(MakeOwnException("big file"));
  unlimited->SetBugRepFileSize(0);
  ASSERT_TRUE(unlimited->SaveReport(name, true));
  EXPECT_GT(sizeAndHead(head), uint64_t(end.QuadPart) + last.size());
  EXPECT_EQ(head.substr(0, first.size()), first);

  writeBigFile();
  auto limited = Record(MakeOwnException("big file"));
  ASSERT_EQ(limited->BugRepFileSize(), 100000);
  ASSERT_TRUE(limited->SaveReport(name, true));
  uint64_t size = sizeAndHead(head);
  EXPECT_LT(size, 100000u);
  EXPECT_EQ(head.rfind("date/time : last\r\n\r\ndate/time", 0), 0u) << head;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
#endif

}  // namespace
}  // namespace rvx
