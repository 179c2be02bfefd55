// The built-in action handlers of assistant pages and the resolution of OnAction texts.
#include "crash/ui/assistant_handlers.h"

#include <atomic>

#include "crash/core/exception_record.h"
#include "crash/delivery/fields.h"
#include "crash/stack/text.h"

namespace rvx {

namespace assistant_platform {
IContactStore& PlatformContactStore();
IScreenshotEditing& PlatformScreenshotEditing();
}  // namespace assistant_platform

namespace {
std::atomic<ActionHandlerLookup> g_lookup{nullptr};
std::atomic<IContactStore*> g_contactStore{nullptr};
std::atomic<IScreenshotEditing*> g_editing{nullptr};
}  // namespace

// ---- resolution ---------------------------------------------------------------------------------------

void SetActionHandlerLookup(ActionHandlerLookup lookup) { g_lookup.store(lookup); }

NVActionHandler ResolveActionHandler(std::string_view text) {
  if (EqualTextCI(text, "Ravex.HandleContactForm")) return HandleContactForm;
  if (EqualTextCI(text, "Ravex.HandleScreenshotForm")) return HandleScreenshotForm;
  ActionHandlerLookup lookup = g_lookup.load();
  if (!lookup || text.empty()) return nullptr;
  size_t dot = text.find('.');
  if (dot == std::string_view::npos) return lookup({}, text);
  return lookup(text.substr(0, dot), text.substr(dot + 1));
}

// ---- e-mail check -------------------------------------------------------------------------------------

bool IsAcceptedEmail(std::string_view a) {
  if (a.empty() || static_cast<uint8_t>(a.front()) <= 32 || static_cast<uint8_t>(a.back()) <= 32) return false;
  size_t at = a.find('@');
  if (at == std::string_view::npos || at == 0 || a.find('@', at + 1) != std::string_view::npos) return false;
  if (a.find('.', at + 1) == std::string_view::npos) return false;
  if (a.front() == '.' || a.back() == '.' || (at + 1 < a.size() && a[at + 1] == '.')) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (i == at) continue;
    bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '\'' ||
                   c == '+' || c == '-' || c == '_' || c == '.';
    if (!allowed) return false;
  }
  return true;
}

// ---- contact data -------------------------------------------------------------------------------------

void SetContactStore(IContactStore* store) { g_contactStore.store(store); }

IContactStore& ContactStore() {
  IContactStore* store = g_contactStore.load();
  return store ? *store : assistant_platform::PlatformContactStore();
}

std::string RegistryValueText(std::string_view bytes, bool isString) {
  if (!isString) return std::string(bytes);
  size_t zero = bytes.find('\0');
  return std::string(bytes.substr(0, zero));
}

void HandleContactForm(INVForm* form, int action, INVItem* item, IRVException* record) {
  if (!form) return;
  Ref<INVEdit> name = form->Edit("NameEdit");
  Ref<INVEdit> email = form->Edit("EmailEdit");
  Ref<INVCheckBox> remember = form->CheckBox("MemCheck");
  IContactStore& store = ContactStore();
  switch (action) {
    case nvaCreated: {
      std::string rememberedName = store.Read(kRememberName);
      std::string rememberedEmail = store.Read(kRememberEmail);
      if (rememberedName.empty() && rememberedEmail.empty()) return;
      if (name) name->SetText(rememberedName);
      if (email) email->SetText(rememberedEmail);
      if (remember) remember->SetChecked(true);
      if (auto* f = dynamic_cast<TNVForm*>(form)) {
        f->ContinueCheck();
        if (f->StandardButton(kContinueIndex)->WindowEnabled()) f->SetActiveControl("ContinueBtn");
      }
      return;
    }
    case nvaClosed: {
      if (form->ModalResult() != nvmrContinue) return;
      std::string nameText = name ? name->Text() : std::string();
      std::string emailText = email ? email->Text() : std::string();
      if (remember) {
        if (remember->Checked()) {
          store.Write(kRememberName, nameText);
          store.Write(kRememberEmail, emailText);
        } else {
          store.Delete(kRememberName);
          store.Delete(kRememberEmail);
        }
      }
      if (record && !nameText.empty()) record->SetMailFrom(nameText + " <" + emailText + ">");
      return;
    }
    case nvaItemEvent:
      if (item && email && item == static_cast<INVItem*>(email.get())) email->SetValid(IsAcceptedEmail(email->Text()));
      return;
    default:
      return;
  }
}

