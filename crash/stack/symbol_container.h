// The binary symbol container: the form in which a program carries its symbol data (resource "RVX"/"EXCEPT")
// and in which ".rvx" files beside a module hold it. A fixed identifying text, the payload length, the format
// version (2 or 3), two identification values, a flags word (bit 0: minimal data), then the enciphered payload:
// a checked string (see deflate.h) that unpacks to the segment, public and line lists.
//
// Reading and writing live together so that the key and the stream layout cannot drift apart.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crash/stack/map_build.h"
#include "crash/stack/map_file.h"

namespace rvx {

inline constexpr std::string_view kContainerMagic{"RVXSYMBOLDATA\x1a\r\n", 16};
inline constexpr uint32_t kContainerFlagMinimal = 1;

struct ContainerHeader {
  uint32_t payloadLength = 0;
  uint32_t version = 0;
  uint32_t idA = 0, idB = 0;
  uint32_t flags = 0;
  size_t payloadOffset = 0;  // where the enciphered payload starts in the container
};

// Checks the identifying text, the version and that the payload lies inside the bytes.
bool ReadContainerHeader(std::string_view bytes, ContainerHeader& out);

// The payload key, built from the payload length.
std::string ContainerKey(uint32_t payloadLength);

// Deciphers and unpacks the payload; empty when anything is damaged.
std::string UnpackContainerPayload(std::string_view bytes, const ContainerHeader& header);

// Reads the unpacked stream into map (which has its bases set); minimal names the units "segment%N" and
// the publics "public%N". True when all three lists were read.
bool ReadContainerStream(std::string_view stream, bool minimal, const ModuleBases& bases, TMapFile& map);

// The whole container: header, payload, stream. minimalOut tells whether the data was minimal.
bool ReadContainer(std::string_view bytes, const ModuleBases& bases, TMapFile& map, bool* minimalOut = nullptr);

// The fingerprint of a container file: "$llllllll, $aaaaaaaa, $bbbbbbbb" (file length and the two values).
std::string ContainerFingerprint(uint32_t fileLength, uint32_t idA, uint32_t idB);

// ---- writing (the build tool) ----

struct ContainerSegment {
  uint32_t start = 0;  // relative to base of code
  uint32_t length = 0;
  std::string unit;
  bool hasLineNumbers = false;
};
struct ContainerPublic {
  uint32_t address = 0;  // relative to base of code
  std::string name;
};
struct ContainerLine {
  uint32_t line = 0;
  uint32_t address = 0;  // relative to base of code
};
struct ContainerContent {
  std::vector<ContainerSegment> segments;  // sorted by start
  std::vector<ContainerPublic> publics;    // sorted by address
  std::vector<ContainerLine> lines;        // sorted by address
  bool hasEntryPoint = false;
  uint32_t entryPoint = 0;  // relative to base of code
};

// The unpacked stream; minimal leaves out names and line items and keeps a line-number flag per segment.
std::string WriteContainerStream(const ContainerContent& content, bool minimal);
// The complete container (version 2 or 3). Empty when packing fails.
std::string WriteContainer(const ContainerContent& content, bool minimal, uint32_t idA, uint32_t idB,
                           uint32_t version = 3);

}  // namespace rvx
