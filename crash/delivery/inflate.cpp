// Raw deflate decoder writing straight into the caller's buffer of known size, and the checked-string
// unpacking built on it. Huffman codes of up to 10 bits are decoded with one table look-up, longer ones
// by walking the canonical code.
#include <algorithm>
#include <bit>
#include <cstring>

#include "crash/delivery/deflate.h"
#include "crash/delivery/deflate_tables.h"

namespace rvx {
namespace {

using namespace deflate;

static_assert(std::endian::native == std::endian::little, "the decoder assumes little-endian loads");

constexpr int kFastBits = 10;
constexpr uint32_t kFastSize = 1u << kFastBits;

// Decoding table of one code set.
struct Huffman {
  uint32_t fast[kFastSize];  // (length << 16) | symbol for codes of up to kFastBits bits; 0 = look further
  uint16_t count[kMaxBits + 1];
  uint16_t symbol[kLitLenSymbols];  // symbols in canonical order
};

// False for an over-subscribed set; incomplete sets are accepted (their unused codes fail when met).
bool BuildHuffman(Huffman& h, const uint8_t* lengths, int n) {
  std::memset(h.count, 0, sizeof h.count);
  for (int i = 0; i < n; ++i) ++h.count[lengths[i]];
  h.count[0] = 0;
  int left = 1;
  for (int len = 1; len <= kMaxBits; ++len) {
    left = (left << 1) - h.count[len];
    if (left < 0) return false;
  }
  uint16_t offset[kMaxBits + 2] = {};
  for (int len = 1; len <= kMaxBits; ++len) offset[len + 1] = static_cast<uint16_t>(offset[len] + h.count[len]);
  for (int i = 0; i < n; ++i)
    if (lengths[i]) h.symbol[offset[lengths[i]]++] = static_cast<uint16_t>(i);

  std::memset(h.fast, 0, sizeof h.fast);
  uint32_t code = 0;
  int index = 0;
  for (int len = 1; len <= kFastBits; ++len) {
    for (int k = 0; k < h.count[len]; ++k, ++code, ++index) {
      const uint32_t entry = (uint32_t(len) << 16) | h.symbol[index];
      for (uint32_t j = ReverseBits(code, len); j < kFastSize; j += 1u << len) h.fast[j] = entry;
    }
    code <<= 1;
  }
  return true;
}

struct FixedTables {
  Huffman litLen;
  Huffman dist;
  FixedTables() {
    uint8_t lengths[kLitLenSymbols];
    for (int i = 0; i < kLitLenSymbols; ++i) lengths[i] = FixedLitLenLength(i);
    BuildHuffman(litLen, lengths, kLitLenSymbols);
    std::memset(lengths, kFixedDistLength, kDistSymbols);
    BuildHuffman(dist, lengths, kDistSymbols);
  }
};

const FixedTables& Fixed() {
  static const FixedTables tables;
  return tables;
}

enum class Status { kOk, kEnd, kNoInput, kError };

constexpr int kNoInput = -2;
constexpr int kBadCode = -1;

class Inflater {
 public:
  Inflater(const uint8_t* in, size_t inLength, uint8_t* out, size_t outLength)
      : in_(in), inEnd_(in + inLength), outStart_(out), out_(out), outEnd_(out + outLength) {}

  // Decodes until the final block ends, an error occurs or the input runs out.
  Status Run();
  // Whether every input byte was used (unused whole bytes still in the bit buffer do not count).
  bool ConsumedAll() const { return in_ - (bitCount_ >> 3) == inEnd_; }
  size_t Produced() const { return static_cast<size_t>(out_ - outStart_); }

