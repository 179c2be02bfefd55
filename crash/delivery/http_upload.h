// HTTP upload of a bug report: one POST of a multipart/form-data body with the form fields and the prepared
// attachments, through the system's proxy when it names one. The answer decides success; a redirect answer
// also opens the page it points to.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "crash/delivery/mail_job.h"

namespace rvx {

// Uploads to `job.server` (host/path); true on a 200 answer or a 302 with a location. On failure
// `job.error` says why in one line.
bool UploadReport(MailJob& job);

// The proxy of the system's internet settings (or the override, or nothing when the no-proxy switch is on).
std::string SystemProxy();

// ---- process-wide switches ---------------------------------------------------------------------------

void SetUploadNoProxy(bool on);                    // off at start
void SetUploadProxyOverride(std::string proxy);    // empty at start: the system's proxy
void SetOpenRedirectTarget(bool on);               // on at start
std::string LastRedirectTarget();                  // written by every redirect answer
void SetUploadAnswerTimeLimit(int seconds);        // 7 at start; bounds the whole reading of the answer
int UploadAnswerTimeLimit();
// What opens a redirect target; null (the start value) is the system shell's default action.
using RedirectOpener = std::function<void(const std::string& url)>;
void SetRedirectOpener(RedirectOpener opener);

// ---- the pieces of the request -----------------------------------------------------------------------

namespace http {

// An address or proxy text without its protocol prefix: everything up to and including the first "://"
// removed; of a list with "http=", the text after it up to the first blank.
std::string WithoutProtocol(std::string_view text);

struct UploadAddress {
  std::string host;
  std::string path;  // starts with "/"
};
// Host and path of an upload address ("host/path" with or without a protocol prefix). Without any "/" the
// whole address is the host and the path is "/".
UploadAddress SplitUploadAddress(std::string_view address);

struct Endpoint {
  std::string host;
  uint16_t port = 0;
  bool viaProxy = false;
};
// Where to connect: the proxy (with its own port when it names one) or the host on the configured port.
// A proxy list that names proxies for other protocols only is no proxy for this upload.
Endpoint ConnectionTarget(std::string_view proxy, std::string_view host, uint16_t configuredPort);

struct RequestHead {
  UploadAddress address;
  uint16_t port = 80;        // the configured port, named in the "Host:" line
  bool viaProxy = false;     // a proxy gets the absolute address in the request line
  std::string sender, account, password;
  uint64_t contentLength = 0;
};
// The header lines up to and without the empty line that ends them.
std::string RequestHeader(const RequestHead& head);

// One form field's part (starting with the CR LF that ends what came before it).
std::string FieldPart(std::string_view name, std::string_view content);
// The part header in front of a file's bytes.
std::string FilePartHeader(std::string_view fieldName, std::string_view sendAs);
// The closing delimiter.
std::string ClosingDelimiter();

// ---- the answer --------------------------------------------------------------------------------------

struct Answer {
  bool ok = false;
  std::string location;  // of a 302 answer
  std::string error;     // one line, when not ok
};

inline constexpr size_t kAnswerPiece = 5120;       // bytes taken per receive
inline constexpr size_t kMaxAnswerBytes = 64 * 1024;

// Judges what has arrived so far. False while more data is needed to decide (never when `ended`).
bool JudgeAnswer(std::string& received, bool ended, Answer& answer);

// Reads and judges the server's answer within `milliseconds` in all.
Answer ReadAnswer(net::IStream& stream, int milliseconds);

// True for a redirect target that may be handed to the shell: an http or https address of printable
// characters.
bool OpenableRedirect(std::string_view url);

}  // namespace http

// ---- platform parts (http_upload_win.cpp, http_upload_posix.cpp) --------------------------------------

namespace http_platform {
std::string InternetProxy();              // the internet library's proxy list, or empty
void OpenInShell(const std::string& url);  // the shell's default action, normal window
std::filesystem::path FilePath(const std::wstring& file);
}  // namespace http_platform

}  // namespace rvx
