#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "crash/core/settings.h"
#include "crash/delivery/cipher.h"
#include "crash/stack/text.h"
#include "settings_stream.h"

using namespace rvx;
using rvxtest::SettingsStream;

namespace {

constexpr ModuleHandle kApp = 0x7A0000, kPlain = 0x7B0000, kBare = 0x7C0000, kLib = 0x7D0000;

std::vector<std::string> g_messages;
void Capture(const std::string& text) { g_messages.push_back(text); }

// The settings of this program's resource, in short.
std::string AppResource() {
  return SettingsStream()
      .Bool("Enabled", true)
      .Bool("NoSettings", false)
      .Int("FreezeTimeout", 30000)
      .Int("SmtpPort", 587)
      .Text("ExceptMsg", "%exceptMsg%")
      .Text("F1Classes", "EDBEditError")
      .Bool("F1NoBugRep", true)
      .Int("F1ShowCfg", 3)
      .Int("ScrShotDepth", 8)
      .Text("Plugins", "modules|processes|hardware")
      .Text("SmtpServer", "mail.example.com")
      .Text("SmtpAccount", "bugs@example.com")
      .Text("SmtpPassword", EncodeStoredPassword("s3cret-pass", "mail.example.com", "bugs@example.com"))
      .Text("Assistant1", "SendAssistant|Assistente de envio|ContactForm|DetailsForm|ScrShotForm")
      .Text("Assistant2", "SaveAssistant|Assistente de salvamento|ContactForm|DetailsForm")
      .Text("AddFields", "Customer=ACME|Build=42")
      .Text("AddAttachs", "C:\\logs\\app.log>log.txt>>|C:\\x\\data.bin")
      .End();
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_messages.clear();
    SetSettingsMessageHook(Capture);
    SetMemoryModule(kApp, L"C:\\Program Files\\Contacts\\contacts.exe");
    SetMemoryResource(kApp, "ZAVEDO", AppResource());
    SetMemoryModule(kPlain, L"C:\\Program Files\\Contacts\\plugin.dll");
    SetMemoryResource(kPlain, "ZAVEDO", SettingsStream().Bool("Enabled", true).End());
    SetMemoryModule(kBare, L"C:\\Windows\\bare.dll");
  }
  void TearDown() override {
    SetMainSettings(nullptr);
    SetAssistantFactory(nullptr);
    SetSettingsMessageHook(nullptr);
    ClearMemoryModules();
  }
  static Ref<TIRVSettings> Open(ModuleHandle m) { return Ref<TIRVSettings>(new TIRVSettings(m)); }
};

// Stands in for the exception record: a layered settings object with exception operands.
class TestRecord : public TIRVSettings {
 public:
  TestRecord(Ref<IRVModuleSettings> module, std::string cls, std::string msg, bool screenshot = true)
      : TIRVSettings(std::move(module)), cls_(std::move(cls)), msg_(std::move(msg)), shot_(screenshot) {}

 protected:
  bool IsExceptionRecord() override { return true; }
  std::string ExceptionClassText() override { return cls_; }
  std::string ExceptionMessageText() override { return msg_; }
  bool WillHaveScreenshot() override { return shot_; }

 private:
  std::string cls_, msg_;
  bool shot_;
};

}  // namespace

TEST(SettingsResource, ReadsEveryValueType) {
  std::string data = SettingsStream()
                         .Int("Small", -5)
                         .Int("Medium", -30000)
                         .Int("Large", 123456789)
                         .Text("Short", "Informa\xE7\xE3o")
                         .Text("Long", std::string(300, 'x'))
                         .Bool("Off", false)
                         .Bool("On", true)
                         .Wide("Wide", u"Relat\u00f3rio \u20ac")
                         .Utf8("Utf8", "Informa\xC3\xA7\xC3\xB5" "es")
                         .End();
  PropertyList list;
  std::string error;
  ASSERT_TRUE(ParseSettingsResource(data, list, &error)) << error;
  ASSERT_EQ(list.size(), 9u);
  EXPECT_EQ(list[0].kind, SettingKind::Integer);
  EXPECT_EQ(list[0].intValue, -5);
  EXPECT_EQ(list[1].intValue, -30000);
  EXPECT_EQ(list[2].intValue, 123456789);
  EXPECT_EQ(list[3].textValue, "Informa\xE7\xE3o");
  EXPECT_EQ(list[4].textValue, std::string(300, 'x'));
  EXPECT_EQ(list[5].kind, SettingKind::Boolean);
  EXPECT_FALSE(list[5].boolValue);
  EXPECT_TRUE(list[6].boolValue);
  EXPECT_EQ(list[7].textValue, "Relat\xF3rio \x80");  // converted to the ANSI code page
  EXPECT_EQ(list[8].textValue, "Informa\xE7\xF5" "es");
}

