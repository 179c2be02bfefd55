// The symbol data of a file on disk, as the crash reporter would find it for that module: a program or
// library (its resource, or the files beside it), or a symbol file of any of the accepted kinds.
#pragma once
#include <string>

#include "crash/stack/map_file.h"

namespace rvxsym {

// A whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& out);

// False with a reason when no symbol data could be read.
bool LoadSymbolsOfFile(const std::string& path, rvx::TMapFile& map, std::string& error);

}  // namespace rvxsym
