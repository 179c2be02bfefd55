#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>
#include <thread>

#include "framework/classinfo.h"
#include "framework/component_text.h"
#include "framework/exceptions.h"
#include "framework/forms.h"

using namespace fw;

namespace {

std::string Compile(const std::string& text) {
  std::string bin, error;
  EXPECT_TRUE(CompileComponentText(text, bin, error)) << error;
  return bin;
}

class TTestForm : public TForm {
 public:
  explicit TTestForm(TComponent* owner, const std::string& text) : TForm(owner) {
    methods_["Boom"] = [](TComponent*) { throw EConvertError("'x' is not a valid integer value"); };
    methods_["Count"] = [this](TComponent*) { ++clicks; };
    LoadFromStream(Compile(text));
  }
  const Method* FindMethod(std::string_view name) const override {
    auto it = methods_.find(std::string(name));
    return it == methods_.end() ? nullptr : &it->second;
  }
  void BindField(std::string_view name, TComponent* c) override {
    if (name == "Button1") Button1 = dynamic_cast<TButton*>(c);
    if (name == "Button2") Button2 = dynamic_cast<TButton*>(c);
  }
  TButton* Button1 = nullptr;
  TButton* Button2 = nullptr;
  int clicks = 0;
  std::map<std::string, Method> methods_;
};

const char* kForm = R"(object Test: TTestForm
  Left = 10
  Top = 20
  Width = 400
  Height = 300
  Caption = 'Test form'
  Font.Name = 'Tahoma'
  Font.Height = -11
  PixelsPerInch = %d
  TextHeight = 13
  object Button2: TButton
    Left = 100
    Top = 50
    Width = 150
    Height = 50
    Caption = 'Second'
    TabOrder = 1
    OnClick = Count
  end
  object Button1: TButton
    Left = 10
    Top = 10
    Width = 76
    Height = 26
    Caption = 'First'
    TabOrder = 0
    OnClick = Boom
  end
end)";

std::string FormText(int ppi) {
  char buf[2048];
  std::snprintf(buf, sizeof buf, kForm, ppi);
  return buf;
}

struct App {
  TApplication app;
  App() { app.Initialize(); }
};

}  // namespace

