// Every source of symbol data with files made here: the container (both versions, minimal data), the text
// map file, JDBG data and compiler symbol tables; damaged input; and the choice among the sources.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "crash/stack/symbol_container.h"
#include "crash/stack/symbol_sources.h"

namespace {
using namespace rvx;

ModuleBases Bases() {
  ModuleBases b;
  b.module = 0x400000;
  b.codeBase = 0x401000;
  b.codeTop = 0x480000;
  b.dataBase = 0x500000;
  b.dataTop = 0x520000;
  return b;
}

ContainerContent Sample() {
  ContainerContent c;
  c.segments = {{0x0, 0x200, "unit1_win.cpp", true}, {0x200, 0x100, "grids.h", true}, {0x300, 0x100, "main_win.cpp", false}};
  c.publics = {{0x0, "TForm1.btnSaveClick"}, {0x80, "TForm1.btnInsertClick"}, {0x200, "TGrid.Paint"},
               {0x210, "grids.h"}, {0x300, "main"}, {0x300 + 100000, "far"}};
  c.lines = {{40, 0x0}, {42, 0x10}, {41, 0x20}, {300, 0x200}, {7, 0x300}, {70000, 0x300 + 90000}};
  c.hasEntryPoint = true;
  c.entryPoint = 0x300;
  return c;
}

TEST(SymbolContainer, RoundTripInBothVersions) {
  for (uint32_t version : {3u, 2u}) {
    std::string bytes = WriteContainer(Sample(), false, 0x11223344, 0x55667788, version);
    TMapFile m;
    bool minimal = true;
    ASSERT_TRUE(ReadContainer(bytes, Bases(), m, &minimal)) << version;
    EXPECT_FALSE(minimal);
    ASSERT_EQ(m.segments.size(), 3u);
    EXPECT_EQ(m.segments[1].start, 0x401200u);
    EXPECT_EQ(m.segments[1].unit, "grids.h");
    ASSERT_EQ(m.publics.size(), 6u);
    EXPECT_EQ(m.publics[0].name, "TForm1.btnSaveClick");
    EXPECT_EQ(m.publics[3].name, "initialization");  // named like its unit
    EXPECT_EQ(m.publics[5].address, 0x401000u + 0x300 + 100000);  // a delta beyond one byte
    ASSERT_EQ(m.lines.size(), 6u);
    EXPECT_EQ(m.lines[2].line, 41u);  // a line going back survives the deltas
    EXPECT_EQ(m.lines[5].line, 70000u);
    EXPECT_EQ(m.entryPoint, 0x401300u);
    ContainerHeader h;
    ASSERT_TRUE(ReadContainerHeader(bytes, h));
    EXPECT_EQ(h.idA, version == 3 ? 0x11223344u : 0u);
    EXPECT_EQ(h.flags, 0u);
  }
}

TEST(SymbolContainer, MinimalDataNamesItsEntries) {
  std::string bytes = WriteContainer(Sample(), true, 1, 2);
  TMapFile m;
  bool minimal = false;
  ASSERT_TRUE(ReadContainer(bytes, Bases(), m, &minimal));
  EXPECT_TRUE(minimal);
  EXPECT_EQ(m.segments[0].unit, "segment%0");
  EXPECT_EQ(m.segments[0].hasLineNumbers, 1u);
  EXPECT_EQ(m.segments[2].hasLineNumbers, 0u);
  EXPECT_EQ(m.publics[1].name, "public%1");
  EXPECT_TRUE(m.lines.empty());
  EXPECT_EQ(LineAt(m, 0x401010).line, -1);
  EXPECT_EQ(ContainerFingerprint(0x1a2b, 1, 0xffffffff), "$00001a2b, $00000001, $ffffffff");
  EXPECT_EQ(ContainerFingerprint(0, 0, 0).size(), 31u);
}

TEST(SymbolContainer, LongNamesAreCutAndEmptyListsRead) {
  ContainerContent c;
  c.publics = {{0, std::string(300, 'n')}};
  TMapFile m;
  ASSERT_TRUE(ReadContainer(WriteContainer(c, false, 0, 0), Bases(), m));
  EXPECT_EQ(m.publics[0].name.size(), 255u);
  TMapFile empty;
  EXPECT_TRUE(ReadContainer(WriteContainer(ContainerContent{}, false, 0, 0), Bases(), empty));
}

TEST(SymbolContainer, DamageGivesNoData) {
  const std::string good = WriteContainer(Sample(), false, 1, 2);
  auto fails = [](std::string bytes) {
    TMapFile m;
    return !ReadContainer(bytes, Bases(), m);
  };
  std::string wrongMagic = good;
  wrongMagic[0] ^= 1;
  EXPECT_TRUE(fails(wrongMagic));
  for (uint32_t v : {0u, 1u, 4u, 0xffffffffu}) {
    std::string wrongVersion = good;
    std::memcpy(&wrongVersion[kContainerMagic.size() + 4], &v, 4);
    EXPECT_TRUE(fails(wrongVersion)) << v;
  }
  std::string tooLong = good;
  uint32_t huge = 0xfffffff0u;
  std::memcpy(&tooLong[kContainerMagic.size()], &huge, 4);
  EXPECT_TRUE(fails(tooLong));
  for (size_t cut : {size_t(0), size_t(10), size_t(30), good.size() / 2, good.size() - 1})
    EXPECT_TRUE(fails(good.substr(0, cut))) << cut;
  std::string flipped = good;
  flipped[good.size() - 20] ^= 0x40;  // enciphered payload damaged: the checked string fails
  EXPECT_TRUE(fails(flipped));
  // Streams that end early or claim more entries than they hold.
  std::string stream = WriteContainerStream(Sample(), false);
  for (size_t cut = 0; cut + 4 < stream.size(); cut += 7) {  // the last 4 bytes: the entry point
    TMapFile m;
    EXPECT_FALSE(ReadContainerStream(stream.substr(0, cut), false, Bases(), m)) << cut;
  }
  std::string boastful = stream;
  uint32_t many = 0x7fffffff;
  std::memcpy(&boastful[0], &many, 4);
  TMapFile m;
  EXPECT_FALSE(ReadContainerStream(boastful, false, Bases(), m));
}

// ---- text map file ----

const char* kTextMap =
    "\r\n"
    " Start         Length     Name                   Class\r\n"
    " 0001:00401000 00012345H .text                   CODE\r\n"
    " 0002:00420000 00001000H .data                   DATA\r\n"
    "\r\n"
    "\r\n"
    "Detailed map of segments\r\n"
    "\r\n"
    " 0001:00000000 00000100 C=CODE     S=.text    G=(none)   M=System   ACBP=A9\r\n"
    " 0001:00000100 00000200 C=CODE     S=.text    G=(none)   M=Unit1    ACBP=A9\r\n"
    " 0001:00000300 00000100 C=CODE     S=.text    G=(none)   M=Project1 ACBP=A9\r\n"
    " 0002:00000000 00000040 C=DATA     S=.data    G=DGROUP   M=Unit1    ACBP=A9\r\n"
    " 0003:00000000 00000040 C=BSS      S=.bss     G=DGROUP   M=Unit1    ACBP=A9\r\n"
    " short line\r\n"
    "\r\n"
    "\r\n"
    "  Address         Publics by Value\r\n"
    "\r\n"
    " 0001:00000000       System.Move\r\n"
    " 0001:00000100       Unit1.TForm1.btnSaveClick (tagged)\r\n"
    " 0001:00000180       Unit1\r\n"
    " 0001:0000ZZZZ       Broken\r\n"
    " 0002:00000010       Unit1.Form1\r\n"
    "\r\n"
    "\r\n"
    "Line numbers for Unit1(Unit1.pas) segment .text\r\n"
    "\r\n"
    "    40 0001:00000100    41 0001:00000108    42 0001:00000104    43 0001:00000110\r\n"
    "\r\n"
    "Line numbers for Unit1(Unit1.pas) segment .text\r\n"
    "\r\n"
    "    50 0001:00000180    51 0001:00000190\r\n"
    "\r\n"
    "Program entry point at 0001:00000300\r\n";

TEST(SymbolTextMap, SectionsOfAMapFile) {
  TMapFile m;
  ASSERT_TRUE(ReadTextMap(kTextMap, Bases(), m));
  ASSERT_EQ(m.segments.size(), 4u);  // segment 3 lies above the data segment: skipped
  EXPECT_EQ(SegmentAt(m, true, 0x401150).unit, "Unit1");
  EXPECT_EQ(SegmentAt(m, false, 0x500020).unit, "Unit1");
  EXPECT_EQ(PublicAt(m, 0x401000).name, "Move");  // "System." is the segment's own unit
  EXPECT_EQ(PublicAt(m, 0x401120).name, "TForm1.btnSaveClick");
  EXPECT_EQ(PublicAt(m, 0x401190).name, "initialization");
  ASSERT_EQ(m.publics.size(), 4u);  // the broken line is skipped
  // Both line sections of Unit1 are kept; 42 goes backwards within its section and is dropped.
  ASSERT_EQ(m.lines.size(), 5u);
  EXPECT_EQ(LineAt(m, 0x401106).line, 40);
  EXPECT_EQ(LineAt(m, 0x401108).line, 41);
  EXPECT_EQ(LineAt(m, 0x401195).line, 51);
  EXPECT_EQ(m.entryPoint, 0x401300u);
}

TEST(SymbolTextMap, GarbageIsSkippedLineByLine) {
  TMapFile m;
  EXPECT_FALSE(ReadTextMap("no map here\r\n\r\n", Bases(), m));
  std::string text = kTextMap;
  for (size_t cut = 0; cut < text.size(); cut += 13) {
    TMapFile part;
    ReadTextMap(text.substr(0, cut), Bases(), part);  // never faults
  }
}

// ---- JDBG ----

void PutValue(std::string& out, uint32_t v) {
  do {
    uint8_t b = v & 0x7f;
    v >>= 7;
    if (v) b |= 0x80;
    out.push_back(static_cast<char>(b));
  } while (v);
}

std::string Jdbg(bool checksumValid, bool goodChecksum = true) {
  std::string names(1, '\0');  // offset 0: the empty name
  std::map<std::string, uint32_t> at;
  for (const char* n : {"C:\\src\\Unit1.pas", "System.pas", "TForm1", "btnSaveClick", "Unit1.Helper"}) {
    at[n] = static_cast<uint32_t>(names.size());
    names += n;
    names.push_back('\0');
  }
  std::string sources, symbols, lines;
  // Sources: System at +0, Unit1 at +0x100 (name offsets as deltas).
  PutValue(sources, 0);
  PutValue(sources, at["System.pas"]);
  PutValue(sources, 0x100);
  PutValue(sources, at["C:\\src\\Unit1.pas"] - at["System.pas"]);
  PutValue(sources, 0x7fffffff);
  PutValue(symbols, 0x100);
  PutValue(symbols, at["TForm1"]);
  PutValue(symbols, at["btnSaveClick"]);
  PutValue(symbols, 0x40);
  PutValue(symbols, at["Unit1.Helper"] - at["TForm1"]);
  PutValue(symbols, uint32_t(0) - at["btnSaveClick"]);
  PutValue(symbols, 0x7fffffff);
  PutValue(lines, 0x100);
  PutValue(lines, 40);
  PutValue(lines, 0x8);
  PutValue(lines, 2);
  PutValue(lines, 0x7fffffff);
  std::string file(kJdbgHeaderSize, '\0');
  auto put = [&](size_t pos, uint32_t v) { std::memcpy(&file[pos], &v, 4); };
  put(0, kJdbgSignature);
  file[4] = 1;
  put(16, static_cast<uint32_t>(file.size()));
  file += sources;
  put(20, static_cast<uint32_t>(file.size()));
  file += symbols;
  put(24, static_cast<uint32_t>(file.size()));
  file += lines;
  put(28, static_cast<uint32_t>(file.size()));
  file += names;
  file.resize((file.size() + 3) / 4 * 4, '\0');
  file[5] = checksumValid ? 1 : 0;
  if (checksumValid) {
    uint32_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 4) {
      uint32_t w;
      std::memcpy(&w, &file[i], 4);
      sum += w;
    }
    // Stored c must satisfy ror8(sum + c - c) == c, with the sum taken while c is still 0.
    uint32_t c = (sum >> 8) | (sum << 24);
    put(8, goodChecksum ? c : c + 1);
  }
  return file;
}

