// The decoder on hand-made bytes: lengths, validity, targets, register tracking and the text form.
#include <gtest/gtest.h>

#include "crash/stack/decoder.h"
#include "crash/stack/module.h"
#include "crash/stack/safe_read.h"

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

struct Code {
  explicit Code(const char* hex, Address at = 0x45A2B3) : bytes(Hex(hex)), memory(at, bytes.data(), bytes.size()), at(at) {}
  std::vector<uint8_t> bytes;
  BufferReader memory;
  Address at;
  InstructionInfo Decode(RegisterState* regs = nullptr, bool track = false, Address where = 0) const {
    InstructionInfo info;
    DecodeInstruction(memory, where ? where : at, info, regs, track);
    return info;
  }
  std::string Text() const { return InstructionText(memory, at); }
};

std::string Text(const char* hex, Address at = 0x45A2B3) { return Code(hex, at).Text(); }
unsigned Length(const char* hex) {
  InstructionInfo i = Code(hex).Decode();
  return i.valid ? i.nextInstruction - i.instructionStart : 0;
}

TEST(DecoderText, ExamplesOfTheListing) {
  EXPECT_EQ(Text("83 C4 F8"), "0045a2b3   add     esp, -8");
  EXPECT_EQ(Text("8B 45 08"), "0045a2b3   mov     eax, [ebp+8]");
  EXPECT_EQ(Text("64 89 20"), "0045a2b3   mov     fs:[eax], esp");
}

TEST(DecoderText, OperandForms) {
  EXPECT_EQ(Text("C7 44 24 04 74 86 50 00", 0x401000), "00401000   mov     dword ptr [esp+4], $508674");
  EXPECT_EQ(Text("8B 04 85 10 20 30 40", 0x401000), "00401000   mov     eax, [eax*4+$40302010]");
  EXPECT_EQ(Text("8D 44 24 E4", 0x401000), "00401000   lea     eax, [esp-$1c]");
  EXPECT_EQ(Text("6A F8", 0x401000), "00401000   push    $fffffff8");
  EXPECT_EQ(Text("6A 05", 0x401000), "00401000   push    5");
  EXPECT_EQ(Text("81 EC 00 01 00 00", 0x401000), "00401000   sub     esp, $100");
  EXPECT_EQ(Text("64 A1 18 00 00 00", 0x401000), "00401000   mov     eax, fs:[$18]");
  EXPECT_EQ(Text("A3 00 10 40 00", 0x401000), "00401000   mov     [$401000], eax");
  EXPECT_EQ(Text("D1 E0", 0x401000), "00401000   shl     eax, 1");
  EXPECT_EQ(Text("D3 E8", 0x401000), "00401000   shr     eax, cl");
  EXPECT_EQ(Text("0F A5 C2", 0x401000), "00401000   shld    edx, eax, cl");
  EXPECT_EQ(Text("C8 10 00 01", 0x401000), "00401000   enter   $10, 1");
  EXPECT_EQ(Text("C8 08 00 00", 0x401000), "00401000   enter   8");
  EXPECT_EQ(Text("9A 11 22 33 44 55 66", 0x401000), "00401000   call    $6655:$44332211");
  EXPECT_EQ(Text("66 89 C8", 0x401000), "00401000   mov     ax, cx");
  EXPECT_EQ(Text("0F B6 C1", 0x401000), "00401000   movzx   eax, cl");
  EXPECT_EQ(Text("0F B7 45 08", 0x401000), "00401000   movzx   eax, word ptr [ebp+8]");
  EXPECT_EQ(Text("67 8B 00", 0x401000), "00401000   mov     eax, [bx+si]");
  EXPECT_EQ(Text("F3 A5", 0x401000), "00401000   rep movsd");
  EXPECT_EQ(Text("66 A5", 0x401000), "00401000   movsw");
  EXPECT_EQ(Text("F0 0F B1 0A", 0x401000), "00401000   lock cmpxchg [edx], ecx");
  EXPECT_EQ(Text("0F 94 C0", 0x401000), "00401000   setz    al");
  EXPECT_EQ(Text("0F 4C C1", 0x401000), "00401000   cmovl   eax, ecx");
  EXPECT_EQ(Text("0F A0", 0x401000), "00401000   push    fs");
  EXPECT_EQ(Text("1F", 0x401000), "00401000   pop     ds");
  EXPECT_EQ(Text("CC", 0x401000), "00401000   int     3");
}

