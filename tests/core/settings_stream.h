// Builds settings resources (component streams) for tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rvxtest {

class SettingsStream {
 public:
  explicit SettingsStream(std::string_view cls = "ZAvedo", std::string_view obj = "Ravex") {
    data_ = "TPF0";
    Short(cls);
    Short(obj);
  }
  SettingsStream& Bool(std::string_view name, bool v) { return Name(name).Byte(v ? 9 : 8); }
  SettingsStream& Int(std::string_view name, int32_t v) {
    Name(name);
    if (v >= -128 && v <= 127) return Byte(2).Le(static_cast<uint32_t>(v), 1);
    if (v >= -32768 && v <= 32767) return Byte(3).Le(static_cast<uint32_t>(v), 2);
    return Byte(4).Le(static_cast<uint32_t>(v), 4);
  }
  SettingsStream& Text(std::string_view name, std::string_view v) {
    Name(name);
    if (v.size() < 256) {
      Byte(6);
      Short(v);
      return *this;
    }
    Byte(12).Le(static_cast<uint32_t>(v.size()), 4);
    data_ += v;
    return *this;
  }
  SettingsStream& Wide(std::string_view name, std::u16string_view v) {
    Name(name).Byte(18).Le(static_cast<uint32_t>(v.size()), 4);
    for (char16_t c : v) Le(c, 2);
    return *this;
  }
  SettingsStream& Utf8(std::string_view name, std::string_view v) {
    Name(name).Byte(20).Le(static_cast<uint32_t>(v.size()), 4);
    data_ += v;
    return *this;
  }
  SettingsStream& Raw(std::string_view bytes) {
    data_ += bytes;
    return *this;
  }
  std::string End() const { return data_ + std::string(2, '\0'); }
  const std::string& Partial() const { return data_; }

  SettingsStream& Name(std::string_view name) {
    Short(name);
    return *this;
  }
  SettingsStream& Byte(uint8_t b) {
    data_ += static_cast<char>(b);
    return *this;
  }

 private:
  SettingsStream& Le(uint32_t v, int n) {
    for (int i = 0; i < n; ++i) data_ += static_cast<char>(v >> (8 * i));
    return *this;
  }
  void Short(std::string_view s) {
    data_ += static_cast<char>(s.size());
    data_ += s;
  }
  std::string data_;
};

}  // namespace rvxtest
