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
  TDAActionHandler action;
  TDAActionHandlerOO actionOO;
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
std::atomic<MainThreadRouter> g_router{nullptr};
std::mutex g_pausingMutex;
MainThreadPausing g_pausing;

MainThreadPausing Pausing() {
  std::lock_guard<std::mutex> g(g_pausingMutex);
  return g_pausing;
}

template <class Entry>
constexpr bool kIsProcedure = std::is_same_v<Entry, TExceptHandler> || std::is_same_v<Entry, TActionHandler>;

template <class Entry, class Routine>
void RemoveEntries(std::vector<Entry>& list, const Routine& routine) {
  std::lock_guard<std::mutex> g(HandlerLock());
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const Entry& e) {
                              if constexpr (kIsProcedure<Entry>) return e.procedure == routine;
                              else return e.method == routine;
                            }),
             list.end());
}

// Calls one entry with the parameters; the exception and hidden-exception entries do not see the action.
void Call(const TExceptHandlerOO& e, TFireHandlersParams& p) { e.method.code(e.method.object, p.record, p.handled); }
void Call(const TExceptHandler& e, TFireHandlersParams& p) { e.procedure(p.record, p.handled); }
void Call(const TActionHandlerOO& e, TFireHandlersParams& p) {
  e.method.code(e.method.object, p.action, p.record, p.handled);
}
void Call(const TActionHandler& e, TFireHandlersParams& p) { e.procedure(p.action, p.record, p.handled); }
template <class Entry>
bool Callable(const Entry& e) {
  if constexpr (kIsProcedure<Entry>) return e.procedure != nullptr;
  else return e.method.code != nullptr;
}
template <class Entry>
uint8_t PhaseOf(const Entry& e) {
  if constexpr (std::is_same_v<Entry, TExceptHandler> || std::is_same_v<Entry, TExceptHandlerOO>) return e.phase;
  else return 0;
}

bool TakesPart(uint8_t syncMode, const TFireHandlersParams& p) {
  return (syncMode != kSyncFiringThread) == p.callSync && (!p.syncFailed || syncMode == kSyncMainThreadOrFiring);
}

// Methods first, then procedures; `stopWhenHandled` ends the walk as soon as the event is handled, and
// `proceduresOnlyUnhandled` skips the procedures of an event that the methods handled. A handler that fails
// (a C++ exception or a processor fault) is left behind; the others still run.
template <class Methods, class Procedures>
bool FireList(const Methods& methods, const Procedures& procedures, TFireHandlersParams& p, bool phaseMatters,
              bool stopWhenHandled, bool proceduresOnlyUnhandled) {
  bool called = false;
  uint8_t phase = p.record->Phase();
  auto walk = [&](const auto& list) {
    for (const auto& e : list) {
      if (stopWhenHandled && p.handled) return false;
      if (!TakesPart(e.syncMode, p) || (phaseMatters && PhaseOf(e) != phase) || !Callable(e)) continue;
      called = true;
      FaultGuarded([&] { Call(e, p); });
    }
    return true;
  };
  if (!walk(methods)) return called;
  if (proceduresOnlyUnhandled && p.handled) return called;
  walk(procedures);
  return called;
}

bool SynchronousEntryExists(uint8_t kind, uint8_t phase) {
  std::lock_guard<std::mutex> g(HandlerLock());
  auto sync = [&](const auto& list, bool phaseMatters) {
    return std::any_of(list.begin(), list.end(), [&](const auto& e) {
      return e.syncMode != kSyncFiringThread && (!phaseMatters || PhaseOf(e) == phase);
    });
  };
  if (kind == kHandlerKindException) return sync(g_lists.exception, true) || sync(g_lists.exceptionOO, true);
  if (kind == kHandlerKindAction) return sync(g_lists.action, false) || sync(g_lists.actionOO, false);
  if (kind == kHandlerKindHidden) return sync(g_lists.hidden, false) || sync(g_lists.hiddenOO, false);
  return false;
}

bool ListsEmpty(uint8_t kind) {
  std::lock_guard<std::mutex> g(HandlerLock());
  if (kind == kHandlerKindException) return g_lists.exception.empty() && g_lists.exceptionOO.empty();
  if (kind == kHandlerKindAction) return g_lists.action.empty() && g_lists.actionOO.empty();
  if (kind == kHandlerKindHidden) return g_lists.hidden.empty() && g_lists.hiddenOO.empty();
  return true;
}

bool AnySynchronousEntry() {
  std::lock_guard<std::mutex> g(HandlerLock());
  auto sync = [](const auto& e) { return e.syncMode != kSyncFiringThread; };
  return std::any_of(g_lists.exception.begin(), g_lists.exception.end(), sync) ||
         std::any_of(g_lists.exceptionOO.begin(), g_lists.exceptionOO.end(), sync) ||
         std::any_of(g_lists.action.begin(), g_lists.action.end(), sync) ||
         std::any_of(g_lists.actionOO.begin(), g_lists.actionOO.end(), sync) ||
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
void RegisterActionHandler(ActionHandlerProc handler, uint8_t syncMode) {
  Append(g_lists.action, TActionHandler{syncMode, handler});
}
void RegisterActionHandler(ActionHandlerMethod handler, uint8_t syncMode) {
  Append(g_lists.actionOO, TActionHandlerOO{syncMode, handler});
}
void UnregisterActionHandler(ActionHandlerProc handler) { RemoveEntries(g_lists.action, handler); }
void UnregisterActionHandler(ActionHandlerMethod handler) { RemoveEntries(g_lists.actionOO, handler); }

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
  } else if (p.kind == kHandlerKindAction) {
    called = FireList(copy.actionOO, copy.action, p, false, true, true);
  } else if (p.kind == kHandlerKindHidden) {
    called = FireList(copy.hiddenOO, copy.hidden, p, false, false, false);
    if (phase > 2) p.handled = false;
  }
  if (mainThread && !outer) g_onMainThread = false;
  return called;
}

