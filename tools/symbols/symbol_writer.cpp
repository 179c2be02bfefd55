// Symbol writer: routines, units and line items of a program from its DWARF and COFF symbols.
#include "tools/symbols/symbol_writer.h"

#include <algorithm>
#include <deque>
#include <map>

#include "crash/delivery/deflate.h"
#include "crash/stack/image_file.h"
#include "crash/stack/map_build.h"
#include "crash/stack/module.h"
#include "tools/symbols/dwarf.h"
#include "tools/symbols/pe_debug.h"
#include "tools/symbols/symbol_file.h"

namespace rvxsym {
namespace {

std::string FolderOf(const std::string& path) {
  size_t p = path.find_last_of("\\/");
  return p == std::string::npos ? "" : path.substr(0, p + 1);
}

struct Item {
  uint32_t address, line;
  std::string_view unit;
};

}  // namespace

std::string DottedName(std::string name) {
  for (size_t p = name.find("::"); p != std::string::npos; p = name.find("::", p + 1)) name.replace(p, 2, ".");
  return name;
}

bool BuildSymbolContent(const std::string& exePath, SymbolBuild& out, std::string& error) {
  out = SymbolBuild{};
  std::string exeBytes;
  if (!ReadWholeFile(exePath, exeBytes)) {
    error = "cannot read '" + exePath + "'";
    return false;
  }
  rvx::ImageFile image;
  if (!image.Load(exeBytes, exePath, error)) return false;
  rvx::ModuleBases bases;
  if (!rvx::ReadModuleBases(image, image.base(), bases)) {
    error = "no PE headers";
    return false;
  }
  PeDebugFile exe;
  if (!exe.Load(exeBytes, error)) return false;

  // The DWARF: in the program itself, or in the file its debug link names (beside it).
  PeDebugFile debug;
  const PeDebugFile* dwarfFile = &exe;
  out.debugFile = exePath;
  if (exe.Section(".debug_info").empty()) {
    std::string link = exe.DebugLink();
    std::string bytes;
    if (link.empty() || !ReadWholeFile(FolderOf(exePath) + link, bytes) || !debug.Load(std::move(bytes), error)) {
      error = "'" + exePath + "' has no debug information" + (link.empty() ? "" : " (and '" + link + "' beside it cannot be read)");
      return false;
    }
    dwarfFile = &debug;
    out.debugFile = FolderOf(exePath) + link;
  }
  DwarfSections s;
  s.info = dwarfFile->Section(".debug_info");
  s.abbrev = dwarfFile->Section(".debug_abbrev");
  s.line = dwarfFile->Section(".debug_line");
  s.str = dwarfFile->Section(".debug_str");
  s.lineStr = dwarfFile->Section(".debug_line_str");
  s.strOffsets = dwarfFile->Section(".debug_str_offsets");
  s.addr = dwarfFile->Section(".debug_addr");
  s.ranges = dwarfFile->Section(".debug_ranges");
  s.rnglists = dwarfFile->Section(".debug_rnglists");
  for (std::string_view v : {s.info, s.abbrev, s.line, s.str, s.lineStr, s.strOffsets, s.addr, s.ranges, s.rnglists})
    out.dwarfBytes += v.size();
  if (s.info.empty()) {
    error = "'" + out.debugFile + "' has no DWARF";
    return false;
  }
  DwarfInfo dwarf = ReadDwarf(s);
  out.unitsSkipped = dwarf.unitsSkipped;

  const uint32_t codeBase = bases.codeBase, codeTop = bases.codeTop;
  auto inCode = [&](uint64_t a) { return a >= codeBase && a < codeTop; };
  rvx::ContainerContent& c = out.content;

  // Routines: one public per range (a routine split into hot and cold parts gets one for each part).
  std::vector<std::pair<uint32_t, uint32_t>> covered;  // DWARF routine ranges, for the COFF fallback
  for (const DwarfRoutine& r : dwarf.routines) {
    std::string name = DottedName(r.name);
    bool any = false;
    for (const DwarfRange& range : r.ranges) {
      if (!inCode(range.low)) continue;
      c.publics.push_back({static_cast<uint32_t>(range.low) - codeBase, name});
      covered.push_back({static_cast<uint32_t>(range.low), static_cast<uint32_t>(std::min<uint64_t>(range.high, codeTop))});
      any = true;
    }
    out.dwarfRoutines += any;
  }
  std::sort(covered.begin(), covered.end());
  auto isCovered = [&](uint32_t a) {
    auto it = std::upper_bound(covered.begin(), covered.end(), std::make_pair(a, ~0u));
    // Ranges may nest (routines inside routines): look back over the few that start below.
    for (int k = 0; k < 8 && it != covered.begin(); ++k) {
      --it;
      if (a < it->second) return true;
    }
    return false;
  };
  // Code without DWARF (the runtime and library code): the COFF symbol table, from whichever file has it.
  std::vector<CoffFunction> coff = debug.Functions();
  if (coff.empty()) coff = exe.Functions();
  for (const CoffFunction& f : coff) {
    uint32_t a = f.address - exe.imageBase() + image.base();
    if (!inCode(a) || isCovered(a)) continue;
    std::string name = UndecoratedSymbol(f.name);
    std::string unit;
    if (name.compare(0, 2, "_Z") == 0) rvx::DemangleName(name, unit);
    if (name.empty()) continue;
    c.publics.push_back({a - codeBase, DottedName(name)});
    ++out.coffRoutines;
  }
  std::stable_sort(c.publics.begin(), c.publics.end(),
                   [](const rvx::ContainerPublic& x, const rvx::ContainerPublic& y) { return x.address < y.address; });
  c.publics.erase(std::unique(c.publics.begin(), c.publics.end(),
                              [](const rvx::ContainerPublic& x, const rvx::ContainerPublic& y) {
                                return x.address == y.address;
                              }),
                  c.publics.end());

  // Line items and units: each sequence's rows, the last row at an address winning; a unit is a run of rows
  // of one source file, so that an address always gets the file its line belongs to.
  std::deque<std::string> storage;  // keeps the unit names in place while views point at them
  std::map<std::string, std::string_view, std::less<>> unitIndex;
  std::vector<Item> items;
  struct Run {
    uint32_t start, end;
    std::string_view unit;
  };
  std::vector<Run> runs;
  auto internUnit = [&](const std::string& file) -> std::string_view {
    std::string_view name = rvx::FileNamePart(file);
    auto it = unitIndex.find(name);
    if (it == unitIndex.end()) {
      storage.emplace_back(name);
      it = unitIndex.emplace(storage.back(), storage.back()).first;
    }
    return it->second;
  };
  for (const DwarfLineTable& t : dwarf.lineTables) {
    std::vector<std::string_view> fileUnits;
    fileUnits.reserve(t.files.size());
    for (const std::string& f : t.files) fileUnits.push_back(internUnit(f));
    std::vector<Item> seq;
    for (const DwarfLineRow& row : t.rows) {
      if (!row.endSequence) {
        if (!seq.empty() && seq.back().address == row.address) seq.pop_back();
        seq.push_back({static_cast<uint32_t>(row.address), row.line, fileUnits.empty() ? "" : fileUnits[row.file]});
        continue;
      }
      // End of a sequence: keep it when it lies in the code (the linker leaves discarded code at 0).
      // Rows at the end address itself describe no code (the next sequence may start there).
      while (!seq.empty() && seq.back().address >= row.address) seq.pop_back();
      if (!seq.empty() && inCode(seq.front().address) && row.address <= codeTop) {
        uint32_t end = static_cast<uint32_t>(row.address);
        for (size_t i = 0; i < seq.size(); ++i) {
          uint32_t next = i + 1 < seq.size() ? seq[i + 1].address : end;
          if (!runs.empty() && runs.back().unit == seq[i].unit && runs.back().end == seq[i].address) {
            runs.back().end = next;
          } else {
            runs.push_back({seq[i].address, next, seq[i].unit});
          }
          items.push_back(seq[i]);
        }
      }
      seq.clear();
    }
  }
  std::stable_sort(items.begin(), items.end(), [](const Item& x, const Item& y) { return x.address < y.address; });
  items.erase(std::unique(items.begin(), items.end(), [](const Item& x, const Item& y) { return x.address == y.address; }),
              items.end());
  std::stable_sort(runs.begin(), runs.end(), [](const Run& x, const Run& y) { return x.start < y.start; });
  uint32_t coveredTo = 0;
  for (const Run& r : runs) {
    uint32_t start = std::max(r.start, coveredTo);
    if (r.end <= start) continue;
    if (!c.segments.empty() && c.segments.back().unit == r.unit &&
        c.segments.back().start + c.segments.back().length + codeBase == start) {
      c.segments.back().length += r.end - start;
    } else {
      c.segments.push_back({start - codeBase, r.end - start, std::string(r.unit), true});
    }
    coveredTo = r.end;
  }
  for (const Item& i : items) c.lines.push_back({i.line, i.address - codeBase});
  uint32_t entry = image.base() + exe.entryRva();
  if (exe.entryRva() != 0 && inCode(entry)) {
    c.hasEntryPoint = true;
    c.entryPoint = entry - codeBase;
  }
  out.idA = exe.timeDateStamp();
  out.idB = rvx::Crc32Of(rvx::WriteContainerStream(c, false));
  return true;
}

}  // namespace rvxsym
