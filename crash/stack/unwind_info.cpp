// C++ landing pads from a module's DWARF unwind information (.eh_frame records and their language-specific
// data areas), so that the function analysis finds exception handler code that no jump reaches.
#include <algorithm>
#include <cstring>

#include "crash/stack/function_analyser.h"
#include "crash/stack/module.h"

namespace rvx {
namespace {

constexpr uint8_t kOmit = 0xFF;

class Cursor {
 public:
  Cursor(const MemoryReader& memory, Address at, Address end) : mem_(memory), at_(at), end_(end) {}
  bool ok() const { return ok_; }
  Address at() const { return at_; }
  void Seek(Address a) { at_ = a; }
  void Limit(Address end) { end_ = end; }

  uint8_t U8() {
    uint8_t v = 0;
    Get(&v, 1);
    return v;
  }
  uint32_t U16() {
    uint16_t v = 0;
    Get(&v, 2);
    return v;
  }
  uint32_t U32() {
    uint32_t v = 0;
    Get(&v, 4);
    return v;
  }
  uint64_t Uleb() {
    uint64_t v = 0;
    for (int shift = 0; ok_; shift += 7) {
      uint8_t b = U8();
      if (shift < 64) v |= uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80)) break;
      if (shift > 63) ok_ = false;
    }
    return v;
  }
  int64_t Sleb() {
    int64_t v = 0;
    int shift = 0;
    uint8_t b = 0;
    do {
      b = U8();
      if (shift < 64) v |= int64_t(b & 0x7F) << shift;
      shift += 7;
      if (shift > 70) ok_ = false;
    } while ((b & 0x80) && ok_);
    if (shift < 64 && (b & 0x40)) v |= -(int64_t(1) << shift);
    return v;
  }
  std::string CString() {
    std::string s;
    for (char c; ok_ && (c = static_cast<char>(U8())) != 0 && s.size() < 64;) s += c;
    return s;
  }
  // A pointer in one of the DWARF encodings; relative forms are taken relative to the field.
  Address Encoded(uint8_t encoding) {
    const Address field = at_;
    uint64_t v = 0;
    switch (encoding & 0x0F) {
      case 0x00: case 0x03: v = U32(); break;
      case 0x01: v = Uleb(); break;
      case 0x02: v = U16(); break;
      case 0x09: v = static_cast<uint64_t>(Sleb()); break;
      case 0x0A: v = static_cast<uint64_t>(int64_t(int16_t(U16()))); break;
      case 0x0B: v = static_cast<uint64_t>(int64_t(int32_t(U32()))); break;
      case 0x04: case 0x0C: v = U32(); U32(); break;
      default: ok_ = false; break;
    }
    if ((encoding & 0x70) == 0x10) v += field;
    Address result = static_cast<Address>(v);
    if (encoding & 0x80) {
      uint32_t indirect = 0;
      if (!mem_.Read32(result, indirect)) ok_ = false;
      result = indirect;
    }
    return result;
  }

 private:
  void Get(void* dest, size_t n) {
    if (!ok_ || at_ + n > end_ || at_ + n < at_ || !mem_.Read(at_, dest, n)) {
      ok_ = false;
      std::memset(dest, 0, n);
      return;
    }
    at_ += static_cast<Address>(n);
  }

  const MemoryReader& mem_;
  Address at_, end_;
  bool ok_ = true;
};

struct Cie {
  uint8_t fdeEncoding = 0;
  uint8_t lsdaEncoding = kOmit;
  bool hasAugmentationData = false;
};

bool ReadCie(const MemoryReader& memory, Address at, Address end, Cie& cie) {
  Cursor c(memory, at, end);
  uint32_t length = c.U32();
  if (!c.ok() || length == 0 || length == 0xFFFFFFFF) return false;
  Address recordEnd = c.at() + length;
  c.Limit(std::min(recordEnd, end));
  if (c.U32() != 0) return false;  // not a CIE
  uint8_t version = c.U8();
  std::string augmentation = c.CString();
  c.Uleb();
  c.Sleb();
  if (version == 1) c.U8(); else c.Uleb();
  if (augmentation.empty() || augmentation[0] != 'z') return c.ok();
  cie.hasAugmentationData = true;
  c.Uleb();
  for (size_t i = 1; i < augmentation.size() && c.ok(); ++i) {
    switch (augmentation[i]) {
      case 'L': cie.lsdaEncoding = c.U8(); break;
      case 'R': cie.fdeEncoding = c.U8(); break;
      case 'P': c.Encoded(c.U8()); break;
      case 'S': case 'B': break;
      default: return c.ok();
    }
  }
  return c.ok();
}