TEST(SettingsResource, RejectsForeignStreamsAndStopsSafely) {
  PropertyList list;
  EXPECT_FALSE(ParseSettingsResource(SettingsStream("ZAvedo", "Other").Bool("Enabled", true).End(), list));
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(ParseSettingsResource(SettingsStream("zavedo").Bool("Enabled", true).End(), list));
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(ParseSettingsResource("TPF", list));
  EXPECT_FALSE(ParseSettingsResource("", list));

  // truncated in the middle of a value: what was complete stays, no message
  g_messages.clear();
  SetSettingsMessageHook(Capture);
  std::string cut = SettingsStream().Bool("Enabled", true).Text("MailAddr", "bugs@example.com").Partial();
  cut.resize(cut.size() - 3);
  EXPECT_FALSE(ParseSettingsResource(cut, list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, "Enabled");
  // a long string whose length runs past the end
  EXPECT_FALSE(ParseSettingsResource(SettingsStream().Name("X").Byte(12).Raw("\xFF\xFF\xFF\x7F").End(), list));
  EXPECT_TRUE(g_messages.empty());

  // unknown value type: the message, and what was read stays
  std::string bad = SettingsStream().Int("SmtpPort", 587).Name("Color").Byte(7).Raw("\x05clRed").End();
  std::string error;
  EXPECT_FALSE(ParseSettingsResource(bad, list, &error));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].intValue, 587);
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_EQ(g_messages[0], "Internal error: Invalid settings resource ($7).");
  EXPECT_EQ(error, g_messages[0]);
  SetSettingsMessageHook(nullptr);
}

TEST(SettingsDefaults, TableHasExactlyTheDocumentedRows) {
  static const char* const names[] = {
      "Enabled", "NoSettings", "CheckFileCrc", "CheckFreeze", "FreezeTimeout", "Plugins", "AutoSave",
      "AutoSaveIfNotSent", "AutoSend", "AutoSendBox", "AutoClip", "PauseThreads", "PlWaitBox", "AutoContinue",
      "AutoRestart", "AutoClose", "AutoDelay", "SendBtnVis", "SaveBtnVis", "PrintBtnVis", "ShowBtnVis",
      "ContinueBtnVis", "RestartBtnVis", "CloseBtnVis", "FocusedBtn", "SendAssis", "SaveAssis", "PrintAssis",
      "AutoShowBugRep", "UglyBtns", "MailAddr", "SendInBackgr", "MailAsSmtpServer", "MailAsSmtpClient",
      "UploadViaHttp", "MailViaMapi", "MailViaMailto", "SmtpServer", "SmtpPort", "SmtpAccount", "SmtpPassword",
      "HttpServer", "HttpPort", "HttpAccount", "HttpPassword", "MailFrom", "AddFields", "AttachBugRep",
      "AttachBugRepFile", "DelBugRepFile", "BugRepSendAs", "BugRepZip", "ScrShotDepth", "ScrShotAppOnly",
      "ScrShotSendAs", "ScrShotZip", "AddAttachs", "BugRepFile", "AppendBugReps", "BugRepFileSize",
      "NoDupExcepts", "NoDupFreezes", "DupExceptDef", "DupFreezeDef", "ListThreads", "CpuRegs", "StackDump",
      "ShowDisAsm", "HideUglyItems", "ShowRelAddrs", "ShowRelLines", "FormatDisAsm", "LimitDisAsm", "F1Classes",
      "F2Classes", "F1NoBugRep", "F2NoBugRep", "GnNoBugRep", "F1NoScrShot", "F2NoScrShot", "GnNoScrShot",
      "F1NoHandlers", "F2NoHandlers", "GnNoHandlers", "F1NoSuspend", "F2NoSuspend", "GnNoSuspend", "F1ShowCfg",
      "F2ShowCfg", "GnShowCfg", "F1Assis", "F2Assis", "GnAssis", "TitleBar", "ExceptMsg", "FrozenMsg",
      "BitFaultMsg", "SendBtnTxt", "SaveBtnTxt", "PrintBtnTxt", "ShowBtnTxt", "ContinueBtnTxt", "RestartBtnTxt",
      "CloseBtnTxt", "OkBtnTxt", "DetailsBtnTxt", "PlWaitTitle", "PlWaitText", "MailSubj", "MailBody",
      "SendBoxTitle", "PrepAttMsg", "MxLookMsg", "ConnMsg", "AuthMsg", "SendMailMsg", "FieldMsg", "SendAttMsg",
      "SendFinalMsg", "SendFailMsg", "VersionVar"};
  const auto& table = SettingDefaults();
  ASSERT_EQ(table.size(), 121u);
  ASSERT_EQ(std::size(names), 121u);
  std::set<std::string> expected(std::begin(names), std::end(names)), actual;
  for (const auto& row : table) actual.insert(row.name);
  EXPECT_EQ(actual, expected);
  EXPECT_STREQ(table.back().name, "VersionVar");
  EXPECT_EQ(FindSettingDefault("MinDebugInfo"), nullptr);
  EXPECT_EQ(FindSettingDefault("Assistant1"), nullptr);
  EXPECT_EQ(FindSettingDefault("enabled"), nullptr);  // names are case-sensitive
  EXPECT_EQ(FindSettingDefault("FreezeTimeout")->intValue, 60);
  EXPECT_EQ(FindSettingDefault("BugRepFileSize")->intValue, 100000);
  EXPECT_STREQ(FindSettingDefault("BitFaultMsg")->textValue, "The file \"%modname%\" seems to be corrupt!");
  EXPECT_TRUE(FindSettingDefault("NoSettings")->boolValue);
}