TEST(Forms, StoredFormCreatesControlsWithTabOrderFontAndEvents) {
  App a;
  auto* form = new TTestForm(&a.app, FormText(ScreenPixelsPerInch()));
  form->Show();
  ASSERT_NE(form->Button1, nullptr);
  ASSERT_NE(form->Button2, nullptr);
  EXPECT_EQ(form->Button1->TabOrder(), 0);  // stored second, first in tab order
  EXPECT_EQ(form->Button2->TabOrder(), 1);
  EXPECT_EQ(form->Button1->Font().Name(), "Tahoma");  // parent font
  RECT r;
  GetWindowRect(form->Button2->Handle(), &r);
  MapWindowPoints(nullptr, form->Handle(), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.right - r.left, 150);
  char caption[64];
  GetWindowTextA(form->Button2->Handle(), caption, sizeof caption);
  EXPECT_STREQ(caption, "Second");
  SendMessageA(form->Button2->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(form->clicks, 1);
}

TEST(Forms, ScalesFromTheStoredPixelsPerInch) {
  App a;
  int screen = ScreenPixelsPerInch();
  auto* form = new TTestForm(&a.app, FormText(screen * 2));
  EXPECT_EQ(form->Button2->Left(), 50);
  EXPECT_EQ(form->Button2->Width(), 75);
  EXPECT_EQ(form->Button1->Height(), 13);
  EXPECT_EQ(form->Font().Height(), ScaleValue(-11, screen, screen * 2));
}

TEST(Forms, ExceptionsFromHandlersReachTheApplicationHandlerWithTheirClass) {
  App a;
  auto* form = new TTestForm(&a.app, FormText(ScreenPixelsPerInch()));
  form->Show();
  std::string seen;
  a.app.OnException = [&](TComponent* sender) {
    seen = ClassName(*CurrentExceptionType()) + ": " + CurrentExceptionMessage();
  };
  SendMessageA(form->Button1->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(seen, "EConvertError: 'x' is not a valid integer value");
  EXPECT_TRUE(IsWindow(form->Handle()));
}

TEST(Forms, SynchronisedCallsRunOnTheMainThreadWhenItTakesTheEmptyMessage) {
  App a;
  DWORD mainThread = GetCurrentThreadId();
  DWORD ranOn = 0;
  bool done = false;
  std::thread worker([&] {
    a.app.Synchronize([&] { ranOn = GetCurrentThreadId(); });
    done = true;
  });
  // The main thread's loop: the call runs when the empty message arrives.
  for (int i = 0; i < 500 && !done; ++i) {
    a.app.ProcessMessages();
    Sleep(5);
  }
  worker.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(ranOn, mainThread);
  // An exception in a synchronised call goes back to the calling thread.
  bool rethrown = false;
  std::thread failing([&] {
    try {
      a.app.Synchronize([] { throw EAbort(); });
    } catch (const EAbort&) {
      rethrown = true;
    }
  });
  for (int i = 0; i < 500 && !rethrown; ++i) {
    a.app.ProcessMessages();
    Sleep(5);
  }
  failing.join();
  EXPECT_TRUE(rethrown);
}

TEST(Forms, AControlIsEnteredAndLeftOnlyByFocusFromOrToWindowsOutsideIt) {
  App a;
  auto* form = new TTestForm(&a.app, FormText(ScreenPixelsPerInch()));
  // A container control with a child of its own beside the form's buttons.
  auto* box = new TCustomControl(form);
  box->SetParent(form);
  box->SetBounds(10, 120, 200, 60);
  auto* inner = new TButton(form);
  inner->SetParent(box);
  inner->SetBounds(5, 5, 80, 25);
  form->Show();
  form->Button1->SetFocus();
  std::vector<std::string> events;
  box->OnEnter = [&](TComponent*) { events.push_back("box enter"); };
  box->OnExit = [&](TComponent*) { events.push_back("box exit"); };
  inner->OnEnter = [&](TComponent*) { events.push_back("inner enter"); };
  inner->OnExit = [&](TComponent*) { events.push_back("inner exit"); };

  box->SetFocus();
  EXPECT_EQ(events, std::vector<std::string>{"box enter"});
  // Into its own child and back, twice: the container is neither left nor entered again.
  events.clear();
  inner->SetFocus();
  box->SetFocus();
  inner->SetFocus();
  EXPECT_EQ(events, (std::vector<std::string>{"inner enter", "inner exit", "inner enter"}));
  // From the child to a window outside: both are left, the child first.
  events.clear();
  form->Button2->SetFocus();
  EXPECT_EQ(events, (std::vector<std::string>{"inner exit", "box exit"}));
  // Straight into the child from outside: the container is entered first.
  events.clear();
  inner->SetFocus();
  EXPECT_EQ(events, (std::vector<std::string>{"box enter", "inner enter"}));
  events.clear();
  box->SetFocus();
  form->Button1->SetFocus();
  EXPECT_EQ(events, (std::vector<std::string>{"inner exit", "box exit"}));
}

namespace {
// A modal dialog that Escape cancels from anywhere in it.
class TEscapeForm : public TTestForm {
 public:
  using TTestForm::TTestForm;
  std::string previewed;

 protected:
  void ModalKeyPreview(char& key) override {
    previewed += key == 27 ? "esc" : "enter";
    if (key == 27) {
      SetModalResult(mrCancel);
      key = 0;
    }
  }
};
}  // namespace

TEST(Forms, ShowModalKeepsTheOtherWindowsDisabledUntilAResultIsSet) {
  App a;
  auto* owner = new TTestForm(&a.app, FormText(ScreenPixelsPerInch()));
  owner->Show();
  auto* dialog = new TEscapeForm(&a.app, FormText(ScreenPixelsPerInch()));
  bool ownerEnabledInside = true;
  dialog->Button2->OnClick = [&](TComponent*) {
    ownerEnabledInside = IsWindowEnabled(owner->Handle());
    dialog->SetModalResult(mrOk);
  };
  PostMessageA(dialog->Button2->Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(dialog->ShowModal(), mrOk);
  EXPECT_FALSE(ownerEnabledInside);
  EXPECT_TRUE(IsWindowEnabled(owner->Handle()));
  EXPECT_FALSE(IsWindowVisible(dialog->Handle()));
  EXPECT_FALSE(dialog->Modal());

  // Escape anywhere in the form goes to the key preview; closing the window cancels.
  PostMessageA(dialog->Button1->Handle(), WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  EXPECT_EQ(dialog->previewed, "esc");
  PostMessageA(dialog->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  EXPECT_TRUE(IsWindow(dialog->Handle()));
  EXPECT_TRUE(IsWindowEnabled(owner->Handle()));
}