TEST(DecoderText, RelativeTargets) {
  EXPECT_EQ(Text("EB FE", 0x401000), "00401000   jmp     -2 ($401000)");
  EXPECT_EQ(Text("74 10", 0x401000), "00401000   jz      +$10 ($401012)");
  EXPECT_EQ(Text("0F 8C 00 01 00 00", 0x401000), "00401000   jl      +$100 ($401106)");
  EXPECT_EQ(Text("E8 00 00 00 00", 0x401000), "00401000   call    +0 ($401005)");
}

TEST(DecoderText, FpuAndSimdMnemonics) {
  EXPECT_EQ(Text("D9 EE"), "0045a2b3   fldz");
  EXPECT_EQ(Text("DF E0"), "0045a2b3   fnstsw  ax");
  EXPECT_EQ(Text("DD 45 F8"), "0045a2b3   fld     qword ptr [ebp-8]");
  EXPECT_EQ(Text("DB 6D F0"), "0045a2b3   fld     tbyte ptr [ebp-$10]");
  EXPECT_EQ(Text("D8 E1"), "0045a2b3   fsub    st, st(1)");
  EXPECT_EQ(Text("DC E9"), "0045a2b3   fsub    st(1), st");
  EXPECT_EQ(Text("DE E9"), "0045a2b3   fsubp   st(1), st");
  EXPECT_EQ(Text("DB E2"), "0045a2b3   fnclex");
  EXPECT_EQ(Text("0F 58 C1"), "0045a2b3   addps   xmm0, xmm1");
  EXPECT_EQ(Text("66 0F 58 C1"), "0045a2b3   addpd   xmm0, xmm1");
  EXPECT_EQ(Text("F2 0F 58 C1"), "0045a2b3   addsd   xmm0, xmm1");
  EXPECT_EQ(Text("F3 0F 58 C1"), "0045a2b3   addss   xmm0, xmm1");
  EXPECT_EQ(Text("F2 0F 10 45 F8"), "0045a2b3   movsd   xmm0, [ebp-8]");
  EXPECT_EQ(Text("F3 0F 5A C1"), "0045a2b3   cvtss2sd xmm0, xmm1");
  EXPECT_EQ(Text("66 0F 6F 05 10 20 30 40"), "0045a2b3   movdqa  xmm0, [$40302010]");
  EXPECT_EQ(Text("0F 6F C1"), "0045a2b3   movq    mm0, mm1");
  EXPECT_EQ(Text("0F 12 C1"), "0045a2b3   movhlps xmm0, xmm1");
  EXPECT_EQ(Text("0F 12 00"), "0045a2b3   movlps  xmm0, [eax]");
  EXPECT_EQ(Text("0F 0F C1 9E"), "0045a2b3   pfadd   mm0, mm1");
  EXPECT_EQ(Text("0F AE F8"), "0045a2b3   sfence");
  EXPECT_EQ(Text("0F AE 38"), "0045a2b3   clflush [eax]");
  EXPECT_EQ(Text("0F 73 D0 05"), "0045a2b3   psrlq   mm0, 5");
  EXPECT_EQ(Text("F2 0F 2C C1"), "0045a2b3   cvttsd2si eax, xmm1");
}

TEST(DecoderText, InvalidBytesAreListedAsData) {
  EXPECT_EQ(Text("0F 0B"), "0045a2b3   db $0f\r\n0045a2b4   db $0b");
  EXPECT_EQ(Text("8D C0"), "0045a2b3   db $8d\r\n0045a2b4   db $c0");
}