TEST_F(SettingsTest, ResourceValuesWinOverDefaults) {
  auto app = Open(kApp);
  EXPECT_TRUE(app->Valid());
  EXPECT_TRUE(app->Enabled());
  EXPECT_EQ(app->FreezeTimeout(), 30000u);
  EXPECT_EQ(app->SmtpPort(), 587);
  EXPECT_EQ(app->F1Classes(), "EDBEditError");
  EXPECT_TRUE(app->F1NoBugRep());
  EXPECT_EQ(app->F1ShowCfg(), 3u);
  EXPECT_EQ(app->AutoDelay(), 60);  // not in the resource: the built-in default
  EXPECT_EQ(app->BugRepFile(), L"bugreport.txt");
  EXPECT_FALSE(app->MinDebugInfo());

  auto plain = Open(kPlain);
  EXPECT_EQ(plain->SmtpPort(), 25);
  EXPECT_EQ(plain->FreezeTimeout(), 60u);

  // a module without the resource: invalid, disarmed, setters fail
  auto bare = Open(kBare);
  EXPECT_FALSE(bare->Valid());
  EXPECT_FALSE(bare->Enabled());
  EXPECT_FALSE(bare->SetAutoSave(false));
  EXPECT_TRUE(bare->AutoSave());
}

TEST_F(SettingsTest, StoredPasswordIsDeciphered) {
  EXPECT_EQ(Open(kApp)->SmtpPassword(), "s3cret-pass");
  // a short stored text is left to base64 alone: no complete block to decipher
  SetMemoryResource(kLib, "ZAVEDO", SettingsStream().Text("SmtpPassword", "pelovitu").End());
  EXPECT_EQ(Open(kLib)->SmtpPassword(), Base64Decode("pelovitu"));
  EXPECT_EQ(EncodeStoredPassword("", "a", "b"), "");
}

