// The one-line Intel-syntax text of an instruction, with the called function's name or a quoted string as
// a comment.
#include <cstdio>

#include "crash/stack/decoder.h"
#include "crash/stack/module.h"
#include "crash/stack/opcode_tables.h"
#include "crash/stack/text.h"

namespace rvx {
namespace {

using namespace optab;

const char* const kNames8[8] = {"al", "cl", "dl", "bl", "ah", "ch", "dh", "bh"};
const char* const kNames16[8] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di"};
const char* const kNames32[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
const char* const kSeg[8] = {"es", "cs", "ss", "ds", "fs", "gs", "?", "?"};

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
  return buf;
}

// "$" hex above 9, else decimal.
std::string Unsigned(uint64_t v) { return v > 9 ? "$" + Hex(v) : std::to_string(v); }

std::string Signed(int64_t v, bool plus) {
  uint64_t mag = v < 0 ? uint64_t(-v) : uint64_t(v);
  std::string sign = v < 0 ? "-" : (plus ? "+" : "");
  return sign + (mag > 9 ? "$" + Hex(mag) : std::to_string(mag));
}

// Splits on sep and returns entry i (0-based); empty when missing.
std::string_view Field(std::string_view s, char sep, size_t i, size_t* count = nullptr) {
  size_t n = 0, start = 0;
  std::string_view found;
  bool have = false;
  for (size_t p = 0; p <= s.size(); ++p) {
    if (p == s.size() || s[p] == sep) {
      if (n == i) {
        found = s.substr(start, p - start);
        have = true;
      }
      ++n;
      start = p + 1;
    }
  }
  if (count) *count = n;
  return have ? found : std::string_view();
}

std::string MnemonicText(const DecodedInstruction& d) {
  const uint16_t opcode = d.info.opcode;
  const bool two = opcode > 0xFF;
  const uint8_t op = opcode & 0xFF;
  if (two && op == 0x0F) {
    const char* n = ThreeDNowName(d.suffix);
    return n ? n : "";
  }
  std::string_view entry = kMnemonicList[d.mnemonic];
  // Prefix alternatives.
  int alt = d.prefixF3 ? 3 : d.prefixF2 ? 2 : d.prefix66 ? 1 : 0;
  std::string_view chosen = Field(entry, '/', static_cast<size_t>(alt));
  if (chosen.empty()) chosen = Field(entry, '/', 0);
  // Alternatives by the reg field, by the rm field, and register/memory forms.
  if (d.hasModrm && chosen.find('|') != std::string_view::npos) {
    size_t count = 0;
    Field(chosen, '|', 0, &count);
    size_t i = d.reg;
    bool regForm = d.mod == 3;
    if (count > 8 && regForm && !(!two && op == 0xD8)) i += 8;
    std::string_view e = Field(chosen, '|', i);
    if (e.empty()) e = Field(chosen, '|', 0);
    chosen = e;
    if (chosen.find('-') != std::string_view::npos) chosen = Field(chosen, '-', d.rm);
  }
  if (d.hasModrm && chosen.find(':') != std::string_view::npos)
    chosen = Field(chosen, ':', d.mod == 3 ? 0 : 1);

  std::string out;
  if (!two && op >= 0xD8 && op <= 0xDF) out = "f";
  for (size_t i = 0; i < chosen.size(); ++i) {
    char c = chosen[i];
    if (c == '%') {
      if (chosen.substr(i, 3) == "%cc") {
        out += kConditionCodes[op & 15];
        i += 2;
        continue;
      }
      if (chosen.substr(i, 4) == "%seg") {
        out += kSeg[(op >> 3) & 7];
        i += 3;
        continue;
      }
    }
    if (c == 'S') {
      out += (d.prefix66 || d.prefixF2) ? 'd' : 's';
    } else if (c == 'P') {
      out += (d.prefixF2 || d.prefixF3) ? 's' : 'p';
    } else {
      out += c;
    }
  }
  return out;
}

std::string SimdRegister(bool mmx, int n, bool widened) {
  return (mmx && !widened ? "mm" : "xmm") + std::to_string(n);
}

std::string RegOperand(const DecodedInstruction& d) {
  const uint16_t f = d.flags;
  const bool wide = (f & kRegSize) && d.prefix66;
  const uint16_t opcode = d.info.opcode;
  const uint8_t op = opcode & 0xFF;
  if (d.hasModrm) {
    switch (RegKind(f)) {
      case kReg8: return kNames8[d.reg];
      case kReg16: return kNames16[d.reg];
      case kRegSeg:
        if (opcode >= 0x0F20 && opcode <= 0x0F23) return std::string(op & 1 ? "dr" : "cr") + char('0' + d.reg);
        return kSeg[d.reg];
      case kReg32:
        if (opcode == 0x0F2C || opcode == 0x0F2D) return kNames32[d.reg];
        return wide ? kNames16[d.reg] : kNames32[d.reg];
      case kRegMmx:
        if ((opcode == 0x0F2C || opcode == 0x0F2D) && (d.prefixF2 || d.prefixF3)) return kNames32[d.reg];
        return SimdRegister(true, d.reg, wide);
      case kRegFpu: return "st";
      case kRegXmm: return SimdRegister(false, d.reg, false);
      default: return "";
    }
  }
  switch (RegKind(f)) {
    case kRegAl: return "al";
    case kRegEax: return wide ? "ax" : "eax";
    case kRegOp8: return kNames8[op & 7];
    case kRegOp32: return wide ? kNames16[op & 7] : kNames32[op & 7];
    case kRegEaxOp: return std::string(d.prefix66 ? "ax, " : "eax, ") + (d.prefix66 ? kNames16 : kNames32)[op & 7];
    case kRegAccDx: {
      std::string acc = (op & 1) ? (d.prefix66 ? "ax" : "eax") : "al";
      return (op == 0xEE || op == 0xEF) ? "dx, " + acc : acc + ", dx";
    }
    default: return "";
  }
}

std::string MemoryAddress(const DecodedInstruction& d) {
  const char* const* names = d.prefix67 ? kNames16 : kNames32;
  std::string s;
  if (d.base >= 0) s += names[d.base];
  if (d.index >= 0) {
    s += "+";
    s += names[d.index];
    if (d.scale > 1) s += "*" + std::to_string(d.scale);
  }
  if (d.dispSize) {
    if (d.base < 0 && d.index < 0) {
      s += Unsigned(d.prefix67 ? uint16_t(d.disp) : uint32_t(d.disp));
    } else {
      s += Signed(d.disp, true);
    }
  }
  if (!s.empty() && s[0] == '+') s.erase(0, 1);
  std::string seg = d.segment >= 0 ? std::string(kSeg[d.segment]) + ":" : "";
  return seg + "[" + s + "]";
}

std::string RmOperand(const DecodedInstruction& d) {
  const uint16_t f = d.flags;
  const bool wide = (f & kRmSize) && d.prefix66;
  const unsigned kind = RmKind(f);
  const uint16_t opcode = d.info.opcode;
  if (d.mod == 3) {
    switch (kind) {
      case 2: return kNames8[d.rm];
      case 3: return kNames16[d.rm];
      case 4: return wide ? kNames16[d.rm] : kNames32[d.rm];
      case 5:
        if (opcode == 0x0F2A && (d.prefixF2 || d.prefixF3)) return kNames32[d.rm];
        return SimdRegister(true, d.rm, wide);
      case 6: return d.rm == 0 ? "st" : "st(" + std::to_string(d.rm) + ")";
      case 7: return SimdRegister(false, d.rm, false);
      default: return "";
    }
  }
  std::string size;
  if (f & kShowSize) {
    static const char* const kSize[8] = {"", "", "byte", "word", "dword", "qword", "tbyte", "oword"};
    size = (kind == 4 && wide) ? "word" : kSize[kind];
    if (!size.empty()) size += " ptr ";
  }
  return size + MemoryAddress(d);
}

std::string ImmediateOperand(const DecodedInstruction& d) {
  const uint16_t f = d.flags;
  const bool two = d.info.opcode > 0xFF;
  const uint8_t op = d.info.opcode & 0xFF;
  if (!d.immSize || (two && op == 0x0F)) return "";
  if (f & kRelative)
    return Signed(d.imm, true) + " (" + HexText(d.info.nextInstruction + static_cast<uint32_t>(d.imm), 1, '0') + ")";
  if (!two) {
    if (op == 0x69 || op == 0x6B || (op >= 0x80 && op <= 0x83)) return Signed(d.imm, false);
    if (op == 0x6A) return Unsigned(uint32_t(d.imm));
    if (op == 0x9A || op == 0xEA) {
      uint64_t raw = static_cast<uint64_t>(d.imm);
      unsigned offBytes = d.immSize - 2;
      uint64_t offset = raw & ((uint64_t(1) << (8 * offBytes)) - 1);
      uint64_t selector = (raw >> (8 * offBytes)) & 0xFFFF;
      return "$" + Hex(selector) + ":$" + Hex(offset);
    }
    if (op == 0xC8) {
      uint64_t raw = static_cast<uint64_t>(d.imm);
      std::string s = Unsigned(raw & 0xFFFF);
      uint64_t level = (raw >> 16) & 0xFF;
      if (level) s += ", " + Unsigned(level);
      return s;
    }
  }
  uint64_t mask = d.immSize >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * d.immSize)) - 1;
  return Unsigned(static_cast<uint64_t>(d.imm) & mask);
}

