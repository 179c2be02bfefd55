// Image parsing over any memory reader, export lookup, demangling and small text helpers.
#include "crash/stack/module.h"

#include <cstring>

namespace rvx {
namespace {

// Offsets within the NT headers.
constexpr uint32_t kOptionalHeader = 0x18;
constexpr uint32_t kSizeOfImage = kOptionalHeader + 56;
constexpr uint32_t kDirectoriesPe32 = 0x78, kDirectoriesPe32Plus = 0x88;
constexpr uint32_t kSectionsPe32 = 0xF8, kSectionsPe32Plus = 0x108;

}  // namespace

Address PeNtHeaders(const MemoryReader& memory, Address module) {
  uint16_t magic;
  if (!memory.Read16(module, magic) || magic != kDosMagic) return 0;
  uint32_t offset, signature;
  if (!memory.Read32(module + 0x3C, offset)) return 0;
  Address nt = module + offset;
  if (nt < module || !memory.Read32(nt, signature) || signature != kPeSignature) return 0;
  return nt;
}

uint16_t PeOptionalMagic(const MemoryReader& memory, Address ntHeaders) {
  uint16_t magic = 0;
  memory.Read16(ntHeaders + kOptionalHeader, magic);
  return magic;
}

Address PeDataDirectory(const MemoryReader& memory, Address module, int index, uint32_t* size) {
  if (size) *size = 0;
  Address nt = PeNtHeaders(memory, module);
  if (!nt || index < 0 || index > 15) return 0;
  uint16_t magic = PeOptionalMagic(memory, nt);
  uint32_t dirs = magic == kPe32PlusMagic ? kDirectoriesPe32Plus : kDirectoriesPe32;
  uint32_t entry[2];
  if (!memory.Read(nt + dirs + 8 * static_cast<uint32_t>(index), entry, 8) || entry[0] == 0) return 0;
  if (size) *size = entry[1];
  return module + entry[0];
}

Address PeExportDirectory(const MemoryReader& memory, Address module, uint32_t* size) {
  return PeDataDirectory(memory, module, 0, size);
}

uint32_t PeImageSize(const MemoryReader& memory, Address ntHeaders) {
  uint32_t size = 0;
  memory.Read32(ntHeaders + kSizeOfImage, size);
  return size;
}

uint32_t ImageSizeOf(const MemoryReader& memory, Address module) {
  Address nt = PeNtHeaders(memory, module);
  return nt ? PeImageSize(memory, nt) : 0;
}

std::vector<SectionHeader> PeSections(const MemoryReader& memory, Address ntHeaders) {
  std::vector<SectionHeader> out;
  uint16_t count = 0;
  if (!memory.Read16(ntHeaders + 6, count)) return out;
  Address table = ntHeaders + (PeOptionalMagic(memory, ntHeaders) == kPe32PlusMagic ? kSectionsPe32Plus : kSectionsPe32);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t raw[40];
    if (!memory.Read(table + 40 * i, raw, 40)) break;
    SectionHeader s;
    s.name.assign(reinterpret_cast<char*>(raw), strnlen(reinterpret_cast<char*>(raw), 8));
    std::memcpy(&s.virtualSize, raw + 8, 4);
    std::memcpy(&s.virtualAddress, raw + 12, 4);
    std::memcpy(&s.rawSize, raw + 16, 4);
    std::memcpy(&s.rawOffset, raw + 20, 4);
    std::memcpy(&s.characteristics, raw + 36, 4);
    out.push_back(s);
  }
  return out;
}

uint32_t PeRvaToFileOffset(const MemoryReader& memory, Address ntHeaders, uint32_t rva) {
  std::vector<SectionHeader> sections = PeSections(memory, ntHeaders);
  for (size_t i = 0; i < sections.size(); ++i) {
    const SectionHeader& s = sections[i];
    if (s.virtualAddress <= rva && (i + 1 == sections.size() || sections[i + 1].virtualAddress > rva))
      return rva - s.virtualAddress + s.rawOffset;
  }
  return rva;
}

bool ReadExportDirectory(const MemoryReader& memory, Address module, ExportDirectory& out) {
  out = ExportDirectory{};
  Address dir = PeExportDirectory(memory, module, &out.size);
  if (!dir) return false;
  uint32_t f[10];
  if (!memory.Read(dir, f, sizeof f)) return false;
  out.address = dir;
  out.base = f[4];
  out.numberOfFunctions = f[5];
  out.numberOfNames = f[6];
  out.addressOfFunctions = f[7];
  out.addressOfNames = f[8];
  out.addressOfNameOrdinals = f[9];
  return true;
}

