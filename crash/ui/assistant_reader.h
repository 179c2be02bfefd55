// The reader of an assistant page's stored description: a component stream ("TPF0") read object by object
// and property by property, each value turned into text before it is handed on. Only the value types a page
// uses are understood; any other stops reading with a message, and what was read up to then stays. Reading
// never goes past the data: a description cut short simply ends there.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace rvx {

// Receives what the reader finds, in stream order: an object begins (its properties and then its children
// follow), a property of the innermost open object, the end of an object.
class IFormDescriptionSink {
 public:
  virtual void BeginObject(std::string_view className, std::string_view objectName) = 0;
  virtual void Property(std::string_view name, std::string_view value) = 0;
  virtual void EndObject() = 0;

 protected:
  ~IFormDescriptionSink() = default;
};

enum class FormReadResult {
  NoSignature,   // the data does not start with "TPF0": nothing was read
  Complete,      // the whole root object was read
  Truncated,     // the data ended inside an object
  InvalidType,   // a value of a type the reader does not know stopped reading
  TooDeep,       // objects nested deeper than kMaxFormNesting stopped reading
};

// Deepest nesting of objects that is read (the root object is level 1).
constexpr int kMaxFormNesting = 32;

// Called with the message text when a value type is not understood.
using FormReadMessage = std::function<void(const std::string& text)>;

// Reads a description. Objects that were begun are always ended, also when reading stops early.
FormReadResult ReadFormDescription(std::string_view data, IFormDescriptionSink& sink,
                                   const FormReadMessage& message = {});

// "Internal error: Invalid assistant resource ($5)." for the type byte 5.
std::string InvalidAssistantResourceText(uint8_t typeByte);

// Text conversions of property values: a boolean is true for "yes" or "true" in any case or exactly "1";
// an integer is the decimal value, 0 when the text is not a (32-bit) number.
bool PropertyBool(std::string_view text);
int32_t PropertyInt(std::string_view text);

}  // namespace rvx
