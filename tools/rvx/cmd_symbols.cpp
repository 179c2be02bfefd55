// rvx symbols: writes a program's symbol container from its debug information, embeds it as the program's
// resource, and shows or looks up what the crash reporter reads from a file.
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "crash/stack/map_file.h"
#include "crash/stack/symbol_container.h"
#include "crash/stack/symbol_sources.h"
#include "crash/stack/text.h"
#include "tools/rvx/command.h"
#include "tools/symbols/pe_resource.h"
#include "tools/symbols/symbol_file.h"
#include "tools/symbols/symbol_writer.h"

namespace rvxtool {
namespace {

std::string Hex8(uint32_t v) {
  char b[9];
  std::snprintf(b, sizeof b, "%08x", v);
  return b;
}

int Build(const Args& a) {
  std::string exe, out;
  bool minimal = false;
  for (size_t i = 1; i < a.size(); ++i) {
    if (a[i] == "-o" && i + 1 < a.size()) out = a[++i];
    else if (a[i] == "--minimal") minimal = true;
    else if (exe.empty()) exe = a[i];
    else return UsageError("symbols build: unexpected argument '" + a[i] + "'");
  }
  if (exe.empty()) return UsageError("symbols build: expected EXE");
  if (out.empty()) out = rvx::WithExtension(exe, ".rvx");
  rvxsym::SymbolBuild build;
  std::string error;
  if (!rvxsym::BuildSymbolContent(exe, build, error)) return Fail(error);
  std::string full = rvx::WriteContainer(build.content, false, build.idA, build.idB);
  std::string written = minimal ? rvx::WriteContainer(build.content, true, build.idA, build.idB) : full;
  if (written.empty()) return Fail("packing the symbol data failed");
  if (!WriteFileBytes(out, written, error)) return Fail(error);
  std::cout << out << ": " << build.content.segments.size() << " units, " << build.content.publics.size()
            << " routines (" << build.dwarfRoutines << " from DWARF, " << build.coffRoutines << " from COFF), "
            << build.content.lines.size() << " line items; " << written.size() << " bytes from "
            << build.dwarfBytes << " bytes of DWARF in " << build.debugFile << "\n";
  if (build.unitsSkipped) std::cout << "skipped " << build.unitsSkipped << " damaged DWARF units\n";
  if (minimal)
    std::cout << "MinDebugInfo: "
              << rvx::ContainerFingerprint(static_cast<uint32_t>(full.size()), build.idA, build.idB)
              << " (the full symbol file, written with the same command without --minimal)\n";
  return 0;
}

int Embed(const Args& a) {
  if (a.size() != 3) return UsageError("symbols embed: expected EXE FILE.rvx");
  std::string exe, data, error;
  if (!ReadFileBytes(a[1], exe, error) || !ReadFileBytes(a[2], data, error)) return Fail(error);
  rvx::ContainerHeader h;
  if (!rvx::ReadContainerHeader(data, h)) return Fail(a[2] + ": not a symbol container");
  if (!rvxsym::EmbedNamedResource(exe, "RVX", "EXCEPT", data, error)) return Fail(a[1] + ": " + error);
  if (!WriteFileBytes(a[1], exe, error)) return Fail(error);
  return 0;
}

int Dump(const Args& a) {
  if (a.size() != 2) return UsageError("symbols dump: expected FILE");
  rvx::TMapFile map;
  std::string error;
  if (!rvxsym::LoadSymbolsOfFile(a[1], map, error)) return Fail(error);
  std::cout << "code " << Hex8(map.codeBase) << ".." << Hex8(map.codeTop) << "  data " << Hex8(map.dataBase) << ".."
            << Hex8(map.dataTop) << "  entry " << Hex8(map.entryPoint) << "\n";
  if (!map.minimalFingerprint.empty()) std::cout << "minimal data, fingerprint " << map.minimalFingerprint << "\n";
  std::cout << "segments " << map.segments.size() << "\n";
  for (const rvx::TMfSegment& s : map.segments)
    std::cout << Hex8(s.start) << " " << Hex8(s.length) << " " << (s.isCode ? "code" : "data") << " " << s.unit
              << (s.hasLineNumbers ? " (lines)" : "") << "\n";
  std::cout << "publics " << map.publics.size() << "\n";
  for (const rvx::TMfPublic& p : map.publics)
    std::cout << Hex8(p.address) << " " << (p.isCode ? "code" : "data") << " " << p.name << "\n";
  std::cout << "lines " << map.lines.size() << "\n";
  for (const rvx::TMfLine& l : map.lines) std::cout << Hex8(l.address) << " " << l.line << "\n";
  return 0;
}

int Lookup(const Args& a) {
  if (a.size() < 3) return UsageError("symbols lookup: expected FILE ADDR...");
  rvx::TMapFile map;
  std::string error;
  if (!rvxsym::LoadSymbolsOfFile(a[1], map, error)) return Fail(error);
  std::string out;
  for (size_t i = 2; i < a.size(); ++i) {
    std::string text = a[i];
    if (text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0) text.erase(0, 2);
    char* end = nullptr;
    unsigned long v = std::strtoul(text.c_str(), &end, 16);
    if (text.empty() || *end != '\0' || v > 0xFFFFFFFFul) return UsageError("symbols lookup: bad address '" + a[i] + "'");
    rvx::Address address = static_cast<rvx::Address>(v);
    rvx::TMfSegment s = rvx::SegmentAt(map, true, address);
    rvx::LineResult l = rvx::LineAt(map, address);
    rvx::TMfPublic p = rvx::PublicAt(map, address);
    out += Hex8(address) + "\t" + (s.valid ? s.unit : "") + "\t" + std::to_string(l.line > 0 ? l.line : 0) + "\t" +
           (p.valid ? p.name : "") + "\n";
  }
  std::cout << out;
  return 0;
}

int RunSymbols(const Args& a) {
  if (a.empty()) return UsageError("symbols: expected build, embed, dump or lookup");
  if (a[0] == "build") return Build(a);
  if (a[0] == "embed") return Embed(a);
  if (a[0] == "dump") return Dump(a);
  if (a[0] == "lookup") return Lookup(a);
  return UsageError("symbols: unknown action '" + a[0] + "'");
}

RvxCommand cmd{"symbols",
               "  rvx symbols build EXE [-o OUT.rvx] [--minimal]\n"
               "                              write the symbol container of a program from its debug information\n"
               "  rvx symbols embed EXE FILE.rvx\n"
               "                              give a program the container as its \"RVX\"/\"EXCEPT\" resource\n"
               "  rvx symbols dump FILE       segments, publics and line items of a program or symbol file\n"
               "  rvx symbols lookup FILE ADDR...\n"
               "                              address, unit, line and routine of each address (tab-separated)",
               RunSymbols};

}  // namespace
}  // namespace rvxtool
