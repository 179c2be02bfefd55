#include "crash/core/handlers.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <type_traits>

#include "crash/stack/fault_guard.h"

namespace rvx {

namespace {

struct Lists {
  TDAExceptHandler exception;
  TDAExceptHandlerOO exceptionOO;
  TDAExceptHandler hidden;
  TDAExceptHandlerOO hiddenOO;
};

// The handler lock guards the lists; firing works on copies, so handlers may register and unregister.
std::mutex& HandlerLock() {
  static std::mutex lock;
  return lock;
}
Lists g_lists;
std::atomic<bool> g_onMainThread{false};
std::atomic<bool> g_initialised{false};

template <class Entry, class Routine>
void RemoveEntries(std::vector<Entry>& list, const Routine& routine) {
  std::lock_guard<std::mutex> g(HandlerLock());
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const Entry& e) {
                              if constexpr (std::is_same_v<Entry, TExceptHandler>) return e.procedure == routine;
                              else return e.method == routine;
                            }),
             list.end());
}

bool TakesPart(uint8_t syncMode, const TFireHandlersParams& p) {
  return (syncMode != kSyncFiringThread) == p.callSync && (!p.syncFailed || syncMode == kSyncMainThreadOrFiring);
}

// Methods first, then procedures; `stopWhenHandled` ends the walk as soon as the event is handled, and
// `proceduresOnlyUnhandled` skips the procedures of an event that the methods handled.
bool FireList(const TDAExceptHandlerOO& methods, const TDAExceptHandler& procedures, TFireHandlersParams& p,
              bool phaseMatters, bool stopWhenHandled, bool proceduresOnlyUnhandled) {
  bool called = false;
  uint8_t phase = p.record->Phase();
  for (const auto& e : methods) {
    if (stopWhenHandled && p.handled) return called;
    if (!TakesPart(e.syncMode, p) || (phaseMatters && e.phase != phase) || !e.method.code) continue;
    called = true;
    FaultGuarded([&] { e.method.code(e.method.object, p.record, p.handled); });
  }
  if (proceduresOnlyUnhandled && p.handled) return called;
  for (const auto& e : procedures) {
    if (stopWhenHandled && p.handled) return called;
    if (!TakesPart(e.syncMode, p) || (phaseMatters && e.phase != phase) || !e.procedure) continue;
    called = true;
    FaultGuarded([&] { e.procedure(p.record, p.handled); });
  }
  return called;
}

bool SynchronousEntryExists(uint8_t kind, uint8_t phase) {
  std::lock_guard<std::mutex> g(HandlerLock());
  auto sync = [&](const auto& list, bool phaseMatters) {
    return std::any_of(list.begin(), list.end(), [&](const auto& e) {
      return e.syncMode != kSyncFiringThread && (!phaseMatters || e.phase == phase);
    });
  };
  if (kind == kHandlerKindException) return sync(g_lists.exception, true) || sync(g_lists.exceptionOO, true);
  if (kind == kHandlerKindHidden) return sync(g_lists.hidden, false) || sync(g_lists.hiddenOO, false);
  return false;
}

bool ListsEmpty(uint8_t kind) {
  std::lock_guard<std::mutex> g(HandlerLock());
  if (kind == kHandlerKindException) return g_lists.exception.empty() && g_lists.exceptionOO.empty();
  if (kind == kHandlerKindHidden) return g_lists.hidden.empty() && g_lists.hiddenOO.empty();
  return true;
}

bool AnySynchronousEntry() {
  std::lock_guard<std::mutex> g(HandlerLock());
  auto sync = [](const auto& e) { return e.syncMode != kSyncFiringThread; };
  return std::any_of(g_lists.exception.begin(), g_lists.exception.end(), sync) ||
         std::any_of(g_lists.exceptionOO.begin(), g_lists.exceptionOO.end(), sync) ||
         std::any_of(g_lists.hidden.begin(), g_lists.hidden.end(), sync) ||
         std::any_of(g_lists.hiddenOO.begin(), g_lists.hiddenOO.end(), sync);
}

