// Choosing the symbol source of a module: its own resource, compiler symbol tables inside it, the files
// beside it, and compiler symbol tables in a file.
#include <cstring>

#include "crash/stack/module.h"
#include "crash/stack/symbol_container.h"
#include "crash/stack/symbol_sources.h"

namespace rvx {
namespace {

constexpr int kDebugDirectory = 6;

bool ReadFileWith(const SymbolSourceEnv& env, const std::string& name, std::string& bytes) {
  return env.readFile && env.readFile(name, bytes);
}

void ResetKeepingModule(TMapFile& map) {
  TMapFile fresh;
  fresh.codeOnly = map.codeOnly;
  fresh.module = map.module;
  fresh.codeBase = map.codeBase;
  fresh.codeTop = map.codeTop;
  fresh.dataBase = map.dataBase;
  fresh.dataTop = map.dataTop;
  fresh.symbolFileBase = map.symbolFileBase;
  fresh.moduleFileName = map.moduleFileName;
  map = std::move(fresh);
}

// The container from the module's resource, with the full ".rvx" file taking the place of minimal data
// when its fingerprint matches.
bool FromResource(const SymbolSourceEnv& env, const ModuleBases& bases, TMapFile& map) {
  if (!env.symbolResource) return false;
  std::string resource = env.symbolResource();
  if (resource.empty()) return false;
  ContainerHeader h;
  if (!ReadContainerHeader(resource, h)) return false;
  bool minimal = (h.flags & kContainerFlagMinimal) != 0;
  if (minimal) {
    std::string fingerprint = env.minimalFingerprint ? env.minimalFingerprint() : "";
    std::string file;
    if (!fingerprint.empty() && ReadFileWith(env, WithExtension(map.symbolFileBase, ".rvx"), file)) {
      ContainerHeader fh;
      if (ReadContainerHeader(file, fh) && !(fh.flags & kContainerFlagMinimal) &&
          ContainerFingerprint(static_cast<uint32_t>(file.size()), fh.idA, fh.idB) == fingerprint) {
        if (ReadContainer(file, bases, map)) return true;
        ResetKeepingModule(map);
      }
    }
    map.minimalFingerprint = fingerprint;
  }
  if (ReadContainer(resource, bases, map)) return true;
  ResetKeepingModule(map);
  return false;
}

bool FromEmbeddedTables(const SymbolSourceEnv& env, const ModuleBases& bases, TMapFile& map) {
  uint32_t size = 0;
  Address dir = PeDataDirectory(*env.memory, env.module, kDebugDirectory, &size);
  if (!dir || size < 28) return false;
  uint32_t dataSize = 0, dataRva = 0;
  if (!env.memory->Read32(dir + 16, dataSize) || !env.memory->Read32(dir + 20, dataRva) || dataRva == 0) return false;
  if (dataSize < 8 || dataSize > (64u << 20)) return false;
  std::string data(dataSize, '\0');
  if (!env.memory->Read(env.module + dataRva, data.data(), dataSize)) return false;
  if (data.compare(0, 4, "FB0A") != 0) return false;
  return ReadTd32(data, bases, false, map);
}

bool FromFilesBeside(const SymbolSourceEnv& env, const ModuleBases& bases, bool minimalOnly, TMapFile& map) {
  std::string bytes;
  if (!minimalOnly && ReadFileWith(env, WithExtension(map.symbolFileBase, ".map"), bytes)) {
    if (ReadTextMap(bytes, bases, map)) return true;
    ResetKeepingModule(map);
  }
  if (ReadFileWith(env, WithExtension(map.symbolFileBase, ".rvx"), bytes)) {
    if (ReadContainer(bytes, bases, map)) return true;
    ResetKeepingModule(map);
  }
  if (!minimalOnly && ReadFileWith(env, WithExtension(map.symbolFileBase, ".jdbg"), bytes)) {
    if (ReadJdbg(bytes, bases, map)) return true;
    ResetKeepingModule(map);
  }
  return false;
}

// Where compiler symbol tables start in a PE file: the last section must be the one the debug directory
// points at, with raw data; the directory's raw-data offset gives the tables.
bool TablesInPeFile(std::string_view file, std::string_view& tables) {
  BufferReader raw(0, file.data(), file.size());
  Address nt = PeNtHeaders(raw, 0);
  if (!nt) return false;
  std::vector<SectionHeader> sections = PeSections(raw, nt);
  uint32_t debugRva = 0, debugSize = 0;
  if (sections.empty() || !raw.Read32(nt + 24 + 96 + 8 * kDebugDirectory, debugRva) ||
      !raw.Read32(nt + 24 + 96 + 8 * kDebugDirectory + 4, debugSize))
    return true;  // a PE file without a usable directory holds no tables
  const SectionHeader& last = sections.back();
  tables = {};
  if (debugRva == 0 || last.virtualAddress != debugRva || last.rawSize == 0) return true;
  uint32_t pointer = 0;
  if (!raw.Read32(last.rawOffset + 24, pointer) || pointer >= file.size()) return true;
  tables = file.substr(pointer);
  return true;
}

bool FromTablesFile(const SymbolSourceEnv& env, const ModuleBases& bases, bool acceptOld, TMapFile& map) {
  std::string tds = WithExtension(map.symbolFileBase, ".tds");
  std::string bytes;
  bool useTds = ReadFileWith(env, tds, bytes);
  if (useTds && env.fileDay) {
    uint32_t tdsDay = env.fileDay(tds), mapDay = env.fileDay(WithExtension(map.symbolFileBase, ".map"));
    if (tdsDay != 0 && mapDay != 0 && tdsDay < mapDay) useTds = false;
  }
  if (!useTds && !ReadFileWith(env, map.moduleFileName, bytes)) return false;
  std::string_view tables = bytes;
  if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') {
    if (!TablesInPeFile(bytes, tables) || tables.empty()) return false;
  }
  if (ReadTd32(tables, bases, acceptOld, map)) return true;
  ResetKeepingModule(map);
  return false;
}

}  // namespace