std::string OperandText(const DecodedInstruction& d) {
  const uint16_t f = d.flags;
  const bool two = d.info.opcode > 0xFF;
  const uint8_t op = d.info.opcode & 0xFF;
  if (two && op == 0xAE && d.mod == 3) return "";  // lfence, mfence, sfence
  std::string reg = RegOperand(d);
  std::string rm;
  std::string imm;
  if (!two && op >= 0xA0 && op <= 0xA3) {
    // moffs: the immediate is an address.
    uint64_t a = static_cast<uint64_t>(d.imm) & (d.immSize == 2 ? 0xFFFF : 0xFFFFFFFF);
    rm = (d.segment >= 0 ? std::string(kSeg[d.segment]) + ":" : "") + "[" + Unsigned(a) + "]";
  } else {
    if (d.hasModrm) rm = RmOperand(d);
    imm = ImmediateOperand(d);
  }
  std::string first = reg, second = rm;
  if (f & kRmFirst) std::swap(first, second);
  std::string out;
  for (const std::string* s : {&first, &second, &imm}) {
    if (s->empty()) continue;
    if (!out.empty()) out += ", ";
    out += *s;
  }
  if (!two && (op == 0xD0 || op == 0xD1)) out += ", 1";
  if ((!two && (op == 0xD2 || op == 0xD3)) || (two && (op == 0xA5 || op == 0xAD))) out += ", cl";
  return out;
}

