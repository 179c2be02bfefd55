// rvx pe: writes the image checksum into a program file's header.
#include "crash/core/hooks.h"
#include "tools/rvx/command.h"

#include <cstring>
#include <iostream>

namespace rvxtool {
namespace {

int RunPe(const Args& a) {
  if (a.size() != 2 || (a[0] != "checksum" && a[0] != "verify")) return UsageError("pe: expected 'checksum FILE' or 'verify FILE'");
  std::string data, error;
  if (!ReadFileBytes(a[1], data, error)) return Fail(error);
  size_t offset;
  auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  if (!rvx::PeChecksumOffset(bytes, data.size(), offset)) return Fail(a[1] + ": not a PE file");
  uint32_t sum = rvx::ImageChecksum(bytes, data.size(), offset);
  if (a[0] == "verify") {
    uint32_t stored;
    std::memcpy(&stored, data.data() + offset, 4);
    std::cout << (stored == sum ? "ok" : "mismatch") << "\n";
    return stored == sum ? 0 : 1;
  }
  std::memcpy(data.data() + offset, &sum, 4);
  if (!WriteFileBytes(a[1], data, error)) return Fail(error);
  return 0;
}

RvxCommand cmd{"pe",
               "  rvx pe checksum FILE        write the image checksum into a PE file's header\n"
               "  rvx pe verify FILE          check the stored image checksum",
               RunPe};

}  // namespace
}  // namespace rvxtool
