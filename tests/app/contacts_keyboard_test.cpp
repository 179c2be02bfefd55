// The contact editor used with the keyboard alone: rows appended with Down, typed with Tab between the cells
// and Enter, one edited, one deleted with Ctrl+Delete, while the buttons follow the table's state.
#include <gtest/gtest.h>

#include <chrono>

#include "support/desktop_win.h"

using namespace testsupport;
using namespace std::chrono;

namespace {

struct DialogSearch {
  DWORD pid;
  HWND w;
};
BOOL CALLBACK MatchDialog(HWND w, LPARAM l) {
  auto* c = reinterpret_cast<DialogSearch*>(l);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == c->pid && IsWindowVisible(w) && ClassNameOf(w) == "#32770") {
    c->w = w;
    return FALSE;
  }
  return TRUE;
}

struct Editor {
  Program program{"contacts.exe"};
  HWND form = nullptr, insert = nullptr, save = nullptr, grid = nullptr;

  bool Open() {
    if (!program.Started()) return false;
    if (!WaitFor([&] { return (form = program.TopWindow("Form1")) != nullptr; })) return false;
    insert = FindChild(form, "Button", "Insert");
    save = FindChild(form, "Button", "Save");
    grid = FindChild(form, "FwWindow");
    return insert && save && grid;
  }
  bool Buttons(bool insertOn, bool saveOn) {
    return WaitFor([&] { return (IsWindowEnabled(insert) != 0) == insertOn && (IsWindowEnabled(save) != 0) == saveOn; },
                   seconds(5));
  }
  HWND Focus() {
    HWND f = program.FocusWindow();
    return f ? f : grid;
  }
  void Key(WORD vk) {
    PostKey(Focus(), vk);
    program.Settle();
  }
  void Type(const std::string& text) {
    PostText(Focus(), text);
    program.Settle();
  }
  // One contact typed into the current (new) row: ID, Tab, name, Tab, phone, Enter.
  void TypeContact(const std::string& id, const std::string& name, const std::string& phone) {
    Type(id);
    Key(VK_TAB);
    Type(name);
    Key(VK_TAB);
    Type(phone);
    Key(VK_RETURN);
  }
  // Data rows that the grid shows, counted on the screen (the scroll bar of a window of another process
  // cannot be read): the fixed indicator column has a black line under the title row and under every data
  // row, and none below the last row.
  int PaintedRows() {
    RECT client;
    GetClientRect(grid, &client);
    POINT origin{1, 0};
    ClientToScreen(grid, &origin);
    HDC screen = GetDC(nullptr);
    int lines = 0;
    bool onLine = false;
    for (int y = 0; y < client.bottom; ++y) {
      bool black = GetPixel(screen, origin.x, origin.y + y) == RGB(0, 0, 0);
      if (black && !onLine) ++lines;
      onLine = black;
    }
    ReleaseDC(nullptr, screen);
    return lines - 1;
  }
  // Waits until the grid shows `expected` rows (the screen follows the painting a moment later); the rows
  // it showed last otherwise.
  int Rows(int expected) {
    int rows = -1;
    WaitFor([&] { return (rows = PaintedRows()) == expected; }, seconds(5));
    return rows;
  }
  HWND Dialog() {
    HWND found = nullptr;
    WaitFor([&] {
      DialogSearch ctx{program.ProcessId(), nullptr};
      EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&ctx));
      return (found = ctx.w) != nullptr;
    }, seconds(5));
    return found;
  }
};

// Ctrl+Delete as real keyboard input: the program reads the Ctrl state from its input state.
void CtrlDelete() {
  INPUT in[4] = {};
  for (auto& i : in) i.type = INPUT_KEYBOARD;
  in[0].ki.wVk = VK_CONTROL;
  in[1].ki.wVk = VK_DELETE;
  in[2].ki.wVk = VK_DELETE;
  in[2].ki.dwFlags = KEYEVENTF_KEYUP;
  in[3].ki.wVk = VK_CONTROL;
  in[3].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(4, in, sizeof(INPUT));
}

}  // namespace

TEST(ContactsKeyboard, AddEditAndDeleteContactsWithTheKeyboardAlone) {
  Editor e;
  ASSERT_TRUE(e.Open()) << "contacts.exe did not show its window";
  ASSERT_TRUE(e.Buttons(true, false));
  ASSERT_TRUE(WaitFor([&] { HWND f = e.program.FocusWindow(); return f == e.grid || GetParent(f) == e.grid; }))
      << "the grid has the focus at start";

  // Down on the empty table appends the first row.
  e.Key(VK_DOWN);
  ASSERT_TRUE(e.Buttons(false, true));
  e.TypeContact("1", "Ana Lima", "555-0101");
  EXPECT_TRUE(e.Buttons(false, true));
  // Tab past the last column posts the row and appends the next one, on its first column.
  e.Key(VK_TAB);
  EXPECT_TRUE(e.Buttons(false, true));
  e.TypeContact("2", "Bruno Reis", "555-0102");
  e.Key(VK_TAB);
  e.TypeContact("3", "Carla Dias", "555-0103");
  // Up posts the third row and browses.
  e.Key(VK_UP);
  EXPECT_TRUE(e.Buttons(true, false));
  EXPECT_EQ(e.Rows(3), 3);
  // Insert adds a row at the current one; Home goes to its first column.
  e.Key(VK_INSERT);
  EXPECT_TRUE(e.Buttons(false, true));
  e.Key(VK_HOME);
  e.TypeContact("4", "Davi Melo", "555-0104");
  e.Key(VK_UP);
  EXPECT_TRUE(e.Buttons(true, false));
  EXPECT_EQ(e.Rows(4), 4);
  SaveScreenshot("contacts-keyboard-added", e.form);

  // Edit a name: Home goes to the first column, Tab to NAME, typing replaces the text.
  e.Key(VK_HOME);
  e.Key(VK_TAB);
  e.Type("Bruno Souza");
  EXPECT_TRUE(e.Buttons(false, true));
  e.Key(VK_RETURN);
  e.Key(VK_DOWN);  // leaving the row posts the edit
  EXPECT_TRUE(e.Buttons(true, false));
  SaveScreenshot("contacts-keyboard-edited", e.form);

  // Ctrl+Delete asks and deletes the current contact.
  SetForegroundWindow(e.form);
  CtrlDelete();
  HWND box = e.Dialog();
  ASSERT_NE(box, nullptr) << "no confirmation";
  bool asked = false;
  for (const auto& t : DialogTexts(box)) asked |= t == "Apagar registro?";
  EXPECT_TRUE(asked);
  SaveScreenshot("contacts-keyboard-confirm");
  PostMessageA(box, WM_COMMAND, IDYES, 0);
  ASSERT_TRUE(WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }));
  e.program.Settle();
  EXPECT_TRUE(e.Buttons(true, false));
  EXPECT_EQ(e.Rows(3), 3);
  SaveScreenshot("contacts-keyboard-deleted", e.form);
  EXPECT_EQ(e.program.ExitCode(), STILL_ACTIVE);

  PostMessageA(e.form, WM_CLOSE, 0, 0);
  EXPECT_TRUE(e.program.WaitExit(seconds(10)));
  EXPECT_EQ(e.program.ExitCode(), 0u);
}