std::string ExportNameAt(const MemoryReader& memory, Address module, Address address, bool demangle) {
  ExportDirectory ed;
  if (!ReadExportDirectory(memory, module, ed)) return "";
  const uint32_t rva = address - module;
  // Read the tables in blocks: export tables of system libraries hold thousands of entries.
  const uint32_t kBlock = 256;
  uint32_t buf[kBlock];
  int64_t index = -1;
  for (uint32_t i = 0; i < ed.numberOfFunctions && index < 0; i += kBlock) {
    uint32_t n = ed.numberOfFunctions - i < kBlock ? ed.numberOfFunctions - i : kBlock;
    if (!memory.Read(module + ed.addressOfFunctions + 4 * i, buf, 4 * n)) return "";
    for (uint32_t j = 0; j < n; ++j)
      if (buf[j] == rva) {
        index = i + j;
        break;
      }
  }
  if (index < 0) return "";
  uint16_t ords[kBlock];
  for (uint32_t i = 0; i < ed.numberOfNames; i += kBlock) {
    uint32_t n = ed.numberOfNames - i < kBlock ? ed.numberOfNames - i : kBlock;
    if (!memory.Read(module + ed.addressOfNameOrdinals + 2 * i, ords, 2 * n)) break;
    for (uint32_t j = 0; j < n; ++j) {
      if (ords[j] != index) continue;
      uint32_t nameRva;
      std::string name;
      if (!memory.Read32(module + ed.addressOfNames + 4 * (i + j), nameRva) ||
          !memory.ReadCString(module + nameRva, name, 1024))
        return "";
      if (demangle) {
        std::string unit, demangled = name;
        if (DemangleName(demangled, unit)) return unit.empty() ? demangled : unit + "." + demangled;
      }
      return name;
    }
  }
  return "#" + std::to_string(ed.base + index);
}

std::vector<ExportEntry> ListExports(const MemoryReader& memory, Address module) {
  std::vector<ExportEntry> out;
  ExportDirectory ed;
  if (!ReadExportDirectory(memory, module, ed) || ed.numberOfFunctions > 0x10000 || ed.numberOfNames > 0x10000)
    return out;
  std::vector<uint32_t> functions(ed.numberOfFunctions);
  if (!functions.empty() && !memory.Read(module + ed.addressOfFunctions, functions.data(), 4 * functions.size()))
    return out;
  std::vector<std::string> names(functions.size());
  for (uint32_t i = 0; i < ed.numberOfNames; ++i) {
    uint16_t ord;
    uint32_t nameRva;
    std::string name;
    if (!memory.Read16(module + ed.addressOfNameOrdinals + 2 * i, ord) ||
        !memory.Read32(module + ed.addressOfNames + 4 * i, nameRva) ||
        !memory.ReadCString(module + nameRva, name, 1024))
      continue;
    if (ord < names.size() && names[ord].empty()) names[ord] = name;
  }
  const uint32_t dirRva = ed.address - module;
  for (uint32_t i = 0; i < functions.size(); ++i) {
    if (!functions[i]) continue;
    ExportEntry e;
    e.ordinal = ed.base + i;
    e.name = names[i];
    e.rva = functions[i];
    if (e.rva >= dirRva && e.rva < dirRva + ed.size) memory.ReadCString(module + e.rva, e.forwarder, 512);
    out.push_back(std::move(e));
  }
  return out;
}

