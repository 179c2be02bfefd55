#include "crash/delivery/http_upload.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <mutex>

#include "crash/core/settings.h"
#include "crash/delivery/cipher.h"
#include "crash/delivery/fields.h"
#include "crash/delivery/multipart.h"
#include "crash/stack/text.h"
#include "crash/ui/progress_alert.h"

namespace rvx {
namespace {

constexpr size_t kFilePiece = 1024;

struct UploadSwitches {
  std::mutex lock;
  bool noProxy = false;
  std::string proxyOverride;
  bool openRedirect = true;
  std::string lastRedirect;
  int answerSeconds = 7;
  RedirectOpener opener;
};
UploadSwitches& Switches() {
  static UploadSwitches s;
  return s;
}

// A header value on one line: CR and LF would start a header of their own.
std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != '\r' && c != '\n') out += c;
  }
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// One attachment that goes into the body: opened while the body length is counted, so that what is counted
// is what is sent even when the file changes or goes away in between.
struct FilePart {
  std::string header;
  std::ifstream stream;
  uint64_t size = 0;
};

std::string NarrowName(const std::wstring& file) { return WideToAnsi(FileNameOf(file)); }

// Progress reporting that tolerates a job without a window.
struct Progress {
  IProgressAlert* alert;
  void Finish() const {
    if (alert) alert->FinishArea();
  }
  void Position(uint64_t done, uint64_t total) const {
    if (alert && total) alert->SetBarPosition(static_cast<int32_t>(done * 1000 / total));
  }
};

