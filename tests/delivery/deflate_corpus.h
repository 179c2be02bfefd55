// Deterministic sample data for the compression tests and the benchmark: empty, one byte, bug-report
// text, x86-like binary, incompressible noise and several megabytes of repetitive report text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rvxtest {

struct CorpusItem {
  std::string name;
  std::string data;
};

class Prng {
 public:
  explicit Prng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return s_;
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }

 private:
  uint64_t s_;
};

inline std::string Hex(uint32_t v, int digits) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*x", digits, v);
  return b;
}

// One bug report: header items, call stacks, registers, stack dump and a module list.
inline std::string BugReportText(Prng& r, int threads = 4) {
  static const char* units[] = {"Unit1", "Forms", "Controls", "DBGrids", "JvDBGrid", "System", "Classes", "DB"};
  static const char* routines[] = {"TForm1.btnInsertClick", "TControl.Click", "TButton.Click", "TWinControl.WndProc",
                                   "TCustomForm.WndProc", "StdWndProc", "TApplication.Run", "TDataSet.Post",
                                   "TJvDBGrid.KeyDown", "TCustomGrid.MouseDown"};
  static const char* modules[] = {"Project1.exe", "kernel32.dll", "user32.dll", "ntdll.dll", "midas.dll",
                                  "comctl32.dll", "gdi32.dll", "advapi32.dll"};
  std::string s;
  auto item = [&](const std::string& name, const std::string& value) {
    s += name + std::string(22 - name.size(), ' ') + ": " + value + "\r\n";
  };
  item("date/time", "2026-12-" + std::to_string(1 + r.Below(28)) + ", 08:" + std::to_string(10 + r.Below(50)) +
                        ":" + std::to_string(10 + r.Below(50)) + ", " + std::to_string(r.Below(1000)) + "ms");
  item("computer name", "WORKSTATION-" + std::to_string(r.Below(100)));
  item("user name", "operator  <admin>");
  item("operating system", "Windows 7 x64 Service Pack 1 build 7601");
  item("system language", "Portuguese (Brazil)");
  item("system up time", std::to_string(r.Below(20)) + " days " + std::to_string(r.Below(24)) + " hours");
  item("processors", "2x Intel(R) Core(TM) i5 CPU 750 @ 2.67GHz");
  item("physical memory", std::to_string(1000 + r.Below(3000)) + "/4095 MB (free/total)");
  item("free disk space", "(C:) " + std::to_string(r.Below(90)) + ",42 GB");
  item("display mode", "1024x768, 32 bit");
  item("process id", "$" + Hex(r.Below(0x4000), 1));
  item("executable", "Project1.exe");
  item("callstack crc", "$" + Hex(static_cast<uint32_t>(r.Next()), 8) + ", $" + Hex(static_cast<uint32_t>(r.Next()), 8));
  item("exception class", "EDatabaseError");
  item("exception message", "ClientDataSet1: Field 'ID' must have a value.");
  for (int t = 0; t < threads; ++t) {
    s += "\r\n" + std::string(t == 0 ? "main thread ($" : "thread $") + Hex(0x100 + r.Below(0x2000), 1) + "):\r\n";
    const int lines = 6 + static_cast<int>(r.Below(14));
    for (int i = 0; i < lines; ++i) {
      const uint32_t addr = 0x00400000 + r.Below(0x80000);
      s += Hex(addr, 8) + " +" + Hex(r.Below(0x200), 3) + " " + modules[r.Below(8)] + " " + units[r.Below(8)] + " " +
           std::to_string(r.Below(3000)) + " +" + std::to_string(r.Below(12)) + " " + routines[r.Below(10)] + "\r\n";
    }
  }
  s += "\r\ncpu registers:\r\n";
  for (const char* reg : {"eax", "ebx", "ecx", "edx", "esi", "edi", "eip", "esp", "ebp"})
    s += std::string(reg) + " = " + Hex(static_cast<uint32_t>(r.Next()), 8) + "\r\n";
  s += "\r\nstack dump:\r\n";
  for (int i = 0; i < 24; ++i) {
    s += Hex(0x0012f000 + 16 * i, 8) + "  ";
    for (int b = 0; b < 16; ++b) s += Hex(r.Below(4) ? r.Below(256) : 0, 2) + " ";
    s += " ................\r\n";
  }
  s += "\r\nmodules:\r\n";
  for (int i = 0; i < 8; ++i)
    s += Hex(0x00400000 + 0x01000000 * i, 8) + " " + modules[i] + std::string(16 - std::string(modules[i]).size(), ' ') +
         "6.1." + std::to_string(7600 + r.Below(2000)) + ".1  C:\\Windows\\system32\r\n";
  return s;
}

// x86-like machine code: common instruction patterns with varying operands, tables and padding.
inline std::string BinaryData(Prng& r, size_t size) {
  static const std::string patterns[] = {"\x55\x8b\xec", "\x83\xc4", "\x8b\x45", "\x89\x45", "\xe8", "\xc3",
                                         "\x53\x56\x57", "\x8b\xd8", "\x33\xc0", "\x74", "\x75", "\x6a\x00",
                                         "\x8d\x45", "\xff\x15", "\x5f\x5e\x5b", "\x8b\xe5\x5d"};
  std::string s;
  s.reserve(size + 16);
  while (s.size() < size) {
    const uint32_t pick = r.Below(100);
    if (pick < 80) {
      s += patterns[r.Below(16)];
      const int operand = static_cast<int>(r.Below(5));
      for (int i = 0; i < operand; ++i) s.push_back(static_cast<char>(i < 2 ? r.Below(256) : r.Below(8)));
    } else if (pick < 90) {
      for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>(r.Below(4)));
    } else if (pick < 95) {
      s.append(4 + r.Below(28), '\0');
    } else {
      const uint32_t base = 0x00401000 + r.Below(0x1000) * 16;
      for (int i = 0; i < 4; ++i) s.append(reinterpret_cast<const char*>(&base), 4);
    }
  }
  s.resize(size);
  return s;
}

inline std::string RandomData(Prng& r, size_t size) {
  std::string s(size, '\0');
  for (auto& c : s) c = static_cast<char>(r.Next() >> 56);
  return s;
}

// The standard corpus; `repetitiveSize` bytes of repeated report text end it.
inline std::vector<CorpusItem> DeflateCorpus(size_t repetitiveSize = 4u << 20) {
  Prng r(20261209);
  std::vector<CorpusItem> c;
  c.push_back({"empty", ""});
  c.push_back({"one byte", "x"});
  std::string report;
  while (report.size() < 48 * 1024) report += BugReportText(r, 3);
  c.push_back({"bug report", report});
  c.push_back({"binary", BinaryData(r, 256 * 1024)});
  c.push_back({"random", RandomData(r, 256 * 1024)});
  std::string repetitive;
  repetitive.reserve(repetitiveSize + 64 * 1024);
  const std::string block = BugReportText(r, 6);
  while (repetitive.size() < repetitiveSize) {
    repetitive += block;
    repetitive += "exception number      : " + std::to_string(repetitive.size()) + "\r\n";
  }
  repetitive.resize(repetitiveSize);
  c.push_back({"repetitive", repetitive});
  return c;
}

}  // namespace rvxtest
