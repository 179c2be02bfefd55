// The stack walker over arbitrary stack contents and code bytes: it never reads outside the memory it is
// given, never faults and always ends. The input is split into a stack and the code section of a program
// image; the first bytes choose the registers and flags of the walk.
#include <cstdint>
#include <cstring>
#include <vector>

#include "crash/stack/stack_trace.h"
#include "tests/stack/fake_process.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rvx;
  if (size < 16) return 0;
  uint32_t head[4];
  std::memcpy(head, data, 16);
  data += 16;
  size -= 16;
  const size_t stackBytes = std::min<size_t>(size / 2, 0x2000) & ~size_t(3);
  testing::FakeProcess p;
  auto& image = p.MapImage(0x400000, 0x2000, "C:\\fuzz\\prog.exe", true);
  std::memcpy(image.bytes.data() + 0x1000, data + stackBytes, std::min<size_t>(size - stackBytes, 0x2000));
  if (stackBytes < 4) return 0;
  auto& stack = p.Map(0x100000, stackBytes, {}, false, 0);
  std::memcpy(stack.bytes.data(), data, stackBytes);
  // Stack values are steered into the image often enough to reach the deep phases.
  for (size_t i = 0; i + 4 <= stackBytes; i += 4)
    if (stack.bytes[i + 3] & 1) {
      uint32_t v;
      std::memcpy(&v, &stack.bytes[i], 4);
      v = 0x401000 + (v & 0x1FFF);
      std::memcpy(&stack.bytes[i], &v, 4);
    }
  auto map = std::make_shared<TMapFile>();
  map->valid = true;
  map->segments.push_back({true, true, 0x401000, 0x2000, "fuzz.cpp", 0});
  for (uint32_t a = 0x401000; a < 0x403000; a += 0x40 + (head[3] & 0x1C0)) {
    map->publics.push_back({true, true, "f", a});
    map->lines.push_back({a & 0xFFF, a});
  }
  WalkerEnvironment env;
  env.memory = &p;
  env.mainModule = 0x400000;
  const bool symbols = head[3] & 0x200;
  env.symbols = [&](Address, const std::string&) -> std::shared_ptr<const TMapFile> {
    return symbols ? map : nullptr;
  };
  TStackWalker walker(env);
  TraceOptions o;
  o.stackBottom = 0x100000;
  o.stackTop = 0x100000 + static_cast<Address>(stackBytes);
  o.ebp = 0x100000 + (head[0] % stackBytes);
  o.currentAddress = 0x401000 + (head[1] & 0x1FFF);
  o.isException = head[2] & 1;
  o.externalException = head[2] & 2;
  o.noTopItem = head[2] & 4;
  o.hideUglyItems = head[2] & 8;
  o.creatorAddress = (head[2] & 16) ? 0x401000 + (head[2] >> 16 & 0x1FFF) : 0;
  TDAPreStackItem pre;
  if (head[2] & 32) {
    walker.CollectCandidates(o.ebp, o.stackTop, o.stackBottom, pre, o.isException, o.currentAddress);
    o.candidates = &pre;
  }
  TraceResult r = walker.Trace(o);
  // The result always names what it shows.
  if (!r.items.empty() && r.text.empty()) __builtin_trap();
  return 0;
}
