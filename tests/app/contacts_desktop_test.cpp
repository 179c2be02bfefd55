#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/desktop_win.h"

using namespace testsupport;
using namespace std::chrono;

namespace {

struct Editor {
  Program program{"contacts.exe"};
  HWND form = nullptr, insert = nullptr, save = nullptr, grid = nullptr;
  double shownMs = 0;

  bool Open() {
    auto start = steady_clock::now();
    if (!program.Started()) return false;
    if (!WaitFor([&] { return (form = program.TopWindow("Form1")) != nullptr; })) return false;
    shownMs = duration<double, std::milli>(steady_clock::now() - start).count();
    insert = FindChild(form, "Button", "Insert");
    save = FindChild(form, "Button", "Save");
    grid = FindChild(form, "FwWindow");
    return insert && save && grid;
  }
  bool InsertEnabled() const { return IsWindowEnabled(insert); }
  bool SaveEnabled() const { return IsWindowEnabled(save); }
  // Waits until the buttons show the expected states.
  bool Buttons(bool insertOn, bool saveOn) {
    return WaitFor([&] { return InsertEnabled() == insertOn && SaveEnabled() == saveOn; }, seconds(5));
  }
  // The message box the program shows, if any.
  HWND MessageBoxWindow() const {
    HWND found = nullptr;
    WaitFor([&] { return (found = program.DialogWindow()) != nullptr; }, seconds(5));
    return found;
  }
};

}  // namespace

TEST(ContactsDesktop, InsertTypeSaveFollowsTheTableState) {
  Editor e;
  ASSERT_TRUE(e.Open()) << "contacts.exe did not show its window";
  std::printf("contacts.exe window shown after %.0f ms\n", e.shownMs);

  // Window geometry as stored.
  RECT wr;
  GetWindowRect(e.form, &wr);
  EXPECT_EQ(wr.right - wr.left, 677);
  EXPECT_EQ(wr.bottom - wr.top, 302);
  RECT gr;
  GetWindowRect(e.grid, &gr);
  MapWindowPoints(nullptr, e.form, reinterpret_cast<POINT*>(&gr), 2);
  EXPECT_EQ(gr.left, 8);
  EXPECT_EQ(gr.top, 8);
  EXPECT_EQ(gr.right - gr.left, 553);
  EXPECT_EQ(gr.bottom - gr.top, 249);

  // At start the table is browsing: Insert on, Save off.
  EXPECT_TRUE(e.Buttons(true, false));
  SaveScreenshot("contacts-start", e.form);

  // Insert: the table inserts, the grid takes the focus on the ID cell.
  PostClick(e.insert);
  ASSERT_TRUE(e.Buttons(false, true));
  ASSERT_TRUE(WaitFor([&] { HWND f = e.program.FocusWindow(); return f == e.grid || GetParent(f) == e.grid; }));

  // Type an ID, a name and a phone, moving between the cells with Tab.
  PostText(e.program.FocusWindow(), "7");
  e.program.Settle();
  PostKey(e.program.FocusWindow(), VK_TAB);
  e.program.Settle();
  PostText(e.program.FocusWindow(), "Ana Lima");
  e.program.Settle();
  PostKey(e.program.FocusWindow(), VK_TAB);
  e.program.Settle();
  PostText(e.program.FocusWindow(), "555-0100");
  e.program.Settle();
  EXPECT_TRUE(e.Buttons(false, true));
  SaveScreenshot("contacts-typed", e.form);

  // Save posts the record: back to browse.
  PostClick(e.save);
  EXPECT_TRUE(e.Buttons(true, false));
  e.program.Settle();
  SaveScreenshot("contacts-saved", e.form);
  EXPECT_EQ(e.program.ExitCode(), STILL_ACTIVE);

  PostMessageA(e.form, WM_CLOSE, 0, 0);
  EXPECT_TRUE(e.program.WaitExit(seconds(10)));
  EXPECT_EQ(e.program.ExitCode(), 0u);
}

