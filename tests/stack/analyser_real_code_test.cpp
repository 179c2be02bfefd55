// The function analyser on real code: every function of our own Windows executables whose bounds the symbol
// table gives, and every export of 50 system libraries.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "crash/stack/function_analyser.h"
#include "crash/stack/image_file.h"
#include "crash/stack/module.h"

namespace {

namespace fs = std::filesystem;
using rvx::Address;

bool LoadImage(const std::string& path, rvx::ImageFile& image) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  std::string error;
  return image.Load(ss.str(), path, error);
}

std::string Artefact(const std::string& name) {
  const char* dir = std::getenv("RVX_ARTEFACTS");
  return (dir ? std::string(dir) + "/" : std::string()) + name;
}

struct Function {
  Address start, end;
  std::vector<std::pair<Address, Address>> coldParts;  // "name.cold" pieces that only the function enters
};

// Function bounds from the symbol table: each text symbol runs to the next one; the compiler's ".cold"
// pieces belong to the function of the same name.
std::vector<Function> FunctionBounds(const std::string& exe, const rvx::ImageFile& image) {
  std::vector<Function> out;
  std::string list = Artefact(fs::path(exe).filename().string() + ".nm.txt");
  std::string cmd = "i686-w64-mingw32-nm -n '" + exe + "' > '" + list + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return out;
  std::ifstream in(list);
  std::vector<std::pair<Address, std::string>> symbols;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string addr, kind, name;
    if (!(ls >> addr >> kind >> name) || addr.size() != 8) continue;
    symbols.push_back({static_cast<Address>(std::stoul(addr, nullptr, 16)), kind + " " + name});
  }
  auto code = image.CodeRanges();
  std::map<std::string, size_t> byName;
  std::map<std::string, std::vector<std::pair<Address, Address>>> cold;
  for (size_t i = 0; i + 1 < symbols.size(); ++i) {
    const std::string& s = symbols[i].second;
    if (s[0] != 't' && s[0] != 'T') continue;
    // Section symbols, the exception tables and the constructor lists are data, not functions.
    if (s.size() < 3 || s[2] == '.' || s.find("CTOR_LIST") != std::string::npos ||
        s.find("DTOR_LIST") != std::string::npos)
      continue;
    Address start = symbols[i].first, end = start;
    for (size_t j = i + 1; j < symbols.size(); ++j)
      if (symbols[j].first > start) {
        end = symbols[j].first;
        break;
      }
    bool inCode = false;
    for (auto [lo, hi] : code)
      if (start >= lo && end <= hi) inCode = true;
    if (!inCode || end <= start) continue;
    std::string name = s.substr(2);
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".cold") == 0) {
      cold[name.substr(0, name.size() - 5)].push_back({start, end});
    } else {
      byName[name] = out.size();
      out.push_back({start, end, {}});
    }
  }
  for (auto& [name, parts] : cold)
    if (auto it = byName.find(name); it != byName.end()) out[it->second].coldParts = parts;
  return out;
}

// Alignment padding that no path executes: nop forms, "lea reg, [reg+0]", "mov reg, reg" and int3.
bool IsPadding(const rvx::DecodedInstruction& d) {
  const unsigned op = d.info.opcode;
  if (op == 0x90 || op == 0x0F1F || op == 0xCC) return true;
  if (op == 0x8D && d.IsMemory() && d.base == d.reg && d.disp == 0 && (d.index < 0 || d.index == 4)) return true;
  if ((op == 0x89 || op == 0x8B) && d.mod == 3 && d.rm == d.reg) return true;
  return false;
}

// Bytes of [start, end) that count: uncovered runs made only of padding are left out.
uint64_t CountedBytes(const rvx::ImageFile& image, Address start, Address end, const std::vector<bool>& covered) {
  uint64_t counted = 0;
  for (Address a = start; a < end;) {
    if (covered[a - start]) {
      ++counted;
      ++a;
      continue;
    }
    Address runEnd = a;
    while (runEnd < end && !covered[runEnd - start]) ++runEnd;
    bool padding = true;
    for (Address x = a; x < runEnd && padding;) {
      rvx::DecodedInstruction d;
      padding = rvx::DecodeDetailed(image, x, d) && IsPadding(d) && d.info.nextInstruction <= runEnd;
      x = d.info.nextInstruction;
    }
    if (!padding) counted += runEnd - a;
    a = runEnd;
  }
  return counted;
}

