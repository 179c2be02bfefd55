// The handler registry: registration, which entries a firing calls and in which order, the handled flag per
// phase, the sync modes, and the pipeline's hidden-exception round; the action handlers with the assistants in
// front of send, save and print as the record's actions meet them.
#include "crash/core/handlers.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>

#include "crash/core/report_plugins.h"

#include "core/settings_stream.h"

namespace rvx {
namespace {

constexpr ModuleHandle kLab = 0x7200000;

std::string g_calls;
void ProcA(IRVException*, bool&) { g_calls += "a"; }
void ProcHandles(IRVException*, bool& handled) {
  g_calls += "h";
  handled = true;
}
void ProcClears(IRVException*, bool& handled) {
  g_calls += "c";
  handled = false;
}
void ProcThrows(IRVException*, bool&) { throw std::runtime_error("handler failed"); }
void MethodHandles(void*, IRVException*, bool& handled) {
  g_calls += "M";
  handled = true;
}
ExceptHandlerMethod HandlingMethod() { return {MethodHandles, nullptr}; }
void MethodM(void* object, IRVException*, bool&) { g_calls += static_cast<const char*>(object); }

class HandlersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    ClearMemoryModules();
    SetMemoryModule(kLab, L"C:\\lab\\crashlab.exe");
    SetMemoryResource(kLab, "ZAVEDO", rvxtest::SettingsStream().Bool("Enabled", true).Bool("NoSettings", false).End());
    ExceptionParams p;
    p.settings = SettingsOfModule(kLab);
    p.object = MakeThrownException(&error_, &typeid(error_));
    p.dontCompleteYet = true;
    record_ = NewExceptionRecord(p);
  }
  void TearDown() override {
    for (auto* proc : {ProcA, ProcHandles, ProcClears, ProcThrows}) {
      UnregisterExceptionHandler(proc);
      UnregisterHiddenExceptionHandler(proc);
    }
    UnregisterExceptionHandler(HandlingMethod());
    for (const char* tag : {"m", "n"}) {
      UnregisterExceptionHandler(Method(tag));
      UnregisterHiddenExceptionHandler(Method(tag));
    }
    ClearMemoryModules();
  }
  static ExceptHandlerMethod Method(const char* tag) { return {MethodM, const_cast<char*>(tag)}; }
  bool Fire(uint8_t kind, uint8_t phase, bool handled) {
    record_->SetPhase(phase);
    return FireHandlers(kind, record_.get(), handled);
  }

  std::runtime_error error_{"boom"};
  Ref<TIRVException> record_;
};

TEST_F(HandlersTest, MethodsFirstThenProceduresOfTheRecordsPhase) {
  RegisterExceptionHandler(ProcA, kSyncFiringThread, 1);
  RegisterExceptionHandler(ProcA, kSyncFiringThread, 2);
  RegisterExceptionHandler(Method("m"), kSyncFiringThread, 1);
  RegisterExceptionHandler(Method("n"), kSyncFiringThread, 1);
  EXPECT_FALSE(Fire(kHandlerKindException, 1, false));
  EXPECT_EQ(g_calls, "mna");
  g_calls.clear();
  Fire(kHandlerKindException, 2, false);
  EXPECT_EQ(g_calls, "a");
  g_calls.clear();
  Fire(kHandlerKindException, 3, false);  // nobody waits for phase 3
  EXPECT_EQ(g_calls, "");
  // Unregistration removes every entry of the routine.
  UnregisterExceptionHandler(ProcA);
  UnregisterExceptionHandler(Method("m"));
  Fire(kHandlerKindException, 1, false);
  EXPECT_EQ(g_calls, "n");
}

TEST_F(HandlersTest, EarlyPhasesStopWhenHandledLaterPhasesCannotSuppress) {
  for (uint8_t phase : {1, 3}) {
    RegisterExceptionHandler(ProcHandles, kSyncFiringThread, phase);
    RegisterExceptionHandler(ProcA, kSyncFiringThread, phase);
  }
  EXPECT_TRUE(Fire(kHandlerKindException, 1, false));
  EXPECT_EQ(g_calls, "h");
  g_calls.clear();
  EXPECT_FALSE(Fire(kHandlerKindException, 3, false));  // all called, the flag is reset
  EXPECT_EQ(g_calls, "ha");
  // A method that handles the event in phase 1 keeps the procedures out; in phase 3 they still run.
  RegisterExceptionHandler(HandlingMethod(), kSyncFiringThread, 1);
  RegisterExceptionHandler(HandlingMethod(), kSyncFiringThread, 3);
  g_calls.clear();
  EXPECT_TRUE(Fire(kHandlerKindException, 1, false));
  EXPECT_EQ(g_calls, "M");
  g_calls.clear();
  EXPECT_FALSE(Fire(kHandlerKindException, 3, false));
  EXPECT_EQ(g_calls, "Mha");
}

