// crashlab.exe with a freeze watch: a main thread that stops answering for less than the timeout is not
// reported, a longer stop is reported once (main thread first, naming where it hangs) and again after the
// next, longer wait; a paused watch stands still until its last resume. And the pausing of the program's
// threads while an exception is handled.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "crashlab/crashlab_run.h"

namespace {

const std::string kFrozen = "The application seems to be frozen.";

// The console's freeze lines (the printed report repeats the text only after its item name).
size_t FreezeLines(const std::string& out) {
  size_t n = 0;
  for (size_t at = out.find("\n" + kFrozen); at != std::string::npos; at = out.find("\n" + kFrozen, at + 1)) ++n;
  return n;
}

Outcome RunFreeze(const std::string& args, DWORD limitMs) {
  Outcome o = RunLab("freeze " + args, limitMs);
  EXPECT_TRUE(o.finished) << args;
  EXPECT_EQ(o.exitCode, 0u) << args << "\n" << o.out;
  EXPECT_NE(o.out.find("answering again"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
  return o;
}

void CheckFreezeReport(const std::string& report) {
  ASSERT_FALSE(report.empty());
  EXPECT_EQ(Value(report, "exception message"), kFrozen) << report;
  EXPECT_EQ(report.find("\r\nexception class"), std::string::npos) << report;
  // The main thread comes first, and its stack shows where it hangs.
  size_t firstThread = report.find("\r\n\r\n") + 4;
  EXPECT_TRUE(StartsAt(report, firstThread, "main thread ($")) << report;
  size_t nextSection = report.find("\r\n\r\n", firstThread);
  EXPECT_LT(report.find("BlockMainThread", firstThread), nextSection) << report;
  // The watch itself is not listed.
  EXPECT_EQ(report.find("AntiFreezeThread"), std::string::npos);
}

TEST(CrashlabFreeze, ShortTimeout) {
  // Timeout 3 s, a probe every 300 ms.
  Outcome brief = RunFreeze("3000 2000", 60000);
  EXPECT_EQ(FreezeLines(brief.out), 0u) << brief.out;
  EXPECT_TRUE(brief.report.empty());

  Outcome once = RunFreeze("3000 4500", 60000);
  EXPECT_EQ(FreezeLines(once.out), 1u) << once.out;
  EXPECT_LT(once.out.find("blocking"), once.out.find("\n" + kFrozen));
  EXPECT_GT(once.out.find("answering again"), once.out.find("\n" + kFrozen));
  CheckFreezeReport(once.report);

  // Still blocked after the first report: the next one follows ten probes of 450 ms later (7.5 s into the
  // block), the one after that would take another 6.75 s.
  Outcome lasting = RunFreeze("3000 10000", 60000);
  EXPECT_EQ(FreezeLines(lasting.out), 2u) << lasting.out;
  CheckFreezeReport(lasting.report);
}

TEST(CrashlabFreeze, ThirtySecondTimeout) {
  Outcome brief = RunFreeze("30000 25000", 120000);
  EXPECT_EQ(FreezeLines(brief.out), 0u) << brief.out;
  Outcome once = RunFreeze("30000 35000", 120000);
  EXPECT_EQ(FreezeLines(once.out), 1u) << once.out;
  CheckFreezeReport(once.report);
}

TEST(CrashlabFreeze, NestedPauseOfTheWatch) {
  Outcome o = RunLab("freeze-paused", 60000);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.exitCode, 0u) << o.out;
  EXPECT_EQ(FreezeLines(o.out), 1u) << o.out;
  EXPECT_LT(o.out.find("resumed twice"), o.out.find("\n" + kFrozen)) << o.out;
}

TEST(CrashlabPauseThreads, WaitingWorkerPausedBusyWorkerRuns) {
  Outcome o = RunLab("pause-threads", 60000);
  ASSERT_TRUE(o.finished);
  EXPECT_EQ(o.exitCode, 0u) << o.out;
  EXPECT_NE(o.out.find("while handled: fetching worker paused, busy worker running"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("after handling: fetching worker resumed"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("survived"), std::string::npos);
}

TEST(CrashlabPauseThreads, AThreadHoldingTheLoaderLockIsNotStoppedWithIt) {
  // Stopped while it holds the lock, the worker would keep it for the whole handling, which needs it.
  Outcome o = RunLab("pause-loader-lock", 60000);
  ASSERT_TRUE(o.finished) << o.out;
  EXPECT_EQ(o.exitCode, 0u) << o.out;
  EXPECT_NE(o.out.find("thread exit code ffffffff"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("survived"), std::string::npos) << o.out;
  EXPECT_NE(Value(o.report, "exception message").find("thread failed."), std::string::npos) << o.report;
}

}  // namespace
