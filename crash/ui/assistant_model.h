// The assistant form engine's objects: an assistant (a titled sequence of pages run as one modal wizard),
// its pages (forms) and their items (buttons, labels, edits, check boxes, images), each a reference-counted
// object behind an interface. Pages are read from their stored descriptions; items keep their values when
// the page's window is gone, so what the user entered can be read after the assistant finished.
//
// The window side of a shown page (assistant_window_win.cpp) attaches itself to the page as its host; the
// page's command logic (clicks, close requests, text changes, the Continue check, focus order) lives here and
// tells the host what to change on screen.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crash/core/refobject.h"
#include "crash/core/settings.h"
#include "crash/ui/bitmap.h"

namespace rvx {

class IRVException;
class INVForm;
class INVItem;
class TNVAssistant;
class TNVForm;
class TNVItem;

using NVWindow = void*;

enum class NVItemKind { Button, Label, Edit, CheckBox, Image };
enum NVOutputType : int { nvoHeader = 0, nvoOwnSection = 1 };
enum NVModalResult : int { nvmrNone = 0, nvmrContinue = 1, nvmrSkip = 2, nvmrCancel = 3 };
enum NVAction : int { nvaCreated = 0, nvaAboutToAppear = 1, nvaClosed = 2, nvaItemEvent = 3 };
// Indexes of the standard buttons in every form's item list.
enum : int { kContinueIndex = 0, kSkipIndex = 1, kCancelIndex = 2, kFirstContentIndex = 3 };

using NVActionHandler = void (*)(INVForm* form, int action, INVItem* item, IRVException* record);

struct NVRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  friend bool operator==(const NVRect&, const NVRect&) = default;
};

// ---- interfaces ---------------------------------------------------------------------------------------

class INVItem : public virtual IRefCounted {
 public:
  virtual std::string Name() = 0;
  virtual NVWindow Window() = 0;
  virtual bool TabStop() = 0;
  virtual int Spacing() = 0;
  virtual bool Enabled() = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual void SetFocus() = 0;  // an edit also selects all its text
};

class INVButton : public virtual INVItem {
 public:
  virtual std::string Caption() = 0;
  virtual void SetCaption(std::string_view caption) = 0;
  virtual int MinWidth() = 0;
};

class INVLabel : public virtual INVItem {
 public:
  virtual std::string Caption() = 0;
  virtual void SetCaption(std::string_view caption) = 0;
};

class INVEdit : public virtual INVItem {
 public:
  virtual int Lines() = 0;
  virtual bool Optional() = 0;
  virtual std::string Text() = 0;
  virtual void SetText(std::string_view text) = 0;  // updates the window when different, fires the item event
  virtual bool Colored() = 0;
  virtual void SetColored(bool colored) = 0;
  virtual bool Valid() = 0;
  virtual void SetValid(bool valid) = 0;  // repaints and re-checks the Continue button
  virtual int OutputType() = 0;
  virtual void SetOutputType(int type) = 0;  // own section only for an edit of more than one line
  virtual std::string OutputName() = 0;
  virtual void SetOutputName(std::string_view name) = 0;
};

class INVCheckBox : public virtual INVItem {
 public:
  virtual std::string Caption() = 0;
  virtual void SetCaption(std::string_view caption) = 0;
  virtual bool Checked() = 0;
  virtual void SetChecked(bool checked) = 0;
  virtual std::string OutputName() = 0;
  virtual void SetOutputName(std::string_view name) = 0;
};

class INVImage : public virtual INVItem {
 public:
  virtual std::wstring File() = 0;
  virtual INVBitmap Picture() = 0;
  virtual void SetPicture(INVBitmap picture) = 0;
  virtual bool Clickable() = 0;
  virtual bool Border() = 0;
  virtual int Width() = 0;   // of the laid-out rectangle
  virtual int Height() = 0;
};