// ---- screenshot page ----------------------------------------------------------------------------------

void SetScreenshotEditing(IScreenshotEditing* editing) { g_editing.store(editing); }

IScreenshotEditing& ScreenshotEditing() {
  IScreenshotEditing* editing = g_editing.load();
  return editing ? *editing : assistant_platform::PlatformScreenshotEditing();
}

namespace {
void EndScreenshotEdit(INVForm& form, IScreenshotEditing& sys) {
  auto* edit = reinterpret_cast<TScreenshotEdit*>(form.UserValue());
  if (!edit) return;
  form.SetUserValue(0);
  if (edit->editor) sys.CloseEditor(edit->editor);
  sys.DeleteFile(edit->file);
  delete edit;
}

void EditScreenshot(INVForm& form, IRVException& record, IScreenshotEditing& sys) {
  auto* edit = reinterpret_cast<TScreenshotEdit*>(form.UserValue());
  if (!edit) {
    std::wstring folder = sys.TempFolder();
    INVBitmap shot = PictureOf(record.ScreenShot());
    if (folder.empty() || !shot) return;
    std::wstring file = folder + kPathSeparator + L"screenShot.bmp";
    // without the file there is nothing to edit
    if (!sys.SaveBmp(*shot, file)) {
      sys.Beep();
      return;
    }
    edit = new TScreenshotEdit;
    edit->file = file;
    edit->fileTime = sys.FileTime(file).value_or(0);
    form.SetUserValue(reinterpret_cast<uintptr_t>(edit));
  }
  if (edit->editor && sys.EditorEnded(edit->editor)) {
    sys.CloseEditor(edit->editor);
    edit->editor = 0;
  }
  if (!edit->editor) {
    edit->editor = sys.StartEditor(edit->file);
    if (!edit->editor) sys.Beep();
  }
}

void RereadScreenshot(INVForm& form, IRVException& record, IScreenshotEditing& sys) {
  auto* edit = reinterpret_cast<TScreenshotEdit*>(form.UserValue());
  if (!edit) return;
  std::optional<uint32_t> time = sys.FileTime(edit->file);
  if (!time || *time == edit->fileTime) return;
  // a file the editor is still writing does not load; the next tick tries again
  INVBitmap picture = sys.LoadPicture(edit->file);
  if (!picture) return;
  edit->fileTime = *time;
  record.SetScreenShot(MakePictureObject(picture));
  if (Ref<INVImage> image = form.Image("ScrShotImg")) image->SetPicture(picture);
}
}  // namespace

void HandleScreenshotForm(INVForm* form, int action, INVItem* item, IRVException* record) {
  if (!form || !record) return;
  IScreenshotEditing& sys = ScreenshotEditing();
  Ref<INVImage> image = form->Image("ScrShotImg");
  Ref<INVCheckBox> attach = form->CheckBox("AttachCheck");
  switch (action) {
    case nvaCreated:
      if (image) image->SetPicture(PictureOf(record->ScreenShot()));
      if (attach) attach->SetChecked(record->AppendScreenShot());
      return;
    case nvaItemEvent:
      if (!item) {
        RereadScreenshot(*form, *record, sys);
      } else if (auto* clicked = dynamic_cast<INVImage*>(item); clicked && clicked->Clickable() && clicked->Picture()) {
        EditScreenshot(*form, *record, sys);
      }
      return;
    case nvaClosed:
      EndScreenshotEdit(*form, sys);
      if (attach) record->SetAppendScreenShot(attach->Checked());
      return;
    default:
      return;
  }
}

}  // namespace rvx
