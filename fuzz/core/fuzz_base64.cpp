// Base64Decode on arbitrary text; whatever decodes must encode back to the accepted prefix of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crash/delivery/cipher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string bytes = rvx::Base64Decode(text);
  if (bytes.size() > size / 4 * 3) abort();
  std::string again = rvx::Base64Encode(bytes);
  if (rvx::Base64Decode(again) != bytes) abort();
  rvx::CounterDecipher(text, bytes, static_cast<uint32_t>(size));
  return 0;
}
