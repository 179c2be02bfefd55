// The handler registry: code of the program can take part in exception handling through exception handlers
// (called in the phases of an exception), action handlers (called when the user or an automatic action
// sends, saves, prints, shows the report, asks for help, continues, restarts or closes) and hidden-exception
// handlers (called for exceptions that the program handled itself). Each handler may mark the event handled,
// which skips the crash reporter's default work. A handler runs in the firing thread (sync mode 0) or in the
// main thread (1), or in the main thread and in the firing thread when the main thread cannot be reached (2).
// In front of send, save and print the assistant that the settings name for it runs (its entries go into the
// report; cancelling it cancels the action). The report plug-ins have their own list (report_plugins.h).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "crash/core/exception_record.h"

namespace rvx {

enum : uint8_t { kSyncFiringThread = 0, kSyncMainThread = 1, kSyncMainThreadOrFiring = 2 };
enum : uint8_t { kHandlerKindException = 0, kHandlerKindAction = 1, kHandlerKindHidden = 2 };

// Exception and hidden-exception handlers: the exception record and the handled flag (in/out).
using ExceptHandlerProc = void (*)(IRVException* record, bool& handled);
using ExceptHandlerMethodCode = void (*)(void* object, IRVException* record, bool& handled);
struct ExceptHandlerMethod {
  ExceptHandlerMethodCode code = nullptr;
  void* object = nullptr;
  bool operator==(const ExceptHandlerMethod&) const = default;
};

struct TExceptHandler {
  uint8_t syncMode = kSyncFiringThread;
  uint8_t phase = 0;  // exception handlers only
  ExceptHandlerProc procedure = nullptr;
};
struct TExceptHandlerOO {
  uint8_t syncMode = kSyncFiringThread;
  uint8_t phase = 0;
  ExceptHandlerMethod method;
};
using TDAExceptHandler = std::vector<TExceptHandler>;
using TDAExceptHandlerOO = std::vector<TExceptHandlerOO>;

// Action handlers: the action code (kActionSend ... kActionClose, and the three below), the exception record
// and the handled flag (in/out).
using ActionHandlerProc = void (*)(uint8_t action, IRVException* record, bool& handled);
using ActionHandlerMethodCode = void (*)(void* object, uint8_t action, IRVException* record, bool& handled);
struct ActionHandlerMethod {
  ActionHandlerMethodCode code = nullptr;
  void* object = nullptr;
  bool operator==(const ActionHandlerMethod&) const = default;
};
struct TActionHandler {
  uint8_t syncMode = kSyncFiringThread;
  ActionHandlerProc procedure = nullptr;
};
struct TActionHandlerOO {
  uint8_t syncMode = kSyncFiringThread;
  ActionHandlerMethod method;
};
using TDAActionHandler = std::vector<TActionHandler>;
using TDAActionHandlerOO = std::vector<TActionHandlerOO>;

// Send, save and print are fired twice: before their assistant (0, 1, 2) and after it, just before the work.
enum : uint8_t { kActionSendNow = 3, kActionSaveNow = 4, kActionPrintNow = 5 };

// Registration appends to the list (under the handler lock); unregistration removes every entry of that
// routine.
void RegisterExceptionHandler(ExceptHandlerProc handler, uint8_t syncMode, uint8_t phase);
void RegisterExceptionHandler(ExceptHandlerMethod handler, uint8_t syncMode, uint8_t phase);
void UnregisterExceptionHandler(ExceptHandlerProc handler);
void UnregisterExceptionHandler(ExceptHandlerMethod handler);
void RegisterHiddenExceptionHandler(ExceptHandlerProc handler, uint8_t syncMode);
void RegisterHiddenExceptionHandler(ExceptHandlerMethod handler, uint8_t syncMode);
void UnregisterHiddenExceptionHandler(ExceptHandlerProc handler);
void UnregisterHiddenExceptionHandler(ExceptHandlerMethod handler);
void RegisterActionHandler(ActionHandlerProc handler, uint8_t syncMode);
void RegisterActionHandler(ActionHandlerMethod handler, uint8_t syncMode);
void UnregisterActionHandler(ActionHandlerProc handler);
void UnregisterActionHandler(ActionHandlerMethod handler);

bool HiddenExceptionHandlersRegistered();
// Whether an exception handler waits for the complete report (phase 4).
bool ReportCompleteHandlersExist();

// What travels to the main thread for a synchronous call.
struct TFireHandlersParams {
  uint8_t kind = kHandlerKindException;
  uint8_t action = 0;
  IRVException* record = nullptr;
  bool handled = false;
  bool callSync = false;
  bool syncFailed = false;
};

// Fires the handlers of a kind for the record in its current phase: the ones of the firing thread, then, if
// the event is still not handled (or nobody was called), the synchronous ones in the main thread; when the
// main thread cannot be reached the sync-mode-2 entries run here. Does nothing when the record's
// call-handlers flag is off. Returns the handled flag.
bool FireHandlers(uint8_t kind, IRVException* record, bool handled);

// Fires the action handlers for a user or automatic action. Restart and close first complete the report when
// someone waits for it. For send, save and print with a window (interactive), the assistant named by
// SendAssis, SaveAssis or PrintAssis then runs over that window: finished, its entries go into the report;
// cancelled, the action is cancelled; either way the entries are remembered in the form cache. Unless
// handled or cancelled, the handlers are fired once more with kActionSendNow, kActionSaveNow or
// kActionPrintNow. The assistant runs even when the record's call-handlers flag is off.
ActionOutcome FireActionHandlers(IRVException* record, int action, WindowHandle window);
// One pass over the lists with the given parameters; true when any entry was called.
bool FireHandlerLists(TFireHandlersParams& params);

// Runs the assistant of that name modally over the window (a topmost window leaves the topmost band
// meanwhile); finished, its entries go into the record's report; either way they are remembered in the form
// cache. False only when the user cancelled it; true also when there is no such assistant.
bool RunAssistant(IRVException& record, std::string_view name, WindowHandle window);

// What the user entered in an assistant's pages closed with Continue, into the record's report: check boxes
// with an output name as header items ("yes" or "no"), edits with an output name and a text as header items,
// or as a section when they ask for one and hold more than one line.
void PutAssistantEntriesIntoReport(INVAssistant& assistant, IRVException& record);

// Set while handlers run synchronously on the main thread.
bool HandlersRunningOnMainThread();

// The main thread's message routine: a probe (execute false) only answers; execute fires the lists with
// the parameters. The answer is always kMainThreadAnswer.
constexpr intptr_t kMainThreadAnswer = 777;
intptr_t MainThreadHandlersMessage(bool execute, TFireHandlersParams* params);

// How the registry meets the pausing of threads: the main thread's message routine is a pause point (it
// pauses there while it is asked to), and a paused main thread is resumed for the time of a synchronous call
// when the record's PauseThreads is on (resume answers whether it resumed it). Set by the pausing; each may
// stay empty.
struct MainThreadPausing {
  void (*pausePoint)() = nullptr;
  bool (*resume)() = nullptr;
  void (*pauseAgain)() = nullptr;
};
void SetMainThreadPausing(const MainThreadPausing& pausing);

// Replaces the platform's way to the main thread (tests; null restores it). The router runs the parameters
// on the main thread through MainThreadHandlersMessage and answers whether that succeeded.
using MainThreadRouter = bool (*)(TFireHandlersParams& params);
void SetMainThreadRouter(MainThreadRouter router);

// The main thread's routing for synchronous handlers: its message window and handler. Initialised on the
// main thread at start; the window is made only once a synchronous handler exists (registered before, or
// later on the main thread), because making a window is costly at start. A synchronous handler registered
// later by another thread finds no routing: it runs as if the main thread could not be reached.
void InitialiseHandlers();
void CloseHandlers();

namespace handlers_platform {
// Creates the routing on the calling thread (the main thread) once; removes it.
void OpenRouting();
void CloseRouting();
// Sends the parameters to the main thread's message routine (probe, then execute); false when the main
// thread did not answer.
bool CallOnMainThread(TFireHandlersParams& params);
bool MainThreadReachable();
// Takes a topmost window out of the topmost band (true when it was there); puts it back.
bool DropTopmost(WindowHandle window);
void RestoreTopmost(WindowHandle window);
}  // namespace handlers_platform

}  // namespace rvx
