// Symbol data against the system's debug-help library, both over contacts.exe loaded into this process:
// the first load of a module's symbols, and one address lookup (routine and line). Also the size of the
// symbol data that the program carries against the DWARF it was written from.
//
// usage: bench_symbols [PROGRAM]   (default: contacts.exe beside this program)
#include <windows.h>
#include <dbghelp.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crash/stack/map_file.h"
#include "crash/stack/module.h"

namespace {
using Clock = std::chrono::steady_clock;
double Micro(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

std::string Beside(const char* name) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/") + 1) + name;
}

std::string ReadAll(const std::string& path) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

// Bytes of the ".debug_*" sections of a PE file (long section names come from the string table).
size_t DwarfBytes(const std::string& f) {
  auto u32 = [&](size_t at) { uint32_t v = 0; if (at + 4 <= f.size()) std::memcpy(&v, &f[at], 4); return v; };
  auto u16 = [&](size_t at) { uint16_t v = 0; if (at + 2 <= f.size()) std::memcpy(&v, &f[at], 2); return v; };
  if (f.size() < 64) return 0;
  size_t nt = u32(60), sections = nt + 24 + u16(nt + 20);
  size_t strings = size_t(u32(nt + 12)) + size_t(u32(nt + 16)) * 18;
  size_t total = 0;
  for (unsigned i = 0; i < u16(nt + 6); ++i) {
    size_t s = sections + 40 * i;
    if (s + 40 > f.size()) break;
    std::string name(&f[s], strnlen(&f[s], 8));
    if (name.size() > 1 && name[0] == '/') {
      size_t at = strings + std::strtoul(name.c_str() + 1, nullptr, 10);
      if (at < f.size()) name = std::string(&f[at], strnlen(&f[at], f.size() - at));
    }
    if (name.compare(0, 7, ".debug_") == 0) total += u32(s + 8) ? u32(s + 8) : u32(s + 16);
  }
  return total;
}
}  // namespace

int main(int argc, char** argv) {
  std::string program = argc > 1 ? argv[1] : Beside("contacts.exe");
  HMODULE module = LoadLibraryExA(program.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (!module) {
    std::printf("cannot load %s (error %lu)\n", program.c_str(), GetLastError());
    return 1;
  }
  const rvx::Address base = static_cast<rvx::Address>(reinterpret_cast<uintptr_t>(module));
  const std::string dll = program;

  // First load: the cache is emptied before every round.
  const int loads = 20;
  std::shared_ptr<const rvx::TMapFile> map;
  auto t0 = Clock::now();
  for (int i = 0; i < loads; ++i) {
    rvx::FreeSymbolData();
    map = rvx::SymbolDataFor(base + 0x1000);
  }
  double ourLoad = Micro(Clock::now() - t0) / loads;
  if (!map->valid || map->publics.size() < 2) {
    std::printf("%s carries no symbol data\n", program.c_str());
    return 1;
  }
  // Addresses inside routines, spread over the whole code.
  std::vector<rvx::Address> addresses;
  for (size_t i = 0; i + 1 < map->publics.size() && addresses.size() < 20000; i += 1 + map->publics.size() / 20000) {
    const auto& p = map->publics[i];
    uint32_t span = map->publics[i + 1].address - p.address;
    addresses.push_back(p.address + (span > 1 ? (i * 7919) % span : 0));
  }
  const int rounds = 20;
  size_t found = 0;
  t0 = Clock::now();
  for (int r = 0; r < rounds; ++r)
    for (rvx::Address a : addresses) {
      rvx::TMfPublic p = rvx::PublicAt(*map, a);
      rvx::LineResult l = rvx::LineAt(*map, a);
      rvx::TMfSegment s = rvx::SegmentAt(*map, true, a);
      found += p.valid + (l.line > 0) + s.valid;
    }
  double ourLookup = Micro(Clock::now() - t0) / (double(rounds) * addresses.size());
  t0 = Clock::now();
  rvx::SymbolInfo info;
  for (rvx::Address a : addresses) found += rvx::SymbolInfoAt(a, info);
  double ourInfo = Micro(Clock::now() - t0) / addresses.size();

  // The peer: debug-help over the same loaded module.
  HANDLE process = GetCurrentProcess();
  SymSetOptions(SYMOPT_LOAD_LINES | SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS * 0);
  double peerLoad = 0;
  const int peerLoads = 3;
  for (int i = 0; i < peerLoads; ++i) {
    auto s = Clock::now();
    SymInitialize(process, nullptr, FALSE);
    SymLoadModuleEx(process, nullptr, dll.c_str(), nullptr, base, 0, nullptr, 0);
    SYMBOL_INFO_PACKAGE sip{};
    sip.si.SizeOfStruct = sizeof(SYMBOL_INFO);
    sip.si.MaxNameLen = MAX_SYM_NAME;
    DWORD64 displacement = 0;
    SymFromAddr(process, addresses[0], &displacement, &sip.si);  // forces the load
    peerLoad += Micro(Clock::now() - s);
    if (i + 1 < peerLoads) SymCleanup(process);
  }
  peerLoad /= peerLoads;
  size_t peerNames = 0, peerLines = 0;
  t0 = Clock::now();
  for (rvx::Address a : addresses) {
    SYMBOL_INFO_PACKAGE sip{};
    sip.si.SizeOfStruct = sizeof(SYMBOL_INFO);
    sip.si.MaxNameLen = MAX_SYM_NAME;
    DWORD64 displacement = 0;
    peerNames += SymFromAddr(process, a, &displacement, &sip.si) != FALSE;
    IMAGEHLP_LINE line{};
    line.SizeOfStruct = sizeof line;
    DWORD lineDisplacement = 0;
    peerLines += SymGetLineFromAddr(process, a, &lineDisplacement, &line) != FALSE;
  }
  double peerLookup = Micro(Clock::now() - t0) / addresses.size();
  SymCleanup(process);

  size_t ourNames = 0, ourLines = 0;
  for (rvx::Address a : addresses) {
    ourNames += rvx::PublicAt(*map, a).valid;
    ourLines += rvx::LineAt(*map, a).line > 0;
  }
  std::string embedded = rvx::ResourceText(base, L"RVX", L"EXCEPT");
  std::string dbg = ReadAll(program.substr(0, program.find_last_of(".")) + ".dbg");
  size_t dwarf = DwarfBytes(dbg);
  std::printf("symbol data of %s: %zu routines, %zu line items\n", program.c_str(), map->publics.size(),
              map->lines.size());
  std::printf("first load:   ours %9.1f us   dbghelp %9.1f us   ratio %.2f\n", ourLoad, peerLoad, peerLoad / ourLoad);
  std::printf("one lookup:   ours %9.3f us   dbghelp %9.3f us   ratio %.1f  (routine, unit and line)\n", ourLookup,
              peerLookup, peerLookup / ourLookup);
  std::printf("with module:  ours %9.3f us   (SymbolInfoAt: module, cache check by file time, lookups)\n", ourInfo);
  std::printf("resolved of %zu addresses: ours %zu names, %zu lines; dbghelp %zu names, %zu lines\n", addresses.size(),
              ourNames, ourLines, peerNames, peerLines);
  std::printf("embedded symbol data %zu bytes, DWARF %zu bytes (%.1f%%)\n", embedded.size(), dwarf,
              dwarf ? 100.0 * embedded.size() / dwarf : 0.0);
  std::printf("targets: first load < 20000 us: %s, lookup < 2 us: %s\n", ourLoad < 20000 ? "met" : "MISSED",
              ourLookup < 2 ? "met" : "MISSED");
  return found ? 0 : 1;
}
