#include "crash/delivery/smtp.h"

#include <cstdio>
#include <exception>
#include <filesystem>

#include "crash/core/settings.h"
#include "crash/delivery/cipher.h"
#include "crash/delivery/dns.h"
#include "crash/delivery/http_upload.h"
#include "crash/delivery/smtp_message.h"
#include "crash/delivery/smtp_reply.h"
#include "crash/delivery/tls.h"
#include "crash/stack/text.h"
#include "crash/ui/progress_alert.h"

namespace rvx::smtp {
namespace {

constexpr std::string_view kCrLf = "\r\n";

// ---- attachment files ---------------------------------------------------------------------------------

#ifdef _WIN32
std::filesystem::path PathOf(const std::wstring& path) { return std::filesystem::path(path); }
#else
std::filesystem::path PathOf(const std::wstring& path) {
  const std::string utf8 = EncodeUtf8Text(path);
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
#endif

bool Exists(const std::wstring& path) {
  std::error_code ec;
  return std::filesystem::exists(PathOf(path), ec);
}

std::string NameOf(const std::wstring& path) {
  const size_t sep = path.find_last_of(L"\\/");
  return EncodeUtf8Text(sep == std::wstring::npos ? path : path.substr(sep + 1));
}

class InputFile {
 public:
  explicit InputFile(const std::wstring& path) {
#ifdef _WIN32
    f_ = _wfopen(path.c_str(), L"rb");
#else
    f_ = std::fopen(EncodeUtf8Text(path).c_str(), "rb");
#endif
  }
  ~InputFile() {
    if (f_) std::fclose(f_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  bool open() const { return f_ != nullptr; }
  // The size, -1 when it cannot be told (also for what is no regular file); leaves the position at the start.
  int64_t Size() {
    if (!f_) return -1;
#ifdef _WIN32
    if (_fseeki64(f_, 0, SEEK_END) != 0) return -1;
    const int64_t size = _ftelli64(f_);
    if (_fseeki64(f_, 0, SEEK_SET) != 0) return -1;
#else
    if (fseeko(f_, 0, SEEK_END) != 0) return -1;
    const int64_t size = ftello(f_);
    if (fseeko(f_, 0, SEEK_SET) != 0) return -1;
#endif
    return size >= 0 && size < (int64_t{1} << 48) ? size : -1;
  }
  size_t Read(char* buffer, size_t size) { return std::fread(buffer, 1, size, f_); }

 private:
  FILE* f_ = nullptr;
};

int64_t AttachmentSize(const std::wstring& path) {
  if (!Exists(path)) return -1;
  InputFile f(path);
  return f.Size();
}

// ---- progress -----------------------------------------------------------------------------------------

class Progress {
 public:
  explicit Progress(IProgressAlert* alert) : alert_(alert) {}
  void Done() {
    if (alert_) alert_->FinishArea();
  }
  void Position(int32_t thousandths) {
    if (alert_) alert_->SetBarPosition(thousandths);
  }

 private:
  IProgressAlert* alert_;
};

struct Texts {
  std::string mxLook, conn, auth, sendMail, sendAtt, sendFinal;
};

Texts TextsOf(const MailJob& job) {
  Texts t;
  if (IRVSettings* s = job.settings.get()) {
    t.mxLook = s->MxLookMsg();
    t.conn = s->ConnMsg();
    t.auth = s->AuthMsg();
    t.sendMail = s->SendMailMsg();
    t.sendAtt = s->SendAttMsg();
    t.sendFinal = s->SendFinalMsg();
  }
  return t;
}

// ---- one session --------------------------------------------------------------------------------------

struct Plan {
  std::vector<std::string> recipients;  // all recipients of the job
  std::vector<int64_t> sizes;           // attachment sizes when the areas were made (-1: missing)
  std::string heloName;
  uint64_t fileTime = 0;
};

class Session {
 public:
  Session(MailJob& job, const Plan& plan, const Switches& switches)
      : job_(job), plan_(plan), switches_(switches), progress_(job.progress.get()) {}

  // Sends to `recipients` through `hosts` (the first that accepts a connection).
  bool Run(const std::vector<std::string>& hosts, const std::vector<std::string>& recipients);
  const std::string& error() const { return error_; }

 private:
  bool Connect(const std::vector<std::string>& hosts);
  bool Greet();
  bool Authenticate();
  bool Transaction(const std::vector<std::string>& recipients);
  bool SendMessage(const std::vector<std::string>& recipients);
  bool SendAttachment(size_t index);
  bool Quit();

  // Sends bytes as they are; a failed send leaves the connection unusable.
  bool Raw(std::string_view bytes, std::string_view what) {
    if (stream_->Send(bytes)) return true;
    sendFailed_ = true;
    return Fail("sending " + std::string(what) + " to the SMTP server failed");
  }
  bool Command(std::string_view line) {
    return Raw(std::string(line) + std::string(kCrLf), "\"" + std::string(line.substr(0, line.find(' '))) + "\"");
  }
  // Sends a command and reads its reply; `what` names the step in the error.
  bool Ask(std::string_view line, std::string_view code, std::string_view what, bool scan = false) {
    return Command(line) && Expect(code, what, scan);
  }
  bool Expect(std::string_view code, std::string_view what, bool scan = false, int waitMs = 0) {
    std::string why;
    if (reader_->Read(code, &why, scan, waitMs)) return true;
    if (reader_->refused()) return Fail("SMTP server refused " + std::string(what) + ": " + why);
    return Fail("SMTP " + std::string(what) + " failed: " + why);
  }
  bool Fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
    return false;
  }

  MailJob& job_;
  const Plan& plan_;
  const Switches& switches_;
  Progress progress_;
  std::string host_;
  std::unique_ptr<net::IStream> stream_;
  std::unique_ptr<ReplyReader> reader_;
  bool sendFailed_ = false;
  bool greeted_ = false;  // EHLO or HELO was answered: a failure from here on still says QUIT
  bool inData_ = false;   // the message is being sent: a failure aborts the connection instead
  bool accepted_ = false; // the server took the message: what follows cannot undo the delivery
  std::string error_;
};

bool Session::Connect(const std::vector<std::string>& hosts) {
  std::string why = "no mail server to connect to";
  for (const std::string& host : hosts) {
    std::string err;
    stream_ = job_.connect ? job_.connect(host, job_.port, &err) : net::ConnectTcp(host, job_.port, &err);
    if (stream_) {
      host_ = host;
      break;
    }
    why = err.empty() ? "cannot connect to " + host + ":" + std::to_string(job_.port) : err;
  }
  if (!stream_) return Fail("SMTP connection failed: " + why);
  progress_.Done();  // socket open
  progress_.Done();  // connected
  reader_ = std::make_unique<ReplyReader>(*stream_, switches_.replyWaitMs, job_.cancelled);
  return true;
}

bool Session::Greet() {
  if (!Expect("220", "the connection")) return false;
  const std::string helo = plan_.heloName;
  if (!Ask("EHLO " + helo, "250", "EHLO", true)) {
    if (!reader_->usable()) return false;
    error_.clear();
    greeted_ = Ask("HELO " + helo, "250", "HELO");
    return greeted_;
  }
  greeted_ = true;
  if (!reader_->extensions().startTls) return true;
  // The server offers TLS: nothing more is said in plain.
  if (!Ask("STARTTLS", "220", "STARTTLS")) return false;
  std::string why;
  auto upgrade = job_.startTls ? job_.startTls : TlsUpgrade(tls::StartTls);
  stream_ = upgrade(std::move(stream_), host_, &why);
  if (!stream_) {
    reader_.reset();
    return Fail("TLS with the SMTP server " + host_ + " failed: " + (why.empty() ? "no secured stream" : why));
  }
  // Whatever arrived before the handshake was not protected: a fresh reader forgets it.
  reader_ = std::make_unique<ReplyReader>(*stream_, switches_.replyWaitMs, job_.cancelled);
  if (!stream_->Secured()) return Fail("TLS with the SMTP server " + host_ + " failed: the stream is not secured");
  return Ask("EHLO " + helo, "250", "EHLO after STARTTLS", true);
}

bool Session::Authenticate() {
  if (job_.account.empty() && job_.password.empty()) return true;
  if (!reader_->extensions().login)
    return Fail("SMTP server " + host_ + " does not offer the LOGIN authentication");
  return Ask("AUTH LOGIN", "334", "AUTH LOGIN") && Ask(Base64Encode(job_.account), "334", "the account") &&
         Ask(Base64Encode(job_.password), "235", "the password");
}

bool Session::Run(const std::vector<std::string>& hosts, const std::vector<std::string>& recipients) {
  if (!Connect(hosts)) return false;
  // A server that did not greet or let us introduce ourselves is left without QUIT; so is a connection
  // whose TLS upgrade failed (the stream is gone), one that broke, and one in the middle of a message (the
  // server then drops the unfinished message rather than delivering it cut short).
  const bool ok = Greet() && (progress_.Done(), Transaction(recipients));
  if (!greeted_ || !stream_ || !reader_ || !reader_->usable() || sendFailed_ || inData_) return ok && accepted_;
  const bool quit = Quit();
  // Once the server has taken the message, a missing or refused answer to QUIT changes nothing: the mail
  // is on its way, and failing here would only make the user send it again.
  if (ok && accepted_) {
    error_.clear();
    return true;
  }
  return ok && quit;
}

bool Session::Transaction(const std::vector<std::string>& recipients) {
  if (!Authenticate()) return false;
  progress_.Done();
  std::string from = switches_.mailFrom;
  if (from.empty()) from = AngleAddress(job_.sender.empty() ? plan_.recipients.front() : job_.sender);
  if (!Ask("MAIL FROM:" + from, "250", "MAIL FROM " + from)) return false;
  progress_.Done();
  bool anyAccepted = false;
  std::string refusals;
  for (const std::string& r : recipients) {
    const std::string to = AngleAddress(r);
    std::string why;
    if (!Command("RCPT TO:" + to)) return false;
    if (reader_->Read("250", &why)) {
      anyAccepted = true;
      continue;
    }
    if (!reader_->usable()) return Fail("SMTP RCPT TO " + to + " failed: " + why);
    if (!refusals.empty()) refusals += "; ";
    refusals += "RCPT TO " + to + ": " + why;
  }
  progress_.Done();
  if (!anyAccepted) return Fail("SMTP server refused " + refusals);
  if (job_.subject.empty() && job_.body.empty() && job_.files.empty()) {
    // Nothing to send: the transaction is reset, and the sending counts as failed (nothing was delivered).
    if (!Ask("RSET", "250", "RSET")) return false;
    return Fail("nothing to send: the subject, the text and the attachments are all empty");
  }
  if (!Ask("DATA", "354", "DATA")) return false;
  inData_ = true;
  progress_.Done();
  if (!SendMessage(recipients) || !Raw(kCrLf, "the message")) return false;
  inData_ = false;
  if (!Command(".") || !Expect("250", "the message", false, switches_.finalReplyWaitMs)) return false;
  accepted_ = true;
  progress_.Done();
  return true;
}

bool Session::SendMessage(const std::vector<std::string>& recipients) {
  MessageTexts texts;
  texts.recipients = recipients;
  texts.sender = job_.sender.empty() ? plan_.recipients.front() : job_.sender;
  texts.subject = job_.subject;
  texts.utf8Subject = switches_.utf8Subject;
  texts.fileTime = plan_.fileTime;
  if (!Raw(MessageHeader(texts), "the message header")) return false;
  progress_.Done();
  const std::string body = DataSafeBody(job_.body);
  const bool attachments = !job_.files.empty();
  if (!Raw(attachments ? MultipartPreamble(body) : std::string(kCrLf) + body, "the message body")) return false;
  progress_.Done();
  if (!attachments) return true;
  for (size_t i = 0; i < job_.files.size(); ++i)
    if (!SendAttachment(i)) return false;
  return Raw(MultipartEnd(), "the message end");
}

bool Session::SendAttachment(size_t index) {
  const std::wstring& path = job_.files[index];
  if (!Exists(path)) return true;  // vanished since it was prepared
  const std::string name = index < job_.sendAs.size() ? job_.sendAs[index] : NameOf(path);
  const bool hasArea = index < plan_.sizes.size() && plan_.sizes[index] > 0;
  InputFile file(path);
  const int64_t size = file.Size();
  if (!file.open() || size < 0) return Fail("cannot read the attachment " + name);
  int64_t sent = 0;
  char piece[kAttachmentPiece];
  std::string lines;
  while (sent < size) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(size - sent, kAttachmentPiece));
    if (file.Read(piece, want) != want) return Fail("cannot read the attachment " + name);
    if (sent == 0 && !Raw(AttachmentHeader(path, name), "the attachment " + name)) return false;
    lines += Base64Encode(std::string_view(piece, want));
    lines += kCrLf;
    sent += static_cast<int64_t>(want);
    if (lines.size() >= 16 * 1024 || sent == size) {
      if (!Raw(lines, "the attachment " + name)) return false;
      lines.clear();
      if (hasArea) progress_.Position(static_cast<int32_t>(sent * 1000 / size));
    }
  }
  if (hasArea) progress_.Done();
  return true;
}

bool Session::Quit() {
  const bool ok = Ask("QUIT", "221", "QUIT");
  if (ok) progress_.Done();
  return ok;
}

// ---- the job ------------------------------------------------------------------------------------------

// The first offending field of a job whose texts could smuggle commands into the dialogue.
std::string UnsafeField(const MailJob& job, const Switches& switches) {
  if (HasControlBytes(job.sender)) return "the sender address";
  if (HasControlBytes(job.recipients)) return "a recipient address";
  if (HasControlBytes(switches.heloName)) return "the EHLO name";
  if (HasControlBytes(switches.mailFrom)) return "the MAIL FROM address";
  for (const std::string& name : job.sendAs)
    if (HasControlBytes(name)) return "an attachment name";
  return {};
}

void AppendAreas(IProgressAlert* alert, const std::vector<ProgressArea>& areas) {
  if (!alert) return;
  for (const ProgressArea& a : areas) alert->AppendArea(a.text, a.weight);
}

bool SendMail(MailJob& job) {
  const Switches switches = ProcessSwitches();
  IProgressAlert* alert = job.progress.get();
  Plan plan;
  plan.recipients = SplitAddresses(job.recipients);
  if (plan.recipients.empty()) {
    job.error = "no recipients";
    return false;
  }
  if (const std::string field = UnsafeField(job, switches); !field.empty()) {
    job.error = "refused: " + field + " contains control characters";
    return false;
  }
  for (const std::wstring& f : job.files) plan.sizes.push_back(AttachmentSize(f));
  plan.heloName = switches.heloName.empty() ? LocalHostName() : switches.heloName;
  if (plan.heloName.empty() || HasControlBytes(plan.heloName)) plan.heloName = "localhost";
  plan.fileTime = CurrentFileTime();

  if (!job.server.empty()) {
    const auto areas = SessionAreas(job, plan.sizes, false);
    AppendAreas(alert, areas);
    if (alert) alert->FinishArea();
    Session session(job, plan, switches);
    const bool ok = session.Run({job.server}, plan.recipients);
    if (alert) alert->SetActiveArea(static_cast<int32_t>(1 + areas.size()));
    if (!ok) job.error = session.error().empty() ? "SMTP session failed" : session.error();
    return ok;
  }

  // Direct delivery: one session per recipient with that recipient's mail exchangers.
  const auto areas = SessionAreas(job, plan.sizes, true);
  for (size_t i = 0; i < plan.recipients.size(); ++i) AppendAreas(alert, areas);
  if (alert) alert->FinishArea();
  bool any = false;
  std::string errors;
  for (size_t i = 0; i < plan.recipients.size(); ++i) {
    const std::string& recipient = plan.recipients[i];
    std::string why;
    const std::vector<std::string> hosts =
        job.mxLookup ? job.mxLookup(recipient, &why) : dns::MxHostsOf(recipient, &why);
    Progress(alert).Done();
    Session session(job, plan, switches);
    bool ok = false;
    if (hosts.empty()) {
      why = "no mail exchanger for " + recipient + (why.empty() ? "" : ": " + why);
    } else {
      ok = session.Run(hosts, {recipient});
      why = session.error();
    }
    any = any || ok;
    if (!ok) errors += (errors.empty() ? "" : "; ") + recipient + ": " + (why.empty() ? "SMTP session failed" : why);
    if (alert) alert->SetActiveArea(static_cast<int32_t>(1 + (i + 1) * areas.size()));
  }
  if (!any) job.error = errors;
  return any;
}

}  // namespace

Switches& ProcessSwitches() {
  static Switches switches;
  return switches;
}

std::vector<ProgressArea> SessionAreas(const MailJob& job, const std::vector<int64_t>& sizes, bool withMx) {
  const Texts t = TextsOf(job);
  std::vector<ProgressArea> areas;
  if (withMx) areas.push_back({t.mxLook, 500});
  areas.push_back({t.conn, 100});
  areas.push_back({"", 100});
  areas.push_back({"", 200});
  areas.push_back({t.auth, 200});
  areas.push_back({t.sendMail, 100});
  for (int i = 0; i < 4; ++i) areas.push_back({"", 100});
  for (int64_t size : sizes)
    if (size > 0) areas.push_back({t.sendAtt, (size + 56) / 57 * 3});
  areas.push_back({t.sendFinal, 500});
  areas.push_back({"", 100});
  return areas;
}

}  // namespace rvx::smtp

namespace rvx {

bool SendJob(MailJob& job) {
  job.error.clear();
  IProgressAlert* alert = job.progress.get();
  bool ok = false;
  try {
    net::NetLibrary library(1, 1);
    if (!library.ok()) {
      job.error = "the networking library cannot be started";
    } else {
      if (alert) {
        alert->RemoveAllAreas();
        alert->AppendArea("", 1000);  // the attachment preparation, finished before sending starts
      }
      ok = job.upload ? UploadReport(job) : smtp::SendMail(job);
    }
  } catch (const std::exception& e) {
    job.error = std::string("internal error while sending: ") + e.what();
    ok = false;
  } catch (...) {
    job.error = "internal error while sending";
    ok = false;
  }
  if (alert) alert->CloseAlert();
  return ok;
}

}  // namespace rvx
