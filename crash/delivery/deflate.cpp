// Raw deflate compressor: greedy (standard) or lazy (thorough) matching over 3-byte hash chains, one block
// per 16383 symbols, each block sent stored, with the fixed codes or with its own length-limited Huffman
// codes, whichever is shortest.
#include <algorithm>
#include <array>
#include <bit>
#include <iterator>
#include <memory>
#include <new>

#include "crash/delivery/deflate.h"
#include "crash/delivery/deflate_huffman.h"
#include "crash/delivery/deflate_tables.h"

namespace rvx {
namespace {

using namespace deflate;

static_assert(std::endian::native == std::endian::little, "the compressor assumes little-endian loads");

// Fixed configuration.
constexpr int kHashBits = 15;
constexpr uint32_t kHashSize = 1u << kHashBits;
constexpr uint32_t kHashMask = kHashSize - 1;
constexpr int kHashShift = (kHashBits + kMinMatch - 1) / kMinMatch;  // 5: three bytes fill the hash
constexpr uint32_t kWindowMask = kWindowSize - 1;
constexpr uint32_t kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
constexpr uint32_t kMaxDistance = kWindowSize - kMinLookahead;  // longest distance searched
constexpr int kSymbolBufferSize = 16384;
constexpr int kFlushSymbols = kSymbolBufferSize - 1;  // a block is flushed with this many symbols
// Standard effort: candidates searched per position. The configuration shortens the chain to 2 when the
// match found at the previous position is already 4 long; greedy parsing never searches a position inside
// a match, so that length is always below 3 here and every search may visit 8 candidates.
constexpr int kMaxChain = 8;
constexpr uint32_t kNiceLength = 16;      // a match this long ends the search
constexpr uint32_t kMaxInsertLength = 5;  // positions inside longer matches are not hashed

// Thorough effort (lazy matching).
constexpr int kThoroughChain = 128;
constexpr uint32_t kThoroughNice = 128;
constexpr uint32_t kGoodLength = 8;    // with a match this long in hand, a quarter of the chain is searched
constexpr uint32_t kMaxLazy = 16;      // with a match this long in hand, the next position is not searched
constexpr uint32_t kTooFar = 4096;     // a 3-byte match farther back costs more than its literals

// Hash heads and chain links hold positions modulo 65536: a candidate's distance is recovered as
// (pos - stored) mod 65536. Stale or never-written entries can only name some earlier position within
// reach, and every candidate is verified byte by byte, so they cost a comparison but never a wrong match.
using Link = uint16_t;

// Pending output of one block: the longest dynamic block (16383 matches of 48 bits plus the trees) and
// the longest stored block (never longer than the fixed-code form of the same block) both fit.
constexpr size_t kPendingSize = 1u << 17;

constexpr std::array<uint8_t, 256> kLengthCode = [] {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 29; ++c)
    for (int len = kLengthBase[c]; len < kLengthBase[c] + (1 << kLengthExtra[c]) && len <= kMaxMatch; ++len)
      t[len - kMinMatch] = static_cast<uint8_t>(c);
  return t;
}();

// Distance codes: index d - 1 below 256, else 256 + ((d - 1) >> 7).
constexpr std::array<uint8_t, 512> kDistCode = [] {
  std::array<uint8_t, 512> t{};
  for (int c = 0; c < 30; ++c)
    for (int d = kDistBase[c]; d < kDistBase[c] + (1 << kDistExtra[c]); ++d) {
      const int d0 = d - 1;
      t[d0 < 256 ? d0 : 256 + (d0 >> 7)] = static_cast<uint8_t>(c);
    }
  return t;
}();

inline uint32_t DistCodeOf(uint32_t d0) { return d0 < 256 ? kDistCode[d0] : kDistCode[256 + (d0 >> 7)]; }

inline uint32_t HashAt(const uint8_t* p) {
  return ((uint32_t(p[0]) << (2 * kHashShift)) ^ (uint32_t(p[1]) << kHashShift) ^ p[2]) & kHashMask;
}

// Number of equal bytes at a and b, at most max.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t max) {
  uint32_t len = 0;
  while (len + 8 <= max) {
    const uint64_t x = Load64(a + len) ^ Load64(b + len);
    if (x) return len + (static_cast<uint32_t>(std::countr_zero(x)) >> 3);
    len += 8;
  }
  while (len < max && a[len] == b[len]) ++len;
  return len;
}