TEST_F(HandlersTest, CallHandlersFlagOffCallsNobody) {
  RegisterExceptionHandler(ProcHandles, kSyncFiringThread, 1);
  record_->SetCallHandlers(false);
  EXPECT_FALSE(Fire(kHandlerKindException, 1, false));
  EXPECT_EQ(g_calls, "");
}

TEST_F(HandlersTest, HiddenHandlersAllRunAndDecide) {
  EXPECT_FALSE(HiddenExceptionHandlersRegistered());
  // A hidden exception starts handled: with no handler it stays so.
  EXPECT_TRUE(Fire(kHandlerKindHidden, 1, true));
  RegisterHiddenExceptionHandler(ProcClears, kSyncFiringThread);
  RegisterHiddenExceptionHandler(ProcHandles, kSyncFiringThread);
  RegisterHiddenExceptionHandler(Method("m"), kSyncFiringThread);
  EXPECT_TRUE(HiddenExceptionHandlersRegistered());
  EXPECT_TRUE(Fire(kHandlerKindHidden, 1, true));  // every one runs; the last word is "handled"
  EXPECT_EQ(g_calls, "mch");
  UnregisterHiddenExceptionHandler(ProcHandles);
  g_calls.clear();
  EXPECT_FALSE(Fire(kHandlerKindHidden, 1, true));
  EXPECT_EQ(g_calls, "mc");
  // Exception handlers are another list.
  g_calls.clear();
  Fire(kHandlerKindException, 1, false);
  EXPECT_EQ(g_calls, "");
  UnregisterHiddenExceptionHandler(ProcClears);
  UnregisterHiddenExceptionHandler(Method("m"));
  EXPECT_FALSE(HiddenExceptionHandlersRegistered());
}

TEST_F(HandlersTest, SyncModesTakePartByTheFiringParameters) {
  RegisterExceptionHandler(ProcA, kSyncFiringThread, 1);
  RegisterExceptionHandler(Method("m"), kSyncMainThread, 1);
  RegisterExceptionHandler(Method("n"), kSyncMainThreadOrFiring, 1);
  record_->SetPhase(1);
  TFireHandlersParams p;
  p.record = record_.get();
  EXPECT_TRUE(FireHandlerLists(p));
  EXPECT_EQ(g_calls, "a");
  g_calls.clear();
  p.callSync = true;  // on the main thread
  FireHandlerLists(p);
  EXPECT_EQ(g_calls, "mn");
  g_calls.clear();
  p.syncFailed = true;  // the main thread could not be reached: only mode 2 runs here
  FireHandlerLists(p);
  EXPECT_EQ(g_calls, "n");
  EXPECT_FALSE(ReportCompleteHandlersExist());
  RegisterExceptionHandler(ProcA, kSyncFiringThread, 4);
  EXPECT_TRUE(ReportCompleteHandlersExist());
}

TEST_F(HandlersTest, AThrowingHandlerDoesNotStopTheOthers) {
  RegisterExceptionHandler(ProcThrows, kSyncFiringThread, 1);
  RegisterExceptionHandler(ProcA, kSyncFiringThread, 1);
  EXPECT_FALSE(Fire(kHandlerKindException, 1, false));
  EXPECT_EQ(g_calls, "a");
}

// ---- action handlers and the assistants in front of send, save and print ------------------------------

std::string g_actions;  // "<code><tag>" per call
void ActionProc(uint8_t action, IRVException*, bool&) { g_actions += std::to_string(action) + "p "; }
void ActionProcHandles(uint8_t action, IRVException*, bool& handled) {
  g_actions += std::to_string(action) + "H ";
  handled = true;
}
void ActionProcThrows(uint8_t, IRVException*, bool&) { throw std::runtime_error("action handler failed"); }
void ActionMethod(void* object, uint8_t action, IRVException*, bool&) {
  g_actions += std::to_string(action) + static_cast<const char*>(object) + " ";
}
ActionHandlerMethod ActionTag(const char* tag) { return {ActionMethod, const_cast<char*>(tag)}; }

