// Opcode tables of the decoder (constant data). See opcode_tables.h for the flag word layout.
#include "crash/stack/opcode_tables.h"

#include <array>
#include <string_view>

namespace rvx::optab {

extern constexpr const char* const kMnemonicList[kMnemonicCount + 1] = {
    "",
    "aaa",  // 1
    "aad",  // 2
    "aam",  // 3
    "aas",  // 4
    "adc",  // 5
    "add",  // 6
    "addPS",  // 7
    "and",  // 8
    "andnPS",  // 9
    "arpl",  // 10
    "bound",  // 11
    "bsf",  // 12
    "bsr",  // 13
    "bswap",  // 14
    "bt",  // 15
    "btc",  // 16
    "btr",  // 17
    "bts",  // 18
    "call",  // 19
    "clc",  // 20
    "cld",  // 21
    "cli",  // 22
    "clts",  // 23
    "cmc",  // 24
    "cmov%cc",  // 25
    "cmp",  // 26
    "cmpPS",  // 27
    "cmpsb",  // 28
    "cmpxchg",  // 29
    "cmpxchg8b",  // 30
    "comisS",  // 31
    "cpuid",  // 32
    "cvtPi2PS",  // 33
    "cvtPS2Pi",  // 34
    "cvttPS2Pi",  // 35
    "daa",  // 36
    "das",  // 37
    "dec",  // 38
    "divPS",  // 39
    "emms",  // 40
    "enter",  // 41
    "femms",  // 42
    "hlt",  // 43
    "imul",  // 44
    "in",  // 45
    "inc",  // 46
    "insb",  // 47
    "int",  // 48
    "int     3",  // 49
    "int01",  // 50
    "into",  // 51
    "invd",  // 52
    "iret",  // 53
    "j%cc",  // 54
    "jecxz",  // 55
    "jmp",  // 56
    "lahf",  // 57
    "lar",  // 58
    "lds",  // 59
    "lea",  // 60
    "leave",  // 61
    "les",  // 62
    "lfs",  // 63
    "lgs",  // 64
    "sysret",  // 65
    "lodsb",  // 66
    "loop",  // 67
    "loope",  // 68
    "loopne",  // 69
    "lsl",  // 70
    "lss",  // 71
    "maxPS",  // 72
    "minPS",  // 73
    "mov",  // 74
    "movaPS",  // 75
    "movd",  // 76
    "movhPS",  // 77
    "movlPS",  // 78
    "movmskPS",  // 79
    "movnti",  // 80
    "movntPS",  // 81
    "movsb",  // 82
    "movsx",  // 83
    "movzx",  // 84
    "mulPS",  // 85
    "nop",  // 86
    "or",  // 87
    "orPS",  // 88
    "out",  // 89
    "outsb",  // 90
    "packssdw",  // 91
    "packsswb",  // 92
    "packuswb",  // 93
    "paddb",  // 94
    "paddd",  // 95
    "paddq",  // 96
    "paddsb",  // 97
    "paddsw",  // 98
    "paddusb",  // 99
    "paddusw",  // 100
    "paddw",  // 101
    "pand",  // 102
    "pandn",  // 103
    "pavgb",  // 104
    "pavgw",  // 105
    "pcmpeqb",  // 106
    "pcmpeqd",  // 107
    "pcmpeqw",  // 108
    "pcmpgtb",  // 109
    "pcmpgtd",  // 110
    "pcmpgtw",  // 111
    "pextrw",  // 112
    "pinsrw",  // 113
    "pmaddwd",  // 114
    "pmaxsw",  // 115
    "pmaxub",  // 116
    "pminsw",  // 117
    "pminub",  // 118
    "pmovmskb",  // 119
    "pmulhuw",  // 120
    "pmulhw",  // 121
    "pmullw",  // 122
    "pmuludq",  // 123
    "pop",  // 124
    "por",  // 125
    "psadbw",  // 126
    "pslld",  // 127
    "psllq",  // 128
    "psllw",  // 129
    "psrad",  // 130
    "psraw",  // 131
    "psrld",  // 132
    "psrlq",  // 133
    "psrlw",  // 134
    "psubb",  // 135
    "psubd",  // 136
    "psubq",  // 137
    "psubsb",  // 138
    "psubsw",  // 139
    "psubusb",  // 140
    "psubusw",  // 141
    "psubw",  // 142
    "punpckhbw",  // 143
    "punpckhdq",  // 144
    "punpckhqdq",  // 145
    "punpckhwd",  // 146
    "punpcklbw",  // 147
    "punpckldq",  // 148
    "punpcklwd",  // 149
    "punpcklqdq",  // 150
    "push",  // 151
    "pxor",  // 152
    "rcpPS",  // 153
    "rdmsr",  // 154
    "rdpmc",  // 155
    "rdtsc",  // 156
    "ret",  // 157
    "rsm",  // 158
    "rsqrtPS",  // 159
    "sahf",  // 160
    "salc",  // 161
    "sbb",  // 162
    "scasb",  // 163
    "set%cc",  // 164
    "shld",  // 165
    "shrd",  // 166
    "shufPS",  // 167
    "sqrtPS",  // 168
    "stc",  // 169
    "std",  // 170
    "sti",  // 171
    "stosb",  // 172
    "sub",  // 173
    "subPS",  // 174
    "syscall",  // 175
    "sysenter",  // 176
    "sysexit",  // 177
    "test",  // 178
    "ucomisS",  // 179
    "unpckhPS",  // 180
    "unpcklPS",  // 181
    "wait",  // 182
    "wbinvd",  // 183
    "wrmsr",  // 184
    "xadd",  // 185
    "xchg",  // 186
    "xlat",  // 187
    "xor",  // 188
    "xorPS",  // 189
    "cwde/cbw",  // 190
    "cdq/cwd",  // 191
    "pop     %seg",  // 192
    "popad/popa",  // 193
    "popfd/popf",  // 194
    "push    %seg",  // 195
    "pushad/pusha",  // 196
    "pushfd/pushf",  // 197
    "outsd/outsw",  // 198
    "insd/insw",  // 199
    "movsd/movsw",  // 200
    "cmpsd/cmpsw",  // 201
    "lodsd/lodsw",  // 202
    "stosd/stosw",  // 203
    "scasd/scasw",  // 204
    "maskmovq/maskmovdqu",  // 205
    "movd///movq",  // 206
    "movntq/movntdq",  // 207
    "movq//movdq2q/movq2dq",  // 208
    "movq/movdqa//movdqu",  // 209
    "movuPS//movPS/movPS",  // 210
    "prefetch|prefetchw",  // 211
    "pshufw/pshufd/pshuflw/pshufhw",  // 212
    "sgdt|sidt|lgdt|lidt|smsw||lmsw|invlpg",  // 213
    "sldt|str|lldt|ltr|verr|verw",  // 214
    "||||bt|bts|btr|btc",  // 215
    "||psrld||psrad||pslld",  // 216
    "||psrlq|psrldq|||psllq|pslldq",  // 217
    "||psrlw||psraw||psllw",  // 218
    "cvtdq2ps/cvtps2dq//cvttps2dq",  // 219
    "cvtPs2Pd/cvtPd2Ps/cvtPd2Ps",  // 220
    "cvttpd2dq//cvtpd2dq/cvtdq2pd",  // 221
    "add|or|adc|sbb|and|sub|xor|cmp",  // 222
    "inc|dec|call|call|jmp|jmp|push",  // 223
    "rol|ror|rcl|rcr|shl|shr|sal|sar",  // 224
    "test||not|neg|mul|imul|div|idiv",  // 225
    "add|mul|com|comp|sub|subr|div|divr|add|mul|com|comp|subr|sub|divr|div",  // 226
    "movhlPS:movlPS/movlPS/movddup/movsldup",  // 227
    "movlhPS:movhPS/movhPS/movlhPS:movhPS/movshdup",  // 228
    "prefetchnta|prefetcht0|prefetcht1|prefetcht2|prefetcht3",  // 229
    "fxsave|fxrstor|ldmxcsr|stmxcsr||lfence|mfence|sfence:clflush",  // 230
    "ld||st|stp|ldenv|ldcw|nstenv|nstcw|ld|xch|nop|stp1|chs-abs---tst-xam|ld1-ldl2t-ldl2e-ldpi-ldlg2-ldln2-ldz|2xm1-yl2x-ptan-patan-xtract-prem1-decstp-incstp|prem-yl2xp1-sqrt-sincos-rndint-scale-sin-cos",  // 231
    "iadd|imul|icom|icomp|isub|isubr|idiv|idivr|cmovb|cmove|cmovbe|cmovu||ucompp",  // 232
    "ild|isttp|ist|istp||ld||stp|cmovnb|cmovne|cmovnbe|cmovnu|neni-ndisi-nclex-ninit-nsetpm|ucomi|comi",  // 233
    "ld|isttp|st|stp|rstor||nsave|nstsw|free|xch4|st|stp|ucom|ucomp",  // 234
    "iadd|imul|icom|icomp|isub|isubr|idiv|idivr|addp|mulp|comp5|compp|subrp|subp|divrp|divp",  // 235
    "ild|isttp|ist|istp|bld|ild|bstp|istp|freep|xch7|stp8|stp9|nstsw  ax|ucomip|comip",  // 236
    "andPS",  // 237
    "addsubpd",  // 238
    "haddpd",  // 239
    "hsubpd",  // 240
    "lddqu",  // 241
};

namespace {

// 1-based index of a mnemonic list entry, checked at compile time.
consteval uint8_t M(std::string_view name) {
  for (int i = 1; i <= kMnemonicCount; ++i)
    if (std::string_view(kMnemonicList[i]) == name) return static_cast<uint8_t>(i);
  throw "unknown mnemonic";
}

constexpr uint16_t X = kInvalid;

}  // namespace


const char* const kConditionCodes[16] = {"o", "no", "b", "nb", "z", "nz", "be", "a",
                                         "s", "ns", "p", "np", "l", "ge", "le", "g"};

// clang-format off
const uint16_t kOneByteOpcodeFlags[256] = {
  // 00 add..push/pop es, or, push cs, (0F escape)
  0x4211, 0x42E4, 0x2011, 0x20E4, 0x8401, 0x8C42, 0x0000, 0x0000,
  0x4211, 0x42E4, 0x2011, 0x20E4, 0x8401, 0x8C42, 0x0000, 0x0000,
  // 10 adc, push/pop ss, sbb, push/pop ds
  0x4211, 0x42E4, 0x2011, 0x20E4, 0x8401, 0x8C42, 0x0000, 0x0000,
  0x4211, 0x42E4, 0x2011, 0x20E4, 0x8401, 0x8C42, 0x0000, 0x0000,
  // 20 and, es:, daa, sub, cs:, das
  0x4211, 0x42E4, 0x2011, 0x20E4, 0x8401, 0x8C42, 0x0000, 0x8000,
  0x4211, 0x42E4, 0x2011, 0x20E4, 0x8401, 0x8C42, 0x0000, 0x8000,
  // 30 xor, ss:, aaa, cmp, ds:, aas
  0x4211, 0x42E4, 0x2011, 0x20E4, 0x8401, 0x8C42, 0x0000, 0x8000,
  0x0211, 0x02E4, 0x0011, 0x00E4, 0x0401, 0x0C42, 0x0000, 0x8000,
  // 40 inc r32, dec r32
  0x6045, 0x6045, 0x6045, 0x6045, 0x6045, 0x6045, 0x6045, 0x6045,
  0x6045, 0x6045, 0x6045, 0x6045, 0x6045, 0x6045, 0x6045, 0x6045,
  // 50 push r32, pop r32
  0x0045, 0x0045, 0x0045, 0x0045, 0x0045, 0x0045, 0x0045, 0x0045,
  0x6045, 0x6045, 0x6045, 0x6045, 0x6045, 0x6045, 0x6045, 0x6045,
  // 60 pushad popad bound arpl fs: gs: 66 67 push imul push imul insb insd outsb outsd
  0x0000, 0x0000, 0x006C, 0x421A, 0x0000, 0x0000, 0x0000, 0x0000,
  0x0C00, 0x2CE4, 0x0400, 0x24E4, 0x0000, 0x0000, 0x0000, 0x0000,
  // 70 jcc rel8
  0x1400, 0x1400, 0x1400, 0x1400, 0x1400, 0x1400, 0x1400, 0x1400,
  0x1400, 0x1400, 0x1400, 0x1400, 0x1400, 0x1400, 0x1400, 0x1400,
  // 80 group 1, test, xchg, mov, mov sreg, lea, mov sreg, pop r/m
  0x0510, 0x0DA0, 0x0510, 0x05A0, 0x0211, 0x02E4, 0xA211, 0xA2E4,
  0x4211, 0x42E4, 0x2011, 0x20E4, 0x421B, 0x20E4, 0x001B, 0x41A0,
  // 90 nop, xchg eax, cwde cdq callf wait pushfd popfd sahf lahf
  0x0000, 0xE046, 0xE046, 0xE046, 0xE046, 0xE046, 0xE046, 0xE046,
  0x8000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x8000,
  // A0 mov moffs, string instructions, test
  0x8101, 0x8142, 0x0301, 0x0342, 0x0000, 0x0000, 0x0000, 0x0000,
  0x0401, 0x0C42, 0x0000, 0x0000, 0x8000, 0x8000, 0x0000, 0x0000,
  // B0 mov r8, imm8; mov r32, imm32
  0x6404, 0x6404, 0x6404, 0x6404, 0x6404, 0x6404, 0x6404, 0x6404,
  0x6C45, 0x6C45, 0x6C45, 0x6C45, 0x6C45, 0x6C45, 0x6C45, 0x6C45,
  // C0 shifts imm8, ret imm16, ret, les, lds, mov imm, enter, leave, retf, int 3, int, into, iret
  0x4510, 0x45A0, 0x0800, 0x0000, 0x20E4, 0x20E4, 0x4510, 0x4DA0,
  0x0000, 0x0000, 0x0800, 0x0000, 0x0000, 0x0400, 0x0000, 0x0000,
  // D0 shifts by 1 and cl, aam, aad, salc, xlat, FPU groups
  0x4110, 0x41A0, 0x4110, 0x41A0, 0x8400, 0x8400, 0x8000, 0x8000,
  0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008, 0x0008,
  // E0 loopne loope loop jecxz in out call jmp jmpf jmp in out
  0x1400, 0x1400, 0x1400, 0x1400, 0x8401, 0x8442, 0x0401, 0x0442,
  0x1C00, 0x1C00, 0x0000, 0x1400, 0x8007, 0x8047, 0x0007, 0x0047,
  // F0 lock int01 repne rep hlt cmc group 3, flags, group 4, group 5
  0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0008, 0x0008,
  0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x4110, 0x01A0,
};

const uint16_t kTwoByteOpcodeFlags[256] = {
  // 0F 00 group 6, group 7, lar, lsl, -, syscall, clts, sysret, invd, wbinvd, -, -, -, prefetch, femms, 3DNow!
  0x0118, 0x0020, 0x205C, 0x205C, X,      0x0000, 0x0000, 0x0000,
  0x0000, 0x0000, X,      X,      X,      0x0010, 0x0000, 0x052D,
  // 0F 10 SSE moves, unpck, prefetch hints, nop r/m
  0x003F, 0x023F, 0x003F, 0x023F, 0x003F, 0x003F, 0x003F, 0x023F,
  0x0010, X,      X,      X,      X,      X,      X,      0x01A0,
  // 0F 20 mov cr/dr, movaps, cvt, movntps, comiss
  0x4223, 0x4223, 0x0023, 0x0023, X,      X,      X,      X,
  0x003F, 0x023F, 0x002F, 0x023F, 0x003D, 0x003D, 0x003F, 0x003F,
  // 0F 30 wrmsr rdtsc rdmsr rdpmc sysenter sysexit
  0x0000, 0x8000, 0x8000, 0x8000, 0x0000, 0x0000, X,      X,
  X,      X,      X,      X,      X,      X,      X,      X,
  // 0F 40 cmovcc
  0x20E4, 0x20E4, 0x20E4, 0x20E4, 0x20E4, 0x20E4, 0x20E4, 0x20E4,
  0x20E4, 0x20E4, 0x20E4, 0x20E4, 0x20E4, 0x20E4, 0x20E4, 0x20E4,
  // 0F 50 movmskps, SSE arithmetic
  0x203C, 0x003F, 0x003F, 0x003F, 0x003F, 0x003F, 0x003F, 0x003F,
  0x003F, 0x003F, 0x003F, 0x003F, 0x003F, 0x003F, 0x003F, 0x003F,
  // 0F 60 MMX unpack and pack, movd, movq
  0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED,
  0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x0065, 0x00ED,
  // 0F 70 pshufw, shift groups, pcmpeq, emms, haddpd, hsubpd, movd, movq
  0x04ED, 0x04A8, 0x04A8, 0x04A8, 0x00ED, 0x00ED, 0x00ED, 0x0000,
  X,      X,      X,      X,      0x003F, 0x003F, 0x0265, 0x02ED,
  // 0F 80 jcc rel32
  0x1C00, 0x1C00, 0x1C00, 0x1C00, 0x1C00, 0x1C00, 0x1C00, 0x1C00,
  0x1C00, 0x1C00, 0x1C00, 0x1C00, 0x1C00, 0x1C00, 0x1C00, 0x1C00,
  // 0F 90 setcc
  0x4110, 0x4110, 0x4110, 0x4110, 0x4110, 0x4110, 0x4110, 0x4110,
  0x4110, 0x4110, 0x4110, 0x4110, 0x4110, 0x4110, 0x4110, 0x4110,
  // 0F A0 push fs, pop fs, cpuid, bt, shld, -, -, push gs, pop gs, rsm, bts, shrd, group 15, imul
  0x0000, 0x0000, 0x0000, 0x02E4, 0x46E4, 0x42E4, X,      X,
  0x0000, 0x0000, 0x0000, 0x42E4, 0x46E4, 0x42E4, 0x0020, 0x20E4,
  // 0F B0 cmpxchg, lss, btr, lfs, lgs, movzx, -, -, group 8, btc, bsf, bsr, movsx
  0xC211, 0xC2E4, 0x20E4, 0x42E4, 0x20E4, 0x20E4, 0x2154, 0x215C,
  X,      X,      0x05A0, 0x42E4, 0x20E4, 0x20E4, 0x2154, 0x215C,
  // 0F C0 xadd, cmpps, movnti, pinsrw, pextrw, shufps, group 9, bswap
  0xA211, 0xA2E4, 0x043F, 0x0224, 0x045D, 0x24AC, 0x043F, 0x8128,
  0x6005, 0x6005, 0x6005, 0x6005, 0x6005, 0x6005, 0x6005, 0x6005,
  // 0F D0 addsubpd, MMX/SSE2 integer
  0x003F, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x02ED, 0x20AC,
  0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED,
  // 0F E0
  0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x003F, 0x02ED,
  0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED,
  // 0F F0 lddqu, MMX/SSE2 integer, -
  0x003F, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED,
  0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, 0x00ED, X,
};

// Memory forms then register forms, indexed by the ModRM reg field.
const GroupRow kGroupOpcodeFlags[10] = {
  {0xF6, {0x0510, 0x0510, 0x4110, 0x4110, 0x8110, 0x8110, 0x8110, 0x8110},
         {0x0510, 0x0510, 0x4110, 0x4110, 0x8110, 0x8110, 0x8110, 0x8110}},
  {0xF7, {0x0DA0, 0x0DA0, 0x41A0, 0x41A0, 0x81A0, 0x81A0, 0x81A0, 0x81A0},
         {0x0DA0, 0x0DA0, 0x41A0, 0x41A0, 0x81A0, 0x81A0, 0x81A0, 0x81A0}},
  // D8: m32real; st, st(i)
  {0xD8, {0x0120, 0x0120, 0x0120, 0x0120, 0x0120, 0x0120, 0x0120, 0x0120},
         {0x0036, 0x0036, 0x0030, 0x0030, 0x0036, 0x0036, 0x0036, 0x0036}},
  // D9: fld, -, fst, fstp m32real, fldenv, fldcw, fnstenv, fnstcw; fld, fxch, fnop, fstp1, constants...
  {0xD9, {0x0120, X,      0x0120, 0x0120, 0x0020, 0x0118, 0x0020, 0x0118},
         {0x0030, 0x0030, 0x0000, 0x0030, 0x0000, 0x0000, 0x0000, 0x0000}},
  // DA: m32int; fcmov, -, fucompp
  {0xDA, {0x0120, 0x0120, 0x0120, 0x0120, 0x0120, 0x0120, 0x0120, 0x0120},
         {0x0036, 0x0036, 0x0036, 0x0036, X,      0x0000, X,      X}},
  // DB: fild, fisttp, fist, fistp m32int, -, fld m80, -, fstp m80; fcmovn, fneni.., fucomi, fcomi, -
  {0xDB, {0x0120, 0x0120, 0x0120, 0x0120, X,      0x0130, X,      0x0130},
         {0x0036, 0x0036, 0x0036, 0x0036, 0x0000, 0x0036, 0x0036, X}},
  // DC: m64real; st(i), st
  {0xDC, {0x0128, 0x0128, 0x0128, 0x0128, 0x0128, 0x0128, 0x0128, 0x0128},
         {0x0236, 0x0236, 0x0030, 0x0030, 0x0236, 0x0236, 0x0236, 0x0236}},
  // DD: fld, fisttp, fst, fstp m64, frstor, -, fnsave, fnstsw; ffree, fxch4, fst, fstp, fucom, fucomp, -, -
  {0xDD, {0x0128, 0x0128, 0x0128, 0x0128, 0x0020, X,      0x0020, 0x0118},
         {0x0030, 0x0030, 0x0030, 0x0030, 0x0030, 0x0030, X,      X}},
  // DE: m16int; faddp, fmulp, fcomp5, fcompp, fsubrp, fsubp, fdivrp, fdivp
  {0xDE, {0x0118, 0x0118, 0x0118, 0x0118, 0x0118, 0x0118, 0x0118, 0x0118},
         {0x0236, 0x0236, 0x0030, 0x0000, 0x0236, 0x0236, 0x0236, 0x0236}},
  // DF: fild, fisttp, fist, fistp m16, fbld m80, fild m64, fbstp m80, fistp m64; ffreep.., fnstsw ax, fucomip
  {0xDF, {0x0118, 0x0118, 0x0118, 0x0118, 0x0130, 0x0128, 0x0130, 0x0128},
         {0x0030, 0x0030, 0x0030, 0x0030, 0x0000, 0x0036, 0x0036, X}},
};
// clang-format on

namespace {
struct MnemonicRow {
  uint8_t first;
  uint8_t count;
  uint8_t index;
};
// One-byte opcode ranges and their mnemonics (0 for prefixes and the escape byte).
constexpr MnemonicRow kOneByteRows[] = {
    {0x00, 6, M("add")}, {0x06, 1, M("push    %seg")}, {0x07, 1, M("pop     %seg")}, {0x08, 6, M("or")},
    {0x0E, 1, M("push    %seg")}, {0x10, 6, M("adc")}, {0x16, 1, M("push    %seg")},
    {0x17, 1, M("pop     %seg")}, {0x18, 6, M("sbb")}, {0x1E, 1, M("push    %seg")},
    {0x1F, 1, M("pop     %seg")}, {0x20, 6, M("and")}, {0x27, 1, M("daa")}, {0x28, 6, M("sub")},
    {0x2F, 1, M("das")}, {0x30, 6, M("xor")}, {0x37, 1, M("aaa")}, {0x38, 6, M("cmp")}, {0x3F, 1, M("aas")},
    {0x40, 8, M("inc")}, {0x48, 8, M("dec")}, {0x50, 8, M("push")}, {0x58, 8, M("pop")},
    {0x60, 1, M("pushad/pusha")}, {0x61, 1, M("popad/popa")}, {0x62, 1, M("bound")}, {0x63, 1, M("arpl")},
    {0x68, 1, M("push")}, {0x69, 1, M("imul")}, {0x6A, 1, M("push")}, {0x6B, 1, M("imul")},
    {0x6C, 1, M("insb")}, {0x6D, 1, M("insd/insw")}, {0x6E, 1, M("outsb")}, {0x6F, 1, M("outsd/outsw")},
    {0x70, 16, M("j%cc")}, {0x80, 4, M("add|or|adc|sbb|and|sub|xor|cmp")}, {0x84, 2, M("test")},
    {0x86, 2, M("xchg")}, {0x88, 5, M("mov")}, {0x8D, 1, M("lea")}, {0x8E, 1, M("mov")}, {0x8F, 1, M("pop")},
    {0x90, 1, M("nop")}, {0x91, 7, M("xchg")}, {0x98, 1, M("cwde/cbw")}, {0x99, 1, M("cdq/cwd")},
    {0x9A, 1, M("call")}, {0x9B, 1, M("wait")}, {0x9C, 1, M("pushfd/pushf")}, {0x9D, 1, M("popfd/popf")},
    {0x9E, 1, M("sahf")}, {0x9F, 1, M("lahf")}, {0xA0, 4, M("mov")}, {0xA4, 1, M("movsb")},
    {0xA5, 1, M("movsd/movsw")}, {0xA6, 1, M("cmpsb")}, {0xA7, 1, M("cmpsd/cmpsw")}, {0xA8, 2, M("test")},
    {0xAA, 1, M("stosb")}, {0xAB, 1, M("stosd/stosw")}, {0xAC, 1, M("lodsb")}, {0xAD, 1, M("lodsd/lodsw")},
    {0xAE, 1, M("scasb")}, {0xAF, 1, M("scasd/scasw")}, {0xB0, 16, M("mov")},
    {0xC0, 2, M("rol|ror|rcl|rcr|shl|shr|sal|sar")}, {0xC2, 2, M("ret")}, {0xC4, 1, M("les")},
    {0xC5, 1, M("lds")}, {0xC6, 2, M("mov")}, {0xC8, 1, M("enter")}, {0xC9, 1, M("leave")},
    {0xCA, 2, M("ret")}, {0xCC, 1, M("int     3")}, {0xCD, 1, M("int")}, {0xCE, 1, M("into")},
    {0xCF, 1, M("iret")}, {0xD0, 4, M("rol|ror|rcl|rcr|shl|shr|sal|sar")}, {0xD4, 1, M("aam")},
    {0xD5, 1, M("aad")}, {0xD6, 1, M("salc")}, {0xD7, 1, M("xlat")},
    {0xD8, 1, M("add|mul|com|comp|sub|subr|div|divr|add|mul|com|comp|subr|sub|divr|div")},
    {0xD9, 1, M("ld||st|stp|ldenv|ldcw|nstenv|nstcw|ld|xch|nop|stp1|chs-abs---tst-xam|ld1-ldl2t-ldl2e-ldpi-ldlg2-"
               "ldln2-ldz|2xm1-yl2x-ptan-patan-xtract-prem1-decstp-incstp|prem-yl2xp1-sqrt-sincos-rndint-scale-"
               "sin-cos")},
    {0xDA, 1, M("iadd|imul|icom|icomp|isub|isubr|idiv|idivr|cmovb|cmove|cmovbe|cmovu||ucompp")},
    {0xDB, 1, M("ild|isttp|ist|istp||ld||stp|cmovnb|cmovne|cmovnbe|cmovnu|neni-ndisi-nclex-ninit-nsetpm|ucomi|"
               "comi")},
    {0xDC, 1, M("add|mul|com|comp|sub|subr|div|divr|add|mul|com|comp|subr|sub|divr|div")},
    {0xDD, 1, M("ld|isttp|st|stp|rstor||nsave|nstsw|free|xch4|st|stp|ucom|ucomp")},
    {0xDE, 1, M("iadd|imul|icom|icomp|isub|isubr|idiv|idivr|addp|mulp|comp5|compp|subrp|subp|divrp|divp")},
    {0xDF, 1, M("ild|isttp|ist|istp|bld|ild|bstp|istp|freep|xch7|stp8|stp9|nstsw  ax|ucomip|comip")},
    {0xE0, 1, M("loopne")}, {0xE1, 1, M("loope")}, {0xE2, 1, M("loop")}, {0xE3, 1, M("jecxz")},
    {0xE4, 2, M("in")}, {0xE6, 2, M("out")}, {0xE8, 1, M("call")}, {0xE9, 3, M("jmp")}, {0xEC, 2, M("in")},
    {0xEE, 2, M("out")}, {0xF1, 1, M("int01")}, {0xF4, 1, M("hlt")}, {0xF5, 1, M("cmc")},
    {0xF6, 2, M("test||not|neg|mul|imul|div|idiv")}, {0xF8, 1, M("clc")}, {0xF9, 1, M("stc")},
    {0xFA, 1, M("cli")}, {0xFB, 1, M("sti")}, {0xFC, 1, M("cld")}, {0xFD, 1, M("std")},
    {0xFE, 2, M("inc|dec|call|call|jmp|jmp|push")},
};

constexpr MnemonicRow kTwoByteRows[] = {
    {0x00, 1, M("sldt|str|lldt|ltr|verr|verw")}, {0x01, 1, M("sgdt|sidt|lgdt|lidt|smsw||lmsw|invlpg")},
    {0x02, 1, M("lar")}, {0x03, 1, M("lsl")}, {0x05, 1, M("syscall")}, {0x06, 1, M("clts")},
    {0x07, 1, M("sysret")}, {0x08, 1, M("invd")}, {0x09, 1, M("wbinvd")}, {0x0D, 1, M("prefetch|prefetchw")},
    {0x0E, 1, M("femms")}, {0x10, 2, M("movuPS//movPS/movPS")}, {0x12, 1, M("movhlPS:movlPS/movlPS/movddup/movsldup")},
    {0x13, 1, M("movlPS")}, {0x14, 1, M("unpcklPS")}, {0x15, 1, M("unpckhPS")},
    {0x16, 1, M("movlhPS:movhPS/movhPS/movlhPS:movhPS/movshdup")}, {0x17, 1, M("movhPS")},
    {0x18, 1, M("prefetchnta|prefetcht0|prefetcht1|prefetcht2|prefetcht3")}, {0x1F, 1, M("nop")},
    {0x20, 4, M("mov")}, {0x28, 2, M("movaPS")}, {0x2A, 1, M("cvtPi2PS")}, {0x2B, 1, M("movntPS")},
    {0x2C, 1, M("cvttPS2Pi")}, {0x2D, 1, M("cvtPS2Pi")}, {0x2E, 1, M("ucomisS")}, {0x2F, 1, M("comisS")},
    {0x30, 1, M("wrmsr")}, {0x31, 1, M("rdtsc")}, {0x32, 1, M("rdmsr")}, {0x33, 1, M("rdpmc")},
    {0x34, 1, M("sysenter")}, {0x35, 1, M("sysexit")}, {0x40, 16, M("cmov%cc")}, {0x50, 1, M("movmskPS")},
    {0x51, 1, M("sqrtPS")}, {0x52, 1, M("rsqrtPS")}, {0x53, 1, M("rcpPS")}, {0x54, 1, M("andPS")},
    {0x55, 1, M("andnPS")}, {0x56, 1, M("orPS")}, {0x57, 1, M("xorPS")}, {0x58, 1, M("addPS")},
    {0x59, 1, M("mulPS")}, {0x5A, 1, M("cvtPs2Pd/cvtPd2Ps/cvtPd2Ps")}, {0x5B, 1, M("cvtdq2ps/cvtps2dq//cvttps2dq")},
    {0x5C, 1, M("subPS")}, {0x5D, 1, M("minPS")}, {0x5E, 1, M("divPS")}, {0x5F, 1, M("maxPS")},
    {0x60, 1, M("punpcklbw")}, {0x61, 1, M("punpcklwd")}, {0x62, 1, M("punpckldq")}, {0x63, 1, M("packsswb")},
    {0x64, 1, M("pcmpgtb")}, {0x65, 1, M("pcmpgtw")}, {0x66, 1, M("pcmpgtd")}, {0x67, 1, M("packuswb")},
    {0x68, 1, M("punpckhbw")}, {0x69, 1, M("punpckhwd")}, {0x6A, 1, M("punpckhdq")}, {0x6B, 1, M("packssdw")},
    {0x6C, 1, M("punpcklqdq")}, {0x6D, 1, M("punpckhqdq")}, {0x6E, 1, M("movd///movq")},
    {0x6F, 1, M("movq/movdqa//movdqu")}, {0x70, 1, M("pshufw/pshufd/pshuflw/pshufhw")},
    {0x71, 1, M("||psrlw||psraw||psllw")}, {0x72, 1, M("||psrld||psrad||pslld")},
    {0x73, 1, M("||psrlq|psrldq|||psllq|pslldq")}, {0x74, 1, M("pcmpeqb")}, {0x75, 1, M("pcmpeqw")},
    {0x76, 1, M("pcmpeqd")}, {0x77, 1, M("emms")}, {0x7C, 1, M("haddpd")}, {0x7D, 1, M("hsubpd")},
    {0x7E, 1, M("movd///movq")}, {0x7F, 1, M("movq/movdqa//movdqu")}, {0x80, 16, M("j%cc")},
    {0x90, 16, M("set%cc")}, {0xA0, 1, M("push    %seg")}, {0xA1, 1, M("pop     %seg")}, {0xA2, 1, M("cpuid")},
    {0xA3, 1, M("bt")}, {0xA4, 2, M("shld")}, {0xA8, 1, M("push    %seg")}, {0xA9, 1, M("pop     %seg")},
    {0xAA, 1, M("rsm")}, {0xAB, 1, M("bts")}, {0xAC, 2, M("shrd")},
    {0xAE, 1, M("fxsave|fxrstor|ldmxcsr|stmxcsr||lfence|mfence|sfence:clflush")}, {0xAF, 1, M("imul")},
    {0xB0, 2, M("cmpxchg")}, {0xB2, 1, M("lss")}, {0xB3, 1, M("btr")}, {0xB4, 1, M("lfs")}, {0xB5, 1, M("lgs")},
    {0xB6, 2, M("movzx")}, {0xBA, 1, M("||||bt|bts|btr|btc")}, {0xBB, 1, M("btc")}, {0xBC, 1, M("bsf")},
    {0xBD, 1, M("bsr")}, {0xBE, 2, M("movsx")}, {0xC0, 2, M("xadd")}, {0xC2, 1, M("cmpPS")},
    {0xC3, 1, M("movnti")}, {0xC4, 1, M("pinsrw")}, {0xC5, 1, M("pextrw")}, {0xC6, 1, M("shufPS")},
    {0xC7, 1, M("cmpxchg8b")}, {0xC8, 8, M("bswap")}, {0xD0, 1, M("addsubpd")}, {0xD1, 1, M("psrlw")},
    {0xD2, 1, M("psrld")}, {0xD3, 1, M("psrlq")}, {0xD4, 1, M("paddq")}, {0xD5, 1, M("pmullw")},
    {0xD6, 1, M("movq//movdq2q/movq2dq")}, {0xD7, 1, M("pmovmskb")}, {0xD8, 1, M("psubusb")},
    {0xD9, 1, M("psubusw")}, {0xDA, 1, M("pminub")}, {0xDB, 1, M("pand")}, {0xDC, 1, M("paddusb")},
    {0xDD, 1, M("paddusw")}, {0xDE, 1, M("pmaxub")}, {0xDF, 1, M("pandn")}, {0xE0, 1, M("pavgb")},
    {0xE1, 1, M("psraw")}, {0xE2, 1, M("psrad")}, {0xE3, 1, M("pavgw")}, {0xE4, 1, M("pmulhuw")},
    {0xE5, 1, M("pmulhw")}, {0xE6, 1, M("cvttpd2dq//cvtpd2dq/cvtdq2pd")}, {0xE7, 1, M("movntq/movntdq")},
    {0xE8, 1, M("psubsb")}, {0xE9, 1, M("psubsw")}, {0xEA, 1, M("pminsw")}, {0xEB, 1, M("por")},
    {0xEC, 1, M("paddsb")}, {0xED, 1, M("paddsw")}, {0xEE, 1, M("pmaxsw")}, {0xEF, 1, M("pxor")},
    {0xF0, 1, M("lddqu")}, {0xF1, 1, M("psllw")}, {0xF2, 1, M("pslld")}, {0xF3, 1, M("psllq")},
    {0xF4, 1, M("pmuludq")}, {0xF5, 1, M("pmaddwd")}, {0xF6, 1, M("psadbw")}, {0xF7, 1, M("maskmovq/maskmovdqu")},
    {0xF8, 1, M("psubb")}, {0xF9, 1, M("psubw")}, {0xFA, 1, M("psubd")}, {0xFB, 1, M("psubq")},
    {0xFC, 1, M("paddb")}, {0xFD, 1, M("paddw")}, {0xFE, 1, M("paddd")},
};

template <size_t N>
constexpr std::array<uint8_t, 256> Expand(const MnemonicRow (&rows)[N]) {
  std::array<uint8_t, 256> t{};
  for (const auto& r : rows)
    for (int i = 0; i < r.count; ++i) t[r.first + i] = r.index;
  return t;
}

struct ThreeDNow {
  uint8_t suffix;
  const char* name;
};
constexpr ThreeDNow kThreeDNow[] = {
    {0x0C, "pi2fw"},    {0x0D, "pi2fd"},    {0x1C, "pf2iw"},    {0x1D, "pf2id"},   {0x8A, "pfnacc"},
    {0x8E, "pfpnacc"},  {0x90, "pfcmpge"},  {0x94, "pfmin"},    {0x96, "pfrcp"},   {0x97, "pfrsqrt"},
    {0x9A, "pfsub"},    {0x9E, "pfadd"},    {0xA0, "pfcmpgt"},  {0xA4, "pfmax"},   {0xA6, "pfrcpit1"},
    {0xA7, "pfrsqit1"}, {0xAA, "pfsubr"},   {0xAE, "pfacc"},    {0xB0, "pfcmpeq"}, {0xB4, "pfmul"},
    {0xB6, "pfrcpit2"}, {0xB7, "pmulhrw"},  {0xBB, "pswapd"},   {0xBF, "pavgusb"},
};
}  // namespace

const std::array<uint8_t, 256> kOneByteMnemonicIndex = Expand(kOneByteRows);
const std::array<uint8_t, 256> kTwoByteMnemonicIndex = Expand(kTwoByteRows);

const char* ThreeDNowName(uint8_t suffix) {
  for (const auto& e : kThreeDNow)
    if (e.suffix == suffix) return e.name;
  return nullptr;
}

bool IsThreeDNowSuffix(uint8_t suffix) {
  // Bit set over the suffix values 8..191.
  static const auto kSet = [] {
    std::array<uint32_t, 6> bits{};
    for (const auto& e : kThreeDNow) bits[(e.suffix - 8) / 32] |= 1u << ((e.suffix - 8) % 32);
    return bits;
  }();
  if (suffix < 8 || suffix > 191) return false;
  return (kSet[(suffix - 8) / 32] >> ((suffix - 8) % 32)) & 1;
}

}  // namespace rvx::optab
