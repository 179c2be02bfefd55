// Length and validity of every instruction of real 32-bit code against independent decoders: Zydis (linear
// sweep), Capstone (at the same addresses) and objdump (its own sweep, through objdump_sweep.py).
#include <Zydis/Zydis.h>
#include <capstone/capstone.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "crash/stack/decoder.h"
#include "crash/stack/image_file.h"

namespace {

namespace fs = std::filesystem;
using rvx::Address;

const char* const kWineDir = "/usr/lib/i386-linux-gnu/wine/i386-windows";

// The sample of system libraries: a fixed set of well-known ones plus every 25th by name.
std::vector<std::string> SampleFiles() {
  std::vector<std::string> all;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(kWineDir, ec))
    if (e.path().extension() == ".dll" || e.path().extension() == ".exe") all.push_back(e.path().string());
  std::sort(all.begin(), all.end());
  std::set<std::string> pick;
  for (const char* n : {"kernelbase.dll", "ntdll.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "ole32.dll",
                        "comctl32.dll", "d3dx9_43.dll", "msvcr100.dll", "ucrtbase.dll", "jscript.dll"})
    pick.insert(std::string(kWineDir) + "/" + n);
  for (size_t i = 0; i < all.size(); i += 15) pick.insert(all[i]);
  std::vector<std::string> out;
  for (const auto& p : pick)
    if (fs::exists(p)) out.push_back(p);
  // Our own Windows executables, when the Windows tree has been built.
  for (const char* dir : {"../../win32/bin", "build/win32/bin"}) {
    for (const auto& e : fs::directory_iterator(dir, ec))
      if (e.path().extension() == ".exe" && e.file_size() < (64u << 20)) out.push_back(e.path().string());
    if (!ec) break;
  }
  return out;
}

bool LoadImage(const std::string& path, rvx::ImageFile& image) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  std::string error;
  return image.Load(ss.str(), path, error);
}

std::string Bytes(const rvx::ImageFile& image, Address a, size_t n) {
  uint8_t buf[16];
  size_t got = image.Fetch(a, buf, std::min<size_t>(n, 16));
  std::string s;
  char h[4];
  for (size_t i = 0; i < got; ++i) {
    std::snprintf(h, sizeof h, "%02x ", buf[i]);
    s += h;
  }
  return s;
}

// The instruction set the decoder covers.
bool InOurSet(const ZydisDecodedInstruction& z) {
  if (z.encoding != ZYDIS_INSTRUCTION_ENCODING_LEGACY && z.encoding != ZYDIS_INSTRUCTION_ENCODING_3DNOW) return false;
  if (z.opcode_map != ZYDIS_OPCODE_MAP_DEFAULT && z.opcode_map != ZYDIS_OPCODE_MAP_0F &&
      z.opcode_map != ZYDIS_OPCODE_MAP_0F0F)
    return false;
  switch (z.meta.isa_ext) {
    case ZYDIS_ISA_EXT_BASE: case ZYDIS_ISA_EXT_X87: case ZYDIS_ISA_EXT_MMX: case ZYDIS_ISA_EXT_SSE:
    case ZYDIS_ISA_EXT_SSE2: case ZYDIS_ISA_EXT_SSE3: case ZYDIS_ISA_EXT_AMD3DNOW: case ZYDIS_ISA_EXT_PAUSE:
    case ZYDIS_ISA_EXT_CLFSH: case ZYDIS_ISA_EXT_AMD3DNOW_PREFETCH: case ZYDIS_ISA_EXT_MONITOR:
      return true;
    default:
      return false;
  }
}