template <class List, class Entry>
void Append(List& list, Entry entry) {
  {
    std::lock_guard<std::mutex> g(HandlerLock());
    list.push_back(entry);
  }
  if (entry.syncMode != kSyncFiringThread && g_initialised && CurrentThreadId() == MainThreadId())
    handlers_platform::OpenRouting();
}

}  // namespace

void RegisterExceptionHandler(ExceptHandlerProc handler, uint8_t syncMode, uint8_t phase) {
  Append(g_lists.exception, TExceptHandler{syncMode, phase, handler});
}
void RegisterExceptionHandler(ExceptHandlerMethod handler, uint8_t syncMode, uint8_t phase) {
  Append(g_lists.exceptionOO, TExceptHandlerOO{syncMode, phase, handler});
}
void UnregisterExceptionHandler(ExceptHandlerProc handler) { RemoveEntries(g_lists.exception, handler); }
void UnregisterExceptionHandler(ExceptHandlerMethod handler) { RemoveEntries(g_lists.exceptionOO, handler); }
void RegisterHiddenExceptionHandler(ExceptHandlerProc handler, uint8_t syncMode) {
  Append(g_lists.hidden, TExceptHandler{syncMode, 0, handler});
}
void RegisterHiddenExceptionHandler(ExceptHandlerMethod handler, uint8_t syncMode) {
  Append(g_lists.hiddenOO, TExceptHandlerOO{syncMode, 0, handler});
}
void UnregisterHiddenExceptionHandler(ExceptHandlerProc handler) { RemoveEntries(g_lists.hidden, handler); }
void UnregisterHiddenExceptionHandler(ExceptHandlerMethod handler) { RemoveEntries(g_lists.hiddenOO, handler); }

bool HiddenExceptionHandlersRegistered() { return !ListsEmpty(kHandlerKindHidden); }

bool ReportCompleteHandlersExist() {
  std::lock_guard<std::mutex> g(HandlerLock());
  auto phase4 = [](const auto& e) { return e.phase == 4; };
  return std::any_of(g_lists.exception.begin(), g_lists.exception.end(), phase4) ||
         std::any_of(g_lists.exceptionOO.begin(), g_lists.exceptionOO.end(), phase4);
}

bool HandlersRunningOnMainThread() { return g_onMainThread.load(); }

void InitialiseHandlers() {
  g_initialised = true;
  if (AnySynchronousEntry()) handlers_platform::OpenRouting();
}

void CloseHandlers() {
  g_initialised = false;
  handlers_platform::CloseRouting();
}

bool FireHandlerLists(TFireHandlersParams& p) {
  if (!p.record) return false;
  Lists copy;
  {
    std::lock_guard<std::mutex> g(HandlerLock());
    copy = g_lists;
  }
  bool mainThread = CurrentThreadId() == MainThreadId();
  bool outer = mainThread && g_onMainThread.exchange(true);
  bool called = false;
  uint8_t phase = p.record->Phase();
  if (p.kind == kHandlerKindException) {
    bool early = phase <= 2;
    called = FireList(copy.exceptionOO, copy.exception, p, true, early, early);
    if (!early) p.handled = false;  // handlers cannot suppress the showing or the completion
  } else if (p.kind == kHandlerKindHidden) {
    called = FireList(copy.hiddenOO, copy.hidden, p, false, false, false);
    if (phase > 2) p.handled = false;
  }
  if (mainThread && !outer) g_onMainThread = false;
  return called;
}

bool FireHandlers(uint8_t kind, IRVException* record, bool handled) {
  if (!record || !record->CallHandlers() || ListsEmpty(kind)) return handled;
  TFireHandlersParams p;
  p.kind = kind;
  p.record = record;
  p.handled = handled;
  bool called = FireHandlerLists(p);
  if ((!p.handled || !called) && handlers_platform::MainThreadReachable() &&
      SynchronousEntryExists(kind, record->Phase())) {
    p.callSync = true;
    // A frozen main thread cannot run anything.
    bool done = record->ExceptType() != kExceptFreeze && handlers_platform::CallOnMainThread(p);
    if (!done) {
      p.syncFailed = true;
      FireHandlerLists(p);
    }
  }
  return p.handled;
}

}  // namespace rvx
