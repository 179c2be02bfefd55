// Export lookup over images in memory: forwarder chains that come back to where they started, and a
// cross-check against the module's file that runs out of memory.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "crash/stack/module.h"

namespace {
using namespace rvx;

// A PE32 image with one export "Loop" whose function entry is `entry` (an RVA; inside the export
// directory it is a forwarder, whose text then follows at 0x270).
std::vector<uint8_t> Image(uint32_t entry, const std::string& forwarder, uint32_t imageSize = 0x1000) {
  std::vector<uint8_t> b(0x400, 0);
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); };
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
  put16(0, 0x5A4D);
  put32(0x3C, 0x40);
  put32(0x40, 0x4550);
  put16(0x40 + 0x18, 0x10B);               // optional header magic
  put32(0x40 + 0x18 + 56, imageSize);      // SizeOfImage
  put32(0x40 + 0x78, 0x200);               // export directory
  put32(0x40 + 0x7C, 0x100);
  put32(0x200 + 16, 1);                    // Base
  put32(0x200 + 20, 1);                    // NumberOfFunctions
  put32(0x200 + 24, 1);                    // NumberOfNames
  put32(0x200 + 28, 0x240);                // AddressOfFunctions
  put32(0x200 + 32, 0x250);                // AddressOfNames
  put32(0x200 + 36, 0x260);                // AddressOfNameOrdinals
  put32(0x240, entry);
  put32(0x250, 0x280);
  put16(0x260, 0);
  std::memcpy(&b[0x270], forwarder.c_str(), forwarder.size() + 1);
  std::memcpy(&b[0x280], "Loop", 5);
  return b;
}

// Several images at their load addresses.
class Images : public MemoryReader {
 public:
  void Add(Address base, std::vector<uint8_t> bytes) { images_.emplace_back(base, std::move(bytes)); }
  size_t Fetch(Address address, void* dest, size_t count) const override {
    for (const auto& [base, bytes] : images_)
      if (address >= base && address - base < bytes.size())
        return BufferReader(base, bytes.data(), bytes.size()).Fetch(address, dest, count);
    return 0;
  }

 private:
  std::vector<std::pair<Address, std::vector<uint8_t>>> images_;
};

constexpr Address kA = 0x10000000, kB = 0x20000000;

ExportEnvironment Modules(int* systemLookups) {
  ExportEnvironment env;
  env.loadedModule = [](const std::string& name) -> Address { return name == "A" ? kA : name == "B" ? kB : 0; };
  env.procAddress = [systemLookups](Address, const std::string&, uint32_t) -> Address {
    ++*systemLookups;
    return 0;
  };
  return env;
}

TEST(ExportForwarders, ChainsThatComeBackEndWithNothingFound) {
  Images memory;
  memory.Add(kA, Image(0x270, "B.Loop"));
  memory.Add(kB, Image(0x270, "A.Loop"));
  int systemLookups = 0;
  ExportEnvironment env = Modules(&systemLookups);
  EXPECT_EQ(ResolveExportByName(memory, kA, "Loop", false, env), 0u);
  EXPECT_EQ(ResolveExportByOrdinal(memory, kA, 1, env), 0u);
  EXPECT_EQ(ResolveForwarder(memory, kB, 0x270, env), 0u);
  // The system's lookup would follow the same chain: it is not asked.
  EXPECT_EQ(systemLookups, 0);
  // A module forwarding to itself.
  Images self;
  self.Add(kA, Image(0x270, "A.Loop"));
  EXPECT_EQ(ResolveExportByName(self, kA, "Loop", false, env), 0u);
  // A chain that ends is followed to its end.
  Images chain;
  chain.Add(kA, Image(0x270, "B.Loop"));
  chain.Add(kB, Image(0x1234, ""));
  EXPECT_EQ(ResolveExportByName(chain, kA, "Loop", false, env), kB + 0x1234);
}

TEST(ExportCrossCheck, NoMemoryForTheFileKeepsTheImageEntry) {
  Images memory;
  memory.Add(kA, Image(0x5000, "", 0x1000));  // an entry beyond the image is checked against the file
  int systemLookups = 0;
  ExportEnvironment env = Modules(&systemLookups);
  env.moduleFile = [](Address, std::string&) -> bool { throw std::bad_alloc(); };
  Address found = 1;
  EXPECT_NO_THROW(found = ResolveExportByName(memory, kA, "Loop", true, env));
  EXPECT_EQ(found, kA + 0x5000);
  // The file as it is on disk replaces a patched entry.
  std::vector<uint8_t> disk = Image(0x600, "");
  env.moduleFile = [&disk](Address, std::string& bytes) {
    bytes.assign(disk.begin(), disk.end());
    return true;
  };
  EXPECT_EQ(ResolveExportByName(memory, kA, "Loop", false, env), kA + 0x600);
}

}  // namespace