void ReadLsda(const MemoryReader& memory, Address lsda, Address functionStart, Address end,
              std::vector<Address>& pads) {
  Cursor c(memory, lsda, end);
  uint8_t lpStartEncoding = c.U8();
  Address lpStart = lpStartEncoding == kOmit ? functionStart : c.Encoded(lpStartEncoding);
  uint8_t typeEncoding = c.U8();
  if (typeEncoding != kOmit) c.Uleb();
  uint8_t callSiteEncoding = c.U8();
  uint64_t tableLength = c.Uleb();
  if (!c.ok() || tableLength > 0x100000) return;
  const Address tableEnd = c.at() + static_cast<Address>(tableLength);
  while (c.ok() && c.at() < tableEnd && pads.size() < 4096) {
    c.Encoded(callSiteEncoding & 0x0F);
    c.Encoded(callSiteEncoding & 0x0F);
    Address pad = c.Encoded(callSiteEncoding & 0x0F);
    c.Uleb();
    if (c.ok() && pad) pads.push_back(lpStart + pad);
  }
}

// Visits every FDE of the module's unwind section: (start, length, its LSDA's landing pads). The visitor
// returns false to stop.
template <class Visit>
void ForEachFde(const MemoryReader& memory, Address moduleBase, Visit&& visit) {
  Address nt = PeNtHeaders(memory, moduleBase);
  if (!nt) return;
  for (const SectionHeader& s : PeSections(memory, nt)) {
    // Long section names live in the file's string table, which is not part of the image: the unwind
    // section is recognised by its name or by a first record that is a CIE.
    const Address start = moduleBase + s.virtualAddress;
    const Address end = start + s.virtualSize;
    if (s.name != ".eh_fram" && s.name != ".eh_frame") {
      if (s.name.empty() || s.name[0] != '/' || (s.characteristics & kSectionCode)) continue;
      Cie probe;
      uint8_t version = 0;
      if (!ReadCie(memory, start, end, probe) || !memory.Read(start + 8, &version, 1) || (version != 1 && version != 3))
        continue;
    }
    Cursor c(memory, start, end);
    for (int records = 0; c.ok() && c.at() + 8 <= end && records < 1000000; ++records) {
      uint32_t length = c.U32();
      if (!c.ok() || length == 0 || length == 0xFFFFFFFF) break;
      const Address body = c.at();
      const Address next = body + length;
      if (next > end || next < body) break;
      uint32_t cieOffset = c.U32();
      if (cieOffset != 0) {
        Cie cie;
        if (ReadCie(memory, body - cieOffset, end, cie)) {
          Cursor f(memory, c.at(), next);
          Address begin = f.Encoded(cie.fdeEncoding);
          Address range = f.Encoded(cie.fdeEncoding & 0x0F);
          if (f.ok()) {
            auto pads = [&, begin]() {
              std::vector<Address> found;
              if (cie.hasAugmentationData) f.Uleb();
              if (cie.lsdaEncoding != kOmit) {
                Address lsda = f.Encoded(cie.lsdaEncoding);
                if (f.ok() && lsda) ReadLsda(memory, lsda, begin, 0xFFFFFFFF, found);
              }
              return found;
            };
            if (!visit(begin, range, pads)) return;
          }
        }
      }
      c.Seek(next);
    }
  }
}

}  // namespace

std::vector<Address> LandingPadsOf(const MemoryReader& memory, Address moduleBase, Address address) {
  std::vector<Address> pads;
  ForEachFde(memory, moduleBase, [&](Address begin, Address range, auto& padsOf) {
    if (address >= begin && address - begin < range) {
      pads = padsOf();
      return false;
    }
    return true;
  });
  return pads;
}

std::vector<UnwindRange> UnwindRangesOf(const MemoryReader& memory, Address moduleBase) {
  std::vector<UnwindRange> ranges;
  ForEachFde(memory, moduleBase, [&](Address begin, Address range, auto& padsOf) {
    if (range) ranges.push_back({begin, begin + range, padsOf()});
    return ranges.size() < 4000000;
  });
  std::sort(ranges.begin(), ranges.end(), [](const UnwindRange& a, const UnwindRange& b) { return a.begin < b.begin; });
  return ranges;
}

}  // namespace rvx
