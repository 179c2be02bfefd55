#include "crash/delivery/tls.h"

namespace rvx::tls {

std::unique_ptr<net::IStream> StartTls(std::unique_ptr<net::IStream>, std::string_view, std::string* error) {
  if (error) *error = "no TLS provider";
  return nullptr;
}

}  // namespace rvx::tls