TEST(DecoderLength, PrefixesModrmSibAndImmediates) {
  EXPECT_EQ(Length("90"), 1u);
  EXPECT_EQ(Length("0F 1F 44 00 00"), 5u);
  EXPECT_EQ(Length("66 0F 1F 84 00 00 00 00 00"), 9u);
  EXPECT_EQ(Length("8B 84 24 00 01 00 00"), 7u);
  EXPECT_EQ(Length("8B 04 25 00 01 00 00"), 7u) << "SIB without base";
  EXPECT_EQ(Length("8B 05 00 01 00 00"), 6u);
  EXPECT_EQ(Length("67 8B 06 00 01"), 5u) << "16-bit addressing, rm 6 without base";
  EXPECT_EQ(Length("67 8B 46 01"), 4u);
  EXPECT_EQ(Length("66 B8 01 02"), 4u);
  EXPECT_EQ(Length("66 E8 01 02"), 4u);
  EXPECT_EQ(Length("67 A1 00 01"), 4u);
  EXPECT_EQ(Length("EA 00 00 00 00 08 00"), 7u);
  EXPECT_EQ(Length("66 EA 00 00 08 00"), 6u);
  EXPECT_EQ(Length("F6 C1 01"), 3u) << "test r/m8, imm8";
  EXPECT_EQ(Length("F6 D1"), 2u) << "not r/m8";
  EXPECT_EQ(Length("F7 05 00 10 40 00 01 00 00 00"), 10u);
  EXPECT_EQ(Length("69 C0 00 01 00 00"), 6u);
  EXPECT_EQ(Length("C2 08 00"), 3u);
  EXPECT_EQ(Length("0F BA E0 05"), 4u);
  EXPECT_EQ(Length("0F C2 C1 01"), 4u);
  EXPECT_EQ(Length("26 2E 36 3E 64 65 8B 00"), 8u);
  // More than 15 bytes never form an instruction.
  EXPECT_EQ(Length("66 66 66 66 66 66 66 66 66 66 66 66 66 66 90"), 15u);
  EXPECT_EQ(Length("66 66 66 66 66 66 66 66 66 66 66 66 66 66 66 90"), 0u);
  // Running out of bytes is invalid, never a read past the end.
  EXPECT_EQ(Length("E8 00 00"), 0u);
  EXPECT_EQ(Length("0F"), 0u);
}

TEST(DecoderValidity, Rules) {
  EXPECT_EQ(Length("0F 0B"), 0u);
  EXPECT_EQ(Length("8D C0"), 0u);
  EXPECT_EQ(Length("8D 00"), 2u);
  EXPECT_EQ(Length("62 C0"), 0u);
  EXPECT_EQ(Length("C4 C0"), 0u);
  EXPECT_EQ(Length("8C F0"), 0u) << "segment register 6";
  EXPECT_EQ(Length("8E D8"), 2u);
  EXPECT_EQ(Length("D9 D1"), 0u);
  EXPECT_EQ(Length("D9 D0"), 2u);
  EXPECT_EQ(Length("DA E9"), 2u);
  EXPECT_EQ(Length("DA E8"), 0u);
  EXPECT_EQ(Length("DB E5"), 0u);
  EXPECT_EQ(Length("DF E0"), 2u);
  EXPECT_EQ(Length("DF E1"), 0u);
  EXPECT_EQ(Length("FE C0"), 2u);
  EXPECT_EQ(Length("FE D0"), 0u);
  EXPECT_EQ(Length("FF F8"), 0u);
  EXPECT_EQ(Length("FF D8"), 0u) << "far call needs memory";
  EXPECT_EQ(Length("FF 18"), 2u);
  EXPECT_EQ(Length("0F 00 F0"), 0u);
  EXPECT_EQ(Length("0F 01 C8"), 0u);
  EXPECT_EQ(Length("0F 01 E0"), 3u) << "smsw eax";
  EXPECT_EQ(Length("0F 0D 00"), 3u);
  EXPECT_EQ(Length("0F 0D 10"), 0u);
  EXPECT_EQ(Length("0F 0F C1 9E"), 4u);
  EXPECT_EQ(Length("0F 0F C1 9F"), 0u) << "not a 3DNow! suffix";
  EXPECT_EQ(Length("0F 18 00"), 3u);
  EXPECT_EQ(Length("0F 18 20"), 0u);
  EXPECT_EQ(Length("0F 20 C0"), 3u);
  EXPECT_EQ(Length("0F 20 00"), 0u);
  EXPECT_EQ(Length("0F 6C C1"), 0u);
  EXPECT_EQ(Length("66 0F 6C C1"), 4u);
  EXPECT_EQ(Length("0F 71 D0 01"), 4u);
  EXPECT_EQ(Length("0F 71 C0 01"), 0u);
  EXPECT_EQ(Length("66 0F 73 D8 01"), 5u) << "psrldq";
  EXPECT_EQ(Length("0F 7C C1"), 0u);
  EXPECT_EQ(Length("F2 0F 7C C1"), 4u);
  EXPECT_EQ(Length("0F AE 00"), 3u);
  EXPECT_EQ(Length("0F AE E8"), 3u) << "lfence";
  EXPECT_EQ(Length("0F AE C0"), 0u);
  EXPECT_EQ(Length("0F C7 08"), 3u);
  EXPECT_EQ(Length("0F C7 C8"), 0u);
  EXPECT_EQ(Length("0F BA C0 01"), 0u);
  EXPECT_EQ(Length("0F D6 C1"), 0u);
  EXPECT_EQ(Length("66 0F D6 C1"), 4u);
  EXPECT_EQ(Length("0F F0 00"), 0u);
  EXPECT_EQ(Length("F2 0F F0 00"), 4u);
  for (const char* invalid : {"0F 04", "0F 0A", "0F 19 00", "0F 24 C0", "0F 38 00 C1", "0F 78 C0", "0F B9 C0"})
    EXPECT_EQ(Length(invalid), 0u) << invalid;
  // The lock prefix only on read-modify-write instructions with a memory destination.
  EXPECT_EQ(Length("F0 01 08"), 3u);
  EXPECT_EQ(Length("F0 01 C8"), 0u);
  EXPECT_EQ(Length("F0 8B 00"), 0u);
}

