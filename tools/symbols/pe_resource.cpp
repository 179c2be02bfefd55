// PE resource directory: lookup by names, and a rewritten directory in a new section.
#include "tools/symbols/pe_resource.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "crash/stack/map_build.h"
#include "crash/stack/module.h"

namespace rvxsym {
namespace {

constexpr int kResourceDirectory = 2;

struct Key {
  bool named = false;
  uint32_t id = 0;
  std::u16string name;  // upper case
};

bool KeyLess(const Key& a, const Key& b) {
  if (a.named != b.named) return a.named;
  return a.named ? a.name < b.name : a.id < b.id;
}
bool KeyEqual(const Key& a, const Key& b) { return a.named == b.named && (a.named ? a.name == b.name : a.id == b.id); }

std::u16string Upper(std::string_view s) {
  std::u16string out;
  for (char c : s) out.push_back(static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : static_cast<uint8_t>(c)));
  return out;
}

struct Leaf {
  Key type, name, lang;
  uint32_t dataRva = 0, size = 0, codePage = 0;
  std::string newData;  // for the added resource
  bool added = false;
};

// Reads the three levels of the directory at rva (the image's resource directory).
bool ReadTree(const rvx::MemoryReader& m, rvx::Address base, uint32_t rva, std::vector<Leaf>& leaves) {
  const rvx::Address root = base + rva;
  auto readKey = [&](uint32_t nameField, Key& k) {
    if (nameField & 0x80000000u) {
      k.named = true;
      uint16_t len = 0;
      rvx::Address at = root + (nameField & 0x7FFFFFFF);
      if (!m.Read16(at, len)) return false;
      for (uint16_t i = 0; i < len; ++i) {
        uint16_t ch = 0;
        if (!m.Read16(at + 2 + 2 * i, ch)) return false;
        k.name.push_back(static_cast<char16_t>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch));
      }
    } else {
      k.id = nameField & 0xFFFF;
    }
    return true;
  };
  auto entries = [&](rvx::Address dir, std::vector<std::pair<uint32_t, uint32_t>>& out) {
    uint16_t named = 0, ids = 0;
    if (!m.Read16(dir + 12, named) || !m.Read16(dir + 14, ids)) return false;
    for (uint32_t i = 0; i < uint32_t(named) + ids; ++i) {
      uint32_t n = 0, o = 0;
      if (!m.Read32(dir + 16 + 8 * i, n) || !m.Read32(dir + 20 + 8 * i, o)) return false;
      out.push_back({n, o});
    }
    return true;
  };
  std::vector<std::pair<uint32_t, uint32_t>> types;
  if (!entries(root, types)) return false;
  for (auto [tn, to] : types) {
    if (!(to & 0x80000000u)) continue;
    std::vector<std::pair<uint32_t, uint32_t>> names;
    if (!entries(root + (to & 0x7FFFFFFF), names)) return false;
    for (auto [nn, no] : names) {
      if (!(no & 0x80000000u)) continue;
      std::vector<std::pair<uint32_t, uint32_t>> langs;
      if (!entries(root + (no & 0x7FFFFFFF), langs)) return false;
      for (auto [ln, lo] : langs) {
        if (lo & 0x80000000u) continue;
        Leaf leaf;
        if (!readKey(tn, leaf.type) || !readKey(nn, leaf.name) || !readKey(ln, leaf.lang)) return false;
        rvx::Address d = root + lo;
        if (!m.Read32(d, leaf.dataRva) || !m.Read32(d + 4, leaf.size) || !m.Read32(d + 8, leaf.codePage)) return false;
        leaves.push_back(std::move(leaf));
      }
    }
  }
  return true;
}

void Put32(std::string& s, size_t at, uint32_t v) { std::memcpy(&s[at], &v, 4); }
void Put16(std::string& s, size_t at, uint16_t v) { std::memcpy(&s[at], &v, 2); }
uint32_t Get32(const std::string& s, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= s.size()) std::memcpy(&v, s.data() + at, 4);
  return v;
}
uint16_t Get16(const std::string& s, size_t at) {
  uint16_t v = 0;
  if (at + 2 <= s.size()) std::memcpy(&v, s.data() + at, 2);
  return v;
}
uint32_t AlignUp(uint32_t v, uint32_t a) { return a ? (v + a - 1) / a * a : v; }

