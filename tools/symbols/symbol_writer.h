// The symbol writer of the host tool: turns a program's debug information (DWARF from the program or from
// the debug file it links to, and the COFF symbol table for code without DWARF) into the content of the
// symbol container that the crash reporter reads.
#pragma once
#include <cstdint>
#include <string>

#include "crash/stack/symbol_container.h"

namespace rvxsym {

struct SymbolBuild {
  rvx::ContainerContent content;
  uint32_t idA = 0, idB = 0;  // the program's link time stamp and the CRC-32 of the full stream
  // Figures for the tool's report.
  size_t dwarfBytes = 0;  // sizes of the DWARF sections read
  size_t dwarfRoutines = 0, coffRoutines = 0, unitsSkipped = 0;
  std::string debugFile;  // where the debug information came from
};

// Reads the program at exePath (and its debug file) into out; false with a reason when it has no usable
// debug information or is no 32-bit PE file.
bool BuildSymbolContent(const std::string& exePath, SymbolBuild& out, std::string& error);

// Replaces "::" by "." (our routine names are written with dots).
std::string DottedName(std::string name);

}  // namespace rvxsym
