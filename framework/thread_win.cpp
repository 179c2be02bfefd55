#include "framework/thread.h"

#include <string>

#include "framework/exceptions.h"
#include "framework/forms.h"

namespace fw {

TThread::TThread(bool createSuspended) : started_(!createSuspended) {
  // The thread object itself is the thread's parameter: the crash reporter recognises thread objects by it.
  handle_ = CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &threadId_);
  if (!handle_) throw EOSError("Thread creation error: " + std::to_string(GetLastError()), GetLastError());
  if (!createSuspended) ResumeThread(handle_);
}

TThread::~TThread() {
  if (!handle_) return;
  if (!FreeOnTerminate || GetCurrentThreadId() != threadId_) {
    // A thread that was never started runs only up to the look at Terminated and ends without Execute.
    Terminate();
    Start();
    WaitForSingleObject(handle_, INFINITE);
  }
  CloseHandle(handle_);
}

void TThread::Start() {
  if (started_) return;
  started_ = true;
  ResumeThread(handle_);
}

DWORD TThread::WaitFor() {
  if (!started_ || GetCurrentThreadId() == threadId_) return ReturnValue;
  WaitForSingleObject(handle_, INFINITE);
  return ReturnValue;
}

void TThread::Synchronize(std::function<void()> call) {
  if (Application) {
    Application->Synchronize(std::move(call));
  } else {
    call();
  }
}

DWORD WINAPI TThread::ThreadProc(void* p) {
  auto* self = static_cast<TThread*>(p);
  try {
    if (!self->terminated_) self->Execute();
  } catch (...) {
    self->fatal_ = std::current_exception();
  }
  DWORD result = self->ReturnValue;
  bool free = self->FreeOnTerminate;
  self->finished_ = true;
  if (free) delete self;
  return result;
}

}  // namespace fw
