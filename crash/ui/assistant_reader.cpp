// Reading assistant page descriptions; see assistant_reader.h.
#include "crash/ui/assistant_reader.h"

#include <charconv>
#include <cstring>

#include "crash/stack/text.h"

namespace rvx {

namespace {

// A bounded cursor over the description: every read checks what is left first.
class Cursor {
 public:
  explicit Cursor(std::string_view data) : data_(data) {}
  bool Byte(uint8_t& out) {
    if (pos_ >= data_.size()) return false;
    out = static_cast<uint8_t>(data_[pos_++]);
    return true;
  }
  bool Peek(uint8_t& out) const {
    if (pos_ >= data_.size()) return false;
    out = static_cast<uint8_t>(data_[pos_]);
    return true;
  }
  bool Bytes(size_t count, std::string_view& out) {
    if (count > data_.size() - pos_) return false;
    out = data_.substr(pos_, count);
    pos_ += count;
    return true;
  }
  bool ShortString(std::string_view& out) {
    uint8_t length;
    return Byte(length) && Bytes(length, out);
  }
  bool Int(size_t width, int32_t& out) {
    std::string_view raw;
    if (!Bytes(width, raw)) return false;
    uint32_t v = 0;
    for (size_t i = 0; i < width; ++i) v |= uint32_t{static_cast<uint8_t>(raw[i])} << (8 * i);
    if (width == 1) out = static_cast<int8_t>(v);
    else if (width == 2) out = static_cast<int16_t>(v);
    else out = static_cast<int32_t>(v);
    return true;
  }

 private:
  std::string_view data_;
  size_t pos_ = 0;
};

class Reader {
 public:
  Reader(std::string_view data, IFormDescriptionSink& sink, const FormReadMessage& message)
      : in_(data), sink_(sink), message_(message) {}

  FormReadResult Run() {
    std::string_view signature;
    if (!in_.Bytes(4, signature) || signature != "TPF0") return FormReadResult::NoSignature;
    return Object(1);
  }

 private:
  FormReadResult Object(int level) {
    if (level > kMaxFormNesting) return FormReadResult::TooDeep;
    std::string_view className, objectName;
    if (!in_.ShortString(className) || !in_.ShortString(objectName)) return FormReadResult::Truncated;
    sink_.BeginObject(className, objectName);
    FormReadResult r = Body(level);
    sink_.EndObject();
    return r;
  }

  FormReadResult Body(int level) {
    // properties up to a zero byte
    for (;;) {
      uint8_t length;
      if (!in_.Byte(length)) return FormReadResult::Truncated;
      if (length == 0) break;
      std::string_view name;
      if (!in_.Bytes(length, name)) return FormReadResult::Truncated;
      FormReadResult r = Value(name);
      if (r != FormReadResult::Complete) return r;
    }
    // children up to a zero byte
    for (;;) {
      uint8_t length;
      if (!in_.Peek(length)) return FormReadResult::Truncated;
      if (length == 0) {
        in_.Byte(length);
        return FormReadResult::Complete;
      }
      FormReadResult r = Object(level + 1);
      if (r != FormReadResult::Complete) return r;
    }
  }

  FormReadResult Value(std::string_view name) {
    uint8_t type;
    if (!in_.Byte(type)) return FormReadResult::Truncated;
    int32_t number = 0;
    std::string_view text;
    switch (type) {
      case 2:
      case 3:
      case 4:
        if (!in_.Int(type == 2 ? 1 : type == 3 ? 2 : 4, number)) return FormReadResult::Truncated;
        sink_.Property(name, DecimalText(number));
        return FormReadResult::Complete;
      case 6:
      case 7:
        if (!in_.ShortString(text)) return FormReadResult::Truncated;
        sink_.Property(name, text);
        return FormReadResult::Complete;
      case 8:
        sink_.Property(name, "0");
        return FormReadResult::Complete;
      case 9:
        sink_.Property(name, "1");
        return FormReadResult::Complete;
      case 12: {
        int32_t length;
        if (!in_.Int(4, length)) return FormReadResult::Truncated;
        // the length is unsigned on disk; whatever it says, no more than the data holds is taken
        if (!in_.Bytes(static_cast<uint32_t>(length), text)) return FormReadResult::Truncated;
        sink_.Property(name, text);
        return FormReadResult::Complete;
      }
      default:
        if (message_) message_(InvalidAssistantResourceText(type));
        return FormReadResult::InvalidType;
    }
  }

  Cursor in_;
  IFormDescriptionSink& sink_;
  const FormReadMessage& message_;
};

}  // namespace

FormReadResult ReadFormDescription(std::string_view data, IFormDescriptionSink& sink, const FormReadMessage& message) {
  return Reader(data, sink, message).Run();
}

std::string InvalidAssistantResourceText(uint8_t typeByte) {
  return "Internal error: Invalid assistant resource (" + HexText(typeByte) + ").";
}

bool PropertyBool(std::string_view text) {
  return text == "1" || EqualTextCI(text, "yes") || EqualTextCI(text, "true");
}

int32_t PropertyInt(std::string_view text) {
  // one sign at most; from_chars itself takes only the minus
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text[0] == '-') return 0;
  }
  int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

}  // namespace rvx