struct FixedCodes {
  uint8_t litLen[kLitLenSymbols];
  uint16_t litCode[kLitLenSymbols];
  uint8_t distLen[kDistSymbols];
  uint16_t distCode[kDistSymbols];
  FixedCodes() {
    for (int i = 0; i < kLitLenSymbols; ++i) litLen[i] = FixedLitLenLength(i);
    for (int i = 0; i < kDistSymbols; ++i) distLen[i] = kFixedDistLength;
    CanonicalCodes(litLen, kLitLenSymbols, litCode);
    CanonicalCodes(distLen, kDistSymbols, distCode);
  }
};

const FixedCodes& Fixed() {
  static const FixedCodes codes;
  return codes;
}

class Compressor {
 public:
  Compressor(const uint8_t* src, uint32_t length, uint8_t* dst, int64_t capacity)
      : src_(src), length_(length), dst_(dst), capacity_(capacity) {
    std::fill(std::begin(head_), std::end(head_), Link(0));
  }

  // Return the stream length, or 0 when it does not fit.
  int32_t Run();
  int32_t RunLazy();

 private:
  // Longest match for pos longer than `atLeast` among the chain that starts `distance` bytes back
  // (distance within reach), searching at most `chain` candidates and stopping at `nice` bytes; 0 when
  // there is none of at least 3 bytes.
  uint32_t LongestMatch(uint32_t pos, uint32_t distance, uint32_t* bestDistance, int chain = kMaxChain,
                        uint32_t nice = kNiceLength, uint32_t atLeast = kMinMatch - 1) const;
  // Enters pos into its hash chain; returns the distance of the previous position with the same hash, or 0
  // when there is none within reach.
  uint32_t Insert(uint32_t pos) {
    const uint32_t h = HashAt(src_ + pos);
    const Link candidate = head_[h];
    head_[h] = static_cast<Link>(pos);
    prev_[pos & kWindowMask] = candidate;
    const uint32_t distance = (pos - candidate) & 0xFFFF;
    return distance != 0 && distance <= std::min(pos, kMaxDistance) ? distance : 0;
  }
  void AddLiteral(uint8_t value) {
    lit_[symbols_] = value;
    dist_[symbols_] = 0;
    ++symbols_;
    ++litFreq_[value];
  }
  void AddMatch(uint32_t length, uint32_t distance) {
    lit_[symbols_] = static_cast<uint8_t>(length - kMinMatch);
    dist_[symbols_] = static_cast<uint16_t>(distance);
    ++symbols_;
    ++litFreq_[kEndOfBlock + 1 + kLengthCode[length - kMinMatch]];
    ++distFreq_[DistCodeOf(distance - 1)];
  }
  void StartBlock();
  bool FlushBlock(bool final, uint32_t end);
  void WriteStored(bool final, uint32_t end);
  void WriteSymbols(const uint16_t* litCode, const uint8_t* litLen, const uint16_t* distCode,
                    const uint8_t* distLen);

  void Put(uint32_t bits, int count) {
    bitBuffer_ |= uint64_t(bits) << bitCount_;
    bitCount_ += count;
    if (bitCount_ >= 32) {
      Store32(out_, static_cast<uint32_t>(bitBuffer_));
      out_ += 4;
      bitBuffer_ >>= 32;
      bitCount_ -= 32;
    }
  }
  void AlignToByte() {
    while (bitCount_ > 0) {
      *out_++ = static_cast<uint8_t>(bitBuffer_);
      bitBuffer_ >>= 8;
      bitCount_ -= 8;
    }
    bitBuffer_ = 0;
    bitCount_ = 0;
  }

  const uint8_t* src_;
  uint32_t length_;
  uint8_t* dst_;
  int64_t capacity_;
  int64_t written_ = 0;

  Link head_[kHashSize];
  Link prev_[kWindowSize];

  int symbols_ = 0;
  uint8_t lit_[kSymbolBufferSize];    // literal byte, or match length - 3
  uint16_t dist_[kSymbolBufferSize];  // 0 for a literal, else the match distance
  uint32_t litFreq_[kLitLenSymbols];
  uint32_t distFreq_[kDistSymbols];
  uint32_t blockStart_ = 0;

  uint8_t pending_[kPendingSize + 16];
  uint8_t* out_ = pending_;
  uint64_t bitBuffer_ = 0;
  int bitCount_ = 0;
};

