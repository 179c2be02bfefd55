// Function analysis (every byte range of a compiled function, the calls that leave it, case and exception
// tables, exception handler blocks) and the disassembly listing of an analysed function.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "crash/stack/decoder.h"
#include "crash/stack/memory_reader.h"

namespace rvx {

struct CodeArea {
  Address start = 0;
  Address end = 0;  // last byte; 0 while the area has not been parsed
  uint8_t isCaseTable = 0;
  uint8_t isExceptionTable = 0;
  Address caller = 0;  // the instruction whose branch led here
  RegisterState registers;
};

struct FarCall {
  uint8_t isCall = 0;
  Address instructionStart = 0, nextInstruction = 0, target = 0;
  uint8_t targetIsRelative = 0;
  Address targetOperandAddress = 0, targetSlotAddress = 0;
};

struct UnresolvedBranch {
  uint8_t isCall = 0;
  Address instructionStart = 0, nextInstruction = 0;
};

struct CopyInfo {
  uint8_t valid = 1;
  uint32_t bufferSize = 0;
  uint32_t reserved1 = 0, reserved2 = 0;
  std::string errorText;
};

constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInvalidCode = 0x770001;

struct TFunctionInfo {
  uint8_t valid = 0;
  Address entryPoint = 0;
  Address codeBegin = 0;
  uint32_t codeLength = 0;
  Address lastErrorAddress = 0;
  uint32_t lastErrorNumber = 0;
  std::string lastErrorText;
  std::vector<CodeArea> codeAreas;
  std::vector<FarCall> farCalls;
  std::vector<UnresolvedBranch> unresolvedBranches;
  uint8_t patchable = 0;
  CopyInfo copyInfo;
};

// The runtime routines the analysis recognises by address (0 = not known).
struct RuntimeRoutines {
  Address handleAnyException = 0;
  Address handleOnException = 0;
  Address handleAutoException = 0;
  Address handleFinally = 0;
  Address halt = 0;
};

struct AnalysisOptions {
  RuntimeRoutines routines;
  // Extra entry points of the function, such as the C++ landing pads of its unwind information.
  std::vector<Address> landingPads;
  // Look the landing pads up in the module's unwind information (.eh_frame) when none are given.
  bool findLandingPads = true;
};

// The program's own runtime routines, used wherever a caller passes 0 for one of them.
void SetOwnRuntimeRoutines(const RuntimeRoutines& routines);
const RuntimeRoutines& OwnRuntimeRoutines();
// The given routines with the program's own ones in place of zeros.
RuntimeRoutines WithOwnRoutines(RuntimeRoutines routines);

// The code and data ranges of the module that holds an address (ends exclusive): from its PE headers, or
// without headers the memory region itself as code. False when the address is not committed memory.
struct ModuleRanges {
  Address codeStart = 0, codeEnd = 0;
  Address dataStart = 0, dataEnd = 0;  // empty when the headers name no data
  bool hasHeaders = false;
};
bool ModuleRangesAt(const MemoryReader& memory, Address address, ModuleRanges& out);

bool AnalyseFunction(const MemoryReader& memory, Address entry, const AnalysisOptions& options, TFunctionInfo& out);
inline bool AnalyseFunction(const MemoryReader& memory, Address entry, TFunctionInfo& out) {
  return AnalyseFunction(memory, entry, AnalysisOptions{}, out);
}

// The landing pads that the unwind information of the module at moduleBase gives for the function that
// contains address.
std::vector<Address> LandingPadsOf(const MemoryReader& memory, Address moduleBase, Address address);

// Every function range of the module's unwind information with its landing pads, sorted by start.
struct UnwindRange {
  Address begin = 0, end = 0;  // end exclusive
  std::vector<Address> pads;
};
std::vector<UnwindRange> UnwindRangesOf(const MemoryReader& memory, Address moduleBase);

// The listing of the function at entry; empty when the analysis fails. exceptionAddress marks the faulting
// instruction with ">"; lineLimit 0 = unlimited.
void DisassembleFunction(const MemoryReader& memory, Address entry, std::string& text, Address exceptionAddress,
                         TFunctionInfo& info, bool autoDelimiters, uint32_t lineLimit,
                         const AnalysisOptions& options = AnalysisOptions{});

#ifdef _WIN32
// The running process, read through the safe reader (with a snapshot when one is given).
bool AnalyseFunction(Address entry, const TDATryRead* snapshot, const RuntimeRoutines& routines, TFunctionInfo& out);
void DisassembleFunction(Address entry, std::string& text, Address exceptionAddress, TFunctionInfo& info,
                         bool autoDelimiters, uint32_t lineLimit);
#endif

// The minimal hex form of an address ("45a2b3").
std::string AddressTextOf(Address address);

}  // namespace rvx
