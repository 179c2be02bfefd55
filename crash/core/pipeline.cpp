#include "crash/core/pipeline.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "crash/core/address_correction.h"
#include "crash/core/freeze.h"
#include "crash/core/handlers.h"
#include "crash/core/web_exception_page.h"
#include "crash/stack/fault_guard.h"
#include "crash/stack/text.h"

namespace rvx {

namespace {
ExceptionTimeHistory g_history{};
std::mutex g_historyMutex;
std::atomic<ExceptionBoxRunner> g_boxRunner{nullptr};
std::atomic<bool> g_consoleShowsBox{false};
std::atomic<IdleHook> g_idleHook{nullptr};
thread_local int t_ownThread = 0;

// Runs one step of the handling; a failure (a C++ exception or a processor fault) ends only that step.
template <class F>
bool Guarded(F&& f) {
  int own = t_ownThread;
  if (FaultGuarded(f)) return true;
  t_ownThread = own;  // the scopes of the abandoned frames did not end
  return false;
}

// The end of every handling, whatever way it takes: paused threads go on, the freeze count starts afresh.
struct HandlingEnd {
  bool threadsPaused = false;
  ~HandlingEnd() {
    if (threadsPaused) Guarded([] { PauseThreads(false); });
    ResetFreezeCounter();
  }
};

// The freeze check stands still while a raising thread waits for its exception to be handled.
struct FreezeCheckPause {
  FreezeCheckPause() { PauseFreezeCheck(true); }
  ~FreezeCheckPause() { PauseFreezeCheck(false); }
  FreezeCheckPause(const FreezeCheckPause&) = delete;
  FreezeCheckPause& operator=(const FreezeCheckPause&) = delete;
};

std::vector<std::string> ClassesOf(IRVException& record) {
  const TExceptObject* e = record.ExceptObject();
  if (!e || record.ExceptType() == kExceptFreeze) return {};
  if (!e->type) return {e->ownClass, "Exception"};
  return TypeAncestry(*e->type);
}

// The automatic actions once the report is complete (a critical callback of the record).
void AutoActionsCallback(bool complete, const std::string& report, IRVException* record) {
  auto ex = Query<IRVExceptionEx>(record);
  if (complete && ex && ex->FirstCompleteCallback() && record->AutoSend()) {
    const RecordHooks& hooks = GetRecordHooks();
    bool handled = hooks.fireActionHandlers && hooks.fireActionHandlers(record, kActionSend, nullptr);
    if (!handled) {
      if (record->AppendScreenShot()) record->ScreenShot();
      if (hooks.deliver) hooks.deliver(record, nullptr, ex->SendThreadSlot(), true, true);
    }
  }
  if (record->AutoClip()) {
    if (complete) pipeline_platform::CopyToClipboard(report);
  } else {
    record->UnregisterBugReportCallback(AutoActionsCallback);
  }
}

}  // namespace

bool ClassListHas(const std::string& list, const std::vector<std::string>& classes) {
  for (int i = 1, n = FieldCount(list, ','); i <= n; ++i) {
    std::string name = TrimText(FieldOf(list, i, ','));
    if (name.empty()) continue;
    for (const auto& c : classes)
      if (c == name) return true;
  }
  return false;
}

int ChooseFilter(const std::string& f1, const std::string& f2, const std::vector<std::string>& classes) {
  if (classes.empty()) return 0;
  if (ClassListHas(f1, classes)) return 1;
  if (ClassListHas(f2, classes)) return 2;
  return 0;
}

void ApplyExceptionFilters(TIRVException& record, IRVModuleSettings& m) {
  int row = ChooseFilter(m.F1Classes(), m.F2Classes(), ClassesOf(record));
  bool noBugRep = row == 1 ? m.F1NoBugRep() : row == 2 ? m.F2NoBugRep() : m.GnNoBugRep();
  bool noScrShot = row == 1 ? m.F1NoScrShot() : row == 2 ? m.F2NoScrShot() : m.GnNoScrShot();
  bool noSuspend = row == 1 ? m.F1NoSuspend() : row == 2 ? m.F2NoSuspend() : m.GnNoSuspend();
  bool noHandlers = row == 1 ? m.F1NoHandlers() : row == 2 ? m.F2NoHandlers() : m.GnNoHandlers();
  uint32_t show = row == 1 ? m.F1ShowCfg() : row == 2 ? m.F2ShowCfg() : m.GnShowCfg();
  std::string assis = row == 1 ? m.F1Assis() : row == 2 ? m.F2Assis() : m.GnAssis();
  record.SetCreateBugReport(!noBugRep);
  record.SetCreateScreenShot(!noScrShot && record.ScrShotDepth() > 0);
  record.SetPauseThreads(!noSuspend && m.PauseThreads());
  record.SetCallHandlers(!noHandlers);
  record.SetShowSetting(static_cast<uint8_t>(show > 4 ? 0 : show));
  record.SetShowAssistant(assis);
  record.SetAppendScreenShot(record.CreateScreenShot());
}

void PushExceptionTime(ExceptionTimeHistory& history, int64_t now) {
  for (size_t i = history.size() - 1; i > 0; --i) history[i] = history[i - 1];
  history[0] = now;
}

bool AutoRuleApplies(int32_t n, const ExceptionTimeHistory& history, int64_t now) {
  if (n <= 0) return false;
  if (n == 1) return true;
  for (int64_t t : history)
    if (t == 0 || now - t > n) return false;
  return true;
}

std::string ConsoleExceptionLine(IRVException& record) {
  std::string text = record.ExceptType() == kExceptFreeze ? record.FrozenMsg() : record.ExceptMsg();
  ReplaceText(text, "%bugReport%", "", true);
  ReplaceText(text, "\r\n", " ");
  return text;
}

std::string OsExceptionText(uint32_t code, uint32_t address, bool hasModule, const std::string& module, bool write,
                            uint32_t target) {
  switch (code) {
    case 0xC0000005:
      if (hasModule)
        return "Access violation at address " + AddressText(address) + " in module '" + module + "'. " +
               (write ? "Write" : "Read") + " of address " + AddressText(target);
      return "Access Violation";
    case 0xC000008C: return "Array bounds exceeded";
    case 0xC000008D: case 0xC0000093: return "Floating point underflow";
    case 0xC000008E: return "Floating point division by zero";
    case 0xC000008F: case 0xC0000090: case 0xC0000092: return "Invalid floating point operation";
    case 0xC0000091: return "Floating point overflow";
    case 0xC0000094: return "Integer division by zero";
    case 0xC0000095: return "Integer overflow";
    case 0xC0000096: return "Privileged instruction";
    case 0xC00000FD: return "Stack overflow";
    case 0xC000013A: return "Control-C hit";
    default: return "External exception " + AddressText(code, false);
  }
}

ExceptionTimeHistory& ExceptionTimes() { return g_history; }

std::string RestartHandOverName(uint32_t newProcessId) { return "RavexRestart" + HexText(newProcessId); }

void SetExceptionBoxRunner(ExceptionBoxRunner runner) { g_boxRunner.store(runner); }
void SetConsoleShowsBox(bool show) { g_consoleShowsBox.store(show); }
void SetIdleHook(IdleHook hook) { g_idleHook.store(hook); }
void RunIdleHook() {
  if (auto hook = g_idleHook.load()) hook();
}

void ShowExceptionRecord(IRVException* record) {
  if (!record) return;
  if (pipeline_platform::IsConsoleProgram() && RunsAsCgiProgram()) {
    // The web server passes standard output to the browser: the page, and no window (no progress window).
    record->SetPlWaitBox(false);
    std::string report = record->CreateBugReport() ? record->CompleteBugReport() : std::string();
    pipeline_platform::WriteStdOut(WebExceptionResponse(GetWebExceptionPageBuilder()(report, record)));
    return;
  }
  if (pipeline_platform::IsConsoleProgram()) {
    std::string out = ConsoleExceptionLine(*record) + "\r\n";
    if ((record->AutoShowBugRep() || record->ShowBtnVis()) && record->CreateBugReport()) {
      record->SetPlWaitBox(false);
      std::string report = record->CompleteBugReport();
      if (!report.empty()) out += "\r\n" + report + "\r\n";
    }
    pipeline_platform::WriteStdOut(out);
    if (!g_consoleShowsBox.load()) return;
  }
  uint8_t show = record->ShowSetting();
  if (show == 4) return;
  if (auto runner = g_boxRunner.load()) {
    runner(record, show);
    return;
  }
  pipeline_platform::PlainMessageBox(record);
}

void FinishAutomaticActions(IRVException* record, bool waitForSend) {
  auto ex = Query<IRVExceptionEx>(record);
  if (!ex) return;
  if (ex->HasCriticalCallback() || (ReportCompleteHandlersExist() && record->CreateBugReport()))
    record->CompleteBugReport();
  // A record without a report has nothing to save (an empty report would only clutter the file).
  if (record->CreateBugReport() && record->AutoSave() && !(record->AutoSaveIfNotSent() && ex->Sent()) &&
      ex->FirstAutoSave()) {
    const RecordHooks& hooks = GetRecordHooks();
    bool handled = hooks.fireActionHandlers && hooks.fireActionHandlers(record, kActionSave, nullptr);
    if (!handled) {
      if (auto* t = dynamic_cast<TIRVException*>(record)) t->SaveReport({}, true);
    }
  }
  void** thread = ex->SendThreadSlot();
  if (waitForSend && thread && *thread) pipeline_platform::WaitForSendThread(std::exchange(*thread, nullptr));
}

void HandleRequest(const THandlingRequest& rq, bool processBlocked) {
  HandlingEnd end;
  Guarded([&] { pipeline_platform::RemoveTempFolder(); });
  const auto* object = reinterpret_cast<const TExceptObject*>(rq.exceptObject);
  // The correction reads symbol data under the symbol cache's lock, which is held around calls that take
  // the loader lock: with that lock held (perhaps by this very thread) the address stays as it is.
  uintptr_t address = rq.exceptAddress;
  if (!processBlocked) Guarded([&] { address = CorrectExceptionAddress(static_cast<Address>(rq.exceptAddress)); });
  Ref<IRVModuleSettings> settings;
  Guarded([&] {
    ModuleHandle m = pipeline_platform::ModuleOfAddress(address);
    if (m) settings = SettingsOfModule(m);
    if (!settings || !settings->Valid()) settings = MainSettings();
  });
  if (!settings) return;
  ExceptionParams p;
  p.settings = settings;
  p.type = static_cast<uint8_t>(rq.exceptType);
  if (object) p.object = std::shared_ptr<const TExceptObject>(std::shared_ptr<const TExceptObject>{}, object);
  p.address = address;
  p.canContinue = rq.canContinue & 0xff;
  p.threadId = static_cast<uint32_t>(rq.callingThreadId);
  p.stackPointer = static_cast<uint32_t>(rq.stackPointer);
  p.framePointer = static_cast<uint32_t>(rq.framePointer);
  p.context = reinterpret_cast<const TContext*>(rq.context);
  p.source = static_cast<uint8_t>(rq.source);
  p.relatedObject = reinterpret_cast<void*>(rq.relatedObject);
  p.package = rq.package;
  p.preparedStack = reinterpret_cast<const TDAPreStackItem*>(rq.preparedStack);
  Ref<TIRVException> record = NewExceptionRecord(p);
  Guarded([&] { ApplyExceptionFilters(*record, *settings); });
  record->SetPhase(1);
  bool handled = false;
  int64_t now = pipeline_platform::NowSeconds1601();
  if (p.type == kExceptHidden) {
    // Only a hidden-exception handler that clears the flag lets it go on like any other exception.
    Guarded([&] { handled = FireHandlers(kHandlerKindHidden, record.get(), true); });
  } else {
    {
      std::lock_guard<std::mutex> g(g_historyMutex);
      PushExceptionTime(g_history, now);
    }
    Guarded([&] { handled = FireHandlers(kHandlerKindException, record.get(), false); });
  }
  record->SetPhase(2);
  // While the loader lock is held the other threads keep running, so that its holder can give it back.
  if (!handled && p.type != kExceptFreeze && record->PauseThreads() && !processBlocked) {
    end.threadsPaused = true;
    Guarded([&] { PauseThreads(true); });
    // Asked again once the pause has begun: a thread that took the lock meanwhile and stood still would keep
    // it for the whole handling, which waits for it; the pause is given up.
    Guarded([&] {
      if (pipeline_platform::ProcessBlocked()) {
        PauseThreads(false);
        end.threadsPaused = false;
      }
    });
  }
  if (!handled) {
    if (record->CreateScreenShot()) record->ScreenShot();
    if (record->CreateBugReport()) Guarded([&] { record->BugReportSections(); });
    Guarded([&] { handled = FireHandlers(kHandlerKindException, record.get(), false); });
  }
  record->SetPhase(3);
  if (!handled) Guarded([&] { FireHandlers(kHandlerKindException, record.get(), false); });
  if (handled && record->CanContinue()) return;
  bool console = pipeline_platform::IsConsoleProgram();
  if (!handled) {
    if (record->AutoSave() || record->AutoSend() || record->AutoClip())
      record->RegisterBugReportCallback(AutoActionsCallback, true);
    if (rq.showReport) {
      Guarded([&] { *reinterpret_cast<std::string*>(rq.showReport) = record->CompleteBugReport(); });
    } else if (!console || record->ShowSetting() != 4) {
      Guarded([&] { ShowExceptionRecord(record.get()); });
    }
  }
  if (!record->CanContinue() || record->ShowSetting() == 4 || console) {
    ExceptionTimeHistory history;
    {
      std::lock_guard<std::mutex> g(g_historyMutex);
      history = g_history;
    }
    bool autoClose = AutoRuleApplies(record->AutoClose(), history, now);
    bool autoRestart = AutoRuleApplies(record->AutoRestart(), history, now);
    const RecordHooks& hooks = GetRecordHooks();
    auto fire = [&](int action) {
      if (hooks.fireActionHandlers) Guarded([&] { hooks.fireActionHandlers(record.get(), action, nullptr); });
    };
    if (autoClose || (!record->CanContinue() && !autoRestart)) {
      fire(kActionClose);
      Guarded([&] { FinishAutomaticActions(record.get(), true); });
      pipeline_platform::EndProgram(record.get());
    } else if (autoRestart) {
      fire(kActionRestart);
      Guarded([&] { FinishAutomaticActions(record.get(), true); });
      pipeline_platform::RestartProgram(record.get());
    } else {
      fire(kActionContinue);
    }
  }
  if (!handled) Guarded([&] { FinishAutomaticActions(record.get(), false); });
}

void SetOwnThread(bool own) { t_ownThread += own ? 1 : -1; }
bool IsOwnThread() { return t_ownThread > 0 || (HandlingThreadId() != 0 && CurrentThreadId() == HandlingThreadId()); }

void HandleException(const HandleParams& params) {
  uint32_t self = CurrentThreadId();
  if (self == HandlingThreadId() && HandlingThreadId() != 0) return;
  if (self == MainThreadId() && HandlersRunningOnMainThread()) return;
  OwnThreadScope own;
  pipeline_platform::ReleaseEmergencyMemory();
  if (ExceptInheritsFrom(params.object.get(), "EAbort")) {
    if (!params.canContinue) pipeline_platform::EndProgram(nullptr);
    pipeline_platform::TakeEmergencyMemory();
    return;
  }
  THandlingRequest rq{};
  rq.callingThreadId = params.threadId ? params.threadId : self;
  rq.exceptType = params.type;
  rq.exceptObject = reinterpret_cast<uintptr_t>(params.object.get());
  rq.exceptAddress = params.address;  // corrected by the handling, once it knows the process is not blocked
  rq.canContinue = params.canContinue;
  rq.stackPointer = params.stackPointer;
  rq.framePointer = params.framePointer;
  if (params.context && params.address >= params.context->Eip && params.address <= params.context->Eip + 4) {
    rq.stackPointer = params.context->Esp;
    rq.framePointer = params.context->Ebp;
  }
  rq.context = reinterpret_cast<uintptr_t>(params.context);
  rq.showReport = reinterpret_cast<uintptr_t>(params.showReport);
  rq.source = params.source;
  rq.relatedObject = reinterpret_cast<uintptr_t>(params.relatedObject);
  rq.package = params.package;
  rq.preparedStack = reinterpret_cast<uintptr_t>(params.preparedStack);
  bool sent = false, blocked = false;
  FreezeCheckPause freezeCheckPaused;
  Guarded([&] {
    bool keepLoop = self == MainThreadId();
    if (keepLoop) {
      if (auto s = MainSettings()) keepLoop = !s->PauseThreads();
    }
    blocked = pipeline_platform::ProcessBlocked();
    sent = !blocked && pipeline_platform::SendRequest(rq, keepLoop);
  });
  if (!sent) Guarded([&] { HandleRequest(rq, blocked); });
  if (HiddenExceptionHandlersRegistered()) Guarded([&] { MarkExceptionReported(params.object.get()); });
  pipeline_platform::TakeEmergencyMemory();
}

}  // namespace rvx
