#include "crash/core/exception_record.h"
#include "crash/delivery/fields.h"
#include "crash/core/pipeline.h"

#include <chrono>
#include <algorithm>

#include "crash/core/report_plugins.h"
#include "crash/core/sysinfo.h"
#include "crash/delivery/deflate.h"
#include "crash/stack/fault_guard.h"
#include "crash/stack/text.h"

namespace rvx {

namespace {

RecordHooks g_hooks;
std::atomic<int64_t> g_reportNumber{0};
std::atomic<uint32_t> g_handlingThreadId{0};
std::mutex g_handlerLock;  // the callback lists of every record

const char* kCompilerText = "GCC " __VERSION__;
constexpr const char* kSoon = ">> will be calculated soon";

std::string NarrowFileName(const std::wstring& path) { return WideToAnsi(FileNameOf(path)); }

}  // namespace

void SetRecordHooks(const RecordHooks& hooks) { g_hooks = hooks; }
const RecordHooks& GetRecordHooks() { return g_hooks; }
int64_t ReportNumberCounter() { return g_reportNumber.load(); }
void TIRVException::SetHandlingThreadId(uint32_t id) { g_handlingThreadId.store(id); }

TIRVException::TIRVException(const ExceptionParams& p)
    : TIRVSettings(p.settings),
      object_(p.object),
      type_(p.type),
      address_(p.address),
      threadId_(p.threadId ? p.threadId : CurrentThreadId()),
      stackPointer_(p.stackPointer),
      framePointer_(p.framePointer),
      source_(p.source),
      related_(p.relatedObject),
      package_(p.package),
      dontCompleteYet_(p.dontCompleteYet),
      time_(record_platform::LocalNow()) {
  canContinue_ = p.canContinue;
  canContinueInitially_ = p.canContinue;
  if (p.context) {
    context_ = *p.context;
    hasContext_ = true;
  }
  if (p.preparedStack && p.preparedStack->size() > 1) preparedStack_ = *p.preparedStack;
  header_ = CreateFields(this, nullptr);
  sections_ = CreateFields(this, nullptr);
  Query<IRVFieldsEx>(header_)->AcceptData();
  Query<IRVFieldsEx>(sections_)->AcceptData();
}

TIRVException::~TIRVException() {
  completion_->destroying = true;  // no change event may take a reference any more
  completion_->abort = true;
  if (auto h = Query<IRVFieldsEx>(header_)) h->ClearOwnerRecord();
  if (auto s = Query<IRVFieldsEx>(sections_)) s->ClearOwnerRecord();
  // The completion thread has given up its reference by now: it has ended, or it is the thread that runs
  // this destructor.
  std::thread thread;
  {
    std::lock_guard<std::mutex> g(threadMutex_);
    thread = std::move(completeThread_);
  }
  if (thread.joinable()) {
    if (thread.get_id() == std::this_thread::get_id())
      thread.detach();
    else
      thread.join();
  }
  if (sendThread_) record_platform::CloseThreadHandle(sendThread_);
}

uint32_t TIRVException::Release() {
  std::shared_ptr<CompletionState> state = completion_;
  uint32_t left = TIRVSettings::Release();
  if (left == 1 && state->threadHolds.load()) state->abort = true;
  return left;
}

Ref<TIRVException> NewExceptionRecord(const ExceptionParams& params) { return MakeRef<TIRVException>(params); }

void TIRVException::SetCanContinue(bool value) {
  if (!value || canContinueInitially_) canContinue_ = value;
}

std::string TIRVException::ExceptClass() {
  std::lock_guard<std::mutex> g(textMutex_);
  if (!haveClass_) {
    // The object belongs to the program: reading it may fault.
    if (!FaultGuarded([&] { classText_ = ExceptClassName(object_.get()); })) classText_ = "Unknown";
    haveClass_ = true;
  }
  return classText_;
}

std::string TIRVException::ExceptMessage() {
  std::string cls = ExceptClass();
  std::lock_guard<std::mutex> g(textMutex_);
  if (!haveMessage_) {
    std::string raw;
    bool read = false;
    // The message comes from the program's object (a what() of its own may fault): a message that cannot
    // be read counts as none.
    FaultGuarded([&] {
      bool carries = ExceptInheritsFrom(object_.get(), "RvxException") ||
                     ExceptInheritsFrom(object_.get(), "Exception") || ExceptInheritsFrom(object_.get(), "std::exception");
      read = carries && rvx::ExceptMessage(object_.get(), raw);
    });
    if (!read) raw = cls;
    messageText_ = ReportMessageText(raw);
    haveMessage_ = true;
  }
  return messageText_;
}

void TIRVException::SetExceptMessage(std::string_view message) {
  std::lock_guard<std::mutex> g(textMutex_);
  messageText_ = std::string(message);
  haveMessage_ = true;
}

std::string TIRVException::ShowAssistant() { return showAssistant_; }
void TIRVException::SetShowAssistant(std::string_view v) { showAssistant_ = std::string(v); }

// ---- header -------------------------------------------------------------------------------------------

void TIRVException::ComposeHeader() {
  NamedTexts items;
  int counted = 0;
  // Adds an item whose condition holds: it counts for the insertion point even when its value is empty.
  auto item = [&](const char* name, auto&& compute, bool countEmpty = true) {
    std::string value;
    if (!FaultGuarded([&] { value = TrimText(compute()); })) return;
    if (countEmpty || !value.empty()) ++counted;
    if (!value.empty()) items.emplace_back(name, value);
  };
  std::wstring program = record_platform::ProgramPath();
  std::wstring own = record_platform::OwnModulePath();
  bool ownIsProgram = EqualTextCI(program, own) || own.empty();

  item("date/time", [&] { return ReportDateTimeText(time_); });
  item("computer name", [] { return ComputerNameText(); });
  item("wts client name", [] { return TerminalClientName(); });
  item("user name", [] {
    std::string u = record_platform::UserName();
    return u.empty() ? u : u + (UserIsAdmin() ? "  <admin>" : "");
  });
  item("registered owner", [] {
    std::string key = std::string("Software\\Microsoft\\Windows") + (record_platform::IsNT() ? " NT" : "") +
                      "\\CurrentVersion";
    std::string owner = RegistryText(RegistryRoot::LocalMachine, key, "RegisteredOwner");
    std::string org = RegistryText(RegistryRoot::LocalMachine, key, "RegisteredOrganization");
    return org.empty() ? owner : owner + " / " + org;
  });
  item("operating system", [] { return OsVersionText(); });
  item("system language", [] { return OsLanguageText(); });
  item("system up time", [] { return SystemUpTimeText(); });
  item("program up time", [] { return ProgramUpTimeText(); });
  std::string cpu;
  FaultGuarded([&] { cpu = CpuNameText(); });
  if (!cpu.empty()) {
    int n = 1;
    FaultGuarded([&] { n = CpuCount(); });
    if (n <= 1)
      item("processor", [&] { return cpu; });
    else
      item("processors", [&] { return DecimalText(n) + "x " + cpu; });
  }
  item("physical memory", [] { return PhysicalMemoryText(); });
  if (record_platform::Is9x()) item("system resources", [] { return SystemResourcesText(); });
  item("free disk space", [&] {
    std::wstring windows = record_platform::WindowsFolder();
    char w = windows.size() >= 2 && windows[1] == L':' ? static_cast<char>(windows[0]) : '\\';
    std::string text = DiskFreeText(w);
    if (program.size() >= 2 && program[1] == L':' && LowerText(std::string(1, static_cast<char>(program[0]))) !=
                                                          LowerText(std::string(1, w))) {
      std::string other = DiskFreeText(static_cast<char>(program[0]));
      if (!other.empty()) text += " " + other;
    }
    return text;
  });
  item("display mode", [] { return DisplayModeText(); });
  item("process id", [] { return HexText(record_platform::ProcessId()); });
  item("allocated memory", [] { return AllocatedMemoryText(); });
  std::string commandLine = record_platform::CommandLineWithArguments();
  if (!commandLine.empty()) item("command line", [&] { return commandLine; });
  item("executable", [&] { return NarrowFileName(program); });
  if (!ownIsProgram) item("current module", [&] { return NarrowFileName(own); });
  const std::wstring& dated = ownIsProgram ? program : own;
  item(ownIsProgram ? "exec. date/time" : "module date/time", [&] {
    ReportTime t;
    return record_platform::FileTime(dated, t) ? FileDateTimeText(t) : std::string();
  });
  item("version", [&] {
    std::string v = VersionText();
    return v.empty() ? record_platform::ModuleFileVersion(dated) : v;
  }, false);
  item("bde version", [] { return record_platform::LoadedModuleVersion("idapi32.dll"); }, false);
  item("compiled with", [] { return std::string(kCompilerText); });
  item("Ravex version", [] { return std::string("3.0o"); });
  for (const TReportPlugin& p : ChosenReportPlugins(ReadText("Plugins"), false))
    item(p.name.c_str(), [&] { return ReportPluginText(p, this); }, false);
  int insertion = counted - 1;
  items.emplace_back("callstack crc", "will be calculated soon");
  items.emplace_back("exception number", DecimalText(++g_reportNumber));
  if (type_ != kExceptFreeze) {
    std::string cls = ExceptClass();
    items.emplace_back("exception class", cls);
    std::string msg = ExceptMessage();
    if (msg != cls && msg != cls + ".") items.emplace_back("exception message", msg);
  } else {
    items.emplace_back("exception message", FrozenMsg());
  }
  BeginUpdate();
  header_->Lock();
  for (const auto& [n, v] : items) header_->Add(n, v);
  Query<IRVFieldsEx>(header_)->SetInsertionIndex(insertion);
  header_->Unlock();
  EndUpdate();
}

Ref<IRVFields> TIRVException::BugReportHeader() {
  {
    std::lock_guard<std::recursive_mutex> g(composeMutex_);
    if (createBugReport_ && header_->Count() == 0) ComposeHeader();
  }
  return header_;
}

// ---- sections -----------------------------------------------------------------------------------------

void TIRVException::PrepareThreads() {
  std::vector<uint32_t> ids;
  bool list = ListThreads();
  if (list) ids = ListThreadIds();
  uint32_t main = MainThreadId();
  std::vector<uint32_t> order;
  if (type_ == kExceptFreeze && main) {
    order.push_back(main);
  } else {
    order.push_back(threadId_);
    if (main && main != threadId_) order.push_back(main);
  }
  for (uint32_t id : ids)
    if (std::find(order.begin(), order.end(), id) == order.end()) order.push_back(id);
  bool showRelAddrs = ShowRelAddrs(), showRelLines = ShowRelLines();
  for (size_t i = 0; i < order.size(); ++i) {
    uint32_t id = order[i];
    bool isExceptionThread = type_ != kExceptFreeze && id == threadId_;
    uint32_t creatorThread = 0, creator = 0;
    std::string title = ThreadTitle(id, isExceptionThread || IncludeOwnThreads(), &creator, &creatorThread);
    if (title.empty()) continue;
    title += ":";
    std::string content = ">> stack not accessible";
    if (isExceptionThread)
      content += ", exception location: \r\n" + StackLineText(static_cast<uint32_t>(address_), showRelAddrs, showRelLines);
    if (!FaultGuarded([&] {
          ThreadStateInfo state;
          bool ok = ThreadState(id, state);
          if (!ok && !(isExceptionThread && (hasContext_ || framePointer_))) return;
          if (ok && state.suspended) title += " <suspended>";
          if (ok && state.priority != 0) title += " <priority:" + DecimalText(state.priority) + ">";
          TThreadStack t;
          t.threadId = id;
          t.title = title;
          t.stackBottom = state.stackBottom;
          t.stackTop = state.stackTop;
          t.ebp = state.ebp;
          // The name registry keeps the creator's return address; the walker shows the call itself.
          t.creatorAddress = creator ? CallSiteOf(creator) : 0;
          t.creatorThreadId = creatorThread;
          uint32_t collectFrom = 0;
          if (isExceptionThread) {
            t.isException = true;
            t.externalException = ExceptInheritsFrom(object_.get(), "EExternal");
            t.termination = ExceptClass() == "BcbTermination";
            t.currentAddress = static_cast<uint32_t>(address_);
            uint32_t esp = hasContext_ ? context_.Esp : stackPointer_;
            uint32_t ebp = hasContext_ ? context_.Ebp : framePointer_;
            if (esp) {
              t.stackBottom = esp;
              if (uint32_t end = StackEnd(esp)) t.stackTop = end;
            }
            if (ebp) t.ebp = ebp;
            if (!hasContext_) collectFrom = t.currentAddress;
          }
          // The cheap part of the walk now, while the thread's stack still holds what it held; for the
          // exception thread it may have been done before its stack was reused.
          if (isExceptionThread && !preparedStack_.empty())
            t.candidates.swap(preparedStack_);
          else if (t.stackTop > t.stackBottom &&
                   CollectStackCandidates(t.ebp, t.stackTop, t.stackBottom, t.candidates, t.isException,
                                          collectFrom) <= 0)
            TDAPreStackItem().swap(t.candidates);
          threads_.push_back(t);
          content = StackLineText(t.currentAddress, showRelAddrs, showRelLines) + "\r\n>> stack will be calculated soon";
          if (!t.currentAddress) content = ">> stack will be calculated soon";
        }))
      content = InternalErrorText("GetThreadStack");
    sections_->Add(title, content);
    threadSections_.push_back(title);
  }
}

void TIRVException::ComposeSections(bool startCompletion) {
  {
    std::lock_guard<std::recursive_mutex> g(composeMutex_);
    if (!createBugReport_ || sections_->Count() != 0) return;
    BeginUpdate();
    sections_->Lock();
    FaultGuarded([&] { PrepareThreads(); });
    FaultGuarded([&] {
      for (const TReportPlugin& p : ChosenReportPlugins(ReadText("Plugins"), true)) sections_->Add(p.name, kSoon);
    });
    if (CpuRegs() && hasContext_) sections_->Add("cpu registers", kSoon);
    if (StackDump() && hasContext_) sections_->Add("stack dump", kSoon);
    if (ShowDisAsm() && GetDisassemblyHook()) sections_->Add("disassembling", kSoon);
    sections_->Unlock();
    EndUpdate();
  }
  if (!startCompletion || dontCompleteYet_ || completionStarted_.exchange(true)) return;
  bool started = false;
  if (CurrentThreadId() == g_handlingThreadId.load() && !record_platform::ProcessBlocked()) {
    std::shared_ptr<CompletionState> state = completion_;
    std::lock_guard<std::mutex> g(threadMutex_);
    state->threadHolds = true;
    started = FaultGuarded([&] {
      completeThread_ = std::thread([self = Ref<TIRVException>(this), state]() mutable {
        OwnThreadScope own;
        self->completeThreadId_ = CurrentThreadId();
        self->RunCompletion();
        state->finished = true;
        state->threadHolds = false;
        self.reset();  // the last reference ends the record here
      });
    });
    state->started = started;
    if (!started) state->threadHolds = false;
  }
  if (!started) RunCompletion();
}

Ref<IRVFields> TIRVException::BugReportSections() {
  BugReportHeader();
  ComposeSections(true);
  return sections_;
}

void TIRVException::UpdateSection(const std::string& name, const std::string& content, const std::string& newName) {
  BeginUpdate();
  FaultGuarded([&] {
    sections_->SetContent(name, content);
    if (!newName.empty() && !content.empty()) {
      int i = sections_->Find(name);
      if (i >= 0) sections_->SetItemName(i, newName);
    }
    if (--pending_ == 0) {
      header_->SetContent("callstack crc", HexText(crc_[0], 8) + ", " + HexText(crc_[1], 8) + ", " + HexText(crc_[2], 8));
      // Modules with minimal symbol data: "name.rvx" with the fingerprint, for finding their full data later.
      for (const std::string& note : moduleNotes_) {
        size_t bar = note.find('|');
        if (bar != std::string::npos) header_->Add(note.substr(0, bar) + ".rvx", note.substr(bar + 1));
      }
      // Complete only once the checksums are in: a waiting reader renders at once and would otherwise save
      // "will be calculated soon". The change event of this update then reports the report complete.
      complete_ = true;
    }
  });
  EndUpdate();
}

void TIRVException::RunCompletion() {
  std::lock_guard<std::mutex> once(completionMutex_);  // the synchronous and the threaded path
  if (complete_) return;
  // A change callback that asks for the complete report from inside the completion gets what is there.
  completingThread_ = CurrentThreadId();
  struct Leave {
    std::atomic<uint32_t>& id;
    ~Leave() { id = 0; }
  } leave{completingThread_};
  const std::atomic<bool>& abortCompletion = completion_->abort;
  if (!ListThreads() && threadSections_.size() > 1) {
    // Only the first thread is reported: the others' sections go, placeholders and all.
    const std::string kept = threads_.empty() ? threadSections_[0] : threads_[0].title;
    BeginUpdate();
    for (const std::string& title : threadSections_)
      if (title != kept) FaultGuarded([&] { sections_->SetContent(title, ""); });
    if (threads_.size() > 1) threads_.resize(1);
    EndUpdate();
  }
  bool regs = sections_->Find("cpu registers") >= 0, dump = sections_->Find("stack dump") >= 0;
  bool disasm = sections_->Find("disassembling") >= 0;
  std::vector<TReportPlugin> plugins;
  FaultGuarded([&] {
    for (TReportPlugin& p : ChosenReportPlugins(ReadText("Plugins"), true))
      if (sections_->Find(p.name) >= 0) plugins.push_back(std::move(p));
  });
  pending_ = static_cast<int>(threads_.size()) + (regs ? 1 : 0) + (dump ? 1 : 0) + (disasm ? 1 : 0) +
             static_cast<int>(plugins.size());
  StackTextOptions options;
  options.hideUglyItems = HideUglyItems();
  options.showRelAddrs = ShowRelAddrs();
  options.showRelLines = ShowRelLines();
  options.abort = reinterpret_cast<const volatile bool*>(&abortCompletion);
  auto threadSection = [&](size_t i) {
    TraceResult r;
    if (FaultGuarded([&] { r = ThreadStackText(threads_[i], options); })) {
      for (const std::string& id : r.minimalIds)
        if (std::none_of(moduleNotes_.begin(), moduleNotes_.end(), [&](const std::string& n) { return EqualTextCI(n, id); }))
          moduleNotes_.push_back(id);
    } else
      r.text = InternalErrorText("GetThreadReport", threads_[i].isException ? threads_[i].currentAddress : 0,
                                 options.showRelAddrs, options.showRelLines);
    if (r.text.empty()) r.text = ">> stack not accessible";
    return r;
  };
  if (pending_ == 0) {
    BeginUpdate();
    header_->SetContent("callstack crc", HexText(0, 8) + ", " + HexText(0, 8) + ", " + HexText(0, 8));
    complete_ = true;
    EndUpdate();
  }
  uint32_t exceptionFunction = 0, exceptionFunctionAddress = 0;
  if (!threads_.empty() && !abortCompletion) {
    TraceResult r = threadSection(0);
    crc_[0] = r.crcFirst;
    crc_[1] = crc_[2] = r.crcCombined;
    exceptionFunction = r.exceptionFunctionStart;
    exceptionFunctionAddress = r.exceptionFunctionAddress;
    UpdateSection(threads_[0].title, r.text);
  }
  if (regs && !abortCompletion) {
    std::string t;
    if (!FaultGuarded([&] { t = CpuRegistersText(context_); })) t = InternalErrorText("GetCpuRegisters");
    UpdateSection("cpu registers", t);
  }
  if (dump && !abortCompletion) {
    std::string t;
    if (!FaultGuarded([&] {
          uint32_t esp = context_.Esp, end = RegionEnd(esp);
          uint32_t n = end > esp ? std::min<uint32_t>(end - esp, 320) : 0;
          std::vector<uint8_t> bytes(n);
          if (n && !ReadProcessMemorySafe(esp, bytes.data(), n)) n = 0;
          t = StackDumpText(esp, bytes.data(), n);
        }))
      t = InternalErrorText("GetStackDump");
    UpdateSection("stack dump", t);
  }
  if (disasm && !abortCompletion) {
    std::string t;
    if (!FaultGuarded([&] {
          DisassemblyHook hook = GetDisassemblyHook();
          if (hook && exceptionFunction)
            t = hook(exceptionFunction, exceptionFunctionAddress, FormatDisAsm(),
                     static_cast<uint32_t>(std::max(0, LimitDisAsm())));
        }))
      t = InternalErrorText("GetCleartextDisAsm");
    UpdateSection("disassembling", t);
  }
  for (const TReportPlugin& p : plugins) {
    if (abortCompletion) break;
    UpdateSection(p.name, ReportPluginText(p, this));
  }
  for (size_t i = 1; i < threads_.size() && !abortCompletion; ++i) {
    TraceResult r = threadSection(i);
    if (r.hasLineNumbers) {
      uint8_t b[4] = {uint8_t(r.crcCombined), uint8_t(r.crcCombined >> 8), uint8_t(r.crcCombined >> 16),
                      uint8_t(r.crcCombined >> 24)};
      crc_[2] = Crc32Update(crc_[2], b, 4);
    }
    UpdateSection(threads_[i].title, r.text);
  }
  // Still referenced by someone besides a completion thread: the report-complete round runs.
  if (complete_ && !abortCompletion && phase_.load() == 3) {
    phase_ = 4;
    if (g_hooks.fireExceptionHandlers) FaultGuarded([&] { g_hooks.fireExceptionHandlers(this); });
  }
}

void TIRVException::CompleteNow() {
  BugReportHeader();
  ComposeSections(false);
  RunCompletion();
}

void TIRVException::WaitForCompletion() {
  if (complete_ || completingThread_.load() == CurrentThreadId()) return;  // never wait for oneself
  if (!completion_->started) {
    RunCompletion();
    return;
  }
  while (!complete_ && !completion_->finished) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// ---- rendering and change tracking --------------------------------------------------------------------

std::string TIRVException::Render() {
  NamedTexts header, sections;
  auto read = [](IRVFields& list, NamedTexts& out) {
    list.Lock();
    for (int i = 0, n = list.Count(); i < n; ++i) {
      std::string name = list.ItemName(i);
      out.emplace_back(name, list.Content(name));
    }
    list.Unlock();
  };
  read(*header_, header);
  read(*sections_, sections);
  return RenderReport(header, sections);
}

std::string TIRVException::BugReport(bool mustBeComplete) {
  std::string cached;
  uint64_t counter;
  bool cachedComplete;
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    cached = reportText_;
    counter = changeCounter_;
    cachedComplete = reportTextComplete_;
  }
  if (!createBugReport_) return cached;
  // A text cached before completion stays cached until the completing change is counted; it must not be
  // taken for the complete report in between.
  if (!cached.empty() && (!mustBeComplete || cachedComplete)) return cached;
  BugReportHeader();
  ComposeSections(true);
  if (mustBeComplete) WaitForCompletion();
  bool complete = complete_;  // read before rendering: everything it stands for is written by then
  std::string text = Render();
  std::lock_guard<std::recursive_mutex> g(lock_);
  if (changeCounter_ == counter) {
    reportText_ = text;
    reportTextComplete_ = complete;
  }
  return text;
}

void TIRVException::SetBugReport(std::string_view report) {
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    reportText_ = std::string(report);
    reportTextComplete_ = true;  // a text set from outside is the report
  }
  FireChange();
}