// Where the decoder deliberately differs from the processor: its validity table marks these forms
// differently (hint NOPs 0F 19..1E invalid, reserved reg fields of some groups valid, and so on).
std::string DocumentedDifference(const rvx::DecodedInstruction& d) {
  const unsigned op = d.info.opcode;
  const unsigned reg = d.reg;
  const bool mem = d.IsMemory();
  if (op == 0x0F0B) return "0F 0B (ud2) invalid";
  if (op == 0xFF && reg >= 2 && reg <= 5 && mem && d.base < 0 && d.index < 0 && d.dispSize == 4)
    return "call/jmp [slot] with an unreadable slot invalid";
  if ((op == 0x8C || op == 0x8E) && reg >= 6) return "mov with segment register 6 or 7 invalid";
  if (op == 0x8E && reg == 1) return "8E /1 (mov cs) valid";
  if (op >= 0x0F19 && op <= 0x0F1E) return "0F 19..1E hint nops are invalid";
  if (op == 0x0F18 && reg >= 4) return "0F 18 /4../7 invalid";
  if (op == 0x0F0D && reg >= 2) return "0F 0D /2../7 invalid";
  if (op == 0x0F01 && !mem && reg <= 3) return "0F 01 register forms /0../3 (monitor, mwait, vm*) invalid";
  if (op == 0x0F01 && !mem && reg == 7) return "0F 01 /7 register forms (swapgs, rdtscp) valid";
  if (op == 0x0F01 && reg == 5) return "0F 01 /5 invalid";
  if ((op == 0xC6 || op == 0xC7) && reg != 0) return "C6/C7 /1../7 valid";
  if (op == 0x8F && reg != 0) return "8F /1../7 valid";
  if (op >= 0x0F20 && op <= 0x0F23 && mem) return "mov cr/dr with a memory ModRM invalid";
  if (op == 0xDE && !mem && reg == 3) return "DE D8..DF (fcompp family) valid";
  if ((op == 0x0F13 || op == 0x0F17 || op == 0x0F2B || op == 0x0FE7 || op == 0x0FC3) && !mem)
    return "store-only SSE moves with a register operand valid";
  if ((op == 0x0FF7 || op == 0x0FD7 || op == 0x0F50 || op == 0x0FC5) && mem) return "register-only SIMD forms with memory valid";
  if (op == 0x0FC7 && reg != 1) return "0F C7 /0,/2../7 memory forms valid";
  if (op == 0x0F05 || op == 0x0F07) return "syscall/sysret valid";
  if (op == 0x0FA6 || op == 0x0FA7 || op == 0x0FFF) return "0F A6, A7, FF invalid";
  if (op == 0x0FAE && reg == 7 && mem && d.prefix66) return "66 0F AE /7 (clflushopt) decoded as clflush";
  if (op == 0x0FAE && mem && reg >= 4) return "0F AE /4../6 memory forms (xsave family) invalid";
  if (op == 0x0FAE && !mem && reg <= 4) return "0F AE register forms /0../4 (rdfsbase family) invalid";
  if ((op == 0x0F78 || op == 0x0F79)) return "0F 78/79 invalid";
  if (op == 0x0FB8 || op == 0x0FB9 || op == 0x0FBC || op == 0x0FBD) return "F3 0F B8/BC/BD (popcnt, tzcnt, lzcnt) outside the set";
  if (op == 0x0F0F) return "3DNow! suffix set";
  if (op == 0x62 || op == 0xC4 || op == 0xC5) return "bound/les/lds with register operand (EVEX/VEX) invalid";
  if (op == 0x0F38 || op == 0x0F3A) return "three-byte opcode maps invalid";
  if (d.prefixF2 || d.prefixF3 || d.prefix66) return "mandatory-prefix form outside the set";
  if (op == 0x0F1F || op == 0x90) return "";
  return "";
}

struct Disagreement {
  int count = 0;
  std::string example;
  bool documented = false;
};

