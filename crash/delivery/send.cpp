#include "crash/delivery/send.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "crash/core/bugreport.h"
#include "crash/core/exception_record.h"
#include "crash/delivery/fields.h"
#include "crash/delivery/mail_job.h"
#include "crash/delivery/mailto.h"
#include "crash/delivery/smtp.h"
#include "crash/ui/progress_alert.h"

namespace rvx {

namespace {

std::atomic<ProgressAlertFactory> g_progressFactory{nullptr};

std::string Trimmed(std::string_view text) {
  size_t b = text.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = text.find_last_not_of(" \t");
  return std::string(text.substr(b, e - b + 1));
}

// What the background thread owns until it ends: its own references to the report, the screenshot and the
// settings.
struct TSendBugReportExRec {
  std::string report;
  Ref<IRefCounted> screenshot;
  bool silent = false;
  Ref<IRVSettings> settings;
};

// Writes the report into `file` with the report file rules of the settings (plain settings, no record).
bool SaveWithRules(IRVSettings& s, const std::string& report, const std::wstring& file) {
  ReportFileRules rules;
  rules.append = s.AppendBugReps();
  rules.sizeLimit = s.BugRepFileSize();
  rules.noDupExcepts = s.NoDupExcepts();
  rules.noDupFreezes = s.NoDupFreezes();
  rules.dupExceptDef = s.DupExceptDef();
  rules.dupFreezeDef = s.DupFreezeDef();
  return record_platform::UpdateFile(file, [&](ReportFile& f) { return SaveReportToFile(f, report, rules); });
}

AttachmentSources SourcesFor(const SendRequest& request, const SendPlatform& platform) {
  IRVSettings& s = *request.settings;
  AttachmentSources src;
  src.programFile = platform.programFile;
  const ModuleHandle module = s.Module();
  src.expand = [module](const std::wstring& text) { return ExpandPlaceholders(text, module); };
  auto record = Query<IRVExceptionEx>(request.settings.get());
  if (platform.saveReport) {
    src.saveReport = [&request, &platform](const std::wstring& file) { return platform.saveReport(request, file); };
  } else if (auto access = Query<ISettingsAccess>(request.settings.get());
             access && dynamic_cast<TIRVException*>(access->Object())) {
    auto* rec = dynamic_cast<TIRVException*>(access->Object());
    src.saveReport = [rec](const std::wstring& file) { return rec->SaveReport(file, true); };
  } else {
    src.saveReport = [&request](const std::wstring& file) {
      return SaveWithRules(*request.settings, request.report, file);
    };
  }
  if (record) {
    src.reportSaved = [record] { return record->Saved(); };
    src.setReportSaved = [record](bool v) { record->SetSaved(v); };
  }
  if (request.screenshot && platform.saveScreenshot) {
    Ref<IRefCounted> picture = request.screenshot;
    src.saveScreenshot = [picture, &platform](const std::wstring& file, int format) {
      return platform.saveScreenshot(*picture, file, format);
    };
  }
  return src;
}

// Starts the background thread; true when it runs.
bool StartInBackground(const SendRequest& request, const SendPlatform& platform) {
  if (!platform.startThread) return false;
  if (request.parent && platform.makeNotTopmost) platform.makeNotTopmost(request.parent);
  auto rec = std::make_shared<TSendBugReportExRec>();
  rec->report = request.report;
  rec->screenshot = request.screenshot;
  rec->silent = request.silent;
  rec->settings = request.settings;
  // The thread keeps its own copy of the platform: the caller's may be gone before it ends.
  auto body = [rec, platform]() mutable {
    SendRequest inner;
    inner.report = std::move(rec->report);
    inner.screenshot = std::move(rec->screenshot);
    inner.silent = rec->silent;
    inner.inBackground = true;
    inner.settings = std::move(rec->settings);
    inner.inSendingThread = true;
    rec.reset();
    DeliverBugReport(inner, platform);
  };
  void* handle = platform.startThread(std::move(body));
  if (!handle) return false;
  if (request.threadHandle)
    *request.threadHandle = handle;
  else if (platform.closeHandle)
    platform.closeHandle(handle);
  return true;
}

enum class Outcome { Failed, Sent, Cancelled };

bool Fail(MailJob& job, const char* reason) {
  job.error = reason;
  return false;
}

// The configured delivery method (upload, direct delivery, SMTP server): the first switched on.
bool RunDeliveryMethod(IRVSettings& s, MailJob& job, bool silent, const SendPlatform& platform) {
  auto online = [&] { return platform.isOnline && platform.isOnline(!silent); };
  if (s.UploadViaHttp()) {
    job.upload = true;
    job.server = s.HttpServer();
    job.port = static_cast<uint16_t>(s.HttpPort());
    job.account = s.HttpAccount();
    job.password = s.HttpPassword();
    if (job.server.empty()) return Fail(job, "no upload address is set");
  } else if (s.MailAsSmtpServer()) {
    job.server.clear();
    job.port = smtp::ProcessSwitches().directPort;
    if (job.recipients.empty()) return Fail(job, "no recipient is set");
  } else if (s.MailAsSmtpClient()) {
    job.server = s.SmtpServer();
    job.port = static_cast<uint16_t>(s.SmtpPort());
    job.account = s.SmtpAccount();
    job.password = s.SmtpPassword();
    if (job.recipients.empty()) return Fail(job, "no recipient is set");
    if (job.server.empty()) return Fail(job, "no SMTP server is set");
  } else {
    return false;
  }
  if (!online()) return Fail(job, "the computer is not online");
  if (!platform.sendJob) return Fail(job, "sending is not available");
  bool ok = platform.sendJob(job);
  if (!ok && job.error.empty()) job.error = job.upload ? "the upload failed" : "the mail could not be sent";
  return ok;
}

bool Deliver(const SendRequest& request, const SendPlatform& platform) {
  IRVSettings& s = *request.settings;

  // Texts.
  const std::string recipients = s.MailAddr();
  const std::string sender = ComposeSender(s.MailFrom(), recipients);
  const std::string cls = ReportHeaderLine(request.report, "exception class");
  const std::string msg = ReportHeaderLine(request.report, "exception message");
  const PlaceholderOperands ops{&cls, &request.report, &msg};
  const std::string subject = ExpandPlaceholders(s.MailSubj(), s.Module(), ops);
  const std::string body = ExpandPlaceholders(s.MailBody(), s.Module(), ops);

  const bool upload = s.UploadViaHttp(), direct = s.MailAsSmtpServer(), client = s.MailAsSmtpClient();
  const bool mapi = s.MailViaMapi();

  // Attachments under the progress window.
  AssembledAttachments assembled;
  PreparedAttachments prepared;
  Ref<IProgressAlert> progress;
  if (upload || direct || client || mapi) {
    assembled = AssembleAttachments(s, SourcesFor(request, platform));
    if (platform.createProgress) progress = platform.createProgress(s.SendBoxTitle(), s.Module(), "RVISEND32");
    if (progress) {
      const bool haveAttachments = assembled.list && assembled.list->Count() > 0;
      for (const ProgressArea& a : SendProgressAreas(s, haveAttachments)) progress->AppendArea(a.text, a.weight);
      if (!request.silent || s.AutoSendBox())
        progress->OpenAlert(request.inSendingThread ? nullptr : request.parent, !request.inSendingThread);
    }
    if (assembled.list)
      prepared = PrepareAttachments(*assembled.list, FolderOf(platform.programFile), assembled.tempFolder);
  }

  // Upload fields: a private copy of the additional fields with the mail texts.
  Ref<IRVFields> fields;
  if (Ref<IRVFields> add = s.AddFields()) fields = add->Clone();
  if (fields) {
    if (!sender.empty()) fields->SetContent("MailFrom", sender);
    if (!subject.empty()) fields->SetContent("MailSubject", subject);
    if (!body.empty()) fields->SetContent("MailBody", body);
    if (!recipients.empty()) fields->SetContent("MailAddr", recipients);
  }

  MailJob job;
  job.sender = sender;
  job.recipients = recipients;
  job.subject = subject;
  job.body = body;
  job.fields = fields;
  job.files = prepared.files;
  job.sendAs = prepared.sendAs;
  job.fieldNames = prepared.fieldNames;
  job.settings = request.settings;
  job.progress = progress;
  Outcome outcome = RunDeliveryMethod(s, job, request.silent, platform) ? Outcome::Sent : Outcome::Failed;

  if (progress) progress->CloseAlert();
  progress.reset();
  job.progress.reset();

  if (!assembled.tempFolder.empty() && !(outcome == Outcome::Failed && mapi))
    delivery_files::Delete(assembled.tempFolder + kPathSeparator + L"screenShot.png");

  // Fallbacks. The mail program only confirms that it started, not that anything was sent.
  bool handedOver = false;
  if (outcome == Outcome::Failed && mapi && platform.sendViaMapi) {
    int r = platform.sendViaMapi(recipients, subject, body, request.silent, request.parent, prepared.sendAs,
                                 prepared.files);
    if (r == kSendMapiSent) outcome = Outcome::Sent;
    if (r == kSendMapiCancelled) outcome = Outcome::Cancelled;
  }
  if (outcome == Outcome::Failed && s.MailViaMailto() && !request.silent && platform.sendViaMailClient) {
    if (request.parent && platform.makeNotTopmost) platform.makeNotTopmost(request.parent);
    handedOver = platform.sendViaMailClient(recipients, subject, request.report);
  }
  if (outcome == Outcome::Failed && !handedOver && !request.silent && platform.showFailure) {
    std::string text = s.SendFailMsg();
    if (!job.error.empty()) text += "\n" + job.error;
    platform.showFailure(request.parent, text);
  }

  if (outcome != Outcome::Sent) return handedOver;
  if (auto record = Query<IRVExceptionEx>(request.settings.get())) record->SetSent(true);
  if (assembled.deleteReportFile && s.DelBugRepFile() && !assembled.reportFile.empty() && platform.removeFile)
    platform.removeFile(assembled.reportFile);
  return true;
}

}  // namespace

std::string ComposeSender(std::string_view mailFrom, std::string_view recipients) {
  if (!mailFrom.empty()) return std::string(mailFrom);
  std::vector<std::string> all = SplitRecipients(recipients);
  if (all.empty()) return {};
  const std::string& first = all.front();
  size_t lt = first.find('<');
  return "Ravex " + (lt == std::string::npos ? "<" + first + ">" : first.substr(lt));
}

std::string ReportHeaderLine(std::string_view report, std::string_view name) {
  size_t at = 0;
  while (at < report.size()) {
    size_t end = report.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = report.size();
    std::string_view line = report.substr(at, end - at);
    if (line.substr(0, name.size()) == name) {
      std::string_view rest = line.substr(name.size());
      size_t colon = rest.find(':');
      // Only the name itself, padded with blanks, may stand before the colon.
      if (colon != std::string_view::npos && rest.substr(0, colon).find_first_not_of(' ') == std::string_view::npos)
        return Trimmed(rest.substr(colon + 1));
    }
    at = end + 1;
  }
  return {};
}

std::vector<ProgressArea> SendProgressAreas(IRVSettings& s, bool haveAttachments) {
  std::vector<ProgressArea> areas{{s.PrepAttMsg(), 100}};
  const bool upload = s.UploadViaHttp(), direct = s.MailAsSmtpServer(), client = s.MailAsSmtpClient();
  if (!(upload || direct || client)) return areas;
  if (direct) areas.push_back({s.MxLookMsg(), 100});
  if (direct || client) {
    areas.push_back({s.ConnMsg(), 100});
    areas.push_back({s.AuthMsg(), 200});
    areas.push_back({s.SendMailMsg(), 100});
  }
  if (upload) areas.push_back({s.FieldMsg(), 100});
  if (haveAttachments) areas.push_back({s.SendAttMsg(), 100});
  areas.push_back({s.SendFinalMsg(), 100});
  return areas;
}

bool DeliverBugReport(const SendRequest& request, const SendPlatform& platform) {
  if (request.threadHandle) *request.threadHandle = nullptr;
  if (!request.settings) return false;
  if (request.inBackground && !request.inSendingThread &&
      !(platform.processBlocked && platform.processBlocked(250)) && StartInBackground(request, platform))
    return true;
  try {
    return Deliver(request, platform);
  } catch (...) {
    return false;  // nothing of the sending may raise into the program
  }
}

bool DeliverBugReport(const std::string& report, Ref<IRefCounted> screenshot, void* parent, bool silent,
                      bool inBackground, Ref<IRVSettings> settings, bool inSendingThread, void** threadHandle) {
  SendRequest r;
  r.report = report;
  r.screenshot = std::move(screenshot);
  r.parent = parent;
  r.silent = silent;
  r.inBackground = inBackground;
  r.settings = std::move(settings);
  r.inSendingThread = inSendingThread;
  r.threadHandle = threadHandle;
  return DeliverBugReport(r, SystemSendPlatform());
}

void SetProgressAlertFactory(ProgressAlertFactory factory) { g_progressFactory = factory; }
ProgressAlertFactory GetProgressAlertFactory() { return g_progressFactory; }

bool DeliverRecordReport(IRVException* record, void* parent, void** sendThread, bool background, bool silent) {
  if (!record) return false;
  const SendPlatform& platform = SystemSendPlatform();
  if (sendThread && *sendThread) {
    if (platform.closeHandle) platform.closeHandle(*sendThread);
    *sendThread = nullptr;
  }
  // The screenshot goes along only while the record says so: the user may have unticked "attach" in the
  // assistant after it was taken.
  Ref<IRefCounted> screenshot = record->AppendScreenShot() ? record->ScreenShot() : nullptr;
  return DeliverBugReport(record->CompleteBugReport(), screenshot, parent, silent, background,
                          Ref<IRVSettings>(record), false, sendThread);
}

bool SaveScreenshotPicture(IRefCounted& picture, const std::wstring& file, int format) {
  auto* png = dynamic_cast<IScreenshotPicture*>(&picture);
  return png && png->SaveAsPng(file, format);
}

}  // namespace rvx