class INVForm : public virtual IRefCounted {
 public:
  virtual TNVAssistant* Assistant() = 0;
  virtual std::string Name() = 0;
  virtual std::string Title() = 0;
  virtual void SetTitle(std::string_view title) = 0;
  virtual std::string Message() = 0;
  virtual void SetMessage(std::string_view message) = 0;
  virtual int ItemCount() = 0;
  virtual Ref<INVItem> Item(int index) = 0;
  virtual Ref<INVButton> ContinueButton() = 0;
  virtual Ref<INVButton> SkipButton() = 0;
  virtual Ref<INVButton> CancelButton() = 0;
  virtual std::string ActiveControl() = 0;
  virtual void SetActiveControl(std::string_view name) = 0;
  virtual int TimerInterval() = 0;
  virtual NVWindow Window() = 0;
  virtual int ModalResult() = 0;
  virtual NVActionHandler ActionHandler() = 0;
  virtual void SetActionHandler(NVActionHandler handler) = 0;
  virtual Ref<INVEdit> Edit(std::string_view name) = 0;
  virtual Ref<INVLabel> Label(std::string_view name) = 0;
  virtual Ref<INVButton> Button(std::string_view name) = 0;
  virtual Ref<INVCheckBox> CheckBox(std::string_view name) = 0;
  virtual Ref<INVImage> Image(std::string_view name) = 0;
  virtual void Skip() = 0;
  virtual int ShowModal(NVWindow owner) = 0;
  virtual Ref<IRVException> ExceptionRecord() = 0;
  virtual void SetExceptionRecord(Ref<IRVException> record) = 0;
  virtual uintptr_t UserValue() = 0;
  virtual void SetUserValue(uintptr_t value) = 0;
};

// ---- the window side of a shown form ------------------------------------------------------------------

// What the command logic asks of the window while a form is shown.
class INVFormHost {
 public:
  virtual std::string WindowText(TNVItem& item) = 0;
  virtual void SetWindowText(TNVItem& item, std::string_view text) = 0;
  virtual void SetWindowEnabled(TNVItem& item, bool enabled) = 0;
  virtual void SetWindowChecked(TNVItem& item, bool checked) = 0;
  virtual void Focus(TNVItem& item) = 0;
  virtual void Repaint(TNVItem& item) = 0;
  virtual void StopTimer() = 0;
  virtual void DestroyWindow() = 0;  // the form window and every item window

 protected:
  ~INVFormHost() = default;
};

// ---- items --------------------------------------------------------------------------------------------

class TNVItem : public virtual INVItem {
 public:
  ~TNVItem() override = default;
  virtual NVItemKind Kind() const = 0;
  // One property of the stored description (unknown names are ignored).
  virtual void SetProperty(std::string_view name, std::string_view value);
  // Whether this item lets the form be continued.
  virtual bool MayContinue() { return true; }
  // The text shown for an item whose caption is empty.
  std::string ShownCaption(std::string_view caption) const { return caption.empty() ? name_ : std::string(caption); }

  std::string Name() override { return name_; }
  NVWindow Window() override { return window_; }
  bool TabStop() override { return tabStop_; }
  int Spacing() override { return spacing_; }
  bool Enabled() override { return enabled_; }
  void SetEnabled(bool enabled) override;
  void SetFocus() override;

  // Whether the window is enabled: enabled and not disabled by validation.
  bool WindowEnabled() const { return enabled_ && !disabledByValidation_; }
  TNVForm* Form() const { return form_; }
  int Index() const { return index_; }
  TNVItem* Next() const { return next_; }
  TNVItem* Previous() const { return previous_; }
  int ItemOutputType() const { return outputType_; }
  const std::string& ItemOutputName() const { return outputName_; }

  // Set by the window side.
  NVWindow window_ = nullptr;
  NVRect rect;  // on the form, after layout
  bool tabStop_ = false;
  bool disabledByValidation_ = false;

 protected:
  explicit TNVItem(std::string name) : name_(std::move(name)) {}
  INVFormHost* Host() const;

  std::string name_;
  bool enabled_ = true;
  int spacing_ = 0;
  int outputType_ = nvoHeader;
  std::string outputName_;

 private:
  friend class TNVForm;
  TNVForm* form_ = nullptr;  // cleared when the form goes
  TNVItem* previous_ = nullptr;
  TNVItem* next_ = nullptr;
  int index_ = -1;
};

