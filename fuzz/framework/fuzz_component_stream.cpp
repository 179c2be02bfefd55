// Component streams from arbitrary bytes: the binary reader refuses malformed data with an exception and
// never reads outside its input; whatever it accepts writes back to a stream that reads and writes the same
// again, and to text that parses and compiles. The text parser takes arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/component_stream.h"
#include "framework/component_text.h"
#include "framework/exceptions.h"

namespace {

bool Read(std::string_view bytes, fw::ComponentNode& node) {
  try {
    node = fw::ReadComponentStream(bytes);
    return true;
  } catch (const EStreamError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fw::ComponentNode node;
  // The bytes as they come and behind a valid signature.
  for (const std::string& input : {std::string(bytes), "TPF0" + std::string(bytes)}) {
    if (!Read(input, node)) continue;
    std::string once;
    try {
      once = fw::WriteComponentStream(node);
    } catch (const EStreamError&) {
      continue;  // a value the canonical encoding cannot hold is refused, not written wrongly
    }
    fw::ComponentNode again;
    if (!Read(once, again)) __builtin_trap();
    if (fw::WriteComponentStream(again) != once) __builtin_trap();
    std::string text = fw::ComponentToText(again), binary, error;
    fw::ComponentNode parsed;
    fw::ParseComponentText(text, parsed, error);
    fw::CompileComponentText(text, binary, error);
  }
  fw::ComponentNode parsed;
  std::string binary, error;
  fw::ParseComponentText(bytes, parsed, error);
  fw::CompileComponentText(bytes, binary, error);
  return 0;
}
