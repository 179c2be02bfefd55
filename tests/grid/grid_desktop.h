// A grid hosted by the test program itself: a form with a TJvDBGrid over a client dataset of every field kind
// the grid reacts to, driven with posted key and mouse messages, with modal boxes answered from a helper
// thread.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/db.h"
#include "framework/forms.h"
#include "grid/jvdbgrid.h"

namespace gridtest {

// The application object of the test program (created once) and the exceptions its handler saw.
fw::TApplication& App();
std::vector<std::string>& Errors();

// Compiles the text of a stored form and loads it into `form`; false (with the compiler's error reported as a
// test failure) when the text does not compile. Loading errors are thrown as the loader throws them.
bool LoadFormText(fw::TForm& form, const std::string& text);

// Processes every message waiting for this thread.
void Pump();

// Key state for posted input: GetKeyState reads the thread's key state, which posted messages do not set.
void SetModifiers(fw::TShift shift);

struct Host {
  Host(int width = 560, int height = 260);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  fw::TForm* form = nullptr;
  fw::TClientDataSet* ds = nullptr;
  fw::TDataSource* src = nullptr;
  fw::TJvDBGrid* grid = nullptr;

  // Fields: ID integer, NAME string(20), ACTIVE logical, PRICE float, NOTES memo, PHOTO blob, KIND string(10).
  fw::TField* F(const char* name) const { return ds->FieldByName(name); }
  void AddRows(int n);
  int Records() const { return ds->RecordCount(); }

  // Posted input to the window that has the focus (or the grid).
  void Key(WORD vk, fw::TShift shift = 0);
  void Type(const std::string& text);
  void Click(int x, int y, fw::TShift shift = 0, bool right = false);
  void DoubleClick(int x, int y);
  // A drag in steps: press, moves with the button held, release (left or right button).
  void Press(int x, int y, bool right = false);
  void MoveTo(int x, int y, bool right = false);
  void Release(int x, int y, bool right = false);
  void Wheel(int delta, fw::TShift shift = 0);  // to the window with the focus, as the system sends it
  // Moves to a cell of a data column (Columns index) on the current record.
  void SelectColumn(int columnIndex);
  fw::TRect ScreenCell(int col, int row);
  COLORREF PixelAt(int x, int y);  // client co-ordinates of the grid
  // Pixels of a client rectangle of the grid that differ from `background` (text, glyphs, lines).
  int InkIn(const fw::TRect& r, COLORREF background);
  // The pixels of a client rectangle, row by row.
  std::vector<COLORREF> Pixels(const fw::TRect& r);
  // A screenshot of the host form into the artefacts.
  void Shot(const std::string& name);
};

// Watches for modal windows of this thread on a helper thread and acts on them.
class Watcher {
 public:
  using Action = std::function<void(HWND)>;
  // `className` and `caption` select the window ("" = any); the action runs once on the helper thread.
  Watcher(std::string className, std::string caption, Action action);
  ~Watcher();
  bool Seen() const { return seen_; }
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> seen_{false};
  std::vector<std::string> texts_;
};

// Answers the next message box with a button (IDYES, IDNO, IDOK) and keeps its texts.
std::unique_ptr<Watcher> AnswerBox(int button);

// Waits on the helper thread for a window of this thread.
HWND WaitWindow(DWORD thread, const std::string& className, const std::string& caption);

}  // namespace gridtest
