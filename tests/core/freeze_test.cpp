// The freeze watch's decisions against a fake clock and a fake main thread; the pause of the watch and of
// threads with real threads; the blocked-process test: the lock-count rules, and (Windows) a thread that holds
// the loader lock or the process-environment lock.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "crash/core/freeze.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using rvx::FreezeWatch;

// A main thread that answers every probe when it gets to it: at once, or when the block it is in ends. The
// clock moves only when the watch sleeps (and while a freeze report is handled).
struct FakeMainThread : rvx::FreezeProbe {
  explicit FakeMainThread(FreezeWatch& w, uint64_t endMs) : watch(w), end(endMs) {}
  FreezeWatch& watch;
  uint64_t end;
  uint64_t now = 0;
  uint64_t handlingMs = 0;
  std::vector<std::pair<uint64_t, uint64_t>> blocks;  // [from, until)
  std::deque<uint64_t> queued;                        // when each posted probe gets answered
  std::vector<uint64_t> reports;
  std::vector<uint32_t> intervals;

  uint64_t AnsweredAt(uint64_t t) const {
    for (auto [from, until] : blocks)
      if (t >= from && t < until) return until;
    return t;
  }
  void Post() override { queued.push_back(AnsweredAt(now)); }
  bool Sleep(uint32_t ms) override {
    intervals.push_back(ms);
    now += ms;
    return now < end;
  }
  bool TakeAnswers() override {
    bool any = false;
    while (!queued.empty() && queued.front() <= now) {
      queued.pop_front();
      any = true;
    }
    return any;
  }
  void ReportFreeze() override {
    reports.push_back(now);
    now += handlingMs;
    watch.ResetMisses();  // what the pipeline does after every handled exception
  }
};

std::vector<uint64_t> Reports(uint32_t timeout, std::vector<std::pair<uint64_t, uint64_t>> blocks, uint64_t end) {
  FreezeWatch w(timeout);
  FakeMainThread main(w, end);
  main.blocks = std::move(blocks);
  rvx::RunFreezeWatch(w, main);
  return main.reports;
}

TEST(FreezeWatch, ShortBlocksAreNotReportedLongOnesOnce) {
  // 30 s timeout, 3 s probes: 25 s without answers is eight misses at most, wherever the block starts.
  for (uint64_t start : {0, 1000, 2999, 3000, 40000})
    EXPECT_TRUE(Reports(30000, {{start, start + 25000}}, 120000).empty()) << start;
  // 35 s: the tenth miss comes 30 s into the block; the answers after it end the count.
  EXPECT_EQ(Reports(30000, {{0, 35000}}, 120000), (std::vector<uint64_t>{30000}));
  EXPECT_EQ(Reports(30000, {{1000, 36000}}, 120000), (std::vector<uint64_t>{33000}));
  // Two short blocks separated by one answered probe are two short blocks.
  EXPECT_TRUE(Reports(30000, {{0, 25000}, {27000, 52000}}, 120000).empty());
}

TEST(FreezeWatch, LastingFreezeIsReportedAgainAfterEverLongerWaits) {
  FreezeWatch w(30000);
  FakeMainThread main(w, 200000);
  main.blocks = {{0, 160000}};
  rvx::RunFreezeWatch(w, main);
  // Ten misses of 3 s, then ten of 4.5 s, then ten of 6.75 s.
  EXPECT_EQ(main.reports, (std::vector<uint64_t>{30000, 75000, 142500}));
  // Once the main thread answers again the probes have their first rhythm back.
  EXPECT_EQ(main.intervals.back(), 3000u);
  EXPECT_EQ(w.Misses(), 0u);
}

TEST(FreezeWatch, TimeSpentHandlingAReportDoesNotCount) {
  FreezeWatch w(30000);
  FakeMainThread main(w, 100000);
  main.handlingMs = 20000;  // the report is shown while the main thread stays blocked
  main.blocks = {{0, 55000}};
  rvx::RunFreezeWatch(w, main);
  // After the report (30 s) and its handling (to 50 s) the count starts afresh and the main thread answers
  // at 55 s, long before ten more misses.
  EXPECT_EQ(main.reports, (std::vector<uint64_t>{30000}));
}

