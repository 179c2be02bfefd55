// Building a module's symbol data: the rules every source shares for adding segments and publics, joining
// and merging segments, and the last steps (sorting). The sources (container, text map, debug data, compiler
// symbol tables) fill a TMapFile through a MapBuilder.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "crash/stack/map_file.h"
#include "crash/stack/text.h"

namespace rvx {

// Bases of a module, taken from its PE headers (or, for a symbol file read on its own, from the file).
struct ModuleBases {
  Address module = 0;
  Address codeBase = 0, codeTop = 0;
  Address dataBase = 0, dataTop = 0;
  // The second section when it also holds code: the text map file's segment 3, and its offset from the
  // first section.
  bool secondCode = false;
  uint32_t secondOffset = 0;
};

// Fills the bases from the headers of the image at module; false when there are no PE headers.
bool ReadModuleBases(const MemoryReader& memory, Address module, ModuleBases& out);

bool SameTextNoCase(std::string_view a, std::string_view b);

enum class MergeMode { Checking, Always };

class MapBuilder {
 public:
  explicit MapBuilder(TMapFile& map) : map_(map) {}
  TMapFile& map() { return map_; }

  // Appends a segment (becomes the last added one of its class); ".pas"/".dpr" endings are removed.
  void AddSegment(bool isCode, Address start, uint32_t length, std::string unit, uint32_t hasLineNumbers = 0);
  // Joining mode: the last added segment of that class grows over the new one when it has the same unit and
  // the new one starts within it or at most 2 bytes after its end; otherwise the new one is appended.
  void JoinSegment(bool isCode, Address start, uint32_t length, std::string unit);
  // Code first, then by start, equal starts longer first. Forgets which segments were added last.
  void SortSegments();
  void MergeSegments(MergeMode mode);
  // Applies the public-name rules and stores the public (skipped for data in code-only objects). With
  // maintainSegments the segments follow the public as the compiler symbol tables need it.
  void AddPublic(bool isCode, std::string name, Address address, bool maintainSegments = false);
  void AddLine(uint32_t line, Address address) { map_.lines.push_back({line, address}); }
  void SortPublics();
  // Room for lists of known length (the counts come from the data, so the caller bounds them first).
  void Reserve(size_t segments, size_t publics, size_t lines);
  // Sorts the line items by address (stable: items at one address keep their order).
  void SortLines();

 private:
  static void Grow(size_t needed, size_t& capacity);
  void InsertSorted(const TMfSegment& s);
  TMapFile& map_;
  long lastCode_ = -1, lastData_ = -1;  // index of the last added segment of each class
  size_t segCap_ = 0, pubCap_ = 0;
};

// Removes a trailing ".pas" or ".dpr" (compared without case).
std::string UnitWithoutPascalEnding(std::string unit);

}  // namespace rvx
