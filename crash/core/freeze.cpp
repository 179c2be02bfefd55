#include "crash/core/freeze.h"

#include <algorithm>
#include <chrono>

#include "crash/core/thread_stack.h"

namespace rvx {

namespace {

// A tenth of the timeout, at least 1 ms: a watch at the highest priority must never spin.
uint32_t FirstInterval(uint32_t timeoutMs) { return std::max<uint32_t>(timeoutMs / 10, 1); }

// Half as long again, kept within what a timed wait accepts.
uint32_t LongerInterval(uint32_t interval) {
  uint64_t longer = uint64_t{interval} + interval / 2;
  return static_cast<uint32_t>(std::min<uint64_t>(longer, 0x7FFFFFFF));
}

}  // namespace

// ---- the watch's decisions ----------------------------------------------------------------------------

void FreezeWatch::Reset(uint32_t timeoutMs) {
  std::lock_guard<std::mutex> g(mutex_);
  timeout_ = timeoutMs;
  interval_ = FirstInterval(timeoutMs);
  misses_ = 0;
  pauses_ = -1;
  stop_ = false;
}

bool FreezeWatch::ProbeOutcome(bool answered) {
  if (answered) {
    misses_ = 0;
    interval_ = FirstInterval(timeout_);
    return false;
  }
  if (++misses_ < kFreezeMisses) return false;
  misses_ = 0;
  interval_ = LongerInterval(interval_);
  return true;
}

void FreezeWatch::Pause(bool pause) {
  misses_ = 0;
  std::lock_guard<std::mutex> g(mutex_);
  if (pause) {
    ++pauses_;
  } else if (pauses_ >= 0) {
    if (--pauses_ < 0) changed_.notify_all();
  }
}

int FreezeWatch::PauseCount() const {
  std::lock_guard<std::mutex> g(mutex_);
  return pauses_;
}

bool FreezeWatch::WaitWhilePaused() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return stop_ || pauses_ < 0; });
  return !stop_;
}

bool FreezeWatch::Rest(uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stop_; });
  return !stop_;
}

void FreezeWatch::Stop() {
  std::lock_guard<std::mutex> g(mutex_);
  stop_ = true;
  pauses_ = -1;
  changed_.notify_all();
}

bool FreezeWatch::Stopping() const {
  std::lock_guard<std::mutex> g(mutex_);
  return stop_;
}

void RunFreezeWatch(FreezeWatch& watch, FreezeProbe& probe) {
  while (watch.WaitWhilePaused()) {
    probe.Post();
    if (!probe.Sleep(watch.Interval())) return;
    if (watch.ProbeOutcome(probe.TakeAnswers())) probe.ReportFreeze();
  }
}

// ---- thread pausing -----------------------------------------------------------------------------------

std::vector<uint32_t> ThreadsToPause(const std::vector<uint32_t>& threads, uint32_t self, uint32_t mainThread,
                                     uint32_t leaveRunning, const std::function<bool(uint32_t)>& programThread) {
  std::vector<uint32_t> out;
  for (uint32_t id : threads) {
    if (id == self || id == mainThread || (leaveRunning && id == leaveRunning)) continue;
    if (std::find(out.begin(), out.end(), id) != out.end()) continue;
    if (programThread && programThread(id)) out.push_back(id);
  }
  return out;
}

void ThreadPause::Begin(uint32_t caller, uint32_t mainThread, std::vector<uint32_t> threads) {
  std::lock_guard<std::mutex> g(mutex_);
  if (shut_) return;
  used_ = true;
  caller_ = caller;
  main_ = mainThread;
  threads_ = std::move(threads);
  mainOpen_ = othersOpen_ = false;
}

void ThreadPause::End() {
  std::lock_guard<std::mutex> g(mutex_);
  mainOpen_ = othersOpen_ = true;
  opened_.notify_all();
}

bool ThreadPause::MustPauseLocked(uint32_t self) const {
  if (!used_ || self == caller_) return false;
  if (self == main_) return !mainOpen_;
  return !othersOpen_ && std::find(threads_.begin(), threads_.end(), self) != threads_.end();
}

bool ThreadPause::MustPause(uint32_t self) const {
  std::lock_guard<std::mutex> g(mutex_);
  return MustPauseLocked(self);
}

void ThreadPause::PauseMeEventually(uint32_t self) {
  std::unique_lock<std::mutex> lock(mutex_);
  opened_.wait(lock, [&] { return !MustPauseLocked(self); });
}

bool ThreadPause::ResumeMainThread() {
  std::lock_guard<std::mutex> g(mutex_);
  if (!used_ || mainOpen_) return false;
  mainOpen_ = true;
  opened_.notify_all();
  return true;
}

void ThreadPause::PauseMainThreadAgain() {
  std::lock_guard<std::mutex> g(mutex_);
  if (!used_ || shut_) return;
  mainOpen_ = false;
}

void ThreadPause::Shutdown() {
  std::lock_guard<std::mutex> g(mutex_);
  shut_ = true;
  mainOpen_ = othersOpen_ = true;
  opened_.notify_all();
}

bool ThreadPause::EverUsed() const {
  std::lock_guard<std::mutex> g(mutex_);
  return used_;
}

// ---- the process's watch and pause --------------------------------------------------------------------

FreezeWatch& ProcessFreezeWatch() {
  static FreezeWatch* watch = new FreezeWatch();  // outlives every thread that may still touch it at exit
  return *watch;
}

ThreadPause& ProcessThreadPause() {
  static ThreadPause* pause = new ThreadPause();
  return *pause;
}

void PauseFreezeCheck(bool pause) {
  if (!FreezeWatchRunning()) return;
  uint32_t watcher = freeze_platform::WatchThreadId();
  if (watcher && CurrentThreadId() == watcher) return;
  ProcessFreezeWatch().Pause(pause);
}

void ResetFreezeCounter() { ProcessFreezeWatch().ResetMisses(); }

void PauseThreads(bool pause, uint32_t leaveRunning) {
  ThreadPause& p = ProcessThreadPause();
  if (pause) {
    freeze_platform::InstallMessageFetchHooks();
    uint32_t self = CurrentThreadId(), main = MainThreadId();
    p.Begin(self, main, ThreadsToPause(ListThreadIds(), self, main, leaveRunning, freeze_platform::IsProgramThread));
  } else {
    p.End();
  }
  freeze_platform::WakeMainThread();
}

void PauseMeEventually() {
  uint32_t self = CurrentThreadId();
  ThreadPause& pause = ProcessThreadPause();
  if (!pause.MustPause(self)) return;
  // A thread that holds the loader lock or the process-environment lock never stands still: every other
  // thread, the handling included, may need that lock before the pause ends.
  if (freeze_platform::HoldsProcessLocks()) return;
  pause.PauseMeEventually(self);
}

bool ResumeMainThread() { return ProcessThreadPause().ResumeMainThread(); }

void PauseMainThreadAgain() {
  ProcessThreadPause().PauseMainThreadAgain();
  freeze_platform::WakeMainThread();
}

void EndThreadPausing() {
  ProcessThreadPause().Shutdown();
  SetImportPatcher(nullptr);  // the patches are undone: none may come back
}

// ---- blocked process ----------------------------------------------------------------------------------

bool LockCountHeld(int32_t lockCount, bool lowBitRule) { return lowBitRule ? (lockCount & 1) == 0 : lockCount >= 0; }

}  // namespace rvx
