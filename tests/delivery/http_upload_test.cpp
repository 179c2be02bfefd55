// The HTTP upload against a recording connection: the request lines, the body and its length, the parts,
// proxies, the answer reader (pieces, interim answers, redirects, failures) and the progress areas.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "crash/core/settings.h"
#include "crash/delivery/cipher.h"
#include "crash/delivery/fields.h"
#include "crash/delivery/http_upload.h"
#include "crash/delivery/multipart.h"
#include "tests/delivery/upload_doubles.h"
#include "tests/support/oracle_files.h"

namespace {

namespace fs = std::filesystem;
using namespace rvx;
using rvxtest::RecordingProgress;
using rvxtest::ScriptedStream;

const std::string B(kMultipartBoundary);

std::wstring Wide(const fs::path& p) {
  const std::string s = p.string();
  return std::wstring(s.begin(), s.end());
}

// An upload job whose connection is recorded into `sent` and answers with `answer`.
struct Recorded {
  MailJob job;
  std::string sent;
  std::string connectedTo;
  std::deque<std::string> answer{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"};
  std::function<void(ScriptedStream&)> adjust;

  Recorded() {
    job.upload = true;
    job.server = "http://upload.example.test/bugs/post.php";
    job.port = 8088;
    job.connect = [this](std::string_view host, uint16_t port, std::string*) -> std::unique_ptr<net::IStream> {
      connectedTo = std::string(host) + ":" + std::to_string(port);
      auto s = std::make_unique<ScriptedStream>(&sent);
      s->answer = answer;
      if (adjust) adjust(*s);
      return s;
    };
  }
  std::string Header() const { return sent.substr(0, sent.find("\r\n\r\n") + 2); }
  // Everything after the empty line that ends the header block.
  std::string Body() const { return sent.substr(sent.find("\r\n\r\n") + 4); }
  uint64_t ContentLength() const {
    const size_t at = sent.find("Content-Length: ");
    return std::stoull(sent.substr(at + 16, sent.find("\r\n", at) - at - 16));
  }
};

Ref<IRVFields> Fields(std::initializer_list<std::pair<const char*, std::string>> items) {
  Ref<IRVFields> f = CreateFields();
  Query<IRVFieldsEx>(f.get())->AcceptData();
  for (const auto& [name, content] : items) f->Add(name, content);
  return f;
}

class Upload : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUploadNoProxy(true);
    SetRedirectOpener([this](const std::string& url) { opened.push_back(url); });
    dir = rvx::test::OracleFolder("http_upload_test");
  }
  void TearDown() override {
    SetUploadNoProxy(false);
    SetUploadProxyOverride("");
    SetOpenRedirectTarget(true);
    SetRedirectOpener(nullptr);
    SetUploadAnswerTimeLimit(7);
  }
  fs::path File(const std::string& name, const std::string& bytes) {
    rvx::test::WriteFile(dir / name, bytes);
    return dir / name;
  }
  std::vector<std::string> opened;
  fs::path dir;
};

TEST_F(Upload, RequestLinesWithoutSenderOrCredentials) {
  Recorded r;
  ASSERT_TRUE(UploadReport(r.job)) << r.job.error;
  EXPECT_EQ(r.connectedTo, "upload.example.test:8088");
  EXPECT_EQ(r.Header(), "POST /bugs/post.php HTTP/1.1\r\n"
                        "Host: upload.example.test:8088\r\n"
                        "Connection: close\r\n"
                        "Pragma: no-cache\r\n"
                        "User-Agent: Ravex/3.0\r\n"
                        "Content-Type: multipart/form-data; boundary=" + B + "\r\n"
                        "Content-Length: " + std::to_string(B.size() + 6) + "\r\n");
  EXPECT_EQ(r.Body(), "--" + B + "--\r\n");
}

TEST_F(Upload, SenderAndAuthorizationLines) {
  Recorded r;
  r.job.sender = "Ravex <crash@example.test>";
  r.job.account = "uploader";
  ASSERT_TRUE(UploadReport(r.job)) << r.job.error;
  EXPECT_NE(r.Header().find("\r\nFrom: <crash@example.test>\r\n"), std::string::npos);
  EXPECT_NE(r.Header().find("\r\nAuthorization: Basic " + Base64Encode("uploader:") + "\r\n"), std::string::npos);

  Recorded plain;
  plain.job.sender = "crash@example.test\r\nX-Injected: 1";
  plain.job.password = "secret";
  ASSERT_TRUE(UploadReport(plain.job)) << plain.job.error;
  EXPECT_NE(plain.Header().find("\r\nFrom: <crash@example.testX-Injected: 1>\r\n"), std::string::npos);
  EXPECT_EQ(plain.Header().find("\r\nX-Injected"), std::string::npos);
  EXPECT_NE(plain.Header().find("Authorization: Basic " + Base64Encode(":secret")), std::string::npos);
}