// An assistant whose pages end as the test says; what it "entered" is one header item.
class FakeAssistant : public RefObject<INVAssistant> {
 public:
  static inline int result = 1, shown = 0;
  static inline void* owner = nullptr;
  int FormCount() override { return 1; }
  bool FormContinued(int) override { return result == 1; }
  int ItemCount(int) override { return 1; }
  AssistantItemKind ItemKind(int, int) override { return AssistantItemKind::Edit; }
  std::string ItemName(int, int) override { return "contact name"; }
  std::string ItemText(int, int) override { return "Ana"; }
  void SetItemText(int, int, std::string_view) override {}
  bool ItemChecked(int, int) override { return false; }
  void SetItemChecked(int, int, bool) override {}
  bool ContinueEnabled(int) override { return true; }
  void ActivateContinue(int) override {}
  int ShowModal(void* window) override {
    ++shown, owner = window;
    return result;
  }
  void PutIntoReport(IRVFields& header, IRVFields&) override { header.SetContent("contact name", "Ana"); }
};
Ref<INVAssistant> FakeFactory(const AssistantRequest&) { return MakeRef<FakeAssistant>(); }

struct WorkSpy {
  static inline int delivered = 0, printed = 0, restarted = 0;
  static bool Deliver(IRVException*, WindowHandle, void**, bool, bool) { return ++delivered, true; }
  static bool Print(IRVException*, WindowHandle) { return ++printed, true; }
  static void Restart(IRVException*) { ++restarted; }
};

WindowHandle const kBox = reinterpret_cast<WindowHandle>(0xb0c5);

class ActionHandlersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_actions.clear();
    FakeAssistant::result = 1, FakeAssistant::shown = 0, FakeAssistant::owner = nullptr;
    WorkSpy::delivered = WorkSpy::printed = WorkSpy::restarted = 0;
    ClearMemoryModules();
    SetMemoryModule(kLab, L"C:\\lab\\crashlab.exe");
    SetMemoryResource(kLab, "ZAVEDO", rvxtest::SettingsStream()
                                          .Bool("Enabled", true)
                                          .Bool("NoSettings", false)
                                          .Text("Assistant1", "SendAssistant|Envio|ContactForm")
                                          .Text("SendAssis", "SendAssistant")
                                          .Text("PrintAssis", "SendAssistant")
                                          .Bool("SendInBackgr", false)
                                          .End());
    SetAssistantFactory(FakeFactory);
    saved_ = GetRecordHooks();
    RecordHooks hooks;
    hooks.fireActionHandlers = FireActionHandlers;
    hooks.deliver = WorkSpy::Deliver;
    hooks.print = WorkSpy::Print;
    hooks.restartProgram = WorkSpy::Restart;
    SetRecordHooks(hooks);
    ExceptionParams p;
    p.settings = SettingsOfModule(kLab);
    p.object = MakeOwnException("boom");
    p.dontCompleteYet = true;
    record_ = NewExceptionRecord(p);
  }
  void TearDown() override {
    for (auto* proc : {ActionProc, ActionProcHandles, ActionProcThrows}) UnregisterActionHandler(proc);
    for (const char* tag : {"m", "n"}) UnregisterActionHandler(ActionTag(tag));
    UnregisterExceptionHandler(ProcA);
    SetMainThreadRouter(nullptr);
    SetRecordHooks(saved_);
    SetAssistantFactory(nullptr);
    ClearMemoryModules();
  }

  RecordHooks saved_;
  Ref<TIRVException> record_;
};

