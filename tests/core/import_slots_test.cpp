// The import slots of a loaded image that hold a routine, over images laid out in a buffer; which modules
// are the system's kernel libraries.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crash/core/import_slots.h"

namespace {

using rvx::Address;

constexpr Address kBase = 0x00400000;
constexpr uint32_t kNt = 0x80, kDescriptors = 0x200;

// An image of `size` bytes with the import directory at 0x200 and the given descriptors (name, first
// thunk), each address table filled from `tables`.
struct Image {
  std::vector<uint8_t> bytes;
  explicit Image(uint32_t size = 0x1000) : bytes(size) {
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Put(0x3C, kNt);
    Put(kNt, 0x4550);
    Put(kNt + 0x18, 0x10B);
    Put(kNt + 0x18 + 56, size);
    Put(kNt + 0x80, kDescriptors);
    Put(kNt + 0x84, 0x100);
  }
  void Put(uint32_t offset, uint32_t value) { std::memcpy(&bytes[offset], &value, 4); }
  void Descriptor(int index, uint32_t name, uint32_t firstThunk) {
    Put(kDescriptors + 20 * index + 12, name);
    Put(kDescriptors + 20 * index + 16, firstThunk);
  }
  void Table(uint32_t at, const std::vector<uint32_t>& slots) {
    for (size_t i = 0; i < slots.size(); ++i) Put(at + 4 * static_cast<uint32_t>(i), slots[i]);
  }
  std::vector<Address> Slots(Address routine) const {
    rvx::BufferReader memory(kBase, bytes.data(), bytes.size());
    return rvx::ImportSlotsHolding(memory, kBase, routine);
  }
};

constexpr Address kCreateThread = 0x7B801234, kOther = 0x7B805678;

TEST(ImportSlots, EverySlotOfEveryDescriptorHoldingTheRoutine) {
  Image m;
  m.Descriptor(0, 0x400, 0x600);
  m.Table(0x600, {kOther, kCreateThread, kOther, kCreateThread});
  m.Descriptor(1, 0x410, 0x700);
  m.Table(0x700, {kCreateThread});
  EXPECT_EQ(m.Slots(kCreateThread), (std::vector<Address>{kBase + 0x604, kBase + 0x60C, kBase + 0x700}));
  EXPECT_EQ(m.Slots(kOther).size(), 2u);
  EXPECT_TRUE(m.Slots(0x12345678).empty());
  // Several routines in one walk, each slot with the routine it holds.
  rvx::BufferReader memory(kBase, m.bytes.data(), m.bytes.size());
  using S = rvx::ImportSlot;
  EXPECT_EQ(rvx::ImportSlotsHoldingAny(memory, kBase, {0x12345678, kCreateThread, kOther}),
            (std::vector<S>{{kBase + 0x600, 2}, {kBase + 0x604, 1}, {kBase + 0x608, 2}, {kBase + 0x60C, 1},
                            {kBase + 0x700, 1}}));
  EXPECT_TRUE(rvx::ImportSlotsHoldingAny(memory, kBase, {}).empty());
}

TEST(ImportSlots, TheWalkEndsWhereTheTablesEnd) {
  Image m;
  // A zero slot ends a table; a descriptor without a name ends the list.
  m.Descriptor(0, 0x400, 0x600);
  m.Table(0x600, {kOther, 0, kCreateThread});
  m.Descriptor(2, 0x410, 0x700);
  m.Table(0x700, {kCreateThread});
  EXPECT_TRUE(m.Slots(kCreateThread).empty());
  // A table beyond the image stops the walk, also for the descriptors after it.
  Image far;
  far.Descriptor(0, 0x400, 0x5000);
  far.Descriptor(1, 0x410, 0x700);
  far.Table(0x700, {kCreateThread});
  EXPECT_TRUE(far.Slots(kCreateThread).empty());
  // A table that runs to the image's end without a zero slot stops there.
  Image edge;
  edge.Descriptor(0, 0x400, 0xFF8);
  edge.Table(0xFF8, {kCreateThread, kCreateThread});
  EXPECT_EQ(edge.Slots(kCreateThread), (std::vector<Address>{kBase + 0xFF8, kBase + 0xFFC}));
}

TEST(ImportSlots, WhatIsNoImageHasNoSlots) {
  Image m;
  m.Descriptor(0, 0x400, 0x600);
  m.Table(0x600, {kCreateThread});
  ASSERT_EQ(m.Slots(kCreateThread).size(), 1u);
  Image noDirectory = m;
  noDirectory.Put(kNt + 0x80, 0);
  EXPECT_TRUE(noDirectory.Slots(kCreateThread).empty());
  Image directoryOutside = m;
  directoryOutside.Put(kNt + 0x80, 0x10000);
  EXPECT_TRUE(directoryOutside.Slots(kCreateThread).empty());
  Image notPe = m;
  notPe.bytes[0] = 'X';
  EXPECT_TRUE(notPe.Slots(kCreateThread).empty());
  rvx::BufferReader memory(kBase, m.bytes.data(), m.bytes.size());
  EXPECT_TRUE(rvx::ImportSlotsHolding(memory, 0, kCreateThread).empty());
  EXPECT_TRUE(rvx::ImportSlotsHolding(memory, kBase + 0x2000, kCreateThread).empty());
}

TEST(ImportSlots, KernelLibrariesAreKnownByTheirFileName) {
  EXPECT_TRUE(rvx::IsKernelModuleFile("C:\\windows\\system32\\KERNEL32.DLL"));
  EXPECT_TRUE(rvx::IsKernelModuleFile("c:/windows/system32/kernelbase.dll"));
  EXPECT_TRUE(rvx::IsKernelModuleFile("ntdll.dll"));
  EXPECT_FALSE(rvx::IsKernelModuleFile("C:\\app\\crashlab_late.dll"));
  EXPECT_FALSE(rvx::IsKernelModuleFile("C:\\app\\mykernel32.dll"));
  EXPECT_FALSE(rvx::IsKernelModuleFile("C:\\kernel32.dll\\user32.dll"));
  EXPECT_FALSE(rvx::IsKernelModuleFile(""));
}

}  // namespace