void TIRVException::BeginUpdate() { ++updateCount_; }

void TIRVException::EndUpdate() {
  if (--updateCount_ == 0 && dirty_) MarkModified();
}

void TIRVException::MarkModified() {
  if (updateCount_.load() > 0) {
    dirty_ = true;
    return;
  }
  dirty_ = false;
  {
    std::lock_guard<std::recursive_mutex> g(lock_);
    ++changeCounter_;
    reportText_.clear();
  }
  FireChange();
}

void TIRVException::FireChange() {
  std::vector<std::pair<BugReportCallback, bool>> procs;
  std::vector<std::pair<BugReportMethod, bool>> methods;
  {
    std::lock_guard<std::mutex> g(g_handlerLock);
    procs = callbacks_;
    methods = callbacksOO_;
  }
  if ((procs.empty() && methods.empty()) || completion_->destroying) return;
  Ref<TIRVException> keep(this);
  std::string text = BugReport(false);
  bool complete = complete_;
  for (auto& entry : procs) FaultGuarded([&] { entry.first(complete, text, this); });
  for (auto& entry : methods) FaultGuarded([&] { entry.first.code(entry.first.object, complete, text, this); });
}

void TIRVException::RegisterBugReportCallback(BugReportCallback callback, bool critical) {
  {
    std::lock_guard<std::mutex> g(g_handlerLock);
    for (auto& [cb, c] : callbacks_)
      if (cb == callback) {
        c = critical;
        return;
      }
    callbacks_.emplace_back(callback, critical);
  }
  std::string text = BugReport(false);
  FaultGuarded([&] { callback(complete_, text, this); });
}

