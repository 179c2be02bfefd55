// Forms created from stored component streams, and the application object with its message loop.
#pragma once
#include <windows.h>

#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

#include "framework/controls.h"

namespace fw {

// What ended a modal form.
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };

class TForm : public TWinControl {
 public:
  // Creates the form and loads its stored description: the RCDATA resource named after the class in upper
  // case ("TFORM1"). Derived constructors call LoadFromResource (this base cannot know the final class).
  explicit TForm(TComponent* owner);
  ~TForm() override;

  void LoadFromResource(const char* resourceName, HMODULE module = nullptr);
  void LoadFromStream(std::string_view data);

  void Show();
  void Close();
  // Shows the form modally: every other enabled window of this thread is disabled until the modal result is
  // set (by a button, a key, or closing the window, which cancels), then the form is hidden and the windows
  // are enabled again, also when a handler raised. Escape and Enter pressed anywhere in the form go to
  // ModalKeyPreview first. Returns the modal result (cancel when the message loop ends).
  int ShowModal();
  int ModalResult() const { return modalResult_; }
  void SetModalResult(int result) { modalResult_ = result; }
  bool Modal() const { return inModal_; }
  int PixelsPerInch() const { return pixelsPerInch_; }
  TWinControl* ActiveControl() const { return activeControl_; }
  void SetActiveControl(TWinControl* control);

  TNotifyEvent OnCreate, OnShow, OnClose;
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
  int ClientWidth() const override;
  int ClientHeight() const override;

 protected:
  void CreateParamsFor(CreateParams& params) override;
  void WndProc(TMessage& m) override;
  void Loaded() override;
  // Hooks of the modal loop: the form was shown; Escape ('\x1b') or Enter ('\r') was pressed somewhere in
  // the form (a handler that sets `key` to 0 swallows it); the loop ended, before the other windows come
  // back.
  virtual void ModalShown() {}
  virtual void ModalKeyPreview(char& key) {}
  virtual void ModalEnded() {}

 private:
  int pixelsPerInch_ = 96;
  int textHeight_ = 13;
  int clientWidth_ = -1, clientHeight_ = -1;
  bool scaled_ = true;
  std::string activeControlName_;
  TWinControl* activeControl_ = nullptr;
  int modalResult_ = mrNone;
  bool inModal_ = false;
};

class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  void Initialize();
  // Takes ownership of the form; the first form becomes the main form.
  template <class F>
  F* CreateForm() {
    F* form = nullptr;
    try {
      form = new F(this);
    } catch (...) {
      HandleException(this);
      throw;
    }
    if (!mainForm_) mainForm_ = form;
    return form;
  }
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Processes waiting messages and returns.
  void ProcessMessages();
  TForm* MainForm() const { return mainForm_; }
  const std::string& Title() const { return title_; }
  void SetTitle(std::string t) { title_ = std::move(t); }

  // The two exception entry points: HandleException is called with the exception being handled (inside a
  // catch block) whenever a message handler raised; it shows it with ShowException unless it is EAbort.
  // The crash reporter replaces both.
  using ExceptionHandler = std::function<void(TComponent* sender)>;
  virtual void HandleException(TComponent* sender);
  virtual void ShowException(const std::exception* e, const std::string& message);
  ExceptionHandler OnException;  // when set, replaces the default handling

  // Pending synchronised calls: other threads queue a call and wait; the main thread runs the queue when it
  // receives the empty message (0) at its application window, and whenever it is idle.
  void Synchronize(std::function<void()> call);
  bool CheckSynchronize();
  HWND Handle() const { return handle_; }
  DWORD MainThreadId() const { return mainThreadId_; }

 private:
  bool ProcessMessage(MSG& msg);
  TForm* mainForm_ = nullptr;
  bool terminated_ = false;
  std::string title_;
  HWND handle_ = nullptr;
  DWORD mainThreadId_ = 0;
  struct Pending;
  std::mutex syncLock_;
  std::deque<Pending*> syncQueue_;
};

// The application object of the process.
extern TApplication* Application;

// Takes over the exception being handled (in CheckSynchronize's catch block) for the thread that waits for
// the synchronised call; Synchronize raises it again in that thread. A routine of its own that is never
// inlined: the crash reporter redirects its call in CheckSynchronize.
void TakeOverSyncException(std::exception_ptr* slot);

}  // namespace fw
