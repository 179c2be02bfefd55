// The binary symbol container: header, enciphered and packed payload, and the segment, public and line
// streams inside it.
#include "crash/stack/symbol_container.h"

#include <cstring>

#include "crash/delivery/cipher.h"
#include "crash/delivery/deflate.h"
#include "crash/stack/text.h"

namespace rvx {
namespace {

constexpr size_t kFixedHeader = kContainerMagic.size() + 8;  // identifying text, payload length, version
constexpr size_t kVersion3Header = kFixedHeader + 12;         // + the two values and the flags word

uint32_t Get32(std::string_view b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

void Put32(std::string& out, uint32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  out.append(b, 4);
}

// A read-only stream over the unpacked data; reads past the end deliver fewer bytes and mark it short.
class MiniStream {
 public:
  explicit MiniStream(std::string_view data) : data_(data) {}
  size_t Remaining() const { return data_.size() - pos_; }
  bool Short() const { return short_; }
  uint32_t Read32() {
    if (Remaining() < 4) {
      short_ = true;
      pos_ = data_.size();
      return 0;
    }
    uint32_t v = Get32(data_, pos_);
    pos_ += 4;
    return v;
  }
  uint8_t Read8() {
    if (Remaining() < 1) {
      short_ = true;
      return 0;
    }
    return static_cast<uint8_t>(data_[pos_++]);
  }
  int32_t ReadPacked() {
    int8_t b = static_cast<int8_t>(Read8());
    if (b != -128) return b;
    return static_cast<int32_t>(Read32());
  }
  std::string ReadPackedString() {
    size_t n = Read8();
    if (Remaining() < n) {
      pos_ = data_.size();
      short_ = true;
      return "";
    }
    std::string s(data_.substr(pos_, n));
    pos_ += n;
    return s;
  }

 private:
  std::string_view data_;
  size_t pos_ = 0;
  bool short_ = false;
};

void PutPacked(std::string& out, int32_t v) {
  if (v > -128 && v < 128) {
    out.push_back(static_cast<char>(static_cast<int8_t>(v)));
  } else {
    out.push_back(static_cast<char>(0x80));
    Put32(out, static_cast<uint32_t>(v));
  }
}

void PutPackedString(std::string& out, std::string_view s) {
  if (s.size() > 255) s = s.substr(0, 255);
  out.push_back(static_cast<char>(s.size()));
  out.append(s);
}

}  // namespace

bool ReadContainerHeader(std::string_view bytes, ContainerHeader& out) {
  out = ContainerHeader{};
  if (bytes.size() < kFixedHeader || bytes.substr(0, kContainerMagic.size()) != kContainerMagic) return false;
  out.payloadLength = Get32(bytes, kContainerMagic.size());
  out.version = Get32(bytes, kContainerMagic.size() + 4);
  if (out.version == 3) {
    if (bytes.size() < kVersion3Header) return false;
    out.idA = Get32(bytes, kFixedHeader);
    out.idB = Get32(bytes, kFixedHeader + 4);
    out.flags = Get32(bytes, kFixedHeader + 8);
    out.payloadOffset = kVersion3Header;
  } else if (out.version == 2) {
    // Version 2 has no identification values and no flags: the payload follows the version directly.
    out.payloadOffset = kFixedHeader;
  } else {
    return false;
  }
  return out.payloadLength <= bytes.size() - out.payloadOffset;
}

std::string ContainerKey(uint32_t payloadLength) {
  std::string key(16, '\0');
  uint32_t x = payloadLength ^ 0x5A17C3E9u;
  for (char& c : key) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return key;
}

std::string UnpackContainerPayload(std::string_view bytes, const ContainerHeader& header) {
  std::string payload(bytes.substr(header.payloadOffset, header.payloadLength));
  BlockCipher(payload.data(), payload.size(), CipherDirection::Decrypt, ContainerKey(header.payloadLength));
  return InflateCheckedString(payload);
}

bool ReadContainerStream(std::string_view stream, bool minimal, const ModuleBases& bases, TMapFile& map) {
  MiniStream in(stream);
  MapBuilder b(map);
  const Address base = bases.codeBase;

  uint32_t segCount = in.Read32();
  // Every entry takes at least 9 bytes: a count beyond that is damage, not a reason to allocate.
  if (in.Short() || segCount > in.Remaining() / 9) return false;
  b.Reserve(segCount, 0, 0);
  for (uint32_t i = 0; i < segCount; ++i) {
    uint32_t start = in.Read32();
    uint32_t length = in.Read32();
    if (minimal) {
      uint8_t hasLines = in.Read8();
      b.AddSegment(true, base + start, length, "segment%" + std::to_string(i), hasLines);
    } else {
      b.AddSegment(true, base + start, length, in.ReadPackedString());
    }
    if (in.Short()) return false;
  }
  b.SortSegments();

  uint32_t pubCount = in.Read32();
  if (in.Short() || pubCount > in.Remaining()) return false;
  b.Reserve(0, pubCount, 0);
  Address address = 0;
  for (uint32_t i = 0; i < pubCount; ++i) {
    std::string name = minimal ? "public%" + std::to_string(i) : in.ReadPackedString();
    address = i == 0 ? base + in.Read32() : address + static_cast<uint32_t>(in.ReadPacked());
    if (in.Short()) return false;
    b.AddPublic(true, std::move(name), address);
  }
  b.SortPublics();

  uint32_t lineCount = in.Read32();
  if (in.Short() || (lineCount > 0 && lineCount - 1 > in.Remaining() / 2)) return false;
  if (lineCount > 0) {
    uint32_t line = in.Read32();
    Address at = base + in.Read32();
    map.lines.reserve(lineCount);
    b.AddLine(line, at);
    for (uint32_t i = 1; i < lineCount; ++i) {
      line += static_cast<uint32_t>(in.ReadPacked());
      at += static_cast<uint32_t>(in.ReadPacked());
      b.AddLine(line, at);
    }
    if (in.Short()) return false;
  }
  if (in.Remaining() == 4) map.entryPoint = base + in.Read32();
  b.SortLines();
  return true;
}

bool ReadContainer(std::string_view bytes, const ModuleBases& bases, TMapFile& map, bool* minimalOut) {
  ContainerHeader h;
  if (!ReadContainerHeader(bytes, h)) return false;
  std::string stream = UnpackContainerPayload(bytes, h);
  if (stream.empty()) return false;
  bool minimal = (h.flags & kContainerFlagMinimal) != 0;
  if (minimalOut) *minimalOut = minimal;
  return ReadContainerStream(stream, minimal, bases, map);
}

std::string ContainerFingerprint(uint32_t fileLength, uint32_t idA, uint32_t idB) {
  return HexText(fileLength, 8, '0') + ", " + HexText(idA, 8, '0') + ", " + HexText(idB, 8, '0');
}

std::string WriteContainerStream(const ContainerContent& c, bool minimal) {
  std::string out;
  Put32(out, static_cast<uint32_t>(c.segments.size()));
  for (const ContainerSegment& s : c.segments) {
    Put32(out, s.start);
    Put32(out, s.length);
    if (minimal) {
      out.push_back(s.hasLineNumbers ? 1 : 0);
    } else {
      PutPackedString(out, s.unit);
    }
  }
  Put32(out, static_cast<uint32_t>(c.publics.size()));
  for (size_t i = 0; i < c.publics.size(); ++i) {
    if (!minimal) PutPackedString(out, c.publics[i].name);
    if (i == 0) {
      Put32(out, c.publics[i].address);
    } else {
      PutPacked(out, static_cast<int32_t>(c.publics[i].address - c.publics[i - 1].address));
    }
  }
  const size_t lineCount = minimal ? 0 : c.lines.size();
  Put32(out, static_cast<uint32_t>(lineCount));
  for (size_t i = 0; i < lineCount; ++i) {
    if (i == 0) {
      Put32(out, c.lines[0].line);
      Put32(out, c.lines[0].address);
    } else {
      PutPacked(out, static_cast<int32_t>(c.lines[i].line - c.lines[i - 1].line));
      PutPacked(out, static_cast<int32_t>(c.lines[i].address - c.lines[i - 1].address));
    }
  }
  if (c.hasEntryPoint) Put32(out, c.entryPoint);
  return out;
}

std::string WriteContainer(const ContainerContent& content, bool minimal, uint32_t idA, uint32_t idB,
                           uint32_t version) {
  std::string payload = PackCheckedString(WriteContainerStream(content, minimal));
  if (payload.empty()) return "";
  const uint32_t length = static_cast<uint32_t>(payload.size());
  BlockCipher(payload.data(), payload.size(), CipherDirection::Encrypt, ContainerKey(length));
  std::string out(kContainerMagic);
  Put32(out, length);
  Put32(out, version);
  if (version != 2) {
    Put32(out, idA);
    Put32(out, idB);
    Put32(out, minimal ? kContainerFlagMinimal : 0);
  }
  out += payload;
  return out;
}

}  // namespace rvx
