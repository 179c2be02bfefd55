// The framework's thread class: a thread object runs its Execute routine on a thread of its own, created by
// Start once the object is complete (so that the thread's parameter, the object itself, already has its
// final class). An exception that Execute lets out ends the thread and is kept as FatalException.
#pragma once
#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>

namespace fw {

class TThread {
 public:
  TThread() = default;
  // Asks a running thread to end and waits for it. A derived class whose Execute uses its own members waits
  // for the thread (WaitFor) before they go.
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Creates and starts the thread (once); raises EOSError when the system cannot create it.
  void Start();
  // Sets Terminated; Execute is expected to look at it and return.
  void Terminate() { terminated_ = true; }
  // Waits until the thread has ended and returns its ReturnValue (at once when it never started).
  DWORD WaitFor();

  bool Terminated() const { return terminated_; }
  bool Finished() const { return finished_; }
  HANDLE Handle() const { return handle_; }
  DWORD ThreadID() const { return threadId_; }
  std::exception_ptr FatalException() const { return fatal_; }
  // A started thread object with FreeOnTerminate set deletes itself when its thread ends; nobody may wait
  // for it or delete it.
  bool FreeOnTerminate = false;

 protected:
  virtual void Execute() = 0;
  // Runs the call on the main thread (through the application object) and waits for it.
  void Synchronize(std::function<void()> call);
  DWORD ReturnValue = 0;

 private:
  static DWORD WINAPI ThreadProc(void* self);
  HANDLE handle_ = nullptr;
  DWORD threadId_ = 0;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::exception_ptr fatal_;
};

}  // namespace fw
