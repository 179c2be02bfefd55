// DWARF reader for the symbol writer: units, abbreviations, the attributes that name and place routines,
// range lists of both generations, and line programs.
#include "tools/symbols/dwarf.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <unordered_map>

namespace rvxsym {
namespace {

struct Damaged : std::runtime_error {
  Damaged() : std::runtime_error("damaged DWARF") {}
};

class Cursor {
 public:
  Cursor(std::string_view data, size_t pos = 0) : d_(data), pos_(pos) {
    if (pos_ > d_.size()) throw Damaged();
  }
  size_t pos() const { return pos_; }
  void seek(size_t p) {
    if (p > d_.size()) throw Damaged();
    pos_ = p;
  }
  bool done() const { return pos_ >= d_.size(); }
  void skip(uint64_t n) {
    if (n > d_.size() - pos_) throw Damaged();
    pos_ += static_cast<size_t>(n);
  }
  uint64_t fixed(int n) {
    if (static_cast<size_t>(n) > d_.size() - pos_) throw Damaged();
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint64_t(static_cast<uint8_t>(d_[pos_ + i])) << (8 * i);
    pos_ += n;
    return v;
  }
  uint8_t u8() { return static_cast<uint8_t>(fixed(1)); }
  uint16_t u16() { return static_cast<uint16_t>(fixed(2)); }
  uint32_t u32() { return static_cast<uint32_t>(fixed(4)); }
  uint64_t uleb() {
    uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
      uint8_t b = u8();
      if (shift < 64) v |= uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
  }
  int64_t sleb() {
    int64_t v = 0;
    int shift = 0;
    uint8_t b;
    do {
      b = u8();
      if (shift < 64) v |= int64_t(b & 0x7F) << shift;
      shift += 7;
    } while (b & 0x80);
    if (shift < 64 && (b & 0x40)) v |= -(int64_t(1) << shift);
    return v;
  }
  std::string_view cstr() {
    size_t end = d_.find('\0', pos_);
    if (end == std::string_view::npos) throw Damaged();
    std::string_view s = d_.substr(pos_, end - pos_);
    pos_ = end + 1;
    return s;
  }
  std::string_view bytes(uint64_t n) {
    if (n > d_.size() - pos_) throw Damaged();
    std::string_view s = d_.substr(pos_, static_cast<size_t>(n));
    pos_ += static_cast<size_t>(n);
    return s;
  }

