// Arming the crash reporter and the interception points through which every exception of the process
// reaches the pipeline; the patching primitives with their patch records; the program file checksum.
//
// How the interception points map onto C++ built with MinGW-w64 (GCC, DWARF unwinding, no SEH frames):
//   raise routine (per-thread record of the last raise)  -> the linker wraps __cxa_throw: every C++ throw
//                                                            records its object, type, call site, EBP, ESP
//   last-chance dispatcher, C++ exception nobody caught  -> std::set_terminate handler (libstdc++ marks the
//                                                            exception caught before calling it): source 13
//   OS exception nobody caught (no C++ object)           -> SetUnhandledExceptionFilter: source 14 with the
//                                                            standard text for the code, cannot continue
//   application object: handle / show exception          -> the two virtual slots of fw::TApplication are
//                                                            patched (framework_hooks_win.cpp): sources 5, 4
//   runtime error (abort, pure virtual call, invalid      -> SIGABRT handler, wrapped __cxa_pure_virtual,
//   parameter)                                              msvcrt's invalid-parameter handler: source 11
//   thread creation, work items                          -> CreateThread and QueueUserWorkItem replaced in
//                                                            the import tables of every loaded module; the
//                                                            wrappers catch C++ exceptions; faults and
//                                                            terminate calls in a wrapped thread: source 16
//   libraries loaded after start-up                      -> LoadLibraryA/W and LoadLibraryExA/W replaced in
//                                                            the import tables; after a load every module
//                                                            gets the same import replacements
//                                                            (module_load_hooks_win.cpp)
//   framework thread objects (fw::TThread)               -> recognised among thread parameters by their class
//                                                            chain; the class's virtual execute slot points at
//                                                            a stub that calls the execute wrapper: source 17
//                                                            (thread_object_hooks_win.cpp)
//   framework utility: show exception message            -> a jump at the start of fw::ShowExceptionMessage:
//                                                            source 3 (framework_hooks_win.cpp)
//   hidden exceptions (the end of the program's own      -> the linker wraps __cxa_end_catch: when the end of
//   handler frees the exception object)                     a catch block frees the object (its last handler,
//                                                            not thrown again, no exception_ptr keeps it) and
//                                                            hidden-exception handlers are registered, it is
//                                                            handled as a hidden exception (type 2, source 15)
//                                                            unless it was reported already or a thread of
//                                                            the crash reporter caught it
//   the debugger's thread-naming exception (0x406D1388)  -> a vectored exception handler names the thread in
//                                                            the thread list and lets the raising code go on
//   synchronised calls                                   -> the call in fw::TApplication::CheckSynchronize
//                                                            that takes a failed call's exception over for the
//                                                            waiting thread (fw::TakeOverSyncException) is
//                                                            redirected (PatchRelativeCall): an EAbort still
//                                                            goes to the waiting thread, any other exception
//                                                            is handled with source 10 and the waiting call
//                                                            returns without it
//   package loader, web entry points                     -> not present in this program
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <typeinfo>
#include <vector>

#include "crash/stack/memory_reader.h"

namespace rvx {

// Arms the crash reporter for the calling program (the first thing its main routine does) when its
// settings say Enabled; disarms and undoes every patch at the end of the process. Raises an RvxException
// when the crash reporter lives in a library whose file fails the checksum check.
bool StartCrashReporter();
void StopCrashReporter();
bool CrashReporterArmed();

// What a restarted instance took over from the old one at start.
struct TRestartInfo {
  bool restarted = false;
  uint32_t oldProcessId = 0;
  uint32_t handle = 0;  // the handed-over handle, closed at start
};
const TRestartInfo& RestartInfo();

// ---- patching -----------------------------------------------------------------------------------------

struct TPatchRecord {
  uintptr_t address = 0;
  std::string original;
  std::string replacement;
};
bool PatchBytes(void* address, const void* bytes, size_t count);
bool PatchJump(void* routine, const void* target);
bool Patch32(void* address, uint32_t value);
// Whether the memory at address is readable and holds these bytes (a patch already in place).
bool HoldsBytes(const void* address, const void* bytes, size_t count);
// Whether the routine (or the routine its import stub names) starts with a relative jump to target.
bool JumpsTo(void* routine, const void* target);
void UndoPatches();
size_t PatchCount();
// Replaces every import slot holding `oldAddress` in the module's import tables; returns the number.
int PatchImportTables(uintptr_t module, const void* oldAddress, const void* newAddress);
// Replaces a library routine in the import tables of every loaded module except the system's own.
int PatchImportedRoutine(const char* library, const char* routine, const void* replacement, void** original);
// The operand address of the first direct call (E8) in the analysed routine whose target is oldTarget; 0 when
// the routine makes no such call.
Address FindRelativeCall(const MemoryReader& memory, Address routine, Address oldTarget);
// Makes that call go to newTarget (a recorded patch of its operand); false when there is no such call.
bool PatchRelativeCall(void* routine, const void* oldTarget, const void* newTarget);

// ---- checksum of a program file -----------------------------------------------------------------------

// Offset of the checksum field in a PE file, false when the data is no PE file.
bool PeChecksumOffset(const uint8_t* data, size_t size, size_t& offset);
// 16-bit words with end-around carry, the checksum field left out, an odd last byte added, plus the length.
uint32_t ImageChecksum(const uint8_t* data, size_t size, size_t checksumOffset);
// The same over a file read in pieces: every piece but the last must have a length divisible by 4.
class ImageChecksummer {
 public:
  explicit ImageChecksummer(size_t checksumOffset) : skip_(checksumOffset) {}
  void Add(const uint8_t* data, size_t size);
  uint32_t Finish() const;

 private:
  size_t skip_;
  size_t offset_ = 0;
  uint64_t sum_ = 0;
};

// What a failed check of a module file's checksum at start leads to: the program file ends the process; a
// library's crash reporter stays disarmed and StartCrashReporter raises an RvxException.
enum class ChecksumOutcome { Passed, EndProcess, Disarm };
ChecksumOutcome ChecksumCheckOutcome(bool checksumOk, bool isProgramFile);
// The modules whose files are checked: the own module, then the settings' module when that is another one.
std::vector<uintptr_t> ModulesToChecksum(uintptr_t ownModule, uintptr_t settingsModule);

// ---- the framework's application object ---------------------------------------------------------------

// Hands the exception being handled in the current catch block to the pipeline.
void HandleCaughtException(uint8_t source, void* relatedObject, bool canContinue = true);
// Hands an exception object of a known type to the pipeline (not inside a catch block); a non-zero address
// is where it was raised.
void HandleExceptionObject(const void* object, const std::type_info& type, uint8_t source, void* relatedObject,
                           uintptr_t address = 0);
// Installs the application-object interceptions (framework adapter; links the framework). True only when
// every one of them is in place afterwards; false when the crash reporter is not armed or a patch failed.
bool InstallFrameworkHooks();

}  // namespace rvx
