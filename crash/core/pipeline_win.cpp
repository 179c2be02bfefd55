// The pipeline on Windows: the pipe and the handling thread, waiting with a message loop on the main thread,
// console output, the plain message box, the emergency memory, the temporary folder, ending and restarting.
#include <windows.h>

#include <atomic>
#include <string>

#include "crash/core/freeze.h"
#include "crash/core/pipeline.h"
#include "crash/core/shared_objects.h"
#include "crash/stack/fault_guard.h"
#include "crash/stack/text.h"

namespace rvx {

namespace {
HANDLE g_readPipe = nullptr, g_writePipe = nullptr;
HANDLE g_thread = nullptr;
std::atomic<uint32_t> g_threadId{0};
void* g_reserved[4] = {};
void* g_committed[4] = {};
std::atomic<bool> g_emergencyHeld{false};

DWORD WINAPI HandlingThreadMain(void*) {
  g_threadId = GetCurrentThreadId();
  TIRVException::SetHandlingThreadId(GetCurrentThreadId());
  for (;;) {
    THandlingRequest rq;
    DWORD got = 0, total = 0;
    bool ok = true;
    while (total < sizeof rq) {
      if (!ReadFile(g_readPipe, reinterpret_cast<char*>(&rq) + total, sizeof rq - total, &got, nullptr) || got == 0) {
        ok = false;
        break;
      }
      total += got;
    }
    if (!ok || rq.event == 0) break;
    // Whatever fails inside, the raising thread is released.
    FaultGuarded([&] { HandleRequest(rq); });
    SetEvent(reinterpret_cast<HANDLE>(rq.event));
    PostThreadMessageA(static_cast<DWORD>(rq.callingThreadId), WM_NULL, 0, 0);
  }
  return 0;
}

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH], program[MAX_PATH];
  if (!GetTempPathW(MAX_PATH, temp) || !GetModuleFileNameW(nullptr, program, MAX_PATH)) return {};
  std::wstring name = program;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  return std::wstring(temp) + name + L".Ravex";
}

}  // namespace

bool StartHandlingThread() {
  if (g_thread) return true;
  if (!CreatePipe(&g_readPipe, &g_writePipe, nullptr, 0)) return false;
  DWORD id = 0;
  g_thread = CreateThread(nullptr, 0, HandlingThreadMain, nullptr, CREATE_SUSPENDED, &id);
  if (!g_thread) return false;
  g_threadId = id;
  TIRVException::SetHandlingThreadId(id);
  RegisterThreadName(id, "Ravex - HandleExceptionThread");
  SetThreadPriority(g_thread, THREAD_PRIORITY_HIGHEST);
  ResumeThread(g_thread);
  return true;
}

void StopHandlingThread() {
  if (!g_thread) return;
  ResumeThread(g_thread);
  THandlingRequest rq{};
  DWORD written;
  if (!rvx::ProcessBlocked(0)) WriteFile(g_writePipe, &rq, sizeof rq, &written, nullptr);
  CloseHandle(g_writePipe);
  WaitForSingleObject(g_thread, 500);
  CloseHandle(g_readPipe);
  if (WaitForSingleObject(g_thread, 50) == WAIT_TIMEOUT) TerminateThread(g_thread, 0);
  UpdateThreadEntry(g_threadId, "");
  CloseHandle(g_thread);
  g_thread = nullptr;
  g_threadId = 0;
}

uint32_t HandlingThreadId() { return g_threadId.load(); }

namespace pipeline_platform {

bool IsConsoleProgram() {
  static int console = -1;
  if (console < 0) {
    auto base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    console = nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI ? 1 : 0;
  }
  return console == 1;
}

void WriteStdOut(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written;
  if (out && out != INVALID_HANDLE_VALUE) WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void PlainMessageBox(IRVException* record) {
  std::string title = record->TitleBar();
  std::string text = record->ExceptType() == kExceptFreeze ? record->FrozenMsg() : record->ExceptMessage();
  MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

int64_t NowSeconds1601() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 10000000ULL);
}

void ReleaseEmergencyMemory() {
  if (!g_emergencyHeld.exchange(false)) return;
  for (auto& p : g_reserved)
    if (p) VirtualFree(std::exchange(p, nullptr), 0, MEM_RELEASE);
  for (auto& p : g_committed)
    if (p) VirtualFree(std::exchange(p, nullptr), 0, MEM_RELEASE);
}

void TakeEmergencyMemory() {
  if (g_emergencyHeld.exchange(true)) return;
  for (auto& p : g_reserved) p = VirtualAlloc(nullptr, 4 << 20, MEM_RESERVE, PAGE_NOACCESS);
  for (auto& p : g_committed) p = VirtualAlloc(nullptr, 512 << 10, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
}

void RemoveTempFolder() {
  std::wstring folder = TempFolder();
  if (folder.empty()) return;
  WIN32_FIND_DATAW f;
  HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &f);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder + L"\\" + f.cFileName).c_str());
    } while (FindNextFileW(h, &f));
    FindClose(h);
  }
  RemoveDirectoryW(folder.c_str());
}