uint32_t Compressor::LongestMatch(uint32_t pos, uint32_t distance, uint32_t* bestDistance, int chain,
                                  uint32_t niceLength, uint32_t atLeast) const {
  const uint8_t* scan = src_ + pos;
  const uint32_t available = length_ - pos;
  const uint32_t maxLen = std::min<uint32_t>(available, kMaxMatch);
  const uint32_t nice = std::min(maxLen, niceLength);
  const uint32_t reach = std::min(pos, kMaxDistance);
  uint32_t best = std::max<uint32_t>(atLeast, kMinMatch - 1);
  if (best >= maxLen) return 0;
  if (maxLen >= 8) {
    const uint64_t head = Load64(scan);
    for (;;) {
      const uint8_t* match = scan - distance;
      // While the best is shorter than 8 bytes, the first eight bytes decide; beyond, the two bytes at the
      // current best length must match before the whole candidate is compared.
      if (best < 8) {
        const uint64_t x = Load64(match) ^ head;
        const uint32_t len = x ? static_cast<uint32_t>(std::countr_zero(x)) >> 3
                               : 8 + CommonLength(match + 8, scan + 8, maxLen - 8);
        if (len > best) {
          best = len;
          *bestDistance = distance;
          if (len >= nice) break;
        }
      } else if (Load16(match + best - 1) == Load16(scan + best - 1) && Load32(match) == Load32(scan)) {
        const uint32_t len = 4 + CommonLength(match + 4, scan + 4, maxLen - 4);
        if (len > best) {
          best = len;
          *bestDistance = distance;
          if (len >= nice) break;
        }
      }
      if (--chain == 0) break;
      const uint32_t next = (pos - prev_[(pos - distance) & kWindowMask]) & 0xFFFF;
      if (next <= distance || next > reach) break;
      distance = next;
    }
  } else {
    for (;;) {
      const uint8_t* match = scan - distance;
      const uint32_t len = CommonLength(match, scan, maxLen);
      if (len > best) {
        best = len;
        *bestDistance = distance;
        if (len >= nice) break;
      }
      if (--chain == 0) break;
      const uint32_t next = (pos - prev_[(pos - distance) & kWindowMask]) & 0xFFFF;
      if (next <= distance || next > reach) break;
      distance = next;
    }
  }
  return best > std::max<uint32_t>(atLeast, kMinMatch - 1) ? best : 0;
}

void Compressor::StartBlock() {
  symbols_ = 0;
  std::fill(std::begin(litFreq_), std::end(litFreq_), 0u);
  std::fill(std::begin(distFreq_), std::end(distFreq_), 0u);
}

int32_t Compressor::Run() {
  const uint8_t* s = src_;
  const uint32_t n = length_;
  StartBlock();
  uint32_t pos = 0;
  while (pos < n) {
    uint32_t matchLen = 0;
    uint32_t matchDist = 0;
    if (n - pos >= kMinMatch) {
      if (const uint32_t distance = Insert(pos)) matchLen = LongestMatch(pos, distance, &matchDist);
    }
    if (matchLen) {
      AddMatch(matchLen, matchDist);
      const uint32_t end = pos + matchLen;
      if (matchLen <= kMaxInsertLength && n - end >= kMinMatch) {
        for (uint32_t p = pos + 1; p < end; ++p) Insert(p);
      }
      pos = end;
    } else {
      AddLiteral(s[pos]);
      ++pos;
    }
    if (symbols_ == kFlushSymbols) {
      if (!FlushBlock(false, pos)) return 0;
      StartBlock();
    }
  }
  if (!FlushBlock(true, pos)) return 0;
  return written_ < capacity_ ? static_cast<int32_t>(written_) : 0;
}

