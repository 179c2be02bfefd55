#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "crash/core/settings.h"
#include "crash/delivery/fields.h"
#include "crash/stack/text.h"
#include "tests/core/settings_stream.h"

using namespace rvx;

namespace {
Ref<IRVFields> Accepting(IFieldsOwnerRecord* record = nullptr, IListOwnerSettings* settings = nullptr) {
  Ref<IRVFields> f = CreateFields(record, settings);
  Query<IRVFieldsEx>(f)->AcceptData();
  return f;
}

std::string Names(IRVFields& f) {
  std::string s;
  for (int i = 0; i < f.Count(); ++i) s += (i ? "," : "") + f.ItemName(i);
  return s;
}

struct Record : IFieldsOwnerRecord {
  int begins = 0, ends = 0, modified = 0;
  void BeginUpdate() override { ++begins; }
  void EndUpdate() override { ++ends; }
  void MarkModified() override { ++modified; }
};

struct Sink : IListOwnerSettings {
  std::string name, value;
  int writes = 0;
  bool StoreListText(std::string_view n, std::string_view v) override {
    name = n, value = v, ++writes;
    return true;
  }
};
}  // namespace

TEST(Fields, ContentRules) {
  Ref<IRVFields> f = CreateFields();
  f->SetContent("a", "x");
  f->Insert(0, "a", "x");
  EXPECT_EQ(f->Count(), 0);  // not accepting yet
  Query<IRVFieldsEx>(f)->AcceptData();
  f->SetContent("Name", "  Maria \r\n");
  EXPECT_EQ(f->Content("name"), "Maria");
  std::string keep = "unchanged";
  EXPECT_FALSE(f->GetContent("missing", keep));
  EXPECT_EQ(keep, "unchanged");
  f->SetContent("NAME", "Maria");
  EXPECT_EQ(f->ItemName(0), "NAME");  // the caller's letter case
  f->SetContent("new", "   ");
  EXPECT_EQ(f->Count(), 1);  // blanks add nothing
  f->SetContent("name", " ");
  EXPECT_EQ(f->Count(), 0);  // and delete an existing item
  EXPECT_EQ(f->ItemName(5), "");
  f->Delete(-1);
  f->SetItemName(3, "x");
}

TEST(Fields, InsertAndInsertionIndex) {
  Ref<IRVFields> f = Accepting();
  for (const char* n : {"a", "b", "c", "d", "e"}) f->Add(n, n);
  Query<IRVFieldsEx>(f)->SetInsertionIndex(3);
  f->Add("x", "1");
  f->Add("y", "2");
  EXPECT_EQ(Names(*f), "a,b,c,x,y,d,e");
  f->Delete(0);
  f->Add("z", "3");
  EXPECT_EQ(Names(*f), "b,c,x,y,z,d,e");  // the index moved down to 4 and then up with the insertion

  Ref<IRVFields> g = Accepting();
  for (const char* n : {"a", "b", "c"}) g->Add(n, n);
  g->Insert(0, "A", "new");  // an existing name is replaced, not doubled
  EXPECT_EQ(Names(*g), "A,b,c");
  EXPECT_EQ(g->Content("a"), "new");
  g->Insert(99, "a", "new");
  EXPECT_EQ(Names(*g), "b,c,a");
  g->Insert(1, "c", "moved");
  EXPECT_EQ(Names(*g), "b,c,a");
  g->Insert(0, "a", "again");
  EXPECT_EQ(Names(*g), "a,b,c");
  g->Insert(0, "q", "  ");
  EXPECT_EQ(g->Count(), 3);
  g->DeleteName("B");
  EXPECT_EQ(Names(*g), "a,c");
  EXPECT_EQ(g->Find("C"), 1);
}

TEST(Fields, OwnersHearOfChanges) {
  Record rec;
  Sink sink;
  Ref<IRVFields> f = Accepting(&rec, &sink);
  f->Add("Customer", "ACME");
  f->Add("Build", "42");
  EXPECT_EQ(sink.name, "AddFields");
  EXPECT_EQ(sink.value, "Customer=ACME|Build=42");
  EXPECT_EQ(rec.modified, 2);
  EXPECT_EQ(rec.begins, rec.ends);
  int writes = sink.writes;
  f->Add("Build", "42");  // nothing changes
  EXPECT_EQ(sink.writes, writes);
  f->Lock();
  EXPECT_EQ(rec.begins, rec.ends + 1);
  f->Unlock();

  Ref<IRVFields> copy = f->Clone();
  copy->Add("Other", "1");  // a clone is unowned and accepts data
  EXPECT_EQ(copy->Count(), 3);
  EXPECT_EQ(sink.value, "Customer=ACME|Build=42");

  // contents with "|" or "=" do not survive the settings text
  f->Add("Note", "a=b|c");
  Ref<IRVFields> back = Accepting();
  FillFieldsFromText(*back, sink.value);
  EXPECT_NE(back->Content("Note"), "a=b|c");

  auto ex = Query<IRVFieldsEx>(f);
  ex->ClearOwnerRecord();
  ex->ClearOwnerSettings();
  int mods = rec.modified;
  f->Add("Late", "x");
  EXPECT_EQ(rec.modified, mods);
}

