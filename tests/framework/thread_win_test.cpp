// The framework's thread class: Execute on a thread of its own, its result and fatal exception, ending and
// freeing.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "framework/thread.h"

namespace {

class TCounting : public fw::TThread {
 public:
  std::atomic<int> runs{0};

 protected:
  void Execute() override {
    ++runs;
    ReturnValue = 42;
  }
};

class TFailing : public fw::TThread {
 protected:
  void Execute() override { throw std::runtime_error("execute failed"); }
};

class TWaitingForTheEnd : public fw::TThread {
 protected:
  void Execute() override {
    while (!Terminated()) Sleep(1);
    ReturnValue = 1;
  }
};

class TFreeing : public fw::TThread {
 public:
  explicit TFreeing(HANDLE gone) : gone_(gone) { FreeOnTerminate = true; }
  ~TFreeing() override { SetEvent(gone_); }

 protected:
  void Execute() override {}

 private:
  HANDLE gone_;
};

TEST(TThread, ExecuteRunsOnItsOwnThreadOnceStarted) {
  TCounting t;
  EXPECT_EQ(t.Handle(), nullptr);
  EXPECT_EQ(t.WaitFor(), 0u) << "a thread that never started is not waited for";
  t.Start();
  t.Start();  // once
  EXPECT_NE(t.ThreadID(), GetCurrentThreadId());
  EXPECT_EQ(t.WaitFor(), 42u);
  EXPECT_TRUE(t.Finished());
  EXPECT_EQ(t.runs.load(), 1);
  DWORD code = 0;
  GetExitCodeThread(t.Handle(), &code);
  EXPECT_EQ(code, 42u);
  EXPECT_FALSE(t.FatalException());
}

TEST(TThread, AnExceptionOfExecuteIsKept) {
  TFailing t;
  t.Start();
  t.WaitFor();
  ASSERT_TRUE(t.FatalException());
  try {
    std::rethrow_exception(t.FatalException());
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "execute failed");
  }
}

TEST(TThread, TerminatedBeforeOrWhileRunning) {
  TCounting early;
  early.Terminate();
  early.Start();
  early.WaitFor();
  EXPECT_EQ(early.runs.load(), 0) << "Execute is not started for a terminated object";
  auto* running = new TWaitingForTheEnd;
  running->Start();
  HANDLE h;
  DuplicateHandle(GetCurrentProcess(), running->Handle(), GetCurrentProcess(), &h, 0, FALSE, DUPLICATE_SAME_ACCESS);
  delete running;  // asks it to end and waits
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
  CloseHandle(h);
}

TEST(TThread, FreeOnTerminateDeletesTheObjectWhenItsThreadEnds) {
  HANDLE gone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  (new TFreeing(gone))->Start();
  EXPECT_EQ(WaitForSingleObject(gone, 10000), WAIT_OBJECT_0);
  CloseHandle(gone);
}

}  // namespace