TEST(DecoderTargets, CallsJumpsAndSlots) {
  Code self("E8 00 00 00 00", 0x401000);
  InstructionInfo i = self.Decode();
  EXPECT_TRUE(i.valid);
  EXPECT_EQ(i.nextInstruction, 0x401005u);
  EXPECT_FALSE(i.isCall || i.isJump || i.target || i.targetOperandAddress || i.targetOperandSize);

  Code call("E8 FB 0F 00 00", 0x401000);
  i = call.Decode();
  EXPECT_TRUE(i.isCall && i.targetIsRelative && i.widenable);
  EXPECT_EQ(i.target, 0x402000u);
  EXPECT_EQ(i.targetOperandAddress, 0x401001u);
  EXPECT_EQ(i.targetOperandSize, 4u);

  Code loop("E2 FE", 0x401000);
  i = loop.Decode();
  EXPECT_TRUE(i.isJump && !i.widenable);
  EXPECT_EQ(i.targetOperandSize, 1u);

  // call [slot] reads the slot; an unreadable slot makes the instruction invalid; fs: reads nothing.
  Code slot("FF 15 08 10 40 00 00 00 78 56 34 12", 0x401000);
  i = slot.Decode();
  EXPECT_TRUE(i.valid && i.isCall);
  EXPECT_EQ(i.targetSlotAddress, 0x401008u);
  EXPECT_EQ(i.target, 0x12345678u);
  EXPECT_EQ(i.targetOperandSize, 4u);
  EXPECT_TRUE(i.widenable);
  EXPECT_FALSE(Code("FF 15 00 00 50 00", 0x401000).Decode().valid);
  i = Code("64 FF 15 00 00 50 00", 0x401000).Decode();
  EXPECT_TRUE(i.valid && i.isCall);
  EXPECT_EQ(i.target, 0u);
  EXPECT_EQ(Code("FF 25 00 00 50 00", 0x401000).Decode().valid, 0);
  i = Code("FF 24 85 00 00 50 00", 0x401000).Decode();
  EXPECT_TRUE(i.valid && i.isJump);
  EXPECT_EQ(i.targetOperandSize, 0u) << "indexed jump has no known target";

  i = Code("9A 11 22 33 44 55 66", 0x401000).Decode();
  EXPECT_TRUE(i.isCall);
  EXPECT_EQ(i.target, 0u);
}