 private:
  std::string_view d_;
  size_t pos_;
};

std::string_view CStringAt(std::string_view section, uint64_t offset) {
  if (offset >= section.size()) return {};
  size_t end = section.find('\0', static_cast<size_t>(offset));
  if (end == std::string_view::npos) return {};
  return section.substr(static_cast<size_t>(offset), end - static_cast<size_t>(offset));
}

// Tags and attributes used here.
enum : uint32_t {
  TAG_class = 0x02, TAG_enum = 0x04, TAG_structure = 0x13, TAG_union = 0x17, TAG_inlined = 0x1d,
  TAG_subprogram = 0x2e, TAG_interface = 0x38, TAG_namespace = 0x39, TAG_compile_unit = 0x11,
  TAG_partial_unit = 0x3c,
  AT_name = 0x03, AT_stmt_list = 0x10, AT_low_pc = 0x11, AT_high_pc = 0x12, AT_abstract_origin = 0x31,
  AT_declaration = 0x3c, AT_specification = 0x47, AT_ranges = 0x55, AT_linkage_name = 0x6e,
  AT_str_offsets_base = 0x72, AT_addr_base = 0x73, AT_rnglists_base = 0x74, AT_mips_linkage_name = 0x2007,
};

enum : uint32_t {
  FORM_addr = 0x01, FORM_block2 = 0x03, FORM_block4 = 0x04, FORM_data2 = 0x05, FORM_data4 = 0x06,
  FORM_data8 = 0x07, FORM_string = 0x08, FORM_block = 0x09, FORM_block1 = 0x0a, FORM_data1 = 0x0b,
  FORM_flag = 0x0c, FORM_sdata = 0x0d, FORM_strp = 0x0e, FORM_udata = 0x0f, FORM_ref_addr = 0x10,
  FORM_ref1 = 0x11, FORM_ref2 = 0x12, FORM_ref4 = 0x13, FORM_ref8 = 0x14, FORM_ref_udata = 0x15,
  FORM_indirect = 0x16, FORM_sec_offset = 0x17, FORM_exprloc = 0x18, FORM_flag_present = 0x19,
  FORM_strx = 0x1a, FORM_addrx = 0x1b, FORM_ref_sup4 = 0x1c, FORM_strp_sup = 0x1d, FORM_data16 = 0x1e,
  FORM_line_strp = 0x1f, FORM_ref_sig8 = 0x20, FORM_implicit_const = 0x21, FORM_loclistx = 0x22,
  FORM_rnglistx = 0x23, FORM_ref_sup8 = 0x24, FORM_strx1 = 0x25, FORM_strx2 = 0x26, FORM_strx3 = 0x27,
  FORM_strx4 = 0x28, FORM_addrx1 = 0x29, FORM_addrx2 = 0x2a, FORM_addrx3 = 0x2b, FORM_addrx4 = 0x2c,
  FORM_GNU_addr_index = 0x1f01, FORM_GNU_str_index = 0x1f02, FORM_GNU_ref_alt = 0x1f20,
  FORM_GNU_strp_alt = 0x1f21,
};

struct AttrSpec {
  uint32_t name, form;
  int64_t implicitConst;
};
struct Abbrev {
  uint32_t tag = 0;
  bool children = false;
  std::vector<AttrSpec> attrs;
};
using AbbrevTable = std::unordered_map<uint64_t, Abbrev>;

AbbrevTable ReadAbbrevs(std::string_view section, uint64_t offset) {
  AbbrevTable table;
  Cursor c(section, static_cast<size_t>(std::min<uint64_t>(offset, section.size())));
  for (;;) {
    uint64_t code = c.uleb();
    if (code == 0) break;
    Abbrev a;
    a.tag = static_cast<uint32_t>(c.uleb());
    a.children = c.u8() != 0;
    for (;;) {
      uint32_t name = static_cast<uint32_t>(c.uleb()), form = static_cast<uint32_t>(c.uleb());
      int64_t k = form == FORM_implicit_const ? c.sleb() : 0;
      if (name == 0 && form == 0) break;
      a.attrs.push_back({name, form, k});
    }
    table[code] = std::move(a);
  }
  return table;
}

// What one attribute value is, before the unit's bases are known.
struct Value {
  enum Kind { None, Const, Addr, AddrIndex, Str, StrIndex, Ref, SecOffset, RngIndex } kind = None;
  uint64_t u = 0;
  std::string_view s;
};

// One DIE that the naming needs: scopes and routines.
struct Die {
  uint32_t tag = 0;
  int64_t parent = -1;  // index of the nearest kept ancestor
  std::string_view name;
  uint64_t declaration = 0, origin = 0;  // section offsets of referenced DIEs (0 = none)
};

struct UnitContext {
  int offsetSize = 4;
  int addressSize = 4;
  uint16_t version = 0;
  uint64_t unitOffset = 0;
  uint64_t strOffsetsBase = 0, addrBase = 0, rnglistsBase = 0;
  uint64_t baseAddress = 0;
};

class Reader {
 public:
  explicit Reader(const DwarfSections& s) : s_(s) {}

  DwarfInfo Run() {
    Cursor c(s_.info);
    try {
      while (!c.done()) {
        size_t unitStart = c.pos();
        uint64_t length = c.u32();
        int offsetSize = 4;
        if (length == 0xffffffffu) {
          length = c.fixed(8);
          offsetSize = 8;
        }
        size_t bodyStart = c.pos();
        if (length > s_.info.size() - bodyStart) {
          ++out_.unitsSkipped;
          break;
        }
        size_t unitEnd = bodyStart + static_cast<size_t>(length);
        try {
          ReadUnit(unitStart, bodyStart, unitEnd, offsetSize);
          ++out_.unitsRead;
        } catch (const Damaged&) {
          ++out_.unitsSkipped;
        }
        c.seek(unitEnd);
      }
    } catch (const Damaged&) {
      ++out_.unitsSkipped;  // a unit header cut off at the end
    }
    Finish();
    return std::move(out_);
  }