TEST(SymbolJdbg, SourcesSymbolsAndLines) {
  for (bool withChecksum : {false, true}) {
    TMapFile m;
    ASSERT_TRUE(ReadJdbg(Jdbg(withChecksum), Bases(), m)) << withChecksum;
    ASSERT_EQ(m.segments.size(), 2u);
    EXPECT_EQ(m.segments[0].unit, "System");
    EXPECT_EQ(m.segments[1].unit, "Unit1");  // path and ".pas" removed
    EXPECT_EQ(m.segments[1].start + m.segments[1].length, Bases().codeTop);
    ASSERT_EQ(m.publics.size(), 2u);
    EXPECT_EQ(m.publics[0].name, "TForm1.btnSaveClick");
    EXPECT_EQ(m.publics[1].name, "Helper");  // its unit prefix removed
    EXPECT_EQ(LineAt(m, 0x401109).line, 42);
  }
}

TEST(SymbolJdbg, BadFilesAreIgnored) {
  auto fails = [](const std::string& bytes) {
    TMapFile m;
    return !ReadJdbg(bytes, Bases(), m);
  };
  std::string good = Jdbg(true);
  EXPECT_TRUE(fails(Jdbg(true, false)));         // checksum
  EXPECT_TRUE(fails(good.substr(0, 32)));        // shorter than the header
  EXPECT_TRUE(fails(good + "x"));                // not a multiple of 4
  std::string sig = good;
  sig[0] = 'X';
  EXPECT_TRUE(fails(sig));
  std::string version = good;
  version[4] = 2;
  EXPECT_TRUE(fails(version));
  // Offsets pointing anywhere never fault.
  for (size_t field : {16u, 20u, 24u, 28u}) {
    std::string wild = Jdbg(false);
    uint32_t v = 0xfffffff0u;
    std::memcpy(&wild[field], &v, 4);
    TMapFile m;
    ReadJdbg(wild, Bases(), m);
  }
}

