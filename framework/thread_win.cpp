#include "framework/thread.h"

#include <string>

#include "framework/exceptions.h"
#include "framework/forms.h"

namespace fw {

TThread::~TThread() {
  if (!handle_) return;
  if (GetCurrentThreadId() != threadId_) {
    Terminate();
    WaitForSingleObject(handle_, INFINITE);
  }
  CloseHandle(handle_);
}

void TThread::Start() {
  if (handle_) return;
  // The thread object itself is the thread's parameter: the crash reporter recognises thread objects by it.
  // Suspended until its handle is kept: a thread object that frees itself may be gone once it runs.
  HANDLE h = CreateThread(nullptr, 0, ThreadProc, this, CREATE_SUSPENDED, &threadId_);
  if (!h) {
    DWORD error = GetLastError();
    throw EOSError("Thread creation error: " + std::to_string(error), error);
  }
  handle_ = h;
  ResumeThread(h);
}

DWORD TThread::WaitFor() {
  if (handle_ && GetCurrentThreadId() != threadId_) WaitForSingleObject(handle_, INFINITE);
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