 private:
  struct PendingRoutine {
    int64_t die;
    std::vector<DwarfRange> ranges;
  };

  Value ReadValue(Cursor& c, uint32_t form, int64_t implicitConst, const UnitContext& u) {
    Value v;
    switch (form) {
      case FORM_addr: v.kind = Value::Addr; v.u = c.fixed(u.addressSize); break;
      case FORM_block2: c.skip(c.u16()); break;
      case FORM_block4: c.skip(c.u32()); break;
      case FORM_data2: v.kind = Value::Const; v.u = c.u16(); break;
      case FORM_data4: v.kind = Value::Const; v.u = c.u32(); break;
      case FORM_data8: v.kind = Value::Const; v.u = c.fixed(8); break;
      case FORM_data16: c.skip(16); break;
      case FORM_string: v.kind = Value::Str; v.s = c.cstr(); break;
      case FORM_block: case FORM_exprloc: c.skip(c.uleb()); break;
      case FORM_block1: c.skip(c.u8()); break;
      case FORM_data1: v.kind = Value::Const; v.u = c.u8(); break;
      case FORM_flag: v.kind = Value::Const; v.u = c.u8(); break;
      case FORM_flag_present: v.kind = Value::Const; v.u = 1; break;
      case FORM_sdata: v.kind = Value::Const; v.u = static_cast<uint64_t>(c.sleb()); break;
      case FORM_udata: v.kind = Value::Const; v.u = c.uleb(); break;
      case FORM_implicit_const: v.kind = Value::Const; v.u = static_cast<uint64_t>(implicitConst); break;
      case FORM_strp: v.kind = Value::Str; v.s = CStringAt(s_.str, c.fixed(u.offsetSize)); break;
      case FORM_line_strp: v.kind = Value::Str; v.s = CStringAt(s_.lineStr, c.fixed(u.offsetSize)); break;
      case FORM_strp_sup: case FORM_GNU_strp_alt: c.fixed(u.offsetSize); break;
      case FORM_ref_addr:
        v.kind = Value::Ref;
        v.u = c.fixed(u.version <= 2 ? u.addressSize : u.offsetSize);
        break;
      case FORM_ref1: v.kind = Value::Ref; v.u = u.unitOffset + c.u8(); break;
      case FORM_ref2: v.kind = Value::Ref; v.u = u.unitOffset + c.u16(); break;
      case FORM_ref4: v.kind = Value::Ref; v.u = u.unitOffset + c.u32(); break;
      case FORM_ref8: v.kind = Value::Ref; v.u = u.unitOffset + c.fixed(8); break;
      case FORM_ref_udata: v.kind = Value::Ref; v.u = u.unitOffset + c.uleb(); break;
      case FORM_ref_sig8: case FORM_ref_sup8: c.skip(8); break;
      case FORM_ref_sup4: c.skip(4); break;
      case FORM_GNU_ref_alt: c.fixed(u.offsetSize); break;
      case FORM_sec_offset: v.kind = Value::SecOffset; v.u = c.fixed(u.offsetSize); break;
      case FORM_strx: case FORM_GNU_str_index: v.kind = Value::StrIndex; v.u = c.uleb(); break;
      case FORM_strx1: v.kind = Value::StrIndex; v.u = c.u8(); break;
      case FORM_strx2: v.kind = Value::StrIndex; v.u = c.u16(); break;
      case FORM_strx3: v.kind = Value::StrIndex; v.u = c.fixed(3); break;
      case FORM_strx4: v.kind = Value::StrIndex; v.u = c.u32(); break;
      case FORM_addrx: case FORM_GNU_addr_index: v.kind = Value::AddrIndex; v.u = c.uleb(); break;
      case FORM_addrx1: v.kind = Value::AddrIndex; v.u = c.u8(); break;
      case FORM_addrx2: v.kind = Value::AddrIndex; v.u = c.u16(); break;
      case FORM_addrx3: v.kind = Value::AddrIndex; v.u = c.fixed(3); break;
      case FORM_addrx4: v.kind = Value::AddrIndex; v.u = c.u32(); break;
      case FORM_loclistx: c.uleb(); break;
      case FORM_rnglistx: v.kind = Value::RngIndex; v.u = c.uleb(); break;
      case FORM_indirect: {
        uint32_t f = static_cast<uint32_t>(c.uleb());
        if (f == FORM_indirect) throw Damaged();
        return ReadValue(c, f, 0, u);
      }
      default: throw Damaged();
    }
    return v;
  }

