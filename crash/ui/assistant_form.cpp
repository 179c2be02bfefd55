// Assistant pages and assistants: building a page from its description, the page's command logic while it
// is shown, and running the pages of an assistant one after the other.
#include <atomic>
#include <cstdio>

#include "crash/core/exception_record.h"
#include "crash/stack/fault_guard.h"
#include "crash/stack/text.h"
#include "crash/ui/assistant_handlers.h"
#include "crash/ui/assistant_model.h"
#include "crash/ui/assistant_reader.h"

namespace rvx {

namespace {
std::atomic<FormRunner> g_runner{nullptr};
std::atomic<AssistantMessageHook> g_messageHook{nullptr};

bool IsStandardButtonName(std::string_view name, int& index) {
  if (name == "ContinueBtn") index = kContinueIndex;
  else if (name == "SkipBtn") index = kSkipIndex;
  else if (name == "CancelBtn" || name == "AbortBtn") index = kCancelIndex;
  else return false;
  return true;
}

template <class I>
Ref<I> ItemAs(const TNVForm& form, std::string_view name, NVItemKind kind) {
  for (const Ref<TNVItem>& item : form.Items())
    if (item->Kind() == kind && item->Name() == name) return Query<I>(item.get());
  return nullptr;
}
}  // namespace

void SetFormRunner(FormRunner runner) { g_runner.store(runner); }
void SetAssistantMessageHook(AssistantMessageHook hook) { g_messageHook.store(hook); }
void AssistantMessage(const std::string& text) {
  if (AssistantMessageHook hook = g_messageHook.load()) hook(text);
  else assistant_platform::ShowMessage(text);
}

// ---- building -----------------------------------------------------------------------------------------

// Turns the objects of a description into the form's items and properties.
class FormBuilder final : public IFormDescriptionSink {
 public:
  explicit FormBuilder(TNVForm& form) : form_(form) {}

  void BeginObject(std::string_view className, std::string_view objectName) override {
    std::string cls(className);
    if (!cls.empty()) cls[0] = 'T';
    std::string name(objectName);
    Ref<TNVItem> item;
    int standard;
    if (cls == "TNVButton" && IsStandardButtonName(name, standard)) {
      targets_.push_back(form_.StandardButton(standard));
      return;
    }
    if (cls == "TNVButton") item = Ref<TNVItem>(new TNVButton(name));
    else if (cls == "TNVLabel") item = Ref<TNVItem>(new TNVLabel(name));
    else if (cls == "TNVEdit") item = Ref<TNVItem>(new TNVEdit(name));
    else if (cls == "TNVCheckBox") item = Ref<TNVItem>(new TNVCheckBox(name));
    else if (cls == "TNVImage") item = Ref<TNVItem>(new TNVImage(name));
    if (item) {
      form_.AddItem(item);
      targets_.push_back(item.get());
      return;
    }
    // any other object holds form properties; the first one names the form
    if (!form_.named_) {
      form_.name_ = name;
      form_.named_ = true;
    }
    targets_.push_back(nullptr);
  }

  void Property(std::string_view name, std::string_view value) override {
    if (targets_.empty()) return;
    if (TNVItem* item = targets_.back()) item->SetProperty(name, value);
    else form_.SetFormProperty(name, value);
  }

  void EndObject() override {
    if (!targets_.empty()) targets_.pop_back();
  }

