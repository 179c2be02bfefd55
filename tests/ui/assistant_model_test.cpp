// Pages built from their descriptions, the items' properties and defaults, the command logic of a shown
// page, running assistants and resolving action handlers.
#include <gtest/gtest.h>

#include "assistant_fixtures.h"
#include "crash/delivery/fields.h"
#include "crash/ui/assistant_build.h"
#include "crash/ui/assistant_handlers.h"
#include "crash/ui/assistant_model.h"

using namespace rvx;
using rvxtest::FormStream;

namespace {

std::vector<std::string> g_messages;
void CollectMessage(const std::string& text) { g_messages.push_back(text); }

class AssistantModel : public ::testing::Test {
 protected:
  void SetUp() override {
    g_messages.clear();
    SetAssistantMessageHook(CollectMessage);
  }
  void TearDown() override {
    SetAssistantMessageHook(nullptr);
    SetFormRunner(nullptr);
    SetActionHandlerLookup(nullptr);
  }
};

// A record of the action handler's calls: "form:action:item".
std::vector<std::string> g_actions;
void Record(INVForm* form, int action, INVItem* item, IRVException*) {
  g_actions.push_back(form->Name() + ":" + std::to_string(action) + ":" + (item ? item->Name() : ""));
}
NVActionHandler LookupRecord(std::string_view unit, std::string_view routine) {
  g_actions.push_back("lookup " + std::string(unit) + "/" + std::string(routine));
  return routine == "Record" ? Record : nullptr;
}

TEST_F(AssistantModel, ClassesStandardButtonsAndTheFormName) {
  Ref<TNVForm> form = ReadForm(FormStream("TRVPage", "Page")
                                   .Text("Message", "Hello")
                                   .Int("MinWidth", 400)
                                   .Int("Timer", 250)
                                   .Text("ActiveControl", "Memo")
                                   .Text("Unknown", "ignored")
                                   .Child("INVButton", "ContinueBtn").Text("Caption", "Go")
                                   .Child("INVButton", "AbortBtn").Bool("NoOwnerDraw", true)
                                   .Child("XNVButton", "Extra").Text("Caption", "More")
                                   .Child("INVButton", "continuebtn")
                                   .Child("INVLabel", "L")
                                   .Child("TSomething", "Inner").Text("Message", "Second")
                                   .Child("INVEdit", "Memo")
                                   .Child("INVCheckBox", "C")
                                   .Child("INVImage", "I")
                                   .Child("inveditx", "NotAnItem")
                                   .End());
  EXPECT_EQ(form->Name(), "Page");
  EXPECT_EQ(form->Message(), "Second") << "properties of any non-item object are the form's";
  EXPECT_EQ(form->MinWidth(), 400);
  EXPECT_EQ(form->TimerInterval(), 250);
  EXPECT_EQ(form->ActiveControl(), "Memo");
  EXPECT_TRUE(g_messages.empty());
  ASSERT_EQ(form->ItemCount(), 3 + 6);
  EXPECT_EQ(form->ContinueButton()->Caption(), "Go");
  EXPECT_EQ(form->SkipButton()->Caption(), "Skip");
  EXPECT_EQ(form->CancelButton()->Caption(), "Cancel");
  EXPECT_TRUE(form->StandardButton(kCancelIndex)->NoOwnerDraw()) << "AbortBtn configures Cancel";
  std::vector<std::pair<std::string, NVItemKind>> want = {
      {"Extra", NVItemKind::Button}, {"continuebtn", NVItemKind::Button}, {"L", NVItemKind::Label},
      {"Memo", NVItemKind::Edit},    {"C", NVItemKind::CheckBox},         {"I", NVItemKind::Image}};
  for (size_t i = 0; i < want.size(); ++i) {
    TNVItem* item = form->ItemAt(static_cast<int>(i) + kFirstContentIndex);
    EXPECT_EQ(item->Name(), want[i].first);
    EXPECT_EQ(item->Kind(), want[i].second) << item->Name();
    EXPECT_EQ(item->Index(), static_cast<int>(i) + kFirstContentIndex);
  }
  EXPECT_EQ(form->Button("Extra")->Caption(), "More");
  EXPECT_FALSE(form->Edit("C")) << "an item of another kind is not answered";
  EXPECT_FALSE(form->Edit("memo")) << "names compare exactly";
  EXPECT_TRUE(form->Edit("Memo"));
  // the items form a ring in list order
  TNVItem* last = form->ItemAt(form->ItemCount() - 1);
  EXPECT_EQ(last->Next(), form->ItemAt(0));
  EXPECT_EQ(form->ItemAt(0)->Previous(), last);
}

TEST_F(AssistantModel, PropertiesAndDefaults) {
  Ref<TNVForm> form = ReadForm(FormStream()
                                   .Child("INVButton", "B").Int("MinWidth", 90).Bool("Visible", false).Int("Spacing", 7)
                                   .Child("INVEdit", "E0")
                                   .Child("INVEdit", "E").Int("Lines", 3).Text("Optional", "yes").Bool("Colored", false)
                                   .Text("Valid", "0").Text("Text", "a%LF%b%lf%").Ident("OutputType", "nvoOwnSection")
                                   .Text("OutputName", "out").Bool("Enabled", false)
                                   .Child("INVCheckBox", "C0")
                                   .Child("INVCheckBox", "C").Text("Text", "via text").Bool("Checked", true)
                                   .Child("INVImage", "I0")
                                   .Child("INVImage", "I").Int("Width", 40).Int("Height", 30).Bool("Clickable", true)
                                   .Bool("Border", true).Text("File", "pic.bmp")
                                   .End());
  TNVButton* b = static_cast<TNVButton*>(form->FindItem("B"));
  EXPECT_EQ(b->MinWidth(), 90);
  EXPECT_TRUE(b->Invisible());
  EXPECT_EQ(b->Spacing(), 7);
  EXPECT_EQ(b->Caption(), "");
  EXPECT_EQ(b->ShownCaption(b->Caption()), "B") << "an empty caption shows the item name";

  Ref<INVEdit> e0 = form->Edit("E0");
  EXPECT_EQ(e0->Lines(), 0);
  EXPECT_FALSE(e0->Optional());
  EXPECT_TRUE(e0->Colored());
  EXPECT_TRUE(e0->Valid());
  EXPECT_TRUE(e0->Enabled());
  EXPECT_EQ(e0->Text(), "");
  EXPECT_EQ(e0->OutputType(), nvoHeader);
  EXPECT_EQ(e0->OutputName(), "");
  Ref<INVEdit> e = form->Edit("E");
  EXPECT_EQ(e->Lines(), 3);
  EXPECT_TRUE(e->Optional());
  EXPECT_FALSE(e->Colored());
  EXPECT_FALSE(e->Valid());
  EXPECT_FALSE(e->Enabled());
  EXPECT_EQ(e->Text(), "a\r\nb\r\n");
  EXPECT_EQ(e->OutputType(), nvoOwnSection);
  EXPECT_EQ(e->OutputName(), "out");

  // own section only for an edit of more than one line
  e0->SetOutputType(nvoOwnSection);
  EXPECT_EQ(e0->OutputType(), nvoHeader);
  e->SetOutputType(nvoHeader);
  e->SetOutputType(nvoOwnSection);
  EXPECT_EQ(e->OutputType(), nvoOwnSection);

  EXPECT_FALSE(form->CheckBox("C0")->Checked());
  EXPECT_EQ(form->CheckBox("C0")->Caption(), "");
  EXPECT_TRUE(form->CheckBox("C")->Checked());
  EXPECT_EQ(form->CheckBox("C")->Caption(), "via text");

  auto* i0 = static_cast<TNVImage*>(form->FindItem("I0"));
  EXPECT_FALSE(i0->Clickable());
  EXPECT_FALSE(i0->Border());
  EXPECT_EQ(i0->WantedWidth(), 0);
  EXPECT_EQ(i0->FrameAllowance(), 0);
  auto* i = static_cast<TNVImage*>(form->FindItem("I"));
  EXPECT_EQ(i->WantedWidth(), 40);
  EXPECT_EQ(i->WantedHeight(), 30);
  EXPECT_EQ(i->File(), L"pic.bmp");
  EXPECT_EQ(i->FrameAllowance(), 8);
}

TEST_F(AssistantModel, BadDataGivesTheButtonsAndWhatWasRead) {
  Ref<TNVForm> empty = ReadForm("not a form");
  EXPECT_EQ(empty->ItemCount(), 3);
  EXPECT_EQ(empty->Name(), "");
  EXPECT_TRUE(g_messages.empty());

  Ref<TNVForm> broken = ReadForm(FormStream("TRVPage", "Page")
                                     .Child("INVLabel", "Kept")
                                     .Raw(std::string("\x04Size\x05", 6) + std::string(10, '\0'))
                                     .Child("INVEdit", "Lost")
                                     .End());
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_EQ(g_messages[0], "Internal error: Invalid assistant resource ($5).");
  EXPECT_EQ(broken->Name(), "Page");
  EXPECT_EQ(broken->ItemCount(), 4);
  EXPECT_TRUE(broken->Label("Kept"));
}

TEST_F(AssistantModel, ContinueCheckAndFocusOrder) {
  Ref<TNVForm> form = ReadForm(FormStream()
                                   .Child("INVLabel", "L")
                                   .Child("INVEdit", "Optional").Bool("Optional", true)
                                   .Child("INVImage", "I")
                                   .Child("INVEdit", "Needed")
                                   .Child("INVCheckBox", "Off").Bool("Enabled", false)
                                   .Child("INVCheckBox", "C")
                                   .End());
  TNVButton* cont = form->StandardButton(kContinueIndex);
  form->ContinueCheck();
  EXPECT_FALSE(cont->WindowEnabled()) << "a required edit is empty";
  form->Edit("Needed")->SetText("x");
  EXPECT_TRUE(cont->WindowEnabled()) << "a text change re-checks";
  form->Edit("Needed")->SetValid(false);
  EXPECT_FALSE(cont->WindowEnabled());
  form->Edit("Needed")->SetValid(true);
  EXPECT_TRUE(cont->WindowEnabled());

  // labels, images and disabled items are skipped; the ring wraps
  TNVItem* cancel = form->StandardButton(kCancelIndex);
  EXPECT_EQ(form->FirstFocus()->Name(), "Optional");
  EXPECT_EQ(form->FocusTarget(form->FindItem("Optional"), true)->Name(), "Needed");
  EXPECT_EQ(form->FocusTarget(form->FindItem("Needed"), true)->Name(), "C");
  EXPECT_EQ(form->FocusTarget(form->FindItem("C"), true)->Name(), "ContinueBtn");
  EXPECT_EQ(form->FocusTarget(form->FindItem("Optional"), false), cancel);
  form->StandardButton(kSkipIndex)->SetEnabled(false);
  EXPECT_EQ(form->FocusTarget(cont, true), cancel);
  form->Edit("Needed")->SetText("");
  EXPECT_EQ(form->FocusTarget(form->FindItem("C"), true), cancel) << "Continue disabled by validation";
  form->SetActiveControl("L");
  EXPECT_EQ(form->FirstFocus()->Name(), "L") << "the named active control gets the focus, of any kind";

  Ref<TNVForm> alone = ReadForm(FormStream().Child("INVLabel", "L").End());
  alone->StandardButton(kContinueIndex)->SetEnabled(false);
  alone->StandardButton(kSkipIndex)->SetEnabled(false);
  TNVItem* onlyCancel = alone->StandardButton(kCancelIndex);
  EXPECT_EQ(alone->FocusTarget(onlyCancel, true), onlyCancel) << "coming back to the start keeps the focus";
}

TEST_F(AssistantModel, ClicksAndEndingAForm) {
  Ref<TNVForm> form = ReadForm(FormStream("TRVPage", "Page")
                                   .Child("INVCheckBox", "C")
                                   .Child("INVButton", "B")
                                   .Child("INVEdit", "E").Bool("Optional", true)
                                   .End());
  g_actions.clear();
  bool checkedWhenFired = false;
  static bool* seen;
  seen = &checkedWhenFired;
  form->SetActionHandler([](INVForm* f, int action, INVItem* item, IRVException*) {
    if (action == nvaItemEvent && item && item->Name() == "C") *seen = f->CheckBox("C")->Checked();
    Record(f, action, item, nullptr);
  });
  form->Click(*form->FindItem("C"));
  EXPECT_TRUE(checkedWhenFired) << "a check box toggles before its event";
  form->Click(*form->FindItem("B"));
  form->Edit("E")->SetText("typed");
  form->TimerTick();
  form->Click(*form->StandardButton(kSkipIndex));
  EXPECT_EQ(form->ModalResult(), nvmrSkip);
  EXPECT_EQ(g_actions, (std::vector<std::string>{"Page:3:C", "Page:3:B", "Page:3:E", "Page:3:", "Page:2:"}));

  g_actions.clear();
  form->StandardButton(kCancelIndex)->SetEnabled(false);
  form->Click(*form->StandardButton(kCancelIndex));
  EXPECT_TRUE(g_actions.empty()) << "a disabled button does nothing";
  form->CloseRequest();
  EXPECT_EQ(form->ModalResult(), nvmrCancel);
  EXPECT_EQ(g_actions, (std::vector<std::string>{"Page:2:"}));
}

// The runner stands in for the user: it types into the page's edits and presses a button per page.
std::vector<int> g_presses;
std::vector<std::string> g_shown;
int ScriptedRunner(TNVForm& form, NVWindow) {
  if (!form.PrepareToAppear()) return nvmrSkip;
  g_shown.push_back(form.Name());
  if (Ref<INVEdit> e = form.Edit("E")) e->SetText("text of " + form.Name());
  int press = g_presses.empty() ? kCancelIndex : g_presses.front();
  if (!g_presses.empty()) g_presses.erase(g_presses.begin());
  form.Click(*form.StandardButton(press));
  return form.ModalResult();
}

Ref<TNVAssistant> ThreePages() {
  Ref<TNVAssistant> a(new TNVAssistant("Title", nullptr));
  for (const char* name : {"One", "Two", "Three"})
    a->AddForm(ReadForm(FormStream("TRVPage", name)
                            .Child("INVEdit", "E").Int("Lines", 2).Text("OutputName", std::string("out ") + name)
                            .Ident("OutputType", "nvoOwnSection")
                            .Child("INVCheckBox", "C").Text("OutputName", std::string("check ") + name)
                            .End()));
  a->SetSteps();
  return a;
}

TEST_F(AssistantModel, RunningAnAssistant) {
  SetFormRunner(ScriptedRunner);
  Ref<TNVAssistant> a = ThreePages();
  EXPECT_EQ(a->Form(2)->Step(), 3);
  EXPECT_EQ(a->Form(0)->StepCount(), 3);
  EXPECT_EQ(a->Form(1)->Title(), "Title");
  a->SetTitle("New");
  EXPECT_EQ(a->Form(2)->Title(), "New");

  g_shown.clear();
  g_presses = {kContinueIndex, kSkipIndex, kContinueIndex};
  EXPECT_EQ(a->ShowModal(nullptr), nvmrContinue);
  EXPECT_EQ(g_shown, (std::vector<std::string>{"One", "Two", "Three"}));
  EXPECT_TRUE(a->FormContinued(0));
  EXPECT_FALSE(a->FormContinued(1));
  EXPECT_EQ(a->Form(0)->Edit("E")->Text(), "text of One") << "a continued edit keeps its text";

  // only pages closed with Continue reach the report
  Ref<IRVFields> header = CreateFields(), sections = CreateFields();
  Query<IRVFieldsEx>(header)->AcceptData();
  Query<IRVFieldsEx>(sections)->AcceptData();
  header->Add("check One", "old");
  a->Form(2)->CheckBox("C")->SetChecked(true);
  a->Form(2)->Edit("E")->SetOutputType(nvoHeader);
  PutAssistantIntoReport(*a, *header, *sections);
  EXPECT_EQ(header->Count(), 3);
  EXPECT_EQ(header->Content("check One"), "no") << "an existing entry is replaced";
  EXPECT_EQ(header->Content("check Three"), "yes");
  EXPECT_EQ(header->Content("out Three"), "text of Three") << "a page's own choice of the header";
  EXPECT_EQ(sections->Count(), 1);
  EXPECT_EQ(sections->Content("out One"), "text of One");
  EXPECT_EQ(header->Find("out Two"), -1);
  EXPECT_EQ(header->Find("check Two"), -1) << "a skipped page is not written";

  // Cancel ends the assistant at once
  Ref<TNVAssistant> b = ThreePages();
  g_shown.clear();
  g_presses = {kContinueIndex, kCancelIndex, kContinueIndex};
  EXPECT_EQ(b->ShowModal(nullptr), nvmrCancel);
  EXPECT_EQ(b->ModalResult(), nvmrCancel);
  EXPECT_EQ(g_shown, (std::vector<std::string>{"One", "Two"}));
}

TEST_F(AssistantModel, SkipRequestsAndLookups) {
  SetFormRunner(ScriptedRunner);
  Ref<TNVAssistant> a = ThreePages();
  a->Form(0)->Skip();
  a->Form(1)->SetActionHandler([](INVForm* f, int action, INVItem*, IRVException*) {
    if (action == nvaAboutToAppear) f->Skip();
  });
  g_shown.clear();
  g_presses = {kContinueIndex};
  EXPECT_EQ(a->ShowModal(nullptr), nvmrContinue);
  EXPECT_EQ(g_shown, (std::vector<std::string>{"Three"}));
  EXPECT_EQ(a->Form(0)->ModalResult(), nvmrSkip);
  EXPECT_EQ(a->Form(1)->ModalResult(), nvmrSkip);

  EXPECT_EQ(a->FormByName("two"), a->Form(1));
  EXPECT_FALSE(a->Form(3));
  EXPECT_FALSE(a->Form(-1));
  Ref<TNVAssistant> twice(new TNVAssistant("T", nullptr));
  twice->AddForm(ReadForm(FormStream("TRVPage", "Same").End()));
  twice->AddForm(ReadForm(FormStream("TRVPage", "same").End()));
  EXPECT_EQ(twice->FormByName("SAME"), twice->Form(1)) << "the last match wins";
}

TEST_F(AssistantModel, ResolvingActionHandlers) {
  EXPECT_EQ(ResolveActionHandler("ravex.handlecontactform"), &HandleContactForm);
  EXPECT_EQ(ResolveActionHandler("RAVEX.HANDLESCREENSHOTFORM"), &HandleScreenshotForm);
  EXPECT_EQ(ResolveActionHandler("Unit1.Record"), nullptr) << "without a lookup only the built-ins resolve";
  SetActionHandlerLookup(LookupRecord);
  g_actions.clear();
  EXPECT_EQ(ResolveActionHandler("Unit1.Record"), &Record);
  EXPECT_EQ(ResolveActionHandler("Record"), &Record);
  EXPECT_EQ(ResolveActionHandler("A.B.Missing"), nullptr);
  EXPECT_EQ(g_actions, (std::vector<std::string>{"lookup Unit1/Record", "lookup /Record", "lookup A/B.Missing"}));

  // a page names its handler; building the assistant fires "created" for every page in order
  ClearMemoryModules();
  SetMemoryModule(0x5000, L"C:\\x\\p.exe");
  SetMemoryResource(0x5000, "TRVFIRST", FormStream("TRVFirst", "First").Text("OnAction", "Unit1.Record").End());
  SetMemoryResource(0x5000, "TRVSECOND", FormStream("TRVSecond", "Second").Text("OnAction", "Nowhere").End());
  g_actions.clear();
  Ref<TNVAssistant> a = BuildAssistant(0x5000, "T", {"First", "second", "Missing"}, nullptr);
  EXPECT_EQ(a->FormCount(), 3);
  EXPECT_EQ(a->Form(1)->ActionHandler(), nullptr);
  EXPECT_EQ(a->Form(2)->ItemCount(), 3) << "a missing resource gives the buttons only";
  EXPECT_EQ(a->Form(2)->Name(), "");
  EXPECT_EQ(g_actions, (std::vector<std::string>{"lookup Unit1/Record", "lookup /Nowhere", "First:0:"}));
  ClearMemoryModules();
}

TEST_F(AssistantModel, DefinitionTexts) {
  auto d = ParseAssistantDefinition("SendAssistant|Assistente de envio|ContactForm|DetailsForm|ScrShotForm");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->name, "SendAssistant");
  EXPECT_EQ(d->title, "Assistente de envio");
  EXPECT_EQ(d->forms, (std::vector<std::string>{"ContactForm", "DetailsForm", "ScrShotForm"}));
  EXPECT_FALSE(ParseAssistantDefinition(""));
  EXPECT_FALSE(ParseAssistantDefinition("|title|Form"));
  EXPECT_TRUE(ParseAssistantDefinition("OnlyName")->forms.empty());
  EXPECT_EQ(FormResourceName("ScrShotForm"), "TRVSCRSHOTFORM");
}

}  // namespace
