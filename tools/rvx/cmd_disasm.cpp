// rvx disasm: instruction text of PE files and of bytes given on the command line.
#include <cstdio>
#include <iostream>

#include "crash/stack/decoder.h"
#if 1
#include "crash/stack/function_analyser.h"
#endif
#include "crash/stack/image_file.h"
#include "crash/stack/module.h"
#include "tools/rvx/command.h"

namespace rvxtool {
namespace {

bool ParseHex(std::string s, uint32_t& out) {
  if (s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0) s = s.substr(2);
  else if (!s.empty() && s[0] == '$') s = s.substr(1);
  if (s.empty() || s.size() > 8) return false;
  uint32_t v = 0;
  for (char c : s) {
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    v = v * 16 + uint32_t(d);
  }
  out = v;
  return true;
}

bool ParseCount(const std::string& s, uint32_t& out) {
  if (s.empty() || s.size() > 9) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + uint32_t(c - '0');
  }
  return true;
}

void PrintLines(const std::string& text) {
  // Texts use CR LF between lines; the console gets plain line ends.
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  std::cout << out << "\n";
}

int Linear(const rvx::MemoryReader& memory, uint32_t address, uint32_t count, uint32_t end) {
  for (uint32_t i = 0; i < count && address < end; ++i) {
    std::string text;
    rvx::InstructionInfo info;
    rvx::InstructionText(memory, address, text, nullptr, info, false);
    PrintLines(text);
    uint32_t next = info.nextInstruction > address ? info.nextInstruction : address + 1;
    address = next;
  }
  return 0;
}

int HexBytes(const std::string& hex, uint32_t at) {
  std::string bytes;
  std::string digits;
  for (char c : hex) {
    if (c == ' ' || c == ',' || c == '\t') continue;
    digits += c;
  }
  if (digits.size() % 2) return UsageError("odd number of hex digits in '" + hex + "'");
  for (size_t i = 0; i < digits.size(); i += 2) {
    uint32_t v;
    if (!ParseHex(digits.substr(i, 2), v)) return UsageError("bad hex byte '" + digits.substr(i, 2) + "'");
    bytes += static_cast<char>(v);
  }
  rvx::BufferReader memory(at, bytes.data(), bytes.size());
  return Linear(memory, at, 0xFFFFFFFF, at + static_cast<uint32_t>(bytes.size()));
}

int Run(const Args& args) {
  std::string file, hex, function, at, mark;
  std::vector<std::string> positional;
  uint32_t limit = 0;
  bool delimiters = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& dest) {
      if (i + 1 >= args.size()) return false;
      dest = args[++i];
      return true;
    };
    if (a == "--hex") {
      if (!value(hex)) return UsageError("--hex needs the bytes");
    } else if (a == "--at") {
      if (!value(at)) return UsageError("--at needs an address");
    } else if (a == "--function") {
      if (!value(function)) return UsageError("--function needs an address or export name");
    } else if (a == "--mark") {
      if (!value(mark)) return UsageError("--mark needs an address");
    } else if (a == "--limit") {
      std::string n;
      if (!value(n) || !ParseCount(n, limit)) return UsageError("--limit needs a number");
    } else if (a == "--delimiters") {
      delimiters = true;
    } else if (a.rfind("--", 0) == 0) {
      return UsageError("unknown option '" + a + "'");
    } else {
      positional.push_back(a);
    }
  }
  if (!hex.empty()) {
    uint32_t address = 0;
    if (!at.empty() && !ParseHex(at, address)) return UsageError("bad address '" + at + "'");
    return HexBytes(hex, address);
  }
  if (positional.empty()) return UsageError("disasm needs a file");
  file = positional[0];
  std::string bytes, error;
  if (!ReadFileBytes(file, bytes, error)) return Fail(error);
  rvx::ImageFile image;
  if (!image.Load(bytes, file, error)) return Fail(file + ": " + error);
  // Calls through import slots are named after the imported function.
  const rvx::Address kStandIns = 0xF0000000u;
  const std::vector<std::string> imports = image.BindImports(kStandIns);
  rvx::SetFunctionNameHook([&imports, kStandIns](rvx::Address a) -> std::wstring {
    if (a < kStandIns || (a - kStandIns) % 16 || (a - kStandIns) / 16 >= imports.size()) return L"";
    const std::string& n = imports[(a - kStandIns) / 16];
    return std::wstring(n.begin(), n.end());
  });
  struct ResetHook {
    ~ResetHook() { rvx::SetFunctionNameHook(nullptr); }
  } resetHook;

#if 1
  if (!function.empty()) {
    uint32_t entry = 0;
    rvx::RegionInfo region;
    if (!ParseHex(function, entry) || !image.Query(entry, region)) {
      rvx::ExportEnvironment env;
      entry = rvx::ResolveExportByName(image, image.base(), function, false, env);
      if (!entry) return Fail("no export or address '" + function + "' in " + file);
    }
    uint32_t markAddress = 0;
    if (!mark.empty() && !ParseHex(mark, markAddress)) return UsageError("bad address '" + mark + "'");
    std::string text;
    rvx::TFunctionInfo info;
    rvx::DisassembleFunction(image, entry, text, markAddress, info, delimiters, limit);
    if (!info.valid) return Fail("analysis failed at " + rvx::AddressTextOf(info.lastErrorAddress) + ": " + info.lastErrorText);
    PrintLines(text);
    return 0;
  }
#endif
  if (positional.size() < 2) return UsageError("disasm needs an address");
  uint32_t address, count = 20;
  if (!ParseHex(positional[1], address)) return UsageError("bad address '" + positional[1] + "'");
  if (positional.size() > 2 && !ParseCount(positional[2], count)) return UsageError("bad count '" + positional[2] + "'");
  return Linear(image, address, count, 0xFFFFFFFF);
}

const RvxCommand kDisasm("disasm",
                         "  rvx disasm FILE ADDRESS [COUNT]\n"
                         "  rvx disasm FILE --function ADDRESS|EXPORTNAME [--mark ADDRESS] [--limit N] [--delimiters]\n"
                         "  rvx disasm --hex \"83 C4 F8\" [--at ADDRESS]",
                         Run);

}  // namespace
}  // namespace rvxtool
