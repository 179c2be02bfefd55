// The blocked-process test on Windows: the loader lock and the process-environment fast lock are critical
// sections that the process environment block points to.
#include <windows.h>

#include <atomic>

#include "crash/core/freeze.h"

namespace rvx {

namespace {

// Offsets in the 32-bit process environment block.
constexpr uint32_t kFastPebLockOffset = 0x1C;
constexpr uint32_t kLoaderLockOffset = 0xA0;

// -1 not known yet, 0 count rule, 1 lowest-bit rule: found once by locking a fresh critical section.
std::atomic<int> g_lowBitRule{-1};

bool LowBitRule() {
  int rule = g_lowBitRule.load();
  if (rule < 0) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    rule = cs.LockCount < 0 ? 1 : 0;  // held: 0 by counting, -2 with the lowest bit cleared
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
    g_lowBitRule = rule;
  }
  return rule == 1;
}

bool SectionHeld(const RTL_CRITICAL_SECTION* cs, bool lowBitRule) {
  if (!cs || IsBadReadPtr(cs, sizeof *cs)) return false;
  return LockCountHeld(cs->LockCount, lowBitRule);
}

bool BlockedNow() {
  bool lowBit = LowBitRule();
  const uint8_t* peb;
  asm volatile("movl %%fs:0x30, %0" : "=r"(peb));
  if (!peb) return false;
  auto lockAt = [&](uint32_t offset) { return *reinterpret_cast<RTL_CRITICAL_SECTION* const*>(peb + offset); };
  return SectionHeld(lockAt(kLoaderLockOffset), lowBit) || SectionHeld(lockAt(kFastPebLockOffset), lowBit);
}

}  // namespace

bool ProcessBlocked(uint32_t waitMs) {
  uint32_t start = GetTickCount();
  for (;;) {
    if (!BlockedNow()) return false;
    if (GetTickCount() - start >= waitMs) return true;  // less than 1 ms of the wait left
    Sleep(10);
  }
}

}  // namespace rvx
