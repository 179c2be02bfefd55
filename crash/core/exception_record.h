// The exception record: what was caught (object, address, thread, registers), the decisions taken for it
// and its bug report (header items, sections, rendered text), with background completion, change callbacks,
// saving to the report file and the user actions. Seen by the rest of the crash reporter as IRVException,
// which extends the settings interface: every setting can be read from the record and overridden for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "crash/core/bugreport.h"
#include "crash/core/exception_object.h"
#include "crash/core/settings.h"
#include "crash/core/thread_stack.h"

namespace rvx {

enum : uint8_t { kExceptException = 0, kExceptFreeze = 1, kExceptHidden = 2 };

class IRVException;
using BugReportCallback = void (*)(bool complete, const std::string& report, IRVException* record);
using BugReportMethodCode = void (*)(void* object, bool complete, const std::string& report, IRVException* record);
struct BugReportMethod {
  BugReportMethodCode code = nullptr;
  void* object = nullptr;
};
using WindowHandle = void*;

class IRVException : public virtual IRVSettings {
 public:
  virtual uint8_t Phase() = 0;
  virtual bool CanContinue() = 0;
  virtual void SetCanContinue(bool value) = 0;
  virtual uint8_t ExceptType() = 0;
  virtual const TExceptObject* ExceptObject() = 0;
  virtual std::string ExceptClass() = 0;
  virtual std::string ExceptMessage() = 0;
  virtual void SetExceptMessage(std::string_view message) = 0;
  virtual uintptr_t ExceptAddress() = 0;
  virtual uint32_t CrashedThreadId() = 0;
  virtual uint32_t CallstackCrc(int index) = 0;
  virtual const TContext* Context() = 0;
  virtual uint8_t Source() = 0;
  virtual void* RelatedObject() = 0;
  virtual ModuleHandle Package() = 0;
  virtual Ref<IRVFields> BugReportHeader() = 0;
  virtual Ref<IRVFields> BugReportSections() = 0;
  virtual std::string CompleteBugReport() = 0;
  virtual void SetBugReport(std::string_view report) = 0;
  virtual std::string BugReport(bool mustBeComplete) = 0;
  virtual Ref<IRefCounted> ScreenShot() = 0;  // the picture object of the screenshot unit
  virtual void SetScreenShot(Ref<IRefCounted> picture) = 0;
  virtual void BeginUpdate() = 0;
  virtual void EndUpdate() = 0;
  virtual void RegisterBugReportCallback(BugReportCallback callback, bool critical) = 0;
  virtual void RegisterBugReportCallback(BugReportMethod callback, bool critical) = 0;
  virtual void UnregisterBugReportCallback(BugReportCallback callback) = 0;
  virtual void UnregisterBugReportCallback(BugReportMethod callback) = 0;
  virtual bool CreateBugReport() = 0;
  virtual void SetCreateBugReport(bool value) = 0;
  virtual bool CreateScreenShot() = 0;
  virtual void SetCreateScreenShot(bool value) = 0;
  virtual bool CallHandlers() = 0;
  virtual void SetCallHandlers(bool value) = 0;
  virtual bool AppendScreenShot() = 0;
  virtual void SetAppendScreenShot(bool value) = 0;
  virtual uint8_t ShowSetting() = 0;
  virtual void SetShowSetting(uint8_t value) = 0;
  virtual std::string ShowAssistant() = 0;
  virtual void SetShowAssistant(std::string_view value) = 0;
  virtual void Show() = 0;
  virtual void ShowBugReport(WindowHandle parent) = 0;
  virtual bool SendBugReport(WindowHandle parent) = 0;
  virtual bool SaveBugReport(WindowHandle parent) = 0;
  virtual bool PrintBugReport(WindowHandle parent) = 0;
  virtual void ContinueApplication(WindowHandle parent) = 0;
  virtual void RestartApplication(WindowHandle parent) = 0;
  virtual void CloseApplication(WindowHandle parent) = 0;
};

// Used only inside the crash reporter.
class IRVExceptionEx : public virtual IRefCounted {
 public:
  virtual bool HasCriticalCallback() = 0;
  virtual uint32_t CompletionThreadId() = 0;
  virtual void SetPhase(uint8_t phase) = 0;
  virtual bool Sent() = 0;
  virtual void SetSent(bool value) = 0;
  virtual bool Saved() = 0;
  virtual void SetSaved(bool value) = 0;
  virtual bool FirstCompleteCallback() = 0;
  virtual bool FirstAutoSave() = 0;
  virtual void** SendThreadSlot() = 0;
};

// What the pipeline knows when it creates a record.
struct ExceptionParams {
  Ref<IRVModuleSettings> settings;
  uint8_t type = kExceptException;
  ExceptObjectPtr object;
  uintptr_t address = 0;
  bool canContinue = true;
  uint32_t threadId = 0;  // 0: the current thread
  uint32_t stackPointer = 0, framePointer = 0;
  const TContext* context = nullptr;
  uint8_t source = 0;
  void* relatedObject = nullptr;
  ModuleHandle package = 0;
  // Candidates of the exception thread's stack collected before the record existed (while the stack still
  // held what the trace needs); null or empty: collected when the thread sections are prepared.
  const TDAPreStackItem* preparedStack = nullptr;
  bool dontCompleteYet = false;
};

// The user actions' numbers for the action handlers.
enum : int { kActionSend = 0, kActionSave = 1, kActionPrint = 2, kActionShowBugRep = 6, kActionHelp = 7,
             kActionContinue = 8, kActionRestart = 9, kActionClose = 10 };

// What firing the action handlers decided.
enum ActionOutcome : uint8_t {
  kActionGoesOn = 0,     // nobody claimed it: the default work follows
  kActionHandled = 1,    // a handler did the work (or claimed it)
  kActionCancelled = 2,  // the user cancelled the assistant in front of it
};

// What the record asks of the rest of the crash reporter. A hook may stay empty; an action whose work is
// missing then says so (TellUnavailable) instead of pretending.
struct RecordHooks {
  // The window is the owner of the assistant that runs in front of send, save and print; none for the
  // automatic actions.
  ActionOutcome (*fireActionHandlers)(IRVException* record, int action, WindowHandle window) = nullptr;
  void (*fireExceptionHandlers)(IRVException* record) = nullptr;           // phase-4 round
  void (*show)(IRVException* record) = nullptr;
  // Sends the record's report (silent: the automatic send, without dialogs).
  bool (*deliver)(IRVException* record, WindowHandle parent, void** sendThread, bool background,
                  bool silent) = nullptr;
  bool (*print)(IRVException* record, WindowHandle parent) = nullptr;
  void (*finishAutoActions)(IRVException* record, bool waitForSend) = nullptr;
  void (*endProgram)(IRVException* record) = nullptr;      // does not return
  void (*restartProgram)(IRVException* record) = nullptr;  // does not return
  Ref<IRefCounted> (*takeScreenShot)(IRVException* record) = nullptr;
};
void SetRecordHooks(const RecordHooks& hooks);
const RecordHooks& GetRecordHooks();

// The running number of composed headers in this process.
int64_t ReportNumberCounter();

class TIRVException final : public TIRVSettings,
                            public IRVException,
                            public IRVExceptionEx,
                            public IFieldsOwnerRecord {
 public:
  explicit TIRVException(const ExceptionParams& params);
  ~TIRVException() override;

  // The completion thread holds a reference of its own; once it holds the only one, nobody waits for the
  // rest of the report and the completion stops at its next step.
  uint32_t Release() override;

  // IRVException
  uint8_t Phase() override { return phase_.load(); }
  bool CanContinue() override { return canContinue_.load(); }
  void SetCanContinue(bool value) override;
  uint8_t ExceptType() override { return type_; }
  const TExceptObject* ExceptObject() override { return object_.get(); }
  std::string ExceptClass() override;
  std::string ExceptMessage() override;
  void SetExceptMessage(std::string_view message) override;
  uintptr_t ExceptAddress() override { return address_; }
  uint32_t CrashedThreadId() override { return threadId_; }
  uint32_t CallstackCrc(int index) override { return index >= 0 && index < 3 ? crc_[index] : 0; }
  const TContext* Context() override { return hasContext_ ? &context_ : nullptr; }
  uint8_t Source() override { return source_; }
  void* RelatedObject() override { return related_; }
  ModuleHandle Package() override { return package_; }
  Ref<IRVFields> BugReportHeader() override;
  Ref<IRVFields> BugReportSections() override;
  std::string CompleteBugReport() override { return BugReport(true); }
  void SetBugReport(std::string_view report) override;
  std::string BugReport(bool mustBeComplete) override;
  Ref<IRefCounted> ScreenShot() override;
  void SetScreenShot(Ref<IRefCounted> picture) override;
  void BeginUpdate() override;
  void EndUpdate() override;
  void RegisterBugReportCallback(BugReportCallback callback, bool critical) override;
  void RegisterBugReportCallback(BugReportMethod callback, bool critical) override;
  void UnregisterBugReportCallback(BugReportCallback callback) override;
  void UnregisterBugReportCallback(BugReportMethod callback) override;
  bool CreateBugReport() override { return createBugReport_; }
  void SetCreateBugReport(bool v) override { createBugReport_ = v; }
  bool CreateScreenShot() override { return createScreenShot_; }
  void SetCreateScreenShot(bool v) override { createScreenShot_ = v; }
  bool CallHandlers() override { return callHandlers_; }
  void SetCallHandlers(bool v) override { callHandlers_ = v; }
  bool AppendScreenShot() override { return appendScreenShot_; }
  void SetAppendScreenShot(bool v) override { appendScreenShot_ = v; }
  uint8_t ShowSetting() override { return showSetting_; }
  void SetShowSetting(uint8_t v) override { showSetting_ = v; }
  std::string ShowAssistant() override;
  void SetShowAssistant(std::string_view v) override;
  void Show() override;
  void ShowBugReport(WindowHandle parent) override;
  bool SendBugReport(WindowHandle parent) override;
  bool SaveBugReport(WindowHandle parent) override;
  bool PrintBugReport(WindowHandle parent) override;
  void ContinueApplication(WindowHandle parent) override;
  void RestartApplication(WindowHandle parent) override;
  void CloseApplication(WindowHandle parent) override;

  // IRVExceptionEx
  bool HasCriticalCallback() override;
  uint32_t CompletionThreadId() override { return completeThreadId_.load(); }
  void SetPhase(uint8_t phase) override;
  bool Sent() override { return sent_; }
  void SetSent(bool v) override { sent_ = v; }
  bool Saved() override { return saved_; }
  void SetSaved(bool v) override { saved_ = v; }
  bool FirstCompleteCallback() override { return ++firstCompleteCallback_ == 0; }
  bool FirstAutoSave() override { return ++firstAutoSave_ == 0; }
  void** SendThreadSlot() override { return &sendThread_; }

  // IFieldsOwnerRecord
  void MarkModified() override;

  bool Complete() const { return complete_.load(); }
  // Saves the complete report: to `fileName`, or (empty) to BugRepFile; `automatic` makes the name absolute
  // and marks the record saved. False when the file cannot be written even at the fallback place.
  bool SaveReport(const std::wstring& fileName, bool automatic);
  // Composes header and sections now and completes them in the calling thread.
  void CompleteNow();
  const std::vector<TThreadStack>& ThreadStacks() const { return threads_; }
  // Whether the current thread is the handling thread (set by the pipeline).
  static void SetHandlingThreadId(uint32_t id);

 protected:
  bool IsExceptionRecord() override { return true; }
  std::string ExceptionClassText() override { return ExceptClass(); }
  std::string ExceptionMessageText() override { return ExceptMessage(); }
  bool WillHaveScreenshot() override { return createScreenShot_; }

 private:
  void ComposeHeader();
  void ComposeSections(bool startCompletion);
  void PrepareThreads();
  void RunCompletion();
  void UpdateSection(const std::string& name, const std::string& content, const std::string& newName = {});
  void FireChange();
  void WaitForCompletion();
  std::string Render();
  ActionOutcome FireAction(int action, WindowHandle window);
  void SendCloseMessage(WindowHandle parent);

  ExceptObjectPtr object_;
  uint8_t type_;
  uintptr_t address_;
  uint32_t threadId_;
  uint32_t stackPointer_, framePointer_;
  TContext context_{};
  bool hasContext_ = false;
  TDAPreStackItem preparedStack_;
  uint8_t source_;
  void* related_;
  ModuleHandle package_;
  bool dontCompleteYet_;
  ReportTime time_;

  std::atomic<uint8_t> phase_{0};
  std::atomic<bool> canContinue_{true};
  bool canContinueInitially_ = true;
  uint32_t crc_[3] = {0, 0, 0};
  Ref<IRVFields> header_, sections_;
  std::recursive_mutex composeMutex_;
  std::atomic<bool> completionStarted_{false};
  std::recursive_mutex lock_;  // guards reportText_ and changeCounter_
  std::string reportText_;
  bool reportTextComplete_ = false;  // the cached text was rendered from the complete report
  uint64_t changeCounter_ = 0;
  std::atomic<bool> complete_{false};
  std::atomic<int> updateCount_{0};
  std::atomic<bool> dirty_{false};
  std::vector<std::pair<BugReportCallback, bool>> callbacks_;
  std::vector<std::pair<BugReportMethod, bool>> callbacksOO_;
  bool createBugReport_ = true, createScreenShot_ = false, callHandlers_ = true, appendScreenShot_ = false;
  uint8_t showSetting_ = 0;
  std::string showAssistant_;
  std::vector<TThreadStack> threads_;
  std::vector<std::string> threadSections_;  // titles of every thread section, in order
  // Shared with the completion thread and with Release, which may look at it while the record goes away.
  struct CompletionState {
    std::atomic<bool> abort{false};        // set when the record is destroyed or only the thread holds it
    std::atomic<bool> started{false};      // a completion thread was started
    std::atomic<bool> threadHolds{false};  // the completion thread holds its reference
    std::atomic<bool> finished{false};     // the completion thread has ended its work
    std::atomic<bool> destroying{false};   // the record's destructor runs
  };
  std::shared_ptr<CompletionState> completion_ = std::make_shared<CompletionState>();
  std::mutex threadMutex_;  // guards completeThread_
  std::thread completeThread_;
  std::atomic<uint32_t> completeThreadId_{0};
  std::atomic<uint32_t> completingThread_{0};  // the thread inside RunCompletion, 0 when none
  std::mutex completionMutex_;
  std::atomic<bool> screenshotTaken_{false};
  Ref<IRefCounted> screenshot_;
  std::mutex screenshotMutex_;
  bool sent_ = false, saved_ = false;
  std::atomic<int32_t> firstCompleteCallback_{-1}, firstAutoSave_{-1};
  void* sendThread_ = nullptr;
  std::mutex textMutex_;
  bool haveClass_ = false, haveMessage_ = false;
  std::string classText_, messageText_;
  int pending_ = 0;
  std::vector<std::string> moduleNotes_;
};

// Creates a record for the pipeline: settings, parameters, filters are applied by the caller.
Ref<TIRVException> NewExceptionRecord(const ExceptionParams& params);

// ---- platform layer of the record ---------------------------------------------------------------------

namespace record_platform {
ReportTime LocalNow();
std::wstring ProgramPath();          // full path of the program file
std::wstring OwnModulePath();        // full path of the module carrying the crash reporter
bool FileTime(const std::wstring& path, ReportTime& time);
std::string UserName();
std::wstring WindowsFolder();
std::string CommandLineWithArguments();  // empty when started without arguments
uint32_t ProcessId();
bool Is9x();
bool IsNT();
std::string ModuleFileVersion(const std::wstring& path);
std::string LoadedModuleVersion(const char* name);  // of a loaded library, empty when not loaded
// Opens a file exclusively for reading and writing (created when missing, with its folders) and hands it to
// `update`. False when it cannot be opened or `update` fails.
bool UpdateFile(const std::wstring& path, const std::function<bool(ReportFile& file)>& update);
std::wstring UserAppDataFolder();
void PostToWindow(WindowHandle window, uint32_t message);
void SendToWindow(WindowHandle window, uint32_t message);
WindowHandle OpenExceptionBox();
bool ProcessBlocked();
void Beep();
bool AskSaveFileName(IRVException* record, WindowHandle parent, std::wstring& fileName);
void RestoreArrowCursor();
void CloseThreadHandle(void* thread);
// Tells that a part of the crash reporter is not available: in a message box over `parent` when one is given
// (an interactive action), and in the system's debug output (on the host: standard error).
void TellUnavailable(WindowHandle parent, const std::string& text);
}  // namespace record_platform

}  // namespace rvx