TEST(FreezeWatch, IntervalStaysPositiveAndBounded) {
  // The built-in default timeout is 60 ms: 6 ms probes. Below 10 ms the watch still rests 1 ms.
  EXPECT_EQ(FreezeWatch(60).Interval(), 6u);
  EXPECT_EQ(FreezeWatch(5).Interval(), 1u);
  EXPECT_EQ(FreezeWatch(0).Interval(), 1u);
  FreezeWatch w(0xFFFFFFFFu);
  uint32_t last = w.Interval();
  for (int report = 0; report < 20; ++report) {
    for (uint32_t i = 0; i + 1 < rvx::kFreezeMisses; ++i) EXPECT_FALSE(w.ProbeOutcome(false));
    EXPECT_TRUE(w.ProbeOutcome(false));
    EXPECT_GE(w.Interval(), last);  // never wraps around to a short wait
    EXPECT_LE(w.Interval(), 0x7FFFFFFFu);
    last = w.Interval();
  }
  EXPECT_FALSE(w.ProbeOutcome(true));
  EXPECT_EQ(w.Interval(), 0xFFFFFFFFu / 10);
}

TEST(FreezeWatch, PauseNestsAndResetsTheCount) {
  FreezeWatch w(30000);
  EXPECT_EQ(w.PauseCount(), -1);
  for (int i = 0; i < 5; ++i) w.ProbeOutcome(false);
  w.Pause(true);
  EXPECT_EQ(w.Misses(), 0u);
  w.Pause(true);
  w.Pause(false);
  EXPECT_TRUE(w.Paused());  // until the second resume
  w.Pause(false);
  EXPECT_FALSE(w.Paused());
  // A resume too many is ignored: the next pause still pauses.
  w.Pause(false);
  w.Pause(true);
  EXPECT_TRUE(w.Paused());
  w.Pause(false);
  EXPECT_FALSE(w.Paused());
}

// A probe for a real watch thread: counts posts, never sleeps, always answered.
struct CountingProbe : rvx::FreezeProbe {
  explicit CountingProbe(FreezeWatch& w) : watch(w) {}
  FreezeWatch& watch;
  std::mutex m;
  std::condition_variable posted;
  int posts = 0;
  void Post() override {
    std::lock_guard<std::mutex> g(m);
    ++posts;
    posted.notify_all();
  }
  bool Sleep(uint32_t) override { return watch.Rest(0); }
  bool TakeAnswers() override { return true; }
  void ReportFreeze() override {}
  int Posts() {
    std::lock_guard<std::mutex> g(m);
    return posts;
  }
};

TEST(FreezeWatch, PausedWatchThreadStandsStillUntilTheLastResume) {
  FreezeWatch w(30000);
  CountingProbe probe(w);
  w.Pause(true);
  w.Pause(true);
  std::thread watcher([&] { rvx::RunFreezeWatch(w, probe); });
  w.Pause(false);
  EXPECT_EQ(probe.Posts(), 0);
  w.Pause(false);
  {
    std::unique_lock<std::mutex> lock(probe.m);
    probe.posted.wait(lock, [&] { return probe.posts > 0; });
  }
  w.Stop();
  watcher.join();
}

TEST(FreezeWatch, StopWakesAPausedOrRestingWatch) {
  FreezeWatch paused(30000);
  CountingProbe probe(paused);
  paused.Pause(true);
  std::thread a([&] { rvx::RunFreezeWatch(paused, probe); });
  paused.Stop();
  a.join();
  EXPECT_EQ(probe.Posts(), 0);
  EXPECT_FALSE(paused.Paused());

  FreezeWatch resting(30000);
  std::atomic<bool> result{true};
  std::thread b([&] { result = resting.Rest(0x7FFFFFFF); });
  resting.Stop();
  b.join();
  EXPECT_FALSE(result);
  resting.Reset(1000);  // a later start runs again
  EXPECT_FALSE(resting.Stopping());
  EXPECT_EQ(resting.Interval(), 100u);
}