// Serialises the leaves as a resource directory placed at sectionRva; the added data follows it.
std::string Serialise(std::vector<Leaf> leaves, uint32_t sectionRva) {
  std::sort(leaves.begin(), leaves.end(), [](const Leaf& a, const Leaf& b) {
    if (!KeyEqual(a.type, b.type)) return KeyLess(a.type, b.type);
    if (!KeyEqual(a.name, b.name)) return KeyLess(a.name, b.name);
    return KeyLess(a.lang, b.lang);
  });
  // Directory sizes first: root, one per type, one per (type, name).
  struct Dir {
    size_t first, count;  // range of children in the next level (or leaves)
  };
  std::vector<size_t> typeStarts, nameStarts;
  for (size_t i = 0; i < leaves.size(); ++i) {
    if (i == 0 || !KeyEqual(leaves[i].type, leaves[i - 1].type)) typeStarts.push_back(i);
    if (i == 0 || !KeyEqual(leaves[i].type, leaves[i - 1].type) || !KeyEqual(leaves[i].name, leaves[i - 1].name))
      nameStarts.push_back(i);
  }
  const size_t rootSize = 16 + 8 * typeStarts.size();
  size_t typeDirsSize = 0;
  std::vector<size_t> namesPerType;
  for (size_t t = 0; t < typeStarts.size(); ++t) {
    size_t end = t + 1 < typeStarts.size() ? typeStarts[t + 1] : leaves.size();
    size_t n = 0;
    for (size_t s : nameStarts)
      if (s >= typeStarts[t] && s < end) ++n;
    namesPerType.push_back(n);
    typeDirsSize += 16 + 8 * n;
  }
  size_t nameDirsSize = 0;
  for (size_t k = 0; k < nameStarts.size(); ++k) {
    size_t end = k + 1 < nameStarts.size() ? nameStarts[k + 1] : leaves.size();
    nameDirsSize += 16 + 8 * (end - nameStarts[k]);
  }
  size_t stringsAt = rootSize + typeDirsSize + nameDirsSize;
  std::string strings;
  auto stringOffset = [&](const std::u16string& s) {
    size_t at = stringsAt + strings.size();
    uint16_t len = static_cast<uint16_t>(s.size());
    strings.append(reinterpret_cast<const char*>(&len), 2);
    strings.append(reinterpret_cast<const char*>(s.data()), s.size() * 2);
    return static_cast<uint32_t>(at) | 0x80000000u;
  };
  auto keyField = [&](const Key& k) { return k.named ? stringOffset(k.name) : k.id; };

  std::string out(stringsAt, '\0');
  auto dirHeader = [&](size_t at, const std::vector<Key>& keys) {
    uint16_t named = 0, ids = 0;
    for (const Key& k : keys) (k.named ? named : ids)++;
    Put16(out, at + 12, named);
    Put16(out, at + 14, ids);
  };
  size_t typeDirAt = rootSize, nameDirAt = rootSize + typeDirsSize;
  std::vector<Key> rootKeys;
  for (size_t t : typeStarts) rootKeys.push_back(leaves[t].type);
  dirHeader(0, rootKeys);
  std::vector<std::pair<size_t, size_t>> dataEntryFixups;  // (position in out, leaf index)
  size_t nameIndex = 0;
  for (size_t t = 0; t < typeStarts.size(); ++t) {
    Put32(out, 16 + 8 * t, keyField(leaves[typeStarts[t]].type));
    Put32(out, 20 + 8 * t, static_cast<uint32_t>(typeDirAt) | 0x80000000u);
    std::vector<Key> nameKeys;
    for (size_t k = 0; k < namesPerType[t]; ++k) nameKeys.push_back(leaves[nameStarts[nameIndex + k]].name);
    dirHeader(typeDirAt, nameKeys);
    for (size_t k = 0; k < namesPerType[t]; ++k, ++nameIndex) {
      size_t first = nameStarts[nameIndex];
      size_t end = nameIndex + 1 < nameStarts.size() ? nameStarts[nameIndex + 1] : leaves.size();
      Put32(out, typeDirAt + 16 + 8 * k, keyField(leaves[first].name));
      Put32(out, typeDirAt + 20 + 8 * k, static_cast<uint32_t>(nameDirAt) | 0x80000000u);
      std::vector<Key> langKeys;
      for (size_t i = first; i < end; ++i) langKeys.push_back(leaves[i].lang);
      dirHeader(nameDirAt, langKeys);
      for (size_t i = first; i < end; ++i) {
        Put32(out, nameDirAt + 16 + 8 * (i - first), keyField(leaves[i].lang));
        dataEntryFixups.push_back({nameDirAt + 20 + 8 * (i - first), i});
      }
      nameDirAt += 16 + 8 * (end - first);
    }
    typeDirAt += 16 + 8 * namesPerType[t];
  }
  out += strings;
  out.resize(AlignUp(static_cast<uint32_t>(out.size()), 4), '\0');
  size_t entriesAt = out.size();
  out.resize(entriesAt + 16 * leaves.size(), '\0');
  for (auto [pos, i] : dataEntryFixups) Put32(out, pos, static_cast<uint32_t>(entriesAt + 16 * i));
  for (size_t i = 0; i < leaves.size(); ++i) {
    Leaf& l = leaves[i];
    if (l.added) {
      out.resize(AlignUp(static_cast<uint32_t>(out.size()), 8), '\0');
      l.dataRva = sectionRva + static_cast<uint32_t>(out.size());
      out += l.newData;
    }
    Put32(out, entriesAt + 16 * i, l.dataRva);
    Put32(out, entriesAt + 16 * i + 4, l.size);
    Put32(out, entriesAt + 16 * i + 8, l.codePage);
  }
  return out;
}

}  // namespace