namespace {

bool MainThreadReachable() { return g_router.load() || handlers_platform::MainThreadReachable(); }

bool CallOnMainThread(TFireHandlersParams& p) {
  if (MainThreadRouter router = g_router.load()) return router(p);
  return handlers_platform::CallOnMainThread(p);
}

// The firing thread's entries, then the main thread's (or, when it cannot be reached, the entries of mode 2
// once more here).
bool FireRound(uint8_t kind, uint8_t action, IRVException* record, bool handled) {
  if (!record->CallHandlers() || ListsEmpty(kind)) return handled;
  TFireHandlersParams p;
  p.kind = kind;
  p.action = action;
  p.record = record;
  p.handled = handled;
  bool called = FireHandlerLists(p);
  if ((!p.handled || !called) && SynchronousEntryExists(kind, record->Phase())) {
    p.callSync = true;
    // A frozen main thread cannot run anything; without routing it cannot be reached either, and the entries
    // of mode 2 run here.
    bool done = false;
    if (record->ExceptType() != kExceptFreeze && MainThreadReachable()) {
      // A paused main thread is let go for the time of the call.
      MainThreadPausing pausing = Pausing();
      bool resumed = record->PauseThreads() && pausing.resume && pausing.resume();
      done = CallOnMainThread(p);
      if (resumed && pausing.pauseAgain) pausing.pauseAgain();
    }
    if (!done) {
      p.syncFailed = true;
      FireHandlerLists(p);
    }
  }
  return p.handled;
}

std::string AssistantNameFor(IRVException& record, int action) {
  if (action == kActionSend) return record.SendAssis();
  if (action == kActionSave) return record.SaveAssis();
  return record.PrintAssis();
}

}  // namespace

bool FireHandlers(uint8_t kind, IRVException* record, bool handled) {
  if (!record) return handled;
  return FireRound(kind, 0, record, handled);
}

ActionOutcome FireActionHandlers(IRVException* record, int action, WindowHandle window) {
  if (!record || action < 0 || action > 255) return kActionGoesOn;
  if (action == kActionRestart || action == kActionClose) {
    // The program is about to end: whoever waits for the complete report gets it now.
    auto ex = Query<IRVExceptionEx>(record);
    if ((ex && ex->HasCriticalCallback()) || (ReportCompleteHandlersExist() && record->CreateBugReport()))
      record->CompleteBugReport();
  }
  if (FireRound(kHandlerKindAction, static_cast<uint8_t>(action), record, false)) return kActionHandled;
  if (action > kActionPrint || !window) return kActionGoesOn;
  std::string name = AssistantNameFor(*record, action);
  if (!name.empty() && !RunAssistant(*record, name, window)) return kActionCancelled;
  if (FireRound(kHandlerKindAction, static_cast<uint8_t>(action + 3), record, false)) return kActionHandled;
  return kActionGoesOn;
}

bool RunAssistant(IRVException& record, std::string_view name, WindowHandle window) {
  Ref<INVAssistant> assistant = record.Assistant(name);
  if (!assistant) return true;
  bool topmost = handlers_platform::DropTopmost(window);
  int result = 3;
  FaultGuarded([&] { result = assistant->ShowModal(window); });
  if (topmost) handlers_platform::RestoreTopmost(window);
  bool finished = result == 1;
  if (finished) PutAssistantEntriesIntoReport(*assistant, record);
  if (auto access = Query<ISettingsAccess>(&record)) FaultGuarded([&] { access->FillFormCache(*assistant); });
  return finished;
}

void PutAssistantEntriesIntoReport(INVAssistant& assistant, IRVException& record) {
  Ref<IRVFields> header = record.BugReportHeader(), sections = record.BugReportSections();
  if (header && sections) FaultGuarded([&] { assistant.PutIntoReport(*header, *sections); });
}

void SetMainThreadPausing(const MainThreadPausing& pausing) {
  std::lock_guard<std::mutex> g(g_pausingMutex);
  g_pausing = pausing;
}

intptr_t MainThreadHandlersMessage(bool execute, TFireHandlersParams* params) {
  if (MainThreadPausing pausing = Pausing(); pausing.pausePoint) FaultGuarded([&] { pausing.pausePoint(); });
  if (execute && params) FaultGuarded([&] { FireHandlerLists(*params); });
  return kMainThreadAnswer;
}

void SetMainThreadRouter(MainThreadRouter router) { g_router.store(router); }

}  // namespace rvx
