#include "crash/delivery/tls.h"

#include <mutex>

namespace rvx::tls {
namespace {

struct Settings {
  std::mutex lock;
  std::string extra_roots;
  int handshake_limit = 30000;
};

Settings& TheSettings() {
  static Settings s;
  return s;
}

}  // namespace

void SetExtraRootsFile(std::string path) {
  std::lock_guard<std::mutex> g(TheSettings().lock);
  TheSettings().extra_roots = std::move(path);
}

std::string ExtraRootsFile() {
  std::lock_guard<std::mutex> g(TheSettings().lock);
  return TheSettings().extra_roots;
}

void SetHandshakeLimit(int milliseconds) {
  std::lock_guard<std::mutex> g(TheSettings().lock);
  TheSettings().handshake_limit = milliseconds < 1 ? 1 : milliseconds;
}

int HandshakeLimit() {
  std::lock_guard<std::mutex> g(TheSettings().lock);
  return TheSettings().handshake_limit;
}

}  // namespace rvx::tls
