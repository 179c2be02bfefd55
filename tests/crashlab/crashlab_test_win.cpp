// Runs every crashlab scenario in a fresh folder under a time limit and checks standard output, the report
// file and the exit code.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include <string>

#include "crash/core/hooks.h"
#include "crashlab/crashlab_run.h"

namespace {

// A saved report: header items in order, aligned, with a complete checksum and the thread sections.
void CheckReport(const std::string& report, const std::string& cls, const std::string& message) {
  ASSERT_FALSE(report.empty());
  EXPECT_EQ(report.rfind("date/time", 0), 0u);
  const char* order[] = {"date/time", "computer name", "user name", "operating system", "physical memory",
                         "process id", "executable", "exec. date/time", "compiled with", "Ravex version",
                         "callstack crc", "exception number", "exception class"};
  size_t last = 0;
  for (const char* n : order) {
    size_t at = std::string(n) == "date/time" ? 0 : report.find(std::string("\r\n") + n);
    ASSERT_NE(at, std::string::npos) << n << "\n" << report;
    EXPECT_GE(at, last) << n;
    last = at;
  }
  size_t column = report.find(": ");
  size_t end = report.find("\r\n\r\n");
  for (size_t p = 0; p < end;) {
    size_t e = report.find("\r\n", p);
    EXPECT_EQ(report.find(": ", p), p + column) << report.substr(p, e - p);
    p = e + 2;
  }
  EXPECT_EQ(Value(report, "callstack crc").size(), 31u) << report;
  EXPECT_EQ(Value(report, "executable"), "crashlab.exe");
  EXPECT_EQ(Value(report, "Ravex version"), "3.0o");
  EXPECT_EQ(Value(report, "exception class"), cls);
  if (!message.empty()) {
    EXPECT_NE(Value(report, "exception message").find(message), std::string::npos) << report;
  }
  EXPECT_NE(report.find("\r\n\r\nmain thread ($"), std::string::npos) << report;
  EXPECT_EQ(report.substr(report.size() - 4), "\r\n\r\n");
}

void CheckFault(const char* scenario, const std::string& message) {
  Outcome o = RunLab(scenario);
  ASSERT_TRUE(o.finished) << scenario;
  EXPECT_EQ(o.exitCode, 1u) << o.out;
  size_t line = o.out.find("crashlab: RvxException: ");
  ASSERT_NE(line, std::string::npos) << o.out;
  EXPECT_LT(o.out.find(message, line), o.out.find("\r\n", line)) << o.out;
  EXPECT_EQ(o.out.find("survived"), std::string::npos);
  CheckReport(o.report, "RvxException", message);
  EXPECT_NE(o.report.find("\r\ncpu registers:\r\neax = "), std::string::npos) << o.report;
  EXPECT_NE(o.report.find("\r\nstack dump:\r\n"), std::string::npos);
  // The console shows the same report.
  EXPECT_NE(o.out.find(o.report.substr(0, o.report.find("\r\n"))), std::string::npos);
}

// A scenario that the program gets through: it ends by itself with exit code 0.
Outcome RunToEnd(const std::string& scenario) {
  Outcome o = RunLab(scenario);
  EXPECT_TRUE(o.finished) << scenario;
  EXPECT_EQ(o.exitCode, 0u) << scenario << "\n" << o.out;
  return o;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(Crashlab, ProcessorFaults) {
  CheckFault("av-read", "Access violation at address");
  CheckFault("av-write", "Write of address 00000000");
  CheckFault("av-exec", "Access Violation");
  CheckFault("div-zero", "Integer division by zero");
  CheckFault("illegal", "External exception c000001d");
  CheckFault("privileged", "Privileged instruction");
  CheckFault("stack-overflow", "Stack overflow");
}

TEST(Crashlab, StackOverflowNamesTheThreadThatOverflowed) {
  // The main thread: its section comes first, not the helper's that handed the fault over.
  Outcome m = RunLab("stack-overflow");
  ASSERT_TRUE(m.finished);
  size_t first = m.report.find("\r\n\r\n");
  EXPECT_TRUE(StartsAt(m.report, first, "\r\n\r\nmain thread ($")) << m.report;
  // Another thread: named, and ended with -1 while the program goes on.
  Outcome t = RunToEnd("thread-overflow");
  size_t at = t.out.find("overflowing thread $");
  ASSERT_NE(at, std::string::npos) << t.out;
  std::string id = t.out.substr(at + 19, t.out.find("\r\n", at) - at - 19);
  first = t.report.find("\r\n\r\n");
  EXPECT_TRUE(StartsAt(t.report, first, "\r\n\r\nthread " + id)) << id << "\n" << t.report;
  EXPECT_NE(Value(t.report, "exception message").find("Stack overflow"), std::string::npos) << t.report;
  EXPECT_NE(t.out.find("thread exit code ffffffff"), std::string::npos) << t.out;
  EXPECT_NE(t.out.find("survived"), std::string::npos) << t.out;
}

TEST(Crashlab, FaultsInsideTheHandlingAreContained) {
  // A handler that faults: the handling goes on, the report is saved and the program continues.
  Outcome h = RunToEnd("handler-fault");
  EXPECT_NE(h.out.find("thread exit code ffffffff"), std::string::npos) << h.out;
  EXPECT_NE(h.out.find("survived"), std::string::npos) << h.out;
  CheckReport(h.report, "ELabError", "thread failed.");
  // An exception whose message faults when it is read: reported without a message.
  Outcome m = RunToEnd("message-fault");
  EXPECT_NE(m.out.find("survived"), std::string::npos) << m.out;
  CheckReport(m.report, "EUnreadable", "");
  EXPECT_EQ(Value(m.report, "exception message"), "") << m.report;
}

TEST(Crashlab, FaultingWorkItemLeavesThePoolThreadRunning) {
  Outcome o = RunToEnd("work-item-fault");
  EXPECT_NE(o.out.find("worker thread alive"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
  EXPECT_NE(Value(o.report, "exception message").find("Write of address 00000000"), std::string::npos) << o.report;
}

TEST(Crashlab, ShowingAnExceptionWithoutObjectIsReported) {
  Outcome o = RunToEnd("show-no-object");
  EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
  EXPECT_EQ(Value(o.report, "exception message"), "shown without an object.") << o.out << o.report;
}

TEST(Crashlab, UncaughtExceptions) {
  struct Case {
    const char* scenario;
    const char* cls;
    const char* message;
  } cases[] = {{"throw-own", "ELabError", "our own error."},
               {"throw-std", "std::runtime_error", "standard error."},
               {"throw-int", "int", ""},
               {"dtor-throw", "ELabError", "first."}};
  for (const auto& c : cases) {
    Outcome o = RunLab(c.scenario);
    ASSERT_TRUE(o.finished) << c.scenario;
    EXPECT_EQ(o.exitCode, 1u) << c.scenario << "\n" << o.out;
    CheckReport(o.report, c.cls, c.message);
    EXPECT_EQ(o.report.find("cpu registers"), std::string::npos);
  }
}

TEST(Crashlab, RuntimeErrors) {
  struct Case {
    const char* scenario;
    const char* message;
  } cases[] = {{"abort", "Abnormal program termination."}, {"pure-virtual", "Pure virtual function call."}};
  for (const auto& c : cases) {
    Outcome o = RunLab(c.scenario);
    ASSERT_TRUE(o.finished) << c.scenario;
    EXPECT_EQ(o.exitCode, 1u) << c.scenario << "\n" << o.out;
    CheckReport(o.report, "RvxException", c.message);
  }
}

TEST(Crashlab, ThreadsFailAndTheProgramGoesOn) {
  for (const char* s : {"thread-throw", "thread-fault"}) {
    Outcome o = RunLab(s);
    ASSERT_TRUE(o.finished) << s;
    EXPECT_EQ(o.exitCode, 0u) << s << "\n" << o.out;
    EXPECT_NE(o.out.find("thread exit code ffffffff"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("survived"), std::string::npos);
    ASSERT_FALSE(o.report.empty()) << s;
    EXPECT_NE(o.report.find(">> created by main thread ($"), std::string::npos) << o.report;
  }
  for (const char* s : {"std-thread", "work-item"}) {
    Outcome o = RunLab(s);
    ASSERT_TRUE(o.finished) << s;
    EXPECT_EQ(o.exitCode, 0u) << s << "\n" << o.out;
    EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
    EXPECT_NE(Value(o.report, "exception message").find("failed."), std::string::npos) << s << "\n" << o.report;
  }
}

TEST(Crashlab, AnExceptionCaughtByTheFrameworkShowsWhereItWasThrown) {
  // By the time the catch block hands it over, the unwinder and the cleanups have reused the stack below
  // the catch: the report still shows the program's frames from the throw outward, none of the reporter's.
  Outcome o = RunToEnd("caught-by-framework");
  CheckReport(o.report, "ELabError", "click failed.");
  size_t first = o.report.find("\r\n\r\nmain thread ($");
  ASSERT_NE(first, std::string::npos) << o.report;
  std::string stack = o.report.substr(first + 4, o.report.find("\r\n\r\n", first + 4) - first - 4);
  size_t thrown = stack.find("ThrowFromClickDepth"), handler = stack.find("ClickHandler"),
         dispatch = stack.find("DispatchClick"), run = stack.find("RunCaughtByTheFramework");
  ASSERT_NE(thrown, std::string::npos) << stack;
  size_t topLine = stack.find("\r\n") + 2;
  EXPECT_LT(thrown, stack.find("\r\n", topLine)) << "the throw is the top line\n" << stack;
  EXPECT_LT(thrown, handler) << stack;
  EXPECT_LT(handler, dispatch) << stack;
  EXPECT_LT(dispatch, run) << stack;
  EXPECT_EQ(stack.find(" rvx."), std::string::npos) << stack;
}

TEST(Crashlab, ThreadsOfEveryRoadToTheSystemAreWrapped) {
  // The C runtime's thread start, the system library's entry point and std::thread reach thread creation
  // without this program's import of CreateThread: a fault in such a thread ends that thread alone.
  for (const char* s : {"beginthreadex-fault", "kernelbase-thread-fault", "std-thread-fault"}) {
    Outcome o = RunLab(s);
    ASSERT_TRUE(o.finished) << s;
    EXPECT_EQ(o.exitCode, 0u) << s << "\n" << o.out;
    EXPECT_NE(o.out.find("survived"), std::string::npos) << s << "\n" << o.out;
    EXPECT_NE(Value(o.report, "exception message").find("Write of address 00000000"), std::string::npos)
        << s << "\n" << o.report;
    EXPECT_NE(o.report.find(">> created by main thread ($"), std::string::npos) << s << "\n" << o.report;
    if (std::string(s) != "std-thread-fault") {
      EXPECT_NE(o.out.find("thread exit code ffffffff"), std::string::npos) << s << "\n" << o.out;
    }
  }
}

TEST(Crashlab, TwentyThreadsAtOnceMergeIntoOneReport) {
  // Every thread's fault context must reach its own record: a shared copy let one thread's record walk the
  // stack of another, already ended thread, so that report stopped at the first frame and was not merged.
  Outcome o = RunLab("threads20", 120000);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.exitCode, 0u) << o.out;
  EXPECT_NE(o.out.find("failed threads 20"), std::string::npos) << o.out;
  EXPECT_EQ(Value(o.report, "count"), "20") << o.report;
}

TEST(Crashlab, ContinuedExceptionsCountUp) {
  Outcome o = RunLab("loop100", 300000);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.exitCode, 0u);
  EXPECT_NE(o.out.find("survived"), std::string::npos);
  CheckReport(o.report, "ELabError", "continued exception.");
  EXPECT_EQ(Value(o.report, "count"), "100");
  // "count" right after "callstack crc", aligned with it.
  size_t crc = o.report.find("\r\ncallstack crc");
  size_t next = o.report.find("\r\n", crc + 2);
  EXPECT_EQ(o.report.compare(next, 7, "\r\ncount"), 0);
  EXPECT_EQ(o.report.find(": ", next + 2) - next, o.report.find(": ", crc + 2) - crc);
}

TEST(Crashlab, SilentAndFilteredExceptions) {
  Outcome a = RunToEnd("eabort");
  EXPECT_EQ(a.out, "crashlab: eabort\r\nsurvived\r\n");
  EXPECT_TRUE(a.report.empty());
  Outcome d = RunToEnd("dbedit");
  EXPECT_NE(d.out.find("crashlab: EDBEditError: 'abc' is not a valid integer value."), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("survived"), std::string::npos);
  EXPECT_TRUE(d.report.empty()) << d.report;
}

TEST(Crashlab, FailedSynchronisedCallIsReportedNotPassedOn) {
  Outcome o = RunToEnd("synchronize");
  EXPECT_NE(o.out.find("crashlab: ELabError: synchronised call failed"), std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("worker: no exception\r\nsurvived"), std::string::npos) << o.out;
  CheckReport(o.report, "ELabError", "synchronised call failed.");
  EXPECT_NE(o.out.find("handler: 10 synchronised call failed"), std::string::npos) << o.out;

  Outcome a = RunToEnd("synchronize-abort");
  EXPECT_EQ(a.out, "crashlab: synchronize-abort\r\nworker: EAbort\r\nsurvived\r\n");
  EXPECT_TRUE(a.report.empty()) << a.report;
}

TEST(Crashlab, HiddenExceptionsReachTheirHandlers) {
  Outcome o = RunToEnd("hidden");
  EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
  // Swallowed, and thrown again then swallowed: once each. Reported by the program: once, not again when
  // its catch ends. Kept by an exception_ptr: never.
  EXPECT_EQ(Count(o.out, "handler: 15 swallowed error"), 1u) << o.out;
  EXPECT_EQ(Count(o.out, "handler: 15 thrown again"), 1u) << o.out;
  EXPECT_EQ(Count(o.out, "handler: 5 reported by the program"), 1u) << o.out;
  EXPECT_EQ(Count(o.out, "handler: "), 3u) << o.out;
  EXPECT_EQ(o.out.find("kept"), std::string::npos) << o.out;
  CheckReport(o.report, "ELabError", "swallowed error.");

  Outcome n = RunToEnd("hidden-none");
  EXPECT_EQ(Count(n.out, "handler: "), 1u) << n.out;
  EXPECT_NE(n.out.find("handler: 5 reported by the program"), std::string::npos) << n.out;
  EXPECT_NE(n.out.find("survived"), std::string::npos) << n.out;
}

TEST(Crashlab, HiddenExceptionOfTheMessageLoopWhileTheMainThreadWaits) {
  Outcome o = RunToEnd("hidden-while-waiting");
  EXPECT_NE(o.out.find("handler: 5 reported while a message waits"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("handler: 15 swallowed while waiting"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
}

TEST(Crashlab, SynchronousHandlersRunOnTheMainThreadWhenItAnswers) {
  Outcome o = RunToEnd("sync-handler");
  EXPECT_NE(o.out.find("synchronous handler on the main thread: 16"), std::string::npos) << o.out;
  // The main thread does not take messages while it waits: mode 2 runs in the firing thread, mode 1 not at all.
  Outcome u = RunToEnd("sync-handler-unreachable");
  EXPECT_NE(u.out.find("synchronous handler on the firing thread: 16"), std::string::npos) << u.out;
  Outcome m = RunToEnd("sync-handler-only-main");
  EXPECT_EQ(m.out.find("synchronous handler"), std::string::npos) << m.out;
  EXPECT_NE(m.out.find("thread exit code ffffffff"), std::string::npos) << m.out;
}

TEST(Crashlab, ReportCompleteHandlerRunsOnceWhenTheReportIsDone) {
  Outcome o = RunToEnd("report-complete-handler");
  EXPECT_EQ(Count(o.out, "report-complete handler: "), 1u) << o.out;
  EXPECT_NE(o.out.find("report-complete handler: phase 4, source 16"), std::string::npos) << o.out;
  EXPECT_FALSE(o.report.empty());
}

TEST(Crashlab, ProgramsTakePartThroughThePublicInterface) {
  Outcome o = RunToEnd("public-interface");
  EXPECT_NE(o.out.find("plug-in enabled 1"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("AutoSave on"), std::string::npos) << o.out;
  // The changed message, then "continue" (a console program) and the automatic save reach the method first and,
  // past the procedure that faults, the procedure after it.
  EXPECT_NE(o.out.find("lab says: raised by the program."), std::string::npos) << o.out;
  size_t cont = o.out.find("action method: 8 raised by the program.");
  ASSERT_NE(cont, std::string::npos) << o.out;
  EXPECT_NE(o.out.find("action procedure: 8", cont), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("action method: 1 raised by the program."), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("raised 1"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("composed report: lab section 1, note 1"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
  // Both reports were saved automatically (the composed one too), each with the handler's note.
  EXPECT_EQ(Value(o.report, "exception class"), "ELabProblem") << o.report;
  EXPECT_NE(o.report.find("raised by the program."), std::string::npos) << o.report;
  EXPECT_EQ(Value(o.report, "lab note"), "noted in phase 2") << o.report;
}

TEST(Crashlab, ThreadNamingExceptionNamesTheThread) {
  Outcome o = RunToEnd("thread-name");
  EXPECT_NE(o.out.find("named\r\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("thread exit code ffffffff"), std::string::npos) << o.out;
  size_t worker = o.report.find("\r\n\r\nlab worker ($");
  ASSERT_NE(worker, std::string::npos) << o.report;
  EXPECT_NE(o.report.find("\r\n\r\nidle helper ($"), std::string::npos) << o.report;
  // The request with an empty name did not drop the faulting thread's entry: its creator is still known.
  std::string section = o.report.substr(worker + 4, o.report.find("\r\n\r\n", worker + 4) - worker - 4);
  EXPECT_NE(section.find("\r\n>> created by main thread ("), std::string::npos) << section;
}

TEST(Crashlab, RestartedInstanceTakesOverFromTheOldOne) {
  Outcome o = RunToEnd("restart-handover");
  size_t at = o.out.find("handed over to ");
  ASSERT_NE(at, std::string::npos) << o.out;
  DWORD pid = std::strtoul(o.out.c_str() + at + 15, nullptr, 10);
  // The new instance shares the output file; it ends soon after the old one.
  if (HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, pid)) {
    EXPECT_EQ(WaitForSingleObject(child, 60000), WAIT_OBJECT_0);
    CloseHandle(child);
  }
  std::string out = ReadAll(Folder("restart-handover") + "\\stdout.txt");
  EXPECT_NE(out.find("crashlab: restarted\r\nrestarted: old process ended, handle closed, temporary folder removed\r\n"
                     "history 13000000000 13000000001 13000000002 13000000003 13000000004 13000000005 13000000006 "
                     "13000000007 13000000008 13000000009\r\nsurvived"),
            std::string::npos)
      << out;
  Outcome n = RunLab("restarted");
  ASSERT_TRUE(n.finished);
  EXPECT_NE(n.out.find("not restarted"), std::string::npos) << n.out;
}

TEST(Crashlab, TraceFromOutsideFillsTheMapping) {
  Outcome o = RunToEnd("trace-100");
  EXPECT_NE(o.out.find("trace returned 0\r\ntrace length 99, next byte x\r\ntrace begins date/time"), std::string::npos)
      << o.out;
  Outcome f = RunLab("trace-full");
  ASSERT_TRUE(f.finished);
  size_t at = f.out.find("trace length ");
  ASSERT_NE(at, std::string::npos) << f.out;
  int length = std::atoi(f.out.c_str() + at + 13);
  EXPECT_GT(length, 1000) << f.out;  // the whole report of a few threads
  EXPECT_LT(length, 65535) << f.out;
  EXPECT_NE(f.out.find("trace begins date/time"), std::string::npos) << f.out;
  EXPECT_TRUE(f.report.empty()) << f.report;  // a trace is not an incident
  // A size beyond the mapping (4096 bytes) is cut to what the mapping holds.
  Outcome big = RunToEnd("trace-oversize");
  EXPECT_NE(big.out.find("trace returned 0\r\ntrace length 4095, next byte -"), std::string::npos) << big.out;
}

TEST(Crashlab, FaultWhileTheLoaderLockIsHeldIsHandledInTheFaultingThread) {
  // Handing the fault to the handling thread would hang there: a new thread cannot start while the lock is held.
  for (const char* s : {"blocked-self", "blocked-other"}) {
    Outcome o = RunLab(s);
    ASSERT_TRUE(o.finished) << s << "\n" << o.out;
    EXPECT_EQ(o.exitCode, 1u) << o.out;
    EXPECT_NE(o.out.find("loader lock held\r\ncrashlab: RvxException: Access violation"), std::string::npos) << o.out;
    CheckReport(o.report, "RvxException", "Write of address 00000000");
  }
}

TEST(Crashlab, ProgramFileCarriesItsChecksum) {
  std::string file = ReadAll("crashlab.exe");
  size_t offset = 0;
  auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  ASSERT_TRUE(rvx::PeChecksumOffset(bytes, file.size(), offset));
  uint32_t stored;
  memcpy(&stored, file.data() + offset, 4);
  EXPECT_NE(stored, 0u);
  EXPECT_EQ(stored, rvx::ImageChecksum(bytes, file.size(), offset));
}

}  // namespace

namespace {
// The program carries its symbol data: routine, unit and line of its own code, and a disassembly listing
// that names call targets and shows source lines.
TEST(Crashlab, ListingWithRoutineNamesAndLines) {
  Outcome o = RunToEnd("listing");
  size_t at = o.out.find("defined at line ");
  ASSERT_NE(at, std::string::npos) << o.out;
  std::string line = o.out.substr(at + 16, o.out.find_first_of("\r\n", at) - at - 16);
  EXPECT_NE(o.out.find("symbol: crashlab_win.cpp " + line + " ListedRoutine"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("crashlab_win.cpp.ListedHelper"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find(" " + line + " "), std::string::npos) << o.out;
}
}  // namespace

namespace {

TEST(Crashlab, ThreadsOfALibraryLoadedLaterAreWrapped) {
  Outcome o = RunToEnd("late-library-thread");
  EXPECT_EQ(o.out.find("not loaded"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("handler: 16 "), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("thread exit code ffffffff"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
  EXPECT_NE(Value(o.report, "exception message").find("Write of address 00000000"), std::string::npos) << o.report;
  EXPECT_NE(o.report.find("crashlab_late.dll"), std::string::npos) << o.report;
}

TEST(Crashlab, FrameworkThreadObjectsReportWithTheirOwnSource) {
  Outcome f = RunToEnd("thread-object-fault");
  EXPECT_NE(f.out.find("handler: 17 "), std::string::npos) << f.out;
  EXPECT_EQ(f.out.find("handler: 16 "), std::string::npos) << f.out;
  EXPECT_NE(f.out.find("thread object returned 0, without a fatal exception"), std::string::npos) << f.out;
  EXPECT_NE(Value(f.report, "exception message").find("Write of address 00000000"), std::string::npos) << f.report;
  // The report's thread was created by the scenario, not inside the framework's thread class.
  EXPECT_NE(f.report.find(">> created by main thread"), std::string::npos) << f.report;

  Outcome t = RunToEnd("thread-object-throw");
  EXPECT_NE(t.out.find("handler: 17 thread object failed"), std::string::npos) << t.out;
  EXPECT_NE(t.out.find("without a fatal exception"), std::string::npos) << t.out;
  CheckReport(t.report, "ELabError", "thread object failed.");
  // The thread's stack goes from the program's code to the system's start, without the crash reporter's
  // wrappers and guards between them.
  for (const Outcome* o : {&f, &t}) {
    const std::string stack = o->report.substr(0, o->report.find(">> created by"));
    for (const char* own : {"RunGuardedThreadBody", "rvx_guard", "RunFaultGuarded", "RunWrapped", "ExecuteWrapper",
                            "ThreadEntryWrapper"})
      EXPECT_EQ(stack.find(own), std::string::npos) << own << "\n" << stack;
  }
  EXPECT_NE(t.report.find("TLabThread.Execute\r\n"), std::string::npos) << t.report;
}

TEST(Crashlab, ThreadObjectsOfOneClassShareOneExecuteStub) {
  Outcome o = RunToEnd("thread-objects-one-class");
  EXPECT_NE(o.out.find("thread objects returned 7 7"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("execute patches: 1\r\n"), std::string::npos) << o.out;
}

}  // namespace

namespace {

TEST(Crashlab, TheFrameworksLastResortForExceptionsIsReported) {
  Outcome o = RunToEnd("show-exception-message");
  EXPECT_NE(o.out.find("handler: 3 shown by the last resort"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
  CheckReport(o.report, "ELabError", "shown by the last resort.");
}

TEST(Crashlab, FrameworkHooksSayWhetherTheyAreInPlace) {
  Outcome o = RunToEnd("framework-hooks");
  EXPECT_NE(o.out.find("installed again: yes\r\n"), std::string::npos) << o.out;
  ASSERT_NE(o.out.find("taken over by another tool: yes\r\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("installed over it: no\r\n"), std::string::npos) << o.out;
}

}  // namespace