TEST_F(SettingsTest, WritesAreSharedPerModuleAndChecked) {
  auto a = Open(kApp), b = Open(kApp);
  EXPECT_TRUE(a->SetAutoSave(false));
  EXPECT_FALSE(b->AutoSave());  // one registry entry per module
  EXPECT_TRUE(a->SetSmtpPort(2525));
  EXPECT_EQ(b->SmtpPort(), 2525);
  // a setter of another kind fails and changes nothing, whether the setting is stored or only a default
  EXPECT_FALSE(a->WriteBool("SmtpPort", true));
  EXPECT_FALSE(a->WriteBool("HttpPort", true));
  EXPECT_EQ(a->HttpPort(), 80);
  EXPECT_FALSE(a->WriteInt("MailAddr", 1));
  // new names are created with the setter's kind
  EXPECT_TRUE(a->WriteInt("CustomNumber", 7));
  EXPECT_EQ(b->ReadInt("CustomNumber"), 7);
  // UTF-16 texts keep what the code page cannot hold
  EXPECT_TRUE(a->SetBugRepFile(L"C:\\r\u4e2dports\\bug.txt"));
  EXPECT_EQ(b->BugRepFile(), L"C:\\r\u4e2dports\\bug.txt");
  EXPECT_EQ(b->ReadText("BugRepFile"), "C:\\r?ports\\bug.txt");
  EXPECT_TRUE(a->SetMailFrom(""));
  EXPECT_EQ(b->MailFrom(), "");
  a->Reload();  // re-reading the resource drops the changes
  EXPECT_TRUE(b->AutoSave());
  EXPECT_EQ(b->SmtpPort(), 587);
}

TEST_F(SettingsTest, ExceptionRecordLayering) {
  Ref<IRVModuleSettings> module(Open(kApp).get());
  Ref<TIRVSettings> record(new TestRecord(module, "EAccessViolation", "Access violation at %date%"));
  EXPECT_TRUE(record->Valid());
  EXPECT_TRUE(record->SetAutoSave(false));
  EXPECT_FALSE(record->AutoSave());
  EXPECT_TRUE(module->AutoSave());  // the module keeps its value
  EXPECT_TRUE(module->SetAutoClip(true));
  Ref<TIRVSettings> later(new TestRecord(module, "E", "m"));
  EXPECT_TRUE(later->AutoClip());  // later records see the module's change
  EXPECT_EQ(record->SmtpPort(), 587);
  EXPECT_EQ(record->HttpPort(), 80);
  EXPECT_FALSE(record->WriteBool("SmtpPort", true));

  // the message goes in before the date is expanded
  std::string msg = record->ExceptMsg();
  EXPECT_EQ(msg.rfind("Access violation at ", 0), 0u);
  EXPECT_EQ(msg.find('%'), std::string::npos);
  EXPECT_EQ(msg.size(), std::string("Access violation at 2026-01-01").size());
  EXPECT_EQ(module->ExceptMsg(), "%exceptMsg%");
  Ref<TIRVSettings> silent(new TestRecord(module, "E", ""));
  EXPECT_EQ(silent->ExceptMsg(), "Unknown");
  EXPECT_TRUE(silent->SetTitleBar("%EXCEPTCLASS% in %AppName%: %bugReport%"));
  std::string app = WideToAnsi(ModuleFile(settings_platform::ProgramModule()));
  app = app.substr(app.find_last_of("\\/") + 1);
  EXPECT_EQ(silent->TitleBar(), "E in " + app + ": %bugReport%");
}

TEST_F(SettingsTest, MainSettingsAnswerForOtherModules) {
  auto app = Open(kApp);
  auto plain = Open(kPlain);
  EXPECT_EQ(plain->SmtpPort(), 25);  // no main settings yet: defaults answer
  SetMainSettings(Ref<IRVModuleSettings>(app.get()));
  EXPECT_EQ(plain->SmtpPort(), 587);   // now the main settings answer
  EXPECT_TRUE(plain->Enabled());       // its own resource still wins
  EXPECT_EQ(app->SmtpPort(), 587);
  EXPECT_EQ(app->HttpPort(), 80);
  EXPECT_EQ(plain->HttpPort(), 80);
  EXPECT_EQ(plain->ReadText("NoSuchSetting"), "");
}

TEST_F(SettingsTest, PluginList) {
  auto app = Open(kApp);
  EXPECT_TRUE(app->PluginEnabled("Processes"));
  EXPECT_FALSE(app->PluginEnabled("process"));
  EXPECT_TRUE(app->SetPluginEnabled("processes", false));
  EXPECT_EQ(app->ReadText("Plugins"), "modules|hardware");
  EXPECT_TRUE(app->SetPluginEnabled("modules", true));
  EXPECT_EQ(app->ReadText("Plugins"), "modules|hardware");
  EXPECT_TRUE(app->WriteText("Plugins", "a|A|b|a"));
  EXPECT_TRUE(app->SetPluginEnabled("a", false));
  EXPECT_EQ(app->ReadText("Plugins"), "b");
  EXPECT_TRUE(app->SetPluginEnabled("b", false));
  EXPECT_EQ(app->ReadText("Plugins"), "");
  EXPECT_TRUE(app->SetPluginEnabled("hardware", true));
  EXPECT_EQ(app->ReadText("Plugins"), "hardware");
}

