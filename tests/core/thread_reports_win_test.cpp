// Thread reports on the running process (under Wine): the thread list from the native call, the state of
// another thread, the walker on this thread's own stack, and the built-in plug-ins' sections.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "crash/core/report_plugins.h"
#include "crash/core/thread_stack.h"
#include "crash/stack/stack_trace.h"
#include "crash/stack/text.h"

namespace {
using namespace rvx;

DWORD WINAPI Waiter(void* event) { return WaitForSingleObject(event, INFINITE); }

TEST(ThreadReportsWin, ThreadListAndStateOfAnotherThread) {
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 0, Waiter, stop, 0, &id);
  Sleep(50);
  std::vector<uint32_t> ids = ListThreadIds();
  EXPECT_NE(std::find(ids.begin(), ids.end(), GetCurrentThreadId()), ids.end());
  EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end());
  ThreadStateInfo state;
  ASSERT_TRUE(ThreadState(id, state));
  EXPECT_GT(state.stackTop, state.stackBottom);
  EXPECT_FALSE(state.suspended);
  // The waiting thread's stack holds return addresses: the cheap collection finds them.
  TDAPreStackItem candidates;
  EXPECT_GT(CollectStackCandidates(state.ebp, state.stackTop, state.stackBottom, candidates, false, 0), 0);
  SetEvent(stop);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
  CloseHandle(stop);
}

DWORD WINAPI NamedAndGone(void*) {
  UpdateThreadEntry(GetCurrentThreadId(), "short-lived worker", 1234, 0x401000);
  return 0;  // ends without taking its entry away, as a thread ended from inside its body does
}

TEST(ThreadReportsWin, AThreadThatEndedLeavesNoNameForItsId) {
  DWORD id = 0;
  HANDLE h = CreateThread(nullptr, 0, NamedAndGone, nullptr, 0, &id);
  WaitForSingleObject(h, INFINITE);
  CloseHandle(h);
  uint32_t creator = 1, creatorThread = 1;
  EXPECT_EQ(ThreadTitle(id, true, &creator, &creatorThread), "thread " + HexText(id));
  EXPECT_EQ(creator, 0u);
  EXPECT_EQ(creatorThread, 0u);
  // A thread that gets the id next is entered by its creator alone: it takes nothing of the dead one.
  UpdateThreadEntry(id, "", 77, 0x402000);
  EXPECT_EQ(ThreadTitle(id, true, &creator, &creatorThread), "thread " + HexText(id));
  EXPECT_EQ(creator, 0x402000u);
  EXPECT_EQ(creatorThread, 77u);
  UpdateThreadEntry(id, "");
  // A living thread keeps its name.
  UpdateThreadEntry(GetCurrentThreadId(), "test thread");
  EXPECT_EQ(ThreadTitle(GetCurrentThreadId(), true), "test thread (" + HexText(GetCurrentThreadId()) + ")");
  UpdateThreadEntry(GetCurrentThreadId(), "");
}

__attribute__((noinline)) TraceResult TraceHere() {
  TraceOptions o;  // this thread, from the caller of TraceStack outward
  return TraceStack(o);
}

TEST(ThreadReportsWin, WalkOfTheCallingThreadStartsAtTheCaller) {
  TraceResult r = TraceHere();
  ASSERT_FALSE(r.text.empty());
  // Without symbol data only the top line carries no name; it lies in this program.
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string name(FileNamePart(exe));
  EXPECT_NE(r.text.find(name), std::string::npos) << r.text;
  EXPECT_EQ(r.text.find(">> internal error"), std::string::npos) << r.text;
  EXPECT_EQ(StackLineText(0x10, true, true), "00000010 +0 ???");
}

TEST(ThreadReportsWin, BuiltInPluginsDescribeTheProcess) {
  std::string modules = ModulesPluginText();
  EXPECT_NE(modules.find("kernel32.dll"), std::string::npos) << modules;
  std::string processes = ProcessesPluginText();
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  EXPECT_NE(processes.find(FileNamePart(exe)), std::string::npos) << processes;
  HardwarePluginText();  // whatever the system lists, it never faults
  InstallReportPlugins();
  EXPECT_EQ(ChosenReportPlugins("modules|processes|hardware", true).size(), 3u);
  EXPECT_NE(GetDisassemblyHook(), nullptr);
  RemoveReportPlugins();
  EXPECT_TRUE(ChosenReportPlugins("modules|processes|hardware", true).empty());
  EXPECT_EQ(GetDisassemblyHook(), nullptr);
}

}  // namespace
