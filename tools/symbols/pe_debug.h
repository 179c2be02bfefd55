// The parts of a PE file that hold debug information: the section table with long section names (from the
// string table), section contents, the COFF symbol table and the debug-link section that names the file
// the debug information moved to.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rvxsym {

struct PeSection {
  std::string name;
  uint32_t virtualAddress = 0, virtualSize = 0, rawOffset = 0, rawSize = 0, characteristics = 0;
};

struct CoffFunction {
  std::string name;  // as stored (with the leading underscore of 32-bit names)
  uint32_t address = 0;  // absolute, at the preferred image base
};

class PeDebugFile {
 public:
  // False (with a reason) when the bytes are not a 32-bit PE file.
  bool Load(std::string bytes, std::string& error);

  uint32_t imageBase() const { return imageBase_; }
  uint32_t entryRva() const { return entryRva_; }
  uint32_t timeDateStamp() const { return timeDateStamp_; }
  const std::vector<PeSection>& sections() const { return sections_; }
  const std::string& bytes() const { return bytes_; }
  // The contents of the named section (empty when there is none or it has no data in the file).
  std::string_view Section(std::string_view name) const;
  // Function symbols of the COFF symbol table that lie in code sections.
  std::vector<CoffFunction> Functions() const;
  // The file name stored in the debug-link section; empty when there is none.
  std::string DebugLink() const;

 private:
  std::string bytes_;
  uint32_t imageBase_ = 0, entryRva_ = 0, timeDateStamp_ = 0;
  uint32_t symbolTable_ = 0, symbolCount_ = 0;
  std::vector<PeSection> sections_;
  std::string_view StringTableEntry(uint32_t offset) const;
};

// "_name" -> "name", "_name@12" -> "name", "__Z..." -> "_Z..." (32-bit symbol decoration removed).
std::string UndecoratedSymbol(std::string_view name);

}  // namespace rvxsym
