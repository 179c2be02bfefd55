// The symbol writer on a fixture program built with DWARF 2 to 5: routines (a method, a routine split into
// hot and cold parts, a C routine), units of inlined header code, line numbers, the debug link, and the
// round trip writer -> container -> reader, also through the embedded resource.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "crash/stack/image_file.h"
#include "crash/stack/symbol_container.h"
#include "tools/symbols/dwarf.h"
#include "tools/symbols/pe_debug.h"
#include "tools/symbols/pe_resource.h"
#include "tools/symbols/symbol_file.h"
#include "tools/symbols/symbol_writer.h"

namespace {
using namespace rvx;

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Line numbers of the "LINE:name" markers of a fixture source, and its line count.
std::map<std::string, uint32_t> Markers(const std::string& file, uint32_t* count = nullptr) {
  std::map<std::string, uint32_t> out;
  std::istringstream in(Slurp(std::string(RVX_FIXTURE_SRC) + "/" + file));
  std::string line;
  uint32_t n = 0;
  while (std::getline(in, line)) {
    ++n;
    size_t at = line.find("LINE:");
    if (at != std::string::npos) out[line.substr(at + 5)] = n;
  }
  if (count) *count = n;
  return out;
}

struct Loaded {
  TMapFile map;
  std::map<std::string, Address> symbols;  // COFF names -> addresses, the oracle for routine starts
};

Loaded Load(const std::string& exe) {
  Loaded l;
  rvxsym::SymbolBuild build;
  std::string error;
  EXPECT_TRUE(rvxsym::BuildSymbolContent(exe, build, error)) << error;
  EXPECT_EQ(build.unitsSkipped, 0u);
  std::string container = WriteContainer(build.content, false, build.idA, build.idB);
  std::string bytes = Slurp(exe);
  ImageFile image;
  EXPECT_TRUE(image.Load(bytes, exe, error)) << error;
  ModuleBases bases;
  EXPECT_TRUE(ReadModuleBases(image, image.base(), bases));
  EXPECT_TRUE(ReadContainer(container, bases, l.map));
  l.map.codeTop = bases.codeTop;
  rvxsym::PeDebugFile pe;
  EXPECT_TRUE(pe.Load(Slurp(std::string(RVX_FIXTURE_BIN) + "/fixture_dwarf5.exe"), error));
  for (const auto& f : pe.Functions()) l.symbols[f.name] = f.address;
  return l;
}

class SymbolWriter : public ::testing::TestWithParam<std::string> {};

TEST_P(SymbolWriter, RoutinesUnitsAndLines) {
  Loaded l = Load(std::string(RVX_FIXTURE_BIN) + "/" + GetParam());
  const TMapFile& m = l.map;
  uint32_t mainLines = 0, headerLines = 0;
  auto marks = Markers("fixture_main.cpp", &mainLines);
  auto headerMarks = Markers("fixture.h", &headerLines);

  struct Expect {
    const char* symbol;
    const char* routine;
    const char* marker;
  } cases[] = {{"__ZNK6shapes6Circle4AreaEv", "shapes.Circle.Area", "area"},
               {"__Z5Spliti", "Split", "split"},
               {"_PlainC", "PlainC", "plain"},
               {"_main", "main", "main"}};
  for (const Expect& e : cases) {
    ASSERT_TRUE(l.symbols.count(e.symbol)) << e.symbol;
    Address a = l.symbols[e.symbol];
    TMfPublic p = PublicAt(m, a);
    ASSERT_TRUE(p.valid) << e.symbol;
    EXPECT_EQ(p.address, a) << e.symbol;
    EXPECT_EQ(p.name, e.routine);
    EXPECT_EQ(SegmentAt(m, true, a).unit, "fixture_main.cpp") << e.symbol;
    // The routine's line, or its first body line when that row shares the entry address (the last row at an
    // address counts).
    int32_t line = LineAt(m, a).line;
    EXPECT_TRUE(line == int32_t(marks[e.marker]) || line == int32_t(marks[e.marker]) + 1) << e.symbol << " " << line;
  }
  // The cold part carries the routine's name and the line of the throw.
  ASSERT_TRUE(l.symbols.count("__Z5Spliti.cold"));
  Address cold = l.symbols["__Z5Spliti.cold"];
  EXPECT_EQ(PublicAt(m, cold).name, "Split");
  EXPECT_EQ(PublicAt(m, cold).address, cold);
  EXPECT_EQ(LineAt(m, cold).line, int32_t(marks["split_cold"]));

  // Every address of main names the file its line belongs to: the header's lines for the inlined
  // constructor, the program's own lines elsewhere.
  bool sawHeader = false;
  for (Address a = l.symbols["_main"]; a < l.symbols["_main"] + 0x40; ++a) {
    int32_t line = LineAt(m, a).line;
    if (line <= 0) continue;
    std::string unit = SegmentAt(m, true, a).unit;
    ASSERT_TRUE(unit == "fixture.h" || unit == "fixture_main.cpp") << std::hex << a << " " << unit;
    if (unit == "fixture.h") {
      sawHeader = true;
      EXPECT_LE(line, int32_t(headerLines));
      EXPECT_GT(line, int32_t(headerMarks["header_body"]));  // the constructor, below the helper
    } else {
      EXPECT_GE(line, int32_t(marks["main"]));
      EXPECT_LE(line, int32_t(mainLines));
    }
  }
  EXPECT_TRUE(sawHeader);
  // Runtime code without DWARF is named from the COFF symbol table; it has no lines.
  ASSERT_TRUE(l.symbols.count("___cxa_throw"));
  EXPECT_EQ(PublicAt(m, l.symbols["___cxa_throw"]).name, "__cxa_throw");
  EXPECT_EQ(LineAt(m, l.symbols["___cxa_throw"]).line, 0);
  // The start-up code of the runtime that has DWARF keeps its own unit.
  EXPECT_EQ(SegmentAt(m, true, l.symbols["___main"]).unit, "gccmain.c");
}

INSTANTIATE_TEST_SUITE_P(DwarfVersions, SymbolWriter,
                         ::testing::Values("fixture_dwarf2.exe", "fixture_dwarf3.exe", "fixture_dwarf4.exe",
                                           "fixture_dwarf5.exe", "fixture_linked.exe"));

TEST(SymbolWriter, EmbeddedResourceMovesNothingAndIsFound) {
  const std::string src = std::string(RVX_FIXTURE_BIN) + "/fixture_linked.exe";
  rvxsym::SymbolBuild build;
  std::string error;
  ASSERT_TRUE(rvxsym::BuildSymbolContent(src, build, error)) << error;
  std::string container = WriteContainer(build.content, false, build.idA, build.idB);
  std::string before = Slurp(src), after = before;
  ASSERT_TRUE(rvxsym::EmbedNamedResource(after, "RVX", "EXCEPT", container, error)) << error;
  rvxsym::PeDebugFile a, b;
  ASSERT_TRUE(a.Load(before, error) && b.Load(after, error));
  ASSERT_EQ(b.sections().size(), a.sections().size() + 1);
  for (size_t i = 0; i < a.sections().size(); ++i) {
    const auto& x = a.sections()[i];
    const auto& y = b.sections()[i];
    EXPECT_EQ(x.virtualAddress, y.virtualAddress) << x.name;
    EXPECT_EQ(before.substr(x.rawOffset, x.rawSize), after.substr(y.rawOffset, y.rawSize)) << x.name;
  }
  ImageFile image;
  ASSERT_TRUE(image.Load(after, "x.exe", error)) << error;
  std::string found;
  ASSERT_TRUE(rvxsym::FindNamedResource(image, "rvx", "except", found));
  EXPECT_EQ(found, container);
  // Embedding again replaces the data; the program's own resources stay reachable.
  std::string again = after;
  ASSERT_TRUE(rvxsym::EmbedNamedResource(again, "RVX", "EXCEPT", "second", error)) << error;
  ImageFile image2;
  ASSERT_TRUE(image2.Load(again, "x.exe", error));
  ASSERT_TRUE(rvxsym::FindNamedResource(image2, "RVX", "EXCEPT", found));
  EXPECT_EQ(found, "second");

  // The file as the crash reporter sees it: the resource wins over every file beside the program.
  std::string path = ::testing::TempDir() + "embedded_fixture.exe";
  {
    std::ofstream out(path, std::ios::binary);
    out << after;
  }
  TMapFile m;
  ASSERT_TRUE(rvxsym::LoadSymbolsOfFile(path, m, error)) << error;
  EXPECT_EQ(m.publics.size(), build.content.publics.size());
  std::remove(path.c_str());
}

TEST(SymbolWriter, DamagedDwarfNeverFaults) {
  rvxsym::PeDebugFile pe;
  std::string error;
  ASSERT_TRUE(pe.Load(Slurp(std::string(RVX_FIXTURE_BIN) + "/fixture_dwarf5.exe"), error));
  rvxsym::DwarfSections s;
  s.info = pe.Section(".debug_info");
  s.abbrev = pe.Section(".debug_abbrev");
  s.line = pe.Section(".debug_line");
  s.str = pe.Section(".debug_str");
  s.lineStr = pe.Section(".debug_line_str");
  s.rnglists = pe.Section(".debug_rnglists");
  ASSERT_FALSE(s.info.empty());
  size_t whole = rvxsym::ReadDwarf(s).routines.size();
  EXPECT_GT(whole, 3u);
  // Cut sections and flipped bytes: fewer results, never a fault.
  for (size_t cut : {size_t(1), size_t(11), s.info.size() / 3, s.info.size() - 1}) {
    rvxsym::DwarfSections c = s;
    c.info = s.info.substr(0, cut);
    c.abbrev = s.abbrev.substr(0, s.abbrev.size() * cut / s.info.size());
    rvxsym::ReadDwarf(c);
  }
  std::string info(s.info), line(s.line);
  for (size_t i = 0; i < info.size(); i += 97) info[i] = static_cast<char>(info[i] ^ 0x5a);
  for (size_t i = 0; i < line.size(); i += 89) line[i] = static_cast<char>(line[i] ^ 0xa5);
  rvxsym::DwarfSections d = s;
  d.info = info;
  d.line = line;
  rvxsym::ReadDwarf(d);
}

}  // namespace