void PadTo(std::string& s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
}

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += static_cast<char>(c & 0xFF);
  return s;
}

std::string FileNameOnly(const std::string& path) {
  size_t p = path.find_last_of("\\/");
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string NameInModule(const MemoryReader& memory, Address address, ModuleInfo* module) {
  ModuleInfo m;
  bool haveModule = memory.Module(address, m);
  std::string name;
  if (haveModule) name = ExportNameAt(memory, m.base, address, true);
  if (name.empty() && FunctionNameResolver()) name = Narrow(FunctionNameResolver()(address));
  if (module) *module = haveModule ? m : ModuleInfo{};
  return name;
}

std::string WithModule(std::string name, const ModuleInfo& m) {
  if (!name.empty() && m.base && !m.isMainModule && name.find('(') == std::string::npos)
    name += " (" + FileNameOnly(m.fileName) + ")";
  return name;
}

// Text, punctuation, symbol and other characters of a candidate string; the comment or empty.
std::string StringComment(const MemoryReader& memory, Address address) {
  uint8_t bytes[100];
  size_t n = memory.Fetch(address, bytes, sizeof bytes);
  int text = 0, punct = 0, symbols = 0, other = 0;
  std::string chars;
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = bytes[i];
    if (c == 0 || c == '\n' || c == '\f') break;
    if (c < 0x20) return "";
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ') {
      ++text;
    } else if (c == '.' || c == ',' || c == ':' || c == '\\') {
      ++punct;
    } else if (c >= '!' && c <= ']') {
      ++symbols;
    } else {
      ++other;
    }
    chars += static_cast<char>(c);
  }
  int total = static_cast<int>(chars.size());
  if (total < 4 || !(punct * 5 < text * 2)) return "";
  int nText = text + punct / 2;
  if (symbols * 8 < nText && other * 10 < nText + symbols / 4) return "'" + chars + "'";
  return "";
}