// ---- compiler symbol tables ----

class Td32Writer {
 public:
  uint32_t Name(const std::string& n) {
    names_.push_back(n);
    return static_cast<uint32_t>(names_.size());
  }
  void Module(uint32_t name, std::vector<std::tuple<uint16_t, uint32_t, uint32_t>> segs) {
    std::string s;
    Put16(s, static_cast<uint16_t>(segs.size()));
    Put16(s, 0);
    Put32(s, name);
    for (auto [seg, off, len] : segs) {
      Put16(s, seg);
      Put16(s, 0);
      Put32(s, off);
      Put32(s, len);
    }
    subs_.push_back({0x120, s});
  }
  void Lines(uint32_t file, std::vector<std::pair<uint32_t, uint32_t>> items) {
    std::string s;
    Put32(s, 1);
    Put32(s, file);
    Put32(s, static_cast<uint32_t>(items.size()));
    for (auto [off, line] : items) {
      Put32(s, off);
      Put32(s, line);
    }
    subs_.push_back({0x127, s});
  }
  void Symbol(uint16_t type, uint32_t offset, uint32_t name, uint16_t length) {
    std::string r;
    Put16(r, length);
    Put16(r, type);
    Put32(r, offset);
    Put16(r, 1);
    Put16(r, 0);
    Put32(r, name);
    r.resize(2 + length, '\0');
    symbols_ += r;
  }
  std::string Build(const char* signature) {
    bool old = std::string(signature) == "FB09";
    std::string names;
    Put32(names, static_cast<uint32_t>(names_.size()));
    for (auto& n : names_) {
      names.push_back(static_cast<char>(n.size()));
      names += n;
      names.push_back('\0');
    }
    auto subs = subs_;
    subs.insert(subs.begin(), {0x130, names});
    subs.push_back({uint16_t(old ? 0x125 : 0x129), std::string(old ? 4 : 32, '\0') + symbols_});
    std::string out(signature);
    Put32(out, 0);
    std::vector<std::pair<uint32_t, uint32_t>> placed;
    for (auto& [type, body] : subs) {
      placed.push_back({static_cast<uint32_t>(out.size()), static_cast<uint32_t>(body.size())});
      out += body;
    }
    uint32_t dir = static_cast<uint32_t>(out.size());
    std::memcpy(&out[4], &dir, 4);
    Put16(out, 16);
    Put16(out, 12);
    Put32(out, static_cast<uint32_t>(subs.size()));
    Put32(out, 0);
    Put32(out, 0);
    for (size_t i = 0; i < subs.size(); ++i) {
      Put16(out, subs[i].first);
      Put16(out, 0);
      Put32(out, placed[i].first);
      Put32(out, placed[i].second);
    }
    return out;
  }

