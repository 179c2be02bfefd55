// A strict reader of the PNG files we write, for the tests: checks the signature, every chunk's CRC, the
// zlib wrapper and the Adler-32, and gives back the header, palette and unfiltered scanlines.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crash/delivery/deflate.h"
#include "crash/ui/png_encoder.h"

namespace rvx::test {

struct PngParts {
  std::vector<std::string> types;
  uint32_t width = 0, height = 0;
  int bitDepth = 0, colourType = 0;
  std::string palette, scanlines;
};

inline uint32_t BigEndian(const std::string& s, size_t at) {
  return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) << 24 | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 8 | static_cast<uint8_t>(s[at + 3]);
}

// Reads the file; `rowBytes` is the expected scanline length including the filter byte.
inline PngParts ReadPng(const std::string& png, size_t rowBytes) {
  PngParts parts;
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8));
  std::string idat;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t n = BigEndian(png, at);
    const std::string type = png.substr(at + 4, 4);
    const std::string data = png.substr(at + 8, n);
    EXPECT_EQ(BigEndian(png, at + 8 + n), Crc32Of(png.data() + at + 4, n + 4)) << type;
    parts.types.push_back(type);
    if (type == "IHDR") {
      parts.width = BigEndian(data, 0);
      parts.height = BigEndian(data, 4);
      parts.bitDepth = static_cast<uint8_t>(data[8]);
      parts.colourType = static_cast<uint8_t>(data[9]);
      EXPECT_EQ(data.substr(10), std::string(3, '\0'));
    } else if (type == "PLTE") {
      parts.palette = data;
    } else if (type == "IDAT") {
      idat = data;
    }
    at += 12 + n;
  }
  EXPECT_GE(idat.size(), 6u);
  if (idat.size() < 6) return parts;
  EXPECT_EQ(idat.substr(0, 2), std::string("\x78\x01", 2));
  parts.scanlines.resize(rowBytes * parts.height);
  EXPECT_EQ(InflateBuffer(idat.data() + 2, parts.scanlines.data(), static_cast<int32_t>(idat.size() - 6),
                          static_cast<int32_t>(parts.scanlines.size())),
            static_cast<int32_t>(parts.scanlines.size()));
  EXPECT_EQ(BigEndian(idat, idat.size() - 4), Adler32(parts.scanlines.data(), parts.scanlines.size()));
  return parts;
}

}  // namespace rvx::test
