// The decoder's opcode tables: one 16-bit flag word per opcode, mnemonic indexes and the mnemonic list.
//
// Flag word:
//   bits 0-2   register operand kind
//   bits 3-5   r/m operand kind (0 = no ModRM, 1 = group: see kGroupOpcodeFlags)
//   bit 6/7    reg / r/m operand follows the operand size (0x66 gives the 16-bit form, MMX becomes XMM)
//   bit 8      show the memory operand's size ("dword ptr"); for A0..A3 the immediate is a bracketed address
//   bit 9      the r/m operand is printed first
//   bits 10-11 immediate: 1 byte, 2 bytes, operand size; 0 = by opcode (9A, EA, A0..A3, C8)
//   bit 12     the immediate is a branch displacement
//   bits 13-15 registers the instruction overwrites (see the decoder's register tracking)
// 0xFFFF marks an invalid opcode.
#pragma once
#include <array>
#include <cstdint>

namespace rvx::optab {

enum : uint16_t {
  // register operand kinds (with ModRM)
  kRegNone = 0, kReg8 = 1, kReg16 = 2, kRegSeg = 3, kReg32 = 4, kRegMmx = 5, kRegFpu = 6, kRegXmm = 7,
  // register operand kinds (without ModRM)
  kRegAl = 1, kRegEax = 2, kRegOp8 = 4, kRegOp32 = 5, kRegEaxOp = 6, kRegAccDx = 7,
  // r/m operand kinds
  kRmGroup = 1 << 3, kRm8 = 2 << 3, kRm16 = 3 << 3, kRm32 = 4 << 3, kRm64 = 5 << 3, kRm80 = 6 << 3,
  kRm128 = 7 << 3,
  kRegSize = 0x40, kRmSize = 0x80, kShowSize = 0x100, kRmFirst = 0x200,
  kImm8 = 0x400, kImm16 = 0x800, kImmOp = 0xC00, kRelative = 0x1000,
  // register effects
  kClrRm = 0x4000, kClrReg = 0x2000, kClrOpReg = 0x6000, kClrEax = 0x8000, kClrRmReg = 0xA000,
  kClrEaxRm = 0xC000, kClrEaxOpReg = 0xE000,
  kInvalid = 0xFFFF,
};

constexpr unsigned RegKind(uint16_t f) { return f & 7; }
constexpr unsigned RmKind(uint16_t f) { return (f >> 3) & 7; }
constexpr unsigned ImmKind(uint16_t f) { return (f >> 10) & 3; }
constexpr unsigned Effect(uint16_t f) { return f & 0xE000; }

struct GroupRow {
  uint8_t opcode;
  uint16_t memory[8];
  uint16_t reg[8];
};

extern const uint16_t kOneByteOpcodeFlags[256];
extern const uint16_t kTwoByteOpcodeFlags[256];
extern const std::array<uint8_t, 256> kOneByteMnemonicIndex;
extern const std::array<uint8_t, 256> kTwoByteMnemonicIndex;
extern const GroupRow kGroupOpcodeFlags[10];
constexpr int kMnemonicCount = 241;
extern const char* const kMnemonicList[kMnemonicCount + 1];  // 1-based; entry 0 is empty
extern const char* const kConditionCodes[16];
// 3DNow! suffix byte -> name (nullptr for suffixes outside the set).
const char* ThreeDNowName(uint8_t suffix);
bool IsThreeDNowSuffix(uint8_t suffix);

// Index of a group row for F6, F7, D8..DF, or -1.
inline int GroupRowIndex(uint8_t opcode) {
  if (opcode == 0xF6) return 0;
  if (opcode == 0xF7) return 1;
  if (opcode >= 0xD8 && opcode <= 0xDF) return 2 + (opcode - 0xD8);
  return -1;
}

}  // namespace rvx::optab
