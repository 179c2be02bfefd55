// The sources of a module's symbol data other than the container, and the choice among all of them.
//
// Every reader takes outside bytes and trusts nothing in them: damaged input gives false (a not-valid
// object), never a fault. The choice works over a SymbolSourceEnv, so that the running process (Windows),
// the host tool and the tests all use the same rules.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "crash/stack/map_build.h"
#include "crash/stack/map_file.h"
#include "crash/stack/memory_reader.h"

namespace rvx {

// A linker text map file.
bool ReadTextMap(std::string_view text, const ModuleBases& bases, TMapFile& map);

// Debug data in the "JDBG" layout (32-bit fields, offsets from the start of the file):
//   0  signature 0x4742444A ("JDBG")   4  version (byte, 1)   5  checksum valid (byte)   8  checksum
//  12  unit list (unused here)        16  source-name list    20  symbol list            24  line list
//  28  name area                      32  module name (unused here)
// Lists hold base-128 values (7 bits a byte, low group first, high bit = more follows); 0x7FFFFFFF ends a
// list. Names are zero-terminated texts in the name area, found by their offset in it (the running sum of
// the name deltas; offset 0 is the empty name).
bool ReadJdbg(std::string_view bytes, const ModuleBases& bases, TMapFile& map);
constexpr uint32_t kJdbgSignature = 0x4742444A;
constexpr size_t kJdbgHeaderSize = 35;

// Compiler symbol tables ("FB09"/"FB0A"). Layout of the parts the reader uses (all offsets from the first
// byte of the data, little-endian):
//   0 signature, 4 offset of the first subsection directory.
//   Directory: u16 header size, u16 entry size, u32 entry count, u32 offset of the next directory (0 = none),
//   u32 flags; then per entry u16 subsection type, u16 module index, u32 offset, u32 size.
//   Names (0x130): u32 count, then per name a length byte, the bytes and a zero byte; name indexes start at 1.
//   Module (0x120): u16 segment count, u16 flags, u32 name index; then per segment u16 segment number
//     (1 = code, else data), u16 flags, u32 offset, u32 length.
//   Source lines (0x127): u32 file count; per file u32 name index, u32 line count, then per line u32 offset in
//     the code and u32 line number.
//   Global symbols (0x125 for "FB09", records 4 bytes in; 0x129 for "FB0A", records 32 bytes in): records of
//     u16 length (bytes after this field), u16 type, u32 offset, u16 segment, u16 flags, u32 name index.
// acceptOld allows "FB09" as well as "FB0A".
bool ReadTd32(std::string_view bytes, const ModuleBases& bases, bool acceptOld, TMapFile& map);

// What choosing a source needs from around the module.
struct SymbolSourceEnv {
  const MemoryReader* memory = nullptr;  // the loaded image (or a file laid out as one); may be null
  Address module = 0;                    // 0 when there is no module handle
  std::string moduleFileName;            // full file name of the module
  // The module's resource of type "RVX" and name "EXCEPT"; empty when none.
  std::function<std::string()> symbolResource;
  // The settings' "MinDebugInfo" text of the module; empty when none.
  std::function<std::string()> minimalFingerprint;
  // A whole file; false when it cannot be read.
  std::function<bool(const std::string& name, std::string& bytes)> readFile;
  // Last-write time of a file in local time as days since 1601 (0 when unknown); only the day is compared.
  std::function<uint32_t(const std::string& name)> fileDay;
};

// Builds the symbol data of the module from the best source; map.valid tells whether one was found.
void LoadSymbolData(const SymbolSourceEnv& env, TMapFile& map);

// The "MinDebugInfo" text of a settings resource (a component stream): the property's name as a short string
// followed by a string value; empty when there is none.
std::string MinDebugInfoOf(std::string_view settings);

// The file name with its extension replaced ("C:\\app\\x.exe", ".map" -> "C:\\app\\x.map").
std::string WithExtension(const std::string& fileName, const std::string& extension);

}  // namespace rvx
