// Freeze detection and thread pausing.
//
// The freeze watch: a thread of its own posts a probe to the main thread's hidden message window, rests one
// interval (a tenth of the timeout) and looks for the answer. Ten unanswered probes in a row make a freeze
// report; after each report the interval grows by half, so a lasting freeze is reported again after ever
// longer waits. The watch can be paused (nestable) while an exception is handled.
//
// Thread pausing: while an exception is handled the program's other threads can be made to stand still at
// their next message fetch (cooperative; a thread that never fetches messages keeps running).
//
// The blocked-process test: whether a thread switch would deadlock because some thread holds the system's
// loader lock or the process-environment lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace rvx {

// ---- the watch's decisions ----------------------------------------------------------------------------

// The answer of the probe handler, also both parameters of the answer message and of the message that tells
// an exception box that the main thread answers again.
constexpr intptr_t kFreezeProbeAnswer = 777;
// Unanswered probes in a row that make a freeze.
constexpr uint32_t kFreezeMisses = 10;

class FreezeWatch {
 public:
  explicit FreezeWatch(uint32_t timeoutMs = 60000) { Reset(timeoutMs); }
  FreezeWatch(const FreezeWatch&) = delete;
  FreezeWatch& operator=(const FreezeWatch&) = delete;

  // A fresh start with this timeout: no misses, not paused, not stopping.
  void Reset(uint32_t timeoutMs);
  uint32_t Timeout() const { return timeout_; }
  uint32_t Interval() const { return interval_.load(); }
  uint32_t Misses() const { return misses_.load(); }

  // Books one probe round; true when a freeze is to be reported now (the tenth miss in a row).
  bool ProbeOutcome(bool answered);
  // After every handled exception: the count of unanswered probes starts again.
  void ResetMisses() { misses_ = 0; }

  // Nestable pause: the watch stands still from the first pause to the matching last resume. A resume
  // without a pause is ignored.
  void Pause(bool pause);
  int PauseCount() const;  // -1: running
  bool Paused() const { return PauseCount() >= 0; }

  // For the watch thread: blocks while paused; rests up to `ms`. Both return false once the watch stops.
  bool WaitWhilePaused();
  bool Rest(uint32_t ms);
  // Ends the watch: wakes its thread and lifts any pause.
  void Stop();
  bool Stopping() const;

 private:
  uint32_t timeout_ = 60000;
  std::atomic<uint32_t> interval_{6000};
  std::atomic<uint32_t> misses_{0};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int pauses_ = -1;
  bool stop_ = false;
};

// What the watch loop needs from its surroundings (the main thread, the clock, the pipeline).
class FreezeProbe {
 public:
  virtual ~FreezeProbe() = default;
  virtual void Post() = 0;                // sends one probe to the main thread
  virtual bool Sleep(uint32_t ms) = 0;    // false when the watch is to end
  virtual bool TakeAnswers() = 0;         // removes every answer that arrived; whether there was one
  virtual void ReportFreeze() = 0;        // hands a freeze to the pipeline and returns when it is handled
};

// The watch thread's loop; returns when the watch stops.
void RunFreezeWatch(FreezeWatch& watch, FreezeProbe& probe);

// ---- thread pausing -----------------------------------------------------------------------------------

// The threads that must pause: the program's own threads (by `programThread`) except the calling thread, the
// main thread and the thread to leave running.
std::vector<uint32_t> ThreadsToPause(const std::vector<uint32_t>& threads, uint32_t self, uint32_t mainThread,
                                     uint32_t leaveRunning, const std::function<bool(uint32_t)>& programThread);

// Who stands still: the main thread and the listed threads have a gate each (closed = paused). The thread
// that started a pause never waits at its own gate, so the handling code may fetch messages freely.
class ThreadPause {
 public:
  // Closes both gates for this list of threads.
  void Begin(uint32_t caller, uint32_t mainThread, std::vector<uint32_t> threads);
  // Opens both gates.
  void End();
  // A pause point: blocks while the calling thread is asked to pause.
  void PauseMeEventually(uint32_t self);
  // Opens the main thread's gate; whether it was closed.
  bool ResumeMainThread();
  // Closes the main thread's gate again (after ResumeMainThread).
  void PauseMainThreadAgain();
  // Opens both gates for good: no thread pauses any more.
  void Shutdown();
  bool EverUsed() const;
  bool MustPause(uint32_t self) const;

 private:
  bool MustPauseLocked(uint32_t self) const;
  mutable std::mutex mutex_;
  std::condition_variable opened_;
  bool used_ = false, shut_ = false;
  bool mainOpen_ = true, othersOpen_ = true;
  uint32_t caller_ = 0, main_ = 0;
  std::vector<uint32_t> threads_;
};

// ---- the process's watch and pause (the pipeline's side) ----------------------------------------------

// Starts the watch of the calling thread (the main thread) with this timeout; false when its message window
// cannot be made. Stopping ends the thread and removes the probe handler.
bool StartFreezeWatch(uint32_t timeoutMs);
void StopFreezeWatch();
bool FreezeWatchRunning();
// Nestable pause of the watch; ignored on the watch thread itself and when no watch runs.
void PauseFreezeCheck(bool pause);
// After every handled exception.
void ResetFreezeCounter();
// An exception box of a freeze gives its window: when the main thread answers again, the box is told to close
// (the empty message with both parameters 777).
void TellFreezeWatchBox(void* window);
FreezeWatch& ProcessFreezeWatch();

// Starts (pause) or ends a pause of the program's other threads.
void PauseThreads(bool pause, uint32_t leaveRunning = 0);
// The pause point of the message-fetch hooks and of the main thread's handler routine (never pauses a thread
// that holds the loader lock or the process-environment lock).
void PauseMeEventually();
bool ResumeMainThread();
void PauseMainThreadAgain();
// At shut-down: releases every paused thread for good.
void EndThreadPausing();
ThreadPause& ProcessThreadPause();

// How the message-fetch hooks get into the import tables: the arming code hands over its patcher (without
// one, pausing threads pauses nobody).
using ImportPatcher = int (*)(const char* library, const char* routine, const void* replacement, void** original);
void SetImportPatcher(ImportPatcher patcher);

namespace freeze_platform {
uint32_t WatchThreadId();
// The message-fetch hooks: every thread that fetches window messages passes a pause point.
void InstallMessageFetchHooks();
// Whether the thread was created by code of a module that carries the crash reporter.
bool IsProgramThread(uint32_t threadId);
// Makes the main thread reach a pause point soon.
void WakeMainThread();
// Whether the calling thread holds the loader lock or the process-environment lock.
bool HoldsProcessLocks();
}  // namespace freeze_platform

// ---- blocked process ----------------------------------------------------------------------------------

// Whether a critical section with this lock count is held. Older systems count from -1 up (held when not
// negative); newer ones clear the lowest bit while the section is held.
bool LockCountHeld(int32_t lockCount, bool lowBitRule);

// Whether the loader lock or the process-environment lock is held by any thread, asked again every 10 ms
// while it is and at least 1 ms of the wait remains.
bool ProcessBlocked(uint32_t waitMs);

}  // namespace rvx