class TNVButton final : public RefObject<INVButton>, public TNVItem {
 public:
  explicit TNVButton(std::string name, std::string caption = {}) : TNVItem(std::move(name)), caption_(std::move(caption)) {
    tabStop_ = true;
  }
  NVItemKind Kind() const override { return NVItemKind::Button; }
  void SetProperty(std::string_view name, std::string_view value) override;
  std::string Caption() override { return caption_; }
  void SetCaption(std::string_view caption) override;
  int MinWidth() override { return minWidth_; }
  bool NoOwnerDraw() const { return noOwnerDraw_; }
  bool Invisible() const { return invisible_; }

 private:
  std::string caption_;
  int minWidth_ = 0;
  bool noOwnerDraw_ = false;
  bool invisible_ = false;
};

class TNVLabel final : public RefObject<INVLabel>, public TNVItem {
 public:
  explicit TNVLabel(std::string name) : TNVItem(std::move(name)) {}
  NVItemKind Kind() const override { return NVItemKind::Label; }
  void SetProperty(std::string_view name, std::string_view value) override;
  std::string Caption() override { return caption_; }
  void SetCaption(std::string_view caption) override;

 private:
  std::string caption_;
};

class TNVEdit final : public RefObject<INVEdit>, public TNVItem {
 public:
  explicit TNVEdit(std::string name) : TNVItem(std::move(name)) { tabStop_ = true; }
  NVItemKind Kind() const override { return NVItemKind::Edit; }
  void SetProperty(std::string_view name, std::string_view value) override;
  bool MayContinue() override { return optional_ || (valid_ && !Text().empty()); }
  int Lines() override { return lines_; }
  bool Optional() override { return optional_; }
  std::string Text() override;
  void SetText(std::string_view text) override;
  bool Colored() override { return colored_; }
  void SetColored(bool colored) override;
  bool Valid() override { return valid_; }
  void SetValid(bool valid) override;
  int OutputType() override { return outputType_; }
  void SetOutputType(int type) override;
  std::string OutputName() override { return outputName_; }
  void SetOutputName(std::string_view name) override { outputName_ = std::string(name); }
  bool MultiLine() const { return lines_ > 1; }
  // The stored text, without asking the window.
  const std::string& StoredText() const { return text_; }
  // Continue: the window's text becomes the stored text and the window is forgotten.
  void KeepWindowText();

 private:
  int lines_ = 0;
  bool optional_ = false;
  bool colored_ = true;
  bool valid_ = true;
  std::string text_;
};

class TNVCheckBox final : public RefObject<INVCheckBox>, public TNVItem {
 public:
  explicit TNVCheckBox(std::string name) : TNVItem(std::move(name)) { tabStop_ = true; }
  NVItemKind Kind() const override { return NVItemKind::CheckBox; }
  void SetProperty(std::string_view name, std::string_view value) override;
  std::string Caption() override { return caption_; }
  void SetCaption(std::string_view caption) override;
  bool Checked() override { return checked_; }
  void SetChecked(bool checked) override;
  std::string OutputName() override { return outputName_; }
  void SetOutputName(std::string_view name) override { outputName_ = std::string(name); }

 private:
  std::string caption_;
  bool checked_ = false;
};

class TNVImage final : public RefObject<INVImage>, public TNVItem {
 public:
  explicit TNVImage(std::string name) : TNVItem(std::move(name)) {}
  NVItemKind Kind() const override { return NVItemKind::Image; }
  void SetProperty(std::string_view name, std::string_view value) override;
  std::wstring File() override { return file_; }
  INVBitmap Picture() override { return picture_; }
  void SetPicture(INVBitmap picture) override;
  bool Clickable() override { return clickable_; }
  bool Border() override { return border_; }
  int Width() override { return rect.Width(); }
  int Height() override { return rect.Height(); }
  int WantedWidth() const { return width_; }
  int WantedHeight() const { return height_; }
  // Space between the rectangle and the picture area, both directions together: 6 when clickable, 2 more
  // with a border.
  int FrameAllowance() const { return (clickable_ ? 6 : 0) + (border_ ? 2 : 0); }
  // Sets the picture without fitting it (layout fits it afterwards).
  void StorePicture(INVBitmap picture) { picture_ = std::move(picture); }
  bool laidOut = false;