  std::string_view StringOf(const Value& v, const UnitContext& u) {
    if (v.kind == Value::Str) return v.s;
    if (v.kind == Value::StrIndex) {
      Cursor c(s_.strOffsets);
      uint64_t at = u.strOffsetsBase + v.u * u.offsetSize;
      if (at + u.offsetSize > s_.strOffsets.size()) return {};
      c.seek(static_cast<size_t>(at));
      return CStringAt(s_.str, c.fixed(u.offsetSize));
    }
    return {};
  }

  bool AddressOf(const Value& v, const UnitContext& u, uint64_t& out) {
    if (v.kind == Value::Addr) {
      out = v.u;
      return true;
    }
    if (v.kind == Value::AddrIndex) return AddressAtIndex(v.u, u, out);
    return false;
  }

  bool AddressAtIndex(uint64_t index, const UnitContext& u, uint64_t& out) {
    uint64_t at = u.addrBase + index * u.addressSize;
    if (at + u.addressSize > s_.addr.size()) return false;
    Cursor c(s_.addr, static_cast<size_t>(at));
    out = c.fixed(u.addressSize);
    return true;
  }

  // Ranges of a DW_AT_ranges value.
  std::vector<DwarfRange> RangesOf(const Value& v, const UnitContext& u) {
    std::vector<DwarfRange> out;
    if (u.version >= 5) {
      uint64_t offset;
      if (v.kind == Value::RngIndex) {
        uint64_t at = u.rnglistsBase + v.u * u.offsetSize;
        if (at + u.offsetSize > s_.rnglists.size()) return out;
        Cursor c(s_.rnglists, static_cast<size_t>(at));
        offset = u.rnglistsBase + c.fixed(u.offsetSize);
      } else if (v.kind == Value::SecOffset || v.kind == Value::Const) {
        offset = v.u;
      } else {
        return out;
      }
      if (offset >= s_.rnglists.size()) return out;
      Cursor c(s_.rnglists, static_cast<size_t>(offset));
      uint64_t base = u.baseAddress;
      for (int guard = 0; guard < 100000; ++guard) {
        uint8_t kind = c.u8();
        uint64_t a = 0, b = 0;
        switch (kind) {
          case 0: return out;
          case 1: if (!AddressAtIndex(c.uleb(), u, base)) return out; break;
          case 2:
            if (!AddressAtIndex(c.uleb(), u, a) || !AddressAtIndex(c.uleb(), u, b)) return out;
            out.push_back({a, b});
            break;
          case 3:
            if (!AddressAtIndex(c.uleb(), u, a)) return out;
            out.push_back({a, a + c.uleb()});
            break;
          case 4: a = c.uleb(); b = c.uleb(); out.push_back({base + a, base + b}); break;
          case 5: base = c.fixed(u.addressSize); break;
          case 6: a = c.fixed(u.addressSize); b = c.fixed(u.addressSize); out.push_back({a, b}); break;
          case 7: a = c.fixed(u.addressSize); out.push_back({a, a + c.uleb()}); break;
          default: return out;
        }
      }
      return out;
    }
    if (v.kind != Value::SecOffset && v.kind != Value::Const) return out;
    if (v.u >= s_.ranges.size()) return out;
    Cursor c(s_.ranges, static_cast<size_t>(v.u));
    const uint64_t all = u.addressSize == 8 ? ~uint64_t(0) : 0xffffffffu;
    uint64_t base = u.baseAddress;
    for (int guard = 0; guard < 100000; ++guard) {
      uint64_t a = c.fixed(u.addressSize), b = c.fixed(u.addressSize);
      if (a == 0 && b == 0) break;
      if (a == all) {
        base = b;
        continue;
      }
      out.push_back({base + a, base + b});
    }
    return out;
  }