 private:
  static void Put16(std::string& s, uint16_t v) { s.append(reinterpret_cast<const char*>(&v), 2); }
  static void Put32(std::string& s, uint32_t v) { s.append(reinterpret_cast<const char*>(&v), 4); }
  std::vector<std::string> names_;
  std::vector<std::pair<uint16_t, std::string>> subs_;
  std::string symbols_;
};

std::string SampleTd32(const char* signature) {
  Td32Writer w;
  uint32_t unit1 = w.Name("C:\\src\\Unit1.cpp"), sys = w.Name("sys.cpp");
  uint32_t save = w.Name("@TForm1@btnSaveClick$qqrv"), data = w.Name("@Form1"), tiny = w.Name("Tiny");
  w.Module(sys, {{1, 0x0, 0x100}, {2, 0x0, 0x20}, {2, 0x40, 0x20}});
  w.Module(unit1, {{1, 0x100, 0x80}, {1, 0x181, 0x7f}, {1, 0x300, 0}});  // joined over a 1-byte gap
  w.Lines(unit1, {{0x100, 10}, {0x120, 12}, {0x1f0, 30}});
  w.Symbol(0x205, 0x100, save, 44);
  w.Symbol(0x205, 0x110, tiny, 43);  // too short for a routine record: skipped
  w.Symbol(0x202, 0x10, data, 20);
  w.Symbol(0x20, 0x400, w.Name("@Outside@Func$qqrv"), 26);
  return w.Build(signature);
}

