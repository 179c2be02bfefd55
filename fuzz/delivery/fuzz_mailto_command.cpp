// The mail program's command line from an arbitrary registered command, recipients, subject and body (the
// input split at its first three zero bytes): never longer than the limit, and a cut never leaves a "%"
// escape of the address incomplete at the end.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "crash/delivery/mailto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string_view parts[4];
  for (int i = 0; i < 3; ++i) {
    size_t z = in.find('\0');
    parts[i] = in.substr(0, z);
    in = z == std::string_view::npos ? std::string_view() : in.substr(z + 1);
  }
  parts[3] = in;
  std::string full = rvx::MailClientCommandLine(parts[0], parts[1], parts[2], parts[3], false);
  // Short limits reach the cut with small inputs.
  for (size_t limit : {size_t{1}, size_t{2}, size_t{3}, size_t{17}, size_t{64}}) {
    std::string cut = rvx::CutCommandLine(full, limit);
    if (cut.size() > limit || full.compare(0, cut.size(), cut) != 0) std::abort();
    if (full.size() > limit && cut.size() + 2 < limit) std::abort();
  }
  std::string limited = rvx::MailClientCommandLine(parts[0], parts[1], parts[2], parts[3]);
  if (limited.size() > rvx::kMaxCommandLine) std::abort();
  for (char c : rvx::MailtoEscape(parts[3]))
    if (c == ' ' || c == '\r' || c == '\n' || c == '&' || c == '?') std::abort();
  return 0;
}