  void ReadUnit(size_t unitStart, size_t bodyStart, size_t unitEnd, int offsetSize) {
    std::string_view unitBytes = s_.info.substr(0, unitEnd);
    Cursor c(unitBytes, bodyStart);
    UnitContext u;
    u.offsetSize = offsetSize;
    u.unitOffset = unitStart;
    u.version = c.u16();
    if (u.version < 2 || u.version > 5) throw Damaged();
    uint64_t abbrevOffset;
    if (u.version >= 5) {
      uint8_t unitType = c.u8();
      u.addressSize = c.u8();
      abbrevOffset = c.fixed(offsetSize);
      if (unitType == 2 || unitType == 6) {  // type units: signature and type offset
        c.skip(8);
        c.fixed(offsetSize);
      } else if (unitType == 4 || unitType == 5) {  // skeleton and split units: their id
        c.skip(8);
      } else if (unitType != 1 && unitType != 3) {
        throw Damaged();
      }
    } else {
      abbrevOffset = c.fixed(offsetSize);
      u.addressSize = c.u8();
    }
    if (u.addressSize != 4 && u.addressSize != 8) throw Damaged();
    AbbrevTable abbrevs = ReadAbbrevs(s_.abbrev, abbrevOffset);

    // Parent chain: per depth, the index of the nearest kept DIE.
    std::vector<int64_t> keptAtDepth{-1};
    bool firstDie = true;
    Value stmtList, cuLow;
    while (c.pos() < unitEnd) {
      uint64_t dieOffset = c.pos();
      uint64_t code = c.uleb();
      if (code == 0) {
        if (keptAtDepth.size() > 1) keptAtDepth.pop_back();
        continue;
      }
      auto it = abbrevs.find(code);
      if (it == abbrevs.end()) throw Damaged();
      const Abbrev& a = it->second;
      Value name, linkage, low, high, ranges, declaration, origin;
      uint32_t highForm = 0;
      for (const AttrSpec& at : a.attrs) {
        Value v = ReadValue(c, at.form, at.implicitConst, u);
        switch (at.name) {
          case AT_name: name = v; break;
          case AT_linkage_name: case AT_mips_linkage_name: linkage = v; break;
          case AT_low_pc: low = v; break;
          case AT_high_pc: high = v; highForm = at.form; break;
          case AT_ranges: ranges = v; break;
          case AT_specification: declaration = v; break;
          case AT_abstract_origin: origin = v; break;
          case AT_stmt_list: stmtList = v; break;
          case AT_str_offsets_base: u.strOffsetsBase = v.u; break;
          case AT_addr_base: u.addrBase = v.u; break;
          case AT_rnglists_base: u.rnglistsBase = v.u; break;
          default: break;
        }
      }
      if (firstDie) {
        firstDie = false;
        if (a.tag == TAG_compile_unit || a.tag == TAG_partial_unit) {
          cuLow = low;
          uint64_t base = 0;
          if (AddressOf(low, u, base)) u.baseAddress = base;
        }
      }
      int64_t parent = keptAtDepth.back();
      int64_t self = -1;
      bool scope = a.tag == TAG_namespace || a.tag == TAG_class || a.tag == TAG_structure || a.tag == TAG_union ||
                   a.tag == TAG_enum || a.tag == TAG_interface || a.tag == TAG_subprogram;
      if (scope) {
        Die d;
        d.tag = a.tag;
        d.parent = parent;
        d.name = StringOf(name, u);
        if (declaration.kind == Value::Ref) d.declaration = declaration.u;
        if (origin.kind == Value::Ref) d.origin = origin.u;
        self = static_cast<int64_t>(dies_.size());
        dies_.push_back(d);
        byOffset_[dieOffset] = self;
      }
      if (a.tag == TAG_subprogram) {
        std::vector<DwarfRange> r;
        uint64_t lo = 0;
        if (AddressOf(low, u, lo)) {
          uint64_t hi = 0;
          if (high.kind == Value::Const && highForm != FORM_addr) {
            r.push_back({lo, lo + high.u});
          } else if (AddressOf(high, u, hi)) {
            r.push_back({lo, hi});
          }
        } else if (ranges.kind != Value::None) {
          r = RangesOf(ranges, u);
        }
        r.erase(std::remove_if(r.begin(), r.end(), [](const DwarfRange& x) { return x.high <= x.low || x.low == 0; }),
                r.end());
        if (!r.empty()) pending_.push_back({self, std::move(r)});
      }
      if (a.children) keptAtDepth.push_back(self >= 0 ? self : parent);
    }
    if (stmtList.kind == Value::SecOffset || stmtList.kind == Value::Const) ReadLineProgram(stmtList.u, u);
  }

