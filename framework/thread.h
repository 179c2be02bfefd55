// The framework's thread class: a thread object runs its Execute routine on a thread of its own. An
// exception that Execute lets out ends the thread and is kept as the object's FatalException.
#pragma once
#include <windows.h>

#include <atomic>
#include <exception>
#include <functional>

namespace fw {

class TThread {
 public:
  // The thread is created at once and starts unless asked to wait for Start.
  explicit TThread(bool createSuspended = false);
  // Asks the thread to end and waits for it (a thread that was never started is ended unstarted).
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  // Sets Terminated; Execute is expected to look at it and return.
  void Terminate() { terminated_ = true; }
  // Waits until the thread has ended and returns its ReturnValue.
  DWORD WaitFor();

  bool Terminated() const { return terminated_; }
  bool Finished() const { return finished_; }
  HANDLE Handle() const { return handle_; }
  DWORD ThreadID() const { return threadId_; }
  std::exception_ptr FatalException() const { return fatal_; }
  // A thread object with FreeOnTerminate set deletes itself when its thread ends; nobody may wait for it.
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
  bool started_ = false;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::exception_ptr fatal_;
};

}  // namespace fw