TEST_F(ActionHandlersTest, EveryActionReachesMethodsThenProceduresUntilOneHandlesIt) {
  RegisterActionHandler(ActionProc, kSyncFiringThread);
  RegisterActionHandler(ActionTag("m"), kSyncFiringThread);
  for (int action : {kActionShowBugRep, kActionHelp, kActionContinue, kActionRestart, kActionClose})
    EXPECT_EQ(FireActionHandlers(record_.get(), action, kBox), kActionGoesOn);
  EXPECT_EQ(g_actions, "6m 6p 7m 7p 8m 8p 9m 9p 10m 10p ");
  // A handler that handles the action ends the walk: nobody after it is called.
  RegisterActionHandler(ActionProcHandles, kSyncFiringThread);
  RegisterActionHandler(ActionTag("n"), kSyncFiringThread);
  g_actions.clear();
  EXPECT_EQ(FireActionHandlers(record_.get(), kActionHelp, nullptr), kActionHandled);
  EXPECT_EQ(g_actions, "7m 7n 7p 7H ");
  // Unregistration removes that routine only; a throwing handler is left behind and the rest go on.
  UnregisterActionHandler(ActionProcHandles);
  UnregisterActionHandler(ActionTag("m"));
  RegisterActionHandler(ActionProcThrows, kSyncFiringThread);
  g_actions.clear();
  EXPECT_EQ(FireActionHandlers(record_.get(), kActionContinue, nullptr), kActionGoesOn);
  EXPECT_EQ(g_actions, "8n 8p ");
  // With the call-handlers flag off (a class filter) no handler runs.
  record_->SetCallHandlers(false);
  g_actions.clear();
  FireActionHandlers(record_.get(), kActionContinue, nullptr);
  EXPECT_EQ(g_actions, "");
}

TEST_F(ActionHandlersTest, SendRunsTheAssistantBetweenItsTwoRoundsAndPutsItsEntriesIntoTheReport) {
  RegisterActionHandler(ActionProc, kSyncFiringThread);
  EXPECT_TRUE(record_->SendBugReport(kBox));
  EXPECT_EQ(g_actions, "0p 3p ");
  EXPECT_EQ(FakeAssistant::shown, 1);
  EXPECT_EQ(FakeAssistant::owner, kBox);
  EXPECT_EQ(WorkSpy::delivered, 1);
  EXPECT_EQ(record_->BugReportHeader()->Content("contact name"), "Ana");
  // The entries are remembered for the next assistant.
  EXPECT_EQ(record_->FormCache()->Content("contact name"), "Ana");
  // Print has its assistant too; save has none in these settings, so it goes straight to its second round.
  g_actions.clear();
  EXPECT_TRUE(record_->PrintBugReport(kBox));
  EXPECT_EQ(g_actions, "2p 5p ");
  EXPECT_EQ(WorkSpy::printed, 1);
  EXPECT_EQ(FakeAssistant::shown, 2);
  g_actions.clear();
  EXPECT_EQ(FireActionHandlers(record_.get(), kActionSave, kBox), kActionGoesOn);
  EXPECT_EQ(g_actions, "1p 4p ");
}

TEST_F(ActionHandlersTest, CancellingTheAssistantCancelsTheActionAndIsNoSuccess) {
  RegisterActionHandler(ActionProc, kSyncFiringThread);
  FakeAssistant::result = 3;
  EXPECT_FALSE(record_->SendBugReport(kBox));  // not sent: the caller must not hear "done"
  EXPECT_EQ(g_actions, "0p ");                 // no second round
  EXPECT_EQ(WorkSpy::delivered, 0);
  EXPECT_EQ(record_->BugReportHeader()->Find("contact name"), -1);
  EXPECT_FALSE(record_->PrintBugReport(kBox));
  EXPECT_EQ(WorkSpy::printed, 0);
  EXPECT_FALSE(record_->FormCache()->Find("contact name") >= 0);  // nothing was continued
  // An assistant the settings do not define cancels nothing.
  EXPECT_TRUE(RunAssistant(*record_, "NoSuchAssistant", kBox));
  EXPECT_EQ(FakeAssistant::shown, 2);
}

TEST_F(ActionHandlersTest, AHandlerThatHandlesSendSkipsAssistantAndDelivery) {
  RegisterActionHandler(ActionProcHandles, kSyncFiringThread);
  EXPECT_TRUE(record_->SendBugReport(kBox));  // the handler did the work
  EXPECT_EQ(FakeAssistant::shown, 0);
  EXPECT_EQ(WorkSpy::delivered, 0);
  // Handled in the second round (after the assistant): the delivery is skipped, the entries are in.
  UnregisterActionHandler(ActionProcHandles);
  static int round = 0;
  round = 0;
  ActionHandlerProc secondRound = [](uint8_t action, IRVException*, bool& handled) {
    handled = action == kActionSendNow;
    ++round;
  };
  RegisterActionHandler(secondRound, kSyncFiringThread);
  EXPECT_TRUE(record_->SendBugReport(kBox));
  EXPECT_EQ(round, 2);
  EXPECT_EQ(FakeAssistant::shown, 1);
  EXPECT_EQ(WorkSpy::delivered, 0);
  UnregisterActionHandler(secondRound);
  // Restart claimed by a handler: the program is not restarted.
  RegisterActionHandler(ActionProcHandles, kSyncFiringThread);
  record_->RestartApplication(kBox);
  EXPECT_EQ(WorkSpy::restarted, 0);
}

