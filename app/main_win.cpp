// The contact editor program.
#include <windows.h>

#include "app/unit1.h"
#include "crash/core/hooks.h"
#include "crash/ui/crash_dialogs.h"
#include "framework/forms.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The crash reporter is armed before anything else exists, with its windows (assistants, progress window).
  rvx::RegisterCrashDialogs();
  rvx::StartCrashReporter();
  fw::TApplication application;
  rvx::InstallFrameworkHooks();
  fw::Application->Initialize();
  try {
    Form1 = fw::Application->CreateForm<TForm1>();
  } catch (...) {
    // Already reported by the application's exception handler; without its main window the program ends.
    return 1;
  }
  fw::Application->Run();
  return 0;
}
