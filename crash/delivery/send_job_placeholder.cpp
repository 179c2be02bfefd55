// Stands in for the SMTP client and the HTTP upload while they are written, so that the sending links.
// Goes away when they arrive.
#include "crash/delivery/mail_job.h"

namespace rvx {

bool SendJob(MailJob& job) {
  job.error = "sending by SMTP or HTTP upload is not built in";
  return false;
}

}  // namespace rvx
