// Huffman code construction for the compressor: length-limited code lengths and the run-length coding of
// a dynamic block's code lengths.
#pragma once

#include <cstdint>

namespace rvx::deflate {

// Code lengths for the symbols 0..count-1 of the given frequencies (count <= 288), no code longer than
// maxBits. Symbols of frequency 0 get length 0; when fewer than two symbols occur, dummy symbols are added
// so that at least two get a code, which keeps every code set complete.
void BuildCodeLengths(const uint32_t* freq, int count, int maxBits, uint8_t* lengths);

// A dynamic block's code lengths as symbols of the code-length alphabet (0..15 literal lengths, 16 repeat
// the previous length 3..6 times, 17 and 18 runs of zeros of 3..10 and 11..138) with their extra values.
struct CodeLengthTokens {
  int count = 0;
  uint8_t symbol[288 + 32];
  uint8_t extra[288 + 32];
  uint32_t freq[19] = {};
};
void RunLengthCode(const uint8_t* lengths, int count, CodeLengthTokens& tokens);

constexpr int CodeLengthExtraBits(int symbol) { return symbol == 16 ? 2 : symbol == 17 ? 3 : symbol == 18 ? 7 : 0; }

}  // namespace rvx::deflate