void TIRVException::RegisterBugReportCallback(BugReportMethod callback, bool critical) {
  {
    std::lock_guard<std::mutex> g(g_handlerLock);
    for (auto& [m, c] : callbacksOO_)
      if (m.code == callback.code && m.object == callback.object) {
        c = critical;
        return;
      }
    callbacksOO_.emplace_back(callback, critical);
  }
  std::string text = BugReport(false);
  FaultGuarded([&] { callback.code(callback.object, complete_, text, this); });
}

void TIRVException::UnregisterBugReportCallback(BugReportCallback callback) {
  std::lock_guard<std::mutex> g(g_handlerLock);
  for (auto it = callbacks_.begin(); it != callbacks_.end(); ++it)
    if (it->first == callback) {
      callbacks_.erase(it);
      return;
    }
}

void TIRVException::UnregisterBugReportCallback(BugReportMethod callback) {
  std::lock_guard<std::mutex> g(g_handlerLock);
  for (auto it = callbacksOO_.begin(); it != callbacksOO_.end(); ++it)
    if (it->first.code == callback.code && it->first.object == callback.object) {
      callbacksOO_.erase(it);
      return;
    }
}

bool TIRVException::HasCriticalCallback() {
  std::lock_guard<std::mutex> g(g_handlerLock);
  for (auto& [cb, c] : callbacks_)
    if (c) return true;
  for (auto& [m, c] : callbacksOO_)
    if (c) return true;
  return false;
}

