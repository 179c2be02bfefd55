// Hand-made DNS replies for the tests: a header, the echoed question and records whose data the test
// writes byte by byte (so names can be compressed, cut short or made to loop).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rvxtest {

inline std::string U16(uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

// A name as length-prefixed labels with the final zero byte.
inline std::string Labels(std::string_view name) {
  std::string out;
  while (!name.empty()) {
    const size_t dot = name.find('.');
    const std::string_view label = name.substr(0, dot);
    out += static_cast<char>(label.size());
    out += label;
    name.remove_prefix(dot == std::string_view::npos ? name.size() : dot + 1);
  }
  return out + '\0';
}

inline std::string Pointer(uint16_t offset) { return U16(static_cast<uint16_t>(0xC000 | offset)); }

struct ReplyBuilder {
  uint16_t id = 0x4242;
  uint8_t flags2 = 0x81;  // response, recursion desired
  uint8_t flags3 = 0x80;  // recursion available, response code 0
  uint16_t answers = 0, authorities = 0;
  std::string question;   // labels + type + class
  std::string records;

  ReplyBuilder(std::string_view name, uint16_t type) { question = Labels(name) + U16(type) + U16(1); }
  // The offset of the question's name, for compression pointers.
  static constexpr uint16_t kQuestionName = 12;

  // One record; `owner` and `rdata` are written as given.
  ReplyBuilder& Record(bool authority, std::string owner, uint16_t type, std::string rdata) {
    (authority ? authorities : answers)++;
    records += owner + U16(type) + U16(1) + std::string("\0\0\x0e\x10", 4) + U16(static_cast<uint16_t>(rdata.size())) +
               rdata;
    return *this;
  }
  ReplyBuilder& Mx(uint16_t preference, std::string_view host) {
    return Record(false, Pointer(kQuestionName), 15, U16(preference) + Labels(host));
  }
  std::string Bytes() const {
    return U16(id) + static_cast<char>(flags2) + static_cast<char>(flags3) + U16(1) + U16(answers) +
           U16(authorities) + U16(0) + question + records;
  }
};

}  // namespace rvxtest