bool FindNamedResource(const rvx::ImageFile& image, std::string_view type, std::string_view name, std::string& data) {
  uint32_t size = 0;
  rvx::Address dir = rvx::PeDataDirectory(image, image.base(), kResourceDirectory, &size);
  if (!dir) return false;
  std::vector<Leaf> leaves;
  if (!ReadTree(image, image.base(), dir - image.base(), leaves)) return false;
  std::u16string t = Upper(type), n = Upper(name);
  for (const Leaf& l : leaves) {
    if (!l.type.named || l.type.name != t || !l.name.named || l.name.name != n) continue;
    if (l.size > (256u << 20)) return false;
    data.assign(l.size, '\0');
    return image.Read(image.base() + l.dataRva, data.data(), l.size);
  }
  return false;
}

bool EmbedNamedResource(std::string& file, std::string_view type, std::string_view name, std::string_view data,
                        std::string& error) {
  rvx::ImageFile image;
  if (!image.Load(file, "", error)) return false;
  uint32_t nt = Get32(file, 60);
  uint16_t sectionCount = Get16(file, nt + 6);
  uint16_t optSize = Get16(file, nt + 20);
  size_t opt = nt + 24;
  uint32_t sectionAlign = Get32(file, opt + 32), fileAlign = Get32(file, opt + 36);
  uint32_t headersSize = Get32(file, opt + 60);
  size_t table = opt + optSize;
  size_t tableEnd = table + 40 * size_t(sectionCount);
  uint32_t firstRaw = ~0u, nextRva = 0;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    size_t s = table + 40 * i;
    uint32_t raw = Get32(file, s + 20), rawSize = Get32(file, s + 16);
    uint32_t va = Get32(file, s + 12), vsize = Get32(file, s + 8);
    if (raw && rawSize && raw < firstRaw) firstRaw = raw;
    nextRva = std::max(nextRva, AlignUp(va + std::max(vsize, rawSize), sectionAlign));
  }
  if (tableEnd + 40 > std::min<size_t>(headersSize, firstRaw)) {
    error = "no room for another section header";
    return false;
  }
  std::vector<Leaf> leaves;
  uint32_t oldSize = 0;
  if (rvx::Address dir = rvx::PeDataDirectory(image, image.base(), kResourceDirectory, &oldSize)) {
    if (!ReadTree(image, image.base(), dir - image.base(), leaves)) {
      error = "the resource directory is damaged";
      return false;
    }
  }
  std::u16string t = Upper(type), n = Upper(name);
  leaves.erase(std::remove_if(leaves.begin(), leaves.end(),
                              [&](const Leaf& l) { return l.type.named && l.type.name == t && l.name.named && l.name.name == n; }),
               leaves.end());
  Leaf added;
  added.type = {true, 0, t};
  added.name = {true, 0, n};
  added.lang = {false, 0x409, {}};
  added.size = static_cast<uint32_t>(data.size());
  added.newData = std::string(data);
  added.added = true;
  leaves.push_back(std::move(added));
  std::string section = Serialise(std::move(leaves), nextRva);
  uint32_t vsize = static_cast<uint32_t>(section.size());
  uint32_t rawOffset = AlignUp(static_cast<uint32_t>(file.size()), fileAlign);
  uint32_t rawSize = AlignUp(vsize, fileAlign);
  file.resize(rawOffset, '\0');
  file += section;
  file.resize(rawOffset + rawSize, '\0');

  std::string header(40, '\0');
  std::memcpy(&header[0], ".rsrcx", 6);
  Put32(header, 8, vsize);
  Put32(header, 12, nextRva);
  Put32(header, 16, rawSize);
  Put32(header, 20, rawOffset);
  Put32(header, 36, 0x40000040u);  // initialised data, readable
  file.replace(tableEnd, 40, header);
  Put16(file, nt + 6, static_cast<uint16_t>(sectionCount + 1));
  Put32(file, opt + 56, AlignUp(nextRva + vsize, sectionAlign));            // SizeOfImage
  Put32(file, opt + 8, Get32(file, opt + 8) + rawSize);                      // SizeOfInitializedData
  Put32(file, opt + 96 + 8 * kResourceDirectory, nextRva);
  Put32(file, opt + 96 + 8 * kResourceDirectory + 4, vsize);
  return true;
}

}  // namespace rvxsym