// ---- thread pausing -----------------------------------------------------------------------------------

TEST(ThreadsToPause, OnlyTheProgramsOtherThreads) {
  auto program = [](uint32_t id) { return id != 7; };  // 7 was made by a system library
  EXPECT_EQ(rvx::ThreadsToPause({1, 2, 3, 4, 5, 7, 3}, /*self*/ 2, /*main*/ 1, /*leave*/ 4, program),
            (std::vector<uint32_t>{3, 5}));
  EXPECT_EQ(rvx::ThreadsToPause({1, 2, 3}, 2, 1, 0, program), (std::vector<uint32_t>{3}));
}

TEST(ThreadPause, ListedThreadWaitsUntilTheEndOthersRun) {
  rvx::ThreadPause p;
  p.Begin(/*caller*/ 1, /*main*/ 2, {3, 4});
  std::atomic<bool> listedPassed{false}, otherPassed{false};
  std::thread listed([&] {
    p.PauseMeEventually(3);
    listedPassed = true;
  });
  std::thread busy([&] {
    p.PauseMeEventually(9);  // a thread not on the list keeps running
    otherPassed = true;
  });
  busy.join();
  EXPECT_TRUE(otherPassed);
  p.PauseMeEventually(1);  // the thread that asked for the pause never waits
  EXPECT_TRUE(p.MustPause(3));
  EXPECT_FALSE(listedPassed);
  p.End();
  listed.join();
  EXPECT_TRUE(listedPassed);
  EXPECT_FALSE(p.MustPause(3));
  EXPECT_FALSE(p.MustPause(2));
}

TEST(ThreadPause, MainThreadResumedAndPausedAgain) {
  rvx::ThreadPause p;
  EXPECT_FALSE(p.ResumeMainThread());  // never paused
  EXPECT_FALSE(p.MustPause(2));
  p.Begin(1, 2, {3});
  EXPECT_TRUE(p.MustPause(2));
  EXPECT_TRUE(p.ResumeMainThread());
  EXPECT_FALSE(p.MustPause(2));
  EXPECT_TRUE(p.MustPause(3));  // the other threads stay paused meanwhile
  EXPECT_FALSE(p.ResumeMainThread());
  std::atomic<bool> mainPassed{false};
  p.PauseMainThreadAgain();
  std::thread main([&] {
    p.PauseMeEventually(2);
    mainPassed = true;
  });
  EXPECT_TRUE(p.MustPause(2));
  EXPECT_TRUE(p.ResumeMainThread());
  main.join();
  EXPECT_TRUE(mainPassed);
  p.End();
  EXPECT_FALSE(p.ResumeMainThread());
}

TEST(ThreadPause, HandlingOnTheMainThreadDoesNotPauseIt) {
  // The main thread that handles an exception itself fetches messages for its dialogs.
  rvx::ThreadPause p;
  p.Begin(2, 2, {3});
  EXPECT_FALSE(p.MustPause(2));
  EXPECT_TRUE(p.MustPause(3));
  p.End();
}

TEST(ThreadPause, ShutdownReleasesForGood) {
  rvx::ThreadPause p;
  p.Begin(1, 2, {3});
  std::thread waiting([&] { p.PauseMeEventually(3); });
  p.Shutdown();
  waiting.join();
  p.Begin(1, 2, {3});
  p.PauseMainThreadAgain();
  EXPECT_FALSE(p.MustPause(3));
  EXPECT_FALSE(p.MustPause(2));
}