TEST(AnalyserRealCode, FunctionsOfOurExecutablesAreCovered) {
  std::vector<std::string> exes;
  std::error_code ec;
  for (const char* dir : {"../../win32/bin", "../win32/bin"}) {
    for (const auto& e : fs::directory_iterator(dir, ec))
      if (e.path().extension() == ".exe") exes.push_back(e.path().string());
    if (!exes.empty()) break;
  }
  if (exes.empty()) GTEST_SKIP() << "the Windows tree has not been built";
  std::sort(exes.begin(), exes.end());
  // contacts.exe when it exists, else the largest test program.
  std::string exe = exes.front();
  for (const auto& e : exes)
    if (fs::path(e).filename() == "contacts.exe" || fs::file_size(e) > fs::file_size(exe)) exe = e;
  for (const auto& e : exes)
    if (fs::path(e).filename() == "contacts.exe") exe = e;
  rvx::ImageFile image;
  ASSERT_TRUE(LoadImage(exe, image));
  auto functions = FunctionBounds(exe, image);
  ASSERT_GT(functions.size(), 100u);
  uint64_t total = 0, coveredBytes = 0, failed = 0, outside = 0, partial = 0;
  std::ostringstream report;
  for (const Function& f : functions) {
    rvx::TFunctionInfo info;
    bool ok = rvx::AnalyseFunction(image, f.start, info);
    // The function's pieces: its own range and its cold parts.
    std::vector<std::pair<Address, Address>> pieces = {{f.start, f.end}};
    pieces.insert(pieces.end(), f.coldParts.begin(), f.coldParts.end());
    std::vector<std::vector<bool>> covered;
    for (auto [lo, hi] : pieces) covered.emplace_back(hi - lo);
    bool stays = true;
    if (ok) {
      for (const rvx::CodeArea& a : info.codeAreas) {
        if (a.isCaseTable || a.isExceptionTable) continue;
        for (Address x = a.start; x <= a.end && x >= a.start; ++x) {
          bool inside = false;
          for (size_t p = 0; p < pieces.size(); ++p)
            if (x >= pieces[p].first && x < pieces[p].second) {
              covered[p][x - pieces[p].first] = true;
              inside = true;
            }
          if (!inside) stays = false;
        }
      }
    } else {
      ++failed;
      if (failed <= 10)
        report << "  analysis failed: " << std::hex << f.start << " at " << info.lastErrorAddress << std::dec << "\n";
    }
    if (!stays) ++outside;
    uint64_t counted = 0, mine = 0;
    for (size_t p = 0; p < pieces.size(); ++p) {
      counted += CountedBytes(image, pieces[p].first, pieces[p].second, covered[p]);
      for (bool c : covered[p]) mine += c;
    }
    if (ok && mine < counted && ++partial <= 15)
      report << "  partly covered: " << std::hex << f.start << ".." << f.end << std::dec << " " << mine << " of "
             << counted << "\n";
    total += counted;
    coveredBytes += std::min(mine, counted);
  }
  double share = total ? 100.0 * double(coveredBytes) / double(total) : 0;
  report << fs::path(exe).filename().string() << ": " << functions.size() << " functions, " << failed
         << " failed, " << outside << " reach beyond their symbol, " << coveredBytes << " of " << total
         << " function bytes covered (" << share << "%)\n";
  std::cout << report.str();
  std::ofstream(Artefact("analyser_coverage.txt")) << report.str();
  EXPECT_EQ(failed, 0u);
  EXPECT_GE(share, 99.0);
}

TEST(AnalyserRealCode, EveryExportOfFiftySystemLibraries) {
  std::vector<std::string> all;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/lib/i386-linux-gnu/wine/i386-windows", ec))
    if (e.path().extension() == ".dll") all.push_back(e.path().string());
  if (all.empty()) GTEST_SKIP() << "no system libraries";
  std::sort(all.begin(), all.end());
  size_t step = std::max<size_t>(1, all.size() / 50);
  uint64_t exports = 0, analysed = 0, valid = 0;
  size_t files = 0;
  for (size_t i = 0; i < all.size() && files < 50; i += step, ++files) {
    rvx::ImageFile image;
    if (!LoadImage(all[i], image)) continue;
    for (const rvx::ExportEntry& e : rvx::ListExports(image, image.base())) {
      if (!e.forwarder.empty()) continue;
      ++exports;
      rvx::TFunctionInfo info;
      bool ok = rvx::AnalyseFunction(image, image.base() + e.rva, info);
      ++analysed;
      valid += ok;
      std::string text;
      rvx::DisassembleFunction(image, image.base() + e.rva, text, image.base() + e.rva, info, true, 40);
      EXPECT_EQ(ok, !text.empty());
    }
  }
  std::cout << files << " libraries, " << exports << " exports analysed, " << valid << " valid\n";
  EXPECT_GT(analysed, 1000u);
}

}  // namespace