  void ReadLineProgram(uint64_t offset, const UnitContext& unit) {
    if (offset >= s_.line.size() || !linesSeen_.insert({offset, 0}).second) return;
    Cursor c(s_.line, static_cast<size_t>(offset));
    uint64_t length = c.u32();
    int offsetSize = 4;
    if (length == 0xffffffffu) {
      length = c.fixed(8);
      offsetSize = 8;
    }
    if (length > s_.line.size() - c.pos()) throw Damaged();
    size_t end = c.pos() + static_cast<size_t>(length);
    Cursor p(s_.line.substr(0, end), c.pos());
    uint16_t version = p.u16();
    if (version < 2 || version > 5) throw Damaged();
    int addressSize = unit.addressSize;
    if (version >= 5) {
      addressSize = p.u8();
      p.u8();  // segment selector size
    }
    uint64_t headerLength = p.fixed(offsetSize);
    size_t programStart = p.pos() + static_cast<size_t>(std::min<uint64_t>(headerLength, end - p.pos()));
    uint8_t minInst = p.u8();
    if (version >= 4) p.u8();  // maximum operations per instruction
    bool defaultIsStmt = p.u8() != 0;
    (void)defaultIsStmt;
    int8_t lineBase = static_cast<int8_t>(p.u8());
    uint8_t lineRange = p.u8();
    uint8_t opcodeBase = p.u8();
    if (lineRange == 0) throw Damaged();
    std::vector<uint8_t> opLengths(opcodeBase > 0 ? opcodeBase - 1 : 0);
    for (auto& l : opLengths) l = p.u8();

    DwarfLineTable table;
    UnitContext lu = unit;
    lu.offsetSize = offsetSize;
    if (version >= 5) {
      auto readEntries = [&](std::vector<std::string>* names, const std::vector<std::string>* dirs) {
        uint8_t formatCount = p.u8();
        std::vector<std::pair<uint64_t, uint64_t>> format(formatCount);
        for (auto& f : format) {
          f.first = p.uleb();
          f.second = p.uleb();
        }
        uint64_t count = p.uleb();
        std::vector<std::string> out;
        for (uint64_t i = 0; i < count; ++i) {
          std::string_view path;
          uint64_t dir = 0;
          for (auto& f : format) {
            Value v = ReadValue(p, static_cast<uint32_t>(f.second), 0, lu);
            if (f.first == 1) path = StringOf(v, lu);
            if (f.first == 2) dir = v.u;
          }
          std::string full(path);
          if (dirs && dir < dirs->size() && !full.empty() && full[0] != '/' && full.find(':') == std::string::npos)
            full = (*dirs)[dir] + "/" + full;
          out.push_back(std::move(full));
        }
        *names = std::move(out);
      };
      std::vector<std::string> dirs;
      readEntries(&dirs, nullptr);
      readEntries(&table.files, &dirs);
    } else {
      std::vector<std::string> dirs{""};
      for (;;) {
        std::string_view d = p.cstr();
        if (d.empty()) break;
        dirs.emplace_back(d);
      }
      table.files.emplace_back();  // file numbers start at 1
      for (;;) {
        std::string_view f = p.cstr();
        if (f.empty()) break;
        uint64_t dir = p.uleb();
        p.uleb();
        p.uleb();
        std::string full(f);
        if (dir > 0 && dir < dirs.size()) full = dirs[dir] + "/" + full;
        table.files.push_back(std::move(full));
      }
    }
    p.seek(programStart);

    uint64_t address = 0;
    int64_t line = 1;
    uint64_t file = 1;
    auto reset = [&] {
      address = 0;
      line = 1;
      file = 1;
    };
    auto emit = [&](bool endSequence) {
      DwarfLineRow r;
      r.address = address;
      r.line = line < 0 ? 0 : static_cast<uint32_t>(line);
      r.file = static_cast<uint32_t>(file < table.files.size() ? file : 0);
      r.endSequence = endSequence;
      table.rows.push_back(r);
    };
    while (p.pos() < end) {
      uint8_t op = p.u8();
      if (op >= opcodeBase) {
        uint32_t adjusted = op - opcodeBase;
        address += uint64_t(adjusted / lineRange) * minInst;
        line += lineBase + int64_t(adjusted % lineRange);
        emit(false);
        continue;
      }
      switch (op) {
        case 0: {
          uint64_t len = p.uleb();
          if (len == 0) break;
          size_t next = p.pos();
          if (len > end - next) throw Damaged();
          next += static_cast<size_t>(len);
          uint8_t sub = p.u8();
          if (sub == 1) {
            emit(true);
            reset();
          } else if (sub == 2) {
            address = p.fixed(static_cast<int>(std::min<uint64_t>(len - 1, 8)));
          }
          p.seek(next);
          break;
        }
        case 1: emit(false); break;
        case 2: address += p.uleb() * minInst; break;
        case 3: line += p.sleb(); break;
        case 4: file = p.uleb(); break;
        case 5: p.uleb(); break;
        case 6: case 7: case 10: case 11: break;
        case 8: address += uint64_t((255 - opcodeBase) / lineRange) * minInst; break;
        case 9: address += p.u16(); break;
        case 12: p.uleb(); break;
        default:
          for (uint8_t k = 0; k < opLengths[op - 1]; ++k) p.uleb();
          break;
      }
    }
    (void)addressSize;
    out_.lineTables.push_back(std::move(table));
  }

