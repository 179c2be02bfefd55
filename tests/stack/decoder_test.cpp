#include <gtest/gtest.h>

#include "crash/stack/decoder.h"

namespace {
using namespace rvx;

std::vector<uint8_t> Hex(const char* s) {
  std::vector<uint8_t> out;
  unsigned v;
  int n;
  while (std::sscanf(s, "%2x%n", &v, &n) == 1) {
    out.push_back(static_cast<uint8_t>(v));
    s += n;
    while (*s == ' ') ++s;
  }
  return out;
}

std::string Text(const char* hex, Address at = 0x45A2B3) {
  auto bytes = Hex(hex);
  BufferReader memory(at, bytes.data(), bytes.size());
  return InstructionText(memory, at);
}

TEST(DecoderText, ExamplesOfTheListing) {
  EXPECT_EQ(Text("83 C4 F8"), "0045a2b3   add     esp, -8");
  EXPECT_EQ(Text("8B 45 08"), "0045a2b3   mov     eax, [ebp+8]");
  EXPECT_EQ(Text("64 89 20"), "0045a2b3   mov     fs:[eax], esp");
}
}  // namespace
