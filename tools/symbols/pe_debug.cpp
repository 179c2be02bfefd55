// PE section table, COFF symbol table and debug link of a program or of its separate debug file.
#include "tools/symbols/pe_debug.h"

#include <cstring>

namespace rvxsym {
namespace {

uint32_t Get32(const std::string& b, uint64_t at) {
  if (at + 4 > b.size()) return 0;
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
uint16_t Get16(const std::string& b, uint64_t at) {
  if (at + 2 > b.size()) return 0;
  uint16_t v;
  std::memcpy(&v, b.data() + at, 2);
  return v;
}

constexpr uint32_t kSymbolSize = 18;

}  // namespace

bool PeDebugFile::Load(std::string bytes, std::string& error) {
  bytes_ = std::move(bytes);
  sections_.clear();
  if (bytes_.size() < 64 || Get16(bytes_, 0) != 0x5A4D) {
    error = "not a PE file";
    return false;
  }
  uint32_t nt = Get32(bytes_, 60);
  if (uint64_t(nt) + 24 > bytes_.size() || Get32(bytes_, nt) != 0x4550) {
    error = "not a PE file";
    return false;
  }
  uint16_t sectionCount = Get16(bytes_, nt + 6);
  timeDateStamp_ = Get32(bytes_, nt + 8);
  symbolTable_ = Get32(bytes_, nt + 12);
  symbolCount_ = Get32(bytes_, nt + 16);
  uint16_t optSize = Get16(bytes_, nt + 20);
  uint64_t opt = nt + 24;
  if (Get16(bytes_, opt) != 0x10B) {
    error = "not a 32-bit PE file";
    return false;
  }
  entryRva_ = Get32(bytes_, opt + 16);
  imageBase_ = Get32(bytes_, opt + 28);
  if (uint64_t(symbolTable_) + uint64_t(symbolCount_) * kSymbolSize > bytes_.size()) symbolTable_ = symbolCount_ = 0;
  uint64_t sec = opt + optSize;
  for (uint16_t i = 0; i < sectionCount; ++i, sec += 40) {
    if (sec + 40 > bytes_.size()) break;
    PeSection s;
    std::string raw(bytes_.data() + sec, 8);
    raw = raw.substr(0, raw.find('\0'));
    if (raw.size() > 1 && raw[0] == '/') {
      uint32_t offset = 0;
      for (char c : raw.substr(1)) offset = c >= '0' && c <= '9' ? offset * 10 + uint32_t(c - '0') : offset;
      std::string_view longName = StringTableEntry(offset);
      if (!longName.empty()) raw = std::string(longName);
    }
    s.name = raw;
    s.virtualSize = Get32(bytes_, sec + 8);
    s.virtualAddress = Get32(bytes_, sec + 12);
    s.rawSize = Get32(bytes_, sec + 16);
    s.rawOffset = Get32(bytes_, sec + 20);
    s.characteristics = Get32(bytes_, sec + 36);
    sections_.push_back(std::move(s));
  }
  return true;
}

std::string_view PeDebugFile::StringTableEntry(uint32_t offset) const {
  if (symbolTable_ == 0) return {};
  uint64_t table = uint64_t(symbolTable_) + uint64_t(symbolCount_) * kSymbolSize;
  uint32_t size = Get32(bytes_, table);
  if (offset < 4 || offset >= size || table + offset >= bytes_.size()) return {};
  size_t start = static_cast<size_t>(table + offset);
  size_t end = bytes_.find('\0', start);
  if (end == std::string::npos) return {};
  return std::string_view(bytes_).substr(start, end - start);
}

std::string_view PeDebugFile::Section(std::string_view name) const {
  for (const PeSection& s : sections_) {
    if (s.name != name) continue;
    if (s.rawOffset == 0 || s.rawOffset >= bytes_.size()) return {};
    uint32_t size = s.virtualSize && s.virtualSize < s.rawSize ? s.virtualSize : s.rawSize;
    if (size > bytes_.size() - s.rawOffset) size = static_cast<uint32_t>(bytes_.size() - s.rawOffset);
    return std::string_view(bytes_).substr(s.rawOffset, size);
  }
  return {};
}

std::vector<CoffFunction> PeDebugFile::Functions() const {
  std::vector<CoffFunction> out;
  for (uint32_t i = 0; i < symbolCount_; ++i) {
    uint64_t at = uint64_t(symbolTable_) + uint64_t(i) * kSymbolSize;
    uint32_t value = Get32(bytes_, at + 8);
    int16_t section = static_cast<int16_t>(Get16(bytes_, at + 12));
    uint16_t type = Get16(bytes_, at + 14);
    uint8_t storage = static_cast<uint8_t>(bytes_[at + 16]);
    uint8_t aux = static_cast<uint8_t>(bytes_[at + 17]);
    i += aux;
    if ((type & 0x30) != 0x20 || (storage != 2 && storage != 3) || section < 1 ||
        static_cast<size_t>(section) > sections_.size())
      continue;
    const PeSection& s = sections_[static_cast<size_t>(section) - 1];
    if (!(s.characteristics & 0x20)) continue;
    std::string name;
    if (Get32(bytes_, at) == 0) {
      name = std::string(StringTableEntry(Get32(bytes_, at + 4)));
    } else {
      name.assign(bytes_.data() + at, 8);
      name = name.substr(0, name.find('\0'));
    }
    if (name.empty()) continue;
    out.push_back({std::move(name), imageBase_ + s.virtualAddress + value});
  }
  return out;
}

std::string PeDebugFile::DebugLink() const {
  std::string_view s = Section(".gnu_debuglink");
  size_t end = s.find('\0');
  return end == std::string_view::npos ? "" : std::string(s.substr(0, end));
}

std::string UndecoratedSymbol(std::string_view name) {
  if (name.size() > 1 && name[0] == '_') name.remove_prefix(1);
  if (name.compare(0, 2, "_Z") != 0) {
    size_t at = name.rfind('@');
    if (at != std::string_view::npos && at > 0 && at + 1 < name.size() &&
        name.find_first_not_of("0123456789", at + 1) == std::string_view::npos)
      name = name.substr(0, at);
  }
  return std::string(name);
}

}  // namespace rvxsym
