// 32-bit x86 instruction decoder: length and validity, call and jump targets (following constants loaded
// into registers and pointers stored in memory), register tracking and the one-line Intel-syntax text.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "crash/stack/memory_reader.h"
#include "crash/stack/safe_read.h"

namespace rvx {

// The result of decoding one instruction.
struct InstructionInfo {
  uint8_t valid;
  uint8_t reserved1;
  uint16_t opcode;  // 0x00..0xFF, or 0x0F00 + second byte
  uint8_t modrm;
  uint8_t isCall;
  uint8_t isJump;
  uint8_t targetIsRelative;
  Address target;
  Address targetOperandAddress;
  Address targetSlotAddress;
  uint32_t targetOperandSize;
  uint8_t widenable;
  uint8_t reserved2[3];
  Address instructionStart;
  Address nextInstruction;
};
static_assert(sizeof(InstructionInfo) == 36);

// Known constants per register (eax, ecx, edx, ebx, esp, ebp, esi, edi): 0 = unknown, otherwise the code
// address of the 32-bit immediate the register was loaded from.
struct RegisterState {
  Address entry[8] = {};
  bool operator==(const RegisterState&) const = default;
  void Clear() { *this = RegisterState{}; }
  // Keeps the entries both states agree on.
  void MergeWith(const RegisterState& other) {
    for (int i = 0; i < 8; ++i)
      if (entry[i] != other.entry[i]) entry[i] = 0;
  }
};

// Everything the decoder learnt about an instruction; the text form and the analyser read the details.
struct DecodedInstruction {
  InstructionInfo info;
  uint16_t flags;           // table flag word in effect (group entry for group opcodes)
  uint8_t mnemonic;         // 1-based index into the mnemonic list, 0 = none
  uint8_t prefix66, prefix67, prefixLock, prefixF2, prefixF3;
  int8_t segment;           // -1 none, else 0..5 = es, cs, ss, ds, fs, gs
  uint8_t hasModrm;
  uint8_t mod, reg, rm;
  int8_t base, index;       // -1 = none; 16-bit addressing uses base/index pairs of the rm table
  uint8_t scale;            // 1, 2, 4, 8
  uint8_t dispSize;         // 0, 1, 2, 4
  int32_t disp;
  Address dispAddress;
  uint8_t immSize;          // bytes of the immediate (all parts)
  int64_t imm;              // sign-extended for 1- and 2-byte immediates
  Address immAddress;
  uint8_t suffix;           // 3DNow! suffix byte
  uint8_t length;
  bool IsMemory() const { return hasModrm && mod != 3; }
};

// Looks up names of functions and source lines; installed by the symbol data reader.
using FunctionNameHook = std::function<std::wstring(Address)>;
using LineNumberHook = std::function<bool(Address, uint32_t& line, Address& low, Address& high)>;
void SetFunctionNameHook(FunctionNameHook hook);
void SetLineNumberHook(LineNumberHook hook);
const FunctionNameHook& FunctionNameResolver();
const LineNumberHook& LineNumberResolver();

// Decodes one instruction at address. With regs and track set the state is updated by the instruction.
bool DecodeInstruction(const MemoryReader& memory, Address address, InstructionInfo& info,
                       RegisterState* regs = nullptr, bool track = false);
bool DecodeDetailed(const MemoryReader& memory, Address address, DecodedInstruction& out,
                    RegisterState* regs = nullptr, bool track = false);

// Applies what a decoded, valid instruction does to the known register constants.
void TrackRegisterEffects(const DecodedInstruction& decoded, RegisterState& regs);

// Decodes and renders the one-line text ("db" lines for an invalid instruction).
void InstructionText(const MemoryReader& memory, Address address, std::string& text, RegisterState* regs,
                     InstructionInfo& info, bool track);
std::string InstructionText(const MemoryReader& memory, Address address);

// The name a listing shows for a call or jump target: export name (demangled), else the name hook, else the
// name of an import thunk's target; a module other than the main one adds " (file.dll)".
std::string TargetFunctionName(const MemoryReader& memory, Address target);

#ifdef _WIN32
// The running process, read through the safe reader (with a snapshot when one is given).
bool DecodeInstruction(Address address, InstructionInfo& info, RegisterState* regs, bool track,
                       const TDATryRead* snapshot);
void InstructionText(Address address, std::string& text, RegisterState* regs, InstructionInfo& info, bool track);
#endif

}  // namespace rvx
