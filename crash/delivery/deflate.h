// Compression unit of the crash reporter: raw deflate streams (RFC 1951) in both directions, the checked
// string format of the symbol data, and CRC-32. Self-contained: nothing here needs more than memory.
//
// None of these functions throws: every failure (bad arguments, damaged data, no memory) gives 0 or an
// empty string. All state is per call, so they may run on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rvx {

// How hard the compressor looks for matches.
//  - kStandard: the configuration archives and checked strings are written with: 32 KiB window, greedy
//    matching over hash chains of 8 candidates, matches of 16 bytes end the search.
//  - kThorough: for picture data, where a few percent of size are worth a few milliseconds: lazy matching
//    (a match is kept only when the next position does not start a longer one) over chains of up to 128
//    candidates (32 once a match of 8 is in hand), matches of 128 bytes end the search, and a 3-byte match
//    farther than 4096 bytes back is sent as literals.
enum class DeflateEffort { kStandard, kThorough };

// Compresses the whole source into one raw deflate stream whose last block carries the final-block bit.
// Returns the number of bytes written, or 0 when the stream does not fit: a stream that would fill the
// destination exactly also gives 0, so size it with DeflateCapacity().
int32_t DeflateBuffer(const void* source, void* destination, int32_t sourceLength, int32_t destinationCapacity,
                      DeflateEffort effort = DeflateEffort::kStandard);

// The destination size every caller gives DeflateBuffer: length * 11 / 10 + 12.
constexpr int64_t DeflateCapacity(int64_t sourceLength) { return sourceLength * 11 / 10 + 12; }

// Decodes a raw deflate stream into a destination of known size. Returns destinationLength only when the
// whole source was consumed, no data error occurred (the stream ended or simply ran out of input) and
// exactly destinationLength bytes came out; otherwise 0.
int32_t InflateBuffer(const void* source, void* destination, int32_t sourceLength, int32_t destinationLength);
// The same test for any length, also 0 (the stream of an empty file): true when the source unpacks to
// exactly destinationLength bytes.
bool InflateExact(const void* source, int32_t sourceLength, void* destination, int32_t destinationLength);

// Unpacks a checked string: uncompressed length (4 bytes), 4 unused bytes, the standard CRC-32 of the
// uncompressed data (4 bytes), then raw deflate data; all little-endian. Empty for any kind of damage.
std::string InflateCheckedString(std::string_view packed);

// Builds a checked string from data (the unused field is 0); empty when compression fails.
std::string PackCheckedString(std::string_view data);

// CRC-32 of the reflected polynomial 0xEDB88320 without pre- or post-inversion: start with 0xFFFFFFFF and
// invert the result for the standard value. A length of 0 or below leaves crc unchanged.
uint32_t Crc32Update(uint32_t crc, const void* buffer, int32_t length);

// The standard CRC-32 of a buffer of any size (start 0xFFFFFFFF, result inverted).
uint32_t Crc32Of(const void* buffer, size_t length);
inline uint32_t Crc32Of(std::string_view data) { return Crc32Of(data.data(), data.size()); }

}  // namespace rvx
