// The settings resource reader and its lookup in program images, on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "crash/core/settings.h"

namespace {
void Quiet(const std::string&) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rvx::SetSettingsMessageHook(Quiet);
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  rvx::PropertyList list;
  std::string error, resource;
  rvx::ParseSettingsResource(bytes, list, &error);
  rvx::DecodeStoredPasswords(list);
  if (rvx::ExtractSettingsResource(bytes, resource, error)) {
    if (resource.size() > size) __builtin_trap();
    rvx::ParseSettingsResource(resource, list, &error);
  }
  // the same bytes behind a valid header
  std::string framed = std::string("TPF0\x06ZAvedo\x05Ravex", 16) + std::string(bytes);
  rvx::ParseSettingsResource(framed, list, &error);
  return 0;
}