void WaitForSendThread(void* thread) {
  // Without a limit: the sending may be waiting for the user in the mail client's dialog.
  WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
  CloseHandle(static_cast<HANDLE>(thread));
}

void CopyToClipboard(const std::string& text) {
  if (!OpenClipboard(nullptr)) return;
  EmptyClipboard();
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (g) {
    memcpy(GlobalLock(g), text.c_str(), text.size() + 1);
    GlobalUnlock(g);
    if (!SetClipboardData(CF_TEXT, g)) GlobalFree(g);
  }
  CloseClipboard();
}

void EndProgram(IRVException*) {
  // Ends at once: the other threads may hold locks that an orderly exit would wait for.
  TerminateProcess(GetCurrentProcess(), 1);
  ExitProcess(1);
}

bool HandOverToNewInstance(void* process, uint32_t processId) {
  std::string name = RestartHandOverName(processId);
  SetLastError(0);  // tells a new object from an existing one below
  HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(TRestartHandOver), name.c_str());
  if (!map) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {  // made by someone else: nothing of ours goes into it
    CloseHandle(map);
    return false;
  }
  bool written = false;
  if (auto* h = static_cast<TRestartHandOver*>(MapSharedView(map, sizeof(TRestartHandOver), true))) {
    h->oldProcessId = GetCurrentProcessId();
    HANDLE dup = nullptr;
    written = DuplicateHandle(GetCurrentProcess(), map, static_cast<HANDLE>(process), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS);
    h->handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(dup));
    for (int i = 0; i < 10; ++i) h->history[i] = ExceptionTimes()[i];
    h->marker = kRestartMarker;
    h->newProcessId = processId;
    UnmapViewOfFile(h);
  }
  // The new instance's copy of the handle keeps the mapping alive.
  CloseHandle(map);
  return written;
}

void RestartProgram(IRVException* record) {
  // The new instance inherits no handles: the only one it gets is the hand-over's, duplicated into it.
  PROCESS_INFORMATION pi{};
  bool started;
  if (GetVersion() & 0x80000000u) {  // the Windows 9x family has only the narrow variant
    STARTUPINFOA si{};
    si.cb = sizeof si;
    std::string cmd = GetCommandLineA();
    started = CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi);
  } else {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring cmd = GetCommandLineW();
    started = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi);
  }
  if (started) {
    HandOverToNewInstance(pi.hProcess, pi.dwProcessId);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  (void)record;
  TerminateProcess(GetCurrentProcess(), 2);
  ExitProcess(2);
}

bool SendRequest(THandlingRequest& rq, bool keepMessageLoop) {
  if (!g_thread) return false;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!event) return false;
  rq.event = reinterpret_cast<uintptr_t>(event);
  DWORD written = 0;
  if (!WriteFile(g_writePipe, &rq, sizeof rq, &written, nullptr) || written != sizeof rq) {
    CloseHandle(event);
    return true;  // not handled, and nobody waits
  }
  if (keepMessageLoop) {
    bool quit = false;
    int quitCode = 0;
    while (WaitForSingleObject(event, 0) == WAIT_TIMEOUT) {
      MSG msg;
      if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT);
        continue;
      }
      if (msg.message == WM_QUIT) {
        quit = true;
        quitCode = static_cast<int>(msg.wParam);
        WaitForSingleObject(event, INFINITE);
        break;
      }
      // The program's own code runs here: what it catches are its own hidden exceptions.
      SetOwnThread(false);
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
      SetOwnThread(true);
    }
    if (quit) PostQuitMessage(quitCode);
  } else {
    WaitForSingleObject(event, INFINITE);
  }
  CloseHandle(event);
  return true;
}

bool ProcessBlocked() { return rvx::ProcessBlocked(250); }

ModuleHandle ModuleOfAddress(uintptr_t address) {
  MEMORY_BASIC_INFORMATION m;
  if (!address || VirtualQuery(reinterpret_cast<void*>(address), &m, sizeof m) != sizeof m) return 0;
  return reinterpret_cast<ModuleHandle>(m.AllocationBase);
}

}  // namespace pipeline_platform
}  // namespace rvx