TEST(DecoderTargets, RegisterTracking) {
  // mov eax, imm32; call eax
  Code code("B8 78 56 34 12 FF D0", 0x401000);
  RegisterState regs;
  InstructionInfo i = code.Decode(&regs, true);
  EXPECT_EQ(regs.entry[0], 0x401001u);
  i = code.Decode(&regs, true, 0x401005);
  EXPECT_TRUE(i.isCall);
  EXPECT_EQ(i.target, 0x12345678u);
  EXPECT_EQ(i.targetOperandAddress, 0x401001u);
  EXPECT_EQ(i.targetOperandSize, 4u);

  // mov esi, imm32 (pointing at a slot); call [esi]
  Code viaSlot("BE 0C 10 40 00 FF 16 00 00 00 00 00 EF BE AD DE", 0x401000);
  regs.Clear();
  viaSlot.Decode(&regs, true);
  i = viaSlot.Decode(&regs, true, 0x401005);
  EXPECT_EQ(i.targetSlotAddress, 0x401001u);
  EXPECT_EQ(i.target, 0xDEADBEEFu);

  auto after = [](const char* hex) {
    Code c(hex, 0x401000);
    RegisterState r;
    for (int k = 0; k < 8; ++k) r.entry[k] = 0x1000 + k;
    c.Decode(&r, true);
    return r;
  };
  EXPECT_EQ(after("89 C8").entry[0], 0u) << "mov eax, ecx clears eax";
  EXPECT_EQ(after("8B C1").entry[0], 0x1001u) << "mov eax, ecx copies the entry";
  EXPECT_EQ(after("8B 01").entry[0], 0u);
  EXPECT_EQ(after("01 C8").entry[1], 0x1001u) << "add eax, ecx leaves ecx";
  EXPECT_EQ(after("01 C8").entry[0], 0u);
  EXPECT_EQ(after("83 C0 01").entry[0], 0u);
  EXPECT_EQ(after("83 F8 01").entry[0], 0x1000u) << "cmp changes nothing";
  EXPECT_EQ(after("99").entry[2], 0u);
  EXPECT_EQ(after("F3 AB").entry[1], 0u) << "rep clears ecx";
  EXPECT_EQ(after("F3 AB").entry[7], 0u);
  EXPECT_EQ(after("61").entry[3], 0u);
  EXPECT_EQ(after("0F A2").entry[3], 0u);
  EXPECT_EQ(after("0F A2").entry[5], 0x1005u);
  EXPECT_EQ(after("B4 01").entry[0], 0u) << "mov ah changes eax, not esp";
  EXPECT_EQ(after("B4 01").entry[4], 0x1004u);
  EXPECT_EQ(after("5E").entry[6], 0u);
  EXPECT_EQ(after("92").entry[0], 0u) << "xchg eax, edx";
  EXPECT_EQ(after("92").entry[2], 0u);
  EXPECT_EQ(after("F7 E1").entry[2], 0u) << "mul clears edx";
  EXPECT_EQ(after("C9").entry[5], 0u);

  RegisterState a, b;
  a.entry[0] = 5;
  a.entry[1] = 6;
  b.entry[0] = 5;
  b.entry[1] = 7;
  a.MergeWith(b);
  EXPECT_EQ(a.entry[0], 5u);
  EXPECT_EQ(a.entry[1], 0u);
}