// Lazy matching: the match found at a position is held back while the next position is searched; when
// that one starts a longer match, the held position goes out as a literal and the longer match is held
// instead. Every position is entered into the hash chains.
int32_t Compressor::RunLazy() {
  const uint8_t* s = src_;
  const uint32_t n = length_;
  StartBlock();
  uint32_t pos = 0;
  uint32_t covered = 0;      // the symbols so far stand for the bytes before this position
  bool held = false;         // the byte at pos - 1 is not sent yet
  uint32_t heldLen = 0;      // the match starting at pos - 1, 0 for none
  uint32_t heldDist = 0;
  while (pos < n) {
    uint32_t matchLen = 0;
    uint32_t matchDist = 0;
    if (n - pos >= kMinMatch) {
      const uint32_t distance = Insert(pos);
      if (distance && heldLen < kMaxLazy) {
        const int chain = heldLen >= kGoodLength ? kThoroughChain / 4 : kThoroughChain;
        matchLen = LongestMatch(pos, distance, &matchDist, chain, kThoroughNice, heldLen);
        if (matchLen == kMinMatch && matchDist > kTooFar) matchLen = 0;
      }
    }
    if (held && heldLen >= kMinMatch && matchLen <= heldLen) {
      // The held match wins: send it and enter the positions it covers.
      AddMatch(heldLen, heldDist);
      const uint32_t end = pos - 1 + heldLen;
      for (uint32_t p = pos + 1; p < end && n - p >= kMinMatch; ++p) Insert(p);
      pos = end;
      covered = end;
      held = false;
      heldLen = 0;
    } else {
      if (held) {
        AddLiteral(s[pos - 1]);
        covered = pos;
      }
      held = true;
      heldLen = matchLen;
      heldDist = matchDist;
      ++pos;
    }
    if (symbols_ == kFlushSymbols) {
      if (!FlushBlock(false, covered)) return 0;
      StartBlock();
    }
  }
  // A match held at the last position cannot exist: it would reach beyond the end.
  if (held) AddLiteral(s[n - 1]);
  if (!FlushBlock(true, n)) return 0;
  return written_ < capacity_ ? static_cast<int32_t>(written_) : 0;
}

void Compressor::WriteSymbols(const uint16_t* litCode, const uint8_t* litLen, const uint16_t* distCode,
                              const uint8_t* distLen) {
  // Per block: every literal and every match length as one ready bit string (code plus extra bits).
  uint32_t literalBits[256], lengthBits[256];
  uint8_t literalCount[256], lengthCount[256];
  for (uint32_t v = 0; v < 256; ++v) {
    literalBits[v] = litCode[v];
    literalCount[v] = litLen[v];
    const uint32_t code = kLengthCode[v];
    const uint32_t sym = kEndOfBlock + 1 + code;
    lengthBits[v] = litCode[sym] | ((v + kMinMatch - kLengthBase[code]) << litLen[sym]);
    lengthCount[v] = static_cast<uint8_t>(litLen[sym] + kLengthExtra[code]);
  }
  // The bit buffer is flushed whole bytes at a time after every symbol, so fewer than 8 bits stay
  // pending and a match (at most 48 bits) always fits.
  uint64_t bits = bitBuffer_;
  int count = bitCount_;
  uint8_t* out = out_;
  auto flush = [&] {
    Store64(out, bits);
    out += count >> 3;
    bits >>= count & ~7;
    count &= 7;
  };
  flush();
  for (int i = 0; i < symbols_; ++i) {
    const uint32_t value = lit_[i];
    const uint32_t distance = dist_[i];
    if (distance == 0) {
      bits |= uint64_t(literalBits[value]) << count;
      count += literalCount[value];
    } else {
      bits |= uint64_t(lengthBits[value]) << count;
      count += lengthCount[value];
      const uint32_t d0 = distance - 1;
      const uint32_t dc = DistCodeOf(d0);
      bits |= uint64_t(distCode[dc] | ((d0 + 1 - kDistBase[dc]) << distLen[dc])) << count;
      count += distLen[dc] + kDistExtra[dc];
    }
    flush();
  }
  bitBuffer_ = bits;
  bitCount_ = count;
  out_ = out;
  Put(litCode[kEndOfBlock], litLen[kEndOfBlock]);
}

void Compressor::WriteStored(bool final, uint32_t end) {
  uint32_t remaining = end - blockStart_;
  const uint8_t* p = src_ + blockStart_;
  do {
    const uint32_t chunk = std::min<uint32_t>(remaining, 65535);
    Put((final && chunk == remaining) ? 1 : 0, 3);  // BFINAL, BTYPE 00
    AlignToByte();
    out_[0] = static_cast<uint8_t>(chunk);
    out_[1] = static_cast<uint8_t>(chunk >> 8);
    out_[2] = static_cast<uint8_t>(~chunk);
    out_[3] = static_cast<uint8_t>(~chunk >> 8);
    std::memcpy(out_ + 4, p, chunk);
    out_ += 4 + chunk;
    p += chunk;
    remaining -= chunk;
  } while (remaining > 0);
}

