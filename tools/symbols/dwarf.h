// Reads what the symbol writer needs from DWARF debug information (versions 2 to 5): the routines with their
// address ranges and qualified names, and the line tables. Only outside bytes come in here, so every read is
// bounds-checked and damaged input ends the unit it is in, never the program.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rvxsym {

struct DwarfSections {
  std::string_view info, abbrev, line, str, lineStr, strOffsets, addr, ranges, rnglists;
};

struct DwarfRange {
  uint64_t low = 0, high = 0;  // [low, high)
};

struct DwarfRoutine {
  std::string name;  // qualified, parts joined by "::" as written in the source ("TForm1::btnSaveClick")
  std::vector<DwarfRange> ranges;  // the entry range first
};

struct DwarfLineRow {
  uint64_t address = 0;
  uint32_t line = 0;
  uint32_t file = 0;  // index into DwarfLineTable::files
  bool endSequence = false;
};

struct DwarfLineTable {
  std::vector<std::string> files;      // file names as the table gives them (with folder when given)
  std::vector<DwarfLineRow> rows;      // in program order; each sequence ends with an endSequence row
};

struct DwarfInfo {
  std::vector<DwarfRoutine> routines;
  std::vector<DwarfLineTable> lineTables;
  size_t unitsRead = 0, unitsSkipped = 0;
};

// Reads every unit; units that are damaged are counted and skipped.
DwarfInfo ReadDwarf(const DwarfSections& sections);

}  // namespace rvxsym