bool Upload(MailJob& job) {
  auto fail = [&](std::string why) {
    job.error = std::move(why);
    return false;
  };
  net::NetLibrary library(1, 1);
  if (!library.ok()) return fail("the networking library cannot be started");

  // The form fields first, so that the body length is known.
  std::string fieldParts;
  if (job.fields) {
    struct Locked {
      IRVFields& list;
      explicit Locked(IRVFields& l) : list(l) { list.Lock(); }
      ~Locked() { list.Unlock(); }
    } locked(*job.fields);
    const int count = locked.list.Count();
    for (int i = 0; i < count; ++i) {
      const std::string name = locked.list.ItemName(i);
      fieldParts += http::FieldPart(name, locked.list.Content(name));
    }
  }

  std::vector<FilePart> files;
  for (size_t i = 0; i < job.files.size(); ++i) {
    const std::filesystem::path path = http_platform::FilePath(job.files[i]);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) continue;  // went away since the preparation
    FilePart part;
    if (std::filesystem::is_regular_file(path, ec)) part.stream.open(path, std::ios::binary);
    if (part.stream) part.stream.seekg(0, std::ios::end);
    const std::streamoff size = part.stream ? static_cast<std::streamoff>(part.stream.tellg()) : -1;
    if (size < 0) return fail("the attachment " + WideToAnsi(job.files[i]) + " cannot be opened");
    if (size == 0) continue;
    part.stream.seekg(0);
    part.size = static_cast<uint64_t>(size);
    const std::string sendAs = i < job.sendAs.size() && !job.sendAs[i].empty() ? job.sendAs[i] : NarrowName(job.files[i]);
    const std::string field = i < job.fieldNames.size() && !job.fieldNames[i].empty() ? job.fieldNames[i] : sendAs;
    part.header = http::FilePartHeader(field, sendAs);
    files.push_back(std::move(part));
  }
  const std::string closing = http::ClosingDelimiter();
  // Every part and the closing delimiter start with CR LF; the first of them is the empty line that ends
  // the header block, so the body counts from the byte after it.
  uint64_t bodyLength = fieldParts.size() + closing.size() - 2;
  for (const FilePart& f : files) bodyLength += f.header.size() + f.size;

  const Progress progress{job.progress.get()};
  if (progress.alert) {
    IRVSettings* s = job.settings.get();
    progress.alert->AppendArea(s ? s->ConnMsg() : "", 100);
    progress.alert->AppendArea("", 100);
    progress.alert->AppendArea(s ? s->FieldMsg() : "", static_cast<int64_t>(fieldParts.size()) + 100);
    for (const FilePart& f : files)
      progress.alert->AppendArea(s ? s->SendAttMsg() : "", static_cast<int64_t>((f.header.size() + f.size) / 16));
    progress.alert->AppendArea("", 100);
    progress.alert->AppendArea(s ? s->SendFinalMsg() : "", 500);
    progress.Finish();  // the preparation
  }

  http::RequestHead head;
  head.address = http::SplitUploadAddress(job.server);
  head.port = job.port;
  head.sender = job.sender;
  head.account = job.account;
  head.password = job.password;
  head.contentLength = bodyLength;
  const http::Endpoint target = http::ConnectionTarget(SystemProxy(), head.address.host, job.port);
  head.viaProxy = target.viaProxy;

  std::string connectError;
  std::unique_ptr<net::IStream> stream = job.connect ? job.connect(target.host, target.port, &connectError)
                                                     : net::ConnectTcp(target.host, target.port, &connectError);
  if (!stream) {
    return fail(connectError.empty() ? "cannot connect to " + target.host + ":" + std::to_string(target.port)
                                     : connectError);
  }
  progress.Finish();
  progress.Finish();

  bool sent = stream->Send(http::RequestHeader(head) + fieldParts);
  if (!sent) job.error = "sending the request to " + target.host + " failed";
  if (sent) progress.Finish();
  std::vector<char> piece(kFilePiece);
  for (FilePart& f : files) {
    if (!sent) break;
    sent = stream->Send(f.header);
    uint64_t done = 0;
    while (sent && done < f.size) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kFilePiece, f.size - done));
      f.stream.read(piece.data(), static_cast<std::streamsize>(want));
      if (static_cast<size_t>(f.stream.gcount()) != want) {
        job.error = "an attachment could not be read completely";
        sent = false;
        break;
      }
      sent = stream->Send(std::string_view(piece.data(), want));
      done += want;
      progress.Position(done, f.size);
    }
    if (!sent && job.error.empty()) job.error = "sending an attachment to " + target.host + " failed";
    if (sent) progress.Finish();
  }
  stream->Send(closing);
  progress.Finish();
  if (!sent) return false;

  const http::Answer answer = http::ReadAnswer(*stream, UploadAnswerTimeLimit() * 1000);
  progress.Finish();
  if (!answer.location.empty()) {
    RedirectOpener opener;
    bool open = false;
    {
      UploadSwitches& s = Switches();
      std::lock_guard guard(s.lock);
      s.lastRedirect = answer.location;
      open = s.openRedirect;
      opener = s.opener;
    }
    // The target comes from the server: only a web address goes to the shell, never a program or a file.
    if (open && http::OpenableRedirect(answer.location)) {
      if (opener) opener(answer.location);
      else http_platform::OpenInShell(answer.location);
    }
  }
  if (!answer.ok) return fail(answer.error);
  job.error.clear();
  return true;
}

}  // namespace

bool UploadReport(MailJob& job) {
  try {
    return Upload(job);
  } catch (...) {
    job.error = "the upload failed (out of memory)";
    return false;
  }
}

std::string SystemProxy() {
  {
    UploadSwitches& s = Switches();
    std::lock_guard guard(s.lock);
    if (s.noProxy) return {};
    if (!s.proxyOverride.empty()) return s.proxyOverride;
  }
  return http_platform::InternetProxy();
}

void SetUploadNoProxy(bool on) {
  std::lock_guard guard(Switches().lock);
  Switches().noProxy = on;
}
void SetUploadProxyOverride(std::string proxy) {
  std::lock_guard guard(Switches().lock);
  Switches().proxyOverride = std::move(proxy);
}
void SetOpenRedirectTarget(bool on) {
  std::lock_guard guard(Switches().lock);
  Switches().openRedirect = on;
}
std::string LastRedirectTarget() {
  std::lock_guard guard(Switches().lock);
  return Switches().lastRedirect;
}
void SetUploadAnswerTimeLimit(int seconds) {
  std::lock_guard guard(Switches().lock);
  Switches().answerSeconds = seconds > 0 ? seconds : 1;
}
int UploadAnswerTimeLimit() {
  std::lock_guard guard(Switches().lock);
  return Switches().answerSeconds;
}
void SetRedirectOpener(RedirectOpener opener) {
  std::lock_guard guard(Switches().lock);
  Switches().opener = std::move(opener);
}

