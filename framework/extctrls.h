// A panel: a plain area in the form's colour that holds other controls, optionally kept at its parent's
// bottom edge.
#pragma once
#include <windows.h>

#include "framework/controls.h"

namespace fw {

class TPanel : public TCustomControl {
 public:
  explicit TPanel(TComponent* owner);
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;
  bool AlignBottom() const { return alignBottom_; }

 protected:
  void Paint() override;

 private:
  bool alignBottom_ = false;
};

}  // namespace fw
