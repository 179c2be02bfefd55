// Thread report pieces that need no live process: the creator line around a computed trace, the process
// list parser, and the report plug-ins' registry and texts.
#include <gtest/gtest.h>

#include <cstring>

#include "crash/core/process_list.h"
#include "crash/core/report_plugins.h"
#include "crash/core/thread_stack.h"

namespace {
using namespace rvx;

TraceOptions g_seen;
std::string g_text;
TraceResult FakeTrace(const TraceOptions& o) {
  g_seen = o;
  TraceResult r;
  r.text = g_text;
  return r;
}

TEST(ThreadReports, CreatorLineGoesBeforeTheCreatorsCallSite) {
  SetTraceProvider(FakeTrace);
  UpdateThreadEntry(0xa10, "main thread");
  TThreadStack t;
  t.creatorAddress = 0x401234;
  t.creatorThreadId = 0xa10;
  t.candidates.resize(3);
  g_text = "00402000 lab.exe work.cpp 12 Work\r\n00401234 lab.exe main.cpp 40 main";
  TraceResult r = ThreadStackText(t, {});
  EXPECT_EQ(r.text,
            "00402000 lab.exe work.cpp 12 Work\r\n>> created by main thread ($a10) at:\r\n"
            "00401234 lab.exe main.cpp 40 main");
  EXPECT_TRUE(g_seen.noTopItem);  // neither an exception nor a current address
  EXPECT_EQ(g_seen.creatorAddress, 0x401234u);
  EXPECT_TRUE(t.candidates.empty());  // released after the walk
  // Only the creator's line: the creator line comes first.
  g_text = "00401234 lab.exe main.cpp 40 main";
  EXPECT_EQ(ThreadStackText(t, {}).text, ">> created by main thread ($a10) at:\r\n00401234 lab.exe main.cpp 40 main");
  // An internal error or an aborted report gets no creator line.
  g_text = ">> internal error in InDeepChecks";
  EXPECT_EQ(ThreadStackText(t, {}).text, g_text);
  volatile bool abort = true;
  StackTextOptions aborted;
  aborted.abort = &abort;
  g_text = "00401234 lab.exe main.cpp 40 main";
  EXPECT_EQ(ThreadStackText(t, aborted).text, g_text);
  // The exception thread keeps its top item.
  TThreadStack e;
  e.isException = true;
  e.currentAddress = 0x402000;
  ThreadStackText(e, {});
  EXPECT_FALSE(g_seen.noTopItem);
  EXPECT_EQ(g_seen.candidates, nullptr);
  SetTraceProvider(nullptr);
}

// A buffer of two process records as the system writes them (thread records from 0xB8, 64 bytes each).
std::vector<uint8_t> TwoProcesses(uint32_t base) {
  std::vector<uint8_t> b(0x400, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); };
  put32(0, 0x100);      // next record
  put32(4, 0);          // the idle process: no threads, no name
  put32(0x44, 0);
  put32(0x100, 0);      // last record
  put32(0x104, 2);      // two threads
  put16(0x100 + 0x38, 8);
  put32(0x100 + 0x3C, base + 0x380);
  put32(0x100 + 0x44, 0x1a4);
  put32(0x100 + 0x50, 1);
  put32(0x100 + 0xB8 + 0x24, 0x10);
  put32(0x100 + 0xB8 + 64 + 0x24, 0x14);
  const char16_t name[] = u"a.exe";
  std::memcpy(&b[0x380], name, 8);
  return b;
}