TEST(LockCountHeld, BothRules) {
  // Counting rule: -1 free, 0 and up held.
  EXPECT_FALSE(rvx::LockCountHeld(-1, false));
  EXPECT_TRUE(rvx::LockCountHeld(0, false));
  EXPECT_TRUE(rvx::LockCountHeld(3, false));
  // Lowest-bit rule: -1 free, -2 held, -6 held with waiters, -5 free with a waiter woken.
  EXPECT_FALSE(rvx::LockCountHeld(-1, true));
  EXPECT_TRUE(rvx::LockCountHeld(-2, true));
  EXPECT_TRUE(rvx::LockCountHeld(-6, true));
  EXPECT_FALSE(rvx::LockCountHeld(-5, true));
}

#ifdef _WIN32

using LockFn = LONG(WINAPI*)(ULONG flags, ULONG* state, ULONG_PTR* cookie);
using UnlockFn = LONG(WINAPI*)(ULONG flags, ULONG_PTR cookie);
using PebLockFn = void(WINAPI*)();

template <class F>
F NtdllRoutine(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), name)));
}

// A thread that takes a lock, says so, and gives it back when told.
struct Holder {
  HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  bool peb = false;
  HANDLE thread = nullptr;

  static DWORD WINAPI Run(void* p) {
    auto* h = static_cast<Holder*>(p);
    if (h->peb) {
      NtdllRoutine<PebLockFn>("RtlAcquirePebLock")();
      SetEvent(h->taken);
      WaitForSingleObject(h->release, INFINITE);
      NtdllRoutine<PebLockFn>("RtlReleasePebLock")();
    } else {
      ULONG_PTR cookie = 0;
      NtdllRoutine<LockFn>("LdrLockLoaderLock")(0, nullptr, &cookie);
      SetEvent(h->taken);
      WaitForSingleObject(h->release, INFINITE);
      NtdllRoutine<UnlockFn>("LdrUnlockLoaderLock")(0, cookie);
    }
    return 0;
  }
  void Take() {
    thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    WaitForSingleObject(taken, INFINITE);
  }
  void Free() {
    SetEvent(release);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  ~Holder() {
    CloseHandle(taken);
    CloseHandle(release);
  }
};

TEST(ProcessBlocked, LoaderLockHeldByAnotherThread) {
  ASSERT_NE(NtdllRoutine<LockFn>("LdrLockLoaderLock"), nullptr);
  EXPECT_FALSE(rvx::ProcessBlocked(0));
  Holder h;
  h.Take();
  EXPECT_TRUE(rvx::ProcessBlocked(0));
  EXPECT_TRUE(rvx::ProcessBlocked(30));  // still held after the repeated looks
  h.Free();
  EXPECT_FALSE(rvx::ProcessBlocked(0));
  EXPECT_FALSE(rvx::ProcessBlocked(30));
}

TEST(ProcessBlocked, ProcessEnvironmentLockHeldByAnotherThread) {
  ASSERT_NE(NtdllRoutine<PebLockFn>("RtlAcquirePebLock"), nullptr);
  Holder h;
  h.peb = true;
  h.Take();
  EXPECT_TRUE(rvx::ProcessBlocked(0));
  h.Free();
  EXPECT_FALSE(rvx::ProcessBlocked(0));
}

TEST(ProcessBlocked, ReleasedDuringTheWait) {
  Holder h;
  // The helper exists before the lock is taken: a thread starting while the loader lock is held would wait
  // for it. It releases the lock a little later, while the test looks again every 10 ms.
  HANDLE helper = CreateThread(
      nullptr, 0,
      [](void* p) WINAPI -> DWORD {
        WaitForSingleObject(static_cast<Holder*>(p)->taken, INFINITE);
        Sleep(50);
        SetEvent(static_cast<Holder*>(p)->release);
        return 0;
      },
      &h, 0, nullptr);
  h.Take();
  EXPECT_FALSE(rvx::ProcessBlocked(60000));  // the bound is generous on purpose
  WaitForSingleObject(helper, INFINITE);
  CloseHandle(helper);
  h.Free();
}

#endif

}  // namespace