TEST(Attachments, NamesAndWriteBack) {
  Sink sink;
  Ref<IRVAttachments> a = CreateAttachments(&sink);
  a->Add(L"");
  EXPECT_EQ(a->Count(), 0);
  a->Add(L"C:\\logs\\report.txt");
  a->Add(L"C:\\x\\data.bin", "README");
  a->Add(L"C:\\x\\y.bin", "y.bin", "pack.zip", "F");
  Attachment item;
  ASSERT_TRUE(a->GetItem(0, item));
  EXPECT_EQ(item.sendAs, "report.txt");
  EXPECT_EQ(item.fieldName, "report");
  ASSERT_TRUE(a->GetItem(1, item));
  EXPECT_EQ(item.fieldName, "README");
  EXPECT_FALSE(a->GetItem(3, item));
  EXPECT_EQ(sink.name, "AddAttachs");
  EXPECT_EQ(sink.value,
            "C:\\logs\\report.txt>report.txt>>report|C:\\x\\data.bin>README>>README|C:\\x\\y.bin>y.bin>pack.zip>F");
  Ref<IRVAttachments> back = CreateAttachments();
  FillAttachmentsFromText(*back, sink.value);
  EXPECT_EQ(AttachmentsText(*back), sink.value);
  EXPECT_FALSE(a->Delete(L"C:\\nothing"));
  EXPECT_TRUE(a->Delete(L"c:\\LOGS\\REPORT.TXT"));
  EXPECT_EQ(a->Count(), 2);
  Ref<IRVAttachments> copy = a->Clone();
  int writes = sink.writes;
  copy->Clear();
  EXPECT_EQ(sink.writes, writes);
  a->Clear();
  a->Clear();
  EXPECT_EQ(sink.writes, writes + 1);  // clearing an empty list reports nothing
  EXPECT_EQ(sink.value, "");
}

TEST(Paths, AbsoluteAndNormalised) {
  EXPECT_EQ(AbsolutePath(L"C:\\a\\.\\b\\..\\c.txt", L"D:\\x"), L"C:\\a\\c.txt");
  EXPECT_EQ(AbsolutePath(L"r.txt", L"C:\\prog"), L"C:\\prog\\r.txt");
  EXPECT_EQ(AbsolutePath(L"..\\r.txt", L"C:\\prog\\bin"), L"C:\\prog\\r.txt");
  EXPECT_EQ(AbsolutePath(L"C:\\..\\r.txt", L""), L"C:\\..\\r.txt");  // nothing above the drive
  EXPECT_EQ(FileNameOf(L"C:\\a\\b.txt"), L"b.txt");
  EXPECT_EQ(FolderOf(L"C:\\a\\b.txt"), L"C:\\a");
  EXPECT_EQ(WithoutExtension(L"contacts.exe"), L"contacts");
  EXPECT_EQ(ScreenshotFormatCode(4), 1);
  EXPECT_EQ(ScreenshotFormatCode(307200), 5);
  EXPECT_EQ(ScreenshotFormatCode(8), 0);
}

