// The sending sequence over a fake system: background start, the texts, the choice of the delivery method,
// the fallbacks, the progress window, the silent rules, the "sent" mark and the report file.
#include "crash/delivery/send.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/settings_stream.h"
#include "tests/delivery/send_settings.h"
#include "crash/core/exception_record.h"
#include "crash/delivery/fields.h"
#include "crash/delivery/mail_job.h"
#include "crash/stack/text.h"
#include "crash/ui/progress_alert.h"

namespace rvx {
namespace {

namespace fs = std::filesystem;

// The system's temporary folder, as the sending finds it.
void SetTempFolder(const std::string& folder) {
#ifdef _WIN32
  _putenv_s("TMP", folder.c_str());
  _putenv_s("TEMP", folder.c_str());
#else
  if (folder.empty())
    unsetenv("TMPDIR");
  else
    setenv("TMPDIR", folder.c_str(), 1);
#endif
}

std::string TempFolderVariable() {
  const char* v = getenv(
#ifdef _WIN32
      "TMP"
#else
      "TMPDIR"
#endif
  );
  return v ? v : "";
}

const std::string kReport =
    "date/time          : 2026-12-09, 10:11:12\r\n"
    "exception class    : EAccessViolation\r\n"
    "exception message  : Access violation: read of address 00000000.\r\n"
    "\r\nmain thread ($1a4):\r\n00401234 crashlab.exe Unit1 12 +3 TForm1.Button1Click\r\n";

class FakeProgress : public RefObject<IProgressAlert> {
 public:
  std::vector<std::string>& log;
  explicit FakeProgress(std::vector<std::string>& l) : log(l) {}
  std::string GetCaptionText() override { return {}; }
  void SetCaptionText(std::string_view) override {}
  int32_t GetBarPosition() override { return 0; }
  void SetBarPosition(int32_t) override {}
  void AppendArea(std::string_view text, int64_t weight) override {
    log.push_back("area " + std::string(text) + " " + std::to_string(weight));
  }
  void RemoveAllAreas() override {}
  void FinishArea() override {}
  int32_t GetActiveArea() override { return 0; }
  void SetActiveArea(int32_t) override {}
  void PumpMessages() override {}
  bool OpenAlert(ProgressWindowHandle parent, bool activate) override {
    const char* owner = parent == reinterpret_cast<void*>(0x5150) ? "parent" : parent ? "other" : "none";
    log.push_back(std::string("open ") + owner + (activate ? " activated" : ""));
    return true;
  }
  void CloseAlert() override { log.push_back("close"); }
};

void* const kParent = reinterpret_cast<void*>(0x5150);
void* const kThread = reinterpret_cast<void*>(0x7788);

// Records what the sequence asks of the system, in order.
struct FakeSystem {
  std::vector<std::string> log;
  std::vector<MailJob> jobs;
  std::vector<std::function<void()>> threads;
  bool threadStarts = true, blocked = false, online = true, jobWorks = true, mailClientStarts = true;
  int mapiResult = kSendMapiFailed;
  std::string mailClientBody;
  std::vector<std::wstring> mapiFiles;
  std::wstring programFile;

