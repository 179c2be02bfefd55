// The exception handling pipeline: every interception point ends in HandleException, which hands a
// 56-byte request through a pipe to the handling thread; that thread creates the exception record, applies
// the class filters, starts the report, shows the exception (message box, console text), runs the automatic
// actions and decides whether the program continues, restarts or ends.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "crash/core/exception_record.h"

namespace rvx {

// One handling request as it travels through the pipe (all fields 32-bit in the 32-bit program).
struct THandlingRequest {
  uintptr_t event;  // 0 in the terminating request
  uintptr_t callingThreadId;
  uintptr_t exceptType;
  uintptr_t exceptObject;  // const TExceptObject*
  uintptr_t exceptAddress;
  uintptr_t canContinue;
  uintptr_t stackPointer;
  uintptr_t framePointer;
  uintptr_t context;     // const TContext*
  uintptr_t showReport;  // std::string* receiving the report, or 0
  uintptr_t source;
  uintptr_t relatedObject;
  uintptr_t package;
  uintptr_t preparedStack;
};
static_assert(sizeof(THandlingRequest) == 14 * sizeof(uintptr_t), "request layout");

enum : uint8_t {
  kSourceNone = 0, kSourceFreeze = 1, kSourceShowExceptionMessage = 3, kSourceAppShowException = 4,
  kSourceAppHandleException = 5, kSourceSynchronize = 10, kSourceRuntimeError = 11, kSourceUnhandled = 13,
  kSourceUnhandledOs = 14, kSourceHidden = 15, kSourceThread = 16, kSourceThreadObject = 17
};

// ---- portable decisions -------------------------------------------------------------------------------

// Whether a comma-separated class list names one of the classes (exact match; commas at the ends ignored).
bool ClassListHas(const std::string& list, const std::vector<std::string>& classes);
// 1 or 2 for the class filter that applies, 0 for the general rule.
int ChooseFilter(const std::string& f1Classes, const std::string& f2Classes, const std::vector<std::string>& classes);
// Sets the record's decisions from the filter row of its settings.
void ApplyExceptionFilters(TIRVException& record, IRVModuleSettings& module);

// Times (seconds since 1601) of the last ten exceptions, newest first; 0 = empty.
using ExceptionTimeHistory = std::array<int64_t, 10>;
void PushExceptionTime(ExceptionTimeHistory& history, int64_t now);
// The rule of AutoClose and AutoRestart: 0 never, 1 always, n: ten exceptions within n seconds.
bool AutoRuleApplies(int32_t n, const ExceptionTimeHistory& history, int64_t now);

// The line a console program prints for an exception.
std::string ConsoleExceptionLine(IRVException& record);

// The standard text of an operating-system exception code.
std::string OsExceptionText(uint32_t code, uint32_t address, bool hasModule, const std::string& module, bool write,
                            uint32_t target);

// ---- the pipeline -------------------------------------------------------------------------------------

struct HandleParams {
  uint8_t type = kExceptException;
  ExceptObjectPtr object;
  uintptr_t address = 0;
  std::string* showReport = nullptr;
  ModuleHandle package = 0;
  void* relatedObject = nullptr;
  uint8_t source = 0;
  const TContext* context = nullptr;
  uint32_t framePointer = 0, stackPointer = 0;
  bool canContinue = true;
  uint32_t threadId = 0;  // the raising thread when another thread hands the exception over; 0: the caller
  // The raising thread's stack candidates, collected before its stack was reused (a caught exception).
  const TDAPreStackItem* preparedStack = nullptr;
};
// Handles an exception and returns when it is handled (the program may end or restart instead).
void HandleException(const HandleParams& params);

// Threads (or stretches of a thread) that work for the crash reporter: the exceptions they catch are never
// hidden exceptions of the program. Nestable; the handling thread always counts.
void SetOwnThread(bool own);
bool IsOwnThread();
struct OwnThreadScope {
  OwnThreadScope() { SetOwnThread(true); }
  ~OwnThreadScope() { SetOwnThread(false); }
  OwnThreadScope(const OwnThreadScope&) = delete;
  OwnThreadScope& operator=(const OwnThreadScope&) = delete;
};

// The handling of one request (in the handling thread, or in the raising thread when the process is
// blocked or no handling thread runs). While the process is blocked nothing that may wait for the loader
// lock behind another lock is started (the exception address is not corrected).
void HandleRequest(const THandlingRequest& request, bool processBlocked = false);

// Showing an exception by its show setting; the console form in console programs.
void ShowExceptionRecord(IRVException* record);
// Runs the automatic save and, when asked, waits for a background send.
void FinishAutomaticActions(IRVException* record, bool waitForSend);

// Starts and stops the handling thread.
bool StartHandlingThread();
void StopHandlingThread();
uint32_t HandlingThreadId();

// The exception time history (also restored by a restarted instance).
ExceptionTimeHistory& ExceptionTimes();

// The restart hand-over: named shared memory "RavexRestart" + the new process id (HexText) that the old
// instance writes for the new one. The new instance takes it over only when it carries the marker and its
// own id, when the handle it was given reaches this very block (only the old instance can put such a handle
// into the new process) and when the old process is the one that started it.
struct TRestartHandOver {
  uint32_t oldProcessId;
  uint32_t handle;  // the block's handle duplicated into the new process, which closes it
  int64_t history[10];
  uint32_t marker;  // kRestartMarker
  uint32_t newProcessId;
};
static_assert(sizeof(TRestartHandOver) == 96, "hand-over layout");
constexpr uint32_t kRestartMarker = 0x52585652;  // "RVXR"
std::string RestartHandOverName(uint32_t newProcessId);

// Shows the exception in a window by the show setting 0..3 (the exception box installs itself at start-up,
// RegisterCrashDialogs; without it a plain message box).
using ExceptionBoxRunner = void (*)(IRVException* record, int form);
void SetExceptionBoxRunner(ExceptionBoxRunner runner);  // null: the plain message box

// A console program writes the exception to standard output; with this set it then also shows the box
// (programs that test the box from a console).
void SetConsoleShowsBox(bool show);

// The process-wide idle hook: a modal loop of the crash reporter on the main thread calls it for every
// empty message (number 0), so that the program's pending synchronised calls run.
using IdleHook = void (*)();
void SetIdleHook(IdleHook hook);
void RunIdleHook();

// ---- platform layer -----------------------------------------------------------------------------------

namespace pipeline_platform {
bool IsConsoleProgram();
void WriteStdOut(const std::string& text);
void PlainMessageBox(IRVException* record);
int64_t NowSeconds1601();
void ReleaseEmergencyMemory();
void TakeEmergencyMemory();
void RemoveTempFolder();
void CopyToClipboard(const std::string& text);
// Waits for a send thread to end and closes its handle.
void WaitForSendThread(void* thread);
[[noreturn]] void EndProgram(IRVException* record);
[[noreturn]] void RestartProgram(IRVException* record);
// Writes the hand-over for a new instance that was created suspended (its mapping stays alive through a
// handle duplicated into the new process); false when it could not be written.
bool HandOverToNewInstance(void* process, uint32_t processId);
// Hands the request to the handling thread and waits (running the message loop on the main thread).
// False when no handling thread runs or the write failed; the caller then handles it itself.
bool SendRequest(THandlingRequest& request, bool keepMessageLoop);
bool ProcessBlocked();
ModuleHandle ModuleOfAddress(uintptr_t address);
}  // namespace pipeline_platform

}  // namespace rvx