bool Compressor::FlushBlock(bool final, uint32_t end) {
  litFreq_[kEndOfBlock] = 1;
  uint8_t litLen[kLitLenSymbols] = {};
  uint8_t distLen[kDistSymbols] = {};
  BuildCodeLengths(litFreq_, 286, kMaxBits, litLen);
  BuildCodeLengths(distFreq_, 30, kMaxBits, distLen);

  // Dynamic header: the code lengths, run-length coded.
  int hlit = 286;
  while (hlit > 257 && litLen[hlit - 1] == 0) --hlit;
  int hdist = 30;
  while (hdist > 1 && distLen[hdist - 1] == 0) --hdist;
  uint8_t all[286 + 30];
  std::memcpy(all, litLen, hlit);
  std::memcpy(all + hlit, distLen, hdist);
  CodeLengthTokens tokens;
  RunLengthCode(all, hlit + hdist, tokens);
  uint8_t clLen[19] = {};
  BuildCodeLengths(tokens.freq, 19, kMaxCodeLengthBits, clLen);
  int hclen = 19;
  while (hclen > 4 && clLen[kCodeLengthOrder[hclen - 1]] == 0) --hclen;

  uint64_t dynamicBits = 5 + 5 + 4 + 3 * hclen;
  for (int i = 0; i < tokens.count; ++i) dynamicBits += clLen[tokens.symbol[i]] + CodeLengthExtraBits(tokens.symbol[i]);
  uint64_t fixedBits = 0;
  const FixedCodes& fixed = Fixed();
  for (int s = 0; s < 286; ++s) {
    if (!litFreq_[s]) continue;
    const uint32_t extra = s > kEndOfBlock ? kLengthExtra[s - kEndOfBlock - 1] : 0;
    dynamicBits += uint64_t(litFreq_[s]) * (litLen[s] + extra);
    fixedBits += uint64_t(litFreq_[s]) * (fixed.litLen[s] + extra);
  }
  for (int d = 0; d < 30; ++d) {
    if (!distFreq_[d]) continue;
    dynamicBits += uint64_t(distFreq_[d]) * (distLen[d] + kDistExtra[d]);
    fixedBits += uint64_t(distFreq_[d]) * (kFixedDistLength + kDistExtra[d]);
  }
  const uint64_t dynamicBytes = (dynamicBits + 3 + 7) / 8;
  const uint64_t fixedBytes = (fixedBits + 3 + 7) / 8;
  const uint64_t best = std::min(dynamicBytes, fixedBytes);
  const uint64_t raw = end - blockStart_;

  if (raw + 4 <= best) {
    WriteStored(final, end);
  } else if (fixedBytes == best) {
    Put(final ? 3 : 2, 3);  // BFINAL, BTYPE 01
    WriteSymbols(fixed.litCode, fixed.litLen, fixed.distCode, fixed.distLen);
  } else {
    uint16_t litCode[kLitLenSymbols];
    uint16_t distCode[kDistSymbols];
    uint16_t clCode[19];
    CanonicalCodes(litLen, 286, litCode);
    CanonicalCodes(distLen, 30, distCode);
    CanonicalCodes(clLen, 19, clCode);
    Put(final ? 5 : 4, 3);  // BFINAL, BTYPE 10
    Put(hlit - 257, 5);
    Put(hdist - 1, 5);
    Put(hclen - 4, 4);
    for (int i = 0; i < hclen; ++i) Put(clLen[kCodeLengthOrder[i]], 3);
    for (int i = 0; i < tokens.count; ++i) {
      const uint8_t sym = tokens.symbol[i];
      Put(clCode[sym], clLen[sym]);
      if (sym >= 16) Put(tokens.extra[i], CodeLengthExtraBits(sym));
    }
    WriteSymbols(litCode, litLen, distCode, distLen);
  }
  if (final) AlignToByte();
  blockStart_ = end;

  const size_t bytes = static_cast<size_t>(out_ - pending_);
  if (written_ + static_cast<int64_t>(bytes) > capacity_) return false;
  std::memcpy(dst_ + written_, pending_, bytes);
  written_ += static_cast<int64_t>(bytes);
  out_ = pending_;
  return true;
}

}  // namespace

int32_t DeflateBuffer(const void* source, void* destination, int32_t sourceLength, int32_t destinationCapacity,
                      DeflateEffort effort) {
  if (sourceLength < 0 || destinationCapacity <= 0 || !destination || (!source && sourceLength > 0)) return 0;
  try {
    std::unique_ptr<Compressor> c(new (std::nothrow) Compressor(static_cast<const uint8_t*>(source),
                                                                 static_cast<uint32_t>(sourceLength),
                                                                 static_cast<uint8_t*>(destination),
                                                                 destinationCapacity));
    if (!c) return 0;
    return effort == DeflateEffort::kThorough ? c->RunLazy() : c->Run();
  } catch (...) {
    return 0;
  }
}

}  // namespace rvx