TEST(SymbolTd32, ModulesLinesAndGlobals) {
  for (const char* sig : {"FB0A", "FB09"}) {
    TMapFile m;
    ASSERT_TRUE(ReadTd32(SampleTd32(sig), Bases(), true, m)) << sig;
    EXPECT_EQ(SegmentAt(m, true, 0x401050).unit, "sys.cpp");
    TMfSegment u = SegmentAt(m, true, 0x4011f0);
    EXPECT_EQ(u.unit, "Unit1.cpp");
    EXPECT_EQ(u.start, 0x401100u);
    EXPECT_EQ(SegmentAt(m, false, 0x500010).unit, "sys.cpp");
    EXPECT_FALSE(SegmentAt(m, false, 0x500050).valid);  // data entries after the first are not used
    EXPECT_EQ(PublicAt(m, 0x401104).name, "TForm1.btnSaveClick");
    EXPECT_EQ(LineAt(m, 0x401124).line, 12);
    // A public outside every segment opens one of its own unit.
    EXPECT_EQ(SegmentAt(m, true, 0x401400).unit, "Outside");
    EXPECT_EQ(PublicAt(m, 0x401400).name, "Func");
  }
  TMapFile strict;
  EXPECT_FALSE(ReadTd32(SampleTd32("FB09"), Bases(), false, strict));
}