TEST(SafeReadSnapshot, SearchAndClassification) {
  TDATryRead s;
  AppendSnapshotRegion(s, 0, 0x10000, kNotReadable);
  AppendSnapshotRegion(s, 0x10000, 0x20000, kReadable);
  AppendSnapshotRegion(s, 0x20000, 0x30000, kReadable);  // merged with the previous one
  AppendSnapshotRegion(s, 0x30000, 0x31000, kExecuteOnly);
  for (Address a = 0x31000; a < 0x80000000u - 0x1000000; a += 0x1000000)
    AppendSnapshotRegion(s, a, a + 0x1000000, (a >> 24) % 2 ? kReadable : kNotReadable);
  EXPECT_EQ(s[1].end, 0x30000u);
  EXPECT_EQ(SnapshotAccess(s, 0x10000, 4), kReadable);
  EXPECT_EQ(SnapshotAccess(s, 0x2FFFC, 4), kReadable);
  EXPECT_EQ(SnapshotAccess(s, 0x2FFFE, 4), kNotReadable) << "crosses into another region";
  EXPECT_EQ(SnapshotAccess(s, 0x30010, 4), kExecuteOnly);
  EXPECT_EQ(SnapshotAccess(s, 0x8000, 4), kNotReadable);
  for (const TryReadRegion& r : s) {
    EXPECT_EQ(SnapshotAccess(s, r.start, 1), r.access);
    EXPECT_EQ(SnapshotAccess(s, r.end - 1, 1), r.access);
  }
  EXPECT_EQ(ClassifyRegion(0x1000, 0x04), kReadable);
  EXPECT_EQ(ClassifyRegion(0x1000, 0x10), kExecuteOnly);
  EXPECT_EQ(ClassifyRegion(0x1000, 0x104), kNotReadable) << "guard page";
  EXPECT_EQ(ClassifyRegion(0x2000, 0x04), kNotReadable) << "reserved";
  EXPECT_EQ(ClassifyRegion(0x1000, 0x01), kNotReadable);
}

TEST(Demangle, FrameworkNames) {
  std::string name = "@Forms@TApplication@HandleException$qqrp14System@TObject", unit;
  EXPECT_TRUE(DemangleName(name, unit));
  EXPECT_EQ(unit, "Forms");
  EXPECT_EQ(name, "TApplication.HandleException");
  name = "@Classes@TList@$bctr$qqrv";
  EXPECT_TRUE(DemangleName(name, unit));
  EXPECT_EQ(unit, "Classes");
  EXPECT_EQ(name, "TList.Create");
  name = "@Classes@TList@$bdtr$qqrv";
  EXPECT_TRUE(DemangleName(name, unit));
  EXPECT_EQ(name, "TList.Destroy");
  name = "Foo::Bar";
  EXPECT_FALSE(DemangleName(name, unit));
  EXPECT_EQ(name, "Foo.Bar");
  EXPECT_EQ(unit, "");
}

TEST(Demangle, OurCompilersNames) {
  auto d = [](std::string n) {
    std::string unit;
    return DemangleName(n, unit) ? n : "<failed>";
  };
  EXPECT_EQ(d("_ZN3rvx17DecodeInstructionERKNS_12MemoryReaderEjRNS_15InstructionInfoEPNS_13RegisterStateEb"),
            "rvx.DecodeInstruction");
  EXPECT_EQ(d("_ZN7testing8internal27PrettyUnitTestResultPrinter21PrintFailedTestSuitesERKNS_8UnitTestE"),
            "testing.internal.PrettyUnitTestResultPrinter.PrintFailedTestSuites");
  EXPECT_EQ(d("_ZN3FooC2Ev"), "Foo.Foo");
  EXPECT_EQ(d("_ZN3FooD1Ev"), "Foo.~Foo");
  EXPECT_EQ(d("_Z4mainv"), "main");
  EXPECT_EQ(d("_ZNSt6vectorIiSaIiEE9push_backERKi"), "std.vector.push_back");
  EXPECT_EQ(d("_ZN12_GLOBAL__N_15Local3RunEv"), "Local.Run");
  EXPECT_EQ(d("_Z"), "<failed>");
  EXPECT_EQ(d("_ZN3Foo"), "<failed>");
}

TEST(ModuleTexts, VersionAndTicks) {
  EXPECT_EQ(FileVersionText(0x00050002, 0x0003000A), "5.2.3.10");
  EXPECT_EQ(TicksBetween(100, 250), 150u);
  EXPECT_EQ(TicksBetween(0xFFFFFF00u, 0x10), 0x10u + 0x100u - 1) << "across the wrap";
}

}  // namespace