TEST(ContactsDesktop, TextInTheIntegerColumnIsRefusedAndTheRecordStaysInInsert) {
  // An edit error is shown plainly and writes no bug report.
  DeleteFileA("bugreport.txt");
  Editor e;
  ASSERT_TRUE(e.Open());
  PostClick(e.insert);
  ASSERT_TRUE(e.Buttons(false, true));
  ASSERT_TRUE(WaitFor([&] { HWND f = e.program.FocusWindow(); return f == e.grid || GetParent(f) == e.grid; }));
  PostText(e.program.FocusWindow(), "abc");
  e.program.Settle();
  PostClick(e.save);
  HWND box = nullptr;
  WaitFor([&] { return (box = TopWindowOfClass(e.program.ProcessId(), "RavexWndClass")) != nullptr; }, seconds(30));
  ASSERT_NE(box, nullptr) << "the fault was not shown";
  std::string message;
  for (HWND t : ChildrenOfClass(box, "Static")) message += WindowText(t);
  // Address 16 lies in no module: the short form of the text.
  EXPECT_NE(message.find("Access Violation"), std::string::npos) << message;
  // The program's own settings: send, save, print, show and continue in one row; send has the focus.
  std::vector<HWND> buttons = ChildrenOfClass(box, "Button");
  ASSERT_EQ(buttons.size(), 5u);
  const char* captions[] = {"Enviar relat", "Salvar rela", "Imprimir relat", "Mostrar relat", "Ok - Continuar"};
  for (size_t k = 0; k < buttons.size(); ++k) {
    EXPECT_EQ(WindowText(buttons[k]).rfind(captions[k], 0), 0u) << WindowText(buttons[k]);
    EXPECT_EQ(RectIn(box, buttons[k]).top, RectIn(box, buttons[0]).top) << k;
    if (k) {
      EXPECT_GT(RectIn(box, buttons[k]).left, RectIn(box, buttons[k - 1]).left) << k;
    }
  }
  EXPECT_EQ(FocusOf(box), buttons[0]);
  SaveScreenshot("contacts-fault", box);
  // Escape cannot continue the fault and there is no close button: nothing happens.
  PostKey(FocusOf(box), VK_ESCAPE);
  e.program.WaitExit(milliseconds(500));
  EXPECT_EQ(e.program.ExitCode(), STILL_ACTIVE);
  // Continue runs the close operation for a fault that cannot be continued.
  RECT r{};
  GetClientRect(buttons[4], &r);
  PostClickAt(buttons[4], r.right / 2, r.bottom / 2);
  // The fault cannot be continued: the program ends after the box, with exit code 1.
  EXPECT_TRUE(e.program.WaitExit(seconds(20)));
  EXPECT_EQ(e.program.ExitCode(), 1u);
  std::ifstream in("bugreport.txt", std::ios::binary);
  std::stringstream report;
  report << in.rdbuf();
  EXPECT_NE(report.str().find("exception message : Access Violation."), std::string::npos) << report.str();
  EXPECT_NE(report.str().find("executable        : contacts.exe"), std::string::npos) << report.str();
  EXPECT_NE(report.str().find("\r\n00000010 ???"), std::string::npos) << report.str();
}

TEST(ContactsDesktop, WithoutTheDatasetEngineNoWindowAppearsAndTheProgramFails) {
  // A copy of the program in a folder of its own, without MIDAS.DLL beside it.
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  std::string dir = std::string(temp) + "contacts-no-engine";
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string exe = dir + "\\contacts.exe";
  ASSERT_TRUE(CopyFileA("contacts.exe", exe.c_str(), FALSE));
  DeleteFileA((dir + "\\MIDAS.DLL").c_str());
  Program p(exe, "", dir);  // not the test's folder, which has the engine
  ASSERT_TRUE(p.Started());
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = p.DialogWindow()) != nullptr; }, seconds(10)));
  bool found = false;
  for (const auto& t : DialogTexts(box)) found |= t.find("Erro carregando MIDAS.DLL") != std::string::npos;
  EXPECT_TRUE(found);
  EXPECT_EQ(p.TopWindow("Form1"), nullptr);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(p.WaitExit(seconds(10)));
  EXPECT_NE(p.ExitCode(), 0u);
  DeleteFileA(exe.c_str());
  RemoveDirectoryA(dir.c_str());
}
