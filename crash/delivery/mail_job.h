// One sending of a bug report by SMTP or HTTP upload: what the sending sequence hands to the delivery
// methods, and their common entry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "crash/core/refobject.h"
#include "crash/delivery/net.h"

namespace rvx {

class IRVFields;
class IRVSettings;
class IProgressAlert;

// How a plain connection is upgraded to TLS after STARTTLS: the secured stream (checked certificate for
// `host`), or null with the reason in `error`. The default is the platform's TLS provider (tls.h).
using TlsUpgrade = std::function<std::unique_ptr<net::IStream>(std::unique_ptr<net::IStream> plain,
                                                               std::string_view host, std::string* error)>;
// How a connection is opened; defaults to net::ConnectTcp.
using TcpConnect = std::function<std::unique_ptr<net::IStream>(std::string_view host, uint16_t port,
                                                               std::string* error)>;
// The mail exchangers of an address's domain, best first; defaults to dns::MxHostsOf.
using MxLookup = std::function<std::vector<std::string>(std::string_view address, std::string* error)>;

struct MailJob {
  std::string sender;      // may hold a display name and an address in angle brackets; empty: the recipients
  std::string recipients;  // separated by "," or ";"
  std::string subject, body;  // bytes in the ANSI code page
  std::string server;      // SMTP server or upload address; an empty server with recipients: direct delivery
  uint16_t port = 25;
  std::string account, password;
  bool upload = false;     // true: HTTP upload to `server` (the upload address) instead of mail
  Ref<IRVFields> fields;   // the upload's form fields; may be none
  std::vector<std::wstring> files;       // prepared attachments: files,
  std::vector<std::string> sendAs;       // their send-as names
  std::vector<std::string> fieldNames;   // and the upload's field names
  Ref<IRVSettings> settings;             // the progress texts; may be none (no texts)
  Ref<IProgressAlert> progress;          // may be none

  // Asked during long waits (every quarter of a second); true gives the sending up. May be empty.
  std::function<bool()> cancelled;

  // Seams, empty for the platform's own.
  TcpConnect connect;
  TlsUpgrade startTls;
  MxLookup mxLookup;

  // Filled by the delivery method: a one-line reason when the sending failed.
  std::string error;
};

// Sends the job: the HTTP upload when `upload` is set, else one SMTP session through the server, or direct
// delivery to each recipient's mail exchanger. True when the report was delivered.
bool SendJob(MailJob& job);

}  // namespace rvx
