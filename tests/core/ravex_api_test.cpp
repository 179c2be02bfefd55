// The interface for programs: what a program registers through it reaches the registry and the report, the
// settings it reads and changes are the program's (or one exception's), and a report it raises itself goes
// through the whole handling.
#include "crash/ravex.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "core/settings_stream.h"
#include "crash/core/handlers.h"
#include "crash/core/pipeline.h"
#include "crash/core/report_plugins.h"

namespace {

constexpr rvx::ModuleHandle kProgram = 0x7400000;

// What goes to standard output (descriptor 1 and, on Windows, the standard output handle that follows it),
// byte for byte: the test framework's own capture reads it back in text mode on Windows, which drops the
// carriage returns of the line ends.
class StdoutBytes {
 public:
  StdoutBytes() {
    std::fflush(stdout);
    path_ = (std::filesystem::temp_directory_path() / ("rvx_stdout_" + std::to_string(getpid()))).string();
    file_ = std::fopen(path_.c_str(), "wb");
    saved_ = dup(1);
    if (file_) dup2(fileno(file_), 1);
  }
  ~StdoutBytes() { Take(); }
  std::string Take() {
    if (!file_) return {};
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    std::fclose(file_);
    file_ = nullptr;
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    in.close();
    std::remove(path_.c_str());
    return s.str();
  }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  int saved_ = -1;
};

std::string g_seen;
void Noting(ravex::Exception* e, bool&) { g_seen += "p:" + ravex::Message(e) + " "; }
void Annotating(ravex::Exception* e, bool&) {
  ravex::SetHeaderItem(e, "program note", "phase " + std::to_string(ravex::PhaseOf(e)));
  ravex::SetSection(e, "program state", "line 1\r\nline 2");
}
void ActionNoting(uint8_t action, ravex::Exception*, bool&) { g_seen += "a" + std::to_string(action) + " "; }

struct Watcher {
  std::string name;
  void OnException(ravex::Exception* e, bool& handled) { g_seen += name + ":" + ravex::ClassName(e) + " "; }
  void OnAction(uint8_t action, ravex::Exception*, bool& handled) {
    g_seen += name + std::to_string(action) + " ";
    handled = action == ravex::kHelp;
  }
};

class RavexInterface : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    rvx::ClearMemoryModules();
    rvx::SetMemoryModule(kProgram, L"C:\\lab\\program.exe");
    rvx::SetMemoryResource(kProgram, "ZAVEDO", rvxtest::SettingsStream()
                                                  .Bool("Enabled", true)
                                                  .Bool("NoSettings", false)
                                                  .Bool("AutoSave", false)
                                                  .Bool("ShowBtnVis", false)
                                                  .Text("Plugins", "")
                                                  .End());
    rvx::SetMainSettings(rvx::SettingsOfModule(kProgram));
    saved_ = rvx::GetRecordHooks();
    rvx::RecordHooks hooks = saved_;
    hooks.fireActionHandlers = rvx::FireActionHandlers;
    rvx::SetRecordHooks(hooks);
  }
  void TearDown() override {
    for (auto* h : {Noting, Annotating}) {
      ravex::UnregisterExceptionHandler(h);
      ravex::UnregisterHiddenExceptionHandler(h);
    }
    ravex::UnregisterActionHandler(ActionNoting);
    ravex::UnregisterExceptionHandler(ravex::Method<&Watcher::OnException>(&watcher_));
    ravex::UnregisterActionHandler(ravex::Method<&Watcher::OnAction>(&watcher_));
    rvx::SetRecordHooks(saved_);
    rvx::SetMainSettings(nullptr);
    rvx::ClearMemoryModules();
  }
  rvx::Ref<rvx::TIRVException> NewRecord(const char* message) {
    rvx::ExceptionParams p;
    p.settings = rvx::SettingsOfModule(kProgram);
    p.object = rvx::MakeOwnException(message, "EProgramError");
    p.dontCompleteYet = true;
    return rvx::NewExceptionRecord(p);
  }
  std::string Raise(const char* message) {
    StdoutBytes out;
    EXPECT_TRUE(ravex::ReportProblem(message, "EProgramError"));
    return out.Take();
  }

  Watcher watcher_{"w"};
  rvx::RecordHooks saved_;
};

