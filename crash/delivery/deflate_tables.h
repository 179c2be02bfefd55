// Constants of the deflate format shared by the compressor and the decompressor.
#pragma once

#include <cstdint>
#include <cstring>

namespace rvx::deflate {

constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;
constexpr int kWindowSize = 32768;
constexpr int kMaxBits = 15;          // longest literal/length or distance code
constexpr int kMaxCodeLengthBits = 7; // longest code of the code-length alphabet
constexpr int kLitLenSymbols = 288;   // including the two that must never occur
constexpr int kDistSymbols = 32;      // including the two that must never occur
constexpr int kEndOfBlock = 256;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which the lengths of the code-length alphabet are stored.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Lengths of the fixed literal/length code (block type 01); every fixed distance code has 5 bits.
constexpr uint8_t FixedLitLenLength(int symbol) {
  return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
}
constexpr uint8_t kFixedDistLength = 5;

// Reverses the low `length` bits of code (deflate sends Huffman codes most significant bit first).
constexpr uint32_t ReverseBits(uint32_t code, int length) {
  uint32_t r = 0;
  for (int i = 0; i < length; ++i) {
    r = (r << 1) | (code & 1);
    code >>= 1;
  }
  return r;
}

// Canonical codes (already bit-reversed) for the given lengths; symbols of length 0 get no code.
inline void CanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes) {
  uint16_t lengthCount[kMaxBits + 1] = {};
  for (int i = 0; i < count; ++i) ++lengthCount[lengths[i]];
  lengthCount[0] = 0;
  uint32_t next[kMaxBits + 1] = {};
  uint32_t code = 0;
  for (int bits = 1; bits <= kMaxBits; ++bits) {
    code = (code + lengthCount[bits - 1]) << 1;
    next[bits] = code;
  }
  for (int i = 0; i < count; ++i)
    codes[i] = lengths[i] ? static_cast<uint16_t>(ReverseBits(next[lengths[i]]++, lengths[i])) : 0;
}

inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

}  // namespace rvx::deflate