struct Tally {
  uint64_t checked = 0, agreed = 0, outside = 0;
  uint64_t bothValid = 0, sameLength = 0;
  std::map<std::string, Disagreement> kinds;
  void Add(const std::string& kind, const std::string& example, bool documented) {
    Disagreement& d = kinds[kind];
    if (d.count++ == 0) d.example = example;
    d.documented = documented;
  }
  uint64_t Undocumented() const {
    uint64_t n = 0;
    for (const auto& [k, d] : kinds)
      if (!d.documented) n += d.count;
    return n;
  }
  void Print(const char* oracle, std::ostream& os) const {
    os << oracle << ": " << agreed << " of " << checked << " instructions agree ("
       << (checked ? 100.0 * double(agreed) / double(checked) : 100.0) << "%), " << outside
       << " outside the instruction set; lengths of instructions valid on both sides: " << sameLength << " of "
       << bothValid << " agree (" << (bothValid ? 100.0 * double(sameLength) / double(bothValid) : 100.0) << "%)\n";
    for (const auto& [k, d] : kinds)
      os << "  " << (d.documented ? "[documented] " : "[UNEXPECTED] ") << k << ": " << d.count << "x, e.g. "
         << d.example << "\n";
  }
};

std::string OpcodeKey(const rvx::DecodedInstruction& d) {
  char buf[32];
  if (d.hasModrm)
    std::snprintf(buf, sizeof buf, "%s%02X /%u%s", d.info.opcode > 0xFF ? "0F " : "", d.info.opcode & 0xFF, d.reg,
                  d.IsMemory() ? "m" : "r");
  else
    std::snprintf(buf, sizeof buf, "%s%02X", d.info.opcode > 0xFF ? "0F " : "", d.info.opcode & 0xFF);
  return buf;
}

// Where objdump differs from the processor and from the other decoders.
std::string ObjdumpDifference(const rvx::DecodedInstruction& d, const std::string& theirText) {
  if (d.info.opcode == 0x9B) return "objdump merges wait (9B) with the following FPU instruction";
  if (d.info.opcode == 0xD6) return "objdump does not know salc (D6)";
  if (theirText == "data16" || theirText == "addr16" || theirText.rfind("rep", 0) == 0 || theirText == "lock")
    return "objdump prints a prefix of an instruction it rejects as an instruction of its own";
  return "";
}

// Compares the decoder with another decoder's answer at one address.
void Compare(Tally& t, const rvx::ImageFile& image, Address a, bool theirValid, unsigned theirLength,
             const std::string& theirText, bool inSet, bool objdump = false, bool capstone = false) {
  rvx::DecodedInstruction d;
  bool ours = rvx::DecodeDetailed(image, a, d);
  if (theirValid && !inSet) {
    ++t.outside;
    return;
  }
  ++t.checked;
  if (ours && theirValid) {
    ++t.bothValid;
    t.sameLength += d.length == theirLength;
  }
  if (ours == theirValid && (!ours || d.length == theirLength)) {
    ++t.agreed;
    return;
  }
  std::string doc = objdump ? ObjdumpDifference(d, theirText) : "";
  if (doc.empty() && capstone && d.prefixLock && theirValid)
    doc = "Capstone accepts a lock prefix on instructions that cannot be locked";
  if (doc.empty()) doc = DocumentedDifference(d);
  std::string kind = OpcodeKey(d) + (ours && theirValid ? " length differs"
                                     : ours ? " valid here, invalid there" : " invalid here, valid there");
  char ex[200];
  std::snprintf(ex, sizeof ex, "%08x: %s-> ours %s len %u, theirs %s len %u (%s)", a, Bytes(image, a, 12).c_str(),
                ours ? "valid" : "invalid", d.length, theirValid ? "valid" : "invalid", theirLength,
                theirText.c_str());
  t.Add(kind + (doc.empty() ? "" : " — " + doc), ex, !doc.empty());
}

std::string Artefact(const std::string& name) {
  const char* dir = std::getenv("RVX_ARTEFACTS");
  return (dir ? std::string(dir) + "/" : std::string()) + name;
}

