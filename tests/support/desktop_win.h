// Desktop test helpers: a program started for a test, its windows, posted input, screenshots.
#pragma once
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Polls `condition` every 20 ms until it holds or `timeout` passes; returns whether it held.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));

class Program {
 public:
  // Starts `exe` (path relative to the test's working directory) with arguments, in `workDir` (default: the
  // test's own working directory).
  explicit Program(const std::string& exe, const std::string& args = "", const std::string& workDir = "");
  ~Program();  // ends the program if it still runs
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const { return process_ != nullptr; }
  DWORD ProcessId() const { return pid_; }
  DWORD ThreadId() const { return tid_; }
  // Exit code after the program ended, or STILL_ACTIVE.
  DWORD ExitCode() const;
  bool WaitExit(std::chrono::milliseconds timeout);
  void Kill();

  // A visible top-level window of the program with this caption (nullptr when none).
  HWND TopWindow(const std::string& caption) const;
  // A visible dialog window of the program (a message box), or nullptr.
  HWND DialogWindow() const;
  // The window of the program that has the keyboard focus.
  HWND FocusWindow() const;
  // Waits until the program's thread has processed everything posted to it so far.
  void Settle() const;

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0, tid_ = 0;
};

// Child window of `parent` (any depth) with this class name and, when given, this text.
HWND FindChild(HWND parent, const std::string& className, const std::string& text = "");
std::string WindowText(HWND w);
std::string ClassNameOf(HWND w);
// A visible top-level window of the process with this class name, other than `except` (nullptr when none).
HWND TopWindowOfClass(DWORD processId, const std::string& className, HWND except = nullptr);
// Direct and deeper children of `parent` with this class name, in creation order.
std::vector<HWND> ChildrenOfClass(HWND parent, const std::string& className);
// The child's rectangle in the client coordinates of `parent`.
RECT RectIn(HWND parent, HWND child);
// The window with the keyboard focus in the thread that owns `window`.
HWND FocusOf(HWND window);
// Texts of all static controls in a dialog (e.g. a message box's message).
std::vector<std::string> DialogTexts(HWND dialog);

// Posted input: characters and key presses to a window, a click on a button.
void PostText(HWND w, const std::string& text);
void PostKey(HWND w, WORD vk);
void PostClick(HWND button);
void PostClickAt(HWND w, int x, int y);

// Captures the screen (or a window's screen rectangle) and writes it as a PNG into the artefacts folder
// (RVX_ARTEFACTS), adding ".png" to a name without it; returns the path written, or empty on failure.
std::string SaveScreenshot(const std::string& name, HWND window = nullptr);
// PNG bytes of 24-bit pixels (rows top-down, RGB), stored without compression.
std::string EncodePng(int width, int height, const std::vector<unsigned char>& rgb);

}  // namespace testsupport