  SendPlatform Platform() {
    SendPlatform p;
    p.startThread = [this](std::function<void()> body) -> void* {
      if (!threadStarts) return nullptr;
      threads.push_back(std::move(body));
      log.push_back("thread");
      return kThread;
    };
    p.closeHandle = [this](void* h) { log.push_back(h == kThread ? "close thread" : "close ?"); };
    p.processBlocked = [this](uint32_t) { return blocked; };
    p.makeNotTopmost = [this](void* w) { log.push_back(w == kParent ? "not topmost" : "not topmost ?"); };
    p.createProgress = [this](const std::string& title, ModuleHandle, const std::string& picture) {
      log.push_back("progress " + title + " " + picture);
      return Ref<IProgressAlert>(new FakeProgress(log));
    };
    p.isOnline = [this](bool dial) {
      log.push_back(dial ? "online? dial" : "online? no dial");
      return online;
    };
    p.sendJob = [this](MailJob& job) {
      log.push_back(job.upload ? "upload " + job.server : "smtp " + job.server);
      jobs.push_back(job);
      if (!jobWorks) job.error = "530 authentication required";
      return jobWorks;
    };
    p.sendViaMapi = [this](const std::string&, const std::string&, const std::string&, bool silent, void*,
                           const std::vector<std::string>&, const std::vector<std::wstring>& files) {
      log.push_back(silent ? "mapi silent" : "mapi");
      mapiFiles = files;
      return mapiResult;
    };
    p.sendViaMailClient = [this](const std::string& to, const std::string&, const std::string& body) {
      log.push_back("mail client " + to);
      mailClientBody = body;
      return mailClientStarts;
    };
    p.showFailure = [this](void* parent, const std::string& text) {
      log.push_back(std::string(parent == kParent ? "failure box: " : "failure: ") + text);
    };
    p.removeFile = [this](const std::wstring& f) {
      log.push_back("delete " + fs::path(f).filename().string());
      fs::remove(fs::path(f));
    };
    p.programFile = programFile;
    p.saveScreenshot = [this](IRefCounted&, const std::wstring& file, int) {
      std::ofstream(fs::path(file)) << "png";
      return true;
    };
    return p;
  }

  bool Has(std::string_view entry) const {
    for (const auto& l : log)
      if (l == entry) return true;
    return false;
  }
  bool HasPrefix(std::string_view prefix) const {
    for (const auto& l : log)
      if (l.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }
};

struct Picture : RefObject<IRefCounted> {};

class SendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("rvx_send_test_" + std::to_string(reinterpret_cast<uintptr_t>(this)) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "lab");
    fs::create_directories(root_ / "tmp");
    oldTmp_ = TempFolderVariable();
    SetTempFolder((root_ / "tmp").string());
    sys_.programFile = DecodeUtf8Text((root_ / "lab" / "crashlab.exe").string());
    module_ = 0x7300000 + 0x10000 * static_cast<ModuleHandle>(++counter_);
  }
  void TearDown() override {
    ClearMemoryModules();
    SetTempFolder(oldTmp_);
    fs::remove_all(root_);
  }

  // Settings with everything of a sending off; `more` switches things on.
  Ref<IRVModuleSettings> Settings(const std::function<void(rvxtest::SettingsStream&)>& more) {
    rvxtest::SettingsStream s;
    rvxtest::SendingOff(s);
    s.Text("ScrShotSendAs", "screenshot.png");
    s.Text("SendBoxTitle", "Sending...").Text("MailAddr", "support@example.org");
    s.Text("MailSubj", "bug report").Text("MailBody", "see attachment");
    more(s);
    SetMemoryModule(module_, sys_.programFile);
    SetMemoryResource(module_, "ZAVEDO", s.End());
    return SettingsOfModule(module_);
  }

  SendRequest Request(Ref<IRVSettings> settings) {
    SendRequest r;
    r.report = kReport;
    r.parent = kParent;
    r.settings = std::move(settings);
    return r;
  }

  Ref<TIRVException> Record(Ref<IRVModuleSettings> settings) {
    ExceptionParams p;
    p.settings = std::move(settings);
    p.object = MakeOwnException("Access violation");
    p.address = 0x401234;
    p.dontCompleteYet = true;
    return NewExceptionRecord(p);
  }

  fs::path ReportFile() const { return root_ / "lab" / "bugreport.txt"; }
  void WriteReportFile() { std::ofstream(ReportFile()) << "older reports\r\n\r\n"; }