TEST(DecoderAgreement, RealCodeAgainstZydisCapstoneAndObjdump) {
  std::vector<std::string> files = SampleFiles();
  ASSERT_FALSE(files.empty()) << "no 32-bit code found under " << kWineDir;
  ZydisDecoder zydis;
  ASSERT_TRUE(ZYAN_SUCCESS(ZydisDecoderInit(&zydis, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32)));
  ZydisDecoderEnableMode(&zydis, ZYDIS_DECODER_MODE_MPX, ZYAN_FALSE);
  ZydisDecoderEnableMode(&zydis, ZYDIS_DECODER_MODE_CET, ZYAN_FALSE);
  csh capstone;
  ASSERT_EQ(cs_open(CS_ARCH_X86, CS_MODE_32, &capstone), CS_ERR_OK);
  cs_insn* insn = cs_malloc(capstone);

  Tally zt, ct, ot;
  uint64_t bytes = 0;
  for (const std::string& path : files) {
    rvx::ImageFile image;
    if (!LoadImage(path, image)) continue;
    for (auto [start, end] : image.CodeRanges()) {
      const uint8_t* code = image.Bytes(start);
      bytes += end - start;
      for (Address a = start; a < end;) {
        ZydisDecodedInstruction z;
        size_t left = end - a;
        bool zValid = ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&zydis, nullptr, code + (a - start), left, &z));
        bool inSet = zValid && InOurSet(z);
        Compare(zt, image, a, zValid, zValid ? z.length : 0, zValid ? ZydisMnemonicGetString(z.mnemonic) : "-", inSet);
        // Capstone at the same address.
        const uint8_t* p = code + (a - start);
        size_t size = left;
        uint64_t addr = a;
        bool cValid = cs_disasm_iter(capstone, &p, &size, &addr, insn);
        Compare(ct, image, a, cValid, cValid ? insn->size : 0, cValid ? insn->mnemonic : "-", inSet || !zValid, false, true);
        a += zValid ? z.length : 1;
      }
    }
    // objdump's own sweep of the file.
    std::string list = Artefact("objdump_sweep.txt");
    std::string cmd = "python3 " + std::string(RVX_TEST_SOURCE_DIR) + "/objdump_sweep.py '" + path + "' '" + list + "'";
    if (std::system(cmd.c_str()) != 0) continue;
    std::ifstream in(list);
    std::string addrText, mnemonic;
    unsigned len, valid;
    while (in >> addrText >> len >> valid >> mnemonic) {
      if (mnemonic == ".byte") continue;  // data that objdump knows from symbols
      Address a = static_cast<Address>(std::stoul(addrText, nullptr, 16));
      ZydisDecodedInstruction z;
      uint8_t buf[16];
      size_t got = image.Fetch(a, buf, 15);
      bool zValid = got && ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&zydis, nullptr, buf, got, &z));
      Compare(ot, image, a, valid != 0, len, mnemonic, !zValid || InOurSet(z), true);
    }
  }
  cs_free(insn, 1);
  cs_close(&capstone);

  std::ostringstream report;
  report << files.size() << " files, " << bytes << " bytes of code\n";
  zt.Print("Zydis", report);
  ct.Print("Capstone", report);
  ot.Print("objdump", report);
  std::cout << report.str();
  std::ofstream(Artefact("decoder_agreement.txt")) << report.str();
  EXPECT_EQ(zt.Undocumented(), 0u) << "disagreements with Zydis outside the documented differences";
  EXPECT_EQ(ct.Undocumented(), 0u) << "disagreements with Capstone outside the documented differences";
  EXPECT_EQ(ot.Undocumented(), 0u) << "disagreements with objdump outside the documented differences";
  EXPECT_GT(zt.checked, 1000000u);
  EXPECT_EQ(zt.sameLength, zt.bothValid) << "lengths of valid instructions must agree with Zydis";
  EXPECT_EQ(ct.sameLength, ct.bothValid) << "lengths of valid instructions must agree with Capstone";
}

}  // namespace