namespace http {

std::string WithoutProtocol(std::string_view text) {
  const size_t scheme = text.find("://");
  if (scheme != std::string_view::npos) text.remove_prefix(scheme + 3);
  const size_t http = text.find("http=");
  if (http != std::string_view::npos) {
    text.remove_prefix(http + 5);
    text = text.substr(0, text.find(' '));
  }
  return std::string(text);
}

UploadAddress SplitUploadAddress(std::string_view address) {
  const std::string rest = WithoutProtocol(Trim(address));
  const size_t slash = rest.find('/');
  if (slash == std::string::npos) return {rest, "/"};
  return {rest.substr(0, slash), rest.substr(slash)};
}

Endpoint ConnectionTarget(std::string_view proxy, std::string_view host, uint16_t configuredPort) {
  proxy = Trim(proxy);
  const bool otherProtocolsOnly = proxy.find('=') != std::string_view::npos &&
                                  proxy.find("http=") == std::string_view::npos;
  Endpoint e{std::string(host), configuredPort, false};
  if (!proxy.empty() && !otherProtocolsOnly) {
    e.host = std::string(Trim(WithoutProtocol(proxy)));
    e.viaProxy = !e.host.empty();
    if (!e.viaProxy) e.host = std::string(host);
  }
  const size_t colon = e.host.find(':');
  if (colon != std::string::npos) {
    uint32_t port = 0;
    size_t digits = 0;
    while (colon + 1 + digits < e.host.size() && std::isdigit(static_cast<unsigned char>(e.host[colon + 1 + digits])) &&
           port <= 65535) {
      port = port * 10 + static_cast<uint32_t>(e.host[colon + 1 + digits] - '0');
      ++digits;
    }
    if (digits > 0 && port > 0 && port <= 65535) {
      e.port = static_cast<uint16_t>(port);
      e.host.resize(colon);
    }
  }
  return e;
}

std::string RequestHeader(const RequestHead& head) {
  const std::string host = OneLine(head.address.host);
  const std::string hostAndPort = host + ":" + std::to_string(head.port);
  const std::string target =
      head.viaProxy ? "http://" + hostAndPort + OneLine(head.address.path) : OneLine(head.address.path);
  std::string h = "POST " + target + " HTTP/1.1\r\n";
  h += "Host: " + hostAndPort + "\r\n";
  h += "Connection: close\r\n";
  h += "Pragma: no-cache\r\n";
  h += "User-Agent: Ravex/3.0\r\n";
  h += "Content-Type: multipart/form-data; boundary=" + std::string(kMultipartBoundary) + "\r\n";
  h += "Content-Length: " + std::to_string(head.contentLength) + "\r\n";
  if (!head.sender.empty()) {
    const std::string sender = OneLine(head.sender);
    const size_t lt = sender.find('<');
    h += "From: " + (lt != std::string::npos ? sender.substr(lt) : "<" + sender + ">") + "\r\n";
  }
  if (!head.account.empty() || !head.password.empty())
    h += "Authorization: Basic " + Base64Encode(head.account + ":" + head.password) + "\r\n";
  return h;
}

std::string FieldPart(std::string_view name, std::string_view content) {
  std::string p = "\r\n--" + std::string(kMultipartBoundary) + "\r\nContent-Disposition: form-data; name=\"";
  p += name;
  p += "\"\r\n\r\n";
  p += content;
  return p;
}

std::string FilePartHeader(std::string_view fieldName, std::string_view sendAs) {
  std::string p = "\r\n--" + std::string(kMultipartBoundary) + "\r\nContent-Disposition: form-data; name=\"";
  p += fieldName;
  p += "\"; filename=\"";
  p += sendAs;
  p += "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
  return p;
}

std::string ClosingDelimiter() { return "\r\n--" + std::string(kMultipartBoundary) + "--\r\n"; }

}  // namespace http
}  // namespace rvx
