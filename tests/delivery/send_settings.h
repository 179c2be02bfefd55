// Settings for the sending tests: every delivery method and the progress window off, the report file attached
// as a copy and deleted after a confirmed sending. Tests switch on what they need.
#pragma once

#include "core/settings_stream.h"

namespace rvxtest {

inline void SendingOff(SettingsStream& s) {
  s.Bool("Enabled", true).Bool("NoSettings", false);
  for (const char* b : {"MailAsSmtpServer", "MailAsSmtpClient", "UploadViaHttp", "MailViaMapi", "MailViaMailto",
                        "AutoSendBox"})
    s.Bool(b, false);
  s.Bool("AttachBugRep", true).Bool("AttachBugRepFile", true).Bool("DelBugRepFile", true);
  s.Text("BugRepFile", "bugreport.txt").Text("BugRepSendAs", "bugreport.txt");
  s.Text("SendFailMsg", "Sending failed.");
}

}  // namespace rvxtest
