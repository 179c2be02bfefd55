// TLS for the delivery methods: upgrades a connected stream after STARTTLS through the platform's TLS
// provider and checks the server's certificate itself (chain to a trusted root, host name).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "crash/delivery/net.h"

namespace rvx::tls {

// The secured stream, or null with a one-line reason in `error` (handshake failed, certificate not trusted,
// certificate not issued for `host`, ...). `plain` is consumed either way.
std::unique_ptr<net::IStream> StartTls(std::unique_ptr<net::IStream> plain, std::string_view host,
                                       std::string* error = nullptr);

}  // namespace rvx::tls