namespace {
struct FakeItem {
  AssistantItemKind kind;
  std::string name, text;
  bool checked = false;
};
struct FakeForm {
  std::string name;
  std::vector<FakeItem> items;
  bool continued = true, continueEnabled = true, continueActive = false;
};
class FakeAssistant : public RefObject<INVAssistant> {
 public:
  std::vector<FakeForm> forms;
  int FormCount() override { return static_cast<int>(forms.size()); }
  bool FormContinued(int f) override { return forms[f].continued; }
  int ItemCount(int f) override { return static_cast<int>(forms[f].items.size()); }
  AssistantItemKind ItemKind(int f, int i) override { return forms[f].items[i].kind; }
  std::string ItemName(int f, int i) override { return forms[f].items[i].name; }
  std::string ItemText(int f, int i) override { return forms[f].items[i].text; }
  void SetItemText(int f, int i, std::string_view t) override { forms[f].items[i].text = t; }
  bool ItemChecked(int f, int i) override { return forms[f].items[i].checked; }
  void SetItemChecked(int f, int i, bool c) override { forms[f].items[i].checked = c; }
  bool ContinueEnabled(int f) override { return forms[f].continueEnabled; }
  void ActivateContinue(int f) override { forms[f].continueActive = true; }
};
AssistantRequest g_lastRequest;
Ref<INVAssistant> BuildFake(const AssistantRequest& r) {
  g_lastRequest = r;
  auto* a = new FakeAssistant;
  for (const auto& f : r.forms) {
    FakeForm form{f, {}};
    if (f == "ContactForm")
      form.items = {{AssistantItemKind::Other, "Label1", ""},
                    {AssistantItemKind::Edit, "NameEdit", ""},
                    {AssistantItemKind::Edit, "EmailEdit", ""},
                    {AssistantItemKind::CheckBox, "MemCheck", "", true}};
    else if (f == "DetailsForm")
      form.items = {{AssistantItemKind::Edit, "DetailsMemo", ""}};
    a->forms.push_back(form);
  }
  return Ref<INVAssistant>(a);
}
}  // namespace

TEST_F(SettingsTest, AssistantsByNameAndFormCache) {
  auto app = Open(kApp);
  EXPECT_FALSE(app->Assistant("SendAssistant"));  // no engine registered
  SetAssistantFactory(BuildFake);
  EXPECT_FALSE(app->Assistant("PrintAssistant"));  // not defined in this resource
  auto send = app->Assistant("sendassistant");
  ASSERT_TRUE(send);
  EXPECT_EQ(g_lastRequest.title, "Assistente de envio");
  EXPECT_EQ(g_lastRequest.forms, (std::vector<std::string>{"ContactForm", "DetailsForm", "ScrShotForm"}));
  EXPECT_EQ(g_lastRequest.settings, app.get());

  // a record without a screenshot, or ScrShotDepth 0, drops the screenshot form
  Ref<TIRVSettings> record(new TestRecord(Ref<IRVModuleSettings>(app.get()), "E", "m", false));
  ASSERT_TRUE(record->Assistant("SendAssistant"));
  EXPECT_EQ(g_lastRequest.forms, (std::vector<std::string>{"ContactForm", "DetailsForm"}));
  EXPECT_TRUE(app->SetScrShotDepth(0));
  ASSERT_TRUE(app->Assistant("SendAssistant"));
  EXPECT_EQ(g_lastRequest.forms, (std::vector<std::string>{"ContactForm", "DetailsForm"}));

  // the user fills the contact form and continues; the details form is skipped
  auto* fake = dynamic_cast<FakeAssistant*>(send.get());
  fake->forms[0].items[1].text = "  Maria  ";
  fake->forms[0].items[2].text = "maria@example.net";
  fake->forms[0].items[3].checked = false;
  fake->forms[1].continued = false;
  fake->forms[1].items[0].text = "typed but skipped";
  app->FillFormCache(*send);
  Ref<IRVFields> cache = app->FormCache();
  EXPECT_EQ(cache->Content("NameEdit"), "Maria");
  EXPECT_EQ(cache->Content("MemCheck"), "-");
  EXPECT_EQ(cache->Find("DetailsMemo"), -1);

  auto save = app->Assistant("SaveAssistant");
  auto* again = dynamic_cast<FakeAssistant*>(save.get());
  EXPECT_EQ(again->forms[0].items[1].text, "Maria");
  EXPECT_EQ(again->forms[0].items[2].text, "maria@example.net");
  EXPECT_FALSE(again->forms[0].items[3].checked);
  EXPECT_TRUE(again->forms[0].continueActive);   // everything known: Enter goes on
  EXPECT_FALSE(again->forms[1].continueActive);  // the details are missing
}

