// The stack walker's working records: the process-wide module and function lists and the state of one walk.
// Only the walker's own source files include this header.
#pragma once
#include <map>
#include <set>

#include "crash/stack/decoder.h"
#include "crash/stack/stack_trace.h"

namespace rvx {

struct ModuleEntry {
  Address handle = 0;
  std::string fullName, fileName;  // file name with and without its folder
  ModuleRanges ranges;
  std::shared_ptr<const TMapFile> symbols;  // null when the module has no valid symbol data
  RuntimeRoutines routines;                 // the module's own runtime routines (other modules only)
  bool isMain = false;
  bool exportsLoaded = false, padsLoaded = false;
  std::vector<Address> exports;  // export entries and the entry point, sorted
  std::vector<UnwindRange> pads;
};

struct FunctionEntry {
  int module = -1;
  std::string name;
  TFunctionInfo info;
  bool approved = false;
  bool invalid = false;
  bool forced = false;  // a function of length 0 at an address that cannot be read
};

struct TStackWalker::Lists {
  std::vector<ModuleEntry> modules;
  std::map<Address, int> moduleByBase;
  std::vector<FunctionEntry> functions;
  std::map<Address, int> functionByEntry;
};

namespace walker_detail {

struct Link {
  int item = -1;  // the linked item, -1 = none
  Address code = 0;  // the call instruction
  bool hasTarget = false;
  Address target = 0;
  int function = -1;  // -1 = any function
  int64_t score = 0;  // 0 = not computed yet
};

struct LinkList {
  std::vector<Link> entries;
  int best = -1;
};

struct Item {
  Address address = 0;  // the return address; for the top item the end of the faulting instruction
  Address raw = 0;      // the candidate value itself
  Address slot = 0;     // the stack slot it came from, 0 when none
  bool certain = false, top = false, isTop = false, hidden = false;
  int module = -1;
  LinkList callees, callers;
  // output
  Address display = 0;
  std::string moduleName, unit, routine;
  int32_t line = 0;
  int32_t relLine = -1;
  Address routineStart = 0;
};

bool CallEndingAt(const MemoryReader& memory, Address at, Address end, InstructionInfo& info);

struct Explanation {
  bool known = false;
  Address code = 0;
  bool hasTarget = false;
  Address target = 0;
};

class WalkState {
 public:
  WalkState(TStackWalker::Lists& lists, const WalkerEnvironment& environment, const TraceOptions& options,
            TraceResult& out);

  // The phases, in order.
  void Collect();
  void RemoveRecursion(bool unlink);
  void DeepChecks();
  void SelectChains();
  void FillOutput();

  bool Aborted() const;
  void Progress(int position);
  bool Feed(Address v, Address slot, bool certainFlag, bool forcedTop);
  void BuildFrameChain(Address ebp, const std::vector<uint32_t>& stack);
  bool ReadStack(std::vector<uint32_t>& stack);
  int ModuleOf(Address address);

  TStackWalker::Lists& L;
  const WalkerEnvironment& env;
  const MemoryReader& mem;
  const TraceOptions& o;
  TraceResult& result;
  std::vector<Item> items;
  std::set<Address> frameSlots;
  Address current = 0, creator = 0, top = 0, bottom = 0;
  bool isException = false, external = false;
  bool readable = false;

 private:
  int AddModule(Address base);
  const std::vector<Address>& ExportsOf(int module);
  std::vector<Address> LandingPads(int module, Address entry);
  std::string RoutineNameAt(Address address, int module);
  int AddFunction(Address entry, int module, const std::string& name, bool approve, bool forced = false);
  void Approve(int function);
  void Invalidate(int function);
  bool InCodeAreas(const FunctionEntry& f, Address address) const;
  bool IsRaiseTarget(Address target);
  bool Explains(int function, const Item& item, Explanation& out);
  void Hide(int i, bool unlink);
  void Unlink(int i);
  int FirstApprovedCaller(const Item& item) const;
  void ConnectForward(int q, bool hasTarget, Address code, Address target, bool approve);
  bool HasLine(int item);
  int64_t Score(int f, int t, bool direct, int depth);
  void Select(int lo, int hi);

  std::map<Address, int> seenModules;  // per walk: module list index of an allocation base, -1 = none
  std::map<Address, bool> raiseTargets;
};

}  // namespace walker_detail
}  // namespace rvx