namespace {

// Forwarders lead from module to module; a chain that comes back to itself (A -> B -> A) is cut after this
// many steps, and nothing is found for it.
constexpr int kMaxForwarderSteps = 16;

struct Lookup {
  int steps = 0;
  bool cut = false;
};

Address ByName(const MemoryReader& memory, Address module, const std::string& name, bool verify,
               const ExportEnvironment& env, Lookup& lookup);
Address ByOrdinal(const MemoryReader& memory, Address module, uint32_t ordinal, const ExportEnvironment& env,
                  Lookup& lookup);

Address Forwarder(const MemoryReader& memory, Address module, uint32_t rva, const ExportEnvironment& env,
                  Lookup& lookup) {
  uint32_t size = 0;
  Address dir = PeExportDirectory(memory, module, &size);
  if (!dir || rva < dir - module || rva >= dir - module + size) return module + rva;
  if (++lookup.steps > kMaxForwarderSteps) {
    lookup.cut = true;
    return 0;
  }
  std::string text;
  if (!memory.ReadCString(module + rva, text, 512)) return 0;
  size_t dot = text.find('.');
  if (dot == std::string::npos || !env.loadedModule) return 0;
  Address target = env.loadedModule(text.substr(0, dot));
  if (!target) return 0;
  std::string function = text.substr(dot + 1);
  if (!function.empty() && function[0] == '#') {
    uint32_t ordinal = 0;
    for (size_t i = 1; i < function.size() && function[i] >= '0' && function[i] <= '9'; ++i)
      ordinal = ordinal * 10 + uint32_t(function[i] - '0');
    return ByOrdinal(memory, target, ordinal, env, lookup);
  }
  return ByName(memory, target, function, false, env, lookup);
}

// The function table entry `index` as the module's file on disk has it, when the file's export directory
// has the same tables as the image; false when the cross-check cannot be made.
bool EntryOnDisk(const MemoryReader& memory, Address module, const ExportDirectory& ed, uint32_t index,
                 const ExportEnvironment& env, uint32_t& rva) {
  if (!env.moduleFile) return false;
  try {
    std::string file;
    if (!env.moduleFile(module, file)) return false;
    BufferReader disk(0, file.data(), file.size());
    Address diskNt = PeNtHeaders(disk, 0);
    uint32_t dirOffset = diskNt ? PeRvaToFileOffset(disk, diskNt, ed.address - module) : 0;
    uint32_t f[10];
    if (!diskNt || !disk.Read(dirOffset, f, sizeof f) || f[8] != ed.addressOfNames || f[7] != ed.addressOfFunctions)
      return false;
    return disk.Read32(PeRvaToFileOffset(disk, diskNt, ed.addressOfFunctions) + 4 * index, rva);
  } catch (...) {
    return false;  // out of memory for the file's copy: the image's entry stands
  }
}

Address ByName(const MemoryReader& memory, Address module, const std::string& name, bool verify,
               const ExportEnvironment& env, Lookup& lookup) {
  Address nt = PeNtHeaders(memory, module);
  ExportDirectory ed;
  if (nt && ReadExportDirectory(memory, module, ed)) {
    const uint32_t imageSize = PeImageSize(memory, nt);
    std::string entry;
    for (uint32_t i = 0; i < ed.numberOfNames; ++i) {
      uint32_t nameRva;
      if (!memory.Read32(module + ed.addressOfNames + 4 * i, nameRva)) break;
      if (!memory.ReadCString(module + nameRva, entry, name.size() + 1) || entry != name) continue;
      uint16_t index;
      uint32_t rva;
      if (!memory.Read16(module + ed.addressOfNameOrdinals + 2 * i, index) ||
          !memory.Read32(module + ed.addressOfFunctions + 4 * uint32_t(index), rva))
        break;
      // Cross-check with the file on disk: a patched table entry in memory is replaced by the file's.
      uint32_t onDisk;
      if ((verify || rva > imageSize) && EntryOnDisk(memory, module, ed, index, env, onDisk)) rva = onDisk;
      if (Address found = Forwarder(memory, module, rva, env, lookup)) return found;
      break;
    }
  }
  // Not found, or forwarded to a module that is not loaded: the system's own lookup (which would follow a
  // forwarder chain that was cut just as far).
  if (!lookup.cut && nt && PeOptionalMagic(memory, nt) == kPe32Magic && env.procAddress)
    return env.procAddress(module, name, 0);
  return 0;
}

Address ByOrdinal(const MemoryReader& memory, Address module, uint32_t ordinal, const ExportEnvironment& env,
                  Lookup& lookup) {
  ExportDirectory ed;
  if (ReadExportDirectory(memory, module, ed)) {
    int64_t index = int64_t(ordinal) - ed.base;
    uint32_t rva = 0;
    if (index >= 0 && index < ed.numberOfFunctions &&
        memory.Read32(module + ed.addressOfFunctions + 4 * uint32_t(index), rva) && rva) {
      if (Address found = Forwarder(memory, module, rva, env, lookup)) return found;
    }
  }
  Address nt = PeNtHeaders(memory, module);
  if (!lookup.cut && nt && PeOptionalMagic(memory, nt) == kPe32Magic && env.procAddress)
    return env.procAddress(module, "", ordinal);
  return 0;
}

}  // namespace

Address ResolveForwarder(const MemoryReader& memory, Address module, uint32_t rva, const ExportEnvironment& env) {
  Lookup lookup;
  return Forwarder(memory, module, rva, env, lookup);
}

Address ResolveExportByName(const MemoryReader& memory, Address module, const std::string& name, bool verify,
                            const ExportEnvironment& env) {
  Lookup lookup;
  return ByName(memory, module, name, verify, env, lookup);
}

Address ResolveExportByOrdinal(const MemoryReader& memory, Address module, uint32_t ordinal,
                               const ExportEnvironment& env) {
  Lookup lookup;
  return ByOrdinal(memory, module, ordinal, env, lookup);
}

std::string FileVersionText(uint32_t ms, uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
         std::to_string(ls & 0xFFFF);
}

uint32_t TicksBetween(uint32_t start, uint32_t now) { return now >= start ? now - start : now - start - 1; }

}  // namespace rvx