TEST_F(RavexInterface, HandlersAndMethodsReachTheRegistryAndLeaveIt) {
  ravex::RegisterExceptionHandler(Noting, ravex::kFirstRound);
  ravex::RegisterExceptionHandler(ravex::Method<&Watcher::OnException>(&watcher_), ravex::kFirstRound);
  ravex::RegisterActionHandler(ActionNoting, ravex::Sync::MainThreadOrHandling);
  ravex::RegisterActionHandler(ravex::Method<&Watcher::OnAction>(&watcher_));
  ravex::RegisterHiddenExceptionHandler(Noting);
  auto record = NewRecord("broken");
  record->SetPhase(1);
  rvx::FireHandlers(rvx::kHandlerKindException, record.get(), false);
  EXPECT_EQ(g_seen, "w:EProgramError p:broken. ");  // methods first
  g_seen.clear();
  // The method handles "help": the procedure after it is not called. Mode 2 runs here: no main thread.
  EXPECT_EQ(rvx::FireActionHandlers(record.get(), ravex::kHelp, nullptr), rvx::kActionHandled);
  EXPECT_EQ(rvx::FireActionHandlers(record.get(), ravex::kContinue, nullptr), rvx::kActionGoesOn);
  EXPECT_EQ(g_seen, "w7 w8 a8 ");
  EXPECT_TRUE(rvx::HiddenExceptionHandlersRegistered());
  ravex::UnregisterHiddenExceptionHandler(Noting);
  EXPECT_FALSE(rvx::HiddenExceptionHandlersRegistered());
  ravex::UnregisterExceptionHandler(ravex::Method<&Watcher::OnException>(&watcher_));
  ravex::UnregisterActionHandler(ActionNoting);
  g_seen.clear();
  rvx::FireHandlers(rvx::kHandlerKindException, record.get(), false);
  rvx::FireActionHandlers(record.get(), ravex::kContinue, nullptr);
  EXPECT_EQ(g_seen, "p:broken. w8 ");
}

TEST_F(RavexInterface, SettingsOfTheProgramAndOfOneException) {
  EXPECT_FALSE(ravex::BoolSetting("AutoSave"));
  EXPECT_TRUE(ravex::SetBoolSetting("AutoSave", true));
  EXPECT_TRUE(ravex::BoolSetting("AutoSave"));
  EXPECT_TRUE(ravex::SetTextSetting("MailAddr", "help@example.org"));
  EXPECT_EQ(ravex::TextSetting("MailAddr"), "help@example.org");
  EXPECT_TRUE(ravex::SetIntSetting("BugRepFileSize", 4096));
  EXPECT_EQ(ravex::IntSetting("BugRepFileSize"), 4096);
  // One exception's override stays its own.
  auto record = NewRecord("x");
  EXPECT_EQ(ravex::TextSetting(record.get(), "MailAddr"), "help@example.org");
  EXPECT_TRUE(ravex::SetTextSetting(record.get(), "MailAddr", "other@example.org"));
  EXPECT_EQ(ravex::TextSetting(record.get(), "MailAddr"), "other@example.org");
  EXPECT_EQ(ravex::TextSetting("MailAddr"), "help@example.org");
  // Placeholders come expanded.
  EXPECT_TRUE(ravex::SetTextSetting(record.get(), "MailSubj", "[%exceptClass%]"));
  EXPECT_EQ(ravex::TextSetting(record.get(), "MailSubj"), "[EProgramError]");
  // Not armed: nothing to read or change, and nothing fails.
  rvx::SetMainSettings(nullptr);
  EXPECT_FALSE(ravex::SetBoolSetting("AutoSave", true));
  EXPECT_EQ(ravex::TextSetting("MailAddr"), "");
  EXPECT_FALSE(ravex::ReportProblem("nobody listens"));
  EXPECT_EQ(ravex::ProblemReport("nobody listens"), "");
  // Reading an exception that is not there gives empty values.
  EXPECT_EQ(ravex::Message(nullptr), "");
  EXPECT_EQ(ravex::Address(nullptr), 0u);
  ravex::SetHeaderItem(nullptr, "a", "b");
}