 private:
  TNVForm& form_;
  std::vector<TNVItem*> targets_;  // null: the form itself
};

TNVForm::TNVForm() {
  AddItem(Ref<TNVItem>(new TNVButton("ContinueBtn", "Next >")));
  AddItem(Ref<TNVItem>(new TNVButton("SkipBtn", "Skip")));
  AddItem(Ref<TNVItem>(new TNVButton("CancelBtn", "Cancel")));
}

TNVForm::~TNVForm() { ClearItems(); }

void TNVForm::ClearItems() {
  // items may outlive the form through references handed out: they forget it and the ring
  for (Ref<TNVItem>& item : items_) {
    item->form_ = nullptr;
    item->previous_ = item->next_ = nullptr;
    item->window_ = nullptr;
  }
  items_.clear();
}

void TNVForm::ReadDescription(std::string_view data) {
  FormBuilder builder(*this);
  ReadFormDescription(data, builder, [](const std::string& text) { AssistantMessage(text); });
}

void TNVForm::SetFormProperty(std::string_view name, std::string_view value) {
  if (name == "Message") {
    message_ = std::string(value);
  } else if (name == "MinWidth") {
    minWidth_ = PropertyInt(value);
  } else if (name == "ActiveControl") {
    activeControl_ = std::string(value);
  } else if (name == "Timer") {
    timer_ = PropertyInt(value);
  } else if (name == "OnAction") {
    onAction_ = std::string(value);
    handler_ = ResolveActionHandler(value);
  }
}

void TNVForm::SetMessage(std::string_view message) {
  message_ = std::string(message);
}

void TNVForm::AddItem(Ref<TNVItem> item) {
  if (!item) return;
  item->form_ = this;
  item->index_ = static_cast<int>(items_.size());
  TNVItem* first = items_.empty() ? item.get() : items_.front().get();
  TNVItem* last = items_.empty() ? item.get() : items_.back().get();
  item->previous_ = last;
  item->next_ = first;
  last->next_ = item.get();
  first->previous_ = item.get();
  items_.push_back(std::move(item));
}

// ---- lookups ------------------------------------------------------------------------------------------

TNVItem* TNVForm::ItemAt(int index) const {
  return index >= 0 && index < static_cast<int>(items_.size()) ? items_[index].get() : nullptr;
}

TNVButton* TNVForm::StandardButton(int index) const { return static_cast<TNVButton*>(ItemAt(index)); }

TNVItem* TNVForm::FindItem(std::string_view name) const {
  for (const Ref<TNVItem>& item : items_)
    if (item->Name() == name) return item.get();
  return nullptr;
}

Ref<INVItem> TNVForm::Item(int index) { return Ref<INVItem>(ItemAt(index)); }
Ref<INVEdit> TNVForm::Edit(std::string_view name) { return ItemAs<INVEdit>(*this, name, NVItemKind::Edit); }
Ref<INVLabel> TNVForm::Label(std::string_view name) { return ItemAs<INVLabel>(*this, name, NVItemKind::Label); }
Ref<INVButton> TNVForm::Button(std::string_view name) { return ItemAs<INVButton>(*this, name, NVItemKind::Button); }
Ref<INVCheckBox> TNVForm::CheckBox(std::string_view name) {
  return ItemAs<INVCheckBox>(*this, name, NVItemKind::CheckBox);
}
Ref<INVImage> TNVForm::Image(std::string_view name) { return ItemAs<INVImage>(*this, name, NVItemKind::Image); }

Ref<IRVException> TNVForm::ExceptionRecord() { return record_; }
void TNVForm::SetExceptionRecord(Ref<IRVException> record) { record_ = std::move(record); }

// ---- actions ------------------------------------------------------------------------------------------

void TNVForm::Fire(int action, INVItem* item) {
  Ref<TNVForm> keep(this);  // a handler may drop the last outside reference
  IRVException* record = record_.get();
  if (NVActionHandler handler = handler_) FaultGuarded([&] { handler(this, action, item, record); });
  if (assistant_)
    if (NVActionHandler handler = assistant_->ActionHandler())
      FaultGuarded([&] { handler(this, action, item, record); });
}

// ---- command logic ------------------------------------------------------------------------------------

void TNVForm::AttachHost(INVFormHost* host, NVWindow window) {
  host_ = host;
  window_ = window;
  lastFocus = nullptr;
  capturedImage = nullptr;
}

void TNVForm::DetachHost() {
  host_ = nullptr;
  window_ = nullptr;
  lastFocus = nullptr;
  capturedImage = nullptr;
  for (Ref<TNVItem>& item : items_) item->window_ = nullptr;
}

bool TNVForm::PrepareToAppear() {
  Fire(nvaAboutToAppear, nullptr);
  if (!skipRequested_) return true;
  modalResult_ = nvmrSkip;
  return false;
}

void TNVForm::ContinueCheck() {
  TNVItem* continueButton = ItemAt(kContinueIndex);
  bool mayContinue = true;
  for (size_t i = kFirstContentIndex; i < items_.size() && mayContinue; ++i)
    mayContinue = items_[i]->MayContinue();
  continueButton->disabledByValidation_ = !mayContinue;
  if (host_ && continueButton->window_) host_->SetWindowEnabled(*continueButton, continueButton->WindowEnabled());
}

namespace {
bool FocusCandidate(TNVItem& item) {
  if (item.Kind() == NVItemKind::Label || item.Kind() == NVItemKind::Image) return false;
  if (item.Kind() == NVItemKind::Button && static_cast<TNVButton&>(item).Invisible()) return false;
  return item.Enabled() && item.TabStop() && item.WindowEnabled();
}
}  // namespace

TNVItem* TNVForm::FocusTarget(TNVItem* from, bool forward) const {
  if (!from) return nullptr;
  for (TNVItem* item = forward ? from->next_ : from->previous_; item && item != from;
       item = forward ? item->next_ : item->previous_)
    if (FocusCandidate(*item)) return item;
  return from;
}

TNVItem* TNVForm::FirstFocus() const {
  if (!activeControl_.empty())
    if (TNVItem* item = FindItem(activeControl_)) return item;
  TNVItem* cancel = ItemAt(kCancelIndex);
  TNVItem* target = FocusTarget(cancel, true);
  return target && FocusCandidate(*target) ? target : nullptr;
}

void TNVForm::Click(TNVItem& item) {
  if (item.form_ != this || !item.WindowEnabled()) return;
  Ref<TNVForm> keep(this);
  if (item.index_ < kFirstContentIndex && item.Kind() == NVItemKind::Button) {
    End(item.index_ == kContinueIndex ? nvmrContinue : item.index_ == kSkipIndex ? nvmrSkip : nvmrCancel);
    return;
  }
  if (item.Kind() == NVItemKind::CheckBox) {
    auto& box = static_cast<TNVCheckBox&>(item);
    box.SetChecked(!box.Checked());
  }
  Fire(nvaItemEvent, &item);
}

void TNVForm::ImageClicked(TNVImage& image) {
  if (image.Form() != this || !image.Clickable()) return;
  Fire(nvaItemEvent, &image);
}

void TNVForm::CloseRequest() {
  Ref<TNVForm> keep(this);
  if (host_) host_->StopTimer();
  modalResult_ = nvmrCancel;
  Fire(nvaClosed, nullptr);
  if (host_) host_->DestroyWindow();
}

void TNVForm::EditChanged(TNVEdit& edit) {
  Fire(nvaItemEvent, &edit);
  ContinueCheck();
}

void TNVForm::TimerTick() { Fire(nvaItemEvent, nullptr); }

void TNVForm::End(int result) {
  Ref<TNVForm> keep(this);
  if (host_) host_->StopTimer();
  modalResult_ = result;
  if (result == nvmrContinue)
    for (Ref<TNVItem>& item : items_)
      if (item->Kind() == NVItemKind::Edit) static_cast<TNVEdit&>(*item).KeepWindowText();
  Fire(nvaClosed, nullptr);
  if (host_) host_->DestroyWindow();
}

int TNVForm::ShowModal(NVWindow owner) {
  Ref<TNVForm> keep(this);
  if (skipRequested_) return modalResult_ = nvmrSkip;
  modalResult_ = nvmrNone;
  FormRunner runner = g_runner.load();
  int result = runner ? runner(*this, owner) : assistant_platform::RunFormWindow(*this, owner);
  if (result < nvmrContinue || result > nvmrCancel) result = nvmrCancel;
  return modalResult_ = result;
}

// ---- assistants ---------------------------------------------------------------------------------------

TNVAssistant::TNVAssistant(std::string title, Ref<IRVSettings> owner)
    : title_(std::move(title)), owner_(std::move(owner)) {}

TNVAssistant::~TNVAssistant() {
  for (Ref<TNVForm>& form : forms_) form->SetAssistant(nullptr);
}

void TNVAssistant::SetTitle(std::string_view title) {
  title_ = std::string(title);
  for (Ref<TNVForm>& form : forms_) form->SetTitle(title);
}

Ref<TNVForm> TNVAssistant::Form(int index) const {
  return index >= 0 && index < static_cast<int>(forms_.size()) ? forms_[index] : nullptr;
}

Ref<TNVForm> TNVAssistant::FormByName(std::string_view name) const {
  Ref<TNVForm> found;
  for (const Ref<TNVForm>& form : forms_)
    if (EqualTextCI(form->Name(), name)) found = form;
  return found;
}

Ref<IRVException> TNVAssistant::Record() const { return Query<IRVException>(owner_); }

void TNVAssistant::AddForm(Ref<TNVForm> form) {
  form->SetAssistant(this);
  form->SetTitle(title_);
  form->SetExceptionRecord(Record());
  forms_.push_back(std::move(form));
}

void TNVAssistant::SetSteps() {
  for (size_t i = 0; i < forms_.size(); ++i)
    forms_[i]->SetStep(static_cast<int>(i) + 1, static_cast<int>(forms_.size()));
}

int TNVAssistant::ShowModal(NVWindow owner) {
  Ref<TNVAssistant> keep(this);
  bool ownerWasEnabled = assistant_platform::DisableOwner(owner);
  int result = nvmrContinue;
  for (size_t i = 0; i < forms_.size(); ++i) {
    Ref<TNVForm> form = forms_[i];
    if (form->ShowModal(owner) == nvmrCancel) {
      result = nvmrCancel;
      break;
    }
  }
  if (ownerWasEnabled) assistant_platform::EnableOwner(owner);
  return modalResult_ = result;
}

// ---- what the settings ask of an assistant ------------------------------------------------------------

TNVItem* TNVAssistant::ItemOf(int form, int item) const {
  Ref<TNVForm> f = Form(form);
  return f ? f->ItemAt(item) : nullptr;
}

bool TNVAssistant::FormContinued(int form) {
  Ref<TNVForm> f = Form(form);
  return f && f->ModalResult() == nvmrContinue;
}

int TNVAssistant::ItemCount(int form) {
  Ref<TNVForm> f = Form(form);
  return f ? f->ItemCount() : 0;
}

AssistantItemKind TNVAssistant::ItemKind(int form, int item) {
  TNVItem* i = ItemOf(form, item);
  if (!i) return AssistantItemKind::Other;
  if (i->Kind() == NVItemKind::Edit) return AssistantItemKind::Edit;
  if (i->Kind() == NVItemKind::CheckBox) return AssistantItemKind::CheckBox;
  return AssistantItemKind::Other;
}

std::string TNVAssistant::ItemName(int form, int item) {
  TNVItem* i = ItemOf(form, item);
  return i ? i->Name() : std::string();
}

std::string TNVAssistant::ItemText(int form, int item) {
  TNVItem* i = ItemOf(form, item);
  return i && i->Kind() == NVItemKind::Edit ? static_cast<TNVEdit*>(i)->Text() : std::string();
}

void TNVAssistant::SetItemText(int form, int item, std::string_view text) {
  TNVItem* i = ItemOf(form, item);
  if (i && i->Kind() == NVItemKind::Edit) static_cast<TNVEdit*>(i)->SetText(text);
}

bool TNVAssistant::ItemChecked(int form, int item) {
  TNVItem* i = ItemOf(form, item);
  return i && i->Kind() == NVItemKind::CheckBox && static_cast<TNVCheckBox*>(i)->Checked();
}

void TNVAssistant::SetItemChecked(int form, int item, bool checked) {
  TNVItem* i = ItemOf(form, item);
  if (i && i->Kind() == NVItemKind::CheckBox) static_cast<TNVCheckBox*>(i)->SetChecked(checked);
}

bool TNVAssistant::ContinueEnabled(int form) {
  Ref<TNVForm> f = Form(form);
  if (!f) return false;
  f->ContinueCheck();
  return f->StandardButton(kContinueIndex)->WindowEnabled();
}

void TNVAssistant::ActivateContinue(int form) {
  if (Ref<TNVForm> f = Form(form)) f->SetActiveControl("ContinueBtn");
}

}  // namespace rvx