 private:
  std::wstring file_;
  INVBitmap picture_;
  int width_ = 0, height_ = 0;
  bool clickable_ = false;
  bool border_ = false;
};

// ---- forms --------------------------------------------------------------------------------------------

class TNVForm final : public RefObject<INVForm> {
 public:
  // A form with the three standard buttons only.
  TNVForm();
  ~TNVForm() override;

  TNVAssistant* Assistant() override { return assistant_; }
  std::string Name() override { return name_; }
  std::string Title() override { return title_; }
  void SetTitle(std::string_view title) override { title_ = std::string(title); }
  std::string Message() override { return message_; }
  void SetMessage(std::string_view message) override;
  int ItemCount() override { return static_cast<int>(items_.size()); }
  Ref<INVItem> Item(int index) override;
  Ref<INVButton> ContinueButton() override { return Ref<INVButton>(StandardButton(kContinueIndex)); }
  Ref<INVButton> SkipButton() override { return Ref<INVButton>(StandardButton(kSkipIndex)); }
  Ref<INVButton> CancelButton() override { return Ref<INVButton>(StandardButton(kCancelIndex)); }
  std::string ActiveControl() override { return activeControl_; }
  void SetActiveControl(std::string_view name) override { activeControl_ = std::string(name); }
  int TimerInterval() override { return timer_; }
  NVWindow Window() override { return window_; }
  int ModalResult() override { return modalResult_; }
  NVActionHandler ActionHandler() override { return handler_; }
  void SetActionHandler(NVActionHandler handler) override { handler_ = handler; }
  Ref<INVEdit> Edit(std::string_view name) override;
  Ref<INVLabel> Label(std::string_view name) override;
  Ref<INVButton> Button(std::string_view name) override;
  Ref<INVCheckBox> CheckBox(std::string_view name) override;
  Ref<INVImage> Image(std::string_view name) override;
  void Skip() override { skipRequested_ = true; }
  int ShowModal(NVWindow owner) override;
  Ref<IRVException> ExceptionRecord() override;
  void SetExceptionRecord(Ref<IRVException> record) override;
  uintptr_t UserValue() override { return userValue_; }
  void SetUserValue(uintptr_t value) override { userValue_ = value; }

  // ---- building ----
  // Reads a stored description into this form (messages about bad data go to `message`).
  void ReadDescription(std::string_view data);
  void SetAssistant(TNVAssistant* assistant) { assistant_ = assistant; }
  void SetStep(int step, int count) {
    step_ = step;
    stepCount_ = count;
  }
  void SetFormProperty(std::string_view name, std::string_view value);
  // Appends an item (its index becomes its position) and links it into the ring.
  void AddItem(Ref<TNVItem> item);

  // ---- state ----
  int Step() const { return step_; }
  int StepCount() const { return stepCount_; }
  int MinWidth() const { return minWidth_; }
  std::string OnActionText() const { return onAction_; }
  bool SkipRequested() const { return skipRequested_; }
  TNVItem* ItemAt(int index) const;
  TNVButton* StandardButton(int index) const;
  TNVItem* FindItem(std::string_view name) const;  // exact name
  const std::vector<Ref<TNVItem>>& Items() const { return items_; }

  // ---- actions ----
  // Calls the form's handler, then the assistant-wide one; a handler's failure is contained.
  void Fire(int action, INVItem* item);

  // ---- the command logic of a shown form ----
  void AttachHost(INVFormHost* host, NVWindow window);
  void DetachHost();
  INVFormHost* Host() const { return host_; }
  // Fires "about to appear"; false when a handler asked to skip (the result is then Skip).
  bool PrepareToAppear();
  // Disables Continue by validation when a content item says the form may not be continued.
  void ContinueCheck();
  // Where the focus goes from `from`: the next (or previous) enabled tab stop with an enabled window in
  // ring order; `from` itself when the walk comes back to it.
  TNVItem* FocusTarget(TNVItem* from, bool forward) const;
  // The item that gets the focus first: the one named by ActiveControl, else the target after Cancel.
  TNVItem* FirstFocus() const;
  // A click (or Enter) on an item: check boxes toggle first; standard buttons end the form.
  void Click(TNVItem& item);
  // A click on a clickable image.
  void ImageClicked(TNVImage& image);
  // The title bar's close or Escape: the result becomes Cancel.
  void CloseRequest();
  // An edit's window text changed.
  void EditChanged(TNVEdit& edit);
  void TimerTick();
  // Ends the form with Continue, Skip or Cancel.
  void End(int result);

