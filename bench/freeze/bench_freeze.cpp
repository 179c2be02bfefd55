// The freeze watch on the host: the same watch loop as in the program, with a main thread that answers
// every probe through a message queue of its own.
//
// Cost: the process's CPU time (getrusage) while the program idles, with a 3 s timeout for 6 s: as many
// probes as one idle minute with the program's 30 s timeout, so the CPU time measured is the cost of that
// minute. Peer: a thread that only sleeps the same rhythm, no probes, measured in the same run.
// Detection: the time from the moment the main thread stops answering to the freeze report, against the
// timeout.
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "crash/core/freeze.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// A message queue: posting wakes the waiting reader.
struct Queue {
  std::mutex m;
  std::condition_variable posted;
  std::deque<int> items;
  void Post(int v) {
    std::lock_guard<std::mutex> g(m);
    items.push_back(v);
    posted.notify_one();
  }
};

// The main thread: answers every probe unless it is blocked; ends at -1.
struct MainThread {
  Queue probes, answers;
  std::atomic<bool> blocked{false};
  std::thread thread{[this] { Run(); }};
  void Run() {
    for (;;) {
      std::unique_lock<std::mutex> lock(probes.m);
      probes.posted.wait(lock, [&] { return !probes.items.empty(); });
      int v = probes.items.front();
      probes.items.pop_front();
      lock.unlock();
      if (v < 0) return;
      while (blocked) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      answers.Post(777);
    }
  }
  ~MainThread() {
    blocked = false;
    probes.Post(-1);
    thread.join();
  }
};

struct QueueProbe : rvx::FreezeProbe {
  QueueProbe(rvx::FreezeWatch& w, MainThread& m) : watch(w), main(m) {}
  rvx::FreezeWatch& watch;
  MainThread& main;
  std::atomic<bool> reported{false};
  Clock::time_point reportedAt;
  void Post() override { main.probes.Post(0); }
  bool Sleep(uint32_t ms) override { return watch.Rest(ms); }
  bool TakeAnswers() override {
    std::lock_guard<std::mutex> g(main.answers.m);
    bool any = !main.answers.items.empty();
    main.answers.items.clear();
    return any;
  }
  void ReportFreeze() override {
    if (!reported) reportedAt = Clock::now();
    reported = true;
  }
};

double IdleWatchCpuMs(uint32_t timeout, int ms) {
  rvx::FreezeWatch watch(timeout);
  MainThread main;
  QueueProbe probe(watch, main);
  double before = CpuMs();
  std::thread watcher([&] { rvx::RunFreezeWatch(watch, probe); });
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  watch.Stop();
  watcher.join();
  return CpuMs() - before;
}

double SleepingThreadCpuMs(uint32_t interval, int ms) {
  double before = CpuMs();
  std::thread sleeper([&] {
    for (auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;)
      std::this_thread::sleep_for(std::chrono::milliseconds(interval));
  });
  sleeper.join();
  return CpuMs() - before;
}

double FreezeToReportMs(uint32_t timeout) {
  rvx::FreezeWatch watch(timeout);
  MainThread main;
  QueueProbe probe(watch, main);
  std::thread watcher([&] { rvx::RunFreezeWatch(watch, probe); });
  std::this_thread::sleep_for(std::chrono::milliseconds(timeout / 3));
  auto frozen = Clock::now();
  main.blocked = true;
  while (!probe.reported) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  watch.Stop();
  watcher.join();
  return std::chrono::duration<double, std::milli>(probe.reportedAt - frozen).count();
}

}  // namespace

int main() {
  const uint32_t timeout = 3000;
  const int runMs = 6000;  // 20 probes: one idle minute at a 30 s timeout
  double watchMs = IdleWatchCpuMs(timeout, runMs);
  double sleeperMs = SleepingThreadCpuMs(timeout / 10, runMs);
  std::printf("freeze watch, CPU time per idle minute (30 s timeout): %.2f ms = %.4f%% of one core; "
              "sleeping thread (peer) %.2f ms; ratio %.1f (target below 0.1%%)\n",
              watchMs, watchMs / 60000 * 100, sleeperMs, sleeperMs > 0 ? watchMs / sleeperMs : 0.0);
  // The same cost at the shortest rhythm the program may be given (60 ms timeout: a probe every 6 ms).
  double busyMs = IdleWatchCpuMs(60, 2000);
  std::printf("freeze watch at a 60 ms timeout: %.2f ms CPU per second = %.3f%% of one core\n", busyMs / 2,
              busyMs / 2000 * 100);
  double detect = FreezeToReportMs(timeout);
  std::printf("freeze to report: %.0f ms with a %u ms timeout (peer: the timeout), ratio %.2f\n", detect, timeout,
              detect / timeout);
  return 0;
}