  fs::path root_;
  std::string oldTmp_;
  FakeSystem sys_;
  ModuleHandle module_ = 0;
  static inline int counter_ = 0;
};

TEST_F(SendTest, BackgroundStartReturnsAtOnceAndTheThreadReportsTheFailure) {
  auto s = Settings([](auto& st) { st.Bool("MailAsSmtpClient", true).Text("SmtpServer", "127.0.0.1"); });
  sys_.jobWorks = false;
  SendRequest r = Request(s);
  r.inBackground = true;
  void* slot = reinterpret_cast<void*>(1);
  r.threadHandle = &slot;
  Ref<IRVSettings> held(s.get());
  EXPECT_TRUE(DeliverBugReport(r, sys_.Platform()));
  EXPECT_EQ(slot, kThread);
  EXPECT_EQ(sys_.log, (std::vector<std::string>{"not topmost", "thread"}));
  EXPECT_TRUE(sys_.jobs.empty());

  // The thread owns its copy of the request: the caller's texts may be gone.
  r.report.assign(kReport.size(), '?');
  ASSERT_EQ(sys_.threads.size(), 1u);
  sys_.threads[0]();
  ASSERT_EQ(sys_.jobs.size(), 1u);
  EXPECT_EQ(sys_.jobs[0].server, "127.0.0.1");
  EXPECT_TRUE(sys_.Has("open none"));  // no owner, not activated in the sending thread
  EXPECT_TRUE(sys_.Has("failure: Sending failed.\n530 authentication required"));
  sys_.threads.clear();  // the thread's references go with it

  // Without a slot the handle is closed; when no thread starts, the caller sends itself.
  sys_.log.clear();
  r.threadHandle = nullptr;
  EXPECT_TRUE(DeliverBugReport(r, sys_.Platform()));
  EXPECT_TRUE(sys_.Has("close thread"));
  sys_.threadStarts = false;
  sys_.log.clear();
  slot = kThread;
  r.threadHandle = &slot;
  EXPECT_FALSE(DeliverBugReport(r, sys_.Platform()));
  EXPECT_EQ(slot, nullptr);
  EXPECT_TRUE(sys_.Has("failure box: Sending failed.\n530 authentication required"));
  // A blocked process sends in the calling thread too.
  sys_.threadStarts = true;
  sys_.blocked = true;
  sys_.log.clear();
  DeliverBugReport(r, sys_.Platform());
  EXPECT_FALSE(sys_.Has("thread"));
  EXPECT_EQ(sys_.jobs.size(), 3u);
}

TEST_F(SendTest, SmtpClientWithoutServerFallsBack) {
  auto s = Settings([](auto& st) {
    st.Bool("MailAsSmtpClient", true).Text("SmtpServer", "").Bool("MailViaMapi", true).Bool("MailViaMailto", true);
  });
  sys_.mailClientStarts = false;
  EXPECT_FALSE(DeliverBugReport(Request(s), sys_.Platform()));
  EXPECT_TRUE(sys_.jobs.empty());
  EXPECT_FALSE(sys_.HasPrefix("online?"));
  EXPECT_TRUE(sys_.Has("mapi"));
  EXPECT_TRUE(sys_.Has("mail client support@example.org"));
  EXPECT_TRUE(sys_.Has("failure box: Sending failed.\nno SMTP server is set"));
  // MAPI got the prepared report copy.
  ASSERT_EQ(sys_.mapiFiles.size(), 1u);
  EXPECT_EQ(fs::path(sys_.mapiFiles[0]).filename(), "bugreport.txt");
}

TEST_F(SendTest, UploadIsTheOnlyMethodTriedWhenOn) {
  auto s = Settings([](auto& st) {
    st.Bool("UploadViaHttp", true).Text("HttpServer", "reports.example.org/upload").Int("HttpPort", 8080);
    st.Bool("MailAsSmtpClient", true).Text("SmtpServer", "127.0.0.1").Text("AddFields", "Product=Lab|Build=7");
    st.Text("MailBody", "");
  });
  sys_.jobWorks = false;
  SendRequest r = Request(s);
  r.screenshot = Ref<IRefCounted>(new Picture);
  EXPECT_FALSE(DeliverBugReport(r, sys_.Platform()));
  ASSERT_EQ(sys_.jobs.size(), 1u);
  const MailJob& job = sys_.jobs[0];
  EXPECT_TRUE(job.upload);
  EXPECT_EQ(job.server, "reports.example.org/upload");
  EXPECT_EQ(job.port, 8080);
  // The upload fields: a copy of AddFields with the mail texts that are not empty.
  ASSERT_TRUE(job.fields);
  EXPECT_EQ(FieldsText(*job.fields),
            "Product=Lab|Build=7|MailFrom=Ravex <support@example.org>|MailSubject=bug report|"
            "MailAddr=support@example.org");
  EXPECT_EQ(FieldsText(*s->AddFields()), "Product=Lab|Build=7");
  EXPECT_EQ(job.sendAs, (std::vector<std::string>{"bugreport.txt", "screenshot.png"}));
  EXPECT_EQ(job.fieldNames, (std::vector<std::string>{"BugReport", "ScreenShot"}));
  // Areas for the upload alone, the progress window shown for the parent.
  std::vector<std::string> expected{"progress Sending... RVISEND32"};
  for (const ProgressArea& a : SendProgressAreas(*s, true)) expected.push_back("area " + a.text + " " + std::to_string(a.weight));
  expected.push_back("open parent activated");
  EXPECT_TRUE(std::search(sys_.log.begin(), sys_.log.end(), expected.begin(), expected.end()) != sys_.log.end());
  // Failed without MAPI: the screenshot in the temporary folder is gone, the report copy stays.
  EXPECT_FALSE(fs::exists(root_ / "tmp" / "crashlab.Ravex" / "screenShot.png"));
  EXPECT_TRUE(fs::exists(root_ / "tmp" / "crashlab.Ravex" / "bugreport.txt"));
}

TEST_F(SendTest, ProgressAreasFollowTheMethods) {
  auto texts = [](auto& st) {
    st.Text("PrepAttMsg", "P").Text("MxLookMsg", "M").Text("ConnMsg", "C").Text("AuthMsg", "A");
    st.Text("SendMailMsg", "S").Text("FieldMsg", "F").Text("SendAttMsg", "T").Text("SendFinalMsg", "E");
  };
  auto direct = Settings([&](auto& st) { texts(st); st.Bool("MailAsSmtpServer", true); });
  EXPECT_EQ(SendProgressAreas(*direct, true), (std::vector<ProgressArea>{{"P", 100}, {"M", 100}, {"C", 100},
                                                                         {"A", 200}, {"S", 100}, {"T", 100}, {"E", 100}}));
  module_ += 0x1000;
  auto both = Settings([&](auto& st) { texts(st); st.Bool("MailAsSmtpClient", true).Bool("UploadViaHttp", true); });
  EXPECT_EQ(SendProgressAreas(*both, false), (std::vector<ProgressArea>{{"P", 100}, {"C", 100}, {"A", 200},
                                                                        {"S", 100}, {"F", 100}, {"E", 100}}));
  module_ += 0x1000;
  auto mapi = Settings([&](auto& st) { texts(st); st.Bool("MailViaMapi", true); });
  EXPECT_EQ(SendProgressAreas(*mapi, true), (std::vector<ProgressArea>{{"P", 100}}));
}

TEST_F(SendTest, MailtoOnlySendsTheWholeReportWithoutAttachments) {
  auto s = Settings([](auto& st) { st.Bool("MailViaMailto", true); });
  WriteReportFile();
  auto record = Record(s);
  EXPECT_TRUE(DeliverBugReport(Request(Ref<IRVSettings>(record.get())), sys_.Platform()));
  EXPECT_EQ(sys_.log, (std::vector<std::string>{"not topmost", "mail client support@example.org"}));
  EXPECT_EQ(sys_.mailClientBody, kReport);
  EXPECT_FALSE(fs::exists(root_ / "tmp" / "crashlab.Ravex"));
  // The mail program only started: the report is not marked sent, so the automatic save still keeps it.
  EXPECT_FALSE(record->Sent());
  EXPECT_TRUE(fs::exists(ReportFile()));
}

TEST_F(SendTest, TextsSenderAndPlaceholders) {
  EXPECT_EQ(ComposeSender("", "a@x.org, b@y.org"), "Ravex <a@x.org>");
  EXPECT_EQ(ComposeSender("", "a@x.org;b@y.org"), "Ravex <a@x.org>");
  EXPECT_EQ(ComposeSender("", "Help Desk <help@x.org>; b@y.org"), "Ravex <help@x.org>");
  EXPECT_EQ(ComposeSender("Ann <ann@x.org>", "a@x.org"), "Ann <ann@x.org>");
  EXPECT_EQ(ComposeSender("", ""), "");

  EXPECT_EQ(ReportHeaderLine(kReport, "exception class"), "EAccessViolation");
  EXPECT_EQ(ReportHeaderLine(kReport, "exception message"), "Access violation: read of address 00000000.");
  EXPECT_EQ(ReportHeaderLine(kReport, "exception number"), "");
  EXPECT_EQ(ReportHeaderLine("exception class: X", "exception class"), "X");
  EXPECT_EQ(ReportHeaderLine("x\nexception classes : Y\n", "exception class"), "");

  auto s = Settings([](auto& st) {
    st.Bool("MailAsSmtpClient", true).Text("SmtpServer", "mail.example.org").Int("SmtpPort", 587);
    st.Text("SmtpAccount", "lab").Text("MailAddr", "a@x.org; b@y.org");
    st.Text("MailSubj", "%exceptClass% in %exceptMsg%").Text("MailBody", "Report:\r\n%bugReport%");
  });
  EXPECT_TRUE(DeliverBugReport(Request(s), sys_.Platform()));
  ASSERT_EQ(sys_.jobs.size(), 1u);
  const MailJob& job = sys_.jobs[0];
  EXPECT_EQ(job.sender, "Ravex <a@x.org>");
  EXPECT_EQ(job.recipients, "a@x.org; b@y.org");
  EXPECT_EQ(job.subject, "EAccessViolation in Access violation: read of address 00000000.");
  EXPECT_EQ(job.body, "Report:\r\n" + kReport);
  EXPECT_EQ(job.port, 587);
  EXPECT_EQ(job.account, "lab");
  EXPECT_FALSE(job.upload);
  EXPECT_TRUE(sys_.Has("online? dial"));
}

TEST_F(SendTest, SentMarkAndSendingAgain) {
  auto s = Settings([](auto& st) { st.Bool("MailAsSmtpServer", true); });
  auto record = Record(s);
  Ref<IRVSettings> settings(record.get());
  EXPECT_TRUE(DeliverBugReport(Request(settings), sys_.Platform()));
  EXPECT_TRUE(record->Sent());
  ASSERT_EQ(sys_.jobs.size(), 1u);
  EXPECT_EQ(sys_.jobs[0].server, "");  // direct delivery
  EXPECT_EQ(sys_.jobs[0].port, 25);
  EXPECT_TRUE(DeliverBugReport(Request(settings), sys_.Platform()));
  EXPECT_EQ(sys_.jobs.size(), 2u);
}

TEST_F(SendTest, ReportFileGoesOnlyAfterASendingThatCarriedItsCopy) {
  auto s = Settings([](auto& st) { st.Bool("MailAsSmtpClient", true).Text("SmtpServer", "127.0.0.1"); });
  WriteReportFile();
  sys_.jobWorks = false;
  EXPECT_FALSE(DeliverBugReport(Request(s), sys_.Platform()));
  EXPECT_TRUE(fs::exists(ReportFile()));
  EXPECT_FALSE(sys_.HasPrefix("delete"));
  sys_.online = false;
  sys_.jobWorks = true;
  EXPECT_FALSE(DeliverBugReport(Request(s), sys_.Platform()));
  EXPECT_TRUE(sys_.Has("failure box: Sending failed.\nthe computer is not online"));
  EXPECT_TRUE(fs::exists(ReportFile()));

  sys_.online = true;
  EXPECT_TRUE(DeliverBugReport(Request(s), sys_.Platform()));
  EXPECT_TRUE(sys_.Has("delete bugreport.txt"));
  EXPECT_FALSE(fs::exists(ReportFile()));
  // The copy that was sent holds the old reports and this one.
  std::ifstream copy(root_ / "tmp" / "crashlab.Ravex" / "bugreport.txt");
  std::string sent((std::istreambuf_iterator<char>(copy)), {});
  EXPECT_EQ(sent.find("older reports"), 0u);
  EXPECT_NE(sent.find("EAccessViolation"), std::string::npos);
}

TEST_F(SendTest, ReportFileStaysWhenItsCopyWasNotAttached) {
  auto s = Settings([](auto& st) {
    st.Bool("MailAsSmtpClient", true).Text("SmtpServer", "127.0.0.1").Bool("AttachBugRepFile", false);
  });
  WriteReportFile();
  EXPECT_TRUE(DeliverBugReport(Request(s), sys_.Platform()));
  EXPECT_TRUE(fs::exists(ReportFile()));
  module_ += 0x1000;
  auto off = Settings([](auto& st) {
    st.Bool("MailAsSmtpClient", true).Text("SmtpServer", "127.0.0.1").Bool("DelBugRepFile", false);
  });
  EXPECT_TRUE(DeliverBugReport(Request(off), sys_.Platform()));
  EXPECT_TRUE(fs::exists(ReportFile()));
  EXPECT_FALSE(sys_.HasPrefix("delete"));
}

TEST_F(SendTest, SilentSendingShowsNothingAndNeverDials) {
  auto s = Settings([](auto& st) {
    st.Bool("MailAsSmtpClient", true).Text("SmtpServer", "127.0.0.1").Bool("MailViaMapi", true);
    st.Bool("MailViaMailto", true);
  });
  sys_.jobWorks = false;
  SendRequest r = Request(s);
  r.silent = true;
  EXPECT_FALSE(DeliverBugReport(r, sys_.Platform()));
  EXPECT_TRUE(sys_.Has("online? no dial"));
  EXPECT_TRUE(sys_.Has("mapi silent"));
  EXPECT_FALSE(sys_.HasPrefix("open"));
  EXPECT_FALSE(sys_.HasPrefix("mail client"));
  EXPECT_FALSE(sys_.HasPrefix("failure"));
  EXPECT_FALSE(sys_.HasPrefix("online? dial"));
  // AutoSendBox lets the progress window appear in a silent sending.
  module_ += 0x1000;
  auto box = Settings([](auto& st) { st.Bool("MailAsSmtpClient", true).Text("SmtpServer", "h").Bool("AutoSendBox", true); });
  sys_.log.clear();
  r.settings = box;
  DeliverBugReport(r, sys_.Platform());
  EXPECT_TRUE(sys_.Has("open parent activated"));
  EXPECT_FALSE(sys_.HasPrefix("failure"));
}

TEST_F(SendTest, MapiResultsDecideTheFallbacks) {
  auto s = Settings([](auto& st) { st.Bool("MailViaMapi", true).Bool("MailViaMailto", true); });
  WriteReportFile();
  SendRequest r = Request(s);
  r.screenshot = Ref<IRefCounted>(new Picture);
  sys_.mapiResult = kSendMapiCancelled;
  EXPECT_FALSE(DeliverBugReport(r, sys_.Platform()));
  EXPECT_TRUE(sys_.Has("mapi"));
  EXPECT_FALSE(sys_.HasPrefix("mail client"));
  EXPECT_FALSE(sys_.HasPrefix("failure"));
  // MAPI got the prepared files; the screenshot stayed for it.
  ASSERT_EQ(sys_.mapiFiles.size(), 2u);
  EXPECT_TRUE(fs::exists(fs::path(sys_.mapiFiles[1])));
  EXPECT_TRUE(fs::exists(ReportFile()));

  sys_.log.clear();
  sys_.mapiResult = kSendMapiSent;
  auto record = Record(s);
  r.settings = Ref<IRVSettings>(record.get());
  EXPECT_TRUE(DeliverBugReport(r, sys_.Platform()));
  EXPECT_TRUE(record->Sent());
  EXPECT_FALSE(sys_.HasPrefix("mail client"));
  EXPECT_FALSE(fs::exists(ReportFile()));  // its copy went with the mail
}

TEST_F(SendTest, NothingSwitchedOnTellsTheUser) {
  auto s = Settings([](auto&) {});
  EXPECT_FALSE(DeliverBugReport(Request(s), sys_.Platform()));
  EXPECT_EQ(sys_.log, (std::vector<std::string>{"failure box: Sending failed."}));
  SendRequest none = Request(nullptr);
  EXPECT_FALSE(DeliverBugReport(none, sys_.Platform()));
}

}  // namespace
}  // namespace rvx
