// The contact editor's own settings record, as compiled from resources/settings.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "crash/core/settings.h"

using namespace rvx;

namespace {
constexpr ModuleHandle kContacts = 0x400000;

class ContactsSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream f(RVX_SETTINGS_BIN, std::ios::binary);
    ASSERT_TRUE(f) << RVX_SETTINGS_BIN;
    std::ostringstream ss;
    ss << f.rdbuf();
    SetMemoryModule(kContacts, L"C:\\Contacts\\contacts.exe");
    SetMemoryResource(kContacts, "ZAVEDO", ss.str());
    settings = Ref<TIRVSettings>(new TIRVSettings(kContacts));
  }
  void TearDown() override {
    settings.reset();
    SetAssistantFactory(nullptr);
    ClearMemoryModules();
  }
  Ref<TIRVSettings> settings;
};

AssistantRequest g_request;
Ref<INVAssistant> Capture(const AssistantRequest& r) {
  g_request = r;
  return nullptr;
}
}  // namespace

TEST_F(ContactsSettings, DeploymentValues) {
  TIRVSettings& s = *settings;
  EXPECT_TRUE(s.Valid());
  EXPECT_TRUE(s.Enabled());
  EXPECT_FALSE(s.NoSettings());
  EXPECT_FALSE(s.CheckFreeze());
  EXPECT_EQ(s.FreezeTimeout(), 30000u);
  EXPECT_EQ(s.SmtpPort(), 587);
  EXPECT_EQ(s.HttpPort(), 0);
  EXPECT_TRUE(s.MailAsSmtpClient());
  EXPECT_FALSE(s.MailViaMapi());
  EXPECT_FALSE(s.MailViaMailto());
  EXPECT_EQ(s.F1Classes(), "EDBEditError");
  EXPECT_TRUE(s.F1NoBugRep());
  EXPECT_EQ(s.F1ShowCfg(), 3u);
  EXPECT_EQ(s.GnShowCfg(), 0u);
  EXPECT_EQ(s.ReadText("Plugins"), "modules|processes|hardware");
  EXPECT_EQ(s.ScrShotDepth(), 8);
  EXPECT_FALSE(s.ScrShotAppOnly());
  EXPECT_FALSE(s.AutoClip());
  EXPECT_FALSE(s.RestartBtnVis());
  EXPECT_TRUE(s.PrintBtnVis());
  EXPECT_EQ(s.AutoDelay(), 60);  // not stored: the built-in default
  EXPECT_EQ(s.SendAssis(), "SendAssistant");
  EXPECT_EQ(s.SmtpPassword(), "\xA5\xE9\x68\xBE\x2B\x6E");  // "pelovitu" after base64; too short to encipher
  EXPECT_EQ(s.BugRepFile(), L"bugreport.txt");
  // texts in the ANSI code page, exactly as the program shows them
  EXPECT_EQ(s.FrozenMsg(), "A Aplica\xE7\xE3o n\xE3o est\xE1 respondendo.");
  EXPECT_EQ(s.SaveBtnTxt(), "Salvar rela\xF3rio de erros");
  EXPECT_EQ(s.SendFailMsg(), "Desculpe o envio de erros n\xE3o est\xE1 funcionando....");
  EXPECT_EQ(s.BitFaultMsg(), "O arquivo \"contacts.exe\" parece estar corrompido!");
  EXPECT_EQ(s.ExceptMsg(), "%exceptMsg%");
}

TEST_F(ContactsSettings, AssistantsAndPlugins) {
  SetAssistantFactory(Capture);
  settings->Assistant("PrintAssistant");
  EXPECT_EQ(g_request.title, "Assistente de impress\xE3o");
  EXPECT_EQ(g_request.forms, (std::vector<std::string>{"ContactForm", "DetailsForm"}));
  settings->Assistant("SendAssistant");
  EXPECT_EQ(g_request.forms, (std::vector<std::string>{"ContactForm", "DetailsForm", "ScrShotForm"}));
  ASSERT_TRUE(settings->SetScrShotDepth(0));
  settings->Assistant("SendAssistant");
  EXPECT_EQ(g_request.forms, (std::vector<std::string>{"ContactForm", "DetailsForm"}));

  EXPECT_TRUE(settings->SetPluginEnabled("processes", false));
  EXPECT_EQ(settings->ReadText("Plugins"), "modules|hardware");
  EXPECT_TRUE(settings->SetPluginEnabled("modules", true));
  EXPECT_EQ(settings->ReadText("Plugins"), "modules|hardware");
}
