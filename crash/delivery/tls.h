// TLS for the delivery methods: upgrades a connected stream after STARTTLS through the platform's TLS
// provider and checks the server's certificate itself (chain to a trusted root, host name).
// Providers: tls_win.cpp (SChannel, the product) and tls_openssl.cpp (the native build, for tests).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "crash/delivery/net.h"

namespace rvx::tls {

// The secured stream, or null with a one-line reason in `error` (handshake failed, certificate not trusted,
// certificate not issued for `host`, ...). `plain` is consumed either way. The handshake as a whole is
// bounded by the handshake limit below.
std::unique_ptr<net::IStream> StartTls(std::unique_ptr<net::IStream> plain, std::string_view host,
                                       std::string* error = nullptr);

// Process-wide settings, read at every StartTls.
// A PEM file of root certificates trusted besides the system's roots (native provider only; empty: none).
void SetExtraRootsFile(std::string path);
std::string ExtraRootsFile();
// The longest the whole handshake may take, in milliseconds (default 30 seconds).
void SetHandshakeLimit(int milliseconds);
int HandshakeLimit();

}  // namespace rvx::tls
