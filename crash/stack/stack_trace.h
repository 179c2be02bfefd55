// The stack walker: turns the raw stack memory of a thread into the call stack a bug report shows.
//
// Every 32-bit value on the stack is a candidate return address (an EBP frame chain, where one exists, only
// marks some candidates as certain). Candidates must follow a call instruction inside a known function;
// candidates are then connected into caller/callee links by checking that each call can really reach the
// next function, competing chains are scored, and the best chain between the frames that are certain is
// kept. Repeated recursion blocks are removed. The result is aligned text, an array of items and checksums
// that identify the crash.
//
// Everything the walker needs from the process comes through a WalkerEnvironment (memory with region
// queries and module names, symbol data per module, the runtime's raise routines), so that tests and the
// fuzz target can hand it memory images and symbol data of their own.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crash/stack/function_analyser.h"
#include "crash/stack/map_file.h"
#include "crash/stack/memory_reader.h"

namespace rvx {

// One shown line of a call stack.
struct TStackItem {
  Address address = 0;     // code address shown
  uint32_t relAddress = 0;  // address - routine start when the start is known and below it, else 0
  std::string moduleName;   // file name without path, or "???"
  std::string unitName;
  uint32_t line = 0;     // absolute line when a relative line was computed, else 0
  uint32_t relLine = 0;  // line relative to the routine's first line when computed, else the absolute line
  std::string functionName;
};
using TStackTrace = std::vector<TStackItem>;  // innermost frame first

// A pre-collected candidate. The array's first element is a header whose address holds the candidate count.
#pragma pack(push, 1)
struct TPreStackItem {
  uint8_t certain = 0;
  Address address = 0;
};
#pragma pack(pop)
static_assert(sizeof(TPreStackItem) == 5, "packed candidate");
using TDAPreStackItem = std::vector<TPreStackItem>;

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

struct StackText {
  std::string text;
  uint32_t crcFirst = 0;     // value of the first line
  uint32_t crcCombined = 0;  // the first value continued over every further line's value
  bool hasLineNumbers = false;
};

// The aligned lines and checksums of shown stack lines (innermost first).
StackText FormatStackLines(const std::vector<StackLine>& lines, bool showRelAddrs, bool showRelLines);

// Whether the bytes before a candidate return address form a call that ends there.
bool IsAfterCallSite(const MemoryReader& memory, Address returnAddress);
// The start of the call instruction that ends at returnAddress; returnAddress itself when there is none.
Address CallSiteBefore(const MemoryReader& memory, Address returnAddress);

// What the walker sees of the process.
struct WalkerEnvironment {
  const MemoryReader* memory = nullptr;  // reads, region queries and module file names
  // Symbol data of the module at a base (with its full file name); null or not valid when there is none.
  std::function<std::shared_ptr<const TMapFile>(Address moduleBase, const std::string& fileName)> symbols;
  Address mainModule = 0;  // the program's own module
  // A return address inside the runtime routine that runs cleanup blocks, 0 when the runtime has none.
  Address finallyReturn = 0;
  // Entry points of the runtime's raise routines (beside the ones recognised by name).
  std::vector<Address> raiseRoutines;
  // Defaults for a trace without a current address, stack top or stack bottom.
  Address callerReturnAddress = 0, stackBase = 0, stackPointer = 0;
};

struct TraceOptions {
  bool hideUglyItems = false;
  bool showRelAddrs = true;
  bool showRelLines = true;
  bool noTopItem = false;
  const volatile bool* abort = nullptr;
  const TDAPreStackItem* candidates = nullptr;  // header element first; may be null or empty
  Address ebp = 0;
  std::function<void(int position)> progress;  // 0..1000
  Address creatorAddress = 0;  // the call instruction that created the thread
  Address stackTop = 0, stackBottom = 0;
  bool externalException = false;
  bool isException = false;
  Address currentAddress = 0;
  bool wantItems = true;  // fill TraceResult::items
  // The crash reporter's own plumbing (thread entry wrappers, fault guards) between the system and the
  // program's code is left out of the shown lines and their checksums, unless the innermost shown line is the
  // crash reporter's own code (a fault inside the crash reporter) or this asks to keep it.
  bool keepOwnPlumbing = false;
};

// Whether a routine name (as the walker shows it: parts joined by ".") is part of the crash reporter's
// plumbing that calls the program's code: a thread entry wrapper or a fault guard.
bool IsOwnPlumbing(const std::string& routine);
// Whether a routine name belongs to the crash reporter itself.
bool IsOwnRoutine(const std::string& routine);

struct TraceResult {
  std::string text;
  TStackTrace items;
  std::vector<std::string> minimalIds;  // module name + "|" + fingerprint
  bool hasLineNumbers = false;
  uint32_t crcFirst = 0, crcCombined = 0;
  Address exceptionFunctionAddress = 0, exceptionFunctionStart = 0;
  Address firstShownAddress = 0;
};

// The walker with its module and function lists, which later traces reuse.
class TStackWalker {
 public:
  explicit TStackWalker(WalkerEnvironment env);
  ~TStackWalker();
  TStackWalker(const TStackWalker&) = delete;
  TStackWalker& operator=(const TStackWalker&) = delete;

  TraceResult Trace(const TraceOptions& options);
  // The cheap part only: frame chain and call checks; fills `out` (header first), returns the count.
  int CollectCandidates(Address ebp, Address stackTop, Address stackBottom, TDAPreStackItem& out, bool isException,
                        Address currentAddress);
  // One line for one address: "0045a2b3 +1c contacts.exe Unit1 42 +2 TForm1.btnSaveClick".
  std::string LineText(Address address, bool showRelAddrs, bool showRelLines);

  const WalkerEnvironment& Environment() const { return env_; }
  WalkerEnvironment& Environment() { return env_; }
  size_t ModuleCount() const;
  size_t FunctionCount() const;

  struct Lists;  // the module and function lists (see the walker's sources)

 private:
  WalkerEnvironment env_;
  std::unique_ptr<Lists> lists_;
};

// ">> internal error in " + phase, and with an exception address ":\r\n" + its StackLineText.
std::string InternalErrorText(const std::string& phase, Address exceptionAddress = 0, bool showRelAddrs = true,
                              bool showRelLines = true);

// ---- the running process ------------------------------------------------------------------------------

// The process's walker (created on first use; its lists live until the end of the process). Only the thread
// that composes a bug report uses it.
TStackWalker& ProcessStackWalker();
TraceResult TraceStack(const TraceOptions& options);
int CollectStackCandidates(Address ebp, Address stackTop, Address stackBottom, TDAPreStackItem& out,
                           bool isException, Address currentAddress);
std::string StackLineText(Address address, bool showRelAddrs, bool showRelLines);

// Where the process's walker gets symbol data; null restores the default, the symbol data reader's
// process-wide cache (modules without symbol data give raw addresses and module names).
using SymbolSource = std::shared_ptr<const TMapFile> (*)(Address moduleBase, const std::string& fileName);
void SetSymbolSource(SymbolSource source);
// Registers the entry of a raise routine of the program (its call sites are shown as exception locations).
void AddRaiseRoutine(Address entry);

}  // namespace rvx