TEST_F(RavexInterface, PluginsOfEveryProducerFormReachTheReportWhenEnabled) {
  ravex::AddReportPlugin("plain", "a text", [] { return std::string("plain text"); });
  ravex::AddReportPlugin("wide", "a UTF-16 text", [] { return std::wstring(L"wide text"); });
  ravex::AddReportPlugin("reader", "reads the exception",
                         [](ravex::Exception* e) { return "class " + ravex::ClassName(e); });
  ravex::AddReportPlugin("wide reader", "reads the exception, UTF-16", [](ravex::Exception* e) {
    return std::wstring(L"at ") + std::to_wstring(ravex::ThreadId(e) != 0);
  }, false);
  auto record = NewRecord("x");
  EXPECT_TRUE(rvx::ChosenReportPlugins(ravex::TextSetting("Plugins"), true).empty());
  for (const char* name : {"plain", "wide", "reader", "wide reader"}) EXPECT_TRUE(ravex::EnablePlugin(name));
  auto sections = rvx::ChosenReportPlugins(ravex::TextSetting("Plugins"), true);
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(rvx::ReportPluginText(sections[0], record.get()), "plain text");
  EXPECT_EQ(rvx::ReportPluginText(sections[1], record.get()), "wide text");
  EXPECT_EQ(rvx::ReportPluginText(sections[2], record.get()), "class EProgramError");
  auto items = rvx::ChosenReportPlugins(ravex::TextSetting("Plugins"), false);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(rvx::ReportPluginText(items[0], record.get()), "at 1");
  EXPECT_TRUE(ravex::EnablePlugin("wide", false));
  EXPECT_EQ(ravex::TextSetting("Plugins"), "plain|reader|wide reader");
  for (const char* name : {"plain", "wide", "reader", "wide reader"}) ravex::RemoveReportPlugin(name);
  EXPECT_TRUE(rvx::ChosenReportPlugins("plain|wide|reader|wide reader", true).empty());
}

TEST_F(RavexInterface, AProblemRaisedByTheProgramGoesThroughTheWholeHandling) {
  ravex::RegisterExceptionHandler(Noting, ravex::kFirstRound);
  ravex::RegisterExceptionHandler(Annotating, ravex::kReportPrepared);
  ravex::RegisterActionHandler(ActionNoting);
  ravex::AddReportPlugin("program", "the program's section", [](ravex::Exception* e) { return ravex::Message(e); });
  ravex::EnablePlugin("program");
  ravex::SetTextSetting("ExceptMsg", "program: %exceptMsg%");
  std::string out = Raise("disk full");
  // The console form of the exception; a console program continues.
  EXPECT_EQ(out, "program: disk full.\r\n");
  EXPECT_EQ(g_seen, "p:disk full. a8 ");
  // Composed only: the handlers' items and the plug-in are in the report.
  std::string report = ravex::ProblemReport("quota exceeded", "EQuota");
  EXPECT_NE(report.find("EQuota"), std::string::npos) << report;
  EXPECT_NE(report.find("program note"), std::string::npos) << report;
  EXPECT_NE(report.find("phase 2"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\nprogram state:\r\nline 1\r\nline 2"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\nprogram:\r\nquota exceeded."), std::string::npos) << report;
  // A caught exception object of the program.
  g_seen.clear();
  StdoutBytes caught;
  EXPECT_TRUE(ravex::ReportException(std::runtime_error("bad input")));
  out = caught.Take();
  EXPECT_EQ(out, "program: bad input.\r\n");
  EXPECT_EQ(g_seen, "p:bad input. a8 ");
  ravex::RemoveReportPlugin("program");
}

// A report raised from inside the handling would wait for itself: it is refused, not claimed as done.
bool g_raisedInside = true;
void RaisingInside(ravex::Exception*, bool&) { g_raisedInside = ravex::ReportProblem("from a handler"); }

TEST_F(RavexInterface, ARaiseFromInsideTheHandlingIsRefused) {
  uint32_t main = rvx::MainThreadId();
  rvx::SetMainThreadIdForNames(rvx::CurrentThreadId());
  ravex::RegisterExceptionHandler(RaisingInside, ravex::kFirstRound, ravex::Sync::MainThread);
  auto record = NewRecord("outer");
  record->SetPhase(1);
  rvx::TFireHandlersParams p;  // as the main thread's routine runs it
  p.record = record.get();
  p.callSync = true;
  testing::internal::CaptureStdout();
  rvx::MainThreadHandlersMessage(true, &p);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(g_raisedInside);
  ravex::UnregisterExceptionHandler(RaisingInside);
  rvx::SetMainThreadIdForNames(main);
}

}  // namespace
