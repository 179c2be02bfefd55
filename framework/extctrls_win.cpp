#include "framework/extctrls.h"

#include "framework/exceptions.h"

namespace fw {

TPanel::TPanel(TComponent* owner) : TCustomControl(owner) {
  width_ = 185;
  height_ = 41;
}

void TPanel::Paint() {
  Canvas().Brush().color = Color();
  Canvas().FillRect(ClientRect());
}

bool TPanel::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "Align") {
    if (v.type != ValueType::Ident) throw EReadError("Invalid property value");
    alignBottom_ = v.text == "alBottom";
  } else if (name == "BevelOuter" || name == "BevelInner" || name == "BorderStyle") {
    return true;
  } else {
    return TCustomControl::ReadProperty(name, v, reader);
  }
  return true;
}

}  // namespace fw
