// Symbol data of one module: the units' address ranges (segments), the public routines and data, and the
// source line items, each sorted for binary search; the lookups over them; and the process-wide cache that
// gives the symbol data of the module owning any code address.
//
// A TMapFile is a plain value, immutable once built. Its sources (the program's embedded symbol container,
// symbol files beside the module, the tool that writes the container) live in their own units; this header is
// what the stack walker, the thread reports and the disassembler's hooks see of it.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crash/stack/memory_reader.h"

namespace rvx {

// One unit's address range.
struct TMfSegment {
  bool valid = false;   // false in the result of a lookup that found nothing
  bool isCode = false;  // code (true) or data segment
  Address start = 0;    // absolute
  uint32_t length = 0;
  std::string unit;     // a trailing ".pas" or ".dpr" is removed when the segment is added
  uint32_t hasLineNumbers = 0;  // minimal symbol data only: line numbers exist for this unit elsewhere
};

// One public symbol; name is relative to its segment's unit.
struct TMfPublic {
  bool valid = false;
  bool isCode = false;
  std::string name;
  Address address = 0;  // absolute
};

struct TMfLine {
  uint32_t line = 0;
  Address address = 0;  // absolute
};

// Symbol data of one module.
struct TMapFile {
  bool valid = false;
  std::vector<TMfSegment> segments;  // code first, then by start ascending, equal starts longer first
  std::vector<TMfPublic> publics;    // by address
  std::vector<TMfLine> lines;        // by address
  bool codeOnly = false;             // data publics are not stored
  Address module = 0;
  Address codeBase = 0, codeTop = 0;  // top = first address beyond; 0 when not known
  Address dataBase = 0, dataTop = 0;
  Address entryPoint = 0;
  std::string minimalFingerprint;  // 31 characters for minimal symbol data, else empty
  std::string symbolFileBase;      // the module's full file name, to find files beside it
  std::string moduleFileName;      // full file name of the module
};

// The segment of that class whose [start, start + length) contains the address; valid = false when none.
TMfSegment SegmentAt(const TMapFile& map, bool isCode, Address address);
// The public with the highest address not above the given one, provided the next public lies above it (for
// the last public: the address lies below top of code, or top of code is not known); valid = false when none.
TMfPublic PublicAt(const TMapFile& map, Address address);
// Address of the public of that class, in a segment of that unit (unit compared without case), whose name
// matches; when none and the unit has no ".", unit + ".cpp", ".h" and ".c" are tried in turn. 0 when none.
Address PublicByName(const TMapFile& map, bool isCode, const std::string& unit, bool caseSensitive,
                     const std::string& name);

struct LineResult {
  int32_t line = 0;         // 0 when none; -1 when the unit has line numbers that are not loaded (minimal data)
  Address nextAddress = 0;  // where the next line item starts (the address + 1 when there is none)
};
LineResult LineAt(const TMapFile& map, Address address);

// Symbol data for the module that owns a code address (0 = the program's main module): the cached object,
// created and cached when needed. An object that is not valid is returned but not cached. Never null.
std::shared_ptr<const TMapFile> SymbolDataFor(Address address);

struct SymbolInfo {
  std::string moduleFileName;
  std::string unit;
  uint32_t line = 0;  // 0 when there is none
  Address publicAddress = 0;
  std::string publicName;
};
// Everything known about an address of this process; false when the module has no symbol data for it.
bool SymbolInfoAt(Address address, SymbolInfo& out);

// The disassembler's hooks, installed at start-up by the reader's unit.
std::string RoutineNameAt(Address address);
void LineNumberAt(Address address, uint32_t& line, Address& lowest, Address& next);

// The same two over one given object (the hooks use the cached object of the address's module).
std::string RoutineNameIn(const TMapFile& map, Address address);
void LineNumberIn(const TMapFile& map, Address address, uint32_t& line, Address& lowest, Address& next);

// Installs RoutineNameAt and LineNumberAt as the disassembler's hooks (done once at start-up on Windows);
// FreeSymbolData empties the cache.
void InstallSymbolHooks();
void FreeSymbolData();

}  // namespace rvx