  NVWindow window_ = nullptr;  // while shown
  NVWindow lastFocus = nullptr;
  TNVImage* capturedImage = nullptr;
  int clientWidth = 0, clientHeight = 0;

 private:
  void ClearItems();

  TNVAssistant* assistant_ = nullptr;
  std::string name_;
  bool named_ = false;
  std::string title_;
  std::string message_;
  int step_ = 1, stepCount_ = 1;
  std::vector<Ref<TNVItem>> items_;
  NVActionHandler handler_ = nullptr;
  std::string onAction_;
  int minWidth_ = 0;
  std::string activeControl_;
  int timer_ = 0;
  int modalResult_ = nvmrNone;
  Ref<IRVException> record_;
  bool skipRequested_ = false;
  uintptr_t userValue_ = 0;
  INVFormHost* host_ = nullptr;

  friend class FormBuilder;
};

// ---- assistants ---------------------------------------------------------------------------------------

class TNVAssistant final : public RefObject<INVAssistant> {
 public:
  TNVAssistant(std::string title, Ref<IRVSettings> owner);
  ~TNVAssistant() override;

  std::string Title() const { return title_; }
  void SetTitle(std::string_view title);  // every form's title too
  int FormCount() override { return static_cast<int>(forms_.size()); }
  Ref<TNVForm> Form(int index) const;
  Ref<TNVForm> FormByName(std::string_view name) const;  // ignoring case; the last match wins
  int ModalResult() const { return modalResult_; }
  NVActionHandler ActionHandler() const { return handler_; }
  void SetActionHandler(NVActionHandler handler) { handler_ = handler; }
  // Runs the forms one after the other: 1 when all were continued or skipped, 3 when one was cancelled.
  int ShowModal(NVWindow owner) override;
  void PutIntoReport(IRVFields& header, IRVFields& sections) override;
  Ref<IRVSettings> Owner() const { return owner_; }
  Ref<IRVException> Record() const;

  // Appends a form: it gets the assistant, the title and the record (steps are given by SetSteps).
  void AddForm(Ref<TNVForm> form);
  void SetSteps();

  // What the settings ask of an assistant (form cache).
  bool FormContinued(int form) override;
  int ItemCount(int form) override;
  AssistantItemKind ItemKind(int form, int item) override;
  std::string ItemName(int form, int item) override;
  std::string ItemText(int form, int item) override;
  void SetItemText(int form, int item, std::string_view text) override;
  bool ItemChecked(int form, int item) override;
  void SetItemChecked(int form, int item, bool checked) override;
  bool ContinueEnabled(int form) override;
  void ActivateContinue(int form) override;

 private:
  TNVItem* ItemOf(int form, int item) const;

  std::string title_;
  Ref<IRVSettings> owner_;
  std::vector<Ref<TNVForm>> forms_;
  int modalResult_ = nvmrNone;
  NVActionHandler handler_ = nullptr;
};

// ---- seams --------------------------------------------------------------------------------------------

// Runs a shown form (window, modal loop) and returns its result. The platform's runner is used unless a
// runner is set (tests drive forms through it).
using FormRunner = int (*)(TNVForm& form, NVWindow owner);
void SetFormRunner(FormRunner runner);  // null restores the platform's

// Messages of the engine (a message box with caption "Ravex" on Windows). Replaceable; null restores.
using AssistantMessageHook = void (*)(const std::string& text);
void SetAssistantMessageHook(AssistantMessageHook hook);
void AssistantMessage(const std::string& text);

namespace assistant_platform {
int RunFormWindow(TNVForm& form, NVWindow owner);
void ShowMessage(const std::string& text);
// Owner window handling of an assistant run: disables (returns whether it was enabled) and re-enables.
bool DisableOwner(NVWindow owner);
void EnableOwner(NVWindow owner);
}  // namespace assistant_platform

}  // namespace rvx
