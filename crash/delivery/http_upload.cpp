#include "crash/delivery/http_upload.h"

namespace rvx {

bool UploadReport(MailJob& job) {
  job.error = "HTTP upload is not available";
  return false;
}

}  // namespace rvx