TEST_F(Upload, ContentLengthIsExactlyTheBodySent) {
  const fs::path report = File("bugreport.txt", "report line 1\r\nreport line 2\r\n");
  std::string binary;
  for (int i = 0; i < 3000; ++i) binary += static_cast<char>(i * 7);
  const fs::path shot = File("screenshot.png", binary);
  const fs::path empty = File("empty.bin", "");
  struct Case {
    const char* name;
    bool fields, files;
  };
  for (const Case c : {Case{"nothing", false, false}, Case{"fields", true, false}, Case{"files", false, true},
                       Case{"both", true, true}}) {
    Recorded r;
    if (c.fields) r.job.fields = Fields({{"MailFrom", "a@example.test"}, {"MailBody", "two\r\nlines"}});
    if (c.files) {
      r.job.files = {Wide(report), Wide(dir / "gone.txt"), Wide(empty), Wide(shot)};
      r.job.sendAs = {"bugreport.txt", "gone.txt", "empty.bin", "screenshot.png"};
      r.job.fieldNames = {"bugreport", "gone", "empty", "screenshot"};
    }
    ASSERT_TRUE(UploadReport(r.job)) << c.name << ": " << r.job.error;
    EXPECT_EQ(r.ContentLength(), r.Body().size()) << c.name;
    std::string expected;
    if (c.fields) {
      expected += "\r\n--" + B + "\r\nContent-Disposition: form-data; name=\"MailFrom\"\r\n\r\na@example.test";
      expected += "\r\n--" + B + "\r\nContent-Disposition: form-data; name=\"MailBody\"\r\n\r\ntwo\r\nlines";
    }
    if (c.files) {
      expected += "\r\n--" + B + "\r\nContent-Disposition: form-data; name=\"bugreport\"; filename=\"bugreport.txt\"\r\n"
                  "Content-Type: application/octet-stream\r\n\r\nreport line 1\r\nreport line 2\r\n";
      expected += "\r\n--" + B + "\r\nContent-Disposition: form-data; name=\"screenshot\"; filename=\"screenshot.png\"\r\n"
                  "Content-Type: application/octet-stream\r\n\r\n" + binary;
    }
    expected += "\r\n--" + B + "--\r\n";
    // The first part's leading CR LF is the empty line that ends the header block.
    EXPECT_TRUE(r.Body() == expected.substr(2)) << c.name;  // (binary: not printed)
  }
}

TEST_F(Upload, ProgressAreasTheirWeightsAndPositions) {
  std::string big(5000, 'x');
  const fs::path file = File("big.bin", big);
  Recorded r;
  Ref<RecordingProgress> progress = MakeRef<RecordingProgress>();
  progress->AppendArea("", 1000);  // the finished preparation of the common entry
  r.job.progress = progress;
  r.job.fields = Fields({{"F", "v"}});
  r.job.files = {Wide(file)};
  r.job.sendAs = {"big.bin"};
  r.job.fieldNames = {"big"};
  ASSERT_TRUE(UploadReport(r.job)) << r.job.error;
  const int64_t fieldBytes = static_cast<int64_t>(http::FieldPart("F", "v").size());
  const int64_t fileBytes = static_cast<int64_t>(http::FilePartHeader("big", "big.bin").size() + big.size());
  EXPECT_EQ(fileBytes, static_cast<int64_t>(B.size() + big.size() + 7 + 3 + 102));
  std::vector<int64_t> weights;
  for (const auto& a : progress->areas) weights.push_back(a.weight);
  EXPECT_EQ(weights, (std::vector<int64_t>{1000, 100, 100, fieldBytes + 100, fileBytes / 16, 100, 500}));
  EXPECT_EQ(progress->current, 7);  // every area done
  EXPECT_EQ(progress->positions, (std::vector<int32_t>{204, 409, 614, 819, 1000}));
}