TEST(SymbolTd32, DamagedTablesGiveNoDataOrLess) {
  std::string good = SampleTd32("FB0A");
  for (size_t cut = 0; cut < good.size(); cut += 5) {
    TMapFile m;
    ReadTd32(good.substr(0, cut), Bases(), true, m);  // never faults
  }
  std::string loop = good;
  uint32_t dir;
  std::memcpy(&dir, &loop[4], 4);
  std::memcpy(&loop[dir + 8], &dir, 4);  // the directory chain points at itself
  TMapFile m;
  EXPECT_TRUE(ReadTd32(loop, Bases(), true, m));
  TMapFile none;
  EXPECT_FALSE(ReadTd32("FB0A\xff\xff\xff\x7f", Bases(), true, none));
}

// ---- the choice among the sources ----

// A module image with one code section, laid out in a buffer at its base.
struct FakeModule {
  std::string image = std::string(0x2000, '\0');
  FakeModule() {
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&image[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&image[at], &v, 2); };
    put16(0, 0x5A4D);
    put32(60, 0x80);
    put32(0x80, 0x4550);
    put16(0x84, 0x14c);
    put16(0x86, 1);     // one section
    put16(0x94, 224);   // optional header size
    put16(0x98, 0x10B);
    put32(0x98 + 4, 0x1000);   // size of code
    put32(0x98 + 20, 0x1000);  // base of code
    put32(0x98 + 24, 0x1800);  // base of data
    put32(0x98 + 28, 0x400000);
    put32(0x98 + 56, 0x2000);
    put32(0x98 + 92, 16);
    size_t sec = 0x98 + 224;
    std::memcpy(&image[sec], ".text", 5);
    put32(sec + 8, 0x800);
    put32(sec + 12, 0x1000);
    put32(sec + 36, 0x60000020);
  }
};

struct Env {
  FakeModule module;
  BufferReader memory{0x400000, nullptr, 0};
  std::map<std::string, std::string> files;
  std::map<std::string, uint32_t> days;
  std::string resource, fingerprint;
  SymbolSourceEnv Make() {
    memory = BufferReader(0x400000, module.image.data(), module.image.size());
    SymbolSourceEnv e;
    e.memory = &memory;
    e.module = 0x400000;
    e.moduleFileName = "C:\\app\\prog.exe";
    e.symbolResource = [this] { return resource; };
    e.minimalFingerprint = [this] { return fingerprint; };
    e.readFile = [this](const std::string& n, std::string& b) {
      auto it = files.find(n);
      if (it == files.end()) return false;
      b = it->second;
      return true;
    };
    e.fileDay = [this](const std::string& n) { return days.count(n) ? days[n] : 0u; };
    return e;
  }
};

ContainerContent Named(const std::string& routine) {
  ContainerContent c;
  c.segments = {{0, 0x100, "unit.cpp", true}};
  c.publics = {{0x10, routine}};
  return c;
}

