// Symbol data of a file on disk, through the same source choice as in the running process.
#include "tools/symbols/symbol_file.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "crash/core/settings.h"
#include "crash/stack/image_file.h"
#include "crash/stack/symbol_container.h"
#include "crash/stack/symbol_sources.h"
#include "tools/symbols/pe_resource.h"

namespace rvxsym {
namespace {

uint32_t DayOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  // Days since 1601 (the system's file time epoch), as the running process counts them.
  return static_cast<uint32_t>(st.st_mtime / 86400 + 134774);
}

// Bases for a symbol file read on its own: the program beside it when there is one, else the usual layout
// of a program at its preferred base.
rvx::ModuleBases BasesBeside(const std::string& path) {
  rvx::ModuleBases bases;
  for (const char* ext : {".exe", ".dll"}) {
    std::string bytes, error;
    rvx::ImageFile image;
    if (ReadWholeFile(rvx::WithExtension(path, ext), bytes) && image.Load(bytes, path, error) &&
        rvx::ReadModuleBases(image, image.base(), bases))
      return bases;
  }
  bases.module = 0x400000;
  bases.codeBase = 0x401000;
  return bases;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  out = ss.str();
  return !f.bad();
}

bool LoadSymbolsOfFile(const std::string& path, rvx::TMapFile& map, std::string& error) {
  std::string bytes;
  if (!ReadWholeFile(path, bytes)) {
    error = "cannot read '" + path + "'";
    return false;
  }
  map = rvx::TMapFile{};
  map.moduleFileName = map.symbolFileBase = path;
  if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') {
    rvx::ImageFile image;
    if (!image.Load(bytes, path, error)) return false;
    rvx::SymbolSourceEnv env;
    env.memory = &image;
    env.module = image.base();
    env.moduleFileName = path;
    env.symbolResource = [&image] {
      std::string data;
      return FindNamedResource(image, "RVX", "EXCEPT", data) ? data : std::string();
    };
    env.minimalFingerprint = [&bytes] {
      std::string settings, ignored;
      return rvx::FindPeResource(bytes, 10, "ZAVEDO", settings, ignored) ? rvx::MinDebugInfoOf(settings)
                                                                            : std::string();
    };
    env.readFile = ReadWholeFile;
    env.fileDay = DayOf;
    rvx::LoadSymbolData(env, map);
    if (!map.valid) error = "'" + path + "' has no symbol data";
    return map.valid;
  }
  rvx::ModuleBases bases = BasesBeside(path);
  map.module = bases.module;
  map.codeBase = bases.codeBase;
  map.codeTop = bases.codeTop;
  map.dataBase = bases.dataBase;
  map.dataTop = bases.dataTop;
  bool ok;
  if (bytes.compare(0, rvx::kContainerMagic.size(), rvx::kContainerMagic) == 0) {
    ok = rvx::ReadContainer(bytes, bases, map);
  } else if (bytes.size() >= 4 && bytes.compare(0, 4, "JDBG") == 0) {
    ok = rvx::ReadJdbg(bytes, bases, map);
  } else if (bytes.compare(0, 4, "FB09") == 0 || bytes.compare(0, 4, "FB0A") == 0) {
    ok = rvx::ReadTd32(bytes, bases, true, map);
  } else {
    ok = rvx::ReadTextMap(bytes, bases, map);
  }
  map.valid = ok;
  if (!ok) error = "'" + path + "' holds no readable symbol data";
  return ok;
}

}  // namespace rvxsym
