// Shared pieces of the assistant tests: a writer of page descriptions, fixed text measurements, and
// stand-ins for the registry and the screenshot editor.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings_stream.h"
#include "crash/ui/assistant_handlers.h"
#include "crash/ui/assistant_layout.h"

namespace rvxtest {

// A page description: the root object's properties, then child objects, each with its properties.
class FormStream {
 public:
  explicit FormStream(std::string_view cls = "TRVTestForm", std::string_view name = "TestForm") : s_(cls, name) {}
  FormStream& Child(std::string_view cls, std::string_view name) {
    if (!inChildren_) s_.Byte(0);  // end of the root's properties
    if (inChild_) s_.Byte(0).Byte(0);
    inChildren_ = inChild_ = true;
    s_.Name(cls).Name(name);
    return *this;
  }
  FormStream& Text(std::string_view name, std::string_view v) { return s_.Text(name, v), *this; }
  FormStream& Ident(std::string_view name, std::string_view v) {
    s_.Name(name).Byte(7).Name(v);
    return *this;
  }
  FormStream& Int(std::string_view name, int32_t v) { return s_.Int(name, v), *this; }
  FormStream& Bool(std::string_view name, bool v) { return s_.Bool(name, v), *this; }
  FormStream& Raw(std::string_view bytes) { return s_.Raw(bytes), *this; }
  std::string End() const {
    std::string d = s_.Partial();
    if (!inChildren_) return d + std::string(2, '\0');
    if (inChild_) d += std::string(2, '\0');
    return d + std::string(1, '\0');
  }

 private:
  SettingsStream s_;
  bool inChildren_ = false, inChild_ = false;
};

// Every character 6 pixels wide in the form font, 8 in Arial 15 and 9 in bold Arial 15; lines 13 and 17
// pixels high. Wrapping breaks between words.
class FixedMeasure final : public rvx::INVTextMeasure {
 public:
  static int CharWidth(rvx::NVFont f) {
    return f == rvx::NVFont::Tahoma11 ? 6 : f == rvx::NVFont::Arial15 ? 8 : 9;
  }
  static int LineHeight(rvx::NVFont f) { return f == rvx::NVFont::Tahoma11 ? 13 : 17; }
  rvx::NVTextSize Measure(rvx::NVFont f, std::string_view text) override {
    return {static_cast<int>(text.size()) * CharWidth(f), LineHeight(f)};
  }
  rvx::NVTextSize MeasureWrapped(rvx::NVFont f, std::string_view text, int width) override {
    int cw = CharWidth(f), widest = 0, lines = 1, line = 0;
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find(' ', pos);
      if (end == std::string_view::npos) end = text.size();
      int word = static_cast<int>(end - pos) * cw;
      int with = line ? line + cw + word : word;
      if (line && with > width) {
        ++lines;
        line = word;
      } else {
        line = with;
      }
      widest = std::max(widest, line);
      pos = end + 1;
    }
    return {widest, lines * LineHeight(f)};
  }
};

class MemoryContactStore final : public rvx::IContactStore {
 public:
  std::string Read(const char* value) override {
    auto it = values.find(value);
    return it == values.end() ? std::string() : it->second;
  }
  void Write(const char* value, std::string_view text) override { values[value] = std::string(text); }
  void Delete(const char* value) override { values.erase(value); }
  std::map<std::string, std::string> values;
};

}  // namespace rvxtest