 private:
  void Refill() {
    if (inEnd_ - in_ >= 8) {
      bitBuffer_ |= Load64(in_) << bitCount_;
      const int bytes = (63 - bitCount_) >> 3;
      in_ += bytes;
      bitCount_ += bytes * 8;
      bitBuffer_ &= (uint64_t(1) << bitCount_) - 1;
    } else {
      while (bitCount_ <= 56 && in_ < inEnd_) {
        bitBuffer_ |= uint64_t(*in_++) << bitCount_;
        bitCount_ += 8;
      }
    }
  }
  bool Need(int bits) {
    if (bitCount_ < bits) Refill();
    return bitCount_ >= bits;
  }
  uint32_t Take(int bits) {
    const uint32_t v = static_cast<uint32_t>(bitBuffer_ & ((uint64_t(1) << bits) - 1));
    bitBuffer_ >>= bits;
    bitCount_ -= bits;
    return v;
  }
  int Decode(const Huffman& h);
  Status Stored();
  Status Dynamic();
  Status Codes(const Huffman& litLen, const Huffman& dist);
  void CopyMatch(size_t distance, size_t len);

  const uint8_t* in_;
  const uint8_t* inEnd_;
  uint64_t bitBuffer_ = 0;
  int bitCount_ = 0;
  uint8_t* outStart_;
  uint8_t* out_;
  uint8_t* outEnd_;
  Huffman litLen_;
  Huffman dist_;
};

int Inflater::Decode(const Huffman& h) {
  if (bitCount_ < kMaxBits) Refill();
  const uint32_t entry = h.fast[bitBuffer_ & (kFastSize - 1)];
  if (entry) {
    const int len = static_cast<int>(entry >> 16);
    if (len > bitCount_) return kNoInput;
    bitBuffer_ >>= len;
    bitCount_ -= len;
    return static_cast<int>(entry & 0xFFFF);
  }
  // Longer code: walk the canonical code one bit at a time.
  int code = 0;
  int first = 0;
  int index = 0;
  for (int len = 1; len <= kMaxBits; ++len) {
    if (len > bitCount_) return kNoInput;
    code |= static_cast<int>((bitBuffer_ >> (len - 1)) & 1);
    const int count = h.count[len];
    if (code - first < count) {
      bitBuffer_ >>= len;
      bitCount_ -= len;
      return h.symbol[index + code - first];
    }
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return kBadCode;
}

Status Inflater::Stored() {
  // Back to a byte boundary, and hand the whole bytes still buffered back to the input.
  Take(bitCount_ & 7);
  in_ -= bitCount_ >> 3;
  bitBuffer_ = 0;
  bitCount_ = 0;
  if (inEnd_ - in_ < 4) {
    in_ = inEnd_;
    return Status::kNoInput;
  }
  const uint32_t len = in_[0] | (uint32_t(in_[1]) << 8);
  const uint32_t check = in_[2] | (uint32_t(in_[3]) << 8);
  if (len != (~check & 0xFFFF)) return Status::kError;
  in_ += 4;
  const size_t available = static_cast<size_t>(inEnd_ - in_);
  const size_t copy = std::min<size_t>(len, available);
  if (copy > static_cast<size_t>(outEnd_ - out_)) return Status::kError;
  std::memcpy(out_, in_, copy);
  out_ += copy;
  in_ += copy;
  return copy < len ? Status::kNoInput : Status::kOk;
}

Status Inflater::Dynamic() {
  if (!Need(14)) return Status::kNoInput;
  const int hlit = static_cast<int>(Take(5)) + 257;
  const int hdist = static_cast<int>(Take(5)) + 1;
  const int hclen = static_cast<int>(Take(4)) + 4;
  if (hlit > 286 || hdist > 30) return Status::kError;
  uint8_t lengths[286 + 30] = {};
  for (int i = 0; i < hclen; ++i) {
    if (!Need(3)) return Status::kNoInput;
    lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(Take(3));
  }
  // The code-length code is decoded with litLen_'s table, which is rebuilt below.
  if (!BuildHuffman(litLen_, lengths, 19)) return Status::kError;
  std::memset(lengths, 0, 19);
  const int total = hlit + hdist;
  int i = 0;
  while (i < total) {
    const int sym = Decode(litLen_);
    if (sym < 0) return sym == kNoInput ? Status::kNoInput : Status::kError;
    if (sym < 16) {
      lengths[i++] = static_cast<uint8_t>(sym);
      continue;
    }
    uint8_t value = 0;
    int repeat;
    if (sym == 16) {
      if (i == 0) return Status::kError;
      value = lengths[i - 1];
      if (!Need(2)) return Status::kNoInput;
      repeat = 3 + static_cast<int>(Take(2));
    } else if (sym == 17) {
      if (!Need(3)) return Status::kNoInput;
      repeat = 3 + static_cast<int>(Take(3));
    } else {
      if (!Need(7)) return Status::kNoInput;
      repeat = 11 + static_cast<int>(Take(7));
    }
    if (i + repeat > total) return Status::kError;
    std::memset(lengths + i, value, static_cast<size_t>(repeat));
    i += repeat;
  }
  if (lengths[kEndOfBlock] == 0) return Status::kError;
  if (!BuildHuffman(litLen_, lengths, hlit) || !BuildHuffman(dist_, lengths + hlit, hdist)) return Status::kError;
  return Codes(litLen_, dist_);
}

// Copies a match whose source lies `distance` bytes back; the caller guarantees room for len + 16 bytes.
void Inflater::CopyMatch(size_t distance, size_t len) {
  const uint8_t* from = out_ - distance;
  uint8_t* to = out_;
  uint8_t* const end = out_ + len;
  out_ = end;
  if (distance >= 16) {
    // Sixteen bytes at a time, overshooting the end by up to 15 bytes; the source always lies behind.
    do {
      const uint64_t a = Load64(from);
      const uint64_t b = Load64(from + 8);
      Store64(to, a);
      Store64(to + 8, b);
      to += 16;
      from += 16;
    } while (to < end);
  } else if (distance >= 8) {
    do {
      Store64(to, Load64(from));
      to += 8;
      from += 8;
    } while (to < end);
  } else if (distance == 1) {
    std::memset(to, *from, len);
  } else {
    while (to < end) *to++ = *from++;
  }
}

Status Inflater::Codes(const Huffman& litLen, const Huffman& dist) {
  for (;;) {
    // Fast loop: with eight input bytes at hand one refill covers a whole symbol (at most 48 bits), and
    // the output has room for the longest match and the copy's overshoot.
    while (inEnd_ - in_ >= 8 && outEnd_ - out_ >= kMaxMatch + 16) {
      if (bitCount_ < 48) Refill();
      const uint32_t entry = litLen.fast[bitBuffer_ & (kFastSize - 1)];
      if (!entry) break;  // a long code: decoded below
      Take(static_cast<int>(entry >> 16));
      uint32_t sym = entry & 0xFFFF;
      if (sym < 256) {
        *out_++ = static_cast<uint8_t>(sym);
        continue;
      }
      if (sym == kEndOfBlock) return Status::kOk;
      sym -= kEndOfBlock + 1;
      if (sym >= 29) return Status::kError;
      const size_t len = kLengthBase[sym] + Take(kLengthExtra[sym]);
      const uint32_t distEntry = dist.fast[bitBuffer_ & (kFastSize - 1)];
      int dsym;
      if (distEntry) {
        Take(static_cast<int>(distEntry >> 16));
        dsym = static_cast<int>(distEntry & 0xFFFF);
      } else {
        dsym = Decode(dist);
        if (dsym < 0) return dsym == kNoInput ? Status::kNoInput : Status::kError;
      }
      if (dsym >= 30) return Status::kError;
      const size_t distance = kDistBase[dsym] + Take(kDistExtra[dsym]);
      if (distance > static_cast<size_t>(out_ - outStart_)) return Status::kError;
      CopyMatch(distance, len);
    }

    // Careful step: one symbol near the end of the input or the output.
    int sym = Decode(litLen);
    if (sym < 256) {
      if (sym < 0) return sym == kNoInput ? Status::kNoInput : Status::kError;
      if (out_ == outEnd_) return Status::kError;
      *out_++ = static_cast<uint8_t>(sym);
      continue;
    }
    if (sym == kEndOfBlock) return Status::kOk;
    sym -= kEndOfBlock + 1;
    if (sym >= 29) return Status::kError;
    if (!Need(kLengthExtra[sym])) return Status::kNoInput;
    const size_t len = kLengthBase[sym] + Take(kLengthExtra[sym]);
    const int dsym = Decode(dist);
    if (dsym < 0) return dsym == kNoInput ? Status::kNoInput : Status::kError;
    if (dsym >= 30) return Status::kError;
    if (!Need(kDistExtra[dsym])) return Status::kNoInput;
    const size_t distance = kDistBase[dsym] + Take(kDistExtra[dsym]);
    if (distance > static_cast<size_t>(out_ - outStart_)) return Status::kError;
    const size_t room = static_cast<size_t>(outEnd_ - out_);
    if (len > room) return Status::kError;
    if (room >= len + 16) {
      CopyMatch(distance, len);
    } else {
      const uint8_t* from = out_ - distance;
      for (size_t k = 0; k < len; ++k) out_[k] = from[k];
      out_ += len;
    }
  }
}

Status Inflater::Run() {
  for (;;) {
    if (!Need(3)) return Status::kNoInput;
    const bool final = Take(1) != 0;
    const uint32_t type = Take(2);
    Status s;
    if (type == 0) {
      s = Stored();
    } else if (type == 1) {
      s = Codes(Fixed().litLen, Fixed().dist);
    } else if (type == 2) {
      s = Dynamic();
    } else {
      return Status::kError;
    }
    if (s != Status::kOk) return s;
    if (final) return Status::kEnd;
  }
}

}  // namespace

bool InflateExact(const void* source, int32_t sourceLength, void* destination, int32_t destinationLength) {
  if (sourceLength < 0 || destinationLength < 0 || (!destination && destinationLength > 0) ||
      (!source && sourceLength > 0))
    return false;
  try {
    uint8_t none = 0;
    Inflater inflater(static_cast<const uint8_t*>(source), static_cast<size_t>(sourceLength),
                      destinationLength > 0 ? static_cast<uint8_t*>(destination) : &none,
                      static_cast<size_t>(destinationLength));
    const Status status = inflater.Run();
    // A stream that ran out of input has used all of it; one that ended must have used all of it.
    if (status == Status::kError || (status == Status::kEnd && !inflater.ConsumedAll())) return false;
    return inflater.Produced() == static_cast<size_t>(destinationLength);
  } catch (...) {
    return false;
  }
}

int32_t InflateBuffer(const void* source, void* destination, int32_t sourceLength, int32_t destinationLength) {
  if (destinationLength <= 0) return 0;
  return InflateExact(source, sourceLength, destination, destinationLength) ? destinationLength : 0;
}

namespace {

uint32_t ReadLE32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void AppendLE32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

// No deflate stream expands more than this per input byte (258 bytes per two one-bit codes).
constexpr uint64_t kMaxExpansion = 1032;

}  // namespace

std::string InflateCheckedString(std::string_view packed) {
  if (packed.size() <= 12) return {};
  const int32_t length = static_cast<int32_t>(ReadLE32(packed.data()));
  const uint32_t crc = ReadLE32(packed.data() + 8);
  const std::string_view data = packed.substr(12);
  if (length <= 0 || data.size() > 0x7FFFFFFF) return {};
  // A stated length no stream of this size can reach is damage; refuse it before allocating.
  if (static_cast<uint64_t>(length) > (data.size() + 1) * kMaxExpansion) return {};
  try {
    std::string out(static_cast<size_t>(length), '\0');
    if (InflateBuffer(data.data(), out.data(), static_cast<int32_t>(data.size()), length) != length) return {};
    if (Crc32Of(out) != crc) return {};
    return out;
  } catch (...) {
    return {};
  }
}

std::string PackCheckedString(std::string_view data) {
  if (data.size() > 0x70000000) return {};
  try {
    const auto length = static_cast<int32_t>(data.size());
    std::string out(12 + static_cast<size_t>(DeflateCapacity(length)), '\0');
    const int32_t n = DeflateBuffer(data.data(), out.data() + 12, length, static_cast<int32_t>(out.size() - 12));
    if (n <= 0) return {};
    out.resize(12 + static_cast<size_t>(n));
    std::string header;
    AppendLE32(header, static_cast<uint32_t>(length));
    AppendLE32(header, 0);
    AppendLE32(header, Crc32Of(data));
    out.replace(0, 12, header);
    return out;
  } catch (...) {
    return {};
  }
}

}  // namespace rvx
