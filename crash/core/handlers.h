// The handler registry: code of the program can take part in exception handling through exception handlers
// (called in the phases of an exception) and hidden-exception handlers (called for exceptions that the
// program handled itself). Each handler may mark the event handled, which skips the crash reporter's default
// work. A handler runs in the firing thread (sync mode 0) or in the main thread (1), or in the main thread
// and in the firing thread when the main thread cannot be reached (2).
//
// Not here yet: the action handlers and the assistants run in front of send, save and print, the putting of
// assistant entries into the report, and the list of report plug-ins.
#pragma once

#include <cstdint>
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
// One pass over the lists with the given parameters; true when any entry was called.
bool FireHandlerLists(TFireHandlersParams& params);

// Set while handlers run synchronously on the main thread.
bool HandlersRunningOnMainThread();

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
}  // namespace handlers_platform

}  // namespace rvx