TEST_F(Upload, FailuresSayWhy) {
  Recorded refused;
  refused.job.connect = [](std::string_view, uint16_t, std::string* e) -> std::unique_ptr<net::IStream> {
    *e = "cannot connect to upload.example.test:8088 (Connection refused)";
    return nullptr;
  };
  EXPECT_FALSE(UploadReport(refused.job));
  EXPECT_EQ(refused.job.error, "cannot connect to upload.example.test:8088 (Connection refused)");

  Recorded unreadable;  // exists, but is no file that can be read
  unreadable.job.files = {Wide(dir)};
  EXPECT_FALSE(UploadReport(unreadable.job));
  EXPECT_NE(unreadable.job.error.find("cannot be opened"), std::string::npos) << unreadable.job.error;
  EXPECT_TRUE(unreadable.sent.empty());

  Recorded broken;
  broken.job.files = {Wide(File("data.bin", std::string(4000, 'd')))};
  broken.adjust = [](ScriptedStream& s) { s.failSendAfter = 1500; };
  EXPECT_FALSE(UploadReport(broken.job));
  EXPECT_NE(broken.job.error.find("sending an attachment"), std::string::npos) << broken.job.error;

  Recorded silent;
  SetUploadAnswerTimeLimit(1);
  silent.adjust = [](ScriptedStream& s) { s.silent = true; };
  EXPECT_FALSE(UploadReport(silent.job));
  EXPECT_EQ(silent.job.error, "no answer from the server within 1 s");
}

TEST_F(Upload, RedirectsAreStoredAndOnlyWebAddressesOpened) {
  Recorded web;
  web.answer = {"HTTP/1.1 302 Found\r\nlocation: https://bugs.example.test/thanks?id=7\r\n\r\n"};
  EXPECT_TRUE(UploadReport(web.job)) << web.job.error;
  EXPECT_EQ(LastRedirectTarget(), "https://bugs.example.test/thanks?id=7");
  Recorded program;
  program.answer = {"HTTP/1.1 302 Found\r\nLocation: C:\\Windows\\system32\\calc.exe\r\n\r\n"};
  EXPECT_TRUE(UploadReport(program.job)) << program.job.error;
  EXPECT_EQ(LastRedirectTarget(), "C:\\Windows\\system32\\calc.exe");
  SetOpenRedirectTarget(false);
  Recorded quiet;
  quiet.answer = {"HTTP/1.1 302 Found\r\nLocation: http://bugs.example.test/other\r\n\r\n"};
  EXPECT_TRUE(UploadReport(quiet.job)) << quiet.job.error;
  EXPECT_EQ(opened, (std::vector<std::string>{"https://bugs.example.test/thanks?id=7"}));
}

TEST_F(Upload, ProxyTargetsAndTheAbsoluteRequestLine) {
  SetUploadNoProxy(false);
  SetUploadProxyOverride("http=proxy.example.test:8080 https=secure.example.test:8443");
  Recorded r;
  ASSERT_TRUE(UploadReport(r.job)) << r.job.error;
  EXPECT_EQ(r.connectedTo, "proxy.example.test:8080");
  EXPECT_EQ(r.Header().rfind("POST http://upload.example.test:8088/bugs/post.php HTTP/1.1\r\n"
                             "Host: upload.example.test:8088\r\n", 0),
            0u);

  SetUploadProxyOverride("https=secure.example.test:8443");  // nothing for plain HTTP
  Recorded direct;
  ASSERT_TRUE(UploadReport(direct.job)) << direct.job.error;
  EXPECT_EQ(direct.connectedTo, "upload.example.test:8088");
  EXPECT_EQ(direct.Header().rfind("POST /bugs/post.php HTTP/1.1\r\n", 0), 0u);
}

TEST(UploadPieces, AddressesProxiesAndPorts) {
  using http::ConnectionTarget;
  using http::SplitUploadAddress;
  EXPECT_EQ(SplitUploadAddress("http://example.test/a/b.php?x=1").host, "example.test");
  EXPECT_EQ(SplitUploadAddress("http://example.test/a/b.php?x=1").path, "/a/b.php?x=1");
  EXPECT_EQ(SplitUploadAddress("example.test/").path, "/");
  EXPECT_EQ(SplitUploadAddress("example.test").host, "example.test");
  EXPECT_EQ(SplitUploadAddress("example.test").path, "/");
  EXPECT_EQ(http::WithoutProtocol("http=http://p.test:81 ftp=f.test"), "p.test:81 ftp=f.test");
  EXPECT_EQ(http::WithoutProtocol("ftp=f.test:21 http=p.test:81 https=s.test"), "p.test:81");

  auto target = [](std::string_view proxy, std::string_view host) {
    const auto e = ConnectionTarget(proxy, host, 80);
    return e.host + ":" + std::to_string(e.port) + (e.viaProxy ? " proxy" : "");
  };
  EXPECT_EQ(target("", "example.test"), "example.test:80");
  EXPECT_EQ(target("", "example.test:8000"), "example.test:8000");
  EXPECT_EQ(target("proxy.test:3128", "example.test"), "proxy.test:3128 proxy");
  EXPECT_EQ(target("http://proxy.test", "example.test"), "proxy.test:80 proxy");
  EXPECT_EQ(target("proxy.test:99999", "example.test"), "proxy.test:99999:80 proxy");
  EXPECT_EQ(target("socks=s.test:1080", "example.test"), "example.test:80");
}