TEST_F(SettingsTest, AdditionalListsWriteBack) {
  auto app = Open(kApp);
  Ref<IRVFields> fields = app->AddFields();
  EXPECT_EQ(fields->Count(), 2);
  EXPECT_EQ(fields->Content("customer"), "ACME");
  fields->SetContent("Build", "43");
  EXPECT_EQ(app->ReadText("AddFields"), "Customer=ACME|Build=43");
  EXPECT_EQ(app->AddFields().get(), fields.get());  // built once

  Ref<IRVAttachments> att = app->AddAttachs();
  ASSERT_EQ(att->Count(), 2);
  Attachment a;
  ASSERT_TRUE(att->GetItem(1, a));
  EXPECT_EQ(a.file, L"C:\\x\\data.bin");
  EXPECT_EQ(a.sendAs, "data.bin");
  EXPECT_EQ(a.fieldName, "data");
  EXPECT_TRUE(att->Delete(L"c:\\LOGS\\app.log"));
  EXPECT_EQ(app->ReadText("AddAttachs"), "C:\\x\\data.bin>data.bin>>data");

  // lists outliving their settings object keep working without writing back
  app.reset();
  fields->SetContent("Late", "value");
  EXPECT_EQ(fields->Count(), 3);
  att->Clear();
}

TEST_F(SettingsTest, DiscoveryPrefersModulesWithOwnSettings) {
  // a module whose resource says NoSettings gets the settings of a module that has its own
  SetMemoryResource(kLib, "ZAVEDO", SettingsStream().Bool("Enabled", false).End());
  Ref<IRVModuleSettings> lib = SettingsOfModule(kLib);
  EXPECT_EQ(lib->Module(), kApp);
  // a module with usable settings keeps them; one without any stays invalid
  EXPECT_EQ(SettingsOfModule(kApp)->Module(), kApp);
  Ref<IRVModuleSettings> bare = SettingsOfModule(kBare);
  EXPECT_EQ(bare->Module(), kBare);
  EXPECT_FALSE(bare->Valid());
  Ref<IRVModuleSettings> found = FindSettings();
  ASSERT_TRUE(found);
  EXPECT_EQ(found->Module(), kApp);
  Ref<IRVModuleSettings> caller = SettingsOfCaller();
  ASSERT_TRUE(caller);
  EXPECT_TRUE(caller->Valid());
  EXPECT_TRUE(SettingsOfCallerUp(2));
}

TEST_F(SettingsTest, PlaceholderExpansion) {
  std::string app = WideToAnsi(ModuleFile(settings_platform::ProgramModule()));
  app = app.substr(app.find_last_of("\\/") + 1);
  EXPECT_EQ(ExpandPlaceholders("%APPNAME% / %modname%", kPlain), app + " / plugin.dll");
  EXPECT_EQ(ExpandPlaceholders("a%LF%b%lf%", kPlain), "a\r\nb\r\n");
  EXPECT_EQ(ExpandPlaceholders("%modversion%", kBare), "?");
  std::string cls = "EFoo", msg = "%time%", rep = "REPORT";
  std::string t = ExpandPlaceholders("%exceptClass% %exceptMsg% %bugReport%", kPlain, {&cls, &rep, &msg});
  EXPECT_EQ(t.rfind("EFoo ", 0), 0u);
  EXPECT_NE(t.find("ms REPORT"), std::string::npos);
  EXPECT_EQ(ExpandPlaceholders("%exceptClass%", kPlain), "%exceptClass%");
  std::string dt = ExpandPlaceholders("%datetime%", kPlain);
  ASSERT_GE(dt.size(), 25u);  // the milliseconds are not padded: "2026-01-02, 03:04:05, 6ms"
  EXPECT_EQ(dt[4], '-');
  EXPECT_EQ(dt.substr(10, 2), ", ");
  EXPECT_EQ(dt.substr(dt.size() - 2), "ms");
  for (const char* folder : {"%desktop%", "%userappdata%", "%commonappdata%"}) {
    std::string f = ExpandPlaceholders(folder, kPlain);
    EXPECT_FALSE(f.empty());
    EXPECT_NE(f.back(), '\\');
    EXPECT_EQ(f.find('%'), std::string::npos);
  }
  EXPECT_EQ(ExpandPlaceholders(std::wstring(L"%modname%\u0100"), kPlain), L"plugin.dll\u0100");
  EXPECT_EQ(ExpandPlaceholders("no placeholders", kPlain), "no placeholders");
}

