// The threads of a report: which threads are listed, their titles, and the text of their call stacks, plus
// the "cpu registers" and "stack dump" sections of the crashed thread. The call stack of a thread comes from
// a stack text provider; until the stack walker is installed, a plain frame-pointer walk answers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rvx {

// The registers at an exception: the Win32 x86 CONTEXT without its extended registers (204 bytes).
struct TContext {
  uint32_t ContextFlags;
  uint32_t Dr0, Dr1, Dr2, Dr3, Dr6, Dr7;
  uint8_t FloatSave[112];
  uint32_t SegGs, SegFs, SegEs, SegDs;
  uint32_t Edi, Esi, Ebx, Edx, Ecx, Eax;
  uint32_t Ebp, Eip, SegCs, EFlags, Esp, SegSs;
};
static_assert(sizeof(TContext) == 204, "x86 context layout");

// One listed thread of a report.
struct TThreadStack {
  uint32_t threadId = 0;
  std::string title;
  uint32_t currentAddress = 0;  // the exception address for the exception thread
  bool isException = false;
  bool externalException = false;
  uint32_t stackBottom = 0, stackTop = 0;
  uint32_t creatorAddress = 0;
  uint32_t creatorThreadId = 0;
  uint32_t ebp = 0;
};

struct StackTextOptions {
  bool hideUglyItems = false;
  bool showRelAddrs = true;
  bool showRelLines = true;
  const volatile bool* abort = nullptr;
};

struct StackText {
  std::string text;
  uint32_t crcFirst = 0;     // value of the first line
  uint32_t crcCombined = 0;  // the first value continued over every further line's value
  bool hasLineNumbers = false;
};

// Reads memory of the process; false when the range is not readable.
using MemoryRead = std::function<bool(uint32_t address, void* out, uint32_t count)>;
// Module file name (without folder) of an address; empty when it belongs to no module.
using ModuleNameOf = std::function<std::string(uint32_t address)>;

// One shown stack line before formatting.
struct StackLine {
  uint32_t address = 0;
  uint32_t routineStart = 0;  // 0 when not known
  std::string module;         // "???" when not known
  std::string unit;
  std::string routine;
  uint32_t line = 0;
  int32_t relLine = -1;  // -1: no relative line
};

// The aligned lines and checksums of shown stack lines (innermost first).
StackText FormatStackLines(const std::vector<StackLine>& lines, const StackTextOptions& options);
// The plain frame-pointer walk: the current address, then the return address of every frame of the EBP
// chain inside [bottom, top), then the creator's call site.
std::vector<uint32_t> FramePointerWalk(uint32_t currentAddress, uint32_t ebp, uint32_t bottom, uint32_t top,
                                       const MemoryRead& read, uint32_t creatorAddress = 0);
StackText PlainStackText(const TThreadStack& thread, const StackTextOptions& options, const MemoryRead& read,
                         const ModuleNameOf& moduleOf);

// "eax = 00000000" ... nine lines.
std::string CpuRegistersText(const TContext& context);
// Up to 20 lines of 16 bytes from `address`; `available` bytes can be read before the region ends.
std::string StackDumpText(uint32_t address, const uint8_t* bytes, uint32_t available);

// The stack text provider of the process (the stack walker installs its own).
using StackTextProvider = StackText (*)(const TThreadStack& thread, const StackTextOptions& options);
void SetStackTextProvider(StackTextProvider provider);  // null: the plain walk
StackText ThreadStackText(const TThreadStack& thread, const StackTextOptions& options);

// One line for an address (module and offset, or "???").
std::string StackLineText(uint32_t address, bool showRelAddrs, bool showRelLines);
// ">> internal error in " + phase.
std::string InternalErrorText(const std::string& phase);

// ---- the running process (platform) -------------------------------------------------------------------

// Ids of the threads of this process.
std::vector<uint32_t> ListThreadIds();
struct ThreadStateInfo {
  uint32_t stackBottom = 0, stackTop = 0, ebp = 0, eip = 0;
  int priority = 0;
  bool suspended = false;
};
bool ThreadState(uint32_t threadId, ThreadStateInfo& state);
// The end of the memory region holding `address`, 0 when not committed.
uint32_t RegionEnd(uint32_t address);
// The end of the committed memory of the stack holding `address`, 0 when not committed.
uint32_t StackEnd(uint32_t address);
bool ReadProcessMemorySafe(uint32_t address, void* out, uint32_t count);
std::string ModuleNameOfAddress(uint32_t address);
uint32_t CurrentThreadId();

// ---- thread names -------------------------------------------------------------------------------------

// Creates or joins the process-wide thread-name buffer and names the main thread "main thread".
bool OpenThreadNameBuffer(uint32_t mainThreadId);
void CloseThreadNameBuffer();
uint32_t MainThreadId();
void SetMainThreadIdForNames(uint32_t id);
// Creates, updates or (empty name and no creator) removes a thread's entry.
void UpdateThreadEntry(uint32_t threadId, const std::string& name, uint32_t creatorThreadId = 0,
                       uint32_t creatorAddress = 0, const std::string& classText = {});
void RegisterThreadName(uint32_t threadId, const std::string& name);
// "name ($id)", "thread $id", or empty for the crash reporter's own threads unless included.
std::string ThreadTitle(uint32_t threadId, bool includeInternal, uint32_t* creatorAddress = nullptr,
                        uint32_t* creatorThreadId = nullptr);
// Whether the crash reporter's own threads are listed (set while the process is traced from outside).
void SetIncludeOwnThreads(bool include);
bool IncludeOwnThreads();

}  // namespace rvx
