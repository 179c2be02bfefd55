#include "framework/stdctrls.h"

#include "framework/exceptions.h"

namespace fw {

TEdit::TEdit(TComponent* owner) : TWinControl(owner) {
  width_ = 121;
  height_ = 21;
  tabStop_ = true;
  color_ = clWindow;
  parentColor_ = false;
}

void TEdit::CreateParamsFor(CreateParams& p) {
  TWinControl::CreateParamsFor(p);
  p.windowClass = "EDIT";
  p.style |= ES_AUTOHSCROLL | ES_LEFT;
  p.style &= ~WS_CLIPCHILDREN;
  if (readOnly_) p.style |= ES_READONLY;
  p.exStyle |= WS_EX_CLIENTEDGE;
}

void TEdit::AfterCreateHandle() {
  if (maxLength_ > 0) SendMessageA(handle_, EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
}

std::string TEdit::Text() {
  if (!HandleAllocated()) return caption_;
  int n = GetWindowTextLengthA(handle_);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  GetWindowTextA(handle_, s.data(), n + 1);
  s.resize(static_cast<size_t>(n));
  return s;
}

void TEdit::SetReadOnly(bool value) {
  readOnly_ = value;
  if (HandleAllocated()) SendMessageA(handle_, EM_SETREADONLY, value ? TRUE : FALSE, 0);
}

void TEdit::SetMaxLength(int length) {
  maxLength_ = length;
  if (HandleAllocated()) SendMessageA(handle_, EM_LIMITTEXT, static_cast<WPARAM>(length), 0);
}

void TEdit::WndProc(TMessage& m) {
  if (m.msg == CN_COMMAND) {
    if (HIWORD(m.wParam) == EN_CHANGE) {
      caption_ = Text();
      if (OnChange) OnChange(this);
    }
    return;
  }
  TWinControl::WndProc(m);
}

bool TEdit::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "ReadOnly") SetReadOnly(BoolValue(v));
  else if (name == "MaxLength") SetMaxLength(static_cast<int>(IntegerValue(v)));
  else if (name == "OnChange") {
    OnChange = EventMethod(v, reader);
  } else return TWinControl::ReadProperty(name, v, reader);
  return true;
}

TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner) {
  width_ = 97;
  height_ = 17;
  tabStop_ = true;
}

void TCheckBox::CreateParamsFor(CreateParams& p) {
  TWinControl::CreateParamsFor(p);
  p.windowClass = "BUTTON";
  p.style |= BS_AUTOCHECKBOX | WS_TABSTOP;
  p.style &= ~WS_CLIPCHILDREN;
}

bool TCheckBox::Checked() const {
  if (!handle_) return checked_;
  return SendMessageA(handle_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool c) {
  checked_ = c;
  if (handle_) SendMessageA(handle_, BM_SETCHECK, c ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::WndProc(TMessage& m) {
  if (m.msg == CN_COMMAND) {
    if (HIWORD(m.wParam) == BN_CLICKED) {
      checked_ = Checked();
      Click();
    }
    return;
  }
  TWinControl::WndProc(m);
}

bool TCheckBox::ReadProperty(std::string_view name, const Value& v, TReader& reader) {
  if (name == "Checked") SetChecked(BoolValue(v));
  else if (name == "Anchors" || name == "State") return true;
  else return TWinControl::ReadProperty(name, v, reader);
  return true;
}

}  // namespace fw