TEST(UploadAnswer, WholeAndPiecewiseAnswers) {
  struct Case {
    std::string text;
    bool ok;
    const char* errorPart;
  };
  const std::vector<Case> cases{
      {"HTTP/1.1 200 OK\r\n\r\n", true, ""},
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nServer: x\r\n\r\ndone", true, ""},
      {"HTTP/1.1 100 Continue\r\nX: y\r\n\r\nHTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 302 Moved\r\nLocation: http://x.test/\r\n\r\n", true, ""},
      {"HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n", false, "without a location"},
      {"HTTP/1.1 302 Found\r\nX-Location: http://x.test/\r\n\r\n", false, "without a location"},
      {"HTTP/1.1 500 Internal Server Error\r\n\r\n", false, "\"HTTP/1.1 500 Internal Server Error\""},
      {"HTTP/1.1 404 Not Found\r\n\r\n", false, "404"},
      {"\x01garbage 200 \x02\r\n\r\n", false, "not HTTP"},
      {"HTTP/1.1 2000 OK\r\n\r\n", false, "not HTTP"},
      {"HTTP/1.1 100 Continue\r\n", false, "closed the connection after"},
      {"HTTP/1.1 20", false, "not HTTP"},
      {"", false, "without answering"},
  };
  for (const Case& c : cases) {
    http::Answer whole;
    std::string all = c.text;
    ASSERT_TRUE(http::JudgeAnswer(all, true, whole)) << c.text;
    EXPECT_EQ(whole.ok, c.ok) << c.text;
    EXPECT_NE(whole.error.find(c.errorPart), std::string::npos) << c.text << " -> " << whole.error;

    // One byte at a time, then the close: the verdict is never given early and never differs.
    std::string received;
    http::Answer piecewise;
    bool decided = false;
    for (char ch : c.text) {
      received += ch;
      if ((decided = http::JudgeAnswer(received, false, piecewise))) break;
    }
    if (!decided) {
      ASSERT_TRUE(http::JudgeAnswer(received, true, piecewise));
    }
    EXPECT_EQ(piecewise.ok, whole.ok) << c.text;
    EXPECT_EQ(piecewise.location, whole.location) << c.text;
  }
}

TEST(UploadAnswer, ReadingIsBoundedInBytes) {
  std::string sent;
  ScriptedStream endless(&sent);
  for (int i = 0; i < 40; ++i) endless.answer.push_back(std::string(4096, 'A'));  // no line end, ever
  const http::Answer a = http::ReadAnswer(endless, 5000);
  EXPECT_FALSE(a.ok);
  EXPECT_NE(a.error.find("not HTTP"), std::string::npos) << a.error;
  EXPECT_FALSE(endless.answer.empty()) << "read more than the bound";

  ScriptedStream headers(&sent);
  headers.answer.push_back("HTTP/1.1 302 Found\r\n");
  for (int i = 0; i < 40; ++i) headers.answer.push_back("X-Padding: " + std::string(4000, 'p') + "\r\n");
  const http::Answer b = http::ReadAnswer(headers, 5000);
  EXPECT_FALSE(b.ok);
  EXPECT_NE(b.error.find("without a location"), std::string::npos) << b.error;
}

TEST(UploadAnswer, TheLocationEndsAtAnyLineBreak) {
  std::string text = "HTTP/1.1 302 Found\r\nLocation:  http://x.test/a\rSet-Cookie: b\nc\r\n\r\n";
  http::Answer a;
  ASSERT_TRUE(http::JudgeAnswer(text, true, a));
  EXPECT_TRUE(a.ok);
  EXPECT_EQ(a.location, "http://x.test/a");
}

TEST(UploadAnswer, OpenableRedirects) {
  EXPECT_TRUE(http::OpenableRedirect("http://bugs.example.test/thanks"));
  EXPECT_TRUE(http::OpenableRedirect("HTTPS://bugs.example.test/"));
  EXPECT_FALSE(http::OpenableRedirect("file:///C:/Windows/system32/calc.exe"));
  EXPECT_FALSE(http::OpenableRedirect("calc.exe"));
  EXPECT_FALSE(http::OpenableRedirect("http://x.test/a b"));
  EXPECT_FALSE(http::OpenableRedirect("/relative/path"));
}

}  // namespace
