// The e-mail check and the screenshot page's handler (the system stood in for by a recording fake).
#include <gtest/gtest.h>

#include "assistant_fixtures.h"
#include "core/settings_stream.h"
#include "crash/core/exception_record.h"
#include "crash/ui/assistant_build.h"
#include "crash/ui/assistant_handlers.h"

using namespace rvx;
using rvxtest::FormStream;

namespace {

TEST(AssistantEmail, AcceptedAndRefusedAddresses) {
  for (const char* good : {"a@b.c", "john.doe@mail.example.com", "o'neil@x.org", "a+tag@x.org", "x_y-z@d-1.co",
                           "A9@B9.C9", "a@b.c.d", "a@b..c"})
    EXPECT_TRUE(IsAcceptedEmail(good)) << good;
  for (const char* bad : {"", "a@b@c.d", ".a@b.c", "a@.b.c", "a@b.c ", " a@b.c", "a,b@c.d", "@b.c", "a@b", "ab.c",
                          "a@b.c.", "a b@c.d", "a@b\tc.d", "a@b.c\n", "\xE9@b.c", "a;b@c.d", "a@", "a.@"})
    EXPECT_FALSE(IsAcceptedEmail(bad)) << bad;
}

// Records what the screenshot page asks of the system.
class FakeEditing final : public IScreenshotEditing {
 public:
  std::wstring TempFolder() override { return temp; }
  bool SaveBmp(const TINVBitmap& picture, const std::wstring& file) override {
    calls.push_back("save");
    savedWidth = picture.Width();
    files[file] = true;
    return saveWorks;
  }
  INVBitmap LoadPicture(const std::wstring&) override {
    calls.push_back("load");
    return loadable;
  }
  std::optional<uint32_t> FileTime(const std::wstring& file) override {
    if (!files.count(file)) return std::nullopt;
    return time;
  }
  uintptr_t StartEditor(const std::wstring& file) override {
    calls.push_back("start");
    lastFile = file;
    return startWorks ? ++editors : 0;
  }
  bool EditorEnded(uintptr_t) override { return ended; }
  void CloseEditor(uintptr_t process) override { calls.push_back("close " + std::to_string(process)); }
  void DeleteFile(const std::wstring& file) override {
    calls.push_back("delete");
    files.erase(file);
  }
  void Beep() override { calls.push_back("beep"); }

  std::wstring temp = L"T";
  std::map<std::wstring, bool> files;
  std::vector<std::string> calls;
  uint32_t time = 100;
  bool saveWorks = true, startWorks = true, ended = false;
  uintptr_t editors = 0;
  int savedWidth = 0;
  INVBitmap loadable;
  std::wstring lastFile;
};

class ScreenshotPage : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearMemoryModules();
    SetMemoryModule(kModule, L"C:\\lab\\lab.exe");
    SetMemoryResource(kModule, "ZAVEDO", rvxtest::SettingsStream().Bool("Enabled", true).End());
    SetScreenshotEditing(&fake);
    ExceptionParams p;
    p.settings = SettingsOfModule(kModule);
    p.dontCompleteYet = true;
    record = NewExceptionRecord(p);
    record->SetScreenShot(MakePictureObject(TINVBitmap::Create(64, 48)));
    record->SetAppendScreenShot(false);
  }
  void TearDown() override {
    SetScreenshotEditing(nullptr);
    record.reset();
    ClearMemoryModules();
  }
  Ref<TNVForm> Page() {
    Ref<TNVAssistant> a(new TNVAssistant("T", Ref<IRVSettings>(record.get())));
    a->AddForm(ReadForm(FormStream("TRVScrShotForm", "ScrShotForm")
                            .Text("OnAction", "Ravex.HandleScreenshotForm")
                            .Child("INVCheckBox", "AttachCheck")
                            .Child("INVImage", "ScrShotImg").Bool("Clickable", true)
                            .End()));
    assistant = a;
    Ref<TNVForm> form = a->Form(0);
    form->Fire(nvaCreated, nullptr);
    return form;
  }
  static constexpr ModuleHandle kModule = 0x6100000;
  FakeEditing fake;
  Ref<TIRVException> record;
  Ref<TNVAssistant> assistant;
};