TEST_F(ActionHandlersTest, AutomaticActionsHaveNoWindowAndSoNoAssistant) {
  RegisterActionHandler(ActionProc, kSyncFiringThread);
  EXPECT_EQ(FireActionHandlers(record_.get(), kActionSend, nullptr), kActionGoesOn);
  EXPECT_EQ(g_actions, "0p ");
  EXPECT_EQ(FakeAssistant::shown, 0);
}

TEST_F(ActionHandlersTest, RestartAndCloseCompleteTheReportWhenSomeoneWaitsForIt) {
  FireActionHandlers(record_.get(), kActionContinue, nullptr);
  EXPECT_FALSE(record_->Complete());
  RegisterExceptionHandler(ProcA, kSyncFiringThread, 4);  // a report-complete handler
  FireActionHandlers(record_.get(), kActionContinue, nullptr);
  EXPECT_FALSE(record_->Complete());
  FireActionHandlers(record_.get(), kActionClose, nullptr);
  EXPECT_TRUE(record_->Complete());
}

TEST_F(ActionHandlersTest, AnActionWhoseWorkIsNotConnectedSaysSo) {
  RecordHooks hooks = GetRecordHooks();
  hooks.print = nullptr;
  hooks.deliver = nullptr;
  hooks.restartProgram = nullptr;
  SetRecordHooks(hooks);
  FakeAssistant::result = 1;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(record_->PrintBugReport(kBox));
  EXPECT_FALSE(record_->SendBugReport(kBox));
  record_->RestartApplication(kBox);
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("cannot print bug reports"), std::string::npos) << said;
  EXPECT_NE(said.find("cannot send bug reports"), std::string::npos) << said;
  EXPECT_NE(said.find("cannot restart"), std::string::npos) << said;
}

// ---- sync modes through a stand-in for the main thread ------------------------------------------------

std::thread::id g_mainThread;
std::string g_where;  // per call: the tag and "M" (main thread) or "F" (firing thread)
void NoteThread(const char* tag) {
  g_where += tag;
  g_where += std::this_thread::get_id() == g_mainThread ? "M " : "F ";
}
void SyncProc0(uint8_t, IRVException*, bool&) { NoteThread("0"); }
void SyncProc1(uint8_t, IRVException*, bool&) { NoteThread("1"); }
void SyncProc2(uint8_t, IRVException*, bool&) { NoteThread("2"); }
void SyncProc1Handles(uint8_t, IRVException*, bool& handled) {
  NoteThread("1h");
  handled = true;
}

// Runs the call on a thread of its own, as the main thread's message routine would.
bool RouteToOtherThread(TFireHandlersParams& p) {
  intptr_t answer = 0;
  std::thread main([&] {
    g_mainThread = std::this_thread::get_id();
    if (MainThreadHandlersMessage(false, &p) == kMainThreadAnswer) answer = MainThreadHandlersMessage(true, &p);
  });
  main.join();
  return answer == kMainThreadAnswer;
}
int g_routerCalls = 0;
bool Unreachable(TFireHandlersParams&) { return ++g_routerCalls, false; }

