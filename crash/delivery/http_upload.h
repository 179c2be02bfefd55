// HTTP upload of a bug report: one POST of a multipart/form-data body with the form fields and the prepared
// attachments, through the system's proxy when it names one.
#pragma once

#include "crash/delivery/mail_job.h"

namespace rvx {

// Uploads to `job.server` (host/path); true on a 200 answer or a 302 with a location.
bool UploadReport(MailJob& job);

}  // namespace rvx
