// The send assistant of the contact editor shown on the desktop: its three pages typed into and clicked
// through with posted input from a second thread, each page saved as a screenshot, and afterwards the
// report entries, the sender and the remembered contact data in the registry read back.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "crash/core/exception_record.h"
#include "crash/delivery/fields.h"
#include "crash/ui/assistant_build.h"
#include "crash/ui/assistant_handlers.h"
#include "support/desktop_win.h"

using namespace rvx;
using namespace testsupport;
using namespace std::chrono;

namespace {

struct PageSearch {
  HWND found = nullptr;
  std::string childText;
};
BOOL CALLBACK MatchPage(HWND w, LPARAM l) {
  auto* s = reinterpret_cast<PageSearch*>(l);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid == GetCurrentProcessId() && IsWindowVisible(w) && ClassNameOf(w) == "rvxNVAssistantWnd" &&
      (s->childText.empty() || FindChild(w, "Static", s->childText))) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

// The shown page that has a static text `text`.
HWND WaitForPage(const std::string& text) {
  PageSearch s{nullptr, text};
  WaitFor([&] {
    s.found = nullptr;
    EnumWindows(MatchPage, reinterpret_cast<LPARAM>(&s));
    return s.found != nullptr;
  });
  return s.found;
}

// Closes every shown page, so that an assistant whose walk went wrong ends instead of waiting for input.
void CloseAnyPage() {
  for (int round = 0; round < 50; ++round) {
    PageSearch s{nullptr, ""};
    EnumWindows(MatchPage, reinterpret_cast<LPARAM>(&s));
    if (s.found) PostMessageA(s.found, WM_CLOSE, 0, 0);
    Sleep(100);
  }
}

HWND FocusOf(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

class SendAssistantDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallAssistantEngine();
    IContactStore& registry = ContactStore();
    registry.Delete(kRememberName);
    registry.Delete(kRememberEmail);
    ExceptionParams p;
    p.settings = SettingsOfModule(reinterpret_cast<ModuleHandle>(GetModuleHandleA(nullptr)));
    p.dontCompleteYet = true;
    record = NewExceptionRecord(p);
    INVBitmap shot = TINVBitmap::Create(400, 300);
    for (int i = 0; i < 400 * 300; ++i) shot->Bits()[i * 4] = static_cast<uint8_t>(i);  // blue stripes
    record->SetCreateScreenShot(true);
    record->SetScreenShot(MakePictureObject(shot));
    record->SetAppendScreenShot(true);  // the screenshot page starts with its check box checked
  }
  void TearDown() override {
    ContactStore().Delete(kRememberName);
    ContactStore().Delete(kRememberEmail);
    SetAssistantFactory(nullptr);
  }
  Ref<TIRVException> record;
};

TEST_F(SendAssistantDesktop, ContactDetailsAndScreenshotPages) {
  Ref<INVAssistant> found = record->Assistant("SendAssistant");
  auto* assistant = dynamic_cast<TNVAssistant*>(found.get());
  ASSERT_TRUE(assistant) << "the settings resource of the test program names the send assistant";
  ASSERT_EQ(assistant->FormCount(), 3);

  const DWORD ui = GetCurrentThreadId();
  std::atomic<bool> continueWaited{false}, continueAfterAddress{false}, memoHasBreak{false};
  std::string shots[3];
  std::thread user([&] {
    struct Closer {
      ~Closer() { CloseAnyPage(); }
    } closeWhatIsLeft;
    // contact page: the name edit has the focus; Continue waits for an accepted address
    HWND page = WaitForPage("Seu e-mail:");
    if (!page) return;
    HWND cont = FindChild(page, "Button", "Continuar");
    HWND skip = FindChild(page, "Button", "Pr\xF3ximo");
    WaitFor([&] { return FocusOf(ui) != nullptr; });
    PostText(FocusOf(ui), "Ana Lima");
    PostKey(FocusOf(ui), VK_TAB);
    WaitFor([&] { return FocusOf(ui) != nullptr && ClassNameOf(FocusOf(ui)) == "Edit" && WindowText(FocusOf(ui)).empty(); });
    PostText(FocusOf(ui), "ana@exemplo");
    WaitFor([&] { return WindowText(FocusOf(ui)) == "ana@exemplo"; });
    continueWaited = cont && !IsWindowEnabled(cont) && skip && !IsWindowEnabled(skip);
    PostText(FocusOf(ui), ".com.br");
    continueAfterAddress = WaitFor([&] { return IsWindowEnabled(cont) != 0; }, seconds(5));
    shots[0] = SaveScreenshot("assistant-contact", page);
    PostClick(cont);

    // details page: Enter in the nine-line edit breaks the line
    page = WaitForPage("Em qual situa\xE7\xE3o o erro ocorreu?");
    if (!page) return;
    cont = FindChild(page, "Button", "Continuar");
    WaitFor([&] { return FocusOf(ui) != nullptr && ClassNameOf(FocusOf(ui)) == "Edit"; });
    HWND memo = FocusOf(ui);
    PostText(memo, "Cliquei em Save.");
    PostKey(memo, VK_RETURN);
    PostText(memo, "Apareceu um erro.");
    memoHasBreak = WaitFor([&] { return WindowText(memo).find("\r\n") != std::string::npos; }, seconds(5));
    WaitFor([&] { return IsWindowEnabled(cont) != 0; }, seconds(5));
    shots[1] = SaveScreenshot("assistant-details", page);
    PostClick(cont);

    // screenshot page: Continue has the focus, Enter continues
    page = WaitForPage("(Clique para editar a imagem)");
    if (!page) return;
    cont = FindChild(page, "Button", "Continuar");
    WaitFor([&] { return FocusOf(ui) == cont; }, seconds(5));
    shots[2] = SaveScreenshot("assistant-screenshot", page);
    PostClick(cont);
  });
  int result = assistant->ShowModal(nullptr);
  user.join();

  EXPECT_EQ(result, nvmrContinue);
  EXPECT_TRUE(continueWaited) << "Continue and Skip disabled while the address is not accepted";
  EXPECT_TRUE(continueAfterAddress);
  EXPECT_TRUE(memoHasBreak) << "Enter in the nine-line edit inserts a line break";
  for (const std::string& shot : shots) EXPECT_FALSE(shot.empty());

  PutAssistantIntoReport(*assistant, *record);
  EXPECT_EQ(record->BugReportHeader()->Content("contact name"), "Ana Lima");
  EXPECT_EQ(record->BugReportHeader()->Content("contact email"), "ana@exemplo.com.br");
  EXPECT_EQ(record->BugReportSections()->Content("Detalhes do erro"), "Cliquei em Save.\r\nApareceu um erro.");
  EXPECT_EQ(record->MailFrom(), "Ana Lima <ana@exemplo.com.br>");
  EXPECT_EQ(ContactStore().Read(kRememberName), "Ana Lima") << "remembered in the registry";
  EXPECT_EQ(ContactStore().Read(kRememberEmail), "ana@exemplo.com.br");
  EXPECT_TRUE(record->AppendScreenShot());
}

}  // namespace
