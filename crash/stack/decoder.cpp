// Decoding of one instruction: prefixes, opcode tables, ModRM/SIB, immediates, validity, branch targets and
// register tracking.
#include "crash/stack/decoder.h"

#include "crash/stack/opcode_tables.h"

namespace rvx {
namespace {

using namespace optab;

constexpr int kMaxInstructionLength = 15;  // longer encodings fault on the processor
enum Reg { kEax, kEcx, kEdx, kEbx, kEsp, kEbp, kEsi, kEdi };

FunctionNameHook& NameHookSlot() {
  static FunctionNameHook hook;
  return hook;
}
LineNumberHook& LineHookSlot() {
  static LineNumberHook hook;
  return hook;
}

int32_t ReadSigned(const uint8_t* p, int size) {
  switch (size) {
    case 1: return static_cast<int8_t>(p[0]);
    case 2: return static_cast<int16_t>(p[0] | p[1] << 8);
    default: return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
  }
}

bool Checked(uint8_t modrm, std::initializer_list<uint8_t> bad) {
  for (uint8_t b : bad)
    if (modrm == b) return false;
  return true;
}

// A lock prefix is allowed only on read-modify-write instructions with a memory destination; the processor
// raises an invalid-opcode exception for any other.
bool IsLockable(const DecodedInstruction& d, bool two) {
  if (!d.IsMemory()) return false;
  const uint8_t op = d.info.opcode & 0xFF;
  const uint8_t reg = d.reg;
  if (!two) {
    if (op < 0x38 && (op & 7) <= 1) return true;  // add, or, adc, sbb, and, sub, xor r/m, reg
    if (op >= 0x80 && op <= 0x83) return reg != 7;
    if (op == 0x86 || op == 0x87) return true;
    if (op == 0xF6 || op == 0xF7) return reg == 2 || reg == 3;
    if (op == 0xFE || op == 0xFF) return reg <= 1;
    return false;
  }
  switch (op) {
    case 0xAB: case 0xB3: case 0xBB: case 0xB0: case 0xB1: case 0xC0: case 0xC1: return true;
    case 0xBA: return reg >= 5;
    case 0xC7: return reg == 1;
    default: return false;
  }
}

// Validity rules that a flag word cannot express.
bool IsValid(const DecodedInstruction& d, bool two) {
  const bool mem = d.IsMemory();
  const uint8_t op = d.info.opcode & 0xFF;
  const uint8_t reg = d.reg, m = d.info.modrm;
  if (d.prefixLock && !IsLockable(d, two)) return false;
  if (!two) {
    switch (op) {
      case 0x62: case 0x8D: case 0xC4: case 0xC5: return mem;
      case 0x8C: case 0x8E: return reg < 6;
      case 0xD9: return mem || (Checked(m, {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xE2, 0xE3, 0xE6, 0xE7, 0xEF}));
      case 0xDA: return mem || (m != 0xE8 && (m < 0xEA || m > 0xEF));
      case 0xDB: return mem || m < 0xE5 || m > 0xE7;
      case 0xDF: return mem || m < 0xE1 || m > 0xE7;
      case 0xFE: return reg <= 1;
      case 0xFF: return reg < 7 && (mem || (reg != 3 && reg != 5));
      default: return true;
    }
  }
  switch (op) {
    case 0x00: return reg < 6;
    case 0x01: return reg != 5 && (mem || reg >= 4);
    case 0x0D: return mem && reg < 2;
    case 0x0F: return IsThreeDNowSuffix(d.suffix);
    case 0x18: return mem && reg < 4;
    case 0x20: case 0x21: case 0x22: case 0x23: return !mem;
    case 0x6C: case 0x6D: return d.prefix66;
    case 0x71: case 0x72: return !mem && (reg == 2 || reg == 4 || reg == 6);
    case 0x73: return !mem && (reg == 2 || reg == 3 || reg == 6 || reg == 7);
    case 0x7C: case 0x7D: case 0xD0: return d.prefix66 || d.prefixF2;
    case 0xAE: return reg == 7 || (reg <= 3 && mem) || ((reg == 5 || reg == 6) && !mem);
    case 0xB2: case 0xB4: case 0xB5: case 0xC3: case 0xC7: return mem;
    case 0xBA: return reg >= 4;
    case 0xD6: case 0xE6: return d.prefix66 || d.prefixF2 || d.prefixF3;
    case 0xF0: return d.prefixF2;
    default: return true;
  }
}

// The 32-bit register that holds an operand: 8-bit registers 4..7 (ah..bh) live in eax..ebx.
inline int Holder(int number, bool byteRegister) { return byteRegister ? (number & 3) : number; }

}  // namespace

void TrackRegisterEffects(const DecodedInstruction& d, RegisterState& regs) {
  const bool two = d.info.opcode > 0xFF;
  Address* e = regs.entry;
  const uint16_t f = d.flags;
  const unsigned effect = Effect(f);
  const uint8_t op = d.info.opcode & 0xFF;
  const bool regForm = d.hasModrm && d.mod == 3;
  if (effect == kClrEax || effect == kClrEaxRm || effect == kClrEaxOpReg) e[kEax] = 0;
  if (regForm && (effect == kClrRm || effect == kClrRmReg || effect == kClrEaxRm))
    e[Holder(d.rm, RmKind(f) == RmKind(kRm8))] = 0;
  if (d.hasModrm && (effect == kClrReg || effect == kClrRmReg)) e[Holder(d.reg, RegKind(f) == kReg8)] = 0;
  if (effect == kClrOpReg || effect == kClrEaxOpReg) e[Holder(op & 7, RegKind(f) == kRegOp8)] = 0;

  if (!two) {
    switch (op) {
      case 0x8B: if (regForm) e[d.reg] = e[d.rm]; break;
      case 0xB8: case 0xB9: case 0xBA: case 0xBB: case 0xBC: case 0xBD: case 0xBE: case 0xBF:
        if (!d.prefix66) e[op & 7] = d.immAddress;
        break;
      case 0xC7: if (regForm && !d.prefix66) e[d.rm] = d.immAddress; break;
      case 0x61: regs.Clear(); break;
      case 0x80: case 0x81: case 0x82: case 0x83:
        if (regForm && d.reg != 7) e[Holder(d.rm, op == 0x80 || op == 0x82)] = 0;
        break;
      case 0x99: e[kEdx] = 0; break;
      case 0xA4: case 0xA5: case 0xA6: case 0xA7: e[kEsi] = e[kEdi] = 0; break;
      case 0xAA: case 0xAB: case 0xAE: case 0xAF: case 0x6C: case 0x6D: e[kEdi] = 0; break;
      case 0xAC: case 0xAD: case 0x6E: case 0x6F: e[kEsi] = 0; break;
      case 0xC8: case 0xC9: e[kEbp] = 0; break;
      case 0xDF: if (d.info.modrm == 0xE0) e[kEax] = 0; break;
      case 0xE0: case 0xE1: case 0xE2: e[kEcx] = 0; break;
      case 0xF7: if (d.reg >= 4) e[kEdx] = 0; break;
      case 0xFF: if (regForm && d.reg <= 1) e[d.rm] = 0; break;
      default: break;
    }
    return;
  }
  switch (op) {
    case 0xA2: e[kEax] = e[kEcx] = e[kEdx] = e[kEbx] = 0; break;
    case 0xBA: if (regForm && d.reg >= 5) e[d.rm] = 0; break;
    case 0xC7: case 0x31: case 0x32: case 0x33: e[kEdx] = 0; break;
    case 0x2C: case 0x2D: if (d.prefixF2 || d.prefixF3) e[d.reg] = 0; break;
    case 0x7E: case 0x7F: if (!d.prefixF3 && regForm) e[d.rm] = 0; break;
    case 0x00: if (regForm && d.reg <= 1) e[d.rm] = 0; break;
    case 0x01: if (regForm && d.reg == 4) e[d.rm] = 0; break;
    default: break;
  }
}

namespace {

void ClearTarget(InstructionInfo& info) {
  info.isCall = info.isJump = info.targetIsRelative = 0;
  info.target = info.targetOperandAddress = info.targetSlotAddress = 0;
  info.targetOperandSize = 0;
  info.widenable = 0;
}

// Fills the target fields; false when a pointer slot that must be read is unreadable.
bool FindTarget(const MemoryReader& memory, DecodedInstruction& d, bool two, const RegisterState* regs) {
  InstructionInfo& info = d.info;
  const uint8_t op = info.opcode & 0xFF;
  if (d.flags & kRelative) {
    info.targetIsRelative = 1;
    info.target = info.nextInstruction + static_cast<uint32_t>(d.imm);
    info.targetOperandAddress = d.immAddress;
    info.targetOperandSize = d.immSize;
    if (!two && op == 0xE8) {
      info.isCall = 1;
    } else {
      info.isJump = 1;
    }
    info.widenable = two || op < 0xE0 || op > 0xE3;
  } else if (!two && op == 0xFF && d.reg >= 2 && d.reg <= 5) {
    info.isCall = d.reg <= 3;
    info.isJump = d.reg >= 4;
    if (d.IsMemory() && d.base < 0 && d.index < 0 && d.dispSize == 4) {
      info.targetSlotAddress = static_cast<Address>(d.disp);
      info.targetOperandSize = 4;
      info.widenable = 1;
      if (d.segment < 0 && !memory.Read32(info.targetSlotAddress, info.target)) return false;
    } else if (regs && !d.prefix67) {
      int r = d.IsMemory() ? d.base : d.rm;
      if (r >= 0 && regs->entry[r] && d.index < 0 && d.dispSize == 0) {
        Address constant = regs->entry[r];
        info.targetOperandSize = 4;
        if (d.IsMemory()) {
          info.targetSlotAddress = constant;
          uint32_t pointer;
          if (!memory.Read32(constant, pointer)) return false;
          if (d.segment < 0 && !memory.Read32(pointer, info.target)) return false;
        } else {
          info.targetOperandAddress = constant;
          if (!memory.Read32(constant, info.target)) info.target = 0;
        }
      }
    }
  } else if (!two && op == 0x9A) {
    info.isCall = 1;
  } else if (!two && op == 0xEA) {
    info.isJump = 1;
  }
  if ((info.isCall || info.isJump) && info.target == info.nextInstruction) ClearTarget(info);
  return true;
}

}  // namespace

void SetFunctionNameHook(FunctionNameHook hook) { NameHookSlot() = std::move(hook); }
void SetLineNumberHook(LineNumberHook hook) { LineHookSlot() = std::move(hook); }
const FunctionNameHook& FunctionNameResolver() { return NameHookSlot(); }
const LineNumberHook& LineNumberResolver() { return LineHookSlot(); }

bool DecodeDetailed(const MemoryReader& memory, Address address, DecodedInstruction& d, RegisterState* regs,
                    bool track) {
  d = DecodedInstruction{};
  d.segment = -1;
  d.base = d.index = -1;
  d.scale = 1;
  InstructionInfo& info = d.info;
  info.instructionStart = address;
  uint8_t buf[kMaxInstructionLength];
  const size_t avail = memory.Fetch(address, buf, kMaxInstructionLength);
  size_t pos = 0;
  auto fail = [&] {
    info.valid = 0;
    if (pos == 0) pos = 1;
    d.length = static_cast<uint8_t>(pos);
    info.nextInstruction = address + static_cast<Address>(pos);
    return false;
  };

  // Prefixes.
  for (;;) {
    if (pos >= avail) return fail();
    const uint8_t b = buf[pos];
    switch (b) {
      case 0x66: d.prefix66 = 1; break;
      case 0x67: d.prefix67 = 1; break;
      case 0xF0: d.prefixLock = 1; break;
      case 0xF2: d.prefixF2 = 1; break;
      case 0xF3: d.prefixF3 = 1; break;
      case 0x26: d.segment = 0; break;
      case 0x2E: d.segment = 1; break;
      case 0x36: d.segment = 2; break;
      case 0x3E: d.segment = 3; break;
      case 0x64: d.segment = 4; break;
      case 0x65: d.segment = 5; break;
      default: goto opcode;
    }
    ++pos;
  }
opcode:
  if (track && regs && (d.prefixF2 || d.prefixF3) && buf[pos] != 0x0F) regs->entry[kEcx] = 0;
  const unsigned opsize = d.prefix66 ? 2 : 4;
  bool two = false;
  uint8_t op = buf[pos++];
  if (op == 0x0F) {
    if (pos >= avail) return fail();
    two = true;
    op = buf[pos++];
    info.opcode = 0x0F00 | op;
    d.flags = kTwoByteOpcodeFlags[op];
    d.mnemonic = kTwoByteMnemonicIndex[op];
  } else {
    info.opcode = op;
    d.flags = kOneByteOpcodeFlags[op];
    d.mnemonic = kOneByteMnemonicIndex[op];
  }
  if (d.flags == kInvalid) return fail();

  // ModRM, SIB and displacement.
  if (RmKind(d.flags) != 0) {
    if (pos >= avail) return fail();
    const uint8_t m = buf[pos++];
    d.hasModrm = 1;
    info.modrm = m;
    d.mod = m >> 6;
    d.reg = (m >> 3) & 7;
    d.rm = m & 7;
    if (d.mod != 3) {
      if (d.prefix67) {
        static const int8_t kBase16[8] = {kEbx, kEbx, kEbp, kEbp, kEsi, kEdi, kEbp, kEbx};
        static const int8_t kIndex16[8] = {kEsi, kEdi, kEsi, kEdi, -1, -1, -1, -1};
        d.base = kBase16[d.rm];
        d.index = kIndex16[d.rm];
        if (d.mod == 1) {
          d.dispSize = 1;
        } else if (d.mod == 2) {
          d.dispSize = 2;
        } else if (d.rm == 6) {
          d.dispSize = 2;
          d.base = -1;
        }
      } else {
        d.base = static_cast<int8_t>(d.rm);
        if (d.rm == 4) {
          if (pos >= avail) return fail();
          const uint8_t sib = buf[pos++];
          d.base = sib & 7;
          if (((sib >> 3) & 7) != 4) {
            d.index = (sib >> 3) & 7;
            d.scale = static_cast<uint8_t>(1 << (sib >> 6));
          }
        }
        if (d.mod == 1) {
          d.dispSize = 1;
        } else if (d.mod == 2) {
          d.dispSize = 4;
        } else if (d.base == kEbp) {
          d.dispSize = 4;
          d.base = -1;
        }
      }
      if (d.dispSize) {
        if (pos + d.dispSize > avail) return fail();
        d.dispAddress = address + static_cast<Address>(pos);
        d.disp = ReadSigned(buf + pos, d.dispSize);
        pos += d.dispSize;
      }
    }
    if (RmKind(d.flags) == RmKind(kRmGroup)) {
      const int row = GroupRowIndex(op);
      if (two || row < 0) return fail();
      d.flags = d.mod == 3 ? kGroupOpcodeFlags[row].reg[d.reg] : kGroupOpcodeFlags[row].memory[d.reg];
      if (d.flags == kInvalid) return fail();
    }
  }

  // Immediate.
  unsigned immSize = 0;
  switch (ImmKind(d.flags)) {
    case 1: immSize = 1; break;
    case 2: immSize = 2; break;
    case 3: immSize = opsize; break;
    default:
      if (!two) {
        if (op == 0x9A || op == 0xEA) immSize = opsize + 2;
        else if (op >= 0xA0 && op <= 0xA3) immSize = d.prefix67 ? 2 : 4;
        else if (op == 0xC8) immSize = 3;
      }
      break;
  }
  if (immSize) {
    if (pos + immSize > avail) return fail();
    d.immSize = static_cast<uint8_t>(immSize);
    d.immAddress = address + static_cast<Address>(pos);
    if (immSize == 1 || immSize == 2 || immSize == 4) {
      d.imm = ReadSigned(buf + pos, static_cast<int>(immSize));
    } else {
      uint64_t raw = 0;
      for (unsigned i = 0; i < immSize; ++i) raw |= uint64_t(buf[pos + i]) << (8 * i);
      d.imm = static_cast<int64_t>(raw);
    }
    if (two && op == 0x0F) d.suffix = buf[pos];
    pos += immSize;
  }
  d.length = static_cast<uint8_t>(pos);
  info.nextInstruction = address + static_cast<Address>(pos);

  if (!IsValid(d, two)) return fail();
  info.valid = 1;
  if (!FindTarget(memory, d, two, regs)) {
    info.valid = 0;
    return false;
  }
  if (track && regs) TrackRegisterEffects(d, *regs);
  return true;
}

bool DecodeInstruction(const MemoryReader& memory, Address address, InstructionInfo& info, RegisterState* regs,
                       bool track) {
  DecodedInstruction d;
  bool ok = DecodeDetailed(memory, address, d, regs, track);
  info = d.info;
  return ok;
}

}  // namespace rvx