namespace {
constexpr ModuleHandle kModule = 0x5A0000;

std::string ReadAll(const std::wstring& file) {
  std::ifstream f(WideToAnsi(file), std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}
void WriteAll(const std::wstring& file, const std::string& data) {
  std::ofstream(WideToAnsi(file), std::ios::binary) << data;
}

class Sending : public ::testing::Test {
 protected:
  void SetUp() override {
    program = delivery_files::SystemTempFolder() + kPathSeparator + L"fields_test_prog" + kPathSeparator + L"demo.exe";
    delivery_files::MakeFolder(FolderOf(program));
    temp = CrashTempFolder(program);
    ASSERT_FALSE(temp.empty());
    report = FolderOf(program) + kPathSeparator + L"bugreport.txt";
    WriteAll(report, "earlier report\r\n");
  }
  void TearDown() override {
    ClearMemoryModules();
    delivery_files::Delete(report);
  }
  Ref<TIRVSettings> Settings(const std::string& stream) {
    SetMemoryModule(kModule, program);
    SetMemoryResource(kModule, "ZAVEDO", stream);
    return Ref<TIRVSettings>(new TIRVSettings(kModule));
  }
  AttachmentSources Sources() {
    AttachmentSources s;
    s.programFile = program;
    s.saveReport = [this](const std::wstring& file) {
      std::string old = ReadAll(file);
      WriteAll(file, old + "current report\r\n");
      ++saves;
      return true;
    };
    return s;
  }
  std::wstring program, temp, report;
  int saves = 0;
};
}  // namespace

TEST_F(Sending, NothingWithoutAnAttachingMethod) {
  auto s = Settings(rvxtest::SettingsStream().Bool("MailViaMapi", false).End());
  EXPECT_FALSE(AssembleAttachments(*s, Sources()).list);
}

TEST_F(Sending, ReportCopyScreenshotAndExtras) {
  std::wstring extra = FolderOf(program) + kPathSeparator + L"notes.txt";
  WriteAll(extra, "notes");
  auto s = Settings(rvxtest::SettingsStream()
                        .Bool("MailAsSmtpClient", true)
                        .Int("ScrShotDepth", 102400)
                        .Text("AddAttachs", WideToAnsi(extra) + ">n.txt>>Notes")
                        .End());
  AttachmentSources src = Sources();
  int code = -1;
  src.saveScreenshot = [&](const std::wstring& file, int c) {
    code = c;
    WriteAll(file, "PNG");
    return true;
  };
  bool saved = false;
  src.reportSaved = [&] { return saved; };
  src.setReportSaved = [&](bool v) { saved = v; };
  AssembledAttachments a = AssembleAttachments(*s, src);
  ASSERT_TRUE(a.list);
  EXPECT_EQ(a.tempFolder, temp);
  EXPECT_EQ(a.reportFile, report);
  EXPECT_TRUE(a.deleteReportFile);
  ASSERT_EQ(a.list->Count(), 3);
  Attachment item;
  a.list->GetItem(0, item);
  EXPECT_EQ(item.file, temp + kPathSeparator + L"bugreport.txt");
  EXPECT_EQ(item.sendAs, "bugreport.txt");
  EXPECT_EQ(item.fieldName, "BugReport");
  EXPECT_EQ(ReadAll(item.file), "earlier report\r\ncurrent report\r\n");
  EXPECT_EQ(saves, 1);
  a.list->GetItem(1, item);
  EXPECT_EQ(item.sendAs, "screenshot.png");
  EXPECT_EQ(item.fieldName, "ScreenShot");
  EXPECT_EQ(code, 3);
  a.list->GetItem(2, item);
  EXPECT_EQ(item.fieldName, "Notes");

  // a record whose report is already saved: the copy of the file is enough
  saved = true;
  saves = 0;
  a = AssembleAttachments(*s, src);
  EXPECT_EQ(saves, 0);
  EXPECT_TRUE(saved);

  // without the file copy a fresh copy holds only the current report, and the file stays
  ASSERT_TRUE(s->SetAttachBugRepFile(false));
  a = AssembleAttachments(*s, src);
  a.list->GetItem(0, item);
  EXPECT_EQ(ReadAll(item.file), "current report\r\n");
  EXPECT_FALSE(a.deleteReportFile);

  // a failing save leaves the report out
  src.saveReport = [](const std::wstring&) { return false; };
  a = AssembleAttachments(*s, src);
  a.list->GetItem(0, item);
  EXPECT_EQ(item.fieldName, "ScreenShot");
  delivery_files::Delete(extra);
}

TEST_F(Sending, PreparationZipsSharedArchivesOnce) {
  std::wstring dir = FolderOf(program) + kPathSeparator;
  WriteAll(dir + L"a.txt", "a");
  WriteAll(dir + L"b.txt", "b");
  WriteAll(dir + L"c.txt", "c");
  Ref<IRVAttachments> list = CreateAttachments();
  list->Add(L"a.txt", "A.txt", "Logs.zip", "");
  list->Add(dir + L"missing.txt");
  list->Add(L"." + std::wstring(1, kPathSeparator) + L"c.txt");
  list->Add(dir + L"b.txt", "B.txt", "LOGS.ZIP", "");
  std::vector<std::vector<std::wstring>> calls;
  ZipFunction zip = [&](const std::wstring& archive, const std::vector<std::wstring>& files,
                        const std::vector<std::wstring>& names) {
    calls.push_back({archive});
    calls.back().insert(calls.back().end(), files.begin(), files.end());
    calls.back().insert(calls.back().end(), names.begin(), names.end());
    return true;
  };
  PreparedAttachments p = PrepareAttachments(*list, FolderOf(program), temp, zip);
  ASSERT_EQ(p.files.size(), 2u);
  EXPECT_EQ(p.files[0], temp + kPathSeparator + L"Logs.zip");
  EXPECT_EQ(p.sendAs[0], "Logs.zip");
  EXPECT_EQ(p.fieldNames[0], "Logs.zip");
  EXPECT_EQ(p.files[1], dir + L"c.txt");
  EXPECT_EQ(p.fieldNames[1], "c");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], (std::vector<std::wstring>{temp + kPathSeparator + L"Logs.zip", dir + L"a.txt",
                                                  dir + L"b.txt", L"A.txt", L"B.txt"}));
  // with the real archiver and without a temporary folder
  p = PrepareAttachments(*list, FolderOf(program), temp);
  ASSERT_EQ(p.files.size(), 2u);
  EXPECT_TRUE(delivery_files::Exists(p.files[0]));
  EXPECT_EQ(ReadAll(p.files[0]).substr(0, 2), "PK");
  p = PrepareAttachments(*list, FolderOf(program), L"", zip);
  EXPECT_EQ(p.files.size(), 1u);
  for (const wchar_t* f : {L"a.txt", L"b.txt", L"c.txt"}) delivery_files::Delete(dir + f);
}
