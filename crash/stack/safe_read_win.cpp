// Reading the process's own memory without faulting, and the process as a memory reader.
#include <windows.h>

#include <atomic>
#include <cstring>

#include "crash/stack/decoder.h"
#include "crash/stack/fault_guard.h"
#include "crash/stack/module.h"
#include "crash/stack/safe_read.h"

namespace rvx {
namespace {

// Cleared once a direct copy of an execute-only page has failed; from then on such pages are made readable
// for the copy.
std::atomic<bool> g_directRead{true};

constexpr Address kUserSpaceEnd = 0x80000000u;

uint8_t QueryAccess(Address address, uint32_t count) {
  MEMORY_BASIC_INFORMATION mbi;
  uint64_t end = uint64_t(address) + count;
  Address a = address;
  uint8_t access = kReadable;
  // The whole range must be covered; a range that crosses regions takes the weakest class.
  while (a < end) {
    if (VirtualQuery(reinterpret_cast<void*>(uintptr_t(a)), &mbi, sizeof mbi) != sizeof mbi) return kNotReadable;
    uint8_t c = ClassifyRegion(mbi.State, mbi.Protect);
    if (c == kNotReadable) return kNotReadable;
    if (c < access) access = c;
    uint64_t regionEnd = uint64_t(reinterpret_cast<uintptr_t>(mbi.BaseAddress)) + mbi.RegionSize;
    if (regionEnd <= a) return kNotReadable;
    a = regionEnd >= end ? static_cast<Address>(end - 1) + 1 : static_cast<Address>(regionEnd);
    if (regionEnd >= end) break;
  }
  return access;
}

bool CopyExecuteOnly(Address address, void* dest, uint32_t count) {
  if (g_directRead.load()) {
    if (GuardedCopy(dest, address, count)) return true;
    g_directRead.store(false);
  }
  // Page by page, so that every page gets its own protection back.
  auto* out = static_cast<uint8_t*>(dest);
  for (uint32_t done = 0; done < count;) {
    Address a = address + done;
    uint32_t chunk = 0x1000 - (a & 0xFFF);
    if (chunk > count - done) chunk = count - done;
    void* p = reinterpret_cast<void*>(uintptr_t(a));
    DWORD old = 0;
    if (!VirtualProtect(p, chunk, PAGE_EXECUTE_READ, &old)) return false;
    bool copied = GuardedCopy(out + done, a, chunk);
    DWORD ignored;
    VirtualProtect(p, chunk, old, &ignored);
    if (!copied) return false;
    done += chunk;
  }
  return true;
}

}  // namespace

bool GuardedCopy(void* dest, Address source, uint32_t count) {
  struct Copy {
    void* dest;
    const void* source;
    uint32_t count;
  } copy{dest, reinterpret_cast<const void*>(uintptr_t(source)), count};
  return RunFaultGuarded([](void* p) {
    auto* c = static_cast<Copy*>(p);
    std::memcpy(c->dest, c->source, c->count);
  }, &copy);
}

bool SafeRead(Address address, void* dest, uint32_t count, const TDATryRead* snapshot) {
  if (count == 0) return true;
  uint8_t access = snapshot ? SnapshotAccess(*snapshot, address, count) : QueryAccess(address, count);
  switch (access) {
    case kReadable:
      // Memory may have been freed or protected since it was classified.
      return GuardedCopy(dest, address, count);
    case kExecuteOnly:
      return CopyExecuteOnly(address, dest, count);
    default:
      return false;
  }
}

TDATryRead TakeReadSnapshot() {
  TDATryRead snapshot;
  snapshot.reserve(64);
  MEMORY_BASIC_INFORMATION mbi;
  Address a = 0;
  while (a < kUserSpaceEnd && VirtualQuery(reinterpret_cast<void*>(uintptr_t(a)), &mbi, sizeof mbi) == sizeof mbi) {
    uint64_t end = uint64_t(reinterpret_cast<uintptr_t>(mbi.BaseAddress)) + mbi.RegionSize;
    if (end <= a) break;
    Address e = end > kUserSpaceEnd ? kUserSpaceEnd : static_cast<Address>(end);
    AppendSnapshotRegion(snapshot, a, e, ClassifyRegion(mbi.State, mbi.Protect));
    a = e;
  }
  snapshot.shrink_to_fit();
  return snapshot;
}

void FreeReadSnapshot(TDATryRead& snapshot) noexcept { TDATryRead().swap(snapshot); }

size_t ProcessReader::Fetch(Address address, void* dest, size_t count) const {
  if (count == 0) return 0;
  if (SafeRead(address, dest, static_cast<uint32_t>(count), snapshot_)) return count;
  // Copy what lies before the first unreadable page.
  size_t done = 0;
  while (done < count) {
    Address a = address + static_cast<Address>(done);
    size_t chunk = 0x1000 - (a & 0xFFF);
    if (chunk > count - done) chunk = count - done;
    if (!SafeRead(a, static_cast<uint8_t*>(dest) + done, static_cast<uint32_t>(chunk), snapshot_)) break;
    done += chunk;
  }
  return done;
}

size_t RegionCachingReader::Fetch(Address address, void* dest, size_t count) const {
  if (count == 0) return 0;
  uint64_t last = uint64_t(address) + count;
  if (address < start_ || last > end_) {
    MEMORY_BASIC_INFORMATION mbi;
    start_ = end_ = 0;
    if (VirtualQuery(reinterpret_cast<void*>(uintptr_t(address)), &mbi, sizeof mbi) == sizeof mbi &&
        ClassifyRegion(mbi.State, mbi.Protect) == kReadable) {
      start_ = static_cast<Address>(reinterpret_cast<uintptr_t>(mbi.BaseAddress));
      uint64_t end = uint64_t(start_) + mbi.RegionSize;
      end_ = end > kUserSpaceEnd ? kUserSpaceEnd : static_cast<Address>(end);
    }
    if (address < start_ || last > end_) return ProcessReader::Fetch(address, dest, count);
  }
  if (GuardedCopy(dest, address, static_cast<uint32_t>(count))) return count;
  start_ = end_ = 0;  // freed or protected meanwhile: ask again
  return ProcessReader::Fetch(address, dest, count);
}

bool ProcessReader::Query(Address address, RegionInfo& out) const {
  MEMORY_BASIC_INFORMATION mbi;
  if (VirtualQuery(reinterpret_cast<void*>(uintptr_t(address)), &mbi, sizeof mbi) != sizeof mbi) return false;
  out.committed = mbi.State == MEM_COMMIT;
  out.allocationBase = static_cast<Address>(reinterpret_cast<uintptr_t>(mbi.AllocationBase));
  out.regionBase = static_cast<Address>(reinterpret_cast<uintptr_t>(mbi.BaseAddress));
  out.regionSize = static_cast<uint32_t>(mbi.RegionSize);
  return true;
}

bool ProcessReader::Module(Address address, ModuleInfo& out) const {
  ModuleHandle module = 0;
  std::string name;
  if (!ModuleFromAddress(address, module, name)) return false;
  out.base = module;
  out.fileName = name;
  out.isMainModule = module == static_cast<Address>(reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)));
  return true;
}

bool DecodeInstruction(Address address, InstructionInfo& info, RegisterState* regs, bool track,
                       const TDATryRead* snapshot) {
  ProcessReader reader(snapshot);
  return DecodeInstruction(reader, address, info, regs, track);
}

void InstructionText(Address address, std::string& text, RegisterState* regs, InstructionInfo& info, bool track) {
  ProcessReader reader;
  InstructionText(reader, address, text, regs, info, track);
}

}  // namespace rvx