void TIRVException::SetPhase(uint8_t phase) { phase_ = phase == 3 && complete_ ? 4 : phase; }

// ---- screenshot ---------------------------------------------------------------------------------------

Ref<IRefCounted> TIRVException::ScreenShot() {
  std::lock_guard<std::mutex> g(screenshotMutex_);
  if (!screenshotTaken_.exchange(true) && createScreenShot_) {
    if (g_hooks.takeScreenShot) FaultGuarded([&] { screenshot_ = g_hooks.takeScreenShot(this); });
    else record_platform::TellUnavailable(nullptr, "This program cannot take screenshots: none is connected.");
    if (!screenshot_) createScreenShot_ = false;
  }
  return screenshot_;
}

void TIRVException::SetScreenShot(Ref<IRefCounted> picture) {
  std::lock_guard<std::mutex> g(screenshotMutex_);
  screenshotTaken_ = true;
  screenshot_ = std::move(picture);
}

// ---- saving -------------------------------------------------------------------------------------------

namespace {
// The window that owns the save dialog of the interactive save running in this thread (the box that asked).
thread_local WindowHandle t_saveDialogOwner = nullptr;
}  // namespace

bool TIRVException::SaveReport(const std::wstring& fileName, bool automatic) {
  std::wstring setting = BugRepFile();
  std::wstring name = fileName.empty() ? setting : fileName;
  if (automatic) {
    name = AbsoluteReportName(name, record_platform::ProgramPath());
  } else {
    if (record_platform::ProcessBlocked()) {
      record_platform::Beep();
      return false;
    }
    if (!record_platform::AskSaveFileName(this, t_saveDialogOwner, name)) return false;
  }
  std::string report = BugReport(true);
  ReportFileRules rules;
  rules.append = AppendBugReps();
  rules.sizeLimit = BugRepFileSize();
  rules.noDupExcepts = NoDupExcepts();
  rules.noDupFreezes = NoDupFreezes();
  rules.dupExceptDef = DupExceptDef();
  rules.dupFreezeDef = DupFreezeDef();
  auto compose = [&](ReportFile& file) { return SaveReportToFile(file, report, rules); };
  bool ok = record_platform::UpdateFile(name, compose);
  if (!ok && FolderPart(setting).empty() && !record_platform::Is9x()) {
    std::wstring program = FileNameOf(record_platform::ProgramPath());
    size_t dot = program.rfind(L'.');
    if (dot != std::wstring::npos) program.resize(dot);
    std::wstring folder = record_platform::UserAppDataFolder();
    if (!folder.empty()) ok = record_platform::UpdateFile(folder + L"\\" + program + L"\\" + FileNameOf(name), compose);
  }
  if (ok && automatic && fileName.empty()) saved_ = true;
  return ok;
}

