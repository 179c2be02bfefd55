// Mail sending of bug reports over SMTP: one session through a configured server, or direct delivery to each
// recipient's mail exchangers; the message with its attachments as MIME parts; progress in weighted areas.
// The entry point is SendJob (mail_job.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crash/delivery/mail_job.h"

namespace rvx::smtp {

// Process-wide switches of mail sending. Set them before a sending starts; sessions only read them.
// (Skipping the online check is a switch of the sending sequence: SetSkipOnlineCheck in online.h.)
struct Switches {
  std::string heloName;      // name given in EHLO/HELO instead of the computer's name
  std::string mailFrom;      // address given in MAIL FROM instead of the sender's (as given, with brackets)
  bool utf8Subject = false;  // subject as UTF-8 base64 instead of ISO-8859-1 quoted-printable
  int replyWaitMs = 7000;    // limit of every wait for a piece of a server reply
  // Limit of the wait for the reply to the message's final dot: servers may check a message at length before
  // they answer, and a message given up on while they do arrives all the same (and is then sent twice).
  int finalReplyWaitMs = 5 * 60 * 1000;
  uint16_t directPort = 25;  // mail exchangers' port in direct delivery (tests point it at a loopback server)
};
Switches& ProcessSwitches();

// The computer's name as EHLO gives it; empty when unknown.
std::string LocalHostName();

// Progress areas of one session, in order: text (empty repeats the one before) and weight.
struct ProgressArea {
  std::string text;
  int64_t weight = 0;
  friend bool operator==(const ProgressArea&, const ProgressArea&) = default;
};
// The areas of one session for the job; `withMx` adds the mail-exchanger lookup first. `sizes` are the
// attachment files' sizes (-1 for a missing file): a file above 0 bytes gets an area.
std::vector<ProgressArea> SessionAreas(const MailJob& job, const std::vector<int64_t>& sizes, bool withMx);

}  // namespace rvx::smtp