std::string MinDebugInfoOf(std::string_view settings) {
  static constexpr std::string_view kName{"\x0cMinDebugInfo"};
  size_t at = settings.find(kName);
  if (at == std::string_view::npos) return "";
  at += kName.size();
  if (at >= settings.size()) return "";
  uint8_t type = static_cast<uint8_t>(settings[at++]);
  uint32_t length = 0;
  if (type == 6 || type == 7) {  // short string
    if (at >= settings.size()) return "";
    length = static_cast<uint8_t>(settings[at++]);
  } else if (type == 12 || type == 20) {  // long string
    if (settings.size() - at < 4) return "";
    std::memcpy(&length, settings.data() + at, 4);
    at += 4;
  } else {
    return "";
  }
  if (length > settings.size() - at) return "";
  return std::string(settings.substr(at, length));
}

std::string WithExtension(const std::string& fileName, const std::string& extension) {
  size_t slash = fileName.find_last_of("\\/");
  size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return fileName + extension;
  return fileName.substr(0, dot) + extension;
}

void LoadSymbolData(const SymbolSourceEnv& env, TMapFile& map) {
  map = TMapFile{};
  map.module = env.module;
  map.symbolFileBase = env.moduleFileName;
  map.moduleFileName = env.moduleFileName;
  ModuleBases bases;
  bool pe = env.memory && env.module && ReadModuleBases(*env.memory, env.module, bases);
  map.codeBase = bases.codeBase;
  map.codeTop = bases.codeTop;
  map.dataBase = bases.dataBase;
  map.dataTop = bases.dataTop;
  bool ok = false;
  if (pe) {
    ok = FromResource(env, bases, map);
    if (!ok) ok = FromEmbeddedTables(env, bases, map);
    if (!ok) ok = FromFilesBeside(env, bases, false, map);
    if (!ok) ok = FromTablesFile(env, bases, true, map);
  } else {
    ok = FromTablesFile(env, bases, false, map);
    if (!ok) ok = FromFilesBeside(env, bases, false, map);
  }
  map.valid = ok;
  if (!ok) ResetKeepingModule(map);
}

}  // namespace rvx
