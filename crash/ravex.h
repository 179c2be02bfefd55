// Ravex for programs: the one header through which a program (or a library in it) takes part in the crash
// reporter's work. It registers handlers that are called in the phases of an exception, when an action of
// the exception box or an automatic action runs, and for exceptions the program caught itself; adds report
// plug-ins; reads and changes the settings; and raises a report of its own.
//
// A handler receives the exception as an opaque pointer, read and changed through the functions below, and
// a handled flag: setting it skips the crash reporter's own work for that event (in phases 3 and 4 it cannot
// stop the showing or the completion of the report). Handlers run in the crash reporter's handling thread,
// or in the program's main thread when they ask for it. A handler that fails (throws, or faults) is left
// behind; the others still run.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace rvx {
class IRVException;
}

namespace ravex {

// An exception (or a frozen main thread) being handled. Valid for the duration of a handler's call.
using Exception = rvx::IRVException;

// Where a handler runs.
enum class Sync : uint8_t {
  HandlingThread = 0,       // the crash reporter's handling thread
  MainThread = 1,           // the program's main thread; skipped when that thread cannot be reached
  MainThreadOrHandling = 2  // the main thread, or the handling thread when the main thread cannot be reached
};

// The phases in which exception handlers are called.
enum Phase : uint8_t {
  kFirstRound = 1,      // the exception was just caught; handled: nothing more happens
  kReportPrepared = 2,  // screenshot and report are under way; handled: nothing is shown
  kShowing = 3,         // before the exception is shown
  kReportComplete = 4   // the report is complete
};

// Actions that action handlers see. Send, save and print come twice: before their assistant and just before
// their work.
enum Action : uint8_t {
  kSend = 0, kSave = 1, kPrint = 2,
  kSendNow = 3, kSaveNow = 4, kPrintNow = 5,
  kShowBugReport = 6, kHelp = 7, kContinue = 8, kRestart = 9, kClose = 10
};

// What kind of event an exception is.
enum class Kind : uint8_t { Exception = 0, Freeze = 1, Hidden = 2 };

using ExceptionHandler = void (*)(Exception* exception, bool& handled);
using ActionHandler = void (*)(uint8_t action, Exception* exception, bool& handled);

// A member function of an object as a handler; methods run before plain functions.
struct ExceptionMethod {
  void (*code)(void* object, Exception* exception, bool& handled) = nullptr;
  void* object = nullptr;
};
struct ActionMethod {
  void (*code)(void* object, uint8_t action, Exception* exception, bool& handled) = nullptr;
  void* object = nullptr;
};

// Binds `object->*Member`: Method<&Watcher::OnException>(&watcher).
template <auto Member, class T>
ExceptionMethod Method(T* object)
  requires requires(T* t, Exception* e, bool& h) { (t->*Member)(e, h); }
{
  return {[](void* o, Exception* e, bool& h) { (static_cast<T*>(o)->*Member)(e, h); }, object};
}
template <auto Member, class T>
ActionMethod Method(T* object)
  requires requires(T* t, uint8_t a, Exception* e, bool& h) { (t->*Member)(a, e, h); }
{
  return {[](void* o, uint8_t a, Exception* e, bool& h) { (static_cast<T*>(o)->*Member)(a, e, h); }, object};
}

// ---- handlers: registration appends; unregistration removes every registration of that routine ---------

void RegisterExceptionHandler(ExceptionHandler handler, Phase phase, Sync sync = Sync::HandlingThread);
void RegisterExceptionHandler(ExceptionMethod handler, Phase phase, Sync sync = Sync::HandlingThread);
void UnregisterExceptionHandler(ExceptionHandler handler);
void UnregisterExceptionHandler(ExceptionMethod handler);

void RegisterActionHandler(ActionHandler handler, Sync sync = Sync::HandlingThread);
void RegisterActionHandler(ActionMethod handler, Sync sync = Sync::HandlingThread);
void UnregisterActionHandler(ActionHandler handler);
void UnregisterActionHandler(ActionMethod handler);

// Exceptions that the program caught itself start handled; a handler that clears the flag lets one be
// reported like any other.
void RegisterHiddenExceptionHandler(ExceptionHandler handler, Sync sync = Sync::HandlingThread);
void RegisterHiddenExceptionHandler(ExceptionMethod handler, Sync sync = Sync::HandlingThread);
void UnregisterHiddenExceptionHandler(ExceptionHandler handler);
void UnregisterHiddenExceptionHandler(ExceptionMethod handler);

// ---- report plug-ins ---------------------------------------------------------------------------------

// A named text producer called while a report is completed: its text becomes a section of that name
// (ownSection) or a header item. It contributes when the "Plugins" setting names it (EnablePlugin).
// Several plug-ins may share a name; removing takes out the first.
void AddReportPlugin(std::string_view name, std::string_view description, std::function<std::string()> producer,
                     bool ownSection = true);
void AddReportPlugin(std::string_view name, std::string_view description, std::function<std::wstring()> producer,
                     bool ownSection = true);
void AddReportPlugin(std::string_view name, std::string_view description,
                     std::function<std::string(Exception*)> producer, bool ownSection = true);
void AddReportPlugin(std::string_view name, std::string_view description,
                     std::function<std::wstring(Exception*)> producer, bool ownSection = true);
void RemoveReportPlugin(std::string_view name);
// Adds the name to the program's "Plugins" setting, or takes it out.
bool EnablePlugin(std::string_view name, bool enabled = true);

// ---- settings ----------------------------------------------------------------------------------------

// The program's settings by name ("AutoSave", "MailAddr", ...). Texts come with their placeholders expanded.
// A change holds for the rest of the run; false when the crash reporter is not armed or refuses the value.
bool BoolSetting(std::string_view name);
int32_t IntSetting(std::string_view name);
std::string TextSetting(std::string_view name);
bool SetBoolSetting(std::string_view name, bool value);
bool SetIntSetting(std::string_view name, int32_t value);
bool SetTextSetting(std::string_view name, std::string_view value);
// The same for one exception only (its own overrides come before the program's settings).
bool BoolSetting(Exception* exception, std::string_view name);
int32_t IntSetting(Exception* exception, std::string_view name);
std::string TextSetting(Exception* exception, std::string_view name);
bool SetBoolSetting(Exception* exception, std::string_view name, bool value);
bool SetIntSetting(Exception* exception, std::string_view name, int32_t value);
bool SetTextSetting(Exception* exception, std::string_view name, std::string_view value);

// ---- reading and changing an exception ----------------------------------------------------------------

Kind KindOf(Exception* exception);
int PhaseOf(Exception* exception);
std::string ClassName(Exception* exception);
std::string Message(Exception* exception);
void SetMessage(Exception* exception, std::string_view message);
uintptr_t Address(Exception* exception);
uint32_t ThreadId(Exception* exception);
bool CanContinue(Exception* exception);
// The report text; `complete` waits for the report to be complete.
std::string Report(Exception* exception, bool complete = true);
// Adds or replaces a header item or a section of the report.
void SetHeaderItem(Exception* exception, std::string_view name, std::string_view value);
void SetSection(Exception* exception, std::string_view name, std::string_view text);

// ---- reports of the program's own ---------------------------------------------------------------------

// Reports a problem that the program found itself, as an exception of the class given, from the caller's
// place: handlers, exception box, automatic actions as for any exception. Returns when it is handled (unless
// the user ends or restarts the program). False when the crash reporter is not armed, and inside the
// handling itself (from a handler or a plug-in), where a report would wait for itself.
bool ReportProblem(std::string_view message, std::string_view className = "Exception");
// The same for an exception object that the program caught.
bool ReportException(const std::exception& exception);
// Only composes the complete report of such a problem, without showing anything; empty when not armed.
std::string ProblemReport(std::string_view message, std::string_view className = "Exception");

}  // namespace ravex
