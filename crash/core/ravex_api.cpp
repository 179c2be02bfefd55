// The interface for programs (crash/ravex.h) over the handler registry, the report plug-ins, the settings
// and the pipeline. Nothing here may raise into the program: every step that reaches into the crash reporter
// runs under a guard.
#include "crash/ravex.h"

#include <typeinfo>

#include "crash/core/handlers.h"
#include "crash/core/pipeline.h"
#include "crash/core/report_plugins.h"
#include "crash/stack/fault_guard.h"
#include "crash/stack/text.h"

namespace ravex {

namespace {

using rvx::IRVException;
using rvx::Ref;

uint8_t SyncMode(Sync sync) { return static_cast<uint8_t>(sync); }
rvx::ExceptHandlerMethod Internal(ExceptionMethod m) { return {m.code, m.object}; }
rvx::ActionHandlerMethod Internal(ActionMethod m) { return {m.code, m.object}; }

// The settings object to read or write: the exception's own, or the program's.
rvx::TIRVSettings* SettingsObject(Exception* exception) {
  Ref<rvx::ISettingsAccess> access;
  if (exception) {
    access = rvx::Query<rvx::ISettingsAccess>(exception);
  } else if (Ref<rvx::IRVModuleSettings> main = rvx::MainSettings()) {
    access = rvx::Query<rvx::ISettingsAccess>(main.get());
  }
  return access ? access->Object() : nullptr;
}

template <class T, class F>
T Read(Exception* exception, F&& read) {
  T value{};
  if (rvx::TIRVSettings* s = SettingsObject(exception)) rvx::FaultGuarded([&] { value = read(*s); });
  return value;
}

template <class F>
bool Write(Exception* exception, F&& write) {
  bool ok = false;
  if (rvx::TIRVSettings* s = SettingsObject(exception)) rvx::FaultGuarded([&] { ok = write(*s); });
  return ok;
}

template <class T, class F>
T Ask(Exception* exception, F&& ask) {
  T value{};
  if (exception) rvx::FaultGuarded([&] { value = ask(*exception); });
  return value;
}

bool Raise(rvx::ExceptObjectPtr object, uintptr_t address, std::string* report) {
  if (!rvx::MainSettings()) return false;
  // Inside the handling (a handler, a plug-in) a new report would wait for itself: it is not raised.
  uint32_t self = rvx::CurrentThreadId();
  if ((rvx::HandlingThreadId() && self == rvx::HandlingThreadId()) ||
      (self == rvx::MainThreadId() && rvx::HandlersRunningOnMainThread()))
    return false;
  rvx::HandleParams p;
  p.object = std::move(object);
  p.address = address;
  p.showReport = report;
  return rvx::FaultGuarded([&] { rvx::HandleException(p); });
}

uintptr_t CallerAddress(void* returnAddress) { return reinterpret_cast<uintptr_t>(returnAddress); }

}  // namespace

// ---- handlers -----------------------------------------------------------------------------------------

void RegisterExceptionHandler(ExceptionHandler handler, Phase phase, Sync sync) {
  rvx::RegisterExceptionHandler(handler, SyncMode(sync), phase);
}
void RegisterExceptionHandler(ExceptionMethod handler, Phase phase, Sync sync) {
  rvx::RegisterExceptionHandler(Internal(handler), SyncMode(sync), phase);
}
void UnregisterExceptionHandler(ExceptionHandler handler) { rvx::UnregisterExceptionHandler(handler); }
void UnregisterExceptionHandler(ExceptionMethod handler) { rvx::UnregisterExceptionHandler(Internal(handler)); }

void RegisterActionHandler(ActionHandler handler, Sync sync) { rvx::RegisterActionHandler(handler, SyncMode(sync)); }
void RegisterActionHandler(ActionMethod handler, Sync sync) {
  rvx::RegisterActionHandler(Internal(handler), SyncMode(sync));
}
void UnregisterActionHandler(ActionHandler handler) { rvx::UnregisterActionHandler(handler); }
void UnregisterActionHandler(ActionMethod handler) { rvx::UnregisterActionHandler(Internal(handler)); }

void RegisterHiddenExceptionHandler(ExceptionHandler handler, Sync sync) {
  rvx::RegisterHiddenExceptionHandler(handler, SyncMode(sync));
}
void RegisterHiddenExceptionHandler(ExceptionMethod handler, Sync sync) {
  rvx::RegisterHiddenExceptionHandler(Internal(handler), SyncMode(sync));
}
void UnregisterHiddenExceptionHandler(ExceptionHandler handler) { rvx::UnregisterHiddenExceptionHandler(handler); }
void UnregisterHiddenExceptionHandler(ExceptionMethod handler) {
  rvx::UnregisterHiddenExceptionHandler(Internal(handler));
}

// ---- report plug-ins ----------------------------------------------------------------------------------

void AddReportPlugin(std::string_view name, std::string_view description, std::function<std::string()> producer,
                     bool ownSection) {
  rvx::AddReportPlugin(std::string(name), std::string(description), std::move(producer), ownSection);
}
void AddReportPlugin(std::string_view name, std::string_view description, std::function<std::wstring()> producer,
                     bool ownSection) {
  std::function<std::string()> narrow = [p = std::move(producer)] { return p ? rvx::WideToAnsi(p()) : std::string(); };
  rvx::AddReportPlugin(std::string(name), std::string(description), std::move(narrow), ownSection);
}
void AddReportPlugin(std::string_view name, std::string_view description,
                     std::function<std::string(Exception*)> producer, bool ownSection) {
  rvx::AddReportPlugin(std::string(name), std::string(description), std::move(producer), ownSection);
}
void AddReportPlugin(std::string_view name, std::string_view description,
                     std::function<std::wstring(Exception*)> producer, bool ownSection) {
  std::function<std::string(IRVException*)> narrow = [p = std::move(producer)](IRVException* e) {
    return p ? rvx::WideToAnsi(p(e)) : std::string();
  };
  rvx::AddReportPlugin(std::string(name), std::string(description), std::move(narrow), ownSection);
}
void RemoveReportPlugin(std::string_view name) { rvx::RemoveReportPlugin(std::string(name)); }

bool EnablePlugin(std::string_view name, bool enabled) {
  return Write(nullptr, [&](rvx::TIRVSettings& s) { return s.SetPluginEnabled(name, enabled); });
}

// ---- settings -----------------------------------------------------------------------------------------

bool BoolSetting(std::string_view name) { return BoolSetting(nullptr, name); }
int32_t IntSetting(std::string_view name) { return IntSetting(nullptr, name); }
std::string TextSetting(std::string_view name) { return TextSetting(nullptr, name); }
bool SetBoolSetting(std::string_view name, bool value) { return SetBoolSetting(nullptr, name, value); }
bool SetIntSetting(std::string_view name, int32_t value) { return SetIntSetting(nullptr, name, value); }
bool SetTextSetting(std::string_view name, std::string_view value) { return SetTextSetting(nullptr, name, value); }

bool BoolSetting(Exception* e, std::string_view name) {
  return Read<bool>(e, [&](rvx::TIRVSettings& s) { return s.ReadBool(name); });
}
int32_t IntSetting(Exception* e, std::string_view name) {
  return Read<int32_t>(e, [&](rvx::TIRVSettings& s) { return s.ReadInt(name); });
}
std::string TextSetting(Exception* e, std::string_view name) {
  return Read<std::string>(e, [&](rvx::TIRVSettings& s) { return s.ReadText(name); });
}
bool SetBoolSetting(Exception* e, std::string_view name, bool value) {
  return Write(e, [&](rvx::TIRVSettings& s) { return s.WriteBool(name, value); });
}
bool SetIntSetting(Exception* e, std::string_view name, int32_t value) {
  return Write(e, [&](rvx::TIRVSettings& s) { return s.WriteInt(name, value); });
}
bool SetTextSetting(Exception* e, std::string_view name, std::string_view value) {
  return Write(e, [&](rvx::TIRVSettings& s) { return s.WriteText(name, value); });
}

// ---- the exception ------------------------------------------------------------------------------------

Kind KindOf(Exception* e) {
  return Ask<Kind>(e, [](IRVException& r) { return static_cast<Kind>(r.ExceptType()); });
}
int PhaseOf(Exception* e) {
  return Ask<int>(e, [](IRVException& r) { return static_cast<int>(r.Phase()); });
}
std::string ClassName(Exception* e) {
  return Ask<std::string>(e, [](IRVException& r) { return r.ExceptClass(); });
}
std::string Message(Exception* e) {
  return Ask<std::string>(e, [](IRVException& r) { return r.ExceptMessage(); });
}
void SetMessage(Exception* e, std::string_view message) {
  Ask<bool>(e, [&](IRVException& r) { return r.SetExceptMessage(message), true; });
}
uintptr_t Address(Exception* e) {
  return Ask<uintptr_t>(e, [](IRVException& r) { return r.ExceptAddress(); });
}
uint32_t ThreadId(Exception* e) {
  return Ask<uint32_t>(e, [](IRVException& r) { return r.CrashedThreadId(); });
}
bool CanContinue(Exception* e) {
  return Ask<bool>(e, [](IRVException& r) { return r.CanContinue(); });
}
std::string Report(Exception* e, bool complete) {
  return Ask<std::string>(e, [&](IRVException& r) { return r.BugReport(complete); });
}
void SetHeaderItem(Exception* e, std::string_view name, std::string_view value) {
  Ask<bool>(e, [&](IRVException& r) {
    if (auto header = r.BugReportHeader()) header->SetContent(name, value);
    return true;
  });
}
void SetSection(Exception* e, std::string_view name, std::string_view text) {
  Ask<bool>(e, [&](IRVException& r) {
    if (auto sections = r.BugReportSections()) sections->SetContent(name, text);
    return true;
  });
}

// ---- reports of the program's own ---------------------------------------------------------------------

bool ReportProblem(std::string_view message, std::string_view className) {
  uintptr_t at = CallerAddress(__builtin_return_address(0));
  return Raise(rvx::MakeOwnException(std::string(message), std::string(className)), at, nullptr);
}

bool ReportException(const std::exception& exception) {
  uintptr_t at = CallerAddress(__builtin_return_address(0));
  // The object is identified by its most derived address, as a throw would give it.
  void* object = const_cast<void*>(dynamic_cast<const void*>(&exception));
  return Raise(rvx::MakeThrownException(object, &typeid(exception)), at, nullptr);
}

std::string ProblemReport(std::string_view message, std::string_view className) {
  uintptr_t at = CallerAddress(__builtin_return_address(0));
  std::string report;
  Raise(rvx::MakeOwnException(std::string(message), std::string(className)), at, &report);
  return report;
}

}  // namespace ravex
