// The assistant engine without a window system (host builds): pages cannot be shown, so running one closes
// it as cancelled; messages go to standard error; nothing is remembered between runs and no editor starts.
#ifndef _WIN32
#include <cstdio>

#include "crash/core/settings.h"
#include "crash/delivery/fields.h"
#include "crash/ui/assistant_handlers.h"
#include "crash/ui/assistant_model.h"

namespace rvx::assistant_platform {

int RunFormWindow(TNVForm& form, NVWindow) {
  if (!form.PrepareToAppear()) return nvmrSkip;
  form.CloseRequest();
  return nvmrCancel;
}

void ShowMessage(const std::string& text) { std::fprintf(stderr, "Ravex: %s\n", text.c_str()); }

bool DisableOwner(NVWindow) { return false; }
void EnableOwner(NVWindow) {}

namespace {
class NoContactStore final : public IContactStore {
 public:
  std::string Read(const char*) override { return {}; }
  void Write(const char*, std::string_view) override {}
  void Delete(const char*) override {}
};

class NoEditing final : public IScreenshotEditing {
 public:
  std::wstring TempFolder() override { return CrashTempFolder(ModuleFile(settings_platform::ProgramModule())); }
  bool SaveBmp(const TINVBitmap& picture, const std::wstring& file) override { return picture.SaveAsBmp(file); }
  INVBitmap LoadPicture(const std::wstring&) override { return nullptr; }
  std::optional<uint32_t> FileTime(const std::wstring&) override { return std::nullopt; }
  uintptr_t StartEditor(const std::wstring&) override { return 0; }
  bool EditorEnded(uintptr_t) override { return true; }
  void CloseEditor(uintptr_t) override {}
  void DeleteFile(const std::wstring& file) override { delivery_files::Delete(file); }
  void Beep() override {}
};
}  // namespace

IContactStore& PlatformContactStore() {
  static NoContactStore store;
  return store;
}

IScreenshotEditing& PlatformScreenshotEditing() {
  static NoEditing editing;
  return editing;
}

}  // namespace rvx::assistant_platform
#endif