  const Die* DieAt(uint64_t offset) const {
    auto it = byOffset_.find(offset);
    return it == byOffset_.end() ? nullptr : &dies_[static_cast<size_t>(it->second)];
  }

  // The DIE that declares d (following origins and specifications), and the first name on the way.
  const Die* Declaration(const Die* d, std::string_view& name) const {
    for (int guard = 0; d && guard < 16; ++guard) {
      if (name.empty()) name = d->name;
      const Die* next = d->origin ? DieAt(d->origin) : d->declaration ? DieAt(d->declaration) : nullptr;
      if (!next) return d;
      d = next;
    }
    return d;
  }

  std::string QualifiedName(int64_t index) const {
    std::string_view name;
    const Die* decl = Declaration(&dies_[static_cast<size_t>(index)], name);
    std::string out(name);
    int64_t p = decl ? decl->parent : -1;
    for (int guard = 0; p >= 0 && guard < 64; ++guard) {
      std::string_view scopeName;
      const Die* scope = Declaration(&dies_[static_cast<size_t>(p)], scopeName);
      if (!scope) break;
      std::string part(scopeName);
      // An unnamed namespace stays out of the name, as it does in every name the reports show.
      if (!part.empty()) out = part + "::" + out;
      p = scope->parent;
    }
    return out;
  }

  void Finish() {
    for (PendingRoutine& r : pending_) {
      DwarfRoutine routine;
      routine.name = QualifiedName(r.die);
      routine.ranges = std::move(r.ranges);
      if (!routine.name.empty()) out_.routines.push_back(std::move(routine));
    }
  }

  const DwarfSections& s_;
  DwarfInfo out_;
  std::vector<Die> dies_;
  std::unordered_map<uint64_t, int64_t> byOffset_;
  std::vector<PendingRoutine> pending_;
  std::map<uint64_t, int> linesSeen_;
};

}  // namespace

DwarfInfo ReadDwarf(const DwarfSections& sections) { return Reader(sections).Run(); }

}  // namespace rvxsym