// ---- user actions -------------------------------------------------------------------------------------

ActionOutcome TIRVException::FireAction(int action, WindowHandle window) {
  ActionOutcome outcome = kActionGoesOn;
  if (g_hooks.fireActionHandlers) FaultGuarded([&] { outcome = g_hooks.fireActionHandlers(this, action, window); });
  return outcome;
}

void TIRVException::Show() {
  if (g_hooks.show) g_hooks.show(this);
  else record_platform::TellUnavailable(nullptr, "This program cannot show exceptions: no exception box is connected.");
}

void TIRVException::ShowBugReport(WindowHandle parent) {
  WindowHandle w = parent ? parent : record_platform::OpenExceptionBox();
  if (w) record_platform::PostToWindow(w, 0x70A);
}

// Handled by a handler: done; cancelled in the assistant: not done.
bool TIRVException::SendBugReport(WindowHandle parent) {
  WindowHandle w = parent ? parent : record_platform::OpenExceptionBox();
  if (ActionOutcome o = FireAction(kActionSend, w)) return o == kActionHandled;
  if (!g_hooks.deliver) {
    record_platform::TellUnavailable(w, "This program cannot send bug reports: no delivery is connected.");
    return false;
  }
  if (appendScreenShot_) ScreenShot();
  bool ok = g_hooks.deliver(this, w, &sendThread_, SendInBackgr(), false);
  record_platform::RestoreArrowCursor();
  return ok;
}