TEST(ThreadReports, ProcessListParserTrustsNothing) {
  std::vector<uint8_t> b = TwoProcesses(0x500000);
  auto list = ParseSystemProcesses(b.data(), b.size(), 0x500000);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].imageName, "");
  EXPECT_EQ(list[1].imageName, "a.ex");
  EXPECT_EQ(list[1].processId, 0x1a4u);
  EXPECT_EQ(list[1].sessionId, 1u);
  EXPECT_EQ(list[1].threadIds, (std::vector<uint32_t>{0x10, 0x14}));
  // Cut buffers and pointers outside the buffer give fewer records or names, never a fault.
  for (size_t cut = 0; cut < b.size(); cut += 7) {
    auto partial = ParseSystemProcesses(b.data(), cut, 0x500000);
    EXPECT_LE(partial.size(), 2u);
  }
  auto moved = ParseSystemProcesses(b.data(), b.size(), 0x600000);
  ASSERT_EQ(moved.size(), 2u);
  EXPECT_EQ(moved[1].imageName, "");
  // A record chain that points back to itself ends.
  std::vector<uint8_t> loop(0x100, 0);
  uint32_t next = 0x100;
  std::memcpy(&loop[0], &next, 4);
  EXPECT_LE(ParseSystemProcesses(loop.data(), loop.size(), 0).size(), 1u);
}

TEST(ReportPlugins, RegistryOrderAndFailures) {
  AddReportPlugin("alpha", "first", [] { return std::string("A"); }, true);
  AddReportPlugin("Alpha", "second of that name", [] { return std::string("A2"); }, true);
  AddReportPlugin("beta", "faulty", []() -> std::string { throw std::runtime_error("x"); }, true);
  AddReportPlugin("gamma", "header item", [] { return std::string("G"); }, false);
  auto chosen = ChosenReportPlugins("beta|nothing|ALPHA|gamma", true);
  ASSERT_EQ(chosen.size(), 2u);
  EXPECT_EQ(chosen[0].name, "beta");
  EXPECT_EQ(ReportPluginText(chosen[0]), ">> internal error in plugin");
  EXPECT_EQ(ReportPluginText(chosen[1]), "A");  // the first registration of that name
  EXPECT_EQ(ChosenReportPlugins("gamma", false).size(), 1u);
  RemoveReportPlugin("alpha");
  EXPECT_EQ(ReportPluginText(ChosenReportPlugins("alpha", true).at(0)), "A2");
  RemoveReportPlugin("Alpha");
  RemoveReportPlugin("beta");
  RemoveReportPlugin("gamma");
  EXPECT_TRUE(ChosenReportPlugins("alpha|beta|gamma", true).empty());
}

TEST(ReportPlugins, Texts) {
  EXPECT_EQ(ModulesText({{0x400000, "contacts.exe", "C:\\app", "1.0.0.0"}, {0x7c800000, "k.dll", "C:\\win", ""}}),
            "00400000 contacts.exe 1.0.0.0 C:\\app\r\n7c800000 k.dll                C:\\win");
  std::vector<ProcessLine> p(2);
  p[0].processId = 0x8;
  p[0].fileName = "System";
  p[1].processId = 0x1a4;
  p[1].fileName = "a.exe";
  p[1].directory = "C:\\x";
  p[1].priorityClass = 32;
  p[1].gdiObjects = 12;
  p[1].userObjects = 3;
  EXPECT_EQ(ProcessesText(p), "008 System  0 0        \r\n1a4 a.exe  12 3 normal C:\\x");
  EXPECT_EQ(PriorityClassName(0x4000), "below normal");
  EXPECT_EQ(PriorityClassName(0x123), "$123");
  EXPECT_EQ(NormalImagePath("\\SystemRoot\\System32\\smss.exe", "C:\\windows\\system32"),
            "C:\\windows\\system32\\smss.exe");
  EXPECT_EQ(NormalImagePath("\\??\\C:\\x\\a.exe", ""), "C:\\x\\a.exe");
  std::vector<DeviceLine> d = {{"System", "timer", ""}, {"Display", "VGA", " (driver 1.0)"},
                               {"system", "other", ""}, {"System", "Bus", ""}};
  EXPECT_EQ(HardwareText(d),
            "+ Display\r\n  - VGA (driver 1.0)\r\n+ system\r\n  - other\r\n+ System\r\n  - Bus\r\n  - timer");
  EXPECT_EQ(HardwareText({}), "");
}

}  // namespace
