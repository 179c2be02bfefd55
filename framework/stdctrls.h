// Standard controls: the edit control (one line of text, optionally read-only) and the check box.
#pragma once
#include <windows.h>

#include <string>

#include "framework/controls.h"
#include "framework/typinfo.h"

namespace fw {

class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* owner);
  std::string Text();
  void SetText(const std::string& text) { SetCaption(text); }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value);
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int length);

  TNotifyEvent OnChange;
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;

 protected:
  void CreateParamsFor(CreateParams& params) override;
  void AfterCreateHandle() override;
  void WndProc(TMessage& m) override;

 private:
  bool readOnly_ = false;
  int maxLength_ = 0;
};

class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(TComponent* owner);
  bool Checked() const;
  void SetChecked(bool c);
  bool ReadProperty(std::string_view name, const Value& value, TReader& reader) override;

 protected:
  void CreateParamsFor(CreateParams& params) override;
  void WndProc(TMessage& m) override;

 private:
  bool checked_ = false;
};

inline ClassRegistration<TEdit> registerEditClass{"TEdit"};
inline BoolPropRegistration<TEdit> registerEditReadOnly{"ReadOnly", &TEdit::ReadOnly, &TEdit::SetReadOnly};

}  // namespace fw
