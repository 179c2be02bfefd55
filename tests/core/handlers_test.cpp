// The handler registry: registration, which entries a firing calls and in which order, the handled flag per
// phase, the sync modes, and the pipeline's hidden-exception round.
#include "crash/core/handlers.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

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

}  // namespace
}  // namespace rvx