TEST_F(ScreenshotPage, ShowsTheRecordsScreenshotAndEditsIt) {
  Ref<TNVForm> form = Page();
  Ref<INVImage> image = form->Image("ScrShotImg");
  ASSERT_TRUE(image->Picture());
  EXPECT_EQ(image->Picture()->Width(), 64);
  EXPECT_FALSE(form->CheckBox("AttachCheck")->Checked()) << "checked exactly when the record attaches it";

  auto* img = static_cast<TNVImage*>(form->FindItem("ScrShotImg"));
  form->ImageClicked(*img);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"save", "start"}));
  EXPECT_EQ(fake.lastFile, L"T" + std::wstring(1, kPathSeparator) + L"screenShot.bmp");
  EXPECT_NE(form->UserValue(), 0u);
  form->ImageClicked(*img);
  EXPECT_EQ(fake.calls.size(), 2u) << "no second editor while one runs";
  fake.ended = true;
  form->ImageClicked(*img);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"save", "start", "close 1", "start"}));

  // the timer re-reads the file only when its time changed
  form->TimerTick();
  EXPECT_EQ(fake.calls.size(), 4u);
  fake.time = 101;
  form->TimerTick();
  EXPECT_EQ(fake.calls.back(), "load") << "a file that does not load is tried again";
  fake.loadable = TINVBitmap::Create(20, 10);
  form->TimerTick();
  EXPECT_EQ(fake.calls.back(), "load");
  EXPECT_EQ(PictureOf(record->ScreenShot()), fake.loadable) << "the edited picture becomes the record's";
  EXPECT_EQ(image->Picture(), fake.loadable);
  size_t calls = fake.calls.size();
  form->TimerTick();
  EXPECT_EQ(fake.calls.size(), calls) << "unchanged time: not loaded again";

  form->CheckBox("AttachCheck")->SetChecked(true);
  form->End(nvmrSkip);
  EXPECT_EQ(std::vector<std::string>(fake.calls.end() - 2, fake.calls.end()),
            (std::vector<std::string>{"close 2", "delete"}));
  EXPECT_EQ(form->UserValue(), 0u);
  EXPECT_TRUE(record->AppendScreenShot());
}

TEST_F(ScreenshotPage, FailuresAndMissingPieces) {
  fake.startWorks = false;
  Ref<TNVForm> form = Page();
  auto* img = static_cast<TNVImage*>(form->FindItem("ScrShotImg"));
  form->ImageClicked(*img);
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"save", "start", "beep"}));
  form->CloseRequest();
  EXPECT_FALSE(record->AppendScreenShot());

  // a screenshot that cannot be saved is not handed to an editor
  fake.calls.clear();
  fake.saveWorks = false;
  fake.startWorks = true;
  Ref<TNVForm> unsaved = Page();
  unsaved->ImageClicked(*static_cast<TNVImage*>(unsaved->FindItem("ScrShotImg")));
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"save", "beep"}));
  EXPECT_EQ(unsaved->UserValue(), 0u);

  fake.calls.clear();
  fake.temp.clear();
  Ref<TNVForm> noTemp = Page();
  noTemp->ImageClicked(*static_cast<TNVImage*>(noTemp->FindItem("ScrShotImg")));
  EXPECT_TRUE(fake.calls.empty()) << "nothing without a temporary folder";

  // without an exception record the handler does nothing
  Ref<TNVForm> alone = ReadForm(FormStream().Text("OnAction", "Ravex.HandleScreenshotForm")
                                    .Child("INVImage", "ScrShotImg").Bool("Clickable", true).End());
  alone->Fire(nvaCreated, nullptr);
  EXPECT_FALSE(alone->Image("ScrShotImg")->Picture());
}

}  // namespace
