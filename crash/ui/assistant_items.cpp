// The items of an assistant page: their stored properties and what changing them does to a shown page.
#include "crash/stack/text.h"
#include "crash/ui/assistant_model.h"
#include "crash/ui/assistant_reader.h"

namespace rvx {

// ---- every item ---------------------------------------------------------------------------------------

INVFormHost* TNVItem::Host() const { return form_ ? form_->Host() : nullptr; }

void TNVItem::SetProperty(std::string_view name, std::string_view value) {
  if (name == "Spacing") spacing_ = PropertyInt(value);
  else if (name == "Enabled") enabled_ = PropertyBool(value);
  else if (name == "OutputType") outputType_ = PosTextCI("ownSection", value) ? nvoOwnSection : nvoHeader;
  else if (name == "OutputName") outputName_ = std::string(value);
}

void TNVItem::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (INVFormHost* host = Host(); host && window_) host->SetWindowEnabled(*this, WindowEnabled());
}

void TNVItem::SetFocus() {
  if (INVFormHost* host = Host(); host && window_) host->Focus(*this);
}

// ---- buttons ------------------------------------------------------------------------------------------

void TNVButton::SetProperty(std::string_view name, std::string_view value) {
  if (name == "Caption") caption_ = std::string(value);
  else if (name == "MinWidth") minWidth_ = PropertyInt(value);
  else if (name == "NoOwnerDraw") noOwnerDraw_ = PropertyBool(value);
  else if (name == "Visible") invisible_ = !PropertyBool(value);
  else TNVItem::SetProperty(name, value);
}

void TNVButton::SetCaption(std::string_view caption) {
  caption_ = std::string(caption);
  if (INVFormHost* host = Host(); host && window_) host->SetWindowText(*this, ShownCaption(caption_));
}

// ---- labels -------------------------------------------------------------------------------------------

void TNVLabel::SetProperty(std::string_view name, std::string_view value) {
  if (name == "Caption") caption_ = std::string(value);
  else TNVItem::SetProperty(name, value);
}

void TNVLabel::SetCaption(std::string_view caption) {
  caption_ = std::string(caption);
  if (INVFormHost* host = Host(); host && window_) host->SetWindowText(*this, ShownCaption(caption_));
}

// ---- edits --------------------------------------------------------------------------------------------

void TNVEdit::SetProperty(std::string_view name, std::string_view value) {
  if (name == "Text") {
    text_ = std::string(value);
    ReplaceText(text_, "%lf%", "\r\n", true);
  } else if (name == "Lines") {
    lines_ = PropertyInt(value);
  } else if (name == "Optional") {
    optional_ = PropertyBool(value);
  } else if (name == "Colored") {
    colored_ = PropertyBool(value);
  } else if (name == "Valid") {
    valid_ = PropertyBool(value);
  } else {
    TNVItem::SetProperty(name, value);
  }
}

std::string TNVEdit::Text() {
  if (INVFormHost* host = Host(); host && window_) return host->WindowText(*this);
  return text_;
}

void TNVEdit::SetText(std::string_view text) {
  INVFormHost* host = Host();
  if (host && window_) {
    // the window reports its own change (which fires the item event) when it takes the text
    if (host->WindowText(*this) != text) host->SetWindowText(*this, text);
    return;
  }
  if (text_ == text) return;
  text_ = std::string(text);
  if (TNVForm* form = Form()) form->EditChanged(*this);
}

void TNVEdit::KeepWindowText() {
  if (INVFormHost* host = Host(); host && window_) text_ = host->WindowText(*this);
  window_ = nullptr;
}

void TNVEdit::SetColored(bool colored) {
  colored_ = colored;
  if (INVFormHost* host = Host(); host && window_) host->Repaint(*this);
}

void TNVEdit::SetValid(bool valid) {
  valid_ = valid;
  if (INVFormHost* host = Host(); host && window_) host->Repaint(*this);
  if (TNVForm* form = Form()) form->ContinueCheck();
}

void TNVEdit::SetOutputType(int type) {
  if (type == nvoOwnSection && !MultiLine()) type = nvoHeader;
  outputType_ = type == nvoOwnSection ? nvoOwnSection : nvoHeader;
}

// ---- check boxes --------------------------------------------------------------------------------------

void TNVCheckBox::SetProperty(std::string_view name, std::string_view value) {
  if (name == "Caption" || name == "Text") caption_ = std::string(value);
  else if (name == "Checked") checked_ = PropertyBool(value);
  else TNVItem::SetProperty(name, value);
}

void TNVCheckBox::SetCaption(std::string_view caption) {
  caption_ = std::string(caption);
  if (INVFormHost* host = Host(); host && window_) host->SetWindowText(*this, caption_);
}

void TNVCheckBox::SetChecked(bool checked) {
  checked_ = checked;
  if (INVFormHost* host = Host(); host && window_) {
    host->SetWindowChecked(*this, checked);
    host->Repaint(*this);
  }
}

// ---- images -------------------------------------------------------------------------------------------

void TNVImage::SetProperty(std::string_view name, std::string_view value) {
  if (name == "Width") width_ = PropertyInt(value);
  else if (name == "Height") height_ = PropertyInt(value);
  else if (name == "File") file_ = AnsiToWide(value);
  else if (name == "Clickable") clickable_ = PropertyBool(value);
  else if (name == "Border") border_ = PropertyBool(value);
  else TNVItem::SetProperty(name, value);
}

void TNVImage::SetPicture(INVBitmap picture) {
  if (picture && laidOut) {
    // a laid-out image keeps its area: a picture that does not fit is zoomed into it
    int areaW = rect.Width() - FrameAllowance(), areaH = rect.Height() - FrameAllowance();
    if (areaW > 0 && areaH > 0 && (picture->Width() > areaW || picture->Height() > areaH))
      if (INVBitmap zoomed = picture->Zoom(areaW, areaH)) picture = std::move(zoomed);
  }
  picture_ = std::move(picture);
  if (INVFormHost* host = Host(); host && laidOut) host->Repaint(*this);
}

}  // namespace rvx