TEST_F(ActionHandlersTest, SyncModesRunWhereTheyAskAndModeTwoFallsBackToTheFiringThread) {
  for (auto* proc : {SyncProc0, SyncProc1, SyncProc2}) UnregisterActionHandler(proc);
  RegisterActionHandler(SyncProc0, kSyncFiringThread);
  RegisterActionHandler(SyncProc1, kSyncMainThread);
  RegisterActionHandler(SyncProc2, kSyncMainThreadOrFiring);
  // No routing to the main thread at all (none was made): mode 2 still runs, in the firing thread.
  g_where.clear();
  FireActionHandlers(record_.get(), kActionContinue, nullptr);
  EXPECT_EQ(g_where, "0F 2F ");
  g_where.clear();
  SetMainThreadRouter(RouteToOtherThread);
  FireActionHandlers(record_.get(), kActionContinue, nullptr);
  EXPECT_EQ(g_where, "0F 1M 2M ");
  // The main thread cannot be reached: mode 2 runs in the firing thread, mode 1 not at all.
  g_where.clear();
  SetMainThreadRouter(Unreachable);
  FireActionHandlers(record_.get(), kActionContinue, nullptr);
  EXPECT_EQ(g_where, "0F 2F ");
  // A frozen main thread is not even asked.
  ExceptionParams p;
  p.settings = SettingsOfModule(kLab);
  p.type = kExceptFreeze;
  p.dontCompleteYet = true;
  auto frozen = NewExceptionRecord(p);
  g_where.clear();
  g_routerCalls = 0;
  FireActionHandlers(frozen.get(), kActionContinue, nullptr);
  EXPECT_EQ(g_where, "0F 2F ");
  EXPECT_EQ(g_routerCalls, 0);
  // Handled on the main thread: nothing more runs and the outcome says so.
  UnregisterActionHandler(SyncProc1);
  RegisterActionHandler(SyncProc1Handles, kSyncMainThread);
  SetMainThreadRouter(RouteToOtherThread);
  g_where.clear();
  EXPECT_EQ(FireActionHandlers(record_.get(), kActionClose, nullptr), kActionHandled);
  EXPECT_EQ(g_where, "0F 2M 1hM ");
  for (auto* proc : {SyncProc0, SyncProc1Handles, SyncProc2}) UnregisterActionHandler(proc);
}

std::string g_pauses;
TEST_F(ActionHandlersTest, APausedMainThreadIsLetGoForTheCallAndPausesInItsRoutine) {
  RegisterActionHandler(SyncProc1, kSyncMainThread);
  MainThreadPausing pausing;
  pausing.pausePoint = [] { g_pauses += "point "; };
  pausing.resume = [] { return g_pauses += "resume ", true; };
  pausing.pauseAgain = [] { g_pauses += "pause "; };
  SetMainThreadPausing(pausing);
  SetMainThreadRouter(RouteToOtherThread);
  g_pauses.clear();
  record_->SetPauseThreads(true);
  FireActionHandlers(record_.get(), kActionContinue, nullptr);
  EXPECT_EQ(g_pauses, "resume point point pause ");  // the probe and the call each pass the pause point
  // Threads not paused for this record: nobody is resumed.
  g_pauses.clear();
  record_->SetPauseThreads(false);
  FireActionHandlers(record_.get(), kActionContinue, nullptr);
  EXPECT_EQ(g_pauses, "point point ");
  SetMainThreadPausing({});
  UnregisterActionHandler(SyncProc1);
}

TEST_F(ActionHandlersTest, ExceptionHandlersOfModeOneRunOnTheMainThread) {
  RegisterExceptionHandler(ProcA, kSyncMainThread, 2);
  g_calls.clear();
  SetMainThreadRouter(RouteToOtherThread);
  record_->SetPhase(2);
  FireHandlers(kHandlerKindException, record_.get(), false);
  EXPECT_EQ(g_calls, "a");
  g_calls.clear();
  SetMainThreadRouter(Unreachable);
  FireHandlers(kHandlerKindException, record_.get(), false);
  EXPECT_EQ(g_calls, "");
}

// ---- report plug-ins that read the record --------------------------------------------------------------

TEST_F(ActionHandlersTest, PluginsMayReadTheRecordAndAFailingOneLeavesItsMark) {
  AddReportPlugin("incident", "the incident's message", [](IRVException* r) { return r->ExceptMessage(); }, true);
  AddReportPlugin("broken", "fails", [](IRVException*) -> std::string { throw std::runtime_error("no"); }, false);
  auto chosen = ChosenReportPlugins("incident", true);
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(ReportPluginText(chosen[0], record_.get()), "boom.");  // the record ends messages with a stop
  EXPECT_EQ(ReportPluginText(ChosenReportPlugins("broken", false).at(0), record_.get()), ">> internal error in plugin");
  RemoveReportPlugin("incident");
  RemoveReportPlugin("broken");
  EXPECT_TRUE(ChosenReportPlugins("incident|broken", true).empty());
}

}  // namespace
}  // namespace rvx
