// Decoding speed of DecodeInstruction (length and target, no text) against Zydis's decoder in minimal mode
// and Capstone without details, over the same code in the same run; InstructionText against Zydis's
// formatter. Prints the ratios.
#include <Zydis/Zydis.h>
#include <capstone/capstone.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "crash/stack/decoder.h"
#include "crash/stack/image_file.h"

namespace {

using Clock = std::chrono::steady_clock;

// Best of several runs, in seconds.
double Time(const std::function<uint64_t()>& run, uint64_t& result, int repeats = 5) {
  double best = 1e9;
  for (int i = 0; i < repeats; ++i) {
    auto t0 = Clock::now();
    result = run();
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    best = std::min(best, s);
  }
  return best;
}

std::string CodeOf(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  rvx::ImageFile image;
  std::string error, code;
  if (!image.Load(ss.str(), path, error)) return code;
  for (auto [lo, hi] : image.CodeRanges()) code.append(reinterpret_cast<const char*>(image.Bytes(lo)), hi - lo);
  return code;
}

}  // namespace

int main() {
  std::string code;
  const char* dir = "/usr/lib/i386-linux-gnu/wine/i386-windows";
  for (const char* n : {"kernelbase.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "ole32.dll", "comctl32.dll",
                        "ucrtbase.dll", "jscript.dll", "d3dx9_43.dll", "shell32.dll"})
    code += CodeOf(std::string(dir) + "/" + n);
  if (code.size() < (1 << 20)) {
    std::printf("not enough 32-bit code found under %s\n", dir);
    return 1;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(code.data());
  const size_t size = code.size();
  const rvx::Address base = 0x10000000;
  rvx::BufferReader memory(base, bytes, size);
  std::printf("code: %.1f MB of 32-bit code from 10 system libraries\n", double(size) / 1e6);

  uint64_t oursCount = 0, zydisCount = 0, capCount = 0;
  double ours = Time([&] {
    uint64_t n = 0, sink = 0;
    rvx::InstructionInfo info;
    for (rvx::Address a = base; a < base + size; ++n) {
      rvx::DecodeInstruction(memory, a, info);
      sink += info.target;
      a = info.valid ? info.nextInstruction : a + 1;
    }
    return n + (sink & 1) * 0;
  }, oursCount);

  ZydisDecoder zydis;
  ZydisDecoderInit(&zydis, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
  ZydisDecoderEnableMode(&zydis, ZYDIS_DECODER_MODE_MINIMAL, ZYAN_TRUE);
  double zyd = Time([&] {
    uint64_t n = 0;
    ZydisDecodedInstruction z;
    for (size_t off = 0; off < size; ++n) {
      bool ok = ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&zydis, nullptr, bytes + off, size - off, &z));
      off += ok ? z.length : 1;
    }
    return n;
  }, zydisCount);

  csh cs;
  cs_open(CS_ARCH_X86, CS_MODE_32, &cs);
  cs_option(cs, CS_OPT_DETAIL, CS_OPT_OFF);
  cs_insn* insn = cs_malloc(cs);
  double cap = Time([&] {
    uint64_t n = 0;
    for (size_t off = 0; off < size; ++n) {
      const uint8_t* p = bytes + off;
      size_t left = size - off;
      uint64_t addr = base + off;
      bool ok = cs_disasm_iter(cs, &p, &left, &addr, insn);
      off += ok ? insn->size : 1;
    }
    return n;
  }, capCount, 2);

  std::printf("DecodeInstruction: %.1f MB/s (%llu instructions)\n", double(size) / 1e6 / ours, (unsigned long long)oursCount);
  std::printf("Zydis minimal:     %.1f MB/s (%llu instructions)\n", double(size) / 1e6 / zyd, (unsigned long long)zydisCount);
  std::printf("Capstone:          %.1f MB/s (%llu instructions)\n", double(size) / 1e6 / cap, (unsigned long long)capCount);
  std::printf("ratio decoder / Zydis minimal: %.2fx %s\n", zyd / ours, ours <= zyd ? "(at least as fast)" : "(slower)");
  std::printf("ratio decoder / Capstone:      %.2fx\n", cap / ours);

  // Text: a slice of the code, both sides formatting every instruction.
  const size_t slice = std::min<size_t>(size, 2 << 20);
  uint64_t textCount = 0, zfCount = 0;
  double text = Time([&] {
    uint64_t n = 0, chars = 0;
    std::string line;
    rvx::InstructionInfo info;
    for (rvx::Address a = base; a < base + slice; ++n) {
      rvx::InstructionText(memory, a, line, nullptr, info, false);
      chars += line.size();
      a = info.valid ? info.nextInstruction : a + 1;
    }
    return n + chars * 0;
  }, textCount, 3);
  ZydisDecoder full;
  ZydisDecoderInit(&full, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
  ZydisFormatter formatter;
  ZydisFormatterInit(&formatter, ZYDIS_FORMATTER_STYLE_INTEL);
  double zfmt = Time([&] {
    uint64_t n = 0, chars = 0;
    char buf[256];
    ZydisDecodedInstruction z;
    ZydisDecodedOperand ops[ZYDIS_MAX_OPERAND_COUNT];
    for (size_t off = 0; off < slice; ++n) {
      if (ZYAN_SUCCESS(ZydisDecoderDecodeFull(&full, bytes + off, slice - off, &z, ops))) {
        ZydisFormatterFormatInstruction(&formatter, &z, ops, z.operand_count_visible, buf, sizeof buf, base + off, nullptr);
        chars += std::strlen(buf);
        off += z.length;
      } else {
        off += 1;
      }
    }
    return n + chars * 0;
  }, zfCount, 3);
  std::printf("InstructionText:   %.2f M instructions/s\n", double(textCount) / 1e6 / text);
  std::printf("Zydis formatter:   %.2f M instructions/s (decode full + format)\n", double(zfCount) / 1e6 / zfmt);
  std::printf("ratio InstructionText / Zydis formatter: %.2fx\n", zfmt / text * double(textCount) / double(zfCount));
  cs_free(insn, 1);
  cs_close(&cs);
  return 0;
}