namespace {
void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v);
  s[at + 1] = static_cast<char>(v >> 8);
}
// A minimal PE32 image with one section holding a resource tree: RCDATA / `name` / language 0x409.
std::string MakeImage(const std::string& name, const std::string& payload) {
  const uint32_t secRva = 0x1000, secRaw = 0x200;
  std::string tree(0x200 + payload.size(), '\0');
  // root: one id entry (type 10) -> type dir at 0x18
  Put16(tree, 14, 1);
  Put32(tree, 16, 10);
  Put32(tree, 20, 0x80000000u | 0x18);
  // type dir: one named entry -> name dir at 0x30, name string at 0x100
  Put16(tree, 0x18 + 12, 1);
  Put32(tree, 0x18 + 16, 0x80000000u | 0x100);
  Put32(tree, 0x18 + 20, 0x80000000u | 0x30);
  Put16(tree, 0x100, static_cast<uint16_t>(name.size()));
  for (size_t i = 0; i < name.size(); ++i) Put16(tree, 0x102 + 2 * i, static_cast<uint8_t>(name[i]));
  // name dir: one language entry -> data entry at 0x48
  Put16(tree, 0x30 + 14, 1);
  Put32(tree, 0x30 + 16, 0x409);
  Put32(tree, 0x30 + 20, 0x48);
  Put32(tree, 0x48, secRva + 0x200);
  Put32(tree, 0x4C, static_cast<uint32_t>(payload.size()));
  tree.replace(0x200, payload.size(), payload);

  std::string img(secRaw, '\0');
  img[0] = 'M', img[1] = 'Z';
  Put32(img, 0x3C, 0x80);
  img.replace(0x80, 4, std::string("PE\0\0", 4));
  Put16(img, 0x84, 0x14C);
  Put16(img, 0x86, 1);     // sections
  Put16(img, 0x94, 0xE0);  // optional header size
  size_t opt = 0x98;
  Put16(img, opt, 0x10B);
  Put32(img, opt + 92, 16);
  Put32(img, opt + 96 + 16, secRva);
  Put32(img, opt + 96 + 20, static_cast<uint32_t>(tree.size()));
  size_t sec = opt + 0xE0;
  img.replace(sec, 5, ".rsrc");
  Put32(img, sec + 8, static_cast<uint32_t>(tree.size()));
  Put32(img, sec + 12, secRva);
  Put32(img, sec + 16, static_cast<uint32_t>(tree.size()));
  Put32(img, sec + 20, secRaw);
  return img + tree;
}
}  // namespace

TEST(SettingsResource, FoundInProgramImages) {
  std::string payload = SettingsStream().Int("SmtpPort", 587).End();
  std::string image = MakeImage("ZAVEDO", payload), resource, error;
  ASSERT_TRUE(ExtractSettingsResource(image, resource, error)) << error;
  EXPECT_EQ(resource, payload);
  EXPECT_TRUE(ExtractSettingsResource(payload, resource, error));  // a resource file stands for itself
  EXPECT_FALSE(ExtractSettingsResource(MakeImage("OTHER", payload), resource, error));
  EXPECT_NE(error.find("ZAVEDO"), std::string::npos);
  EXPECT_FALSE(ExtractSettingsResource("plain text", resource, error));
  // every truncation and every single damaged byte fails cleanly or still finds bytes inside the image
  for (size_t n = 0; n < image.size(); ++n) ExtractSettingsResource(image.substr(0, n), resource, error);
  for (size_t i = 0; i < image.size(); ++i) {
    std::string bad = image;
    bad[i] = static_cast<char>(bad[i] ^ 0xFF);
    if (ExtractSettingsResource(bad, resource, error)) EXPECT_LE(resource.size(), bad.size());
  }
}