bool TIRVException::SaveBugReport(WindowHandle parent) {
  WindowHandle w = parent ? parent : record_platform::OpenExceptionBox();
  if (ActionOutcome o = FireAction(kActionSave, w)) return o == kActionHandled;
  struct Owner {
    WindowHandle before = t_saveDialogOwner;
    ~Owner() { t_saveDialogOwner = before; }
  } owner;
  t_saveDialogOwner = w;
  bool ok = SaveReport({}, false);
  record_platform::RestoreArrowCursor();
  return ok;
}

bool TIRVException::PrintBugReport(WindowHandle parent) {
  WindowHandle w = parent ? parent : record_platform::OpenExceptionBox();
  if (ActionOutcome o = FireAction(kActionPrint, w)) return o == kActionHandled;
  if (!g_hooks.print) {
    record_platform::TellUnavailable(w, "This program cannot print bug reports: no printing is connected.");
    return false;
  }
  bool ok = g_hooks.print(this, w);
  record_platform::RestoreArrowCursor();
  return ok;
}

void TIRVException::SendCloseMessage(WindowHandle parent) {
  WindowHandle w = parent ? parent : record_platform::OpenExceptionBox();
  if (w) record_platform::SendToWindow(w, 0x70B);
}

void TIRVException::ContinueApplication(WindowHandle parent) {
  FireAction(kActionContinue, parent);  // the box closes even when a handler claims the action
  SendCloseMessage(parent);
}

void TIRVException::RestartApplication(WindowHandle parent) {
  if (FireAction(kActionRestart, parent)) return;
  SendCloseMessage(parent);
  if (g_hooks.finishAutoActions) g_hooks.finishAutoActions(this, true);
  if (g_hooks.restartProgram) g_hooks.restartProgram(this);
  else record_platform::TellUnavailable(parent, "This program cannot restart itself: it goes on running.");
}

void TIRVException::CloseApplication(WindowHandle parent) {
  if (FireAction(kActionClose, parent)) return;
  SendCloseMessage(parent);
  if (g_hooks.finishAutoActions) g_hooks.finishAutoActions(this, true);
  if (g_hooks.endProgram) g_hooks.endProgram(this);
  else record_platform::TellUnavailable(parent, "This program cannot end itself here: it goes on running.");
}

}  // namespace rvx
