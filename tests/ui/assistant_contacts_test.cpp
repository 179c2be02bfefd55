// The contact editor's own assistant pages and settings as compiled from resources/: the three pages read
// back, their layout over fixed measurements, and the send assistant run from the settings to the report.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "assistant_fixtures.h"
#include "crash/core/exception_record.h"
#include "crash/core/handlers.h"
#include "crash/delivery/fields.h"
#include "crash/ui/assistant_build.h"
#include "crash/ui/assistant_handlers.h"
#include "crash/ui/assistant_layout.h"

using namespace rvx;
using rvxtest::FixedMeasure;

namespace {

std::string FileBytes(const char* path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::vector<std::string> g_messages;

class ContactsPages : public ::testing::Test {
 protected:
  void SetUp() override {
    g_messages.clear();
    SetAssistantMessageHook([](const std::string& m) { g_messages.push_back(m); });
    SetContactStore(&store);
  }
  void TearDown() override {
    SetAssistantMessageHook(nullptr);
    SetContactStore(nullptr);
    SetFormRunner(nullptr);
  }
  static Ref<TNVForm> Page(const char* bin) {
    std::string data = FileBytes(bin);
    EXPECT_GT(data.size(), 4u) << bin;
    return ReadForm(data);
  }
  rvxtest::MemoryContactStore store;
};

void ExpectStandardButtons(TNVForm& form, bool skipEnabled) {
  const char* captions[3] = {"Continuar", "Pr\xF3ximo", "Cancelar"};
  for (int i = 0; i < 3; ++i) {
    TNVButton& b = *form.StandardButton(i);
    EXPECT_EQ(b.Caption(), captions[i]);
    EXPECT_EQ(b.Enabled(), i != kSkipIndex || skipEnabled) << i;
    EXPECT_FALSE(b.NoOwnerDraw());
    EXPECT_FALSE(b.Invisible());
    EXPECT_EQ(b.Spacing(), 0);
  }
}

TEST_F(ContactsPages, ReadBackExactly) {
  Ref<TNVForm> contact = Page(RVX_CONTACT_BIN);
  EXPECT_EQ(contact->Name(), "ContactForm");
  EXPECT_EQ(contact->Message(), "Informa\xE7\xF5" "es de Contato");
  EXPECT_EQ(contact->MinWidth(), 0);
  EXPECT_EQ(contact->OnActionText(), "Ravex.HandleContactForm");
  EXPECT_EQ(contact->ActionHandler(), &HandleContactForm);
  EXPECT_EQ(contact->TimerInterval(), 0);
  EXPECT_EQ(contact->ActiveControl(), "");
  ExpectStandardButtons(*contact, false);
  ASSERT_EQ(contact->ItemCount(), 8);
  EXPECT_EQ(contact->Label("Label1")->Caption(), "Seu Nome:");
  EXPECT_EQ(contact->Label("Label2")->Caption(), "Seu e-mail:");
  Ref<INVEdit> name = contact->Edit("NameEdit"), email = contact->Edit("EmailEdit");
  EXPECT_EQ(contact->ItemAt(4)->Name(), "NameEdit");
  EXPECT_EQ(contact->ItemAt(6)->Name(), "EmailEdit");
  EXPECT_EQ(name->Lines(), 1);
  EXPECT_TRUE(name->Optional());
  EXPECT_EQ(name->OutputName(), "contact name");
  EXPECT_EQ(email->Lines(), 1);
  EXPECT_FALSE(email->Optional());
  EXPECT_EQ(email->OutputName(), "contact email");
  for (const Ref<INVEdit>& e : {name, email}) {
    EXPECT_EQ(e->OutputType(), nvoHeader);
    EXPECT_TRUE(e->Colored());
    EXPECT_TRUE(e->Valid());
    EXPECT_EQ(e->Text(), "");
    EXPECT_TRUE(e->Enabled());
  }
  Ref<INVCheckBox> mem = contact->CheckBox("MemCheck");
  EXPECT_EQ(mem->Caption(), "Lembrar meus dados");
  EXPECT_TRUE(mem->Checked());
  EXPECT_EQ(mem->OutputName(), "");

  Ref<TNVForm> details = Page(RVX_DETAILS_BIN);
  EXPECT_EQ(details->Name(), "DetailsForm");
  EXPECT_EQ(details->Message(), "Detalhes do erro");
  EXPECT_EQ(details->ActionHandler(), nullptr);
  EXPECT_EQ(details->OnActionText(), "");
  ExpectStandardButtons(*details, true);
  ASSERT_EQ(details->ItemCount(), 5);
  EXPECT_EQ(details->Label("Label1")->Caption(), "Em qual situa\xE7\xE3o o erro ocorreu?");
  Ref<INVEdit> memo = details->Edit("DetailsMemo");
  EXPECT_EQ(memo->Lines(), 9);
  EXPECT_FALSE(memo->Optional());
  EXPECT_EQ(memo->OutputName(), "Detalhes do erro");
  EXPECT_EQ(memo->OutputType(), nvoOwnSection);

  Ref<TNVForm> shot = Page(RVX_SCRSHOT_BIN);
  EXPECT_EQ(shot->Name(), "ScrShotForm");
  EXPECT_EQ(shot->ActiveControl(), "ContinueBtn");
  EXPECT_EQ(shot->Message(), "Configura\xE7\xF5" "es da tela");
  EXPECT_EQ(shot->ActionHandler(), &HandleScreenshotForm);
  EXPECT_EQ(shot->TimerInterval(), 250);
  ExpectStandardButtons(*shot, false);
  ASSERT_EQ(shot->ItemCount(), 6);
  EXPECT_EQ(shot->ItemAt(3)->Name(), "AttachCheck");
  EXPECT_EQ(shot->CheckBox("AttachCheck")->Caption(), "Anexar uma c\xF3pia da tela");
  EXPECT_TRUE(shot->CheckBox("AttachCheck")->Checked());
  auto* img = static_cast<TNVImage*>(shot->FindItem("ScrShotImg"));
  ASSERT_TRUE(img);
  EXPECT_EQ(img->Index(), 4);
  EXPECT_TRUE(img->Border());
  EXPECT_TRUE(img->Clickable());
  EXPECT_EQ(img->File(), L"");
  EXPECT_EQ(img->WantedWidth(), 0);
  EXPECT_EQ(img->WantedHeight(), 0);
  EXPECT_EQ(shot->Label("Label1")->Caption(), "(Clique para editar a imagem)");
  EXPECT_TRUE(g_messages.empty());
}

// Text 6 pixels per character and 13 high in the form font, 8 per character in the button font and 9 bold.
TEST_F(ContactsPages, LayoutNumbers) {
  FixedMeasure m;
  NVMetrics metrics;  // check mark 13 x 13, screen 768 high
  Ref<TNVForm> contact = Page(RVX_CONTACT_BIN);
  contact->SetStep(1, 3);
  NVFormLayout c = LayoutForm(*contact, m, metrics);
  EXPECT_EQ(c.width, 315);
  EXPECT_EQ(contact->FindItem("Label1")->rect, (NVRect{21, 38, 75, 51}));
  EXPECT_EQ(contact->FindItem("NameEdit")->rect, (NVRect{21, 55, 294, 74}));
  EXPECT_EQ(EditWindowRect(*contact->FindItem("NameEdit")), (NVRect{23, 57, 292, 72}));
  EXPECT_EQ(contact->FindItem("Label2")->rect, (NVRect{21, 80, 87, 93}));
  EXPECT_EQ(contact->FindItem("EmailEdit")->rect, (NVRect{21, 97, 294, 116}));
  EXPECT_EQ(contact->FindItem("MemCheck")->rect, (NVRect{21, 128, 150, 141}));
  EXPECT_EQ(c.finalY, 141);
  EXPECT_EQ(c.height, 206);
  EXPECT_EQ(c.buttons[kContinueIndex], (NVRect{8, 165, 100, 197}));
  EXPECT_EQ(c.buttons[kSkipIndex], (NVRect{108, 165, 193, 197}));
  EXPECT_EQ(c.buttons[kCancelIndex], (NVRect{222, 165, 307, 197}));
  EXPECT_EQ(c.panel, (NVRect{8, 25, 306, 155}));

  Ref<TNVForm> details = Page(RVX_DETAILS_BIN);
  details->SetStep(2, 3);
  NVFormLayout d = LayoutForm(*details, m, metrics);
  EXPECT_EQ(d.width, 315);
  EXPECT_EQ(details->FindItem("Label1")->rect, (NVRect{21, 38, 213, 51}));
  EXPECT_EQ(details->FindItem("DetailsMemo")->rect, (NVRect{21, 55, 294, 55 + 13 * 9 + 2 + 4}));
  EXPECT_EQ(d.height, 32 + 178 + 33);
  EXPECT_EQ(d.buttons[kCancelIndex].top, 243 - 32 - 9);

  Ref<TNVForm> shot = Page(RVX_SCRSHOT_BIN);
  shot->SetStep(3, 3);
  NVFormLayout s = LayoutForm(*shot, m, metrics);
  EXPECT_EQ(s.width, 315);
  EXPECT_EQ(shot->FindItem("AttachCheck")->rect, (NVRect{21, 40, 186, 53}));
  EXPECT_EQ(shot->FindItem("ScrShotImg")->rect, (NVRect{21, 65, 61, 105})) << "no picture: 32 x 32 and the frames";
  EXPECT_EQ(shot->FindItem("Label1")->rect, (NVRect{21, 115, 195, 128}));
  EXPECT_EQ(s.height, 32 + 128 + 33);

  // with a screenshot of a 1024 x 768 screen: at most 315 - 8 - 42 wide and 256 high, proportions kept
  auto* img = static_cast<TNVImage*>(shot->FindItem("ScrShotImg"));
  img->StorePicture(TINVBitmap::Create(1024, 768));
  LayoutForm(*shot, m, metrics);
  EXPECT_EQ(img->rect, (NVRect{21, 65, 21 + 265 + 8, 65 + 198 + 8}));
}

// The send assistant of the contact editor, looked up through its settings for an exception record.
class SendAssistant : public ContactsPages {
 protected:
  void SetUp() override {
    ContactsPages::SetUp();
    ClearMemoryModules();
    SetMemoryModule(kContacts, L"C:\\Contacts\\contacts.exe");
    SetMemoryResource(kContacts, "ZAVEDO", FileBytes(RVX_SETTINGS_BIN));
    SetMemoryResource(kContacts, "TRVCONTACTFORM", FileBytes(RVX_CONTACT_BIN));
    SetMemoryResource(kContacts, "TRVDETAILSFORM", FileBytes(RVX_DETAILS_BIN));
    SetMemoryResource(kContacts, "TRVSCRSHOTFORM", FileBytes(RVX_SCRSHOT_BIN));
    InstallAssistantEngine();
    SetFormRunner(Runner);
    ExceptionParams p;
    p.settings = SettingsOfModule(kContacts);
    p.dontCompleteYet = true;
    record = NewExceptionRecord(p);
    record->SetCreateScreenShot(true);
    record->SetScreenShot(MakePictureObject(TINVBitmap::Create(80, 60)));
    g_name = "Ana";
    g_email = "ana@example.com";
    g_details = "Cliquei em Save.\r\nApareceu um erro.";
    g_uncheck = false;
    g_shown.clear();
  }
  void TearDown() override {
    SetAssistantFactory(nullptr);
    record.reset();
    ClearMemoryModules();
    ContactsPages::TearDown();
  }

  // The user: on the contact page types name and address (checking the Continue button on the way), on the
  // details page a text, and continues each page.
  static int Runner(TNVForm& form, NVWindow) {
    if (!form.PrepareToAppear()) return nvmrSkip;
    g_shown.push_back(form.Name());
    TNVItem& cont = *form.StandardButton(kContinueIndex);
    form.ContinueCheck();
    if (form.Name() == "ContactForm") {
      if (!g_typeNothing) {
        form.Edit("NameEdit")->SetText(g_name);
        form.Edit("EmailEdit")->SetText("ana@");
        g_continueWithBadAddress = cont.WindowEnabled();
        g_colourWithBadAddress = form.Edit("EmailEdit")->Valid();
        form.Edit("EmailEdit")->SetText(g_email);
      }
      if (g_uncheck) form.Click(*form.FindItem("MemCheck"));
    } else if (form.Name() == "DetailsForm") {
      g_continueWithoutDetails = cont.WindowEnabled();
      form.Edit("DetailsMemo")->SetText(g_details);
    }
    form.Click(cont);
    return form.ModalResult() == nvmrNone ? nvmrCancel : form.ModalResult();
  }

  static constexpr ModuleHandle kContacts = 0x400000;
  static inline std::string g_name, g_email, g_details;
  static inline bool g_uncheck = false, g_typeNothing = false;
  static inline bool g_continueWithBadAddress = true, g_colourWithBadAddress = true, g_continueWithoutDetails = true;
  static inline std::vector<std::string> g_shown;
  Ref<TIRVException> record;
};

TEST_F(SendAssistant, FromTheSettingsIntoTheReport) {
  Ref<INVAssistant> found = record->Assistant("sendassistant");
  ASSERT_TRUE(found);
  auto* a = dynamic_cast<TNVAssistant*>(found.get());
  ASSERT_TRUE(a);
  ASSERT_EQ(a->FormCount(), 3);
  EXPECT_EQ(a->Title(), "Assistente de envio");
  EXPECT_EQ(a->Form(2)->Step(), 3);
  EXPECT_EQ(a->Form(0)->StepCount(), 3);
  EXPECT_EQ(a->Form(0)->ExceptionRecord().get(), static_cast<IRVException*>(record.get()));
  EXPECT_TRUE(a->Form(2)->Image("ScrShotImg")->Picture()) << "the screenshot page was created with the record";

  std::string sender = record->MailFrom();
  EXPECT_EQ(found->ShowModal(nullptr), nvmrContinue);
  EXPECT_EQ(g_shown, (std::vector<std::string>{"ContactForm", "DetailsForm", "ScrShotForm"}));
  EXPECT_FALSE(g_continueWithBadAddress) << "Continue waits for an accepted address";
  EXPECT_FALSE(g_colourWithBadAddress) << "the address shows as not valid";
  EXPECT_FALSE(g_continueWithoutDetails) << "Continue waits for the details";
  EXPECT_EQ(record->MailFrom(), "Ana <ana@example.com>");
  EXPECT_EQ(store.values[kRememberName], "Ana");
  EXPECT_EQ(store.values[kRememberEmail], "ana@example.com");

  // through the settings' view of the assistant, as the crash reporter's core uses it
  Ref<IRVFields> header = record->BugReportHeader(), sections = record->BugReportSections();
  found->PutIntoReport(*header, *sections);
  EXPECT_EQ(header->Content("contact name"), "Ana");
  EXPECT_EQ(header->Content("contact email"), "ana@example.com");
  EXPECT_EQ(sections->Content("Detalhes do erro"), g_details);
  EXPECT_EQ(header->Find("Detalhes do erro"), -1);

  // the settings remember the entries; the next assistant is filled and its pages continue at once
  record->FillFormCache(*a);
  Ref<INVAssistant> again = record->Assistant("SendAssistant");
  auto* b = dynamic_cast<TNVAssistant*>(again.get());
  EXPECT_EQ(b->Form(1)->Edit("DetailsMemo")->Text(), g_details);
  EXPECT_EQ(b->Form(1)->ActiveControl(), "ContinueBtn");
}

// The send button as the exception box presses it: the record fires the action handlers, which run the send
// assistant over the box; what the user entered is in the report that goes out. Cancelled, nothing goes out.
struct Delivered {
  static inline int count = 0;
  static inline std::string report;
  static bool Deliver(IRVException* r, WindowHandle, void**, bool, bool) {
    ++count;
    report = r->BugReport(false);
    return true;
  }
};

TEST_F(SendAssistant, TheSendButtonRunsItAndItsEntriesGoOutWithTheReport) {
  const RecordHooks saved = GetRecordHooks();
  RecordHooks hooks;
  hooks.fireActionHandlers = FireActionHandlers;
  hooks.deliver = Delivered::Deliver;
  SetRecordHooks(hooks);
  Delivered::count = 0;
  record->SetSendInBackgr(false);
  WindowHandle box = reinterpret_cast<WindowHandle>(0x70a);
  EXPECT_TRUE(record->SendBugReport(box));
  EXPECT_EQ(g_shown, (std::vector<std::string>{"ContactForm", "DetailsForm", "ScrShotForm"}));
  ASSERT_EQ(Delivered::count, 1);
  EXPECT_NE(Delivered::report.find("contact name"), std::string::npos) << Delivered::report;
  EXPECT_NE(Delivered::report.find("ana@example.com"), std::string::npos) << Delivered::report;
  EXPECT_NE(Delivered::report.find("Detalhes do erro:\r\nCliquei em Save."), std::string::npos) << Delivered::report;
  // Save has its own assistant, without the screenshot page; the user cancels it on the first page.
  g_shown.clear();
  SetFormRunner([](TNVForm& form, NVWindow) {
    g_shown.push_back(form.Name());
    return int(nvmrCancel);
  });
  EXPECT_FALSE(record->SaveBugReport(box));
  EXPECT_EQ(g_shown, (std::vector<std::string>{"ContactForm"}));
  EXPECT_FALSE(record->SendBugReport(box));
  EXPECT_EQ(Delivered::count, 1);
  SetRecordHooks(saved);
}

TEST_F(SendAssistant, RememberedContactData) {
  store.values[kRememberName] = "Bia";
  store.values[kRememberEmail] = "bia@example.com";
  Ref<INVAssistant> found = record->Assistant("PrintAssistant");
  auto* a = dynamic_cast<TNVAssistant*>(found.get());
  ASSERT_TRUE(a);
  Ref<TNVForm> contact = a->Form(0);
  EXPECT_EQ(contact->Edit("NameEdit")->Text(), "Bia");
  EXPECT_EQ(contact->Edit("EmailEdit")->Text(), "bia@example.com");
  EXPECT_TRUE(contact->Edit("EmailEdit")->Valid());
  EXPECT_TRUE(contact->CheckBox("MemCheck")->Checked());
  EXPECT_EQ(contact->ActiveControl(), "ContinueBtn");
  EXPECT_EQ(contact->FirstFocus(), contact->StandardButton(kContinueIndex)) << "Enter continues at once";

  // unchecking "remember" and continuing forgets both values; an empty name leaves the sender alone
  g_typeNothing = true;
  g_uncheck = true;
  contact->Edit("NameEdit")->SetText("");
  std::string sender = record->MailFrom();
  EXPECT_EQ(a->ShowModal(nullptr), nvmrContinue);
  g_typeNothing = false;
  EXPECT_TRUE(store.values.empty());
  EXPECT_EQ(record->MailFrom(), sender);
}

TEST_F(SendAssistant, WithoutAScreenshotTheSendAssistantHasTwoPages) {
  record->SetCreateScreenShot(false);
  Ref<INVAssistant> found = record->Assistant("SendAssistant");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->FormCount(), 2);
  EXPECT_FALSE(record->Assistant("NoSuchAssistant"));
}

}  // namespace
