// Reading foreign memory without faulting: a snapshot of the readable regions of the address space and a
// reader that copies only what is readable (making execute-only pages readable for the copy).
#pragma once
#include <cstdint>
#include <vector>

#include "crash/stack/memory_reader.h"

namespace rvx {

enum AccessClass : uint8_t { kNotReadable = 0, kExecuteOnly = 1, kReadable = 2 };

struct TryReadRegion {
  Address start;
  Address end;  // exclusive
  uint8_t access;
};
using TDATryRead = std::vector<TryReadRegion>;

// Access class of [address, address + count) in a snapshot; a range that crosses regions counts as not
// readable.
uint8_t SnapshotAccess(const TDATryRead& snapshot, Address address, uint32_t count);

// Classifies one region by its state and protection (Win32 values).
uint8_t ClassifyRegion(uint32_t state, uint32_t protect);

// Appends a region to a snapshot under construction, merging it with the previous one of equal class.
void AppendSnapshotRegion(TDATryRead& snapshot, Address start, Address end, uint8_t access);

#ifdef _WIN32
// Copies count bytes of the process's own memory under a fault guard; false when the copy faulted (the
// destination may then hold part of it).
bool GuardedCopy(void* dest, Address source, uint32_t count);
bool SafeRead(Address address, void* dest, uint32_t count, const TDATryRead* snapshot);
TDATryRead TakeReadSnapshot();
void FreeReadSnapshot(TDATryRead& snapshot) noexcept;

// The running process as a memory reader.
class ProcessReader : public MemoryReader {
 public:
  explicit ProcessReader(const TDATryRead* snapshot = nullptr) : snapshot_(snapshot) {}
  size_t Fetch(Address address, void* dest, size_t count) const override;
  bool Query(Address address, RegionInfo& out) const override;
  bool Module(Address address, ModuleInfo& out) const override;

 private:
  const TDATryRead* snapshot_;
};

// The running process as a memory reader for one thread that reads one region over and over (analysing a
// routine of a loaded module): the last readable region is remembered, so most reads need no system query.
// Not to be shared between threads; only for memory whose protection does not change while it is used.
class RegionCachingReader : public ProcessReader {
 public:
  size_t Fetch(Address address, void* dest, size_t count) const override;

 private:
  mutable Address start_ = 0, end_ = 0;
};
#endif

}  // namespace rvx