TEST(SymbolChoice, ResourceFirstThenFilesBesideInOrder) {
  Env env;
  env.files["C:\\app\\prog.rvx"] = WriteContainer(Named("FromFile"), false, 0, 0);
  env.files["C:\\app\\prog.jdbg"] = Jdbg(false);
  TMapFile m;
  LoadSymbolData(env.Make(), m);
  ASSERT_TRUE(m.valid);
  EXPECT_EQ(m.codeBase, 0x401000u);
  EXPECT_EQ(m.codeTop, 0x401800u);
  EXPECT_EQ(PublicAt(m, 0x401010).name, "FromFile");
  env.resource = WriteContainer(Named("FromResource"), false, 0, 0);
  LoadSymbolData(env.Make(), m);
  EXPECT_EQ(PublicAt(m, 0x401010).name, "FromResource");
  env.resource = "damaged";
  env.files["C:\\app\\prog.map"] = kTextMap;
  LoadSymbolData(env.Make(), m);
  EXPECT_EQ(PublicAt(m, 0x401120).name, "TForm1.btnSaveClick");  // the map comes before the ".rvx" file
  env.files.erase("C:\\app\\prog.map");
  env.files.erase("C:\\app\\prog.rvx");
  LoadSymbolData(env.Make(), m);
  EXPECT_EQ(m.segments[0].unit, "System");  // then JDBG
  env.files.clear();
  LoadSymbolData(env.Make(), m);
  EXPECT_FALSE(m.valid);
  EXPECT_TRUE(m.publics.empty());
}

TEST(SymbolChoice, MinimalDataTakesTheMatchingFullFile) {
  Env env;
  env.resource = WriteContainer(Named("Full"), true, 7, 9);
  std::string full = WriteContainer(Named("Full"), false, 7, 9);
  env.files["C:\\app\\prog.rvx"] = full;
  TMapFile m;
  LoadSymbolData(env.Make(), m);  // no fingerprint in the settings: minimal data stays
  ASSERT_TRUE(m.valid);
  EXPECT_EQ(PublicAt(m, 0x401010).name, "public%0");
  env.fingerprint = ContainerFingerprint(static_cast<uint32_t>(full.size()), 7, 9);
  LoadSymbolData(env.Make(), m);
  EXPECT_EQ(PublicAt(m, 0x401010).name, "Full");
  EXPECT_TRUE(m.minimalFingerprint.empty());
  env.fingerprint = ContainerFingerprint(static_cast<uint32_t>(full.size()), 7, 10);  // another build's file
  LoadSymbolData(env.Make(), m);
  EXPECT_EQ(PublicAt(m, 0x401010).name, "public%0");
  EXPECT_EQ(m.minimalFingerprint, env.fingerprint);
}

TEST(SymbolChoice, TablesFileAndTheDayRule) {
  Env env;
  env.files["C:\\app\\prog.tds"] = SampleTd32("FB09");
  env.files["C:\\app\\prog.exe"] = "not tables";
  TMapFile m;
  LoadSymbolData(env.Make(), m);
  ASSERT_TRUE(m.valid);
  EXPECT_EQ(PublicAt(m, 0x401104).name, "TForm1.btnSaveClick");
  // A ".tds" older (by day) than the map beside it is skipped; the module file itself holds no tables.
  env.files["C:\\app\\prog.map"] = "nothing usable\r\n";
  env.days["C:\\app\\prog.tds"] = 1000;
  env.days["C:\\app\\prog.map"] = 1001;
  LoadSymbolData(env.Make(), m);
  EXPECT_FALSE(m.valid);
  env.days["C:\\app\\prog.map"] = 1000;  // same day: used
  LoadSymbolData(env.Make(), m);
  EXPECT_TRUE(m.valid);
}

TEST(SymbolChoice, MinDebugInfoFromSettingsStream) {
  std::string stream = std::string("TPF0\x0cTRVSettings\x00", 17) + "\x0cMinDebugInfo\x0c";
  uint32_t len = 31;
  stream.append(reinterpret_cast<const char*>(&len), 4);
  stream += "$00001a2b, $00000001, $00000002";
  EXPECT_EQ(MinDebugInfoOf(stream), "$00001a2b, $00000001, $00000002");
  EXPECT_EQ(MinDebugInfoOf(stream.substr(0, stream.size() - 1)), "");
  EXPECT_EQ(MinDebugInfoOf("\x0cMinDebugInfo\x06\x03" "abc"), "abc");
  EXPECT_EQ(MinDebugInfoOf("\x0cMinDebugInfo\x02\x05"), "");
}

}  // namespace