std::string Comment(const MemoryReader& memory, const DecodedInstruction& d) {
  const InstructionInfo& info = d.info;
  if (info.target) return TargetFunctionName(memory, info.target);
  ModuleInfo m;
  if (!memory.Module(info.instructionStart, m)) return "";
  Address imageEnd = m.base + ImageSizeOf(memory, m.base);
  auto tryAddress = [&](Address a, bool dereference) -> std::string {
    Address candidate = a;
    if (dereference) {
      uint32_t value;
      if (memory.Read32(a, value) && value >= m.base && value < imageEnd) candidate = value;
    }
    if (candidate < m.base || candidate + 100 > imageEnd || candidate + 100 < candidate) return "";
    std::string name = ExportNameAt(memory, m.base, candidate, true);
    if (name.empty() && FunctionNameResolver()) name = Narrow(FunctionNameResolver()(candidate));
    if (!name.empty()) return name;
    return StringComment(memory, candidate);
  };
  std::string c;
  if (d.IsMemory() && d.dispSize == 4) c = tryAddress(static_cast<Address>(d.disp), false);
  if (c.empty() && d.immSize == 4) c = tryAddress(static_cast<Address>(d.imm), (d.flags & kShowSize) != 0);
  return c;
}

}  // namespace

std::string TargetFunctionName(const MemoryReader& memory, Address target) {
  ModuleInfo m;
  std::string name = NameInModule(memory, target, &m);
  if (name.empty() && m.base) {
    InstructionInfo thunk;
    if (DecodeInstruction(memory, target, thunk) && thunk.target) {
      ModuleInfo m2;
      name = NameInModule(memory, thunk.target, &m2);
      return WithModule(name, m2);
    }
  }
  return WithModule(name, m);
}

void InstructionText(const MemoryReader& memory, Address address, std::string& text, RegisterState* regs,
                     InstructionInfo& info, bool track) {
  DecodedInstruction d;
  bool ok = DecodeDetailed(memory, address, d, regs, track);
  info = d.info;
  text.clear();
  if (!ok) {
    Address end = info.nextInstruction > address ? info.nextInstruction : address + 1;
    for (Address a = address; a != end; ++a) {
      uint8_t b;
      if (!text.empty()) text += "\r\n";
      text += AddressText(a, true) + "   db ";
      text += memory.Read(a, &b, 1) ? HexText(b, 2, '0') : "??";
    }
    return;
  }
  const bool two = info.opcode > 0xFF;
  text = AddressText(address, true) + "   ";
  if (d.prefixLock) text += "lock ";
  if (!two && info.opcode < 0xFF) {
    if (d.prefixF2) text += "repne ";
    if (d.prefixF3) text += "rep ";
  }
  text += MnemonicText(d);
  std::string operands = OperandText(d);
  if (!operands.empty()) {
    PadTo(text, 19);
    if (text.back() != ' ') text += ' ';
    text += operands;
  }
  std::string comment = Comment(memory, d);
  if (!comment.empty()) {
    PadTo(text, 40);
    text += "  ; " + comment;
  }
}

std::string InstructionText(const MemoryReader& memory, Address address) {
  std::string text;
  InstructionInfo info;
  InstructionText(memory, address, text, nullptr, info, false);
  return text;
}

}  // namespace rvx
